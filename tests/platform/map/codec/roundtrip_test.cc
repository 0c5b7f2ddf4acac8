// decode(encode(x)) == x for random records of every TLV, encode(decode(b)) == b
// for hand-made frames and for every sample CMDU, and the encoder's refusals.
#include <gtest/gtest.h>

#include <algorithm>

#include "hex.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_layout.h"
#include "random_io.h"
#include "samples.h"

namespace {

template <class T>
void roundtrip_random() {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        T rec;
        RandomFiller f(seed * 7919 + tlv_record_type<T>::value);
        map_codec::visit(f, rec);
        rec.tlv_type = tlv_record_type<T>::value;
        auto* p = reinterpret_cast<const uint8_t*>(&rec);

        std::vector<uint8_t> bytes;
        ASSERT_TRUE(encode_1905_TLV(p, bytes)) << "seed " << seed << ": " << dump_1905_TLV(p);
        ASSERT_GE(bytes.size(), TLV_HEADER_LEN);
        EXPECT_EQ(bytes[0], tlv_record_type<T>::value);
        size_t len = (size_t(bytes[1]) << 8) | bytes[2];
        ASSERT_EQ(len, bytes.size() - TLV_HEADER_LEN);

        uint8_t* back = decode_1905_TLV(bytes[0], bytes.data() + TLV_HEADER_LEN, len);
        ASSERT_NE(back, nullptr) << "seed " << seed << ": " << dump_1905_TLV(p);
        EXPECT_EQ(dump_1905_TLV(back), dump_1905_TLV(p)) << "seed " << seed;
        std::vector<uint8_t> again;
        EXPECT_TRUE(encode_1905_TLV(back, again));
        EXPECT_EQ(again, bytes) << "seed " << seed;

        // One byte short: refused, unless the layout ends in an open-ended
        // list or byte string, in which case the shorter value must itself
        // round-trip.
        if (len > 0) {
            uint8_t* shorter = decode_1905_TLV(bytes[0], bytes.data() + TLV_HEADER_LEN, len - 1);
            if (shorter) {
                std::vector<uint8_t> s;
                EXPECT_TRUE(encode_1905_TLV(shorter, s));
                EXPECT_EQ(s.size(), len - 1 + TLV_HEADER_LEN) << "seed " << seed;
                EXPECT_TRUE(
                    std::equal(s.begin() + TLV_HEADER_LEN, s.end(), bytes.begin() + TLV_HEADER_LEN))
                    << "seed " << seed;
                free_1905_TLV_structure(shorter);
            }
        }
        free_1905_TLV_structure(back);
    }
}

}  // namespace

// One case per TLV record.
#define OZR_ROUNDTRIP_CASE(TYPE, REC) \
    TEST(TlvRoundTrip, REC) {         \
        roundtrip_random<REC>();      \
    }
OZR_FOR_EACH_TLV(OZR_ROUNDTRIP_CASE)
#undef OZR_ROUNDTRIP_CASE

TEST(TlvRoundTrip, TrailingByteIsRefusedForFixedLayouts) {
    // A fixed-size TLV with one byte too many: AL MAC address of 7 bytes.
    auto v = from_hex("02 00 00 00 a0 01 ff");
    EXPECT_EQ(decode_1905_TLV(TLV_TYPE_AL_MAC_ADDRESS_TYPE, v.data(), v.size()), nullptr);
    // AP metrics without the mandatory BE parameters announced by its flag.
    auto m = from_hex("02 00 00 00 b1 01 40 0003 80");
    EXPECT_EQ(decode_1905_TLV(TLV_TYPE_AP_METRICS, m.data(), m.size()), nullptr);
}

TEST(TlvRoundTrip, UnknownTypesKeepTheirBytes) {
    auto v = from_hex("01 02 03");
    uint8_t* rec = decode_1905_TLV(0xEE, v.data(), v.size());
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(*rec, 0xEE);
    EXPECT_FALSE(tlv_type_has_record(0xEE));
    EXPECT_EQ(reinterpret_cast<unknown_tlv*>(rec)->value, v);
    std::vector<uint8_t> out;
    ASSERT_TRUE(encode_1905_TLV(rec, out));
    EXPECT_EQ(out, from_hex("ee 0003 010203"));
    free_1905_TLV_structure(rec);
}

// Frames written by hand from the TLV tables: decode, check the fields the
// daemon reads, encode again to the same bytes.
TEST(CmduRoundTrip, HandMadeTopologyResponse) {
    auto payload = from_hex(
        "00 00 0003 1234 00 80"
        // Device information: AL MAC, 2 interfaces: 802.11ac AP with 10-byte
        // media info (role AP, band 2, cf1 42, cf2 0) and Ethernet with none.
        "03 0023 020000000001 02"
        "  020000000011 0105 0a 020000000011 00 02 2a 00"
        "  020000000012 0001 00"
        // 1905 neighbour device: local MAC, neighbour with the bridge flag set.
        "07 000d 020000000012 020000000099 80"
        // AP operational BSS: one radio, one BSS with a 32-byte SSID.
        "83 002f 01 0200000000b0 01 020000000011 20"
        "  4142434445464748494a4b4c4d4e4f505152535455565758595a303132333435"
        // Associated clients: one BSS, 16-bit count of 2, times 30 and 65535.
        "84 0019 01 020000000011 0002 0a0000000001 001e 0a0000000002 ffff"
        // Multi-AP profile 2, End of message.
        "b3 0001 02"
        "00 0000");
    CmduPtr c = decode_1905_CMDU(payload.data(), payload.size());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->message_type, CMDU_TYPE_TOPOLOGY_RESPONSE);
    EXPECT_EQ(c->message_id, 0x1234);
    ASSERT_EQ(count_1905_TLVs(c.get()), 5u);

    auto* di = tlv_cast<device_information_tlv>(c->list_of_TLVs[0]);
    ASSERT_NE(di, nullptr);
    EXPECT_EQ(di->al_mac_address, MAC(2, 0, 0, 0, 0, 1));
    ASSERT_EQ(di->num_local_interfaces, 2);
    ASSERT_EQ(di->local_interfaces.size(), 2u);
    EXPECT_EQ(di->local_interfaces[0].media_type, MEDIA_TYPE_IEEE_802_11AC_5_GHZ);
    EXPECT_EQ(di->local_interfaces[0].media_specific_info_length, 10);
    EXPECT_EQ(di->local_interfaces[0].ieee80211.role, IEEE80211_ROLE_AP);
    EXPECT_EQ(di->local_interfaces[0].ieee80211.ap_channel_band, 2);
    EXPECT_EQ(di->local_interfaces[0].ieee80211.ap_channel_center_freq_index_1, 42);
    EXPECT_EQ(di->local_interfaces[1].media_specific_info_length, 0);

    auto* nd = tlv_cast<neighbor_device_list_tlv>(c->list_of_TLVs[1]);
    ASSERT_NE(nd, nullptr);
    ASSERT_EQ(nd->neighbors.size(), 1u);
    EXPECT_EQ(nd->neighbors[0].bridge_flag, 1);

    auto* ap = tlv_cast<ap_operational_bss_tlv>(c->list_of_TLVs[2]);
    ASSERT_NE(ap, nullptr);
    ASSERT_EQ(ap->num_radios, 1);
    ASSERT_EQ(ap->radios[0].num_bss, 1);
    EXPECT_EQ(ap->radios[0].bsss[0].ssid_len, 32);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ap->radios[0].bsss[0].ssid), 32),
              "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");

    auto* ac = tlv_cast<associated_clients_tlv>(c->list_of_TLVs[3]);
    ASSERT_NE(ac, nullptr);
    ASSERT_EQ(ac->bsss[0].num_clients, 2);
    EXPECT_EQ(ac->bsss[0].clients[1].time_since_association, 65535);

    auto* prof = tlv_cast<multiap_profile_tlv>(c->list_of_TLVs[4]);
    ASSERT_NE(prof, nullptr);
    EXPECT_EQ(prof->profile, 2);

    std::vector<std::vector<uint8_t>> frags;
    ASSERT_TRUE(encode_1905_CMDU(*c, frags));
    ASSERT_EQ(frags.size(), 1u);
    EXPECT_EQ(frags[0], payload);
}

TEST(CmduRoundTrip, HandMadeMetricsAndSteering) {
    auto payload = from_hex(
        "00 00 800c 0042 00 c0"  // relayed, last fragment
                                 // AP metrics with BE and VI parameters.
        "94 0010 0200000000b1 ff 0010 90 8dc805 8e6402"
        // Associated STA link metrics: one BSS, RCPI 220.
        "96 001a 0a0000000001 01 0200000000b1 00000064 000001b1 00000186 dc"
        // Associated STA traffic stats.
        "a2 0022 0a0000000001 00000001 00000002 00000003 00000004 00000005 00000006 00000007"
        // Steering BTM report without a target BSSID.
        "9c 000d 0200000000b1 0a0000000001 07"
        // Channel scan result that did not complete: nothing after the status.
        "a7 0009 0200000000b1 73 24 04"
        "00 0000");
    CmduPtr c = decode_1905_CMDU(payload.data(), payload.size());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->relay_indicator, 1);
    auto* m = tlv_cast<ap_metrics_tlv>(c->list_of_TLVs[0]);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->channel_utilization, 255);
    EXPECT_EQ(m->num_associated_stas, 16);
    EXPECT_EQ(m->esp_vi_present, 1);
    EXPECT_EQ(m->esp_vo_present, 0);
    auto* lm = tlv_cast<associated_sta_link_metrics_tlv>(c->list_of_TLVs[1]);
    ASSERT_NE(lm, nullptr);
    EXPECT_EQ(lm->bssids[0].uplink_rcpi, 220);
    EXPECT_EQ(lm->bssids[0].downlink_rate, 433u);
    auto* ts = tlv_cast<associated_sta_traffic_stats_tlv>(c->list_of_TLVs[2]);
    ASSERT_NE(ts, nullptr);
    EXPECT_EQ(ts->retransmission_count, 7u);
    auto* btm = tlv_cast<steering_btm_report_tlv>(c->list_of_TLVs[3]);
    ASSERT_NE(btm, nullptr);
    EXPECT_EQ(btm->btm_status_code, 7);
    EXPECT_EQ(btm->has_target_bssid, 0);
    auto* scan = tlv_cast<channel_scan_result_tlv>(c->list_of_TLVs[4]);
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(scan->scan_status, 4);

    std::vector<std::vector<uint8_t>> frags;
    ASSERT_TRUE(encode_1905_CMDU(*c, frags));
    ASSERT_EQ(frags.size(), 1u);
    EXPECT_EQ(frags[0], payload);
}

TEST(CmduRoundTrip, EverySampleSurvivesEncodeDecodeEncode) {
    for (auto& s : make_sample_cmdus()) {
        std::vector<std::vector<uint8_t>> frags;
        ASSERT_TRUE(encode_1905_CMDU(*s.cmdu, frags)) << s.name;
        ASSERT_EQ(frags.size(), 1u) << s.name;
        CmduPtr back = decode_1905_CMDU(frags[0].data(), frags[0].size());
        ASSERT_TRUE(back) << s.name;
        EXPECT_EQ(back->message_type, s.cmdu->message_type) << s.name;
        EXPECT_EQ(back->message_id, s.cmdu->message_id) << s.name;
        EXPECT_EQ(back->relay_indicator, s.cmdu->relay_indicator) << s.name;
        EXPECT_EQ(tlv_dumps(back.get()), tlv_dumps(s.cmdu.get())) << s.name;
        std::vector<std::vector<uint8_t>> again;
        ASSERT_TRUE(encode_1905_CMDU(*back, again)) << s.name;
        EXPECT_EQ(again, frags) << s.name;
    }
}

// Records whose values do not fit their wire fields: refused, nothing appended.
TEST(TlvEncoder, RefusesValuesTheWireCannotCarry) {
    ap_metric_query_tlv q;  // 8-bit count
    q.bssids.resize(256);
    associated_clients_tlv a;  // a 16-bit client count takes 256 clients
    a.bsss.resize(1);
    a.bsss[0].clients.resize(256);
    ap_operational_bss_tlv o;
    o.radios.resize(1);
    o.radios[0].bsss.resize(1);
    o.radios[0].bsss[0].ssid_len = 33;
    ap_ht_capabilities_tlv h;
    h.max_tx_spatial_streams = 4;  // two bits
    tunneled_tlv t;
    t.frame_body.resize(65536);
    device_information_tlv d;  // raw media info must match its length
    d.local_interfaces.resize(1);
    d.local_interfaces[0].media_specific_info_length = 3;
    const struct {
        const char* what;
        uint8_t* rec;
        size_t appended;  // 0: refused
    } rows[] = {{"256 BSSIDs", alloc_1905_TLV(q), 0},
                {"256 clients", alloc_1905_TLV(a), 3 + 1 + 6 + 2 + 256 * 8},
                {"33-byte SSID", alloc_1905_TLV(o), 0},
                {"4 spatial streams in two bits", alloc_1905_TLV(h), 0},
                {"65536-byte frame", alloc_1905_TLV(t), 0},
                {"media info of another length", alloc_1905_TLV(d), 0}};
    for (const auto& r : rows) {
        std::vector<uint8_t> out = {0xAA};
        EXPECT_EQ(encode_1905_TLV(r.rec, out), r.appended != 0) << r.what;
        EXPECT_EQ(out.size(), 1 + r.appended) << r.what;
        free_1905_TLV_structure(r.rec);
    }
}
