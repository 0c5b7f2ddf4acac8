#include <gtest/gtest.h>

#include <type_traits>

#include "common/mac.h"

TEST(Mac, PrintsAndParsesBothForms) {
    MAC m(0x02, 0xAB, 0x00, 0x10, 0xff, 0x7e);
    EXPECT_EQ(m.to_string(), "02:ab:00:10:ff:7e");
    EXPECT_EQ(m.to_rest_string(), "02ab0010ff7e");
    MAC back;
    ASSERT_TRUE(MAC::parse("02:AB:00:10:FF:7E", back));
    EXPECT_EQ(back, m);
    ASSERT_TRUE(MAC::parse("02-ab-00-10-ff-7e", back));
    EXPECT_EQ(back, m);
}

TEST(Mac, RefusesMalformedText) {
    MAC out(1, 2, 3, 4, 5, 6);
    for (const char* bad : {"", "02:ab:00:10:ff", "02:ab:00:10:ff:7e:", "0g:ab:00:10:ff:7e",
                            "02ab0010ff7e", "02:ab:00:10:ff 7e"}) {
        EXPECT_FALSE(MAC::parse(bad, out)) << bad;
    }
    EXPECT_EQ(out, MAC(1, 2, 3, 4, 5, 6));  // untouched on failure
}

// MAC and BSSID sit inside wire records.
static_assert(std::is_standard_layout<MAC>::value && sizeof(BSSID) == 6, "six plain bytes");
