#include "rest/http_response.h"

#include <fmt/format.h>

#include "rest/json_writer.h"

void HttpResponse::add_header(const std::string& name, const std::string& value) {
    headers.append(name).append(": ").append(value).append("\r\n");
}

void HttpResponse::reset() {
    status = 500;
    headers.clear();
    body.clear();
    prerendered = false;
    prerendered_headers.clear();
    compact = false;
    // Swapping in a fresh document releases the old one's pool with it.
    rapidjson::Document fresh;
    document.Swap(fresh);
}

const char* http_status_line(int status) {
    switch (status) {
        case 200:
            return "HTTP/1.1 200 OK";
        case 201:
            return "HTTP/1.1 201 Created";
        case 204:
            return "HTTP/1.1 204 No Content";
        case 302:
            return "HTTP/1.1 302 Found";
        case 304:
            return "HTTP/1.1 304 Not Modified";
        case 400:
            return "HTTP/1.1 400 Bad Request";
        case 404:
            return "HTTP/1.1 404 Not Found";
        case 405:
            return "HTTP/1.1 405 Not Allowed";
        case 413:
            return "HTTP/1.1 413 Payload Too Large";
        case 503:
            return "HTTP/1.1 503 Service Unavailable";
        default:
            return "HTTP/1.1 500 Internal Server Error";
    }
}

void add_cors_headers(HttpResponse& response, bool origin_present, const std::string& origin) {
    if (origin_present)
        response.headers.append("Access-Control-Allow-Origin: ").append(origin).append("\r\n");
    else
        response.headers.append("Access-Control-Allow-Origin: *\r\n");
    response.headers.append("Access-Control-Allow-Methods: POST, OPTIONS\r\n");
    response.headers.append("Access-Control-Allow-Headers: Content-Type\r\n");
}

bool render_json_body(HttpResponse& response) {
    if (response.document.IsNull())
        return true;
    // The body is written in place (the text is often most of the answer's memory);
    // the writer's nesting stack comes from the document's pool.
    response.body.clear();
    if (!write_json_text(response, response.body)) {
        response.body.clear();
        return false;
    }
    response.headers.append("Content-Type: application/json\r\n");
    return true;
}

bool write_json_text(HttpResponse& response, std::string& out) {
    if (response.compact)
        return write_compact_json(response.document, out);
    return write_pretty_json(response.document, out, response.document.GetAllocator());
}

void set_json_error(HttpResponse& response, int status, const std::string& text) {
    response.status = status;
    rapidjson::Document fresh;
    response.document.Swap(fresh);
    auto& a = response.document.GetAllocator();
    response.document.SetObject();
    response.document.AddMember("error", rapidjson::Value(text.c_str(), text.size(), a), a);
}

std::string build_response_head(const HttpResponse& response) {
    std::string head;
    head.reserve(64 + response.headers.size());
    head.append(http_status_line(response.status)).append("\r\n");
    head.append(response.headers);
    // A 304 has no body, and a Content-Length there would have to be the length of the
    // body it stands for: none is sent.
    if (response.status != 304 && response.headers.find("Content-Length:") == std::string::npos)
        head.append(fmt::format("Content-Length: {}\r\n", response.body.size()));
    head.append("\r\n");
    return head;
}
