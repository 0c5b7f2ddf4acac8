// Controller presence: duplicate-controller detection and the watchdog feed.
//
// A mesh has exactly one Multi-AP controller. For about a minute after start the minder
// searches for a registrar the way an agent would (AP-Autoconfiguration Search); a
// Response carrying the id of its own last search means another controller is on the
// network, and this daemon then withdraws its readiness marker and stops its loop.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "core/minder.h"
#include "core/timer.h"
#include "log/logger.h"

struct uv_loop_s;
struct CMDU;

class ControllerMinder : public Minder {
  public:
    // Builds the "controller" category logger (path "root.controller") with its configured
    // level, the timers, the generator (seeded from /dev/urandom) and registers the
    // AP-Autoconfiguration Response handler.
    explicit ControllerMinder(uv_loop_s* loop);
    ~ControllerMinder() override;
    ControllerMinder(const ControllerMinder&) = delete;
    ControllerMinder& operator=(const ControllerMinder&) = delete;

    // Starts the watchdog feed (every 10 s).
    Err init(Context& context) override;
    // Arms the first check, 1 to 1000 ms from now.
    void run() override;

    // Run-time level change of the category logger (-1: inherit the root level).
    void set_log_level(int level) { logger_.set_level(level); }
    const Logger* logger() const { return &logger_; }

    // One check: sends a search while checks are left and re-arms the timer 5-7 s later.
    void on_controller_check();
    // Any AP-Autoconfiguration Response: one answering our last search stops the daemon.
    void on_ac_response(CMDU* cmdu);
    void on_watchdog_feed();

    const Timer& watchdog_timer() const { return watchdog_timer_; }
    const OneShotTimer& check_timer() const { return check_timer_; }
    uint16_t mid() const { return mid_; }
    int checks_left() const { return checks_left_; }
    // Whether a second controller was found (the loop has been asked to stop).
    bool duplicate_found() const { return duplicate_found_; }

  private:
    Logger logger_;
    uv_loop_s* loop_;
    OneShotTimer check_timer_;
    std::minstd_rand0 rng_;
    std::uniform_int_distribution<int> jitter_{-1000, 1000};
    uint16_t mid_ = 0;
    bool search_sent_ = false;  // the last search left (mid_ is its id)
    int check_interval_ = 6000;
    int checks_left_ = 11;
    Timer watchdog_timer_;
    bool duplicate_found_ = false;
    uint64_t generation_;
};

// The readiness marker the process supervisor watches (under OZR_ROOT).
extern const char* const kControllerReadyMarker;
