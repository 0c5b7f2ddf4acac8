// Topology Discovery, Topology Response and Topology Notification.
#include "core/log.h"
#include "messages/decoders.h"
#include "messages/tlv_walk.h"

namespace {

unsigned num(uint8_t v) {
    return v;
}

LocalInterface to_local_interface(const device_information_tlv::local_interface& in) {
    LocalInterface out;
    out.mac = in.mac_address;
    out.media_type = in.media_type;
    // The length decides which media-specific information is there; any other
    // length leaves both empty.
    if (in.media_specific_info_length == IEEE80211_MEDIA_INFO_LEN) {
        Ieee80211Info info;
        info.bssid = in.ieee80211.network_membership;
        info.role = in.ieee80211.role;
        info.ap_channel_band = in.ieee80211.ap_channel_band;
        info.center_freq_index_1 = in.ieee80211.ap_channel_center_freq_index_1;
        info.center_freq_index_2 = in.ieee80211.ap_channel_center_freq_index_2;
        out.ieee80211 = info;
    } else if (in.media_specific_info_length == IEEE1901_MEDIA_INFO_LEN) {
        Ieee1901Info info;
        for (size_t i = 0; i < sizeof info.network_id; ++i)
            info.network_id[i] = in.ieee1901.network_identifier[i];
        out.ieee1901 = info;
    }
    return out;
}

// Lists inside a TLV are walked with the TLV's own 8-bit count, never past the
// entries actually held.
template <class V>
size_t bounded(uint8_t count, const V& v) {
    return count < v.size() ? count : v.size();
}

void convert(const device_information_tlv& t, TopologyResponseMesg& m) {
    m.al_mac = t.al_mac_address;
    m.local_interfaces.clear();
    const size_t n = bounded(t.num_local_interfaces, t.local_interfaces);
    m.local_interfaces.reserve(n);
    for (size_t i = 0; i < n; ++i)
        m.local_interfaces.push_back(to_local_interface(t.local_interfaces[i]));
}

void convert(const non_1905_neighbor_device_list_tlv& t, TopologyResponseMesg& m) {
    Non1905NeighborDeviceListTLV out;
    out.local_mac = t.local_mac_address;
    out.neighbors.reserve(t.neighbors.size());
    for (const MAC& mac : t.neighbors)
        out.neighbors.push_back({mac});
    m.non_1905_neighbors.push_back(std::move(out));
}

void convert(const neighbor_device_list_tlv& t, TopologyResponseMesg& m) {
    NeighborDeviceListTLV out;
    out.local_mac = t.local_mac_address;
    out.neighbors.reserve(t.neighbors.size());
    for (const auto& n : t.neighbors)
        out.neighbors.push_back({n.al_mac_address, n.bridge_flag == 1});
    m.neighbors.push_back(std::move(out));
}

void convert(const ap_operational_bss_tlv& t, TopologyResponseMesg& m) {
    m.radios.clear();
    const size_t nr = bounded(t.num_radios, t.radios);
    m.radios.reserve(nr);
    for (size_t r = 0; r < nr; ++r) {
        const auto& in = t.radios[r];
        RadioInfo radio;
        radio.radio_id = in.radio_id;
        const size_t nb = bounded(in.num_bss, in.bsss);
        radio.bsss.reserve(nb);
        for (size_t b = 0; b < nb; ++b) {
            const auto& bss = in.bsss[b];
            const size_t len = bss.ssid_len < MAX_SSID_LEN ? bss.ssid_len : MAX_SSID_LEN;
            radio.bsss.push_back(
                {bss.bssid, std::string(reinterpret_cast<const char*>(bss.ssid), len)});
        }
        m.radios.push_back(std::move(radio));
    }
}

void convert(const associated_clients_tlv& t, TopologyResponseMesg& m) {
    m.associated_clients.clear();
    const size_t nb = bounded(t.num_bss, t.bsss);
    m.associated_clients.reserve(nb);
    for (size_t b = 0; b < nb; ++b) {
        const auto& in = t.bsss[b];
        BSS_Info bss;
        bss.bssid = in.bssid;
        // The client count is 16-bit on the wire.
        const size_t nc = in.num_clients < in.clients.size() ? in.num_clients : in.clients.size();
        bss.stas.reserve(nc);
        for (size_t c = 0; c < nc; ++c)
            bss.stas.push_back({in.clients[c].mac, in.clients[c].time_since_association});
        m.associated_clients.push_back(std::move(bss));
    }
    m.has_associated_clients = true;
}

// The AL MAC of Discovery and Notification; a single address counts as seen once it is no
// longer zero.
template <class M>
void take_al_mac(M& m, const TlvWalk& w) {
    if (!m.al_mac.is_zero())
        OZR_LOG_AS(root_logger, 4, w.decoder(), "{} received multiple TLV_TYPE_AL_MAC_ADDRESS_TYPE",
                   w.decoder());
    m.al_mac = w.as<al_mac_address_tlv>().al_mac_address;
}

const TlvRule<DiscoveryMesg> kDiscoveryRules[] = {
    {TLV_TYPE_AL_MAC_ADDRESS_TYPE, take_al_mac<DiscoveryMesg>},
    {TLV_TYPE_MAC_ADDRESS_TYPE,
     [](DiscoveryMesg& m, const TlvWalk& w) {
         if (!m.mac.is_zero())
             OZR_LOG_AS(root_logger, 4, w.decoder(),
                        "{} received multiple TLV_TYPE_MAC_ADDRESS_TYPE", w.decoder());
         m.mac = w.as<mac_address_tlv>().mac_address;
     }},
    {TLV_TYPE_VENDOR_SPECIFIC, nullptr},
};

// The Vendor Specific TLV is unexpected here.
const TlvRule<TopologyNotificationMesg> kNotificationRules[] = {
    {TLV_TYPE_AL_MAC_ADDRESS_TYPE, take_al_mac<TopologyNotificationMesg>},
    {TLV_TYPE_CLIENT_ASSOCIATION_EVENT,
     [](TopologyNotificationMesg& m, const TlvWalk& w) {
         const auto& t = w.as<client_association_event_tlv>();
         m.client_mac = t.client_mac;
         m.bssid = t.bssid;
         m.association_event = t.association_event;
         m.has_client_association_event = true;
     }},
};

struct Topology {
    TopologyResponseMesg m;
    bool device_info = false;
    bool operational_bss = false;
};

const TlvRule<Topology> kTopologyRules[] = {
    {TLV_TYPE_DEVICE_INFORMATION_TYPE,
     [](Topology& s, const TlvWalk& w) {
         if (s.device_info)
             OZR_LOG_AS(root_logger, 4, w.decoder(),
                        "{} received TLV_TYPE_DEVICE_INFORMATION_TYPE multiple times", w.decoder());
         convert(w.as<device_information_tlv>(), s.m);
         s.device_info = true;
     }},
    {TLV_TYPE_NON_1905_NEIGHBOR_DEVICE_LIST,
     [](Topology& s, const TlvWalk& w) {
         convert(w.as<non_1905_neighbor_device_list_tlv>(), s.m);
     }},
    {TLV_TYPE_NEIGHBOR_DEVICE_LIST,
     [](Topology& s, const TlvWalk& w) { convert(w.as<neighbor_device_list_tlv>(), s.m); }},
    {TLV_TYPE_AP_OPERATIONAL_BSS,
     [](Topology& s, const TlvWalk& w) {
         if (s.operational_bss)
             OZR_LOG_AS(root_logger, 4, w.decoder(),
                        "{} received TLV_TYPE_AP_OPERATIONAL_BSS multiple times", w.decoder());
         convert(w.as<ap_operational_bss_tlv>(), s.m);
         s.operational_bss = true;
     }},
    {TLV_TYPE_ASSOCIATED_STA_TLV,
     [](Topology& s, const TlvWalk& w) {
         if (s.m.has_associated_clients)
             OZR_LOG_AS(root_logger, 4, w.decoder(),
                        "{} received TLV_TYPE_ASSOCIATED_STA_TLV multiple times", w.decoder());
         convert(w.as<associated_clients_tlv>(), s.m);
     }},
    {TLV_TYPE_MULTIAP_PROFILE,
     [](Topology& s, const TlvWalk& w) {
         s.m.multiap_profile = w.as<multiap_profile_tlv>().profile;
         OZR_LOG_AS(root_logger, 6, w.decoder(), "{} received TLV_TYPE_MULTIAP_PROFILE {}",
                    w.decoder(), num(s.m.multiap_profile));
     }},
    {TLV_TYPE_DEVICE_BRIDGING_CAPABILITIES, nullptr},
    {TLV_TYPE_VENDOR_SPECIFIC, nullptr},
    {TLV_TYPE_SUPPORTED_SERVICE, nullptr},
};

}  // namespace

optional<DiscoveryMesg> parse_discovery(CMDU* cmdu) {
    DiscoveryMesg m;
    walk_tlvs(cmdu, __func__, Unexpected::kPlain, kDiscoveryRules, m);
    bool ok = true;
    if (m.al_mac.is_zero()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_AL_MAC_ADDRESS_TYPE is missing", __func__);
        ok = false;
    }
    if (m.mac.is_zero()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_MAC_ADDRESS_TYPE is missing", __func__);
        ok = false;
    }
    if (!ok)
        return {};
    return m;
}

optional<TopologyNotificationMesg> parse_topology_notification(CMDU* cmdu) {
    TopologyNotificationMesg m;
    walk_tlvs(cmdu, __func__, Unexpected::kPlain, kNotificationRules, m);
    if (m.al_mac.is_zero()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_AL_MAC_ADDRESS_TYPE is missing", __func__);
        return {};
    }
    return m;
}

optional<TopologyResponseMesg> parse_topology(CMDU* cmdu) {
    Topology s;
    walk_tlvs(cmdu, __func__, Unexpected::kPlain, kTopologyRules, s);
    // The Device Information TLV is what makes the response usable (an agent
    // without fronthaul BSSs sends no AP Operational BSS TLV); one naming the
    // all-zero AL MAC counts as missing.
    if (!s.device_info || s.m.al_mac.is_zero()) {
        OZR_WARN(root_logger, "{} TLV_TYPE_DEVICE_INFORMATION_TYPE is missing", __func__);
        if (!s.operational_bss)
            OZR_WARN(root_logger, "{} TLV_TYPE_AP_OPERATIONAL_BSS is missing", __func__);
        return {};
    }
    return std::move(s.m);
}
