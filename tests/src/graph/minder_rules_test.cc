// The graph minder's rules one by one: a gone minder, kind conflicts, the debounce,
// measurement filters, RCPI conversion, stale links, client capabilities, link metrics.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "graph/path_cost.h"
#include "map/datamodel/datamodel.h"
#include "minder_harness.h"
#include "support/temp_root.h"

using namespace minder_test;
using M = Macs;
using ozr_test::count_of;

namespace {

const Device* dev(Harness& h, const MAC& m) {
    const Node* n = h.g().find_node(m);
    return n && n->kind() == Node::DEVICE ? static_cast<const Device*>(n) : nullptr;
}

void build_mesh(Harness& h) {
    topology_round(h);
    capabilities(h);
    topology_round(h);
}

TEST(GraphMinderSetup, AGoneMinderIgnoresTheCmdusItsHandlersStillReceive) {
    { Harness first; }
    Harness second;  // the first one's closures are still in the registry
    build_mesh(second);
    EXPECT_NE(dev(second, M::e2), nullptr);
}

TEST(GraphMinderNodes, KindConflictsReplaceTheNode) {
    Harness h;
    topology_round(h, false);
    const MAC x(0x02, 0, 0, 0, 0x07, 0x00);
    // X first shows up as a client of the local agent...
    Topo local = scripted_topologies(false)[1];
    local.clients = {{M::local_fh, {x}}};
    h.topology(local);
    ASSERT_NE(h.g().find_sta(x), nullptr);
    ASSERT_NE(h.g().local_agent->find_wireless_link(x), nullptr);
    // ...then answers as a Multi-AP device: a Device replaces the station and its links.
    Topo tx;
    tx.al = x;
    tx.ifs = {eth_if(x)};
    h.topology(tx);
    const Node* n = h.g().find_node(x);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->kind(), Node::DEVICE);
    EXPECT_EQ(n->name, "B2");
    EXPECT_EQ(h.g().local_agent->find_wireless_link(x), nullptr);
    EXPECT_TRUE(h.said("to be a Device, but pre-kind is not Device. Delete pre node"));
    // And back: reported associated again, it becomes a station.
    h.topology(local);
    n = h.g().find_node(x);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->kind(), Node::STA);
    EXPECT_TRUE(
        h.said("[MAC: 02:00:00:00:07:00] to be a Sta, but pre-kind is not Sta. Delete "
               "pre node"));
}

TEST(GraphMinderNodes, StaleLinksGoWithTheNextResponseButMeasurementsStay) {
    Harness h;
    build_mesh(h);
    h.advance(5000);
    h.unassoc_metrics(M::e1, 115, M::c1, 36, 10, 120);
    ASSERT_NE(dev(h, M::e1)->find_wired_link(M::wired), nullptr);
    // E1 no longer reports its wired client nor the local agent on its uplink.
    Topo e1;
    e1.al = M::e1;
    e1.ifs = {eth_if(M::e1_eth), eth_if(M::e1_lan), wifi_if(MAC(M::e1_bh), M::e1_bh, 0)};
    e1.radios = {{M::e1_radio, {{M::e1_fh, "home"}, {M::e1_bh, "bh"}}}};
    e1.clients = {{M::e1_bh, {M::e2_bsta}}};
    h.topology(e1);
    const Device* d = dev(h, M::e1);
    EXPECT_EQ(d->find_wired_link(M::wired), nullptr);
    EXPECT_EQ(d->find_wired_link(M::local), nullptr);
    EXPECT_NE(d->find_wireless_link(M::e2_bsta), nullptr);
    const Link* u = d->find_link_by_bssid(M::c1, M::e1_fh);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->kind(), Link::UNASSOCIATED);
    EXPECT_TRUE(h.said("deleting link for B1 02:00:00:00:03:00 => MAC: 5c:00:00:00:00:0a"));
    // Without its wired uplink reported back, E1 falls out of the working paths.
    h.gm().update_devices_backhaul_information();
    backhaul_information b;
    ASSERT_TRUE(h.gm().get_device_backhaul_information(M::e1, b));
    EXPECT_FALSE(b.is_backhaul_connected);
}

TEST(GraphMinderNodes, LinksAgeOutOnTheirOwn) {
    Harness h;
    build_mesh(h);
    h.advance(5000);
    h.unassoc_metrics(M::e1, 115, M::c1, 36, 10, 120);
    // Everybody keeps answering; nobody measures C1 again.
    h.advance(65000);
    topology_round(h);
    h.gm().on_gc();
    EXPECT_NE(dev(h, M::e1)->find_link_by_bssid(M::c1, M::e1_fh), nullptr);  // 65000 ms
    h.advance(5001);
    h.gm().on_gc();
    EXPECT_EQ(dev(h, M::e1)->find_link_by_bssid(M::c1, M::e1_fh), nullptr);  // 70001 ms
    EXPECT_NE(h.g().local_agent->find_wireless_link(M::c1), nullptr);
    EXPECT_TRUE(
        h.said("garbage collecting link from B1 02:00:00:00:03:00 to MAC: "
               "5c:00:00:00:00:01"));
}

TEST(GraphMinderNodes, ChangesAreDebouncedOverTenSeconds) {
    Harness h;
    GraphMinder& gm = h.gm();
    topology_round(h, false);
    EXPECT_TRUE(gm.topo_changed());
    gm.on_topo_change_check();  // first check: the last one was "never"
    EXPECT_EQ(gm.graph_updates(), 1u);
    EXPECT_FALSE(gm.topo_changed());
    const long long t0 = gm.topo_check_ms();

    h.advance(1000);
    h.notification(M::local, M::c1, M::local_fh, false);
    h.advance(2000);
    h.notification(M::local, M::c2, M::local_fh, true);
    h.advance(6999);  // 9999 ms after the last update
    gm.on_topo_change_check();
    EXPECT_EQ(gm.graph_updates(), 1u);
    EXPECT_TRUE(gm.topo_changed());
    h.advance(1);
    gm.on_topo_change_check();
    EXPECT_EQ(gm.graph_updates(), 2u);  // both changes in one update
    EXPECT_EQ(gm.topo_check_ms(), t0 + 10000);
    h.advance(10000);
    gm.on_topo_change_check();
    EXPECT_EQ(gm.graph_updates(), 2u);
    std::string log = h.log();
    EXPECT_EQ(count_of(log, "on_topo_change_check should_update, trigger on_graph_updated"), 2u);
    EXPECT_TRUE(h.said("on_topo_change_check topology didn't change in past 10000ms"));
}

TEST(GraphMinderMeasurements, BackhaulStaMeasurementsOlderThanAMinuteAreIgnored) {
    Harness h;
    build_mesh(h);
    h.advance(1000);
    // The local agent hears E2's backhaul STA on channel 36.
    h.unassoc_metrics(M::local, 115, M::e2_bsta, 36, 60001, 150);
    EXPECT_EQ(h.g().local_agent->find_link_by_bssid(M::e2_bsta, M::local_bh), nullptr);
    EXPECT_TRUE(
        h.said("but the time_delta 60001(which is bigger than 60000) is too old. "
               "Ignore"));
    h.unassoc_metrics(M::local, 115, M::e2_bsta, 36, 60000, 150);
    // The candidate for a backhaul STA is the backhaul BSS of the measuring radio.
    const Link* l = h.g().local_agent->find_link_by_bssid(M::e2_bsta, M::local_bh);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->kind(), Link::UNASSOCIATED);
    EXPECT_TRUE(l->is_backbone);
    // A station the graph does not hold is not measured.
    const MAC stranger(0x5c, 0, 0, 0, 0x99, 0x99);
    h.unassoc_metrics(M::local, 115, stranger, 36, 10, 150);
    EXPECT_TRUE(
        h.said("Received unassociated sta link metric for MAC: 5c:00:00:00:99:99, "
               "when it is not on the graph"));
    // A possible path of E2 through the local agent now exists (not a working one).
    Paths all = find_shortest_paths_for_devices(h.gm().mutable_logger(), h.g());
    EXPECT_EQ(all[M::e2].prev, h.g().local_agent);
    EXPECT_EQ(all[M::e2].cost, 10 + l->cost());
}

TEST(GraphMinderMeasurements, BeaconRcpiIsAnRssiInTwosComplement) {
    Harness h;
    GraphMinder& gm = h.gm();
    EXPECT_EQ(gm.convert_beacon_metrics_rcpi(nullptr, M::c1, 0xD8), 140);  // -40 dBm
    EXPECT_EQ(gm.convert_beacon_metrics_rcpi(nullptr, M::c1, 0xFF), 218);  // -1 dBm
    EXPECT_EQ(gm.convert_beacon_metrics_rcpi(nullptr, M::c1, 146), 0);     // -110 dBm
    EXPECT_EQ(gm.convert_beacon_metrics_rcpi(nullptr, M::c1, 145), 0);
    EXPECT_EQ(gm.convert_beacon_metrics_rcpi(nullptr, M::c1, 100), 0);
    EXPECT_TRUE(
        h.said("input from_device is NULL. report sta MAC: 5c:00:00:00:00:01, report "
               "rcpi 216"));
}

TEST(GraphMinderMeasurements, ABackhaulStaBeaconReportBecomesACandidateUplink) {
    Harness h;
    build_mesh(h);
    CmduBuilder b(CMDU_TYPE_BEACON_METRICS_RESPONSE, 900);
    beacon_metrics_response_tlv r;
    r.sta_mac = M::e2_bsta;
    beacon_metrics_response_tlv::report_element e;
    e.body.assign(29, 0);
    e.body[2] = 5;    // beacon report
    e.body[3] = 115;  // class
    e.body[4] = 36;   // channel
    e.body[16] = 0xD8;
    for (int i = 0; i < 6; ++i)
        e.body[18 + i] = M::local_bh[i];
    r.elements.push_back(e);
    r.num_elements = 1;
    b.add(r);
    h.feed(b, M::e2);
    EXPECT_EQ(h.g().find_node(M::e2)->kind(), Node::DEVICE);
    ASSERT_EQ(dev(h, M::e2)->beacon_responses.size(), 1u);
    const Link* l = h.g().local_agent->find_link_by_bssid(M::e2_bsta, M::local_bh);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->kind(), Link::UNASSOCIATED);
    EXPECT_EQ(static_cast<const UnassociatedLink*>(l)->rcpi, 140);
}

TEST(GraphMinderReports, ClientCapabilitiesFromTheAssociationRequest) {
    Harness h;
    build_mesh(h);
    // Capability, listen interval, SSID "home", rates, Supported Channels 36 x4, RM
    // Enabled Capabilities, Extended Capabilities (extended channel switching, BSS
    // transition).
    const std::vector<uint8_t> body = {0x11, 0x00, 0x0a, 0x00, 0x00, 0x04, 'h',  'o',  'm',  'e',
                                       0x01, 0x02, 0x8c, 0x12, 0x24, 0x02, 36,   4,    0x46, 0x05,
                                       0x02, 0x00, 0x00, 0x00, 0x00, 0x7f, 0x03, 0x04, 0x00, 0x08};
    auto report = [&](const MAC& sta, uint8_t result, std::vector<uint8_t> frame) {
        CmduBuilder b(CMDU_TYPE_CLIENT_CAPABILITY_REPORT, 901);
        b.add(client_info_tlv{TLV_TYPE_CLIENT_INFO, M::local_fh, sta})
            .add(client_capability_report_tlv{TLV_TYPE_CLIENT_CAPABILITY_REPORT, result,
                                              std::move(frame)});
        h.feed(b, M::local);
    };
    report(M::c1, 1, body);
    EXPECT_EQ(h.g().find_sta(M::c1)->capabilities.channels_string(), "");
    report(M::c1, 0, {});
    EXPECT_EQ(count_of(h.log(),
                       "parse_sta_capability_report TLV_TYPE_CLIENT_CAPABILITY_REPORT is "
                       "missing message_id 901"),
              2u);
    report(MAC(0x5c, 0, 0, 0, 0x77, 0x77), 0, body);  // not a station of the graph
    EXPECT_EQ(count_of(h.log(), "TLV_TYPE_CLIENT_CAPABILITY_REPORT is missing"), 3u);

    report(M::c1, 0, body);
    const StaCapabilityInfo& c = h.g().find_sta(M::c1)->capabilities;
    EXPECT_EQ(c.channels_string(), "36 40 44 48 ");  // 5 GHz radio: steps of 4
    EXPECT_EQ(
        std::tie(c.capable_bss_transition, c.capable_radio_measurement, c.ecsa, c.steer_category),
        std::make_tuple(true, true, true, sta_categories::CONTROLLED_STEERING_CLASS1));
    EXPECT_TRUE(h.said(" -STA ==> [5c:00:00:00:00:01]"));
    EXPECT_TRUE(h.said(" -supported_channels:36 40 44 48 "));
    EXPECT_TRUE(h.said(" -steer category:Controlled-Steering-Class1"));
    EXPECT_TRUE(h.said("SteeringMinder::apply_steer_re_node() sta MAC: 5c:00:00:00:00:01"));
}

TEST(GraphMinderReports, LinkMetricsReachTheReportedLink) {
    Harness h;
    build_mesh(h);
    h.advance(3000);
    // A wireless and a wired neighbour: every counter of both sides, the PHY rate included.
    CmduBuilder b(CMDU_TYPE_LINK_METRIC_RESPONSE, 904);
    b.add(transmitter_link_metric_tlv{
              TLV_TYPE_TRANSMITTER_LINK_METRIC,
              M::e1,
              M::e2,
              {{M::e1_bh, M::e2_bsta, MEDIA_TYPE_IEEE_802_11AX, 0, 3, 70000, 900, 87, 1201}}})
        .add(transmitter_link_metric_tlv{
            TLV_TYPE_TRANSMITTER_LINK_METRIC,
            M::e1,
            M::local,
            {{M::e1_eth, M::local_eth, MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET, 0, 5, 123456, 940,
              100, 1000}}})
        .add(receiver_link_metric_tlv{
            TLV_TYPE_RECEIVER_LINK_METRIC,
            M::e1,
            M::local,
            {{M::e1_eth, M::local_eth, MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET, 7, 654321, 255}}})
        .add(link_metric_result_code_tlv{});
    h.feed(b, M::e1);
    const WirelessLink* w = dev(h, M::e1)->find_wireless_link(M::e2_bsta);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->tx_rate, 1201u);
    EXPECT_EQ(w->last_metrics_ms, get_current_time_ms());
    // Transmitter errors and packets, capacity, availability, PHY rate, receiver errors and
    // packets.
    auto counters = [](const LinkMetricCounters& c) {
        return std::make_tuple(c.tx_packet_errors, c.tx_packets, c.mac_throughput_capacity,
                               c.link_availability, c.phy_rate, c.rx_packet_errors, c.rx_packets);
    };
    EXPECT_EQ(counters(w->metrics), counters({3, 70000, 900, 87, 1201, 0, 0}));
    const Link* wired = dev(h, M::e1)->find_wired_link(M::local);
    ASSERT_NE(wired, nullptr);
    EXPECT_EQ(wired->last_metrics_ms, get_current_time_ms());
    EXPECT_EQ(counters(wired->metrics), counters({5, 123456, 940, 100, 1000, 7, 654321}));
    EXPECT_TRUE(
        h.said("on_link_metric_response: receive CMDU_TYPE_LINK_METRIC_RESPONSE error "
               "result code 0, reason LINK_METRIC_RESULT_CODE_TLV_INVALID_NEIGHBOR"));
}

TEST(GraphMinderReports, StationMetricsOfAStationTheStackNeverSawAreDropped) {
    Harness h;
    build_mesh(h);
    const MAC stranger(0x02, 0, 0, 0, 0x77, 0x01);
    h.assoc_metrics(M::e1, stranger, M::e1_fh, 150);
    EXPECT_TRUE(h.said("get_sta() failed for MAC: 02:00:00:00:77:01"));
    EXPECT_EQ(h.log().find("[MAC: 02:00:00:00:77:01] tx_rate="), std::string::npos);
}

TEST(GraphMinderNodes, ADeviceNewToTheGraphStartsChannelSelectionOver) {
    Harness h;
    build_mesh(h);
    map_ale_info_t* ale = get_ale(M::e2);
    ASSERT_NE(ale, nullptr);
    ale->first_chan_sel_req_done = 1;
    // Aged out of the graph; the stack still knows the agent and its flag.
    h.advance(70001);
    h.gm().on_gc();
    ASSERT_EQ(dev(h, M::e2), nullptr);
    ASSERT_NE(get_ale(M::e2), nullptr);
    EXPECT_EQ(get_ale(M::e2)->first_chan_sel_req_done, 1);
    // Heard again: a new device, so the stack's flag is reset.
    topology_round(h);
    ASSERT_NE(dev(h, M::e2), nullptr);
    EXPECT_EQ(get_ale(M::e2)->first_chan_sel_req_done, 0);
    EXPECT_TRUE(h.said("reset device 02:00:00:00:04:00 channel selection flag, res=0"));
}

TEST(GraphMinderReports, TunneledBtmQueryAndFailedConnectionGoToSteering) {
    Harness h;
    build_mesh(h);
    auto tunneled = [&](uint16_t mid, uint8_t type, std::vector<uint8_t> body) {
        CmduBuilder b(CMDU_TYPE_TUNNELED, mid);
        b.add(source_info_tlv{TLV_TYPE_SOURCE_INFO, M::c1})
            .add(tunneled_message_type_tlv{TLV_TYPE_TUNNELED_MESSAGE_TYPE, type})
            .add(tunneled_tlv{TLV_TYPE_TUNNELED, std::move(body)});
        h.feed(b, M::local);
    };
    tunneled(905, TUNNELED_BTM_QUERY, {10, 6, 0x21, 0x13});  // WNM, BTM query, token, reason
    tunneled(906, TUNNELED_ANQP_REQUEST, {1});
    CmduBuilder b(CMDU_TYPE_FAILED_CONNECTION, 907);
    b.add(sta_mac_address_tlv{TLV_TYPE_STA_MAC_ADDRESS, M::c2})
        .add(status_code_tlv{TLV_TYPE_STATUS_CODE, 17});
    h.feed(b, M::e2);
    EXPECT_TRUE(
        h.said("on_tunneled_message -- recv 80211 btm query event from sta MAC: "
               "5c:00:00:00:00:01  --dialog token 33 reason code 19"));
    EXPECT_TRUE(
        h.said("SteeringMinder::notify_dot11_btm_query() sta MAC: 5c:00:00:00:00:01 token "
               "33 reason 19"));
    EXPECT_TRUE(h.said("on_tunneled_message -- Unsupported tunneled protocol type: 4"));
    EXPECT_TRUE(
        h.said("Received CMDU_TYPE_MAP_FAILED_CONNECTION: sta MAC: 5c:00:00:00:00:02, "
               "status_code: 17"));
    EXPECT_TRUE(
        h.said("SteeringMinder::notify_failed_connection_report() sta MAC: "
               "5c:00:00:00:00:02"));
}

TEST(GraphMinderNodes, TheGraphIsCapped) {
    Harness h;
    topology_round(h, false);
    size_t before = h.g().nodes.size();
    Topo local = scripted_topologies(false)[1];
    std::vector<MAC> flood;
    for (int i = 0; i < 1100; ++i)
        flood.push_back(MAC(0x5e, 0, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)));
    local.clients = {{M::local_fh, flood}};
    h.topology(local);
    EXPECT_EQ(h.g().nodes.size(), GraphMinder::kMaxNodes);
    EXPECT_GT(GraphMinder::kMaxNodes, before);
    EXPECT_EQ(count_of(h.log(), "the graph holds 1024 nodes already, new nodes are refused"), 1u);
    // Once garbage collection frees room, new devices are taken again.
    h.advance(70001);
    h.gm().on_gc();
    topology_round(h, false);
    EXPECT_NE(dev(h, M::e1), nullptr);
}

TEST(GraphMinderReports, TheFirstCapabilityReportBringsTheReportingPolicy) {
    Harness h;
    build_mesh(h);
    std::string log = h.log();
    EXPECT_EQ(count_of(log, "send_metric_reporting_policy, number_of_radio: 1"), 3u);
    EXPECT_TRUE(h.said("send_metric_reporting_policy, radio id: 02:00:00:00:30:50"));
    h.ap_caps(M::e1, M::e1_radio, true, true);  // not again
    EXPECT_EQ(count_of(h.log(), "send_metric_reporting_policy, number_of_radio: 1"), 3u);
}

TEST(GraphMinderNodes, ReportsCannotTurnTheLocalDevicesOrTheSenderIntoStations) {
    Harness h;
    build_mesh(h);
    Topo e1;
    e1.al = M::e1;
    e1.ifs = {eth_if(M::e1_eth)};
    e1.neighbors = {{M::e1_eth, {M::local, M::e1}}};
    e1.radios = {{M::e1_radio, {{M::e1_fh, "home"}}}};
    e1.clients = {{M::e1_fh, {M::e1, M::root, M::local}}};
    h.topology(e1);
    h.notification(M::e1, M::e1, M::e1_fh, true);
    h.notification(M::e1, M::root, M::e1_fh, true);
    ASSERT_NE(h.g().root, nullptr);
    ASSERT_NE(h.g().local_agent, nullptr);
    EXPECT_EQ(h.g().root->kind(), Node::DEVICE);
    const Device* d = dev(h, M::e1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->find_wired_link(M::e1), nullptr);
    EXPECT_EQ(d->find_wireless_link(M::e1), nullptr);
    EXPECT_EQ(d->find_wireless_link(M::root), nullptr);
    EXPECT_TRUE(
        h.said("on_heard_about_associated MAC: 02:00:00:00:00:01 is Root, not a "
               "station"));
}

}  // namespace
