// The client path search of a steering tick, and the associations it starts from. Every client's
// candidate paths start with the same device-to-root costs, so the tick computes those once,
// indexes every link of the mesh by the station it reaches, and answers each client from its own
// links. The results are those of find_shortest_paths_for_clients and
// find_working_path_cost_for_client, which search the whole mesh for each call.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "graph/path_cost.h"

class ClientPathIndex {
  public:
    // Device working paths and the links of every station, from GRAPH as it is now.
    void build(Logger& log, const Graph& graph);
    bool built() const { return built_; }
    void clear();

    // As find_shortest_paths_for_clients(log, graph, sta, medium) at time NOW_MS.
    Paths paths_for(const Graph& graph, const MAC& sta, Medium medium, int64_t now_ms) const;
    // As find_working_path_cost_for_client(log, graph, sta).
    uint32_t working_cost(const Sta* sta) const;
    const Paths& device_paths() const { return device_paths_; }
    // The association of station STA as Sta::get_working_device and
    // Device::find_wireless_link give it (the first device in graph order holding a
    // wireless link to it); null when it has none.
    struct Serving {
        Device* device;
        WirelessLink* link;
    };
    const Serving* serving(const MAC& sta) const;

  private:
    struct Hop {
        const Device* device;
        const Link* link;
        uint32_t device_cost;
    };
    Paths device_paths_;
    std::unordered_map<MAC, std::vector<Hop>> by_sta_;
    std::unordered_map<MAC, Serving> serving_;
    bool built_ = false;
};
