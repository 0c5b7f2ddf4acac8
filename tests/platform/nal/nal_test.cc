#include "nal/nal.h"

#include <gtest/gtest.h>

#include "common/paths.h"
#include "map/map_log.h"
#include "support/temp_root.h"

using ozr_test::count_of;
using ozr_test::read_text;
using ozr_test::TempRoot;
using ozr_test::write_text;

namespace {
void write_platform_json(const std::string& text) {
    ASSERT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
    write_text(nal_platform_json_path(), text);
}

std::string joined() {
    std::string all;
    for (const auto& l : nal_log_recent())
        all += l + "\n";
    return all;
}
}  // namespace

TEST(NalLog, RingKeepsRecentLinesWithinBounds) {
    TempRoot root;
    nal_initLogging(7, 2, "ozr");
    nal_log_clear();
    for (int i = 0; i < 1000; ++i)
        nalLogInfo("fn", i, "line %d", i);
    auto lines = nal_log_recent();
    ASSERT_EQ(lines.size(), kNalLogRingLines);
    EXPECT_EQ(lines.back(), "info fn:999 line 999");
    EXPECT_EQ(lines.front(), "info fn:" + std::to_string(1000 - kNalLogRingLines) + " line " +
                                 std::to_string(1000 - kNalLogRingLines));
    std::string huge(10000, 'x');
    nalLogError("fn", 1, "%s", huge.c_str());
    EXPECT_EQ(nal_log_recent().back().size(), kNalLogLineMax);
}

// The level filters each severity; the stack's lines come in at the level set later.
TEST(NalLog, LevelFiltersEachSeverityAndTheStacksLinesComeIn) {
    TempRoot root;
    nal_initLogging(4, 2, "ozr");
    nal_log_clear();
    nalLogDebug("f", 1, "d");
    nalLogInfo("f", 2, "i");
    nalLogNotice("f", 3, "n");
    nalLogWarning("f", 4, "w");
    nalLogError("f", 5, "e");
    nalLogCrit("f", 6, "c");
    EXPECT_EQ(joined(), "warn f:4 w\nerr f:5 e\ncrit f:6 c\n");
    nal_setLogLevel(7);
    EXPECT_EQ(nal_getLogLevel(), 7);
    set_map_ieee1905_module_log_level(7);
    map_log(MAP_LOG_IEEE1905, 6, "got %d TLVs", 3);
    EXPECT_EQ(count_of(joined(), "info map.1905:0 got 3 TLVs"), 1u);
}

TEST(NalLog, FileFromPlatformJsonButNeverTheDaemonsOwnFile) {
    TempRoot root;
    std::string plat = root.path("/platform.log");
    write_platform_json("{\"platform-log-path\": \"" + plat + "\"}");
    init_null_logger();
    nal_initLogging(7, 2, "ozr");
    nalLogNotice("fn", 7, "to the file");
    EXPECT_EQ(count_of(read_text(plat), "notice fn:7 to the file"), 1u);

    // The daemon logs to the same file: the platform log leaves it alone.
    ASSERT_EQ(init_file_logger(plat), 0);
    nal_initLogging(7, 2, "ozr");
    nalLogNotice("fn", 8, "only in the ring");
    EXPECT_EQ(count_of(read_text(plat), "only in the ring"), 0u);
    EXPECT_EQ(count_of(joined(), "only in the ring"), 1u);
    teardown_logging();
    write_platform_json("{}");
    nal_initLogging(7, 2, "ozr");
}

TEST(NalPlatform, MissingBrokenOrOversizedFileOrKeyFails) {
    TempRoot root;
    char buf[256];
    std::string s;
    long long n = 0;
    EXPECT_EQ(nal_getMeshRestListenAddress(buf, sizeof buf), -1);
    EXPECT_FALSE(nal_platform_get_string("x", s));
    write_platform_json("{\"x\": 5, \"s\": \"text\", \"mesh-rest-listen-address\": 7}");
    EXPECT_EQ(nal_getMeshRestListenAddress(buf, sizeof buf), -1);  // not an object
    EXPECT_FALSE(nal_platform_get_string("x", s));                 // wrong type
    EXPECT_TRUE(nal_platform_get_int("x", n));
    EXPECT_EQ(n, 5);
    EXPECT_TRUE(nal_platform_get_string("s", s));
    EXPECT_EQ(s, "text");
    EXPECT_FALSE(nal_platform_get_int("nope", n));
    // Rewritten in place at once, same size (same identity and time, likely): read anew.
    write_platform_json("{\"x\": 6, \"s\": \"text\", \"mesh-rest-listen-address\": 7}");
    EXPECT_TRUE(nal_platform_get_int("x", n));
    EXPECT_EQ(n, 6);
    write_platform_json("{\"mesh-rest-listen-address\": {\"rest-ipv4\": \"127.0.0.1\",");
    EXPECT_EQ(nal_getMeshRestListenAddress(buf, sizeof buf), -1);  // broken JSON
    write_platform_json("[1, 2]");
    EXPECT_FALSE(nal_platform_get_json("x", s));
    write_platform_json("{\"mesh-rest-listen-address\": {}, \"pad\": \"" + std::string(70000, 'a') +
                        "\"}");
    EXPECT_EQ(nal_getMeshRestListenAddress(buf, sizeof buf), -1);  // oversized
}

TEST(NalPlatform, RestListenAddressIsTheObjectsJsonText) {
    TempRoot root;
    write_platform_json(
        "{\"mesh-rest-listen-address\": {\"rest-ipv4\": \"127.0.0.1\", \"rest-port\": 8090}}");
    const std::string want = "{\"rest-ipv4\":\"127.0.0.1\",\"rest-port\":8090}";
    char buf[128];
    ASSERT_EQ(nal_getMeshRestListenAddress(buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), want);
    // Exactly enough room (text + NUL) works; one byte less fails without writing past it.
    std::vector<char> exact(want.size() + 1, 'Z');
    EXPECT_EQ(nal_getMeshRestListenAddress(exact.data(), exact.size()), 0);
    std::vector<char> small(want.size() + 1, 'Z');
    EXPECT_EQ(nal_getMeshRestListenAddress(small.data(), want.size()), -2);
    EXPECT_EQ(small.back(), 'Z');
    EXPECT_EQ(nal_getMeshRestListenAddress(nullptr, 100), -2);
}
