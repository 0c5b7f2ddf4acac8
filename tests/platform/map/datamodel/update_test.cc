// The data model filled from decoded CMDUs as agents send them, and the M1 serial number
// read from real WSC attribute bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "common/clock.h"
#include "hex.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/codec/wsc.h"
#include "map/datamodel/datamodel.h"
#include "map/ieee80211/assoc.h"
#include "map/map_log.h"
#include "platform/map/transport/transport_test_util.h"
#include "samples.h"

namespace {

const auto mac = sample_mac;

class UpdateTest : public ::testing::Test {
  protected:
    const MAC ctrl = mac(1, 1), local = mac(1, 2), ext = mac(3, 1);
    const MAC radio24 = mac(3, 0x20), radio5 = mac(3, 0x50);
    const BSSID fh24 = BSSID(mac(3, 0x21)), bh5 = BSSID(mac(3, 0x51)), fh5 = BSSID(mac(3, 0x52));
    const MAC phone = mac(9, 1), laptop = mac(9, 2);

    void SetUp() override {
        ozr_clock::set_manual(1000000);
        ASSERT_EQ(map_datamodel_init(ctrl, local), 0);
        const char bh[] = "mesh-bh";
        map_set_backhaul_ssid(reinterpret_cast<const uint8_t*>(bh), sizeof bh - 1);
        map_update_ale(local);
    }
    void TearDown() override {
        map_set_backhaul_ssid(nullptr, 0);
        map_datamodel_reset();
        ozr_clock::use_real();
    }
    LogCapture log_;  // keeps the stack's lines out of the output

    // Topology Response of the extender, from its bytes: device information (an Ethernet
    // interface 03:02 and a 5 GHz station interface 03:03 on the gateway's backhaul BSS
    // 01:51), the gateway's agent as neighbour, the 2.4 GHz radio 03:20 with fronthaul
    // 03:21 "home", the 5 GHz radio 03:50 with fronthaul 03:52 "home" and backhaul 03:51
    // "mesh-bh", profile 2; then the associated CLIENTS, each on its BSS 30 s ago.
    CmduPtr topology_response(const std::vector<std::pair<MAC, BSSID>>& clients) {
        std::string bytes =
            "00 00 0003 1234 00 80"
            "03 0023 020000000301 02 020000000302 0001 00"
            "        020000000303 0105 0a 020000000151 40 000000"
            "07 000d 020000000303 020000000102 00"
            "83 0033 02 020000000320 01 020000000321 04 686f6d65"
            "           020000000350 02 020000000352 04 686f6d65 020000000351 07 6d6573682d6268"
            "b3 0001 02";
        if (!clients.empty()) {
            std::string v;
            for (const auto& [m, bssid] : clients)
                v += to_hex(bssid.data(), 6) + "0001" + to_hex(m.data(), 6) + "001e";
            char tlv[48];
            std::snprintf(tlv, sizeof tlv, "84 %04zx %02zx", v.size() / 2 + 1, clients.size());
            bytes += tlv + v;
        }
        const std::vector<uint8_t> payload = from_hex(bytes + "000000");
        CmduPtr c = decode_1905_CMDU(payload.data(), payload.size(), &ext);
        if (c)
            std::strcpy(c->interface_name, "eth1");
        return c;
    }

    static ap_radio_basic_capabilities_tlv basic_caps(const MAC& radio, uint8_t max_bss,
                                                      std::vector<uint8_t> classes) {
        ap_radio_basic_capabilities_tlv t;
        t.radio_id = radio;
        t.max_bss = max_bss;
        for (uint8_t c : classes)
            t.op_classes.push_back({c, 20, 0, {}});
        t.num_op_classes = static_cast<uint8_t>(t.op_classes.size());
        return t;
    }
};

TEST_F(UpdateTest, TopologyResponseFillsAgentRadiosBssAndStations) {
    CmduPtr resp = topology_response({{phone, fh5}, {laptop, fh24}});
    ASSERT_EQ(map_update_from_cmdu(resp.get()), 0);

    map_ale_info_t* ale = get_ale(ext);
    ASSERT_NE(ale, nullptr);
    EXPECT_EQ(std::make_tuple(std::string(ale->iface_name), ale->map_profile, ale->num_interfaces,
                              ale->num_neighbors, ale->depth, ale->num_radios),
              std::make_tuple(std::string("eth1"), 2, 2, 1, 2, 2));
    EXPECT_EQ(std::tie(ale->interfaces[1].mac, ale->interfaces[1].bssid),
              std::make_tuple(mac(3, 3), BSSID(mac(1, 0x51))));
    EXPECT_EQ(ale->interfaces[1].role, IEEE80211_ROLE_NON_AP_STA);
    EXPECT_EQ(get_parent_ale_node(ale), get_ale(local));

    map_radio_info_t* r5 = get_radio(radio5);
    ASSERT_NE(r5, nullptr);
    EXPECT_EQ(r5->ale, ale);
    ASSERT_EQ(r5->num_bss, 2);
    auto kind = [](const map_bss_info_t& b) {
        return std::string(b.ssid) + (b.is_fronthaul ? " fh" : "") + (b.is_backhaul ? " bh" : "");
    };
    EXPECT_EQ(kind(r5->bss_list[0]) + ", " + kind(r5->bss_list[1]), "home fh, mesh-bh bh");
    EXPECT_EQ(map_find_bss(bh5), &r5->bss_list[1]);

    map_sta_info_t* s = get_sta(phone);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::make_tuple(s->bssid, s->bss, s->ale, s->assoc_time_ms),
              std::make_tuple(fh5, &r5->bss_list[0], ale, int64_t{1000000 - 30000}));
    EXPECT_EQ(get_map_datamodel()->num_stas, 2);

    // The next response: the laptop left, the phone is still there and keeps
    // its association time; the 2.4 GHz radio no longer runs a BSS.
    ozr_clock::advance(60000);
    CmduPtr again = topology_response({{phone, fh5}});
    auto* op = tlv_cast<ap_operational_bss_tlv>(again->list_of_TLVs[2]);
    ASSERT_NE(op, nullptr);
    op->radios.erase(op->radios.begin());
    op->num_radios = 1;
    ASSERT_EQ(map_update_from_cmdu(again.get()), 0);
    EXPECT_EQ(get_sta(laptop), nullptr);
    ASSERT_EQ(get_sta(phone), s);
    EXPECT_EQ(s->assoc_time_ms,
              1000000 - 30000 + 60000);  // reported 30 s ago again: a new association
    EXPECT_EQ(get_radio(radio24)->num_bss, 0);
    EXPECT_EQ(get_map_datamodel()->num_stas, 1);
}

// Client Association Events keep the stations in step between Topology Responses.
TEST_F(UpdateTest, TopologyNotificationsAddAndRemoveStations) {
    CmduPtr resp = topology_response({{phone, fh5}});
    ASSERT_EQ(map_update_from_cmdu(resp.get()), 0);
    auto event = [&](const MAC& from, const MAC& sta, const BSSID& bssid, uint8_t joined) {
        CmduPtr n = CmduBuilder(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 5)
                        .source(from)
                        .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, from})
                        .add(client_association_event_tlv{TLV_TYPE_CLIENT_ASSOCIATION_EVENT, sta,
                                                          bssid, joined})
                        .build();
        EXPECT_TRUE(n);
        return n ? map_update_from_cmdu(n.get()) : -1;
    };
    ozr_clock::advance(5000);
    EXPECT_EQ(event(ext, laptop, fh24, 1), 0);
    map_sta_info_t* s = get_sta(laptop);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::make_tuple(s->bssid, s->ale, s->assoc_time_ms),
              std::make_tuple(fh24, get_ale(ext), int64_t{get_current_time_ms()}));
    // A leave from a BSS the station is not on (it moved meanwhile) forgets nothing.
    EXPECT_EQ(event(ext, phone, fh24, 0), 0);
    EXPECT_NE(get_sta(phone), nullptr);
    EXPECT_EQ(event(ext, phone, fh5, 0), 0);
    EXPECT_EQ(get_sta(phone), nullptr);
    // An agent the model does not know keeps nothing.
    EXPECT_EQ(event(mac(9, 9), mac(9, 1), fh5, 1), 0);
    EXPECT_EQ(get_sta(mac(9, 1)), nullptr);
}

TEST_F(UpdateTest, ApCapabilityReportSetsBandsAndCapabilities) {
    ASSERT_EQ(map_update_from_cmdu(topology_response({}).get()), 0);
    CmduBuilder b(CMDU_TYPE_AP_CAPABILITY_REPORT, 7);
    b.source(ext).add(ap_capability_tlv{});
    b.add(basic_caps(radio24, 4, {81, 83, 84}));
    b.add(basic_caps(radio5, 8,
                     {115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129}));
    b.add(ap_ht_capabilities_tlv{TLV_TYPE_AP_HT_CAPABILITY, radio24});
    b.add(ap_he_capabilities_tlv{TLV_TYPE_AP_HE_CAPABILITY, radio5, 4});
    ASSERT_EQ(map_update_from_cmdu(b.build().get()), 0);

    map_radio_info_t* r24 = get_radio(radio24);
    map_radio_info_t* r5 = get_radio(radio5);
    // The bands and look-up by band from the classes: TreeTest.RadioBandsAndRadioLookUp.
    EXPECT_EQ(std::make_tuple(r24->max_bss, r24->band_mask, r24->capability_flags),
              std::make_tuple(4, MAP_BAND_MASK_2G, MAP_RADIO_HAS_BASIC_CAPS | MAP_RADIO_HAS_HT));
    EXPECT_EQ(std::make_tuple(r5->max_bss, r5->num_op_classes, r5->capability_flags),
              std::make_tuple(8, 15, MAP_RADIO_HAS_BASIC_CAPS | MAP_RADIO_HAS_HE));

    // A report from an agent not heard of before teaches the model that agent.
    CmduBuilder other(CMDU_TYPE_AP_CAPABILITY_REPORT, 8);
    other.source(mac(5, 1)).add(basic_caps(mac(5, 0x20), 2, {81}));
    EXPECT_EQ(map_update_from_cmdu(other.build().get()), 0);
    EXPECT_EQ(get_radio(mac(5, 0x20))->ale, get_ale(mac(5, 1)));
}

TEST_F(UpdateTest, OperatingChannelReportTakesThePrimaryChannel) {
    ASSERT_EQ(map_update_from_cmdu(topology_response({}).get()), 0);
    auto report = [](const MAC& from, const MAC& radio,
                     std::vector<operating_channel_report_tlv::op_class_channel> classes) {
        operating_channel_report_tlv t;
        t.radio_id = radio;
        t.op_classes = classes;
        t.num_op_classes = static_cast<uint8_t>(classes.size());
        t.current_tx_power_eirp = 17;
        return map_update_from_cmdu(
            CmduBuilder(CMDU_TYPE_OPERATING_CHANNEL_REPORT, 9).source(from).add(t).build().get());
    };
    ASSERT_EQ(report(ext, radio5, {{128, 42}, {115, 36}}), 0);
    map_radio_info_t* r5 = get_radio(radio5);
    EXPECT_EQ(std::make_tuple(r5->current_op_class, r5->current_channel, r5->current_tx_power),
              std::make_tuple(115, 36, 17));
    EXPECT_TRUE(r5->capability_flags & MAP_RADIO_HAS_OPERATING_CHANNEL);

    // A report for a radio of an unknown sender is refused.
    EXPECT_EQ(report(mac(7, 7), mac(7, 0x50), {{81, 6}}), -1);
    EXPECT_EQ(get_radio(mac(7, 0x50)), nullptr);
}

TEST_F(UpdateTest, M1KeepsManufacturerModelSerialAndRadio) {
    const std::vector<uint8_t> m1 = sample_wsc("autoconfig_wsc_m1");
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 11);
    b.source(ext).add(basic_caps(radio24, 4, {81})).add(wsc_tlv{TLV_TYPE_WSC, m1});
    CmduPtr c = b.add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, MAP_PROFILE_3}).build();
    ASSERT_TRUE(c);
    std::strcpy(c->interface_name, "eth0");
    ASSERT_EQ(map_update_from_cmdu(c.get()), 0);
    map_ale_info_t* ale = get_ale(ext);
    ASSERT_NE(ale, nullptr);
    EXPECT_EQ(std::string(ale->manufacturer) + "|" + ale->model_name + "|" + ale->model_number +
                  "|" + ale->serial_number + "|" + ale->device_name + "|" + ale->iface_name,
              "Vexal|Mesh Extender|MX-200|SN0123456789|ext-livingroom|eth0");
    EXPECT_EQ(std::make_tuple(ale->has_m1, ale->rf_bands, ale->map_profile),
              std::make_tuple(1, 3, 3));
    ASSERT_NE(get_radio(radio24), nullptr);
    EXPECT_EQ(get_radio(radio24)->band_mask, MAP_BAND_MASK_2G);

    // A truncated M1 changes nothing.
    map_datamodel_init(ctrl, local);
    CmduBuilder bad(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 12);
    bad.source(ext).add(wsc_tlv{TLV_TYPE_WSC, {m1.begin(), m1.begin() + 300}});
    EXPECT_EQ(map_update_from_cmdu(bad.build().get()), -1);
    EXPECT_EQ(get_ale(ext), nullptr);
}

TEST_F(UpdateTest, SerialNumberFromM1) {
    const std::vector<uint8_t> m1 = sample_wsc("autoconfig_wsc_m1"),
                               none = sample_wsc("autoconfig_wsc_m1", WSC_ATTR_SERIAL_NUMBER);
    char sn[33], small[5];
    ASSERT_EQ(get_serial_number_from_M1(m1.data(), m1.size(), sn, sizeof sn), 0);
    EXPECT_STREQ(sn, "SN0123456789");
    ASSERT_EQ(get_serial_number_from_M1(m1.data(), m1.size(), small, sizeof small), 0);
    EXPECT_STREQ(small, "SN01");
    EXPECT_EQ(get_serial_number_from_M1(none.data(), none.size(), sn, sizeof sn), -1);
    EXPECT_STREQ(sn, "");
    // Cut inside the serial number attribute: the list is malformed.
    size_t at = 0;
    for (size_t i = 0; i + 1 < m1.size(); ++i)
        at = m1[i] == 0x10 && m1[i + 1] == 0x42 ? i : at;
    ASSERT_GT(at, 0u);
    EXPECT_EQ(get_serial_number_from_M1(m1.data(), at + 6, sn, sizeof sn), -1);
    EXPECT_EQ(get_serial_number_from_M1(nullptr, 10, sn, sizeof sn), -1);
    EXPECT_EQ(get_serial_number_from_M1(m1.data(), m1.size(), sn, 0), -1);
}

// A Client Capability Report: the station keeps the (re)association body, cut to its cap,
// and the capabilities parsed from it until it moves; a failed report changes nothing.
TEST_F(UpdateTest, ClientCapabilityReportKeepsTheBodyAndItsCapabilities) {
    ASSERT_EQ(map_update_from_cmdu(topology_response({{phone, fh5}}).get()), 0);
    EXPECT_EQ(get_sta(phone)->caps, nullptr);
    // The radio's band, as its basic capabilities would have told.
    ASSERT_NE(get_sta(phone)->bss, nullptr);
    get_sta(phone)->bss->radio->band_mask = MAP_BAND_MASK_5G;
    // Association body on the 5 GHz BSS: fixed fields, SSID, Supported Channels (36 x4), HT
    // Capabilities (40 MHz, short GI 20/40, MCS 0-15), Extended Capabilities with BSS
    // Transition, RM Enabled Capabilities.
    const std::vector<uint8_t> body = from_hex("31040a00 0004686f6d65 24022404 2d1a 620000ffff" +
                                               std::string(42, '0') + "7f03000008 46050100000000");
    auto report = [&](const std::vector<uint8_t>& frame, uint8_t result) {
        return CmduBuilder(CMDU_TYPE_CLIENT_CAPABILITY_REPORT, 21)
            .source(ext)
            .add(client_info_tlv{TLV_TYPE_CLIENT_INFO, fh5, phone})
            .add(client_capability_report_tlv{TLV_TYPE_CLIENT_CAPABILITY_REPORT, result, frame})
            .build();
    };
    CmduPtr good = report(body, CLIENT_CAPABILITY_SUCCESS);
    ASSERT_EQ(map_update_from_cmdu(good.get()), 0);
    map_sta_info_t* s = get_sta(phone);
    ASSERT_EQ(s->assoc_frame_len, body.size());
    EXPECT_EQ(std::memcmp(s->assoc_frame, body.data(), body.size()), 0);
    const map_sta_assoc_caps* c = s->caps;
    ASSERT_NE(c, nullptr);
    // BTM, two streams, the fourth channel of four 48 (5 GHz step).
    EXPECT_EQ(std::make_tuple(c->btm_support, c->max_rx_spatial_streams, c->supported_channel_count,
                              c->supported_channels[3]),
              std::make_tuple(1, 2, 4, 48));

    // A failed report, or a body that yields nothing, keeps what was parsed before.
    ASSERT_EQ(map_update_from_cmdu(report({}, CLIENT_CAPABILITY_UNSPECIFIED_FAILURE).get()), 0);
    EXPECT_EQ(s->assoc_frame_len, body.size());
    const uint8_t fixed_only[] = {0x31, 0x04, 0x0a, 0x00};
    EXPECT_EQ(parse_update_client_capability(phone, fixed_only, sizeof fixed_only), -1);
    EXPECT_EQ(s->caps, c);
    EXPECT_EQ(parse_update_client_capability(phone, nullptr, 10), -1);
    EXPECT_EQ(parse_update_client_capability(mac(9, 9), body.data(), body.size()), -1);
    EXPECT_EQ(parse_update_client_capability(nullptr), -1);
    // An oversized body is cut to the cap.
    std::vector<uint8_t> big(4000, 0xDD);
    ASSERT_EQ(map_update_sta_assoc_frame(phone, big.data(), big.size()), 0);
    EXPECT_EQ(s->assoc_frame_len, MAP_MAX_ASSOC_FRAME_LEN);
    EXPECT_EQ(map_update_sta_assoc_frame(mac(9, 9), big.data(), 10), -1);

    // Moving to another BSS forgets the capabilities; the next report brings them back.
    ASSERT_EQ(map_update_from_cmdu(topology_response({{phone, fh24}}).get()), 0);
    EXPECT_EQ(get_sta(phone)->caps, nullptr);
    ASSERT_EQ(map_update_from_cmdu(topology_response({{phone, fh5}}).get()), 0);
    ASSERT_EQ(map_update_from_cmdu(good.get()), 0);
    ASSERT_NE(get_sta(phone)->caps, nullptr);
    EXPECT_TRUE(get_sta(phone)->caps->btm_support);
}

}  // namespace
