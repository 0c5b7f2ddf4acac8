#include "rest/rest_minder.h"

#include <uv.h>

#include "core/log.h"
#include "nal/nal.h"
#include "rest/graph_routes.h"
#include "rest/log_routes.h"
#include "rest/map_cfg_routes.h"
#include "rest/rest_service.h"
#include "rest/ui_routes.h"

// Keeps the extender routes (extender_routes.cc) in the program.
void rest_extender_routes_linked();
// Keeps the backhaul steering routes (backhaul_routes.cc) in the program.
void rest_backhaul_routes_linked();
// Keeps the steering settings routes (steering_routes.cc) in the program.
void steering_routes_linked();
// Keeps GET /debug/hktmgmt (hkt_routes.cc) in the program.
void hkt_routes_linked();

RestMinder::RestMinder(uv_loop_s* loop) : logger_(root_logger, "rest", "", -1), loop_(loop) {
    int level = find_config_log_level("root.rest");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
    rest_graph_routes_linked();
    rest_extender_routes_linked();
    rest_backhaul_routes_linked();
    rest_map_cfg_routes_linked();
    steering_routes_linked();
    data_log_routes_linked();
    hkt_routes_linked();
    rest_ui_routes_linked();
    service_ = std::make_unique<RestService>(loop, &logger_);
}

RestMinder::~RestMinder() {
    // Normally the context has closed every loop handle (the server's with them) and
    // run the loop dry before the minders go. When it has not, the loop still holds
    // the server's handles (a listener that failed to start is closing, say): close
    // what is open and let every close callback run before the server goes.
    HttpServer* s = service_->server();
    if (s && loop_ && s->holds_handles()) {
        if (s->has_unclosed_handles())
            service_->close();
        for (int i = 0; i < 8 && s->holds_handles(); ++i)
            uv_run(loop_, UV_RUN_NOWAIT);
    }
}

Err RestMinder::init(Context& context) {
    char buf[256] = {};
    int rc = nal_getMeshRestListenAddress(buf, sizeof buf);
    if (service_->start(context, rest_listen_address(rc, buf, &logger_)) != 0) {
        // The daemon's other work does not depend on its REST API.
        return Err(0);
    }
    return Err(0);
}

void RestMinder::run() {
    OZR_INFO(&logger_, "RestMinder::{}() running", __func__);
}

void RestMinder::stop() {
    service_->close();
}

int RestMinder::port() const {
    HttpServer* s = service_->server();
    return s ? s->port() : 0;
}
