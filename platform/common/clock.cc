#include "common/clock.h"

#include <time.h>

namespace {
bool g_manual = false;
long long g_manual_now = 0;
}  // namespace

long long get_current_time_ms() {
    if (g_manual) return g_manual_now;
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

namespace ozr_clock {
void set_manual(long long now_ms) {
    g_manual = true;
    g_manual_now = now_ms;
}
void advance(long long ms) { g_manual_now += ms; }
void use_real() { g_manual = false; }
bool is_manual() { return g_manual; }
}  // namespace ozr_clock
