// Retried stack actions: one libuv timer, woken every second while entries
// are pending; what is due is decided by get_current_time_ms().
#include <uv.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/clock.h"
#include "map/al/stack.h"
#include "map/map_init.h"
#include "map/map_log.h"
#include "map/map_send.h"
#include "map/send/retry.h"

namespace {

constexpr size_t kMaxRetryEntries = 64;
constexpr size_t kMaxRetryKey = 64;

struct Entry {
    std::string key;
    long long interval_ms = 0;
    long long next_ms = 0;
    int remaining = 0;  // runs left
    map_retry_fn action = nullptr;
    map_retry_done_fn done = nullptr;
    void* arg = nullptr;
};

std::vector<Entry>& entries() {
    static std::vector<Entry> e;
    return e;
}

uv_timer_t* g_timer = nullptr;

void on_closed(uv_handle_t* h) {
    map_unregister_stack_handle(h);
    delete reinterpret_cast<uv_timer_t*>(h);
}

void stop_timer() {
    if (g_timer == nullptr)
        return;
    uv_timer_stop(g_timer);
    uv_close(reinterpret_cast<uv_handle_t*>(g_timer), on_closed);
    g_timer = nullptr;
}

void on_timer(uv_timer_t*) {
    map_retry_run_due();
}

bool ensure_timer() {
    if (g_timer != nullptr)
        return true;
    MapAl* al = map_stack_al();
    if (al == nullptr || al->loop() == nullptr)
        return false;
    g_timer = new uv_timer_t;
    uv_timer_init(al->loop(), g_timer);
    uv_timer_start(g_timer, on_timer, 1000, 1000);
    map_register_stack_handle(reinterpret_cast<uv_handle_t*>(g_timer), on_closed);
    return true;
}

int find(const std::string& key) {
    auto& e = entries();
    for (size_t i = 0; i < e.size(); ++i) {
        if (e[i].key == key)
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

int map_register_retry(const char* key, int interval_s, int retries, const MAC& al_mac,
                       map_retry_fn action, map_retry_done_fn done, void* arg) {
    if (key == nullptr || action == nullptr || interval_s < 1 || interval_s > 86400 ||
        retries < 1 || std::strlen(key) > kMaxRetryKey) {
        map_log(MAP_LOG_CONTROLLER, 3, "%s: bad arguments (agent %s)", __func__,
                al_mac.to_string().c_str());
        return MAP_SEND_BAD_ARGUMENT;
    }
    if (!ensure_timer()) {
        map_log(MAP_LOG_CONTROLLER, 3, "%s: %s: stack not started", __func__, key);
        return MAP_SEND_NOT_READY;
    }
    std::string k(key);
    int at = find(k);
    if (at >= 0)
        entries().erase(entries().begin() + at);
    if (entries().size() >= kMaxRetryEntries) {
        map_log(MAP_LOG_CONTROLLER, 3, "%s: %s refused: %zu retries pending", __func__, key,
                entries().size());
        return MAP_SEND_BAD_ARGUMENT;
    }
    if (action(arg) == 0) {
        if (done)
            done(0, arg);
        return MAP_SEND_OK;
    }
    if (retries == 1) {
        if (done)
            done(-1, arg);
        return MAP_SEND_OK;
    }
    Entry e;
    e.key = std::move(k);
    e.interval_ms = static_cast<long long>(interval_s) * 1000;
    e.next_ms = get_current_time_ms() + e.interval_ms;
    e.remaining = retries - 1;
    e.action = action;
    e.done = done;
    e.arg = arg;
    // A done callback above may have registered the same key again.
    at = find(e.key);
    if (at >= 0)
        entries().erase(entries().begin() + at);
    entries().push_back(std::move(e));
    return MAP_SEND_OK;
}

void map_retry_run_due() {
    long long now = get_current_time_ms();
    std::vector<std::string> due;
    for (const Entry& e : entries()) {
        if (e.next_ms <= now)
            due.push_back(e.key);
    }
    for (const std::string& key : due) {
        int at = find(key);
        if (at < 0 || entries()[at].next_ms > now)
            continue;  // replaced or removed by an earlier callback
        Entry e = entries()[at];
        entries().erase(entries().begin() + at);
        int rc = e.action(e.arg);
        --e.remaining;
        if (rc == 0 || e.remaining <= 0) {
            if (e.done)
                e.done(rc == 0 ? 0 : -1, e.arg);
            continue;
        }
        if (find(e.key) >= 0)
            continue;  // registered again from the action
        e.next_ms = now + e.interval_ms;
        entries().push_back(std::move(e));
    }
}

size_t map_retry_pending() {
    return entries().size();
}

void map_retry_abandon() {
    entries().clear();
    g_timer = nullptr;
}

void map_retry_shutdown() {
    entries().clear();
    stop_timer();
}
