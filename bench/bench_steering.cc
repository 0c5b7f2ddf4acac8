// One steering tick over meshes of 8, 32 and 128 devices with 10 clients each, and over the
// large scenario (33 agents, 500 clients). Each mesh is built as the graph minder would hold
// it: devices with their radios, BSSs and channels, wired and wireless backhauls, clients
// associated with their RCPI and measured by the other devices that hear them. The clock
// moves 15 s per tick, so every tick does its full round (the > 32 node throttle).
#include <benchmark/benchmark.h>
#include <uv.h>

#include <cstdlib>
#include <random>
#include <string>

#include "../tools/meshsim/scenario.h"
#include "common/clock.h"
#include "common/paths.h"
#include "core/context.h"
#include "data/data_minder.h"
#include "graph/graph.h"
#include "graph/graph_minder.h"
#include "log/logger.h"
#include "map/map_log.h"
#include "steering/steering_minder.h"

namespace {

uint8_t rcpi_of(int rssi) {
    int r = 2 * rssi + 220;
    return static_cast<uint8_t>(r < 0 ? 0 : r > 220 ? 220 : r);
}

Medium medium_of(meshsim::Band b) {
    return b == meshsim::Band::b24 ? Medium::WIFI_2G : Medium::WIFI_5G;
}

// A scenario of DEVICES agents (a tree, every third on a wireless backhaul) with 10 dual-band
// clients each, hearing their own AP and two others.
meshsim::Scenario synthetic(int devices) {
    std::mt19937 rng(7);
    meshsim::Scenario s;
    s.controller_al_mac = MAC(0x02, 0xbe, 0, 0, 0, 0);
    for (int i = 0; i < devices; ++i) {
        meshsim::AgentConf a;
        a.name = "ap" + std::to_string(i);
        a.al_mac = MAC(0x02, 0xbe, 1, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 0);
        for (int r = 0; r < 2; ++r) {
            meshsim::RadioConf rc;
            rc.id = MAC(0x02, 0xbe, 2, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i),
                        static_cast<uint8_t>(r));
            rc.band = r ? meshsim::Band::b5 : meshsim::Band::b24;
            rc.op_class = r ? 115 : 81;
            rc.channel = r ? 36 : 6;
            meshsim::BssConf b;
            b.bssid = BSSID(MAC(0x02, 0xbe, 3, static_cast<uint8_t>(i >> 8),
                                static_cast<uint8_t>(i), static_cast<uint8_t>(r)));
            b.ssid = "home";
            rc.bsss.push_back(b);
            a.radios.push_back(rc);
        }
        a.backhaul.parent = i == 0 ? "controller" : "ap" + std::to_string((i - 1) / 2);
        a.backhaul.kind =
            i % 3 == 2 ? meshsim::BackhaulKind::wifi : meshsim::BackhaulKind::ethernet;
        a.backhaul.bsta =
            MAC(0x02, 0xbe, 4, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 0);
        s.agents.push_back(a);
    }
    for (int i = 0; i < devices; ++i) {
        meshsim::AgentConf& a = s.agents[static_cast<size_t>(i)];
        if (a.backhaul.kind == meshsim::BackhaulKind::wifi)
            a.backhaul.bssid = s.agents[static_cast<size_t>((i - 1) / 2)].radios[1].bsss[0].bssid;
        for (int k = 0; k < 10; ++k) {
            meshsim::ClientConf c;
            const int n = i * 10 + k;
            c.mac = MAC(0x02, 0xc1, 0, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 1);
            c.band5 = true;
            c.btm = true;
            const int r = static_cast<int>(rng() % 2);
            c.bssid = a.radios[static_cast<size_t>(r)].bsss[0].bssid;
            c.rssi[c.bssid] = -40 - static_cast<int>(rng() % 45);
            for (int o = 0; o < 2; ++o) {
                const auto& other = s.agents[rng() % s.agents.size()];
                c.rssi[other.radios[static_cast<size_t>(r)].bsss[0].bssid] =
                    -40 - static_cast<int>(rng() % 45);
            }
            s.clients.push_back(c);
        }
    }
    return s;
}

class Mesh {
  public:
    explicit Mesh(const meshsim::Scenario& s) {
        char tmpl[] = "/tmp/ozr-bench-XXXXXX";
        root_ = mkdtemp(tmpl);
        setenv("OZR_ROOT", root_.c_str(), 1);
        init_null_logger();
        init_root_logger(3, "", config_);
        // The stack is not started here: its "not started" line per request is not the
        // daemon's cost.
        set_all_map_module_log_level(0);
        ozr_clock::set_manual(1000000);
        uv_loop_init(&loop_);
        ctx_ = new Context(&loop_);
        ctx_->data_minder->client_db().db_init();
        build(s);
    }
    ~Mesh() {
        delete ctx_;
        uv_run(&loop_, UV_RUN_NOWAIT);
        ozr_clock::use_real();
        std::system(("rm -rf " + root_).c_str());
    }
    void tick() {
        ozr_clock::advance(15000);
        const int64_t now = ctx_->now();
        for (UnassociatedLink* u : unassoc_)
            u->measured_ms = now;
        ctx_->steering_minder->on_steering_tick_timer();
    }
    size_t clients() const { return clients_; }
    uint64_t db_writes() const { return ctx_->data_minder->client_db().writes(); }

  private:
    void build(const meshsim::Scenario& s) {
        Graph& g = ctx_->graph_minder->graph();
        const int64_t now = ctx_->now();
        Device* root = new Device("Root", s.controller_al_mac, now);
        g.add_node(root);
        g.root = root;
        std::map<std::string, Device*> by_name;
        std::map<BSSID, std::pair<Device*, Medium>> bss;
        for (const auto& a : s.agents) {
            Device* d = new Device(a.name, a.al_mac, now);
            g.add_node(d);
            by_name[a.name] = d;
            APCapabilityMesg cap;
            for (const auto& r : a.radios) {
                RadioInfo ri;
                ri.radio_id = r.id;
                for (const auto& b : r.bsss) {
                    ri.bsss.push_back(BSSInfo{b.bssid, b.ssid});
                    bss[b.bssid] = {d, medium_of(r.band)};
                }
                d->operational_bss.push_back(ri);
                BasicRadioCapabilitiesTLV rc;
                rc.radio_id = r.id;
                rc.band = r.band == meshsim::Band::b24 ? 0 : 1;
                cap.radios.push_back(rc);
                OperatingChannelReportTLV oc;
                oc.radio_id = r.id;
                operating_class_channel_s c;
                c.op_class = r.op_class;
                c.channel = r.channel;
                oc.op_classes.push_back(c);
                d->current_channels.reports.push_back(oc);
            }
            d->ap_capability = cap;
        }
        for (const auto& a : s.agents) {
            Device* d = by_name[a.name];
            Device* parent = a.backhaul.parent == "controller" ? root : by_name[a.backhaul.parent];
            if (!parent)
                continue;
            if (a.backhaul.kind == meshsim::BackhaulKind::ethernet) {
                auto* l = new WiredLink(d->mac, now);
                l->medium = Medium::ETHERNET;
                parent->add_link(l);
                auto* back = new WiredLink(parent->mac, now);
                back->medium = Medium::ETHERNET;
                d->add_link(back);
            } else {
                Sta* b = new Sta("", a.backhaul.bsta, now);
                g.add_node(b);
                b->is_backhaul_sta = true;
                b->owner_device = d->mac;
                auto* l = new WirelessLink(a.backhaul.bsta, a.backhaul.bssid, now);
                l->rcpi = rcpi_of(-60);
                l->medium = Medium::WIFI_5G;
                l->is_backbone = true;
                parent->add_link(l);
            }
        }
        for (const auto& c : s.clients) {
            auto at = bss.find(c.bssid);
            if (at == bss.end())
                continue;
            Sta* st = new Sta("", c.mac, now);
            g.add_node(st);
            st->capabilities.supported_channels_2g = c.band24 ? 0x7ff : 0;
            st->capabilities.supported_channels_5g = c.band5 ? 0xf : 0;
            st->capabilities.capable_bss_transition = c.btm;
            auto* l = new WirelessLink(c.mac, c.bssid, now);
            auto own = c.rssi.find(c.bssid);
            l->rcpi = rcpi_of(own == c.rssi.end() ? -60 : own->second);
            l->medium = at->second.second;
            at->second.first->add_link(l);
            for (const auto& kv : c.rssi) {
                auto other = bss.find(kv.first);
                if (kv.first == c.bssid || other == bss.end() ||
                    other->second.first == at->second.first)
                    continue;
                auto* u = new UnassociatedLink(c.mac, kv.first, now);
                u->rcpi = rcpi_of(kv.second);
                u->measured_ms = now;
                u->medium = other->second.second;
                other->second.first->add_link(u);
                unassoc_.push_back(u);
            }
            ctx_->steering_minder->notify_new_wireless_link(l);
            ++clients_;
        }
    }

    std::string root_;
    Config config_;
    uv_loop_t loop_;
    Context* ctx_ = nullptr;
    std::vector<UnassociatedLink*> unassoc_;
    size_t clients_ = 0;
};

void run(benchmark::State& state, const meshsim::Scenario& s) {
    Mesh mesh(s);
    for (int i = 0; i < 3; ++i)  // settle: records, client database, first windows
        mesh.tick();
    const uint64_t writes = mesh.db_writes();
    uint64_t ticks = 0;
    for (auto _ : state) {
        mesh.tick();
        ++ticks;
    }
    state.counters["clients"] = static_cast<double>(mesh.clients());
    // Client database rewrites per hour of mesh time (15 s per tick) once settled: the
    // flash wear.
    state.counters["db_writes_per_hour"] =
        ticks ? static_cast<double>(mesh.db_writes() - writes) * 3600.0 / (ticks * 15.0) : 0.0;
}

void BM_SteeringTick(benchmark::State& state) {
    run(state, synthetic(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_SteeringTick)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);

void BM_SteeringTickLargeScenario(benchmark::State& state) {
    meshsim::Scenario s;
    std::string error;
    if (meshsim::scenario_load(OZR_SOURCE_DIR "/tools/meshsim/scenarios/large.json", s, &error) !=
        0) {
        state.SkipWithError(("large.json: " + error).c_str());
        return;
    }
    run(state, s);
}
BENCHMARK(BM_SteeringTickLargeScenario)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
