// Sending vendor messages: hkt_send_hkt_tlv and the vendor agent minder's senders.
#include "core/context.h"
#include "core/log.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_send.h"

namespace {
const Logger* send_logger() {
    Context* c = Context::instance();
    return c && c->hkt_mgmt_minder ? c->hkt_mgmt_minder->logger() : root_logger;
}
// The version of the protocol this controller speaks.
constexpr uint32_t kHktVersion = 3;
}  // namespace

int hkt_send_hkt_tlv(void* msg, uint16_t* message_id, const uint8_t* dest, const char* ifname,
                     uint8_t relay, bool unicast) {
    const Logger* log = send_logger();
    const hktMessage* m = static_cast<const hktMessage*>(msg);
    if (!m || !m->tlv || !dest) {
        OZR_ERROR(log, "{}:{} - calloc failed", "hkt_send", __LINE__);
        return -1;
    }
    const MAC to(dest);
    if (unicast && (to.is_zero() || to.is_multicast())) {
        OZR_ERROR(log, "{}:{} - send failed, ret is {}.", "hkt_send", __LINE__,
                  static_cast<int>(MAP_SEND_BAD_ARGUMENT));
        return MAP_SEND_BAD_ARGUMENT;
    }
    std::vector<uint8_t> hkt;
    if (!forge_hkt_message_from_structure(m, hkt)) {
        OZR_ERROR(log, "{}:{} - forge hkt message failed", "hkt_send", __LINE__);
        return -1;
    }
    vendor_specific_tlv v;
    const uint8_t* oui = hkt_get_vendor_oui();
    v.vendor_oui[0] = oui[0];
    v.vendor_oui[1] = oui[1];
    v.vendor_oui[2] = oui[2];
    v.payload = std::move(hkt);
    if (v.payload.size() + 3 > 0xFFFF) {
        OZR_ERROR(log, "{}:{} - forge vendor specific tlv failed", "hkt_send", __LINE__);
        return -1;
    }
    CmduPtr c =
        CmduBuilder(CMDU_TYPE_VENDOR_SPECIFIC, 0).relay(relay != 0).add(std::move(v)).build();
    if (!c) {
        OZR_ERROR(log, "{}:{} - calloc failed", "hkt_send", __LINE__);
        return -1;
    }
    uint16_t mid = 0;
    int rc = lib1905_send(nullptr, &mid, to, c.get(), ifname);
    if (rc < 0) {
        OZR_WARN(log, "{}:{} - send failed, ret is {}.", "hkt_send", __LINE__, rc);
        return rc;
    }
    if (ifname)
        OZR_DEBUG(log, "{}:{} - send succeed, message_id is 0x{:04x}, interface_name is {}.",
                  "hkt_send", __LINE__, mid, ifname);
    else
        OZR_DEBUG(log, "{}:{} - send succeed, message_id is 0x{:04x}.", "hkt_send", __LINE__, mid);
    if (message_id)
        *message_id = mid;
    return 0;
}

HktNode* HktMgmtMinder::target_node(const MAC& agent, const char* func, const char** ifname) {
    HktNode* node = find_hkt_from_agent(agent);
    if (!node || node->hkt_mac.is_zero()) {
        OZR_DEBUG(&logger_, "{}:{} - find hkt failed for map agent {}", func, __LINE__,
                  agent.to_string());
        return nullptr;
    }
    const map_ale_info_t* ale = get_ale(agent);
    if (!ale) {
        OZR_DEBUG(&logger_, "{}:{} - find map_ale_node failed for {}", func, __LINE__,
                  agent.to_string());
        return nullptr;
    }
    *ifname = ale->iface_name[0] != '\0' ? ale->iface_name : nullptr;
    return node;
}

template <class T>
int HktMgmtMinder::send_to_agent(const MAC& agent, T& record, const char* func) {
    const char* ifname = nullptr;
    HktNode* node = target_node(agent, func, &ifname);
    if (!node)
        return -1;
    hktMessage m = hkt_message_of(record);
    return hkt_send_hkt_tlv(&m, nullptr, node->hkt_mac.data(), ifname, 0, true) < 0 ? -1 : 0;
}

// The handlers send this one (hkt_handlers.cc).
template int HktMgmtMinder::send_to_agent<hkt_ip_change_notification_request_tlv>(
    const MAC&, hkt_ip_change_notification_request_tlv&, const char*);

int HktMgmtMinder::send_hkt_discovery_request() {
    hkt_discovery_request_tlv r;
    r.controller_al_mac = getHktAlMac();
    r.hkt_version = kHktVersion;
    hktMessage m = hkt_message_of(r);
    // Every vendor agent of the mesh hears it: relayed multicast.
    int rc = hkt_send_hkt_tlv(&m, nullptr, IEEE1905_MULTICAST_ADDRESS.data(), nullptr, 1, false);
    if (discovery_poll_)
        discovery_poll_->start(kDiscoveryPollMs + jitter(kDiscoveryPollJitterMs));
    if (rc < 0) {
        OZR_WARN(&logger_, "{} Failed to send HKT discovery request message.", __func__);
        return -1;
    }
    OZR_DEBUG(&logger_, "{} Sent HKT discovery request message", __func__);
    return 0;
}

int HktMgmtMinder::send_hkt_backhaul_information_notify(
    const MAC& agent, const hkt_backhaul_information_notify_tlv& info) {
    hkt_backhaul_information_notify_tlv t = info;
    if (send_to_agent(agent, t, __func__) != 0) {
        OZR_DEBUG(&logger_, "{} Failed to send hkt backhaul information notify message to {}",
                  __func__, agent.to_string());
        return -1;
    }
    OZR_DEBUG(&logger_, "{} Sent hkt backhaul information notify message to {}", __func__,
              agent.to_string());
    return 0;
}

int HktMgmtMinder::send_hkt_wifi_radio_special_cfg_request(const MAC& agent,
                                                           unsigned short cfg_type,
                                                           unsigned char radio,
                                                           unsigned char value) {
    hkt_wifi_radio_special_cfg_request_tlv t;
    t.cfg_type = cfg_type;
    t.radio = radio;
    t.value = value;
    if (send_to_agent(agent, t, __func__) != 0) {
        OZR_WARN(&logger_, "{} Failed to send hkt wifi radio special cfg request message to {}",
                 __func__, agent.to_string());
        return -1;
    }
    OZR_INFO(&logger_, "{} Sent hkt wifi radio special cfg request message to {}", __func__,
             agent.to_string());
    return 0;
}

int HktMgmtMinder::send_hkt_vaps_info_query(const MAC& agent) {
    hkt_vaps_info_query_tlv t;
    if (send_to_agent(agent, t, __func__) != 0) {
        OZR_DEBUG(&logger_, "{} Failed to send hkt vaps infor query message to hkt {}.", __func__,
                  agent.to_string());
        return -1;
    }
    OZR_DEBUG(&logger_, "{} Sent hkt vaps infor query message to hkt {}.", __func__,
              agent.to_string());
    return 0;
}

int HktMgmtMinder::send_hkt_interfaces_statistic_request(const MAC& agent,
                                                         const std::vector<MAC>& ifs) {
    hkt_interfaces_statistic_request_tlv t;
    if (ifs.size() > HKT_MAX_INTERFACES) {
        OZR_WARN(&logger_, "{}:{} - calloc local_interface_mac failed.", __func__, __LINE__);
        return -1;
    }
    t.interfaces = ifs;
    t.num_interfaces = static_cast<uint8_t>(ifs.size());
    if (send_to_agent(agent, t, __func__) != 0) {
        OZR_DEBUG(&logger_, "{} Failed to send hkt interfaces statistic request message to {}",
                  __func__, agent.to_string());
        return -1;
    }
    OZR_DEBUG(&logger_, "{} Sent hkt interfaces statistic request message to {}", __func__,
              agent.to_string());
    return 0;
}

int HktMgmtMinder::send_hkt_port_info_request(const MAC& agent, const MAC& port_mac) {
    hkt_port_info_request_tlv t;
    t.port_mac = port_mac;
    return send_to_agent(agent, t, __func__);
}

int HktMgmtMinder::send_factory_reset_request(const MAC& agent) {
    MAC hkt_mac;
    std::string sn;
    if (const HktNode* n = find_hkt_from_agent(agent); n && !n->hkt_mac.is_zero()) {
        hkt_mac = n->hkt_mac;
        sn = n->serial_number;
    } else if (auto it = removed_.find(agent); it != removed_.end()) {
        hkt_mac = it->second.hkt_mac;
        sn = it->second.sn;
    }
    const map_ale_info_t* ale = agent.is_zero() ? nullptr : get_ale(agent);
    if (hkt_mac.is_zero() || !ale) {
        OZR_WARN(&logger_, "{} Failed to send factory reset request message to hkt {}", __func__,
                 agent.to_string());
        return -1;
    }
    hkt_factory_reset_request_tlv t;
    t.serial_number = sn;
    hktMessage m = hkt_message_of(t);
    const char* ifname = ale->iface_name[0] != '\0' ? ale->iface_name : nullptr;
    if (hkt_send_hkt_tlv(&m, nullptr, hkt_mac.data(), ifname, 0, true) < 0) {
        OZR_WARN(&logger_, "{} Failed to send factory reset request message to hkt {}", __func__,
                 hkt_mac.to_string());
        return -1;
    }
    OZR_NOTICE(&logger_, "{} Sent factory reset request message to hkt MAC: {}", __func__,
               hkt_mac.to_string());
    return 0;
}
