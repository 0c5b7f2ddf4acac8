#include "graph/sta.h"

#include "core/log.h"
#include "graph/device.h"
#include "graph/graph.h"

void Sta::update_backhaul_sta(bool is_bsta, const MAC& owner) {
    is_backhaul_sta = is_bsta;
    owner_device = is_bsta ? owner : MAC::zero;
}

Device* Sta::get_working_device() const {
    const Graph* g = graph();
    return g ? g->serving_device(*this) : nullptr;
}

void Sta::describe(Logger& log, const Graph& graph) const {
    const Device* d = graph.nodes.empty() ? nullptr : get_working_device();
    OZR_DEBUG(&log, "Sta {} first seen {} last seen {} {} owner {} served by {}", label(),
              first_seen_ms, last_seen_ms, is_backhaul_sta ? "backhaul STA" : "client",
              owner_device.to_string(), d ? d->label() : std::string("-"));
    OZR_DEBUG(&log, "  channels: {} steer category: {} btm {} rrm {}",
              capabilities.channels_string(), steer_cat_to_str(capabilities.steer_category),
              capabilities.capable_bss_transition, capabilities.capable_radio_measurement);
}
