// What the vendor (HKT) agents of the maker's extenders tell the graph: their Ethernet
// ports, interface statistics and enabled VAPs; and the vendor senders of the graph.
#include "core/context.h"
#include "core/log.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"

namespace {
HktMgmtMinder* hkt() {
    Context* c = Context::instance();
    return c ? c->hkt_mgmt_minder : nullptr;
}
// IEEE 1905.1 media types of Ethernet (fast, gigabit): the port types of the entries.
bool is_ethernet(uint32_t media_type) {
    return media_type == 0 || media_type == 1;
}
}  // namespace

void GraphMinder::sync_vendor_ports(const std::vector<Device*>& devices) {
    HktMgmtMinder* h = hkt();
    if (!h)
        return;
    for (Device* d : devices) {
        const HktNode* n = h->find_hkt_from_agent(d->mac);
        if (!n || n->hkt_mac.is_zero())
            continue;
        std::vector<PortEntry> ports;
        for (const HktInterface& i : n->interfaces) {
            if (!is_ethernet(i.media_type) || ports.size() >= HKT_MAX_INTERFACES)
                continue;
            PortEntry p;
            p.type = static_cast<uint16_t>(i.media_type);
            p.mac = i.mac;
            const PortEntry* old = d->find_port(i.mac);
            p.port = old ? old->port : i.physical_port;
            ports.push_back(p);
        }
        d->ports = std::move(ports);
    }
}

Device* GraphMinder::vendor_device(const CMDU* cmdu, const char* func, const char* what) {
    HktMgmtMinder* h = hkt();
    const HktNode* n = h ? h->find_hkt(cmdu->src_al_mac) : nullptr;
    if (!n) {
        OZR_DEBUG(&logger_, "{} Receive one {} src MAC: {} is not in the hkt list.", func, what,
                  cmdu->src_al_mac.to_string());
        return nullptr;
    }
    Device* d = graph_.find_device(n->agent_mac);
    if (!d)
        OZR_DEBUG(&logger_, "{} Didn't find device node for MAC: {}", func,
                  n->agent_mac.to_string());
    return d;
}

void GraphMinder::on_port_info_resp(CMDU* cmdu, void* tlv) {
    const hkt_port_info_response_tlv* t = hkt_tlv_cast<hkt_port_info_response_tlv>(tlv);
    if (!t)
        return;
    OZR_DEBUG(&logger_,
              "GraphMinder:: hkt MAC: {}   -tlv_type: {}  -port MAC: {}  -power_state:{}  "
              "-speed: {}  -result_code: {}",
              cmdu->src_al_mac.to_string(), HKT_TLV_PORT_INFO_RESPONSE, t->port_mac.to_string(),
              t->power_state, t->speed, t->result_code);
    Device* d = vendor_device(cmdu, __func__, "port info response");
    if (!d)
        return;
    PortEntry* p = d->find_port(t->port_mac);
    if (!p) {
        OZR_DEBUG(&logger_, "{} can not find one port entry for interface MAC: {}", __func__,
                  t->port_mac.to_string());
        return;
    }
    if (t->result_code == 0)
        p->port = t->port_number;
}

void GraphMinder::on_hkt_interfaces_statistic_resp(CMDU* cmdu, void* tlv) {
    const hkt_interfaces_statistic_response_tlv* t =
        hkt_tlv_cast<hkt_interfaces_statistic_response_tlv>(tlv);
    if (!t)
        return;
    Device* d = vendor_device(cmdu, __func__, "interfaces statistic response");
    if (!d)
        return;
    OZR_DEBUG(&logger_, "{} - Received HKT interfaces statistic Response from MAC: {}", __func__,
              cmdu->src_al_mac.to_string());
    for (const auto& i : t->interfaces) {
        HKTInterfaceInfo* info = d->find_hkt_interface_info(i.mac);
        if (!info) {
            if (d->hkt_interfaces.size() >= HKT_MAX_INTERFACES) {
                OZR_DEBUG(&logger_, "{} Didn't find interface MAC: {} in device {}.", __func__,
                          i.mac.to_string(), d->mac.to_string());
                continue;
            }
            d->hkt_interfaces.emplace_back();
            info = &d->hkt_interfaces.back();
            info->mac = i.mac;
        }
        info->has_statistics = true;
        info->statistics = i.stats;
        info->statistics_ms = now();
        const HktStatistic& s = i.stats;
        OZR_DEBUG(&logger_, "     interface: {}", i.mac.to_string());
        OZR_DEBUG(&logger_, "     total_rx_bytes: {}", s.total_rx_bytes);
        OZR_DEBUG(&logger_, "     total_tx_bytes: {}", s.total_tx_bytes);
        OZR_DEBUG(&logger_, "     total_rx_packets: {}", s.total_rx_packets);
        OZR_DEBUG(&logger_, "     total_tx_packets: {}", s.total_tx_packets);
        OZR_DEBUG(&logger_, "     unicast_rx_packets: {}", s.unicast_rx_packets);
        OZR_DEBUG(&logger_, "     unicast_tx_packets: {}", s.unicast_tx_packets);
        OZR_DEBUG(&logger_, "     multicast_rx_packets: {}", s.multicast_rx_packets);
        OZR_DEBUG(&logger_, "     multicast_tx_packets: {}", s.multicast_tx_packets);
        OZR_DEBUG(&logger_, "     broadcast_rx_packets: {}", s.broadcast_rx_packets);
        OZR_DEBUG(&logger_, "     broadcast_tx_packets: {}", s.broadcast_tx_packets);
        OZR_DEBUG(&logger_, "     rx_errors: {}", s.rx_errors);
        OZR_DEBUG(&logger_, "     tx_errors: {}", s.tx_errors);
        OZR_DEBUG(&logger_, "     rx_dropped_packets: {}", s.rx_dropped_packets);
        OZR_DEBUG(&logger_, "     tx_dropped_packets: {}", s.tx_dropped_packets);
    }
}

void GraphMinder::on_hkt_vaps_info_resp(CMDU* cmdu, void* tlv) {
    const hkt_vaps_info_response_tlv* t = hkt_tlv_cast<hkt_vaps_info_response_tlv>(tlv);
    if (!t)
        return;
    Device* d = vendor_device(cmdu, __func__, "vaps info response");
    if (!d)
        return;
    OZR_DEBUG(&logger_, "{} - Received HKT enabled vaps info Response from MAC: {}", __func__,
              cmdu->src_al_mac.to_string());
    std::vector<HKTVapInfo> vaps;
    for (const auto& v : t->vaps) {
        HKTVapInfo x;
        x.vap_name = v.vap_name;
        x.bssid = v.bssid;
        x.ssid.assign(reinterpret_cast<const char*>(v.ssid), v.ssid_len);
        x.authentication_mode = v.authentication_mode;
        x.encryption_mode = v.encryption_mode;
        x.bss_type = v.bss_type;
        OZR_DEBUG(&logger_, "     vap_name: {}", x.vap_name);
        OZR_DEBUG(&logger_, "     BSSID: {}", x.bssid.to_string());
        OZR_DEBUG(&logger_, "     authentication_mode: {}", x.authentication_mode);
        OZR_DEBUG(&logger_, "     encryption_mode: {}", x.encryption_mode);
        OZR_DEBUG(&logger_, "     bss_type: {}", x.bss_type);
        vaps.push_back(std::move(x));
    }
    d->hkt_vaps = std::move(vaps);
    ssid_report_ms_[d->mac] = now();
    // An agent owed a renew is compared again with what it runs now; one last seen
    // differing has its status refreshed.
    if (ssid_retry_.count(d->mac)) {
        sync_ssid_credential(d->mac);
    } else {
        auto st = ssid_status_.find(d->mac);
        if (st != ssid_status_.end() && st->second.verdict == SsidSyncVerdict::differ)
            sync_ssid_credential(d->mac, false);
    }
    if (HktMgmtMinder* h = hkt())
        h->review_legacy_backhaul();
}

int GraphMinder::send_factory_reset_request(void* /*handle*/, void* arg) {
    HktMgmtMinder* h = hkt();
    const MAC* agent = static_cast<const MAC*>(arg);
    if (!h || !agent) {
        OZR_WARN(&logger_, "{} Failed to send factory reset request message to hkt {}", __func__,
                 agent ? agent->to_string() : std::string("(none)"));
        return -1;
    }
    if (h->send_factory_reset_request(*agent) != 0) {
        OZR_WARN(&logger_, "{} Failed to send factory reset request message to hkt {}", __func__,
                 agent->to_string());
        return -1;
    }
    OZR_INFO(&logger_, "{} Sent factory reset request message to hkt MAC: {}", __func__,
             agent->to_string());
    return 0;
}

bool GraphMinder::get_interface_statistic(const MAC& agent, const MAC& interface,
                                          HKTStatistic& out) {
    const Device* d = graph_.find_device(agent);
    if (!d) {
        OZR_DEBUG(&logger_, "{} Didn't find device node for MAC: {}", __func__, agent.to_string());
        return false;
    }
    const HKTInterfaceInfo* i = d->find_hkt_interface_info(interface);
    if (!i || !i->has_statistics) {
        OZR_DEBUG(&logger_, "{} Didn't find interface MAC: {} in device {}.", __func__,
                  interface.to_string(), agent.to_string());
        return false;
    }
    out = i->statistics;
    return true;
}

const std::vector<HKTVapInfo>* GraphMinder::agent_vaps(const MAC& agent) const {
    const Device* d = graph_.find_device(agent);
    return d ? &d->hkt_vaps : nullptr;
}
