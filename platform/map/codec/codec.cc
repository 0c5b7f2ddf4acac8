#include "map/codec/codec.h"

#include <cinttypes>
#include <cstdio>
#include <new>

#include "common/clock.h"
#include "map/codec/tlv_layout.h"
#include "map/map_log.h"

namespace {

constexpr int kLogWarning = 4;

using map_codec::Reader;
using map_codec::Writer;

// Prints every field a layout visits; lists as [..], scopes as {..}.
class Dumper {
  public:
    explicit Dumper(std::string& s) : s_(s) {}

    bool u8(const uint8_t& v) { return num(v); }
    bool u16(const uint16_t& v) { return num(v); }
    bool u24(const uint32_t& v) { return num(v); }
    bool u32(const uint32_t& v) { return num(v); }
    bool mac(const MAC& m) {
        s_ += m.to_string();
        s_ += ' ';
        return true;
    }
    bool fixed(const uint8_t* p, size_t n) { return hex(p, n); }
    template <class... B>
    bool flags(B... b) {
        s_ += '<';
        (num(static_cast<unsigned>(*b.v)), ...);
        s_ += "> ";
        return true;
    }
    template <class C, class V, class F>
    bool counted(const C& count, const V& vec, size_t, F&& fn) {
        num(count);
        return list(vec, fn);
    }
    template <class V, class F>
    bool rest(const V& vec, size_t, F&& fn) {
        return list(vec, fn);
    }
    bool rest_bytes(const std::vector<uint8_t>& v) { return hex(v.data(), v.size()); }
    bool bytes(const std::vector<uint8_t>& v, size_t) { return rest_bytes(v); }
    bool lbytes8(const uint8_t& len, const uint8_t* p, size_t cap) {
        return hex(p, len <= cap ? len : cap);
    }
    bool str8(const std::string& s) {
        s_ += '"';
        s_ += s;
        s_ += "\" ";
        return true;
    }
    template <class F>
    bool scope8(F&& fn) {
        s_ += "{ ";
        fn();
        s_ += "} ";
        return true;
    }
    template <class F>
    bool tail(const uint8_t& present, F&& fn) {
        if (present)
            fn();
        return true;
    }

  private:
    template <class T>
    bool num(T v) {
        s_ += std::to_string(static_cast<unsigned long>(v));
        s_ += ' ';
        return true;
    }
    bool hex(const uint8_t* p, size_t n) {
        static const char* d = "0123456789abcdef";
        s_ += 'x';
        for (size_t i = 0; i < n; ++i) {
            s_ += d[p[i] >> 4];
            s_ += d[p[i] & 15];
        }
        s_ += ' ';
        return true;
    }
    template <class V, class F>
    bool list(const V& vec, F& fn) {
        s_ += "[ ";
        for (auto& e : vec)
            fn(const_cast<typename V::value_type&>(e));
        s_ += "] ";
        return true;
    }
    std::string& s_;
};

// Per-type codec entry points, instantiated from the layouts.
template <class T>
bool encode_value(const uint8_t* rec, std::vector<uint8_t>& out) {
    Writer w(out);
    return map_codec::visit(w, *const_cast<T*>(reinterpret_cast<const T*>(rec)));
}

template <class T>
uint8_t* decode_value(uint8_t type, const uint8_t* value, size_t len) {
    T* rec = new (std::nothrow) T;
    if (!rec)
        return nullptr;
    rec->tlv_type = type;
    Reader r(value, len);
    if (!map_codec::visit(r, *rec) || !r.at_end()) {
        delete rec;
        return nullptr;
    }
    return reinterpret_cast<uint8_t*>(rec);
}

template <class T>
void dump_value(const uint8_t* rec, std::string& s) {
    Dumper d(s);
    map_codec::visit(d, *const_cast<T*>(reinterpret_cast<const T*>(rec)));
}

struct CodecEntry {
    bool (*encode)(const uint8_t*, std::vector<uint8_t>&);
    uint8_t* (*decode)(uint8_t, const uint8_t*, size_t);
    void (*dump)(const uint8_t*, std::string&);
};

struct CodecTable {
    CodecEntry e[256];
    CodecTable() {
        for (auto& x : e) {
            x = {&encode_value<unknown_tlv>, &decode_value<unknown_tlv>, &dump_value<unknown_tlv>};
        }
#define OZR_SET_CODEC(TYPE, REC) \
    e[TYPE] = {&encode_value<REC>, &decode_value<REC>, &dump_value<REC>};
        OZR_FOR_EACH_TLV(OZR_SET_CODEC)
#undef OZR_SET_CODEC
    }
};

const CodecTable& codecs() {
    static const CodecTable table;
    return table;
}

void put_header(std::vector<uint8_t>& out, const CMDU& c, uint8_t fragment_id, bool last) {
    out.push_back(c.message_version);
    out.push_back(0);  // reserved
    out.push_back(uint8_t(c.message_type >> 8));
    out.push_back(uint8_t(c.message_type));
    out.push_back(uint8_t(c.message_id >> 8));
    out.push_back(uint8_t(c.message_id));
    out.push_back(fragment_id);
    out.push_back(
        uint8_t((last ? CMDU_FLAG_LAST_FRAGMENT : 0) | (c.relay_indicator ? CMDU_FLAG_RELAY : 0)));
}

// Walks the TLVs of one fragment's body. On success TLVS_LEN is the length of
// the TLV bytes before End of Message (or the whole body when none) and EOM
// tells whether End of Message was found. False when a TLV runs past the body.
bool split_tlvs(const uint8_t* body, size_t len, size_t& tlvs_len, bool& eom) {
    size_t at = 0;
    eom = false;
    while (at < len) {
        if (len - at < TLV_HEADER_LEN)
            return false;
        uint8_t type = body[at];
        size_t n = (size_t(body[at + 1]) << 8) | body[at + 2];
        if (len - at - TLV_HEADER_LEN < n)
            return false;
        if (type == TLV_TYPE_END_OF_MESSAGE) {
            if (n != 0)
                return false;
            eom = true;
            break;
        }
        at += TLV_HEADER_LEN + n;
    }
    tlvs_len = at;
    return true;
}

void log_reject(const cmdu_header& h, const MAC* src, const char* what, uint8_t tlv_type,
                size_t tlv_len, size_t offset) {
    map_log(MAP_LOG_IEEE1905, kLogWarning,
            "CMDU %s (0x%04x) mid %u from %s dropped: %s %s (%u) length %zu at offset %zu",
            convert_1905_CMDU_type_to_string(h.message_type), h.message_type, h.message_id,
            src ? src->to_string().c_str() : "local", what,
            convert_1905_TLV_type_to_string(tlv_type), tlv_type, tlv_len, offset);
}

// Decodes a TLV stream (no End of Message) into records.
CmduPtr decode_tlv_stream(const cmdu_header& h, const uint8_t* p, size_t len, const MAC* src) {
    std::vector<uint8_t*> records;
    records.reserve(len / 12 + 1);
    size_t at = 0;
    while (at < len) {
        uint8_t type = p[at];
        size_t n = (size_t(p[at + 1]) << 8) | p[at + 2];  // bounds checked by split_tlvs
        uint8_t* rec = decode_1905_TLV(type, p + at + TLV_HEADER_LEN, n);
        if (!rec) {
            for (uint8_t* r : records)
                free_1905_TLV_structure(r);
            log_reject(h, src, "malformed TLV", type, n, CMDU_HEADER_LEN + at);
            return nullptr;
        }
        records.push_back(rec);
        at += TLV_HEADER_LEN + n;
    }
    CmduPtr c(alloc_1905_CMDU_structure(h.message_type, h.message_id));
    c->message_version = h.message_version;
    c->relay_indicator = h.relay_indicator ? 1 : 0;
    if (src)
        c->src_al_mac = *src;
    if (!set_1905_TLV_list(c.get(), records))
        return nullptr;
    return c;
}

}  // namespace

const MAC IEEE1905_MULTICAST_ADDRESS(0x01, 0x80, 0xc2, 0x00, 0x00, 0x13);

bool parse_1905_CMDU_header(const uint8_t* p, size_t len, cmdu_header& out) {
    if (!p || len < CMDU_HEADER_LEN)
        return false;
    out.message_version = p[0];
    out.message_type = uint16_t((p[2] << 8) | p[3]);
    out.message_id = uint16_t((p[4] << 8) | p[5]);
    out.fragment_id = p[6];
    out.last_fragment = (p[7] & CMDU_FLAG_LAST_FRAGMENT) != 0;
    out.relay_indicator = (p[7] & CMDU_FLAG_RELAY) != 0;
    return true;
}

bool encode_1905_TLV(const uint8_t* record, std::vector<uint8_t>& out) {
    if (!record)
        return false;
    size_t start = out.size();
    out.push_back(*record);
    out.push_back(0);
    out.push_back(0);
    if (!codecs().e[*record].encode(record, out)) {
        out.resize(start);
        return false;
    }
    size_t n = out.size() - start - TLV_HEADER_LEN;
    if (n > 0xFFFF) {
        out.resize(start);
        return false;
    }
    out[start + 1] = uint8_t(n >> 8);
    out[start + 2] = uint8_t(n);
    return true;
}

uint8_t* decode_1905_TLV(uint8_t tlv_type, const uint8_t* value, size_t len) {
    if (!value && len)
        return nullptr;
    static const uint8_t empty = 0;
    return codecs().e[tlv_type].decode(tlv_type, value ? value : &empty, len);
}

std::string dump_1905_TLV(const uint8_t* record) {
    std::string s;
    if (!record)
        return s;
    s = convert_1905_TLV_type_to_string(*record);
    s += ' ';
    codecs().e[*record].dump(record, s);
    return s;
}

bool encode_1905_CMDU(const CMDU& cmdu, std::vector<std::vector<uint8_t>>& fragments,
                      size_t max_payload) {
    fragments.clear();
    const size_t eom_len = TLV_HEADER_LEN;
    if (max_payload < CMDU_HEADER_LEN + eom_len)
        return false;
    const size_t room = max_payload - CMDU_HEADER_LEN;

    // Encode every TLV once, remembering where each one starts.
    std::vector<uint8_t> stream;
    std::vector<size_t> starts;
    bool oversized = false;
    if (cmdu.list_of_TLVs) {
        for (uint8_t** p = cmdu.list_of_TLVs; *p; ++p) {
            if (**p == TLV_TYPE_END_OF_MESSAGE)
                continue;  // appended below
            size_t at = stream.size();
            if (!encode_1905_TLV(*p, stream)) {
                map_log(MAP_LOG_IEEE1905, kLogWarning,
                        "CMDU %s (0x%04x) mid %u not sent: %s (%u) does not encode",
                        convert_1905_CMDU_type_to_string(cmdu.message_type), cmdu.message_type,
                        cmdu.message_id, convert_1905_TLV_type_to_string(**p), **p);
                return false;
            }
            starts.push_back(at);
            if (stream.size() - at + eom_len > room)
                oversized = true;
        }
    }
    starts.push_back(stream.size());
    stream.insert(stream.end(), {0, 0, 0});  // End of Message

    // Cut points: at TLV boundaries, each fragment as full as possible and the
    // End of Message kept with the TLV before it. A TLV that cannot fit one
    // fragment on its own forces plain byte cuts for the whole message, which
    // receivers undo by concatenating the fragments.
    std::vector<size_t> cuts;  // fragment start offsets in STREAM
    cuts.push_back(0);
    if (oversized) {
        for (size_t at = room; at < stream.size(); at += room)
            cuts.push_back(at);
    } else {
        // starts[k]..starts[k+1] is TLV k; the last TLV carries End of Message.
        const size_t n = starts.size() - 1;
        size_t begin = 0;
        for (size_t k = 1; k < n; ++k) {
            size_t end = k + 1 < n ? starts[k + 1] : stream.size();
            if (end - begin > room) {
                begin = starts[k];
                cuts.push_back(begin);
            }
        }
    }
    if (cuts.size() > 256) {
        map_log(MAP_LOG_IEEE1905, kLogWarning,
                "CMDU %s (0x%04x) mid %u not sent: %zu bytes need over 256 fragments",
                convert_1905_CMDU_type_to_string(cmdu.message_type), cmdu.message_type,
                cmdu.message_id, stream.size());
        return false;
    }
    for (size_t i = 0; i < cuts.size(); ++i) {
        size_t end = i + 1 < cuts.size() ? cuts[i + 1] : stream.size();
        std::vector<uint8_t> f;
        f.reserve(CMDU_HEADER_LEN + end - cuts[i]);
        put_header(f, cmdu, static_cast<uint8_t>(i), i + 1 == cuts.size());
        f.insert(f.end(), stream.begin() + cuts[i], stream.begin() + end);
        fragments.push_back(std::move(f));
    }
    return true;
}

namespace {

// Decodes a CMDU body (TLVs closed by End of Message, padding after it ignored).
CmduPtr decode_body(const cmdu_header& h, const uint8_t* body, size_t body_len, const MAC* src) {
    size_t tlvs_len = 0;
    bool eom = false;
    if (!split_tlvs(body, body_len, tlvs_len, eom) || !eom) {
        bool truncated = tlvs_len < body_len;
        log_reject(h, src, truncated ? "truncated TLV" : "no End of Message after",
                   truncated ? body[tlvs_len] : 0, body_len - tlvs_len, CMDU_HEADER_LEN + tlvs_len);
        return nullptr;
    }
    return decode_tlv_stream(h, body, tlvs_len, src);
}

}  // namespace

CmduPtr decode_1905_CMDU(const uint8_t* payload, size_t len, const MAC* src) {
    cmdu_header h;
    if (!parse_1905_CMDU_header(payload, len, h)) {
        map_log(MAP_LOG_IEEE1905, kLogWarning, "CMDU from %s dropped: %zu bytes, no header",
                src ? src->to_string().c_str() : "local", len);
        return nullptr;
    }
    return decode_body(h, payload + CMDU_HEADER_LEN, len - CMDU_HEADER_LEN, src);
}

// ---- Reassembly ---------------------------------------------------------------

void CmduReassembler::drop(std::map<Key, Pending>::iterator it) {
    bytes_ -= it->second.bytes;
    pending_.erase(it);
}

void CmduReassembler::expire() {
    long long now = get_current_time_ms();
    for (auto it = pending_.begin(); it != pending_.end();) {
        auto next = std::next(it);
        if (now - it->second.first_ms >= limits_.timeout_ms) {
            map_log(MAP_LOG_IEEE1905, kLogWarning,
                    "CMDU %s (0x%04x) mid %u from %s dropped: fragments timed out",
                    convert_1905_CMDU_type_to_string(it->second.message_type),
                    it->second.message_type, std::get<1>(it->first),
                    std::get<0>(it->first).to_string().c_str());
            drop(it);
        }
        it = next;
    }
}

void CmduReassembler::make_room(size_t incoming, const Key* keep) {
    for (;;) {
        bool over_count = !keep && pending_.size() >= limits_.max_messages;
        bool over_bytes = bytes_ + incoming > limits_.max_bytes;
        if (!over_count && !over_bytes)
            return;
        auto oldest = pending_.end();
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (keep && it->first == *keep)
                continue;
            if (oldest == pending_.end() || it->second.first_ms < oldest->second.first_ms) {
                oldest = it;
            }
        }
        if (oldest == pending_.end())
            return;
        map_log(MAP_LOG_IEEE1905, kLogWarning,
                "CMDU %s (0x%04x) mid %u from %s dropped: reassembly buffer full",
                convert_1905_CMDU_type_to_string(oldest->second.message_type),
                oldest->second.message_type, std::get<1>(oldest->first),
                std::get<0>(oldest->first).to_string().c_str());
        drop(oldest);
    }
}

CmduPtr CmduReassembler::feed(const MAC& src, const uint8_t* payload, size_t len) {
    expire();
    cmdu_header h;
    if (!parse_1905_CMDU_header(payload, len, h)) {
        map_log(MAP_LOG_IEEE1905, kLogWarning, "CMDU from %s dropped: %zu bytes, no header",
                src.to_string().c_str(), len);
        return nullptr;
    }
    Key key(src, h.message_id);
    auto it = pending_.find(key);
    if (h.fragment_id == 0 && h.last_fragment && it == pending_.end()) {
        return decode_1905_CMDU(payload, len, &src);
    }

    // Fragments are joined by concatenation; only the last one carries End of
    // Message (fragments may be cut inside a TLV, so nothing else is stripped).
    const uint8_t* body = payload + CMDU_HEADER_LEN;
    size_t tlvs_len = len - CMDU_HEADER_LEN;
    if (tlvs_len > limits_.max_bytes || h.fragment_id >= limits_.max_fragments) {
        log_reject(h, &src, "oversized fragmented message at", 0, tlvs_len, 0);
        if (it != pending_.end())
            drop(it);
        return nullptr;
    }
    if (it != pending_.end() && (it->second.message_type != h.message_type)) {
        log_reject(h, &src, "fragment of another message type at", 0, tlvs_len, 0);
        drop(it);
        return nullptr;
    }
    if (it == pending_.end()) {
        make_room(tlvs_len, nullptr);
        Pending p;
        p.message_type = h.message_type;
        p.message_version = h.message_version;
        p.relay = h.relay_indicator;
        p.first_ms = get_current_time_ms();
        it = pending_.emplace(key, std::move(p)).first;
    } else if (it->second.fragments.count(h.fragment_id)) {
        return nullptr;  // repeated fragment
    } else {
        make_room(tlvs_len, &key);
        if (bytes_ + tlvs_len > limits_.max_bytes) {
            log_reject(h, &src, "reassembly buffer full at", 0, tlvs_len, 0);
            drop(it);
            return nullptr;
        }
    }
    Pending& p = it->second;
    if (h.last_fragment) {
        if (p.last_id >= 0 ||
            (!p.fragments.empty() && p.fragments.rbegin()->first > h.fragment_id)) {
            log_reject(h, &src, "inconsistent fragments at", 0, tlvs_len, 0);
            drop(it);
            return nullptr;
        }
        p.last_id = h.fragment_id;
    } else if (p.last_id >= 0 && h.fragment_id > p.last_id) {
        log_reject(h, &src, "fragment after the last one at", 0, tlvs_len, 0);
        drop(it);
        return nullptr;
    }
    p.fragments.emplace(h.fragment_id, std::vector<uint8_t>(body, body + tlvs_len));
    p.bytes += tlvs_len;
    bytes_ += tlvs_len;
    if (p.last_id < 0 || p.fragments.size() != static_cast<size_t>(p.last_id) + 1)
        return nullptr;

    std::vector<uint8_t> all;
    all.reserve(p.bytes);
    for (auto& f : p.fragments)
        all.insert(all.end(), f.second.begin(), f.second.end());
    cmdu_header whole = h;
    whole.message_version = p.message_version;
    whole.relay_indicator = p.relay;
    drop(it);
    return decode_body(whole, all.data(), all.size(), &src);
}

// ---- Ethernet ---------------------------------------------------------------------

void build_1905_ethernet_frame(const MAC& dst, const MAC& src, const std::vector<uint8_t>& payload,
                               std::vector<uint8_t>& frame) {
    frame.clear();
    frame.reserve(ETHERNET_HEADER_LEN + payload.size());
    frame.insert(frame.end(), dst.data(), dst.data() + 6);
    frame.insert(frame.end(), src.data(), src.data() + 6);
    frame.push_back(uint8_t(ETHERTYPE_1905 >> 8));
    frame.push_back(uint8_t(ETHERTYPE_1905 & 0xFF));
    frame.insert(frame.end(), payload.begin(), payload.end());
}

bool parse_1905_ethernet_frame(const uint8_t* frame, size_t len, MAC& src, const uint8_t*& payload,
                               size_t& payload_len) {
    if (!frame || len < ETHERNET_HEADER_LEN)
        return false;
    if (frame[12] != uint8_t(ETHERTYPE_1905 >> 8) || frame[13] != uint8_t(ETHERTYPE_1905 & 0xFF))
        return false;
    src = MAC(frame + 6);
    payload = frame + ETHERNET_HEADER_LEN;
    payload_len = len - ETHERNET_HEADER_LEN;
    return true;
}
