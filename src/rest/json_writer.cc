#include "rest/json_writer.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/writer.h>

namespace {

// A rapidjson output stream appending to a std::string in blocks, so the
// rendered text lands in the response body without a per-character append.
struct StringSink {
    typedef char Ch;
    explicit StringSink(std::string& out) : s(out) {}
    ~StringSink() { Flush(); }
    void Put(char c) {
        if (n == sizeof buf)
            Flush();
        buf[n++] = c;
    }
    void Flush() {
        s.append(buf, n);
        n = 0;
    }
    std::string& s;
    size_t n = 0;
    char buf[4096];
};

using PoolAllocator = rapidjson::MemoryPoolAllocator<>;

}  // namespace

bool write_pretty_json(const rapidjson::Value& value, std::string& out) {
    StringSink sink(out);
    rapidjson::PrettyWriter<StringSink> writer(sink);
    writer.SetIndent(' ', 4);
    bool ok = value.Accept(writer);
    sink.Flush();
    return ok;
}

bool write_pretty_json(const rapidjson::Value& value, std::string& out, PoolAllocator& pool) {
    StringSink sink(out);
    rapidjson::PrettyWriter<StringSink, rapidjson::UTF8<>, rapidjson::UTF8<>, PoolAllocator> writer(
        sink, &pool);
    writer.SetIndent(' ', 4);
    bool ok = value.Accept(writer);
    sink.Flush();
    return ok;
}

bool write_compact_json(const rapidjson::Value& value, std::string& out) {
    StringSink sink(out);
    rapidjson::Writer<StringSink> writer(sink);
    bool ok = value.Accept(writer);
    sink.Flush();
    return ok;
}

void vht_mcs_map_to_array(uint16_t map, unsigned out[8]) {
    static const unsigned kMax[4] = {7, 8, 9, 0};
    for (int i = 0; i < 8; ++i)
        out[i] = kMax[(map >> (14 - 2 * i)) & 3];
}

int64_t timespec_to_ms(const struct timespec& ts) {
    return static_cast<int64_t>(ts.tv_sec) * 1000 + static_cast<int64_t>(ts.tv_nsec) / 1000000;
}

JSONObjectRenderer::JSONObjectRenderer(rapidjson::Document& doc)
    : obj_(doc), alloc_(doc.GetAllocator()) {
    if (!obj_.IsObject())
        obj_.SetObject();
}

JSONObjectRenderer::JSONObjectRenderer(rapidjson::Value& object, Allocator& alloc)
    : obj_(object), alloc_(alloc) {
    if (!obj_.IsObject())
        obj_.SetObject();
}

JSONObjectRenderer& JSONObjectRenderer::add(const char* key, rapidjson::Value& v) {
    rapidjson::Value k(key, alloc_);
    obj_.AddMember(k, v, alloc_);
    return *this;
}

JSONObjectRenderer& JSONObjectRenderer::add_null(const char* key) {
    rapidjson::Value v;
    return add(key, v);
}

JSONObjectRenderer& JSONObjectRenderer::add_bool(const char* key, bool b) {
    rapidjson::Value v(b);
    return add(key, v);
}

JSONObjectRenderer& JSONObjectRenderer::add_int(const char* key, int i) {
    rapidjson::Value v(i);
    return add(key, v);
}

JSONObjectRenderer& JSONObjectRenderer::add_int64(const char* key, int64_t i) {
    rapidjson::Value v(i);
    return add(key, v);
}

JSONObjectRenderer& JSONObjectRenderer::add_uint(const char* key, unsigned u) {
    rapidjson::Value v(u);
    return add(key, v);
}

JSONObjectRenderer& JSONObjectRenderer::add_uint64(const char* key, uint64_t u) {
    rapidjson::Value v(u);
    return add(key, v);
}

JSONObjectRenderer& JSONObjectRenderer::add_float(const char* key, float f) {
    rapidjson::Value v(static_cast<double>(f));
    return add(key, v);
}

JSONObjectRenderer& JSONObjectRenderer::add_string(const char* key, const std::string& s) {
    return add_string(key, s.data(), s.size());
}

JSONObjectRenderer& JSONObjectRenderer::add_string(const char* key, const char* s) {
    if (!s)
        return add_string(key, "", 0);
    rapidjson::Value v(s, alloc_);
    return add(key, v);
}

JSONObjectRenderer& JSONObjectRenderer::add_string(const char* key, const char* s, size_t len) {
    rapidjson::Value v(s ? s : "", s ? static_cast<rapidjson::SizeType>(len) : 0, alloc_);
    return add(key, v);
}

JSONObjectRenderer& JSONObjectRenderer::add_mac(const char* key, const MAC& mac) {
    return add_string(key, mac.to_rest_string());
}

JSONObjectRenderer& JSONObjectRenderer::add_bssid(const char* key, const BSSID& bssid) {
    return add_string(key, bssid.to_rest_string());
}

JSONObjectRenderer& JSONObjectRenderer::add_mac_list(const char* key,
                                                     const std::vector<MAC>* list) {
    if (!list)
        return *this;
    rapidjson::Value arr(rapidjson::kArrayType);
    arr.Reserve(static_cast<rapidjson::SizeType>(list->size()), alloc_);
    for (const MAC& m : *list) {
        std::string s = m.to_rest_string();
        arr.PushBack(rapidjson::Value(s.data(), static_cast<rapidjson::SizeType>(s.size()), alloc_),
                     alloc_);
    }
    return add(key, arr);
}

JSONObjectRenderer& JSONObjectRenderer::add_uint8_array(const char* key, const uint8_t* bytes,
                                                        int count) {
    rapidjson::Value arr(rapidjson::kArrayType);
    if (bytes && count > 0) {
        arr.Reserve(static_cast<rapidjson::SizeType>(count), alloc_);
        for (int i = 0; i < count; ++i)
            arr.PushBack(rapidjson::Value(unsigned{bytes[i]}), alloc_);
    }
    return add(key, arr);
}

JSONObjectRenderer& JSONObjectRenderer::add_he_mcs_map(const char* key, const uint8_t* bytes,
                                                       unsigned length) {
    return add_uint8_array(key, bytes, static_cast<int>(length % 256));
}

JSONObjectRenderer& JSONObjectRenderer::add_vht_mcs_map(const char* key, uint16_t map) {
    unsigned mcs[8];
    vht_mcs_map_to_array(map, mcs);
    rapidjson::Value arr(rapidjson::kArrayType);
    arr.Reserve(8, alloc_);
    for (unsigned m : mcs)
        arr.PushBack(rapidjson::Value(m), alloc_);
    return add(key, arr);
}

JSONObjectRenderer& JSONObjectRenderer::add_timespec(const char* key, const struct timespec& ts) {
    return add_int64(key, timespec_to_ms(ts));
}

JSONObjectRenderer& JSONObjectRenderer::add_value(const char* key, rapidjson::Value& value) {
    return add(key, value);
}
