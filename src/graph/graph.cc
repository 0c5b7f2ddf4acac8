#include "graph/graph.h"

Graph::~Graph() {
    for (auto& kv : nodes)
        delete kv.second;
}

bool Graph::add_node(Node* node) {
    if (!node)
        return false;
    auto res = nodes.emplace(node->mac, node);
    if (!res.second) {
        delete node;
        return false;
    }
    node->graph_ = this;
    serving_valid_ = false;
    interfaces_valid_ = false;
    return true;
}

Device* Graph::serving_device(const Sta& sta) const {
    if (!serving_valid_) {
        serving_.clear();
        for (const auto& kv : nodes) {
            if (kv.second->kind() != Node::DEVICE)
                continue;
            Device* d = static_cast<Device*>(kv.second);
            for (const Link* l : d->links) {
                if (l->kind() != Link::WIRELESS)
                    continue;
                const Node* far = find_node(l->to);
                if (far && far->kind() == Node::STA)
                    serving_.emplace(l->to, d);
            }
        }
        serving_valid_ = true;
    }
    auto it = serving_.find(sta.mac);
    return it == serving_.end() ? nullptr : it->second;
}

Node* Graph::find_node(const MAC& mac) const {
    auto it = nodes.find(mac);
    return it == nodes.end() ? nullptr : it->second;
}

Device* Graph::find_device(const MAC& mac) const {
    Node* n = find_node(mac);
    if (n && n->kind() == Node::DEVICE)
        return static_cast<Device*>(n);
    if (!interfaces_valid_) {
        interface_owner_.clear();
        for (const auto& kv : nodes) {
            if (kv.second->kind() != Node::DEVICE)
                continue;
            Device* d = static_cast<Device*>(kv.second);
            for (const LocalInterface& i : d->interfaces)
                interface_owner_.emplace(i.mac, d);  // the first device keeps it
        }
        interfaces_valid_ = true;
    }
    auto it = interface_owner_.find(mac);
    return it == interface_owner_.end() ? nullptr : it->second;
}

Sta* Graph::find_sta(const MAC& mac) const {
    Node* n = find_node(mac);
    return n && n->kind() == Node::STA ? static_cast<Sta*>(n) : nullptr;
}

void Graph::delete_node(const MAC& mac) {
    std::vector<MAC> in_progress;
    delete_node(mac, in_progress);
}

void Graph::delete_node(const MAC& mac, std::vector<MAC>& in_progress) {
    Node* n = find_node(mac);
    if (!n)
        return;
    // Agents' reports may make interfaces of two devices name each other: a node
    // already being deleted higher up is left to that call.
    for (const MAC& m : in_progress)
        if (m == mac)
            return;
    in_progress.push_back(mac);
    if (n->kind() == Node::DEVICE) {
        std::vector<LocalInterface> ifs = static_cast<Device*>(n)->interfaces;
        for (const LocalInterface& i : ifs)
            if (i.mac != mac)
                delete_node(i.mac, in_progress);
    }
    for (auto& kv : nodes)
        if (kv.second->kind() == Node::DEVICE && kv.second != n)
            static_cast<Device*>(kv.second)->delete_link(mac);
    if (root == n)
        root = nullptr;
    if (local_agent == n)
        local_agent = nullptr;
    nodes.erase(mac);
    delete n;
    serving_valid_ = false;
    interfaces_valid_ = false;
}
