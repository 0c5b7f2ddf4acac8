#include "rest/rest_minder.h"

#include "core/log.h"
#include "nal/nal.h"

RestMinder::RestMinder(uv_loop_s* loop) : logger_(root_logger, "rest", "", -1), loop_(loop) {
    int level = find_config_log_level("root.rest");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

RestMinder::~RestMinder() = default;

Err RestMinder::init(Context& /*context*/) {
    return Err(0);
}

void RestMinder::run() {
    OZR_INFO(&logger_, "RestMinder::{}() running", __func__);
}
