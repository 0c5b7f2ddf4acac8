// The data model filled from decoded CMDUs as agents send them, and the M1
// serial number read from real WSC attribute bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/clock.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/datamodel/datamodel.h"
#include "map/ieee80211/assoc.h"
#include "map/map_log.h"

namespace {

MAC mac(uint8_t a, uint8_t b) {
    return MAC(0x02, 0, 0, 0, a, b);
}
void quiet(int, const char*, const std::string&) {}

void put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}
void attr(std::vector<uint8_t>& v, uint16_t type, const std::vector<uint8_t>& value) {
    put16(v, type);
    put16(v, static_cast<uint16_t>(value.size()));
    v.insert(v.end(), value.begin(), value.end());
}
void attr(std::vector<uint8_t>& v, uint16_t type, const std::string& text) {
    attr(v, type, std::vector<uint8_t>(text.begin(), text.end()));
}

// An M1 as an extender sends it: every attribute an enrollee puts in, in the
// order of the WSC standard, with a 192-byte public key and the WFA
// vendor extension carrying Version2 and the Multi-AP extension.
std::vector<uint8_t> real_m1(const std::string& serial, bool with_serial = true) {
    std::vector<uint8_t> v;
    attr(v, 0x104A, std::vector<uint8_t>{0x10});                 // Version
    attr(v, 0x1022, std::vector<uint8_t>{0x04});                 // Message Type M1
    attr(v, 0x1047, std::vector<uint8_t>(16, 0xA5));             // UUID-E
    attr(v, 0x1020, std::vector<uint8_t>{0x02, 0, 0, 0, 3, 1});  // MAC Address
    attr(v, 0x101A, std::vector<uint8_t>(16, 0x5A));             // Enrollee Nonce
    attr(v, 0x1032, std::vector<uint8_t>(192, 0x33));            // Public Key
    attr(v, 0x1004, std::vector<uint8_t>{0x00, 0x63});           // Auth Type Flags
    attr(v, 0x1010, std::vector<uint8_t>{0x00, 0x0F});           // Encryption Type Flags
    attr(v, 0x100D, std::vector<uint8_t>{0x01});                 // Connection Type Flags
    attr(v, 0x1008, std::vector<uint8_t>{0x06, 0x80});           // Config Methods
    attr(v, 0x1044, std::vector<uint8_t>{0x01});                 // WPS State
    attr(v, 0x1021, std::string("Example Networks"));            // Manufacturer
    attr(v, 0x1023, std::string("EX-3000"));                     // Model Name
    attr(v, 0x1024, std::string("3000-B"));                      // Model Number
    if (with_serial)
        attr(v, 0x1042, serial);  // Serial Number
    attr(v, 0x1054,
         std::vector<uint8_t>{0x00, 0x06, 0x00, 0x50, 0xF2, 0x04, 0x00,
                              0x01});                               // Primary Device Type
    attr(v, 0x1011, std::string("extender-hall"));                  // Device Name
    attr(v, 0x103C, std::vector<uint8_t>{0x03});                    // RF Bands 2.4 + 5
    attr(v, 0x1002, std::vector<uint8_t>{0x00, 0x00});              // Association State
    attr(v, 0x1012, std::vector<uint8_t>{0x00, 0x00});              // Device Password ID
    attr(v, 0x1009, std::vector<uint8_t>{0x00, 0x00});              // Configuration Error
    attr(v, 0x102D, std::vector<uint8_t>{0x80, 0x00, 0x00, 0x00});  // OS Version
    attr(v, 0x1049,
         std::vector<uint8_t>{0x00, 0x37, 0x2A, 0x00, 0x01, 0x20, 0x06, 0x01, 0x20});  // WFA ext
    return v;
}

class UpdateTest : public ::testing::Test {
  protected:
    const MAC ctrl = mac(1, 1), local = mac(1, 2), ext = mac(3, 1);
    const MAC radio24 = mac(3, 0x20), radio5 = mac(3, 0x50);
    const BSSID fh24 = BSSID(mac(3, 0x21)), bh5 = BSSID(mac(3, 0x51)), fh5 = BSSID(mac(3, 0x52));
    const MAC phone = mac(9, 1), laptop = mac(9, 2);

    void SetUp() override {
        ozr_clock::set_manual(1000000);
        map_log_set_sink(quiet);
        ASSERT_EQ(map_datamodel_init(ctrl, local), 0);
        const char bh[] = "mesh-bh";
        map_set_backhaul_ssid(reinterpret_cast<const uint8_t*>(bh), sizeof bh - 1);
        map_update_ale(local);
    }
    void TearDown() override {
        map_set_backhaul_ssid(nullptr, 0);
        map_datamodel_reset();
        map_log_set_sink(nullptr);
        ozr_clock::use_real();
    }

    static ap_operational_bss_tlv::bss bss(const BSSID& id, const std::string& ssid) {
        ap_operational_bss_tlv::bss b;
        b.bssid = id;
        b.ssid_len = static_cast<uint8_t>(ssid.size());
        std::memcpy(b.ssid, ssid.data(), ssid.size());
        return b;
    }

    // Topology Response of the extender: one Ethernet and one 5 GHz station
    // interface, the gateway's agent as neighbour, two radios, the clients given.
    CmduPtr topology_response(const std::vector<std::pair<MAC, BSSID>>& clients) {
        CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 0x1234);
        b.source(ext);
        auto& info = b.add<device_information_tlv>();
        info.al_mac_address = ext;
        device_information_tlv::local_interface eth;
        eth.mac_address = mac(3, 2);
        eth.media_type = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
        device_information_tlv::local_interface sta;
        sta.mac_address = mac(3, 3);
        sta.media_type = MEDIA_TYPE_IEEE_802_11AC_5_GHZ;
        sta.media_specific_info_length = IEEE80211_MEDIA_INFO_LEN;
        sta.ieee80211.network_membership = BSSID(mac(1, 0x51));
        sta.ieee80211.role = IEEE80211_ROLE_NON_AP_STA;
        info.local_interfaces = {eth, sta};
        info.num_local_interfaces = 2;
        auto& nbr = b.add<neighbor_device_list_tlv>();
        nbr.local_mac_address = mac(3, 3);
        nbr.neighbors.push_back({local, 0});
        auto& op = b.add<ap_operational_bss_tlv>();
        ap_operational_bss_tlv::radio r24, r5;
        r24.radio_id = radio24;
        r24.bsss = {bss(fh24, "home")};
        r24.num_bss = 1;
        r5.radio_id = radio5;
        r5.bsss = {bss(fh5, "home"), bss(bh5, "mesh-bh")};
        r5.num_bss = 2;
        op.radios = {r24, r5};
        op.num_radios = 2;
        if (!clients.empty()) {
            auto& ac = b.add<associated_clients_tlv>();
            for (auto& [m, bssid] : clients) {
                associated_clients_tlv::bss* slot = nullptr;
                for (auto& e : ac.bsss)
                    if (e.bssid == bssid)
                        slot = &e;
                if (!slot) {
                    ac.bsss.emplace_back();
                    slot = &ac.bsss.back();
                    slot->bssid = bssid;
                }
                slot->clients.push_back({m, 30});
                slot->num_clients = static_cast<uint16_t>(slot->clients.size());
            }
            ac.num_bss = static_cast<uint8_t>(ac.bsss.size());
        }
        b.add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, MAP_PROFILE_2});
        CmduPtr c = b.build();
        if (c)
            std::strcpy(c->interface_name, "eth1");
        return c;
    }

    static ap_radio_basic_capabilities_tlv basic_caps(const MAC& radio, uint8_t max_bss,
                                                      std::vector<uint8_t> classes) {
        ap_radio_basic_capabilities_tlv t;
        t.radio_id = radio;
        t.max_bss = max_bss;
        for (uint8_t c : classes) {
            ap_radio_basic_capabilities_tlv::op_class oc;
            oc.op_class = c;
            oc.max_tx_power_eirp = 20;
            t.op_classes.push_back(oc);
        }
        t.num_op_classes = static_cast<uint8_t>(t.op_classes.size());
        return t;
    }
};

TEST_F(UpdateTest, TopologyResponseFillsAgentRadiosBssAndStations) {
    CmduPtr resp = topology_response({{phone, fh5}, {laptop, fh24}});
    ASSERT_EQ(map_update_from_cmdu(resp.get()), 0);

    map_ale_info_t* ale = get_ale(ext);
    ASSERT_NE(ale, nullptr);
    EXPECT_STREQ(ale->iface_name, "eth1");
    EXPECT_EQ(ale->map_profile, 2);
    ASSERT_EQ(ale->num_interfaces, 2);
    EXPECT_EQ(ale->interfaces[1].mac, mac(3, 3));
    EXPECT_EQ(ale->interfaces[1].role, IEEE80211_ROLE_NON_AP_STA);
    EXPECT_EQ(ale->interfaces[1].bssid, BSSID(mac(1, 0x51)));
    ASSERT_EQ(ale->num_neighbors, 1);
    EXPECT_EQ(get_parent_ale_node(ale), get_ale(local));
    EXPECT_EQ(ale->depth, 2);

    ASSERT_EQ(ale->num_radios, 2);
    map_radio_info_t* r5 = get_radio(radio5);
    ASSERT_NE(r5, nullptr);
    EXPECT_EQ(r5->ale, ale);
    ASSERT_EQ(r5->num_bss, 2);
    EXPECT_STREQ(r5->bss_list[0].ssid, "home");
    EXPECT_TRUE(r5->bss_list[0].is_fronthaul);
    EXPECT_FALSE(r5->bss_list[0].is_backhaul);
    EXPECT_STREQ(r5->bss_list[1].ssid, "mesh-bh");
    EXPECT_TRUE(r5->bss_list[1].is_backhaul);
    EXPECT_EQ(map_find_bss(bh5), &r5->bss_list[1]);

    map_sta_info_t* s = get_sta(phone);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->bssid, fh5);
    EXPECT_EQ(s->bss, &r5->bss_list[0]);
    EXPECT_EQ(s->ale, ale);
    EXPECT_EQ(s->assoc_time_ms, 1000000 - 30000);
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
    EXPECT_EQ(s->bssid, fh24);
    EXPECT_EQ(s->ale, get_ale(ext));
    EXPECT_EQ(s->assoc_time_ms, get_current_time_ms());
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
    b.source(ext);
    b.add(ap_capability_tlv{});
    b.add(basic_caps(radio24, 4, {81, 83, 84}));
    b.add(basic_caps(radio5, 8,
                     {115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129}));
    ap_ht_capabilities_tlv ht;
    ht.radio_id = radio24;
    b.add(ht);
    ap_he_capabilities_tlv he;
    he.radio_id = radio5;
    he.supported_mcs_len = 4;
    b.add(he);
    ASSERT_EQ(map_update_from_cmdu(b.build().get()), 0);

    map_radio_info_t* r24 = get_radio(radio24);
    map_radio_info_t* r5 = get_radio(radio5);
    EXPECT_EQ(r24->max_bss, 4);
    EXPECT_EQ(r24->band_mask, MAP_BAND_MASK_2G);
    EXPECT_EQ(r24->capability_flags, MAP_RADIO_HAS_BASIC_CAPS | MAP_RADIO_HAS_HT);
    EXPECT_EQ(r5->max_bss, 8);
    EXPECT_EQ(r5->num_op_classes, 15);
    EXPECT_EQ(r5->band_mask, MAP_BAND_MASK_5G);
    EXPECT_EQ(r5->radio_index, MAP_RADIO_INDEX_5G);
    EXPECT_EQ(r5->capability_flags, MAP_RADIO_HAS_BASIC_CAPS | MAP_RADIO_HAS_HE);
    uint8_t out[6];
    ASSERT_EQ(get_radio_id_mac(ext, 1, MAP_BAND_MASK_5G, out), 0);
    EXPECT_EQ(MAC(out), radio5);

    // A report from an agent not heard of before teaches the model that agent.
    CmduBuilder other(CMDU_TYPE_AP_CAPABILITY_REPORT, 8);
    other.source(mac(5, 1));
    other.add(basic_caps(mac(5, 0x20), 2, {81}));
    EXPECT_EQ(map_update_from_cmdu(other.build().get()), 0);
    EXPECT_EQ(get_radio(mac(5, 0x20))->ale, get_ale(mac(5, 1)));
}

TEST_F(UpdateTest, OperatingChannelReportTakesThePrimaryChannel) {
    ASSERT_EQ(map_update_from_cmdu(topology_response({}).get()), 0);
    CmduBuilder b(CMDU_TYPE_OPERATING_CHANNEL_REPORT, 9);
    b.source(ext);
    operating_channel_report_tlv t;
    t.radio_id = radio5;
    t.op_classes = {{128, 42}, {115, 36}};
    t.num_op_classes = 2;
    t.current_tx_power_eirp = 17;
    b.add(t);
    ASSERT_EQ(map_update_from_cmdu(b.build().get()), 0);
    map_radio_info_t* r5 = get_radio(radio5);
    EXPECT_EQ(r5->current_op_class, 115);
    EXPECT_EQ(r5->current_channel, 36);
    EXPECT_EQ(r5->current_tx_power, 17);
    EXPECT_TRUE(r5->capability_flags & MAP_RADIO_HAS_OPERATING_CHANNEL);

    // A report for a radio of an unknown sender is refused.
    CmduBuilder c(CMDU_TYPE_OPERATING_CHANNEL_REPORT, 10);
    c.source(mac(7, 7));
    operating_channel_report_tlv u;
    u.radio_id = mac(7, 0x50);
    u.op_classes = {{81, 6}};
    u.num_op_classes = 1;
    c.add(u);
    EXPECT_EQ(map_update_from_cmdu(c.build().get()), -1);
    EXPECT_EQ(get_radio(mac(7, 0x50)), nullptr);
}

TEST_F(UpdateTest, M1KeepsManufacturerModelSerialAndRadio) {
    std::vector<uint8_t> m1 = real_m1("SN0042ABCD");
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 11);
    b.source(ext);
    b.add(basic_caps(radio24, 4, {81}));
    wsc_tlv w;
    w.wsc_frame = m1;
    b.add(w);
    b.add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, MAP_PROFILE_3});
    CmduPtr c = b.build();
    ASSERT_TRUE(c);
    std::strcpy(c->interface_name, "eth0");
    ASSERT_EQ(map_update_from_cmdu(c.get()), 0);

    map_ale_info_t* ale = get_ale(ext);
    ASSERT_NE(ale, nullptr);
    EXPECT_TRUE(ale->has_m1);
    EXPECT_STREQ(ale->manufacturer, "Example Networks");
    EXPECT_STREQ(ale->model_name, "EX-3000");
    EXPECT_STREQ(ale->model_number, "3000-B");
    EXPECT_STREQ(ale->serial_number, "SN0042ABCD");
    EXPECT_STREQ(ale->device_name, "extender-hall");
    EXPECT_EQ(ale->rf_bands, 3);
    EXPECT_EQ(ale->map_profile, 3);
    EXPECT_STREQ(ale->iface_name, "eth0");
    ASSERT_NE(get_radio(radio24), nullptr);
    EXPECT_EQ(get_radio(radio24)->band_mask, MAP_BAND_MASK_2G);

    // A truncated M1 changes nothing.
    map_datamodel_init(ctrl, local);
    CmduBuilder bad(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 12);
    bad.source(ext);
    wsc_tlv cut;
    cut.wsc_frame.assign(m1.begin(), m1.begin() + 300);
    bad.add(cut);
    EXPECT_EQ(map_update_from_cmdu(bad.build().get()), -1);
    EXPECT_EQ(get_ale(ext), nullptr);
}

TEST_F(UpdateTest, SerialNumberFromM1) {
    std::vector<uint8_t> m1 = real_m1("SN0042ABCD");
    char sn[33];
    ASSERT_EQ(get_serial_number_from_M1(m1.data(), m1.size(), sn, sizeof sn), 0);
    EXPECT_STREQ(sn, "SN0042ABCD");
    char small[5];
    ASSERT_EQ(get_serial_number_from_M1(m1.data(), m1.size(), small, sizeof small), 0);
    EXPECT_STREQ(small, "SN00");

    std::vector<uint8_t> none = real_m1("", false);
    EXPECT_EQ(get_serial_number_from_M1(none.data(), none.size(), sn, sizeof sn), -1);
    EXPECT_STREQ(sn, "");
    // Cut inside the serial number attribute: the list is malformed.
    size_t at = 0;
    for (size_t i = 0; i + 1 < m1.size(); ++i)
        if (m1[i] == 0x10 && m1[i + 1] == 0x42)
            at = i;
    ASSERT_GT(at, 0u);
    EXPECT_EQ(get_serial_number_from_M1(m1.data(), at + 6, sn, sizeof sn), -1);
    EXPECT_EQ(get_serial_number_from_M1(nullptr, 10, sn, sizeof sn), -1);
    EXPECT_EQ(get_serial_number_from_M1(m1.data(), m1.size(), sn, 0), -1);
}

TEST_F(UpdateTest, ClientCapabilityReportKeepsTheAssociationFrame) {
    ASSERT_EQ(map_update_from_cmdu(topology_response({{phone, fh5}}).get()), 0);
    CmduBuilder b(CMDU_TYPE_CLIENT_CAPABILITY_REPORT, 13);
    b.source(ext);
    b.add(client_info_tlv{TLV_TYPE_CLIENT_INFO, fh5, phone});
    client_capability_report_tlv rep;
    rep.frame_body = {0x31, 0x04, 0x0a, 0x00, 0x00, 0x04, 'h', 'o', 'm', 'e'};
    b.add(rep);
    ASSERT_EQ(map_update_from_cmdu(b.build().get()), 0);
    map_sta_info_t* s = get_sta(phone);
    ASSERT_EQ(s->assoc_frame_len, 10);
    EXPECT_EQ(std::memcmp(s->assoc_frame, rep.frame_body.data(), 10), 0);

    // An oversized body is cut to the cap; a failed report changes nothing.
    std::vector<uint8_t> big(4000, 0xDD);
    ASSERT_EQ(map_update_sta_assoc_frame(phone, big.data(), big.size()), 0);
    EXPECT_EQ(s->assoc_frame_len, MAP_MAX_ASSOC_FRAME_LEN);
    CmduBuilder f(CMDU_TYPE_CLIENT_CAPABILITY_REPORT, 14);
    f.source(ext);
    f.add(client_info_tlv{TLV_TYPE_CLIENT_INFO, fh5, phone});
    client_capability_report_tlv fail;
    fail.result_code = CLIENT_CAPABILITY_UNSPECIFIED_FAILURE;
    f.add(fail);
    ASSERT_EQ(map_update_from_cmdu(f.build().get()), 0);
    EXPECT_EQ(s->assoc_frame_len, MAP_MAX_ASSOC_FRAME_LEN);
    EXPECT_EQ(map_update_sta_assoc_frame(mac(9, 9), big.data(), 10), -1);
}

TEST_F(UpdateTest, ClientCapabilityReportParsesTheStationsCapabilities) {
    ASSERT_EQ(map_update_from_cmdu(topology_response({{phone, fh5}}).get()), 0);
    EXPECT_EQ(get_sta(phone)->caps, nullptr);
    // The radio's band, as its basic capabilities would have told.
    ASSERT_NE(get_sta(phone)->bss, nullptr);
    get_sta(phone)->bss->radio->band_mask = MAP_BAND_MASK_5G;
    // Association body on the 5 GHz BSS: fixed fields, SSID, Supported
    // Channels (36 x4), HT Capabilities, Extended Capabilities with BSS
    // Transition, RM Enabled Capabilities.
    std::vector<uint8_t> body = {0x31, 0x04, 0x0a, 0x00, 0x00, 0x04, 'h', 'o',
                                 'm',  'e',  36,   2,    36,   4,    45,  26};
    std::vector<uint8_t> ht(26, 0);
    ht[0] = 0x62;  // 40 MHz, short GI 20/40
    ht[3] = 0xff;  // MCS 0-7
    ht[4] = 0xff;  // MCS 8-15
    body.insert(body.end(), ht.begin(), ht.end());
    body.insert(body.end(), {127, 3, 0x00, 0x00, 0x08, 70, 5, 0x01, 0, 0, 0, 0});

    CmduBuilder b(CMDU_TYPE_CLIENT_CAPABILITY_REPORT, 21);
    b.source(ext);
    b.add(client_info_tlv{TLV_TYPE_CLIENT_INFO, fh5, phone});
    client_capability_report_tlv rep;
    rep.frame_body = body;
    b.add(rep);
    CmduPtr report = b.build();
    ASSERT_EQ(parse_update_client_capability(report.get()), 0);
    const map_sta_assoc_caps* c = get_sta(phone)->caps;
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->listen_interval, 10);
    EXPECT_TRUE(c->ht_support);
    EXPECT_TRUE(c->btm_support);
    EXPECT_TRUE(c->rrm_support);
    EXPECT_EQ(c->max_rx_spatial_streams, 2);
    ASSERT_EQ(c->supported_channel_count, 4);
    EXPECT_EQ(c->supported_channels[3], 48);  // 5 GHz step
    EXPECT_EQ(get_sta(phone)->assoc_frame_len, body.size());

    // A body that yields nothing keeps what was parsed before.
    const uint8_t fixed_only[] = {0x31, 0x04, 0x0a, 0x00};
    EXPECT_EQ(parse_update_client_capability(phone, fixed_only, sizeof fixed_only), -1);
    EXPECT_EQ(get_sta(phone)->caps, c);
    EXPECT_EQ(parse_update_client_capability(phone, nullptr, 10), -1);
    EXPECT_EQ(parse_update_client_capability(mac(9, 9), body.data(), body.size()), -1);
    EXPECT_EQ(parse_update_client_capability(nullptr), -1);

    // The stack's own intake parses it too; moving to another BSS forgets it.
    ASSERT_EQ(map_update_from_cmdu(topology_response({{phone, fh24}}).get()), 0);
    EXPECT_EQ(get_sta(phone)->caps, nullptr);
    ASSERT_EQ(map_update_from_cmdu(topology_response({{phone, fh5}}).get()), 0);
    ASSERT_EQ(map_update_from_cmdu(report.get()), 0);
    ASSERT_NE(get_sta(phone)->caps, nullptr);
    EXPECT_TRUE(get_sta(phone)->caps->btm_support);
}

TEST_F(UpdateTest, ResponseDecodedFromWireBytesFillsTheModel) {
    // Encode and decode through the codec, as the stack receives it.
    CmduPtr resp = topology_response({{phone, fh5}});
    std::vector<std::vector<uint8_t>> frames;
    ASSERT_TRUE(encode_1905_CMDU(*resp, frames));
    ASSERT_EQ(frames.size(), 1u);
    CmduPtr decoded = decode_1905_CMDU(frames[0].data(), frames[0].size(), &ext);
    ASSERT_NE(decoded, nullptr);
    ASSERT_EQ(map_update_from_cmdu(decoded.get()), 0);
    ASSERT_NE(get_ale(ext), nullptr);
    EXPECT_EQ(get_radio(radio5)->num_bss, 2);
    EXPECT_NE(get_sta(phone), nullptr);
}

TEST_F(UpdateTest, ProfilesAndNullInput) {
    map_set_profiles(3, 2);
    EXPECT_EQ(get_map_profile(), 3);
    EXPECT_EQ(get_policy_profile(), 2);
    EXPECT_EQ(get_root_ale_node()->map_profile, 3);
    map_set_profiles(2, 2);
    EXPECT_EQ(map_update_from_cmdu(nullptr), -1);
    CmduPtr other = CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 1).build();
    EXPECT_EQ(map_update_from_cmdu(other.get()), 0);  // nothing to keep
}

}  // namespace

namespace {

// Topology Response of AL_MAC listing NEIGHBORS on one interface.
CmduPtr plain_response(const MAC& al_mac, const std::vector<MAC>& neighbors) {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 1);
    b.source(al_mac);
    auto& info = b.add<device_information_tlv>();
    info.al_mac_address = al_mac;
    device_information_tlv::local_interface eth;
    eth.mac_address = MAC(0x06, 0, 0, 0, al_mac[4], al_mac[5]);
    info.local_interfaces = {eth};
    info.num_local_interfaces = 1;
    auto& n = b.add<neighbor_device_list_tlv>();
    n.local_mac_address = eth.mac_address;
    for (const MAC& m : neighbors)
        n.neighbors.push_back({m, 0});
    return b.build();
}

// The exchange after start: the controller answers its own query locally,
// then the co-located agent, a wired extender and a wireless extender behind
// it answer theirs, in an order where a child answers before its parent.
TEST(ScriptedExchange, TreeFromTopologyResponsesOnly) {
    const MAC ctrl = mac(1, 1), local = mac(1, 2), wired = mac(2, 1), leaf = mac(4, 1);
    map_log_set_sink(quiet);
    ASSERT_EQ(map_datamodel_init(ctrl, local), 0);
    ASSERT_EQ(map_update_from_cmdu(plain_response(ctrl, {local, wired}).get()), 0);
    // The neighbours the controller names are learnt at once.
    ASSERT_NE(get_ale(wired), nullptr);
    EXPECT_EQ(get_ale(wired)->depth, 2);
    EXPECT_EQ(map_get_topology_tree_height(), 2);
    ASSERT_EQ(map_update_from_cmdu(plain_response(leaf, {wired}).get()), 0);
    EXPECT_EQ(get_ale(leaf)->depth, 3);
    ASSERT_EQ(map_update_from_cmdu(plain_response(local, {ctrl, wired}).get()), 0);
    ASSERT_EQ(map_update_from_cmdu(plain_response(wired, {ctrl, local, leaf}).get()), 0);

    EXPECT_EQ(get_ale(local)->depth, 1);
    EXPECT_EQ(get_parent_ale_node(get_ale(wired)), get_ale(local));
    EXPECT_EQ(get_parent_ale_node(get_ale(leaf)), get_ale(wired));
    EXPECT_EQ(map_get_topology_tree_height(), 3);
    array_list_t* list = ktree_elements_at_depth(get_root_ale_node(), 2);
    EXPECT_EQ(list_get_size(list), 1);
    EXPECT_EQ(first_object(list), get_ale(wired));
    delete_array_list(list);
    map_datamodel_reset();
    map_log_set_sink(nullptr);
}

}  // namespace
