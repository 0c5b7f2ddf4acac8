// Topology intervals, the metric reporting policy, the mobile-app-only mode, and the
// periodic work that keeps every agent's Policy Config Request up to date.
#include <vector>

#include "configuration/configuration_minder.h"
#include "core/context.h"
#include "core/log.h"
#include "data/ap_config_db.h"
#include "data/data_minder.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "map/map_send.h"
#include "nal/ics.h"
#include "steering/steering_minder.h"

void ozr_cfg::map_policy_config_t::words(uint32_t out[4]) const {
    out[0] = static_cast<uint32_t>(metrics_report_interval) |
             static_cast<uint32_t>(static_cast<uint8_t>(sta_metrics_rssi_threshold_dbm)) << 8 |
             static_cast<uint32_t>(sta_metrics_rssi_hysteresis_margin) << 16 |
             static_cast<uint32_t>(ap_metrics_channel_utilization_threshold) << 24;
    out[1] = static_cast<uint32_t>(sta_link_sta_traffic_stats) |
             static_cast<uint32_t>(report_unsuccessful_association_attempts & 1U) << 8;
    out[2] = maximum_reporting_rate;
    out[3] = reserved;
}

namespace {

int apply_interval(const Logger* log, const char* func, const char* what, uint16_t seconds,
                   int (*setter)(int16_t), uint16_t* slot) {
    OZR_INFO(log, "{} {}={}", func, what, seconds);
    if (setter(static_cast<int16_t>(seconds)) != 0) {
        OZR_ERROR(log, "{}:{} - failed", func, __LINE__);
        return -1;
    }
    *slot = seconds;
    return 0;
}

// Every agent of the stack's tree (the controller's own node, the root, excepted).
std::vector<map_ale_info_t*> agents() {
    std::vector<map_ale_info_t*> out;
    map_ale_info_t* root = get_root_ale_node();
    const int height = map_get_topology_tree_height();
    for (int depth = 1; root != nullptr && depth <= height; ++depth) {
        array_list_t* list = ktree_elements_at_depth(root, depth);
        if (list == nullptr)
            continue;
        while (void* obj = pop_object(list))
            out.push_back(static_cast<map_ale_info_t*>(obj));
        delete_array_list(list);
    }
    return out;
}

}  // namespace

int ConfigurationMinder::set_topology_discovery_interval_configuration(uint16_t seconds) {
    return apply_interval(&logger_, __func__, "topology_discovery_interval", seconds,
                          set_topology_discovery_interval, &topology_discovery_interval_);
}

int ConfigurationMinder::set_topology_query_interval_configuration(uint16_t seconds) {
    return apply_interval(&logger_, __func__, "topology_query_interval", seconds,
                          set_topology_query_interval, &topology_query_interval_);
}

int ConfigurationMinder::set_link_metric_query_interval_configuration(uint16_t seconds) {
    return apply_interval(&logger_, __func__, "link_metric_query_interval", seconds,
                          set_link_metric_query_interval, &link_metric_query_interval_);
}

int ConfigurationMinder::set_policy_configuration(const ozr_cfg::map_policy_config_t* policy) {
    if (policy == nullptr) {
        OZR_ERROR(&logger_, "{}:{} - Input is Null", __func__, __LINE__);
        return -1;
    }
    OZR_INFO(&logger_,
             "{} metrics_report_interval={}, sta_metrics_rssi_threshold_dbm={}, "
             "sta_metrics_rssi_hysteresis_margin={},ap_metrics_channel_utilization_threshold_dbm={}"
             ", sta_link_sta_traffic_stats={}, report_unsuccessful_association_attempts={}, "
             "maximum_reporting_rate={}",
             __func__, policy->metrics_report_interval, policy->sta_metrics_rssi_threshold_dbm,
             policy->sta_metrics_rssi_hysteresis_margin,
             policy->ap_metrics_channel_utilization_threshold, policy->sta_link_sta_traffic_stats,
             policy->report_unsuccessful_association_attempts, policy->maximum_reporting_rate);
    uint32_t w[4];
    policy->words(w);
    const int rc = platform_set_policy_cfg(w[0], w[1], w[2], w[3]);
    if (rc == 0)
        policy_changed();
    return rc;
}

int ConfigurationMinder::reset_controller_topo_configuration() {
    Context* c = Context::instance();
    CtlrTopoCfg topo;
    if (c == nullptr || c->data_minder == nullptr ||
        !c->data_minder->cfg_db().db_get_controller_topo_cfg(topo)) {
        OZR_ERROR(&logger_, "{}:{} - failed", __func__, __LINE__);
        return -1;
    }
    set_topology_discovery_interval_configuration(
        static_cast<uint16_t>(topo.al_entity_topology_discovery_interval));
    set_topology_query_interval_configuration(
        static_cast<uint16_t>(topo.map_controller_topology_query_interval));
    set_link_metric_query_interval_configuration(
        static_cast<uint16_t>(topo.map_controller_link_metric_query_interval));
    return 0;
}

int ConfigurationMinder::reset_policy_configuration() {
    Context* c = Context::instance();
    MetricPolCfg stored;
    if (c == nullptr || c->data_minder == nullptr ||
        !c->data_minder->cfg_db().db_get_map_policy_cfg(stored)) {
        OZR_ERROR(&logger_, "{}:{} - failed", __func__, __LINE__);
        return -1;
    }
    ozr_cfg::map_policy_config_t p;
    p.metrics_report_interval = static_cast<uint8_t>(stored.metrics_report_interval);
    p.sta_metrics_rssi_threshold_dbm = static_cast<int8_t>(stored.sta_metrics_rssi_threshold_dbm);
    p.sta_metrics_rssi_hysteresis_margin =
        static_cast<uint8_t>(stored.sta_metrics_rssi_hysteresis_margin);
    p.ap_metrics_channel_utilization_threshold =
        static_cast<uint8_t>(stored.ap_metrics_channel_utilization_threshold);
    p.sta_link_sta_traffic_stats = static_cast<uint8_t>(stored.sta_link_sta_traffic_stats);
    p.report_unsuccessful_association_attempts = 1;
    return set_policy_configuration(&p);
}

int ConfigurationMinder::set_mesh_for_mobile_app_only(bool only) {
    OZR_INFO(&logger_, "{} got invoked", __func__);
    Context* c = Context::instance();
    if (!only || c == nullptr || c->steering_minder == nullptr)
        return 0;
    OZR_NOTICE(&logger_, "{} Mesh MAPP only. Disable backhaul/fronthaul steering/mgmt feature.",
               __func__);
    mobile_app_only_ = true;
    c->steering_minder->set_bh_steer_enable(false);
    c->steering_minder->set_fh_mgmt_enable(false);
    return 0;
}

// ---- the periodic work ---------------------------------------------------------------------

void ConfigurationMinder::policy_changed() {
    ++policy_generation_;
    push_policy_config();
}

uint32_t ConfigurationMinder::policy_generation_of(const MAC& al_mac) const {
    auto it = policy_sent_.find(al_mac);
    return it == policy_sent_.end() ? 0 : it->second.generation;
}

void ConfigurationMinder::push_policy_config() {
    auto& sent = policy_sent_;
    // Agents that left the stack's model are forgotten (they start over when they return).
    for (auto it = sent.begin(); it != sent.end();)
        it = get_ale(it->first) == nullptr ? sent.erase(it) : std::next(it);
    for (map_ale_info_t* ale : agents()) {
        auto it = sent.find(ale->al_mac);
        if (it != sent.end() && it->second.generation == policy_generation_ &&
            it->second.radios == ale->num_radios)
            continue;
        const MAC al = ale->al_mac;
        const uint8_t radios = ale->num_radios;
        const int rc = map_send_stored_policy_config(al);
        if (rc == MAP_SEND_BAD_ARGUMENT)
            return;  // nothing configured yet
        if (rc != MAP_SEND_OK) {
            OZR_WARN(&logger_, "{} Policy Config Request to {} not sent ({})", __func__,
                     al.to_string(), rc);
            continue;
        }
        OZR_INFO(&logger_, "{} Policy Config Request to {} ({} radio(s), configuration {})",
                 __func__, al.to_string(), radios, policy_generation_);
        PolicySent& e = sent[al];
        e.generation = policy_generation_;
        e.radios = radios;
    }
}

void ConfigurationMinder::on_ap_capability_report(const MAC& al_mac) {
    if (get_ale(al_mac) == nullptr)
        return;
    PolicySent& e = policy_sent_[al_mac];
    if (e.caps_seen)
        return;
    e.caps_seen = true;
    e.generation = 0;  // out of date
    push_policy_config();
}

void ConfigurationMinder::on_config_timer() {
    // The channel service follows every radio of the mesh.
    for (map_ale_info_t* ale : agents())
        for (uint8_t i = 0; i < ale->num_radios && i < MAP_MAX_RADIOS_PER_AGENT; ++i)
            if (ale->radios[i] != nullptr && ale->radios[i]->chan_sel_handle == nullptr)
                ics_attach_radio(ale->radios[i]);
    push_policy_config();
}
