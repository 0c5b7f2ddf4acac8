// Loop helpers of the tests that run the daemon's loop on the test thread: running it until
// something holds while other threads (a bus service, clients, the simulator) work, a client
// call made beside it, and closing every handle at the end.
#pragma once

#include <poll.h>
#include <uv.h>

#include <chrono>
#include <functional>
#include <future>

#include "core/timer.h"

namespace ozr_test {

// Runs LOOP until DONE() holds; false after SECONDS.
inline bool run_loop_until(uv_loop_t* loop, const std::function<bool()>& done, int seconds = 10) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        uv_run(loop, UV_RUN_NOWAIT);
        if (!done())
            poll(nullptr, 0, 2);  // the other threads work meanwhile
    }
    return true;
}

// Runs F on a client thread while LOOP serves; its result.
template <class F>
auto on_client(uv_loop_t* loop, F f, int seconds = 10) -> decltype(f()) {
    auto fut = std::async(std::launch::async, f);
    run_loop_until(
        loop, [&] { return fut.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        seconds);
    return fut.get();
}

// Closes every handle left on LOOP (timers through their owner's close), then the loop.
inline void close_loop(uv_loop_t* loop) {
    uv_walk(
        loop,
        [](uv_handle_t* h, void*) {
            if (!uv_is_closing(h)) {
                if (h->type == UV_TIMER)
                    BaseTimer::close_timer_handle(reinterpret_cast<uv_timer_t*>(h));
                else
                    uv_close(h, nullptr);
            }
        },
        nullptr);
    uv_run(loop, UV_RUN_DEFAULT);
    uv_loop_close(loop);
}

}  // namespace ozr_test
