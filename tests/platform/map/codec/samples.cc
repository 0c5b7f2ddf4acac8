#include "samples.h"

#include <cstring>
#include <functional>

#include "map/codec/tlvs.h"
#include "map/codec/wsc.h"

MAC sample_mac(uint8_t a, uint8_t b) {
    return MAC(0x02, 0x00, 0x00, 0x00, a, b);
}

namespace {

const MAC kAgent = sample_mac(0xA0, 0x01);
const MAC kRadio0 = sample_mac(0xB0, 0x00);
const MAC kRadio1 = sample_mac(0xB1, 0x00);
const MAC kSta = sample_mac(0x5A, 0x07);

template <size_t N>
void set_ssid(uint8_t& len, uint8_t (&buf)[N], const char* s) {
    len = static_cast<uint8_t>(std::strlen(s));
    std::memcpy(buf, s, len);
}

op_class_channels ocs(uint8_t op, std::vector<uint8_t> ch) {
    op_class_channels o;
    o.op_class = op;
    o.num_channels = static_cast<uint8_t>(ch.size());
    o.channels = std::move(ch);
    return o;
}

CmduBuilder builder(uint16_t type, uint16_t mid) {
    return CmduBuilder(type, mid);
}

// ---- controller -> agent ----

CmduPtr topology_query() {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_QUERY, 0x1001);
    b.add<multiap_profile_tlv>().profile = MAP_PROFILE_2;
    return b.build();
}

CmduPtr link_metric_query() {
    link_metric_query_tlv q;
    q.neighbor_type = LINK_METRIC_QUERY_SPECIFIC_NEIGHBOR;
    q.specific_neighbor = sample_mac(0xA0, 0x02);
    q.link_metrics_type = LINK_METRIC_TX_AND_RX;
    return builder(CMDU_TYPE_LINK_METRIC_QUERY, 0x1002).add(q).build();
}

CmduPtr link_metric_query_all() {
    link_metric_query_tlv q;
    q.neighbor_type = LINK_METRIC_QUERY_ALL_NEIGHBORS;
    q.link_metrics_type = LINK_METRIC_RX_ONLY;
    return builder(CMDU_TYPE_LINK_METRIC_QUERY, 0x1003).add(q).build();
}

CmduPtr ap_capability_query() {
    return builder(CMDU_TYPE_AP_CAPABILITY_QUERY, 0x1004).build();
}

CmduPtr ap_metrics_query() {
    CmduBuilder b(CMDU_TYPE_AP_METRICS_QUERY, 0x1005);
    auto& q = b.add<ap_metric_query_tlv>();
    q.bssids = {BSSID(sample_mac(0xB0, 0x01)), BSSID(sample_mac(0xB0, 0x02))};
    q.num_bssids = 2;
    b.add<ap_radio_identifier_tlv>().radio_id = kRadio0;
    return b.build();
}

CmduPtr assoc_sta_link_metrics_query() {
    sta_mac_address_tlv t;
    t.sta_mac = kSta;
    return builder(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_QUERY, 0x1006).add(t).build();
}

CmduPtr unassoc_sta_link_metrics_query() {
    unassociated_sta_link_metrics_query_tlv q;
    q.op_class = 115;
    q.channels.resize(2);
    q.channels[0].channel = 36;
    q.channels[0].stas = {sample_mac(0x5A, 0x01), sample_mac(0x5A, 0x02)};
    q.channels[0].num_stas = 2;
    q.channels[1].channel = 44;
    q.channels[1].stas = {sample_mac(0x5A, 0x03)};
    q.channels[1].num_stas = 1;
    q.num_channels = 2;
    return builder(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY, 0x1007).add(q).build();
}

CmduPtr beacon_metrics_query() {
    beacon_metrics_query_tlv q;
    q.sta_mac = kSta;
    q.op_class = 115;
    q.channel = 255;
    q.bssid = BSSID::broadcast;
    q.reporting_detail = 1;
    set_ssid(q.ssid_len, q.ssid, "HomeNet-5G");
    q.ap_channel_reports.resize(2);
    q.ap_channel_reports[0].op_class = 115;
    q.ap_channel_reports[0].channels = {36, 40, 44, 48};
    q.ap_channel_reports[1].op_class = 81;
    q.ap_channel_reports[1].channels = {1, 6, 11};
    q.num_ap_channel_reports = 2;
    q.element_ids = {0, 48, 221};
    q.num_element_ids = 3;
    return builder(CMDU_TYPE_BEACON_METRICS_QUERY, 0x1008).add(q).build();
}

CmduPtr client_capability_query() {
    client_info_tlv t;
    t.bssid = BSSID(sample_mac(0xB0, 0x01));
    t.client_mac = kSta;
    return builder(CMDU_TYPE_CLIENT_CAPABILITY_QUERY, 0x1009).add(t).build();
}

CmduPtr channel_preference_query() {
    return builder(CMDU_TYPE_CHANNEL_PREFERENCE_QUERY, 0x100A).build();
}

CmduPtr policy_config_request() {
    CmduBuilder b(CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST, 0x100B);
    auto& sp = b.add<steering_policy_tlv>();
    sp.local_steering_disallowed = {sample_mac(0x5A, 0x11)};
    sp.num_local_steering_disallowed = 1;
    sp.btm_steering_disallowed = {sample_mac(0x5A, 0x12), sample_mac(0x5A, 0x13)};
    sp.num_btm_steering_disallowed = 2;
    sp.radios.resize(2);
    sp.radios[0] = {kRadio0, STEERING_POLICY_AGENT_INITIATED_RCPI_ALLOWED, 200, 60};
    sp.radios[1] = {kRadio1, STEERING_POLICY_AGENT_INITIATED_DISALLOWED, 180, 50};
    sp.num_radios = 2;
    auto& mp = b.add<metric_reporting_policy_tlv>();
    mp.ap_metrics_reporting_interval = 30;
    mp.radios.resize(2);
    mp.radios[0] = {kRadio0, 70, 5, 150, 1, 1, 0};
    mp.radios[1] = {kRadio1, 80, 0, 100, 0, 1, 0};
    mp.num_radios = 2;
    auto& q = b.add<default_8021q_settings_tlv>();
    q.primary_vlan_id = 10;
    q.default_pcp = 5;
    auto& ts = b.add<traffic_separation_policy_tlv>();
    ts.ssids.resize(2);
    set_ssid(ts.ssids[0].ssid_len, ts.ssids[0].ssid, "HomeNet");
    ts.ssids[0].vlan_id = 10;
    set_ssid(ts.ssids[1].ssid_len, ts.ssids[1].ssid, "Guest");
    ts.ssids[1].vlan_id = 20;
    ts.num_ssids = 2;
    b.add<channel_scan_reporting_policy_tlv>().report_independent_scans = 1;
    auto& ua = b.add<unsuccessful_association_policy_tlv>();
    ua.report_unsuccessful_associations = 1;
    ua.max_reporting_rate = 12;
    return b.build();
}

CmduPtr client_steering_request() {
    steering_request_tlv s;
    s.bssid = BSSID(sample_mac(0xB0, 0x01));
    s.request_mode = 1;
    s.btm_disassociation_imminent = 1;
    s.btm_abridged = 0;
    s.steering_opportunity_window = 0;
    s.btm_disassociation_timer = 100;
    s.stas = {kSta};
    s.num_stas = 1;
    s.targets.push_back({BSSID(sample_mac(0xB1, 0x01)), 115, 36});
    s.num_targets = 1;
    return builder(CMDU_TYPE_CLIENT_STEERING_REQUEST, 0x100C).add(s).build();
}

CmduPtr client_association_control_request() {
    client_association_control_request_tlv c;
    c.bssid = BSSID(sample_mac(0xB0, 0x01));
    c.association_control = ASSOCIATION_CONTROL_BLOCK;
    c.validity_period = 30;
    c.stas = {kSta, sample_mac(0x5A, 0x08)};
    c.num_stas = 2;
    return builder(CMDU_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST, 0x100D).add(c).build();
}

CmduPtr backhaul_steering_request() {
    backhaul_steering_request_tlv r;
    r.backhaul_sta_mac = sample_mac(0xC0, 0x01);
    r.target_bssid = BSSID(sample_mac(0xB1, 0x05));
    r.op_class = 128;
    r.channel = 36;
    return builder(CMDU_TYPE_BACKHAUL_STEERING_REQUEST, 0x100E).add(r).build();
}

CmduPtr channel_selection_request() {
    CmduBuilder b(CMDU_TYPE_CHANNEL_SELECTION_REQUEST, 0x100F);
    auto& p = b.add<channel_preference_tlv>();
    p.radio_id = kRadio1;
    p.op_classes.resize(2);
    p.op_classes[0].op_class = 115;
    p.op_classes[0].channels = {36, 40};
    p.op_classes[0].num_channels = 2;
    p.op_classes[0].preference = 14;
    p.op_classes[0].reason_code = 0;
    p.op_classes[1].op_class = 121;
    p.op_classes[1].channels = {100, 104, 108};
    p.op_classes[1].num_channels = 3;
    p.op_classes[1].preference = 0;
    p.op_classes[1].reason_code = 5;
    p.num_op_classes = 2;
    auto& l = b.add<transmit_power_limit_tlv>();
    l.radio_id = kRadio1;
    l.tx_power_limit_eirp = 20;
    return b.build();
}

CmduPtr channel_scan_request() {
    channel_scan_request_tlv r;
    r.perform_fresh_scan = 1;
    r.radios.resize(1);
    r.radios[0].radio_id = kRadio1;
    r.radios[0].op_classes = {ocs(115, {36, 40, 44, 48}), ocs(121, {})};
    r.radios[0].num_op_classes = 2;
    r.num_radios = 1;
    return builder(CMDU_TYPE_CHANNEL_SCAN_REQUEST, 0x1010).add(r).build();
}

CmduPtr cac_request() {
    cac_request_tlv r;
    r.radios.push_back({kRadio1, 121, 100, 1, 1});
    r.num_radios = 1;
    return builder(CMDU_TYPE_CAC_REQUEST, 0x1011).add(r).build();
}

CmduPtr cac_termination() {
    cac_termination_tlv r;
    r.radios.push_back({kRadio1, 121, 100});
    r.num_radios = 1;
    return builder(CMDU_TYPE_CAC_TERMINATION, 0x1012).add(r).build();
}

CmduPtr autoconfig_response() {
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_RESPONSE, 0x1013);
    b.add<supported_role_tlv>().role = IEEE1905_ROLE_REGISTRAR;
    b.add<supported_freq_band_tlv>().freq_band = IEEE1905_FREQ_BAND_5_GHZ;
    auto& s = b.add<supported_service_tlv>();
    s.services = {MAP_SERVICE_CONTROLLER};
    s.num_services = 1;
    b.add<multiap_profile_tlv>().profile = MAP_PROFILE_2;
    return b.build();
}

CmduPtr autoconfig_renew() {
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW, 0x1014);
    b.relay(true);
    b.add<al_mac_address_tlv>().al_mac_address = sample_mac(0xC7, 0x01);
    b.add<supported_role_tlv>().role = IEEE1905_ROLE_REGISTRAR;
    b.add<supported_freq_band_tlv>().freq_band = IEEE1905_FREQ_BAND_2_4_GHZ;
    return b.build();
}

CmduPtr ack_1905() {
    CmduBuilder b(CMDU_TYPE_1905_ACK, 0x2001);
    auto& e = b.add<error_code_tlv>();
    e.reason_code = 2;
    e.sta_mac = kSta;
    return b.build();
}

CmduPtr vendor_specific() {
    vendor_specific_tlv v;
    v.vendor_oui[0] = 0x00;
    v.vendor_oui[1] = 0x0C;
    v.vendor_oui[2] = 0xE7;
    v.payload = {0x01, 0x00, 0x04, 'p', 'i', 'n', 'g'};
    return builder(CMDU_TYPE_VENDOR_SPECIFIC, 0x1015).add(v).build();
}

std::vector<uint8_t> wsc_frame(uint8_t type) {
    wsc_message m;
    m.message_type = type;
    for (int i = 0; i < 16; ++i)
        m.uuid[i] = static_cast<uint8_t>(0x10 + i);
    m.mac_address = kAgent;
    m.manufacturer = "Vexal";
    m.model_name = "Mesh Extender";
    m.model_number = "MX-200";
    m.serial_number = "SN0123456789";
    m.device_name = "ext-livingroom";
    m.rf_bands = WSC_RF_BAND_2_4_GHZ | WSC_RF_BAND_5_GHZ;
    auto attr = [&](uint16_t t, std::vector<uint8_t> v) { m.other.push_back({t, std::move(v)}); };
    std::vector<uint8_t> nonce(16, 0x5C), key(192, 0x3D);
    if (type == WSC_MSG_M1) {
        attr(WSC_ATTR_ENROLLEE_NONCE, nonce);
        attr(WSC_ATTR_PUBLIC_KEY, key);
    } else {
        attr(WSC_ATTR_ENROLLEE_NONCE, nonce);
        attr(WSC_ATTR_REGISTRAR_NONCE, std::vector<uint8_t>(16, 0x6E));
        attr(WSC_ATTR_PUBLIC_KEY, key);
    }
    attr(WSC_ATTR_AUTHENTICATION_TYPE_FLAGS, {0x00, 0x22});
    attr(WSC_ATTR_ENCRYPTION_TYPE_FLAGS, {0x00, 0x08});
    attr(WSC_ATTR_CONNECTION_TYPE_FLAGS, {0x01});
    attr(WSC_ATTR_CONFIG_METHODS, {0x00, 0x80});
    if (type == WSC_MSG_M1)
        attr(WSC_ATTR_WPS_STATE, {0x01});
    attr(WSC_ATTR_PRIMARY_DEVICE_TYPE, {0x00, 0x06, 0x00, 0x50, 0xF2, 0x04, 0x00, 0x01});
    attr(WSC_ATTR_ASSOCIATION_STATE, {0x00, 0x00});
    attr(WSC_ATTR_DEVICE_PASSWORD_ID, {0x00, 0x04});
    attr(WSC_ATTR_CONFIGURATION_ERROR, {0x00, 0x00});
    attr(WSC_ATTR_OS_VERSION, {0x80, 0x00, 0x00, 0x01});
    attr(WSC_ATTR_VENDOR_EXTENSION, {0x00, 0x37, 0x2A, 0x00, 0x01, 0x20});
    if (type == WSC_MSG_M2) {
        attr(WSC_ATTR_ENCRYPTED_SETTINGS, std::vector<uint8_t>(48, 0xE5));
        attr(WSC_ATTR_AUTHENTICATOR, std::vector<uint8_t>(8, 0xA7));
    }
    std::vector<uint8_t> out;
    wsc_build_message(m, out);
    return out;
}

ap_radio_basic_capabilities_tlv radio_basic_caps(const MAC& radio, bool five) {
    ap_radio_basic_capabilities_tlv r;
    r.radio_id = radio;
    r.max_bss = 4;
    if (five) {
        r.op_classes.push_back({115, 23, 0, {}});
        r.op_classes.push_back({121, 30, 2, {120, 124}});
    } else {
        r.op_classes.push_back({81, 20, 2, {12, 13}});
    }
    r.num_op_classes = static_cast<uint8_t>(r.op_classes.size());
    return r;
}

CmduPtr autoconfig_wsc_m2() {
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 0x1016);
    b.add<ap_radio_identifier_tlv>().radio_id = kRadio1;
    b.add<wsc_tlv>().wsc_frame = wsc_frame(WSC_MSG_M2);
    auto& ts = b.add<traffic_separation_policy_tlv>();
    ts.ssids.resize(1);
    set_ssid(ts.ssids[0].ssid_len, ts.ssids[0].ssid, "HomeNet");
    ts.ssids[0].vlan_id = 10;
    ts.num_ssids = 1;
    return b.build();
}

// ---- agent -> controller ----

CmduPtr topology_discovery() {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_DISCOVERY, 0x3001);
    b.add<al_mac_address_tlv>().al_mac_address = kAgent;
    b.add<mac_address_tlv>().mac_address = sample_mac(0xA0, 0x11);
    return b.build();
}

CmduPtr topology_notification() {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_NOTIFICATION, 0x3002);
    b.relay(true);
    b.add<al_mac_address_tlv>().al_mac_address = kAgent;
    auto& e = b.add<client_association_event_tlv>();
    e.client_mac = kSta;
    e.bssid = BSSID(sample_mac(0xB0, 0x01));
    e.association_event = 1;
    return b.build();
}

CmduPtr link_metric_response() {
    CmduBuilder b(CMDU_TYPE_LINK_METRIC_RESPONSE, 0x3003);
    auto& tx = b.add<transmitter_link_metric_tlv>();
    tx.local_al_mac_address = kAgent;
    tx.neighbor_al_mac_address = sample_mac(0xA0, 0x02);
    tx.links.push_back({sample_mac(0xA0, 0x11), sample_mac(0xA0, 0x21),
                        MEDIA_TYPE_IEEE_802_11AC_5_GHZ, 0, 12, 345678, 866, 87, 1300});
    tx.links.push_back({sample_mac(0xA0, 0x12), sample_mac(0xA0, 0x22),
                        MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET, 1, 0, 99999, 1000, 100, 1000});
    auto& rx = b.add<receiver_link_metric_tlv>();
    rx.local_al_mac_address = kAgent;
    rx.neighbor_al_mac_address = sample_mac(0xA0, 0x02);
    rx.links.push_back({sample_mac(0xA0, 0x11), sample_mac(0xA0, 0x21),
                        MEDIA_TYPE_IEEE_802_11AC_5_GHZ, 7, 123456, 52});
    return b.build();
}

CmduPtr link_metric_response_error() {
    CmduBuilder b(CMDU_TYPE_LINK_METRIC_RESPONSE, 0x3004);
    b.add<link_metric_result_code_tlv>().result_code = LINK_METRIC_RESULT_INVALID_NEIGHBOR;
    return b.build();
}

CmduPtr ap_capability_report() {
    CmduBuilder b(CMDU_TYPE_AP_CAPABILITY_REPORT, 0x3005);
    auto& cap = b.add<ap_capability_tlv>();
    cap.unassoc_sta_metrics_operating_channel = 1;
    cap.unassoc_sta_metrics_non_operating_channel = 0;
    cap.agent_initiated_rcpi_steering = 1;
    b.add(radio_basic_caps(kRadio0, false));
    b.add(radio_basic_caps(kRadio1, true));
    auto& ht = b.add<ap_ht_capabilities_tlv>();
    ht.radio_id = kRadio0;
    ht.max_tx_spatial_streams = 1;
    ht.max_rx_spatial_streams = 1;
    ht.short_gi_20mhz = 1;
    ht.short_gi_40mhz = 1;
    ht.ht_40mhz = 1;
    auto& vht = b.add<ap_vht_capabilities_tlv>();
    vht.radio_id = kRadio1;
    vht.supported_vht_tx_mcs = 0xFFFA;
    vht.supported_vht_rx_mcs = 0xFFFA;
    vht.max_tx_spatial_streams = 1;
    vht.max_rx_spatial_streams = 1;
    vht.short_gi_80mhz = 1;
    vht.short_gi_160mhz = 0;
    vht.vht_80plus80mhz = 0;
    vht.vht_160mhz = 1;
    vht.su_beamformer = 1;
    vht.mu_beamformer = 1;
    auto& he = b.add<ap_he_capabilities_tlv>();
    he.radio_id = kRadio1;
    he.supported_mcs_len = 4;
    he.supported_mcs[0] = 0xFA;
    he.supported_mcs[1] = 0xFF;
    he.supported_mcs[2] = 0xFA;
    he.supported_mcs[3] = 0xFF;
    he.max_tx_spatial_streams = 1;
    he.max_rx_spatial_streams = 1;
    he.he_160mhz = 1;
    he.su_beamformer = 1;
    he.mu_beamformer = 1;
    he.ul_ofdma = 1;
    he.dl_ofdma = 1;
    auto& scan = b.add<channel_scan_capabilities_tlv>();
    scan.radios.resize(1);
    scan.radios[0].radio_id = kRadio1;
    scan.radios[0].on_boot_only = 0;
    scan.radios[0].scan_impact = 2;
    scan.radios[0].min_scan_interval = 300;
    scan.radios[0].op_classes = {ocs(115, {36, 40, 44, 48}), ocs(121, {})};
    scan.radios[0].num_op_classes = 2;
    scan.num_radios = 1;
    auto& cac = b.add<cac_capabilities_tlv>();
    cac.country_code[0] = 'D';
    cac.country_code[1] = 'E';
    cac.radios.resize(1);
    cac.radios[0].radio_id = kRadio1;
    cac.radios[0].cac_types.resize(1);
    cac.radios[0].cac_types[0].cac_method = 0;
    cac.radios[0].cac_types[0].duration = 60;
    cac.radios[0].cac_types[0].op_classes = {ocs(121, {100, 104, 108, 112})};
    cac.radios[0].cac_types[0].num_op_classes = 1;
    cac.radios[0].num_cac_types = 1;
    cac.num_radios = 1;
    auto& p2 = b.add<profile2_ap_capability_tlv>();
    p2.max_prioritization_rules = 0;
    p2.byte_counter_units = 1;
    p2.basic_service_prioritization = 1;
    p2.max_vids = 8;
    b.add<metric_collection_interval_tlv>().collection_interval_ms = 5000;
    return b.build();
}

CmduPtr channel_preference_report() {
    CmduBuilder b(CMDU_TYPE_CHANNEL_PREFERENCE_REPORT, 0x3006);
    auto& p = b.add<channel_preference_tlv>();
    p.radio_id = kRadio1;
    p.op_classes.resize(1);
    p.op_classes[0].op_class = 121;
    p.op_classes[0].channels = {116, 120};
    p.op_classes[0].num_channels = 2;
    p.op_classes[0].preference = 0;
    p.op_classes[0].reason_code = 7;
    p.num_op_classes = 1;
    auto& r = b.add<radio_operation_restriction_tlv>();
    r.radio_id = kRadio1;
    r.op_classes.resize(1);
    r.op_classes[0].op_class = 115;
    r.op_classes[0].channels = {{36, 4}, {40, 4}};
    r.op_classes[0].num_channels = 2;
    r.num_op_classes = 1;
    auto& cc = b.add<cac_completion_report_tlv>();
    cc.radios.resize(1);
    cc.radios[0].radio_id = kRadio1;
    cc.radios[0].op_class = 121;
    cc.radios[0].channel = 100;
    cc.radios[0].cac_completion_status = 1;
    cc.radios[0].radar_pairs = {{121, 100}, {121, 104}};
    cc.radios[0].num_radar_pairs = 2;
    cc.num_radios = 1;
    auto& cs = b.add<cac_status_report_tlv>();
    cs.available = {{121, 108, 12}};
    cs.num_available = 1;
    cs.non_occupancy = {{121, 100, 1700}};
    cs.num_non_occupancy = 1;
    cs.ongoing_cac = {{121, 112, 45}};
    cs.num_ongoing_cac = 1;
    return b.build();
}

CmduPtr channel_selection_response() {
    CmduBuilder b(CMDU_TYPE_CHANNEL_SELECTION_RESPONSE, 0x3007);
    auto& r = b.add<channel_selection_response_tlv>();
    r.radio_id = kRadio1;
    r.response_code = CHANNEL_SELECTION_DECLINE_VIOLATES_PREFERENCE;
    return b.build();
}

CmduPtr operating_channel_report() {
    CmduBuilder b(CMDU_TYPE_OPERATING_CHANNEL_REPORT, 0x3008);
    auto& r = b.add<operating_channel_report_tlv>();
    r.radio_id = kRadio1;
    r.op_classes = {{128, 42}, {115, 36}};
    r.num_op_classes = 2;
    r.current_tx_power_eirp = 23;
    return b.build();
}

CmduPtr client_capability_report() {
    CmduBuilder b(CMDU_TYPE_CLIENT_CAPABILITY_REPORT, 0x3009);
    auto& i = b.add<client_info_tlv>();
    i.bssid = BSSID(sample_mac(0xB0, 0x01));
    i.client_mac = kSta;
    auto& r = b.add<client_capability_report_tlv>();
    r.result_code = CLIENT_CAPABILITY_SUCCESS;
    // Capability info, listen interval, SSID "HomeNet", supported rates.
    r.frame_body = {0x31, 0x04, 0x0A, 0x00, 0x00, 0x07, 'H',  'o',  'm',  'e',  'N', 'e',
                    't',  0x01, 0x04, 0x82, 0x84, 0x8B, 0x96, 0x24, 0x02, 0x24, 0x04};
    return b.build();
}

CmduPtr ap_metrics_response() {
    return make_ap_metrics_response(6);
}

CmduPtr assoc_sta_link_metrics_response() {
    CmduBuilder b(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, 0x300A);
    auto& m = b.add<associated_sta_link_metrics_tlv>();
    m.sta_mac = kSta;
    m.bssids.push_back({BSSID(sample_mac(0xB0, 0x01)), 120, 433, 390, 180});
    m.num_bssids = 1;
    auto& x = b.add<associated_sta_extended_link_metrics_tlv>();
    x.sta_mac = kSta;
    x.bssids.push_back({BSSID(sample_mac(0xB0, 0x01)), 433000, 390000, 1200, 3400});
    x.num_bssids = 1;
    return b.build();
}

CmduPtr assoc_sta_link_metrics_response_error() {
    CmduBuilder b(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_RESPONSE, 0x300B);
    auto& m = b.add<associated_sta_link_metrics_tlv>();
    m.sta_mac = kSta;
    m.num_bssids = 0;
    auto& e = b.add<error_code_tlv>();
    e.reason_code = 2;
    e.sta_mac = kSta;
    return b.build();
}

CmduPtr unassoc_sta_link_metrics_response() {
    CmduBuilder b(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_RESPONSE, 0x300C);
    auto& r = b.add<unassociated_sta_link_metrics_response_tlv>();
    r.op_class = 115;
    r.stas.push_back({sample_mac(0x5A, 0x01), 36, 250, 120});
    r.stas.push_back({sample_mac(0x5A, 0x02), 36, 1250, 98});
    r.num_stas = 2;
    return b.build();
}

CmduPtr beacon_metrics_response() {
    CmduBuilder b(CMDU_TYPE_BEACON_METRICS_RESPONSE, 0x300D);
    auto& r = b.add<beacon_metrics_response_tlv>();
    r.sta_mac = kSta;
    // Measurement Report element body: token, mode, type 5 (beacon), then the
    // beacon report: op class, channel, start time (8), duration (2), frame
    // info, RCPI, RSNI, BSSID, antenna id, parent TSF (4).
    std::vector<uint8_t> body = {0x01, 0x00, 0x05, 115,  36,   0,    0,    0,    0,    0,
                                 0,    0,    0,    0x32, 0x00, 0x02, 140,  40,   0x02, 0x00,
                                 0x00, 0x00, 0xB1, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00};
    r.elements.push_back({39, body});
    body[4] = 40;
    body[16] = 120;
    r.elements.push_back({39, body});
    r.num_elements = 2;
    return b.build();
}

CmduPtr btm_report() {
    CmduBuilder b(CMDU_TYPE_CLIENT_STEERING_BTM_REPORT, 0x300E);
    auto& r = b.add<steering_btm_report_tlv>();
    r.bssid = BSSID(sample_mac(0xB0, 0x01));
    r.sta_mac = kSta;
    r.btm_status_code = 0;
    r.has_target_bssid = 1;
    r.target_bssid = BSSID(sample_mac(0xB1, 0x01));
    return b.build();
}

CmduPtr backhaul_steering_response() {
    CmduBuilder b(CMDU_TYPE_BACKHAUL_STEERING_RESPONSE, 0x300F);
    auto& r = b.add<backhaul_steering_response_tlv>();
    r.backhaul_sta_mac = sample_mac(0xC0, 0x01);
    r.target_bssid = BSSID(sample_mac(0xB1, 0x05));
    r.result_code = BACKHAUL_STEERING_FAILURE;
    auto& e = b.add<error_code_tlv>();
    e.reason_code = 5;
    e.sta_mac = sample_mac(0xC0, 0x01);
    return b.build();
}

CmduPtr channel_scan_report() {
    CmduBuilder b(CMDU_TYPE_CHANNEL_SCAN_REPORT, 0x3010);
    b.add<timestamp_tlv>().timestamp = "2026-12-05T19:01:28.123+00:00";
    auto& r = b.add<channel_scan_result_tlv>();
    r.radio_id = kRadio1;
    r.op_class = 115;
    r.channel = 36;
    r.scan_status = CHANNEL_SCAN_STATUS_SUCCESS;
    r.timestamp = "2026-12-05T19:01:27.900+00:00";
    r.utilization = 60;
    r.noise = 161;
    r.neighbors.resize(2);
    auto& n0 = r.neighbors[0];
    n0.bssid = BSSID(sample_mac(0xD0, 0x01));
    set_ssid(n0.ssid_len, n0.ssid, "Neighbour-5G");
    n0.signal_strength = 120;
    n0.channel_bandwidth = "80";
    n0.bss_load_element_present = 1;
    n0.channel_utilization = 77;
    n0.station_count = 9;
    auto& n1 = r.neighbors[1];
    n1.bssid = BSSID(sample_mac(0xD0, 0x02));
    set_ssid(n1.ssid_len, n1.ssid, "Cafe");
    n1.signal_strength = 60;
    n1.channel_bandwidth = "20";
    r.num_neighbors = 2;
    r.aggregate_scan_duration = 110;
    r.active_scan = 1;
    auto& f = b.add<channel_scan_result_tlv>();
    f.radio_id = kRadio1;
    f.op_class = 121;
    f.channel = 100;
    f.scan_status = 4;  // not completed: nothing follows the status
    return b.build();
}

CmduPtr tunneled() {
    CmduBuilder b(CMDU_TYPE_TUNNELED, 0x3011);
    b.add<source_info_tlv>().mac = kSta;
    b.add<tunneled_message_type_tlv>().message_type = TUNNELED_REASSOCIATION_REQUEST;
    b.add<tunneled_tlv>().frame_body = {0x31, 0x04, 0x0A, 0x00, 0x02, 0x00, 0x00, 0xB0, 0x01, 0x00,
                                        0x00, 0x07, 'H',  'o',  'm',  'e',  'N',  'e',  't'};
    return b.build();
}

CmduPtr failed_connection() {
    CmduBuilder b(CMDU_TYPE_FAILED_CONNECTION, 0x3012);
    b.add<sta_mac_address_tlv>().sta_mac = kSta;
    b.add<status_code_tlv>().status_code = 17;
    b.add<reason_code_tlv>().reason_code = 0;
    return b.build();
}

CmduPtr autoconfig_search() {
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH, 0x3013);
    b.relay(true);
    b.add<al_mac_address_tlv>().al_mac_address = kAgent;
    b.add<searched_role_tlv>().role = IEEE1905_ROLE_REGISTRAR;
    b.add<autoconfig_freq_band_tlv>().freq_band = IEEE1905_FREQ_BAND_5_GHZ;
    auto& s = b.add<supported_service_tlv>();
    s.services = {MAP_SERVICE_AGENT};
    s.num_services = 1;
    auto& q = b.add<searched_service_tlv>();
    q.services = {MAP_SERVICE_CONTROLLER};
    q.num_services = 1;
    b.add<multiap_profile_tlv>().profile = MAP_PROFILE_2;
    return b.build();
}

CmduPtr autoconfig_wsc_m1() {
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, 0x3014);
    b.add(radio_basic_caps(kRadio1, true));
    b.add<wsc_tlv>().wsc_frame = wsc_frame(WSC_MSG_M1);
    auto& p2 = b.add<profile2_ap_capability_tlv>();
    p2.byte_counter_units = 1;
    p2.max_vids = 8;
    return b.build();
}

CmduPtr topology_response() {
    return make_topology_response(2, 2, 2);
}

struct Maker {
    const char* name;
    CmduPtr (*make)();
};

const Maker kMakers[] = {
    {"topology_query", topology_query},
    {"link_metric_query", link_metric_query},
    {"link_metric_query_all", link_metric_query_all},
    {"ap_capability_query", ap_capability_query},
    {"ap_metrics_query", ap_metrics_query},
    {"assoc_sta_link_metrics_query", assoc_sta_link_metrics_query},
    {"unassoc_sta_link_metrics_query", unassoc_sta_link_metrics_query},
    {"beacon_metrics_query", beacon_metrics_query},
    {"client_capability_query", client_capability_query},
    {"channel_preference_query", channel_preference_query},
    {"policy_config_request", policy_config_request},
    {"client_steering_request", client_steering_request},
    {"client_association_control_request", client_association_control_request},
    {"backhaul_steering_request", backhaul_steering_request},
    {"channel_selection_request", channel_selection_request},
    {"channel_scan_request", channel_scan_request},
    {"cac_request", cac_request},
    {"cac_termination", cac_termination},
    {"autoconfig_response", autoconfig_response},
    {"autoconfig_renew", autoconfig_renew},
    {"autoconfig_wsc_m2", autoconfig_wsc_m2},
    {"ack_1905", ack_1905},
    {"vendor_specific", vendor_specific},
    {"topology_discovery", topology_discovery},
    {"topology_notification", topology_notification},
    {"topology_response", topology_response},
    {"link_metric_response", link_metric_response},
    {"link_metric_response_error", link_metric_response_error},
    {"ap_capability_report", ap_capability_report},
    {"channel_preference_report", channel_preference_report},
    {"channel_selection_response", channel_selection_response},
    {"operating_channel_report", operating_channel_report},
    {"client_capability_report", client_capability_report},
    {"ap_metrics_response", ap_metrics_response},
    {"assoc_sta_link_metrics_response", assoc_sta_link_metrics_response},
    {"assoc_sta_link_metrics_response_error", assoc_sta_link_metrics_response_error},
    {"unassoc_sta_link_metrics_response", unassoc_sta_link_metrics_response},
    {"beacon_metrics_response", beacon_metrics_response},
    {"btm_report", btm_report},
    {"backhaul_steering_response", backhaul_steering_response},
    {"channel_scan_report", channel_scan_report},
    {"tunneled", tunneled},
    {"failed_connection", failed_connection},
    {"autoconfig_search", autoconfig_search},
    {"autoconfig_wsc_m1", autoconfig_wsc_m1},
};

}  // namespace

CmduPtr make_topology_response(int radios, int bss_per_radio, int clients_per_bss) {
    CmduBuilder b(CMDU_TYPE_TOPOLOGY_RESPONSE, 0x4001);
    auto& di = b.add<device_information_tlv>();
    di.al_mac_address = kAgent;
    // One Ethernet port, one 1901 port, then one 802.11 AP interface per BSS.
    device_information_tlv::local_interface eth;
    eth.mac_address = sample_mac(0xE0, 0x01);
    eth.media_type = MEDIA_TYPE_IEEE_802_3AB_GIGABIT_ETHERNET;
    di.local_interfaces.push_back(eth);
    device_information_tlv::local_interface plc;
    plc.mac_address = sample_mac(0xE0, 0x02);
    plc.media_type = MEDIA_TYPE_IEEE_1901_FFT;
    plc.media_specific_info_length = IEEE1901_MEDIA_INFO_LEN;
    for (int i = 0; i < 7; ++i)
        plc.ieee1901.network_identifier[i] = static_cast<uint8_t>(0x70 + i);
    di.local_interfaces.push_back(plc);
    auto& ap = b.add<ap_operational_bss_tlv>();
    auto& ac = b.add<associated_clients_tlv>();
    for (int r = 0; r < radios; ++r) {
        ap_operational_bss_tlv::radio radio;
        radio.radio_id = sample_mac(static_cast<uint8_t>(0xB0 + r), 0x00);
        for (int s = 0; s < bss_per_radio; ++s) {
            BSSID bssid(sample_mac(static_cast<uint8_t>(0xB0 + r), static_cast<uint8_t>(s + 1)));
            device_information_tlv::local_interface wifi;
            wifi.mac_address = bssid;
            wifi.media_type =
                r == 0 ? MEDIA_TYPE_IEEE_802_11N_2_4_GHZ : MEDIA_TYPE_IEEE_802_11AC_5_GHZ;
            wifi.media_specific_info_length = IEEE80211_MEDIA_INFO_LEN;
            wifi.ieee80211.network_membership = bssid;
            wifi.ieee80211.role = IEEE80211_ROLE_AP;
            wifi.ieee80211.ap_channel_band = r == 0 ? 0 : 2;
            wifi.ieee80211.ap_channel_center_freq_index_1 = r == 0 ? 6 : 42;
            wifi.ieee80211.ap_channel_center_freq_index_2 = 0;
            di.local_interfaces.push_back(wifi);

            ap_operational_bss_tlv::bss bss;
            bss.bssid = bssid;
            std::string ssid =
                s == 0 ? "HomeNet" : "HomeNet-" + std::to_string(r) + "-" + std::to_string(s);
            bss.ssid_len = static_cast<uint8_t>(ssid.size());
            std::memcpy(bss.ssid, ssid.data(), ssid.size());
            radio.bsss.push_back(bss);

            associated_clients_tlv::bss cb;
            cb.bssid = bssid;
            for (int c = 0; c < clients_per_bss; ++c) {
                cb.clients.push_back({MAC(0x0A, static_cast<uint8_t>(r), static_cast<uint8_t>(s),
                                          0x00, 0x00, static_cast<uint8_t>(c)),
                                      static_cast<uint16_t>(60 * c + 5)});
            }
            cb.num_clients = static_cast<uint16_t>(cb.clients.size());
            ac.bsss.push_back(cb);
        }
        radio.num_bss = static_cast<uint8_t>(radio.bsss.size());
        ap.radios.push_back(radio);
    }
    ap.num_radios = static_cast<uint8_t>(ap.radios.size());
    ac.num_bss = static_cast<uint8_t>(ac.bsss.size());
    di.num_local_interfaces = static_cast<uint8_t>(di.local_interfaces.size());

    auto& br = b.add<device_bridging_capability_tlv>();
    br.bridging_tuples.resize(1);
    br.bridging_tuples[0].macs = {sample_mac(0xE0, 0x01), sample_mac(0xB0, 0x01)};
    br.bridging_tuples[0].num_macs = 2;
    br.num_bridging_tuples = 1;
    auto& nn = b.add<non_1905_neighbor_device_list_tlv>();
    nn.local_mac_address = sample_mac(0xE0, 0x01);
    nn.neighbors = {MAC(0x3C, 0x22, 0xFB, 0x00, 0x00, 0x01),
                    MAC(0x3C, 0x22, 0xFB, 0x00, 0x00, 0x02)};
    auto& nd = b.add<neighbor_device_list_tlv>();
    nd.local_mac_address = sample_mac(0xE0, 0x01);
    nd.neighbors.push_back({sample_mac(0xA0, 0x02), 0});
    nd.neighbors.push_back({sample_mac(0xA0, 0x03), 1});
    auto& ss = b.add<supported_service_tlv>();
    ss.services = {MAP_SERVICE_AGENT};
    ss.num_services = 1;
    b.add<multiap_profile_tlv>().profile = MAP_PROFILE_2;
    return b.build();
}

CmduPtr make_ap_metrics_response(int clients) {
    CmduBuilder b(CMDU_TYPE_AP_METRICS_RESPONSE, 0x4002);
    for (int s = 0; s < 4; ++s) {
        auto& m = b.add<ap_metrics_tlv>();
        m.bssid = BSSID(sample_mac(0xB1, static_cast<uint8_t>(s + 1)));
        m.channel_utilization = static_cast<uint8_t>(40 + 20 * s);
        m.num_associated_stas = static_cast<uint16_t>(clients / 4);
        m.esp_be_present = 1;
        m.esp_be[0] = 0x8D;
        m.esp_be[1] = 0xC8;
        m.esp_be[2] = 0x05;
        if (s == 1) {
            m.esp_vi_present = 1;
            m.esp_vi[0] = 0x8E;
            m.esp_vi[1] = 0x64;
            m.esp_vi[2] = 0x02;
        }
        auto& x = b.add<ap_extended_metrics_tlv>();
        x.bssid = m.bssid;
        x.unicast_bytes_sent = 1000000u * (s + 1);
        x.unicast_bytes_received = 700000u * (s + 1);
        x.multicast_bytes_sent = 5000;
        x.multicast_bytes_received = 300;
        x.broadcast_bytes_sent = 12000;
        x.broadcast_bytes_received = 800;
    }
    auto& rm = b.add<radio_metrics_tlv>();
    rm.radio_id = kRadio1;
    rm.noise = 160;
    rm.transmit = 40;
    rm.receive_self = 30;
    rm.receive_other = 12;
    for (int c = 0; c < clients; ++c) {
        MAC sta(0x0A, 0x01, static_cast<uint8_t>(c / 4), 0x00, 0x00, static_cast<uint8_t>(c));
        BSSID bssid(sample_mac(0xB1, static_cast<uint8_t>(c % 4 + 1)));
        auto& ts = b.add<associated_sta_traffic_stats_tlv>();
        ts.sta_mac = sta;
        ts.bytes_sent = 100000u + c;
        ts.bytes_received = 50000u + c;
        ts.packets_sent = 1000u + c;
        ts.packets_received = 800u + c;
        ts.tx_packet_errors = 3;
        ts.rx_packet_errors = 1;
        ts.retransmission_count = 17;
        auto& lm = b.add<associated_sta_link_metrics_tlv>();
        lm.sta_mac = sta;
        lm.bssids.push_back(
            {bssid, static_cast<uint32_t>(100 + c), 433, 390, static_cast<uint8_t>(110 + c % 80)});
        lm.num_bssids = 1;
        auto& xm = b.add<associated_sta_extended_link_metrics_tlv>();
        xm.sta_mac = sta;
        xm.bssids.push_back({bssid, 433000, 390000, 1000u + c, 2000u + c});
        xm.num_bssids = 1;
    }
    return b.build();
}

std::vector<SampleCmdu> make_sample_cmdus() {
    std::vector<SampleCmdu> v;
    for (const auto& m : kMakers)
        v.push_back({m.name, m.make()});
    return v;
}

CmduPtr make_sample_cmdu(const std::string& name) {
    for (const auto& m : kMakers) {
        if (name == m.name)
            return m.make();
    }
    return nullptr;
}
