#include "log/logger.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/temp_root.h"

using ozr_test::lines_of;
using ozr_test::read_text;
using ozr_test::TempRoot;

TEST(Logger, InheritsTheFirstLevelUpTheChain) {
    Logger root(nullptr, "root", "", 5);
    Logger mid(&root, "graph", "", -1);
    Logger leaf(&mid, "cost", "", -1);
    EXPECT_EQ(leaf.path(), "root.graph.cost");
    EXPECT_EQ(std::make_pair(leaf.will_log(5), leaf.will_log(6)), std::make_pair(true, false));
    mid.set_level(7);
    EXPECT_EQ(std::make_pair(leaf.will_log(7), root.will_log(7)), std::make_pair(true, false));
    // Own level wins even when lower than the parent's.
    leaf.set_level(3);
    EXPECT_EQ(std::make_pair(leaf.will_log(3), leaf.will_log(4)), std::make_pair(true, false));
    // No level anywhere in the chain: nothing passes, not even emerg.
    Logger orphan(nullptr, "x", "", -1);
    EXPECT_FALSE(orphan.will_log(0));
}

TEST(Logger, FileDestinationWritesOneFormattedLinePerEmit) {
    TempRoot root;
    std::string file = root.path("/out.log");
    ASSERT_EQ(init_file_logger(file), 0);
    EXPECT_EQ(current_log_destination(), file);
    Config cfg;
    init_root_logger(6, "", cfg);
    ASSERT_NE(root_logger, nullptr);
    EXPECT_EQ(root_logger->path(), "root");
    Logger graph(root_logger, "graph", "", -1);
    graph.emit_log(5, "hello {} world");
    graph.emit_log(7, "second");
    auto lines = lines_of(read_text(file));
    ASSERT_EQ(lines.size(), 2u);
    // "YYYY-MM-DD HH:MM:SS.mmm level path: text"
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex(stamp + R"(notice root\.graph: hello \{\} world)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + R"(debug root\.graph: second)")))
        << lines[1];
    teardown_logging();
    EXPECT_EQ(root_logger, nullptr);
    EXPECT_EQ(current_log_destination(), "");
}

TEST(Logger, BatchedLinesWaitForTheFlushAndWarningsTakeThemAlong) {
    TempRoot root;
    std::string file = root.path("/out.log");
    ASSERT_EQ(init_file_logger(file), 0);
    Config cfg;
    init_root_logger(7, "", cfg);
    set_log_batching(true);
    root_logger->emit_log(6, "one");
    root_logger->emit_log(7, "two");
    EXPECT_EQ(read_text(file), "");
    flush_log();
    EXPECT_EQ(lines_of(read_text(file)).size(), 2u);
    // A warning writes what waits before it, and itself, at once.
    root_logger->emit_log(5, "three");
    root_logger->emit_log(4, "four");
    auto lines = lines_of(read_text(file));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[2].find(" notice root: three"), std::string::npos);
    EXPECT_NE(lines[3].find(" warn root: four"), std::string::npos);
    // Teardown writes what is left; without batching every line is written as it comes.
    root_logger->emit_log(6, "five");
    teardown_logging();
    EXPECT_EQ(lines_of(read_text(file)).size(), 5u);
    set_log_batching(false);
    ASSERT_EQ(init_file_logger(file), 0);
    init_root_logger(7, "", cfg);
    root_logger->emit_log(7, "six");
    EXPECT_EQ(lines_of(read_text(file)).size(), 6u);
    teardown_logging();
}

TEST(Logger, ConfigLookupIsExactAndFollowsLaterChanges) {
    Config cfg;
    EXPECT_EQ(find_config_log_level("root"), -1);  // no root logger yet
    init_root_logger(cfg.levels["root"], "", cfg);
    EXPECT_EQ(find_config_log_level("root"), 5);
    EXPECT_EQ(find_config_log_level("root.graph"), -1);
    cfg.levels["root.graph"] = 7;  // merged in after init_root_logger
    EXPECT_EQ(find_config_log_level("root.graph"), 7);
    EXPECT_EQ(find_config_log_level("root.gra"), -1);
    EXPECT_EQ(find_config_log_level("root.graph.x"), -1);
    set_root_logger_level(2);
    EXPECT_EQ(root_logger->level(), 2);
    teardown_logging();
    EXPECT_EQ(find_config_log_level("root.graph"), -1);
}
