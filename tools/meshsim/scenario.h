// Scenario of the mesh simulator: the agents of a mesh (AL and interface
// MACs, radios, BSSs, backhaul), its clients (capabilities, signal per audible
// BSS) and a timeline of moves and faults. Loaded from JSON and validated as a
// whole; the first bad field is named in the error text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "common/mac.h"
#include "faults.h"

namespace meshsim {

constexpr size_t kMaxAgents = 256;
constexpr size_t kMaxRadios = 4;
constexpr size_t kMaxBssPerRadio = 8;
constexpr size_t kMaxEthernet = 8;
constexpr size_t kMaxClients = 4096;
constexpr size_t kMaxEvents = 10000;
constexpr size_t kMaxScenarioBytes = 4u << 20;

enum class Band { b24, b5, b6 };
const char* band_name(Band b);  // "2.4", "5", "6"

struct BssConf {
    BSSID bssid;
    std::string ssid;
    std::string key;         // set by an M2 (never logged)
    uint16_t auth_type = 0;  // WSC authentication type from an M2 (0: not configured)
    uint16_t encr_type = 0;  // WSC encryption type from an M2 (0: not configured)
    bool backhaul = false;   // a backhaul BSS (extenders' backhaul STAs join it)
    bool fronthaul = true;   // clients join it
};

struct RadioConf {
    MAC id;
    Band band = Band::b24;
    uint8_t op_class = 81;
    uint8_t channel = 1;
    uint8_t tx_power = 20;  // dBm
    // Width in use (20, 40, 80, 160, 320 MHz); above 20 MHz the wide class and its centre
    // channel (40 MHz 5 GHz classes list primary channels: centre is the channel then).
    uint16_t bandwidth_mhz = 20;
    uint8_t wide_class = 0;
    uint8_t centre = 0;
    uint8_t streams = 2;  // 1..4
    bool ht = true, vht = false, he = false;
    std::vector<BssConf> bsss;
};

struct EthConf {
    std::string name;
    MAC mac;
};

enum class BackhaulKind { ethernet, wifi };

// How an agent's side of the WSC exchange goes wrong, to show the failure.
enum class WscFault {
    none,
    wrong_key,   // its M1 carries a public key that is not its own
    corrupt_m2,  // the M2s it receives have a byte altered on the way
};
const char* wsc_fault_name(WscFault f);
bool wsc_fault_from_name(const std::string& name, WscFault& out);

// How an agent reaches its parent. The parent "controller" is the controller
// on the gateway (the co-located agent's uplink).
struct BackhaulConf {
    BackhaulKind kind = BackhaulKind::ethernet;
    std::string parent;            // agent name or "controller"
    std::string interface;         // ethernet: own port name
    std::string parent_interface;  // ethernet: parent's port name (not for the controller)
    MAC bsta;                      // wifi: the backhaul STA's MAC
    BSSID bssid;                   // wifi: the parent's backhaul BSS
    FaultSpec faults;              // what frames crossing this link meet
};

// The vendor (HKT) agent of one of the maker's extenders (the agent's optional "hkt"
// block). It is its own 1905 endpoint with its own MAC, beside the Multi-AP agent.
struct HktConf {
    bool enabled = false;
    MAC mac;  // default: the AL MAC with its last byte xor 0xe0
    uint32_t hkt_version = 3;
    uint32_t capabilities_version = 1;
    uint32_t config_number = 1;
    std::string model;     // default: the agent's model
    std::string hostname;  // default: the agent's name
    std::string sw_version = "1.0.0";
    std::string vendor = "Meshsim";
    std::string product_class = "extender";
    std::string ipv4;  // default: 192.168.1.(100 + agent index)
    unsigned heartbeat_s = 10;
    uint32_t minders_present = 0x7;
    int32_t config_code = 0;           // the answer to a configuration request
    std::vector<uint8_t> config_data;  // its data (hex in the scenario)
};

// Which unassociated STA measurements an agent offers in its AP Capability TLV: on
// the channels its BSSs operate on, on other channels, both or none.
enum class UnassocMetrics { both, on_channel, off_channel, none };

struct AgentConf {
    std::string name;
    MAC al_mac;
    std::string serial, manufacturer, model;
    std::vector<EthConf> ethernet;
    std::vector<RadioConf> radios;
    BackhaulConf backhaul;
    int profile = 2;
    // Signal (dBm) of the backhaul BSSs the backhaul STA hears.
    std::map<BSSID, int> bsta_rssi;
    HktConf hkt;
    WscFault wsc_fault = WscFault::none;
    // Reason code (4, 5 or 6) with which the agent refuses every backhaul steering
    // request; 0: it decides from what its backhaul STA hears.
    int backhaul_steer_reject = 0;
    // What the agent's own frames meet (both ways).
    FaultSpec faults;
    // Agents that are not ours: what they measure, what they add to every message, the
    // order of their TLVs, and the messages they never answer (by type).
    UnassocMetrics unassoc_metrics = UnassocMetrics::both;
    bool extra_tlvs = false;
    bool reversed_tlvs = false;
    std::vector<uint16_t> never_answers;
};

struct ClientConf {
    MAC mac;
    std::string name;
    bool band24 = true, band5 = false, band6 = false;
    bool ht = true, vht = false, he = false, btm = false, rrm = false;
    bool steerable = true;  // accepts a BTM request and moves
    // How it answers steering (the client's "steering" block).
    int btm_status = -1;             // 0..8 the BTM status it answers; -1: by "steerable"
    unsigned move_after_s = 0;       // accepts, then moves this much later
    bool never_move = false;         // accepts and stays where it is
    unsigned roam_back_after_s = 0;  // returns to the BSS it left this much later (0: never)
    unsigned rejoin_after_s = 5;     // after a forced disassociation, joins again
    uint8_t streams = 1;
    BSSID bssid;                // zero: not associated at start
    std::map<BSSID, int> rssi;  // audible BSSs, dBm
};

struct EventConf {
    enum Kind {
        roam,
        rssi,
        join,
        leave,
        silent,
        speak,
        backhaul_down,
        backhaul_up,
        hkt_silent,  // the agent's vendor (HKT) side stops answering and beating
        hkt_speak,
        channel,  // a radio moves to another channel by itself (radar, the user)
        // The agent drops what its M2s configured and runs the scenario's BSSs again, without
        // telling the controller (a reset behind its back); only the SSID sync brings it back.
        forget_credentials,
        bsta_rssi,  // what the agent's backhaul STA hears changes
    };
    long long at_ms = 0;
    Kind kind = roam;
    size_t index = 0;             // client (roam, rssi, join, leave) or agent (the others)
    BSSID bssid;                  // roam, join
    std::map<BSSID, int> levels;  // rssi, bsta_rssi: new signal per BSS
    // channel: the agent's radio, its new primary channel and width, and why.
    size_t radio = 0;
    uint8_t primary = 0;
    uint16_t bandwidth_mhz = 20;
    std::string reason;
};

struct Scenario {
    MAC controller_al_mac;     // the controller the co-located agent neighbours
    MAC controller_interface;  // its interface MAC
    unsigned discovery_interval_s = 60;
    FaultSpec faults;   // every frame of the mesh
    uint64_t seed = 1;  // of the faults' random draws
    std::vector<AgentConf> agents;
    std::vector<ClientConf> clients;
    std::vector<EventConf> timeline;  // sorted by time

    int find_agent(const std::string& name) const;
};

// Parses and validates TEXT. 0, or -1 with ERROR naming the bad field, e.g.
// scenario: "agents[2].radios[0].band": expected "2.4", "5" or "6", got "7"
int scenario_parse(const std::string& text, Scenario& out, std::string* error);
// Parses a "faults" object given on its own (the command line's --faults), with
// "seed" allowed. 0, or -1 with ERROR naming the bad field.
int faults_parse(const std::string& text, FaultSpec& out, uint64_t* seed, bool* seed_set,
                 std::string* error);
// The name of a message type as the scenario writes it ("AP_METRICS_QUERY"), and back.
std::string message_type_name(uint16_t type);
bool message_type_from_name(const std::string& name, uint16_t& out);
// Reads PATH (at most kMaxScenarioBytes) and parses it.
int scenario_load(const std::string& path, Scenario& out, std::string* error);

}  // namespace meshsim
