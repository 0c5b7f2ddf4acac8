// Two or three ALs on private segments exchanging real frames: discovery and
// neighbours, queries and responses, fragmentation, duplicates, relay, the
// registrar's answers and acknowledgements, hostile frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "al_test_util.h"
#include "common/clock.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "map/map_send.h"
#include "samples.h"

namespace {

constexpr long long kT0 = 1000000;

class AlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ozr_clock::set_manual(kT0);
        uv_loop_init(&loop_);
    }
    void TearDown() override {
        nodes_.clear();
        EXPECT_TRUE(drain_and_close(&loop_));
        ozr_clock::use_real();
    }
    // Node ID with one interface per segment in SEGMENTS.
    Node& add(uint8_t id, bool controller, std::vector<std::string> segments) {
        std::vector<Node::Itf> itfs;
        for (size_t i = 0; i < segments.size(); ++i)
            itfs.push_back({"n" + std::to_string(id) + "i" + std::to_string(i),
                            test_mac(id, static_cast<uint8_t>(i + 1)), segments[i]});
        nodes_.push_back(std::make_unique<Node>(&loop_, test_mac(id, 0), itfs, controller));
        return *nodes_.back();
    }
    // Controller 1 (returned) and agent 2 (nodes_[1]) on the segment of PORT, once the
    // controller knows the agent.
    Node& pair(uint16_t port) {
        std::string seg = private_segment(port);
        Node& ctrl = add(1, true, {seg});
        add(2, false, {seg});
        EXPECT_TRUE(run([&] { return ctrl.al().neighbors().size() == 1; }));
        return ctrl;
    }
    bool run(const std::function<bool()>& done) { return run_until(&loop_, done, 3000); }
    // Runs the loop for a short while (for "nothing more arrives").
    void settle() {
        run_until(
            &loop_, [] { return false; }, 100);
    }

    uv_loop_t loop_;
    std::vector<std::unique_ptr<Node>> nodes_;
};

// The controller announces itself beyond its period, with no clock advance: at its first
// tick whatever interval was set before it, to a newcomer whose discovery it hears, and to
// one it hears only through another message (the newcomer's discoveries lost).
TEST_F(AlTest, TheControllerAnnouncesItselfAtStartAndToNewcomers) {
    std::string seg = private_segment(21001);
    Node& ctrl = add(1, true, {seg});
    ASSERT_EQ(ctrl.al().set_discovery_interval(3600), 0);
    auto knows_ctrl = [](Node& n) {
        const auto& v = n.al().neighbors();
        return std::any_of(v.begin(), v.end(),
                           [](const MapNeighbor& x) { return x.al_mac == test_mac(1, 0); });
    };
    enum Way { at_start, discovery_heard, other_message };
    for (Way way : {at_start, discovery_heard, other_message}) {
        SCOPED_TRACE(way);
        Node& n = add(static_cast<uint8_t>(2 + way), false, {seg});
        ASSERT_EQ(n.al().set_discovery_interval(3600), 0);
        if (way == at_start)  // nothing of it reaches the controller: no newcomer to answer
            n.lose([](const FrameInfo&) { return true; });
        if (way == other_message) {
            n.lose([](const FrameInfo& f) { return f.type == CMDU_TYPE_TOPOLOGY_DISCOVERY; });
            settle();
            EXPECT_FALSE(knows_ctrl(n));
            CmduPtr q = CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 0).build();
            ASSERT_EQ(n.al().send(test_mac(1, 0), *q, nullptr, true), 0);
        }
        ASSERT_TRUE(run([&] { return knows_ctrl(n); }));
        n.lose(nullptr);
    }
}

TEST_F(AlTest, LinkMetricQueryIsAnsweredForAllOrOneNeighbour) {
    pair(21012);
    Node& agent = *nodes_[1];
    auto ask = [&](link_metric_query_tlv q) -> const CMDU* {
        size_t n = agent.count(CMDU_TYPE_LINK_METRIC_RESPONSE);
        CmduPtr c = CmduBuilder(CMDU_TYPE_LINK_METRIC_QUERY, 0).add(q).build();
        uint16_t mid = 0;
        if (agent.al().send(test_mac(1, 0), *c, nullptr, true, &mid) != 0)
            return nullptr;
        if (!run([&] { return agent.count(CMDU_TYPE_LINK_METRIC_RESPONSE) > n; }))
            return nullptr;
        const CMDU* r = agent.last(CMDU_TYPE_LINK_METRIC_RESPONSE);
        EXPECT_EQ(r->message_id, mid);
        return r;
    };
    link_metric_query_tlv all;
    const CMDU* r = ask(all);
    ASSERT_NE(r, nullptr);
    auto* tx = first_tlv<transmitter_link_metric_tlv>(r);
    auto* rx = first_tlv<receiver_link_metric_tlv>(r);
    ASSERT_NE(tx, nullptr);
    ASSERT_NE(rx, nullptr);
    ASSERT_EQ(tx->links.size(), 1u);
    EXPECT_EQ(std::tie(tx->local_al_mac_address, tx->neighbor_al_mac_address,
                       tx->links[0].local_interface_mac, tx->links[0].neighbor_interface_mac),
              std::make_tuple(test_mac(1, 0), test_mac(2, 0), test_mac(1, 1), test_mac(2, 1)));
    EXPECT_EQ(tx->links[0].phy_rate, 1000);
    EXPECT_GT(tx->links[0].transmitted_packets, 0u);
    ASSERT_EQ(rx->links.size(), 1u);
    EXPECT_GT(rx->links[0].packets_received, 0u);

    const link_metric_query_tlv one_rx{TLV_TYPE_LINK_METRIC_QUERY,
                                       LINK_METRIC_QUERY_SPECIFIC_NEIGHBOR, test_mac(2, 0),
                                       LINK_METRIC_RX_ONLY};
    r = ask(one_rx);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(first_tlv<transmitter_link_metric_tlv>(r), nullptr);
    EXPECT_NE(first_tlv<receiver_link_metric_tlv>(r), nullptr);

    link_metric_query_tlv stranger = one_rx;
    stranger.specific_neighbor = test_mac(77, 0);
    r = ask(stranger);
    ASSERT_NE(r, nullptr);
    ASSERT_NE(first_tlv<link_metric_result_code_tlv>(r), nullptr);
    EXPECT_EQ(first_tlv<link_metric_result_code_tlv>(r)->result_code,
              LINK_METRIC_RESULT_INVALID_NEIGHBOR);
}

TEST_F(AlTest, RelayedMulticastIsForwardedToTheOtherInterfacesOnly) {
    std::string seg_a = private_segment(21006);
    std::string seg_b = private_segment(21007);
    Node& ctrl = add(1, true, {seg_a, seg_b});
    Node& a = add(2, false, {seg_a});
    Node& b = add(3, false, {seg_b});
    // Wait for the notifications of the first discoveries, then count from there.
    ASSERT_TRUE(run([&] {
        return ctrl.al().neighbors().size() == 2 && a.al().neighbors().size() == 1 &&
               b.al().neighbors().size() == 1 && ctrl.count(CMDU_TYPE_TOPOLOGY_NOTIFICATION) == 2;
    }));
    settle();
    size_t notes_b = b.count(CMDU_TYPE_TOPOLOGY_NOTIFICATION);
    size_t notes_ctrl = ctrl.count(CMDU_TYPE_TOPOLOGY_NOTIFICATION);
    uint64_t relayed = ctrl.al().stats().relayed;

    // A notification from A, relayed multicast: B gets it through the
    // controller, unchanged (source, id).
    CmduPtr n = CmduBuilder(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 0x1234)
                    .relay(true)
                    .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, test_mac(2, 0)})
                    .build();
    a.send_frame(0, frame_of(IEEE1905_MULTICAST_ADDRESS, test_mac(2, 0), payloads_of(*n)[0]));
    ASSERT_TRUE(run([&] {
        const CMDU* c = b.last(CMDU_TYPE_TOPOLOGY_NOTIFICATION);
        return c && c->message_id == 0x1234;
    }));
    EXPECT_EQ(b.last(CMDU_TYPE_TOPOLOGY_NOTIFICATION)->src_al_mac, test_mac(2, 0));
    EXPECT_EQ(ctrl.al().stats().relayed, relayed + 1);
    EXPECT_EQ(ctrl.count(CMDU_TYPE_TOPOLOGY_NOTIFICATION), notes_ctrl + 1);

    // The same without the relay flag, or unicast to the controller, stays on A's side.
    CmduPtr local = CmduBuilder(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 0x1235)
                        .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, test_mac(2, 0)})
                        .build();
    a.send_frame(0, frame_of(IEEE1905_MULTICAST_ADDRESS, test_mac(2, 0), payloads_of(*local)[0]));
    n->message_id = 0x1236;
    a.send_frame(0, frame_of(test_mac(1, 0), test_mac(2, 0), payloads_of(*n)[0]));
    ASSERT_TRUE(run([&] { return ctrl.count(CMDU_TYPE_TOPOLOGY_NOTIFICATION) == notes_ctrl + 3; }));
    settle();
    EXPECT_EQ(b.count(CMDU_TYPE_TOPOLOGY_NOTIFICATION), notes_b + 1);
    EXPECT_EQ(ctrl.al().stats().relayed, relayed + 1);
}

TEST_F(AlTest, RegistrarAnswersSearchesForItsRoleOnly) {
    Node &ctrl = pair(21008), &agent = *nodes_[1];

    CmduPtr search = make_sample_cmdu("autoconfig_search");
    ASSERT_TRUE(search);
    // The sample names another AL; this search comes from the agent.
    for (size_t i = 0; search->list_of_TLVs[i]; ++i) {
        if (auto* al = tlv_cast<al_mac_address_tlv>(search->list_of_TLVs[i]))
            al->al_mac_address = test_mac(2, 0);
        if (auto* band = tlv_cast<autoconfig_freq_band_tlv>(search->list_of_TLVs[i]))
            band->freq_band = IEEE1905_FREQ_BAND_5_GHZ;
    }
    search->relay_indicator = 1;
    uint16_t mid = 0;
    ASSERT_EQ(agent.al().send(IEEE1905_MULTICAST_ADDRESS, *search, nullptr, true, &mid), 0);
    ASSERT_TRUE(run([&] { return agent.count(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE) == 1; }));
    const CMDU* r = agent.last(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE);
    EXPECT_EQ(r->message_id, mid);
    ASSERT_NE(first_tlv<supported_role_tlv>(r), nullptr);
    EXPECT_EQ(first_tlv<supported_role_tlv>(r)->role, IEEE1905_ROLE_REGISTRAR);
    ASSERT_NE(first_tlv<supported_freq_band_tlv>(r), nullptr);
    EXPECT_EQ(first_tlv<supported_freq_band_tlv>(r)->freq_band, IEEE1905_FREQ_BAND_5_GHZ);
    ASSERT_NE(first_tlv<supported_service_tlv>(r), nullptr);
    EXPECT_EQ(first_tlv<supported_service_tlv>(r)->services,
              std::vector<uint8_t>{MAP_SERVICE_CONTROLLER});
    ASSERT_NE(first_tlv<multiap_profile_tlv>(r), nullptr);
    EXPECT_EQ(ctrl.last(CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH)->src_al_mac, test_mac(2, 0));

    // A search for another role, or for an agent service, gets nothing.
    for (size_t i = 0; search->list_of_TLVs[i]; ++i) {
        if (auto* role = tlv_cast<searched_role_tlv>(search->list_of_TLVs[i]))
            role->role = 0x01;
    }
    ASSERT_EQ(agent.al().send(IEEE1905_MULTICAST_ADDRESS, *search, nullptr, true), 0);
    ASSERT_TRUE(run([&] { return ctrl.count(CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH) == 2; }));
    settle();
    EXPECT_EQ(agent.count(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE), 1u);
}

// Requests awaiting an answer, on the manual clock. Each row loses some copies of the
// request or of its answer on the way (by copy number, 1 first) and may bring a lost answer
// back late; the requester sends again every second until answered or given up, the answer
// is delivered once, and the responder answers a repeat again without delivering it again.
TEST_F(AlTest, UnansweredRequestsAreSentAgainAndEveryMessageIsDeliveredOnce) {
    enum Kind {
        query,     // the controller's Topology Query, answered by the agent's AL
        report,    // the agent's Operating Channel Report, acknowledged by the controller
        fragments  // the agent's Tunneled message in two fragments, acknowledged
    };
    struct Case {
        const char* name;
        Kind kind;
        std::set<int> lost_requests, lost_answers;  // copy numbers; 0 in answers: all
        long long late_ms;  // >= 0: the first lost answer arrives after all, this much later
        int copies;         // request copies that left
        size_t answers;     // answers delivered to the requester
        uint64_t repeats;   // repeats the responder answered again
        uint64_t given_up;
    };
    const Case cases[] = {
        {"answered at once", query, {}, {}, -1, 1, 1, 0, 0},
        {"answer lost once", query, {}, {1}, -1, 2, 1, 1, 0},
        {"query lost twice", query, {1, 2}, {}, -1, 3, 1, 0, 0},
        {"answer late, within the duplicate window", query, {}, {1}, 0, 2, 1, 1, 0},
        {"answer late, after the duplicate window", query, {}, {1}, 12000, 2, 1, 1, 0},
        {"never answered", query, {}, {0}, -1, 10, 0, 9, 1},
        {"ack lost", report, {}, {1}, -1, 2, 1, 1, 0},
        {"ack repeated after the duplicate window", report, {}, {1}, 12000, 2, 1, 1, 0},
        {"last fragment lost four times", fragments, {}, {}, -1, 5, 1, 0, 0},
    };
    uint16_t port = 21100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        nodes_.clear();
        LogCapture cap;
        std::string seg = private_segment(port++);
        Node& ctrl = add(1, true, {seg});
        Node& agent = add(2, false, {seg});
        // The controller's own query of its new neighbour, answered.
        ASSERT_TRUE(run([&] {
            return ctrl.al().neighbors().size() == 1 && ctrl.al().requests().pending() == 0 &&
                   ctrl.count(CMDU_TYPE_TOPOLOGY_RESPONSE) == 1;
        }));
        Node& requester = c.kind == query ? ctrl : agent;
        Node& responder = c.kind == query ? agent : ctrl;
        const uint16_t req_type = c.kind == query    ? CMDU_TYPE_TOPOLOGY_QUERY
                                  : c.kind == report ? CMDU_TYPE_OPERATING_CHANNEL_REPORT
                                                     : CMDU_TYPE_TUNNELED;
        const uint16_t ans_type =
            c.kind == query ? CMDU_TYPE_TOPOLOGY_RESPONSE : CMDU_TYPE_1905_ACK;
        int req_copies = 0, ans_copies = 0;
        std::vector<uint8_t> late;
        requester.lose([&](const FrameInfo& f) {
            if (f.type != req_type)
                return false;
            if (f.fragment == 0)
                ++req_copies;
            if (c.kind == fragments)
                return f.last_fragment && req_copies <= 4;
            return c.lost_requests.count(req_copies) > 0;
        });
        responder.lose([&](const FrameInfo& f) {
            if (f.type != ans_type)
                return false;
            ++ans_copies;
            const bool lost = c.lost_answers.count(ans_copies) || c.lost_answers.count(0);
            if (lost && c.late_ms >= 0 && late.empty())
                late.assign(f.frame, f.frame + f.len);
            return lost;
        });
        const size_t answers_before = requester.count(ans_type);
        const size_t requests_before = responder.count(req_type);
        CmduPtr msg;
        if (c.kind == query) {
            msg = CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 0).build();
        } else if (c.kind == report) {
            msg = make_sample_cmdu("operating_channel_report");
        } else {
            tunneled_tlv t;
            t.frame_body.assign(2000, 0x5A);
            msg = CmduBuilder(CMDU_TYPE_TUNNELED, 0)
                      .add(source_info_tlv{TLV_TYPE_SOURCE_INFO, test_mac(9, 9)})
                      .add(tunneled_message_type_tlv{})
                      .add(t)
                      .build();
        }
        ASSERT_TRUE(msg);
        ASSERT_EQ(requester.al().send(responder.al().al_mac(), *msg, nullptr, true), 0);
        for (int step = 0; step < 12 && requester.al().requests().pending() > 0; ++step) {
            // Every copy that got through whole is answered, and an answer that got through
            // is taken.
            int through = c.kind == fragments ? std::max(0, req_copies - 4) : 0;
            for (int i = 1; c.kind != fragments && i <= req_copies; ++i)
                through += c.lost_requests.count(i) == 0;
            run([&] {
                const bool lost = c.lost_answers.count(ans_copies) || c.lost_answers.count(0);
                return ans_copies >= through &&
                       (through == 0 || lost || requester.al().requests().pending() == 0);
            });
            if (through == 0)
                settle();
            if (requester.al().requests().pending() == 0)
                break;
            ozr_clock::advance(1000);
            requester.al().tick();
        }
        EXPECT_EQ(requester.al().requests().pending(), 0u);
        if (!late.empty()) {
            ozr_clock::advance(c.late_ms);
            responder.send_frame(0, late);
            settle();
        }
        EXPECT_EQ(req_copies, c.copies);
        EXPECT_EQ(requester.count(ans_type) - answers_before, c.answers);
        EXPECT_EQ(responder.count(req_type) - requests_before, 1u) << "delivered once";
        EXPECT_EQ(responder.al().stats().repeats_answered, c.repeats);
        const MapRequestStats& st = requester.al().requests().stats();
        EXPECT_EQ(st.resends, static_cast<uint64_t>(c.copies - 1));
        EXPECT_EQ(st.given_up, c.given_up);
        EXPECT_EQ(st.answered_resent, c.answers == 1 && c.copies > 1 ? 1u : 0u);
        EXPECT_EQ(st.duplicate_answers, c.late_ms > 10000 ? 1u : 0u);
        EXPECT_EQ(LogCapture::count("unanswered after 10 sends, given up"), c.given_up);
    }
}

// A neighbour whose discoveries are lost stays while its Topology Responses, to the queries
// the daemon sends anyway, name this AL on the interface the neighbour entry records.
TEST_F(AlTest, ANeighbourWhoseDiscoveriesAreLostStaysWhileItsResponsesNameUs) {
    Node &ctrl = pair(21120), &agent = *nodes_[1];
    ASSERT_TRUE(run([&] { return agent.al().neighbors().size() == 1; }));
    // Half a minute of both ALs' time, then a query answered (the daemon's, every minute).
    auto half_minute = [&] {
        ozr_clock::advance(30000);
        agent.al().tick();
        ctrl.al().tick();
        size_t before = ctrl.count(CMDU_TYPE_TOPOLOGY_RESPONSE);
        CmduPtr q = CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 0).build();
        ASSERT_EQ(ctrl.al().send(test_mac(2, 0), *q, nullptr, true), 0);
        ASSERT_TRUE(run([&] { return ctrl.count(CMDU_TYPE_TOPOLOGY_RESPONSE) > before; }));
    };
    agent.lose([](const FrameInfo& f) { return f.type == CMDU_TYPE_TOPOLOGY_DISCOVERY; });
    for (int i = 0; i < 6; ++i)  // 2 x 60 + 20 s without a discovery
        half_minute();
    EXPECT_EQ(ctrl.al().neighbors().size(), 1u);
    // Answers that no longer name it (the agent lost sight of the controller) do not: the
    // agent ages the controller out 140 s after its last discovery, the controller the agent
    // 140 s after the last answer that named it.
    ctrl.lose([](const FrameInfo& f) { return f.type == CMDU_TYPE_TOPOLOGY_DISCOVERY; });
    for (int i = 0; i < 12 && !ctrl.al().neighbors().empty(); ++i)
        half_minute();
    EXPECT_TRUE(agent.al().neighbors().empty());
    EXPECT_TRUE(ctrl.al().neighbors().empty());
}

TEST_F(AlTest, HostileFramesAreDroppedWithRateLimitedLogLines) {
    Node &ctrl = pair(21010), &agent = *nodes_[1];
    LogCapture logs;
    // Payloads too short for a CMDU header, and discoveries without their TLVs.
    CmduPtr empty_discovery = CmduBuilder(CMDU_TYPE_TOPOLOGY_DISCOVERY, 0).build();
    for (int i = 0; i < 50; ++i) {
        std::vector<uint8_t> shortp = {0, 0, static_cast<uint8_t>(i)};
        agent.send_frame(0, frame_of(test_mac(1, 0), test_mac(2, 0), shortp));
        empty_discovery->message_id = static_cast<uint16_t>(i);
        agent.send_frame(0, frame_of(IEEE1905_MULTICAST_ADDRESS, test_mac(2, 1),
                                     payloads_of(*empty_discovery)[0]));
    }
    // Whole CMDUs whose TLV claims more bytes than the frame holds.
    for (int i = 0; i < 50; ++i) {
        std::vector<uint8_t> bad = {0x00, 0x00, 0x80, 0x02, 0x10, static_cast<uint8_t>(i),
                                    0x00, 0x80, 0xA1, 0x01, 0x00, 0x01,
                                    0x02};
        agent.send_frame(0, frame_of(test_mac(1, 0), test_mac(2, 0), bad));
    }
    ASSERT_TRUE(run([&] { return ctrl.al().stats().rx_malformed == 150; }));
    // One line for all of them (the codec's own warnings held back too).
    EXPECT_EQ(LogCapture::lines().size(), 1u);
    EXPECT_EQ(LogCapture::count("1905 AL:"), 1u);
    EXPECT_EQ(ctrl.count(CMDU_TYPE_AP_CAPABILITY_REPORT), 0u);
    // A fragment flood from many sources: memory stays within the limits.
    CmduPtr big = make_topology_response(3, 16, 8);
    for (int src = 0; src < 40; ++src) {
        big->message_id = static_cast<uint16_t>(src);
        auto f = payloads_of(*big);
        agent.send_frame(0,
                         frame_of(test_mac(1, 0), test_mac(50, static_cast<uint8_t>(src)), f[0]));
    }
    ASSERT_TRUE(run([&] { return ctrl.al().reassembler().pending_messages() > 0; }));
    settle();
    CmduReassembler::Limits lim;
    EXPECT_LE(ctrl.al().reassembler().pending_messages(), lim.max_messages);
    EXPECT_LE(ctrl.al().reassembler().pending_bytes(), lim.max_bytes);
    // Still answering.
    CmduPtr q = CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 0).build();
    ASSERT_EQ(agent.al().send(test_mac(1, 0), *q, nullptr, true), 0);
    ASSERT_TRUE(run([&] { return agent.count(CMDU_TYPE_TOPOLOGY_RESPONSE) == 1; }));
}

TEST_F(AlTest, NeighbourTableIsBounded) {
    Node &ctrl = pair(21011), &agent = *nodes_[1];
    // Discoveries of 100 made-up ALs: the table keeps at most its cap.
    for (int i = 0; i < 100; ++i) {
        MAC al = test_mac(100, static_cast<uint8_t>(i));
        CmduPtr d = CmduBuilder(CMDU_TYPE_TOPOLOGY_DISCOVERY, static_cast<uint16_t>(i))
                        .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, al})
                        .add(mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, al})
                        .build();
        agent.send_frame(0, frame_of(IEEE1905_MULTICAST_ADDRESS, al, payloads_of(*d)[0]));
    }
    ASSERT_TRUE(run([&] { return ctrl.al().stats().neighbors_dropped == 37; }));
    EXPECT_EQ(ctrl.al().neighbors().size(), MapAlOptions().max_neighbors);
}

// An AL MAC Address TLV given twice: the last one names the sender everywhere (the
// neighbour table and the sender of the CMDU handed on), as the decoders have it.
TEST_F(AlTest, ADiscoveryWithTwoAlMacTlvsIsTheLastOnes) {
    Node &ctrl = pair(21012), &agent = *nodes_[1];
    const MAC first = test_mac(50, 0), last = test_mac(51, 0), itf = test_mac(51, 1);
    CmduPtr d = CmduBuilder(CMDU_TYPE_TOPOLOGY_DISCOVERY, 777)
                    .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, first})
                    .add(mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, test_mac(50, 1)})
                    .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, last})
                    .add(mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, itf})
                    .build();
    agent.send_frame(0, frame_of(IEEE1905_MULTICAST_ADDRESS, itf, payloads_of(*d)[0]));
    auto from = [&](const MAC& al) {
        return std::any_of(ctrl.got().begin(), ctrl.got().end(), [&](const CmduPtr& c) {
            return c->message_type == CMDU_TYPE_TOPOLOGY_DISCOVERY && c->src_al_mac == al;
        });
    };
    ASSERT_TRUE(run([&] { return from(last); }));
    EXPECT_FALSE(from(first));
    ASSERT_EQ(ctrl.al().neighbors().size(), 2u);
    bool found = false;
    for (const MapNeighbor& n : ctrl.al().neighbors()) {
        EXPECT_FALSE(n.al_mac == first);
        if (n.al_mac == last) {
            found = true;
            EXPECT_EQ(n.if_mac, itf);
        }
    }
    EXPECT_TRUE(found);
}

}  // namespace
