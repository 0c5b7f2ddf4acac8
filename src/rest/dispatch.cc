#include "rest/dispatch.h"

#include <http_parser.h>

#include "core/context.h"
#include "core/log.h"
#include "core/state_version.h"
#include "rest/http_server.h"
#include "rest/json_writer.h"

namespace {

// Created on the first registration, which may run before main: a plain
// pointer is constant-initialised, so static initialisers in any order find it.
std::vector<DispatchEntry>* dispatch_table_preload = nullptr;

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string percent_decode(const char* s, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (s[i] == '%' && i + 2 < n) {
            int hi = hex_value(s[i + 1]);
            int lo = hex_value(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

// The header lines that go with an entity tag. "no-cache": a browser may keep the answer
// but asks again (with If-None-Match) before it uses it.
void append_tag_headers(std::string& headers, const std::string& etag) {
    headers.append("ETag: ").append(etag).append("\r\nCache-Control: no-cache\r\n");
}

// True, with RESPONSE made a 304 without a body, when the request names ETAG.
bool answer_not_modified(const ClientContext& client, const std::string& etag,
                         HttpResponse& response) {
    if (client.if_none_match().empty() || !rest_etag_matches(client.if_none_match(), etag))
        return false;
    response.reset();
    response.status = 304;
    response.prerendered = true;
    append_tag_headers(response.prerendered_headers, etag);
    return true;
}

}  // namespace

void rest_answer_tagged(const ClientContext& client, HttpResponse& response, std::string body,
                        const std::string& headers, const std::string& etag) {
    if (answer_not_modified(client, etag, response))
        return;
    response.reset();
    response.status = 200;
    response.body = std::move(body);
    response.prerendered = true;
    response.prerendered_headers = headers;
    append_tag_headers(response.prerendered_headers, etag);
}

unsigned rest_method_bit(unsigned http_method) {
    switch (http_method) {
        case HTTP_GET:
            return REST_GET;
        case HTTP_POST:
            return REST_POST;
        case HTTP_PUT:
            return REST_PUT;
        case HTTP_DELETE:
            return REST_DELETE;
        default:
            return 0;
    }
}

std::vector<std::string> split_uri_components(const std::string& uri) {
    size_t end = uri.find('?');
    if (end == std::string::npos)
        end = uri.size();
    if (end > 0 && uri[end - 1] == '/')
        --end;
    size_t pos = (end > 0 && uri[0] == '/') ? 1 : 0;
    std::vector<std::string> out;
    // "" and "/" have no components; "/a" gives "a"; "/a//b/" gives "a", "", "b".
    if (pos >= end)
        return out;
    while (true) {
        size_t slash = uri.find('/', pos);
        if (slash == std::string::npos || slash > end)
            slash = end;
        out.emplace_back(uri, pos, slash - pos);
        if (slash >= end)
            break;
        pos = slash + 1;
    }
    return out;
}

void parse_query_string(const std::string& query, std::map<std::string, std::string>& out) {
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t amp = query.find('&', pos);
        if (amp == std::string::npos)
            amp = query.size();
        if (amp > pos) {
            const char* p = query.data() + pos;
            size_t n = amp - pos;
            size_t eq = 0;
            while (eq < n && p[eq] != '=')
                ++eq;
            std::string key = percent_decode(p, eq);
            std::string value = eq < n ? percent_decode(p + eq + 1, n - eq - 1) : std::string();
            out[std::move(key)] = std::move(value);
        }
        pos = amp + 1;
    }
}

bool route_matches(const std::vector<std::string>& pattern, const std::vector<std::string>& request,
                   std::vector<std::string>* collected) {
    if (collected)
        collected->clear();
    if (request.empty() || pattern.empty())
        return request.empty() && pattern.empty();
    if (pattern.size() < request.size())
        return false;
    auto agrees = [](const std::string& p, const std::string& r) {
        return (!p.empty() && p[0] == '*') || p == r;
    };
    if (pattern.size() == 1) {
        // Single-component routes: exactly one agreeing request component.
        if (!agrees(pattern[0], request[0]))
            return false;
        if (collected)
            collected->push_back(request[0]);
        return true;
    }
    size_t agreed = 0;
    while (agreed < request.size() && agrees(pattern[agreed], request[agreed]))
        ++agreed;
    if (agreed < 2)
        return false;
    if (collected)
        collected->assign(request.begin(), request.begin() + agreed);
    return true;
}

void add_restapi_dispatch_entry(unsigned methods, const std::string& path, RestHandler handler,
                                RestRouteKind kind) {
    if (!dispatch_table_preload) {
        dispatch_table_preload = new std::vector<DispatchEntry>();
        OZR_DEBUG(root_logger, "Creating preload dispatch table\n");
    }
    OZR_DEBUG(root_logger, "Adding preload dispatch entry for {}\n", path);
    dispatch_table_preload->push_back(
        DispatchEntry{path, std::move(handler), methods, split_uri_components(path), kind});
}

const std::vector<DispatchEntry>* restapi_dispatch_preload() {
    return dispatch_table_preload;
}

void clear_restapi_dispatch_preload() {
    delete dispatch_table_preload;
    dispatch_table_preload = nullptr;
}

void DispatchTable::load_preload() {
    if (!dispatch_table_preload) {
        OZR_ERROR(logger_, "dispatch_table_preload is null?!");
        return;
    }
    OZR_INFO(logger_, "dispatch_table_preload has {} entries", dispatch_table_preload->size());
    for (const DispatchEntry& e : *dispatch_table_preload) {
        OZR_DEBUG(logger_, "Adding preloaded endpoint {}", e.path);
        entries_.push_back(e);
    }
    cache_.resize(entries_.size());
}

void DispatchTable::add(unsigned methods, const std::string& path, RestHandler handler,
                        RestRouteKind kind) {
    entries_.push_back(
        DispatchEntry{path, std::move(handler), methods, split_uri_components(path), kind});
    cache_.resize(entries_.size());
}

int DispatchTable::answer_cached(size_t index, Context& ctx, ClientContext& client,
                                 HttpRequest& request, HttpResponse& response) const {
    const DispatchEntry& e = entries_[index];
    RestCachedText& kept = cache_[index];
    if (!cache_enabled_)
        return e.handler(ctx, client, request, response);
    const uint64_t version = state_version();
    if (!kept.valid(version)) {
        ++cache_renders_;
        int rc = 0;
        bool stored = false;
        {
            RestTimeRecorder recorder;
            rc = e.handler(ctx, client, request, response);
            std::string text;
            if (rc == 0 && !response.document.IsNull() && write_json_text(response, text))
                stored = kept.store(version, response.status, response.headers, std::move(text),
                                    recorder.slots());
        }
        if (!stored) {
            // Not kept (an error answer, or a text the slots could not be found in): the
            // document holds markers, so it is rendered once more as it is.
            kept.clear();
            response.reset();
            return e.handler(ctx, client, request, response);
        }
    } else {
        ++cache_hits_;
    }
    response.reset();
    if (answer_not_modified(client, kept.etag(), response))
        return 0;
    response.status = kept.status();
    response.headers = kept.headers();
    kept.write(ctx.now(), response.body);
    response.prerendered = true;
    response.prerendered_headers = "Content-Type: application/json\r\n";
    append_tag_headers(response.prerendered_headers, kept.etag());
    return 0;
}

int DispatchTable::dispatch_uri(Context& ctx, ClientContext& client, unsigned method,
                                const std::string& uri, rapidjson::Document&& body,
                                HttpResponse& response) const {
    OZR_DEBUG(logger_, "Dispatching URI {}", uri);
    // HEAD is a GET without the body (the server leaves it out), for the routes whose GET
    // changes nothing.
    const bool head = method == HTTP_HEAD;
    const unsigned bit = head ? REST_GET : rest_method_bit(method);
    std::vector<std::string> components = split_uri_components(uri);
    HttpRequest request;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const DispatchEntry& e = entries_[i];
        if (!(e.methods & bit) || !e.handler || (head && e.kind == RestRouteKind::Plain))
            continue;
        if (!route_matches(e.components, components, &request.components))
            continue;
        OZR_DEBUG(logger_, "Found match: {}", e.path);
        request.method = method;
        size_t q = uri.find('?');
        if (q != std::string::npos)
            parse_query_string(uri.substr(q + 1), request.query);
        request.body.Swap(body);
        response.reset();
        if (e.kind == RestRouteKind::Cached && bit == REST_GET && i < cache_.size())
            return answer_cached(i, ctx, client, request, response);
        int rc = e.handler(ctx, client, request, response);
        if (e.kind != RestRouteKind::Constant)
            note_state_change();  // any other route may have changed what the documents show
        return rc;
    }
    OZR_ERROR(logger_, "Could not find a match for {}\n", uri);
    set_json_error(response, 404, "No such route");
    return 0;
}
