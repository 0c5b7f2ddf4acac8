// Retried stack actions, driven by the manual clock.
#include <gtest/gtest.h>

#include <tuple>

#include "common/clock.h"
#include "map/al/stack.h"
#include "map/datamodel/datamodel.h"
#include "map/map_send.h"
#include "platform/map/al/al_test_util.h"

namespace {

struct Probe {
    int calls = 0;
    int succeed_at = 0;  // the call that succeeds (0: never)
    int done_status = 99;
    int done_calls = 0;
};

int action(void* arg) {
    auto* p = static_cast<Probe*>(arg);
    ++p->calls;
    return p->calls == p->succeed_at ? 0 : -1;
}

void done(int status, void* arg) {
    auto* p = static_cast<Probe*>(arg);
    p->done_status = status;
    ++p->done_calls;
}

// Calls of the action, calls of done, the status done was given.
std::tuple<int, int, int> state(const Probe& p) {
    return {p.calls, p.done_calls, p.done_status};
}

class RetryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ozr_clock::set_manual(1000);
        uv_loop_init(&loop_);
        MapStackConfig c;
        c.segment = private_segment(23101);
        c.interfaces = {{"ozr0", test_mac(1, 1), ""}};
        map_stack_set_config(c);
        ASSERT_EQ(map_stack_start(&loop_), 0);
    }
    void TearDown() override {
        map_stack_stop();
        map_datamodel_reset();
        EXPECT_TRUE(drain_and_close(&loop_));
        ozr_clock::use_real();
    }
    void advance_s(int s) {
        ozr_clock::advance(s * 1000LL);
        map_retry_run_due();
    }
    uv_loop_t loop_;
};

TEST_F(RetryTest, ActionRunsAtOnceThenEachIntervalUntilItSucceeds) {
    Probe p;
    p.succeed_at = 3;
    ASSERT_EQ(map_register_retry("AP-FACTORY-RESET", 5, 4, test_mac(2, 0), action, done, &p), 0);
    EXPECT_EQ(map_retry_pending(), 1u);
    // At once, not before the interval, then each interval.
    for (const auto& [wait, calls] : {std::pair{0, 1}, {4, 1}, {1, 2}}) {
        advance_s(wait);
        EXPECT_EQ(state(p), std::make_tuple(calls, 0, 99)) << wait;
    }
    advance_s(5);
    EXPECT_EQ(state(p), std::make_tuple(3, 1, 0));
    EXPECT_EQ(map_retry_pending(), 0u);
    advance_s(50);
    EXPECT_EQ(p.calls, 3);
}

TEST_F(RetryTest, GivesUpAfterTheRetriesAndReportsIt) {
    Probe p;
    ASSERT_EQ(map_register_retry("k", 5, 3, test_mac(2, 0), action, done, &p), 0);
    for (int i = 0; i < 10; ++i)
        advance_s(5);
    EXPECT_EQ(state(p), std::make_tuple(3, 1, -1));

    // Success at once: done right away, nothing kept.
    Probe q;
    q.succeed_at = 1;
    ASSERT_EQ(map_register_retry("k", 5, 3, test_mac(2, 0), action, done, &q), 0);
    EXPECT_EQ(q.done_status, 0);
    EXPECT_EQ(map_retry_pending(), 0u);
}

TEST_F(RetryTest, SameKeyReplacesThePendingEntry) {
    Probe a, b;
    ASSERT_EQ(map_register_retry("same", 5, 3, test_mac(2, 0), action, done, &a), 0);
    ASSERT_EQ(map_register_retry("same", 5, 3, test_mac(2, 0), action, done, &b), 0);
    EXPECT_EQ(map_retry_pending(), 1u);
    for (int i = 0; i < 5; ++i)
        advance_s(5);
    EXPECT_EQ(state(a), std::make_tuple(1, 0, 99));
    EXPECT_EQ(state(b), std::make_tuple(3, 1, -1));
    // Bad arguments are refused.
    EXPECT_EQ(map_register_retry(nullptr, 5, 3, MAC(), action, done, &a), MAP_SEND_BAD_ARGUMENT);
    EXPECT_EQ(map_register_retry("x", 0, 3, MAC(), action, done, &a), MAP_SEND_BAD_ARGUMENT);
    EXPECT_EQ(map_register_retry("x", 5, 0, MAC(), action, done, &a), MAP_SEND_BAD_ARGUMENT);
}

TEST_F(RetryTest, TheLoopTimerDrivesDueRetries) {
    Probe p;
    ASSERT_EQ(map_register_retry("loop", 1, 2, MAC(), action, done, &p), 0);
    ozr_clock::advance(1000);
    // The stack's 1 s timer runs map_retry_run_due on the loop.
    ASSERT_TRUE(run_until(
        &loop_, [&] { return p.done_calls == 1; }, 3000));
    EXPECT_EQ(p.calls, 2);
}

}  // namespace
