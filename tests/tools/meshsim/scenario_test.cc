// Scenario files: the shipped ones load, and each kind of mistake is refused
// with a message naming the field.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "scenario.h"

using ::testing::HasSubstr;

using meshsim::Scenario;

namespace {

const char* kMinimal = R"({
  "agents": [
    {"name": "gw", "al_mac": "02:00:00:00:01:00", "serial": "S1",
     "ethernet": [{"name": "lan0", "mac": "02:00:00:00:01:01"}],
     "radios": [{"id": "02:00:00:00:01:10", "band": "5", "op_class": 115, "channel": 36,
                 "bsss": [{"bssid": "02:00:00:00:01:11", "ssid": "Home"},
                          {"bssid": "02:00:00:00:01:12", "ssid": "bh", "backhaul": true}]}],
     "backhaul": {"type": "ethernet", "parent": "controller", "interface": "lan0"}},
    {"name": "ext", "al_mac": "02:00:00:00:02:00", "serial": "S2",
     "radios": [{"id": "02:00:00:00:02:10", "band": "2.4", "op_class": 81, "channel": 1,
                 "bsss": [{"bssid": "02:00:00:00:02:11", "ssid": "Home"}]}],
     "backhaul": {"type": "wifi", "parent": "gw", "bsta": "02:00:00:00:02:30", "bssid": "02:00:00:00:01:12"}}
  ],
  "clients": [{"mac": "02:c1:00:00:00:01", "bssid": "02:00:00:00:01:11",
               "rssi": {"02:00:00:00:01:11": -50}}],
  "timeline": [{"at_s": 5, "client": "02:c1:00:00:00:01", "roam": "02:00:00:00:02:11"},
               {"at_s": 2, "agent": "ext", "silent": true}]
})";

// Replaces the first FROM in kMinimal by TO and returns the parse error.
std::string error_after(const std::string& from, const std::string& to) {
    std::string text = kMinimal;
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    Scenario s;
    std::string error;
    EXPECT_EQ(meshsim::scenario_parse(text, s, &error), -1) << "accepted: " << to;
    return error;
}

}  // namespace

TEST(MeshsimScenario, ShippedScenariosLoad) {
    const std::string dir = MESHSIM_SCENARIOS;
    for (const char* name : {"default", "large", "ssid-sync", "backhaul", "channel", "foreign",
                             "hostile", "onboarding-faults", "steering"}) {
        Scenario s;
        std::string error;
        EXPECT_EQ(meshsim::scenario_load(dir + "/" + name + ".json", s, &error), 0) << error;
        EXPECT_FALSE(s.agents.empty()) << name;
    }
}

TEST(MeshsimScenario, MinimalParsesAndSortsTheTimeline) {
    Scenario s;
    std::string error;
    ASSERT_EQ(meshsim::scenario_parse(kMinimal, s, &error), 0) << error;
    ASSERT_EQ(s.timeline.size(), 2u);
    EXPECT_EQ(s.timeline[0].kind, meshsim::EventConf::silent);
    EXPECT_EQ(s.timeline[0].at_ms, 2000);
    EXPECT_EQ(s.timeline[1].kind, meshsim::EventConf::roam);
    // Defaults of what the file leaves out.
    EXPECT_EQ(s.controller_al_mac.to_string(), "02:6f:7a:72:00:01");
    EXPECT_EQ(s.discovery_interval_s, 60u);
    EXPECT_TRUE(s.agents[0].radios[0].vht);
    EXPECT_EQ(s.agents[1].bsta_rssi.at(BSSID(MAC(2, 0, 0, 0, 1, 0x12))), -60);
    EXPECT_EQ(s.agents[1].wsc_fault, meshsim::WscFault::none);
    std::string faulty = kMinimal;
    const std::string needle = "\"serial\": \"S2\",";
    faulty.replace(faulty.find(needle), needle.size(), needle + " \"wsc_fault\": \"corrupt_m2\",");
    ASSERT_EQ(meshsim::scenario_parse(faulty, s, &error), 0) << error;
    EXPECT_EQ(s.agents[1].wsc_fault, meshsim::WscFault::corrupt_m2);
}

TEST(MeshsimScenario, MistakesNameTheirField) {
    // The end of ext's backhaul, and the phone's MAC: what the blocks below follow.
    const std::string kBh = "\"bssid\": \"02:00:00:00:01:12\"}",
                      kPhone = "\"mac\": \"02:c1:00:00:00:01\"";
    struct Case {
        std::string from, to;
        const char* expect;
    } cases[] = {
        {"\"band\": \"5\"", "\"band\": \"7\"",
         "scenario: \"agents[0].radios[0].band\": expected \"2.4\", \"5\" or \"6\", got \"7\""},
        {"\"op_class\": 115", "\"op_class\": 81",
         "\"agents[0].radios[0].op_class\": operating class 81"},
        {"\"serial\": \"S1\",", "\"serial\": \"S1\", \"color\": 1,",
         "\"agents[0].color\": unknown key"},
        {"\"al_mac\": \"02:00:00:00:02:00\"", "\"al_mac\": \"02:00:00:00:01:00\"",
         "\"agents[1].al_mac\": MAC 02:00:00:00:01:00 used twice"},
        {"\"parent\": \"gw\"", "\"parent\": \"nobody\"",
         "\"agents[1].backhaul.parent\": no agent named"},
        {"\"bssid\": \"02:00:00:00:01:12\"}}", "\"bssid\": \"02:00:00:00:01:11\"}}",
         "\"agents[1].backhaul.bssid\": not a backhaul BSS"},
        {"\"mac\": \"02:c1:00:00:00:01\"", "\"mac\": \"01:c1:00:00:00:01\"",
         "\"clients[0].mac\": expected a unicast MAC"},
        {"\"bssid\": \"02:00:00:00:01:11\",\n", "\"bssid\": \"02:00:00:00:09:11\",\n",
         "\"clients[0].bssid\""},
        {"{\"at_s\": 2, \"agent\": \"ext\"", "{\"at_s\": 2, \"agent\": \"nope\"",
         "\"timeline[1].agent\""},
        {"\"roam\": \"02:00:00:00:02:11\"", "\"roam\": \"02:00:00:00:01:12\"",
         "\"timeline[0].roam\""},
        {"\"at_s\": 5", "\"at_s\": -5", "\"timeline[0].at_s\": expected an integer"},
        {"\"ssid\": \"Home\"}]}],\n     \"backhaul\": {\"type\": \"wifi\"",
         "\"ssid\": \"Home\"}]}],\n     \"backhaul\": {\"type\": \"cable\"",
         "\"agents[1].backhaul.type\""},
        {"\"channel\": 1,", "\"channel\": 300,", "\"agents[1].radios[0].channel\""},
        {"\"serial\": \"S2\",", "\"serial\": \"S2\", \"wsc_fault\": \"late\",",
         "\"agents[1].wsc_fault\": expected \"wrong_key\" or \"corrupt_m2\", got \"late\""},
        {"\"serial\": \"S2\",", "\"serial\": \"S2\", \"backhaul_steer_reject\": 3,",
         "\"agents[1].backhaul_steer_reject\": expected 4, 5 or 6, got 3"},
        {"{\"at_s\": 2, \"agent\": \"ext\", \"silent\": true}",
         "{\"at_s\": 2, \"agent\": \"gw\", \"bsta_rssi\": {\"02:00:00:00:01:12\": -40}}",
         "\"timeline[1].agent\": agent \"gw\" has no Wi-Fi backhaul"},
        {"{\"at_s\": 2, \"agent\": \"ext\", \"silent\": true}",
         "{\"at_s\": 2, \"agent\": \"ext\", \"bsta_rssi\": {\"02:00:00:00:01:12\": 5}}",
         "\"timeline[1].bsta_rssi"},
        // Faults: the whole mesh's, an agent's, a link's; the foreign agents' keys.
        {"\"agents\": [", "\"faults\": {\"loss\": 1.5}, \"agents\": [",
         "\"faults.loss\": expected a ratio from 0 to 1, got 1.5"},
        {"\"agents\": [",
         "\"faults\": {\"to_agents\": {\"multicast_loss\": \"10%\"}}, \"agents\": [",
         "\"faults.to_agents.multicast_loss\": expected a ratio from 0 to 1, got \"10%\""},
        {"\"serial\": \"S2\",", "\"serial\": \"S2\", \"faults\": {\"delay_ms\": -5},",
         "\"agents[1].faults.delay_ms\": expected milliseconds from 0 to 60000, got -5"},
        {"\"bssid\": \"02:00:00:00:01:12\"}}",
         "\"bssid\": \"02:00:00:00:01:12\", \"faults\": {\"duplicate\": -0.1}}}",
         "\"agents[1].backhaul.faults.duplicate\": expected a ratio from 0 to 1, got -0.1"},
        {"\"serial\": \"S2\",", "\"serial\": \"S2\", \"unassoc_metrics\": \"far\",",
         "\"agents[1].unassoc_metrics\": expected \"both\", \"on_channel\", \"off_channel\" or "
         "\"none\""},
        {"\"serial\": \"S2\",", "\"serial\": \"S2\", \"tlv_order\": \"random\",",
         "\"agents[1].tlv_order\": expected \"standard\" or \"reversed\""},
        {"\"serial\": \"S2\",", "\"serial\": \"S2\", \"never_answers\": [\"COFFEE_QUERY\"],",
         "\"agents[1].never_answers[0]\": expected a message type"},
        // A vendor agent block, a client's steering behaviour, a radio's channel event.
        {kBh, kBh + ", \"hkt\": {\"colour\": 1}", "\"agents[1].hkt.colour\": unknown key"},
        {kBh, kBh + ", \"hkt\": {\"ipv4\": \"10.0.0.300\"}",
         "\"agents[1].hkt.ipv4\": expected an IPv4"},
        {kBh, kBh + ", \"hkt\": {\"mac\": \"02:00:00:00:01:11\"}", "used twice"},
        {"\"silent\": true", "\"hkt_silent\": true", "agent \"ext\" has no \"hkt\" block"},
        {"\"silent\": true", "\"forget_credentials\": false", "forget_credentials"},
        {kPhone, kPhone + ", \"steering\": {\"btm_status\": 9}", "\"clients[0].steering"},
        {kPhone, kPhone + ", \"steering\": {\"walk\": true}", "\"clients[0].steering"},
        {"\"silent\": true", "\"channel\": {\"radio\": \"02:00:00:00:01:10\", \"channel\": 11}",
         "\"timeline[1].channel.radio\": agent ext has no radio 02:00:00:00:01:10"},
        {"\"silent\": true",
         "\"channel\": {\"radio\": \"02:00:00:00:02:10\", \"channel\": 6, \"bandwidth\": 30}",
         "\"timeline[1].channel.bandwidth\": expected 20, 40, 80, 160 or 320"},
        {"\"silent\": true", "\"channel\": 6", "\"timeline[1].channel\""},
    };
    for (const Case& c : cases) {
        std::string error = error_after(c.from, c.to);
        EXPECT_THAT(error, HasSubstr(c.expect)) << c.to << "\n  got: " << error;
    }
}

TEST(MeshsimScenario, LoopsAndBadJsonAreRefused) {
    // gw under ext and ext under gw: neither reaches the controller.
    std::string text = kMinimal;
    text.replace(text.find("\"parent\": \"controller\""), 22, "\"parent\": \"ext\"");
    text.replace(text.find("\"interface\": \"lan0\"}"), 20,
                 "\"interface\": \"lan0\", \"parent_interface\": \"x\"}");
    Scenario s;
    std::string error;
    EXPECT_EQ(meshsim::scenario_parse(text, s, &error), -1);
    EXPECT_THAT(error, HasSubstr("agents[0].backhaul"));
    EXPECT_EQ(meshsim::scenario_parse("{\"agents\": [", s, &error), -1);
    EXPECT_THAT(error, HasSubstr("not valid JSON at offset"));
    EXPECT_EQ(meshsim::scenario_parse("{} trailing", s, &error), -1);
    EXPECT_EQ(meshsim::scenario_parse("{}", s, &error), -1);
    EXPECT_THAT(error, HasSubstr("\"agents\": missing"));
    EXPECT_EQ(meshsim::scenario_load("/nonexistent/scenario.json", s, &error), -1);
}
