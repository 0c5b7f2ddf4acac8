// GET "/debug/map-cfg": the configuration the Multi-AP stack holds, as
// {"map-cfg": {PART: {...}, ...}}. Each part is one renderer in kParts:
// "credentials-cfg", "default-802dot1q-cfg", "prefer-bh-cfg" (the backhaul SSID
// the agents' backhaul BSSs carry), "supported-freqs-cfg" (per band: the channel
// service's defaults and provisioned channel), "traffic-separation-policy-cfg" and
// "ssid-sync" (the SSID credential sync, see below).
// Secrets are never rendered: a network key shows as its length only.
#include "rest/map_cfg_routes.h"
#include "core/context.h"
#include "graph/graph_minder.h"
#include "map/map_config.h"
#include "nal/ics.h"
#include "rest/dispatch.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"
#include "rest/renderers.h"

namespace {

using Value = rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

// "credentials-cfg": the VAP credentials the controller's M2s carry.
void render_credentials(Context&, Value& out, Allocator& alloc) {
    const map_credential_config_t* cfg = map_get_m2_config();
    JSONObjectRenderer r(out, alloc);
    Value list(rapidjson::kArrayType);
    const unsigned count = cfg ? cfg->count : 0;
    for (unsigned i = 0; i < count && i < kMaxCredentials; ++i) {
        Value item(rapidjson::kObjectType);
        JSONObjectRenderer o(item, alloc);
        render_credential(o, cfg->creds[i]);
        list.PushBack(item, alloc);
    }
    r.add_uint("count", count).add_value("credentials", list);
}

// "default-802dot1q-cfg": the primary VLAN and priority of the Policy Config Requests.
void render_8021q(Context&, Value& out, Allocator& alloc) {
    JSONObjectRenderer r(out, alloc);
    const config_default_802dot1q_t* q = get_default_802dot1q();
    r.add_bool("configured", q != nullptr);
    if (q)
        r.add_uint("vid", q->vid).add_uint("pcp", q->pcp);
}

// "prefer-bh-cfg": the backhaul SSID (of the first backhaul credential).
void render_prefer_bh(Context&, Value& out, Allocator& alloc) {
    JSONObjectRenderer r(out, alloc);
    const map_credential_config_t* cfg = map_get_m2_config();
    for (unsigned i = 0; cfg && i < cfg->count && i < kMaxCredentials; ++i) {
        if (cfg->creds[i].bss_type & MAP_CRED_BACKHAUL) {
            r.add_string("backhaul-ssid", cfg->creds[i].ssid,
                         strnlen(cfg->creds[i].ssid, sizeof cfg->creds[i].ssid));
            return;
        }
    }
    r.add_null("backhaul-ssid");
}

// "supported-freqs-cfg": every band of the channel service.
void render_freqs(Context&, Value& out, Allocator& alloc) {
    JSONObjectRenderer r(out, alloc);
    Value list(rapidjson::kArrayType);
    for (uint16_t mask : {0x10, 0x20, 0x40, 0x80, 0x100}) {
        const ics_band_defaults_t d = ics_get_band_defaults(mask);
        Value b(rapidjson::kObjectType);
        JSONObjectRenderer(b, alloc)
            .add_string("band", ics_band_name(mask))
            .add_uint("band-mask", mask)
            .add_uint("provisioned-channel", ics_provisioned_channel(mask))
            .add_uint("default-channel", d.channel)
            .add_uint("default-bandwidth", d.bw)
            .add_int64("configured-ms", d.cfg_ms);
        list.PushBack(b, alloc);
    }
    const uint16_t extra = ics_get_mix_mesh_5g_channel_additional_dst_band();
    if (extra)
        r.add_string("additional-band", ics_band_name(extra));
    else
        r.add_null("additional-band");
    r.add_value("bands", list);
}

// "traffic-separation-policy-cfg": the used entries of the policy.
void render_traffic_separation(Context&, Value& out, Allocator& alloc) {
    JSONObjectRenderer r(out, alloc);
    const cfg_traffic_separation_policy_list_t* list = get_traffic_separation_policy();
    Value entries(rapidjson::kArrayType);
    for (size_t i = 0; list && i < kTrafficSeparationEntries; ++i) {
        const cfg_traffic_separation_policy_t& e = list->entries[i];
        if (e.ssid[0] == '\0')
            continue;
        Value item(rapidjson::kObjectType);
        JSONObjectRenderer(item, alloc)
            .add_string("ssid", e.ssid, strnlen(e.ssid, sizeof e.ssid))
            .add_uint("vid", e.vid);
        entries.PushBack(item, alloc);
    }
    r.add_bool("configured", list != nullptr).add_value("entries", entries);
}

const char* verdict_name(SsidSyncVerdict v) {
    switch (v) {
        case SsidSyncVerdict::in_sync:
            return "in sync";
        case SsidSyncVerdict::differ:
            return "differs";
        case SsidSyncVerdict::unknown:
            break;
    }
    return "unknown";
}

// "ssid-sync": how the VAPs each vendor agent reports compare with the credential table
// (the "sync_ssid_credential" timer), the renews that sent and the agents owed one.
void render_ssid_sync(Context& ctx, Value& out, Allocator& alloc) {
    JSONObjectRenderer r(out, alloc);
    if (!ctx.graph_minder)
        return;
    const GraphMinder& g = *ctx.graph_minder;
    const int64_t now = ctx.now();
    Value agents(rapidjson::kArrayType);
    for (const auto& kv : g.ssid_sync_status()) {
        Value item(rapidjson::kObjectType);
        JSONObjectRenderer o(item, alloc);
        o.add_string("agent", kv.first.to_string())
            .add_string("state", verdict_name(kv.second.verdict))
            .add_string("difference", kv.second.difference)
            .add_int64("checked-ms-ago", now - kv.second.checked_ms)
            .add_bool("retry", g.ssid_retry_list().count(kv.first) != 0);
        if (kv.second.renew_ms != 0)
            o.add_int64("renewed-ms-ago", now - kv.second.renew_ms);
        agents.PushBack(item, alloc);
    }
    r.add_uint("renews-sent", g.ssid_renews_sent()).add_value("agents", agents);
}

struct Part {
    const char* name;
    void (*render)(Context&, Value&, Allocator&);
};
const Part kParts[] = {
    {"credentials-cfg", render_credentials},
    {"default-802dot1q-cfg", render_8021q},
    {"prefer-bh-cfg", render_prefer_bh},
    {"supported-freqs-cfg", render_freqs},
    {"traffic-separation-policy-cfg", render_traffic_separation},
    {"ssid-sync", render_ssid_sync},
};

int on_get_map_cfg(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    JSONObjectRenderer doc(resp.document);
    auto& alloc = resp.document.GetAllocator();
    Value cfg(rapidjson::kObjectType);
    JSONObjectRenderer c(cfg, alloc);
    for (const Part& p : kParts) {
        Value part(rapidjson::kObjectType);
        p.render(ctx, part, alloc);
        c.add_value(p.name, part);
    }
    doc.add_value("map-cfg", cfg);
    resp.status = 200;
    return 0;
}

}  // namespace

// The radio test routes live beside (radio_routes.cc); this keeps them linked.
void rest_radio_routes_linked();

void rest_map_cfg_routes_linked() {
    rest_radio_routes_linked();
}

OZR_REST_ROUTE(REST_GET, "/debug/map-cfg", on_get_map_cfg);
