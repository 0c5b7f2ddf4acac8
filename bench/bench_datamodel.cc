// Cost of the stack's data model at its caps: folding a Topology Response into
// a full mesh (64 agents, tree rebuild included), station look-ups, and the
// depth walk the channel broadcast makes. Counters give the record sizes, so
// the memory of a full model can be read off (agents x sizeof(ale) + radios x
// sizeof(radio) + stations x (sizeof(sta) + frame)).
#include <benchmark/benchmark.h>

#include <string>

#include "map/codec/cmdu_alloc.h"
#include "map/datamodel/datamodel.h"
#include "map/map_log.h"

namespace {

void quiet(int, const char*, const std::string&) {}
MAC agent(int i) {
    return MAC(0x02, 0, 0, 1, 0, static_cast<uint8_t>(i));
}

// A chain-and-star mesh: agent i (i >= 2) neighbours agent i / 2.
void build_full_mesh() {
    map_log_set_sink(quiet);
    map_datamodel_init(agent(0), agent(1));
    for (int i = 1; i < MAP_MAX_AGENTS; ++i) {
        map_ale_info_t* a = map_update_ale(agent(i));
        map_neighbor_info_t n;
        n.al_mac = agent(i / 2 ? i / 2 : 0);
        map_update_ale_neighbors(a, &n, 1);
        for (int r = 0; r < 2; ++r)
            map_update_radio(a, MAC(0x02, 0, 0, 2, static_cast<uint8_t>(i), r));
    }
}

CmduPtr response_of(int i, int clients) {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 1);
    b.source(agent(i));
    auto& info = b.add<device_information_tlv>();
    info.al_mac_address = agent(i);
    auto& n = b.add<neighbor_device_list_tlv>();
    n.neighbors.push_back({agent(i / 2), 0});
    auto& op = b.add<ap_operational_bss_tlv>();
    ap_operational_bss_tlv::radio r;
    r.radio_id = MAC(0x02, 0, 0, 2, static_cast<uint8_t>(i), 0);
    ap_operational_bss_tlv::bss bss;
    bss.bssid = BSSID(0x02, 0, 0, 3, static_cast<uint8_t>(i), 0);
    r.bsss.push_back(bss);
    op.radios.push_back(r);
    auto& ac = b.add<associated_clients_tlv>();
    associated_clients_tlv::bss cb;
    cb.bssid = bss.bssid;
    for (int c = 0; c < clients; ++c)
        cb.clients.push_back({MAC(0x06, 0, 0, static_cast<uint8_t>(i), static_cast<uint8_t>(c >> 8),
                                  static_cast<uint8_t>(c)),
                              10});
    ac.bsss.push_back(cb);
    return b.build();
}

void BM_TopologyResponseIntoFullMesh(benchmark::State& state) {
    build_full_mesh();
    CmduPtr resp = response_of(40, static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(map_update_from_cmdu(resp.get()));
    state.counters["sizeof_ale"] = sizeof(map_ale_info_t);
    state.counters["sizeof_radio"] = sizeof(map_radio_info_t);
    state.counters["sizeof_sta"] = sizeof(map_sta_info_t);
    map_datamodel_reset();
}
BENCHMARK(BM_TopologyResponseIntoFullMesh)->Arg(0)->Arg(32)->Arg(256);

void BM_GetStaAtCap(benchmark::State& state) {
    build_full_mesh();
    map_ale_info_t* a = get_ale(agent(3));
    for (int s = 0; s < MAP_MAX_STATIONS; ++s)
        map_update_sta(a, MAC(0x06, 0, 0, 0, static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s)),
                       BSSID(), 0);
    int s = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            get_sta(MAC(0x06, 0, 0, 0, static_cast<uint8_t>(s >> 8), static_cast<uint8_t>(s))));
        s = (s + 1) % MAP_MAX_STATIONS;
    }
    map_datamodel_reset();
}
BENCHMARK(BM_GetStaAtCap);

void BM_BroadcastWalk(benchmark::State& state) {
    build_full_mesh();
    for (auto _ : state) {
        int n = 0;
        for (int d = map_get_topology_tree_height(); d >= 2; --d) {
            array_list_t* list = ktree_elements_at_depth(get_root_ale_node(), d);
            while (pop_object(list))
                ++n;
            delete_array_list(list);
        }
        benchmark::DoNotOptimize(n);
    }
    map_datamodel_reset();
}
BENCHMARK(BM_BroadcastWalk);

}  // namespace

BENCHMARK_MAIN();
