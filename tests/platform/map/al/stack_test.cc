// The process's stack: start-up from map_stack.json, the stack's own handler
// filling the data model, a query for the own AL MAC answered locally, and the
// data model after a scripted exchange with an agent on the segment.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "al_test_util.h"
#include "common/clock.h"
#include "map/al/stack.h"
#include "map/callbacks.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "map/map_init.h"
#include "map/map_send.h"
#include "map/wsc/registrar.h"
#include "platform/map/wsc/wsc_test_util.h"
#include "samples.h"
#include "support/temp_root.h"

namespace {

MapStackConfig config_on(const std::string& segment, const std::string& pcap = "") {
    MapStackConfig c;
    c.transport = MapTransportKind::segment;
    c.segment = segment;
    c.interfaces = {{"ozr0", test_mac(1, 1), ""}};
    c.al_mac = test_mac(1, 0);
    c.pcap = pcap;
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
        agent_.reset();
        map_stack_stop();
        map_datamodel_reset();
        EXPECT_TRUE(drain_and_close(&loop_));
        ozr_clock::use_real();
    }
    bool run(const std::function<bool()>& done) { return run_until(&loop_, done, 3000); }
    Node& agent(const std::string& seg) {
        agent_ = std::make_unique<Node>(
            &loop_, test_mac(2, 0), std::vector<Node::Itf>{{"ag0", test_mac(2, 1), seg}}, false);
        return *agent_;
    }
    uv_loop_t loop_;
    std::unique_ptr<Node> agent_;
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
    EXPECT_EQ(r->message_type, CMDU_TYPE_TOPOLOGY_RESPONSE);
    EXPECT_EQ(r->src_al_mac, test_mac(1, 0));
    EXPECT_STREQ(r->interface_name, "");
    auto* info = first_tlv<device_information_tlv>(r);
    ASSERT_NE(info, nullptr);
    ASSERT_EQ(info->local_interfaces.size(), 1u);
    EXPECT_EQ(info->local_interfaces[0].mac_address, test_mac(1, 1));
}

TEST_F(StackTest, ScriptedExchangeWithAnAgentFillsTheDataModel) {
    std::string seg = private_segment(22002);
    map_stack_set_config(config_on(seg));
    ASSERT_EQ(map_stack_start(&loop_), 0);
    Hook hook(CMDU_TYPE_TOPOLOGY_RESPONSE, capture_then_stack);
    // The root asked about before any neighbour is heard has none; the neighbour heard
    // afterwards is handed over at once, in a local answer nobody asked for (the daemon
    // asks again only a minute later).
    ASSERT_EQ(map_send_topology_query(test_mac(1, 0)), 0);
    ASSERT_TRUE(run([] { return !g_seen.empty(); }));
    EXPECT_EQ(first_tlv<neighbor_device_list_tlv>(g_seen[0].get()), nullptr);
    g_seen.clear();
    Node& ag = agent(seg);
    auto root_names_agent = [] {
        for (const CmduPtr& c : g_seen) {
            auto* nl = c && c->src_al_mac == test_mac(1, 0)
                           ? first_tlv<neighbor_device_list_tlv>(c.get())
                           : nullptr;
            if (nl && nl->neighbors.size() == 1 &&
                nl->neighbors[0].al_mac_address == test_mac(2, 0))
                return true;
        }
        return false;
    };

    // Discovery both ways; the controller queries the new agent; its answer
    // puts the agent into the model below the root.
    ASSERT_TRUE(run([&] { return get_ale(test_mac(2, 0)) != nullptr && root_names_agent(); }));
    map_ale_info_t* ale = get_ale(test_mac(2, 0));
    EXPECT_STREQ(ale->iface_name, "ozr0");
    ASSERT_EQ(ale->num_interfaces, 1);
    EXPECT_EQ(ale->interfaces[0].mac, test_mac(2, 1));
    EXPECT_EQ(ale->depth, 1);
    EXPECT_EQ(get_parent_ale_node(ale), get_root_ale_node());
    EXPECT_EQ(map_get_topology_tree_height(), 1);

    // Search, then the agent's M1: kept with its serial number and radio.
    CmduPtr search = make_sample_cmdu("autoconfig_search");
    for (size_t i = 0; search->list_of_TLVs[i]; ++i) {
        if (auto* al = tlv_cast<al_mac_address_tlv>(search->list_of_TLVs[i]))
            al->al_mac_address = test_mac(2, 0);
    }
    search->relay_indicator = 1;
    ASSERT_EQ(ag.al().send(IEEE1905_MULTICAST_ADDRESS, *search, nullptr, true), 0);
    ASSERT_TRUE(run([&] { return ag.count(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE) == 1; }));
    CmduPtr m1 = make_sample_cmdu("autoconfig_wsc_m1");
    ASSERT_EQ(ag.al().send(test_mac(1, 0), *m1, nullptr, true), 0);
    ASSERT_TRUE(run([] { return get_ale(test_mac(2, 0))->has_m1 != 0; }));
    ale = get_ale(test_mac(2, 0));
    EXPECT_STREQ(ale->serial_number, "SN0123456789");
    EXPECT_STREQ(ale->manufacturer, "Vexal");
    EXPECT_EQ(ale->num_radios, 1);
    // No credentials are configured: the M1 waits for a renew, no WSC comes back.
    EXPECT_EQ(ag.count(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC), 0u);
    EXPECT_EQ(map_stack_registrar()->stats().not_configured, 1u);

    // The senders now reach the agent, on the interface it was heard on.
    ASSERT_EQ(map_send_ap_capability_query(test_mac(2, 0)), 0);
    ASSERT_TRUE(run([&] { return ag.count(CMDU_TYPE_AP_CAPABILITY_QUERY) == 1; }));
    EXPECT_EQ(ag.last(CMDU_TYPE_AP_CAPABILITY_QUERY)->src_al_mac, test_mac(1, 0));

    // The own topology: the root lists the agent as its neighbour.
    g_seen.clear();
    ASSERT_EQ(map_send_topology_query(test_mac(1, 0)), 0);
    ASSERT_TRUE(run([] { return !g_seen.empty(); }));
    auto* nl = first_tlv<neighbor_device_list_tlv>(g_seen[0].get());
    ASSERT_NE(nl, nullptr);
    ASSERT_EQ(nl->neighbors.size(), 1u);
    EXPECT_EQ(nl->neighbors[0].al_mac_address, test_mac(2, 0));
}

TEST_F(StackTest, AnAgentsM1GetsItsM2sOverTheSegmentWithTheConfiguredCredentials) {
    std::string seg = private_segment(22005);
    MapStackConfig config = config_on(seg);
    map_vap_credential_t home{}, backhaul{};
    std::snprintf(home.ssid, sizeof home.ssid, "Home");
    std::snprintf(home.network_key, sizeof home.network_key, "correct horse battery");
    home.auth_type = 0x0020;
    home.encr_type = 0x0008;
    home.bss_type = MAP_CRED_FRONTHAUL;
    std::snprintf(backhaul.ssid, sizeof backhaul.ssid, "Home-bh");
    std::snprintf(backhaul.network_key, sizeof backhaul.network_key, "0123456789abcdef");
    backhaul.auth_type = 0x0020;
    backhaul.encr_type = 0x0008;
    backhaul.rf_bands = WSC_RF_BAND_5_GHZ;
    backhaul.bss_type = MAP_CRED_BACKHAUL;
    config.credentials = {home, backhaul};
    map_stack_set_config(config);
    ASSERT_EQ(map_stack_start(&loop_), 0);
    ASSERT_NE(map_get_m2_config(), nullptr);
    EXPECT_TRUE(is_backhaul_bss_ssid(reinterpret_cast<const uint8_t*>("Home-bh"), 7));
    Node& ag = agent(seg);
    ASSERT_TRUE(run([] { return get_ale(test_mac(2, 0)) != nullptr; }));

    // The agent's M1 for its 2.4 GHz and its 5 GHz radio, each with its own key.
    std::unique_ptr<WscDhKey> keys[2] = {WscDhKey::generate(), WscDhKey::generate()};
    std::vector<uint8_t> m1s[2];
    for (int r = 0; r < 2; ++r) {
        wsc_tlv w;
        w.wsc_frame = build(m1_attributes(*keys[r], test_mac(2, 0), static_cast<uint8_t>(0x40 + r),
                                          r ? WSC_RF_BAND_5_GHZ : WSC_RF_BAND_2_4_GHZ));
        m1s[r] = w.wsc_frame;
        ap_radio_basic_capabilities_tlv caps;
        caps.radio_id = test_mac(2, static_cast<uint8_t>(0x10 + r));
        caps.max_bss = 4;
        caps.op_classes.push_back({static_cast<uint8_t>(r ? 115 : 81), 20, 0, {}});
        CmduPtr m1 = CmduBuilder(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 0).add(caps).add(w).build();
        ASSERT_EQ(ag.al().send(test_mac(1, 0), *m1, nullptr, true), 0);
    }
    ASSERT_TRUE(run([&] { return ag.count(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC) == 2; }));
    std::map<MAC, std::vector<std::string>> got;  // radio -> "ssid/bits"
    for (const CmduPtr& c : ag.got()) {
        if (c->message_type != CMDU_TYPE_AP_AUTOCONFIGURATION_WSC)
            continue;
        EXPECT_EQ(c->src_al_mac, test_mac(1, 0));
        const auto* radio = first_tlv<ap_radio_identifier_tlv>(c.get());
        ASSERT_NE(radio, nullptr);
        const int r = radio->radio_id == test_mac(2, 0x11) ? 1 : 0;
        for (size_t i = 0; c->list_of_TLVs[i]; ++i) {
            const auto* w = tlv_cast<wsc_tlv>(c->list_of_TLVs[i]);
            if (!w)
                continue;
            WscBssConfig bss;
            std::string why;
            ASSERT_TRUE(wsc_enrollee_open_m2(*keys[r], m1s[r], w->wsc_frame.data(),
                                             w->wsc_frame.size(), bss, &why))
                << why;
            EXPECT_EQ(bss.mac, test_mac(2, 0));
            got[radio->radio_id].push_back(bss.ssid + "/" + std::to_string(bss.map_ext) + "/" +
                                           bss.network_key);
        }
    }
    EXPECT_EQ(got[test_mac(2, 0x10)], (std::vector<std::string>{"Home/32/correct horse battery"}));
    EXPECT_EQ(got[test_mac(2, 0x11)], (std::vector<std::string>{"Home/32/correct horse battery",
                                                                "Home-bh/64/0123456789abcdef"}));
    EXPECT_EQ(map_stack_registrar()->stats().answered, 2u);

    // Two seconds later the stack asks the agent for its topology once, to
    // learn the BSSs the M2s brought up.
    const size_t queries = ag.count(CMDU_TYPE_TOPOLOGY_QUERY);
    ozr_clock::advance(1500);
    run_until(
        &loop_, [] { return false; }, 1200);  // a tick or so: not due yet
    EXPECT_EQ(ag.count(CMDU_TYPE_TOPOLOGY_QUERY), queries);
    ozr_clock::advance(600);
    ASSERT_TRUE(run([&] { return ag.count(CMDU_TYPE_TOPOLOGY_QUERY) == queries + 1; }));
    ozr_clock::advance(5000);
    run_until(
        &loop_, [] { return false; }, 1200);
    EXPECT_EQ(ag.count(CMDU_TYPE_TOPOLOGY_QUERY), queries + 1);
    map_config_reset();
}

TEST_F(StackTest, InitFollowsMapStackJsonAndRefusesAMalformedOne) {
    ozr_test::TempRoot root;
    std::string dir = root.path("/configs/easymesh");
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    std::string seg = private_segment(22003);
    {
        std::ofstream f(dir + "/map_stack.json");
        f << R"({"segment": ")" << seg
          << R"(", "interfaces": [{"name": "lan0", "mac": "02:00:00:00:07:01"}],
                 "al_mac": "02:00:00:00:07:00", "agent_al_mac": "02:00:00:00:08:00"})";
    }
    ASSERT_EQ(map_readfixedParam(), 0);
    char arg0[] = "ozr";
    char* argv[] = {arg0, nullptr};
    uv_loop_s* loop = map_controller_init(1, argv);
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(getMAPControllerAlMac(), test_mac(7, 0));
    EXPECT_EQ(getMAPAgentAlMac(), test_mac(8, 0));
    ASSERT_NE(map_stack_al(), nullptr);
    EXPECT_EQ(map_stack_al()->transport().interfaces()[0].name, "lan0");
    EXPECT_EQ(get_root_ale_node()->al_mac, test_mac(7, 0));
    map_stack_stop();
    EXPECT_TRUE(drain_and_close(loop));
    free(loop);

    {
        std::ofstream f(dir + "/map_stack.json");
        f << R"({"transport": "segment", "interfaces": [{"name": "lan0"}]})";
    }
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
