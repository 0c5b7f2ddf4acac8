#include "core/context.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <uv.h>

#include <string>

#include "common/clock.h"
#include "common/paths.h"
#include "controller/controller_minder.h"
#include "core/timer.h"
#include "data/data_minder.h"
#include "graph/graph_minder.h"
#include "support/loop.h"
#include "support/process.h"
#include "support/temp_root.h"

using ozr_test::count_of;
using ozr_test::free_port;
using ozr_test::LogCapture;
using ozr_test::TempRoot;

namespace {
class ContextTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(uv_loop_init(&loop_), 0); }
    void TearDown() override {
        if (!closed_) {
            ozr_test::close_loop(&loop_);
        }
        ozr_clock::use_real();
    }
    uv_loop_t loop_;
    bool closed_ = false;
};
}  // namespace

TEST_F(ContextTest, InitAndStartFollowTheirOrders) {
    TempRoot root;
    LogCapture log(root, 7);
    Context ctx(&loop_);
    Err e = ctx.init();
    EXPECT_EQ(e.code, 0);
    EXPECT_TRUE(ctx.controller_minder->watchdog_timer().is_started());
    ctx.start();
    std::string text = log.text();
    const char* order[] = {"GraphMinder::run",     "RestMinder::run", "SteeringMinder::run",
                           "HktMgmtMinder::run",   "DataMinder::run", "ConfigurationMinder::run",
                           "ControllerMinder::run"};
    size_t last = 0;
    for (const char* name : order) {
        size_t at = text.find(name);
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_GT(at, last) << name;
        last = at;
    }
    // The data minder opened the debug database under the root.
    EXPECT_TRUE(ozr_test::file_exists(root.path("/configs/easymesh/ozr_dbg_db.json")));
}

TEST_F(ContextTest, ShutdownClosesEveryHandleAndLeavesNoneAlive) {
    TempRoot root;
    LogCapture log(root, 7);
    // REST on a port nobody holds: a listener that failed to bind would already be
    // closing when the walk meets it.
    ASSERT_TRUE(ozr_make_dirs(root.path("/configs/easymesh")));
    ozr_test::write_text(
        root.path("/configs/easymesh/platform.json"),
        "{\"mesh-rest-listen-address\": {\"rest-port\": " + std::to_string(free_port()) + "}}");
    auto* ctx = new Context(&loop_);
    ASSERT_EQ(ctx->init().code, 0);
    ctx->start();
    // Repeating timers of the daemon (the watchdog, the graph minder's) are active; add an async, a
    // pipe and an idle handle (generic close) as the other minders will.
    uv_async_t async;
    uv_async_init(&loop_, &async, nullptr);
    uv_pipe_t pipe;
    uv_pipe_init(&loop_, &pipe, 0);
    uv_idle_t idle;
    uv_idle_init(&loop_, &idle);
    uv_idle_start(&idle, [](uv_idle_t*) {});
    // Somebody already closing a handle: the walk leaves it alone.
    uv_check_t check;
    uv_check_init(&loop_, &check);
    uv_close(reinterpret_cast<uv_handle_t*>(&check), nullptr);

    ctx->shutdown();
    closed_ = true;
    std::string text = log.text();
    // The minders' started timers are stopped and closed with the rest (a timer never
    // started has no handle).
    EXPECT_GT(count_of(text, " active, stopping"), 0u);
    EXPECT_GE(count_of(text, "Closing timer 0x"), count_of(text, " active, stopping"));
    EXPECT_EQ(count_of(text, "Closing Async handle 0x"), 2u);  // ours and the D-Bus bridge's
    EXPECT_EQ(count_of(text, "Closing Pipe handle 0x"), 1u);
    EXPECT_EQ(count_of(text, "(type=6) with generic callback"), 1u);  // idle
    EXPECT_EQ(count_of(text, "already closing, will not close again"), 1u) << text;
    EXPECT_GE(count_of(text, "Running loop to finalize handles"), 1u);
    // uv_loop_close answers EBUSY (-16) while any handle is still alive.
    EXPECT_EQ(count_of(text, "uv_loop_close result 0"), 1u);
    EXPECT_NE(text.find("debug root: Handle 0x"), std::string::npos);
    // The minders' timers find their handles closed and do not close them again.
    delete ctx;
    EXPECT_EQ(Context::instance(), nullptr);
}

TEST_F(ContextTest, TimeHelpersUseTheContextClock) {
    TempRoot root;
    LogCapture log(root);
    Context ctx(&loop_);
    ozr_clock::set_manual(999);
    EXPECT_EQ(ctx.now(), 999);
    EXPECT_FALSE(rate_limit_ms(0, 1000));
    ozr_clock::advance(1);
    EXPECT_TRUE(rate_limit_ms(0, 1000));
    EXPECT_TRUE(rate_limit_ms(500, 500));
    EXPECT_FALSE(rate_limit_ms(501, 500));
    // A "last" in the future wraps around in unsigned arithmetic and counts as due.
    EXPECT_TRUE(rate_limit_ms(2000, 500));
    EXPECT_TRUE(timer_expired_ms(0, 4000000000u));
    EXPECT_FALSE(timer_expired_ms(1, 1000));
    EXPECT_TRUE(timer_expired_ms(1, 999));
    ozr_clock::advance(100000);
    EXPECT_TRUE(timer_expired_ms(1, 1000));
}
