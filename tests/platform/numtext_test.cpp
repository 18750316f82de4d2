#include "platform/numtext.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "support/locale_guard.h"

namespace {

struct DoubleCase {
    const char* text;
    double expected;
};

void ExpectParse(const DoubleCase& c) { EXPECT_DOUBLE_EQ(platform::ParseDouble(c.text), c.expected) << c.text; }

TEST(NumText, ParseDoubleFollowsAtofGrammar) {
    const DoubleCase cases[] = {
        {"1.5", 1.5}, {"  -2.25xyz", -2.25}, {"+3", 3}, {"", 0}, {"abc", 0},
        {"1e3", 1000}, {"1,5", 1}, {".5", 0.5}, {"0x10", 16},
    };
    for (const auto& c : cases) ExpectParse(c);
    EXPECT_DOUBLE_EQ(platform::ParseDouble(nullptr), 0.0);
}

TEST(NumText, ParseIntClampsInsteadOfOverflowing) {
    struct Case { const char* text; int32_t expected; } cases[] = {
        {"42", 42}, {"  -7 apples", -7}, {"", 0}, {"x1", 0},
        {"99999999999", std::numeric_limits<int32_t>::max()},
        {"-99999999999", std::numeric_limits<int32_t>::min()},
        {"99999999999999999999999", std::numeric_limits<int32_t>::max()},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::ParseInt(c.text), c.expected) << c.text;
    EXPECT_EQ(platform::ParseInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
}

TEST(NumText, FormatMatchesPrintfInTheCLocale) {
    for (double v : {0.0, 1.5, -2.125, 1e6, 123456.789, 1e-7}) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%f", v);
        EXPECT_EQ(platform::FormatFixed(v), expected);
    }
    EXPECT_EQ(platform::FormatShortest(2.0), "2");
    EXPECT_EQ(platform::FormatShortest(0.5), "0.5");
}

TEST(NumText, CommaLocaleDoesNotChangeNumberText) {
    sqtest::CommaLocale comma;
    if (!comma.available()) GTEST_SKIP() << "no comma-decimal locale installed";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5") << "the locale should really use a comma";
    EXPECT_EQ(platform::FormatFixed(1.5), "1.500000");
    EXPECT_DOUBLE_EQ(platform::ParseDouble("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(platform::ParseDouble("1,5"), 1.0);
}

}  // namespace
