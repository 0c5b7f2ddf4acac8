// Names of ordinary devices: "B" and the count of such names handed out so far plus
// one. A device that disappears and comes back gets its old name.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>

#include "common/mac.h"

class DeviceNames {
  public:
    // Names remembered at most; see name_for.
    static constexpr size_t kMaxNames = 1024;

    // The name of AL_MAC, handing out the next "B<n>" on first use. When kMaxNames names
    // are remembered already, the names of the MACs for which FORGETTABLE holds (devices no
    // longer in the graph) are forgotten first; numbers are never handed out twice.
    const std::string& name_for(const MAC& al_mac,
                                const std::function<bool(const MAC&)>& forgettable = nullptr);
    size_t size() const { return names_.size(); }

  private:
    std::unordered_map<MAC, std::string> names_;
    unsigned long long handed_out_ = 0;
};
