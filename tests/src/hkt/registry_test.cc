// The vendor agent registry against real HKT frames from a stand-in vendor agent: the
// discovery poll and its bursts, discovery into the registry (one node per serial number),
// the AP status check, the online rules and the offline check on the manual clock, the
// queries the gateway answers, the EX and IP change notifications, and what it drops.
#include <gtest/gtest.h>

#include "hkt_fixture.h"

using namespace hkt_test;
using ozr_test::count_of;

namespace {

using Registry = HktFixture;

TEST_F(Registry, TheDiscoveryPollSendsABurstOfThreeRelayedRequests) {
    Peer& p = peer(kExtHkt);
    BaseTimer* poll = hkt_->find_timer("hkt_discovery_poll");
    BaseTimer* burst = hkt_->find_timer("hkt_discovery_burst");
    ASSERT_NE(poll, nullptr);
    ASSERT_NE(burst, nullptr);
    EXPECT_TRUE(poll->is_started());  // armed by run
    EXPECT_TRUE(hkt_->find_timer("hkt_offline_check")->is_started());

    hkt_->on_discovery_poll();
    EXPECT_EQ(hkt_->discovery_burst_left(), 2);
    EXPECT_TRUE(burst->is_started());
    hkt_->on_discovery_burst();
    EXPECT_EQ(hkt_->discovery_burst_left(), 1);
    EXPECT_TRUE(burst->is_started());
    hkt_->on_discovery_burst();
    EXPECT_EQ(hkt_->discovery_burst_left(), 0);
    burst->stop();
    hkt_->on_discovery_burst();  // a stray firing sends nothing more
    EXPECT_FALSE(burst->is_started());
    EXPECT_TRUE(poll->is_started());  // each request re-arms the poll

    ASSERT_TRUE(run_until([&] { return p.count(HKT_TLV_DISCOVERY_REQUEST) == 3; }));
    settle();
    EXPECT_EQ(p.count(HKT_TLV_DISCOVERY_REQUEST), 3u);
    for (const Got& g : p.got) {
        if (g.hkt_type != HKT_TLV_DISCOVERY_REQUEST)
            continue;  // the stack's own Topology Discovery, say
        EXPECT_TRUE(g.relay);
        EXPECT_EQ(g.dst, MAC(0x01, 0x80, 0xc2, 0x00, 0x00, 0x13));
    }
    EXPECT_EQ(p.last<hkt_discovery_request_tlv>().controller_al_mac, kController);
    EXPECT_EQ(count_of(log(), "Sent HKT discovery request message"), 3u);
}

TEST_F(Registry, DiscoveryAddsANodeThatTheStatusCheckConfigures) {
    Peer& p = peer(kExtHkt);
    hkt_discovery_response_tlv r = discovery("ex2026a", kExt);
    p.send(r);
    ASSERT_TRUE(run_until([&] { return hkt_->find_hkt(kExtHkt) != nullptr; }));
    HktNode* n = hkt_->find_hkt(kExtHkt);
    // Serial numbers are kept upper case and found in any case.
    EXPECT_EQ(n->serial_number, "EX2026A");
    EXPECT_EQ(hkt_->find_hkt_from_serial("Ex2026a"), n);
    EXPECT_EQ(hkt_->find_hkt_from_agent(kExt), n);
    EXPECT_EQ(hkt_->find_hkt(kExt), nullptr);  // by vendor agent MAC only
    EXPECT_EQ(std::tie(n->agent_mac, n->model_number, n->ip_addr, n->hostname),
              std::make_tuple(kExt, "EXT-9", "192.168.1.23", "hall"));
    ASSERT_EQ(n->interfaces.size(), 1u);
    EXPECT_EQ(n->interfaces[0].physical_port, 4);
    EXPECT_EQ(std::make_tuple(n->got_discovery, n->is_online, n->ap_status),
              std::make_tuple(true, false, ApStatus::DETECTED));
    EXPECT_TRUE(said("Adding new HKT - hkt_mac: 02:6f:00:00:02:e0, sn: EX2026A"));
    EXPECT_TRUE(said("Set ApStatus::DETECTED - sn: EX2026A"));
    EXPECT_TRUE(said("     collocated_map_agent_mac: 02:6f:00:00:02:00"));
    // The data minder learnt the state.
    EXPECT_EQ(ctx_->data_minder->get_ap_onboarding_status("EX2026A"), ApStatus::DETECTED);
    BaseTimer* check = hkt_->ap_status_timer("EX2026A");
    ASSERT_NE(check, nullptr);
    EXPECT_TRUE(check->is_started());

    // Its agent is not in the stack's model yet: the check fails it.
    hkt_->check_ap_status(n);
    EXPECT_EQ(n->ap_status, ApStatus::CONFIGURATION_FAILED);
    EXPECT_TRUE(said("Failed to find ALE of co-located agent: sn: EX2026A"));
    // The agent appears; the next discovery arms the check again and it configures.
    agent_present(kExt);
    p.send(r);
    ASSERT_TRUE(run_until([&] { return n->ap_status == ApStatus::DETECTED; }));
    EXPECT_TRUE(said("ap_status timer active, stopping before restart"));
    hkt_->check_ap_status(n);
    EXPECT_EQ(n->ap_status, ApStatus::CONFIGURED);
    EXPECT_EQ(ctx_->data_minder->get_ap_onboarding_status("EX2026A"), ApStatus::CONFIGURED);
    // A configured node stays configured through later discoveries.
    p.send(r);
    settle();
    EXPECT_EQ(n->ap_status, ApStatus::CONFIGURED);
}

TEST_F(Registry, OneNodePerSerialNumberWhateverCameFirst) {
    // Known from the white list, then from an agent's M1, then discovered.
    HktNode* known = hkt_->add_known_hkt("ex9");
    ASSERT_NE(known, nullptr);
    EXPECT_TRUE(known->hkt_mac.is_zero());
    EXPECT_EQ(hkt_->find_hkt(MAC()), nullptr);  // an undiscovered node matches no MAC

    wsc_message m1;
    m1.mac_address = kExt;
    m1.manufacturer = "Maker";
    m1.model_name = "EXT";
    m1.model_number = "9";
    m1.serial_number = "Ex9";
    m1.device_name = "hall";
    m1.rf_bands = WSC_RF_BAND_5_GHZ;
    wsc_tlv w;
    ASSERT_TRUE(wsc_build_message(m1, w.wsc_frame));
    CmduPtr c = CmduBuilder(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 5).add(w).build();
    c->src_al_mac = kExt;
    cmdu_dispatch(c.get());  // through the registry hook
    ASSERT_EQ(hkt_->hkt_nodes().size(), 1u);
    EXPECT_EQ(hkt_->find_hkt_from_agent(kExt), known);

    Peer& p = peer(kExtHkt);
    hkt_discovery_response_tlv r = discovery("EX9", kExt);
    p.send(r);
    ASSERT_TRUE(run_until([&] { return hkt_->find_hkt(kExtHkt) != nullptr; }));
    EXPECT_EQ(hkt_->hkt_nodes().size(), 1u);
    EXPECT_EQ(hkt_->find_hkt(kExtHkt), hkt_->find_hkt_from_serial("EX9"));
    EXPECT_EQ(log().find("Adding new HKT - hkt_mac"), std::string::npos);

    // An M1 without its serial number, and a WSC that is no M1, change nothing.
    m1.serial_number.clear();
    wsc_tlv w2;
    ASSERT_TRUE(wsc_build_message(m1, w2.wsc_frame));
    CmduPtr c2 = CmduBuilder(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 6).add(w2).build();
    c2->src_al_mac = kFar;
    cmdu_dispatch(c2.get());
    CmduPtr c3 = CmduBuilder(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 7).build();
    c3->src_al_mac = kFar;
    cmdu_dispatch(c3.get());
    EXPECT_EQ(hkt_->hkt_nodes().size(), 1u);
    EXPECT_TRUE(said("WSC does not contain an M1"));

    // The vendor agent MAC moves to another serial number: it leaves the old node.
    hkt_discovery_response_tlv other = discovery("EX10", kFar);
    p.send(other);
    ASSERT_TRUE(run_until([&] { return hkt_->find_hkt_from_serial("EX10") != nullptr; }));
    EXPECT_EQ(hkt_->find_hkt(kExtHkt)->serial_number, "EX10");
    EXPECT_TRUE(hkt_->find_hkt_from_serial("EX9")->hkt_mac.is_zero());
    EXPECT_EQ(hkt_->hkt_nodes().size(), 2u);
}

TEST_F(Registry, OnlineOnlyWhenConfiguredDiscoveredHeardAndConnected) {
    Peer& p = peer(kExtHkt);
    agent_present(kExt, false);  // backhaul not connected yet
    hkt_discovery_response_tlv r = discovery("EX1", kExt);
    p.send(r);
    ASSERT_TRUE(run_until([&] { return hkt_->find_hkt(kExtHkt) != nullptr; }));
    HktNode* n = hkt_->find_hkt(kExtHkt);
    hkt_heartbeat_tlv hb{10};
    p.send(hb);
    ASSERT_TRUE(run_until([&] { return n->uptime == 10; }));
    EXPECT_FALSE(n->is_online);  // only detected
    hkt_->check_ap_status(n);
    hb.uptime = 20;
    p.send(hb);
    ASSERT_TRUE(run_until([&] { return n->uptime == 20; }));
    EXPECT_FALSE(n->is_online);  // backhaul down
    // The graph reports the backhaul up: online now, the platform and the data minder told.
    backhaul_information bh;
    bh.local_ale = kExt;
    bh.is_backhaul_connected = true;
    ctx_->graph_minder->graph().find_device(kExt)->backhaul = bh;
    hkt_->notify_ap_bh_change(bh.local_ale, bh.is_backhaul_connected);
    EXPECT_TRUE(n->is_online);
    auto online = journal("nal_notifyApOnlineStatus");
    ASSERT_EQ(online.size(), 1u);
    EXPECT_NE(online[0].find("\"sn\":\"EX1\",\"online\":1,\"mac\":\"02:6f:00:00:02:e0\""),
              std::string::npos);
    EXPECT_TRUE(
        said("DataMinder::notify_ap_status_change() - AP Status change. AP sn: EX1 "
             "online: true"));
    // Told its backhaul.
    ASSERT_TRUE(run_until([&] { return p.count(HKT_TLV_BACKHAUL_INFORMATION_NOTIFY) > 0; }));

    // Heard 100 s ago: still online; 100.001 s: offline at the next check.
    ozr_clock::advance(HktMgmtMinder::kOfflineAfterMs);
    hkt_->on_offline_check();
    EXPECT_TRUE(n->is_online);
    ozr_clock::advance(1);
    hkt_->on_offline_check();
    EXPECT_FALSE(n->is_online);
    EXPECT_FALSE(n->got_discovery);
    EXPECT_TRUE(said("Marking EX1 as OFFLINE"));
    online = journal("nal_notifyApOnlineStatus");
    ASSERT_EQ(online.size(), 2u);
    EXPECT_NE(online[1].find("\"online\":0"), std::string::npos);
    // A heartbeat alone does not bring it back: it needs a discovery first.
    p.send(hb);
    settle();
    EXPECT_FALSE(n->is_online);
    p.send(r);
    ASSERT_TRUE(run_until([&] { return n->got_discovery; }));
    p.send(hb);
    ASSERT_TRUE(run_until([&] { return n->is_online; }));
    // The next poll's discovery response leaves the node configured and online (no
    // offline line for the platform), and the status check still runs after it.
    const size_t told = journal("nal_notifyApOnlineStatus").size();
    hkt_->ap_status_timer("EX1")->stop();
    p.send(r);
    ASSERT_TRUE(run_until([&] { return hkt_->ap_status_timer("EX1")->is_started(); }));
    EXPECT_EQ(n->ap_status, ApStatus::CONFIGURED);
    EXPECT_TRUE(n->is_online);
    EXPECT_EQ(journal("nal_notifyApOnlineStatus").size(), told);
    // The backhaul goes down: offline at once.
    bh.is_backhaul_connected = false;
    hkt_->notify_ap_bh_change(bh.local_ale, bh.is_backhaul_connected);
    EXPECT_FALSE(n->is_online);
    EXPECT_TRUE(said("is_backhaul_connected: false - setting OFFLINE state"));
}

TEST_F(Registry, TheGatewayAnswersTheExtendersQueries) {
    Peer& p = peer(kExtHkt);
    hkt_ip_info_query_tlv ip;
    p.send(ip);
    hkt_vsn_query_tlv vsn;
    p.send(vsn);
    ASSERT_TRUE(run_until([&] {
        return p.count(HKT_TLV_IP_INFO_RESPONSE) == 1 && p.count(HKT_TLV_VSN_RESPONSE) == 1;
    }));
    const auto ip_info = p.last<hkt_ip_info_response_tlv>();
    EXPECT_EQ(hkt_ipv4_to_string(ip_info.gateway_ipv4), "192.168.1.1");
    EXPECT_EQ(ip_info.controller_al_mac, kController);
    EXPECT_EQ(p.last<hkt_vsn_response_tlv>().vsn, "GWVSN77");
    EXPECT_EQ(hkt_->virtual_sn(), "GWVSN77");
}

TEST_F(Registry, NotificationsReachThePlatformAndAreAcknowledged) {
    Peer& p = peer(kExtHkt);
    Peer& p2 = peer(kFarHkt);
    HktNode* n = online_node(p, "EX1", kExt);
    ASSERT_NE(n, nullptr);
    ASSERT_NE(online_node(p2, "EX2", kFar), nullptr);

    hkt_ex_notification_tlv ex;
    ex.event = 7;
    ex.data = {'u', 'p'};
    p.send(ex, 0x1234);
    ASSERT_TRUE(run_until([&] { return p.count_cmdu(CMDU_TYPE_1905_ACK) == 1; }));
    EXPECT_EQ(p.got.back().mid, 0x1234);
    auto lines = journal("nal_setExNotification");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"sn\":\"EX1\",\"event\":7,\"len\":2,\"data\":\"7570\""),
              std::string::npos);
    lines = journal("nal_setSyncResult");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"result\":0,\"sn\":\"EX1\",\"len\":2,\"data\":\"7570\""),
              std::string::npos);

    // New addresses: kept, acknowledged, and passed on to the other online node.
    hkt_ip_change_notification_tlv ipc;
    hkt_ipv4_from_string("192.168.1.77", ipc.addresses.ipv4);
    p.send(ipc, 0x1235);
    ASSERT_TRUE(run_until([&] {
        return p.count_cmdu(CMDU_TYPE_1905_ACK) == 2 &&
               p2.count(HKT_TLV_IP_CHANGE_NOTIFICATION_REQUEST) == 1;
    }));
    EXPECT_EQ(n->ip_addr, "192.168.1.77");
    EXPECT_EQ(p.count(HKT_TLV_IP_CHANGE_NOTIFICATION_REQUEST), 0u);  // not back to itself
    const auto change = p2.last<hkt_ip_change_notification_request_tlv>();
    EXPECT_EQ(std::tie(change.serial_number, change.hkt_mac), std::make_tuple("EX1", kExtHkt));
}

TEST_F(Registry, BadInputIsDroppedWithItsMessage) {
    Peer& stranger = peer(mac(0x09, 0xe0));
    // Heartbeats, notifications and responses from a MAC the registry does not know.
    hkt_heartbeat_tlv hb{5};
    stranger.send(hb);
    hkt_ex_notification_tlv ex;
    ex.event = 1;
    stranger.send(ex);
    hkt_config_response_tlv cr;
    stranger.send(cr);
    // A truncated HKT TLV, an HKT TLV whose length runs past its bytes, a zero-length
    // response, another vendor's TLV, a TLV that is not vendor specific, an unknown type.
    vendor_specific_tlv bad;
    std::memcpy(bad.vendor_oui, hkt_get_vendor_oui(), 3);
    bad.payload = {HKT_TLV_HEARTBEAT, 0x00, 0x04, 0x00, 0x01};
    stranger.send_tlv(bad);
    bad.payload = {HKT_TLV_CONFIG_RESPONSE, 0xff, 0xff};
    stranger.send_tlv(bad);
    bad.payload = {HKT_TLV_VAPS_INFO_RESPONSE, 0x00, 0x00};
    stranger.send_tlv(bad);
    stranger.send_tlv(vendor_specific_tlv{
        TLV_TYPE_VENDOR_SPECIFIC, {0x00, 0x11, 0x22}, {HKT_TLV_HEARTBEAT, 0x00, 0x04, 0, 0, 0, 1}});
    CmduPtr c = CmduBuilder(CMDU_TYPE_VENDOR_SPECIFIC, 9)
                    .add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, mac(9, 0)})
                    .build();
    stranger.send_cmdu(*c);
    bad.payload = {0x63, 0x00, 0x01, 0x01};
    stranger.send_tlv(bad);
    hkt_discovery_response_tlv nosn = discovery("", kFar);
    stranger.send(nosn);
    ASSERT_TRUE(run_until([&] { return count_of(log(), "on_vend_spec called") >= 10; }));
    settle();
    std::string text = log();
    EXPECT_TRUE(said("Unable to find HKT MAC: 02:6f:00:00:09:e0"));
    EXPECT_TRUE(said("EX notification from 02:6f:00:00:09:e0: not in the hkt list"));
    EXPECT_TRUE(
        said("Receive one configuration response src MAC: 02:6f:00:00:09:e0 is not in "
             "the hkt list."));
    EXPECT_EQ(count_of(text, "Unable to parse HKT message from 02:6f:00:00:09:e0"), 3u);
    EXPECT_TRUE(said("vendor OUI 001122 is not HKT's"));
    EXPECT_TRUE(said("Unexpected TLV type (1) inside CMDU."));
    EXPECT_TRUE(said("no handler for HKT TLV 99 (HKT_TLV_UNKNOWN)"));
    EXPECT_TRUE(said("without a serial number, dropped"));
    EXPECT_TRUE(hkt_->hkt_nodes().empty());
    EXPECT_TRUE(journal("nal_setSyncResult").empty());
    EXPECT_TRUE(journal("nal_setExNotification").empty());
    EXPECT_EQ(stranger.count_cmdu(CMDU_TYPE_1905_ACK), 0u);
}

TEST_F(Registry, TheRegistryIsBounded) {
    for (size_t i = 0; i < HktMgmtMinder::kMaxHktNodes; ++i)
        ASSERT_NE(hkt_->add_known_hkt("SN" + std::to_string(i)), nullptr);
    EXPECT_EQ(hkt_->add_known_hkt("ONE-TOO-MANY"), nullptr);
    EXPECT_EQ(hkt_->add_known_hkt(""), nullptr);
    Peer& p = peer(kExtHkt);
    hkt_discovery_response_tlv r = discovery("NEW", kExt);
    p.send(r);
    ASSERT_TRUE(run_until([&] { return log().find("registry full") != std::string::npos; }));
    EXPECT_EQ(hkt_->hkt_nodes().size(), HktMgmtMinder::kMaxHktNodes);
    EXPECT_TRUE(hkt_->remove_hkt("sn3"));
    EXPECT_FALSE(hkt_->remove_hkt("sn3"));
    EXPECT_EQ(hkt_->hkt_nodes().size(), HktMgmtMinder::kMaxHktNodes - 1);
}

TEST_F(Registry, TheLegacyBackhaulWindowAndTheMarlowJoin) {
    Peer& local = peer(mac(0x01, 0xe0));
    Peer& p = peer(kExtHkt);
    // The gateway's own vendor agent, and an extender that needs the legacy backhaul VAP.
    ASSERT_NE(online_node(local, "GW1", kLocal), nullptr);
    BaseTimer* bh = hkt_->find_timer("8bytes_bh_timer");
    EXPECT_FALSE(bh->is_started());
    ASSERT_NE(online_node(p, "EX1", kExt, HktMgmtMinder::kMinder8ByteBackhaul), nullptr);
    EXPECT_TRUE(bh->is_started());
    EXPECT_TRUE(said("8bytes_bh timer starting"));
    // The window opens the VAP at the gateway's vendor agent...
    ASSERT_TRUE(run_until([&] { return local.count(HKT_TLV_BH_VAP_8BYTE_REQUEST) == 1; }));
    EXPECT_EQ(local.last<hkt_bh_vap_8byte_request_tlv>().enabled, 1);
    // ...and when it ends, closes it.
    hkt_->on_ap_8bytes_bh_timer();
    ASSERT_TRUE(run_until([&] { return local.count(HKT_TLV_BH_VAP_8BYTE_REQUEST) == 2; }));
    EXPECT_EQ(local.last<hkt_bh_vap_8byte_request_tlv>().enabled, 0);
    // A Marlow join while the window is open closes it at once; one without does nothing.
    int joined = 1;
    hkt_->check_ap_capabilites();
    EXPECT_TRUE(bh->is_started());
    EXPECT_EQ(hkt_->handle_marlow_join(&joined), 0);
    EXPECT_FALSE(bh->is_started());
    ASSERT_TRUE(run_until([&] { return local.count(HKT_TLV_BH_VAP_8BYTE_REQUEST) == 3; }));
    EXPECT_EQ(hkt_->handle_marlow_join(&joined), 0);
    settle();
    EXPECT_EQ(local.count(HKT_TLV_BH_VAP_8BYTE_REQUEST), 3u);
    EXPECT_EQ(hkt_->handle_marlow_join(nullptr), -1);
    // No node needing it is online any more: a running window is stopped.
    hkt_->check_ap_capabilites();
    HktNode* n = hkt_->find_hkt(kExtHkt);
    hkt_->set_ap_status(*n, ApStatus::CONFIGURATION_FAILED);  // leaves the configured state
    EXPECT_FALSE(n->is_online);
    hkt_->check_ap_capabilites();
    EXPECT_FALSE(bh->is_started());
}

}  // namespace
