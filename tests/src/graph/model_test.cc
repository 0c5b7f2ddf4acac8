// The graph model: device names, deletion cascade, merged reports, link costs and traffic.
#include <gtest/gtest.h>

#include "common/clock.h"
#include "graph/device_names.h"
#include "graph/graph.h"
#include "mesh_fixture.h"
#include "support/temp_root.h"

using namespace graph_test;

namespace {

TEST(GraphTables, DeviceNamesAreStableWhenADeviceComesBack) {
    DeviceNames names;
    EXPECT_EQ(names.name_for(mac(1, 1)), "B1");
    EXPECT_EQ(names.name_for(mac(2, 1)), "B2");
    Graph g;
    add_device(g, names.name_for(mac(1, 1)), mac(1, 1));
    g.delete_node(mac(1, 1));  // garbage-collected
    EXPECT_EQ(names.name_for(mac(3, 1)), "B3");
    Device* back = add_device(g, names.name_for(mac(1, 1)), mac(1, 1));
    EXPECT_EQ(back->label(), "B1 02:00:00:00:01:01");
    EXPECT_EQ(names.size(), 3u);
}

TEST(GraphTables, DeviceNamesAreBoundedAndNeverReused) {
    DeviceNames names;
    for (size_t i = 0; i < DeviceNames::kMaxNames; ++i)
        names.name_for(MAC(0x02, 0, 0, 1, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)));
    ASSERT_EQ(names.size(), DeviceNames::kMaxNames);
    const MAC present(0x02, 0, 0, 1, 0, 5);  // "B6", still in the graph
    auto absent = [&](const MAC& m) { return m != present; };
    EXPECT_EQ(names.name_for(mac(9, 9), absent), "B1025");
    EXPECT_EQ(names.size(), 2u);
    EXPECT_EQ(names.name_for(present), "B6");
    // Without a predicate nothing is forgotten (a table below the cap grows as before).
    EXPECT_EQ(names.name_for(mac(9, 8)), "B1026");
}

TEST(GraphDelete, DeviceCascadeRemovesLinksAndBackhaulSta) {
    ScriptedMesh m;
    // An interface's MAC finds its device, also after the interfaces were replaced.
    EXPECT_EQ(m.g.find_device(mac(2, 9)), m.b2);
    EXPECT_EQ(m.g.find_device(mac(1, 8)), m.b1);
    m.b1->update_interfaces({eth_if(mac(1, 1)), wifi_if(mac(1, 7), BSSID(mac(1, 8)))});
    EXPECT_EQ(m.g.find_device(mac(1, 8)), nullptr);
    EXPECT_EQ(m.g.find_device(mac(1, 7)), m.b1);
    m.g.delete_node(m.b2->mac);
    EXPECT_EQ(m.g.find_device(mac(2, 9)), nullptr);
    EXPECT_EQ(m.g.find_node(mac(2, 1)), nullptr);
    // Its backhaul STA went with it, and so did B1's association link to it.
    EXPECT_EQ(m.g.find_node(mac(2, 9)), nullptr);
    EXPECT_EQ(m.b1->find_wireless_link(mac(2, 9)), nullptr);
    EXPECT_NE(m.b1->find_wired_link(m.local->mac), nullptr);
    m.g.delete_node(m.local->mac);
    EXPECT_EQ(m.g.local_agent, nullptr);
    EXPECT_EQ(m.root->find_wired_link(mac(0, 2)), nullptr);
    EXPECT_EQ(m.b1->find_wired_link(mac(0, 2)), nullptr);
    m.g.delete_node(m.root->mac);
    EXPECT_EQ(m.g.root, nullptr);
    m.g.delete_node(mac(7, 7));  // absent: nothing happens
}

TEST(GraphDelete, InterfacesPointingAtEachOtherDoNotLoop) {
    Graph g;
    Device* a = add_device(g, "B1", mac(1, 1));
    Device* b = add_device(g, "B2", mac(2, 1));
    a->interfaces = {eth_if(mac(2, 1))};
    b->interfaces = {eth_if(mac(1, 1))};
    g.delete_node(mac(1, 1));
    EXPECT_TRUE(g.nodes.empty());
}

TEST(DeviceReports, AMissingCapabilityReportIsToldOncePerDevice) {
    ozr_test::TempRoot root;
    ozr_test::LogCapture log(root, 6);
    Device d("B1", mac(1, 1), 0), e("B2", mac(2, 1), 0);
    for (int round = 0; round < 3; ++round) {
        EXPECT_FALSE(d.support_unassoc_response(true, root_logger));
        EXPECT_FALSE(e.support_unassoc_response(false, root_logger));
    }
    for (const MAC& m : {mac(1, 1), mac(2, 1)})
        EXPECT_EQ(
            ozr_test::count_of(log.text(), "No AP Capability Report from MAC: " + m.to_string()),
            1u);
}

// The last ten beacon responses; channel and scan reports merged per radio (and class and
// channel).
TEST(DeviceReports, BeaconChannelAndScanReports) {
    Device d("B1", mac(1, 1), 0);
    for (int i = 0; i < 11; ++i) {
        BeaconMetricsResponseTLV t;
        t.sta = mac(9, static_cast<uint8_t>(i));
        d.add_beacon_response_tlv({t, i});
    }
    ASSERT_EQ(d.beacon_responses.size(), 10u);
    EXPECT_EQ(d.beacon_responses.front().second, 1);
    EXPECT_EQ(d.beacon_responses.back().second, 10);

    d.update_current_channels(
        OperatingChannelReportMesg{{{mac(1, 0x20), 0, {{81, 6}}}, {mac(1, 0x50), 0, {{128, 36}}}}});
    d.update_current_channels(OperatingChannelReportMesg{{{mac(1, 0x20), 0, {{81, 11}}}}});
    ASSERT_EQ(d.current_channels.reports.size(), 2u);
    EXPECT_EQ(*d.radio_primary_channel(mac(1, 0x20)), 11);
    EXPECT_EQ(*d.radio_primary_channel(mac(1, 0x50)), 36);
    EXPECT_EQ(*d.radio_primary_op_class(mac(1, 0x50)), 128);
    EXPECT_FALSE(d.radio_primary_channel(mac(1, 0x60)).has_value());

    APChannelScanReportMesg r;
    ChannelScanResultTLV a;
    a.radio_id = mac(1, 0x50);
    a.op_class = 115;
    a.channel = 36;
    a.noise = 1;
    ChannelScanResultTLV b = a;
    b.channel = 40;
    r.results = {a, b};
    d.update_ch_scan_report(r);
    a.noise = 9;
    r.results = {a};
    d.update_ch_scan_report(r);
    ASSERT_EQ(d.ch_scan_results.size(), 2u);
    EXPECT_EQ(d.ch_scan_results[0].second.noise, 9);
    EXPECT_EQ(d.ch_scan_results[1].second.channel, 40);
}

TEST(LinkCost, WirelessWiredAndBackboneFallback) {
    WirelessLink w(mac(9, 1), BSSID(mac(1, 8)), 0);
    for (uint8_t r : {0, 221, 255}) {
        w.rcpi = r;
        EXPECT_EQ(w.cost(), 1000000u) << int(r);
    }
    w.rcpi = 220;
    EXPECT_EQ(w.cost(), 139u);  // 0.6 * 1201
    // A backbone link prefers a valid uplink RCPI, falls back on 0 and 220+.
    w.is_backbone = true;
    w.uplink_rcpi = 150;
    EXPECT_EQ(w.cost(), 151u);
    w.uplink_rcpi = 0;
    EXPECT_EQ(w.cost(), 139u);
    w.uplink_rcpi = 220;
    EXPECT_EQ(w.cost(), 139u);
    w.is_backbone = false;
    w.uplink_rcpi = 150;
    EXPECT_EQ(w.cost(), 139u);
    UnassociatedLink u(mac(9, 1), BSSID(mac(1, 8)), 0);
    u.rcpi = 150;
    EXPECT_EQ(u.cost(), 151u);
    WiredLink e(mac(9, 1), 0);
    EXPECT_EQ(e.cost(), 10u);
    e.zero_cost = true;
    EXPECT_EQ(e.cost(), 0u);
    EXPECT_FALSE(e.through_bridge());
}

TEST(LinkTraffic, WrapAroundUnitAndThroughput) {
    WirelessLink w(mac(9, 1), BSSID(mac(1, 8)), 0);
    TrafficCounters c;
    c.v[TrafficCounters::BYTES_SENT] = 0xFFFFFFF0u;
    c.v[TrafficCounters::PACKETS_SENT] = 0xFFFFFFFFu;
    w.update_traffic_stats(c, 1, 1000);
    EXPECT_EQ(w.totals[TrafficCounters::BYTES_SENT], 0xFFFFFFF0u);
    EXPECT_EQ(w.downlink_tput, 0.0f);  // first report: no throughput
    c.v[TrafficCounters::BYTES_SENT] = 0x10;
    c.v[TrafficCounters::PACKETS_SENT] = 4;
    w.update_traffic_stats(c, 1, 2000);
    EXPECT_EQ(w.totals[TrafficCounters::BYTES_SENT], 0xFFFFFFF0ull + 0x1F);
    EXPECT_EQ(w.totals[TrafficCounters::PACKETS_SENT], 0xFFFFFFFFull + 4);
    EXPECT_EQ(w.downlink_tput, static_cast<float>(0x1Fu / 1000u) * 0.00762939453125f);
    // The unit multiplies byte increments only; same time: no new throughput.
    c.v[TrafficCounters::BYTES_RECEIVED] = 1000;
    c.v[TrafficCounters::PACKETS_RECEIVED] = 7;
    w.update_traffic_stats(c, 1024, 2000);
    EXPECT_EQ(w.totals[TrafficCounters::BYTES_RECEIVED], 1024000u);
    EXPECT_EQ(w.totals[TrafficCounters::PACKETS_RECEIVED], 7u);
    EXPECT_EQ(w.uplink_tput, 0.0f);
    c.v[TrafficCounters::BYTES_RECEIVED] = 2000;
    w.update_traffic_stats(c, 1024, 3024);
    // 1024000 bytes in 1024 ms = 1000 bytes/ms
    EXPECT_FLOAT_EQ(w.uplink_tput, 1000.0f * 0.00762939453125f);
}

TEST(LinkTraffic, FromTheReportRecordUsesTheClock) {
    ozr_clock::set_manual(5000);
    WirelessLink w(mac(9, 1), BSSID(mac(1, 8)), 0);
    AssociatedStaTrafficStatsTLV t;
    t.bytes_sent = 100;
    t.retransmissions = 3;
    w.update_traffic_stats(t, 1);
    EXPECT_EQ(w.snapshot_ms, 5000);
    EXPECT_EQ(w.totals[TrafficCounters::RETRANSMISSIONS], 3u);
    ozr_clock::advance(100);
    t.bytes_sent = 100 + 131072;  // 1310 bytes/ms
    w.update_traffic_stats(t, 1);
    EXPECT_FLOAT_EQ(w.downlink_tput, 1310.0f * 0.00762939453125f);
    ozr_clock::use_real();
}

TEST(WiredLinkBridge, BridgedInterfaceWithoutOwnerReturnPath) {
    Graph g;
    Device* a = add_device(g, "B1", mac(1, 1));
    Device* b = add_device(g, "B2", mac(2, 1));
    LocalInterface p1 = eth_if(mac(1, 0x11));
    p1.has_bridge = 1;
    p1.backbone_owner = mac(2, 0x11);  // interface of B2
    a->interfaces = {p1};
    b->interfaces = {eth_if(mac(2, 0x11))};
    WiredLink* l = add_wired(a, mac(3, 1));
    l->local_interface = mac(1, 0x11);
    EXPECT_TRUE(l->through_bridge());
    add_wired(b, a->mac);
    EXPECT_FALSE(l->through_bridge());
    EXPECT_NE(l->describe(g).find(" WIRE"), std::string::npos);
}

}  // namespace
