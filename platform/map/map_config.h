// Configuration the daemon hands to the Multi-AP stack: topology timing, the
// metric reporting policy, the default 802.1Q settings and the traffic
// separation policy. Every setter validates its input and keeps the previous
// value on a bad one. Called on the event-loop thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/mac.h"

// Seconds between the controller's Topology Queries / Link Metric Queries to
// each agent (1..3600). 0 on success, -1 for a value out of range.
int set_topology_query_interval(int16_t seconds);
int set_link_metric_query_interval(int16_t seconds);
// The values in force (defaults before any setter: 60 and 30 s).
int16_t get_topology_query_interval();
int16_t get_link_metric_query_interval();

// Default 802.1Q settings put into Policy Config Requests: VLAN id, priority.
struct config_default_802dot1q_t {
    uint16_t vid;
    uint8_t pcp;
};

// One traffic separation entry: VLAN id and NUL-terminated SSID.
constexpr size_t kTrafficSeparationSsidLen = 34;
constexpr size_t kTrafficSeparationEntries = 18;
struct cfg_traffic_separation_policy_t {
    uint16_t vid;
    char ssid[kTrafficSeparationSsidLen];
};
struct cfg_traffic_separation_policy_list_t {
    cfg_traffic_separation_policy_t entries[kTrafficSeparationEntries];
};

// Stores the default 802.1Q settings (vid 1..4094, pcp 0..7). 0 on success,
// -1 for null or a value out of range.
int set_default_802dot1q(const config_default_802dot1q_t* cfg);
// The stored settings, or null before a successful set.
const config_default_802dot1q_t* get_default_802dot1q();

// Stores the traffic separation policy. An entry with an empty SSID is unused;
// a used entry needs vid 1..4094 and an SSID of at most 32 bytes. 0 on
// success, -1 for null or any bad entry (nothing stored then).
int set_traffic_separation_policy(const cfg_traffic_separation_policy_list_t* list);
// The stored policy (null before a successful set) and its used entries.
const cfg_traffic_separation_policy_list_t* get_traffic_separation_policy();
size_t traffic_separation_used_entries();

// The metric reporting policy, as four 32-bit words in host order: word 0
// bytes 0..3 = report interval, STA RSSI threshold, RSSI hysteresis, AP
// channel utilisation threshold; word 1 byte 0 = STA link/traffic statistics
// flag, bit 8 = report unsuccessful association attempts; word 2 = maximum
// reporting rate; word 3 reserved. 0 on success.
int platform_set_policy_cfg(uint32_t word0, uint32_t word1, uint32_t word2, uint32_t word3);

// The stored metric reporting policy, decoded.
struct map_metric_policy_t {
    uint8_t report_interval;
    uint8_t sta_rssi_threshold;
    uint8_t sta_rssi_hysteresis;
    uint8_t ap_channel_utilization_threshold;
    bool sta_link_traffic_stats;
    bool report_unsuccessful_associations;
    uint32_t max_reporting_rate;
};
// Null before platform_set_policy_cfg was called.
const map_metric_policy_t* get_metric_policy();

// Forgets every stored configuration (tests, stack restart).
void map_config_reset();

// malloc for the daemon's platform records: null for 0 or more than
// kPlatformMallocMax bytes, or when malloc fails. Released with free().
constexpr size_t kPlatformMallocMax = 1U << 20;
void* PLATFORM_MALLOC(size_t size);

// One interface of the running stack, as PLATFORM_GET_1905_INTERFACE_INFO
// hands it out (allocated; release with PLATFORM_FREE_1905_INTERFACE_INFO).
constexpr size_t kInterfaceNameMax = 32;
constexpr uint16_t kMediaTypeGigabitEthernet = 0x0001;
struct map_1905_interface_info_t {
    char name[kInterfaceNameMax];  // NUL-terminated
    uint8_t mac[6];
    uint16_t media_type;  // IEEE 1905 media type
    bool up;              // the stack is running on it
};
// Null for a null or unknown name, or before the stack started.
map_1905_interface_info_t* PLATFORM_GET_1905_INTERFACE_INFO(const char* ifname);
void PLATFORM_FREE_1905_INTERFACE_INFO(map_1905_interface_info_t* info);

// A channel / transmit power change for one radio (13 bytes): radio unique
// identifier, transmit power (dBm, 0 = unchanged), primary channel (0 =
// unchanged), bandwidth code (0/1 = 20, 2 = 40, 3 = 80, 4 = 160, 5 = 320 MHz),
// then
// bytes the request passes through unchanged.
struct channel_selection_request_event_t {
    uint8_t radio_id[6];
    uint8_t tx_power;
    uint8_t channel;
    uint8_t bandwidth;
    uint8_t extra_first;
    uint8_t second_channel;
    uint8_t extra_int_low;
    uint8_t extra_last;
};
static_assert(sizeof(channel_selection_request_event_t) == 13, "13-byte record");

// Sends a Channel Selection Request to the agent owning the radio (found in
// the data model by its radio MAC): a Channel Preference TLV that leaves the
// requested channel as the only operable one of the radio's band, and/or a
// Transmit Power Limit TLV. The event is remembered per radio for
// rework_chn_sel. 0 on success; -1 for null, an unknown radio, a channel
// not in any operating class of the radio's band at that bandwidth, or
// nothing to change; a MAP_SEND_* code when sending failed.
int set_channel_selection_request_event(const channel_selection_request_event_t* event);
// Re-sends the last event set for each radio of agent AL_MAC. 0 when at least
// one was sent; -1 when none is stored or the agent is unknown.
int rework_chn_sel(const MAC& al_mac);
// Events remembered (at most kMaxRememberedChannelEvents, the oldest dropped).
constexpr size_t kMaxRememberedChannelEvents = 64;
size_t remembered_channel_events();
// Forgets them (also done by map_config_reset).
void map_channel_events_clear();

// Sends agent AL_MAC a Multi-AP Policy Config Request made of the stored
// configuration: the metric reporting policy (one entry per radio the data
// model knows for the agent, RSSI threshold turned into RCPI) with the
// unsuccessful association policy, the default 802.1Q settings and the
// traffic separation policy (used entries). MAP_SEND_* result;
// MAP_SEND_BAD_ARGUMENT when nothing is stored.
int map_send_stored_policy_config(const MAC& al_mac);

// Credentials of one VAP that the controller puts into its M2s.
constexpr size_t kCredentialSsidMax = 32;
constexpr size_t kCredentialKeyMax = 64;
constexpr size_t kMaxCredentials = 16;
enum : uint8_t {
    MAP_CRED_FRONTHAUL = 1 << 0,  // fronthaul BSS
    MAP_CRED_BACKHAUL = 1 << 1,   // backhaul BSS
};
struct map_vap_credential_t {
    char ssid[kCredentialSsidMax + 1];        // 1..32 bytes, NUL-terminated
    char network_key[kCredentialKeyMax + 1];  // NUL-terminated; empty for an open network
    uint16_t auth_type;                       // WSC Authentication Type bits
    uint16_t encr_type;                       // WSC Encryption Type bits
    uint8_t rf_bands;                         // WSC RF band bits it applies to (0 = every band)
    uint8_t bss_type;                         // MAP_CRED_* bits
    uint8_t hidden;                           // SSID not broadcast
};
struct map_credential_config_t {
    uint8_t count;  // used entries, at most kMaxCredentials
    map_vap_credential_t creds[kMaxCredentials];
};

// Stores the VAP credentials (a copy). -1 for null, a count over the cap, an
// empty or unterminated SSID or key, a key of 1..7 bytes or a credential with
// no BSS type; nothing stored then. A count of 0 forgets them. The replaced
// copy is wiped; the SSID of the first backhaul credential becomes the data
// model's backhaul SSID (map_set_backhaul_ssid). The controller's next M2s
// carry the new credentials: send the agents an autoconfiguration renew.
int set_credential_config(const map_credential_config_t* config);
// Overwrites every key of CONFIG (a caller's copy it no longer needs).
void map_credential_config_wipe(map_credential_config_t* config);
// The stored credentials, or null when none are stored.
const map_credential_config_t* map_get_m2_config();
