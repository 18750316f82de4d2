#include "ui/main/batch.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/fileutil.h"
#include "engine/engine_api.h"
#include "engine/jobs/jobdriver.h"
#include "engine/prefs/preffiles.h"
#include "engine/tools/preview.h"
#include "platform/power/power.h"
#include "ui/dialogs/prompt.h"
#include "ui/filelist/file_list.h"
#include "ui/framework/dialog.h"
#include "ui/main/main_window.h"
#include "ui/main/shell.h"
#include "ui/main/window_services.h"

namespace ui {

namespace {

struct WorkerTable {
    std::mutex lock;
    std::vector<std::thread> threads;
    std::shared_ptr<std::atomic<int>> alive = std::make_shared<std::atomic<int>>(0);
};

WorkerTable& Workers() {
    static WorkerTable table;
    return table;
}

std::mutex g_runnerLock;
BatchRunner g_runner;
std::atomic<uint64_t> g_lastRevert{0};

int RunBatchSlot(int slot) {
    BatchRunner runner;
    {
        std::lock_guard lk(g_runnerLock);
        runner = g_runner;
    }
    return runner ? runner(slot) : RunQueue(slot);
}

const char* Ui(const char* key) { return UiStrings().GetString(key); }


// Items that did not end done: the exit code of a run that exits after its batch.
int UnfinishedItems() {
    QueueLockGuard lock;
    int n = 0;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) n += it->state.load() != kItemDone;
    return n;
}

// Waits on the UI thread while serving the workers' sends, elsewhere plainly.
bool WaitUntil(unsigned timeoutMs, const std::function<bool()>& ready) {
    if (gui::IsUiThread()) return gui::WaitPumping(timeoutMs, ready);
    const uint64_t end = platform::TickCount() + timeoutMs;
    while (!ready()) {
        if (platform::TickCount() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void EndBatch(int result) {
    ShellState& s = Shell();
    WithMainWindow([](CDlgMain& w) {
        w.ShowProgress(nullptr);
        w.ShowBatchEnded();
    });
    RaiseEvent(16);
    SettingsChangedLevel = 2;
    ApplyCountdown = 0;
    if (result != kItemStopping) {
        if (s.context.taskMode.load() == 2) {
            // The benchmark result page lives on the maker's web site, which this system has not.
        } else if (s.afterBatchAction.load() != 0 || s.exitFlag.load()) {
            // The notice announces the chosen action; with none chosen ("exit" alone) there is
            // nothing to announce and the program just closes.
            if (s.afterBatchAction.load() != 0) {
                CDlgPrompt notice(kPromptConfirm, Ui("shutdown_notice"), nullptr,
                                  static_cast<uint32_t>(std::max(GetPrefInt("overall.ui.promptCountDown"), 0)), false, 1);
                if (notice.Show(nullptr) == 1) {
                    s.exitFlag = true;
                    SetPowerState(s.afterBatchAction.load() - 1);
                }
            }
            if (s.exitFlag.load()) {
                const int code = std::min(UnfinishedItems(), 255);
                if (gui::HWND h = s.mainHwnd.load()) gui::PostMessageA(h, gui::WM_QUIT, static_cast<gui::WPARAM>(code), 0);
            }
        }
    }
    if (s.context.taskMode.load() == 2 && s.uiModeAtStart.load() == 0) {
        s.context.taskMode = 0;
        SetPrefInt("overall.task.mode", 0);
    }
}

void Revert() {
    RevertPrefs();
    LoadPreset("qxcore64.xml", nullptr, false);
    LoadPreset(Shell().options.defaultsFile, nullptr, false);
}

}  // namespace

void SetBatchRunner(BatchRunner runner) {
    std::lock_guard lk(g_runnerLock);
    g_runner = std::move(runner);
}

int WorkerCount() {
    // Threads that have ended stay in the table until they are joined: they are not counted.
    WorkerTable& t = Workers();
    std::lock_guard lk(t.lock);
    return t.threads.empty() ? 0 : t.alive->load();
}

int WaitWorkerThreads(unsigned timeoutMs) {
    WorkerTable& t = Workers();
    std::shared_ptr<std::atomic<int>> alive;
    {
        std::lock_guard lk(t.lock);
        if (t.threads.empty()) return -1;
        alive = t.alive;
    }
    if (!WaitUntil(timeoutMs, [&] { return alive->load() == 0; })) return 0;
    std::vector<std::thread> done;
    {
        std::lock_guard lk(t.lock);
        done.swap(t.threads);
    }
    for (auto& th : done) th.join();
    return 1;
}

int TranscodeWorkerThread(int slot) {
    ShellState& s = Shell();
    const int result = RunBatchSlot(slot);
    // The starter set the count before any worker began: the one that gives back the last ends
    // the batch, once.
    if (s.context.startedWorkers.fetch_sub(1) > 1) return 0;
    EndBatch(result);
    return 0;
}

int StartTranscoding() {
    ShellState& s = Shell();
    const int taskMode = GetPrefInt("overall.task.mode");
    if (taskMode == 1) {
        const int format = GetPrefInt("overall.video.format");
        if (format != 1 && format != 2)
            RaiseEvent(2, "The Distributive Mode is still experimental and under development. At the moment, only "
                          "H.264 an VP8 are supported in this mode.");
    }
    if (WaitWorkerThreads(3000) == 0) {
        RaiseEvent(2, "Previous transcoding session not completed");
        return -1;
    }
    // Folders given before the start are scanned to their end first: the batch counts what they
    // hold, not what the walk has reached so far.
    FileList().WaitFolderAdd();
    if (QueueCount() == 0) {
        RaiseEvent(4, Ui("NO_FILE"));
        return -1;
    }
    SplashClose();
    StopPreviewPlayer();

    if (taskMode != 6) {
        for (;;) {
            std::string dest = GetPrefString("overall.task.destdir");
            if (dest.empty()) break;
            if (dest.size() > 1 && dest[1] == ':' && !IsDriveValid(dest[0])) {
                RaiseEvent(4, Ui("DRIVE_ABSENT"));
                return -1;
            }
            if (IsDirectory(dest.c_str()) || GetPrefInt("overall.automation.autoCreateDir")) break;
            RaiseEvent(4, Ui("CHANGE_DEST_DIR"));
            char path[4096] = {};
            std::snprintf(path, sizeof path, "%s", dest.c_str());
            if (BrowseForPath(path, sizeof path, nullptr, s.mainHwnd.load()) == 0) return -1;
            SetPrefString("overall.task.destdir", path);
        }
    }

    int ready = 0;
    if (taskMode != 6) {
        {
            QueueLockGuard lock;
            for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) {
                if (taskMode == 2) it->state = kItemReady;
                ready += it->state.load() == kItemReady;
            }
        }
        if (ready == 0) {
            if (RaiseEvent(6, Ui("NO_READY_ITEM")) == 0) {
                RaiseEvent(4, Ui("NO_ITEM"));
                return -1;
            }
            QueueLockGuard lock;
            for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) it->state = kItemReady;
            FileListRefreshRows();
        }
    }

    RaiseEvent(16);
    if (QueueCount() == 0) {
        RaiseEvent(4, Ui("NO_ITEM"));
        return -1;
    }
    SetCurrentListItem(QueueGetItem(0));
    WithMainWindow([](CDlgMain& w) { w.ShowJobStarted(nullptr); });

    // Parallel jobs, kept within 1 to 8 whatever the stored value.
    const int parallel = std::clamp(GetPrefInt("overall.task.parallelize"), 1, kMaxWorkers);
    const int count = std::max(std::min(parallel, ready), 1);
    WithMainWindow([](CDlgMain& w) { w.SetTitleText(Ui("preprocessing")); });

    // Both counts are set before any worker starts, so a worker that finishes at once never
    // takes itself for the last.
    s.context.runningWorkers = count;
    s.context.startedWorkers = count;
    WorkerTable& t = Workers();
    std::lock_guard lk(t.lock);
    t.alive->store(count);
    for (int slot = 0; slot < count; ++slot) {
        std::shared_ptr<std::atomic<int>> alive = t.alive;
        t.threads.emplace_back([slot, alive] {
            TranscodeWorkerThread(slot);
            alive->fetch_sub(1);
        });
    }
    return 0;
}

void StartBenchmark() {
    if (QueueCount() == 0) {
        RaiseEvent(4, Ui("NO_FILE"));
        return;
    }
    if (GetPrefInt("overall.task.mode") != 2) {
        SetPrefInt("overall.task.mode", 2);
        Shell().context.taskMode = 2;
        SettingsChangedLevel = 1;
        ApplyCountdown = 0;
        RaiseEvent(4, Ui("switch_benchmark"));
    }
    StartTranscoding();
}

int SetPowerState(int index) {
    static constexpr platform::PowerAction kActions[] = {
        platform::PowerAction::PowerOff, platform::PowerAction::Hibernate, platform::PowerAction::Suspend,
        platform::PowerAction::Reboot, platform::PowerAction::LogOff};
    if (index < 0 || index >= static_cast<int>(std::size(kActions))) return -1;
    std::string error;
    if (!platform::GetPowerControl().Request(kActions[index], &error)) {
        std::fprintf(stderr, "power action %d refused: %s\n", index, error.c_str());
        return -1;
    }
    return 0;
}

void AutoRevertPrefs() {
    const uint64_t now = gui::TickCount64();
    const uint64_t last = g_lastRevert.exchange(now);
    if (last != 0 && now - last <= 200) return;
    const int mode = GetPrefInt("overall.generic.autoRevert");
    if (mode == 1) {
        Revert();
    } else if (mode == 2) {
        const int answer = RaiseEvent(7, Ui("revert_notice"));
        if (answer & 16) SetPrefInt("overall.generic.autoRevert", (answer & 1) ? 1 : 0);
        if (answer & 1) Revert();
    }
    g_lastRevert = gui::TickCount64();
}

}  // namespace ui
