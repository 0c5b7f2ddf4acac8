#include "configuration/configuration_minder.h"

#include "core/log.h"
#include "nal/nal.h"

ConfigurationMinder::ConfigurationMinder(uv_loop_s* loop)
    : logger_(root_logger, "configuration", "", -1), loop_(loop) {
    int level = find_config_log_level("root.configuration");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

ConfigurationMinder::~ConfigurationMinder() = default;

Err ConfigurationMinder::init(Context& /*context*/) {
    return Err(0);
}

void ConfigurationMinder::run() {
    OZR_INFO(&logger_, "ConfigurationMinder::{}() running", __func__);
}
