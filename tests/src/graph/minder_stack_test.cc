// The graph minder against the started stack: an agent on a private segment is heard of
// through its own frames, and the queries the minder sends reach it as real frames.
#include <gtest/gtest.h>

#include <memory>

#include "common/clock.h"
#include "core/context.h"
#include "graph/graph_minder.h"
#include "map/al/al.h"
#include "map/al/stack.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/transport/segment_transport.h"
#include "minder_harness.h"
#include "platform/map/transport/transport_test_util.h"
#include "support/temp_root.h"

namespace {

MAC test_mac(uint8_t id, uint8_t sub) {
    return MAC(0x02, 0, 0, 0, id, sub);
}

// A plain 1905 AL on the segment (not a controller), keeping the types it receives.
struct Agent {
    Agent(uv_loop_t* loop, const MAC& al, const MAC& ifc, const std::string& seg) {
        TransportOptions topt;
        topt.al_mac = al;
        MapAlOptions opt;
        opt.al_mac = al;
        opt.controller = false;
        al_ = std::make_unique<MapAl>(
            std::make_unique<SegmentTransport>(
                std::vector<TransportInterface>{{"ag0", ifc, seg, 0}}, topt),
            opt);
        EXPECT_EQ(al_->start(loop, [this](CMDU* c) { got.push_back(c->message_type); }), 0);
    }
    ~Agent() { al_->stop(); }
    size_t count(uint16_t type) const {
        size_t n = 0;
        for (uint16_t t : got)
            n += t == type;
        return n;
    }
    std::unique_ptr<MapAl> al_;
    std::vector<uint16_t> got;
};

TEST(GraphMinderStack, ANewAgentIsQueriedOverTheSegmentAndAnswersIntoTheGraph) {
    ozr_test::TempRoot root;
    ozr_test::LogCapture cap(root, 7);
    ozr_clock::set_manual(7000000);
    uv_loop_t loop;
    ASSERT_EQ(uv_loop_init(&loop), 0);
    const std::string seg = private_segment(23301);
    MapStackConfig c;
    c.segment = seg;
    c.interfaces = {{"ozr0", test_mac(1, 1), ""}};
    c.al_mac = test_mac(1, 0);
    map_stack_set_config(c);
    std::string error;
    if (map_stack_start(&loop, &error) != 0) {
        map_stack_set_config(map_stack_default_config());
        uv_loop_close(&loop);
        ozr_clock::use_real();
        GTEST_SKIP() << "the segment transport cannot open here: " << error;
    }
    auto* ctx = new Context(&loop);
    const MAC agent_mac = test_mac(2, 0);
    auto agent = std::make_unique<Agent>(&loop, agent_mac, test_mac(2, 1), seg);

    // The agent's discovery makes it a device. The stack's model learns an agent from its
    // Topology Response, not from its discovery, so the queries of the new device find no
    // agent yet ("get_ale failed") and the periodic ones reach it.
    EXPECT_TRUE(run_until(
        &loop, [&] { return ctx->graph_minder->graph().find_node(agent_mac) != nullptr; }));
    const Node* dev = ctx->graph_minder->graph().find_node(agent_mac);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->kind(), Node::DEVICE);
    EXPECT_EQ(dev->name, "B1");
    // Its Topology Response (to the stack's own query) comes back into the graph, with the
    // controller as its neighbour.
    EXPECT_TRUE(run_until(&loop, [&] {
        const Device* d = ctx->graph_minder->graph().find_device(agent_mac);
        return d && !d->interfaces.empty() && get_ale(agent_mac) != nullptr;
    }));
    ASSERT_NE(ctx->graph_minder->graph().root, nullptr);
    EXPECT_EQ(ctx->graph_minder->graph().root->mac, test_mac(1, 0));
    EXPECT_NE(ctx->graph_minder->graph().root->find_wired_link(agent_mac), nullptr);

    // The timers' work: topology and AP capability queries, then link metric queries.
    size_t topo_before = agent->count(CMDU_TYPE_TOPOLOGY_QUERY);
    ctx->graph_minder->on_topo_query();
    ctx->graph_minder->on_link_metric_query();
    EXPECT_TRUE(run_until(&loop, [&] {
        return agent->count(CMDU_TYPE_AP_CAPABILITY_QUERY) > 0 &&
               agent->count(CMDU_TYPE_LINK_METRIC_QUERY) > 0 &&
               agent->count(CMDU_TYPE_TOPOLOGY_QUERY) > topo_before;
    }));
    std::string log = cap.text();
    // The stack knows the agent from its discovery, so even the first capability query,
    // sent before any Topology Response, reaches it.
    EXPECT_EQ(log.find("get_ale failed for MAC: 02:00:00:00:02:00"), std::string::npos);
    EXPECT_NE(log.find("sent topology query for MAC: 02:00:00:00:02:00"), std::string::npos);
    EXPECT_NE(log.find("sent capability query for MAC: 02:00:00:00:02:00"), std::string::npos);
    EXPECT_NE(log.find("on_topology al MAC: 02:00:00:00:02:00"), std::string::npos);

    // The agent's first AP Capability Report brings it the metric reporting policy, and
    // the device keeps the interval that went out.
    {
        CmduBuilder b(CMDU_TYPE_AP_CAPABILITY_REPORT, 0);
        b.source(agent_mac);
        b.add(ap_capability_tlv{});
        ap_radio_basic_capabilities_tlv r;
        r.radio_id = test_mac(2, 0x50);
        r.max_bss = 2;
        ap_radio_basic_capabilities_tlv::op_class oc;
        oc.op_class = 115;
        oc.max_tx_power_eirp = 20;
        r.op_classes.push_back(oc);
        r.num_op_classes = 1;
        b.add(r);
        CmduPtr report = b.build();
        ASSERT_TRUE(report);
        ASSERT_EQ(agent->al_->send(test_mac(1, 0), *report, nullptr, true), 0);
    }
    EXPECT_TRUE(run_until(&loop, [&] {
        return agent->count(CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST) > 0 &&
               ctx->graph_minder->graph().find_device(agent_mac)->metric_reporting_interval_s == 5;
    }));

    delete ctx;
    agent.reset();
    map_stack_stop();
    map_datamodel_reset();
    map_stack_set_config(map_stack_default_config());
    EXPECT_TRUE(drain_and_close(&loop));
    ozr_clock::use_real();
}

}  // namespace

// ---- one lost answer ------------------------------------------------------------------------

namespace lossy {

using minder_test::Macs;
using M = Macs;

template <class T>
const T* first_tlv(const CMDU* cmdu) {
    for (size_t i = 0; cmdu->list_of_TLVs && cmdu->list_of_TLVs[i]; ++i)
        if (const T* t = tlv_cast<T>(cmdu->list_of_TLVs[i]))
            return t;
    return nullptr;
}

// An agent of the scripted mesh on the segment: it answers what the controller asks with
// the scripted mesh's records (every copy it gets, as a simulated agent does) and loses on
// the way out what its filter names.
class ScriptedAgent {
  public:
    ScriptedAgent(uv_loop_t* loop, const std::string& seg, const minder_test::Topo& topo,
                  const MAC& ifc, const MAC& radio)
        : topo_(topo), ifc_(ifc), radio_(radio) {
        TransportOptions topt;
        topt.al_mac = topo.al;
        transport_ = std::make_unique<LossySegmentTransport>(
            std::vector<TransportInterface>{{"sa0", ifc, seg, 0}}, topt, loss_);
        EXPECT_EQ(
            transport_->open(loop, [this](size_t, const uint8_t* f, size_t n) { receive(f, n); }),
            0);
    }
    ~ScriptedAgent() { transport_->close(); }
    void lose(LossFilter f) { *loss_ = std::move(f); }
    // A Topology Discovery to the 1905 multicast address.
    void discovery() {
        CmduBuilder b(CMDU_TYPE_TOPOLOGY_DISCOVERY, ++mid_);
        b.add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, topo_.al});
        b.add(mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, ifc_});
        send(IEEE1905_MULTICAST_ADDRESS, b.build(), ifc_);
    }

  private:
    void send(const MAC& dst, CmduPtr c, const MAC& src) {
        std::vector<std::vector<uint8_t>> fragments;
        ASSERT_TRUE(c && encode_1905_CMDU(*c, fragments));
        for (const auto& p : fragments) {
            std::vector<uint8_t> frame;
            build_1905_ethernet_frame(dst, src, p, frame);
            transport_->send(0, frame.data(), frame.size());
        }
    }
    void receive(const uint8_t* frame, size_t len) {
        MAC src;
        const uint8_t* payload = nullptr;
        size_t plen = 0;
        if (!parse_1905_ethernet_frame(frame, len, src, payload, plen) || MAC(frame) != topo_.al)
            return;
        CmduPtr q = decode_1905_CMDU(payload, plen, &src);
        if (!q)
            return;
        const uint16_t mid = q->message_id;
        switch (q->message_type) {
            case CMDU_TYPE_TOPOLOGY_QUERY:
                return send(src, minder_test::topology_cmdu(topo_, mid), topo_.al);
            case CMDU_TYPE_AP_CAPABILITY_QUERY:
                return send(src, minder_test::ap_caps_cmdu(radio_, true, true, mid), topo_.al);
            case CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_QUERY: {
                const auto* t = first_tlv<sta_mac_address_tlv>(q.get());
                associated_sta_link_metrics_tlv m;
                m.sta_mac = t ? t->sta_mac : MAC();
                for (const auto& b : topo_.clients)
                    for (const MAC& c : b.second)
                        if (c == m.sta_mac)
                            m.bssids.push_back({b.first, 10, 866, 600, 160});
                m.num_bssids = static_cast<uint8_t>(m.bssids.size());
                CmduBuilder r(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, mid);
                r.add(m);
                return send(src, r.build(), topo_.al);
            }
            default:
                break;
        }
        // Anything else awaiting an answer gets an empty one of the awaited type.
        const MapAwaitedAnswer a = map_awaited_answer(q->message_type);
        if (a.type != 0 && a.same_mid)
            send(src, CmduBuilder(a.type, mid).build(), topo_.al);
    }

    minder_test::Topo topo_;
    MAC ifc_, radio_;
    uint16_t mid_ = 0x100;
    std::shared_ptr<LossFilter> loss_ = std::make_shared<LossFilter>();
    std::unique_ptr<LossySegmentTransport> transport_;
};

// Round after round of the daemon's queries (the timers' work driven by hand, on the manual
// clock) with one answer or the gateway's discoveries lost: no backhaul, device or client leaves
// the graph. Only an agent that misses every copy of a whole round loses its links (70 s after
// they were last confirmed), and gets them back with its next answer.
TEST(GraphMinderStack, OneLostAnswerLeavesTheGraphWhole) {
    enum Loss { none, e1_answer_once, gateway_answer_once, gateway_discoveries, e1_whole_round };
    struct Case {
        const char* name;
        Loss loss;
    } cases[] = {
        {"nothing lost", none},
        {"E1's answer lost once a round", e1_answer_once},
        {"the gateway's answer lost once a round", gateway_answer_once},
        {"every discovery of the gateway lost", gateway_discoveries},
        {"every copy of E1's answers lost in round 2", e1_whole_round},
    };
    uint16_t port = 23310;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ozr_test::TempRoot root;
        ozr_test::LogCapture cap(root, 6);
        ozr_clock::set_manual(9000000);
        uv_loop_t loop;
        ASSERT_EQ(uv_loop_init(&loop), 0);
        const std::string seg = private_segment(port++);
        MapStackConfig config;
        config.segment = seg;
        config.interfaces = {{"ozr0", M::root_eth, ""}};
        config.al_mac = M::root;
        config.agent_al_mac = M::local;
        map_stack_set_config(config);
        std::string error;
        if (map_stack_start(&loop, &error) != 0) {
            map_stack_set_config(map_stack_default_config());
            uv_loop_close(&loop);
            ozr_clock::use_real();
            GTEST_SKIP() << "the segment transport cannot open here: " << error;
        }
        const uint8_t bh[] = {'b', 'h'};
        map_set_backhaul_ssid(bh, sizeof bh);
        auto* ctx = new Context(&loop);
        GraphMinder& gm = *ctx->graph_minder;
        MapAl& al = *map_stack_al();
        std::vector<minder_test::Topo> topos = minder_test::scripted_topologies();
        auto agents = std::make_unique<std::vector<std::unique_ptr<ScriptedAgent>>>();
        agents->push_back(
            std::make_unique<ScriptedAgent>(&loop, seg, topos[1], M::local_eth, M::local_radio));
        agents->push_back(
            std::make_unique<ScriptedAgent>(&loop, seg, topos[2], M::e1_eth, M::e1_radio));
        agents->push_back(
            std::make_unique<ScriptedAgent>(&loop, seg, topos[3], M::e2_bsta, M::e2_radio));
        ScriptedAgent& gateway = *(*agents)[0];
        ScriptedAgent& e1 = *(*agents)[1];

        auto e2_connected = [&] {
            backhaul_information b;
            return gm.get_device_backhaul_information(M::e2, b) && b.is_backhaul_connected &&
                   b.remote_ale == M::e1;
        };
        auto whole = [&] {
            const Graph& g = gm.graph();
            const Device* e1d = g.find_device(M::e1);
            const Device* e2d = g.find_device(M::e2);
            return e2_connected() && g.root && g.root->find_wired_link(M::local) && e1d &&
                   e1d->find_wireless_link(M::e2_bsta) && e2d && e2d->find_wireless_link(M::c2) &&
                   g.local_agent && g.local_agent->find_wireless_link(M::c1);
        };
        // Lets every request the stack awaits an answer for get one, sending again each
        // second (by the manual clock) what is not answered.
        auto settle = [&] {
            for (int i = 0; i < 12; ++i) {
                if (run_until(
                        &loop, [&] { return al.requests().pending() == 0; }, 150))
                    return;
                ozr_clock::advance(1000);
                al.tick();
            }
        };
        gateway.discovery();
        ASSERT_TRUE(run_until(&loop, [&] {
            gm.on_link_metric_query();
            gm.on_backhaul_information_update();
            return whole();
        })) << "the scripted mesh was not learnt";
        settle();

        int round = 0, copies = 0;  // copies of this round's Topology Response
        if (c.loss == e1_answer_once || c.loss == e1_whole_round)
            e1.lose([&](const FrameInfo& f) {
                return f.type == CMDU_TYPE_TOPOLOGY_RESPONSE &&
                       (c.loss == e1_whole_round ? round == 2 : ++copies == 1);
            });
        if (c.loss == gateway_answer_once)
            gateway.lose([&](const FrameInfo& f) {
                return f.type == CMDU_TYPE_TOPOLOGY_RESPONSE && ++copies == 1;
            });
        if (c.loss == gateway_discoveries)
            gateway.lose([](const FrameInfo& f) { return f.type == CMDU_TYPE_TOPOLOGY_DISCOVERY; });
        bool broken = false, restored = false;
        for (round = 1; round <= 4; ++round) {
            copies = 0;
            gateway.discovery();
            gm.on_topo_query();
            gm.on_link_metric_query();
            settle();
            // The rest of the minute, the garbage collection and backhaul update each 10 s.
            for (int step = 0; step < 6; ++step) {
                ozr_clock::advance(10000);
                al.tick();
                gm.on_gc();
                gm.on_backhaul_information_update();
                const bool ok = whole();
                if (c.loss != e1_whole_round) {
                    EXPECT_TRUE(ok) << "round " << round << ", " << step * 10 << " s";
                } else if (!ok && round < 3) {
                    broken = true;
                } else if (ok && broken) {
                    restored = true;
                }
            }
        }
        if (c.loss == e1_whole_round) {
            EXPECT_TRUE(broken) << "E1's links outlived 70 s without an answer";
            EXPECT_TRUE(restored) << "E1's next answer did not bring E2 back";
            EXPECT_GE(al.requests().stats().given_up, 1u);
        }
        EXPECT_EQ(al.requests().pending(), 0u);

        delete ctx;
        agents.reset();
        map_stack_stop();
        map_datamodel_reset();
        map_set_backhaul_ssid(nullptr, 0);
        map_stack_set_config(map_stack_default_config());
        EXPECT_TRUE(drain_and_close(&loop));
        ozr_clock::use_real();
    }
}

}  // namespace lossy
