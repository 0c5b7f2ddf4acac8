#include "hkt/hkt_mgmt_minder.h"

#include "core/log.h"
#include "graph/backhaul_information.h"
#include "nal/nal.h"

HktMgmtMinder::HktMgmtMinder(uv_loop_s* loop) : logger_(root_logger, "mgmt", "", -1), loop_(loop) {
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
}

const HktAgent* HktMgmtMinder::find_hkt(const MAC& al_mac) const {
    for (const HktAgent& a : agents_)
        if (a.al_mac == al_mac || a.agent_al_mac == al_mac)
            return &a;
    return nullptr;
}

const HktAgent* HktMgmtMinder::find_hkt_from_agent(const MAC& agent_al_mac) const {
    for (const HktAgent& a : agents_)
        if (a.agent_al_mac == agent_al_mac)
            return &a;
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
