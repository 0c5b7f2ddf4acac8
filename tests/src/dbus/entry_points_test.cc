// The minder operations the control bus calls, driven through the minders: those that no
// landed work implements fail with one error line; the ones the stack offers act for real.
#include <gtest/gtest.h>
#include <uv.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/paths.h"
#include "configuration/configuration_minder.h"
#include "core/context.h"
#include "data/data_minder.h"
#include "dbus/ozr_dbus.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/al/al.h"
#include "map/al/stack.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "map/transport/segment_transport.h"
#include "nal/nal.h"
#include "steering/steering_minder.h"
#include "support/temp_root.h"

using ozr_test::count_of;
using ozr_test::LogCapture;
using ozr_test::read_text;
using ozr_test::TempRoot;

namespace {
class EntryPoints : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(uv_loop_init(&loop_), 0);
        map_config_reset();
        ctx_ = new Context(&loop_);
    }
    void TearDown() override {
        delete ctx_;
        uv_run(&loop_, UV_RUN_DEFAULT);
        uv_loop_close(&loop_);
        map_config_reset();
    }
    TempRoot root_;
    LogCapture log_{root_, 7};
    uv_loop_t loop_;
    Context* ctx_ = nullptr;
};
}  // namespace

TEST_F(EntryPoints, StackBackedConfigurationActsForReal) {
    ConfigurationMinder& c = *ctx_->config_minder;
    EXPECT_EQ(c.set_default_802dot1q_configuration(nullptr), -1);
    config_default_802dot1q_t q{100, 3};
    EXPECT_EQ(c.set_default_802dot1q_configuration(&q), 0);
    ASSERT_NE(get_default_802dot1q(), nullptr);
    EXPECT_EQ(get_default_802dot1q()->vid, 100);
    config_default_802dot1q_t bad{5000, 3};
    EXPECT_EQ(c.set_default_802dot1q_configuration(&bad), -1);
    EXPECT_EQ(get_default_802dot1q()->vid, 100);

    cfg_traffic_separation_policy_list_t ts{};
    ts.entries[2].vid = 20;
    std::strcpy(ts.entries[2].ssid, "guest");
    EXPECT_EQ(c.set_traffic_separation_policy_configuration(&ts), 0);
    EXPECT_EQ(traffic_separation_used_entries(), 1u);
    EXPECT_EQ(count_of(log_.text(), "set_traffic_separation_policy_configuration: vid "), 18u);
    EXPECT_EQ(count_of(log_.text(), "vid 20 SSID: guest"), 1u);

    EXPECT_EQ(c.set_auto_channel(1), 0);
    EXPECT_EQ(c.auto_channel_state(), 2);
    EXPECT_EQ(c.set_auto_channel(0), 0);
    EXPECT_EQ(c.auto_channel_state(), 1);
}

TEST_F(EntryPoints, VapConfigurationBecomesTheStacksCredentials) {
    ConfigurationMinder& c = *ctx_->config_minder;
    ZkaAllEnabledVapCfg cfg{};
    cfg.num_vaps = 3;
    std::strcpy(cfg.vaps[0].ifname, "wl0");
    std::strcpy(cfg.vaps[0].ssid, "home");
    std::strcpy(cfg.vaps[0].key, "secret-passphrase");
    cfg.vaps[0].auth_type = 0x20;
    cfg.vaps[0].encr_type = 0x08;
    cfg.vaps[0].bss_type = MAP_CRED_FRONTHAUL;
    cfg.vaps[0].enabled = 1;
    std::strcpy(cfg.vaps[0].hidden, "false");
    std::strcpy(cfg.vaps[1].ssid, "disabled");
    cfg.vaps[1].bss_type = MAP_CRED_FRONTHAUL;
    std::strcpy(cfg.vaps[2].ssid, "bh");
    std::strcpy(cfg.vaps[2].key, "backhaul-key");
    cfg.vaps[2].bss_type = MAP_CRED_BACKHAUL;
    cfg.vaps[2].enabled = 1;
    std::memcpy(cfg.vaps[2].hidden, "TRUEzzzz", 8);  // unterminated: read within its 8 bytes
    EXPECT_EQ(c.set_vap_configuration(&cfg), 0);
    const map_credential_config_t* m2 = map_get_m2_config();
    ASSERT_NE(m2, nullptr);
    ASSERT_EQ(m2->count, 2);
    EXPECT_STREQ(m2->creds[0].ssid, "home");
    EXPECT_STREQ(m2->creds[0].network_key, "secret-passphrase");
    EXPECT_EQ(m2->creds[0].auth_type, 0x20);
    EXPECT_EQ(m2->creds[0].hidden, 0);
    EXPECT_STREQ(m2->creds[1].ssid, "bh");
    EXPECT_EQ(m2->creds[1].hidden, 0);  // "TRUEzzzz" is not a hidden word
    std::strcpy(cfg.vaps[2].hidden, "Yes");
    EXPECT_EQ(c.set_vap_configuration(&cfg), 0);
    EXPECT_EQ(map_get_m2_config()->creds[1].hidden, 1);
    // The key never reaches the log.
    EXPECT_EQ(count_of(log_.text(), "secret-passphrase"), 0u);

    // A bad record changes nothing: too many VAPs, an unterminated SSID, a short key.
    ZkaAllEnabledVapCfg bad = cfg;
    bad.num_vaps = 17;
    EXPECT_EQ(c.set_vap_configuration(&bad), -1);
    bad = cfg;
    std::memset(bad.vaps[0].ssid, 'x', sizeof bad.vaps[0].ssid);
    EXPECT_EQ(c.set_vap_configuration(&bad), -1);
    bad = cfg;
    std::strcpy(bad.vaps[0].key, "short");
    EXPECT_EQ(c.set_vap_configuration(&bad), -1);
    EXPECT_EQ(c.set_vap_configuration(nullptr), -1);
    EXPECT_EQ(map_get_m2_config()->count, 2);
    EXPECT_STREQ(map_get_m2_config()->creds[0].ssid, "home");
}

// The agents hear about new credentials: one relayed multicast renew, and
// none when the platform repeats what the stack already has.
TEST_F(EntryPoints, NewVapCredentialsMakeEveryAgentRenew) {
    const int pid = static_cast<int>(getpid());
    const std::string seg = "239.205." + std::to_string((pid >> 8) & 0xff) + "." +
                            std::to_string(pid & 0xff) + ":" + std::to_string(41000 + pid % 5000);
    MapStackConfig sc;
    sc.transport = MapTransportKind::segment;
    sc.segment = seg;
    sc.interfaces = {{"ozr0", MAC(2, 0, 0, 0, 1, 1), seg}};
    sc.al_mac = MAC(2, 0, 0, 0, 1, 0);
    map_stack_set_config(sc);
    ASSERT_EQ(map_stack_start(&loop_), 0);
    TransportOptions to;
    to.al_mac = MAC(2, 0, 0, 0, 2, 0);
    MapAlOptions ao;
    ao.controller = false;
    auto agent = std::make_unique<MapAl>(
        std::make_unique<SegmentTransport>(
            std::vector<TransportInterface>{{"ag0", MAC(2, 0, 0, 0, 2, 1), seg, 0}}, to),
        ao);
    std::vector<uint16_t> heard;
    ASSERT_EQ(agent->start(&loop_, [&](CMDU* c) { heard.push_back(c->message_type); }), 0);
    auto renews = [&] {
        return std::count(heard.begin(), heard.end(), CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW);
    };
    auto run_for = [&](int ms) {
        uv_timer_t t;
        uv_timer_init(&loop_, &t);
        uv_timer_start(
            &t, [](uv_timer_t*) {}, static_cast<uint64_t>(ms), 0);
        while (uv_timer_get_due_in(&t) > 0 && renews() < 2)
            uv_run(&loop_, UV_RUN_ONCE);
        uv_close(reinterpret_cast<uv_handle_t*>(&t), nullptr);
        uv_run(&loop_, UV_RUN_NOWAIT);
    };

    ZkaAllEnabledVapCfg cfg{};
    cfg.num_vaps = 2;
    std::strcpy(cfg.vaps[0].ssid, "home");
    std::strcpy(cfg.vaps[0].key, "secret-passphrase");
    cfg.vaps[0].auth_type = 0x20;
    cfg.vaps[0].encr_type = 0x08;
    cfg.vaps[0].bss_type = MAP_CRED_FRONTHAUL;
    cfg.vaps[0].enabled = 1;
    std::strcpy(cfg.vaps[1].ssid, "home-bh");
    std::strcpy(cfg.vaps[1].key, "backhaul-pass");
    cfg.vaps[1].rf_band = 0x02;
    cfg.vaps[1].bss_type = MAP_CRED_BACKHAUL;
    cfg.vaps[1].enabled = 1;
    ConfigurationMinder& c = *ctx_->config_minder;
    EXPECT_EQ(c.set_vap_configuration(&cfg), 0);
    run_for(1500);
    EXPECT_EQ(renews(), 1);
    EXPECT_EQ(map_get_m2_config()->creds[1].rf_bands, 0x02);
    EXPECT_TRUE(is_backhaul_bss_ssid(reinterpret_cast<const uint8_t*>("home-bh"), 7));
    EXPECT_EQ(count_of(log_.text(), "key length 17"), 1u);
    EXPECT_EQ(count_of(log_.text(), "secret-passphrase"), 0u);

    // The same again: nothing to renew.
    EXPECT_EQ(c.set_vap_configuration(&cfg), 0);
    EXPECT_EQ(count_of(log_.text(), "unchanged, no autoconfig renew"), 1u);
    // A new SSID: a second renew.
    std::strcpy(cfg.vaps[0].ssid, "home-2");
    EXPECT_EQ(c.set_vap_configuration(&cfg), 0);
    run_for(1500);
    EXPECT_EQ(renews(), 2);
    agent->stop();
    map_stack_stop();
    uv_run(&loop_, UV_RUN_NOWAIT);
}

TEST_F(EntryPoints, SteeringRequestSignalIsJournalledWithoutABus) {
    std::string journal = root_.path("/journal.jsonl");
    ASSERT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
    ozr_test::write_text(nal_platform_json_path(),
                         "{\"platform-journal-path\": \"" + journal + "\"}");
    StaSteeringEvent_t ev{};
    zka_set_text(ev.sta_mac, "02:00:00:00:00:09");
    ev.steer_type = STA_STEER_KICK_OUT;
    ctx_->data_minder->notify_sta_steering_request(ev);
    std::string text = read_text(journal);
    EXPECT_EQ(count_of(text,
                       "\"call\":\"qbusSendSignal\",\"interface\":\"vexal.ozrd\","
                       "\"member\":\"notifyStaSteeringRequest\",\"hex\":\"30323a"),
              1u);
    // 208 bytes: 416 hex digits.
    size_t at = text.find("\"hex\":\"") + 7;
    EXPECT_EQ(text.find('"', at) - at, 416u);
    EXPECT_EQ(ozr_dbus_notify("vexal.ozrd", nullptr, nullptr, 0), -1);
    EXPECT_EQ(ozr_dbus_notify("vexal.ozrd", "x", nullptr, -1), -1);
}
