// An extender's onboarding state and what changes about it, shared by the vendor agent
// registry, the AP configuration database and the data minder.
#pragma once

#include <string>

// The strings ("NotDetected", "Detected", "Configured", "ConfigurationFailed",
// "invalid-status") are both the JSON values and the log texts; see ApConfigDb.
enum class ApStatus : int {
    NOT_DETECTED = 1,
    DETECTED = 2,
    CONFIGURED = 3,
    CONFIGURATION_FAILED = 4,
    INVALID_STATUS = 5,
};

// The text of STATUS ("" for a value outside the enumeration).
std::string ap_status_to_string(ApStatus status);
// The status whose text is TEXT exactly (case matters); INVALID_STATUS otherwise.
ApStatus ap_status_from_string(const std::string& text);
// Whether TEXT is one of the status texts ("invalid-status" included).
bool is_ap_status_string(const std::string& text);

// Result of the onboarding state machine: 0 success.
using RetStatus = int;

// What changed about an extender (notify_ap_info_change).
enum ApParam : int {
    AP_PARAM_IDENTITY = 1,  // host name, addresses and model from the vendor agent
    AP_PARAM_ONLINE = 2,    // online or offline
    AP_PARAM_IP_ADDRESS = 3,
};
