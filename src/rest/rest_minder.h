// Serves the local HTTP REST API.
#pragma once

#include "core/minder.h"
#include "log/logger.h"

struct uv_loop_s;

class RestMinder : public Minder {
  public:
    // Builds the "rest" category logger (path "root.rest") with its configured level.
    explicit RestMinder(uv_loop_s* loop);
    ~RestMinder() override;
    RestMinder(const RestMinder&) = delete;
    RestMinder& operator=(const RestMinder&) = delete;

    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }

  private:
    Logger logger_;
    [[maybe_unused]] uv_loop_s* loop_;
};
