// Intervals and the metric reporting policy applied at run, and the Policy Config Requests
// every agent receives as the configuration changes (802.1Q, traffic separation, new
// radios), through the stack on the private segment.
#include <gtest/gtest.h>

#include <cstring>

#include "config_fixture.h"
#include "steering/steering_minder.h"

using namespace config_test;
using ozr_test::count_of;

namespace {

class Policy : public ConfigFixture {
  protected:
    uint16_t port() const override { return 23433; }
    size_t configs(Agent& a) const { return a.of(CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST).size(); }
    const CMDU* last_config(Agent& a) const {
        return a.of(CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST).back();
    }
};

TEST_F(Policy, RunAppliesTheStoredIntervalsAndPolicy) {
    // Discovery, query and link metric intervals (the dead agent one as it stands); report
    // interval, RSSI threshold and traffic statistics.
    ASSERT_TRUE(ctx_->data_minder->cfg_db().db_update_cfg_blocks(MetricPolCfg{5, -70, 0, 0, 1},
                                                                 CtlrTopoCfg{30, 45, 20, 3}));
    const size_t mark = log().size();
    cfg().run();
    EXPECT_EQ(cfg().topology_discovery_interval(), 30);
    EXPECT_EQ(get_topology_query_interval(), 45);
    EXPECT_EQ(get_link_metric_query_interval(), 20);
    const map_metric_policy_t* p = get_metric_policy();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->report_interval, 5);
    EXPECT_EQ(static_cast<int8_t>(p->sta_rssi_threshold), -70);
    EXPECT_TRUE(p->sta_link_traffic_stats);
    EXPECT_TRUE(p->report_unsuccessful_associations);  // always asked for
    const std::string text = log().substr(mark);
    const size_t a = text.find("topology_discovery_interval=30");
    const size_t b = text.find("topology_query_interval=45");
    const size_t c = text.find("link_metric_query_interval=20");
    const size_t d = text.find(
        "set_policy_configuration metrics_report_interval=5, sta_metrics_rssi_threshold_dbm=-70, "
        "sta_metrics_rssi_hysteresis_margin=0,ap_metrics_channel_utilization_threshold_dbm=0, "
        "sta_link_sta_traffic_stats=1, report_unsuccessful_association_attempts=1, "
        "maximum_reporting_rate=0");
    ASSERT_NE(d, std::string::npos) << text;
    EXPECT_TRUE(a < b && b < c && c < d);
    EXPECT_NE(text.find("set_mesh_for_mobile_app_only got invoked"), std::string::npos);
    EXPECT_EQ(text.find("Mesh MAPP only"), std::string::npos);
    EXPECT_FALSE(cfg().mesh_for_mobile_app_only());

    // A value the stack refuses keeps the one in force.
    EXPECT_EQ(cfg().set_topology_query_interval_configuration(0), -1);
    EXPECT_EQ(cfg().set_topology_query_interval_configuration(4000), -1);
    EXPECT_EQ(cfg().set_topology_discovery_interval_configuration(0), -1);
    EXPECT_EQ(cfg().topology_query_interval(), 45);
    EXPECT_EQ(get_topology_query_interval(), 45);
    EXPECT_EQ(cfg().topology_discovery_interval(), 30);
    EXPECT_EQ(cfg().set_link_metric_query_interval_configuration(90), 0);
    EXPECT_EQ(get_link_metric_query_interval(), 90);
}

TEST_F(Policy, TheMobileAppOnlyMode) {
    ozr_test::write_text(nal_platform_json_path(), "{\"platform-journal-path\": \"" + journal_ +
                                                       "\", \"mesh-for-mobile-app-only\": true}");
    ASSERT_NE(ctx_->steering_minder, nullptr);
    ctx_->steering_minder->set_fh_mgmt_enable(true);
    ASSERT_TRUE(ctx_->steering_minder->get_bh_steer_enable());
    cfg().run();
    EXPECT_TRUE(cfg().mesh_for_mobile_app_only());
    // Backhaul steering and fronthaul radio management are off in this mode.
    EXPECT_FALSE(ctx_->steering_minder->get_bh_steer_enable());
    EXPECT_FALSE(ctx_->steering_minder->get_fh_mgmt_enable());
    EXPECT_EQ(count_of(log(),
                       "notice root.configuration: set_mesh_for_mobile_app_only Mesh MAPP only. "
                       "Disable backhaul/fronthaul steering/mgmt feature."),
              1u);
    EXPECT_EQ(cfg().set_mesh_for_mobile_app_only(false), 0);
    EXPECT_TRUE(cfg().mesh_for_mobile_app_only());  // false changes nothing
}

TEST_F(Policy, AgentsGetTheConfigurationAndEveryChange) {
    mesh();
    Agent& ext = listen(kExt);
    Agent& far = listen(kFar);
    cfg().on_config_timer();  // nothing configured yet: nothing sent
    settle();
    EXPECT_EQ(configs(ext), 0u);
    cfg().run();
    ASSERT_TRUE(run_until([&] { return configs(ext) == 1 && configs(far) == 1; }));
    const CMDU* c = last_config(ext);
    const auto* metric = find_tlv<metric_reporting_policy_tlv>(c);
    ASSERT_NE(metric, nullptr);
    EXPECT_EQ(metric->ap_metrics_reporting_interval, 10);  // the database's default
    EXPECT_EQ(metric->radios.size(), 2u);
    const auto* unsuccessful = find_tlv<unsuccessful_association_policy_tlv>(c);
    ASSERT_NE(unsuccessful, nullptr);
    EXPECT_EQ(unsuccessful->report_unsuccessful_associations, 1);
    // Nothing changed: the timer sends nothing more.
    cfg().on_config_timer();
    settle();
    EXPECT_EQ(configs(ext), 1u);

    // Default 802.1Q settings go out at once.
    config_default_802dot1q_t q{10, 3};
    ASSERT_EQ(cfg().set_default_802dot1q_configuration(&q), 0);
    ASSERT_TRUE(run_until([&] { return configs(ext) == 2 && configs(far) == 2; }));
    const auto* vlan = find_tlv<default_8021q_settings_tlv>(last_config(ext));
    ASSERT_NE(vlan, nullptr);
    EXPECT_EQ(vlan->primary_vlan_id, 10);

    // Garbage SSIDs (no terminator anywhere): refused, 18 lines logged, nothing sent.
    cfg_traffic_separation_policy_list_t junk{};
    for (auto& e : junk.entries) {
        e.vid = 0xFFFF;
        std::memset(e.ssid, 0xFF, sizeof e.ssid);
    }
    size_t mark = log().size();
    EXPECT_EQ(cfg().set_traffic_separation_policy_configuration(&junk), -1);
    EXPECT_EQ(count_of(log().substr(mark), "set_traffic_separation_policy_configuration: vid "),
              18u);
    EXPECT_EQ(cfg().set_traffic_separation_policy_configuration(nullptr), -1);
    cfg_traffic_separation_policy_list_t list{};
    list.entries[3].vid = 20;
    std::strcpy(list.entries[3].ssid, "guest");
    mark = log().size();
    ASSERT_EQ(cfg().set_traffic_separation_policy_configuration(&list), 0);
    EXPECT_EQ(count_of(log().substr(mark), "set_traffic_separation_policy_configuration: vid "),
              18u);
    ASSERT_TRUE(run_until([&] { return configs(ext) == 3; }));
    const auto* sep = find_tlv<traffic_separation_policy_tlv>(last_config(ext));
    ASSERT_NE(sep, nullptr);
    ASSERT_EQ(sep->ssids.size(), 1u);
    EXPECT_EQ(sep->ssids[0].vlan_id, 20);
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(sep->ssids[0].ssid), sep->ssids[0].ssid_len),
        "guest");

    // A radio the agent reports later: its policy follows at the next tick.
    map_radio_info_t* r6 = map_update_radio(get_ale(kExt), radio_of(kExt, 0x60));
    const map_op_class_param_t c131{131, 0, 0, nullptr};
    ASSERT_EQ(map_update_radio_basic_caps(r6, 2, &c131, 1), 0);
    cfg().on_config_timer();
    ASSERT_TRUE(run_until([&] { return configs(ext) == 4; }));
    EXPECT_EQ(find_tlv<metric_reporting_policy_tlv>(last_config(ext))->radios.size(), 3u);
    settle();
    EXPECT_EQ(configs(far), 3u);
}

}  // namespace
