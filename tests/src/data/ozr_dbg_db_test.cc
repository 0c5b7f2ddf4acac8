#include "data/ozr_dbg_db.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <regex>

#include "common/paths.h"
#include "support/temp_root.h"

using ozr_test::count_of;
using ozr_test::LogCapture;
using ozr_test::read_text;
using ozr_test::TempRoot;
using ozr_test::write_text;

namespace {
const char* kDb = "/configs/easymesh/ozr_dbg_db.json";
const char* kBackup = "/configs/easymesh/ozr_dbg_db_backup.json";

void put_db(const TempRoot& root, const std::string& text) {
    ASSERT_TRUE(ozr_make_dirs(root.path("/configs/easymesh")));
    write_text(root.path(kDb), text);
}

std::string valid_doc(const std::string& dest, const std::string& root_level,
                      const std::string& graph_level) {
    return "{\"version\": \"1.0.0\", \"last updated\": \"x\", \"log-destination\": \"" + dest +
           "\", \"map-log-configuration\": {\"map.1905\": \"err\", \"map.library\": \"debug\", "
           "\"map.controller\": \"warn\", \"map.vendor-ipc\": \"notice\"}, "
           "\"ozr-log-configuration\": {\"root\": \"" +
           root_level + "\", \"root.graph\": \"" + graph_level +
           "\", \"root.configuration\": \"info\", \"root.rest\": \"info\", \"root.steering\": "
           "\"info\", \"root.mgmt\": \"info\", \"root.data\": \"info\", \"root.controller\": "
           "\"crit\"}}";
}

rapidjson::Document parse(const std::string& text) {
    rapidjson::Document d;
    d.Parse(text.c_str());
    return d;
}
}  // namespace

TEST(OzrDbgDb, FirstStartWritesTheDefaultDocumentInKeyOrder) {
    TempRoot root;
    LogCapture log(root);
    OzrDbgDb db;
    ASSERT_TRUE(db.db_init());
    std::string text = read_text(root.path(kDb));
    const char* keys[] = {"\"version\": \"1.0.0\"",          "\"last updated\": ",
                          "\"log-destination\": \"syslog\"", "\"map-log-configuration\": {",
                          "\"map.1905\": \"info\"",          "\"map.library\": \"info\"",
                          "\"map.controller\": \"info\"",    "\"map.vendor-ipc\": \"info\"",
                          "\"ozr-log-configuration\": {",    "\"root\": \"info\"",
                          "\"root.graph\": \"info\"",        "\"root.configuration\": \"info\"",
                          "\"root.rest\": \"info\"",         "\"root.steering\": \"info\"",
                          "\"root.mgmt\": \"info\"",         "\"root.data\": \"info\"",
                          "\"root.controller\": \"info\""};
    size_t last = 0;
    for (const char* k : keys) {
        size_t at = text.find(k);
        ASSERT_NE(at, std::string::npos) << k;
        EXPECT_GE(at, last) << k;
        last = at;
    }
    EXPECT_EQ(text.substr(0, 6), "{\n    ");  // four-space indent
    EXPECT_EQ(text.back(), '\n');
    auto d = parse(text);
    ASSERT_TRUE(d.IsObject());
    std::string stamp = d["last updated"].GetString();
    EXPECT_TRUE(
        std::regex_match(stamp, std::regex("[A-Z][a-z]+day [A-Z][a-z]{2} [0-9]{2} [0-9]{4} "
                                           "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{5} [A-Za-z0-9+-]+")))
        << stamp;
    EXPECT_NE(log.text().find("OzrDbgDb::db_init - Database successully initialised"),
              std::string::npos);
    EXPECT_FALSE(ozr_test::file_exists(root.path(kBackup)));
}

// A file that cannot be read as it stands: each message once, the file kept as the backup
// (nothing lost) and a clean one written that the next start loads silently; what was valid
// in it is kept.
TEST(OzrDbgDb, BadFilesAreReportedKeptAsBackupAndReplaced) {
    struct Row {
        std::string text;
        std::vector<std::string> says;  // P: the file's path
        const char* graph;              // the level root.graph has after
    };
    const std::string fail =
        "OzrDbgDb::db_check_integrity - Database format verification failed: P";
    const std::string check = "OzrDbgDb::db_check_integrity - ";
    const Row rows[] = {
        {"{\"log-destination\": \"stdout\", \"ozr-log-",
         {fail, check + "constructing a new ozr_dbg_db.json"},
         "info"},
        {"[\"root\", \"debug\"]", {fail}, "info"},
        {valid_doc(std::string(70000, 'x'), "debug", "debug"), {fail}, "info"},
        {"{\"log-destination\": 5, \"map-log-configuration\": [1], \"ozr-log-configuration\": "
         "{\"root\": 7, \"root.graph\": \"debug\", \"root.rest\": null, \"root.unknown\": 1}}",
         {check + "non-string value for log_destination: P",
          check + "Invalid type for map-log-configuration: P",
          check + "non-string value for root: P", check + "non-string value for root.rest: P"},
         "debug"},
        {"{}", {"log-destination member not found"}, "info"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text.substr(0, 60));
        TempRoot root;
        LogCapture log(root);
        put_db(root, r.text);
        OzrDbgDb db;
        ASSERT_TRUE(db.db_init());
        for (std::string line : r.says) {
            if (line.back() == 'P')
                line = line.substr(0, line.size() - 1) + root.path(kDb);
            EXPECT_EQ(count_of(log.text(), line), 1u) << line;
        }
        EXPECT_EQ(read_text(root.path(kBackup)), r.text);
        std::string dest;
        db.db_get_log_destination(dest);
        EXPECT_EQ(dest, "syslog");
        OzrLogCfg cfg;
        db.db_get_ozr_log_cfg(cfg);
        EXPECT_EQ(cfg.root, "info");
        EXPECT_EQ(cfg.graph, r.graph);
        auto d = parse(read_text(root.path(kDb)));
        ASSERT_TRUE(d.IsObject());
        EXPECT_STREQ(d["ozr-log-configuration"]["root.graph"].GetString(), r.graph);
        const size_t mark = log.text().size();
        OzrDbgDb again;
        ASSERT_TRUE(again.db_init());
        EXPECT_EQ(count_of(log.text().substr(mark), "db_check_integrity"), 0u);
    }
}

TEST(OzrDbgDb, UnknownLevelNameFailsConversionForThatModuleOnly) {
    TempRoot root;
    LogCapture log(root);
    put_db(root, valid_doc("stdout", "loud", "debug"));
    OzrDbgDb db;
    ASSERT_TRUE(db.db_init());
    OzrMinderLog levels;
    levels.root = 1;
    EXPECT_FALSE(db.get_ozr_log_level(levels));
    EXPECT_EQ(levels.root, 1);  // left as it was
    EXPECT_EQ(levels.graph, 7);
    EXPECT_EQ(
        count_of(log.text(), "OzrDbgDb::get_ozr_log_level()- log level loud invalid for root"), 1u);
}
