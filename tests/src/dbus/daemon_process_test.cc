// The built daemon as a process on a private bus: the second-instance signal, the
// documented busctl line, and REST answering after the bus went away.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/paths.h"
#include "nal/nal.h"
#include "support/bus_client.h"
#include "support/private_bus.h"
#include "support/process.h"
#include "support/temp_root.h"

using ozr_test::BusClient;
using ozr_test::count_of;
using ozr_test::eventually;
using ozr_test::free_port;
using ozr_test::ozr_binary;
using ozr_test::PrivateBus;
using ozr_test::read_text;
using ozr_test::spawn;
using ozr_test::TempRoot;
using ozr_test::wait_exit;

namespace {
// The first line of an HTTP answer to GET PATH on PORT ("" when none).
std::string http_status(int port, const char* path) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
        std::string req = std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n";
        if (write(fd, req.data(), req.size()) == static_cast<ssize_t>(req.size())) {
            struct pollfd p = {fd, POLLIN, 0};
            char buf[512];
            if (poll(&p, 1, 10000) > 0) {
                ssize_t n = read(fd, buf, sizeof buf);
                if (n > 0)
                    answer.assign(buf, static_cast<size_t>(n));
            }
        }
    }
    close(fd);
    return answer.substr(0, answer.find("\r\n"));
}

class BusProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        bin_ = ozr_binary();
        if (bin_.empty() || access(bin_.c_str(), X_OK) != 0)
            GTEST_SKIP() << "the ozr binary is not built (OZR_BUILD_DIR unset or no src/main/ozr)";
        bus_.reset(new PrivateBus(root_.dir()));
        if (!bus_->ok())
            GTEST_SKIP() << bus_->why();
        ASSERT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
        port_ = free_port();
        journal_ = root_.path("/journal.jsonl");
        ozr_test::write_text(nal_platform_json_path(),
                             "{\"platform-journal-path\": \"" + journal_ +
                                 "\", \"mesh-rest-listen-address\": {\"rest-ipv4\": "
                                 "\"127.0.0.1\", \"rest-port\": " +
                                 std::to_string(port_) + "}}");
        log_ = root_.path("/ozr.log");
        pid_ = spawn(bin_, {"--log-path=" + log_, "--log-level=debug"}, root_.path("/ozr.out"));
        ASSERT_TRUE(eventually([&] {
            return count_of(read_text(log_), "serving on the system bus") == 1;
        })) << read_text(log_);
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    TempRoot root_;
    std::unique_ptr<PrivateBus> bus_;
    std::string bin_, journal_, log_;
    int port_ = 0;
    pid_t pid_ = -1;
};
}  // namespace

TEST_F(BusProcess, ASecondInstanceSignalsTheFirstAndLeaves) {
    BusClient monitor;
    ASSERT_TRUE(
        monitor.listen("type='signal',interface='vexal.ozr',member='ozrDuplicationSignal'"));
    pid_t second = spawn(bin_, {"--log-path=stdout"}, root_.path("/second.out"));
    EXPECT_EQ(wait_exit(second), 0);
    EXPECT_EQ(read_text(root_.path("/second.out")), "");
    ASSERT_TRUE(monitor.process_until([&] { return monitor.signals.size() == 1; }));
    EXPECT_EQ(monitor.signals[0].path, "/vexal/ozrd");
    EXPECT_EQ(monitor.signals[0].signature, "");
    EXPECT_TRUE(eventually([&] {
        return count_of(read_text(log_), "Existing OZR detected, abandon starting another OZR! ") ==
               1;
    }));
    EXPECT_EQ(count_of(read_text(journal_),
                       "\"call\":\"qbusSendSignal\",\"interface\":\"vexal.ozr\","
                       "\"member\":\"ozrDuplicationSignal\",\"hex\":\"\"}"),
              1u);
}

TEST_F(BusProcess, TheDocumentedBusctlLineAnswers) {
    if (access("/usr/bin/busctl", X_OK) != 0)
        GTEST_SKIP() << "busctl is not installed (scripts/setup.sh installs systemd)";
    std::string cmd = "busctl --address='" + bus_->address() +
                      "' call vexal.ozrd /vexal/ozrd vexal.ozr.application getmeshtopologyinfo "
                      "ay 4 0 0 0 0 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[256];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    EXPECT_EQ(pclose(p), 0) << out;
    // 0 and the topology as NUL-terminated JSON text, its bytes counted first.
    std::istringstream in(out);
    std::string sig;
    int code = -1;
    size_t count = 0;
    in >> sig >> code >> count;
    EXPECT_EQ(sig, "iay");
    EXPECT_EQ(code, 0);
    std::string text;
    unsigned byte = 0;
    while (in >> byte)
        text += static_cast<char>(byte);
    ASSERT_EQ(text.size(), count) << out;
    ASSERT_GT(count, 0u);
    EXPECT_EQ(text.back(), '\0');
    EXPECT_EQ(text.rfind("{\"controller\":", 0), 0u) << text;
    EXPECT_NE(text.find("\"aps\":["), std::string::npos) << text;
}

TEST_F(BusProcess, RestKeepsAnsweringWhenTheBusDies) {
    ASSERT_EQ(http_status(port_, "/1/version"), "HTTP/1.1 200 OK");
    bus_->stop();
    ASSERT_TRUE(
        eventually([&] { return count_of(read_text(log_), "connection to the bus lost") == 1; }));
    EXPECT_EQ(http_status(port_, "/1/version"), "HTTP/1.1 200 OK");
    int status = 0;
    EXPECT_EQ(waitpid(pid_, &status, WNOHANG), 0);  // still running
}
