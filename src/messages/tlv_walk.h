// The walk every decoder makes over a CMDU's TLV list:
//     for (TlvWalk w(cmdu); w.next();) switch (w.type()) { ... w.as<ap_metrics_tlv>() ... }
// It visits the records in order with an 8-bit position, stops at the first
// null entry and never goes past the 255th record.
#pragma once

#include <cstdint>

#include "map/cmdu.h"
#include "map/codec/tlvs.h"

class TlvWalk {
  public:
    static constexpr unsigned kMaxTlvs = 255;

    explicit TlvWalk(const CMDU* cmdu) : list_(cmdu ? cmdu->list_of_TLVs : nullptr) {}

    bool next() {
        if (!list_ || done_)
            return false;
        cur_ = list_[pos_];
        if (!cur_) {
            done_ = true;
            return false;
        }
        if (pos_ == kMaxTlvs - 1)
            done_ = true;  // this one is the last the 8-bit position reaches
        else
            ++pos_;
        return true;
    }
    uint8_t type() const { return *cur_; }
    // The current record as T; only called after type() matched T's TLV type.
    template <class T>
    const T& as() const {
        return *reinterpret_cast<const T*>(cur_);
    }

  private:
    uint8_t** list_;
    uint8_t* cur_ = nullptr;
    uint8_t pos_ = 0;
    bool done_ = false;
};
