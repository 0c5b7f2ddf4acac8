// The built daemon as a process on a private bus: the extender calls (admission by the
// platform's "notifyAddExtender" signal, "getextenderinfo", "getmeshtopology" and
// "removeextender" with their records, the file and the REST view following them), the
// second-instance signal, the documented busctl line, and REST answering after the bus went
// away until "/quit" ends the daemon.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/paths.h"
#include "dbus/ozr_dbus.h"
#include "messages/bus_records.h"
#include "nal/nal.h"
#include "src/rest/http_test_client.h"
#include "support/bus_client.h"
#include "support/private_bus.h"
#include "support/process.h"
#include "support/temp_root.h"

using ozr_test::BusClient;
using ozr_test::BusReply;
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
std::vector<uint8_t> extender_data(const std::string& sn) {
    ZkaExtenderData_T req{};
    zka_set_text(req.sn, sn);
    const auto* p = reinterpret_cast<const uint8_t*>(&req);
    return std::vector<uint8_t>(p, p + sizeof req);
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
        client_.reset(new BusClient());  // on the private bus, now the system bus
        ASSERT_TRUE(client_->ok());
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    std::string db() const { return read_text(root_.path("/configs/easymesh/ozr_config_db.json")); }
    ZkaExtenderInfoList_T info(const std::string& sn, int32_t& result) {
        BusReply r = client_->call("getextenderinfo", extender_data(sn));
        EXPECT_TRUE(r.ok) << r.error_name;
        result = r.result;
        ZkaExtenderInfoList_T list{};
        EXPECT_EQ(r.data.size(), sizeof list);
        if (r.data.size() == sizeof list)
            std::memcpy(&list, r.data.data(), sizeof list);
        return list;
    }

    TempRoot root_;
    std::unique_ptr<PrivateBus> bus_;
    std::unique_ptr<BusClient> client_;
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

TEST_F(BusProcess, RestKeepsAnsweringWhenTheBusDiesUntilQuit) {
    ASSERT_EQ(http_request(port_, get_request("/1/version")).status, 200);
    bus_->stop();
    ASSERT_TRUE(
        eventually([&] { return count_of(read_text(log_), "connection to the bus lost") == 1; }));
    HttpAnswer a = http_request(port_, get_request("/1/version"));
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("\"name\": \"ozr\""), std::string::npos) << a.body;
    EXPECT_NE(read_text(log_).find("Accepting REST connections on port " + std::to_string(port_)),
              std::string::npos);
    // "/quit" stops the loop; the daemon shuts down and exits 0.
    EXPECT_EQ(http_request(port_, get_request("/quit")).status, 200);
    EXPECT_EQ(wait_exit(pid_), 0);
    pid_ = -1;
}

TEST_F(BusProcess, ExtendersAreAdmittedListedAndRemoved) {
    ASSERT_TRUE(client_->emit_s("vexal.kpl", "notifyAddExtender", "ex2026000002"));
    ASSERT_TRUE(client_->flush());
    ASSERT_TRUE(eventually([&] { return db().find("\"EX2026000002\"") != std::string::npos; }))
        << read_text(log_);
    // Admitted twice: refused, still one record.
    ASSERT_TRUE(client_->emit_s("vexal.kpl", "notifyAddExtender", "EX2026000002"));
    ASSERT_TRUE(client_->emit_s("vexal.kpl", "notifyAddExtender", "EX2026000003"));
    ASSERT_TRUE(client_->flush());
    ASSERT_TRUE(eventually([&] { return db().find("\"EX2026000003\"") != std::string::npos; }));
    EXPECT_EQ(count_of(read_text(log_), "Add AP Already exist for sn: EX2026000002"), 1u);
    EXPECT_EQ(count_of(db(), "\"serial-number\": \"EX2026000002\""), 1u);

    int32_t result = 99;
    ZkaExtenderInfoList_T all = info("", result);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(all.count, 2);
    EXPECT_EQ(zka_text(all.entries[0].sn), "EX2026000002");
    EXPECT_EQ(all.entries[0].status, 1);  // NotDetected
    EXPECT_EQ(zka_text(all.entries[0].hostname), "host_EX2026000002");
    EXPECT_EQ(zka_text(all.entries[0].ipv4), "192.168.1.1");
    EXPECT_EQ(zka_text(all.entries[1].sn), "EX2026000003");
    ZkaExtenderInfoList_T one = info("ex2026000003", result);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(one.count, 1);
    EXPECT_EQ(zka_text(one.entries[0].sn), "EX2026000003");
    info("NOPE", result);
    EXPECT_EQ(result, -1);

    // The packed topology lists both admitted extenders, and the bus carries exactly the
    // bytes the size formula walks; the dump file follows.
    BusReply topo = client_->call("getmeshtopology", std::vector<uint8_t>(4, 0));
    ASSERT_TRUE(topo.ok) << topo.error_name;
    EXPECT_EQ(topo.result, 0);
    ASSERT_GE(topo.data.size(), kZkaTopoHeaderLen);
    EXPECT_EQ(topo.data[kZkaTopoApCountAt], 2);
    EXPECT_EQ(topo.data.size(),
              get_topo_msg_size(reinterpret_cast<const ZkaEmNetwork_T*>(topo.data.data())));
    // Neither extender was seen yet (both system MACs zero): each has its own entry, in
    // white list order. An entry's offset is the size of the block cut after the ones
    // before it.
    const char* const sns[] = {"EX2026000002", "EX2026000003"};
    for (size_t i = 0; i < 2; ++i) {
        std::vector<uint8_t> cut = topo.data;
        cut[kZkaTopoApCountAt] = static_cast<uint8_t>(i);
        const size_t at = get_topo_msg_size(reinterpret_cast<const ZkaEmNetwork_T*>(cut.data()));
        ASSERT_LT(at + 137 + 33, topo.data.size());
        EXPECT_EQ(zka_text(reinterpret_cast<const char*>(topo.data.data()) + at + 137, 33), sns[i]);
    }
    EXPECT_NE(read_text(root_.path("/configs/easymesh/mesh_topo_dump.txt")).find("ap=2:\n"),
              std::string::npos);

    // The REST view agrees.
    HttpAnswer a = http_request(port_, get_request("/debug/configdb"));
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("\"serial-number\": \"EX2026000003\""), std::string::npos) << a.body;

    BusReply r = client_->call("removeextender", extender_data("ex2026000002"));
    ASSERT_TRUE(r.ok) << r.error_name;
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(db().find("EX2026000002"), std::string::npos);
    r = client_->call("removeextender", extender_data("EX2026000002"));
    EXPECT_EQ(r.result, 0);  // no longer on the white list: nothing to remove, no failure
    r = client_->call("removeextender", extender_data(""));
    EXPECT_EQ(r.result, -1);  // an empty serial number
    all = info("", result);
    ASSERT_EQ(all.count, 1);
    EXPECT_EQ(zka_text(all.entries[0].sn), "EX2026000003");

    // A request of another size never reaches the daemon's loop.
    r = client_->call("removeextender", std::vector<uint8_t>(5, 'A'));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error_name, "org.freedesktop.DBus.Error.InvalidArgs");
}
