// Backhaul steering and the topology export: the mandate (two path searches and the
// per-device decision) on meshes of 8, 32 and 128 devices, and the packed topology block
// of a mesh shaped like large.json (33 devices, 495 clients), time per call and size.
#include <benchmark/benchmark.h>
#include <uv.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "data/topology_export.h"
#include "graph/graph.h"
#include "log/logger.h"
#include "steering/backhaul_steering.h"

namespace {

MAC mac(uint8_t kind, int dev, int idx) {
    return MAC(0x02, kind, static_cast<uint8_t>(dev >> 8), static_cast<uint8_t>(dev),
               static_cast<uint8_t>(idx), 0x01);
}

constexpr int64_t kNow = 10000000;

// Device 0 is the root. Device i hangs under device (i-1)/3: every other one wired (both
// ways), the rest through a backhaul STA on the parent's backhaul BSS, measured strongly by
// the root (so that most wireless devices get a mandate). Each device serves CLIENTS
// clients on its fronthaul BSS.
struct Mesh {
    Graph g;
    std::vector<Device*> devs;

    Mesh(int n, int clients) {
        const int64_t then = kNow - 600000;
        for (int i = 0; i < n; ++i) {
            Device* d = new Device(i == 0 ? "Root" : "B" + std::to_string(i), mac(1, i, 0), then);
            LocalInterface eth;
            eth.mac = mac(1, i, 1);
            LocalInterface bsta;
            bsta.mac = mac(1, i, 3);
            d->interfaces = {eth, bsta};
            d->operational_bss = {
                {mac(1, i, 9), {{BSSID(mac(1, i, 4)), "home"}, {BSSID(mac(1, i, 2)), "bh"}}}};
            OperatingChannelReportTLV oc;
            oc.radio_id = mac(1, i, 9);
            oc.op_classes.push_back({115, 36});
            d->current_channels.reports.push_back(oc);
            g.add_node(d);
            devs.push_back(d);
        }
        g.root = devs[0];
        for (int i = 1; i < n; ++i) {
            Device* parent = devs[static_cast<size_t>((i - 1) / 3)];
            Device* d = devs[static_cast<size_t>(i)];
            if (i % 2) {
                parent->add_link(new WiredLink(d->mac, then));
                d->add_link(new WiredLink(parent->mac, then));
            } else {
                Sta* bsta = new Sta("", mac(1, i, 3), then);
                bsta->update_backhaul_sta(true, d->mac);
                g.add_node(bsta);
                auto* l = new WirelessLink(bsta->mac, BSSID(mac(1, (i - 1) / 3, 2)), then);
                l->rcpi = l->uplink_rcpi = static_cast<uint8_t>(60 + i % 40);
                l->is_backbone = true;
                l->medium = Medium::WIFI_5G;
                parent->add_link(l);
                auto* u = new UnassociatedLink(bsta->mac, BSSID(mac(1, 0, 2)), kNow);
                u->rcpi = 200;
                u->measured_ms = kNow;
                u->op_class = 115;
                u->channel = 36;
                u->medium = Medium::WIFI_5G;
                devs[0]->add_link(u);
            }
        }
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < clients; ++c) {
                Sta* s = new Sta("client", mac(2, i, c), then);
                g.add_node(s);
                auto* l = new WirelessLink(s->mac, BSSID(mac(1, i, 4)), then);
                l->rcpi = static_cast<uint8_t>(80 + c * 5);
                devs[static_cast<size_t>(i)]->add_link(l);
            }
        }
    }
};

Logger& quiet() {
    static Logger log(nullptr, "bench", "", -1);  // no level: nothing is formatted
    return log;
}

void BM_BackhaulMandate(benchmark::State& state) {
    Mesh m(static_cast<int>(state.range(0)), 10);
    uv_loop_t loop;
    uv_loop_init(&loop);
    size_t mandates = 0;
    {
        BackhaulSteering bh(&loop, &quiet());
        for (auto _ : state) {
            std::vector<BackhaulSteeringMandate> v = bh.get_backhaul_steering_mandate(m.g, kNow);
            mandates = v.size();
            benchmark::DoNotOptimize(v);
        }
    }
    state.counters["mandates"] = static_cast<double>(mandates);
    uv_run(&loop, UV_RUN_DEFAULT);
    uv_loop_close(&loop);
}

void BM_TopologyExport(benchmark::State& state) {
    Mesh m(33, 15);
    std::vector<TopoApView> aps;
    for (size_t i = 1; i < m.devs.size(); ++i) {
        TopoApView v;
        v.info.sn = "EX" + std::to_string(i);
        v.info.ale_mac = m.devs[i]->mac;
        v.info.status = "Configured";
        v.device = m.devs[i];
        aps.push_back(v);
    }
    TopoSource src{&m.g, &quiet(), kNow};
    size_t size = 0;
    for (auto _ : state) {
        unsigned char* block = nullptr;
        build_mesh_topology(aps, src, &block, &size);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
    state.counters["bytes"] = static_cast<double>(size);
}

}  // namespace

BENCHMARK(BM_BackhaulMandate)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TopologyExport)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
