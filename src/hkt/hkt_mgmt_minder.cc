#include "hkt/hkt_mgmt_minder.h"

#include <random>

#include "common/clock.h"
#include "common/random_seed.h"
#include "core/cmdu_registry.h"
#include "core/context.h"
#include "core/live_minders.h"
#include "core/log.h"
#include "map/codec/tlv_types.h"
#include "map/datamodel/datamodel.h"
#include "map/map_config.h"
#include "map/map_send.h"
#include "nal/nal.h"

namespace {
// Removed nodes whose vendor agent MAC is remembered for a factory reset.
constexpr size_t kMaxRemembered = 16;
}  // namespace

HktMgmtMinder::HktMgmtMinder(uv_loop_s* loop)
    : logger_(root_logger, "mgmt", "", -1), loop_(loop), generation_(live_minder_join(this)) {
    int level = find_config_log_level("root.mgmt");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
    rng_.seed(ozr_random_seed());
    if (loop_) {
        discovery_poll_.reset(
            new OneShotTimer(loop_, "hkt_discovery_poll", [this] { on_discovery_poll(); }));
        discovery_burst_.reset(
            new OneShotTimer(loop_, "hkt_discovery_burst", [this] { on_discovery_burst(); }));
        bh_8bytes_.reset(
            new OneShotTimer(loop_, "8bytes_bh_timer", [this] { on_ap_8bytes_bh_timer(); }));
        offline_check_.reset(new Timer(loop_, "hkt_offline_check", [this] { on_offline_check(); }));
    }
    register_cmdu_handlers();
}

HktMgmtMinder::~HktMgmtMinder() {
    live_minder_leave(generation_);
    ap_status_timers_.clear();
    discovery_poll_.reset();
    discovery_burst_.reset();
    bh_8bytes_.reset();
    offline_check_.reset();
}

void HktMgmtMinder::register_cmdu_handlers() {
    struct Entry {
        uint16_t type;
        void (HktMgmtMinder::*fn)(CMDU*);
    };
    static const Entry entries[] = {
        {CMDU_TYPE_AP_AUTOCONFIGURATION_SEARCH, &HktMgmtMinder::on_ac_search},
        {CMDU_TYPE_AP_AUTOCONFIGURATION_WSC, &HktMgmtMinder::on_ac_wsc},
        {CMDU_TYPE_VENDOR_SPECIFIC, &HktMgmtMinder::on_vend_spec},
    };
    for (const Entry& e : entries) {
        const Entry* entry = &e;
        uint64_t gen = generation_;
        add_cmdu_handler(e.type, nullptr, [entry, gen](CMDU* cmdu) {
            if (HktMgmtMinder* m = live_minder<HktMgmtMinder>(gen); m && cmdu)
                (m->*entry->fn)(cmdu);
        });
    }
}

Err HktMgmtMinder::init(Context& /*context*/) {
    add_tlv_handler(HKT_TLV_DISCOVERY_RESPONSE,
                    [this](CMDU* c, void* t) { on_hkt_disc_resp(c, t); });
    add_tlv_handler(HKT_TLV_IP_CHANGE_NOTIFICATION,
                    [this](CMDU* c, void* t) { on_hkt_ip_change_notification(c, t); });
    add_tlv_handler(HKT_TLV_HEARTBEAT, [this](CMDU* c, void* t) { on_hkt_heartbeat(c, t); });
    add_tlv_handler(HKT_TLV_EX_NOTIFICATION,
                    [this](CMDU* c, void* t) { on_hkt_ex_notification(c, t); });
    add_tlv_handler(HKT_TLV_IP_INFO_QUERY,
                    [this](CMDU* c, void* t) { on_hkt_ip_info_query(c, t); });
    add_tlv_handler(HKT_TLV_VSN_QUERY, [this](CMDU* c, void* t) { on_hkt_vsn_query(c, t); });
    char vsn[HKT_MAX_VSN + 1] = {};
    if (nal_getVirtualSN(vsn, sizeof vsn) == 0 && vsn[0] != '\0')
        vsn_ = vsn;
    else
        vsn_ = "00000000";
    OZR_INFO(&logger_, "HktMgmtMinder::{}() virtual sn: {}", __func__, vsn_);
    return Err(0);
}

void HktMgmtMinder::run() {
    OZR_INFO(&logger_, "HktMgmtMinder::{}() running", __func__);
    // The extenders admitted in earlier runs are tracked before they are discovered.
    HktDataPeer* dm = data_peer_;
    if (dm) {
        for (const std::string& sn : dm->get_white_list_aps())
            if (HktNode* n = add_known_hkt(sn))
                n->ap_status = dm->get_ap_onboarding_status(sn);
    }
    if (offline_check_)
        offline_check_->start(kOfflineCheckMs, -1);
    if (discovery_poll_)
        discovery_poll_->start(kDiscoveryPollMs + jitter(kDiscoveryPollJitterMs));
}

void HktMgmtMinder::add_tlv_handler(unsigned char type, TlvHandler handler) {
    if (handler)
        callbacks_[type] = std::move(handler);
}

int64_t HktMgmtMinder::now() const {
    const Context* c = Context::instance();
    return c ? c->now() : get_current_time_ms();
}

long long HktMgmtMinder::jitter(long long span) {
    return std::uniform_int_distribution<long long>(-span, span)(rng_);
}

BaseTimer* HktMgmtMinder::find_timer(const std::string& name) const {
    if (name == "hkt_discovery_poll")
        return discovery_poll_.get();
    if (name == "hkt_discovery_burst")
        return discovery_burst_.get();
    if (name == "8bytes_bh_timer")
        return bh_8bytes_.get();
    if (name == "hkt_offline_check")
        return offline_check_.get();
    return nullptr;
}

BaseTimer* HktMgmtMinder::ap_status_timer(const std::string& sn) const {
    auto it = ap_status_timers_.find(hkt_upper_sn(sn));
    return it == ap_status_timers_.end() ? nullptr : it->second.get();
}

// ---- registry ---------------------------------------------------------------------------

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
    nodes_.reserve(kMaxHktNodes);  // at the first node: node pointers stay valid
    nodes_.push_back(std::move(n));
    return &nodes_.back();
}

bool HktMgmtMinder::remove_hkt(const std::string& sn) {
    const std::string key = hkt_upper_sn(sn);
    for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
        if (it->serial_number != key)
            continue;
        OZR_INFO(&logger_, "{} - Removing HKT - sn: {}", __func__, key);
        if (!it->agent_mac.is_zero() && !it->hkt_mac.is_zero()) {
            if (removed_.size() >= kMaxRemembered && !removed_.count(it->agent_mac))
                removed_.erase(removed_.begin());
            removed_[it->agent_mac] = Removed{it->hkt_mac, key};
        }
        ap_status_timers_.erase(key);
        nodes_.erase(it);
        return true;
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
        if (n.hkt_mac == mac)
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

// ---- discovery ----------------------------------------------------------------------------

void HktMgmtMinder::on_discovery_poll() {
    burst_left_ = kDiscoveryBurst;
    last_burst_ms_ = now();
    on_discovery_burst();
}

void HktMgmtMinder::on_discovery_burst() {
    if (burst_left_ <= 0)
        return;
    --burst_left_;
    send_hkt_discovery_request();
    if (burst_left_ > 0 && discovery_burst_)
        discovery_burst_->start(kDiscoveryBurstMs + jitter(kDiscoveryBurstJitterMs));
}

// ---- onboarding state and online status -----------------------------------------------------

void HktMgmtMinder::set_ap_status(HktNode& node, ApStatus status) {
    if (node.ap_status == status)
        return;
    // A node that leaves the configured state is no longer online: only a configured node
    // can be marked offline later.
    if (node.is_online && status != ApStatus::CONFIGURED)
        set_online(node, false);
    node.ap_status = status;
    if (data_peer_)
        data_peer_->update_ap_state(node.serial_number, status);
}

void HktMgmtMinder::start_ap_status_timer(HktNode& node) {
    if (!loop_)
        return;
    std::unique_ptr<OneShotTimer>& t = ap_status_timers_[node.serial_number];
    if (!t) {
        const std::string sn = node.serial_number;
        t.reset(new OneShotTimer(loop_, "hkt_ap_status_check",
                                 [this, sn] { check_ap_status(find_hkt_from_serial(sn)); }));
    }
    if (t->is_started()) {
        OZR_DEBUG(&logger_, "{} - ap_status timer active, stopping before restart", __func__);
        t->stop();
    }
    OZR_DEBUG(&logger_, "{} - ap_status timer starting - sn: {}", __func__, node.serial_number);
    t->start(kApStatusCheckMs);
}

void HktMgmtMinder::check_ap_status(HktNode* node) {
    if (!node)
        return;
    const map_ale_info_t* ale = node->agent_mac.is_zero() ? nullptr : get_ale(node->agent_mac);
    // The check repeats after every discovery: a state that does not change is debug.
    if (ale) {
        OZR_LOG(&logger_, node->ap_status == ApStatus::CONFIGURED ? 7 : 6,
                "{}:{} - Set ApStatus::CONFIGURED - sn: {}", __func__, __LINE__,
                node->serial_number);
        set_ap_status(*node, ApStatus::CONFIGURED);
        return;
    }
    const int level = node->ap_status == ApStatus::CONFIGURATION_FAILED ? 7 : 4;
    OZR_LOG(&logger_, level, "{} - Failed to find ALE of co-located agent: sn: {}, {}", __func__,
            node->serial_number, node->agent_mac.to_string());
    OZR_LOG(&logger_, level == 7 ? 7 : 6, "{}:{} - Set ApStatus::CONFIGURATION_FAILED - sn: {}",
            __func__, __LINE__, node->serial_number);
    set_ap_status(*node, ApStatus::CONFIGURATION_FAILED);
}

void HktMgmtMinder::set_online(HktNode& node, bool online) {
    if (online == node.is_online || node.ap_status != ApStatus::CONFIGURED)
        return;
    hkt_backhaul_information_notify_tlv bh;
    bool have_bh = false;
    if (!node.agent_mac.is_zero() && graph_peer_)
        have_bh = graph_peer_->agent_backhaul(node.agent_mac, bh);
    if (online) {
        if (!node.got_discovery || now() - node.last_heard > kOfflineAfterMs)
            return;
        if (!node.agent_mac.is_zero() && !(have_bh && bh.is_backhaul_connected))
            return;
        node.is_online = true;
        OZR_NOTICE(&logger_, "{} - sn: {} hkt MAC: {} is ONLINE", __func__, node.serial_number,
                   node.hkt_mac.to_string());
        nal_notifyApOnlineStatus(node.serial_number.c_str(), 1, node.hkt_mac.to_string().c_str());
        if (data_peer_)
            data_peer_->notify_ap_status_change(node.serial_number, true);
        check_ap_capabilites();
    } else {
        node.is_online = false;
        node.got_discovery = false;
        OZR_NOTICE(&logger_, "{} - sn: {} hkt MAC: {} is OFFLINE", __func__, node.serial_number,
                   node.hkt_mac.to_string());
        nal_notifyApOnlineStatus(node.serial_number.c_str(), 0, node.hkt_mac.to_string().c_str());
        if (data_peer_)
            data_peer_->notify_ap_status_change(node.serial_number, false);
    }
    if (have_bh && bh.is_backhaul_connected)
        send_hkt_backhaul_information_notify(node.agent_mac, bh);
}

void HktMgmtMinder::on_offline_check() {
    const int64_t t = now();
    for (HktNode& n : nodes_) {
        if (!n.is_online || t - n.last_heard <= kOfflineAfterMs)
            continue;
        OZR_NOTICE(&logger_, "{} - Marking {} as OFFLINE", __func__, n.serial_number);
        set_online(n, false);
    }
}

void HktMgmtMinder::notify_ap_bh_change(const MAC& local_ale, bool is_backhaul_connected) {
    HktNode* node = find_hkt_from_agent(local_ale);
    if (!node) {
        OZR_DEBUG(&logger_, "{} - Node {} not found", __func__, local_ale.to_string());
        return;
    }
    OZR_INFO(&logger_, "{} - connected: {}, local_ale_mac: {}", __func__, is_backhaul_connected,
             local_ale.to_string());
    OZR_INFO(&logger_, "{} - is_backhaul_connected: {} - setting {} state", __func__,
             is_backhaul_connected, is_backhaul_connected ? "ONLINE" : "OFFLINE");
    set_online(*node, is_backhaul_connected);
}

// ---- capabilities and the legacy backhaul VAP ---------------------------------------------------

namespace {
// The vendor agent of the gateway's own Multi-AP agent (its HKT MAC when discovered).
MAC local_vendor_agent(const HktMgmtMinder& m) {
    const MAC& local = getMAPAgentAlMac();
    const HktNode* n = m.find_hkt_from_agent(local);
    return n && !n->hkt_mac.is_zero() ? n->hkt_mac : local;
}
void legacy_backhaul(const HktMgmtMinder& m, bool enabled) {
    if (HktConfigPeer* cfg = m.config_peer())
        cfg->set_backhaul_vap_enabled_8Byte_ssidpw(local_vendor_agent(m), enabled);
}
}  // namespace

bool HktMgmtMinder::needs_legacy_backhaul(const HktNode& n) const {
    if (n.hkt_mac.is_zero() || !n.is_online || (n.minders_present & kMinder8ByteBackhaul) == 0)
        return false;
    // Once the extender runs the table's backhaul BSS it has the full-length credentials.
    const map_credential_config_t* table = map_get_m2_config();
    const std::vector<HKTVapInfo>* vaps =
        graph_peer_ && !n.agent_mac.is_zero() ? graph_peer_->agent_vaps(n.agent_mac) : nullptr;
    if (!table || !vaps)
        return true;
    for (uint8_t i = 0; i < table->count && i < kMaxCredentials; ++i) {
        const map_vap_credential_t& cred = table->creds[i];
        if ((cred.bss_type & MAP_CRED_BACKHAUL) == 0)
            continue;
        for (const HKTVapInfo& v : *vaps)
            if ((v.bss_type & 2) != 0 && v.ssid == cred.ssid)
                return false;
    }
    return true;
}

void HktMgmtMinder::check_ap_capabilites() {
    bool need = false;
    for (const HktNode& n : nodes_) {
        if (n.hkt_mac.is_zero())
            continue;
        OZR_INFO(&logger_, "{}: AP MAC {} -HKT minder management capabilities {:08x}", __func__,
                 n.hkt_mac.to_string(), n.minders_present);
        need = need || needs_legacy_backhaul(n);
    }
    if (!bh_8bytes_)
        return;
    if (need) {
        const bool open = bh_8bytes_->is_started();
        if (open) {
            OZR_DEBUG(&logger_, "{} - 8bytes_bh timer active, stopping before restart", __func__);
            bh_8bytes_->stop();
        }
        OZR_INFO(&logger_, "{} - 8bytes_bh timer starting", __func__);
        bh_8bytes_->start(k8BytesBhMs);
        if (!open)
            legacy_backhaul(*this, true);
    } else if (bh_8bytes_->is_started()) {
        OZR_INFO(&logger_, "{} - 8bytes_bh timer active, stopping", __func__);
        bh_8bytes_->stop();
        legacy_backhaul(*this, false);
    }
}

void HktMgmtMinder::review_legacy_backhaul() {
    if (!bh_8bytes_ || !bh_8bytes_->is_started())
        return;
    for (const HktNode& n : nodes_)
        if (needs_legacy_backhaul(n))
            return;
    OZR_INFO(&logger_, "{} - 8bytes_bh timer active, stopping", __func__);
    bh_8bytes_->stop();
    legacy_backhaul(*this, false);
}

void HktMgmtMinder::on_ap_8bytes_bh_timer() {
    OZR_INFO(&logger_, "{} - setBackhaulVapEnabled8ByteSSIDPW", __func__);
    legacy_backhaul(*this, false);
}

int HktMgmtMinder::handle_marlow_join(const int* state) {
    if (!state) {
        OZR_ERROR(&logger_, "HktMgmtMinder::{}() state is NULL", __func__);
        return -1;
    }
    OZR_INFO(&logger_, "HktMgmtMinder::{}() state {}", __func__, *state);
    if (*state == 1 && bh_8bytes_ && bh_8bytes_->is_started()) {
        OZR_INFO(&logger_, "{} - 8bytes_bh timer active, stopping", __func__);
        bh_8bytes_->stop();
        legacy_backhaul(*this, false);
    }
    return 0;
}
