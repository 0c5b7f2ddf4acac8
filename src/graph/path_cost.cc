#include "graph/path_cost.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "common/clock.h"
#include "core/log.h"

namespace {
enum class Search { kAll, kWorking };

// Index of the cheapest work-list entry; among equal costs the later one wins, and
// with everything unreached the last entry is taken. -1 for an empty list.
int find_min_node(const std::vector<PathEntry*>& work) {
    int32_t min = static_cast<int32_t>(kUnreachableCost);
    int index = -1;
    for (size_t i = 0; i < work.size(); ++i) {
        int32_t c = static_cast<int32_t>(work[i]->cost);
        if (c <= min) {
            min = c;
            index = static_cast<int>(i);
        }
    }
    return index;
}

// Unassociated measurements older than this (when set) are left out.
struct AgeLimit {
    int64_t now_ms = 0;
    int64_t max_age_ms = -1;
};

bool link_usable(Search search, const Graph& graph, const Device& from, const Link& link,
                 const AgeLimit& age) {
    if (search == Search::kAll) {
        if (age.max_age_ms < 0 || link.kind() != Link::UNASSOCIATED)
            return true;
        return age.now_ms - static_cast<const UnassociatedLink&>(link).measured_ms <=
               age.max_age_ms;
    }
    if (link.kind() == Link::UNASSOCIATED)
        return false;
    if (link.kind() == Link::WIRED) {
        Node* far = graph.find_node(link.to);
        if (far && far->kind() == Node::DEVICE)
            return static_cast<Device*>(far)->find_wired_link(from.mac) != nullptr;
    }
    return true;
}

Paths search_paths(Logger& log, const Graph& graph, Search search, bool with_clients,
                   const AgeLimit& age = AgeLimit()) {
    Logger sp(&log, "shortest-path", "", -1);
    Paths paths(10);
    // The MACs of every device interface, for the device searches: a station node whose
    // MAC is one of them (a backhaul STA) takes part like a device.
    std::unordered_set<MAC> interface_macs;
    if (!with_clients)
        for (const auto& kv : graph.nodes)
            if (kv.second->kind() == Node::DEVICE)
                for (const LocalInterface& i : static_cast<const Device*>(kv.second)->interfaces)
                    interface_macs.insert(i.mac);
    // The work list holds the entries in graph map order (entries of an unordered_map
    // keep their address).
    std::vector<PathEntry*> work;
    work.reserve(graph.nodes.size());
    for (const auto& kv : graph.nodes) {
        const Node* n = kv.second;
        if (!with_clients && n->kind() != Node::DEVICE && interface_macs.count(kv.first) == 0)
            continue;
        PathEntry e;
        e.node = n;
        e.cost = e.link_cost = (n == graph.root) ? 0 : kUnreachableCost;
        e.in_work = true;
        work.push_back(&paths.emplace(kv.first, e).first->second);
    }
    while (!work.empty()) {
        int i = find_min_node(work);
        if (i < 0) {
            OZR_ERROR(&sp, "{}: i {} work size {}", __func__, i, work.size());
            break;
        }
        PathEntry& chosen = *work[static_cast<size_t>(i)];
        work.erase(work.begin() + i);
        chosen.in_work = false;
        if (chosen.node->kind() != Node::DEVICE)
            continue;
        const Device* dev = static_cast<const Device*>(chosen.node);
        for (const Link* link : dev->links) {
            auto far_it = paths.find(link->to);
            if (far_it == paths.end() || !far_it->second.in_work)
                continue;
            if (!link_usable(search, graph, *dev, *link, age))
                continue;
            PathEntry& far = far_it->second;
            uint32_t hop = link->cost();
            uint32_t cost = chosen.cost + hop;
            if (static_cast<int32_t>(cost) >= static_cast<int32_t>(far.cost))
                continue;
            OZR_DEBUG(&sp, "{} => {} ${} (from ${})", dev->label(), far.node->label(), cost,
                      far.cost);
            far.prev = dev;
            far.cost = cost;
            far.link_cost = hop;
            far.link = link;
            // The hop from a backhaul STA to its own device is free.
            if (far.node->kind() != Node::STA)
                continue;
            const Sta* sta = static_cast<const Sta*>(far.node);
            if (!sta->is_backhaul_sta || sta->owner_device.is_zero())
                continue;
            auto owner_it = paths.find(sta->owner_device);
            if (owner_it == paths.end() ||
                static_cast<int32_t>(owner_it->second.cost) <= static_cast<int32_t>(cost))
                continue;
            PathEntry& owner = owner_it->second;
            OZR_DEBUG(&sp, "{} => {} ${} (from ${})", dev->label(), owner.node->label(), cost,
                      owner.cost);
            owner.prev = dev;
            owner.cost = cost;
            owner.link_cost = hop;
            owner.link = link;
        }
    }
    return paths;
}

// Whether a link on LINK_MEDIUM may serve a request for REQUESTED: the same medium, or
// within 5 GHz when either side is the undivided 5 GHz band (a request for WIFI_5G takes
// the low and high halves, a WIFI_5G_LOW request takes a WIFI_5G link); low and high
// never match each other.
bool medium_matches(Medium link_medium, Medium requested) {
    if (!is_wifi_medium(link_medium) || !is_wifi_medium(requested))
        return false;
    if (link_medium == requested)
        return true;
    auto is5 = [](Medium m) {
        return m == Medium::WIFI_5G || m == Medium::WIFI_5G_LOW || m == Medium::WIFI_5G_HIGH;
    };
    return is5(link_medium) && is5(requested) &&
           (link_medium == Medium::WIFI_5G || requested == Medium::WIFI_5G);
}
}  // namespace

Paths find_shortest_paths_for_devices(Logger& log, const Graph& graph) {
    return search_paths(log, graph, Search::kAll, false);
}

Paths find_shortest_paths_for_devices(Logger& log, const Graph& graph, int64_t now_ms,
                                      int64_t max_age_ms) {
    AgeLimit age;
    age.now_ms = now_ms;
    age.max_age_ms = max_age_ms;
    return search_paths(log, graph, Search::kAll, false, age);
}

Paths find_shortest_working_paths_for_devices(Logger& log, const Graph& graph) {
    return search_paths(log, graph, Search::kWorking, false);
}

Paths find_shortest_working_paths(Logger& log, const Graph& graph) {
    return search_paths(log, graph, Search::kWorking, true);
}

Paths find_shortest_paths_for_clients(Logger& log, const Graph& graph, const MAC& sta_mac,
                                      const Medium& medium) {
    Logger sp(&log, "shortest-path", "", -1);
    Paths result(10);
    const Sta* sta = graph.find_sta(sta_mac);
    if (!sta) {
        OZR_DEBUG(&sp, "Current node is not available. skip it");
        return result;
    }
    // The reference of the age comparison is the station's association: a measurement
    // taken before the station joined its present BSS describes another situation.
    const Device* serving = sta->get_working_device();
    const WirelessLink* ref = serving ? serving->find_wireless_link(sta_mac) : nullptr;
    int64_t now = get_current_time_ms();
    Paths devices = find_shortest_working_paths_for_devices(log, graph);
    for (const auto& kv : devices) {
        const PathEntry& dev_entry = kv.second;
        if (!dev_entry.node || dev_entry.node->kind() != Node::DEVICE) {
            continue;  // backhaul STA nodes of the device search
        }
        if (static_cast<int32_t>(dev_entry.cost) >= static_cast<int32_t>(kUnreachableCost))
            continue;
        const Device* dev = static_cast<const Device*>(dev_entry.node);
        const Link* best = nullptr;
        uint32_t best_cost = kUnreachableCost;
        for (const Link* link : dev->links) {
            if (!link) {
                OZR_DEBUG(&sp, "Current link is not available. skip it");
                continue;
            }
            if (link->to != sta_mac)
                continue;
            if (link->kind() != Link::WIRELESS && link->kind() != Link::UNASSOCIATED)
                continue;
            if (!medium_matches(link->medium, medium))
                continue;
            if (link->kind() == Link::UNASSOCIATED) {
                const UnassociatedLink* u = static_cast<const UnassociatedLink*>(link);
                if (now - u->measured_ms >= kMaxUnassocAgeMs) {
                    OZR_DEBUG(&sp, "skip old link sta {} => bssid {}", sta_mac.to_string(),
                              u->bssid.to_string());
                    continue;
                }
                if (ref && u->measured_ms < ref->first_heard_ms) {
                    OZR_DEBUG(&sp, "skip old link sta {} => bssid {} due to cross age time",
                              sta_mac.to_string(), u->bssid.to_string());
                    continue;
                }
            }
            uint32_t c = link->cost();
            // Among several links of one device to the station the cheapest serves;
            // on equal cost the later one.
            if (!best || static_cast<int32_t>(c) <= static_cast<int32_t>(best_cost)) {
                best = link;
                best_cost = c;
            }
        }
        if (!best)
            continue;
        PathEntry e;
        e.node = sta;
        e.prev = dev;
        e.link = best;
        e.link_cost = best_cost;
        e.cost = dev_entry.cost + best_cost;
        OZR_DEBUG(&sp, "{} => {} ${} (from ${})", dev->label(), sta->label(), e.cost,
                  kUnreachableCost);
        result.emplace(dev->mac, e);
    }
    return result;
}

uint32_t find_working_path_cost_for_client(Logger& log, const Graph& graph, const Sta* sta) {
    if (!sta)
        return kUnreachableCost;
    const Device* dev = sta->get_working_device();
    if (!dev)
        return kUnreachableCost;
    const WirelessLink* link = dev->find_wireless_link(sta->mac);
    if (!link)
        return kUnreachableCost;
    Paths paths = find_shortest_working_paths_for_devices(log, graph);
    auto it = paths.find(dev->mac);
    if (it == paths.end())
        return kUnreachableCost;
    return it->second.cost + link->cost();
}

std::string to_string(const Paths& paths) {
    std::vector<const std::pair<const MAC, PathEntry>*> sorted;
    sorted.reserve(paths.size());
    for (const auto& kv : paths)
        sorted.push_back(&kv);
    std::sort(sorted.begin(), sorted.end(),
              [](const auto* a, const auto* b) { return a->first < b->first; });
    std::string out;
    for (const auto* kv : sorted) {
        const PathEntry& e = kv->second;
        std::string name = e.node ? e.node->label() : kv->first.to_string();
        if (e.prev)
            out +=
                fmt::format("{} ${} <= {} hop ${}\n", name, e.cost, e.prev->label(), e.link_cost);
        else
            out += fmt::format("{} ${}\n", name, e.cost);
    }
    return out;
}
