// The AP configuration database survives kill -9 at any moment: the built daemon is kept
// rewriting the file (pipelined policy changes over REST) and killed with SIGKILL while
// requests are still in flight, again and again. After every kill the file on disk must be
// a whole, valid document holding every change that was answered, and the next start must
// load it without finding anything corrupt.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "src/rest/http_test_client.h"
#include "support/process.h"
#include "support/temp_root.h"

using ozr_test::free_port;
using ozr_test::ozr_binary;
using ozr_test::spawn;

namespace {

using ozr_test::read_text;

// The daemon, its output appended to OUT (one file over its restarts).
pid_t start_daemon(const std::string& bin, const std::string& out) {
    return spawn(bin, {"--log-path=stdout"}, out, true);
}

std::string put_interval(int value) {
    return body_request("PUT", "/debug/configdb",
                        "{\"metric-policy-configuration\": {\"metrics-report-interval\": " +
                            std::to_string(value) + "}}");
}

// The file is one whole document with every key in place; its interval in INTERVAL.
::testing::AssertionResult whole_document(const std::string& text, int& interval) {
    rapidjson::Document d;
    d.Parse(text.c_str(), text.size());
    if (d.HasParseError() || !d.IsObject())
        return ::testing::AssertionFailure() << "not a JSON object:\n" << text;
    const char* keys[] = {"version",
                          "last updated",
                          "alme-port",
                          "other-map-controller-found",
                          "ap-white-list",
                          "metric-policy-configuration",
                          "controller-topology-configuration"};
    size_t i = 0;
    for (auto it = d.MemberBegin(); it != d.MemberEnd(); ++it, ++i)
        if (i >= 7 || std::string(it->name.GetString()) != keys[i])
            return ::testing::AssertionFailure() << "unexpected key order:\n" << text;
    if (i != 7 || text.empty() || text.back() != '\n')
        return ::testing::AssertionFailure() << "incomplete:\n" << text;
    interval = d["metric-policy-configuration"]["metrics-report-interval"].GetInt();
    return ::testing::AssertionSuccess();
}

TEST(ConfigDbCrash, KillNineDuringRewritesAlwaysLeavesAWholeFile) {
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
    const std::string db = root.path("/configs/easymesh/ozr_config_db.json");
    const std::string out = root.path("/ozr.out");
    constexpr int kRounds = 12;
    constexpr int kInFlight = 40;
    int value = 1000;
    int answered = 10;  // the default interval until a change is answered
    for (int round = 0; round < kRounds; ++round) {
        pid_t pid = start_daemon(bin, out);
        ASSERT_GT(pid, 0);
        if (!wait_listening(pid, port)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            FAIL() << "round " << round << ": the daemon did not listen:\n" << read_text(out);
        }
        int interval = 0;
        ASSERT_TRUE(whole_document(read_text(db), interval)) << "round " << round;
        EXPECT_EQ(interval, answered) << "round " << round << ": an answered change was lost";

        // Many changes in flight; the kill lands after a varying number of answers.
        TestClient c;
        ASSERT_TRUE(c.connect(port));
        std::string burst;
        const int first = value;
        for (int i = 0; i < kInFlight; ++i)
            burst += put_interval(++value);
        ASSERT_TRUE(c.send(burst));
        const int wait_for = 1 + (round * 7) % (kInFlight - 1);
        for (int i = 0; i < wait_for; ++i) {
            HttpAnswer a;
            ASSERT_TRUE(c.read_answer(a)) << "round " << round << " answer " << i;
            ASSERT_EQ(a.status, 200);
            answered = first + i + 1;
        }
        ASSERT_EQ(kill(pid, SIGKILL), 0);
        int st = 0;
        ASSERT_EQ(waitpid(pid, &st, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(st));

        // Whole, and at least as new as the last answer (later ones may have landed too).
        ASSERT_TRUE(whole_document(read_text(db), interval)) << "round " << round;
        EXPECT_GE(interval, answered) << "round " << round;
        EXPECT_LE(interval, value) << "round " << round;
        answered = interval;
    }
    // The last start after a kill: nothing was ever found corrupt, no backup was made.
    pid_t pid = start_daemon(bin, out);
    ASSERT_TRUE(wait_listening(pid, port));
    HttpAnswer a = http_request(port, get_request("/debug/configdb"));
    EXPECT_EQ(a.status, 200);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const std::string log = read_text(out);
    EXPECT_EQ(log.find("corrupted"), std::string::npos) << log;
    EXPECT_EQ(log.find("corrcupted"), std::string::npos) << log;
    EXPECT_FALSE(ozr_test::file_exists(root.path("/configs/easymesh/ozr_config_db_backup.json")));
    // Temporary files of interrupted writes were cleaned up at the starts.
    ASSERT_EQ(
        system(("ls '" + root.path("/configs/easymesh") + "' > '" + root.path("/ls.txt") + "'")
                   .c_str()),
        0);
    EXPECT_EQ(read_text(root.path("/ls.txt")).find("ozr_config_db.json.tmp"), std::string::npos);
}

}  // namespace
