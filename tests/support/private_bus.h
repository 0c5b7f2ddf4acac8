// A private message bus for tests: its own dbus-daemon (a configuration that allows
// everything, listening on a socket in the test's folder), made the "system bus" of the
// process through DBUS_SYSTEM_BUS_ADDRESS, stopped by its pid at the end.
//
//   ozr_test::TempRoot root;
//   ozr_test::PrivateBus bus(root.dir());
//   if (!bus.ok()) GTEST_SKIP() << bus.why();
//   ... the daemon and the test's clients now meet on bus.address() ...
//
// scripts/private-bus.sh does the same for shells (the demo, people).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/temp_root.h"

namespace ozr_test {

inline std::string private_bus_config(const std::string& socket_path) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>custom</type>\n"
           "  <listen>unix:path=" +
           socket_path +
           "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow user=\"*\"/>\n"
           "    <allow own=\"*\"/>\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow receive_sender=\"*\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

class PrivateBus {
  public:
    // Starts the bus with its files in DIR and makes it the process's system bus.
    explicit PrivateBus(const std::string& dir) {
        if (access("/usr/bin/dbus-daemon", X_OK) != 0) {
            why_ = "dbus-daemon is not installed (scripts/setup.sh installs it)";
            return;
        }
        std::string conf = dir + "/private-bus.conf";
        socket_ = dir + "/private-bus.sock";
        std::ofstream(conf) << private_bus_config(socket_);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            why_ = "pipe failed";
            return;
        }
        const std::string conf_arg = "--config-file=" + conf;  // nothing allocates after fork
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            // The bus goes with the test process, even one that crashed, and holds none of
            // its output: a bus left behind would keep ctest's pipe open for ever.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent)
                _exit(0);
            dup2(fds[1], 3);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);  // "Failed to set fd limit" as non-root
            execl("/usr/bin/dbus-daemon", "dbus-daemon", conf_arg.c_str(), "--nofork",
                  "--nopidfile", "--print-address=3", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string line;
        for (int waited = 0; waited < 10000 && line.find('\n') == std::string::npos;) {
            struct pollfd p = {fds[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) {
                waited += 100;  // the bus daemon is starting in another process
                continue;
            }
            char buf[256];
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            line.append(buf, static_cast<size_t>(n));
        }
        close(fds[0]);
        size_t nl = line.find('\n');
        if (pid_ <= 0 || nl == std::string::npos) {
            why_ = "dbus-daemon did not start";
            stop();
            return;
        }
        address_ = line.substr(0, nl);
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
    }
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ok() const { return !address_.empty() && pid_ > 0; }
    const std::string& why() const { return why_; }
    const std::string& address() const { return address_; }

    // Stops the bus daemon (also what a test does to take the bus away under a client).
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

  private:
    SavedEnv bus_env_{"DBUS_SYSTEM_BUS_ADDRESS"};
    std::string socket_;
    std::string address_;
    std::string why_;
    pid_t pid_ = -1;
};

}  // namespace ozr_test
