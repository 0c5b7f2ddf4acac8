#include "steering/steering_minder.h"

#include "core/context.h"
#include "core/log.h"
#include "graph/device.h"
#include "graph/graph_minder.h"
#include "messages/messages.h"
#include "nal/nal.h"
#include "steering/backhaul_steering.h"

SteeringMinder::SteeringMinder(uv_loop_s* loop)
    : logger_(root_logger, "steering", "", -1),
      loop_(loop),
      backhaul_(new BackhaulSteering(loop, &logger_)) {
    int level = find_config_log_level("root.steering");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

SteeringMinder::~SteeringMinder() = default;

Err SteeringMinder::init(Context& /*context*/) {
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
        // The radio itself is switched by the extender's vendor agent.
        OZR_NOTICE(&logger_, "SteeringMinder::{}() {} 5 GHz-high fronthaul of {}", __func__,
                   enable ? "enable" : "disable", kv.second->label());
        ++asked;
    }
    return asked;
}

void SteeringMinder::run() {
    OZR_INFO(&logger_, "SteeringMinder::{}() running", __func__);
}

void SteeringMinder::notify_new_link(const Link* link) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() to MAC: {}", __func__,
              link ? link->to.to_string() : std::string("-"));
}

void SteeringMinder::notify_new_wireless_link(const WirelessLink* link) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() to MAC: {}", __func__,
              link ? link->to.to_string() : std::string("-"));
}

void SteeringMinder::notify_pre_delete_link(const MAC& sta) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {}", __func__, sta.to_string());
}

void SteeringMinder::notify_link_metric_changed(const Device* device, const MAC& sta) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() device {} sta MAC: {}", __func__,
              device ? device->mac.to_string() : std::string("-"), sta.to_string());
}

void SteeringMinder::ping_pong_check_by_new_reassoc_process(const WirelessLink* link) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {}", __func__,
              link ? link->to.to_string() : std::string("-"));
}

void SteeringMinder::ping_pong_check_by_unassoc_process(const UnassociatedLink* link) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {}", __func__,
              link ? link->to.to_string() : std::string("-"));
}

void SteeringMinder::notify_sta_bnd_cap_changed(const MAC& sta) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {}", __func__, sta.to_string());
}

void SteeringMinder::notify_failed_connection_report(const FailedConnectionMesg& report) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {}", __func__, report.sta.to_string());
}

void SteeringMinder::notify_dot11_btm_query(const MAC& sta, uint8_t dialog_token, uint8_t reason) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {} token {} reason {}", __func__,
              sta.to_string(), dialog_token, reason);
}

void SteeringMinder::notify_backhaul_steering_response(const BackhaulSteeringResponseMesg& r) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() bsta MAC: {} result {}", __func__,
              r.backhaul_sta.to_string(), r.result_code);
    backhaul_->on_backhaul_steering_response(r);
}

void SteeringMinder::apply_steer_re_node(const MAC& sta) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {}", __func__, sta.to_string());
}

void SteeringMinder::access_steer_re_node(const MAC& sta) {
    OZR_DEBUG(&logger_, "SteeringMinder::{}() sta MAC: {}", __func__, sta.to_string());
}
