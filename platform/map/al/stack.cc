#include "map/al/stack.h"

#include <algorithm>

#include "common/clock.h"
#include "map/callbacks.h"
#include "map/cmdu.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "map/map_log.h"
#include "map/map_send.h"
#include "map/send/retry.h"
#include "map/transport/make_transport.h"
#include "map/wsc/registrar.h"

namespace {

struct StackState {
    MapStackConfig config = map_stack_default_config();
    bool config_ok = true;
    std::unique_ptr<MapAl> al;
    std::unique_ptr<WscRegistrar> registrar;
    // Agents just configured by M2s, and when to ask them for their topology.
    std::vector<std::pair<MAC, long long>> reread;
    // Agents told by a multicast renew: unless their M1 comes first, they get it
    // unicast (and sent again until it does) at the time given.
    struct Renew {
        MAC al_mac;
        long long due_ms = 0;
        uint8_t band = 0;
    };
    std::vector<Renew> renews;
};

StackState& state() {
    static StackState s;
    return s;
}

// An agent brings up the BSSs its M2s describe: its Topology Response a
// moment later shows them (one query per agent, however many radios it has).
constexpr long long kRereadAfterM2Ms = 2000;
// Two per agent and steering request, at most.
constexpr size_t kMaxRereads = 2 * MAP_MAX_AGENTS;

void schedule_reread(const MAC& al_mac, long long delay_ms) {
    auto& list = state().reread;
    const long long due = get_current_time_ms() + delay_ms;
    for (auto& e : list) {
        if (e.first == al_mac && e.second > due - 1000 && e.second < due + 1000) {
            e.second = std::max(e.second, due);
            return;
        }
    }
    if (list.size() < kMaxRereads)
        list.emplace_back(al_mac, due);
}

// A multicast renew reaches each agent or not (it is not acknowledged, and the
// 1905 multicast is what a house loses most): an agent known to the registrar
// whose M1 has not come a while later is sent the renew unicast, which the AL
// sends again until the M1 comes.
constexpr long long kRenewFollowUpMs = 3000;

void run_renews() {
    auto& list = state().renews;
    const long long now = get_current_time_ms();
    std::vector<StackState::Renew> due;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const StackState::Renew& r) {
                                  if (r.due_ms > now)
                                      return false;
                                  due.push_back(r);
                                  return true;
                              }),
               list.end());
    for (const StackState::Renew& r : due) {
        map_log(MAP_LOG_CONTROLLER, 6,
                "renew: no M1 from %s since the multicast renew, sent unicast",
                r.al_mac.to_string().c_str());
        send_autoconfig_renew(r.al_mac, r.band);
    }
}

void run_rereads() {
    auto& list = state().reread;
    const long long now = get_current_time_ms();
    std::vector<MAC> due;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const std::pair<MAC, long long>& e) {
                                  if (e.second > now)
                                      return false;
                                  due.push_back(e.first);
                                  return true;
                              }),
               list.end());
    for (const MAC& m : due)
        map_send_topology_query(m);
    run_renews();
}

// The controller's own neighbours are the root's links in the data model, and
// in the daemon's graph: a neighbour table that changed is handed to it as a
// fresh local Topology Response, as an agent whose neighbours change tells the
// controller. (The daemon otherwise sees the root's links only when it next asks,
// up to a minute later; a neighbour heard after the daemon's first question
// would be missing that long.)
void update_root_neighbors() {
    MapAl* al = state().al.get();
    map_ale_info_t* root = get_root_ale_node();
    if (al == nullptr || root == nullptr)
        return;
    map_neighbor_info_t list[MAP_MAX_NEIGHBORS_PER_AGENT];
    int n = 0;
    const auto& itfs = al->transport().interfaces();
    for (const MapNeighbor& nb : al->neighbors()) {
        if (n >= MAP_MAX_NEIGHBORS_PER_AGENT)
            break;
        list[n].local_interface = nb.if_index < itfs.size() ? itfs[nb.if_index].mac : MAC();
        list[n].al_mac = nb.al_mac;
        list[n].bridge_flag = 0;
        ++n;
    }
    map_update_ale_neighbors(root, list, n);
    al->query_self(al->next_message_id());
}

}  // namespace

int map_stack_load_config() {
    StackState& s = state();
    std::string error;
    MapStackConfig config;
    if (map_stack_config_load(config, &error) != 0) {
        s.config_ok = false;
        return -1;
    }
    s.config = config;
    s.config_ok = true;
    return 0;
}

void map_stack_set_config(const MapStackConfig& config) {
    state().config = config;
    state().config_ok = true;
}

const MapStackConfig& map_stack_config() {
    return state().config;
}

int map_stack_set_discovery_interval(unsigned seconds) {
    if (seconds < 1 || seconds > 3600)
        return -1;
    state().config.discovery_interval_s = seconds;
    if (state().al)
        return state().al->set_discovery_interval(seconds);
    return 0;
}

int map_stack_start(uv_loop_t* loop, std::string* error) {
    StackState& s = state();
    auto fail = [&](const std::string& why) {
        map_log(MAP_LOG_CONTROLLER, 3, "map stack not started: %s", why.c_str());
        if (error)
            *error = why;
        s.al.reset();
        return -1;
    };
    if (!s.config_ok)
        return fail("map_stack.json is malformed");
    if (s.al)
        return fail("already started");
    std::string why;
    std::unique_ptr<Transport> transport = make_transport(s.config, &why);
    if (!transport)
        return fail(why);
    if (map_datamodel_init(s.config.al_mac, s.config.agent_al_mac) != 0)
        return fail("data model refused AL MAC " + s.config.al_mac.to_string());
    map_set_profiles(static_cast<uint8_t>(s.config.profile),
                     static_cast<uint8_t>(s.config.profile));
    MapAlOptions options;
    options.al_mac = s.config.al_mac;
    options.controller = true;
    options.profile = static_cast<uint8_t>(s.config.profile);
    options.discovery_interval_s = s.config.discovery_interval_s;
    s.al = std::make_unique<MapAl>(std::move(transport), options);
    s.al->set_on_neighbors_changed(update_root_neighbors);
    s.al->set_on_tick(run_rereads);
    s.reread.clear();
    s.renews.clear();
    s.registrar = std::make_unique<WscRegistrar>([](const MAC& to, CMDU& c, const char* ifname) {
        MapAl* al = state().al.get();
        return al && al->running() ? al->send(to, c, ifname, true) : MAP_SEND_NOT_READY;
    });
    WscRegistrarIdentity id = s.registrar->identity();
    id.serial_number.clear();
    for (size_t i = 0; i < 6; ++i) {
        static const char hex[] = "0123456789ABCDEF";
        id.serial_number += hex[s.config.al_mac.data()[i] >> 4];
        id.serial_number += hex[s.config.al_mac.data()[i] & 0xF];
    }
    s.registrar->set_identity(id);
    if (!s.config.credentials.empty()) {
        map_credential_config_t creds{};
        creds.count = static_cast<uint8_t>(std::min(s.config.credentials.size(), kMaxCredentials));
        for (size_t i = 0; i < creds.count; ++i)
            creds.creds[i] = s.config.credentials[i];
        const int rc = set_credential_config(&creds);
        map_credential_config_wipe(&creds);
        if (rc != 0)
            return fail("map_stack.json credentials refused");
        map_log(MAP_LOG_CONTROLLER, 6, "%u VAP credential(s) from map_stack.json", creds.count);
    }
    if (s.al->start(
            loop, [](CMDU* c) { map_dispatch_cmdu(c); }, &why) != 0)
        return fail(why);
    return 0;
}

void map_stack_stop() {
    StackState& s = state();
    map_retry_shutdown();
    if (s.al) {
        s.al->stop();
        s.al.reset();
    }
    s.registrar.reset();
    s.reread.clear();
    s.renews.clear();
}

void map_stack_abandon() {
    StackState& s = state();
    if (s.al)
        s.al->abandon();
    map_retry_abandon();
}

void map_stack_reread_topology(const MAC& al_mac, long long delay_ms) {
    if (!al_mac.is_zero() && state().al)
        schedule_reread(al_mac, delay_ms);
}

void map_stack_follow_renew(uint8_t band) {
    StackState& s = state();
    if (!s.registrar)
        return;
    const long long due = get_current_time_ms() + kRenewFollowUpMs;
    for (const MAC& m : s.registrar->agent_macs()) {
        bool listed = false;
        for (StackState::Renew& r : s.renews) {
            if (r.al_mac == m) {
                r.due_ms = due;
                r.band = band;
                listed = true;
            }
        }
        if (!listed && s.renews.size() < MAP_MAX_AGENTS)
            s.renews.push_back({m, due, band});
    }
}

WscRegistrar* map_stack_registrar() {
    return state().registrar.get();
}

MapAl* map_stack_al() {
    MapAl* al = state().al.get();
    return al && al->running() ? al : nullptr;
}

int8_t map_stack_handle_cmdu(CMDU* cmdu) {
    if (cmdu == nullptr)
        return 0;
    MapAl* al = state().al.get();
    // The messages that describe an agent create its ALE, and so does a Topology
    // Discovery from a 1905 neighbour, so that the controller can query an agent
    // as soon as it hears it; any later message from a known agent refreshes it
    // and the interface it was heard on. (Creating ALEs for every sender of any
    // message would let anybody fill the table, which is capped anyway.)
    map_update_from_cmdu(cmdu);
    const bool own = al && cmdu->src_al_mac == al->al_mac();
    if (!own && cmdu->message_type == CMDU_TYPE_AP_AUTOCONFIGURATION_WSC) {
        auto& renews = state().renews;
        renews.erase(std::remove_if(
                         renews.begin(), renews.end(),
                         [&](const StackState::Renew& r) { return r.al_mac == cmdu->src_al_mac; }),
                     renews.end());
    }
    // An agent's M1 (heard on an interface, not a local answer) gets its M2s.
    if (!own && cmdu->message_type == CMDU_TYPE_AP_AUTOCONFIGURATION_WSC &&
        cmdu->interface_name[0] != '\0' && state().registrar) {
        const WscOutcome o = state().registrar->on_wsc(*cmdu, map_get_m2_config());
        if (o == WscOutcome::answered || o == WscOutcome::teardown)
            schedule_reread(cmdu->src_al_mac, kRereadAfterM2Ms);
    }
    if (!own && cmdu->message_type == CMDU_TYPE_TOPOLOGY_DISCOVERY &&
        cmdu->interface_name[0] != '\0' && !cmdu->src_al_mac.is_zero())
        map_update_ale(cmdu->src_al_mac);
    if (get_ale(cmdu->src_al_mac) && !own) {
        if (map_ale_info_t* ale = map_update_ale(cmdu->src_al_mac)) {
            if (cmdu->interface_name[0] != '\0')
                map_update_ale_iface_name(ale, cmdu->interface_name);
        }
    }
    return 0;
}
