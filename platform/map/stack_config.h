// The Multi-AP stack's fixed parameters, read once at start from
// "/configs/easymesh/map_stack.json" (under $OZR_ROOT). The file is shared with
// the mesh simulator and the tests; docs/stack.md documents every key.
//
// With no file at all the stack runs with development defaults that need no
// privileges: the segment transport on kDefaultSegment with one interface
// "ozr0" whose MAC (and so the AL MAC) is kDefaultInterfaceMac.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/mac.h"
#include "map/map_config.h"

constexpr const char* kMapStackConfigPath = "/configs/easymesh/map_stack.json";
constexpr size_t kMapStackConfigMaxBytes = 64 * 1024;
constexpr const char* kDefaultInterfaceName = "ozr0";
constexpr const char* kDefaultInterfaceMac = "02:6f:7a:72:00:01";

enum class MapTransportKind { raw, segment };

struct MapStackInterface {
    std::string name;     // system interface (raw) or logical name (segment)
    MAC mac;              // zero for a raw interface whose MAC comes from the system
    std::string segment;  // segment transport: "GROUP:PORT" of this interface
};

struct MapStackConfig {
    MapTransportKind transport = MapTransportKind::segment;
    std::string segment;  // "GROUP:PORT" of interfaces without their own
    std::vector<MapStackInterface> interfaces;
    MAC al_mac;        // zero until known: a raw first interface without a configured MAC
    MAC agent_al_mac;  // the co-located agent's AL MAC; zero when there is none
    int profile = 2;   // the controller's Multi-AP profile
    std::string pcap;  // capture file, used as written; empty: no capture
    uint64_t pcap_max_bytes = 16u << 20;
    unsigned discovery_interval_s = 60;
    unsigned rx_max_frames_per_s = 2000;
    bool from_file = false;  // false: the defaults (no file)
    // VAP credentials the controller's M2s carry from start (set_credential_config);
    // the platform's VAP configuration replaces them. Empty: none until then.
    std::vector<map_vap_credential_t> credentials;
};

// The configuration used when there is no file.
MapStackConfig map_stack_default_config();

// Parses the JSON text of map_stack.json into OUT. 0 on success; -1 with one
// error text naming the bad key in ERROR (not logged).
int map_stack_config_parse(const std::string& text, MapStackConfig& out, std::string* error);

// Loads ozr_path(kMapStackConfigPath): the defaults when the file does not
// exist, the file's values otherwise. 0 on success; -1 when the file cannot be
// read or is malformed, with the error text in ERROR and logged.
int map_stack_config_load(MapStackConfig& out, std::string* error = nullptr);

const char* map_transport_kind_name(MapTransportKind kind);
