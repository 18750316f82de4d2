// The event log: every message becomes a time-stamped line that goes to the user interface
// (event 10) and, when logging is on, to the log file; a message may also pop up (event 2) a
// limited number of times per source.
//
// Line: "[MM-DD hh:mm:ss] text [source]" (no brackets for an empty source name); file lines end in
// "\r\n" and the file is flushed after each. Any thread may log; the file handle is guarded by one
// mutex. A source's pop-up count is not guarded: a source is used by one thread at a time.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

struct LogSource {
    char name[32] = {};   // at most 31 characters
    int32_t popupCount = 0;
};

// Formatted messages are cut to this many characters.
inline constexpr int kLogFormatMax = 511;

void LogMessage(LogSource* source, const char* text, int popupLimit);
void LogWrite(LogSource* source, const char* text, int popupLimit);
void LogWriteString(LogSource* source, const std::string& text, int popupLimit);
void LogMessageFormat(LogSource* source, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogMessageKey(LogSource* source, const char* key, int popupLimit);
// The key's text is used as the format for one argument. A text whose conversions do not fit one
// argument of that kind (user-editable language files) is logged as it stands.
void LogMessageKeyFormat(LogSource* source, const char* key, const char* arg, int popupLimit);
void LogMessageKeyFormat(LogSource* source, const char* key, long long arg, int popupLimit);
void SetLogSourceName(LogSource* source, const char* name);
LogSource MakeLogSource(const char* name);

// Opens the file for appending; the old handle is closed. A last line left unfinished (the program
// was killed while writing it) is ended first, so the next line begins on its own. false when the
// file cannot be opened.
bool OpenLogFile(const char* path);
void CloseLogFile();

// The line as it is sent and written (without the line end), stamped with the given local time.
std::string FormatLogLine(const std::tm& localTime, const char* text, const char* sourceName);

// Replaces the clock (tests); an empty function restores the system's local time.
void SetLogClock(std::function<std::tm()> clock);
