// Start-up of the Multi-AP controller stack (stand-in).
#pragma once

#include <cstddef>

struct uv_loop_s;
struct uv_handle_s;

// The stack's interface-list name; the daemon sets it ("ozr1") before start.
constexpr size_t kMapInterfacesMax = 64;
extern char map_interfaces[kMapInterfacesMax];

// Loads the stack's fixed parameters ("/configs/easymesh/map_stack.json",
// defaults without the file). 0 on success; -1 (logged) for a malformed file,
// after which map_controller_init fails.
int map_readfixedParam();

// Initialises the stack from its own argument vector ("ozr", optionally "-S" for
// syslog or "-s" for stdout): creates the loop, opens the configured transport
// (and capture file), initialises the data model and starts the controller's
// 1905 AL on it. Returns the event loop, or null on any failure (one log line). The loop is
// allocated with malloc and initialised (uv_loop_init); once uv_loop_close has succeeded the caller
// releases it with free().
uv_loop_s* map_controller_init(int argc, char** argv);

// A close callback that releases nothing: for handles whose memory belongs to
// somebody else (used by the daemon's shutdown walk). A handle of the stack
// closed this way is released by the stack's own callback, and the stack
// then forgets every handle it had on that loop (they are all being closed).
void generic_close_cb(uv_handle_s* handle);

// The stack's own handles, with the callback that releases each: registered
// while open so that generic_close_cb can tell them apart.
using map_handle_close_fn = void (*)(uv_handle_s* handle);
void map_register_stack_handle(uv_handle_s* handle, map_handle_close_fn own_close);
void map_unregister_stack_handle(uv_handle_s* handle);
