// REST routing: the route entries, the process-wide preload table that modules
// fill from static initialisers, and the route table a server dispatches with.
#pragma once

#include <rapidjson/document.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "rest/http_response.h"
#include "rest/rest_cache.h"

class Context;
class ClientContext;
class Logger;

// Method bits of a route's mask.
enum RestMethod : unsigned {
    REST_GET = 1,
    REST_POST = 2,
    REST_PUT = 4,
    REST_DELETE = 8,
};

// The mask bit of an http-parser method code (enum http_method), 0 for any
// method no route can accept.
unsigned rest_method_bit(unsigned http_method);

// One request as a handler sees it.
struct HttpRequest {
    unsigned method = 0;  // http-parser method code (HTTP_GET, ...)
    // The request components that agreed with the route's pattern, in order.
    std::vector<std::string> components;
    // Query parameters from the part of the URI after "?", percent-decoded.
    std::map<std::string, std::string> query;
    // The parsed request body; a null value when the request had no body.
    rapidjson::Document body;
};

// Handlers set HttpResponse::status (and usually fill its document) and return
// 0; a non-zero return is logged by the dispatcher.
using RestHandler = std::function<int(Context&, ClientContext&, const HttpRequest&, HttpResponse&)>;

// How a route's answers relate to the daemon's state.
enum class RestRouteKind : uint8_t {
    // Any route: each request counts as a state change (it may have changed something).
    Plain,
    // Rendered once per state version and answered from that text (rest_cache.h), with
    // an entity tag. Only for GET routes whose document depends on nothing but the
    // daemon's state and the time (no query parameters, no "*" components, no side
    // effects). HEAD is answered too.
    Cached,
    // The same answer whatever the state (the page's files): not a state change. GET
    // and HEAD.
    Constant,
};

struct DispatchEntry {
    std::string path;  // e.g. "/debug/graph"; a component "*" matches any one component
    RestHandler handler;
    unsigned methods = 0;                 // REST_GET | REST_POST | ...
    std::vector<std::string> components;  // path split at "/"
    RestRouteKind kind = RestRouteKind::Plain;
};

// Splits a request path or a route pattern into its components: one trailing
// "/" is dropped, the leading "/" starts the first component, and the
// components are the texts between "/" characters ("/a//b" gives "a", "", "b").
// Anything from the first "?" on is ignored.
std::vector<std::string> split_uri_components(const std::string& uri);

// Parses "k1=v1&k2=v2" (the text after "?") into OUT; keys without "=" get an
// empty value, "%XX" escapes are decoded, the last of repeated keys wins.
void parse_query_string(const std::string& query, std::map<std::string, std::string>& out);

// Whether a route pattern accepts the request components, collecting the
// agreeing ones into COLLECTED. The empty pattern ("/") accepts only the empty
// request. Patterns of two or more components accept a
// request of no more components than they have whose leading components agree
// (a pattern component starting with "*" agrees with anything) for at least the
// first two, comparison stopping at the first disagreement or the end of the
// request. A single-component pattern such as "/quit" accepts exactly one
// agreeing request component, so "/debug" never reaches "/debug/graph".
bool route_matches(const std::vector<std::string>& pattern, const std::vector<std::string>& request,
                   std::vector<std::string>* collected);

// Adds a route to the process-wide preload table (created on first use). Meant
// for static initialisers of the modules that own the handlers; see
// OZR_REST_ROUTE.
void add_restapi_dispatch_entry(unsigned methods, const std::string& path, RestHandler handler,
                                RestRouteKind kind = RestRouteKind::Plain);
// The preload table, or null while nothing has been registered.
const std::vector<DispatchEntry>* restapi_dispatch_preload();
// Drops the preload table (tests, and the end of the process).
void clear_restapi_dispatch_preload();

// A static registration: OZR_REST_ROUTE(REST_GET, "/debug/graph", on_debug_graph);
// Put it in a source file that the program links for other reasons (the
// module's minder), since a static library member nothing refers to is left out.
struct RestRouteRegistration {
    RestRouteRegistration(unsigned methods, const char* path, RestHandler handler,
                          RestRouteKind kind = RestRouteKind::Plain) {
        add_restapi_dispatch_entry(methods, path, std::move(handler), kind);
    }
};
#define OZR_REST_CONCAT2(a, b) a##b
#define OZR_REST_CONCAT(a, b) OZR_REST_CONCAT2(a, b)
#define OZR_REST_ROUTE(methods, path, handler)                                     \
    static const RestRouteRegistration OZR_REST_CONCAT(ozr_rest_route_, __LINE__)( \
        (methods), (path), (handler))
// A GET route answered from its rendered text until the state version moves (see
// RestRouteKind::Cached): OZR_REST_CACHED_ROUTE("/debug/graph", on_debug_graph);
#define OZR_REST_CACHED_ROUTE(path, handler)                                       \
    static const RestRouteRegistration OZR_REST_CONCAT(ozr_rest_route_, __LINE__)( \
        REST_GET, (path), (handler), RestRouteKind::Cached)
// A GET route with a fixed answer (RestRouteKind::Constant), usually given with
// rest_answer_tagged: OZR_REST_CONSTANT_ROUTE("/ui/app.js", on_script);
#define OZR_REST_CONSTANT_ROUTE(path, handler)                                     \
    static const RestRouteRegistration OZR_REST_CONCAT(ozr_rest_route_, __LINE__)( \
        REST_GET, (path), (handler), RestRouteKind::Constant)

// Answers BODY with status 200, the header lines HEADERS (each ending in "\r\n") and the
// entity tag ETAG (with its quotes); or "304 Not Modified" without a body when the
// request's If-None-Match names the tag.
void rest_answer_tagged(const ClientContext& client, HttpResponse& response, std::string body,
                        const std::string& headers, const std::string& etag);

// The route table of one server. Fixed once the server runs.
class DispatchTable {
  public:
    explicit DispatchTable(const Logger* logger) : logger_(logger) {}

    // Copies every entry of the preload table ("dispatch_table_preload has {}
    // entries", "Adding preloaded endpoint {}", or "dispatch_table_preload is
    // null?!" when nothing was registered).
    void load_preload();
    void add(unsigned methods, const std::string& path, RestHandler handler,
             RestRouteKind kind = RestRouteKind::Plain);

    const std::vector<DispatchEntry>& entries() const { return entries_; }
    // Cached routes: documents rendered and answers served from a kept text.
    uint64_t cache_renders() const { return cache_renders_; }
    uint64_t cache_hits() const { return cache_hits_; }
    // Turns the cache off (every cached route renders afresh, without an entity tag) or
    // on again.
    void set_cache_enabled(bool on) { cache_enabled_ = on; }

    // Routes one request: logs "Dispatching URI {}", finds the first entry
    // whose mask has the method's bit and whose pattern accepts the URI,
    // builds the HttpRequest (BODY is moved into it) and calls the handler,
    // returning its result. Without a match logs "Could not find a match for
    // {}" and answers 404. A handler always starts from a fresh document. A cached
    // route's answer comes as a finished body (HttpResponse::prerendered) with its entity
    // tag, or as a 304; a plain route's handler counts as a state change. HEAD reaches
    // cached and constant routes only.
    int dispatch_uri(Context& ctx, ClientContext& client, unsigned method, const std::string& uri,
                     rapidjson::Document&& body, HttpResponse& response) const;

  private:
    int answer_cached(size_t index, Context& ctx, ClientContext& client, HttpRequest& request,
                      HttpResponse& response) const;

    const Logger* logger_;
    std::vector<DispatchEntry> entries_;
    mutable std::vector<RestCachedText> cache_;  // one per entry
    mutable uint64_t cache_renders_ = 0;
    mutable uint64_t cache_hits_ = 0;
    bool cache_enabled_ = true;
};
