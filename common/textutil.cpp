#include "common/textutil.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>

#include "platform/numtext.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Unsigned accumulation: extra digits shift the high bits out instead of overflowing.
template <typename U>
U HexValue(const char* t) {
    if (!t) return 0;
    while (*t == ' ' || *t == '\t') ++t;
    if (t[0] && (t[1] == 'x' || t[1] == 'X')) t += 2;
    U v = 0;
    for (int d; (d = HexDigit(*t)) >= 0; ++t) v = static_cast<U>((v << 4) | static_cast<U>(d));
    return v;
}

char* CopyText(const char* begin, size_t n) {
    char* s = static_cast<char*>(std::malloc(n + 1));
    if (!s) return nullptr;
    std::memcpy(s, begin, n);
    s[n] = 0;
    return s;
}

uint64_t PackFraction(int64_t num, int64_t den) {
    return static_cast<uint64_t>(static_cast<uint32_t>(static_cast<int32_t>(num))) |
           (static_cast<uint64_t>(static_cast<uint32_t>(den)) << 32);
}

using i128 = __int128;

i128 Abs128(i128 v) { return v < 0 ? -v : v; }

// Best approximation of num/den (both positive, num/den below limit) with terms within the limit:
// the last continued-fraction convergent that fits, or the semiconvergent after it when nearer.
bool BestFraction(int64_t num, int64_t den, int64_t limit, int64_t* outNum, int64_t* outDen) {
    const int64_t g = std::gcd(num, den);
    num /= g;
    den /= g;
    if (num <= limit && den <= limit) {
        *outNum = num;
        *outDen = den;
        return true;
    }
    int64_t h0 = 0, k0 = 1, h1 = 1, k1 = 0;
    int64_t n = num, d = den;
    while (d) {
        const int64_t a = n / d;
        const int64_t r = n - a * d;
        const i128 h2 = static_cast<i128>(a) * h1 + h0;
        const i128 k2 = static_cast<i128>(a) * k1 + k0;
        if (h2 > limit || k2 > limit) {
            int64_t t = a;
            if (h1) t = std::min(t, (limit - h0) / h1);
            if (k1) t = std::min(t, (limit - k0) / k1);
            if (t >= 1 && k1) {
                const int64_t hs = t * h1 + h0, ks = t * k1 + k0;
                // |h/k - num/den| compared exactly: |h*den - k*num| / (k*den).
                const i128 errConv = Abs128(static_cast<i128>(h1) * den - static_cast<i128>(k1) * num) * ks;
                const i128 errSemi = Abs128(static_cast<i128>(hs) * den - static_cast<i128>(ks) * num) * k1;
                if (errSemi < errConv) {
                    h1 = hs;
                    k1 = ks;
                }
            }
            break;
        }
        h0 = h1;
        k0 = k1;
        h1 = static_cast<int64_t>(h2);
        k1 = static_cast<int64_t>(k2);
        n = d;
        d = r;
    }
    if (k1 <= 0 || std::gcd(h1, k1) != 1) return false;
    *outNum = h1;
    *outDen = k1;
    return true;
}

}  // namespace

extern "C" {

char* strredup(char* old, const char* text, int length) {
    if (!text) text = "";
    // Never past the text's end, whatever length is asked for.
    const size_t n = length > 0 ? strnlen(text, static_cast<size_t>(length)) : std::strlen(text);
    if (old && std::strlen(old) >= n) {
        std::memmove(old, text, n);
        old[n] = 0;
        return old;
    }
    char* block = CopyText(text, n);
    if (!block) return nullptr;
    std::free(old);
    return block;
}

int strncmp2(const char** pos, const char* prefix) {
    if (!pos || !*pos || !prefix) return -1;
    const unsigned char* t = reinterpret_cast<const unsigned char*>(*pos);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(prefix);
    while (*p && *t == *p) {
        ++t;
        ++p;
    }
    if (!*p) {
        *pos = reinterpret_cast<const char*>(t);
        return 0;
    }
    return static_cast<int>(*t) - static_cast<int>(*p);
}

char** tokenize(char* text, const char* separator) {
    if (!text) {
        std::free(const_cast<char*>(separator));
        return nullptr;
    }
    const size_t sepLen = separator ? std::strlen(separator) : 0;
    size_t parts = 1;
    if (sepLen)
        for (const char* q = std::strstr(text, separator); q; q = std::strstr(q + sepLen, separator)) ++parts;
    char** array = static_cast<char**>(std::malloc((parts + 1) * sizeof(char*)));
    if (!array) return nullptr;
    size_t i = 0;
    array[i++] = text;
    if (sepLen) {
        for (char* q = std::strstr(text, separator); q; q = std::strstr(q, separator)) {
            *q = 0;
            q += sepLen;
            array[i++] = q;
        }
    }
    array[i] = nullptr;
    return array;
}

int ParseIntTokens(const char* text, char separator, const QxTokenDest* destinations) {
    if (!text || !destinations) return 0;
    const char* p = text;
    int passed = 0;
    for (const QxTokenDest* d = destinations; d->address; ++d) {
        const char* end;
        if (*p == '"') {
            const char* close = std::strchr(p + 1, '"');
            if (close) {
                if (d->kind == QX_TOKEN_TEXT)
                    *static_cast<char**>(d->address) = CopyText(p + 1, static_cast<size_t>(close - p - 1));
                end = close + 1;
            } else {
                end = p + std::strlen(p);
            }
        } else {
            const char* next = separator ? std::strchr(p, separator) : nullptr;
            if (!next) next = p + std::strlen(p);
            const size_t len = static_cast<size_t>(next - p);
            const std::string token(p, len);
            const bool isFloat = std::memchr(p, '.', len) != nullptr;
            switch (d->kind) {
            case QX_TOKEN_INT:
                *static_cast<int32_t*>(d->address) = platform::ParseInt(token.c_str());
                break;
            case QX_TOKEN_FLOAT:
                *static_cast<float*>(d->address) = isFloat ? static_cast<float>(platform::ParseDouble(token.c_str()))
                                                           : static_cast<float>(platform::ParseInt(token.c_str()));
                break;
            case QX_TOKEN_TEXT:
                *static_cast<char**>(d->address) = CopyText(p, len);
                break;
            default:
                break;
            }
            end = next;
        }
        const char* sep = separator ? std::strchr(end, separator) : nullptr;
        if (!sep) return passed;
        p = sep + 1;
        ++passed;
    }
    return passed;
}

int hex2int(const char* text) { return static_cast<int>(HexValue<uint32_t>(text)); }

int64_t hex2int64(const char* text) { return static_cast<int64_t>(HexValue<uint64_t>(text)); }

uint64_t d2q(double value, int limit) {
    if (limit < 1) return 0;
    if (!std::isfinite(value) || value == 0) return PackFraction(0, 1);
    const bool negative = value < 0;
    const double mag = std::fabs(value);
    // No fraction within the limit is larger than limit/1.
    if (mag >= limit) return PackFraction(negative ? -static_cast<int64_t>(limit) : limit, 1);
    // Exact binary scaling: mag * 2^(61 - e) stays below 2^62.
    int e = std::ilogb(mag);
    if (e < 0) e = 0;
    const int64_t den = int64_t{1} << (61 - e);
    const int64_t num = std::llround(std::ldexp(mag, 61 - e));
    if (num == 0) return PackFraction(0, 1);
    int64_t n = 0, q = 0;
    if (!BestFraction(num, den, limit, &n, &q)) return 0;
    return PackFraction(negative ? -n : n, q);
}

int GetFraction(double value, int* numerator, int* denominator) {
    const uint64_t packed = d2q(value, 60000);
    const int num = static_cast<int32_t>(static_cast<uint32_t>(packed & 0xFFFFFFFFu));
    const int den = static_cast<int>(packed >> 32);
    if (numerator) *numerator = num;
    if (denominator) *denominator = den;
    return den;
}

double GetFPS(int numerator, int denominator) {
    return static_cast<double>(numerator) / (denominator ? denominator : 1);
}

}  // extern "C"
