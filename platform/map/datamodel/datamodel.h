// The Multi-AP stack's data model: the agents (ALE nodes) the controller knows,
// their radios, BSSs and associated stations, and the topology tree rooted at
// the controller's own ALE.
//
// Every table is capped (MAP_MAX_*), so no input can grow memory without
// bound; a full table refuses the new entry with one map_log line (at most one
// per table per second).
//
// Pointer validity. A pointer handed out here (map_ale_info_t*,
// map_radio_info_t*, map_bss_info_t*, map_sta_info_t*) stays valid until the
// next call that changes the model: the map_update_* functions,
// map_update_from_cmdu, topology_tree_insert, map_rebuild_topology_tree,
// map_remove_ale, map_remove_sta, map_remove_stale_ales, disassemble_tree,
// map_datamodel_init and map_datamodel_reset. The stack makes these calls only
// from its own CMDU handler (which runs before the daemon's handlers for the
// same CMDU) and from its timers, so a pointer taken inside one callback is
// safe for that callback and must not be kept across loop iterations. In
// practice an ALE node and its radios live until the ALE is removed; a BSS
// entry is rewritten in place by an Operational BSS update; a station lives
// until it leaves or its ALE is removed.
//
// Lists returned by ktree_elements_at_depth are owned by the caller and hold
// borrowed ALE pointers (same validity as above); release them with
// delete_array_list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/mac.h"

struct CMDU;
struct map_sta_assoc_caps;

// ---- Caps ------------------------------------------------------------------
constexpr int MAP_MAX_AGENTS = 64;  // ALE nodes, the root included
constexpr int MAP_MAX_RADIOS_PER_AGENT = 4;
constexpr int MAP_MAX_BSS_PER_RADIO = 16;
constexpr int MAP_MAX_INTERFACES_PER_AGENT = 16;
constexpr int MAP_MAX_NEIGHBORS_PER_AGENT = 32;  // 1905 neighbours over all interfaces
constexpr int MAP_MAX_OP_CLASSES_PER_RADIO = 32;
constexpr int MAP_MAX_CHANNELS_PER_OP_CLASS = 60;  // the largest global class has 59
constexpr int MAP_MAX_STATIONS = 512;
constexpr size_t MAP_MAX_ASSOC_FRAME_LEN = 1024;  // association request body kept per station

// Radio index and band mask as the stack encodes a radio's band.
constexpr uint8_t MAP_RADIO_INDEX_2G = 0;
constexpr uint8_t MAP_RADIO_INDEX_5G = 1;
constexpr uint8_t MAP_RADIO_INDEX_6G = 2;
constexpr uint8_t MAP_RADIO_INDEX_UNKNOWN = 0xFF;
constexpr uint16_t MAP_BAND_MASK_2G = 0x10;
constexpr uint16_t MAP_BAND_MASK_5G_LOW = 0x20;   // channels 36-64
constexpr uint16_t MAP_BAND_MASK_5G_HIGH = 0x40;  // channels 100-177
constexpr uint16_t MAP_BAND_MASK_5G = 0x80;       // both halves of 5 GHz
constexpr uint16_t MAP_BAND_MASK_6G = 0x100;

// Radio capability flags (map_radio_info_t::capability_flags).
constexpr uint8_t MAP_RADIO_HAS_BASIC_CAPS = 0x01;
constexpr uint8_t MAP_RADIO_HAS_HT = 0x02;
constexpr uint8_t MAP_RADIO_HAS_VHT = 0x04;
constexpr uint8_t MAP_RADIO_HAS_HE = 0x08;
constexpr uint8_t MAP_RADIO_HAS_OPERATING_CHANNEL = 0x10;

// ---- Records ---------------------------------------------------------------
struct map_ale_info_t;
struct map_radio_info_t;

struct map_op_class_info_t {
    uint8_t op_class = 0;
    uint8_t max_tx_power_eirp = 0;  // dBm
    // Channels of the class (global operating class table) that the radio can
    // use, i.e. without the non-operable ones. Empty for a class the table
    // does not know.
    uint8_t num_channels = 0;
    uint8_t channels[MAP_MAX_CHANNELS_PER_OP_CLASS] = {};
    uint8_t num_non_operable = 0;
    uint8_t non_operable_channels[MAP_MAX_CHANNELS_PER_OP_CLASS] = {};
};

struct map_bss_info_t {
    BSSID bssid;
    uint8_t ssid_len = 0;
    char ssid[33] = {};  // NUL-terminated copy (an SSID holding NUL bytes is cut there)
    uint8_t is_fronthaul = 0;
    uint8_t is_backhaul = 0;  // its SSID is the configured backhaul SSID
    map_radio_info_t* radio = nullptr;
};

struct map_radio_info_t {
    MAC radio_id;  // the radio unique identifier
    map_ale_info_t* ale = nullptr;
    uint8_t radio_index = MAP_RADIO_INDEX_UNKNOWN;  // MAP_RADIO_INDEX_*
    uint16_t band_mask = 0;                         // MAP_BAND_MASK_*, 0 while unknown
    uint8_t capability_flags = 0;                   // MAP_RADIO_HAS_*
    uint8_t max_bss = 0;                            // from the basic capabilities
    uint8_t num_bss = 0;                            // operational BSSs in bss_list
    map_bss_info_t bss_list[MAP_MAX_BSS_PER_RADIO];
    uint8_t num_op_classes = 0;
    // The reported classes (num_op_classes of them, at most MAP_MAX_OP_CLASSES_PER_RADIO),
    // held for what was reported: 124 bytes a class, where a full table took 4 kB a radio.
    std::vector<map_op_class_info_t> op_classes;
    uint8_t current_op_class = 0;  // from the last Operating Channel Report
    uint8_t current_channel = 0;
    uint8_t current_tx_power = 0;     // dBm
    void* chan_sel_handle = nullptr;  // channel selection service handle, set by its owner
};

struct map_interface_info_t {
    MAC mac;
    uint16_t media_type = 0;  // IEEE 1905.1 media type
    BSSID bssid;              // 802.11 interfaces: the BSS operated or joined
    uint8_t role = 0;         // 802.11 role (0 AP, 4 non-AP station)
};

struct map_neighbor_info_t {
    MAC local_interface;  // the reporting agent's interface
    MAC al_mac;           // the neighbour's AL MAC
    uint8_t bridge_flag = 0;
};

struct map_ale_info_t {
    MAC al_mac;
    uint8_t map_profile = 1;  // from the agent's Multi-AP Profile TLV
    int64_t last_seen_ms = 0;
    char iface_name[16] = {};  // the controller's interface the agent was last heard on

    uint8_t num_interfaces = 0;
    map_interface_info_t interfaces[MAP_MAX_INTERFACES_PER_AGENT];
    uint8_t num_neighbors = 0;
    map_neighbor_info_t neighbors[MAP_MAX_NEIGHBORS_PER_AGENT];
    uint8_t num_radios = 0;
    map_radio_info_t* radios[MAP_MAX_RADIOS_PER_AGENT] = {};

    // WSC M1 attributes (empty until an M1 came).
    uint8_t has_m1 = 0;
    char manufacturer[65] = {};
    char model_name[33] = {};
    char model_number[33] = {};
    char serial_number[33] = {};
    char device_name[33] = {};
    uint8_t rf_bands = 0;  // WSC RF band bits

    // Channel selection: set when a Channel Selection Request went to the agent, cleared
    // by map_reset_chan_sel_flag (a device new to the controller starts over).
    uint8_t first_chan_sel_req_done = 0;
    int64_t last_chan_sel_req_ms = 0;  // when the last one went (get_current_time_ms)

    // Topology tree (read only; changed through topology_tree_insert and
    // map_rebuild_topology_tree). depth is 0 for the root and -1 for an ALE
    // outside the tree.
    map_ale_info_t* parent = nullptr;
    int depth = -1;
    uint8_t num_children = 0;
    map_ale_info_t* children[MAP_MAX_AGENTS] = {};
};

struct map_sta_info_t {
    MAC mac;
    BSSID bssid;                    // the BSS it is associated to
    map_bss_info_t* bss = nullptr;  // null when that BSS is not (yet) known
    map_ale_info_t* ale = nullptr;  // the agent that reported it
    int64_t assoc_time_ms = 0;      // when it associated (clock of get_current_time_ms)
    uint16_t assoc_frame_len = 0;   // (Re)Association Request body, 0 when unknown
    const uint8_t* assoc_frame = nullptr;
    // Capabilities parsed from that body (parse_update_client_capability);
    // null until parsed, cleared with the body when the station moves.
    const map_sta_assoc_caps* caps = nullptr;
};

// Summary of the model.
struct map_datamodel_t {
    map_ale_info_t* root = nullptr;  // the controller's own ALE
    MAC controller_al_mac;
    MAC local_agent_al_mac;  // the co-located agent (zero when none)
    int num_ales = 0;
    int num_stas = 0;
};

// ---- Life cycle and settings -------------------------------------------------

// Clears the model and creates the root ALE for CONTROLLER_AL_MAC (depth 0).
// LOCAL_AGENT_AL_MAC (may be zero) names the co-located agent: it always
// hangs directly under the root (depth 1) and the extenders it or the
// controller sees as 1905 neighbours come below it (depth 2 and further).
// Returns 0, or -1 for a zero controller AL MAC.
int map_datamodel_init(const MAC& controller_al_mac, const MAC& local_agent_al_mac);
// Removes everything, the root included.
void map_datamodel_reset();

map_datamodel_t* get_map_datamodel();

// The controller's Multi-AP profile (1..3, default 2) and the profile used
// for the policy it sends (default: the same).
void map_set_profiles(uint8_t map_profile, uint8_t policy_profile);
uint8_t get_map_profile();
uint8_t get_policy_profile();

// The backhaul SSID the controller configures; BSSs carrying it count as
// backhaul BSSs. An empty SSID makes every BSS a fronthaul one.
void map_set_backhaul_ssid(const uint8_t* ssid, uint8_t ssid_len);
bool is_backhaul_bss_ssid(const uint8_t* ssid, uint8_t ssid_len);

// ---- Look-ups ------------------------------------------------------------------

map_ale_info_t* get_ale(const MAC& al_mac);
map_ale_info_t* get_root_ale_node();
// The ALE's parent in the topology tree; null for the root, an ALE outside
// the tree, or a null argument.
map_ale_info_t* get_parent_ale_node(const map_ale_info_t* ale);
// Radio by its radio unique identifier, over all agents.
map_radio_info_t* get_radio(const MAC& radio_id);
// Radio of AGENT with RADIO_INDEX whose band matches BAND_MASK; its radio id
// is copied into RADIO_MAC (6 bytes). An exact band match wins; otherwise a
// radio of the same index whose band overlaps (a whole-5 GHz radio serves a
// low or high request and the other way round). 0, or -1 when the agent or
// such a radio is unknown or RADIO_MAC is null.
int get_radio_id_mac(const MAC& al_mac, uint8_t radio_index, uint16_t band_mask,
                     uint8_t* radio_mac);
map_sta_info_t* get_sta(const MAC& sta_mac);
// Clears the agent's channel-selection flag (first_chan_sel_req_done): 0, or -1 when
// the agent is unknown.
int map_reset_chan_sel_flag(const MAC& al_mac);
// BSS by BSSID over all agents (null when unknown).
map_bss_info_t* map_find_bss(const BSSID& bssid);

// ---- Topology tree -------------------------------------------------------------

// Makes CHILD a child of PARENT (moving it, with its subtree, from where it
// was). Refused (-1) when either is null or unknown, CHILD is the root, or
// PARENT lies in CHILD's subtree. 0 on success.
int topology_tree_insert(map_ale_info_t* parent, map_ale_info_t* child);
// Recomputes the tree from the neighbour tables (run by the neighbour
// updates): the co-located agent under the root, then breadth first over the
// 1905 neighbour relation (taken as symmetric), keeping an ALE's parent when
// it is still one of the nearest choices. ALEs that no path reaches keep the
// place topology_tree_insert gave them if their parent is in the tree, and
// leave the tree otherwise.
void map_rebuild_topology_tree();
// Height of the tree: the largest depth of any ALE in it (0: only the root,
// 1: root and co-located agent, 2 and more: extenders). -1 without a root.
int map_get_topology_tree_height();
// The ALEs at DEPTH below SUBTREE_ROOT (depth 0 is SUBTREE_ROOT itself), in
// tree order. Never null for a valid root (an empty list instead); null when
// SUBTREE_ROOT is null or DEPTH negative.
struct array_list_t;
array_list_t* ktree_elements_at_depth(map_ale_info_t* subtree_root, int depth);
// Writes the tree to the stack's log (controller module, info level), one
// line per ALE: indentation by depth, AL MAC, radios and BSS counts.
void dump_topology_tree();
// The same text, for tests and debug routes.
std::string map_format_topology_tree();
// Tears the tree down: every ALE but the root is removed with its radios,
// BSSs and stations; the root stays, without children.
void disassemble_tree();

// ---- Lists ---------------------------------------------------------------------

// An ordered list of borrowed object pointers (at most MAP_MAX_AGENTS +
// MAP_MAX_STATIONS entries).
array_list_t* new_array_list();
// Appends OBJ; -1 when the list is full or either argument is null.
int push_object(array_list_t* list, void* obj);
void* first_object(array_list_t* list);
// The object after OBJ (the first object equal to it), or null at the end.
void* get_next_list_object(array_list_t* list, void* obj);
// Removes and returns the first object; null when empty.
void* pop_object(array_list_t* list);
int list_get_size(const array_list_t* list);
// Frees the list (not the objects). Null is ignored.
void delete_array_list(array_list_t* list);

// ---- Updates on plain parameters -------------------------------------------------

// The ALE for AL_MAC, created when new and placed in the tree at once if the
// neighbour tables reach it (depth -1 otherwise). Null for a zero MAC or when
// the table is full. Refreshes last_seen_ms.
map_ale_info_t* map_update_ale(const MAC& al_mac);
// Removes the ALE (never the root) with its radios and stations, then
// rebuilds the tree: ALEs below it that another path reaches move there, the
// others leave the tree (depth -1) but stay known. -1 when unknown or the root.
int map_remove_ale(const MAC& al_mac);
// Removes every ALE (root and co-located agent excepted) not seen for
// MAX_AGE_MS; returns how many went.
int map_remove_stale_ales(int64_t max_age_ms);

// Device Information: replaces the ALE's interfaces (beyond the cap dropped
// with a log line).
int map_update_ale_interfaces(map_ale_info_t* ale, const map_interface_info_t* ifs, int count);
// 1905 neighbours: replaces the neighbour table, then rebuilds the tree.
int map_update_ale_neighbors(map_ale_info_t* ale, const map_neighbor_info_t* nbrs, int count);
void map_update_ale_profile(map_ale_info_t* ale, uint8_t profile);
// M1 attributes; texts are cut to their field sizes.
int map_update_ale_m1(map_ale_info_t* ale, const char* manufacturer, const char* model_name,
                      const char* model_number, const char* serial_number, const char* device_name,
                      uint8_t rf_bands);
void map_update_ale_iface_name(map_ale_info_t* ale, const char* iface_name);

// The radio RADIO_ID of ALE, created when new; a radio id that belonged to
// another ALE moves to this one (reset, the old owner loses it). Null when ALE
// is null, the id is zero, or the agent's radio table is full.
map_radio_info_t* map_update_radio(map_ale_info_t* ale, const MAC& radio_id);
// One operating class of the basic capabilities.
struct map_op_class_param_t {
    uint8_t op_class = 0;
    uint8_t max_tx_power_eirp = 0;
    uint8_t num_non_operable = 0;
    const uint8_t* non_operable_channels = nullptr;
};
// AP Radio Basic Capabilities: max BSS, operating classes (replaced whole;
// classes beyond the cap are dropped with a log line); radio index and band
// mask are derived from the classes.
int map_update_radio_basic_caps(map_radio_info_t* radio, uint8_t max_bss,
                                const map_op_class_param_t* classes, int count);
void map_update_radio_capability_flag(map_radio_info_t* radio, uint8_t flag);
// Operating Channel Report: current operating class, channel, transmit power.
int map_update_radio_operating_channel(map_radio_info_t* radio, uint8_t op_class, uint8_t channel,
                                       uint8_t tx_power);
// AP Operational BSS for one radio: replaces its BSS list.
struct map_bss_param_t {
    BSSID bssid;
    uint8_t ssid_len = 0;
    const uint8_t* ssid = nullptr;
};
int map_update_radio_bss_list(map_radio_info_t* radio, const map_bss_param_t* bss, int count);

// A station associated to BSSID as reported by ALE; SECONDS_SINCE_ASSOC
// dates the association back. Created when new; null when the table is
// full or the MAC is zero.
map_sta_info_t* map_update_sta(map_ale_info_t* ale, const MAC& sta_mac, const BSSID& bssid,
                               uint32_t seconds_since_assoc);
// Keeps the (Re)Association Request body of a known station (cut to
// MAP_MAX_ASSOC_FRAME_LEN). -1 for an unknown station.
int map_update_sta_assoc_frame(const MAC& sta_mac, const uint8_t* body, size_t len);
// Parses the (Re)Association Request body of station STA_MAC (the 5 GHz step
// and the SSID come from the BSS it is associated to, when known) and keeps
// the capabilities on the station. 0, or -1 for an unknown station, a missing
// body or a body that yields nothing (the previous capabilities stay).
int parse_update_client_capability(const MAC& sta_mac, const uint8_t* body, size_t len);
// The same from a Client Capability Report CMDU (Client Info + a successful
// Client Capability Report); the body is also kept as the station's frame.
int parse_update_client_capability(const CMDU* cmdu);
int map_remove_sta(const MAC& sta_mac);
// Associated Clients of one agent: the stations ALE reported and that it no
// longer lists are removed; the others are updated.
struct map_sta_param_t {
    MAC mac;
    BSSID bssid;
    uint32_t seconds_since_assoc = 0;
};
int map_update_ale_stations(map_ale_info_t* ale, const map_sta_param_t* stas, int count);

// ---- Updates from decoded CMDUs ----------------------------------------------------

// Folds a received CMDU into the model: Topology Response (Device
// Information, 1905 neighbours, AP Operational BSS, Associated Clients,
// Multi-AP Profile), AP Capability Report (AP Radio Basic, HT, VHT, HE
// Capabilities), AP-Autoconfiguration WSC carrying an M1 (AP Radio Basic
// Capabilities and the M1's manufacturer, model, serial number, RF bands),
// Operating Channel Report and Client Capability Report (association frame).
// Other types are ignored (0). Returns 0, or -1 when the CMDU is null, its
// sender is unknown where it must be known, or a record (or part of one: a
// full table) is refused. What could be kept is kept either way, so -1 is
// for logging: it is no reason to withhold the CMDU from the daemon.
int map_update_from_cmdu(const CMDU* cmdu);

// The Serial Number attribute of a WSC M1 attribute list, NUL-terminated into
// OUT (at most OUT_LEN - 1 bytes). 0, or -1 when the list is malformed, has no
// serial number, or an argument is null/zero.
int get_serial_number_from_M1(const uint8_t* m1, size_t len, char* out, size_t out_len);
