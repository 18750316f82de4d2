#include "platform/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

struct SplitCase {
    const char* line;
    Args args;
};

// Command lines as the engine's builders write them, and the vectors a C-runtime program gets.
const SplitCase kSplitCases[] = {
    // blanks and tabs
    {"lame  -b 128\t- out.mp3", {"lame", "-b", "128", "-", "out.mp3"}},
    {"   flac -d  ", {"flac", "-d"}},
    {"", {}},
    {" \t ", {}},
    // quoted paths, quotes joining parts of one word
    {"flac -o \"/tmp/my file.flac\" -", {"flac", "-o", "/tmp/my file.flac", "-"}},
    {"tool \"x y\"z w", {"tool", "x yz", "w"}},
    {"tool a\"b c\"d", {"tool", "ab cd"}},
    {"tool \"unterminated text", {"tool", "unterminated text"}},
    // empty arguments
    {"tool \"\" x", {"tool", "", "x"}},
    {"tool \"\"", {"tool", ""}},
    {"tool x \"\"\t\"\"", {"tool", "x", "", ""}},
    // backslashes: literal unless before a quote
    {"tool a\\b c\\\\d", {"tool", "a\\b", "c\\\\d"}},
    {"tool \\\"x", {"tool", "\"x"}},                       // \"     -> "
    {"tool \\\\\"x y\"", {"tool", "\\x y"}},               // \\"    -> \ and opens a quote
    {"tool \\\\\\\"x", {"tool", "\\\"x"}},                 // \\\"   -> \"
    {"tool \"C:\\dir\\\\\" next", {"tool", "C:\\dir\\", "next"}},
    {"tool \"dir\\\" x\"", {"tool", "dir\" x"}},
    // "" inside a quoted part is one quote and stays quoted
    {"tool \"say \"\"hi\"\" now\"", {"tool", "say \"hi\" now"}},
    {"tool \"a\"\"b c\"", {"tool", "a\"b c"}},
    // the program: quotes removed, backslashes literal, ends at the first blank outside quotes
    {"\"/opt/my tools/enc\" -x", {"/opt/my tools/enc", "-x"}},
    {"C:\\tools\\\"x\" y", {"C:\\tools\\x", "y"}},
    {"\"\" a", {"", "a"}},
    // shell characters are plain text
    {"echo a;b $HOME `id` | > <", {"echo", "a;b", "$HOME", "`id`", "|", ">", "<"}},
    {"echo \"$(rm -rf x)\" '*'", {"echo", "$(rm -rf x)", "'*'"}},
    // UTF-8 passes through
    {"tool \"Ünïcödé ñame.wav\" 日本語", {"tool", "Ünïcödé ñame.wav", "日本語"}},
};

TEST(SplitArgs, FollowsTheRuntimeQuotingRules) {
    for (const auto& c : kSplitCases) {
        EXPECT_EQ(platform::SplitArgs(c.line), c.args) << "line: [" << c.line << "]";
    }
}

TEST(SplitArgs, StopsAtAnEmbeddedNul) {
    const std::string line("tool a\0b c", 10);
    EXPECT_EQ(platform::SplitArgs(line), (Args{"tool", "a"}));
}

TEST(QuoteArg, RoundTripsThroughSplitArgs) {
    const char* const samples[] = {
        "plain", "", "two words", "tab\there", "\"", "a\"b", "ends with \\", "\\\\server\\share",
        "x\\\"y", "trailing\\\\", "\\", "\" \"", "ä ö ü", "$(x); `y`",
    };
    for (const char* s : samples) {
        const std::string line = "prog " + platform::QuoteArg(s) + " tail";
        EXPECT_EQ(platform::SplitArgs(line), (Args{"prog", s, "tail"})) << "arg: [" << s << "] line: " << line;
    }
}

}  // namespace
