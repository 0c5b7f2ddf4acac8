// GET /ui/mesh: everything the web page shows, in one cached document (docs/ui.md). The
// page asks for it every 1.5 s with If-None-Match, so it is a render-once route: an
// unchanged mesh costs a 304, a changed one a single render of this document instead of
// the much larger "/debug/graph" and "/debug/aps". It is written without indentation.
//
//   "devices"            each device as "/1/topology" lists it, with "uplink" (the rate and
//                        channel of its backhaul link), "radios" (channel, bandwidth,
//                        power) and "clients" (its associated stations)
//   "white-list"         the admitted extenders: onboarding state, online flag
//   "steering"           the client steering switches, totals and latest requests
//   "backhaul-steering"  as "/debug/backhaul-steer"
//   "vendor-agents"      as the nodes of "/debug/hktmgmt", without addresses beyond
//                        IPv4, minders and interfaces
//   "controller"         the duplicate-controller search
#include <algorithm>
#include <vector>

#include "controller/controller_minder.h"
#include "core/context.h"
#include "data/data_minder.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "hkt/hkt_routes.h"
#include "rest/backhaul_routes.h"
#include "rest/dispatch.h"
#include "rest/graph_routes.h"
#include "rest/renderers.h"
#include "rest/rest_cache.h"
#include "rest/rest_minder.h"
#include "rest/setter.h"
#include "rest/ui_routes.h"
#include "steering/steering_minder.h"

namespace {

using Value = rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

// Steering requests listed, newest first.
constexpr size_t kLatestSteers = 10;

Value& push_object(Value& arr, Allocator& alloc) {
    arr.PushBack(Value(rapidjson::kObjectType), alloc);
    return arr[arr.Size() - 1];
}

// A new member KEY of TYPE in OUT.
Value& add_member(JSONObjectRenderer& out, const char* key, rapidjson::Type type) {
    Value v(type);
    out.add_value(key, v);
    return (out.object().MemberEnd() - 1)->value;
}

Value& add_array(JSONObjectRenderer& out, const char* key) {
    return add_member(out, key, rapidjson::kArrayType);
}

// The band of op_class_band() in GHz, null when unknown.
const char* band_text(int band) {
    static const char* const kBands[] = {"2.4", "5", "6"};
    return band >= 0 && band < 3 ? kBands[band] : nullptr;
}

// The backhaul link as its parent sees it: a wireless link's rate and the channel of the
// parent's BSS, a wired link's PHY rate (0 when no report gave one).
void render_uplink(JSONObjectRenderer& out, const Graph& g, const Device& d) {
    const Device* parent = nullptr;
    const Link* up = find_uplink(g, d, &parent);
    unsigned rate = 0;
    optional<uint8_t> channel;
    if (up && up->kind() == Link::WIRELESS) {
        const auto* w = static_cast<const WirelessLink*>(up);
        rate = w->tx_rate ? w->tx_rate : up->metrics.phy_rate;
        channel = parent->radio_primary_channel(w->bssid);
    } else if (up) {
        rate = up->metrics.phy_rate;
    }
    JSONObjectRenderer u(add_member(out, "uplink", rapidjson::kObjectType), out.allocator());
    u.add_uint("rate-mbps", rate);
    if (channel)
        u.add_uint("channel", *channel);
    else
        u.add_null("channel");
}

void render_radios(JSONObjectRenderer& out, const Device& d) {
    Value& radios = add_array(out, "radios");
    for (const RadioInfo& r : d.operational_bss) {
        const OperatingChannelReportTLV* cur = d.find_operating_channel(r.radio_id);
        const bool known = cur && !cur->op_classes.empty();
        const uint8_t op_class = known ? cur->op_classes.front().op_class : 0;
        JSONObjectRenderer o(push_object(radios, out.allocator()), out.allocator());
        o.add_mac("radio-id", r.radio_id)
            .add_uint("op-class", op_class)
            .add_uint("channel", known ? cur->op_classes.front().channel : 0)
            .add_uint("bandwidth-mhz", current_bandwidth(cur));
        if (cur)
            o.add_int("tx-power-dbm", cur->tx_power);
        else
            o.add_null("tx-power-dbm");
        const char* band = known ? band_text(op_class_band(op_class)) : nullptr;
        if (band)
            o.add_string("band", band);
        else
            o.add_null("band");
    }
}

// The stations associated with D (backhaul STAs are the child devices' uplinks).
void render_clients(JSONObjectRenderer& out, const Graph& g, const Device& d) {
    Value& clients = add_array(out, "clients");
    for (const Link* l : d.links) {
        if (l->kind() != Link::WIRELESS)
            continue;
        const Sta* s = g.find_sta(l->to);
        if (s && s->is_backhaul_sta)
            continue;
        const auto* w = static_cast<const WirelessLink*>(l);
        JSONObjectRenderer(push_object(clients, out.allocator()), out.allocator())
            .add_mac("mac", l->to)
            .add_bssid("bssid", w->bssid)
            .add_int("rssi", rcpi_to_rssi_dbm(w->uplink_rcpi ? w->uplink_rcpi : w->rcpi))
            .add_bool("btm", s && s->capabilities.capable_bss_transition)
            .add_bool("rrm", s && s->capabilities.capable_radio_measurement);
    }
}

void render_white_list(JSONObjectRenderer& out, const DataMinder& dm) {
    Value& list = add_array(out, "white-list");
    for (const auto& kv : dm.ramdb()) {
        const ApInfo& e = kv.second;
        JSONObjectRenderer o(push_object(list, out.allocator()), out.allocator());
        o.add_string("serial-number", e.sn);
        if (e.ale_mac.is_zero())
            o.add_null("al-mac");
        else
            o.add_mac("al-mac", e.ale_mac);
        o.add_string("onboarding-state", e.status)
            .add_bool("online", e.online)
            .add_string("hostname", e.hostname)
            .add_bool("gateway", e.is_gateway);
    }
}

// What became of a client's last steering request: its BTM answer, then the check a
// while later of where the client went (a client without BTM answers nothing).
const char* steer_outcome(const SteeringMinder::SteeringReNode& n) {
    const bool answered = n.btm_ms != 0 && n.btm_ms >= n.last_steer_ms;
    if (answered && n.btm_status != 0)
        return "refused";
    if (n.unsteer_checked && n.backoff_counter > 0)
        return "roamed back";
    if (answered)
        return "accepted";
    return n.unsteer_checked ? "moved" : "pending";
}

void render_steering(JSONObjectRenderer& out, const SteeringMinder& sm, int64_t now) {
    JSONObjectRenderer s(add_member(out, "steering", rapidjson::kObjectType), out.allocator());
    s.add_bool("global", sm.global_steer)
        .add_bool("band-steering", sm.bsteering)
        .add_bool("mesh-steering", sm.msteering)
        .add_bool("back-off", sm.backoff)
        .add_uint64("requests-sent", sm.steer_requests_sent())
        .add_uint64("btm-accept", sm.btm_accept_total())
        .add_uint64("btm-reject", sm.btm_reject_total());
    std::vector<const SteeringMinder::SteeringReNode*> latest;
    for (const auto* n : sm.steer_re_nodes())
        if (n->last_steer_ms != 0)
            latest.push_back(n);
    const size_t count = std::min(latest.size(), kLatestSteers);
    std::partial_sort(
        latest.begin(), latest.begin() + static_cast<std::ptrdiff_t>(count), latest.end(),
        [](const auto* a, const auto* b) { return a->last_steer_ms > b->last_steer_ms; });
    Value& list = add_array(s, "latest");
    for (size_t i = 0; i < count; ++i) {
        const SteeringMinder::SteeringReNode& n = *latest[i];
        JSONObjectRenderer(push_object(list, out.allocator()), out.allocator())
            .add_mac("mac", n.mac)
            .add_bssid("from-bssid", n.last_src_bssid)
            .add_bssid("to-bssid", n.last_steer_bssid)
            .add_bool("band-steer", n.last_steer_band)
            .add_int64("ms-ago", rest_time_value(now, static_cast<int64_t>(n.last_steer_ms),
                                                 RestTimeKind::MsSince))
            .add_string("outcome", steer_outcome(n))
            .add_int("btm-status", n.btm_ms != 0 ? n.btm_status : -1)
            .add_uint("backoff-counter", n.backoff_counter);
    }
}

int on_ui_mesh(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    if (!ctx.graph_minder)
        return rest_unavailable(resp, ctx.rest_minder ? ctx.rest_minder->logger() : root_logger,
                                "Cannot find graph minder");
    const Graph& g = ctx.graph_minder->graph();
    const int64_t now = ctx.now();
    resp.compact = true;  // read by the page only, and often: a third of the pretty text
    resp.document.SetObject();
    Allocator& alloc = resp.document.GetAllocator();
    JSONObjectRenderer out(resp.document);
    Value& devices = add_array(out, "devices");
    for_each_device(g, [&](const Device& d) {
        Value& ap = push_object(devices, alloc);
        render_topology_ap(ap, alloc, ctx, g, d, now);
        JSONObjectRenderer o(ap, alloc);
        render_uplink(o, g, d);
        render_radios(o, d);
        render_clients(o, g, d);
    });
    if (ctx.data_minder)
        render_white_list(out, *ctx.data_minder);
    else
        out.add_null("white-list");
    if (ctx.steering_minder)
        render_steering(out, *ctx.steering_minder, now);
    else
        out.add_null("steering");
    if (ctx.data_minder) {
        JSONObjectRenderer b(add_member(out, "backhaul-steering", rapidjson::kObjectType), alloc);
        render_backhaul_steer_state(b, ctx, *ctx.data_minder);
    } else {
        out.add_null("backhaul-steering");
    }
    if (ctx.hkt_mgmt_minder) {
        Value& agents = add_array(out, "vendor-agents");
        for (const HktNode& n : ctx.hkt_mgmt_minder->hkt_nodes())
            render_hkt_node(n, now, push_object(agents, alloc), alloc, false);
    } else {
        out.add_null("vendor-agents");
    }
    if (ctx.controller_minder) {
        JSONObjectRenderer(add_member(out, "controller", rapidjson::kObjectType), alloc)
            .add_int("searches-left", ctx.controller_minder->checks_left())
            .add_bool("duplicate-found", ctx.controller_minder->duplicate_found());
    } else {
        out.add_null("controller");
    }
    resp.status = 200;
    return 0;
}

}  // namespace

void rest_ui_mesh_linked() {}

OZR_REST_CACHED_ROUTE("/ui/mesh", on_ui_mesh);
