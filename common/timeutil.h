// Time helpers exported by qxcommon.
#pragma once

#include <stdint.h>

#include "common/helpers_export.h"

// Room Int2TimeStr needs at most ("596523:14:07" and its NUL).
#define QX_TIMESTR_SIZE 16

#ifdef __cplusplus
extern "C" {
#endif

// The system time in milliseconds since 1 January 1601 (UTC), the file-time epoch.
QXHELPER_API uint64_t GetTime(void);

// "m:s" gives m * 60 + s and "h:m:s" gives h * 3600 + m * 60 + s, each part read as a decimal
// integer (atoi); a text without ':' is read as a plain number of seconds. 0 for null.
QXHELPER_API int TimeStr2Int(const char* text);

// Writes "h:" when there is at least one hour, then "mm:ss", into a buffer of at least
// QX_TIMESTR_SIZE bytes; returns the length of the "mm:ss" part. Negative seconds count as 0.
QXHELPER_API int Int2TimeStr(int seconds, char* buffer);

#ifdef __cplusplus
}  // extern "C"
#endif
