// The assembly of the daemon: the Context's minders are built, initialised, run and
// torn down here, above every minder, in the orders the Context's header gives, and each
// lower minder is handed the peers above it that it reports to (graph_peers.h,
// hkt_peers.h, steering_peers.h, data_peers.h). The core only declares the Context;
// nothing below this folder knows all the minders.
#include <uv.h>

#include <memory>

#include "configuration/configuration_minder.h"
#include "controller/controller_minder.h"
#include "core/context.h"
#include "core/log.h"
#include "core/timer.h"
#include "data/data_minder.h"
#include "dbus/bridge.h"
#include "dbus/dispatch.h"
#include "dbus/json_config.h"
#include "dbus/ozr_dbus.h"
#include "graph/graph_minder.h"
#include "hkt/hkt_mgmt_minder.h"
#include "map/map_init.h"
#include "rest/rest_minder.h"
#include "steering/steering_minder.h"

namespace {
// A minder's level change, through its Context field (skipped once the minder is gone).
template <class M>
DataMinder::LevelSetter level_setter(M* const& minder) {
    return [&minder](int level) {
        if (minder)
            minder->set_log_level(level);
    };
}
}  // namespace

Context::Context(uv_loop_s* l) : loop(l) {
    // Construction order is registration order of the minders' CMDU handlers.
    graph_minder = new GraphMinder(loop);
    rest_minder = new RestMinder(loop);
    steering_minder = new SteeringMinder(loop);
    hkt_mgmt_minder = new HktMgmtMinder(loop);
    data_minder = new DataMinder(loop);
    config_minder = new ConfigurationMinder(loop);
    controller_minder = new ControllerMinder(loop);
    // Each lower minder reaches the higher ones it reports to through its peers.
    graph_minder->set_steering_peer(steering_minder);
    graph_minder->set_data_peer(data_minder);
    hkt_mgmt_minder->set_graph_peer(graph_minder);
    hkt_mgmt_minder->set_data_peer(data_minder);
    hkt_mgmt_minder->set_config_peer(config_minder);
    steering_minder->set_data_peer(data_minder);
    steering_minder->set_json_config_handler(ozr_handle_json_config);
    // The debug database's log levels go through the data minder to every minder.
    data_minder->set_level_setter(1, level_setter(graph_minder));
    data_minder->set_level_setter(2, level_setter(config_minder));
    data_minder->set_level_setter(3, level_setter(rest_minder));
    data_minder->set_level_setter(4, level_setter(steering_minder));
    data_minder->set_level_setter(5, level_setter(hkt_mgmt_minder));
    data_minder->set_level_setter(7, level_setter(controller_minder));
    // The data minder owns the loop side of the bus and starts it at init; the service
    // thread hands its messages to that socket pair, the loop to the daemon's dispatcher.
    auto bridge = std::make_unique<LoopBridge>();
    SockPairHdlr::set_default_dispatch(ozr_dbus_cb_hdlr);
    ozr_dbus_attach(bridge->sock_pair(), data_minder->logger());
    data_minder->set_bus(std::move(bridge));
    instance_ = this;
}

Context::~Context() {
    delete hkt_mgmt_minder;
    delete graph_minder;
    delete rest_minder;
    delete steering_minder;
    delete data_minder;
    delete config_minder;
    delete controller_minder;
    hkt_mgmt_minder = nullptr;
    graph_minder = nullptr;
    rest_minder = nullptr;
    steering_minder = nullptr;
    data_minder = nullptr;
    config_minder = nullptr;
    controller_minder = nullptr;
    ozr_dbus_attach(nullptr, nullptr);
    SockPairHdlr::set_default_dispatch(nullptr);
    instance_ = nullptr;
}

Err Context::init() {
    struct Step {
        Minder* minder;
        const char* failure;
    };
    const Step steps[] = {
        {data_minder, "data_minder failed to initialize"},
        {graph_minder, "graph_minder failed to initialize"},
        {rest_minder, "rest_minder failed to initialize"},
        {steering_minder, "steering_minder failed to initialize"},
        {hkt_mgmt_minder, "hkt_mgmt_minder failed to initialize"},
        {config_minder, "config_minder failed to initialize"},
        {controller_minder, "controller_minder failed to initialize"},
    };
    for (const Step& s : steps) {
        Err e = s.minder->init(*this);
        e.checked = 1;
        if (e.code != 0) {
            OZR_NOTICE(root_logger, "{}", s.failure);
            return Err(1);
        }
    }
    return Err(0);
}

void Context::start() {
    graph_minder->run();
    rest_minder->run();
    steering_minder->run();
    hkt_mgmt_minder->run();
    data_minder->run();
    config_minder->run();
    controller_minder->run();
}

namespace {
void close_walk_cb(uv_handle_t* h, void* /*arg*/) {
    const void* addr = h;
    OZR_DEBUG(root_logger, "Handle {} Type {}", addr, static_cast<int>(h->type));
    switch (h->type) {
        case UV_TIMER:
            if (uv_is_active(h)) {
                OZR_INFO(root_logger, "Timer {} active, stopping", addr);
                uv_timer_stop(reinterpret_cast<uv_timer_t*>(h));
            }
            if (!uv_is_closing(h)) {
                OZR_INFO(root_logger, "Closing timer {}", addr);
                // The timers' own close callback (if the handle is a BaseTimer's) only
                // frees the handle block once its timer object is gone.
                BaseTimer::close_timer_handle(reinterpret_cast<uv_timer_t*>(h));
            }
            break;
        case UV_ASYNC:
            if (uv_is_closing(h)) {
                OZR_INFO(root_logger, "Async Handle {} already closing, will not close again",
                         addr);
            } else {
                OZR_INFO(root_logger, "Closing Async handle {} (type={})", addr,
                         static_cast<int>(h->type));
                uv_close(h, nullptr);
            }
            break;
        case UV_NAMED_PIPE:
            if (uv_is_closing(h)) {
                OZR_INFO(root_logger, "Pipe Handle {} already closing, will not close again", addr);
            } else {
                OZR_INFO(root_logger, "Closing Pipe handle {} (type={})", addr,
                         static_cast<int>(h->type));
                uv_close(h, nullptr);
            }
            break;
        default:
            if (uv_is_closing(h)) {
                OZR_INFO(root_logger, "Handle {} already closing, will not close again", addr);
            } else {
                OZR_INFO(root_logger, "Closing handle {} (type={}) with generic callback", addr,
                         static_cast<int>(h->type));
                uv_close(h, generic_close_cb);
            }
            break;
    }
}
}  // namespace

void Context::shutdown() {
    // The D-Bus service thread wakes the loop through a handle about to close: it ends first.
    ozr_dbus_stop();
    uv_stop(loop);
    uv_walk(loop, close_walk_cb, nullptr);
    while (uv_loop_alive(loop)) {
        OZR_INFO(root_logger, "Running loop to finalize handles");
        uv_run(loop, UV_RUN_ONCE);
    }
    int r = uv_loop_close(loop);
    OZR_INFO(root_logger, "uv_loop_close result {}", r);
}
