#include "rest/builtin_routes.h"

#include <uv.h>

#include "core/log.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"

#ifndef OZR_VERSION
#define OZR_VERSION "0.0.0"
#endif
#ifndef OZR_COMMIT
#define OZR_COMMIT "unknown"
#endif

int on_debug_rest_get(HttpResponse& response) {
    JSONObjectRenderer(response.document).add_string("returnval", "hello world");
    response.status = 200;
    return 0;
}

int on_debug_rest_set(const HttpRequest& request, HttpResponse& response, const Logger* logger) {
    const rapidjson::Document& body = request.body;
    if (!body.IsObject() || body.MemberCount() != 1 || !body.HasMember("value") ||
        !body["value"].IsString()) {
        set_json_error(response, 400,
                       "Must supply a JSON object with a single string element called 'value'");
        return 0;
    }
    std::string text = fmt::format("String {}", body["value"].GetString());
    OZR_INFO(logger, "{}", text);
    JSONObjectRenderer(response.document).add_string("returnval", text);
    response.status = 200;
    return 0;
}

int on_debug_query(const HttpRequest& request, HttpResponse& response) {
    std::string report = "Query string:";
    if (request.query.empty())
        report += " none provided";
    for (const auto& kv : request.query)
        report += fmt::format(" (k='{}' v='{}')", kv.first, kv.second);
    JSONObjectRenderer(response.document).add_string("report", report);
    response.status = 200;
    return 0;
}

int on_debug_array(HttpResponse& response) {
    JSONObjectRenderer r(response.document);
    rapidjson::Value ints(rapidjson::kArrayType);
    for (int i = 1; i <= 5; ++i)
        ints.PushBack(i, r.allocator());
    rapidjson::Value strings(rapidjson::kArrayType);
    for (const char* s : {"one", "two", "three"})
        strings.PushBack(rapidjson::StringRef(s), r.allocator());
    r.add_value("test_ints", ints).add_value("test_strings", strings);
    response.status = 200;
    return 0;
}

int on_version(HttpResponse& response) {
    JSONObjectRenderer(response.document)
        .add_string("name", "ozr")
        .add_string("version", OZR_VERSION)
        .add_string("commit", OZR_COMMIT)
        .add_uint("api", 1);
    response.status = 200;
    return 0;
}

// "/1/version" belongs to no minder; it registers like the routes of the
// modules that own their handlers.
OZR_REST_ROUTE(REST_GET, "/1/version",
               [](Context&, ClientContext&, const HttpRequest&, HttpResponse& response) {
                   return on_version(response);
               });

void add_builtin_routes(DispatchTable& table, const Logger* logger) {
    table.add(REST_GET, "/debug/rest",
              [](Context&, ClientContext&, const HttpRequest&, HttpResponse& response) {
                  return on_debug_rest_get(response);
              });
    table.add(
        REST_POST | REST_PUT, "/debug/rest",
        [logger](Context&, ClientContext&, const HttpRequest& request, HttpResponse& response) {
            return on_debug_rest_set(request, response, logger);
        });
    table.add(REST_GET, "/debug/query",
              [](Context&, ClientContext&, const HttpRequest& request, HttpResponse& response) {
                  return on_debug_query(request, response);
              });
    table.add(REST_GET, "/debug/array",
              [](Context&, ClientContext&, const HttpRequest&, HttpResponse& response) {
                  return on_debug_array(response);
              });
    table.add(
        REST_GET, "/quit",
        [logger](Context&, ClientContext& client, const HttpRequest&, HttpResponse& response) {
            OZR_NOTICE(logger, "REST: /quit from {}, stopping the event loop", client.peer());
            uv_stop(client.loop());
            response.status = 200;
            return 0;
        });
}
