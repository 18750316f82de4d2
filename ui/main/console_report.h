// What a run without a display says on standard error: one line per item as it ends ("done" with
// its output, or "failed" with the reason), a progress line while items run when standard error
// is a terminal, and one summary line at the end of the batch. The event log and the tools'
// own output go to the log file instead; with the "verbose" option they go to standard error too.
#pragma once

#include <cstdint>
#include <string>

struct QueueItem;

namespace ui {

// Turns the report on (a run without a display) before start-up; verbose sends the log and the
// tools' output to standard error too. Log lines that come before the log file is known are kept
// for it.
void StartConsoleReport(bool verbose);
// The log file, once the settings tell it: it receives the tools' output and, with
// writeLogLines (the engine writes no log file of its own), the event log's lines.
void SetConsoleLogFile(const std::string& logFile, bool writeLogLines);
void StopConsoleReport();
bool ConsoleReportOn();
bool ConsoleVerbose();

// Text meant for the console that tools share (command lines, tool texts): to the log file, and
// to standard error when verbose.
void ConsoleToolText(const std::string& text);
// An event-log line: to standard error when verbose (the log file has it already).
void ConsoleLogLine(const char* line);
// The window's status text: to standard error when verbose.
void ConsoleStatus(const char* text);

void ConsoleBatchStarted();
void ConsoleItemEnded(const QueueItem* item);
// The progress line of the running item (terminal only); null clears it.
void ConsoleProgress(QueueItem* item);
// The summary line: items done, failed, and the time the batch took.
void ConsoleBatchEnded();

// The item's line as it is printed ("done PATH -> OUTPUT", "failed PATH: error N, MEANING", ...).
std::string ConsoleItemLine(const QueueItem* item);

}  // namespace ui
