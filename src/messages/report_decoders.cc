// Channel Preference, Channel Scan and Operating Channel Reports, Client
// Steering BTM Report, Backhaul Steering Response, Failed Connection and
// Tunneled messages, and the status texts of their records.
#include <fmt/format.h>

#include "core/log.h"
#include "messages/decoders.h"
#include "messages/tlv_walk.h"

namespace {

template <class V>
size_t bounded(size_t count, const V& v) {
    return count < v.size() ? count : v.size();
}

// TEXT, the code, ")." for a code the table names; the code alone otherwise.
std::string code_text(unsigned code, const char* const* table, unsigned first, unsigned count) {
    if (code >= first && code - first < count)
        return fmt::format("{}{}).", table[code - first], code);
    return fmt::format("{}", code);
}

}  // namespace

std::string SteeringBTMReportTLV::status_string() const {
    static const char* const kTexts[] = {
        "Accept (",
        "Unspecified reject reason (",
        "Insufficient Beacon or Probe Response frames received from all candidates (",
        "Insufficient available capacity from all candidates (",
        "BSS termination undesired (",
        "BSS termination delay requested (",
        "STA BSS Transition Candidate List provided (",
        "No suitable BSS transition candidates (",
        "Leaving ESS (",
    };
    return code_text(status, kTexts, 0, sizeof kTexts / sizeof kTexts[0]);
}

std::string ErrorCodeTLV::reason_string() const {
    static const char* const kTexts[] = {
        "STA associated with a BSS operated by the Multi-AP Agent (",
        "STA not associated with any BSS operated by the Multi-AP Agent (",
        "Client capability report unspecified failure (",
        "Backhaul steering request rejected because the backhaul STA cannot operate on the "
        "channel specified (",
        "Backhaul steering request rejected because the target BSS signal is too weak or not "
        "found (",
        "Backhaul steering request authentication or association Rejected by the target BSS (",
    };
    return code_text(reason_code, kTexts, 1, sizeof kTexts / sizeof kTexts[0]);
}

namespace {

struct ChannelPreference {
    ChannelPreferenceReportMessage m;
    bool completion = false;
};

const TlvRule<ChannelPreference> kChannelPreferenceRules[] = {
    {TLV_TYPE_CAC_COMPLETION_REPORT,
     [](ChannelPreference& s, const TlvWalk& w) {
         const auto& t = w.as<cac_completion_report_tlv>();
         s.m.cac_completion.clear();
         const size_t nr = bounded(t.num_radios, t.radios);
         s.m.cac_completion.reserve(nr);
         for (size_t r = 0; r < nr; ++r) {
             const auto& in = t.radios[r];
             CacCompletionRadioReport out;
             out.radio_id = in.radio_id;
             out.op_class = in.op_class;
             out.channel = in.channel;
             out.status = in.cac_completion_status;
             const size_t np = bounded(in.num_radar_pairs, in.radar_pairs);
             out.radar_pairs.reserve(np);
             for (size_t p = 0; p < np; ++p)
                 out.radar_pairs.push_back({in.radar_pairs[p].op_class, in.radar_pairs[p].channel});
             s.m.cac_completion.push_back(std::move(out));
         }
         s.completion = true;
     }},
    {TLV_TYPE_CHANNEL_PREFERENCE, nullptr},
    {TLV_TYPE_RADIO_OPERATION_RESTRICTION, nullptr},
    {TLV_TYPE_CAC_STATUS_REPORT, nullptr},
};

struct ChannelScan {
    APChannelScanReportMesg m;
    bool timestamp = false;
};

// Any other TLV is skipped without a line.
const TlvRule<ChannelScan> kChannelScanRules[] = {
    {TLV_TYPE_CHANNEL_SCAN_RESULT,
     [](ChannelScan& s, const TlvWalk& w) {
         s.m.results.push_back(w.as<channel_scan_result_tlv>());
     }},
    {TLV_TYPE_TIMESTAMP,
     [](ChannelScan& s, const TlvWalk& w) {
         s.m.timestamp = w.as<timestamp_tlv>().timestamp;
         s.timestamp = true;
     }},
};

const TlvRule<OperatingChannelReportMesg> kOperatingChannelRules[] = {
    {TLV_TYPE_OPERATING_CHANNEL_REPORT,
     [](OperatingChannelReportMesg& m, const TlvWalk& w) {
         const auto& t = w.as<operating_channel_report_tlv>();
         OperatingChannelReportTLV r;
         r.radio_id = t.radio_id;
         r.tx_power = t.current_tx_power_eirp;
         const size_t n = bounded(t.num_op_classes, t.op_classes);
         r.op_classes.assign(t.op_classes.begin(), t.op_classes.begin() + n);
         m.reports.push_back(std::move(r));
     }},
};

struct BtmReport {
    SteeringBTMReportTLV m;
    bool seen = false;
};

const TlvRule<BtmReport> kBtmReportRules[] = {
    {TLV_TYPE_BTM_REPORT,
     [](BtmReport& s, const TlvWalk& w) {
         if (s.seen)
             OZR_LOG_AS(root_logger, 4, w.decoder(),
                        "{} received TLV_TYPE_BTM_REPORT multiple times", w.decoder());
         const auto& t = w.as<steering_btm_report_tlv>();
         s.m = SteeringBTMReportTLV();
         s.m.bssid = t.bssid;
         s.m.sta = t.sta_mac;
         s.m.status = t.btm_status_code;
         if (t.has_target_bssid)
             s.m.target_bssid = t.target_bssid;
         s.seen = true;
     }},
};

struct BackhaulSteering {
    BackhaulSteeringResponseMesg m;
    unsigned responses = 0;
};

const TlvRule<BackhaulSteering> kBackhaulSteeringRules[] = {
    {TLV_TYPE_BACKHAUL_STEERING_RESPONSE,
     [](BackhaulSteering& s, const TlvWalk& w) {
         if (s.responses > 0)
             OZR_LOG_AS(root_logger, 4, w.decoder(),
                        "{} received TLV_TYPE_BACKHAUL_STEERING_RESPONSE multiple times",
                        w.decoder());
         const auto& t = w.as<backhaul_steering_response_tlv>();
         s.m.backhaul_sta = t.backhaul_sta_mac;
         s.m.target_bssid = t.target_bssid;
         s.m.result_code = t.result_code;
         ++s.responses;
     }},
    {TLV_TYPE_ERROR, [](BackhaulSteering& s, const TlvWalk& w) { take_error_code(s.m, w); }},
};

struct FailedConnection {
    FailedConnectionMesg m;
    bool status = false;
};

const TlvRule<FailedConnection> kFailedConnectionRules[] = {
    {TLV_TYPE_STATUS_CODE,
     [](FailedConnection& s, const TlvWalk& w) {
         s.m.status_code = w.as<status_code_tlv>().status_code;
         s.status = true;
     }},
    {TLV_TYPE_REASON_CODE,
     [](FailedConnection& s, const TlvWalk& w) {
         s.m.reason_code = w.as<reason_code_tlv>().reason_code;
     }},
    {TLV_TYPE_STA_MAC_ADDRESS,
     [](FailedConnection& s, const TlvWalk& w) { s.m.sta = w.as<sta_mac_address_tlv>().sta_mac; }},
};

struct Tunneled {
    TunneledMesg m;
    bool type = false;
    bool tunneled = false;
};

const TlvRule<Tunneled> kTunneledRules[] = {
    {TLV_TYPE_SOURCE_INFO,
     [](Tunneled& s, const TlvWalk& w) { s.m.sta = w.as<source_info_tlv>().mac; }},
    {TLV_TYPE_TUNNELED_MESSAGE_TYPE,
     [](Tunneled& s, const TlvWalk& w) {
         s.m.message_type = w.as<tunneled_message_type_tlv>().message_type;
         s.type = true;
     }},
    {TLV_TYPE_TUNNELED,
     [](Tunneled& s, const TlvWalk& w) {
         // Concatenated in CMDU order; an empty one still counts. The
         // payload is never larger than the CMDU it is copied from.
         const auto& body = w.as<tunneled_tlv>().frame_body;
         const size_t n = body.size() < 0xffff ? body.size() : 0xffff;  // 16-bit length
         s.m.payload.insert(s.m.payload.end(), body.begin(), body.begin() + n);
         s.tunneled = true;
     }},
};

}  // namespace

optional<ChannelPreferenceReportMessage> parse_channel_preference_report_message(CMDU* cmdu) {
    ChannelPreference s;
    walk_tlvs(cmdu, __func__, Unexpected::kMessageId, kChannelPreferenceRules, s);
    if (!s.completion)
        return {};
    return std::move(s.m);
}

optional<APChannelScanReportMesg> parse_ap_ch_scan_report(CMDU* cmdu) {
    ChannelScan s;
    walk_tlvs(cmdu, __func__, Unexpected::kSilent, kChannelScanRules, s);
    if (s.m.results.empty() || !s.timestamp)
        return {};
    return std::move(s.m);
}

optional<OperatingChannelReportMesg> parse_operating_channel(CMDU* cmdu) {
    OperatingChannelReportMesg m;
    walk_tlvs(cmdu, __func__, Unexpected::kPlain, kOperatingChannelRules, m);
    if (m.reports.empty()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_OPERATING_CHANNEL_REPORT is missing", __func__);
        return {};
    }
    return m;
}

optional<SteeringBTMReportTLV> parse_btm_steering_report(CMDU* cmdu) {
    BtmReport s;
    walk_tlvs(cmdu, __func__, Unexpected::kPlain, kBtmReportRules, s);
    if (!s.seen) {
        OZR_WARN(root_logger, "{} TLV_TYPE_BTM_REPORT is missing", __func__);
        return {};
    }
    return std::move(s.m);
}

optional<BackhaulSteeringResponseMesg> parse_backhaul_steering_response(CMDU* cmdu) {
    const unsigned mid = cmdu ? cmdu->message_id : 0;
    BackhaulSteering s;
    walk_tlvs(cmdu, __func__, Unexpected::kMessageId, kBackhaulSteeringRules, s);
    if (s.responses != 1) {
        OZR_WARN(
            root_logger,
            "{} TLV_TYPE_BACKHAUL_STEERING_RESPONSE is missing or more than 1 in message_id {}",
            __func__, mid);
        return {};
    }
    return std::move(s.m);
}

optional<FailedConnectionMesg> parse_failed_connection_message(CMDU* cmdu) {
    FailedConnection s;
    walk_tlvs(cmdu, __func__, Unexpected::kPlain, kFailedConnectionRules, s);
    // Checked in this order, the first one missing ends the decode; an all-zero
    // client address counts as missing.
    if (s.m.sta.is_zero()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_STA_MAC_ADDRESS is missing", __func__);
        return {};
    }
    if (!s.status) {
        OZR_WARN(root_logger, "{} TLV_TYPE_STATUS_CODE is missing", __func__);
        return {};
    }
    return std::move(s.m);
}

optional<TunneledMesg> parse_tunneled_message(CMDU* cmdu) {
    Tunneled s;
    walk_tlvs(cmdu, __func__, Unexpected::kPlain, kTunneledRules, s);
    if (s.m.sta.is_zero()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_SOURCE_INFO is missing", __func__);
        return {};
    }
    if (!s.type) {
        OZR_WARN(root_logger, "{} TLV_TYPE_TUNNELED_MESSAGE_TYPE is missing", __func__);
        return {};
    }
    if (!s.tunneled) {
        OZR_WARN(root_logger, "{} TLV_TYPE_TUNNELED is missing", __func__);
        return {};
    }
    return std::move(s.m);
}
