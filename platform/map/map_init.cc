#include "map/map_init.h"

#include <uv.h>

#include <cstdlib>
#include <string>

#include "map/al/stack.h"
#include "map/map_log.h"

char map_interfaces[kMapInterfacesMax] = "";

int map_readfixedParam() {
    return map_stack_load_config();
}

uv_loop_s* map_controller_init(int /*argc*/, char** /*argv*/) {
    auto* loop = static_cast<uv_loop_t*>(std::malloc(sizeof(uv_loop_t)));
    if (loop == nullptr)
        return nullptr;
    if (uv_loop_init(loop) != 0) {
        std::free(loop);
        return nullptr;
    }
    std::string error;
    if (map_stack_start(loop, &error) != 0) {
        map_log(MAP_LOG_CONTROLLER, 2, "map controller init failed: %s", error.c_str());
        // Let libuv finish closing what was opened, then release the loop.
        uv_run(loop, UV_RUN_NOWAIT);
        if (uv_loop_close(loop) == 0)
            std::free(loop);
        return nullptr;
    }
    return loop;
}

void generic_close_cb(uv_handle_s* /*handle*/) {}
