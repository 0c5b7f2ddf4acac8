// The vendor agent minder's CMDU hooks (0x0007, 0x0009, 0x0004) and the handlers of the
// vendor TLVs it owns (discovery response, IP change, heartbeat, EX notification, the IP
// and serial number queries).
#include <algorithm>
#include <cstring>

#include "core/context.h"
#include "core/log.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/codec/tlv_types.h"
#include "map/codec/wsc.h"
#include "map/map_send.h"
#include "nal/nal.h"

namespace {
std::string mac_colon(const MAC& m) {
    return fmt::format("{:02x}:{:02x}:{:02x}:{:02x}:{:02x}:{:02x}", m[0], m[1], m[2], m[3], m[4],
                       m[5]);
}

template <class T>
const T* first_tlv(const CMDU* c) {
    if (!c || !c->list_of_TLVs)
        return nullptr;
    for (size_t i = 0; c->list_of_TLVs[i]; ++i)
        if (*c->list_of_TLVs[i] == tlv_record_type<T>::value)
            return tlv_cast<T>(c->list_of_TLVs[i]);
    return nullptr;
}
}  // namespace

// ---- CMDU hooks -------------------------------------------------------------------------

void HktMgmtMinder::on_ac_search(CMDU* cmdu) {
    OZR_DEBUG(&logger_, "{} called", __func__);
    const al_mac_address_tlv* al = first_tlv<al_mac_address_tlv>(cmdu);
    const MAC agent = al ? al->al_mac_address : cmdu->src_al_mac;
    const HktNode* n = find_hkt_from_agent(agent);
    if (n && !n->hkt_mac.is_zero())
        return;
    // An agent whose vendor agent is not known yet is looking for a controller: ask for
    // vendor agents now rather than at the next poll (at most one burst every 5 s).
    if (burst_left_ > 0 || (last_burst_ms_ != 0 && now() - last_burst_ms_ < 5000))
        return;
    OZR_DEBUG(&logger_, "{} - search from {} with no known HKT: discovery burst", __func__,
              agent.to_string());
    on_discovery_poll();
}

void HktMgmtMinder::on_ac_wsc(CMDU* cmdu) {
    const wsc_tlv* w = first_tlv<wsc_tlv>(cmdu);
    wsc_message m;
    if (!w || !wsc_parse_message(w->wsc_frame.data(), w->wsc_frame.size(), m) ||
        m.message_type != WSC_MSG_M1) {
        OZR_DEBUG(&logger_, "{} WSC does not contain an M1", __func__);
        return;
    }
    if (m.serial_number.empty()) {
        OZR_WARN(&logger_, "{} Serial number in M1 has zero length", __func__);
        return;
    }
    HktNode* node = add_known_hkt(m.serial_number);
    if (!node) {
        OZR_ERROR(&logger_, "{} HktNode not created", __func__);
        return;
    }
    if (node->agent_mac == cmdu->src_al_mac)
        return;
    // One agent, one node: the AL MAC leaves a node that held it under another serial.
    for (HktNode& other : nodes_)
        if (&other != node && other.agent_mac == cmdu->src_al_mac)
            other.agent_mac = MAC();
    node->agent_mac = cmdu->src_al_mac;
    OZR_INFO(&logger_, "{} - agent {} registered for sn: {}", __func__,
             cmdu->src_al_mac.to_string(), node->serial_number);
}

void HktMgmtMinder::on_vend_spec(CMDU* cmdu) {
    OZR_DEBUG(&logger_, "{} called", __func__);
    if (!cmdu->list_of_TLVs)
        return;
    const uint8_t* oui = hkt_get_vendor_oui();
    for (size_t i = 0; cmdu->list_of_TLVs[i]; ++i) {
        const uint8_t type = *cmdu->list_of_TLVs[i];
        if (type != TLV_TYPE_VENDOR_SPECIFIC) {
            OZR_DEBUG(&logger_, "{} - Unexpected TLV type ({}) inside CMDU.", __func__, type);
            continue;
        }
        const vendor_specific_tlv* v = tlv_cast<vendor_specific_tlv>(cmdu->list_of_TLVs[i]);
        if (std::memcmp(v->vendor_oui, oui, 3) != 0) {
            OZR_DEBUG(&logger_, "{} - vendor OUI {:02x}{:02x}{:02x} is not HKT's", __func__,
                      v->vendor_oui[0], v->vendor_oui[1], v->vendor_oui[2]);
            continue;
        }
        OZR_DEBUG(&logger_, "{} - Found HKT vendor specific TLV", __func__);
        hktMessage* msg = parse_hkt_message_from_packet(v->payload.data(), v->payload.size());
        if (!msg) {
            OZR_WARN(&logger_, "{} - Unable to parse HKT message from {}", __func__,
                     cmdu->src_al_mac.to_string());
            continue;
        }
        OZR_DEBUG(&logger_, "    looking for handler for HKT TLV: {}", msg->tlv_type);
        auto it = callbacks_.find(msg->tlv_type);
        if (it == callbacks_.end()) {
            OZR_DEBUG(&logger_, "{} - no handler for HKT TLV {} ({}) from {}", __func__,
                      msg->tlv_type, hkt_tlv_type_to_string(msg->tlv_type),
                      cmdu->src_al_mac.to_string());
        } else {
            // The handler may change the registry; the message stays ours.
            TlvHandler handler = it->second;
            handler(cmdu, msg);
        }
        free_hkt_message_structure(msg);
    }
}

// ---- vendor TLV handlers -----------------------------------------------------------------

HktNode* HktMgmtMinder::sender_node(CMDU* cmdu, const char* func, const char* what) {
    HktNode* n = find_hkt(cmdu->src_al_mac);
    if (!n)
        OZR_INFO(&logger_, "{} - {} from {}: not in the hkt list, dropped", func, what,
                 cmdu->src_al_mac.to_string());
    return n;
}

void HktMgmtMinder::on_hkt_disc_resp(CMDU* cmdu, void* tlv) {
    const hkt_discovery_response_tlv* t = hkt_tlv_cast<hkt_discovery_response_tlv>(tlv);
    if (!t) {
        OZR_WARN(&logger_, "{} - invalid HKT TLV from {}", __func__, cmdu->src_al_mac.to_string());
        return;
    }
    const MAC& src = cmdu->src_al_mac;
    OZR_INFO(&logger_, "{} - Received HKT Discovery Response from: {}", __func__, src.to_string());
    OZR_DEBUG(&logger_, "     hkt_capabilities_version: {}", t->capabilities_version);
    OZR_DEBUG(&logger_, "     hkt_version: {}", t->hkt_version);
    OZR_DEBUG(&logger_, "     config_number: {}", t->config_number);
    OZR_DEBUG(&logger_, "     model_number: {}", t->model_number);
    OZR_DEBUG(&logger_, "     serial_number - sn: {}", t->serial_number);
    OZR_DEBUG(&logger_, "     system_mac: {}", mac_colon(t->system_mac));
    OZR_DEBUG(&logger_, "     collocated_map_agent_mac: {}",
              mac_colon(t->collocated_map_agent_mac));
    OZR_DEBUG(&logger_, "     node_ip_address: {}", hkt_ipv4_to_string(t->addresses.ipv4));
    OZR_DEBUG(&logger_, "     node_ipv6_local: {}", hkt_ipv6_to_string(t->addresses.ipv6_local));
    for (size_t i = 0; i < t->addresses.ipv6_global.size(); ++i)
        OZR_DEBUG(&logger_, "     node_ipv6_global[{}]: {}", i,
                  hkt_ipv6_to_string(t->addresses.ipv6_global[i]));
    OZR_DEBUG(&logger_, "     minders_nr: {}", t->minders_nr);
    OZR_DEBUG(&logger_, "     minders_present: {:08x}", t->minders_present);
    for (size_t i = 0; i < t->minder_capabilites.size(); ++i)
        OZR_DEBUG(&logger_, "     minder_capabilites[{}]: {:04x}", i, t->minder_capabilites[i]);
    OZR_DEBUG(&logger_, "     interfaces_nr: {}", t->interfaces_nr);
    for (const auto& i : t->interfaces) {
        OZR_DEBUG(&logger_, "     ifname={}", i.ifname);
        OZR_DEBUG(&logger_, "     mac={}", mac_colon(i.mac));
        OZR_DEBUG(&logger_, "     media_type=0x{:08x}", i.media_type);
        OZR_DEBUG(&logger_, "     pwr_state={}", i.pwr_state);
        OZR_DEBUG(&logger_, "     physical_port_number={}", i.physical_port_number);
    }
    const std::string sn = hkt_upper_sn(t->serial_number);
    if (sn.empty()) {
        OZR_WARN(&logger_, "{} - discovery response from {} without a serial number, dropped",
                 __func__, src.to_string());
        return;
    }
    // One node per serial number: a node known from the white list or an M1 takes the
    // discovery; the vendor agent MAC and the agent AL MAC leave any other node.
    HktNode* node = find_hkt_from_serial(sn);
    if (!node) {
        if (nodes_.size() >= kMaxHktNodes) {
            OZR_ERROR(&logger_, "{} - registry full ({} nodes), not adding sn: {}", __func__,
                      nodes_.size(), sn);
            return;
        }
        OZR_INFO(&logger_, "{} - Adding new HKT - hkt_mac: {}, sn: {}", __func__, src.to_string(),
                 sn);
        HktNode n;
        n.serial_number = sn;
        nodes_.reserve(kMaxHktNodes);  // at the first node: node pointers stay valid
        nodes_.push_back(std::move(n));
        node = &nodes_.back();
    }
    for (HktNode& other : nodes_) {
        if (&other == node)
            continue;
        if (other.hkt_mac == src) {
            if (other.is_online)
                set_online(other, false);
            other.hkt_mac = MAC();
            other.got_discovery = false;
        }
        if (!t->collocated_map_agent_mac.is_zero() &&
            other.agent_mac == t->collocated_map_agent_mac)
            other.agent_mac = MAC();
    }
    node->update_discovery_data(src, *t, now());
    if (node->ap_status != ApStatus::CONFIGURED) {
        OZR_LOG(&logger_, node->ap_status == ApStatus::DETECTED ? 7 : 6,
                "{}:{} - Set ApStatus::DETECTED - sn: {}", __func__, __LINE__, sn);
        set_ap_status(*node, ApStatus::DETECTED);
    }
    if (data_peer_ && data_peer_->ramdb_find(sn))
        data_peer_->notify_ap_info_change(sn, AP_PARAM_IDENTITY);
    start_ap_status_timer(*node);
}

void HktMgmtMinder::on_hkt_heartbeat(CMDU* cmdu, void* tlv) {
    const hkt_heartbeat_tlv* t = hkt_tlv_cast<hkt_heartbeat_tlv>(tlv);
    if (!t)
        return;
    OZR_DEBUG(&logger_, "{} - Received HKT heartbeat from: {}", __func__,
              cmdu->src_al_mac.to_string());
    HktNode* node = find_hkt(cmdu->src_al_mac);
    if (!node) {
        OZR_DEBUG(&logger_, "{} - Unable to find HKT MAC: {}", __func__,
                  cmdu->src_al_mac.to_string());
        return;
    }
    node->update_heartbeat_data(*t, now());
    set_online(*node, true);
}

void HktMgmtMinder::on_hkt_ip_change_notification(CMDU* cmdu, void* tlv) {
    const hkt_ip_change_notification_tlv* t = hkt_tlv_cast<hkt_ip_change_notification_tlv>(tlv);
    if (!t)
        return;
    HktNode* node = sender_node(cmdu, __func__, "ip change notification");
    if (!node)
        return;
    OZR_INFO(&logger_, "{} - Received HKT ip change notification from sn: {}", __func__,
             node->serial_number);
    node->update_ip_addresses(t->addresses);
    if (data_peer_ && data_peer_->ramdb_find(node->serial_number))
        data_peer_->notify_ap_info_change(node->serial_number, AP_PARAM_IP_ADDRESS);
    if (map_send_1905_ack(cmdu->src_al_mac, cmdu->message_id) != 0)
        OZR_WARN(&logger_, "{} - map_send_1905_ack failed", __func__);
    // The other vendor agents learn the new addresses.
    hkt_ip_change_notification_request_tlv req;
    req.hkt_mac = node->hkt_mac;
    req.serial_number = node->serial_number;
    req.addresses = t->addresses;
    const std::string sn = node->serial_number;
    for (const HktNode& other : nodes_) {
        if (other.serial_number == sn || other.hkt_mac.is_zero() || !other.is_online)
            continue;
        if (send_to_agent(other.agent_mac, req, __func__) == 0)
            OZR_DEBUG(&logger_, "{} Sent HKT ip change notification request to hkt {}", __func__,
                      other.hkt_mac.to_string());
    }
}

void HktMgmtMinder::on_hkt_ex_notification(CMDU* cmdu, void* tlv) {
    const hkt_ex_notification_tlv* t = hkt_tlv_cast<hkt_ex_notification_tlv>(tlv);
    if (!t)
        return;
    HktNode* node = sender_node(cmdu, __func__, "EX notification");
    if (!node)
        return;
    OZR_INFO(&logger_, "{} - Received HKT EX notification from: {}", __func__,
             cmdu->src_al_mac.to_string());
    const std::string sn = node->serial_number;
    nal_setExNotification(sn.c_str(), t->event, t->data.data(), t->data.size());
    if (HktConfigPeer* cfg = config_peer_) {
        const unsigned short len =
            static_cast<unsigned short>(std::min<size_t>(t->data.size(), 0xFFFF));
        if (cfg->inform_hkt_configuration_result(0, sn.c_str(), len, t->data.data()) != 0)
            OZR_ERROR(&logger_, "{}:{} nal_setSyncResult failed.", __func__, __LINE__);
    }
    if (map_send_1905_ack(cmdu->src_al_mac, cmdu->message_id) != 0)
        OZR_WARN(&logger_, "{} - map_send_1905_ack failed", __func__);
}

void HktMgmtMinder::on_hkt_ip_info_query(CMDU* cmdu, void* tlv) {
    if (!hkt_tlv_cast<hkt_ip_info_query_tlv>(tlv)) {
        OZR_WARN(&logger_,
                 "{} Received invalid HKT ip_info_query: with invalid tlv type from mac  {}",
                 __func__, cmdu->src_al_mac.to_string());
        return;
    }
    hkt_ip_info_response_tlv r;
    hkt_ipv4_from_string(kDefaultRgwIpv4, r.gateway_ipv4);
    r.controller_al_mac = getMAPControllerAlMac();
    hktMessage m = hkt_message_of(r);
    const char* ifname = cmdu->interface_name[0] ? cmdu->interface_name : nullptr;
    if (hkt_send_hkt_tlv(&m, nullptr, cmdu->src_al_mac.data(), ifname, 0, true) < 0) {
        OZR_WARN(&logger_, "{} Failed to send HKT ip query response message", __func__);
        return;
    }
    OZR_DEBUG(&logger_, "{} Sent HKT ip query response message", __func__);
}

void HktMgmtMinder::on_hkt_vsn_query(CMDU* cmdu, void* tlv) {
    if (!hkt_tlv_cast<hkt_vsn_query_tlv>(tlv)) {
        OZR_WARN(&logger_, "{} Received invalid HKT vsn query: with invalid tlv type from mac  {}",
                 __func__, cmdu->src_al_mac.to_string());
        return;
    }
    hkt_vsn_response_tlv r;
    r.vsn = vsn_;
    hktMessage m = hkt_message_of(r);
    const char* ifname = cmdu->interface_name[0] ? cmdu->interface_name : nullptr;
    if (hkt_send_hkt_tlv(&m, nullptr, cmdu->src_al_mac.data(), ifname, 0, true) < 0) {
        OZR_WARN(&logger_, "{} Failed to send HKT vsn query response message", __func__);
        return;
    }
    OZR_DEBUG(&logger_, "{} Sent HKT vsn query response message", __func__);
}
