// A device's (or backhaul station's) uplink as the graph computes it: copied whole
// to the data and vendor-agent minders.
#pragma once

#include <cstdint>

#include "common/mac.h"
#include "graph/graph_enums.h"

constexpr uint32_t kUnreachableCost = 1000000;

struct backhaul_information {
    MAC local_ale;         // this device
    MAC remote_ale;        // the parent device
    MAC local_interface;   // this device's end of the uplink
    MAC remote_interface;  // the parent's end of the uplink
    bool is_backhaul_connected = false;
    backhaul_quality quality = backhaul_quality::BAD;
    uint32_t cost_to_parent = kUnreachableCost;
    uint32_t cost_to_root = kUnreachableCost;
    Medium medium = Medium::UNKNOWN;
    uint32_t uplink_rssi = 255;  // dBm as a signed value; 255 = unknown

    friend bool operator==(const backhaul_information& a, const backhaul_information& b) {
        return a.local_ale == b.local_ale && a.remote_ale == b.remote_ale &&
               a.local_interface == b.local_interface && a.remote_interface == b.remote_interface &&
               a.is_backhaul_connected == b.is_backhaul_connected && a.quality == b.quality &&
               a.cost_to_parent == b.cost_to_parent && a.cost_to_root == b.cost_to_root &&
               a.medium == b.medium && a.uplink_rssi == b.uplink_rssi;
    }
    friend bool operator!=(const backhaul_information& a, const backhaul_information& b) {
        return !(a == b);
    }
};

// The same record kept on a station node.
struct sta_backhaul_information : backhaul_information {};
