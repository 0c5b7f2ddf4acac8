// Data minder operations the control bus calls that the steering settings do not offer
// yet. Each says so at error level and fails; the work that implements one deletes it
// from here.
#include "core/log.h"
#include "data/data_minder.h"

int DataMinder::set_steering_threshold(const ZkaSteeringThresholdConfig_T* /*cfg*/) {
    OZR_ERROR(&logger_, "DataMinder::{}() not available yet: no steering settings", __func__);
    return -1;
}
