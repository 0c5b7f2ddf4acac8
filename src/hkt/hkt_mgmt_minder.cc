#include "hkt/hkt_mgmt_minder.h"

#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "graph/backhaul_information.h"
#include "nal/nal.h"

HktMgmtMinder::HktMgmtMinder(uv_loop_s* loop) : logger_(root_logger, "mgmt", "", -1), loop_(loop) {
    nodes_.reserve(kMaxHktNodes);
    int level = find_config_log_level("root.mgmt");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

HktMgmtMinder::~HktMgmtMinder() = default;

Err HktMgmtMinder::init(Context& /*context*/) {
    return Err(0);
}

void HktMgmtMinder::run() {
    OZR_INFO(&logger_, "HktMgmtMinder::{}() running", __func__);
    // The extenders admitted in earlier runs are tracked before they are discovered.
    Context* c = Context::instance();
    DataMinder* dm = c ? c->data_minder : nullptr;
    if (!dm)
        return;
    for (const std::string& sn : dm->get_white_list_aps())
        if (HktNode* n = add_known_hkt(sn))
            n->ap_status = dm->get_ap_onboarding_status(sn);
}

HktNode* HktMgmtMinder::add_known_hkt(const std::string& sn) {
    const std::string key = hkt_upper_sn(sn);
    if (key.empty())
        return nullptr;
    if (HktNode* n = find_hkt_from_serial(key))
        return n;
    if (nodes_.size() >= kMaxHktNodes) {
        OZR_ERROR(&logger_, "{} - registry full ({} nodes), not adding sn: {}", __func__,
                  nodes_.size(), key);
        return nullptr;
    }
    OZR_INFO(&logger_, "{} - Adding new known HKT - sn: {}", __func__, key);
    HktNode n;
    n.serial_number = key;
    nodes_.push_back(std::move(n));
    return &nodes_.back();
}

bool HktMgmtMinder::remove_hkt(const std::string& sn) {
    const std::string key = hkt_upper_sn(sn);
    for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
        if (it->serial_number == key) {
            OZR_INFO(&logger_, "{} - Removing HKT - sn: {}", __func__, key);
            nodes_.erase(it);
            return true;
        }
    }
    return false;
}

HktNode* HktMgmtMinder::find_hkt(const MAC& mac) {
    return const_cast<HktNode*>(static_cast<const HktMgmtMinder*>(this)->find_hkt(mac));
}

const HktNode* HktMgmtMinder::find_hkt(const MAC& mac) const {
    if (mac.is_zero())
        return nullptr;
    for (const HktNode& n : nodes_)
        if (n.hkt_mac == mac || n.agent_mac == mac)
            return &n;
    return nullptr;
}

HktNode* HktMgmtMinder::find_hkt_from_agent(const MAC& agent_al_mac) {
    return const_cast<HktNode*>(
        static_cast<const HktMgmtMinder*>(this)->find_hkt_from_agent(agent_al_mac));
}

const HktNode* HktMgmtMinder::find_hkt_from_agent(const MAC& agent_al_mac) const {
    if (agent_al_mac.is_zero())
        return nullptr;
    for (const HktNode& n : nodes_)
        if (n.agent_mac == agent_al_mac)
            return &n;
    return nullptr;
}

HktNode* HktMgmtMinder::find_hkt_from_serial(const std::string& sn) {
    return const_cast<HktNode*>(static_cast<const HktMgmtMinder*>(this)->find_hkt_from_serial(sn));
}

const HktNode* HktMgmtMinder::find_hkt_from_serial(const std::string& sn) const {
    const std::string key = hkt_upper_sn(sn);
    for (const HktNode& n : nodes_)
        if (n.serial_number == key)
            return &n;
    return nullptr;
}

void HktMgmtMinder::notify_ap_bh_change(const backhaul_information& info) {
    OZR_DEBUG(&logger_, "HktMgmtMinder::{}() device MAC: {} connected {}", __func__,
              info.local_ale.to_string(), info.is_backhaul_connected);
}

void HktMgmtMinder::send_hkt_backhaul_information_notify(const MAC& al_mac,
                                                         const backhaul_information& info) {
    OZR_DEBUG(&logger_, "HktMgmtMinder::{}() device MAC: {} cost_to_root {}", __func__,
              al_mac.to_string(), info.cost_to_root);
}

int HktMgmtMinder::send_hkt_vaps_info_query(const MAC& al_mac) {
    if (!find_hkt(al_mac)) {
        OZR_DEBUG(&logger_, "HktMgmtMinder::{}() MAC: {} is not in the hkt list", __func__,
                  al_mac.to_string());
        return -1;
    }
    return 0;
}

int HktMgmtMinder::send_hkt_statistics_query(const MAC& al_mac) {
    if (!find_hkt(al_mac)) {
        OZR_DEBUG(&logger_, "HktMgmtMinder::{}() MAC: {} is not in the hkt list", __func__,
                  al_mac.to_string());
        return -1;
    }
    return 0;
}

int HktMgmtMinder::send_factory_reset_request(const MAC& agent_al_mac) {
    OZR_NOTICE(&logger_, "{} Failed to send factory reset request message to hkt {}", __func__,
               agent_al_mac.to_string());
    return -1;
}
