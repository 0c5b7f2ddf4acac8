// Folding decoded CMDUs into the data model: thin glue from the codec's TLV
// records to the update functions on plain parameters.
#include <algorithm>
#include <cstring>
#include <vector>

#include "common/clock.h"
#include "map/codec/tlvs.h"
#include "map/codec/wsc.h"
#include "map/datamodel/datamodel.h"
#include "map/datamodel/opclass_table.h"
#include "map/map_log.h"

namespace {

// Walks the null-terminated TLV list (at most 65535 entries, as the codec builds it).
template <class F>
void for_each_tlv(const CMDU* cmdu, F&& f) {
    if (!cmdu->list_of_TLVs)
        return;
    for (size_t i = 0; i < 65535 && cmdu->list_of_TLVs[i]; ++i)
        f(cmdu->list_of_TLVs[i]);
}

int update_basic_caps(map_ale_info_t* ale, const ap_radio_basic_capabilities_tlv& t) {
    map_radio_info_t* radio = map_update_radio(ale, t.radio_id);
    if (!radio)
        return -1;
    std::vector<map_op_class_param_t> classes;
    classes.reserve(t.op_classes.size());
    for (const auto& oc : t.op_classes) {
        map_op_class_param_t p;
        p.op_class = oc.op_class;
        p.max_tx_power_eirp = oc.max_tx_power_eirp;
        p.num_non_operable =
            static_cast<uint8_t>(std::min<size_t>(oc.non_operable_channels.size(), 255));
        p.non_operable_channels = oc.non_operable_channels.data();
        classes.push_back(p);
    }
    return map_update_radio_basic_caps(radio, t.max_bss, classes.data(),
                                       static_cast<int>(classes.size()));
}

int update_topology_response(const CMDU* cmdu) {
    const device_information_tlv* info = nullptr;
    for_each_tlv(cmdu, [&](uint8_t* p) {
        if (auto* t = tlv_cast<device_information_tlv>(p))
            info = t;
    });
    MAC al_mac = info ? info->al_mac_address : cmdu->src_al_mac;
    map_ale_info_t* ale = map_update_ale(al_mac);
    if (!ale)
        return -1;
    map_update_ale_iface_name(ale, cmdu->interface_name);
    if (info) {
        std::vector<map_interface_info_t> ifs;
        for (const auto& li : info->local_interfaces) {
            map_interface_info_t i;
            i.mac = li.mac_address;
            i.media_type = li.media_type;
            if (li.media_specific_info_length == IEEE80211_MEDIA_INFO_LEN) {
                i.bssid = li.ieee80211.network_membership;
                i.role = li.ieee80211.role;
            }
            ifs.push_back(i);
        }
        map_update_ale_interfaces(ale, ifs.data(), static_cast<int>(ifs.size()));
    }

    std::vector<map_neighbor_info_t> nbrs;
    const ap_operational_bss_tlv* op_bss = nullptr;
    std::vector<map_sta_param_t> stas;
    bool has_clients = false;
    int rc = 0;
    for_each_tlv(cmdu, [&](uint8_t* p) {
        if (auto* t = tlv_cast<neighbor_device_list_tlv>(p)) {
            for (const auto& n : t->neighbors) {
                if (nbrs.size() >= static_cast<size_t>(MAP_MAX_NEIGHBORS_PER_AGENT))
                    break;
                map_neighbor_info_t ni;
                ni.local_interface = t->local_mac_address;
                ni.al_mac = n.al_mac_address;
                ni.bridge_flag = n.bridge_flag;
                nbrs.push_back(ni);
            }
        } else if (auto* t = tlv_cast<ap_operational_bss_tlv>(p)) {
            op_bss = t;
        } else if (auto* t = tlv_cast<associated_clients_tlv>(p)) {
            has_clients = true;
            for (const auto& b : t->bsss)
                for (const auto& c : b.clients) {
                    if (stas.size() >= static_cast<size_t>(MAP_MAX_STATIONS))
                        break;
                    map_sta_param_t s;
                    s.mac = c.mac;
                    s.bssid = b.bssid;
                    s.seconds_since_assoc = c.time_since_association;
                    stas.push_back(s);
                }
        } else if (auto* t = tlv_cast<multiap_profile_tlv>(p)) {
            map_update_ale_profile(ale, t->profile);
        }
    });
    // The 1905 neighbours it names are agents too (learnt here before they
    // answer a query of their own); a neighbour heard on several interfaces
    // counts once per interface.
    for (const map_neighbor_info_t& n : nbrs)
        if (n.al_mac != al_mac)
            map_update_ale(n.al_mac);
    map_update_ale_neighbors(ale, nbrs.data(), static_cast<int>(nbrs.size()));
    ale = get_ale(al_mac);  // still there: updates never remove the ALE they update
    if (op_bss) {
        std::vector<bool> listed(MAP_MAX_RADIOS_PER_AGENT, false);
        for (const auto& r : op_bss->radios) {
            map_radio_info_t* radio = map_update_radio(ale, r.radio_id);
            if (!radio) {
                rc = -1;
                continue;
            }
            std::vector<map_bss_param_t> bss;
            for (const auto& b : r.bsss) {
                map_bss_param_t bp;
                bp.bssid = b.bssid;
                bp.ssid_len = b.ssid_len;
                bp.ssid = b.ssid;
                bss.push_back(bp);
            }
            if (map_update_radio_bss_list(radio, bss.data(), static_cast<int>(bss.size())) != 0)
                rc = -1;
            for (int i = 0; i < ale->num_radios; ++i)
                if (ale->radios[i] == radio)
                    listed[i] = true;
        }
        // Radios the agent no longer lists run no BSS.
        for (int i = 0; i < ale->num_radios; ++i)
            if (!listed[i])
                map_update_radio_bss_list(ale->radios[i], nullptr, 0);
    }
    // Agents leave the Associated Clients TLV out when no client is associated.
    if (has_clients || op_bss) {
        if (map_update_ale_stations(ale, stas.data(), static_cast<int>(stas.size())) != 0)
            rc = -1;
    }
    return rc;
}

int update_ap_capability_report(const CMDU* cmdu) {
    map_ale_info_t* ale = map_update_ale(cmdu->src_al_mac);
    if (!ale)
        return -1;
    int rc = 0;
    // Basic capabilities first, so that HT/VHT/HE records find their radio.
    for_each_tlv(cmdu, [&](uint8_t* p) {
        if (auto* t = tlv_cast<ap_radio_basic_capabilities_tlv>(p))
            if (update_basic_caps(ale, *t) != 0)
                rc = -1;
    });
    auto flag = [&](const MAC& radio_id, uint8_t f) {
        map_radio_info_t* r = get_radio(radio_id);
        if (r && r->ale == ale)
            map_update_radio_capability_flag(r, f);
    };
    for_each_tlv(cmdu, [&](uint8_t* p) {
        if (auto* t = tlv_cast<ap_ht_capabilities_tlv>(p))
            flag(t->radio_id, MAP_RADIO_HAS_HT);
        if (auto* t = tlv_cast<ap_vht_capabilities_tlv>(p))
            flag(t->radio_id, MAP_RADIO_HAS_VHT);
        if (auto* t = tlv_cast<ap_he_capabilities_tlv>(p))
            flag(t->radio_id, MAP_RADIO_HAS_HE);
    });
    return rc;
}

int update_wsc(const CMDU* cmdu) {
    const wsc_tlv* wsc = nullptr;
    const ap_radio_basic_capabilities_tlv* caps = nullptr;
    const multiap_profile_tlv* profile = nullptr;
    for_each_tlv(cmdu, [&](uint8_t* p) {
        if (auto* t = tlv_cast<wsc_tlv>(p))
            wsc = wsc ? wsc : t;
        if (auto* t = tlv_cast<ap_radio_basic_capabilities_tlv>(p))
            caps = t;
        if (auto* t = tlv_cast<multiap_profile_tlv>(p))
            profile = t;
    });
    if (!wsc)
        return 0;
    wsc_message m;
    if (!wsc_parse_message(wsc->wsc_frame.data(), wsc->wsc_frame.size(), m)) {
        // One line per 10 s at most: an agent repeating a bad M1 must not flood the log
        // (the registrar says what is wrong with it).
        static long long last_ms = 0;
        static unsigned long long quiet = 0;
        const long long now = get_current_time_ms();
        if (last_ms != 0 && now - last_ms < 10000 && now >= last_ms) {
            ++quiet;
            return -1;
        }
        map_log(MAP_LOG_CONTROLLER, 4,
                "data model: malformed WSC message from %s (%llu more not logged in 10 s)",
                cmdu->src_al_mac.to_string().c_str(), quiet);
        last_ms = now == 0 ? 1 : now;
        quiet = 0;
        return -1;
    }
    if (m.message_type != WSC_MSG_M1)
        return 0;  // an M2 is the controller's own answer
    map_ale_info_t* ale = map_update_ale(cmdu->src_al_mac);
    if (!ale)
        return -1;
    map_update_ale_iface_name(ale, cmdu->interface_name);
    map_update_ale_m1(ale, m.manufacturer.c_str(), m.model_name.c_str(), m.model_number.c_str(),
                      m.serial_number.c_str(), m.device_name.c_str(), m.rf_bands);
    if (profile)
        map_update_ale_profile(ale, profile->profile);
    return caps ? update_basic_caps(ale, *caps) : 0;
}

int update_operating_channel_report(const CMDU* cmdu) {
    int rc = 0;
    map_ale_info_t* sender = get_ale(cmdu->src_al_mac);
    for_each_tlv(cmdu, [&](uint8_t* p) {
        auto* t = tlv_cast<operating_channel_report_tlv>(p);
        if (!t)
            return;
        map_radio_info_t* radio = get_radio(t->radio_id);
        if (!radio && sender)
            radio = map_update_radio(sender, t->radio_id);
        if (!radio || t->op_classes.empty()) {
            rc = -1;
            return;
        }
        // The primary channel is the one of the 20 MHz class when the agent lists one.
        const auto* chosen = &t->op_classes.front();
        for (const auto& oc : t->op_classes) {
            const map_dm::OpClassDef* def = map_dm::find_op_class(oc.op_class);
            if (def && def->bandwidth_mhz == 20) {
                chosen = &oc;
                break;
            }
        }
        map_update_radio_operating_channel(radio, chosen->op_class, chosen->channel,
                                           t->current_tx_power_eirp);
    });
    return rc;
}

int update_client_capability_report(const CMDU* cmdu) {
    const client_info_tlv* info = nullptr;
    const client_capability_report_tlv* report = nullptr;
    for_each_tlv(cmdu, [&](uint8_t* p) {
        if (auto* t = tlv_cast<client_info_tlv>(p))
            info = t;
        if (auto* t = tlv_cast<client_capability_report_tlv>(p))
            report = t;
    });
    if (!info || !report || report->result_code != CLIENT_CAPABILITY_SUCCESS ||
        report->frame_body.empty())
        return 0;
    int rc = map_update_sta_assoc_frame(info->client_mac, report->frame_body.data(),
                                        report->frame_body.size());
    if (rc == 0) {
        // A body that yields nothing keeps the previous capabilities.
        (void)parse_update_client_capability(info->client_mac, report->frame_body.data(),
                                             report->frame_body.size());
    }
    return rc;
}

}  // namespace

int parse_update_client_capability(const CMDU* cmdu) {
    if (cmdu == nullptr || cmdu->message_type != CMDU_TYPE_CLIENT_CAPABILITY_REPORT)
        return -1;
    const client_info_tlv* info = nullptr;
    const client_capability_report_tlv* report = nullptr;
    for_each_tlv(cmdu, [&](uint8_t* p) {
        if (auto* t = tlv_cast<client_info_tlv>(p))
            info = t;
        if (auto* t = tlv_cast<client_capability_report_tlv>(p))
            report = t;
    });
    if (!info || !report || report->result_code != CLIENT_CAPABILITY_SUCCESS ||
        report->frame_body.empty())
        return -1;
    if (map_update_sta_assoc_frame(info->client_mac, report->frame_body.data(),
                                   report->frame_body.size()) != 0)
        return -1;
    return parse_update_client_capability(info->client_mac, report->frame_body.data(),
                                          report->frame_body.size());
}

namespace {}  // namespace

int map_update_from_cmdu(const CMDU* cmdu) {
    if (!cmdu)
        return -1;
    switch (cmdu->message_type) {
        case CMDU_TYPE_TOPOLOGY_RESPONSE:
            return update_topology_response(cmdu);
        case CMDU_TYPE_AP_CAPABILITY_REPORT:
            return update_ap_capability_report(cmdu);
        case CMDU_TYPE_AP_AUTOCONFIGURATION_WSC:
            return update_wsc(cmdu);
        case CMDU_TYPE_OPERATING_CHANNEL_REPORT:
            return update_operating_channel_report(cmdu);
        case CMDU_TYPE_CLIENT_CAPABILITY_REPORT:
            return update_client_capability_report(cmdu);
        default:
            return 0;
    }
}

int get_serial_number_from_M1(const uint8_t* m1, size_t len, char* out, size_t out_len) {
    if (!m1 || !out || out_len == 0)
        return -1;
    out[0] = '\0';
    std::vector<wsc_attribute> attrs;
    if (!wsc_parse_attributes(m1, len, attrs))
        return -1;
    for (const auto& a : attrs) {
        if (a.type != WSC_ATTR_SERIAL_NUMBER)
            continue;
        size_t n = std::min(a.value.size(), out_len - 1);
        if (n)
            std::memcpy(out, a.value.data(), n);
        out[n] = '\0';
        return 0;
    }
    return -1;
}
