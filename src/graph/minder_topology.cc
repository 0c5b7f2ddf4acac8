// Topology Response, Topology Notification and Topology Discovery, and the Ethernet
// backbone owner of a device's interfaces.
#include <set>

#include "core/context.h"
#include "core/log.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "messages/decoders.h"

namespace {
HktMgmtMinder* hkt() {
    Context* c = Context::instance();
    return c ? c->hkt_mgmt_minder : nullptr;
}
bool is_ethernet(const LocalInterface& i) {
    return i.media_type < 0x0100;
}
LocalInterface* find_if(Device* d, const MAC& m) {
    for (LocalInterface& i : d->interfaces)
        if (i.mac == m)
            return &i;
    return nullptr;
}
// The 1905 neighbours a response names on LOCAL_MAC.
std::vector<MAC> peers_on(const TopologyResponseMesg& topo, const MAC& local_mac) {
    std::vector<MAC> out;
    for (const NeighborDeviceListTLV& t : topo.neighbors)
        if (t.local_mac == local_mac)
            for (const Neighbor& n : t.neighbors)
                out.push_back(n.al_mac);
    return out;
}
}  // namespace

void GraphMinder::on_topology(CMDU* cmdu) {
    optional<TopologyResponseMesg> parsed = parse_topology(cmdu);
    if (!parsed)
        return;
    const TopologyResponseMesg& topo = *parsed;
    size_t devices = 0, non1905 = 0, clients = 0, ssids = 0;
    for (const auto& n : topo.neighbors)
        devices += n.neighbors.size();
    for (const auto& n : topo.non_1905_neighbors)
        non1905 += n.neighbors.size();
    for (const auto& b : topo.associated_clients)
        clients += b.stas.size();
    for (const auto& r : topo.radios)
        ssids += r.bsss.size();
    OZR_INFO(&logger_,
             "{} al MAC: {} devices: {}, non_1905_devices: {}, wifi_clients: {}, "
             "operational SSID: {}",
             __func__, topo.al_mac.to_string(), devices, non1905, clients, ssids);

    Device* dev = on_heard_about_device(topo.al_mac);
    if (!dev) {
        OZR_WARN(&logger_, "{} no device for MAC: {}", __func__, topo.al_mac.to_string());
        return;
    }
    HktMgmtMinder* h = hkt();
    if (h && (h->find_hkt(dev->mac) || h->find_hkt_from_agent(dev->mac))) {
        OZR_INFO(&logger_,
                 "{} send vaps info query to device {} when topology response is "
                 "received",
                 __func__, dev->mac.to_string());
        h->send_hkt_vaps_info_query(dev->mac);
    }
    dev->update_interfaces(topo.local_interfaces);
    dev->operational_bss = topo.radios;
    // An agent's Multi-AP profile is what its response says (1 without the TLV); the root's
    // is the stack's own.
    if (dev != graph_.root)
        dev->map_profile = topo.multiap_profile;
    // A station already in the graph under one of this device's interfaces is its backhaul
    // STA (the parent may have reported the association before this device was known).
    for (const LocalInterface& i : dev->interfaces) {
        Sta* s = i.mac != dev->mac ? graph_.find_sta(i.mac) : nullptr;
        if (s && (!s->is_backhaul_sta || s->owner_device != dev->mac))
            mark_backhaul_sta(s, dev->mac);
    }

    std::set<MAC> reported;
    for (const NeighborDeviceListTLV& t : topo.neighbors)
        for (const Neighbor& n : t.neighbors)
            if (n.al_mac != dev->mac && on_heard_about_device(n.al_mac))
                reported.insert(n.al_mac);
    remove_stale_links(dev, reported, Node::STA, Link::UNASSOCIATED);
    update_devices_backhaul_information();
    identify_eth_backbone_owner(dev, topo);

    // Wired clients are named by this response as much as associated ones; keeping them
    // out of the second pass would drop their links on every response.
    std::set<MAC>& seen = seen_wired_macs_[dev->mac];
    seen.clear();
    for (const Non1905NeighborDeviceListTLV& t : topo.non_1905_neighbors)
        for (const Non1905Neighbor& n : t.neighbors) {
            seen.insert(n.mac);
            reported.insert(n.mac);
        }
    for (const BSS_Info& b : topo.associated_clients)
        for (const StaTime& s : b.stas) {
            reported.insert(s.mac);
            if (h && h->find_hkt(s.mac))
                dev->delete_link(s.mac, Link::WIRED);
        }
    remove_stale_links(dev, reported, 0, Link::UNASSOCIATED);

    // 1905 neighbours: wired adjacencies. A neighbour seen on an 802.11 interface is a
    // wireless adjacency: the association link (through the backhaul STA) carries it.
    for (const NeighborDeviceListTLV& t : topo.neighbors) {
        const LocalInterface* local = dev->find_interface(t.local_mac);
        if (local && !is_ethernet(*local))
            continue;
        for (const Neighbor& n : t.neighbors) {
            if (n.al_mac == dev->mac)
                continue;
            if (!graph_.find_device(n.al_mac)) {
                OZR_WARN(&logger_, "{} no device for peer MAC: {}", __func__, n.al_mac.to_string());
                continue;
            }
            if (n.bridge)
                OZR_INFO(&logger_,
                         "{}: MAC: {} has bridge from interface MAC: {} to neighbor "
                         "MAC: {}",
                         __func__, dev->mac.to_string(), t.local_mac.to_string(),
                         n.al_mac.to_string());
            if (is_skip_create_wired_links(dev, t.local_mac, n.al_mac))
                continue;
            WiredLink* l = on_heard_about_wired_link(dev, n.al_mac);
            if (l) {
                l->local_interface = t.local_mac;
                l->remote_al_mac = n.al_mac;
                l->is_backbone = true;
                l->medium = Medium::ETHERNET;
                // The two ends name each other's interface once both have reported.
                Device* nd = graph_.find_device(n.al_mac);
                Link* back = nd ? nd->find_wired_link(dev->mac) : nullptr;
                if (back) {
                    back->remote_interface = t.local_mac;
                    l->remote_interface = back->local_interface;
                }
            }
        }
    }

    // Non-1905 neighbours: wired clients.
    for (const Non1905NeighborDeviceListTLV& t : topo.non_1905_neighbors) {
        const LocalInterface* ifc = dev->find_interface(t.local_mac);
        for (const Non1905Neighbor& n : t.neighbors) {
            bool owner = ifc && !ifc->backbone_owner.is_zero() && ifc->backbone_owner == ifc->mac;
            OZR_DEBUG(&logger_,
                      "{} AL MAC: {} devices MAC: {}, non_1905_devices MAC: {}, "
                      "interface MAC: {}, has_bridge:{}, is_backbone:{}",
                      __func__, dev->mac.to_string(), dev->mac.to_string(), n.mac.to_string(),
                      t.local_mac.to_string(), ifc ? ifc->has_bridge : 0, owner);
            if (graph_.find_device(n.mac))
                continue;  // a 1905 device's interface, not a client
            if (!owner) {
                OZR_DEBUG(&logger_,
                          "{} check MAC: {} under backbone interface MAC: {} interface "
                          "is not backbone owner, so skip",
                          __func__, n.mac.to_string(), t.local_mac.to_string());
                continue;
            }
            std::vector<MAC> peers = peers_on(topo, t.local_mac);
            bool leaf = peers.empty();  // no 1905 neighbour on this port
            if (!leaf && !peer_sees_mac(peers, n.mac)) {
                OZR_DEBUG(&logger_,
                          "{} check MAC: {} under backbone owner interface MAC: {}, "
                          "the the peer of backbone interface don't see the mac",
                          __func__, n.mac.to_string(), t.local_mac.to_string());
                continue;
            }
            bool other = false;
            for (const auto& kv : graph_.nodes) {
                if (kv.second->kind() != Node::DEVICE)
                    continue;
                Device* d = static_cast<Device*>(kv.second);
                if (d->find_wireless_link(n.mac)) {
                    other = true;
                    break;
                }
                if (d != dev && d->find_wired_link(n.mac)) {
                    if (leaf) {
                        // A port without 1905 neighbours is where the client plugs in;
                        // the other device only learnt it through its bridge.
                        d->delete_link(n.mac, Link::WIRED);
                        mark_topo_changed();
                    } else {
                        other = true;
                        break;
                    }
                }
            }
            if (other) {
                OZR_DEBUG(&logger_,
                          "{} check MAC: {} under backbone owner interface MAC: {}, "
                          "exist another direct link to the mac, so skip",
                          __func__, n.mac.to_string(), t.local_mac.to_string());
                continue;
            }
            if (!on_heard_about_wired_client(n.mac))
                continue;
            WiredLink* l = on_heard_about_wired_link(dev, n.mac);
            if (l) {
                l->local_interface = t.local_mac;
                l->medium = Medium::ETHERNET;
            }
        }
    }

    // Associated clients, backhaul STAs among them.
    for (const BSS_Info& b : topo.associated_clients) {
        for (const StaTime& st : b.stas) {
            if (st.mac == dev->mac)
                continue;  // a device is not its own client
            Sta* s = on_heard_about_associated(st.mac);
            if (!s)
                continue;
            const Device* owner = graph_.find_device(st.mac);
            if (owner && owner != dev && owner->mac != st.mac)
                s->update_backhaul_sta(true, owner->mac);
            if (on_heard_about_wireless_link(dev, b.bssid, st.mac) && s->is_backhaul_sta)
                mark_backhaul_sta(s, s->owner_device);
        }
    }
}

void GraphMinder::identify_eth_backbone_owner(Device* dev, const TopologyResponseMesg& topo) {
    // Backbone owner of a device's Ethernet bridge (decided here): every Ethernet
    // interface except the one leading towards the root owns its own segment, so wired
    // clients seen there are attached to this device; the uplink interface (the one whose
    // 1905 neighbours include the parent or the root) only learns MACs through the
    // backbone and names the first owner interface as its pair. The root has no uplink.
    for (const NeighborDeviceListTLV& t : topo.neighbors) {
        LocalInterface* ifc = find_if(dev, t.local_mac);
        if (!ifc)
            continue;
        for (const Neighbor& n : t.neighbors)
            if (n.bridge)
                ifc->has_bridge = 1;
    }
    for (const Non1905NeighborDeviceListTLV& t : topo.non_1905_neighbors) {
        LocalInterface* ifc = find_if(dev, t.local_mac);
        if (!ifc)
            continue;
        for (const Non1905Neighbor& n : t.neighbors)
            ifc->non_1905_neighbors.push_back(n.mac);
    }
    MAC uplink;
    if (dev != graph_.root) {
        MAC parent = dev->backhaul.remote_ale;
        const MAC root = graph_.root ? graph_.root->mac : MAC::zero;
        for (const NeighborDeviceListTLV& t : topo.neighbors)
            for (const Neighbor& n : t.neighbors)
                if (uplink.is_zero() && ((!parent.is_zero() && n.al_mac == parent) ||
                                         (!root.is_zero() && n.al_mac == root)))
                    uplink = t.local_mac;
    }
    MAC first_owner;
    for (LocalInterface& i : dev->interfaces) {
        if (!is_ethernet(i) || i.mac == uplink)
            continue;
        i.backbone_owner = i.mac;
        if (first_owner.is_zero())
            first_owner = i.mac;
        OZR_DEBUG(&logger_, "{} set device {} interface MAC: {} to backbone owner", __func__,
                  dev->mac.to_string(), i.mac.to_string());
    }
    LocalInterface* up = uplink.is_zero() ? nullptr : find_if(dev, uplink);
    if (up && !first_owner.is_zero()) {
        up->backbone_owner = first_owner;
        up->bridged_interfaces.push_back(first_owner);
        OZR_DEBUG(&logger_, "{} set device {} interface MAC: {} pair backbone owner MAC: {}",
                  __func__, dev->mac.to_string(), up->mac.to_string(), first_owner.to_string());
    }
}

bool GraphMinder::peer_sees_mac(const std::vector<MAC>& peers, const MAC& m) const {
    for (const MAC& peer : peers) {
        auto it = seen_wired_macs_.find(peer);
        if (it != seen_wired_macs_.end() && it->second.count(m))
            return true;
    }
    return false;
}

void GraphMinder::on_topology_notification(CMDU* cmdu) {
    optional<TopologyNotificationMesg> parsed = parse_topology_notification(cmdu);
    if (!parsed)
        return;
    const TopologyNotificationMesg& n = *parsed;
    Device* dev = on_heard_about_device(n.al_mac);
    if (n.has_client_association_event) {
        bool join = n.association_event == 1;
        OZR_INFO(&logger_, "{} al MAC: {} BSSID: {} client MAC: {} {}", __func__,
                 n.al_mac.to_string(), n.bssid.to_string(), n.client_mac.to_string(),
                 join ? "associate" : "dissociate");
        if (dev && join) {
            if (n.client_mac != dev->mac && on_heard_about_associated(n.client_mac)) {
                on_heard_about_wireless_link(dev, n.bssid, n.client_mac);
                OZR_INFO(&logger_, "added wireless {} link for {} fro mBSSID: {} => {}",
                         medium_short_word(dev->find_medium(n.bssid)), dev->label(),
                         n.bssid.to_string(), n.client_mac.to_string());
            }
        } else if (dev) {
            if (GraphSteeringPeer* s = steering())
                s->notify_pre_delete_link(n.client_mac);
            if (dev->delete_link(n.client_mac, Link::WIRELESS)) {
                OZR_INFO(&logger_, "deleted wireless link {} BSSID: {} => {}", dev->label(),
                         n.bssid.to_string(), n.client_mac.to_string());
                OZR_INFO(&logger_, "topo_changed when deleted wireless link {} BSSID: {} => {}",
                         dev->label(), n.bssid.to_string(), n.client_mac.to_string());
            }
        }
    }
    OZR_INFO(&logger_, "topo_changed when receive topology notification from device al MAC: {}",
             n.al_mac.to_string());
    mark_topo_changed();
    if (dev)
        send_device_link_metrics_query(dev);
}

void GraphMinder::on_discovery(CMDU* cmdu) {
    optional<DiscoveryMesg> parsed = parse_discovery(cmdu);
    if (!parsed)
        return;
    const DiscoveryMesg& d = *parsed;
    OZR_DEBUG(&logger_, "{} al MAC: {} if MAC: {}", __func__, d.al_mac.to_string(),
              d.mac.to_string());
    Device* dev = on_heard_about_device(d.al_mac);
    if (!dev || d.mac.is_zero() || d.mac == d.al_mac)
        return;
    // A discovery sent from an 802.11 interface in a station role came over the sender's
    // backhaul association: that interface is its backhaul STA.
    const LocalInterface* ifc = dev->find_interface(d.mac);
    if (!ifc) {
        OZR_DEBUG(&logger_, "{} find local interface {} information failed", __func__,
                  d.mac.to_string());
        return;
    }
    if (!ifc->ieee80211 || ifc->ieee80211->role != 0x4)
        return;
    Sta* s = on_heard_about_associated(d.mac);
    if (!s) {
        OZR_WARN(&logger_, "{} create BSTA for MAC: {} failed", __func__, d.mac.to_string());
        return;
    }
    s->update_backhaul_sta(true, d.al_mac);
}

void GraphMinder::mark_backhaul_sta(Sta* s, const MAC& owner) {
    s->update_backhaul_sta(true, owner);
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        WirelessLink* l = static_cast<Device*>(kv.second)->find_wireless_link(s->mac);
        if (!l)
            continue;
        l->is_backbone = true;
        l->remote_al_mac = owner;
        s->bsta_medium = l->medium;
    }
}
