// configsync and notifyMarlowJoin over a private message bus: the daemon's whole context
// (its D-Bus service included) and the started stack, a stand-in vendor agent on a private
// segment, and a bus client playing the platform. A configsync to an extender's serial
// number reaches its vendor agent; its answer lands in the platform journal.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <future>

#include "hkt_fixture.h"
#include "messages/bus_records.h"
#include "support/bus_client.h"
#include "support/private_bus.h"
#include "support/process.h"

using namespace hkt_test;

using ozr_test::free_port;

namespace {

const MAC kExt = mac(0x02, 0x00);
const MAC kExtHkt = mac(0x02, 0xe0);
const MAC kLocalHkt = mac(0x01, 0xe0);

// A configsync record: SN, then LEN bytes of DATA.
std::vector<uint8_t> configsync(const std::string& sn, const std::string& data) {
    std::vector<uint8_t> b(kZkaConfigSyncHeaderLen + data.size(), 0);
    auto* c = reinterpret_cast<ZkaRGConfigSync_T*>(b.data());
    std::memcpy(c->sn, sn.data(), std::min(sn.size(), sizeof c->sn - 1));
    const uint32_t len = static_cast<uint32_t>(data.size());
    std::memcpy(b.data() + 68, &len, 4);
    std::memcpy(b.data() + kZkaConfigSyncHeaderLen, data.data(), data.size());
    return b;
}

class ConfigsyncBus : public ::testing::Test {
  protected:
    void SetUp() override {
        bus_ = std::make_unique<ozr_test::PrivateBus>(root_.dir());
        if (!bus_->ok())
            GTEST_SKIP() << bus_->why();
        ozr_clock::set_manual(30000000);
        ASSERT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
        journal_ = root_.path("/journal.jsonl");
        ozr_test::write_text(nal_platform_json_path(),
                             "{\"platform-journal-path\": \"" + journal_ +
                                 "\", \"mesh-rest-listen-address\": {\"rest-ipv4\": "
                                 "\"127.0.0.1\", \"rest-port\": " +
                                 std::to_string(free_port()) + "}}");
        segment_ = private_segment(23611);
        MapStackConfig c;
        c.segment = segment_;
        c.interfaces = {{"ozr0", kControllerIf, ""}};
        c.al_mac = kController;
        c.agent_al_mac = kLocal;
        map_stack_set_config(c);
        ASSERT_EQ(uv_loop_init(&loop_), 0);
        std::string error;
        if (map_stack_start(&loop_, &error) != 0) {
            uv_loop_close(&loop_);
            map_stack_set_config(map_stack_default_config());
            ozr_clock::use_real();
            GTEST_SKIP() << "the segment transport cannot open here: " << error;
        }
        started_ = true;
        ctx_ = new Context(&loop_);
        ASSERT_EQ(ctx_->init().code, 0);
        ctx_->start();
        ASSERT_TRUE(run_until(
            [&] { return log_.text().find("serving on the system bus") != std::string::npos; }));
    }
    void TearDown() override {
        if (!started_)
            return;
        peers_.clear();
        map_stack_stop();
        ctx_->shutdown();  // closes every handle and the loop
        delete ctx_;
        map_datamodel_reset();
        map_stack_set_config(map_stack_default_config());
        ozr_clock::use_real();
    }
    bool run_until(const std::function<bool()>& pred) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            uv_run(&loop_, UV_RUN_NOWAIT);
            if (!pred())
                poll(nullptr, 0, 2);  // the service thread and the bus work meanwhile
        }
        return true;
    }
    template <class F>
    auto on_client(F f) -> decltype(f()) {
        auto fut = std::async(std::launch::async, f);
        run_until(
            [&] { return fut.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return fut.get();
    }
    Peer& peer(const MAC& m) {
        peers_.push_back(std::make_unique<Peer>(&loop_, m, segment_));
        return *peers_.back();
    }
    // Discovered, configured and heard: online.
    HktNode* online(Peer& p, const std::string& sn, const MAC& agent, uint32_t minders = 7) {
        map_ale_info_t* a = map_update_ale(agent);
        map_update_ale_iface_name(a, "ozr0");
        Device* d = ctx_->graph_minder->on_heard_about_device(agent);
        d->backhaul.local_ale = agent;
        d->backhaul.is_backhaul_connected = true;
        hkt_discovery_response_tlv r = make_discovery(sn, agent, minders);
        p.send(r);
        HktMgmtMinder& h = *ctx_->hkt_mgmt_minder;
        EXPECT_TRUE(run_until([&] { return h.find_hkt(p.mac()) != nullptr; }));
        HktNode* n = h.find_hkt(p.mac());
        if (!n)
            return nullptr;
        h.check_ap_status(n);
        hkt_heartbeat_tlv hb{30};
        p.send(hb);
        EXPECT_TRUE(run_until([&] { return n->is_online; }));
        return n;
    }
    std::vector<std::string> journal(const std::string& call) const {
        std::vector<std::string> out;
        for (const std::string& l : ozr_test::lines_of(ozr_test::read_text(journal_)))
            if (l.find("\"call\":\"" + call + "\"") != std::string::npos)
                out.push_back(l);
        return out;
    }

    ozr_test::TempRoot root_;
    ozr_test::LogCapture log_{root_, 7};
    std::unique_ptr<ozr_test::PrivateBus> bus_;
    std::string journal_, segment_;
    uv_loop_t loop_;
    Context* ctx_ = nullptr;
    std::vector<std::unique_ptr<Peer>> peers_;
    bool started_ = false;
};

TEST_F(ConfigsyncBus, ConfigsyncReachesTheExtenderAndItsAnswerTheJournal) {
    Peer& p = peer(kExtHkt);
    ASSERT_NE(online(p, "EX2026000002", kExt), nullptr);
    ozr_test::BusClient client;
    ASSERT_TRUE(client.ok());

    // To the extender's serial number (any case): the blob reaches its vendor agent.
    ozr_test::BusReply r =
        on_client([&] { return client.call("configsync", configsync("ex2026000002", "wifi=1")); });
    ASSERT_TRUE(r.ok) << r.error_name;
    EXPECT_EQ(r.result, 0);
    ASSERT_TRUE(run_until([&] { return p.count(HKT_TLV_CONFIG_REQUEST) == 1; }));
    hktMessage* m = p.last(HKT_TLV_CONFIG_REQUEST);
    ASSERT_NE(m, nullptr);
    const std::vector<uint8_t>& got = hkt_tlv_cast<hkt_config_request_tlv>(m)->data;
    EXPECT_EQ(std::string(got.begin(), got.end()), "wifi=1");
    free_hkt_message_structure(m);
    // Its answer goes to the platform.
    hkt_config_response_tlv answer;
    answer.data = {'o', 'k'};
    answer.data_len = 2;
    p.send(answer);
    ASSERT_TRUE(run_until([&] { return !journal("nal_setSyncResult").empty(); }));
    EXPECT_NE(journal("nal_setSyncResult")[0].find(
                  "\"result\":0,\"sn\":\"EX2026000002\",\"len\":2,\"data\":\"6f6b\""),
              std::string::npos);

    // An unknown serial number fails the call and sends nothing; every extender (empty
    // serial number) is answered 0.
    r = on_client([&] { return client.call("configsync", configsync("NOPE", "x")); });
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.result, -1);
    r = on_client([&] { return client.call("configsync", configsync("", "x")); });
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(p.count(HKT_TLV_CONFIG_REQUEST), 1u);
}

TEST_F(ConfigsyncBus, MarlowJoinClosesTheLegacyBackhaulWindow) {
    Peer& local = peer(kLocalHkt);
    Peer& p = peer(kExtHkt);
    ASSERT_NE(online(local, "GW1", kLocal), nullptr);
    ASSERT_NE(online(p, "EX1", kExt, HktMgmtMinder::kMinder8ByteBackhaul), nullptr);
    BaseTimer* window = ctx_->hkt_mgmt_minder->find_timer("8bytes_bh_timer");
    ASSERT_TRUE(window->is_started());
    ozr_test::BusClient client;
    ASSERT_TRUE(client.emit_i("vexal.zksld", "notifyMarlowJoin", 1));
    ASSERT_TRUE(client.flush());
    // One request opened the VAP with the window; the join closes it.
    ASSERT_TRUE(run_until([&] { return local.count(HKT_TLV_BH_VAP_8BYTE_REQUEST) == 2; }));
    EXPECT_FALSE(window->is_started());
    hktMessage* m = local.last(HKT_TLV_BH_VAP_8BYTE_REQUEST);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(hkt_tlv_cast<hkt_bh_vap_8byte_request_tlv>(m)->enabled, 0);
    free_hkt_message_structure(m);
}

}  // namespace
