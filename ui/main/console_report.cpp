#include "ui/main/console_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "engine/engine_api.h"
#include "engine/jobs/itemstate.h"
#include "engine/jobs/jobstats.h"
#include "engine/queue/queue.h"
#include "engine/tools/process.h"
#include "platform/sync.h"

namespace ui {

namespace {

std::atomic<bool> g_on{false};
std::atomic<bool> g_verbose{false};
std::atomic<bool> g_terminal{false};

// Guards standard error's lines (so the progress line is cleared before any other) and the rest.
std::mutex g_lock;
int g_logFd = -1;            // the log file, for the tools' texts
std::string g_logFile;
bool g_progressShown = false;
bool g_writeLogLines = false;
bool g_fileKnown = false;
std::vector<std::string> g_earlyLines;  // log lines from before the log file was known
constexpr size_t kEarlyLineLimit = 2000;
uint64_t g_batchStart = 0;

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// A line on standard error, after the progress line is cleared; the caller holds g_lock.
void ErrorLine(const std::string& line) {
    std::string text;
    if (g_progressShown) text = "\r\033[K";
    g_progressShown = false;
    text += line;
    text += '\n';
    WriteAll(STDERR_FILENO, text);
}

std::string Seconds(uint64_t ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s", static_cast<double>(ms) / 1000.0);
    return buf;
}

std::string FileName(const char* path) {
    const std::string p = path ? path : "";
    const size_t slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

}  // namespace

void StartConsoleReport(bool verbose) {
    std::lock_guard lk(g_lock);
    g_verbose = verbose;
    g_terminal = isatty(STDERR_FILENO) == 1;
    g_fileKnown = false;
    g_earlyLines.clear();
    g_on = true;
}

void SetConsoleLogFile(const std::string& logFile, bool writeLogLines) {
    std::lock_guard lk(g_lock);
    g_writeLogLines = writeLogLines;
    g_logFile = logFile;
    if (g_logFd >= 0) close(g_logFd);
    g_logFd = logFile.empty() ? -1 : open(logFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (g_writeLogLines && g_logFd >= 0)
        for (const std::string& line : g_earlyLines) WriteAll(g_logFd, line + "\r\n");
    g_earlyLines.clear();
    g_fileKnown = true;
    // Tools keep their chatter for the log; verbose runs show it as it comes.
    if (!g_verbose.load()) SetToolConsole(g_logFd);
}

void StopConsoleReport() {
    std::lock_guard lk(g_lock);
    SetToolConsole(-1);
    if (g_logFd >= 0) close(g_logFd);
    g_logFd = -1;
    g_on = false;
    g_verbose = false;
    g_fileKnown = false;
    g_earlyLines.clear();
}

bool ConsoleReportOn() { return g_on.load(); }
bool ConsoleVerbose() { return g_verbose.load(); }

void ConsoleToolText(const std::string& text) {
    std::lock_guard lk(g_lock);
    if (g_logFd >= 0) WriteAll(g_logFd, text);
    if (g_verbose.load()) {
        if (g_progressShown) WriteAll(STDERR_FILENO, "\r\033[K");
        g_progressShown = false;
        WriteAll(STDERR_FILENO, text);
    }
}

void ConsoleLogLine(const char* line) {
    if (!g_on.load() || !line) return;
    std::lock_guard lk(g_lock);
    if (!g_fileKnown && g_earlyLines.size() < kEarlyLineLimit) g_earlyLines.emplace_back(line);
    else if (g_writeLogLines && g_logFd >= 0) WriteAll(g_logFd, std::string(line) + "\r\n");
    if (g_verbose.load()) ErrorLine(line);
}

void ConsoleStatus(const char* text) {
    if (!g_on.load() || !g_verbose.load() || !text) return;
    std::lock_guard lk(g_lock);
    ErrorLine(std::string("status: ") + text);
}

void ConsoleBatchStarted() {
    std::lock_guard lk(g_lock);
    g_batchStart = platform::TickCount();
}

std::string ConsoleItemLine(const QueueItem* item) {
    if (!item) return {};
    const std::string source = item->file ? item->file : "";
    switch (item->state.load()) {
    case kItemDone:
        return "done " + source + (item->destFile && *item->destFile ? std::string(" -> ") + item->destFile : "");
    case kItemError: {
        const int32_t code = item->errorCode.load();
        return "failed " + source + ": error " + std::to_string(code) + ", " + ItemErrorMeaning(code);
    }
    case kItemSkipped: return "skipped " + source;
    default: return "stopped " + source;
    }
}

void ConsoleItemEnded(const QueueItem* item) {
    if (!g_on.load() || !item) return;
    const std::string line = ConsoleItemLine(item);
    std::lock_guard lk(g_lock);
    ErrorLine(line);
}

void ConsoleProgress(QueueItem* item) {
    if (!g_on.load() || !g_terminal.load()) return;
    int total = 0, ended = 0;
    {
        QueueLockGuard lock;
        for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) {
            ++total;
            const uint32_t state = it->state.load();
            ended += state == kItemDone || state == kItemError || state == kItemSkipped;
        }
    }
    std::lock_guard lk(g_lock);
    if (!item) {
        if (g_progressShown) WriteAll(STDERR_FILENO, "\r\033[K");
        g_progressShown = false;
        return;
    }
    int percent = GetItemProgress(item, true);
    if (percent <= 0) percent = static_cast<int>(item->run.progress.load());
    char head[64];
    std::snprintf(head, sizeof head, "\r\033[K[%d/%d] %3d%% ", ended + 1, total, percent < 0 ? 0 : percent);
    // One terminal line: the name is cut to keep the line short.
    std::string name = FileName(item->file);
    if (name.size() > 60) name = name.substr(0, 57) + "...";
    WriteAll(STDERR_FILENO, head + name);
    g_progressShown = true;
}

void ConsoleBatchEnded() {
    if (!g_on.load()) return;
    int total = 0, done = 0, failed = 0;
    {
        QueueLockGuard lock;
        for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) {
            ++total;
            const uint32_t state = it->state.load();
            done += state == kItemDone;
            failed += state == kItemError;
        }
    }
    std::lock_guard lk(g_lock);
    const uint64_t ms = g_batchStart ? platform::TickCount() - g_batchStart : 0;
    std::string line = std::to_string(total) + (total == 1 ? " item: " : " items: ") + std::to_string(done) + " done, " +
                       std::to_string(failed) + " failed";
    if (total - done - failed > 0) line += ", " + std::to_string(total - done - failed) + " not converted";
    line += ", " + Seconds(ms);
    if (failed > 0 && !g_logFile.empty()) line += " (log: " + g_logFile + ")";
    ErrorLine(line);
}

}  // namespace ui
