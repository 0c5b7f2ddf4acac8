// Channel Preference, Channel Scan and Operating Channel Reports, Client
// Steering BTM Report, Backhaul Steering Response, Failed Connection and
// Tunneled messages, and the status texts of their records.
#include <fmt/format.h>

#include "core/log.h"
#include "messages/decoders.h"
#include "messages/tlv_walk.h"

namespace {

unsigned num(uint8_t v) {
    return v;
}

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

optional<ChannelPreferenceReportMessage> parse_channel_preference_report_message(CMDU* cmdu) {
    const unsigned mid = cmdu ? cmdu->message_id : 0;
    ChannelPreferenceReportMessage m;
    bool completion = false;
    for (TlvWalk w(cmdu); w.next();) {
        switch (w.type()) {
            case TLV_TYPE_CAC_COMPLETION_REPORT: {
                const auto& t = w.as<cac_completion_report_tlv>();
                m.cac_completion.clear();
                const size_t nr = bounded(t.num_radios, t.radios);
                m.cac_completion.reserve(nr);
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
                        out.radar_pairs.push_back(
                            {in.radar_pairs[p].op_class, in.radar_pairs[p].channel});
                    m.cac_completion.push_back(std::move(out));
                }
                completion = true;
                break;
            }
            case TLV_TYPE_CHANNEL_PREFERENCE:
            case TLV_TYPE_RADIO_OPERATION_RESTRICTION:
            case TLV_TYPE_CAC_STATUS_REPORT:
                break;
            default:
                OZR_INFO(root_logger, "{} received unexpected {} ({}) message id {}", __func__,
                         convert_1905_TLV_type_to_string(w.type()), num(w.type()), mid);
                break;
        }
    }
    if (!completion)
        return {};
    return m;
}

optional<APChannelScanReportMesg> parse_ap_ch_scan_report(CMDU* cmdu) {
    APChannelScanReportMesg m;
    bool timestamp = false;
    for (TlvWalk w(cmdu); w.next();) {
        switch (w.type()) {
            case TLV_TYPE_CHANNEL_SCAN_RESULT:
                m.results.push_back(w.as<channel_scan_result_tlv>());
                break;
            case TLV_TYPE_TIMESTAMP:
                m.timestamp = w.as<timestamp_tlv>().timestamp;
                timestamp = true;
                break;
            default:  // skipped without a line
                break;
        }
    }
    if (m.results.empty() || !timestamp)
        return {};
    return m;
}

optional<OperatingChannelReportMesg> parse_operating_channel(CMDU* cmdu) {
    OperatingChannelReportMesg m;
    for (TlvWalk w(cmdu); w.next();) {
        switch (w.type()) {
            case TLV_TYPE_OPERATING_CHANNEL_REPORT: {
                const auto& t = w.as<operating_channel_report_tlv>();
                OperatingChannelReportTLV r;
                r.radio_id = t.radio_id;
                r.tx_power = t.current_tx_power_eirp;
                const size_t n = bounded(t.num_op_classes, t.op_classes);
                r.op_classes.assign(t.op_classes.begin(), t.op_classes.begin() + n);
                m.reports.push_back(std::move(r));
                break;
            }
            default:
                OZR_INFO(root_logger, "{} received unexpected {} ({})", __func__,
                         convert_1905_TLV_type_to_string(w.type()), num(w.type()));
                break;
        }
    }
    if (m.reports.empty()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_OPERATING_CHANNEL_REPORT is missing", __func__);
        return {};
    }
    return m;
}

optional<SteeringBTMReportTLV> parse_btm_steering_report(CMDU* cmdu) {
    SteeringBTMReportTLV m;
    bool seen = false;
    for (TlvWalk w(cmdu); w.next();) {
        switch (w.type()) {
            case TLV_TYPE_BTM_REPORT: {
                if (seen)
                    OZR_WARN(root_logger, "{} received TLV_TYPE_BTM_REPORT multiple times",
                             __func__);
                const auto& t = w.as<steering_btm_report_tlv>();
                m = SteeringBTMReportTLV();
                m.bssid = t.bssid;
                m.sta = t.sta_mac;
                m.status = t.btm_status_code;
                if (t.has_target_bssid)
                    m.target_bssid = t.target_bssid;
                seen = true;
                break;
            }
            default:
                OZR_INFO(root_logger, "{} received unexpected {} ({})", __func__,
                         convert_1905_TLV_type_to_string(w.type()), num(w.type()));
                break;
        }
    }
    if (!seen) {
        OZR_WARN(root_logger, "{} TLV_TYPE_BTM_REPORT is missing", __func__);
        return {};
    }
    return m;
}

optional<BackhaulSteeringResponseMesg> parse_backhaul_steering_response(CMDU* cmdu) {
    const unsigned mid = cmdu ? cmdu->message_id : 0;
    BackhaulSteeringResponseMesg m;
    unsigned responses = 0;
    for (TlvWalk w(cmdu); w.next();) {
        switch (w.type()) {
            case TLV_TYPE_BACKHAUL_STEERING_RESPONSE: {
                if (responses > 0)
                    OZR_WARN(root_logger,
                             "{} received TLV_TYPE_BACKHAUL_STEERING_RESPONSE multiple times",
                             __func__);
                const auto& t = w.as<backhaul_steering_response_tlv>();
                m.backhaul_sta = t.backhaul_sta_mac;
                m.target_bssid = t.target_bssid;
                m.result_code = t.result_code;
                ++responses;
                break;
            }
            case TLV_TYPE_ERROR: {
                if (m.error_code)
                    OZR_WARN(root_logger, "{} received TLV_TYPE_ERROR multiple times message id {}",
                             __func__, mid);
                const auto& t = w.as<error_code_tlv>();
                ErrorCodeTLV e;
                e.reason_code = t.reason_code;
                e.sta = t.sta_mac;
                m.error_code = e;
                break;
            }
            default:
                OZR_INFO(root_logger, "{} received unexpected {} ({}) message id {}", __func__,
                         convert_1905_TLV_type_to_string(w.type()), num(w.type()), mid);
                break;
        }
    }
    if (responses != 1) {
        OZR_WARN(
            root_logger,
            "{} TLV_TYPE_BACKHAUL_STEERING_RESPONSE is missing or more than 1 in message_id {}",
            __func__, mid);
        return {};
    }
    return m;
}

optional<FailedConnectionMesg> parse_failed_connection_message(CMDU* cmdu) {
    FailedConnectionMesg m;
    bool status = false;
    for (TlvWalk w(cmdu); w.next();) {
        switch (w.type()) {
            case TLV_TYPE_STATUS_CODE:
                m.status_code = w.as<status_code_tlv>().status_code;
                status = true;
                break;
            case TLV_TYPE_REASON_CODE:
                m.reason_code = w.as<reason_code_tlv>().reason_code;
                break;
            case TLV_TYPE_STA_MAC_ADDRESS:
                m.sta = w.as<sta_mac_address_tlv>().sta_mac;
                break;
            default:
                OZR_INFO(root_logger, "{} received unexpected {} ({})", __func__,
                         convert_1905_TLV_type_to_string(w.type()), num(w.type()));
                break;
        }
    }
    // Checked in this order, the first one missing ends the decode; an all-zero
    // client address counts as missing.
    if (m.sta.is_zero()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_STA_MAC_ADDRESS is missing", __func__);
        return {};
    }
    if (!status) {
        OZR_WARN(root_logger, "{} TLV_TYPE_STATUS_CODE is missing", __func__);
        return {};
    }
    return m;
}

optional<TunneledMesg> parse_tunneled_message(CMDU* cmdu) {
    TunneledMesg m;
    bool type = false, tunneled = false;
    for (TlvWalk w(cmdu); w.next();) {
        switch (w.type()) {
            case TLV_TYPE_SOURCE_INFO:
                m.sta = w.as<source_info_tlv>().mac;
                break;
            case TLV_TYPE_TUNNELED_MESSAGE_TYPE:
                m.message_type = w.as<tunneled_message_type_tlv>().message_type;
                type = true;
                break;
            case TLV_TYPE_TUNNELED: {
                // Concatenated in CMDU order; an empty one still counts. The
                // payload is never larger than the CMDU it is copied from.
                const auto& body = w.as<tunneled_tlv>().frame_body;
                const size_t n = body.size() < 0xffff ? body.size() : 0xffff;  // 16-bit length
                m.payload.insert(m.payload.end(), body.begin(), body.begin() + n);
                tunneled = true;
                break;
            }
            default:
                OZR_INFO(root_logger, "{} received unexpected {} ({})", __func__,
                         convert_1905_TLV_type_to_string(w.type()), num(w.type()));
                break;
        }
    }
    if (m.sta.is_zero()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_SOURCE_INFO is missing", __func__);
        return {};
    }
    if (!type) {
        OZR_WARN(root_logger, "{} TLV_TYPE_TUNNELED_MESSAGE_TYPE is missing", __func__);
        return {};
    }
    if (!tunneled) {
        OZR_WARN(root_logger, "{} TLV_TYPE_TUNNELED is missing", __func__);
        return {};
    }
    return m;
}
