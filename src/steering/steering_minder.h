// Client and backhaul steering.
//
// The work is split by concern over several files:
//   steering_minder.cc    construction, timers, the settings, the platform policy
//   client_steering.cc    the steering tick: decision window, band and mesh steering,
//                         outcome check, back-off, ping-pong protection, idle clients
//   steering_dispatch.cc  steering and access-control requests sent to agents, kick_out,
//                         access control, garbage collection
//   btm_report.cc         the agents' BTM reports and the per-client counters
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/mac.h"
#include "core/minder.h"
#include "core/timer.h"
#include "graph/graph_enums.h"
#include "graph/graph_peers.h"
#include "log/logger.h"
#include "map/cmdu.h"
#include "steering/client_paths.h"
#include "steering/steering_peers.h"

struct uv_loop_s;
class Device;
class Graph;
class Link;
class Sta;
class WirelessLink;
class UnassociatedLink;
struct FailedConnectionMesg;
struct BackhaulSteeringResponseMesg;
class BackhaulSteering;

// The band steering thresholds: 5 GHz to 2.4 GHz, then 2.4 GHz to 5 GHz (dBm).
struct BsteeringRssiThreshold {
    int8_t rssi_5to2 = -80;
    int8_t rssi_2to5 = -56;
};

// A client of the band preference list.
struct WiFiBandPreference {
    MAC mac;
    bool mac_match(const MAC& m) const { return m == mac; }
};

class SteeringMinder : public Minder, public GraphSteeringPeer {
  public:
    // Builds the "steering" category logger (path "root.steering") with its configured
    // level, the five timers and the BTM report handler.
    explicit SteeringMinder(uv_loop_s* loop);
    ~SteeringMinder() override;
    SteeringMinder(const SteeringMinder&) = delete;
    SteeringMinder& operator=(const SteeringMinder&) = delete;

    // Starts the timers, then applies the defaults and the platform steering policy.
    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }

    // The data minder above, handed over by the assembly (null: none).
    void set_data_peer(SteeringDataPeer* peer) { data_peer_ = peer; }
    // The JSON configuration handler ("ozr-config", of the control bus above) that
    // steering_policy_init hands the platform's policy to; the assembly hands it over
    // (none: the defaults stay).
    using JsonConfigHandler = std::function<void(const char* text)>;
    void set_json_config_handler(JsonConfigHandler handler) { json_config_ = std::move(handler); }

    // ---- settings (read by every decision; defaults applied by steering_policy_init)
    bool global_steer = true;   // "global"
    bool backoff = true;        // "back-off"
    bool free_roaming = true;   // "free-roaming"
    bool idle_steer = true;     // "no-idle-steering"
    bool load_balance = false;  // "load-balance"
    bool rrm_en = true;         // policy "rrm_en"
    uint16_t free_roaming_threshold = 10;
    uint32_t free_roaming_lifetime = 86400;  // s
    uint32_t roam_back_check_time = 0;       // s; construction only
    uint16_t btm_disassoc_time = 0;
    uint16_t min_backoff_time = 120;      // s
    uint16_t min_steer_interval_c1 = 15;  // s
    uint16_t min_steer_interval_c2 = 30;  // s
    uint16_t min_steer_interval_a = 60;   // s
    uint16_t c1_to_c2_threshold = 3;      // unsuccessful steers
    uint32_t idle_tput_size = 10000;      // bytes per second
    bool btm_assisted = false;
    bool hkt_steering = true;
    int32_t steering_cat = 0;  // category override (0: none); construction only
    bool decision_window = true;
    float decision_chance = 0.7f;
    uint16_t decision_window_size = 30;  // samples (one per tick)
    uint16_t ping_pong_hold_ticks = 3;   // ticks a detected ping-pong holds band steering
    int8_t sample_floor_rssi = -80;      // samples below this are not favourable to 2.4 GHz
    bool bnd_prefer_5g_en = false;
    uint32_t bnd_prefer_mode = 0;  // 0 all clients, 1 listed clients only
    uint32_t bnd_prefer_dis_timer = 10;
    std::vector<WiFiBandPreference> bnd_prefer_entries;
    bool bsteering = true;
    BsteeringRssiThreshold bsteer_rssi;
    uint32_t rrm_query_interval_ms = 30000;  // beacon queries per client at most this often
    bool ping_pong_check = true;             // "dancing"
    int8_t ping_pong_offset_cal = 0;
    int8_t min_safe_rssi_2g = -45;
    bool ping_pong_check_5g = false;
    bool ping_pong_check_2g = true;
    bool msteering = true;
    uint8_t msteer_ratio = 50;
    int8_t msteer_rssi_2g = -70;
    int8_t msteer_rssi_5g = -80;

    // Applies the defaults, then the platform steering policy (when the platform has one).
    void steering_policy_init();
    // Stores one integer member of the JSON steering configuration (the policy keys:
    // "bsteer_rssi_5to2" ... "rrm_en"), narrowed to the member's width. 0 on success;
    // -1 when the key is unknown.
    int set_steering_config_value(const std::string& key, long long value);
    // Replaces the band preference list. 0 on success.
    int set_bnd_prefer_entries(const std::vector<MAC>& entries);
    // Every setting with its REST key, in table order, as JSON text values ("true", "-80").
    std::vector<std::pair<std::string, std::string>> settings_by_rest_key() const;

    // ---- per-client state
    // Ping-pong watch: samples judged together, how long after a band steer, and the hold
    // a ping-pong gives.
    static constexpr uint8_t kPingPongSamples = 5;
    static constexpr uint64_t kPingPongWatchMs = 60000;
    static constexpr int32_t kPingPongHoldTicks = 60;
    struct SteeringReNode {
        MAC mac;
        int32_t window_state = 0;  // 2 while a decision window is open
        uint64_t window_start_ms = 0;
        bool window_ended = false;
        std::vector<int8_t> rssi_samples;
        float steer_probability = 1.0f;
        bool steered = false;
        int32_t reject_count = 0;
        bool reject_flag = false;
        uint64_t reject_ms = 0;
        int32_t ping_pong_ticks = 0;
        bool ping_pong_hold = false;
        uint64_t last_steer_ms = 0;
        BSSID last_steer_bssid;
        BSSID last_src_bssid;
        uint8_t last_dst_channel = 0;
        bool last_steer_band = false;  // the last steer was a band steer
        Medium last_steer_medium = Medium::UNKNOWN;
        bool unsteer_checked = true;  // the outcome of the last steer was judged
        uint8_t backoff_counter = 0;
        int32_t band_capability = -1;  // wifi_system_type; -1 unknown
        // From the client's non-preferred channel report (its association request):
        // preference_state 1 while it has told one; band_preference 3 when every 5 GHz
        // channel it supports is non-preferred (it prefers 2.4 GHz), else 0.
        int32_t band_preference = 0;
        int32_t preference_state = 0;
        // Ping-pong watch after a band steer: the serving RSSI of the last ticks on the new
        // band (a loop of kPingPongSamples), judged once per steer.
        int8_t pp_samples[kPingPongSamples] = {};
        uint8_t pp_count = 0;
        uint8_t pp_next = 0;
        bool pp_judged = false;
        uint64_t created_ms = 0;
        uint64_t last_active_ms = 0;
        uint64_t last_rrm_ms = 0;
        // BTM outcomes
        uint64_t btm_ms = 0;
        uint8_t btm_status = 0;
        uint32_t accept = 0;
        uint32_t reject = 0;
        uint32_t status_count[9] = {};  // [1..8]: the 802.11 BTM status codes
        uint32_t steers = 0;            // requests sent
    };
    struct AccessControlNode {
        MAC mac;
        struct Block {
            BSSID bssid;
            MAC agent;
            uint64_t until_ms = 0;  // 0: released
            bool admin = false;
        };
        std::vector<Block> blocks;
        uint64_t last_active_ms = 0;
    };
    // One client of a steering request.
    struct SteeringEntry {
        MAC sta;
        BSSID target;  // broadcast: the client chooses
        uint8_t op_class = 0;
        uint8_t channel = 0;
        sta_categories category = sta_categories::CONTROLLED_STEERING_CLASS1;
        int8_t rssi = 0;  // at the serving BSS
        bool band = false;
    };
    struct SteeringMandate {
        BSSID src;
        MAC agent;
        std::vector<SteeringEntry> entries;
    };
    struct AclEntry {
        MAC sta;
        BSSID src;
    };
    struct AclMandate {
        MAC agent;
        uint8_t control = 0;  // ASSOCIATION_CONTROL_BLOCK / _UNBLOCK
        BSSID bssid;
        uint32_t validity_s = 0;
        std::vector<AclEntry> entries;
    };
    // A target found for a client.
    struct SteeringCondidate {
        const Device* device = nullptr;
        MAC radio;
        BSSID bssid;
        std::string ssid;
        uint8_t op_class = 0;
        uint8_t channel = 0;
    };

    // The record of STA or null; created when missing (and its stored capability synced).
    SteeringReNode* access_steer_re_node(const MAC& sta);
    SteeringReNode* apply_steer_re_node(const MAC& sta);
    AccessControlNode* access_acl_re_node(const MAC& sta);
    AccessControlNode* apply_acl_re_node(const MAC& sta);
    size_t steer_re_node_count() const { return re_nodes_.size(); }
    // In creation order.
    const std::list<SteeringReNode*>& steer_re_nodes() const { return re_list_; }
    const std::unordered_map<MAC, AccessControlNode*>& acl_nodes() const { return acl_nodes_; }

    // ---- what the graph minder tells steering (GraphSteeringPeer)
    void notify_new_link(const Link* link) override;
    void notify_new_wireless_link(const WirelessLink* link) override;
    void notify_pre_delete_link(const MAC& sta) override;
    void notify_link_metric_changed(const Device* device, const MAC& sta) override;
    void ping_pong_check_by_new_reassoc_process(const WirelessLink* link) override;
    void ping_pong_check_by_unassoc_process(const UnassociatedLink* link) override;
    void notify_sta_bnd_cap_changed(const MAC& sta) override;
    // The client's record is made (apply_steer_re_node).
    void notify_sta_capability_report(const MAC& sta) override { apply_steer_re_node(sta); }
    void notify_failed_connection_report(const FailedConnectionMesg& report) override;
    void notify_dot11_btm_query(const MAC& sta, uint8_t dialog_token, uint8_t reason) override;
    void notify_backhaul_steering_response(const BackhaulSteeringResponseMesg& response) override;

    // ---- the tick and its steps
    void on_steering_tick_timer();
    // Whether a steer of STA towards BSSID is held back by the back-off.
    bool backoff_check(const MAC& sta, const BSSID& bssid);
    // Band decision: true with the target medium when the client is to change band.
    bool bsteering_authoriztion_check(const MAC& sta, Medium& target);
    void on_unsteer_check(SteeringReNode& node);
    // The client's steering category (override, capabilities, unsuccessful steers).
    sta_categories client_category(const Sta& sta, const SteeringReNode& node) const;
    // Timing of a category (ms): minimum steer interval and back-off base.
    uint32_t category_interval_ms(sta_categories c) const;
    static uint32_t category_backoff_base_ms(sta_categories c, uint16_t min_backoff_s);
    // Counts of the ticks that did their work (for the > 32 node throttle).
    uint64_t ticks_run() const { return ticks_run_; }
    // Devices' working path costs of the last tick's work, reused by every client.
    const ClientPathIndex& tick_index() const { return index_; }

    // ---- requests to agents
    std::vector<SteeringMandate> get_mandates();
    void steering_dispatcher(std::vector<SteeringMandate>& mandates);
    int do_steer(const SteeringMandate& mandate);
    int do_acl(const AclMandate& mandate);
    void on_gc();
    void on_fronthaul_radio_mgmt_check();

    // ---- what the control bus and REST ask of steering (loop thread)
    // Moves the client STA away from its serving BSS. 0 when a steering request was
    // dispatched, -1 when the client is unknown, not a station or not associated.
    int kick_out(const MAC& sta);
    // The administrator's access-control list: MEDIUM_MASK bit 0 2.4 GHz, bit 1 5 GHz.
    // Adding blocks the client at every such BSS of the mesh; removing releases it.
    void admin_blacklist_add(const MAC& sta, unsigned medium_mask);
    void admin_blacklist_remove(const MAC& sta);
    const std::unordered_map<MAC, unsigned>& admin_blacklist() const { return admin_; }
    // The BTM report of a client (registered before the stack's own handler).
    void on_btm_response(CMDU* cmdu);
    // Totals of every BTM report of known clients.
    uint64_t btm_accept_total() const { return accept_total_; }
    uint64_t btm_reject_total() const { return reject_total_; }
    uint64_t steer_requests_sent() const { return steer_requests_; }

    // Timer by name (tests and the debug routes), or null.
    Timer* find_timer(const std::string& name) const;
    static constexpr size_t kTickThrottleNodes = 32;
    static constexpr int64_t kThrottledTickMs = 15000;
    static constexpr int64_t kGcAgeMs = 86400000;
    static constexpr uint32_t kAdminValidityS = 3600;
    static constexpr uint32_t kSteerAclValidityS = 30;
    // The vendor radio configuration of the 5 GHz-high fronthaul radio.
    static constexpr uint16_t kRadioCfg5gHighFronthaul = 1;
    static constexpr uint8_t kRadioCfgRadio5g = 1;

    // ---- backhaul steering (backhaul_steering.h), its switch and its block reason
    BackhaulSteering& backhaul() { return *backhaul_; }
    void set_bh_steer_enable(bool on);
    bool get_bh_steer_enable() const;

    // ---- fronthaul radio management: the switch of the 5 GHz-high fronthaul radio check
    void set_fh_mgmt_enable(bool on) { fh_mgmt_enable_ = on; }
    bool get_fh_mgmt_enable() const { return fh_mgmt_enable_; }
    // Enables or disables the 5 GHz-high fronthaul radio of every extender of the graph
    // through its vendor agent (radio special configuration request: configuration type
    // kRadioCfg5gHighFronthaul, radio 1, value 1 on / 0 off). The number of extenders asked.
    int set_all_devices_5gh_fronthaul_radio_enable(bool enable);
    // What was last asked of them (true at start: the radios are up).
    bool all_devices_5gh_fronthaul_enabled() const { return fh_5gh_enable_; }

  private:
    void tick_client(SteeringReNode& node);
    void decision_window_step(SteeringReNode& node, const WirelessLink& link);
    void outcome_step(SteeringReNode& node);
    // The ping-pong sampling step: after a band steer, the serving RSSI goes into the loop
    // and a full loop on the steer-back side of the thresholds holds band steering.
    void ping_pong_sample_step(SteeringReNode& node, const WirelessLink& link);
    void sample_rssi_push_loop(SteeringReNode& node, int8_t rssi);
    // What a (re)association resets; BSSID is zero for a wired link.
    void on_client_associated(SteeringReNode& node, const BSSID& bssid);
    void access_control_step(uint64_t now);
    void state_machine_check(SteeringReNode& node, const Sta& sta, const WirelessLink& link);
    void mesh_dynamic_manage(SteeringReNode& node, const Sta& sta, const Device& dev,
                             const WirelessLink& link);
    void bsteering_process(SteeringReNode& node, const Sta& sta, const Device& dev,
                           const WirelessLink& link);
    void msteering_process(SteeringReNode& node, const Sta& sta, const Device& dev,
                           const WirelessLink& link);
    // Whether the client may be steered now (interval, idle, category gates).
    bool steer_allowed(SteeringReNode& node, const Sta& sta, const WirelessLink& link);
    void propose(const Device& dev, const WirelessLink& link, SteeringEntry entry);
    void sta_steer_req_action(const SteeringMandate& m, const SteeringEntry& e, uint8_t mode,
                              uint16_t disassoc_timer);
    void block_at(const MAC& sta, const MAC& agent, const BSSID& bssid, uint32_t validity_s,
                  bool admin);
    int64_t now() const;
    Graph* graph() const;
    // The association of STA: from the tick's index while a tick runs, else from the graph.
    void serving_of(const Sta* sta, Device*& dev, WirelessLink*& link) const;
    // The device operating BSSID (looked up in an index built once per dispatch), or null.
    const Device* bss_owner(const BSSID& bssid);

    Logger logger_;
    SteeringDataPeer* data_peer_ = nullptr;
    JsonConfigHandler json_config_;
    [[maybe_unused]] uv_loop_s* loop_;
    std::unique_ptr<BackhaulSteering> backhaul_;
    uint64_t generation_;  // finds this minder for its CMDU handler (core/live_minders.h)
    bool fh_mgmt_enable_ = false;
    bool fh_5gh_enable_ = true;
    std::vector<std::unique_ptr<Timer>> timers_;
    std::unordered_map<MAC, SteeringReNode*> re_nodes_;
    std::list<SteeringReNode*> re_list_;
    std::unordered_map<MAC, AccessControlNode*> acl_nodes_;
    std::unordered_map<MAC, unsigned> admin_;
    std::vector<SteeringMandate> pending_;
    std::vector<AclMandate> pending_acl_;
    ClientPathIndex index_;
    std::unordered_map<BSSID, const Device*> bss_owner_;  // valid during one dispatch
    bool has_ticked_ = false;
    int64_t last_tick_ms_ = 0;
    uint64_t ticks_run_ = 0;
    uint64_t accept_total_ = 0;
    uint64_t reject_total_ = 0;
    uint64_t steer_requests_ = 0;
};
