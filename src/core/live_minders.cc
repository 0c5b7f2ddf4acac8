#include "core/live_minders.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace {
// A handful at a time (one per minder): a list searched from the end beats a hash table,
// and keeps its capacity when minders are built again.
std::vector<std::pair<uint64_t, void*>>& live() {
    static std::vector<std::pair<uint64_t, void*>> v;
    return v;
}
}  // namespace

uint64_t live_minder_join(void* minder) {
    static uint64_t last = 0;
    live().emplace_back(++last, minder);
    return last;
}

void live_minder_leave(uint64_t generation) {
    auto& v = live();
    for (std::size_t i = v.size(); i-- > 0;)
        if (v[i].first == generation) {
            v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
}

void* live_minder_find(uint64_t generation) {
    const auto& v = live();
    for (std::size_t i = v.size(); i-- > 0;)
        if (v[i].first == generation)
            return v[i].second;
    return nullptr;
}
