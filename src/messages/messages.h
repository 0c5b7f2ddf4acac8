// Typed records of the CMDUs agents send, as the decoders of decoders.h fill
// them. Plain values: copyable, movable, owning every string and list (nothing
// points into the CMDU they were decoded from).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/mac.h"
#include "map/codec/tlvs.h"
#include "messages/optional.h"

// ---- Topology and discovery ------------------------------------------------------

struct DiscoveryMesg {
    MAC al_mac;  // AL MAC Address TLV
    MAC mac;     // MAC Address TLV: the transmitting interface
};

struct TopologyNotificationMesg {
    MAC al_mac;
    MAC client_mac;                 // Client Association Event; zero without one
    BSSID bssid;                    // zero without one
    uint8_t association_event = 0;  // as the stack delivers it: 1 joined, 0 left
    bool has_client_association_event = false;
};

// 802.11 media-specific information of a local interface (10 bytes on the wire).
struct Ieee80211Info {
    BSSID bssid;  // the BSS, or the network joined for a station
    uint8_t role = 0;
    uint8_t ap_channel_band = 0;
    uint8_t center_freq_index_1 = 0;
    uint8_t center_freq_index_2 = 0;
};

// 1901 media-specific information (7 bytes on the wire).
struct Ieee1901Info {
    uint8_t network_id[7] = {};
};

struct LocalInterface {
    MAC mac;
    uint16_t media_type = 0;
    optional<Ieee80211Info> ieee80211;  // media-specific information exactly 10 bytes long
    optional<Ieee1901Info> ieee1901;    // exactly 7 bytes long
    // Kept by the graph; the decoder leaves them zero or empty.
    uint8_t has_bridge = 0;
    uint16_t port = 0;
    MAC backbone_owner;
    std::vector<MAC> bridged_interfaces;
    std::vector<MAC> non_1905_neighbors;
};

struct Non1905Neighbor {
    MAC mac;
};

struct Non1905NeighborDeviceListTLV {
    MAC local_mac;
    std::vector<Non1905Neighbor> neighbors;
};

struct Neighbor {
    MAC al_mac;
    bool bridge = false;  // the TLV's bridge flag byte equals 1
};

struct NeighborDeviceListTLV {
    MAC local_mac;
    std::vector<Neighbor> neighbors;
};

struct BSSInfo {
    BSSID bssid;
    std::string ssid;  // every byte of the SSID, zero bytes included
};

struct RadioInfo {
    MAC radio_id;
    std::vector<BSSInfo> bsss;
};

struct StaTime {
    MAC mac;
    uint16_t time_since_association = 0;  // seconds
};

struct BSS_Info {
    BSSID bssid;
    std::vector<StaTime> stas;
};

struct TopologyResponseMesg {
    MAC al_mac;
    std::vector<LocalInterface> local_interfaces;
    std::vector<Non1905NeighborDeviceListTLV> non_1905_neighbors;
    std::vector<NeighborDeviceListTLV> neighbors;
    std::vector<RadioInfo> radios;
    std::vector<BSS_Info> associated_clients;
    bool has_associated_clients = false;  // an Associated Clients TLV came, even an empty one
    uint8_t multiap_profile = 1;          // 1 without a Multi-AP Profile TLV
};

// ---- Capability and metric reports ------------------------------------------------

// The stack's records, kept whole.
using operating_class_s = ap_radio_basic_capabilities_tlv::op_class;
using map_beacon_report_element_s = beacon_metrics_response_tlv::report_element;
using channel_scan_capabilities_s = channel_scan_capabilities_tlv;
using cac_capabilities_s = cac_capabilities_tlv;

// Radio sub-band values (BasicRadioCapabilitiesTLV::freq_type).
enum : uint16_t { FREQ_5G_LOW = 32, FREQ_5G_HIGH = 64, FREQ_5G_LOW_AND_HIGH = 128 };

struct BasicRadioCapabilitiesTLV {
    MAC radio_id;
    uint8_t max_bss = 0;
    std::vector<operating_class_s> operating_classes;
    uint8_t band = 0;        // 0 2.4 GHz, 1 5 GHz (2 6 GHz), of the last known class
    uint16_t freq_type = 0;  // FREQ_5G_*; see parse_ap_capability
    uint8_t standard = 0;    // 802.11 generation: 1 (b/g), 2 (a), 3 (n), 4 (ac), 7 (ax)
};

struct HTCapabilitiesTLV {
    MAC radio_id;
    uint8_t max_tx_spatial_streams = 0;  // 0 = 1 stream ... 3 = 4 streams, as carried
    uint8_t max_rx_spatial_streams = 0;
    uint8_t short_gi_20mhz = 0;
    uint8_t short_gi_40mhz = 0;
    uint8_t ht_40mhz = 0;
};

struct VHTCapabilitiesTLV {
    MAC radio_id;
    uint16_t supported_vht_tx_mcs = 0;
    uint16_t supported_vht_rx_mcs = 0;
    uint8_t max_tx_spatial_streams = 0;  // 0 = 1 stream ... 7 = 8 streams, as carried
    uint8_t max_rx_spatial_streams = 0;
    uint8_t short_gi_80mhz = 0;
    uint8_t short_gi_160mhz = 0;
    uint8_t vht_80plus80mhz = 0;
    uint8_t vht_160mhz = 0;
    uint8_t su_beamformer = 0;
    uint8_t mu_beamformer = 0;
};

struct HECapabilitiesTLV {
    MAC radio_id;
    std::vector<uint8_t> supported_mcs;  // the HE-MCS/NSS set, 4, 8 or 12 bytes
    uint8_t max_tx_spatial_streams = 0;
    uint8_t max_rx_spatial_streams = 0;
    uint8_t he_80plus80mhz = 0;
    uint8_t he_160mhz = 0;
    uint8_t su_beamformer = 0;
    uint8_t mu_beamformer = 0;
    uint8_t ul_mu_mimo = 0;
    uint8_t ul_mu_mimo_ofdma = 0;
    uint8_t dl_mu_mimo_ofdma = 0;
    uint8_t ul_ofdma = 0;
    uint8_t dl_ofdma = 0;
};

struct APCapabilityMesg {
    bool unassoc_sta_metrics_operating_channel = false;
    bool unassoc_sta_metrics_non_operating_channel = false;
    bool agent_initiated_rcpi_steering = false;
    std::vector<BasicRadioCapabilitiesTLV> radios;
    std::vector<HTCapabilitiesTLV> ht_capabilities;
    std::vector<VHTCapabilitiesTLV> vht_capabilities;
    std::vector<HECapabilitiesTLV> he_capabilities;
    channel_scan_capabilities_s channel_scan_capabilities;
    uint8_t independent_channel_scan = 0;  // one bit
    cac_capabilities_s cac_capabilities;
    uint8_t byte_counter_units = 0;  // two bits
    uint8_t max_vids = 0;
    uint32_t metric_collection_interval = 0;  // ms
};

struct ErrorCodeTLV {
    uint8_t reason_code = 0;
    MAC sta;
    // "STA associated with ... (1)." for codes 1..6, the code alone otherwise.
    std::string reason_string() const;
};

struct AssociatedStaTrafficStatsTLV {
    MAC sta;
    uint32_t bytes_sent = 0;
    uint32_t bytes_received = 0;
    uint32_t packets_sent = 0;
    uint32_t packets_received = 0;
    uint32_t tx_packet_errors = 0;
    uint32_t rx_packet_errors = 0;
    uint32_t retransmissions = 0;
};

struct ApMetricsTLV {
    BSSID bssid;
    uint8_t channel_utilization = 0;  // percent
    uint16_t num_associated_stas = 0;
};

struct RadioMetricsTLV {
    MAC radio_id;
    uint8_t noise = 0;
    uint8_t transmit = 0;
    uint8_t receive_self = 0;
    uint8_t receive_other = 0;
};

struct ApExtMetricsTLV {
    BSSID bssid;
    uint32_t unicast_bytes_sent = 0;
    uint32_t unicast_bytes_received = 0;
    uint32_t multicast_bytes_sent = 0;
    uint32_t multicast_bytes_received = 0;
    uint32_t broadcast_bytes_sent = 0;
    uint32_t broadcast_bytes_received = 0;
};

struct StaMetric {
    BSSID bssid;
    uint32_t time_delta_ms = 0;
    uint32_t downlink_rate = 0;
    uint32_t uplink_rate = 0;
    uint32_t uplink_rcpi = 0;
};

struct AssociatedStaLinkMetricsTLV {
    MAC sta;
    std::vector<StaMetric> metrics;
};

struct StaExtMetric {
    BSSID bssid;
    uint32_t last_data_downlink_rate = 0;
    uint32_t last_data_uplink_rate = 0;
    uint32_t utilization_receive = 0;
    uint32_t utilization_transmit = 0;
};

struct AssociatedStaExtendedLinkMetricsTLV {
    MAC sta;
    std::vector<StaExtMetric> metrics;
};

struct ApMetricResponseMesg {
    std::vector<AssociatedStaTrafficStatsTLV> sta_traffic_stats;
    std::vector<ApMetricsTLV> ap_metrics;
    std::vector<RadioMetricsTLV> radio_metrics;
    std::vector<ApExtMetricsTLV> ap_ext_metrics;
    std::vector<AssociatedStaLinkMetricsTLV> sta_link_metrics;
    std::vector<AssociatedStaExtendedLinkMetricsTLV> sta_ext_link_metrics;
    optional<ErrorCodeTLV> error_code;
};

struct AssocStaLinkMetricResponseMesg {
    std::vector<AssociatedStaLinkMetricsTLV> sta_link_metrics;
    std::vector<AssociatedStaExtendedLinkMetricsTLV> sta_ext_link_metrics;
    optional<ErrorCodeTLV> error_code;
};

struct TransmitterLinkMetric {
    MAC local_interface;
    MAC neighbor_interface;
    uint16_t media_type = 0;
    uint8_t bridge_flag = 0;
    uint32_t packet_errors = 0;
    uint32_t transmitted_packets = 0;
    uint16_t mac_throughput_capacity = 0;  // Mb/s
    uint16_t link_availability = 0;        // percent
    uint16_t phy_rate = 0;                 // Mb/s
};

struct TransmitterLinkMetricTLV {
    MAC local_al_mac;
    MAC neighbor_al_mac;
    std::vector<TransmitterLinkMetric> links;
};

struct ReceiverLinkMetric {
    MAC local_interface;
    MAC neighbor_interface;
    uint16_t media_type = 0;
    uint32_t packet_errors = 0;
    uint32_t packets_received = 0;
    uint8_t rssi = 0;  // dB
};

struct ReceiverLinkMetricTLV {
    MAC local_al_mac;
    MAC neighbor_al_mac;
    std::vector<ReceiverLinkMetric> links;
};

struct LinkMetricResponseMesg {
    std::vector<TransmitterLinkMetricTLV> transmitter;
    std::vector<ReceiverLinkMetricTLV> receiver;
    optional<uint8_t> result_code;
};

struct StaRCPI {
    MAC mac;
    uint8_t channel = 0;
    uint32_t time_delta_ms = 0;
    uint32_t uplink_rcpi = 0;  // raw
};

struct UnassocStaLinkMetricResponseMesg {
    uint8_t op_class = 0;
    std::vector<StaRCPI> stas;
};

struct BeaconMetricsResponseTLV {
    MAC sta;
    std::vector<map_beacon_report_element_s> elements;
};

// ---- Channel, steering and event reports ------------------------------------------

struct CacCompletionPairList {
    uint8_t op_class = 0;
    uint8_t channel = 0;
};

struct CacCompletionRadioReport {
    MAC radio_id;
    uint8_t op_class = 0;
    uint8_t channel = 0;
    uint8_t status = 0;                              // CAC completion status
    std::vector<CacCompletionPairList> radar_pairs;  // where radar was detected
};

struct CacCompletionReportTLV {
    std::vector<CacCompletionRadioReport> radios;
};

struct CacStatusReportAvailableChannelList {
    uint8_t op_class = 0;
    uint8_t channel = 0;
    uint16_t minutes_since_cac = 0;
};

struct CacStatusReportNonOccupancyPairList {
    uint8_t op_class = 0;
    uint8_t channel = 0;
    uint16_t seconds_remaining = 0;
};

struct CacStatusReportOngoingCacPairList {
    uint8_t op_class = 0;
    uint8_t channel = 0;
    uint32_t seconds_remaining = 0;
};

struct ChannelPreferenceReportMessage {
    std::vector<CacCompletionRadioReport> cac_completion;
    // Not filled by parse_channel_preference_report_message.
    std::vector<CacStatusReportAvailableChannelList> cac_available;
    std::vector<CacStatusReportNonOccupancyPairList> cac_non_occupancy;
    std::vector<CacStatusReportOngoingCacPairList> cac_ongoing;
};

// The stack's scan result, kept whole (radio, class, channel, status,
// timestamp, utilisation, noise, neighbours).
using ChannelScanResultTLV = channel_scan_result_tlv;

struct APChannelScanReportMesg {
    std::string timestamp;
    std::vector<ChannelScanResultTLV> results;
};

using operating_class_channel_s = operating_channel_report_tlv::op_class_channel;

struct OperatingChannelReportTLV {
    MAC radio_id;
    uint8_t tx_power = 0;  // dBm
    std::vector<operating_class_channel_s> op_classes;
};

struct OperatingChannelReportMesg {
    std::vector<OperatingChannelReportTLV> reports;
};

struct SteeringBTMReportTLV {
    BSSID bssid;  // the reporting BSS
    MAC sta;
    uint8_t status = 0;            // 802.11 BTM status code
    optional<BSSID> target_bssid;  // only when the report carries one
    // "Accept (0)." for codes 0..8, the code alone otherwise.
    std::string status_string() const;
};

struct BackhaulSteeringResponseMesg {
    MAC backhaul_sta;
    BSSID target_bssid;
    uint8_t result_code = 0;
    optional<ErrorCodeTLV> error_code;
};

struct FailedConnectionMesg {
    MAC sta;
    uint16_t status_code = 0;
    optional<uint16_t> reason_code;
};

struct TunneledMesg {
    MAC sta;  // Source Info TLV
    uint8_t message_type = 0;
    std::vector<uint8_t> payload;  // every Tunneled TLV, in CMDU order
};
