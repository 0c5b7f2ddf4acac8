// Runs the built daemon as a subprocess under a temporary OZR_ROOT. The daemon has no
// quit path of its own yet: a running instance is stopped with SIGTERM.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/paths.h"
#include "main/build_info.h"
#include "main/cmdline.h"
#include "platform/map/transport/transport_test_util.h"
#include "src/rest/http_test_client.h"
#include "support/notify_socket.h"
#include "support/process.h"
#include "support/temp_root.h"

using ozr_test::count_of;
using ozr_test::ozr_binary;
using ozr_test::read_text;
using ozr_test::TempRoot;

namespace {
long long mono_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The daemon as a child process, its standard output and error in files of the root.
class Daemon {
  public:
    Daemon(const TempRoot& root, std::vector<std::string> args, const std::string& tag = "run")
        : out_(root.path("/" + tag + ".stdout")),
          err_(root.path("/" + tag + ".stderr")),
          pid_(ozr_test::spawn(ozr_binary(), args, out_, false, err_)) {}
    ~Daemon() { stop(); }

    // The exit status within 20 s, or -1 on timeout / death by a signal.
    int wait_exit() {
        ozr_test::eventually([&] { return !running(); });
        return done_ ? status_ : -1;
    }
    // Waits until FILE holds TEXT while the daemon keeps running.
    bool wait_for(const std::string& file, const std::string& text) {
        auto holds = [&] { return read_text(file).find(text) != std::string::npos; };
        ozr_test::eventually([&] { return holds() || !running(); });
        return holds();
    }
    bool running() {
        int st = 0;
        if (!done_ && waitpid(pid_, &st, WNOHANG) == pid_) {
            done_ = true;
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        }
        return !done_;
    }
    void stop() {
        if (!running())
            return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        done_ = true;
    }
    std::string out() const { return read_text(out_); }
    std::string err() const { return read_text(err_); }

  private:
    std::string out_, err_;
    pid_t pid_;
    bool done_ = false;
    int status_ = -1;
};

// The REST port of this test process's first daemon.
int rest_port() {
    return 20000 + static_cast<int>(getpid() % 20000);
}

// The stack's and the platform's files of a daemon under ROOT: interface and AL MAC
// 02:6f:7a:72:ID:01 on SEGMENT, REST on PORT.
void write_daemon_files(const std::string& root, const std::string& segment, int id, int port) {
    ozr_make_dirs(root + "/configs/easymesh");
    char mac[32];
    std::snprintf(mac, sizeof mac, "02:6f:7a:72:%02x:01", id);
    ozr_test::write_text(root + "/configs/easymesh/map_stack.json",
                         std::string("{\"segment\": \"") + segment +
                             "\", \"interfaces\": [{\"name\": \"ozr0\", \"mac\": \"" + mac +
                             "\"}]}");
    ozr_test::write_text(root + "/configs/easymesh/platform.json",
                         "{\"mesh-rest-listen-address\": {\"rest-ipv4\": \"127.0.0.1\", "
                         "\"rest-port\": " +
                             std::to_string(port) + "}}");
}

class OzrProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        if (ozr_binary().empty() || !ozr_test::file_exists(ozr_binary()))
            GTEST_SKIP() << "OZR_BUILD_DIR is not set or the ozr binary is not built";
        write_daemon_files(root_.dir(), private_segment(26001), 1, rest_port());
    }
    std::string db() const { return root_.path("/configs/easymesh/ozr_dbg_db.json"); }
    rapidjson::Document db_doc() const {
        rapidjson::Document d;
        d.Parse(read_text(db()).c_str());
        return d;
    }
    TempRoot root_;
};
}  // namespace

// Version and help print and leave whatever else the command line holds; a bad level, an
// unknown option or word, a missing argument are each reported (all of them) and exit 1;
// a log file that cannot be opened exits 2. None of them acts on anything.
TEST_F(OzrProcess, CommandLinesThatEndAtOnce) {
    const struct {
        std::vector<std::string> args;
        int exit;
        std::string out, err;
    } rows[] = {
        {{"--version", "--log-level=nonsense", "--bogus", "extra"},
         0,
         std::string("Build ") + g_szBuildVersion + "\nCommit " + g_szMetaData + "\n",
         ""},
        {{"--log-level=nonsense", "--help"}, 0, usage_text(80), ""},
        {{"--log-level=loud"}, 1, "", "Unknown log level: 'loud'"},
        {{"--log-level=root.graph:verbose", "--frob", "--log-level=debug"},
         1,
         "",
         "Unknown log level: 'verbose'Unknown option: --frob\n"},
        {{"start", "--log-path=null", "now"},
         1,
         "",
         "Invalid command line argument: 'start'\nInvalid command line argument: 'now'\n"},
        {{"--help", "--log-level"},
         1,
         "",
         "Option --log-level requires an argument\nInvalid command line arguments\n"},
        {{"--log-path=" + root_.path("/no/such/dir/ozr.log")},
         2,
         "",
         "Failed to initialize logging: No such file or directory\n"},
    };
    for (const auto& r : rows) {
        Daemon d(root_, r.args);
        EXPECT_EQ(d.wait_exit(), r.exit) << r.args[0];
        EXPECT_EQ(d.out(), r.out) << r.args[0];
        EXPECT_EQ(d.err(), r.err) << r.args[0];
    }
    EXPECT_FALSE(ozr_test::file_exists(db()));
}

TEST_F(OzrProcess, RunsUntilStoppedAndASecondInstanceLeavesAtOnce) {
    Daemon d(root_, {"--log-path=stdout"});
    ASSERT_TRUE(d.wait_for(root_.path("/run.stdout"), "Entering uv loop")) << d.err();
    std::string out = d.out();
    size_t start =
        out.find("notice root: ---- Starting up ---------------------------------------------");
    ASSERT_NE(start, std::string::npos);
    EXPECT_LT(start, out.find("notice root: Entering uv loop"));
    EXPECT_TRUE(d.running());

    Daemon second(root_, {"--log-path=stdout", "--log-level=debug"}, "second");
    EXPECT_EQ(second.wait_exit(), 0);
    EXPECT_EQ(second.out(), "");
    EXPECT_EQ(second.err(), "");
    EXPECT_TRUE(d.running());
    // The second instance changed nothing.
    EXPECT_TRUE(json_has(db_doc(), R"({"ozr-log-configuration": {"root": "info"}})"));
    d.stop();
}

// Under a service manager (systemd's NOTIFY_SOCKET and WATCHDOG_USEC): "READY=1" once the
// REST API is open, then "WATCHDOG=1" every half of the interval asked (200 ms here).
TEST_F(OzrProcess, TellsTheServiceManagerItServesThenFeedsItsWatchdog) {
    ozr_test::NotifySocket manager(root_.path("/notify"));
    ASSERT_TRUE(manager.ok());
    std::string log = root_.path("/ozr.log");
    setenv("NOTIFY_SOCKET", manager.path().c_str(), 1);
    setenv("WATCHDOG_USEC", "200000", 1);
    Daemon d(root_, {"--log-path=" + log});
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    // Waits up to 20 s for each message.
    ASSERT_EQ(manager.next(), "READY=1") << d.err();
    HttpAnswer version = http_request(rest_port(), get_request("/1/version"));
    EXPECT_EQ(version.status, 200);
    std::vector<long long> at;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(manager.next(), "WATCHDOG=1");
        at.push_back(mono_ms());
    }
    // Never early (a timer fires at its time or later; the loop's clock may lag a little).
    EXPECT_GE(at[2] - at[0], 2 * 50);
    EXPECT_NE(read_text(log).find("Service manager watchdog: keep-alive every 100 ms"),
              std::string::npos);
    EXPECT_TRUE(d.running());
    d.stop();
}

TEST_F(OzrProcess, LevelsPersistAcrossRuns) {
    std::string log = root_.path("/ozr.log");
    {
        Daemon d(root_, {"--log-path=" + log, "--log-level=root.graph:debug", "--log-level=notice",
                         "--log-level=ozr.map:debug", "--log-level=map.1905:error"});
        ASSERT_TRUE(d.wait_for(log, "Entering uv loop")) << d.err();
        d.stop();
    }
    EXPECT_TRUE(json_has(db_doc(), R"({
        "ozr-log-configuration": {"root": "notice", "root.graph": "debug", "root.data": "info"},
        "map-log-configuration": {"map.library": "debug", "map.1905": "err",
                                  "map.controller": "debug", "map.vendor-ipc": "debug"}})"));
    ASSERT_EQ(std::remove(log.c_str()), 0);
    {
        // root:debug is the same as debug; categories not named keep their levels.
        Daemon d(root_, {"--log-level=root:debug", "--log-level=root.data:err"}, "second");
        ASSERT_TRUE(d.wait_for(log, "Entering uv loop")) << d.err();
        d.stop();
    }
    EXPECT_TRUE(json_has(db_doc(), R"({"map-log-configuration": {"map.1905": "err"},
        "ozr-log-configuration": {"root": "debug", "root.graph": "debug", "root.data": "err"}})"));
}

TEST_F(OzrProcess, LogFileIsUsedAgainWithoutLogPath) {
    std::string log = root_.path("/ozr.log");
    {
        Daemon d(root_, {"--log-path=" + log});
        ASSERT_TRUE(d.wait_for(log, "Entering uv loop")) << d.err();
        d.stop();
    }
    ASSERT_EQ(std::remove(log.c_str()), 0);
    Daemon d(root_, {}, "second");
    ASSERT_TRUE(d.wait_for(log, "Entering uv loop")) << d.err();
    EXPECT_EQ(count_of(read_text(log), "---- Starting up"), 1u);
    EXPECT_EQ(d.out(), "");
    d.stop();
}

TEST_F(OzrProcess, NullDestinationDiscardsEverything) {
    Daemon d(root_, {"--log-path=null", "--log-level=debug"});
    // The destination is persisted before the loop starts; the watchdog timer then
    // keeps the daemon running.
    ozr_test::eventually([&] { return read_text(db()).find("\"null\"") != std::string::npos; });
    ASSERT_TRUE(d.running());
    d.stop();
    EXPECT_TRUE(json_has(db_doc(), R"({"log-destination": "null"})"));
    EXPECT_EQ(d.out(), "");
    EXPECT_EQ(d.err(), "");
}

TEST_F(OzrProcess, ContextInitFailureLogsOnceAndExitsOne) {
    std::string log = root_.path("/ozr.log");
    ASSERT_EQ(std::system(("rm -rf '" + root_.path("/configs") + "'").c_str()), 0);
    ozr_test::write_text(root_.path("/configs"), "not a folder");
    Daemon d(root_, {"--log-path=" + log});
    EXPECT_EQ(d.wait_exit(), 1);
    std::string text = read_text(log);
    EXPECT_EQ(count_of(text, "failed to initialize"), 2u);
    size_t data = text.find("notice root: data_minder failed to initialize");
    size_t ctx = text.find("err root: context failed to initialize");
    ASSERT_NE(data, std::string::npos);
    ASSERT_NE(ctx, std::string::npos);
    EXPECT_LT(data, ctx);
    EXPECT_EQ(count_of(text, "ControllerMinder::init"), 0u);  // later minders untouched
    EXPECT_EQ(count_of(text, "Entering uv loop"), 0u);
    EXPECT_EQ(read_text(root_.path("/configs")), "not a folder");
}

TEST_F(OzrProcess, CorruptDebugDatabaseIsRecovered) {
    std::string log = root_.path("/ozr.log");
    ASSERT_TRUE(ozr_make_dirs(root_.path("/configs/easymesh")));
    const std::string garbage = "{\"log-destination\": \"stdout\",,}";
    ozr_test::write_text(db(), garbage);
    Daemon d(root_, {"--log-path=" + log, "--log-level=info"});
    ASSERT_TRUE(d.wait_for(log, "Entering uv loop")) << d.err();
    d.stop();
    EXPECT_EQ(read_text(root_.path("/configs/easymesh/ozr_dbg_db_backup.json")), garbage);
    EXPECT_TRUE(json_has(db_doc(), "{\"log-destination\": \"" + log +
                                       "\", \"ozr-log-configuration\": {\"root\": \"info\"}}"));
}

// Two gateways' daemons on one segment: the one whose search another controller answers
// withdraws (exit 0, readiness marker removed); the other keeps running.
TEST_F(OzrProcess, OfTwoControllersOnOneSegmentExactlyOneKeepsRunning) {
    const std::string seg = private_segment(26002);
    TempRoot other;  // now OZR_ROOT: the second daemon's
    const int port = rest_port();
    write_daemon_files(root_.dir(), seg, 1, port);
    write_daemon_files(other.dir(), seg, 2, port + 1);
    for (const TempRoot* r : {&root_, &other}) {
        ozr_make_dirs(r->path("/tmp"));
        ozr_test::write_text(r->path("/tmp/pmx_start_ozr_ready"), "");
    }
    const std::string log_a = root_.path("/ozr.log"), log_b = other.path("/ozr.log");
    setenv("OZR_ROOT", root_.dir().c_str(), 1);
    Daemon a(root_, {"--log-path=" + log_a, "--log-level=root.controller:debug"}, "a");
    // The first one's first search finds nobody.
    ASSERT_TRUE(a.wait_for(log_a, "send succeed, interface_name is all.")) << a.err();
    setenv("OZR_ROOT", other.dir().c_str(), 1);
    Daemon b(other, {"--log-path=" + log_b, "--log-level=root.controller:debug"}, "b");
    // The newcomer's search (1-1000 ms after its start) is answered by the first one.
    EXPECT_EQ(b.wait_exit(), 0) << read_text(log_b);
    EXPECT_EQ(count_of(read_text(log_b), "- Duplicate MAP controller detected. Exiting."), 1u);
    EXPECT_FALSE(ozr_test::file_exists(other.path("/tmp/pmx_start_ozr_ready")));
    EXPECT_NE(read_text(log_b).find("uv_loop_close result 0"), std::string::npos);
    // The first one searches again 5-7 s after its first search, unanswered, and runs on.
    std::string text = read_text(log_a);
    size_t first = text.find("send succeed, interface_name is all.");
    EXPECT_TRUE(ozr_test::eventually([&] {
        return read_text(log_a).find("send succeed, interface_name is all.", first + 1) !=
               std::string::npos;
    }));
    EXPECT_TRUE(a.running());
    EXPECT_EQ(read_text(log_a).find("Duplicate MAP controller"), std::string::npos);
    EXPECT_TRUE(ozr_test::file_exists(root_.path("/tmp/pmx_start_ozr_ready")));
    a.stop();
}
