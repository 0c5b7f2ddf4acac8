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

TEST(RestCache, TextThatLooksLikeAMarkerIsNotKept) {
    RestCachedText kept;
    RestTimeRecorder rec;
    // A name carrying the text of slot 1's marker: the text cannot be cut safely.
    std::string text = render(&rec, "-7000000000000000001", 9000);
    EXPECT_FALSE(kept.store(1, 200, "", text, rec.slots()));
    EXPECT_FALSE(kept.valid(1));
    // A marker missing from the text.
    EXPECT_FALSE(kept.store(1, 200, "", "{}", rec.slots()));
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
