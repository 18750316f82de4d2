#include "engine/eventlog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "engine/context.h"

namespace {

std::mutex g_fileMutex;       // guards g_file
FILE* g_file = nullptr;
std::mutex g_clockMutex;      // guards g_clock
std::function<std::tm()> g_clock;

std::tm Now() {
    {
        std::lock_guard lk(g_clockMutex);
        if (g_clock) return g_clock();
    }
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

// The conversions of a format: how many there are and the kind of the last ('s', 'd', ...).
// '%%' is not a conversion; 'n', '*' widths and a width or precision of more than three digits
// (which would make one log line pad or allocate without end) make a format unusable.
struct FormatShape {
    int count = 0;
    char kind = 0;
    int longs = 0;  // 'l' modifiers of the last conversion
    bool unsafe = false;
};

FormatShape ShapeOf(const char* format) {
    FormatShape shape;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        shape.longs = 0;
        int digits = 0;
        while (*p && std::strchr("-+ #0123456789.'lhqjzt*", *p)) {
            if (*p == '*' || std::strchr("hqjzt", *p)) shape.unsafe = true;
            if (*p == 'l') ++shape.longs;
            digits = (*p >= '0' && *p <= '9') ? digits + 1 : 0;
            if (digits > 3) shape.unsafe = true;
            ++p;
        }
        if (!*p) {
            shape.unsafe = true;
            break;
        }
        ++shape.count;
        shape.kind = *p;
        if (*p == 'n') shape.unsafe = true;
    }
    return shape;
}

bool FitsText(const FormatShape& s) {
    return !s.unsafe && (s.count == 0 || (s.count == 1 && s.kind == 's' && s.longs == 0));
}

bool FitsInteger(const FormatShape& s) {
    return !s.unsafe && s.longs <= 2 && (s.count == 0 || (s.count == 1 && std::strchr("diuxX", s.kind)));
}

// A log whose last line was cut off (the program was killed while writing it) gets that line
// ended, so the next line stands on its own.
void EndTornLine(FILE* f) {
    if (std::fseek(f, -1, SEEK_END) != 0) return;  // empty
    const int last = std::fgetc(f);
    std::fseek(f, 0, SEEK_END);  // a write after a read needs a positioning call between them
    if (last == '\n' || last == EOF) return;
    std::fputs(last == '\r' ? "\n" : "\r\n", f);
    std::fflush(f);
}

}  // namespace

std::string FormatLogLine(const std::tm& tm, const char* text, const char* sourceName) {
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "[%02d-%02d %02d:%02d:%02d] ", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                  tm.tm_min, tm.tm_sec);
    std::string line = stamp;
    line += text ? text : "";
    if (sourceName && *sourceName) {
        line += " [";
        line += sourceName;
        line += "]";
    }
    return line;
}

void LogMessage(LogSource* source, const char* text, int popupLimit) {
    const char* name = source ? source->name : "";
    const std::string line = FormatLogLine(Now(), text, name);
    RaiseEvent(kEventLogLine, line.c_str());
    {
        std::lock_guard lk(g_fileMutex);
        if (g_file) {
            std::fprintf(g_file, "%s\r\n", line.c_str());
            std::fflush(g_file);
        }
    }
    if (popupLimit != 0 && source && source->popupCount < popupLimit) {
        RaiseEvent(kEventNotice, text ? text : "");
        ++source->popupCount;
    }
}

void LogWrite(LogSource* source, const char* text, int popupLimit) { LogMessage(source, text, popupLimit); }

void LogWriteString(LogSource* source, const std::string& text, int popupLimit) {
    LogMessage(source, text.c_str(), popupLimit);
}

void LogMessageFormat(LogSource* source, const char* format, ...) {
    if (!format) {
        LogMessage(source, "", 0);
        return;
    }
    char buf[kLogFormatMax + 1];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    LogMessage(source, buf, 0);
}

void LogMessageKey(LogSource* source, const char* key, int popupLimit) {
    LogMessage(source, EngineText(key), popupLimit);
}

void LogMessageKeyFormat(LogSource* source, const char* key, const char* arg, int popupLimit) {
    const char* format = EngineText(key);
    if (!FitsText(ShapeOf(format))) {
        LogMessage(source, format, popupLimit);
        return;
    }
    char buf[kLogFormatMax + 1];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    std::snprintf(buf, sizeof buf, format, arg ? arg : "");
#pragma GCC diagnostic pop
    LogMessage(source, buf, popupLimit);
}

void LogMessageKeyFormat(LogSource* source, const char* key, long long arg, int popupLimit) {
    const char* format = EngineText(key);
    const FormatShape shape = ShapeOf(format);
    if (!FitsInteger(shape)) {
        LogMessage(source, format, popupLimit);
        return;
    }
    // Re-type the argument to what the conversion's length modifier expects.
    char buf[kLogFormatMax + 1];
    const bool isLong = shape.longs >= 2;
    const bool isLongSingle = shape.longs == 1;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    if (isLong) std::snprintf(buf, sizeof buf, format, arg);
    else if (isLongSingle) std::snprintf(buf, sizeof buf, format, static_cast<long>(arg));
    else std::snprintf(buf, sizeof buf, format, static_cast<int>(arg));
#pragma GCC diagnostic pop
    LogMessage(source, buf, popupLimit);
}

void SetLogSourceName(LogSource* source, const char* name) {
    if (!source) return;
    std::snprintf(source->name, sizeof source->name, "%s", name ? name : "");
}

LogSource MakeLogSource(const char* name) {
    LogSource s;
    SetLogSourceName(&s, name);
    return s;
}

bool OpenLogFile(const char* path) {
    // Read access only to look at the last byte; every write goes to the end. A file that may be
    // written but not read is appended to as it stands.
    // Under the file lock, so that no line of this program is half written while the end is read.
    std::lock_guard lk(g_fileMutex);
    FILE* f = path ? std::fopen(path, "a+b") : nullptr;
    if (f) EndTornLine(f);
    else if (path) f = std::fopen(path, "ab");
    if (g_file) std::fclose(g_file);
    g_file = f;
    return f != nullptr;
}

void CloseLogFile() {
    std::lock_guard lk(g_fileMutex);
    if (g_file) std::fclose(g_file);
    g_file = nullptr;
}

void SetLogClock(std::function<std::tm()> clock) {
    std::lock_guard lk(g_clockMutex);
    g_clock = std::move(clock);
}
