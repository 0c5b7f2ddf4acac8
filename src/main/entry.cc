#include "main/entry.h"

#include <uv.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/context.h"
#include "core/log.h"
#include "data/ozr_dbg_db.h"
#include "dbus/bridge.h"
#include "log/logger.h"
#include "main/build_info.h"
#include "main/cmdline.h"
#include "map/map_init.h"
#include "map/map_log.h"
#include "nal/nal.h"
#include "qbus/qbus.h"
#include "supervise/supervise.h"

namespace {
// The logging back-end keeps a reference to the Config; it lives as long as the process.
Config g_config;

// Sets up the destination named by PATH ("syslog", "stdout", "null" or "", else a file).
// Returns the back-end's result (positive errno on failure).
int init_destination(const std::string& path) {
    if (path == "syslog")
        return init_syslog_logger("ozr");
    if (path == "stdout")
        return init_stdout_logger();
    if (path == "null" || path.empty())
        return init_null_logger();
    return init_file_logger(path);
}

// Category paths in the order their persisted levels are merged, with the record field.
struct Category {
    const char* path;
    std::string OzrLogCfg::*field;
};
const Category kCategories[] = {
    {"root.graph", &OzrLogCfg::graph},
    {"root.configuration", &OzrLogCfg::configuration},
    {"root.rest", &OzrLogCfg::rest},
    {"root.mgmt", &OzrLogCfg::mgmt},
    {"root.steering", &OzrLogCfg::steering},
    {"root.data", &OzrLogCfg::data},
    {"root.controller", &OzrLogCfg::controller},
};

void merge_category_levels(OzrDbgDb& db, bool root_given) {
    auto& levels = g_config.levels;
    OzrLogCfg rec;
    db.db_get_ozr_log_cfg(rec);
    if (root_given) {
        rec.root = log_level_to_str(levels["root"]);
    } else {
        auto r = str_to_log_level(rec.root);
        if (r.second)
            levels["root"] = r.first;
    }
    for (const Category& c : kCategories) {
        auto it = levels.find(c.path);
        if (it != levels.end()) {
            rec.*c.field = log_level_to_str(it->second);
        } else {
            auto r = str_to_log_level(rec.*c.field);
            if (r.second)
                levels[c.path] = r.first;
        }
    }
    db.db_update_ozr_log_cfg(rec);
    set_root_logger_level(levels["root"]);
}

void apply_map_levels(OzrDbgDb& db) {
    _map_module_log m;
    m.library = get_map_module_log_level(MAP_LOG_LIBRARY);
    m.ieee1905 = get_map_module_log_level(MAP_LOG_IEEE1905);
    m.controller = get_map_module_log_level(MAP_LOG_CONTROLLER);
    m.vendor_ipc = get_map_module_log_level(MAP_LOG_IPC);
    if (!db.get_map_log_level(m))
        std::fprintf(stderr, "Failed to get MAP log level\r\n");
    bool overridden = false;
    int l = find_config_log_level("ozr.map");
    if (l != -1) {
        m.library = m.ieee1905 = m.controller = m.vendor_ipc = l;
        overridden = true;
    }
    const std::pair<const char*, int _map_module_log::*> each[] = {
        {"map.library", &_map_module_log::library},
        {"map.1905", &_map_module_log::ieee1905},
        {"map.controller", &_map_module_log::controller},
        {"map.vendor-ipc", &_map_module_log::vendor_ipc}};
    for (const auto& e : each) {
        l = find_config_log_level(e.first);
        if (l != -1) {
            m.*e.second = l;
            overridden = true;
        }
    }
    set_map_library_module_log_level(m.library);
    set_map_ieee1905_module_log_level(m.ieee1905);
    set_map_controller_module_log_level(m.controller);
    set_map_ipc_module_log_level(m.vendor_ipc);
    if (overridden)
        db.db_update_map_log_level(m);
}
}  // namespace

int ozr_main(int argc, char** argv) {
    // 1. Single instance. The signal tells the running instance that a second one was
    //    started; it goes out on a connection of its own (no service runs here).
    if (check_duplication_by_pid_file(argc > 0 ? argv[0] : "ozr") != 0) {
        qbusSendSignalOnce("vexal.ozr", "ozrDuplicationSignal");
        return 0;
    }

    // 2. The stack's interface-list name.
    std::snprintf(map_interfaces, sizeof map_interfaces, "%s", "ozr1");

    // 3.-4. Configuration and command line.
    g_config = Config();
    CommandLine cmd;
    if (!parse_command_line(argc, argv, cmd, stderr)) {
        std::fprintf(stderr, "Invalid command line arguments\n");
        return 1;
    }

    // 5. Help is looked at before anything else.
    for (const ParsedOption& o : cmd.options) {
        if (o.index == OPT_HELP) {
            std::fputs(usage_text(80).c_str(), stdout);
            return 0;
        }
    }

    // 6. Every option in command-line order.
    bool error = false;
    bool root_given = false;
    for (const ParsedOption& o : cmd.options) {
        switch (o.index) {
            case OPT_UNKNOWN:
                std::fprintf(stderr, "Unknown option: %s\n", o.text.c_str());
                error = true;
                break;
            case OPT_VERSION:
                std::printf("Build %s\n", g_szBuildVersion);
                std::printf("Commit %s\n", g_szMetaData);
                return 0;
            case OPT_LOG_PATH:
                g_config.log_path = o.arg;
                break;
            case OPT_LOG_LEVEL: {
                std::string prefix = "root";
                std::string level = o.arg;
                size_t colon = o.arg.find(':');
                if (colon != std::string::npos) {
                    prefix = o.arg.substr(0, colon);
                    level = o.arg.substr(colon + 1);
                }
                auto r = str_to_log_level(level);
                if (!r.second) {
                    std::fprintf(stderr, "Unknown log level: '%s'", level.c_str());
                    error = true;
                    break;
                }
                if (prefix == "root")
                    root_given = true;
                g_config.levels[prefix] = r.first;
                break;
            }
            case OPT_UNIT_TEST:
                g_config.unit_test = true;
                break;
            case OPT_HELP:
                break;
        }
    }

    // 7. Leftover words, then remembered errors.
    if (!cmd.non_options.empty()) {
        for (const std::string& a : cmd.non_options) {
            std::fprintf(stderr, "Invalid command line argument: '%s'\n", a.c_str());
        }
        return 1;
    }
    if (error)
        return 1;

    // 8. First logging set-up, from the command line.
    int r = init_destination(g_config.log_path);
    if (r > 0) {
        std::fprintf(stderr, "Failed to initialize logging: %s\n", std::strerror(r));
        return 2;
    }

    // 9. Root logger.
    init_root_logger(g_config.levels["root"], "", g_config);

    {
        // 10. The debug database (closed at the end of this block).
        OzrDbgDb dbg_db;
        dbg_db.db_init();
        std::string persisted;
        dbg_db.db_get_log_destination(persisted);

        // 11. Second logging set-up: the command line wins and is persisted; without
        //     one the persisted destination is used as it is.
        const std::string& path = g_config.log_path.empty() ? persisted : g_config.log_path;
        r = init_destination(path);
        if (r > 0) {
            std::fprintf(stderr, "Failed to initialize logging: %s\n", std::strerror(r));
            return 2;
        }
        if (!g_config.log_path.empty())
            dbg_db.db_update_log_destination(g_config.log_path);

        // 12. Category levels merged with the persisted record.
        merge_category_levels(dbg_db, root_given);

        // 13. Stack module levels, then the platform log.
        apply_map_levels(dbg_db);
        nal_initLogging(g_config.levels["root"], 2, "ozr");
    }

    // 14.-15.
    map_readfixedParam();
    OZR_NOTICE(root_logger, "---- Starting up ---------------------------------------------");

    // 16. The stack hands back the loop.
    char arg0[] = "ozr";
    char arg_syslog[] = "-S";
    char arg_stdout[] = "-s";
    char* stack_argv[3] = {arg0, nullptr, nullptr};
    int stack_argc = 1;
    if (g_config.log_path == "syslog")
        stack_argv[stack_argc++] = arg_syslog;
    if (g_config.log_path == "stdout")
        stack_argv[stack_argc++] = arg_stdout;
    uv_loop_s* loop = map_controller_init(stack_argc, stack_argv);
    if (loop == nullptr) {
        OZR_ERROR(root_logger, "map controller failed to initialize");
        return 1;
    }

    // 17. Context. On failure the minders built so far stay (the process ends).
    Context* context = new Context(loop);
    Err e = context->init();
    e.checked = 1;
    if (e.code != 0) {
        OZR_ERROR(root_logger, "context failed to initialize");
        ozr_dbus_stop();  // the service thread may be up already: it logs through the root
        teardown_logging();
        return 1;
    }

    // 18. Run until something stops the loop. The daemon serves from here on: a service
    //     manager that waits for it hears so, and gets keep-alives if it asks for them.
    context->start();
    long long keepalive_ms = supervise_notify_ready(loop);
    if (keepalive_ms > 0)
        OZR_NOTICE(root_logger, "Service manager watchdog: keep-alive every {} ms", keepalive_ms);
    OZR_NOTICE(root_logger, "Entering uv loop");
    // Log lines are written once per loop turn, before the loop waits (warnings at once).
    uv_prepare_t log_flush;
    uv_prepare_init(loop, &log_flush);
    uv_prepare_start(&log_flush, [](uv_prepare_t*) { flush_log(); });
    uv_unref(reinterpret_cast<uv_handle_t*>(&log_flush));
    set_log_batching(true);
    uv_run(loop, UV_RUN_DEFAULT);
    set_log_batching(false);
    uv_prepare_stop(&log_flush);

    // 19. Teardown.
    context->shutdown();
    delete context;
    teardown_logging();
    std::free(loop);
    return 0;
}
