// Decoding cost of the two messages a busy mesh sends most: the Topology
// Response of a large agent and its AP Metrics Response. Items are CMDUs.
#include <benchmark/benchmark.h>

#include "map/codec/tlvs.h"
#include "messages/decoders.h"

namespace {

MAC mac(uint8_t a, uint8_t b, uint8_t c) {
    return MAC(0x02, 0x00, 0x00, a, b, c);
}

// RADIOS radios x BSS BSSs x CLIENTS clients, one interface per BSS.
CmduPtr topology_response(int radios, int bss, int clients) {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 1);
    device_information_tlv info;
    info.al_mac_address = mac(0, 0, 1);
    ap_operational_bss_tlv ops;
    associated_clients_tlv assoc;
    for (int r = 0; r < radios; ++r) {
        ap_operational_bss_tlv::radio radio;
        radio.radio_id = mac(1, r, 0);
        for (int s = 0; s < bss; ++s) {
            device_information_tlv::local_interface li;
            li.mac_address = mac(2, r, s);
            li.media_type = MEDIA_TYPE_IEEE_802_11AX;
            li.media_specific_info_length = IEEE80211_MEDIA_INFO_LEN;
            info.local_interfaces.push_back(li);
            ap_operational_bss_tlv::bss o;
            o.bssid = BSSID(mac(2, r, s));
            o.ssid_len = 12;
            radio.bsss.push_back(o);
            associated_clients_tlv::bss a;
            a.bssid = o.bssid;
            for (int c = 0; c < clients; ++c)
                a.clients.push_back({mac(3, r * bss + s, c), 10});
            a.num_clients = static_cast<uint16_t>(a.clients.size());
            assoc.bsss.push_back(a);
        }
        radio.num_bss = static_cast<uint8_t>(radio.bsss.size());
        ops.radios.push_back(radio);
    }
    info.num_local_interfaces = static_cast<uint8_t>(info.local_interfaces.size());
    ops.num_radios = static_cast<uint8_t>(ops.radios.size());
    assoc.num_bss = static_cast<uint8_t>(assoc.bsss.size());
    b.add(info).add(ops).add(assoc);
    for (int n = 0; n < 4; ++n) {
        neighbor_device_list_tlv nb;
        nb.local_mac_address = mac(2, 0, 0);
        nb.neighbors.push_back({mac(4, n, 0), 0});
        b.add(nb);
    }
    return b.build();
}

CmduPtr ap_metrics_response(int clients) {
    CmduBuilder b(CMDU_TYPE_AP_METRICS_RESPONSE, 2);
    for (int s = 0; s < 4; ++s) {
        ap_metrics_tlv m;
        m.bssid = BSSID(mac(2, 0, s));
        m.channel_utilization = 100;
        b.add(m);
    }
    for (int c = 0; c < clients; ++c) {
        associated_sta_traffic_stats_tlv t;
        t.sta_mac = mac(3, 0, c);
        b.add(t);
        associated_sta_link_metrics_tlv l;
        l.sta_mac = t.sta_mac;
        l.bssids.resize(1);
        l.num_bssids = 1;
        b.add(l);
    }
    return b.build();
}

void BM_ParseTopologyResponse(benchmark::State& state) {
    CmduPtr c = topology_response(3, 4, static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(parse_topology(c.get()));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseTopologyResponse)->Arg(2)->Arg(16);

void BM_ParseApMetricResponse(benchmark::State& state) {
    CmduPtr c = ap_metrics_response(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(parse_ap_metric_response(c.get()));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseApMetricResponse)->Arg(8)->Arg(64);

}  // namespace

BENCHMARK_MAIN();
