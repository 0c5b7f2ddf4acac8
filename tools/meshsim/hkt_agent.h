// The simulated vendor (HKT) agent of one of the maker's extenders: its own 1905 endpoint
// (own MAC and transport) beside the extender's Multi-AP agent. It answers the
// controller's discovery and every vendor query, sends heartbeats, an EX notification and
// the IP and serial number queries once discovered, and may be silenced by the timeline.
#pragma once

#include <uv.h>

#include <cstdint>
#include <memory>
#include <string>

#include "faults.h"
#include "map/codec/codec.h"
#include "map/hkt/hkt_message.h"
#include "map/transport/transport.h"
#include "scenario.h"

namespace meshsim {

class Sim;
struct SimOptions;

// What a vendor agent was asked, for tests and the verbose log.
struct HktAgentStats {
    uint64_t discovery_requests = 0;
    uint64_t config_requests = 0;
    uint64_t vaps_queries = 0;
    uint64_t statistic_requests = 0;
    uint64_t port_requests = 0;
    uint64_t backhaul_notifies = 0;
    uint64_t radio_cfg_requests = 0;
    uint64_t factory_resets = 0;
    uint64_t unassoc_queries = 0;
    uint64_t bh_vap_requests = 0;
    uint64_t ip_change_requests = 0;
    uint64_t ip_info_responses = 0;
    uint64_t vsn_responses = 0;
    uint64_t acks = 0;
    uint64_t heartbeats_sent = 0;
    uint64_t ex_notifications_sent = 0;
};

class HktAgent {
  public:
    HktAgent(Sim& sim, size_t agent);
    ~HktAgent();
    HktAgent(const HktAgent&) = delete;
    HktAgent& operator=(const HktAgent&) = delete;

    // Opens its transport on the simulator's segment or interface. 0, or -1 with ERROR.
    int open(uv_loop_t* loop, const SimOptions& options, std::string* error);
    void close();

    // Silent: it neither answers nor beats (its extender keeps running).
    void set_silent(bool silent);
    bool silent() const { return silent_; }
    const MAC& mac() const { return conf().mac; }
    // Who discovered it (zero until then).
    const MAC& controller() const { return controller_; }
    const HktAgentStats& stats() const { return stats_; }
    // The last backhaul information the controller sent it.
    const hkt_backhaul_information_notify_tlv& backhaul() const { return backhaul_; }
    // The last radio special configuration the controller asked.
    const hkt_wifi_radio_special_cfg_request_tlv& radio_cfg() const { return radio_cfg_; }
    const std::string& last_vsn() const { return vsn_; }

    // Sends a heartbeat now (the timer does it every heartbeat_s once discovered).
    void heartbeat();
    // A frame through the simulator's faults: taken in, or sent out.
    void deliver(FaultWay way, const uint8_t* frame, size_t len);

  private:
    const HktConf& conf() const;
    bool up() const;
    void on_frame(const uint8_t* frame, size_t len);
    void handle(const MAC& from, const CMDU& cmdu);
    void on_hkt(const MAC& from, const CMDU& cmdu, void* msg);
    bool send(const MAC& dst, hktMessage msg);
    bool send_ack(const MAC& dst, uint16_t mid);
    void transmit(const std::vector<uint8_t>& frame);
    void announce();
    hkt_discovery_response_tlv discovery_response() const;
    static void on_timer(uv_timer_t* t);

    Sim& sim_;
    size_t agent_;
    std::unique_ptr<Transport> transport_;
    CmduReassembler reassembler_;
    uv_timer_t* timer_ = nullptr;
    uint16_t mid_ = 0;
    bool silent_ = false;
    bool announced_ = false;  // EX notification and queries sent since it last spoke
    MAC controller_;
    long long start_ms_ = 0;
    HktAgentStats stats_;
    hkt_backhaul_information_notify_tlv backhaul_;
    hkt_wifi_radio_special_cfg_request_tlv radio_cfg_;
    std::string vsn_;
    uint64_t counter_ = 0;  // grows the interface statistics
};

}  // namespace meshsim
