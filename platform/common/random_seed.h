// Seeds for the daemon's pseudo-random generators.
#pragma once

#include <cstdint>

// One value of the kernel's generator (of the random device while the generator is not
// ready yet, at early boot), reduced to the range of the minimal standard generators
// (std::minstd_rand and std::minstd_rand0: 1 .. 2^31 - 2, never 0); the clock when neither
// can be read. Read directly rather than through std::random_device, which reports an
// unreadable device by throwing (the gateway build has no exceptions) and checks the CPU's
// features on every construction.
uint32_t ozr_random_seed();
