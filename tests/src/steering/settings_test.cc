// The steering settings: defaults, the platform policy, the reset, the forwarders and the
// bus request, each driven through the public operations.
#include <gtest/gtest.h>

#include "core/context.h"
#include "data/data_minder.h"
#include "nal/nal.h"
#include "steering_fixture.h"
#include "support/temp_root.h"

using namespace steer_test;

namespace {
class Settings : public SteeringFixture {
  protected:
    void policy(const std::string& json_text) {
        ozr_test::write_text(nal_platform_json_path(), json_text);
    }
    DataMinder& dm() { return *h.ctx().data_minder; }
};
}  // namespace

TEST_F(Settings, PolicyIsAppliedAgainByTheResetWhileForwardedValuesAreLostOrKept) {
    policy(R"({"steering-policy": "{\"ozr-config\": [{\"config-type\": \"steering\",)"
           R"( \"bsteer_rssi_2to5\": -60, \"msteer_ratio\": 300,)"
           R"( \"bnd_prefer_entries\": [\"5c:00:00:00:00:01\"]}]}"})");
    ASSERT_TRUE(sm().init(h.ctx()).ok());
    EXPECT_EQ(count(log(), "pre-loading steering policy"), 1u);
    EXPECT_EQ(sm().bsteer_rssi.rssi_2to5, -60);
    EXPECT_EQ(sm().bsteer_rssi.rssi_5to2, -80);
    EXPECT_EQ(sm().msteer_ratio, 300 & 0xff);  // narrowed to 8 bits
    ASSERT_EQ(sm().bnd_prefer_entries.size(), 1u);
    EXPECT_TRUE(sm().bnd_prefer_entries[0].mac_match(Ids::c1));

    dm().set_roaming_back_check_time(40);
    dm().set_bsteer_decision_window(70000);
    EXPECT_EQ(sm().decision_window_size, 4464);  // the low 16 bits
    dm().set_msteer_5g_rssi(-70);
    dm().set_idle_threshold(65535);
    EXPECT_EQ(sm().idle_tput_size, 65535u);
    dm().steering_system_reset();
    EXPECT_EQ(std::make_tuple(sm().roam_back_check_time, sm().decision_window_size,
                              sm().msteer_rssi_5g, sm().bsteer_rssi.rssi_2to5),
              std::make_tuple(40u, 30, -80, -60));

    // The platform drops its policy: the next reset leaves the defaults.
    policy("{}");
    dm().steering_system_reset();
    EXPECT_EQ(sm().bsteer_rssi.rssi_2to5, -56);
    EXPECT_TRUE(sm().bnd_prefer_entries.empty());
}

// The elements themselves are checked in Dispatch.JsonConfigurationTexts.
TEST_F(Settings, APolicyTooLongForThePlatformCallKeepsTheDefaults) {
    policy(R"({"steering-policy": "{\"ozr-config\": [{\"config-type\": \"steering\",)"
           R"( \"bsteer_en\": 0}]})" +
           std::string(1100, ' ') + "\"}");
    ASSERT_TRUE(sm().init(h.ctx()).ok());
    EXPECT_EQ(count(log(), "nal_getSteeringPolicy failed"), 1u);
    EXPECT_TRUE(sm().bsteering);
}
