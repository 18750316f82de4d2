// The web servers' messages go through one replaceable function, so the program can send them to
// its event log under the source "httpd". Without one they are dropped.
#pragma once

inline constexpr const char* kHttpdLogSource = "httpd";

using HttpdLogFunction = void (*)(const char* source, const char* message);

// Replaces the log function (null drops messages). Safe to call from any thread.
void SetHttpdLogFunction(HttpdLogFunction fn);

void HttpdLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
