#include "main/cmdline.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/temp_root.h"

// Unknown options and words: OzrProcess.CommandLinesThatEndAtOnce.
TEST(CommandLine, UsageLayoutFitsEightyColumns) {
    std::string u = usage_text(80);
    auto lines = ozr_test::lines_of(u);
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[0], "Options:");
    EXPECT_EQ(lines[1], "   -h  --help                print this message and exit");
    EXPECT_EQ(lines[2],
              "   --version                 print the version, tag, and commit, then exit");
    EXPECT_EQ(lines[3], "   --log-level=LEVEL         'emerg', 'alert', 'crit', 'error', 'warn',");
    EXPECT_EQ(lines[4], "                             'notice', 'info, or 'debug'");
    EXPECT_EQ(lines[5].find("   --log-level=PREFIX:LEVEL  prefix is a logger path prefix,"), 0u);
    EXPECT_EQ(lines[lines.size() - 2],
              "   --log-path=PATH           'syslog', 'stdout' or a file path");
    EXPECT_EQ(lines.back(), "   --unit-test               exit after running unit tests");
    for (const auto& l : lines) {
        EXPECT_LE(l.size(), 80u) << l;
        EXPECT_NE(l.back(), ' ') << l;
    }
    // Wrapping loses no word of the prefix description.
    std::string joined;
    for (size_t i = 5; i + 2 < lines.size(); ++i)
        joined += lines[i].substr(29) + " ";
    EXPECT_EQ(joined,
              "prefix is a logger path prefix, e.g. 'root', 'root.graph', 'root.configuration', "
              "'root.rest', 'root.mgmt', 'root.steering', 'root.data', 'ozr.map', 'map.1905', "
              "'map.library', 'map.controller' or 'map.vendor-ipc' ");
    // A narrow terminal puts the description on lines of its own, half the width.
    std::string narrow = usage_text(32);
    for (const auto& l : ozr_test::lines_of(narrow))
        EXPECT_LE(l.size(), 32u) << l;
    EXPECT_NE(narrow.find("\n   -h  --help\n                print this"), std::string::npos);
}
