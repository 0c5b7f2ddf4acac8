// The graph model: tables, lookups, deletion cascade, statistics and texts.
#include <gtest/gtest.h>

#include "common/clock.h"
#include "graph/device_names.h"
#include "graph/graph.h"
#include "mesh_fixture.h"

using namespace graph_test;

namespace {

TEST(GraphTexts, EnumTablesAndFallbacks) {
    EXPECT_EQ(medium_to_string(Medium::ETHERNET), "ETHERNET");
    EXPECT_EQ(medium_to_string(Medium::WIFI_5G_HIGH), "WIFI_5G_HIGH");
    EXPECT_EQ(medium_to_string(Medium::WIFI), "UNKNOWN_MEDIUM");
    EXPECT_EQ(medium_to_string(Medium::UNKNOWN), "UNKNOWN_MEDIUM");
    EXPECT_EQ(backhaul_quality_to_string(backhaul_quality::GOOD), "GOOD");
    EXPECT_EQ(backhaul_quality_to_string(static_cast<backhaul_quality>(7)), "BAD");
    EXPECT_EQ(wifi_system_type_to_string(wifi_system_type::TRI_BAND), "TRI_BAND");
    EXPECT_EQ(wifi_system_type_to_string(static_cast<wifi_system_type>(4)), "UNKNOWN_BAND");
    EXPECT_EQ(wifi_standard_to_string(7), "Wi-Fi 6");
    EXPECT_EQ(wifi_standard_to_string(5), "unknown");
    EXPECT_EQ(wifi_standard_to_string(8), "unknown");
    Sta s("", mac(9, 9), 0);
    EXPECT_EQ(s.steer_cat_to_str(sta_categories::ASSISTED_ROAMING), "Assisted-Roaming");
    EXPECT_EQ(s.steer_cat_to_str(static_cast<sta_categories>(6)), "CAT?");
    EXPECT_STREQ(medium_short_word(Medium::WIFI_2G), "wifi-2.4");
    EXPECT_STREQ(medium_short_word(Medium::WIFI), "wifi");
    EXPECT_STREQ(medium_short_word(Medium::ETHERNET), "medium?");
    EXPECT_EQ(media_type_to_string(0x0104), "11n 5G");
    EXPECT_EQ(media_type_to_string(0x0999), "unknown media (2457)");
    EXPECT_EQ(interface_role_to_string(0x4), "Non AP/PCP Sta");
    EXPECT_EQ(interface_role_to_string(0x3), "unknown role (3");
}

TEST(StaCapability, ChannelsStringInBitOrder) {
    StaCapabilityInfo c;
    for (uint8_t ch : {36, 11, 1, 6})
        EXPECT_TRUE(c.add_channel(ch));
    EXPECT_EQ(c.channels_string(), "1 6 11 36 ");
    EXPECT_FALSE(c.add_channel(37));
    c.supported_channels_5g |= 1u << 31;
    EXPECT_EQ(c.channels_string(), "1 6 11 36 188 ");
    EXPECT_TRUE(c.channel_match(188));
    EXPECT_FALSE(c.channel_match(2));
    EXPECT_EQ(StaCapabilityInfo().channels_string(), "");
}

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

TEST(GraphTables, AddFindAndKeepExisting) {
    Graph g;
    Device* d = add_device(g, "B1", mac(1, 1));
    EXPECT_EQ(d->graph(), &g);
    EXPECT_EQ(d->label(), "B1 02:00:00:00:01:01");
    // A second node under the same MAC does not replace the first.
    EXPECT_FALSE(g.add_node(new Sta("", mac(1, 1), 5)));
    EXPECT_EQ(g.find_node(mac(1, 1)), d);
    EXPECT_EQ(g.find_sta(mac(1, 1)), nullptr);
}

TEST(GraphTables, FindDeviceByInterface) {
    ScriptedMesh m;
    EXPECT_EQ(m.g.find_device(m.b2->mac), m.b2);
    // A device's non-AL interface finds the device, also when a Sta node has that MAC.
    EXPECT_EQ(m.g.find_device(mac(2, 9)), m.b2);
    EXPECT_EQ(m.g.find_device(mac(1, 8)), m.b1);
    // A plain client is no device.
    EXPECT_EQ(m.g.find_device(m.c1->mac), nullptr);
    EXPECT_EQ(m.g.find_device(mac(7, 7)), nullptr);
}

TEST(GraphDelete, DeviceCascadeRemovesLinksAndBackhaulSta) {
    ScriptedMesh m;
    m.g.delete_node(m.b2->mac);
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

TEST(DeviceLinks, DeleteVariants) {
    Graph g;
    Device* d = add_device(g, "B1", mac(1, 1));
    add_wired(d, mac(9, 1));
    add_wireless(d, mac(9, 1), BSSID(mac(1, 8)), 100);
    add_unassoc(d, mac(9, 2), BSSID(mac(1, 8)), 100, 1);
    Link* w = add_wired(d, mac(9, 3));
    EXPECT_FALSE(d->delete_link(mac(9, 2), Link::WIRED));
    EXPECT_TRUE(d->delete_link(mac(9, 1), Link::WIRED));
    EXPECT_EQ(d->links.size(), 3u);
    EXPECT_NE(d->find_link_by_bssid(mac(9, 2), BSSID(mac(1, 8))), nullptr);
    EXPECT_EQ(d->find_link_by_bssid(mac(9, 2), BSSID(mac(1, 9))), nullptr);
    d->delete_link(&w);
    EXPECT_EQ(w, nullptr);
    d->delete_link(&w);  // null: nothing
    Link* stranger = new WiredLink(mac(5, 5), 0);
    Link* keep = stranger;
    d->delete_link(&stranger);  // not held by the device: untouched
    EXPECT_EQ(stranger, keep);
    delete stranger;
    d->delete_link(mac(9, 1));
    EXPECT_EQ(d->find_wireless_link(mac(9, 1)), nullptr);
    EXPECT_EQ(d->links.size(), 1u);
}

TEST(DeviceReports, BeaconResponsesKeepTheLastTen) {
    Device d("B1", mac(1, 1), 0);
    for (int i = 0; i < 11; ++i) {
        BeaconMetricsResponseTLV t;
        t.sta = mac(9, static_cast<uint8_t>(i));
        d.add_beacon_response_tlv({t, i});
    }
    ASSERT_EQ(d.beacon_responses.size(), 10u);
    EXPECT_EQ(d.beacon_responses.front().second, 1);
    EXPECT_EQ(d.beacon_responses.back().second, 10);
}

TEST(DeviceReports, CurrentChannelsMergePerRadio) {
    Device d("B1", mac(1, 1), 0);
    OperatingChannelReportMesg r;
    OperatingChannelReportTLV a;
    a.radio_id = mac(1, 0x20);
    a.op_classes.push_back({81, 6});
    OperatingChannelReportTLV b;
    b.radio_id = mac(1, 0x50);
    b.op_classes.push_back({128, 36});
    r.reports = {a, b};
    d.update_current_channels(r);
    OperatingChannelReportMesg r2;
    a.op_classes = {{81, 11}};
    r2.reports = {a};
    d.update_current_channels(r2);
    ASSERT_EQ(d.current_channels.reports.size(), 2u);
    EXPECT_EQ(*d.radio_primary_channel(mac(1, 0x20)), 11);
    EXPECT_EQ(*d.radio_primary_channel(mac(1, 0x50)), 36);
    EXPECT_EQ(*d.radio_primary_op_class(mac(1, 0x50)), 128);
    EXPECT_FALSE(d.radio_primary_channel(mac(1, 0x60)).has_value());
}

TEST(DeviceReports, BssLookupsAndMedium) {
    Device d("B1", mac(1, 1), 0);
    RadioInfo r;
    r.radio_id = mac(1, 0x50);
    r.bsss.push_back({BSSID(mac(1, 0x51)), "home"});
    d.operational_bss = {r};
    EXPECT_EQ(*d.find_ssid(BSSID(mac(1, 0x51))), "home");
    EXPECT_EQ(*d.find_radio_id(BSSID(mac(1, 0x51))), mac(1, 0x50));
    // No capability report yet: the medium is unknown.
    EXPECT_EQ(d.find_medium(BSSID(mac(1, 0x51))), Medium::UNKNOWN);
    EXPECT_FALSE(d.support_unassoc_response(true));
    APCapabilityMesg caps;
    caps.unassoc_sta_metrics_operating_channel = true;
    BasicRadioCapabilitiesTLV rc;
    rc.radio_id = mac(1, 0x50);
    rc.band = 1;
    rc.freq_type = FREQ_5G_HIGH;
    caps.radios = {rc};
    d.ap_capability = caps;
    EXPECT_EQ(d.find_medium(BSSID(mac(1, 0x51))), Medium::WIFI_5G_HIGH);
    EXPECT_EQ(*d.find_bssid("home", Medium::WIFI_5G_HIGH), BSSID(mac(1, 0x51)));
    EXPECT_FALSE(d.find_bssid("home", Medium::WIFI_2G).has_value());
    EXPECT_NE(d.find_radio_info(Medium::WIFI_5G_HIGH), nullptr);
    EXPECT_TRUE(d.support_unassoc_response(true));
    EXPECT_FALSE(d.support_unassoc_response(false));
}

TEST(DeviceReports, ScanResultsMergePerRadioClassAndChannel) {
    Device d("B1", mac(1, 1), 0);
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

TEST(DeviceReports, InterfacesReplacedWhole) {
    Device d("B1", mac(1, 1), 0);
    d.update_interfaces({eth_if(mac(1, 2)), wifi_if(mac(1, 3), BSSID(mac(1, 3)))});
    EXPECT_NE(d.find_interface(BSSID(mac(1, 3))), nullptr);
    d.update_interfaces({eth_if(mac(1, 4))});
    EXPECT_EQ(d.find_interface(mac(1, 2)), nullptr);
    EXPECT_EQ(d.find_interface(BSSID(mac(1, 3))), nullptr);
    EXPECT_NE(d.find_interface(mac(1, 4)), nullptr);
    d.ports = {{0, mac(1, 4), 3}};
    ASSERT_NE(d.find_port(mac(1, 4)), nullptr);
    EXPECT_EQ(d.find_port(mac(1, 4))->port, 3);
    EXPECT_EQ(d.find_port(mac(1, 5)), nullptr);
}

TEST(DeviceReports, LinkMetricAgeFromTheClock) {
    ozr_clock::set_manual(100000);
    Device d("B1", mac(1, 1), 0);
    d.link_metric_time[BSSID(mac(1, 8))] = 97000;
    auto age = d.find_link_metric_age(BSSID(mac(1, 8)));
    EXPECT_TRUE(age.second);
    EXPECT_EQ(age.first, 3000);
    EXPECT_FALSE(d.find_link_metric_age(BSSID(mac(1, 9))).second);
    ozr_clock::use_real();
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

TEST(StaModel, BackhaulFlagAndWorkingDevice) {
    ScriptedMesh m;
    EXPECT_EQ(m.bsta->get_working_device(), m.b1);
    EXPECT_EQ(m.c2->get_working_device(), m.b2);
    m.bsta->update_backhaul_sta(false, m.b2->mac);
    EXPECT_FALSE(m.bsta->is_backhaul_sta);
    EXPECT_TRUE(m.bsta->owner_device.is_zero());
    Sta loose("", mac(9, 5), 0);  // not in a graph
    EXPECT_EQ(loose.get_working_device(), nullptr);
    EXPECT_EQ(m.bsta->backhaul.cost_to_root, 1000000u);
    EXPECT_EQ(m.bsta->backhaul.medium, Medium::UNKNOWN);
    EXPECT_EQ(m.bsta->backhaul.uplink_rssi, 255u);
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
