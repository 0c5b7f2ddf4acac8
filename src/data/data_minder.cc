#include "data/data_minder.h"

#include <uv.h>

#include "core/log.h"
#include "dbus/ozr_dbus.h"
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
    ozr_dbus_stop();
    sock_pair_.discard_pending();
    if (dbus_async_) {
        auto* h = reinterpret_cast<uv_handle_t*>(dbus_async_);
        if (uv_is_closing(h))
            delete dbus_async_;  // closed by the shutdown walk, the loop has finished it
        else
            uv_close(h, [](uv_handle_t* closed) { delete reinterpret_cast<uv_async_t*>(closed); });
        dbus_async_ = nullptr;
    }
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
    if (dbus_async_ == nullptr) {
        dbus_async_ = new uv_async_t();
        int r = uv_async_init(loop_, dbus_async_, ozr_dbus_uv_async_cb);
        if (r != 0) {
            OZR_ERROR(&logger_, "DataMinder::{}() - uv_async_init failed: {}", __func__,
                      uv_strerror(r));
            delete dbus_async_;
            dbus_async_ = nullptr;
            return Err(-1);
        }
        dbus_async_->data = &sock_pair_;
    }
    sock_pair_.set_logger(&logger_);
    sock_pair_.set_wakeup(dbus_async_);
    if (sock_pair_.init_sock_pair() != 0) {
        OZR_ERROR(&logger_, "DataMinder::{}() - socket pair init failed", __func__);
        return Err(-1);
    }
    ozr_dbus_server();
    return Err(0);
}

void DataMinder::run() {
    OZR_INFO(&logger_, "DataMinder::{}() running", __func__);
}

void DataMinder::notify_sta_steering_request(const StaSteeringEvent_t& event) {
    OZR_DEBUG(&logger_, "DataMinder::{}() sta MAC: {} from {} to {} type {}", __func__,
              zka_text(event.sta_mac), zka_text(event.src_bssid), zka_text(event.dst_bssid),
              static_cast<uint32_t>(event.steer_type));
    if (ozr_dbus_notify("vexal.ozrd", "notifyStaSteeringRequest", &event, sizeof event) != 0)
        OZR_DEBUG(&logger_, "DataMinder::{}() signal not sent: no bus service", __func__);
}
