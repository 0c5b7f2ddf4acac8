// Backhaul steering: moves an extender's backhaul STA to a better parent BSS with a
// Multi-AP Backhaul Steering Request, from a periodic check (gated by a switch and two
// settling times) or at once for entries given from outside.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/mac.h"
#include "core/timer.h"
#include "graph/path_cost.h"

struct uv_loop_s;
class Device;
class Graph;
class Logger;
class Sta;
struct BackhaulSteeringResponseMesg;
struct backhaul_steering_request_tlv;

// A request given from outside (REST, the bus): move BSTA_MAC of the agent AL_MAC to
// TARGET_BSSID.
struct BhSteerEntry {
    MAC al_mac;
    MAC bsta_mac;
    BSSID target_bssid;
};

// One backhaul move the check decided on.
struct BackhaulSteeringMandate {
    MAC dest_dev;  // AL MAC of the extender whose backhaul STA moves
    struct Entry {
        MAC node_mac;  // the backhaul STA
        BSSID target_bssid;
        uint8_t op_class = 0;
        uint8_t channel = 0;
        std::string node_name;   // the backhaul STA's label
        std::string from_bssid;  // the BSS it leaves
        std::string dest_name;   // the new parent's label
    } entry;
};

// A request sent and what became of it (for REST and the tree view).
struct BackhaulSteerRecord {
    int64_t sent_ms = 0;
    MAC al_mac;
    MAC bsta_mac;
    BSSID target_bssid;
    uint8_t op_class = 0;
    uint8_t channel = 0;
    bool external = false;  // given from outside, not decided by the check
    std::string state;      // "requested", "succeeded", "failed", "send-failed"
    int result_code = -1;   // of the agent's response
    std::string reason;     // the agent's error code text, if any
    int64_t answered_ms = 0;
};

class BackhaulSteering {
  public:
    using Sender = std::function<int(const MAC&, const backhaul_steering_request_tlv&)>;

    static constexpr long long kCheckMs = 10000;
    static constexpr int64_t kSteerStableMs = 100000;
    static constexpr int64_t kNewDeviceStableMs = 120000;
    // A candidate parent must have been in the graph this long.
    static constexpr int64_t kStableParentMs = 60000;
    // Unassociated measurements older than this are not considered.
    static constexpr int64_t kMaxMeasurementAgeMs = 60000;
    static constexpr size_t kMaxRecords = 16;

    // LOGGER is the steering minder's; the timer runs on LOOP once start() is called.
    BackhaulSteering(uv_loop_s* loop, Logger* logger);
    ~BackhaulSteering();
    BackhaulSteering(const BackhaulSteering&) = delete;
    BackhaulSteering& operator=(const BackhaulSteering&) = delete;

    // Starts the "backhaul_steering_check" timer.
    void start();
    const Timer& timer() const { return timer_; }

    // The switch (on by default).
    void set_enable(bool on) { enable_ = on; }
    bool enable() const { return enable_; }
    // Why the last check did not run; empty when it did.
    const std::string& block_reason() const { return block_reason_; }
    // When the last request the check sent was accepted by the stack (0: never).
    int64_t last_steer_ms() const { return last_steer_ms_; }

    // The periodic work.
    void on_backhaul_steering_check();
    bool should_do_backhaul_steering();
    std::vector<BackhaulSteeringMandate> get_backhaul_steering_mandate();
    // The same over GRAPH at NOW_MS.
    std::vector<BackhaulSteeringMandate> get_backhaul_steering_mandate(const Graph& graph,
                                                                       int64_t now_ms);
    // 0 when the request went out.
    int do_backhaul_steering(const BackhaulSteeringMandate& mandate);
    // Sends ENTRY at once (no gates). The stack's result (0 sent).
    int send_backhaul_steering(const BhSteerEntry& entry);
    // The agent's answer.
    void on_backhaul_steering_response(const BackhaulSteeringResponseMesg& response);

    // The target BSS on PARENT for BSTA of DEV, given the BSS it was measured on and the
    // SSID of its present backhaul: MEASURED when PARENT has it (with that SSID when one
    // is given), else PARENT's BSS of that SSID on the same radio. False (OUT zero) when
    // there is none.
    bool find_backhaul_steer_target_bssid(const Device* dev, const Device* parent, const Sta* bsta,
                                          const MAC& measured, BSSID& out,
                                          const std::string& ssid) const;
    // Completes OP_CLASS and CHANNEL from the operating channel report of PARENT's radio
    // RADIO_ID; false (values unchanged) when it has none.
    bool find_dest_channel_by_radio_id(const Device* parent, const MAC& radio_id, uint8_t& op_class,
                                       uint8_t& channel) const;

    // The requests sent lately, oldest first.
    const std::deque<BackhaulSteerRecord>& records() const { return records_; }
    // Replaces the stack's sender (tests).
    void set_sender(Sender sender) { sender_ = std::move(sender); }

  private:
    const Graph* graph() const;
    int64_t now() const;
    int send(const MAC& al_mac, const MAC& bsta, const BSSID& target, uint8_t op_class,
             uint8_t channel, bool external);
    // Whether PARENT may take DEV's backhaul (WORKING: the working paths).
    bool is_stable_parent(const Device* dev, const Device* parent, const Paths& working,
                          int64_t now_ms) const;

    Logger* logger_;
    Timer timer_;
    bool enable_ = true;
    int64_t last_steer_ms_ = 0;
    std::string block_reason_;
    Sender sender_;
    std::deque<BackhaulSteerRecord> records_;
};
