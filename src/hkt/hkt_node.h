// One vendor agent (HKT agent) of the maker's extenders, as the registry keeps it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/mac.h"
#include "hkt/ap_status.h"
#include "map/hkt/hkt_message.h"

class Logger;

// The gateway's own IPv4 address: what the vendor agents are told, and the address of an
// extender that reports none.
extern const std::string kDefaultRgwIpv4;  // "192.168.1.1"

// An interface the vendor agent reports in its discovery response.
struct HktInterface {
    std::string name;
    MAC mac;
    uint32_t media_type = 0;
    uint8_t power_state = 0;
    uint8_t physical_port = 0;
};

// One enabled VAP a vendor agent reports (the graph keeps them per device).
struct HKTVapInfo {
    std::string vap_name;
    BSSID bssid;
    std::string ssid;
    uint16_t authentication_mode = 0;
    uint16_t encryption_mode = 0;
    uint8_t bss_type = 0;  // bit 0 fronthaul, bit 1 backhaul
};

struct HktNode {
    int64_t last_heard = 0;      // ms: last discovery response or heartbeat
    bool got_discovery = false;  // a discovery response came since the node was offline
    bool is_online = false;
    uint32_t uptime = 0;  // from the last heartbeat
    ApStatus ap_status = ApStatus::NOT_DETECTED;
    MAC agent_mac;              // AL MAC of the co-located Multi-AP agent (zero: unknown)
    std::string serial_number;  // upper case; the key the data minder knows the extender by

    // From the discovery response.
    uint32_t capabilities_version = 0;
    uint32_t hkt_version = 0;
    uint32_t config_number = 0;
    std::string model_number;
    MAC hkt_mac;  // the vendor agent's own MAC (zero until discovered)
    MAC system_mac;
    std::string ip_addr;
    std::string ipv6_local_addr;
    std::vector<std::string> ipv6_global_addrs;
    std::string hostname;
    uint32_t minders_present = 0;
    std::vector<uint16_t> minder_capabilites;
    std::vector<HktInterface> interfaces;

    // Identity the platform's authorisation request and status signals carry.
    std::string sw_version;
    std::string vendor;
    std::string product_class;
    uint8_t oui[3] = {0, 0, 0};

    // The fields one per line at debug level.
    void debug_dump(const Logger* logger) const;

    // A discovery response from HKT_MAC: every field it carries, heard now.
    void update_discovery_data(const MAC& hkt_mac, const hkt_discovery_response_tlv& tlv,
                               int64_t now_ms);
    // A heartbeat: heard now, its uptime kept.
    void update_heartbeat_data(const hkt_heartbeat_tlv& tlv, int64_t now_ms);
    // New addresses (from an IP change notification).
    void update_ip_addresses(const HktAddresses& addresses);
};

// SN in upper case (ASCII letters only).
std::string hkt_upper_sn(const std::string& sn);
