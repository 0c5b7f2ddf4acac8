// Management of the maker's own extenders over the HKT vendor protocol.
#pragma once

#include <vector>

#include "common/mac.h"
#include "core/minder.h"
#include "log/logger.h"

struct uv_loop_s;
struct backhaul_information;

// A vendor agent (one of the maker's extenders) known to the registry.
struct HktAgent {
    MAC al_mac;        // its HKT AL MAC
    MAC agent_al_mac;  // the AL MAC of its Multi-AP agent
};

class HktMgmtMinder : public Minder {
  public:
    // Builds the "mgmt" category logger (path "root.mgmt") with its configured level.
    explicit HktMgmtMinder(uv_loop_s* loop);
    ~HktMgmtMinder() override;
    HktMgmtMinder(const HktMgmtMinder&) = delete;
    HktMgmtMinder& operator=(const HktMgmtMinder&) = delete;

    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }

    // ---- vendor agent registry as the graph minder uses it (the registry is filled by the
    // HKT protocol; until then no agent is known and the lookups find none)
    // The vendor agent whose HKT AL MAC or Multi-AP agent AL MAC is AL_MAC, or null.
    const HktAgent* find_hkt(const MAC& al_mac) const;
    // The vendor agent behind the Multi-AP agent AGENT_AL_MAC, or null.
    const HktAgent* find_hkt_from_agent(const MAC& agent_al_mac) const;
    // Every known vendor agent.
    const std::vector<HktAgent>& hkt_agents() const { return agents_; }

    // ---- what the graph minder tells the vendor agents (each logs at debug level for now)
    void notify_ap_bh_change(const backhaul_information& info);
    void send_hkt_backhaul_information_notify(const MAC& al_mac, const backhaul_information& info);
    // Requests; 0 sent, negative when the agent is unknown.
    int send_hkt_vaps_info_query(const MAC& al_mac);
    int send_hkt_statistics_query(const MAC& al_mac);

    // ---- what the control bus asks of the vendor agent minder (loop thread)
    // The platform's Marlow join state (*STATE 1: joined). 0 on success, -1 for null.
    int handle_marlow_join(const int* state);

  private:
    Logger logger_;
    [[maybe_unused]] uv_loop_s* loop_;
    std::vector<HktAgent> agents_;
};
