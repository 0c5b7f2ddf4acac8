// The started stack on a private segment with an agent: channel selection events reaching
// the agent that owns the radio as Channel Selection Requests, and their re-sending; the
// stored policy as a Policy Config Request; the interface records the platform code reads.
#include <gtest/gtest.h>

#include <cstring>

#include "common/clock.h"
#include "map/al/stack.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "map/map_send.h"
#include "platform/map/al/al_test_util.h"

namespace {

const MAC kAgent = test_mac(2, 0);
const MAC kRadio5g = test_mac(2, 0x50);

channel_selection_request_event_t event_for(const MAC& radio, uint8_t channel, uint8_t bw,
                                            uint8_t power) {
    channel_selection_request_event_t ev{};
    std::memcpy(ev.radio_id, radio.data(), 6);
    ev.channel = channel;
    ev.bandwidth = bw;
    ev.tx_power = power;
    return ev;
}

class ChannelSelection : public ::testing::Test {
  protected:
    void SetUp() override {
        ozr_clock::set_manual(9000000);
        map_config_reset();
        uv_loop_init(&loop_);
        MapStackConfig c;
        c.segment = private_segment(22401);
        c.interfaces = {{"ozr0", test_mac(1, 1), ""}};
        c.al_mac = test_mac(1, 0);
        map_stack_set_config(c);
        ASSERT_EQ(map_stack_start(&loop_), 0);
        agent_ = std::make_unique<Node>(
            &loop_, kAgent, std::vector<Node::Itf>{{"ag0", test_mac(2, 1), c.segment}}, false);
        ASSERT_TRUE(run([] { return get_ale(kAgent) != nullptr; }));
        map_radio_info_t* r = map_update_radio(get_ale(kAgent), kRadio5g);
        ASSERT_NE(r, nullptr);
        r->band_mask = MAP_BAND_MASK_5G;
    }
    void TearDown() override {
        agent_.reset();
        map_stack_stop();
        map_datamodel_reset();
        map_config_reset();
        EXPECT_TRUE(drain_and_close(&loop_));
        ozr_clock::use_real();
    }
    bool run(const std::function<bool()>& done) { return run_until(&loop_, done, 3000); }
    const CMDU* receive() {
        const uint16_t type = CMDU_TYPE_CHANNEL_SELECTION_REQUEST;
        size_t n = agent_->count(type);
        run([&] { return agent_->count(type) > n; });
        return agent_->count(type) > n ? agent_->last(type) : nullptr;
    }

    uv_loop_t loop_;
    std::unique_ptr<Node> agent_;
};

// Channels the preference leaves operable in CLASS: all but the listed ones
// (none when the class is listed without channels); absent class: all.
bool excluded(const channel_preference_tlv& p, uint8_t op_class, uint8_t channel) {
    for (const auto& oc : p.op_classes) {
        if (oc.op_class != op_class)
            continue;
        EXPECT_EQ(oc.preference >> 4, 0);
        if (oc.channels.empty())
            return true;
        for (uint8_t c : oc.channels)
            if (c == channel)
                return true;
        return false;
    }
    return false;
}

TEST_F(ChannelSelection, RequestLeavesOnlyTheChosenChannelAndCarriesThePower) {
    auto ev = event_for(kRadio5g, 100, 3, 17);  // 80 MHz around channel 100
    ASSERT_EQ(set_channel_selection_request_event(&ev), 0);
    const CMDU* c = receive();
    ASSERT_NE(c, nullptr);
    const auto* pref = first_tlv<channel_preference_tlv>(c);
    ASSERT_NE(pref, nullptr);
    EXPECT_EQ(pref->radio_id, kRadio5g);
    EXPECT_FALSE(excluded(*pref, 128, 106));  // the 80 MHz block holding 100
    EXPECT_TRUE(excluded(*pref, 128, 42));
    EXPECT_TRUE(excluded(*pref, 128, 122));
    EXPECT_TRUE(excluded(*pref, 121, 100));  // 20 MHz classes all excluded
    EXPECT_TRUE(excluded(*pref, 115, 36));
    EXPECT_FALSE(excluded(*pref, 81, 6));  // 2.4 GHz classes not touched
    const auto* power = first_tlv<transmit_power_limit_tlv>(c);
    ASSERT_NE(power, nullptr);
    EXPECT_EQ(power->radio_id, kRadio5g);
    EXPECT_EQ(power->tx_power_limit_eirp, 17);
    EXPECT_EQ(remembered_channel_events(), 1u);
}

TEST_F(ChannelSelection, ARequestSentSetsTheAgentsFlagAndAResetClearsIt) {
    EXPECT_EQ(get_ale(kAgent)->first_chan_sel_req_done, 0);
    auto ev = event_for(kRadio5g, 36, 1, 0);
    ASSERT_EQ(set_channel_selection_request_event(&ev), 0);
    EXPECT_EQ(get_ale(kAgent)->first_chan_sel_req_done, 1);
    EXPECT_EQ(get_ale(kAgent)->last_chan_sel_req_ms, get_current_time_ms());
    EXPECT_EQ(map_reset_chan_sel_flag(kAgent), 0);
    EXPECT_EQ(get_ale(kAgent)->first_chan_sel_req_done, 0);
    EXPECT_EQ(map_reset_chan_sel_flag(test_mac(9, 0)), -1);
    // A power-only event sends no preference.
    auto power = event_for(kRadio5g, 0, 0, 20);
    ASSERT_EQ(set_channel_selection_request_event(&power), 0);
    const CMDU* c = receive();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(first_tlv<channel_preference_tlv>(c), nullptr);
    ASSERT_NE(first_tlv<transmit_power_limit_tlv>(c), nullptr);
}

// Refused events leave the agent's flag alone and are not remembered.
TEST_F(ChannelSelection, BadEventsAreRefusedAndNotRemembered) {
    EXPECT_EQ(set_channel_selection_request_event(nullptr), -1);
    const struct {
        const char* what;
        channel_selection_request_event_t ev;
    } rows[] = {{"unknown radio", event_for(test_mac(9, 9), 36, 1, 10)},
                {"nothing asked", event_for(kRadio5g, 0, 0, 0)},
                {"a 2.4 GHz channel", event_for(kRadio5g, 6, 1, 0)},
                {"bandwidth code 9", event_for(kRadio5g, 36, 9, 0)}};
    for (const auto& r : rows)
        EXPECT_EQ(set_channel_selection_request_event(&r.ev), -1) << r.what;
    EXPECT_EQ(get_ale(kAgent)->first_chan_sel_req_done, 0);
    EXPECT_EQ(remembered_channel_events(), 0u);
    EXPECT_EQ(rework_chn_sel(kAgent), -1);
    EXPECT_EQ(rework_chn_sel(test_mac(9, 0)), -1);
}

TEST_F(ChannelSelection, ReworkResendsTheLastEventOfTheAgentsRadio) {
    auto first = event_for(kRadio5g, 36, 1, 0);
    ASSERT_EQ(set_channel_selection_request_event(&first), 0);
    ASSERT_NE(receive(), nullptr);
    auto second = event_for(kRadio5g, 149, 1, 0);
    ASSERT_EQ(set_channel_selection_request_event(&second), 0);
    ASSERT_NE(receive(), nullptr);
    EXPECT_EQ(remembered_channel_events(), 1u);  // one per radio

    ASSERT_EQ(rework_chn_sel(kAgent), 0);
    const CMDU* c = receive();
    ASSERT_NE(c, nullptr);
    const auto* pref = first_tlv<channel_preference_tlv>(c);
    ASSERT_NE(pref, nullptr);
    EXPECT_TRUE(excluded(*pref, 115, 36));
    // 149 stays operable in one 20 MHz class.
    EXPECT_TRUE(!excluded(*pref, 124, 149) || !excluded(*pref, 125, 149));
}

TEST_F(ChannelSelection, PolicyConfigRequestCarriesTheStoredConfiguration) {
    EXPECT_EQ(map_send_stored_policy_config(kAgent), MAP_SEND_BAD_ARGUMENT);

    const uint32_t w0 =
        5U | (static_cast<uint32_t>(static_cast<uint8_t>(-80)) << 8) | (2U << 16) | (150U << 24);
    ASSERT_EQ(platform_set_policy_cfg(w0, 0x101U, 12, 0), 0);
    config_default_802dot1q_t vlan{200, 3};
    ASSERT_EQ(set_default_802dot1q(&vlan), 0);
    cfg_traffic_separation_policy_list_t ts{};
    ts.entries[4].vid = 300;
    std::strcpy(ts.entries[4].ssid, "guest-net");
    ASSERT_EQ(set_traffic_separation_policy(&ts), 0);

    const uint16_t type = CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST;
    ASSERT_EQ(map_send_stored_policy_config(kAgent), 0);
    ASSERT_TRUE(run([&] { return agent_->count(type) > 0; }));
    const CMDU* c = agent_->last(type);

    const auto* m = first_tlv<metric_reporting_policy_tlv>(c);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->ap_metrics_reporting_interval, 5);
    ASSERT_EQ(m->radios.size(), 1u);
    EXPECT_EQ(m->radios[0].radio_id, kRadio5g);
    EXPECT_EQ(m->radios[0].sta_metrics_rcpi_threshold, 60);  // -80 dBm
    EXPECT_EQ(m->radios[0].sta_metrics_rcpi_hysteresis_margin, 2);
    EXPECT_EQ(m->radios[0].ap_metrics_channel_utilization_threshold, 150);
    EXPECT_EQ(m->radios[0].include_sta_traffic_stats, 1);

    const auto* u = first_tlv<unsuccessful_association_policy_tlv>(c);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->report_unsuccessful_associations, 1);
    EXPECT_EQ(u->max_reporting_rate, 12u);

    const auto* q = first_tlv<default_8021q_settings_tlv>(c);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->primary_vlan_id, 200);
    EXPECT_EQ(q->default_pcp, 3);

    const auto* t = first_tlv<traffic_separation_policy_tlv>(c);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->ssids.size(), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(t->ssids[0].ssid), t->ssids[0].ssid_len),
              "guest-net");
    EXPECT_EQ(t->ssids[0].vlan_id, 300);
}

TEST_F(ChannelSelection, InterfaceInfoOfTheRunningStackOnlyAndBoundedName) {
    map_1905_interface_info_t* info = PLATFORM_GET_1905_INTERFACE_INFO("ozr0");
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->name, "ozr0");
    EXPECT_EQ(MAC(info->mac), test_mac(1, 1));
    EXPECT_EQ(info->media_type, kMediaTypeGigabitEthernet);
    EXPECT_TRUE(info->up);
    PLATFORM_FREE_1905_INTERFACE_INFO(info);
    PLATFORM_FREE_1905_INTERFACE_INFO(nullptr);
    // Unknown names, a prefix of a known name, an oversized name.
    for (const char* name : {"", "eth9", "ozr", "ozr00"})
        EXPECT_EQ(PLATFORM_GET_1905_INTERFACE_INFO(name), nullptr) << name;
    EXPECT_EQ(PLATFORM_GET_1905_INTERFACE_INFO(nullptr), nullptr);
    EXPECT_EQ(PLATFORM_GET_1905_INTERFACE_INFO(std::string(200, 'o').c_str()), nullptr);
    map_stack_stop();
    EXPECT_EQ(PLATFORM_GET_1905_INTERFACE_INFO("ozr0"), nullptr);  // stopped
}

}  // namespace
