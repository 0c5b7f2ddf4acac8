// meshview: a readable tree of the mesh as the daemon's REST API shows it.
#pragma once

#include <string>

namespace meshview {

// GET http://HOST:PORT/PATH (URL like "http://127.0.0.1:8090"). Returns the HTTP
// status (0 when the daemon cannot be reached) and fills BODY (at most 8 MiB).
// Gives up after TIMEOUT_MS without progress.
int http_get(const std::string& url, const std::string& path, std::string& body,
             int timeout_ms = 2000);

// Renders the tree from the documents of "/debug/graph", "/1/topology",
// "/debug/hktmgmt", "/debug/map-cfg", "/debug/backhaul-steer" and "/debug/aps" (all but
// the first may be empty): each device under its backhaul parent with the medium, cost and
// quality of its backhaul, the software version and online state of its vendor agent,
// whether the SSIDs it reports match the credentials, each radio's channel, bandwidth and
// transmit power, and the clients per BSS; then the backhaul steering state and the
// backhaul moves requested lately. Returns false (with a one-line reason in OUT) when the
// graph document is unusable.
bool render_tree(const std::string& graph_json, const std::string& topology_json, std::string& out,
                 const std::string& hkt_json = "", const std::string& map_cfg_json = "",
                 const std::string& backhaul_json = "", const std::string& aps_json = "");

// Renders the steering section from the document of "/debug/steering": the switches, the
// totals, and one line per client that was steered or is being watched (decision window
// open, back-off, ping-pong hold). Empty when the document is unusable.
std::string render_steering(const std::string& steering_json);

}  // namespace meshview
