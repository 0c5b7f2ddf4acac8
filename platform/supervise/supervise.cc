#include "supervise/supervise.h"

#include <fcntl.h>
#include <sys/file.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>
#include <uv.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "common/clock.h"
#include "common/paths.h"

namespace {
int g_pid_fd = -1;  // kept open (and locked) for the life of the process
std::string g_pid_path;
unsigned long g_feeds = 0;
long long g_last_feed_ms = 0;
// The keep-alive timer: static, so that nothing is left to free when the loop's owner closes
// it with its other handles (it is nobody else's timer, its data is null).
uv_timer_t g_keepalive;
bool g_triggered = false;

std::string base_name(const char* argv0) {
    std::string s = argv0 ? argv0 : "";
    size_t slash = s.rfind('/');
    if (slash != std::string::npos)
        s = s.substr(slash + 1);
    if (s.empty() || s == "." || s == "..")
        s = "ozr";
    return s;
}

// -1: cannot use this folder; 0: locked by us; 1: held by another process.
int try_lock(const std::string& dir, const std::string& name) {
    if (!ozr_make_dirs(dir, 0755))
        return -1;
    std::string path = dir + "/" + name + ".pid";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno;
        close(fd);
        return e == EWOULDBLOCK ? 1 : -1;
    }
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "%d\n", static_cast<int>(getpid()));
    if (ftruncate(fd, 0) != 0 || pwrite(fd, buf, static_cast<size_t>(n), 0) != n) {
        // The lock is what counts; a pid text that could not be written is only cosmetic.
    }
    if (g_pid_fd >= 0)
        close(g_pid_fd);
    g_pid_fd = fd;
    g_pid_path = path;
    return 0;
}
}  // namespace

int check_duplication_by_pid_file(const char* argv0) {
    std::string name = base_name(argv0);
    for (const char* dir : {"/var/run", "/tmp"}) {
        int r = try_lock(ozr_path(dir), name);
        if (r == 1)
            return 1;
        if (r == 0)
            return 0;
    }
    return 0;
}

const char* supervise_pid_file_path() {
    return g_pid_path.c_str();
}

void watchdog_feed() {
    ++g_feeds;
    g_last_feed_ms = get_current_time_ms();
}

unsigned long supervise_watchdog_feeds() {
    return g_feeds;
}

namespace {
void on_keepalive(uv_timer_t*) {
    if (get_current_time_ms() - g_last_feed_ms <= kSuperviseFeedStaleMs) {
        sd_notify(0, "WATCHDOG=1");
    } else if (!g_triggered) {
        g_triggered = true;
        sd_notify(0, "WATCHDOG=trigger");
    }
}
}  // namespace

long long supervise_notify_ready(uv_loop_s* loop) {
    g_last_feed_ms = get_current_time_ms();
    if (sd_notify(0, "READY=1") <= 0)
        return 0;  // no service manager listens (or it cannot be reached)
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return 0;
    // Half the interval asked, at least 1 ms.
    long long period = static_cast<long long>(usec / 2000);
    if (period < 1)
        period = 1;
    g_triggered = false;
    uv_timer_init(loop, &g_keepalive);
    g_keepalive.data = nullptr;
    uv_timer_start(&g_keepalive, on_keepalive, static_cast<uint64_t>(period),
                   static_cast<uint64_t>(period));
    return period;
}
