// AP Capability Report, AP Metrics Response, Associated / Unassociated STA Link
// Metrics Responses, 1905.1 Link Metric Response and Beacon Metrics Response.
#include "core/log.h"
#include "map/ieee80211/assoc.h"
#include "messages/decoders.h"
#include "messages/tlv_walk.h"

namespace {

template <class V>
size_t bounded(size_t count, const V& v) {
    return count < v.size() ? count : v.size();
}

// Band, sub-band and, later, generation of one radio.
BasicRadioCapabilitiesTLV to_radio(const ap_radio_basic_capabilities_tlv& t) {
    BasicRadioCapabilitiesTLV r;
    r.radio_id = t.radio_id;
    r.max_bss = t.max_bss;
    const size_t n = bounded(t.num_op_classes, t.op_classes);
    r.operating_classes.assign(t.op_classes.begin(), t.op_classes.begin() + n);
    bool low = false, high = false;
    for (const operating_class_s& oc : r.operating_classes) {
        uint8_t band;
        uint16_t type;
        // Classes outside the table leave band and sub-band as they were.
        if (get_frequency_type(oc.op_class, &band, &type) != 0)
            continue;
        r.band = band;
        r.freq_type = type;
        if (type == FREQ_5G_HIGH)
            high = true;
        if (type == FREQ_5G_LOW)
            low = true;
    }
    if (low && high)
        r.freq_type = FREQ_5G_LOW_AND_HIGH;
    else if (high)
        r.freq_type = FREQ_5G_HIGH;
    else if (low)
        r.freq_type = FREQ_5G_LOW;
    return r;
}

HTCapabilitiesTLV to_ht(const ap_ht_capabilities_tlv& t) {
    HTCapabilitiesTLV r;
    r.radio_id = t.radio_id;
    r.max_tx_spatial_streams = t.max_tx_spatial_streams;
    r.max_rx_spatial_streams = t.max_rx_spatial_streams;
    r.short_gi_20mhz = t.short_gi_20mhz;
    r.short_gi_40mhz = t.short_gi_40mhz;
    r.ht_40mhz = t.ht_40mhz;
    return r;
}

VHTCapabilitiesTLV to_vht(const ap_vht_capabilities_tlv& t) {
    VHTCapabilitiesTLV r;
    r.radio_id = t.radio_id;
    r.supported_vht_tx_mcs = t.supported_vht_tx_mcs;
    r.supported_vht_rx_mcs = t.supported_vht_rx_mcs;
    r.max_tx_spatial_streams = t.max_tx_spatial_streams;
    r.max_rx_spatial_streams = t.max_rx_spatial_streams;
    r.short_gi_80mhz = t.short_gi_80mhz;
    r.short_gi_160mhz = t.short_gi_160mhz;
    r.vht_80plus80mhz = t.vht_80plus80mhz;
    r.vht_160mhz = t.vht_160mhz;
    r.su_beamformer = t.su_beamformer;
    r.mu_beamformer = t.mu_beamformer;
    return r;
}

HECapabilitiesTLV to_he(const ap_he_capabilities_tlv& t) {
    HECapabilitiesTLV r;
    r.radio_id = t.radio_id;
    const size_t n =
        t.supported_mcs_len < sizeof t.supported_mcs ? t.supported_mcs_len : sizeof t.supported_mcs;
    r.supported_mcs.assign(t.supported_mcs, t.supported_mcs + n);
    r.max_tx_spatial_streams = t.max_tx_spatial_streams;
    r.max_rx_spatial_streams = t.max_rx_spatial_streams;
    r.he_80plus80mhz = t.he_80plus80mhz;
    r.he_160mhz = t.he_160mhz;
    r.su_beamformer = t.su_beamformer;
    r.mu_beamformer = t.mu_beamformer;
    r.ul_mu_mimo = t.ul_mu_mimo;
    r.ul_mu_mimo_ofdma = t.ul_mu_mimo_ofdma;
    r.dl_mu_mimo_ofdma = t.dl_mu_mimo_ofdma;
    r.ul_ofdma = t.ul_ofdma;
    r.dl_ofdma = t.dl_ofdma;
    return r;
}

// 802.11 generation of each radio, each step overriding the one before.
void derive_standards(APCapabilityMesg& m) {
    for (BasicRadioCapabilitiesTLV& r : m.radios) {
        // A 6 GHz radio gets no legacy generation; its HE record gives it 7.
        if (r.band == MAP_BAND_5G)
            r.standard = 2;
        if (r.band == MAP_BAND_2G)
            r.standard = 1;
        for (const auto& ht : m.ht_capabilities)
            if (ht.radio_id == r.radio_id)
                r.standard = 3;
        for (const auto& vht : m.vht_capabilities)
            if (vht.radio_id == r.radio_id && r.band == MAP_BAND_5G)
                r.standard = 4;
        for (const auto& he : m.he_capabilities)
            if (he.radio_id == r.radio_id)
                r.standard = 7;
    }
}

AssociatedStaLinkMetricsTLV to_link_metrics(const associated_sta_link_metrics_tlv& t) {
    AssociatedStaLinkMetricsTLV r;
    r.sta = t.sta_mac;
    const size_t n = bounded(t.num_bssids, t.bssids);
    r.metrics.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const auto& b = t.bssids[i];
        r.metrics.push_back(
            {b.bssid, b.time_delta_ms, b.downlink_rate, b.uplink_rate, b.uplink_rcpi});
    }
    return r;
}

AssociatedStaExtendedLinkMetricsTLV to_ext_link_metrics(
    const associated_sta_extended_link_metrics_tlv& t) {
    AssociatedStaExtendedLinkMetricsTLV r;
    r.sta = t.sta_mac;
    const size_t n = bounded(t.num_bssids, t.bssids);
    r.metrics.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const auto& b = t.bssids[i];
        r.metrics.push_back({b.bssid, b.last_data_downlink_rate, b.last_data_uplink_rate,
                             b.utilization_receive, b.utilization_transmit});
    }
    return r;
}

ApMetricsTLV to_ap_metrics(const ap_metrics_tlv& t) {
    ApMetricsTLV r;
    r.bssid = t.bssid;
    // 0..255 scaled to percent, fraction dropped.
    r.channel_utilization = static_cast<uint8_t>(t.channel_utilization / 255.0 * 100.0);
    r.num_associated_stas = t.num_associated_stas;
    return r;
}

AssociatedStaTrafficStatsTLV to_traffic_stats(const associated_sta_traffic_stats_tlv& t) {
    return {t.sta_mac,          t.bytes_sent,       t.bytes_received,   t.packets_sent,
            t.packets_received, t.tx_packet_errors, t.rx_packet_errors, t.retransmission_count};
}

RadioMetricsTLV to_radio_metrics(const radio_metrics_tlv& t) {
    return {t.radio_id, t.noise, t.transmit, t.receive_self, t.receive_other};
}

ApExtMetricsTLV to_ap_ext_metrics(const ap_extended_metrics_tlv& t) {
    return {t.bssid,
            t.unicast_bytes_sent,
            t.unicast_bytes_received,
            t.multicast_bytes_sent,
            t.multicast_bytes_received,
            t.broadcast_bytes_sent,
            t.broadcast_bytes_received};
}

TransmitterLinkMetricTLV to_transmitter(const transmitter_link_metric_tlv& t) {
    TransmitterLinkMetricTLV r;
    r.local_al_mac = t.local_al_mac_address;
    r.neighbor_al_mac = t.neighbor_al_mac_address;
    r.links.reserve(t.links.size());
    for (const auto& l : t.links)
        r.links.push_back({l.local_interface_mac, l.neighbor_interface_mac, l.interface_type,
                           l.ieee8021_bridge_flag, l.packet_errors, l.transmitted_packets,
                           l.mac_throughput_capacity, l.link_availability, l.phy_rate});
    return r;
}

ReceiverLinkMetricTLV to_receiver(const receiver_link_metric_tlv& t) {
    ReceiverLinkMetricTLV r;
    r.local_al_mac = t.local_al_mac_address;
    r.neighbor_al_mac = t.neighbor_al_mac_address;
    r.links.reserve(t.links.size());
    for (const auto& l : t.links)
        r.links.push_back({l.local_interface_mac, l.neighbor_interface_mac, l.interface_type,
                           l.packet_errors, l.packets_received, l.rssi});
    return r;
}

// The station link metrics that AP Metrics and Associated STA Link Metrics Responses share.
template <class M>
void take_link_metrics(M& m, const TlvWalk& w) {
    m.sta_link_metrics.push_back(to_link_metrics(w.as<associated_sta_link_metrics_tlv>()));
}
template <class M>
void take_ext_link_metrics(M& m, const TlvWalk& w) {
    m.sta_ext_link_metrics.push_back(
        to_ext_link_metrics(w.as<associated_sta_extended_link_metrics_tlv>()));
}

struct ApCapability {
    APCapabilityMesg m;
    bool ap_capability = false;
};

const TlvRule<ApCapability> kApCapabilityRules[] = {
    {TLV_TYPE_AP_RADIO_BASIC_CAPABILITY,
     [](ApCapability& s, const TlvWalk& w) {
         s.m.radios.push_back(to_radio(w.as<ap_radio_basic_capabilities_tlv>()));
     }},
    {TLV_TYPE_AP_HT_CAPABILITY,
     [](ApCapability& s, const TlvWalk& w) {
         s.m.ht_capabilities.push_back(to_ht(w.as<ap_ht_capabilities_tlv>()));
     }},
    {TLV_TYPE_AP_VHT_CAPABILITY,
     [](ApCapability& s, const TlvWalk& w) {
         s.m.vht_capabilities.push_back(to_vht(w.as<ap_vht_capabilities_tlv>()));
     }},
    {TLV_TYPE_AP_HE_CAPABILITY,
     [](ApCapability& s, const TlvWalk& w) {
         s.m.he_capabilities.push_back(to_he(w.as<ap_he_capabilities_tlv>()));
     }},
    {TLV_TYPE_AP_CAPABILITY,
     [](ApCapability& s, const TlvWalk& w) {
         if (s.ap_capability)
             OZR_LOG_AS(root_logger, 4, w.decoder(),
                        "{} received TLV_TYPE_AP_CAPABILITY multiple times", w.decoder());
         const auto& t = w.as<ap_capability_tlv>();
         s.m.unassoc_sta_metrics_operating_channel = t.unassoc_sta_metrics_operating_channel;
         s.m.unassoc_sta_metrics_non_operating_channel =
             t.unassoc_sta_metrics_non_operating_channel;
         s.m.agent_initiated_rcpi_steering = t.agent_initiated_rcpi_steering;
         s.ap_capability = true;
     }},
    {TLV_TYPE_CHANNEL_SCAN_REPORTING_POLICY,
     [](ApCapability& s, const TlvWalk& w) {
         s.m.independent_channel_scan =
             w.as<channel_scan_reporting_policy_tlv>().report_independent_scans & 1;
     }},
    {TLV_TYPE_CHANNEL_SCAN_CAPABILITY,
     [](ApCapability& s, const TlvWalk& w) {
         s.m.channel_scan_capabilities = w.as<channel_scan_capabilities_tlv>();
     }},
    {TLV_TYPE_CAC_CAPABILITIES,
     [](ApCapability& s, const TlvWalk& w) {
         s.m.cac_capabilities = w.as<cac_capabilities_tlv>();
     }},
    {TLV_TYPE_PROFILE2_AP_CAPABILITY,
     [](ApCapability& s, const TlvWalk& w) {
         const auto& t = w.as<profile2_ap_capability_tlv>();
         s.m.byte_counter_units = t.byte_counter_units & 3;
         s.m.max_vids = t.max_vids;
     }},
    {TLV_TYPE_METRIC_COLLECTION_INTERVAL,
     [](ApCapability& s, const TlvWalk& w) {
         s.m.metric_collection_interval =
             w.as<metric_collection_interval_tlv>().collection_interval_ms;
     }},
};

using ApMetrics = ApMetricResponseMesg;
const TlvRule<ApMetrics> kApMetricsRules[] = {
    {TLV_TYPE_AP_METRICS,
     [](ApMetrics& m, const TlvWalk& w) {
         m.ap_metrics.push_back(to_ap_metrics(w.as<ap_metrics_tlv>()));
     }},
    {TLV_TYPE_ASSOCIATED_STA_LINK_METRICS, take_link_metrics<ApMetrics>},
    {TLV_TYPE_ASSOCIATED_STA_TRAFFIC_STATS,
     [](ApMetrics& m, const TlvWalk& w) {
         m.sta_traffic_stats.push_back(to_traffic_stats(w.as<associated_sta_traffic_stats_tlv>()));
     }},
    {TLV_TYPE_RADIO_METRICS,
     [](ApMetrics& m, const TlvWalk& w) {
         m.radio_metrics.push_back(to_radio_metrics(w.as<radio_metrics_tlv>()));
     }},
    {TLV_TYPE_AP_EXTENDED_METRICS,
     [](ApMetrics& m, const TlvWalk& w) {
         m.ap_ext_metrics.push_back(to_ap_ext_metrics(w.as<ap_extended_metrics_tlv>()));
     }},
    {TLV_TYPE_ASSOCIATED_STA_EXTENDED_LINK_METRICS, take_ext_link_metrics<ApMetrics>},
    {TLV_TYPE_ERROR, take_error_code<ApMetrics>},
};

using AssocLinkMetrics = AssocStaLinkMetricResponseMesg;
const TlvRule<AssocLinkMetrics> kAssocLinkMetricsRules[] = {
    {TLV_TYPE_ASSOCIATED_STA_LINK_METRICS, take_link_metrics<AssocLinkMetrics>},
    {TLV_TYPE_ASSOCIATED_STA_EXTENDED_LINK_METRICS, take_ext_link_metrics<AssocLinkMetrics>},
    {TLV_TYPE_ERROR, take_error_code<AssocLinkMetrics>},
};

using LinkMetrics = LinkMetricResponseMesg;
const TlvRule<LinkMetrics> kLinkMetricsRules[] = {
    {TLV_TYPE_TRANSMITTER_LINK_METRIC,
     [](LinkMetrics& m, const TlvWalk& w) {
         m.transmitter.push_back(to_transmitter(w.as<transmitter_link_metric_tlv>()));
     }},
    {TLV_TYPE_RECEIVER_LINK_METRIC,
     [](LinkMetrics& m, const TlvWalk& w) {
         m.receiver.push_back(to_receiver(w.as<receiver_link_metric_tlv>()));
     }},
    {TLV_TYPE_LINK_METRIC_RESULT_CODE,
     [](LinkMetrics& m, const TlvWalk& w) {
         m.result_code = w.as<link_metric_result_code_tlv>().result_code;
     }},
};

struct UnassocLinkMetrics {
    UnassocStaLinkMetricResponseMesg m;
    bool seen = false;
};

const TlvRule<UnassocLinkMetrics> kUnassocLinkMetricsRules[] = {
    {TLV_TYPE_UNASSOCIATED_STA_METRICS_RESPONSE,
     [](UnassocLinkMetrics& s, const TlvWalk& w) {
         const auto& t = w.as<unassociated_sta_link_metrics_response_tlv>();
         s.m.op_class = t.op_class;
         s.m.stas.clear();
         const size_t n = bounded(t.num_stas, t.stas);
         s.m.stas.reserve(n);
         for (size_t i = 0; i < n; ++i) {
             const auto& st = t.stas[i];
             s.m.stas.push_back({st.mac, st.channel, st.time_delta_ms, st.uplink_rcpi});
         }
         s.seen = true;
     }},
};

struct BeaconMetrics {
    BeaconMetricsResponseTLV m;
    bool seen = false;
};

const TlvRule<BeaconMetrics> kBeaconMetricsRules[] = {
    {TLV_TYPE_BEACON_METRICS_RESPONSE,
     [](BeaconMetrics& s, const TlvWalk& w) {
         if (s.seen)
             OZR_LOG_AS(root_logger, 4, w.decoder(),
                        "{} received TLV_TYPE_BEACON_METRICS_RESPONSE multiple times", w.decoder());
         const auto& t = w.as<beacon_metrics_response_tlv>();
         s.m.sta = t.sta_mac;
         const size_t n = bounded(t.num_elements, t.elements);
         s.m.elements.assign(t.elements.begin(), t.elements.begin() + n);
         s.seen = true;
     }},
};

}  // namespace

optional<APCapabilityMesg> parse_ap_capability(CMDU* cmdu) {
    ApCapability s;
    walk_tlvs(cmdu, __func__, Unexpected::kPlain, kApCapabilityRules, s);
    // Checked in this order; the first one missing ends the decode.
    if (!s.ap_capability) {
        OZR_WARN(root_logger, "{} APCapabilityTLV is missing", __func__);
        return {};
    }
    if (s.m.radios.empty()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_AP_RADIO_BASIC_CAPABILITY is missing", __func__);
        return {};
    }
    derive_standards(s.m);
    return std::move(s.m);
}

optional<ApMetricResponseMesg> parse_ap_metric_response(CMDU* cmdu) {
    ApMetricResponseMesg m;
    walk_tlvs(cmdu, __func__, Unexpected::kMessageId, kApMetricsRules, m);
    if (m.ap_metrics.empty() && m.sta_traffic_stats.empty() && !m.error_code)
        return {};
    return m;
}

optional<AssocStaLinkMetricResponseMesg> parse_assoc_sta_link_metric_response(CMDU* cmdu) {
    const unsigned mid = cmdu ? cmdu->message_id : 0;
    AssocStaLinkMetricResponseMesg m;
    walk_tlvs(cmdu, __func__, Unexpected::kMessageId, kAssocLinkMetricsRules, m);
    if (m.sta_link_metrics.empty() && !m.error_code) {
        // The line names no message id: the formatter drops the surplus argument.
        OZR_WARN(root_logger, "{} TLV_TYPE_ASSOCIATED_STA_LINK_METRICS is missing message_id",
                 __func__, mid);
        return {};
    }
    return m;
}

optional<LinkMetricResponseMesg> parse_link_metric_response(CMDU* cmdu) {
    const unsigned mid = cmdu ? cmdu->message_id : 0;
    LinkMetricResponseMesg m;
    walk_tlvs(cmdu, __func__, Unexpected::kMessageId, kLinkMetricsRules, m);
    if (m.transmitter.empty() && m.receiver.empty() && !m.result_code) {
        OZR_WARN(root_logger,
                 "{} TLV_TYPE_TRANSMITTER_LINK_METRIC and TLV_TYPE_RECEIVER_LINK_METRIC and "
                 "TLV_TYPE_LINK_METRIC_RESULT_CODE is missing message_id",
                 __func__, mid);
        return {};
    }
    return m;
}

optional<UnassocStaLinkMetricResponseMesg> parse_unassoc_sta_link_metric_response(CMDU* cmdu) {
    const unsigned mid = cmdu ? cmdu->message_id : 0;
    UnassocLinkMetrics s;
    walk_tlvs(cmdu, __func__, Unexpected::kMessageIdDot, kUnassocLinkMetricsRules, s);
    if (!s.seen) {
        OZR_WARN(root_logger,
                 "{} TLV_TYPE_UNASSOCIATED_STA_METRICS_RESPONSE is missing. message_id", __func__,
                 mid);
        return {};
    }
    return std::move(s.m);
}

optional<BeaconMetricsResponseTLV> parse_beacon_metrics_response(CMDU* cmdu) {
    BeaconMetrics s;
    walk_tlvs(cmdu, __func__, Unexpected::kPlain, kBeaconMetricsRules, s);
    if (!s.seen) {
        OZR_WARN(root_logger, "{} TLV_TYPE_BEACON_METRICS_RESPONSE is missing", __func__);
        return {};
    }
    return std::move(s.m);
}
