#include "common/timeutil.h"

#include <time.h>

#include <cstdio>
#include <cstring>

#include "platform/numtext.h"

extern "C" {

uint64_t GetTime(void) {
    // Seconds from 1601-01-01 to 1970-01-01.
    constexpr uint64_t kEpochOffsetMs = 11644473600ull * 1000;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000 + kEpochOffsetMs;
}

int TimeStr2Int(const char* text) {
    if (!text) return 0;
    const char* c1 = std::strchr(text, ':');
    if (!c1) return platform::ParseInt(text);
    const long long first = platform::ParseInt(text);
    const long long second = platform::ParseInt(c1 + 1);
    long long total;
    // Int2TimeStr writes hours as a third field from one hour on; read that form back as well.
    if (const char* c2 = std::strchr(c1 + 1, ':'))
        total = first * 3600 + second * 60 + platform::ParseInt(c2 + 1);
    else
        total = first * 60 + second;
    if (total > 2147483647LL) return 2147483647;
    if (total < -2147483647LL - 1) return -2147483647 - 1;
    return static_cast<int>(total);
}

int Int2TimeStr(int seconds, char* buffer) {
    if (!buffer) return 0;
    if (seconds < 0) seconds = 0;
    const int hours = seconds / 3600;
    char* p = buffer;
    if (hours > 0) p += std::snprintf(p, QX_TIMESTR_SIZE, "%d:", hours);
    const int len = std::snprintf(p, QX_TIMESTR_SIZE - static_cast<size_t>(p - buffer), "%02d:%02d",
                                  seconds / 60 % 60, seconds % 60);
    return len;
}

}  // extern "C"
