#include "rest/http_server.h"

#include <rapidjson/error/en.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "core/log.h"
#include "rest/json_writer.h"

namespace {

// One queued response: its head and body stay alive until libuv has written them.
struct WriteReq {
    uv_write_t req;
    std::string head;
    std::string body;
    size_t size = 0;
};

// The Origin value is echoed into a response header: keep only printable bytes.
void append_header_safe(std::string& out, const char* at, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        unsigned char ch = static_cast<unsigned char>(at[i]);
        if (ch >= 0x20 && ch != 0x7f)
            out.push_back(static_cast<char>(ch));
    }
}

std::string peer_text(uv_tcp_t* tcp) {
    struct sockaddr_storage ss;
    int len = sizeof ss;
    if (uv_tcp_getpeername(tcp, reinterpret_cast<struct sockaddr*>(&ss), &len) != 0)
        return "unknown";
    char ip[64] = {0};
    if (ss.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const struct sockaddr_in*>(&ss);
        uv_ip4_name(a, ip, sizeof ip);
        return fmt::format("{}:{}", ip, ntohs(a->sin_port));
    }
    if (ss.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const struct sockaddr_in6*>(&ss);
        uv_ip6_name(a, ip, sizeof ip);
        return fmt::format("[{}]:{}", ip, ntohs(a->sin6_port));
    }
    return "unknown";
}

constexpr size_t kMaxHeaderValue = 512;
// As much of a header name as tells the kept ones apart ("If-None-Match" is the longest).
constexpr size_t kKeptFieldBytes = 13;
constexpr size_t kKeptBodyCapacity = 4096;

}  // namespace

void ClientContext::generate_json_content(rapidjson::Document& doc) {
    if (doc.IsNull())
        return;
    std::string body;
    if (!(response_.compact ? write_compact_json(doc, body) : write_pretty_json(doc, body))) {
        OZR_ERROR(server_->logger(), "Could not render response content in JSON");
        response_.status = 500;
        return;
    }
    response_.body = std::move(body);
    response_.headers.append("Content-Type: application/json\r\n");
}

void ClientContext::reset_request() {
    uri_.clear();
    if (body_.capacity() > kKeptBodyCapacity)
        std::string().swap(body_);
    else
        body_.clear();
    method_ = 0;
    message_complete_ = false;
    origin_present_ = false;
    origin_.clear();
    if_none_match_.clear();
    kept_value_ = nullptr;
    response_.reset();
    field_.clear();
    last_was_value_ = false;
    header_count_ = 0;
    header_bytes_ = 0;
    value_bytes_ = 0;
    limit_ = Limit::None;
}

HttpServer::HttpServer(uv_loop_t* loop, const Logger* logger, Context& ctx,
                       const DispatchTable& table, const RestLimits& limits)
    : loop_(loop), logger_(logger), ctx_(ctx), table_(table), limits_(limits) {
    settings_.on_message_begin = cb_message_begin;
    settings_.on_url = cb_url;
    settings_.on_header_field = cb_header_field;
    settings_.on_header_value = cb_header_value;
    settings_.on_headers_complete = cb_headers_complete;
    settings_.on_body = cb_body;
    settings_.on_message_complete = cb_message_complete;
    read_buffer_ = new (std::nothrow) char[kReadBufferSize];
    if (!read_buffer_)
        OZR_ERROR(logger_, "Could not allocate {} bytes", kReadBufferSize);
}

HttpServer::~HttpServer() {
    while (clients_) {
        ClientContext* c = clients_;
        clients_ = c->next_;
        delete c;
    }
    delete[] read_buffer_;
}

int HttpServer::start(const std::string& address, int port) {
    struct sockaddr_storage addr;
    int rc = uv_ip4_addr(address.c_str(), port, reinterpret_cast<struct sockaddr_in*>(&addr));
    if (rc != 0)
        rc = uv_ip6_addr(address.c_str(), port, reinterpret_cast<struct sockaddr_in6*>(&addr));
    if (rc == 0 && (port < 0 || port > 65535))
        rc = UV_EINVAL;
    if (rc == 0 && !read_buffer_)
        rc = UV_ENOMEM;
    if (rc == 0 && !listening_) {
        rc = uv_tcp_init(loop_, &listener_);
        if (rc == 0) {
            listener_.data = this;
            listening_ = true;
        }
    }
    if (rc == 0)
        rc = uv_tcp_bind(&listener_, reinterpret_cast<const struct sockaddr*>(&addr), 0);
    if (rc == 0)
        rc = uv_listen(reinterpret_cast<uv_stream_t*>(&listener_), 64, on_new_connection);
    if (rc != 0) {
        OZR_ERROR(logger_, "Could not start REST server");
        OZR_DEBUG(logger_, "REST: {}:{}: {}", address, port, uv_strerror(rc));
        if (listening_ && !uv_is_closing(reinterpret_cast<uv_handle_t*>(&listener_)))
            close_own(reinterpret_cast<uv_handle_t*>(&listener_), on_listener_closed);
        return rc;
    }
    struct sockaddr_storage bound;
    int len = sizeof bound;
    port_ = port;
    if (uv_tcp_getsockname(&listener_, reinterpret_cast<struct sockaddr*>(&bound), &len) == 0) {
        if (bound.ss_family == AF_INET)
            port_ = ntohs(reinterpret_cast<struct sockaddr_in*>(&bound)->sin_port);
        else if (bound.ss_family == AF_INET6)
            port_ = ntohs(reinterpret_cast<struct sockaddr_in6*>(&bound)->sin6_port);
    }
    OZR_INFO(logger_, "Accepting REST connections on port {}", port_);
    return 0;
}

void HttpServer::close() {
    close_requested_ = true;
    if (listening_ && !uv_is_closing(reinterpret_cast<uv_handle_t*>(&listener_)))
        close_own(reinterpret_cast<uv_handle_t*>(&listener_), on_listener_closed);
    for (ClientContext* c = clients_; c; c = c->next_)
        close_client(c);
}

bool HttpServer::has_unclosed_handles() const {
    if (listening_ && !uv_is_closing(reinterpret_cast<const uv_handle_t*>(&listener_)))
        return true;
    for (const ClientContext* c = clients_; c; c = c->next_)
        if (!uv_is_closing(reinterpret_cast<const uv_handle_t*>(&c->tcp_)))
            return true;
    return false;
}

void HttpServer::close_own(uv_handle_t* handle, uv_close_cb cb) {
    ++own_closes_pending_;
    uv_close(handle, cb);
}

bool HttpServer::holds_handles() const {
    return own_closes_pending_ > 0 || has_unclosed_handles();
}

void HttpServer::on_listener_closed(uv_handle_t* handle) {
    HttpServer* self = static_cast<HttpServer*>(handle->data);
    --self->own_closes_pending_;
    self->listening_ = false;
}

void HttpServer::on_new_connection(uv_stream_t* server, int status) {
    HttpServer* self = static_cast<HttpServer*>(server->data);
    if (status < 0) {
        OZR_ERROR(self->logger_, "REST: New connection error {}: {}", status, uv_strerror(status));
        return;
    }
    ClientContext* c = new (std::nothrow) ClientContext(self);
    if (!c) {
        OZR_ERROR(self->logger_, "Could not allocate {} bytes", sizeof(ClientContext));
        return;
    }
    // Linked (and counted) before anything can fail, so every path ends in
    // close_client and the close callbacks free it.
    c->next_ = self->clients_;
    if (self->clients_)
        self->clients_->prev_ = c;
    self->clients_ = c;
    ++self->connection_count_;
    if (uv_tcp_init(self->loop_, &c->tcp_) == 0) {
        c->tcp_.data = c;
        ++c->open_handles_;
        if (uv_timer_init(self->loop_, &c->timer_) == 0) {
            c->timer_.data = c;
            ++c->open_handles_;
        }
    }
    if (c->open_handles_ < 2) {
        OZR_ERROR(self->logger_, "Could not accept new connection, error {} ({})", UV_ENOMEM,
                  uv_strerror(UV_ENOMEM));
        self->close_client(c);
        return;
    }
    int rc = uv_accept(server, reinterpret_cast<uv_stream_t*>(&c->tcp_));
    if (rc != 0) {
        OZR_ERROR(self->logger_, "Could not accept new connection, error {} ({})", rc,
                  uv_strerror(rc));
        self->close_client(c);
        return;
    }
    c->peer_ = peer_text(&c->tcp_);
    if (self->connection_count_ > self->limits_.max_connections) {
        OZR_WARN(self->logger_, "REST: {} connections open, closing new connection from {}",
                 self->connection_count_ - 1, c->peer_);
        self->close_client(c);
        return;
    }
    OZR_INFO(self->logger_, "New REST API connection from {}", c->peer_);
    http_parser_init(&c->parser_, HTTP_REQUEST);
    c->parser_.data = c;
    self->arm_timer(c, self->limits_.idle_timeout_ms);
    self->start_reading(c);
}

void HttpServer::on_alloc(uv_handle_t* handle, size_t, uv_buf_t* buf) {
    ClientContext* c = static_cast<ClientContext*>(handle->data);
    HttpServer* self = c->server_;
    if (self->read_buffer_busy_ || !self->read_buffer_) {
        *buf = uv_buf_init(nullptr, 0);
        return;
    }
    self->read_buffer_busy_ = true;
    *buf = uv_buf_init(self->read_buffer_, kReadBufferSize);
}

void HttpServer::on_read(uv_stream_t* stream, ssize_t nread, const uv_buf_t* buf) {
    ClientContext* c = static_cast<ClientContext*>(stream->data);
    HttpServer* self = c->server_;
    if (buf && buf->base == self->read_buffer_)
        self->read_buffer_busy_ = false;
    if (nread == 0 || c->state_ == ClientContext::State::Closing)
        return;
    if (nread < 0) {
        if (nread != UV_EOF) {
            OZR_ERROR(self->logger_, "Read error {} ({}) on stream", nread,
                      uv_strerror(static_cast<int>(nread)));
            self->close_client(c);
            return;
        }
        // The peer is done sending: answers still queued go out first, then
        // the connection closes.
        c->peer_eof_ = true;
        self->stop_reading(c);
        c->held_.clear();
        if (c->pending_writes_ > 0) {
            c->state_ = ClientContext::State::Draining;
            c->close_after_write_ = true;
            return;
        }
        self->close_client(c);
        return;
    }
    if (c->state_ == ClientContext::State::Draining)
        return;  // discarded
    self->do_parse(c, buf->base, static_cast<size_t>(nread));
}

void HttpServer::do_parse(ClientContext* c, const char* data, size_t len) {
    size_t off = 0;
    while (off < len && c->state_ == ClientContext::State::Reading) {
        if (c->pending_write_bytes_ >= limits_.max_pending_write_bytes) {
            // The peer is not taking its answers: wait before parsing more.
            c->held_.assign(data + off, len - off);
            stop_reading(c);
            return;
        }
        size_t n = http_parser_execute(&c->parser_, &settings_, data + off, len - off);
        off += n;
        enum http_errno err = HTTP_PARSER_ERRNO(&c->parser_);
        if (c->message_complete_) {
            if (err == HPE_PAUSED)
                http_parser_pause(&c->parser_, 0);
            bool keep = http_should_keep_alive(&c->parser_) && !c->parser_.upgrade;
            do_response(c);
            if (!keep) {
                finish_after_write(c);
                return;
            }
            continue;
        }
        switch (c->limit_) {
            case ClientContext::Limit::Uri:
                OZR_WARN(logger_, "REST: URI longer than {} bytes from {}", limits_.max_uri_bytes,
                         c->peer_);
                answer_error(c, 400, "URI too long", true);
                return;
            case ClientContext::Limit::Headers:
                OZR_WARN(logger_, "REST: more than {} header lines or {} header bytes from {}",
                         limits_.max_header_count, limits_.max_header_bytes, c->peer_);
                answer_error(c, 400, "Request headers too large", true);
                return;
            case ClientContext::Limit::Body:
                OZR_WARN(logger_, "REST: body longer than {} bytes from {}", limits_.max_body_bytes,
                         c->peer_);
                answer_error(c, 413, "Request body too large", true);
                return;
            case ClientContext::Limit::None:
                break;
        }
        if (err != HPE_OK || n == 0) {
            if (err != HPE_OK)
                OZR_ERROR(logger_, "Parse failed: {}", http_errno_description(err));
            else
                OZR_ERROR(logger_, "Parse incomplete {} of {}", off, len);
            OZR_ERROR(logger_, "Failed to parse {} byte request from {}", len, c->peer_);
            // The rest of this read belongs to the broken request; parsing
            // starts afresh with the next one.
            answer_error(c, 400, http_errno_description(err), false);
            return;
        }
    }
}

void HttpServer::do_response(ClientContext* c) {
    OZR_DEBUG(logger_, "Received request from {} \"{} {}\"", c->peer_,
              http_method_str(static_cast<enum http_method>(c->method_)), c->uri_);
    arm_timer(c, limits_.idle_timeout_ms);
    HttpResponse& r = c->response_;
    if (c->method_ == HTTP_OPTIONS) {
        r.status = 204;
        add_cors_headers(r, c->origin_present_, c->origin_);
        send_response(c);
        return;
    }
    r.status = 500;
    rapidjson::Document body;
    if (!c->body_.empty()) {
        // Iterative parsing: a deeply nested body cannot exhaust the stack.
        body.Parse<rapidjson::kParseIterativeFlag>(c->body_.data(), c->body_.size());
        if (body.HasParseError()) {
            const char* text = rapidjson::GetParseError_En(body.GetParseError());
            OZR_ERROR(logger_, "Request body parse error, offset {}: {} ({})",
                      body.GetErrorOffset(), text, static_cast<int>(body.GetParseError()));
            set_json_error(r, 400, text);
            add_cors_headers(r, c->origin_present_, c->origin_);
            c->generate_json_content(r.document);
            send_response(c);
            return;
        }
    }
    int rc = table_.dispatch_uri(ctx_, *c, c->method_, c->uri_, std::move(body), r);
    if (rc != 0)
        OZR_ERROR(logger_, "Return code {} from dispatch_uri", rc);
    add_cors_headers(r, c->origin_present_, c->origin_);
    if (r.prerendered)
        r.headers.append(r.prerendered_headers);
    else
        c->generate_json_content(r.document);
    send_response(c);
}

void HttpServer::send_response(ClientContext* c) {
    WriteReq* w = new (std::nothrow) WriteReq;
    if (!w) {
        OZR_ERROR(logger_, "Could not allocate {} bytes", sizeof(WriteReq));
        close_client(c);
        return;
    }
    w->head = build_response_head(c->response_);
    // A HEAD answer announces the length of the body it leaves out.
    if (c->method_ != HTTP_HEAD || !c->message_complete_)
        w->body = std::move(c->response_.body);
    w->size = w->head.size() + w->body.size();
    w->req.data = c;
    uv_buf_t bufs[2] = {uv_buf_init(&w->head[0], static_cast<unsigned>(w->head.size())),
                        uv_buf_init(w->body.empty() ? nullptr : &w->body[0],
                                    static_cast<unsigned>(w->body.size()))};
    c->reset_request();
    int rc = uv_write(&w->req, reinterpret_cast<uv_stream_t*>(&c->tcp_), bufs,
                      w->body.empty() ? 1 : 2, on_write);
    if (rc != 0) {
        OZR_ERROR(logger_, "Write error {} to peer {}", rc, c->peer_);
        delete w;
        close_client(c);
        return;
    }
    c->pending_write_bytes_ += w->size;
    ++c->pending_writes_;
}

void HttpServer::on_write(uv_write_t* req, int status) {
    WriteReq* w = reinterpret_cast<WriteReq*>(req);
    ClientContext* c = static_cast<ClientContext*>(req->data);
    HttpServer* self = c->server_;
    c->pending_write_bytes_ -= w->size;
    --c->pending_writes_;
    delete w;
    if (status < 0) {
        if (status != UV_ECANCELED)
            OZR_ERROR(self->logger_, "Write error {} to peer {}", status, c->peer_);
        self->close_client(c);
        return;
    }
    if (c->state_ == ClientContext::State::Closing)
        return;
    if (c->close_after_write_) {
        if (c->pending_writes_ == 0)
            self->begin_linger(c);
        return;
    }
    self->arm_timer(c, self->limits_.idle_timeout_ms);
    if (!c->reading_ && c->pending_write_bytes_ <= self->limits_.max_pending_write_bytes / 2) {
        // The peer caught up: parse what was held back, then read again.
        std::string held;
        held.swap(c->held_);
        if (!held.empty())
            self->do_parse(c, held.data(), held.size());
        if (c->state_ == ClientContext::State::Reading && c->held_.empty())
            self->start_reading(c);
    }
}

void HttpServer::answer_error(ClientContext* c, int status, const std::string& text, bool close) {
    HttpResponse& r = c->response_;
    bool origin_present = c->origin_present_;
    std::string origin = c->origin_;
    r.reset();
    set_json_error(r, status, text);
    if (close)
        r.headers.append("Connection: close\r\n");
    add_cors_headers(r, origin_present, origin);
    c->generate_json_content(r.document);
    send_response(c);
    if (close) {
        finish_after_write(c);
        return;
    }
    http_parser_init(&c->parser_, HTTP_REQUEST);
    c->parser_.data = c;
}

void HttpServer::start_reading(ClientContext* c) {
    if (c->reading_ || c->state_ == ClientContext::State::Closing)
        return;
    int rc = uv_read_start(reinterpret_cast<uv_stream_t*>(&c->tcp_), on_alloc, on_read);
    if (rc != 0) {
        OZR_ERROR(logger_, "Read error {} ({}) on stream", rc, uv_strerror(rc));
        close_client(c);
        return;
    }
    c->reading_ = true;
}

void HttpServer::stop_reading(ClientContext* c) {
    if (!c->reading_)
        return;
    uv_read_stop(reinterpret_cast<uv_stream_t*>(&c->tcp_));
    c->reading_ = false;
}

void HttpServer::arm_timer(ClientContext* c, uint64_t ms) {
    if (c->state_ == ClientContext::State::Closing)
        return;
    uv_timer_start(&c->timer_, on_timer, ms, 0);
}

void HttpServer::finish_after_write(ClientContext* c) {
    if (c->state_ == ClientContext::State::Closing)
        return;
    c->state_ = ClientContext::State::Draining;
    c->close_after_write_ = true;
    c->held_.clear();
    if (c->pending_writes_ == 0) {
        begin_linger(c);
        return;
    }
    // Keep reading (and discarding) so the peer's extra bytes do not turn the
    // close into a reset that loses the answer.
    start_reading(c);
    arm_timer(c, limits_.idle_timeout_ms);
}

void HttpServer::begin_linger(ClientContext* c) {
    if (c->state_ == ClientContext::State::Closing)
        return;
    c->state_ = ClientContext::State::Draining;
    if (c->peer_eof_) {
        close_client(c);  // nothing more can arrive: close sends the FIN
        return;
    }
    start_reading(c);
    // A FIN after the answer; the peer's EOF (or the linger timer) ends it.
    if (uv_shutdown(&c->shutdown_, reinterpret_cast<uv_stream_t*>(&c->tcp_), on_shutdown) != 0) {
        close_client(c);
        return;
    }
    arm_timer(c, limits_.linger_ms);
}

void HttpServer::on_shutdown(uv_shutdown_t*, int) {}

void HttpServer::on_timer(uv_timer_t* timer) {
    ClientContext* c = static_cast<ClientContext*>(timer->data);
    HttpServer* self = c->server_;
    if (c->state_ == ClientContext::State::Reading)
        OZR_INFO(self->logger_, "REST: closing idle connection from {}", c->peer_);
    self->close_client(c);
}

void HttpServer::close_client(ClientContext* c) {
    if (c->state_ == ClientContext::State::Closing)
        return;
    c->state_ = ClientContext::State::Closing;
    --connection_count_;
    c->reading_ = false;
    c->held_.clear();
    uv_handle_t* tcp = reinterpret_cast<uv_handle_t*>(&c->tcp_);
    uv_handle_t* timer = reinterpret_cast<uv_handle_t*>(&c->timer_);
    if (c->open_handles_ > 0 && !uv_is_closing(tcp))
        close_own(tcp, on_client_closed);
    if (c->open_handles_ > 1 && !uv_is_closing(timer))
        close_own(timer, on_client_closed);
    if (c->open_handles_ == 0)
        unlink_and_free(c);
}

void HttpServer::unlink_and_free(ClientContext* c) {
    if (c->prev_)
        c->prev_->next_ = c->next_;
    else
        clients_ = c->next_;
    if (c->next_)
        c->next_->prev_ = c->prev_;
    delete c;
}

void HttpServer::on_client_closed(uv_handle_t* handle) {
    ClientContext* c = static_cast<ClientContext*>(handle->data);
    --c->server_->own_closes_pending_;
    if (--c->open_handles_ > 0)
        return;
    c->server_->unlink_and_free(c);
}

int HttpServer::cb_message_begin(http_parser* p) {
    ClientContext* c = static_cast<ClientContext*>(p->data);
    c->field_.clear();
    c->last_was_value_ = false;
    c->header_count_ = 0;
    c->header_bytes_ = 0;
    c->value_bytes_ = 0;
    return 0;
}

int HttpServer::cb_url(http_parser* p, const char* at, size_t len) {
    ClientContext* c = static_cast<ClientContext*>(p->data);
    if (c->uri_.size() + len > c->server_->limits_.max_uri_bytes) {
        c->limit_ = ClientContext::Limit::Uri;
        return 1;
    }
    c->uri_.append(at, len);
    return 0;
}

int HttpServer::cb_header_field(http_parser* p, const char* at, size_t len) {
    ClientContext* c = static_cast<ClientContext*>(p->data);
    const RestLimits& lim = c->server_->limits_;
    if (c->last_was_value_ || c->header_count_ == 0) {
        // A new header line begins.
        ++c->header_count_;
        c->field_.clear();
        c->last_was_value_ = false;
        c->kept_value_ = nullptr;
        if (c->header_count_ > lim.max_header_count) {
            c->limit_ = ClientContext::Limit::Headers;
            return 1;
        }
    }
    c->header_bytes_ += len;
    if (c->header_bytes_ > lim.max_header_bytes) {
        c->limit_ = ClientContext::Limit::Headers;
        return 1;
    }
    // Only as much of the name as tells the kept headers apart.
    if (c->field_.size() <= kKeptFieldBytes)
        c->field_.append(at, std::min(len, kKeptFieldBytes + 1 - c->field_.size()));
    return 0;
}

int HttpServer::cb_header_value(http_parser* p, const char* at, size_t len) {
    ClientContext* c = static_cast<ClientContext*>(p->data);
    const RestLimits& lim = c->server_->limits_;
    if (!c->last_was_value_) {
        c->last_was_value_ = true;
        c->value_bytes_ = 0;
        auto is = [c](const char* name) {
            return c->field_.size() == std::strlen(name) &&
                   strncasecmp(c->field_.data(), name, c->field_.size()) == 0;
        };
        if (is("Origin")) {
            c->origin_present_ = true;
            c->kept_value_ = &c->origin_;
        } else if (is("If-None-Match")) {
            c->kept_value_ = &c->if_none_match_;
        }
        if (c->kept_value_)
            c->kept_value_->clear();
    }
    c->value_bytes_ += len;
    // A value is kept only when shorter than the limit: an Origin of exactly the limit is
    // present but not echoed.
    if (c->kept_value_ && c->value_bytes_ >= kMaxHeaderValue) {
        c->kept_value_->clear();
        c->kept_value_ = nullptr;
    }
    if (c->value_bytes_ > kMaxHeaderValue) {
        OZR_ERROR(c->server_->logger_, "[parser] HTTP Header Value too long at {}", c->field_);
        return 1;
    }
    c->header_bytes_ += len;
    if (c->header_bytes_ > lim.max_header_bytes) {
        c->limit_ = ClientContext::Limit::Headers;
        return 1;
    }
    if (c->kept_value_)
        append_header_safe(*c->kept_value_, at, len);
    return 0;
}

int HttpServer::cb_headers_complete(http_parser* p) {
    ClientContext* c = static_cast<ClientContext*>(p->data);
    c->kept_value_ = nullptr;
    if ((p->flags & F_CONTENTLENGTH) &&
        p->content_length > static_cast<uint64_t>(c->server_->limits_.max_body_bytes)) {
        c->limit_ = ClientContext::Limit::Body;
        return -1;
    }
    return 0;
}

int HttpServer::cb_body(http_parser* p, const char* at, size_t len) {
    ClientContext* c = static_cast<ClientContext*>(p->data);
    if (c->body_.size() + len > c->server_->limits_.max_body_bytes) {
        c->limit_ = ClientContext::Limit::Body;
        return 1;
    }
    c->body_.append(at, len);
    return 0;
}

int HttpServer::cb_message_complete(http_parser* p) {
    ClientContext* c = static_cast<ClientContext*>(p->data);
    c->method_ = p->method;
    c->message_complete_ = true;
    // One request at a time: the next pipelined one is parsed after this one
    // has been answered.
    http_parser_pause(p, 1);
    return 0;
}
