// Management of the maker's own extenders over the HKT vendor protocol.
#pragma once

#include "core/minder.h"
#include "log/logger.h"

struct uv_loop_s;

class HktMgmtMinder : public Minder {
  public:
    // Builds the "mgmt" category logger (path "root.mgmt") with its configured level.
    explicit HktMgmtMinder(uv_loop_s* loop);
    ~HktMgmtMinder() override;
    HktMgmtMinder(const HktMgmtMinder&) = delete;
    HktMgmtMinder& operator=(const HktMgmtMinder&) = delete;

    Err init(Context& context) override;
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }

  private:
    Logger logger_;
    [[maybe_unused]] uv_loop_s* loop_;
};
