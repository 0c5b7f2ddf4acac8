#include "core/log.h"

#include <gtest/gtest.h>

#include "nal/nal.h"
#include "support/temp_root.h"

using ozr_test::count_of;
using ozr_test::LogCapture;
using ozr_test::TempRoot;

TEST(DaemonLog, PassingLineGoesToTheLoggerAndThePlatformLogAtTheSameSeverity) {
    TempRoot root;
    LogCapture log(root, 5);
    nal_setLogLevel(7);
    nal_log_clear();
    Logger graph(root_logger, "graph", "", -1);
    OZR_NOTICE(&graph, "GraphMinder::{}() sn: {} Not found", "x", 42);
    OZR_INFO(&graph, "below the level {}", 1);  // root is notice: written nowhere
    OZR_ERROR(&graph, "braces {{}} and percent %s %d");
    OZR_CRIT(&graph, "crit");
    OZR_WARN(&graph, "warn");
    OZR_LOG(static_cast<const Logger*>(nullptr), 3, "no logger, no line");

    std::string text = log.text();
    EXPECT_EQ(count_of(text, "notice root.graph: GraphMinder::x() sn: 42 Not found"), 1u);
    EXPECT_EQ(count_of(text, "below the level"), 0u);
    EXPECT_EQ(count_of(text, "err root.graph: braces {} and percent %s %d"), 1u);

    auto lines = nal_log_recent();
    ASSERT_EQ(lines.size(), 4u);
    const std::string fn = "TestBody:";
    EXPECT_EQ(lines[0].rfind("notice " + fn, 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" GraphMinder::x() sn: 42 Not found"), std::string::npos);
    EXPECT_EQ(lines[1].rfind("err " + fn, 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(" braces {} and percent %s %d"), std::string::npos);
    EXPECT_EQ(lines[2].rfind("crit " + fn, 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind("warn " + fn, 0), 0u) << lines[3];
}

// A parameter type of the function's own namespace would be written unqualified by GCC and
// qualified by clang: the signatures the daemon logs take global types only.
struct OzrLogTestRecord {};
namespace ozr_log_test {
const char* signature_of(const OzrLogTestRecord* r, int& n, const char* const* names) {
    (void)r;
    (void)n;
    (void)names;
    return OZR_SIGNATURE;
}
}  // namespace ozr_log_test

// Log lines that name a function by its signature read the same whichever compiler built the
// daemon (the platform's tools and the tests match them).
TEST(DaemonLog, SignaturesAreSpelledTheSameByEveryCompiler) {
    int n = 0;
    EXPECT_STREQ(ozr_log_test::signature_of(nullptr, n, nullptr),
                 "const char* ozr_log_test::signature_of(const OzrLogTestRecord*, int&, const "
                 "char* const*)");
    EXPECT_EQ(ozr::spell_signature("ZkaOzrRet f(const ZkaEmNetwork_T **, std::fstream &)"),
              "ZkaOzrRet f(const ZkaEmNetwork_T**, std::fstream&)");
    EXPECT_EQ(ozr::spell_signature("void g(const char *const *)"), "void g(const char* const*)");
    EXPECT_EQ(ozr::spell_signature("void (anonymous namespace)::on(int)"),
              "void {anonymous}::on(int)");
    EXPECT_EQ(ozr::spell_signature("bool ApConfigDb::db_check_integrity(std::fstream&)"),
              "bool ApConfigDb::db_check_integrity(std::fstream&)");
    EXPECT_EQ(ozr::spell_signature(nullptr), "");
}
