// The platform's side of the maker's extenders: each stand-in journals what it was given,
// refuses what it cannot take, and the virtual serial number comes from platform.json.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "common/clock.h"
#include "common/paths.h"
#include "nal/nal.h"
#include "support/temp_root.h"

using ozr_test::lines_of;
using ozr_test::read_text;
using ozr_test::TempRoot;
using ozr_test::write_text;

namespace {

std::string journal_with(const TempRoot& root, const std::string& extra) {
    std::string path = root.path("/journal.jsonl");
    EXPECT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
    write_text(nal_platform_json_path(),
               "{\"platform-journal-path\": \"" + path + "\"" + extra + "}");
    return path;
}

nal_sync_result_t* record(int32_t result, const char* sn, const std::string& data) {
    auto* r = static_cast<nal_sync_result_t*>(std::calloc(1, kNalSyncResultHeader + data.size()));
    r->result = result;
    std::memcpy(r->sn, sn, strnlen(sn, sizeof r->sn));
    r->len = static_cast<uint32_t>(data.size());
    std::memcpy(r->data, data.data(), data.size());
    return r;
}

TEST(NalExtender, EveryCallIsJournalledWithItsArguments) {
    TempRoot root;
    std::string path = journal_with(root, "");
    ozr_clock::set_manual(5000);
    nal_sync_result_t* ok = record(0, "EX1", "ok");
    EXPECT_EQ(nal_setSyncResult(ok), 0);
    std::free(ok);
    nal_sync_result_t* failed = record(-1, "EX2", "");
    EXPECT_EQ(nal_setSyncResult(failed), 0);
    std::free(failed);
    EXPECT_EQ(nal_notifyApOnlineStatus("EX1", 1, "02:6f:7a:72:02:e0"), 0);
    const uint8_t ev[] = {0xde, 0xad};
    EXPECT_EQ(nal_setExNotification("EX1", 7, ev, sizeof ev), 0);
    ozr_clock::use_real();
    auto lines = lines_of(read_text(path));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "{\"ms\":5000,\"call\":\"nal_setSyncResult\",\"result\":0,\"sn\":\"EX1\",\"len\":2,"
              "\"data\":\"6f6b\"}");
    EXPECT_EQ(lines[1],
              "{\"ms\":5000,\"call\":\"nal_setSyncResult\",\"result\":-1,\"sn\":\"EX2\",\"len\":0,"
              "\"data\":\"\"}");
    EXPECT_EQ(lines[2],
              "{\"ms\":5000,\"call\":\"nal_notifyApOnlineStatus\",\"sn\":\"EX1\",\"online\":1,"
              "\"mac\":\"02:6f:7a:72:02:e0\"}");
    EXPECT_EQ(
        lines[3],
        "{\"ms\":5000,\"call\":\"nal_setExNotification\",\"sn\":\"EX1\",\"event\":7,\"len\":2,"
        "\"data\":\"dead\"}");
}

TEST(NalExtender, BadArgumentsAreRefused) {
    TempRoot root;
    std::string path = journal_with(root, "");
    EXPECT_EQ(nal_setSyncResult(nullptr), -1);
    nal_sync_result_t* huge = record(0, "EX1", "");
    huge->len = kNalSyncResultMaxData + 1;  // more than the platform takes
    EXPECT_EQ(nal_setSyncResult(huge), -1);
    std::free(huge);
    EXPECT_EQ(nal_notifyApOnlineStatus(nullptr, 1, nullptr), -1);
    EXPECT_EQ(nal_notifyApOnlineStatus("", 1, nullptr), -1);
    EXPECT_EQ(nal_setExNotification(nullptr, 1, nullptr, 0), -1);
    EXPECT_EQ(nal_setExNotification("EX1", 1, nullptr, 3), -1);
    // A serial number field without its NUL stays within its 65 bytes.
    nal_sync_result_t* full = record(3, "", "");
    std::memset(full->sn, 'A', sizeof full->sn);
    EXPECT_EQ(nal_setSyncResult(full), 0);
    std::free(full);
    auto lines = lines_of(read_text(path));
    ASSERT_EQ(lines.size(), 3u);  // the two refused sync results, the full one
    EXPECT_NE(lines[2].find("\"sn\":\"" + std::string(65, 'A') + "\""), std::string::npos);
}

TEST(NalExtender, VirtualSerialNumberComesFromThePlatformFile) {
    TempRoot root;
    char buf[33];
    journal_with(root, "");
    EXPECT_EQ(nal_getVirtualSN(buf, sizeof buf), -1);  // not set
    journal_with(root, ", \"virtual-serial-number\": \"GWVSN0001\"");
    EXPECT_EQ(nal_getVirtualSN(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "GWVSN0001");
    EXPECT_EQ(nal_getVirtualSN(buf, 9), -2);  // no room for the NUL
    EXPECT_EQ(nal_getVirtualSN(nullptr, 0), -2);
    journal_with(root, ", \"virtual-serial-number\": \"" + std::string(33, 'V') + "\"");
    EXPECT_EQ(nal_getVirtualSN(buf, sizeof buf), -1);  // too long
    journal_with(root, ", \"virtual-serial-number\": 12");
    EXPECT_EQ(nal_getVirtualSN(buf, sizeof buf), -1);  // not a text
}

}  // namespace
