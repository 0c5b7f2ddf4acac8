// The tick's shared client path search gives exactly what the per-client search gives, on
// random meshes.
#include <gtest/gtest.h>

#include <random>

#include "common/clock.h"
#include "log/logger.h"
#include "mesh_fixture.h"
#include "steering/client_paths.h"

using namespace graph_test;

TEST(ClientPaths, SharedSearchEqualsThePerClientSearchOnRandomMeshes) {
    ozr_clock::set_manual(1000000);
    Logger log(nullptr, "test", "", 3);
    std::mt19937 rng(1234);
    const Medium media[] = {Medium::WIFI_2G, Medium::WIFI_5G_LOW, Medium::WIFI_5G_HIGH,
                            Medium::WIFI_5G};
    size_t compared = 0, candidates = 0;
    for (int round = 0; round < 40; ++round) {
        Graph g;
        const int n_dev = 2 + static_cast<int>(rng() % 12);
        const int n_sta = static_cast<int>(rng() % 40);
        std::vector<Device*> devs;
        for (int i = 0; i < n_dev; ++i)
            devs.push_back(add_device(g, "D" + std::to_string(i), mac(1, static_cast<uint8_t>(i))));
        g.root = devs[0];
        for (int i = 1; i < n_dev; ++i) {
            Device* parent = devs[rng() % static_cast<unsigned>(i)];
            if (rng() % 2) {
                add_wired(parent, devs[i]->mac);
                if (rng() % 4)
                    add_wired(devs[i], parent->mac);
            } else {
                MAC bsta = mac(2, static_cast<uint8_t>(i));
                Sta* s = add_sta(g, bsta);
                s->is_backhaul_sta = true;
                s->owner_device = devs[i]->mac;
                add_wireless(parent, bsta, BSSID(mac(3, static_cast<uint8_t>(i))),
                             static_cast<uint8_t>(rng() % 221), media[rng() % 4]);
            }
        }
        const int64_t now = get_current_time_ms();
        std::vector<MAC> stas;
        for (int i = 0; i < n_sta; ++i) {
            MAC m = mac(9, static_cast<uint8_t>(i));
            add_sta(g, m);
            stas.push_back(m);
            if (rng() % 5)
                add_wireless(devs[rng() % devs.size()], m, BSSID(mac(4, static_cast<uint8_t>(i))),
                             static_cast<uint8_t>(rng() % 256), media[rng() % 4], now - 1000);
            for (int k = static_cast<int>(rng() % 4); k > 0; --k)
                add_unassoc(devs[rng() % devs.size()], m, BSSID(mac(5, static_cast<uint8_t>(k))),
                            static_cast<uint8_t>(rng() % 256),
                            now - static_cast<int64_t>(rng() % 60000), media[rng() % 4]);
        }
        ClientPathIndex index;
        index.build(log, g);
        for (const MAC& m : stas) {
            EXPECT_EQ(index.working_cost(g.find_sta(m)),
                      find_working_path_cost_for_client(log, g, g.find_sta(m)));
            for (Medium medium : media) {
                Paths want = find_shortest_paths_for_clients(log, g, m, medium);
                Paths got = index.paths_for(g, m, medium, now);
                ASSERT_EQ(got.size(), want.size());
                for (const auto& kv : want) {
                    auto it = got.find(kv.first);
                    ASSERT_NE(it, got.end());
                    const PathEntry &a = it->second, &b = kv.second;
                    EXPECT_EQ(std::tie(a.cost, a.link, a.prev, a.link_cost),
                              std::tie(b.cost, b.link, b.prev, b.link_cost));
                    candidates += kv.second.link->kind() == Link::UNASSOCIATED;
                }
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 500u);
    EXPECT_GT(candidates, 50u);  // the comparisons cover unassociated hops
    ozr_clock::use_real();
}
