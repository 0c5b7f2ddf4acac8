// Owns the databases, the extenders' onboarding state and the D-Bus bridge.
#pragma once

#include <string>

#include "common/mac.h"
#include "core/minder.h"
#include "data/ozr_dbg_db.h"
#include "dbus/records.h"
#include "log/logger.h"

struct uv_loop_s;
struct backhaul_information;
struct StaCapabilityInfo;

class DataMinder : public Minder {
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
    const Logger* logger() const { return &logger_; }
    OzrDbgDb& dbg_db() { return dbg_db_; }

    // ---- what the graph minder tells the data minder (filled by the extender status and
    // client databases; for now each logs at debug level)
    // A device's backhaul information changed (or the device was deleted: disconnected).
    void notify_ap_bh_change(const backhaul_information& info);
    // A station's capability record was learnt.
    void notify_client_cap_info(const MAC& sta, const StaCapabilityInfo& caps);
    // Fills CAPS with the record stored for STA; false when none is stored.
    bool sync_client_cap_info(const MAC& sta, StaCapabilityInfo& caps);

    // ---- what the control bus asks of the data minder (loop thread)
    // Admits the serial number SN (stored upper case). True on success.
    bool add_ap_white_list(const std::string& sn);
    // Removes an admitted extender. 0 on success, -1 on failure.
    int remove_extender(const std::string& sn);
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
    // The admitted extender one of whose MACs (AL, system or AP MAC) is MAC_TEXT, as
    // colon-separated hex in any case: its serial number and whether it is online. 0 when
    // found, -1 otherwise.
    int get_ap_by_mac(const std::string& mac_text, std::string* sn, bool* online);
    // Raises "notifyStaSteeringRequest" with EVENT.
    void notify_sta_steering_request(const StaSteeringEvent_t& event);

  private:
    Logger logger_;
    [[maybe_unused]] uv_loop_s* loop_;
    OzrDbgDb dbg_db_;
};
