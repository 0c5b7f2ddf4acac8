// Configures agents: channels, transmit power, policies, intervals.
#pragma once

#include "core/minder.h"
#include "log/logger.h"

struct uv_loop_s;

class ConfigurationMinder : public Minder {
  public:
    // Builds the "configuration" category logger (path "root.configuration") with its configured
    // level.
    explicit ConfigurationMinder(uv_loop_s* loop);
    ~ConfigurationMinder() override;
    ConfigurationMinder(const ConfigurationMinder&) = delete;
    ConfigurationMinder& operator=(const ConfigurationMinder&) = delete;

    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }

  private:
    Logger logger_;
    [[maybe_unused]] uv_loop_s* loop_;
};
