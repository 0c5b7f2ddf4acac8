// The AP configuration database: the extenders the user admitted to the mesh (the white
// list), keyed by serial number, and the metric reporting policy and controller topology
// intervals, kept in /configs/easymesh/ozr_config_db.json.
//
// Document (keys in this order, pretty-printed with a four-space indent, final newline):
//   "version": "1.0.0", "last updated": "<local time>.<ms % 100000 on 5 digits> <zone>",
//   "alme-port": 8777, "other-map-controller-found": false,
//   "ap-white-list": [{"serial-number", "hw-model", "ale-id", "system-mac", "hostname",
//                      "hkt-mgmt-cap", "status"}, ...]   (serial number order)
//   "metric-policy-configuration": {five signed 32-bit integers},
//   "controller-topology-configuration": {four unsigned 32-bit integers}
//
// Every change is made in memory, then the whole file is replaced atomically (temporary
// file in the same folder, fsync, rename, mode 0600): a crash at any moment leaves the old
// or the new file, never a torn one. A failed write keeps the change in memory, is logged,
// and the operation answers false; the next change (even one that changes nothing) tries
// the write again. A change that leaves memory as it was rewrites nothing.
//
// At start (db_init) the file is checked: an unparsable file (or one larger than
// kMaxFileBytes, or whose root is not an object) is kept as ozr_config_db_backup.json and
// replaced by a default one; a parsable file with invalid parts has its invalid records
// dropped, its text kept as the backup, and a cleaned file written.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "common/mac.h"
#include "hkt/ap_status.h"
#include "log/logger.h"

// One admitted extender; every member is a string.
struct ApRecord {
    std::string sn;            // "serial-number": the key, 1 to 33 characters
    std::string hw_model;      // "hw-model"
    std::string hostname;      // "hostname"
    std::string ale_id;        // "ale-id": the 1905 AL MAC, "aa:bb:cc:dd:ee:ff"
    std::string system_mac;    // "system-mac"
    std::string hkt_mgmt_cap;  // "hkt-mgmt-cap": vendor management capability (optional)
    std::string status;        // one of the ApStatus strings

    // "sn: …, hw_model: …, ale_id: …, system MAC: …, hostname: …, status: …."
    std::string to_string() const;
    bool operator==(const ApRecord& o) const;
    bool operator!=(const ApRecord& o) const { return !(*this == o); }
};

// The metric reporting policy (signed 32-bit each).
struct MetricPolCfg {
    int32_t metrics_report_interval = 10;            // "metrics-report-interval", seconds
    int32_t sta_metrics_rssi_threshold_dbm = 0;      // "sta-metrics-rssi-threshold-dbm"
    int32_t sta_metrics_rssi_hysteresis_margin = 0;  // "sta-metrics-rssi-hysteresis-margin"
    int32_t ap_metrics_channel_utilization_threshold = 0;
    // "ap-metrics-channel-utilization-threshold-dbm"
    int32_t sta_link_sta_traffic_stats = 255;  // "sta-link-sta-traffic-stats"

    bool operator==(const MetricPolCfg& o) const;
    bool operator!=(const MetricPolCfg& o) const { return !(*this == o); }
};

// The controller's topology intervals (unsigned 32-bit each).
struct CtlrTopoCfg {
    uint32_t al_entity_topology_discovery_interval = 60;
    uint32_t map_controller_topology_query_interval = 60;
    uint32_t map_controller_link_metric_query_interval = 60;
    uint32_t map_controller_dead_agent_detection_interval = 3;

    bool operator==(const CtlrTopoCfg& o) const;
    bool operator!=(const CtlrTopoCfg& o) const { return !(*this == o); }
};

// The JSON keys of the two policy blocks, in document order.
extern const char* const kMetricPolicyKeys[5];
extern const char* const kControllerTopologyKeys[4];

// "aa:bb:cc:dd:ee:ff" as the database reads it: the text split at ':', each group exactly
// two hex digits, at most six groups; missing trailing groups leave zero bytes.
bool parse_db_mac(const std::string& text, MAC& out);

class ApConfigDb {
  public:
    // Bounds of what the database takes from its file.
    static constexpr size_t kMaxFileBytes = 256 * 1024;
    static constexpr size_t kMaxRecords = 32;

    ApConfigDb();
    ~ApConfigDb();
    ApConfigDb(const ApConfigDb&) = delete;
    ApConfigDb& operator=(const ApConfigDb&) = delete;

    // Creates the folder, opens (or creates) the file and checks it. False when the folder
    // or the file cannot be created or opened, or a replacement of an empty or unparsable
    // file cannot be written.
    bool db_init();

    // False when SN is already a key; otherwise stores REC and answers the write result.
    bool db_add_record(const std::string& sn, const ApRecord& rec);
    // False when SN is not a key or REC.sn differs from SN; otherwise replaces the record
    // and answers the write result.
    bool db_update_record(const std::string& sn, const ApRecord& rec);
    // False when SN is not a key; otherwise erases it and answers the write result.
    bool db_delete_record(const std::string& sn);
    // {0, record} when found, {2, null} otherwise (logged at debug / error level). The
    // pointer stays valid until the record is erased.
    std::pair<int, const ApRecord*> db_query_record(const std::string& sn) const;
    std::pair<int, const ApRecord*> db_get_record(const std::string& sn) const;
    const std::map<std::string, ApRecord>& records() const { return records_; }

    bool db_get_map_policy_cfg(MetricPolCfg& out) const;
    bool db_get_controller_topo_cfg(CtlrTopoCfg& out) const;
    bool db_update_map_policy_cfg(const MetricPolCfg& cfg);
    bool db_update_controller_topo_cfg(const CtlrTopoCfg& cfg);
    // Both blocks at once: one write when either changed.
    bool db_update_cfg_blocks(const MetricPolCfg& policy, const CtlrTopoCfg& topo);

    // Fills DOC (made an empty object) with the document of the in-memory state, stamped
    // with the time of the last write (or of the file read at start).
    void db_build_json(rapidjson::Document& doc) const;
    // Writes DOC to the database path; false (logged) when it cannot be written.
    bool db_write_file(rapidjson::Document& doc);
    // The document text as it would be written now.
    std::string db_build_text();

    // What a file's text held (db_load_text).
    enum class LoadResult {
        EMPTY,       // no text: a new database
        UNPARSABLE,  // not JSON, or its root is not an object
        CORRUPT,     // parsable, but invalid parts were dropped or replaced
        CLEAN,       // taken as it is (a record missing a field is dropped silently)
    };
    // Replaces the in-memory state with what TEXT holds, checking it as the start does
    // (every finding logged); touches no file. db_init uses it on the file's text.
    LoadResult db_load_text(const std::string& text);

    // The status strings of the records (hkt/ap_status.h).
    static std::string status_to_string(ApStatus status) { return ap_status_to_string(status); }
    static ApStatus string_to_status(const std::string& text) {
        return ap_status_from_string(text);
    }
    static bool is_status_string(const std::string& text) { return is_ap_status_string(text); }

    const std::string& db_path() const { return path_; }
    const std::string& db_backup_path() const { return backup_path_; }
    // Whole-file writes done (successful ones), for the benchmarks and tests.
    unsigned long long writes() const { return writes_; }

  private:
    bool db_check_integrity(const std::string& text, bool too_big);
    bool write_state();
    void build_json(rapidjson::Document& doc, const std::string& stamp) const;
    void remove_stale_temporaries() const;

    Logger logger_;
    std::string version_;
    std::string path_;
    std::string backup_path_;
    MetricPolCfg metric_policy_;
    CtlrTopoCfg topo_cfg_;
    std::map<std::string, ApRecord> records_;
    std::string last_updated_;
    // The file may differ from memory (a write failed): the next change writes even if
    // it changes nothing.
    bool dirty_ = false;
    unsigned long long writes_ = 0;
};
