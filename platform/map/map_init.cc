#include "map/map_init.h"

#include <uv.h>

#include <cstdlib>
#include <string>
#include <vector>

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

namespace {
struct StackHandle {
    uv_handle_s* handle;
    map_handle_close_fn close;
};
std::vector<StackHandle>& stack_handles() {
    static std::vector<StackHandle> v;
    return v;
}
}  // namespace

void map_register_stack_handle(uv_handle_s* handle, map_handle_close_fn own_close) {
    stack_handles().push_back({handle, own_close});
}

void map_unregister_stack_handle(uv_handle_s* handle) {
    auto& v = stack_handles();
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i].handle == handle) {
            v.erase(v.begin() + static_cast<long>(i));
            return;
        }
    }
}

void generic_close_cb(uv_handle_s* handle) {
    auto& v = stack_handles();
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i].handle != handle)
            continue;
        map_handle_close_fn own = v[i].close;
        v.erase(v.begin() + static_cast<long>(i));
        // The loop is being torn down around the stack: its objects must not
        // touch their handles again.
        map_stack_abandon();
        own(handle);
        return;
    }
}
