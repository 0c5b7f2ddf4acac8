#include "rest/rest_minder.h"

#include "core/log.h"
#include "nal/nal.h"
#include "rest/graph_routes.h"
#include "rest/rest_service.h"

RestMinder::RestMinder(uv_loop_s* loop) : logger_(root_logger, "rest", "", -1), loop_(loop) {
    int level = find_config_log_level("root.rest");
    if (level != -1) {
        logger_.set_level(level);
        nal_setLogLevel(level);
    }
    rest_graph_routes_linked();
    service_ = std::make_unique<RestService>(loop, &logger_);
}

RestMinder::~RestMinder() = default;

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
