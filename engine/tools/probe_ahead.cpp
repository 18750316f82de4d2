#include "engine/tools/probe_ahead.h"

#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace {

// Enough for the read-ahead of the widest batch; the oldest output goes first past it.
constexpr size_t kKeptLimit = 64;
// A job's probe waits at most this long for a read-ahead of its file, then runs the tools itself.
constexpr auto kReadAheadWait = std::chrono::seconds(20);

struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    time_t seconds = 0;
    long nanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};

bool StampOf(const char* path, FileStamp* stamp) {
    struct stat st {};
    if (!path || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *stamp = {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    return true;
}

struct Kept {
    std::string path;
    FileStamp stamp;
    std::string output;
};

std::mutex keptMutex;
std::condition_variable readAheadEnded;
std::map<std::string, Kept> kept;  // by command line
std::deque<std::string> keptOrder;
std::multiset<std::string> readingAhead;  // the files being read ahead now

thread_local bool onReadAheadThread = false;

// How long a read-ahead waits for the jobs' own probes before it goes on anyway.
constexpr auto kJobProbesWait = std::chrono::seconds(5);

std::mutex jobProbeMutex;
std::condition_variable jobProbesEnded;
int jobProbes = 0;

}  // namespace

JobProbeScope::JobProbeScope() {
    std::lock_guard<std::mutex> lock(jobProbeMutex);
    ++jobProbes;
}

JobProbeScope::~JobProbeScope() {
    {
        std::lock_guard<std::mutex> lock(jobProbeMutex);
        --jobProbes;
    }
    jobProbesEnded.notify_all();
}

void WaitForJobProbes() {
    std::unique_lock<std::mutex> lock(jobProbeMutex);
    jobProbesEnded.wait_for(lock, kJobProbesWait, [] { return jobProbes == 0; });
}

ProbeReadAheadScope::ProbeReadAheadScope(const char* path) : path_(path ? path : "") {
    onReadAheadThread = true;
    std::lock_guard<std::mutex> lock(keptMutex);
    readingAhead.insert(path_);
}

ProbeReadAheadScope::ProbeReadAheadScope(const char* path, Marked) : path_(path ? path : "") {
    onReadAheadThread = true;
}

void MarkReadingAhead(const std::string& path) {
    std::lock_guard<std::mutex> lock(keptMutex);
    readingAhead.insert(path);
}

ProbeReadAheadScope::~ProbeReadAheadScope() {
    onReadAheadThread = false;
    {
        std::lock_guard<std::mutex> lock(keptMutex);
        if (auto it = readingAhead.find(path_); it != readingAhead.end()) readingAhead.erase(it);
    }
    readAheadEnded.notify_all();
}

bool ReadingProbeAhead() { return onReadAheadThread; }

void KeepProbeOutput(const std::string& line, const char* path, const std::string& output) {
    FileStamp stamp;
    if (!onReadAheadThread || output.empty() || !StampOf(path, &stamp)) return;
    std::lock_guard<std::mutex> lock(keptMutex);
    if (kept.find(line) == kept.end()) keptOrder.push_back(line);
    kept[line] = Kept{path, stamp, output};
    while (keptOrder.size() > kKeptLimit) {
        kept.erase(keptOrder.front());
        keptOrder.pop_front();
    }
}

bool TakeProbeOutput(const std::string& line, const char* path, std::string* output) {
    if (onReadAheadThread || !path) return false;
    std::unique_lock<std::mutex> lock(keptMutex);
    readAheadEnded.wait_for(lock, kReadAheadWait, [&] { return readingAhead.count(path) == 0; });
    auto it = kept.find(line);
    if (it == kept.end()) return false;
    Kept entry = std::move(it->second);
    kept.erase(it);
    for (auto o = keptOrder.begin(); o != keptOrder.end(); ++o)
        if (*o == line) {
            keptOrder.erase(o);
            break;
        }
    lock.unlock();
    FileStamp now;
    if (entry.path != path || !StampOf(path, &now) || !(now == entry.stamp)) return false;
    *output = std::move(entry.output);
    return true;
}

bool ProbeOutputsKeptOrComing(const char* path) {
    if (!path) return false;
    std::lock_guard<std::mutex> lock(keptMutex);
    if (readingAhead.count(path)) return true;
    for (const auto& entry : kept)
        if (entry.second.path == path) return true;
    return false;
}

void ForgetProbeOutputs() {
    std::lock_guard<std::mutex> lock(keptMutex);
    kept.clear();
    keptOrder.clear();
}
