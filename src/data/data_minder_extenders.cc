// The data minder's extender side: admission to the white list, the onboarding state
// machine, the RAM DB, the online wait, the status signals and removal with a factory
// reset.
#include <fmt/format.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "data/extender_signals.h"
#include "graph/backhaul_information.h"
#include "graph/graph_enums.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/datamodel/datamodel.h"
#include "map/map_send.h"
#include "messages/bus_records.h"

namespace {

constexpr size_t kMaxSnLength = 33;
constexpr const char* kFactoryResetKey = "AP-FACTORY-RESET";

// A serial number the daemon accepts: 1 to 33 printable ASCII characters, no blanks.
bool usable_sn(const std::string& sn) {
    if (sn.empty() || sn.size() > kMaxSnLength)
        return false;
    for (char c : sn)
        if (c < 0x21 || c > 0x7e)
            return false;
    return true;
}

std::string mac_text(const MAC& m) {
    return m.to_string();
}

const char* quality_text(backhaul_quality q) {
    return q == backhaul_quality::GOOD ? "good" : "normal";
}

std::string upper(const std::string& sn) {
    return hkt_upper_sn(sn);
}

}  // namespace

std::string ApInfo::to_string(int64_t now_ms) const {
    return fmt::format(
        "{{hostname:{}, sn:{}, Status:{}, IP:{}, system_MAC:{}, seconds-since-last-update:{}, "
        "ale_MAC:{}, ap_MAC:{}, online:{}, is_gateway:{}, backhaul-ip-address IP:{}, "
        "backhaul-mac-address MAC:{}, is_backhaul_connected:{}, backhaul_ale_MAC:{}, "
        "backhaul_quality_info.value:{}, backhaul_quality_info.string:{}, cost_to_gw:{}}}",
        hostname, sn, status, ipv4, mac_text(system_mac), seconds_since_last_update(now_ms),
        mac_text(ale_mac), mac_text(ap_mac), online, is_gateway, backhaul_ipv4,
        mac_text(backhaul_mac), is_backhaul_connected, mac_text(backhaul_ale_mac),
        backhaul_quality_value, backhaul_quality_string, cost_to_gw);
}

HktMgmtMinder* DataMinder::hkt() const {
    Context* c = Context::instance();
    return c ? c->hkt_mgmt_minder : nullptr;
}

// ---- RAM DB and timers --------------------------------------------------------------------

void DataMinder::init_ramdb() {
    for (const auto& kv : cfg_db_.records()) {
        create_timer_info(kv.first);
        ramdb_add_ap(kv.second);
    }
    OZR_INFO(&logger_, "DataMinder::{}() - AP Config DB records read: {}", __func__,
             cfg_db_.records().size());
}

void DataMinder::create_timer_info(const std::string& sn) {
    if (timers_.count(sn))
        return;
    auto t = std::make_unique<ApTimerInfo>();
    t->sn = sn;
    t->online_wait_timer = std::make_unique<OneShotTimer>(
        loop_, "online_wait", [this, sn]() { dm_online_wait_timer_cb(sn); });
    t->factory_reset_timer = std::make_unique<OneShotTimer>(
        loop_, "ap_factory_reset", [this, sn]() { ap_factory_reset_wait_timer(sn); });
    OZR_DEBUG(&logger_, "DataMinder::{}()- sn: {} uv_timer_handle {} ", __func__, sn,
              static_cast<const void*>(t->online_wait_timer.get()));
    timers_.emplace(sn, std::move(t));
}

void DataMinder::erase_timer_info(const std::string& sn) {
    auto it = timers_.find(sn);
    if (it == timers_.end())
        return;
    // The timers are closed before the entry holding them goes.
    it->second->online_wait_timer.reset();
    it->second->factory_reset_timer.reset();
    timers_.erase(it);
}

ApTimerInfo* DataMinder::timer_entry(const std::string& sn) {
    auto it = timers_.find(sn);
    return it == timers_.end() ? nullptr : it->second.get();
}

const ApTimerInfo* DataMinder::timer_info(const std::string& sn) const {
    auto it = timers_.find(upper(sn));
    return it == timers_.end() ? nullptr : it->second.get();
}

ApInfo* DataMinder::ramdb_entry(const std::string& sn) {
    auto it = ramdb_.find(sn);
    return it == ramdb_.end() ? nullptr : &it->second;
}

const ApInfo* DataMinder::ramdb_find(const std::string& sn) const {
    auto it = ramdb_.find(upper(sn));
    return it == ramdb_.end() ? nullptr : &it->second;
}

bool DataMinder::is_gateway_ap(const MAC& ale, const std::string& sn) const {
    const map_datamodel_t* dm = get_map_datamodel();
    if (!dm)
        return false;
    if (!ale.is_zero() && (ale == dm->local_agent_al_mac || ale == dm->controller_al_mac))
        return true;
    // The gateway's own agent tells its serial number in its M1.
    const map_ale_info_t* local =
        dm->local_agent_al_mac.is_zero() ? nullptr : get_ale(dm->local_agent_al_mac);
    if (local && local->serial_number[0] != '\0')
        return upper(std::string(local->serial_number,
                                 strnlen(local->serial_number, sizeof local->serial_number))) == sn;
    return false;
}

void DataMinder::ramdb_add_ap(const ApRecord& rec) {
    ApInfo& e = ramdb_[rec.sn];
    e.sn = rec.sn;
    e.status = rec.status;
    e.hostname = rec.hostname;
    if (e.hostname.empty()) {
        e.hostname = "host_" + rec.sn;
        OZR_WARN(&logger_,
                 "DataMinder::{}() - No HKT hostname. Generating one. AP sn: {} hostname: {}",
                 __func__, rec.sn, e.hostname);
    }
    MAC m;
    if (!rec.system_mac.empty() && parse_db_mac(rec.system_mac, m))
        e.system_mac = m;
    if (!rec.ale_id.empty() && parse_db_mac(rec.ale_id, m))
        e.ale_mac = m;
    const HktMgmtMinder* h = hkt();
    const HktNode* node = h ? h->find_hkt_from_serial(rec.sn) : nullptr;
    if (node && !node->hkt_mac.is_zero())
        e.ap_mac = node->hkt_mac;
    if (node && e.ale_mac.is_zero() && !node->agent_mac.is_zero())
        e.ale_mac = node->agent_mac;
    if (node && !node->ip_addr.empty()) {
        e.ipv4 = node->ip_addr;
    } else {
        e.ipv4 = kDefaultRgwIpv4;
        OZR_DEBUG(&logger_,
                  "DataMinder::{}() - No RGW Ipv4 address. Using default. AP sn: {} IPv4 "
                  "Address IP: {}",
                  __func__, rec.sn, e.ipv4);
    }
    e.is_gateway = is_gateway_ap(e.ale_mac, rec.sn);
    e.updated_ms = Context::instance() ? Context::instance()->now() : 0;
}

const ApInfo* DataMinder::ramdb_find_by_ale(const MAC& al_mac) {
    if (al_mac.is_zero())
        return nullptr;
    for (const auto& kv : ramdb_)
        if (kv.second.ale_mac == al_mac)
            return &kv.second;
    // Not known yet: the stack knows the agent's serial number from its M1.
    const map_ale_info_t* a = get_ale(al_mac);
    if (!a || a->serial_number[0] == '\0')
        return nullptr;
    const std::string sn =
        upper(std::string(a->serial_number, strnlen(a->serial_number, sizeof a->serial_number)));
    ApInfo* e = ramdb_entry(sn);
    if (!e || !e->ale_mac.is_zero())
        return nullptr;
    e->ale_mac = al_mac;
    e->is_gateway = is_gateway_ap(al_mac, sn);
    OZR_INFO(&logger_, "DataMinder::{}() sn: {} is the agent AL MAC: {}", __func__, sn,
             mac_text(al_mac));
    return e;
}

std::string DataMinder::extender_sn_by_ale(const MAC& al_mac) {
    const ApInfo* e = ramdb_find_by_ale(al_mac);
    return e ? e->sn : std::string();
}

std::vector<std::string> DataMinder::get_white_list_aps() const {
    std::vector<std::string> out;
    out.reserve(cfg_db_.records().size());
    for (const auto& kv : cfg_db_.records())
        out.push_back(kv.first);
    return out;
}

// ---- admission --------------------------------------------------------------------------

bool DataMinder::add_ap_white_list(const std::string& sn_in) {
    OZR_INFO(&logger_, "DataMinder::{}()- sn: {}", __func__, sn_in);
    const std::string sn = upper(sn_in);
    OZR_INFO(&logger_, "DataMinder::{}()- converted to Upper case, sn: {}", __func__, sn);
    if (!usable_sn(sn)) {
        OZR_ERROR(&logger_,
                  "DataMinder::{}() - invalid sn: {} (1 to 33 printable characters without blanks "
                  "expected)",
                  __func__, sn);
        return false;
    }
    if (cfg_db_.db_query_record(sn).first == 0) {
        OZR_ERROR(&logger_, "DataMinder::{}() - Add AP Already exist for sn: {}", __func__, sn);
        return false;
    }
    if (cfg_db_.records().size() >= ApConfigDb::kMaxRecords) {
        OZR_ERROR(&logger_, "DataMinder::{}() - white list full ({} APs), sn: {} not added",
                  __func__, cfg_db_.records().size(), sn);
        return false;
    }
    ApRecord rec;
    rec.sn = sn;
    rec.status = ApConfigDb::status_to_string(ApStatus::NOT_DETECTED);
    const bool written = cfg_db_.db_add_record(sn, rec);
    if (!written)
        OZR_ERROR(&logger_, "DataMinder::{}() - FATAL ERROR - Add AP record failed. sn: {}",
                  __func__, sn);
    // A record kept in memory by a failed write is still admitted in memory.
    if (cfg_db_.db_query_record(sn).first != 0)
        return false;
    if (ApTimerInfo* t = timer_entry(sn); t && t->removed) {
        // Admitted again while its removal waits for the factory reset: the second
        // removal would undo this admission.
        t->factory_reset_timer->stop();
        t->factory_reset_active = false;
        t->removed = false;
        OZR_INFO(&logger_, "DataMinder::{}()- sn: {} admitted again, pending removal dropped",
                 __func__, sn);
    }
    create_timer_info(sn);
    ramdb_add_ap(rec);
    if (HktMgmtMinder* h = hkt())
        h->add_known_hkt(sn);
    return written;
}

// ---- onboarding state machine -------------------------------------------------------------

RetStatus DataMinder::update_ap_state(const std::string& sn_in, ApStatus state) {
    const std::string sn = upper(sn_in);
    OZR_DEBUG(&logger_, "DataMinder::{}()- Input - sn: {} state {}", __func__, sn,
              ApConfigDb::status_to_string(state));
    const ApRecord* rec = cfg_db_.db_query_record(sn).second;
    ApStatus cur = rec ? ApConfigDb::string_to_status(rec->status) : ApStatus::INVALID_STATUS;

    switch (state) {
        case ApStatus::DETECTED: {
            if (!rec) {
                if (!usable_sn(sn) || cfg_db_.records().size() >= ApConfigDb::kMaxRecords) {
                    OZR_ERROR(&logger_,
                              "DataMinder::{}() - FATAL ERROR - Add AP record failed. sn: {}",
                              __func__, sn);
                    return -1;
                }
                ApRecord r;
                r.sn = sn;
                r.status = ApConfigDb::status_to_string(ApStatus::DETECTED);
                OZR_INFO(&logger_, "{} sn: {} Added AP into DB with detected state ", __func__, sn);
                if (!cfg_db_.db_add_record(sn, r))
                    OZR_ERROR(&logger_,
                              "DataMinder::{}() - FATAL ERROR - Add AP record failed. sn: {}",
                              __func__, sn);
                if (cfg_db_.db_query_record(sn).first != 0)
                    return -1;
                create_timer_info(sn);
                if (HktMgmtMinder* h = hkt())
                    if (HktNode* n = h->add_known_hkt(sn))
                        n->ap_status = ApStatus::DETECTED;
                update_record_identity(sn);
                ramdb_add_ap(*cfg_db_.db_query_record(sn).second);
                return 0;
            }
            cur = get_ap_onboarding_status(sn);
            if (cur == ApStatus::DETECTED) {
                OZR_DEBUG(&logger_,
                          "DataMinder::{}() - AP already in detected state, returning sn: {}",
                          __func__, sn);
                return 0;
            }
            if (cur == ApStatus::CONFIGURED || cur == ApStatus::CONFIGURATION_FAILED) {
                OZR_DEBUG(&logger_,
                          "DataMinder::{}() - AP already in configured/ config failed "
                          "state,returning Serial number: {} state {}",
                          __func__, sn, ApConfigDb::status_to_string(cur));
                return 0;
            }
            break;  // NotDetected (or a status that is none): set to Detected
        }
        case ApStatus::CONFIGURED: {
            if (!rec) {
                OZR_ERROR(&logger_,
                          "DataMinder::{}() - AP doesnt exist to set state Configured, sn: {}",
                          __func__, sn);
                return -1;
            }
            OZR_INFO(&logger_, "DataMinder::{}() - AP current state {} sn: {}", __func__,
                     rec->status, sn);
            if (cur == ApStatus::CONFIGURED) {
                OZR_DEBUG(&logger_,
                          "DataMinder::{}() - AP already in configured state, returning sn: {}",
                          __func__, sn);
                return 0;
            }
            if (cur != ApStatus::DETECTED && cur != ApStatus::CONFIGURATION_FAILED) {
                OZR_ERROR(&logger_,
                          "DataMinder::{}() - Cannot set to Configured, AP in not detected state "
                          "sn: {}",
                          __func__, sn);
                return -1;
            }
            break;
        }
        case ApStatus::CONFIGURATION_FAILED: {
            if (!rec) {
                OZR_ERROR(&logger_,
                          "DataMinder::{}() - AP doesnt exist to set state Configured failed, "
                          "sn: {}",
                          __func__, sn);
                return -1;
            }
            OZR_INFO(&logger_, "DataMinder::{}() - AP current state {} sn: {}", __func__,
                     rec->status, sn);
            if (cur == ApStatus::CONFIGURED) {
                OZR_DEBUG(&logger_,
                          "DataMinder::{}() -AP already in configured state, cannot set to "
                          "Failed sn: {}",
                          __func__, sn);
                return 0;
            }
            if (cur == ApStatus::CONFIGURATION_FAILED) {
                OZR_DEBUG(&logger_,
                          "DataMinder::{}() -AP already in configured failed state sn: {}",
                          __func__, sn);
                return 0;
            }
            if (cur != ApStatus::DETECTED) {
                OZR_ERROR(&logger_,
                          "DataMinder::{}() -Cannot set to Configured failed, AP in not detected "
                          "state sn: {}",
                          __func__, sn);
                return -1;
            }
            break;
        }
        case ApStatus::NOT_DETECTED:
            OZR_ERROR(&logger_, "DataMinder::{}() - Not expected to get NOT_DETECTED state, sn: {}",
                      __func__, sn);
            return -1;
        default:
            OZR_ERROR(&logger_, "DataMinder::{}() - AP status Invalid {}, sn: {}", __func__,
                      static_cast<int>(state), sn);
            return -1;
    }

    // Set to STATE.
    ApRecord r = *rec;
    r.status = ApConfigDb::status_to_string(state);
    if (!cfg_db_.db_update_record(sn, r))
        OZR_ERROR(&logger_, "DataMinder::{}() - Update AP record failed. sn: {}", __func__, sn);
    if (HktMgmtMinder* h = hkt())
        if (HktNode* n = h->find_hkt_from_serial(sn))
            n->ap_status = state;
    update_record_identity(sn);
    if (const ApInfo* e = ramdb_entry(sn))
        OZR_DEBUG(&logger_, "{} Matched- system MAC: {} sn: {}", __func__, mac_text(e->system_mac),
                  sn);
    else
        OZR_ERROR(&logger_, "DataMinder::{}() - FATAL ERROR -  sn: {} Not found in RAM DB",
                  __func__, sn);
    ramdb_add_ap(*cfg_db_.db_query_record(sn).second);
    OZR_INFO(&logger_, "{} Updated AP rec sn: {} state {}", __func__, sn, r.status);
    if (state == ApStatus::CONFIGURED)
        notify_Extender_Authorized(sn);
    return 0;
}

ApStatus DataMinder::get_ap_onboarding_status(const std::string& sn_in) {
    const std::string sn = upper(sn_in);
    const ApInfo* e = ramdb_entry(sn);
    if (!e) {
        OZR_ERROR(&logger_, "DataMinder::{}() sn: {} Not found", __func__, sn);
        return ApStatus::INVALID_STATUS;
    }
    ApStatus s = ApConfigDb::string_to_status(e->status);
    OZR_DEBUG(&logger_, "DataMinder::{}() sn: {} status_str {} status {}", __func__, sn, e->status,
              static_cast<int>(s));
    return s;
}

void DataMinder::update_record_identity(const std::string& sn) {
    const HktMgmtMinder* h = hkt();
    const HktNode* node = h ? h->find_hkt_from_serial(sn) : nullptr;
    const ApRecord* rec = cfg_db_.db_query_record(sn).second;
    if (!node || !rec)
        return;
    ApRecord r = *rec;
    if (!node->model_number.empty())
        r.hw_model = node->model_number;
    if (!node->agent_mac.is_zero())
        r.ale_id = mac_text(node->agent_mac);
    if (!node->system_mac.is_zero())
        r.system_mac = mac_text(node->system_mac);
    r.hostname = node->hostname;
    if (r.hostname.empty()) {
        r.hostname = "host_" + sn;
        OZR_INFO(&logger_,
                 "DataMinder::{}() - No HKT hostname: Generating one. AP sn: {} hostname: {}",
                 __func__, sn, r.hostname);
    }
    if (r != *rec)  // the database is written only when something changed
        cfg_db_.db_update_record(sn, r);
}

// ---- online status ----------------------------------------------------------------------

void DataMinder::notify_ap_status_change(const std::string& sn, bool online) {
    OZR_INFO(&logger_, "DataMinder::{}() - AP Status change. AP sn: {} online: {}", __func__, sn,
             online);
    notify_ap_info_change(sn, AP_PARAM_ONLINE, online);
}

void DataMinder::notify_ap_info_change(const std::string& sn_in, ApParam param, bool online) {
    const std::string sn = upper(sn_in);
    ApInfo* e = ramdb_entry(sn);
    if (!e) {
        OZR_ERROR(&logger_, "DataMinder::{}() - FATAL ERROR - No RAM copy for sn: {}", __func__,
                  sn);
        return;
    }
    const long long now = Context::instance() ? Context::instance()->now() : 0;
    switch (param) {
        case AP_PARAM_IDENTITY: {
            update_record_identity(sn);
            if (const ApRecord* rec = cfg_db_.db_query_record(sn).second)
                ramdb_add_ap(*rec);
            return;
        }
        case AP_PARAM_IP_ADDRESS: {
            const HktMgmtMinder* h = hkt();
            const HktNode* node = h ? h->find_hkt_from_serial(sn) : nullptr;
            e->ipv4 = node && !node->ip_addr.empty() ? node->ip_addr : kDefaultRgwIpv4;
            e->updated_ms = now;
            return;
        }
        case AP_PARAM_ONLINE: {
            ApTimerInfo* t = timer_entry(sn);
            if (online) {
                if (e->online || (t && t->online_wait_active)) {
                    OZR_DEBUG(&logger_, "DataMinder::{}() sn: {} online already (or waiting)",
                              __func__, sn);
                    return;
                }
                start_kway_tree_update_timer(sn);
                return;
            }
            if (t)
                stop_online_wait(*t);
            if (!e->online)
                return;
            e->online = false;
            e->updated_ms = now;
            send_ap_status_change_notification(sn);
            return;
        }
    }
    OZR_ERROR(&logger_, "DataMinder::{}() sn: {} unknown parameter {}", __func__, sn,
              static_cast<int>(param));
}

void DataMinder::notify_ap_bh_change(const backhaul_information& info) {
    OZR_DEBUG(&logger_, "DataMinder::{}() device MAC: {} connected {} cost_to_root {}", __func__,
              info.local_ale.to_string(), info.is_backhaul_connected, info.cost_to_root);
    const ApInfo* found = ramdb_find_by_ale(info.local_ale);
    if (!found)
        return;
    const std::string sn = found->sn;
    ApInfo& e = ramdb_[sn];
    const bool was_connected = e.is_backhaul_connected;
    const MAC old_parent = e.backhaul_ale_mac;
    e.is_backhaul_connected = info.is_backhaul_connected;
    e.backhaul_mac = info.remote_interface;
    e.backhaul_ale_mac = info.remote_ale;
    e.backhaul_quality_value = static_cast<int>(info.quality);
    e.backhaul_quality_string = quality_text(info.quality);
    e.cost_to_gw = info.cost_to_root;
    e.updated_ms = Context::instance() ? Context::instance()->now() : 0;
    OZR_DEBUG(&logger_, "DataMinder::{}() {}", __func__, e.to_string(e.updated_ms));

    // A backhaul change alone never starts the online wait (the vendor agent reports an
    // extender online); a lost backhaul takes an online extender offline at once, and a
    // new uplink of an online one is announced as a topology change.
    ApTimerInfo* t = timer_entry(sn);
    if (!info.is_backhaul_connected) {
        if (t)
            stop_online_wait(*t);
        if (e.online) {
            e.online = false;
            send_ap_status_change_notification(sn);
        }
        return;
    }
    if (e.online && (!was_connected || old_parent != info.remote_ale))
        send_ap_status_change_notification(sn);
}

void DataMinder::start_kway_tree_update_timer(const std::string& sn) {
    ApTimerInfo* t = timer_entry(sn);
    if (!t || t->removed) {
        OZR_ERROR(&logger_, "DataMinder::{}() - sn: {} has no timers", __func__, sn);
        return;
    }
    t->online_wait_active = true;
    t->online_wait_pending = true;
    t->online_wait_count = 0;
    t->online_wait_timer->start(kOnlineWaitMs);
    OZR_INFO(&logger_, "DataMinder::{}() - sn: {} uv_timer {} wait count {}", __func__, sn,
             static_cast<const void*>(t->online_wait_timer.get()), t->online_wait_count);
}

void DataMinder::restart_online_wait(ApTimerInfo& t) {
    t.online_wait_timer->start(kOnlineWaitMs);
}

void DataMinder::stop_online_wait(ApTimerInfo& t) {
    if (t.online_wait_timer)
        t.online_wait_timer->stop();
    t.online_wait_active = false;
    t.online_wait_pending = false;
    t.online_wait_count = 0;
}

void DataMinder::dm_online_wait_timer_cb(const std::string& sn) {
    ApTimerInfo* t = timer_entry(sn);
    if (!t)
        return;
    OZR_DEBUG(&logger_, "DataMinder::{}() - handle {}", __func__,
              static_cast<const void*>(t->online_wait_timer.get()));
    ApInfo* e = ramdb_entry(sn);
    if (!e) {
        stop_online_wait(*t);
        return;
    }
    const map_ale_info_t* ale = e->ale_mac.is_zero() ? nullptr : get_ale(e->ale_mac);
    if (!ale) {
        OZR_INFO(&logger_, "DataMinder::{}() given ale {} not found in kway tree, try again",
                 __func__, mac_text(e->ale_mac));
        if (++t->online_wait_count >= kOnlineWaitTries) {
            OZR_INFO(&logger_,
                     "DataMinder::{}() MAX retry count {} reached, setting AP sn: {} offline",
                     __func__, t->online_wait_count, sn);
            stop_online_wait(*t);
            e->online = false;
            return;
        }
        OZR_INFO(&logger_, "DataMinder::{}() Retrying for one more time, count {} for AP sn: {}",
                 __func__, t->online_wait_count, sn);
        restart_online_wait(*t);
        return;
    }
    // An agent without radios has no BSS to wait for.
    bool all = true;
    for (int i = 0; i < ale->num_radios && i < MAP_MAX_RADIOS_PER_AGENT; ++i) {
        const map_radio_info_t* r = ale->radios[i];
        if (!r)
            continue;
        OZR_DEBUG(&logger_, "DataMinder::{}() radio {}, max_bss {} num_bss {}", __func__,
                  mac_text(r->radio_id), r->max_bss, r->num_bss);
        if (r->num_bss == 0)
            all = false;
    }
    if (all) {
        OZR_INFO(&logger_,
                 "DataMinder::{}() BSS details are updated in K-way, propagating online for AP "
                 "sn: {}",
                 __func__, sn);
        propagate_online(sn);
        return;
    }
    OZR_INFO(&logger_,
             "DataMinder::{}() BSS details are not yet updated in K-way, num_radios {}  AP sn: {} "
             "wait count {}",
             __func__, ale->num_radios, sn, t->online_wait_count);
    if (++t->online_wait_count >= kOnlineWaitTries) {
        OZR_INFO(&logger_,
                 "DataMinder::{}() MAX retry count {} reached, propagating online for AP sn: {}",
                 __func__, t->online_wait_count, sn);
        propagate_online(sn);
        return;
    }
    OZR_INFO(&logger_, "DataMinder::{}() Retrying for one more time, count {} for AP sn: {}",
             __func__, t->online_wait_count, sn);
    restart_online_wait(*t);
}

void DataMinder::propagate_online(const std::string& sn) {
    if (ApTimerInfo* t = timer_entry(sn))
        stop_online_wait(*t);
    ApInfo* e = ramdb_entry(sn);
    if (!e)
        return;
    e->online = true;
    e->updated_ms = Context::instance() ? Context::instance()->now() : 0;
    if (!send_ap_status_change_notification(sn))
        OZR_ERROR(&logger_, "DataMinder::{}() couldnt send status change notification for sn: {}",
                  __func__, sn);
}

// ---- signals ------------------------------------------------------------------------------

bool DataMinder::send_ap_status_change_notification(const std::string& sn_in) {
    const std::string sn = upper(sn_in);
    const ApInfo* e = ramdb_entry(sn);
    if (!e) {
        OZR_ERROR(&logger_, "DataMinder::{}() - FATAL ERROR - No RAM copy for sn: {}", __func__,
                  sn);
        return false;
    }
    OZR_DEBUG(&logger_, "{} AP info found for sn: {}: status_str {}", __func__, sn, e->status);
    if (e->status != ApConfigDb::status_to_string(ApStatus::CONFIGURED)) {
        OZR_INFO(&logger_,
                 "DataMinder::{}() - AP is not in configured state sn: {} so not informing higher "
                 "layer",
                 __func__, sn);
        return true;
    }
    const HktMgmtMinder* h = hkt();
    const HktNode* node = h ? h->find_hkt_from_serial(sn) : nullptr;
    if (!node) {
        OZR_ERROR(&logger_, "DataMinder::{}() - FATAL ERROR - No HKT for sn: {}", __func__, sn);
        return false;
    }
    MeshTopologyChange c;
    c.ap_mac = mac_text(e->ap_mac.is_zero() ? e->ale_mac : e->ap_mac);
    c.status = e->online ? kTopologyChangeOnline : kTopologyChangeOffline;
    c.sw_version = node->sw_version;
    c.sn = sn;
    c.model_name = node->model_number;
    OZR_INFO(&logger_, "DataMinder::{}() - sn: {} sw_ver {}", __func__, sn, c.sw_version);
    OZR_INFO(&logger_, "DataMinder::{}() - MAC: {} Topo change status {}", __func__, c.ap_mac,
             c.status);
    OZR_INFO(&logger_, "DataMinder::{}() - sw {} model_name {}", __func__, c.sw_version,
             c.model_name);
    if (!raise_mesh_topology_change(bus_.get(), c))
        return false;
    OZR_INFO(&logger_, "DataMinder::{}() - sent AP status signal for sn: {}", __func__, sn);
    return true;
}

void DataMinder::notify_Extender_Authorized(const std::string& sn) {
    OZR_INFO(&logger_, "DataMinder::{}()- Invoked with sn: {}", __func__, sn);
    const HktMgmtMinder* h = hkt();
    const HktNode* node = h ? h->find_hkt_from_serial(sn) : nullptr;
    if (!node) {
        OZR_ERROR(&logger_, "DataMinder::{}() - FATAL ERROR - No HKT for sn: {}", __func__, sn);
        return;
    }
    ExtenderAuthRequest r;
    r.mac = mac_text(node->hkt_mac.is_zero() ? node->agent_mac : node->hkt_mac);
    r.sn = node->serial_number;
    r.model = node->model_number;
    r.vendor = node->vendor;
    r.product_class = node->product_class;
    std::memcpy(r.oui, node->oui, sizeof r.oui);
    OZR_INFO(&logger_, "DataMinder::{}() - MAC: {} model: {} sn: {}", __func__, r.mac, r.model,
             r.sn);
    OZR_INFO(&logger_, "DataMinder::{}() - vendor: {} product class: {} OUI: {:02x}:{:02x}:{:02x}",
             __func__, r.vendor, r.product_class, r.oui[0], r.oui[1], r.oui[2]);
    OZR_INFO(&logger_, "DataMinder::{}() - MAC: {} Sending Extender Authorized Notification",
             __func__, r.mac);
    raise_marlow_auth_req(bus_.get(), r);
}

// ---- removal ------------------------------------------------------------------------------

void DataMinder::remove_extender_records(const std::string& sn) {
    if (cfg_db_.db_query_record(sn).first == 0 && cfg_db_.db_delete_record(sn))
        OZR_INFO(&logger_, "DataMinder::{}()- sn: {} Removed successfully from DB", __func__, sn);
    else
        OZR_INFO(&logger_, "DataMinder::{}()- Given sn: {} Not removed from DB", __func__, sn);
    if (ramdb_.erase(sn))
        OZR_INFO(&logger_, "DataMinder::{}()- sn: {} Removed successfully from RAM DB", __func__,
                 sn);
    else
        OZR_INFO(&logger_, "DataMinder::{}()- sn: {} Not Removed from RAM DB", __func__, sn);
    HktMgmtMinder* h = hkt();
    if (h && h->remove_hkt(sn))
        OZR_INFO(&logger_, "DataMinder::{}()- Removing sn: {} from mgmt minder succeeded", __func__,
                 sn);
    else
        OZR_INFO(&logger_, "DataMinder::{}()- Removing sn: {} from mgmt minder failed", __func__,
                 sn);
}

int DataMinder::remove_extender(const std::string& sn_in) {
    OZR_INFO(&logger_, "DataMinder::{}()- sn: {}", __func__, sn_in);
    const std::string sn = upper(sn_in);
    OZR_INFO(&logger_, "DataMinder::{}()- converted to Upper case, sn: {}", __func__, sn);
    if (sn.empty())
        return -1;
    ApInfo* e = ramdb_entry(sn);
    const bool known = e || cfg_db_.db_query_record(sn).first == 0;
    if (!known) {
        // Nothing to remove is no failure; a pending factory reset of an earlier removal
        // keeps its timer.
        OZR_INFO(&logger_, "DataMinder::{}()- sn: {} is not on the white list", __func__, sn);
        remove_extender_records(sn);
        return 0;
    }
    const MAC ale = e ? e->ale_mac : MAC::zero;
    if (e && (e->is_gateway || is_gateway_ap(ale, sn))) {
        OZR_ERROR(&logger_, "DataMinder::{}()- sn: {} is the gateway itself, not removed", __func__,
                  sn);
        return -1;
    }
    OZR_INFO(&logger_, "DataMinder::{}()- sn: {} to be removed", __func__, sn);
    const unsigned long long writes_before = cfg_db_.writes();
    const bool had_record = cfg_db_.db_query_record(sn).first == 0;
    remove_extender_records(sn);
    // The record left memory; a failed write leaves it in the file.
    const bool file_ok = !had_record || cfg_db_.writes() > writes_before;
    ApTimerInfo* t = timer_entry(sn);
    if (t)
        stop_online_wait(*t);

    const map_ale_info_t* a = ale.is_zero() ? nullptr : get_ale(ale);
    if (!a || !t) {
        OZR_INFO(&logger_, "DataMinder::{}()- sn: {} AL MAC: {} not known, no factory reset",
                 __func__, sn, mac_text(ale));
        erase_timer_info(sn);
        return file_ok ? 0 : -1;
    }
    t->removed = true;
    t->ale_mac = ale;
    char key[50];
    std::snprintf(key, sizeof key, "%02x:%02x:%02x:%02x:%02x:%02x%s", ale[0], ale[1], ale[2],
                  ale[3], ale[4], ale[5], kFactoryResetKey);
    auto slot = pending_resets_.emplace(ale, sn).first;
    slot->second = sn;
    void* arg = const_cast<MAC*>(&slot->first);
    if (map_register_retry(key, 5, 3, ale, factory_reset_action, factory_reset_done, arg) != 0) {
        OZR_ERROR(&logger_, "DataMinder::{}()- sn: {} factory reset registration {} failed",
                  __func__, sn, key);
        pending_resets_.erase(ale);
        erase_timer_info(sn);
        return -1;
    }
    OZR_INFO(&logger_, "DataMinder::{}()- sn: {} factory reset registered as {}", __func__, sn,
             key);
    return file_ok ? 0 : -1;
}

int DataMinder::factory_reset_action(void* arg) {
    Context* c = Context::instance();
    if (!c || !c->data_minder || !arg)
        return -1;
    const MAC mac = *static_cast<const MAC*>(arg);
    if (c->hkt_mgmt_minder)
        c->hkt_mgmt_minder->send_factory_reset_request(mac);
    return c->data_minder->start_ap_factory_reset_timer(mac);
}

void DataMinder::factory_reset_done(int status, void* arg) {
    Context* c = Context::instance();
    if (!c || !c->data_minder || !arg)
        return;
    DataMinder* dm = c->data_minder;
    const MAC mac = *static_cast<const MAC*>(arg);
    auto it = dm->pending_resets_.find(mac);
    if (it == dm->pending_resets_.end())
        return;
    const std::string sn = it->second;
    dm->pending_resets_.erase(it);  // ARG points into this entry: not used from here on
    if (status == 0)
        return;
    OZR_ERROR(&dm->logger_, "DataMinder::{}() factory reset of sn: {} AL MAC: {} given up",
              __func__, sn, mac_text(mac));
    ApTimerInfo* t = dm->timer_entry(sn);
    if (t && t->removed && !t->factory_reset_active)
        dm->erase_timer_info(sn);
}

int DataMinder::start_ap_factory_reset_timer(const MAC& mac) {
    for (auto& kv : timers_) {
        ApTimerInfo& t = *kv.second;
        if (!t.removed || t.ale_mac != mac)
            continue;
        if (t.factory_reset_active && t.factory_reset_timer->is_started()) {
            OZR_DEBUG(&logger_, "DataMinder::{}() - uv-timer handle {} already running.", __func__,
                      static_cast<const void*>(t.factory_reset_timer.get()));
            return 0;
        }
        t.factory_reset_active = true;
        t.factory_reset_timer->start(ap_remove_wait_ms_);
        OZR_INFO(&logger_, "DataMinder::{}() - sn: {} uv-timer {} wait count {}", __func__, t.sn,
                 static_cast<const void*>(t.factory_reset_timer.get()), ap_remove_wait_ms_);
        return 0;
    }
    return -1;
}

void DataMinder::ap_factory_reset_wait_timer(const std::string& sn_ref) {
    const std::string sn = sn_ref;  // the timer's entry goes below
    ApTimerInfo* t = timer_entry(sn);
    if (!t)
        return;
    OZR_INFO(&logger_, "DataMinder::{}() - sn: {} handle {}", __func__, sn,
             static_cast<const void*>(t->factory_reset_timer.get()));
    t->factory_reset_active = false;
    if (!t->removed)
        return;
    // Whatever came back while the extender reset itself is removed again.
    remove_extender_records(sn);
    erase_timer_info(sn);
}

// ---- the control bus's views ----------------------------------------------------------------

namespace {
void fill_info(const ApInfo& e, int64_t now, ZkaExtenderInfo_T& out) {
    out = ZkaExtenderInfo_T{};
    zka_set_text(out.sn, e.sn);
    zka_set_text(out.hostname, e.hostname);
    out.status = static_cast<uint8_t>(ApConfigDb::string_to_status(e.status));
    out.online = e.online ? 1 : 0;
    zka_set_text(out.ipv4, e.ipv4);
    std::memcpy(out.system_mac, e.system_mac.data(), 6);
    std::memcpy(out.ale_mac, e.ale_mac.data(), 6);
    std::memcpy(out.ap_mac, e.ap_mac.data(), 6);
    out.is_gateway = e.is_gateway ? 1 : 0;
    out.is_backhaul_connected = e.is_backhaul_connected ? 1 : 0;
    zka_set_text(out.backhaul_ipv4, e.backhaul_ipv4);
    std::memcpy(out.backhaul_mac, e.backhaul_mac.data(), 6);
    std::memcpy(out.backhaul_ale_mac, e.backhaul_ale_mac.data(), 6);
    out.backhaul_quality_value = e.backhaul_quality_value;
    zka_set_text(out.backhaul_quality_string, e.backhaul_quality_string);
    out.cost_to_gw = static_cast<int32_t>(e.cost_to_gw);
    const int64_t secs = e.seconds_since_last_update(now);
    out.seconds_since_last_update = secs > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(secs);
}
}  // namespace

int DataMinder::get_white_list_aps_info(const std::string& sn_in, ZkaExtenderInfoList_T* list) {
    if (!list)
        return -1;
    const std::string sn = upper(sn_in);
    const int64_t now = Context::instance() ? Context::instance()->now() : 0;
    *list = ZkaExtenderInfoList_T{};
    if (!sn.empty()) {
        const ApInfo* e = ramdb_entry(sn);
        if (!e) {
            OZR_ERROR(&logger_, "DataMinder::{}() sn: {} Not found", __func__, sn);
            return -1;
        }
        OZR_DEBUG(&logger_, "DataMinder::{}() {}", __func__, e->to_string(now));
        fill_info(*e, now, list->entries[0]);
        list->count = 1;
        return 0;
    }
    // Every admitted extender, in serial number order, as many as the reply holds.
    for (const auto& kv : ramdb_) {
        if (list->count >= kZkaMaxExtenderInfo) {
            OZR_NOTICE(&logger_, "DataMinder::{}() {} extenders, the reply holds {}", __func__,
                       ramdb_.size(), kZkaMaxExtenderInfo);
            break;
        }
        fill_info(kv.second, now, list->entries[list->count++]);
    }
    return 0;
}

int DataMinder::get_ap_by_mac(const std::string& mac_text, std::string* sn, bool* online) {
    MAC mac;
    if (!MAC::parse(mac_text, mac) || mac.is_zero())
        return -1;
    for (const auto& kv : ramdb_) {
        const ApInfo& e = kv.second;
        if (e.ale_mac == mac || e.system_mac == mac || e.ap_mac == mac) {
            if (sn)
                *sn = e.sn;
            if (online)
                *online = e.online;
            return 0;
        }
    }
    return -1;
}
