// A Multi-AP device: the controller's own agent, the co-located agent or an extender.
// It owns its links and keeps the latest copy of each report it sent about itself.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "graph/backhaul_information.h"
#include "graph/links.h"
#include "graph/node.h"
#include "hkt/hkt_node.h"
#include "map/hkt/hkt_message.h"
#include "messages/messages.h"

// A vendor port entry: port type, interface MAC and port number.
struct PortEntry {
    uint16_t type = 0;
    MAC mac;
    uint16_t port = 0;
};

// One interface of the device's vendor agent, with its last statistics.
struct HKTInterfaceInfo {
    MAC mac;
    bool has_statistics = false;
    HktStatistic statistics;
    int64_t statistics_ms = 0;  // when they arrived
};
using HKTStatistic = HktStatistic;

// One operating class of a radio's last Channel Preference report: the channels it lists
// (none: every channel of the class), their preference (0 non-operable .. 15 most
// preferred) and the reason code.
struct ChannelPreference {
    uint8_t op_class = 0;
    std::vector<uint8_t> channels;
    uint8_t preference = 0;
    uint8_t reason = 0;
};
struct RadioChannelPreference {
    MAC radio_id;
    std::vector<ChannelPreference> classes;
};

class Device : public Node {
  public:
    Device(const std::string& name, const MAC& al_mac, int64_t now_ms)
        : Node(name, al_mac, now_ms) {}
    ~Device() override;

    int kind() const override { return DEVICE; }
    void describe(Logger& log, const Graph& graph) const override;

    enum UnassocMetricsType { FRONTHAUL = 0, BACKHAUL = 1 };

    // Appends LINK and takes ownership.
    void add_link(Link* link);

    // ---- lookups
    optional<MAC> find_radio_id(const BSSID& bssid) const;
    const BSSInfo* find_bss_info(const BSSID& bssid) const;
    optional<std::string> find_ssid(const BSSID& bssid) const;
    // Medium of the radio holding BSSID (from the radio's capabilities); UNKNOWN if none.
    Medium find_medium(const BSSID& bssid) const;
    const BasicRadioCapabilitiesTLV* find_radio_info(Medium medium) const;
    const OperatingChannelReportTLV* find_operating_channel(const MAC& radio_id) const;
    // The channel preferences the agent last reported for RADIO_ID, or null.
    const RadioChannelPreference* find_channel_preference(const MAC& radio_id) const;
    optional<uint8_t> radio_primary_channel(const BSSID& bssid) const;
    optional<uint8_t> radio_primary_channel(const MAC& radio_id) const;
    optional<uint8_t> radio_primary_op_class(const MAC& radio_id) const;
    optional<BSSID> find_bssid(const std::string& ssid, Medium medium) const;
    const PortEntry* find_port(const MAC& interface_mac) const;
    const HKTVapInfo* find_vap_info(const BSSID& bssid) const;
    const HKTInterfaceInfo* find_hkt_interface_info(const MAC& mac) const;
    HKTInterfaceInfo* find_hkt_interface_info(const MAC& mac);
    PortEntry* find_port(const MAC& interface_mac);
    const LocalInterface* find_interface(const MAC& mac) const;
    const LocalInterface* find_interface(const BSSID& bssid) const;
    Link* find_link_by_bssid(const MAC& to, const BSSID& bssid) const;
    Link* find_wired_link(const MAC& to) const;
    WirelessLink* find_wireless_link(const MAC& to) const;
    // Age in ms of the last link metric for BSSID, and whether there is one.
    std::pair<int64_t, bool> find_link_metric_age(const BSSID& bssid) const;

    // ---- mutators
    void delete_link(Link** p);
    void delete_link(const MAC& to);
    bool delete_link(const MAC& to, Link::Kind kind);
    void update_current_channels(const OperatingChannelReportMesg& report);
    void update_interfaces(const std::vector<LocalInterface>& reported);
    void update_ch_scan_report(const APChannelScanReportMesg& report, const Logger* log = nullptr);
    // Replaces the preferences of the TLV's radio (bounded: kMaxPreferenceRadios radios,
    // the oldest replaced; kMaxPreferenceClasses classes of kMaxPreferenceChannels channels).
    void update_channel_preference(const channel_preference_tlv& tlv);
    void add_beacon_response_tlv(std::pair<BeaconMetricsResponseTLV, long long> response);
    // Whether the stored AP Capability Report declares unassociated STA link metrics
    // support (ON_CHANNEL: on the operating channel, else off-channel). Without a report
    // it says so on LOG once per device: the unassociated metric schedule asks for each
    // station every round.
    bool support_unassoc_response(bool on_channel, const Logger* log = nullptr) const;

    std::vector<Link*> links;
    optional<ApMetricResponseMesg> ap_metrics;
    optional<APCapabilityMesg> ap_capability;
    mutable bool no_ap_capability_logged = false;
    // The AP metrics reporting interval (s) of the last Policy Config Request sent to this
    // agent; -1 until one went out.
    int metric_reporting_interval_s = -1;
    std::vector<RadioInfo> operational_bss;
    OperatingChannelReportMesg current_channels;
    std::vector<LocalInterface> interfaces;
    std::vector<CacCompletionRadioReport> cac_completion_reports;
    std::vector<CacStatusReportNonOccupancyPairList> cac_non_occupancy;
    std::vector<CacStatusReportOngoingCacPairList> cac_ongoing;
    std::vector<std::pair<std::string, ChannelScanResultTLV>> ch_scan_results;
    std::vector<RadioChannelPreference> channel_preferences;
    std::vector<PortEntry> ports;
    std::vector<HKTVapInfo> hkt_vaps;
    std::vector<HKTInterfaceInfo> hkt_interfaces;  // at most HKT_MAX_INTERFACES
    std::unordered_map<BSSID, int64_t> link_metric_time;
    std::vector<std::pair<BeaconMetricsResponseTLV, long long>> beacon_responses;
    backhaul_information backhaul;
    uint8_t map_profile = 1;
    uint8_t policy_profile = 1;

    static constexpr size_t kMaxBeaconResponses = 10;
    static constexpr size_t kMaxPreferenceRadios = 8;
    static constexpr size_t kMaxPreferenceClasses = 32;
    static constexpr size_t kMaxPreferenceChannels = 64;

  private:
    // Tells the graph when an association link comes or goes (its serving-device index).
    void association_link_changed(const Link& link) const;
};
