#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "map/map_config.h"

namespace {

class MapConfig : public ::testing::Test {
  protected:
    void SetUp() override { map_config_reset(); }
    void TearDown() override { map_config_reset(); }
};

TEST_F(MapConfig, IntervalsAcceptRangeAndKeepPreviousOnBadValue) {
    EXPECT_EQ(set_topology_query_interval(1), 0);
    EXPECT_EQ(get_topology_query_interval(), 1);
    EXPECT_EQ(set_topology_query_interval(3600), 0);
    EXPECT_EQ(set_topology_query_interval(0), -1);
    EXPECT_EQ(set_topology_query_interval(-5), -1);
    EXPECT_EQ(set_topology_query_interval(3601), -1);
    EXPECT_EQ(get_topology_query_interval(), 3600);

    EXPECT_EQ(set_link_metric_query_interval(45), 0);
    EXPECT_EQ(set_link_metric_query_interval(-1), -1);
    EXPECT_EQ(get_link_metric_query_interval(), 45);
    // The two intervals are independent.
    EXPECT_EQ(get_topology_query_interval(), 3600);
}

TEST_F(MapConfig, Default8021qValidatedAndStored) {
    EXPECT_EQ(get_default_802dot1q(), nullptr);
    EXPECT_EQ(set_default_802dot1q(nullptr), -1);
    config_default_802dot1q_t bad_vid{4095, 1};
    EXPECT_EQ(set_default_802dot1q(&bad_vid), -1);
    config_default_802dot1q_t bad_pcp{10, 8};
    EXPECT_EQ(set_default_802dot1q(&bad_pcp), -1);
    EXPECT_EQ(get_default_802dot1q(), nullptr);

    config_default_802dot1q_t good{100, 5};
    ASSERT_EQ(set_default_802dot1q(&good), 0);
    good.vid = 1;  // the stack keeps its own copy
    ASSERT_NE(get_default_802dot1q(), nullptr);
    EXPECT_EQ(get_default_802dot1q()->vid, 100);
    EXPECT_EQ(get_default_802dot1q()->pcp, 5);
    EXPECT_EQ(set_default_802dot1q(&bad_pcp), -1);
    EXPECT_EQ(get_default_802dot1q()->vid, 100);
}

TEST_F(MapConfig, TrafficSeparationRejectsMalformedEntriesWhole) {
    EXPECT_EQ(set_traffic_separation_policy(nullptr), -1);

    cfg_traffic_separation_policy_list_t list{};
    list.entries[0].vid = 10;
    std::strcpy(list.entries[0].ssid, "home");
    list.entries[17].vid = 20;
    std::strcpy(list.entries[17].ssid, "guest");
    ASSERT_EQ(set_traffic_separation_policy(&list), 0);
    EXPECT_EQ(traffic_separation_used_entries(), 2u);
    EXPECT_STREQ(get_traffic_separation_policy()->entries[17].ssid, "guest");

    // An SSID filling all 34 bytes without a NUL would be read past its end.
    cfg_traffic_separation_policy_list_t unterminated = list;
    std::memset(unterminated.entries[3].ssid, 'x', kTrafficSeparationSsidLen);
    unterminated.entries[3].vid = 30;
    EXPECT_EQ(set_traffic_separation_policy(&unterminated), -1);

    cfg_traffic_separation_policy_list_t no_vlan = list;
    std::strcpy(no_vlan.entries[5].ssid, "iot");
    EXPECT_EQ(set_traffic_separation_policy(&no_vlan), -1);

    // 33 SSID bytes do not fit an SSID.
    cfg_traffic_separation_policy_list_t too_long = list;
    std::memset(too_long.entries[2].ssid, 'y', 33);
    too_long.entries[2].ssid[33] = '\0';
    too_long.entries[2].vid = 40;
    EXPECT_EQ(set_traffic_separation_policy(&too_long), -1);

    // The earlier policy is still in force.
    EXPECT_EQ(traffic_separation_used_entries(), 2u);
}

TEST_F(MapConfig, PolicyWordsDecodeIntoMetricPolicy) {
    EXPECT_EQ(get_metric_policy(), nullptr);
    // interval 10, RSSI threshold 0x50, hysteresis 3, channel util 0xC8.
    const uint32_t w0 = 10U | (0x50U << 8) | (3U << 16) | (0xC8U << 24);
    const uint32_t w1 = 0x1U | 0x100U;
    ASSERT_EQ(platform_set_policy_cfg(w0, w1, 7, 0xDEADBEEF), 0);
    const map_metric_policy_t* p = get_metric_policy();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->report_interval, 10);
    EXPECT_EQ(p->sta_rssi_threshold, 0x50);
    EXPECT_EQ(p->sta_rssi_hysteresis, 3);
    EXPECT_EQ(p->ap_channel_utilization_threshold, 0xC8);
    EXPECT_TRUE(p->sta_link_traffic_stats);
    EXPECT_TRUE(p->report_unsuccessful_associations);
    EXPECT_EQ(p->max_reporting_rate, 7u);

    ASSERT_EQ(platform_set_policy_cfg(0, 0x100U, 0, 0), 0);
    EXPECT_FALSE(get_metric_policy()->sta_link_traffic_stats);
    EXPECT_TRUE(get_metric_policy()->report_unsuccessful_associations);
}

TEST(PlatformMalloc, CapsSizeAndRejectsZero) {
    EXPECT_EQ(PLATFORM_MALLOC(0), nullptr);
    EXPECT_EQ(PLATFORM_MALLOC(kPlatformMallocMax + 1), nullptr);
    EXPECT_EQ(PLATFORM_MALLOC(static_cast<size_t>(-1)), nullptr);
    void* p = PLATFORM_MALLOC(76 + 10);
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xAB, 86);
    std::free(p);
}

}  // namespace
