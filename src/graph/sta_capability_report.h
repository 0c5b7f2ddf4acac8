// The Client Capability Report decoder. Unlike the other decoders it reads the graph (the
// client must be a station of it, the reported BSS gives the SSID and the radio) and the
// stack's station table, so it lives with the graph.
#pragma once

#include <cstddef>
#include <cstdint>

#include "graph/graph.h"
#include "map/cmdu.h"
#include "messages/optional.h"

struct StaCapabilityReport {
    MAC sta;
    BSSID bssid;
    StaCapabilityInfo capabilities;
};

// Empty (after the "is missing" warning) unless a Client Capability Report TLV with result
// 0 and a non-empty frame body came for a station of GRAPH that the stack knows, and the
// frame body parses.
optional<StaCapabilityReport> parse_sta_capability_report(CMDU* cmdu, const Graph& graph);

// The capabilities a (re)association request body BODY/LEN tells, for a station served
// through BSSID by a device of GRAPH (its radio gives the band, its BSS the SSID). False
// when the body does not parse.
bool sta_capabilities_from_assoc_body(const Graph& graph, const BSSID& bssid, const uint8_t* body,
                                      size_t len, StaCapabilityInfo& out);
