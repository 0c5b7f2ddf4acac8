// Counts the global operator new calls the calling thread makes between count_new_start()
// and count_new_stop(); in builds with AddressSanitizer (which brings its own
// operator new), the allocations below 4 KiB its allocation hook reports.
// count_new_available() is false when neither way is available.
#pragma once

#include <cstddef>

bool count_new_available();
void count_new_reset();
void count_new_start();
void count_new_stop();
size_t count_new_calls();
