#include "supervise/supervise.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <uv.h>

#include <cstdlib>

#include "common/clock.h"
#include "support/notify_socket.h"
#include "support/temp_root.h"

using ozr_test::read_text;
using ozr_test::TempRoot;

namespace {
// Runs the check in a child process; returns its result, or -1. When HOLD is set the
// child keeps running (holding the lock) until the returned pipe is closed.
struct Child {
    pid_t pid = -1;
    int release_fd = -1;
    int result = -1;
};

Child check_in_child(const char* argv0, bool hold) {
    int res[2], rel[2];
    Child c;
    if (pipe(res) != 0 || pipe(rel) != 0)
        return c;
    c.pid = fork();
    if (c.pid == 0) {
        close(res[0]);
        close(rel[1]);
        char r = static_cast<char>(check_duplication_by_pid_file(argv0));
        if (write(res[1], &r, 1) != 1)
            _exit(2);
        if (hold) {
            char x;
            while (read(rel[0], &x, 1) > 0) {
            }
        }
        _exit(0);
    }
    close(res[1]);
    close(rel[0]);
    char r = -1;
    if (read(res[0], &r, 1) == 1)
        c.result = r;
    close(res[0]);
    c.release_fd = rel[1];
    return c;
}

void finish(Child& c) {
    close(c.release_fd);
    int st = 0;
    waitpid(c.pid, &st, 0);
}
}  // namespace

TEST(PidFile, NamedAfterTheProgramAndFallsBackToTmp) {
    TempRoot root;
    // /var/run cannot be a folder: the file goes to /tmp.
    ozr_test::write_text(root.path("/var"), "not a folder");
    Child a = check_in_child("/sbin/other-daemon", true);
    ASSERT_EQ(a.result, 0);
    EXPECT_TRUE(ozr_test::file_exists(root.path("/tmp/other-daemon.pid")));
    Child b = check_in_child("other-daemon", false);
    EXPECT_EQ(b.result, 1);
    finish(b);
    Child c = check_in_child("third-daemon", false);
    EXPECT_EQ(c.result, 0);  // a different program is not a duplicate
    finish(c);
    finish(a);
}

// The service manager's side: READY=1 when the daemon serves, then keep-alives at half the
// interval asked while the daemon feeds, and one trigger when it stopped feeding. The manual
// clock says how long ago the last feed was; each turn of the loop is one keep-alive tick.
TEST(Watchdog, ServiceManagerHearsReadyThenKeepAlivesWhileFed) {
    TempRoot root;
    ozr_test::NotifySocket manager(root.path("/notify"));
    ASSERT_TRUE(manager.ok());
    uv_loop_t loop;
    uv_loop_init(&loop);
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
    EXPECT_EQ(supervise_notify_ready(&loop), 0);  // no manager: nothing at all
    setenv("NOTIFY_SOCKET", manager.path().c_str(), 1);
    EXPECT_EQ(supervise_notify_ready(&loop), 0);  // a manager without a watchdog
    EXPECT_EQ(manager.next(), "READY=1");
    setenv("WATCHDOG_USEC", "20000", 1);
    setenv("WATCHDOG_PID", std::to_string(getpid() + 1).c_str(), 1);
    EXPECT_EQ(supervise_notify_ready(&loop), 0);  // a watchdog for another process
    EXPECT_EQ(manager.next(), "READY=1");
    EXPECT_FALSE(uv_loop_alive(&loop));

    unsetenv("WATCHDOG_PID");
    ozr_clock::set_manual(5000000);
    EXPECT_EQ(supervise_notify_ready(&loop), 10);  // 20 ms asked: every 10 ms
    EXPECT_EQ(manager.next(), "READY=1");
    uv_run(&loop, UV_RUN_ONCE);
    EXPECT_EQ(manager.next(), "WATCHDOG=1");
    ozr_clock::advance(kSuperviseFeedStaleMs);  // readiness counts as a feed
    uv_run(&loop, UV_RUN_ONCE);
    EXPECT_EQ(manager.next(), "WATCHDOG=1");
    watchdog_feed();
    ozr_clock::advance(kSuperviseFeedStaleMs);
    uv_run(&loop, UV_RUN_ONCE);
    EXPECT_EQ(manager.next(), "WATCHDOG=1");
    ozr_clock::advance(1);  // the feed stopped
    uv_run(&loop, UV_RUN_ONCE);
    EXPECT_EQ(manager.next(), "WATCHDOG=trigger");
    uv_run(&loop, UV_RUN_ONCE);
    EXPECT_EQ(manager.next(0), "");  // once
    watchdog_feed();
    uv_run(&loop, UV_RUN_ONCE);
    EXPECT_EQ(manager.next(), "WATCHDOG=1");  // fed again: the manager decides what happens

    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    ozr_clock::use_real();
    uv_walk(
        &loop, [](uv_handle_t* h, void*) { uv_close(h, nullptr); }, nullptr);
    uv_run(&loop, UV_RUN_DEFAULT);
    EXPECT_EQ(uv_loop_close(&loop), 0);
}
