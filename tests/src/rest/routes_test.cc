// The graph, topology, AP, metric, scan and logging routes, asked over HTTP
// from the daemon's own context (every minder built, the REST server on an
// ephemeral port, its loop in a helper thread) on a graph scripted through the
// Graph API. The graph is changed only while no request is outstanding.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "core/cmdu_registry.h"
#include "core/state_version.h"
#include "graph/graph_minder.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/map_config.h"
#include "map/map_log.h"
#include "rest/graph_routes.h"
#include "rest/http_response.h"
#include "rest/http_server.h"
#include "rest/renderers.h"
#include "rest/rest_strings.h"
#include "rest_loop.h"
#include "steering/steering_minder.h"

#include "count_new.h"
#include "mesh_fixture.h"

namespace {

using ozr_test::read_text;
using rapidjson::Value;

MAC m(uint8_t a, uint8_t b) {
    return MAC(0x02, 0, 0, 0, a, b);
}

std::string rest(const MAC& mac) {
    return mac.to_rest_string();
}

// The daemon's context with its REST server started on an ephemeral port, over the mesh of
// build_graph().
class RoutesTest : public ozr_test::RouteFixture {
  protected:
    void SetUp() override {
        RouteFixture::SetUp();
        unassoc_metrics_settings().clear();
        build_graph();
    }

    void TearDown() override {
        RouteFixture::TearDown();
        ozr_clock::use_real();
    }

    // GET URI, expecting 200 and a JSON document.
    void get_json(const std::string& uri, rapidjson::Document& doc, int status = 200) {
        HttpAnswer a = ask(get_request(uri));
        ASSERT_EQ(a.status, status) << uri << "\n" << a.body;
        doc.Parse(a.body.c_str());
        ASSERT_FALSE(doc.HasParseError()) << uri << "\n" << a.body;
    }

    Graph& graph() { return ctx_->graph_minder->graph(); }

    // Stores the controller's credential table (encryption AES for all). Only while the
    // loop thread is idle.
    struct Cred {
        const char* ssid;
        const char* key;
        uint16_t auth;
        uint8_t bss_type;
        uint8_t rf_bands;
        uint8_t hidden;
    };
    void set_credentials(const std::vector<Cred>& list) {
        map_credential_config_t cfg{};
        cfg.count = static_cast<uint8_t>(list.size());
        for (size_t i = 0; i < list.size(); ++i) {
            std::strcpy(cfg.creds[i].ssid, list[i].ssid);
            std::strcpy(cfg.creds[i].network_key, list[i].key);
            cfg.creds[i].auth_type = list[i].auth;
            cfg.creds[i].encr_type = 0x0008;
            cfg.creds[i].bss_type = list[i].bss_type;
            cfg.creds[i].rf_bands = list[i].rf_bands;
            cfg.creds[i].hidden = list[i].hidden;
        }
        ASSERT_EQ(set_credential_config(&cfg), 0);
    }

    // Root controller with two radios (2.4 GHz with HT only, 5 GHz with HT and
    // VHT), the co-located agent wired to it, extender B1 wired below, extender
    // B2 whose backhaul STA associates to B1's backhaul BSS, clients C1 on the
    // root's 5 GHz BSS and C2 on B2.
    void build_graph() {
        using namespace graph_test;
        Graph& g = graph();
        root_dev_ = add_device(g, "Root", m(0, 1), 1000);
        g.root = root_dev_;
        local_ = add_device(g, "Local_agent", m(0, 2), 1000);
        g.local_agent = local_;
        b1_ = add_device(g, "B1", m(1, 1), 1000);
        b2_ = add_device(g, "B2", m(2, 1), 1000);
        add_sta(g, m(2, 9), 1000)->update_backhaul_sta(true, b2_->mac);
        Sta* c1 = add_sta(g, m(9, 1), 1000);
        c1->capabilities.mimo_txcount = 2;
        c1->capabilities.capable_bss_transition = true;
        add_sta(g, m(9, 2), 1000);

        b1_->interfaces = {eth_if(m(1, 1))};
        b2_->backhaul.local_interface = m(2, 9);
        b2_->backhaul.remote_ale = b1_->mac;
        b2_->backhaul.is_backhaul_connected = true;
        b2_->backhaul.medium = Medium::WIFI_5G_HIGH;
        b2_->backhaul.cost_to_root = 123;
        b2_->metric_reporting_interval_s = 5;

        for (const auto& w : {std::make_pair(root_dev_, local_), std::make_pair(local_, root_dev_),
                              std::make_pair(local_, b1_), std::make_pair(b1_, local_)})
            add_wired(w.first, w.second->mac, 1000)->local_interface = w.first->mac;
        b1_->links.back()->metrics =
            LinkMetricCounters{4, 4000000000u, 940, 99, 1000, 6, 3000000000u};
        WirelessLink* bh =
            add_wireless(b1_, m(2, 9), BSSID(m(1, 8)), 180, Medium::WIFI_5G_HIGH, 1000);
        bh->tx_rate = 866;
        bh->is_backbone = true;
        bh->remote_al_mac = b2_->mac;
        WirelessLink* cl =
            add_wireless(root_dev_, m(9, 1), BSSID(m(0, 0x51)), 160, Medium::UNKNOWN, 1000);
        cl->totals[TrafficCounters::BYTES_SENT] = 5000000000ULL;
        cl->totals[TrafficCounters::PACKETS_SENT] = 42;
        add_wireless(b2_, m(9, 2), BSSID(m(2, 0x51)), 0, Medium::UNKNOWN, 1000);
        UnassociatedLink* un =
            add_unassoc(root_dev_, m(9, 2), BSSID(m(0, 0x51)), 100, 900, Medium::UNKNOWN);
        un->op_class = 115;
        un->channel = 36;

        // Radios, BSSs and their reports on the root.
        RadioInfo r24, r5;
        r24.radio_id = m(0, 0x20);
        r24.bsss = {BSSInfo{BSSID(m(0, 0x21)), "home"}};
        r5.radio_id = m(0, 0x50);
        r5.bsss = {BSSInfo{BSSID(m(0, 0x51)), "home"}, BSSInfo{BSSID(m(0, 0x52)), "bh"}};
        root_dev_->operational_bss = {r24, r5};
        b1_->operational_bss = {RadioInfo{m(1, 0x50), {BSSInfo{BSSID(m(1, 8)), "bh"}}}};

        APCapabilityMesg cap;
        cap.unassoc_sta_metrics_operating_channel = true;
        cap.max_vids = 2;
        cap.radios = {BasicRadioCapabilitiesTLV{r24.radio_id, 4, {{81, 20, 2, {12, 13}}}, 0, 0, 3},
                      BasicRadioCapabilitiesTLV{r5.radio_id, 8, {{115, 23, 0, {}}}, 1, 0, 4}};
        cap.ht_capabilities = {HTCapabilitiesTLV{r24.radio_id, 1, 1, 1, 0, 0},
                               HTCapabilitiesTLV{r5.radio_id, 1, 1, 1, 0, 1}};
        // VHT: streams 1 and 2 up to MCS 9 (tx), every stream up to MCS 7 (rx), 160 MHz, SU
        // beamformer; HE: DL OFDMA.
        cap.vht_capabilities = {
            VHTCapabilitiesTLV{r5.radio_id, 0xfffa, 0x0000, 1, 0, 0, 0, 0, 1, 1, 0}};
        cap.he_capabilities = {HECapabilitiesTLV{
            r5.radio_id, {0xfa, 0xff, 0xfa, 0xff}, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}};
        root_dev_->ap_capability = cap;

        ApMetricResponseMesg metrics;
        metrics.ap_metrics = {ApMetricsTLV{BSSID(m(0, 0x51)), 37, 1}};
        metrics.sta_link_metrics = {
            AssociatedStaLinkMetricsTLV{m(9, 1), {StaMetric{BSSID(m(0, 0x51)), 0, 400, 200, 0}}}};
        metrics.radio_metrics = {RadioMetricsTLV{r5.radio_id, 90, 0, 0, 0}};
        root_dev_->ap_metrics = metrics;

        OperatingChannelReportMesg ch;
        ch.reports = {OperatingChannelReportTLV{r5.radio_id, 20, {{115, 36}}}};  // 20 dBm: 100 mW
        root_dev_->update_current_channels(ch);

        APChannelScanReportMesg scan;
        ChannelScanResultTLV s1;
        s1.radio_id = r24.radio_id;
        s1.op_class = 81;
        s1.channel = 6;
        s1.timestamp = "2026-12-06T00:00:00Z";
        s1.utilization = 12;
        s1.noise = 80;
        s1.neighbors = {{BSSID(m(7, 7)), 4, {'n', 'e', 'x', 't'}, 150, "20", 0, 0, 0, 0}};
        s1.num_neighbors = 1;
        ChannelScanResultTLV s2 = s1;
        s2.radio_id = r5.radio_id;
        s2.op_class = 115;
        s2.channel = 40;
        s2.neighbors.clear();
        s2.num_neighbors = 0;
        scan.results = {s1, s2};
        root_dev_->update_ch_scan_report(scan);

        // The stack's view: manufacturer of the root.
        map_ale_info_t* ale = get_ale(m(0, 1));
        if (ale)
            map_update_ale_m1(ale, "Maker", "Model", "1", "SN-1", "gw", 3);
    }

    Device* root_dev_ = nullptr;
    Device* local_ = nullptr;
    Device* b1_ = nullptr;
    Device* b2_ = nullptr;
};

const Value* find_by(const Value& arr, const char* key, const std::string& value) {
    for (const Value& v : arr.GetArray())
        if (v.IsObject() && v.HasMember(key) && v[key].IsString() && value == v[key].GetString())
            return &v;
    return nullptr;
}

// The element find_by() finds, null when there is none (for json_has only).
const Value& by(const Value& arr, const char* key, const std::string& value) {
    static const Value none;
    const Value* v = find_by(arr, key, value);
    return v ? *v : none;
}

TEST_F(RoutesTest, GraphDocumentHoldsEveryNodeAndLink) {
    rapidjson::Document doc;
    get_json("/debug/graph", doc);
    EXPECT_TRUE(json_has(doc, R"({"root": "020000000001", "local-agent": "020000000002"})"));
    ASSERT_EQ(doc["nodes"].Size(), 7u);
    const Value* b1 = find_by(doc["nodes"], "mac", rest(m(1, 1)));
    ASSERT_NE(b1, nullptr);
    EXPECT_STREQ((*b1)["interfaces"][0]["media"].GetString(), "gigabit ethernet");
    EXPECT_TRUE(json_has(by((*b1)["links"], "to", rest(m(2, 9))), R"({"kind": "ASSOC",
        "medium": "WIFI_5G_HIGH", "backbone": true, "rcpi": 180, "tx-rate": 866})"));
    EXPECT_TRUE(json_has(by((*b1)["links"], "to", rest(m(0, 2))),
                         R"({"kind": "WIRE", "cost": 10, "to-name": "Local_agent"})"));
    EXPECT_TRUE(json_has(by(doc["nodes"], "mac", rest(m(2, 9))),
                         R"({"backhaul-sta": true, "owner-device": "020000000201"})"));
    const Value* root = find_by(doc["nodes"], "mac", rest(m(0, 1)));
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(json_has(by((*root)["links"], "kind", "UN-ASSOC"), R"({"channel": 36})"));

    // Trailing slash reaches the route; more components, or POST, do not.
    EXPECT_EQ(ask(get_request("/debug/graph/")).status, 200);
    EXPECT_EQ(ask(get_request("/debug/graph/extra")).status, 404);
    EXPECT_EQ(ask(body_request("POST", "/debug/graph", "{}")).status, 404);
}

TEST_F(RoutesTest, TopologyListsApsWithInfoLinksAndSsids) {
    rapidjson::Document doc;
    get_json("/1/topology", doc);
    const Value& aps = doc["aps"];
    // Root first, then the co-located agent.
    ASSERT_TRUE(json_has(aps, R"([{"al-mac": "020000000001", "role": "controller",
        "info": {"manufacturer": "Maker", "serial-number": "SN-1"}, "client-count": 1,
        "ssids": [{"ssid": "home"}, {}, {}]}, {"role": "local-agent"}, {}, {}])"));
    // B1's link to B2 goes through B2's backhaul STA and names B2.
    const Value* b1 = find_by(aps, "al-mac", rest(m(1, 1)));
    ASSERT_NE(b1, nullptr);
    EXPECT_TRUE(json_has(by((*b1)["links"], "to", rest(m(2, 1))),
                         R"({"type": "wireless", "medium": "wifi-5high", "to-name": "B2"})"));
    EXPECT_TRUE(json_has(by(aps, "al-mac", rest(m(2, 1))),
                         R"({"backhaul": {"cost-to-root": 123, "medium": "WIFI_5G_HIGH"}})"));
}

TEST_F(RoutesTest, DebugApsRendersDevicesRadiosBssesAndCapabilities) {
    // What the mesh tells beyond the fixture: the 5 GHz radio also runs the 80 MHz class
    // 128 (the stack derives its channels), the root reports channel preferences for it,
    // its vendor agent names the 5 GHz fronthaul VAP, the controller holds a credential
    // for "home", and client C1 was asked to leave its BSS (no BTM report yet).
    root_dev_->ap_capability->radios[1].operating_classes.push_back({128, 0, 0, {}});
    map_radio_info_t* sr5 = map_update_radio(get_ale(m(0, 1)), m(0, 0x50));
    ASSERT_NE(sr5, nullptr);
    const map_op_class_param_t classes[] = {{115, 23, 0, nullptr}, {128, 23, 0, nullptr}};
    ASSERT_EQ(map_update_radio_basic_caps(sr5, 8, classes, 2), 0);
    channel_preference_tlv pref;
    pref.radio_id = m(0, 0x50);
    pref.op_classes = {{115, 2, {40, 44}, 0, 7}, {115, 1, {48}, 6, 2}, {128, 0, {}, 0, 4}};
    pref.num_op_classes = 3;
    CmduPtr report = CmduBuilder(CMDU_TYPE_CHANNEL_PREFERENCE_REPORT, 9).add(pref).build();
    ASSERT_TRUE(report);
    report->src_al_mac = m(0, 1);
    cmdu_dispatch(report.get());
    root_dev_->hkt_vaps = {HKTVapInfo{"wl1.0", BSSID(m(0, 0x51)), "home", 0x0020, 0x0008, 1}};
    set_credentials({{"home", "correct horse battery", 0x0060, MAP_CRED_FRONTHAUL, 0, 0}});
    SteeringMinder::SteeringReNode* c1 = ctx_->steering_minder->apply_steer_re_node(m(9, 1));
    ASSERT_NE(c1, nullptr);
    c1->last_steer_ms = 5000;
    c1->last_src_bssid = BSSID(m(0, 0x51));

    rapidjson::Document doc;
    get_json("/debug/aps", doc);
    const Value* root = find_by(doc["aps"], "al-mac", rest(m(0, 1)));
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(json_has(*root, R"({"manufacturer-name": "Maker", "max-total-num-vid": 2,
        "agent-capability": {"ib-unassociated-sta-link-metrics-supported": true}})"));
    ASSERT_EQ((*root)["eth-neigh-link-metrics"].Size(), 1u);
    ASSERT_EQ((*root)["last-unassociated-sta-metrics-tlv"].Size(), 1u);
    ASSERT_EQ((*root)["radios"].Size(), 2u);
    const Value& r24 = (*root)["radios"][0];
    const Value& r5 = (*root)["radios"][1];
    // A radio without a VHT or HE report renders them null. Each operating class shows the
    // radio's last preferences: the lowest preference of the class with its reason, its
    // channels at preference 0, and the 20 MHz control channels of the channels the stack
    // derived; a class the report leaves out is at preference 15. The BSS without a VAP
    // report has the credential's security.
    EXPECT_TRUE(json_has(r24, R"({"radio-vht-capabilities": null, "radio-he-capabilities": null,
        "unassociated-metrics": null,
        "op-class-list": [{"op-class": 81, "static-non-operable-channels": [12, 13], "pref": 15,
                           "reason": 0, "dynamic-non-operable-channels": []}],
        "bss-list": [{"iface-name": "",
                      "supported-sec-modes": ["wpa2-personal", "wpa3-personal"]}]})"));
    // VHT 0xfffa: six unsupported streams, then two up to MCS 9; 0x0000: eight 7s. The root's
    // unassociated measurement (class 115) belongs to the 5 GHz radio.
    EXPECT_TRUE(json_has(r5, R"({"current-op-class": 115, "current-op-channel": 36,
        "current-bw": 20, "current-tx-pwr-mw": 100, "num-bss": 2, "max-bss": 8, "iface-name": "",
        "radio-capabilities": {"max-bandwidth-mhz": 160, "max-tx-spatial-streams": 2,
                               "transmit-power-limit-dbm": 23, "su-beamformer-capable": true,
                               "supported-standard": 4},
        "radio-vht-capabilities": {"supported-tx-mcs-map": [0, 0, 0, 0, 0, 0, 9, 9],
                                   "supported-rx-mcs-map": [7, 7, 7, 7, 7, 7, 7, 7]},
        "radio-he-capabilities": {"supported-tx-rx-mcs-map": [250, 255, 250, 255],
                                  "dl-ofdma-capable": true},
        "unassociated-metrics": [{"sta-mac": "020000000902"}],
        "op-class-list": [{"pref": 0, "reason": 7, "dynamic-non-operable-channels": [40, 44]},
                          {"reason": 4,
                           "agent-channels": [42, 58, 106, 122, 138, 155, 171],
                           "dynamic-non-operable-channels": [42, 58, 106, 122, 138, 155, 171],
                           "control-channels": [36, 40, 44, 48, 52, 56, 60, 64, 100, 104, 108,
                                                112, 116, 120, 124, 128, 132, 136, 140, 144, 149,
                                                153, 157, 161, 165, 169, 173, 177]}]})"));
    const Value& oc115 = r5["op-class-list"][0];
    EXPECT_TRUE(oc115["control-channels"] == oc115["agent-channels"]);
    // The VAP the vendor agent reports names the BSS and gives its security; the
    // controller's credential for the SSID is its WSC data (never the key). No VAP report
    // and no credential: nothing.
    EXPECT_TRUE(json_has(by(r5["bss-list"], "bssid", rest(m(0, 0x51))), R"({
        "wifi-standard": "Wi-Fi 5", "channel-utilization": 37, "sta-list": ["020000000901"],
        "iface-name": "wl1.0", "supported-sec-modes": ["wpa2-personal"],
        "wsc-data": {"ssid": "home", "key-length": 21, "fronthaul": true},
        "btm-steer-request-sta-list": ["020000000901"]})"));
    EXPECT_TRUE(json_has(by(r5["bss-list"], "bssid", rest(m(0, 0x52))),
                         R"({"wsc-data": null, "supported-sec-modes": []})"));
    // The BTM report came back: no longer listed.
    c1->btm_ms = 6000;
    note_state_change();  // as the report's CMDU does
    get_json("/debug/aps", doc);
    root = find_by(doc["aps"], "al-mac", rest(m(0, 1)));
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(json_has(by((*root)["radios"][1]["bss-list"], "bssid", rest(m(0, 0x51))),
                         R"({"btm-steer-request-sta-list": []})"));
    stop_loop();
    map_config_reset();

    // B2's uplink is the association of its backhaul STA on B1; the reporting interval is the
    // one the controller sent.
    EXPECT_TRUE(json_has(by(doc["aps"], "al-mac", rest(m(2, 1))), R"({
        "upstream-link-metrics": {"tx-phy-rate-mbps": 866, "rssi-dbm": -20}, "bh-set": true,
        "agent-policy": {"metric-reporting-interval-sec": 5}})"));
    // B1's wired interface type and every counter of the last Link Metric Response, the wired
    // PHY rate included; the backhaul STA's link shows up under B1's backhaul BSS.
    const Value* b1 = find_by(doc["aps"], "al-mac", rest(m(1, 1)));
    ASSERT_NE(b1, nullptr);
    EXPECT_TRUE(json_has(*b1, R"j({"eth-neigh-link-metrics": [{
        "intf-type": "MEDIA_IEEE_802_3AB_GIGABIT_ETHERNET (0x0001)", "tx-phy-rate-mbps": 1000,
        "tx-packet-error-count": 4, "tx-packet-transmitted-count": 4000000000,
        "tx-mac-throughput-capacity-mbps": 940, "tx-link-availability-pct": 99,
        "rx-packet-received-count": 3000000000, "rx-packet-error-count": 6}]})j"));
    EXPECT_TRUE(json_has(by((*b1)["radios"][0]["bss-list"], "bssid", rest(m(1, 8))),
                         R"({"neighbor-link-metrics": [{"al-mac": "020000000201"}]})"));
}

TEST_F(RoutesTest, ApsRouteViewsAndErrors) {
    // C1 said (in what the graph learnt) that it makes active beacon reports, and it was
    // asked to leave its BSS: state 2 until the BTM report comes.
    graph().find_sta(m(9, 1))->capabilities.beacon_active = true;
    SteeringMinder::SteeringReNode* c1 = ctx_->steering_minder->apply_steer_re_node(m(9, 1));
    ASSERT_NE(c1, nullptr);
    c1->last_steer_ms = 5000;
    c1->last_src_bssid = BSSID(m(0, 0x51));
    rapidjson::Document doc;
    get_json("/1/aps", doc);
    EXPECT_EQ(doc["aps"].Size(), 4u);
    get_json("/1/aps/" + rest(m(1, 1)), doc);
    EXPECT_STREQ(doc["name"].GetString(), "B1");
    // The colon form of a MAC is accepted too.
    get_json("/1/aps/" + m(0, 1).to_string() + "/clients", doc);
    EXPECT_TRUE(json_has(doc, R"({"clients": [{"tx-bytes": 5000000000, "tx-pkts": 42,
        "dl-mac-datarate": 400, "max-tx-spatial-streams": 2, "dot11v-btm_support": true,
        "rssi": -30, "dot11k-brp_support": false, "dot11k-bra_support": true, "state": 2}]})"));
    c1->btm_ms = 6000;  // the report came (the loop thread is idle between requests)
    get_json("/1/aps/" + rest(m(0, 1)) + "/clients/" + rest(m(9, 1)), doc);
    EXPECT_TRUE(json_has(doc, R"({"clients": [{"state": 1}]})"));
    get_json("/1/aps/" + rest(m(0, 1)) + "/capabilities", doc);
    EXPECT_TRUE(json_has(
        doc, R"({"radios": [{"radio-vht-capabilities": null}, {"radio-vht-capabilities": {}}]})"));
    get_json("/1/aps/" + rest(m(0, 1)) + "/stats", doc);
    EXPECT_EQ(doc["bss-metrics"].Size(), 3u);
    get_json("/1/aps/" + rest(m(0, 1)) + "/sensing-data", doc);
    EXPECT_TRUE(json_has(doc, R"({"sensing-data": [{"rcpi": 100}]})"));

    HttpAnswer a = ask(get_request("/1/aps/" + rest(m(0, 1)) + "/clients/zz"));
    EXPECT_EQ(a.status, 400);
    EXPECT_NE(a.body.find("Invalid Client MAC: zz"), std::string::npos) << a.body;
    a = ask(get_request("/1/aps/" + rest(m(0, 1)) + "/bogus"));
    EXPECT_EQ(a.status, 400);
    EXPECT_NE(a.body.find("Invalid info type: [bogus]"), std::string::npos) << a.body;
    EXPECT_EQ(ask(get_request("/1/aps/" + rest(m(0, 1)) + "/stats/x")).status, 400);
    EXPECT_EQ(ask(get_request("/1/aps/" + rest(m(5, 5)))).status, 404);
    EXPECT_EQ(ask(get_request("/1/aps/nonsense")).status, 400);
    EXPECT_EQ(ask(get_request("/1/aps/" + rest(m(0, 1)) + "/clients/" + rest(m(9, 9)))).status,
              404);
    std::string log = log_->text();
    EXPECT_NE(log.find("Invalid Client MAC: zz Request rejected"), std::string::npos);
    EXPECT_NE(log.find("Invalid info type: [bogus]. request rejected"), std::string::npos);
}

TEST_F(RoutesTest, CapabilityAndScanReports) {
    rapidjson::Document doc;
    get_json("/debug/ap_capabilities?al-mac=" + rest(m(0, 1)), doc);
    ASSERT_TRUE(json_has(doc, R"({"ApCababilityReport": {"max-vids": 2}})"));
    EXPECT_EQ(doc["ApCababilityReport"]["radios"].Size(), 2u);
    get_json("/debug/ap_capabilities?al-mac=" + rest(m(1, 1)), doc);
    EXPECT_TRUE(doc["ApCababilityReport"].IsNull());
    for (const char* q : {"", "?al-mac=", "?al-mac=020000000505", "?al-mac=xyz"}) {
        HttpAnswer a = ask(get_request(std::string("/debug/ap_capabilities") + q));
        EXPECT_EQ(a.status, 400) << q;
        EXPECT_NE(a.body.find("AL-MAC address not present in graph minder"), std::string::npos);
    }

    get_json("/debug/ch_scan_report?al-mac=" + rest(m(0, 1)), doc);
    EXPECT_TRUE(json_has(doc, R"({"ChannelScanReport": {"results": [{"Channel-Scan-Result": {
        "Channel-Scan-Timestamp": {"timestamp": "2026-12-06T00:00:00Z"},
        "NeighbourInfo": [{"ssid_list": "next"}]}}, {}]}})"));
    get_json("/debug/ch_scan_report?al-mac=" + rest(m(0, 1)) + "&band=5g", doc);
    EXPECT_TRUE(json_has(
        doc, R"({"ChannelScanReport": {"results": [{"Channel-Scan-Result": {"channel": 40}}]}})"));
    get_json("/debug/ch_scan_report?al-mac=" + rest(m(0, 1)) + "&channel=6", doc);
    EXPECT_TRUE(json_has(
        doc, R"({"ChannelScanReport": {"results": [{"Channel-Scan-Result": {"channel": 6}}]}})"));
    EXPECT_EQ(ask(get_request("/debug/ch_scan_report?al-mac=" + rest(m(0, 1)) + "&band=7g")).status,
              400);
    // Request text echoed in an answer or a log line is cut and has no control bytes.
    HttpAnswer echo = ask(get_request("/debug/ch_scan_report?al-mac=" + rest(m(0, 1)) +
                                      "&band=a%0Ab" + std::string(200, 'x')));
    EXPECT_EQ(echo.status, 400);
    EXPECT_NE(echo.body.find("Invalid band: a?b" + std::string(61, 'x') + "..."), std::string::npos)
        << echo.body;
    EXPECT_EQ(log_->text().find("a\nb"), std::string::npos);
    EXPECT_EQ(
        ask(get_request("/debug/ch_scan_report?al-mac=" + rest(m(0, 1)) + "&channel=0")).status,
        400);
}

TEST_F(RoutesTest, MetricsAndQueries) {
    rapidjson::Document doc;
    get_json("/debug/ap_metrics_data", doc);
    EXPECT_TRUE(json_has(by(doc["aps"], "al-mac", rest(m(0, 1))),
                         R"({"bss-metrics": [{}], "radio-metrics": [{"noise": 90}]})"));

    // The stack is not started here: every query is refused (root and B1 operate BSSs).
    get_json("/debug/ap_metrics_query", doc);
    EXPECT_TRUE(json_has(doc, R"({"sent": 0, "refused": 2})"));
    HttpAnswer a = ask(body_request("POST", "/debug/ap_metrics_query?al-mac=" + rest(m(1, 1)), ""));
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("\"refused\": 1"), std::string::npos) << a.body;
    EXPECT_EQ(
        ask(get_request("/debug/ch_scan_request?al-mac=" + rest(m(0, 1)) + "&channel=36")).status,
        503);
    EXPECT_EQ(
        ask(get_request("/debug/ch_scan_request?al-mac=" + rest(m(0, 1)) + "&channel=abc")).status,
        400);
    EXPECT_EQ(ask(get_request("/debug/ch_scan_request")).status, 400);
}

TEST_F(RoutesTest, CurrentOpChannelChangesTheGraphAllOrNothing) {
    HttpAnswer a = ask(body_request("PUT", "/debug/current-op-channel", R"({"entries": [
        {"bssid": "020000000021", "operating-class": 81, "channel": 11}]})"));
    EXPECT_EQ(a.status, 200) << a.body;
    EXPECT_TRUE(a.body.empty());
    rapidjson::Document doc;
    get_json("/debug/aps", doc);
    const char* channels =
        R"({"radios": [{"current-op-channel": 11}, {"current-op-channel": 36}]})";
    EXPECT_TRUE(json_has(by(doc["aps"], "al-mac", rest(m(0, 1))), channels));

    // One bad entry: nothing changes.
    a = ask(body_request("PUT", "/debug/current-op-channel", R"({"entries": [
        {"bssid": "020000000051", "operating-class": 115, "channel": 44},
        {"bssid": "020000000606", "operating-class": 81, "channel": 1}]})"));
    EXPECT_EQ(a.status, 400);
    EXPECT_NE(a.body.find("Unknown BSSID"), std::string::npos) << a.body;
    get_json("/debug/aps", doc);
    EXPECT_TRUE(json_has(by(doc["aps"], "al-mac", rest(m(0, 1))), channels));

    for (const char* bad :
         {"[]", "{}", "{\"entries\": []}", "{\"entries\": [1]}",
          "{\"entries\": [{\"bssid\": \"020000000021\", \"operating-class\": 81}]}",
          "{\"entries\": [{\"bssid\": \"020000000021\", \"operating-class\": 300, \"channel\": "
          "1}]}",
          "{\"entries\": [{\"bssid\": 5, \"operating-class\": 81, \"channel\": 1}]}"})
        EXPECT_EQ(ask(body_request("PUT", "/debug/current-op-channel", bad)).status, 400) << bad;
    EXPECT_EQ(ask(body_request("PUT", "/debug/current-op-channel", "{bad")).status, 400);
    EXPECT_EQ(ask(get_request("/debug/current-op-channel")).status, 404);
}

TEST_F(RoutesTest, UnassocMetricsSettings) {
    rapidjson::Document doc;
    get_json("/debug/unassoc-metrics", doc);
    EXPECT_EQ(doc["uassoc-metrics-settings"].Size(), 0u);
    const std::string body = "{\"al-mac\": \"" + rest(m(1, 1)) +
                             "\", \"fronthaul\": false, \"unassociated-metrics-type\": \"hkt\"}";
    HttpAnswer a = ask(body_request("PUT", "/debug/unassoc-metrics", body));
    EXPECT_EQ(a.status, 200) << a.body;
    get_json("/debug/unassoc-metrics", doc);
    EXPECT_TRUE(json_has(doc, R"({"uassoc-metrics-settings": [{"al-mac": "020000000101",
        "fronthaul": false, "unassociated-metrics-type": "hkt"}]})"));
    const UnassocMetricsSetting* set = unassoc_metrics_settings().find(m(1, 1));
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->type, UnassocMetricsSource::HKT);

    const std::string prefix = "{\"al-mac\": \"" + rest(m(1, 1)) + "\", \"fronthaul\": true, ";
    for (const std::string& bad :
         {prefix + "\"unassociated-metrics-type\": \"some\"}",
          prefix + "\"unassociated-metrics-type\": 1}", std::string("{\"fronthaul\": true}"),
          "{\"al-mac\": \"" + rest(m(5, 5)) +
              "\", \"fronthaul\": true, \"unassociated-metrics-type\": \"all\"}",
          std::string(
              "{\"al-mac\": \"bad\", \"fronthaul\": true, \"unassociated-metrics-type\": \"all\"}"),
          "{\"al-mac\": \"" + rest(m(1, 1)) +
              "\", \"fronthaul\": 1, \"unassociated-metrics-type\": \"all\"}"})
        EXPECT_EQ(ask(body_request("PUT", "/debug/unassoc-metrics", bad)).status, 400) << bad;
    EXPECT_EQ(unassoc_metrics_settings().entries().size(), 1u);
}

TEST_F(RoutesTest, LogLevelsApplyLiveAndPersist) {
    rapidjson::Document doc;
    get_json("/1/log-config", doc);
    // Every module is listed with its level.
    for (const char* mod : {"root", "root.configuration", "root.controller", "root.data",
                            "root.graph", "root.mgmt", "root.rest", "root.steering", "map.1905",
                            "map.library", "map.controller", "map.vendor-ipc"})
        EXPECT_TRUE(doc["log-level"].HasMember(mod) && doc["log-level"][mod].IsString()) << mod;
    EXPECT_TRUE(doc["log-path"].IsString());

    HttpAnswer a = ask(body_request(
        "PUT", "/1/log-level",
        "{\"log-level\": {\"root.graph\": \"debug\", \"root.rest\": 3, \"map.controller\": "
        "\"warning\"}}"));
    EXPECT_EQ(a.status, 200) << a.body;
    EXPECT_EQ(ctx_->graph_minder->logger()->level(), 7);
    EXPECT_EQ(ctx_->rest_minder->logger()->level(), 3);
    EXPECT_EQ(get_map_module_log_level(MAP_LOG_CONTROLLER), 4);
    get_json("/1/log-config", doc);
    EXPECT_TRUE(json_has(doc, R"({"log-level": {"root.graph": "debug", "root.rest": "err",
        "map.controller": "warn", "root": "info"}})"));
    std::string file = read_text(root_.path("/configs/easymesh/ozr_dbg_db.json"));
    rapidjson::Document saved;
    saved.Parse(file.c_str());
    EXPECT_TRUE(json_has(saved, R"({"ozr-log-configuration": {"root.graph": "debug",
        "root.rest": "err"}, "map-log-configuration": {"map.controller": "warn"}})"));

    // A bad module or level changes nothing.
    for (const char* bad : {"{\"log-level\": {\"root.graph\": \"info\", \"root.nope\": \"info\"}}",
                            "{\"log-level\": {\"root.graph\": \"info\", \"root.data\": \"loud\"}}",
                            "{\"log-level\": {\"root.graph\": 8}}", "{\"log-level\": {}}",
                            "{\"log-level\": \"debug\"}", "{\"level\": {}}", "[1]"}) {
        a = ask(body_request("PUT", "/1/log-level", bad));
        EXPECT_EQ(a.status, 400) << bad;
    }
    EXPECT_EQ(ctx_->graph_minder->logger()->level(), 7);
    EXPECT_EQ(read_text(root_.path("/configs/easymesh/ozr_dbg_db.json")), file);

    a = ask(body_request("PUT", "/1/log-path", "{\"log-path\": \"/tmp/ozr.log\"}"));
    EXPECT_EQ(a.status, 200) << a.body;
    get_json("/1/log-config", doc);
    EXPECT_TRUE(json_has(doc, R"({"log-path": "/tmp/ozr.log"})"));
    saved.Parse(read_text(root_.path("/configs/easymesh/ozr_dbg_db.json")).c_str());
    EXPECT_TRUE(json_has(saved, R"({"log-destination": "/tmp/ozr.log"})"));
    EXPECT_EQ(ask(body_request("PUT", "/1/log-path", "{\"log-path\": \"\"}")).status, 400);
    EXPECT_EQ(ask(body_request("PUT", "/1/log-path", "{\"log-path\": 3}")).status, 400);
    EXPECT_EQ(
        ask(body_request("PUT", "/1/log-path", "{\"log-path\": \"" + std::string(300, 'a') + "\"}"))
            .status,
        400);
    EXPECT_EQ(ask(get_request("/1/log-level")).status, 404);
}

TEST_F(RoutesTest, ContextSummaryAndVersion) {
    rapidjson::Document doc;
    get_json("/debug/context", doc);
    EXPECT_TRUE(json_has(doc, R"({"[/debug/context]": {"graph-minder": true, "graph-devices": 4,
        "graph-stations": 3, "rest-connections": 1}})"));
    get_json("/1/version", doc);
    EXPECT_TRUE(json_has(doc, R"({"name": "ozr"})"));
}

// The credential table without its secrets: SSIDs and flags, never a key.
TEST_F(RoutesTest, MapCfgShowsTheCredentialTableWithKeyLengthsOnly) {
    rapidjson::Document doc;
    map_config_reset();
    get_json("/debug/map-cfg", doc);
    // The SSID credential sync has compared nothing yet.
    EXPECT_TRUE(json_has(doc, R"({"map-cfg": {"credentials-cfg": {"count": 0, "credentials": []},
        "ssid-sync": {"renews-sent": 0, "agents": []}}})"));

    set_credentials(
        {{"Home", "correct horse battery", 0x0020, MAP_CRED_FRONTHAUL, 0, 0},
         {"Home-bh", "0123456789abcdef", 0x0060, MAP_CRED_BACKHAUL | MAP_CRED_FRONTHAUL, 0x03, 1}});
    HttpAnswer a = ask(get_request("/debug/map-cfg"));
    ASSERT_EQ(a.status, 200);
    EXPECT_EQ(a.body.find("correct horse"), std::string::npos) << a.body;
    EXPECT_EQ(a.body.find("0123456789abcdef"), std::string::npos) << a.body;
    EXPECT_TRUE(json_has(json(a), R"({"map-cfg": {"credentials-cfg": {"count": 2, "credentials": [
        {"ssid": "Home", "key-length": 21, "security": "wpa2-personal", "bands": ["any"],
         "fronthaul": true, "backhaul": false, "hidden": false},
        {"key-length": 16, "security": "wpa2-wpa3-personal", "auth-type": 96,
         "bands": ["2.4", "5"], "fronthaul": true, "backhaul": true, "hidden": true}]}}})"));
    stop_loop();
    map_config_reset();
}

TEST_F(RoutesTest, RenderingAllocatesFromTheDocumentPoolOnly) {
    if (!count_new_available())
        GTEST_SKIP() << "no way to count allocations in this build";
    // The stations' association frames come from the stack's model as well.
    map_ale_info_t* ale = get_ale(m(0, 1));
    ASSERT_NE(ale, nullptr);
    map_update_sta(ale, m(9, 1), BSSID(m(0, 0x51)), 30);
    graph().find_sta(m(9, 1))->capabilities.add_channel(36);
    graph().find_sta(m(9, 1))->capabilities.steer_category = sta_categories::ASSISTED_ROAMING;
    ctx_->rest_minder->set_log_level(3);
    const Logger* log = ctx_->rest_minder->logger();
    const Graph& g = graph();
    for (int round = 0; round < 2; ++round) {
        rapidjson::Document doc;
        auto& alloc = doc.GetAllocator();
        JSONObjectRenderer(doc).add_string("warm-up", "the pool's first chunk");
        count_new_reset();
        count_new_start();
        Value graph_doc(rapidjson::kObjectType);
        JSONGraphRenderer(graph_doc, alloc, g, 5000).render();
        Value aps(rapidjson::kArrayType);
        for (const auto& kv : g.nodes) {
            if (kv.second->kind() != Node::DEVICE)
                continue;
            const auto& d = *static_cast<const Device*>(kv.second);
            aps.PushBack(Value(rapidjson::kObjectType), alloc);
            JSONTopologyApRenderer(aps[aps.Size() - 1], alloc, g, d, 5000).render();
            aps.PushBack(Value(rapidjson::kObjectType), alloc);
            JSONAPRenderer(aps[aps.Size() - 1], alloc, g, d, 5000, log).render();
            for (const Link* l : d.links)
                if (l->kind() == Link::WIRELESS) {
                    aps.PushBack(Value(rapidjson::kObjectType), alloc);
                    JSONStaRenderer(aps[aps.Size() - 1], alloc, d,
                                    *static_cast<const WirelessLink*>(l), g.find_sta(l->to),
                                    get_sta(l->to), 5000)
                        .render();
                }
        }
        Value scan(rapidjson::kObjectType);
        ChannelScanReportRenderer(scan, alloc, *root_dev_, -1, 0).render();
        count_new_stop();
        EXPECT_EQ(count_new_calls(), 0u) << "round " << round;

        // Writing the answer: the body and the header lines grow (reserved here, they
        // belong to the response); the writer itself takes nothing from the heap.
        HttpResponse resp;
        JSONGraphRenderer(resp.document, resp.document.GetAllocator(), g, 5000).render();
        resp.body.reserve(1 << 20);
        resp.headers.reserve(256);
        count_new_reset();
        count_new_start();
        ASSERT_TRUE(render_json_body(resp));
        count_new_stop();
        EXPECT_GT(resp.body.size(), 1000u);
        EXPECT_EQ(count_new_calls(), 0u) << "round " << round;
        EXPECT_GT(aps.Size(), 8u);
    }
}

TEST_F(RoutesTest, StationCapabilitiesComeFromTheKeptAssociationRequest) {
    ozr_clock::set_manual(10000000);
    // Association request body: capability information, listen interval, SSID "home",
    // rates, HT capabilities (40 MHz, short GI at 20 MHz, two streams), RM enabled
    // capabilities, extended capabilities with BSS transition (bit 19).
    std::vector<uint8_t> body = {0x31, 0x04, 0x0a, 0x00, 0, 4, 'h', 'o', 'm', 'e', 1, 1, 0x82};
    std::vector<uint8_t> ht(28, 0);
    ht[0] = 45;
    ht[1] = 26;
    ht[2] = 0x22;
    ht[5] = 0xff;
    ht[6] = 0xff;
    body.insert(body.end(), ht.begin(), ht.end());
    body.insert(body.end(), {70, 5, 0x11, 0, 0, 0, 0, 127, 3, 0, 0, 0x08});
    map_ale_info_t* ale = get_ale(m(0, 1));
    ASSERT_NE(ale, nullptr);
    ASSERT_NE(map_update_sta(ale, m(9, 1), BSSID(m(0, 0x51)), 30), nullptr);
    ASSERT_EQ(map_update_sta_assoc_frame(m(9, 1), body.data(), body.size()), 0);
    // What the graph learnt says otherwise: the request wins.
    graph().find_sta(m(9, 1))->capabilities.mimo_txcount = 4;

    rapidjson::Document doc;
    get_json("/1/aps/" + rest(m(0, 1)) + "/clients/" + rest(m(9, 1)), doc);
    // 53 bytes, associated at (10000000 - 30000) ms; RM capabilities: passive beacon only.
    EXPECT_TRUE(json_has(doc, R"({"clients": [{"assoc-frame-len": 53, "assoc-time": 9970,
        "sine-assoc_time": 30, "supported-standard": 3, "max-bandwidth": 40,
        "max-rx-spatial-streams": 2, "max-tx-spatial-streams": 2, "sgi-support": true,
        "dot11k-support": true, "dot11k-brp_support": true, "dot11k-bra_support": false,
        "dot11v-btm_support": true, "dot11ax_5g_support": false}]})"));

    // Associated longer ago than the clock counts: no negative time wraps round.
    ozr_clock::set_manual(5000);
    ASSERT_NE(map_update_sta(ale, m(9, 1), BSSID(m(0, 0x52)), 123), nullptr);
    get_json("/1/aps/" + rest(m(0, 1)) + "/clients/" + rest(m(9, 1)), doc);
    EXPECT_TRUE(json_has(doc, R"({"clients": [{"assoc-time": 0, "sine-assoc_time": 123}]})"));
}

// The graph documents are rendered once per state change and answered from the kept
// text, time-dependent values written afresh: every answer is the one a fresh render gives.
TEST_F(RoutesTest, CachedDocumentsAreByteIdenticalToAFreshRender) {
    ozr_clock::set_manual(2000000);
    DispatchTable& table = ctx_->rest_minder->service()->table();
    // The answer without its entity tag lines (a render that bypasses the cache has none).
    auto text = [](const HttpAnswer& a) {
        std::string head;
        for (size_t at = 0, end; at < a.head.size(); at = end + 2) {
            end = a.head.find("\r\n", at);
            if (end == std::string::npos)
                end = a.head.size();
            std::string line = a.head.substr(at, end - at);
            if (line.rfind("ETag:", 0) != 0 && line.rfind("Cache-Control:", 0) != 0)
                head += line + "\r\n";
        }
        return head + a.body;
    };
    // Asked with If-None-Match: TAG, answered 304 (no body, no render) or as anew.
    auto if_none_match = [&](const std::string& uri, const std::string& tag) {
        return ask(get_request(uri, "If-None-Match: " + tag + "\r\n"));
    };
    // The answer of a render that bypasses the cache.
    auto fresh = [&](const std::string& uri) {
        table.set_cache_enabled(false);
        HttpAnswer a = ask(get_request(uri));
        table.set_cache_enabled(true);
        return a;
    };
    const std::vector<std::string> routes = {"/debug/graph", "/1/topology", "/debug/aps",
                                             "/ui/mesh"};
    std::vector<HttpAnswer> first;
    for (const std::string& r : routes) {
        uint64_t renders = table.cache_renders(), hits = table.cache_hits();
        HttpAnswer a = ask(get_request(r, "Origin: http://ui.local\r\n"));
        HttpAnswer b = ask(get_request(r));
        ASSERT_EQ(a.status, 200) << r;
        EXPECT_EQ(table.cache_renders(), renders + 1) << r;
        EXPECT_EQ(table.cache_hits(), hits + 1) << r;
        // Headers are the request's own (the Origin echoed or not), the body the same.
        EXPECT_EQ(a.headers["access-control-allow-origin"], "http://ui.local");
        EXPECT_EQ(b.headers["access-control-allow-origin"], "*");
        EXPECT_EQ(a.headers["content-type"], "application/json");
        EXPECT_EQ(a.body, b.body) << r;
        EXPECT_EQ(text(b), text(fresh(r))) << r;
        EXPECT_EQ(a.headers["etag"], b.headers["etag"]) << r;
        EXPECT_EQ(b.headers["cache-control"], "no-cache") << r;
        // The copy the client has: 304 with the tag, no body, no length.
        HttpAnswer same = if_none_match(r, "\"other\", " + b.headers["etag"]);
        EXPECT_EQ(same.status, 304) << r;
        EXPECT_EQ(same.body, "") << r;
        EXPECT_EQ(same.headers.count("content-length"), 0u) << r;
        EXPECT_EQ(same.headers["etag"], b.headers["etag"]) << r;
        EXPECT_EQ(table.cache_renders(), renders + 1) << r;
        EXPECT_EQ(if_none_match(r, "W/\"0000000000000000\"").status, 200) << r;
        // HEAD: the length of the body it leaves out.
        TestClient c;
        ASSERT_TRUE(c.connect(rest_.port()));
        ASSERT_TRUE(c.send("HEAD " + r + " HTTP/1.1\r\n\r\n"));
        HttpAnswer head;
        ASSERT_TRUE(c.read_answer(head, 5000, true)) << r;
        EXPECT_EQ(head.status, 200) << r;
        EXPECT_EQ(head.headers["content-length"], std::to_string(b.body.size())) << r;
        first.push_back(b);
    }

    // Time passes, nothing else: served from the text, the ages moved on, the tag stays.
    ozr_clock::advance(1500);
    for (size_t i = 0; i < routes.size(); ++i) {
        uint64_t renders = table.cache_renders();
        HttpAnswer a = ask(get_request(routes[i]));
        EXPECT_EQ(table.cache_renders(), renders) << routes[i];
        EXPECT_EQ(text(a), text(fresh(routes[i]))) << routes[i];
        EXPECT_EQ(a.headers["etag"], first[i].headers["etag"]) << routes[i];
        if (routes[i] == "/debug/graph") {
            EXPECT_NE(a.body, first[i].body);
        }
        EXPECT_EQ(if_none_match(routes[i], first[i].headers["etag"]).status, 304) << routes[i];
    }
    // The page's own files are no state change: the documents stay kept.
    {
        uint64_t renders = table.cache_renders();
        EXPECT_EQ(ask(get_request("/ui/app.js")).status, 200);
        EXPECT_EQ(if_none_match("/ui/mesh", first.back().headers["etag"]).status, 304);
        EXPECT_EQ(table.cache_renders(), renders);
    }

    // A CMDU changes the graph: a client joins B1.
    {
        CmduPtr n = CmduBuilder(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 77)
                        .source(m(1, 1))
                        .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, m(1, 1)})
                        .add(client_association_event_tlv{TLV_TYPE_CLIENT_ASSOCIATION_EVENT,
                                                          m(9, 7), BSSID(m(1, 8)), 1})
                        .build();
        ASSERT_TRUE(n);
        cmdu_dispatch(n.get());  // the loop thread is idle between requests
    }
    for (size_t i = 0; i < routes.size(); ++i) {
        const std::string& r = routes[i];
        uint64_t renders = table.cache_renders();
        HttpAnswer a = if_none_match(r, first[i].headers["etag"]);
        EXPECT_EQ(a.status, 200) << r;
        EXPECT_EQ(table.cache_renders(), renders + 1) << r;
        EXPECT_EQ(text(a), text(fresh(r))) << r;
        if (r != "/1/topology") {
            EXPECT_NE(a.body.find(rest(m(9, 7))), std::string::npos) << r;
            EXPECT_NE(a.headers["etag"], first[i].headers["etag"]) << r;
        }
    }

    // A request to any other route, here one that changes the graph.
    HttpAnswer put = ask(body_request("PUT", "/debug/current-op-channel",
                                      "{\"entries\": [{\"bssid\": \"" + rest(m(0, 0x21)) +
                                          "\", \"operating-class\": 81, \"channel\": 11}]}"));
    ASSERT_EQ(put.status, 200) << put.body;
    uint64_t renders = table.cache_renders();
    HttpAnswer aps = ask(get_request("/debug/aps"));
    EXPECT_EQ(table.cache_renders(), renders + 1);
    EXPECT_EQ(text(aps), text(fresh("/debug/aps")));
    EXPECT_NE(aps.body.find("\"current-op-channel\": 11"), std::string::npos);

    // A name that reads like the cache's own markers: not kept, answered right all the same.
    b1_->name = "-7000000000000000000";
    note_state_change();
    HttpAnswer odd = ask(get_request("/debug/graph"));
    EXPECT_EQ(text(odd), text(fresh("/debug/graph")));
    EXPECT_NE(odd.body.find("\"-7000000000000000000\""), std::string::npos);
}

// The page's files, each as it is in src/rest/ui, with the page's policy and a tag.
TEST_F(RoutesTest, ThePageIsServedWithItsPolicyAndEntityTags) {
    HttpAnswer root = ask(get_request("/"));
    EXPECT_EQ(root.status, 302);
    EXPECT_EQ(root.headers["location"], "/ui/");
    EXPECT_EQ(root.body, "");
    const struct {
        const char* uri;
        const char* file;
        const char* type;
    } files[] = {
        {"/ui", "index.html", "text/html; charset=utf-8"},
        {"/ui/", "index.html", "text/html; charset=utf-8"},
        {"/ui/app.js", "app.js", "text/javascript; charset=utf-8"},
        {"/ui/style.css", "style.css", "text/css; charset=utf-8"},
        {"/ui/icon.svg", "icon.svg", "image/svg+xml"},
    };
    for (const auto& f : files) {
        HttpAnswer a = ask(get_request(f.uri));
        ASSERT_EQ(a.status, 200) << f.uri;
        EXPECT_EQ(a.body, read_text(std::string(OZR_UI_DIR) + "/" + f.file)) << f.uri;
        EXPECT_EQ(a.headers["content-type"], f.type) << f.uri;
        EXPECT_EQ(a.headers["content-security-policy"],
                  "default-src 'self'; object-src 'none'; base-uri 'none'; form-action 'none'; "
                  "frame-ancestors 'none'")
            << f.uri;
        EXPECT_EQ(a.headers["x-content-type-options"], "nosniff") << f.uri;
        const std::string tag = a.headers["etag"];
        EXPECT_EQ(tag.size(), 18u) << tag;  // strong: "<16 hex digits>"
        HttpAnswer again = ask(get_request(f.uri, "If-None-Match: " + tag + "\r\n"));
        EXPECT_EQ(again.status, 304) << f.uri;
        EXPECT_EQ(again.body, "") << f.uri;
        EXPECT_EQ(again.headers["etag"], tag) << f.uri;
    }
    TestClient c;
    ASSERT_TRUE(c.connect(rest_.port()));
    ASSERT_TRUE(c.send("HEAD /ui/ HTTP/1.1\r\n\r\n" + get_request("/ui/icon.svg")));
    HttpAnswer head, next;
    ASSERT_TRUE(c.read_answer(head, 5000, true));
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.headers["content-length"],
              std::to_string(read_text(std::string(OZR_UI_DIR) + "/index.html").size()));
    ASSERT_TRUE(c.read_answer(next));  // no body came between the two answers
    EXPECT_EQ(next.headers["content-type"], "image/svg+xml");
    EXPECT_EQ(ask(get_request("/ui/other.js")).status, 404);
    EXPECT_EQ(ask(get_request("/ui/app.js/x")).status, 404);
}

// "/ui/mesh": the devices as "/1/topology" has them with their uplink, radios and
// clients, the latest steering requests with their outcome, and the other panels.
TEST_F(RoutesTest, ThePageDocumentHoldsTheMeshAndTheLatestSteers) {
    ozr_clock::set_manual(100000);
    SteeringMinder& sm = *ctx_->steering_minder;
    // Requests sent at t=5000..15000, each left as the table says: the newest ten are listed.
    const struct {
        uint64_t sent, btm_ms;
        uint8_t status, backoff;
        bool checked;
        const char* outcome;
    } steers[] = {
        {15000, 15100, 0, 0, false, "accepted"}, {14000, 14100, 6, 0, false, "refused"},
        {13000, 0, 0, 0, false, "pending"},      {12000, 12100, 0, 2, true, "roamed back"},
        {11000, 9000, 0, 0, false, "pending"},    // an answer to an earlier request
        {10000, 10100, 0, 1, false, "accepted"},  // back-off from before, not judged yet
        {9000, 9100, 0, 0, true, "accepted"},    {8000, 0, 0, 0, true, "moved"},  // no BTM
        {7000, 7100, 0, 0, true, "accepted"},    {6000, 6100, 7, 0, true, "refused"},
        {5000, 5100, 0, 0, true, "accepted"},  // the eleventh: not listed
    };
    for (size_t i = 0; i < sizeof steers / sizeof steers[0]; ++i) {
        SteeringMinder::SteeringReNode* n = sm.apply_steer_re_node(m(8, static_cast<uint8_t>(i)));
        ASSERT_NE(n, nullptr);
        n->last_steer_ms = steers[i].sent;
        n->last_src_bssid = BSSID(m(0, 0x51));
        n->last_steer_bssid = BSSID(m(1, 8));
        n->btm_ms = steers[i].btm_ms;
        n->btm_status = steers[i].status;
        n->backoff_counter = steers[i].backoff;
        n->unsteer_checked = steers[i].checked;
    }
    sm.apply_steer_re_node(m(8, 99));  // never steered: not listed
    note_state_change();
    rapidjson::Document doc;
    get_json("/ui/mesh", doc);
    const Value& devices = doc["devices"];
    ASSERT_TRUE(json_has(devices, R"([{"role": "controller"}, {"role": "local-agent"}, {}, {}])"));
    // Each device is its "/1/topology" object with three members more.
    rapidjson::Document topo;
    get_json("/1/topology", topo);
    for (rapidjson::SizeType i = 0; i < devices.Size(); ++i) {
        Value d;
        d.CopyFrom(devices[i], doc.GetAllocator());
        for (const char* extra : {"uplink", "radios", "clients"}) {
            EXPECT_TRUE(d.HasMember(extra)) << i;
            d.RemoveMember(extra);
        }
        d["info"].RemoveMember("last-seen-ms-ago");
        Value t;
        t.CopyFrom(topo["aps"][i], doc.GetAllocator());
        t["info"].RemoveMember("last-seen-ms-ago");
        EXPECT_TRUE(d == t) << i;
    }
    // B2's uplink is its backhaul STA's association on B1 (866 Mb/s; B1 reported no channel).
    EXPECT_TRUE(json_has(by(devices, "al-mac", rest(m(2, 1))), R"({
        "uplink": {"rate-mbps": 866, "channel": null},
        "clients": [{"mac": "020000000902", "btm": false}]})"));
    // The root's clients (C1 only: the unassociated measurement is none) and radios (no
    // channel report for 2.4 GHz).
    EXPECT_TRUE(json_has(by(devices, "al-mac", rest(m(0, 1))), R"({
        "clients": [{"bssid": "020000000051", "rssi": -30, "btm": true, "rrm": false}],
        "radios": [{"channel": 0, "band": null, "tx-power-dbm": null},
                   {"op-class": 115, "channel": 36, "bandwidth-mhz": 20, "tx-power-dbm": 20,
                    "band": "5"}]})"));

    const Value& latest = doc["steering"]["latest"];
    ASSERT_EQ(latest.Size(), 10u);
    for (rapidjson::SizeType i = 0; i < latest.Size(); ++i) {
        EXPECT_STREQ(latest[i]["mac"].GetString(), rest(m(8, static_cast<uint8_t>(i))).c_str());
        EXPECT_STREQ(latest[i]["outcome"].GetString(), steers[i].outcome) << i;
        EXPECT_EQ(latest[i]["ms-ago"].GetInt64(), 100000 - static_cast<int64_t>(steers[i].sent));
        EXPECT_EQ(latest[i]["backoff-counter"].GetUint(), steers[i].backoff) << i;
    }
    EXPECT_EQ(latest[1]["btm-status"].GetInt(), 6);
    EXPECT_EQ(latest[2]["btm-status"].GetInt(), -1);
    EXPECT_STREQ(latest[0]["to-bssid"].GetString(), rest(m(1, 8)).c_str());
}

TEST_F(RoutesTest, MissingMindersAnswer503) {
    ASSERT_EQ(ask(get_request("/debug/graph")).status, 200);
    GraphMinder* gm = ctx_->graph_minder;
    DataMinder* dm = ctx_->data_minder;
    // Between requests the loop thread does not look at the context.
    ctx_->graph_minder = nullptr;
    ctx_->data_minder = nullptr;
    note_state_change();  // what the cached documents show has changed
    HttpAnswer graph = ask(get_request("/debug/graph"));
    HttpAnswer topo = ask(get_request("/1/topology"));
    HttpAnswer logs = ask(get_request("/1/log-config"));
    HttpAnswer level = ask(body_request("PUT", "/1/log-level", "{\"log-level\": {\"root\": 7}}"));
    HttpAnswer ctx = ask(get_request("/debug/context"));
    ctx_->graph_minder = gm;
    ctx_->data_minder = dm;
    EXPECT_EQ(graph.status, 503);
    EXPECT_NE(graph.body.find("Cannot find graph minder"), std::string::npos) << graph.body;
    EXPECT_EQ(topo.status, 503);
    EXPECT_EQ(logs.status, 503);
    EXPECT_NE(logs.body.find("Cannot find data minder"), std::string::npos) << logs.body;
    EXPECT_EQ(level.status, 503);
    EXPECT_EQ(ctx.status, 200);
    EXPECT_NE(ctx.body.find("\"graph-minder\": false"), std::string::npos) << ctx.body;
}

TEST(RestRenderHelpers, TextsWithoutStringObjects) {
    MAC mac;
    EXPECT_TRUE(parse_rest_mac("02BE0100000a", 12, mac));
    EXPECT_EQ(mac, MAC(0x02, 0xbe, 0x01, 0, 0, 0x0a));
    EXPECT_TRUE(parse_rest_mac("02:be:01:00:00:0b", 17, mac));
    EXPECT_EQ(mac, MAC(0x02, 0xbe, 0x01, 0, 0, 0x0b));
    for (const char* bad :
         {"02be0100000", "02be0100000g", "02be01000000a", "", "zz:be:01:00:00:0b"})
        EXPECT_FALSE(parse_rest_mac(bad, std::strlen(bad), mac)) << bad;
    EXPECT_FALSE(parse_rest_mac(nullptr, 12, mac));

    char buf[32];
    EXPECT_STREQ(intf_type_to_buf(0x10105, buf, sizeof buf), "MEDIA_IEEE_802_11AC_5_GHZ (0x0105)");
    EXPECT_STREQ(intf_type_to_buf(0x0abc, buf, sizeof buf), "Unknown (0xabc)");
    EXPECT_EQ(intf_type_to_str(0x0abc), "Unknown (0xabc)");
    char small[8];
    EXPECT_STREQ(intf_type_to_buf(0x0abc, small, sizeof small), "Unknown");
    char bands[80];
    EXPECT_STREQ(band_type_to_buf(16 | 32 | 64 | 128, bands, sizeof bands),
                 "MAP_M2_BSS_RADIO2G MAP_M2_BSS_RADIO5GU MAP_M2_BSS_RADIO5GL MAP_M2_BSS_RADIO5GF");
    EXPECT_STREQ(band_type_to_buf(16 | 64, small, sizeof small), "MAP_M2_");
    EXPECT_STREQ(band_type_to_buf(0, bands, sizeof bands), "");
    // The stack's band bits: 5 GHz low is channels 36-64, named "5GL".
    EXPECT_EQ(stack_band_mask_to_band_bits(MAP_BAND_MASK_5G_LOW), 64u);
    EXPECT_EQ(stack_band_mask_to_band_bits(MAP_BAND_MASK_5G_HIGH), 32u);
    EXPECT_EQ(stack_band_mask_to_band_bits(MAP_BAND_MASK_2G | MAP_BAND_MASK_5G), 16u | 128u);
    EXPECT_EQ(link_medium_bits(Medium::WIFI_5G_LOW), 64u);
    EXPECT_STREQ(link_medium_to_string(link_medium_bits(Medium::WIFI_2G)), "wifi-24");
    EXPECT_STREQ(link_medium_to_string(link_medium_bits(Medium::UNKNOWN)), "");
    using P = std::pair<int, int>;
    for (const P& r : {P{0, 0}, P{221, 0}, P{220, 0}, P{1, -110}})
        EXPECT_EQ(rcpi_to_rssi_dbm(r.first), r.second) << r.first;
    for (const P& c : {P{81, 0}, P{128, 1}, P{131, 2}, P{7, -1}})
        EXPECT_EQ(op_class_band(c.first), c.second) << c.first;
}

TEST(RestMinderShutdown, AServerThatFailedToStartIsFreedOnlyAfterItsCloseCallback) {
    // A busy port: the listener is already closing when the context goes, and the loop
    // has not run since. The minder must let the close callback run before the server
    // is freed (AddressSanitizer sees the use after free otherwise).
    uv_loop_t loop;
    uv_loop_init(&loop);
    uv_tcp_t busy;
    uv_tcp_init(&loop, &busy);
    struct sockaddr_in addr;
    uv_ip4_addr("127.0.0.1", 0, &addr);
    ASSERT_EQ(uv_tcp_bind(&busy, reinterpret_cast<const struct sockaddr*>(&addr), 0), 0);
    ASSERT_EQ(uv_listen(reinterpret_cast<uv_stream_t*>(&busy), 1, [](uv_stream_t*, int) {}), 0);
    struct sockaddr_storage bound;
    int len = sizeof bound;
    ASSERT_EQ(uv_tcp_getsockname(&busy, reinterpret_cast<struct sockaddr*>(&bound), &len), 0);
    auto* ctx = new Context(&loop);
    RestListenAddress a;
    a.address = "127.0.0.1";
    a.port = ntohs(reinterpret_cast<struct sockaddr_in*>(&bound)->sin_port);
    EXPECT_NE(ctx->rest_minder->service()->start(*ctx, a), 0);
    ASSERT_TRUE(ctx->rest_minder->service()->server()->holds_handles());
    delete ctx;
    uv_close(reinterpret_cast<uv_handle_t*>(&busy), nullptr);
    uv_run(&loop, UV_RUN_DEFAULT);
    EXPECT_EQ(uv_loop_close(&loop), 0);
}

}  // namespace
