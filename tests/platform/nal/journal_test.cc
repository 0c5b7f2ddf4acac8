// The platform journal (one JSON line per call, bounded, whole lines across threads, its
// file named by platform.json) and the stand-ins for the maker's extender calls that write
// to it: each journals what it was given and refuses what it cannot take; the virtual serial
// number comes from platform.json.
#include "nal/journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/paths.h"
#include "nal/nal.h"
#include "support/temp_root.h"

using ::testing::HasSubstr;

using ozr_test::lines_of;
using ozr_test::read_text;
using ozr_test::TempRoot;
using ozr_test::write_text;

namespace {
// Names the journal in platform.json (with EXTRA keys) and returns its path.
std::string enable_journal(const TempRoot& root, const std::string& extra = "") {
    std::string path = root.path("/journal.jsonl");
    EXPECT_TRUE(ozr_make_dirs(ozr_path("/configs/easymesh")));
    write_text(nal_platform_json_path(),
               "{\"platform-journal-path\": \"" + path + "\"" + extra + "}");
    return path;
}

rapidjson::Document parse(const std::string& line) {
    rapidjson::Document d;
    d.Parse(line.c_str(), line.size());
    EXPECT_FALSE(d.HasParseError()) << line;
    return d;
}

nal_sync_result_t* record(int32_t result, const char* sn, const std::string& data) {
    auto* r = static_cast<nal_sync_result_t*>(std::calloc(1, kNalSyncResultHeader + data.size()));
    r->result = result;
    std::memcpy(r->sn, sn, strnlen(sn, sizeof r->sn));
    r->len = static_cast<uint32_t>(data.size());
    std::memcpy(r->data, data.data(), data.size());
    return r;
}
}  // namespace

TEST(Journal, OneJsonLinePerCallWithArgumentsInOrderAndHugeOnesCut) {
    TempRoot root;
    std::string path = enable_journal(root);
    ozr_clock::set_manual(123456);
    nal_journal("qbusSendSignal")
        .str("interface", "vexal.ozrd")
        .num("n", -42)
        .hex("hex", "\x01\xab\x00\xff", 4);
    nal_journal("nal_x")
        .str("text", std::string("q\"b\\s\n\x01 \xc3\xa9 \xff", 12))
        .hex("e", nullptr, 3);
    ozr_clock::use_real();
    auto lines = lines_of(read_text(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "{\"ms\":123456,\"call\":\"qbusSendSignal\",\"interface\":\"vexal.ozrd\",\"n\":-42,"
              "\"hex\":\"01ab00ff\"}");
    auto d = parse(lines[1]);
    EXPECT_STREQ(d["call"].GetString(), "nal_x");
    // Quotes, backslashes and control bytes are escaped; UTF-8 is kept; a stray byte is
    // replaced, so the line stays valid JSON.
    EXPECT_EQ(std::string(d["text"].GetString()), "q\"b\\s\n\x01 \xc3\xa9 \xef\xbf\xbd");
    EXPECT_STREQ(d["e"].GetString(), "");

    // Huge arguments are cut and the line stays valid JSON.
    std::vector<unsigned char> big(64 * 1024, 0x5a);
    nal_journal("qbusSendSignal")
        .str("member", "m")
        .hex("hex", big.data(), big.size())
        .str("after", "x");
    std::string line = lines_of(read_text(path)).at(2);
    EXPECT_LE(line.size(), kJournalLineMax);
    auto h = parse(line);
    EXPECT_TRUE(h["truncated"].GetBool());
    EXPECT_FALSE(h.HasMember("after"));
    EXPECT_GT(std::string(h["hex"].GetString()).size(), 1000u);
}

TEST(Journal, NothingWrittenWithoutTheKeyAndTheKeyIsFollowed) {
    TempRoot root;
    EXPECT_FALSE(nal_journal_enabled());
    nal_journal("nal_a").str("x", "y");
    std::string path = enable_journal(root);
    EXPECT_TRUE(nal_journal_enabled());
    EXPECT_EQ(nal_journal_path(), path);
    nal_journal("nal_b");
    // Another file named later: the next line goes there.
    std::string other = root.path("/other.jsonl");
    write_text(nal_platform_json_path(),
               "{\"platform-journal-path\": \"" + other + "\", \"pad\": 1}");
    nal_journal("nal_c");
    EXPECT_EQ(lines_of(read_text(path)).size(), 1u);
    ASSERT_EQ(lines_of(read_text(other)).size(), 1u);
    EXPECT_THAT(read_text(other), HasSubstr("\"call\":\"nal_c\""));
}

TEST(Journal, ThreadsNeverInterleaveLines) {
    TempRoot root;
    std::string path = enable_journal(root);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            std::string payload(300, static_cast<char>('a' + t));
            for (int i = 0; i < 200; ++i)
                nal_journal("call").num("thread", t).num("i", i).str("p", payload);
        });
    }
    for (auto& th : threads)
        th.join();
    auto lines = lines_of(read_text(path));
    ASSERT_EQ(lines.size(), 800u);
    for (const auto& l : lines) {
        auto d = parse(l);
        ASSERT_TRUE(d.IsObject());
        EXPECT_EQ(std::string(d["p"].GetString()),
                  std::string(300, static_cast<char>('a' + d["thread"].GetInt())));
    }
}

TEST(NalExtender, BadArgumentsAreRefused) {
    TempRoot root;
    std::string path = enable_journal(root);
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
    EXPECT_THAT(lines[2], HasSubstr("\"sn\":\"" + std::string(65, 'A') + "\""));
}

TEST(NalExtender, VirtualSerialNumberComesFromThePlatformFile) {
    TempRoot root;
    char buf[33];
    enable_journal(root);
    EXPECT_EQ(nal_getVirtualSN(buf, sizeof buf), -1);  // not set
    enable_journal(root, ", \"virtual-serial-number\": \"GWVSN0001\"");
    EXPECT_EQ(nal_getVirtualSN(buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "GWVSN0001");
    EXPECT_EQ(nal_getVirtualSN(buf, 9), -2);  // no room for the NUL
    EXPECT_EQ(nal_getVirtualSN(nullptr, 0), -2);
    enable_journal(root, ", \"virtual-serial-number\": \"" + std::string(33, 'V') + "\"");
    EXPECT_EQ(nal_getVirtualSN(buf, sizeof buf), -1);  // too long
    enable_journal(root, ", \"virtual-serial-number\": 12");
    EXPECT_EQ(nal_getVirtualSN(buf, sizeof buf), -1);  // not a text
}
