// Test helpers for tests that run the daemon (or another program) as a child process: where
// the built daemon is, a free loopback port, starting a child with its output in a file, and
// waiting for something another process does.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace ozr_test {

// The daemon of this build ("" when OZR_BUILD_DIR is not set).
inline std::string ozr_binary() {
    const char* b = std::getenv("OZR_BUILD_DIR");
    return b ? std::string(b) + "/src/main/ozr" : std::string();
}

// A loopback port nothing listens on right now (the kernel's pick for a socket closed at once).
inline int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    close(fd);
    return port;
}

// Polls COND every PERIOD_MS for up to SECONDS (another process works meanwhile).
template <class Cond>
bool eventually(Cond cond, int seconds = 20, int period_ms = 10) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        poll(nullptr, 0, period_ms);
    }
    return true;
}

// Starts BIN with ARGS, its standard output and error written to the file OUT (appended to
// when APPEND, else replaced); its standard error to the file ERR instead when one is named.
inline pid_t spawn(const std::string& bin, const std::vector<std::string>& args,
                   const std::string& out, bool append = false, const std::string& err = "") {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(bin.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(out.c_str(), O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0644);
        dup2(fd, 1);
        dup2(err.empty() ? fd : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

// The exit status of PID within 20 s, -1 otherwise (or when a signal ended it).
inline int wait_exit(pid_t pid) {
    int status = -1;
    bool done = eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    return done && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ozr_test
