// The HKT codec: random records of every HKT TLV survive forge -> parse -> forge, a
// hand-made discovery response decodes field by field from its documented bytes, and
// hostile payloads (truncated, oversized, trailing bytes, lists and texts over their bounds)
// are refused without a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "hex.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "map/hkt/hkt_layout.h"
#include "random_io.h"

namespace {

std::vector<uint8_t> forge(const hktMessage& m) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(forge_hkt_message_from_structure(&m, out)) << hkt_tlv_type_to_string(m.tlv_type);
    return out;
}

template <class T>
void roundtrip_random() {
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        T rec;
        RandomFiller f(seed * 131 + hkt_record_type<T>::value, 16);
        hkt_codec::visit(f, rec);
        if constexpr (std::is_same<T, hkt_config_response_tlv>::value) {
            rec.data.resize(rec.data_len % 2000);
            rec.data_len = static_cast<uint16_t>(rec.data.size());
        }
        hktMessage m = hkt_message_of(rec);
        std::vector<uint8_t> bytes = forge(m);
        ASSERT_GE(bytes.size(), 3u);
        EXPECT_EQ(bytes[0], hkt_record_type<T>::value);
        ASSERT_EQ((size_t(bytes[1]) << 8 | bytes[2]), bytes.size() - 3) << "seed " << seed;

        hktMessage* back = parse_hkt_message_from_packet(bytes.data(), bytes.size());
        ASSERT_NE(back, nullptr) << hkt_tlv_type_to_string(hkt_record_type<T>::value) << " seed "
                                 << seed;
        EXPECT_EQ(back->tlv_type, hkt_record_type<T>::value);
        ASSERT_NE(hkt_tlv_cast<T>(back), nullptr);
        EXPECT_EQ(forge(*back), bytes) << "seed " << seed;
        free_hkt_message_structure(back);

        // Every shorter length is refused (the length field then disagrees, or the value
        // ends early), and so is one byte too many.
        for (size_t n = 0; n < bytes.size(); ++n)
            EXPECT_EQ(parse_hkt_message_from_packet(bytes.data(), n), nullptr) << n;
        std::vector<uint8_t> longer = bytes;
        longer.push_back(0);
        EXPECT_EQ(parse_hkt_message_from_packet(longer.data(), longer.size()), nullptr);
    }
}

TEST(HktCodec, EveryRecordRoundTrips) {
#define OZR_HKT_RT(TYPE, REC) roundtrip_random<REC>();
    OZR_FOR_EACH_HKT_TLV(OZR_HKT_RT)
#undef OZR_HKT_RT
}

// The discovery response byte by byte as docs/hkt.md gives it.
TEST(HktCodec, DiscoveryResponseDecodesFromItsDocumentedBytes) {
    std::vector<uint8_t> b = from_hex(
        "02 00 00"                             // type 2, length (patched below)
        "00000001 00000003 00000007"           // capabilities version 1, HKT version 3, config 7
        "05 4558542d57"                        // model "EXT-W"
        "03 657831"                            // serial "ex1" (lower case on the wire)
        "026f7a720201 026f7a720200"            // system MAC, co-located agent
        "c0a80165"                             // 192.168.1.101
        "fe800000000000000000000000000001"     // fe80::1
        "01 20010db8000000000000000000000002"  // one global: 2001:db8::2
        "04 68616c6c"                          // host name "hall"
        "05 322e342e31"                        // sw version "2.4.1"
        "02 4d53"                              // vendor "MS"
        "01 78"                                // product class "x"
        "026f7a"                               // OUI
        "00000009"                             // minders present
        "02 0100 0103"                         // two minder capabilities
        "01 04 6c616e30 026f7a720201 00000001 01 02");  // lan0, gigabit, on, port 2
    const size_t len = b.size() - 3;
    b[1] = static_cast<uint8_t>(len >> 8);
    b[2] = static_cast<uint8_t>(len);
    hktMessage* m = parse_hkt_message_from_packet(b.data(), b.size());
    ASSERT_NE(m, nullptr);
    const auto* t = hkt_tlv_cast<hkt_discovery_response_tlv>(m);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(hkt_tlv_cast<hkt_heartbeat_tlv>(m), nullptr);  // the wrong type gives null
    EXPECT_EQ(std::tie(t->capabilities_version, t->hkt_version, t->config_number,
                       t->minders_present, t->system_mac, t->collocated_map_agent_mac),
              std::make_tuple(1u, 3u, 7u, 9u, MAC(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x01),
                              MAC(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x00)));
    EXPECT_EQ(std::tie(t->model_number, t->serial_number, t->hostname, t->sw_version, t->vendor,
                       t->product_class),
              std::make_tuple("EXT-W", "ex1", "hall", "2.4.1", "MS", "x"));
    ASSERT_EQ(t->addresses.ipv6_global.size(), 1u);
    EXPECT_EQ(std::make_tuple(hkt_ipv4_to_string(t->addresses.ipv4),
                              hkt_ipv6_to_string(t->addresses.ipv6_local),
                              hkt_ipv6_to_string(t->addresses.ipv6_global[0])),
              std::make_tuple("192.168.1.101", "fe80::1", "2001:db8::2"));
    EXPECT_EQ(0, std::memcmp(t->oui, hkt_get_vendor_oui(), 3));
    EXPECT_EQ(t->minder_capabilites, (std::vector<uint16_t>{0x0100, 0x0103}));
    ASSERT_EQ(t->interfaces.size(), 1u);
    const auto& lan0 = t->interfaces[0];
    EXPECT_EQ(std::tie(lan0.ifname, lan0.media_type, lan0.pwr_state, lan0.physical_port_number),
              std::make_tuple("lan0", 1u, 1, 2));
    // And back to the same bytes.
    EXPECT_EQ(forge(*m), b);
    free_hkt_message_structure(m);
}

TEST(HktCodec, SmallMessagesHaveTheirDocumentedBytes) {
    hkt_heartbeat_tlv hb{0x01020304};
    EXPECT_EQ(forge(hkt_message_of(hb)), from_hex("08 0004 01020304"));
    hkt_config_response_tlv cr{-1, 2, {0x6f, 0x6b}};
    EXPECT_EQ(forge(hkt_message_of(cr)), from_hex("04 0008 ffffffff 0002 6f6b"));
    hkt_config_request_tlv cq{{1, 2, 3}};
    EXPECT_EQ(forge(hkt_message_of(cq)), from_hex("03 0003 010203"));
    hkt_vsn_query_tlv vq;
    EXPECT_EQ(forge(hkt_message_of(vq)), from_hex("b7 0000"));
    hkt_bh_vap_8byte_request_tlv bh{1};
    EXPECT_EQ(forge(hkt_message_of(bh)), from_hex("b9 0001 01"));
    hkt_port_info_response_tlv pr{MAC(2, 0, 0, 0, 0, 1), 1, 1000, 3, 0};
    EXPECT_EQ(forge(hkt_message_of(pr)), from_hex("0b 000e 020000000001 01 000003e8 0003 00"));
    // The Vendor Specific TLV around it: the OUI, then the HKT TLV.
    vendor_specific_tlv v;
    hktMessage hm = hkt_message_of(hb);
    ASSERT_TRUE(forge_hkt_vendor_tlv(&hm, v));
    EXPECT_EQ(0, std::memcmp(v.vendor_oui, hkt_get_vendor_oui(), 3));
    EXPECT_EQ(v.payload, from_hex("08 0004 01020304"));
}

// Hostile payloads, one per row, each refused whole.
TEST(HktCodec, HostilePayloadsAreRefused) {
    EXPECT_EQ(parse_hkt_message_from_packet(nullptr, 10), nullptr);
    // A value of LEN bytes after TYPE's header, the length field patched.
    auto tlv = [](uint8_t type, std::vector<uint8_t> value) {
        value.insert(value.begin(), {type, static_cast<uint8_t>(value.size() >> 8),
                                     static_cast<uint8_t>(value.size())});
        return value;
    };
    std::vector<uint8_t> many(1 + 33 * 6, 0x02), v6(4 + 16 + 1 + 9 * 16, 0x20);
    many[0] = 33;    // 33 interfaces asked
    v6[4 + 16] = 9;  // 9 global IPv6 addresses
    std::vector<uint8_t> vsn(1 + 33, 'A');
    vsn[0] = 33;
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
    } rows[] = {
        {"a header alone that promises more", from_hex("08 0004")},
        {"a length beyond the bytes", from_hex("08 ffff 01020304")},
        {"a zero-length heartbeat", from_hex("08 0000")},
        {"a zero-length configuration response", from_hex("04 0000")},
        {"a data length over what is carried", from_hex("04 0007 00000000 0002 6f")},
        {"interfaces over their bound", tlv(HKT_TLV_INTERFACES_STATISTIC_REQUEST, many)},
        {"global IPv6 addresses over their bound", tlv(HKT_TLV_IP_CHANGE_NOTIFICATION, v6)},
        {"a count beyond the bytes", from_hex("b3 0001 ff")},
        {"a VSN over 32 bytes", tlv(HKT_TLV_VSN_RESPONSE, vsn)},
    };
    for (const auto& r : rows)
        EXPECT_EQ(parse_hkt_message_from_packet(r.bytes.data(), r.bytes.size()), nullptr) << r.what;
    // A configuration response of zero data is fine; an unknown type is kept raw (its
    // handler lookup then fails).
    const std::vector<uint8_t> ok_cr = from_hex("04 0006 00000005 0000"),
                               odd = from_hex("63 0002 abcd");
    hktMessage* m = parse_hkt_message_from_packet(ok_cr.data(), ok_cr.size());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(hkt_tlv_cast<hkt_config_response_tlv>(m)->return_code, 5);
    EXPECT_TRUE(hkt_tlv_cast<hkt_config_response_tlv>(m)->data.empty());
    free_hkt_message_structure(m);
    m = parse_hkt_message_from_packet(odd.data(), odd.size());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->tlv_type, 0x63);
    EXPECT_STREQ(hkt_tlv_type_to_string(m->tlv_type), "HKT_TLV_UNKNOWN");
    free_hkt_message_structure(m);
}

TEST(HktCodec, TheForgeRefusesWhatDoesNotFit) {
    hkt_vsn_response_tlv vsn;
    vsn.vsn.assign(33, 'A');
    hkt_interfaces_statistic_request_tlv req;
    req.interfaces.assign(HKT_MAX_INTERFACES + 1, MAC(2, 0, 0, 0, 0, 1));
    hkt_config_response_tlv cr;
    cr.data_len = 3;  // says 3, holds 0
    hkt_config_request_tlv huge;
    huge.data.assign(HKT_MAX_VALUE + 1, 0);
    std::vector<uint8_t> out{0xaa};
    for (const hktMessage& m : {hkt_message_of(vsn), hkt_message_of(req), hkt_message_of(cr),
                                hkt_message_of(huge), hktMessage{HKT_TLV_HEARTBEAT, nullptr}})
        EXPECT_FALSE(forge_hkt_message_from_structure(&m, out)) << int(m.tlv_type);
    EXPECT_EQ(out, std::vector<uint8_t>{0xaa});  // unchanged
    EXPECT_FALSE(forge_hkt_message_from_structure(nullptr, out));
}

// A whole HKT message through the 1905 codec: a configuration request of 1492 bytes (the
// largest the relay sends) leaves in two fragments and comes back whole.
TEST(HktCodec, ALargeMessageTravelsFragmented) {
    hkt_config_request_tlv q;
    for (int i = 0; i < 1492; ++i)
        q.data.push_back(static_cast<uint8_t>(i));
    hktMessage m = hkt_message_of(q);
    vendor_specific_tlv v;
    ASSERT_TRUE(forge_hkt_vendor_tlv(&m, v));
    CmduPtr c = CmduBuilder(CMDU_TYPE_VENDOR_SPECIFIC, 77).add(v).build();
    ASSERT_TRUE(c);
    std::vector<std::vector<uint8_t>> frags;
    ASSERT_TRUE(encode_1905_CMDU(*c, frags));
    EXPECT_EQ(frags.size(), 2u);
    CmduReassembler r;
    CmduPtr back;
    for (const auto& f : frags)
        back = r.feed(MAC(2, 0, 0, 0, 0, 9), f.data(), f.size());
    ASSERT_TRUE(back);
    ASSERT_NE(back->list_of_TLVs[0], nullptr);
    const auto* bv = tlv_cast<vendor_specific_tlv>(back->list_of_TLVs[0]);
    hktMessage* p = parse_hkt_message_from_packet(bv->payload.data(), bv->payload.size());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(hkt_tlv_cast<hkt_config_request_tlv>(p)->data, q.data);
    free_hkt_message_structure(p);
}

TEST(HktCodec, AddressTexts) {
    uint8_t ip[4];
    EXPECT_TRUE(hkt_ipv4_from_string("10.0.0.254", ip));
    EXPECT_EQ(hkt_ipv4_to_string(ip), "10.0.0.254");
    EXPECT_FALSE(hkt_ipv4_from_string("10.0.0.256", ip));
    HktIpv6 v6;
    EXPECT_TRUE(hkt_ipv6_from_string("2001:db8::1", v6));
    EXPECT_EQ(hkt_ipv6_to_string(v6), "2001:db8::1");
    EXPECT_FALSE(hkt_ipv6_from_string("2001:db8::g", v6));
}

}  // namespace
