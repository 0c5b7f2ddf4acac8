// The relay of the platform's configuration blobs to the maker's extenders: HKT TLV type 3
// out, type 4 back, and every answer (or failure) handed to the platform as a sync result.
#include <cstdlib>
#include <cstring>

#include "configuration/configuration_minder.h"
#include "core/context.h"
#include "core/log.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "nal/nal.h"

namespace {
HktMgmtMinder* hkt() {
    Context* c = Context::instance();
    return c ? c->hkt_mgmt_minder : nullptr;
}
}  // namespace

int ConfigurationMinder::set_hkt_configuration(const std::string& sn, unsigned short len,
                                               const unsigned char* data) {
    OZR_INFO(&logger_, "{} sn: {} len {}", __func__, sn, len);
    if (sn.empty())
        return send_hkt_broadcast_configuration_request(len, data);
    HktMgmtMinder* h = hkt();
    const HktNode* node = h ? h->find_hkt_from_serial(sn) : nullptr;
    if (!node) {
        OZR_ERROR(&logger_, "{} Failed to find sn: {} HKT agent.", __func__, sn);
        return -1;
    }
    if (node->hkt_mac.is_zero()) {
        OZR_ERROR(&logger_, "{}:{} - hkt_mac is null.", __func__, __LINE__);
        return -1;
    }
    const MAC hkt_mac = node->hkt_mac;
    const std::string node_sn = node->serial_number;
    if (send_hkt_configuration_request(hkt_mac, len, data) == 0)
        return 0;
    inform_hkt_configuration_result(-1, node_sn.c_str(), 0, nullptr);
    return -1;
}

int ConfigurationMinder::send_hkt_configuration_request(const MAC& hkt_mac, unsigned short len,
                                                        const unsigned char* data) {
    HktMgmtMinder* h = hkt();
    const HktNode* node = h ? h->find_hkt(hkt_mac) : nullptr;
    if (!node || node->hkt_mac.is_zero()) {
        OZR_ERROR(&logger_, "{}:{} - find hkt failed for HKT agent MAC: {}", __func__, __LINE__,
                  hkt_mac.to_string());
        return -1;
    }
    const map_ale_info_t* ale = node->agent_mac.is_zero() ? nullptr : get_ale(node->agent_mac);
    if (!ale) {
        OZR_ERROR(&logger_, "{}:{} - find map_ale_node failed for MAC: {}", __func__, __LINE__,
                  node->agent_mac.to_string());
        return -1;
    }
    if (static_cast<unsigned>(len) + 8 >= kHktConfigMaxWire) {
        OZR_ERROR(&logger_, "{}:{} - message is too long pure date is {}.", __func__, __LINE__,
                  len);
        return -1;
    }
    if (len > 0 && !data) {
        OZR_ERROR(&logger_, "{}:{} - In data is NULL.", __func__, __LINE__);
        return -1;
    }
    hkt_config_request_tlv t;
    if (len > 0)
        t.data.assign(data, data + len);
    hktMessage m = hkt_message_of(t);
    const char* ifname = ale->iface_name[0] != '\0' ? ale->iface_name : nullptr;
    if (hkt_send_hkt_tlv(&m, nullptr, hkt_mac.data(), ifname, 0, true) < 0) {
        OZR_ERROR(&logger_, "{} Failed to send hkt configuration request message to MAC: {}",
                  __func__, hkt_mac.to_string());
        return -1;
    }
    OZR_INFO(&logger_, "{} Sent hkt configuration request message to MAC: {}", __func__,
             hkt_mac.to_string());
    return 0;
}

int ConfigurationMinder::send_hkt_broadcast_configuration_request(unsigned short len,
                                                                  const unsigned char* data) {
    HktMgmtMinder* h = hkt();
    map_ale_info_t* root = get_root_ale_node();
    const int height = map_get_topology_tree_height();
    if (!h || !root || height < 2) {
        OZR_INFO(&logger_, "{} no extender to configure (tree height {})", __func__, height);
        return 0;
    }
    // Deepest first, so that the extenders farthest from the gateway change before their
    // parents; the gateway's own agent (depth 1) is not among them.
    for (int depth = height; depth >= 2; --depth) {
        array_list_t* list = ktree_elements_at_depth(root, depth);
        if (!list)
            continue;
        std::vector<MAC> agents;
        while (void* obj = pop_object(list))
            agents.push_back(static_cast<map_ale_info_t*>(obj)->al_mac);
        delete_array_list(list);
        for (const MAC& a : agents) {
            const HktNode* node = h->find_hkt_from_agent(a);
            if (!node) {
                OZR_INFO(&logger_,
                         "{} Find one ale MAC: {:02x}:{:02x}:{:02x}:{:02x}:{:02x}:{:02x} is not in "
                         "the hkt list.",
                         __func__, a[0], a[1], a[2], a[3], a[4], a[5]);
                continue;
            }
            const std::string sn = node->serial_number;
            if (send_hkt_configuration_request(node->hkt_mac, len, data) != 0)
                inform_hkt_configuration_result(-1, sn.c_str(), 0, nullptr);
        }
    }
    return 0;
}

void ConfigurationMinder::on_hkt_config_resp(CMDU* cmdu, void* tlv) {
    const hkt_config_response_tlv* t = hkt_tlv_cast<hkt_config_response_tlv>(tlv);
    if (!t) {
        OZR_WARN(&logger_, "{} - invalid HKT TLV from MAC: {}", __func__,
                 cmdu->src_al_mac.to_string());
        return;
    }
    OZR_INFO(&logger_, "{} - Received HKT Configuration Response from MAC: {}", __func__,
             cmdu->src_al_mac.to_string());
    OZR_DEBUG(&logger_, "     tlv_type: {}", HKT_TLV_CONFIG_RESPONSE);
    OZR_DEBUG(&logger_, "     return_code: {}", t->return_code);
    OZR_DEBUG(&logger_, "     data len: {}", t->data_len);
    HktMgmtMinder* h = hkt();
    const HktNode* node = h ? h->find_hkt(cmdu->src_al_mac) : nullptr;
    if (!node) {
        OZR_WARN(&logger_,
                 "{} Receive one configuration response src MAC: {} is not in the hkt list.",
                 __func__, cmdu->src_al_mac.to_string());
        return;
    }
    inform_hkt_configuration_result(t->return_code, node->serial_number.c_str(), t->data_len,
                                    t->data.empty() ? nullptr : t->data.data());
}

int ConfigurationMinder::inform_hkt_configuration_result(int result, const char* sn,
                                                         unsigned short len,
                                                         const unsigned char* data) {
    OZR_INFO(&logger_, "{} - is called for sn: {}", __func__, sn ? sn : "(null)");
    if (!sn) {
        OZR_ERROR(&logger_, "{}:{} - In serial number is NULL.", __func__, __LINE__);
        return -1;
    }
    if (len > 0 && !data) {
        OZR_ERROR(&logger_, "{}:{} - In data is NULL.", __func__, __LINE__);
        return -1;
    }
    auto* r = static_cast<nal_sync_result_t*>(PLATFORM_MALLOC(kNalSyncResultHeader + len));
    if (!r) {
        OZR_ERROR(&logger_, "{}:{} - malloc failed.", __func__, __LINE__);
        return -1;
    }
    std::memset(r, 0, kNalSyncResultHeader);
    r->result = result;
    std::memcpy(r->sn, sn, strnlen(sn, sizeof r->sn));  // NUL-padded, 65 bytes at most
    r->len = len;
    if (len > 0)
        std::memcpy(r->data, data, len);
    int rc = nal_setSyncResult(r);
    std::free(r);
    if (rc != 0) {
        OZR_ERROR(&logger_, "{}:{} nal_setSyncResult failed.", __func__, __LINE__);
        return -1;
    }
    return 0;
}

int ConfigurationMinder::set_backhaul_vap_enabled_8Byte_ssidpw(const MAC& hkt_mac, bool enabled) {
    if (hkt_mac.is_zero()) {
        OZR_ERROR(&logger_, "{} invalid device mac", __func__);
        return -1;
    }
    hkt_bh_vap_8byte_request_tlv t;
    t.enabled = enabled ? 1 : 0;
    hktMessage m = hkt_message_of(t);
    if (hkt_send_hkt_tlv(&m, nullptr, hkt_mac.data(), nullptr, 0, true) < 0)
        OZR_WARN(&logger_, "{} Failed to send HKT request message to hkt {}.", __func__,
                 hkt_mac.to_string());
    else
        OZR_INFO(&logger_, "{} Sent HKT request message to hkt {}", __func__, hkt_mac.to_string());
    return 0;
}
