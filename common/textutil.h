// Text and number helpers exported by qxcommon. Functions that hand out memory allocate it with
// malloc; tokenize frees its array again when called with a null text, and strredup reuses or
// replaces a block it handed out before.
#pragma once

#include <stdint.h>

#include "common/helpers_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Copies `length` characters of `text` (0, or more than the text holds: the whole text) and a NUL
// into `old` when that text is at least as long, else into a new malloc'd block (`old` is then
// freed). Returns the block; null when memory runs out (`old` is then left as it was).
QXHELPER_API char* strredup(char* old, const char* text, int length);

// 0 when the text at *pos begins with `prefix`, and *pos moved past it; else the difference of the
// first differing characters (text minus prefix, as unsigned bytes) and *pos unchanged.
QXHELPER_API int strncmp2(const char** pos, const char* prefix);

// Splits `text` in place at every occurrence of `separator` (its first character becomes a NUL;
// the next part starts after the whole separator) and returns a malloc'd array of pointers to
// the parts, ended by a null pointer. With a null text, frees the array passed as the second
// argument and returns null. An empty separator gives the whole text as the one part.
QXHELPER_API char** tokenize(char* text, const char* separator);

// Destination of one token for ParseIntTokens: what kind of variable `address` points to.
enum { QX_TOKEN_INT = 0, QX_TOKEN_FLOAT = 1, QX_TOKEN_TEXT = 2 };
typedef struct QxTokenDest {
    int kind;       // QX_TOKEN_INT: int32_t*, QX_TOKEN_FLOAT: float*, QX_TOKEN_TEXT: char**
    void* address;  // null ends the list
} QxTokenDest;

// Reads separated tokens into the destinations in order. A token beginning with '"' is a text up
// to the next '"' (nothing is stored when that quote is missing); otherwise it is a float when a
// '.' comes before the next separator, else an integer. Each value is stored converted to its
// destination's kind: a number into a text destination as its text, a text into a number
// destination not at all. Texts are malloc'd. Returns the number of separators passed: the
// tokens read minus 1 when the text ended first, the destinations' count when they ran out.
QXHELPER_API int ParseIntTokens(const char* text, char separator, const QxTokenDest* destinations);

// Hexadecimal text to a number: leading blanks and tabs skipped; an 'x' or 'X' as second
// character skips the first two; then digits in either case up to the first other character.
// 0 when there are none. Digits beyond the width keep the low bits.
QXHELPER_API int hex2int(const char* text);
QXHELPER_API int64_t hex2int64(const char* text);

// The nearest fraction whose numerator and denominator do not exceed `limit`, packed as the
// numerator (signed, low 32 bits) and the denominator (high 32 bits). A value that is not finite
// gives 0/1; a limit below 1 gives 0.
QXHELPER_API uint64_t d2q(double value, int limit);
// d2q with limit 60000 into the outputs (either may be null); returns the denominator.
QXHELPER_API int GetFraction(double value, int* numerator, int* denominator);
// numerator / denominator; a denominator of 0 counts as 1.
QXHELPER_API double GetFPS(int numerator, int denominator);

#ifdef __cplusplus
}  // extern "C"

// For a position held in a modifiable text.
inline int strncmp2(char** pos, const char* prefix) { return strncmp2(const_cast<const char**>(pos), prefix); }
#endif
