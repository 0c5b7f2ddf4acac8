// CMDU handlers are never unregistered, so a handler checks that the minder it was
// registered for still lives (several contexts may come and go in one process).
#pragma once

#include <cstdint>

// A new live generation number (never 0).
uint64_t new_config_generation();
bool config_generation_live(uint64_t gen);
void forget_generation(uint64_t gen);
// The configuration minder's timer period.
constexpr long long kConfigTimerMs = 10000;
