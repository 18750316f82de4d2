#include "ui/dialogs/stats.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/timeutil.h"
#include "engine/context.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/cpath.h"
#include "engine/queue/queue.h"
#include "engine/tools/cpu_usage.h"
#include "platform/sync.h"
#include "ui/ids.h"

#include <unistd.h>

namespace ui {
namespace {


template <typename... Args>
std::string Format(const char* format, Args... args) {
    char text[128];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string TimeText(int seconds) {
    char text[QX_TIMESTR_SIZE];
    Int2TimeStr(seconds, text);
    return text;
}

// The machine's own figures when no other source is set: the system's load, the clock measured
// with the time-stamp counter and the program's resident memory. The loads of the running
// sources and encoders are not known here (-1: not shown).
int MachineFigure(int kind) {
    static CCpuUsage system;
    switch (kind) {
    case 1:
    case 2: return -1;
    case 3: return static_cast<int>(CpuClockMHz(false));
    case 4: {
        long pages = 0, resident = 0;
        FILE* f = std::fopen("/proc/self/statm", "r");
        if (!f) return -1;
        const bool read = std::fscanf(f, "%ld %ld", &pages, &resident) == 2;
        std::fclose(f);
        return read ? static_cast<int>(resident * sysconf(_SC_PAGESIZE) / (1024 * 1024)) : -1;
    }
    default: {
        const float usage = system.GetUsage();
        return usage < 0 ? -1 : static_cast<int>(usage);
    }
    }
}

// Speed of every item being converted, for the sum over parallel jobs.
float SumOfRunningSpeeds() {
    float sum = 0;
    QueueLockGuard lock;
    for (QueueItem* item = QueueNext(nullptr); item; item = QueueNext(item)) {
        if (item->state.load() == kItemEncoding) sum += item->run.speed.load();
    }
    return sum;
}

}  // namespace

std::string RemainingTimeText(int seconds, const char* mins, const char* secs) {
    if (seconds >= 61) return Format("%d %s", seconds / 60, mins);
    if (seconds >= 2) return Format("%d %s", seconds, secs);
    return {};
}

std::string ThroughputText(int megabytesPerSecond) {
    if (megabytesPerSecond >= 10240) return Format("%dGB/s", megabytesPerSecond / 1024);
    return Format("%dMB/s", megabytesPerSecond);
}

CDlgStats& StatsWindow() {
    static CDlgStats window;
    return window;
}

bool CDlgStats::OnInitDialog() {
    SetCheck(dlg::stats::sum_check, true);
    gui::ShowWindow(GetItem(dlg::stats::sum_check),
                    GetPrefStore().GetInt("overall.task.parallelize") > 1 ? gui::SW_SHOW : gui::SW_HIDE);
    return true;
}

void CDlgStats::Open(HWND mainWindow) {
    if (hwnd_) {
        for (int id : {dlg::stats::item_elapsed, dlg::stats::speed, dlg::stats::remaining, dlg::stats::output_size,
                       dlg::stats::item_bitrate, dlg::stats::item_reset, dlg::stats::sum_speed}) {
            SetItemText(id, "0");
        }
    } else if (mainWindow) {
        mainWindow_ = mainWindow;
        if (!CreateModeless(nullptr, dlg::stats::id, mainWindow)) return;
        Dock();
        // Opened at a batch's start too: the keyboard stays where the user is.
        gui::ShowWindow(hwnd_, gui::SW_SHOWNOACTIVATE);
    }
    // One console for the window's whole life: a second open of the same port would fail and
    // silence the display after the first job.
    PrefStore& prefs = GetPrefStore();
    if (!console_ && prefs.GetInt("overall.ui.serialDataMode") == 1) {
        int baud = prefs.GetInt("overall.ui.serialBaudRate");
        const char* port = prefs.GetString("overall.ui.serialPort");
        console_ = OpenStatusConsole(port ? port : "", baud > 0 ? static_cast<uint32_t>(baud) : 38400u);
    }
}

void CDlgStats::Dock() {
    if (!hwnd_ || !mainWindow_) return;
    gui::RECT main{}, own{};
    if (!gui::GetWindowRect(mainWindow_, &main) || !gui::GetWindowRect(hwnd_, &own)) return;
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    const int top = height > main.bottom - main.top ? main.top : main.bottom - height;
    gui::MoveWindow(hwnd_, main.right, top, width, height, gui::TRUE);
}

void CDlgStats::UpdateBatchCounters() {
    EngineContext* ctx = GetEngineContext();
    if (!hwnd_ || !ctx) return;
    SetItemText(dlg::stats::processed, Format("%d", ctx->processedFiles.load()).c_str());
    SetItemText(dlg::stats::outputs, Format("%d", ctx->outputFiles.load()).c_str());
    SetItemText(dlg::stats::errors, Format("%d", ctx->errorFiles.load()).c_str());
    SetItemText(dlg::stats::skipped, Format("%d", ctx->skippedFiles.load()).c_str());
    SetItemText(dlg::stats::counter, Format("%u", static_cast<unsigned>(ctx->processedFiles.load())).c_str());
}

void CDlgStats::ShowItemStats(QueueItem* item) {
    EngineContext* ctx = GetEngineContext();
    if (!hwnd_ || !item) return;
    const uint32_t elapsedMs = item->run.elapsed.load();
    const int elapsed = static_cast<int>(elapsedMs / 1000);
    if (elapsed > 0) SetItemText(dlg::stats::item_elapsed, Format("%d:%02d", elapsed / 60, elapsed % 60).c_str());
    const int throughput = ctx ? ctx->throughput.load() : 0;
    if (throughput != 0) SetItemText(dlg::stats::throughput, ThroughputText(throughput).c_str());
    const uint64_t bytes = item->run.bytes.load();
    const uint32_t position = item->run.position.load();
    const int kbps = position ? static_cast<int>(bytes * 8 / position) : 0;  // bits per ms = kbit/s
    if (kbps != 0) SetItemText(dlg::stats::item_bitrate, Format("%dKbps", kbps).c_str());
    if (item->size != 0) SetItemText(dlg::stats::source_size, Format("%dMB", static_cast<int>(item->size / 1024)).c_str());
    if (bytes != 0)
        SetItemText(dlg::stats::output_size, Format("%.1fMB", static_cast<double>(bytes) / (1024.0 * 1024.0)).c_str());
    float speed = item->run.speed.load();
    if (GetPrefStore().GetInt("overall.task.parallelize") > 1 && IsChecked(dlg::stats::sum_check)) speed = SumOfRunningSpeeds();
    if (speed != 0) SetItemText(dlg::stats::sum_speed, Format("%.2fX", static_cast<double>(speed)).c_str());
}

void CDlgStats::UpdateStatsPanel(QueueItem* shown) {
    EngineContext* ctx = GetEngineContext();
    if (!hwnd_ || !ctx) return;
    const bool mainVisible = mainWindow_ && gui::IsWindowVisible(mainWindow_);
    const bool minimised = mainWindow_ && gui::IsIconic(mainWindow_);
    // Hidden in the tray: only the display, when one is attached, still follows the batch.
    if (!mainVisible && !console_) return;
    if (mins_.empty()) {
        mins_ = UiStrings().GetString("mins", 0, "mins");
        secs_ = UiStrings().GetString("secs", 0, "secs");
    }
    auto figure = [&](int kind) { return figures_ ? figures_(kind) : MachineFigure(kind); };
    int total = -1, part1 = -1, part2 = -1, clockMHz = 0;
    if (!minimised || console_) {
        total = figure(0);
        part1 = figure(1);
        part2 = figure(2);
        if (total >= 0) SetItemText(dlg::stats::load_total, Format("%.1f%%", static_cast<double>(total)).c_str());
        if (part1 >= 0 && part1 <= 100) SetItemText(dlg::stats::load_part1, Format("%.1f%%", static_cast<double>(part1)).c_str());
        if (part2 >= 0 && part2 <= 100) SetItemText(dlg::stats::load_part2, Format("%.1f%%", static_cast<double>(part2)).c_str());
        const uint64_t now = platform::TickCount();
        if (!clockRefreshed_ || now - lastClockRefresh_ > 3000) {
            clockMHz = figure(3);
            if (clockMHz >= 100) SetItemText(dlg::stats::clock, Format("%.2f Ghz", clockMHz / 1000.0).c_str());
            const int memory = figure(4);
            if (memory >= 0) SetItemText(dlg::stats::memory, Format("%d MB", memory).c_str());
            lastClockRefresh_ = now;
            clockRefreshed_ = true;
        }
        if (ctx->runningWorkers.load() > 1 && shown) SetItemText(dlg::stats::file_name, CPath(shown->file).GetFileName().c_str());
    }
    const int batchElapsed = ctx->totalElapsedMs.load() / 1000;
    SetItemText(dlg::stats::batch_elapsed, TimeText(batchElapsed).c_str());
    const uint64_t start = ctx->batchStartTime.load();
    const uint64_t sinceMs = start ? platform::TickCount() - start : 0;
    const uint64_t since = sinceMs / 1000;
    SetItemText(dlg::stats::since_start, TimeText(static_cast<int>(since)).c_str());

    // The context's batch time grows only when a job ends: while the first job runs, the batch has
    // run as long as it has been started.
    const float progress = shown ? shown->run.progress.load() : -1.0f;
    const uint64_t ranMs = std::max<uint64_t>(static_cast<uint64_t>(std::max(ctx->totalElapsedMs.load(), 0)),
                                              ctx->runningWorkers.load() > 0 ? sinceMs : 0);
    if (progress < 0 || ranMs < 1000) return;
    const int remaining = ctx->remainingSeconds.load();
    SetItemText(dlg::stats::remaining, RemainingTimeText(remaining, mins_.c_str(), secs_.c_str()).c_str());
    if (console_) {
        SerialStatusFigures f;
        f.progressPercent = progress;
        f.speed1 = shown->run.speed.load();
        f.speed2 = ctx->encodingSpeed.load();
        f.itemCounter1 = ctx->processedFiles.load();
        f.itemCounter2 = ctx->outputFiles.load();
        const uint32_t position = shown->run.position.load();
        f.itemBitrate = position ? static_cast<int64_t>(shown->run.bytes.load() * 8 / position) : 0;
        f.itemFigure = shown->run.bytes.load() / 1024;
        f.remainingSeconds = remaining;
        f.batchElapsedSeconds = batchElapsed;
        f.cpuTotal = total;
        f.cpuPart1 = part1;
        f.cpuPart2 = part2;
        f.cpuClockMHz = clockMHz > 0 ? clockMHz : 0;
        SendStatusRecords(*console_, f);
    }
    if (!minimised) ShowItemStats(shown);
}

bool CDlgStats::OnControlCommand(int id) {
    if (id == 2) {
        gui::PostMessageA(hwnd_, gui::WM_CLOSE, 0, 0);
        return true;
    }
    return false;
}

bool CDlgStats::OnClose() {
    if (console_) {
        bool stopping = false;
        QueueLockGuard lock;
        for (QueueItem* item = QueueNext(nullptr); item && !stopping; item = QueueNext(item)) {
            stopping = item->state.load() == kItemStopping;
        }
        CloseStatusConsole(console_, stopping);
    }
    mainWindow_ = nullptr;
    clockRefreshed_ = false;
    return true;
}

void ShowStats(HWND mainWindow) { StatsWindow().Open(mainWindow); }
void UpdateBatchCounters() { StatsWindow().UpdateBatchCounters(); }
void ShowItemStats(QueueItem* item) { StatsWindow().ShowItemStats(item); }
void UpdateStatsPanel(QueueItem* shown) { StatsWindow().UpdateStatsPanel(shown); }
void DockStats() { StatsWindow().Dock(); }

}  // namespace ui
