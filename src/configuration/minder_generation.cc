#include "configuration/minder_generation.h"

#include <unordered_set>

namespace {
std::unordered_set<uint64_t>& live() {
    static std::unordered_set<uint64_t> s;
    return s;
}
uint64_t g_next = 0;
}  // namespace

uint64_t new_config_generation() {
    const uint64_t gen = ++g_next;
    live().insert(gen);
    return gen;
}

bool config_generation_live(uint64_t gen) {
    return live().count(gen) != 0;
}

void forget_generation(uint64_t gen) {
    live().erase(gen);
}
