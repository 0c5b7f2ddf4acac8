#include "qbus/qbus.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "log/logger.h"
#include "nal/journal.h"
#include "nal/nal.h"

namespace {
// Owner-thread state.
sd_bus* g_bus = nullptr;
sd_bus_slot* g_vtable_slot = nullptr;
const QbusServiceDesc* g_desc = nullptr;
std::vector<sd_bus_vtable> g_vtable;
std::vector<QbusInterestedSignal> g_table;
std::vector<std::pair<std::string, sd_bus_slot*>> g_matches;
int g_stop_fd = -1;

// Shared with the threads that raise signals.
std::atomic<bool> g_ready{false};
std::atomic<bool> g_has_owner{false};
pthread_t g_owner;
struct Queued {
    std::string interface;
    std::string member;
    bool has_data;
    std::vector<unsigned char> data;
};
std::mutex g_qmu;
std::deque<Queued> g_queue;
int g_queue_fd = -1;  // eventfd; written and closed under g_qmu

constexpr size_t kMaxReplyLen = 16u << 20;

void qlog(int severity, const char* func, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

void vqlog(int severity, const char* func, int line, const char* fmt, va_list ap) {
    char buf[512];
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    if (n < 0)
        return;
    if (severity <= 2)
        nalLogCrit(func, line, "%s", buf);
    else if (severity == 3)
        nalLogError(func, line, "%s", buf);
    else
        nalLogDebug(func, line, "%s", buf);
    std::string text(buf);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (root_logger && root_logger->will_log(severity))
        root_logger->emit_log(severity, text);
}

void qlog(int severity, const char* func, int line, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vqlog(severity, func, line, fmt, ap);
    va_end(ap);
}

bool on_owner_thread() {
    return g_has_owner.load() && pthread_equal(pthread_self(), g_owner);
}

int emit(const char* interface, const char* member, const void* data, size_t len, bool has_data) {
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_signal(g_bus, &m, kQbusObjectPath, interface, member);
    if (r >= 0 && has_data)
        r = sd_bus_message_append_array(m, 'y', data, len);
    if (r >= 0)
        r = sd_bus_send(g_bus, m, nullptr);
    sd_bus_message_unref(m);
    if (r < 0)
        qlog(3, __func__, __LINE__, "qbus: signal %s.%s not sent: %s", interface, member,
             std::strerror(-r));
    return r < 0 ? -1 : 0;
}

void drain_queue() {
    std::deque<Queued> batch;
    {
        std::lock_guard<std::mutex> lock(g_qmu);
        batch.swap(g_queue);
        if (g_queue_fd >= 0) {
            uint64_t v;
            while (read(g_queue_fd, &v, sizeof v) < 0 && errno == EINTR) {
            }
        }
    }
    if (batch.empty() || g_bus == nullptr)
        return;
    for (const Queued& q : batch)
        emit(q.interface.c_str(), q.member.c_str(), q.data.data(), q.data.size(), q.has_data);
    sd_bus_flush(g_bus);
}

const QbusMethodDesc* find_method(const char* member) {
    if (g_desc == nullptr || member == nullptr)
        return nullptr;
    for (size_t i = 0; i < g_desc->method_count; ++i)
        if (std::strcmp(g_desc->methods[i].member, member) == 0)
            return &g_desc->methods[i];
    return nullptr;
}

int on_method(sd_bus_message* m, void* /*userdata*/, sd_bus_error* err) {
    const char* member = sd_bus_message_get_member(m);
    const QbusMethodDesc* d = find_method(member);
    if (d == nullptr)
        return sd_bus_error_setf(err, SD_BUS_ERROR_UNKNOWN_METHOD, "Unknown method %s",
                                 member ? member : "?");
    const void* p = nullptr;
    size_t n = 0;
    int r = sd_bus_message_read_array(m, 'y', &p, &n);
    if (r < 0)
        return sd_bus_error_setf(err, SD_BUS_ERROR_INVALID_ARGS, "%s takes one byte array", member);
    bool size_ok = d->in_size ? n >= d->in_len : n == d->in_len;
    // Private, aligned copy of the request (at least one byte so that it is never null).
    unsigned char* in = static_cast<unsigned char*>(std::calloc(n ? n : 1, 1));
    if (in == nullptr)
        return sd_bus_error_set_errno(err, ENOMEM);
    if (n)
        std::memcpy(in, p, n);
    if (size_ok && d->in_size)
        size_ok = d->in_size(in) == n;
    if (!size_ok) {
        std::free(in);
        uint64_t want = d->in_len;
        return sd_bus_error_setf(
            err, SD_BUS_ERROR_INVALID_ARGS, "%s: a request of %zu bytes, expected %llu%s", member,
            n, static_cast<unsigned long long>(want), d->in_size ? " plus its length field" : "");
    }
    void* slot = nullptr;
    size_t out_cap = d->out_len > sizeof(void*) ? d->out_len : sizeof(void*);
    void* out = d->out_size ? static_cast<void*>(&slot) : std::calloc(out_cap, 1);
    if (out == nullptr) {
        std::free(in);
        return sd_bus_error_set_errno(err, ENOMEM);
    }
    if (g_desc->generic)
        g_desc->generic(member);
    int result = d->handler(in, out);

    const void* reply_data = out;
    size_t reply_len = d->out_len;
    if (d->out_size) {
        reply_data = slot;
        reply_len = slot ? static_cast<size_t>(d->out_size(slot)) : 0;
        if (reply_len > kMaxReplyLen) {
            qlog(3, __func__, __LINE__, "qbus: %s reply of %zu bytes is too large, not sent",
                 member, reply_len);
            reply_len = 0;
            result = -1;
        }
    }
    sd_bus_message* reply = nullptr;
    r = sd_bus_message_new_method_return(m, &reply);
    if (r >= 0)
        r = sd_bus_message_append(reply, "i", static_cast<int32_t>(result));
    if (r >= 0)
        r = sd_bus_message_append_array(reply, 'y', reply_len ? reply_data : "", reply_len);
    if (r >= 0)
        r = sd_bus_send(nullptr, reply, nullptr);
    if (r < 0)
        qlog(3, __func__, __LINE__, "qbus: reply to %s not sent: %s", member, std::strerror(-r));
    sd_bus_message_unref(reply);
    std::free(in);
    if (d->out_size)
        std::free(slot);
    else
        std::free(out);
    return 1;
}

int on_signal(sd_bus_message* m, void* /*userdata*/, sd_bus_error* /*err*/) {
    const char* interface = sd_bus_message_get_interface(m);
    const char* member = sd_bus_message_get_member(m);
    if (interface == nullptr || member == nullptr)
        return 0;
    const QbusInterestedSignal* e = nullptr;
    for (const QbusInterestedSignal& s : g_table) {
        if (std::strncmp(s.interface, interface, kQbusNameLen) == 0 &&
            std::strncmp(s.member, member, kQbusNameLen) == 0) {
            e = &s;
            break;
        }
    }
    if (e == nullptr || e->handler == nullptr)
        return 0;
    const char* sig = sd_bus_message_get_signature(m, 1);
    const char* want = e->signature ? e->signature : "";
    if (sig == nullptr || std::strcmp(sig, want) != 0) {
        qlog(3, __func__, __LINE__, "qbus: signal %s.%s with arguments '%s' dropped, expected '%s'",
             interface, member, sig ? sig : "?", want);
        return 0;
    }
    if (std::strcmp(want, "ay") == 0) {
        const void* p = nullptr;
        size_t n = 0;
        if (sd_bus_message_read_array(m, 'y', &p, &n) < 0 || n > 0x7fffffff)
            return 0;
        e->handler(interface, member, const_cast<void*>(p), static_cast<int>(n), e->index);
    } else if (std::strcmp(want, "s") == 0) {
        const char* s = nullptr;
        if (sd_bus_message_read(m, "s", &s) < 0 || s == nullptr)
            return 0;
        size_t n = std::strlen(s) + 1;
        if (n > 0x7fffffff)
            return 0;
        e->handler(interface, member, const_cast<char*>(s), static_cast<int>(n), e->index);
    } else if (std::strcmp(want, "i") == 0) {
        int32_t v = 0;
        if (sd_bus_message_read(m, "i", &v) < 0)
            return 0;
        e->handler(interface, member, &v, static_cast<int>(sizeof v), e->index);
    } else {
        e->handler(interface, member, nullptr, 0, e->index);
    }
    return 0;
}
}  // namespace

int qbusOwnName(const char* name) {
    if (name == nullptr)
        return -EINVAL;
    if (g_bus == nullptr) {
        int r = sd_bus_open_system(&g_bus);
        if (r < 0) {
            g_bus = nullptr;
            qlog(3, __func__, __LINE__, "qbus: no system bus: %s", std::strerror(-r));
            return r;
        }
        // A bus that accepted the socket but never answers would hang the Hello.
        sd_bus_set_method_call_timeout(g_bus, 10 * 1000 * 1000ULL);
        g_owner = pthread_self();
        g_has_owner = true;
        std::lock_guard<std::mutex> lock(g_qmu);
        g_queue_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    }
    int r = sd_bus_request_name(g_bus, name, 0);
    if (r < 0) {
        qlog(3, __func__, __LINE__, "qbus: name %s not owned: %s", name, std::strerror(-r));
        return r;
    }
    g_ready = true;
    return 0;
}

int qbusRegisterService(const QbusServiceDesc* desc) {
    if (g_bus == nullptr || desc == nullptr || desc->interface == nullptr)
        return -EINVAL;
    g_desc = desc;
    g_vtable.clear();
    sd_bus_vtable start{};
    start.type = _SD_BUS_VTABLE_START;
    start.flags = 0;
    start.x.start.element_size = sizeof(sd_bus_vtable);
    start.x.start.features = _SD_BUS_VTABLE_PARAM_NAMES;
    start.x.start.vtable_format_reference = &sd_bus_object_vtable_format;
    g_vtable.push_back(start);
    for (size_t i = 0; i < desc->method_count; ++i) {
        sd_bus_vtable v{};
        v.type = _SD_BUS_VTABLE_METHOD;
        v.flags = SD_BUS_VTABLE_UNPRIVILEGED;
        v.x.method.member = desc->methods[i].member;
        v.x.method.signature = "ay";
        v.x.method.result = "iay";
        v.x.method.handler = on_method;
        v.x.method.offset = 0;
        v.x.method.names = "request\0result\0reply\0";
        g_vtable.push_back(v);
    }
    sd_bus_vtable end{};
    end.type = _SD_BUS_VTABLE_END;
    end.flags = 0;
    end.x.end._reserved = 0;
    g_vtable.push_back(end);
    int r = sd_bus_add_object_vtable(g_bus, &g_vtable_slot, kQbusObjectPath, desc->interface,
                                     g_vtable.data(), nullptr);
    if (r < 0)
        qlog(3, __func__, __LINE__, "qbus: %s not registered: %s", desc->interface,
             std::strerror(-r));
    return r < 0 ? r : 0;
}

int qbusAddInterestedSignal(const char* rule) {
    if (g_bus == nullptr || rule == nullptr)
        return -EINVAL;
    sd_bus_slot* slot = nullptr;
    int r = sd_bus_add_match(g_bus, &slot, rule, on_signal, nullptr);
    if (r < 0) {
        qlog(3, __func__, __LINE__, "qbus: match %s not added: %s", rule, std::strerror(-r));
        return r;
    }
    g_matches.emplace_back(rule, slot);
    return 0;
}

int qbusRemoveMatch(const char* rule) {
    if (rule == nullptr)
        return -1;
    for (auto it = g_matches.begin(); it != g_matches.end(); ++it) {
        if (it->first == rule) {
            sd_bus_slot_unref(it->second);
            g_matches.erase(it);
            return 0;
        }
    }
    return -1;
}

int qbusSetInteresetedSignals(const QbusInterestedSignal* table, int count) {
    g_table.clear();
    if (table == nullptr || count < 0)
        return -1;
    g_table.assign(table, table + count);
    return 0;
}

void qbusSetStopFd(int stop_fd) {
    g_stop_fd = stop_fd;
}

int qbusMainLoop() {
    if (g_bus == nullptr)
        return -ENOTCONN;
    for (;;) {
        drain_queue();
        int r = sd_bus_process(g_bus, nullptr);
        if (r < 0) {
            g_ready = false;
            qbusLogFatal(__func__, __LINE__, "qbus: connection to the bus lost: %s\n",
                         std::strerror(-r));
            return r;
        }
        if (r > 0)
            continue;
        struct pollfd fds[3];
        fds[0].fd = sd_bus_get_fd(g_bus);
        r = sd_bus_get_events(g_bus);
        fds[0].events = static_cast<short>(r < 0 ? POLLIN : r);
        fds[0].revents = 0;
        fds[1] = {g_queue_fd, POLLIN, 0};
        fds[2] = {g_stop_fd, POLLIN, 0};
        uint64_t until = 0;
        int timeout_ms = -1;
        if (sd_bus_get_timeout(g_bus, &until) >= 0 && until != UINT64_MAX) {
            struct timespec ts;
            clock_gettime(CLOCK_MONOTONIC, &ts);
            uint64_t now = static_cast<uint64_t>(ts.tv_sec) * 1000000ULL + ts.tv_nsec / 1000;
            timeout_ms = until <= now ? 0 : static_cast<int>((until - now + 999) / 1000);
        }
        r = poll(fds, 3, timeout_ms);
        if (r < 0 && errno != EINTR) {
            g_ready = false;
            qbusLogFatal(__func__, __LINE__, "qbus: poll failed: %s\n", std::strerror(errno));
            return -errno;
        }
        if (r > 0 && (fds[2].revents & POLLIN)) {
            drain_queue();
            return 0;
        }
    }
}

int qbusRelease() {
    g_ready = false;
    {
        std::lock_guard<std::mutex> lock(g_qmu);
        g_queue.clear();
        if (g_queue_fd >= 0)
            close(g_queue_fd);
        g_queue_fd = -1;
    }
    for (auto& m : g_matches)
        sd_bus_slot_unref(m.second);
    g_matches.clear();
    sd_bus_slot_unref(g_vtable_slot);
    g_vtable_slot = nullptr;
    if (g_bus)
        sd_bus_flush_close_unref(g_bus);
    g_bus = nullptr;
    g_has_owner = false;
    g_table.clear();
    g_desc = nullptr;
    g_stop_fd = -1;
    return 0;
}

int qbusSendSignal(const char* interface_name, const char* member, const void* data, size_t len) {
    nal_journal("qbusSendSignal")
        .str("interface", interface_name)
        .str("member", member)
        .hex("hex", data, data ? len : 0);
    if (interface_name == nullptr || member == nullptr || !g_ready.load())
        return -1;
    if (data && len > kQbusMaxSignalLen) {
        qlog(3, __func__, __LINE__, "qbus: signal %s.%s of %zu bytes is too large", interface_name,
             member, len);
        return -1;
    }
    if (on_owner_thread())
        return emit(interface_name, member, data, len, data != nullptr);
    std::lock_guard<std::mutex> lock(g_qmu);
    if (g_queue_fd < 0)
        return -1;
    if (g_queue.size() >= kQbusMaxQueued) {
        qlog(3, __func__, __LINE__, "qbus: signal %s.%s dropped, %zu signals already waiting",
             interface_name, member, g_queue.size());
        return -1;
    }
    Queued q;
    q.interface = interface_name;
    q.member = member;
    q.has_data = data != nullptr;
    if (data)
        q.data.assign(static_cast<const unsigned char*>(data),
                      static_cast<const unsigned char*>(data) + len);
    g_queue.push_back(std::move(q));
    uint64_t one = 1;
    while (write(g_queue_fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    return 0;
}

int qbusFlush() {
    if (!on_owner_thread() || g_bus == nullptr)
        return 0;
    int r = sd_bus_flush(g_bus);
    return r < 0 ? -1 : 0;
}

int qbusSendSignalOnce(const char* interface_name, const char* member) {
    nal_journal("qbusSendSignal")
        .str("interface", interface_name)
        .str("member", member)
        .hex("hex", nullptr, 0);
    if (interface_name == nullptr || member == nullptr)
        return -1;
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        return -1;
    sd_bus_set_method_call_timeout(bus, 5 * 1000 * 1000ULL);
    int r = sd_bus_emit_signal(bus, kQbusObjectPath, interface_name, member, nullptr);
    if (r >= 0)
        r = sd_bus_flush(bus);
    sd_bus_flush_close_unref(bus);
    return r < 0 ? -1 : 0;
}

void qbusLogFatal(const char* func, int line, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vqlog(2, func, line, fmt, ap);
    va_end(ap);
}

bool qbusConnected() {
    return g_ready.load();
}
