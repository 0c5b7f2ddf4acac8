// The kept text of a cached document and its time slots.
#include "rest/rest_cache.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

// Renders "{"a": <slot 0>, "name": NAME, "b": <slot 1>}" the way a cached render does.
std::string render(RestTimeRecorder* rec, const std::string& name, int64_t now) {
    (void)rec;
    int64_t a = rest_time_value(now, 1000, RestTimeKind::MsSince);
    int64_t b = rest_time_value(now, 500, RestTimeKind::SecondsSince);
    return "{\"b\": " + std::to_string(b) + ", \"name\": \"" + name +
           "\", \"a\": " + std::to_string(a) + "}";
}

TEST(RestCache, TimeSlotsAreWrittenAtTheTimeOfEachAnswer) {
    RestCachedText kept;
    {
        RestTimeRecorder rec;
        std::string text = render(&rec, "B1", 9000);
        ASSERT_EQ(rec.slots().size(), 2u);
        ASSERT_TRUE(kept.store(7, 200, "X: y\r\n", text, rec.slots()));
    }
    EXPECT_TRUE(kept.valid(7));
    EXPECT_FALSE(kept.valid(8));
    EXPECT_EQ(kept.status(), 200);
    EXPECT_EQ(kept.headers(), "X: y\r\n");
    std::string out;
    for (int64_t now :
         {int64_t(9000), int64_t(2500), int64_t(100), int64_t(4294967296500LL * 1000)}) {
        kept.write(now, out);
        EXPECT_EQ(out, render(nullptr, "B1", now)) << now;  // no recorder: plain values
    }
    kept.write(100, out);
    EXPECT_EQ(out, "{\"b\": 0, \"name\": \"B1\", \"a\": -900}");
    kept.clear();
    EXPECT_FALSE(kept.valid(7));
}

// The tag names what an answer is made of, not when it was rendered or asked for.
TEST(RestCache, EntityTagsNameTheContentNotTheTime) {
    auto tag = [](uint64_t version, const std::string& name, int64_t base) {
        RestCachedText kept;
        RestTimeRecorder rec;
        std::string text = "{\"name\": \"" + name + "\", \"age\": " +
                           std::to_string(rest_time_value(9000, base, RestTimeKind::MsSince)) + "}";
        EXPECT_TRUE(kept.store(version, 200, "", text, rec.slots()));
        return kept.etag();
    };
    const std::string t = tag(1, "B1", 500);
    EXPECT_EQ(t.size(), 2u + 1 + 16 + 1) << t;  // W/"<16 hex digits>"
    EXPECT_EQ(t.rfind("W/\"", 0), 0u) << t;
    EXPECT_EQ(tag(2, "B1", 500), t);   // rendered again at another version, same content
    EXPECT_NE(tag(1, "B2", 500), t);   // another text
    EXPECT_NE(tag(1, "B1", 600), t);   // another time stamp behind an age
    EXPECT_NE(tag(1, "B1x", 500), t);  // another length
}

TEST(RestCache, IfNoneMatchNamesATagComparedWeakly) {
    const struct {
        const char* header;
        const char* etag;
        bool match;
    } cases[] = {
        {"W/\"ab\"", "W/\"ab\"", true},
        {"\"ab\"", "W/\"ab\"", true},  // weak comparison: W/ on either side is ignored
        {"W/\"ab\"", "\"ab\"", true},
        {"\"x\", W/\"ab\"", "W/\"ab\"", true},
        {" \t\"x\" ,\t\"ab\"  ", "W/\"ab\"", true},
        {"*", "\"ab\"", true},
        {"\"x\",*", "\"ab\"", true},
        {"\"abc\"", "\"ab\"", false},
        {"\"a\"", "\"ab\"", false},
        {"ab", "\"ab\"", false},  // a tag has its quotes
        {"W/", "\"ab\"", false},
        {",,", "\"ab\"", false},
        {"", "\"ab\"", false},
        {"**", "\"ab\"", false},
        {"\"ab\"", "", false},
        {"\"\"", "W/", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rest_etag_matches(c.header, c.etag), c.match) << c.header << " / " << c.etag;
}

TEST(RestCache, RecordersNestAndValuesOutsideAreComputed) {
    EXPECT_EQ(rest_time_value(5000, 2000, RestTimeKind::MsSince), 3000);
    EXPECT_EQ(rest_time_value(2000, 5000, RestTimeKind::MsSince), -3000);
    EXPECT_EQ(rest_time_value(2000, 5000, RestTimeKind::SecondsSince), 0);
    EXPECT_EQ(rest_time_value(5999, 2000, RestTimeKind::SecondsSince), 3);
    EXPECT_EQ(rest_time_value(INT64_MAX / 2, 0, RestTimeKind::SecondsSince), UINT32_MAX);
    RestTimeRecorder outer;
    rest_time_value(1, 0, RestTimeKind::MsSince);
    {
        RestTimeRecorder inner;
        rest_time_value(1, 0, RestTimeKind::MsSince);
        EXPECT_EQ(inner.slots().size(), 1u);
    }
    rest_time_value(1, 0, RestTimeKind::MsSince);
    EXPECT_EQ(outer.slots().size(), 2u);
}

}  // namespace
