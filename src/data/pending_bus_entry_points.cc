// Data minder operations the control bus calls that the extender records, the steering
// settings and the topology export do not offer yet. Each says so at error level and
// fails; the work that implements one deletes it from here.
#include "core/log.h"
#include "data/data_minder.h"

int DataMinder::get_mesh_network_topology(ZkaEmNetwork_T** out) {
    if (out)
        *out = nullptr;
    OZR_ERROR(&logger_, "DataMinder::{}() not available yet: no topology export", __func__);
    return -1;
}

int DataMinder::get_mesh_network_topology_info(ZkaEmNetworkInfo_T** out) {
    if (out)
        *out = nullptr;
    OZR_ERROR(&logger_, "DataMinder::{}() not available yet: no topology export", __func__);
    return -1;
}
