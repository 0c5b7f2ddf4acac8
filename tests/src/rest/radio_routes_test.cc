// The radio routes over the daemon's own context, the stack's model filled by hand and
// the stack not started: what "/debug/map-cfg" shows of the radio configuration, the CAC
// data, and every request the CAC and scan policy routes refuse.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "graph/device.h"
#include "graph/graph_minder.h"
#include "map/map_config.h"
#include "nal/ics.h"
#include "rest/http_server.h"
#include "rest_loop.h"

namespace {

MAC m(uint8_t a, uint8_t b) {
    return MAC(0x02, 0x6f, 0, 0, a, b);
}

class RadioRoutes : public ozr_test::RouteFixture {
  protected:
    RadioRoutes() : RouteFixture(m(0, 1), m(0, 2)) {}
    void SetUp() override {
        ics_reset();
        map_config_reset();
        RouteFixture::SetUp();
        map_ale_info_t* ext = map_update_ale(m(1, 0));
        ASSERT_NE(ext, nullptr);
        map_radio_info_t* r5 = map_update_radio(ext, m(1, 0x20));
        const map_op_class_param_t c[] = {{115, 0, 0, nullptr}, {121, 0, 0, nullptr}};
        ASSERT_EQ(map_update_radio_basic_caps(r5, 2, c, 2), 0);
        Device* d = new Device("B1", m(1, 0), 1000);
        d->cac_completion_reports.push_back({m(1, 0x20), 121, 100, 1, {{121, 104}}});
        d->cac_non_occupancy.push_back({121, 104, 1700});
        ctx_->graph_minder->graph().add_node(d);
    }
    void TearDown() override {
        RouteFixture::TearDown();
        map_config_reset();
        ics_reset();
    }
};

TEST_F(RadioRoutes, MapCfgShowsTheRadioConfiguration) {
    // Set before the loop thread runs.
    config_default_802dot1q_t q{100, 5};
    ASSERT_EQ(set_default_802dot1q(&q), 0);
    cfg_traffic_separation_policy_list_t list{};
    list.entries[2].vid = 20;
    std::strcpy(list.entries[2].ssid, "guest");
    ASSERT_EQ(set_traffic_separation_policy(&list), 0);
    std::vector<uint8_t> rec(kIcsProvisionSize, 0);
    rec[0] = 0x80;
    rec[2] = ICS_KIND_CHANNEL;
    rec[5] = 3;
    rec[7] = 36;
    ASSERT_EQ(ics_provision(rec.data(), rec.size()), 0);
    ASSERT_EQ(ics_set_default_channel(0x80, 36), 0);

    HttpAnswer a = ask(get_request("/debug/map-cfg"));
    ASSERT_EQ(a.status, 200);
    EXPECT_TRUE(json_has(json(a), R"({"map-cfg": {"credentials-cfg": {},
        "default-802dot1q-cfg": {"vid": 100, "pcp": 5}, "prefer-bh-cfg": {"backhaul-ssid": null},
        "supported-freqs-cfg": {"bands": [{"provisioned-channel": 0}, {}, {},
            {"band": "5g", "provisioned-channel": 36, "default-channel": 36}, {}]},
        "traffic-separation-policy-cfg": {"configured": true, "entries": [{"ssid": "guest"}]}}})"));
}

TEST_F(RadioRoutes, CacDataAndTheRequestsTheRoutesRefuse) {
    rapidjson::Document doc = json(ask(get_request("/debug/cac_data")));
    EXPECT_TRUE(json_has(doc["cac-data"], R"([{"completion": [{"channel": 100,
        "radar-detected": [{"channel": 104}]}], "non-occupancy": [{"seconds-remaining": 1700}]}])"));

    const char* refused[] = {
        "/debug/cac_request?channel=100",                               // no agent
        "/debug/cac_request?al-mac=026f00000900&channel=100",           // unknown agent
        "/debug/cac_request?al-mac=026f00000100",                       // no channel
        "/debug/cac_request?al-mac=026f00000100&channel=300",           // not a channel
        "/debug/cac_request?al-mac=026f00000100&channel=6",             // no 2.4 GHz radio
        "/debug/cac_request?al-mac=026f00000100&channel=100&method=9",  // method out of range
        "/debug/cac_termination?al-mac=026f00000100&channel=100&radio=026f00000110",
        "/debug/ch_scan_policy?al-mac=zz",
    };
    for (const char* uri : refused)
        EXPECT_EQ(ask(get_request(uri)).status, 400) << uri;
    // A well-formed request the stack cannot send (it is not started here).
    EXPECT_EQ(ask(get_request("/debug/cac_request?al-mac=02:6f:00:00:01:00&channel=100")).status,
              500);

    doc = json(ask(get_request("/debug/ch_scan_policy?al-mac=026f00000100")));
    EXPECT_TRUE(doc["report"].IsNull());  // never sent
    EXPECT_EQ(ask(body_request("POST", "/debug/ch_scan_policy",
                               "{\"al-mac\": \"026f00000900\", "
                               "\"report\": true}"))
                  .status,
              400);
    EXPECT_EQ(ask(body_request("POST", "/debug/ch_scan_policy",
                               "{\"al-mac\": \"026f00000100\", \"report\": \"yes\"}"))
                  .status,
              400);
    EXPECT_EQ(ask(body_request("POST", "/debug/ch_scan_policy", "[1, 2")).status, 400);
}

}  // namespace
