// What the daemon sends through the Multi-AP stack. Every sender builds one CMDU
// with the codec and sends it to the agent named by its AL MAC address, on the
// interface the stack last heard that agent on. 0 is success; a negative code
// (MAP_SEND_*) comes with one log line of the stack saying why.
#pragma once

#include <cstdint>
#include <vector>

#include "common/mac.h"
#include "map/cmdu.h"
#include "map/codec/tlvs.h"

enum : int {
    MAP_SEND_OK = 0,
    MAP_SEND_UNKNOWN_AGENT = -1,  // no agent with that AL MAC in the data model
    MAP_SEND_ENCODE = -2,         // the records did not encode (a list too long, say)
    MAP_SEND_SOCKET = -3,         // the transport refused the frame
    MAP_SEND_NOT_READY = -4,      // the stack was not started
    MAP_SEND_BAD_ARGUMENT = -5,
};

// The TLVs of a Multi-AP Policy Config Request; absent parts are not sent.
struct map_policy_config_t {
    const steering_policy_tlv* steering = nullptr;
    const metric_reporting_policy_tlv* metric = nullptr;
    const default_8021q_settings_tlv* default_8021q = nullptr;
    const traffic_separation_policy_tlv* traffic_separation = nullptr;
    const channel_scan_reporting_policy_tlv* channel_scan = nullptr;
    const unsuccessful_association_policy_tlv* unsuccessful_association = nullptr;
};

int map_send_topology_query(const MAC& al_mac);
// One Link Metric Query TLV: all neighbours or one, transmitter, receiver or both.
int map_send_link_metric_query(const MAC& al_mac, const link_metric_query_tlv& query);
int map_send_ap_capability_query(const MAC& al_mac);
int map_send_ap_metric_query(const MAC& al_mac, const std::vector<BSSID>& bssids);
int map_send_associated_sta_link_metrics_query(const MAC& al_mac, const MAC& sta_mac);
int map_send_unassoc_sta_metrics_query(const MAC& al_mac,
                                       const unassociated_sta_link_metrics_query_tlv& query);
// The same query asked through the vendor (HKT) agent HKT_MAC of the agent AL_MAC, as an
// HKT message (metrics_type 0: clients, 1: backhaul STAs); the agent answers with a
// standard Unassociated STA Link Metrics Response. MAP_SEND_UNKNOWN_AGENT when the stack
// does not know AL_MAC.
int map_send_hkt_unassoc_sta_metrics_query(const MAC& al_mac, const MAC& hkt_mac,
                                           uint8_t metrics_type,
                                           const unassociated_sta_link_metrics_query_tlv& query);
int map_send_beacon_metrics_query(const MAC& al_mac, const beacon_metrics_query_tlv& query);
int map_send_client_capability_query(const MAC& al_mac, const MAC& sta_mac, const BSSID& bssid);
int map_send_policy_config(const MAC& al_mac, const map_policy_config_t& config);
int map_send_steering_request(const MAC& al_mac, const steering_request_tlv& request);
int map_send_client_acl_request(const MAC& al_mac,
                                const client_association_control_request_tlv& request);
int map_send_backhaul_steering_request(const MAC& al_mac,
                                       const backhaul_steering_request_tlv& request);
int map_send_ch_scan_request(const MAC& al_mac, const channel_scan_request_tlv& request);
int map_send_CAC_request(const MAC& al_mac, const cac_request_tlv& request);
int map_send_CAC_termination(const MAC& al_mac, const cac_termination_tlv& request);
// A 1905 Ack for message id mid, with optional error codes.
int map_send_1905_ack(const MAC& al_mac, uint16_t mid,
                      const std::vector<error_code_tlv>& errors = {});
// The stack's 1905 handle, handed to lib1905_send (the stand-in needs no state in it).
extern void* handle_1905;

// Sends cmdu (type and records; the stack fills the message id and writes it to *mid)
// to dest, an AL MAC or the 1905 multicast address. The egress: ifname when given, else
// the CMDU's interface_name when it names an interface of the stack; "" or "all": every
// interface the destination is reachable on. handle is the stack's 1905 handle.
int lib1905_send(void* handle, uint16_t* mid, const MAC& dest, CMDU* cmdu,
                 const char* ifname = nullptr);
// AP-Autoconfiguration Renew for one frequency band (0 2.4 GHz, 1 5 GHz, 2 60 GHz).
int send_autoconfig_renew(const MAC& al_mac, uint8_t freq_band);

// A stack action retried until it succeeds: action(arg) runs at once and then every
// interval_s seconds while it returns non-zero, at most retries times in all; done(status,
// arg) runs once at the end (0: the action succeeded, -1: it gave up). key names the entry;
// registering a key again replaces the pending entry.
using map_retry_fn = int (*)(void* arg);
using map_retry_done_fn = void (*)(int status, void* arg);
int map_register_retry(const char* key, int interval_s, int retries, const MAC& al_mac,
                       map_retry_fn action, map_retry_done_fn done, void* arg);

// Local AL MAC addresses (from map_stack.json; zero before it is read).
// getHktAlMac is the AL MAC the vendor (HKT) messages leave from: the controller's.
const MAC& getMAPControllerAlMac();
const MAC& getMAPAgentAlMac();
const MAC& getHktAlMac();

// This device's MAC address: the first interface's (zero before start).
const MAC& PLATFORM_GET_MAC_ADDRESS();

// Seconds between the AL's Topology Discovery messages (1..3600). 0, or -1
// for a value out of range (the previous one stays).
int set_topology_discovery_interval(int16_t seconds);

// Retry entries pending (for tests and the debug routes).
size_t map_retry_pending();
// Runs the retries due at get_current_time_ms() (the stack's timer calls it
// every second; tests call it after moving the manual clock).
void map_retry_run_due();
