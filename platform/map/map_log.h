// Log levels of the Multi-AP stack's own modules and its log output.
// Levels are the syslog severities 0 (emerg) .. 7 (debug).
#pragma once

#include <string>

enum MapLogModule { MAP_LOG_LIBRARY = 0, MAP_LOG_IEEE1905 = 1, MAP_LOG_CONTROLLER = 2, MAP_LOG_IPC = 3 };

void set_map_library_module_log_level(int level);
void set_map_ieee1905_module_log_level(int level);
void set_map_controller_module_log_level(int level);
void set_map_ipc_module_log_level(int level);
void set_all_map_module_log_level(int level);
int get_map_module_log_level(MapLogModule module);

// Where the stack's lines go once they pass the module level. The platform's
// logging layer installs its writer at start; until then lines go to stderr.
using MapLogSink = void (*)(int level, const char* module_name, const std::string& text);
void map_log_set_sink(MapLogSink sink);

// printf-style line of MODULE at LEVEL; dropped when LEVEL exceeds the module's level.
void map_log(MapLogModule module, int level, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Names as used in the daemon's level prefixes: "map.library", "map.1905",
// "map.controller", "map.vendor-ipc".
const char* map_log_module_name(MapLogModule module);
