// What steering sends to agents: Client Steering Requests, Client Association Control
// Requests, the steering request signal; kick_out, the administrator's access-control list
// and the garbage collection of the per-client records.
#include <algorithm>

#include "core/context.h"
#include "core/log.h"
#include "graph/graph.h"
#include "graph/graph_minder.h"
#include "map/codec/tlvs.h"
#include "map/map_send.h"
#include "messages/bus_records.h"
#include "steering/steering_minder.h"

namespace {
bool is_5g(Medium m) {
    return m == Medium::WIFI_5G_LOW || m == Medium::WIFI_5G_HIGH || m == Medium::WIFI_5G;
}
uint64_t sm_window_ms(const SteeringMinder& sm) {
    return sm.decision_window_size * 1000ull;
}
std::string channel_text(const Device* dev, const BSSID& bssid) {
    if (!dev)
        return "?";
    optional<uint8_t> ch = dev->radio_primary_channel(bssid);
    return ch ? std::to_string(*ch) : std::string("?");
}
}  // namespace

void SteeringMinder::steering_dispatcher(std::vector<SteeringMandate>& mandates) {
    if (mandates.empty())
        return;
    // Every BSS of the mesh with its device, once per dispatch: the targets of all the
    // mandates are looked up in it.
    bss_owner_.clear();
    if (Graph* g = graph())
        for (const auto& kv : g->nodes) {
            if (kv.second->kind() != Node::DEVICE)
                continue;
            const Device* d = static_cast<const Device*>(kv.second);
            for (const RadioInfo& r : d->operational_bss)
                for (const BSSInfo& b : r.bsss)
                    bss_owner_.emplace(b.bssid, d);
        }
    for (const SteeringMandate& m : mandates)
        do_steer(m);
    bss_owner_.clear();
}

const Device* SteeringMinder::bss_owner(const BSSID& bssid) {
    auto it = bss_owner_.find(bssid);
    return it == bss_owner_.end() ? nullptr : it->second;
}

int SteeringMinder::do_steer(const SteeringMandate& mandate) {
    Graph* g = graph();
    const Device* src = g ? g->find_device(mandate.agent) : nullptr;
    if (!src) {
        OZR_ERROR(&logger_, "{} (): src dev {} doesnt exist", __func__, mandate.agent.to_string());
        return -1;
    }
    steering_request_tlv req;
    req.bssid = mandate.src;
    req.request_mode = 0;
    req.steering_opportunity_window = 63;
    req.btm_disassociation_timer = btm_disassoc_time;
    bool imminent = false;
    std::vector<const SteeringEntry*> sent;
    for (const SteeringEntry& e : mandate.entries) {
        if (e.target.is_zero())
            continue;
        if (req.stas.size() >= 255)
            break;
        const Device* dst = e.target == BSSID::broadcast ? src : bss_owner(e.target);
        if (!dst) {
            OZR_ERROR(&logger_, "{} (): dest dev {} doesnt exist", __func__, e.target.to_string());
            continue;
        }
        req.stas.push_back(e.sta);
        req.targets.push_back({e.target, e.op_class, e.channel});
        if (e.category == sta_categories::FREE_ROAMING)
            imminent = true;
        sent.push_back(&e);
        OZR_INFO(&logger_,
                 "steering -sta {} from {}/bssid {} [ch {} rssi {}] to {}/bssid {} [ch {} op "
                 "class {}]",
                 e.sta.to_string(), src->name, mandate.src.to_string(),
                 channel_text(src, mandate.src), e.rssi, dst->name, e.target.to_string(), e.channel,
                 e.op_class);
    }
    if (req.stas.empty())
        return -1;
    if (imminent) {
        req.request_mode = 1;
        req.btm_disassociation_imminent = 1;
        req.btm_abridged = 1;
        req.btm_disassociation_timer = 150;
    }
    req.num_stas = static_cast<uint8_t>(req.stas.size());
    req.num_targets = static_cast<uint8_t>(req.targets.size());
    const int rc = map_send_steering_request(mandate.agent, req);
    OZR_INFO(&logger_, "map_send_steering_request returned {}", rc);
    const uint8_t mode = static_cast<uint8_t>((req.request_mode ? 0x80 : 0) |
                                              (req.btm_disassociation_imminent ? 0x40 : 0) |
                                              (req.btm_abridged ? 0x20 : 0));
    const uint64_t t = static_cast<uint64_t>(now());
    for (const SteeringEntry* e : sent) {
        if (SteeringReNode* n = access_steer_re_node(e->sta)) {
            n->last_steer_ms = t;
            n->last_steer_bssid = e->target;
            n->last_src_bssid = mandate.src;
            n->last_dst_channel = e->channel;
            n->last_steer_band = e->band;
            const Device* dst = bss_owner(e->target);
            n->last_steer_medium = dst ? dst->find_medium(e->target) : Medium::UNKNOWN;
            n->steered = false;
            n->unsteer_checked = false;
            n->pp_judged = false;
            n->pp_count = 0;
            ++n->steers;
        }
        ++steer_requests_;
        // A client told to leave without BTM support is kept off the BSS it leaves for a
        // while, or it would come straight back.
        if (e->category == sta_categories::FREE_ROAMING && e->target != BSSID::broadcast)
            block_at(e->sta, mandate.agent, mandate.src, kSteerAclValidityS, false);
        sta_steer_req_action(mandate, *e, mode, req.btm_disassociation_timer);
    }
    return rc;
}

void SteeringMinder::sta_steer_req_action(const SteeringMandate& m, const SteeringEntry& e,
                                          uint8_t mode, uint16_t disassoc_timer) {
    if (!data_peer_)
        return;
    Graph* g = graph();
    StaSteeringEvent_t ev{};
    zka_set_text(ev.sta_mac, e.sta.to_string());
    zka_set_text(ev.src_bssid, m.src.to_string());
    zka_set_text(ev.dst_bssid, e.target.to_string());
    zka_set_text(ev.src_al_mac, m.agent.to_string());
    const Device* src = g ? g->find_device(m.agent) : nullptr;
    if (src)
        ev.src_channel = src->radio_primary_channel(m.src).value_or(0);
    if (const Device* dst = e.target != BSSID::broadcast ? bss_owner(e.target) : nullptr) {
        zka_set_text(ev.dst_al_mac, dst->mac.to_string());
        zka_set_text(ev.dst_sn, data_peer_->extender_sn_by_ale(dst->mac));
    }
    zka_set_text(ev.src_sn, data_peer_->extender_sn_by_ale(m.agent));
    ev.dst_channel = e.channel;
    ev.dst_op_class = e.op_class;
    ev.rssi = e.rssi;
    ev.category = static_cast<uint8_t>(e.category);
    ev.request_mode = mode;
    ev.steer_type = e.target == BSSID::broadcast ? STA_STEER_KICK_OUT
                    : e.band                     ? STA_STEER_BAND
                                                 : STA_STEER_MESH;
    ev.btm_disassoc_timer = disassoc_timer;
    ev.timestamp_ms = now();
    data_peer_->notify_sta_steering_request(ev);
}

int SteeringMinder::kick_out(const MAC& mac) {
    Graph* g = graph();
    Node* n = g ? g->find_node(mac) : nullptr;
    if (!n || n->kind() != Node::STA) {
        OZR_NOTICE(&logger_, "SteeringMinder::{}() sta MAC: {} is not a known client", __func__,
                   mac.to_string());
        return -1;
    }
    const Sta* sta = static_cast<const Sta*>(n);
    const Device* dev = sta->get_working_device();
    const WirelessLink* link = dev ? dev->find_wireless_link(mac) : nullptr;
    if (!dev || !link) {
        OZR_NOTICE(&logger_, "SteeringMinder::{}() sta MAC: {} is not associated", __func__,
                   mac.to_string());
        return -1;
    }
    SteeringMandate m;
    m.src = link->bssid;
    m.agent = dev->mac;
    SteeringEntry e;
    e.sta = mac;
    e.target = BSSID::broadcast;
    e.rssi = static_cast<int8_t>((static_cast<int>(link->rcpi) - 220) / 2);
    SteeringReNode* node = apply_steer_re_node(mac);
    e.category = node ? client_category(*sta, *node) : sta_categories::CONTROLLED_STEERING_CLASS1;
    m.entries.push_back(e);
    std::vector<SteeringMandate> ms{m};
    steering_dispatcher(ms);
    return 0;
}

// ---- access control ------------------------------------------------------------------------

int SteeringMinder::do_acl(const AclMandate& m) {
    Graph* g = graph();
    const Device* dev = g ? g->find_device(m.agent) : nullptr;
    if (!dev) {
        OZR_ERROR(&logger_, "{} (): src dev {} doesnt exist", __func__, m.agent.to_string());
        return -1;
    }
    client_association_control_request_tlv req;
    req.bssid = m.bssid;
    req.association_control = m.control;
    req.validity_period = static_cast<uint16_t>(std::min<uint32_t>(m.validity_s, 65535));
    for (const AclEntry& e : m.entries) {
        if (req.stas.size() >= 255)
            break;
        req.stas.push_back(e.sta);
        OZR_DEBUG(&logger_, "{} (): {} sta {} at bssid {} for {} s", __func__,
                  m.control == ASSOCIATION_CONTROL_BLOCK ? "block" : "unblock", e.sta.to_string(),
                  m.bssid.to_string(), req.validity_period);
    }
    req.num_stas = static_cast<uint8_t>(req.stas.size());
    const int rc = map_send_client_acl_request(dev->mac, req);
    OZR_INFO(&logger_, "map_send_client_acl_request returned {}", rc);
    return rc;
}

void SteeringMinder::block_at(const MAC& sta, const MAC& agent, const BSSID& bssid,
                              uint32_t validity_s, bool admin) {
    AccessControlNode* n = apply_acl_re_node(sta);
    const uint64_t t = static_cast<uint64_t>(now());
    n->last_active_ms = t;
    AccessControlNode::Block* b = nullptr;
    for (auto& x : n->blocks)
        if (x.bssid == bssid)
            b = &x;
    if (!b) {
        n->blocks.push_back({bssid, agent, 0, admin});
        b = &n->blocks.back();
    }
    b->agent = agent;
    b->admin = b->admin || admin;
    b->until_ms = t + validity_s * 1000ull;
    AclMandate m;
    m.agent = agent;
    m.control = ASSOCIATION_CONTROL_BLOCK;
    m.bssid = bssid;
    m.validity_s = validity_s;
    m.entries.push_back({sta, bssid});
    do_acl(m);
}

void SteeringMinder::admin_blacklist_add(const MAC& sta, unsigned medium_mask) {
    admin_[sta] |= medium_mask & 3u;
    access_control_step(static_cast<uint64_t>(now()));
}

void SteeringMinder::admin_blacklist_remove(const MAC& sta) {
    admin_.erase(sta);
    AccessControlNode* n = access_acl_re_node(sta);
    if (!n)
        return;
    const uint64_t t = static_cast<uint64_t>(now());
    for (auto& b : n->blocks) {
        if (!b.admin)
            continue;
        b.admin = false;
        if (b.until_ms > t) {
            AclMandate m;
            m.agent = b.agent;
            m.control = ASSOCIATION_CONTROL_UNBLOCK;
            m.bssid = b.bssid;
            m.entries.push_back({sta, b.bssid});
            do_acl(m);
        }
        b.until_ms = 0;
    }
    n->last_active_ms = t;
}

// Every tick: the administrator's blocks stay in force at every BSS of their bands (sent
// again before they lapse); lapsed blocks are forgotten.
void SteeringMinder::access_control_step(uint64_t t) {
    for (auto& kv : acl_nodes_)
        kv.second->blocks.erase(
            std::remove_if(kv.second->blocks.begin(), kv.second->blocks.end(),
                           [t](const AccessControlNode::Block& b) { return b.until_ms <= t; }),
            kv.second->blocks.end());
    if (admin_.empty())
        return;
    Graph* g = graph();
    if (!g)
        return;
    for (const auto& kv : g->nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        const Device* dev = static_cast<const Device*>(kv.second);
        for (const RadioInfo& r : dev->operational_bss)
            for (const BSSInfo& b : r.bsss) {
                const Medium m = dev->find_medium(b.bssid);
                const unsigned bit = m == Medium::WIFI_2G ? 1u : is_5g(m) ? 2u : 0u;
                for (const auto& a : admin_) {
                    if (!(a.second & bit))
                        continue;
                    AccessControlNode* n = access_acl_re_node(a.first);
                    bool fresh = false;
                    if (n)
                        for (const auto& x : n->blocks)
                            if (x.bssid == b.bssid && x.admin && x.until_ms > t + 60000)
                                fresh = true;
                    if (!fresh)
                        block_at(a.first, dev->mac, b.bssid, kAdminValidityS, true);
                }
            }
    }
}

// ---- garbage collection and the fronthaul radios ---------------------------------------------

void SteeringMinder::on_gc() {
    const uint64_t t = static_cast<uint64_t>(now());
    for (auto it = re_list_.begin(); it != re_list_.end();) {
        SteeringReNode* n = *it;
        // Pending work: an open decision window (one left open by a client that went away
        // lapses with its size) or a steer whose outcome is not judged yet.
        const bool window_open =
            n->window_state == 2 && t - n->window_start_ms < sm_window_ms(*this);
        const bool pending = window_open || !n->unsteer_checked;
        if (!pending && t - n->last_active_ms > static_cast<uint64_t>(kGcAgeMs)) {
            OZR_INFO(&logger_, "garbage collecting steering resource node {}", n->mac.to_string());
            re_nodes_.erase(n->mac);
            delete n;
            it = re_list_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = acl_nodes_.begin(); it != acl_nodes_.end();) {
        AccessControlNode* n = it->second;
        if (n->blocks.empty() && admin_.count(n->mac) == 0 &&
            t - n->last_active_ms > static_cast<uint64_t>(kGcAgeMs)) {
            OZR_INFO(&logger_, "garbage collecting acl resource node {}", n->mac.to_string());
            delete n;
            it = acl_nodes_.erase(it);
        } else {
            ++it;
        }
    }
}

void SteeringMinder::on_fronthaul_radio_mgmt_check() {
    if (!fh_mgmt_enable_)
        return;
    OZR_DEBUG(&logger_, "SteeringMinder::{}()", __func__);
}
