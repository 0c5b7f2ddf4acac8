// The mesh simulator: every agent of a scenario as a 1905 abstraction layer
// with its own AL MAC and transport, answering the controller through the
// stack's codec, and the clients that join, leave and roam between BSSs.
#pragma once

#include <uv.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "faults.h"
#include "map/cmdu.h"
#include "map/codec/cmdu_alloc.h"
#include "map/codec/codec.h"
#include "map/transport/transport.h"
#include "scenario.h"
#include "wsc_enrollee.h"

namespace meshsim {

class HktAgent;

// The operating classes a radio can use, as its AP Radio Basic Capabilities list them: the
// class it operates in first, then every other class of its band its widths allow (20 MHz;
// 40 MHz with HT; 80 and 160 MHz with VHT or HE on 5 GHz; all on 6 GHz).
std::vector<ap_radio_basic_capabilities_tlv::op_class> supported_classes(const RadioConf& r);

struct SimOptions {
    std::string segment;       // "GROUP:PORT" (segment transport)
    std::string interface;     // system interface (raw transport), instead of a segment
    bool verbose = false;      // one line per CMDU sent and received
    bool run_timeline = true;  // false: the caller applies the timeline (tests)
    unsigned autoconfig_retry_ms = 5000;
    // A message the controller acknowledges is sent again when its 1905 Ack has not come
    // within ack_wait_ms, at most ack_retries times.
    unsigned ack_wait_ms = 1000;
    unsigned ack_retries = 2;
    // M1s whose M2 has not come within m2_wait_ms are sent again (the wait doubling up to
    // eight times as long).
    unsigned m2_wait_ms = 10000;
};

// Where a radio stands in the WSC exchange.
struct RadioWscState {
    enum Kind { unconfigured, configured, torn_down, failed } kind = unconfigured;
    std::string why;         // failed: the check that failed
    unsigned exchanges = 0;  // AP-Autoconfiguration WSC messages taken (or refused)
};
const char* radio_wsc_state_name(RadioWscState::Kind k);

struct SimStats {
    uint64_t cmdus_received = 0;
    uint64_t cmdus_sent = 0;
    uint64_t frames_dropped = 0;   // not a CMDU, malformed, or for a silent agent
    uint64_t duplicates = 0;       // CMDUs received again (same sender, type and message id)
    uint64_t retransmissions = 0;  // messages sent again for want of their 1905 Ack
    uint64_t acks_missed = 0;      // messages given up after their last retransmission
};

class Sim {
  public:
    using LogSink = std::function<void(const std::string&)>;

    Sim(Scenario scenario, SimOptions options);
    ~Sim();
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;

    // Opens one transport per agent and starts the agents: AP-autoconfiguration
    // search, Topology Discovery, Topology Notification, and the timeline.
    // 0, or -1 with ERROR set.
    int start(uv_loop_t* loop, std::string* error);
    // Closes every transport and timer; the loop must run once more afterwards.
    void stop();

    // Applies every timeline event due at AT_MS (milliseconds since start) or
    // earlier that has not run yet.
    void run_timeline_until(long long at_ms);
    // Applies one event now (also used for events built by the caller).
    void apply(const EventConf& event);

    const Scenario& scenario() const { return scenario_; }
    const SimStats& stats() const { return stats_; }
    // The BSS client I is associated to (zero: none).
    BSSID client_bss(size_t i) const { return clients_[i].bssid; }
    // The current parent of agent I (-1: the controller) and its backhaul.
    int agent_parent(size_t i) const;
    const BackhaulConf& agent_backhaul(size_t i) const;
    // Whether agent I's frames reach the controller now.
    bool reachable(size_t i) const;
    // Whether the client MAC is kept off BSSID now.
    bool client_blocked(const BSSID& bssid, const MAC& mac) const { return blocked(bssid, mac); }
    // Whether agent I got an AP-autoconfiguration response.
    bool configured(size_t i) const;
    // The vendor (HKT) agent of agent I, or null when it has none.
    HktAgent* hkt_agent(size_t i) const;
    // Radio R of agent I in the WSC exchange; its BSSs (as the M2s set them)
    // are scenario().agents[i].radios[r].bsss.
    const RadioWscState& wsc_state(size_t i, size_t r) const { return wsc_[i][r].state; }
    void set_log_sink(LogSink sink) { log_ = std::move(sink); }
    // The AP metrics reporting interval the controller's policy set for agent I (0: none),
    // and how many unsolicited AP Metrics Responses it sent since.
    unsigned metrics_interval(size_t i) const { return reporting_[i].interval_s; }
    unsigned long ap_metrics_sent(size_t i) const { return reporting_[i].sent; }
    // Sends what the metrics timer sends when due (tests drive it with the manual clock).
    void run_metrics_reporting();
    // The faults frames meet (null when the scenario and command line set none).
    const FaultGate* faults() const { return gate_.get(); }
    // What agent I's frames meet on WAY: the mesh's faults, its own, its links'.
    FaultDir way_faults(size_t i, FaultWay way) const;
    // Messages agent I still waits a 1905 Ack for.
    size_t awaiting_acks(size_t i) const;

  private:
    friend class HktAgent;
    struct AgentState;
    struct ClientState {
        BSSID bssid;
        long long assoc_ms = 0;
        std::map<BSSID, int> rssi;
    };
    struct BssRef {
        size_t agent = 0, radio = 0, bss = 0;
    };
    struct Neighbor {
        MAC local_if, al, remote_if;
        uint16_t media = 0;
        int rssi = 0;  // wireless only
        bool wireless = false;
    };
    struct Station {  // a client or a child's backhaul STA on one of our BSSs
        MAC mac;
        BSSID bssid;
        int rssi = -60;
        long long assoc_ms = 0;
        uint8_t streams = 1;
    };

    void log(const std::string& text);
    // Frames in and out of endpoint E (2 * agent, or 2 * agent + 1 for its vendor agent)
    // go through the faults, which hand them to deliver().
    void inbound(size_t endpoint, const uint8_t* frame, size_t len);
    void transmit(size_t endpoint, const std::vector<uint8_t>& frame);
    void deliver(size_t endpoint, FaultWay way, const uint8_t* frame, size_t len);
    void arm_faults();
    static void on_fault_timer(uv_timer_t* t);
    void on_frame(size_t agent, const uint8_t* frame, size_t len);
    void handle(size_t agent, const MAC& from, const CMDU& cmdu);
    // Whether agent I has taken C from FROM already (a retransmission or a duplicated
    // frame); records it otherwise.
    bool repeated(size_t agent, const MAC& from, const CMDU& c);
    bool send(size_t agent, const MAC& dst, CmduPtr cmdu, bool relay = false);
    bool send_ack(size_t agent, const MAC& dst, uint16_t mid);
    uint16_t next_mid(size_t agent);
    // What an agent that is not ours does to every message: more TLVs, another order.
    void dress(size_t agent, CMDU& cmdu) const;
    // Retransmissions for want of 1905 Acks, and M1s for want of M2s.
    void on_ack(size_t agent, const MAC& from, uint16_t mid);
    void run_retransmissions();

    // Builders of what an agent tells.
    CmduPtr topology_response(size_t agent, uint16_t mid);
    CmduPtr ap_capability_report(size_t agent, uint16_t mid);
    CmduPtr link_metric_response(size_t agent, uint16_t mid, const CMDU& query);
    CmduPtr ap_metrics_response(size_t agent, uint16_t mid, const CMDU& query);
    CmduPtr assoc_sta_metrics_response(size_t agent, uint16_t mid, const CMDU& query);
    CmduPtr unassoc_sta_metrics_response(size_t agent, uint16_t mid, const CMDU& query);
    CmduPtr beacon_metrics_response(size_t agent, uint16_t mid, const CMDU& query);
    CmduPtr client_capability_report(size_t agent, uint16_t mid, const CMDU& query);
    CmduPtr channel_preference_report(size_t agent, uint16_t mid);
    CmduPtr channel_scan_report(size_t agent, uint16_t mid, const CMDU& query);
    CmduPtr operating_channel_report(size_t agent, uint16_t mid);
    void send_search(size_t agent);
    // WSC (sim_wsc.cc): M1 per radio, M2s opened and applied.
    void init_wsc();
    // One M1 per radio (ALL false: only the radios still waiting for their M2).
    void send_wsc_m1(size_t agent, const MAC& dst, bool all = true);
    void on_wsc(size_t agent, const MAC& from, const CMDU& cmdu);
    void apply_wsc(size_t agent, size_t radio, const WscResult& result);
    // The agent's radios run their scenario BSSs again (timeline "forget_credentials").
    void forget_credentials(size_t agent);
    BSSID spare_bssid(size_t agent, size_t radio, size_t k) const;
    void reindex_bss();
    void send_discovery(size_t agent);
    void notify_association(size_t agent, const MAC& sta, const BSSID& bssid, bool joined);
    void on_discovery(size_t agent, const CMDU& cmdu);
    void on_client_steering(size_t agent, const MAC& from, const CMDU& cmdu);
    void on_backhaul_steering(size_t agent, const MAC& from, const CMDU& cmdu);
    // Sends agent I's Operating Channel Report to the controller that configured it.
    void report_channels(size_t agent);
    void on_association_control(size_t agent, const MAC& from, const CMDU& cmdu);
    // Whether the agents keep client MAC off BSSID now (association control).
    bool blocked(const BSSID& bssid, const MAC& mac) const;
    // The fronthaul BSS client I hears best that it may join now, other than EXCEPT (zero
    // when there is none).
    BSSID best_bss(size_t client, const BSSID& except) const;
    // A client move due later (steering answers, roaming back, rejoining).
    struct Later {
        long long due_ms = 0;
        size_t client = 0;
        BSSID to;           // zero: the best BSS then
        bool roam = false;  // a roam back (the BSS it left)
    };
    void schedule(size_t client, long long after_ms, const BSSID& to, bool roam = false);
    void run_later();
    static void on_later_timer(uv_timer_t* t);

    // What an agent sees now.
    std::vector<Neighbor> neighbors(size_t agent) const;
    std::vector<Station> stations(size_t agent) const;
    bool link_up(size_t agent) const;  // not silent, backhaul up
    const BssRef* find_bss(const BSSID& bssid) const;
    int find_client(const MAC& mac) const;
    int find_bsta(const MAC& mac) const;  // agent whose backhaul STA has MAC
    uint16_t bss_media(const BssRef& ref) const;
    uint8_t rcpi(int rssi) const;
    uint32_t rate_mbps(int rssi, Band band, uint8_t streams) const;
    void set_visible(size_t agent, bool before);
    void move_client(size_t client, const BSSID& to);
    std::vector<uint8_t> assoc_request_body(size_t client, const BssRef& ref) const;

    // Channels, transmit power and the reporting policy (sim_channel.cc).
    void on_channel_selection(size_t agent, const MAC& from, const CMDU& cmdu);
    void on_policy_config(size_t agent, const MAC& from, const CMDU& cmdu);
    // Moves radio R of agent I to PRIMARY at MHZ; false (nothing changed) when its band has no
    // such channel at that width.
    bool tune(size_t agent, size_t radio, uint8_t primary, uint16_t mhz);
    void on_channel_event(const EventConf& event);
    MAC controller_of(size_t agent) const;
    struct Reporting {
        unsigned interval_s = 0;
        long long next_ms = 0;
        unsigned long sent = 0;
    };
    std::vector<Reporting> reporting_;
    uv_timer_t* metrics_timer_ = nullptr;
    static void on_metrics_timer(uv_timer_t* t);

    static void on_discovery_timer(uv_timer_t* t);
    static void on_search_timer(uv_timer_t* t);
    static void on_timeline_timer(uv_timer_t* t);
    void arm_timeline();

    Scenario scenario_;
    SimOptions options_;
    uv_loop_t* loop_ = nullptr;
    std::vector<std::unique_ptr<AgentState>> agents_;
    std::vector<std::unique_ptr<HktAgent>> hkt_;  // per agent, null without an "hkt" block
    std::vector<ClientState> clients_;
    std::map<BSSID, BssRef> bss_index_;
    struct RadioWsc {
        WscEnrollee enrollee;
        RadioWscState state;
        std::vector<BssConf> factory;  // the scenario's BSSs: the slots M2s fill
        bool awaiting_m2 = false;      // its M1 left and no M2 came since
        long long m2_due_ms = 0;       // when its M1 goes again
        long long m2_wait_ms = 0;      // how long the last M1 waits
    };
    std::vector<std::vector<RadioWsc>> wsc_;  // [agent][radio]
    size_t next_event_ = 0;
    long long start_ms_ = 0;
    uv_timer_t* discovery_timer_ = nullptr;
    uv_timer_t* search_timer_ = nullptr;
    uv_timer_t* timeline_timer_ = nullptr;
    uv_timer_t* later_timer_ = nullptr;
    std::vector<Later> later_;
    std::map<std::pair<BSSID, MAC>, long long> acl_;  // blocked until (ms)
    SimStats stats_;
    // The faults: the mesh's, each agent's and each agent's backhaul link's, per way.
    std::unique_ptr<FaultGate> gate_;
    uv_timer_t* fault_timer_ = nullptr;
    struct WayFaults {
        FaultDir way[2];
    };
    WayFaults mesh_faults_;
    std::vector<WayFaults> agent_faults_, link_faults_;
    LogSink log_;
    bool started_ = false;
};

}  // namespace meshsim
