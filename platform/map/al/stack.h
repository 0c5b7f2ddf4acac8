// The one Multi-AP stack of the process: its fixed parameters, the
// controller's AL and the glue to the data model and the callback table.
//
//   map_readfixedParam()          -> map_stack_load_config()
//   map_controller_init(...)      -> map_stack_start(loop)
//
// Every received CMDU goes through map_dispatch_cmdu(); the stack's own
// handler (map_stack_handle_cmdu, installed in every gmap_cb_config entry)
// folds it into the data model before the daemon's handlers see it.
#pragma once

#include <uv.h>

#include <string>

#include "map/al/al.h"
#include "map/stack_config.h"

// Loads map_stack.json (defaults without a file). 0, or -1 (logged) when
// the file is malformed; map_stack_start refuses to start after that.
int map_stack_load_config();
// Uses CONFIG instead of the file (tests, the simulator).
void map_stack_set_config(const MapStackConfig& config);
const MapStackConfig& map_stack_config();
// Seconds between discoveries, for the running AL and the next start. 0 or -1.
int map_stack_set_discovery_interval(unsigned seconds);

// Creates the transport (with its capture file) and the controller's AL on
// LOOP, initialises the data model and starts the AL. 0, or -1 with one
// log line (and ERROR set).
int map_stack_start(uv_loop_t* loop, std::string* error = nullptr);
// Stops the AL and releases it (run the loop once more to release handles).
void map_stack_stop();

// Someone else closed the stack's handles (the daemon's shutdown walk): the
// AL, its transport and the retry timer forget them, without closing them
// again. The stack is stopped afterwards.
void map_stack_abandon();

// Asks AL_MAC for its topology DELAY_MS from now (the stack's own Topology Query,
// answered into the callback table like any other). Requests due within a second of
// each other for one agent are one query.
void map_stack_reread_topology(const MAC& al_mac, long long delay_ms);

// A multicast renew for BAND just left: every agent the registrar knows that
// does not answer with an M1 within a few seconds is sent the renew unicast.
void map_stack_follow_renew(uint8_t band);

class WscRegistrar;
// The registrar answering the agents' M1s, or null before start / after stop.
WscRegistrar* map_stack_registrar();

// The running AL, or null before start / after stop.
MapAl* map_stack_al();

// The stack's own handler of a received CMDU: updates the data model (the
// ALE of the sender, the interface it was heard on, map_update_from_cmdu).
// Returns 0: the CMDU goes on to the daemon's handlers.
int8_t map_stack_handle_cmdu(CMDU* cmdu);
