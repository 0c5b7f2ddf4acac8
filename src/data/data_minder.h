// Owns the databases, the extenders' onboarding state and the D-Bus bridge (through the
// DataBusPeer the assembly hands over). It is the data peer of the graph minder, the
// vendor agent registry and the steering minder below it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/mac.h"
#include "core/minder.h"
#include "core/timer.h"
#include "data/ap_config_db.h"
#include "data/ap_info.h"
#include "data/client_info_db.h"
#include "data/data_peers.h"
#include "data/ozr_dbg_db.h"
#include "graph/graph_peers.h"
#include "hkt/hkt_peers.h"
#include "log/logger.h"
#include "messages/bus_records.h"
#include "steering/steering_peers.h"

struct uv_loop_s;
struct backhaul_information;
struct StaCapabilityInfo;
struct BsteeringRssiThreshold;
enum class Medium : uint8_t;
class HktMgmtMinder;
struct BhSteerEntry;

class DataMinder : public Minder,
                   public GraphDataPeer,
                   public HktDataPeer,
                   public SteeringDataPeer {
  public:
    // Builds the "data" category logger (path "root.data") with its configured level.
    explicit DataMinder(uv_loop_s* loop);
    ~DataMinder() override;
    DataMinder(const DataMinder&) = delete;
    DataMinder& operator=(const DataMinder&) = delete;

    Err init(Context& context) override;
    void run() override;

    // ---- Logging configuration (debug database), for the REST and D-Bus layers
    // (data_minder_dbg.cc). The getters read the database; 0 on success.
    int ozr_dbg_get_ozr_log_cfg(OzrLogCfg& out);
    int ozr_dbg_get_map_log_cfg(MapLogCfg& out);
    int ozr_dbg_get_log_destination(std::string& out);
    // The updaters check every level name ("emerg" .. "debug"), apply the levels to the
    // running loggers (root, the minders' category loggers, the platform log) or to the
    // stack's modules, then persist them. 0 on success; -1 when a name is not a level
    // (nothing applied, nothing written) or the database write failed (levels applied).
    int ozr_dbg_update_ozr_log_cfg(const OzrLogCfg& cfg);
    int ozr_dbg_update_map_log_cfg(const MapLogCfg& cfg);
    // Persists the log destination; it takes effect at the next start.
    int ozr_dbg_update_log_destination(const std::string& destination);

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    // The other minders' level changes, by their place in OzrLogCfg (1 graph,
    // 2 configuration, 3 rest, 4 steering, 5 mgmt, 7 controller): the assembly hands them
    // over, so that the data minder needs to know none of those minders.
    using LevelSetter = std::function<void(int)>;
    void set_level_setter(int place, LevelSetter setter) {
        if (place > 0 && place < static_cast<int>(level_setters_.size()))
            level_setters_[static_cast<size_t>(place)] = std::move(setter);
    }
    const Logger* logger() const { return &logger_; }
    OzrDbgDb& dbg_db() { return dbg_db_; }

    // The control bus above, handed over (and owned from then on) by the assembly before
    // init, which starts it. Null: no bus, signals dropped.
    void set_bus(std::unique_ptr<DataBusPeer> bus) { bus_ = std::move(bus); }

    // ---- what the graph minder tells the data minder (GraphDataPeer)
    // A device's backhaul information changed (or the device was deleted: disconnected):
    // refreshes the admitted extender's RAM DB entry (data_minder_extenders.cc).
    void notify_ap_bh_change(const backhaul_information& info) override;
    // A station's capability record was learnt (also from steering).
    void notify_client_cap_info(const MAC& sta, const StaCapabilityInfo& caps) override;
    // Fills CAPS with the record stored for STA; false when none is stored.
    bool sync_client_cap_info(const MAC& sta, StaCapabilityInfo& caps) override;

    // ---- the client database and the steering settings (data_minder_steering.cc)
    ClientInfoDb& client_db() { return client_db_; }
    // The bands the database remembers for STA: 2 (dual band) when it was seen on both,
    // 0 only 2.4 GHz, 1 only 5 GHz, -1 when it has no record.
    int client_band_capability(const MAC& sta) const override;
    // Remembers that STA was seen on MEDIUM (written only when that is news).
    void note_client_band(const MAC& sta, Medium medium) override;
    // STA obeyed a steering request.
    void note_client_obeyed(const MAC& sta) override;
    // The forwarders of the steering settings: each stores one value into the steering
    // minder, narrowed to the member's width, and does nothing else.
    void global_steer_enable(bool v);
    void bsteering_enable(bool v);
    void backoff_enable(bool v);
    void free_roaming_enable(bool v);
    void set_rssi_threshold(BsteeringRssiThreshold& v);
    void msteering_enable(bool v);
    void set_roaming_margin(unsigned char v);
    void idle_steer_enable(bool v);
    void set_idle_threshold(unsigned short v);
    void set_free_roaming_threshold(unsigned short v);
    void set_bsteer_ping_pong_offset_cal(signed char v);
    void set_bsteer_decision_window(unsigned int v);
    void set_bsteer_decision_chance(float v);
    void set_roaming_back_check_time(unsigned int v);
    void set_bsteer_min_safe_rssi_2g(int v);
    void set_msteer_5g_rssi(int v);
    void enable_hkt_steering(bool v);
    void set_steering_cat(int v);
    void enable_bsteer_ping_pong_check(bool v);
    void enable_bsteer_ping_pong_check_5g(bool v);
    void enable_bsteer_ping_pong_check_2g(bool v);
    void set_free_roaming_time(unsigned int v);
    void set_btm_disassoc_timer(unsigned int v);
    // Defaults and the platform policy again.
    void steering_system_reset();
    // The AP metrics of every agent are asked for every kApMetricsQueryMs.
    static constexpr long long kApMetricsQueryMs = 10000;

    // ---- what the control bus asks of the data minder (loop thread)
    // (add_ap_white_list and remove_extender: with the extenders below)
    // Fills LIST with the admitted extender SN (empty: every admitted extender, at most
    // kZkaMaxExtenderInfo). 0 on success, -1 when SN is not admitted.
    int get_white_list_aps_info(const std::string& sn, ZkaExtenderInfoList_T* list);
    // Applies the thresholds selected by the request's valid_mask to the steering settings.
    // 0 on success, -1 for null or a value out of range.
    int set_steering_threshold(const ZkaSteeringThresholdConfig_T* cfg);
    // Builds the packed topology block; *OUT is malloc'ed, the caller frees it. 0 on
    // success, -1 on failure (*OUT null).
    int get_mesh_network_topology(ZkaEmNetwork_T** out);
    // The topology as a NUL-terminated text, malloc'ed; 0 on success, -1 (*OUT null).
    int get_mesh_network_topology_info(ZkaEmNetworkInfo_T** out);
    // Writes the readable dump of BLOCK (SIZE bytes) to the dump file; 0, or -1 when the
    // block does not walk or the file cannot be written.
    int print_mesh_topo_block(const unsigned char* block, size_t size, const char* caller);
    static constexpr const char* kMeshTopoDumpPath = "/configs/easymesh/mesh_topo_dump.txt";
    // The admitted extender one of whose MACs (AL, system or AP MAC) is MAC_TEXT, as
    // colon-separated hex in any case: its serial number and whether it is online. 0 when
    // found, -1 otherwise.
    int get_ap_by_mac(const std::string& mac_text, std::string* sn, bool* online);
    // Raises "notifyStaSteeringRequest" with EVENT.
    void notify_sta_steering_request(const StaSteeringEvent_t& event) override;
    // Agent AL_MAC reported channel preferences or scan results for its radio RADIO_ID.
    // For a radio of the gateway's own agent the radio's available-channel list (as
    // getavailablechannel answers it) is read again and raised as "notifyAvailableChannel"
    // when it differs from the last one raised for that radio.
    void notify_available_channel(const MAC& al_mac, const MAC& radio_id) override;

    // ---- backhaul steering and fronthaul radio management, for REST and the bus
    // (data_minder_backhaul.cc); without a steering minder the getters answer false / "".
    // Sends each entry at once, in order (the check's gates do not apply). The number of
    // requests the stack accepted.
    int add_bh_steer_entries(const std::vector<std::unique_ptr<BhSteerEntry>>& entries);
    // Logs each entry; nothing else.
    void del_bh_steer_entries(const std::vector<std::unique_ptr<BhSteerEntry>>& entries);
    int send_backhaul_steering(const std::unique_ptr<BhSteerEntry>& entry);
    std::string get_bh_steer_block_reason() const;
    void set_bh_steer_enable(bool on);
    bool get_bh_steer_enable() const;
    void set_fh_mgmt_enable(bool on);
    bool get_fh_mgmt_enable() const;
    void set_all_devices_5gh_fh_enable(bool enable);

    // ---- extenders: white list, onboarding state, online status, removal
    // (data_minder_extenders.cc). Serial numbers are taken in any case and kept upper case.
    // The AP configuration database (the white list, the policy blocks).
    ApConfigDb& cfg_db() { return cfg_db_; }
    // Admits SN: a NotDetected record, its RAM DB entry and timers, a known vendor agent.
    // False when SN is empty, already admitted, the white list is full, or the record
    // cannot be stored.
    bool add_ap_white_list(const std::string& sn);
    // Removes SN from the database, the RAM DB and the vendor agent registry, then
    // registers a retried factory reset with the stack when its AL MAC is known. 0 (also
    // for an SN not on the white list: nothing to remove), or -1 for an empty SN, the
    // gateway itself, a failed registration, or a database file left unrewritten.
    int remove_extender(const std::string& sn);
    // The onboarding state machine; 0 when the requested state was taken or already held.
    RetStatus update_ap_state(const std::string& sn, ApStatus state) override;
    // The state in the RAM DB; INVALID_STATUS when SN is unknown.
    ApStatus get_ap_onboarding_status(const std::string& sn) override;
    // The admitted serial numbers, in order.
    std::vector<std::string> get_white_list_aps() const override;
    // The vendor agent reports SN online or offline.
    void notify_ap_status_change(const std::string& sn, bool online) override;
    // Refreshes SN's RAM DB entry: PARAM says what changed (for AP_PARAM_ONLINE, ONLINE is
    // the new state). A change to online starts the online wait; a change to offline is
    // announced at once.
    void notify_ap_info_change(const std::string& sn, ApParam param, bool online = false) override;
    // Sends "notifyMeshTopologyChange" for a Configured extender; false when it cannot.
    bool send_ap_status_change_notification(const std::string& sn);
    // Sends "marlowAuthReqSignal" for SN's vendor agent.
    void notify_Extender_Authorized(const std::string& sn);
    // The RAM DB entry of SN (any case), or null.
    const ApInfo* ramdb_find(const std::string& sn) const override;
    // The RAM DB entry of the extender whose AL MAC is AL_MAC (learnt from the stack's
    // data model through its M1 serial number when not known yet), or null.
    const ApInfo* ramdb_find_by_ale(const MAC& al_mac);
    // Its serial number; "" when none is known (SteeringDataPeer).
    std::string extender_sn_by_ale(const MAC& al_mac) override;
    const std::map<std::string, ApInfo>& ramdb() const { return ramdb_; }
    // Timers of SN (null when SN has none).
    const ApTimerInfo* timer_info(const std::string& sn) const;

    // Online wait: checks every kOnlineWaitMs whether the extender's radios report their
    // BSSs, at most kOnlineWaitTries times.
    static constexpr long long kOnlineWaitMs = 10000;
    static constexpr int kOnlineWaitTries = 10;
    void start_kway_tree_update_timer(const std::string& sn);
    // The online wait timer of SN fired: checks the stack's data model, then retries,
    // propagates online or gives up.
    void dm_online_wait_timer_cb(const std::string& sn);
    // After a removal: the time to wait before the removal is done again (ms).
    static constexpr unsigned kDefaultApRemoveWaitMs = 60000;
    void set_ap_remove_wait_time(unsigned int ms) { ap_remove_wait_ms_ = ms; }
    unsigned int get_ap_remove_wait_time() const { return ap_remove_wait_ms_; }
    // Starts the factory reset timer of the removed extender whose AL MAC is MAC. 0 when
    // it runs, -1 when no removed extender has that AL MAC.
    int start_ap_factory_reset_timer(const MAC& mac);
    // The factory reset timer of the removed SN fired: the removal is done again.
    void ap_factory_reset_wait_timer(const std::string& sn);
    // How long a port stays blocked (s), kept for the platform's access-list work.
    static constexpr unsigned kDefaultPortBlockTime = 60;
    void set_port_block_time(unsigned int seconds) { port_block_time_ = seconds; }
    unsigned int get_port_block_time() const { return port_block_time_; }

  private:
    void start_ap_metrics_schedule();
    // Builds the RAM DB and the timers from the database (from init).
    void init_ramdb();
    // Adds or refreshes SN's RAM DB entry from its record.
    void ramdb_add_ap(const ApRecord& rec);
    ApInfo* ramdb_entry(const std::string& sn);
    ApTimerInfo* timer_entry(const std::string& sn);
    void create_timer_info(const std::string& sn);
    void restart_online_wait(ApTimerInfo& t);
    void stop_online_wait(ApTimerInfo& t);
    void propagate_online(const std::string& sn);
    // Removal from the database, the RAM DB and the vendor agent registry.
    void remove_extender_records(const std::string& sn);
    // Whether the extender with AL MAC / serial number is the gateway itself.
    bool is_gateway_ap(const MAC& ale, const std::string& sn) const;
    // Copies the vendor agent's identity into SN's record (written when it changed).
    void update_record_identity(const std::string& sn);
    HktMgmtMinder* hkt() const;
    void erase_timer_info(const std::string& sn);
    // The stack's retried factory reset: its action and its end (ARG points at the AL MAC
    // key of pending_resets_).
    static int factory_reset_action(void* arg);
    static void factory_reset_done(int status, void* arg);

    Logger logger_;
    std::array<LevelSetter, 8> level_setters_;
    uv_loop_s* loop_;
    OzrDbgDb dbg_db_;
    ClientInfoDb client_db_;
    std::unique_ptr<Timer> ap_metrics_timer_;
    ApConfigDb cfg_db_;
    std::map<std::string, ApInfo> ramdb_;
    std::map<std::string, std::unique_ptr<ApTimerInfo>> timers_;
    // Pending factory resets registered with the stack, by AL MAC (the retry's argument
    // points at the key).
    std::map<MAC, std::string> pending_resets_;
    // The last "notifyAvailableChannel" record raised per radio of the gateway's agent.
    std::map<MAC, ZkaAvailableChannelListRsp_T> available_channels_;
    unsigned ap_remove_wait_ms_ = kDefaultApRemoveWaitMs;
    unsigned port_block_time_ = kDefaultPortBlockTime;
    std::unique_ptr<DataBusPeer> bus_;
};
