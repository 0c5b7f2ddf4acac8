#include "graph/device_names.h"

const std::string& DeviceNames::name_for(const MAC& al_mac,
                                         const std::function<bool(const MAC&)>& forgettable) {
    auto it = names_.find(al_mac);
    if (it != names_.end())
        return it->second;
    if (names_.size() >= kMaxNames && forgettable) {
        for (auto f = names_.begin(); f != names_.end();)
            f = forgettable(f->first) ? names_.erase(f) : std::next(f);
    }
    return names_.emplace(al_mac, "B" + std::to_string(++handed_out_)).first->second;
}
