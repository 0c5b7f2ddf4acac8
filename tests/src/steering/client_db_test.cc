// The client database on disk: restart, the record cap, unchanged records, corrupt files.
#include <gtest/gtest.h>

#include "common/mac.h"
#include "common/paths.h"
#include "data/client_info_db.h"
#include "support/temp_root.h"

namespace {
class ClientDb : public ::testing::Test {
  protected:
    std::string file() const { return ozr_path("/configs/easymesh/ozr_node_info_db.json"); }
    ozr_test::TempRoot root_;
    ozr_test::LogCapture log_{root_, 7};
};
}  // namespace

TEST_F(ClientDb, RecordsSurviveARestartInTheirMemberOrder) {
    const ClientRecord rec{1, 1, 3, 0x7ff, 0xffffffffffULL};
    {
        ClientInfoDb db;
        ASSERT_TRUE(db.db_init());
        EXPECT_TRUE(db.db_add_record("5c:00:00:00:00:01", rec));
        EXPECT_FALSE(db.db_add_record("5c:00:00:00:00:01", rec));
        const uint64_t writes = db.writes();
        EXPECT_TRUE(db.db_update_record("5c:00:00:00:00:01", rec));  // unchanged: not written
        EXPECT_EQ(db.writes(), writes);
        EXPECT_FALSE(db.db_update_record("5c:00:00:00:00:02", rec));
    }
    const std::string text = ozr_test::read_text(file());
    const size_t mac = text.find("\"mac\""), g2 = text.find("\"2g\""), g5 = text.find("\"5g\""),
                 obey = text.find("\"c1_obey\""), c2 = text.find("\"ch_2g\""),
                 c5 = text.find("\"ch_5g\"");
    EXPECT_TRUE(mac < g2 && g2 < g5 && g5 < obey && obey < c2 && c2 < c5) << text;
    ClientInfoDb again;
    ASSERT_TRUE(again.db_init());
    const auto got = again.db_get_record("5c:00:00:00:00:01");
    ASSERT_EQ(got.first, 0);
    ASSERT_NE(got.second, nullptr);
    EXPECT_EQ(*got.second, rec);
    EXPECT_TRUE(again.db_delete_record("5c:00:00:00:00:01"));
    EXPECT_EQ(again.db_query_record("5c:00:00:00:00:01").first, 2);
}

// A missing MAC is normal for update, delete and query (logged at debug level), a fault
// for get (error level); query and get answer code 2 and no record.
TEST_F(ClientDb, AMissingClientIsLoggedAtTheLevelOfItsOperation) {
    ClientInfoDb db;
    ASSERT_TRUE(db.db_init());
    const std::string mac = "5c:00:00:00:00:07";
    EXPECT_FALSE(db.db_update_record(mac, ClientRecord()));
    EXPECT_FALSE(db.db_delete_record(mac));
    EXPECT_EQ(db.db_query_record(mac),
              std::make_pair(2, static_cast<const ClientRecord*>(nullptr)));
    EXPECT_EQ(db.db_get_record(mac), std::make_pair(2, static_cast<const ClientRecord*>(nullptr)));
    const struct {
        const char* line;
        const char* level;
    } cases[] = {
        {"ClientInfoDb::db_update_record - MAC: 5c:00:00:00:00:07 not found", " debug "},
        {"ClientInfoDb::db_delete_record - MAC: 5c:00:00:00:00:07 not found", " debug "},
        {"ClientInfoDb::db_query_record -MAC: 5c:00:00:00:00:07 not found", " debug "},
        {"ClientInfoDb::db_get_record -MAC: 5c:00:00:00:00:07 not found", " err "},
    };
    const std::string text = log_.text();
    for (const auto& c : cases) {
        const size_t at = text.find(c.line);
        ASSERT_NE(at, std::string::npos) << c.line;
        const size_t start = text.rfind('\n', at) + 1;  // npos + 1 is 0: the first line
        EXPECT_NE(text.substr(start, at - start).find(c.level), std::string::npos) << c.line;
    }
}

TEST_F(ClientDb, The129thClientIsRefused) {
    ClientInfoDb db;
    ASSERT_TRUE(db.db_init());
    for (int i = 0; i < 128; ++i)
        ASSERT_TRUE(db.db_add_record(MAC(0x5c, 0, 0, 0, 0, static_cast<uint8_t>(i)).to_string(),
                                     ClientRecord()));
    EXPECT_FALSE(db.db_add_record("5c:00:00:00:01:00", ClientRecord()));
    EXPECT_NE(log_.text().find("ClientInfoDb::db_add_record -client db already full"),
              std::string::npos);
    EXPECT_EQ(db.records().size(), 128u);
}

TEST_F(ClientDb, CorruptFilesAreKeptAsideAndBadEntriesDropped) {
    ASSERT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
    ozr_test::write_text(file(), "{\"client-info-list\": [");
    {
        ClientInfoDb db;
        ASSERT_TRUE(db.db_init());
        EXPECT_TRUE(db.records().empty());
    }
    EXPECT_EQ(ozr_test::read_text(ozr_path("/configs/easymesh/ozr_node_info_db_backup.json")),
              "{\"client-info-list\": [");
    ozr_test::write_text(file(), R"({"client-info-list": [
        {"mac": "5c:00:00:00:00:01", "2g": 1, "5g": 0, "c1_obey": 0, "ch_2g": 1, "ch_5g": 0},
        {"mac": "5c:00:00:00:00:zz", "2g": 1},
        {"mac": "5c:00:00:00:00:03", "2g": 300},
        {"mac": "5c:00:00:00:00:04", "colour": "red"},
        {"2g": 1}]})");
    ClientInfoDb db;
    ASSERT_TRUE(db.db_init());
    EXPECT_EQ(db.records().size(), 1u);
    for (const char* line :
         {"ClientInfoDb::db_check_integrity - Bad client MAC: 5c:00:00:00:00:zz",
          "ClientInfoDb::db_check_integrity Invalid value for MAC: 5c:00:00:00:00:03",
          "Invalid attribute for client-info-list: colour"})
        EXPECT_NE(log_.text().find(line), std::string::npos) << line;
    // Too big to be a client database.
    ozr_test::write_text(file(), std::string(ClientInfoDb::kMaxFile + 1, ' '));
    ClientInfoDb big;
    ASSERT_TRUE(big.db_init());
    EXPECT_TRUE(big.records().empty());
}
