// The daemon's minders and meshsim's default mesh in one process, on one loop and a private
// segment: the vendor agents of both extenders are discovered into the registry, come
// online, answer a relayed configuration into the platform journal, measure an
// unassociated station through the vendor query, and go offline when their HKT side falls
// silent. Time is the manual clock; the minders' timers are fired by calling their work.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "hkt_agent.h"
#include "steering/steering_minder.h"
#include "support/mesh_stack.h"

using ::testing::HasSubstr;

namespace {

const MAC kWired(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x00);
const MAC kWiredHkt(0x02, 0x6f, 0x7a, 0x72, 0x02, 0xe0);
const MAC kWifi(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x00);
const MAC kWifiHkt(0x02, 0x6f, 0x7a, 0x72, 0x03, 0xe0);
const MAC kPhone(0x02, 0xc1, 0, 0, 0, 0x01);
const BSSID kWifi5(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x21);

class HktMesh : public ozr_test::MeshStack {
  protected:
    HktMesh() : MeshStack({23511, 20000000, "default.json"}) {}
    meshsim::HktAgent& agent_of(size_t i) { return *sim_->hkt_agent(i); }
    bool connected(const MAC& al) {
        graph().update_devices_backhaul_information();
        backhaul_information b;
        return graph().get_device_backhaul_information(al, b) && b.is_backhaul_connected;
    }
    // Both extenders discovered, configured by the status check, heard: online.
    void bring_online() {
        ASSERT_TRUE(run_until(
            [&] { return get_ale(kWired) && get_ale(kWifi) && graph().graph().find_sta(kPhone); }));
        // The wireless backhaul needs its link metrics: asked now rather than at the timer.
        graph().on_link_metric_query();
        ASSERT_TRUE(run_until([&] { return connected(kWired) && connected(kWifi); }));
        hkt().on_discovery_poll();
        ASSERT_TRUE(
            run_until([&] { return hkt().find_hkt(kWiredHkt) && hkt().find_hkt(kWifiHkt); }));
        for (const MAC& m : {kWiredHkt, kWifiHkt})
            hkt().check_ap_status(hkt().find_hkt(m));
        agent_of(1).heartbeat();
        agent_of(2).heartbeat();
        ASSERT_TRUE(run_until([&] {
            return hkt().find_hkt(kWiredHkt)->is_online && hkt().find_hkt(kWifiHkt)->is_online;
        }));
    }
};

// Both vendor agents online: a relayed configuration comes back as a sync result, the 5 GHz
// high fronthaul switch reaches each, and an unassociated station is measured through one.
TEST_F(HktMesh, OnlineVendorAgentsRelayConfigurationsTakeTheRadioSwitchAndMeasureAStation) {
    bring_online();
    const size_t before = journal("nal_setSyncResult").size();  // the EX notifications
    const unsigned char blob[] = {'w', 'i', 'f', 'i', '=', '1'};
    EXPECT_EQ(ctx_->config_minder->set_hkt_configuration("ex2026000003", sizeof blob, blob), 0);
    ASSERT_TRUE(run_until([&] { return journal("nal_setSyncResult").size() == before + 1; }));
    EXPECT_EQ(agent_of(2).stats().config_requests, 1u);
    EXPECT_EQ(agent_of(1).stats().config_requests, 0u);
    EXPECT_THAT(journal("nal_setSyncResult").back(),
                HasSubstr("\"result\":0,\"sn\":\"EX2026000003\",\"len\":2,\"data\":\"6f6b\""));
    // To every extender: both answer.
    EXPECT_EQ(ctx_->config_minder->set_hkt_configuration("", sizeof blob, blob), 0);
    ASSERT_TRUE(run_until([&] { return journal("nal_setSyncResult").size() == before + 3; }));
    EXPECT_EQ(agent_of(1).stats().config_requests, 1u);
    EXPECT_EQ(agent_of(2).stats().config_requests, 2u);
    // What PUT /debug/fronthaul-management {"enable-5g-high-fronthaul": ...} asks.
    for (bool on : {false, true}) {
        ctx_->data_minder->set_all_devices_5gh_fh_enable(on);
        const uint64_t n = on ? 2 : 1;
        ASSERT_TRUE(run_until([&] {
            return agent_of(1).stats().radio_cfg_requests == n &&
                   agent_of(2).stats().radio_cfg_requests == n;
        })) << "both vendor agents get the radio configuration request";
        for (size_t a : {1, 2}) {
            EXPECT_EQ(agent_of(a).radio_cfg().cfg_type, SteeringMinder::kRadioCfg5gHighFronthaul);
            EXPECT_EQ(agent_of(a).radio_cfg().radio, 1);
            EXPECT_EQ(agent_of(a).radio_cfg().value, on ? 1 : 0);
        }
    }
    UnassociateClientsInfo info;  // the phone, which bring_online() saw
    info.op_class = 115;
    info.channel = 36;
    info.stas = {kPhone};
    graph().send_unassoc_sta_link_metric_query(graph().graph().find_device(kWifi), {info},
                                               Device::FRONTHAUL);
    // The vendor agent gets the query; its Multi-AP agent reports; the graph keeps the link.
    ASSERT_TRUE(run_until([&] {
        const Device* d = graph().graph().find_device(kWifi);
        return d && d->find_link_by_bssid(kPhone, kWifi5) != nullptr;
    }));
    // At least ours: the graph minder asks on its own too once agents report their
    // operating channels, and a slow machine (qemu) sees more of those rounds.
    EXPECT_GE(agent_of(2).stats().unassoc_queries, 1u);
    const Link* l = graph().graph().find_device(kWifi)->find_link_by_bssid(kPhone, kWifi5);
    EXPECT_EQ(l->kind(), Link::UNASSOCIATED);
}

TEST_F(HktMesh, ASilentHktSideGoesOfflineAndComesBack) {
    bring_online();
    meshsim::EventConf e;
    e.kind = meshsim::EventConf::hkt_silent;
    e.index = 1;  // ext-wired
    sim_->apply(e);
    // The discovery burst ends and what the agents sent before the silence lands (an answer
    // arriving after the clock moved would count as heard then).
    ASSERT_TRUE(run_until([&] { return hkt().discovery_burst_left() == 0; }));
    settle();
    ozr_clock::advance(50000);
    agent_of(1).heartbeat();  // silent: nothing leaves
    agent_of(2).heartbeat();
    ASSERT_TRUE(
        run_until([&] { return hkt().find_hkt(kWifiHkt)->last_heard == get_current_time_ms(); }));
    ozr_clock::advance(50001);
    hkt().on_offline_check();
    EXPECT_FALSE(hkt().find_hkt(kWiredHkt)->is_online);
    EXPECT_TRUE(hkt().find_hkt(kWifiHkt)->is_online);
    auto online = journal("nal_notifyApOnlineStatus");
    ASSERT_EQ(online.size(), 3u);
    EXPECT_THAT(online[2], HasSubstr("\"sn\":\"EX2026000002\",\"online\":0"));

    // It speaks again: rediscovered at the next poll, online at its next heartbeat.
    e.kind = meshsim::EventConf::hkt_speak;
    sim_->apply(e);
    hkt().on_discovery_poll();
    ASSERT_TRUE(run_until([&] { return hkt().find_hkt(kWiredHkt)->got_discovery; }));
    agent_of(1).heartbeat();
    ASSERT_TRUE(run_until([&] { return hkt().find_hkt(kWiredHkt)->is_online; }));
    EXPECT_EQ(journal("nal_notifyApOnlineStatus").size(), 4u);
    EXPECT_EQ(journal("nal_setExNotification").size(), 3u);  // announced again
}

}  // namespace
