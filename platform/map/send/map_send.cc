// The senders the daemon calls: each builds one CMDU from codec records and
// hands it to the controller's AL, addressed to the agent's AL MAC on the
// interface the agent was last heard on.
#include "map/map_send.h"

#include <algorithm>
#include <cstring>

#include "map/al/stack.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_log.h"

namespace {

int refuse(const char* fn, int code, const char* why, const MAC& al_mac) {
    map_log(MAP_LOG_CONTROLLER, 3, "%s: %s (agent %s)", fn, why, al_mac.to_string().c_str());
    return code;
}

// The interface to reach AL_MAC on: where the data model last heard the
// agent, or where the AL last heard it. False when neither knows it.
bool resolve(MapAl& al, const MAC& al_mac, const char** ifname) {
    *ifname = nullptr;
    const map_ale_info_t* ale = get_ale(al_mac);
    if (ale != nullptr && ale->iface_name[0] != '\0' &&
        al.transport().find_interface(ale->iface_name) >= 0) {
        *ifname = ale->iface_name;
        return true;
    }
    *ifname = al.route_to(al_mac);
    return ale != nullptr || *ifname != nullptr;
}

// Sends the built CMDU (null: a record did not fit) to the agent AL_MAC.
int send_to_agent(const char* fn, const MAC& al_mac, CmduPtr cmdu, uint16_t* mid = nullptr,
                  bool allocate_mid = true) {
    MapAl* al = map_stack_al();
    if (al == nullptr)
        return refuse(fn, MAP_SEND_NOT_READY, "stack not started", al_mac);
    const char* ifname = nullptr;
    if (!resolve(*al, al_mac, &ifname))
        return refuse(fn, MAP_SEND_UNKNOWN_AGENT, "unknown agent", al_mac);
    if (!cmdu)
        return refuse(fn, MAP_SEND_ENCODE, "message could not be built", al_mac);
    int rc = al->send(al_mac, *cmdu, ifname, allocate_mid, mid);
    if (rc != MAP_SEND_OK)
        map_log(MAP_LOG_CONTROLLER, 3, "%s: sending to %s failed (%d)", fn,
                al_mac.to_string().c_str(), rc);
    return rc;
}

// A steering request moves a client (or a backhaul STA) from one device to another. Where it
// went is told by the devices' Topology Notifications, relayed multicast that nobody
// acknowledges and the first thing a house loses; the daemon judges the outcome some
// fifteen seconds later. So the devices involved are asked for their topology twice before
// then: the graph shows the move even when the notifications were lost.
constexpr long long kConfirmMoveMs[] = {5000, 12000};

void confirm_move(const MAC& source, const std::vector<BSSID>& targets, const MAC& old_parent) {
    std::vector<MAC> devices{source};
    auto add = [&](const MAC& m) {
        if (!m.is_zero() && std::find(devices.begin(), devices.end(), m) == devices.end())
            devices.push_back(m);
    };
    add(old_parent);
    for (const BSSID& b : targets) {
        const map_bss_info_t* bss =
            b.is_zero() || b == BSSID::broadcast ? nullptr : map_find_bss(b);
        if (bss && bss->radio && bss->radio->ale)
            add(bss->radio->ale->al_mac);
    }
    for (const MAC& m : devices)
        for (long long delay : kConfirmMoveMs)
            map_stack_reread_topology(m, delay);
}

template <class T>
CmduPtr one_tlv(uint16_t type, const T& record) {
    return CmduBuilder(type, 0).add(record).build();
}

}  // namespace

int map_send_topology_query(const MAC& al_mac) {
    MapAl* al = map_stack_al();
    if (al != nullptr && al_mac == al->al_mac()) {
        // The controller's own AL answers locally, through the callback table.
        if (!al->query_self(al->next_message_id()))
            return refuse(__func__, MAP_SEND_SOCKET, "local answer queue full", al_mac);
        return MAP_SEND_OK;
    }
    uint8_t profile = get_map_profile();
    return send_to_agent(__func__, al_mac,
                         CmduBuilder(CMDU_TYPE_TOPOLOGY_QUERY, 0)
                             .add(multiap_profile_tlv{TLV_TYPE_MULTIAP_PROFILE, profile})
                             .build());
}

int map_send_link_metric_query(const MAC& al_mac, const link_metric_query_tlv& query) {
    return send_to_agent(__func__, al_mac, one_tlv(CMDU_TYPE_LINK_METRIC_QUERY, query));
}

int map_send_ap_capability_query(const MAC& al_mac) {
    return send_to_agent(__func__, al_mac, CmduBuilder(CMDU_TYPE_AP_CAPABILITY_QUERY, 0).build());
}

int map_send_ap_metric_query(const MAC& al_mac, const std::vector<BSSID>& bssids) {
    if (bssids.empty())
        return refuse(__func__, MAP_SEND_BAD_ARGUMENT, "no BSSID to query", al_mac);
    ap_metric_query_tlv q;
    q.bssids = bssids;
    q.num_bssids = static_cast<uint8_t>(bssids.size());
    return send_to_agent(__func__, al_mac, one_tlv(CMDU_TYPE_AP_METRICS_QUERY, q));
}

int map_send_associated_sta_link_metrics_query(const MAC& al_mac, const MAC& sta_mac) {
    sta_mac_address_tlv t;
    t.sta_mac = sta_mac;
    return send_to_agent(__func__, al_mac, one_tlv(CMDU_TYPE_ASSOCIATED_STA_LINK_METRICS_QUERY, t));
}

int map_send_unassoc_sta_metrics_query(const MAC& al_mac,
                                       const unassociated_sta_link_metrics_query_tlv& query) {
    return send_to_agent(__func__, al_mac,
                         one_tlv(CMDU_TYPE_UNASSOCIATED_STA_LINK_METRICS_QUERY, query));
}

int map_send_beacon_metrics_query(const MAC& al_mac, const beacon_metrics_query_tlv& query) {
    return send_to_agent(__func__, al_mac, one_tlv(CMDU_TYPE_BEACON_METRICS_QUERY, query));
}

int map_send_client_capability_query(const MAC& al_mac, const MAC& sta_mac, const BSSID& bssid) {
    client_info_tlv t;
    t.bssid = bssid;
    t.client_mac = sta_mac;
    return send_to_agent(__func__, al_mac, one_tlv(CMDU_TYPE_CLIENT_CAPABILITY_QUERY, t));
}

int map_send_policy_config(const MAC& al_mac, const map_policy_config_t& config) {
    CmduBuilder b(CMDU_TYPE_MULTI_AP_POLICY_CONFIG_REQUEST, 0);
    int n = 0;
    if (config.steering) {
        b.add(*config.steering);
        ++n;
    }
    if (config.metric) {
        b.add(*config.metric);
        ++n;
    }
    if (config.default_8021q) {
        b.add(*config.default_8021q);
        ++n;
    }
    if (config.traffic_separation) {
        b.add(*config.traffic_separation);
        ++n;
    }
    if (config.channel_scan) {
        b.add(*config.channel_scan);
        ++n;
    }
    if (config.unsuccessful_association) {
        b.add(*config.unsuccessful_association);
        ++n;
    }
    if (n == 0)
        return refuse(__func__, MAP_SEND_BAD_ARGUMENT, "empty policy", al_mac);
    return send_to_agent(__func__, al_mac, b.build());
}

int map_send_steering_request(const MAC& al_mac, const steering_request_tlv& request) {
    int rc = send_to_agent(__func__, al_mac, one_tlv(CMDU_TYPE_CLIENT_STEERING_REQUEST, request));
    if (rc == MAP_SEND_OK) {
        std::vector<BSSID> targets;
        for (const auto& t : request.targets)
            targets.push_back(t.bssid);
        confirm_move(al_mac, targets, MAC());
    }
    return rc;
}

int map_send_client_acl_request(const MAC& al_mac,
                                const client_association_control_request_tlv& request) {
    return send_to_agent(__func__, al_mac,
                         one_tlv(CMDU_TYPE_CLIENT_ASSOCIATION_CONTROL_REQUEST, request));
}

int map_send_backhaul_steering_request(const MAC& al_mac,
                                       const backhaul_steering_request_tlv& request) {
    int rc = send_to_agent(__func__, al_mac, one_tlv(CMDU_TYPE_BACKHAUL_STEERING_REQUEST, request));
    if (rc == MAP_SEND_OK) {
        const map_sta_info_t* bsta = get_sta(request.backhaul_sta_mac);
        confirm_move(al_mac, {request.target_bssid}, bsta && bsta->ale ? bsta->ale->al_mac : MAC());
    }
    return rc;
}

int map_send_ch_scan_request(const MAC& al_mac, const channel_scan_request_tlv& request) {
    return send_to_agent(__func__, al_mac, one_tlv(CMDU_TYPE_CHANNEL_SCAN_REQUEST, request));
}

int map_send_CAC_request(const MAC& al_mac, const cac_request_tlv& request) {
    return send_to_agent(__func__, al_mac, one_tlv(CMDU_TYPE_CAC_REQUEST, request));
}

int map_send_CAC_termination(const MAC& al_mac, const cac_termination_tlv& request) {
    return send_to_agent(__func__, al_mac, one_tlv(CMDU_TYPE_CAC_TERMINATION, request));
}

int map_send_1905_ack(const MAC& al_mac, uint16_t mid, const std::vector<error_code_tlv>& errors) {
    CmduBuilder b(CMDU_TYPE_1905_ACK, mid);
    for (const auto& e : errors)
        b.add(e);
    return send_to_agent(__func__, al_mac, b.build(), nullptr, false);
}

void* handle_1905 = nullptr;

int lib1905_send(void* /*handle*/, uint16_t* mid, const MAC& dest, CMDU* cmdu, const char* ifname) {
    MapAl* al = map_stack_al();
    if (al == nullptr)
        return refuse(__func__, MAP_SEND_NOT_READY, "stack not started", dest);
    if (cmdu == nullptr)
        return refuse(__func__, MAP_SEND_BAD_ARGUMENT, "no CMDU", dest);
    char egress[sizeof cmdu->interface_name + 1] = {};
    std::memcpy(egress, cmdu->interface_name, sizeof cmdu->interface_name);
    if (ifname == nullptr && egress[0] != '\0' && std::strcmp(egress, "all") != 0)
        ifname = egress;
    if (ifname == nullptr && !(dest == IEEE1905_MULTICAST_ADDRESS)) {
        const map_ale_info_t* ale = get_ale(dest);
        if (ale != nullptr && ale->iface_name[0] != '\0' &&
            al->transport().find_interface(ale->iface_name) >= 0)
            ifname = ale->iface_name;
    }
    return al->send(dest, *cmdu, ifname, true, mid);
}

int send_autoconfig_renew(const MAC& al_mac, uint8_t freq_band) {
    if (freq_band > IEEE1905_FREQ_BAND_60_GHZ)
        return refuse(__func__, MAP_SEND_BAD_ARGUMENT, "frequency band out of range", al_mac);
    MapAl* al = map_stack_al();
    if (al == nullptr)
        return refuse(__func__, MAP_SEND_NOT_READY, "stack not started", al_mac);
    CmduBuilder b(CMDU_TYPE_AP_AUTOCONFIGURATION_RENEW, 0);
    b.add(al_mac_address_tlv{TLV_TYPE_AL_MAC_ADDRESS_TYPE, al->al_mac()})
        .add(supported_role_tlv{TLV_TYPE_SUPPORTED_ROLE, IEEE1905_ROLE_REGISTRAR})
        .add(supported_freq_band_tlv{TLV_TYPE_SUPPORTED_FREQ_BAND, freq_band});
    if (al_mac == IEEE1905_MULTICAST_ADDRESS) {
        // Every agent: relayed multicast on every interface.
        b.relay(true);
        CmduPtr c = b.build();
        if (!c)
            return refuse(__func__, MAP_SEND_ENCODE, "message could not be built", al_mac);
        int rc = al->send(al_mac, *c, nullptr, true);
        if (rc == MAP_SEND_OK)
            map_stack_follow_renew(freq_band);
        return rc;
    }
    return send_to_agent(__func__, al_mac, b.build());
}

const MAC& getMAPControllerAlMac() {
    MapAl* al = map_stack_al();
    return al ? al->al_mac() : map_stack_config().al_mac;
}

const MAC& getMAPAgentAlMac() {
    return map_stack_config().agent_al_mac;
}

const MAC& getHktAlMac() {
    return getMAPControllerAlMac();
}

const MAC& PLATFORM_GET_MAC_ADDRESS() {
    static const MAC none;
    MapAl* al = map_stack_al();
    if (al == nullptr || al->transport().interfaces().empty())
        return none;
    return al->transport().interfaces()[0].mac;
}

int set_topology_discovery_interval(int16_t seconds) {
    if (seconds < 1 || seconds > 3600) {
        map_log(MAP_LOG_IEEE1905, 3, "%s: %d s is out of range (1..3600)", __func__, seconds);
        return -1;
    }
    return map_stack_set_discovery_interval(static_cast<unsigned>(seconds));
}
