// Controller presence: duplicate-controller detection and the watchdog feed.
#pragma once

#include "core/minder.h"
#include "core/timer.h"
#include "log/logger.h"

struct uv_loop_s;

class ControllerMinder : public Minder {
  public:
    // Builds the "controller" category logger (path "root.controller") with its configured level.
    explicit ControllerMinder(uv_loop_s* loop);
    ~ControllerMinder() override;
    ControllerMinder(const ControllerMinder&) = delete;
    ControllerMinder& operator=(const ControllerMinder&) = delete;

    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }
    void on_watchdog_feed();
    const Timer& watchdog_timer() const { return watchdog_timer_; }

  private:
    Logger logger_;
    [[maybe_unused]] uv_loop_s* loop_;
    // Feeds the platform watchdog every 10 s for the life of the process.
    Timer watchdog_timer_;
};
