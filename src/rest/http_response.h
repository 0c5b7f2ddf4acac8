// The answer to one REST request and the text it is sent as.
#pragma once

#include <rapidjson/document.h>

#include <string>

struct HttpResponse {
    int status = 500;
    // Complete header lines, each ending in "\r\n".
    std::string headers;
    std::string body;
    // The document handlers fill; rendered into the body when it holds a value.
    // A fresh document allocates from its own pool in 64 KiB chunks.
    rapidjson::Document document;
    // The document is written without indentation (a document read by programs only,
    // such as the page's "/ui/mesh"); every other answer is pretty-printed.
    bool compact = false;
    // A body already rendered (a cached document): sent as it is, with these header
    // lines after the CORS ones (where the rendering puts its Content-Type).
    bool prerendered = false;
    std::string prerendered_headers;

    void add_header(const std::string& name, const std::string& value);
    // Back to a fresh response: status 500, no headers, no body, null document.
    void reset();
};

// "HTTP/1.1 200 OK" and the other status lines the API uses; every code
// without a line of its own gives "HTTP/1.1 500 Internal Server Error".
const char* http_status_line(int status);

// The CORS lines: the request's Origin echoed when it sent one, "*" otherwise,
// then the allowed methods and headers.
void add_cors_headers(HttpResponse& response, bool origin_present, const std::string& origin);

// Renders the document, when it holds a value, into the body with four-space
// indentation (none when the response is compact) and adds "Content-Type:
// application/json". False when the document cannot be written as JSON (the body is
// then left empty).
bool render_json_body(HttpResponse& response);
// The document's text as render_json_body writes it, appended to OUT.
bool write_json_text(HttpResponse& response, std::string& out);

// Sets STATUS and a document {"error": TEXT}.
void set_json_error(HttpResponse& response, int status, const std::string& text);

// The response head: status line, header lines, "Content-Length: {}" with the
// body length unless the headers already carry one or the status is 304, and the
// empty line.
std::string build_response_head(const HttpResponse& response);
