#include "core/state_version.h"

namespace {
// Loop thread only, like everything it counts.
uint64_t g_version = 1;
}  // namespace

uint64_t state_version() {
    return g_version;
}

void note_state_change() {
    ++g_version;
}
