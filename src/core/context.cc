#include "core/context.h"

#include "common/clock.h"

Context* Context::instance_ = nullptr;

Context* Context::instance() {
    return instance_;
}

long long Context::now() const {
    return get_current_time_ms();
}

namespace {
unsigned long long now_ms() {
    const Context* c = Context::instance();
    return static_cast<unsigned long long>(c ? c->now() : get_current_time_ms());
}
}  // namespace

bool rate_limit_ms(unsigned long long last, unsigned long long interval) {
    unsigned long long now = now_ms();
    return now - last >= interval;
}

bool timer_expired_ms(unsigned long long start, unsigned interval) {
    if (start == 0)
        return true;
    unsigned long long now = now_ms();
    return now - start >= interval;
}
