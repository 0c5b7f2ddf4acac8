// Helpers of the REST tests: a server on 127.0.0.1 with an ephemeral port whose
// loop runs in a helper thread, a small blocking HTTP client, and a capture of
// the log lines.
#pragma once

#include <uv.h>

#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "log/logger.h"
#include "rest/dispatch.h"
#include "rest/http_server.h"
#include "rest/rest_service.h"

// The handlers under test never look into the context; the tests hand them this.
class Context {
  public:
    int unused = 0;
};

// Log lines of the loggers under test, written to a file and read back.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    std::string text() const;
    bool contains(const std::string& needle) const {
        return text().find(needle) != std::string::npos;
    }

  private:
    std::string path_;
};

struct HttpAnswer {
    int status = 0;
    std::string head;  // status line and header lines, up to the empty line
    std::map<std::string, std::string> headers;  // lower-case names
    std::string body;
};

class TestClient {
  public:
    TestClient() = default;
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connect(int port);
    bool send(const std::string& bytes);
    // One byte per send() (Nagle off), so the server reads it in many pieces.
    bool send_bytewise(const std::string& bytes);
    // Reads one response (head and Content-Length body); false on EOF, error
    // or after TIMEOUT_MS without progress.
    // HEAD_ONLY: the answer to a HEAD request, whose body is not sent.
    bool read_answer(HttpAnswer& out, int timeout_ms = 5000, bool head_only = false);
    // True when the server closes the connection (EOF or reset) within
    // TIMEOUT_MS; bytes arriving meanwhile are discarded.
    bool wait_closed(int timeout_ms = 5000);
    void close();
    // Ends the sending side (the server sees EOF) while still reading.
    void shutdown_send();
    int fd() const { return fd_; }

  private:
    bool fill(int timeout_ms);
    int fd_ = -1;
    std::string buf_;
};

// GET/POST helpers on a fresh connection.
HttpAnswer http_request(int port, const std::string& raw);
std::string get_request(const std::string& uri, const std::string& extra_headers = "");
std::string body_request(const std::string& method, const std::string& uri, const std::string& body,
                         const std::string& extra_headers = "");

// A server with the built-in routes, the preloaded ones and any the test adds,
// on its own loop in a helper thread.
class ServerHarness {
  public:
    explicit ServerHarness(const RestLimits& limits = RestLimits());
    ~ServerHarness();

    // Adds routes before start().
    DispatchTable& table() { return service_->table(); }
    bool start();
    int port() const { return port_; }
    // Whether the loop ended on its own (a "/quit") within TIMEOUT_MS.
    bool loop_stopped_within(int timeout_ms);
    Logger& logger() { return logger_; }
    // Ends the way the daemon's context does: stop the loop, close every
    // handle on it with foreign callbacks, run it dry, then destroy the server.
    // True when the loop closed cleanly.
    bool shutdown_by_handle_walk();

  private:
    static void on_stop(uv_async_t* a);
    void stop_thread();

    Logger logger_;
    Context ctx_;
    uv_loop_t loop_;
    uv_async_t stop_;
    std::unique_ptr<RestService> service_;
    int port_ = 0;
    std::thread thread_;
    std::promise<void> done_;
    std::future<void> done_future_;
    bool started_ = false;
    bool stopped_ = false;
};
