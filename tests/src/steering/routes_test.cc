// The steering routes over a real REST server and the daemon's own context: each setter
// with its body rules and 400 texts, the current value on GET, "/debug/steering" and the
// administrator's access-control list.
#include <gtest/gtest.h>

#include "rest_loop.h"
#include "steering/steering_minder.h"

namespace {
class SteeringRoutes : public ozr_test::RouteFixture {
  protected:
    void SetUp() override {
        RouteFixture::SetUp();
        ASSERT_TRUE(rest_.start());
    }
    HttpAnswer post(const std::string& uri, const std::string& body, const char* m = "POST") {
        return rest_.ask(body_request(m, uri, body));
    }
    HttpAnswer get(const std::string& uri) { return rest_.ask(get_request(uri)); }
    SteeringMinder& sm() { return *ctx_->steering_minder; }
};
}  // namespace

TEST_F(SteeringRoutes, SettersTakeGoodValuesAndRefuseBadOnesWithTheirReason) {
    EXPECT_EQ(post("/debug/single_ap_steer_state", R"({"single_ap_steer": false})").status, 200);
    EXPECT_FALSE(sm().bsteering);
    EXPECT_TRUE(
        json_has(json(get("/debug/single_ap_steer_state")), R"({"single_ap_steer": false})"));
    EXPECT_EQ(post("/debug/rssi_threshold_dbm", R"({"5to24-dbm": -78, "24to5-dbm": -60})").status,
              200);
    EXPECT_EQ(sm().bsteer_rssi.rssi_5to2, -78);
    HttpAnswer a = post("/debug/rssi_threshold_dbm", R"({"5to24-dbm": 0, "24to5-dbm": -60})");
    EXPECT_EQ(a.status, 400);
    EXPECT_EQ(error_of(a),
              "5to24-threshold-dbm field must be a negative integer between -1 and -123");
    EXPECT_EQ(post("/debug/rssi_threshold_dbm", R"({"5to24-dbm": -70, "24to5-dbm": -124})").status,
              400);
    EXPECT_EQ(sm().bsteer_rssi.rssi_5to2, -78);  // nothing of a refused body is applied
    EXPECT_EQ(post("/debug/roaming_margin", R"({"roaming_margin": 1.8})").status, 200);
    EXPECT_EQ(sm().msteer_ratio, 80);
    EXPECT_EQ(post("/debug/roaming_margin", R"({"roaming_margin": 1.0})").status, 400);
    EXPECT_EQ(error_of(post("/debug/free_roaming_time", R"({"time_min": 0})")),
              "steer free_roaming_time must be >= 1min");
    EXPECT_EQ(post("/debug/free_roaming_time", R"({"time_min": 2})").status, 200);
    EXPECT_EQ(sm().free_roaming_lifetime, 120u);
    EXPECT_EQ(error_of(post("/debug/free_roaming_threshold", R"({"threshold": 0})")),
              "steer free roaming counter threshold must be >= 1");
    // Any value from 0 on, its low 16 bits kept; the messages say the range.
    EXPECT_EQ(error_of(post("/debug/btm_disassoc_timer", R"({"value": -1})")),
              "btm disassoc time must be >= 0");
    EXPECT_EQ(error_of(post("/debug/btm_disassoc_timer", R"({"value": 4294967296})")),
              "btm disassoc time must be at most 4294967295 (the low 16 bits are kept)");
    EXPECT_EQ(post("/debug/btm_disassoc_timer", R"({"value": 70000})").status, 200);
    EXPECT_TRUE(json_has(json(get("/debug/btm_disassoc_timer")), R"({"value": 4464})"));
    EXPECT_EQ(post("/debug/bsteer_decision_window", R"({"time": 70000})").status, 200);
    EXPECT_EQ(sm().decision_window_size, 4464);
    EXPECT_EQ(post("/debug/bsteer_decision_chance", R"({"chance": 0.25})").status, 200);
    EXPECT_FLOAT_EQ(sm().decision_chance, 0.25f);
    EXPECT_EQ(post("/debug/bsteer_decision_chance", R"({"chance": 2})").status, 400);
    EXPECT_EQ(post("/debug/steering_cat", R"({"category": 3})").status, 200);
    EXPECT_EQ(sm().steering_cat, 3);
    EXPECT_EQ(post("/debug/idle_threshold", R"({"threshold": 70000})").status, 400);
    // Wrong type, missing key, not JSON.
    EXPECT_EQ(post("/debug/global_steer_state", R"({"global_steer": 1})").status, 400);
    EXPECT_EQ(post("/debug/ping_pong", R"({"value": true})").status, 400);
    EXPECT_EQ(post("/debug/msteer_5g_rssi", "rssi=-70").status, 400);
    EXPECT_NE(log_->text().find("Parse Error: Invalid request parameter"), std::string::npos);
    // The reset brings the defaults back, except what construction alone sets.
    EXPECT_EQ(post("/debug/steer_sys_reset", "").status, 200);
    EXPECT_EQ(std::make_tuple(sm().bsteering, sm().msteer_ratio, sm().steering_cat),
              std::make_tuple(true, 50, 3));
}

TEST_F(SteeringRoutes, SteeringDocumentListsEverySettingAndTheTotals) {
    HttpAnswer a = get("/debug/steering");
    ASSERT_EQ(a.status, 200);
    rapidjson::Document d;
    d.Parse(a.body.c_str());
    ASSERT_TRUE(json_has(d, R"({"policys": {"5to24-dbm": -80, "dancing": true,
        "decision-window-chance": 0.7}, "totals": {"steer-requests": 0}})"));
    EXPECT_EQ(d["policys"].MemberCount(), sm().settings_by_rest_key().size());
    EXPECT_TRUE(d["clients"].IsArray());
}

TEST_F(SteeringRoutes, AdminBlacklistAddsListsAndRefusesBadEntries) {
    EXPECT_EQ(post("/1/admin-blacklist",
                   R"({"entries": [{"mac": "02:c1:00:00:00:04", "medium": "2.4"}]})", "PUT")
                  .status,
              200);
    ASSERT_EQ(sm().admin_blacklist().size(), 1u);
    EXPECT_EQ(sm().admin_blacklist().begin()->second, 1u);
    HttpAnswer g = get("/1/admin-blacklist");
    EXPECT_NE(g.body.find("\"medium\": \"2.4\""), std::string::npos) << g.body;
    struct Bad {
        const char* body;
        const char* says;
    };
    for (const Bad& b : {Bad{"", "Invalid request. No data. Req: "},
                         Bad{R"({"list": []})", "Invalid request. Missing/Invalid data. Req: "},
                         Bad{R"({"entries": [{"mac": "02:c1:00:00:00:zz"}]})",
                             "Invalid request. Bad MAC: 02:c1:00:00:00:zz  Req: "},
                         Bad{R"({"entries": [{"mac": "02:c1:00:00:00:05", "colour": 1}]})",
                             "Invalid request. Unknown attribute: colour. Req: "},
                         Bad{R"({"entries": [{"mac": 5}]})",
                             "Invalid request. Unexpected attribute type: mac. Req: "},
                         Bad{R"({"entries": [{"mac": "02:c1:00:00:00:05", "medium": "6"}]})",
                             "Invalid request. Unknown medium: 6. Req: "}}) {
        HttpAnswer a = post("/1/admin-blacklist", b.body, "PUT");
        EXPECT_EQ(a.status, 400) << b.body;
        EXPECT_NE(a.body.find(b.says), std::string::npos) << b.body << " -> " << a.body;
    }
    EXPECT_EQ(sm().admin_blacklist().size(), 1u);
    EXPECT_EQ(post("/1/admin-blacklist",
                   R"({"entries": [{"mac": "02:c1:00:00:00:04", "remove": true}]})", "PUT")
                  .status,
              200);
    EXPECT_TRUE(sm().admin_blacklist().empty());
}
