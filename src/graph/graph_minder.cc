#include "graph/graph_minder.h"

#include "core/log.h"
#include "nal/nal.h"

GraphMinder::GraphMinder(uv_loop_s* loop) : logger_(root_logger, "graph", "", -1), loop_(loop) {
    int level = find_config_log_level("root.graph");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
}

GraphMinder::~GraphMinder() = default;

Err GraphMinder::init(Context& /*context*/) {
    return Err(0);
}

void GraphMinder::run() {
    OZR_INFO(&logger_, "GraphMinder::{}() running", __func__);
}
