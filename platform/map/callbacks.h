// The stack's per-message-type callback table: for every CMDU type the stack hands
// over, the handler it calls with the received CMDU. The handler's signed 8-bit
// result is honoured: non-zero means the CMDU was consumed or rejected.
//
// The daemon hooks into the table by replacing an entry's handler with its own
// dispatch function (and keeping the one it found).
#pragma once

#include <cstddef>
#include <cstdint>

struct CMDU;

using gmap_cb_handler = int8_t (*)(CMDU*);

struct gmap_cb_entry {
    uint16_t message_type;
    gmap_cb_handler handler;  // null: the stack has no handler of its own for this type
};

extern gmap_cb_entry gmap_cb_config[];
extern const size_t gmap_cb_config_count;

// Index of TYPE's entry in gmap_cb_config, or -1 when the table has none.
int find_gmap_cb_index(uint16_t type);

// What the stack does with a received CMDU: calls the handler of its type's entry.
// Returns that handler's result, 0 when the entry has no handler, -1 for a type
// without an entry (or a null CMDU).
int8_t map_dispatch_cmdu(CMDU* cmdu);
