#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "platform/map/wsc/wsc_test_util.h"

// The stack's configuration tables as the daemon hands them over (the 802.1Q default and the
// metric policy words are followed by the Dispatch and Policy tests).
namespace {

class MapConfig : public ::testing::Test {
  protected:
    void SetUp() override { map_config_reset(); }
    void TearDown() override { map_config_reset(); }
};

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

TEST_F(MapConfig, CredentialsValidatedWholeAndHandedBackForM2) {
    EXPECT_EQ(map_get_m2_config(), nullptr);
    EXPECT_EQ(set_credential_config(nullptr), -1);

    map_credential_config_t cfg{};
    cfg.count = 2;
    cfg.creds[0] = cred("home", "secret-pass", 0, MAP_CRED_FRONTHAUL);
    cfg.creds[1] = cred("mesh-bh", "0123456789abcdef", 0, MAP_CRED_BACKHAUL);
    cfg.creds[1].hidden = 1;
    ASSERT_EQ(set_credential_config(&cfg), 0);
    std::strcpy(cfg.creds[0].ssid, "changed");  // the stack keeps a copy
    const map_credential_config_t* m2 = map_get_m2_config();
    ASSERT_NE(m2, nullptr);
    ASSERT_EQ(m2->count, 2);
    EXPECT_EQ(cred_text(m2->creds[0]) + " | " + cred_text(m2->creds[1]),
              "home/secret-pass/20/8/0/1 | mesh-bh/0123456789abcdef/20/8/0/2 hidden");
    // The data model tells backhaul BSSs by the backhaul credential's SSID.
    EXPECT_TRUE(is_backhaul_bss_ssid(reinterpret_cast<const uint8_t*>("mesh-bh"), 7));
    EXPECT_FALSE(is_backhaul_bss_ssid(reinterpret_cast<const uint8_t*>("home"), 4));

    struct Bad {
        const char* why;
        map_credential_config_t cfg;
    };
    std::vector<Bad> bad;
    map_credential_config_t b{};
    b.count = kMaxCredentials + 1;
    bad.push_back({"too many", b});
    b = {};
    b.count = 1;
    b.creds[0] = cred("", "secret-pass", 0, MAP_CRED_FRONTHAUL);
    bad.push_back({"empty ssid", b});
    b.creds[0] = cred("x", "short", 0, MAP_CRED_FRONTHAUL);
    bad.push_back({"short key", b});
    b.creds[0] = cred("x", "secret-pass", 0, 0);
    bad.push_back({"no bss type", b});
    b.creds[0] = cred("x", "secret-pass", 0, MAP_CRED_FRONTHAUL);
    std::memset(b.creds[0].ssid, 'a', sizeof b.creds[0].ssid);
    bad.push_back({"unterminated ssid", b});
    b.creds[0] = cred("x", "secret-pass", 0, MAP_CRED_FRONTHAUL);
    std::memset(b.creds[0].network_key, 'k', sizeof b.creds[0].network_key);
    bad.push_back({"unterminated key", b});
    for (const Bad& x : bad) {
        EXPECT_EQ(set_credential_config(&x.cfg), -1) << x.why;
    }
    EXPECT_STREQ(map_get_m2_config()->creds[0].ssid, "home");

    // An open network has no key; a count of 0 forgets everything.
    map_credential_config_t open{};
    open.count = 1;
    open.creds[0] = cred("guest", "", 0, MAP_CRED_FRONTHAUL);
    EXPECT_EQ(set_credential_config(&open), 0);
    EXPECT_FALSE(is_backhaul_bss_ssid(reinterpret_cast<const uint8_t*>("mesh-bh"), 7));
    open.count = 0;
    EXPECT_EQ(set_credential_config(&open), 0);
    EXPECT_EQ(map_get_m2_config(), nullptr);

    // A caller's copy is wiped on request: no key left in it.
    map_credential_config_t mine = cfg;
    map_credential_config_wipe(&mine);
    for (const auto& c : mine.creds)
        EXPECT_EQ(std::string(c.network_key, sizeof c.network_key),
                  std::string(sizeof c.network_key, '\0'));
    EXPECT_STREQ(mine.creds[1].ssid, "mesh-bh");
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
