// The process-wide owner of the event loop and the seven minders. The core knows the
// minders only by name: their construction, init, run and teardown are defined with the
// assembly of the daemon (main/assembly.cc), which is the one place that knows them all.
#pragma once

#include "core/minder.h"

struct uv_loop_s;

class DataMinder;
class GraphMinder;
class RestMinder;
class SteeringMinder;
class HktMgmtMinder;
class ConfigurationMinder;
class ControllerMinder;

class Context {
  public:
    // Constructs the minders (graph, rest, steering, HKT management, data, configuration,
    // controller), then publishes itself as the instance.
    explicit Context(uv_loop_s* loop);
    // Destroys the minders (HKT management, graph, rest, steering, data, configuration,
    // controller), then clears the instance.
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    // init of data, graph, rest, steering, HKT management, configuration, controller;
    // stops at the first failure (logged at notice on the root logger) with code 1.
    Err init();
    // run of graph, rest, steering, HKT management, data, configuration, controller.
    void start();
    // Current time in ms (get_current_time_ms).
    long long now() const;
    // After the loop has returned: stops it, closes every handle, runs the loop until
    // no handle is alive and closes it.
    void shutdown();

    static Context* instance();

    DataMinder* data_minder = nullptr;
    GraphMinder* graph_minder = nullptr;
    RestMinder* rest_minder = nullptr;
    SteeringMinder* steering_minder = nullptr;
    HktMgmtMinder* hkt_mgmt_minder = nullptr;
    ConfigurationMinder* config_minder = nullptr;
    ControllerMinder* controller_minder = nullptr;
    uv_loop_s* loop = nullptr;  // not owned

  private:
    static Context* instance_;
};

// True when now - last >= interval (unsigned 64-bit arithmetic).
bool rate_limit_ms(unsigned long long last, unsigned long long interval);
// True when start is 0, or when now - start >= interval.
bool timer_expired_ms(unsigned long long start, unsigned interval);
