#include "hkt/hkt_mgmt_minder.h"

#include "core/log.h"
#include "nal/nal.h"

HktMgmtMinder::HktMgmtMinder(uv_loop_s* loop) : logger_(root_logger, "mgmt", "", -1), loop_(loop) {
    int level = find_config_log_level("root.mgmt");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

HktMgmtMinder::~HktMgmtMinder() = default;

Err HktMgmtMinder::init(Context& /*context*/) {
    return Err(0);
}

void HktMgmtMinder::run() {
    OZR_INFO(&logger_, "HktMgmtMinder::{}() running", __func__);
}
