// The vendor agent nodes as "GET /debug/hktmgmt" lists them (the page's document lists
// them too).
#pragma once

#include <rapidjson/document.h>

#include <cstdint>

struct HktNode;

// One node into OUT: identity, state, the age of the last message heard, versions, its
// IPv4 address and, when FULL, its IPv6 addresses, minders and interfaces.
void render_hkt_node(const HktNode& n, int64_t now, rapidjson::Value& out,
                     rapidjson::Document::AllocatorType& alloc, bool full = true);
