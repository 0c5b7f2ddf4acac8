#include "graph/device_names.h"

const std::string& DeviceNames::name_for(const MAC& al_mac) {
    auto it = names_.find(al_mac);
    if (it != names_.end())
        return it->second;
    return names_.emplace(al_mac, "B" + std::to_string(names_.size() + 1)).first->second;
}
