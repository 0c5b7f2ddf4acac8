// Intake of CMDUs: minders register handlers per message type; the registry hooks
// the stack's per-type callback table so that, for a hooked type, the stack calls
// cmdu_dispatch, which runs the before handlers, the stack's own handler, and
// (unless that one returned non-zero) the after handlers.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "map/cmdu.h"

using CmduHandler = std::function<void(CMDU*)>;

struct Callbacks {
    std::vector<CmduHandler> before;
    int8_t (*stack_handler)(CMDU*) = nullptr;  // the stack's handler found at hook time
    std::vector<CmduHandler> after;
    bool hooked = false;  // the stack's table calls cmdu_dispatch for this type
    int index = -1;       // of the type's entry in the stack's table
};

// Hooks MESSAGE_TYPE (once per type) and appends BEFORE / AFTER when they hold a
// target; either may be empty. A type without an entry in the stack's table cannot be
// hooked: an error is logged on the root logger and nothing is registered.
void add_cmdu_handler(unsigned short message_type, CmduHandler before, CmduHandler after);

// Forgets every handler and gives the stack's table its own handlers back, as before the
// first registration (a process that builds its minders anew, such as a fuzzer).
void clear_cmdu_handlers();

// The function installed in the stack's table for every hooked type.
int8_t cmdu_dispatch(CMDU* cmdu);

// The registry entry of MESSAGE_TYPE, or null when nothing was registered for it.
const Callbacks* find_cmdu_callbacks(unsigned short message_type);
