#include "platform/numtext.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <stdlib.h>
#include <limits>
#include <system_error>

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

std::string FormatFixed(double value, int precision) {
    if (precision < 0) precision = 6;
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
    if (r.ec != std::errc()) return std::isnan(value) ? "nan" : (value < 0 ? "-inf" : "inf");
    return std::string(buf, r.ptr);
}

std::string FormatShortest(double value) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    if (r.ec != std::errc()) return "0";
    return std::string(buf, r.ptr);
}

double ParseDouble(const char* text) {
    if (!text) return 0.0;
    // strtod_l with the C locale is atof's grammar (blanks, sign, hex, inf, nan) without LC_NUMERIC.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return strtod_l(text, nullptr, cLocale);
}

int64_t ParseInt64(const char* text, const char** endOut) {
    if (!text) {
        if (endOut) *endOut = text;
        return 0;
    }
    const char* p = text;
    while (IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    const char* digits = p;
    uint64_t magnitude = 0;
    bool overflow = false;
    while (*p >= '0' && *p <= '9') {
        unsigned d = static_cast<unsigned>(*p - '0');
        if (magnitude > (std::numeric_limits<uint64_t>::max() - d) / 10) overflow = true;
        else magnitude = magnitude * 10 + d;
        ++p;
    }
    if (endOut) *endOut = (p == digits) ? text : p;
    if (p == digits) return 0;
    constexpr uint64_t maxPos = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (overflow || magnitude > maxPos + 1) return std::numeric_limits<int64_t>::min();
        return magnitude == maxPos + 1 ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
    }
    if (overflow || magnitude > maxPos) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(magnitude);
}

int32_t ParseInt(const char* text) {
    int64_t v = ParseInt64(text);
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace platform
