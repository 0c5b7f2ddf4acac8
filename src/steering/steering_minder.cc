#include "steering/steering_minder.h"

#include <fmt/format.h>

#include <cstring>

#include "core/cmdu_registry.h"
#include "core/context.h"
#include "core/live_minders.h"
#include "core/log.h"
#include "graph/device.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/codec/tlv_types.h"
#include "messages/messages.h"
#include "nal/nal.h"
#include "steering/backhaul_steering.h"

namespace {
// The size of the platform policy buffer.
constexpr size_t kPolicyBufferSize = 1024;

}  // namespace

SteeringMinder::SteeringMinder(uv_loop_s* loop)
    : logger_(root_logger, "steering", "", -1),
      loop_(loop),
      backhaul_(new BackhaulSteering(loop, &logger_)),
      generation_(live_minder_join(this)) {
    int level = find_config_log_level("root.steering");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
    timers_.reserve(4);
    timers_.push_back(std::make_unique<Timer>(loop, "fronthaul_radio_mgmt_check",
                                              [this] { on_fronthaul_radio_mgmt_check(); }));
    timers_.push_back(std::make_unique<Timer>(loop, "on_gc", [this] { on_gc(); }));
    timers_.push_back(std::make_unique<Timer>(loop, "on_system_periodic_timer",
                                              [this] { on_steering_tick_timer(); }));
    timers_.push_back(std::make_unique<Timer>(loop, "debug_dump", [] {}));
    const uint64_t gen = generation_;
    add_cmdu_handler(
        CMDU_TYPE_CLIENT_STEERING_BTM_REPORT,
        [gen](CMDU* cmdu) {
            if (SteeringMinder* m = live_minder<SteeringMinder>(gen); m && cmdu)
                m->on_btm_response(cmdu);
        },
        nullptr);
}

SteeringMinder::~SteeringMinder() {
    live_minder_leave(generation_);
    for (auto& kv : re_nodes_)
        delete kv.second;
    for (auto& kv : acl_nodes_)
        delete kv.second;
}

Err SteeringMinder::init(Context& /*context*/) {
    static const long long periods[] = {10000, 60000, 2000};
    for (size_t i = 0; i < 3; ++i)
        timers_[i]->start(periods[i], -1);
    steering_policy_init();
    backhaul_->start();
    return Err(0);
}

void SteeringMinder::set_bh_steer_enable(bool on) {
    backhaul_->set_enable(on);
}

bool SteeringMinder::get_bh_steer_enable() const {
    return backhaul_->enable();
}

int SteeringMinder::set_all_devices_5gh_fronthaul_radio_enable(bool enable) {
    fh_5gh_enable_ = enable;
    Context* c = Context::instance();
    if (!c || !c->graph_minder)
        return 0;
    const Graph& g = c->graph_minder->graph();
    int asked = 0;
    for (const auto& kv : g.nodes) {
        if (kv.second->kind() != Node::DEVICE || kv.second == g.root)
            continue;
        // The radio itself is switched by the extender's vendor agent: a radio special
        // configuration request. An agent without one cannot be asked.
        const int rc =
            c->hkt_mgmt_minder
                ? c->hkt_mgmt_minder->send_hkt_wifi_radio_special_cfg_request(
                      kv.second->mac, kRadioCfg5gHighFronthaul, kRadioCfgRadio5g, enable ? 1 : 0)
                : -1;
        OZR_NOTICE(&logger_, "SteeringMinder::{}() {} 5 GHz-high fronthaul of {}: {}", __func__,
                   enable ? "enable" : "disable", kv.second->label(),
                   rc == 0 ? "asked its vendor agent" : "its vendor agent could not be asked");
        if (rc == 0)
            ++asked;
    }
    return asked;
}

void SteeringMinder::run() {
    OZR_INFO(&logger_, "SteeringMinder::{}() running", __func__);
}

Timer* SteeringMinder::find_timer(const std::string& name) const {
    for (const auto& t : timers_)
        if (t->name() == name)
            return t.get();
    if (backhaul_->timer().name() == name)
        return &backhaul_->timer();
    return nullptr;
}

int64_t SteeringMinder::now() const {
    Context* c = Context::instance();
    return c ? c->now() : 0;
}

Graph* SteeringMinder::graph() const {
    Context* c = Context::instance();
    return c && c->graph_minder ? &c->graph_minder->graph() : nullptr;
}

// ---- settings ----------------------------------------------------------------------------

void SteeringMinder::steering_policy_init() {
    // Every setting to its default, except the backhaul and fronthaul switches, the
    // roam-back check time and the category override.
    global_steer = true;
    backoff = true;
    free_roaming = true;
    idle_steer = true;
    load_balance = false;
    rrm_en = true;
    free_roaming_threshold = 10;
    free_roaming_lifetime = 86400;
    btm_disassoc_time = 0;
    min_backoff_time = 120;
    min_steer_interval_c1 = 15;
    min_steer_interval_c2 = 30;
    min_steer_interval_a = 60;
    c1_to_c2_threshold = 3;
    idle_tput_size = 10000;
    btm_assisted = false;
    hkt_steering = true;
    decision_window = true;
    decision_chance = 0.7f;
    decision_window_size = 30;
    ping_pong_hold_ticks = 3;
    sample_floor_rssi = -80;
    bnd_prefer_5g_en = false;
    bnd_prefer_mode = 0;
    bnd_prefer_dis_timer = 10;
    bnd_prefer_entries.clear();
    bsteering = true;
    bsteer_rssi = BsteeringRssiThreshold{};
    rrm_query_interval_ms = 30000;
    ping_pong_check = true;
    ping_pong_offset_cal = 0;
    min_safe_rssi_2g = -45;
    ping_pong_check_5g = false;
    ping_pong_check_2g = true;
    msteering = true;
    msteer_ratio = 50;
    msteer_rssi_2g = -70;
    msteer_rssi_5g = -80;

    char buffer[kPolicyBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    if (nal_getSteeringPolicy(buffer, sizeof buffer) != 0) {
        OZR_ERROR(&logger_, "{}(): nal_getSteeringPolicy failed", "steering_policy_init");
        return;
    }
    buffer[sizeof buffer - 1] = '\0';
    OZR_INFO(&logger_, "{}(): pre-loading steering policy : {} ", "steering_policy_init", buffer);
    if (json_config_)
        json_config_(buffer);
}

int SteeringMinder::set_steering_config_value(const std::string& key, long long v) {
    if (key == "bsteer_rssi_5to2")
        bsteer_rssi.rssi_5to2 = static_cast<int8_t>(v);
    else if (key == "bsteer_rssi_2to5")
        bsteer_rssi.rssi_2to5 = static_cast<int8_t>(v);
    else if (key == "bsteer_en")
        bsteering = v != 0;
    else if (key == "msteer_en")
        msteering = v != 0;
    else if (key == "msteer_ratio")
        msteer_ratio = static_cast<uint8_t>(v);
    else if (key == "min_backoff_t")
        min_backoff_time = static_cast<uint16_t>(v);
    else if (key == "min_steer_interval_c1")
        min_steer_interval_c1 = static_cast<uint16_t>(v);
    else if (key == "min_steer_interval_c2")
        min_steer_interval_c2 = static_cast<uint16_t>(v);
    else if (key == "min_steer_interval_a")
        min_steer_interval_a = static_cast<uint16_t>(v);
    else if (key == "unsteer_cnt_c1_to_c2")
        c1_to_c2_threshold = static_cast<uint16_t>(v);
    else if (key == "no_idle_tput_size")
        idle_tput_size = static_cast<uint32_t>(v);
    else if (key == "bnd_prefer_5g_en")
        bnd_prefer_5g_en = v != 0;
    else if (key == "bnd_prefer_mode")
        bnd_prefer_mode = static_cast<uint32_t>(v);
    else if (key == "bnd_prefer_dis_timer")
        bnd_prefer_dis_timer = static_cast<uint32_t>(v);
    else if (key == "btm_assisted")
        btm_assisted = v != 0;
    else if (key == "rrm_en")
        rrm_en = v != 0;
    else
        return -1;
    return 0;
}

int SteeringMinder::set_bnd_prefer_entries(const std::vector<MAC>& entries) {
    bnd_prefer_entries.clear();
    for (const MAC& m : entries)
        bnd_prefer_entries.push_back(WiFiBandPreference{m});
    return 0;
}

std::vector<std::pair<std::string, std::string>> SteeringMinder::settings_by_rest_key() const {
    auto b = [](bool v) { return std::string(v ? "true" : "false"); };
    auto n = [](long long v) { return std::to_string(v); };
    return {
        {"global", b(global_steer)},
        {"back-off", b(backoff)},
        {"free-roaming", b(free_roaming)},
        {"no-idle-steering", b(idle_steer)},
        {"load-balance", b(load_balance)},
        {"free-roaming-threshold", n(free_roaming_threshold)},
        {"free-roaming-lifetime", n(free_roaming_lifetime)},
        {"roam-back-check-time", n(roam_back_check_time)},
        {"btm-disassociated-time", n(btm_disassoc_time)},
        {"min-backoff-time", n(min_backoff_time)},
        {"min-steer-interval-c1", n(min_steer_interval_c1)},
        {"min-steer-interval-c2", n(min_steer_interval_c2)},
        {"min-steer-interval-a", n(min_steer_interval_a)},
        {"c1-to-c2-threshold", n(c1_to_c2_threshold)},
        {"no-idle-tput-size", n(idle_tput_size)},
        {"assisted-for-btm-client", b(btm_assisted)},
        {"decision-window", b(decision_window)},
        {"decision-window-chance", fmt::format("{}", decision_chance)},
        {"decision-window-size", n(decision_window_size)},
        {"bsteering", b(bsteering)},
        {"5to24-dbm", n(bsteer_rssi.rssi_5to2)},
        {"24to5-dbm", n(bsteer_rssi.rssi_2to5)},
        {"dancing", b(ping_pong_check)},
        {"min-safe-rssi-2g", n(min_safe_rssi_2g)},
        {"ping-pong-check-5to24", b(ping_pong_check_5g)},
        {"ping-pong-check-24to5", b(ping_pong_check_2g)},
        {"msteering", b(msteering)},
        {"ratio", n(msteer_ratio)},
        {"triggering-rssi-2g", n(msteer_rssi_2g)},
        {"triggering-rssi-5g", n(msteer_rssi_5g)},
    };
}

// ---- records -----------------------------------------------------------------------------

SteeringMinder::SteeringReNode* SteeringMinder::access_steer_re_node(const MAC& sta) {
    auto it = re_nodes_.find(sta);
    return it == re_nodes_.end() ? nullptr : it->second;
}

SteeringMinder::SteeringReNode* SteeringMinder::apply_steer_re_node(const MAC& sta) {
    if (SteeringReNode* n = access_steer_re_node(sta))
        return n;
    if (sta.is_zero())
        return nullptr;
    auto* n = new SteeringReNode;
    n->mac = sta;
    n->created_ms = n->last_active_ms = static_cast<uint64_t>(now());
    re_nodes_.emplace(sta, n);
    re_list_.push_back(n);
    // What the client database remembers about the client (its bands).
    if (data_peer_)
        n->band_capability = data_peer_->client_band_capability(sta);
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {} band capability {}", __func__,
              sta.to_string(), n->band_capability);
    return n;
}

SteeringMinder::AccessControlNode* SteeringMinder::access_acl_re_node(const MAC& sta) {
    auto it = acl_nodes_.find(sta);
    return it == acl_nodes_.end() ? nullptr : it->second;
}

SteeringMinder::AccessControlNode* SteeringMinder::apply_acl_re_node(const MAC& sta) {
    if (AccessControlNode* n = access_acl_re_node(sta))
        return n;
    auto* n = new AccessControlNode;
    n->mac = sta;
    n->last_active_ms = static_cast<uint64_t>(now());
    acl_nodes_.emplace(sta, n);
    return n;
}

void SteeringMinder::notify_backhaul_steering_response(const BackhaulSteeringResponseMesg& r) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() bsta MAC: {} result {}", __func__,
              r.backhaul_sta.to_string(), r.result_code);
    backhaul_->on_backhaul_steering_response(r);
}
