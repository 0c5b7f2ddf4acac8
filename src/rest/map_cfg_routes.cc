// GET "/debug/map-cfg": the configuration the Multi-AP stack holds, as
// {"map-cfg": {PART: {...}, ...}}. Each part is one renderer in kParts; the
// parts still to come ("default-802dot1q-cfg", "prefer-bh-cfg",
// "supported-freqs-cfg", "traffic-separation-policy-cfg") are added there.
// Secrets are never rendered: a network key shows as its length only.
#include "rest/map_cfg_routes.h"
#include "core/context.h"
#include "map/map_config.h"
#include "rest/dispatch.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"

namespace {

using Value = rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

const char* auth_name(uint16_t auth) {
    switch (auth) {
        case 0x0001:
            return "open";
        case 0x0020:
            return "wpa2-personal";
        case 0x0040:
            return "wpa3-personal";
        case 0x0060:
            return "wpa2-wpa3-personal";
        default:
            return "other";
    }
}

// "credentials-cfg": the VAP credentials the controller's M2s carry.
void render_credentials(Context&, Value& out, Allocator& alloc) {
    const map_credential_config_t* cfg = map_get_m2_config();
    JSONObjectRenderer r(out, alloc);
    Value list(rapidjson::kArrayType);
    const unsigned count = cfg ? cfg->count : 0;
    for (unsigned i = 0; i < count && i < kMaxCredentials; ++i) {
        const map_vap_credential_t& c = cfg->creds[i];
        Value item(rapidjson::kObjectType);
        JSONObjectRenderer o(item, alloc);
        Value bands(rapidjson::kArrayType);
        if (c.rf_bands == 0)
            bands.PushBack(Value("any", alloc), alloc);
        if (c.rf_bands & 0x01)
            bands.PushBack(Value("2.4", alloc), alloc);
        if (c.rf_bands & 0x02)
            bands.PushBack(Value("5", alloc), alloc);
        if (c.rf_bands & 0x04)
            bands.PushBack(Value("60", alloc), alloc);
        o.add_string("ssid", c.ssid, strnlen(c.ssid, sizeof c.ssid))
            .add_uint("key-length",
                      static_cast<unsigned>(strnlen(c.network_key, sizeof c.network_key)))
            .add_string("security", auth_name(c.auth_type))
            .add_uint("auth-type", c.auth_type)
            .add_uint("encryption-type", c.encr_type)
            .add_value("bands", bands)
            .add_bool("fronthaul", (c.bss_type & MAP_CRED_FRONTHAUL) != 0)
            .add_bool("backhaul", (c.bss_type & MAP_CRED_BACKHAUL) != 0)
            .add_bool("hidden", c.hidden != 0);
        list.PushBack(item, alloc);
    }
    r.add_uint("count", count).add_value("credentials", list);
}

struct Part {
    const char* name;
    void (*render)(Context&, Value&, Allocator&);
};
const Part kParts[] = {
    {"credentials-cfg", render_credentials},
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

void rest_map_cfg_routes_linked() {}

OZR_REST_ROUTE(REST_GET, "/debug/map-cfg", on_get_map_cfg);
