// Conformance with Wireshark's IEEE 1905 dissector, used as a black box: each
// sample CMDU is encoded, written to a pcap and dissected by tshark (PDML).
// Checked per message: no malformed packet and no expert warning or error,
// message type / id / relay flag, the sequence of TLV types and lengths, and
// for every field our layout writes (addresses, counts, numbers, SSIDs and
// other texts) that tshark shows a field at the same position and size with
// the same value. Fields tshark keeps in one opaque blob only need to lie
// inside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "hex.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_layout.h"
#include "pdml.h"
#include "samples.h"

namespace {

// ---- what our layout writes, with positions --------------------------------------

enum class Kind { Number, Address, Text, Flags, Blob };
struct Written {
    Written(size_t p, size_t s, Kind k, unsigned long long n = 0, std::string t = {})
        : pos(p), size(s), kind(k), number(n), text(std::move(t)) {}
    size_t pos, size;
    Kind kind;
    unsigned long long number;
    std::string text;  // address as 12 hex digits, or the text bytes
};

// The library's Writer, noting where each field went.
class Recorder : public map_codec::Writer {
  public:
    Recorder(std::vector<uint8_t>& out, size_t base, std::vector<Written>& notes)
        : Writer(out), out_(out), base_(base), notes_(notes) {}

    bool u8(const uint8_t& v) { return num(v, 1) && Writer::u8(v); }
    bool u16(const uint16_t& v) { return num(v, 2) && Writer::u16(v); }
    bool u24(const uint32_t& v) { return num(v, 3) && Writer::u24(v); }
    bool u32(const uint32_t& v) { return num(v, 4) && Writer::u32(v); }
    bool mac(const MAC& m) {
        notes_.push_back({here(), 6, Kind::Address, 0, to_hex(m.data(), 6)});
        return Writer::mac(m);
    }
    bool fixed(const uint8_t* p, size_t n) { return blob(n) && Writer::fixed(p, n); }
    bool rest_bytes(const std::vector<uint8_t>& v) {
        return blob(v.size()) && Writer::rest_bytes(v);
    }
    bool bytes(const std::vector<uint8_t>& v, size_t n) { return blob(n) && Writer::bytes(v, n); }
    template <class... B>
    bool flags(B... b) {
        notes_.push_back({here(), 1, Kind::Flags});
        return Writer::flags(b...);
    }
    template <class C, class V, class F>
    bool counted(const C& c, const V& vec, size_t min, F&& fn) {
        return num(vec.size(), sizeof(C)) && Writer::counted(c, vec, min, fn);
    }
    // SSIDs are texts; other length-prefixed bytes are blobs.
    bool lbytes8(const uint8_t& len, const uint8_t* p, size_t cap) {
        note_text(len, reinterpret_cast<const char*>(p), cap == MAX_SSID_LEN);
        return Writer::lbytes8(len, p, cap);
    }
    bool str8(const std::string& s) {
        note_text(s.size(), s.data(), true);
        return Writer::str8(s);
    }
    template <class F>
    bool scope8(F&& fn) {
        const size_t note = notes_.size(), at = out_.size();
        num(0, 1);
        const bool ok = Writer::scope8(fn);
        notes_[note].number = out_[at];
        return ok;
    }

  private:
    size_t here() const { return base_ + out_.size(); }
    bool num(unsigned long long v, size_t size) {
        notes_.push_back({here(), size, Kind::Number, v});
        return true;
    }
    bool blob(size_t n) {
        if (n)
            notes_.push_back({here(), n, Kind::Blob});
        return true;
    }
    // A length byte, then N bytes at P.
    void note_text(size_t n, const char* p, bool text) {
        notes_.push_back({here(), 1, Kind::Number, n});
        if (n)
            notes_.push_back({here() + 1, n, text ? Kind::Text : Kind::Blob, 0, std::string(p, n)});
    }

    std::vector<uint8_t>& out_;
    size_t base_;
    std::vector<Written>& notes_;
};

template <class T>
bool record_value(const uint8_t* rec, std::vector<uint8_t>& out, size_t base,
                  std::vector<Written>& notes) {
    Recorder r(out, base, notes);
    return map_codec::visit(r, *const_cast<T*>(reinterpret_cast<const T*>(rec)));
}

bool record_tlv(const uint8_t* rec, std::vector<uint8_t>& out, size_t base,
                std::vector<Written>& notes) {
    switch (*rec) {
#define OZR_RECORD_CASE(TYPE, REC) \
    case TYPE:                     \
        return record_value<REC>(rec, out, base, notes);
        OZR_FOR_EACH_TLV(OZR_RECORD_CASE)
#undef OZR_RECORD_CASE
    }
    return record_value<unknown_tlv>(rec, out, base, notes);
}

// ---- comparison -------------------------------------------------------------------

bool matches(const Written& w, const PdmlField& f) {
    switch (w.kind) {
        case Kind::Number: {
            unsigned long long v;
            return parse_number(f.show, v) && v == w.number;
        }
        case Kind::Address:
            return hex_digits(f.show) == w.text;
        case Kind::Text:
            return f.show == w.text;
        default:
            return true;
    }
}

// Deviations of the dissector (tshark 4.0) from the EasyMesh TLV tables, each
// checked to be exactly what it is. Keyed by sample name.
struct KnownGap {
    const char* sample;
    const char* expert;  // expert text tolerated ("" none)
    uint8_t tlv_type;    // TLV concerned
    bool skip_fields;    // its inner fields are not compared (else: fields tshark
                         // does not show are tolerated, mismatches still fail)
    const char* why;
};
const KnownGap kGaps[] = {
    {"topology_response", "TLV has extra data or an incorrect length",
     TLV_TYPE_NON_1905_NEIGHBOR_DEVICE_LIST, true,
     "the dissector shows one non-1905 neighbour per TLV; the TLV carries a list running to "
     "its end"},
    {"beacon_metrics_query", "Malformed Packet", TLV_TYPE_BEACON_METRICS_QUERY, true,
     "the dissector stops after the AP channel reports and does not read the element-ID "
     "count and list"},
    {"policy_config_request", "", TLV_TYPE_CHANNEL_SCAN_REPORTING_POLICY, true,
     "the dissector reads the independent-scan flag from bit 0; the TLV table puts it in "
     "bit 7"},
    {"beacon_metrics_response", "", TLV_TYPE_BEACON_METRICS_RESPONSE, false,
     "the dissector consumes the element id and length of each measurement report element "
     "without showing them"},
};

class Conformance : public ::testing::TestWithParam<std::string> {};

TEST_P(Conformance, TsharkDecodesWhatWeEncode) {
    if (!have_tshark())
        GTEST_SKIP() << "tshark is not installed; conformance not checked";
    const std::string name = GetParam();
    CmduPtr c = make_sample_cmdu(name);
    ASSERT_TRUE(c);
    const KnownGap* gap = nullptr;
    for (const auto& g : kGaps)
        gap = name == g.sample ? &g : gap;

    // Our bytes, with positions of every field (Ethernet 14 + CMDU header 8).
    std::vector<uint8_t> tlvs;
    std::vector<Written> notes;
    struct TlvAt {
        uint8_t type;
        size_t pos, len;
    };
    std::vector<TlvAt> tlv_at;
    std::vector<std::pair<size_t, size_t>> unshown_ok;  // [from, to) of tolerated TLVs
    for (size_t i = 0; c->list_of_TLVs[i]; ++i) {
        size_t start = tlvs.size();
        tlvs.insert(tlvs.end(), {*c->list_of_TLVs[i], 0, 0});
        size_t notes_before = notes.size();
        ASSERT_TRUE(
            record_tlv(c->list_of_TLVs[i], tlvs, ETHERNET_HEADER_LEN + CMDU_HEADER_LEN, notes));
        size_t len = tlvs.size() - start - 3;
        tlvs[start + 1] = uint8_t(len >> 8);
        tlvs[start + 2] = uint8_t(len);
        tlv_at.push_back({*c->list_of_TLVs[i], ETHERNET_HEADER_LEN + CMDU_HEADER_LEN + start, len});
        if (gap && gap->tlv_type == *c->list_of_TLVs[i]) {
            if (gap->skip_fields)
                notes.erase(notes.begin() + notes_before, notes.end());
            else
                unshown_ok.emplace_back(tlv_at.back().pos, tlv_at.back().pos + 3 + len);
        }
    }
    std::vector<std::vector<uint8_t>> frags;
    ASSERT_TRUE(encode_1905_CMDU(*c, frags));
    ASSERT_EQ(frags.size(), 1u);
    ASSERT_EQ(std::vector<uint8_t>(frags[0].begin() + CMDU_HEADER_LEN, frags[0].end() - 3), tlvs)
        << "the recorder writes what the codec writes";

    std::vector<uint8_t> frame;
    build_1905_ethernet_frame(IEEE1905_MULTICAST_ADDRESS, sample_mac(0xA0, 0x01), frags[0], frame);
    auto packets = tshark_dissect({frame});
    ASSERT_EQ(packets.size(), 1u) << "tshark gave no dissection";
    const auto& fields = packets[0];

    // No malformed packet, no expert warning or error (beyond a known gap).
    for (const auto& complaint : expert_complaints(fields)) {
        EXPECT_TRUE(gap && *gap->expert && complaint.find(gap->expert) != std::string::npos)
            << name << ": " << complaint;
    }

    // Header: the first of each field.
    const std::pair<const char*, unsigned long long> header[] = {
        {"ieee1905.message_type", c->message_type},
        {"ieee1905.message_id", c->message_id},
        {"ieee1905.relay_indicator", c->relay_indicator != 0}};
    for (const auto& h : header) {
        auto f = std::find_if(fields.begin(), fields.end(),
                              [&](const PdmlField& x) { return x.name == h.first; });
        unsigned long long v = 0;
        ASSERT_TRUE(f != fields.end() && parse_number(f->show, v)) << h.first;
        EXPECT_EQ(h.first == header[2].first ? v != 0 : v, h.second) << f->showname;
    }

    // TLV types and lengths, in order (End of Message last).
    std::vector<std::pair<unsigned long long, unsigned long long>> seen;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name != "ieee1905.tlv_type")
            continue;
        unsigned long long t = 0, l = 0;
        ASSERT_TRUE(parse_number(fields[i].show, t));
        for (size_t j = i + 1; j < fields.size(); ++j) {
            if (fields[j].name == "ieee1905.tlv_length") {
                parse_number(fields[j].show, l);
                break;
            }
        }
        seen.emplace_back(t, l);
    }
    std::vector<std::pair<unsigned long long, unsigned long long>> want;
    for (const auto& t : tlv_at)
        want.emplace_back(t.type, t.len);
    want.emplace_back(0, 0);
    if (!(gap && gap->tlv_type == TLV_TYPE_BEACON_METRICS_QUERY)) {
        EXPECT_EQ(seen, want) << name;
    } else {
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen[0], want[0]) << name;
    }

    // Every field we wrote: tshark shows it at the same place with the same
    // value, or keeps it inside a larger field.
    std::multimap<std::pair<size_t, size_t>, const PdmlField*> at;
    for (const auto& f : fields) {
        if (f.name.compare(0, 9, "ieee1905.") == 0 || f.name.compare(0, 4, "wps.") == 0 ||
            f.name.empty())
            at.emplace(std::make_pair(f.pos, f.size), &f);
    }
    int exact = 0;
    for (const auto& w : notes) {
        if (w.kind == Kind::Blob)
            continue;
        auto range = at.equal_range({w.pos, w.size});
        bool found = false, any = false;
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second->name.empty())
                continue;  // TLV container
            any = true;
            if (matches(w, *it->second))
                found = true;
        }
        if (found) {
            ++exact;
            continue;
        }
        if (any) {
            std::string shown;
            for (auto it = range.first; it != range.second; ++it)
                shown += it->second->name + "=" + it->second->show + " ";
            ADD_FAILURE() << name << ": field at " << w.pos << " (" << w.size << " bytes) wrote "
                          << (w.kind == Kind::Number ? std::to_string(w.number) : w.text)
                          << ", tshark shows " << shown;
            continue;
        }
        bool covered = false;
        for (const auto& r : unshown_ok)
            covered |= r.first <= w.pos && w.pos < r.second;
        for (const auto& f : fields) {
            if (!f.name.empty() && f.name.compare(0, 9, "ieee1905.") == 0 && f.pos <= w.pos &&
                w.pos + w.size <= f.pos + f.size && f.size > w.size) {
                covered = true;
                break;
            }
        }
        EXPECT_TRUE(covered) << name << ": tshark shows nothing at " << w.pos << " (" << w.size
                             << " bytes), value "
                             << (w.kind == Kind::Number ? std::to_string(w.number) : w.text);
    }
    size_t checkable = 0;
    for (const auto& w : notes)
        checkable += w.kind != Kind::Blob;
    // Most fields are shown one by one; the rest sit in blobs tshark does not
    // break up (802.11 media info, estimated service parameters).
    if (!unshown_ok.empty())
        return;
    EXPECT_GE(exact * 10, checkable * 7)
        << name << ": only " << exact << " of " << checkable << " fields matched one to one";
}

std::vector<std::string> sample_names() {
    std::vector<std::string> v;
    for (auto& s : make_sample_cmdus())
        v.push_back(s.name);
    return v;
}

INSTANTIATE_TEST_SUITE_P(Messages, Conformance, ::testing::ValuesIn(sample_names()),
                         [](const ::testing::TestParamInfo<std::string>& i) { return i.param; });

// The known dissector gaps stay exactly as narrow as listed: on the same
// messages without the disputed content, tshark is fully satisfied.
TEST(ConformanceGaps, DisputedContentIsTheOnlyCause) {
    if (!have_tshark())
        GTEST_SKIP() << "tshark is not installed; conformance not checked";
    // A non-1905 neighbour list of one entry; the beacon metrics query sample without its
    // (empty) element-ID list, the one byte tshark does not expect.
    std::vector<std::vector<uint8_t>> frames;
    for (const char* payload :
         {"00 00 0003 0001 00 80 06 000c 020000000101 020000000102 00 0000",
          "00 00 8011 1008 00 80 99 0026 020000005a07 73 ff ffffffffffff 01 0a 486f6d654e65742d3547"
          " 02 0573 24282c30 0451 01060b 00 0000"}) {
        frames.emplace_back();
        build_1905_ethernet_frame(IEEE1905_MULTICAST_ADDRESS, sample_mac(1, 1), from_hex(payload),
                                  frames.back());
    }
    auto packets = tshark_dissect(frames);
    ASSERT_EQ(packets.size(), frames.size());
    for (const auto& pkt : packets)
        EXPECT_EQ(expert_complaints(pkt), std::vector<std::string>{});
    for (const auto& g : kGaps)
        RecordProperty(g.sample, g.why);
}

}  // namespace
