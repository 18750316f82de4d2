#include "engine/jobs/jobdriver.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/fileutil.h"
#include "engine/context.h"
#include "engine/encoders/encoder.h"
#include "engine/engine_api.h"
#include "engine/engine_init.h"
#include "engine/eventlog.h"
#include "engine/jobs/audiopass.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/fileops.h"
#include "engine/jobs/itemstate.h"
#include "engine/jobs/jobstats.h"
#include "engine/jobs/outputchecks.h"
#include "engine/jobs/outputnames.h"
#include "engine/jobs/partialoutput.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/queue/partialname.h"
#include "engine/queue/taskvars.h"
#include "engine/tools/cpu_usage.h"
#include "engine/tools/probe_ahead.h"
#include "platform/fs.h"
#include "platform/procstat.h"
#include "platform/sync.h"

namespace {

PrefStore& Prefs() { return GetPrefStore(); }

LogSource& Log() {
    static LogSource log = MakeLogSource("Job");
    return log;
}

// Lock order: taskLifetime, then the queue lock, then a task's mutex.
// Guards the item's task pointer against the task being freed while another thread uses it.
std::mutex taskLifetime;

// Worker 0 prepares the batch; the others wait for it.
std::mutex batchMutex;
std::condition_variable batchCv;
bool batchPrepared = false;
bool batchCancelled = false;
std::atomic<int> lastResult{0};
// Set by a stop of the whole batch: the workers take no further item. A new batch clears it.
std::atomic<bool> batchStopRequested{false};

// The outputs this worker's item committed: their partial names go once the item's end is recorded.
// The set holds those of every worker, so that a later job of the same name in this run takes them
// for the finished outputs they are, not for what a killed run left.
thread_local std::vector<std::string> committedOutputs;
std::mutex committedMutex;
std::multiset<std::string> committedInThisRun;

void NoteCommittedOutput(const std::string& path) {
    committedOutputs.push_back(path);
    std::lock_guard<std::mutex> lock(committedMutex);
    committedInThisRun.insert(path);
}

void ReleaseCommittedOutputs() {
    for (const std::string& path : committedOutputs) {
        ReleasePartialOutput(path);
        std::lock_guard<std::mutex> lock(committedMutex);
        if (auto it = committedInThisRun.find(path); it != committedInThisRun.end()) committedInThisRun.erase(it);
    }
    committedOutputs.clear();
}

// Before an output is written: what an earlier run of it left goes (it was killed, or its end never
// recorded), so that its own final name is not taken for the user's file. A final file that a job
// of this run finished stays.
void ClearEarlierPartialOutput(const std::string& path) {
    bool finishedHere;
    {
        std::lock_guard<std::mutex> lock(committedMutex);
        finishedHere = committedInThisRun.count(path) != 0;
    }
    if (finishedHere) ReleasePartialOutput(path);
    else DiscardPartialOutput(path);
}

// The final names of a task's outputs, one per output track.
std::vector<std::string> TrackOutputs(const AudioTask* task, const std::string& output) {
    std::vector<std::string> paths;
    for (const std::string& path : task->trackOutputPaths)
        if (!path.empty()) paths.push_back(path);
    if (paths.empty() && !output.empty()) paths.push_back(output);
    return paths;
}

// The lines of the batch's failed items, for the final report.
std::mutex failureMutex;
std::vector<std::string> failureLines;

// Errors that mean the place of the output takes no more bytes.
bool IsWriteErrno(int e) { return e == ENOSPC || e == EDQUOT || e == EROFS || e == EIO || e == EFBIG || e == EACCES || e == EPERM; }

// True when the output's place refuses bytes (a full or read-only file system, an I/O error):
// a small file of its own is written beside the output and removed, or, for an output that is
// no regular file (a device), the output itself is written to.
bool OutputPlaceRefusesWrites(const std::string& output) {
    struct stat st {};
    const bool exists = stat(output.c_str(), &st) == 0;
    // The output reached the largest file this process may write.
    rlimit limit {};
    if (exists && S_ISREG(st.st_mode) && getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(st.st_size) >= limit.rlim_cur)
        return true;
    std::string probe;
    int fd;
    if (exists && !S_ISREG(st.st_mode)) {
        fd = open(output.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    } else {
        const size_t slash = output.find_last_of('/');
        probe = (slash == std::string::npos ? std::string(".") : output.substr(0, slash)) + "/.sonquill-write-check-XXXXXX";
        fd = mkostemp(probe.data(), O_CLOEXEC);
        if (fd < 0) probe.clear();
    }
    if (fd < 0) return IsWriteErrno(errno);
    // One page: a file system that stopped a tool's write has less room than that left.
    static const char block[4096] = {};
    const ssize_t n = write(fd, block, sizeof block);
    bool refused = n < 0 ? IsWriteErrno(errno) : n < static_cast<ssize_t>(sizeof block);
    // A file system that takes the bytes into memory first says so when they are flushed.
    if (!refused && !probe.empty() && fsync(fd) != 0) refused = IsWriteErrno(errno);
    close(fd);
    if (!probe.empty()) unlink(probe.c_str());
    return refused;
}

// Says why an item failed: a failed item always carries a code (fallback when a path set none),
// and its line goes to the log and to the batch's report.
void SayFailure(QueueItem* item, int32_t fallback) {
    if (item->errorCode.load() == 0) SetItemError(fallback, item);
    const std::string line = ItemFailureText(item);
    LogMessage(&Log(), line.c_str(), 0);
    std::lock_guard<std::mutex> lock(failureMutex);
    failureLines.push_back(line);
}

// The report's list of failed items: the first ten lines and how many more there were.
std::string FailureReport() {
    std::lock_guard<std::mutex> lock(failureMutex);
    if (failureLines.empty()) return {};
    std::string text = EngineText("TRANSCODE_FAILED_ITEMS");
    const size_t shown = std::min<size_t>(failureLines.size(), 10);
    for (size_t i = 0; i < shown; ++i) text += "\n" + failureLines[i];
    if (failureLines.size() > shown) text += "\n... (+" + std::to_string(failureLines.size() - shown) + ")";
    return text;
}

// One relocation at a time; the next waits for the previous.
std::mutex relocationMutex;
std::thread relocationThread;

bool SourceNeedsNoFile(uint32_t type) {
    return type == 38 || type == 42 || type == 43 || type == 44 || type == 45 || type == 50;
}

uint32_t TypeOf(const QueueItem* item) { return item->inputType ? item->inputType->typeId : 0; }

std::string Text(const char* s) { return s ? s : ""; }

void AwaitRelocation() {
    std::lock_guard<std::mutex> lock(relocationMutex);
    if (relocationThread.joinable()) relocationThread.join();
}

// Relocation works on copies: the item may be gone when it runs.
void StartRelocation(QueueItem* item) {
    PrefStore& p = Prefs();
    const bool failed = item->state.load() == kItemError;
    const int inMode = p.GetInt(failed ? "overall.automation.relocErrors" : "overall.automation.relocInputs");
    const std::string inFolder = Text(p.GetString(failed ? "overall.automation.relocErrorsPath" : "overall.automation.relocInputsPath"));
    const int outMode = p.GetInt("overall.automation.relocOutputs");
    const std::string outFolder = Text(p.GetString("overall.automation.relocOutputsPath"));
    const std::string source = Text(item->file), output = Text(item->destFile);
    std::lock_guard<std::mutex> lock(relocationMutex);
    if (relocationThread.joinable()) relocationThread.join();
    relocationThread = std::thread([=] {
        LogSource log = MakeLogSource("Relocation");
        if (inMode == 3 || (inMode != 0 && !inFolder.empty()))
            if (!RelocateFile(source.c_str(), inFolder.c_str(), inMode)) LogMessageFormat(&log, "Unable to relocate %s", source.c_str());
        if (outMode != 0 && !outFolder.empty() && !output.empty())
            if (!RelocateFile(output.c_str(), outFolder.c_str(), outMode)) LogMessageFormat(&log, "Unable to relocate %s", output.c_str());
    });
}

int CommonPrefixLength() {
    QueueLockGuard lock;
    std::string prefix;
    bool first = true;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) {
        const std::string path = Text(it->file);
        if (path.find("://") != std::string::npos) return 0;
        if (first) {
            prefix = path.substr(0, path.find_last_of('/') + 1);
            first = false;
        }
        size_t n = 0;
        while (n < prefix.size() && n < path.size() && prefix[n] == path[n]) ++n;
        prefix.resize(n);
    }
    const size_t cut = prefix.find_last_of('/');
    if (cut == std::string::npos) return 0;
    return static_cast<int>(std::max<size_t>(cut + 1, 1));
}

bool PrepareBatch() {
    batchStopRequested = false;
    {
        QueueLockGuard lock;
        for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) it->flags &= ~kItemFlagClaimed;
    }
    if (EngineContext* ctx = GetEngineContext()) {
        ctx->processedFiles = 0;
        ctx->skippedFiles = 0;
        ctx->errorFiles = 0;
        ctx->encodedKB = 0;
        ctx->outputFiles = 0;
        ctx->totalElapsedMs = 0;
        ctx->processedDurationMs = 0;
    }
    ClearKeptOverwriteAnswer();
    SetCommonSourcePrefixLength(0);
    {
        std::lock_guard<std::mutex> lock(failureMutex);
        failureLines.clear();
    }
    if (RaiseEvent(kEventBatchStarting) == 2) {
        QueueLockGuard lock;
        for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it))
            if (it->state.load() == kItemEncoding) it->state = kItemReady;
        return false;
    }
    if (Prefs().GetBool("overall.automation.dupDir")) SetCommonSourcePrefixLength(CommonPrefixLength());
    if (EngineContext* ctx = GetEngineContext()) ctx->batchStartTime = platform::TickCount();
    return true;
}

// The items joined to a group's first item: those that follow it with the same group number.
template <typename Fn>
void ForEachJoinedFollower(QueueItem* item, Fn&& fn) {
    if (item->group == 0) return;
    for (QueueItem* next = QueueNext(item); next && next->group == item->group; next = QueueNext(next)) fn(next);
}

// Reads the probes of waiting items ahead of the workers: while they convert, a thread of its own
// runs the probe's tools on a copy of the next unprobed item and keeps their output for the job's
// probe (ProbeItemAhead). It stays at most as many items ahead as there are workers and wakes when
// a worker takes an item. Copies are made under the queue lock, so an item removed meanwhile is
// never touched.
class ProbeReadAhead {
public:
    // A batch cut off by the program's end leaves its thread to the process's end.
    ~ProbeReadAhead() {
        if (thread_.joinable()) thread_.detach();
    }
    // What was read ahead before the batch (at the program's start) stays for its jobs.
    void Start(int ahead) {
        StopThread();
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = false;
        ahead_ = std::max(ahead, 1);
        readAhead_.clear();
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        StopThread();
        ForgetProbeOutputs();
    }
    void ItemTaken() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++taken_;
        }
        wake_.notify_all();
    }

private:
    void StopThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stop_) {
            const uint64_t seen = taken_;
            lock.unlock();
            QueueItem* copy = batchStopRequested.load() ? nullptr : NextCopy();
            if (copy) {
                ProbeItemAhead(copy);
                QueueFreeItem(copy);
            }
            lock.lock();
            if (!copy) wake_.wait(lock, [&] { return stop_ || taken_ != seen; });
        }
    }
    // A copy of the next item to read ahead; null when enough are waiting read already.
    QueueItem* NextCopy() {
        QueueLockGuard queue;
        int waiting = 0;
        for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) {
            const uint32_t flags = it->flags.load();
            if ((flags & (kItemFlagClaimed | kItemFlagHasStreams | kItemFlagSkip)) || it->state.load() == kItemDone) continue;
            if (readAhead_.count(it)) {
                if (++waiting >= ahead_) return nullptr;
                continue;
            }
            readAhead_.insert(it);
            return QueueCloneItem(it, nullptr);
        }
        return nullptr;
    }

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = true;
    uint64_t taken_ = 0;
    int ahead_ = 1;
    std::set<const QueueItem*> readAhead_;  // only compared, never followed
};
ProbeReadAhead probeReadAhead;

// The next unclaimed item, claimed for this worker; null at the end of the queue. A joined group
// is one job: its followers are claimed with its first item, so no other worker runs them alone.
QueueItem* ClaimNext() {
    QueueLockGuard lock;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) {
        if ((it->flags.load() & kItemFlagClaimed) || !QueueClaimItem(it)) continue;
        ForEachJoinedFollower(it, [](QueueItem* next) { QueueClaimItem(next); });
        return it;
    }
    return nullptr;
}

// Joined items take the state of the job that converted them; done ones count as done.
void FinishJoinedFollowers(QueueItem* item) {
    EngineContext* ctx = GetEngineContext();
    const uint32_t state = item->state.load();
    QueueLockGuard lock;
    ForEachJoinedFollower(item, [&](QueueItem* next) {
        next->state = state;
        next->run.progress = item->run.progress.load();
        if (state == kItemDone && ctx) ctx->processedFiles += 1;
    });
}

// The test phase of a job: a short conversion from "overall.task.testPhasePos" before the real
// one. False when the item must not be converted (the test failed and the user did not go on).
bool RunTestPhase(QueueItem* item) {
    PrefStore& p = Prefs();
    const int setting = p.GetInt("overall.task.testPhase");
    if (setting == 0) return true;
    if (setting == 1 && !(p.GetInt("overall.video.mode") < 2 && p.GetBool("overall.video.enabled") &&
                          !p.GetBool("overall.video.copy") && item->file && platform::PathExists(item->file)))
        return true;
    RaiseEvent(kEventStatusText, EngineText("test_phase"));
    item->flags |= kItemFlagTestPhase;
    const int result = RunItem(item);
    item->flags &= ~kItemFlagTestPhase;
    if (result != kItemError) return item->state.load() < kItemStopping || item->state.load() == kItemFinishing;
    if (item->errorCode.load() != 0) return false;
    if (RaiseEvent(kEventAskCountdown, EngineText("test_failure")) == 0) return false;
    // The user goes on: the real conversion starts from a clean state.
    item->state = kItemEncoding;
    return true;
}

void FinishBatch(int result) {
    EngineContext* ctx = GetEngineContext();
    const int mode = ctx ? ctx->taskMode.load() : 0;
    if (result == kItemStopping) {
        if (mode != 6 && RaiseEvent(kEventBatchEnded, intptr_t{0}, kItemStopping) == 0) {
            ShowFinalReport("TRANSCODE_INTERRUPTED", nullptr);
            LogMessageKey(&Log(), "TRANSCODE_INTERRUPTED", 0);
        }
        return;
    }
    RaiseEvent(kEventStatusText, intptr_t{0});
    const std::string failures = FailureReport();
    if (result == kItemError) {
        if (RaiseEvent(kEventBatchEnded, intptr_t{0}, kItemError) == 0) {
            std::string text = EngineText("TRANSCODE_FAIL");
            if (!failures.empty()) text += "\n\n" + failures;
            RaiseEvent(kEventFinalReport, text.c_str());
        }
        return;
    }
    const uint64_t elapsed = ctx ? platform::TickCount() - ctx->batchStartTime.load() : 0;
    if (ctx) ctx->totalElapsedMs = static_cast<int32_t>(elapsed);
    if (RaiseEvent(kEventBatchEnded, intptr_t{0}, result) != 0 || mode == 2 || mode == 6) return;
    const int outputs = ctx ? ctx->outputFiles.load() : 0;
    const int kb = ctx ? ctx->encodedKB.load() : 0;
    if (outputs == 0) {
        std::string text = EngineText("NO_FILE_OUTPUTED");
        if (!failures.empty()) text += "\n\n" + failures;
        RaiseEvent(kEventFinalReport, text.c_str());
        return;
    }
    // A batch in which items failed is never reported as all done.
    std::string text = EngineText(failures.empty() ? "TRANSCODE_DONE" : "TRANSCODE_PARTLY");
    if (kb != 0) {
        char report[512];
        const std::string format = EngineText("TRANSCODE_REPORT");
        // The report text is a translation: only three integer conversions are passed to it.
        int conversions = 0;
        bool safe = true;
        for (size_t i = 0; i + 1 < format.size(); ++i) {
            if (format[i] != '%') continue;
            if (format[i + 1] == '%') {
                ++i;
                continue;
            }
            safe = safe && format[i + 1] == 'd';
            ++conversions;
        }
        if (safe && conversions <= 3)
            std::snprintf(report, sizeof report, format.c_str(), outputs, kb, static_cast<int>(elapsed / 1000));
        else
            std::snprintf(report, sizeof report, "%s", format.c_str());
        text += "\n\n";
        text += report;
    }
    if (!failures.empty()) text += "\n\n" + failures;
    RaiseEvent(kEventFinalReport, text.c_str());
}

}  // namespace

std::string SafePathText(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '/' || c == '\\' || c == ':') c = '_';
    if (out == "." || out == "..") out = "_";
    return out;
}

bool RelocateFile(const char* path, const char* folder, int mode) {
    if (!path || !*path) return false;
    if (mode == 3) return RemoveOutputFile(path, 3000) == 0;
    std::string target = Text(folder);
    if (target.empty()) return false;
    if (target.back() != '/') target += '/';
    const char* slash = std::strrchr(path, '/');
    target += slash ? slash + 1 : path;
    if (mode == 1) {
        if (MoveFileNoReplace(path, target.c_str())) return true;
        platform::SleepMs(2000);
        return MoveFileNoReplace(path, target.c_str());
    }
    if (mode == 2) return CopyFileReplace(path, target.c_str());
    return false;
}

void FindSubtitleFile(QueueItem* item) {
    if (!item || item->subtitle || !item->file || std::strstr(item->file, "://")) return;
    std::string base = item->file;
    const size_t slash = base.find_last_of('/');
    const size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.resize(dot);
    for (const char* ext : {"ass", "ssa", "srt", "idx", "sub"}) {
        const std::string candidate = base + "." + ext;
        if (platform::PathExists(candidate.c_str())) {
            SetStringField(&item->subtitle, candidate.c_str());
            return;
        }
    }
}

int TogglePauseItem(QueueItem* item) {
    if (!item) return -1;
    std::lock_guard<std::mutex> lifetime(taskLifetime);
    AudioTask* task = item->audioTask.load();
    const uint32_t state = item->state.load();
    if (!task || (state != kItemEncoding && state != kItemPaused)) return 0;
    const bool resume = state == kItemPaused;
    {
        // The state changes under the task's lock, so the pass's end never misses a pause.
        std::lock_guard<std::mutex> lock(task->mutex);
        // The pass is finishing: nothing is left to pause, but a paused item is still resumed, or
        // its decode thread would wait for a resume that never comes.
        if (task->state.load() == 5) {
            if (resume) ChangeItemState(item, kItemPaused, kItemEncoding);
            return 0;
        }
        for (CAudioEncoder* enc : task->encoders)
            if (enc) enc->SetRunning(resume);
        if (resume)
            ChangeItemState(item, kItemPaused, kItemEncoding);
        else
            ChangeItemState(item, kItemEncoding, kItemPaused);
    }
    RaiseEvent(kEventStatusText, EngineText(resume ? "transcode_resuming" : "transcode_paused"));
    return 0;
}

void SetItemPriority(QueueItem* item, uint32_t priorityClass) {
    if (!item) return;
    std::lock_guard<std::mutex> lifetime(taskLifetime);
    AudioTask* task = item->audioTask.load();
    if (!task) return;
    std::lock_guard<std::mutex> lock(task->mutex);
    for (CAudioEncoder* enc : task->encoders)
        if (enc) enc->SetPriority(priorityClass);
}

void StopItem(QueueItem* item) {
    if (!item) {
        // The flag first: a worker that sets its item running after this walk sees it.
        batchStopRequested = true;
        std::vector<QueueItem*> running;
        {
            QueueLockGuard lock;
            for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) {
                const uint32_t state = it->state.load();
                if (state == kItemEncoding || state == kItemPaused || state == kItemSplitting) running.push_back(it);
            }
        }
        for (QueueItem* it : running) StopItem(it);
        return;
    }
    std::lock_guard<std::mutex> lifetime(taskLifetime);
    // An item that has already ended keeps its end: a stop that arrives just after it is no stop.
    uint32_t before = item->state.load();
    do {
        if (before == kItemDone || before == kItemSkipped || before == kItemError) return;
    } while (!item->state.compare_exchange(before, kItemStopping));
    // A paused item's tools are resumed, so that they can see the end of their input.
    if (before == kItemPaused)
        if (AudioTask* task = item->audioTask.load()) {
            std::lock_guard<std::mutex> lock(task->mutex);
            for (CAudioEncoder* enc : task->encoders)
                if (enc) enc->SetRunning(true);
        }
}

bool GetRunningOutput(int index, std::string* path) {
    std::lock_guard<std::mutex> lifetime(taskLifetime);
    AudioTask* task;
    {
        QueueLockGuard lock;
        QueueItem* item = QueueGetItem(index);
        task = item ? item->audioTask.load() : nullptr;
    }
    if (!task) return false;
    std::lock_guard<std::mutex> lock(task->mutex);
    if (!task->outputCreated.load() || task->outputPath.empty()) return false;
    *path = task->outputPath;
    return true;
}

int GetCpuLoad(int kind) {
    if (kind == 3) return static_cast<int>(CpuClockMHz(false));
    if (kind == 4) return static_cast<int>(platform::ReadProcessTreeResidentBytes(getpid()) >> 20);
    if (kind == 5) return static_cast<int>(platform::ReadAvailableMemoryBytes() >> 20);
    if (kind != 1 && kind != 2) {
        static CCpuUsage own;
        const float usage = own.GetProcessUsage(static_cast<uint32_t>(getpid()));
        return usage < 0 ? -1 : static_cast<int>(usage / EngineProcessorCount());
    }
    // The running tasks are taken under the lifetime lock, which keeps them alive; their tools
    // are read under each task's lock, which keeps the pass from closing them meanwhile.
    std::lock_guard<std::mutex> lifetime(taskLifetime);
    std::vector<AudioTask*> tasks;
    {
        QueueLockGuard lock;
        for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it))
            if (AudioTask* task = it->audioTask.load()) tasks.push_back(task);
    }
    double sum = 0;
    bool running = false;
    for (AudioTask* task : tasks) {
        // A task whose lock is held is finishing its tools: it is passed over, never waited for.
        std::unique_lock<std::mutex> lock(task->mutex, std::try_to_lock);
        if (!lock.owns_lock() || task->state.load() != 2) continue;
        for (int t = 0; t < 2; ++t) {
            const double usage = kind == 1 ? (task->readers[t] ? task->readers[t]->GetCpuUsage() : -1.0)
                                           : (task->encoders[t] ? task->encoders[t]->GetCpuUsage() : -1.0);
            if (usage < 0) continue;
            sum += usage;
            running = true;
        }
    }
    return running ? static_cast<int>(sum + 0.5) : -1;
}

int GetQueueProgress(QueueItem* only) {
    QueueLockGuard lock;
    int64_t total = 0, done = 0;
    int lastGroup = 0;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) {
        if (only && it != only) continue;
        if (it->group != 0 && it->group == lastGroup) continue;
        lastGroup = it->group;
        ++total;
        const uint32_t state = it->state.load();
        if (state == kItemDone) {
            done += 100;
        } else if (state == kItemEncoding) {
            int progress = GetItemProgress(it, true);
            const int passes = std::max<int>(it->run.passCount.load(), 1);
            if (progress > 0) done += progress / passes + (it->run.pass.load() - 1) * 100 / passes;
        }
    }
    return total ? static_cast<int>(done / total) : 0;
}

int RenameCopyItem(QueueItem* item) {
    PrefStore& p = Prefs();
    const std::string format = Text(p.GetString("overall.automation.fileNameFormat"));
    if (format.empty()) return 0;
    if (!item->file || !platform::PathExists(item->file)) {
        SetItemError(kItemErrorNoSource, item);
        return -1;
    }
    // The destination folder comes first; tag values in the name cannot leave it.
    const std::string folder = GetTaskVariable(item, nullptr, "DestDir");
    std::string name = ExpandTaskVariables(nullptr, (format + ".$(SourceFileExt)").c_str(), item);
    name = SafePathText(name);
    const std::string target = folder + name;
    if (item->state.load() >= kItemStopping) return -1;
    if (target == item->file) return 0;
    if (PrepareOutputPath(item, target.c_str(), false) != 0) return -1;
    const bool ok = p.GetBool("overall.task.renameCopy") ? CopyFileReplace(item->file, target.c_str())
                                                          : MoveFileNoReplace(item->file, target.c_str());
    return ok ? 0 : -1;
}

namespace {

// One item's job, its steps in order: the run's figures reset, the source checked and probed, the
// task set up, the output claimed and prepared, the passes run, the output committed and counted,
// a write failure named, what an unfinished or trial output leaves settled, the task released.
class ItemJob {
public:
    explicit ItemJob(QueueItem* item)
        : item_(item),
          p_(Prefs()),
          ctx_(GetEngineContext()),
          mode_(ctx_ ? ctx_->taskMode.load() : 0),
          engineMutex_(ctx_ ? ctx_->engineMutex : nullptr) {}

    int Run() {
        ResetRun();
        if (!CheckSource()) return kItemError;
        MakeTask();
        ClaimOutput();
        PrepareOutput();
        if (prepared_ && item_->state.load() != kItemError) {
            RunPasses();
            CommitOutputs();
        }
        NameWriteFailure();
        // Every road to the error state leaves a code: a pass that ended without naming its fault
        // ended before its end.
        if (item_->state.load() == kItemError && item_->errorCode.load() == 0)
            SetItemError(kItemErrorEncoderFail, item_);
        task_->state = 5;
        if (item_->run.startTime.load())
            item_->run.elapsed = static_cast<uint32_t>(platform::TickCount() - item_->run.startTime.load());
        SettleOutputs();
        ReleaseTask();
        return static_cast<int>(item_->state.load());
    }

private:
    void ResetRun() {
        SetItemError(0, item_);
        item_->errorCode = 0;
        item_->run.startTime = 0;
        item_->run.endTime = 0;
        item_->run.elapsed = 0;
        item_->run.position = 0;
        item_->run.bytes = 0;
        item_->run.progress = 0;
    }

    // The source exists, is probed and has room for its temporary files; its subtitles are found.
    bool CheckSource() {
        const uint32_t type = TypeOf(item_);
        if (!SourceNeedsNoFile(type) && (!item_->file || !platform::PathExists(item_->file))) {
            SetItemError(kItemErrorNoSource, item_);
            return false;
        }
        ProbeItem(item_, 0);
        if (!SourceNeedsNoFile(type) && !CheckTempDir(item_)) return false;
        FindSubtitleFile(item_);
        return true;
    }

    void MakeTask() {
        task_ = new AudioTask;
        InitAudioTask(task_, 0);
        task_->item = item_;
        item_->audioTask = task_;
        const bool locked = engineMutex_ && engineMutex_->lockFor(3000);
        SetupAudioTask(task_, item_);
        if (locked) engineMutex_->unlock();
        task_->audioEnabled = true;
    }

    // Another running job writing the same file is waited for (not in streaming or benchmark
    // mode, whose outputs are not files of their own).
    void ClaimOutput() {
        output_ = GetOutputPath(item_, true);
        {
            std::lock_guard<std::mutex> lock(task_->mutex);
            task_->outputPath = output_;
        }
        ownsFile_ = mode_ != 6 && mode_ != 2 && !output_.empty() && output_ != "-" && !IsNullOutput(output_.c_str()) &&
                    !IsNetworkPath(output_.c_str());
        QueueItem* item = item_;
        claim_.emplace(ownsFile_ ? output_ : std::string(), [item] {
            const uint32_t state = item->state.load();
            return state >= kItemStopping && state != kItemFinishing;
        });
        if (claim_->waited() && claim_->claimed())
            LogMessageFormat(&Log(), "Waited for another job writing %s", output_.c_str());
        if (!claim_->claimed()) {
            output_.clear();
            prepared_ = false;
        }
    }

    // The output's folder and file are made; an item without streams fails here, and says so.
    void PrepareOutput() {
        if (prepared_ && ownsFile_ && !IsNullOutput(output_.c_str())) ClearEarlierPartialOutput(output_);
        if (mode_ != 6 && prepared_) {
            bool lastItem;
            {
                QueueLockGuard lock;
                lastItem = QueueNext(item_) == nullptr;
            }
            if (PrepareOutputPath(item_, output_.c_str(), lastItem) != 0) {
                // The output's folder could not be made or the file not created there.
                if (item_->state.load() == kItemError && item_->errorCode.load() == 0) SetItemError(kItemErrorWrite, item_);
                output_.clear();
                prepared_ = false;
            }
        }
        outputIsFile_ = !output_.empty() && output_ != "-" && !IsNullOutput(output_.c_str()) &&
                        !IsNetworkPath(output_.c_str());
        task_->writePartial = outputIsFile_ && mode_ != 2 && mode_ != 6 && !PartialOutputName(output_).empty();
        if (!prepared_) return;
        if (!(item_->flags.load() & kItemFlagUserDest)) SetStringField(&item_->destFile, output_.c_str());
        if (!item_->audio && !item_->video) {
            // The probe found nothing in time: an unreadable or hanging input fails alone, and says so.
            SetItemError(kItemErrorNoStreams, item_);
            LogMessageFormat(&Log(), "No audio or video stream found in %s (error %d: no stream information)",
                             item_->file ? item_->file : "", kItemErrorNoStreams);
        }
    }

    // The audio passes: an analysis pass first when the volume is normalised.
    void RunPasses() {
        AllocBlockBuffer(task_);
        task_->state = 0;
        LogMessageKeyFormat(&Log(), "START_JOB", item_->file ? item_->file : "", 0);
        item_->run.startTime = platform::TickCount();
        item_->flags |= kItemFlagStarted;

        const bool normalise = p_.GetInt("audiofilter.volume.normalization") != 0;
        task_->passCount = normalise ? 2 : 1;
        for (int pass = 1; pass <= task_->passCount; ++pass) {
            task_->pass = pass;
            const bool analysis = normalise && pass == 1;
            if (!task_->buffer && !AllocBlockBuffer(task_)) {
                SetItemError(kItemErrorFormat, item_);
                break;
            }
            if (!RunAudioPass(task_, analysis)) {
                LogMessageKey(&Log(), "ERROR_AUDIO", 0);
                SetItemStateUnlessStopping(item_, kItemError);
            }
            if (analysis) RaiseEvent(kEventSettingsChanged, 2);
            // No real pass after a stop or a failed analysis.
            const uint32_t state = item_->state.load();
            if (state >= kItemStopping && state != kItemFinishing) break;
        }
    }

    // A finished output gets its final name and is counted.
    void CommitOutputs() {
        // Only a failed tagging step leaves the audio whole: such an item still ends well.
        if (item_->state.load() == kItemError && item_->errorCode.load() == kItemErrorTagging) item_->state = kItemEncoding;
        const uint32_t state = item_->state.load();
        if (state != kItemEncoding && state != kItemFinishing) return;
        if (task_->writePartial.load())
            for (const std::string& path : TrackOutputs(task_, output_)) {
                // An empty output never gets its final name (the item fails with error 15 below).
                std::error_code ec;
                const std::string partial = PartialOutputName(path);
                if (!partial.empty() && std::filesystem::file_size(partial, ec) == 0 && !ec) continue;
                CommitPartialOutput(path);
                NoteCommittedOutput(path);
            }
        CountOutput();
    }

    void CountOutput() {
        int64_t kb = outputIsFile_ ? GetFileKB(output_.c_str()) : 0;
        if (kb < 1) kb = task_->outputBytes.load() / 1024;
        const bool measurable = outputIsFile_ && mode_ != 2 && mode_ != 6;
        if (kb < 1 && measurable) SetItemError(kItemErrorEmptyOutput, item_);
        // A test phase's output is a trial: it is not one of the batch's outputs.
        const bool testPhase = item_->flags.load() & kItemFlagTestPhase;
        if (!testPhase && (kb >= 1 || mode_ == 2)) UpdateItemStats(item_, false);
        if (ctx_ && !testPhase && mode_ != 2 && kb >= 1) {
            ctx_->encodedKB += static_cast<int32_t>(kb);
            ctx_->outputFiles += 1;
        }
        if (ctx_ && !testPhase) {
            ctx_->totalEncodingMs += static_cast<int32_t>(item_->run.elapsed.load());
            ctx_->processedDurationMs += static_cast<int32_t>(item_->run.position.load());
        }
    }

    // A tool that failed because the output's place takes no more bytes failed to write, not to
    // start: the place is tried while the unfinished output still fills it.
    void NameWriteFailure() {
        if (item_->state.load() != kItemError || !outputIsFile_ || !TaskCreatedOutput(task_)) return;
        const int32_t code = item_->errorCode.load();
        if ((code == kItemErrorEncoderFail || code == kItemErrorSourceFail || code == kItemErrorEmptyOutput ||
             code == kItemErrorNone) &&
            OutputPlaceRefusesWrites(task_->writePartial.load() && !PartialOutputName(output_).empty()
                                         ? PartialOutputName(output_)
                                         : output_))
            SetItemError(kItemErrorWrite, item_);
    }

    // What an unfinished output leaves: its partial name goes (or it keeps its final name when the
    // user asked to keep such files); a trial or benchmark output goes; a finished one may take
    // the source's time.
    void SettleOutputs() {
        const uint32_t state = item_->state.load();
        const bool finished = state == kItemEncoding || state == kItemFinishing;
        if (task_->writePartial.load() && !finished) {
            const bool keep = mode_ == 0 && state == kItemError && p_.GetBool("overall.task.keepUnfinished");
            for (const std::string& path : TrackOutputs(task_, output_)) {
                if (keep) {
                    CommitPartialOutput(path);
                    ReleasePartialOutput(path);
                } else {
                    DiscardPartialOutput(path);
                }
            }
        } else if (mode_ == 0 && state == kItemError && TaskCreatedOutput(task_) && outputIsFile_ &&
                   !p_.GetBool("overall.task.keepUnfinished")) {
            // Only a file this run created may go; an output that existed before is never touched.
            RemoveOutputFile(output_.c_str(), 1000);
        }
        if (!finished) {
            if (!(item_->flags.load() & kItemFlagUserDest) && TaskCreatedOutput(task_)) SetStringField(&item_->destFile, nullptr);
        } else if (outputIsFile_ && p_.GetBool("overall.output.lastWriteTime") && item_->file) {
            CopyLastWriteTime(item_->file, output_.c_str());
        }
        if (outputIsFile_ && TaskCreatedOutput(task_) &&
            (((item_->flags.load() & kItemFlagTestPhase) && !p_.GetBool("overall.task.testFileSaved")) || mode_ == 2)) {
            RemoveOutputFile(output_.c_str(), 1000);
            if (task_->writePartial.load()) DiscardPartialOutput(output_);
        }
    }

    void ReleaseTask() {
        {
            std::lock_guard<std::mutex> lifetime(taskLifetime);
            item_->audioTask = nullptr;
        }
        ForgetItemProgress(item_);
        FreeBlockBuffer(task_);
        FreeAudioTask(task_);
        delete task_;
        task_ = nullptr;
        // The audio pass takes the engine mutex back when its threads end; the item gives it up
        // here, so that the next item's setup, on whichever worker, finds it free.
        while (engineMutex_ && engineMutex_->ownedByCaller()) engineMutex_->unlock();
    }

    QueueItem* item_;
    PrefStore& p_;
    EngineContext* ctx_;
    const int mode_;
    platform::RecursiveMutex* engineMutex_;
    AudioTask* task_ = nullptr;
    std::string output_;
    bool ownsFile_ = false;
    bool prepared_ = true;
    bool outputIsFile_ = false;
    std::optional<OutputNameClaim> claim_;  // held until the job ends
};

}  // namespace

int RunItem(QueueItem* item) { return ItemJob(item).Run(); }

namespace {

// The first worker prepares the batch (and starts the probes' read-ahead); the others wait for
// it. False when the preparation cancelled the batch.
bool JoinBatch(int workerIndex, int mode, EngineContext* ctx) {
    if (workerIndex == 0) {
        const bool go = PrepareBatch();
        // Renaming and copying probe nothing.
        if (go && mode != 5) probeReadAhead.Start(ctx ? ctx->runningWorkers.load() : 1);
        std::lock_guard<std::mutex> lock(batchMutex);
        batchPrepared = true;
        batchCancelled = !go;
        batchCv.notify_all();
    } else {
        std::unique_lock<std::mutex> lock(batchMutex);
        batchCv.wait(lock, [] { return batchPrepared; });
    }
    std::lock_guard<std::mutex> lock(batchMutex);
    return !batchCancelled;
}

// A joined group whose inputs do not fit together fails as a whole; true when it did.
bool FailMismatchedGroup(QueueItem* item, PrefStore& p, EngineContext* ctx) {
    if (item->group == 0 || TypeOf(item) == 40 || CheckJoinSettings(item, !p.GetBool("overall.stack.mode"))) return false;
    SetItemError(kItemErrorFormat, item);
    SayFailure(item, kItemErrorFormat);
    FinishJoinedFollowers(item);
    if (ctx) ctx->errorFiles += 1;
    return true;
}

// One run of the item's job, after the test phase when there is one; the job's result. Sets
// *notRun when the job start was refused or the item changed meanwhile.
int RunOnce(QueueItem* item, int index, int mode, uint32_t before, bool* notRun) {
    if (mode == 0 && !RunTestPhase(item)) {
        // The test phase ended the item: it stopped, or failed and is not converted.
        const uint32_t state = item->state.load();
        const int result = state == kItemStopping || state == kItemSkipping ? static_cast<int>(state) : int{kItemError};
        if (result == kItemError) SetItemStateUnlessStopping(item, kItemError);
        return result;
    }
    SetItemState(item, kItemEncoding);
    const int answer = RaiseEvent(kEventJobStarted, reinterpret_cast<intptr_t>(item), index);
    if (answer == 2 || item->state.load() != kItemEncoding) {
        // Not run: the item shows what it showed before.
        if (answer == 2) ChangeItemState(item, kItemEncoding, before == kItemEncoding ? kItemReady : before);
        *notRun = true;
        return 0;
    }
    const int result = mode == 5 ? (RenameCopyItem(item) == 0 ? int{kItemEncoding} : int{kItemError}) : RunItem(item);
    // A rename or copy that failed after its checks could not write its target.
    if (mode == 5 && result == kItemError && item->errorCode.load() == 0 && item->state.load() < kItemStopping)
        SetItemError(kItemErrorWrite, item);
    return result;
}

// The item's end after its last run: its state and the batch's counts, relocation, the log.
void RecordItemEnd(QueueItem* item, int index, int result, int mode, PrefStore& p, EngineContext* ctx) {
    item->run.progress = 100;
    const bool success = result == kItemEncoding || result == kItemFinishing;
    if (mode == 3 || mode == 5 || mode == 2 || mode == 0 || mode == 1 || mode == 4) {
        if (success) {
            item->state = kItemDone;
            if (ctx) ctx->processedFiles += 1;
        }
    }
    if ((result == kItemEncoding || result == kItemError) &&
        (p.GetInt("overall.automation.relocInputs") || p.GetInt("overall.automation.relocErrors") ||
         p.GetInt("overall.automation.relocOutputs"))) {
        RaiseEvent(kEventStatusText, EngineText("relocating"));
        StartRelocation(item);
    }
    if (result == kItemStopping) {
        if (ctx) ctx->skippedFiles += 1;
        item->state = item->errorCode.load() ? kItemError : kItemReady;
    } else if (result == kItemSkipping) {
        if (ctx) ctx->skippedFiles += 1;
        item->state = kItemSkipped;
    } else if (result == kItemFinishing) {
        item->state = kItemDone;
    } else if (result == kItemError) {
        if (ctx) ctx->errorFiles += 1;
    }
    if (item->state.load() == kItemError) SayFailure(item, kItemErrorEncoderFail);
    RaiseEvent(kEventJobEnded, reinterpret_cast<intptr_t>(item), index);
    LogMessageKeyFormat(&Log(), "FINISH_JOB", item->file ? item->file : "", 0);
    FinishJoinedFollowers(item);
}

// Runs a claimed item as often as the mode loops it (benchmark and streaming modes); the last
// result, or `result` unchanged when nothing ran.
int RunClaimedItem(QueueItem* item, int mode, PrefStore& p, EngineContext* ctx, int result) {
    const int index = QueueIndexOf(item);
    const int loops = (mode == 2 || mode == 6) ? std::max(p.GetInt("overall.task.loops"), 1) : 1;
    for (int loop = 0; loop < loops; ++loop) {
        if (item->state.load() == kItemDone && mode != 2 && mode != 6) {
            // Its end was recorded: partial names a killed run left beside the output go.
            if (item->destFile && mode != 5) ReleasePartialOutput(item->destFile);
            return result;
        }
        if (item->flags.load() & kItemFlagSkip) {
            RaiseEvent(kEventJobStarted, intptr_t{0}, index);
            RaiseEvent(kEventJobEnded, intptr_t{0}, index);
            if (ctx) ctx->skippedFiles += 1;
            return result;
        }
        const uint32_t before = item->state.load();
        SetItemState(item, kItemEncoding);
        if (batchStopRequested.load()) {
            // The batch was stopped as this item was taken: it stays as it was.
            ChangeItemState(item, kItemEncoding, before == kItemEncoding ? kItemReady : before);
            return kItemStopping;
        }
        bool notRun = false;
        const int ran = RunOnce(item, index, mode, before, &notRun);
        if (notRun) return result;
        result = ran;
        item->run.endTime = platform::TickCount();
        if (loop == loops - 1) break;
        if (result != kItemFinishing) {
            RaiseEvent(kEventJobEnded, reinterpret_cast<intptr_t>(item), index);
            return result;
        }
        item->state = kItemDone;
        if (ctx) ctx->processedFiles += 1;
        RaiseEvent(kEventJobEnded, reinterpret_cast<intptr_t>(item), index);
    }
    RecordItemEnd(item, index, result, mode, p, ctx);
    return result;
}

// After an item's job: the partial names of what it committed go, a stop seen just after a
// failure counts as a stop, and an unattended batch lets a done item (and its group) leave.
int AfterItem(QueueItem* item, PrefStore& p, int result) {
    // The job end event has recorded the item's end (the saved queue): the partial names go.
    ReleaseCommittedOutputs();
    if (item->state.load() > kItemError) {
        item->state = kItemError;
        result = kItemStopping;
    }
    if (result == kItemError) {
        for (int i = 0; i < 5 && item->state.load() != kItemStopping; ++i) platform::SleepMs(100);
        if (item->state.load() == kItemStopping) result = kItemStopping;
    }
    if (p.GetBool("overall.automation.autoTask") && item->state.load() == kItemDone) {
        // The joined items were converted with it: they leave with it.
        std::vector<QueueItem*> joined;
        {
            QueueLockGuard lock;
            ForEachJoinedFollower(item, [&](QueueItem* next) { joined.push_back(next); });
        }
        for (QueueItem* next : joined) QueueFreeItem(next);
        QueueFreeItem(item);  // unlinked and freed: nothing else holds it once its job ended
        RaiseEvent(kEventQueueChanged);
    }
    return result;
}

}  // namespace

int RunQueue(int workerIndex) {
    PrefStore& p = Prefs();
    EngineContext* ctx = GetEngineContext();
    const int mode = p.GetInt("overall.task.mode");
    if (ctx) ctx->taskMode = mode;

    const bool go = JoinBatch(workerIndex, mode, ctx);
    int result = go ? 0 : -1;
    while (go) {
        if (batchStopRequested.load()) {
            result = kItemStopping;
            break;
        }
        QueueItem* item = ClaimNext();
        probeReadAhead.ItemTaken();
        if (!item) break;
        SetItemError(0, item);
        if (workerIndex == 0) SetLastItemError(0);
        if (FailMismatchedGroup(item, p, ctx)) continue;
        result = RunClaimedItem(item, mode, p, ctx, result);
        result = AfterItem(item, p, result);
        if (result == kItemStopping) break;
    }
    lastResult = result;

    // The worker that gives back the last count finishes the batch.
    const bool last = !ctx || ctx->runningWorkers.fetch_sub(1) <= 1;
    if (last) {
        probeReadAhead.Stop();
        RaiseEvent(kEventStatusText, EngineText("relocating"));
        AwaitRelocation();
        {
            std::lock_guard<std::mutex> lock(batchMutex);
            batchPrepared = false;
        }
        if (result != -1) FinishBatch(result);
    }
    return result;
}
