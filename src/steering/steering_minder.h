// Client and backhaul steering.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/mac.h"
#include "core/minder.h"
#include "log/logger.h"

struct uv_loop_s;
class Device;
class Link;
class WirelessLink;
class UnassociatedLink;
struct FailedConnectionMesg;
struct BackhaulSteeringResponseMesg;
class BackhaulSteering;

class SteeringMinder : public Minder {
  public:
    // Builds the "steering" category logger (path "root.steering") with its configured level.
    explicit SteeringMinder(uv_loop_s* loop);
    ~SteeringMinder() override;
    SteeringMinder(const SteeringMinder&) = delete;
    SteeringMinder& operator=(const SteeringMinder&) = delete;

    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }

    // ---- what the graph minder tells steering (filled by the steering logic; for now
    // each logs at debug level)
    // A wired or wireless link was created.
    void notify_new_link(const Link* link);
    // A station's association link was created.
    void notify_new_wireless_link(const WirelessLink* link);
    // A station's association link is about to be deleted.
    void notify_pre_delete_link(const MAC& sta);
    // New link metrics for STA measured by DEVICE.
    void notify_link_metric_changed(const Device* device, const MAC& sta);
    void ping_pong_check_by_new_reassoc_process(const WirelessLink* link);
    void ping_pong_check_by_unassoc_process(const UnassociatedLink* link);
    // The band capability of STA was learnt (a measurement on a new band, a beacon report).
    void notify_sta_bnd_cap_changed(const MAC& sta);
    void notify_failed_connection_report(const FailedConnectionMesg& report);
    void notify_dot11_btm_query(const MAC& sta, uint8_t dialog_token, uint8_t reason);
    void notify_backhaul_steering_response(const BackhaulSteeringResponseMesg& response);
    // A station under steering learnt its capabilities.
    void apply_steer_re_node(const MAC& sta);
    // A station under steering was heard of again (or is about to be deleted).
    void access_steer_re_node(const MAC& sta);

    // ---- what the control bus asks of steering (loop thread)
    // Moves the client STA away from its serving BSS. 0 when a steering request was
    // dispatched, -1 when the client is unknown, not a station or not associated.
    int kick_out(const MAC& sta);
    // Stores one integer member of the JSON steering configuration ("bsteer_rssi_5to2",
    // "bsteer_rssi_2to5", "bsteer_en", "msteer_en", "msteer_ratio", "min_backoff_t",
    // "min_steer_interval_c1", "min_steer_interval_c2", "min_steer_interval_a",
    // "unsteer_cnt_c1_to_c2", "no_idle_tput_size", "bnd_prefer_5g_en", "bnd_prefer_mode",
    // "bnd_prefer_dis_timer", "btm_assisted", "rrm_en"). 0 on success; non-zero when the key
    // is unknown or VALUE does not fit the member's width.
    int set_steering_config_value(const std::string& key, long long value);
    // Replaces the band preference list. 0 on success.
    int set_bnd_prefer_entries(const std::vector<MAC>& entries);

    // ---- backhaul steering (backhaul_steering.h), its switch and its block reason
    BackhaulSteering& backhaul() { return *backhaul_; }
    void set_bh_steer_enable(bool on);
    bool get_bh_steer_enable() const;

    // ---- fronthaul radio management: the switch of the 5 GHz-high fronthaul radio check
    void set_fh_mgmt_enable(bool on) { fh_mgmt_enable_ = on; }
    bool get_fh_mgmt_enable() const { return fh_mgmt_enable_; }
    // Enables or disables the 5 GHz-high fronthaul radio of every extender of the graph.
    // The number of devices asked.
    int set_all_devices_5gh_fronthaul_radio_enable(bool enable);
    // What was last asked of them (true at start: the radios are up).
    bool all_devices_5gh_fronthaul_enabled() const { return fh_5gh_enable_; }

  private:
    Logger logger_;
    [[maybe_unused]] uv_loop_s* loop_;
    std::unique_ptr<BackhaulSteering> backhaul_;
    bool fh_mgmt_enable_ = false;
    bool fh_5gh_enable_ = true;
};
