// Node creation and kind conflicts, the link rules, stale links, garbage collection and
// the topology-change debounce.
#include <vector>

#include "core/log.h"
#include "graph/graph_minder.h"
#include "map/datamodel/datamodel.h"

Device* GraphMinder::on_heard_about_device(const MAC& al_mac, bool refresh) {
    if (al_mac.is_zero())
        return nullptr;
    Node* n = graph_.find_node(al_mac);
    if (n && n->kind() == Node::DEVICE) {
        if (refresh)
            n->last_seen_ms = now();
        return static_cast<Device*>(n);
    }
    if (n) {
        OZR_NOTICE(&logger_,
                   "{} expected MAC: {} [ MAC: {} ] to be a Device, but pre-kind is not Device. "
                   "Delete pre node",
                   __func__, n->label(), al_mac.to_string());
        graph_.delete_node(al_mac);
        mark_topo_changed();
    }
    bool root = is_root(al_mac);
    if (!root && !room_for_node())
        return nullptr;
    std::string name;
    bool local = !root && is_local_map_agent(al_mac);
    if (root)
        name = "Root";
    else if (local)
        name = "Local_agent";
    else
        name = device_names_.name_for(
            al_mac, [this](const MAC& m) { return graph_.find_node(m) == nullptr; });
    Device* d = new Device(name, al_mac, now());
    if (!graph_.add_node(d))
        return nullptr;
    if (root) {
        graph_.root = d;
        d->map_profile = get_map_profile();
        d->policy_profile = get_policy_profile();
    } else if (local) {
        graph_.local_agent = d;
    }
    on_new_device(d, "device");
    return d;
}

bool GraphMinder::room_for_node() {
    if (graph_.nodes.size() < kMaxNodes)
        return true;
    if (!full_logged_)
        OZR_WARN(&logger_, "{} the graph holds {} nodes already, new nodes are refused", __func__,
                 graph_.nodes.size());
    full_logged_ = true;
    return false;
}

void GraphMinder::on_new_device(Device* device, const char* reason) {
    if (!device || !reason) {
        OZR_ERROR(&logger_, "{} device or reason is NULL", __func__);
        return;
    }
    OZR_INFO(&logger_, "{} added new {}", device->label(), reason);
    last_device_created_ms_ = now();
    OZR_INFO(&logger_, "topo_changed when new device al MAC: {}", device->mac.to_string());
    mark_topo_changed();
    // A device new to the graph starts channel selection over.
    int res = map_reset_chan_sel_flag(device->mac);
    OZR_INFO(&logger_, "{} reset device {} channel selection flag, res={}", __func__,
             device->mac.to_string(), res);
    send_topology_query(device);
    send_capability_query(device);
    send_device_link_metrics_query(device);
}

void GraphMinder::sync_sta_capability(Sta* sta) {
    GraphDataPeer* d = data();
    if (!d)
        return;
    StaCapabilityInfo caps;
    if (d->sync_client_cap_info(sta->mac, caps))
        sta->capabilities = caps;
}

Sta* GraphMinder::on_heard_about_associated(const MAC& sta_mac) {
    if (sta_mac.is_zero())
        return nullptr;
    Node* n = graph_.find_node(sta_mac);
    if (n && (n == graph_.root || n == graph_.local_agent)) {
        // The controller's and the local agent's devices are never replaced by a report.
        OZR_WARN(&logger_, "{} MAC: {} is {}, not a station", __func__, sta_mac.to_string(),
                 n->name);
        return nullptr;
    }
    if (n && n->kind() != Node::STA) {
        OZR_NOTICE(&logger_,
                   "{} expected {} [MAC: {}] to be a Sta, but pre-kind is not Sta. Delete pre node",
                   __func__, n->label(), sta_mac.to_string());
        graph_.delete_node(sta_mac);
        mark_topo_changed();
        n = nullptr;
    }
    Sta* s = static_cast<Sta*>(n);
    if (!s) {
        if (!room_for_node())
            return nullptr;
        s = new Sta("", sta_mac, now());
        if (!graph_.add_node(s))
            return nullptr;
        sync_sta_capability(s);
    }
    s->last_seen_ms = now();
    return s;
}

Sta* GraphMinder::on_heard_about_wired_client(const MAC& sta_mac) {
    return on_heard_about_associated(sta_mac);
}

WiredLink* GraphMinder::on_heard_about_wired_link(Device* device, const MAC& to) {
    if (!device || to.is_zero())
        return nullptr;
    Link* existing = device->find_wired_link(to);
    if (existing) {
        existing->last_heard_ms = now();
        OZR_DEBUG(&logger_, "found wired link {} => {}", device->label(), to.to_string());
        return static_cast<WiredLink*>(existing);
    }
    device->delete_link(to);
    WiredLink* l = new WiredLink(to, now());
    device->add_link(l);
    const Node* far = graph_.find_node(to);
    std::string far_name = far ? far->name : std::string();
    OZR_INFO(&logger_, "added wired link for {} [MAC: {}] => {} [MAC: {}]", device->name,
             device->mac.to_string(), far_name, to.to_string());
    OZR_INFO(&logger_, "topo_changed creating new wired link {} => {}", device->label(),
             to.to_string());
    mark_topo_changed();
    if (GraphSteeringPeer* s = steering())
        s->notify_new_link(l);
    return l;
}

bool GraphMinder::is_skip_create_wired_links(const Device* device, const MAC& local_if,
                                             const MAC& to) {
    if (!device)
        return true;
    // A wireless association between the two (either way round, through a backhaul STA
    // of either) already carries the adjacency.
    const Device* far = graph_.find_device(to);
    for (const Link* l : device->links) {
        if (l->kind() != Link::WIRELESS)
            continue;
        const Device* owner = graph_.find_device(l->to);
        if (l->to == to || (far && owner == far)) {
            OZR_INFO(&logger_,
                     "Exist a wireless link from MAC: {} to MAC: {} , skip create wired link from "
                     "MAC: {} to MAC: {}",
                     device->mac.to_string(), to.to_string(), device->mac.to_string(),
                     to.to_string());
            return true;
        }
    }
    if (far) {
        for (const Link* l : far->links) {
            if (l->kind() != Link::WIRELESS)
                continue;
            if (graph_.find_device(l->to) == device) {
                OZR_INFO(&logger_,
                         "Exist a wireless link from MAC: {} to MAC: {} , skip create wired link "
                         "from MAC: {} to MAC: {}",
                         to.to_string(), device->mac.to_string(), device->mac.to_string(),
                         to.to_string());
                return true;
            }
        }
    }
    // Another interface of this device already has a wired link that reaches the MAC.
    for (const Link* l : device->links) {
        if (l->kind() == Link::WIRED && l->to == to && !l->local_interface.is_zero() &&
            l->local_interface != local_if) {
            OZR_INFO(&logger_,
                     "Exist a direct Wired link from device MAC: {} interface MAC: {} to MAC: {} , "
                     "skip create wired link from MACL: {} to MAC: {}",
                     device->mac.to_string(), l->local_interface.to_string(), to.to_string(),
                     device->mac.to_string(), to.to_string());
            return true;
        }
    }
    return false;
}

WirelessLink* GraphMinder::on_heard_about_wireless_link(Device* device, const BSSID& bssid,
                                                        const MAC& sta) {
    if (!device || sta.is_zero())
        return nullptr;
    for (Link* l : device->links) {
        if (l->kind() == Link::WIRELESS && l->to == sta &&
            static_cast<WirelessLink*>(l)->bssid == bssid) {
            l->last_heard_ms = now();
            // The radio's band may have become known (or changed) since.
            Medium m = device->find_medium(bssid);
            if (m != Medium::UNKNOWN)
                l->medium = m;
            OZR_DEBUG(&logger_, "found wireless link {}  BSSID: {} => {}", device->label(),
                      bssid.to_string(), sta.to_string());
            return static_cast<WirelessLink*>(l);
        }
    }
    GraphSteeringPeer* st = steering();
    if (device->delete_link(sta, Link::UNASSOCIATED)) {
        OZR_INFO(&logger_, "deleted unassociated link {} BSSID: {} => {}", device->label(),
                 bssid.to_string(), sta.to_string());
        OZR_INFO(&logger_, "topo_changed when deleted unassociated link {} BSSID: {} => {}",
                 device->label(), bssid.to_string(), sta.to_string());
        mark_topo_changed();
    }
    // A station has at most one association in the whole mesh.
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        Device* d = static_cast<Device*>(kv.second);
        WirelessLink* old = d->find_wireless_link(sta);
        while (old) {
            BSSID old_bssid = old->bssid;
            if (st)
                st->notify_pre_delete_link(sta);
            Link* p = old;
            d->delete_link(&p);
            OZR_INFO(&logger_, "deleted WirelessLink {} BSSID: {} => {}", d->label(),
                     old_bssid.to_string(), sta.to_string());
            OZR_INFO(&logger_, "topo_changed when deleted WirelessLink {} BSSID: {} => MAC: {}",
                     d->label(), old_bssid.to_string(), sta.to_string());
            mark_topo_changed();
            old = d->find_wireless_link(sta);
        }
    }
    if (device->delete_link(sta, Link::WIRED)) {
        OZR_INFO(&logger_, "deleted wired link {} => {}", device->label(), sta.to_string());
        OZR_INFO(&logger_, "topo_changed when deleted wired link {} => {}", device->label(),
                 sta.to_string());
        mark_topo_changed();
    }
    WirelessLink* l = new WirelessLink(sta, bssid, now());
    l->medium = device->find_medium(bssid);
    l->local_interface = bssid;
    l->remote_interface = sta;
    Sta* s = graph_.find_sta(sta);
    if (s && s->is_backhaul_sta) {
        l->is_backbone = true;
        l->remote_al_mac = s->owner_device;
        s->bsta_medium = l->medium;
    }
    device->add_link(l);
    const char* word = medium_short_word(l->medium);
    std::string sta_name = s ? s->name : std::string();
    OZR_INFO(&logger_, "added associated {} link for {} [MAC: {}] BSSID: [{}] => {} [MAC: {}]",
             word, device->name, device->mac.to_string(), bssid.to_string(), sta_name,
             sta.to_string());
    OZR_INFO(&logger_, "topo_changed when added associated {} link {} BSSID: {} => {}", word,
             device->label(), bssid.to_string(), sta.to_string());
    mark_topo_changed();
    if (st) {
        st->notify_new_link(l);
        st->notify_new_wireless_link(l);
        st->ping_pong_check_by_new_reassoc_process(l);
    }
    if (s && !s->is_backhaul_sta) {
        send_sta_capability_query(sta, bssid, device);
        send_beacon_query(device, s);
        if (GraphDataPeer* d = data())
            d->notify_client_cap_info(sta, s->capabilities);
    }
    return l;
}

UnassociatedLink* GraphMinder::on_heard_about_unassociated_link(Device* device, const BSSID& bssid,
                                                                const MAC& sta) {
    if (!device || sta.is_zero())
        return nullptr;
    Link* found = device->find_link_by_bssid(sta, bssid);
    if (found && found->kind() == Link::UNASSOCIATED) {
        found->last_heard_ms = now();
        Medium m = device->find_medium(bssid);
        if (m != Medium::UNKNOWN)
            found->medium = m;
        OZR_DEBUG(&logger_, "found unassociated link {} BSSID: {} => {}", device->label(),
                  bssid.to_string(), sta.to_string());
        return static_cast<UnassociatedLink*>(found);
    }
    UnassociatedLink* l = new UnassociatedLink(sta, bssid, now());
    l->medium = device->find_medium(bssid);
    l->local_interface = bssid;
    l->remote_interface = sta;
    const Sta* s = graph_.find_sta(sta);
    if (s && s->is_backhaul_sta) {
        l->is_backbone = true;
        l->remote_al_mac = s->owner_device;
    }
    device->add_link(l);
    const char* word = medium_short_word(l->medium);
    OZR_INFO(&logger_, "added unassociated {} link for {} [MAC: {} BSSID: {}] => {} [MAC: {}]",
             word, device->name, device->mac.to_string(), bssid.to_string(),
             s ? s->name : std::string(), sta.to_string());
    OZR_INFO(&logger_, "topo_changed when added unassociated {} link {} BSSID: {} => {}", word,
             device->label(), bssid.to_string(), sta.to_string());
    mark_topo_changed();
    return l;
}

void GraphMinder::remove_stale_links(Device* device, const std::set<MAC>& reported,
                                     int keep_node_kind, int keep_link_kind) {
    if (!device)
        return;
    std::vector<Link*> stale;
    for (Link* l : device->links) {
        if (l->kind() == keep_link_kind)
            continue;
        const Node* far = graph_.find_node(l->to);
        if (far && keep_node_kind != 0 && far->kind() == keep_node_kind)
            continue;
        if (reported.count(l->to))
            continue;
        stale.push_back(l);
    }
    GraphSteeringPeer* st = steering();
    for (Link* l : stale) {
        MAC to = l->to;
        bool assoc = l->kind() == Link::WIRELESS;
        if (assoc && st)
            st->notify_pre_delete_link(to);
        OZR_INFO(&logger_, "deleting link for {} => MAC: {}", device->label(), to.to_string());
        device->delete_link(&l);
        OZR_INFO(&logger_, "topo_changed when deleted link for {} => MAC: {}", device->label(),
                 to.to_string());
        mark_topo_changed();
    }
}

// ---- garbage collection and the debounce --------------------------------------------------

void GraphMinder::on_gc() {
    int64_t t = now();
    std::vector<MAC> collect;
    for (const auto& kv : graph_.nodes) {
        const Node* n = kv.second;
        if (n == graph_.root || n == graph_.local_agent)
            continue;
        if (t - n->last_seen_ms >= kGcAgeMs) {
            OZR_INFO(&logger_, "garbage collecting {} {}", n->name, n->mac.to_string());
            collect.push_back(n->mac);
        }
    }
    if (!collect.empty())
        full_logged_ = false;
    for (const MAC& m : collect) {
        graph_.delete_node(m);
        seen_wired_macs_.erase(m);
        OZR_INFO(&logger_, "{}: topo_changed when deleted node MAC: {}", __func__, m.to_string());
        mark_topo_changed();
    }
    for (auto it = seen_wired_macs_.begin(); it != seen_wired_macs_.end();)
        it = graph_.find_device(it->first) ? std::next(it) : seen_wired_macs_.erase(it);
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        Device* d = static_cast<Device*>(kv.second);
        std::vector<Link*> old;
        for (Link* l : d->links)
            if (t - l->last_heard_ms >= kGcAgeMs)
                old.push_back(l);
        for (Link* l : old) {
            MAC to = l->to;
            OZR_INFO(&logger_, "garbage collecting link from {} to MAC: {}", d->label(),
                     to.to_string());
            d->delete_link(&l);
            OZR_INFO(&logger_, "{}: topo_changed when deleted link {} to MAC: {}", __func__,
                     d->label(), to.to_string());
            mark_topo_changed();
        }
    }
}

void GraphMinder::on_topo_change_check() {
    int64_t t = now();
    if (topo_changed_) {
        if (t - topo_check_ms_ >= kTopoCheckMs) {
            OZR_INFO(&logger_, "{} should_update, trigger on_graph_updated", __func__);
            topo_check_ms_ = t;
            topo_changed_ = false;
            ++graph_updates_;
        }
        return;
    }
    OZR_DEBUG(&logger_, "{} topology didn't change in past {}ms", __func__, t - topo_check_ms_);
}
