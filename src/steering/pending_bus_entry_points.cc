// Steering operations the control bus calls that the steering logic does not offer yet.
// Each says so at error level and fails; the work that implements one deletes it from here.
#include "core/log.h"
#include "steering/steering_minder.h"

int SteeringMinder::kick_out(const MAC& sta) {
    OZR_ERROR(&logger_, "SteeringMinder::{}() sta MAC: {} not available yet: no client steering",
              __func__, sta.to_string());
    return -1;
}

int SteeringMinder::set_steering_config_value(const std::string& key, long long value) {
    OZR_ERROR(&logger_, "SteeringMinder::{}() {}={} not available yet: no steering settings",
              __func__, key, value);
    return -1;
}

int SteeringMinder::set_bnd_prefer_entries(const std::vector<MAC>& entries) {
    OZR_ERROR(&logger_, "SteeringMinder::{}() {} entries not available yet: no steering settings",
              __func__, entries.size());
    return -1;
}
