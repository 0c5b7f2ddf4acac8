// A 32-device mesh for the REST benchmarks: the controller, the co-located
// agent and 30 extenders in a binary tree (every other extender on a wireless
// backhaul through its backhaul STA), each with a 2.4 GHz and a 5 GHz radio,
// their capability, metric and channel reports, and three clients.
#pragma once

#include "graph/graph.h"

namespace ozr_bench {

inline MAC bench_mac(uint8_t kind, uint8_t dev, uint8_t n) {
    return MAC(0x02, 0xbe, kind, dev, n, 0);
}

inline void fill_mesh32(Graph& g, int64_t now) {
    const int kDevices = 32;
    Device* devs[kDevices];
    for (int i = 0; i < kDevices; ++i) {
        const uint8_t d = static_cast<uint8_t>(i);
        const char* name = i == 0 ? "Root" : i == 1 ? "Local_agent" : nullptr;
        devs[i] = new Device(name ? name : "B" + std::to_string(i - 1), bench_mac(1, d, 0), now);
        g.add_node(devs[i]);
        Device& dev = *devs[i];
        LocalInterface eth;
        eth.mac = dev.mac;
        eth.media_type = 0x0001;
        dev.interfaces = {eth};

        RadioInfo r24, r5;
        r24.radio_id = bench_mac(2, d, 0);
        r24.bsss = {BSSInfo{BSSID(bench_mac(3, d, 0)), "home"}};
        r5.radio_id = bench_mac(2, d, 1);
        r5.bsss = {BSSInfo{BSSID(bench_mac(3, d, 1)), "home"},
                   BSSInfo{BSSID(bench_mac(3, d, 2)), "backhaul"}};
        dev.operational_bss = {r24, r5};

        APCapabilityMesg cap;
        for (int r = 0; r < 2; ++r) {
            BasicRadioCapabilitiesTLV b;
            b.radio_id = bench_mac(2, d, static_cast<uint8_t>(r));
            b.max_bss = 4;
            b.band = static_cast<uint8_t>(r);
            b.standard = r ? 4 : 3;
            operating_class_s oc;
            oc.op_class = r ? 115 : 81;
            oc.max_tx_power_eirp = 20;
            b.operating_classes = {oc};
            cap.radios.push_back(b);
            HTCapabilitiesTLV ht;
            ht.radio_id = b.radio_id;
            ht.max_tx_spatial_streams = 1;
            ht.max_rx_spatial_streams = 1;
            cap.ht_capabilities.push_back(ht);
        }
        VHTCapabilitiesTLV vht;
        vht.radio_id = r5.radio_id;
        vht.supported_vht_tx_mcs = 0xfffa;
        vht.supported_vht_rx_mcs = 0xfffa;
        cap.vht_capabilities = {vht};
        dev.ap_capability = cap;

        ApMetricResponseMesg metrics;
        for (const RadioInfo* r : {&r24, &r5})
            for (const BSSInfo& b : r->bsss) {
                ApMetricsTLV am;
                am.bssid = b.bssid;
                am.channel_utilization = 30;
                am.num_associated_stas = 1;
                metrics.ap_metrics.push_back(am);
            }
        dev.ap_metrics = metrics;

        OperatingChannelReportMesg ch;
        OperatingChannelReportTLV rep;
        rep.radio_id = r24.radio_id;
        rep.tx_power = 20;
        rep.op_classes = {{81, 6}};
        ch.reports.push_back(rep);
        rep.radio_id = r5.radio_id;
        rep.op_classes = {{115, 36}};
        ch.reports.push_back(rep);
        dev.update_current_channels(ch);

        for (uint8_t c = 0; c < 3; ++c) {
            Sta* s = new Sta("", bench_mac(4, d, c), now);
            s->capabilities.add_channel(36);
            s->capabilities.add_channel(6);
            g.add_node(s);
            auto* l = new WirelessLink(s->mac, BSSID(bench_mac(3, d, c % 2)), now);
            l->rcpi = 150;
            l->medium = c % 2 ? Medium::WIFI_5G : Medium::WIFI_2G;
            dev.add_link(l);
        }
    }
    g.root = devs[0];
    g.local_agent = devs[1];
    auto wired = [now](Device* a, Device* b) {
        for (auto ends : {std::make_pair(a, b), std::make_pair(b, a)}) {
            auto* l = new WiredLink(ends.second->mac, now);
            l->medium = Medium::ETHERNET;
            l->local_interface = ends.first->mac;
            l->remote_interface = ends.second->mac;
            l->is_backbone = true;
            ends.first->add_link(l);
        }
    };
    wired(devs[0], devs[1]);
    for (int i = 2; i < kDevices; ++i) {
        Device* parent = devs[i / 2];
        Device* child = devs[i];
        child->backhaul.local_ale = child->mac;
        child->backhaul.remote_ale = parent->mac;
        child->backhaul.is_backhaul_connected = true;
        if (i % 2 == 0) {
            wired(parent, child);
            child->backhaul.medium = Medium::ETHERNET;
        } else {
            const uint8_t d = static_cast<uint8_t>(i);
            Sta* bsta = new Sta("", bench_mac(5, d, 0), now);
            g.add_node(bsta);
            bsta->update_backhaul_sta(true, child->mac);
            auto* l = new WirelessLink(bsta->mac,
                                       BSSID(bench_mac(3, static_cast<uint8_t>(i / 2), 2)), now);
            l->rcpi = 170;
            l->is_backbone = true;
            l->medium = Medium::WIFI_5G;
            l->remote_al_mac = child->mac;
            parent->add_link(l);
            child->backhaul.local_interface = bsta->mac;
            child->backhaul.medium = Medium::WIFI_5G;
        }
    }
}

}  // namespace ozr_bench
