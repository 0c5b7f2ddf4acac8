// The HKT vendor protocol of the maker's extenders, as the Multi-AP stack encodes and
// decodes it. An HKT message is a 1905 Vendor Specific message (0x0004) carrying one
// Vendor Specific TLV (0x0B) whose OUI is hkt_get_vendor_oui(); the rest of that TLV's
// value is one HKT TLV:
//
//   type (1 byte) | length (2 bytes, big-endian) | value (length bytes)
//
// Multi-byte numbers are big-endian. Texts are a length byte and that many bytes (no NUL);
// lists are a count byte and the entries. docs/hkt.md gives every value byte by byte.
//
// Records: one struct per HKT TLV type, filled by parse_hkt_message_from_packet and read
// by forge_hkt_message_from_structure. An hktMessage names the type and points at the
// record; handlers take it as `void*` and use hkt_tlv_cast<T>() to reach the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/mac.h"
#include "map/codec/tlvs.h"

// ---- HKT TLV types ---------------------------------------------------------------
constexpr uint8_t HKT_TLV_DISCOVERY_REQUEST = 1;
constexpr uint8_t HKT_TLV_DISCOVERY_RESPONSE = 2;
constexpr uint8_t HKT_TLV_CONFIG_REQUEST = 3;
constexpr uint8_t HKT_TLV_CONFIG_RESPONSE = 4;
constexpr uint8_t HKT_TLV_IP_CHANGE_NOTIFICATION = 5;
constexpr uint8_t HKT_TLV_IP_CHANGE_NOTIFICATION_REQUEST = 6;
constexpr uint8_t HKT_TLV_HEARTBEAT = 8;
constexpr uint8_t HKT_TLV_EX_NOTIFICATION = 9;
constexpr uint8_t HKT_TLV_PORT_INFO_REQUEST = 10;
constexpr uint8_t HKT_TLV_PORT_INFO_RESPONSE = 11;
constexpr uint8_t HKT_TLV_INTERFACES_STATISTIC_REQUEST = 12;
constexpr uint8_t HKT_TLV_INTERFACES_STATISTIC_RESPONSE = 13;
constexpr uint8_t HKT_TLV_BACKHAUL_INFORMATION_NOTIFY = 14;
constexpr uint8_t HKT_TLV_WIFI_RADIO_SPECIAL_CFG_REQUEST = 15;
constexpr uint8_t HKT_TLV_FACTORY_RESET_REQUEST = 16;
constexpr uint8_t HKT_TLV_UNASSOC_STA_METRICS_QUERY = 17;
constexpr uint8_t HKT_TLV_VAPS_INFO_QUERY = 178;
constexpr uint8_t HKT_TLV_VAPS_INFO_RESPONSE = 179;
constexpr uint8_t HKT_TLV_IP_INFO_QUERY = 180;
constexpr uint8_t HKT_TLV_IP_INFO_RESPONSE = 181;
constexpr uint8_t HKT_TLV_VSN_QUERY = 183;
constexpr uint8_t HKT_TLV_VSN_RESPONSE = 184;
constexpr uint8_t HKT_TLV_BH_VAP_8BYTE_REQUEST = 0xB9;

// Bounds of what a record may hold (refused both ways beyond them).
constexpr size_t HKT_MAX_TEXT = 64;        // model, serial number, host name, versions
constexpr size_t HKT_MAX_IFNAME = 16;      // interface and VAP names
constexpr size_t HKT_MAX_VSN = 32;         // virtual serial number
constexpr size_t HKT_MAX_IPV6_GLOBAL = 8;  // global IPv6 addresses of one node
constexpr size_t HKT_MAX_MINDERS = 32;     // management capability entries
constexpr size_t HKT_MAX_INTERFACES = 32;  // interfaces of one node (discovery, statistics)
constexpr size_t HKT_MAX_VAPS = 32;        // VAPs of one node
// Largest HKT TLV value: what fits one Vendor Specific TLV after its OUI and the HKT
// header (the 1905 TLV length is 16 bits).
constexpr size_t HKT_MAX_VALUE = 0xFFFF - 3 - 3;

struct HktIpv6 {
    uint8_t addr[16] = {};
};

// Addresses of a node: IPv4, link-local IPv6, global IPv6 list.
struct HktAddresses {
    uint8_t ipv4[4] = {};
    HktIpv6 ipv6_local;
    uint8_t num_ipv6_global = 0;
    std::vector<HktIpv6> ipv6_global;
};

// 1: the controller asks who runs an HKT agent (relayed multicast).
struct hkt_discovery_request_tlv {
    MAC controller_al_mac;
    uint32_t hkt_version = 0;
};

// 2: an HKT agent introduces itself (sent from its HKT MAC).
struct hkt_discovery_response_tlv {
    struct interface {
        std::string ifname;  // at most HKT_MAX_IFNAME bytes
        MAC mac;
        uint32_t media_type = 0;  // IEEE 1905.1 media type
        uint8_t pwr_state = 0;    // 0 off, 1 on, 2 power save
        uint8_t physical_port_number = 0;
    };
    uint32_t capabilities_version = 0;
    uint32_t hkt_version = 0;
    uint32_t config_number = 0;
    std::string model_number;
    std::string serial_number;
    MAC system_mac;
    MAC collocated_map_agent_mac;
    HktAddresses addresses;
    std::string hostname;
    std::string sw_version;
    std::string vendor;
    std::string product_class;
    uint8_t oui[3] = {};
    uint32_t minders_present = 0;  // bit mask of the HKT minders the node runs
    uint8_t minders_nr = 0;
    std::vector<uint16_t> minder_capabilites;
    uint8_t interfaces_nr = 0;
    std::vector<interface> interfaces;
};

// 3: a configuration blob for the extender.
struct hkt_config_request_tlv {
    std::vector<uint8_t> data;
};

// 4: the extender's answer to a configuration request.
struct hkt_config_response_tlv {
    int32_t return_code = 0;
    uint16_t data_len = 0;
    std::vector<uint8_t> data;  // data_len bytes
};

// 5: the extender's addresses changed.
struct hkt_ip_change_notification_tlv {
    HktAddresses addresses;
};

// 6: the controller passes one node's new addresses on to the other nodes.
struct hkt_ip_change_notification_request_tlv {
    MAC hkt_mac;
    std::string serial_number;
    HktAddresses addresses;
};

// 8: the extender is alive.
struct hkt_heartbeat_tlv {
    uint32_t uptime = 0;  // seconds since the HKT agent started
};

// 9: an extender event for the platform (opaque to the controller).
struct hkt_ex_notification_tlv {
    uint16_t event = 0;
    std::vector<uint8_t> data;
};

// 10 / 11: the state of one Ethernet port.
struct hkt_port_info_request_tlv {
    MAC port_mac;
};
struct hkt_port_info_response_tlv {
    MAC port_mac;
    uint8_t power_state = 0;  // 0 down, 1 up
    uint32_t speed = 0;       // Mb/s
    uint16_t port_number = 0;
    uint8_t result_code = 0;  // 0 success, 1 unknown port
};

// The fourteen counters of one interface.
struct HktStatistic {
    uint64_t total_rx_bytes = 0;
    uint64_t total_tx_bytes = 0;
    uint64_t total_rx_packets = 0;
    uint64_t total_tx_packets = 0;
    uint64_t unicast_rx_packets = 0;
    uint64_t unicast_tx_packets = 0;
    uint64_t multicast_rx_packets = 0;
    uint64_t multicast_tx_packets = 0;
    uint64_t broadcast_rx_packets = 0;
    uint64_t broadcast_tx_packets = 0;
    uint64_t rx_errors = 0;
    uint64_t tx_errors = 0;
    uint64_t rx_dropped_packets = 0;
    uint64_t tx_dropped_packets = 0;
};

// 12 / 13: interface statistics.
struct hkt_interfaces_statistic_request_tlv {
    uint8_t num_interfaces = 0;
    std::vector<MAC> interfaces;
};
struct hkt_interfaces_statistic_response_tlv {
    struct interface {
        MAC mac;
        HktStatistic stats;
    };
    uint8_t num_interfaces = 0;
    std::vector<interface> interfaces;
};

// 14: the extender's uplink as the controller computed it.
struct hkt_backhaul_information_notify_tlv {
    MAC local_ale;
    MAC remote_ale;
    MAC local_interface;
    MAC remote_interface;
    uint8_t is_backhaul_connected = 0;
    uint8_t quality = 0;  // 0 bad, 1 normal, 2 good
    uint32_t cost_to_parent = 0;
    uint32_t cost_to_root = 0;
    uint8_t medium = 255;        // 0 Ethernet, 1 2.4 GHz, 2 5 GHz low, 3 high, 4 5 GHz, 255
    uint32_t uplink_rssi = 255;  // dBm as a two's complement 32-bit value; 255 unknown
};

// 15: a radio setting outside the Multi-AP configuration.
struct hkt_wifi_radio_special_cfg_request_tlv {
    uint16_t cfg_type = 0;
    uint8_t radio = 0;  // 0 2.4 GHz, 1 5 GHz, 2 6 GHz
    uint8_t value = 0;
};

// 16: return to factory settings (the extender checks the serial number is its own).
struct hkt_factory_reset_request_tlv {
    std::string serial_number;
};

// 17: unassociated STA link metrics asked through the vendor agent; the body is that of
// the Unassociated STA Link Metrics Query TLV. The Multi-AP agent answers with a
// standard Unassociated STA Link Metrics Response.
struct hkt_unassoc_sta_metrics_query_tlv {
    uint8_t metrics_type = 0;  // 0 fronthaul (clients), 1 backhaul (backhaul STAs)
    unassociated_sta_link_metrics_query_tlv query;
};

// 178 / 179: the extender's enabled VAPs.
struct hkt_vaps_info_query_tlv {};
struct hkt_vaps_info_response_tlv {
    struct vap {
        std::string vap_name;  // at most HKT_MAX_IFNAME bytes
        BSSID bssid;
        uint8_t ssid_len = 0;
        uint8_t ssid[MAX_SSID_LEN] = {};
        uint16_t authentication_mode = 0;  // WSC authentication type flags
        uint16_t encryption_mode = 0;      // WSC encryption type flags
        uint8_t bss_type = 0;              // bit 0 fronthaul, bit 1 backhaul
    };
    uint8_t num_vaps = 0;
    std::vector<vap> vaps;
};

// 180 / 181: the extender asks the gateway's addresses.
struct hkt_ip_info_query_tlv {};
struct hkt_ip_info_response_tlv {
    uint8_t gateway_ipv4[4] = {};
    MAC controller_al_mac;
};

// 183 / 184: the extender asks the gateway's virtual serial number.
struct hkt_vsn_query_tlv {};
struct hkt_vsn_response_tlv {
    std::string vsn;  // at most HKT_MAX_VSN bytes
};

// 0xB9: the legacy backhaul VAP with 8-byte credentials on or off.
struct hkt_bh_vap_8byte_request_tlv {
    uint8_t enabled = 0;
};

// A TLV of a type without a record: its value as received.
struct hkt_raw_tlv {
    std::vector<uint8_t> value;
};

// Every HKT TLV that has a record, as X(TYPE, record).
#define OZR_FOR_EACH_HKT_TLV(X)                                                       \
    X(HKT_TLV_DISCOVERY_REQUEST, hkt_discovery_request_tlv)                           \
    X(HKT_TLV_DISCOVERY_RESPONSE, hkt_discovery_response_tlv)                         \
    X(HKT_TLV_CONFIG_REQUEST, hkt_config_request_tlv)                                 \
    X(HKT_TLV_CONFIG_RESPONSE, hkt_config_response_tlv)                               \
    X(HKT_TLV_IP_CHANGE_NOTIFICATION, hkt_ip_change_notification_tlv)                 \
    X(HKT_TLV_IP_CHANGE_NOTIFICATION_REQUEST, hkt_ip_change_notification_request_tlv) \
    X(HKT_TLV_HEARTBEAT, hkt_heartbeat_tlv)                                           \
    X(HKT_TLV_EX_NOTIFICATION, hkt_ex_notification_tlv)                               \
    X(HKT_TLV_PORT_INFO_REQUEST, hkt_port_info_request_tlv)                           \
    X(HKT_TLV_PORT_INFO_RESPONSE, hkt_port_info_response_tlv)                         \
    X(HKT_TLV_INTERFACES_STATISTIC_REQUEST, hkt_interfaces_statistic_request_tlv)     \
    X(HKT_TLV_INTERFACES_STATISTIC_RESPONSE, hkt_interfaces_statistic_response_tlv)   \
    X(HKT_TLV_BACKHAUL_INFORMATION_NOTIFY, hkt_backhaul_information_notify_tlv)       \
    X(HKT_TLV_WIFI_RADIO_SPECIAL_CFG_REQUEST, hkt_wifi_radio_special_cfg_request_tlv) \
    X(HKT_TLV_FACTORY_RESET_REQUEST, hkt_factory_reset_request_tlv)                   \
    X(HKT_TLV_UNASSOC_STA_METRICS_QUERY, hkt_unassoc_sta_metrics_query_tlv)           \
    X(HKT_TLV_VAPS_INFO_QUERY, hkt_vaps_info_query_tlv)                               \
    X(HKT_TLV_VAPS_INFO_RESPONSE, hkt_vaps_info_response_tlv)                         \
    X(HKT_TLV_IP_INFO_QUERY, hkt_ip_info_query_tlv)                                   \
    X(HKT_TLV_IP_INFO_RESPONSE, hkt_ip_info_response_tlv)                             \
    X(HKT_TLV_VSN_QUERY, hkt_vsn_query_tlv)                                           \
    X(HKT_TLV_VSN_RESPONSE, hkt_vsn_response_tlv)                                     \
    X(HKT_TLV_BH_VAP_8BYTE_REQUEST, hkt_bh_vap_8byte_request_tlv)

template <class T>
struct hkt_record_type;
#define OZR_HKT_RECORD_TYPE(TYPE, REC)         \
    template <>                                \
    struct hkt_record_type<REC> {              \
        static constexpr uint8_t value = TYPE; \
    };
OZR_FOR_EACH_HKT_TLV(OZR_HKT_RECORD_TYPE)
#undef OZR_HKT_RECORD_TYPE

// One HKT TLV: its type and its record (hkt_raw_tlv for a type without one).
struct hktMessage {
    uint8_t tlv_type = 0;
    void* tlv = nullptr;
};

// A message naming RECORD, which stays the caller's (for sending).
template <class T>
hktMessage hkt_message_of(T& record) {
    return hktMessage{hkt_record_type<T>::value, &record};
}

// The record of MSG (an hktMessage*, as handlers receive it) when it is of type T,
// otherwise null.
template <class T>
T* hkt_tlv_cast(void* msg) {
    auto* m = static_cast<hktMessage*>(msg);
    return m && m->tlv && m->tlv_type == hkt_record_type<T>::value ? static_cast<T*>(m->tlv)
                                                                   : nullptr;
}

// The OUI that marks a Vendor Specific TLV as HKT (3 bytes).
const uint8_t* hkt_get_vendor_oui();

// Appends the HKT TLV of MSG (type, length, value) to OUT. False, OUT unchanged, when the
// record does not fit its wire fields (a text or list over its bound, a value over
// HKT_MAX_VALUE) or MSG has no record.
bool forge_hkt_message_from_structure(const hktMessage* msg, std::vector<uint8_t>& out);

// Parses the HKT TLV that fills PAYLOAD (the Vendor Specific TLV's bytes after the OUI)
// exactly. Null when it is truncated, has bytes left over, or a value does not decode;
// a type without a record gives an hkt_raw_tlv. Release with free_hkt_message_structure.
hktMessage* parse_hkt_message_from_packet(const uint8_t* payload, size_t len);

// Releases a parsed message and its record. Null is ignored.
void free_hkt_message_structure(hktMessage* msg);

// The Vendor Specific TLV (0x0B, HKT OUI) carrying MSG. False when MSG does not forge.
bool forge_hkt_vendor_tlv(const hktMessage* msg, vendor_specific_tlv& out);

// The HKT TLV type's name ("HKT_TLV_HEARTBEAT"), or "HKT_TLV_UNKNOWN".
const char* hkt_tlv_type_to_string(uint8_t type);

// Address texts: "192.168.1.2" and the compressed IPv6 form ("fe80::1").
std::string hkt_ipv4_to_string(const uint8_t ipv4[4]);
std::string hkt_ipv6_to_string(const HktIpv6& ipv6);
// Parses dotted IPv4 / IPv6 text; false when TEXT is not one.
bool hkt_ipv4_from_string(const std::string& text, uint8_t out[4]);
bool hkt_ipv6_from_string(const std::string& text, HktIpv6& out);
