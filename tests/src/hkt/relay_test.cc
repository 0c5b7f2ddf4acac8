// The configuration relay and the graph's vendor paths against a stand-in vendor agent:
// configuration blobs out (one extender, or all deepest first), answers back to the platform
// as sync results, the size limit, and the port, statistics, VAP, unassociated and factory
// reset exchanges the graph minder drives. (The platform's configsync over the bus: BusDaemon
// and Dispatch up to the minder, HktMesh from the minder to a vendor agent and back.)
#include <gtest/gtest.h>

#include "hkt_fixture.h"

using namespace hkt_test;
using ozr_test::count_of;

namespace {

class Relay : public HktFixture {
  protected:
    Relay() : HktFixture(23412) {}
    ConfigurationMinder& cfg() { return *ctx_->config_minder; }
};

TEST_F(Relay, RefusalsAreReportedAsSyncResultsOfMinusOne) {
    Peer& p = peer(kExtHkt);
    ASSERT_NE(online_node(p, "EX1", kExt), nullptr);
    std::vector<unsigned char> blob(1493, 0xab);
    // One byte too many: refused, and the platform hears -1 without data.
    EXPECT_EQ(cfg().set_hkt_configuration("EX1", 1493, blob.data()), -1);
    EXPECT_TRUE(said("message is too long pure date is 1493."));
    auto lines = journal("nal_setSyncResult");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"result\":-1,\"sn\":\"EX1\",\"len\":0,\"data\":\"\""),
              std::string::npos);
    // An unknown serial number, and one known but never discovered: -1, nothing sent.
    EXPECT_EQ(cfg().set_hkt_configuration("NOPE", 3, blob.data()), -1);
    EXPECT_TRUE(said("Failed to find sn: NOPE HKT agent."));
    hkt_->add_known_hkt("EX5");
    EXPECT_EQ(cfg().set_hkt_configuration("EX5", 3, blob.data()), -1);
    EXPECT_TRUE(said("hkt_mac is null."));
    // An answer from a MAC that is not a vendor agent: no sync result.
    Peer& stranger = peer(mac(0x09, 0xe0));
    hkt_config_response_tlv r;
    stranger.send(r);
    settle();
    EXPECT_EQ(journal("nal_setSyncResult").size(), 1u);
    EXPECT_EQ(p.count(HKT_TLV_CONFIG_REQUEST), 0u);
    // The record itself: a null serial number or missing data are refused.
    EXPECT_EQ(cfg().inform_hkt_configuration_result(0, nullptr, 0, nullptr), -1);
    EXPECT_EQ(cfg().inform_hkt_configuration_result(0, "EX1", 2, nullptr), -1);
    EXPECT_EQ(journal("nal_setSyncResult").size(), 1u);
}

TEST_F(Relay, TheBroadcastGoesDeepestFirstToVendorAgentsOnly) {
    // No extender: nothing sent, nothing reported.
    unsigned char blob[2] = {1, 2};
    EXPECT_EQ(cfg().set_hkt_configuration("", 2, blob), 0);
    EXPECT_TRUE(journal("nal_setSyncResult").empty());

    Peer& near = peer(kExtHkt);
    Peer& far = peer(kFarHkt);
    ASSERT_NE(online_node(near, "EX1", kExt), nullptr);
    ASSERT_NE(online_node(far, "EX2", kFar), nullptr);
    tree();
    size_t mark = log().size();
    EXPECT_EQ(cfg().set_hkt_configuration("", 2, blob), 0);
    ASSERT_TRUE(run_until([&] {
        return near.count(HKT_TLV_CONFIG_REQUEST) == 1 && far.count(HKT_TLV_CONFIG_REQUEST) == 1;
    }));
    std::string text = log().substr(mark);
    size_t at_far = text.find("Sent hkt configuration request message to MAC: 02:6f:00:00:03:e0");
    size_t at_near = text.find("Sent hkt configuration request message to MAC: 02:6f:00:00:02:e0");
    ASSERT_NE(at_far, std::string::npos);
    ASSERT_NE(at_near, std::string::npos);
    EXPECT_LT(at_far, at_near);  // depth 3 before depth 2
    EXPECT_NE(text.find("Find one ale MAC: 02:6f:00:00:04:00 is not in the hkt list."),
              std::string::npos);
    EXPECT_EQ(text.find("Find one ale MAC: 02:6f:00:00:01:00"), std::string::npos);  // depth 1
    EXPECT_TRUE(journal("nal_setSyncResult").empty());
    // A blob too long for every extender: each failure is reported, deepest first.
    std::vector<unsigned char> big(1493, 1);
    EXPECT_EQ(cfg().set_hkt_configuration("", 1493, big.data()), 0);
    auto lines = journal("nal_setSyncResult");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"result\":-1,\"sn\":\"EX2\""), std::string::npos);
    EXPECT_NE(lines[1].find("\"result\":-1,\"sn\":\"EX1\""), std::string::npos);
}

TEST_F(Relay, TheGraphKeepsWhatTheVendorAgentsReport) {
    Peer& p = peer(kExtHkt);
    ASSERT_NE(online_node(p, "EX1", kExt), nullptr);
    GraphMinder& g = *ctx_->graph_minder;
    Device* d = g.graph().find_device(kExt);
    ASSERT_NE(d, nullptr);
    const MAC wan = mac(0x02, 0x01);

    // The periodic queries: statistics of the node's interfaces, its VAPs, its ports.
    g.on_query_statistics();
    g.on_query_vaps_info();
    g.on_topo_query();
    ASSERT_TRUE(run_until([&] {
        return p.count(HKT_TLV_INTERFACES_STATISTIC_REQUEST) == 1 &&
               p.count(HKT_TLV_VAPS_INFO_QUERY) == 1 && p.count(HKT_TLV_PORT_INFO_REQUEST) == 1;
    }));
    EXPECT_EQ(p.last<hkt_interfaces_statistic_request_tlv>().interfaces, std::vector<MAC>{wan});
    ASSERT_EQ(d->ports.size(), 1u);  // from the node's Ethernet interface
    EXPECT_EQ(d->ports[0].mac, wan);
    EXPECT_EQ(d->ports[0].port, 4);

    hkt_interfaces_statistic_response_tlv st;
    st.interfaces.push_back({wan, {}});
    st.interfaces[0].stats.total_rx_bytes = 0x1122334455667788ull;
    st.interfaces[0].stats.tx_dropped_packets = 9;
    p.send(st);
    hkt_vaps_info_response_tlv vr;
    vr.vaps = {vap("Home", 1, 1)};
    p.send(vr);
    hkt_port_info_response_tlv pr{wan, 1, 1000, 7, 0};  // up, 1000 Mb/s
    p.send(pr);
    HKTStatistic s;
    ASSERT_TRUE(run_until([&] {
        return g.get_interface_statistic(kExt, wan, s) && !d->hkt_vaps.empty() &&
               d->ports[0].port == 7;
    }));
    EXPECT_EQ(s.total_rx_bytes, 0x1122334455667788ull);
    EXPECT_EQ(s.tx_dropped_packets, 9u);
    EXPECT_EQ(g.get_port_number(kExt, wan), 7);
    EXPECT_EQ(g.get_port_number(kExtHkt, wan), 7);  // by its vendor agent MAC too
    const HKTVapInfo* vap = d->find_vap_info(BSSID(mac(0x02, 0x31)));
    ASSERT_NE(vap, nullptr);
    EXPECT_EQ(vap->ssid, "Home");
    EXPECT_EQ(vap->vap_name, "wl1");
    EXPECT_FALSE(g.get_interface_statistic(kExt, mac(0x02, 0x99), s));
    EXPECT_FALSE(g.get_interface_statistic(kPlain, wan, s));
    // A port the device has no entry for, and a failed result, leave the entries alone.
    pr.port_mac = mac(0x02, 0x77);
    p.send(pr);
    pr.port_mac = wan;
    pr.result_code = 1;
    pr.port_number = 99;
    p.send(pr);
    settle();
    EXPECT_EQ(d->ports[0].port, 7);
    EXPECT_TRUE(said("can not find one port entry for interface MAC: 02:6f:00:00:02:77"));
    // The same answers from a MAC that is not a vendor agent change nothing.
    Peer& stranger = peer(mac(0x09, 0xe0));
    vr.vaps.clear();
    stranger.send(vr);
    settle();
    EXPECT_EQ(d->hkt_vaps.size(), 1u);
    EXPECT_TRUE(
        said("Receive one vaps info response src MAC: 02:6f:00:00:09:e0 is not in "
             "the hkt list."));
}

TEST_F(Relay, UnassociatedQueriesAndFactoryResetTravelTheVendorWay) {
    Peer& p = peer(kExtHkt);
    ASSERT_NE(online_node(p, "EX1", kExt), nullptr);
    GraphMinder& g = *ctx_->graph_minder;
    UnassociateClientsInfo info;
    info.op_class = 115;
    info.channel = 36;
    info.stas = {mac(0xc1, 0x01)};
    g.send_unassoc_sta_link_metric_query(g.graph().find_device(kExt), {info}, Device::FRONTHAUL);
    ASSERT_TRUE(run_until([&] { return p.count(HKT_TLV_UNASSOC_STA_METRICS_QUERY) == 1; }));
    const auto q = p.last<hkt_unassoc_sta_metrics_query_tlv>();
    EXPECT_EQ(std::tie(q.metrics_type, q.query.op_class), std::make_tuple(0, 115));
    ASSERT_EQ(q.query.channels.size(), 1u);
    EXPECT_EQ(q.query.channels[0].stas, info.stas);
    EXPECT_TRUE(said("for MAC: 02:6f:00:00:02:00 hkt MAC: 02:6f:00:00:02:e0"));

    // Factory reset through the graph's sender, also after the node left the registry.
    MAC agent = kExt;
    EXPECT_EQ(g.send_factory_reset_request(nullptr, &agent), 0);
    EXPECT_TRUE(hkt_->remove_hkt("EX1"));
    EXPECT_EQ(g.send_factory_reset_request(nullptr, &agent), 0);
    ASSERT_TRUE(run_until([&] { return p.count(HKT_TLV_FACTORY_RESET_REQUEST) == 2; }));
    EXPECT_EQ(p.last<hkt_factory_reset_request_tlv>().serial_number, "EX1");
    MAC unknown = kPlain;
    EXPECT_EQ(g.send_factory_reset_request(nullptr, &unknown), -1);
    EXPECT_EQ(g.send_factory_reset_request(nullptr, nullptr), -1);
    // The agent is no vendor agent any more: the standard query is used.
    g.send_unassoc_sta_link_metric_query(g.graph().find_device(kExt), {info}, Device::FRONTHAUL);
    settle();
    EXPECT_EQ(p.count(HKT_TLV_UNASSOC_STA_METRICS_QUERY), 1u);
}

// configsync over a private bus: the daemon's whole context (its D-Bus service included), a
// bus client playing the platform.
}  // namespace
