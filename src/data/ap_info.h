// The data minder's in-memory view of the admitted extenders (the RAM DB) and their timers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/mac.h"
#include "core/timer.h"
#include "graph/backhaul_information.h"
#include "hkt/ap_status.h"
#include "hkt/hkt_node.h"

// One admitted extender as the data minder sees it: its record plus live data.
struct ApInfo {
    std::string sn;
    std::string hostname;
    std::string ipv4 = kDefaultRgwIpv4;
    MAC system_mac;
    std::string status;      // the ApStatus string
    int64_t updated_ms = 0;  // when the entry last changed (seconds since: below)
    MAC ale_mac;             // 1905 AL MAC of its Multi-AP agent (zero: not known yet)
    MAC ap_mac;              // its vendor agent's MAC (zero: not known yet)
    bool online = false;
    bool is_gateway = false;  // the gateway itself (cannot be removed)
    std::string backhaul_ipv4 = kDefaultRgwIpv4;
    MAC backhaul_mac;  // the uplink's far interface
    bool is_backhaul_connected = false;
    MAC backhaul_ale_mac;                 // AL MAC of the uplink device
    int backhaul_quality_value = 0;       // backhaul_quality as a number
    std::string backhaul_quality_string;  // "good" or "normal"
    uint32_t cost_to_gw = kUnreachableCost;

    int64_t seconds_since_last_update(int64_t now_ms) const {
        return now_ms > updated_ms ? (now_ms - updated_ms) / 1000 : 0;
    }
    // "{hostname:…, sn:…, Status:…, IP:…, system_MAC:…, seconds-since-last-update:…,
    // ale_MAC:…, ap_MAC:…, online:…, is_gateway:…, backhaul-ip-address IP:…,
    // backhaul-mac-address MAC:…, is_backhaul_connected:…, backhaul_ale_MAC:…,
    // backhaul_quality_info.value:…, backhaul_quality_info.string:…, cost_to_gw:…}"
    std::string to_string(int64_t now_ms) const;
};

// The timers of one white-listed serial number. Both timers are created on the loop with
// the entry; destroying the entry closes them (safe inside their own callbacks).
struct ApTimerInfo {
    std::string sn;
    bool online_wait_active = false;
    bool online_wait_pending = false;  // set with the active flag, cleared when it ends
    std::unique_ptr<OneShotTimer> online_wait_timer;
    bool factory_reset_active = false;
    int online_wait_count = 0;
    std::unique_ptr<OneShotTimer> factory_reset_timer;
    // Set by a removal: the entry then lives on for the factory reset wait only.
    bool removed = false;
    MAC ale_mac;  // of the removed extender, for the factory reset
};
