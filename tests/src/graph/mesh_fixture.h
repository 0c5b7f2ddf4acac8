// Small hand-built meshes for the graph tests.
#pragma once

#include "graph/graph.h"

namespace graph_test {

inline MAC mac(uint8_t a, uint8_t b) {
    return MAC(0x02, 0, 0, 0, a, b);
}

// An 802.11 interface (AP or station role) of a device.
LocalInterface wifi_if(const MAC& m, const BSSID& bssid, uint8_t role = 0);
LocalInterface eth_if(const MAC& m);

Device* add_device(Graph& g, const std::string& name, const MAC& al, int64_t now = 1);
Sta* add_sta(Graph& g, const MAC& m, int64_t now = 1);
WiredLink* add_wired(Device* from, const MAC& to, int64_t now = 1);
WirelessLink* add_wireless(Device* from, const MAC& to, const BSSID& bssid, uint8_t rcpi,
                           Medium medium = Medium::WIFI_5G, int64_t now = 1);
UnassociatedLink* add_unassoc(Device* from, const MAC& to, const BSSID& bssid, uint8_t rcpi,
                              int64_t measured_ms, Medium medium = Medium::WIFI_5G);

// Root (controller), local agent wired both ways to root, wired extender B1 under the
// local agent (both ways), wireless extender B2 whose backhaul STA associates to B1's
// backhaul BSS, and clients C1 on the root, C2 on B2.
struct ScriptedMesh {
    Graph g;
    Device* root;
    Device* local;
    Device* b1;
    Device* b2;
    Sta* bsta;
    Sta* c1;
    Sta* c2;
    WirelessLink* bh;  // B1 -> bSTA of B2
    ScriptedMesh();
};

}  // namespace graph_test
