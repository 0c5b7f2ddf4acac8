// Keeps the mesh topology graph up to date from received CMDUs and collects metrics.
//
// The work is split by concern over several files:
//   graph_minder.cc          construction, handler registration, timers, queries of others
//   minder_nodes.cc          node creation and kind conflicts, link rules, stale links, GC,
//                            the topology-change debounce, the Ethernet backbone owner
//   minder_topology.cc       Topology Response / Notification / Discovery handlers
//   minder_reports.cc        capability, channel, metric and event report handlers
//   minder_backhaul.cc       backhaul information with the quality hysteresis
//   minder_queries.cc        the query senders and the periodic query work
//   minder_vendor.cc         the vendor agents' answers and the vendor senders
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/minder.h"
#include "core/timer.h"
#include "graph/device_names.h"
#include "graph/graph.h"
#include "graph/graph_peers.h"
#include "graph/ssid_sync.h"
#include "hkt/hkt_peers.h"
#include "log/logger.h"
#include "map/cmdu.h"

struct uv_loop_s;
struct NeighborDeviceListTLV;
struct TopologyResponseMesg;

// Unassociated link metric measurements asked of one device on one operating class and
// channel.
struct UnassociateClientsInfo {
    uint8_t op_class = 0;
    uint8_t channel = 0;
    std::vector<MAC> stas;
};

// Parameters of a beacon metrics query: the class and channels to measure on, the BSSID
// (broadcast: any) and the SSID.
struct BeaconMetricInfo {
    uint8_t op_class = 0;
    uint8_t channel = 255;  // 255: use the channel reports
    BSSID bssid = BSSID::broadcast;
    std::string ssid;
    struct ChannelReport {
        uint8_t op_class = 0;
        std::vector<uint8_t> channels;
    };
    std::vector<ChannelReport> ap_channel_reports;
};

// Whether a station's unassociated measurements are asked of the vendor agent (HKT) or of
// the Multi-AP agent.
enum class UnassocQueryType : uint8_t { AGENT = 0, HKT = 1 };

class GraphMinder : public Minder, public HktGraphPeer {
  public:
    // Builds the "graph" category logger (path "root.graph") with its configured level,
    // the twelve timers and the sixteen handler registrations.
    explicit GraphMinder(uv_loop_s* loop);
    ~GraphMinder() override;
    GraphMinder(const GraphMinder&) = delete;
    GraphMinder& operator=(const GraphMinder&) = delete;

    // Starts the timers.
    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level); also
    // passed to the platform layer.
    void set_log_level(int level);
    const Logger* logger() const { return &logger_; }
    Logger& mutable_logger() { return logger_; }

    // The mesh as learnt so far; REST and the other minders read it on the loop thread.
    Graph& graph() { return graph_; }
    const Graph& graph() const { return graph_; }

    // The minders above that follow what the graph learns, handed over by the assembly
    // (null: not told).
    void set_steering_peer(GraphSteeringPeer* peer) { steering_peer_ = peer; }
    void set_data_peer(GraphDataPeer* peer) { data_peer_ = peer; }

    // ---- timers
    struct TimerPeriod {
        const char* name;
        long long period_ms;
    };
    static const TimerPeriod kTimers[12];
    // The timer of that name, or null.
    Timer* find_timer(const std::string& name);

    // ---- message handlers (registered in the constructor)
    void on_link_metric_response(CMDU* cmdu);
    void on_ap_caps(CMDU* cmdu);
    void on_assoc_sta_link_metric_response(CMDU* cmdu);
    void on_unassoc_sta_link_metric_response(CMDU* cmdu);
    void on_beacon_response(CMDU* cmdu);
    void on_operating_channel(CMDU* cmdu);
    void on_discovery(CMDU* cmdu);
    void on_topology(CMDU* cmdu);
    void on_topology_notification(CMDU* cmdu);
    void on_sta_capability_report(CMDU* cmdu);
    void on_backhaul_steering_reponse(CMDU* cmdu);
    void on_ap_metric_response(CMDU* cmdu);
    void on_tunneled_message(CMDU* cmdu);
    void on_failed_connection_message(CMDU* cmdu);
    void on_ch_scan_report_message(CMDU* cmdu);
    void on_channel_preference_report_message(CMDU* cmdu);

    // ---- node and link rules
    // The device of AL_MAC, created (and named) when new; a node of the other kind under
    // that MAC is replaced. REFRESH sets last_seen_ms to now. Null for a zero MAC.
    Device* on_heard_about_device(const MAC& al_mac, bool refresh = true);
    void on_new_device(Device* device, const char* reason);
    Sta* on_heard_about_associated(const MAC& sta_mac);
    Sta* on_heard_about_wired_client(const MAC& sta_mac);
    WirelessLink* on_heard_about_wireless_link(Device* device, const BSSID& bssid, const MAC& sta);
    UnassociatedLink* on_heard_about_unassociated_link(Device* device, const BSSID& bssid,
                                                       const MAC& sta);
    WiredLink* on_heard_about_wired_link(Device* device, const MAC& to);
    bool is_skip_create_wired_links(const Device* device, const MAC& local_if, const MAC& to);
    // Deletes the links of DEVICE whose kind is not KEEP_LINK_KIND, whose far node (when in
    // the graph) is not of KEEP_NODE_KIND (0: none kept) and whose far MAC is not REPORTED.
    void remove_stale_links(Device* device, const std::set<MAC>& reported, int keep_node_kind,
                            int keep_link_kind);
    void identify_eth_backbone_owner(Device* device, const TopologyResponseMesg& topo);
    uint8_t convert_beacon_metrics_rcpi(const Device* device, const MAC& sta, uint8_t rcpi);
    void on_bsta_beacon_response(Device* device, const BeaconMetricsResponseTLV& report);

    // ---- periodic work (the timers' callbacks)
    void on_topo_query();
    void on_link_metric_query();
    void send_beacon_queries();
    void on_query_statistics();
    void on_query_vaps_info();
    void on_heart_beat();
    void on_gc();
    void update_devices_backhaul_information();
    void on_backhaul_information_update();
    void on_backhaul_information_sync();
    void on_topo_change_check();
    void on_unassoc_dynamic_schedule();
    void on_ssid_sync_timer_expire();

    // ---- query senders
    void send_topology_query(Device* device);
    void send_capability_query(Device* device);
    void send_device_link_metrics_query(Device* device);
    void send_assoc_sta_link_metric_query(const MAC& sta);
    void send_sta_capability_query(const MAC& sta, const BSSID& bssid, const Device* device);
    void send_ap_metric_query();
    void send_metric_reporting_policy(Device* device);
    void send_unassoc_sta_link_metric_queries();
    void send_unassoc_sta_link_metric_query(const Device* device,
                                            const std::vector<UnassociateClientsInfo>& infos,
                                            Device::UnassocMetricsType type);
    void send_beacon_query(const Device* device, const Sta* sta);
    void send_param_beacon_query(const Device* device, const Sta* sta,
                                 const BeaconMetricInfo& info);
    // The state of the vendor port INTERFACE_MAC of the device AGENT (its AL MAC, or its
    // vendor agent's MAC). 0 sent, -1 otherwise.
    int send_port_info_request(const MAC& agent, const MAC& interface_mac);
    // The port number learnt for INTERFACE_MAC of the device AGENT; 0 when unknown.
    uint16_t get_port_number(const MAC& agent, const MAC& interface_mac);
    // The stack's retried factory reset: ARG points at the Multi-AP agent AL MAC of the
    // extender to reset (HANDLE, the stack's 1905 handle, is not used). 0 sent.
    int send_factory_reset_request(void* handle, void* arg);
    // The last statistics the vendor agent of AGENT reported for INTERFACE. False when the
    // device or the interface has none.
    bool get_interface_statistic(const MAC& agent, const MAC& interface, HKTStatistic& out);

    // ---- vendor agent responses (handlers added to the vendor agent minder at init)
    void on_port_info_resp(CMDU* cmdu, void* tlv);
    void on_hkt_interfaces_statistic_resp(CMDU* cmdu, void* tlv);
    void on_hkt_vaps_info_resp(CMDU* cmdu, void* tlv);

    // ---- queries from other minders
    Device* find_device(const MAC& mac) const { return graph_.find_device(mac); }
    Device* find_device(const BSSID& bssid) const;
    bool get_device_backhaul_information(const MAC& mac, backhaul_information& out) const;
    bool get_sta_backhaul_information(const MAC& mac, sta_backhaul_information& out) const;
    // ---- what the vendor agent registry asks of the graph (HktGraphPeer)
    bool agent_backhaul(const MAC& agent, hkt_backhaul_information_notify_tlv& out) const override;
    const std::vector<HKTVapInfo>* agent_vaps(const MAC& agent) const override;
    bool is_root(const MAC& mac) const;
    bool is_local_map_agent(const MAC& mac) const;
    void debug();

    // ---- SSID credential sync (minder_ssid_sync.cc)
    // A renew goes to one agent at most this often, and only after a VAP report newer than
    // the last renew; a difference seen before that puts the agent on the retry list, looked
    // at again when its next VAP report arrives.
    static constexpr int64_t kSsidRenewHoldMs = 60000;
    // Compares the VAPs the vendor agent of AGENT (its Multi-AP AL MAC) last reported with the
    // credential table and sends the agent an autoconfiguration renew when they differ.
    // With MAY_RENEW false it only refreshes the agent's status (what a VAP report does for
    // an agent last seen differing, so that the debug view follows it back in line).
    SsidSyncVerdict sync_ssid_credential(const MAC& agent, bool may_renew = true);
    const std::set<MAC>& ssid_retry_list() const { return ssid_retry_; }
    // The last comparison per vendor device (Multi-AP AL MAC), for the debug views.
    struct SsidSyncStatus {
        SsidSyncVerdict verdict = SsidSyncVerdict::unknown;
        std::string difference;  // SsidSyncResult::describe(); SSIDs only, never a key
        int64_t checked_ms = 0;
        int64_t renew_ms = 0;  // the sync's last renew to it, 0 none
    };
    const std::map<MAC, SsidSyncStatus>& ssid_sync_status() const { return ssid_status_; }
    // Renews the sync sent so far.
    unsigned ssid_renews_sent() const { return ssid_renews_; }
    // An autoconfiguration renew went to AL_MAC (the 1905 multicast address: every agent)
    // from elsewhere; the sync waits for the agents' answer as after its own renews.
    void note_autoconfig_renew(const MAC& al_mac);

    // ---- debounce state
    bool topo_changed() const { return topo_changed_; }
    int64_t topo_check_ms() const { return topo_check_ms_; }
    // Times the debounce fired ("should_update").
    unsigned graph_updates() const { return graph_updates_; }
    void mark_topo_changed() { topo_changed_ = true; }

    // When a device was last added to the graph (0: never); backhaul steering waits for
    // the mesh to settle after one.
    int64_t last_device_created_ms() const { return last_device_created_ms_; }

    // Unassociated query type chosen per station by the dynamic schedule.
    UnassocQueryType unassoc_query_type(const MAC& sta) const;

    static constexpr int64_t kGcAgeMs = 70001;
    // Nodes the graph holds at most (a home mesh has dozens of devices and a few hundred
    // stations); what agents report beyond is refused until garbage collection frees room.
    static constexpr size_t kMaxNodes = 1024;
    static constexpr int64_t kTopoCheckMs = 10000;
    static constexpr uint32_t kBstaUnassocMaxDeltaMs = 60000;

  private:
    void register_handlers();
    int64_t now() const;
    GraphSteeringPeer* steering() const { return steering_peer_; }
    GraphDataPeer* data() const { return data_peer_; }
    void log_backhaul_change(const char* func, const backhaul_information& old,
                             const backhaul_information& now, bool deleted);
    // Hands the record of DEVICE to the data and vendor-agent minders.
    void notify_backhaul_change(const MAC& device, const backhaul_information& info);
    // The BSS of DEVICE that a station measured on OP_CLASS / CHANNEL would join: the
    // backhaul or the fronthaul BSS of the measuring radio.
    bool candidate_bss(const Device* device, uint8_t op_class, uint8_t channel, bool backhaul,
                       BSSID& out) const;
    void apply_sta_link_metrics(Device* device, const AssociatedStaLinkMetricsTLV& metrics);
    // Whether one of PEERS reported M as a non-1905 neighbour in its last response.
    bool peer_sees_mac(const std::vector<MAC>& peers, const MAC& m) const;
    void sync_sta_capability(Sta* sta);
    // False (logged at most once per GC period) when the graph is full.
    bool room_for_node();
    // The vendor port entries of DEVICES follow their vendor agents' Ethernet interfaces.
    void sync_vendor_ports(const std::vector<Device*>& devices);
    // The device of the vendor agent that sent CMDU, or null (logged with WHAT).
    Device* vendor_device(const CMDU* cmdu, const char* func, const char* what);
    // Marks S as the backhaul STA of OWNER and its association link as a backbone link.
    void mark_backhaul_sta(Sta* s, const MAC& owner);

    Logger logger_;
    GraphSteeringPeer* steering_peer_ = nullptr;
    GraphDataPeer* data_peer_ = nullptr;
    // Child of the root logger for the path cost searches ("root.cost").
    Logger cost_logger_;
    bool topo_changed_ = false;
    int64_t topo_check_ms_ = 0;
    unsigned graph_updates_ = 0;
    Graph graph_;
    std::deque<Timer> timers_;  // built in place, never moved
    DeviceNames device_names_;
    std::unordered_map<MAC, UnassocQueryType> unassoc_schedule_;
    // Backhaul records last reported, so that a deleted device is reported once more.
    std::unordered_map<MAC, backhaul_information> reported_backhaul_;
    // Non-1905 neighbours each device reported last, per AL MAC (for the backbone tests).
    std::unordered_map<MAC, std::set<MAC>> seen_wired_macs_;
    // SSID credential sync: when each vendor device last reported its VAPs and last got a
    // renew from the sync, and the agents owed a renew.
    std::unordered_map<MAC, int64_t> ssid_report_ms_;
    std::unordered_map<MAC, int64_t> ssid_renew_ms_;
    std::set<MAC> ssid_retry_;
    std::map<MAC, SsidSyncStatus> ssid_status_;
    unsigned ssid_renews_ = 0;
    int64_t multicast_renew_ms_ = 0;
    uv_loop_s* loop_;
    uint64_t generation_;
    bool full_logged_ = false;
    int64_t last_device_created_ms_ = 0;
};
