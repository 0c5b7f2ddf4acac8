// Configures agents: channels, transmit power, policies, intervals.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "common/mac.h"
#include "core/minder.h"
#include "hkt/hkt_peers.h"
#include "log/logger.h"
#include "map/cmdu.h"
#include "map/map_config.h"
#include "messages/bus_records.h"

struct uv_loop_s;
class Timer;
struct channel_selection_request_event_t;

namespace ozr_cfg {
// The metric reporting policy as the stack takes it: 16 bytes, handed on as four 32-bit
// words (byte 0 report interval, 1 STA RSSI threshold dBm, 2 RSSI hysteresis margin, 3 AP
// channel utilisation threshold, 4 STA link / traffic statistics flag; bit 8 of the second
// word: report unsuccessful association attempts; third word: maximum reporting rate;
// fourth word reserved).
struct map_policy_config_t {
    uint8_t metrics_report_interval = 0;
    int8_t sta_metrics_rssi_threshold_dbm = 0;
    uint8_t sta_metrics_rssi_hysteresis_margin = 0;
    uint8_t ap_metrics_channel_utilization_threshold = 0;
    uint8_t sta_link_sta_traffic_stats = 0;
    uint8_t report_unsuccessful_association_attempts = 0;  // 0 or 1: bit 8 of the second word
    uint8_t pad[2] = {0, 0};
    uint32_t maximum_reporting_rate = 0;
    uint32_t reserved = 0;
    // The four words, in host order.
    void words(uint32_t out[4]) const;
};
static_assert(sizeof(map_policy_config_t) == 16, "four words");
}  // namespace ozr_cfg

// The controller's band selector of channel and transmit power requests.
enum frequent_band_type : int32_t {
    FREQ_BAND_2G = 0,       // 2.4 GHz (stack band mask 0x10)
    FREQ_BAND_5G = 1,       // 5 GHz (0x80)
    FREQ_BAND_5G_LOW = 2,   // one 5 GHz half (0x40: the stack's channels 100-177)
    FREQ_BAND_5G_HIGH = 3,  // the other half (0x20: the stack's channels 36-64)
    FREQ_BAND_6G = 4,       // 6 GHz (0x100)
};

// A channel request for the whole mesh (empty sn) or for one extender.
struct ozr_channel_configuration_t {
    std::string sn;  // empty: the whole mesh, gateway first
    frequent_band_type band = FREQ_BAND_2G;
    uint8_t channel = 0;         // primary channel ("ch_0"); 0 provisions only
    uint8_t bandwidth = 0;       // controller's bandwidth code 1..5
    uint8_t extra_first = 0;     // carried unchanged into the channel selection event
    uint8_t extra_mid = 0;       // carried unchanged
    uint8_t extra_last = 0;      // carried unchanged
    int32_t extra_int = 0;       // carried unchanged (its low byte)
    uint8_t second_channel = 0;  // "ch_1"
    uint8_t reason = 0;          // logged only
};

// What a channel request achieved.
struct ozr_channel_configuration_result_t {
    int32_t response = -1;  // channel selection result, 0 accepted
    uint8_t channel = 0;    // channel in effect
    uint8_t bandwidth = 0;  // bandwidth code in effect
};

// Channel selection result codes an agent answers with.
enum channel_selection_set_response_result : int32_t {
    CH_SEL_ACCEPT = 0,
    CH_SEL_DECLINE_CURRENT_PREFERENCE = 1,
    CH_SEL_DECLINE_REPORTED_PREFERENCE = 2,
    CH_SEL_DECLINE_BACKHAUL = 3,
};

// A transmit power request for the whole mesh (empty sn) or for one extender.
struct ozr_transmit_power_configuration_t {
    std::string sn;
    frequent_band_type band = FREQ_BAND_2G;
    uint8_t tx_power = 0;  // dBm
};

// True when the VAP's hidden text ("1", "true", "yes", "hidden", any case) says the SSID
// is not broadcast. Reads at most WIDTH bytes.
bool get_hidden_string(const char* text, size_t width);

class ConfigurationMinder : public Minder, public HktConfigPeer {
  public:
    // Builds the "configuration" category logger (path "root.configuration") with its configured
    // level.
    explicit ConfigurationMinder(uv_loop_s* loop);
    ~ConfigurationMinder() override;
    ConfigurationMinder(const ConfigurationMinder&) = delete;
    ConfigurationMinder& operator=(const ConfigurationMinder&) = delete;

    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level); a level
    // of 0 or more is also the platform's log level.
    void set_log_level(int level);
    const Logger* logger() const { return &logger_; }

    // ---- what the control bus asks of the configuration minder (loop thread)
    // Relays an HKT configuration blob to one extender (empty sn: every extender). 0 sent.
    int set_hkt_configuration(const std::string& sn, unsigned short len, const unsigned char* data);

    // ---- the vendor configuration relay (hkt_relay.cc)
    // Blobs whose length plus 8 reaches this are refused (the extender's limit).
    static constexpr unsigned kHktConfigMaxWire = 1501;
    // The blob to the vendor agent HKT_MAC. 0 sent; -1 for an unknown vendor agent, an
    // agent the stack does not know, a blob too long or a failed send.
    int send_hkt_configuration_request(const MAC& hkt_mac, unsigned short len,
                                       const unsigned char* data);
    // The blob to every vendor agent of the mesh, deepest first from depth 2; each failed
    // send is reported as a sync result of -1. Returns 0.
    int send_hkt_broadcast_configuration_request(unsigned short len, const unsigned char* data);
    // An extender's answer (HKT TLV type 4), registered with the vendor agent minder.
    void on_hkt_config_resp(CMDU* cmdu, void* tlv);
    // Hands RESULT, SN and the answer to the platform (nal_setSyncResult). 0, or -1 for a
    // null serial number, missing data or a failed allocation or call.
    int inform_hkt_configuration_result(int result, const char* sn, unsigned short len,
                                        const unsigned char* data) override;
    // The legacy backhaul VAP with 8-byte credentials on or off at the vendor agent MAC.
    // -1 for a zero MAC; otherwise 0 (a failed send is logged).
    int set_backhaul_vap_enabled_8Byte_ssidpw(const MAC& hkt_mac, bool enabled) override;
    // Channel of one band of the whole mesh or one extender. 0 on success; -1, -2, -3, -5
    // or -10 on failure.
    int set_channel_configuration(ozr_channel_configuration_t* cfg,
                                  ozr_channel_configuration_result_t* result);
    // Transmit power of one band of the whole mesh or one extender. 0, or -1, -3, -5, -10.
    int set_transmit_power_configuration(ozr_transmit_power_configuration_t* cfg,
                                         channel_selection_set_response_result* result);
    // Default 802.1Q settings handed to the stack. 0, or -1 for null / the stack's refusal.
    int set_default_802dot1q_configuration(config_default_802dot1q_t* cfg);
    // Traffic separation policy handed to the stack. 0, or -1 for null / the stack's refusal.
    int set_traffic_separation_policy_configuration(cfg_traffic_separation_policy_list_t* list);
    // Automatic channel selection on (non-zero) or off. Returns 0.
    int set_auto_channel(int enable);
    int auto_channel_state() const { return auto_channel_state_; }
    // The credentials of the gateway's enabled VAPs, handed to the stack for its M2s.
    // 0 on success; -1 for null, a bad entry or the stack's refusal (nothing changed).
    int set_vap_configuration(const ZkaAllEnabledVapCfg* cfg);
    // Fills OUT with the available channels of BAND on the extender SN (empty: the
    // gateway). 0 on success, -1 when the radio or the channel service is not found.
    int get_available_channel_list(const std::string& sn, frequent_band_type band,
                                   ZkaAvailableChannelListRsp_T* out);

    // ---- channel and transmit power (channel_config.cc)
    // The radio of BAND on the extender SN into RADIO_MAC (6 bytes). 0, or -1.
    int get_freq_band_radio_mac(std::string sn, frequent_band_type band, uint8_t* radio_mac);
    // EVENT to BAND's radio of every extender, deepest first, down to depth 2 (the gateway's
    // own agent is not among them); agents without a vendor agent are skipped. 0, or -1 when
    // the stack refused an event.
    int send_channel_configuration_broadcast(frequent_band_type band,
                                             channel_selection_request_event_t* event);
    // Operating Channel Report (0x8008): the channel service follows every radio; a channel
    // change of the gateway's own radio goes to every extender when both product switches
    // are 2.
    void on_operating_channel_report(CMDU* cmdu);
    int dcs_state() const { return dcs_state_; }
    // Reads the two product files (also done at construction).
    void read_product_switches();

    // ---- policy, intervals (policy_config.cc)
    // 0, or -1 when the stack refuses (the previous value stays).
    int set_topology_discovery_interval_configuration(uint16_t seconds);
    int set_topology_query_interval_configuration(uint16_t seconds);
    int set_link_metric_query_interval_configuration(uint16_t seconds);
    uint16_t topology_discovery_interval() const { return topology_discovery_interval_; }
    uint16_t topology_query_interval() const { return topology_query_interval_; }
    uint16_t link_metric_query_interval() const { return link_metric_query_interval_; }
    // The stack's result.
    int set_policy_configuration(const ozr_cfg::map_policy_config_t* policy);
    // The stored intervals / metric policy of the AP configuration database to the stack.
    int reset_controller_topo_configuration();
    int reset_policy_configuration();
    // The mobile-app-only product mode: backhaul steering and fronthaul management off.
    int set_mesh_for_mobile_app_only(bool only);
    bool mesh_for_mobile_app_only() const { return mobile_app_only_; }
    // The 10000 ms work: the channel service follows new radios, and every agent whose last
    // Policy Config Request predates the configuration now held gets a new one.
    void on_config_timer();
    // Agents' Policy Config Requests are out of date (a setting changed); sends at once.
    void policy_changed();
    // An agent's first AP Capability Report: the graph minder has just sent it a metric
    // policy of its own, so the configured one follows at once.
    void on_ap_capability_report(const MAC& al_mac);
    // The configuration generation each agent last got (tests, debug routes).
    uint32_t policy_generation() const { return policy_generation_; }
    uint32_t policy_generation_of(const MAC& al_mac) const;

  private:
    void register_handlers();
    void push_policy_config();

    Logger logger_;
    [[maybe_unused]] uv_loop_s* loop_;
    int dcs_state_ = 0;
    int auto_channel_state_ = 0;
    uint16_t topology_discovery_interval_ = 0;
    uint16_t topology_query_interval_ = 0;
    uint16_t link_metric_query_interval_ = 0;
    bool mobile_app_only_ = false;
    uint32_t policy_generation_ = 1;
    // What each agent of the stack's model got last (entries leave with the agent).
    struct PolicySent {
        uint32_t generation = 0;
        uint8_t radios = 0;
        bool caps_seen = false;
    };
    std::map<MAC, PolicySent> policy_sent_;
    std::unique_ptr<Timer> config_timer_;
    uint64_t generation_;  // guards the CMDU handler of a destroyed minder
};
