// A scripted mesh fed to the graph minder as received CMDUs: root, local agent, a wired
// extender (E1), a wireless extender (E2) with its backhaul STA, clients, an unassociated
// measurement; checked over time with a driven clock.
#include <gtest/gtest.h>

#include "graph/path_cost.h"
#include "minder_harness.h"

using namespace minder_test;
using M = Macs;

namespace {

const Device* dev(Harness& h, const MAC& m) {
    const Node* n = h.g().find_node(m);
    return n && n->kind() == Node::DEVICE ? static_cast<const Device*>(n) : nullptr;
}

int32_t rssi(const backhaul_information& b) {
    return static_cast<int32_t>(b.uplink_rssi);
}

class ScriptedMesh : public ::testing::Test {
  protected:
    void SetUp() override {
        topology_round(h);
        capabilities(h);
        topology_round(h);
    }
    Harness h;
};

TEST_F(ScriptedMesh, BackhaulInformationAndQualityOverTime) {
    GraphMinder& gm = h.gm();
    gm.update_devices_backhaul_information();
    backhaul_information b;
    ASSERT_TRUE(gm.get_device_backhaul_information(M::e1, b));
    EXPECT_EQ(b, (backhaul_information{M::e1, M::local, M::e1_eth, M::local_eth2, true,
                                       backhaul_quality::GOOD, 10, 20, Medium::ETHERNET, 255}));

    // No metrics yet on E2's association: unreachable.
    ASSERT_TRUE(gm.get_device_backhaul_information(M::e2, b));
    EXPECT_FALSE(b.is_backhaul_connected);
    EXPECT_EQ(b.cost_to_root, 1000000u);

    struct Step {
        uint8_t rcpi;
        uint32_t cost_to_parent;
        backhaul_quality quality;
    };
    // 140: 1094 Mbps predicted; 100: 720; 110: 840. The 219 after 252 stays NORMAL
    // (same parent and interfaces), back to GOOD below 200.
    const Step steps[] = {{140, 153, backhaul_quality::GOOD},
                          {100, 232, backhaul_quality::NORMAL},
                          {110, 199, backhaul_quality::NORMAL},
                          {140, 153, backhaul_quality::GOOD}};
    for (const Step& s : steps) {
        h.advance(2000);
        h.assoc_metrics(M::e1, M::e2_bsta, M::e1_bh, s.rcpi);
        gm.update_devices_backhaul_information();
        ASSERT_TRUE(gm.get_device_backhaul_information(M::e2, b));
        EXPECT_EQ(
            b, (backhaul_information{M::e2, M::e1, M::e2_bsta, M::e1_bh, true, s.quality,
                                     s.cost_to_parent, 20 + s.cost_to_parent, Medium::WIFI_5G_LOW,
                                     static_cast<uint32_t>((s.rcpi - 220) / 2)}))
            << int(s.rcpi);
    }
    std::string log = h.log();
    EXPECT_TRUE(
        h.said("backhaul changed. old info: device MAC: 00:00:00:00:00:00 "
               "is_backhaul_connected false"));
    // The searches log under the "cost" child of the root logger, not the graph's.
    EXPECT_TRUE(h.said(" root.cost.shortest-path: "));
    EXPECT_EQ(log.find("root.graph.shortest-path"), std::string::npos);
    // The data and vendor-agent minders hear of each change.
    EXPECT_TRUE(
        h.said("DataMinder::notify_ap_bh_change() device MAC: 02:00:00:00:04:00 "
               "connected true cost_to_root 173"));
    // (no vendor agent runs on that device, so nothing is sent to it)
    EXPECT_TRUE(
        h.said("send_hkt_backhaul_information_notify Failed to send hkt backhaul "
               "information notify message to 02:00:00:00:04:00"));

    // The station records follow the working paths, clients included.
    gm.on_backhaul_information_update();
    sta_backhaul_information sb;
    ASSERT_TRUE(gm.get_sta_backhaul_information(M::c2, sb));
    EXPECT_FALSE(sb.is_backhaul_connected);  // no metrics on C2's association yet
    h.assoc_metrics(M::e2, M::c2, M::e2_fh, 120);
    gm.on_backhaul_information_update();
    ASSERT_TRUE(gm.get_sta_backhaul_information(M::c2, sb));
    EXPECT_TRUE(sb.is_backhaul_connected);
    EXPECT_EQ(sb.remote_ale, M::e2);
    EXPECT_EQ(rssi(sb), -50);
    EXPECT_EQ(sb.cost_to_root, 173 + sb.cost_to_parent);
    EXPECT_FALSE(gm.get_sta_backhaul_information(M::e1, sb));
}

TEST_F(ScriptedMesh, UnassociatedMeasurementThenTheClientMoves) {
    GraphMinder& gm = h.gm();
    const Device* e1 = dev(h, M::e1);
    // E1 hears C1 (associated to the local agent) on channel 36, 100 ms ago.
    h.advance(5000);
    h.unassoc_metrics(M::e1, 115, M::c1, 36, 100, 120);
    const Link* l = e1->find_link_by_bssid(M::c1, M::e1_fh);
    ASSERT_NE(l, nullptr);
    ASSERT_EQ(l->kind(), Link::UNASSOCIATED);
    const UnassociatedLink* u = static_cast<const UnassociatedLink*>(l);
    EXPECT_EQ(std::tie(u->rcpi, u->channel, u->op_class, u->measured_ms, u->medium),
              std::make_tuple(120, 36, 115, get_current_time_ms() - 100, Medium::WIFI_5G_LOW));

    // The possible placements of C1 on 5 GHz now include E1.
    Paths p =
        find_shortest_paths_for_clients(h.gm().mutable_logger(), h.g(), M::c1, Medium::WIFI_5G_LOW);
    auto it = p.find(M::e1);
    ASSERT_NE(it, p.end());
    EXPECT_EQ(it->second.cost, 20 + u->cost());

    // C1 roams to E1: one association in the mesh, the measurement link gone.
    h.advance(1000);
    h.notification(M::e1, M::c1, M::e1_fh, true);
    EXPECT_EQ(h.g().local_agent->find_wireless_link(M::c1), nullptr);
    const WirelessLink* w = e1->find_wireless_link(M::c1);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->bssid, M::e1_fh);
    EXPECT_EQ(e1->find_link_by_bssid(M::c1, M::e1_fh), w);
    EXPECT_EQ(h.g().find_sta(M::c1)->get_working_device(), e1);
    EXPECT_TRUE(h.said("SteeringMinder::notify_pre_delete_link() sta MAC: 5c:00:00:00:00:01"));
    EXPECT_TRUE(
        h.said("added associated wifi-5l link for B1 [MAC: 02:00:00:00:03:00] BSSID: "
               "[02:00:00:00:30:05] =>  [MAC: 5c:00:00:00:00:01]"));
    // A new association brings a beacon query on the serving radio's channel.
    EXPECT_TRUE(h.said("send_beacon_query "));
    EXPECT_TRUE(h.said("for MAC: 5c:00:00:00:00:01 channel=44 op_class=115"));
    EXPECT_TRUE(
        h.said("deleted WirelessLink Local_agent 02:00:00:00:00:02 BSSID: "
               "02:00:00:00:20:05 => 5c:00:00:00:00:01"));

    // The next responses agree; the local agent no longer names C1 and keeps no link.
    topology_round(h, true, true);
    EXPECT_EQ(h.g().local_agent->find_wireless_link(M::c1), nullptr);
    EXPECT_NE(e1->find_wireless_link(M::c1), nullptr);

    // Leaving: the link goes, the station stays until garbage collection.
    h.notification(M::e1, M::c1, M::e1_fh, false);
    EXPECT_EQ(e1->find_wireless_link(M::c1), nullptr);
    EXPECT_NE(h.g().find_sta(M::c1), nullptr);
    (void)gm;
}

TEST_F(ScriptedMesh, GarbageCollectionAndReappearance) {
    GraphMinder& gm = h.gm();
    h.assoc_metrics(M::e1, M::e2_bsta, M::e1_bh, 140);
    gm.update_devices_backhaul_information();
    // E2 goes silent; the others keep answering. E1 stops naming E2's backhaul STA, so
    // the association is dropped by the stale-link pass at once.
    h.advance(60000);
    topology_round(h, false);
    EXPECT_EQ(dev(h, M::e1)->find_wireless_link(M::e2_bsta), nullptr);
    ASSERT_NE(dev(h, M::e2), nullptr);

    h.advance(10000);  // E2 last heard 70000 ms ago
    gm.on_gc();
    EXPECT_NE(dev(h, M::e2), nullptr);
    h.advance(1);  // 70001 ms
    gm.on_gc();
    EXPECT_EQ(dev(h, M::e2), nullptr);
    EXPECT_EQ(h.g().find_node(M::e2_bsta), nullptr);  // went with its device
    EXPECT_EQ(h.g().find_node(M::c2), nullptr);       // last named by E2
    EXPECT_NE(dev(h, M::e1), nullptr);
    EXPECT_NE(h.g().root, nullptr);
    EXPECT_NE(h.g().local_agent, nullptr);
    EXPECT_TRUE(h.said("garbage collecting B2 02:00:00:00:04:00"));

    // The data minder hears once that the device is gone.
    gm.update_devices_backhaul_information();
    EXPECT_TRUE(
        h.said("backhaul changed--device had been delete. old info: device MAC: "
               "02:00:00:00:04:00, is_backhaul_connected true"));
    // The record handed over is the disconnected one, zero MACs included, so the vendor
    // agents' registry finds no node by it; the device is named beside it to the sender.
    EXPECT_TRUE(h.said("notify_ap_bh_change - Node 00:00:00:00:00:00 not found"));
    EXPECT_TRUE(
        h.said("send_hkt_backhaul_information_notify Failed to send hkt backhaul "
               "information notify message to 02:00:00:00:04:00"));

    // Root and local agent never expire, even when silent far longer.
    h.advance(200000);
    gm.on_gc();
    EXPECT_NE(h.g().root, nullptr);
    EXPECT_NE(h.g().local_agent, nullptr);
    EXPECT_EQ(dev(h, M::e1), nullptr);

    // Everything comes back with the same names.
    topology_round(h);
    ASSERT_NE(dev(h, M::e1), nullptr);
    ASSERT_NE(dev(h, M::e2), nullptr);
    EXPECT_EQ(dev(h, M::e1)->name, "B1");
    EXPECT_EQ(dev(h, M::e2)->name, "B2");
    EXPECT_TRUE(h.g().find_sta(M::e2_bsta)->is_backhaul_sta);
}

}  // namespace
