// The query senders and the periodic query work of the timers.
#include <algorithm>
#include <bitset>
#include <map>
#include <tuple>

#include "core/context.h"
#include "core/log.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/datamodel/datamodel.h"
#include "map/map_send.h"

namespace {
HktMgmtMinder* hkt() {
    Context* c = Context::instance();
    return c ? c->hkt_mgmt_minder : nullptr;
}
}  // namespace

void GraphMinder::send_topology_query(Device* d) {
    if (!d)
        return;
    if (!get_ale(d->mac)) {
        OZR_WARN(&logger_, "{} get_ale failed for MAC: {}", __func__, d->mac.to_string());
        return;
    }
    if (map_send_topology_query(d->mac) == MAP_SEND_OK)
        OZR_DEBUG(&logger_, "sent topology query for MAC: {}", d->mac.to_string());
    else
        OZR_WARN(&logger_, "map_send_topology_query failed for MAC: {}", d->mac.to_string());
}

void GraphMinder::send_capability_query(Device* d) {
    if (!d)
        return;
    if (!get_ale(d->mac)) {
        OZR_WARN(&logger_, "{} get_ale failed for MAC: {}", __func__, d->mac.to_string());
        return;
    }
    if (map_send_ap_capability_query(d->mac) == MAP_SEND_OK)
        OZR_DEBUG(&logger_, "sent capability query for MAC: {}", d->mac.to_string());
    else
        OZR_WARN(&logger_, "map_send_ap_capability_query failed for MAC: {}", d->mac.to_string());
}

void GraphMinder::send_device_link_metrics_query(Device* d) {
    if (!d)
        return;
    if (!get_ale(d->mac)) {
        OZR_WARN(&logger_, "{} get_ale failed for MAC: {}", __func__, d->mac.to_string());
        return;
    }
    link_metric_query_tlv q;
    q.neighbor_type = LINK_METRIC_QUERY_ALL_NEIGHBORS;
    q.link_metrics_type = LINK_METRIC_TX_AND_RX;
    if (map_send_link_metric_query(d->mac, q) != MAP_SEND_OK)
        OZR_WARN(&logger_, "{} map_send_link_metric_query failed for MAC: {}", __func__,
                 d->mac.to_string());
}

void GraphMinder::send_assoc_sta_link_metric_query(const MAC& sta) {
    const Sta* s = graph_.find_sta(sta);
    const Device* d = s ? s->get_working_device() : nullptr;
    if (!d || map_send_associated_sta_link_metrics_query(d->mac, sta) != MAP_SEND_OK) {
        OZR_DEBUG(&logger_, "{} failed for MAC: {}", __func__, sta.to_string());
        return;
    }
    OZR_DEBUG(&logger_, "{} for MAC: {}", __func__, sta.to_string());
}

void GraphMinder::send_sta_capability_query(const MAC& sta, const BSSID& bssid,
                                            const Device* device) {
    if (!device || map_send_client_capability_query(device->mac, sta, bssid) != MAP_SEND_OK) {
        OZR_DEBUG(&logger_, "{} failed for sta {} bssid {}", __func__, sta.to_string(),
                  bssid.to_string());
        return;
    }
    OZR_DEBUG(&logger_, "{} for sta {} bssid {}", __func__, sta.to_string(), bssid.to_string());
}

void GraphMinder::send_ap_metric_query() {
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        const Device* d = static_cast<const Device*>(kv.second);
        std::vector<BSSID> bssids;
        for (const RadioInfo& r : d->operational_bss)
            for (const BSSInfo& b : r.bsss)
                bssids.push_back(b.bssid);
        if (bssids.empty())
            continue;
        if (map_send_ap_metric_query(d->mac, bssids) == MAP_SEND_OK)
            OZR_DEBUG(&logger_, "{} for device {}", __func__, d->mac.to_string());
        else
            OZR_DEBUG(&logger_, "{} failed for device {}", __func__, d->mac.to_string());
    }
}

void GraphMinder::send_metric_reporting_policy(Device* d) {
    if (!d || !d->ap_capability)
        return;
    const auto& radios = d->ap_capability->radios;
    OZR_INFO(&logger_, "{}, number_of_radio: {}", __func__, radios.size());
    if (radios.size() > static_cast<size_t>(MAP_MAX_RADIOS_PER_AGENT)) {
        OZR_WARN(&logger_,
                 "{}: {} => max radio number {} greater than the limit value {} of map "
                 "controller !!!",
                 __func__, d->mac.to_string(), radios.size(), MAP_MAX_RADIOS_PER_AGENT);
        return;
    }
    // Reports every 5 s with the traffic statistics and link metrics of the stations; no
    // threshold-triggered reports (the link metric timer asks as often).
    metric_reporting_policy_tlv policy;
    policy.ap_metrics_reporting_interval = 5;
    for (const BasicRadioCapabilitiesTLV& r : radios) {
        OZR_INFO(&logger_, "{}, radio id: {}", __func__, r.radio_id.to_string());
        metric_reporting_policy_tlv::radio_policy p;
        p.radio_id = r.radio_id;
        p.include_sta_traffic_stats = 1;
        p.include_sta_link_metrics = 1;
        policy.radios.push_back(p);
    }
    policy.num_radios = static_cast<uint8_t>(policy.radios.size());
    map_policy_config_t config;
    config.metric = &policy;
    if (map_send_policy_config(d->mac, config) != MAP_SEND_OK) {
        OZR_WARN(&logger_, "{} failed for device {}", __func__, d->mac.to_string());
        return;
    }
    d->metric_reporting_interval_s = policy.ap_metrics_reporting_interval;
}

// ---- unassociated measurements ---------------------------------------------------------------

void GraphMinder::send_unassoc_sta_link_metric_queries() {
    // Schedule (decided here): every associated station is measured, on the channel it
    // uses now, by every other device that can measure there (on-channel support when
    // one of its radios operates on that channel, off-channel support otherwise). Clients
    // are fronthaul measurements, backhaul STAs backhaul ones.
    // The devices that could measure, in the order of the graph, with the channels they
    // operate on; the stations of one (type, class, channel) for each of them.
    // A device without an AP capability report is asked each time, so that it logs so
    // for each station.
    struct Measurer {
        const Device* d;
        std::bitset<256> channels;
        bool on_channel_support;
        bool off_channel_support;
    };
    std::vector<Measurer> measurers;
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        const Device* d = static_cast<const Device*>(kv.second);
        Measurer m{d,
                   {},
                   d->support_unassoc_response(true, nullptr),
                   d->support_unassoc_response(false, nullptr)};
        for (const OperatingChannelReportTLV& r : d->current_channels.reports)
            for (const auto& oc : r.op_classes)
                m.channels.set(oc.channel);
        measurers.push_back(m);
    }
    using Where = std::tuple<int, uint8_t, uint8_t>;       // type, class, channel
    std::map<Where, std::vector<std::vector<MAC>>> lists;  // one list per measurer
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::STA)
            continue;
        const Sta* s = static_cast<const Sta*>(kv.second);
        const Device* serving = s->get_working_device();
        const WirelessLink* l = serving ? serving->find_wireless_link(s->mac) : nullptr;
        if (!l)
            continue;
        optional<MAC> radio = serving->find_radio_id(l->bssid);
        optional<uint8_t> op_class =
            radio ? serving->radio_primary_op_class(*radio) : optional<uint8_t>();
        optional<uint8_t> channel =
            radio ? serving->radio_primary_channel(*radio) : optional<uint8_t>();
        if (!op_class || !channel) {
            OZR_DEBUG(&logger_, "client MAC: {} no operating class found, skip adding to list",
                      s->mac.to_string());
            continue;
        }
        int type = s->is_backhaul_sta ? Device::BACKHAUL : Device::FRONTHAUL;
        std::vector<std::vector<MAC>>& per_device = lists[Where(type, *op_class, *channel)];
        per_device.resize(measurers.size());
        for (size_t i = 0; i < measurers.size(); ++i) {
            const Device* d = measurers[i].d;
            if (d == serving)
                continue;
            if (s->is_backhaul_sta && d->mac == s->owner_device)
                continue;
            const Measurer& m = measurers[i];
            bool on_channel = m.channels.test(*channel);
            bool support = !d->ap_capability ? d->support_unassoc_response(on_channel, &logger_)
                           : on_channel      ? m.on_channel_support
                                             : m.off_channel_support;
            if (!support) {
                if (type == Device::FRONTHAUL)
                    OZR_DEBUG(&logger_,
                              "skip sending fronthaul unassociated link metrics query for MAC: {}",
                              d->mac.to_string());
                else
                    OZR_DEBUG(&logger_,
                              "skip sending backhaul unassociated link metrics query for MAC: {}",
                              d->mac.to_string());
                continue;
            }
            if (per_device[i].size() < 255)
                per_device[i].push_back(s->mac);
        }
    }
    using Key = std::tuple<MAC, int, uint8_t, uint8_t>;  // device, type, class, channel
    std::map<Key, std::vector<MAC>> groups;
    for (auto& w : lists)
        for (size_t i = 0; i < w.second.size(); ++i)
            if (!w.second[i].empty())
                groups[Key(measurers[i].d->mac, std::get<0>(w.first), std::get<1>(w.first),
                           std::get<2>(w.first))] = std::move(w.second[i]);
    // One query per device, type and operating class, one channel entry per channel.
    std::map<std::tuple<MAC, int, uint8_t>, std::vector<UnassociateClientsInfo>> per_query;
    for (auto& g : groups) {
        UnassociateClientsInfo info;
        info.op_class = std::get<2>(g.first);
        info.channel = std::get<3>(g.first);
        info.stas = std::move(g.second);
        per_query[std::make_tuple(std::get<0>(g.first), std::get<1>(g.first), info.op_class)]
            .push_back(std::move(info));
    }
    for (const auto& q : per_query) {
        const Device* d = graph_.find_device(std::get<0>(q.first));
        if (d)
            send_unassoc_sta_link_metric_query(
                d, q.second, static_cast<Device::UnassocMetricsType>(std::get<1>(q.first)));
    }
}

void GraphMinder::send_unassoc_sta_link_metric_query(
    const Device* d, const std::vector<UnassociateClientsInfo>& infos,
    Device::UnassocMetricsType type) {
    if (!d || infos.empty())
        return;
    unassociated_sta_link_metrics_query_tlv q;
    q.op_class = infos.front().op_class;
    for (const UnassociateClientsInfo& i : infos) {
        if (q.channels.size() >= 255)
            break;
        unassociated_sta_link_metrics_query_tlv::channel c;
        c.channel = i.channel;
        c.stas = i.stas;
        c.num_stas = static_cast<uint8_t>(std::min<size_t>(c.stas.size(), 255));
        c.stas.resize(c.num_stas);
        for (const MAC& m : c.stas)
            OZR_DEBUG(&logger_,
                      "{}: Try to send unassociate link metrics query to device {}, "
                      "oper_class {}, channel {}, sta MAC: {}",
                      __func__, d->mac.to_string(), static_cast<unsigned>(q.op_class),
                      static_cast<unsigned>(c.channel), m.to_string());
        q.channels.push_back(std::move(c));
    }
    q.num_channels = static_cast<uint8_t>(q.channels.size());
    HktMgmtMinder* h = hkt();
    if (!h)
        OZR_DEBUG(&logger_, "{} failed to find hkt_mgmt_minder", __func__);
    const HktNode* agent = h ? h->find_hkt_from_agent(d->mac) : nullptr;
    if (agent && agent->hkt_mac.is_zero()) {
        // Known from the white list or an M1 but not discovered yet: the agent is asked.
        OZR_DEBUG(&logger_, "{} failed to find hkt MAC: {}", __func__, d->mac.to_string());
        agent = nullptr;
    }
    if (agent) {
        if (map_send_hkt_unassoc_sta_metrics_query(d->mac, agent->hkt_mac,
                                                   static_cast<uint8_t>(type), q) == MAP_SEND_OK)
            OZR_DEBUG(&logger_, "{} for MAC: {} hkt MAC: {}", __func__, d->mac.to_string(),
                      agent->hkt_mac.to_string());
        else
            OZR_DEBUG(&logger_, "{} failed for MAC: {} hkt MAC: {}", __func__, d->mac.to_string(),
                      agent->hkt_mac.to_string());
        return;
    }
    if (map_send_unassoc_sta_metrics_query(d->mac, q) == MAP_SEND_OK)
        OZR_DEBUG(&logger_, "{} for MAC: {}", __func__, d->mac.to_string());
    else
        OZR_DEBUG(&logger_, "{} failed for MAC: {}", __func__, d->mac.to_string());
}

void GraphMinder::on_unassoc_dynamic_schedule() {
    // A station is measured through the vendor protocol while it is served by a vendor
    // agent, through the Multi-AP agents otherwise.
    HktMgmtMinder* h = hkt();
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::STA)
            continue;
        const Sta* s = static_cast<const Sta*>(kv.second);
        const Device* serving = s->get_working_device();
        if (!serving) {
            unassoc_schedule_.erase(s->mac);
            continue;
        }
        UnassocQueryType want = (h && h->find_hkt_from_agent(serving->mac))
                                    ? UnassocQueryType::HKT
                                    : UnassocQueryType::AGENT;
        UnassocQueryType was = unassoc_query_type(s->mac);
        if (was == UnassocQueryType::HKT && want == UnassocQueryType::AGENT)
            OZR_INFO(&logger_, "switch sta MAC: {} unassoc query type from hkt to agent",
                     s->mac.to_string());
        unassoc_schedule_[s->mac] = want;
    }
    for (auto it = unassoc_schedule_.begin(); it != unassoc_schedule_.end();)
        it = graph_.find_sta(it->first) ? std::next(it) : unassoc_schedule_.erase(it);
}

// ---- beacon queries -----------------------------------------------------------------------------

void GraphMinder::send_beacon_query(const Device* d, const Sta* s) {
    if (!d || !s) {
        OZR_WARN(&logger_, "{} device or sta is null.", __func__);
        return;
    }
    const WirelessLink* l = d->find_wireless_link(s->mac);
    if (!l) {
        OZR_DEBUG(&logger_, "{} cannot find wireless from device {} to sta {}.", __func__,
                  d->mac.to_string(), s->mac.to_string());
        return;
    }
    optional<MAC> radio = d->find_radio_id(l->bssid);
    if (!radio) {
        OZR_DEBUG(&logger_, "{} cannot find radio id from device {} for BSSID: {}.", __func__,
                  d->mac.to_string(), l->bssid.to_string());
        return;
    }
    const BSSInfo* bss = d->find_bss_info(l->bssid);
    if (!bss) {
        OZR_DEBUG(&logger_, "{} cannot find bss infor from device {} for BSSID: {}.", __func__,
                  d->mac.to_string(), l->bssid.to_string());
        return;
    }
    beacon_metrics_query_tlv q;
    q.sta_mac = s->mac;
    q.op_class = d->radio_primary_op_class(*radio).value_or(0);
    q.channel = d->radio_primary_channel(*radio).value_or(0);
    q.bssid = BSSID::broadcast;
    q.ssid_len = static_cast<uint8_t>(std::min<size_t>(bss->ssid.size(), MAX_SSID_LEN));
    std::copy(bss->ssid.begin(), bss->ssid.begin() + q.ssid_len, q.ssid);
    if (map_send_beacon_metrics_query(d->mac, q) == MAP_SEND_OK)
        OZR_DEBUG(&logger_, "{} for MAC: {} channel={} op_class={}", __func__, s->mac.to_string(),
                  static_cast<unsigned>(q.channel), static_cast<unsigned>(q.op_class));
    else
        OZR_DEBUG(&logger_, "{} failed for MAC: {} channel={} op_class={}", __func__,
                  s->mac.to_string(), static_cast<unsigned>(q.channel),
                  static_cast<unsigned>(q.op_class));
}

void GraphMinder::send_param_beacon_query(const Device* d, const Sta* s,
                                          const BeaconMetricInfo& info) {
    if (!d || !s) {
        OZR_WARN(&logger_, "{} device or sta is null.", __func__);
        return;
    }
    beacon_metrics_query_tlv q;
    q.sta_mac = s->mac;
    q.op_class = info.op_class;
    q.channel = info.channel;
    q.bssid = info.bssid;
    q.ssid_len = static_cast<uint8_t>(std::min<size_t>(info.ssid.size(), MAX_SSID_LEN));
    std::copy(info.ssid.begin(), info.ssid.begin() + q.ssid_len, q.ssid);
    for (const BeaconMetricInfo::ChannelReport& r : info.ap_channel_reports) {
        if (q.ap_channel_reports.size() >= 255)
            break;
        beacon_metrics_query_tlv::ap_channel_report cr;
        cr.op_class = r.op_class;
        cr.channels.assign(r.channels.begin(),
                           r.channels.begin() + std::min<size_t>(r.channels.size(), 254));
        q.ap_channel_reports.push_back(std::move(cr));
    }
    q.num_ap_channel_reports = static_cast<uint8_t>(q.ap_channel_reports.size());
    OZR_DEBUG(&logger_, "{} for MAC: {} ap_ch_count={} channel={} op_class={}", __func__,
              s->mac.to_string(), q.num_ap_channel_reports, static_cast<unsigned>(q.channel),
              static_cast<unsigned>(q.op_class));
    if (map_send_beacon_metrics_query(d->mac, q) != MAP_SEND_OK)
        OZR_DEBUG(&logger_, "{} failed for MAC: {}", __func__, s->mac.to_string());
}

void GraphMinder::send_beacon_queries() {
    // Selection (decided here): every associated station that takes radio measurement
    // requests, and every backhaul STA, is asked to measure the BSSs with its present
    // SSID on the other devices, on their primary channels grouped per operating class.
    for (const auto& kv : graph_.nodes) {
        if (kv.second->kind() != Node::STA)
            continue;
        const Sta* s = static_cast<const Sta*>(kv.second);
        if (!s->is_backhaul_sta && !s->capabilities.capable_radio_measurement)
            continue;
        const Device* serving = s->get_working_device();
        const WirelessLink* l = serving ? serving->find_wireless_link(s->mac) : nullptr;
        if (!l)
            continue;
        optional<std::string> ssid = serving->find_ssid(l->bssid);
        optional<MAC> radio = serving->find_radio_id(l->bssid);
        if (!ssid || !radio) {
            OZR_DEBUG(&logger_, "{} cannot find radio id from device {} for BSSID: {}.", __func__,
                      serving->mac.to_string(), l->bssid.to_string());
            continue;
        }
        BeaconMetricInfo info;
        info.op_class = serving->radio_primary_op_class(*radio).value_or(0);
        info.ssid = *ssid;
        for (const auto& kv2 : graph_.nodes) {
            if (kv2.second->kind() != Node::DEVICE)
                continue;
            const Device* d = static_cast<const Device*>(kv2.second);
            for (const RadioInfo& r : d->operational_bss)
                for (const BSSInfo& b : r.bsss) {
                    if (b.ssid != *ssid || b.bssid == l->bssid)
                        continue;
                    optional<uint8_t> ch = d->radio_primary_channel(r.radio_id);
                    optional<uint8_t> oc = d->radio_primary_op_class(r.radio_id);
                    if (!ch || !oc) {
                        OZR_DEBUG(&logger_,
                                  "{} cannot find radio id from device {} for BSSID: "
                                  "{}.",
                                  __func__, d->mac.to_string(), b.bssid.to_string());
                        continue;
                    }
                    auto it =
                        std::find_if(info.ap_channel_reports.begin(), info.ap_channel_reports.end(),
                                     [&](const BeaconMetricInfo::ChannelReport& c) {
                                         return c.op_class == *oc;
                                     });
                    if (it == info.ap_channel_reports.end()) {
                        info.ap_channel_reports.push_back({*oc, {}});
                        it = info.ap_channel_reports.end() - 1;
                    }
                    if (std::find(it->channels.begin(), it->channels.end(), *ch) ==
                        it->channels.end())
                        it->channels.push_back(*ch);
                }
        }
        if (info.ap_channel_reports.empty())
            continue;
        send_param_beacon_query(serving, s, info);
    }
}

// ---- periodic work -----------------------------------------------------------------------------

void GraphMinder::on_topo_query() {
    std::vector<Device*> devices;
    for (const auto& kv : graph_.nodes)
        if (kv.second->kind() == Node::DEVICE)
            devices.push_back(static_cast<Device*>(kv.second));
    for (Device* d : devices) {
        send_topology_query(d);
        send_capability_query(d);
    }
    for (Device* d : devices)
        for (const Link* l : d->links)
            if (l->kind() == Link::WIRELESS)
                send_sta_capability_query(l->to, static_cast<const WirelessLink*>(l)->bssid, d);
    sync_vendor_ports(devices);
    for (Device* d : devices)
        for (PortEntry& p : d->ports)
            if (p.type == 0 || p.type == 1) {
                send_port_info_request(d->mac, p.mac);
                p.port = get_port_number(d->mac, p.mac);
            }
}

void GraphMinder::on_link_metric_query() {
    std::vector<MAC> stas;
    for (const auto& kv : graph_.nodes)
        if (kv.second->kind() == Node::STA && get_sta(kv.first))
            stas.push_back(kv.first);
    for (const MAC& m : stas)
        send_assoc_sta_link_metric_query(m);
    send_unassoc_sta_link_metric_queries();
    for (const auto& kv : graph_.nodes)
        if (kv.second->kind() == Node::DEVICE)
            send_device_link_metrics_query(static_cast<Device*>(kv.second));
}

void GraphMinder::on_query_statistics() {
    HktMgmtMinder* h = hkt();
    if (!h)
        return;
    std::vector<std::pair<MAC, std::vector<MAC>>> asks;
    for (const HktNode& a : h->hkt_nodes()) {
        if (a.hkt_mac.is_zero() || a.agent_mac.is_zero() || !graph_.find_device(a.agent_mac))
            continue;  // not discovered yet, or its agent is not in the graph
        std::vector<MAC> ifs;
        for (const HktInterface& i : a.interfaces)
            if (ifs.size() < HKT_MAX_INTERFACES)
                ifs.push_back(i.mac);
        asks.emplace_back(a.agent_mac, std::move(ifs));
    }
    for (const auto& ask : asks) {
        OZR_DEBUG(&logger_, "{} send statistics query to device {}", __func__,
                  ask.first.to_string());
        h->send_hkt_interfaces_statistic_request(ask.first, ask.second);
    }
}

void GraphMinder::on_query_vaps_info() {
    HktMgmtMinder* h = hkt();
    if (!h)
        return;
    std::vector<MAC> agents;
    for (const HktNode& a : h->hkt_nodes())
        if (!a.hkt_mac.is_zero() && !a.agent_mac.is_zero() && graph_.find_device(a.agent_mac))
            agents.push_back(a.agent_mac);
    for (const MAC& m : agents) {
        OZR_DEBUG(&logger_, "{} send vaps info query to device {}", __func__, m.to_string());
        h->send_hkt_vaps_info_query(m);
    }
}

int GraphMinder::send_port_info_request(const MAC& mac, const MAC& interface_mac) {
    HktMgmtMinder* h = hkt();
    const HktNode* n = h ? h->find_hkt_from_agent(mac) : nullptr;
    if (!n && h)
        n = h->find_hkt(mac);
    if (!n || h->send_hkt_port_info_request(n->agent_mac, interface_mac) != 0) {
        OZR_DEBUG(&logger_,
                  "{} Failed to send port info request message to hkt MAC: {} for ifc "
                  "MAC: {}.",
                  __func__, n ? n->hkt_mac.to_string() : mac.to_string(),
                  interface_mac.to_string());
        return -1;
    }
    OZR_DEBUG(&logger_, "{} Sent hkt port info request message to hkt MAC: {} for ifc MAC: {}",
              __func__, n->hkt_mac.to_string(), interface_mac.to_string());
    return 0;
}

uint16_t GraphMinder::get_port_number(const MAC& mac, const MAC& interface_mac) {
    const Device* d = graph_.find_device(mac);
    if (!d) {
        HktMgmtMinder* h = hkt();
        const HktNode* n = h ? h->find_hkt(mac) : nullptr;
        d = n ? graph_.find_device(n->agent_mac) : nullptr;
    }
    const PortEntry* p = d ? d->find_port(interface_mac) : nullptr;
    if (!p) {
        OZR_DEBUG(&logger_, "{}:{} - Invalid port mac address", __func__, __LINE__);
        return 0;
    }
    OZR_DEBUG(&logger_, "{}:{} - get port number {} for port MAC: {}", __func__, __LINE__, p->port,
              interface_mac.to_string());
    return p->port;
}
