// Data minder operations the control bus calls that the extender records, the steering
// settings and the topology export do not offer yet. Each says so at error level and
// fails; the work that implements one deletes it from here.
#include "core/log.h"
#include "data/data_minder.h"

int DataMinder::get_white_list_aps_info(const std::string& sn, ZkaExtenderInfoList_T* /*list*/) {
    OZR_ERROR(&logger_, "DataMinder::{}() sn: {} not available yet: no extender records", __func__,
              sn);
    return -1;
}

int DataMinder::set_steering_threshold(const ZkaSteeringThresholdConfig_T* /*cfg*/) {
    OZR_ERROR(&logger_, "DataMinder::{}() not available yet: no steering settings", __func__);
    return -1;
}

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

int DataMinder::get_ap_by_mac(const std::string& mac_text, std::string* /*sn*/, bool* /*online*/) {
    OZR_ERROR(&logger_, "DataMinder::{}() MAC: {} not available yet: no extender records", __func__,
              mac_text);
    return -1;
}
