// The stack's interface records as the daemon's platform code reads them.
#include <gtest/gtest.h>

#include "common/clock.h"
#include "map/al/stack.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "platform/map/al/al_test_util.h"

namespace {

class InterfaceInfo : public ::testing::Test {
  protected:
    void SetUp() override {
        ozr_clock::set_manual(7000000);
        uv_loop_init(&loop_);
    }
    void TearDown() override {
        map_stack_stop();
        map_datamodel_reset();
        EXPECT_TRUE(drain_and_close(&loop_));
        ozr_clock::use_real();
    }
    uv_loop_t loop_;
};

TEST_F(InterfaceInfo, KnownInterfaceOfRunningStackOnlyAndBoundedName) {
    EXPECT_EQ(PLATFORM_GET_1905_INTERFACE_INFO("ozr0"), nullptr);  // not started

    MapStackConfig c;
    c.transport = MapTransportKind::segment;
    c.segment = private_segment(22301);
    c.interfaces = {{"ozr0", test_mac(1, 1), ""}, {"ozr1", test_mac(1, 2), ""}};
    c.al_mac = test_mac(1, 0);
    map_stack_set_config(c);
    ASSERT_EQ(map_stack_start(&loop_), 0);

    map_1905_interface_info_t* info = PLATFORM_GET_1905_INTERFACE_INFO("ozr1");
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->name, "ozr1");
    EXPECT_EQ(MAC(info->mac), test_mac(1, 2));
    EXPECT_EQ(info->media_type, kMediaTypeGigabitEthernet);
    EXPECT_TRUE(info->up);
    PLATFORM_FREE_1905_INTERFACE_INFO(info);
    PLATFORM_FREE_1905_INTERFACE_INFO(nullptr);

    EXPECT_EQ(PLATFORM_GET_1905_INTERFACE_INFO(nullptr), nullptr);
    EXPECT_EQ(PLATFORM_GET_1905_INTERFACE_INFO(""), nullptr);
    EXPECT_EQ(PLATFORM_GET_1905_INTERFACE_INFO("eth9"), nullptr);
    // A prefix of a known name is not that interface.
    EXPECT_EQ(PLATFORM_GET_1905_INTERFACE_INFO("ozr"), nullptr);
    std::string longname(200, 'o');
    EXPECT_EQ(PLATFORM_GET_1905_INTERFACE_INFO(longname.c_str()), nullptr);
}

}  // namespace
