// The process's stack: start-up from map_stack.json, a query for the own AL MAC answered
// locally through the callback table, and the stack outliving a loop the daemon closed.
#include <gtest/gtest.h>

#include <tuple>

#include "al_test_util.h"
#include "common/clock.h"
#include "map/al/stack.h"
#include "map/callbacks.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_init.h"
#include "map/map_send.h"
#include "support/temp_root.h"

namespace {

MapStackConfig config_on(const std::string& segment) {
    MapStackConfig c;
    c.transport = MapTransportKind::segment;
    c.segment = segment;
    c.interfaces = {{"ozr0", test_mac(1, 1), ""}};
    c.al_mac = test_mac(1, 0);
    return c;
}

// Replaces the handler of one callback entry for the life of the object.
class Hook {
  public:
    Hook(uint16_t type, gmap_cb_handler h) : index_(find_gmap_cb_index(type)) {
        saved_ = gmap_cb_config[index_].handler;
        gmap_cb_config[index_].handler = h;
    }
    ~Hook() { gmap_cb_config[index_].handler = saved_; }

  private:
    int index_;
    gmap_cb_handler saved_;
};

struct Probe {
    int calls = 0;
};
int fail_always(void* arg) {
    ++static_cast<Probe*>(arg)->calls;
    return -1;
}

std::vector<CmduPtr> g_seen;
int8_t capture_then_stack(CMDU* c) {
    g_seen.push_back(copy_cmdu(*c));
    return map_stack_handle_cmdu(c);
}

class StackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ozr_clock::set_manual(5000000);
        uv_loop_init(&loop_);
        g_seen.clear();
    }
    void TearDown() override {
        map_stack_stop();
        map_datamodel_reset();
        EXPECT_TRUE(drain_and_close(&loop_));
        ozr_clock::use_real();
    }
    bool run(const std::function<bool()>& done) { return run_until(&loop_, done, 3000); }
    uv_loop_t loop_;
};

TEST_F(StackTest, QueryForTheOwnAlMacIsAnsweredLocallyThroughTheCallbackTable) {
    map_stack_set_config(config_on(private_segment(22001)));
    ASSERT_EQ(map_stack_start(&loop_), 0);
    Hook hook(CMDU_TYPE_TOPOLOGY_RESPONSE, capture_then_stack);
    EXPECT_EQ(getMAPControllerAlMac(), test_mac(1, 0));
    ASSERT_EQ(map_send_topology_query(test_mac(1, 0)), 0);
    // Not from inside the caller: on the loop's next turn.
    EXPECT_TRUE(g_seen.empty());
    ASSERT_TRUE(run([] { return !g_seen.empty(); }));
    const CMDU* r = g_seen[0].get();
    EXPECT_EQ(std::make_tuple(r->message_type, r->src_al_mac, std::string(r->interface_name)),
              std::make_tuple(CMDU_TYPE_TOPOLOGY_RESPONSE, test_mac(1, 0), ""));
    auto* info = first_tlv<device_information_tlv>(r);
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->local_interfaces.size(), 1u);
    EXPECT_EQ(info->local_interfaces[0].mac_address, test_mac(1, 1));
}

TEST_F(StackTest, InitFollowsMapStackJsonAndRefusesAMalformedOne) {
    ozr_test::TempRoot root;
    std::string dir = root.path("/configs/easymesh");
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    std::string seg = private_segment(22003);
    ozr_test::write_text(dir + "/map_stack.json",
                         R"({"segment": ")" + seg +
                             R"(", "interfaces": [{"name": "lan0", "mac": "02:00:00:00:07:01"}],
                                "al_mac": "02:00:00:00:07:00", "agent_al_mac": "02:00:00:00:08:00"})");
    ASSERT_EQ(map_readfixedParam(), 0);
    char arg0[] = "ozr";
    char* argv[] = {arg0, nullptr};
    uv_loop_s* loop = map_controller_init(1, argv);
    ASSERT_NE(loop, nullptr);
    ASSERT_NE(map_stack_al(), nullptr);
    EXPECT_EQ(
        std::make_tuple(getMAPControllerAlMac(), getMAPAgentAlMac(), get_root_ale_node()->al_mac,
                        map_stack_al()->transport().interfaces()[0].name),
        std::make_tuple(test_mac(7, 0), test_mac(8, 0), test_mac(7, 0), "lan0"));
    map_stack_stop();
    EXPECT_TRUE(drain_and_close(loop));
    free(loop);

    ozr_test::write_text(dir + "/map_stack.json",
                         R"({"transport": "segment", "interfaces": [{"name": "lan0"}]})");
    EXPECT_EQ(map_readfixedParam(), -1);
    EXPECT_EQ(map_controller_init(1, argv), nullptr);
    EXPECT_EQ(map_send_topology_query(test_mac(7, 0)), MAP_SEND_NOT_READY);
}

TEST_F(StackTest, SurvivesTheDaemonClosingEveryHandleOfTheLoop) {
    std::string seg = private_segment(22004);
    map_stack_set_config(config_on(seg));
    uv_loop_t* loop = static_cast<uv_loop_t*>(malloc(sizeof(uv_loop_t)));
    ASSERT_EQ(uv_loop_init(loop), 0);
    ASSERT_EQ(map_stack_start(loop), 0);
    Probe p;
    ASSERT_EQ(map_register_retry("walk", 5, 3, MAC(), fail_always, nullptr, &p), 0);
    run_until(
        loop, [] { return false; }, 50);
    // What the daemon does at the end: close every handle with the generic
    // callback, run the loop dry, close and free it.
    uv_walk(
        loop,
        [](uv_handle_t* h, void*) {
            if (!uv_is_closing(h))
                uv_close(h, generic_close_cb);
        },
        nullptr);
    while (uv_loop_alive(loop))
        uv_run(loop, UV_RUN_ONCE);
    EXPECT_EQ(uv_loop_close(loop), 0);
    free(loop);
    // The stack no longer sends and stops without touching the freed loop
    // (ASan would see it); its handles' memory was released (LeakSanitizer).
    EXPECT_EQ(map_stack_al(), nullptr);
    EXPECT_EQ(map_send_topology_query(test_mac(1, 0)), MAP_SEND_NOT_READY);
    EXPECT_EQ(map_retry_pending(), 0u);
    map_stack_stop();
}

}  // namespace
