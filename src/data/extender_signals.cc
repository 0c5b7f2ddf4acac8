#include "data/extender_signals.h"

// The control bus is not in the tree yet: nothing is raised.
bool raise_mesh_topology_change(const MeshTopologyChange&) {
    return false;
}

bool raise_marlow_auth_req(const ExtenderAuthRequest&) {
    return false;
}
