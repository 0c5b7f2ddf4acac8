#include "graph/links.h"

#include <fmt/format.h>

#include "common/clock.h"
#include "graph/device.h"
#include "graph/graph.h"
#include "graph/rate_model.h"
#include "messages/messages.h"

uint32_t wifi_hop_cost(uint8_t rcpi, uint8_t uplink_rcpi, bool is_backbone) {
    uint8_t r = (is_backbone && uplink_rcpi >= 1 && uplink_rcpi <= 219) ? uplink_rcpi : rcpi;
    int rate = predict_rate_new(r);
    return compute_cost(static_cast<float>(rate * 0.6));
}

std::string Link::describe_common(const Graph& graph) const {
    const Node* far = graph.find_node(to);
    int64_t now = get_current_time_ms();
    return fmt::format(
        "{} {} Last heart {} ms ago Last metrics update {} ms ago {} medium {} local_if {} "
        "remote_if {} remote_al {} ${}",
        far ? far->name : "", to.to_string(), now - last_heard_ms, now - last_metrics_ms,
        is_backbone ? "Backbone link" : "Client link", medium_to_string(medium),
        local_interface.to_string(), remote_interface.to_string(), remote_al_mac.to_string(),
        cost());
}

std::string WirelessLink::describe(const Graph& graph) const {
    return fmt::format("{} bssid {} rcpi {} uplink_rcpi {} {} tx_rate ASSOC",
                       describe_common(graph), bssid.to_string(), rcpi, uplink_rcpi, tx_rate);
}

std::string UnassociatedLink::describe(const Graph& graph) const {
    return fmt::format("{} bssid {} rcpi {} uplink_rcpi {} op_class {} channel {} UN-ASSOC",
                       describe_common(graph), bssid.to_string(), rcpi, uplink_rcpi, op_class,
                       channel);
}

std::string WiredLink::describe(const Graph& graph) const {
    return describe_common(graph) + " WIRE" + (through_bridge() ? " Through bridge" : "");
}

bool WiredLink::through_bridge() const {
    if (zero_cost)
        return false;
    const Device* dev = owner();
    if (!dev)
        return false;
    const LocalInterface* ifc = dev->find_interface(local_interface);
    if (!ifc || !ifc->has_bridge)
        return false;
    if (ifc->backbone_owner.is_zero() || ifc->backbone_owner == ifc->mac)
        return false;
    // The bridge's backbone owner interface is another one of this device: the far end
    // is reached through the bridge unless the owner side also reaches it directly.
    const Graph* g = dev->graph();
    const Device* owner_dev = g ? g->find_device(ifc->backbone_owner) : nullptr;
    return !(owner_dev && owner_dev != dev && owner_dev->find_wired_link(dev->mac));
}

void WirelessLink::update_traffic_stats(const AssociatedStaTrafficStatsTLV& tlv, uint64_t unit) {
    TrafficCounters raw;
    raw.v[TrafficCounters::BYTES_SENT] = tlv.bytes_sent;
    raw.v[TrafficCounters::BYTES_RECEIVED] = tlv.bytes_received;
    raw.v[TrafficCounters::PACKETS_SENT] = tlv.packets_sent;
    raw.v[TrafficCounters::PACKETS_RECEIVED] = tlv.packets_received;
    raw.v[TrafficCounters::TX_ERRORS] = tlv.tx_packet_errors;
    raw.v[TrafficCounters::RX_ERRORS] = tlv.rx_packet_errors;
    raw.v[TrafficCounters::RETRANSMISSIONS] = tlv.retransmissions;
    update_traffic_stats(raw, unit, get_current_time_ms());
}

void WirelessLink::update_traffic_stats(const TrafficCounters& raw, uint64_t unit, int64_t now_ms) {
    for (int i = 0; i < TrafficCounters::COUNT; ++i) {
        uint32_t now_v = raw.v[i];
        uint32_t old_v = old_counters.v[i];
        uint64_t inc = now_v >= old_v ? uint64_t{now_v} - old_v : (0xFFFFFFFFull - old_v) + now_v;
        if (i == TrafficCounters::BYTES_SENT || i == TrafficCounters::BYTES_RECEIVED)
            inc *= unit;
        totals[i] += inc;
    }
    old_counters = raw;
    int64_t elapsed = now_ms - snapshot_ms;
    if (snapshot_ms != 0 && elapsed > 0) {
        uint64_t e = static_cast<uint64_t>(elapsed);
        downlink_tput =
            static_cast<float>((totals[TrafficCounters::BYTES_SENT] - snapshot_bytes_sent) / e) *
            0.00762939453125f;
        uplink_tput = static_cast<float>(
                          (totals[TrafficCounters::BYTES_RECEIVED] - snapshot_bytes_received) / e) *
                      0.00762939453125f;
    }
    snapshot_bytes_sent = totals[TrafficCounters::BYTES_SENT];
    snapshot_bytes_received = totals[TrafficCounters::BYTES_RECEIVED];
    snapshot_ms = now_ms;
}
