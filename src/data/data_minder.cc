#include "data/data_minder.h"

#include "core/log.h"
#include "graph/backhaul_information.h"
#include "graph/sta_capability.h"
#include "nal/nal.h"

// Keeps the logging routes (log_routes.cc) in the program.
void data_log_routes_linked();

DataMinder::DataMinder(uv_loop_s* loop) : logger_(root_logger, "data", "", -1), loop_(loop) {
    data_log_routes_linked();
    int level = find_config_log_level("root.data");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

DataMinder::~DataMinder() = default;

Err DataMinder::init(Context& /*context*/) {
    if (!cfg_db_.db_init()) {
        OZR_ERROR(&logger_, "DataMinder::{}() - Config DB init failed", __func__);
        return Err(-1);
    }
    init_ramdb();
    if (!dbg_db_.db_init()) {
        OZR_ERROR(&logger_, "DataMinder::{}() - OZR DBG DB init failed", __func__);
        return Err(-1);
    }
    return Err(0);
}

void DataMinder::run() {
    OZR_INFO(&logger_, "DataMinder::{}() running", __func__);
}

void DataMinder::notify_client_cap_info(const MAC& sta, const StaCapabilityInfo& caps) {
    OZR_DEBUG(&logger_, "DataMinder::{}() sta MAC: {} channels: {}", __func__, sta.to_string(),
              caps.channels_string());
}

bool DataMinder::sync_client_cap_info(const MAC& sta, StaCapabilityInfo& /*caps*/) {
    OZR_DEBUG(&logger_, "DataMinder::{}() sta MAC: {} no stored record", __func__, sta.to_string());
    return false;
}
