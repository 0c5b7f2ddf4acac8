// Management of the maker's own extenders over the HKT vendor protocol: the registry of
// their vendor agents (HktNode), discovery, heartbeats and the online state, the onboarding
// state handed to the data minder, and the vendor requests the other minders send.
//
//   hkt_mgmt_minder.cc   registry, timers, discovery, status, online state, capabilities
//   hkt_handlers.cc      the CMDU hooks and the vendor TLV handlers
//   hkt_send.cc          hkt_send_hkt_tlv and the senders
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/mac.h"
#include "core/minder.h"
#include "core/timer.h"
#include "hkt/hkt_node.h"
#include "hkt/hkt_peers.h"
#include "log/logger.h"
#include "map/cmdu.h"
#include "map/hkt/hkt_message.h"

struct uv_loop_s;

// Wraps the HKT TLV of MSG (an hktMessage*) in a Vendor Specific TLV with the HKT OUI, has
// the stack forge the Vendor Specific message and sends it to DEST (6 bytes) on IFNAME
// (null: where the stack last heard DEST). RELAY is the message's relay indicator; UNICAST
// refuses a group DEST. The message id used is written to *MESSAGE_ID when not null.
// 0, or a negative code (logged).
int hkt_send_hkt_tlv(void* msg, uint16_t* message_id, const uint8_t* dest, const char* ifname,
                     uint8_t relay, bool unicast);

class HktMgmtMinder : public Minder {
  public:
    // Builds the "mgmt" category logger (path "root.mgmt") with its configured level, the
    // timers and the CMDU hooks (0x0007, 0x0009, 0x0004).
    explicit HktMgmtMinder(uv_loop_s* loop);
    ~HktMgmtMinder() override;
    HktMgmtMinder(const HktMgmtMinder&) = delete;
    HktMgmtMinder& operator=(const HktMgmtMinder&) = delete;

    // Registers the vendor TLV handlers and reads the gateway's virtual serial number.
    Err init(Context& context) override;
    // Loads the admitted extenders, starts the offline check and the discovery poll.
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    // The minders above, handed over by the assembly (null: none).
    void set_graph_peer(HktGraphPeer* peer) { graph_peer_ = peer; }
    void set_data_peer(HktDataPeer* peer) { data_peer_ = peer; }
    void set_config_peer(HktConfigPeer* peer) { config_peer_ = peer; }
    HktConfigPeer* config_peer() const { return config_peer_; }
    const Logger* logger() const { return &logger_; }

    // ---- vendor TLV handlers, keyed by HKT TLV type; the graph and configuration
    // minders add theirs at their init. Each gets the CMDU and the parsed hktMessage*.
    using TlvHandler = std::function<void(CMDU*, void*)>;
    using Callbacks = std::unordered_map<unsigned char, TlvHandler>;
    // Adds (or replaces) the handler of TYPE.
    void add_tlv_handler(unsigned char type, TlvHandler handler);
    const Callbacks& callbacks() const { return callbacks_; }

    // ---- vendor agent registry: one node per serial number (upper case), in the order
    // they were added, at most kMaxHktNodes. Node pointers stay valid until a node is
    // removed. Nodes come from the white list (add_known_hkt), from the M1s of agents and
    // from the vendor protocol.
    static constexpr size_t kMaxHktNodes = 64;
    // The node of SN (upper-cased), added when there is none ("{} - Adding new known HKT -
    // sn: {}"). Null for an empty serial number or a full registry.
    HktNode* add_known_hkt(const std::string& sn);
    // Forgets the node of SN (upper-cased) and its timer. False when there is none. Its
    // vendor agent MAC is remembered for a factory reset that follows.
    bool remove_hkt(const std::string& sn);
    // The node whose vendor agent (HKT) MAC is MAC; a zero MAC never matches. Null when none.
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

    // ---- timers
    static constexpr long long kDiscoveryPollMs = 20000;  // plus -1000..1000
    static constexpr long long kDiscoveryPollJitterMs = 1000;
    static constexpr long long kDiscoveryBurstMs = 100;  // plus -10..10
    static constexpr long long kDiscoveryBurstJitterMs = 10;
    static constexpr int kDiscoveryBurst = 3;
    static constexpr long long kApStatusCheckMs = 10000;
    static constexpr long long kOfflineCheckMs = 10000;
    static constexpr long long kOfflineAfterMs = 100000;
    static constexpr long long k8BytesBhMs = 900000;
    // Bit of a node's minders_present: its extender can join over the gateway's legacy
    // backhaul VAP with 8-byte credentials. While such a node is online and does not run the
    // credential table's backhaul BSS yet, the gateway keeps that VAP open, for at most
    // k8BytesBhMs after the node came online.
    static constexpr uint32_t kMinder8ByteBackhaul = 1u << 3;

    // The timer of that name ("hkt_discovery_poll", "hkt_discovery_burst",
    // "8bytes_bh_timer", "hkt_offline_check"), or null.
    BaseTimer* find_timer(const std::string& name) const;
    // The AP status check timer of the node SN, or null.
    BaseTimer* ap_status_timer(const std::string& sn) const;
    // Requests of the current discovery burst still to go.
    int discovery_burst_left() const { return burst_left_; }

    // The timers' work (public so tests drive them on the manual clock).
    void on_discovery_poll();
    void on_discovery_burst();
    void on_offline_check();
    void check_ap_status(HktNode* node);
    void on_ap_8bytes_bh_timer();
    void check_ap_capabilites();
    // Whether NODE needs the legacy backhaul VAP: online, kMinder8ByteBackhaul set, and its
    // last VAP report shows no backhaul BSS with a backhaul SSID of the credential table.
    bool needs_legacy_backhaul(const HktNode& node) const;
    // Closes the legacy backhaul window early when no node needs it any more (called when
    // a VAP report arrived); never opens or extends it.
    void review_legacy_backhaul();

    // ---- state changes of a node
    // Stores STATUS; when it changed, the data minder is told (update_ap_state).
    void set_ap_status(HktNode& node, ApStatus status);
    // Online or offline, by the rules of the registry (configured, discovered, heard within
    // kOfflineAfterMs, backhaul connected); nothing happens otherwise.
    void set_online(HktNode& node, bool online);

    // ---- CMDU hooks (registered by the constructor)
    void on_ac_search(CMDU* cmdu);
    void on_ac_wsc(CMDU* cmdu);
    void on_vend_spec(CMDU* cmdu);

    // ---- vendor TLV handlers of this minder
    void on_hkt_disc_resp(CMDU* cmdu, void* tlv);
    void on_hkt_ip_change_notification(CMDU* cmdu, void* tlv);
    void on_hkt_heartbeat(CMDU* cmdu, void* tlv);
    void on_hkt_ex_notification(CMDU* cmdu, void* tlv);
    void on_hkt_ip_info_query(CMDU* cmdu, void* tlv);
    void on_hkt_vsn_query(CMDU* cmdu, void* tlv);

    // ---- what the graph minder tells the vendor agents
    // The backhaul of the Multi-AP agent LOCAL_ALE is connected or not: its node goes
    // online or offline.
    void notify_ap_bh_change(const MAC& local_ale, bool is_backhaul_connected);
    // Senders to the vendor agent of the Multi-AP agent AGENT (its AL MAC). 0 sent; -1
    // when the agent has no discovered vendor agent, the stack does not know it or the
    // send fails (each logged).
    int send_hkt_backhaul_information_notify(const MAC& agent,
                                             const hkt_backhaul_information_notify_tlv& info);
    int send_hkt_wifi_radio_special_cfg_request(const MAC& agent, unsigned short cfg_type,
                                                unsigned char radio, unsigned char value);
    int send_hkt_vaps_info_query(const MAC& agent);
    int send_hkt_interfaces_statistic_request(const MAC& agent, const std::vector<MAC>& ifs);
    int send_hkt_port_info_request(const MAC& agent, const MAC& port_mac);
    // Asks the extender whose Multi-AP agent is AGENT to return to its factory settings
    // (also after its removal from the registry).
    int send_factory_reset_request(const MAC& agent);
    // The discovery request (relayed multicast); re-arms the discovery poll.
    int send_hkt_discovery_request();

    // ---- what the control bus asks of the vendor agent minder (loop thread)
    // The platform's Marlow join state (*STATE 1: joined). 0 on success, -1 for null.
    int handle_marlow_join(const int* state);

    // The gateway's virtual serial number ("00000000" when the platform has none).
    const std::string& virtual_sn() const { return vsn_; }

  private:
    // The node an HKT message came from (its source, by HKT MAC), or null (logged).
    HktNode* sender_node(CMDU* cmdu, const char* func, const char* what);
    // The vendor agent of AGENT with the stack's interface towards it; null (logged).
    HktNode* target_node(const MAC& agent, const char* func, const char** ifname);
    // Sends RECORD to the vendor agent of AGENT.
    template <class T>
    int send_to_agent(const MAC& agent, T& record, const char* func);
    void start_ap_status_timer(HktNode& node);
    long long jitter(long long span);
    int64_t now() const;
    void register_cmdu_handlers();

    Logger logger_;
    HktGraphPeer* graph_peer_ = nullptr;
    HktDataPeer* data_peer_ = nullptr;
    HktConfigPeer* config_peer_ = nullptr;
    uv_loop_s* loop_;
    std::vector<HktNode> nodes_;
    Callbacks callbacks_;
    std::unique_ptr<OneShotTimer> discovery_poll_;
    std::unique_ptr<OneShotTimer> discovery_burst_;
    std::unique_ptr<OneShotTimer> bh_8bytes_;
    std::unique_ptr<Timer> offline_check_;
    std::map<std::string, std::unique_ptr<OneShotTimer>> ap_status_timers_;
    // Vendor agents of removed nodes, by agent AL MAC (for the factory reset).
    struct Removed {
        MAC hkt_mac;
        std::string sn;
    };
    std::map<MAC, Removed> removed_;
    int burst_left_ = 0;
    int64_t last_burst_ms_ = 0;
    std::minstd_rand rng_;
    std::string vsn_ = "00000000";
    uint64_t generation_;
};
