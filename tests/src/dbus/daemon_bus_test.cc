// The daemon's context on a private message bus, with the test's own bus connections
// playing the platform. The loop runs on the test thread; bus clients run beside it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <uv.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "common/paths.h"
#include "core/cmdu_registry.h"
#include "core/context.h"
#include "data/data_minder.h"
#include "dbus/ozr_dbus.h"
#include "dbus/service.h"
#include "map/al/stack.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "nal/nal.h"
#include "qbus/qbus.h"
#include "support/bus_client.h"
#include "support/loop.h"
#include "support/private_bus.h"
#include "support/process.h"
#include "support/temp_root.h"

using ozr_test::BusClient;
using ozr_test::BusReply;
using ozr_test::count_of;
using ozr_test::free_port;
using ozr_test::LogCapture;
using ozr_test::PrivateBus;
using ozr_test::read_text;
using ozr_test::TempRoot;

namespace {
std::vector<uint8_t> bytes(size_t n, uint8_t fill = 0) {
    return std::vector<uint8_t>(n, fill);
}

class BusDaemon : public ::testing::Test {
  protected:
    void SetUp() override {
        map_config_reset();
        ASSERT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
        journal_ = root_.path("/journal.jsonl");
        ozr_test::write_text(nal_platform_json_path(),
                             "{\"platform-journal-path\": \"" + journal_ +
                                 "\", \"mesh-rest-listen-address\": {\"rest-ipv4\": "
                                 "\"127.0.0.1\", \"rest-port\": " +
                                 std::to_string(free_port()) + "}}");
        ASSERT_EQ(uv_loop_init(&loop_), 0);
        loop_open_ = true;
    }
    void TearDown() override {
        stop_daemon();
        if (loop_open_)
            uv_loop_close(&loop_);
        bus_.reset();
        map_config_reset();
    }
    // Starts the private bus (false: the test is skipped, the reason given).
    bool start_bus() {
        bus_ = std::make_unique<PrivateBus>(root_.dir());
        return bus_->ok();
    }
    // Builds, initialises and starts the context; waits until the service is up or failed.
    void start_daemon(bool expect_service = true) {
        ctx_ = new Context(&loop_);
        ASSERT_EQ(ctx_->init().code, 0);
        ctx_->start();
        if (expect_service) {
            ASSERT_TRUE(run_until([&] { return lines("serving on the system bus") == 1; }));
        }
    }
    // Shuts the context down (which closes the loop) and destroys it.
    void stop_daemon() {
        if (ctx_ == nullptr)
            return;
        ctx_->shutdown();
        delete ctx_;
        ctx_ = nullptr;
        loop_open_ = false;
    }
    // Runs the loop until PRED holds; false after 20 s.
    template <class Pred>
    bool run_until(Pred pred) {
        return ozr_test::run_loop_until(&loop_, pred, 20);
    }
    // Runs F on a client thread while the loop serves; its result.
    template <class F>
    auto on_client(F f) -> decltype(f()) {
        return ozr_test::on_client(&loop_, f, 20);
    }
    size_t lines(const std::string& needle) { return count_of(log_.text(), needle); }

    TempRoot root_;
    LogCapture log_{root_, 7};
    std::unique_ptr<PrivateBus> bus_;
    std::string journal_;
    uv_loop_t loop_;
    Context* ctx_ = nullptr;
    bool loop_open_ = false;
};
}  // namespace

#define REQUIRE_BUS()                    \
    do {                                 \
        if (!start_bus())                \
            GTEST_SKIP() << bus_->why(); \
    } while (0)

TEST_F(BusDaemon, MethodsAnswerACodeAndTheReplyRecordAndRefuseWrongSizes) {
    REQUIRE_BUS();
    start_daemon();
    BusClient client;
    auto call = [&](const char* m, std::vector<uint8_t> req) {
        return on_client([&] { return client.call(m, req); });
    };
    // (The extender and topology methods' replies: BusProcess.)
    BusReply r = call("debug", bytes(sizeof(ZkaDebugReq_T)));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.data, bytes(4, 0xff));
    r = call("setradiochannel", bytes(sizeof(ZkaRadioChannelCfg_T)));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.data.size(), sizeof(ZkaRadioChannelCfgResult_T));
    EXPECT_EQ(lines("Given radio 0 not valid"), 1u);
    auto cs = bytes(kZkaConfigSyncHeaderLen + 2);
    const uint32_t cs_len = 2;  // the records are in the host's byte order
    std::memcpy(cs.data() + 68, &cs_len, sizeof cs_len);
    r = call("configsync", cs);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.result, 0);       // every extender: none here
    EXPECT_TRUE(r.data.empty());  // configsync answers only a code
    EXPECT_EQ(lines("set_hkt_configuration sn:  len 2"), 1u);
    size_t handled = lines("hdlr invoked");

    // Wrong sizes never reach the loop.
    const std::pair<const char*, size_t> wrong[] = {
        {"getextenderinfo", 32}, {"getextenderinfo", 34}, {"setradiochannel", 0},
        {"getmeshtopology", 8},  {"configsync", 74},      {"configsync", 10},
        {"debug", 71},
    };
    for (const auto& w : wrong) {
        r = call(w.first, bytes(w.second));
        EXPECT_FALSE(r.ok) << w.first << " " << w.second;
        EXPECT_EQ(r.error_name, "org.freedesktop.DBus.Error.InvalidArgs") << w.first;
    }
    // Nor does a request that is not a byte array.
    std::string err = on_client([&] {
        sd_bus_error e = SD_BUS_ERROR_NULL;
        sd_bus_call_method(client.bus(), "vexal.ozrd", "/vexal/ozrd", "vexal.ozr.application",
                           "removeextender", &e, nullptr, "s", "SN1");
        std::string name = e.name ? e.name : "";
        sd_bus_error_free(&e);
        return name;
    });
    EXPECT_EQ(err, "org.freedesktop.DBus.Error.InvalidArgs");
    ASSERT_TRUE(run_until([] { return true; }));
    EXPECT_EQ(lines("hdlr invoked"), handled);
}

TEST_F(BusDaemon, PlatformSignalsReachTheLoopAndBadOnesAreDropped) {
    REQUIRE_BUS();
    start_daemon();
    BusClient client;
    ZkaDefault802dot1qCfg q{100, 3, 0};
    ASSERT_TRUE(client.emit_ay("vexal.kpl", "notifyDefault8021qConfig", &q, sizeof q));
    ASSERT_TRUE(client.emit_s("vexal.kpl", "notifyZkecConfig", "{\"ozr-config\": {}}"));
    ASSERT_TRUE(client.emit_ay("vexal.kpl", "notifyDefault8021qConfig", &q, 3));
    ASSERT_TRUE(client.emit_s("vexal.kpl", "notifyVapConfig", "not a record"));
    ASSERT_TRUE(client.emit_i("vexal.zksld", "notifyMarlowJoin", 1));
    ASSERT_TRUE(client.emit_none("vexal.ozr", "ozrDuplicationSignal"));
    ASSERT_TRUE(client.emit_s("vexal.kpl", "notifySomethingElse", "x"));
    ASSERT_TRUE(client.emit_s("vexal.kpl", "notifyAddExtender", std::string(100, 'S')));
    ASSERT_TRUE(client.flush());
    // The service thread takes the signals in order, the loop too: the last one each
    // handles means all the others were.
    ASSERT_TRUE(run_until([&] { return lines("handle_marlow_join() state 1") == 1; }));
    ASSERT_TRUE(run_until(
        [&] { return lines("notifyAddExtender text of 101 bytes dropped (at most 64)") == 1; }));
    EXPECT_EQ(lines("err root.data: Existing OZR detected, abandon starting another OZR! "), 1u);
    ASSERT_NE(get_default_802dot1q(), nullptr);
    EXPECT_EQ(get_default_802dot1q()->vid, 100);
    EXPECT_EQ(lines("ozr-config is not an array type: {}"), 1u);
    EXPECT_EQ(lines("notifyDefault8021qConfig payload of 3 bytes dropped, expected 4"), 1u);
    EXPECT_EQ(lines("signal vexal.kpl.notifyVapConfig with arguments 's' dropped, expected 'ay'"),
              1u);
    EXPECT_EQ(lines("notifyAddExtender text of 101 bytes dropped (at most 64)"), 1u);
    EXPECT_EQ(lines("notifySomethingElse"), 0u);
}

TEST_F(BusDaemon, RaisedSignalsLeaveFromTheObjectAndAreJournalled) {
    REQUIRE_BUS();
    start_daemon();
    BusClient listener;
    ASSERT_TRUE(listener.listen("type='signal',interface='vexal.ozrd'"));
    ZkaMeshTopologyChange_T ev{};
    zka_set_text(ev.ap_mac, "02:00:00:00:00:0a");
    ev.status = ZKA_TOPO_CHANGE_ONLINE;
    zka_set_text(ev.sn, "SN10");

    // A method call is in flight (the loop has not run yet): raising a signal meanwhile
    // neither waits nor deadlocks.
    BusClient caller;
    auto pending = std::async(std::launch::async, [&] {
        return caller.call("getextenderinfo", bytes(sizeof(ZkaExtenderData_T)));
    });
    while (lines("dbus uv async posted") == 0)
        poll(nullptr, 0, 1);  // the service thread hands the call over
    EXPECT_EQ(ozr_dbus_notify("vexal.ozrd", "notifyMeshTopologyChange", &ev, sizeof ev), 0);
    ASSERT_TRUE(run_until(
        [&] { return pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(pending.get().ok);

    ASSERT_TRUE(listener.process_until([&] { return listener.signals.size() == 1; }));
    const auto& s = listener.signals[0];
    EXPECT_EQ(std::tie(s.path, s.member, s.signature),
              std::make_tuple("/vexal/ozrd", "notifyMeshTopologyChange", "ay"));
    ASSERT_EQ(s.data.size(), 204u);
    EXPECT_EQ(std::memcmp(s.data.data(), &ev, sizeof ev), 0);
    std::string journal = read_text(journal_);
    EXPECT_EQ(count_of(journal,
                       "\"call\":\"qbusSendSignal\",\"interface\":\"vexal.ozrd\","
                       "\"member\":\"notifyMeshTopologyChange\",\"hex\":\"30323a"),
              1u);
}

// "notifyAvailableChannel": a channel preference report of the gateway's own agent makes
// the daemon read that radio's available channels again; a list that differs from the
// last one raised for the radio goes out, the same list does not, and reports of other
// agents (which the record could not name) raise nothing.
TEST_F(BusDaemon, AvailableChannelsAreRaisedWhenTheGatewaysRadioReportsANewList) {
    REQUIRE_BUS();
    const MAC controller(0x02, 0x6f, 0, 0, 0x00, 0x00), local(0x02, 0x6f, 0, 0, 0x01, 0x00);
    const MAC radio(0x02, 0x6f, 0, 0, 0x01, 0x50), extender(0x02, 0x6f, 0, 0, 0x03, 0x00);
    MapStackConfig conf = map_stack_default_config();
    conf.al_mac = controller;
    conf.agent_al_mac = local;
    map_stack_set_config(conf);
    ASSERT_EQ(map_datamodel_init(controller, local), 0);
    map_radio_info_t* r = map_update_radio(map_update_ale(local), radio);
    ASSERT_NE(r, nullptr);
    const map_op_class_param_t classes[] = {{115, 23, 0, nullptr}};
    ASSERT_EQ(map_update_radio_basic_caps(r, 4, classes, 1), 0);
    start_daemon();
    BusClient listener;
    ASSERT_TRUE(
        listener.listen("type='signal',interface='vexal.ozrd',member='notifyAvailableChannel'"));
    auto report = [&](const MAC& from) {
        channel_preference_tlv pref;
        pref.radio_id = from == local ? radio : MAC(0x02, 0x6f, 0, 0, 0x03, 0x50);
        pref.op_classes = {{115, 1, {52}, 0, 7}};
        pref.num_op_classes = 1;
        CmduPtr c = CmduBuilder(CMDU_TYPE_CHANNEL_PREFERENCE_REPORT, 3).add(pref).build();
        c->src_al_mac = from;
        cmdu_dispatch(c.get());
    };
    auto raised = [&] {
        return count_of(read_text(journal_), "\"member\":\"notifyAvailableChannel\"");
    };

    report(local);
    ASSERT_TRUE(listener.process_until([&] { return listener.signals.size() == 1; }))
        << log_.text();
    ZkaAvailableChannelListRsp_T got{};
    ASSERT_EQ(listener.signals[0].data.size(), sizeof got);
    std::memcpy(&got, listener.signals[0].data.data(), sizeof got);
    EXPECT_EQ(got.radio, 0x20u);  // the bus's selector of channels 36-64 (the stack's mask)
    ASSERT_EQ(got.count, 4);      // the 20 MHz channels of class 115
    EXPECT_EQ(got.channels[0].channel, 36);
    EXPECT_EQ(got.channels[3].channel, 48);

    // The same list again, and an extender's report: nothing raised (raising is done
    // before the dispatch returns, so the journal tells at once).
    report(local);
    report(extender);
    EXPECT_EQ(raised(), 1u);

    // The platform's list for the band changes: the next report raises it.
    ozr_test::write_text(nal_platform_json_path(),
                         "{\"platform-journal-path\": \"" + journal_ +
                             "\", \"ics-available-channels\": {\"5g-low\": [36, {\"channel\": "
                             "52, \"state\": \"radar\"}]}}");
    report(local);
    ASSERT_TRUE(listener.process_until([&] { return listener.signals.size() == 2; }));
    std::memcpy(&got, listener.signals[1].data.data(), sizeof got);
    ASSERT_EQ(got.count, 2);
    EXPECT_EQ(got.channels[1].channel, 52);
    EXPECT_EQ(got.channels[1].state, ZKA_CHANNEL_RADAR);
    EXPECT_EQ(raised(), 2u);
    stop_daemon();
    map_datamodel_reset();
    map_stack_set_config(map_stack_default_config());
}

TEST_F(BusDaemon, ASignalFloodLeavesTheServiceAnswering) {
    REQUIRE_BUS();
    start_daemon();
    constexpr int kFlood = 3000;
    BusClient flooder;
    int sent = on_client([&] {
        int n = 0;
        for (int i = 0; i < kFlood; ++i)
            n += flooder.emit_i("vexal.zksld", "notifyMarlowJoin", i) ? 1 : 0;
        flooder.flush();
        return n;
    });
    ASSERT_EQ(sent, kFlood);
    // Every signal is either handled or dropped with a line of its own.
    ASSERT_TRUE(run_until([&] {
        return lines("HktMgmtMinder::handle_marlow_join() state") +
                   lines("write failed with error") ==
               static_cast<size_t>(kFlood);
    })) << lines("handle_marlow_join() state");
    BusClient client;
    BusReply r = on_client([&] { return client.call("getmeshtopology", bytes(4)); });
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result, 0);
}

TEST_F(BusDaemon, ACallerThatLeavesMidCallDoesNotDisturbTheService) {
    REQUIRE_BUS();
    start_daemon();
    {
        BusClient leaving;
        auto req = bytes(sizeof(ZkaExtenderData_T));
        sd_bus_message* m = nullptr;
        ASSERT_GE(sd_bus_message_new_method_call(leaving.bus(), &m, "vexal.ozrd", "/vexal/ozrd",
                                                 "vexal.ozr.application", "getextenderinfo"),
                  0);
        sd_bus_message_append_array(m, 'y', req.data(), req.size());
        ASSERT_GE(sd_bus_send(leaving.bus(), m, nullptr), 0);
        sd_bus_message_unref(m);
        leaving.flush();
        while (lines("dbus uv async posted") == 0)
            poll(nullptr, 0, 1);  // handed to the loop, which has not run
    }                             // the caller is gone
    ASSERT_TRUE(run_until([&] { return lines("OZR Get Extender Info hdlr invoked") == 1; }));
    BusClient client;
    BusReply r = on_client([&] { return client.call("debug", bytes(sizeof(ZkaDebugReq_T))); });
    EXPECT_TRUE(r.ok);
}

TEST_F(BusDaemon, ShutdownReleasesACallInFlight) {
    REQUIRE_BUS();
    start_daemon();
    BusClient caller;
    auto pending = std::async(std::launch::async, [&] {
        return caller.call("getextenderinfo", bytes(sizeof(ZkaExtenderData_T)));
    });
    while (lines("dbus uv async posted") == 0)
        poll(nullptr, 0, 1);
    stop_daemon();
    BusReply r = pending.get();
    ASSERT_TRUE(r.ok) << r.error_name;
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(lines("shutting down, the call is abandoned"), 1u);
    EXPECT_EQ(lines("OZR Get Extender Info hdlr invoked"), 0u);
}

TEST_F(BusDaemon, WithoutABusOrWithTheNameTakenTheDaemonRunsWithoutAService) {
    // No bus at all (the test root's system bus socket does not exist).
    start_daemon(false);
    ASSERT_TRUE(run_until([&] { return lines("ozrd service ended") == 1; }));
    EXPECT_EQ(lines("crit root: failed to request bus name for ozrd service"), 1u);
    EXPECT_EQ(lines("crit root: failed to register ozrd service"), 1u);
    EXPECT_FALSE(qbusConnected());
    stop_daemon();

    // A bus where another connection owns the name.
    REQUIRE_BUS();
    BusClient squatter;
    ASSERT_TRUE(squatter.own_name("vexal.ozrd"));
    ASSERT_EQ(uv_loop_init(&loop_), 0);
    loop_open_ = true;
    start_daemon(false);
    ASSERT_TRUE(run_until([&] { return lines("ozrd service ended") == 2; }));
    EXPECT_EQ(lines("crit root: failed to request bus name for ozrd service"), 2u);
    EXPECT_EQ(lines("crit root: failed to register ozrd service"), 2u);
    ZkaMeshTopologyChange_T ev{};
    EXPECT_EQ(ozr_dbus_notify("vexal.ozrd", "notifyMeshTopologyChange", &ev, sizeof ev), -1);
}
