#include "map/datamodel/datamodel.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "common/clock.h"
#include "map/datamodel/opclass_table.h"
#include "map/ieee80211/assoc.h"
#include "map/map_log.h"

struct array_list_t {
    std::vector<void*> items;
};

namespace {

constexpr int MAX_LIST_ENTRIES = MAP_MAX_AGENTS + MAP_MAX_STATIONS;

struct StaNode {
    map_sta_info_t info;
    std::vector<uint8_t> frame;
    std::unique_ptr<map_sta_assoc_caps> caps;
};

enum Table {
    T_AGENTS,
    T_RADIOS,
    T_BSS,
    T_STATIONS,
    T_INTERFACES,
    T_NEIGHBORS,
    T_OP_CLASSES,
    T_COUNT
};
const char* const table_names[T_COUNT] = {
    "agent", "radio", "BSS", "station", "interface", "neighbour", "operating class"};

struct Model {
    map_datamodel_t dm;
    std::vector<std::unique_ptr<map_ale_info_t>> ales;  // at most MAP_MAX_AGENTS
    std::vector<std::unique_ptr<map_radio_info_t>> radios;
    std::vector<std::unique_ptr<StaNode>> stas;  // at most MAP_MAX_STATIONS
    std::unordered_map<MAC, StaNode*> sta_index;
    uint8_t map_profile = 2;
    uint8_t policy_profile = 2;
    uint8_t bh_ssid[32] = {};
    uint8_t bh_ssid_len = 0;
    long long last_refusal_ms[T_COUNT];
    Model() { std::fill(std::begin(last_refusal_ms), std::end(last_refusal_ms), -1000000LL); }
};

Model& model() {
    static Model m;
    return m;
}

// One line per table per second, so a flood of new entries cannot flood the log.
void log_full(Table t, const std::string& what) {
    Model& m = model();
    long long now = get_current_time_ms();
    if (now - m.last_refusal_ms[t] < 1000)
        return;
    m.last_refusal_ms[t] = now;
    map_log(MAP_LOG_CONTROLLER, 4, "data model: %s table full, refusing %s", table_names[t],
            what.c_str());
}

void copy_text(char* dst, size_t cap, const char* src) {
    if (!src)
        src = "";
    size_t n = strnlen(src, cap - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

void set_subtree_depth(map_ale_info_t* a, int depth) {
    // Iterative walk: the tree holds at most MAP_MAX_AGENTS nodes.
    std::vector<std::pair<map_ale_info_t*, int>> stack{{a, depth}};
    while (!stack.empty()) {
        auto [n, d] = stack.back();
        stack.pop_back();
        n->depth = d;
        for (int i = 0; i < n->num_children; ++i)
            stack.push_back({n->children[i], d < 0 ? -1 : d + 1});
    }
}

void detach_from_parent(map_ale_info_t* a) {
    map_ale_info_t* p = a->parent;
    if (!p)
        return;
    for (int i = 0; i < p->num_children; ++i) {
        if (p->children[i] == a) {
            std::memmove(&p->children[i], &p->children[i + 1],
                         sizeof(p->children[0]) * (p->num_children - i - 1));
            --p->num_children;
            p->children[p->num_children] = nullptr;
            break;
        }
    }
    a->parent = nullptr;
}

void attach(map_ale_info_t* parent, map_ale_info_t* child) {
    detach_from_parent(child);
    child->parent = parent;
    if (parent->num_children < MAP_MAX_AGENTS)
        parent->children[parent->num_children++] = child;
    set_subtree_depth(child, parent->depth < 0 ? -1 : parent->depth + 1);
}

bool in_subtree(const map_ale_info_t* node, const map_ale_info_t* subtree_root) {
    for (const map_ale_info_t* n = node; n; n = n->parent)
        if (n == subtree_root)
            return true;
    return false;
}

bool lists_neighbor(const map_ale_info_t* a, const MAC& b) {
    for (int i = 0; i < a->num_neighbors; ++i)
        if (a->neighbors[i].al_mac == b)
            return true;
    return false;
}

bool adjacent(const map_ale_info_t* a, const map_ale_info_t* b) {
    return lists_neighbor(a, b->al_mac) || lists_neighbor(b, a->al_mac);
}

map_bss_info_t* find_bss_in_ale(map_ale_info_t* ale, const BSSID& bssid) {
    if (!ale)
        return nullptr;
    for (int r = 0; r < ale->num_radios; ++r) {
        map_radio_info_t* radio = ale->radios[r];
        for (int b = 0; b < radio->num_bss; ++b)
            if (radio->bss_list[b].bssid == bssid)
                return &radio->bss_list[b];
    }
    return nullptr;
}

void relink_stations(const map_ale_info_t* ale) {
    for (auto& s : model().stas)
        if (s->info.ale == ale)
            s->info.bss = find_bss_in_ale(s->info.ale, s->info.bssid);
}

void erase_sta(StaNode* node) {
    Model& m = model();
    m.sta_index.erase(node->info.mac);
    m.stas.erase(std::remove_if(m.stas.begin(), m.stas.end(),
                                [&](const auto& p) { return p.get() == node; }),
                 m.stas.end());
    m.dm.num_stas = static_cast<int>(m.stas.size());
}

void remove_radio_from_ale(map_radio_info_t* radio) {
    map_ale_info_t* ale = radio->ale;
    if (!ale)
        return;
    for (int i = 0; i < ale->num_radios; ++i) {
        if (ale->radios[i] == radio) {
            std::memmove(&ale->radios[i], &ale->radios[i + 1],
                         sizeof(ale->radios[0]) * (ale->num_radios - i - 1));
            --ale->num_radios;
            ale->radios[ale->num_radios] = nullptr;
            break;
        }
    }
    radio->ale = nullptr;
}

void destroy_ale(map_ale_info_t* ale) {
    Model& m = model();
    // Stations it reported.
    std::vector<StaNode*> gone;
    for (auto& s : m.stas)
        if (s->info.ale == ale)
            gone.push_back(s.get());
    for (StaNode* s : gone)
        erase_sta(s);
    // Radios.
    m.radios.erase(std::remove_if(m.radios.begin(), m.radios.end(),
                                  [&](const auto& r) { return r->ale == ale; }),
                   m.radios.end());
    // Tree: children leave the tree.
    while (ale->num_children > 0) {
        map_ale_info_t* c = ale->children[0];
        detach_from_parent(c);
        set_subtree_depth(c, -1);
    }
    detach_from_parent(ale);
    if (m.dm.root == ale)
        m.dm.root = nullptr;
    m.ales.erase(
        std::remove_if(m.ales.begin(), m.ales.end(), [&](const auto& p) { return p.get() == ale; }),
        m.ales.end());
    m.dm.num_ales = static_cast<int>(m.ales.size());
}

std::string mac_text(const MAC& mac) {
    return mac.to_string();
}

// Agent-supplied text for a log line: bytes outside printable ASCII become '?'.
std::string printable(const char* text) {
    std::string out(text);
    for (char& c : out)
        if (c < 0x20 || c > 0x7e)
            c = '?';
    return out;
}

}  // namespace

// ---- Life cycle ---------------------------------------------------------------

void map_datamodel_reset() {
    Model& m = model();
    m.stas.clear();
    m.sta_index.clear();
    m.radios.clear();
    m.ales.clear();
    m.dm = map_datamodel_t{};
}

int map_datamodel_init(const MAC& controller_al_mac, const MAC& local_agent_al_mac) {
    if (controller_al_mac.is_zero())
        return -1;
    map_datamodel_reset();
    Model& m = model();
    auto root = std::make_unique<map_ale_info_t>();
    root->al_mac = controller_al_mac;
    root->map_profile = m.map_profile;
    root->depth = 0;
    root->last_seen_ms = get_current_time_ms();
    m.dm.root = root.get();
    m.dm.controller_al_mac = controller_al_mac;
    m.dm.local_agent_al_mac =
        local_agent_al_mac == controller_al_mac ? MAC::zero : local_agent_al_mac;
    m.ales.push_back(std::move(root));
    m.dm.num_ales = 1;
    return 0;
}

map_datamodel_t* get_map_datamodel() {
    return &model().dm;
}

void map_set_profiles(uint8_t map_profile, uint8_t policy_profile) {
    Model& m = model();
    m.map_profile = map_profile;
    m.policy_profile = policy_profile;
    if (m.dm.root)
        m.dm.root->map_profile = map_profile;
}
uint8_t get_map_profile() {
    return model().map_profile;
}
uint8_t get_policy_profile() {
    return model().policy_profile;
}

void map_set_backhaul_ssid(const uint8_t* ssid, uint8_t ssid_len) {
    Model& m = model();
    m.bh_ssid_len = ssid ? std::min<uint8_t>(ssid_len, 32) : 0;
    if (m.bh_ssid_len)
        std::memcpy(m.bh_ssid, ssid, m.bh_ssid_len);
}

bool is_backhaul_bss_ssid(const uint8_t* ssid, uint8_t ssid_len) {
    const Model& m = model();
    return ssid && m.bh_ssid_len > 0 && ssid_len == m.bh_ssid_len &&
           std::memcmp(ssid, m.bh_ssid, ssid_len) == 0;
}

// ---- Look-ups -----------------------------------------------------------------

map_ale_info_t* get_ale(const MAC& al_mac) {
    for (auto& a : model().ales)
        if (a->al_mac == al_mac)
            return a.get();
    return nullptr;
}

int map_reset_chan_sel_flag(const MAC& al_mac) {
    map_ale_info_t* ale = get_ale(al_mac);
    if (ale == nullptr)
        return -1;
    ale->first_chan_sel_req_done = 0;
    return 0;
}

map_ale_info_t* get_root_ale_node() {
    return model().dm.root;
}

map_ale_info_t* get_parent_ale_node(const map_ale_info_t* ale) {
    return ale ? ale->parent : nullptr;
}

map_radio_info_t* get_radio(const MAC& radio_id) {
    for (auto& r : model().radios)
        if (r->radio_id == radio_id)
            return r.get();
    return nullptr;
}

int get_radio_id_mac(const MAC& al_mac, uint8_t radio_index, uint16_t band_mask,
                     uint8_t* radio_mac) {
    map_ale_info_t* ale = get_ale(al_mac);
    if (!ale || !radio_mac)
        return -1;
    map_radio_info_t* overlap = nullptr;
    const uint16_t five = MAP_BAND_MASK_5G_LOW | MAP_BAND_MASK_5G_HIGH | MAP_BAND_MASK_5G;
    for (int i = 0; i < ale->num_radios; ++i) {
        map_radio_info_t* r = ale->radios[i];
        if (r->radio_index != radio_index)
            continue;
        if (r->band_mask == band_mask) {
            std::memcpy(radio_mac, r->radio_id.data(), 6);
            return 0;
        }
        bool both_5g = (r->band_mask & five) && (band_mask & five);
        bool whole = (r->band_mask | band_mask) & MAP_BAND_MASK_5G;
        if (!overlap && both_5g && whole)
            overlap = r;
    }
    if (!overlap)
        return -1;
    std::memcpy(radio_mac, overlap->radio_id.data(), 6);
    return 0;
}

map_sta_info_t* get_sta(const MAC& sta_mac) {
    auto& idx = model().sta_index;
    auto it = idx.find(sta_mac);
    return it == idx.end() ? nullptr : &it->second->info;
}

map_bss_info_t* map_find_bss(const BSSID& bssid) {
    for (auto& a : model().ales)
        if (map_bss_info_t* b = find_bss_in_ale(a.get(), bssid))
            return b;
    return nullptr;
}

// ---- Topology tree -------------------------------------------------------------

int topology_tree_insert(map_ale_info_t* parent, map_ale_info_t* child) {
    Model& m = model();
    if (!parent || !child || child == m.dm.root)
        return -1;
    if (get_ale(parent->al_mac) != parent || get_ale(child->al_mac) != child)
        return -1;
    if (in_subtree(parent, child))
        return -1;
    attach(parent, child);
    return 0;
}

void map_rebuild_topology_tree() {
    Model& m = model();
    map_ale_info_t* root = m.dm.root;
    if (!root)
        return;
    const size_t n = m.ales.size();
    std::vector<map_ale_info_t*> nodes;
    std::vector<map_ale_info_t*> old_parent;
    for (auto& a : m.ales) {
        nodes.push_back(a.get());
        old_parent.push_back(a->parent);
    }
    auto index_of = [&](const map_ale_info_t* a) {
        for (size_t i = 0; i < n; ++i)
            if (nodes[i] == a)
                return i;
        return n;
    };
    std::vector<map_ale_info_t*> new_parent(n, nullptr);
    std::vector<int> new_depth(n, -1);
    new_depth[index_of(root)] = 0;

    // The co-located agent shares the controller's device: it sits right under
    // the root and the two are expanded together.
    map_ale_info_t* local =
        m.dm.local_agent_al_mac.is_zero() ? nullptr : get_ale(m.dm.local_agent_al_mac);
    std::vector<map_ale_info_t*> level;
    if (local) {
        size_t li = index_of(local);
        new_parent[li] = root;
        new_depth[li] = 1;
        level.push_back(local);
    } else {
        level.push_back(root);
    }
    int depth = static_cast<int>(level.size() && local ? 1 : 0);
    while (!level.empty()) {
        std::vector<map_ale_info_t*> next;
        for (size_t i = 0; i < n; ++i) {
            if (new_depth[i] >= 0)
                continue;
            map_ale_info_t* cand = nodes[i];
            map_ale_info_t* chosen = nullptr;
            for (map_ale_info_t* p : level) {
                bool adj = adjacent(p, cand) || (p == local && adjacent(root, cand));
                if (!adj)
                    continue;
                if (p == old_parent[i]) {
                    chosen = p;
                    break;
                }
                if (!chosen)
                    chosen = p;
            }
            if (chosen) {
                new_parent[i] = chosen;
                new_depth[i] = depth + 1;
                next.push_back(cand);
            }
        }
        level.swap(next);
        ++depth;
    }
    // Unreached ALEs keep an explicit place whose parent is in the tree.
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t i = 0; i < n; ++i) {
            if (new_depth[i] >= 0 || !old_parent[i])
                continue;
            size_t pi = index_of(old_parent[i]);
            if (pi < n && new_depth[pi] >= 0) {
                new_parent[i] = old_parent[i];
                new_depth[i] = new_depth[pi] + 1;
                changed = true;
            }
        }
    }
    for (map_ale_info_t* a : nodes) {
        a->num_children = 0;
        std::fill(std::begin(a->children), std::end(a->children), nullptr);
    }
    for (size_t i = 0; i < n; ++i) {
        nodes[i]->parent = new_parent[i];
        nodes[i]->depth = new_depth[i];
        if (new_parent[i])
            new_parent[i]->children[new_parent[i]->num_children++] = nodes[i];
    }
}

int map_get_topology_tree_height() {
    const Model& m = model();
    if (!m.dm.root)
        return -1;
    int h = 0;
    for (auto& a : m.ales)
        h = std::max(h, a->depth);
    return h;
}

array_list_t* ktree_elements_at_depth(map_ale_info_t* subtree_root, int depth) {
    if (!subtree_root || depth < 0)
        return nullptr;
    array_list_t* list = new_array_list();
    std::vector<map_ale_info_t*> level{subtree_root};
    for (int d = 0; d < depth && !level.empty(); ++d) {
        std::vector<map_ale_info_t*> next;
        for (map_ale_info_t* a : level)
            for (int i = 0; i < a->num_children; ++i)
                next.push_back(a->children[i]);
        level.swap(next);
    }
    for (map_ale_info_t* a : level)
        push_object(list, a);
    return list;
}

std::string map_format_topology_tree() {
    map_ale_info_t* root = get_root_ale_node();
    if (!root)
        return "(no topology tree)\n";
    auto describe = [&](const map_ale_info_t* a) {
        std::string line = mac_text(a->al_mac);
        if (a == root)
            line += " (controller)";
        if (a->al_mac == model().dm.local_agent_al_mac)
            line += " (local agent)";
        if (a->serial_number[0])
            line += " sn " + printable(a->serial_number);
        line += " radios " + std::to_string(a->num_radios);
        for (int i = 0; i < a->num_radios; ++i)
            line += " " + mac_text(a->radios[i]->radio_id) + "/" +
                    std::to_string(a->radios[i]->num_bss) + "bss";
        return line + "\n";
    };
    std::string out;
    std::vector<map_ale_info_t*> stack{root};
    while (!stack.empty()) {
        map_ale_info_t* a = stack.back();
        stack.pop_back();
        out.append(static_cast<size_t>(a->depth) * 2, ' ');
        out += "[" + std::to_string(a->depth) + "] " + describe(a);
        for (int i = a->num_children - 1; i >= 0; --i)
            stack.push_back(a->children[i]);
    }
    for (auto& a : model().ales)
        if (a->depth < 0)
            out += "[-] " + describe(a.get());
    return out;
}

void dump_topology_tree() {
    std::string text = map_format_topology_tree();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        map_log(MAP_LOG_CONTROLLER, 6, "topology tree: %s",
                text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

void disassemble_tree() {
    Model& m = model();
    map_ale_info_t* root = m.dm.root;
    std::vector<map_ale_info_t*> others;
    for (auto& a : m.ales)
        if (a.get() != root)
            others.push_back(a.get());
    for (map_ale_info_t* a : others)
        destroy_ale(a);
    if (root) {
        root->num_children = 0;
        std::fill(std::begin(root->children), std::end(root->children), nullptr);
    }
}

// ---- Lists ---------------------------------------------------------------------

array_list_t* new_array_list() {
    return new array_list_t;
}

int push_object(array_list_t* list, void* obj) {
    if (!list || !obj || static_cast<int>(list->items.size()) >= MAX_LIST_ENTRIES)
        return -1;
    list->items.push_back(obj);
    return 0;
}

void* first_object(array_list_t* list) {
    return list && !list->items.empty() ? list->items.front() : nullptr;
}

void* get_next_list_object(array_list_t* list, void* obj) {
    if (!list)
        return nullptr;
    auto it = std::find(list->items.begin(), list->items.end(), obj);
    if (it == list->items.end() || ++it == list->items.end())
        return nullptr;
    return *it;
}

void* pop_object(array_list_t* list) {
    if (!list || list->items.empty())
        return nullptr;
    void* obj = list->items.front();
    list->items.erase(list->items.begin());
    return obj;
}

int list_get_size(const array_list_t* list) {
    return list ? static_cast<int>(list->items.size()) : 0;
}

void delete_array_list(array_list_t* list) {
    delete list;
}

// ---- Updates -------------------------------------------------------------------

map_ale_info_t* map_update_ale(const MAC& al_mac) {
    Model& m = model();
    if (al_mac.is_zero())
        return nullptr;
    if (map_ale_info_t* a = get_ale(al_mac)) {
        a->last_seen_ms = get_current_time_ms();
        return a;
    }
    if (static_cast<int>(m.ales.size()) >= MAP_MAX_AGENTS) {
        log_full(T_AGENTS, "agent " + mac_text(al_mac));
        return nullptr;
    }
    auto a = std::make_unique<map_ale_info_t>();
    a->al_mac = al_mac;
    a->last_seen_ms = get_current_time_ms();
    map_ale_info_t* p = a.get();
    m.ales.push_back(std::move(a));
    m.dm.num_ales = static_cast<int>(m.ales.size());
    map_rebuild_topology_tree();
    return p;
}

int map_remove_ale(const MAC& al_mac) {
    map_ale_info_t* a = get_ale(al_mac);
    if (!a || a == model().dm.root)
        return -1;
    destroy_ale(a);
    map_rebuild_topology_tree();
    return 0;
}

int map_remove_stale_ales(int64_t max_age_ms) {
    Model& m = model();
    long long now = get_current_time_ms();
    std::vector<MAC> stale;
    for (auto& a : m.ales) {
        if (a.get() == m.dm.root || a->al_mac == m.dm.local_agent_al_mac)
            continue;
        if (now - a->last_seen_ms > max_age_ms)
            stale.push_back(a->al_mac);
    }
    for (const MAC& mac : stale) {
        map_log(MAP_LOG_CONTROLLER, 5, "data model: agent %s aged out", mac_text(mac).c_str());
        destroy_ale(get_ale(mac));
    }
    if (!stale.empty())
        map_rebuild_topology_tree();
    return static_cast<int>(stale.size());
}

int map_update_ale_interfaces(map_ale_info_t* ale, const map_interface_info_t* ifs, int count) {
    if (!ale || count < 0 || (count > 0 && !ifs))
        return -1;
    if (count > MAP_MAX_INTERFACES_PER_AGENT) {
        log_full(T_INTERFACES, std::to_string(count - MAP_MAX_INTERFACES_PER_AGENT) +
                                   " interfaces of " + mac_text(ale->al_mac));
        count = MAP_MAX_INTERFACES_PER_AGENT;
    }
    for (int i = 0; i < count; ++i)
        ale->interfaces[i] = ifs[i];
    ale->num_interfaces = static_cast<uint8_t>(count);
    return 0;
}

int map_update_ale_neighbors(map_ale_info_t* ale, const map_neighbor_info_t* nbrs, int count) {
    if (!ale || count < 0 || (count > 0 && !nbrs))
        return -1;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        if (nbrs[i].al_mac.is_zero() || nbrs[i].al_mac == ale->al_mac)
            continue;
        if (kept >= MAP_MAX_NEIGHBORS_PER_AGENT) {
            log_full(T_NEIGHBORS,
                     "neighbour " + mac_text(nbrs[i].al_mac) + " of " + mac_text(ale->al_mac));
            break;
        }
        ale->neighbors[kept++] = nbrs[i];
    }
    ale->num_neighbors = static_cast<uint8_t>(kept);
    map_rebuild_topology_tree();
    return 0;
}

void map_update_ale_profile(map_ale_info_t* ale, uint8_t profile) {
    if (ale && profile >= 1 && profile <= 3)
        ale->map_profile = profile;
}

int map_update_ale_m1(map_ale_info_t* ale, const char* manufacturer, const char* model_name,
                      const char* model_number, const char* serial_number, const char* device_name,
                      uint8_t rf_bands) {
    if (!ale)
        return -1;
    copy_text(ale->manufacturer, sizeof ale->manufacturer, manufacturer);
    copy_text(ale->model_name, sizeof ale->model_name, model_name);
    copy_text(ale->model_number, sizeof ale->model_number, model_number);
    copy_text(ale->serial_number, sizeof ale->serial_number, serial_number);
    copy_text(ale->device_name, sizeof ale->device_name, device_name);
    ale->rf_bands = rf_bands;
    ale->has_m1 = 1;
    return 0;
}

void map_update_ale_iface_name(map_ale_info_t* ale, const char* iface_name) {
    if (ale)
        copy_text(ale->iface_name, sizeof ale->iface_name, iface_name);
}

map_radio_info_t* map_update_radio(map_ale_info_t* ale, const MAC& radio_id) {
    Model& m = model();
    if (!ale || radio_id.is_zero())
        return nullptr;
    map_radio_info_t* r = get_radio(radio_id);
    if (r && r->ale == ale)
        return r;
    if (ale->num_radios >= MAP_MAX_RADIOS_PER_AGENT) {
        log_full(T_RADIOS, "radio " + mac_text(radio_id) + " of " + mac_text(ale->al_mac));
        return nullptr;
    }
    if (r) {
        // The radio moved to another agent (a re-onboarded device): take it over.
        map_ale_info_t* old = r->ale;
        remove_radio_from_ale(r);
        relink_stations(old);
        *r = map_radio_info_t{};
        r->radio_id = radio_id;
    } else {
        m.radios.push_back(std::make_unique<map_radio_info_t>());
        r = m.radios.back().get();
        r->radio_id = radio_id;
    }
    r->ale = ale;
    ale->radios[ale->num_radios++] = r;
    return r;
}

int map_update_radio_basic_caps(map_radio_info_t* radio, uint8_t max_bss,
                                const map_op_class_param_t* classes, int count) {
    if (!radio || count < 0 || (count > 0 && !classes))
        return -1;
    if (count > MAP_MAX_OP_CLASSES_PER_RADIO) {
        log_full(T_OP_CLASSES, std::to_string(count - MAP_MAX_OP_CLASSES_PER_RADIO) +
                                   " classes of radio " + mac_text(radio->radio_id));
        count = MAP_MAX_OP_CLASSES_PER_RADIO;
    }
    radio->max_bss = max_bss;
    radio->op_classes.assign(static_cast<size_t>(count), map_op_class_info_t{});
    radio->op_classes.shrink_to_fit();
    bool g2 = false, low = false, high = false, g6 = false;
    for (int i = 0; i < count; ++i) {
        map_op_class_info_t& oc = radio->op_classes[static_cast<size_t>(i)];
        oc.op_class = classes[i].op_class;
        oc.max_tx_power_eirp = classes[i].max_tx_power_eirp;
        int nn = classes[i].non_operable_channels ? classes[i].num_non_operable : 0;
        nn = std::min(nn, MAP_MAX_CHANNELS_PER_OP_CLASS);
        for (int k = 0; k < nn; ++k)
            oc.non_operable_channels[k] = classes[i].non_operable_channels[k];
        oc.num_non_operable = static_cast<uint8_t>(nn);
        const map_dm::OpClassDef* def = map_dm::find_op_class(oc.op_class);
        if (!def)
            continue;
        uint8_t all[MAP_MAX_CHANNELS_PER_OP_CLASS];
        int total = map_dm::global_op_class_channels(*def, all, MAP_MAX_CHANNELS_PER_OP_CLASS);
        for (int k = 0; k < total; ++k) {
            const uint8_t* nb = oc.non_operable_channels;
            if (std::find(nb, nb + nn, all[k]) != nb + nn)
                continue;
            oc.channels[oc.num_channels++] = all[k];
            switch (def->band) {
                case map_dm::OpBand::G2:
                    g2 = true;
                    break;
                case map_dm::OpBand::G5:
                    (all[k] < 100 ? low : high) = true;
                    break;
                case map_dm::OpBand::G6:
                    g6 = true;
                    break;
            }
        }
    }
    radio->num_op_classes = static_cast<uint8_t>(count);
    radio->capability_flags |= MAP_RADIO_HAS_BASIC_CAPS;
    if (g6) {
        radio->radio_index = MAP_RADIO_INDEX_6G;
        radio->band_mask = MAP_BAND_MASK_6G;
    } else if (low || high) {
        radio->radio_index = MAP_RADIO_INDEX_5G;
        radio->band_mask =
            low && high ? MAP_BAND_MASK_5G : (low ? MAP_BAND_MASK_5G_LOW : MAP_BAND_MASK_5G_HIGH);
    } else if (g2) {
        radio->radio_index = MAP_RADIO_INDEX_2G;
        radio->band_mask = MAP_BAND_MASK_2G;
    }
    return 0;
}

void map_update_radio_capability_flag(map_radio_info_t* radio, uint8_t flag) {
    if (radio)
        radio->capability_flags |= flag;
}

int map_update_radio_operating_channel(map_radio_info_t* radio, uint8_t op_class, uint8_t channel,
                                       uint8_t tx_power) {
    if (!radio)
        return -1;
    radio->current_op_class = op_class;
    radio->current_channel = channel;
    radio->current_tx_power = tx_power;
    radio->capability_flags |= MAP_RADIO_HAS_OPERATING_CHANNEL;
    return 0;
}

int map_update_radio_bss_list(map_radio_info_t* radio, const map_bss_param_t* bss, int count) {
    if (!radio || count < 0 || (count > 0 && !bss))
        return -1;
    if (count > MAP_MAX_BSS_PER_RADIO) {
        log_full(T_BSS, std::to_string(count - MAP_MAX_BSS_PER_RADIO) + " BSSs of radio " +
                            mac_text(radio->radio_id));
        count = MAP_MAX_BSS_PER_RADIO;
    }
    for (int i = 0; i < count; ++i) {
        map_bss_info_t& b = radio->bss_list[i];
        b = map_bss_info_t{};
        b.bssid = bss[i].bssid;
        b.ssid_len = bss[i].ssid ? std::min<uint8_t>(bss[i].ssid_len, 32) : 0;
        if (b.ssid_len)
            std::memcpy(b.ssid, bss[i].ssid, b.ssid_len);
        b.ssid[b.ssid_len] = '\0';
        b.is_backhaul = is_backhaul_bss_ssid(bss[i].ssid, b.ssid_len) ? 1 : 0;
        b.is_fronthaul = b.is_backhaul ? 0 : 1;
        b.radio = radio;
    }
    for (int i = count; i < MAP_MAX_BSS_PER_RADIO; ++i)
        radio->bss_list[i] = map_bss_info_t{};
    radio->num_bss = static_cast<uint8_t>(count);
    relink_stations(radio->ale);
    return 0;
}

map_sta_info_t* map_update_sta(map_ale_info_t* ale, const MAC& sta_mac, const BSSID& bssid,
                               uint32_t seconds_since_assoc) {
    Model& m = model();
    if (!ale || sta_mac.is_zero())
        return nullptr;
    long long now = get_current_time_ms();
    long long assoc_time = now - static_cast<long long>(seconds_since_assoc) * 1000;
    auto it = m.sta_index.find(sta_mac);
    StaNode* node;
    if (it != m.sta_index.end()) {
        node = it->second;
        // A station that roamed or re-associated gets a new association time;
        // the same association reported again keeps the first one.
        if (node->info.bssid != bssid || node->info.ale != ale ||
            assoc_time > node->info.assoc_time_ms + 2000) {
            node->info.assoc_time_ms = assoc_time;
            if (node->info.bssid != bssid) {
                node->frame.clear();
                node->info.assoc_frame = nullptr;
                node->info.assoc_frame_len = 0;
                node->caps.reset();
                node->info.caps = nullptr;
            }
        }
    } else {
        if (static_cast<int>(m.stas.size()) >= MAP_MAX_STATIONS) {
            log_full(T_STATIONS, "station " + mac_text(sta_mac));
            return nullptr;
        }
        m.stas.push_back(std::make_unique<StaNode>());
        node = m.stas.back().get();
        node->info.mac = sta_mac;
        node->info.assoc_time_ms = assoc_time;
        m.sta_index[sta_mac] = node;
        m.dm.num_stas = static_cast<int>(m.stas.size());
    }
    node->info.bssid = bssid;
    node->info.ale = ale;
    node->info.bss = find_bss_in_ale(ale, bssid);
    return &node->info;
}

int map_update_sta_assoc_frame(const MAC& sta_mac, const uint8_t* body, size_t len) {
    auto& idx = model().sta_index;
    auto it = idx.find(sta_mac);
    if (it == idx.end() || (len > 0 && !body))
        return -1;
    StaNode* node = it->second;
    len = std::min(len, MAP_MAX_ASSOC_FRAME_LEN);
    node->frame.assign(body, body + len);
    node->info.assoc_frame = node->frame.empty() ? nullptr : node->frame.data();
    node->info.assoc_frame_len = static_cast<uint16_t>(len);
    return 0;
}

int parse_update_client_capability(const MAC& sta_mac, const uint8_t* body, size_t len) {
    auto& idx = model().sta_index;
    auto it = idx.find(sta_mac);
    if (it == idx.end() || body == nullptr || len == 0)
        return -1;
    StaNode* node = it->second;
    const map_bss_info_t* bss = node->info.bss;
    int is_5g = 0;
    if (bss && bss->radio) {
        const uint16_t mask = bss->radio->band_mask;
        is_5g = (mask & (MAP_BAND_MASK_5G | MAP_BAND_MASK_5G_LOW | MAP_BAND_MASK_5G_HIGH)) ? 1 : 0;
    }
    const uint8_t* ssid = bss ? reinterpret_cast<const uint8_t*>(bss->ssid) : nullptr;
    const size_t ssid_len = bss ? bss->ssid_len : 0;
    auto caps = std::make_unique<map_sta_assoc_caps>();
    len = std::min(len, MAP_MAX_ASSOC_FRAME_LEN);
    if (map_80211_parse_assoc_body(caps.get(), body, len, is_5g, ssid, ssid_len) != 0)
        return -1;
    node->caps = std::move(caps);
    node->info.caps = node->caps.get();
    return 0;
}

int map_remove_sta(const MAC& sta_mac) {
    auto& idx = model().sta_index;
    auto it = idx.find(sta_mac);
    if (it == idx.end())
        return -1;
    erase_sta(it->second);
    return 0;
}

int map_update_ale_stations(map_ale_info_t* ale, const map_sta_param_t* stas, int count) {
    Model& m = model();
    if (!ale || count < 0 || (count > 0 && !stas))
        return -1;
    std::vector<StaNode*> gone;
    for (auto& s : m.stas) {
        if (s->info.ale != ale)
            continue;
        bool listed = false;
        for (int i = 0; i < count && !listed; ++i)
            listed = stas[i].mac == s->info.mac;
        if (!listed)
            gone.push_back(s.get());
    }
    for (StaNode* s : gone)
        erase_sta(s);
    int rc = 0;
    for (int i = 0; i < count; ++i)
        if (!map_update_sta(ale, stas[i].mac, stas[i].bssid, stas[i].seconds_since_assoc))
            rc = -1;
    return rc;
}
