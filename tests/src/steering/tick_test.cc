// The steering tick on a manual clock, grouped by rule: decision window, band steering,
// mesh steering, the outcome of a steer, back-off, the > 32 node throttle, BTM reports,
// kick_out, access control and garbage collection.
#include <gtest/gtest.h>

#include "core/context.h"
#include "data/data_minder.h"
#include "graph/links.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "mesh_fixture.h"
#include "steering_fixture.h"

using namespace steer_test;
using Node_ = SteeringMinder::SteeringReNode;

namespace {
class Tick : public SteeringFixture {
  protected:
    Node_* node(const MAC& m) { return sm().access_steer_re_node(m); }
    WirelessLink* link(Device* d, const MAC& m) { return d->find_wireless_link(m); }
    void reassociate(const MAC& m, Device* from, Device* to, const BSSID& bss, Medium medium) {
        from->delete_link(m);
        WirelessLink* l = graph_test::add_wireless(to, m, bss, 200, medium, h.ctx().now());
        sm().notify_new_wireless_link(l);
    }
};
}  // namespace

TEST_F(Tick, DecisionWindowSamplesRssiAndSteersWhenTheVerdictIsFavourable) {
    client(Ids::c1, r, Ids::r24, 200, Medium::WIFI_2G);
    ticks(1);
    ASSERT_NE(node(Ids::c1), nullptr);
    EXPECT_EQ(node(Ids::c1)->window_state, 2);
    ticks(14);  // 28 s: still open, 14 samples
    EXPECT_EQ(node(Ids::c1)->rssi_samples.size(), 14u);
    EXPECT_EQ(node(Ids::c1)->rssi_samples.back(), -10);
    EXPECT_EQ(count(log(), "steering -sta"), 0u);
    ticks(1);  // 30 s: the window closes, every sample favourable, the steer goes out
    EXPECT_EQ(count(log(), "sta 5c:00:00:00:00:01: steering decision window ending"), 1u);
    EXPECT_EQ(count(log(), "sta 5c:00:00:00:00:01: steering distribution probability 1 "), 1u);
    EXPECT_EQ(count(log(),
                    "steering -sta 5c:00:00:00:00:01 from R/bssid 02:00:00:00:10:25 "
                    "[ch 6 rssi -10] to R/bssid 02:00:00:00:10:55 [ch 36 op class 128]"),
              1u);
    EXPECT_EQ(count(log(), "map_send_steering_request returned"), 1u);
    EXPECT_EQ(node(Ids::c1)->last_steer_bssid, Ids::r5);
    EXPECT_EQ(sm().steer_requests_sent(), 1u);
    // No re-association: judged once as unsuccessful 15 to 17 s later, never twice.
    ticks(7);
    EXPECT_EQ(node(Ids::c1)->reject_count, 0);
    ticks(1);
    EXPECT_EQ(node(Ids::c1)->reject_count, 1);
    EXPECT_EQ(count(log(), "sta 5c:00:00:00:00:01: actual steering successive reject count 1"), 1u);
    ticks(10);
    EXPECT_EQ(node(Ids::c1)->reject_count, 1);
}

TEST_F(Tick, SamplesConvertRcpiByTruncationAndSkipInvalidMeasurements) {
    client(Ids::c1, r, Ids::r24, 200, Medium::WIFI_2G);
    sm().bsteer_rssi.rssi_2to5 = -60;
    ticks(1);
    ASSERT_EQ(node(Ids::c1)->window_state, 2);
    WirelessLink* l = link(r, Ids::c1);
    l->rcpi = 100;  // -60: not above the threshold
    ticks(2);
    l->rcpi = 101;  // -59: above it
    ticks(2);
    l->rcpi = 219;  // no measurement: never a sample
    ticks(4);
    EXPECT_EQ(node(Ids::c1)->rssi_samples, (std::vector<int8_t>{-60, -60, -59, -59}));
    l->rcpi = 100;
    ticks(3);
    l->rcpi = 101;
    ticks(4);  // the window ends with half the samples favourable: no steer at 0.5
    EXPECT_FLOAT_EQ(node(Ids::c1)->steer_probability, 0.5f);
    EXPECT_EQ(count(log(), "steering -sta"), 0u);
}

TEST_F(Tick, AWindowWithoutSamplesGivesCertaintyAndSingleBandClientsStay) {
    client(Ids::c1, r, Ids::r24, 200, Medium::WIFI_2G);
    ticks(1);
    link(r, Ids::c1)->rcpi = 255;
    ticks(15);
    EXPECT_FLOAT_EQ(node(Ids::c1)->steer_probability, 1.0f);
    EXPECT_EQ(count(log(), "steering -sta"), 0u);  // RCPI 255 never steers

    Sta* s = client(Ids::c2, r, Ids::r24, 200, Medium::WIFI_2G);
    s->capabilities.supported_channels_5g = 0;
    ticks(1);
    EXPECT_EQ(node(Ids::c2)->window_state, 0);
    EXPECT_GE(count(log(), "sta 5c:00:00:00:00:02 isn't  dual band device"), 1u);
}

TEST_F(Tick, MeshSteeringNeedsTheRatioAndASuccessfulMoveResetsTheOutcome) {
    // A signal at E for which the default margin (x1.5) steers and the widest (x3.55) not.
    const double cand = wifi_hop_cost(200, 0, false);
    uint8_t rcpi = 200;
    while (rcpi > 0 && !(10.0 + wifi_hop_cost(rcpi, 0, false) > cand * 1.5 &&
                         10.0 + wifi_hop_cost(rcpi, 0, false) <= cand * 3.55))
        --rcpi;
    ASSERT_GT(rcpi, 60);
    client(Ids::c2, e, Ids::e5, rcpi, Medium::WIFI_5G);
    UnassociatedLink* u = graph_test::add_unassoc(r, Ids::c2, Ids::r5, 200, h.ctx().now());
    const std::string rssi = std::to_string((rcpi - 220) / 2);
    sm().msteer_ratio = 255;
    ticks(1);
    EXPECT_EQ(count(log(), "steering -sta"), 0u);
    sm().msteer_ratio = 50;
    u->measured_ms = h.ctx().now();
    ticks(1);
    EXPECT_EQ(count(log(),
                    "steering -sta 5c:00:00:00:00:02 from E/bssid 02:00:00:00:30:55 "
                    "[ch 149 rssi " +
                        rssi + "] to R/bssid 02:00:00:00:10:55 [ch 36 op class 128]"),
              1u);
    // The client moves within 15 s: a success, counted once.
    h.advance(3000);
    reassociate(Ids::c2, e, r, Ids::r5, Medium::WIFI_5G);
    EXPECT_TRUE(node(Ids::c2)->steered);
    EXPECT_EQ(count(log(), "sta 5c:00:00:00:00:02: steered to bssid 02:00:00:00:10:55"), 1u);
    ticks(10);
    EXPECT_EQ(count(log(), "actual steering successive reject count"), 0u);
    EXPECT_EQ(node(Ids::c2)->backoff_counter, 0);
    EXPECT_TRUE(node(Ids::c2)->unsteer_checked);
}

TEST_F(Tick, OutcomeCheckCountsRoamingBackAndClientsMissingFromTheMesh) {
    client(Ids::c1, r, Ids::r24, 200, Medium::WIFI_2G);
    sm().decision_window = false;
    ticks(1);
    ASSERT_EQ(sm().steer_requests_sent(), 1u);
    // Still on the BSS it was steered away from when the category interval is over.
    ticks(8);
    EXPECT_EQ(node(Ids::c1)->backoff_counter, 1);
    EXPECT_EQ(count(log(),
                    "sta 5c:00:00:00:00:01: roaming back happen!!!.  To increase backoff "
                    "counter to 1"),
              1u);
    // The next steer is due, but held back for 2^1 x 120 s x 0.5 towards the same BSS.
    ticks(5);
    EXPECT_EQ(sm().steer_requests_sent(), 1u);
    EXPECT_GE(count(log(), "backoff counter= 1 backoff time=120000 ms"), 1u);

    // A client that vanished from the mesh after its steer.
    client(Ids::c2, r, Ids::r24, 200, Medium::WIFI_2G);
    ticks(1);
    ASSERT_EQ(sm().steer_requests_sent(), 2u);
    r->delete_link(Ids::c2);
    ticks(8);
    EXPECT_EQ(count(log(),
                    "sta 5c:00:00:00:00:02: missing in entire mesh. To increase backoff "
                    "counter to 1"),
              1u);
}

TEST_F(Tick, BackoffTimeDoublesPerCounterAndOverflowHoldsNothing) {
    client(Ids::c1, r, Ids::r24, 200, Medium::WIFI_2G);
    Node_* n = node(Ids::c1);
    n->last_steer_ms = static_cast<uint64_t>(h.ctx().now());
    n->last_steer_bssid = Ids::r5;
    n->backoff_counter = 0;
    EXPECT_FALSE(sm().backoff_check(Ids::c1, Ids::r5));
    n->backoff_counter = 1;
    EXPECT_TRUE(sm().backoff_check(Ids::c1, Ids::r5));
    EXPECT_EQ(count(log(), "backoff counter= 1 backoff time=120000 ms time left=120000 ms"), 1u);
    EXPECT_FALSE(sm().backoff_check(Ids::c1, Ids::e5));  // another target
    n->backoff_counter = 3;
    h.advance(479999);
    EXPECT_TRUE(sm().backoff_check(Ids::c1, Ids::r5));
    EXPECT_EQ(count(log(), "backoff time=480000 ms time left=1 ms"), 1u);
    h.advance(1);
    EXPECT_FALSE(sm().backoff_check(Ids::c1, Ids::r5));
    n->backoff_counter = 40;
    EXPECT_FALSE(sm().backoff_check(Ids::c1, Ids::r5));
    EXPECT_EQ(count(log(), "steering backoff timer overflow"), 1u);
    sm().backoff = false;
    n->backoff_counter = 1;
    n->last_steer_ms = static_cast<uint64_t>(h.ctx().now());
    EXPECT_FALSE(sm().backoff_check(Ids::c1, Ids::r5));
    EXPECT_FALSE(sm().backoff_check(Ids::c2, Ids::r5));  // no such client
}

TEST_F(Tick, MoreThan32NodesThrottleTheTickTo15Seconds) {
    for (int i = 0; i < 40; ++i)
        graph_test::add_sta(g(), MAC(0x5c, 1, 0, 0, 0, static_cast<uint8_t>(i)), h.ctx().now());
    ticks(1);
    EXPECT_EQ(sm().ticks_run(), 1u);
    ticks(1);  // 2 s later: nothing
    EXPECT_EQ(sm().ticks_run(), 1u);
    ticks(6);  // 14 s
    EXPECT_EQ(sm().ticks_run(), 1u);
    ticks(1);  // 16 s
    EXPECT_EQ(sm().ticks_run(), 2u);
    sm().global_steer = false;
    ticks(10);
    EXPECT_EQ(sm().ticks_run(), 2u);
}

TEST_F(Tick, BtmReportsAreCountedPerClientAndUnknownOnesChangeNothing) {
    client(Ids::c1, r, Ids::r24, 200, Medium::WIFI_2G);
    auto report = [&](const MAC& sta, uint8_t status, bool with_target) {
        CmduBuilder b(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, 7);
        steering_btm_report_tlv t;
        t.bssid = Ids::r24;
        t.sta_mac = sta;
        t.btm_status_code = status;
        t.has_target_bssid = with_target ? 1 : 0;
        t.target_bssid = Ids::r5;
        b.add(t);
        h.feed(b, Ids::r);
    };
    report(Ids::c1, 0, true);
    report(Ids::c1, 7, false);
    report(Ids::c2, 0, true);  // not a client of the graph
    EXPECT_EQ(count(log(),
                    "5c:00:00:00:00:01 steered from 02:00:00:00:10:25 to "
                    "02:00:00:00:10:55"),
              1u);
    EXPECT_EQ(count(log(),
                    "5c:00:00:00:00:01 failed to steer from 02:00:00:00:10:25 to : No "
                    "suitable BSS transition candidates (7)."),
              1u);
    EXPECT_EQ(count(log(), "5c:00:00:00:00:02 steered from"), 1u);
    EXPECT_EQ(node(Ids::c1)->accept, 1u);
    EXPECT_EQ(node(Ids::c1)->reject, 1u);
    EXPECT_EQ(node(Ids::c1)->status_count[7], 1u);
    EXPECT_EQ(sm().btm_accept_total(), 1u);
    EXPECT_EQ(sm().btm_reject_total(), 1u);
    EXPECT_EQ(count(log(), " -no_suitable_bss:1"), 1u);
    EXPECT_EQ(count(log(), " -Steering Success Rate:50"), 1u);
}

TEST_F(Tick, KickOutAccessControlAndGarbageCollection) {
    EXPECT_EQ(sm().kick_out(Ids::c1), -1);  // unknown
    client(Ids::c1, r, Ids::r24, 200, Medium::WIFI_2G);
    EXPECT_EQ(sm().kick_out(Ids::c1), 0);
    EXPECT_EQ(count(log(), "to R/bssid ff:ff:ff:ff:ff:ff"), 1u);
    EXPECT_EQ(sm().kick_out(Ids::r), -1);  // a device

    sm().admin_blacklist_add(Ids::c2, 1);  // 2.4 GHz only
    const auto* acl = sm().access_acl_re_node(Ids::c2);
    ASSERT_NE(acl, nullptr);
    ASSERT_EQ(acl->blocks.size(), 1u);
    EXPECT_EQ(acl->blocks[0].bssid, Ids::r24);
    EXPECT_EQ(count(log(), "map_send_client_acl_request returned"), 1u);
    ticks(10);  // still fresh: not sent again
    EXPECT_EQ(count(log(), "map_send_client_acl_request returned"), 1u);
    sm().admin_blacklist_remove(Ids::c2);
    EXPECT_EQ(count(log(), "map_send_client_acl_request returned"), 2u);  // the unblock
    ticks(1);
    EXPECT_TRUE(sm().access_acl_re_node(Ids::c2)->blocks.empty());

    // A day without activity: both records go (once the kick's outcome was judged).
    r->delete_link(Ids::c1);
    ticks(8);
    h.advance(SteeringMinder::kGcAgeMs + 60000);
    sm().on_gc();
    EXPECT_EQ(count(log(), "garbage collecting steering resource node 5c:00:00:00:00:01"), 1u);
    EXPECT_EQ(count(log(), "garbage collecting acl resource node 5c:00:00:00:00:02"), 1u);
    EXPECT_EQ(sm().steer_re_node_count(), 0u);
}

TEST_F(Tick, AClientOnceSeenOn5GHzStaysDualBandAcrossARestart) {
    DataMinder& dm = *h.ctx().data_minder;
    dm.note_client_band(Ids::c1, Medium::WIFI_5G);
    dm.note_client_band(Ids::c1, Medium::WIFI_2G);
    const uint64_t writes = dm.client_db().writes();
    dm.note_client_band(Ids::c1, Medium::WIFI_5G);  // nothing new: not written
    EXPECT_EQ(dm.client_db().writes(), writes);
    ASSERT_TRUE(dm.client_db().db_init());  // the database read again, as at a restart
    Sta* s = client(Ids::c1, r, Ids::r24, 200, Medium::WIFI_2G);
    s->capabilities.supported_channels_5g = 0;  // its capability report lists 2.4 GHz only
    ticks(1);
    EXPECT_EQ(node(Ids::c1)->band_capability, 2);
    EXPECT_EQ(node(Ids::c1)->window_state, 2);
}

TEST_F(Tick, ARequestCarriesAt255ClientsAndUnknownAgentsAreRefused) {
    SteeringMinder::SteeringMandate m;
    m.src = Ids::r24;
    m.agent = Ids::r;
    for (int i = 0; i < 300; ++i) {
        SteeringMinder::SteeringEntry e;
        e.sta = MAC(0x5c, 2, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i));
        e.target = Ids::r5;
        m.entries.push_back(e);
    }
    std::vector<SteeringMinder::SteeringMandate> ms{m};
    sm().steering_dispatcher(ms);
    EXPECT_EQ(count(log(), "steering -sta 5c:02:"), 255u);
    EXPECT_EQ(sm().steer_requests_sent(), 255u);
    m.agent = MAC(0x02, 9, 9, 9, 9, 9);
    EXPECT_EQ(sm().do_steer(m), -1);
    EXPECT_EQ(count(log(), "(): src dev 02:09:09:09:09:09 doesnt exist"), 1u);
    SteeringMinder::AclMandate acl;
    acl.agent = m.agent;
    EXPECT_EQ(sm().do_acl(acl), -1);
    EXPECT_EQ(count(log(), "(): src dev 02:09:09:09:09:09 doesnt exist"), 2u);
}
