// A 1905 CMDU as the Multi-AP stack hands it to the daemon: the header fields
// and a null-terminated list of decoded TLV records. Every record is a
// standard-layout struct whose first member is its 8-bit TLV type, so a reader
// looks at *list_of_TLVs[i] to know what the record is.
#pragma once

#include <cstdint>

#include "common/mac.h"

struct CMDU {
    uint8_t message_version = 0;
    uint16_t message_type = 0;
    uint16_t message_id = 0;
    uint8_t relay_indicator = 0;
    MAC src_al_mac;               // the sender's AL MAC address
    char interface_name[16] = {};  // the interface it arrived on ("" for local)
    uint8_t** list_of_TLVs = nullptr;  // null-terminated; owned by the CMDU
};
