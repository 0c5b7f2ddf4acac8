// Render-once documents. A route registered as cached (OZR_REST_CACHED_ROUTE) is
// rendered into its answer text once and served from that text until the daemon's state
// version moves (core/state_version.h: any CMDU, minder timer, non-cached request or
// explicit note). Values that depend on the time of the request (ages) are kept as
// slots in the text and written afresh for every answer, so a cached answer is byte for
// byte the answer a fresh render would give at that moment.
//
// Each kept text has an entity tag that names its content (the text without the slot
// values, and what goes into the slots): a request whose If-None-Match names it is
// answered "304 Not Modified" without a body. The tag is weak (W/"..."): two answers of one
// tag differ only in their ages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// How a time-dependent value is derived from the request time NOW and a time stamp BASE.
enum class RestTimeKind : uint8_t {
    MsSince,       // now - base (ms, may be negative)
    SecondsSince,  // (now - base) / 1000 when positive, else 0; at most 2^32 - 1
};

// The value of a time-dependent member. Renderers write every such value through this
// function (as an int64), nothing else: while a cached document renders, it returns a
// marker that the cache turns into a slot.
int64_t rest_time_value(int64_t now_ms, int64_t base_ms, RestTimeKind kind);

// A 64-bit hash of N bytes at P, continuing from SEED (not cryptographic; equal within
// one process).
uint64_t rest_hash(const void* p, size_t n, uint64_t seed);

// Whether the value of an If-None-Match header names ETAG: "*", or one of its
// comma-separated tags compared weakly (a "W/" prefix on either side is ignored).
bool rest_etag_matches(const std::string& if_none_match, const std::string& etag);

// One cached answer: the text cut at its time slots.
class RestCachedText {
  public:
    struct Slot {
        size_t offset;  // into the text, where the value goes
        int64_t base_ms;
        RestTimeKind kind;
    };

    // Whether the text was rendered at state version VERSION.
    bool valid(uint64_t version) const { return present_ && version_ == version; }
    // Keeps TEXT, rendered at VERSION, whose time values are the markers of SLOTS (in
    // the order they were handed out). False (nothing kept) when a marker is missing.
    bool store(uint64_t version, int status, std::string headers, std::string text,
               const std::vector<Slot>& slots);
    void clear() { present_ = false; }
    // The text with every slot's value at NOW_MS.
    void write(int64_t now_ms, std::string& out) const;

    int status() const { return status_; }
    const std::string& headers() const { return headers_; }
    // The weak entity tag of the kept content, with its quotes: W/"<16 hex digits>".
    const std::string& etag() const { return etag_; }

  private:
    bool present_ = false;
    uint64_t version_ = 0;
    int status_ = 0;
    std::string headers_;
    std::string text_;         // the text without the markers
    std::vector<Slot> slots_;  // ordered by offset
    std::string etag_;
};

// Records the time slots handed out while a cached document renders (one at a time,
// loop thread only).
class RestTimeRecorder {
  public:
    RestTimeRecorder();
    ~RestTimeRecorder();
    RestTimeRecorder(const RestTimeRecorder&) = delete;
    RestTimeRecorder& operator=(const RestTimeRecorder&) = delete;
    const std::vector<RestCachedText::Slot>& slots() const { return slots_; }

  private:
    friend int64_t rest_time_value(int64_t, int64_t, RestTimeKind);
    std::vector<RestCachedText::Slot> slots_;
    RestTimeRecorder* previous_;
};
