// The simulator seen from the controller's side of the segment: a test-side
// transport sends real CMDUs to the agents and decodes what comes back.
#include <gtest/gtest.h>
#include <unistd.h>
#include <uv.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/clock.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "map/codec/wsc.h"
#include "map/ieee80211/assoc.h"
#include "map/map_log.h"
#include "map/transport/segment_transport.h"
#include "scenario.h"
#include "sim.h"

namespace {

const MAC kCtlAl(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x00);
const MAC kCtlIf(0x02, 0x6f, 0x7a, 0x72, 0x00, 0x01);
const MAC kGateway(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x00);
const MAC kExtWired(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x00);
const MAC kExtWifi(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x00);
const MAC kExtWifiBsta(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x30);
const BSSID kGw5(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x21);
const BSSID kGwBh(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x22);
const BSSID kWired5(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x21);
const BSSID kWiredBh(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x22);
const MAC kPhone(0x02, 0xc1, 0, 0, 0, 0x01);
const MAC kLaptop(0x02, 0xc1, 0, 0, 0, 0x02);
const MAC kTv(0x02, 0xc1, 0, 0, 0, 0x03);

std::string next_segment() {
    static int n = 0;
    const int pid = static_cast<int>(getpid());
    return "239.203." + std::to_string((pid >> 8) & 0xff) + "." + std::to_string(pid & 0xff) + ":" +
           std::to_string(31000 + (pid % 1000) * 10 + (n++ % 10));
}

struct Received {
    MAC src, dst;
    CmduPtr cmdu;
};

template <class T>
const T* find_tlv(const CMDU& c) {
    for (size_t i = 0; c.list_of_TLVs && c.list_of_TLVs[i]; ++i) {
        if (*c.list_of_TLVs[i] == tlv_record_type<T>::value)
            return tlv_cast<T>(c.list_of_TLVs[i]);
    }
    return nullptr;
}

template <class T>
std::vector<const T*> all_tlvs(const CMDU& c) {
    std::vector<const T*> out;
    for (size_t i = 0; c.list_of_TLVs && c.list_of_TLVs[i]; ++i) {
        if (*c.list_of_TLVs[i] == tlv_record_type<T>::value)
            out.push_back(tlv_cast<T>(c.list_of_TLVs[i]));
    }
    return out;
}

// The default scenario's mesh, with a controller stand-in on the same segment.
class MeshsimTest : public ::testing::Test {
  protected:
    virtual const char* scenario_file() const { return "default.json"; }
    void SetUp() override {
        uv_loop_init(&loop_);
        segment_ = next_segment();
        std::string error;
        meshsim::Scenario s;
        ASSERT_EQ(meshsim::scenario_load(std::string(MESHSIM_SCENARIOS) + "/" + scenario_file(), s,
                                         &error),
                  0)
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
                              got_.push_back({src, MAC(f), std::move(c)});
                      },
                      &error),
                  0)
            << error;
        ASSERT_EQ(sim_->start(&loop_, &error), 0) << error;
        guard_ = new uv_timer_t;
        uv_timer_init(&loop_, guard_);
    }

    void TearDown() override {
        sim_->stop();
        ctl_->close();
        uv_close(reinterpret_cast<uv_handle_t*>(guard_),
                 [](uv_handle_t* h) { delete reinterpret_cast<uv_timer_t*>(h); });
        uv_run(&loop_, UV_RUN_DEFAULT);
        EXPECT_EQ(uv_loop_close(&loop_), 0);
        unlink(pcap_.c_str());
    }

    // Runs the loop until PRED holds or 3 s pass (a failure).
    bool run_until(const std::function<bool()>& pred) {
        bool expired = false;
        guard_->data = &expired;
        uv_timer_start(
            guard_, [](uv_timer_t* t) { *static_cast<bool*>(t->data) = true; }, 3000, 0);
        while (!pred() && !expired)
            uv_run(&loop_, UV_RUN_ONCE);
        uv_timer_stop(guard_);
        return pred();
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

    // How many CMDUs of TYPE from SRC (and MID when not negative) came.
    size_t count(uint16_t type, const MAC& src, int mid = -1) const {
        size_t n = 0;
        for (const auto& r : got_)
            n += r.cmdu->message_type == type && r.src == src &&
                 (mid < 0 || r.cmdu->message_id == mid);
        return n;
    }
    // Runs the loop for MS milliseconds.
    void run_for(int ms) {
        bool expired = false;
        guard_->data = &expired;
        uv_timer_start(
            guard_, [](uv_timer_t* t) { *static_cast<bool*>(t->data) = true; },
            static_cast<uint64_t>(ms), 0);
        while (!expired)
            uv_run(&loop_, UV_RUN_ONCE);
    }
    // The first received CMDU of TYPE from SRC (and MID when not negative).
    const Received* find(uint16_t type, const MAC& src, int mid = -1) const {
        for (const auto& r : got_) {
            if (r.cmdu->message_type == type && r.src == src &&
                (mid < 0 || r.cmdu->message_id == mid)) {
                return &r;
            }
        }
        return nullptr;
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
            const auto* e = find_tlv<client_association_event_tlv>(*r.cmdu);
            if (e && e->client_mac == sta && e->bssid == bssid &&
                e->association_event == (joined ? 1 : 0)) {
                return true;
            }
        }
        return false;
    }

    CmduPtr topology_of(const MAC& agent, uint16_t mid) {
        send(agent, CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, mid).build());
        const Received* r = await(CMDU_TYPE_TOPOLOGY_RESPONSE, agent, mid);
        if (!r)
            return CmduPtr();
        std::vector<std::vector<uint8_t>> frags;
        encode_1905_CMDU(*r->cmdu, frags);
        return frags.size() == 1 ? decode_1905_CMDU(frags[0].data(), frags[0].size()) : CmduPtr();
    }

    uv_loop_t loop_;
    std::string segment_, pcap_;
    std::unique_ptr<meshsim::Sim> sim_;
    std::unique_ptr<Transport> ctl_;
    CmduReassembler reasm_;
    std::vector<Received> got_;
    uv_timer_t* guard_ = nullptr;
};

TEST_F(MeshsimTest, AutoconfigSearchThenM1WithSerialPerRadio) {
    const Received* search = await(CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH, kExtWired);
    ASSERT_TRUE(search);
    EXPECT_EQ(search->dst, IEEE1905_MULTICAST_ADDRESS);
    EXPECT_EQ(search->cmdu->relay_indicator, 1);
    const auto* al = find_tlv<al_mac_address_tlv>(*search->cmdu);
    ASSERT_TRUE(al);
    EXPECT_EQ(al->al_mac_address, kExtWired);
    ASSERT_TRUE(find_tlv<searched_service_tlv>(*search->cmdu));
    // Answer: the agent sends one M1 per radio, carrying its serial number.
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE, search->cmdu->message_id);
    b.add(supported_role_tlv{}).add(supported_freq_band_tlv{});
    send(kExtWired, b.build());
    ASSERT_TRUE(run_until([&] {
        size_t n = 0;
        for (const auto& r : got_) {
            n += r.cmdu->message_type == CMDU_TYPE_AP_AUTOCONFIGURATION_WSC && r.src == kExtWired;
        }
        return n == 2;
    }));
    EXPECT_TRUE(sim_->configured(1));
    EXPECT_FALSE(sim_->configured(2));
    const Received* m1 = find(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, kExtWired);
    const auto* w = find_tlv<wsc_tlv>(*m1->cmdu);
    ASSERT_TRUE(w);
    wsc_message msg;
    ASSERT_TRUE(wsc_parse_message(w->wsc_frame.data(), w->wsc_frame.size(), msg));
    EXPECT_EQ(msg.message_type, WSC_MSG_M1);
    EXPECT_EQ(msg.serial_number, "EX2026000002");
    EXPECT_EQ(msg.mac_address, kExtWired);
    const auto* caps = find_tlv<ap_radio_basic_capabilities_tlv>(*m1->cmdu);
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->radio_id, MAC(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x10));
    // No M2 comes: each radio sends a fresh M1 (new key and nonce), then waits longer.
    ASSERT_TRUE(
        run_until([&] { return count(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, kExtWired) == 4; }));
    std::vector<std::vector<uint8_t>> m1s;
    for (const auto& r : got_)
        if (r.cmdu->message_type == CMDU_TYPE_AP_AUTOCONFIGURATION_WSC && r.src == kExtWired)
            m1s.push_back(find_tlv<wsc_tlv>(*r.cmdu)->wsc_frame);
    EXPECT_NE(m1s[0], m1s[2]);
    run_for(500);  // the next ones wait 800 ms
    EXPECT_EQ(count(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, kExtWired), 4u);
}

TEST_F(MeshsimTest, GatewayDiscoversToTheControllerOnly) {
    const Received* d =
        await(CMDU_TYPE_TOPOLOGY_DISCOVERY, MAC(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x01));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->dst, IEEE1905_MULTICAST_ADDRESS);
    EXPECT_EQ(find_tlv<al_mac_address_tlv>(*d->cmdu)->al_mac_address, kGateway);
    EXPECT_EQ(find_tlv<mac_address_tlv>(*d->cmdu)->mac_address,
              MAC(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x01));
    // The extenders' discoveries go to their neighbours' interfaces: never to us.
    for (const auto& r : got_) {
        if (r.cmdu->message_type != CMDU_TYPE_TOPOLOGY_DISCOVERY)
            continue;
        EXPECT_EQ(find_tlv<al_mac_address_tlv>(*r.cmdu)->al_mac_address, kGateway);
    }
    // Our own discovery (as at a controller's start) is answered at once, not a
    // period later; an extender, not our neighbour, stays quiet.
    got_.clear();
    CmduPtr ours = CmduBuilder(CMDU_TYPE_TOPOLOGY_DISCOVERY, 0x99)
                       .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, kCtlAl})
                       .add(mac_address_tlv{TLV_TYPE_MAC_ADDRESS_TYPE, kCtlIf})
                       .build();
    send(IEEE1905_MULTICAST_ADDRESS, std::move(ours));
    ASSERT_TRUE(await(CMDU_TYPE_TOPOLOGY_DISCOVERY, MAC(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x01)));
    for (const auto& r : got_) {
        if (r.cmdu->message_type != CMDU_TYPE_TOPOLOGY_DISCOVERY)
            continue;
        EXPECT_EQ(find_tlv<al_mac_address_tlv>(*r.cmdu)->al_mac_address, kGateway);
    }
}

TEST_F(MeshsimTest, TopologyResponseDescribesTheGateway) {
    CmduPtr c = topology_of(kGateway, 0x4242);
    ASSERT_TRUE(c) << "no topology response, or it does not survive a re-encode";
    const auto* dev = find_tlv<device_information_tlv>(*c);
    ASSERT_TRUE(dev);
    EXPECT_EQ(dev->al_mac_address, kGateway);
    EXPECT_EQ(dev->local_interfaces.size(), 5u);  // 2 ports, 3 BSSs
    // Neighbours: the controller on lan0, ext-wired on lan1, ext-wifi on the backhaul BSS.
    std::map<MAC, MAC> neighbour_on;
    for (const auto* n : all_tlvs<neighbor_device_list_tlv>(*c)) {
        for (const auto& x : n->neighbors)
            neighbour_on[x.al_mac_address] = n->local_mac_address;
    }
    ASSERT_EQ(neighbour_on.size(), 3u);
    EXPECT_EQ(neighbour_on[kCtlAl], MAC(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x01));
    EXPECT_EQ(neighbour_on[kExtWired], MAC(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x02));
    EXPECT_EQ(neighbour_on[kExtWifi], kGwBh);
    // Clients per BSS, the wireless extender's backhaul STA on the backhaul BSS.
    const auto* ac = find_tlv<associated_clients_tlv>(*c);
    ASSERT_TRUE(ac);
    std::map<MAC, BSSID> on;
    for (const auto& b : ac->bsss) {
        for (const auto& cl : b.clients)
            on[cl.mac] = b.bssid;
    }
    EXPECT_EQ(on.size(), 5u);
    EXPECT_EQ(on[kPhone], kGw5);
    EXPECT_EQ(on[kExtWifiBsta], kGwBh);
    ASSERT_TRUE(find_tlv<ap_operational_bss_tlv>(*c));
    EXPECT_EQ(find_tlv<ap_operational_bss_tlv>(*c)->radios.size(), 2u);
    ASSERT_TRUE(find_tlv<multiap_profile_tlv>(*c));

    // The wireless extender reports its backhaul STA joined to the gateway's backhaul BSS.
    CmduPtr w = topology_of(kExtWifi, 0x4243);
    ASSERT_TRUE(w);
    const auto* wdev = find_tlv<device_information_tlv>(*w);
    bool bsta = false;
    for (const auto& li : wdev->local_interfaces) {
        if (li.mac_address != kExtWifiBsta)
            continue;
        bsta = true;
        EXPECT_EQ(li.ieee80211.role, IEEE80211_ROLE_NON_AP_STA);
        EXPECT_EQ(li.ieee80211.network_membership, kGwBh);
    }
    EXPECT_TRUE(bsta);
}

TEST_F(MeshsimTest, MetricQueriesGetConsistentAnswers) {
    // Associated STA link metrics: RCPI from the scenario's -50 dBm.
    send(kGateway, CmduBuilder(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_QUERY, 7)
                       .add(sta_mac_address_tlv{TLV_TYPE_STA_MAC_ADDRESS, kPhone})
                       .build());
    const Received* r = await(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, kGateway, 7);
    ASSERT_TRUE(r);
    const auto* lm = find_tlv<associated_sta_link_metrics_tlv>(*r->cmdu);
    ASSERT_TRUE(lm);
    ASSERT_EQ(lm->bssids.size(), 1u);
    EXPECT_EQ(lm->bssids[0].bssid, kGw5);
    EXPECT_EQ(lm->bssids[0].uplink_rcpi, 120);
    EXPECT_GT(lm->bssids[0].downlink_rate, 0u);
    // A station not associated here: error code TLV.
    send(kGateway, CmduBuilder(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_QUERY, 8)
                       .add(sta_mac_address_tlv{TLV_TYPE_STA_MAC_ADDRESS, kTv})
                       .build());
    r = await(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, kGateway, 8);
    ASSERT_TRUE(r);
    ASSERT_TRUE(find_tlv<error_code_tlv>(*r->cmdu));
    EXPECT_EQ(find_tlv<error_code_tlv>(*r->cmdu)->sta_mac, kTv);

    // 1905 link metrics: one neighbour asked for, one unknown.
    send(kGateway, CmduBuilder(CMDU_TYPE_LINK_METRIC_QUERY, 9)
                       .add(link_metric_query_tlv{TLV_TYPE_LINK_METRIC_QUERY,
                                                  LINK_METRIC_QUERY_SPECIFIC_NEIGHBOR, kExtWifi,
                                                  LINK_METRIC_TX_AND_RX})
                       .build());
    r = await(CMDU_TYPE_LINK_METRIC_RESPONSE, kGateway, 9);
    ASSERT_TRUE(r);
    const auto* tx = find_tlv<transmitter_link_metric_tlv>(*r->cmdu);
    const auto* rx = find_tlv<receiver_link_metric_tlv>(*r->cmdu);
    ASSERT_TRUE(tx && rx);
    EXPECT_EQ(tx->neighbor_al_mac_address, kExtWifi);
    ASSERT_EQ(tx->links.size(), 1u);
    EXPECT_EQ(tx->links[0].local_interface_mac, kGwBh);
    EXPECT_EQ(tx->links[0].neighbor_interface_mac, kExtWifiBsta);
    EXPECT_EQ(rx->links[0].rssi, 96);  // -62 dBm
    send(kGateway, CmduBuilder(CMDU_TYPE_LINK_METRIC_QUERY, 10)
                       .add(link_metric_query_tlv{TLV_TYPE_LINK_METRIC_QUERY,
                                                  LINK_METRIC_QUERY_SPECIFIC_NEIGHBOR,
                                                  MAC(2, 9, 9, 9, 9, 9), LINK_METRIC_TX_AND_RX})
                       .build());
    r = await(CMDU_TYPE_LINK_METRIC_RESPONSE, kGateway, 10);
    ASSERT_TRUE(r);
    EXPECT_TRUE(find_tlv<link_metric_result_code_tlv>(*r->cmdu));

    // AP metrics for one BSS: its load and each station's traffic and link.
    CmduBuilder q(CMDU_TYPE_AP_METRICS_QUERY, 11);
    q.add<ap_metric_query_tlv>().bssids.push_back(kGw5);
    send(kGateway, q.build());
    r = await(CMDU_TYPE_AP_METRICS_RESPONSE, kGateway, 11);
    ASSERT_TRUE(r);
    auto metrics = all_tlvs<ap_metrics_tlv>(*r->cmdu);
    ASSERT_EQ(metrics.size(), 1u);
    EXPECT_EQ(metrics[0]->num_associated_stas, 2);  // phone, console
    EXPECT_EQ(all_tlvs<associated_sta_traffic_stats_tlv>(*r->cmdu).size(), 2u);

    // Unassociated: the laptop (on ext-wired) heard by the gateway's 5 GHz radio.
    CmduBuilder u(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY, 12);
    auto& uq = u.add<unassociated_sta_link_metrics_query_tlv>();
    uq.op_class = 115;
    uq.channels.push_back({36, 2, {kLaptop, kPhone}});
    send(kGateway, u.build());
    ASSERT_TRUE(await(CMDU_TYPE_1905_ACK, kGateway, 12));
    ASSERT_TRUE(run_until([&] {
        for (const auto& x : got_) {
            if (x.cmdu->message_type == CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE)
                return true;
        }
        return false;
    }));
    for (const auto& x : got_) {
        if (x.cmdu->message_type != CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE)
            continue;
        const auto* ur = find_tlv<unassociated_sta_link_metrics_response_tlv>(*x.cmdu);
        ASSERT_TRUE(ur);
        ASSERT_EQ(ur->stas.size(), 1u);  // the phone is associated here: not reported
        EXPECT_EQ(ur->stas[0].mac, kLaptop);
        EXPECT_EQ(ur->stas[0].uplink_rcpi, 74);  // -73 dBm
    }
}

TEST_F(MeshsimTest, ClientCapabilityBodyParsesAsTheClient) {
    send(kGateway, CmduBuilder(CMDU_TYPE_CLIENT_CAPABILITY_QUERY, 20)
                       .add(client_info_tlv{TLV_TYPE_CLIENT_INFO, kGw5, kPhone})
                       .build());
    const Received* r = await(CMDU_TYPE_CLIENT_CAPABILITY_REPORT, kGateway, 20);
    ASSERT_TRUE(r);
    const auto* rep = find_tlv<client_capability_report_tlv>(*r->cmdu);
    ASSERT_TRUE(rep);
    ASSERT_EQ(rep->result_code, CLIENT_CAPABILITY_SUCCESS);
    map_sta_assoc_caps caps{};
    const uint8_t ssid[] = {'H', 'o', 'm', 'e'};
    ASSERT_EQ(map_80211_parse_assoc_body(&caps, rep->frame_body.data(), rep->frame_body.size(), 1,
                                         ssid, 4),
              0);
    EXPECT_TRUE(caps.btm_support);
    EXPECT_TRUE(caps.rrm_support);
    EXPECT_TRUE(caps.ht_support);
    EXPECT_TRUE(caps.vht_support);
    EXPECT_TRUE(caps.he_support);
    EXPECT_EQ(caps.max_rx_spatial_streams, 2);
    EXPECT_TRUE(caps.supported_bands & MAP_STA_BAND_5G);
    EXPECT_TRUE(caps.supported_bands & MAP_STA_BAND_2G);
    EXPECT_FALSE(caps.is_reassoc);
    // Not associated to this agent: failure and an error code.
    send(kGateway, CmduBuilder(CMDU_TYPE_CLIENT_CAPABILITY_QUERY, 21)
                       .add(client_info_tlv{TLV_TYPE_CLIENT_INFO, kGw5, kTv})
                       .build());
    r = await(CMDU_TYPE_CLIENT_CAPABILITY_REPORT, kGateway, 21);
    ASSERT_TRUE(r);
    EXPECT_NE(find_tlv<client_capability_report_tlv>(*r->cmdu)->result_code,
              CLIENT_CAPABILITY_SUCCESS);
    EXPECT_TRUE(find_tlv<error_code_tlv>(*r->cmdu));
}

TEST_F(MeshsimTest, ClientSteeringMovesABtmClientOnly) {
    auto steer = [&](const MAC& agent, uint16_t mid, const BSSID& from, const MAC& sta,
                     const BSSID& to) {
        CmduBuilder b(CMDU_TYPE_CLIENT_STEERING_REQUEST, mid);
        auto& s = b.add<steering_request_tlv>();
        s.bssid = from;
        s.request_mode = 1;
        s.btm_disassociation_imminent = 1;
        s.stas.push_back(sta);
        s.targets.push_back({to, 115, 36});
        send(agent, b.build());
    };
    steer(kExtWired, 30, kWired5, kLaptop, kGw5);
    ASSERT_TRUE(await(CMDU_TYPE_1905_ACK, kExtWired, 30));
    const Received* rep = await(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, kExtWired);
    ASSERT_TRUE(rep);
    const auto* btm = find_tlv<steering_btm_report_tlv>(*rep->cmdu);
    ASSERT_TRUE(btm);
    EXPECT_EQ(btm->btm_status_code, 0);
    EXPECT_EQ(btm->target_bssid, kGw5);
    ASSERT_TRUE(run_until([&] {
        return notified(kExtWired, kLaptop, kWired5, false) &&
               notified(kGateway, kLaptop, kGw5, true);
    }));
    EXPECT_EQ(sim_->client_bss(1), kGw5);
    // The laptop is now in the gateway's topology.
    CmduPtr c = topology_of(kGateway, 31);
    ASSERT_TRUE(c);
    bool seen = false;
    for (const auto& b : find_tlv<associated_clients_tlv>(*c)->bsss) {
        for (const auto& cl : b.clients)
            seen = seen || (cl.mac == kLaptop && b.bssid == kGw5);
    }
    EXPECT_TRUE(seen);
    // The TV has no BSS transition management: a mandate with disassociation imminent
    // drops it (it joins again later, on its own).
    steer(kExtWifi, 32, BSSID(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x21), kTv, kGw5);
    ASSERT_TRUE(await(CMDU_TYPE_1905_ACK, kExtWifi, 32));
    ASSERT_TRUE(run_until([&] { return sim_->client_bss(2).is_zero(); }));
}

TEST_F(MeshsimTest, BlockedTargetsAreRefusedAndABroadcastTargetLetsTheClientChoose) {
    client_association_control_request_tlv a;
    a.bssid = kWired5;
    a.association_control = ASSOCIATION_CONTROL_BLOCK;
    a.validity_period = 60;
    a.stas.push_back(kPhone);
    a.num_stas = 1;
    CmduBuilder acl(CMDU_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST, 50);
    acl.add(a);
    send(kExtWired, acl.build());
    ASSERT_TRUE(await(CMDU_TYPE_1905_ACK, kExtWired, 50));
    EXPECT_TRUE(sim_->client_blocked(kWired5, kPhone));
    EXPECT_FALSE(sim_->client_blocked(kWired5, kLaptop));
    auto steer = [&](const MAC& agent, uint16_t mid, const BSSID& from, const MAC& sta,
                     const BSSID& to) {
        CmduBuilder b(CMDU_TYPE_CLIENT_STEERING_REQUEST, mid);
        auto& s = b.add<steering_request_tlv>();
        s.bssid = from;
        s.steering_opportunity_window = 63;
        s.stas.push_back(sta);
        s.targets.push_back({to, 115, 36});
        send(agent, b.build());
    };
    steer(kGateway, 51, kGw5, kPhone, kWired5);
    const Received* rep = await(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, kGateway);
    ASSERT_TRUE(rep);
    EXPECT_EQ(find_tlv<steering_btm_report_tlv>(*rep->cmdu)->btm_status_code, 7);
    EXPECT_EQ(sim_->client_bss(0), kGw5);
    // The laptop may go anywhere: it takes the BSS it hears best (the wireless extender's).
    const BSSID ext_wifi5(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x21);
    steer(kExtWired, 52, kWired5, kLaptop, BSSID::broadcast);
    rep = await(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, kExtWired);
    ASSERT_TRUE(rep);
    const auto* btm = find_tlv<steering_btm_report_tlv>(*rep->cmdu);
    EXPECT_EQ(btm->btm_status_code, 0);
    EXPECT_EQ(btm->target_bssid, ext_wifi5);
    ASSERT_TRUE(run_until([&] { return sim_->client_bss(1) == ext_wifi5; }));
    // Unblocked: the phone may join the wired extender again.
    a.association_control = ASSOCIATION_CONTROL_UNBLOCK;
    CmduBuilder un(CMDU_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST, 53);
    un.add(a);
    send(kExtWired, un.build());
    ASSERT_TRUE(await(CMDU_TYPE_1905_ACK, kExtWired, 53));
    EXPECT_FALSE(sim_->client_blocked(kWired5, kPhone));
}

TEST_F(MeshsimTest, BackhaulSteeringMovesTheBackhaulStaOrRefuses) {
    CmduBuilder bad(CMDU_TYPE_BACKHAUL_STEERING_REQUEST, 40);
    bad.add(backhaul_steering_request_tlv{TLV_TYPE_BACKHAUL_STEERING_REQUEST, kExtWifiBsta, kWired5,
                                          125, 149});
    send(kExtWifi, bad.build());  // a fronthaul BSS: refused
    ASSERT_TRUE(await(CMDU_TYPE_1905_ACK, kExtWifi, 40));
    const Received* r = await(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, kExtWifi);
    ASSERT_TRUE(r);
    EXPECT_EQ(find_tlv<backhaul_steering_response_tlv>(*r->cmdu)->result_code,
              BACKHAUL_STEERING_FAILURE);
    EXPECT_EQ(sim_->agent_parent(2), 0);
    got_.clear();

    // Each refusal carries its reason: 5 the target is not heard, 4 the channel is not
    // the target's, 6 not a backhaul BSS (above); a scenario event changes what is heard.
    auto refusal = [&](uint16_t mid, const BSSID& target, uint8_t op_class, uint8_t channel) {
        CmduBuilder q(CMDU_TYPE_BACKHAUL_STEERING_REQUEST, mid);
        q.add(backhaul_steering_request_tlv{TLV_TYPE_BACKHAUL_STEERING_REQUEST, kExtWifiBsta,
                                            target, op_class, channel});
        send(kExtWifi, q.build());
        const Received* a = await(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, kExtWifi);
        int reason = a &&
                             find_tlv<backhaul_steering_response_tlv>(*a->cmdu)->result_code ==
                                 BACKHAUL_STEERING_FAILURE &&
                             find_tlv<error_code_tlv>(*a->cmdu)
                         ? find_tlv<error_code_tlv>(*a->cmdu)->reason_code
                         : -1;
        got_.clear();
        return reason;
    };
    EXPECT_EQ(refusal(43, kWiredBh, 115, 36), 4);
    meshsim::EventConf weak;
    weak.kind = meshsim::EventConf::bsta_rssi;
    weak.index = 2;
    weak.levels[kWiredBh] = -90;
    sim_->apply(weak);
    EXPECT_EQ(refusal(44, kWiredBh, 125, 149), 5);
    EXPECT_EQ(refusal(45, BSSID(0x02, 0x6f, 0x7a, 0x72, 0x09, 0x22), 0, 0), 5);  // unknown
    weak.levels[kWiredBh] = -50;
    sim_->apply(weak);
    EXPECT_EQ(sim_->agent_parent(2), 0);

    CmduBuilder ok(CMDU_TYPE_BACKHAUL_STEERING_REQUEST, 41);
    ok.add(backhaul_steering_request_tlv{TLV_TYPE_BACKHAUL_STEERING_REQUEST, kExtWifiBsta, kWiredBh,
                                         125, 149});
    send(kExtWifi, ok.build());
    r = await(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, kExtWifi);
    ASSERT_TRUE(r);
    EXPECT_EQ(find_tlv<backhaul_steering_response_tlv>(*r->cmdu)->result_code,
              BACKHAUL_STEERING_SUCCESS);
    ASSERT_TRUE(run_until([&] {
        return notified(kGateway, kExtWifiBsta, kGwBh, false) &&
               notified(kExtWired, kExtWifiBsta, kWiredBh, true);
    }));
    EXPECT_EQ(sim_->agent_parent(2), 1);
    CmduPtr c = topology_of(kExtWired, 42);
    ASSERT_TRUE(c);
    bool neighbour = false;
    for (const auto* n : all_tlvs<neighbor_device_list_tlv>(*c)) {
        for (const auto& x : n->neighbors)
            neighbour =
                neighbour || (x.al_mac_address == kExtWifi && n->local_mac_address == kWiredBh);
    }
    EXPECT_TRUE(neighbour);
}

TEST_F(MeshsimTest, AcknowledgesPolicyAndAssociationControl) {
    CmduBuilder p(CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST, 50);
    p.add<steering_policy_tlv>();
    send(kExtWired, p.build());
    EXPECT_TRUE(await(CMDU_TYPE_1905_ACK, kExtWired, 50));
    CmduBuilder a(CMDU_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST, 51);
    auto& ac = a.add<client_association_control_request_tlv>();
    ac.bssid = kGw5;
    ac.stas.push_back(kTv);
    send(kGateway, a.build());
    EXPECT_TRUE(await(CMDU_TYPE_1905_ACK, kGateway, 51));
    send(kGateway, CmduBuilder(CMDU_TYPE_CHANNEL_PREFERENCE_QUERY, 52).build());
    const Received* r = await(CMDU_TYPE_CHANNEL_PREFERENCE_REPORT, kGateway, 52);
    ASSERT_TRUE(r);
    EXPECT_EQ(all_tlvs<channel_preference_tlv>(*r->cmdu).size(), 2u);
    CmduBuilder scan(CMDU_TYPE_CHANNEL_SCAN_REQUEST, 53);
    auto& sr = scan.add<channel_scan_request_tlv>();
    sr.perform_fresh_scan = 1;
    sr.radios.push_back({MAC(0x02, 0x6f, 0x7a, 0x72, 0x01, 0x20), 1, {{115, 1, {36}}}});
    send(kGateway, scan.build());
    ASSERT_TRUE(await(CMDU_TYPE_1905_ACK, kGateway, 53));
    r = await(CMDU_TYPE_CHANNEL_SCAN_REPORT, kGateway);
    ASSERT_TRUE(r);
    auto results = all_tlvs<channel_scan_result_tlv>(*r->cmdu);
    ASSERT_FALSE(results.empty());
    // ext-wifi's 5 GHz BSS shares channel 36.
    bool heard = false;
    for (const auto* res : results) {
        for (const auto& n : res->neighbors)
            heard = heard || n.bssid == BSSID(0x02, 0x6f, 0x7a, 0x72, 0x03, 0x21);
    }
    EXPECT_TRUE(heard);
    send(kGateway, CmduBuilder(CMDU_TYPE_AP_CAPABILITY_QUERY, 54).build());
    r = await(CMDU_TYPE_AP_CAPABILITY_REPORT, kGateway, 54);
    ASSERT_TRUE(r);
    EXPECT_TRUE(find_tlv<ap_capability_tlv>(*r->cmdu));
    EXPECT_EQ(all_tlvs<ap_radio_basic_capabilities_tlv>(*r->cmdu).size(), 2u);
    EXPECT_EQ(all_tlvs<ap_he_capabilities_tlv>(*r->cmdu).size(), 2u);
}

TEST_F(MeshsimTest, TimelineRoamAndSilentExtender) {
    sim_->run_timeline_until(50000);  // the laptop's signal drops, then it roams to the gateway
    ASSERT_TRUE(run_until([&] { return notified(kGateway, kLaptop, kGw5, true); }));
    EXPECT_TRUE(notified(kExtWired, kLaptop, kWired5, false));
    EXPECT_EQ(sim_->client_bss(1), kGw5);

    sim_->run_timeline_until(150000);  // ext-wifi goes silent
    EXPECT_FALSE(sim_->reachable(2));
    ASSERT_TRUE(run_until([&] { return notified(kGateway, kExtWifiBsta, kGwBh, false); }));
    const uint64_t dropped = sim_->stats().frames_dropped;
    send(kExtWifi, CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 60).build());
    ASSERT_TRUE(run_until([&] { return sim_->stats().frames_dropped > dropped; }));
    EXPECT_FALSE(find(CMDU_TYPE_TOPOLOGY_RESPONSE, kExtWifi, 60));
    // The gateway no longer names it.
    CmduPtr c = topology_of(kGateway, 61);
    ASSERT_TRUE(c);
    for (const auto* n : all_tlvs<neighbor_device_list_tlv>(*c)) {
        for (const auto& x : n->neighbors)
            EXPECT_NE(x.al_mac_address, kExtWifi);
    }
    sim_->run_timeline_until(270000);  // back
    EXPECT_TRUE(sim_->reachable(2));
    EXPECT_TRUE(topology_of(kExtWifi, 62));
    sim_->run_timeline_until(330000);  // ext-wired's cable is pulled
    EXPECT_FALSE(sim_->reachable(1));
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
    EXPECT_TRUE(topology_of(kGateway, 0x7777));
}

}  // namespace

namespace {

size_t ozr_test_count_lines(const std::string& s) {
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

// Frames tshark finds malformed or warns about: "frame,message type,expert message" lines.
std::string tshark_complaints(const std::string& pcap) {
    const std::string cmd =
        "/usr/bin/tshark -r " + pcap +
        " -Y '_ws.malformed || _ws.expert.severity >= 6291456' -T fields -E separator=, "
        "-e frame.number -e ieee1905.message_type -e _ws.expert.message 2>/dev/null";
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return "cannot run tshark";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
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
    CmduBuilder st(CMDU_TYPE_CLIENT_STEERING_REQUEST, 11);
    auto& sr = st.add<steering_request_tlv>();
    sr.bssid = kWired5;
    sr.request_mode = 1;
    sr.stas.push_back(kLaptop);
    sr.targets.push_back({kGw5, 115, 36});
    send(kExtWired, st.build());
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
    const std::string complaints = tshark_complaints(pcap_);
    ASSERT_EQ(ozr_test_count_lines(complaints), 1u) << complaints;
    EXPECT_NE(complaints.find(",0x0002,"), std::string::npos) << complaints;
    // The capture holds what we think it holds.
    FILE* p = popen(("/usr/bin/tshark -r " + pcap_ + " 2>/dev/null | wc -l").c_str(), "r");
    ASSERT_TRUE(p);
    unsigned frames = 0;
    EXPECT_EQ(fscanf(p, "%u", &frames), 1);
    pclose(p);
    EXPECT_GE(frames, 25u);
}

namespace {
// Radio of ext-wired (5 GHz, class 125 channel 149 in the scenario).
const MAC kWiredRadio5(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x20);
const MAC kWiredRadio24(0x02, 0x6f, 0x7a, 0x72, 0x02, 0x10);

// The preference that leaves only the 80 MHz block centred on CENTRE operable in 5 GHz.
channel_preference_tlv only_block(const MAC& radio, uint8_t centre) {
    channel_preference_tlv p;
    p.radio_id = radio;
    for (uint8_t oc = 115; oc <= 130; ++oc) {
        channel_preference_tlv::op_class e;
        e.op_class = oc;
        if (oc == 128)
            for (uint8_t c : {42, 58, 106, 122, 138, 155, 171})
                if (c != centre)
                    e.channels.push_back(c);
        e.num_channels = static_cast<uint8_t>(e.channels.size());
        p.op_classes.push_back(e);
    }
    p.num_op_classes = static_cast<uint8_t>(p.op_classes.size());
    return p;
}
}  // namespace

TEST_F(MeshsimTest, ChannelSelectionMovesTheRadioAndTheReportSaysSo) {
    CmduBuilder b(CMDU_TYPE_CHANNEL_SELECTION_REQUEST, 70);
    b.add(only_block(kWiredRadio5, 106));
    b.add(transmit_power_limit_tlv{TLV_TYPE_TRANSMIT_POWER_LIMIT, kWiredRadio24, 12});
    send(kExtWired, b.build());
    const Received* r = await(CMDU_TYPE_CHANNEL_SELECTION_RESPONSE, kExtWired, 70);
    ASSERT_TRUE(r);
    auto answers = all_tlvs<channel_selection_response_tlv>(*r->cmdu);
    ASSERT_EQ(answers.size(), 2u);  // one per radio named
    EXPECT_EQ(answers[0]->radio_id, kWiredRadio5);
    EXPECT_EQ(answers[0]->response_code, CHANNEL_SELECTION_ACCEPT);
    EXPECT_EQ(answers[1]->radio_id, kWiredRadio24);
    const Received* rep = await(CMDU_TYPE_OPERATING_CHANNEL_REPORT, kExtWired);
    ASSERT_TRUE(rep);
    auto reports = all_tlvs<operating_channel_report_tlv>(*rep->cmdu);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1]->radio_id, kWiredRadio5);
    ASSERT_EQ(reports[1]->op_classes.size(), 2u);  // the 20 MHz primary and the 80 MHz block
    EXPECT_EQ(reports[1]->op_classes[0].op_class, 121);
    EXPECT_EQ(reports[1]->op_classes[0].channel, 100);
    EXPECT_EQ(reports[1]->op_classes[1].op_class, 128);
    EXPECT_EQ(reports[1]->op_classes[1].channel, 106);
    EXPECT_EQ(reports[0]->current_tx_power_eirp, 12);
    EXPECT_EQ(sim_->scenario().agents[1].radios[1].bandwidth_mhz, 80);

    // Everything excluded: declined, the radio stays.
    channel_preference_tlv none = only_block(kWiredRadio5, 0);
    for (auto& e : none.op_classes)
        e.channels.clear();
    send(kExtWired, CmduBuilder(CMDU_TYPE_CHANNEL_SELECTION_REQUEST, 71).add(none).build());
    r = await(CMDU_TYPE_CHANNEL_SELECTION_RESPONSE, kExtWired, 71);
    ASSERT_TRUE(r);
    EXPECT_EQ(all_tlvs<channel_selection_response_tlv>(*r->cmdu)[0]->response_code,
              CHANNEL_SELECTION_DECLINE_VIOLATES_PREFERENCE);
    EXPECT_EQ(sim_->scenario().agents[1].radios[1].channel, 100);
}

TEST_F(MeshsimTest, ARadarMoveIsReportedUnaskedAndThePolicySetsTheMetricsPace) {
    // Configured: the agent knows its controller.
    const Received* search = await(CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH, kExtWired);
    ASSERT_TRUE(search);
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE, search->cmdu->message_id);
    b.add(supported_role_tlv{}).add(supported_freq_band_tlv{});
    send(kExtWired, b.build());
    ASSERT_TRUE(run_until([&] { return sim_->configured(1); }));

    meshsim::EventConf e;
    e.kind = meshsim::EventConf::channel;
    e.index = 1;
    e.radio = 1;
    e.primary = 36;
    e.bandwidth_mhz = 40;
    e.reason = "radar";
    sim_->apply(e);
    const Received* rep = await(CMDU_TYPE_OPERATING_CHANNEL_REPORT, kExtWired);
    ASSERT_TRUE(rep);
    const auto* o = all_tlvs<operating_channel_report_tlv>(*rep->cmdu)[1];
    ASSERT_EQ(o->op_classes.size(), 2u);
    EXPECT_EQ(o->op_classes[0].channel, 36);
    EXPECT_EQ(o->op_classes[1].op_class, 116);  // 40 MHz, primary below
    e.primary = 37;                             // not a channel: nothing changes
    sim_->apply(e);
    EXPECT_EQ(sim_->scenario().agents[1].radios[1].channel, 36);

    ozr_clock::set_manual(1000000);
    CmduBuilder p(CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST, 72);
    p.add<metric_reporting_policy_tlv>().ap_metrics_reporting_interval = 2;
    send(kExtWired, p.build());
    ASSERT_TRUE(await(CMDU_TYPE_1905_ACK, kExtWired, 72));
    EXPECT_EQ(sim_->metrics_interval(1), 2u);
    sim_->run_metrics_reporting();
    EXPECT_EQ(sim_->ap_metrics_sent(1), 0u);  // not due yet
    for (int k = 0; k < 3; ++k) {
        ozr_clock::advance(2000);
        sim_->run_metrics_reporting();
    }
    ozr_clock::use_real();
    EXPECT_EQ(sim_->ap_metrics_sent(1), 3u);
    EXPECT_EQ(sim_->ap_metrics_sent(0), 0u);  // the others have no policy
    ASSERT_TRUE(run_until([&] {
        size_t n = 0;
        for (const auto& r : got_)
            n += r.cmdu->message_type == CMDU_TYPE_AP_METRICS_RESPONSE && r.src == kExtWired;
        return n == 3;
    }));
}

// Agents retransmit what the controller acknowledges until its 1905 Ack comes (at most
// twice more), and take a repeated request once while acknowledging it again.
TEST_F(MeshsimTest, UnacknowledgedMessagesGoAgainAndRepeatsAreActedOnOnce) {
    CmduBuilder b(CMDU_TYPE_CLIENT_STEERING_REQUEST, 40);
    auto& s = b.add<steering_request_tlv>();
    s.bssid = kWired5;
    s.request_mode = 1;
    s.stas.push_back(kLaptop);
    s.targets.push_back({kGw5, 115, 36});
    CmduPtr request = b.build();
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

namespace {

const MAC kOld(0x02, 0x6f, 0x7a, 0x72, 0x04, 0x00);
const MAC kOnChan(0x02, 0x6f, 0x7a, 0x72, 0x05, 0x00);
const MAC kOffChan(0x02, 0x6f, 0x7a, 0x72, 0x06, 0x00);
const MAC kLate(0x02, 0x6f, 0x7a, 0x72, 0x07, 0x00);
const MAC kChatty(0x02, 0x6f, 0x7a, 0x72, 0x08, 0x00);
const MAC kReversed(0x02, 0x6f, 0x7a, 0x72, 0x09, 0x00);
const MAC kMute(0x02, 0x6f, 0x7a, 0x72, 0x0a, 0x00);
const MAC kForeignPhone(0x02, 0xc1, 0, 0, 1, 0x01);

// The agents that are not ours (foreign.json), each with its own trait.
class ForeignAgents : public MeshsimTest {
  protected:
    const char* scenario_file() const override { return "foreign.json"; }
};

// The types of the TLVs of C, in order.
std::vector<uint8_t> tlv_types(const CMDU& c) {
    std::vector<uint8_t> out;
    for (size_t i = 0; c.list_of_TLVs && c.list_of_TLVs[i]; ++i)
        out.push_back(*c.list_of_TLVs[i]);
    return out;
}

}  // namespace

TEST_F(ForeignAgents, EachTellsAndAnswersAsItsTraitSays) {
    // Profile 1: no profile TLV in its search or topology, no profile-2 TLVs in its
    // capabilities, and a profile-2 request goes unanswered (not even acknowledged).
    const Received* search = await(CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH, kOld);
    ASSERT_TRUE(search);
    EXPECT_FALSE(find_tlv<multiap_profile_tlv>(*search->cmdu));
    CmduPtr topo = topology_of(kOld, 50);
    ASSERT_TRUE(topo);
    EXPECT_FALSE(find_tlv<multiap_profile_tlv>(*topo));
    send(kOld, CmduBuilder(CMDU_TYPE_AP_CAPABILITY_QUERY, 51).build());
    const Received* caps = await(CMDU_TYPE_AP_CAPABILITY_REPORT, kOld, 51);
    ASSERT_TRUE(caps);
    EXPECT_TRUE(find_tlv<ap_radio_basic_capabilities_tlv>(*caps->cmdu));
    EXPECT_FALSE(find_tlv<profile2_ap_capability_tlv>(*caps->cmdu));
    EXPECT_FALSE(find_tlv<channel_scan_capabilities_tlv>(*caps->cmdu));
    send(kOld, CmduBuilder(CMDU_TYPE_CHANNEL_SCAN_REQUEST, 52).build());

    // Unassociated measurements: what each AP Capability TLV offers, and only that.
    struct Unassoc {
        MAC agent;
        bool on, off;
        uint8_t op_class, channel;  // the phone is asked for there
        size_t heard;
    } unassoc[] = {
        {kOnChan, true, false, 115, 36, 1},   // its own channel
        {kOnChan, true, false, 115, 44, 0},   // not its own: not measured
        {kOffChan, false, true, 115, 36, 1},  // off its channels (it hears the phone on 5 GHz)
        {kOffChan, false, true, 125, 149, 0},
        {kGateway, true, true, 115, 44, 0},  // ours measures both ways; the phone is its own
    };
    uint16_t mid = 60;
    for (const Unassoc& u : unassoc) {
        send(u.agent, CmduBuilder(CMDU_TYPE_AP_CAPABILITY_QUERY, mid).build());
        const Received* r = await(CMDU_TYPE_AP_CAPABILITY_REPORT, u.agent, mid++);
        ASSERT_TRUE(r);
        const auto* ap = find_tlv<ap_capability_tlv>(*r->cmdu);
        ASSERT_TRUE(ap);
        EXPECT_EQ(ap->unassoc_sta_metrics_operating_channel, u.on ? 1 : 0);
        EXPECT_EQ(ap->unassoc_sta_metrics_non_operating_channel, u.off ? 1 : 0);
        CmduBuilder q(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY, mid);
        auto& t = q.add<unassociated_sta_link_metrics_query_tlv>();
        t.op_class = u.op_class;
        t.channels.push_back({u.channel, 1, {kForeignPhone}});
        send(u.agent, q.build());
        ASSERT_TRUE(await(CMDU_TYPE_1905_ACK, u.agent, mid++));
        const size_t before = count(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE, u.agent);
        ASSERT_TRUE(run_until([&] {
            return count(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE, u.agent) > before;
        }));
        const unassociated_sta_link_metrics_response_tlv* res = nullptr;
        for (const auto& x : got_)
            if (x.cmdu->message_type == CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE &&
                x.src == u.agent)
                res = find_tlv<unassociated_sta_link_metrics_response_tlv>(*x.cmdu);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->stas.size(), u.heard)
            << u.agent.to_string() << " channel " << int(u.channel);
    }

    // Extra TLVs on every message, an Ack included; the reverse order; a query left
    // unanswered; answers half a second to two seconds late.
    send(kChatty, CmduBuilder(CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST, 70).build());
    for (uint16_t type : {CMDU_TYPE_1905_ACK, CMDU_TYPE_TOPOLOGY_RESPONSE}) {
        if (type == CMDU_TYPE_TOPOLOGY_RESPONSE)
            send(kChatty, CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 71).build());
        const Received* r = await(type, kChatty, type == CMDU_TYPE_1905_ACK ? 70 : 71);
        ASSERT_TRUE(r);
        const std::vector<uint8_t> t = tlv_types(*r->cmdu);
        ASSERT_GE(t.size(), 2u);
        EXPECT_EQ(t[t.size() - 2], 0xfe);
        EXPECT_EQ(t.back(), TLV_TYPE_VENDOR_SPECIFIC);
    }
    CmduPtr normal = topology_of(kOnChan, 72), reversed = topology_of(kReversed, 73);
    ASSERT_TRUE(normal && reversed);
    EXPECT_EQ(tlv_types(*normal).front(), TLV_TYPE_DEVICE_INFORMATION_TYPE);
    EXPECT_EQ(tlv_types(*reversed).back(), TLV_TYPE_DEVICE_INFORMATION_TYPE);
    EXPECT_EQ(tlv_types(*reversed).front(), TLV_TYPE_MULTIAP_PROFILE);

    send(kMute,
         CmduBuilder(CMDU_TYPE_LINK_METRIC_QUERY, 74)
             .add(link_metric_query_tlv{TLV_TYPE_LINK_METRIC_QUERY, LINK_METRIC_QUERY_ALL_NEIGHBORS,
                                        MAC(), LINK_METRIC_TX_AND_RX})
             .build());
    send(kMute, CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 75).build());
    ASSERT_TRUE(await(CMDU_TYPE_TOPOLOGY_RESPONSE, kMute, 75));
    run_for(300);
    EXPECT_FALSE(find(CMDU_TYPE_LINK_METRIC_RESPONSE, kMute, 74));

    const long long asked = get_current_time_ms();
    send(kLate, CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 76).build());
    ASSERT_TRUE(await(CMDU_TYPE_TOPOLOGY_RESPONSE, kLate, 76));
    EXPECT_GE(get_current_time_ms() - asked, 500);
    // The profile-2 request to the profile-1 agent: still nothing.
    EXPECT_FALSE(find(CMDU_TYPE_1905_ACK, kOld, 52));
    EXPECT_FALSE(find(CMDU_TYPE_CHANNEL_SCAN_REPORT, kOld));
}
