// The SSID credential sync: every "sync_ssid_credential" period the VAPs each vendor agent
// reports (hkt_db_ssid_info) are compared with what the credential table gives its radios,
// and an agent that runs something else gets an autoconfiguration renew, after which it runs
// its M1/M2 exchange again. Extenders that missed the renew of a VAP configuration change
// (offline then, or the renew lost) or that lost their configuration come back in line.
#include <algorithm>
#include <vector>

#include "core/context.h"
#include "core/log.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/codec/codec.h"
#include "map/codec/tlvs.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "map/map_send.h"

namespace {
HktMgmtMinder* hkt_minder() {
    Context* c = Context::instance();
    return c ? c->hkt_mgmt_minder : nullptr;
}
}  // namespace

void GraphMinder::on_ssid_sync_timer_expire() {
    HktMgmtMinder* h = hkt_minder();
    std::vector<MAC> agents;
    if (h) {
        for (const HktNode& n : h->hkt_nodes())
            if (!n.hkt_mac.is_zero() && !n.agent_mac.is_zero())
                agents.push_back(n.agent_mac);
    }
    // Forget what belongs to devices that are no longer vendor agents.
    auto vendor = [&](const MAC& m) {
        for (const MAC& a : agents)
            if (a == m)
                return true;
        return false;
    };
    for (auto* map : {&ssid_report_ms_, &ssid_renew_ms_})
        for (auto it = map->begin(); it != map->end();)
            it = vendor(it->first) ? std::next(it) : map->erase(it);
    for (auto it = ssid_retry_.begin(); it != ssid_retry_.end();)
        it = vendor(*it) ? std::next(it) : ssid_retry_.erase(it);
    for (auto it = ssid_status_.begin(); it != ssid_status_.end();)
        it = vendor(it->first) ? std::next(it) : ssid_status_.erase(it);

    const map_credential_config_t* table = map_get_m2_config();
    if (table == nullptr || table->count == 0) {
        OZR_DEBUG(&logger_, "{}: no credentials configured, hkt_db_ssid_info not compared",
                  __func__);
        return;
    }
    if (agents.empty()) {
        OZR_DEBUG(&logger_, "{}: no hkt_db_ssid_info to compare", __func__);
        return;
    }
    for (const MAC& a : agents)
        sync_ssid_credential(a);
}

SsidSyncVerdict GraphMinder::sync_ssid_credential(const MAC& agent, bool may_renew) {
    const map_credential_config_t* table = map_get_m2_config();
    auto report = ssid_report_ms_.find(agent);
    const Device* d = graph_.find_device(agent);
    const map_ale_info_t* ale = get_ale(agent);
    if (table == nullptr || table->count == 0 || report == ssid_report_ms_.end() || !d || !ale) {
        OZR_DEBUG(&logger_, "{}: no hkt_db_ssid_info for {} yet", __func__, agent.to_string());
        return SsidSyncVerdict::unknown;
    }
    const SsidSyncResult res = compare_ssid_credentials(*ale, d->hkt_vaps, *table);
    const int64_t t = now();
    auto prev = ssid_status_.find(agent);
    const bool was_differing =
        prev != ssid_status_.end() && prev->second.verdict == SsidSyncVerdict::differ;
    if (ssid_status_.size() < HktMgmtMinder::kMaxHktNodes || ssid_status_.count(agent)) {
        SsidSyncStatus& st = ssid_status_[agent];
        st.verdict = res.verdict;
        st.difference = res.verdict == SsidSyncVerdict::differ ? res.describe() : "";
        st.checked_ms = t;
    }
    if (res.verdict == SsidSyncVerdict::unknown) {
        OZR_DEBUG(&logger_, "{}: radios of {} not known yet, hkt_db_ssid_info not compared",
                  __func__, agent.to_string());
        return res.verdict;
    }
    if (res.verdict == SsidSyncVerdict::in_sync) {
        const bool was_owed = ssid_retry_.erase(agent) != 0;
        if (was_owed || was_differing)
            OZR_INFO(&logger_, "{}: hkt_db_ssid_info of {} matches the credentials again", __func__,
                     agent.to_string());
        else
            OZR_DEBUG(&logger_, "{}: hkt_db_ssid_info of {} matches the credentials", __func__,
                      agent.to_string());
        return res.verdict;
    }
    OZR_LOG(&logger_, may_renew ? 5 : 7,
            "{}: hkt_db_ssid_info of {} differs from the credentials: {}", __func__,
            agent.to_string(), res.describe());
    if (!may_renew)
        return res.verdict;
    auto own = ssid_renew_ms_.find(agent);
    const int64_t last =
        std::max(own == ssid_renew_ms_.end() ? 0 : own->second, multicast_renew_ms_);
    if (last != 0 && (t - last < kSsidRenewHoldMs || report->second <= last)) {
        // The agent may still be running the exchange of the last renew.
        OZR_INFO(&logger_, "last autoconfig renew was send before {} sec", (t - last) / 1000);
        OZR_INFO(&logger_, "Add the ale {} to retry list", agent.to_string());
        ssid_retry_.insert(agent);
        return res.verdict;
    }
    OZR_NOTICE(&logger_, "{}: send auto config renew to {}", __func__, agent.to_string());
    if (send_autoconfig_renew(agent, IEEE1905_FREQ_BAND_2_4_GHZ) != 0) {
        OZR_WARN(&logger_, "{}: autoconfig renew to {} not sent", __func__, agent.to_string());
        OZR_INFO(&logger_, "Add the ale {} to retry list", agent.to_string());
        ssid_retry_.insert(agent);
        return res.verdict;
    }
    ssid_renew_ms_[agent] = t;
    if (auto st = ssid_status_.find(agent); st != ssid_status_.end())
        st->second.renew_ms = t;
    ssid_retry_.erase(agent);
    ++ssid_renews_;
    return res.verdict;
}

void GraphMinder::note_autoconfig_renew(const MAC& al_mac) {
    if (al_mac == IEEE1905_MULTICAST_ADDRESS)
        multicast_renew_ms_ = now();
    else if (graph_.find_device(al_mac))
        ssid_renew_ms_[al_mac] = now();
}
