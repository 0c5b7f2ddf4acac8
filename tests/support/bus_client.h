// A test's own connection to the (private) system bus, on sd-bus: calls the daemon's
// methods the way the platform does, raises the platform's signals, listens to the
// daemon's signals. One thread at a time uses a client.
#pragma once

#include <systemd/sd-bus.h>
#include <time.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ozr_test {

struct BusReply {
    bool ok = false;            // a method return (not an error)
    std::string error_name;     // the D-Bus error name otherwise
    int32_t result = 0;         // "i"
    std::vector<uint8_t> data;  // "ay"
};

struct BusSignal {
    std::string path, interface, member, signature;
    std::vector<uint8_t> data;  // "ay" payload, if any
};

class BusClient {
  public:
    BusClient() {
        if (sd_bus_open_system(&bus_) < 0)
            bus_ = nullptr;
    }
    ~BusClient() {
        for (sd_bus_slot* s : slots_)
            sd_bus_slot_unref(s);
        if (bus_)
            sd_bus_flush_close_unref(bus_);
    }
    BusClient(const BusClient&) = delete;
    BusClient& operator=(const BusClient&) = delete;

    bool ok() const { return bus_ != nullptr; }
    sd_bus* bus() { return bus_; }

    // Calls vexal.ozr.application.METHOD on the daemon with REQUEST as its "ay".
    BusReply call(const char* method, const std::vector<uint8_t>& request,
                  uint64_t timeout_us = 10 * 1000 * 1000ULL) {
        BusReply r;
        if (!bus_)
            return r;
        sd_bus_message* m = nullptr;
        sd_bus_message* reply = nullptr;
        sd_bus_error err = SD_BUS_ERROR_NULL;
        int rc = sd_bus_message_new_method_call(bus_, &m, "vexal.ozrd", "/vexal/ozrd",
                                                "vexal.ozr.application", method);
        if (rc >= 0)
            rc = sd_bus_message_append_array(m, 'y', request.data(), request.size());
        if (rc >= 0)
            rc = sd_bus_call(bus_, m, timeout_us, &err, &reply);
        if (rc < 0) {
            r.error_name = err.name ? err.name : "errno";
        } else {
            const void* p = nullptr;
            size_t n = 0;
            r.ok = sd_bus_message_read(reply, "i", &r.result) >= 0 &&
                   sd_bus_message_read_array(reply, 'y', &p, &n) >= 0;
            if (n)
                r.data.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
        }
        sd_bus_error_free(&err);
        sd_bus_message_unref(m);
        sd_bus_message_unref(reply);
        return r;
    }

    // Raises INTERFACE.MEMBER from "/vexal/test" with one argument of SIGNATURE "ay", "s",
    // "i" or none ("").
    bool emit_ay(const char* interface, const char* member, const void* data, size_t len) {
        sd_bus_message* m = nullptr;
        int rc = sd_bus_message_new_signal(bus_, &m, "/vexal/test", interface, member);
        if (rc >= 0)
            rc = sd_bus_message_append_array(m, 'y', data, len);
        if (rc >= 0)
            rc = sd_bus_send(bus_, m, nullptr);
        sd_bus_message_unref(m);
        return rc >= 0;
    }
    bool emit_s(const char* interface, const char* member, const std::string& text) {
        return sd_bus_emit_signal(bus_, "/vexal/test", interface, member, "s", text.c_str()) >= 0;
    }
    bool emit_i(const char* interface, const char* member, int32_t v) {
        return sd_bus_emit_signal(bus_, "/vexal/test", interface, member, "i", v) >= 0;
    }
    bool emit_none(const char* interface, const char* member) {
        return sd_bus_emit_signal(bus_, "/vexal/test", interface, member, nullptr) >= 0;
    }
    bool flush() { return bus_ && sd_bus_flush(bus_) >= 0; }

    bool own_name(const char* name) { return bus_ && sd_bus_request_name(bus_, name, 0) >= 0; }

    // Collects the signals matching RULE from now on (see process_until).
    bool listen(const char* rule) {
        sd_bus_slot* slot = nullptr;
        if (!bus_ || sd_bus_add_match(bus_, &slot, rule, on_signal, this) < 0)
            return false;
        slots_.push_back(slot);
        return true;
    }
    // Processes the connection until PRED() holds or TIMEOUT_MS passed.
    template <class Pred>
    bool process_until(Pred pred, int timeout_ms = 10000) {
        long long end = now_ms() + timeout_ms;
        while (!pred()) {
            if (!bus_ || now_ms() > end)
                return false;
            int r = sd_bus_process(bus_, nullptr);
            if (r < 0)
                return false;
            if (r == 0)
                sd_bus_wait(bus_, 50 * 1000);
        }
        return true;
    }
    std::vector<BusSignal> signals;

  private:
    static long long now_ms() {
        struct timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
    }
    static int on_signal(sd_bus_message* m, void* userdata, sd_bus_error*) {
        auto* self = static_cast<BusClient*>(userdata);
        auto text = [](const char* v) { return std::string(v ? v : ""); };
        BusSignal s{text(sd_bus_message_get_path(m)),
                    text(sd_bus_message_get_interface(m)),
                    text(sd_bus_message_get_member(m)),
                    text(sd_bus_message_get_signature(m, 1)),
                    {}};
        if (s.signature == "ay") {
            const void* p = nullptr;
            size_t n = 0;
            if (sd_bus_message_read_array(m, 'y', &p, &n) >= 0 && n)
                s.data.assign(static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
        }
        self->signals.push_back(std::move(s));
        return 0;
    }

    sd_bus* bus_ = nullptr;
    std::vector<sd_bus_slot*> slots_;
};

}  // namespace ozr_test
