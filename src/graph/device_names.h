// Names of ordinary devices: "B" and the count of such names handed out so far plus
// one. A device that disappears and comes back gets its old name.
#pragma once

#include <string>
#include <unordered_map>

#include "common/mac.h"

class DeviceNames {
  public:
    // The name of AL_MAC, handing out the next "B<n>" on first use.
    const std::string& name_for(const MAC& al_mac);
    size_t size() const { return names_.size(); }

  private:
    std::unordered_map<MAC, std::string> names_;
};
