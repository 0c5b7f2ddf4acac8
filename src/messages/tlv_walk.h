// The one walk over a CMDU's TLV list. A decoder gives a table of the TLV types it takes,
// each with the rule that reads it into the decoder's state; the walk hands every record to
// its rule and logs the ones no rule names:
//
//     const TlvRule<Topology> kRules[] = {
//         {TLV_TYPE_DEVICE_INFORMATION_TYPE, [](Topology& s, const TlvWalk& w) { ... }},
//         {TLV_TYPE_VENDOR_SPECIFIC, nullptr},  // taken, nothing read, no line
//     };
//     walk_tlvs(cmdu, __func__, Unexpected::kPlain, kRules, state);
//
// It visits the records in order with an 8-bit position, stops at the first null entry and
// never goes past the 255th record. A rule logs on behalf of its decoder with OZR_LOG_AS
// and w.decoder(), so that its lines read as the decoder's own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/log.h"
#include "map/cmdu.h"
#include "map/codec/tlvs.h"
#include "messages/messages.h"

class TlvWalk {
  public:
    static constexpr unsigned kMaxTlvs = 255;

    explicit TlvWalk(const CMDU* cmdu, const char* decoder = "")
        : list_(cmdu ? cmdu->list_of_TLVs : nullptr),
          decoder_(decoder),
          message_id_(cmdu ? cmdu->message_id : 0) {}

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
    // The decoder under way (the first field of its lines) and the CMDU's message id.
    const char* decoder() const { return decoder_; }
    unsigned message_id() const { return message_id_; }

  private:
    uint8_t** list_;
    uint8_t* cur_ = nullptr;
    uint8_t pos_ = 0;
    bool done_ = false;
    const char* decoder_;
    unsigned message_id_;
};

// One TLV type a decoder takes: APPLY reads the current record into the decoder's state S;
// a null APPLY takes the type without reading it or logging a line.
template <class S>
struct TlvRule {
    uint8_t type;
    void (*apply)(S& state, const TlvWalk& w);
};

// The info line of a TLV that no rule names, the decoder's name first.
enum class Unexpected : uint8_t {
    kSilent,        // none
    kPlain,         // "{} received unexpected {} ({})"
    kMessageId,     // "{} received unexpected {} ({}) message id {}"
    kMessageIdDot,  // "{} received unexpected {} ({}). message id {}"
};
void log_unexpected_tlv(const TlvWalk& w, Unexpected how);

// Hands every TLV of CMDU to the first rule of RULES for its type, in CMDU order; a TLV no
// rule names is logged as UNEXPECTED says, on behalf of DECODER.
template <class S, size_t N>
void walk_tlvs(const CMDU* cmdu, const char* decoder, Unexpected unexpected,
               const TlvRule<S> (&rules)[N], S& state) {
    for (TlvWalk w(cmdu, decoder); w.next();) {
        const TlvRule<S>* rule = nullptr;
        for (const TlvRule<S>& r : rules) {
            if (r.type == w.type()) {
                rule = &r;
                break;
            }
        }
        if (!rule)
            log_unexpected_tlv(w, unexpected);
        else if (rule->apply)
            rule->apply(state, w);
    }
}

// The rule of the Error Code TLV, which several responses carry: the last one is kept.
template <class M>
void take_error_code(M& m, const TlvWalk& w) {
    if (m.error_code)
        OZR_LOG_AS(root_logger, 4, w.decoder(),
                   "{} received TLV_TYPE_ERROR multiple times message id {}", w.decoder(),
                   w.message_id());
    const auto& t = w.as<error_code_tlv>();
    ErrorCodeTLV e;
    e.reason_code = t.reason_code;
    e.sta = t.sta_mac;
    m.error_code = e;
}
