#include "core/timer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/state_version.h"

namespace {
class LoopTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(uv_loop_init(&loop_), 0); }
    void TearDown() override {
        // Every close must be finished: a loop that cannot close still holds a handle.
        uv_run(&loop_, UV_RUN_DEFAULT);
        EXPECT_EQ(uv_loop_close(&loop_), 0);
    }
    uint64_t now() { return uv_now(&loop_); }
    uv_loop_t loop_;
};
}  // namespace

TEST_F(LoopTest, RepeatingTimerFiresUntilStopped) {
    std::vector<uint64_t> at;
    uint64_t t0 = 0;
    Timer* self = nullptr;
    Timer timer(&loop_, "repeat", [&] {
        at.push_back(now() - t0);
        if (at.size() == 3)
            self->stop();
    });
    self = &timer;
    EXPECT_FALSE(timer.is_started());
    timer.stop();  // stopping a timer that never started does nothing
    EXPECT_FALSE(timer.is_started());
    uv_update_time(&loop_);
    t0 = now();
    timer.start(10, 0);  // repeat 0: every 10 ms
    EXPECT_TRUE(timer.is_started());
    uv_run(&loop_, UV_RUN_DEFAULT);
    ASSERT_EQ(at.size(), 3u);
    EXPECT_GE(at[0], 10u);
    EXPECT_GE(at[1], 20u);
    EXPECT_GE(at[2], 30u);
    EXPECT_FALSE(timer.is_started());
    EXPECT_EQ(timer.name(), "repeat");
}

TEST_F(LoopTest, NegativeRepeatRepeatsAtTheTimeoutAndRestartReplacesValues) {
    int fired = 0;
    Timer* self = nullptr;
    uint64_t restart_at = 0, last = 0;
    Timer timer(&loop_, "t", [&] {
        ++fired;
        last = now();
        if (fired == 2) {
            restart_at = now();
            self->start(25, 5);  // new timeout and interval, from now
        }
        if (fired == 4)
            self->stop();
    });
    self = &timer;
    timer.start(5, -1);
    uv_run(&loop_, UV_RUN_DEFAULT);
    EXPECT_EQ(fired, 4);
    EXPECT_GE(last - restart_at, 30u);  // 25 then 5
}

TEST_F(LoopTest, OneShotFiresOnceAndMayRestartItself) {
    int fired = 0;
    bool started_inside = true;
    OneShotTimer* self = nullptr;
    OneShotTimer once(&loop_, "once", [&] {
        ++fired;
        started_inside = self->is_started();
        if (fired == 1)
            self->start(5);
    });
    self = &once;
    once.start(5);
    uv_run(&loop_, UV_RUN_DEFAULT);
    EXPECT_EQ(fired, 2);
    EXPECT_FALSE(started_inside);
    EXPECT_FALSE(once.is_started());
}

TEST_F(LoopTest, DestroyingTimersNeverLeavesTheLoopWithFreedMemory) {
    int fired = 0;
    // Active, stopped and never started timers destroyed while the loop still runs.
    auto a = std::make_unique<Timer>(&loop_, "a", [&] { ++fired; });
    auto b = std::make_unique<OneShotTimer>(&loop_, "b", [&] { ++fired; });
    auto c = std::make_unique<Timer>(&loop_, "c", [&] { ++fired; });
    a->start(1, 1);
    b->start(1);
    c->start(1, 1);
    c->stop();
    a.reset();
    b.reset();
    c.reset();
    // A timer destroyed by another timer's callback while both are due.
    std::unique_ptr<OneShotTimer> victim;
    OneShotTimer killer(&loop_, "killer", [&] { victim.reset(); });
    victim = std::make_unique<OneShotTimer>(&loop_, "victim", [&] { ++fired; });
    killer.start(1);
    victim->start(1);
    uv_run(&loop_, UV_RUN_DEFAULT);
    EXPECT_EQ(fired, 0);
}

TEST_F(LoopTest, TimerMayDestroyItselfInsideItsCallback) {
    std::unique_ptr<Timer> self;
    std::string seen;
    std::string label = "still alive after reset";
    self = std::make_unique<Timer>(&loop_, "self", [&, label] {
        self.reset();
        seen = label;  // the capture outlives the timer object until the callback returns
    });
    self->start(1, 1);
    uv_run(&loop_, UV_RUN_DEFAULT);
    EXPECT_EQ(seen, label);
    EXPECT_EQ(self, nullptr);
}

TEST_F(LoopTest, LoopWideCloseThenDestroyClosesOnce) {
    int fired = 0;
    auto t = std::make_unique<Timer>(&loop_, "t", [&] { ++fired; });
    t->start(1000, 1000);
    uv_timer_t foreign;
    uv_timer_init(&loop_, &foreign);
    uv_timer_start(
        &foreign, [](uv_timer_t*) {}, 1000, 0);
    uv_walk(
        &loop_,
        [](uv_handle_t* h, void*) {
            uv_timer_stop(reinterpret_cast<uv_timer_t*>(h));
            BaseTimer::close_timer_handle(reinterpret_cast<uv_timer_t*>(h));
            BaseTimer::close_timer_handle(reinterpret_cast<uv_timer_t*>(h));  // no-op
        },
        nullptr);
    uv_run(&loop_, UV_RUN_DEFAULT);
    EXPECT_EQ(uv_loop_alive(&loop_), 0);
    EXPECT_FALSE(t->is_started());
    t->start(1, 1);  // a closed timer cannot be started again
    EXPECT_FALSE(t->is_started());
    t.reset();  // frees its handle block; the loop is already done with it
    EXPECT_EQ(fired, 0);
}

// Whatever a timer's callback changed, readers of derived state (the REST document cache)
// see a new state version.
TEST_F(LoopTest, AFiredTimerMovesTheStateVersion) {
    uint64_t seen = 0;
    OneShotTimer t(&loop_, "once", [&] { seen = state_version(); });
    uint64_t before = state_version();
    t.start(1);
    uv_run(&loop_, UV_RUN_DEFAULT);
    EXPECT_EQ(seen, before);
    EXPECT_GT(state_version(), before);
}
