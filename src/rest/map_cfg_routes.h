// GET "/debug/map-cfg" registers itself from map_cfg_routes.cc.
#pragma once

// Referenced by the REST minder so that the static library keeps
// map_cfg_routes.o (and with it the route's static registration).
void rest_map_cfg_routes_linked();
