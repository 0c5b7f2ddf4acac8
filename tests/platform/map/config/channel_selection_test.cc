// The started stack on a private segment with an agent: channel selection events reaching
// the agent that owns the radio as Channel Selection Requests, and their re-sending; the
// interface records the platform code reads.
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

class ChannelSelection : public StackAndAgent {
  protected:
    ChannelSelection() : StackAndAgent(22401) {}
    void SetUp() override {
        map_config_reset();
        StackAndAgent::SetUp();
        if (HasFatalFailure())
            return;
        map_radio_info_t* r = map_update_radio(get_ale(kAgent), kRadio5g);
        ASSERT_NE(r, nullptr);
        r->band_mask = MAP_BAND_MASK_5G;
    }
    void TearDown() override {
        StackAndAgent::TearDown();
        map_config_reset();
    }
    const CMDU* receive() { return StackAndAgent::receive(CMDU_TYPE_CHANNEL_SELECTION_REQUEST); }
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
