// Path cost on meshes of 8, 32 and 128 devices with 10 clients each: the backhaul
// update (working paths of all devices and every device's backhaul record) and one
// client path search, time per call.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "common/clock.h"
#include "graph/backhaul.h"
#include "graph/path_cost.h"
#include "log/logger.h"

namespace {

MAC mac(uint8_t kind, int dev, int idx) {
    return MAC(0x02, kind, static_cast<uint8_t>(dev >> 8), static_cast<uint8_t>(dev),
               static_cast<uint8_t>(idx), 0x01);
}

// Device 0 is the root. Device i hangs under device (i-1)/3: every other one wired (both
// ways), the rest through a backhaul STA associated to the parent's backhaul BSS, which
// the grandparent also measures. Each device serves 10 clients on 5 GHz, each measured by
// two other devices.
struct Mesh {
    Graph g;
    std::vector<Device*> devs;
    std::vector<Sta*> clients;

    explicit Mesh(int n) {
        const int64_t now = get_current_time_ms();
        for (int i = 0; i < n; ++i) {
            Device* d = new Device(i == 0 ? "Root" : "B" + std::to_string(i), mac(1, i, 0), now);
            LocalInterface eth;
            eth.mac = mac(1, i, 1);
            LocalInterface bss;
            bss.mac = mac(1, i, 2);
            Ieee80211Info w;
            w.bssid = BSSID(mac(1, i, 2));
            bss.ieee80211 = w;
            LocalInterface bsta;
            bsta.mac = mac(1, i, 3);
            Ieee80211Info s;
            s.role = 0x4;
            bsta.ieee80211 = s;
            d->interfaces = {eth, bss, bsta};
            g.add_node(d);
            devs.push_back(d);
        }
        g.root = devs[0];
        for (int i = 1; i < n; ++i) {
            Device* parent = devs[static_cast<size_t>((i - 1) / 3)];
            Device* d = devs[static_cast<size_t>(i)];
            if (i % 2) {
                parent->add_link(new WiredLink(d->mac, now));
                d->add_link(new WiredLink(parent->mac, now));
            } else {
                Sta* bsta = new Sta("", mac(1, i, 3), now);
                bsta->update_backhaul_sta(true, d->mac);
                bsta->bsta_medium = Medium::WIFI_5G_HIGH;
                g.add_node(bsta);
                auto* l = new WirelessLink(bsta->mac, BSSID(mac(1, (i - 1) / 3, 2)), now);
                l->rcpi = static_cast<uint8_t>(100 + i % 60);
                l->is_backbone = true;
                l->medium = Medium::WIFI_5G_HIGH;
                parent->add_link(l);
                auto* u = new UnassociatedLink(bsta->mac, BSSID(mac(1, 0, 2)), now);
                u->rcpi = 90;
                u->measured_ms = now;
                u->medium = Medium::WIFI_5G_HIGH;
                devs[0]->add_link(u);
            }
        }
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < 10; ++c) {
                Sta* s = new Sta("", mac(2, i, c), now);
                g.add_node(s);
                clients.push_back(s);
                auto* l = new WirelessLink(s->mac, BSSID(mac(1, i, 2)), now);
                l->rcpi = static_cast<uint8_t>(80 + c * 10);
                l->medium = Medium::WIFI_5G;
                devs[static_cast<size_t>(i)]->add_link(l);
                for (int k = 1; k <= 2 && n > 1; ++k) {
                    Device* other = devs[static_cast<size_t>((i + k) % n)];
                    auto* u = new UnassociatedLink(s->mac, BSSID(mac(1, (i + k) % n, 2)), now);
                    u->rcpi = static_cast<uint8_t>(120 + k * 10);
                    u->measured_ms = now;
                    u->medium = Medium::WIFI_5G;
                    other->add_link(u);
                }
            }
        }
    }
};

Logger& cost_logger() {
    static Logger log(nullptr, "cost", "", -1);  // no level: nothing is formatted
    return log;
}

void BM_BackhaulUpdate(benchmark::State& state) {
    Mesh m(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Paths p = find_shortest_working_paths_for_devices(cost_logger(), m.g);
        for (Device* d : m.devs) {
            backhaul_information b = compute_backhaul_information(m.g, p, *d);
            benchmark::DoNotOptimize(b);
        }
    }
}

void BM_ClientPathSearch(benchmark::State& state) {
    Mesh m(static_cast<int>(state.range(0)));
    const Sta* sta = m.clients.back();
    for (auto _ : state) {
        Paths p = find_shortest_paths_for_clients(cost_logger(), m.g, sta->mac, Medium::WIFI_5G);
        uint32_t working = find_working_path_cost_for_client(cost_logger(), m.g, sta);
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(working);
    }
}

void BM_AllPossiblePaths(benchmark::State& state) {
    Mesh m(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Paths p = find_shortest_paths_for_devices(cost_logger(), m.g);
        benchmark::DoNotOptimize(p);
    }
}

}  // namespace

BENCHMARK(BM_BackhaulUpdate)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ClientPathSearch)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AllPossiblePaths)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
