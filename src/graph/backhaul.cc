#include "graph/backhaul.h"

backhaul_quality backhaul_quality_for_cost(uint32_t cost, bool unchanged, backhaul_quality stored) {
    if (cost < 200)
        return backhaul_quality::GOOD;
    if (cost <= 232)
        return unchanged && stored == backhaul_quality::NORMAL ? backhaul_quality::NORMAL
                                                               : backhaul_quality::GOOD;
    if (cost <= 278)
        return backhaul_quality::NORMAL;
    if (cost <= 463)
        return unchanged && stored == backhaul_quality::BAD ? backhaul_quality::BAD
                                                            : backhaul_quality::NORMAL;
    return backhaul_quality::BAD;
}

backhaul_information compute_backhaul_information(const Graph& graph, const Paths& paths,
                                                  const Device& device) {
    backhaul_information info;  // disconnected
    auto it = paths.find(device.mac);
    if (it == paths.end() || !it->second.link || !it->second.prev)
        return info;
    const PathEntry& e = it->second;
    const Link& link = *e.link;
    info.local_ale = device.mac;
    info.remote_ale = e.prev->mac;
    // The uplink is held by the parent: its near end is the parent's interface, its far
    // end ours. A Wi-Fi uplink names its parent end by the BSSID and our end by the
    // station MAC when the agents did not report interface MACs for it.
    info.remote_interface = link.local_interface;
    info.local_interface = link.remote_interface;
    if (link.kind() == Link::WIRELESS) {
        const WirelessLink& w = static_cast<const WirelessLink&>(link);
        if (info.remote_interface.is_zero())
            info.remote_interface = w.bssid;
        if (info.local_interface.is_zero())
            info.local_interface = w.to;
        info.uplink_rssi = static_cast<uint32_t>((static_cast<int>(w.rcpi) - 220) / 2);
    }
    info.is_backhaul_connected = true;
    info.cost_to_parent = e.link_cost;
    info.cost_to_root = e.cost;
    const Sta* bsta = graph.find_sta(link.to);
    info.medium = bsta ? bsta->bsta_medium : link.medium;
    const backhaul_information& old = device.backhaul;
    bool unchanged = old.is_backhaul_connected && old.local_interface == info.local_interface &&
                     old.remote_interface == info.remote_interface &&
                     old.remote_ale == info.remote_ale;
    info.quality = backhaul_quality_for_cost(info.cost_to_root, unchanged, old.quality);
    return info;
}
