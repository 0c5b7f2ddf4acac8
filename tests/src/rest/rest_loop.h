// The daemon's REST service over HTTP for route tests: the context's service listens on a
// port the kernel picks and the test's loop runs in a thread of its own, started by the first
// request. The test changes the daemon's state only while the loop is stopped (or no request
// is outstanding). RouteFixture is the route tests' one fixture around it.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <uv.h>

#include <memory>
#include <string>
#include <thread>

#include "core/context.h"
#include "data/data_minder.h"
#include "http_test_client.h"
#include "map/datamodel/datamodel.h"
#include "rest/listen_address.h"
#include "rest/rest_minder.h"
#include "rest/rest_service.h"
#include "support/temp_root.h"

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

// The route tests' fixture: the daemon's context (every minder, the data minder started) under
// a test root, the stack's model holding the controller CONTROLLER and its local agent LOCAL,
// and the REST service of RestLoop. A derived fixture builds its state after SetUp().
class RouteFixture : public ::testing::Test {
  protected:
    RouteFixture(const MAC& controller = MAC(0x02, 0, 0, 0, 0, 1),
                 const MAC& local = MAC(0x02, 0, 0, 0, 0, 2))
        : controller_(controller), local_mac_(local) {}
    void SetUp() override {
        log_ = std::make_unique<LogCapture>(root_, 7);
        uv_loop_init(&loop_);
        ctx_ = new Context(&loop_);
        ASSERT_TRUE(ctx_->data_minder->init(*ctx_).ok());
        map_datamodel_init(controller_, local_mac_);
    }
    void TearDown() override {
        stop_loop();
        ctx_->shutdown();
        delete ctx_;
        map_datamodel_reset();
        log_.reset();
    }
    void stop_loop() { rest_.stop(); }
    HttpAnswer ask(const std::string& raw) { return rest_.ask(raw); }
    static rapidjson::Document json(const HttpAnswer& a) {
        rapidjson::Document d;
        d.Parse(a.body.c_str());
        EXPECT_FALSE(d.HasParseError()) << a.body;
        return d;
    }
    // The "error" text of a refusal.
    static std::string error_of(const HttpAnswer& a) {
        rapidjson::Document d;
        d.Parse(a.body.c_str());
        return d.IsObject() && d.HasMember("error") && d["error"].IsString()
                   ? d["error"].GetString()
                   : "(no error) " + a.body;
    }

    MAC controller_, local_mac_;
    TempRoot root_;
    std::unique_ptr<LogCapture> log_;
    uv_loop_t loop_;
    Context* ctx_ = nullptr;
    RestLoop rest_{ctx_, loop_};
};

}  // namespace ozr_test
