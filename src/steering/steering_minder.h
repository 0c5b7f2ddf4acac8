// Client and backhaul steering.
#pragma once

#include "core/minder.h"
#include "log/logger.h"

struct uv_loop_s;

class SteeringMinder : public Minder {
  public:
    // Builds the "steering" category logger (path "root.steering") with its configured level.
    explicit SteeringMinder(uv_loop_s* loop);
    ~SteeringMinder() override;
    SteeringMinder(const SteeringMinder&) = delete;
    SteeringMinder& operator=(const SteeringMinder&) = delete;

    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }

  private:
    Logger logger_;
    [[maybe_unused]] uv_loop_s* loop_;
};
