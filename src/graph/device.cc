#include "graph/device.h"

#include <algorithm>

#include "common/clock.h"
#include "core/log.h"
#include "graph/graph.h"

Device::~Device() {
    for (Link* l : links)
        delete l;
}

void Device::add_link(Link* link) {
    link->owner_ = this;
    links.push_back(link);
    association_link_changed(*link);
}

void Device::association_link_changed(const Link& link) const {
    if (link.kind() == Link::WIRELESS && graph())
        graph()->association_links_changed();
}

void Device::update_interfaces(const std::vector<LocalInterface>& reported) {
    interfaces = reported;
    if (graph())
        graph()->interfaces_changed();
}

optional<MAC> Device::find_radio_id(const BSSID& bssid) const {
    for (const RadioInfo& r : operational_bss)
        for (const BSSInfo& b : r.bsss)
            if (b.bssid == bssid)
                return r.radio_id;
    return {};
}

const BSSInfo* Device::find_bss_info(const BSSID& bssid) const {
    for (const RadioInfo& r : operational_bss)
        for (const BSSInfo& b : r.bsss)
            if (b.bssid == bssid)
                return &b;
    return nullptr;
}

optional<std::string> Device::find_ssid(const BSSID& bssid) const {
    const BSSInfo* b = find_bss_info(bssid);
    if (!b)
        return {};
    return b->ssid;
}

namespace {
// The medium a radio serves, from its reported band and 5 GHz sub-band.
Medium radio_medium(const BasicRadioCapabilitiesTLV& r) {
    if (r.band == 0)
        return Medium::WIFI_2G;
    if (r.band == 1) {
        if (r.freq_type == FREQ_5G_LOW)
            return Medium::WIFI_5G_LOW;
        if (r.freq_type == FREQ_5G_HIGH)
            return Medium::WIFI_5G_HIGH;
        return Medium::WIFI_5G;
    }
    return Medium::WIFI;
}
}  // namespace

Medium Device::find_medium(const BSSID& bssid) const {
    optional<MAC> radio = find_radio_id(bssid);
    if (!radio || !ap_capability)
        return Medium::UNKNOWN;
    for (const BasicRadioCapabilitiesTLV& r : ap_capability->radios)
        if (r.radio_id == *radio)
            return radio_medium(r);
    return Medium::UNKNOWN;
}

const BasicRadioCapabilitiesTLV* Device::find_radio_info(Medium medium) const {
    if (!ap_capability)
        return nullptr;
    for (const BasicRadioCapabilitiesTLV& r : ap_capability->radios)
        if (radio_medium(r) == medium)
            return &r;
    return nullptr;
}

const OperatingChannelReportTLV* Device::find_operating_channel(const MAC& radio_id) const {
    for (const OperatingChannelReportTLV& r : current_channels.reports)
        if (r.radio_id == radio_id)
            return &r;
    return nullptr;
}

// The primary channel is the one of the report's first operating class (the 20 MHz
// class comes first in agents' reports).
optional<uint8_t> Device::radio_primary_channel(const MAC& radio_id) const {
    const OperatingChannelReportTLV* r = find_operating_channel(radio_id);
    if (!r || r->op_classes.empty())
        return {};
    return r->op_classes.front().channel;
}

optional<uint8_t> Device::radio_primary_channel(const BSSID& bssid) const {
    optional<MAC> radio = find_radio_id(bssid);
    if (!radio)
        return {};
    return radio_primary_channel(*radio);
}

optional<uint8_t> Device::radio_primary_op_class(const MAC& radio_id) const {
    const OperatingChannelReportTLV* r = find_operating_channel(radio_id);
    if (!r || r->op_classes.empty())
        return {};
    return r->op_classes.front().op_class;
}

optional<BSSID> Device::find_bssid(const std::string& ssid, Medium medium) const {
    for (const RadioInfo& r : operational_bss)
        for (const BSSInfo& b : r.bsss)
            if (b.ssid == ssid && find_medium(b.bssid) == medium)
                return b.bssid;
    return {};
}

const PortEntry* Device::find_port(const MAC& interface_mac) const {
    for (const PortEntry& p : ports)
        if (p.mac == interface_mac)
            return &p;
    return nullptr;
}

PortEntry* Device::find_port(const MAC& interface_mac) {
    for (PortEntry& p : ports)
        if (p.mac == interface_mac)
            return &p;
    return nullptr;
}

const HKTVapInfo* Device::find_vap_info(const BSSID& bssid) const {
    for (const HKTVapInfo& v : hkt_vaps)
        if (v.bssid == bssid)
            return &v;
    return nullptr;
}

const HKTInterfaceInfo* Device::find_hkt_interface_info(const MAC& mac) const {
    for (const HKTInterfaceInfo& i : hkt_interfaces)
        if (i.mac == mac)
            return &i;
    return nullptr;
}

HKTInterfaceInfo* Device::find_hkt_interface_info(const MAC& mac) {
    return const_cast<HKTInterfaceInfo*>(
        static_cast<const Device*>(this)->find_hkt_interface_info(mac));
}

const LocalInterface* Device::find_interface(const MAC& mac) const {
    for (const LocalInterface& i : interfaces)
        if (i.mac == mac)
            return &i;
    return nullptr;
}

const LocalInterface* Device::find_interface(const BSSID& bssid) const {
    for (const LocalInterface& i : interfaces)
        if (i.ieee80211 && i.ieee80211->bssid == bssid)
            return &i;
    return nullptr;
}

Link* Device::find_link_by_bssid(const MAC& to, const BSSID& bssid) const {
    for (Link* l : links) {
        if (l->to != to)
            continue;
        if (l->kind() == Link::WIRELESS && static_cast<WirelessLink*>(l)->bssid == bssid)
            return l;
        if (l->kind() == Link::UNASSOCIATED && static_cast<UnassociatedLink*>(l)->bssid == bssid)
            return l;
    }
    return nullptr;
}

Link* Device::find_wired_link(const MAC& to) const {
    for (Link* l : links)
        if (l->to == to && l->kind() == Link::WIRED)
            return l;
    return nullptr;
}

WirelessLink* Device::find_wireless_link(const MAC& to) const {
    for (Link* l : links)
        if (l->to == to && l->kind() == Link::WIRELESS)
            return static_cast<WirelessLink*>(l);
    return nullptr;
}

std::pair<int64_t, bool> Device::find_link_metric_age(const BSSID& bssid) const {
    auto it = link_metric_time.find(bssid);
    if (it == link_metric_time.end())
        return {0, false};
    return {get_current_time_ms() - it->second, true};
}

void Device::delete_link(Link** p) {
    if (!p || !*p)
        return;
    auto it = std::find(links.begin(), links.end(), *p);
    if (it == links.end())
        return;
    association_link_changed(**it);
    delete *it;
    links.erase(it);
    *p = nullptr;
}

void Device::delete_link(const MAC& to) {
    auto it = std::remove_if(links.begin(), links.end(), [&](Link* l) {
        if (l->to != to)
            return false;
        association_link_changed(*l);
        delete l;
        return true;
    });
    links.erase(it, links.end());
}

bool Device::delete_link(const MAC& to, Link::Kind kind) {
    size_t before = links.size();
    auto it = std::remove_if(links.begin(), links.end(), [&](Link* l) {
        if (l->to != to || l->kind() != kind)
            return false;
        association_link_changed(*l);
        delete l;
        return true;
    });
    links.erase(it, links.end());
    return links.size() != before;
}

void Device::update_current_channels(const OperatingChannelReportMesg& report) {
    for (const OperatingChannelReportTLV& r : report.reports) {
        auto it = std::find_if(
            current_channels.reports.begin(), current_channels.reports.end(),
            [&](const OperatingChannelReportTLV& c) { return c.radio_id == r.radio_id; });
        if (it != current_channels.reports.end())
            *it = r;
        else
            current_channels.reports.push_back(r);
    }
}

void Device::update_ch_scan_report(const APChannelScanReportMesg& report, const Logger* log) {
    for (const ChannelScanResultTLV& r : report.results) {
        std::string key = fmt::format("{}-{}-{}", r.radio_id.to_string(), r.op_class, r.channel);
        auto it = std::find_if(ch_scan_results.begin(), ch_scan_results.end(),
                               [&](const auto& e) { return e.first == key; });
        if (it != ch_scan_results.end()) {
            OZR_DEBUG(log, "node found update timestamp and channel {}", r.channel);
            it->second = r;
        } else {
            OZR_DEBUG(log, "node NOT found for channel {}", r.channel);
            ch_scan_results.emplace_back(key, r);
        }
    }
}

const RadioChannelPreference* Device::find_channel_preference(const MAC& radio_id) const {
    for (const RadioChannelPreference& r : channel_preferences)
        if (r.radio_id == radio_id)
            return &r;
    return nullptr;
}

void Device::update_channel_preference(const channel_preference_tlv& tlv) {
    RadioChannelPreference r;
    r.radio_id = tlv.radio_id;
    for (const auto& oc : tlv.op_classes) {
        if (r.classes.size() >= kMaxPreferenceClasses)
            break;
        ChannelPreference c;
        c.op_class = oc.op_class;
        c.channels.assign(oc.channels.begin(),
                          oc.channels.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                    oc.channels.size(), kMaxPreferenceChannels)));
        c.preference = static_cast<uint8_t>(oc.preference & 0x0f);
        c.reason = static_cast<uint8_t>(oc.reason_code & 0x0f);
        r.classes.push_back(std::move(c));
    }
    auto it =
        std::find_if(channel_preferences.begin(), channel_preferences.end(),
                     [&](const RadioChannelPreference& e) { return e.radio_id == r.radio_id; });
    if (it != channel_preferences.end()) {
        *it = std::move(r);
        return;
    }
    if (channel_preferences.size() >= kMaxPreferenceRadios)
        channel_preferences.erase(channel_preferences.begin());
    channel_preferences.push_back(std::move(r));
}

void Device::add_beacon_response_tlv(std::pair<BeaconMetricsResponseTLV, long long> response) {
    if (beacon_responses.size() >= kMaxBeaconResponses)
        beacon_responses.erase(beacon_responses.begin());
    beacon_responses.push_back(std::move(response));
}

bool Device::support_unassoc_response(bool on_channel, const Logger* log) const {
    if (!ap_capability) {
        if (log && !no_ap_capability_logged) {
            OZR_INFO(log, "{} No AP Capability Report from MAC: {} has been seen", __func__,
                     mac.to_string());
            no_ap_capability_logged = log->will_log(6);
        }
        return false;
    }
    return on_channel ? ap_capability->unassoc_sta_metrics_operating_channel
                      : ap_capability->unassoc_sta_metrics_non_operating_channel;
}

void Device::describe(Logger& log, const Graph& graph) const {
    OZR_DEBUG(&log, "Device {} first seen {} last seen {} map_profile {} policy_profile {}",
              label(), first_seen_ms, last_seen_ms, map_profile, policy_profile);
    for (const LocalInterface& i : interfaces) {
        if (i.ieee80211)
            OZR_DEBUG(&log, "  interface {} {} {} bssid {}", i.mac.to_string(),
                      media_type_to_string(i.media_type),
                      interface_role_to_string(i.ieee80211->role), i.ieee80211->bssid.to_string());
        else
            OZR_DEBUG(&log, "  interface {} {}", i.mac.to_string(),
                      media_type_to_string(i.media_type));
    }
    for (const RadioInfo& r : operational_bss)
        for (const BSSInfo& b : r.bsss)
            OZR_DEBUG(&log, "  radio {} bss {} ssid {}", r.radio_id.to_string(),
                      b.bssid.to_string(), b.ssid);
    for (const Link* l : links)
        OZR_DEBUG(&log, "  link to {}", l->describe(graph));
    OZR_DEBUG(
        &log,
        "  backhaul: connected {} quality {} parent {} local_if {} remote_if {} cost_to_root {} "
        "cost_to_parent {} medium {}",
        backhaul.is_backhaul_connected, backhaul_quality_to_string(backhaul.quality),
        backhaul.remote_ale.to_string(), backhaul.local_interface.to_string(),
        backhaul.remote_interface.to_string(), backhaul.cost_to_root, backhaul.cost_to_parent,
        medium_to_string(backhaul.medium));
}
