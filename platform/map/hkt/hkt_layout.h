// The wire layout of every HKT TLV value, written once as `visit(Io&, record&)` and run by
// the codec's Reader (decode) or Writer (encode), as for the 1905 TLVs (map/codec/tlv_io.h).
#pragma once

#include "map/codec/tlv_io.h"
#include "map/codec/tlv_layout.h"
#include "map/hkt/hkt_message.h"

namespace hkt_codec {

// 64-bit number as two 32-bit halves, high first.
template <class Io>
bool u64(Io& io, uint64_t& v) {
    uint32_t hi = static_cast<uint32_t>(v >> 32), lo = static_cast<uint32_t>(v);
    if (!io.u32(hi) || !io.u32(lo))
        return false;
    v = (uint64_t(hi) << 32) | lo;
    return true;
}

// A text of at most MAX bytes (refused beyond, both ways).
template <class Io>
bool text(Io& io, std::string& s, size_t max) {
    if (!Io::reading && s.size() > max)
        return false;
    return io.str8(s) && s.size() <= max;
}

// A list of at most MAX entries (refused beyond, both ways).
template <class Io, class C, class V, class F>
bool list(Io& io, C& count, V& vec, size_t max, size_t min_size, F&& fn) {
    if (!Io::reading && vec.size() > max)
        return false;
    return io.counted(count, vec, min_size, fn) && vec.size() <= max;
}

template <class Io>
bool addresses(Io& io, HktAddresses& a) {
    return io.fixed(a.ipv4, 4) && io.fixed(a.ipv6_local.addr, 16) &&
           list(io, a.num_ipv6_global, a.ipv6_global, HKT_MAX_IPV6_GLOBAL, 16,
                [&](HktIpv6& x) { return io.fixed(x.addr, 16); });
}

template <class Io>
bool visit(Io& io, hkt_discovery_request_tlv& t) {
    return io.mac(t.controller_al_mac) && io.u32(t.hkt_version);
}

template <class Io>
bool visit(Io& io, hkt_discovery_response_tlv& t) {
    return io.u32(t.capabilities_version) && io.u32(t.hkt_version) && io.u32(t.config_number) &&
           text(io, t.model_number, HKT_MAX_TEXT) && text(io, t.serial_number, HKT_MAX_TEXT) &&
           io.mac(t.system_mac) && io.mac(t.collocated_map_agent_mac) &&
           addresses(io, t.addresses) && text(io, t.hostname, HKT_MAX_TEXT) &&
           text(io, t.sw_version, HKT_MAX_TEXT) && text(io, t.vendor, HKT_MAX_TEXT) &&
           text(io, t.product_class, HKT_MAX_TEXT) && io.fixed(t.oui, 3) &&
           io.u32(t.minders_present) &&
           list(io, t.minders_nr, t.minder_capabilites, HKT_MAX_MINDERS, 2,
                [&](uint16_t& c) { return io.u16(c); }) &&
           list(io, t.interfaces_nr, t.interfaces, HKT_MAX_INTERFACES, 13,
                [&](hkt_discovery_response_tlv::interface& i) {
                    return text(io, i.ifname, HKT_MAX_IFNAME) && io.mac(i.mac) &&
                           io.u32(i.media_type) && io.u8(i.pwr_state) &&
                           io.u8(i.physical_port_number);
                });
}

template <class Io>
bool visit(Io& io, hkt_config_request_tlv& t) {
    return io.rest_bytes(t.data);
}

template <class Io>
bool visit(Io& io, hkt_config_response_tlv& t) {
    uint32_t code = static_cast<uint32_t>(t.return_code);
    if (!io.u32(code))
        return false;
    t.return_code = static_cast<int32_t>(code);
    if (!Io::reading && t.data.size() != t.data_len)
        return false;
    return io.u16(t.data_len) && io.bytes(t.data, t.data_len);
}

template <class Io>
bool visit(Io& io, hkt_ip_change_notification_tlv& t) {
    return addresses(io, t.addresses);
}

template <class Io>
bool visit(Io& io, hkt_ip_change_notification_request_tlv& t) {
    return io.mac(t.hkt_mac) && text(io, t.serial_number, HKT_MAX_TEXT) &&
           addresses(io, t.addresses);
}

template <class Io>
bool visit(Io& io, hkt_heartbeat_tlv& t) {
    return io.u32(t.uptime);
}

template <class Io>
bool visit(Io& io, hkt_ex_notification_tlv& t) {
    return io.u16(t.event) && io.rest_bytes(t.data);
}

template <class Io>
bool visit(Io& io, hkt_port_info_request_tlv& t) {
    return io.mac(t.port_mac);
}

template <class Io>
bool visit(Io& io, hkt_port_info_response_tlv& t) {
    return io.mac(t.port_mac) && io.u8(t.power_state) && io.u32(t.speed) && io.u16(t.port_number) &&
           io.u8(t.result_code);
}

template <class Io>
bool statistic(Io& io, HktStatistic& s) {
    return u64(io, s.total_rx_bytes) && u64(io, s.total_tx_bytes) && u64(io, s.total_rx_packets) &&
           u64(io, s.total_tx_packets) && u64(io, s.unicast_rx_packets) &&
           u64(io, s.unicast_tx_packets) && u64(io, s.multicast_rx_packets) &&
           u64(io, s.multicast_tx_packets) && u64(io, s.broadcast_rx_packets) &&
           u64(io, s.broadcast_tx_packets) && u64(io, s.rx_errors) && u64(io, s.tx_errors) &&
           u64(io, s.rx_dropped_packets) && u64(io, s.tx_dropped_packets);
}

template <class Io>
bool visit(Io& io, hkt_interfaces_statistic_request_tlv& t) {
    return list(io, t.num_interfaces, t.interfaces, HKT_MAX_INTERFACES, 6,
                [&](MAC& m) { return io.mac(m); });
}

template <class Io>
bool visit(Io& io, hkt_interfaces_statistic_response_tlv& t) {
    return list(io, t.num_interfaces, t.interfaces, HKT_MAX_INTERFACES, 6 + 14 * 8,
                [&](hkt_interfaces_statistic_response_tlv::interface& i) {
                    return io.mac(i.mac) && statistic(io, i.stats);
                });
}

template <class Io>
bool visit(Io& io, hkt_backhaul_information_notify_tlv& t) {
    return io.mac(t.local_ale) && io.mac(t.remote_ale) && io.mac(t.local_interface) &&
           io.mac(t.remote_interface) && io.u8(t.is_backhaul_connected) && io.u8(t.quality) &&
           io.u32(t.cost_to_parent) && io.u32(t.cost_to_root) && io.u8(t.medium) &&
           io.u32(t.uplink_rssi);
}

template <class Io>
bool visit(Io& io, hkt_wifi_radio_special_cfg_request_tlv& t) {
    return io.u16(t.cfg_type) && io.u8(t.radio) && io.u8(t.value);
}

template <class Io>
bool visit(Io& io, hkt_factory_reset_request_tlv& t) {
    return text(io, t.serial_number, HKT_MAX_TEXT);
}

template <class Io>
bool visit(Io& io, hkt_unassoc_sta_metrics_query_tlv& t) {
    return io.u8(t.metrics_type) && map_codec::visit(io, t.query);
}

template <class Io>
bool visit(Io&, hkt_vaps_info_query_tlv&) {
    return true;
}

template <class Io>
bool visit(Io& io, hkt_vaps_info_response_tlv& t) {
    return list(io, t.num_vaps, t.vaps, HKT_MAX_VAPS, 14, [&](hkt_vaps_info_response_tlv::vap& v) {
        return text(io, v.vap_name, HKT_MAX_IFNAME) && io.mac(v.bssid) &&
               io.lbytes8(v.ssid_len, v.ssid, MAX_SSID_LEN) && io.u16(v.authentication_mode) &&
               io.u16(v.encryption_mode) && io.u8(v.bss_type);
    });
}

template <class Io>
bool visit(Io&, hkt_ip_info_query_tlv&) {
    return true;
}

template <class Io>
bool visit(Io& io, hkt_ip_info_response_tlv& t) {
    return io.fixed(t.gateway_ipv4, 4) && io.mac(t.controller_al_mac);
}

template <class Io>
bool visit(Io&, hkt_vsn_query_tlv&) {
    return true;
}

template <class Io>
bool visit(Io& io, hkt_vsn_response_tlv& t) {
    return text(io, t.vsn, HKT_MAX_VSN);
}

template <class Io>
bool visit(Io& io, hkt_bh_vap_8byte_request_tlv& t) {
    return io.u8(t.enabled);
}

template <class Io>
bool visit(Io& io, hkt_raw_tlv& t) {
    return io.rest_bytes(t.value);
}

}  // namespace hkt_codec
