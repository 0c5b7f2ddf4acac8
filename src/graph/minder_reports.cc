// Capability, channel, metric and event reports.
#include <algorithm>

#include "core/log.h"
#include "graph/graph_minder.h"
#include "graph/rate_model.h"
#include "graph/sta_capability_report.h"
#include "map/datamodel/datamodel.h"
#include "map/ieee80211/assoc.h"
#include "messages/decoders.h"
#include "messages/tlv_walk.h"

namespace {
uint8_t rcpi8(uint32_t v) {
    return static_cast<uint8_t>(std::min<uint32_t>(v, 255));
}
}  // namespace

void GraphMinder::on_link_metric_response(CMDU* cmdu) {
    optional<LinkMetricResponseMesg> parsed = parse_link_metric_response(cmdu);
    if (!parsed)
        return;
    const LinkMetricResponseMesg& m = *parsed;
    if (m.result_code) {
        OZR_WARN(&logger_,
                 "{}: receive CMDU_TYPE_LINK_METRIC_RESPONSE error result code {}, "
                 "reason {}",
                 __func__, static_cast<unsigned>(*m.result_code),
                 *m.result_code == 0 ? "LINK_METRIC_RESULT_CODE_TLV_INVALID_NEIGHBOR"
                                     : "UNKNOWN RESULT");
    }
    int64_t t = now();
    for (const TransmitterLinkMetricTLV& tx : m.transmitter) {
        Device* d = graph_.find_device(tx.local_al_mac);
        if (!d)
            continue;
        for (const TransmitterLinkMetric& l : tx.links) {
            Link* link = d->find_link_by_bssid(l.neighbor_interface, BSSID(l.local_interface));
            if (!link)
                link = d->find_wired_link(tx.neighbor_al_mac);
            if (!link)
                continue;
            if (link->kind() == Link::WIRELESS)
                static_cast<WirelessLink*>(link)->tx_rate = l.phy_rate;
            link->metrics.tx_packet_errors = l.packet_errors;
            link->metrics.tx_packets = l.transmitted_packets;
            link->metrics.mac_throughput_capacity = l.mac_throughput_capacity;
            link->metrics.link_availability = l.link_availability;
            link->metrics.phy_rate = l.phy_rate;
            link->last_metrics_ms = t;
        }
    }
    for (const ReceiverLinkMetricTLV& rx : m.receiver) {
        Device* d = graph_.find_device(rx.local_al_mac);
        if (!d)
            continue;
        for (const ReceiverLinkMetric& l : rx.links) {
            Link* link = d->find_link_by_bssid(l.neighbor_interface, BSSID(l.local_interface));
            if (!link)
                link = d->find_wired_link(rx.neighbor_al_mac);
            if (!link)
                continue;
            link->metrics.rx_packet_errors = l.packet_errors;
            link->metrics.rx_packets = l.packets_received;
            link->last_metrics_ms = t;
        }
    }
}

void GraphMinder::on_ap_caps(CMDU* cmdu) {
    optional<APCapabilityMesg> parsed = parse_ap_capability(cmdu);
    if (!parsed)
        return;
    Device* d = graph_.find_device(cmdu->src_al_mac);
    if (!d) {
        OZR_INFO(&logger_, "received AP capabilities response for ?");
        return;
    }
    OZR_INFO(&logger_, "received AP capabilities response for {} MAC: {}", d->name,
             d->mac.to_string());
    const APCapabilityMesg& c = *parsed;
    OZR_INFO(&logger_, "   can query on-channel unassociated metrics: {}",
             c.unassoc_sta_metrics_operating_channel);
    OZR_INFO(&logger_, "   can query off-channel unassociated metrics: {}",
             c.unassoc_sta_metrics_non_operating_channel);
    OZR_INFO(&logger_, "   agent can initiate RCPI based steering: {}",
             c.agent_initiated_rcpi_steering);
    for (const BasicRadioCapabilitiesTLV& r : c.radios)
        OZR_INFO(&logger_, "   radio {} supports {}", r.radio_id.to_string(),
                 wifi_standard_to_string(r.standard));
    if (c.radios.size() > static_cast<size_t>(MAP_MAX_RADIOS_PER_AGENT))
        OZR_WARN(&logger_,
                 "{}: {} => max radio number {} greater than the limit value {} of map "
                 "controller !!!",
                 __func__, d->mac.to_string(), c.radios.size(), MAP_MAX_RADIOS_PER_AGENT);
    bool first = !d->ap_capability;
    d->ap_capability = c;
    // Associations heard before the radios were known get their band now.
    for (Link* l : d->links) {
        if (l->kind() != Link::WIRELESS)
            continue;
        Medium m = d->find_medium(static_cast<WirelessLink*>(l)->bssid);
        if (m == Medium::UNKNOWN || m == l->medium)
            continue;
        l->medium = m;
        if (Sta* s = graph_.find_sta(l->to); s && s->is_backhaul_sta)
            s->bsta_medium = m;
    }
    // The metric reporting policy goes to an agent once its radios are known: after its
    // first AP Capability Report (the controller's own device excepted).
    if (first && d != graph_.root)
        send_metric_reporting_policy(d);
}

void GraphMinder::on_operating_channel(CMDU* cmdu) {
    optional<OperatingChannelReportMesg> parsed = parse_operating_channel(cmdu);
    if (!parsed)
        return;
    Device* d = graph_.find_device(cmdu->src_al_mac);
    if (!d) {
        OZR_WARN(&logger_, "{} couldn't find a device for MAC: {}", __func__,
                 cmdu->src_al_mac.to_string());
        return;
    }
    d->update_current_channels(*parsed);
}

void GraphMinder::on_channel_preference_report_message(CMDU* cmdu) {
    optional<ChannelPreferenceReportMessage> parsed = parse_channel_preference_report_message(cmdu);
    Device* d = graph_.find_device(cmdu->src_al_mac);
    // The preferences are kept from every report, with or without a CAC completion.
    std::vector<MAC> radios;
    for (TlvWalk w(cmdu); w.next();) {
        if (w.type() != TLV_TYPE_CHANNEL_PREFERENCE)
            continue;
        const auto& t = w.as<channel_preference_tlv>();
        if (d)
            d->update_channel_preference(t);
        if (std::find(radios.begin(), radios.end(), t.radio_id) == radios.end())
            radios.push_back(t.radio_id);
    }
    if (parsed && !d) {
        OZR_WARN(&logger_, "{} couldn't find a device for MAC: {}", __func__,
                 cmdu->src_al_mac.to_string());
        return;
    }
    if (parsed) {
        d->cac_completion_reports = parsed->cac_completion;
        d->cac_non_occupancy = parsed->cac_non_occupancy;
        d->cac_ongoing = parsed->cac_ongoing;
    }
    if (GraphDataPeer* dm = data())
        for (const MAC& r : radios)
            dm->notify_available_channel(cmdu->src_al_mac, r);
}

void GraphMinder::on_ch_scan_report_message(CMDU* cmdu) {
    optional<APChannelScanReportMesg> parsed = parse_ap_ch_scan_report(cmdu);
    if (!parsed)
        return;
    OZR_INFO(&logger_, "we have received the scan report CMDU");
    Device* d = graph_.find_device(cmdu->src_al_mac);
    if (!d) {
        OZR_WARN(&logger_, "{} couldn't find a device for MAC: {}", __func__,
                 cmdu->src_al_mac.to_string());
        return;
    }
    d->update_ch_scan_report(*parsed, &logger_);
    std::vector<MAC> radios;
    for (const ChannelScanResultTLV& r : parsed->results)
        if (std::find(radios.begin(), radios.end(), r.radio_id) == radios.end())
            radios.push_back(r.radio_id);
    if (GraphDataPeer* dm = data())
        for (const MAC& r : radios)
            dm->notify_available_channel(cmdu->src_al_mac, r);
}

// ---- station link metrics ---------------------------------------------------------------

void GraphMinder::apply_sta_link_metrics(Device* d, const AssociatedStaLinkMetricsTLV& m) {
    int64_t t = now();
    // Metrics of a station the stack never saw associated are stale: dropped.
    if (!get_sta(m.sta)) {
        OZR_WARN(&logger_, "get_sta() failed for MAC: {}", m.sta.to_string());
        return;
    }
    for (const StaMetric& sm : m.metrics) {
        WirelessLink* l = d->find_wireless_link(m.sta);
        if (!l) {
            OZR_DEBUG(&logger_, "{} cannot find wireless from device {} to sta MAC: {}.", __func__,
                      d->mac.to_string(), m.sta.to_string());
            continue;
        }
        // The agent measures the station's uplink; that is the one RCPI of the hop.
        l->rcpi = rcpi8(sm.uplink_rcpi);
        l->uplink_rcpi = rcpi8(sm.uplink_rcpi);
        l->tx_rate = sm.downlink_rate;
        l->last_metrics_ms = t;
        d->link_metric_time[sm.bssid] = t;
        Sta* s = graph_.find_sta(m.sta);
        const Device* owner = graph_.find_device(m.sta);
        if (s && owner && owner != d && !s->is_backhaul_sta) {
            s->update_backhaul_sta(true, owner->mac);
            l->is_backbone = true;
            l->remote_al_mac = owner->mac;
            s->bsta_medium = l->medium;
        }
        OZR_DEBUG(&logger_,
                  "GraphMinder::{} link={} [MAC: {}] => {} [MAC: {}] tx_rate={} Mbps "
                  "rcpi={} cost={} age={} ms",
                  __func__, d->name, d->mac.to_string(), s ? s->name : std::string(),
                  m.sta.to_string(), l->tx_rate, l->rcpi, l->cost(), sm.time_delta_ms);
        if (GraphSteeringPeer* st = steering())
            st->notify_link_metric_changed(d, m.sta);
    }
}

void GraphMinder::on_assoc_sta_link_metric_response(CMDU* cmdu) {
    optional<AssocStaLinkMetricResponseMesg> parsed = parse_assoc_sta_link_metric_response(cmdu);
    if (!parsed)
        return;
    if (parsed->error_code)
        OZR_WARN(&logger_, "GraphMinder::{} error sta={} reason={}", __func__,
                 parsed->error_code->sta.to_string(), parsed->error_code->reason_string());
    Device* d = graph_.find_device(cmdu->src_al_mac);
    if (!d) {
        OZR_WARN(&logger_, "{} find device about mac {} failed.", __func__,
                 cmdu->src_al_mac.to_string());
        return;
    }
    for (const AssociatedStaLinkMetricsTLV& m : parsed->sta_link_metrics)
        apply_sta_link_metrics(d, m);
}

void GraphMinder::on_ap_metric_response(CMDU* cmdu) {
    optional<ApMetricResponseMesg> parsed = parse_ap_metric_response(cmdu);
    if (!parsed)
        return;
    Device* d = graph_.find_device(cmdu->src_al_mac);
    if (!d) {
        OZR_WARN(&logger_, "{} Didn't find device node for MAC: {}", __func__,
                 cmdu->src_al_mac.to_string());
        return;
    }
    d->ap_metrics = *parsed;
    // Byte counter unit of the agent's reports: bytes, KiB or MiB.
    uint64_t unit = 1;
    if (d->ap_capability) {
        if (d->ap_capability->byte_counter_units == 1)
            unit = 1024;
        else if (d->ap_capability->byte_counter_units == 2)
            unit = 1024 * 1024;
    }
    for (const AssociatedStaTrafficStatsTLV& ts : parsed->sta_traffic_stats) {
        Link* found = nullptr;
        for (Link* l : d->links)
            if (l->to == ts.sta && (!found || l->kind() == Link::WIRELESS))
                found = l;
        if (!found) {
            OZR_DEBUG(&logger_, "{} cannot find wireless from device {} to sta MAC: {}.", __func__,
                      d->mac.to_string(), ts.sta.to_string());
            continue;
        }
        if (found->kind() != Link::WIRELESS) {
            OZR_WARN(&logger_, "{} checked_cast link kind to WirelessLink failed.", __func__);
            continue;
        }
        WirelessLink* w = static_cast<WirelessLink*>(found);
        w->update_traffic_stats(ts, unit);
        const uint64_t* tot = w->totals;
        OZR_DEBUG(&logger_,
                  "sta [MAC: {}]: [64bit] - txbytes {} rxbytes {} txpackets {} rxpackets "
                  "{} txerrors {} rxerrors {} retry {}",
                  ts.sta.to_string(), tot[0], tot[1], tot[2], tot[3], tot[4], tot[5], tot[6]);
        OZR_DEBUG(&logger_, "sta [MAC: {}]: - downlink_tput: {}mbps  uplink_tput: {}mbps",
                  ts.sta.to_string(), w->downlink_tput, w->uplink_tput);
    }
    for (const AssociatedStaLinkMetricsTLV& m : parsed->sta_link_metrics)
        apply_sta_link_metrics(d, m);
}

// ---- unassociated measurements and beacon reports ---------------------------------------

bool GraphMinder::candidate_bss(const Device* d, uint8_t op_class, uint8_t channel, bool backhaul,
                                BSSID& out) const {
    // The measuring radio: the one operating on the measured channel, else the one whose
    // band holds the operating class.
    optional<MAC> radio;
    for (const OperatingChannelReportTLV& r : d->current_channels.reports)
        for (const auto& oc : r.op_classes)
            if (!radio && oc.channel == channel)
                radio = r.radio_id;
    if (!radio && d->ap_capability) {
        uint8_t band = 0;
        uint16_t freq = 0;
        if (get_frequency_type(op_class, &band, &freq) == 0)
            for (const BasicRadioCapabilitiesTLV& r : d->ap_capability->radios)
                if (!radio && r.band == band)
                    radio = r.radio_id;
    }
    if (!radio)
        return false;
    // Among the radio's BSSs the stack marks those carrying the backhaul SSID; when it
    // marks none, the radio's first BSS serves both kinds.
    const BSSInfo* first = nullptr;
    for (const RadioInfo& r : d->operational_bss) {
        if (r.radio_id != *radio)
            continue;
        for (const BSSInfo& b : r.bsss) {
            if (!first)
                first = &b;
            const map_bss_info_t* sb = map_find_bss(b.bssid);
            bool is_bh = sb && sb->is_backhaul;
            if (is_bh == backhaul) {
                out = b.bssid;
                return true;
            }
        }
    }
    if (first) {
        bool any_bh = false;
        for (const RadioInfo& r : d->operational_bss)
            if (r.radio_id == *radio)
                for (const BSSInfo& b : r.bsss) {
                    const map_bss_info_t* sb = map_find_bss(b.bssid);
                    any_bh = any_bh || (sb && sb->is_backhaul);
                }
        if (!any_bh) {
            out = first->bssid;
            return true;
        }
    }
    (void)radio;
    return false;
}

void GraphMinder::on_unassoc_sta_link_metric_response(CMDU* cmdu) {
    optional<UnassocStaLinkMetricResponseMesg> parsed =
        parse_unassoc_sta_link_metric_response(cmdu);
    if (!parsed)
        return;
    Device* d = graph_.find_device(cmdu->src_al_mac);
    OZR_INFO(&logger_,
             "{}: received unassoc sta link metric response - from device {}, op class: "
             "{}",
             __func__, cmdu->src_al_mac.to_string(), static_cast<unsigned>(parsed->op_class));
    if (!d) {
        OZR_WARN(&logger_, "{} find device about MAC: {} failed.", __func__,
                 cmdu->src_al_mac.to_string());
        return;
    }
    int64_t t = now();
    GraphSteeringPeer* st = steering();
    for (const StaRCPI& m : parsed->stas) {
        OZR_INFO(&logger_, "    sta MAC: {} channel: {}, time_delta: {}, rcpi_uplink: {}",
                 m.mac.to_string(), static_cast<unsigned>(m.channel), m.time_delta_ms,
                 m.uplink_rcpi);
        Sta* s = graph_.find_sta(m.mac);
        if (!s) {
            OZR_INFO(&logger_,
                     "Received unassociated sta link metric for MAC: {}, when it is not "
                     "on the graph",
                     m.mac.to_string());
            continue;
        }
        if (s->is_backhaul_sta && m.time_delta_ms > kBstaUnassocMaxDeltaMs) {
            OZR_INFO(&logger_,
                     "Received unassociated sta link metric for bsta MAC: {} from device "
                     "{}, but the time_delta {}(which is bigger than {}) is too old. Ignore",
                     m.mac.to_string(), d->mac.to_string(), m.time_delta_ms,
                     kBstaUnassocMaxDeltaMs);
            continue;
        }
        WirelessLink* assoc = d->find_wireless_link(m.mac);
        if (assoc) {
            OZR_DEBUG(&logger_,
                      "GraphMinder::{} get associated rcpi {} in the {} from the client "
                      "MAC: {}",
                      __func__, m.uplink_rcpi, d->label(), m.mac.to_string());
            assoc->rcpi = rcpi8(m.uplink_rcpi);
            assoc->last_metrics_ms = t;
            if (st)
                st->notify_link_metric_changed(d, m.mac);
            continue;
        }
        BSSID bssid;
        if (!candidate_bss(d, parsed->op_class, m.channel, s->is_backhaul_sta, bssid)) {
            if (s->is_backhaul_sta)
                OZR_INFO(&logger_, "Backhaul-bss bssid not found for radio id {} to bsta {}",
                         d->mac.to_string(), m.mac.to_string());
            else
                OZR_INFO(&logger_, "Fronthaul-bss bssid not found for radio id {} to client {}",
                         d->mac.to_string(), m.mac.to_string());
            continue;
        }
        UnassociatedLink* l = on_heard_about_unassociated_link(d, bssid, m.mac);
        if (!l)
            continue;
        l->rcpi = rcpi8(m.uplink_rcpi);
        l->measured_ms = t - static_cast<int64_t>(m.time_delta_ms);
        l->op_class = parsed->op_class;
        l->channel = m.channel;
        l->last_metrics_ms = t;
        OZR_DEBUG(&logger_,
                  "GraphMinder::{} link={} [MAC: {}] => [MAC: {}] time_delta={} "
                  "since_measured_time={} rcpi={} predicted_rate={} cost={}",
                  __func__, d->name, d->mac.to_string(), m.mac.to_string(), m.time_delta_ms,
                  t - l->measured_ms, l->rcpi, predict_rate(l->rcpi), l->cost());
        if (st) {
            st->notify_link_metric_changed(d, m.mac);
            st->ping_pong_check_by_unassoc_process(l);
            st->notify_sta_bnd_cap_changed(m.mac);
        }
    }
}

uint8_t GraphMinder::convert_beacon_metrics_rcpi(const Device* device, const MAC& sta,
                                                 uint8_t rcpi) {
    if (!device)
        OZR_WARN(&logger_, "{} input from_device is NULL. report sta MAC: {}, report rcpi {}",
                 __func__, sta.to_string(), rcpi);
    if (rcpi < 146)
        return 0;
    int rssi = static_cast<int8_t>(rcpi);
    uint8_t out = static_cast<uint8_t>(((rssi + 110) * 2) & 0xFF);
    OZR_DEBUG(&logger_,
              "{} convert rcpi value which report by sta MAC: {} from device MAC: {} "
              "report rcpi {} which is {}, convert to rcpi value {}.",
              __func__, sta.to_string(), device ? device->mac.to_string() : std::string("-"), rcpi,
              "2's complement of RSSI", out);
    return out;
}

void GraphMinder::on_bsta_beacon_response(Device* device, const BeaconMetricsResponseTLV& report) {
    const Sta* s = graph_.find_sta(report.sta);
    int64_t t = now();
    for (const map_beacon_report_element_s& e : report.elements) {
        // Measurement Report body: token, mode, type, then the Beacon report: class,
        // channel, start time (8), duration (2), frame info, RCPI, RSNI, BSSID (6), ...
        if (e.body.size() < 24)
            continue;
        uint8_t op_class = e.body[3];
        uint8_t channel = e.body[4];
        uint8_t raw = e.body[16];
        BSSID bssid(&e.body[18]);
        Device* target = find_device(bssid);
        if (!s || !s->is_backhaul_sta || !target) {
            OZR_INFO(&logger_,
                     "{} sta {} is not a BSTA or cannot find device bases on BSSID: {} "
                     "in beacon report",
                     __func__, report.sta.to_string(), bssid.to_string());
            continue;
        }
        if (target->mac == s->owner_device)
            continue;
        uint8_t rcpi = convert_beacon_metrics_rcpi(device, report.sta, raw);
        BSSID candidate;
        if (candidate_bss(target, op_class, channel, true, candidate) && candidate != bssid) {
            OZR_INFO(&logger_,
                     "{} {} BSSID: {} is different from candidate unassociated BSSID: "
                     "{}.",
                     __func__, target->label(), bssid.to_string(), candidate.to_string());
        } else {
            candidate = bssid;
        }
        WirelessLink* assoc = target->find_wireless_link(report.sta);
        if (assoc)
            continue;  // the association's own metrics are fresher
        OZR_DEBUG(&logger_,
                  "{} on_heard_about_unassociated_link bases on on_bsta_beacon_response. "
                  "sta_info.time_delta = {}",
                  __func__, 0);
        UnassociatedLink* l = on_heard_about_unassociated_link(target, candidate, report.sta);
        if (!l)
            continue;
        l->rcpi = rcpi;
        l->measured_ms = t;
        l->op_class = op_class;
        l->channel = channel;
        l->last_metrics_ms = t;
    }
}

void GraphMinder::on_beacon_response(CMDU* cmdu) {
    optional<BeaconMetricsResponseTLV> parsed = parse_beacon_metrics_response(cmdu);
    if (!parsed)
        return;
    Device* d = graph_.find_device(cmdu->src_al_mac);
    if (!d) {
        OZR_WARN(&logger_, "{} find device about MAC: {} failed.", __func__,
                 cmdu->src_al_mac.to_string());
        return;
    }
    d->add_beacon_response_tlv({*parsed, now()});
    const Sta* s = graph_.find_sta(parsed->sta);
    if (s && s->is_backhaul_sta)
        on_bsta_beacon_response(d, *parsed);
    if (GraphSteeringPeer* st = steering())
        st->notify_sta_bnd_cap_changed(parsed->sta);
}

// ---- client capabilities and events --------------------------------------------------------

void GraphMinder::on_sta_capability_report(CMDU* cmdu) {
    optional<StaCapabilityReport> parsed = parse_sta_capability_report(cmdu, graph_);
    if (!parsed)
        return;
    Sta* s = graph_.find_sta(parsed->sta);
    if (!s)
        return;
    s->capabilities = parsed->capabilities;
    const StaCapabilityInfo& c = s->capabilities;
    OZR_INFO(&logger_, "|--------sta wireless capability report-------|");
    OZR_INFO(&logger_, " -STA ==> [{}]", s->mac.to_string());
    OZR_INFO(&logger_, " -supported_channels:{}", c.channels_string());
    OZR_INFO(&logger_, " -mimo_txcount:{}", c.mimo_txcount);
    OZR_INFO(&logger_, " -mimo_rxcount:{}", c.mimo_rxcount);
    OZR_INFO(&logger_, " -max_bw:{}", c.max_bw);
    OZR_INFO(&logger_, " -capable_bss_transition:{}", c.capable_bss_transition);
    OZR_INFO(&logger_, " -capable_radio_measurement:{}", c.capable_radio_measurement);
    OZR_INFO(&logger_, " -steer category:{}", s->steer_cat_to_str(c.steer_category));
    OZR_INFO(&logger_, " -sgi_support:{}", c.sgi_support);
    OZR_INFO(&logger_, " -ecsa:{}", c.ecsa);
    if (GraphDataPeer* dm = data())
        dm->notify_client_cap_info(s->mac, c);
    if (GraphSteeringPeer* st = steering())
        st->notify_sta_capability_report(s->mac);
}

void GraphMinder::on_backhaul_steering_reponse(CMDU* cmdu) {
    optional<BackhaulSteeringResponseMesg> parsed = parse_backhaul_steering_response(cmdu);
    if (!parsed)
        return;
    OZR_INFO(&logger_,
             "{} backhaul steering response received from device {}. bsta {}, target "
             "BSSID: {}, result_code {}",
             __func__, cmdu->src_al_mac.to_string(), parsed->backhaul_sta.to_string(),
             parsed->target_bssid.to_string(), static_cast<unsigned>(parsed->result_code));
    if (GraphSteeringPeer* st = steering())
        st->notify_backhaul_steering_response(*parsed);
}

void GraphMinder::on_tunneled_message(CMDU* cmdu) {
    optional<TunneledMesg> parsed = parse_tunneled_message(cmdu);
    if (!parsed)
        return;
    const TunneledMesg& m = *parsed;
    OZR_INFO(&logger_, "{} -- src MAC: {}, type: {}, len: {}", __func__,
             cmdu->src_al_mac.to_string(), static_cast<unsigned>(m.message_type), m.payload.size());
    switch (m.message_type) {
        case 0x00:    // (Re)Association Request frame body
        case 0x01: {  // of the client's last (re)association
            Sta* s = graph_.find_sta(m.sta);
            Device* d = s ? s->get_working_device() : nullptr;
            WirelessLink* l = d ? d->find_wireless_link(m.sta) : nullptr;
            StaCapabilityInfo caps;
            if (s && l &&
                sta_capabilities_from_assoc_body(graph_, l->bssid, m.payload.data(),
                                                 m.payload.size(), caps)) {
                s->capabilities = caps;
                if (GraphDataPeer* dm = data())
                    dm->notify_client_cap_info(s->mac, caps);
            }
            break;
        }
        case 0x02: {  // BTM Query action frame: category, action, dialog token, reason
            if (m.payload.size() < 4)
                break;
            uint8_t token = m.payload[2];
            uint8_t reason = m.payload[3];
            OZR_INFO(&logger_,
                     "{} -- recv 80211 btm query event from sta MAC: {}  --dialog "
                     "token {} reason code {}",
                     __func__, m.sta.to_string(), static_cast<unsigned>(token),
                     static_cast<unsigned>(reason));
            if (GraphSteeringPeer* st = steering())
                st->notify_dot11_btm_query(m.sta, token, reason);
            break;
        }
        default:
            OZR_INFO(&logger_, "{} -- Unsupported tunneled protocol type: {}", __func__,
                     static_cast<unsigned>(m.message_type));
            break;
    }
}

void GraphMinder::on_failed_connection_message(CMDU* cmdu) {
    optional<FailedConnectionMesg> parsed = parse_failed_connection_message(cmdu);
    if (!parsed)
        return;
    OZR_INFO(&logger_,
             "{} -- Received CMDU_TYPE_MAP_FAILED_CONNECTION: sta MAC: {}, status_code: "
             "{}, reason_code: {}",
             __func__, parsed->sta.to_string(), parsed->status_code,
             parsed->reason_code ? static_cast<int>(*parsed->reason_code) : -1);
    if (GraphSteeringPeer* st = steering())
        st->notify_failed_connection_report(*parsed);
}
