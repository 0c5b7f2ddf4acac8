// The steering tick: per client, the outcome of the last steer, the decision window, the
// ping-pong protection, fresh measurements, and the band and mesh steering decisions.
#include <algorithm>
#include <cmath>

#include "core/context.h"
#include "core/log.h"
#include "graph/graph.h"
#include "graph/graph_minder.h"
#include "messages/messages.h"
#include "steering/steering_minder.h"

namespace {
// RSSI (dBm) of an RCPI, as the steering rules compare it (truncating toward zero).
int rssi_of(uint8_t rcpi) {
    return (static_cast<int>(rcpi) - 220) / 2;
}
bool is_5g(Medium m) {
    return m == Medium::WIFI_5G_LOW || m == Medium::WIFI_5G_HIGH || m == Medium::WIFI_5G;
}
bool same_band(Medium a, Medium b) {
    return (a == Medium::WIFI_2G && b == Medium::WIFI_2G) || (is_5g(a) && is_5g(b));
}

// Whether the client's non-preferred channel report covers every 5 GHz channel it supports.
bool avoids_5g(const StaCapabilityInfo& caps) {
    if (caps.non_preferred_channels.empty() || caps.supported_channels_5g == 0)
        return false;
    for (size_t i = 0; i < 32; ++i) {
        if (!(caps.supported_channels_5g & (1u << i)))
            continue;
        const uint8_t ch = StaCapabilityInfo::kChannels5g[i];
        if (std::find(caps.non_preferred_channels.begin(), caps.non_preferred_channels.end(), ch) ==
            caps.non_preferred_channels.end())
            return false;
    }
    return true;
}

// The Wi-Fi system type of a device from its radios; 255 when it reports none.
int device_system_type(const Device& dev) {
    int n2 = 0, n5 = 0;
    for (const RadioInfo& r : dev.operational_bss) {
        if (r.bsss.empty())
            continue;
        Medium m = dev.find_medium(r.bsss.front().bssid);
        if (m == Medium::WIFI_2G)
            ++n2;
        else if (is_5g(m))
            ++n5;
    }
    if (n2 && n5 >= 2)
        return static_cast<int>(wifi_system_type::TRI_BAND);
    if (n2 && n5)
        return static_cast<int>(wifi_system_type::DUAL_BAND);
    if (n5)
        return static_cast<int>(wifi_system_type::ONLY_5G);
    if (n2)
        return static_cast<int>(wifi_system_type::ONLY_2G);
    return 255;
}

// A BSS of DEV with SSID on MEDIUM (any 5 GHz part when MEDIUM is the undivided band).
bool find_bss_on(const Device& dev, const std::string& ssid, Medium medium, BSSID& out) {
    for (const RadioInfo& r : dev.operational_bss)
        for (const BSSInfo& b : r.bsss) {
            if (b.ssid != ssid)
                continue;
            Medium m = dev.find_medium(b.bssid);
            if (m == medium || (medium == Medium::WIFI_5G && is_5g(m))) {
                out = b.bssid;
                return true;
            }
        }
    return false;
}

// Operating class and channel of the radio holding BSSID.
void radio_channel(const Device& dev, const BSSID& bssid, uint8_t& op_class, uint8_t& channel) {
    optional<MAC> radio = dev.find_radio_id(bssid);
    if (!radio)
        return;
    if (auto oc = dev.radio_primary_op_class(*radio))
        op_class = *oc;
    if (auto ch = dev.radio_primary_channel(*radio))
        channel = *ch;
}
}  // namespace

// ---- categories and timing -------------------------------------------------------------

uint32_t SteeringMinder::category_interval_ms(sta_categories c) const {
    switch (c) {
        case sta_categories::CONTROLLED_STEERING_CLASS2:
            return min_steer_interval_c2 * 1000u;
        case sta_categories::ASSISTED_ROAMING:
            return min_steer_interval_a * 1000u;
        default:
            return min_steer_interval_c1 * 1000u;
    }
}

uint32_t SteeringMinder::category_backoff_base_ms(sta_categories c, uint16_t min_backoff_s) {
    switch (c) {
        case sta_categories::CONTROLLED_STEERING_CLASS1:
        case sta_categories::CONTROLLED_STEERING_CLASS2:
        case sta_categories::ASSISTED_ROAMING:
            return min_backoff_s * 1000u;
        default:
            return 0;
    }
}

sta_categories SteeringMinder::client_category(const Sta& sta, const SteeringReNode& node) const {
    if (steering_cat >= 1 && steering_cat <= 4)
        return static_cast<sta_categories>(steering_cat);
    sta_categories c = sta.capabilities.steer_category;
    if (c == sta_categories::INVALID || c == sta_categories::CAT5) {
        if (!sta.capabilities.capable_bss_transition)
            return sta_categories::FREE_ROAMING;
        c = btm_assisted ? sta_categories::ASSISTED_ROAMING
                         : sta_categories::CONTROLLED_STEERING_CLASS1;
    }
    if (c == sta_categories::CONTROLLED_STEERING_CLASS1 &&
        node.reject_count >= static_cast<int32_t>(c1_to_c2_threshold))
        c = sta_categories::CONTROLLED_STEERING_CLASS2;
    return c;
}

// ---- the tick ------------------------------------------------------------------------------

void SteeringMinder::on_steering_tick_timer() {
    if (!global_steer)
        return;
    Graph* g = graph();
    if (g == nullptr)
        return;
    const int64_t t = now();
    if (g->nodes.size() > kTickThrottleNodes && has_ticked_ && t - last_tick_ms_ < kThrottledTickMs)
        return;
    has_ticked_ = true;
    last_tick_ms_ = t;
    ++ticks_run_;
    // What every client's step starts from, once: associations and the devices' path costs.
    Context* c = Context::instance();
    if (c && c->graph_minder)
        index_.build(c->graph_minder->mutable_logger(), *g);
    access_control_step(static_cast<uint64_t>(t));
    for (SteeringReNode* n : re_list_)
        tick_client(*n);
    index_.clear();
    std::vector<SteeringMandate> mandates = get_mandates();
    steering_dispatcher(mandates);
}

void SteeringMinder::tick_client(SteeringReNode& node) {
    Graph* g = graph();
    on_unsteer_check(node);
    Sta* sta = g->find_sta(node.mac);
    if (!sta || sta->is_backhaul_sta)
        return;
    Device* dev = nullptr;
    WirelessLink* link = nullptr;
    serving_of(sta, dev, link);
    if (!dev || !link)
        return;
    const uint64_t t = static_cast<uint64_t>(now());
    node.last_active_ms = t;

    decision_window_step(node, *link);

    // Ping-pong protection: the hold runs out, or ends on a strong 2.4 GHz signal (every
    // tick there, whatever the counter says).
    if (node.ping_pong_ticks != 0 && --node.ping_pong_ticks == 0)
        node.ping_pong_hold = false;
    if (link->medium == Medium::WIFI_2G && link->rcpi < 219 &&
        rssi_of(link->rcpi) > min_safe_rssi_2g) {
        node.ping_pong_ticks = 0;
        node.ping_pong_hold = false;
        OZR_DEBUG(&logger_, "sta {}: has moved to safe area, to reset the ping-pong tick count",
                  node.mac.to_string());
    }

    outcome_step(node);

    // Fresh measurements when the last ones are getting old.
    const int64_t age = static_cast<int64_t>(t) - link->last_metrics_ms;
    Context* c = Context::instance();
    if (link->last_metrics_ms != 0 && age > 2000 && age < 6001 && c && c->graph_minder)
        c->graph_minder->send_assoc_sta_link_metric_query(node.mac);

    ping_pong_sample_step(node, *link);

    // Radio measurement: a beacon report when the client can give one and the controller
    // has no fresh unassociated measurement of it.
    if (rrm_en && sta->capabilities.capable_radio_measurement && c && c->graph_minder &&
        (node.last_rrm_ms == 0 || t - node.last_rrm_ms >= rrm_query_interval_ms)) {
        node.last_rrm_ms = t;
        c->graph_minder->send_beacon_query(dev, sta);
    }

    state_machine_check(node, *sta, *link);
    // Looked up again before deciding (the queries above are answered later).
    sta = g->find_sta(node.mac);
    serving_of(sta, dev, link);
    if (!sta || !dev || !link)
        return;
    mesh_dynamic_manage(node, *sta, *dev, *link);
}

void SteeringMinder::serving_of(const Sta* sta, Device*& dev, WirelessLink*& link) const {
    dev = nullptr;
    link = nullptr;
    if (!sta)
        return;
    if (index_.built()) {
        if (const ClientPathIndex::Serving* s = index_.serving(sta->mac)) {
            dev = s->device;
            link = s->link;
        }
        return;
    }
    dev = sta->get_working_device();
    link = dev ? dev->find_wireless_link(sta->mac) : nullptr;
}

void SteeringMinder::decision_window_step(SteeringReNode& node, const WirelessLink& link) {
    if (node.window_state != 2)
        return;
    const uint64_t t = static_cast<uint64_t>(now());
    if (t - node.window_start_ms < decision_window_size * 1000ull) {
        // One sample per tick: at most the window's 65535 s / 2 s, 32 KiB.
        if (link.rcpi < 219)
            node.rssi_samples.push_back(static_cast<int8_t>(rssi_of(link.rcpi)));
        return;
    }
    node.window_ended = true;
    node.window_state = 0;
    OZR_INFO(&logger_, "sta {}: steering decision window ending", node.mac.to_string());
    const uint8_t count = static_cast<uint8_t>(node.rssi_samples.size() % 256);
    unsigned favourable = 0;
    for (int8_t s : node.rssi_samples) {
        if (is_5g(link.medium) && s < bsteer_rssi.rssi_5to2)
            ++favourable;
        else if (link.medium == Medium::WIFI_2G && s > bsteer_rssi.rssi_2to5)
            ++favourable;
    }
    node.steer_probability =
        count == 0 ? 1.0f : static_cast<float>(favourable) / static_cast<float>(count);
    node.rssi_samples.clear();
    OZR_INFO(&logger_, "sta {}: steering distribution probability {} ", node.mac.to_string(),
             node.steer_probability);
}

void SteeringMinder::outcome_step(SteeringReNode& node) {
    const uint64_t t = static_cast<uint64_t>(now());
    if (node.last_steer_ms != 0) {
        const uint64_t age = t - node.last_steer_ms;
        if (age >= 15000 && age <= 17000 && !node.steered && !node.ping_pong_hold) {
            ++node.reject_count;
            node.reject_flag = true;
            node.reject_ms = t;
            node.steered = true;
            OZR_INFO(&logger_, "sta {}: actual steering successive reject count {}",
                     node.mac.to_string(), node.reject_count);
        }
    }
    if (node.reject_flag && t - node.reject_ms > 60000)
        node.reject_flag = false;
}

void SteeringMinder::on_unsteer_check(SteeringReNode& node) {
    if (node.last_steer_ms == 0 || node.unsteer_checked)
        return;
    Graph* g = graph();
    Sta* sta = g ? g->find_sta(node.mac) : nullptr;
    if (!sta)
        return;
    const uint64_t age = static_cast<uint64_t>(now()) - node.last_steer_ms;
    const sta_categories cat = client_category(*sta, node);
    const uint64_t interval = cat == sta_categories::CONTROLLED_STEERING_CLASS2 ? 30000
                              : cat == sta_categories::ASSISTED_ROAMING         ? 60000
                                                                                : 15000;
    Device* dev = nullptr;
    WirelessLink* link = nullptr;
    serving_of(sta, dev, link);
    if (link) {
        if (age < std::max<uint64_t>(interval, roam_back_check_time * 1000ull))
            return;
        if (link->bssid == node.last_src_bssid) {
            ++node.backoff_counter;
            OZR_INFO(&logger_, "sta {}: roaming back happen!!!.  To increase backoff counter to {}",
                     node.mac.to_string(), node.backoff_counter);
        } else {
            node.backoff_counter = 0;
        }
        node.unsteer_checked = true;
        return;
    }
    if (age < interval)
        return;
    ++node.backoff_counter;
    node.unsteer_checked = true;
    OZR_INFO(&logger_, "sta {}: missing in entire mesh. To increase backoff counter to {}",
             node.mac.to_string(), node.backoff_counter);
}

bool SteeringMinder::backoff_check(const MAC& mac, const BSSID& bssid) {
    if (!backoff || mac.is_zero())
        return false;
    Graph* g = graph();
    Sta* sta = g ? g->find_sta(mac) : nullptr;
    SteeringReNode* node = access_steer_re_node(mac);
    if (!sta || !node)
        return false;
    const uint32_t base = category_backoff_base_ms(client_category(*sta, *node), min_backoff_time);
    const double ms = std::pow(2.0, node->backoff_counter) * base * 0.5;
    if (ms > 2147483647.0) {
        OZR_WARN(&logger_, "steering backoff timer overflow");
        return false;
    }
    const int64_t backoff_ms = static_cast<int64_t>(ms);
    const int64_t elapsed = now() - static_cast<int64_t>(node->last_steer_ms);
    if (node->backoff_counter == 0 || elapsed >= backoff_ms || bssid != node->last_steer_bssid)
        return false;
    OZR_INFO(&logger_,
             "steering backoff sta {} bssid: {} backoff counter= {} backoff time={} ms time "
             "left={} ms",
             mac.to_string(), bssid.to_string(), node->backoff_counter, backoff_ms,
             backoff_ms - elapsed);
    return true;
}

void SteeringMinder::state_machine_check(SteeringReNode& node, const Sta& sta,
                                         const WirelessLink& link) {
    SteeringDataPeer* dm = data_peer_;
    if (dm) {
        dm->note_client_band(node.mac, link.medium);
        if (sta.capabilities.supported_channels_2g || sta.capabilities.supported_channels_5g)
            dm->notify_client_cap_info(node.mac, sta.capabilities);
    }
    if (sta.capabilities.supported_channels_2g && sta.capabilities.supported_channels_5g)
        node.band_capability = static_cast<int32_t>(wifi_system_type::DUAL_BAND);
    else if (dm)
        node.band_capability = dm->client_band_capability(node.mac);
    // The client's own band preference: its non-preferred channel report (MBO), carried by
    // the association request of its capability record.
    node.preference_state = sta.capabilities.non_preferred_channels.empty() ? 0 : 1;
    node.band_preference = avoids_5g(sta.capabilities) ? 3 : 0;
}

void SteeringMinder::sample_rssi_push_loop(SteeringReNode& node, int8_t rssi) {
    node.pp_samples[node.pp_next] = rssi;
    node.pp_next = static_cast<uint8_t>((node.pp_next + 1) % kPingPongSamples);
    if (node.pp_count < kPingPongSamples)
        ++node.pp_count;
}

void SteeringMinder::ping_pong_sample_step(SteeringReNode& node, const WirelessLink& link) {
    const uint64_t t = static_cast<uint64_t>(now());
    // Watched: a band steer the client followed, for a while, on the band it went to.
    const bool watched = ping_pong_check && node.last_steer_band && node.steered &&
                         !node.pp_judged && node.last_steer_ms != 0 &&
                         t - node.last_steer_ms <= kPingPongWatchMs &&
                         same_band(link.medium, node.last_steer_medium);
    if (!watched) {
        node.pp_count = 0;
        return;
    }
    if (link.rcpi > 218)
        return;
    sample_rssi_push_loop(node, static_cast<int8_t>(rssi_of(link.rcpi)));
    if (node.pp_count < kPingPongSamples)
        return;
    int sum = 0;
    for (int8_t s : node.pp_samples)
        sum += s;
    const int mean = sum / kPingPongSamples;
    node.pp_judged = true;
    node.pp_count = 0;
    // On the band it was moved to, would the band decision send it back?
    const bool back_down = is_5g(link.medium) && ping_pong_check_2g &&
                           mean + ping_pong_offset_cal <= bsteer_rssi.rssi_5to2;
    const bool back_up = link.medium == Medium::WIFI_2G && ping_pong_check_5g &&
                         mean - ping_pong_offset_cal >= bsteer_rssi.rssi_2to5;
    if (!back_down && !back_up)
        return;
    node.ping_pong_ticks = kPingPongHoldTicks;
    node.ping_pong_hold = true;
    OZR_INFO(&logger_,
             "sta {}: ping-pong foreseen, rssi {} after the band steer, band steering held for "
             "{} ticks",
             node.mac.to_string(), mean, node.ping_pong_ticks);
}

// ---- decisions -----------------------------------------------------------------------------

void SteeringMinder::mesh_dynamic_manage(SteeringReNode& node, const Sta& sta, const Device& dev,
                                         const WirelessLink& link) {
    const size_t before = pending_.size();
    bsteering_process(node, sta, dev, link);
    if (pending_.size() != before)
        return;  // one steer per client and tick
    msteering_process(node, sta, dev, link);
}

bool SteeringMinder::bsteering_authoriztion_check(const MAC& mac, Medium& target) {
    if (!bsteering)
        return false;
    SteeringReNode* node = access_steer_re_node(mac);
    Graph* g = graph();
    Node* n = g ? g->find_node(mac) : nullptr;
    if (!node || !n || n->kind() != Node::STA)
        return false;
    const Sta* sta = static_cast<const Sta*>(n);
    Device* dev = nullptr;
    WirelessLink* link = nullptr;
    serving_of(sta, dev, link);
    if (!dev || !link)
        return false;
    const Medium medium = link->medium;
    const bool graph_dual = sta->capabilities.supported_channels_2g != 0 &&
                            sta->capabilities.supported_channels_5g != 0;
    if (node->band_capability != static_cast<int32_t>(wifi_system_type::DUAL_BAND) &&
        (node->band_preference == 2 || !is_5g(medium) || !graph_dual)) {
        OZR_DEBUG(&logger_, "sta {} isn't  dual band device", mac.to_string());
        return false;
    }
    if (link->rcpi > 218)
        return false;
    const int system_type = device_system_type(*dev);
    const int rssi = rssi_of(link->rcpi);
    auto listed = [&] {
        for (const WiFiBandPreference& p : bnd_prefer_entries)
            if (p.mac_match(mac))
                return true;
        return false;
    };
    Medium want = Medium::UNKNOWN;
    if (medium == Medium::WIFI_2G) {
        if (node->preference_state == 1 && node->band_preference == 3) {
            OZR_DEBUG(&logger_, "sta {} prefer to 2G,  decline the band-steering request to 5G",
                      mac.to_string());
            return false;
        }
        bool steer = rssi >= bsteer_rssi.rssi_2to5;
        if (bnd_prefer_5g_en) {
            if (bnd_prefer_mode == 0)
                steer = true;
            else if (bnd_prefer_mode == 1 && listed())
                steer = true;
        }
        if (!steer)
            return false;
        want = system_type == static_cast<int>(wifi_system_type::TRI_BAND) ? Medium::WIFI_5G_LOW
                                                                           : Medium::WIFI_5G;
    } else if (is_5g(medium)) {
        if (node->band_preference == 3 || listed())
            return false;
        if (rssi > bsteer_rssi.rssi_5to2)
            return false;
        want = Medium::WIFI_2G;
    } else {
        return false;
    }
    optional<std::string> ssid = dev->find_ssid(link->bssid);
    BSSID bss;
    if (!ssid || !find_bss_on(*dev, *ssid, want, bss))
        return false;
    target = want;
    return true;
}

bool SteeringMinder::steer_allowed(SteeringReNode& node, const Sta& sta, const WirelessLink& link) {
    const sta_categories cat = client_category(sta, node);
    if (cat == sta_categories::FREE_ROAMING && !free_roaming)
        return false;
    if (cat == sta_categories::INVALID || cat == sta_categories::CAT5)
        return false;
    const uint64_t t = static_cast<uint64_t>(now());
    if (node.last_steer_ms != 0 && t - node.last_steer_ms < category_interval_ms(cat))
        return false;
    // A free-roaming client refused too often is left alone for the free-roaming lifetime.
    if (cat == sta_categories::FREE_ROAMING && node.reject_count >= free_roaming_threshold &&
        t - node.last_steer_ms < free_roaming_lifetime * 1000ull)
        return false;
    if (!idle_steer) {
        // Idle clients are not steered: only those whose traffic exceeds the threshold.
        const double bytes_per_s = (link.downlink_tput + link.uplink_tput) * 125000.0;
        if (bytes_per_s <= idle_tput_size)
            return false;
    }
    return true;
}

void SteeringMinder::bsteering_process(SteeringReNode& node, const Sta& sta, const Device& dev,
                                       const WirelessLink& link) {
    Medium target = Medium::UNKNOWN;
    const bool authorised = bsteering_authoriztion_check(node.mac, target);
    if (!authorised) {
        // A verdict that finds the client no longer eligible lapses; an open window runs
        // on (one bad measurement does not end it).
        node.window_ended = false;
        return;
    }
    if (node.ping_pong_hold)
        return;
    if (decision_window) {
        if (node.window_state != 2 && !node.window_ended) {
            node.window_state = 2;
            node.window_start_ms = static_cast<uint64_t>(now());
            node.rssi_samples.clear();
            OZR_INFO(&logger_, "sta {}: steering decision window starting", node.mac.to_string());
            return;
        }
        if (!node.window_ended)
            return;
        node.window_ended = false;
        if (node.steer_probability < decision_chance)
            return;
    }
    if (!steer_allowed(node, sta, link))
        return;
    optional<std::string> ssid = dev.find_ssid(link.bssid);
    BSSID bss;
    if (!ssid || !find_bss_on(dev, *ssid, target, bss))
        return;
    if (backoff_check(node.mac, bss))
        return;
    SteeringEntry e;
    e.sta = node.mac;
    e.target = bss;
    radio_channel(dev, bss, e.op_class, e.channel);
    e.category = client_category(sta, node);
    e.rssi = static_cast<int8_t>(rssi_of(link.rcpi));
    e.band = true;
    propose(dev, link, e);
}

void SteeringMinder::msteering_process(SteeringReNode& node, const Sta& sta, const Device& dev,
                                       const WirelessLink& link) {
    if (!msteering)
        return;
    Graph* g = graph();
    if (!g)
        return;
    if (!index_.built())
        return;  // mesh steering runs inside the tick only
    const int64_t t = now();
    const Paths paths = index_.paths_for(*g, node.mac, link.medium, t);
    const uint32_t working = index_.working_cost(&sta);
    const PathEntry* cand = nullptr;
    for (const auto& kv : paths) {
        const PathEntry& e = kv.second;
        if (!e.link || e.link->kind() != Link::UNASSOCIATED)
            continue;
        if (!cand || e.cost < cand->cost)
            cand = &e;
    }
    const UnassociatedLink* u = cand ? static_cast<const UnassociatedLink*>(cand->link) : nullptr;
    if (u && u->bssid != link.bssid &&
        static_cast<double>(working) >
            static_cast<double>(cand->cost) * (1.0 + static_cast<double>(msteer_ratio) / 100.0)) {
        SteeringCondidate sc;
        sc.device = cand->prev;
        sc.bssid = u->bssid;
        if (optional<MAC> radio = sc.device->find_radio_id(u->bssid))
            sc.radio = *radio;
        sc.ssid = sc.device->find_ssid(u->bssid).value_or(std::string());
        sc.op_class = u->op_class;
        sc.channel = u->channel;
        radio_channel(*sc.device, u->bssid, sc.op_class, sc.channel);
        optional<std::string> own = dev.find_ssid(link.bssid);
        if (own && !sc.ssid.empty() && *own != sc.ssid)
            return;
        if (!steer_allowed(node, sta, link) || backoff_check(node.mac, sc.bssid))
            return;
        SteeringEntry e;
        e.sta = node.mac;
        e.target = sc.bssid;
        e.op_class = sc.op_class;
        e.channel = sc.channel;
        e.category = client_category(sta, node);
        e.rssi = static_cast<int8_t>(rssi_of(link.rcpi));
        propose(dev, link, e);
        return;
    }
    if (link.rcpi > 218)
        return;
    const int rssi = rssi_of(link.rcpi);
    if ((link.medium == Medium::WIFI_2G && rssi <= msteer_rssi_2g) ||
        (is_5g(link.medium) && rssi <= msteer_rssi_5g))
        OZR_DEBUG(&logger_,
                  "try to trigger sta {} do roaming on it's own due to not valid "
                  "unassoc metric",
                  node.mac.to_string());
}

void SteeringMinder::propose(const Device& dev, const WirelessLink& link, SteeringEntry entry) {
    for (SteeringMandate& m : pending_)
        if (m.src == link.bssid && m.agent == dev.mac) {
            m.entries.push_back(entry);
            return;
        }
    SteeringMandate m;
    m.src = link.bssid;
    m.agent = dev.mac;
    m.entries.push_back(entry);
    pending_.push_back(std::move(m));
}

std::vector<SteeringMinder::SteeringMandate> SteeringMinder::get_mandates() {
    std::vector<SteeringMandate> out;
    out.swap(pending_);
    return out;
}

// ---- what the graph minder tells -----------------------------------------------------------

void SteeringMinder::notify_new_link(const Link* link) {
    if (!link)
        return;
    OZR_DEBUG(&logger_, "SteeringMinder::{}() to MAC: {}", __func__, link->to.to_string());
    // A wireless association comes with notify_new_wireless_link, which resets the record.
    if (link->kind() == Link::WIRELESS)
        return;
    if (SteeringReNode* node = access_steer_re_node(link->to))
        on_client_associated(*node, BSSID::zero);
}

void SteeringMinder::notify_new_wireless_link(const WirelessLink* link) {
    if (!link)
        return;
    Graph* g = graph();
    Sta* sta = g ? g->find_sta(link->to) : nullptr;
    SteeringReNode* node = access_steer_re_node(link->to);
    if (!node && sta && !sta->is_backhaul_sta)
        node = apply_steer_re_node(link->to);
    if (node)
        on_client_associated(*node, link->bssid);
}

void SteeringMinder::on_client_associated(SteeringReNode& node, const BSSID& bssid) {
    node.ping_pong_ticks = 0;
    node.ping_pong_hold = false;
    node.reject_flag = false;
    node.window_ended = false;
    node.window_state = 0;
    node.rssi_samples.clear();
    node.pp_count = 0;
    const uint64_t t = static_cast<uint64_t>(now());
    node.last_active_ms = t;
    if (node.last_steer_ms != 0 && t - node.last_steer_ms <= 20000 && !node.steered) {
        node.steered = true;
        node.reject_count = 0;
        OZR_INFO(&logger_, "sta {}: steered to bssid {}", node.mac.to_string(),
                 bssid.is_zero() ? std::string("(wired)") : bssid.to_string());
        if (data_peer_ && !bssid.is_zero() && bssid == node.last_steer_bssid)
            data_peer_->note_client_obeyed(node.mac);
    }
}

void SteeringMinder::notify_pre_delete_link(const MAC& sta) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {}", __func__, sta.to_string());
}

void SteeringMinder::notify_link_metric_changed(const Device* device, const MAC& sta) {
    if (SteeringReNode* n = access_steer_re_node(sta))
        n->last_active_ms = static_cast<uint64_t>(now());
    OZR_DEBUG(&logger_, "SteeringMinder::{}() device {} sta MAC: {}", __func__,
              device ? device->mac.to_string() : std::string("-"), sta.to_string());
}

void SteeringMinder::ping_pong_check_by_new_reassoc_process(const WirelessLink* link) {
    if (!link || !ping_pong_check)
        return;
    SteeringReNode* node = access_steer_re_node(link->to);
    if (!node || !node->last_steer_band || node->last_steer_ms == 0)
        return;
    // Back on the band it was steered away from within the hold time: a ping-pong.
    const uint64_t age = static_cast<uint64_t>(now()) - node->last_steer_ms;
    if (age > 30000)
        return;
    const bool back_to_2g = is_5g(node->last_steer_medium) && link->medium == Medium::WIFI_2G;
    const bool back_to_5g = node->last_steer_medium == Medium::WIFI_2G && is_5g(link->medium);
    if ((back_to_2g && ping_pong_check_2g) || (back_to_5g && ping_pong_check_5g)) {
        node->ping_pong_ticks = kPingPongHoldTicks;
        node->ping_pong_hold = true;
        OZR_INFO(&logger_, "sta {}: ping-pong between bands, band steering held for {} ticks",
                 node->mac.to_string(), node->ping_pong_ticks);
    }
}

void SteeringMinder::ping_pong_check_by_unassoc_process(const UnassociatedLink* link) {
    // Acts only with the check on ("dancing"), for a client with a record and a valid
    // measurement.
    if (!link || !ping_pong_check || link->rcpi > 218)
        return;
    SteeringReNode* node = access_steer_re_node(link->to);
    Graph* g = graph();
    Sta* sta = g ? g->find_sta(link->to) : nullptr;
    if (!node || !sta || sta->is_backhaul_sta)
        return;
    // Heard on the measured band: the client database remembers it.
    if (data_peer_)
        data_peer_->note_client_band(link->to, link->medium);
    // The comparison needs the serving device's own measurement and a valid serving one.
    const Device* owner = link->owner();
    const Device* dev = sta->get_working_device();
    const WirelessLink* serving = dev ? dev->find_wireless_link(sta->mac) : nullptr;
    if (!owner || !serving || dev != owner || serving->rcpi > 218)
        return;
    if (!is_5g(serving->medium) || link->medium != Medium::WIFI_2G)
        return;
    // The 5 GHz signal is at least as good as the 2.4 GHz one: a move down would bounce.
    if (rssi_of(serving->rcpi) >= rssi_of(link->rcpi) + ping_pong_offset_cal &&
        !node->ping_pong_hold && ping_pong_check_5g) {
        node->ping_pong_ticks = ping_pong_hold_ticks;
        node->ping_pong_hold = true;
    }
}

void SteeringMinder::notify_sta_bnd_cap_changed(const MAC& sta) {
    SteeringReNode* node = access_steer_re_node(sta);
    if (!node || !data_peer_)
        return;
    int cap = data_peer_->client_band_capability(sta);
    if (cap >= 0)
        node->band_capability = cap;
}

void SteeringMinder::notify_failed_connection_report(const FailedConnectionMesg& report) {
    // Nothing is decided from it; the line shows that it arrived.
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {}", __func__, report.sta.to_string());
}

void SteeringMinder::notify_dot11_btm_query(const MAC& sta, uint8_t dialog_token, uint8_t reason) {
    // A client asking where to go: its next decision window starts at once.
    if (SteeringReNode* n = access_steer_re_node(sta))
        n->window_ended = false;
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {} token {} reason {}", __func__,
              sta.to_string(), dialog_token, reason);
}
