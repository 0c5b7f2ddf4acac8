// Configuration minder operations the control bus calls that the vendor configuration
// relay and the channel service do not offer yet. Each says so at error level and fails;
// the work that implements one deletes it from here.
#include "configuration/configuration_minder.h"
#include "core/log.h"

int ConfigurationMinder::set_channel_configuration(ozr_channel_configuration_t* /*cfg*/,
                                                   ozr_channel_configuration_result_t* /*r*/) {
    OZR_ERROR(&logger_, "ConfigurationMinder::{}() not available yet: no channel configuration",
              __func__);
    return -1;
}

int ConfigurationMinder::set_transmit_power_configuration(
    ozr_transmit_power_configuration_t* /*cfg*/, channel_selection_set_response_result* /*r*/) {
    OZR_ERROR(&logger_,
              "ConfigurationMinder::{}() not available yet: no transmit power configuration",
              __func__);
    return -1;
}

int ConfigurationMinder::get_available_channel_list(const std::string& sn, frequent_band_type band,
                                                    ZkaAvailableChannelListRsp_T* /*out*/) {
    OZR_ERROR(&logger_,
              "ConfigurationMinder::{}() sn: {} band {} not available yet: no channel service",
              __func__, sn, static_cast<int>(band));
    return -1;
}
