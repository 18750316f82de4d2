// Number <-> text conversion that never follows LC_NUMERIC: preference files, command lines and
// XML-RPC must read and write "1.5" whatever locale a toolkit has set.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// "%.<precision>f" in the C locale ("%f" is precision 6).
std::string FormatFixed(double value, int precision = 6);
// Shortest text that reads back as the same double, in the C locale ("2", "0.5", "1e+20").
std::string FormatShortest(double value);

// As atof in the C locale: leading blanks skipped, the longest valid prefix read, 0 when none.
double ParseDouble(const char* text);
// As atoi, but out-of-range values clamp to the int32 range instead of being undefined.
int32_t ParseInt(const char* text);
// As strtoll base 10 with clamping; *end (optional) receives the first unread character.
int64_t ParseInt64(const char* text, const char** end = nullptr);

}  // namespace platform
