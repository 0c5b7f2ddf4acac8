// The steering tick on a manual clock, grouped by rule: decision window, band steering,
// mesh steering, what an association resets, ping-pong protection, the outcome of a steer,
// back-off, the > 32 node throttle, BTM reports, kick_out, access control and garbage
// collection. What a user sees is checked where it shows: the steering request lines of
// the stack's sender, "/debug/steering" over the daemon's REST service, the client
// database file.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "common/paths.h"
#include "core/context.h"
#include "data/data_minder.h"
#include "graph/links.h"
#include "http_test_client.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "mesh_fixture.h"
#include "rest_loop.h"
#include "steering_fixture.h"
#include "support/temp_root.h"

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
    // The client's object of "/debug/steering", asked over the REST service (its loop runs
    // for the request only); an empty object when the document does not list the client.
    rapidjson::Document client_doc(const MAC& m) {
        const HttpAnswer a = rest_.ask(get_request("/debug/steering"));
        rest_.stop();
        EXPECT_EQ(a.status, 200) << a.body;
        rapidjson::Document d, out;
        out.SetObject();
        d.Parse(a.body.c_str());
        if (d.IsObject() && d.HasMember("clients") && d["clients"].IsArray())
            for (const auto& c : d["clients"].GetArray())
                if (c["mac"].GetString() == m.to_rest_string())
                    out.CopyFrom(c, out.GetAllocator());
        return out;
    }
    size_t steers_of(const MAC& m) { return count(log(), "steering -sta " + m.to_string()); }
    static MAC nth(uint8_t i) { return MAC(0x5c, 0, 0, 0, 1, i); }

    Context* ctx_ = &h.ctx();
    ozr_test::RestLoop rest_{ctx_, *h.ctx().loop};
};
}  // namespace

TEST_F(Tick, DecisionWindowSamplesRssiAndSteersWhenTheVerdictIsFavourable) {
    client(Ids::c1, r, Ids::r24, 200, Medium::WIFI_2G);
    ticks(1);
    ASSERT_NE(node(Ids::c1), nullptr);
    EXPECT_EQ(node(Ids::c1)->window_state, 2);
    ticks(14);  // 28 s: still open, 14 samples
    // A strong 2.4 GHz signal is a safe area on every tick, held or not.
    EXPECT_EQ(count(log(), "sta 5c:00:00:00:00:01: has moved to safe area"), 15u);
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

TEST_F(Tick, DecisionWindowVerdicts) {
    // The window opens on the first tick; RCPI for that many ticks follow, the last of them
    // closes it (a window of W s holds W / 2 - 1 samples). "24to5-dbm" is -60: RSSI -60
    // (RCPI 100) is not favourable, -59 (RCPI 101, truncated toward zero) is.
    struct Case {
        const char* what;
        unsigned window_s;
        std::vector<std::pair<uint8_t, int>> rcpi_ticks;
        double probability;
        bool steer;
    };
    const std::vector<std::pair<uint8_t, int>> mixed{
        {100, 2}, {101, 2}, {219, 4}, {100, 3}, {101, 4}};
    const Case cases[] = {
        {"truncation, RCPI 219 never sampled", 30, mixed, 0.5, false},
        {"no sample: certainty, but RCPI 255 never steers", 30, {{255, 15}}, 1.0, false},
        {"255 samples", 512, {{100, 255}, {200, 1}}, 0.0, false},
        {"256 samples: the count wraps to none", 514, {{100, 256}, {200, 1}}, 1.0, true},
        {"257 samples: the count wraps to one", 516, {{100, 257}, {200, 1}}, 0.0, false},
    };
    sm().bsteer_rssi.rssi_2to5 = -60;
    uint8_t i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MAC m = nth(++i);
        h.ctx().data_minder->set_bsteer_decision_window(c.window_s);
        client(m, r, Ids::r24, 200, Medium::WIFI_2G);
        ticks(1);
        ASSERT_TRUE(client_doc(m)["window-open"].GetBool());
        for (const auto& rt : c.rcpi_ticks) {
            link(r, m)->rcpi = rt.first;
            ticks(rt.second);
        }
        const rapidjson::Document d = client_doc(m);
        EXPECT_FALSE(d["window-open"].GetBool());
        EXPECT_NEAR(d["steer-probability"].GetDouble(), c.probability, 1e-6);
        EXPECT_EQ(steers_of(m), c.steer ? 1u : 0u);
        r->delete_link(m);
    }
}

TEST_F(Tick, BandDecisionFollowsTheClientsRecords) {
    // Channels 32, 36, 40 and 44 are the client's 5 GHz channels (bitmap 0xf); a
    // non-preferred channel report (MBO) naming all of them says it prefers 2.4 GHz.
    const std::vector<uint8_t> all5{32, 36, 40, 44};
    struct Case {
        const char* what;
        BSSID bss;
        Medium medium;
        uint8_t rcpi;
        uint32_t channels_5g;
        std::vector<uint8_t> non_preferred;
        bool steer;
        int band_preference, preference_state;
        const char* says;
    };
    const std::vector<uint8_t> none, ch36{36};
    const char* not_dual = "isn't  dual band device";
    const char* prefers_2g = "prefer to 2G,  decline the band-steering request to 5G";
    const Case cases[] = {
        {"2.4 GHz only", Ids::r24, Medium::WIFI_2G, 200, 0, none, false, 0, 0, not_dual},
        {"prefers 2.4 GHz, on 2.4 GHz", Ids::r24, Medium::WIFI_2G, 200, 0xf, all5, false, 3, 1,
         prefers_2g},
        {"avoids one 5 GHz channel", Ids::r24, Medium::WIFI_2G, 200, 0xf, ch36, true, 0, 1,
         nullptr},
        {"prefers 2.4 GHz, weak on 5 GHz: left there", Ids::r5, Medium::WIFI_5G, 60, 0xf, all5,
         false, 3, 1, nullptr},
        {"no report, weak on 5 GHz", Ids::r5, Medium::WIFI_5G, 60, 0xf, none, true, 0, 0, nullptr},
    };
    sm().decision_window = false;
    uint8_t i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const MAC m = nth(++i);
        Sta* s = client(m, r, c.bss, c.rcpi, c.medium);
        s->capabilities.supported_channels_5g = c.channels_5g;
        s->capabilities.non_preferred_channels = c.non_preferred;
        ticks(1);
        EXPECT_EQ(steers_of(m), c.steer ? 1u : 0u);
        const rapidjson::Document d = client_doc(m);
        EXPECT_EQ(d["band-preference"].GetInt(), c.band_preference);
        EXPECT_EQ(d["preference-state"].GetInt(), c.preference_state);
        if (c.says) {
            EXPECT_GE(count(log(), "sta " + m.to_string() + " " + c.says), 1u);
        }
        r->delete_link(m);
    }
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

TEST_F(Tick, AnAssociationWiredOrWirelessResetsTheClientsState) {
    struct Case {
        const char* what;
        bool wired;
    };
    uint8_t i = 0;
    for (const Case& c : {Case{"back on Wi-Fi", false}, Case{"plugged into a port", true}}) {
        SCOPED_TRACE(c.what);
        const MAC m = nth(++i);
        client(m, r, Ids::r24, 200, Medium::WIFI_2G);
        ticks(1);
        ASSERT_TRUE(client_doc(m)["window-open"].GetBool());
        // A ping-pong hold, a steer 5 s ago not followed yet, two refused before.
        Node_* n = node(m);
        n->ping_pong_hold = true;
        n->ping_pong_ticks = 40;
        n->reject_count = 2;
        n->reject_flag = true;
        n->last_steer_ms = static_cast<uint64_t>(h.ctx().now() - 5000);
        n->steered = false;
        r->delete_link(m);
        if (c.wired)
            h.gm().on_heard_about_wired_link(e, m);
        else
            h.gm().on_heard_about_wireless_link(e, Ids::e5, m);
        EXPECT_TRUE(json_has(client_doc(m), R"({"window-open": false, "window-samples": 0,
            "ping-pong-hold": false, "ping-pong-ticks": 0, "steered": true, "reject-count": 0})"));
        EXPECT_EQ(count(log(), "sta " + m.to_string() + ": steered to bssid"), 1u);
    }
}

TEST_F(Tick, PingPongSamplingHoldsTheSteerBack) {
    // Band-steered to 5 GHz, the client arrives at -80 dBm there: the band decision would
    // send it straight back once the steer interval is over; five samples foresee it.
    struct Case {
        bool dancing;
        bool hold;
        size_t steers_back;
    };
    uint8_t i = 0;
    for (const Case& c : {Case{true, true, 0}, Case{false, false, 1}}) {
        SCOPED_TRACE(c.dancing ? "dancing" : "no ping-pong check");
        const MAC m = nth(++i);
        sm().decision_window = false;
        sm().ping_pong_check = c.dancing;
        client(m, r, Ids::r24, 200, Medium::WIFI_2G);
        ticks(1);
        ASSERT_EQ(steers_of(m), 1u);
        h.advance(3000);
        r->delete_link(m);
        h.gm().on_heard_about_wireless_link(r, Ids::r5, m)->rcpi = 60;
        ticks(10);
        EXPECT_EQ(client_doc(m)["ping-pong-hold"].GetBool(), c.hold);
        EXPECT_EQ(
            count(log(), "steering -sta " + m.to_string() + " from R/bssid 02:00:00:00:10:55"),
            c.steers_back);
        EXPECT_EQ(count(log(), "sta " + m.to_string() + ": ping-pong foreseen, rssi -80"),
                  c.hold ? 1u : 0u);
        r->delete_link(m);
    }
}

TEST_F(Tick, UnassociatedMeasurementsReachTheClientDatabaseOnlyWhileDancing) {
    // The client is on the extender's 5 GHz BSS; the gateway hears it on 2.4 GHz.
    const std::string file = ozr_path("/configs/easymesh/ozr_node_info_db.json");
    uint8_t i = 0;
    for (bool dancing : {false, true}) {
        SCOPED_TRACE(dancing ? "dancing" : "no ping-pong check");
        const MAC m = nth(++i);
        sm().ping_pong_check = dancing;
        client(m, e, Ids::e5, 150, Medium::WIFI_5G);
        h.unassoc_metrics(Ids::r, 81, m, 6, 0, 150);
        ASSERT_NE(h.g().find_device(Ids::r)->find_link_by_bssid(m, Ids::r24), nullptr);
        rapidjson::Document d;
        d.Parse(ozr_test::read_text(file).c_str());
        ASSERT_TRUE(d.IsObject());
        int band_2g = -1;
        for (const auto& rec : d["client-info-list"].GetArray())
            if (rec["mac"].GetString() == m.to_string())
                band_2g = rec["2g"].GetInt();
        EXPECT_EQ(band_2g, dancing ? 1 : -1);
    }
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
        b.add(steering_btm_report_tlv{TLV_TYPE_BTM_REPORT, Ids::r24, sta, status,
                                      static_cast<uint8_t>(with_target ? 1 : 0), Ids::r5});
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
    const Node_* c1 = node(Ids::c1);
    EXPECT_EQ(std::make_tuple(c1->accept, c1->reject, c1->status_count[7], sm().btm_accept_total(),
                              sm().btm_reject_total()),
              std::make_tuple(1u, 1u, 1u, 1u, 1u));
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
