// The page's files: "GET /" redirects to "/ui/", which answers index.html; "/ui/app.js",
// "/ui/style.css" and "/ui/icon.svg" answer the others. Each answer carries the page's
// Content-Security-Policy (its own files only, no inline script or style) and the file's
// entity tag, so a browser that has the file is answered 304.
#include "rest/ui_routes.h"

#include <cstring>
#include <string>

#include "rest/dispatch.h"

namespace {

// Only the daemon's own files: no inline scripts, styles or event handlers, no plugins,
// no other origin, no framing, no form posts.
const char kSecurityHeaders[] =
    "Content-Security-Policy: default-src 'self'; object-src 'none'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n";

const char* content_type(const char* name) {
    const char* dot = std::strrchr(name, '.');
    const std::string ext = dot ? dot + 1 : "";
    if (ext == "html")
        return "text/html; charset=utf-8";
    if (ext == "js")
        return "text/javascript; charset=utf-8";
    if (ext == "css")
        return "text/css; charset=utf-8";
    if (ext == "svg")
        return "image/svg+xml";
    return "application/octet-stream";
}

RestHandler asset_route(const char* name) {
    return [name](Context&, ClientContext& client, const HttpRequest&, HttpResponse& resp) {
        const UiAsset* a = find_ui_asset(name);
        if (!a) {
            set_json_error(resp, 404, "No such route");
            return 0;
        }
        std::string headers = std::string("Content-Type: ") + content_type(name) + "\r\n";
        headers += kSecurityHeaders;
        rest_answer_tagged(client, resp,
                           std::string(reinterpret_cast<const char*>(a->data), a->size), headers,
                           a->etag);
        return 0;
    };
}

int on_root(Context&, ClientContext&, const HttpRequest&, HttpResponse& resp) {
    resp.status = 302;
    resp.prerendered = true;
    resp.prerendered_headers = "Location: /ui/\r\n";
    return 0;
}

}  // namespace

const UiAsset* find_ui_asset(const char* name) {
    for (size_t i = 0; i < kUiAssetCount; ++i)
        if (std::strcmp(kUiAssets[i].name, name) == 0)
            return &kUiAssets[i];
    return nullptr;
}

void rest_ui_routes_linked() {
    rest_ui_mesh_linked();
}

OZR_REST_CONSTANT_ROUTE("/", on_root);
OZR_REST_CONSTANT_ROUTE("/ui", asset_route("index.html"));
OZR_REST_CONSTANT_ROUTE("/ui/app.js", asset_route("app.js"));
OZR_REST_CONSTANT_ROUTE("/ui/style.css", asset_route("style.css"));
OZR_REST_CONSTANT_ROUTE("/ui/icon.svg", asset_route("icon.svg"));
