// Every sender against an agent on a private segment: the agent receives the
// CMDU with the records given, from the controller's AL MAC; failures return
// their code; and the frames the stack captured pass Wireshark's dissector.
#include <gtest/gtest.h>

#include <set>

#include "common/clock.h"
#include "map/al/stack.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_send.h"
#include "map/wsc/registrar.h"
#include "pdml.h"
#include "platform/map/al/al_test_util.h"
#include "samples.h"

namespace {

// The first record of type T of sample NAME.
template <class T>
T sample_record(const char* name) {
    static std::vector<CmduPtr> keep;
    keep.push_back(make_sample_cmdu(name));
    const T* t = first_tlv<T>(keep.back().get());
    if (t == nullptr)
        std::abort();
    return *t;
}

template <class T>
std::vector<std::string> dumps_of(const std::vector<T>& records) {
    std::vector<std::string> out;
    for (const T& r : records) {
        T copy = r;
        copy.tlv_type = tlv_record_type<T>::value;
        out.push_back(dump_1905_TLV(reinterpret_cast<const uint8_t*>(&copy)));
    }
    return out;
}

class SenderTest : public StackAndAgent {
  protected:
    SenderTest() : StackAndAgent(23001) {}
};

const MAC kAgent = test_mac(2, 0);

// One message through each sender to the agent: its type and the records (dumps) the
// agent must get, in order.
struct SendCase {
    const char* what;
    uint16_t type;
    std::function<int()> send;
    std::vector<std::string> records;
};

std::vector<SendCase> every_sender() {
    auto lmq = sample_record<link_metric_query_tlv>("link_metric_query");
    auto usq =
        sample_record<unassociated_sta_link_metrics_query_tlv>("unassoc_sta_link_metrics_query");
    auto bmq = sample_record<beacon_metrics_query_tlv>("beacon_metrics_query");
    auto steer = sample_record<steering_request_tlv>("client_steering_request");
    auto acl =
        sample_record<client_association_control_request_tlv>("client_association_control_request");
    auto bh = sample_record<backhaul_steering_request_tlv>("backhaul_steering_request");
    auto scan = sample_record<channel_scan_request_tlv>("channel_scan_request");
    auto cac = sample_record<cac_request_tlv>("cac_request");
    auto cact = sample_record<cac_termination_tlv>("cac_termination");
    auto sp = sample_record<steering_policy_tlv>("policy_config_request");
    auto mp = sample_record<metric_reporting_policy_tlv>("policy_config_request");
    BSSID b1(test_mac(9, 1)), b2(test_mac(9, 2));
    MAC sta = test_mac(7, 7);
    const ap_metric_query_tlv amq{TLV_TYPE_AP_METRIC_QUERY, 2, {b1, b2}};
    const sta_mac_address_tlv stam{TLV_TYPE_STA_MAC_ADDRESS, sta};
    const client_info_tlv ci{TLV_TYPE_CLIENT_INFO, b1, sta};
    const multiap_profile_tlv prof{};
    const error_code_tlv err{TLV_TYPE_ERROR, 1, sta};

    return {
        {"topology query", CMDU_TYPE_TOPOLOGY_QUERY, [] { return map_send_topology_query(kAgent); },
         dumps_of(std::vector<multiap_profile_tlv>{prof})},
        {"link metric query", CMDU_TYPE_LINK_METRIC_QUERY,
         [=] { return map_send_link_metric_query(kAgent, lmq); }, dumps_of(std::vector{lmq})},
        {"ap capability query",
         CMDU_TYPE_AP_CAPABILITY_QUERY,
         [] { return map_send_ap_capability_query(kAgent); },
         {}},
        {"ap metric query", CMDU_TYPE_AP_METRICS_QUERY,
         [=] {
             return map_send_ap_metric_query(kAgent, {b1, b2});
         },
         dumps_of(std::vector{amq})},
        {"assoc sta link metrics query", CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_QUERY,
         [=] { return map_send_associated_sta_link_metrics_query(kAgent, sta); },
         dumps_of(std::vector{stam})},
        {"unassoc sta metrics query", CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY,
         [=] { return map_send_unassoc_sta_metrics_query(kAgent, usq); },
         dumps_of(std::vector{usq})},
        {"beacon metrics query", CMDU_TYPE_BEACON_METRICS_QUERY,
         [=] { return map_send_beacon_metrics_query(kAgent, bmq); }, dumps_of(std::vector{bmq})},
        {"client capability query", CMDU_TYPE_CLIENT_CAPABILITY_QUERY,
         [=] { return map_send_client_capability_query(kAgent, sta, b1); },
         dumps_of(std::vector{ci})},
        {"policy config",
         CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST,
         [=]() mutable {
             map_policy_config_t policy;
             policy.steering = &sp;
             policy.metric = &mp;
             return map_send_policy_config(kAgent, policy);
         },
         {dumps_of(std::vector{sp})[0], dumps_of(std::vector{mp})[0]}},
        {"steering request", CMDU_TYPE_CLIENT_STEERING_REQUEST,
         [=] { return map_send_steering_request(kAgent, steer); }, dumps_of(std::vector{steer})},
        {"client acl request", CMDU_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST,
         [=] { return map_send_client_acl_request(kAgent, acl); }, dumps_of(std::vector{acl})},
        {"backhaul steering request", CMDU_TYPE_BACKHAUL_STEERING_REQUEST,
         [=] { return map_send_backhaul_steering_request(kAgent, bh); }, dumps_of(std::vector{bh})},
        {"channel scan request", CMDU_TYPE_CHANNEL_SCAN_REQUEST,
         [=] { return map_send_ch_scan_request(kAgent, scan); }, dumps_of(std::vector{scan})},
        {"cac request", CMDU_TYPE_CAC_REQUEST, [=] { return map_send_CAC_request(kAgent, cac); },
         dumps_of(std::vector{cac})},
        {"cac termination", CMDU_TYPE_CAC_TERMINATION,
         [=] { return map_send_CAC_termination(kAgent, cact); }, dumps_of(std::vector{cact})},
        {"1905 ack", CMDU_TYPE_1905_ACK, [=] { return map_send_1905_ack(kAgent, 0x5151, {err}); },
         dumps_of(std::vector{err})},
        {"renew",
         CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW,
         [] { return send_autoconfig_renew(kAgent, IEEE1905_FREQ_BAND_5_GHZ); },
         {}},
    };
}

TEST_F(SenderTest, EverySenderDeliversItsMessageToTheAgent) {
    std::set<uint16_t> mids;
    for (const SendCase& c : every_sender()) {
        ASSERT_EQ(c.send(), MAP_SEND_OK) << c.what;
        const CMDU* got = receive(c.type);
        ASSERT_NE(got, nullptr) << c.what;
        EXPECT_EQ(got->src_al_mac, test_mac(1, 0)) << c.what;
        if (c.type == CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW)
            continue;  // below
        EXPECT_EQ(tlv_dumps(got), c.records) << c.what;
        if (c.type != CMDU_TYPE_1905_ACK)
            EXPECT_TRUE(mids.insert(got->message_id).second) << c.what << ": message id reused";
        else
            EXPECT_EQ(got->message_id, 0x5151);
    }

    // Renew: unicast to the agent, or relayed multicast to every agent.
    const CMDU* renew = agent_->last(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW);
    EXPECT_EQ(renew->relay_indicator, 0);
    EXPECT_EQ(first_tlv<al_mac_address_tlv>(renew)->al_mac_address, test_mac(1, 0));
    EXPECT_EQ(first_tlv<supported_role_tlv>(renew)->role, IEEE1905_ROLE_REGISTRAR);
    EXPECT_EQ(first_tlv<supported_freq_band_tlv>(renew)->freq_band, IEEE1905_FREQ_BAND_5_GHZ);
    ASSERT_EQ(send_autoconfig_renew(IEEE1905_MULTICAST_ADDRESS, IEEE1905_FREQ_BAND_2_4_GHZ),
              MAP_SEND_OK);
    renew = receive(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW);
    ASSERT_NE(renew, nullptr);
    EXPECT_EQ(renew->relay_indicator, 1);

    // A raw CMDU, multicast: the stack fills and reports the message id.
    CmduPtr vs = make_sample_cmdu("vendor_specific");
    uint16_t mid = 0;
    ASSERT_EQ(lib1905_send(nullptr, &mid, IEEE1905_MULTICAST_ADDRESS, vs.get()), MAP_SEND_OK);
    const CMDU* v = receive(CMDU_TYPE_VENDOR_SPECIFIC);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->message_id, mid);
    EXPECT_EQ(tlv_dumps(v), tlv_dumps(vs.get()));
}

// What the stack asks on its own, because the 1905 multicast that would tell it gets lost:
// whether an agent took a multicast renew (unicast to each agent whose M1 did not come).
TEST_F(SenderTest, TheStackFollowsAMulticastRenewUp) {
    Node other(&loop_, test_mac(3, 0), {{"ag1", test_mac(3, 1), seg_}}, false);
    ASSERT_TRUE(run([] { return get_ale(test_mac(3, 0)) != nullptr; }));
    // The agent ran a WSC exchange, so the registrar knows it. A multicast renew it takes
    // without answering: 3 s later it gets the renew unicast, sent again each second until
    // its M1 comes.
    CmduPtr m1 = make_sample_cmdu("autoconfig_wsc_m1");
    ASSERT_EQ(agent_->al().send(test_mac(1, 0), *m1, nullptr, true), 0);
    ASSERT_TRUE(run([] { return map_stack_registrar()->agents_tracked() == 1; }));
    const size_t renews = agent_->count(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW);
    ASSERT_EQ(send_autoconfig_renew(IEEE1905_MULTICAST_ADDRESS, IEEE1905_FREQ_BAND_2_4_GHZ),
              MAP_SEND_OK);
    ASSERT_TRUE(
        run([&] { return agent_->count(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW) == renews + 1; }));
    EXPECT_EQ(agent_->last(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW)->relay_indicator, 1);
    ozr_clock::advance(3000);
    map_stack_al()->tick();
    ASSERT_TRUE(
        run([&] { return agent_->count(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW) == renews + 2; }));
    EXPECT_EQ(agent_->last(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW)->relay_indicator, 0);
    EXPECT_EQ(other.count(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW), 1u)
        << "it sent no M1: not followed";
    const MapRequestStats before = map_stack_al()->requests().stats();
    ozr_clock::advance(1000);
    map_stack_al()->tick();
    ASSERT_TRUE(run([&] { return map_stack_al()->requests().stats().resends > before.resends; }));
    const size_t pending = map_stack_al()->requests().pending();
    m1 = make_sample_cmdu("autoconfig_wsc_m1");
    ASSERT_EQ(agent_->al().send(test_mac(1, 0), *m1, nullptr, true), 0);
    ASSERT_TRUE(run([&] { return map_stack_al()->requests().pending() == pending - 1; }));
    EXPECT_EQ(map_stack_al()->requests().stats().answered, before.answered + 1);
}

TEST_F(SenderTest, LocalAddressesComeFromTheConfiguration) {
    EXPECT_EQ(getMAPControllerAlMac(), test_mac(1, 0));
    EXPECT_EQ(getHktAlMac(), test_mac(1, 0));
    EXPECT_EQ(getMAPAgentAlMac(), MAC());
    EXPECT_EQ(PLATFORM_GET_MAC_ADDRESS(), test_mac(1, 1));
    EXPECT_EQ(set_topology_discovery_interval(0), -1);
    EXPECT_EQ(set_topology_discovery_interval(3601), -1);
    EXPECT_EQ(set_topology_discovery_interval(30), 0);
    EXPECT_EQ(map_stack_al()->discovery_interval(), 30u);
}

TEST_F(SenderTest, FailuresReturnTheirCodeWithOneLogLine) {
    LogCapture logs;
    MAC stranger = test_mac(66, 0);
    EXPECT_EQ(map_send_topology_query(stranger), MAP_SEND_UNKNOWN_AGENT);
    EXPECT_EQ(map_send_ap_capability_query(stranger), MAP_SEND_UNKNOWN_AGENT);
    EXPECT_EQ(LogCapture::count("unknown agent"), 2u);
    EXPECT_EQ(map_send_ap_metric_query(kAgent, {}), MAP_SEND_BAD_ARGUMENT);
    EXPECT_EQ(map_send_policy_config(kAgent, map_policy_config_t{}), MAP_SEND_BAD_ARGUMENT);
    EXPECT_EQ(send_autoconfig_renew(kAgent, 3), MAP_SEND_BAD_ARGUMENT);
    CmduPtr vs = make_sample_cmdu("vendor_specific");
    EXPECT_EQ(lib1905_send(nullptr, nullptr, kAgent, vs.get(), "nope0"), MAP_SEND_BAD_ARGUMENT);
    EXPECT_EQ(lib1905_send(nullptr, nullptr, kAgent, nullptr), MAP_SEND_BAD_ARGUMENT);
    // 256 BSSIDs do not fit the 8-bit count.
    std::vector<BSSID> many(256, BSSID(test_mac(9, 9)));
    size_t before = logs.lines().size();
    EXPECT_EQ(map_send_ap_metric_query(kAgent, many), MAP_SEND_ENCODE);
    EXPECT_GE(logs.lines().size(), before + 1);
    // Stopped: nothing leaves.
    map_stack_stop();
    EXPECT_EQ(map_send_topology_query(kAgent), MAP_SEND_NOT_READY);
    EXPECT_EQ(map_send_1905_ack(kAgent, 1), MAP_SEND_NOT_READY);
    EXPECT_EQ(lib1905_send(nullptr, nullptr, kAgent, vs.get()), MAP_SEND_NOT_READY);
}

TEST_F(SenderTest, CapturedFramesPassWiresharksDissector) {
    if (!have_tshark())
        GTEST_SKIP() << "tshark is not installed; the sent frames were not dissected";
    std::set<unsigned long long> want = {CMDU_TYPE_TOPOLOGY_DISCOVERY,
                                         CMDU_TYPE_TOPOLOGY_NOTIFICATION};
    for (const SendCase& c : every_sender()) {
        // A known gap of the dissector (the conformance test lists it): it stops inside the
        // Beacon Metrics Query TLV.
        if (c.type == CMDU_TYPE_BEACON_METRICS_QUERY)
            continue;
        EXPECT_EQ(c.send(), MAP_SEND_OK) << c.what;
        want.insert(c.type);
    }
    // Searches answered on the wire too.
    CmduPtr search = make_sample_cmdu("autoconfig_search");
    for (size_t i = 0; search->list_of_TLVs[i]; ++i) {
        if (auto* al = tlv_cast<al_mac_address_tlv>(search->list_of_TLVs[i]))
            al->al_mac_address = kAgent;
    }
    ASSERT_EQ(agent_->al().send(IEEE1905_MULTICAST_ADDRESS, *search, nullptr, true), 0);
    want.insert(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE);
    want.insert(CMDU_TYPE_TOPOLOGY_RESPONSE);  // the answer to the agent's query below
    CmduPtr q = CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 0).build();
    ASSERT_EQ(agent_->al().send(test_mac(1, 0), *q, nullptr, true), 0);
    want.insert(CMDU_TYPE_LINK_METRIC_RESPONSE);
    CmduPtr lq = CmduBuilder(CMDU_TYPE_LINK_METRIC_QUERY, 0).add(link_metric_query_tlv{}).build();
    ASSERT_EQ(agent_->al().send(test_mac(1, 0), *lq, nullptr, true), 0);
    ASSERT_TRUE(run([&] {
        return agent_->count(CMDU_TYPE_LINK_METRIC_RESPONSE) == 1 &&
               agent_->count(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE) == 1 &&
               agent_->count(CMDU_TYPE_TOPOLOGY_RESPONSE) == 1 &&
               agent_->count(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW) == 1;
    }));
    map_stack_stop();  // flushes and closes the capture

    auto packets = parse_pdml(run_tshark(pcap_));
    ASSERT_FALSE(packets.empty()) << "tshark read nothing from " << pcap_;
    std::set<unsigned long long> seen;
    const std::string ours = "02:00:00:00:01:";
    for (const auto& fields : packets) {
        std::string src;
        unsigned long long type = ~0ull;
        for (const auto& f : fields) {
            if (f.name == "eth.src" && src.empty())
                src = f.show;
            if (f.name == "ieee1905.message_type" && type == ~0ull)
                parse_number(f.show, type);
        }
        if (src.compare(0, ours.size(), ours) != 0)
            continue;  // the agent's frames
        ASSERT_NE(type, ~0ull) << "tshark saw no 1905 message in a frame from " << src;
        seen.insert(type);
        EXPECT_EQ(expert_complaints(fields), std::vector<std::string>{})
            << "message type 0x" << std::hex << type;
    }
    EXPECT_EQ(seen, want);
}

}  // namespace
