// The extender routes over HTTP from the daemon's own context: the configuration database's
// policy setter, the removal wait and port block settings, and the extender identity
// /1/topology shows. State changes only while no request is outstanding.
#include <gtest/gtest.h>

#include <string>

#include "common/clock.h"
#include "graph/graph_minder.h"
#include "rest_loop.h"

namespace {

using ozr_test::read_text;

const MAC kRoot(0x02, 0, 0, 0, 0, 1);
const MAC kExt(0x02, 0, 0, 0, 3, 0);

class ExtenderRoutes : public ozr_test::RouteFixture {
  protected:
    void SetUp() override {
        RouteFixture::SetUp();
        dm_ = ctx_->data_minder;
    }
    HttpAnswer put(const std::string& body) {
        return ask(body_request("PUT", "/debug/configdb", body));
    }

    DataMinder* dm_ = nullptr;
};

}  // namespace

TEST_F(ExtenderRoutes, PutConfigdbSetsThePolicyBlocksAndRewritesOnlyOnChange) {
    const unsigned long long w0 = dm_->cfg_db().writes();
    HttpAnswer a = put(R"({"metric-policy-configuration": {"metrics-report-interval": 30,
        "sta-metrics-rssi-threshold-dbm": -2147483648}, "controller-topology-configuration":
        {"map-controller-dead-agent-detection-interval": 2147483647}})");
    EXPECT_EQ(a.status, 200) << a.body;
    EXPECT_EQ(a.body, "");
    EXPECT_EQ(dm_->cfg_db().writes(), w0 + 1);
    a = put("{\"metric-policy-configuration\": {\"metrics-report-interval\": 30}}");
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(dm_->cfg_db().writes(), w0 + 1);  // nothing changed: nothing written
    stop_loop();
    MetricPolCfg pol;
    CtlrTopoCfg topo;
    dm_->cfg_db().db_get_map_policy_cfg(pol);
    dm_->cfg_db().db_get_controller_topo_cfg(topo);
    EXPECT_EQ(pol, (MetricPolCfg{30, INT32_MIN, 0, 0, 255}));  // the rest untouched
    EXPECT_EQ(topo, (CtlrTopoCfg{60, 60, 60, 2147483647u}));
    const std::string file = read_text(root_.path("/configs/easymesh/ozr_config_db.json"));
    EXPECT_NE(file.find("\"metrics-report-interval\": 30,"), std::string::npos);
    EXPECT_NE(file.find("\"map-controller-dead-agent-detection-interval\": 2147483647\n"),
              std::string::npos);
}

TEST_F(ExtenderRoutes, PutConfigdbRejectsBadBodiesWholeAndChangesNothing) {
    const unsigned long long w0 = dm_->cfg_db().writes();
    struct Case {
        const char* body;
        const char* error;
    } cases[] = {
        {"[]", "Invalid request body"},
        {"{}", "Invalid request body"},
        {"{\"metric-policy-configuration\": {\"metrics-report-interval\": \"30\"}}",
         "Invalid request. metrics-report-interval must be an integer from -2147483648 to "
         "2147483647"},
        {"{\"metric-policy-configuration\": {\"metrics-report-interval\": 2147483648}}",
         "Invalid request. metrics-report-interval must be an integer from -2147483648 to "
         "2147483647"},
        {"{\"metric-policy-configuration\": {\"metrics-report-interval\": 1.5}}",
         "Invalid request. metrics-report-interval must be an integer from -2147483648 to "
         "2147483647"},
        {"{\"controller-topology-configuration\": {\"al-entity-topology-discovery-interval\": "
         "-1}}",
         "Invalid request. al-entity-topology-discovery-interval must be an integer from 0 to "
         "2147483647"},
        {"{\"metric-policy-configuration\": {\"metrics-report-interval\": 5}, "
         "\"controller-topology-configuration\": {\"colour\": 1}}",
         "Invalid request. Unknown attribute: colour"},
        {"{\"metric-policy-configuration\": 5}",
         "Invalid request. metric-policy-configuration must be an object"},
        {"{\"ap-white-list\": []}",
         "Invalid request. The white list changes only through admission and removal"},
        {"{\"version\": \"2\"}", "Invalid request. Unknown attribute: version"},
    };
    for (const Case& c : cases) {
        HttpAnswer a = put(c.body);
        EXPECT_EQ(a.status, 400) << c.body;
        EXPECT_EQ(error_of(a), c.error) << c.body;
    }
    stop_loop();
    MetricPolCfg pol;
    dm_->cfg_db().db_get_map_policy_cfg(pol);
    EXPECT_EQ(pol, MetricPolCfg());
    EXPECT_EQ(dm_->cfg_db().writes(), w0);
}

TEST_F(ExtenderRoutes, RemoveWaitAndPortBlockTimeAreShownAndSetWithTheirLimits) {
    EXPECT_TRUE(json_has(json(ask(get_request("/debug/ap_remove"))), R"({"wait_time": 60000})"));
    EXPECT_TRUE(json_has(json(ask(get_request("/debug/port_state"))), R"({"block_time": 60})"));
    const struct {
        const char* uri;
        const char* body;
        int status;
        const char* error;  // the answer's "error", when it is known
    } rows[] = {
        {"/debug/ap_remove", R"({"wait_time": -1})", 400, "wait time <  0"},
        {"/debug/ap_remove", R"({"wait_time": 4294967296})", 400, nullptr},
        {"/debug/ap_remove", R"({"wait": 5})", 400, "Invalid request parameter"},
        {"/debug/ap_remove", R"({"wait_time": "5"})", 400, nullptr},
        {"/debug/ap_remove", "", 400, nullptr},
        {"/debug/ap_remove", R"({"wait_time": 0})", 200, nullptr},
        {"/debug/port_state", R"({"block_time": 0})", 400, "block time need  > 0"},
        {"/debug/port_state", R"({"block_time": 90})", 200, nullptr},
    };
    for (const auto& r : rows) {
        HttpAnswer a = ask(body_request("POST", r.uri, r.body));
        EXPECT_EQ(a.status, r.status) << r.body;
        if (r.error) {
            EXPECT_EQ(error_of(a), r.error);
        }
    }
    EXPECT_TRUE(json_has(json(ask(get_request("/debug/ap_remove"))), R"({"wait_time": 0})"));
    stop_loop();
    EXPECT_EQ(dm_->get_ap_remove_wait_time(), 0u);
    EXPECT_EQ(dm_->get_port_block_time(), 90u);
    EXPECT_NE(log_->text().find("wait time <  0"), std::string::npos);
}

TEST_F(ExtenderRoutes, TopologyShowsAnAdmittedExtendersSerialAndState) {
    Graph& g = ctx_->graph_minder->graph();
    g.root = new Device("Root", kRoot, 1000);
    g.add_node(g.root);
    g.add_node(new Device("B1", kExt, 1000));
    map_ale_info_t* a = map_update_ale(kExt);
    ASSERT_NE(a, nullptr);
    map_update_ale_m1(a, "Maker", "Ext", "EXT-9", "ex7", "ext", 3);
    ASSERT_TRUE(dm_->add_ap_white_list("EX7"));
    ASSERT_EQ(dm_->update_ap_state("EX7", ApStatus::DETECTED), 0);

    // Every device has the member; the root is no extender.
    EXPECT_TRUE(json_has(json(ask(get_request("/1/topology"))), R"({"aps": [
        {"al-mac": "020000000001", "extender": null},
        {"al-mac": "020000000300", "extender": {"serial-number": "EX7",
                                                "onboarding-state": "Detected", "online": false}}]})"));
}
