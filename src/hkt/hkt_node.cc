#include "hkt/hkt_node.h"

#include "core/log.h"

const std::string kDefaultRgwIpv4 = "192.168.1.1";

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
    OZR_DEBUG(l, "    ap_status: {}", ap_status_to_string(ap_status));
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

void HktNode::update_ip_addresses(const HktAddresses& a) {
    ip_addr = hkt_ipv4_to_string(a.ipv4);
    ipv6_local_addr = hkt_ipv6_to_string(a.ipv6_local);
    ipv6_global_addrs.clear();
    for (const HktIpv6& g : a.ipv6_global)
        ipv6_global_addrs.push_back(hkt_ipv6_to_string(g));
}

void HktNode::update_discovery_data(const MAC& mac, const hkt_discovery_response_tlv& t,
                                    int64_t now_ms) {
    last_heard = now_ms;
    got_discovery = true;
    hkt_mac = mac;
    capabilities_version = t.capabilities_version;
    hkt_version = t.hkt_version;
    config_number = t.config_number;
    model_number = t.model_number;
    system_mac = t.system_mac;
    agent_mac = t.collocated_map_agent_mac;
    update_ip_addresses(t.addresses);
    hostname = t.hostname;
    sw_version = t.sw_version;
    vendor = t.vendor;
    product_class = t.product_class;
    oui[0] = t.oui[0];
    oui[1] = t.oui[1];
    oui[2] = t.oui[2];
    minders_present = t.minders_present;
    minder_capabilites = t.minder_capabilites;
    interfaces.clear();
    for (const auto& i : t.interfaces) {
        HktInterface x;
        x.name = i.ifname;
        x.mac = i.mac;
        x.media_type = i.media_type;
        x.power_state = i.pwr_state;
        x.physical_port = i.physical_port_number;
        interfaces.push_back(std::move(x));
    }
}

void HktNode::update_heartbeat_data(const hkt_heartbeat_tlv& t, int64_t now_ms) {
    last_heard = now_ms;
    uptime = t.uptime;
}
