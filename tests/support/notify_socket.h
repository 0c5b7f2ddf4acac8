// A service manager's notification socket, as systemd offers one to a service through
// NOTIFY_SOCKET: a datagram socket bound at a path, whose messages a test reads one by one.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace ozr_test {

class NotifySocket {
  public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        struct sockaddr_un sa = {};
        sa.sun_family = AF_UNIX;
        std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~NotifySocket() {
        if (fd_ >= 0)
            close(fd_);
        unlink(path_.c_str());
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

    // The next message, or "" when none came within TIMEOUT_MS (0: only one already queued).
    std::string next(int timeout_ms = 20000) {
        struct pollfd p = {fd_, POLLIN, 0};
        if (fd_ < 0 || poll(&p, 1, timeout_ms) != 1)
            return "";
        char buf[512];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }

  private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace ozr_test
