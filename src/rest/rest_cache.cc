#include "rest/rest_cache.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
// Markers written in place of time values while a cached document renders: slot i is
// kMarkerBase - i. No value of the documents comes near (times are clock readings or
// differences of them, counters are unsigned).
constexpr int64_t kMarkerBase = -7000000000000000000LL;
constexpr int64_t kMaxSlots = 1000000;
constexpr char kMarkerPrefix[] = "-7000000000";

RestTimeRecorder* g_recorder = nullptr;

int64_t compute(int64_t now_ms, int64_t base_ms, RestTimeKind kind) {
    switch (kind) {
        case RestTimeKind::MsSince:
            return now_ms - base_ms;
        case RestTimeKind::SecondsSince: {
            int64_t since = now_ms > base_ms ? now_ms - base_ms : 0;
            return std::min<int64_t>(since / 1000, UINT32_MAX);
        }
    }
    return 0;
}
}  // namespace

uint64_t rest_hash(const void* p, size_t n, uint64_t seed) {
    // Eight bytes a step: multiply, then fold the high bits down.
    constexpr uint64_t kMul = 0x9e3779b97f4a7c15ULL;
    const auto* b = static_cast<const unsigned char*>(p);
    uint64_t h = seed ^ (n * kMul);
    for (; n >= 8; n -= 8, b += 8) {
        uint64_t w;
        std::memcpy(&w, b, 8);
        h = (h ^ w) * kMul;
        h ^= h >> 29;
    }
    uint64_t w = 0;
    std::memcpy(&w, b, n);
    h = (h ^ w) * kMul;
    return h ^ (h >> 32);
}

bool rest_etag_matches(const std::string& if_none_match, const std::string& etag) {
    auto strip_weak = [](const char* s, size_t n, size_t& len) {
        if (n >= 2 && s[0] == 'W' && s[1] == '/') {
            len = n - 2;
            return s + 2;
        }
        len = n;
        return s;
    };
    size_t tag_len = 0;
    const char* tag = strip_weak(etag.data(), etag.size(), tag_len);
    if (tag_len == 0)
        return false;
    size_t pos = 0;
    const std::string& v = if_none_match;
    while (pos < v.size()) {
        size_t end = v.find(',', pos);
        if (end == std::string::npos)
            end = v.size();
        size_t a = pos, b = end;
        while (a < b && (v[a] == ' ' || v[a] == '\t'))
            ++a;
        while (b > a && (v[b - 1] == ' ' || v[b - 1] == '\t'))
            --b;
        if (b - a == 1 && v[a] == '*')
            return true;
        size_t len = 0;
        const char* t = strip_weak(v.data() + a, b - a, len);
        if (len == tag_len && std::memcmp(t, tag, len) == 0)
            return true;
        pos = end + 1;
    }
    return false;
}

int64_t rest_time_value(int64_t now_ms, int64_t base_ms, RestTimeKind kind) {
    RestTimeRecorder* r = g_recorder;
    if (r == nullptr || static_cast<int64_t>(r->slots_.size()) >= kMaxSlots)
        return compute(now_ms, base_ms, kind);
    int64_t marker = kMarkerBase - static_cast<int64_t>(r->slots_.size());
    r->slots_.push_back(RestCachedText::Slot{0, base_ms, kind});
    return marker;
}

RestTimeRecorder::RestTimeRecorder() : previous_(g_recorder) {
    g_recorder = this;
}

RestTimeRecorder::~RestTimeRecorder() {
    g_recorder = previous_;
}

bool RestCachedText::store(uint64_t version, int status, std::string headers, std::string text,
                           const std::vector<Slot>& slots) {
    present_ = false;
    std::vector<Slot> found;
    found.reserve(slots.size());
    std::vector<bool> seen(slots.size(), false);
    std::string clean;
    clean.reserve(text.size());
    const size_t prefix_len = sizeof kMarkerPrefix - 1;
    size_t from = 0;
    while (!slots.empty()) {
        size_t at = text.find(kMarkerPrefix, from);
        if (at == std::string::npos)
            break;
        size_t end = at + 1;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9')
            ++end;
        int64_t value = std::strtoll(text.c_str() + at, nullptr, 10);
        int64_t index = kMarkerBase - value;
        if (end - at < prefix_len || index < 0 || index >= static_cast<int64_t>(slots.size()) ||
            seen[static_cast<size_t>(index)])
            return false;
        seen[static_cast<size_t>(index)] = true;
        clean.append(text, from, at - from);
        Slot s = slots[static_cast<size_t>(index)];
        s.offset = clean.size();
        found.push_back(s);
        from = end;
    }
    if (found.size() != slots.size())
        return false;
    clean.append(text, from, std::string::npos);
    // The tag covers everything an answer is made of but the request time.
    uint64_t h = rest_hash(clean.data(), clean.size(), static_cast<uint64_t>(status));
    h = rest_hash(headers.data(), headers.size(), h);
    for (const Slot& s : found) {
        const int64_t parts[3] = {static_cast<int64_t>(s.offset), s.base_ms,
                                  static_cast<int64_t>(s.kind)};
        h = rest_hash(parts, sizeof parts, h);
    }
    etag_ = fmt::format("W/\"{:016x}\"", h);
    text_ = std::move(clean);
    slots_ = std::move(found);
    headers_ = std::move(headers);
    status_ = status;
    version_ = version;
    present_ = true;
    return true;
}

void RestCachedText::write(int64_t now_ms, std::string& out) const {
    out.clear();
    out.reserve(text_.size() + slots_.size() * 12);
    size_t from = 0;
    for (const Slot& s : slots_) {
        out.append(text_, from, s.offset - from);
        fmt::format_int v(compute(now_ms, s.base_ms, s.kind));
        out.append(v.data(), v.size());
        from = s.offset;
    }
    out.append(text_, from, std::string::npos);
}
