#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "decoder_test_util.h"
#include "messages/decoders.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const MAC kRadio24(0x02, 0x00, 0x00, 0x00, 0x24, 0x00);
const MAC kRadio5(0x02, 0x00, 0x00, 0x00, 0x05, 0x00);
const MAC kRadio6(0x02, 0x00, 0x00, 0x00, 0x06, 0x00);
const MAC kSta(0x5c, 0x11, 0x22, 0x33, 0x44, 0x55);
const MAC kAl(0x02, 0x00, 0x00, 0x00, 0x00, 0x01);
const MAC kAl2(0x02, 0x00, 0x00, 0x00, 0x00, 0x02);
const BSSID kBss(0x02, 0x00, 0x00, 0x00, 0x0b, 0x01);

ap_radio_basic_capabilities_tlv radio(const MAC& id, std::vector<uint8_t> classes) {
    ap_radio_basic_capabilities_tlv t;
    t.radio_id = id;
    t.max_bss = 4;
    for (uint8_t c : classes) {
        ap_radio_basic_capabilities_tlv::op_class oc;
        oc.op_class = c;
        oc.max_tx_power_eirp = 20;
        if (c == 121)
            oc.non_operable_channels = {120, 124, 128};
        oc.num_non_operable_channels = static_cast<uint8_t>(oc.non_operable_channels.size());
        t.op_classes.push_back(oc);
    }
    t.num_op_classes = static_cast<uint8_t>(t.op_classes.size());
    return t;
}

ap_capability_tlv ap_cap(bool on, bool off, bool rcpi) {
    return {TLV_TYPE_AP_CAPABILITY, on, off, rcpi};
}

template <class T>
T for_radio(const MAC& id) {
    T t;
    t.radio_id = id;
    return t;
}

error_code_tlv error(uint8_t reason, const MAC& sta) {
    return error_code_tlv{TLV_TYPE_ERROR, reason, sta};
}

const BasicRadioCapabilitiesTLV* find(const APCapabilityMesg& m, const MAC& id) {
    for (const auto& r : m.radios)
        if (r.radio_id == id)
            return &r;
    return nullptr;
}

// ---- AP Capability Report ------------------------------------------------------------

TEST(ParseApCapability, FullReportWithBandsSubBandsAndGenerations) {
    LogCapture log;
    CmduBuilder b(CMDU_TYPE_AP_CAPABILITY_REPORT, 21);
    b.add(ap_cap(true, false, true));
    b.add(radio(kRadio24, {81, 83, 84}));
    b.add(radio(kRadio5, {115, 118, 121, 125, 128}));
    b.add(radio(kRadio6, {131, 133}));
    b.add(for_radio<ap_ht_capabilities_tlv>(kRadio24));
    b.add(for_radio<ap_vht_capabilities_tlv>(kRadio24));  // 2.4 GHz VHT: stays 802.11n
    auto ht5 = for_radio<ap_ht_capabilities_tlv>(kRadio5);
    ht5.max_rx_spatial_streams = 3;
    ht5.ht_40mhz = 1;
    b.add(ht5);
    auto vht5 = for_radio<ap_vht_capabilities_tlv>(kRadio5);
    vht5.supported_vht_rx_mcs = 0xfffa;
    vht5.vht_160mhz = 1;
    b.add(vht5);
    b.add(ap_he_capabilities_tlv{TLV_TYPE_AP_HE_CAPABILITY, kRadio6, 4, {0xfa, 0xff, 0xfa, 0xff}});
    b.add(channel_scan_reporting_policy_tlv{TLV_TYPE_CHANNEL_SCAN_REPORTING_POLICY, 1});
    b.add(channel_scan_capabilities_tlv{
        TLV_TYPE_CHANNEL_SCAN_CAPABILITY, 1, {{kRadio5, 1, 0, 300, 0, {}}}});
    cac_capabilities_tlv cac;
    cac.country_code[0] = 'D';
    cac.country_code[1] = 'E';
    b.add(cac);
    b.add(profile2_ap_capability_tlv{TLV_TYPE_PROFILE2_AP_CAPABILITY, 0, 0, 2, 0, 0, 8});
    b.add(metric_collection_interval_tlv{TLV_TYPE_METRIC_COLLECTION_INTERVAL, 5000});

    auto r = parse_ap_capability(wire(b).get());
    ASSERT_TRUE(r);
    EXPECT_EQ(std::make_tuple(r->unassoc_sta_metrics_operating_channel,
                              r->unassoc_sta_metrics_non_operating_channel,
                              r->agent_initiated_rcpi_steering),
              std::make_tuple(true, false, true));
    ASSERT_EQ(r->radios.size(), 3u);

    const auto* r24 = find(*r, kRadio24);
    EXPECT_EQ(std::tie(r24->band, r24->freq_type, r24->standard, r24->max_bss),
              std::make_tuple(0, 0, 3, 4));
    ASSERT_EQ(r24->operating_classes.size(), 3u);
    EXPECT_EQ(r24->operating_classes[1].op_class, 83);

    const auto* r5 = find(*r, kRadio5);
    // Classes in both halves.
    EXPECT_EQ(std::tie(r5->band, r5->freq_type, r5->standard), std::make_tuple(1, 128, 4));
    EXPECT_EQ(r5->operating_classes[2].non_operable_channels,
              (std::vector<uint8_t>{120, 124, 128}));

    const auto* r6 = find(*r, kRadio6);
    EXPECT_EQ(r6->standard, 7);  // HE without HT or VHT records

    ASSERT_EQ(r->ht_capabilities.size(), 2u);
    EXPECT_EQ(r->ht_capabilities[1].max_rx_spatial_streams, 3);
    EXPECT_EQ(r->ht_capabilities[1].ht_40mhz, 1);
    ASSERT_EQ(r->vht_capabilities.size(), 2u);
    EXPECT_EQ(r->vht_capabilities[1].supported_vht_rx_mcs, 0xfffa);
    EXPECT_EQ(r->vht_capabilities[1].vht_160mhz, 1);
    ASSERT_EQ(r->he_capabilities.size(), 1u);
    EXPECT_EQ(r->he_capabilities[0].supported_mcs, (std::vector<uint8_t>{0xfa, 0xff, 0xfa, 0xff}));
    ASSERT_EQ(r->channel_scan_capabilities.radios.size(), 1u);
    EXPECT_EQ(r->channel_scan_capabilities.radios[0].min_scan_interval, 300u);
    EXPECT_EQ(std::make_tuple(r->independent_channel_scan, r->cac_capabilities.country_code[0],
                              r->byte_counter_units, r->max_vids, r->metric_collection_interval),
              std::make_tuple(1, 'D', 2, 8, 5000u));
    EXPECT_THAT(log.root_lines(), IsEmpty());
}

TEST(ParseApCapability, SubBandOfARadioFollowsItsClasses) {
    struct Case {
        std::vector<uint8_t> classes;
        uint8_t band;
        uint16_t sub_band;
        uint8_t standard;
    } cases[] = {
        {{115, 116, 118}, 1, 32, 2},  // low only
        {{121, 124, 125}, 1, 64, 2},  // high only
        {{115, 121}, 1, 128, 2},      // both
        {{128, 129}, 1, 128, 2},      // wide classes only: as the last one left it
        {{121, 81}, 0, 64, 1},        // band of the last class, sub-band of the high one
        {{121, 200}, 1, 64, 2},       // a class outside the table changes nothing
    };
    for (const Case& c : cases) {
        CmduBuilder b(CMDU_TYPE_AP_CAPABILITY_REPORT, 21);
        b.add(ap_cap(false, false, false)).add(radio(kRadio5, c.classes));
        auto r = parse_ap_capability(wire(b).get());
        ASSERT_TRUE(r);
        const auto& r0 = r->radios[0];
        EXPECT_EQ(std::tie(r0.band, r0.freq_type, r0.standard),
                  std::tie(c.band, c.sub_band, c.standard))
            << testing::PrintToString(c.classes);
    }
}

TEST(ParseApCapability, DuplicateAndMissingTlvs) {
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_AP_CAPABILITY_REPORT, 21);
        b.add(ap_cap(true, true, true)).add(radio(kRadio5, {115})).add(ap_cap(false, true, false));
        b.add(al_mac_address_tlv{});
        auto r = parse_ap_capability(wire(b).get());
        ASSERT_TRUE(r);
        EXPECT_FALSE(r->unassoc_sta_metrics_operating_channel);  // the last one wins
        EXPECT_TRUE(r->unassoc_sta_metrics_non_operating_channel);
        EXPECT_THAT(log.root_lines(),
                    ElementsAre("warn parse_ap_capability received TLV_TYPE_AP_CAPABILITY multiple "
                                "times",
                                "info parse_ap_capability received unexpected "
                                "TLV_TYPE_AL_MAC_ADDRESS_TYPE (1)"));
    }
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_AP_CAPABILITY_REPORT, 21).add(radio(kRadio5, {115})),
                        parse_ap_capability),
                ElementsAre("warn parse_ap_capability APCapabilityTLV is missing"));
    EXPECT_THAT(
        refused(CmduBuilder(CMDU_TYPE_AP_CAPABILITY_REPORT, 21).add(ap_cap(true, true, true)),
                parse_ap_capability),
        ElementsAre("warn parse_ap_capability TLV_TYPE_AP_RADIO_BASIC_CAPABILITY is "
                    "missing"));
}

// ---- AP Metrics Response ---------------------------------------------------------------

TEST(ParseApMetricResponse, ChannelUtilisationIsScaledToPercent) {
    CmduBuilder b(CMDU_TYPE_AP_METRICS_RESPONSE, 5);
    for (uint8_t u : {255, 254, 128, 1, 0}) {
        ap_metrics_tlv t;
        t.bssid = kBss;
        t.channel_utilization = u;
        t.num_associated_stas = 300;
        b.add(t);
    }
    auto r = parse_ap_metric_response(wire(b).get());
    ASSERT_TRUE(r);
    std::vector<int> got;
    for (const auto& m : r->ap_metrics)
        got.push_back(m.channel_utilization);
    EXPECT_EQ(got, (std::vector<int>{100, 99, 50, 0, 0}));
    EXPECT_EQ(r->ap_metrics[0].num_associated_stas, 300);
    EXPECT_EQ(r->ap_metrics[0].bssid, kBss);
}

TEST(ParseApMetricResponse, EveryListInOrder) {
    LogCapture log;
    CmduBuilder b(CMDU_TYPE_AP_METRICS_RESPONSE, 5);
    b.add(associated_sta_traffic_stats_tlv{TLV_TYPE_ASSOCIATED_STA_TRAFFIC_STATS, kSta, 1, 2, 3, 4,
                                           5, 6, 0xffffffff});
    b.add(radio_metrics_tlv{TLV_TYPE_RADIO_METRICS, kRadio5, 90, 10, 20, 30});
    b.add(ap_extended_metrics_tlv{TLV_TYPE_AP_EXTENDED_METRICS, kBss, 11, 0, 0, 0, 0, 66});
    b.add(associated_sta_link_metrics_tlv{
        TLV_TYPE_ASSOCIATED_STA_LINK_METRICS, kSta, 1, {{kBss, 100, 866, 433, 180}}});
    const associated_sta_extended_link_metrics_tlv::bss_metric em{kBss, 7, 0, 0, 9};
    b.add(associated_sta_extended_link_metrics_tlv{
        TLV_TYPE_ASSOCIATED_STA_EXTENDED_LINK_METRICS, kSta, 2, {em, em}});
    auto r = parse_ap_metric_response(wire(b).get());
    ASSERT_TRUE(r);  // traffic stats alone make it usable
    ASSERT_EQ(r->sta_traffic_stats.size(), 1u);
    const auto& ts = r->sta_traffic_stats[0];
    EXPECT_EQ(std::tie(ts.sta, ts.rx_packet_errors, ts.retransmissions),
              std::make_tuple(kSta, 6u, 0xffffffffu));
    ASSERT_EQ(r->radio_metrics.size(), 1u);
    EXPECT_EQ(r->radio_metrics[0].noise, 90);
    EXPECT_EQ(r->radio_metrics[0].receive_other, 30);
    ASSERT_EQ(r->ap_ext_metrics.size(), 1u);
    EXPECT_EQ(r->ap_ext_metrics[0].unicast_bytes_sent, 11u);
    EXPECT_EQ(r->ap_ext_metrics[0].broadcast_bytes_received, 66u);
    ASSERT_EQ(r->sta_link_metrics.size(), 1u);
    ASSERT_EQ(r->sta_link_metrics[0].metrics.size(), 1u);
    EXPECT_EQ(r->sta_link_metrics[0].metrics[0].downlink_rate, 866u);
    EXPECT_EQ(r->sta_link_metrics[0].metrics[0].uplink_rcpi, 180u);
    ASSERT_EQ(r->sta_ext_link_metrics.size(), 1u);
    EXPECT_EQ(r->sta_ext_link_metrics[0].metrics.size(), 2u);
    EXPECT_EQ(r->sta_ext_link_metrics[0].metrics[1].utilization_transmit, 9u);
    EXPECT_FALSE(r->error_code);
    EXPECT_THAT(log.root_lines(), IsEmpty());
}

TEST(ParseApMetricResponse, ErrorCodeAloneAndNothingUsable) {
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_AP_METRICS_RESPONSE, 0x1234);
        b.add(error(2, kSta)).add(error(1, kAl));
        auto r = parse_ap_metric_response(wire(b).get());
        ASSERT_TRUE(r);
        EXPECT_THAT(r->ap_metrics, IsEmpty());
        EXPECT_THAT(r->sta_traffic_stats, IsEmpty());
        ASSERT_TRUE(r->error_code);
        EXPECT_EQ(r->error_code->reason_code, 1);
        EXPECT_EQ(r->error_code->sta, kAl);
        EXPECT_THAT(log.root_lines(),
                    ElementsAre("warn parse_ap_metric_response received TLV_TYPE_ERROR multiple "
                                "times message id 4660"));
    }
    // Radio metrics alone, and an unexpected TLV: empty, without a warning.
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_AP_METRICS_RESPONSE, 77)
                            .add(for_radio<radio_metrics_tlv>(kRadio5))
                            .add(al_mac_address_tlv{}),
                        parse_ap_metric_response),
                ElementsAre("info parse_ap_metric_response received unexpected "
                            "TLV_TYPE_AL_MAC_ADDRESS_TYPE (1) message id 77"));
}

// ---- Associated STA Link Metrics Response ------------------------------------------------

TEST(ParseAssocStaLinkMetricResponse, MetricsOrErrorElseMissing) {
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, 8);
        associated_sta_link_metrics_tlv lm;
        lm.sta_mac = kSta;
        b.add(lm).add(associated_sta_extended_link_metrics_tlv{});
        auto r = parse_assoc_sta_link_metric_response(wire(b).get());
        ASSERT_TRUE(r);
        ASSERT_EQ(r->sta_link_metrics.size(), 1u);
        EXPECT_EQ(r->sta_link_metrics[0].sta, kSta);
        EXPECT_THAT(r->sta_link_metrics[0].metrics, IsEmpty());
        EXPECT_EQ(r->sta_ext_link_metrics.size(), 1u);
        EXPECT_THAT(log.root_lines(), IsEmpty());
    }
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, 8);
        b.add(error(2, kSta));
        auto r = parse_assoc_sta_link_metric_response(wire(b).get());
        ASSERT_TRUE(r);
        EXPECT_EQ(r->error_code->reason_code, 2);
    }
    // The message id argument has no placeholder: the line reads as written.
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, 8)
                            .add(associated_sta_extended_link_metrics_tlv{})
                            .add(ap_metrics_tlv{}),
                        parse_assoc_sta_link_metric_response),
                ElementsAre("info parse_assoc_sta_link_metric_response received unexpected "
                            "TLV_TYPE_AP_METRICS (148) message id 8",
                            "warn parse_assoc_sta_link_metric_response "
                            "TLV_TYPE_ASSOCIATED_STA_LINK_METRICS is missing message_id"));
}

// ---- 1905.1 Link Metric Response ---------------------------------------------------------

TEST(ParseLinkMetricResponse, TransmitterAndReceiverLinks) {
    CmduBuilder b(CMDU_TYPE_LINK_METRIC_RESPONSE, 4);
    const transmitter_link_metric_tlv tx{
        TLV_TYPE_TRANSMITTER_LINK_METRIC,
        kAl,
        kAl2,
        {{kRadio5, kSta, MEDIA_TYPE_IEEE_802_11AX, 1, 3, 1000, 600, 90, 1200}}};
    b.add(tx).add(tx).add(receiver_link_metric_tlv{
        TLV_TYPE_RECEIVER_LINK_METRIC, kAl, kAl2, {{kRadio5, MAC(), 0, 0, 999, 50}}});
    auto r = parse_link_metric_response(wire(b).get());
    ASSERT_TRUE(r);
    ASSERT_EQ(r->transmitter.size(), 2u);
    EXPECT_EQ(r->transmitter[0].neighbor_al_mac, kAl2);
    ASSERT_EQ(r->transmitter[0].links.size(), 1u);
    const auto& t = r->transmitter[0].links[0];
    EXPECT_EQ(std::tie(t.neighbor_interface, t.media_type, t.bridge_flag, t.transmitted_packets,
                       t.mac_throughput_capacity, t.link_availability, t.phy_rate),
              std::make_tuple(kSta, MEDIA_TYPE_IEEE_802_11AX, 1, 1000u, 600, 90, 1200));
    ASSERT_EQ(r->receiver.size(), 1u);
    EXPECT_EQ(r->receiver[0].links[0].packets_received, 999u);
    EXPECT_EQ(r->receiver[0].links[0].rssi, 50);
    EXPECT_FALSE(r->result_code);
}

TEST(ParseLinkMetricResponse, ResultCodeAloneOrNothing) {
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_LINK_METRIC_RESPONSE, 4);
        b.add(link_metric_result_code_tlv{});
        auto r = parse_link_metric_response(wire(b).get());
        ASSERT_TRUE(r);
        EXPECT_THAT(r->transmitter, IsEmpty());
        EXPECT_THAT(r->receiver, IsEmpty());
        ASSERT_TRUE(r->result_code);
        EXPECT_EQ(*r->result_code, LINK_METRIC_RESULT_INVALID_NEIGHBOR);
    }
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_LINK_METRIC_RESPONSE, 4), parse_link_metric_response),
                ElementsAre("warn parse_link_metric_response TLV_TYPE_TRANSMITTER_LINK_METRIC "
                            "and TLV_TYPE_RECEIVER_LINK_METRIC and "
                            "TLV_TYPE_LINK_METRIC_RESULT_CODE is missing message_id"));
}

// ---- Unassociated STA Link Metrics Response ---------------------------------------------

TEST(ParseUnassocStaLinkMetricResponse, LastResponseWinsElseMissing) {
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE, 12);
        using Response = unassociated_sta_link_metrics_response_tlv;
        const Response::sta s{kSta, 36, 40, 200};
        b.add(Response{TLV_TYPE_UNASSOCIATED_STA_METRICS_RESPONSE, 115, 0, {s, s}});
        b.add(Response{TLV_TYPE_UNASSOCIATED_STA_METRICS_RESPONSE, 121, 0, {{kSta, 100, 40, 200}}});
        b.add(vendor_specific_tlv{});
        auto r = parse_unassoc_sta_link_metric_response(wire(b).get());
        ASSERT_TRUE(r);
        EXPECT_EQ(r->op_class, 121);
        ASSERT_EQ(r->stas.size(), 1u);
        const StaRCPI& s0 = r->stas[0];
        EXPECT_EQ(std::tie(s0.mac, s0.channel, s0.time_delta_ms, s0.uplink_rcpi),
                  std::make_tuple(kSta, 100, 40u, 200u));
        EXPECT_THAT(log.root_lines(),
                    ElementsAre("info parse_unassoc_sta_link_metric_response received unexpected "
                                "TLV_TYPE_VENDOR_SPECIFIC (11). message id 12"));
    }
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE, 12),
                        parse_unassoc_sta_link_metric_response),
                ElementsAre("warn parse_unassoc_sta_link_metric_response "
                            "TLV_TYPE_UNASSOCIATED_STA_METRICS_RESPONSE is missing. message_id"));
}

// ---- Beacon Metrics Response -------------------------------------------------------------

TEST(ParseBeaconMetricsResponse, ElementsCopiedWholeDuplicateWarns) {
    LogCapture log;
    CmduBuilder b(CMDU_TYPE_BEACON_METRICS_RESPONSE, 13);
    beacon_metrics_response_tlv t;
    t.sta_mac = kAl;
    b.add(t);
    t.sta_mac = kSta;
    beacon_metrics_response_tlv::report_element e;
    e.body = {1, 0, 5, 115, 36};
    t.elements = {e, e};
    t.elements[1].body.assign(255, 0xab);
    t.num_elements = 2;
    b.add(t);
    auto r = parse_beacon_metrics_response(wire(b).get());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sta, kSta);
    ASSERT_EQ(r->elements.size(), 2u);
    EXPECT_EQ(r->elements[0].element_id, 39);
    EXPECT_EQ(r->elements[0].body, (std::vector<uint8_t>{1, 0, 5, 115, 36}));
    EXPECT_EQ(r->elements[1].body.size(), 255u);
    EXPECT_THAT(log.root_lines(), ElementsAre("warn parse_beacon_metrics_response received "
                                              "TLV_TYPE_BEACON_METRICS_RESPONSE multiple times"));

    EXPECT_THAT(
        refused(CmduBuilder(CMDU_TYPE_BEACON_METRICS_RESPONSE, 13).add(al_mac_address_tlv{}),
                parse_beacon_metrics_response),
        ElementsAre("info parse_beacon_metrics_response received unexpected "
                    "TLV_TYPE_AL_MAC_ADDRESS_TYPE (1)",
                    "warn parse_beacon_metrics_response TLV_TYPE_BEACON_METRICS_RESPONSE is "
                    "missing"));
}

}  // namespace
