#include "data/data_minder.h"

#include <uv.h>

#include "core/log.h"
#include "graph/backhaul_information.h"
#include "graph/sta_capability.h"
#include "nal/nal.h"

DataMinder::DataMinder(uv_loop_s* loop) : logger_(root_logger, "data", "", -1), loop_(loop) {
    int level = find_config_log_level("root.data");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

DataMinder::~DataMinder() {
    // The service thread reads this minder: it ends first.
    bus_.reset();
}

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
    if (!client_db_.db_init()) {
        OZR_ERROR(&logger_, "DataMinder::{}() - Client info DB init failed", __func__);
        return Err(-1);
    }
    start_ap_metrics_schedule();
    // The D-Bus bridge: the loop wake-up, the socket pair, then the service thread.
    if (bus_ && bus_->start(loop_, &logger_) != 0)
        return Err(-1);
    return Err(0);
}

void DataMinder::run() {
    OZR_INFO(&logger_, "DataMinder::{}() running", __func__);
}

void DataMinder::notify_sta_steering_request(const StaSteeringEvent_t& event) {
    OZR_DEBUG(&logger_, "DataMinder::{}() sta MAC: {} from {} to {} type {}", __func__,
              zka_text(event.sta_mac), zka_text(event.src_bssid), zka_text(event.dst_bssid),
              static_cast<uint32_t>(event.steer_type));
    if (!bus_ || bus_->notify("vexal.ozrd", "notifyStaSteeringRequest", &event, sizeof event) != 0)
        OZR_DEBUG(&logger_, "DataMinder::{}() signal not sent: no bus service", __func__);
}
