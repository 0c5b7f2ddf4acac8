#include "graph/sta_capability_report.h"

#include <algorithm>

#include "core/log.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/ieee80211/assoc.h"
#include "messages/tlv_walk.h"

namespace {

// The device of GRAPH operating BSSID, with the radio's capabilities and the SSID.
struct ServingBss {
    const BasicRadioCapabilitiesTLV* radio = nullptr;
    std::string ssid;
};

ServingBss find_serving_bss(const Graph& graph, const BSSID& bssid) {
    ServingBss out;
    for (const auto& kv : graph.nodes) {
        if (kv.second->kind() != Node::DEVICE)
            continue;
        const Device* d = static_cast<const Device*>(kv.second);
        const BSSInfo* b = d->find_bss_info(bssid);
        if (!b)
            continue;
        out.ssid = b->ssid;
        optional<MAC> radio = d->find_radio_id(bssid);
        if (radio && d->ap_capability)
            for (const BasicRadioCapabilitiesTLV& r : d->ap_capability->radios)
                if (r.radio_id == *radio)
                    out.radio = &r;
        break;
    }
    return out;
}

sta_categories category_of(const map_sta_assoc_caps& c) {
    // Steering category: a client that takes BSS transition requests and reports beacon
    // measurements can be steered under control; one with BTM only is class 2; without
    // either the controller can only assist its roaming.
    if (c.btm_support && c.rrm_support)
        return sta_categories::CONTROLLED_STEERING_CLASS1;
    if (c.btm_support)
        return sta_categories::CONTROLLED_STEERING_CLASS2;
    return sta_categories::ASSISTED_ROAMING;
}

}  // namespace

bool sta_capabilities_from_assoc_body(const Graph& graph, const BSSID& bssid, const uint8_t* body,
                                      size_t len, StaCapabilityInfo& out) {
    if (!body || len == 0)
        return false;
    ServingBss serving = find_serving_bss(graph, bssid);
    bool is_5g = serving.radio && serving.radio->band == 1;
    map_sta_assoc_caps caps{};
    const std::string& ssid = serving.ssid;
    size_t ssid_len = std::min(ssid.size(), static_cast<size_t>(32));
    if (map_80211_parse_assoc_body(&caps, body, len, is_5g ? 1 : 0,
                                   reinterpret_cast<const uint8_t*>(ssid.data()), ssid_len) != 0)
        return false;
    StaCapabilityInfo info;
    size_t n = std::min<size_t>(caps.supported_channel_count, MAP_ASSOC_MAX_CHANNELS);
    for (size_t i = 0; i < n; ++i)
        info.add_channel(caps.supported_channels[i]);
    info.mimo_txcount = caps.max_tx_spatial_streams;
    info.mimo_rxcount = caps.max_rx_spatial_streams;
    info.max_bw = caps.max_bandwidth;
    info.capable_bss_transition = caps.btm_support != 0;
    info.capable_radio_measurement = caps.rrm_support != 0;
    const RmBeaconModes beacon = rm_beacon_modes(body, len, caps.is_reassoc != 0);
    info.beacon_passive = beacon.passive;
    info.beacon_active = beacon.active;
    info.steer_category = category_of(caps);
    info.sgi_support = caps.sgi_support != 0;
    info.ecsa = caps.ecsa_support != 0;
    size_t np = std::min<size_t>(caps.non_pref_count, MAP_ASSOC_MAX_NON_PREF);
    for (size_t i = 0; i < np; ++i)
        info.non_preferred_channels.push_back(caps.non_pref[i].channel);
    out = info;
    return true;
}

namespace {
struct CapabilityReport {
    StaCapabilityReport r;
    bool have_info = false;
    const client_capability_report_tlv* report = nullptr;
};

const TlvRule<CapabilityReport> kCapabilityReportRules[] = {
    {TLV_TYPE_CLIENT_INFO,
     [](CapabilityReport& s, const TlvWalk& w) {
         const auto& t = w.as<client_info_tlv>();
         s.r.bssid = t.bssid;
         s.r.sta = t.client_mac;
         s.have_info = true;
     }},
    {TLV_TYPE_CLIENT_CAPABILITY_REPORT,
     [](CapabilityReport& s, const TlvWalk& w) {
         const auto& t = w.as<client_capability_report_tlv>();
         s.report =
             (t.result_code == CLIENT_CAPABILITY_SUCCESS && !t.frame_body.empty()) ? &t : nullptr;
     }},
};
}  // namespace

optional<StaCapabilityReport> parse_sta_capability_report(CMDU* cmdu, const Graph& graph) {
    CapabilityReport s;
    walk_tlvs(cmdu, __func__, Unexpected::kPlain, kCapabilityReportRules, s);
    StaCapabilityReport& r = s.r;
    const bool have_info = s.have_info;
    const client_capability_report_tlv* report = s.report;
    bool usable = false;
    if (report && have_info) {
        const Node* n = graph.find_node(r.sta);
        if (n && n->kind() == Node::STA) {
            if (!get_sta(r.sta)) {
                OZR_WARN(root_logger, "get_sta() failed for MAC: {}", r.sta.to_string());
            } else {
                usable =
                    sta_capabilities_from_assoc_body(graph, r.bssid, report->frame_body.data(),
                                                     report->frame_body.size(), r.capabilities);
            }
        }
    }
    if (!usable) {
        OZR_WARN(root_logger, "{} TLV_TYPE_CLIENT_CAPABILITY_REPORT is missing message_id {}",
                 __func__, cmdu ? cmdu->message_id : 0);
        return {};
    }
    return std::move(r);
}
