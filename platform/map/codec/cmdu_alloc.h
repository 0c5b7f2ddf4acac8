// Allocation and release of CMDUs and an owning builder for senders and tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "map/cmdu.h"
#include "map/codec/tlvs.h"

// A CMDU with an empty (null-terminated) TLV list. CAPACITY is a hint only.
// Release with free_1905_CMDU_structure. The list of a CMDU is always a
// new[] array of count + 1 pointers, so a CMDU whose list was put together
// elsewhere must not be handed to free_1905_CMDU_structure.
CMDU* alloc_1905_CMDU_structure(uint16_t message_type, uint16_t message_id, size_t capacity = 4);

// Releases the CMDU, every record in its list and the list itself. Null is ignored.
void free_1905_CMDU_structure(CMDU* cmdu);

// Appends RECORD (a heap record from alloc_1905_TLV or the codec; the CMDU
// takes ownership) before the terminating null. False (and RECORD released)
// when the list already holds 65535 records or memory runs out.
bool append_1905_TLV(CMDU* cmdu, uint8_t* record);

// Replaces the CMDU's list (records released) by RECORDS, taking ownership of
// them. False (and RECORDS released) when memory runs out.
bool set_1905_TLV_list(CMDU* cmdu, const std::vector<uint8_t*>& records);

// Number of records in the CMDU's list.
size_t count_1905_TLVs(const CMDU* cmdu);

struct CmduDeleter {
    void operator()(CMDU* c) const { free_1905_CMDU_structure(c); }
};
// Owning pointer to a CMDU; the codec returns decoded CMDUs this way.
using CmduPtr = std::unique_ptr<CMDU, CmduDeleter>;

// Builds a CMDU record by record:
//     CmduPtr c = CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, mid).add(al_mac_address_tlv{...}).build();
// or keeps a reference to a record while filling it:
//     CmduBuilder b(CMDU_TYPE_AP_METRICS_QUERY, mid);
//     auto& q = b.add<ap_metric_query_tlv>();
//     q.bssids.push_back(bssid);
class CmduBuilder {
  public:
    CmduBuilder(uint16_t message_type, uint16_t message_id)
        : cmdu_(alloc_1905_CMDU_structure(message_type, message_id)) {}

    CmduBuilder& relay(bool on) {
        cmdu_->relay_indicator = on ? 1 : 0;
        return *this;
    }
    CmduBuilder& source(const MAC& al_mac) {
        cmdu_->src_al_mac = al_mac;
        return *this;
    }

    // Appends a copy of RECORD; returns the builder.
    template <class T>
    CmduBuilder& add(T record) {
        append_1905_TLV(cmdu_.get(), alloc_1905_TLV(std::move(record)));
        return *this;
    }
    // Appends a default record and returns it for filling (valid until build()).
    template <class T>
    T& add() {
        uint8_t* p = alloc_1905_TLV(T{});
        append_1905_TLV(cmdu_.get(), p);
        return *reinterpret_cast<T*>(p);
    }

    CMDU* get() { return cmdu_.get(); }
    // Hands the finished CMDU over; the builder is empty afterwards.
    CmduPtr build() { return std::move(cmdu_); }

  private:
    CmduPtr cmdu_;
};
