#include "ui/main/engine_events.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "engine/engine_api.h"
#include "engine/prefs/preffiles.h"
#include "engine/queue/queuefile.h"
#include "platform/gui/gui.h"
#include "ui/dialogs/prompt.h"
#include "ui/framework/dialog.h"
#include "ui/main/batch.h"
#include "ui/main/console_report.h"
#include "ui/main/main_window.h"
#include "ui/main/shell.h"
#include "ui/main/window_services.h"

namespace ui {

namespace {

constexpr size_t kLogLimit = 16384;
constexpr size_t kLogCutFrom = 256;
constexpr uint32_t kJobLockMs = 5000;

// The log is appended to from worker, audio and server threads at once: it has a lock of its own.
std::mutex g_logLock;
std::string g_log;

std::mutex g_counterLock;
BatchCounters g_counters;

const char* Text(intptr_t data) { return reinterpret_cast<const char*>(data); }
const char* Ui(const char* key) { return UiStrings().GetString(key); }

// Holds the UI mutex for a scope, waiting at most timeoutMs; releases only what it took.
class UiLock {
public:
    explicit UiLock(uint32_t timeoutMs) {
        if (gui::UiMutex* m = Shell().uiMutex) held_ = m->lockFor(timeoutMs) ? m : nullptr;
    }
    ~UiLock() {
        if (held_) held_->unlock();
    }
    UiLock(const UiLock&) = delete;
    UiLock& operator=(const UiLock&) = delete;

private:
    gui::UiMutex* held_ = nullptr;
};


// The count-down of notices: only when nobody may be there to answer.
uint32_t NoticeCountDown() {
    ShellState& s = Shell();
    if (s.afterBatchAction.load() != 0 || s.options.exit || GetItemState(nullptr) != 0 || s.autoStartDelay.load() != 0)
        return static_cast<uint32_t>(GetPrefInt("overall.ui.promptCountDown"));
    return 0;
}

// The count-down of questions, halved when an after-batch action waits.
uint32_t QuestionCountDown() {
    int n = GetPrefInt("overall.ui.promptCountDown");
    if (Shell().afterBatchAction.load() != 0) n /= 2;
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

// Workers that start or end jobs at the same moment each ask for the queue file: one write then
// serves every request made before it began, instead of one write (each with its flushes to disk)
// per worker in turn. A caller returns once its state is on disk: a job's start is recorded before
// its tools write anything, which is how a restart after a crash knows what to clean up.
class QueueFileSaver {
public:
    void Save() {
        const uint64_t ticket = asked_.fetch_add(1) + 1;
        std::lock_guard lk(writeLock_);
        if (written_ >= ticket) return;
        const uint64_t covers = asked_.load();
        SaveQueueFile(GetDataPath("queue.xml").c_str());
        written_ = covers;
    }

private:
    std::atomic<uint64_t> asked_{0};
    std::mutex writeLock_;  // after the UI lock when both are held; the queue lock is taken inside
    uint64_t written_ = 0;  // the last request a finished write covers
};

QueueFileSaver g_queueSaver;

// The list's check boxes go to the items under the UI lock; the file is written after it.
void SaveQueueNow() {
    FileListSyncCheckStates();
    g_queueSaver.Save();
}

void LoadUserPrefs() { LoadPreset(GetDataPath("prefs.xml").c_str(), nullptr, false); }

// The job's start in the window and the prefs (an item's preset); under the UI lock. True when
// the queue file is to be saved (after the lock: other workers may be saving it too).
bool ShowJobStart(int64_t row) {
    {
        std::lock_guard lk(g_counterLock);
        g_counters.currentRow = static_cast<int>(row);
    }
    QueueItem* item = QueueGetItem(static_cast<int>(row));
    SetCurrentListItem(item);
    if (!item) return false;
    FileListWriteRow(item);

    if (item->preset && *item->preset) {
        RevertPrefs();
        LoadPreset("qxcore64.xml", nullptr, false);
        LoadPreset(Shell().options.defaultsFile, nullptr, false);
        const bool loaded = LoadPreset(item->preset, nullptr, true) == 0;
        std::lock_guard lk(g_counterLock);
        if (!loaded) {
            const std::string text = std::string("Unable to load ") + item->preset;
            RaiseEvent(4, text.c_str());
            LoadUserPrefs();
            g_counters.presetLoaded = false;
        } else {
            g_counters.presetLoaded = true;
        }
    }
    WithMainWindow([&](CDlgMain& w) { w.SetStatusText(2, item->file); });
    PluginEvent(5, item);
    SettingsChangedLevel = 3;
    ApplyCountdown = 8;
    const bool save = GetPrefInt("overall.task.saveQueue") != 0;
    if (save) FileListSyncCheckStates();
    WithMainWindow([&](CDlgMain& w) { w.ShowJobStarted(item); });
    return save;
}

int JobStarted(QueueItem*, int64_t row) {
    bool save = false;
    {
        UiLock lock(kJobLockMs);
        save = ShowJobStart(row);
    }
    if (save) g_queueSaver.Save();
    return 0;
}

void Balloon(const char* titleKey, QueueItem* item, bool counted) {
    const uint64_t now = gui::TickCount64();
    std::string title;
    {
        std::lock_guard lk(g_counterLock);
        const bool due = GetPrefInt("overall.ui.balloonTips") != 0 && now / 1000 != g_counters.lastBalloon / 1000;
        if (due) {
            title = titleKey;
            if (counted) title = std::string(Ui(titleKey)) + " #" + std::to_string(g_counters.jobsDone);
            else title = Ui(titleKey);
            g_counters.lastBalloon = now;
        }
        if (counted) ++g_counters.jobsDone;
    }
    if (title.empty()) return;
    WithMainWindow([&](CDlgMain& w) { w.ShowBalloon(item->file ? item->file : "", title.c_str()); });
}

int JobEnded(QueueItem* item, int64_t row) {
    {
        std::lock_guard lk(g_counterLock);
        g_counters.currentRow = static_cast<int>(row);
    }
    if (!item) return 0;
    bool revert = false;
    int saveQueue = 0;
    {
        UiLock lock(kJobLockMs);
        saveQueue = GetPrefInt("overall.task.saveQueue");
        if (saveQueue == 2) SaveQueueNow();
        switch (item->state.load()) {
        case kItemDone:
        case kItemEncoding: Balloon("job_done", item, true); break;
        case kItemStopping: Balloon("job_stopped", item, false); break;
        case kItemSkipping: Balloon("job_skipped", item, false); break;
        case kItemFinishing: {
            std::lock_guard lk(g_counterLock);
            ++g_counters.jobsDone;
            break;
        }
        default: break;
        }
        WithMainWindow([&](CDlgMain& w) { w.ShowProgress(item); });
        PluginEvent(6, item);
        if (saveQueue != 0) FileListSyncCheckStates();
        FileListWriteRow(item);
        if (item->group != 0) {
            QueueLockGuard queueLock;
            for (QueueItem* it = QueueNext(item); it; it = QueueNext(it))
                if (it->group == item->group) FileListWriteRow(it);
        }
        std::lock_guard lk(g_counterLock);
        revert = g_counters.presetLoaded;
        g_counters.presetLoaded = false;
    }
    if (saveQueue != 0) g_queueSaver.Save();
    if (revert) {
        RevertPrefs();
        LoadUserPrefs();
    }
    return 0;
}

int BatchStarted() {
    {
        std::lock_guard lk(g_counterLock);
        g_counters.jobsDone = 0;
        g_counters.secondCounter = 0;
        g_counters.batchStart = gui::TickCount64();
    }
    PluginEvent(3, nullptr);
    FileListSyncCheckStates();
    SavePrefs(GetDataPath("prefs.xml").c_str(), nullptr);
    return 0;
}

int BatchEnded(int64_t) {
    WithMainWindow([](CDlgMain& w) {
        w.ShowBatchEnded();
        PluginEvent(7, nullptr);
        FileListRefreshRows();
        if (gui::IsIconic(w.Handle())) {
            gui::ShowWindow(w.Handle(), gui::SW_RESTORE);
            w.Show();
        }
    });
    // The report page needs the maker's web site, which this system has not: it is never opened.
    return 0;
}

}  // namespace

void AppendLogLine(std::string& log, const char* line) {
    if (log.size() > kLogLimit) {
        const size_t cr = log.find('\r', kLogCutFrom);
        if (cr == std::string::npos) log.clear();
        else log.erase(0, cr);
    }
    if (!log.empty()) log += "\r\n";
    log += line ? line : "";
}

std::string LogText() {
    std::lock_guard lk(g_logLock);
    return g_log;
}

BatchCounters GetBatchCounters() {
    std::lock_guard lk(g_counterLock);
    return g_counters;
}

void ResetEventState() {
    {
        std::lock_guard lk(g_logLock);
        g_log.clear();
    }
    std::lock_guard lk(g_counterLock);
    g_counters = BatchCounters{};
}

int ShowPrompt(uint32_t kind, const char* text, const char* title, uint32_t countDown, bool withCheckBox,
               bool* ticked) {
    UiLock lock(platform::kInfinite);
    CDlgPrompt prompt(kind, text, title, countDown, withCheckBox, 0);
    const int answer = prompt.Show(nullptr);
    if (ticked) *ticked = prompt.CheckBoxTicked();
    return answer;
}

int EngineEventCallback(int code, intptr_t data, int64_t arg) {
    ShellState& s = Shell();
    const int assume = s.options.assume;
    switch (code) {
    case 1:
        if (data && ConsoleReportOn()) ConsoleToolText(Text(data));
        else if (data) std::fputs(Text(data), stdout), std::fflush(stdout);
        return 0;
    case 2:
    case 4:
        ShowPrompt(kPromptMessage, Text(data), reinterpret_cast<const char*>(arg), NoticeCountDown());
        return 0;
    case 3:
        if (s.codePage != 936 && data && ConsoleReportOn()) ConsoleToolText(std::string("\n# ") + Text(data) + "\n\n");
        else if (s.codePage != 936 && data) std::printf("\n# %s\n\n", Text(data)), std::fflush(stdout);
        return 0;
    case 5: {
        if (assume == 1) return gui::IDYES;
        if (assume == 2) return gui::IDNO;
        if (assume == 3) return gui::IDCANCEL;
        UiLock lock(platform::kInfinite);
        return gui::MessageBoxA(gui::GetFocus(), Text(data), "Confirm",
                                gui::MB_YESNOCANCEL | gui::MB_ICONQUESTION | gui::MB_SYSTEMMODAL);
    }
    case 6:
        if (assume == 1 || s.autoStartDelay.load() > 0) return 1;
        if (assume == 2) return 0;
        return ShowPrompt(kPromptQuestion, Text(data), reinterpret_cast<const char*>(arg), QuestionCountDown());
    case 7: {
        bool ticked = false;
        const int answer = ShowPrompt(kPromptQuestion, Text(data), nullptr, QuestionCountDown(), true, &ticked);
        return answer + (ticked ? 16 : 0);
    }
    case 8:
        if (assume == 1) return 1;
        if (assume == 2 || assume == 3) return 0;
        return ShowPrompt(kPromptConfirm, Text(data), nullptr, QuestionCountDown());
    case 9: return ShowPrompt(kPromptQuestion, Text(data), nullptr, static_cast<uint32_t>(arg > 0 ? arg : 0));
    case 10: {
        std::string copy;
        {
            std::lock_guard lk(g_logLock);
            AppendLogLine(g_log, Text(data));
            copy = g_log;
        }
        ConsoleLogLine(Text(data));
        WithMainWindow([&](CDlgMain& w) { w.SetLogText(copy); });
        return 0;
    }
    case 12:
        WithMainWindow([&](CDlgMain& w) { w.SetTitleText(Text(data)); });
        return 0;
    case 13:
        WithMainWindow([&](CDlgMain& w) {
            if (const char* text = reinterpret_cast<const char*>(arg)) w.SetStatusText(0, text);
            else w.ShowItemState(static_cast<uint32_t>(data));
        });
        return 0;
    case 14:
        SettingsChangedLevel = static_cast<int>(data);
        ApplyCountdown = static_cast<int>(arg);
        return 0;
    case 15: FileListRefreshRows(); return 0;
    case 16:
        if (GetPrefInt("overall.ui.expertView") == 4)
            WithMainWindow([&](CDlgMain& w) { w.SetExpertText(Text(data)); });
        return 0;
    case 17: return JobStarted(reinterpret_cast<QueueItem*>(data), arg);
    case 18: {
        const int answer = JobEnded(reinterpret_cast<QueueItem*>(data), arg);
        ConsoleItemEnded(reinterpret_cast<QueueItem*>(data));
        return answer;
    }
    case 19:
        ConsoleBatchStarted();
        return BatchStarted();
    case 20: {
        const int answer = BatchEnded(arg);
        if (!ConsoleReportOn()) return answer;
        // Without a display the summary line is the batch's report.
        ConsoleBatchEnded();
        return 1;
    }
    case 21:
        if (gui::HWND h = s.mainHwnd.load()) gui::SendMessageA(h, gui::WM_APP, static_cast<gui::WPARAM>(arg), data);
        return 0;
    case 24: AutoRevertPrefs(); return 0;
    case 25: s.mainHwnd = reinterpret_cast<gui::HWND>(data); return 0;
    case 26:
        if (gui::HWND h = s.mainHwnd.load()) gui::PostMessageA(h, cmd::show_ui, 0, 0);
        return 0;
    case 27: return 0;  // an item's address does not fit the int answer; nothing asks for it yet
    default: return 1;
    }
}

}  // namespace ui
