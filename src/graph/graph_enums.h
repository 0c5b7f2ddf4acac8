// Enumerations of the topology graph and their fixed texts.
#pragma once

#include <cstdint>
#include <string>

// The medium of a link or of a device's uplink.
enum class Medium : uint8_t {
    ETHERNET = 0,
    WIFI_2G = 1,
    WIFI_5G_LOW = 2,
    WIFI_5G_HIGH = 3,
    WIFI_5G = 4,
    WIFI = 5,  // Wi-Fi of an unknown band
    UNKNOWN = 255,
};

// True for the Wi-Fi media (WIFI_2G .. WIFI).
bool is_wifi_medium(Medium m);

enum class backhaul_quality : uint8_t { BAD = 0, NORMAL = 1, GOOD = 2 };

enum class wifi_system_type : uint8_t { ONLY_2G = 0, ONLY_5G = 1, DUAL_BAND = 2, TRI_BAND = 3 };

// Steering category of a client station.
enum class sta_categories : uint8_t {
    INVALID = 0,
    CONTROLLED_STEERING_CLASS1 = 1,
    CONTROLLED_STEERING_CLASS2 = 2,
    ASSISTED_ROAMING = 3,
    FREE_ROAMING = 4,
    CAT5 = 5,
};

std::string medium_to_string(Medium m);
std::string backhaul_quality_to_string(backhaul_quality q);
std::string wifi_system_type_to_string(wifi_system_type t);
std::string wifi_standard_to_string(unsigned char standard);
std::string sta_category_to_string(sta_categories c);

// Short medium word of link log lines ("wifi-2.4", "wifi-5l", ...).
const char* medium_short_word(Medium m);
// Text of an IEEE 1905.1 interface media type in device dumps.
std::string media_type_to_string(uint16_t media_type);
// Text of an IEEE 802.11 interface role (the 4-bit role of the media-specific
// information, as the stack delivers it: 0x4 non-AP STA ... 0xA PCP) in device dumps.
std::string interface_role_to_string(uint8_t role);
