// Routes that render the topology graph and the reports it keeps, or that act
// on the agents it knows. They read the graph on the loop thread through the
// graph minder; the graph minder remains its only writer, except for
// "/debug/current-op-channel", a debugging override of a radio's channel.
#include <cstdlib>
#include <cstring>

#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "graph/graph_minder.h"
#include "map/datamodel/datamodel.h"
#include "map/map_send.h"
#include "rest/graph_routes.h"
#include "rest/http_server.h"
#include "rest/renderers.h"
#include "rest/rest_minder.h"
#include "rest/rest_service.h"
#include "rest/setter.h"

namespace {

using Value = rapidjson::Value;

const Logger* rest_logger(Context& ctx) {
    return ctx.rest_minder ? ctx.rest_minder->logger() : root_logger;
}

// The graph, or null after answering 503.
Graph* graph_or_503(Context& ctx, HttpResponse& resp) {
    if (ctx.graph_minder)
        return &ctx.graph_minder->graph();
    rest_unavailable(resp, rest_logger(ctx), "Cannot find graph minder");
    return nullptr;
}

int ok(HttpResponse& resp) {
    resp.status = 200;
    return 0;
}

// The device named by the query key "al-mac", or null after answering 400.
Device* device_from_query(Context& ctx, Graph& graph, const HttpRequest& req, HttpResponse& resp) {
    auto it = req.query.find("al-mac");
    MAC mac;
    Device* d = nullptr;
    if (it != req.query.end() && parse_rest_mac(it->second.data(), it->second.size(), mac))
        d = graph.find_device(mac);
    if (!d)
        rest_reject(resp, rest_logger(ctx), "AL-MAC address not present in graph minder");
    return d;
}

Value& add_array_member(rapidjson::Document& doc, const char* key) {
    JSONObjectRenderer r(doc);
    Value arr(rapidjson::kArrayType);
    r.add_value(key, arr);
    return (doc.MemberEnd() - 1)->value;
}

Value& push_object(Value& arr, rapidjson::Document::AllocatorType& alloc) {
    arr.PushBack(Value(rapidjson::kObjectType), alloc);
    return arr[arr.Size() - 1];
}

// ---- GET /debug/graph, /1/topology, /debug/aps -----------------------------------

int on_debug_graph(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    Graph* g = graph_or_503(ctx, resp);
    if (!g)
        return 0;
    JSONGraphRenderer(resp.document, resp.document.GetAllocator(), *g, ctx.now()).render();
    return ok(resp);
}

int on_topology(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    Graph* g = graph_or_503(ctx, resp);
    if (!g)
        return 0;
    resp.document.SetObject();
    auto& alloc = resp.document.GetAllocator();
    Value& aps = add_array_member(resp.document, "aps");
    const int64_t now = ctx.now();
    for_each_device(*g, [&](const Device& d) {
        render_topology_ap(push_object(aps, alloc), alloc, ctx, *g, d, now);
    });
    return ok(resp);
}

int on_debug_aps(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    Graph* g = graph_or_503(ctx, resp);
    if (!g)
        return 0;
    const Logger* log = rest_logger(ctx);
    OZR_DEBUG(log, "Creating JSONAPRenderer");
    resp.document.SetObject();
    auto& alloc = resp.document.GetAllocator();
    Value& aps = add_array_member(resp.document, "aps");
    const int64_t now = ctx.now();
    for (const auto& kv : g->nodes) {
        if (kv.second->kind() == Node::STA)
            OZR_DEBUG(log, "STA: {}", kv.first.to_string());
        else if (kv.second->kind() != Node::DEVICE)
            OZR_DEBUG(log, "Unknown: {}", kv.first.to_string());
    }
    for_each_device(*g, [&](const Device& d) {
        OZR_DEBUG(log, "AP: {}", d.mac.to_string());
        JSONAPRenderer(push_object(aps, alloc), alloc, *g, d, now, log).render();
    });
    return ok(resp);
}

// ---- GET /1/aps/<al-mac>/<info>[/<client-mac>] --------------------------------------

void render_clients(Value& arr, rapidjson::Document::AllocatorType& alloc, const Graph& g,
                    const Device& d, const MAC* only, int64_t now) {
    for (const Link* l : d.links) {
        if (l->kind() != Link::WIRELESS || (only && l->to != *only))
            continue;
        const Node* n = g.find_node(l->to);
        const Sta* s = n && n->kind() == Node::STA ? static_cast<const Sta*>(n) : nullptr;
        JSONStaRenderer(push_object(arr, alloc), alloc, d, *static_cast<const WirelessLink*>(l), s,
                        get_sta(l->to), now)
            .render();
    }
}

int on_aps(Context& ctx, ClientContext&, const HttpRequest& req, HttpResponse& resp) {
    Graph* g = graph_or_503(ctx, resp);
    if (!g)
        return 0;
    const Logger* log = rest_logger(ctx);
    auto& alloc = resp.document.GetAllocator();
    const std::vector<std::string>& c = req.components;
    const int64_t now = ctx.now();
    resp.document.SetObject();
    if (c.size() <= 2) {
        Value& aps = add_array_member(resp.document, "aps");
        for_each_device(*g, [&](const Device& d) {
            Value v;
            JSONObjectRenderer(push_object(aps, alloc), alloc)
                .add_value("al-mac", v = mac_value(d.mac, alloc))
                .add_string("name", d.name);
        });
        return ok(resp);
    }
    MAC al;
    if (!parse_rest_mac(c[2].data(), c[2].size(), al))
        return rest_reject(resp, log, fmt::format("Invalid AP MAC: {}", rest_printable(c[2])));
    const Device* d = g->find_device(al);
    if (!d) {
        set_json_error(resp, 404, "AP not found");
        return 0;
    }
    if (c.size() == 3) {
        JSONTopologyApRenderer(resp.document, alloc, *g, *d, now).render();
        return ok(resp);
    }
    const std::string& type = c[3];
    if (c.size() > 5 || (c.size() == 5 && type != "clients")) {
        OZR_ERROR(log, "RestMinder::{}() - Invalid info type: [{}]. request rejected", __func__,
                  rest_printable(type));
        return rest_reject(resp, log, fmt::format("Invalid info type: [{}]", rest_printable(type)));
    }
    JSONObjectRenderer out(resp.document);
    Value v;
    out.add_value("al-mac", v = mac_value(d->mac, alloc));
    if (type == "clients") {
        MAC client;
        if (c.size() == 5 && !parse_rest_mac(c[4].data(), c[4].size(), client)) {
            OZR_ERROR(log, "RestMinder::{}()  - Invalid Client MAC: {} Request rejected", __func__,
                      rest_printable(c[4]));
            return rest_reject(resp, log,
                               fmt::format("Invalid Client MAC: {}", rest_printable(c[4])));
        }
        Value& arr = add_array_member(resp.document, "clients");
        render_clients(arr, alloc, *g, *d, c.size() == 5 ? &client : nullptr, now);
        if (c.size() == 5 && arr.Empty()) {
            set_json_error(resp, 404, "Client not found");
            return 0;
        }
        return ok(resp);
    }
    if (type == "capabilities") {
        Value& radios = add_array_member(resp.document, "radios");
        if (d->ap_capability)
            for (const BasicRadioCapabilitiesTLV& r : d->ap_capability->radios) {
                RadioCaps caps = find_radio_caps(*d, r.radio_id);
                JSONObjectRenderer ro(push_object(radios, alloc), alloc);
                ro.add_value("radio-id", v = mac_value(r.radio_id, alloc));
                Value obj(rapidjson::kObjectType);
                JSONRadioCapabilityRenderer(obj, alloc, caps).render();
                ro.add_value("radio-capabilities", obj);
                obj.SetObject();
                if (caps.ht) {
                    JSONRadioHTCapabilityRenderer(obj, alloc, *caps.ht).render();
                    ro.add_value("radio-ht-capabilities", obj);
                } else {
                    ro.add_null("radio-ht-capabilities");
                }
                obj.SetObject();
                if (caps.vht) {
                    JSONRadioVHTCapabilityRenderer(obj, alloc, *caps.vht).render();
                    ro.add_value("radio-vht-capabilities", obj);
                } else {
                    ro.add_null("radio-vht-capabilities");
                }
                obj.SetObject();
                if (caps.he) {
                    JSONRadioHECapabilityRenderer(obj, alloc, *caps.he).render();
                    ro.add_value("radio-he-capabilities", obj);
                } else {
                    ro.add_null("radio-he-capabilities");
                }
            }
        return ok(resp);
    }
    if (type == "stats") {
        Value& bsss = add_array_member(resp.document, "bss-metrics");
        for (const RadioInfo& r : d->operational_bss)
            for (const BSSInfo& b : r.bsss) {
                const ApMetricsTLV* m = nullptr;
                if (d->ap_metrics)
                    for (const ApMetricsTLV& am : d->ap_metrics->ap_metrics)
                        if (am.bssid == b.bssid)
                            m = &am;
                Value& o = push_object(bsss, alloc);
                JSONObjectRenderer(o, alloc).add_value("bssid", v = mac_value(b.bssid, alloc));
                JSONMapAPMetricRenderer(o, alloc, m).render();
            }
        Value& clients = add_array_member(resp.document, "clients");
        render_clients(clients, alloc, *g, *d, nullptr, now);
        return ok(resp);
    }
    if (type == "sensing-data") {
        Value& arr = add_array_member(resp.document, "sensing-data");
        for (const Link* l : d->links) {
            if (l->kind() != Link::UNASSOCIATED)
                continue;
            const auto* u = static_cast<const UnassociatedLink*>(l);
            JSONObjectRenderer(push_object(arr, alloc), alloc)
                .add_value("sta-mac", v = mac_value(u->to, alloc))
                .add_value("bssid", v = mac_value(u->bssid, alloc))
                .add_uint("op-class", u->op_class)
                .add_uint("channel", u->channel)
                .add_uint("rcpi", u->rcpi)
                .add_int("rssi", rcpi_to_rssi_dbm(u->rcpi))
                .add_int64("age-ms", now - u->measured_ms);
        }
        return ok(resp);
    }
    OZR_ERROR(log, "RestMinder::{}() - Invalid info type: [{}]. request rejected", __func__,
              rest_printable(type));
    return rest_reject(resp, log, fmt::format("Invalid info type: [{}]", rest_printable(type)));
}

// ---- GET /debug/ap_capabilities?al-mac= ---------------------------------------------

int on_ap_capabilities_request(Context& ctx, ClientContext&, const HttpRequest& req,
                               HttpResponse& resp) {
    Graph* g = graph_or_503(ctx, resp);
    if (!g)
        return 0;
    Device* d = device_from_query(ctx, *g, req, resp);
    if (!d)
        return 0;
    auto& alloc = resp.document.GetAllocator();
    JSONObjectRenderer out(resp.document);
    if (!d->ap_capability) {
        out.add_null("ApCababilityReport");
        return ok(resp);
    }
    const APCapabilityMesg& c = *d->ap_capability;
    Value rep(rapidjson::kObjectType);
    JSONObjectRenderer r(rep, alloc);
    Value v;
    r.add_value("al-mac", v = mac_value(d->mac, alloc))
        .add_bool("unassoc-sta-metrics-operating-channel", c.unassoc_sta_metrics_operating_channel)
        .add_bool("unassoc-sta-metrics-non-operating-channel",
                  c.unassoc_sta_metrics_non_operating_channel)
        .add_bool("agent-initiated-rcpi-steering", c.agent_initiated_rcpi_steering)
        .add_uint("independent-channel-scan", c.independent_channel_scan)
        .add_uint("byte-counter-units", c.byte_counter_units)
        .add_uint("max-vids", c.max_vids)
        .add_uint("metric-collection-interval-ms", c.metric_collection_interval);
    Value radios(rapidjson::kArrayType);
    for (const BasicRadioCapabilitiesTLV& b : c.radios) {
        RadioCaps caps = find_radio_caps(*d, b.radio_id);
        Value& o = push_object(radios, alloc);
        JSONObjectRenderer ro(o, alloc);
        ro.add_value("radio-id", v = mac_value(b.radio_id, alloc));
        Value obj(rapidjson::kObjectType);
        JSONRadioCapabilityRenderer(obj, alloc, caps).render();
        ro.add_value("radio-capabilities", obj);
        Value classes(rapidjson::kArrayType);
        const RadioChannelPreference* prefs = d->find_channel_preference(b.radio_id);
        for (const operating_class_s& oc : b.operating_classes)
            JSONMapOpClassRenderer(push_object(classes, alloc), alloc, oc, nullptr, prefs).render();
        ro.add_value("op-class-list", classes);
    }
    r.add_value("radios", radios);
    out.add_value("ApCababilityReport", rep);
    return ok(resp);
}

// ---- GET /debug/ap_metrics_data, /debug/ap_metrics_query ----------------------------

int on_ap_metrics(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    Graph* g = graph_or_503(ctx, resp);
    if (!g)
        return 0;
    resp.document.SetObject();
    auto& alloc = resp.document.GetAllocator();
    Value& aps = add_array_member(resp.document, "aps");
    for_each_device(*g, [&](const Device& d) {
        JSONObjectRenderer ao(push_object(aps, alloc), alloc);
        Value v;
        ao.add_value("al-mac", v = mac_value(d.mac, alloc)).add_string("name", d.name);
        Value bsss(rapidjson::kArrayType);
        Value radios(rapidjson::kArrayType);
        if (d.ap_metrics) {
            for (const ApMetricsTLV& m : d.ap_metrics->ap_metrics) {
                Value& o = push_object(bsss, alloc);
                JSONObjectRenderer(o, alloc).add_value("bssid", v = mac_value(m.bssid, alloc));
                JSONMapAPMetricRenderer(o, alloc, &m).render();
            }
            for (const RadioMetricsTLV& r : d.ap_metrics->radio_metrics)
                JSONObjectRenderer(push_object(radios, alloc), alloc)
                    .add_value("radio-id", v = mac_value(r.radio_id, alloc))
                    .add_uint("noise", r.noise)
                    .add_uint("transmit", r.transmit)
                    .add_uint("receive-self", r.receive_self)
                    .add_uint("receive-other", r.receive_other);
        }
        ao.add_value("bss-metrics", bsss).add_value("radio-metrics", radios);
    });
    return ok(resp);
}

int on_ap_metrics_query(Context& ctx, ClientContext&, const HttpRequest& req, HttpResponse& resp) {
    Graph* g = graph_or_503(ctx, resp);
    if (!g)
        return 0;
    const Logger* log = rest_logger(ctx);
    const Device* only = nullptr;
    if (req.query.count("al-mac")) {
        only = device_from_query(ctx, *g, req, resp);
        if (!only)
            return 0;
    }
    unsigned sent = 0, refused = 0;
    std::vector<BSSID> bssids;
    for_each_device(*g, [&](const Device& d) {
        if (only && &d != only)
            return;
        bssids.clear();
        for (const RadioInfo& r : d.operational_bss)
            for (const BSSInfo& b : r.bsss)
                bssids.push_back(b.bssid);
        if (bssids.empty())
            return;
        int rc = map_send_ap_metric_query(d.mac, bssids);
        if (rc == MAP_SEND_OK) {
            ++sent;
        } else {
            ++refused;
            OZR_WARN(log, "AP metrics query to {} not sent ({})", d.mac.to_string(), rc);
        }
    });
    JSONObjectRenderer(resp.document).add_uint("sent", sent).add_uint("refused", refused);
    return ok(resp);
}

// ---- GET /debug/ch_scan_report, /debug/ch_scan_request ------------------------------

int on_ch_scan_report(Context& ctx, ClientContext&, const HttpRequest& req, HttpResponse& resp) {
    Graph* g = graph_or_503(ctx, resp);
    if (!g)
        return 0;
    const Logger* log = rest_logger(ctx);
    Device* d = device_from_query(ctx, *g, req, resp);
    if (!d)
        return 0;
    int band = -1;
    unsigned channel = 0;
    auto b = req.query.find("band");
    if (b != req.query.end()) {
        const std::string& s = b->second;
        if (s == "2g" || s == "2.4" || s == "24" || s == "0")
            band = 0;
        else if (s == "5g" || s == "5" || s == "1")
            band = 1;
        else if (s == "6g" || s == "6" || s == "2")
            band = 2;
        else
            return rest_reject(resp, log, fmt::format("Invalid band: {}", rest_printable(s)));
    }
    auto ch = req.query.find("channel");
    if (ch != req.query.end()) {
        char* end = nullptr;
        unsigned long n = std::strtoul(ch->second.c_str(), &end, 10);
        if (ch->second.empty() || *end != '\0' || n < 1 || n > 255)
            return rest_reject(resp, log,
                               fmt::format("Invalid channel: {}", rest_printable(ch->second)));
        channel = static_cast<unsigned>(n);
    }
    auto& alloc = resp.document.GetAllocator();
    Value rep(rapidjson::kObjectType);
    ChannelScanReportRenderer(rep, alloc, *d, band, channel).render();
    JSONObjectRenderer(resp.document).add_value("ChannelScanReport", rep);
    return ok(resp);
}

int on_ch_scan_request(Context& ctx, ClientContext&, const HttpRequest& req, HttpResponse& resp) {
    Graph* g = graph_or_503(ctx, resp);
    if (!g)
        return 0;
    const Logger* log = rest_logger(ctx);
    Device* d = device_from_query(ctx, *g, req, resp);
    if (!d)
        return 0;
    auto ch = req.query.find("channel");
    unsigned long channel = 0;
    if (ch != req.query.end()) {
        char* end = nullptr;
        channel = std::strtoul(ch->second.c_str(), &end, 10);
        if (ch->second.empty() || *end != '\0' || channel < 1 || channel > 255)
            return rest_reject(resp, log,
                               fmt::format("Invalid channel: {}", rest_printable(ch->second)));
    }
    // One radio entry per radio the agent operates; with a channel, only the radio
    // whose band holds it, scanning that channel in its current class.
    channel_scan_request_tlv tlv;
    tlv.perform_fresh_scan = 1;
    for (const RadioInfo& r : d->operational_bss) {
        channel_scan_request_tlv::radio radio;
        radio.radio_id = r.radio_id;
        if (channel) {
            optional<uint8_t> op = d->radio_primary_op_class(r.radio_id);
            int want = channel <= 14 ? 0 : 1;
            if (!op || op_class_band(*op) != want)
                continue;
            op_class_channels oc;
            oc.op_class = *op;
            oc.num_channels = 1;
            oc.channels.push_back(static_cast<uint8_t>(channel));
            radio.op_classes.push_back(oc);
            radio.num_op_classes = 1;
        }
        tlv.radios.push_back(radio);
    }
    tlv.num_radios = static_cast<uint8_t>(tlv.radios.size());
    if (tlv.radios.empty())
        return rest_reject(resp, log, "No radio of that agent can scan that channel");
    int rc = map_send_ch_scan_request(d->mac, tlv);
    if (rc != MAP_SEND_OK)
        return rest_unavailable(resp, log, fmt::format("Channel scan request not sent ({})", rc));
    JSONObjectRenderer(resp.document).add_uint("radios", tlv.num_radios);
    return ok(resp);
}

// ---- PUT /debug/current-op-channel ------------------------------------------------

int on_put_current_op_channel(Context& ctx, ClientContext& client, const HttpRequest& req,
                              HttpResponse& resp) {
    Graph* g = graph_or_503(ctx, resp);
    if (!g)
        return 0;
    const Logger* log = rest_logger(ctx);
    if (!req.body.IsObject()) {
        OZR_ERROR(log, "Parse Error: Invalid request body: {}", client.get_body());
        return rest_reject(resp, log, "Invalid request body");
    }
    auto e = req.body.FindMember("entries");
    if (e == req.body.MemberEnd() || !e->value.IsArray() || e->value.Empty())
        return rest_reject(resp, log, "Invalid request. Missing/Invalid data: entries");
    // Check every entry before changing anything.
    struct Change {
        Device* device;
        MAC radio;
        uint8_t op_class;
        uint8_t channel;
    };
    std::vector<Change> changes;
    for (const Value& ent : e->value.GetArray()) {
        if (!ent.IsObject())
            return rest_reject(resp, log, "Invalid request. Entry is not an object");
        auto b = ent.FindMember("bssid");
        auto o = ent.FindMember("operating-class");
        auto c = ent.FindMember("channel");
        MAC bssid;
        if (b == ent.MemberEnd() || !b->value.IsString() ||
            !parse_rest_mac(b->value.GetString(), b->value.GetStringLength(), bssid))
            return rest_reject(resp, log, "Invalid request. Bad BSSID");
        if (o == ent.MemberEnd() || !o->value.IsUint() || o->value.GetUint() < 1 ||
            o->value.GetUint() > 255 || c == ent.MemberEnd() || !c->value.IsUint() ||
            c->value.GetUint() < 1 || c->value.GetUint() > 255)
            return rest_reject(resp, log,
                               "Invalid request. operating-class and channel must be 1..255");
        Device* owner = nullptr;
        optional<MAC> radio;
        for (const auto& kv : g->nodes) {
            if (kv.second->kind() != Node::DEVICE)
                continue;
            auto* d = static_cast<Device*>(kv.second);
            radio = d->find_radio_id(BSSID(bssid));
            if (radio) {
                owner = d;
                break;
            }
        }
        if (!owner)
            return rest_reject(
                resp, log, fmt::format("Invalid request. Unknown BSSID: {}", bssid.to_string()));
        changes.push_back(Change{owner, *radio, static_cast<uint8_t>(o->value.GetUint()),
                                 static_cast<uint8_t>(c->value.GetUint())});
    }
    for (const Change& ch : changes) {
        OperatingChannelReportMesg m;
        OperatingChannelReportTLV r;
        r.radio_id = ch.radio;
        const OperatingChannelReportTLV* cur = ch.device->find_operating_channel(ch.radio);
        r.tx_power = cur ? cur->tx_power : 0;
        operating_class_channel_s oc;
        oc.op_class = ch.op_class;
        oc.channel = ch.channel;
        r.op_classes.push_back(oc);
        m.reports.push_back(r);
        ch.device->update_current_channels(m);
        OZR_NOTICE(log, "Radio {} of {} set to operating class {} channel {}", ch.radio.to_string(),
                   ch.device->mac.to_string(), ch.op_class, ch.channel);
    }
    return rest_accepted(resp);
}

// ---- GET, PUT /debug/unassoc-metrics ----------------------------------------------

UnassocMetricsSettings g_unassoc_settings;

int on_get_unassoc_metrics(Context&, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    auto& alloc = resp.document.GetAllocator();
    Value arr(rapidjson::kArrayType);
    for (const auto& kv : g_unassoc_settings.entries()) {
        Value v;
        JSONObjectRenderer(push_object(arr, alloc), alloc)
            .add_value("al-mac", v = mac_value(kv.first, alloc))
            .add_bool("fronthaul", kv.second.fronthaul)
            .add_string("unassociated-metrics-type",
                        unassoc_metrics_source_to_string(kv.second.type));
    }
    JSONObjectRenderer(resp.document).add_value("uassoc-metrics-settings", arr);
    return ok(resp);
}

int on_put_unassoc_metrics(Context& ctx, ClientContext& client, const HttpRequest& req,
                           HttpResponse& resp) {
    const Logger* log = rest_logger(ctx);
    std::string al_text, type_text;
    bool fronthaul = false;
    if (!rest_body_string(client, req, resp, "al-mac", al_text, log) ||
        !rest_body_bool(client, req, resp, "fronthaul", fronthaul, log) ||
        !rest_body_string(client, req, resp, "unassociated-metrics-type", type_text, log))
        return 0;
    MAC al;
    if (!parse_rest_mac(al_text.data(), al_text.size(), al))
        return rest_reject(resp, log,
                           fmt::format("Invalid request. Bad MAC: {}", rest_printable(al_text)));
    UnassocMetricsSource type;
    if (!unassoc_metrics_source_from_string(type_text, type))
        return rest_reject(resp, log,
                           "unassociated-metrics-type must be one of \"agent\", \"hkt\", \"all\"");
    if (ctx.graph_minder && !ctx.graph_minder->graph().find_device(al))
        return rest_reject(resp, log, "AL-MAC address not present in graph minder");
    if (!g_unassoc_settings.set(al, UnassocMetricsSetting{fronthaul, type}))
        return rest_reject(resp, log, "Too many unassociated metrics settings");
    return rest_accepted(resp);
}

// ---- GET /debug/context ------------------------------------------------------------

int on_debug_context(Context& ctx, ClientContext& client, const HttpRequest&, HttpResponse& resp) {
    JSONObjectRenderer out(resp.document);
    auto& alloc = resp.document.GetAllocator();
    Value summary(rapidjson::kObjectType);
    JSONObjectRenderer s(summary, alloc);
    s.add_int64("now-ms", ctx.now())
        .add_bool("data-minder", ctx.data_minder != nullptr)
        .add_bool("graph-minder", ctx.graph_minder != nullptr)
        .add_bool("rest-minder", ctx.rest_minder != nullptr)
        .add_bool("steering-minder", ctx.steering_minder != nullptr)
        .add_bool("hkt-mgmt-minder", ctx.hkt_mgmt_minder != nullptr)
        .add_bool("configuration-minder", ctx.config_minder != nullptr)
        .add_bool("controller-minder", ctx.controller_minder != nullptr);
    unsigned devices = 0, stas = 0, links = 0;
    if (ctx.graph_minder) {
        const Graph& g = ctx.graph_minder->graph();
        for (const auto& kv : g.nodes) {
            if (kv.second->kind() == Node::DEVICE) {
                ++devices;
                links += static_cast<unsigned>(static_cast<const Device*>(kv.second)->links.size());
            } else {
                ++stas;
            }
        }
    }
    s.add_uint("graph-devices", devices)
        .add_uint("graph-stations", stas)
        .add_uint("graph-links", links)
        .add_uint("rest-connections", static_cast<unsigned>(client.server().connection_count()));
    if (ctx.rest_minder && ctx.rest_minder->service()) {
        const DispatchTable& t = ctx.rest_minder->service()->table();
        s.add_uint64("rest-cache-renders", t.cache_renders())
            .add_uint64("rest-cache-hits", t.cache_hits());
    }
    const map_datamodel_t* dm = get_map_datamodel();
    s.add_int("stack-agents", dm ? dm->num_ales : 0)
        .add_int("stack-stations", dm ? dm->num_stas : 0);
    out.add_value("[/debug/context]", summary);
    return ok(resp);
}

}  // namespace

void render_topology_ap(Value& ap, rapidjson::Document::AllocatorType& alloc, Context& ctx,
                        const Graph& g, const Device& d, int64_t now) {
    JSONTopologyApRenderer(ap, alloc, g, d, now).render();
    // An admitted extender: its serial number, onboarding state and online status.
    const ApInfo* e = ctx.data_minder ? ctx.data_minder->ramdb_find_by_ale(d.mac) : nullptr;
    Value ext;
    if (e) {
        JSONObjectRenderer(ext, alloc)
            .add_string("serial-number", e->sn)
            .add_string("onboarding-state", e->status)
            .add_bool("online", e->online);
    }
    JSONObjectRenderer(ap, alloc).add_value("extender", ext);
}

// ---- Unassociated metrics settings ----------------------------------------------------

const char* unassoc_metrics_source_to_string(UnassocMetricsSource t) {
    switch (t) {
        case UnassocMetricsSource::AGENT:
            return "agent";
        case UnassocMetricsSource::HKT:
            return "hkt";
        case UnassocMetricsSource::ALL:
            return "all";
    }
    return "";
}

bool unassoc_metrics_source_from_string(const std::string& s, UnassocMetricsSource& out) {
    if (s == "agent")
        out = UnassocMetricsSource::AGENT;
    else if (s == "hkt")
        out = UnassocMetricsSource::HKT;
    else if (s == "all")
        out = UnassocMetricsSource::ALL;
    else
        return false;
    return true;
}

bool UnassocMetricsSettings::set(const MAC& al_mac, const UnassocMetricsSetting& s) {
    auto it = entries_.find(al_mac);
    if (it == entries_.end() && entries_.size() >= kMaxEntries)
        return false;
    entries_[al_mac] = s;
    return true;
}

const UnassocMetricsSetting* UnassocMetricsSettings::find(const MAC& al_mac) const {
    auto it = entries_.find(al_mac);
    return it == entries_.end() ? nullptr : &it->second;
}

UnassocMetricsSettings& unassoc_metrics_settings() {
    return g_unassoc_settings;
}

void rest_graph_routes_linked() {}

OZR_REST_ROUTE(REST_GET, "/debug/context", on_debug_context);
OZR_REST_CACHED_ROUTE("/debug/graph", on_debug_graph);
OZR_REST_CACHED_ROUTE("/debug/aps", on_debug_aps);
OZR_REST_ROUTE(REST_GET, "/debug/ap_capabilities", on_ap_capabilities_request);
OZR_REST_ROUTE(REST_GET, "/debug/ap_metrics_data", on_ap_metrics);
OZR_REST_ROUTE(REST_GET | REST_POST, "/debug/ap_metrics_query", on_ap_metrics_query);
OZR_REST_ROUTE(REST_GET, "/debug/ch_scan_report", on_ch_scan_report);
OZR_REST_ROUTE(REST_GET, "/debug/ch_scan_request", on_ch_scan_request);
OZR_REST_ROUTE(REST_PUT, "/debug/current-op-channel", on_put_current_op_channel);
OZR_REST_ROUTE(REST_PUT, "/debug/unassoc-metrics", on_put_unassoc_metrics);
OZR_REST_ROUTE(REST_GET, "/debug/unassoc-metrics", on_get_unassoc_metrics);
OZR_REST_CACHED_ROUTE("/1/topology", on_topology);
// After every other "/1/..." route: its "*" components take any later one.
OZR_REST_ROUTE(REST_GET, "/1/aps/*/*/*/*/*/*/*/*", on_aps);
