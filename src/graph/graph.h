// The topology graph: devices and stations keyed by MAC, owning them.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "common/mac.h"
#include "graph/device.h"
#include "graph/sta.h"

// Hash of a MAC for the graph's tables: the sum of its six bytes.
struct MacSumHash {
    size_t operator()(const MAC& m) const noexcept {
        size_t s = 0;
        for (size_t i = 0; i < 6; ++i)
            s += m[i];
        return s;
    }
};

class Graph {
  public:
    Graph() = default;
    ~Graph();
    Graph(const Graph&) = delete;
    Graph& operator=(const Graph&) = delete;

    // Inserts NODE under its MAC and takes ownership. When the MAC is already present
    // the existing node stays and NODE is destroyed; the result is then false.
    bool add_node(Node* node);
    Node* find_node(const MAC& mac) const;
    // The device with that AL MAC, else the first device (in the order of `nodes`) with a
    // 1905 interface of that MAC: answered from an index of every device's interfaces,
    // rebuilt on the first question after a node came or went or a device's interfaces
    // changed (Device::update_interfaces says so).
    Device* find_device(const MAC& mac) const;
    void interfaces_changed() const { interfaces_valid_ = false; }
    // The node with that MAC when it is a station.
    Sta* find_sta(const MAC& mac) const;
    // Deletes the node, the nodes of its other interfaces (a device's backhaul STA) and
    // every link pointing at it.
    void delete_node(const MAC& mac);
    // The first device (in the order of `nodes`) holding an association link to the
    // station STA, or null: Sta::get_working_device. Answered from an index of every
    // association link, rebuilt on the first question after an association link or a node
    // came or went (Device::add_link and delete_link say so).
    Device* serving_device(const Sta& sta) const;
    void association_links_changed() const { serving_valid_ = false; }

    Device* root = nullptr;
    Device* local_agent = nullptr;
    std::unordered_map<MAC, Node*, MacSumHash> nodes;

  private:
    void delete_node(const MAC& mac, std::vector<MAC>& in_progress);

    mutable std::unordered_map<MAC, Device*> serving_;
    mutable bool serving_valid_ = false;
    mutable std::unordered_map<MAC, Device*> interface_owner_;
    mutable bool interfaces_valid_ = false;
};
