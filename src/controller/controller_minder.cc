#include "controller/controller_minder.h"

#include "core/log.h"
#include "nal/nal.h"
#include "supervise/supervise.h"

ControllerMinder::ControllerMinder(uv_loop_s* loop)
    : logger_(root_logger, "controller", "", -1),
      loop_(loop),
      watchdog_timer_(loop, "Controller watchdog feed", [this] { on_watchdog_feed(); }) {
    int level = find_config_log_level("root.controller");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

ControllerMinder::~ControllerMinder() = default;

Err ControllerMinder::init(Context& /*context*/) {
    OZR_INFO(&logger_, "ControllerMinder::{}() starting the watchdog feed", __func__);
    watchdog_timer_.start(10000, 10000);
    return Err(0);
}

void ControllerMinder::run() {
    OZR_INFO(&logger_, "ControllerMinder::{}() running", __func__);
}

void ControllerMinder::on_watchdog_feed() {
    OZR_DEBUG(&logger_, "{}:{} .", __FILE__, __LINE__);
    watchdog_feed();
}
