// Handlers outlive the minders that register them: the CMDU registry and the vendor TLV
// table keep their handlers, while tests and fuzzers build minders again. A minder joins
// with itself at construction and leaves at destruction; a handler holds the generation
// it was given (never 0, never reused) and finds its minder through it, or nothing once
// the minder is gone. A generation and an entry pointer make a closure that std::function
// keeps without an allocation.
#pragma once

#include <cstdint>

uint64_t live_minder_join(void* minder);
void live_minder_leave(uint64_t generation);
void* live_minder_find(uint64_t generation);

template <class M>
M* live_minder(uint64_t generation) {
    return static_cast<M*>(live_minder_find(generation));
}
