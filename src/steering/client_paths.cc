#include "steering/client_paths.h"

void ClientPathIndex::clear() {
    device_paths_.clear();
    by_sta_.clear();
    serving_.clear();
    built_ = false;
}

void ClientPathIndex::build(Logger& log, const Graph& graph) {
    clear();
    device_paths_ = find_shortest_working_paths_for_devices(log, graph);
    for (const auto& kv : graph.nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        Device* d = static_cast<Device*>(kv.second);
        for (Link* l : d->links) {
            if (l->kind() != Link::WIRELESS || serving_.count(l->to))
                continue;
            const Node* far = graph.find_node(l->to);
            if (far && far->kind() == Node::STA)
                serving_.emplace(l->to, Serving{d, static_cast<WirelessLink*>(l)});
        }
    }
    for (const auto& kv : device_paths_) {
        const PathEntry& e = kv.second;
        if (!e.node || e.node->kind() != Node::DEVICE)
            continue;
        if (static_cast<int32_t>(e.cost) >= static_cast<int32_t>(kUnreachableCost))
            continue;
        const Device* dev = static_cast<const Device*>(e.node);
        for (const Link* link : dev->links) {
            if (!link || (link->kind() != Link::WIRELESS && link->kind() != Link::UNASSOCIATED))
                continue;
            by_sta_[link->to].push_back(Hop{dev, link, e.cost});
        }
    }
    built_ = true;
}

Paths ClientPathIndex::paths_for(const Graph& graph, const MAC& sta_mac, Medium medium,
                                 int64_t now) const {
    Paths result(10);
    const Sta* sta = graph.find_sta(sta_mac);
    if (!sta)
        return result;
    auto it = by_sta_.find(sta_mac);
    if (it == by_sta_.end())
        return result;
    const Serving* sv = serving(sta_mac);
    const WirelessLink* ref = sv ? sv->link : nullptr;
    // Hops of one device are adjacent and in the device's link order.
    const std::vector<Hop>& hops = it->second;
    for (size_t i = 0; i < hops.size();) {
        const Device* dev = hops[i].device;
        const uint32_t dev_cost = hops[i].device_cost;
        const Link* best = nullptr;
        uint32_t best_cost = kUnreachableCost;
        for (; i < hops.size() && hops[i].device == dev; ++i) {
            const Link* link = hops[i].link;
            if (!medium_matches(link->medium, medium))
                continue;
            if (link->kind() == Link::UNASSOCIATED) {
                const auto* u = static_cast<const UnassociatedLink*>(link);
                if (now - u->measured_ms >= kMaxUnassocAgeMs)
                    continue;
                if (ref && u->measured_ms < ref->first_heard_ms)
                    continue;
            }
            uint32_t c = link->cost();
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
        e.cost = dev_cost + best_cost;
        result.emplace(dev->mac, e);
    }
    return result;
}

const ClientPathIndex::Serving* ClientPathIndex::serving(const MAC& sta) const {
    auto it = serving_.find(sta);
    return it == serving_.end() ? nullptr : &it->second;
}

uint32_t ClientPathIndex::working_cost(const Sta* sta) const {
    if (!sta)
        return kUnreachableCost;
    const Serving* sv = serving(sta->mac);
    if (!sv)
        return kUnreachableCost;
    const Device* dev = sv->device;
    const WirelessLink* link = sv->link;
    auto it = device_paths_.find(dev->mac);
    if (it == device_paths_.end())
        return kUnreachableCost;
    return it->second.cost + link->cost();
}
