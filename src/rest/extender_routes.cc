// The REST routes of the extender database and its removal settings:
//   GET  /debug/configdb     the AP configuration database document
//   PUT  /debug/configdb     the metric policy and controller topology blocks
//   GET|POST /debug/ap_remove   {"wait_time": ms >= 0}: the wait before a removed
//                               extender is removed again (after its factory reset)
//   GET|POST /debug/port_state  {"block_time": s > 0}
// A GET without a body answers the current value; a body sets it.
#include <fmt/format.h>
#include <http_parser.h>

#include <cstdint>
#include <limits>

#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "rest/http_server.h"
#include "rest/setter.h"

namespace {

using Value = rapidjson::Value;

DataMinder* data_minder_or_503(Context& ctx, HttpResponse& resp) {
    if (ctx.data_minder)
        return ctx.data_minder;
    rest_unavailable(resp, root_logger, "Cannot find data minder");
    return nullptr;
}

int on_get_configdb(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    DataMinder* dm = data_minder_or_503(ctx, resp);
    if (!dm)
        return 0;
    dm->cfg_db().db_build_json(resp.document);
    resp.status = 200;
    return 0;
}

// Reads the members of BLOCK named in KEYS into the fields of OUT; the first problem is
// answered with 400 and false.
template <typename T>
bool read_block(const Value& block, const char* name, const char* const* keys, size_t count,
                T* const* fields, int64_t lo, int64_t hi, HttpResponse& resp, const Logger* log) {
    if (!block.IsObject()) {
        rest_reject(resp, log, fmt::format("Invalid request. {} must be an object", name));
        return false;
    }
    for (const auto& m : block.GetObject()) {
        const std::string key(m.name.GetString(), m.name.GetStringLength());
        size_t i = 0;
        while (i < count && key != keys[i])
            ++i;
        if (i == count) {
            rest_reject(resp, log,
                        fmt::format("Invalid request. Unknown attribute: {}", rest_printable(key)));
            return false;
        }
        if (!m.value.IsInt64() || m.value.GetInt64() < lo || m.value.GetInt64() > hi) {
            rest_reject(
                resp, log,
                fmt::format("Invalid request. {} must be an integer from {} to {}", key, lo, hi));
            return false;
        }
        *fields[i] = static_cast<T>(m.value.GetInt64());
    }
    return true;
}

// Body: {"metric-policy-configuration": {...}, "controller-topology-configuration": {...}},
// either block or both, each with any of its keys; the others keep their values. Nothing is
// changed unless the whole body is valid.
int on_put_configdb(Context& ctx, ClientContext& client, const HttpRequest& req,
                    HttpResponse& resp) {
    DataMinder* dm = data_minder_or_503(ctx, resp);
    if (!dm)
        return 0;
    const Logger* log = dm->logger();
    if (!req.body.IsObject() || req.body.ObjectEmpty()) {
        OZR_ERROR(log, "Parse Error: Invalid request body: {}", rest_printable(client.get_body()));
        return rest_reject(resp, log, "Invalid request body");
    }
    ApConfigDb& db = dm->cfg_db();
    MetricPolCfg pol;
    CtlrTopoCfg topo;
    db.db_get_map_policy_cfg(pol);
    db.db_get_controller_topo_cfg(topo);
    int32_t* pol_fields[5] = {&pol.metrics_report_interval, &pol.sta_metrics_rssi_threshold_dbm,
                              &pol.sta_metrics_rssi_hysteresis_margin,
                              &pol.ap_metrics_channel_utilization_threshold,
                              &pol.sta_link_sta_traffic_stats};
    uint32_t* topo_fields[4] = {&topo.al_entity_topology_discovery_interval,
                                &topo.map_controller_topology_query_interval,
                                &topo.map_controller_link_metric_query_interval,
                                &topo.map_controller_dead_agent_detection_interval};
    for (const auto& m : req.body.GetObject()) {
        const std::string key(m.name.GetString(), m.name.GetStringLength());
        if (key == "metric-policy-configuration") {
            if (!read_block(m.value, "metric-policy-configuration", kMetricPolicyKeys, 5,
                            pol_fields, std::numeric_limits<int32_t>::min(),
                            std::numeric_limits<int32_t>::max(), resp, log))
                return 0;
        } else if (key == "controller-topology-configuration") {
            // Non-negative and within the signed 32-bit range the database reads back.
            if (!read_block(m.value, "controller-topology-configuration", kControllerTopologyKeys,
                            4, topo_fields, 0, std::numeric_limits<int32_t>::max(), resp, log))
                return 0;
        } else if (key == "ap-white-list") {
            return rest_reject(resp, log,
                               "Invalid request. The white list changes only through admission "
                               "and removal");
        } else {
            return rest_reject(
                resp, log,
                fmt::format("Invalid request. Unknown attribute: {}", rest_printable(key)));
        }
    }
    if (!db.db_update_cfg_blocks(pol, topo)) {
        set_json_error(resp, 500,
                       "The database could not be written; the change is kept in memory");
        return 0;
    }
    return rest_accepted(resp);
}

// GET without a body: {KEY: value}. Otherwise the setter: KEY an integer from LO to HI.
bool value_route(const ClientContext& client, const HttpRequest& req, HttpResponse& resp,
                 const char* key, int64_t current, int64_t lo, const char* low_message,
                 int64_t& value, const Logger* log) {
    if (req.method == HTTP_GET && req.body.IsNull()) {
        resp.document.SetObject();
        resp.document.AddMember(rapidjson::StringRef(key), current, resp.document.GetAllocator());
        resp.status = 200;
        return false;
    }
    if (!rest_body_int64(client, req, resp, key, value, log))
        return false;
    if (value < lo) {
        rest_reject(resp, log, low_message);
        return false;
    }
    if (value > std::numeric_limits<uint32_t>::max()) {
        rest_reject(resp, log, fmt::format("{} must be at most 4294967295", key));
        return false;
    }
    return true;
}

int on_post_ap_remove_wait_time(Context& ctx, ClientContext& client, const HttpRequest& req,
                                HttpResponse& resp) {
    DataMinder* dm = data_minder_or_503(ctx, resp);
    if (!dm)
        return 0;
    int64_t v = 0;
    if (!value_route(client, req, resp, "wait_time", dm->get_ap_remove_wait_time(), 0,
                     "wait time <  0", v, dm->logger()))
        return 0;
    dm->set_ap_remove_wait_time(static_cast<unsigned>(v));
    return rest_accepted(resp);
}

int on_put_port_block_time(Context& ctx, ClientContext& client, const HttpRequest& req,
                           HttpResponse& resp) {
    DataMinder* dm = data_minder_or_503(ctx, resp);
    if (!dm)
        return 0;
    int64_t v = 0;
    if (!value_route(client, req, resp, "block_time", dm->get_port_block_time(), 1,
                     "block time need  > 0", v, dm->logger()))
        return 0;
    dm->set_port_block_time(static_cast<unsigned>(v));
    return rest_accepted(resp);
}

}  // namespace

void rest_extender_routes_linked() {}

OZR_REST_ROUTE(REST_GET, "/debug/configdb", on_get_configdb);
OZR_REST_ROUTE(REST_PUT, "/debug/configdb", on_put_configdb);
OZR_REST_ROUTE(REST_GET | REST_POST, "/debug/ap_remove", on_post_ap_remove_wait_time);
OZR_REST_ROUTE(REST_GET | REST_POST, "/debug/port_state", on_put_port_block_time);
