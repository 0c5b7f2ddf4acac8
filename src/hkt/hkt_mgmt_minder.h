// Management of the maker's own extenders over the HKT vendor protocol.
#pragma once

#include <string>
#include <vector>

#include "common/mac.h"
#include "core/minder.h"
#include "hkt/hkt_node.h"
#include "log/logger.h"

struct uv_loop_s;
struct backhaul_information;

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

    // ---- vendor agent registry: one node per serial number (upper case), in the order
    // they were added, at most kMaxHktNodes. Node pointers stay valid until a node is
    // removed. Nodes come from the white list (add_known_hkt) and from the vendor protocol.
    static constexpr size_t kMaxHktNodes = 64;
    // The node of SN (upper-cased), added when there is none ("{} - Adding new known HKT -
    // sn: {}"). Null for an empty serial number or a full registry.
    HktNode* add_known_hkt(const std::string& sn);
    // Forgets the node of SN (upper-cased). False when there is none.
    bool remove_hkt(const std::string& sn);
    // The node whose vendor agent MAC, or whose co-located Multi-AP agent AL MAC, is MAC;
    // a zero MAC (not yet discovered) never matches. Null when none.
    HktNode* find_hkt(const MAC& mac);
    const HktNode* find_hkt(const MAC& mac) const;
    // The node whose co-located Multi-AP agent AL MAC is AGENT_AL_MAC, or null.
    HktNode* find_hkt_from_agent(const MAC& agent_al_mac);
    const HktNode* find_hkt_from_agent(const MAC& agent_al_mac) const;
    // The node whose serial number is SN converted to upper case, or null.
    HktNode* find_hkt_from_serial(const std::string& sn);
    const HktNode* find_hkt_from_serial(const std::string& sn) const;
    // Every known node.
    const std::vector<HktNode>& hkt_nodes() const { return nodes_; }

    // ---- what the graph minder tells the vendor agents (each logs at debug level for now)
    void notify_ap_bh_change(const backhaul_information& info);
    void send_hkt_backhaul_information_notify(const MAC& al_mac, const backhaul_information& info);
    // Requests; 0 sent, negative when the agent is unknown.
    int send_hkt_vaps_info_query(const MAC& al_mac);
    int send_hkt_statistics_query(const MAC& al_mac);
    // Asks the extender whose Multi-AP agent is AGENT_AL_MAC to return to its factory
    // settings (after its removal). The vendor message is not written yet: -1.
    int send_factory_reset_request(const MAC& agent_al_mac);

    // ---- what the control bus asks of the vendor agent minder (loop thread)
    // The platform's Marlow join state (*STATE 1: joined). 0 on success, -1 for null.
    int handle_marlow_join(const int* state);

  private:
    Logger logger_;
    [[maybe_unused]] uv_loop_s* loop_;
    std::vector<HktNode> nodes_;
};
