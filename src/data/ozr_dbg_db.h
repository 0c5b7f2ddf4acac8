// The debug database: the daemon's and the Multi-AP stack's log levels and the log
// destination, kept in /configs/easymesh/ozr_dbg_db.json so that they outlive a restart.
//
// Document (keys in this order, pretty-printed with four-space indent):
//   "version", "last updated", "log-destination",
//   "map-log-configuration": {"map.1905", "map.library", "map.controller", "map.vendor-ipc"},
//   "ozr-log-configuration": {"root", "root.graph", "root.configuration", "root.rest",
//                             "root.steering", "root.mgmt", "root.data", "root.controller"}
// Level values are the syslog names "emerg" .. "debug".
//
// Every write replaces the file atomically (temporary file, fsync, rename). When the
// file read at start is unparsable or holds invalid members, its text is first saved
// as ozr_dbg_db_backup.json (itself written atomically), then a clean document is
// written: nothing that was persisted is lost, and a crash at any point leaves either
// the old or the new database, never a truncated one.
#pragma once

#include <string>

#include "log/logger.h"

// The four stack module levels as names, in document order.
struct MapLogCfg {
    std::string map_1905 = "info";
    std::string map_library = "info";
    std::string map_controller = "info";
    std::string map_vendor_ipc = "info";
};

// The eight daemon levels as names, in document order.
struct OzrLogCfg {
    std::string root = "info";
    std::string graph = "info";
    std::string configuration = "info";
    std::string rest = "info";
    std::string steering = "info";
    std::string mgmt = "info";
    std::string data = "info";
    std::string controller = "info";
};

// The eight daemon levels as numbers (0..7).
struct OzrMinderLog {
    int root = 6;
    int graph = 6;
    int configuration = 6;
    int rest = 6;
    int steering = 6;
    int mgmt = 6;
    int data = 6;
    int controller = 6;
};

// The four stack module levels as numbers (0..7): library, 1905, controller, vendor IPC.
struct _map_module_log {
    int library = 6;
    int ieee1905 = 6;
    int controller = 6;
    int vendor_ipc = 6;
};

class OzrDbgDb {
  public:
    OzrDbgDb();
    ~OzrDbgDb();
    OzrDbgDb(const OzrDbgDb&) = delete;
    OzrDbgDb& operator=(const OzrDbgDb&) = delete;

    // Creates the folder, opens (or creates) the file and checks it. False when the
    // folder or the file cannot be created/opened, or a replacement cannot be written.
    bool db_init();

    bool db_get_map_log_cfg(MapLogCfg& out) const;
    bool db_get_ozr_log_cfg(OzrLogCfg& out) const;
    bool db_get_log_destination(std::string& out) const;

    // Set in memory, rewrite the file, return the write result.
    bool db_update_map_log_cfg(const MapLogCfg& cfg);
    bool db_update_ozr_log_cfg(const OzrLogCfg& cfg);
    bool db_update_log_destination(const std::string& destination);
    bool db_update_map_log_level(const _map_module_log& levels);
    bool db_update_ozr_log_level(const OzrMinderLog& levels);

    // Stored names to numbers. A name that is not a level is logged and its field is left
    // as it was; the result is then false.
    bool get_ozr_log_level(OzrMinderLog& out);
    bool get_map_log_level(_map_module_log& out);

    // The document text as it would be written now.
    std::string db_build_text() const;
    const std::string& db_path() const { return path_; }
    const std::string& db_backup_path() const { return backup_path_; }

  private:
    bool db_check_integrity(const std::string& text);
    bool db_write_file();

    Logger logger_;
    std::string version_;
    std::string path_;
    std::string backup_path_;
    std::string log_destination_;
    MapLogCfg map_cfg_;
    OzrLogCfg ozr_cfg_;
};
