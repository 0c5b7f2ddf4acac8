// Edges of the topology graph. A link belongs to the device at its near end and names
// its far node by MAC only.
#pragma once

#include <cstdint>
#include <string>

#include "common/mac.h"
#include "graph/graph_enums.h"

class Device;
class Graph;
struct AssociatedStaTrafficStatsTLV;

// The counters of the last 1905 Link Metric Response naming a link (transmitter side
// from the Transmitter Link Metric TLV, receiver side from the Receiver one).
struct LinkMetricCounters {
    uint32_t tx_packet_errors = 0;
    uint32_t tx_packets = 0;
    uint16_t mac_throughput_capacity = 0;  // Mb/s
    uint16_t link_availability = 0;        // percent
    uint16_t phy_rate = 0;                 // Mb/s
    uint32_t rx_packet_errors = 0;
    uint32_t rx_packets = 0;
};

class Link {
  public:
    enum Kind : int { WIRELESS = 1, UNASSOCIATED = 2, WIRED = 3 };

    Link(const MAC& to, int64_t now_ms) : last_heard_ms(now_ms), first_heard_ms(now_ms), to(to) {}
    virtual ~Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Path cost of this hop.
    virtual uint32_t cost() const = 0;
    virtual Kind kind() const = 0;
    // One-line dump: far node, common fields, " $" cost, kind word.
    virtual std::string describe(const Graph& graph) const = 0;

    // The device holding this link (set by Device::add_link).
    const Device* owner() const { return owner_; }

    int64_t last_heard_ms;
    int64_t first_heard_ms;  // creation time, never refreshed
    int64_t last_metrics_ms = 0;
    MAC to;
    bool is_backbone = false;
    bool zero_cost = false;
    MAC local_interface;
    MAC remote_interface;
    MAC remote_al_mac;
    Medium medium = Medium::UNKNOWN;
    LinkMetricCounters metrics;

  protected:
    std::string describe_common(const Graph& graph) const;

  private:
    friend class Device;
    const Device* owner_ = nullptr;
};

// Cost of a Wi-Fi hop measured with RCPI / UPLINK_RCPI: a backbone link uses its
// uplink RCPI when that is a measurement (1..219), else RCPI.
uint32_t wifi_hop_cost(uint8_t rcpi, uint8_t uplink_rcpi, bool is_backbone);

// The seven 32-bit counters of an associated-STA traffic report, in report order.
struct TrafficCounters {
    enum {
        BYTES_SENT,
        BYTES_RECEIVED,
        PACKETS_SENT,
        PACKETS_RECEIVED,
        TX_ERRORS,
        RX_ERRORS,
        RETRANSMISSIONS,
        COUNT
    };
    uint32_t v[COUNT] = {};
};

// A station associated to a BSS of the owning device.
class WirelessLink : public Link {
  public:
    WirelessLink(const MAC& to, const BSSID& bssid, int64_t now_ms)
        : Link(to, now_ms), bssid(bssid) {}
    uint32_t cost() const override { return wifi_hop_cost(rcpi, uplink_rcpi, is_backbone); }
    Kind kind() const override { return WIRELESS; }
    std::string describe(const Graph& graph) const override;

    // Folds a new report into the running totals (32-bit wrap-around) and, from the
    // second report on, derives the throughputs. UNIT multiplies the byte increments.
    void update_traffic_stats(const AssociatedStaTrafficStatsTLV& tlv, uint64_t unit);
    void update_traffic_stats(const TrafficCounters& raw, uint64_t unit, int64_t now_ms);

    BSSID bssid;
    uint8_t rcpi = 0;
    uint8_t uplink_rcpi = 0;
    uint32_t tx_rate = 0;  // Mbps

    TrafficCounters old_counters;
    uint64_t totals[TrafficCounters::COUNT] = {};
    uint64_t snapshot_bytes_sent = 0;
    uint64_t snapshot_bytes_received = 0;
    int64_t snapshot_ms = 0;
    float downlink_tput = 0.0f;  // Mbps
    float uplink_tput = 0.0f;
};

// A device's measurement of a station not associated to it.
class UnassociatedLink : public Link {
  public:
    UnassociatedLink(const MAC& to, const BSSID& bssid, int64_t now_ms)
        : Link(to, now_ms), bssid(bssid) {}
    uint32_t cost() const override { return wifi_hop_cost(rcpi, uplink_rcpi, is_backbone); }
    Kind kind() const override { return UNASSOCIATED; }
    std::string describe(const Graph& graph) const override;

    BSSID bssid;
    uint8_t rcpi = 0;
    uint8_t uplink_rcpi = 0;
    int64_t measured_ms = 0;
    uint8_t op_class = 0;
    uint8_t channel = 0;
};

// An Ethernet adjacency to another device or to a wired client.
class WiredLink : public Link {
  public:
    using Link::Link;
    uint32_t cost() const override { return zero_cost ? 0 : 10; }
    Kind kind() const override { return WIRED; }
    std::string describe(const Graph& graph) const override;

    // Whether the adjacency passes through a bridge of the owning device: false for a
    // zero-cost link; otherwise true when the near interface is bridged and is not its
    // bridge's backbone owner, or when the backbone owner device has no wired link back
    // to the owning device (the neighbour is then learnt through the bridge only).
    bool through_bridge() const;
};
