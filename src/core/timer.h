// Event-loop timers in milliseconds: Timer repeats, OneShotTimer fires once per start.
//
// Memory design: the libuv handle and the callback do not live inside the timer object
// but in a small heap block (TimerHandle) that the loop may keep using after the object
// is gone. The block is freed in the handle's close callback once the object is gone, or
// by the destructor once the close has completed. So destroying a timer at any time
// (running, stopped, inside its own callback, inside the loop or after the loop's
// shutdown walk) never leaves libuv holding freed memory, a running callback is never
// destroyed under its feet, and a handle is never closed twice. The block is made at the
// first start: a timer that is never started (most of a minder's, in a process that
// builds minders without running them) costs the loop nothing, and the shutdown walk does
// not see it.
#pragma once

#include <uv.h>

#include <functional>
#include <string_view>

class BaseTimer {
  public:
    BaseTimer(uv_loop_s* loop, std::function<void()> callback);
    virtual ~BaseTimer();
    BaseTimer(const BaseTimer&) = delete;
    BaseTimer& operator=(const BaseTimer&) = delete;

    // Whether the handle is active (started and not stopped or closed).
    bool is_started() const;
    // Stops the handle; nothing happens when it is stopped already.
    void stop();
    // The delay (ms) the timer was last started with; 0 before the first start.
    unsigned long long last_timeout() const { return last_timeout_; }

    // For a loop-wide shutdown: closes H. A handle of a BaseTimer is closed with the
    // timers' own close callback (see above); any other timer handle without one.
    // Does nothing when H is already closing.
    static void close_timer_handle(uv_timer_t* h);

  protected:
    struct TimerHandle;
    // Starts the handle with CB after TIMEOUT then every REPEAT ms; refreshes now first.
    void start_handle(uv_timer_cb cb, unsigned long long timeout, unsigned long long repeat);
    // The timer a handle belongs to, or null once the timer is gone.
    static BaseTimer* owner_of(uv_timer_t* h);
    // Calls the callback of H's timer (kept alive even if the callback destroys the timer).
    static void fire(uv_timer_t* h);

  private:
    static void on_closed(uv_handle_t* h);

    uv_loop_s* loop_;
    TimerHandle* handle_ = nullptr;   // the handle and the callback, from the first start
    std::function<void()> callback_;  // until the first start
    unsigned long long last_timeout_ = 0;
};

class Timer : public BaseTimer {
  public:
    Timer(uv_loop_s* loop, const char* name, std::function<void()> callback)
        : BaseTimer(loop, std::move(callback)), name_(name) {}
    ~Timer() override = default;

    // Fires after TIMEOUT ms, then every REPEAT ms (every TIMEOUT ms when REPEAT <= 0),
    // counted from now. Restarting a started timer replaces both values.
    void start(long long timeout, long long repeat);
    std::string_view name() const { return name_; }

    static void trampoline(uv_timer_s* h);

  private:
    const char* name_;  // a literal: timers are named in the code
};

class OneShotTimer : public BaseTimer {
  public:
    OneShotTimer(uv_loop_s* loop, const char* name, std::function<void()> callback)
        : BaseTimer(loop, std::move(callback)), name_(name) {}
    ~OneShotTimer() override = default;

    // Fires once, TIMEOUT ms from now; a second start before expiry moves the expiry.
    // The timer is stopped before its callback runs, which may start it again.
    void start(long long timeout);
    std::string_view name() const { return name_; }

    static void trampoline(uv_timer_s* h);

  private:
    const char* name_;  // a literal: timers are named in the code
};
