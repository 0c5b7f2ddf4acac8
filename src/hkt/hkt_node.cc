#include "hkt/hkt_node.h"

#include "core/log.h"
#include "data/ap_config_db.h"

std::string hkt_upper_sn(const std::string& sn) {
    std::string out = sn;
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

void HktNode::debug_dump(const Logger* l) const {
    OZR_DEBUG(l, "    last_heard: {}", last_heard);
    OZR_DEBUG(l, "    got_discovery: {}", got_discovery);
    OZR_DEBUG(l, "    is_online: {}", is_online);
    OZR_DEBUG(l, "    capabilities_version: {}", capabilities_version);
    OZR_DEBUG(l, "    hkt_version: {}", hkt_version);
    OZR_DEBUG(l, "    uptime: {}", uptime);
    OZR_DEBUG(l, "    config_number: {}", config_number);
    OZR_DEBUG(l, "    ap_status: {}", ApConfigDb::status_to_string(ap_status));
    OZR_DEBUG(l, "    hkt_mac: {}", hkt_mac.to_string());
    OZR_DEBUG(l, "    agent_mac: {}", agent_mac.to_string());
    OZR_DEBUG(l, "    system_mac: {}", system_mac.to_string());
    OZR_DEBUG(l, "    model_number: {}", model_number);
    OZR_DEBUG(l, "    serial_number - sn: {}", serial_number);
    OZR_DEBUG(l, "    ip_addr: {}", ip_addr);
    OZR_DEBUG(l, "    ipv6_local_addr: {}", ipv6_local_addr);
    for (size_t i = 0; i < ipv6_global_addrs.size(); ++i)
        OZR_DEBUG(l, "    ipv6_global_addrs[{}]: {}", i, ipv6_global_addrs[i]);
    OZR_DEBUG(l, "    hostname: {}", hostname);
    OZR_DEBUG(l, "    minders_present: {}", minders_present);
    for (size_t i = 0; i < minder_capabilites.size(); ++i)
        OZR_DEBUG(l, "        minder_capabilites[{}]: {:04x}", i, minder_capabilites[i]);
}
