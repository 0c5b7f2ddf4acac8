#include "core/timer.h"

#include <cstdint>
#include <limits>

#include "core/state_version.h"
#include "map/map_init.h"

struct BaseTimer::TimerHandle {
    uv_timer_t uv;  // first member: the block's address is the handle's address
    BaseTimer* owner;
    uint32_t magic;
    bool closed;  // the close callback has run
    std::function<void()> callback;
};

namespace {
constexpr uint32_t kMagic = 0x6f7a7254;  // marks handles created by BaseTimer

unsigned long long to_ms(long long v) {
    return v > 0 ? static_cast<unsigned long long>(v) : 0;
}
}  // namespace

BaseTimer::BaseTimer(uv_loop_s* loop, std::function<void()> callback)
    : loop_(loop), callback_(std::move(callback)) {}

BaseTimer::~BaseTimer() {
    TimerHandle* h = handle_;
    if (h == nullptr) {
        return;  // never started: the loop never knew it
    } else if (h->closed) {
        delete h;  // the loop is done with it
    } else if (uv_is_closing(reinterpret_cast<uv_handle_t*>(&h->uv))) {
        h->owner = nullptr;  // a close is pending: its callback frees the block
    } else {
        uv_timer_stop(&h->uv);
        h->owner = nullptr;
        uv_close(reinterpret_cast<uv_handle_t*>(&h->uv), on_closed);
    }
}

void BaseTimer::on_closed(uv_handle_t* uvh) {
    auto* h = static_cast<TimerHandle*>(uvh->data);
    if (h->owner == nullptr) {
        delete h;
    } else {
        h->closed = true;
    }
}

void BaseTimer::close_timer_handle(uv_timer_t* t) {
    auto* uvh = reinterpret_cast<uv_handle_t*>(t);
    if (uv_is_closing(uvh))
        return;
    auto* h = static_cast<TimerHandle*>(t->data);
    bool ours =
        h != nullptr && static_cast<void*>(h) == static_cast<void*>(t) && h->magic == kMagic;
    // A timer that is not ours may be the stack's: the generic callback lets the
    // stack release it, and does nothing for anybody else's.
    uv_close(uvh, ours ? on_closed : generic_close_cb);
}

bool BaseTimer::is_started() const {
    if (handle_ == nullptr || handle_->closed)
        return false;
    return uv_is_active(reinterpret_cast<const uv_handle_t*>(&handle_->uv)) != 0;
}

void BaseTimer::stop() {
    if (handle_ == nullptr || uv_is_closing(reinterpret_cast<uv_handle_t*>(&handle_->uv)))
        return;
    uv_timer_stop(&handle_->uv);
}

void BaseTimer::start_handle(uv_timer_cb cb, unsigned long long timeout,
                             unsigned long long repeat) {
    if (handle_ == nullptr) {
        handle_ = new TimerHandle();
        handle_->callback = std::move(callback_);
        uv_timer_init(loop_, &handle_->uv);
        handle_->uv.data = handle_;
        handle_->owner = this;
        handle_->magic = kMagic;
        handle_->closed = false;
    }
    // A closed handle (after the loop's shutdown) cannot be started again.
    if (uv_is_closing(reinterpret_cast<uv_handle_t*>(&handle_->uv)))
        return;
    uv_update_time(loop_);
    last_timeout_ = timeout;
    uv_timer_start(&handle_->uv, cb, timeout, repeat);
}

BaseTimer* BaseTimer::owner_of(uv_timer_t* t) {
    auto* h = static_cast<TimerHandle*>(t->data);
    return h ? h->owner : nullptr;
}

void BaseTimer::fire(uv_timer_t* t) {
    // The block outlives this call even when the callback destroys the timer: its
    // close callback runs on a later loop iteration.
    auto* h = static_cast<TimerHandle*>(t->data);
    if (h && h->owner && h->callback) {
        h->callback();
        note_state_change();  // a minder's periodic work may have changed what it keeps
    }
}

void Timer::start(long long timeout, long long repeat) {
    unsigned long long t = to_ms(timeout);
    unsigned long long r = repeat > 0 ? to_ms(repeat) : t;
    if (r == 0)
        r = 1;  // a Timer always repeats
    start_handle(trampoline, t, r);
}

void Timer::trampoline(uv_timer_s* h) {
    fire(h);
}

void OneShotTimer::start(long long timeout) {
    start_handle(trampoline, to_ms(timeout), std::numeric_limits<uint64_t>::max());
}

void OneShotTimer::trampoline(uv_timer_s* h) {
    BaseTimer* t = owner_of(h);
    if (t == nullptr)
        return;
    t->stop();
    fire(h);
}
