// The platform clock. Every age and time stamp of the daemon comes from
// get_current_time_ms(); tests can switch it to a manual clock and drive it.
#pragma once

// Milliseconds from CLOCK_MONOTONIC, or the manual clock's value when it is set.
long long get_current_time_ms();

namespace ozr_clock {
// Switches to a manual clock reading NOW_MS until use_real() is called.
void set_manual(long long now_ms);
// Moves the manual clock forward by MS (no effect on the real clock).
void advance(long long ms);
void use_real();
bool is_manual();
}  // namespace ozr_clock
