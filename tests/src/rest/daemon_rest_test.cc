// The daemon itself answers on the listen address the platform reports and
// stops on "/quit". Runs the built ozr under a temporary OZR_ROOT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "http_test_client.h"
#include "support/process.h"
#include "support/temp_root.h"

using ozr_test::free_port;
using ozr_test::ozr_binary;
using ozr_test::spawn;

namespace {

TEST(DaemonRest, AnswersOnTheConfiguredPortAndQuits) {
    const std::string bin = ozr_binary();
    if (bin.empty() || access(bin.c_str(), X_OK) != 0)
        GTEST_SKIP() << "the ozr binary is not built (OZR_BUILD_DIR unset or no src/main/ozr)";
    ozr_test::TempRoot root;
    const int port = free_port();
    ASSERT_GT(port, 0);
    ASSERT_EQ(system(("mkdir -p '" + root.path("/configs/easymesh") + "'").c_str()), 0);
    ozr_test::write_text(root.path("/configs/easymesh/platform.json"),
                         "{\"mesh-rest-listen-address\": {\"rest-ipv4\": \"127.0.0.1\", "
                         "\"rest-port\": " +
                             std::to_string(port) + "}}");
    // A segment of this process alone: no other daemon answers its controller searches.
    unsigned id = static_cast<unsigned>(getpid());
    ozr_test::write_text(root.path("/configs/easymesh/map_stack.json"),
                         "{\"segment\": \"239." + std::to_string((id >> 16) & 0xFF) + "." +
                             std::to_string((id >> 8) & 0xFF) + "." + std::to_string(id & 0xFF) +
                             ":26101\"}");
    const std::string out = root.path("/ozr.out");
    pid_t pid = spawn(bin, {"--log-path=stdout"}, out);
    ASSERT_GT(pid, 0);
    if (!wait_listening(pid, port)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        FAIL() << "the daemon did not listen on " << port << ":\n" << ozr_test::read_text(out);
    }
    HttpAnswer a = http_request(port, get_request("/1/version"));
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("\"name\": \"ozr\""), std::string::npos) << a.body;
    a = http_request(port, get_request("/debug/graph"));
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("\"nodes\""), std::string::npos) << a.body;
    a = http_request(port, get_request("/1/topology"));
    EXPECT_EQ(a.status, 200);
    a = http_request(port, get_request("/quit"));
    EXPECT_EQ(a.status, 200);
    int status = -1;
    // "/quit" stops the loop; the daemon shuts down and exits 0.
    for (int i = 0; i < 400 && waitpid(pid, &status, WNOHANG) != pid; ++i)
        poll(nullptr, 0, 50);
    if (!WIFEXITED(status)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        FAIL() << "the daemon did not exit after /quit:\n" << ozr_test::read_text(out);
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string log = ozr_test::read_text(out);
    EXPECT_NE(log.find("Accepting REST connections on port " + std::to_string(port)),
              std::string::npos)
        << log;
}

}  // namespace
