// The bridge on a real loop, with a thread playing the D-Bus service side.
#include "dbus/bridge.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <uv.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_root.h"

using ozr_test::count_of;
using ozr_test::LogCapture;
using ozr_test::TempRoot;

namespace {
struct Seen {
    int type;
    std::string text;
    bool had_rpc;
};
std::vector<Seen>* g_seen = nullptr;
int g_wakeups = 0;

// The loop side of these tests: records each message; a method is answered with its
// request length.
void record(void* in, int in_len, void* /*out*/, int /*out_len*/, void* rpc, DbusMsgType type) {
    g_seen->push_back({type, std::string(static_cast<const char*>(in)), rpc != nullptr});
    if (rpc)
        static_cast<RpcSockHdlr*>(rpc)->write_client_sock(in_len);
}

void counting_wakeup(uv_async_t* a) {
    ++g_wakeups;
    ozr_dbus_uv_async_cb(a);
}

// A signal as the service thread hands it over: a malloc'ed copy the bridge owns.
int32_t send_signal(SockPairHdlr& pair, const std::string& text, DbusMsgType type) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return pair.write_sock_pair(copy, static_cast<int>(text.size() + 1), nullptr, 0, nullptr, type);
}

// A method call as the service thread makes it: waits for the loop's result.
int32_t call_method(SockPairHdlr& pair, const char* request, DbusMsgType type, void* out) {
    RpcSockHdlr rpc(root_logger);
    if (rpc.init_sock() != 0)
        return -100;
    if (pair.write_sock_pair(const_cast<char*>(request), static_cast<int>(std::strlen(request) + 1),
                             out, out ? 4 : 0, &rpc, type) != 0)
        return -101;
    return rpc.read_server_sock();
}

class Bridge : public ::testing::Test {
  protected:
    void SetUp() override {
        g_seen = &seen_;
        g_wakeups = 0;
        ozr_dbus_rearm();
        ASSERT_EQ(uv_loop_init(&loop_), 0);
        async_ = new uv_async_t();
        ASSERT_EQ(uv_async_init(&loop_, async_, counting_wakeup), 0);
        async_->data = &pair_;
        pair_.set_logger(root_logger);
        pair_.set_wakeup(async_);
        pair_.set_dispatch(record);
        ASSERT_EQ(pair_.init_sock_pair(), 0);
    }
    void TearDown() override {
        uv_close(reinterpret_cast<uv_handle_t*>(async_),
                 [](uv_handle_t* h) { delete reinterpret_cast<uv_async_t*>(h); });
        uv_run(&loop_, UV_RUN_DEFAULT);
        uv_loop_close(&loop_);
        ozr_dbus_rearm();
        g_seen = nullptr;
    }
    // Runs the loop until PRED holds (the service thread works concurrently); false after 10 s.
    template <class Pred>
    bool run_until(Pred pred) {
        for (int i = 0; i < 10000 && !pred(); ++i) {
            uv_run(&loop_, UV_RUN_NOWAIT);
            if (!pred())
                poll(nullptr, 0, 1);
        }
        return pred();
    }

    TempRoot root_;
    LogCapture log_{root_, 7};
    uv_loop_t loop_;
    uv_async_t* async_ = nullptr;
    SockPairHdlr pair_;
    std::vector<Seen> seen_;
};
}  // namespace

TEST_F(Bridge, SeveralWritesBeforeOneWakeUpAreAllHandledInOrder) {
    std::thread service([this] {
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(send_signal(pair_, "sig" + std::to_string(i), DBUS_MSG_ADD_EXTENDER), 0);
    });
    service.join();
    ASSERT_TRUE(run_until([&] { return seen_.size() == 5; }));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(std::tie(seen_[i].text, seen_[i].type, seen_[i].had_rpc),
                  std::make_tuple("sig" + std::to_string(i), DBUS_MSG_ADD_EXTENDER, false));
    }
    EXPECT_EQ(g_wakeups, 1);  // one wake-up, one drain
    // The drain ended on the empty socket pair, logged at debug.
    EXPECT_NE(log_.text().find("read failed with error Resource temporarily unavailable"),
              std::string::npos);
}

TEST_F(Bridge, TypesOutsideOneToTwentyAreDroppedAndTheirCallerReleased) {
    std::atomic<int32_t> result{12345};
    std::thread service([&] {
        EXPECT_EQ(send_signal(pair_, "zero", static_cast<DbusMsgType>(0)), 0);
        EXPECT_EQ(send_signal(pair_, "twenty-one", static_cast<DbusMsgType>(21)), 0);
        EXPECT_EQ(send_signal(pair_, "twenty", DBUS_MSG_MARLOW_JOIN), 0);
        result = call_method(pair_, "method", static_cast<DbusMsgType>(21), nullptr);
    });
    ASSERT_TRUE(run_until([&] { return result != 12345; }));
    service.join();
    EXPECT_EQ(result, -1);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].text, "twenty");
    std::string text = log_.text();
    EXPECT_EQ(count_of(text, "invalid message type received 0"), 1u);
    EXPECT_EQ(count_of(text, "invalid message type received 21"), 2u);
}

TEST_F(Bridge, NullOrEmptyInputIsRefused) {
    EXPECT_EQ(pair_.write_sock_pair(nullptr, 4, nullptr, 0, nullptr, DBUS_MSG_ADD_EXTENDER), -1);
    void* copy = std::malloc(4);  // a signal's copy is freed even when refused
    EXPECT_EQ(pair_.write_sock_pair(copy, 0, nullptr, 0, nullptr, DBUS_MSG_ADD_EXTENDER), -1);
    EXPECT_EQ(count_of(log_.text(), "DbusMsgType) input is NULL"), 2u);
    uv_run(&loop_, UV_RUN_NOWAIT);
    EXPECT_TRUE(seen_.empty());
}

TEST_F(Bridge, AMethodCallWaitsForTheLoopsResult) {
    std::atomic<int32_t> result{12345};
    std::thread service(
        [&] { result = call_method(pair_, "abcdef", DBUS_MSG_REMOVE_EXTENDER, nullptr); });
    // Handed over, but the loop has not run: the caller is still waiting.
    while (count_of(log_.text(), "dbus uv async posted") == 0)
        std::this_thread::yield();
    EXPECT_EQ(result, 12345);
    ASSERT_TRUE(run_until([&] { return result != 12345; }));
    service.join();
    EXPECT_EQ(result, 7);  // the recorder answers the request length
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_TRUE(seen_[0].had_rpc);
}
