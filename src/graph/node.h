// A vertex of the topology graph: a Multi-AP device or a station.
#pragma once

#include <cstdint>
#include <string>

#include "common/mac.h"

class Graph;
class Logger;

class Node {
  public:
    enum Kind : int { DEVICE = 1, STA = 2 };

    Node(const std::string& name, const MAC& mac, int64_t now_ms)
        : name(name), mac(mac), last_seen_ms(now_ms), first_seen_ms(now_ms) {}
    virtual ~Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    virtual int kind() const = 0;
    // Multi-line dump of the node into LOG (debug level).
    virtual void describe(Logger& log, const Graph& graph) const = 0;

    // "name MAC".
    std::string label() const { return name + " " + mac.to_string(); }
    // The graph holding this node (set by Graph::add_node); null before.
    const Graph* graph() const { return graph_; }

    std::string name;
    MAC mac;
    int64_t last_seen_ms;
    int64_t first_seen_ms;

  private:
    friend class Graph;
    const Graph* graph_ = nullptr;
};
