// The demo's tree: parents from the backhaul records, clients per BSS, and
// documents that are not what the viewer expects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "meshview.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const char* kGraph = R"({
  "root": "026f7a720000", "local-agent": "026f7a720100",
  "nodes": [
    {"name": "Root", "mac": "026f7a720000", "kind": "device",
     "backhaul": {"connected": false, "remote-ale": "000000000000"}, "links": []},
    {"name": "Local_agent", "mac": "026f7a720100", "kind": "device",
     "backhaul": {"connected": true, "remote-ale": "026f7a720000", "medium": "ethernet",
                  "quality": "GOOD", "cost-to-parent": 1, "cost-to-root": 1, "uplink-rssi": 255},
     "links": [{"to": "02c100000001", "kind": "ASSOC", "bssid": "026f7a720121"},
               {"to": "026f7a720330", "kind": "ASSOC", "bssid": "026f7a720122"},
               {"to": "026f7a720200", "kind": "WIRE"}]},
    {"name": "B1", "mac": "026f7a720300", "kind": "device",
     "backhaul": {"connected": true, "remote-ale": "026f7a720100", "medium": "wifi-5",
                  "quality": "NORMAL", "cost-to-parent": 240, "cost-to-root": 241, "uplink-rssi": -62},
     "links": [{"to": "02c100000003", "kind": "ASSOC", "bssid": "026f7a720321"}]},
    {"name": "B2", "mac": "026f7a720400", "kind": "device",
     "backhaul": {"connected": false}, "links": []},
    {"name": "S1", "mac": "026f7a720330", "kind": "sta", "backhaul-sta": true},
    {"name": "S2", "mac": "02c100000001", "kind": "sta", "backhaul-sta": false}
  ]})";

const char* kTopology = R"({"aps": [{"al-mac": "026f7a720300",
  "info": {"device-name": "ext-wifi", "serial-number": "EX2026000003"}, "extender": null,
  "ssids": [{"bssid": "026f7a720321", "ssid": "ozr-home", "backhaul": false},
            {"bssid": "026f7a720322", "ssid": "ozr-backhaul", "backhaul": true}]},
  {"al-mac": "026f7a720400", "info": {"device-name": "ext-2", "serial-number": "ex4"},
   "extender": {"serial-number": "EX4", "onboarding-state": "Configured", "online": true}}]})";

}  // namespace

TEST(Meshview, TreeFollowsBackhaulParentsAndListsClientsPerBss) {
    std::string out;
    ASSERT_TRUE(meshview::render_tree(kGraph, kTopology, out)) << out;
    const size_t root = out.find("Root 02:6f:7a:72:00:00  [controller]");
    const size_t local = out.find(
        "`-- Local_agent 02:6f:7a:72:01:00  [backhaul ethernet, cost 1 (to root 1), quality GOOD]");
    const size_t ext = out.find(
        "`-- B1 02:6f:7a:72:03:00 (ext-wifi SN EX2026000003)  [backhaul wifi-5, cost 240 (to root "
        "241), "
        "quality NORMAL, rssi -62 dBm]");
    ASSERT_NE(root, std::string::npos) << out;
    ASSERT_NE(local, std::string::npos) << out;
    ASSERT_NE(ext, std::string::npos) << out;
    EXPECT_LT(root, local);
    EXPECT_LT(local, ext);
    // The phone under the gateway's BSS; the backhaul STA is not a client.
    EXPECT_THAT(out, HasSubstr("BSS 02:6f:7a:72:01:21: 02:c1:00:00:00:01"));
    EXPECT_THAT(out, Not(HasSubstr("BSS 02:6f:7a:72:01:22")));
    // The SSIDs the AP runs (its configured BSSs), with or without clients.
    EXPECT_THAT(out, HasSubstr("BSS 02:6f:7a:72:03:21 \"ozr-home\": 02:c1:00:00:00:03"));
    EXPECT_THAT(out, HasSubstr("BSS 02:6f:7a:72:03:22 \"ozr-backhaul\" (backhaul):\n"));
    // An admitted extender: its serial number, onboarding state and online status.
    EXPECT_THAT(
        out, HasSubstr("B2 02:6f:7a:72:04:00 (ext-2 SN EX4, Configured, online)  [no backhaul]"));
    EXPECT_THAT(out, HasSubstr("4 devices, 2 clients"));
}

TEST(Meshview, UnusableDocumentsSayWhyAndNoDaemonGivesStatusZero) {
    std::string out;
    EXPECT_FALSE(meshview::render_tree("not json", "", out));
    EXPECT_EQ(out, "the graph document is not JSON");
    EXPECT_FALSE(meshview::render_tree("{\"nodes\": 3}", "", out));
    EXPECT_EQ(out, "the graph document has no \"nodes\"");
    // A parent loop or a parent that is not a device still prints every device once.
    EXPECT_TRUE(meshview::render_tree(
        R"({"nodes": [{"mac": "a", "name": "A", "kind": "device", "backhaul": {"connected": true, "remote-ale": "b"}},
                      {"mac": "b", "name": "B", "kind": "device", "backhaul": {"connected": true, "remote-ale": "a"}}]})",
        "[]", out));
    EXPECT_THAT(out, HasSubstr("2 devices"));
    EXPECT_THAT(out, HasSubstr("A a"));
    EXPECT_THAT(out, HasSubstr("B b"));
    std::string body;
    EXPECT_EQ(meshview::http_get("http://127.0.0.1:1", "/debug/graph", body, 200), 0);
    EXPECT_TRUE(body.empty());
}

TEST(Meshview, VendorAgentsShowTheirVersionAndState) {
    const char* hkt = R"({"virtual-sn": "00000000", "hktInfo": [
      {"sn": "EX2026000003", "hkt-mac": "026f7a7203e0", "agent-mac": "026f7a720300",
       "sw-version": "2.4.1", "online": true},
      {"sn": "EX2026000004", "hkt-mac": "026f7a7204e0", "agent-mac": "026f7a720400",
       "sw-version": "1.0", "online": false},
      {"sn": "GW1", "hkt-mac": "000000000000", "agent-mac": "026f7a720100", "online": false}]})";
    std::string out;
    ASSERT_TRUE(meshview::render_tree(kGraph, kTopology, out, hkt)) << out;
    EXPECT_THAT(out,
                HasSubstr("B1 02:6f:7a:72:03:00 (ext-wifi SN EX2026000003, HKT 2.4.1 online)"));
    EXPECT_THAT(
        out, HasSubstr("B2 02:6f:7a:72:04:00 (ext-2 SN EX4, Configured, online, HKT 1.0 offline)  "
                       "[no backhaul]"));
    // A node never discovered adds nothing; a broken document is ignored.
    EXPECT_THAT(out, Not(HasSubstr("Local_agent 02:6f:7a:72:01:00 (")));
    std::string plain;
    ASSERT_TRUE(meshview::render_tree(kGraph, kTopology, plain, "{\"hktInfo\": 3"));
    EXPECT_THAT(plain, Not(HasSubstr("HKT")));

    // The SSID credential sync from /debug/map-cfg; states it does not know add nothing.
    const char* cfg = R"({"map-cfg": {"ssid-sync": {"renews-sent": 1, "agents": [
      {"agent": "02:6f:7a:72:03:00", "state": "differs"},
      {"agent": "02:6f:7a:72:04:00", "state": "in sync"},
      {"agent": "02:6f:7a:72:01:00", "state": "unknown"}]}}})";
    ASSERT_TRUE(meshview::render_tree(kGraph, kTopology, out, hkt, cfg)) << out;
    EXPECT_THAT(
        out, HasSubstr("(ext-wifi SN EX2026000003, HKT 2.4.1 online, SSIDs differ, renew sent)"));
    EXPECT_THAT(out, HasSubstr("HKT 1.0 offline, SSIDs in sync)"));
    EXPECT_THAT(out, Not(HasSubstr("Local_agent 02:6f:7a:72:01:00 (")));
    ASSERT_TRUE(meshview::render_tree(kGraph, kTopology, plain, "", "{\"map-cfg\": []}"));
    EXPECT_THAT(plain, Not(HasSubstr("SSIDs")));
}

TEST(Meshview, BackhaulSteeringShowsItsStateAndTheLatestMoves) {
    std::string reqs;
    for (int i = 0; i < 7; ++i)
        reqs += std::string(i ? "," : "") +
                R"({"al-mac": "026f7a720300", "backhaul-sta-mac": "026f7a720330",
                    "target-bssid": "026f7a72022)" +
                std::to_string(i) + R"(", "operating-class": 115, "channel": 36,
                    "state": ")" +
                (i == 6 ? "failed" : "succeeded") + R"(",
                    "reason": ")" +
                (i == 6 ? "too weak (5)." : "") + R"(", "ms-ago": 5})";
    std::string bh =
        R"({"enable": true, "block-reason": "less than 100s from last backhaul steering",
                         "requests": [)" +
        reqs + "]}";
    std::string out;
    ASSERT_TRUE(meshview::render_tree(kGraph, kTopology, out, "", "", bh)) << out;
    EXPECT_THAT(out, HasSubstr("backhaul steering on (waiting: less than 100s from last backhaul "
                               "steering)\n"));
    // The five latest, by the extender's name, with what became of them.
    EXPECT_THAT(out, Not(HasSubstr("02:6f:7a:72:02:21")));
    EXPECT_THAT(out,
                HasSubstr("  B1 backhaul STA 02:6f:7a:72:03:30 -> 02:6f:7a:72:02:22 (class 115, "
                          "channel 36): succeeded\n"));
    EXPECT_THAT(
        out, HasSubstr("-> 02:6f:7a:72:02:26 (class 115, channel 36): failed - too weak (5).\n"));
    // Without the document, or with a broken one, the tree alone.
    std::string plain;
    ASSERT_TRUE(meshview::render_tree(kGraph, kTopology, plain, "", "", "{\"enable\""));
    EXPECT_THAT(plain, Not(HasSubstr("backhaul steering")));
}

TEST(Meshview, SteeringSectionShowsWatchedAndSteeredClientsOnly) {
    const std::string doc = R"({"policys": {"global": true, "bsteering": true, "msteering": false,
        "24to5-dbm": -56, "5to24-dbm": -80, "ratio": 50},
      "totals": {"steer-requests": 2, "btm-accept": 1, "btm-reject": 1, "ticks": 9},
      "clients": [
        {"mac": "02:c1:00:00:00:01", "bssid": "02:6f:7a:72:01:21", "medium": "WIFI_5G",
         "rssi": -50, "category": "Controlled-Steering-Class1", "window-open": false,
         "window-samples": 0, "steers": 1, "last-steer-age-ms": 12500,
         "last-steer-bssid": "02:6f:7a:72:01:21", "steered": true, "backoff-counter": 0,
         "ping-pong-hold": false, "btm-last-status": 0},
        {"mac": "02:c1:00:00:00:02", "bssid": null, "category": "INVALID", "window-open": true,
         "window-samples": 4, "steers": 0, "backoff-counter": 2, "ping-pong-hold": true,
         "btm-last-status": -1},
        {"mac": "02:c1:00:00:00:03", "bssid": "02:6f:7a:72:01:11", "steers": 0,
         "window-open": false, "backoff-counter": 0, "ping-pong-hold": false}]})";
    const std::string out = meshview::render_steering(doc);
    EXPECT_THAT(out,
                HasSubstr("steering: on, band on (2.4->5 above -56 dBm, 5->2.4 at or below -80 "
                          "dBm), mesh off (ratio 50%)"));
    EXPECT_THAT(out, HasSubstr("requests 2, BTM accepted 1, refused 1"));
    EXPECT_THAT(out,
                HasSubstr("02:c1:00:00:00:01 on 02:6f:7a:72:01:21 WIFI_5G -50 dBm, "
                          "Controlled-Steering-Class1, steered 1x to 02:6f:7a:72:01:21 12 s ago "
                          "(moved), BTM status 0"));
    EXPECT_THAT(out, HasSubstr("02:c1:00:00:00:02 (not associated), INVALID, deciding (4 samples), "
                               "back-off 2, ping-pong hold"));
    EXPECT_THAT(out, Not(HasSubstr("02:c1:00:00:00:03")));
    EXPECT_EQ(meshview::render_steering("{"), "");
    EXPECT_EQ(meshview::render_steering("{\"clients\": 3}"), "");
}

TEST(Meshview, EachRadiosChannelBandwidthAndPower) {
    const char* aps = R"({"aps": [{"al-mac": "026f7a720300", "radios": [
      {"radio-id": "026f7a720310", "supported-freq-khz": 2400000, "current-op-channel": 11,
       "current-bw": 20, "current-tx-pwr-mw": 100},
      {"radio-id": "026f7a720320", "supported-freq-khz": 5000000, "current-op-channel": 100,
       "current-bw": 80, "current-tx-pwr-mw": 50},
      {"radio-id": "026f7a720330", "supported-freq-khz": 6000000, "current-op-channel": 0}]},
      {"al-mac": "026f7a720999", "radios": [{"radio-id": "x"}]}, 7]})";
    std::string out;
    ASSERT_TRUE(meshview::render_tree(kGraph, kTopology, out, "", "", "", aps)) << out;
    const size_t dev = out.find("B1 02:6f:7a:72:03:00");
    const size_t r24 = out.find("radio 02:6f:7a:72:03:10 2.4 GHz: channel 11, 20 MHz, 20 dBm");
    const size_t r5 = out.find("radio 02:6f:7a:72:03:20 5 GHz: channel 100, 80 MHz, 17 dBm");
    const size_t bss = out.find("BSS 02:6f:7a:72:03:21");
    ASSERT_NE(r24, std::string::npos) << out;
    ASSERT_NE(r5, std::string::npos) << out;
    EXPECT_TRUE(dev < r24 && r24 < r5 && r5 < bss) << out;
    EXPECT_THAT(out, HasSubstr("radio 02:6f:7a:72:03:30 6 GHz: no channel reported"));
    std::string plain;
    ASSERT_TRUE(meshview::render_tree(kGraph, kTopology, plain, "", "", "", "{\"aps\": {}"));
    EXPECT_THAT(plain, Not(HasSubstr("radio ")));
}
