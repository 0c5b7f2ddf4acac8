// An extender's onboarding state, shared by the AP configuration database, the data
// minder and the vendor agent registry.
#pragma once

// The strings ("NotDetected", "Detected", "Configured", "ConfigurationFailed",
// "invalid-status") are both the JSON values and the log texts; see ApConfigDb.
enum class ApStatus : int {
    NOT_DETECTED = 1,
    DETECTED = 2,
    CONFIGURED = 3,
    CONFIGURATION_FAILED = 4,
    INVALID_STATUS = 5,
};
