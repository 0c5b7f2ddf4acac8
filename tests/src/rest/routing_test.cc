// Route table pieces without a socket: URI splitting, the matching rule,
// query strings, and the preload table that modules fill statically.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "rest/dispatch.h"
#include "rest_test_support.h"

namespace {

using V = std::vector<std::string>;

TEST(RestRouting, SplitsUriIntoComponents) {
    EXPECT_EQ(split_uri_components("/debug/graph"), (V{"debug", "graph"}));
    EXPECT_EQ(split_uri_components("/debug/graph/"), (V{"debug", "graph"}));
    EXPECT_EQ(split_uri_components("/debug/graph//"), (V{"debug", "graph", ""}));
    EXPECT_EQ(split_uri_components("/a//b"), (V{"a", "", "b"}));
    EXPECT_EQ(split_uri_components("/quit"), (V{"quit"}));
    EXPECT_EQ(split_uri_components("/1/aps?x=1/2"), (V{"1", "aps"}));
    EXPECT_EQ(split_uri_components("/1/aps/?x=1"), (V{"1", "aps"}));
    EXPECT_EQ(split_uri_components("/"), V{});
    EXPECT_EQ(split_uri_components(""), V{});
    EXPECT_EQ(split_uri_components("/?q"), V{});
    EXPECT_EQ(split_uri_components("*"), (V{"*"}));
}

TEST(RestRouting, MatchingRule) {
    V got;
    const V graph = split_uri_components("/debug/graph");
    EXPECT_TRUE(route_matches(graph, {"debug", "graph"}, &got));
    EXPECT_EQ(got, (V{"debug", "graph"}));
    EXPECT_FALSE(route_matches(graph, {"debug", "graph", "extra"}, &got));
    EXPECT_FALSE(route_matches(graph, {"debug"}, &got));
    EXPECT_FALSE(route_matches(graph, {"debug", "grap"}, &got));
    EXPECT_FALSE(route_matches(graph, {}, &got));

    const V aps = split_uri_components("/1/aps/*/*/*/*/*/*/*/*");
    EXPECT_TRUE(route_matches(aps, {"1", "aps", "aabbccddeeff", "clients"}, &got));
    EXPECT_EQ(got, (V{"1", "aps", "aabbccddeeff", "clients"}));
    EXPECT_TRUE(route_matches(aps, {"1", "aps"}, &got));
    V ten(10, "x");
    ten[0] = "1";
    ten[1] = "aps";
    EXPECT_TRUE(route_matches(aps, ten, &got));
    ten.push_back("y");
    EXPECT_FALSE(route_matches(aps, ten, &got));

    // Comparison stops at the first disagreement; two agreeing is enough.
    const V abcd = {"a", "b", "c", "d"};
    EXPECT_TRUE(route_matches(abcd, {"a", "b", "z"}, &got));
    EXPECT_EQ(got, (V{"a", "b"}));
    EXPECT_FALSE(route_matches(abcd, {"a", "z", "c"}, &got));

    // A pattern component starting with "*" accepts anything, "" included.
    EXPECT_TRUE(route_matches({"*any", "*"}, {"x", ""}, &got));
    EXPECT_TRUE(route_matches({"a", "*"}, {"a", "q"}, &got));

    // Single-component routes take exactly one agreeing component.
    const V quit = {"quit"};
    EXPECT_TRUE(route_matches(quit, {"quit"}, &got));
    EXPECT_EQ(got, V{"quit"});
    EXPECT_FALSE(route_matches(quit, {"quit", "now"}, &got));
    EXPECT_FALSE(route_matches(quit, {"quits"}, &got));
    EXPECT_TRUE(route_matches({"*"}, {"x"}, &got));
    // ...and one-component requests never reach longer routes.
    EXPECT_FALSE(route_matches({"quit", "*"}, {"quit"}, &got));

    // "/" (no component) is a route of its own: the empty request, nothing else.
    EXPECT_TRUE(route_matches({}, {}, &got));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(route_matches({}, {"ui"}, &got));
    EXPECT_FALSE(route_matches({"*"}, {}, &got));
}

TEST(RestRouting, QueryStrings) {
    std::map<std::string, std::string> q;
    parse_query_string("al-mac=aa%3Abb&band=5&&empty=&flag&x=1&x=2&bad=%zz%4", q);
    EXPECT_EQ(q["al-mac"], "aa:bb");
    EXPECT_EQ(q["band"], "5");
    EXPECT_EQ(q["empty"], "");
    EXPECT_EQ(q.count("flag"), 1u);
    EXPECT_EQ(q["x"], "2");
    EXPECT_EQ(q["bad"], "%zz%4");
    EXPECT_EQ(q.size(), 6u);
    q.clear();
    parse_query_string("", q);
    EXPECT_TRUE(q.empty());
}

TEST(RestRouting, MethodBits) {
    EXPECT_EQ(rest_method_bit(HTTP_GET), 1u);
    EXPECT_EQ(rest_method_bit(HTTP_POST), 2u);
    EXPECT_EQ(rest_method_bit(HTTP_PUT), 4u);
    EXPECT_EQ(rest_method_bit(HTTP_DELETE), 8u);
    EXPECT_EQ(rest_method_bit(HTTP_OPTIONS), 0u);
    EXPECT_EQ(rest_method_bit(HTTP_PATCH), 0u);
}

int marker_handler(Context&, ClientContext&, const HttpRequest&, HttpResponse& r) {
    r.status = 200;
    return 7;
}

OZR_REST_ROUTE(REST_GET | REST_PUT, "/test/static-route", marker_handler);

TEST(RestPreload, StaticRegistrationsAreCopiedIntoTheTable) {
    // "/1/version" and the route above registered themselves before main.
    const std::vector<DispatchEntry>* pre = restapi_dispatch_preload();
    ASSERT_NE(pre, nullptr);
    bool found = false;
    for (const DispatchEntry& e : *pre) {
        if (e.path != "/test/static-route")
            continue;
        found = true;
        EXPECT_EQ(e.methods, 5u);
        EXPECT_EQ(e.components, (V{"test", "static-route"}));
    }
    EXPECT_TRUE(found);

    LogCapture log;
    Logger logger(nullptr, "rest", "[REST]", 7);
    DispatchTable table(&logger);
    table.load_preload();
    EXPECT_EQ(table.entries().size(), pre->size());
    EXPECT_TRUE(log.contains(fmt::format("dispatch_table_preload has {} entries", pre->size())));
    EXPECT_TRUE(log.contains("Adding preloaded endpoint /test/static-route"));
    EXPECT_TRUE(log.contains("Adding preloaded endpoint /1/version"));
}

TEST(RestPreload, RegistrationAfterStartLogsAndMissingTableIsReported) {
    LogCapture log;
    Logger root(nullptr, "root", "", 7);
    Logger* saved_root = root_logger;
    root_logger = &root;
    // Keep the static entries aside while the table is rebuilt from nothing.
    std::vector<DispatchEntry> saved = *restapi_dispatch_preload();
    clear_restapi_dispatch_preload();
    {
        Logger logger(nullptr, "rest", "[REST]", 7);
        DispatchTable empty(&logger);
        empty.load_preload();
        EXPECT_TRUE(empty.entries().empty());
        EXPECT_TRUE(log.contains("dispatch_table_preload is null?!"));
    }
    add_restapi_dispatch_entry(REST_GET, "/late/route", marker_handler);
    EXPECT_TRUE(log.contains("Creating preload dispatch table\n"));
    EXPECT_TRUE(log.contains("Adding preload dispatch entry for /late/route\n"));
    ASSERT_EQ(restapi_dispatch_preload()->size(), 1u);
    clear_restapi_dispatch_preload();
    root_logger = saved_root;
    for (DispatchEntry& e : saved)
        add_restapi_dispatch_entry(e.methods, e.path, e.handler);
    EXPECT_EQ(restapi_dispatch_preload()->size(), saved.size());
}

}  // namespace
