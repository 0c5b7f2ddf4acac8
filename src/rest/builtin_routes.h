// Routes the REST server answers on its own: the test routes under "/debug",
// "/quit" and "/1/version".
#pragma once

#include "rest/dispatch.h"

// Adds "/debug/rest" (GET; POST, PUT), "/debug/query", "/debug/array" and
// "/quit" to TABLE. "/1/version" registers itself in the preload table.
void add_builtin_routes(DispatchTable& table, const Logger* logger);

// The documents of the built-in routes, for the routes and for tests.
int on_debug_rest_get(HttpResponse& response);
int on_debug_rest_set(const HttpRequest& request, HttpResponse& response, const Logger* logger);
int on_debug_query(const HttpRequest& request, HttpResponse& response);
int on_debug_array(HttpResponse& response);
int on_version(HttpResponse& response);
