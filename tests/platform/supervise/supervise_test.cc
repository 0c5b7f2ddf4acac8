#include "supervise/supervise.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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
