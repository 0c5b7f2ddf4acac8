#include "steering/steering_minder.h"

#include "core/log.h"
#include "nal/nal.h"

SteeringMinder::SteeringMinder(uv_loop_s* loop)
    : logger_(root_logger, "steering", "", -1), loop_(loop) {
    int level = find_config_log_level("root.steering");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

SteeringMinder::~SteeringMinder() = default;

Err SteeringMinder::init(Context& /*context*/) {
    return Err(0);
}

void SteeringMinder::run() {
    OZR_INFO(&logger_, "SteeringMinder::{}() running", __func__);
}
