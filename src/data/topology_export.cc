#include "data/topology_export.h"

#include <fmt/format.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>
#include <cstring>

#include "core/log.h"
#include "data/ap_config_db.h"
#include "graph/graph.h"
#include "hkt/hkt_node.h"
#include "messages/bus_records.h"

uint16_t topo_u16(const unsigned char* p, size_t at) {
    return static_cast<uint16_t>(p[at] | (p[at + 1] << 8));
}

uint32_t topo_u32(const unsigned char* p, size_t at) {
    return static_cast<uint32_t>(p[at]) | (static_cast<uint32_t>(p[at + 1]) << 8) |
           (static_cast<uint32_t>(p[at + 2]) << 16) | (static_cast<uint32_t>(p[at + 3]) << 24);
}

std::string topo_text(const unsigned char* p, size_t at, size_t width) {
    const char* f = reinterpret_cast<const char*>(p + at);
    const void* nul = std::memchr(f, '\0', width);
    return std::string(f, nul ? static_cast<size_t>(static_cast<const char*>(nul) - f) : width);
}

// ---- TopoBlock ------------------------------------------------------------------------------

TopoBlock::~TopoBlock() {
    std::free(data_);
}

bool TopoBlock::append(size_t n, size_t& at) {
    if (n > limit_ || size_ > limit_ - n)
        return false;
    size_t need = size_ + n;
    if (need > capacity_) {
        size_t cap = capacity_ ? capacity_ : 1024;
        while (cap < need)
            cap *= 2;
        if (cap > limit_)
            cap = limit_;
        void* grown = std::realloc(data_, cap);
        if (!grown)
            return false;
        data_ = static_cast<unsigned char*>(grown);
        capacity_ = cap;
    }
    at = size_;
    std::memset(data_ + at, 0, n);
    size_ = need;
    return true;
}

unsigned char* TopoBlock::release() {
    unsigned char* out = data_;
    if (out && size_ < capacity_) {
        void* trimmed = std::realloc(out, size_);
        if (trimmed)
            out = static_cast<unsigned char*>(trimmed);
    }
    data_ = nullptr;
    size_ = capacity_ = 0;
    return out;
}

void TopoBlock::put_u16(size_t at, uint16_t v) {
    data_[at] = static_cast<unsigned char>(v);
    data_[at + 1] = static_cast<unsigned char>(v >> 8);
}

void TopoBlock::put_u32(size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        data_[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

void TopoBlock::put_text(size_t at, size_t width, const std::string& text) {
    size_t n = text.size() < width - 1 ? text.size() : width - 1;
    std::memcpy(data_ + at, text.data(), n);
    std::memset(data_ + at + n, 0, width - n);
}

// ---- the levels -----------------------------------------------------------------------------

namespace {

uint32_t ap_state_number(const std::string& status) {
    ApStatus s = ApConfigDb::string_to_status(status);
    return s == ApStatus::INVALID_STATUS ? 0 : static_cast<uint32_t>(s);
}

std::string band_text(const Device& d, const MAC& radio_id, uint8_t channel, uint8_t op_class) {
    if (d.ap_capability)
        for (const BasicRadioCapabilitiesTLV& r : d.ap_capability->radios)
            if (r.radio_id == radio_id)
                return r.band == 0 ? "2.4G" : r.band == 1 ? "5G" : "6G";
    if (op_class >= 131 && op_class <= 137)
        return "6G";
    if (channel == 0)
        return "";
    return channel <= 14 ? "2.4G" : "5G";
}

// The stations associated to BSSID on D, in link order.
std::vector<const WirelessLink*> stations_of(const Device& d, const BSSID& bssid) {
    std::vector<const WirelessLink*> out;
    for (const Link* l : d.links)
        if (l->kind() == Link::WIRELESS && static_cast<const WirelessLink*>(l)->bssid == bssid)
            out.push_back(static_cast<const WirelessLink*>(l));
    return out;
}

// The wired clients of D: wired links whose far node is a station.
std::vector<const WiredLink*> eth_clients_of(const Device& d, const Graph& g) {
    std::vector<const WiredLink*> out;
    for (const Link* l : d.links) {
        if (l->kind() != Link::WIRED)
            continue;
        const Node* far = g.find_node(l->to);
        if (far && far->kind() == Node::STA)
            out.push_back(static_cast<const WiredLink*>(l));
    }
    return out;
}

uint32_t kbps(float mbps) {
    if (!(mbps > 0.0f))
        return 0;
    double v = static_cast<double>(mbps) * 1000.0;
    return v >= 4294967295.0 ? 0xffffffffu : static_cast<uint32_t>(v);
}

}  // namespace

int fill_ap_info_in_topology(TopoBlock& blk, size_t ap_at, const TopoApView& ap,
                             const TopoSource& src) {
    using namespace topo;
    const ApInfo& i = ap.info;
    blk.put_text(ap_at + kApSystemMac, 33, i.system_mac.to_string());
    blk.put_text(ap_at + kApSn, 33, i.sn);
    if (i.online && ap.hkt) {
        blk.put_text(ap_at + kApModel, 32, ap.hkt->model_number);
        blk.put_text(ap_at + kApProductClass, 8, ap.hkt->product_class);
        blk.put_text(ap_at + kApVendor, 64, ap.hkt->vendor);
        blk.put_text(ap_at + kApSwVersion, 65, ap.hkt->sw_version);
        blk.put_u32(ap_at + kApUptime, ap.hkt->uptime);
    } else {
        OZR_ERROR(src.log, "DataMinder::{}() - FATAL ERROR - No HKT for sn: {}", __func__, i.sn);
    }
    blk.put_text(ap_at + kApIpv4, 16, i.ipv4);
    blk.put_text(ap_at + kApAlMac, 64, i.ale_mac.to_string());
    blk.put_text(ap_at + kApHostname, 65, i.hostname);
    blk.put_u8(ap_at + kApOnline, i.online ? 1 : 0);
    blk.put_u32(ap_at + kApCostToGw, i.cost_to_gw);
    blk.put_u32(ap_at + kApQuality, static_cast<uint32_t>(i.backhaul_quality_value));
    blk.put_u32(ap_at + kApSecondsSinceUpdate,
                static_cast<uint32_t>(i.seconds_since_last_update(src.now_ms)));
    blk.put_u32(ap_at + kApState, ap_state_number(i.status));
    blk.put_text(ap_at + kApStateText, 16, i.status);
    blk.put_text(ap_at + kApBackhaulMac, 33, i.backhaul_mac.to_string());
    blk.put_u8(ap_at + kApBackhaulConnected, i.is_backhaul_connected ? 1 : 0);
    blk.put_u8(ap_at + kApGateway, i.is_gateway ? 1 : 0);
    blk.put_text(ap_at + kApBackhaulIpv4, 16, i.backhaul_ipv4);
    uint32_t rssi = 255, cost_to_parent = kUnreachableCost;
    if (ap.device) {
        const backhaul_information& b = ap.device->backhaul;
        rssi = b.uplink_rssi;
        cost_to_parent = b.cost_to_parent;
        if (b.is_backhaul_connected) {
            blk.put_text(ap_at + kApBackhaulMedium, 8, medium_short_word(b.medium));
            blk.put_text(ap_at + kApBackhaulKind, 8,
                         b.medium == Medium::ETHERNET ? "wired" : "wireless");
        }
    }
    blk.put_u32(ap_at + kApUplinkRssi, rssi);
    blk.put_u32(ap_at + kApCostToParent, cost_to_parent);
    return 0;
}

int fill_ap_radio_info_in_topology(TopoBlock& blk, size_t ap_at, const TopoApView& ap,
                                   const TopoSource& src) {
    using namespace topo;
    size_t n = ap.device ? ap.device->operational_bss.size() : 0;
    if (n > kMaxRadios) {
        OZR_ERROR(src.log, "DataMinder::{}() - {} radios in AP MAC: {}, {} exported", __func__, n,
                  ap.info.ale_mac.to_string(), kMaxRadios);
        n = kMaxRadios;
    }
    OZR_DEBUG(src.log, "DataMinder::{}() - Num Radios: {} in AP MAC: {} topo {} size {}", __func__,
              n, ap.info.ale_mac.to_string(), static_cast<const void*>(blk.data()), blk.size());
    blk.put_u8(ap_at + kZkaTopoApRadioCountAt, static_cast<uint8_t>(n));
    if (n == 0) {
        OZR_DEBUG(src.log, "DataMinder::{}() - Num radios is zero, returning", __func__);
        return 0;
    }
    const Device& d = *ap.device;
    for (size_t r = 0; r < n; ++r) {
        size_t at = 0;
        if (!blk.append(kZkaTopoRadioLen, at))
            return -1;
        const MAC& id = d.operational_bss[r].radio_id;
        uint8_t channel = d.radio_primary_channel(id) ? *d.radio_primary_channel(id) : 0;
        uint8_t op_class = d.radio_primary_op_class(id) ? *d.radio_primary_op_class(id) : 0;
        blk.put_text(at + kRadioId, 18, id.to_string());
        blk.put_text(at + kRadioBand, 8, band_text(d, id, channel, op_class));
        blk.put_u8(at + kRadioChannel, channel);
        blk.put_u8(at + kRadioOpClass, op_class);
        if (const OperatingChannelReportTLV* oc = d.find_operating_channel(id))
            blk.put_u8(at + kRadioTxPower, oc->tx_power);
        if (d.ap_capability)
            for (const BasicRadioCapabilitiesTLV& rc : d.ap_capability->radios)
                if (rc.radio_id == id)
                    blk.put_u8(at + kRadioMaxBss, rc.max_bss);
        if (fill_ap_ssid_info_in_topology(blk, at, ap, r, src) != 0) {
            OZR_ERROR(src.log, "DataMinder::{}()-fill_ap_ssid_info_in_topology retruned error",
                      __func__);
            return -1;
        }
    }
    return 0;
}

int fill_ap_ssid_info_in_topology(TopoBlock& blk, size_t radio_at, const TopoApView& ap,
                                  size_t radio_index, const TopoSource& src) {
    using namespace topo;
    const RadioInfo& radio = ap.device->operational_bss[radio_index];
    size_t n = radio.bsss.size() > kMaxSsids ? kMaxSsids : radio.bsss.size();
    OZR_DEBUG(src.log, "DataMinder::{}() - Num SSIDs: {} in AP MAC: {} in radio {} topo {}",
              __func__, n, ap.info.ale_mac.to_string(), radio.radio_id.to_string(),
              static_cast<const void*>(blk.data()));
    blk.put_u8(radio_at + kZkaTopoRadioSsidCountAt, static_cast<uint8_t>(n));
    for (size_t s = 0; s < n; ++s) {
        const BSSInfo& bss = radio.bsss[s];
        size_t at = 0;
        if (!blk.append(kZkaTopoSsidLen, at))
            return -1;
        blk.put_text(at + kSsidName, 33, bss.ssid);
        blk.put_text(at + kSsidBssid, 18, bss.bssid.to_string());
        if (const HKTVapInfo* v = ap.device->find_vap_info(bss.bssid)) {
            blk.put_u16(at + kSsidAuth, v->authentication_mode);
            blk.put_u16(at + kSsidEnc, v->encryption_mode);
            blk.put_u8(at + kSsidType, v->bss_type);
        }
        if (fill_ssid_sta_info_in_topology(blk, at, ap, bss.bssid, src) != 0) {
            OZR_ERROR(src.log, "DataMinder::{}()-fill_ssid_sta_info_in_topology retruned error",
                      __func__);
            return -1;
        }
    }
    return 0;
}

int fill_ssid_sta_info_in_topology(TopoBlock& blk, size_t ssid_at, const TopoApView& ap,
                                   const BSSID& bssid, const TopoSource& src) {
    using namespace topo;
    std::vector<const WirelessLink*> stas = stations_of(*ap.device, bssid);
    size_t n = stas.size() > kMaxStas ? kMaxStas : stas.size();
    OZR_DEBUG(src.log, "DataMinder::{}() - Num Wifi clients: {} in AP MAC: {} in BSSID: {}",
              __func__, n, ap.info.ale_mac.to_string(), bssid.to_string());
    blk.put_u16(ssid_at + kZkaTopoSsidStaCountAt, static_cast<uint16_t>(n));
    if (n == 0) {
        OZR_DEBUG(src.log, "DataMinder::{}() - Num Wifi clients is zero, returning", __func__);
        return 0;
    }
    for (size_t k = 0; k < n; ++k) {
        const WirelessLink* l = stas[k];
        size_t at = 0;
        if (!blk.append(kZkaTopoStaLen, at))
            return -1;
        const Node* far = src.graph ? src.graph->find_node(l->to) : nullptr;
        blk.put_text(at + kStaMac, 18, l->to.to_string());
        blk.put_text(at + kStaBssid, 18, l->bssid.to_string());
        blk.put_u8(at + kStaRcpi, l->rcpi);
        blk.put_u8(at + kStaUplinkRcpi, l->uplink_rcpi);
        bool bsta =
            far && far->kind() == Node::STA && static_cast<const Sta*>(far)->is_backhaul_sta;
        blk.put_u8(at + kStaBackhaul, bsta ? 1 : 0);
        blk.put_u32(at + kStaTxRate, l->tx_rate);
        int64_t age = src.now_ms - l->first_heard_ms;
        blk.put_u32(at + kStaSeconds, age > 0 ? static_cast<uint32_t>(age / 1000) : 0);
        blk.put_u32(at + kStaDownlink, kbps(l->downlink_tput));
        blk.put_u32(at + kStaUplink, kbps(l->uplink_tput));
        if (far)
            blk.put_text(at + kStaName, 64, far->name);
    }
    return 0;
}

int fill_ap_eth_client_info_in_topology(TopoBlock& blk, size_t ap_at, const TopoApView& ap,
                                        const TopoSource& src) {
    using namespace topo;
    std::vector<const WiredLink*> clients;
    if (ap.device && src.graph)
        clients = eth_clients_of(*ap.device, *src.graph);
    size_t n = clients.size() > kMaxEth ? kMaxEth : clients.size();
    OZR_DEBUG(src.log, "DataMinder::{}() - Num Eth clients: {} in AP MAC: {} topo_size {}",
              __func__, n, ap.info.ale_mac.to_string(), blk.size());
    blk.put_u16(ap_at + kZkaTopoApEthCountAt, static_cast<uint16_t>(n));
    if (n == 0) {
        OZR_DEBUG(src.log, "DataMinder::{}() - Num Eth clients is zero, returning", __func__);
        return 0;
    }
    for (size_t k = 0; k < n; ++k) {
        const WiredLink* l = clients[k];
        size_t at = 0;
        if (!blk.append(kZkaTopoEthLen, at))
            return -1;
        blk.put_text(at + kEthMac, 18, l->to.to_string());
        const PortEntry* port = ap.device->find_port(l->local_interface);
        blk.put_u16(at + kEthPort, port ? port->port : 0);
        blk.put_text(at + kEthInterface, 18, l->local_interface.to_string());
    }
    return 0;
}

int build_mesh_topology(const std::vector<TopoApView>& aps, const TopoSource& src,
                        unsigned char** out, size_t* size, size_t limit) {
    using namespace topo;
    if (out)
        *out = nullptr;
    if (size)
        *size = 0;
    if (!out)
        return -1;
    TopoBlock blk(limit);
    size_t hdr = 0;
    if (!blk.append(kZkaTopoHeaderLen, hdr)) {
        OZR_ERROR(src.log, "DataMinder::{}()- mem allocation failed for ZkaEmNetwork_T",
                  "get_mesh_network_topology");
        return -1;
    }
    if (src.graph && src.graph->root)
        blk.put_text(kHdrController, 18, src.graph->root->mac.to_string());
    size_t count = aps.size();
    if (count > kMaxAps) {
        OZR_ERROR(src.log, "DataMinder::{}() - {} APs, only the first {} are exported",
                  "get_mesh_network_topology", count, kMaxAps);
        count = kMaxAps;
    }
    for (size_t k = 0; k < count; ++k) {
        const TopoApView& ap = aps[k];
        OZR_DEBUG(src.log, "DataMinder::{}() - Get info for AP MAC: {}",
                  "get_mesh_network_topology", ap.info.ale_mac.to_string());
        size_t ap_at = 0;
        if (!blk.append(kZkaTopoApLen, ap_at)) {
            OZR_ERROR(src.log, "DataMinder::{}() - Memory allocaton fails for size {}",
                      "get_mesh_network_topology", blk.size() + kZkaTopoApLen);
            return -1;
        }
        fill_ap_info_in_topology(blk, ap_at, ap, src);
        OZR_DEBUG(src.log,
                  "DataMinder::{}()- Topology size is {} after adding Ap MAC: {} infoat addr {}",
                  "get_mesh_network_topology", blk.size(), ap.info.ale_mac.to_string(),
                  static_cast<const void*>(blk.data()));
        if (fill_ap_radio_info_in_topology(blk, ap_at, ap, src) != 0) {
            OZR_ERROR(src.log, "DataMinder::{}()-fill_ap_radio_info_in_topology retruned error ",
                      "get_mesh_network_topology");
            return -1;
        }
        OZR_DEBUG(src.log,
                  "DataMinder::{}()- Topology size is {} after adding Ap MAC: {} radio info",
                  "get_mesh_network_topology", blk.size(), ap.info.ale_mac.to_string());
        if (fill_ap_eth_client_info_in_topology(blk, ap_at, ap, src) != 0) {
            OZR_ERROR(src.log,
                      "DataMinder::{}()-fill_ap_eth_client_info_in_topology retruned error ",
                      "get_mesh_network_topology");
            return -1;
        }
        OZR_DEBUG(src.log, "DataMinder::{}()- Topology size is {} after adding Ap MAC: {} eth info",
                  "get_mesh_network_topology", blk.size(), ap.info.ale_mac.to_string());
        blk.put_u8(kZkaTopoApCountAt, static_cast<uint8_t>(k + 1));
    }
    blk.put_u32(kHdrSize, static_cast<uint32_t>(blk.size()));
    size_t walked = get_topo_msg_size(reinterpret_cast<const ZkaEmNetwork_T*>(blk.data()));
    if (walked != blk.size()) {
        OZR_ERROR(src.log, "DataMinder::{}() - block of {} bytes walks as {}",
                  "get_mesh_network_topology", blk.size(), walked);
        return -1;
    }
    if (size)
        *size = blk.size();
    *out = blk.release();
    return 0;
}

// ---- the dump and the text variant -------------------------------------------------------

namespace {

// Hexadecimal bytes, 16 to a line.
void hex_dump(const unsigned char* p, size_t at, size_t n, std::string& out) {
    for (size_t i = 0; i < n; ++i) {
        out += fmt::format("{:02x}", p[at + i]);
        out += ((i % 16) == 15 || i + 1 == n) ? '\n' : ' ';
    }
}

}  // namespace

int mesh_toplogy_renderer(const unsigned char* p, size_t size, std::string& out) {
    if (!p || size < kZkaTopoHeaderLen)
        return -1;
    size_t at = 0;
    auto fits = [&](size_t n) { return n <= size && at <= size - n; };
    int num_ap = p[kZkaTopoApCountAt];
    out += fmt::format("ap={}:\n", num_ap);
    hex_dump(p, 0, kZkaTopoHeaderLen, out);
    at = kZkaTopoHeaderLen;
    for (int a = 0; a < num_ap; ++a) {
        if (!fits(kZkaTopoApLen))
            return -1;
        size_t ap_at = at;
        int num_radio = p[ap_at + kZkaTopoApRadioCountAt];
        int num_eth = topo_u16(p, ap_at + kZkaTopoApEthCountAt);
        out += fmt::format("ap[{}] rd [{}] eth [{}]:\n", a, num_radio, num_eth);
        hex_dump(p, ap_at, kZkaTopoApLen, out);
        at += kZkaTopoApLen;
        for (int r = 0; r < num_radio; ++r) {
            if (!fits(kZkaTopoRadioLen))
                return -1;
            int num_ssid = p[at + kZkaTopoRadioSsidCountAt];
            out += fmt::format("rd [{}] sd [{}]:\n", r, num_ssid);
            hex_dump(p, at, kZkaTopoRadioLen, out);
            at += kZkaTopoRadioLen;
            for (int s = 0; s < num_ssid; ++s) {
                if (!fits(kZkaTopoSsidLen))
                    return -1;
                int num_sta = topo_u16(p, at + kZkaTopoSsidStaCountAt);
                size_t len = kZkaTopoSsidLen + kZkaTopoStaLen * static_cast<size_t>(num_sta);
                if (!fits(len))
                    return -1;
                out += fmt::format(" sd [{}] ass [{}]:\n", s, num_sta);
                hex_dump(p, at, len, out);
                at += len;
            }
        }
        size_t eth = kZkaTopoEthLen * static_cast<size_t>(num_eth);
        if (!fits(eth))
            return -1;
        hex_dump(p, at, eth, out);
        at += eth;
    }
    out += fmt::format("size {}\n", at);
    return 0;
}

std::string mesh_topology_info_text(const std::vector<TopoApView>& aps, const TopoSource& src) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    auto str = [&](const std::string& s) { w.String(s.c_str(), static_cast<unsigned>(s.size())); };
    w.StartObject();
    w.Key("controller");
    str(src.graph && src.graph->root ? src.graph->root->mac.to_string() : MAC().to_string());
    w.Key("aps");
    w.StartArray();
    size_t count = aps.size() > topo::kMaxAps ? topo::kMaxAps : aps.size();
    for (size_t k = 0; k < count; ++k) {
        const TopoApView& ap = aps[k];
        const ApInfo& i = ap.info;
        w.StartObject();
        w.Key("sn");
        str(i.sn);
        w.Key("al-mac");
        str(i.ale_mac.to_string());
        w.Key("hostname");
        str(i.hostname);
        w.Key("ip");
        str(i.ipv4);
        w.Key("online");
        w.Bool(i.online);
        w.Key("gateway");
        w.Bool(i.is_gateway);
        w.Key("status");
        str(i.status);
        w.Key("parent");
        str(i.backhaul_ale_mac.to_string());
        w.Key("cost-to-gw");
        w.Uint(i.cost_to_gw);
        size_t radios = 0, ssids = 0, stations = 0, eth = 0;
        if (ap.device) {
            radios = ap.device->operational_bss.size();
            for (const RadioInfo& r : ap.device->operational_bss) {
                ssids += r.bsss.size();
                for (const BSSInfo& b : r.bsss)
                    stations += stations_of(*ap.device, b.bssid).size();
            }
            if (src.graph)
                eth = eth_clients_of(*ap.device, *src.graph).size();
        }
        w.Key("radios");
        w.Uint64(radios);
        w.Key("ssids");
        w.Uint64(ssids);
        w.Key("stations");
        w.Uint64(stations);
        w.Key("eth-clients");
        w.Uint64(eth);
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    return std::string(sb.GetString(), sb.GetSize());
}
