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
