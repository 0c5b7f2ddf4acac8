// The backhaul steering state of "GET /debug/backhaul-steer", for that route and the
// page's document.
#pragma once

#include "rest/json_writer.h"

class Context;
class DataMinder;

// "enable", "block-reason", then, with a steering minder, "last-steer-ms-ago" (null before
// the first steer) and "requests" (the requests sent lately) into OUT.
void render_backhaul_steer_state(JSONObjectRenderer& out, Context& ctx, const DataMinder& dm);
