// Serves the daemon's REST routes over a 32-device mesh (bench/mesh32.h) for
// bench/rest_wrk.sh: the context with every minder, the graph filled, the REST
// server on 127.0.0.1:<port>, until GET /quit.
//
//   rest_graph_server <port>
// OZR_REST_CACHE=0 in the environment turns the render-once cache off (every request
// renders its document), for a comparison.
#include <uv.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/context.h"
#include "graph/graph_minder.h"
#include "log/logger.h"
#include "mesh32.h"
#include "rest/rest_minder.h"
#include "rest/rest_service.h"

int main(int argc, char** argv) {
    int port = argc > 1 ? std::atoi(argv[1]) : 0;
    if (port <= 0 || port > 65535) {
        std::fprintf(stderr, "usage: %s <port>\n", argv[0]);
        return 2;
    }
    static Config config;
    init_null_logger();
    init_root_logger(3, "", config);
    uv_loop_t loop;
    uv_loop_init(&loop);
    Context* ctx = new Context(&loop);
    ozr_bench::fill_mesh32(ctx->graph_minder->graph(), ctx->now());
    const char* cache = std::getenv("OZR_REST_CACHE");
    if (cache && std::string(cache) == "0")
        ctx->rest_minder->service()->table().set_cache_enabled(false);
    RestListenAddress address;
    address.port = port;
    if (ctx->rest_minder->service()->start(*ctx, address) != 0) {
        std::fprintf(stderr, "rest_graph_server: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("rest_graph_server: listening on 127.0.0.1:%d\n", port);
    std::fflush(stdout);
    uv_run(&loop, UV_RUN_DEFAULT);
    ctx->shutdown();
    delete ctx;
    teardown_logging();
    return 0;
}
