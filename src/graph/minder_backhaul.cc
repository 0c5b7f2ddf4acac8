// Backhaul information of every device (and the uplink record of every station) from the
// working paths, with the quality hysteresis, and its hand-over to the other minders.
#include <vector>

#include "core/context.h"
#include "core/log.h"
#include "graph/backhaul.h"
#include "graph/graph_minder.h"
#include "graph/path_cost.h"
#include "hkt/hkt_mgmt_minder.h"

namespace {
// INFO as the vendor protocol carries it.
hkt_backhaul_information_notify_tlv vendor_backhaul(const backhaul_information& info) {
    hkt_backhaul_information_notify_tlv t;
    t.local_ale = info.local_ale;
    t.remote_ale = info.remote_ale;
    t.local_interface = info.local_interface;
    t.remote_interface = info.remote_interface;
    t.is_backhaul_connected = info.is_backhaul_connected ? 1 : 0;
    t.quality = static_cast<uint8_t>(info.quality);
    t.cost_to_parent = info.cost_to_parent;
    t.cost_to_root = info.cost_to_root;
    t.medium = static_cast<uint8_t>(info.medium);
    t.uplink_rssi = info.uplink_rssi;
    return t;
}
}  // namespace

void GraphMinder::log_backhaul_change(const char* func, const backhaul_information& o,
                                      const backhaul_information& n, bool deleted) {
    if (deleted) {
        OZR_NOTICE(&logger_,
                   "{} backhaul changed--device had been delete. old info: device MAC: {}, "
                   "is_backhaul_connected {}, quality {}, local_interface_mac MAC: {}, "
                   "remote_device MAC: {}, remote_interface_mac MAC: {}, cost_to_root {}, "
                   "cost_to_parent {}, medium {}new info: device MAC: {}, is_backhaul_connected "
                   "{}, quality {}, local_interface_mac MAC: {}, remote_device MAC: {}, "
                   "remote_interface_mac MAC: {}, cost_to_root {}, cost_to_parent {}, medium {}",
                   func, o.local_ale.to_string(), o.is_backhaul_connected,
                   backhaul_quality_to_string(o.quality), o.local_interface.to_string(),
                   o.remote_ale.to_string(), o.remote_interface.to_string(), o.cost_to_root,
                   o.cost_to_parent, medium_to_string(o.medium), n.local_ale.to_string(),
                   n.is_backhaul_connected, backhaul_quality_to_string(n.quality),
                   n.local_interface.to_string(), n.remote_ale.to_string(),
                   n.remote_interface.to_string(), n.cost_to_root, n.cost_to_parent,
                   medium_to_string(n.medium));
        return;
    }
    OZR_NOTICE(&logger_,
               "{} backhaul changed. old info: device MAC: {} is_backhaul_connected {}, quality "
               "{}, local_interface_macMAC: {} remote_device MAC: {} remote_interface_mac MAC: {} "
               "cost_to_root {}, cost_to_parent {}, medium {}new info: device MAC: {}, "
               "is_backhaul_connected {}, quality {}, local_interface_mac MAC: {}, remote_device "
               "MAC: {}, remote_interface_mac MAC: {} cost_to_root {}, cost_to_parent {}, medium "
               "{}",
               func, o.local_ale.to_string(), o.is_backhaul_connected,
               backhaul_quality_to_string(o.quality), o.local_interface.to_string(),
               o.remote_ale.to_string(), o.remote_interface.to_string(), o.cost_to_root,
               o.cost_to_parent, medium_to_string(o.medium), n.local_ale.to_string(),
               n.is_backhaul_connected, backhaul_quality_to_string(n.quality),
               n.local_interface.to_string(), n.remote_ale.to_string(),
               n.remote_interface.to_string(), n.cost_to_root, n.cost_to_parent,
               medium_to_string(n.medium));
}

void GraphMinder::notify_backhaul_change(const MAC& device, const backhaul_information& info) {
    if (GraphDataPeer* d = data())
        d->notify_ap_bh_change(info);
    Context* c = Context::instance();
    if (c && c->hkt_mgmt_minder) {
        c->hkt_mgmt_minder->notify_ap_bh_change(info.local_ale, info.is_backhaul_connected);
        c->hkt_mgmt_minder->send_hkt_backhaul_information_notify(device, vendor_backhaul(info));
    }
}

void GraphMinder::update_devices_backhaul_information() {
    Paths paths = find_shortest_working_paths_for_devices(cost_logger_, graph_);
    std::vector<MAC> present;
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        Device* d = static_cast<Device*>(kv.second);
        present.push_back(d->mac);
        backhaul_information info = compute_backhaul_information(graph_, paths, *d);
        if (info != d->backhaul) {
            log_backhaul_change(__func__, d->backhaul, info, false);
            d->backhaul = info;
            // A disconnected record goes out as computed, with zero MACs.
            notify_backhaul_change(d->mac, info);
        }
        reported_backhaul_[d->mac] = d->backhaul;
    }
    for (auto it = reported_backhaul_.begin(); it != reported_backhaul_.end();) {
        bool alive = false;
        for (const MAC& m : present)
            if (m == it->first) {
                alive = true;
                break;
            }
        if (alive) {
            ++it;
            continue;
        }
        backhaul_information gone;  // disconnected: zero MACs
        log_backhaul_change(__func__, it->second, gone, true);
        notify_backhaul_change(it->first, gone);
        it = reported_backhaul_.erase(it);
    }
}

void GraphMinder::on_backhaul_information_update() {
    update_devices_backhaul_information();
    // Every station's uplink along the working paths (clients included).
    Paths paths = find_shortest_working_paths(cost_logger_, graph_);
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::STA)
            continue;
        Sta* s = static_cast<Sta*>(kv.second);
        sta_backhaul_information info;
        auto it = paths.find(s->mac);
        if (it != paths.end() && it->second.link && it->second.prev) {
            const PathEntry& e = it->second;
            info.local_ale = s->mac;
            info.remote_ale = e.prev->mac;
            info.local_interface = s->mac;
            info.remote_interface = e.link->local_interface;
            info.is_backhaul_connected = true;
            info.cost_to_parent = e.link_cost;
            info.cost_to_root = e.cost;
            info.medium = e.link->medium;
            if (e.link->kind() == Link::WIRELESS)
                info.uplink_rssi = static_cast<uint32_t>(
                    (static_cast<int>(static_cast<const WirelessLink*>(e.link)->rcpi) - 220) / 2);
            const backhaul_information& old = s->backhaul;
            bool unchanged =
                old.is_backhaul_connected && old.local_interface == info.local_interface &&
                old.remote_interface == info.remote_interface && old.remote_ale == info.remote_ale;
            info.quality = backhaul_quality_for_cost(info.cost_to_root, unchanged, old.quality);
        }
        s->backhaul = info;
    }
}

void GraphMinder::on_backhaul_information_sync() {
    Context* c = Context::instance();
    HktMgmtMinder* h = c ? c->hkt_mgmt_minder : nullptr;
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        const Device* d = static_cast<const Device*>(kv.second);
        const backhaul_information& b = d->backhaul;
        if (!b.is_backhaul_connected)
            continue;
        OZR_DEBUG(&logger_,
                  "{} backhaul connected devices' backhaul status sync: device {}, "
                  "is_backhaul_connected {}, quality {}, local_interface_mac MAC: {} remote_device "
                  "MAC: {} remote_interface_mac MAC: {} cost_to_root {}, cost_to_parent {}, "
                  "medium {}",
                  __func__, d->mac.to_string(), b.is_backhaul_connected,
                  backhaul_quality_to_string(b.quality), b.local_interface.to_string(),
                  b.remote_ale.to_string(), b.remote_interface.to_string(), b.cost_to_root,
                  b.cost_to_parent, medium_to_string(b.medium));
        if (h)
            h->send_hkt_backhaul_information_notify(d->mac, vendor_backhaul(b));
    }
}

bool GraphMinder::agent_backhaul(const MAC& agent, hkt_backhaul_information_notify_tlv& out) const {
    backhaul_information bh;
    if (!get_device_backhaul_information(agent, bh))
        return false;
    out = vendor_backhaul(bh);
    return true;
}
