#include "common/textutil.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "support/locale_guard.h"

namespace {

char* HeapText(const char* s) {
    // Exactly strlen + 1 bytes, so reading past the end is caught by the address checker.
    const size_t n = std::strlen(s) + 1;
    char* p = static_cast<char*>(std::malloc(n));
    std::memcpy(p, s, n);
    return p;
}

TEST(Strredup, ReusesOrReplacesAndNeverReadsPastTheText) {
    char* s = strredup(nullptr, "abc", 0);
    EXPECT_STREQ(s, "abc");

    char* same = strredup(s, "xy", 0);  // shorter: the old block is reused
    EXPECT_EQ(same, s);
    EXPECT_STREQ(same, "xy");

    char* longer = strredup(same, "longer text", 0);  // the old block is freed
    EXPECT_STREQ(longer, "longer text");

    char* part = strredup(longer, "abcdef", 4);
    EXPECT_STREQ(part, "abcd");

    // A length beyond the text copies the text only.
    char* src = HeapText("hi");
    char* clamped = strredup(part, src, 50);
    EXPECT_STREQ(clamped, "hi");
    std::free(src);

    // The new text may come from inside the old one.
    char* own = strredup(clamped, "0123456789", 0);
    char* shifted = strredup(own, own + 4, 0);
    EXPECT_STREQ(shifted, "456789");

    char* empty = strredup(shifted, nullptr, 0);
    EXPECT_STREQ(empty, "");
    std::free(empty);
}

TEST(Strncmp2, MovesOnlyOnAMatch) {
    struct Case {
        const char* text;
        const char* prefix;
        int result;
        int moved;
    } cases[] = {
        {"ID_AUDIO_RATE=44100", "ID_", 0, 3},
        {"ID_AUDIO_RATE=44100", "ID_AUDIO_RATE=", 0, 14},
        {"abc", "", 0, 0},
        {"AB", "AC", 'B' - 'C', 0},
        {"A", "AB", 0 - 'B', 0},
        {"\xff", "a", 0xff - 'a', 0},
    };
    for (const auto& c : cases) {
        const char* pos = c.text;
        EXPECT_EQ(strncmp2(&pos, c.prefix), c.result) << c.text << " / " << c.prefix;
        EXPECT_EQ(pos, c.text + c.moved) << c.text << " / " << c.prefix;
    }
    char line[] = "ID_LENGTH=12";
    char* p = line;
    EXPECT_EQ(strncmp2(&p, "ID_LENGTH="), 0);
    EXPECT_STREQ(p, "12");
    EXPECT_NE(strncmp2(static_cast<const char**>(nullptr), "x"), 0);
}

std::vector<std::string> Parts(char** array) {
    std::vector<std::string> out;
    for (char** p = array; *p; ++p) out.emplace_back(*p);
    return out;
}

TEST(Tokenize, SplitsInPlaceAndFreesItsArray) {
    struct Case {
        const char* text;
        const char* sep;
        std::vector<std::string> parts;
    } cases[] = {
        {"a;;b", ";", {"a", "", "b"}},
        {"a<>b<>", "<>", {"a", "b", ""}},
        {"whole", ";", {"whole"}},
        {"", ";", {""}},
        {"a;b", "", {"a;b"}},
        {"aaa", "aa", {"", "a"}},
    };
    for (const auto& c : cases) {
        char* text = HeapText(c.text);
        char** array = tokenize(text, c.sep);
        ASSERT_NE(array, nullptr);
        EXPECT_EQ(Parts(array), c.parts) << c.text << " / " << c.sep;
        // Every part points into the original text.
        for (char** p = array; *p; ++p) EXPECT_TRUE(*p >= text && *p <= text + std::strlen(c.text)) << c.text;
        EXPECT_EQ(tokenize(nullptr, reinterpret_cast<const char*>(array)), nullptr);
        std::free(text);
    }
}

TEST(ParseIntTokens, StoresEachKindSafely) {
    int32_t i = -1, j = -1;
    float f = -1;
    char* s = nullptr;
    {
        const QxTokenDest d[] = {{QX_TOKEN_INT, &i}, {QX_TOKEN_FLOAT, &f}, {QX_TOKEN_TEXT, &s}, {0, nullptr}};
        EXPECT_EQ(ParseIntTokens("25,1.5,\"x\"", ',', d), 2);
        EXPECT_EQ(i, 25);
        EXPECT_FLOAT_EQ(f, 1.5f);
        EXPECT_STREQ(s, "x");
        std::free(s);
        s = nullptr;
    }
    {
        // The destinations run out first: every one passed a separator.
        const QxTokenDest d[] = {{QX_TOKEN_INT, &i}, {QX_TOKEN_INT, &j}, {0, nullptr}};
        EXPECT_EQ(ParseIntTokens("1,2,3", ',', d), 2);
        EXPECT_EQ(i, 1);
        EXPECT_EQ(j, 2);
    }
    {
        // A quoted text never lands in a number; the separator inside quotes does not split.
        i = 77;
        const QxTokenDest d[] = {{QX_TOKEN_INT, &i}, {QX_TOKEN_TEXT, &s}, {QX_TOKEN_INT, &j}, {0, nullptr}};
        EXPECT_EQ(ParseIntTokens("\"text\",\"a,b\",7", ',', d), 2);
        EXPECT_EQ(i, 77);
        EXPECT_STREQ(s, "a,b");
        EXPECT_EQ(j, 7);
        std::free(s);
        s = nullptr;
    }
    {
        // Numbers convert to their destination's kind.
        const QxTokenDest d[] = {{QX_TOKEN_INT, &i}, {QX_TOKEN_FLOAT, &f}, {QX_TOKEN_TEXT, &s}, {0, nullptr}};
        EXPECT_EQ(ParseIntTokens("2.9,4,42", ',', d), 2);
        EXPECT_EQ(i, 2);
        EXPECT_FLOAT_EQ(f, 4.0f);
        EXPECT_STREQ(s, "42");
        std::free(s);
        s = nullptr;
    }
    {
        // A missing closing quote stores nothing and ends the parsing.
        const QxTokenDest d[] = {{QX_TOKEN_TEXT, &s}, {QX_TOKEN_INT, &i}, {0, nullptr}};
        EXPECT_EQ(ParseIntTokens("\"open,5", ',', d), 0);
        EXPECT_EQ(s, nullptr);
    }
    {
        const QxTokenDest none[] = {{0, nullptr}};
        EXPECT_EQ(ParseIntTokens("1,2", ',', none), 0);
        EXPECT_EQ(ParseIntTokens(nullptr, ',', none), 0);
    }
}

TEST(ParseIntTokens, FloatsIgnoreTheNumericLocale) {
    sqtest::CommaLocale comma;
    if (!comma.available()) GTEST_SKIP() << "no comma-decimal locale installed";
    float f = 0;
    const QxTokenDest d[] = {{QX_TOKEN_FLOAT, &f}, {0, nullptr}};
    ParseIntTokens("1.5", ',', d);
    EXPECT_FLOAT_EQ(f, 1.5f);
}

TEST(Hex, Table) {
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {" 0x1F", 31}, {"\t1f", 31},        {"0X1f", 31},          {"X1F", 0},
        {"0x", 0},     {"zz", 0},           {"", 0},               {"1F;rest", 31},
        {"ax10", 16},  {"7fffffff", INT_MAX}, {"ffffffff", -1},    {"123456789", 0x23456789},
    };
    for (const auto& c : cases) EXPECT_EQ(hex2int(c.text), c.value) << c.text;
    EXPECT_EQ(hex2int(nullptr), 0);
    EXPECT_EQ(hex2int64("0x7FFFFFFFFFFFFFFF"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(hex2int64(" 0x100000000"), int64_t{1} << 32);
    EXPECT_EQ(hex2int64("ffffffffffffffff"), -1);
    EXPECT_EQ(hex2int64(nullptr), 0);
}

struct Frac {
    int num;
    int den;
};

Frac Unpack(uint64_t packed) {
    return {static_cast<int32_t>(static_cast<uint32_t>(packed)), static_cast<int>(packed >> 32)};
}

TEST(Fraction, Table) {
    struct Case {
        double value;
        int num;
        int den;
    } cases[] = {
        {0.5, 1, 2},
        {29.97002997, 30000, 1001},
        {30000.0 / 1001, 30000, 1001},
        {23.976, 2997, 125},
        {24000.0 / 1001, 24000, 1001},
        {25, 25, 1},
        {1.0 / 3, 1, 3},
        {16.0 / 9, 16, 9},
        {-0.5, -1, 2},
        {-29.97002997, -30000, 1001},
        {0, 0, 1},
        {1e-9, 0, 1},
        {1e12, 60000, 1},
        {-1e12, -60000, 1},
        {std::nan(""), 0, 1},
        {std::numeric_limits<double>::infinity(), 0, 1},
        {-std::numeric_limits<double>::infinity(), 0, 1},
    };
    for (const auto& c : cases) {
        int n = 123, d = 456;
        EXPECT_EQ(GetFraction(c.value, &n, &d), c.den) << c.value;
        EXPECT_EQ(n, c.num) << c.value;
        EXPECT_EQ(d, c.den) << c.value;
    }
    EXPECT_EQ(d2q(-0.5, 100), (uint64_t{2} << 32) | 0xFFFFFFFFu) << "signed numerator in the low half";
    EXPECT_EQ(d2q(0.5, 0), 0u);
    Frac pi = Unpack(d2q(M_PI, 1000));
    EXPECT_EQ(pi.num, 355);
    EXPECT_EQ(pi.den, 113);
}

// No fraction with both terms within the limit is nearer than what d2q picks.
TEST(Fraction, NearestWithinLimitAgainstExhaustiveSearch) {
    const int limit = 100;
    std::vector<double> values;
    for (int k = 2; k < 60; ++k) values.push_back(std::sqrt(k));
    for (int k = 1; k < 40; ++k) values.push_back(k / 37.3);
    values.push_back(M_PI);
    values.push_back(M_E);
    values.push_back(99.7);
    for (double x : values) {
        const Frac f = Unpack(d2q(x, limit));
        ASSERT_GE(f.den, 1) << x;
        ASSERT_LE(std::abs(f.num), limit) << x;
        ASSERT_LE(f.den, limit) << x;
        const double got = std::fabs(x - static_cast<double>(f.num) / f.den);
        double best = std::numeric_limits<double>::infinity();
        for (int q = 1; q <= limit; ++q) {
            const double p = std::min<double>(std::round(x * q), limit);
            best = std::min(best, std::fabs(x - p / q));
        }
        EXPECT_LE(got, best + 1e-12) << x << " gave " << f.num << "/" << f.den;
    }
}

TEST(Fraction, FpsCountsAZeroDenominatorAsOne) {
    EXPECT_DOUBLE_EQ(GetFPS(30000, 1001), 30000.0 / 1001);
    EXPECT_DOUBLE_EQ(GetFPS(25, 0), 25.0);
    EXPECT_DOUBLE_EQ(GetFPS(0, 0), 0.0);
    EXPECT_DOUBLE_EQ(GetFPS(-1, 2), -0.5);
}

}  // namespace
