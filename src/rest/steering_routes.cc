// The REST routes of steering. Every setter route answers GET without a body with
// {KEY: current value}; a body sets the value through the data minder (200, no body), a
// bad one is answered 400 with the reason.
//
//   GET|POST /debug/steering                 "policys" (every setting by REST key),
//                                            "clients" (per-client state), "totals"
//   GET|POST /debug/global_steer_state       {"global_steer": bool}
//   GET|POST /debug/single_ap_steer_state    {"single_ap_steer": bool}   band steering
//   GET|POST /debug/multi_ap_steer_state     {"multi_ap_steer": bool}    mesh steering
//   GET|POST /debug/backoff_state            {"backoff": bool}
//   GET|POST /debug/free_roaming_state       {"free_roaming": bool}
//   GET|POST /debug/idle_steer_state         {"idle_steer": bool}
//   GET|POST /debug/ping_pong                {"state": bool}
//   GET|POST /debug/ping_pong_check_5g       {"state": bool}
//   GET|POST /debug/ping_pong_check_2g       {"state": bool}
//   GET|POST /debug/hkt_steering             {"state": bool}
//   GET|POST /debug/rssi_threshold_dbm       {"5to24-dbm": -1..-123, "24to5-dbm": -1..-123}
//   GET|POST /debug/roaming_margin           {"roaming_margin": number > 1.0, at most 3.55}
//   GET|POST /debug/idle_threshold           {"threshold": 0..65535} bytes per second
//   GET|POST /debug/btm_disassoc_timer       {"value": >= 0} (low 16 bits kept)
//   GET|POST /debug/free_roaming_time        {"time_min": >= 1}
//   GET|POST /debug/free_roaming_threshold   {"threshold": 1..65535}
//   GET|POST /debug/ping_pong_offset_cal     {"value": -128..127}
//   GET|POST /debug/bsteer_decision_window   {"time": >= 0} (low 16 bits kept)
//   GET|POST /debug/bsteer_decision_chance   {"chance": 0.0..1.0}
//   GET|POST /debug/roaming_back_check       {"time": >= 0} seconds
//   GET|POST /debug/min_safe_rssi_2g         {"rssi": -1..-123}
//   GET|POST /debug/steering_cat             {"category": 0..4} (0: no override)
//   GET|POST /debug/msteer_5g_rssi           {"rssi": -1..-123}
//   GET|POST /debug/steer_sys_reset          defaults and the platform policy again
//   PUT      /1/admin-blacklist              {"entries": [{"mac": "..", "medium": "2.4" |
//                                            "5" | "all", "remove": bool}]}
//   GET      /1/admin-blacklist              the blocks in force
#include <fmt/format.h>
#include <http_parser.h>

#include <cmath>
#include <functional>

#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "graph/graph.h"
#include "graph/graph_minder.h"
#include "rest/dispatch.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"
#include "rest/setter.h"
#include "steering/steering_minder.h"

void steering_routes_linked() {}

namespace {

using Value = rapidjson::Value;

struct Minders {
    DataMinder* dm;
    SteeringMinder* sm;
};

bool minders(Context& ctx, HttpResponse& resp, Minders& out) {
    out.dm = ctx.data_minder;
    out.sm = ctx.steering_minder;
    if (!out.dm) {
        rest_unavailable(resp, root_logger, "Cannot find data minder");
        return false;
    }
    if (!out.sm) {
        rest_unavailable(resp, root_logger, "Cannot find steering minder");
        return false;
    }
    return true;
}

bool is_read(const HttpRequest& req) {
    return req.method == HTTP_GET && req.body.IsNull();
}

int answer_current(HttpResponse& resp, const char* key, Value v) {
    resp.document.SetObject();
    resp.document.AddMember(rapidjson::StringRef(key), v, resp.document.GetAllocator());
    resp.status = 200;
    return 0;
}

// A route for one bool setting.
RestHandler bool_route(const char* key, std::function<bool(const SteeringMinder&)> get,
                       std::function<void(DataMinder&, bool)> set) {
    return [key, get, set](Context& ctx, ClientContext& client, const HttpRequest& req,
                           HttpResponse& resp) {
        Minders m;
        if (!minders(ctx, resp, m))
            return 0;
        if (is_read(req))
            return answer_current(resp, key, Value(get(*m.sm)));
        bool v = false;
        if (!rest_body_bool(client, req, resp, key, v, m.sm->logger()))
            return 0;
        set(*m.dm, v);
        return rest_accepted(resp);
    };
}

// A route for one integer setting from LO to HI (MESSAGE otherwise; ABOVE, when given,
// for a value above HI).
RestHandler int_route(const char* key, int64_t lo, int64_t hi, std::string message,
                      std::function<int64_t(const SteeringMinder&)> get,
                      std::function<void(DataMinder&, int64_t)> set, std::string above = "") {
    return [=](Context& ctx, ClientContext& client, const HttpRequest& req, HttpResponse& resp) {
        Minders m;
        if (!minders(ctx, resp, m))
            return 0;
        if (is_read(req))
            return answer_current(resp, key, Value(static_cast<int64_t>(get(*m.sm))));
        int64_t v = 0;
        if (!rest_body_int64(client, req, resp, key, v, m.sm->logger()))
            return 0;
        if (v < lo || v > hi)
            return rest_reject(resp, m.sm->logger(), v > hi && !above.empty() ? above : message);
        set(*m.dm, v);
        return rest_accepted(resp);
    };
}

// A route for one number setting that OK accepts (MESSAGE otherwise).
RestHandler double_route(const char* key, std::function<bool(double)> ok, std::string message,
                         std::function<double(const SteeringMinder&)> get,
                         std::function<void(DataMinder&, double)> set) {
    return [=](Context& ctx, ClientContext& client, const HttpRequest& req, HttpResponse& resp) {
        Minders m;
        if (!minders(ctx, resp, m))
            return 0;
        if (is_read(req))
            return answer_current(resp, key, Value(get(*m.sm)));
        double v = 0;
        if (!rest_body_double(client, req, resp, key, v, m.sm->logger()))
            return 0;
        if (!ok(v))
            return rest_reject(resp, m.sm->logger(), message);
        set(*m.dm, v);
        return rest_accepted(resp);
    };
}

const char* kRssiRange = "field must be a negative integer between -1 and -123";

int on_put_rssi_threshold(Context& ctx, ClientContext& client, const HttpRequest& req,
                          HttpResponse& resp) {
    Minders m;
    if (!minders(ctx, resp, m))
        return 0;
    if (is_read(req)) {
        resp.document.SetObject();
        JSONObjectRenderer(resp.document)
            .add_int("5to24-dbm", m.sm->bsteer_rssi.rssi_5to2)
            .add_int("24to5-dbm", m.sm->bsteer_rssi.rssi_2to5);
        resp.status = 200;
        return 0;
    }
    int64_t a = 0, b = 0;
    if (!rest_body_int64(client, req, resp, "5to24-dbm", a, m.sm->logger()))
        return 0;
    if (a > -1 || a < -123)
        return rest_reject(resp, m.sm->logger(), fmt::format("5to24-threshold-dbm {}", kRssiRange));
    if (!rest_body_int64(client, req, resp, "24to5-dbm", b, m.sm->logger()))
        return 0;
    if (b > -1 || b < -123)
        return rest_reject(resp, m.sm->logger(), fmt::format("24to5-threshold-dbm {}", kRssiRange));
    BsteeringRssiThreshold t{static_cast<int8_t>(a), static_cast<int8_t>(b)};
    m.dm->set_rssi_threshold(t);
    return rest_accepted(resp);
}

int on_steer_sys_reset(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    Minders m;
    if (!minders(ctx, resp, m))
        return 0;
    m.dm->steering_system_reset();
    return rest_accepted(resp);
}

void render_client(const SteeringMinder& sm, const Graph* g,
                   const SteeringMinder::SteeringReNode& n, Value& out,
                   rapidjson::Document::AllocatorType& a, int64_t now) {
    JSONObjectRenderer r(out, a);
    r.add_mac("mac", n.mac);
    const Sta* sta = g ? g->find_sta(n.mac) : nullptr;
    const Device* dev = sta ? sta->get_working_device() : nullptr;
    const WirelessLink* link = dev ? dev->find_wireless_link(n.mac) : nullptr;
    if (link) {
        r.add_bssid("bssid", link->bssid);
        r.add_string("medium", medium_to_string(link->medium));
        r.add_int("rssi", link->rcpi <= 218 ? (static_cast<int>(link->rcpi) - 220) / 2 : 0);
    } else {
        r.add_null("bssid");
    }
    r.add_string("category", sta ? sta_category_to_string(sm.client_category(*sta, n))
                                 : std::string("INVALID"));
    r.add_int("band-capability", n.band_capability);
    r.add_int("band-preference", n.band_preference);
    r.add_int("preference-state", n.preference_state);
    r.add_bool("window-open", n.window_state == 2);
    r.add_uint("window-samples", static_cast<unsigned>(n.rssi_samples.size()));
    r.add_float("steer-probability", n.steer_probability);
    r.add_uint("steers", n.steers);
    r.add_int64("last-steer-age-ms",
                n.last_steer_ms ? now - static_cast<int64_t>(n.last_steer_ms) : -1);
    r.add_bssid("last-steer-bssid", n.last_steer_bssid);
    r.add_bool("steered", n.steered);
    r.add_int("reject-count", n.reject_count);
    r.add_uint("backoff-counter", n.backoff_counter);
    r.add_bool("ping-pong-hold", n.ping_pong_hold);
    r.add_int("ping-pong-ticks", n.ping_pong_ticks);
    r.add_uint("btm-accept", n.accept);
    r.add_uint("btm-reject", n.reject);
    r.add_int("btm-last-status", n.btm_ms ? n.btm_status : -1);
}

int on_debug_steering(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    Minders m;
    if (!minders(ctx, resp, m))
        return 0;
    const SteeringMinder& sm = *m.sm;
    resp.document.SetObject();
    auto& a = resp.document.GetAllocator();
    Value pol(rapidjson::kObjectType);
    for (const auto& kv : sm.settings_by_rest_key()) {
        rapidjson::Document v;
        v.Parse(kv.second.c_str());
        Value key(kv.first.c_str(), a);
        Value val;
        val.CopyFrom(v, a);
        pol.AddMember(key, val, a);
    }
    Value clients(rapidjson::kArrayType);
    const Graph* g = ctx.graph_minder ? &ctx.graph_minder->graph() : nullptr;
    const int64_t now = ctx.now();
    for (const auto* n : sm.steer_re_nodes()) {
        Value c(rapidjson::kObjectType);
        render_client(sm, g, *n, c, a, now);
        clients.PushBack(c, a);
    }
    Value totals(rapidjson::kObjectType);
    JSONObjectRenderer(totals, a)
        .add_uint64("steer-requests", sm.steer_requests_sent())
        .add_uint64("btm-accept", sm.btm_accept_total())
        .add_uint64("btm-reject", sm.btm_reject_total())
        .add_uint64("ticks", sm.ticks_run());
    JSONObjectRenderer(resp.document)
        .add_value("policys", pol)
        .add_value("clients", clients)
        .add_value("totals", totals);
    resp.status = 200;
    return 0;
}

// ---- the administrator's access-control list ----------------------------------------------

int on_get_admin_blacklist(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    Minders m;
    if (!minders(ctx, resp, m))
        return 0;
    const SteeringMinder& sm = *m.sm;
    resp.document.SetObject();
    auto& a = resp.document.GetAllocator();
    const int64_t now = ctx.now();
    Value entries(rapidjson::kArrayType);
    for (const auto& kv : sm.admin_blacklist()) {
        Value e(rapidjson::kObjectType);
        JSONObjectRenderer(e, a)
            .add_mac("mac", kv.first)
            .add_string("medium", kv.second == 3   ? "all"
                                  : kv.second == 1 ? "2.4"
                                                   : "5");
        entries.PushBack(e, a);
    }
    Value blocks(rapidjson::kArrayType);
    for (const auto& kv : sm.acl_nodes()) {
        for (const auto& b : kv.second->blocks) {
            if (b.until_ms <= static_cast<uint64_t>(now))
                continue;
            Value e(rapidjson::kObjectType);
            JSONObjectRenderer(e, a)
                .add_mac("mac", kv.first)
                .add_bssid("bssid", b.bssid)
                .add_mac("al-mac", b.agent)
                .add_bool("admin", b.admin)
                .add_int64("seconds-left", (static_cast<int64_t>(b.until_ms) - now) / 1000);
            blocks.PushBack(e, a);
        }
    }
    JSONObjectRenderer(resp.document).add_value("entries", entries).add_value("blocks", blocks);
    resp.status = 200;
    return 0;
}

int on_put_admin_blacklist(Context& ctx, ClientContext& client, const HttpRequest& req,
                           HttpResponse& resp) {
    Minders m;
    if (!minders(ctx, resp, m))
        return 0;
    const Logger* log = m.sm->logger();
    const std::string body = rest_printable(client.get_body(), 256);
    if (req.body.IsNull())
        return rest_reject(resp, log, fmt::format("Invalid request. No data. Req: {}", body));
    auto it = req.body.IsObject() ? req.body.FindMember("entries") : req.body.MemberEnd();
    if (!req.body.IsObject() || it == req.body.MemberEnd() || !it->value.IsArray() ||
        it->value.Size() > 255)
        return rest_reject(resp, log,
                           fmt::format("Invalid request. Missing/Invalid data. Req: {}", body));
    struct Op {
        MAC mac;
        unsigned mask;
        bool remove;
    };
    std::vector<Op> ops;
    for (const auto& e : it->value.GetArray()) {
        if (!e.IsObject())
            return rest_reject(resp, log,
                               fmt::format("Invalid request. Missing/Invalid data. Req: {}", body));
        Op op{MAC(), 3u, false};
        bool have_mac = false;
        for (const auto& mem : e.GetObject()) {
            std::string name(mem.name.GetString(), mem.name.GetStringLength());
            if (name == "mac") {
                if (!mem.value.IsString())
                    return rest_reject(resp, log,
                                       fmt::format("Invalid request. Unexpected attribute type: "
                                                   "{}. Req: {}",
                                                   name, body));
                std::string t(mem.value.GetString(), mem.value.GetStringLength());
                if (!MAC::parse(t, op.mac) || op.mac.is_zero())
                    return rest_reject(resp, log,
                                       fmt::format("Invalid request. Bad MAC: {}  Req: {}",
                                                   rest_printable(t), body));
                have_mac = true;
            } else if (name == "medium") {
                if (!mem.value.IsString())
                    return rest_reject(resp, log,
                                       fmt::format("Invalid request. Unexpected attribute type: "
                                                   "{}. Req: {}",
                                                   name, body));
                std::string t(mem.value.GetString(), mem.value.GetStringLength());
                if (t == "2.4")
                    op.mask = 1;
                else if (t == "5")
                    op.mask = 2;
                else if (t == "all")
                    op.mask = 3;
                else
                    return rest_reject(resp, log,
                                       fmt::format("Invalid request. Unknown medium: {}. Req: {}",
                                                   rest_printable(t), body));
            } else if (name == "remove") {
                if (!mem.value.IsBool())
                    return rest_reject(resp, log,
                                       fmt::format("Invalid request. Unexpected attribute type: "
                                                   "{}. Req: {}",
                                                   name, body));
                op.remove = mem.value.GetBool();
            } else {
                return rest_reject(resp, log,
                                   fmt::format("Invalid request. Unknown attribute: {}. Req: {}",
                                               rest_printable(name), body));
            }
        }
        if (!have_mac)
            return rest_reject(resp, log,
                               fmt::format("Invalid request. Missing/Invalid data. Req: {}", body));
        ops.push_back(op);
    }
    for (const Op& op : ops) {
        if (op.remove)
            m.sm->admin_blacklist_remove(op.mac);
        else
            m.sm->admin_blacklist_add(op.mac, op.mask);
    }
    return rest_accepted(resp);
}

using SM = SteeringMinder;
using DM = DataMinder;
constexpr unsigned kGP = REST_GET | REST_POST;

}  // namespace

OZR_REST_ROUTE(kGP, "/debug/steering", on_debug_steering);
OZR_REST_ROUTE(kGP, "/debug/global_steer_state",
               bool_route(
                   "global_steer", [](const SM& s) { return s.global_steer; },
                   [](DM& d, bool v) { d.global_steer_enable(v); }));
OZR_REST_ROUTE(kGP, "/debug/single_ap_steer_state",
               bool_route(
                   "single_ap_steer", [](const SM& s) { return s.bsteering; },
                   [](DM& d, bool v) { d.bsteering_enable(v); }));
OZR_REST_ROUTE(kGP, "/debug/backoff_state",
               bool_route(
                   "backoff", [](const SM& s) { return s.backoff; },
                   [](DM& d, bool v) { d.backoff_enable(v); }));
OZR_REST_ROUTE(kGP, "/debug/free_roaming_state",
               bool_route(
                   "free_roaming", [](const SM& s) { return s.free_roaming; },
                   [](DM& d, bool v) { d.free_roaming_enable(v); }));
OZR_REST_ROUTE(kGP, "/debug/rssi_threshold_dbm", on_put_rssi_threshold);
OZR_REST_ROUTE(kGP, "/debug/multi_ap_steer_state",
               bool_route(
                   "multi_ap_steer", [](const SM& s) { return s.msteering; },
                   [](DM& d, bool v) { d.msteering_enable(v); }));
OZR_REST_ROUTE(kGP, "/debug/roaming_margin",
               double_route(
                   "roaming_margin", [](double v) { return v > 1.0 && v <= 3.55; },
                   "roaming_margin must be a number greater than 1.0 and at most 3.55",
                   [](const SM& s) { return 1.0 + s.msteer_ratio / 100.0; },
                   [](DM& d, double v) {
                       d.set_roaming_margin(
                           static_cast<unsigned char>(std::lround((v - 1.0) * 100.0)));
                   }));
OZR_REST_ROUTE(kGP, "/debug/idle_steer_state",
               bool_route(
                   "idle_steer", [](const SM& s) { return s.idle_steer; },
                   [](DM& d, bool v) { d.idle_steer_enable(v); }));
OZR_REST_ROUTE(kGP, "/debug/idle_threshold",
               int_route(
                   "threshold", 0, 65535, "idle threshold must be between 0 and 65535",
                   [](const SM& s) { return s.idle_tput_size; },
                   [](DM& d, int64_t v) { d.set_idle_threshold(static_cast<unsigned short>(v)); }));
OZR_REST_ROUTE(kGP, "/debug/btm_disassoc_timer",
               int_route(
                   "value", 0, 4294967295LL, "btm disassoc time must be >= 0",
                   [](const SM& s) { return s.btm_disassoc_time; },
                   [](DM& d, int64_t v) { d.set_btm_disassoc_timer(static_cast<unsigned>(v)); },
                   "btm disassoc time must be at most 4294967295 (the low 16 bits are kept)"));
OZR_REST_ROUTE(kGP, "/debug/free_roaming_time",
               int_route(
                   "time_min", 1, 71582788, "steer free_roaming_time must be >= 1min",
                   [](const SM& s) { return s.free_roaming_lifetime / 60; },
                   [](DM& d, int64_t v) {
                       d.set_free_roaming_time(static_cast<unsigned>(v * 60));
                   }));
OZR_REST_ROUTE(kGP, "/debug/steer_sys_reset", on_steer_sys_reset);
OZR_REST_ROUTE(kGP, "/debug/free_roaming_threshold",
               int_route(
                   "threshold", 1, 65535, "steer free roaming counter threshold must be >= 1",
                   [](const SM& s) { return s.free_roaming_threshold; },
                   [](DM& d, int64_t v) {
                       d.set_free_roaming_threshold(static_cast<unsigned short>(v));
                   }));
OZR_REST_ROUTE(kGP, "/debug/ping_pong",
               bool_route(
                   "state", [](const SM& s) { return s.ping_pong_check; },
                   [](DM& d, bool v) { d.enable_bsteer_ping_pong_check(v); }));
OZR_REST_ROUTE(kGP, "/debug/ping_pong_offset_cal",
               int_route(
                   "value", -128, 127, "ping pong offset must be between -128 and 127",
                   [](const SM& s) { return s.ping_pong_offset_cal; },
                   [](DM& d, int64_t v) {
                       d.set_bsteer_ping_pong_offset_cal(static_cast<signed char>(v));
                   }));
OZR_REST_ROUTE(kGP, "/debug/bsteer_decision_window",
               int_route(
                   "time", 0, 4294967295LL, "decision window time must be >= 0",
                   [](const SM& s) { return s.decision_window_size; },
                   [](DM& d, int64_t v) {
                       d.set_bsteer_decision_window(static_cast<unsigned>(v));
                   }));
OZR_REST_ROUTE(kGP, "/debug/bsteer_decision_chance",
               double_route(
                   "chance", [](double v) { return v >= 0.0 && v <= 1.0; },
                   "chance must be a number from 0.0 to 1.0",
                   [](const SM& s) { return static_cast<double>(s.decision_chance); },
                   [](DM& d, double v) { d.set_bsteer_decision_chance(static_cast<float>(v)); }));
OZR_REST_ROUTE(kGP, "/debug/roaming_back_check",
               int_route(
                   "time", 0, 4294967295LL, "roaming back check time must be >= 0",
                   [](const SM& s) { return s.roam_back_check_time; },
                   [](DM& d, int64_t v) {
                       d.set_roaming_back_check_time(static_cast<unsigned>(v));
                   }));
OZR_REST_ROUTE(kGP, "/debug/min_safe_rssi_2g",
               int_route(
                   "rssi", -123, -1, "rssi must be a negative integer between -1 and -123",
                   [](const SM& s) { return s.min_safe_rssi_2g; },
                   [](DM& d, int64_t v) { d.set_bsteer_min_safe_rssi_2g(static_cast<int>(v)); }));
OZR_REST_ROUTE(kGP, "/debug/ping_pong_check_5g",
               bool_route(
                   "state", [](const SM& s) { return s.ping_pong_check_5g; },
                   [](DM& d, bool v) { d.enable_bsteer_ping_pong_check_5g(v); }));
OZR_REST_ROUTE(kGP, "/debug/ping_pong_check_2g",
               bool_route(
                   "state", [](const SM& s) { return s.ping_pong_check_2g; },
                   [](DM& d, bool v) { d.enable_bsteer_ping_pong_check_2g(v); }));
OZR_REST_ROUTE(kGP, "/debug/hkt_steering",
               bool_route(
                   "state", [](const SM& s) { return s.hkt_steering; },
                   [](DM& d, bool v) { d.enable_hkt_steering(v); }));
OZR_REST_ROUTE(kGP, "/debug/steering_cat",
               int_route(
                   "category", 0, 4, "steering category must be between 0 and 4",
                   [](const SM& s) { return s.steering_cat; },
                   [](DM& d, int64_t v) { d.set_steering_cat(static_cast<int>(v)); }));
OZR_REST_ROUTE(kGP, "/debug/msteer_5g_rssi",
               int_route(
                   "rssi", -123, -1, "rssi must be a negative integer between -1 and -123",
                   [](const SM& s) { return s.msteer_rssi_5g; },
                   [](DM& d, int64_t v) { d.set_msteer_5g_rssi(static_cast<int>(v)); }));
OZR_REST_ROUTE(REST_PUT, "/1/admin-blacklist", on_put_admin_blacklist);
OZR_REST_ROUTE(REST_GET, "/1/admin-blacklist", on_get_admin_blacklist);
