// Counts the global operator new calls between count_new_start() and
// count_new_stop(). AddressSanitizer brings its own operator new, so builds with
// it do not count (count_new_available() is false).
#pragma once

#include <cstddef>

bool count_new_available();
void count_new_reset();
void count_new_start();
void count_new_stop();
size_t count_new_calls();
