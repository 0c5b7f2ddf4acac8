// The graph minder against the started stack: an agent on a private segment is heard of
// through its own frames, and the queries the minder sends reach it as real frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

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
#include "steering/steering_minder.h"
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
    size_t count(uint16_t type) const { return std::count(got.begin(), got.end(), type); }
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
    CmduPtr report = minder_test::ap_caps_cmdu(test_mac(2, 0x50), false, false, 0);
    ASSERT_TRUE(report);
    report->src_al_mac = agent_mac;
    ASSERT_EQ(agent->al_->send(test_mac(1, 0), *report, nullptr, true), 0);
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
using minder_test::Topo;
using M = Macs;

template <class T>
const T* first_tlv(const CMDU* cmdu) {
    for (size_t i = 0; cmdu->list_of_TLVs && cmdu->list_of_TLVs[i]; ++i)
        if (const T* t = tlv_cast<T>(cmdu->list_of_TLVs[i]))
            return t;
    return nullptr;
}

// An agent of the scripted mesh on the segment: it answers what the controller asks with the
// scripted records of MESH[INDEX] (every copy it gets, as a simulated agent does), moves a
// client it is asked to steer to the target BSS's agent (telling nobody: its notifications
// are lost), and loses on the way out what its filter names.
class ScriptedAgent {
  public:
    ScriptedAgent(uv_loop_t* loop, const std::string& seg, std::vector<Topo>& mesh, size_t index,
                  const MAC& ifc, const MAC& radio)
        : mesh_(mesh), index_(index), ifc_(ifc), radio_(radio) {
        TransportOptions topt;
        topt.al_mac = me().al;
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
        b.add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, me().al});
        b.add(mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, ifc_});
        send(IEEE1905_MULTICAST_ADDRESS, b.build(), ifc_);
    }

  private:
    Topo& me() { return mesh_[index_]; }
    void send(const MAC& dst, CmduPtr c, const MAC& src) {
        std::vector<std::vector<uint8_t>> fragments;
        ASSERT_TRUE(c && encode_1905_CMDU(*c, fragments));
        for (const auto& p : fragments) {
            std::vector<uint8_t> frame;
            build_1905_ethernet_frame(dst, src, p, frame);
            transport_->send(0, frame.data(), frame.size());
        }
    }
    // Moves STA from this agent's BSSs to the BSS TARGET of whichever agent has it.
    void move(const MAC& sta, const BSSID& target) {
        for (auto& b : me().clients)
            b.second.erase(std::remove(b.second.begin(), b.second.end(), sta), b.second.end());
        for (Topo& t : mesh_)
            for (const auto& r : t.radios)
                for (const auto& bss : r.second)
                    if (bss.first == target) {
                        auto it = std::find_if(t.clients.begin(), t.clients.end(),
                                               [&](const auto& c) { return c.first == target; });
                        if (it == t.clients.end())
                            t.clients.push_back({target, {sta}});
                        else
                            it->second.push_back(sta);
                    }
    }
    void receive(const uint8_t* frame, size_t len) {
        MAC src;
        const uint8_t* payload = nullptr;
        size_t plen = 0;
        if (!parse_1905_ethernet_frame(frame, len, src, payload, plen) || MAC(frame) != me().al)
            return;
        CmduPtr q = decode_1905_CMDU(payload, plen, &src);
        if (!q)
            return;
        const uint16_t mid = q->message_id;
        switch (q->message_type) {
            case CMDU_TYPE_TOPOLOGY_QUERY:
                return send(src, minder_test::topology_cmdu(me(), mid), me().al);
            case CMDU_TYPE_AP_CAPABILITY_QUERY:
                return send(src, minder_test::ap_caps_cmdu(radio_, true, true, mid), me().al);
            case CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_QUERY: {
                const auto* t = first_tlv<sta_mac_address_tlv>(q.get());
                associated_sta_link_metrics_tlv m;
                m.sta_mac = t ? t->sta_mac : MAC();
                for (const auto& b : me().clients)
                    for (const MAC& c : b.second)
                        if (c == m.sta_mac)
                            m.bssids.push_back({b.first, 10, 866, 600, 160});
                m.num_bssids = static_cast<uint8_t>(m.bssids.size());
                CmduBuilder r(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, mid);
                r.add(m);
                return send(src, r.build(), me().al);
            }
            case CMDU_TYPE_CLIENT_STEERING_REQUEST:
                if (const auto* r = first_tlv<steering_request_tlv>(q.get());
                    r && !moved_.count(mid)) {
                    moved_.insert(mid);
                    for (size_t i = 0; i < r->stas.size() && i < r->targets.size(); ++i)
                        move(r->stas[i], r->targets[i].bssid);
                }
                break;
            default:
                break;
        }
        // Anything else awaiting an answer gets an empty one of the awaited type.
        const MapAwaitedAnswer a = map_awaited_answer(q->message_type);
        if (a.type != 0 && a.same_mid)
            send(src, CmduBuilder(a.type, mid).build(), me().al);
    }

    std::vector<Topo>& mesh_;
    size_t index_;
    MAC ifc_, radio_;
    uint16_t mid_ = 0x100;
    std::set<uint16_t> moved_;
    std::shared_ptr<LossFilter> loss_ = std::make_shared<LossFilter>();
    std::unique_ptr<LossySegmentTransport> transport_;
};

// The daemon (every minder, its timers' work driven by hand on the manual clock) over the
// started stack on a private segment, and the scripted mesh's gateway (the local agent),
// E1 and E2 as agents on it.
class LossyMesh {
  public:
    explicit LossyMesh(uint16_t port) : cap_(root_, 6) {
        ozr_clock::set_manual(9000000);
        EXPECT_EQ(uv_loop_init(&loop_), 0);
        const std::string seg = private_segment(port);
        MapStackConfig config;
        config.segment = seg;
        config.interfaces = {{"ozr0", M::root_eth, ""}};
        config.al_mac = M::root;
        config.agent_al_mac = M::local;
        map_stack_set_config(config);
        if (map_stack_start(&loop_, &skip_) != 0)
            return;
        const uint8_t bh[] = {'b', 'h'};
        map_set_backhaul_ssid(bh, sizeof bh);
        ctx_ = new Context(&loop_);
        const std::pair<MAC, MAC> ifs[] = {
            {M::local_eth, M::local_radio}, {M::e1_eth, M::e1_radio}, {M::e2_bsta, M::e2_radio}};
        for (size_t i = 0; i < 3; ++i)
            agents_.push_back(std::make_unique<ScriptedAgent>(&loop_, seg, mesh_, i + 1,
                                                              ifs[i].first, ifs[i].second));
    }
    ~LossyMesh() {
        delete ctx_;
        agents_.clear();
        map_stack_stop();
        map_datamodel_reset();
        map_set_backhaul_ssid(nullptr, 0);
        map_stack_set_config(map_stack_default_config());
        EXPECT_TRUE(drain_and_close(&loop_));
        ozr_clock::use_real();
    }
    // Empty when running; why the stack could not start otherwise.
    const std::string& skip() const { return skip_; }
    GraphMinder& gm() { return *ctx_->graph_minder; }
    SteeringMinder& steering() { return *ctx_->steering_minder; }
    MapAl& al() { return *map_stack_al(); }
    std::string log() const { return cap_.text(); }
    ScriptedAgent& gateway() { return *agents_[0]; }
    ScriptedAgent& e1() { return *agents_[1]; }

    bool e2_connected() {
        backhaul_information b;
        return gm().get_device_backhaul_information(M::e2, b) && b.is_backhaul_connected &&
               b.remote_ale == M::e1;
    }
    // Every device, backhaul and client of the scripted mesh is in the graph.
    bool whole() {
        const Graph& g = gm().graph();
        const Device* e1d = g.find_device(M::e1);
        const Device* e2d = g.find_device(M::e2);
        return e2_connected() && g.root && g.root->find_wired_link(M::local) && e1d &&
               e1d->find_wireless_link(M::e2_bsta) && e2d && e2d->find_wireless_link(M::c2) &&
               g.find_sta(M::c1) && g.find_sta(M::c1)->get_working_device();
    }
    // The gateway heard, the mesh learnt through the queries that follow.
    bool learn() {
        gateway().discovery();
        const bool ok = run_until(&loop_, [&] {
            gm().on_link_metric_query();
            gm().on_backhaul_information_update();
            return whole();
        });
        settle();
        return ok;
    }
    // Lets every request the stack awaits an answer for get one, sending again each second
    // (by the manual clock) what is not answered.
    void settle() {
        for (int i = 0; i < 12; ++i) {
            if (run_until(
                    &loop_, [&] { return al().requests().pending() == 0; }, 150))
                return;
            second();
        }
    }
    // One second of the stack's time.
    void second() {
        ozr_clock::advance(1000);
        al().tick();
    }

    std::vector<Topo> mesh_ = minder_test::scripted_topologies();

  private:
    ozr_test::TempRoot root_;
    ozr_test::LogCapture cap_;
    uv_loop_t loop_;
    std::string skip_;
    Context* ctx_ = nullptr;
    std::vector<std::unique_ptr<ScriptedAgent>> agents_;
};

// Round after round of the daemon's queries with one answer or the gateway's discoveries lost:
// no backhaul, device or client leaves the graph. Only an agent that misses every copy of a
// whole round loses its links (70 s after they were last confirmed), and gets them back with
// its next answer.
TEST(GraphMinderStack, OneLostAnswerLeavesTheGraphWhole) {
    enum Loss { none, e1_answer_once, gateway_answer_once, gateway_discoveries, e1_whole_round };
    const struct {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LossyMesh mesh(port++);
        if (!mesh.skip().empty()) {
            GTEST_SKIP() << "the segment transport cannot open here: " << mesh.skip();
        }
        ASSERT_TRUE(mesh.learn()) << "the scripted mesh was not learnt";
        const size_t learnt = mesh.log().size();

        int round = 0, copies = 0;  // copies of this round's Topology Response
        if (c.loss == e1_answer_once || c.loss == e1_whole_round)
            mesh.e1().lose([&](const FrameInfo& f) {
                return f.type == CMDU_TYPE_TOPOLOGY_RESPONSE &&
                       (c.loss == e1_whole_round ? round == 2 : ++copies == 1);
            });
        if (c.loss == gateway_answer_once)
            mesh.gateway().lose([&](const FrameInfo& f) {
                return f.type == CMDU_TYPE_TOPOLOGY_RESPONSE && ++copies == 1;
            });
        if (c.loss == gateway_discoveries)
            mesh.gateway().lose(
                [](const FrameInfo& f) { return f.type == CMDU_TYPE_TOPOLOGY_DISCOVERY; });
        bool broken = false, restored = false;
        for (round = 1; round <= 4; ++round) {
            copies = 0;
            mesh.gateway().discovery();
            mesh.gm().on_topo_query();
            mesh.gm().on_link_metric_query();
            mesh.settle();
            // The rest of the minute, the garbage collection and backhaul update each 10 s.
            for (int step = 0; step < 6; ++step) {
                ozr_clock::advance(10000);
                mesh.al().tick();
                mesh.gm().on_gc();
                mesh.gm().on_backhaul_information_update();
                const bool ok = mesh.whole();
                if (c.loss != e1_whole_round) {
                    EXPECT_TRUE(ok) << "round " << round << ", " << step * 10 << " s";
                }
                broken = broken || (!ok && round == 2);
                restored = restored || (ok && broken && round > 2);
            }
        }
        // What the data and vendor minders were told: an extender's backhaul lost (it goes
        // offline at once), or a device deleted.
        const std::string told = mesh.log().substr(learnt);
        const bool lost = told.find(", is_backhaul_connected false") != std::string::npos ||
                          told.find("device had been delete") != std::string::npos;
        EXPECT_EQ(lost, c.loss == e1_whole_round);
        if (c.loss == e1_whole_round) {
            EXPECT_TRUE(broken) << "E1's links outlived 70 s without an answer";
            EXPECT_TRUE(restored) << "E1's next answer did not bring E2 back";
            EXPECT_GE(mesh.al().requests().stats().given_up, 1u);
        }
        EXPECT_EQ(mesh.al().requests().pending(), 0u);
    }
}

// A client steered from the gateway to E1 moves at once, and the agents' notifications that
// would tell it are lost: the stack's own questions after the steering request show it on E1
// before the steering minder judges the steer, which therefore counts no refusal.
TEST(GraphMinderStack, ASteeredClientIsSeenWhereItWentWithoutItsNotifications) {
    LossyMesh mesh(23320);
    if (!mesh.skip().empty()) {
        GTEST_SKIP() << "the segment transport cannot open here: " << mesh.skip();
    }
    ASSERT_TRUE(mesh.learn());
    SteeringMinder& st = mesh.steering();
    SteeringMinder::SteeringReNode* node = st.access_steer_re_node(M::c1);
    ASSERT_NE(node, nullptr);
    SteeringMinder::SteeringMandate m;
    m.src = M::local_fh;
    m.agent = M::local;
    m.entries.push_back({M::c1, M::e1_fh, 115, 44});
    std::vector<SteeringMinder::SteeringMandate> mandates{m};
    st.steering_dispatcher(mandates);
    ASSERT_EQ(st.steer_requests_sent(), 1u);
    const Device* e1 = mesh.gm().graph().find_device(M::e1);
    for (int s = 1; s <= 20; ++s) {
        mesh.second();
        mesh.settle();
        if (s % 2 == 0)
            st.on_steering_tick_timer();
        if (s == 6) {
            EXPECT_NE(e1->find_wireless_link(M::c1), nullptr) << "not seen on E1 6 s after";
        }
    }
    EXPECT_EQ(std::make_tuple(node->steered, node->reject_count, node->backoff_counter),
              std::make_tuple(true, 0, 0));
}

}  // namespace lossy
