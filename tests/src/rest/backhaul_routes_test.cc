// The backhaul steering and fronthaul management routes over HTTP from the daemon's own
// context, on a graph scripted through the Graph API; the requests the steering sends are
// caught at the stack's sender. State changes only while no request is outstanding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graph/graph_minder.h"
#include "map/codec/tlvs.h"
#include "rest_loop.h"
#include "steering/backhaul_steering.h"
#include "steering/steering_minder.h"

namespace {

const MAC kRoot(0x02, 0, 0, 0, 0, 1);
const MAC kLocal(0x02, 0, 0, 0, 0, 2);
const MAC kExt(0x02, 0, 0, 0, 3, 0);
const MAC kBsta(0x02, 0, 0, 0, 3, 4);
const MAC kRadio(0x02, 0, 0, 0, 2, 0x50);
const BSSID kLocalBh(MAC(0x02, 0, 0, 0, 2, 6));

class BackhaulRoutes : public ozr_test::RouteFixture {
  protected:
    void SetUp() override {
        RouteFixture::SetUp();
        Graph& g = ctx_->graph_minder->graph();
        g.root = new Device("Root", kRoot, 1);
        g.add_node(g.root);
        Device* local = new Device("Local_agent", kLocal, 1);
        g.add_node(local);
        local->operational_bss = {{kRadio, {{kLocalBh, "bh"}}}};
        local->current_channels.reports.push_back({kRadio, 0, {{115, 36}}});
        g.add_node(new Device("Ext", kExt, 1));
        Sta* s = new Sta("Ext-bsta", kBsta, 1);
        g.add_node(s);
        s->update_backhaul_sta(true, kExt);
        ctx_->steering_minder->backhaul().set_sender(
            [this](const MAC& al, const backhaul_steering_request_tlv& r) {
                sent_.push_back({al, r});
                return 0;
            });
    }
    HttpAnswer steer(const std::string& body) {
        return ask(body_request("PUT", "/debug/backhaul-steer", body));
    }

    struct Sent {
        MAC al;
        backhaul_steering_request_tlv req;
    };
    std::vector<Sent> sent_;
};

std::string entry(const std::string& al, const std::string& bsta, const std::string& target) {
    return "{\"al-mac\": \"" + al + "\", \"backhaul-sta-mac\": \"" + bsta +
           "\", \"target-bssid\": \"" + target + "\"}";
}

}  // namespace

TEST_F(BackhaulRoutes, SwitchesReadAndSet) {
    HttpAnswer a = ask(get_request("/debug/backhaul-steer-enable"));
    ASSERT_EQ(a.status, 200) << a.body;
    EXPECT_TRUE(json(a)["enable"].GetBool());  // on by default
    a = ask(body_request("PUT", "/debug/backhaul-steer-enable", "{\"enable\": false}"));
    EXPECT_EQ(a.status, 200) << a.body;
    a = ask(body_request("PUT", "/debug/backhaul-steer-enable", "{\"enable\": 1}"));
    EXPECT_EQ(a.status, 400);
    a = ask(get_request("/debug/backhaul-steer"));
    ASSERT_EQ(a.status, 200) << a.body;
    // No check ran yet.
    EXPECT_TRUE(json_has(json(a), R"({"enable": false, "block-reason": "",
        "last-steer-ms-ago": null, "requests": []})"));

    a = ask(get_request("/debug/fronthaul-management"));
    EXPECT_FALSE(json(a)["enable"].GetBool());  // off by default
    a = ask(body_request("PUT", "/debug/fronthaul-management",
                         "{\"enable\": true, \"enable-5g-high-fronthaul\": false}"));
    EXPECT_EQ(a.status, 200) << a.body;
    a = ask(body_request("PUT", "/debug/fronthaul-management",
                         "{\"enable\": true, \"enable-5g-high-fronthaul\": \"no\"}"));
    EXPECT_EQ(a.status, 400);
    a = ask(get_request("/debug/fronthaul-management"));
    EXPECT_TRUE(json(a)["enable"].GetBool());
    stop_loop();
    EXPECT_FALSE(ctx_->steering_minder->all_devices_5gh_fronthaul_enabled());
    EXPECT_NE(log_->text().find("disable 5 GHz-high fronthaul of Ext"), std::string::npos);
}

TEST_F(BackhaulRoutes, EntriesAreCheckedWholeThenSentInOrder) {
    const std::string ext = kExt.to_string(), bsta = kBsta.to_string(), bh = kLocalBh.to_string();
    struct Bad {
        std::string body;
        std::string error;
    } bad[] = {
        {"[1]", "Invalid request body"},
        {"{\"entries\": []}", "Invalid request. Missing/Invalid data: entries"},
        {"{\"entries\": [" + entry("02:00:00:00:03:00", bsta, "zz:00:00:00:00:00") + "]}",
         "Invalid request. Bad MAC: zz:00:00:00:00:00"},
        {"{\"entries\": [{\"al-mac\": \"" + ext + "\"}]}",
         "Invalid request. Missing/Invalid data: backhaul-sta-mac"},
        {"{\"entries\": [" + entry("02:00:00:00:09:09", bsta, bh) + "]}",
         "Invalid request. Unknown agent: 02:00:00:00:09:09"},
        {"{\"entries\": [" + entry(ext, kLocal.to_string(), bh) + "]}",
         "Invalid request. Not a backhaul STA: " + kLocal.to_string()},
        {"{\"entries\": [" + entry(ext, bsta, "02:00:00:00:09:06") + "]}",
         "Invalid request. Unknown target BSSID: 02:00:00:00:09:06"},
        {"{\"entries\": [{\"al-mac\": \"" + ext + "\", \"colour\": 1}]}",
         "Invalid request. Unknown attribute: colour"},
        // A good entry before a bad one: nothing is sent.
        {"{\"entries\": [" + entry(ext, bsta, bh) + ", " + entry(ext, bsta, "00:00:00:00:00:00") +
             "]}",
         "Invalid request. Bad MAC: 00:00:00:00:00:00"},
    };
    for (const Bad& b : bad) {
        HttpAnswer a = steer(b.body);
        EXPECT_EQ(a.status, 400) << b.body;
        EXPECT_EQ(error_of(a), b.error) << b.body;
    }
    std::string many = "{\"entries\": [";
    for (int i = 0; i < 17; ++i)
        many += (i ? ", " : "") + entry(ext, bsta, bh);
    EXPECT_EQ(error_of(steer(many + "]}")), "Invalid request. At most 16 entries");
    std::string huge = "{\"entries\": [";
    for (int i = 0; i < 5000; ++i)
        huge += (i ? ", " : "") + entry(ext, bsta, bh);
    const int huge_status = steer(huge + "]}").status;  // too many, or past the body limit
    EXPECT_TRUE(huge_status == 400 || huge_status == 413) << huge_status;

    // The switch does not hold these back; the class and channel come from the radio.
    ask(body_request("PUT", "/debug/backhaul-steer-enable", "{\"enable\": false}"));
    HttpAnswer a = steer("{\"entries\": [" + entry(kExt.to_rest_string(), bsta, bh) + "]}");
    ASSERT_EQ(a.status, 200) << a.body;
    EXPECT_EQ(json(a)["sent"].GetInt(), 1);
    EXPECT_TRUE(json_has(json(ask(get_request("/debug/backhaul-steer"))),
                         R"({"requests": [{"state": "requested", "external": true}]})"));
    stop_loop();
    ASSERT_EQ(sent_.size(), 1u);
    const auto& req = sent_[0].req;
    EXPECT_EQ(
        std::tie(sent_[0].al, req.backhaul_sta_mac, req.target_bssid, req.op_class, req.channel),
        std::make_tuple(kExt, kBsta, kLocalBh, 115, 36));
}
