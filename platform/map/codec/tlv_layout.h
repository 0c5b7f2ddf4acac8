// Wire layout of every TLV value (what follows the 1-byte type and the 2-byte
// length), written once for both directions; see tlv_io.h for the operations.
// A Writer gets the record through a const_cast and only reads from it.
#pragma once

#include "map/codec/tlv_io.h"
#include "map/codec/tlvs.h"

namespace map_codec {

// ---- IEEE 1905.1 ------------------------------------------------------------

template <class Io>
bool visit(Io& io, al_mac_address_tlv& t) {
    return io.mac(t.al_mac_address);
}

template <class Io>
bool visit(Io& io, mac_address_tlv& t) {
    return io.mac(t.mac_address);
}

template <class Io>
bool visit(Io& io, device_information_tlv& t) {
    return io.mac(t.al_mac_address) &&
           io.counted(t.num_local_interfaces, t.local_interfaces, 9, [&](auto& i) {
               if (!(io.mac(i.mac_address) && io.u16(i.media_type) &&
                     io.u8(i.media_specific_info_length)))
                   return false;
               switch (i.media_specific_info_length) {
                   case IEEE80211_MEDIA_INFO_LEN: {
                       auto& w = i.ieee80211;
                       return io.mac(w.network_membership) && io.flags(bits(w.role, 4, 4)) &&
                              io.u8(w.ap_channel_band) && io.u8(w.ap_channel_center_freq_index_1) &&
                              io.u8(w.ap_channel_center_freq_index_2);
                   }
                   case IEEE1901_MEDIA_INFO_LEN:
                       return io.fixed(i.ieee1901.network_identifier, 7);
                   default:
                       return io.bytes(i.media_specific_raw, i.media_specific_info_length);
               }
           });
}

template <class Io>
bool visit(Io& io, device_bridging_capability_tlv& t) {
    return io.counted(t.num_bridging_tuples, t.bridging_tuples, 1, [&](auto& b) {
        return io.counted(b.num_macs, b.macs, 6, [&](auto& m) { return io.mac(m); });
    });
}

template <class Io>
bool visit(Io& io, non_1905_neighbor_device_list_tlv& t) {
    return io.mac(t.local_mac_address) &&
           io.rest(t.neighbors, 6, [&](auto& m) { return io.mac(m); });
}

template <class Io>
bool visit(Io& io, neighbor_device_list_tlv& t) {
    return io.mac(t.local_mac_address) && io.rest(t.neighbors, 7, [&](auto& n) {
        return io.mac(n.al_mac_address) && io.flags(bits(n.bridge_flag, 7, 1));
    });
}

template <class Io>
bool visit(Io& io, link_metric_query_tlv& t) {
    if (!io.u8(t.neighbor_type))
        return false;
    if (t.neighbor_type == LINK_METRIC_QUERY_SPECIFIC_NEIGHBOR && !io.mac(t.specific_neighbor))
        return false;
    return io.u8(t.link_metrics_type);
}

template <class Io>
bool visit(Io& io, transmitter_link_metric_tlv& t) {
    return io.mac(t.local_al_mac_address) && io.mac(t.neighbor_al_mac_address) &&
           io.rest(t.links, 29, [&](auto& l) {
               return io.mac(l.local_interface_mac) && io.mac(l.neighbor_interface_mac) &&
                      io.u16(l.interface_type) && io.u8(l.ieee8021_bridge_flag) &&
                      io.u32(l.packet_errors) && io.u32(l.transmitted_packets) &&
                      io.u16(l.mac_throughput_capacity) && io.u16(l.link_availability) &&
                      io.u16(l.phy_rate);
           });
}

template <class Io>
bool visit(Io& io, receiver_link_metric_tlv& t) {
    return io.mac(t.local_al_mac_address) && io.mac(t.neighbor_al_mac_address) &&
           io.rest(t.links, 23, [&](auto& l) {
               return io.mac(l.local_interface_mac) && io.mac(l.neighbor_interface_mac) &&
                      io.u16(l.interface_type) && io.u32(l.packet_errors) &&
                      io.u32(l.packets_received) && io.u8(l.rssi);
           });
}

template <class Io>
bool visit(Io& io, vendor_specific_tlv& t) {
    return io.fixed(t.vendor_oui, 3) && io.rest_bytes(t.payload);
}

template <class Io>
bool visit(Io& io, link_metric_result_code_tlv& t) {
    return io.u8(t.result_code);
}
template <class Io>
bool visit(Io& io, searched_role_tlv& t) {
    return io.u8(t.role);
}
template <class Io>
bool visit(Io& io, autoconfig_freq_band_tlv& t) {
    return io.u8(t.freq_band);
}
template <class Io>
bool visit(Io& io, supported_role_tlv& t) {
    return io.u8(t.role);
}
template <class Io>
bool visit(Io& io, supported_freq_band_tlv& t) {
    return io.u8(t.freq_band);
}
template <class Io>
bool visit(Io& io, wsc_tlv& t) {
    return io.rest_bytes(t.wsc_frame);
}

// ---- Wi-Fi EasyMesh ---------------------------------------------------------

template <class Io>
bool visit(Io& io, supported_service_tlv& t) {
    return io.counted(t.num_services, t.services, 1, [&](auto& s) { return io.u8(s); });
}
template <class Io>
bool visit(Io& io, searched_service_tlv& t) {
    return io.counted(t.num_services, t.services, 1, [&](auto& s) { return io.u8(s); });
}
template <class Io>
bool visit(Io& io, ap_radio_identifier_tlv& t) {
    return io.mac(t.radio_id);
}

template <class Io>
bool visit(Io& io, ap_operational_bss_tlv& t) {
    return io.counted(t.num_radios, t.radios, 7, [&](auto& r) {
        return io.mac(r.radio_id) && io.counted(r.num_bss, r.bsss, 7, [&](auto& b) {
            return io.mac(b.bssid) && io.lbytes8(b.ssid_len, b.ssid, MAX_SSID_LEN);
        });
    });
}

template <class Io>
bool visit(Io& io, associated_clients_tlv& t) {
    return io.counted(t.num_bss, t.bsss, 8, [&](auto& b) {
        return io.mac(b.bssid) && io.counted(b.num_clients, b.clients, 8, [&](auto& c) {
            return io.mac(c.mac) && io.u16(c.time_since_association);
        });
    });
}

template <class Io>
bool visit_op_class_channels(Io& io, op_class_channels& o) {
    return io.u8(o.op_class) &&
           io.counted(o.num_channels, o.channels, 1, [&](auto& c) { return io.u8(c); });
}

template <class Io>
bool visit(Io& io, ap_radio_basic_capabilities_tlv& t) {
    return io.mac(t.radio_id) && io.u8(t.max_bss) &&
           io.counted(t.num_op_classes, t.op_classes, 3, [&](auto& o) {
               return io.u8(o.op_class) && io.u8(o.max_tx_power_eirp) &&
                      io.counted(o.num_non_operable_channels, o.non_operable_channels, 1,
                                 [&](auto& c) { return io.u8(c); });
           });
}

template <class Io>
bool visit(Io& io, ap_ht_capabilities_tlv& t) {
    return io.mac(t.radio_id) &&
           io.flags(bits(t.max_tx_spatial_streams, 6, 2), bits(t.max_rx_spatial_streams, 4, 2),
                    bits(t.short_gi_20mhz, 3, 1), bits(t.short_gi_40mhz, 2, 1),
                    bits(t.ht_40mhz, 1, 1));
}

template <class Io>
bool visit(Io& io, ap_vht_capabilities_tlv& t) {
    return io.mac(t.radio_id) && io.u16(t.supported_vht_tx_mcs) && io.u16(t.supported_vht_rx_mcs) &&
           io.flags(bits(t.max_tx_spatial_streams, 5, 3), bits(t.max_rx_spatial_streams, 2, 3),
                    bits(t.short_gi_80mhz, 1, 1), bits(t.short_gi_160mhz, 0, 1)) &&
           io.flags(bits(t.vht_80plus80mhz, 7, 1), bits(t.vht_160mhz, 6, 1),
                    bits(t.su_beamformer, 5, 1), bits(t.mu_beamformer, 4, 1));
}

template <class Io>
bool visit(Io& io, ap_he_capabilities_tlv& t) {
    return io.mac(t.radio_id) && io.lbytes8(t.supported_mcs_len, t.supported_mcs, 12) &&
           io.flags(bits(t.max_tx_spatial_streams, 5, 3), bits(t.max_rx_spatial_streams, 2, 3),
                    bits(t.he_80plus80mhz, 1, 1), bits(t.he_160mhz, 0, 1)) &&
           io.flags(bits(t.su_beamformer, 7, 1), bits(t.mu_beamformer, 6, 1),
                    bits(t.ul_mu_mimo, 5, 1), bits(t.ul_mu_mimo_ofdma, 4, 1),
                    bits(t.dl_mu_mimo_ofdma, 3, 1), bits(t.ul_ofdma, 2, 1), bits(t.dl_ofdma, 1, 1));
}

template <class Io>
bool visit(Io& io, steering_policy_tlv& t) {
    auto mac = [&](auto& m) { return io.mac(m); };
    return io.counted(t.num_local_steering_disallowed, t.local_steering_disallowed, 6, mac) &&
           io.counted(t.num_btm_steering_disallowed, t.btm_steering_disallowed, 6, mac) &&
           io.counted(t.num_radios, t.radios, 9, [&](auto& r) {
               return io.mac(r.radio_id) && io.u8(r.steering_policy) &&
                      io.u8(r.channel_utilization_threshold) && io.u8(r.rcpi_steering_threshold);
           });
}

template <class Io>
bool visit(Io& io, metric_reporting_policy_tlv& t) {
    return io.u8(t.ap_metrics_reporting_interval) &&
           io.counted(t.num_radios, t.radios, 10, [&](auto& r) {
               return io.mac(r.radio_id) && io.u8(r.sta_metrics_rcpi_threshold) &&
                      io.u8(r.sta_metrics_rcpi_hysteresis_margin) &&
                      io.u8(r.ap_metrics_channel_utilization_threshold) &&
                      io.flags(bits(r.include_sta_traffic_stats, 7, 1),
                               bits(r.include_sta_link_metrics, 6, 1),
                               bits(r.include_sta_wifi6_status, 5, 1));
           });
}

template <class Io>
bool visit(Io& io, channel_preference_tlv& t) {
    return io.mac(t.radio_id) && io.counted(t.num_op_classes, t.op_classes, 3, [&](auto& o) {
        return io.u8(o.op_class) &&
               io.counted(o.num_channels, o.channels, 1, [&](auto& c) { return io.u8(c); }) &&
               io.flags(bits(o.preference, 4, 4), bits(o.reason_code, 0, 4));
    });
}

template <class Io>
bool visit(Io& io, radio_operation_restriction_tlv& t) {
    return io.mac(t.radio_id) && io.counted(t.num_op_classes, t.op_classes, 2, [&](auto& o) {
        return io.u8(o.op_class) && io.counted(o.num_channels, o.channels, 2, [&](auto& c) {
            return io.u8(c.channel) && io.u8(c.min_freq_separation);
        });
    });
}

template <class Io>
bool visit(Io& io, transmit_power_limit_tlv& t) {
    return io.mac(t.radio_id) && io.u8(t.tx_power_limit_eirp);
}

template <class Io>
bool visit(Io& io, channel_selection_response_tlv& t) {
    return io.mac(t.radio_id) && io.u8(t.response_code);
}

template <class Io>
bool visit(Io& io, operating_channel_report_tlv& t) {
    return io.mac(t.radio_id) && io.counted(t.num_op_classes, t.op_classes, 2, [&](auto& o) {
        return io.u8(o.op_class) && io.u8(o.channel);
    }) && io.u8(t.current_tx_power_eirp);
}

template <class Io>
bool visit(Io& io, client_info_tlv& t) {
    return io.mac(t.bssid) && io.mac(t.client_mac);
}

template <class Io>
bool visit(Io& io, client_capability_report_tlv& t) {
    return io.u8(t.result_code) && io.rest_bytes(t.frame_body);
}

template <class Io>
bool visit(Io& io, client_association_event_tlv& t) {
    return io.mac(t.client_mac) && io.mac(t.bssid) && io.flags(bits(t.association_event, 7, 1));
}

template <class Io>
bool visit(Io& io, ap_metric_query_tlv& t) {
    return io.counted(t.num_bssids, t.bssids, 6, [&](auto& b) { return io.mac(b); });
}

template <class Io>
bool visit(Io& io, ap_metrics_tlv& t) {
    return io.mac(t.bssid) && io.u8(t.channel_utilization) && io.u16(t.num_associated_stas) &&
           io.flags(bits(t.esp_be_present, 7, 1), bits(t.esp_bk_present, 6, 1),
                    bits(t.esp_vo_present, 5, 1), bits(t.esp_vi_present, 4, 1)) &&
           (!t.esp_be_present || io.fixed(t.esp_be, 3)) &&
           (!t.esp_bk_present || io.fixed(t.esp_bk, 3)) &&
           (!t.esp_vo_present || io.fixed(t.esp_vo, 3)) &&
           (!t.esp_vi_present || io.fixed(t.esp_vi, 3));
}

template <class Io>
bool visit(Io& io, sta_mac_address_tlv& t) {
    return io.mac(t.sta_mac);
}

template <class Io>
bool visit(Io& io, associated_sta_link_metrics_tlv& t) {
    return io.mac(t.sta_mac) && io.counted(t.num_bssids, t.bssids, 19, [&](auto& b) {
        return io.mac(b.bssid) && io.u32(b.time_delta_ms) && io.u32(b.downlink_rate) &&
               io.u32(b.uplink_rate) && io.u8(b.uplink_rcpi);
    });
}

template <class Io>
bool visit(Io& io, unassociated_sta_link_metrics_query_tlv& t) {
    return io.u8(t.op_class) && io.counted(t.num_channels, t.channels, 2, [&](auto& c) {
        return io.u8(c.channel) &&
               io.counted(c.num_stas, c.stas, 6, [&](auto& m) { return io.mac(m); });
    });
}

template <class Io>
bool visit(Io& io, unassociated_sta_link_metrics_response_tlv& t) {
    return io.u8(t.op_class) && io.counted(t.num_stas, t.stas, 12, [&](auto& s) {
        return io.mac(s.mac) && io.u8(s.channel) && io.u32(s.time_delta_ms) && io.u8(s.uplink_rcpi);
    });
}

template <class Io>
bool visit(Io& io, beacon_metrics_query_tlv& t) {
    return io.mac(t.sta_mac) && io.u8(t.op_class) && io.u8(t.channel) && io.mac(t.bssid) &&
           io.u8(t.reporting_detail) && io.lbytes8(t.ssid_len, t.ssid, MAX_SSID_LEN) &&
           io.counted(t.num_ap_channel_reports, t.ap_channel_reports, 2,
                      [&](auto& r) {
                          return io.scope8([&] {
                              return io.u8(r.op_class) &&
                                     io.rest(r.channels, 1, [&](auto& c) { return io.u8(c); });
                          });
                      }) &&
           io.counted(t.num_element_ids, t.element_ids, 1, [&](auto& e) { return io.u8(e); });
}

template <class Io>
bool visit(Io& io, beacon_metrics_response_tlv& t) {
    return io.mac(t.sta_mac) && io.u8(t.reserved) &&
           io.counted(t.num_elements, t.elements, 2, [&](auto& e) {
               return io.u8(e.element_id) && io.scope8([&] { return io.rest_bytes(e.body); });
           });
}

template <class Io>
bool visit(Io& io, steering_request_tlv& t) {
    return io.mac(t.bssid) &&
           io.flags(bits(t.request_mode, 7, 1), bits(t.btm_disassociation_imminent, 6, 1),
                    bits(t.btm_abridged, 5, 1)) &&
           io.u16(t.steering_opportunity_window) && io.u16(t.btm_disassociation_timer) &&
           io.counted(t.num_stas, t.stas, 6, [&](auto& m) { return io.mac(m); }) &&
           io.counted(t.num_targets, t.targets, 8, [&](auto& g) {
               return io.mac(g.bssid) && io.u8(g.op_class) && io.u8(g.channel);
           });
}

template <class Io>
bool visit(Io& io, steering_btm_report_tlv& t) {
    return io.mac(t.bssid) && io.mac(t.sta_mac) && io.u8(t.btm_status_code) &&
           io.tail(t.has_target_bssid, [&] { return io.mac(t.target_bssid); });
}

template <class Io>
bool visit(Io& io, client_association_control_request_tlv& t) {
    return io.mac(t.bssid) && io.u8(t.association_control) && io.u16(t.validity_period) &&
           io.counted(t.num_stas, t.stas, 6, [&](auto& m) { return io.mac(m); });
}

template <class Io>
bool visit(Io& io, backhaul_steering_request_tlv& t) {
    return io.mac(t.backhaul_sta_mac) && io.mac(t.target_bssid) && io.u8(t.op_class) &&
           io.u8(t.channel);
}

template <class Io>
bool visit(Io& io, backhaul_steering_response_tlv& t) {
    return io.mac(t.backhaul_sta_mac) && io.mac(t.target_bssid) && io.u8(t.result_code);
}

template <class Io>
bool visit(Io& io, ap_capability_tlv& t) {
    return io.flags(bits(t.unassoc_sta_metrics_operating_channel, 7, 1),
                    bits(t.unassoc_sta_metrics_non_operating_channel, 6, 1),
                    bits(t.agent_initiated_rcpi_steering, 5, 1));
}

template <class Io>
bool visit(Io& io, associated_sta_traffic_stats_tlv& t) {
    return io.mac(t.sta_mac) && io.u32(t.bytes_sent) && io.u32(t.bytes_received) &&
           io.u32(t.packets_sent) && io.u32(t.packets_received) && io.u32(t.tx_packet_errors) &&
           io.u32(t.rx_packet_errors) && io.u32(t.retransmission_count);
}

template <class Io>
bool visit(Io& io, error_code_tlv& t) {
    return io.u8(t.reason_code) && io.mac(t.sta_mac);
}

template <class Io>
bool visit(Io& io, channel_scan_reporting_policy_tlv& t) {
    return io.flags(bits(t.report_independent_scans, 7, 1));
}

template <class Io>
bool visit(Io& io, channel_scan_capabilities_tlv& t) {
    return io.counted(t.num_radios, t.radios, 12, [&](auto& r) {
        return io.mac(r.radio_id) &&
               io.flags(bits(r.on_boot_only, 7, 1), bits(r.scan_impact, 5, 2)) &&
               io.u32(r.min_scan_interval) &&
               io.counted(r.num_op_classes, r.op_classes, 2,
                          [&](auto& o) { return visit_op_class_channels(io, o); });
    });
}

template <class Io>
bool visit(Io& io, channel_scan_request_tlv& t) {
    return io.flags(bits(t.perform_fresh_scan, 7, 1)) &&
           io.counted(t.num_radios, t.radios, 7, [&](auto& r) {
               return io.mac(r.radio_id) &&
                      io.counted(r.num_op_classes, r.op_classes, 2,
                                 [&](auto& o) { return visit_op_class_channels(io, o); });
           });
}

template <class Io>
bool visit(Io& io, channel_scan_result_tlv& t) {
    if (!(io.mac(t.radio_id) && io.u8(t.op_class) && io.u8(t.channel) && io.u8(t.scan_status)))
        return false;
    if (t.scan_status != CHANNEL_SCAN_STATUS_SUCCESS)
        return true;
    return io.str8(t.timestamp) && io.u8(t.utilization) && io.u8(t.noise) &&
           io.counted(t.num_neighbors, t.neighbors, 10,
                      [&](auto& n) {
                          return io.mac(n.bssid) && io.lbytes8(n.ssid_len, n.ssid, MAX_SSID_LEN) &&
                                 io.u8(n.signal_strength) && io.str8(n.channel_bandwidth) &&
                                 io.flags(bits(n.bss_load_element_present, 7, 1),
                                          bits(n.bss_color, 0, 6)) &&
                                 (!n.bss_load_element_present ||
                                  (io.u8(n.channel_utilization) && io.u16(n.station_count)));
                      }) &&
           io.u32(t.aggregate_scan_duration) && io.flags(bits(t.active_scan, 7, 1));
}

template <class Io>
bool visit(Io& io, timestamp_tlv& t) {
    return io.str8(t.timestamp);
}

template <class Io>
bool visit(Io& io, cac_request_tlv& t) {
    return io.counted(t.num_radios, t.radios, 9, [&](auto& r) {
        return io.mac(r.radio_id) && io.u8(r.op_class) && io.u8(r.channel) &&
               io.flags(bits(r.cac_method, 5, 3), bits(r.cac_completion_action, 3, 2));
    });
}

template <class Io>
bool visit(Io& io, cac_termination_tlv& t) {
    return io.counted(t.num_radios, t.radios, 8, [&](auto& r) {
        return io.mac(r.radio_id) && io.u8(r.op_class) && io.u8(r.channel);
    });
}

template <class Io>
bool visit(Io& io, cac_completion_report_tlv& t) {
    return io.counted(t.num_radios, t.radios, 10, [&](auto& r) {
        return io.mac(r.radio_id) && io.u8(r.op_class) && io.u8(r.channel) &&
               io.u8(r.cac_completion_status) &&
               io.counted(r.num_radar_pairs, r.radar_pairs, 2,
                          [&](auto& p) { return io.u8(p.op_class) && io.u8(p.channel); });
    });
}

template <class Io>
bool visit(Io& io, cac_status_report_tlv& t) {
    return io.counted(t.num_available, t.available, 4, [&](auto& a) {
        return io.u8(a.op_class) && io.u8(a.channel) && io.u16(a.minutes_since_cac);
    }) && io.counted(t.num_non_occupancy, t.non_occupancy, 4, [&](auto& a) {
        return io.u8(a.op_class) && io.u8(a.channel) && io.u16(a.seconds_remaining);
    }) && io.counted(t.num_ongoing_cac, t.ongoing_cac, 5, [&](auto& a) {
        return io.u8(a.op_class) && io.u8(a.channel) && io.u24(a.seconds_remaining);
    });
}

template <class Io>
bool visit(Io& io, cac_capabilities_tlv& t) {
    return io.fixed(t.country_code, 2) && io.counted(t.num_radios, t.radios, 7, [&](auto& r) {
        return io.mac(r.radio_id) && io.counted(r.num_cac_types, r.cac_types, 5, [&](auto& c) {
            return io.u8(c.cac_method) && io.u24(c.duration) &&
                   io.counted(c.num_op_classes, c.op_classes, 2,
                              [&](auto& o) { return visit_op_class_channels(io, o); });
        });
    });
}

template <class Io>
bool visit(Io& io, multiap_profile_tlv& t) {
    return io.u8(t.profile);
}

template <class Io>
bool visit(Io& io, profile2_ap_capability_tlv& t) {
    return io.u8(t.max_prioritization_rules) && io.u8(t.reserved) &&
           io.flags(bits(t.byte_counter_units, 6, 2), bits(t.basic_service_prioritization, 5, 1),
                    bits(t.enhanced_service_prioritization, 4, 1)) &&
           io.u8(t.max_vids);
}

template <class Io>
bool visit(Io& io, default_8021q_settings_tlv& t) {
    return io.u16(t.primary_vlan_id) && io.flags(bits(t.default_pcp, 5, 3));
}

template <class Io>
bool visit(Io& io, traffic_separation_policy_tlv& t) {
    return io.counted(t.num_ssids, t.ssids, 3, [&](auto& s) {
        return io.lbytes8(s.ssid_len, s.ssid, MAX_SSID_LEN) && io.u16(s.vlan_id);
    });
}

template <class Io>
bool visit(Io& io, source_info_tlv& t) {
    return io.mac(t.mac);
}
template <class Io>
bool visit(Io& io, tunneled_message_type_tlv& t) {
    return io.u8(t.message_type);
}
template <class Io>
bool visit(Io& io, tunneled_tlv& t) {
    return io.rest_bytes(t.frame_body);
}

template <class Io>
bool visit(Io& io, unsuccessful_association_policy_tlv& t) {
    return io.flags(bits(t.report_unsuccessful_associations, 7, 1)) && io.u32(t.max_reporting_rate);
}

template <class Io>
bool visit(Io& io, metric_collection_interval_tlv& t) {
    return io.u32(t.collection_interval_ms);
}

template <class Io>
bool visit(Io& io, radio_metrics_tlv& t) {
    return io.mac(t.radio_id) && io.u8(t.noise) && io.u8(t.transmit) && io.u8(t.receive_self) &&
           io.u8(t.receive_other);
}

template <class Io>
bool visit(Io& io, ap_extended_metrics_tlv& t) {
    return io.mac(t.bssid) && io.u32(t.unicast_bytes_sent) && io.u32(t.unicast_bytes_received) &&
           io.u32(t.multicast_bytes_sent) && io.u32(t.multicast_bytes_received) &&
           io.u32(t.broadcast_bytes_sent) && io.u32(t.broadcast_bytes_received);
}

template <class Io>
bool visit(Io& io, associated_sta_extended_link_metrics_tlv& t) {
    return io.mac(t.sta_mac) && io.counted(t.num_bssids, t.bssids, 22, [&](auto& b) {
        return io.mac(b.bssid) && io.u32(b.last_data_downlink_rate) &&
               io.u32(b.last_data_uplink_rate) && io.u32(b.utilization_receive) &&
               io.u32(b.utilization_transmit);
    });
}

template <class Io>
bool visit(Io& io, status_code_tlv& t) {
    return io.u16(t.status_code);
}
template <class Io>
bool visit(Io& io, reason_code_tlv& t) {
    return io.u16(t.reason_code);
}

template <class Io>
bool visit(Io& io, unknown_tlv& t) {
    return io.rest_bytes(t.value);
}

}  // namespace map_codec
