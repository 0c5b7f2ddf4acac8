// Rate models, hop costs and the shortest-path searches on small meshes.
#include <gtest/gtest.h>

#include "common/clock.h"
#include "graph/backhaul.h"
#include "graph/path_cost.h"
#include "graph/rate_model.h"
#include "log/logger.h"
#include "mesh_fixture.h"

using namespace graph_test;

namespace {

// The new model's pieces and bounds, the old model's line clamped to 0, the cost of a rate.
TEST(RateModel, NewAndOldModelsAndCost) {
    const std::pair<uint8_t, int> rates[] = {{0, 0},    {221, 0},    {255, 0},   {1, 0},
                                             {33, 0},   {34, 0},     {52, 6},    {70, 120},
                                             {90, 600}, {130, 1080}, {220, 1201}};
    for (const auto& r : rates)
        EXPECT_EQ(predict_rate_new(r.first), r.second) << int(r.first);
    // Monotonic across the piece boundaries.
    for (int r = 35; r <= 220; ++r)
        EXPECT_GE(predict_rate_new(static_cast<uint8_t>(r)),
                  predict_rate_new(static_cast<uint8_t>(r - 1)))
            << r;
    // 19.216 * RCPI - 1417.18, logged and 0 below 74.
    const std::pair<uint8_t, int> old_rates[] = {{0, 0}, {73, 0}, {74, 4}, {100, 205}, {255, 1247}};
    for (const auto& r : old_rates)
        EXPECT_EQ(predict_rate(r.first), r.second) << int(r.first);
    const std::pair<float, uint32_t> costs[] = {
        {0.0f, 1000000u}, {1.0f, 100001u}, {static_cast<float>(0.6 * 1201), 139u},
        {1000.0f, 101u},  {100.0f, 1001u}, {10.0f, 10001u}};
    for (const auto& c : costs)
        EXPECT_EQ(compute_cost(c.first), c.second) << c.first;
}

class PathCost : public ::testing::Test {
  protected:
    Logger log{nullptr, "cost", "", -1};
};

TEST_F(PathCost, ScriptedMeshDeviceCostsAndFreeBackhaulStaHop) {
    ScriptedMesh m;
    Paths p = find_shortest_working_paths_for_devices(log, m.g);
    // Devices and the backhaul STA (a device interface); no clients.
    EXPECT_EQ(p.size(), 5u);
    EXPECT_EQ(p.count(m.c1->mac), 0u);
    EXPECT_EQ(p.at(m.root->mac).cost, 0u);
    EXPECT_EQ(p.at(m.root->mac).prev, nullptr);
    EXPECT_EQ(p.at(m.local->mac).cost, 0u);
    EXPECT_EQ(p.at(m.local->mac).prev, m.root);
    EXPECT_EQ(p.at(m.b1->mac).cost, 10u);
    EXPECT_EQ(p.at(m.b1->mac).prev, m.local);
    // B2's only uplink is its backhaul STA's association to B1: free last hop.
    const PathEntry& b2 = p.at(m.b2->mac);
    EXPECT_EQ(std::tie(b2.cost, b2.link_cost, b2.prev, b2.link),
              std::make_tuple(161u, 151u, m.b1, m.bh));
    EXPECT_EQ(p.at(m.bsta->mac).cost, 161u);
    std::string text = to_string(p);
    EXPECT_NE(text.find("B2 02:00:00:00:02:01 $161 <= B1 02:00:00:00:01:01 hop $151\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Root 02:00:00:00:00:01 $0\n"), std::string::npos) << text;
}

TEST_F(PathCost, NoRootMeansEverythingUnreachable) {
    ScriptedMesh m;
    m.g.root = nullptr;
    Paths p = find_shortest_paths_for_devices(log, m.g);
    for (const auto& kv : p) {
        EXPECT_EQ(kv.second.cost, 1000000u);
        EXPECT_EQ(kv.second.link, nullptr);
    }
}

TEST_F(PathCost, UnassociatedOnlyDeviceIsPossibleButNotWorking) {
    ScriptedMesh m;
    Device* b3 = add_device(m.g, "B3", mac(3, 1));
    b3->interfaces = {eth_if(mac(3, 1)), wifi_if(mac(3, 9), BSSID(mac(0, 8)), 0x4)};
    Sta* bsta3 = add_sta(m.g, mac(3, 9));
    bsta3->update_backhaul_sta(true, b3->mac);
    add_unassoc(m.root, bsta3->mac, BSSID(mac(0, 8)), 150, 1);
    Paths all = find_shortest_paths_for_devices(log, m.g);
    EXPECT_EQ(all.at(b3->mac).cost, 151u);
    EXPECT_EQ(all.at(b3->mac).prev, m.root);
    Paths work = find_shortest_working_paths_for_devices(log, m.g);
    EXPECT_EQ(work.at(b3->mac).cost, 1000000u);
    EXPECT_EQ(work.at(b3->mac).link, nullptr);
}

TEST_F(PathCost, OneWayWiredLinkDoesNotCountWhenWorking) {
    Graph g;
    Device* root = add_device(g, "Root", mac(0, 1));
    g.root = root;
    Device* b1 = add_device(g, "B1", mac(1, 1));
    add_wired(root, b1->mac);  // B1 does not report it back
    EXPECT_EQ(find_shortest_paths_for_devices(log, g).at(b1->mac).cost, 10u);
    EXPECT_EQ(find_shortest_working_paths_for_devices(log, g).at(b1->mac).cost, 1000000u);
    add_wired(b1, root->mac);
    EXPECT_EQ(find_shortest_working_paths_for_devices(log, g).at(b1->mac).cost, 10u);
}

TEST_F(PathCost, EqualCostsLaterWorkListEntryIsExpandedFirst) {
    // Root -> A and Root -> B both cost 10 (wired both ways); A and B both reach C at
    // equal total cost. C's parent is the device expanded first: the one later in the
    // work list (the graph's map order), since a later equal-cost path never replaces.
    Graph g;
    Device* root = add_device(g, "Root", mac(0, 1));
    g.root = root;
    Device* a = add_device(g, "A", mac(1, 1));
    Device* b = add_device(g, "B", mac(2, 1));
    Device* c = add_device(g, "C", mac(3, 1));
    for (Device* d : {a, b}) {
        add_wired(root, d->mac);
        add_wired(d, root->mac);
        add_wired(d, c->mac);
        add_wired(c, d->mac);
    }
    std::vector<MAC> order;
    for (const auto& kv : g.nodes)
        order.push_back(kv.first);
    size_t ia = 0, ib = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i] == a->mac)
            ia = i;
        if (order[i] == b->mac)
            ib = i;
    }
    Paths p = find_shortest_working_paths_for_devices(log, g);
    EXPECT_EQ(p.at(c->mac).cost, 20u);
    EXPECT_EQ(p.at(c->mac).prev, ia > ib ? a : b);
}

TEST_F(PathCost, WorkingPathsWithClients) {
    ScriptedMesh m;
    Paths p = find_shortest_working_paths(log, m.g);
    ASSERT_EQ(p.count(m.c2->mac), 1u);
    uint32_t hop = m.b2->find_wireless_link(m.c2->mac)->cost();
    EXPECT_EQ(p.at(m.c2->mac).cost, 161u + hop);
    EXPECT_EQ(p.at(m.c2->mac).prev, m.b2);
    EXPECT_EQ(find_working_path_cost_for_client(log, m.g, m.c2), 161u + hop);
    EXPECT_EQ(find_working_path_cost_for_client(log, m.g, nullptr), 1000000u);
    Sta* lonely = add_sta(m.g, mac(9, 7));
    EXPECT_EQ(find_working_path_cost_for_client(log, m.g, lonely), 1000000u);
}

TEST_F(PathCost, ClientPathsAgeRuleAndMedium) {
    ozr_clock::set_manual(100000);
    ScriptedMesh m;
    // C2 is associated to B2 since t=1; B1 and Root measure it.
    UnassociatedLink* at_b1 = add_unassoc(m.b1, m.c2->mac, BSSID(mac(1, 7)), 180, 100000 - 44999);
    UnassociatedLink* at_root =
        add_unassoc(m.root, m.c2->mac, BSSID(mac(0, 8)), 180, 100000 - 45000);
    Paths p = find_shortest_paths_for_clients(log, m.g, m.c2->mac, Medium::WIFI_5G);
    ASSERT_EQ(p.count(m.b1->mac), 1u);
    const PathEntry& b1 = p.at(m.b1->mac);
    EXPECT_EQ(std::tie(b1.link, b1.prev, b1.node, b1.cost),
              std::make_tuple(at_b1, m.b1, m.c2, 10u + at_b1->cost()));
    EXPECT_EQ(p.count(m.root->mac), 0u);  // 45000 ms old: skipped
    ASSERT_EQ(p.count(m.b2->mac), 1u);    // its present association
    EXPECT_EQ(p.at(m.b2->mac).link->kind(), Link::WIRELESS);
    at_root->measured_ms = 100000 - 1;
    p = find_shortest_paths_for_clients(log, m.g, m.c2->mac, Medium::WIFI_5G);
    EXPECT_EQ(p.count(m.root->mac), 1u);
    // Another medium: only links on it.
    EXPECT_TRUE(find_shortest_paths_for_clients(log, m.g, m.c2->mac, Medium::WIFI_2G).empty());
    // A 5 GHz high-band request takes the undivided 5 GHz links, not the low band.
    at_b1->medium = Medium::WIFI_5G_LOW;
    p = find_shortest_paths_for_clients(log, m.g, m.c2->mac, Medium::WIFI_5G_HIGH);
    EXPECT_EQ(p.count(m.b1->mac), 0u);
    EXPECT_EQ(p.count(m.root->mac), 1u);
    EXPECT_TRUE(find_shortest_paths_for_clients(log, m.g, mac(7, 7), Medium::WIFI_5G).empty());
    ozr_clock::use_real();
}

TEST_F(PathCost, ClientPathsSkipMeasurementsOlderThanTheAssociation) {
    ozr_clock::set_manual(100000);
    ScriptedMesh m;
    // C1 re-associates to Root at 99000; B1 measured it at 98000 (before) and 99500.
    m.root->delete_link(m.c1->mac);
    add_wireless(m.root, m.c1->mac, BSSID(mac(0, 8)), 200, Medium::WIFI_5G, 99000);
    add_unassoc(m.b1, m.c1->mac, BSSID(mac(1, 7)), 180, 98000);
    Paths p = find_shortest_paths_for_clients(log, m.g, m.c1->mac, Medium::WIFI_5G);
    EXPECT_EQ(p.count(m.b1->mac), 0u);
    m.b1->links.back()->last_heard_ms = 0;
    static_cast<UnassociatedLink*>(m.b1->links.back())->measured_ms = 99500;
    p = find_shortest_paths_for_clients(log, m.g, m.c1->mac, Medium::WIFI_5G);
    EXPECT_EQ(p.count(m.b1->mac), 1u);
    ozr_clock::use_real();
}

TEST_F(PathCost, ClientMovingBetweenDevices) {
    ScriptedMesh m;
    // Asked before and after each change: the serving-device index follows the links.
    EXPECT_EQ(m.c1->get_working_device(), m.root);
    uint32_t at_root = find_working_path_cost_for_client(log, m.g, m.c1);
    EXPECT_EQ(at_root, m.root->find_wireless_link(m.c1->mac)->cost());
    // C1 roams to B2: its association moves, the path now runs through B1 and the
    // backhaul STA.
    m.root->delete_link(m.c1->mac, Link::WIRELESS);
    WirelessLink* l = add_wireless(m.b2, m.c1->mac, BSSID(mac(2, 8)), 200);
    EXPECT_EQ(m.c1->get_working_device(), m.b2);
    EXPECT_EQ(find_working_path_cost_for_client(log, m.g, m.c1), 161u + l->cost());
    // B2 disappears: the client has no working path any more.
    m.g.delete_node(m.b2->mac);
    EXPECT_EQ(m.c1->get_working_device(), nullptr);
    EXPECT_EQ(find_working_path_cost_for_client(log, m.g, m.c1), 1000000u);
}

TEST(BackhaulInfo, QualityHysteresis) {
    using Q = backhaul_quality;
    EXPECT_EQ(backhaul_quality_for_cost(199, true, Q::BAD), Q::GOOD);
    EXPECT_EQ(backhaul_quality_for_cost(210, true, Q::NORMAL), Q::NORMAL);
    EXPECT_EQ(backhaul_quality_for_cost(210, false, Q::NORMAL), Q::GOOD);
    EXPECT_EQ(backhaul_quality_for_cost(232, true, Q::GOOD), Q::GOOD);
    EXPECT_EQ(backhaul_quality_for_cost(233, true, Q::GOOD), Q::NORMAL);
    EXPECT_EQ(backhaul_quality_for_cost(278, true, Q::BAD), Q::NORMAL);
    EXPECT_EQ(backhaul_quality_for_cost(300, true, Q::BAD), Q::BAD);
    EXPECT_EQ(backhaul_quality_for_cost(300, false, Q::BAD), Q::NORMAL);
    EXPECT_EQ(backhaul_quality_for_cost(463, true, Q::NORMAL), Q::NORMAL);
    EXPECT_EQ(backhaul_quality_for_cost(464, true, Q::GOOD), Q::BAD);
}

TEST(BackhaulInfo, FromWorkingPaths) {
    Logger log{nullptr, "cost", "", -1};
    ScriptedMesh m;
    m.bh->rcpi = 120;  // also the backbone cost RCPI (no uplink RCPI)
    Paths p = find_shortest_working_paths_for_devices(log, m.g);
    backhaul_information b2 = compute_backhaul_information(m.g, p, *m.b2);
    // From its backhaul STA to B1's backhaul BSS, on the STA's medium.
    EXPECT_EQ(
        std::make_tuple(b2.is_backhaul_connected, b2.local_ale, b2.remote_ale, b2.local_interface,
                        b2.remote_interface, static_cast<int32_t>(b2.uplink_rssi), b2.medium,
                        b2.cost_to_parent, b2.cost_to_root),
        std::make_tuple(true, m.b2->mac, m.b1->mac, mac(2, 9), mac(1, 8), -50, Medium::WIFI_5G_HIGH,
                        m.bh->cost(), 10 + m.bh->cost()));
    backhaul_information b1 = compute_backhaul_information(m.g, p, *m.b1);
    EXPECT_EQ(std::tie(b1.uplink_rssi, b1.medium, b1.quality),
              std::make_tuple(255u, Medium::ETHERNET, backhaul_quality::GOOD));
    backhaul_information root = compute_backhaul_information(m.g, p, *m.root);
    EXPECT_EQ(root, backhaul_information());  // no uplink: disconnected record
    // Same parent and interfaces: hysteresis applies to the stored quality.
    m.b2->backhaul = b2;
    m.b2->backhaul.quality = backhaul_quality::BAD;
    m.bh->rcpi = 90;
    p = find_shortest_working_paths_for_devices(log, m.g);
    backhaul_information again = compute_backhaul_information(m.g, p, *m.b2);
    ASSERT_GE(again.cost_to_root, 279u);
    ASSERT_LE(again.cost_to_root, 463u);
    EXPECT_EQ(again.quality, backhaul_quality::BAD);
}

}  // namespace
