// A count of the events after which the daemon's state may differ: every CMDU handed
// to the registry, every minder timer that fired, every REST request that is not a
// cached read, and whatever else calls note_state_change(). Readers that keep
// something derived from the state (the REST document cache) compare versions to
// know whether it may still hold.
#pragma once

#include <cstdint>

uint64_t state_version();
// Code that changes what the graph documents show from anywhere else (a D-Bus
// method, say) calls this once it is done.
void note_state_change();
