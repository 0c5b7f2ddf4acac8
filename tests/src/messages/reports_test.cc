#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "decoder_test_util.h"
#include "messages/decoders.h"

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const MAC kRadio(0x02, 0x00, 0x00, 0x00, 0x05, 0x00);
const MAC kSta(0x5c, 0x11, 0x22, 0x33, 0x44, 0x55);
const BSSID kBss(0x02, 0x00, 0x00, 0x00, 0x0b, 0x01);
const BSSID kTarget(0x02, 0x00, 0x00, 0x00, 0x0b, 0x02);

// ---- Channel Preference Report ----------------------------------------------------------

TEST(ParseChannelPreferenceReport, OnlyTheCacCompletionReportMakesARecord) {
    channel_preference_tlv pref;
    pref.radio_id = kRadio;
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_CHANNEL_PREFERENCE_REPORT, 30)
                            .add(pref)
                            .add(pref)
                            .add(radio_operation_restriction_tlv{})
                            .add(cac_status_report_tlv{}),
                        parse_channel_preference_report_message),
                IsEmpty());
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_CHANNEL_PREFERENCE_REPORT, 30);
        cac_completion_report_tlv first;
        first.radios.resize(2);
        b.add(first);
        b.add(cac_completion_report_tlv{TLV_TYPE_CAC_COMPLETION_REPORT,
                                        1,
                                        {{kRadio, 121, 100, 1, 2, {{121, 100}, {121, 104}}}}});
        b.add(al_mac_address_tlv{});
        auto m = parse_channel_preference_report_message(wire(b).get());
        ASSERT_TRUE(m);
        ASSERT_EQ(m->cac_completion.size(), 1u);  // the later TLV replaced the first
        const auto& c = m->cac_completion[0];
        EXPECT_EQ(std::tie(c.radio_id, c.op_class, c.channel, c.status),
                  std::make_tuple(kRadio, 121, 100, 1));
        ASSERT_EQ(c.radar_pairs.size(), 2u);
        EXPECT_EQ(c.radar_pairs[1].channel, 104);
        EXPECT_THAT(m->cac_available, IsEmpty());
        EXPECT_THAT(m->cac_non_occupancy, IsEmpty());
        EXPECT_THAT(m->cac_ongoing, IsEmpty());
        EXPECT_THAT(log.root_lines(),
                    ElementsAre("info parse_channel_preference_report_message received unexpected "
                                "TLV_TYPE_AL_MAC_ADDRESS_TYPE (1) message id 30"));
    }
}

// ---- Channel Scan Report ----------------------------------------------------------------

TEST(ParseApChScanReport, NeedsResultsAndATimestamp) {
    channel_scan_result_tlv res;
    res.radio_id = kRadio;
    res.op_class = 115;
    res.channel = 36;
    res.timestamp = "2026-12-05T19:00:00Z";
    res.utilization = 40;
    res.noise = 90;
    res.neighbors = {{kBss, 4, {'m', 'e', 's', 'h'}, 120, "80", 0, 0, 0, 0}};
    res.num_neighbors = 1;
    const timestamp_tlv ts{TLV_TYPE_TIMESTAMP, "2026-12-05T19:00:01Z"};
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_CHANNEL_SCAN_REPORT, 31);
        b.add(ts).add(res).add(al_mac_address_tlv{}).add(res);
        auto m = parse_ap_ch_scan_report(wire(b).get());
        ASSERT_TRUE(m);
        EXPECT_EQ(m->timestamp, "2026-12-05T19:00:01Z");
        ASSERT_EQ(m->results.size(), 2u);
        EXPECT_EQ(m->results[0].channel, 36);
        EXPECT_EQ(m->results[0].timestamp, "2026-12-05T19:00:00Z");
        ASSERT_EQ(m->results[0].neighbors.size(), 1u);
        EXPECT_EQ(m->results[0].neighbors[0].channel_bandwidth, "80");
        EXPECT_THAT(log.root_lines(), IsEmpty());  // other TLVs are skipped silently
    }
    refused(CmduBuilder(CMDU_TYPE_CHANNEL_SCAN_REPORT, 31).add(res), parse_ap_ch_scan_report);
    refused(CmduBuilder(CMDU_TYPE_CHANNEL_SCAN_REPORT, 31).add(ts), parse_ap_ch_scan_report);
}

// ---- Operating Channel Report -------------------------------------------------------------

TEST(ParseOperatingChannel, ReportsAppendedElseMissing) {
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_OPERATING_CHANNEL_REPORT, 32);
        b.add(operating_channel_report_tlv{
            TLV_TYPE_OPERATING_CHANNEL_REPORT, kRadio, 2, {{128, 42}, {121, 100}}, 23});
        b.add(operating_channel_report_tlv{TLV_TYPE_OPERATING_CHANNEL_REPORT, kSta, 0, {}, 23})
            .add(vendor_specific_tlv{});
        auto m = parse_operating_channel(wire(b).get());
        ASSERT_TRUE(m);
        ASSERT_EQ(m->reports.size(), 2u);
        EXPECT_EQ(m->reports[0].radio_id, kRadio);
        EXPECT_EQ(m->reports[0].tx_power, 23);
        ASSERT_EQ(m->reports[0].op_classes.size(), 2u);
        EXPECT_EQ(m->reports[0].op_classes[1].op_class, 121);
        EXPECT_EQ(m->reports[0].op_classes[1].channel, 100);
        EXPECT_THAT(m->reports[1].op_classes, IsEmpty());
        EXPECT_THAT(log.root_lines(),
                    ElementsAre("info parse_operating_channel received unexpected "
                                "TLV_TYPE_VENDOR_SPECIFIC (11)"));
    }
    EXPECT_THAT(
        refused(CmduBuilder(CMDU_TYPE_OPERATING_CHANNEL_REPORT, 32), parse_operating_channel),
        ElementsAre("warn parse_operating_channel TLV_TYPE_OPERATING_CHANNEL_REPORT is "
                    "missing"));
}

// ---- Client Steering BTM Report ----------------------------------------------------------

TEST(ParseBtmSteeringReport, TargetOnlyWhenCarriedAndTheLastWins) {
    LogCapture log;
    CmduBuilder b(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, 33);
    steering_btm_report_tlv t{TLV_TYPE_BTM_REPORT, kBss, kSta, 0, 1, kTarget};
    b.add(t);
    auto m = parse_btm_steering_report(wire(b).get());
    ASSERT_TRUE(m);
    ASSERT_TRUE(m->target_bssid);
    EXPECT_EQ(std::tie(m->bssid, m->sta, *m->target_bssid), std::make_tuple(kBss, kSta, kTarget));
    EXPECT_EQ(m->status_string(), "Accept (0).");

    t.btm_status_code = 7;
    t.has_target_bssid = 0;
    t.target_bssid = BSSID();
    b.add(t);
    m = parse_btm_steering_report(wire(b).get());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->status, 7);
    EXPECT_FALSE(m->target_bssid);  // the second report carried none
    EXPECT_THAT(log.root_lines(),
                ElementsAre("warn parse_btm_steering_report received TLV_TYPE_BTM_REPORT multiple "
                            "times"));

    EXPECT_THAT(
        refused(CmduBuilder(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, 33).add(error_code_tlv{}),
                parse_btm_steering_report),
        ElementsAre("info parse_btm_steering_report received unexpected TLV_TYPE_ERROR (163)",
                    "warn parse_btm_steering_report TLV_TYPE_BTM_REPORT is missing"));
}

// ---- Backhaul Steering Response ------------------------------------------------------------

backhaul_steering_response_tlv bh_response(uint8_t result) {
    backhaul_steering_response_tlv t;
    t.backhaul_sta_mac = kSta;
    t.target_bssid = kTarget;
    t.result_code = result;
    return t;
}

TEST(ParseBackhaulSteeringResponse, ExactlyOneResponse) {
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, 34);
        b.add(bh_response(1)).add(error_code_tlv{TLV_TYPE_ERROR, 5, kSta});
        auto m = parse_backhaul_steering_response(wire(b).get());
        ASSERT_TRUE(m);
        EXPECT_EQ(std::tie(m->backhaul_sta, m->target_bssid, m->result_code),
                  std::make_tuple(kSta, kTarget, 1));
        ASSERT_TRUE(m->error_code);
        EXPECT_EQ(m->error_code->reason_string(),
                  "Backhaul steering request rejected because the target BSS signal is too weak "
                  "or not found (5).");
        EXPECT_THAT(log.root_lines(), IsEmpty());
    }
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, 34)
                            .add(bh_response(0))
                            .add(bh_response(1)),
                        parse_backhaul_steering_response),
                ElementsAre("warn parse_backhaul_steering_response received "
                            "TLV_TYPE_BACKHAUL_STEERING_RESPONSE multiple times",
                            "warn parse_backhaul_steering_response "
                            "TLV_TYPE_BACKHAUL_STEERING_RESPONSE is missing or more than 1 in "
                            "message_id 34"));
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, 35)
                            .add(error_code_tlv{})
                            .add(error_code_tlv{})
                            .add(sta_mac_address_tlv{}),
                        parse_backhaul_steering_response),
                ElementsAre("warn parse_backhaul_steering_response received TLV_TYPE_ERROR "
                            "multiple times message id 35",
                            "info parse_backhaul_steering_response received unexpected "
                            "TLV_TYPE_STA_MAC_ADDRESS (149) message id 35",
                            "warn parse_backhaul_steering_response "
                            "TLV_TYPE_BACKHAUL_STEERING_RESPONSE is missing or more than 1 in "
                            "message_id 35"));
}

// ---- Failed Connection ---------------------------------------------------------------------

TEST(ParseFailedConnection, StaAndStatusMandatoryReasonOptional) {
    const sta_mac_address_tlv sta{TLV_TYPE_STA_MAC_ADDRESS, kSta};
    const status_code_tlv status{TLV_TYPE_STATUS_CODE, 17};
    const reason_code_tlv reason{TLV_TYPE_REASON_CODE, 0x1234};
    {
        LogCapture log;
        CmduBuilder b(CMDU_TYPE_FAILED_CONNECTION, 36);
        b.add(status).add(sta);
        auto m = parse_failed_connection_message(wire(b).get());
        ASSERT_TRUE(m);
        EXPECT_EQ(std::make_tuple(m->sta, m->status_code, bool(m->reason_code)),
                  std::make_tuple(kSta, 17, false));
        CmduBuilder b2(CMDU_TYPE_FAILED_CONNECTION, 36);
        b2.add(sta).add(status).add(reason);
        m = parse_failed_connection_message(wire(b2).get());
        ASSERT_TRUE(m);
        ASSERT_TRUE(m->reason_code);
        EXPECT_EQ(*m->reason_code, 0x1234);
        EXPECT_THAT(log.root_lines(), IsEmpty());
    }
    EXPECT_THAT(refused(CmduBuilder(CMDU_TYPE_FAILED_CONNECTION, 36).add(reason),
                        parse_failed_connection_message),
                ElementsAre("warn parse_failed_connection_message TLV_TYPE_STA_MAC_ADDRESS is "
                            "missing"));
    EXPECT_THAT(
        refused(CmduBuilder(CMDU_TYPE_FAILED_CONNECTION, 36).add(sta).add(source_info_tlv{}),
                parse_failed_connection_message),
        ElementsAre("info parse_failed_connection_message received unexpected "
                    "TLV_TYPE_SOURCE_INFO (192)",
                    "warn parse_failed_connection_message TLV_TYPE_STATUS_CODE is "
                    "missing"));
}

// ---- Tunneled --------------------------------------------------------------------------------

TEST(ParseTunneledMessage, PayloadsConcatenateInOrder) {
    const source_info_tlv src{TLV_TYPE_SOURCE_INFO, kSta};
    const tunneled_message_type_tlv type{TLV_TYPE_TUNNELED_MESSAGE_TYPE, TUNNELED_BTM_QUERY};
    const tunneled_tlv a{TLV_TYPE_TUNNELED, {1, 2, 3}}, b{TLV_TYPE_TUNNELED, {4, 5, 6, 7}}, empty;
    LogCapture log;
    CmduBuilder c(CMDU_TYPE_TUNNELED, 37);
    c.add(src).add(type).add(a).add(empty).add(b);
    auto m = parse_tunneled_message(wire(c).get());
    ASSERT_TRUE(m);
    EXPECT_EQ(std::tie(m->sta, m->message_type, m->payload),
              std::make_tuple(kSta, TUNNELED_BTM_QUERY, std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));

    CmduBuilder only_empty(CMDU_TYPE_TUNNELED, 37);
    only_empty.add(src).add(type).add(empty);
    m = parse_tunneled_message(wire(only_empty).get());
    ASSERT_TRUE(m);  // a zero-length Tunneled TLV still counts
    EXPECT_THAT(m->payload, IsEmpty());
    EXPECT_THAT(log.root_lines(), IsEmpty());
}

TEST(ParseTunneledMessage, MissingPartsInOrder) {
    const source_info_tlv src{TLV_TYPE_SOURCE_INFO, kSta};
    struct Case {
        bool src, type, tunneled;
        const char* line;
    } cases[] = {
        {false, false, false, "warn parse_tunneled_message TLV_TYPE_SOURCE_INFO is missing"},
        {true, false, false,
         "warn parse_tunneled_message TLV_TYPE_TUNNELED_MESSAGE_TYPE is missing"},
        {true, true, false, "warn parse_tunneled_message TLV_TYPE_TUNNELED is missing"},
        {false, true, true, "warn parse_tunneled_message TLV_TYPE_SOURCE_INFO is missing"},
    };
    for (const Case& k : cases) {
        LogCapture log;
        CmduBuilder c(CMDU_TYPE_TUNNELED, 37);
        if (k.src)
            c.add(src);
        if (k.type)
            c.add(tunneled_message_type_tlv{});
        if (k.tunneled)
            c.add(tunneled_tlv{});
        EXPECT_FALSE(parse_tunneled_message(wire(c).get()));
        EXPECT_THAT(log.root_lines(), ElementsAre(k.line));
    }
}

}  // namespace
