#include "rest/rest_service.h"

#include "rest/builtin_routes.h"

RestService::RestService(uv_loop_s* loop, const Logger* logger, const RestLimits& limits)
    : loop_(loop), logger_(logger), limits_(limits), table_(logger) {
    table_.load_preload();
    add_builtin_routes(table_, logger);
}

RestService::~RestService() = default;

int RestService::start(Context& ctx, const RestListenAddress& address) {
    if (server_)
        return UV_EALREADY;
    server_ = std::make_unique<HttpServer>(loop_, logger_, ctx, table_, limits_);
    return server_->start(address.address, address.port);
}

void RestService::close() {
    if (server_)
        server_->close();
}
