#include "map/map_config.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#include "map/al/stack.h"
#include "map/codec/tlvs.h"
#include "map/datamodel/datamodel.h"
#include "map/map_log.h"
#include "map/map_send.h"
#include "map/wsc/wsc_crypto.h"

namespace {

constexpr int16_t kDefaultTopologyQuerySeconds = 60;
constexpr int16_t kDefaultLinkMetricQuerySeconds = 30;
constexpr int16_t kMaxIntervalSeconds = 3600;
constexpr uint16_t kMaxVlanId = 4094;
constexpr uint8_t kMaxPcp = 7;
constexpr size_t kMaxSsidBytes = 32;

struct ConfigState {
    int16_t topology_query = kDefaultTopologyQuerySeconds;
    int16_t link_metric_query = kDefaultLinkMetricQuerySeconds;
    std::optional<config_default_802dot1q_t> default_8021q;
    std::optional<cfg_traffic_separation_policy_list_t> traffic_separation;
    std::optional<map_metric_policy_t> metric_policy;
    std::optional<map_credential_config_t> credentials;
};

ConfigState& state() {
    static ConfigState s;
    return s;
}

int set_interval(const char* what, int16_t seconds, int16_t& slot) {
    if (seconds < 1 || seconds > kMaxIntervalSeconds) {
        map_log(MAP_LOG_CONTROLLER, 3, "%s: %d s is out of range (1..%d)", what, seconds,
                kMaxIntervalSeconds);
        return -1;
    }
    slot = seconds;
    return 0;
}

bool ssid_empty(const cfg_traffic_separation_policy_t& e) {
    return e.ssid[0] == '\0';
}

bool entry_valid(const cfg_traffic_separation_policy_t& e) {
    if (ssid_empty(e)) {
        return true;
    }
    if (e.vid == 0 || e.vid > kMaxVlanId) {
        return false;
    }
    // At most 32 SSID bytes, NUL-terminated.
    return std::memchr(e.ssid, '\0', kMaxSsidBytes + 1) != nullptr;
}

// RCPI of an RSSI threshold in dBm (held as a signed byte; 0 = off).
uint8_t rcpi_of_dbm(uint8_t threshold) {
    const int dbm = static_cast<int8_t>(threshold);
    if (dbm == 0) {
        return 0;
    }
    const int rcpi = 2 * (dbm + 110);
    return static_cast<uint8_t>(rcpi < 0 ? 0 : (rcpi > 220 ? 220 : rcpi));
}

bool credential_valid(const map_vap_credential_t& c) {
    const void* ssid_end = std::memchr(c.ssid, '\0', sizeof(c.ssid));
    const void* key_end = std::memchr(c.network_key, '\0', sizeof(c.network_key));
    if (ssid_end == nullptr || key_end == nullptr || c.ssid[0] == '\0') {
        return false;
    }
    const size_t key_len = static_cast<size_t>(static_cast<const char*>(key_end) - c.network_key);
    if (key_len > 0 && key_len < 8) {
        return false;  // shorter than any WPA passphrase
    }
    return (c.bss_type & (MAP_CRED_FRONTHAUL | MAP_CRED_BACKHAUL)) != 0;
}

}  // namespace

int set_topology_query_interval(int16_t seconds) {
    return set_interval(__func__, seconds, state().topology_query);
}

int set_link_metric_query_interval(int16_t seconds) {
    return set_interval(__func__, seconds, state().link_metric_query);
}

int16_t get_topology_query_interval() {
    return state().topology_query;
}

int16_t get_link_metric_query_interval() {
    return state().link_metric_query;
}

int set_default_802dot1q(const config_default_802dot1q_t* cfg) {
    if (cfg == nullptr || cfg->vid == 0 || cfg->vid > kMaxVlanId || cfg->pcp > kMaxPcp) {
        map_log(MAP_LOG_CONTROLLER, 3, "%s: bad default 802.1Q settings", __func__);
        return -1;
    }
    state().default_8021q = *cfg;
    return 0;
}

const config_default_802dot1q_t* get_default_802dot1q() {
    auto& s = state();
    return s.default_8021q ? &*s.default_8021q : nullptr;
}

int set_traffic_separation_policy(const cfg_traffic_separation_policy_list_t* list) {
    if (list == nullptr) {
        return -1;
    }
    for (size_t i = 0; i < kTrafficSeparationEntries; ++i) {
        if (!entry_valid(list->entries[i])) {
            map_log(MAP_LOG_CONTROLLER, 3, "%s: entry %zu is malformed", __func__, i);
            return -1;
        }
    }
    state().traffic_separation = *list;
    return 0;
}

const cfg_traffic_separation_policy_list_t* get_traffic_separation_policy() {
    auto& s = state();
    return s.traffic_separation ? &*s.traffic_separation : nullptr;
}

size_t traffic_separation_used_entries() {
    const auto* list = get_traffic_separation_policy();
    if (list == nullptr) {
        return 0;
    }
    size_t used = 0;
    for (const auto& e : list->entries) {
        used += ssid_empty(e) ? 0 : 1;
    }
    return used;
}

int platform_set_policy_cfg(uint32_t word0, uint32_t word1, uint32_t word2, uint32_t word3) {
    (void)word3;  // reserved
    map_metric_policy_t p{};
    p.report_interval = static_cast<uint8_t>(word0 & 0xFFU);
    p.sta_rssi_threshold = static_cast<uint8_t>((word0 >> 8) & 0xFFU);
    p.sta_rssi_hysteresis = static_cast<uint8_t>((word0 >> 16) & 0xFFU);
    p.ap_channel_utilization_threshold = static_cast<uint8_t>((word0 >> 24) & 0xFFU);
    p.sta_link_traffic_stats = (word1 & 0xFFU) != 0;
    p.report_unsuccessful_associations = (word1 & 0x100U) != 0;
    p.max_reporting_rate = word2;
    state().metric_policy = p;
    return 0;
}

const map_metric_policy_t* get_metric_policy() {
    auto& s = state();
    return s.metric_policy ? &*s.metric_policy : nullptr;
}

void map_config_reset() {
    if (state().credentials)
        map_credential_config_wipe(&*state().credentials);
    state() = ConfigState{};
    map_channel_events_clear();
}

void* PLATFORM_MALLOC(size_t size) {
    if (size == 0 || size > kPlatformMallocMax) {
        return nullptr;
    }
    return std::malloc(size);
}

map_1905_interface_info_t* PLATFORM_GET_1905_INTERFACE_INFO(const char* ifname) {
    MapAl* al = map_stack_al();
    if (ifname == nullptr || al == nullptr) {
        return nullptr;
    }
    const size_t len = strnlen(ifname, kInterfaceNameMax);
    if (len == 0 || len >= kInterfaceNameMax) {
        return nullptr;
    }
    Transport& transport = al->transport();
    const int index = transport.find_interface(std::string(ifname, len));
    if (index < 0) {
        return nullptr;
    }
    const TransportInterface& itf = transport.interfaces()[static_cast<size_t>(index)];
    auto* info =
        static_cast<map_1905_interface_info_t*>(std::calloc(1, sizeof(map_1905_interface_info_t)));
    if (info == nullptr) {
        return nullptr;
    }
    std::memcpy(info->name, ifname, len);
    std::memcpy(info->mac, itf.mac.data(), sizeof(info->mac));
    info->media_type = kMediaTypeGigabitEthernet;
    info->up = al->running();
    return info;
}

void PLATFORM_FREE_1905_INTERFACE_INFO(map_1905_interface_info_t* info) {
    std::free(info);
}

int map_send_stored_policy_config(const MAC& al_mac) {
    const ConfigState& s = state();
    metric_reporting_policy_tlv metric;
    unsuccessful_association_policy_tlv unsuccessful;
    default_8021q_settings_tlv vlan;
    traffic_separation_policy_tlv separation;
    map_policy_config_t cfg;
    if (s.metric_policy) {
        const map_metric_policy_t& p = *s.metric_policy;
        metric.ap_metrics_reporting_interval = p.report_interval;
        if (const map_ale_info_t* ale = get_ale(al_mac)) {
            for (uint8_t i = 0; i < ale->num_radios && i < MAP_MAX_RADIOS_PER_AGENT; ++i) {
                if (ale->radios[i] == nullptr) {
                    continue;
                }
                metric_reporting_policy_tlv::radio_policy r;
                r.radio_id = ale->radios[i]->radio_id;
                r.sta_metrics_rcpi_threshold = rcpi_of_dbm(p.sta_rssi_threshold);
                r.sta_metrics_rcpi_hysteresis_margin = p.sta_rssi_hysteresis;
                r.ap_metrics_channel_utilization_threshold = p.ap_channel_utilization_threshold;
                r.include_sta_traffic_stats = p.sta_link_traffic_stats ? 1 : 0;
                r.include_sta_link_metrics = p.sta_link_traffic_stats ? 1 : 0;
                metric.radios.push_back(r);
            }
        }
        metric.num_radios = static_cast<uint8_t>(metric.radios.size());
        cfg.metric = &metric;
        unsuccessful.report_unsuccessful_associations = p.report_unsuccessful_associations ? 1 : 0;
        unsuccessful.max_reporting_rate = p.max_reporting_rate;
        cfg.unsuccessful_association = &unsuccessful;
    }
    if (s.default_8021q) {
        vlan.primary_vlan_id = s.default_8021q->vid;
        vlan.default_pcp = s.default_8021q->pcp;
        cfg.default_8021q = &vlan;
    }
    if (s.traffic_separation) {
        for (const auto& e : s.traffic_separation->entries) {
            if (ssid_empty(e)) {
                continue;
            }
            traffic_separation_policy_tlv::ssid_vlan sv;
            const size_t len = strnlen(e.ssid, sizeof(e.ssid));
            sv.ssid_len = static_cast<uint8_t>(len < sizeof(sv.ssid) ? len : sizeof(sv.ssid));
            std::memcpy(sv.ssid, e.ssid, sv.ssid_len);
            sv.vlan_id = e.vid;
            separation.ssids.push_back(sv);
        }
        separation.num_ssids = static_cast<uint8_t>(separation.ssids.size());
        cfg.traffic_separation = &separation;
    }
    return map_send_policy_config(al_mac, cfg);
}

int set_credential_config(const map_credential_config_t* config) {
    if (config == nullptr || config->count > kMaxCredentials) {
        map_log(MAP_LOG_CONTROLLER, 3, "%s: no or too many credentials", __func__);
        return -1;
    }
    for (uint8_t i = 0; i < config->count; ++i) {
        if (!credential_valid(config->creds[i])) {
            map_log(MAP_LOG_CONTROLLER, 3, "%s: credential %u is malformed", __func__, i);
            return -1;
        }
    }
    if (state().credentials && config == &*state().credentials)
        return 0;  // handed back what is stored
    if (state().credentials)
        map_credential_config_wipe(&*state().credentials);
    if (config->count == 0) {
        state().credentials.reset();
        map_set_backhaul_ssid(nullptr, 0);
        return 0;
    }
    if (!state().credentials)
        state().credentials.emplace();
    map_credential_config_t& copy = *state().credentials;  // copied in place: no stray copy
    copy = map_credential_config_t{};
    copy.count = config->count;
    for (uint8_t i = 0; i < config->count; ++i) {
        copy.creds[i] = config->creds[i];
    }
    map_set_backhaul_ssid(nullptr, 0);
    for (uint8_t i = 0; i < copy.count; ++i) {
        if (copy.creds[i].bss_type & MAP_CRED_BACKHAUL) {
            map_set_backhaul_ssid(reinterpret_cast<const uint8_t*>(copy.creds[i].ssid),
                                  static_cast<uint8_t>(std::strlen(copy.creds[i].ssid)));
            break;
        }
    }
    return 0;
}

void map_credential_config_wipe(map_credential_config_t* config) {
    if (config == nullptr)
        return;
    for (auto& c : config->creds)
        wsc_wipe(c.network_key, sizeof c.network_key);
}

const map_credential_config_t* map_get_m2_config() {
    auto& s = state();
    return s.credentials ? &*s.credentials : nullptr;
}
