// Decoded IEEE 1905.1 / Wi-Fi EasyMesh TLV records, as the Multi-AP stack puts
// them in CMDU::list_of_TLVs.
//
// Every record is a standard-layout struct whose first member is its 8-bit
// `tlv_type` (set by the default initialiser), so a reader does
//     uint8_t* p = cmdu->list_of_TLVs[i];
//     if (*p == TLV_TYPE_AP_OPERATIONAL_BSS) {
//         auto* t = reinterpret_cast<ap_operational_bss_tlv*>(p); ...
// Records are plain values: copyable, movable, comparable through the codec.
//
// Conventions:
// - Multi-byte numbers hold host-order values (the codec converts from and to
//   network order).
// - A list whose length the TLV carries in a count field keeps that field, with
//   the TLV's own width (`num_*`, uint8_t or uint16_t), beside a std::vector.
//   The decoder always sets the count equal to the vector's size; the encoder
//   writes the vector's size and refuses a list longer than the width allows.
//   A list whose length the TLV does not carry (it runs to the end of the TLV)
//   is a std::vector alone.
// - Bit fields of a flags byte are unpacked into one uint8_t member each,
//   holding the field's value (0/1 for a one-bit flag); reserved bits are
//   dropped on decode and sent as zero. The encoder refuses a value wider
//   than its field.
// - SSIDs are `ssid_len` + `uint8_t ssid[32]` (any byte, not zero-terminated);
//   a length above 32 is refused both ways.
// - A TLV type the stack has no record for is delivered as `unknown_tlv`
//   (its type byte, then the raw value), so the daemon can log and skip it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "common/mac.h"
#include "map/codec/tlv_types.h"

constexpr size_t MAX_SSID_LEN = 32;

// ============================ IEEE 1905.1 ==================================

// 0x00: closes the TLV list on the wire. Decoded CMDUs never carry it in
// list_of_TLVs; the encoder appends it.
struct end_of_message_tlv {
    uint8_t tlv_type = TLV_TYPE_END_OF_MESSAGE;
};

// 0x01
struct al_mac_address_tlv {
    uint8_t tlv_type = TLV_TYPE_AL_MAC_ADDRESS_TYPE;
    MAC al_mac_address;
};

// 0x02: the MAC address of the interface the CMDU was sent on.
struct mac_address_tlv {
    uint8_t tlv_type = TLV_TYPE_MAC_ADDRESS_TYPE;
    MAC mac_address;
};

// IEEE 1905.1 media types (Device Information, link metrics).
constexpr uint16_t MEDIA_TYPE_IEEE_802_3U_FAST_ETHERNET = 0x0000;
constexpr uint16_t MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET = 0x0001;
constexpr uint16_t MEDIA_TYPE_IEEE_802_11B_2_4_GHZ = 0x0100;
constexpr uint16_t MEDIA_TYPE_IEEE_802_11G_2_4_GHZ = 0x0101;
constexpr uint16_t MEDIA_TYPE_IEEE_802_11A_5_GHZ = 0x0102;
constexpr uint16_t MEDIA_TYPE_IEEE_802_11N_2_4_GHZ = 0x0103;
constexpr uint16_t MEDIA_TYPE_IEEE_802_11N_5_GHZ = 0x0104;
constexpr uint16_t MEDIA_TYPE_IEEE_802_11AC_5_GHZ = 0x0105;
constexpr uint16_t MEDIA_TYPE_IEEE_802_11AD_60_GHZ = 0x0106;
constexpr uint16_t MEDIA_TYPE_IEEE_802_11AF = 0x0107;
constexpr uint16_t MEDIA_TYPE_IEEE_802_11AX = 0x0108;
constexpr uint16_t MEDIA_TYPE_IEEE_1901_WAVELET = 0x0200;
constexpr uint16_t MEDIA_TYPE_IEEE_1901_FFT = 0x0201;
constexpr uint16_t MEDIA_TYPE_MOCA_V1_1 = 0x0300;
constexpr uint16_t MEDIA_TYPE_UNKNOWN = 0xFFFF;

// Role of an 802.11 interface (bits 7-4 of the media-specific role byte).
constexpr uint8_t IEEE80211_ROLE_AP = 0x0;
constexpr uint8_t IEEE80211_ROLE_NON_AP_STA = 0x4;
constexpr uint8_t IEEE80211_ROLE_P2P_CLIENT = 0x8;
constexpr uint8_t IEEE80211_ROLE_P2P_GROUP_OWNER = 0x9;
constexpr uint8_t IEEE80211_ROLE_AD_PCP = 0xA;

constexpr uint8_t IEEE80211_MEDIA_INFO_LEN = 10;
constexpr uint8_t IEEE1901_MEDIA_INFO_LEN = 7;

// 0x03
struct device_information_tlv {
    uint8_t tlv_type = TLV_TYPE_DEVICE_INFORMATION_TYPE;
    MAC al_mac_address;

    struct ieee80211_media_info {
        BSSID network_membership;  // the BSS (AP) or the BSS joined (station)
        uint8_t role = 0;          // IEEE80211_ROLE_*
        uint8_t ap_channel_band = 0;
        uint8_t ap_channel_center_freq_index_1 = 0;
        uint8_t ap_channel_center_freq_index_2 = 0;
    };
    struct ieee1901_media_info {
        uint8_t network_identifier[7] = {};
    };
    struct local_interface {
        MAC mac_address;
        uint16_t media_type = 0;
        // Length of the media-specific information: 10 means `ieee80211` holds
        // it, 7 means `ieee1901` holds it, any other length means the bytes are
        // in `media_specific_raw` (media_specific_raw.size() == this length).
        uint8_t media_specific_info_length = 0;
        ieee80211_media_info ieee80211;
        ieee1901_media_info ieee1901;
        std::vector<uint8_t> media_specific_raw;
    };
    uint8_t num_local_interfaces = 0;
    std::vector<local_interface> local_interfaces;
};

// 0x04
struct device_bridging_capability_tlv {
    uint8_t tlv_type = TLV_TYPE_DEVICE_BRIDGING_CAPABILITIES;
    struct bridging_tuple {
        uint8_t num_macs = 0;
        std::vector<MAC> macs;
    };
    uint8_t num_bridging_tuples = 0;
    std::vector<bridging_tuple> bridging_tuples;
};

// 0x06: the non-1905 devices seen on one local interface (no count on the wire).
struct non_1905_neighbor_device_list_tlv {
    uint8_t tlv_type = TLV_TYPE_NON_1905_NEIGHBOR_DEVICE_LIST;
    MAC local_mac_address;
    std::vector<MAC> neighbors;
};

// 0x07: the 1905 neighbours seen on one local interface (no count on the wire).
struct neighbor_device_list_tlv {
    uint8_t tlv_type = TLV_TYPE_NEIGHBOR_DEVICE_LIST;
    struct neighbor {
        MAC al_mac_address;
        uint8_t bridge_flag = 0;  // 1: an IEEE 802.1 bridge lies between (bit 7 on the wire)
    };
    MAC local_mac_address;
    std::vector<neighbor> neighbors;
};

constexpr uint8_t LINK_METRIC_QUERY_ALL_NEIGHBORS = 0x00;
constexpr uint8_t LINK_METRIC_QUERY_SPECIFIC_NEIGHBOR = 0x01;
constexpr uint8_t LINK_METRIC_TX_ONLY = 0x00;
constexpr uint8_t LINK_METRIC_RX_ONLY = 0x01;
constexpr uint8_t LINK_METRIC_TX_AND_RX = 0x02;

// 0x08
struct link_metric_query_tlv {
    uint8_t tlv_type = TLV_TYPE_LINK_METRIC_QUERY;
    uint8_t neighbor_type = LINK_METRIC_QUERY_ALL_NEIGHBORS;
    MAC specific_neighbor;  // on the wire only when neighbor_type is SPECIFIC_NEIGHBOR
    uint8_t link_metrics_type = LINK_METRIC_TX_AND_RX;
};

// 0x09 (links run to the end of the TLV)
struct transmitter_link_metric_tlv {
    uint8_t tlv_type = TLV_TYPE_TRANSMITTER_LINK_METRIC;
    struct link {
        MAC local_interface_mac;
        MAC neighbor_interface_mac;
        uint16_t interface_type = 0;  // MEDIA_TYPE_*
        uint8_t ieee8021_bridge_flag = 0;
        uint32_t packet_errors = 0;
        uint32_t transmitted_packets = 0;
        uint16_t mac_throughput_capacity = 0;  // Mb/s
        uint16_t link_availability = 0;        // percent
        uint16_t phy_rate = 0;                 // Mb/s
    };
    MAC local_al_mac_address;
    MAC neighbor_al_mac_address;
    std::vector<link> links;
};

// 0x0A (links run to the end of the TLV)
struct receiver_link_metric_tlv {
    uint8_t tlv_type = TLV_TYPE_RECEIVER_LINK_METRIC;
    struct link {
        MAC local_interface_mac;
        MAC neighbor_interface_mac;
        uint16_t interface_type = 0;  // MEDIA_TYPE_*
        uint32_t packet_errors = 0;
        uint32_t packets_received = 0;
        uint8_t rssi = 0;  // dB
    };
    MAC local_al_mac_address;
    MAC neighbor_al_mac_address;
    std::vector<link> links;
};

// 0x0B
struct vendor_specific_tlv {
    uint8_t tlv_type = TLV_TYPE_VENDOR_SPECIFIC;
    uint8_t vendor_oui[3] = {};
    std::vector<uint8_t> payload;  // everything after the OUI
};

constexpr uint8_t LINK_METRIC_RESULT_INVALID_NEIGHBOR = 0x00;

// 0x0C
struct link_metric_result_code_tlv {
    uint8_t tlv_type = TLV_TYPE_LINK_METRIC_RESULT_CODE;
    uint8_t result_code = LINK_METRIC_RESULT_INVALID_NEIGHBOR;
};

constexpr uint8_t IEEE1905_ROLE_REGISTRAR = 0x00;
constexpr uint8_t IEEE1905_FREQ_BAND_2_4_GHZ = 0x00;
constexpr uint8_t IEEE1905_FREQ_BAND_5_GHZ = 0x01;
constexpr uint8_t IEEE1905_FREQ_BAND_60_GHZ = 0x02;

// 0x0D
struct searched_role_tlv {
    uint8_t tlv_type = TLV_TYPE_SEARCHED_ROLE;
    uint8_t role = IEEE1905_ROLE_REGISTRAR;
};

// 0x0E
struct autoconfig_freq_band_tlv {
    uint8_t tlv_type = TLV_TYPE_AUTOCONFIG_FREQ_BAND;
    uint8_t freq_band = IEEE1905_FREQ_BAND_2_4_GHZ;
};

// 0x0F
struct supported_role_tlv {
    uint8_t tlv_type = TLV_TYPE_SUPPORTED_ROLE;
    uint8_t role = IEEE1905_ROLE_REGISTRAR;
};

// 0x10
struct supported_freq_band_tlv {
    uint8_t tlv_type = TLV_TYPE_SUPPORTED_FREQ_BAND;
    uint8_t freq_band = IEEE1905_FREQ_BAND_2_4_GHZ;
};

// 0x11: one WSC message (M1 or M2) as raw attribute bytes; map/codec/wsc.h
// parses and builds them.
struct wsc_tlv {
    uint8_t tlv_type = TLV_TYPE_WSC;
    std::vector<uint8_t> wsc_frame;
};

// ============================ Wi-Fi EasyMesh ===============================

constexpr uint8_t MAP_SERVICE_CONTROLLER = 0x00;
constexpr uint8_t MAP_SERVICE_AGENT = 0x01;

// 0x80
struct supported_service_tlv {
    uint8_t tlv_type = TLV_TYPE_SUPPORTED_SERVICE;
    uint8_t num_services = 0;
    std::vector<uint8_t> services;  // MAP_SERVICE_*
};

// 0x81
struct searched_service_tlv {
    uint8_t tlv_type = TLV_TYPE_SEARCHED_SERVICE;
    uint8_t num_services = 0;
    std::vector<uint8_t> services;  // MAP_SERVICE_*
};

// 0x82
struct ap_radio_identifier_tlv {
    uint8_t tlv_type = TLV_TYPE_AP_RADIO_IDENTIFIER;
    MAC radio_id;
};

// 0x83
struct ap_operational_bss_tlv {
    uint8_t tlv_type = TLV_TYPE_AP_OPERATIONAL_BSS;
    struct bss {
        BSSID bssid;
        uint8_t ssid_len = 0;
        uint8_t ssid[MAX_SSID_LEN] = {};
    };
    struct radio {
        MAC radio_id;
        uint8_t num_bss = 0;
        std::vector<bss> bsss;
    };
    uint8_t num_radios = 0;
    std::vector<radio> radios;
};

// 0x84: Associated Clients.
struct associated_clients_tlv {
    uint8_t tlv_type = TLV_TYPE_ASSOCIATED_STA_TLV;
    struct client {
        MAC mac;
        uint16_t time_since_association = 0;  // seconds, 65535 = that or more
    };
    struct bss {
        BSSID bssid;
        uint16_t num_clients = 0;  // 16-bit on the wire
        std::vector<client> clients;
    };
    uint8_t num_bss = 0;
    std::vector<bss> bsss;
};

// Operating class / channel list shared by several TLVs: an operating class
// and the channels it applies to (count + list).
struct op_class_channels {
    uint8_t op_class = 0;
    uint8_t num_channels = 0;
    std::vector<uint8_t> channels;
};

// 0x85
struct ap_radio_basic_capabilities_tlv {
    uint8_t tlv_type = TLV_TYPE_AP_RADIO_BASIC_CAPABILITY;
    struct op_class {
        uint8_t op_class = 0;
        uint8_t max_tx_power_eirp = 0;  // dBm
        uint8_t num_non_operable_channels = 0;
        std::vector<uint8_t> non_operable_channels;
    };
    MAC radio_id;
    uint8_t max_bss = 0;
    uint8_t num_op_classes = 0;
    std::vector<op_class> op_classes;
};

// 0x86
struct ap_ht_capabilities_tlv {
    uint8_t tlv_type = TLV_TYPE_AP_HT_CAPABILITY;
    MAC radio_id;
    uint8_t max_tx_spatial_streams = 0;  // 2 bits: 0 = 1 stream ... 3 = 4 streams
    uint8_t max_rx_spatial_streams = 0;  // 2 bits
    uint8_t short_gi_20mhz = 0;
    uint8_t short_gi_40mhz = 0;
    uint8_t ht_40mhz = 0;
};

// 0x87
struct ap_vht_capabilities_tlv {
    uint8_t tlv_type = TLV_TYPE_AP_VHT_CAPABILITY;
    MAC radio_id;
    uint16_t supported_vht_tx_mcs = 0;
    uint16_t supported_vht_rx_mcs = 0;
    uint8_t max_tx_spatial_streams = 0;  // 3 bits: 0 = 1 stream ... 7 = 8 streams
    uint8_t max_rx_spatial_streams = 0;  // 3 bits
    uint8_t short_gi_80mhz = 0;
    uint8_t short_gi_160mhz = 0;
    uint8_t vht_80plus80mhz = 0;
    uint8_t vht_160mhz = 0;
    uint8_t su_beamformer = 0;
    uint8_t mu_beamformer = 0;
};

// 0x88
struct ap_he_capabilities_tlv {
    uint8_t tlv_type = TLV_TYPE_AP_HE_CAPABILITY;
    MAC radio_id;
    // Supported HE-MCS and NSS set: 4, 8 or 12 bytes as the TLV carries them.
    uint8_t supported_mcs_len = 0;
    uint8_t supported_mcs[12] = {};
    uint8_t max_tx_spatial_streams = 0;  // 3 bits
    uint8_t max_rx_spatial_streams = 0;  // 3 bits
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

constexpr uint8_t STEERING_POLICY_AGENT_INITIATED_DISALLOWED = 0x00;
constexpr uint8_t STEERING_POLICY_AGENT_INITIATED_RCPI_MANDATED = 0x01;
constexpr uint8_t STEERING_POLICY_AGENT_INITIATED_RCPI_ALLOWED = 0x02;

// 0x89
struct steering_policy_tlv {
    uint8_t tlv_type = TLV_TYPE_STEERING_POLICY;
    struct radio_policy {
        MAC radio_id;
        uint8_t steering_policy = 0;  // STEERING_POLICY_*
        uint8_t channel_utilization_threshold = 0;
        uint8_t rcpi_steering_threshold = 0;
    };
    uint8_t num_local_steering_disallowed = 0;
    std::vector<MAC> local_steering_disallowed;
    uint8_t num_btm_steering_disallowed = 0;
    std::vector<MAC> btm_steering_disallowed;
    uint8_t num_radios = 0;
    std::vector<radio_policy> radios;
};

// 0x8A
struct metric_reporting_policy_tlv {
    uint8_t tlv_type = TLV_TYPE_METRIC_REPORTING_POLICY;
    struct radio_policy {
        MAC radio_id;
        uint8_t sta_metrics_rcpi_threshold = 0;
        uint8_t sta_metrics_rcpi_hysteresis_margin = 0;
        uint8_t ap_metrics_channel_utilization_threshold = 0;
        uint8_t include_sta_traffic_stats = 0;  // bit 7
        uint8_t include_sta_link_metrics = 0;   // bit 6
        uint8_t include_sta_wifi6_status = 0;   // bit 5
    };
    uint8_t ap_metrics_reporting_interval = 0;  // seconds, 0 = off
    uint8_t num_radios = 0;
    std::vector<radio_policy> radios;
};

// 0x8B
struct channel_preference_tlv {
    uint8_t tlv_type = TLV_TYPE_CHANNEL_PREFERENCE;
    struct op_class {
        uint8_t op_class = 0;
        uint8_t num_channels = 0;
        std::vector<uint8_t> channels;
        uint8_t preference = 0;   // bits 7-4: 0 non-operable ... 15 most preferred
        uint8_t reason_code = 0;  // bits 3-0
    };
    MAC radio_id;
    uint8_t num_op_classes = 0;
    std::vector<op_class> op_classes;
};

// 0x8C
struct radio_operation_restriction_tlv {
    uint8_t tlv_type = TLV_TYPE_RADIO_OPERATION_RESTRICTION;
    struct channel {
        uint8_t channel = 0;
        uint8_t min_freq_separation = 0;
    };
    struct op_class {
        uint8_t op_class = 0;
        uint8_t num_channels = 0;
        std::vector<channel> channels;
    };
    MAC radio_id;
    uint8_t num_op_classes = 0;
    std::vector<op_class> op_classes;
};

// 0x8D
struct transmit_power_limit_tlv {
    uint8_t tlv_type = TLV_TYPE_TRANSMIT_POWER_LIMIT;
    MAC radio_id;
    uint8_t tx_power_limit_eirp = 0;  // dBm
};

constexpr uint8_t CHANNEL_SELECTION_ACCEPT = 0x00;
constexpr uint8_t CHANNEL_SELECTION_DECLINE_VIOLATES_PREFERENCE = 0x01;
constexpr uint8_t CHANNEL_SELECTION_DECLINE_VIOLATES_RECENT_PREFERENCE = 0x02;
constexpr uint8_t CHANNEL_SELECTION_DECLINE_BACKHAUL = 0x03;

// 0x8E
struct channel_selection_response_tlv {
    uint8_t tlv_type = TLV_TYPE_CHANNEL_SELECTION_RESPONSE;
    MAC radio_id;
    uint8_t response_code = CHANNEL_SELECTION_ACCEPT;
};

// 0x8F
struct operating_channel_report_tlv {
    uint8_t tlv_type = TLV_TYPE_OPERATING_CHANNEL_REPORT;
    struct op_class_channel {
        uint8_t op_class = 0;
        uint8_t channel = 0;
    };
    MAC radio_id;
    uint8_t num_op_classes = 0;
    std::vector<op_class_channel> op_classes;
    uint8_t current_tx_power_eirp = 0;  // dBm
};

// 0x90
struct client_info_tlv {
    uint8_t tlv_type = TLV_TYPE_CLIENT_INFO;
    BSSID bssid;
    MAC client_mac;
};

constexpr uint8_t CLIENT_CAPABILITY_SUCCESS = 0x00;
constexpr uint8_t CLIENT_CAPABILITY_UNSPECIFIED_FAILURE = 0x01;

// 0x91
struct client_capability_report_tlv {
    uint8_t tlv_type = TLV_TYPE_CLIENT_CAPABILITY_REPORT;
    uint8_t result_code = CLIENT_CAPABILITY_SUCCESS;
    // The (Re)Association Request frame body the client last sent; empty on failure.
    std::vector<uint8_t> frame_body;
};

// 0x92
struct client_association_event_tlv {
    uint8_t tlv_type = TLV_TYPE_CLIENT_ASSOCIATION_EVENT;
    MAC client_mac;
    BSSID bssid;
    uint8_t association_event = 0;  // 1 joined, 0 left (bit 7 on the wire)
};

// 0x93
struct ap_metric_query_tlv {
    uint8_t tlv_type = TLV_TYPE_AP_METRIC_QUERY;
    uint8_t num_bssids = 0;
    std::vector<BSSID> bssids;
};

// 0x94
struct ap_metrics_tlv {
    uint8_t tlv_type = TLV_TYPE_AP_METRICS;
    BSSID bssid;
    uint8_t channel_utilization = 0;  // 0..255
    uint16_t num_associated_stas = 0;
    // Estimated service parameters per access category; the BE one is always
    // present (its flag is always 1 on the wire), BK/VO/VI when their flag is 1.
    uint8_t esp_be_present = 1;
    uint8_t esp_bk_present = 0;
    uint8_t esp_vo_present = 0;
    uint8_t esp_vi_present = 0;
    uint8_t esp_be[3] = {};
    uint8_t esp_bk[3] = {};
    uint8_t esp_vo[3] = {};
    uint8_t esp_vi[3] = {};
};

// 0x95
struct sta_mac_address_tlv {
    uint8_t tlv_type = TLV_TYPE_STA_MAC_ADDRESS;
    MAC sta_mac;
};

// 0x96
struct associated_sta_link_metrics_tlv {
    uint8_t tlv_type = TLV_TYPE_ASSOCIATED_STA_LINK_METRICS;
    struct bss_metric {
        BSSID bssid;
        uint32_t time_delta_ms = 0;
        uint32_t downlink_rate = 0;  // estimated MAC data rate, Mb/s
        uint32_t uplink_rate = 0;    // estimated MAC data rate, Mb/s
        uint8_t uplink_rcpi = 0;
    };
    MAC sta_mac;
    uint8_t num_bssids = 0;
    std::vector<bss_metric> bssids;
};

// 0x97
struct unassociated_sta_link_metrics_query_tlv {
    uint8_t tlv_type = TLV_TYPE_UNASSOCIATED_STA_METRICS_QUERY;
    struct channel {
        uint8_t channel = 0;
        uint8_t num_stas = 0;
        std::vector<MAC> stas;
    };
    uint8_t op_class = 0;
    uint8_t num_channels = 0;
    std::vector<channel> channels;
};

// 0x98
struct unassociated_sta_link_metrics_response_tlv {
    uint8_t tlv_type = TLV_TYPE_UNASSOCIATED_STA_METRICS_RESPONSE;
    struct sta {
        MAC mac;
        uint8_t channel = 0;
        uint32_t time_delta_ms = 0;
        uint8_t uplink_rcpi = 0;
    };
    uint8_t op_class = 0;
    uint8_t num_stas = 0;
    std::vector<sta> stas;
};

// 0x99
struct beacon_metrics_query_tlv {
    uint8_t tlv_type = TLV_TYPE_BEACON_METRICS_QUERY;
    struct ap_channel_report {
        // On the wire: a length byte (1 + number of channels), the class, the channels.
        uint8_t op_class = 0;
        std::vector<uint8_t> channels;
    };
    MAC sta_mac;
    uint8_t op_class = 0;
    uint8_t channel = 0;  // 255: use the AP channel reports
    BSSID bssid;          // broadcast for wildcard
    uint8_t reporting_detail = 0;
    uint8_t ssid_len = 0;
    uint8_t ssid[MAX_SSID_LEN] = {};
    uint8_t num_ap_channel_reports = 0;
    std::vector<ap_channel_report> ap_channel_reports;
    uint8_t num_element_ids = 0;
    std::vector<uint8_t> element_ids;
};

// 0x9A
struct beacon_metrics_response_tlv {
    uint8_t tlv_type = TLV_TYPE_BEACON_METRICS_RESPONSE;
    // One 802.11 Measurement Report element: element id (39), length, then
    // `body` (token, mode, type and the beacon report), kept as bytes.
    struct report_element {
        uint8_t element_id = 39;
        std::vector<uint8_t> body;  // at most 255 bytes
    };
    MAC sta_mac;
    uint8_t reserved = 0;
    uint8_t num_elements = 0;
    std::vector<report_element> elements;
};

// 0x9B
struct steering_request_tlv {
    uint8_t tlv_type = TLV_TYPE_STEERING_REQUEST;
    struct target {
        BSSID bssid;
        uint8_t op_class = 0;
        uint8_t channel = 0;
    };
    BSSID bssid;                               // the BSS the clients are steered from
    uint8_t request_mode = 0;                  // bit 7: 0 steering opportunity, 1 steering mandate
    uint8_t btm_disassociation_imminent = 0;   // bit 6
    uint8_t btm_abridged = 0;                  // bit 5
    uint16_t steering_opportunity_window = 0;  // seconds
    uint16_t btm_disassociation_timer = 0;     // TUs
    uint8_t num_stas = 0;
    std::vector<MAC> stas;
    uint8_t num_targets = 0;
    std::vector<target> targets;
};

// 0x9C
struct steering_btm_report_tlv {
    uint8_t tlv_type = TLV_TYPE_BTM_REPORT;
    BSSID bssid;  // the reporting BSS
    MAC sta_mac;
    uint8_t btm_status_code = 0;
    uint8_t has_target_bssid = 0;  // the target BSSID field is present
    BSSID target_bssid;
};

constexpr uint8_t ASSOCIATION_CONTROL_BLOCK = 0x00;
constexpr uint8_t ASSOCIATION_CONTROL_UNBLOCK = 0x01;

// 0x9D
struct client_association_control_request_tlv {
    uint8_t tlv_type = TLV_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST;
    BSSID bssid;
    uint8_t association_control = ASSOCIATION_CONTROL_BLOCK;
    uint16_t validity_period = 0;  // seconds
    uint8_t num_stas = 0;
    std::vector<MAC> stas;
};

// 0x9E
struct backhaul_steering_request_tlv {
    uint8_t tlv_type = TLV_TYPE_BACKHAUL_STEERING_REQUEST;
    MAC backhaul_sta_mac;
    BSSID target_bssid;
    uint8_t op_class = 0;
    uint8_t channel = 0;
};

constexpr uint8_t BACKHAUL_STEERING_SUCCESS = 0x00;
constexpr uint8_t BACKHAUL_STEERING_FAILURE = 0x01;

// 0x9F
struct backhaul_steering_response_tlv {
    uint8_t tlv_type = TLV_TYPE_BACKHAUL_STEERING_RESPONSE;
    MAC backhaul_sta_mac;
    BSSID target_bssid;
    uint8_t result_code = BACKHAUL_STEERING_SUCCESS;
};

// 0xA0 (not in the received set, kept for naming)

// 0xA1
struct ap_capability_tlv {
    uint8_t tlv_type = TLV_TYPE_AP_CAPABILITY;
    uint8_t unassoc_sta_metrics_operating_channel = 0;      // bit 7
    uint8_t unassoc_sta_metrics_non_operating_channel = 0;  // bit 6
    uint8_t agent_initiated_rcpi_steering = 0;              // bit 5
};

// 0xA2
struct associated_sta_traffic_stats_tlv {
    uint8_t tlv_type = TLV_TYPE_ASSOCIATED_STA_TRAFFIC_STATS;
    MAC sta_mac;
    uint32_t bytes_sent = 0;
    uint32_t bytes_received = 0;
    uint32_t packets_sent = 0;
    uint32_t packets_received = 0;
    uint32_t tx_packet_errors = 0;
    uint32_t rx_packet_errors = 0;
    uint32_t retransmission_count = 0;
};

// 0xA3 (reason codes 1..6 as the daemon's ErrorCodeTLV tells them)
struct error_code_tlv {
    uint8_t tlv_type = TLV_TYPE_ERROR;
    uint8_t reason_code = 0;
    MAC sta_mac;
};

// 0xA4
struct channel_scan_reporting_policy_tlv {
    uint8_t tlv_type = TLV_TYPE_CHANNEL_SCAN_REPORTING_POLICY;
    uint8_t report_independent_scans = 0;  // bit 7
};

// 0xA5
struct channel_scan_capabilities_tlv {
    uint8_t tlv_type = TLV_TYPE_CHANNEL_SCAN_CAPABILITY;
    struct radio {
        MAC radio_id;
        uint8_t on_boot_only = 0;        // bit 7
        uint8_t scan_impact = 0;         // bits 6-5
        uint32_t min_scan_interval = 0;  // seconds
        uint8_t num_op_classes = 0;
        std::vector<op_class_channels> op_classes;
    };
    uint8_t num_radios = 0;
    std::vector<radio> radios;
};

// 0xA6
struct channel_scan_request_tlv {
    uint8_t tlv_type = TLV_TYPE_CHANNEL_SCAN_REQUEST;
    struct radio {
        MAC radio_id;
        uint8_t num_op_classes = 0;
        std::vector<op_class_channels> op_classes;
    };
    uint8_t perform_fresh_scan = 0;  // bit 7
    uint8_t num_radios = 0;
    std::vector<radio> radios;
};

constexpr uint8_t CHANNEL_SCAN_STATUS_SUCCESS = 0x00;

// 0xA7
struct channel_scan_result_tlv {
    uint8_t tlv_type = TLV_TYPE_CHANNEL_SCAN_RESULT;
    struct neighbor {
        BSSID bssid;
        uint8_t ssid_len = 0;
        uint8_t ssid[MAX_SSID_LEN] = {};
        uint8_t signal_strength = 0;           // RCPI
        std::string channel_bandwidth;         // "20", "40", "80", "80+80", "160" (length-prefixed)
        uint8_t bss_load_element_present = 0;  // bit 7
        uint8_t bss_color = 0;                 // bits 5-0 (R3; 0 when unused)
        // Present only when bss_load_element_present is 1:
        uint8_t channel_utilization = 0;
        uint16_t station_count = 0;
    };
    MAC radio_id;
    uint8_t op_class = 0;
    uint8_t channel = 0;
    uint8_t scan_status = CHANNEL_SCAN_STATUS_SUCCESS;
    // The remaining fields are on the wire only when scan_status is SUCCESS.
    std::string timestamp;  // RFC 3339 text, length-prefixed
    uint8_t utilization = 0;
    uint8_t noise = 0;
    uint16_t num_neighbors = 0;  // 16-bit on the wire
    std::vector<neighbor> neighbors;
    uint32_t aggregate_scan_duration = 0;  // ms
    uint8_t active_scan = 0;               // scan type, bit 7
};

// 0xA8
struct timestamp_tlv {
    uint8_t tlv_type = TLV_TYPE_TIMESTAMP;
    std::string timestamp;  // RFC 3339 text, at most 255 bytes
};

// 0xAD
struct cac_request_tlv {
    uint8_t tlv_type = TLV_TYPE_CAC_REQUEST;
    struct radio {
        MAC radio_id;
        uint8_t op_class = 0;
        uint8_t channel = 0;
        uint8_t cac_method = 0;             // bits 7-5
        uint8_t cac_completion_action = 0;  // bits 4-3
    };
    uint8_t num_radios = 0;
    std::vector<radio> radios;
};

// 0xAE
struct cac_termination_tlv {
    uint8_t tlv_type = TLV_TYPE_CAC_TERMINATION;
    struct radio {
        MAC radio_id;
        uint8_t op_class = 0;
        uint8_t channel = 0;
    };
    uint8_t num_radios = 0;
    std::vector<radio> radios;
};

// 0xAF
struct cac_completion_report_tlv {
    uint8_t tlv_type = TLV_TYPE_CAC_COMPLETION_REPORT;
    struct op_class_channel {
        uint8_t op_class = 0;
        uint8_t channel = 0;
    };
    struct radio {
        MAC radio_id;
        uint8_t op_class = 0;
        uint8_t channel = 0;
        uint8_t cac_completion_status = 0;
        uint8_t num_radar_pairs = 0;
        std::vector<op_class_channel> radar_pairs;  // where radar was detected
    };
    uint8_t num_radios = 0;
    std::vector<radio> radios;
};

// 0xB1
struct cac_status_report_tlv {
    uint8_t tlv_type = TLV_TYPE_CAC_STATUS_REPORT;
    struct available_channel {
        uint8_t op_class = 0;
        uint8_t channel = 0;
        uint16_t minutes_since_cac = 0;
    };
    struct non_occupancy_channel {
        uint8_t op_class = 0;
        uint8_t channel = 0;
        uint16_t seconds_remaining = 0;
    };
    struct ongoing_cac_channel {
        uint8_t op_class = 0;
        uint8_t channel = 0;
        uint32_t seconds_remaining = 0;  // 24-bit on the wire
    };
    uint8_t num_available = 0;
    std::vector<available_channel> available;
    uint8_t num_non_occupancy = 0;
    std::vector<non_occupancy_channel> non_occupancy;
    uint8_t num_ongoing_cac = 0;
    std::vector<ongoing_cac_channel> ongoing_cac;
};

// 0xB2
struct cac_capabilities_tlv {
    uint8_t tlv_type = TLV_TYPE_CAC_CAPABILITIES;
    struct cac_type {
        uint8_t cac_method = 0;
        uint32_t duration = 0;  // seconds, 24-bit on the wire
        uint8_t num_op_classes = 0;
        std::vector<op_class_channels> op_classes;
    };
    struct radio {
        MAC radio_id;
        uint8_t num_cac_types = 0;
        std::vector<cac_type> cac_types;
    };
    uint8_t country_code[2] = {};
    uint8_t num_radios = 0;
    std::vector<radio> radios;
};

constexpr uint8_t MAP_PROFILE_1 = 0x01;
constexpr uint8_t MAP_PROFILE_2 = 0x02;
constexpr uint8_t MAP_PROFILE_3 = 0x03;

// 0xB3
struct multiap_profile_tlv {
    uint8_t tlv_type = TLV_TYPE_MULTIAP_PROFILE;
    uint8_t profile = MAP_PROFILE_2;
};

// 0xB4
struct profile2_ap_capability_tlv {
    uint8_t tlv_type = TLV_TYPE_PROFILE2_AP_CAPABILITY;
    uint8_t max_prioritization_rules = 0;
    uint8_t reserved = 0;
    uint8_t byte_counter_units = 0;               // bits 7-6: 0 bytes, 1 KiB, 2 MiB
    uint8_t basic_service_prioritization = 0;     // bit 5
    uint8_t enhanced_service_prioritization = 0;  // bit 4
    uint8_t max_vids = 0;
};

// 0xB5
struct default_8021q_settings_tlv {
    uint8_t tlv_type = TLV_TYPE_DEFAULT_8021Q_SETTINGS;
    uint16_t primary_vlan_id = 0;
    uint8_t default_pcp = 0;  // bits 7-5
};

// 0xB6
struct traffic_separation_policy_tlv {
    uint8_t tlv_type = TLV_TYPE_TRAFFIC_SEPARATION_POLICY;
    struct ssid_vlan {
        uint8_t ssid_len = 0;
        uint8_t ssid[MAX_SSID_LEN] = {};
        uint16_t vlan_id = 0;
    };
    uint8_t num_ssids = 0;
    std::vector<ssid_vlan> ssids;
};

// 0xC0
struct source_info_tlv {
    uint8_t tlv_type = TLV_TYPE_SOURCE_INFO;
    MAC mac;  // the client that sent the tunneled frame
};

constexpr uint8_t TUNNELED_ASSOCIATION_REQUEST = 0x00;
constexpr uint8_t TUNNELED_REASSOCIATION_REQUEST = 0x01;
constexpr uint8_t TUNNELED_BTM_QUERY = 0x02;
constexpr uint8_t TUNNELED_WNM_REQUEST = 0x03;
constexpr uint8_t TUNNELED_ANQP_REQUEST = 0x04;

// 0xC1
struct tunneled_message_type_tlv {
    uint8_t tlv_type = TLV_TYPE_TUNNELED_MESSAGE_TYPE;
    uint8_t message_type = TUNNELED_ASSOCIATION_REQUEST;
};

// 0xC2
struct tunneled_tlv {
    uint8_t tlv_type = TLV_TYPE_TUNNELED;
    std::vector<uint8_t> frame_body;
};

// 0xC4
struct unsuccessful_association_policy_tlv {
    uint8_t tlv_type = TLV_TYPE_UNSUCCESSFUL_ASSOCIATION_POLICY;
    uint8_t report_unsuccessful_associations = 0;  // bit 7
    uint32_t max_reporting_rate = 0;               // attempts per minute
};

// 0xC5
struct metric_collection_interval_tlv {
    uint8_t tlv_type = TLV_TYPE_METRIC_COLLECTION_INTERVAL;
    uint32_t collection_interval_ms = 0;
};

// 0xC6
struct radio_metrics_tlv {
    uint8_t tlv_type = TLV_TYPE_RADIO_METRICS;
    MAC radio_id;
    uint8_t noise = 0;
    uint8_t transmit = 0;
    uint8_t receive_self = 0;
    uint8_t receive_other = 0;
};

// 0xC7
struct ap_extended_metrics_tlv {
    uint8_t tlv_type = TLV_TYPE_AP_EXTENDED_METRICS;
    BSSID bssid;
    uint32_t unicast_bytes_sent = 0;
    uint32_t unicast_bytes_received = 0;
    uint32_t multicast_bytes_sent = 0;
    uint32_t multicast_bytes_received = 0;
    uint32_t broadcast_bytes_sent = 0;
    uint32_t broadcast_bytes_received = 0;
};

// 0xC8
struct associated_sta_extended_link_metrics_tlv {
    uint8_t tlv_type = TLV_TYPE_ASSOCIATED_STA_EXTENDED_LINK_METRICS;
    struct bss_metric {
        BSSID bssid;
        uint32_t last_data_downlink_rate = 0;
        uint32_t last_data_uplink_rate = 0;
        uint32_t utilization_receive = 0;
        uint32_t utilization_transmit = 0;
    };
    MAC sta_mac;
    uint8_t num_bssids = 0;
    std::vector<bss_metric> bssids;
};

// 0xC9 (an IEEE 802.11 status code)
struct status_code_tlv {
    uint8_t tlv_type = TLV_TYPE_STATUS_CODE;
    uint16_t status_code = 0;
};

// 0xCA (an IEEE 802.11 reason code)
struct reason_code_tlv {
    uint8_t tlv_type = TLV_TYPE_REASON_CODE;
    uint16_t reason_code = 0;
};

// Any TLV type without a record above (tlv_type holds the actual type).
struct unknown_tlv {
    uint8_t tlv_type = 0;
    std::vector<uint8_t> value;
};

// Every TLV that has a record, as X(TYPE constant, record). Drives the
// allocation, release and codec tables.
#define OZR_FOR_EACH_TLV(X)                                                                    \
    X(TLV_TYPE_AL_MAC_ADDRESS_TYPE, al_mac_address_tlv)                                        \
    X(TLV_TYPE_MAC_ADDRESS_TYPE, mac_address_tlv)                                              \
    X(TLV_TYPE_DEVICE_INFORMATION_TYPE, device_information_tlv)                                \
    X(TLV_TYPE_DEVICE_BRIDGING_CAPABILITIES, device_bridging_capability_tlv)                   \
    X(TLV_TYPE_NON_1905_NEIGHBOR_DEVICE_LIST, non_1905_neighbor_device_list_tlv)               \
    X(TLV_TYPE_NEIGHBOR_DEVICE_LIST, neighbor_device_list_tlv)                                 \
    X(TLV_TYPE_LINK_METRIC_QUERY, link_metric_query_tlv)                                       \
    X(TLV_TYPE_TRANSMITTER_LINK_METRIC, transmitter_link_metric_tlv)                           \
    X(TLV_TYPE_RECEIVER_LINK_METRIC, receiver_link_metric_tlv)                                 \
    X(TLV_TYPE_VENDOR_SPECIFIC, vendor_specific_tlv)                                           \
    X(TLV_TYPE_LINK_METRIC_RESULT_CODE, link_metric_result_code_tlv)                           \
    X(TLV_TYPE_SEARCHED_ROLE, searched_role_tlv)                                               \
    X(TLV_TYPE_AUTOCONFIG_FREQ_BAND, autoconfig_freq_band_tlv)                                 \
    X(TLV_TYPE_SUPPORTED_ROLE, supported_role_tlv)                                             \
    X(TLV_TYPE_SUPPORTED_FREQ_BAND, supported_freq_band_tlv)                                   \
    X(TLV_TYPE_WSC, wsc_tlv)                                                                   \
    X(TLV_TYPE_SUPPORTED_SERVICE, supported_service_tlv)                                       \
    X(TLV_TYPE_SEARCHED_SERVICE, searched_service_tlv)                                         \
    X(TLV_TYPE_AP_RADIO_IDENTIFIER, ap_radio_identifier_tlv)                                   \
    X(TLV_TYPE_AP_OPERATIONAL_BSS, ap_operational_bss_tlv)                                     \
    X(TLV_TYPE_ASSOCIATED_STA_TLV, associated_clients_tlv)                                     \
    X(TLV_TYPE_AP_RADIO_BASIC_CAPABILITY, ap_radio_basic_capabilities_tlv)                     \
    X(TLV_TYPE_AP_HT_CAPABILITY, ap_ht_capabilities_tlv)                                       \
    X(TLV_TYPE_AP_VHT_CAPABILITY, ap_vht_capabilities_tlv)                                     \
    X(TLV_TYPE_AP_HE_CAPABILITY, ap_he_capabilities_tlv)                                       \
    X(TLV_TYPE_STEERING_POLICY, steering_policy_tlv)                                           \
    X(TLV_TYPE_METRIC_REPORTING_POLICY, metric_reporting_policy_tlv)                           \
    X(TLV_TYPE_CHANNEL_PREFERENCE, channel_preference_tlv)                                     \
    X(TLV_TYPE_RADIO_OPERATION_RESTRICTION, radio_operation_restriction_tlv)                   \
    X(TLV_TYPE_TRANSMIT_POWER_LIMIT, transmit_power_limit_tlv)                                 \
    X(TLV_TYPE_CHANNEL_SELECTION_RESPONSE, channel_selection_response_tlv)                     \
    X(TLV_TYPE_OPERATING_CHANNEL_REPORT, operating_channel_report_tlv)                         \
    X(TLV_TYPE_CLIENT_INFO, client_info_tlv)                                                   \
    X(TLV_TYPE_CLIENT_CAPABILITY_REPORT, client_capability_report_tlv)                         \
    X(TLV_TYPE_CLIENT_ASSOCIATION_EVENT, client_association_event_tlv)                         \
    X(TLV_TYPE_AP_METRIC_QUERY, ap_metric_query_tlv)                                           \
    X(TLV_TYPE_AP_METRICS, ap_metrics_tlv)                                                     \
    X(TLV_TYPE_STA_MAC_ADDRESS, sta_mac_address_tlv)                                           \
    X(TLV_TYPE_ASSOCIATED_STA_LINK_METRICS, associated_sta_link_metrics_tlv)                   \
    X(TLV_TYPE_UNASSOCIATED_STA_METRICS_QUERY, unassociated_sta_link_metrics_query_tlv)        \
    X(TLV_TYPE_UNASSOCIATED_STA_METRICS_RESPONSE, unassociated_sta_link_metrics_response_tlv)  \
    X(TLV_TYPE_BEACON_METRICS_QUERY, beacon_metrics_query_tlv)                                 \
    X(TLV_TYPE_BEACON_METRICS_RESPONSE, beacon_metrics_response_tlv)                           \
    X(TLV_TYPE_STEERING_REQUEST, steering_request_tlv)                                         \
    X(TLV_TYPE_BTM_REPORT, steering_btm_report_tlv)                                            \
    X(TLV_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST, client_association_control_request_tlv)     \
    X(TLV_TYPE_BACKHAUL_STEERING_REQUEST, backhaul_steering_request_tlv)                       \
    X(TLV_TYPE_BACKHAUL_STEERING_RESPONSE, backhaul_steering_response_tlv)                     \
    X(TLV_TYPE_AP_CAPABILITY, ap_capability_tlv)                                               \
    X(TLV_TYPE_ASSOCIATED_STA_TRAFFIC_STATS, associated_sta_traffic_stats_tlv)                 \
    X(TLV_TYPE_ERROR, error_code_tlv)                                                          \
    X(TLV_TYPE_CHANNEL_SCAN_REPORTING_POLICY, channel_scan_reporting_policy_tlv)               \
    X(TLV_TYPE_CHANNEL_SCAN_CAPABILITY, channel_scan_capabilities_tlv)                         \
    X(TLV_TYPE_CHANNEL_SCAN_REQUEST, channel_scan_request_tlv)                                 \
    X(TLV_TYPE_CHANNEL_SCAN_RESULT, channel_scan_result_tlv)                                   \
    X(TLV_TYPE_TIMESTAMP, timestamp_tlv)                                                       \
    X(TLV_TYPE_CAC_REQUEST, cac_request_tlv)                                                   \
    X(TLV_TYPE_CAC_TERMINATION, cac_termination_tlv)                                           \
    X(TLV_TYPE_CAC_COMPLETION_REPORT, cac_completion_report_tlv)                               \
    X(TLV_TYPE_CAC_STATUS_REPORT, cac_status_report_tlv)                                       \
    X(TLV_TYPE_CAC_CAPABILITIES, cac_capabilities_tlv)                                         \
    X(TLV_TYPE_MULTIAP_PROFILE, multiap_profile_tlv)                                           \
    X(TLV_TYPE_PROFILE2_AP_CAPABILITY, profile2_ap_capability_tlv)                             \
    X(TLV_TYPE_DEFAULT_8021Q_SETTINGS, default_8021q_settings_tlv)                             \
    X(TLV_TYPE_TRAFFIC_SEPARATION_POLICY, traffic_separation_policy_tlv)                       \
    X(TLV_TYPE_SOURCE_INFO, source_info_tlv)                                                   \
    X(TLV_TYPE_TUNNELED_MESSAGE_TYPE, tunneled_message_type_tlv)                               \
    X(TLV_TYPE_TUNNELED, tunneled_tlv)                                                         \
    X(TLV_TYPE_UNSUCCESSFUL_ASSOCIATION_POLICY, unsuccessful_association_policy_tlv)           \
    X(TLV_TYPE_METRIC_COLLECTION_INTERVAL, metric_collection_interval_tlv)                     \
    X(TLV_TYPE_RADIO_METRICS, radio_metrics_tlv)                                               \
    X(TLV_TYPE_AP_EXTENDED_METRICS, ap_extended_metrics_tlv)                                   \
    X(TLV_TYPE_ASSOCIATED_STA_EXTENDED_LINK_METRICS, associated_sta_extended_link_metrics_tlv) \
    X(TLV_TYPE_STATUS_CODE, status_code_tlv)                                                   \
    X(TLV_TYPE_REASON_CODE, reason_code_tlv)

// Maps a record type to its TLV type: tlv_record_type<ap_metrics_tlv>::value == 0x94.
template <class T>
struct tlv_record_type;

#define OZR_TLV_RECORD_TRAIT(TYPE, REC)                                                  \
    static_assert(std::is_standard_layout<REC>::value, #REC " must be standard-layout"); \
    static_assert(offsetof(REC, tlv_type) == 0, #REC ": tlv_type must come first");      \
    template <>                                                                          \
    struct tlv_record_type<REC> {                                                        \
        static constexpr uint8_t value = TYPE;                                           \
    };
OZR_FOR_EACH_TLV(OZR_TLV_RECORD_TRAIT)
#undef OZR_TLV_RECORD_TRAIT
static_assert(std::is_standard_layout<unknown_tlv>::value, "unknown_tlv must be standard-layout");

// ---- Record ownership -------------------------------------------------------

// Releases one record of any TLV type (looked up from its first byte), as
// allocated by the codec or by alloc_1905_TLV. Null is ignored.
void free_1905_TLV_structure(uint8_t* tlv);

// Heap copy of REC as a list entry (for CMDU::list_of_TLVs).
template <class T>
uint8_t* alloc_1905_TLV(T record) {
    record.tlv_type = tlv_record_type<T>::value;
    return reinterpret_cast<uint8_t*>(new T(std::move(record)));
}
inline uint8_t* alloc_1905_TLV(unknown_tlv record) {
    return reinterpret_cast<uint8_t*>(new unknown_tlv(std::move(record)));
}

// Record of the given type at list entry P, or null when P holds another type.
template <class T>
T* tlv_cast(uint8_t* p) {
    return p && *p == tlv_record_type<T>::value ? reinterpret_cast<T*>(p) : nullptr;
}
template <class T>
const T* tlv_cast(const uint8_t* p) {
    return p && *p == tlv_record_type<T>::value ? reinterpret_cast<const T*>(p) : nullptr;
}

// True when the stack has a record for TLV_TYPE (other types arrive as unknown_tlv).
bool tlv_type_has_record(uint8_t tlv_type);

#include "map/codec/cmdu_alloc.h"
