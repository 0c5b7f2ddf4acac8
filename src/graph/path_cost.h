// Shortest paths from the controller's device through the mesh, by link cost.
// Free functions over a constant graph; nothing is kept between calls.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "graph/graph.h"

class Logger;

struct PathEntry {
    const Node* node = nullptr;
    const Device* prev = nullptr;  // device the best path comes from; null for root / unreached
    const Link* link = nullptr;    // last hop of the best path
    uint32_t cost = kUnreachableCost;
    uint32_t link_cost = kUnreachableCost;  // cost of the last hop alone
    bool in_work = false;                   // search-internal: still on the work list
};

using Paths = std::unordered_map<MAC, PathEntry>;

// Every link of every device, unassociated measurements included (possible paths).
Paths find_shortest_paths_for_devices(Logger& log, const Graph& graph);
// As the previous, leaving out unassociated measurements taken more than MAX_AGE_MS
// before NOW_MS.
Paths find_shortest_paths_for_devices(Logger& log, const Graph& graph, int64_t now_ms,
                                      int64_t max_age_ms);
// Only links carrying traffic now: no unassociated links, and a wired link to a
// device only when that device reports the wired link back.
Paths find_shortest_working_paths_for_devices(Logger& log, const Graph& graph);
// As the previous, with client stations as nodes too.
Paths find_shortest_working_paths(Logger& log, const Graph& graph);
// For each device that could serve station STA on MEDIUM, keyed by the device's MAC:
// node = the station, prev = the device, link = its link to the station, cost = the
// device's working path cost plus that hop.
Paths find_shortest_paths_for_clients(Logger& log, const Graph& graph, const MAC& sta,
                                      const Medium& medium);
// Cost of the client's present path: its serving device's working cost plus its
// association hop; 1000000 when it has none.
uint32_t find_working_path_cost_for_client(Logger& log, const Graph& graph, const Sta* sta);

// Age limit of an unassociated measurement used for a client path.
constexpr int64_t kMaxUnassocAgeMs = 45000;

std::string to_string(const Paths& paths);
