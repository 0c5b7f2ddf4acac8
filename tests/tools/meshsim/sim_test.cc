// The simulator seen from the controller's side of the segment: a test-side
// transport sends real CMDUs to the agents and decodes what comes back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <uv.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "map/codec/wsc.h"
#include "map/map_log.h"
#include "map/transport/segment_transport.h"
#include "platform/map/al/al_test_util.h"
#include "scenario.h"
#include "sim.h"

using ::testing::HasSubstr;

namespace {

const MAC kCtlAl(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x00);
const MAC kCtlIf(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x01);
const MAC kGateway(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x00);
const MAC kExtWired(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x00);
const MAC kExtWifi(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x00);
const MAC kExtWifiBsta(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x30);
const BSSID kGw5(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x21);
const BSSID kWired5(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x21);
const BSSID kWiredBh(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x22);
const MAC kPhone(0x02, 0xc1, 0, 0, 0, 0x01);
const MAC kLaptop(0x02, 0xc1, 0, 0, 0, 0x02);

struct Received {
    MAC src;
    CmduPtr cmdu;
};

// The default scenario's mesh, with a controller stand-in on the same segment.
class MeshsimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        uv_loop_init(&loop_);
        segment_ = private_segment(24101);
        std::string error;
        meshsim::Scenario s;
        ASSERT_EQ(
            meshsim::scenario_load(std::string(MESHSIM_SCENARIOS) + "/default.json", s, &error), 0)
            << error;
        meshsim::SimOptions o;
        o.segment = segment_;
        o.run_timeline = false;
        o.autoconfig_retry_ms = 200;
        o.ack_wait_ms = 200;
        o.m2_wait_ms = 400;
        sim_ = std::make_unique<meshsim::Sim>(std::move(s), o);
        sim_->set_log_sink([](const std::string&) {});
        TransportInterface itf{"ctl", kCtlIf, segment_, 0};
        TransportOptions to;
        to.al_mac = kCtlAl;
        static int captures = 0;
        pcap_ = "/tmp/meshsim-test-" + std::to_string(getpid()) + "-" + std::to_string(captures++) +
                ".pcap";
        to.pcap_path = pcap_;
        ctl_ = std::make_unique<SegmentTransport>(std::vector<TransportInterface>{itf}, to);
        ASSERT_EQ(ctl_->open(
                      &loop_,
                      [this](size_t, const uint8_t* f, size_t n) {
                          MAC src;
                          const uint8_t* p = nullptr;
                          size_t len = 0;
                          if (!parse_1905_ethernet_frame(f, n, src, p, len))
                              return;
                          CmduPtr c = reasm_.feed(src, p, len);
                          if (c)
                              got_.push_back({src, std::move(c)});
                      },
                      &error),
                  0)
            << error;
        ASSERT_EQ(sim_->start(&loop_, &error), 0) << error;
    }

    void TearDown() override {
        sim_->stop();
        ctl_->close();
        uv_run(&loop_, UV_RUN_DEFAULT);
        EXPECT_EQ(uv_loop_close(&loop_), 0);
        unlink(pcap_.c_str());
    }

    // Runs the loop until PRED holds or 3 s pass (a failure).
    bool run_until(const std::function<bool()>& pred) { return ::run_until(&loop_, pred, 3000); }
    // Runs the loop for MS milliseconds.
    void run_for(int ms) {
        ::run_until(
            &loop_, [] { return false; }, ms);
    }

    void send(const MAC& dst, CmduPtr c) {
        ASSERT_TRUE(c);
        std::vector<std::vector<uint8_t>> frags;
        ASSERT_TRUE(encode_1905_CMDU(*c, frags));
        std::vector<uint8_t> frame;
        for (const auto& p : frags) {
            build_1905_ethernet_frame(dst, kCtlAl, p, frame);
            ASSERT_EQ(ctl_->send(0, frame.data(), frame.size()), 0);
        }
    }

    // The CMDUs of TYPE from SRC (and MID when not negative) that came.
    std::vector<const Received*> of(uint16_t type, const MAC& src, int mid = -1) const {
        std::vector<const Received*> out;
        for (const auto& r : got_) {
            if (r.cmdu->message_type == type && r.src == src &&
                (mid < 0 || r.cmdu->message_id == mid))
                out.push_back(&r);
        }
        return out;
    }
    size_t count(uint16_t type, const MAC& src, int mid = -1) const {
        return of(type, src, mid).size();
    }
    const Received* find(uint16_t type, const MAC& src, int mid = -1) const {
        auto all = of(type, src, mid);
        return all.empty() ? nullptr : all[0];
    }
    const Received* await(uint16_t type, const MAC& src, int mid = -1) {
        run_until([&] { return find(type, src, mid) != nullptr; });
        return find(type, src, mid);
    }
    // A notification from SRC telling that STA joined (or left) BSSID.
    bool notified(const MAC& src, const MAC& sta, const BSSID& bssid, bool joined) const {
        for (const auto& r : got_) {
            if (r.cmdu->message_type != CMDU_TYPE_TOPOLOGY_NOTIFICATION || r.src != src)
                continue;
            const auto* e = first_tlv<client_association_event_tlv>(r.cmdu.get());
            if (e && e->client_mac == sta && e->bssid == bssid &&
                e->association_event == (joined ? 1 : 0)) {
                return true;
            }
        }
        return false;
    }

    // A Client Steering Request for STA from FROM to TO (MODE 1: a mandate).
    static CmduPtr steering(uint16_t mid, const BSSID& from, const MAC& sta, const BSSID& to,
                            uint8_t mode) {
        CmduBuilder b(CMDU_TYPE_CLIENT_STEERING_REQUEST, mid);
        auto& s = b.add<steering_request_tlv>();
        s.bssid = from;
        s.request_mode = mode;
        s.steering_opportunity_window = mode ? 0 : 63;
        s.stas.push_back(sta);
        s.targets.push_back({to, 115, 36});
        return b.build();
    }

    uv_loop_t loop_;
    std::string segment_, pcap_;
    std::unique_ptr<meshsim::Sim> sim_;
    std::unique_ptr<Transport> ctl_;
    CmduReassembler reasm_;
    std::vector<Received> got_;
};

TEST_F(MeshsimTest, AutoconfigSearchThenM1WithSerialPerRadio) {
    const Received* search = await(CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH, kExtWired);
    ASSERT_TRUE(search);  // its addressing and records: the daemon answers it end to end
    // Answer: the agent sends one M1 per radio, carrying its serial number.
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE, search->cmdu->message_id);
    b.add(supported_role_tlv{}).add(supported_freq_band_tlv{});
    send(kExtWired, b.build());
    ASSERT_TRUE(
        run_until([&] { return count(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, kExtWired) == 2; }));
    EXPECT_TRUE(sim_->configured(1));
    EXPECT_FALSE(sim_->configured(2));
    const Received* m1 = find(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, kExtWired);
    const auto* w = first_tlv<wsc_tlv>(m1->cmdu.get());
    ASSERT_TRUE(w);
    wsc_message msg;
    ASSERT_TRUE(wsc_parse_message(w->wsc_frame.data(), w->wsc_frame.size(), msg));
    EXPECT_EQ(msg.message_type, WSC_MSG_M1);
    EXPECT_EQ(msg.serial_number, "EX2026000002");
    EXPECT_EQ(msg.mac_address, kExtWired);
    // No M2 comes: each radio sends a fresh M1 (new key and nonce), then waits longer.
    ASSERT_TRUE(
        run_until([&] { return count(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, kExtWired) == 4; }));
    auto m1s = of(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, kExtWired);
    EXPECT_NE(first_tlv<wsc_tlv>(m1s[0]->cmdu.get())->wsc_frame,
              first_tlv<wsc_tlv>(m1s[2]->cmdu.get())->wsc_frame);
    run_for(500);  // the next ones wait 800 ms
    EXPECT_EQ(count(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, kExtWired), 4u);
}

TEST_F(MeshsimTest, BlockedTargetsAreRefusedAndABroadcastTargetLetsTheClientChoose) {
    auto control = [&](uint16_t mid, uint8_t what) {
        send(kExtWired,
             CmduBuilder(CMDU_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST, mid)
                 .add(client_association_control_request_tlv{
                     TLV_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST, kWired5, what, 60, 1, {kPhone}})
                 .build());
        return await(CMDU_TYPE_1905_ACK, kExtWired, mid) != nullptr;
    };
    ASSERT_TRUE(control(50, ASSOCIATION_CONTROL_BLOCK));
    EXPECT_TRUE(sim_->client_blocked(kWired5, kPhone));
    EXPECT_FALSE(sim_->client_blocked(kWired5, kLaptop));
    send(kGateway, steering(51, kGw5, kPhone, kWired5, 0));
    const Received* rep = await(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, kGateway);
    ASSERT_TRUE(rep);
    EXPECT_EQ(first_tlv<steering_btm_report_tlv>(rep->cmdu.get())->btm_status_code, 7);
    EXPECT_EQ(sim_->client_bss(0), kGw5);
    // The laptop may go anywhere: it takes the BSS it hears best (the wireless extender's).
    const BSSID ext_wifi5(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x21);
    send(kExtWired, steering(52, kWired5, kLaptop, BSSID::broadcast, 0));
    rep = await(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, kExtWired);
    ASSERT_TRUE(rep);
    const auto* btm = first_tlv<steering_btm_report_tlv>(rep->cmdu.get());
    EXPECT_EQ(btm->btm_status_code, 0);
    EXPECT_EQ(btm->target_bssid, ext_wifi5);
    ASSERT_TRUE(run_until([&] { return sim_->client_bss(1) == ext_wifi5; }));
    // Unblocked: the phone may join the wired extender again.
    ASSERT_TRUE(control(53, ASSOCIATION_CONTROL_UNBLOCK));
    EXPECT_FALSE(sim_->client_blocked(kWired5, kPhone));
}

// A fronthaul BSS is refused; each refusal carries its reason: 4 the channel is not the
// target's, 5 the target is not heard; a scenario event changes what is heard. (The move
// itself: the end-to-end backhaul steering test.)
TEST_F(MeshsimTest, BackhaulSteeringRefusalsCarryTheirReason) {
    auto refusal = [&](uint16_t mid, const BSSID& target, uint8_t op_class, uint8_t channel) {
        CmduBuilder q(CMDU_TYPE_BACKHAUL_STEERING_REQUEST, mid);
        q.add(backhaul_steering_request_tlv{TLV_TYPE_BACKHAUL_STEERING_REQUEST, kExtWifiBsta,
                                            target, op_class, channel});
        send(kExtWifi, q.build());
        const bool acked = await(CMDU_TYPE_1905_ACK, kExtWifi, mid) != nullptr;
        const Received* a = await(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, kExtWifi);
        int reason =
            acked && a &&
                    first_tlv<backhaul_steering_response_tlv>(a->cmdu.get())->result_code ==
                        BACKHAUL_STEERING_FAILURE &&
                    first_tlv<error_code_tlv>(a->cmdu.get())
                ? first_tlv<error_code_tlv>(a->cmdu.get())->reason_code
                : -1;
        got_.clear();
        return reason;
    };
    EXPECT_NE(refusal(40, kWired5, 125, 149), -1);  // a fronthaul BSS
    EXPECT_EQ(refusal(43, kWiredBh, 115, 36), 4);
    meshsim::EventConf weak;
    weak.kind = meshsim::EventConf::bsta_rssi;
    weak.index = 2;
    weak.levels[kWiredBh] = -90;
    sim_->apply(weak);
    EXPECT_EQ(refusal(44, kWiredBh, 125, 149), 5);
    EXPECT_EQ(refusal(45, BSSID(0x02, 0x6f, 0x7a, 0x72, 0x09, 0x22), 0, 0), 5);  // unknown
    EXPECT_EQ(sim_->agent_parent(2), 0);
}

TEST_F(MeshsimTest, GarbageDoesNotDisturbTheAgents) {
    map_log_set_sink([](int, const char*, const std::string&) {});  // the codec names every drop
    std::vector<uint8_t> frame(14, 0);
    std::memcpy(frame.data(), kGateway.data(), 6);
    std::memcpy(frame.data() + 6, kCtlAl.data(), 6);
    frame[12] = 0x89;
    frame[13] = 0x3a;
    uint32_t seed = 12345;
    for (int k = 0; k < 300; ++k) {
        std::vector<uint8_t> f = frame;
        const size_t extra = (seed = seed * 1103515245u + 12345u) % 200;
        for (size_t j = 0; j < extra; ++j)
            f.push_back(static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16));
        if (f.size() >= 22) {
            f[14] = 0;  // version 0, then random type/mid/fragments/TLVs
        }
        if (f.size() < 60)
            f.resize(60, 0);
        ctl_->send(0, f.data(), f.size());
    }
    send(kGateway, CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 0x7777).build());
    EXPECT_TRUE(await(CMDU_TYPE_TOPOLOGY_RESPONSE, kGateway, 0x7777)) << "the gateway went quiet";
}

}  // namespace

TEST_F(MeshsimTest, EveryAnswerDissectsCleanlyInTshark) {
    if (access("/usr/bin/tshark", X_OK) != 0)
        GTEST_SKIP() << "tshark is not installed";
    // One of each: queries from us (captured as sent) and answers from the agents.
    send(kGateway, CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 1).build());
    send(kExtWifi, CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 2).build());
    send(kGateway, CmduBuilder(CMDU_TYPE_AP_CAPABILITY_QUERY, 3).build());
    send(kGateway,
         CmduBuilder(CMDU_TYPE_LINK_METRIC_QUERY, 4).add(link_metric_query_tlv{}).build());
    send(kGateway, CmduBuilder(CMDU_TYPE_AP_METRICS_QUERY, 5).add(ap_metric_query_tlv{}).build());
    send(kGateway, CmduBuilder(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_QUERY, 6)
                       .add(sta_mac_address_tlv{TLV_TYPE_STA_MAC_ADDRESS, kPhone})
                       .build());
    send(kGateway, CmduBuilder(CMDU_TYPE_CLIENT_CAPABILITY_QUERY, 7)
                       .add(client_info_tlv{TLV_TYPE_CLIENT_INFO, kGw5, kPhone})
                       .build());
    send(kGateway, CmduBuilder(CMDU_TYPE_CHANNEL_PREFERENCE_QUERY, 8).build());
    CmduBuilder u(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY, 9);
    auto& uq = u.add<unassociated_sta_link_metrics_query_tlv>();
    uq.op_class = 115;
    uq.channels.push_back({36, 1, {kLaptop}});
    send(kGateway, u.build());
    CmduBuilder s(CMDU_TYPE_CHANNEL_SCAN_REQUEST, 10);
    s.add<channel_scan_request_tlv>();
    send(kGateway, s.build());
    send(kExtWired, steering(11, kWired5, kLaptop, kGw5, 1));
    CmduBuilder bh(CMDU_TYPE_BACKHAUL_STEERING_REQUEST, 12);
    bh.add(backhaul_steering_request_tlv{TLV_TYPE_BACKHAUL_STEERING_REQUEST, kExtWifiBsta, kWiredBh,
                                         125, 149});
    send(kExtWifi, bh.build());
    ASSERT_TRUE(await(CMDU_TYPE_TOPOLOGY_RESPONSE, kGateway, 1));
    ASSERT_TRUE(await(CMDU_TYPE_AP_CAPABILITY_REPORT, kGateway, 3));
    ASSERT_TRUE(await(CMDU_TYPE_LINK_METRIC_RESPONSE, kGateway, 4));
    ASSERT_TRUE(await(CMDU_TYPE_AP_METRICS_RESPONSE, kGateway, 5));
    ASSERT_TRUE(await(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, kGateway, 6));
    ASSERT_TRUE(await(CMDU_TYPE_CLIENT_CAPABILITY_REPORT, kGateway, 7));
    ASSERT_TRUE(await(CMDU_TYPE_CHANNEL_PREFERENCE_REPORT, kGateway, 8));
    ASSERT_TRUE(await(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE, kGateway));
    ASSERT_TRUE(await(CMDU_TYPE_CHANNEL_SCAN_REPORT, kGateway));
    ASSERT_TRUE(await(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, kExtWired));
    ASSERT_TRUE(await(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, kExtWifi));
    ASSERT_TRUE(await(CMDU_TYPE_TOPOLOGY_RESPONSE, kExtWifi, 2));
    ASSERT_TRUE(run_until([&] { return notified(kExtWired, kExtWifiBsta, kWiredBh, true); }));
    // Last, one broken frame of our own: the oracle must catch it (a Topology
    // Query whose AL MAC TLV claims 100 bytes).
    std::vector<uint8_t> bad;
    build_1905_ethernet_frame(kGateway, kCtlAl, {0, 0, 0, 2, 0, 99, 0, 0x80, 1, 0, 100, 1, 2, 3},
                              bad);
    bad.resize(60, 0);
    ASSERT_EQ(ctl_->send(0, bad.data(), bad.size()), 0);
    // Frames tshark finds malformed or warns about: "frame,message type,expert message".
    std::string complaints, frames;
    ASSERT_EQ(run_command("/usr/bin/tshark -r " + pcap_ +
                              " -Y '_ws.malformed || _ws.expert.severity >= 6291456' -T fields -E "
                              "separator=, -e frame.number -e ieee1905.message_type -e "
                              "_ws.expert.message 2>/dev/null",
                          &complaints),
              0);
    ASSERT_EQ(std::count(complaints.begin(), complaints.end(), '\n'), 1) << complaints;
    EXPECT_THAT(complaints, HasSubstr(",0x0002,"));
    // The capture holds what we think it holds.
    ASSERT_EQ(run_command("/usr/bin/tshark -r " + pcap_ + " 2>/dev/null | wc -l", &frames), 0);
    EXPECT_GE(std::atoi(frames.c_str()), 25);
}

// Agents retransmit what the controller acknowledges until its 1905 Ack comes (at most
// twice more), and take a repeated request once while acknowledging it again.
TEST_F(MeshsimTest, UnacknowledgedMessagesGoAgainAndRepeatsAreActedOnOnce) {
    CmduPtr request = steering(40, kWired5, kLaptop, kGw5, 1);
    std::vector<std::vector<uint8_t>> frags;
    ASSERT_TRUE(encode_1905_CMDU(*request, frags));
    send(kExtWired, std::move(request));
    const Received* rep = await(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, kExtWired);
    ASSERT_TRUE(rep);
    const uint16_t report_mid = rep->cmdu->message_id;
    // Never acknowledged: sent three times with its message id, then given up.
    ASSERT_TRUE(run_until([&] {
        return count(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, kExtWired, report_mid) == 3 &&
               sim_->awaiting_acks(1) == 0;
    }));
    EXPECT_EQ(sim_->stats().retransmissions, 2u);
    EXPECT_EQ(sim_->stats().acks_missed, 1u);
    EXPECT_EQ(sim_->client_bss(1), kGw5);

    // The controller's stack repeats the request (same message id): Ack again, no second
    // steer (the laptop, now on the gateway, is not sent back nor reported on).
    CmduPtr again = decode_1905_CMDU(frags[0].data(), frags[0].size());
    ASSERT_TRUE(again);
    send(kExtWired, std::move(again));
    ASSERT_TRUE(run_until([&] { return count(CMDU_TYPE_1905_ACK, kExtWired, 40) == 2; }));
    run_for(300);
    EXPECT_EQ(sim_->stats().duplicates, 1u);
    EXPECT_EQ(count(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, kExtWired), 3u);

    // Acknowledged at once: sent once.
    CmduBuilder u(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY, 41);
    u.add<unassociated_sta_link_metrics_query_tlv>().channels.push_back({36, 1, {kPhone}});
    send(kExtWired, u.build());
    const Received* resp = await(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE, kExtWired);
    ASSERT_TRUE(resp);
    send(kExtWired, CmduBuilder(CMDU_TYPE_1905_ACK, resp->cmdu->message_id).build());
    ASSERT_TRUE(run_until([&] { return sim_->awaiting_acks(1) == 0; }));
    run_for(500);
    EXPECT_EQ(count(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE, kExtWired), 1u);
    // A repeated query is answered again: its answer is what the controller lacks.
    send(kExtWired, CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 42).build());
    ASSERT_TRUE(await(CMDU_TYPE_TOPOLOGY_RESPONSE, kExtWired, 42));
    send(kExtWired, CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 42).build());
    EXPECT_TRUE(run_until([&] { return count(CMDU_TYPE_TOPOLOGY_RESPONSE, kExtWired, 42) == 2; }));
}
