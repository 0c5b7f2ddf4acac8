// The REST routes over the topology graph ("/debug/graph", "/1/topology",
// "/1/aps/...", "/debug/aps", the capability, metric and scan routes, "/debug/context")
// register themselves from graph_routes.cc. The settings of "/debug/unassoc-metrics"
// are kept here until the metrics collection reads them.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <map>
#include <string>

#include "common/mac.h"
#include "graph/graph.h"

class Context;

// Devices in the documents' order: the root, the local agent, then the others as the
// graph holds them.
template <class F>
void for_each_device(const Graph& g, F f) {
    if (g.root)
        f(*g.root);
    if (g.local_agent && g.local_agent != g.root)
        f(*g.local_agent);
    for (const auto& kv : g.nodes)
        if (kv.second->kind() == Node::DEVICE && kv.second != g.root && kv.second != g.local_agent)
            f(*static_cast<const Device*>(kv.second));
}

// One device of "/1/topology" into AP: JSONTopologyApRenderer's object and its
// "extender" member (serial number, onboarding state and online status of an admitted
// extender, else null).
void render_topology_ap(rapidjson::Value& ap, rapidjson::Document::AllocatorType& alloc,
                        Context& ctx, const Graph& g, const Device& d, int64_t now);

// Which agents' unassociated STA measurements to use for a device.
enum class UnassocMetricsSource { AGENT, HKT, ALL };
const char* unassoc_metrics_source_to_string(UnassocMetricsSource t);
bool unassoc_metrics_source_from_string(const std::string& s, UnassocMetricsSource& out);

struct UnassocMetricsSetting {
    bool fronthaul = true;  // measure clients (true) or backhaul STAs (false)
    UnassocMetricsSource type = UnassocMetricsSource::ALL;
};

// Per-device settings set with PUT "/debug/unassoc-metrics", at most one per agent.
class UnassocMetricsSettings {
  public:
    static constexpr size_t kMaxEntries = 64;
    // False when the table is full and AL_MAC is new.
    bool set(const MAC& al_mac, const UnassocMetricsSetting& s);
    const UnassocMetricsSetting* find(const MAC& al_mac) const;
    const std::map<MAC, UnassocMetricsSetting>& entries() const { return entries_; }
    void clear() { entries_.clear(); }

  private:
    std::map<MAC, UnassocMetricsSetting> entries_;
};

// The process's settings (loop thread only).
UnassocMetricsSettings& unassoc_metrics_settings();

// Referenced by the REST minder so that the static library keeps graph_routes.o
// (and with it the static route registrations).
void rest_graph_routes_linked();
