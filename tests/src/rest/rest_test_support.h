// Helpers of the REST tests: a server on 127.0.0.1 with an ephemeral port whose
// loop runs in a helper thread, a small blocking HTTP client, and a capture of
// the log lines.
#pragma once

#include <uv.h>

#include <future>
#include <memory>
#include <string>
#include <thread>

#include "http_test_client.h"
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
