#include "remote/httpd/httpd_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<HttpdLogFunction> g_log{nullptr};
}

void SetHttpdLogFunction(HttpdLogFunction fn) { g_log.store(fn); }

void HttpdLog(const char* format, ...) {
    HttpdLogFunction fn = g_log.load();
    if (!fn) return;
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fn(kHttpdLogSource, text);
}
