#include "rest/renderers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/context.h"
#include "core/log.h"
#include "map/datamodel/datamodel.h"
#include "map/datamodel/opclass_table.h"
#include "map/ieee80211/assoc.h"
#include "map/map_config.h"
#include "rest/rest_cache.h"
#include "rest/rest_strings.h"
#include "steering/steering_minder.h"

namespace {

using Value = rapidjson::Value;

const char kHex[] = "0123456789abcdef";

// Appends an empty array under KEY and returns it (valid until the next member
// is added to the same object).
Value& add_array(JSONObjectRenderer& out, const char* key) {
    Value arr(rapidjson::kArrayType);
    out.add_value(key, arr);
    return (out.object().MemberEnd() - 1)->value;
}

Value& add_object(JSONObjectRenderer& out, const char* key) {
    Value obj(rapidjson::kObjectType);
    out.add_value(key, obj);
    return (out.object().MemberEnd() - 1)->value;
}

// A new object at the end of ARR.
Value& push_object(Value& arr, rapidjson::Document::AllocatorType& alloc) {
    arr.PushBack(Value(rapidjson::kObjectType), alloc);
    return arr[arr.Size() - 1];
}

const char* node_name(const Graph& graph, const MAC& mac) {
    const Node* n = graph.find_node(mac);
    return n ? n->name.c_str() : "";
}

const char* link_kind_word(Link::Kind k) {
    switch (k) {
        case Link::WIRELESS:
            return "ASSOC";
        case Link::UNASSOCIATED:
            return "UN-ASSOC";
        case Link::WIRED:
            return "WIRE";
    }
    return "";
}

// The 1905 media type of DEVICE's interface MAC, or -1 when unknown.
int interface_media_type(const Device& device, const MAC& mac) {
    const LocalInterface* li = device.find_interface(mac);
    return li ? li->media_type : -1;
}

const ApMetricsTLV* find_ap_metrics(const Device& device, const BSSID& bssid) {
    if (!device.ap_metrics)
        return nullptr;
    for (const ApMetricsTLV& m : device.ap_metrics->ap_metrics)
        if (m.bssid == bssid)
            return &m;
    return nullptr;
}

const StaMetric* find_sta_metric(const Device& device, const MAC& sta, const BSSID& bssid) {
    if (!device.ap_metrics)
        return nullptr;
    for (const AssociatedStaLinkMetricsTLV& t : device.ap_metrics->sta_link_metrics) {
        if (t.sta != sta)
            continue;
        for (const StaMetric& m : t.metrics)
            if (m.bssid == bssid)
                return &m;
    }
    return nullptr;
}

const map_radio_info_t* stack_radio_of(const map_ale_info_t* ale, const MAC& radio_id) {
    if (!ale)
        return nullptr;
    for (int i = 0; i < ale->num_radios && i < MAP_MAX_RADIOS_PER_AGENT; ++i)
        if (ale->radios[i] && ale->radios[i]->radio_id == radio_id)
            return ale->radios[i];
    return nullptr;
}

const map_op_class_info_t* stack_op_class(const map_radio_info_t* radio, uint8_t op_class) {
    if (!radio)
        return nullptr;
    for (int i = 0; i < radio->num_op_classes && i < MAP_MAX_OP_CLASSES_PER_RADIO; ++i)
        if (radio->op_classes[i].op_class == op_class)
            return &radio->op_classes[i];
    return nullptr;
}

const map_bss_info_t* stack_bss_of(const map_radio_info_t* radio, const BSSID& bssid) {
    if (!radio)
        return nullptr;
    for (int i = 0; i < radio->num_bss && i < MAP_MAX_BSS_PER_RADIO; ++i)
        if (radio->bss_list[i].bssid == bssid)
            return &radio->bss_list[i];
    return nullptr;
}

}  // namespace

unsigned current_bandwidth(const OperatingChannelReportTLV* report) {
    unsigned bw = 0;
    if (!report)
        return 0;
    for (const operating_class_channel_s& oc : report->op_classes) {
        const map_dm::OpClassDef* def = map_dm::find_op_class(oc.op_class);
        if (def && def->bandwidth_mhz > bw)
            bw = def->bandwidth_mhz;
    }
    return bw;
}

namespace {

// StaCapabilityInfo::channels_string() written into OUT; returns the length.
size_t channels_text(const StaCapabilityInfo& caps, char* out, size_t cap) {
    size_t n = 0;
    auto put = [&](unsigned ch) {
        int w = std::snprintf(out + n, cap - n, "%u ", ch);
        if (w > 0 && n + static_cast<size_t>(w) < cap)
            n += static_cast<size_t>(w);
    };
    for (unsigned i = 0; i < 16; ++i)
        if (caps.supported_channels_2g & (1u << i))
            put(i + 1);
    for (unsigned i = 0; i < 32; ++i)
        if (caps.supported_channels_5g & (1u << i))
            put(StaCapabilityInfo::kChannels5g[i]);
    return n;
}

// Whether the controller's last steering request for STA left from BSSID and the BTM
// report it asks for has not come back yet.
bool steer_request_pending(const MAC& sta, const BSSID& bssid) {
    const Context* c = Context::instance();
    const SteeringMinder* sm = c ? c->steering_minder : nullptr;
    if (!sm)
        return false;
    for (const SteeringMinder::SteeringReNode* n : sm->steer_re_nodes())
        if (n->mac == sta)
            return n->last_steer_ms != 0 && n->last_src_bssid == bssid &&
                   n->btm_ms < n->last_steer_ms;
    return false;
}

// The credential of the controller's M2s for SSID, or null.
const map_vap_credential_t* credential_for(const std::string& ssid) {
    const map_credential_config_t* cfg = map_get_m2_config();
    for (unsigned i = 0; cfg && i < cfg->count && i < kMaxCredentials; ++i) {
        const map_vap_credential_t& c = cfg->creds[i];
        const size_t n = strnlen(c.ssid, sizeof c.ssid);
        if (n == ssid.size() && std::memcmp(c.ssid, ssid.data(), n) == 0)
            return &c;
    }
    return nullptr;
}

// The WSC authentication type bits AUTH under KEY, one mode name per bit.
void add_sec_modes(JSONObjectRenderer& out, const char* key, uint16_t auth) {
    static const struct {
        uint16_t bit;
        const char* name;
    } kModes[] = {
        {0x0001, "open"},           {0x0002, "wpa-personal"},    {0x0004, "shared"},
        {0x0008, "wpa-enterprise"}, {0x0010, "wpa2-enterprise"}, {0x0020, "wpa2-personal"},
        {0x0040, "wpa3-personal"}};
    Value& modes = add_array(out, key);
    for (const auto& m : kModes)
        if (auth & m.bit)
            modes.PushBack(Value(rapidjson::StringRef(m.name)), out.allocator());
}

// The name of a credential's WSC authentication type.
const char* auth_name(uint16_t auth) {
    switch (auth) {
        case 0x0001:
            return "open";
        case 0x0020:
            return "wpa2-personal";
        case 0x0040:
            return "wpa3-personal";
        case 0x0060:
            return "wpa2-wpa3-personal";
        default:
            return "other";
    }
}

// One unassociated STA measurement of a device.
void render_unassociated(Value& arr, rapidjson::Document::AllocatorType& alloc,
                         const UnassociatedLink& u, int64_t now_ms) {
    Value v;
    JSONObjectRenderer(push_object(arr, alloc), alloc)
        .add_value("sta-mac", v = mac_value(u.to, alloc))
        .add_uint("op-class", u.op_class)
        .add_uint("channel", u.channel)
        .add_int64("time-delta-ms", rest_time_value(now_ms, u.measured_ms, RestTimeKind::MsSince))
        .add_uint("rcpi-uplink", u.uplink_rcpi ? u.uplink_rcpi : u.rcpi);
}

// The channels of class OP_CLASS when the stack derived none: the class's own.
int class_channels(uint8_t op_class, uint8_t* out, int cap) {
    const map_dm::OpClassDef* def = map_dm::find_op_class(op_class);
    return def ? map_dm::global_op_class_channels(*def, out, cap) : 0;
}

// The 20 MHz control channels of the channels CH (N) of class OP_CLASS into OUT (at most
// CAP). Classes of 80 MHz and more, and 6 GHz classes wider than 20 MHz, name centre
// channels: each gives the 20 MHz channels it spans. The others name control channels.
int control_channels(uint8_t op_class, const uint8_t* ch, int n, uint8_t* out, int cap) {
    const map_dm::OpClassDef* def = map_dm::find_op_class(op_class);
    const bool centre = def && (def->bandwidth_mhz >= 80 ||
                                (def->band == map_dm::OpBand::G6 && def->bandwidth_mhz >= 40));
    const int half = centre ? def->bandwidth_mhz / 10 - 2 : 0;  // 2, 6, 14, 30
    int k = 0;
    for (int i = 0; i < n; ++i)
        for (int c = ch[i] - half; c <= ch[i] + half && k < cap; c += 4)
            if (c > 0 && c < 256)
                out[k++] = static_cast<uint8_t>(c);
    return k;
}

// sta_category_to_string without a string object.
const char* steer_category_text(sta_categories c) {
    switch (c) {
        case sta_categories::INVALID:
            return "INVALID";
        case sta_categories::CONTROLLED_STEERING_CLASS1:
            return "Controlled-Steering-Class1";
        case sta_categories::CONTROLLED_STEERING_CLASS2:
            return "Controlled-Steering-Class2";
        case sta_categories::ASSISTED_ROAMING:
            return "Assisted-Roaming";
        case sta_categories::FREE_ROAMING:
            return "Free-Roaming";
        case sta_categories::CAT5:
            return "CAT5";
    }
    return "CAT?";
}

}  // namespace

void render_credential(JSONObjectRenderer& out, const map_vap_credential_t& c) {
    auto& alloc = out.allocator();
    Value bands(rapidjson::kArrayType);
    if (c.rf_bands == 0)
        bands.PushBack(Value("any", alloc), alloc);
    if (c.rf_bands & 0x01)
        bands.PushBack(Value("2.4", alloc), alloc);
    if (c.rf_bands & 0x02)
        bands.PushBack(Value("5", alloc), alloc);
    if (c.rf_bands & 0x04)
        bands.PushBack(Value("60", alloc), alloc);
    out.add_string("ssid", c.ssid, strnlen(c.ssid, sizeof c.ssid))
        .add_uint("key-length", static_cast<unsigned>(strnlen(c.network_key, sizeof c.network_key)))
        .add_string("security", auth_name(c.auth_type))
        .add_uint("auth-type", c.auth_type)
        .add_uint("encryption-type", c.encr_type)
        .add_value("bands", bands)
        .add_bool("fronthaul", (c.bss_type & MAP_CRED_FRONTHAUL) != 0)
        .add_bool("backhaul", (c.bss_type & MAP_CRED_BACKHAUL) != 0)
        .add_bool("hidden", c.hidden != 0);
}

rapidjson::Value mac_value(const MAC& mac, rapidjson::Document::AllocatorType& alloc) {
    char text[12];
    for (size_t i = 0; i < 6; ++i) {
        text[2 * i] = kHex[mac[i] >> 4];
        text[2 * i + 1] = kHex[mac[i] & 15];
    }
    return Value(text, 12, alloc);
}

unsigned link_medium_bits(Medium m) {
    switch (m) {
        case Medium::ETHERNET:
            return 1;
        case Medium::WIFI_2G:
            return 16;
        case Medium::WIFI_5G_HIGH:
            return 32;
        case Medium::WIFI_5G_LOW:
            return 64;
        case Medium::WIFI_5G:
            return 128;
        default:
            return 0;
    }
}

int rcpi_to_rssi_dbm(uint8_t rcpi) {
    if (rcpi == 0 || rcpi > 220)
        return 0;
    return rcpi / 2 - 110;
}

bool parse_rest_mac(const char* text, size_t len, MAC& out) {
    if (!text)
        return false;
    if (len == 12) {
        uint8_t b[6];
        for (size_t i = 0; i < 12; ++i) {
            char c = text[i];
            int v = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
            if (v < 0)
                return false;
            if (i % 2 == 0)
                b[i / 2] = static_cast<uint8_t>(v << 4);
            else
                b[i / 2] = static_cast<uint8_t>(b[i / 2] | v);
        }
        out = MAC(b);
        return true;
    }
    if (len != 17)
        return false;
    return MAC::parse(std::string(text, len), out);
}

unsigned stack_band_mask_to_band_bits(uint16_t band_mask) {
    unsigned bits = 0;
    if (band_mask & MAP_BAND_MASK_2G)
        bits |= 16;
    if (band_mask & MAP_BAND_MASK_5G_HIGH)
        bits |= 32;
    if (band_mask & MAP_BAND_MASK_5G_LOW)
        bits |= 64;
    if (band_mask & MAP_BAND_MASK_5G)
        bits |= 128;
    return bits;
}

int op_class_band(uint8_t op_class) {
    const map_dm::OpClassDef* def = map_dm::find_op_class(op_class);
    if (!def)
        return -1;
    switch (def->band) {
        case map_dm::OpBand::G2:
            return 0;
        case map_dm::OpBand::G5:
            return 1;
        case map_dm::OpBand::G6:
            return 2;
    }
    return -1;
}

void render_backhaul(JSONObjectRenderer& out, const backhaul_information& bh) {
    Value v;
    out.add_value("local-ale", v = mac_value(bh.local_ale, out.allocator()))
        .add_value("remote-ale", v = mac_value(bh.remote_ale, out.allocator()))
        .add_value("local-interface", v = mac_value(bh.local_interface, out.allocator()))
        .add_value("remote-interface", v = mac_value(bh.remote_interface, out.allocator()))
        .add_bool("connected", bh.is_backhaul_connected)
        .add_string("quality", backhaul_quality_to_string(bh.quality))
        .add_uint("cost-to-parent", bh.cost_to_parent)
        .add_uint("cost-to-root", bh.cost_to_root)
        .add_string("medium", medium_to_string(bh.medium))
        .add_int("uplink-rssi", static_cast<int>(bh.uplink_rssi));
}

const Link* find_uplink(const Graph& graph, const Device& device, const Device** parent_out) {
    const backhaul_information& bh = device.backhaul;
    const Device* parent = bh.remote_ale.is_zero() ? nullptr : graph.find_device(bh.remote_ale);
    const Link* up = nullptr;
    if (parent)
        for (const Link* l : parent->links)
            if ((l->kind() == Link::WIRED && l->to == device.mac) ||
                (l->kind() == Link::WIRELESS && !bh.local_interface.is_zero() &&
                 l->to == bh.local_interface))
                up = l;
    if (parent_out)
        *parent_out = parent;
    return up;
}

RadioCaps find_radio_caps(const Device& device, const MAC& radio_id) {
    RadioCaps caps;
    if (!device.ap_capability)
        return caps;
    const APCapabilityMesg& c = *device.ap_capability;
    for (const BasicRadioCapabilitiesTLV& r : c.radios)
        if (r.radio_id == radio_id)
            caps.basic = &r;
    for (const HTCapabilitiesTLV& r : c.ht_capabilities)
        if (r.radio_id == radio_id)
            caps.ht = &r;
    for (const VHTCapabilitiesTLV& r : c.vht_capabilities)
        if (r.radio_id == radio_id)
            caps.vht = &r;
    for (const HECapabilitiesTLV& r : c.he_capabilities)
        if (r.radio_id == radio_id)
            caps.he = &r;
    return caps;
}

// ---- Station ------------------------------------------------------------------

void JSONStaRenderer::render() {
    const int64_t assoc_ms = stack_sta_ ? stack_sta_->assoc_time_ms : link_.first_heard_ms;
    // An association older than the clock (a negative time stamp) has no time to show.
    const unsigned assoc_s =
        assoc_ms > 0 ? static_cast<unsigned>(std::min<int64_t>(assoc_ms / 1000, UINT32_MAX)) : 0;

    // Capabilities: the association request the stack kept, else what the graph learnt.
    map_sta_assoc_caps caps;
    bool have_frame = false;
    if (stack_sta_ && stack_sta_->assoc_frame && stack_sta_->assoc_frame_len > 0) {
        const map_bss_info_t* bss = stack_sta_->bss;
        bool is_5g = bss && bss->radio && bss->radio->radio_index == MAP_RADIO_INDEX_5G;
        have_frame = map_80211_parse_assoc_body(
                         &caps, stack_sta_->assoc_frame, stack_sta_->assoc_frame_len, is_5g ? 1 : 0,
                         bss ? reinterpret_cast<const uint8_t*>(bss->ssid) : nullptr,
                         bss ? bss->ssid_len : 0) == 0;
    }
    unsigned tx_ss = 0, rx_ss = 0, max_bw = 0, standard = 0;
    bool sgi = false, ax24 = false, ax5 = false, k = false, btm = false;
    RmBeaconModes beacon;
    if (have_frame) {
        beacon = rm_beacon_modes(stack_sta_->assoc_frame, stack_sta_->assoc_frame_len,
                                 caps.is_reassoc != 0);
        tx_ss = caps.max_tx_spatial_streams;
        rx_ss = caps.max_rx_spatial_streams;
        max_bw = caps.max_bandwidth;
        standard = caps.he_support ? 7 : caps.vht_support ? 4 : caps.ht_support ? 3 : 0;
        sgi = caps.sgi_support;
        ax24 = caps.he_support && (caps.supported_bands & MAP_STA_BAND_2G);
        ax5 = caps.he_support && (caps.supported_bands & MAP_STA_BAND_5G);
        k = caps.rrm_support;
        btm = caps.btm_support;
    } else if (sta_) {
        tx_ss = sta_->capabilities.mimo_txcount;
        rx_ss = sta_->capabilities.mimo_rxcount;
        max_bw = sta_->capabilities.max_bw;
        sgi = sta_->capabilities.sgi_support;
        k = sta_->capabilities.capable_radio_measurement;
        btm = sta_->capabilities.capable_bss_transition;
        beacon.passive = sta_->capabilities.beacon_passive;
        beacon.active = sta_->capabilities.beacon_active;
    }
    const StaMetric* metric = find_sta_metric(device_, link_.to, link_.bssid);
    const uint64_t* t = link_.totals;
    Value v;
    out_.add_value("sta-mac", v = mac_value(link_.to, out_.allocator()))
        .add_uint("assoc-time", assoc_s)
        .add_int64("sine-assoc_time",
                   rest_time_value(now_ms_, assoc_ms, RestTimeKind::SecondsSince))
        // 1 associated; 2 associated and asked to leave, the BTM report still to come.
        .add_uint("state", steer_request_pending(link_.to, link_.bssid) ? 2 : 1)
        .add_uint("assoc-frame-len", stack_sta_ ? stack_sta_->assoc_frame_len : 0)
        .add_uint("max-tx-spatial-streams", tx_ss)
        .add_uint("max-rx-spatial-streams", rx_ss)
        .add_uint("max-bandwidth", max_bw)
        .add_uint("supported-standard", standard)
        .add_bool("sgi-support", sgi)
        .add_bool("dot11ax_24g_support", ax24)
        .add_bool("dot11ax_5g_support", ax5)
        .add_bool("dot11k-support", k)
        .add_bool("dot11k-brp_support", beacon.passive)
        .add_bool("dot11k-bra_support", beacon.active)
        .add_bool("dot11v-btm_support", btm)
        .add_bool("backhaul-sta", sta_ && sta_->is_backhaul_sta)
        .add_uint64("tx-bytes", t[TrafficCounters::BYTES_SENT])
        .add_uint64("rx-bytes", t[TrafficCounters::BYTES_RECEIVED])
        .add_uint("tx-pkts", static_cast<unsigned>(t[TrafficCounters::PACKETS_SENT]))
        .add_uint("rx-pkts", static_cast<unsigned>(t[TrafficCounters::PACKETS_RECEIVED]))
        .add_uint("tx-pkt-errors", static_cast<unsigned>(t[TrafficCounters::TX_ERRORS]))
        .add_uint("rx-pkt-errors", static_cast<unsigned>(t[TrafficCounters::RX_ERRORS]))
        .add_uint("retransmission-count",
                  static_cast<unsigned>(t[TrafficCounters::RETRANSMISSIONS]))
        .add_uint("dl-mac-datarate", metric ? metric->downlink_rate : 0)
        .add_uint("ul-mac-datarate", metric ? metric->uplink_rate : 0)
        .add_int("rssi", rcpi_to_rssi_dbm(link_.uplink_rcpi ? link_.uplink_rcpi : link_.rcpi));
}

// ---- 1905 link ------------------------------------------------------------------

void JSONNeighborLinkMetricRenderer::render() {
    int media = interface_media_type(device_, link_.local_interface);
    const LinkMetricCounters& lm = link_.metrics;
    unsigned phy = lm.phy_rate;
    int rssi = 0;
    if (link_.kind() == Link::WIRELESS) {
        const auto& w = static_cast<const WirelessLink&>(link_);
        phy = w.tx_rate;
        rssi = rcpi_to_rssi_dbm(w.uplink_rcpi ? w.uplink_rcpi : w.rcpi);
    } else if (link_.kind() == Link::UNASSOCIATED) {
        rssi = rcpi_to_rssi_dbm(static_cast<const UnassociatedLink&>(link_).rcpi);
    }
    const MAC& al = link_.remote_al_mac.is_zero() ? link_.to : link_.remote_al_mac;
    char tbuf[32];
    Value v;
    out_.add_value("al-mac", v = mac_value(al, out_.allocator()))
        .add_value("neighbor-iface-mac", v = mac_value(link_.remote_interface, out_.allocator()))
        .add_value("local-iface-mac", v = mac_value(link_.local_interface, out_.allocator()));
    if (media >= 0)
        out_.add_string("intf-type",
                        intf_type_to_buf(static_cast<unsigned>(media), tbuf, sizeof tbuf));
    else
        out_.add_null("intf-type");
    out_.add_uint("tx-phy-rate-mbps", phy)
        .add_uint("tx-packet-error-count", lm.tx_packet_errors)
        .add_uint("tx-packet-transmitted-count", lm.tx_packets)
        .add_uint("tx-mac-throughput-capacity-mbps", lm.mac_throughput_capacity)
        .add_uint("tx-link-availability-pct", lm.link_availability)
        .add_uint("rx-packet-received-count", lm.rx_packets)
        .add_uint("rx-packet-error-count", lm.rx_packet_errors)
        .add_int("rssi-dbm", rssi);
}

// ---- Radio capabilities -------------------------------------------------------------

void JSONRadioCapabilityRenderer::render() {
    const RadioCaps& c = caps_;
    unsigned tx = 0, rx = 0, bw = 20;
    bool sgi = false, su = false, mu = false;
    int power = 0;
    if (c.ht) {
        tx = c.ht->max_tx_spatial_streams + 1u;
        rx = c.ht->max_rx_spatial_streams + 1u;
        sgi = c.ht->short_gi_20mhz || c.ht->short_gi_40mhz;
        if (c.ht->ht_40mhz)
            bw = 40;
    }
    if (c.vht) {
        tx = c.vht->max_tx_spatial_streams + 1u;
        rx = c.vht->max_rx_spatial_streams + 1u;
        sgi = sgi || c.vht->short_gi_80mhz || c.vht->short_gi_160mhz;
        bw = (c.vht->vht_160mhz || c.vht->vht_80plus80mhz) ? 160 : 80;
        su = c.vht->su_beamformer;
        mu = c.vht->mu_beamformer;
    }
    if (c.he) {
        tx = c.he->max_tx_spatial_streams + 1u;
        rx = c.he->max_rx_spatial_streams + 1u;
        if (c.he->he_160mhz || c.he->he_80plus80mhz)
            bw = 160;
        su = su || c.he->su_beamformer;
        mu = mu || c.he->mu_beamformer;
    }
    if (c.basic)
        for (const operating_class_s& oc : c.basic->operating_classes)
            if (oc.max_tx_power_eirp > power)
                power = oc.max_tx_power_eirp;
    out_.add_uint("max-bss-supported", c.basic ? c.basic->max_bss : 0)
        .add_uint("max-tx-spatial-streams", tx)
        .add_uint("max-rx-spatial-streams", rx)
        .add_uint("type", c.basic ? c.basic->band : 0)
        .add_uint("max-bandwidth-mhz", bw)
        .add_bool("short-guard-support", sgi)
        .add_bool("su-beamformer-capable", su)
        .add_bool("mu-beamformer-capable", mu)
        .add_uint("supported-standard", c.basic ? c.basic->standard : 0)
        .add_int("transmit-power-limit-dbm", power);
}

void JSONRadioHTCapabilityRenderer::render() {
    out_.add_uint("max-supported-tx-streams", ht_.max_tx_spatial_streams + 1u)
        .add_uint("max-supported-rx-streams", ht_.max_rx_spatial_streams + 1u)
        .add_bool("guard-interval-support-20mhz", ht_.short_gi_20mhz != 0)
        .add_bool("guard-interval-support-40mhz", ht_.short_gi_40mhz != 0)
        .add_uint("ht-support-40mhz", ht_.ht_40mhz);
}

void JSONRadioVHTCapabilityRenderer::render() {
    out_.add_vht_mcs_map("supported-tx-mcs-map", vht_.supported_vht_tx_mcs)
        .add_vht_mcs_map("supported-rx-mcs-map", vht_.supported_vht_rx_mcs)
        .add_uint("max-supported-tx-streams", vht_.max_tx_spatial_streams + 1u)
        .add_uint("max-supported-rx-streams", vht_.max_rx_spatial_streams + 1u)
        .add_bool("sgi-support-80mhz", vht_.short_gi_80mhz != 0)
        .add_bool("sgi-support-160mhz", vht_.short_gi_160mhz != 0)
        .add_bool("support-80+80mhz", vht_.vht_80plus80mhz != 0)
        .add_bool("support-160mhz", vht_.vht_160mhz != 0)
        .add_bool("su-beamformer-capable", vht_.su_beamformer != 0)
        .add_bool("mu-beamformer-capable", vht_.mu_beamformer != 0);
}

void JSONRadioHECapabilityRenderer::render() {
    out_.add_he_mcs_map("supported-tx-rx-mcs-map", he_.supported_mcs.data(),
                        static_cast<unsigned>(he_.supported_mcs.size()))
        .add_uint("max-supported-tx-streams", he_.max_tx_spatial_streams + 1u)
        .add_uint("max-supported-rx-streams", he_.max_rx_spatial_streams + 1u)
        .add_bool("support-80+80mhz", he_.he_80plus80mhz != 0)
        .add_bool("support-160mhz", he_.he_160mhz != 0)
        .add_bool("su-beamformer-capable", he_.su_beamformer != 0)
        .add_bool("mu-beamformer-capable", he_.mu_beamformer != 0)
        .add_bool("ul-mimo-capable", he_.ul_mu_mimo != 0)
        .add_bool("ul-mimo-ofdma-capable", he_.ul_mu_mimo_ofdma != 0)
        .add_bool("dl-mimo-ofdma-capable", he_.dl_mu_mimo_ofdma != 0)
        .add_bool("ul-ofdma-capable", he_.ul_ofdma != 0)
        .add_bool("dl-ofdma-capable", he_.dl_ofdma != 0);
}

// ---- Operating class ----------------------------------------------------------------

void JSONMapOpClassRenderer::render() {
    const map_op_class_info_t* sc = stack_class_;
    const uint8_t op_class = op_class_.op_class;
    // The class's entries of the radio's last preference report: the lowest preference
    // with its reason, and the channels it marks non-operable (preference 0; an entry
    // without channels speaks of every channel of the class). A class the report does not
    // list is of the highest preference (15).
    unsigned pref = 15, reason = 0;
    bool listed = false;
    uint8_t all[Device::kMaxPreferenceChannels];
    int num_all = -1;  // the class's channels, taken when first needed
    uint8_t dynamic[Device::kMaxPreferenceChannels];
    int num_dynamic = 0;
    auto non_operable = [&](uint8_t c) {
        if (num_dynamic < static_cast<int>(sizeof dynamic) &&
            std::find(dynamic, dynamic + num_dynamic, c) == dynamic + num_dynamic)
            dynamic[num_dynamic++] = c;
    };
    if (prefs_)
        for (const ChannelPreference& p : prefs_->classes) {
            if (p.op_class != op_class)
                continue;
            if (!listed || p.preference < pref) {
                pref = p.preference;
                reason = p.reason;
            }
            listed = true;
            if (p.preference != 0)
                continue;
            for (uint8_t c : p.channels)
                non_operable(c);
            if (p.channels.empty()) {
                if (num_all < 0)
                    num_all = sc ? std::min<int>(sc->num_channels, sizeof all)
                                 : class_channels(op_class, all, sizeof all);
                for (int i = 0; i < num_all; ++i)
                    non_operable(sc ? sc->channels[i] : all[i]);
            }
        }
    uint8_t control[4 * Device::kMaxPreferenceChannels];
    const int num_control =
        sc ? control_channels(op_class, sc->channels, sc->num_channels, control, sizeof control)
           : 0;
    out_.add_uint("op-class", op_class)
        .add_int("eirp-dbm", op_class_.max_tx_power_eirp)
        .add_uint("pref", pref)
        .add_uint("reason", reason)
        .add_uint8_array("static-non-operable-channels", op_class_.non_operable_channels.data(),
                         static_cast<int>(op_class_.non_operable_channels.size()))
        .add_uint8_array("dynamic-non-operable-channels", dynamic, num_dynamic)
        .add_uint8_array("agent-channels", sc ? sc->channels : nullptr, sc ? sc->num_channels : 0)
        .add_uint8_array("agent-non-operable-channels", sc ? sc->non_operable_channels : nullptr,
                         sc ? sc->num_non_operable : 0)
        .add_uint8_array("control-channels", control, num_control);
}

// ---- AP metrics ---------------------------------------------------------------------

void JSONMapAPMetricRenderer::render() {
    // Agents' estimated service parameters are not kept by the graph: no flags, no entries.
    Value esp(rapidjson::kArrayType);
    out_.add_uint("channel-utilization", metrics_ ? metrics_->channel_utilization : 0)
        .add_uint("sta-count", metrics_ ? metrics_->num_associated_stas : 0)
        .add_uint("esp-present-flags", 0)
        .add_value("estimated-service-parameters", esp);
}

// ---- Radio --------------------------------------------------------------------------

void JSONRadioRenderer::render_bss(Value& target, const BSSInfo& bss, uint8_t standard) {
    auto& alloc = out_.allocator();
    JSONObjectRenderer b(target, alloc);
    Value v;
    // The vendor agent names its VAPs and their security; the controller's credential for
    // the SSID is what its M2s configured.
    const HKTVapInfo* vap = device_.find_vap_info(bss.bssid);
    const map_vap_credential_t* cred = credential_for(bss.ssid);
    b.add_value("bssid", v = mac_value(bss.bssid, alloc))
        .add_string("ssid", bss.ssid)
        .add_string("iface-name", vap ? vap->vap_name.c_str() : "")
        .add_string("wifi-standard", wifi_standard_to_string(standard));
    if (cred) {
        JSONObjectRenderer w(add_object(b, "wsc-data"), alloc);
        render_credential(w, *cred);
    } else {
        b.add_null("wsc-data");
    }
    add_sec_modes(b, "supported-sec-modes",
                  vap    ? vap->authentication_mode
                  : cred ? cred->auth_type
                         : 0);
    Value& links = add_array(b, "neighbor-link-metrics");
    for (const Link* l : device_.links) {
        if (l->kind() != Link::WIRELESS || static_cast<const WirelessLink*>(l)->bssid != bss.bssid)
            continue;
        const Node* far = graph_.find_node(l->to);
        const Sta* s = far && far->kind() == Node::STA ? static_cast<const Sta*>(far) : nullptr;
        if (!s || !s->is_backhaul_sta)
            continue;
        JSONNeighborLinkMetricRenderer(push_object(links, alloc), alloc, device_, *l).render();
    }
    JSONMapAPMetricRenderer(b.object(), alloc, find_ap_metrics(device_, bss.bssid)).render();
    Value& stas = add_array(b, "sta-list");
    for (const Link* l : device_.links)
        if (l->kind() == Link::WIRELESS && static_cast<const WirelessLink*>(l)->bssid == bss.bssid)
            stas.PushBack(mac_value(l->to, alloc), alloc);
    Value& asked = add_array(b, "btm-steer-request-sta-list");
    for (const Link* l : device_.links)
        if (l->kind() == Link::WIRELESS &&
            static_cast<const WirelessLink*>(l)->bssid == bss.bssid &&
            steer_request_pending(l->to, bss.bssid))
            asked.PushBack(mac_value(l->to, alloc), alloc);
}

void JSONRadioRenderer::render() {
    auto& alloc = out_.allocator();
    const RadioCaps caps = find_radio_caps(device_, radio_.radio_id);
    const map_ale_info_t* ale = get_ale(device_.mac);
    const map_radio_info_t* sr = stack_radio_of(ale, radio_.radio_id);
    const OperatingChannelReportTLV* cur = device_.find_operating_channel(radio_.radio_id);

    unsigned freq_khz = 0;
    if (sr && sr->radio_index == MAP_RADIO_INDEX_2G)
        freq_khz = 2400000;
    else if (sr && sr->radio_index == MAP_RADIO_INDEX_5G)
        freq_khz = 5000000;
    else if (sr && sr->radio_index == MAP_RADIO_INDEX_6G)
        freq_khz = 6000000;
    bool front = false, back = false;
    if (sr)
        for (int i = 0; i < sr->num_bss && i < MAP_MAX_BSS_PER_RADIO; ++i) {
            front = front || !sr->bss_list[i].is_backhaul;
            back = back || sr->bss_list[i].is_backhaul;
        }
    unsigned tx_mw = 0;
    if (cur)
        tx_mw = static_cast<unsigned>(std::lround(std::pow(10.0, cur->tx_power / 10.0)));

    char bbuf[80];
    Value v;
    out_.add_value("radio-id", v = mac_value(radio_.radio_id, alloc))
        .add_string("iface-name", "")  // no agent reports a radio's interface name
        .add_uint("supported-freq-khz", freq_khz)
        .add_string("band-type-5g",
                    band_type_to_buf(sr ? stack_band_mask_to_band_bits(sr->band_mask) : 0, bbuf,
                                     sizeof bbuf))
        .add_uint("max-bss", caps.basic ? caps.basic->max_bss : 0)
        .add_uint("num-bss", static_cast<unsigned>(radio_.bsss.size()))
        .add_uint("current-op-class",
                  cur && !cur->op_classes.empty() ? cur->op_classes.front().op_class : 0)
        .add_uint("current-op-channel",
                  cur && !cur->op_classes.empty() ? cur->op_classes.front().channel : 0)
        .add_uint("current-bw", current_bandwidth(cur))
        .add_uint("current-tx-pwr-mw", tx_mw)
        .add_bool("combined-front-back", front && back)
        .add_null("combined-profile1-profile2");
    if (caps.basic || caps.ht || caps.vht || caps.he)
        JSONRadioCapabilityRenderer(add_object(out_, "radio-capabilities"), alloc, caps).render();
    else
        out_.add_null("radio-capabilities");
    if (caps.ht)
        JSONRadioHTCapabilityRenderer(add_object(out_, "radio-ht-capabilities"), alloc, *caps.ht)
            .render();
    else
        out_.add_null("radio-ht-capabilities");
    if (caps.vht)
        JSONRadioVHTCapabilityRenderer(add_object(out_, "radio-vht-capabilities"), alloc, *caps.vht)
            .render();
    else
        out_.add_null("radio-vht-capabilities");
    if (caps.he)
        JSONRadioHECapabilityRenderer(add_object(out_, "radio-he-capabilities"), alloc, *caps.he)
            .render();
    else
        out_.add_null("radio-he-capabilities");
    if (caps.basic) {
        const RadioChannelPreference* prefs = device_.find_channel_preference(radio_.radio_id);
        Value& list = add_array(out_, "op-class-list");
        for (const operating_class_s& oc : caps.basic->operating_classes)
            JSONMapOpClassRenderer(push_object(list, alloc), alloc, oc,
                                   stack_op_class(sr, oc.op_class), prefs)
                .render();
    } else {
        out_.add_null("op-class-list");
    }
    // The device's unassociated STA measurements in the classes of this radio.
    Value unassoc(rapidjson::kArrayType);
    for (const Link* l : device_.links) {
        if (l->kind() != Link::UNASSOCIATED || !caps.basic)
            continue;
        const auto* u = static_cast<const UnassociatedLink*>(l);
        for (const operating_class_s& oc : caps.basic->operating_classes)
            if (oc.op_class == u->op_class) {
                render_unassociated(unassoc, alloc, *u, now_ms_);
                break;
            }
    }
    if (unassoc.Empty())
        out_.add_null("unassociated-metrics");
    else
        out_.add_value("unassociated-metrics", unassoc);
    Value& bss_list = add_array(out_, "bss-list");
    const uint8_t standard = caps.basic ? caps.basic->standard : 0;
    const size_t num_bss = sr ? sr->num_bss : radio_.bsss.size();
    for (size_t i = 0; i < radio_.bsss.size(); ++i) {
        if (i >= num_bss)
            OZR_DEBUG(logger_,
                      "Detected an allegedly valid bss at position {}, beyond num_bss = {} - "
                      "continuing",
                      i, num_bss);
        OZR_DEBUG(logger_, "BSS: {}", radio_.bsss[i].bssid.to_string());
        render_bss(push_object(bss_list, alloc), radio_.bsss[i], standard);
    }
}

// ---- Device of /debug/aps -------------------------------------------------------------

void JSONAPRenderer::render() {
    auto& alloc = out_.allocator();
    const map_ale_info_t* ale = get_ale(device_.mac);
    const backhaul_information& bh = device_.backhaul;
    const int media = interface_media_type(device_, bh.local_interface);
    const APCapabilityMesg* cap = device_.ap_capability ? &*device_.ap_capability : nullptr;

    char tbuf[32];
    Value v;
    out_.add_value("al-mac", v = mac_value(device_.mac, alloc))
        .add_string("name", device_.name)
        .add_int64("keep-alive-time-ms", device_.last_seen_ms);
    if (ale)
        out_.add_bool("first-chan-sel-req-done", ale->first_chan_sel_req_done != 0)
            .add_int64("last-chan-sel-req-time-ms", ale->last_chan_sel_req_ms);
    else
        out_.add_null("first-chan-sel-req-done").add_null("last-chan-sel-req-time-ms");
    out_.add_string("manufacturer-name", ale ? ale->manufacturer : "")
        .add_value("upstream-remote-iface-mac", v = mac_value(bh.remote_interface, alloc))
        .add_value("upstream-local-iface-mac", v = mac_value(bh.local_interface, alloc));
    if (media >= 0)
        out_.add_string("upstream-iface-type",
                        intf_type_to_buf(static_cast<unsigned>(media), tbuf, sizeof tbuf));
    else
        out_.add_null("upstream-iface-type");
    out_.add_uint("radio-count", static_cast<unsigned>(device_.operational_bss.size()))
        .add_uint("supported-radio-count", cap ? static_cast<unsigned>(cap->radios.size()) : 0)
        .add_bool("bh-set", bh.is_backhaul_connected)
        .add_uint("multi-ap-profile", device_.map_profile)
        .add_uint("policy-profile", device_.policy_profile)
        .add_uint("max-total-num-vid", cap ? cap->max_vids : 0);
    {
        JSONObjectRenderer bss(add_object(out_, "backhaul-bss-config"), alloc);
        const map_bss_info_t* bh_bss = nullptr;
        if (ale)
            for (int r = 0; r < ale->num_radios && r < MAP_MAX_RADIOS_PER_AGENT && !bh_bss; ++r)
                for (int i = 0; ale->radios[r] && i < ale->radios[r]->num_bss &&
                                i < MAP_MAX_BSS_PER_RADIO && !bh_bss;
                     ++i)
                    if (ale->radios[r]->bss_list[i].is_backhaul)
                        bh_bss = &ale->radios[r]->bss_list[i];
        if (bh_bss)
            bss.add_value("bss_id", v = mac_value(bh_bss->bssid, alloc));
        else
            bss.add_null("bss_id");
        bss.add_null("proflie_1_disallowed").add_null("proflie_2_disallowed");
    }
    {
        JSONObjectRenderer pol(add_object(out_, "agent-policy"), alloc);
        Value a(rapidjson::kArrayType), b(rapidjson::kArrayType);
        if (device_.metric_reporting_interval_s >= 0)
            pol.add_uint("metric-reporting-interval-sec",
                         static_cast<unsigned>(device_.metric_reporting_interval_s));
        else
            pol.add_null("metric-reporting-interval-sec");
        pol.add_uint("local-steering-disallowed-count", 0)
            .add_uint("btm-steering-disallowed-count", 0)
            .add_value("local-steering-macs-disallowed", a)
            .add_value("btm-steering-macs-disallowed", b);
    }
    if (cap) {
        JSONObjectRenderer(add_object(out_, "agent-capability"), alloc)
            .add_bool("ib-unassociated-sta-link-metrics-supported",
                      cap->unassoc_sta_metrics_operating_channel)
            .add_bool("oob-unassociated-sta-link-metrics-supported",
                      cap->unassoc_sta_metrics_non_operating_channel)
            .add_bool("rssi-agent-steering-supported", cap->agent_initiated_rcpi_steering);
    } else {
        out_.add_null("agent-capability");
    }
    {
        Value& eth = add_array(out_, "eth-neigh-link-metrics");
        for (const Link* l : device_.links) {
            const Node* far = graph_.find_node(l->to);
            if (l->kind() == Link::WIRED && far && far->kind() == Node::DEVICE)
                JSONNeighborLinkMetricRenderer(push_object(eth, alloc), alloc, device_, *l)
                    .render();
        }
    }
    const Device* parent = nullptr;
    const Link* up = find_uplink(graph_, device_, &parent);
    if (up)
        JSONNeighborLinkMetricRenderer(add_object(out_, "upstream-link-metrics"), alloc, *parent,
                                       *up)
            .render();
    else
        out_.add_null("upstream-link-metrics");
    {
        Value& un = add_array(out_, "last-unassociated-sta-metrics-tlv");
        for (const Link* l : device_.links)
            if (l->kind() == Link::UNASSOCIATED)
                render_unassociated(un, alloc, *static_cast<const UnassociatedLink*>(l), now_ms_);
    }
    Value& radios = add_array(out_, "radios");
    const size_t num_radios =
        ale ? static_cast<size_t>(ale->num_radios) : device_.operational_bss.size();
    for (size_t i = 0; i < device_.operational_bss.size(); ++i) {
        if (i >= num_radios)
            OZR_DEBUG(logger_,
                      "Detected an allegedly valid radio at position {}, beyond num_radios = {} - "
                      "continuing",
                      i, num_radios);
        OZR_DEBUG(logger_, "Radio: {}", device_.operational_bss[i].radio_id.to_string());
        JSONRadioRenderer(push_object(radios, alloc), alloc, graph_, device_,
                          device_.operational_bss[i], now_ms_, logger_)
            .render();
    }
}

// ---- Channel scan report ----------------------------------------------------------------

void ChannelScanReportRenderer::render() {
    auto& alloc = out_.allocator();
    Value v;
    out_.add_value("al-mac", v = mac_value(device_.mac, alloc));
    Value& results = add_array(out_, "results");
    for (const auto& entry : device_.ch_scan_results) {
        const ChannelScanResultTLV& r = entry.second;
        if (band_ >= 0 && op_class_band(r.op_class) != band_)
            continue;
        if (channel_ != 0 && r.channel != channel_)
            continue;
        JSONObjectRenderer item(push_object(results, alloc), alloc);
        JSONObjectRenderer res(add_object(item, "Channel-Scan-Result"), alloc);
        res.add_value("radio-id", v = mac_value(r.radio_id, alloc))
            .add_uint("opclass", r.op_class)
            .add_uint("channel", r.channel)
            .add_uint("scan_status", r.scan_status);
        JSONObjectRenderer(add_object(res, "Channel-Scan-Timestamp"), alloc)
            .add_string("timestamp", r.timestamp);
        res.add_uint("channelutilization", r.utilization)
            .add_uint("noise", r.noise)
            .add_uint("aggregatescanduration", r.aggregate_scan_duration)
            .add_uint("scan_type", r.active_scan);
        Value& nbrs = add_array(res, "NeighbourInfo");
        for (const auto& n : r.neighbors) {
            JSONObjectRenderer no(push_object(nbrs, alloc), alloc);
            no.add_value("neighbour_bssid", v = mac_value(n.bssid, alloc))
                .add_string("ssid_list", reinterpret_cast<const char*>(n.ssid),
                            n.ssid_len < sizeof n.ssid ? n.ssid_len : sizeof n.ssid)
                .add_uint("signalstrength", n.signal_strength)
                .add_string("channel_bw_str", n.channel_bandwidth)
                .add_uint("bss_load_element_present", n.bss_load_element_present)
                .add_uint("channelutilization", n.channel_utilization)
                .add_uint("station_count", n.station_count);
        }
    }
}

// ---- Graph ----------------------------------------------------------------------------

void JSONGraphRenderer::render() {
    auto& alloc = out_.allocator();
    Value v;
    if (graph_.root)
        out_.add_value("root", v = mac_value(graph_.root->mac, alloc));
    else
        out_.add_null("root");
    if (graph_.local_agent)
        out_.add_value("local-agent", v = mac_value(graph_.local_agent->mac, alloc));
    else
        out_.add_null("local-agent");
    char cbuf[256];
    Value& nodes = add_array(out_, "nodes");
    nodes.Reserve(static_cast<rapidjson::SizeType>(graph_.nodes.size()), alloc);
    // Devices first, then stations, each in the graph's own order.
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& kv : graph_.nodes) {
            const Node* n = kv.second;
            if ((n->kind() == Node::DEVICE) != (pass == 0))
                continue;
            JSONObjectRenderer o(push_object(nodes, alloc), alloc);
            o.add_string("name", n->name)
                .add_value("mac", v = mac_value(n->mac, alloc))
                .add_string("kind", n->kind() == Node::DEVICE ? "device" : "sta")
                .add_int64("first-seen-ms", n->first_seen_ms)
                .add_int64("last-seen-ms", n->last_seen_ms)
                .add_int64("age-ms",
                           rest_time_value(now_ms_, n->last_seen_ms, RestTimeKind::MsSince));
            if (n->kind() == Node::STA) {
                const auto* s = static_cast<const Sta*>(n);
                o.add_bool("backhaul-sta", s->is_backhaul_sta)
                    .add_value("owner-device", v = mac_value(s->owner_device, alloc))
                    .add_string("bsta-medium", medium_to_string(s->bsta_medium))
                    .add_string("channels", cbuf, channels_text(s->capabilities, cbuf, sizeof cbuf))
                    .add_string("steer-category",
                                steer_category_text(s->capabilities.steer_category));
                JSONObjectRenderer bh(add_object(o, "backhaul"), alloc);
                render_backhaul(bh, s->backhaul);
                continue;
            }
            const auto* d = static_cast<const Device*>(n);
            o.add_uint("multi-ap-profile", d->map_profile)
                .add_uint("policy-profile", d->policy_profile);
            {
                JSONObjectRenderer bh(add_object(o, "backhaul"), alloc);
                render_backhaul(bh, d->backhaul);
            }
            Value& ifs = add_array(o, "interfaces");
            for (const LocalInterface& li : d->interfaces) {
                JSONObjectRenderer io(push_object(ifs, alloc), alloc);
                io.add_value("mac", v = mac_value(li.mac, alloc))
                    .add_string("media",
                                media_type_to_string(static_cast<unsigned>(li.media_type)));
                if (li.ieee80211)
                    io.add_value("bssid", v = mac_value(li.ieee80211->bssid, alloc))
                        .add_uint("role", li.ieee80211->role);
            }
            Value& links = add_array(o, "links");
            for (const Link* l : d->links) {
                JSONObjectRenderer lo(push_object(links, alloc), alloc);
                lo.add_value("to", v = mac_value(l->to, alloc))
                    .add_string("to-name", node_name(graph_, l->to))
                    .add_string("kind", link_kind_word(l->kind()))
                    .add_uint("cost", l->cost())
                    .add_string("medium", medium_to_string(l->medium))
                    .add_bool("backbone", l->is_backbone)
                    .add_value("local-interface", v = mac_value(l->local_interface, alloc))
                    .add_value("remote-interface", v = mac_value(l->remote_interface, alloc))
                    .add_int64("last-heard-ms", l->last_heard_ms)
                    .add_int64("last-metrics-ms", l->last_metrics_ms);
                if (l->kind() == Link::WIRELESS) {
                    const auto* w = static_cast<const WirelessLink*>(l);
                    lo.add_value("bssid", v = mac_value(w->bssid, alloc))
                        .add_uint("rcpi", w->rcpi)
                        .add_uint("uplink-rcpi", w->uplink_rcpi)
                        .add_uint("tx-rate", w->tx_rate)
                        .add_float("downlink-tput", w->downlink_tput)
                        .add_float("uplink-tput", w->uplink_tput);
                } else if (l->kind() == Link::UNASSOCIATED) {
                    const auto* u = static_cast<const UnassociatedLink*>(l);
                    lo.add_value("bssid", v = mac_value(u->bssid, alloc))
                        .add_uint("rcpi", u->rcpi)
                        .add_uint("uplink-rcpi", u->uplink_rcpi)
                        .add_uint("op-class", u->op_class)
                        .add_uint("channel", u->channel)
                        .add_int64("measured-ms", u->measured_ms);
                } else {
                    lo.add_bool("through-bridge",
                                static_cast<const WiredLink*>(l)->through_bridge());
                }
            }
        }
}

// ---- Topology -------------------------------------------------------------------------

void JSONTopologyApRenderer::render() {
    auto& alloc = out_.allocator();
    const map_ale_info_t* ale = get_ale(device_.mac);
    const char* role = &device_ == graph_.root          ? "controller"
                       : &device_ == graph_.local_agent ? "local-agent"
                                                        : "extender";
    Value v;
    out_.add_value("al-mac", v = mac_value(device_.mac, alloc))
        .add_string("name", device_.name)
        .add_string("role", role);
    {
        JSONObjectRenderer info(add_object(out_, "info"), alloc);
        info.add_string("manufacturer", ale ? ale->manufacturer : "")
            .add_string("model-name", ale ? ale->model_name : "")
            .add_string("model-number", ale ? ale->model_number : "")
            .add_string("serial-number", ale ? ale->serial_number : "")
            .add_string("device-name", ale ? ale->device_name : "")
            .add_uint("multi-ap-profile", device_.map_profile)
            .add_int64("last-seen-ms-ago",
                       rest_time_value(now_ms_, device_.last_seen_ms, RestTimeKind::MsSince));
        if (ale && ale->depth >= 0)
            info.add_int("tree-depth", ale->depth);
        else
            info.add_null("tree-depth");
    }
    {
        JSONObjectRenderer bh(add_object(out_, "backhaul"), alloc);
        render_backhaul(bh, device_.backhaul);
    }
    Value& links = add_array(out_, "links");
    for (const Link* l : device_.links) {
        // Adjacencies to other devices, and associations of their backhaul STAs.
        const Node* far = graph_.find_node(l->to);
        const MAC* peer = nullptr;
        if (far && far->kind() == Node::DEVICE)
            peer = &far->mac;
        else if (far && far->kind() == Node::STA && static_cast<const Sta*>(far)->is_backhaul_sta &&
                 l->kind() == Link::WIRELESS)
            peer = &static_cast<const Sta*>(far)->owner_device;
        if (!peer)
            continue;
        JSONObjectRenderer lo(push_object(links, alloc), alloc);
        lo.add_value("to", v = mac_value(*peer, alloc))
            .add_string("to-name", node_name(graph_, *peer))
            .add_string("type", l->kind() == Link::WIRED ? "wired" : "wireless")
            .add_string("medium", link_medium_to_string(link_medium_bits(l->medium)))
            .add_uint("cost", l->cost())
            .add_bool("backbone", l->is_backbone);
    }
    Value& ssids = add_array(out_, "ssids");
    for (const RadioInfo& r : device_.operational_bss)
        for (const BSSInfo& b : r.bsss) {
            const map_bss_info_t* sb = stack_bss_of(stack_radio_of(ale, r.radio_id), b.bssid);
            JSONObjectRenderer so(push_object(ssids, alloc), alloc);
            so.add_value("bssid", v = mac_value(b.bssid, alloc))
                .add_string("ssid", b.ssid)
                .add_value("radio-id", v = mac_value(r.radio_id, alloc))
                .add_string("medium", medium_to_string(device_.find_medium(b.bssid)))
                .add_bool("backhaul", sb && sb->is_backhaul);
        }
    unsigned clients = 0;
    for (const Link* l : device_.links) {
        const Node* far = l->kind() == Link::WIRELESS ? graph_.find_node(l->to) : nullptr;
        if (far && far->kind() == Node::STA && !static_cast<const Sta*>(far)->is_backhaul_sta)
            ++clients;
    }
    out_.add_uint("client-count", clients);
}
