// JSON output helpers of the REST API: pretty rendering straight into a
// string, and JSONObjectRenderer, the building block every renderer uses to
// append typed members to one object.
#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "common/mac.h"

// Writes VALUE with four-space indentation, appending to OUT. False when the
// value cannot be written as JSON (a NaN or infinite number); OUT then holds
// whatever was written before the failure.
bool write_pretty_json(const rapidjson::Value& value, std::string& out);
// The same with the writer's nesting stack taken from POOL (a document's
// allocator) instead of the heap.
bool write_pretty_json(const rapidjson::Value& value, std::string& out,
                       rapidjson::MemoryPoolAllocator<>& pool);
// The same without indentation.
bool write_compact_json(const rapidjson::Value& value, std::string& out);

// The highest MCS index of each of the 8 spatial streams (8 down to 1) of a
// VHT MCS map: 2-bit fields from bits 15-14 down to 1-0, 0 -> 7, 1 -> 8,
// 2 -> 9, 3 (not supported) -> 0.
void vht_mcs_map_to_array(uint16_t map, unsigned out[8]);
// Seconds * 1000 + nanoseconds / 1000000, in 64 bits.
int64_t timespec_to_ms(const struct timespec& ts);

class JSONObjectRenderer {
  public:
    using Allocator = rapidjson::Document::AllocatorType;

    // Renders into the document itself, made an object when it is not one.
    explicit JSONObjectRenderer(rapidjson::Document& doc);
    // Renders into OBJECT (made an object when it is not one), allocating from ALLOC.
    JSONObjectRenderer(rapidjson::Value& object, Allocator& alloc);

    JSONObjectRenderer& add_null(const char* key);
    JSONObjectRenderer& add_bool(const char* key, bool v);
    JSONObjectRenderer& add_int(const char* key, int v);
    JSONObjectRenderer& add_int64(const char* key, int64_t v);
    JSONObjectRenderer& add_uint(const char* key, unsigned v);
    JSONObjectRenderer& add_uint64(const char* key, uint64_t v);
    JSONObjectRenderer& add_float(const char* key, float v);
    JSONObjectRenderer& add_string(const char* key, const std::string& v);
    // A null pointer gives an empty string.
    JSONObjectRenderer& add_string(const char* key, const char* v);
    JSONObjectRenderer& add_string(const char* key, const char* v, size_t len);
    JSONObjectRenderer& add_mac(const char* key, const MAC& mac);
    JSONObjectRenderer& add_bssid(const char* key, const BSSID& bssid);
    // Nothing is added when LIST is null.
    JSONObjectRenderer& add_mac_list(const char* key, const std::vector<MAC>* list);
    // An empty array when COUNT is below 1 or BYTES is null.
    JSONObjectRenderer& add_uint8_array(const char* key, const uint8_t* bytes, int count);
    // add_uint8_array over the first LENGTH % 256 bytes.
    JSONObjectRenderer& add_he_mcs_map(const char* key, const uint8_t* bytes, unsigned length);
    JSONObjectRenderer& add_vht_mcs_map(const char* key, uint16_t map);
    JSONObjectRenderer& add_timespec(const char* key, const struct timespec& ts);
    // Moves VALUE in (VALUE is left null).
    JSONObjectRenderer& add_value(const char* key, rapidjson::Value& value);

    rapidjson::Value& object() { return obj_; }
    Allocator& allocator() { return alloc_; }

  private:
    JSONObjectRenderer& add(const char* key, rapidjson::Value& v);

    rapidjson::Value& obj_;
    Allocator& alloc_;
};
