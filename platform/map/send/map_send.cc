// Placeholder until the controller's AL sends frames: every sender refuses with
// MAP_SEND_NOT_READY so that callers exercise their failure paths.
#include "map/map_send.h"

#include "map/map_log.h"

namespace {
int not_ready(const char* what) {
    map_log(MAP_LOG_CONTROLLER, 3, "%s: stack not started", what);
    return MAP_SEND_NOT_READY;
}
MAC zero_mac;
}  // namespace

int map_send_topology_query(const MAC&) {
    return not_ready(__func__);
}
int map_send_link_metric_query(const MAC&, const link_metric_query_tlv&) {
    return not_ready(__func__);
}
int map_send_ap_capability_query(const MAC&) {
    return not_ready(__func__);
}
int map_send_ap_metric_query(const MAC&, const std::vector<BSSID>&) {
    return not_ready(__func__);
}
int map_send_associated_sta_link_metrics_query(const MAC&, const MAC&) {
    return not_ready(__func__);
}
int map_send_unassoc_sta_metrics_query(const MAC&, const unassociated_sta_link_metrics_query_tlv&) {
    return not_ready(__func__);
}
int map_send_beacon_metrics_query(const MAC&, const beacon_metrics_query_tlv&) {
    return not_ready(__func__);
}
int map_send_client_capability_query(const MAC&, const MAC&, const BSSID&) {
    return not_ready(__func__);
}
int map_send_policy_config(const MAC&, const map_policy_config_t&) {
    return not_ready(__func__);
}
int map_send_steering_request(const MAC&, const steering_request_tlv&) {
    return not_ready(__func__);
}
int map_send_client_acl_request(const MAC&, const client_association_control_request_tlv&) {
    return not_ready(__func__);
}
int map_send_backhaul_steering_request(const MAC&, const backhaul_steering_request_tlv&) {
    return not_ready(__func__);
}
int map_send_ch_scan_request(const MAC&, const channel_scan_request_tlv&) {
    return not_ready(__func__);
}
int map_send_CAC_request(const MAC&, const cac_request_tlv&) {
    return not_ready(__func__);
}
int map_send_CAC_termination(const MAC&, const cac_termination_tlv&) {
    return not_ready(__func__);
}
int map_send_1905_ack(const MAC&, uint16_t, const std::vector<error_code_tlv>&) {
    return not_ready(__func__);
}
int lib1905_send(void*, uint16_t*, const MAC&, CMDU*, const char*) {
    return not_ready(__func__);
}
int send_autoconfig_renew(const MAC&, uint8_t) {
    return not_ready(__func__);
}
int map_register_retry(const char*, int, int, const MAC&, map_retry_fn, map_retry_done_fn, void*) {
    return not_ready(__func__);
}
const MAC& getMAPControllerAlMac() {
    return zero_mac;
}
const MAC& getMAPAgentAlMac() {
    return zero_mac;
}
const MAC& getHktAlMac() {
    return zero_mac;
}
