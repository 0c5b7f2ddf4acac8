// The REST API's HTTP/1.1 server: a libuv TCP listener on the context's loop,
// one ClientContext per connection with its own http-parser, keep-alive and
// pipelining, CORS, and limits that keep a slow, huge or hostile client from
// blocking the loop or growing memory without bound.
#pragma once

#include <http_parser.h>
#include <uv.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "rest/dispatch.h"
#include "rest/http_response.h"

class Context;
class Logger;
class HttpServer;

struct RestLimits {
    // Open connections; one more is accepted and closed at once.
    size_t max_connections = 16;
    // Request line URI bytes (answered 400, then the connection is closed).
    size_t max_uri_bytes = 2048;
    // Header lines per request and their bytes, names and values together
    // (answered 400, then closed). A single value above 512 bytes fails the
    // parse on its own (answered 400).
    size_t max_header_count = 64;
    size_t max_header_bytes = 8192;
    // Request body bytes (answered 413, then closed).
    size_t max_body_bytes = 64 * 1024;
    // A connection is closed when for this long neither a whole request
    // arrived nor a response write completed; a request trickling in byte by
    // byte does not keep it open.
    uint64_t idle_timeout_ms = 30000;
    // After a closing answer, how long the connection keeps draining the
    // peer's bytes before it is closed (so the answer is not lost to a reset).
    uint64_t linger_ms = 1000;
    // Unsent response bytes at which the connection stops reading (pipelined
    // requests wait in the socket) until the peer has taken them.
    size_t max_pending_write_bytes = 256 * 1024;
};

// One TCP connection and the request being parsed on it.
class ClientContext {
  public:
    const std::string& get_uri() const { return uri_; }
    const std::string& get_body() const { return body_; }
    const std::string& peer() const { return peer_; }
    bool origin_present() const { return origin_present_; }
    const std::string& origin() const { return origin_; }
    // The request's If-None-Match value (the last one sent), empty without one.
    const std::string& if_none_match() const { return if_none_match_; }
    uv_loop_t* loop() const { return tcp_.loop; }
    HttpServer& server() const { return *server_; }

    // Renders DOC into the response body (pretty JSON) and adds the content
    // type; on failure logs "Could not render response content in JSON" and
    // sets the status to 500.
    void generate_json_content(rapidjson::Document& doc);

  private:
    friend class HttpServer;

    enum class State { Reading, Draining, Closing };
    enum class Limit { None, Uri, Headers, Body };

    explicit ClientContext(HttpServer* server) : server_(server) {}
    void reset_request();

    HttpServer* server_;
    uv_tcp_t tcp_{};
    uv_timer_t timer_{};
    uv_shutdown_t shutdown_{};
    http_parser parser_{};
    std::string uri_;
    std::string body_;
    unsigned method_ = 0;
    bool message_complete_ = false;
    bool origin_present_ = false;
    std::string origin_;
    std::string if_none_match_;
    // The header value being kept (origin_ or if_none_match_), null for any other.
    std::string* kept_value_ = nullptr;
    HttpResponse response_;
    std::string peer_;

    // Header bookkeeping of the request being parsed.
    std::string field_;  // current header name (first bytes only)
    bool last_was_value_ = false;
    size_t header_count_ = 0;
    size_t header_bytes_ = 0;
    size_t value_bytes_ = 0;
    Limit limit_ = Limit::None;

    State state_ = State::Reading;
    bool reading_ = false;
    bool close_after_write_ = false;
    bool peer_eof_ = false;
    size_t pending_write_bytes_ = 0;
    size_t pending_writes_ = 0;
    // Bytes of one read left unparsed while the connection waits for the peer
    // to take its responses; never more than one read buffer.
    std::string held_;
    int open_handles_ = 0;
    ClientContext* prev_ = nullptr;
    ClientContext* next_ = nullptr;
};

class HttpServer {
  public:
    // CTX is handed to every handler; TABLE must outlive the server.
    HttpServer(uv_loop_t* loop, const Logger* logger, Context& ctx, const DispatchTable& table,
               const RestLimits& limits = RestLimits());
    // Frees every connection. Destroy only once the loop no longer refers to
    // the server's handles: after close() and a run of the loop, or after the
    // owner closed every loop handle and ran the loop.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds ADDRESS:PORT (IPv4 or IPv6 text; port 0 picks a free one) and
    // listens: "Accepting REST connections on port {}", or "Could not start
    // REST server" and a negative libuv error.
    int start(const std::string& address, int port);
    // The bound port (after start), 0 before.
    int port() const { return port_; }
    // Closes the listener and every connection; their memory is released in
    // the close callbacks, so the loop must run afterwards.
    void close();
    // True when close() was called and every handle's close callback ran.
    bool closed() const { return close_requested_ && !listening_ && clients_ == nullptr; }
    // True while the listener or a connection has a handle nobody closed yet (the
    // loop still refers to the server).
    bool has_unclosed_handles() const;
    // True while the loop may still call back into the server: a handle nobody closed,
    // or one the server closed whose close callback has not run yet. (Handles someone
    // else closed with callbacks of their own are theirs to wait for.)
    bool holds_handles() const;
    size_t connection_count() const { return connection_count_; }
    const RestLimits& limits() const { return limits_; }
    const Logger* logger() const { return logger_; }

  private:
    static void on_new_connection(uv_stream_t* server, int status);
    static void on_alloc(uv_handle_t* handle, size_t suggested, uv_buf_t* buf);
    static void on_read(uv_stream_t* stream, ssize_t nread, const uv_buf_t* buf);
    static void on_write(uv_write_t* req, int status);
    static void on_shutdown(uv_shutdown_t* req, int status);
    static void on_timer(uv_timer_t* timer);
    static void on_client_closed(uv_handle_t* handle);
    // uv_close with one of the server's own callbacks, counted until it runs.
    void close_own(uv_handle_t* handle, uv_close_cb cb);
    static void on_listener_closed(uv_handle_t* handle);

    static int cb_message_begin(http_parser* p);
    static int cb_url(http_parser* p, const char* at, size_t len);
    static int cb_header_field(http_parser* p, const char* at, size_t len);
    static int cb_header_value(http_parser* p, const char* at, size_t len);
    static int cb_headers_complete(http_parser* p);
    static int cb_body(http_parser* p, const char* at, size_t len);
    static int cb_message_complete(http_parser* p);

    // Feeds received bytes to the parser, answering each complete request.
    void do_parse(ClientContext* c, const char* data, size_t len);
    // Handles one complete request: OPTIONS at once, the rest by dispatch.
    void do_response(ClientContext* c);
    // Sends the client's response and resets it for the next request.
    void send_response(ClientContext* c);
    // Answers a failed parse or an exceeded limit. CLOSE ends the connection
    // after the answer.
    void answer_error(ClientContext* c, int status, const std::string& text, bool close);
    void start_reading(ClientContext* c);
    void stop_reading(ClientContext* c);
    void arm_timer(ClientContext* c, uint64_t ms);
    // Stops reading after the pending writes and drains, then closes.
    void finish_after_write(ClientContext* c);
    void begin_linger(ClientContext* c);
    void close_client(ClientContext* c);
    void unlink_and_free(ClientContext* c);

    uv_loop_t* loop_;
    const Logger* logger_;
    Context& ctx_;
    const DispatchTable& table_;
    RestLimits limits_;
    uv_tcp_t listener_{};
    bool listening_ = false;
    unsigned own_closes_pending_ = 0;
    bool close_requested_ = false;
    int port_ = 0;
    ClientContext* clients_ = nullptr;
    size_t connection_count_ = 0;
    http_parser_settings settings_{};
    // One read buffer shared by every connection: a read is parsed completely
    // (or its rest copied aside) before the loop reads again.
    static constexpr size_t kReadBufferSize = 16 * 1024;
    char* read_buffer_ = nullptr;
    bool read_buffer_busy_ = false;
};
