#include "hkt/ap_status.h"

namespace {
struct StatusName {
    ApStatus status;
    const char* text;
};
// Built at static initialisation; looked up exactly (case matters).
const StatusName kStatusNames[] = {
    {ApStatus::NOT_DETECTED, "NotDetected"},
    {ApStatus::DETECTED, "Detected"},
    {ApStatus::CONFIGURED, "Configured"},
    {ApStatus::CONFIGURATION_FAILED, "ConfigurationFailed"},
    {ApStatus::INVALID_STATUS, "invalid-status"},
};
}  // namespace

std::string ap_status_to_string(ApStatus status) {
    for (const StatusName& s : kStatusNames)
        if (s.status == status)
            return s.text;
    return "";
}

ApStatus ap_status_from_string(const std::string& text) {
    for (const StatusName& s : kStatusNames)
        if (text == s.text)
            return s.status;
    return ApStatus::INVALID_STATUS;
}

bool is_ap_status_string(const std::string& text) {
    for (const StatusName& s : kStatusNames)
        if (text == s.text)
            return true;
    return false;
}
