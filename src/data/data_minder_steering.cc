// The data minder's side of steering: the client database, the forwarders of the steering
// settings for D-Bus and REST, and the periodic AP metrics query.
#include "core/context.h"
#include "core/log.h"
#include "data/data_minder.h"
#include "graph/graph_enums.h"
#include "graph/graph_minder.h"
#include "graph/sta_capability.h"
#include "steering/steering_minder.h"

namespace {
SteeringMinder* steering() {
    Context* c = Context::instance();
    return c ? c->steering_minder : nullptr;
}
bool is_5g(Medium m) {
    return m == Medium::WIFI_5G || m == Medium::WIFI_5G_LOW || m == Medium::WIFI_5G_HIGH;
}
}  // namespace

// ---- client database ----------------------------------------------------------------------

int DataMinder::client_band_capability(const MAC& sta) const {
    const ClientRecord* r = client_db_.db_query_record(sta.to_string()).second;
    if (r == nullptr)
        return -1;
    const bool b2 = r->band_2g || r->ch_2g;
    const bool b5 = r->band_5g || r->ch_5g;
    if (b2 && b5)
        return static_cast<int>(wifi_system_type::DUAL_BAND);
    return b5 ? static_cast<int>(wifi_system_type::ONLY_5G)
              : static_cast<int>(wifi_system_type::ONLY_2G);
}

void DataMinder::note_client_band(const MAC& sta, Medium medium) {
    const std::string key = sta.to_string();
    const ClientRecord* old = client_db_.db_query_record(key).second;
    if (old == nullptr && client_db_.records().size() >= ClientInfoDb::kMaxRecords)
        return;  // full: the clients it holds keep their places
    ClientRecord rec = old ? *old : ClientRecord();
    if (medium == Medium::WIFI_2G)
        rec.band_2g = 1;
    else if (is_5g(medium))
        rec.band_5g = 1;
    else
        return;
    if (old == nullptr) {
        if (client_db_.db_add_record(key, rec))
            OZR_DEBUG(&logger_, "DataMinder::{} - client MAC: {} add to db", __func__, key);
    } else if (rec != *old) {
        if (client_db_.db_update_record(key, rec))
            OZR_DEBUG(&logger_, "DataMinder::{} - client MAC: {} renew success", __func__, key);
    }
}

void DataMinder::note_client_obeyed(const MAC& sta) {
    const std::string key = sta.to_string();
    const ClientRecord* old = client_db_.db_query_record(key).second;
    if (old == nullptr || old->c1_obey == 255)
        return;
    ClientRecord rec = *old;
    ++rec.c1_obey;
    client_db_.db_update_record(key, rec);
}

void DataMinder::notify_client_cap_info(const MAC& sta, const StaCapabilityInfo& caps) {
    const std::string key = sta.to_string();
    const ClientRecord* old = client_db_.db_query_record(key).second;
    if (old == nullptr && client_db_.records().size() >= ClientInfoDb::kMaxRecords) {
        OZR_DEBUG(&logger_, "DataMinder::{} - client MAC: {} not stored: client db full", __func__,
                  key);
        return;
    }
    ClientRecord rec = old ? *old : ClientRecord();
    rec.ch_2g = caps.supported_channels_2g;
    rec.ch_5g = caps.supported_channels_5g;
    if (old == nullptr) {
        if (client_db_.db_add_record(key, rec))
            OZR_INFO(&logger_, "DataMinder::{} - client MAC: {} add to db", __func__, key);
    } else if (rec != *old) {
        if (client_db_.db_update_record(key, rec))
            OZR_INFO(&logger_, "DataMinder::{} - client MAC: {} renew success", __func__, key);
    }
}

bool DataMinder::sync_client_cap_info(const MAC& sta, StaCapabilityInfo& caps) {
    const ClientRecord* r = client_db_.db_query_record(sta.to_string()).second;
    if (r == nullptr) {
        OZR_DEBUG(&logger_, "DataMinder::{}() - client not found, MAC: {}", __func__,
                  sta.to_string());
        return false;
    }
    if (caps.supported_channels_2g == 0 && caps.supported_channels_5g == 0) {
        caps.supported_channels_2g = static_cast<uint16_t>(r->ch_2g);
        caps.supported_channels_5g = static_cast<uint32_t>(r->ch_5g);
    }
    return true;
}

// ---- periodic AP metrics -------------------------------------------------------------------

void DataMinder::start_ap_metrics_schedule() {
    if (!ap_metrics_timer_)
        ap_metrics_timer_ = std::make_unique<Timer>(loop_, "ap_metrics_query", [] {
            Context* c = Context::instance();
            if (c && c->graph_minder)
                c->graph_minder->send_ap_metric_query();
        });
    ap_metrics_timer_->start(kApMetricsQueryMs, -1);
}

// ---- steering settings ---------------------------------------------------------------------

#define OZR_STEER_SET(stmt)                 \
    do {                                    \
        if (SteeringMinder* s = steering()) \
            s->stmt;                        \
    } while (0)

void DataMinder::global_steer_enable(bool v) {
    OZR_STEER_SET(global_steer = v);
}
void DataMinder::bsteering_enable(bool v) {
    OZR_STEER_SET(bsteering = v);
}
void DataMinder::backoff_enable(bool v) {
    OZR_STEER_SET(backoff = v);
}
void DataMinder::free_roaming_enable(bool v) {
    OZR_STEER_SET(free_roaming = v);
}
void DataMinder::set_rssi_threshold(BsteeringRssiThreshold& v) {
    OZR_STEER_SET(bsteer_rssi = v);
}
void DataMinder::msteering_enable(bool v) {
    OZR_STEER_SET(msteering = v);
}
void DataMinder::set_roaming_margin(unsigned char v) {
    OZR_STEER_SET(msteer_ratio = v);
}
void DataMinder::idle_steer_enable(bool v) {
    OZR_STEER_SET(idle_steer = v);
}
void DataMinder::set_idle_threshold(unsigned short v) {
    OZR_STEER_SET(idle_tput_size = v);
}
void DataMinder::set_free_roaming_threshold(unsigned short v) {
    OZR_STEER_SET(free_roaming_threshold = v);
}
void DataMinder::set_bsteer_ping_pong_offset_cal(signed char v) {
    OZR_STEER_SET(ping_pong_offset_cal = v);
}
void DataMinder::set_bsteer_decision_window(unsigned int v) {
    OZR_STEER_SET(decision_window_size = static_cast<uint16_t>(v));
}
void DataMinder::set_bsteer_decision_chance(float v) {
    OZR_STEER_SET(decision_chance = v);
}
void DataMinder::set_roaming_back_check_time(unsigned int v) {
    OZR_STEER_SET(roam_back_check_time = v);
}
void DataMinder::set_bsteer_min_safe_rssi_2g(int v) {
    OZR_STEER_SET(min_safe_rssi_2g = static_cast<int8_t>(v));
}
void DataMinder::set_msteer_5g_rssi(int v) {
    OZR_STEER_SET(msteer_rssi_5g = static_cast<int8_t>(v));
}
void DataMinder::enable_hkt_steering(bool v) {
    OZR_STEER_SET(hkt_steering = v);
}
void DataMinder::set_steering_cat(int v) {
    OZR_STEER_SET(steering_cat = v);
}
void DataMinder::enable_bsteer_ping_pong_check(bool v) {
    OZR_STEER_SET(ping_pong_check = v);
}
void DataMinder::enable_bsteer_ping_pong_check_5g(bool v) {
    OZR_STEER_SET(ping_pong_check_5g = v);
}
void DataMinder::enable_bsteer_ping_pong_check_2g(bool v) {
    OZR_STEER_SET(ping_pong_check_2g = v);
}
void DataMinder::set_free_roaming_time(unsigned int v) {
    OZR_STEER_SET(free_roaming_lifetime = v);
}
void DataMinder::set_btm_disassoc_timer(unsigned int v) {
    OZR_STEER_SET(btm_disassoc_time = static_cast<uint16_t>(v));
}
void DataMinder::steering_system_reset() {
    OZR_STEER_SET(steering_policy_init());
}

#undef OZR_STEER_SET

int DataMinder::set_steering_threshold(const ZkaSteeringThresholdConfig_T* cfg) {
    if (cfg == nullptr) {
        OZR_ERROR(&logger_, "DataMinder::{}() in_msg is NULL", __func__);
        return -1;
    }
    SteeringMinder* s = steering();
    if (s == nullptr)
        return -1;
    const uint32_t m = cfg->valid_mask;
    auto rssi_ok = [](int8_t v) { return v <= -1 && v >= -123; };
    // Everything is checked before anything is applied.
    if (((m & ZKA_STEER_RSSI_5TO2) && !rssi_ok(cfg->bsteer_rssi_5to2)) ||
        ((m & ZKA_STEER_RSSI_2TO5) && !rssi_ok(cfg->bsteer_rssi_2to5)) ||
        ((m & ZKA_STEER_MSTEER_RSSI_5G) && !rssi_ok(cfg->msteer_rssi_5g)) ||
        ((m & ZKA_STEER_MIN_SAFE_RSSI_2G) && !rssi_ok(cfg->min_safe_rssi_2g)) ||
        ((m & ZKA_STEER_FREE_ROAMING_THRESHOLD) && cfg->free_roaming_threshold < 1) ||
        (m & ~0x7fu)) {
        OZR_ERROR(&logger_,
                  "DataMinder::{}() mask 0x{:x} rssi 5to24 {} 24to5 {} 5g {} safe 2g {} "
                  "free roaming threshold {}: value out of range",
                  __func__, m, cfg->bsteer_rssi_5to2, cfg->bsteer_rssi_2to5, cfg->msteer_rssi_5g,
                  cfg->min_safe_rssi_2g, cfg->free_roaming_threshold);
        return -1;
    }
    if (m & (ZKA_STEER_RSSI_5TO2 | ZKA_STEER_RSSI_2TO5)) {
        BsteeringRssiThreshold t = s->bsteer_rssi;
        if (m & ZKA_STEER_RSSI_5TO2)
            t.rssi_5to2 = cfg->bsteer_rssi_5to2;
        if (m & ZKA_STEER_RSSI_2TO5)
            t.rssi_2to5 = cfg->bsteer_rssi_2to5;
        set_rssi_threshold(t);
    }
    if (m & ZKA_STEER_MSTEER_RATIO)
        set_roaming_margin(cfg->msteer_ratio);
    if (m & ZKA_STEER_MSTEER_RSSI_5G)
        set_msteer_5g_rssi(cfg->msteer_rssi_5g);
    if (m & ZKA_STEER_MIN_SAFE_RSSI_2G)
        set_bsteer_min_safe_rssi_2g(cfg->min_safe_rssi_2g);
    if (m & ZKA_STEER_IDLE_THRESHOLD)
        set_idle_threshold(cfg->idle_threshold);
    if (m & ZKA_STEER_FREE_ROAMING_THRESHOLD)
        set_free_roaming_threshold(cfg->free_roaming_threshold);
    OZR_INFO(&logger_, "DataMinder::{}() mask 0x{:x} applied", __func__, m);
    return 0;
}
