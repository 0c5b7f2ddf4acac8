// Encoding and decoding of the HKT TLVs (layouts in hkt_layout.h).
#include <arpa/inet.h>

#include <new>

#include "map/hkt/hkt_layout.h"

namespace {

// A locally administered identifier (no registered company): the maker's extenders and
// this controller agree on it.
const uint8_t kHktOui[3] = {0x02, 0x6F, 0x7A};

template <class T>
bool forge_record(const void* rec, std::vector<uint8_t>& value) {
    map_codec::Writer w(value);
    return hkt_codec::visit(w, *const_cast<T*>(static_cast<const T*>(rec)));
}

template <class T>
void* parse_record(const uint8_t* p, size_t n) {
    T* rec = new (std::nothrow) T();
    if (!rec)
        return nullptr;
    map_codec::Reader r(p, n);
    if (!hkt_codec::visit(r, *rec) || !r.at_end()) {
        delete rec;
        return nullptr;
    }
    return rec;
}

}  // namespace

namespace {
void free_record(uint8_t type, void* rec) {
    switch (type) {
#define OZR_HKT_FREE(TYPE, REC)        \
    case TYPE:                         \
        delete static_cast<REC*>(rec); \
        return;
        OZR_FOR_EACH_HKT_TLV(OZR_HKT_FREE)
#undef OZR_HKT_FREE
        default:
            delete static_cast<hkt_raw_tlv*>(rec);
            return;
    }
}
}  // namespace

const uint8_t* hkt_get_vendor_oui() {
    return kHktOui;
}

bool forge_hkt_message_from_structure(const hktMessage* msg, std::vector<uint8_t>& out) {
    if (!msg || !msg->tlv)
        return false;
    std::vector<uint8_t> value;
    // Room for the usual record up front: GCC 12 at -O3 otherwise reports the first
    // growth of the empty vector as a copy into a zero-size region.
    value.reserve(64);
    bool ok = false;
    switch (msg->tlv_type) {
#define OZR_HKT_FORGE(TYPE, REC)                 \
    case TYPE:                                   \
        ok = forge_record<REC>(msg->tlv, value); \
        break;
        OZR_FOR_EACH_HKT_TLV(OZR_HKT_FORGE)
#undef OZR_HKT_FORGE
        default:
            ok = forge_record<hkt_raw_tlv>(msg->tlv, value);
            break;
    }
    if (!ok || value.size() > HKT_MAX_VALUE)
        return false;
    out.push_back(msg->tlv_type);
    out.push_back(static_cast<uint8_t>(value.size() >> 8));
    out.push_back(static_cast<uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
    return true;
}

hktMessage* parse_hkt_message_from_packet(const uint8_t* payload, size_t len) {
    if (!payload || len < 3)
        return nullptr;
    const uint8_t type = payload[0];
    const size_t vlen = (size_t(payload[1]) << 8) | payload[2];
    if (vlen != len - 3)
        return nullptr;
    const uint8_t* v = payload + 3;
    void* rec = nullptr;
    switch (type) {
#define OZR_HKT_PARSE(TYPE, REC)          \
    case TYPE:                            \
        rec = parse_record<REC>(v, vlen); \
        break;
        OZR_FOR_EACH_HKT_TLV(OZR_HKT_PARSE)
#undef OZR_HKT_PARSE
        default:
            rec = parse_record<hkt_raw_tlv>(v, vlen);
            break;
    }
    if (!rec)
        return nullptr;
    hktMessage* m = new (std::nothrow) hktMessage;
    if (!m) {
        free_record(type, rec);
        return nullptr;
    }
    m->tlv_type = type;
    m->tlv = rec;
    return m;
}

void free_hkt_message_structure(hktMessage* msg) {
    if (!msg)
        return;
    if (msg->tlv)
        free_record(msg->tlv_type, msg->tlv);
    delete msg;
}

bool forge_hkt_vendor_tlv(const hktMessage* msg, vendor_specific_tlv& out) {
    std::vector<uint8_t> payload;
    if (!forge_hkt_message_from_structure(msg, payload))
        return false;
    out = vendor_specific_tlv{};
    out.vendor_oui[0] = kHktOui[0];
    out.vendor_oui[1] = kHktOui[1];
    out.vendor_oui[2] = kHktOui[2];
    out.payload = std::move(payload);
    return true;
}

const char* hkt_tlv_type_to_string(uint8_t type) {
    switch (type) {
#define OZR_HKT_NAME(TYPE, REC) \
    case TYPE:                  \
        return #TYPE;
        OZR_FOR_EACH_HKT_TLV(OZR_HKT_NAME)
#undef OZR_HKT_NAME
    }
    return "HKT_TLV_UNKNOWN";
}

std::string hkt_ipv4_to_string(const uint8_t ipv4[4]) {
    char buf[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, ipv4, buf, sizeof buf))
        return "";
    return buf;
}

std::string hkt_ipv6_to_string(const HktIpv6& ipv6) {
    char buf[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET6, ipv6.addr, buf, sizeof buf))
        return "";
    return buf;
}

bool hkt_ipv4_from_string(const std::string& text, uint8_t out[4]) {
    return inet_pton(AF_INET, text.c_str(), out) == 1;
}

bool hkt_ipv6_from_string(const std::string& text, HktIpv6& out) {
    return inet_pton(AF_INET6, text.c_str(), out.addr) == 1;
}
