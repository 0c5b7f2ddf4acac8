#include "map/map_log.h"

#include <cstdarg>
#include <cstdio>

namespace {
int g_levels[4] = {5, 5, 5, 5};
MapLogSink g_sink = nullptr;

int clamp_level(int level) { return level < 0 ? 0 : (level > 7 ? 7 : level); }
}  // namespace

void set_map_library_module_log_level(int level) { g_levels[MAP_LOG_LIBRARY] = clamp_level(level); }
void set_map_ieee1905_module_log_level(int level) {
    g_levels[MAP_LOG_IEEE1905] = clamp_level(level);
}
void set_map_controller_module_log_level(int level) {
    g_levels[MAP_LOG_CONTROLLER] = clamp_level(level);
}
void set_map_ipc_module_log_level(int level) { g_levels[MAP_LOG_IPC] = clamp_level(level); }
void set_all_map_module_log_level(int level) {
    for (int& l : g_levels) l = clamp_level(level);
}
int get_map_module_log_level(MapLogModule module) { return g_levels[module]; }

void map_log_set_sink(MapLogSink sink) { g_sink = sink; }

const char* map_log_module_name(MapLogModule module) {
    switch (module) {
        case MAP_LOG_LIBRARY:
            return "map.library";
        case MAP_LOG_IEEE1905:
            return "map.1905";
        case MAP_LOG_CONTROLLER:
            return "map.controller";
        case MAP_LOG_IPC:
            return "map.vendor-ipc";
    }
    return "map";
}

void map_log(MapLogModule module, int level, const char* fmt, ...) {
    if (level > g_levels[module]) return;
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    std::string text(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
    if (g_sink) {
        g_sink(level, map_log_module_name(module), text);
    } else {
        std::fprintf(stderr, "%s: %s\n", map_log_module_name(module), text.c_str());
    }
}
