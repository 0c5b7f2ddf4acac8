// Channel and transmit power configuration over the daemon's context and the started stack:
// scripted meshes whose agents listen on the private segment and record the Channel
// Selection Requests the controller sends them, the channel service journal, the return
// codes, and automatic channel management on the gateway's own Operating Channel Reports.
#include <gtest/gtest.h>

#include "config_fixture.h"

using namespace config_test;
using ozr_test::count_of;

namespace {

class Channels : public ConfigFixture {
  protected:
    uint16_t port() const override { return 23431; }
};

TEST_F(Channels, TheWholeMeshChangesDeepestFirstWithoutTheGatewayOrForeignAgents) {
    mesh();
    Agent& ext = listen(kExt);
    Agent& far = listen(kFar);
    Agent& plain = listen(kPlain);
    Agent& gw = listen(kLocal);
    const size_t mark = log().size();
    auto req = request("", FREQ_BAND_5G, 36, 3);
    ozr_channel_configuration_result_t result;
    ASSERT_EQ(cfg().set_channel_configuration(&req, &result), 0);
    EXPECT_EQ(result.response, 0);
    EXPECT_EQ(result.channel, 36);
    ASSERT_TRUE(run_until([&] { return requests(ext) == 1 && requests(far) == 1; }));
    settle();
    EXPECT_EQ(requests(plain), 0u);
    EXPECT_EQ(requests(gw), 0u);  // the gateway's radio goes through the channel service

    const std::string text = log().substr(mark);
    const size_t at_far = text.find("to radio 02:6f:00:00:03:20 of agent 02:6f:00:00:03:00");
    const size_t at_ext = text.find("to radio 02:6f:00:00:02:20 of agent 02:6f:00:00:02:00");
    ASSERT_NE(at_far, std::string::npos) << text;
    ASSERT_NE(at_ext, std::string::npos);
    EXPECT_LT(at_far, at_ext);
    EXPECT_EQ(count_of(text, "Find one ale MAC: 02:6f:00:00:04:00 is not in the hkt list."), 1u);
    EXPECT_EQ(text.find("Find one ale MAC: 02:6f:00:00:01:00"), std::string::npos);

    // What the extender got: its 5 GHz radio, channel 36 the only one left operable.
    const CMDU* c = ext.of(CMDU_TYPE_CHANNEL_SELECTION_REQUEST)[0];
    const auto* pref = find_tlv<channel_preference_tlv>(c);
    ASSERT_NE(pref, nullptr);
    EXPECT_EQ(pref->radio_id, radio_of(kExt, 0x20));
    EXPECT_EQ(operable_channel(*pref), 42);  // the 80 MHz block of 36
    EXPECT_EQ(find_tlv<transmit_power_limit_tlv>(c), nullptr);

    // The channel service and the platform heard of it first.
    auto prov = journal("ics_provision");
    ASSERT_EQ(prov.size(), 1u);
    EXPECT_NE(prov[0].find("\"mask\":128,\"kind\":1,\"channel\":36,\"bw\":3"), std::string::npos);
    auto prev = journal("nal_setPreviousChannel");
    ASSERT_EQ(prev.size(), 1u);
    EXPECT_NE(prev[0].find("\"band\":8,\"bw\":2,\"channel\":36"), std::string::npos);
    EXPECT_EQ(journal("ics_set_default_channel").size(), 1u);
    EXPECT_EQ(journal("ics_set_default_bandwidth").size(), 1u);
    EXPECT_EQ(journal("ics_set_default_cfg_time").size(), 1u);
    EXPECT_EQ(ics_get_band_defaults(0x80).channel, 36);

    // Transmit power: a power record, then a Transmit Power Limit to each extender.
    ozr_transmit_power_configuration_t tx;
    tx.band = FREQ_BAND_2G;
    tx.tx_power = 14;
    channel_selection_set_response_result tr = CH_SEL_DECLINE_BACKHAUL;
    ASSERT_EQ(cfg().set_transmit_power_configuration(&tx, &tr), 0);
    EXPECT_EQ(tr, CH_SEL_ACCEPT);
    ASSERT_TRUE(run_until([&] { return requests(ext) == 2 && requests(far) == 2; }));
    const CMDU* p = far.of(CMDU_TYPE_CHANNEL_SELECTION_REQUEST)[1];
    const auto* limit = find_tlv<transmit_power_limit_tlv>(p);
    ASSERT_NE(limit, nullptr);
    EXPECT_EQ(limit->radio_id, radio_of(kFar, 0x10));
    EXPECT_EQ(limit->tx_power_limit_eirp, 14);
    EXPECT_EQ(find_tlv<channel_preference_tlv>(p), nullptr);
    EXPECT_NE(journal("ics_provision")[1].find("\"mask\":16,\"kind\":2"), std::string::npos);
}

TEST_F(Channels, RefusalsSendNothing) {
    mesh();
    Agent& ext = listen(kExt);
    ozr_channel_configuration_result_t result;
    // One extender nobody knows.
    auto nope = request("NOPE", FREQ_BAND_5G, 36, 3);
    EXPECT_EQ(cfg().set_channel_configuration(&nope, &result), -1);
    EXPECT_TRUE(said("find hkt node failed from SN:NOPE."));
    ozr_transmit_power_configuration_t tx;
    tx.band = FREQ_BAND_5G;
    tx.sn = "NOPE";
    EXPECT_EQ(cfg().set_transmit_power_configuration(&tx, nullptr), -1);
    EXPECT_TRUE(said("Failed to find sn: NOPE HKT agent."));
    // A band outside the table.
    for (int band : {5, -1}) {
        auto req = request("", static_cast<frequent_band_type>(band), 36, 3);
        EXPECT_EQ(cfg().set_channel_configuration(&req, &result), -3) << band;
        req.sn = "EX1";
        EXPECT_EQ(cfg().set_channel_configuration(&req, &result), -3) << band;
    }
    tx.sn.clear();
    tx.band = static_cast<frequent_band_type>(5);
    EXPECT_EQ(cfg().set_transmit_power_configuration(&tx, nullptr), -3);
    // A channel that is not one of the band: the channel service refuses the record.
    auto req = request("", FREQ_BAND_2G, 36, 1);
    EXPECT_EQ(cfg().set_channel_configuration(&req, &result), -5);
    EXPECT_TRUE(said("failed set channel provision data, ret = %d."));
    // A bandwidth the band has no block for at that channel, or out of range.
    req = request("", FREQ_BAND_5G, 144, 4);
    EXPECT_EQ(cfg().set_channel_configuration(&req, &result), -1);
    EXPECT_TRUE(said("set default channel failed. band:128, channel:144, bw:4"));
    req = request("", FREQ_BAND_5G, 36, 9);
    EXPECT_EQ(cfg().set_channel_configuration(&req, &result), -1);
    EXPECT_TRUE(said("input invalid bandwidth: 9"));
    settle();
    EXPECT_EQ(requests(ext), 0u);
    EXPECT_TRUE(journal("nal_setPreviousChannel").empty());
}

TEST_F(Channels, OneExtenderOnlyWhileTheMeshHasNoProvisionedChannel) {
    mesh();
    Agent& ext = listen(kExt);
    Agent& far = listen(kFar);
    ozr_channel_configuration_result_t result;
    // Channel 0 provisions the channel service and touches no agent.
    auto zero = request("", FREQ_BAND_5G, 0, 3);
    ASSERT_EQ(cfg().set_channel_configuration(&zero, &result), 0);
    auto one = request("ex3", FREQ_BAND_5G, 149, 1);
    result.response = -1;
    ASSERT_EQ(cfg().set_channel_configuration(&one, &result), 0);
    EXPECT_EQ(result.response, 0);
    ASSERT_TRUE(run_until([&] { return requests(far) == 1; }));
    const auto* pref =
        find_tlv<channel_preference_tlv>(far.of(CMDU_TYPE_CHANNEL_SELECTION_REQUEST)[0]);
    ASSERT_NE(pref, nullptr);
    EXPECT_EQ(pref->radio_id, radio_of(kFar, 0x20));
    EXPECT_TRUE(journal("nal_setPreviousChannel").empty());  // not the gateway

    // Once the mesh has a channel for the band, a request for one extender changes nothing.
    auto all = request("", FREQ_BAND_5G, 36, 3);
    ASSERT_EQ(cfg().set_channel_configuration(&all, &result), 0);
    ASSERT_TRUE(run_until([&] { return requests(far) == 2 && requests(ext) == 1; }));
    ASSERT_EQ(cfg().set_channel_configuration(&one, &result), 0);
    settle();
    EXPECT_EQ(requests(far), 2u);
    // Another band is still free.
    auto low = request("EX1", FREQ_BAND_2G, 6, 1);
    ASSERT_EQ(cfg().set_channel_configuration(&low, &result), 0);
    ASSERT_TRUE(run_until([&] { return requests(ext) == 2; }));
}

TEST_F(Channels, AnAdditionalSixGigahertzBandFollows) {
    ozr_test::write_text(nal_platform_json_path(),
                         "{\"platform-journal-path\": \"" + journal_ +
                             "\", \"ics-additional-band\": {\"from\": \"5g\", \"to\": \"6g\"}}");
    mesh();
    map_radio_info_t* r6 = map_update_radio(get_ale(kExt), radio_of(kExt, 0x60));
    const map_op_class_param_t c131{131, 0, 0, nullptr};
    ASSERT_EQ(map_update_radio_basic_caps(r6, 2, &c131, 1), 0);
    Agent& ext = listen(kExt);
    auto req = request("", FREQ_BAND_5G, 37, 1);  // 37 is no 5 GHz channel
    ozr_channel_configuration_result_t result;
    EXPECT_EQ(cfg().set_channel_configuration(&req, &result), -5);
    req.channel = 149;  // a channel number of both bands
    ASSERT_EQ(cfg().set_channel_configuration(&req, &result), 0);
    EXPECT_EQ(ics_get_band_defaults(0x100).channel, 149);
    EXPECT_TRUE(said("set default channel to MAP addtional. band:256, channel:149, bw:1"));
    // The 5 GHz radio, then the 6 GHz one (band 4).
    ASSERT_TRUE(run_until([&] { return requests(ext) == 2; }));
    std::vector<MAC> radios;
    for (const CMDU* c : ext.of(CMDU_TYPE_CHANNEL_SELECTION_REQUEST)) {
        const auto* pref = find_tlv<channel_preference_tlv>(c);
        ASSERT_NE(pref, nullptr);
        EXPECT_EQ(operable_channel(*pref), 149);
        radios.push_back(pref->radio_id);
    }
    EXPECT_EQ(radios, (std::vector<MAC>{radio_of(kExt, 0x20), radio_of(kExt, 0x60)}));
    // A 6 GHz channel that is no 5 GHz one fails on the first band already.
    req.channel = 5;
    EXPECT_EQ(cfg().set_channel_configuration(&req, &result), -5);
}

class AutoChannel : public Channels {
  protected:
    uint16_t port() const override { return 23432; }
    // The gateway's own 5 GHz radio reports CHANNEL.
    void report(const MAC& agent, uint8_t channel) {
        const operating_channel_report_tlv r{
            TLV_TYPE_OPERATING_CHANNEL_REPORT, radio_of(agent, 0x20), 1, {{115, channel}}, 20};
        CmduPtr c = CmduBuilder(CMDU_TYPE_OPERATING_CHANNEL_REPORT, 1).add(r).build();
        c->src_al_mac = agent;
        cfg().on_operating_channel_report(c.get());
    }
    void products(const std::string& l2, const std::string& ai, const std::string& rrm) {
        ASSERT_TRUE(ozr_make_dirs(ozr_path("/tmp")));
        ozr_test::write_text(ozr_path("/tmp/zkf-product-cfg.json"),
                             "{\"ProductParameters\": {\"ZKApplicationList\": {\"L2Agent\": \"" +
                                 l2 + "\", \"AIEngine\": \"" + ai + "\"}}}");
        ozr_test::write_text(ozr_path("/tmp/local-rrm-ctl.json"),
                             "{\"LocalRRMControl\": \"" + rrm + "\"}");
    }
};

TEST_F(AutoChannel, TheProductSwitches) {
    struct Row {
        const char *l2, *ai, *rrm;
        int dcs, autoc;
    };
    const Row rows[] = {{"yes", "no", "disable", 2, 0},
                        {"no", "no", "disable", 2, 2},
                        {"yes", "yes", "enable", 0, 2},
                        {"no", "yes", "x", 0, 0}};
    for (const Row& r : rows) {
        products(r.l2, r.ai, r.rrm);
        ConfigurationMinder m(&loop_);
        m.read_product_switches();  // as init does
        EXPECT_EQ(m.dcs_state(), r.dcs) << r.l2 << r.ai << r.rrm;
        EXPECT_EQ(m.auto_channel_state(), r.autoc) << r.l2 << r.ai << r.rrm;
    }
    EXPECT_TRUE(said("product json info L2 Agent existno, Ai Engine existyes"));
    EXPECT_TRUE(said("board json info Ai Engine existx"));
    ozr_test::write_text(ozr_path("/tmp/zkf-product-cfg.json"), "{\"ProductParameters\": [");
    std::remove(ozr_path("/tmp/local-rrm-ctl.json").c_str());
    ConfigurationMinder m(&loop_);
    m.read_product_switches();
    EXPECT_EQ(m.dcs_state(), 0);
    EXPECT_EQ(m.auto_channel_state(), 0);
    EXPECT_NE(log().find("failure parser " + ozr_path("/tmp/zkf-product-cfg.json")),
              std::string::npos);
    EXPECT_NE(log().find("failure load " + ozr_path("/tmp/local-rrm-ctl.json")), std::string::npos);
    ozr_test::write_text(ozr_path("/tmp/zkf-product-cfg.json"), "{\"ProductParameters\": 7}");
    ConfigurationMinder n(&loop_);
    n.read_product_switches();
    EXPECT_TRUE(said("product json info L2 Agent not exist, Ai Engine not exist"));
}

TEST_F(AutoChannel, TheGatewaysChannelChangeReachesTheExtendersOnlyWithBothSwitches) {
    mesh();
    Agent& ext = listen(kExt);
    Agent& far = listen(kFar);
    cfg().on_config_timer();  // the channel service follows every radio now
    ASSERT_NE(get_radio(radio_of(kLocal, 0x20))->chan_sel_handle, nullptr);

    report(kLocal, 36);
    report(kLocal, 44);  // a change, but the switches are off
    products("no", "no", "enable");
    cfg().read_product_switches();
    ASSERT_EQ(cfg().dcs_state(), 2);
    ASSERT_EQ(cfg().auto_channel_state(), 2);
    report(kExt, 36);
    report(kExt, 40);  // an extender's own change is its business
    settle();
    EXPECT_EQ(requests(ext) + requests(far), 0u);

    report(kLocal, 48);
    ASSERT_TRUE(run_until([&] { return requests(ext) == 1 && requests(far) == 1; }));
    const auto* pref =
        find_tlv<channel_preference_tlv>(ext.of(CMDU_TYPE_CHANNEL_SELECTION_REQUEST)[0]);
    ASSERT_NE(pref, nullptr);
    EXPECT_EQ(operable_channel(*pref), 48);
    report(kLocal, 48);  // no change: nothing more
    // Switched off on the bus: the gateway's moves stay its own.
    cfg().set_auto_channel(0);
    report(kLocal, 40);
    settle();
    EXPECT_EQ(requests(ext), 1u);
    EXPECT_EQ(journal("ics_operating_channel_report").size(), 7u);
}

}  // namespace
