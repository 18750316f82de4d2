// Conversions between charsets: growth instead of truncation, invalid and unconvertible
// input, verbatim copies between equal charsets, and buffer ownership.
#include "common/charset.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

struct ConvertCase {
    const char* name;
    const char* to;
    const char* from;
    std::string input;
    std::string expected;
};

std::string Repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

// The locale is left at "C" in the tests, so "" (the locale's charset) means UTF-8 here.
const ConvertCase kConvertCases[] = {
    {"utf8_to_cp1252", "CP1252", "UTF-8", "Caf\xc3\xa9 \xe2\x82\xac", "Caf\xe9 \x80"},
    {"cp1252_to_utf8", "UTF-8", "CP1252", "Caf\xe9", "Caf\xc3\xa9"},
    // Every byte becomes three: the result is longer than twice the input and must not be cut.
    {"euro_signs_grow", "UTF-8", "CP1252", Repeat("\x80", 100), Repeat("\xe2\x82\xac", 100)},
    {"long_text_grows", "UTF-8", "CP1252", Repeat("\x80\xe9x", 5000), Repeat("\xe2\x82\xac\xc3\xa9x", 5000)},
    // A real character the target has no byte for ends the text there.
    {"unconvertible_ends_text", "CP1252", "UTF-8", "ab\xe4\xb8\xad" "cd", "ab"},
    // Bytes that are not UTF-8 are marked and the rest of the text stays.
    {"invalid_byte_marked", "CP1252", "UTF-8", "ab\xff" "cd", "ab?cd"},
    {"invalid_bytes_in_row", "CP1252", "UTF-8", "\xc3\xc3\xa9z", "?\xe9z"},
    {"cut_sequence_at_end", "CP1252", "UTF-8", "ab\xe2\x82", "ab??"},
    // Equal charsets copy bytes verbatim, invalid ones included.
    {"same_charset_verbatim", "UTF-8", "utf8", "a\xff\xfe" "b", "a\xff\xfe" "b"},
    {"locale_to_locale_verbatim", "", "", "x\xffy", "x\xffy"},
    {"null_names_verbatim", nullptr, nullptr, "x\xc3y", "x\xc3y"},
    {"cp65001_is_utf8", "CP65001", "UTF-8", "a\xff", "a\xff"},
    {"windows_alias", "windows-1252", "CP1252", "\x80\xff", "\x80\xff"},
    {"empty_text", "CP1252", "UTF-8", "", ""},
};

class ConvertTable : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertTable, ConvertsWholeText) {
    const ConvertCase& c = GetParam();
    CCharset cs(c.to, c.from);
    ASSERT_TRUE(cs.IsOpen());
    EXPECT_EQ(std::string(cs.Convert(c.input.c_str())), c.expected);
    // Converting with an explicit length reads exactly that many bytes: the copy below has
    // no terminator, so AddressSanitizer reports any read past its end.
    if (!c.input.empty()) {
        std::unique_ptr<char[]> exact(new char[c.input.size()]);
        std::memcpy(exact.get(), c.input.data(), c.input.size());
        EXPECT_EQ(std::string(cs.Convert(exact.get(), static_cast<int>(c.input.size()))), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Charset, ConvertTable, ::testing::ValuesIn(kConvertCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CharsetTest, LengthLimitsInput) {
    CCharset cs("UTF-8", "CP1252");
    EXPECT_STREQ(cs.Convert("\xe9\xe9\xe9", 2), "\xc3\xa9\xc3\xa9");
    EXPECT_STREQ(cs.Convert("abc", -5), "abc");  // 0 or less: up to the terminator
}

TEST(CharsetTest, NullTextLeavesBufferAlone) {
    CCharset cs("UTF-8", "CP1252");
    const char* kept = cs.Convert("\xe9t\xe9");
    EXPECT_STREQ(cs.Convert(nullptr), "");
    EXPECT_STREQ(kept, "\xc3\xa9t\xc3\xa9");  // still valid: the buffer was not replaced
}

TEST(CharsetTest, ClosedConverterGivesEmptyText) {
    CCharset unset;
    EXPECT_FALSE(unset.IsOpen());
    EXPECT_STREQ(unset.Convert("abc"), "");

    CCharset unknown("NO-SUCH-CHARSET", "UTF-8");
    EXPECT_FALSE(unknown.IsOpen());
    EXPECT_STREQ(unknown.Convert("abc"), "");

    CCharset cs("UTF-8", "CP1252");
    const char* kept = cs.Convert("\xe9");
    cs.Unset();
    EXPECT_FALSE(cs.IsOpen());
    EXPECT_STREQ(kept, "\xc3\xa9");  // Unset keeps the last result
    cs.Set("CP1252", "UTF-8");
    EXPECT_STREQ(cs.Convert("\xc3\xa9"), "\xe9");
}

TEST(CharsetTest, InputMayBeThePreviousResult) {
    CCharset cs("UTF-8", "CP1252");
    const char* once = cs.Convert("\xe9");
    const char* twice = cs.Convert(once);  // the old buffer is freed only after converting
    EXPECT_STREQ(twice, "\xc3\x83\xc2\xa9");
}

TEST(CharsetTest, CopiesOwnTheirConverterAndBuffer) {
    auto original = std::make_unique<CCharset>("UTF-8", "CP1252");
    original->Convert("\xe9");
    CCharset copy(*original);
    CCharset assigned;
    assigned = *original;
    original.reset();  // destroying the original frees nothing the copies use
    EXPECT_STREQ(copy.Convert("\x80"), "\xe2\x82\xac");
    EXPECT_STREQ(assigned.Convert("\xe9"), "\xc3\xa9");
    CCharset toLatin("CP1252", "UTF-8");
    assigned = toLatin;
    EXPECT_STREQ(assigned.Convert("a\xff\xc3\xa9"), "a?\xe9");
    assigned = assigned;
    EXPECT_STREQ(assigned.Convert("\xc3\xa9"), "\xe9");
}

TEST(CharsetTest, OneShotConversionsUseTheObjectsBuffer) {
    CCharset cs;  // needs no open converter
    EXPECT_STREQ(UTF8toANSI(cs, nullptr), "");
    EXPECT_STREQ(ANSItoUTF8(cs, nullptr), "");
    // The locale's charset is UTF-8 here: both directions keep every byte, even invalid ones.
    const std::string name = "Gr\xc3\xbc\xc3\x9f" "e \xff.flac";
    EXPECT_EQ(std::string(UTF8toANSI(cs, name.c_str())), name);
    EXPECT_EQ(std::string(ANSItoUTF8(cs, name.c_str())), name);
    std::string longText = Repeat("\xe2\x82\xac", 2000);
    EXPECT_EQ(std::string(ANSItoUTF8(cs, longText.c_str())), longText);
}

}  // namespace
