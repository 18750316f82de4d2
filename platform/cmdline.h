// Turning one command-line text into an argument vector, by the rules a Windows C runtime
// program applies to its own command line. Tool command lines are built as single texts with
// quoted paths; they are split here and handed to exec directly, never to a shell, so ";", "$",
// "|" and backticks stay ordinary characters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a command line into arguments.
// - The first word (the program) ends at the first blank or tab outside quotes; quotes in it
//   are removed and backslashes are plain characters.
// - In every later word, 2n backslashes before a quote give n backslashes and the quote opens or
//   closes a quoted part; 2n+1 backslashes before a quote give n backslashes and a literal quote;
//   backslashes not before a quote are plain. Inside a quoted part, "" gives one literal quote.
//   Blanks and tabs outside quotes separate words; "" alone is an empty argument.
// - Blanks before the program are skipped. Bytes >= 0x80 (UTF-8) are copied unchanged.
std::vector<std::string> SplitArgs(std::string_view commandLine);

// Quotes one argument (not the program) so that SplitArgs gives it back unchanged.
std::string QuoteArg(std::string_view arg);

// Where SplitArgs stands at the end of a partial command line, for text to be appended to it.
struct SplitEnd {
    bool inProgram = true;  // the text ends before or inside the program word
    bool inQuotes = false;  // a quoted part is open at the end
};
SplitEnd SplitArgsEnd(std::string_view commandLine);

// Text for inside a quoted part of a later word, read back unchanged by SplitArgs: each quote is
// escaped and the backslashes before it doubled; trailing backslashes are doubled only when a
// quote follows the text in the line (quoteFollows).
std::string EscapeInQuotes(std::string_view text, bool quoteFollows);

}  // namespace platform
