// A mesh-wide channel change end to end: the daemon's whole context (its D-Bus service on a
// private bus, its REST API) and meshsim's channel scenario on one loop and a private
// segment. setradiochannel for the whole mesh reaches the extenders deepest first (the
// stack's capture says so, byte by byte), the agents move, and "/debug/aps" shows it.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../src/rest/http_test_client.h"
#include "map/codec/tlv_types.h"
#include "messages/bus_records.h"
#include "support/bus_client.h"
#include "support/mesh_stack.h"

namespace {

const MAC kWired(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x00);
const MAC kFar(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x00);
const MAC kOther(0x02, 0x6f, 0x7a, 0x72, 0x04, 0x00);

// The destinations of the CMDUs of TYPE in a pcap capture of Ethernet frames, in order.
std::vector<MAC> sent_to(const std::string& pcap, uint16_t type) {
    std::vector<MAC> out;
    std::vector<std::string> frames;
    EXPECT_TRUE(pcap_frames(ozr_test::read_text(pcap), frames));
    for (const std::string& b : frames) {
        const auto* f = reinterpret_cast<const uint8_t*>(b.data());
        // dst, src, ethertype 0x893a, CMDU: version, reserved, message type.
        if (b.size() >= 18 && f[12] == 0x89 && f[13] == 0x3a && ((f[16] << 8) | f[17]) == type)
            out.push_back(MAC(f));
    }
    return out;
}

ozr_test::MeshOptions options() {
    ozr_test::MeshOptions o(23711, 40000000, "channel.json");
    o.context = o.bus = o.capture = true;
    return o;
}

class ChannelMesh : public ozr_test::MeshStack {
  protected:
    ChannelMesh() : MeshStack(options()) {}
    // The mesh as the stack and the vendor agent registry know it.
    void mesh_known() {
        ASSERT_TRUE(run_until([&] {
            return get_ale(kWired) && get_ale(kFar) && get_ale(kOther) &&
                   map_get_topology_tree_height() == 3;
        })) << map_format_topology_tree();
        HktMgmtMinder& h = hkt();
        h.on_discovery_poll();
        ASSERT_TRUE(run_until(
            [&] { return h.find_hkt_from_agent(kWired) && h.find_hkt_from_agent(kFar); }));
    }
    uint8_t sim_channel(size_t agent, size_t radio) const {
        return sim_->scenario().agents[agent].radios[radio].channel;
    }
    size_t sim_line(const std::string& needle) const {
        for (size_t i = 0; i < sim_log_.size(); ++i)
            if (sim_log_[i].find(needle) != std::string::npos)
                return i;
        return std::string::npos;
    }
    // The current channel and bandwidth "/debug/aps" shows for radio RADIO of agent AL.
    std::pair<unsigned, unsigned> aps_channel(const std::string& al, const std::string& radio) {
        const std::string raw = get_request("/debug/aps");
        HttpAnswer a = on_client([&] { return http_request(rest_port_, raw); });
        rapidjson::Document doc;
        doc.Parse(a.body.c_str());
        if (a.status != 200 || doc.HasParseError() || !doc.HasMember("aps"))
            return {0, 0};
        for (const auto& ap : doc["aps"].GetArray()) {
            if (!ap.HasMember("al-mac") || ap["al-mac"] != rapidjson::StringRef(al.c_str()))
                continue;
            for (const auto& r : ap["radios"].GetArray())
                if (r["radio-id"] == rapidjson::StringRef(radio.c_str()))
                    return {r["current-op-channel"].GetUint(), r["current-bw"].GetUint()};
        }
        return {0, 0};
    }
};

TEST_F(ChannelMesh, SetRadioChannelMovesEveryExtenderDeepestFirstAndTheApsShowIt) {
    mesh_known();
    ozr_test::BusClient client;
    ASSERT_TRUE(client.ok());
    std::vector<uint8_t> req(sizeof(ZkaRadioChannelCfg_T), 0);
    auto* cfg = reinterpret_cast<ZkaRadioChannelCfg_T*>(req.data());
    std::strcpy(cfg->mac, "00:00:00:00:00:00");
    cfg->radio = ZKA_RADIO_5G;
    cfg->ch = 36;
    cfg->bw = 3;  // 80 MHz
    ozr_test::BusReply r = on_client([&] { return client.call("setradiochannel", req); });
    ASSERT_TRUE(r.ok) << r.error_name;
    EXPECT_EQ(r.result, 0);
    ASSERT_EQ(r.data.size(), sizeof(ZkaRadioChannelCfgResult_T));
    ZkaRadioChannelCfgResult_T res;
    std::memcpy(&res, r.data.data(), sizeof res);
    EXPECT_EQ(res.response, 0);
    EXPECT_EQ(res.ch, 36);

    // The agents move; the gateway (whose channel goes through the channel service) stays.
    // The order they apply it in is the simulator's (the far one's request is relayed):
    // the order the controller sent them in is checked on the wire below.
    ASSERT_TRUE(run_until([&] {
        return sim_channel(1, 1) == 36 && sim_channel(2, 1) == 36 && sim_channel(3, 0) == 36;
    }));
    const size_t far = sim_line("ext-far: radio 02:6f:7a:72:03:20 now on channel 36 at 80 MHz");
    const size_t wired = sim_line("ext-wired: radio 02:6f:7a:72:02:20 now on channel 36 at 80 MHz");
    ASSERT_NE(far, std::string::npos);
    ASSERT_NE(wired, std::string::npos);
    EXPECT_EQ(sim_channel(0, 1), 36);
    // The bytes on the wire agree: depth 3, then both agents at depth 2, never the gateway.
    const std::vector<MAC> to = sent_to(pcap(), CMDU_TYPE_CHANNEL_SELECTION_REQUEST);
    ASSERT_EQ(to.size(), 3u);
    EXPECT_EQ(to[0], kFar);
    EXPECT_TRUE((to[1] == kWired && to[2] == kOther) || (to[1] == kOther && to[2] == kWired));
    EXPECT_EQ(
        ozr_test::count_of(ozr_test::read_text(journal_), "\"call\":\"nal_setPreviousChannel\""),
        1u);

    // Their Operating Channel Reports reach the graph: "/debug/aps" shows the new channel.
    std::pair<unsigned, unsigned> want{36, 80};
    EXPECT_TRUE(run_until([&] { return aps_channel("026f7a720300", "026f7a720320") == want; }, 20));
    EXPECT_TRUE(run_until([&] { return aps_channel("026f7a720200", "026f7a720220") == want; }, 20));

    // Every agent runs the stored policy's pace (10 s), not the graph's first one.
    EXPECT_TRUE(run_until([&] {
        for (size_t i = 0; i < 4; ++i)
            if (sim_->metrics_interval(i) != 10)
                return false;
        return true;
    }));
}

TEST_F(ChannelMesh, TheGatewaysOwnMoveFollowsToTheExtendersWithBothSwitches) {
    mesh_known();
    // The product runs its own channel management; the channel service follows every radio.
    ASSERT_TRUE(ozr_make_dirs(ozr_path("/tmp")));
    ozr_test::write_text(ozr_path("/tmp/zkf-product-cfg.json"),
                         "{\"ProductParameters\": {\"ZKApplicationList\": {\"L2Agent\": \"no\", "
                         "\"AIEngine\": \"no\"}}}");
    ctx_->config_minder->read_product_switches();
    ASSERT_TRUE(run_until([&] { return get_radio(MAC(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x20)); }));
    ctx_->config_minder->on_config_timer();
    // The gateway's radio reports where it is, then moves by itself (the user).
    meshsim::EventConf e = sim_->scenario().timeline[1];
    e.primary = 36;
    e.bandwidth_mhz = 20;
    ASSERT_TRUE(run_until([&] { return sim_->configured(0); }));
    sim_->apply(e);
    ASSERT_TRUE(run_until([&] {
        return ozr_test::count_of(ozr_test::read_text(journal_),
                                  "\"call\":\"ics_operating_channel_report\",\"radio\":\"02:6f:7a:"
                                  "72:01:20\"") >= 1;
    })) << ozr_test::read_text(journal_).substr(0, 3000)
        << "\n"
        << sim_log_.back();
    sim_->apply(sim_->scenario().timeline[1]);  // 44 at 80 MHz
    // Every extender moves into the gateway's 80 MHz block (36-48, centre 42).
    auto in_block = [&](size_t a, size_t r) {
        const meshsim::RadioConf& radio = sim_->scenario().agents[a].radios[r];
        return radio.bandwidth_mhz == 80 && radio.centre == 42;
    };
    ASSERT_TRUE(run_until([&] { return in_block(1, 1) && in_block(2, 1) && in_block(3, 0); }));
    EXPECT_EQ(sent_to(pcap(), CMDU_TYPE_CHANNEL_SELECTION_REQUEST).size(), 3u);
}

}  // namespace
