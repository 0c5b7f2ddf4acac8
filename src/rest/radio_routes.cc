// Radio test routes: the channel scan reporting policy of an agent
// ("/debug/ch_scan_policy"), Channel Availability Check requests and terminations
// ("/debug/cac_request", "/debug/cac_termination") and what the agents reported of
// their checks ("/debug/cac_data").
//
//   GET  /debug/ch_scan_policy?al-mac=M            {"al-mac": M, "report": bool|null}
//   POST /debug/ch_scan_policy {"al-mac": M, "report": bool}
//        sends M a Policy Config Request with the Channel Scan Reporting Policy
//   GET  /debug/cac_request?al-mac=M&channel=C[&op-class=O][&radio=R][&method=0..3][&action=0..1]
//   GET  /debug/cac_termination?al-mac=M&channel=C[&op-class=O][&radio=R]
//        O defaults to the 20 MHz class of C, R to the agent's radio operating in C's band
//   GET  /debug/cac_data                           {"cac-data": [per agent ...]}
#include <cstdlib>
#include <map>

#include "core/context.h"
#include "core/log.h"
#include "graph/device.h"
#include "graph/graph.h"
#include "graph/graph_minder.h"
#include "map/datamodel/datamodel.h"
#include "map/datamodel/opclass_table.h"
#include "map/map_send.h"
#include "rest/dispatch.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"
#include "rest/renderers.h"
#include "rest/rest_minder.h"
#include "rest/setter.h"

namespace {

using Value = rapidjson::Value;

constexpr size_t kMaxPolicies = 64;

const Logger* logger_of(Context& ctx) {
    return ctx.rest_minder ? ctx.rest_minder->logger() : root_logger;
}

// The last channel scan reporting policy sent to each agent (loop thread only).
std::map<MAC, bool>& scan_policies() {
    static std::map<MAC, bool> p;
    return p;
}

bool mac_of(const std::string& text, MAC& out) {
    return parse_rest_mac(text.data(), text.size(), out) ||
           MAC::parse(text, out);  // either form, "026f7a720200" or "02:6f:7a:72:02:00"
}

// An agent the stack knows, named by query key "al-mac"; null after answering 400.
map_ale_info_t* agent_from_query(Context& ctx, const HttpRequest& req, HttpResponse& resp,
                                 MAC& mac) {
    auto it = req.query.find("al-mac");
    map_ale_info_t* ale = nullptr;
    if (it != req.query.end() && mac_of(it->second, mac))
        ale = get_ale(mac);
    if (ale == nullptr)
        rest_reject(resp, logger_of(ctx), "AL-MAC address not present in graph minder");
    return ale;
}

// Query key KEY as an unsigned number in LO..HI; DEF when absent. False after answering 400.
bool query_uint(Context& ctx, const HttpRequest& req, HttpResponse& resp, const char* key,
                unsigned lo, unsigned hi, unsigned def, bool required, unsigned& out) {
    auto it = req.query.find(key);
    if (it == req.query.end()) {
        if (required) {
            rest_reject(resp, logger_of(ctx), fmt::format("Missing {}", key));
            return false;
        }
        out = def;
        return true;
    }
    char* end = nullptr;
    const unsigned long v = std::strtoul(it->second.c_str(), &end, 10);
    if (it->second.empty() || *end != '\0' || v < lo || v > hi) {
        rest_reject(resp, logger_of(ctx),
                    fmt::format("Invalid {}: {}", key, rest_printable(it->second)));
        return false;
    }
    out = static_cast<unsigned>(v);
    return true;
}

map_dm::OpBand band_of_mask(uint16_t mask) {
    if (mask & MAP_BAND_MASK_6G)
        return map_dm::OpBand::G6;
    if (mask & MAP_BAND_MASK_2G)
        return map_dm::OpBand::G2;
    return map_dm::OpBand::G5;
}

// The 20 MHz class of CHANNEL in BAND (0 when none).
uint8_t class_of(map_dm::OpBand band, unsigned channel) {
    for (int oc = 81; oc < 256; ++oc) {
        const map_dm::OpClassDef* def = map_dm::find_op_class(static_cast<uint8_t>(oc));
        if (def == nullptr || def->band != band || def->bandwidth_mhz != 20)
            continue;
        uint8_t chans[64];
        const int n = map_dm::global_op_class_channels(*def, chans, 64);
        for (int i = 0; i < n; ++i)
            if (chans[i] == channel)
                return def->op_class;
    }
    return 0;
}

struct CacTarget {
    MAC agent, radio;
    uint8_t op_class = 0, channel = 0;
};

// The agent, radio, class and channel a CAC route names; false after answering 400.
bool cac_target(Context& ctx, const HttpRequest& req, HttpResponse& resp, CacTarget& t) {
    map_ale_info_t* ale = agent_from_query(ctx, req, resp, t.agent);
    if (ale == nullptr)
        return false;
    unsigned channel = 0, op_class = 0;
    if (!query_uint(ctx, req, resp, "channel", 1, 233, 0, true, channel) ||
        !query_uint(ctx, req, resp, "op-class", 81, 137, 0, false, op_class))
        return false;
    const map_radio_info_t* radio = nullptr;
    auto r = req.query.find("radio");
    if (r != req.query.end()) {
        MAC id;
        radio = mac_of(r->second, id) ? get_radio(id) : nullptr;
        if (radio == nullptr || radio->ale != ale) {
            rest_reject(resp, logger_of(ctx),
                        fmt::format("Invalid radio: {}", rest_printable(r->second)));
            return false;
        }
    } else {
        // The agent's radio whose band holds the channel.
        for (uint8_t i = 0; i < ale->num_radios && i < MAP_MAX_RADIOS_PER_AGENT && !radio; ++i)
            if (ale->radios[i] && class_of(band_of_mask(ale->radios[i]->band_mask), channel))
                radio = ale->radios[i];
    }
    if (radio == nullptr) {
        rest_reject(resp, logger_of(ctx),
                    fmt::format("No radio of the agent for channel {}", channel));
        return false;
    }
    if (op_class == 0)
        op_class = class_of(band_of_mask(radio->band_mask), channel);
    if (op_class == 0) {
        rest_reject(resp, logger_of(ctx), fmt::format("Invalid channel: {}", channel));
        return false;
    }
    t.radio = radio->radio_id;
    t.op_class = static_cast<uint8_t>(op_class);
    t.channel = static_cast<uint8_t>(channel);
    return true;
}

int answer_sent(Context& ctx, HttpResponse& resp, const char* what, const CacTarget& t, int rc) {
    const Logger* log = logger_of(ctx);
    if (rc != MAP_SEND_OK) {
        OZR_WARN(log, "{} to {} not sent ({})", what, t.agent.to_string(), rc);
        resp.status = 500;
        return 0;
    }
    OZR_INFO(log, "{} to {}: radio {} class {} channel {}", what, t.agent.to_string(),
             t.radio.to_string(), t.op_class, t.channel);
    JSONObjectRenderer(resp.document)
        .add_mac("al-mac", t.agent)
        .add_mac("radio-id", t.radio)
        .add_uint("op-class", t.op_class)
        .add_uint("channel", t.channel);
    resp.status = 200;
    return 0;
}

int on_cac_request(Context& ctx, ClientContext&, const HttpRequest& req, HttpResponse& resp) {
    CacTarget t;
    if (!cac_target(ctx, req, resp, t))
        return 0;
    unsigned method = 0, action = 0;
    if (!query_uint(ctx, req, resp, "method", 0, 3, 0, false, method) ||
        !query_uint(ctx, req, resp, "action", 0, 1, 0, false, action))
        return 0;
    cac_request_tlv tlv;
    cac_request_tlv::radio r;
    r.radio_id = t.radio;
    r.op_class = t.op_class;
    r.channel = t.channel;
    r.cac_method = static_cast<uint8_t>(method);
    r.cac_completion_action = static_cast<uint8_t>(action);
    tlv.radios.push_back(r);
    tlv.num_radios = 1;
    return answer_sent(ctx, resp, "CAC Request", t, map_send_CAC_request(t.agent, tlv));
}

int on_cac_termination(Context& ctx, ClientContext&, const HttpRequest& req, HttpResponse& resp) {
    CacTarget t;
    if (!cac_target(ctx, req, resp, t))
        return 0;
    cac_termination_tlv tlv;
    tlv.radios.push_back({t.radio, t.op_class, t.channel});
    tlv.num_radios = 1;
    return answer_sent(ctx, resp, "CAC Termination", t, map_send_CAC_termination(t.agent, tlv));
}

int on_cac_data(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    if (ctx.graph_minder == nullptr)
        return rest_unavailable(resp, logger_of(ctx), "Cannot find graph minder");
    auto& alloc = resp.document.GetAllocator();
    Value list(rapidjson::kArrayType);
    for (const auto& kv : ctx.graph_minder->graph().nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        const Device& d = *static_cast<const Device*>(kv.second);
        if (d.cac_completion_reports.empty() && d.cac_non_occupancy.empty() &&
            d.cac_ongoing.empty())
            continue;
        Value dev(rapidjson::kObjectType);
        JSONObjectRenderer o(dev, alloc);
        o.add_mac("al-mac", d.mac);
        Value done(rapidjson::kArrayType);
        for (const CacCompletionRadioReport& r : d.cac_completion_reports) {
            Value e(rapidjson::kObjectType);
            JSONObjectRenderer x(e, alloc);
            Value radar(rapidjson::kArrayType);
            for (const CacCompletionPairList& p : r.radar_pairs) {
                Value pe(rapidjson::kObjectType);
                JSONObjectRenderer(pe, alloc)
                    .add_uint("op-class", p.op_class)
                    .add_uint("channel", p.channel);
                radar.PushBack(pe, alloc);
            }
            x.add_mac("radio-id", r.radio_id)
                .add_uint("op-class", r.op_class)
                .add_uint("channel", r.channel)
                .add_uint("status", r.status)
                .add_value("radar-detected", radar);
            done.PushBack(e, alloc);
        }
        Value blocked(rapidjson::kArrayType);
        for (const CacStatusReportNonOccupancyPairList& p : d.cac_non_occupancy) {
            Value e(rapidjson::kObjectType);
            JSONObjectRenderer(e, alloc)
                .add_uint("op-class", p.op_class)
                .add_uint("channel", p.channel)
                .add_uint("seconds-remaining", p.seconds_remaining);
            blocked.PushBack(e, alloc);
        }
        Value ongoing(rapidjson::kArrayType);
        for (const CacStatusReportOngoingCacPairList& p : d.cac_ongoing) {
            Value e(rapidjson::kObjectType);
            JSONObjectRenderer(e, alloc)
                .add_uint("op-class", p.op_class)
                .add_uint("channel", p.channel)
                .add_uint("seconds-remaining", p.seconds_remaining);
            ongoing.PushBack(e, alloc);
        }
        o.add_value("completion", done)
            .add_value("non-occupancy", blocked)
            .add_value("ongoing", ongoing);
        list.PushBack(dev, alloc);
    }
    JSONObjectRenderer(resp.document).add_value("cac-data", list);
    resp.status = 200;
    return 0;
}

int on_ch_scan_policy(Context& ctx, ClientContext& client, const HttpRequest& req,
                      HttpResponse& resp) {
    const Logger* log = logger_of(ctx);
    if (req.body.IsNull()) {  // GET: what was last sent
        MAC mac;
        if (agent_from_query(ctx, req, resp, mac) == nullptr)
            return 0;
        JSONObjectRenderer out(resp.document);
        out.add_mac("al-mac", mac);
        auto it = scan_policies().find(mac);
        if (it == scan_policies().end())
            out.add_null("report");
        else
            out.add_bool("report", it->second);
        resp.status = 200;
        return 0;
    }
    std::string text;
    bool report = false;
    if (!rest_body_string(client, req, resp, "al-mac", text, log) ||
        !rest_body_bool(client, req, resp, "report", report, log))
        return 0;
    MAC mac;
    if (!mac_of(text, mac) || get_ale(mac) == nullptr)
        return rest_reject(resp, log, "AL-MAC address not present in graph minder");
    if (scan_policies().size() >= kMaxPolicies && !scan_policies().count(mac)) {
        for (auto it = scan_policies().begin(); it != scan_policies().end();)
            it = get_ale(it->first) ? std::next(it) : scan_policies().erase(it);
        if (scan_policies().size() >= kMaxPolicies)
            return rest_reject(resp, log, "Too many agents");
    }
    channel_scan_reporting_policy_tlv tlv;
    tlv.report_independent_scans = report ? 1 : 0;
    map_policy_config_t cfg;
    cfg.channel_scan = &tlv;
    const int rc = map_send_policy_config(mac, cfg);
    if (rc != MAP_SEND_OK) {
        OZR_WARN(log, "channel scan reporting policy to {} not sent ({})", mac.to_string(), rc);
        resp.status = 500;
        return 0;
    }
    scan_policies()[mac] = report;
    OZR_INFO(log, "channel scan reporting policy to {}: report independent scans {}",
             mac.to_string(), report);
    return rest_accepted(resp);
}

}  // namespace

void rest_radio_routes_linked() {}

OZR_REST_ROUTE(REST_GET | REST_POST, "/debug/ch_scan_policy", on_ch_scan_policy);
OZR_REST_ROUTE(REST_GET, "/debug/cac_request", on_cac_request);
OZR_REST_ROUTE(REST_GET, "/debug/cac_termination", on_cac_termination);
OZR_REST_ROUTE(REST_GET, "/debug/cac_data", on_cac_data);
