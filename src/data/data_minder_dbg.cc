// The data minder's operations on the logging configuration of the debug database:
// read it, and apply new levels to the running loggers and the stack before
// persisting them.
#include "core/log.h"
#include "data/data_minder.h"
#include "map/map_log.h"
#include "nal/nal.h"

int DataMinder::ozr_dbg_get_ozr_log_cfg(OzrLogCfg& out) {
    if (!dbg_db_.db_get_ozr_log_cfg(out))
        return -1;
    OZR_DEBUG(&logger_, "DataMinder::{}()- OZR log level returned", __func__);
    return 0;
}

int DataMinder::ozr_dbg_get_map_log_cfg(MapLogCfg& out) {
    if (!dbg_db_.db_get_map_log_cfg(out))
        return -1;
    OZR_DEBUG(&logger_, "DataMinder::{}()- MAP log level returned", __func__);
    return 0;
}

int DataMinder::ozr_dbg_get_log_destination(std::string& out) {
    if (!dbg_db_.db_get_log_destination(out))
        return -1;
    OZR_DEBUG(&logger_, "DataMinder::{}()- Log Destination {} returned", __func__, out);
    return 0;
}

int DataMinder::ozr_dbg_update_ozr_log_cfg(const OzrLogCfg& cfg) {
    const std::string* names[] = {&cfg.root,     &cfg.graph, &cfg.configuration, &cfg.rest,
                                  &cfg.steering, &cfg.mgmt,  &cfg.data,          &cfg.controller};
    int levels[8];
    for (int i = 0; i < 8; ++i) {
        auto r = str_to_log_level(*names[i]);
        if (!r.second) {
            OZR_ERROR(&logger_, "DataMinder::{}()- OZR log level set failed", __func__);
            return -1;
        }
        levels[i] = r.first;
    }
    set_root_logger_level(levels[0]);
    nal_setLogLevel(levels[0]);
    // The other minders' category loggers, in the database's order (graph, configuration,
    // rest, steering, mgmt; then controller after the data minder's own).
    for (int i = 1; i <= 7; ++i) {
        if (i == 6)
            continue;
        if (const LevelSetter& s = level_setters_[i])
            s(levels[i]);
    }
    set_log_level(levels[6]);
    if (!dbg_db_.db_update_ozr_log_cfg(cfg)) {
        OZR_ERROR(&logger_, "DataMinder::{}()- OZR log level update in DB failed", __func__);
        return -1;
    }
    OZR_INFO(&logger_, "DataMinder::{}()- OZR log level updated successfully", __func__);
    return 0;
}

int DataMinder::ozr_dbg_update_map_log_cfg(const MapLogCfg& cfg) {
    const std::string* names[] = {&cfg.map_1905, &cfg.map_library, &cfg.map_controller,
                                  &cfg.map_vendor_ipc};
    int levels[4];
    for (int i = 0; i < 4; ++i) {
        auto r = str_to_log_level(*names[i]);
        if (!r.second) {
            OZR_ERROR(&logger_, "DataMinder::{}()- MAP log level set failed", __func__);
            return -1;
        }
        levels[i] = r.first;
    }
    set_map_ieee1905_module_log_level(levels[0]);
    set_map_library_module_log_level(levels[1]);
    set_map_controller_module_log_level(levels[2]);
    set_map_ipc_module_log_level(levels[3]);
    if (!dbg_db_.db_update_map_log_cfg(cfg)) {
        OZR_ERROR(&logger_, "DataMinder::{}()- MAP log level update in DB failed", __func__);
        return -1;
    }
    OZR_INFO(&logger_, "DataMinder::{}()- MAP log level updated successfully", __func__);
    return 0;
}

int DataMinder::ozr_dbg_update_log_destination(const std::string& destination) {
    if (!dbg_db_.db_update_log_destination(destination)) {
        OZR_ERROR(&logger_, "DataMinder::{}()- OZR log destination update in DB failed", __func__);
        return -1;
    }
    OZR_INFO(&logger_, "DataMinder::{}()- OZR log destination update in DB succeeded", __func__);
    return 0;
}
