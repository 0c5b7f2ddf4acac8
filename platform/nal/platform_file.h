// The parsed platform.json, for the platform's own readers (nal.h's getters, the channel
// service): each question reads the file, as a service on the gateway would answer from
// its current settings, but the file is parsed again only when its bytes changed.
#pragma once

#include <rapidjson/document.h>

// Calls FN(VALUE, CTX) with the parsed value under top-level KEY and returns what FN returns;
// false without calling it when the file is missing, unreadable, larger than 64 KiB, not a
// JSON object, or has no such key. FN runs under the platform file's lock: it copies out
// what it needs and calls no nal_platform_* function.
using NalPlatformVisitor = bool (*)(const rapidjson::Value& value, void* ctx);
bool nal_platform_visit(const char* key, NalPlatformVisitor fn, void* ctx);

// The same with a callable: nal_platform_with(KEY, [&](const rapidjson::Value& v) { ... }).
template <class Fn>
bool nal_platform_with(const char* key, Fn fn) {
    return nal_platform_visit(
        key, [](const rapidjson::Value& v, void* ctx) { return (*static_cast<Fn*>(ctx))(v); }, &fn);
}
