#include "rest/log_routes.h"

#include <fmt/format.h>

#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"
#include "rest/setter.h"

namespace {

using Value = rapidjson::Value;

// Module names of the request and their fields.
struct OzrModule {
    const char* name;
    std::string OzrLogCfg::*field;
};
const OzrModule kOzrModules[] = {
    {"root", &OzrLogCfg::root},
    {"root.configuration", &OzrLogCfg::configuration},
    {"root.controller", &OzrLogCfg::controller},
    {"root.data", &OzrLogCfg::data},
    {"root.graph", &OzrLogCfg::graph},
    {"root.mgmt", &OzrLogCfg::mgmt},
    {"root.rest", &OzrLogCfg::rest},
    {"root.steering", &OzrLogCfg::steering},
};
struct MapModule {
    const char* name;
    std::string MapLogCfg::*field;
};
const MapModule kMapModules[] = {
    {"map.1905", &MapLogCfg::map_1905},
    {"map.library", &MapLogCfg::map_library},
    {"map.controller", &MapLogCfg::map_controller},
    {"map.vendor-ipc", &MapLogCfg::map_vendor_ipc},
};

DataMinder* data_minder_or_503(Context& ctx, HttpResponse& resp) {
    if (ctx.data_minder)
        return ctx.data_minder;
    rest_unavailable(resp, root_logger, "Cannot find data minder");
    return nullptr;
}

int on_get_log_config(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    DataMinder* dm = data_minder_or_503(ctx, resp);
    if (!dm)
        return 0;
    OzrLogCfg ozr;
    MapLogCfg map;
    std::string dest;
    if (dm->ozr_dbg_get_ozr_log_cfg(ozr) != 0 || dm->ozr_dbg_get_map_log_cfg(map) != 0 ||
        dm->ozr_dbg_get_log_destination(dest) != 0) {
        set_json_error(resp, 500, "Cannot read the logging configuration");
        return 0;
    }
    auto& alloc = resp.document.GetAllocator();
    Value levels(rapidjson::kObjectType);
    JSONObjectRenderer l(levels, alloc);
    for (const OzrModule& m : kOzrModules)
        l.add_string(m.name, ozr.*m.field);
    for (const MapModule& m : kMapModules)
        l.add_string(m.name, map.*m.field);
    JSONObjectRenderer(resp.document).add_value("log-level", levels).add_string("log-path", dest);
    resp.status = 200;
    return 0;
}

// A level given as a name ("debug", "err", ...) or a number 0..7, as its canonical name.
bool level_name(const Value& v, std::string& out) {
    if (v.IsInt()) {
        if (v.GetInt() < 0 || v.GetInt() > 7)
            return false;
        out = log_level_to_str(v.GetInt());
        return true;
    }
    if (!v.IsString())
        return false;
    auto r = str_to_log_level(std::string(v.GetString(), v.GetStringLength()));
    if (!r.second)
        return false;
    out = log_level_to_str(r.first);
    return true;
}

int on_put_log_level(Context& ctx, ClientContext& client, const HttpRequest& req,
                     HttpResponse& resp) {
    DataMinder* dm = data_minder_or_503(ctx, resp);
    if (!dm)
        return 0;
    const Logger* log = dm->logger();
    if (!req.body.IsObject()) {
        OZR_ERROR(log, "Parse Error: Invalid request body: {}", client.get_body());
        return rest_reject(resp, log, "Invalid request body");
    }
    auto it = req.body.FindMember("log-level");
    if (it == req.body.MemberEnd() || !it->value.IsObject() || it->value.ObjectEmpty()) {
        OZR_ERROR(log, "Parse Error: Invalid request parameter");
        return rest_reject(resp, log, "Invalid request parameter");
    }
    OzrLogCfg ozr;
    MapLogCfg map;
    dm->ozr_dbg_get_ozr_log_cfg(ozr);
    dm->ozr_dbg_get_map_log_cfg(map);
    bool ozr_changed = false, map_changed = false;
    for (const auto& m : it->value.GetObject()) {
        std::string module(m.name.GetString(), m.name.GetStringLength());
        std::string level;
        std::string* target = nullptr;
        for (const OzrModule& om : kOzrModules)
            if (module == om.name) {
                target = &(ozr.*om.field);
                ozr_changed = true;
            }
        for (const MapModule& mm : kMapModules)
            if (module == mm.name) {
                target = &(map.*mm.field);
                map_changed = true;
            }
        if (!target)
            return rest_reject(
                resp, log,
                fmt::format("Invalid request. Unknown module: {}", rest_printable(module)));
        if (!level_name(m.value, level))
            return rest_reject(
                resp, log,
                fmt::format("Invalid request. Bad log level for {}", rest_printable(module)));
        *target = level;
    }
    if ((ozr_changed && dm->ozr_dbg_update_ozr_log_cfg(ozr) != 0) ||
        (map_changed && dm->ozr_dbg_update_map_log_cfg(map) != 0)) {
        set_json_error(resp, 500, "Log level update failed");
        return 0;
    }
    return rest_accepted(resp);
}

int on_put_log_path(Context& ctx, ClientContext& client, const HttpRequest& req,
                    HttpResponse& resp) {
    DataMinder* dm = data_minder_or_503(ctx, resp);
    if (!dm)
        return 0;
    const Logger* log = dm->logger();
    std::string path;
    if (!rest_body_string(client, req, resp, "log-path", path, log))
        return 0;
    if (path.empty() || path.size() > 255 || path.find('\0') != std::string::npos)
        return rest_reject(resp, log, "log-path must be a text of 1 to 255 bytes");
    if (dm->ozr_dbg_update_log_destination(path) != 0) {
        set_json_error(resp, 500, "Log path update failed");
        return 0;
    }
    return rest_accepted(resp);
}

}  // namespace

void data_log_routes_linked() {}

OZR_REST_ROUTE(REST_GET, "/1/log-config", on_get_log_config);
OZR_REST_ROUTE(REST_PUT, "/1/log-level", on_put_log_level);
OZR_REST_ROUTE(REST_PUT, "/1/log-path", on_put_log_path);
