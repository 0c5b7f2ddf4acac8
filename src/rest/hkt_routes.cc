// GET /debug/hktmgmt: every vendor agent node of the registry, with its state.
#include "hkt/hkt_routes.h"

#include "core/context.h"
#include "data/ap_config_db.h"
#include "hkt/hkt_mgmt_minder.h"
#include "rest/dispatch.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"
#include "rest/rest_cache.h"
#include "rest/rest_minder.h"
#include "rest/setter.h"

void hkt_routes_linked() {}

namespace {

using Value = rapidjson::Value;

Value& push_object(Value& arr, rapidjson::Document::AllocatorType& alloc) {
    arr.PushBack(Value(rapidjson::kObjectType), alloc);
    return arr[arr.Size() - 1];
}

}  // namespace

void render_hkt_node(const HktNode& n, int64_t now, Value& out,
                     rapidjson::Document::AllocatorType& alloc, bool full) {
    JSONObjectRenderer r(out, alloc);
    r.add_string("sn", n.serial_number)
        .add_mac("hkt-mac", n.hkt_mac)
        .add_mac("agent-mac", n.agent_mac)
        .add_mac("system-mac", n.system_mac)
        .add_string("ap-status", ApConfigDb::status_to_string(n.ap_status))
        .add_bool("online", n.is_online)
        .add_bool("got-discovery", n.got_discovery)
        .add_int64(
            "last-heard-ms-ago",
            n.last_heard == 0 ? -1 : rest_time_value(now, n.last_heard, RestTimeKind::MsSince))
        .add_uint("uptime", n.uptime)
        .add_uint("capabilities-version", n.capabilities_version)
        .add_uint("hkt-version", n.hkt_version)
        .add_uint("config-number", n.config_number)
        .add_string("model-number", n.model_number)
        .add_string("sw-version", n.sw_version)
        .add_string("vendor", n.vendor)
        .add_string("product-class", n.product_class)
        .add_string("hostname", n.hostname)
        .add_string("ip-address", n.ip_addr);
    if (!full)
        return;
    r.add_string("ipv6-local", n.ipv6_local_addr);
    Value v6(rapidjson::kArrayType);
    for (const std::string& a : n.ipv6_global_addrs)
        v6.PushBack(Value(a.c_str(), static_cast<rapidjson::SizeType>(a.size()), alloc), alloc);
    r.add_value("ipv6-global", v6);
    r.add_uint("minders-present", n.minders_present);
    Value caps(rapidjson::kArrayType);
    for (uint16_t c : n.minder_capabilites)
        caps.PushBack(Value(static_cast<unsigned>(c)), alloc);
    r.add_value("minder-capabilities", caps);
    Value ifs(rapidjson::kArrayType);
    for (const HktInterface& i : n.interfaces) {
        JSONObjectRenderer(push_object(ifs, alloc), alloc)
            .add_string("name", i.name)
            .add_mac("mac", i.mac)
            .add_uint("media-type", i.media_type)
            .add_uint("power-state", i.power_state)
            .add_uint("port", i.physical_port);
    }
    r.add_value("interfaces", ifs);
}

namespace {

int on_get_hktmgmt(Context& ctx, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    if (!ctx.hkt_mgmt_minder)
        return rest_unavailable(resp, ctx.rest_minder ? ctx.rest_minder->logger() : root_logger,
                                "Cannot find hkt mgmt minder");
    const HktMgmtMinder& h = *ctx.hkt_mgmt_minder;
    resp.document.SetObject();
    auto& alloc = resp.document.GetAllocator();
    Value nodes(rapidjson::kArrayType);
    const int64_t now = ctx.now();
    for (const HktNode& n : h.hkt_nodes())
        render_hkt_node(n, now, push_object(nodes, alloc), alloc);
    JSONObjectRenderer(resp.document)
        .add_string("virtual-sn", h.virtual_sn())
        .add_value("hktInfo", nodes);
    resp.status = 200;
    return 0;
}

}  // namespace

OZR_REST_ROUTE(REST_GET, "/debug/hktmgmt", on_get_hktmgmt);
