#include "map/map_init.h"

#include <uv.h>

#include <cstdlib>

char map_interfaces[kMapInterfacesMax] = "";

int map_readfixedParam() {
    return 0;
}

uv_loop_s* map_controller_init(int /*argc*/, char** /*argv*/) {
    auto* loop = static_cast<uv_loop_t*>(std::malloc(sizeof(uv_loop_t)));
    if (loop == nullptr)
        return nullptr;
    if (uv_loop_init(loop) != 0) {
        std::free(loop);
        return nullptr;
    }
    return loop;
}

void generic_close_cb(uv_handle_s* /*handle*/) {}
