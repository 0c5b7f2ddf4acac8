// The daemon's REST service over HTTP for route tests: the context's service listens on a
// port the kernel picks and the test's loop runs in a thread of its own, started by the first
// request. The test changes the daemon's state only while the loop is stopped (or no request
// is outstanding).
#pragma once

#include <gtest/gtest.h>
#include <uv.h>

#include <string>
#include <thread>

#include "core/context.h"
#include "http_test_client.h"
#include "rest/listen_address.h"
#include "rest/rest_minder.h"
#include "rest/rest_service.h"

namespace ozr_test {

class RestLoop {
  public:
    RestLoop(Context*& ctx, uv_loop_t& loop) : ctx_(ctx), loop_(loop) {}
    ~RestLoop() { stop(); }
    RestLoop(const RestLoop&) = delete;
    RestLoop& operator=(const RestLoop&) = delete;

    // Starts the service (once) and the loop thread unless they run; false when the service
    // failed. A stopped loop starts again with the next request.
    bool start() {
        if (running_)
            return true;
        if (!service_started_) {
            RestListenAddress a;
            a.port = 0;
            const int rc = ctx_->rest_minder->service()->start(*ctx_, a);
            EXPECT_EQ(rc, 0) << "the REST service did not start";
            if (rc != 0)
                return false;
            port_ = ctx_->rest_minder->port();
            uv_async_init(&loop_, &stop_, [](uv_async_t* h) { uv_stop(h->loop); });
            service_started_ = true;
        }
        thread_ = std::thread([this] { uv_run(&loop_, UV_RUN_DEFAULT); });
        running_ = true;
        return true;
    }
    // Stops the loop thread (the service keeps its socket until the context shuts down).
    void stop() {
        if (!running_)
            return;
        uv_async_send(&stop_);
        thread_.join();
        running_ = false;
    }
    // One request on a fresh connection, the service started first when needed.
    HttpAnswer ask(const std::string& raw) {
        if (!start())
            return HttpAnswer{};
        return http_request(port_, raw);
    }
    int port() const { return port_; }

  private:
    Context*& ctx_;
    uv_loop_t& loop_;
    uv_async_t stop_;
    std::thread thread_;
    bool running_ = false;
    bool service_started_ = false;
    int port_ = 0;
};

}  // namespace ozr_test
