// The REST routes of backhaul steering and fronthaul radio management:
//   GET|PUT /debug/backhaul-steer-enable  {"enable": bool}
//   GET     /debug/backhaul-steer         {"enable", "block-reason", "last-steer-ms-ago",
//                                          "requests": [...]} (the requests sent lately)
//   PUT     /debug/backhaul-steer         {"entries": [{"al-mac", "backhaul-sta-mac",
//                                          "target-bssid"}]}: sent at once, in order
//   GET|PUT /debug/fronthaul-management   {"enable": bool[, "enable-5g-high-fronthaul": bool]}
#include <fmt/format.h>

#include <memory>
#include <vector>

#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "graph/graph.h"
#include "graph/graph_minder.h"
#include "rest/backhaul_routes.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"
#include "rest/renderers.h"
#include "rest/rest_cache.h"
#include "rest/rest_minder.h"
#include "rest/setter.h"
#include "steering/backhaul_steering.h"
#include "steering/steering_minder.h"

namespace {

using Value = rapidjson::Value;

// Entries one request may carry.
constexpr size_t kMaxBhSteerEntries = 16;

const Logger* rest_log(Context& ctx) {
    return ctx.rest_minder ? ctx.rest_minder->logger() : root_logger;
}

DataMinder* data_or_503(Context& ctx, HttpResponse& resp) {
    if (ctx.data_minder)
        return ctx.data_minder;
    rest_unavailable(resp, rest_log(ctx), "Cannot find data minder");
    return nullptr;
}

int on_get_backhaul_steer_enable(Context& ctx, ClientContext&, const HttpRequest&,
                                 HttpResponse& resp) {
    DataMinder* dm = data_or_503(ctx, resp);
    if (!dm)
        return 0;
    JSONObjectRenderer(resp.document).add_bool("enable", dm->get_bh_steer_enable());
    resp.status = 200;
    return 0;
}

int on_put_backhaul_steer_enable(Context& ctx, ClientContext& client, const HttpRequest& req,
                                 HttpResponse& resp) {
    DataMinder* dm = data_or_503(ctx, resp);
    if (!dm)
        return 0;
    bool on = false;
    if (!rest_body_bool(client, req, resp, "enable", on, rest_log(ctx)))
        return 0;
    dm->set_bh_steer_enable(on);
    return rest_accepted(resp);
}

int on_get_backhaul_steer(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    DataMinder* dm = data_or_503(ctx, resp);
    if (!dm)
        return 0;
    JSONObjectRenderer out(resp.document);
    render_backhaul_steer_state(out, ctx, *dm);
    resp.status = 200;
    return 0;
}

// A MAC member of ENTRY; false (after answering 400) when missing or not a MAC.
bool entry_mac(const Value& entry, const char* key, MAC& out, HttpResponse& resp,
               const Logger* log) {
    auto m = entry.FindMember(key);
    if (m == entry.MemberEnd() || !m->value.IsString()) {
        rest_reject(resp, log, fmt::format("Invalid request. Missing/Invalid data: {}", key));
        return false;
    }
    std::string text(m->value.GetString(), m->value.GetStringLength());
    if (!parse_rest_mac(text.data(), text.size(), out) || out.is_zero()) {
        rest_reject(resp, log, fmt::format("Invalid request. Bad MAC: {}", rest_printable(text)));
        return false;
    }
    return true;
}

// Whether some device of G carries BSSID.
bool bssid_known(const Graph& g, const BSSID& bssid) {
    for (const auto& kv : g.nodes)
        if (kv.second->kind() == Node::DEVICE &&
            static_cast<const Device*>(kv.second)->find_radio_id(bssid))
            return true;
    return false;
}

// Every entry is checked before any request goes out.
int on_put_backhaul_steer(Context& ctx, ClientContext& client, const HttpRequest& req,
                          HttpResponse& resp) {
    DataMinder* dm = data_or_503(ctx, resp);
    if (!dm)
        return 0;
    const Logger* log = rest_log(ctx);
    if (!ctx.graph_minder)
        return rest_unavailable(resp, log, "Cannot find graph minder");
    const Graph& g = ctx.graph_minder->graph();
    if (!req.body.IsObject()) {
        OZR_ERROR(log, "Parse Error: Invalid request body: {}", rest_printable(client.get_body()));
        return rest_reject(resp, log, "Invalid request body");
    }
    auto e = req.body.FindMember("entries");
    if (e == req.body.MemberEnd() || !e->value.IsArray() || e->value.Empty())
        return rest_reject(resp, log, "Invalid request. Missing/Invalid data: entries");
    if (e->value.Size() > kMaxBhSteerEntries)
        return rest_reject(resp, log,
                           fmt::format("Invalid request. At most {} entries", kMaxBhSteerEntries));
    std::vector<std::unique_ptr<BhSteerEntry>> entries;
    for (const Value& ent : e->value.GetArray()) {
        if (!ent.IsObject())
            return rest_reject(resp, log, "Invalid request. Entry is not an object");
        for (const auto& m : ent.GetObject()) {
            std::string key(m.name.GetString(), m.name.GetStringLength());
            if (key != "al-mac" && key != "backhaul-sta-mac" && key != "target-bssid")
                return rest_reject(
                    resp, log,
                    fmt::format("Invalid request. Unknown attribute: {}", rest_printable(key)));
        }
        auto x = std::make_unique<BhSteerEntry>();
        MAC target;
        if (!entry_mac(ent, "al-mac", x->al_mac, resp, log) ||
            !entry_mac(ent, "backhaul-sta-mac", x->bsta_mac, resp, log) ||
            !entry_mac(ent, "target-bssid", target, resp, log))
            return 0;
        x->target_bssid = BSSID(target);
        if (!g.find_device(x->al_mac))
            return rest_reject(
                resp, log,
                fmt::format("Invalid request. Unknown agent: {}", x->al_mac.to_string()));
        const Sta* s = g.find_sta(x->bsta_mac);
        if (!s || !s->is_backhaul_sta)
            return rest_reject(
                resp, log,
                fmt::format("Invalid request. Not a backhaul STA: {}", x->bsta_mac.to_string()));
        if (!bssid_known(g, x->target_bssid))
            return rest_reject(resp, log,
                               fmt::format("Invalid request. Unknown target BSSID: {}",
                                           x->target_bssid.to_string()));
        entries.push_back(std::move(x));
    }
    int sent = dm->add_bh_steer_entries(entries);
    JSONObjectRenderer(resp.document)
        .add_uint("entries", static_cast<unsigned>(entries.size()))
        .add_int("sent", sent);
    resp.status = 200;
    return 0;
}

int on_get_fronthaul_mgmt(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    DataMinder* dm = data_or_503(ctx, resp);
    if (!dm)
        return 0;
    JSONObjectRenderer(resp.document).add_bool("enable", dm->get_fh_mgmt_enable());
    resp.status = 200;
    return 0;
}

// {"enable": bool} sets the switch; "enable-5g-high-fronthaul", when present, switches the
// 5 GHz-high fronthaul radios of every extender.
int on_put_fronthaul_mgmt(Context& ctx, ClientContext& client, const HttpRequest& req,
                          HttpResponse& resp) {
    DataMinder* dm = data_or_503(ctx, resp);
    if (!dm)
        return 0;
    const Logger* log = rest_log(ctx);
    bool on = false;
    if (!rest_body_bool(client, req, resp, "enable", on, log))
        return 0;
    auto fh = req.body.FindMember("enable-5g-high-fronthaul");
    if (fh != req.body.MemberEnd() && !fh->value.IsBool()) {
        OZR_ERROR(log, "Parse Error: Invalid request parameter");
        return rest_reject(resp, log, "Invalid request. enable-5g-high-fronthaul must be a bool");
    }
    dm->set_fh_mgmt_enable(on);
    if (fh != req.body.MemberEnd())
        dm->set_all_devices_5gh_fh_enable(fh->value.GetBool());
    return rest_accepted(resp);
}

}  // namespace

void render_backhaul_steer_state(JSONObjectRenderer& out, Context& ctx, const DataMinder& dm) {
    out.add_bool("enable", dm.get_bh_steer_enable());
    out.add_string("block-reason", dm.get_bh_steer_block_reason());
    if (ctx.steering_minder) {
        const BackhaulSteering& bh = ctx.steering_minder->backhaul();
        int64_t now = ctx.now();
        if (bh.last_steer_ms() == 0)
            out.add_null("last-steer-ms-ago");
        else
            out.add_int64("last-steer-ms-ago",
                          rest_time_value(now, bh.last_steer_ms(), RestTimeKind::MsSince));
        Value list(rapidjson::kArrayType);
        for (const BackhaulSteerRecord& r : bh.records()) {
            Value item(rapidjson::kObjectType);
            JSONObjectRenderer o(item, out.allocator());
            o.add_mac("al-mac", r.al_mac)
                .add_mac("backhaul-sta-mac", r.bsta_mac)
                .add_bssid("target-bssid", r.target_bssid)
                .add_uint("operating-class", r.op_class)
                .add_uint("channel", r.channel)
                .add_bool("external", r.external)
                .add_string("state", r.state)
                .add_int("result-code", r.result_code)
                .add_string("reason", r.reason)
                .add_int64("ms-ago", rest_time_value(now, r.sent_ms, RestTimeKind::MsSince));
            list.PushBack(item, out.allocator());
        }
        out.add_value("requests", list);
    }
}

void rest_backhaul_routes_linked() {}

OZR_REST_ROUTE(REST_GET, "/debug/backhaul-steer-enable", on_get_backhaul_steer_enable);
OZR_REST_ROUTE(REST_PUT, "/debug/backhaul-steer-enable", on_put_backhaul_steer_enable);
OZR_REST_ROUTE(REST_GET, "/debug/backhaul-steer", on_get_backhaul_steer);
OZR_REST_ROUTE(REST_PUT, "/debug/backhaul-steer", on_put_backhaul_steer);
OZR_REST_ROUTE(REST_GET, "/debug/fronthaul-management", on_get_fronthaul_mgmt);
OZR_REST_ROUTE(REST_PUT, "/debug/fronthaul-management", on_put_fronthaul_mgmt);
