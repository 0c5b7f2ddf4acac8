// Backhaul steering over a mesh learnt from real CMDUs (root, local agent, wired E1,
// wireless E2 whose backhaul STA is on E1's backhaul BSS), on the manual clock: the gates
// and their reasons, the mandate from the two path searches, the requests and the answers.
#include "steering/backhaul_steering.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../graph/minder_harness.h"
#include "data/data_minder.h"
#include "graph/path_cost.h"
#include "map/codec/tlvs.h"
#include "steering/steering_minder.h"

using minder_test::Harness;
using minder_test::Macs;

namespace {

struct Sent {
    MAC al;
    backhaul_steering_request_tlv req;
};

class BackhaulSteeringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        minder_test::topology_round(h_);
        minder_test::capabilities(h_);
        minder_test::topology_round(h_);
        bh().set_sender([this](const MAC& al, const backhaul_steering_request_tlv& r) {
            sent_.push_back({al, r});
            return send_result_;
        });
    }
    BackhaulSteering& bh() { return h_.ctx().steering_minder->backhaul(); }
    // Lets the mesh settle (no new device for two minutes), then E2's backhaul STA is heard
    // weakly on E1 and measured by the local agent with RCPI.
    void settle_and_measure(uint8_t rcpi, uint32_t delta_ms = 100) {
        h_.advance(BackhaulSteering::kNewDeviceStableMs);
        h_.assoc_metrics(Macs::e1, Macs::e2_bsta, Macs::e1_bh, 40);
        h_.unassoc_metrics(Macs::local, 115, Macs::e2_bsta, 36, delta_ms, rcpi);
    }
    size_t lines(const std::string& s) const { return ozr_test::count_of(h_.log(), s); }

    Harness h_;
    std::vector<Sent> sent_;
    int send_result_ = 0;
};

}  // namespace

TEST_F(BackhaulSteeringTest, GatesRunInOrderWithTheirReasons) {
    settle_and_measure(200);
    bh().set_enable(false);
    bh().on_backhaul_steering_check();
    EXPECT_EQ(bh().block_reason(), "feature disabled");
    EXPECT_EQ(lines("backhaul_steering function disabled"), 1u);
    EXPECT_TRUE(sent_.empty());
    EXPECT_EQ(h_.ctx().data_minder->get_bh_steer_block_reason(), "feature disabled");

    // A failed send leaves the time of the last steer alone.
    h_.ctx().data_minder->set_bh_steer_enable(true);
    send_result_ = -4;
    bh().on_backhaul_steering_check();
    EXPECT_EQ(bh().block_reason(), "");
    ASSERT_EQ(sent_.size(), 1u);
    EXPECT_EQ(bh().last_steer_ms(), 0);
    EXPECT_EQ(lines("map_send_steering_request returned -4"), 1u);

    send_result_ = 0;
    bh().on_backhaul_steering_check();
    ASSERT_EQ(sent_.size(), 2u);
    const int64_t steered = h_.ctx().now();
    EXPECT_EQ(bh().last_steer_ms(), steered);

    // 99 s later the check is blocked; at 100 s it runs again.
    h_.advance(99000);
    h_.unassoc_metrics(Macs::local, 115, Macs::e2_bsta, 36, 100, 200);
    bh().on_backhaul_steering_check();
    EXPECT_EQ(bh().block_reason(), "less than 100s from last backhaul steering");
    EXPECT_EQ(lines("last backhaul steering is 99000ms ago, which smaller than backhaul steering "
                    "waiting stable time 100000ms"),
              1u);
    EXPECT_EQ(sent_.size(), 2u);
    h_.advance(1000);
    bh().on_backhaul_steering_check();
    EXPECT_EQ(bh().block_reason(), "");
    EXPECT_EQ(sent_.size(), 3u);

    // A new device holds steering back for 120 s.
    h_.advance(BackhaulSteering::kSteerStableMs);
    h_.discovery(MAC(0x02, 0, 0, 0, 0x05, 0x00), MAC(0x02, 0, 0, 0, 0x50, 0x01));
    h_.advance(119000);
    bh().on_backhaul_steering_check();
    EXPECT_EQ(bh().block_reason(), "less than 120s from last new device created");
    EXPECT_EQ(lines("last device create is 119000ms ago, which smaller than waiting new device "
                    "create stable time 120000ms"),
              1u);
}

TEST(BackhaulSteeringClock, NeverSteeredSteersEvenRightAfterBoot) {
    Harness h;
    ozr_clock::set_manual(30000);  // 30 s after boot, nothing learnt yet
    EXPECT_TRUE(h.ctx().steering_minder->backhaul().should_do_backhaul_steering());
    EXPECT_EQ(h.ctx().steering_minder->backhaul().block_reason(), "");
}

TEST_F(BackhaulSteeringTest, NoMandateWithoutAClearGainOrFreshMeasurement) {
    // A candidate that is better, but by less than a fifth, does not move the backhaul;
    // one that is much better does.
    h_.advance(BackhaulSteering::kNewDeviceStableMs);
    h_.assoc_metrics(Macs::e1, Macs::e2_bsta, Macs::e1_bh, 40);
    Logger& log = h_.gm().mutable_logger();
    bool saw_small_gain = false, saw_big_gain = false;
    for (int rcpi = 20; rcpi <= 220; rcpi += 2) {
        h_.unassoc_metrics(Macs::local, 115, Macs::e2_bsta, 36, 100, static_cast<uint8_t>(rcpi));
        Paths work = find_shortest_working_paths_for_devices(log, h_.g());
        Paths cand = find_shortest_paths_for_devices(log, h_.g());
        uint32_t w = work.at(Macs::e2).cost, c = cand.at(Macs::e2).cost;
        size_t n = bh().get_backhaul_steering_mandate().size();
        if (cand.at(Macs::e2).prev != h_.g().find_device(Macs::local))
            continue;
        if (c<w&& static_cast<float>(c) * 1.2f> static_cast<float>(w)) {
            saw_small_gain = true;
            EXPECT_EQ(n, 0u) << "rcpi " << rcpi << " $" << c << " vs $" << w;
        } else if (static_cast<float>(c) * 1.2f <= static_cast<float>(w)) {
            saw_big_gain = true;
            EXPECT_EQ(n, 1u) << "rcpi " << rcpi;
        }
    }
    EXPECT_TRUE(saw_small_gain);
    EXPECT_TRUE(saw_big_gain);

    // A strong measurement that has grown stale is not acted on.
    h_.unassoc_metrics(Macs::local, 115, Macs::e2_bsta, 36, 100, 220);
    EXPECT_EQ(bh().get_backhaul_steering_mandate().size(), 1u);
    h_.advance(BackhaulSteering::kMaxMeasurementAgeMs + 1);
    EXPECT_TRUE(bh().get_backhaul_steering_mandate().empty());
}

TEST_F(BackhaulSteeringTest, NeverUnderItsOwnDescendant) {
    settle_and_measure(30);  // the local agent hears E2 too weakly to matter
    // E3 hangs under E2 (its backhaul STA on E2's BSS) but the local agent hears E3 well,
    // and E3 hears E2's backhaul STA very well: the cheapest candidate path for E2 runs
    // through E3, its own child.
    Graph& g = h_.g();
    int64_t t = h_.ctx().now() - 2 * BackhaulSteering::kStableParentMs;
    const MAC e3(0x02, 0, 0, 0, 0x06, 0x00), e3_bsta(0x02, 0, 0, 0, 0x60, 0x04);
    const BSSID e3_bh(MAC(0x02, 0, 0, 0, 0x60, 0x06));
    Device* d3 = new Device("E3", e3, t);
    ASSERT_TRUE(g.add_node(d3));
    d3->operational_bss = {{MAC(0x02, 0, 0, 0, 0x60, 0x50), {{e3_bh, "bh"}}}};
    LocalInterface bsta_if;
    bsta_if.mac = e3_bsta;
    d3->interfaces = {bsta_if};
    Sta* s3 = new Sta("E3-bsta", e3_bsta, t);
    ASSERT_TRUE(g.add_node(s3));
    s3->update_backhaul_sta(true, e3);
    auto* up = new WirelessLink(e3_bsta, Macs::e2_fh, h_.ctx().now());
    up->rcpi = up->uplink_rcpi = 200;
    up->is_backbone = true;
    g.find_device(Macs::e2)->add_link(up);
    auto* heard = new UnassociatedLink(e3_bsta, Macs::local_bh, h_.ctx().now());
    heard->rcpi = 220;
    heard->measured_ms = h_.ctx().now();
    g.find_device(Macs::local)->add_link(heard);
    auto* loop = new UnassociatedLink(Macs::e2_bsta, e3_bh, h_.ctx().now());
    loop->rcpi = 220;
    loop->measured_ms = h_.ctx().now();
    d3->add_link(loop);

    Logger& log = h_.gm().mutable_logger();
    Paths cand = find_shortest_paths_for_devices(log, g);
    ASSERT_EQ(cand.at(Macs::e2).prev, d3) << to_string(cand);
    for (const BackhaulSteeringMandate& m : bh().get_backhaul_steering_mandate())
        EXPECT_NE(m.dest_dev, Macs::e2) << m.entry.target_bssid.to_string();
    EXPECT_GE(lines("Device " + g.find_device(Macs::e2)->label() + " 's candidate parent E3 " +
                    e3.to_string() + " is not stable"),
              1u);
}

TEST_F(BackhaulSteeringTest, RequestsChecksAndAnswers) {
    settle_and_measure(30);
    // Refused mandates, each with its line.
    BackhaulSteeringMandate m;
    EXPECT_EQ(bh().do_backhaul_steering(m), -1);
    EXPECT_EQ(lines("mandate.dest_dev is MAC::zero or mandate.entry.node_mac is MAC::zero."), 1u);
    m.dest_dev = MAC(0x02, 0, 0, 0, 0x7f, 0x7f);
    m.entry.node_mac = Macs::e2_bsta;
    EXPECT_EQ(bh().do_backhaul_steering(m), -1);
    EXPECT_EQ(lines("Cannot find device for mac 02:00:00:00:7f:7f."), 1u);
    m.dest_dev = Macs::local;
    m.entry.node_mac = Macs::c1;  // a client, not a backhaul STA
    EXPECT_EQ(bh().do_backhaul_steering(m), -1);
    EXPECT_EQ(lines(Macs::c1.to_string() + " is not a backhaul sta."), 1u);
    EXPECT_TRUE(sent_.empty());

    // Entries from outside go at once, whatever the gates say, with the class and channel
    // of the radio carrying the target (0/0 for a target nobody carries).
    h_.ctx().data_minder->set_bh_steer_enable(false);
    std::vector<std::unique_ptr<BhSteerEntry>> entries;
    entries.emplace_back(new BhSteerEntry{Macs::e2, Macs::e2_bsta, Macs::local_bh});
    entries.emplace_back(new BhSteerEntry{Macs::e2, Macs::e2_bsta, BSSID(0x02, 9, 9, 9, 9, 9)});
    EXPECT_EQ(h_.ctx().data_minder->add_bh_steer_entries(entries), 2);
    ASSERT_EQ(sent_.size(), 2u);
    EXPECT_EQ(sent_[0].req.op_class, 115);
    EXPECT_EQ(sent_[0].req.channel, 36);
    EXPECT_EQ(sent_[1].req.op_class, 0);
    EXPECT_EQ(sent_[1].req.channel, 0);
    EXPECT_EQ(
        lines("Steering AP " + Macs::e2.to_string() + " backhaul sta " + Macs::e2_bsta.to_string() +
              " to bssid " + Macs::local_bh.to_string() + " op class 115 channel 36"),
        1u);

    // The agent's answers arrive as real CMDUs: a failure with its error code, then one for
    // a backhaul STA nobody asked to move.
    auto answer = [&](const MAC& bsta, const BSSID& target, uint8_t result, uint8_t reason) {
        CmduBuilder b(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, 77);
        b.add(backhaul_steering_response_tlv{TLV_TYPE_BACKHAUL_STEERING_RESPONSE, bsta, target,
                                             result});
        if (reason)
            b.add(error_code_tlv{TLV_TYPE_ERROR, reason, bsta});
        h_.feed(b, Macs::e2);
    };
    answer(Macs::e2_bsta, BSSID(0x02, 9, 9, 9, 9, 9), 1, 5);
    const auto& recs = bh().records();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].state, "requested");  // the older request is still open
    EXPECT_EQ(recs[1].state, "failed");
    EXPECT_EQ(recs[1].result_code, 1);
    EXPECT_NE(recs[1].reason.find("target BSS signal is too weak"), std::string::npos);
    answer(Macs::e2_bsta, Macs::local_bh, 0, 0);
    EXPECT_EQ(recs[0].state, "succeeded");
    answer(MAC(0x02, 0, 0, 0, 0x77, 0x77), Macs::local_bh, 0, 0);
    EXPECT_EQ(lines("response for bsta 02:00:00:00:77:77 target " + Macs::local_bh.to_string() +
                    " result 0 without a request, ignored"),
              1u);
    EXPECT_EQ(recs.size(), 2u);
}
