#include "engine/tools/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/cmdline.h"
#include "platform/fs.h"

namespace {

constexpr int kGrowStart = 4096;
constexpr int kHandleReadCap = 16 * 1024 * 1024;  // growing buffer bound of the handle variant
constexpr int kCrtReadCap = 1024 * 1024;          // and of the descriptor variant
constexpr size_t kDataBacklogCap = 64u * 1024 * 1024;
constexpr size_t kTextBacklogCap = 1024 * 1024;
constexpr int kStallPollMs = 100;
// A child's input pipe holds this much: room to leave it alone for a while once full.
constexpr int kInputPipeBytes = 256 * 1024;
// Where a tool named without a folder is looked for, in order, below the working folder.
constexpr const char* kToolPlaces[] = {"", "codecs64/", "codecs/", "tools/"};
// The shortest span a child's reading pace is measured over.
constexpr int64_t kPaceSpanUs = 20000;
// Below this much queued, a full pipe is written again as soon as it has room.
constexpr int kPacedQueueMin = 32 * 1024;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SetNonBlocking(int fd, bool on) {
    if (fd < 0) return;
    int fl = fcntl(fd, F_GETFL);
    if (fl < 0) return;
    fcntl(fd, F_SETFL, on ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK));
}

// Ends made inheritable by CreateCrtPipe, waiting for the next descriptor-variant start on the
// same thread. Kept per thread so that no other worker's child receives them. The pipe's inode
// is kept too: an end the caller closed without starting a child may have its number reused by
// another descriptor, which must not be handed to the next child.
struct InheritableEnd {
    int fd;
    dev_t dev;
    ino_t ino;
};
thread_local std::vector<InheritableEnd> t_inheritable;

bool SameFile(int fd, dev_t dev, ino_t ino) {
    struct stat st {};
    return fstat(fd, &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CProcessWrapper

CProcessWrapper::CProcessWrapper(uint32_t f) : flags(f) {}

CProcessWrapper::~CProcessWrapper() { Close(); }

void CProcessWrapper::WatchOutput(int outFd, int errFd) {
    backlog_[0] = Backlog{outFd, {}, true, false};
    backlog_[1] = Backlog{errFd, {}, false, false};
}

void CProcessWrapper::ForgetBacklog(int fd) {
    if (fd < 0) return;
    for (auto& b : backlog_) {
        if (b.fd == fd) b = Backlog{};
    }
}

CProcessWrapper::Backlog* CProcessWrapper::BacklogFor(int fd) {
    if (fd < 0) return nullptr;
    for (auto& b : backlog_) {
        if (b.fd == fd) return &b;
    }
    return nullptr;
}

size_t CProcessWrapper::TakeBacklog(int fd, char* dst, size_t len) {
    Backlog* b = BacklogFor(fd);
    if (!b || b->Pending() == 0 || len == 0) return 0;
    const size_t n = std::min(len, b->Pending());
    std::memcpy(dst, b->bytes.data() + b->head, n);
    // Advance an offset instead of erasing: small reads from a large backlog stay linear.
    b->head += n;
    if (b->head == b->bytes.size()) {
        b->bytes.clear();
        b->head = 0;
    }
    return n;
}

bool CProcessWrapper::DrainWatched(int timeoutMs, int writeFd) {
    pollfd fds[3];
    Backlog* owners[3] = {nullptr, nullptr, nullptr};
    nfds_t n = 0;
    if (writeFd >= 0) fds[n++] = pollfd{writeFd, POLLOUT, 0};
    for (auto& b : backlog_) {
        // A data stream past its bound is left alone: the child then waits, and a stall ends it.
        if (b.fd < 0 || b.ended || (b.isData && b.Pending() >= kDataBacklogCap)) continue;
        owners[n] = &b;
        fds[n++] = pollfd{b.fd, POLLIN, 0};
    }
    if (n == 0) {
        if (timeoutMs > 0) usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return false;
    }
    int r = poll(fds, n, timeoutMs);
    if (r <= 0) return false;
    bool writable = false;
    char chunk[65536];
    for (nfds_t i = 0; i < n; ++i) {
        if (!fds[i].revents) continue;
        if (!owners[i]) {
            writable = true;
            continue;
        }
        Backlog& b = *owners[i];
        ssize_t got = platform::ReadRetry(b.fd, chunk, sizeof chunk);
        if (got > 0) {
            if (b.head > 0 && b.head >= b.bytes.size() / 2) {  // drop what was handed out, now and then
                b.bytes.erase(0, b.head);
                b.head = 0;
            }
            b.bytes.append(chunk, static_cast<size_t>(got));
            if (!b.isData && b.Pending() > kTextBacklogCap) b.head = b.bytes.size() - kTextBacklogCap;
        } else {
            b.ended = true;  // end of the stream: poll it no more; a later read sees the end itself
        }
    }
    return writable;
}

int CProcessWrapper::WriteAll(int fd, const char* bytes, size_t length) {
    if (fd < 0 || (!bytes && length)) return -1;
    size_t done = 0;
    int64_t lastProgress = NowMs();
    while (done < length) {
        ssize_t n = write(fd, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            pace_.writtenSinceMark += n;
            lastProgress = NowMs();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return -1;  // EPIPE: the child closed its input or ended
        // The pipe is full. Drain the child's output meanwhile, so that a child blocked on a full
        // output pipe can go on reading its input.
        if (process.handle.IsSuspended()) lastProgress = NowMs();
        const int64_t left = static_cast<int64_t>(kWriteStallLimitMs) - (NowMs() - lastProgress);
        if (left <= 0) {
            Terminate();
            return -1;
        }
        const int paced = FullPipeWaitMs(fd);
        if (paced > 0) {
            DrainWatched(static_cast<int>(std::min<int64_t>(left, paced)), -1);
            AfterPacedWait(fd);
        } else DrainWatched(static_cast<int>(std::min<int64_t>(left, kStallPollMs)), fd);
    }
    return static_cast<int>(done);
}

// The child reads its input a page at a time, and waking for every page it frees from a full pipe
// costs more than the page. So a full pipe is left alone until about a third of what it holds has
// been read, by the pace the child reads at; its output is drained while the writer waits.
// The pace is measured over spans of kPaceSpanUs or more: while the writer waits for room page by
// page the pipe stays full, so the child's reading over such a span is its real pace (a shorter
// one measures how soon it wakes, not how fast it reads; at its start, how long it loads). A pipe
// found nearly empty after a wait means the pace was too low: it is doubled.
int CProcessWrapper::FullPipeWaitMs(int fd) {
    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) != 0 || queued <= 0) return 0;
    const int64_t now = NowUs();
    InputPace& p = pace_;
    if (p.markUs == 0) {
        p.markUs = now;
        p.queuedAtMark = queued;
        p.writtenSinceMark = 0;
    } else if (now - p.markUs >= kPaceSpanUs) {
        const int64_t read = p.queuedAtMark + p.writtenSinceMark - queued;
        if (read > 0) {
            const double rate = static_cast<double>(read) / static_cast<double>(now - p.markUs);
            // Faster is believed at once (waking early costs little); slower only bit by bit.
            p.bytesPerUs = rate > p.bytesPerUs ? rate : (3 * p.bytesPerUs + rate) / 4;
        }
        p.markUs = now;
        p.queuedAtMark = queued;
        p.writtenSinceMark = 0;
    }
    if (p.bytesPerUs <= 0 || queued < kPacedQueueMin) return 0;
    const double ms = static_cast<double>(queued) / 3.0 / p.bytesPerUs / 1000.0;
    return static_cast<int>(std::min(ms, static_cast<double>(kStallPollMs)));
}

void CProcessWrapper::AfterPacedWait(int fd) {
    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) == 0 && queued < kInputPipeBytes / 8) pace_.bytesPerUs *= 2;
}

int CProcessWrapper::TimedRead(int fd, int timeoutMs, int maxSize) {
    if (!buffer || bufferSize <= 0) {
        if (!(flags & kProcGrowingBuffer)) return -1;
        std::free(buffer);
        buffer = static_cast<char*>(std::malloc(kGrowStart));
        if (!buffer) return -1;
        bufferSize = kGrowStart;
    }
    const int64_t start = NowMs();
    int got = 0;
    for (;;) {
        if (got >= bufferSize - 1) {
            if (!(flags & kProcGrowingBuffer) || bufferSize > maxSize / 2) break;
            char* bigger = static_cast<char*>(std::realloc(buffer, static_cast<size_t>(bufferSize) * 2));
            if (!bigger) break;
            buffer = bigger;
            bufferSize *= 2;
        }
        const size_t room = static_cast<size_t>(bufferSize - got - 1);
        const size_t old = TakeBacklog(fd, buffer + got, room);
        if (old > 0) {
            got += static_cast<int>(old);
            continue;
        }
        if (fd < 0) break;
        const int64_t left = std::max<int64_t>(0, timeoutMs - (NowMs() - start));
        pollfd p{fd, POLLIN, 0};
        int r;
        do {
            r = poll(&p, 1, static_cast<int>(left));
        } while (r < 0 && errno == EINTR);
        if (r <= 0) break;
        ssize_t n = platform::ReadRetry(fd, buffer + got, room);
        if (n <= 0) break;
        got += static_cast<int>(n);
        if (NowMs() - start >= timeoutMs) break;
    }
    buffer[got] = 0;
    return got;
}

// The tool console: a descriptor of this program that children's unread output goes to.
static std::mutex g_consoleLock;
static int g_console = -1;

void SetToolConsole(int fd) {
    const int copy = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
    std::lock_guard<std::mutex> lock(g_consoleLock);
    if (g_console >= 0) close(g_console);
    g_console = copy;
}

// A child's stream that is not piped: a copy of the tool console (closed by the caller once the
// child has its own), or this program's own stream of that number.
static int ConsoleStream() {
    std::lock_guard<std::mutex> lock(g_consoleLock);
    if (g_console < 0) return platform::kStreamInherit;
    const int copy = fcntl(g_console, F_DUPFD_CLOEXEC, 3);
    return copy >= 0 ? copy : platform::kStreamInherit;
}

static void CloseConsoleStream(int fd) {
    if (fd >= 0) close(fd);
}

int CProcessWrapper::Spawn(platform::SpawnRequest& req) {
    const int rc = process.handle.Start(req);
    for (int fd : {req.stdinFd, req.stdoutFd, req.stderrFd}) {
        if (fd >= 0) close(fd);  // the child's ends; the child has its own copies now
    }
    req.stdinFd = req.stdoutFd = req.stderrFd = platform::kStreamNull;
    if (rc == 0) process.processId = GetProcessIdOfHandle(process.handle);
    return rc;
}

// Splits the command line into the request's arguments and sets its working folder. A relative
// program path names a file below our own current folder, not the child's. False for an empty line.
static bool PrepareSpawn(const char* commandLine, const char* workDir, platform::SpawnRequest& req) {
    req.argv = platform::SplitArgs(commandLine ? commandLine : "");
    if (req.argv.empty()) return false;
    if (workDir && *workDir) {
        req.workDir = workDir;
        const std::string& prog = req.argv[0];
        if (prog.find('/') != std::string::npos && prog[0] != '/') {
            char cwd[4096];
            if (getcwd(cwd, sizeof cwd)) req.program = std::string(cwd) + "/" + prog;
        }
    }
    return true;
}

bool CProcessWrapper::Start(const char* commandLine, const char* workDir, const char*const* /*env*/) {
    Close();
    pace_ = InputPace{};
    platform::SpawnRequest req;
    if (!PrepareSpawn(commandLine, workDir, req)) return false;

    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    auto closeAll = [&] {
        for (int* p : {in, out, err}) {
            platform::CloseFd(p[0]);
            platform::CloseFd(p[1]);
        }
    };
    const bool shown = flags & kProcShown;
    const bool noStd = flags & kProcNoStdHandles;
    if (noStd) {
        req.stdinFd = req.stdoutFd = req.stderrFd = platform::kStreamNull;
    } else if (shown || !(flags & (kProcStdin | kProcStdout | kProcStderr))) {
        req.stdinFd = platform::kStreamNull;
        req.stdoutFd = ConsoleStream();
        req.stderrFd = ConsoleStream();
    } else {
        bool ok = true;
        if (flags & kProcStdin) ok = ok && platform::MakePipe(in, kInputPipeBytes);
        if (flags & kProcStdout) ok = ok && platform::MakePipe(out, 0);
        if (flags & kProcStderr) ok = ok && platform::MakePipe(err, 65536);
        if (!ok) {
            closeAll();
            return false;
        }
        req.stdinFd = (flags & kProcStdin) ? in[0] : platform::kStreamNull;
        req.stdoutFd = (flags & kProcStdout) ? out[1] : platform::kStreamNull;
        if (flags & kProcStderr) {
            req.stderrFd = err[1];
        } else if ((flags & (kProcStdout | kProcStderrToStdout)) == (kProcStdout | kProcStderrToStdout)) {
            req.stderrFd = fcntl(out[1], F_DUPFD_CLOEXEC, 3);  // one pipe, two descriptors to hand over
            if (req.stderrFd < 0) {
                closeAll();
                return false;
            }
        } else {
            req.stderrFd = ConsoleStream();
        }
    }
    const int rc = Spawn(req);
    in[0] = out[1] = err[1] = -1;  // closed by Spawn
    if (rc != 0) {
        closeAll();
        Close();
        return false;
    }
    stdinWrite = in[1];
    stdoutRead = out[0];
    stderrRead = err[0];
    SetNonBlocking(stdinWrite, true);
    WatchOutput(stdoutRead, stderrRead);
    return true;
}

int CProcessWrapper::ReadOutput(int timeoutMs) { return ReadPipe(stdoutRead, timeoutMs); }

int CProcessWrapper::ReadError(int timeoutMs) { return ReadPipe(stderrRead, timeoutMs); }

int CProcessWrapper::ReadPipe(int fd, int timeoutMs) { return TimedRead(fd, timeoutMs, kHandleReadCap); }

int CProcessWrapper::Read(void* buf, int size) {
    if (!buf || size <= 0 || stdoutRead < 0) return -1;
    const size_t old = TakeBacklog(stdoutRead, static_cast<char*>(buf), static_cast<size_t>(size));
    if (old > 0) return static_cast<int>(old);
    ssize_t n = platform::ReadRetry(stdoutRead, buf, static_cast<size_t>(size));
    return n > 0 ? static_cast<int>(n) : -1;
}

int CProcessWrapper::ReadFull(void* buf, int size) {
    if (size == 0) return 0;
    if (!buf || size < 0) return -1;
    char* p = static_cast<char*>(buf);
    int total = 0;
    while (total < size) {
        int n = CProcessWrapper::Read(p + total, size - total);
        if (n <= 0) return total > 0 ? total : -1;
        total += n;
    }
    return total;
}

int CProcessWrapper::Write(const void* bytes, int length) {
    if (stdinWrite < 0 || !bytes || length < 0) return -1;
    size_t len = length == 0 ? std::strlen(static_cast<const char*>(bytes)) : static_cast<size_t>(length);
    if (len == 0) return 0;
    int n = WriteAll(stdinWrite, static_cast<const char*>(bytes), len);
    return n == static_cast<int>(len) ? n : -1;
}

void CProcessWrapper::CloseStdout() {
    ForgetBacklog(stdoutRead);
    platform::CloseFd(stdoutRead);
}

void CProcessWrapper::CloseStdin() { platform::CloseFd(stdinWrite); }

void CProcessWrapper::CloseStderr() {
    ForgetBacklog(stderrRead);
    platform::CloseFd(stderrRead);
}

void CProcessWrapper::ForgetStdin() {}

void CProcessWrapper::Close() {
    childWindow = nullptr;
    CloseStdin();
    CloseStdout();
    CloseStderr();
    process.handle.Release();  // kills the child's group (also after the child's end), then reaps it
    process.processId = 0;
    backlog_[0] = Backlog{};
    backlog_[1] = Backlog{};
    std::free(buffer);
    buffer = nullptr;
}

int CProcessWrapper::Wait(uint32_t timeoutMs) {
    if (!process.handle.Started()) return -1;
    const bool forever = timeoutMs == kProcWaitInfinite;
    const int64_t deadline = NowMs() + (forever ? 0 : timeoutMs);
    for (;;) {
        const bool watching = (backlog_[0].fd >= 0 && !backlog_[0].ended) || (backlog_[1].fd >= 0 && !backlog_[1].ended);
        const int64_t left = forever ? -1 : std::max<int64_t>(0, deadline - NowMs());
        if (!watching) {
            return process.handle.Wait(forever ? platform::ChildProcess::kWaitForever : static_cast<uint32_t>(left));
        }
        const int r = process.handle.Wait(0);
        if (r != 0) return r;
        if (left == 0) return 0;
        DrainWatched(static_cast<int>(forever ? 20 : std::min<int64_t>(left, 20)), -1);
    }
}

bool CProcessWrapper::Terminate() { return process.handle.Kill(); }

bool CProcessWrapper::IsRunning(int* exitCode) { return process.handle.IsRunning(exitCode); }

uint64_t CProcessWrapper::GetMemoryUsage(ProcessMemoryCounters* counters) {
    platform::MemoryInfo info;
    const bool ok = process.handle.GetMemory(&info);
    if (counters) {
        *counters = ProcessMemoryCounters{};
        counters->cb = sizeof(ProcessMemoryCounters);
        counters->WorkingSetSize = info.residentBytes;
        counters->PeakWorkingSetSize = info.peakResidentBytes;
    }
    return ok ? info.residentBytes : 0;
}

bool CProcessWrapper::Suspend(bool resume) {
    if (process.processId == 0) return false;
    return process.handle.Suspend(resume);
}

bool CProcessWrapper::SetPriority(uint32_t priorityClass) {
    int nice;
    switch (priorityClass) {
        case kPriorityClassIdle: nice = 19; break;
        case kPriorityClassBelowNormal: nice = 10; break;
        case kPriorityClassNormal: nice = 0; break;
        case kPriorityClassAboveNormal: nice = -5; break;
        case kPriorityClassHigh: nice = -10; break;
        case kPriorityClassRealtime: nice = -20; break;
        default: return false;
    }
    return process.handle.SetNice(nice);
}

bool CProcessWrapper::SetAffinity(uint32_t mask) {
    if (mask == 0) return false;
    return process.handle.SetAffinity(mask);
}

void CProcessWrapper::SetBufferSize(int size) {
    std::free(buffer);
    buffer = nullptr;
    bufferSize = 0;
    if (size > 0) {
        buffer = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
        if (buffer) {
            bufferSize = size;
            buffer[0] = 0;
        }
    }
}

uint32_t CProcessWrapper::GetProcessIdOfHandle(const platform::ChildProcess& handle) {
    const pid_t pid = handle.Pid();
    return pid > 0 ? static_cast<uint32_t>(pid) : 0xFFFFFFFFu;
}

// ---------------------------------------------------------------------------------------------
// CProcessWrapperCRT

CProcessWrapperCRT::CProcessWrapperCRT(uint32_t f) : CProcessWrapper(f) {}

// The base destructor only reaches the base's stream closers, so this class closes its own.
CProcessWrapperCRT::~CProcessWrapperCRT() { Close(); }

bool CProcessWrapperCRT::Start(const char* commandLine, const char* workDir, const char* const* env) {
    Close();
    pace_ = InputPace{};
    std::vector<InheritableEnd> handOver;
    handOver.swap(t_inheritable);

    platform::SpawnRequest req;
    req.argv = platform::SplitArgs(commandLine ? commandLine : "");
    if (workDir && *workDir) req.workDir = workDir;
    req.envp = env;
    for (const auto& end : handOver) {
        if (SameFile(end.fd, end.dev, end.ino)) req.passFds.push_back(end.fd);
    }
    if (req.argv.empty() || req.argv[0].empty()) return false;

    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    auto closeAll = [&] {
        for (int* p : {in, out, err}) {
            platform::CloseFd(p[0]);
            platform::CloseFd(p[1]);
        }
    };
    bool ok = true;
    if (flags & kProcStdin) ok = ok && platform::MakePipe(in, kInputPipeBytes);
    if (flags & kProcStdout) ok = ok && platform::MakePipe(out, 16384);
    if (flags & kProcStderr) ok = ok && platform::MakePipe(err, 16384);
    if (!ok) {
        closeAll();
        return false;
    }
    const bool merged = (flags & (kProcStdout | kProcStderrToStdout)) == (kProcStdout | kProcStderrToStdout);

    // The name is tried in the child's folder as given, then below "codecs64/", "codecs/" and
    // "tools/" there; a bare name last on PATH, where the system's tools are. The first start wins.
    const std::string name = req.argv[0];
    const bool absolute = name[0] == '/';
    const bool bare = name.find('/') == std::string::npos;
    req.stdinFd = in[0] >= 0 ? in[0] : platform::kStreamNull;
    const int consoleOut = out[1] >= 0 ? -1 : ConsoleStream();
    const int consoleErr = err[1] >= 0 || merged ? -1 : ConsoleStream();
    req.stdoutFd = out[1] >= 0 ? out[1] : consoleOut;
    req.stderrFd = err[1] >= 0 ? err[1] : (merged ? out[1] : consoleErr);
    req.searchPath = false;
    int rc = ENOENT;
    for (const char* prefix : kToolPlaces) {
        if (*prefix && absolute) break;  // an absolute path has no other place to be
        req.program = std::string(prefix) + name;
        // A place that holds no such file is passed over without starting a child for it (each
        // miss would otherwise cost a whole process start on every tool of every item).
        const std::string where = absolute || req.workDir.empty() ? req.program : req.workDir + "/" + req.program;
        if (!platform::PathExists(where.c_str())) continue;
        rc = process.handle.Start(req);
        if (rc == 0) break;
    }
    if (rc != 0 && bare) {
        req.program = name;
        req.searchPath = true;
        rc = process.handle.Start(req);
    }
    platform::CloseFd(in[0]);
    platform::CloseFd(out[1]);
    platform::CloseFd(err[1]);
    CloseConsoleStream(consoleOut);
    CloseConsoleStream(consoleErr);
    if (rc != 0) {
        closeAll();
        Close();
        return false;
    }
    process.processId = GetProcessIdOfHandle(process.handle);
    stdinWriteFd = in[1];
    stdoutReadFd = out[0];
    stderrReadFd = err[0];
    SetNonBlocking(stdinWriteFd, true);
    WatchOutput(stdoutReadFd, stderrReadFd);
    return true;
}

std::string FirstToolPlace(const std::string& name) {
    if (name.empty()) return {};
    for (const char* prefix : kToolPlaces) {
        if (*prefix && name[0] == '/') break;
        const std::string place = prefix + name;
        if (platform::PathExists(place.c_str())) return place;
    }
    return {};
}

int CProcessWrapperCRT::ReadOutput(int timeoutMs) { return TimedRead(stdoutReadFd, timeoutMs, kCrtReadCap); }

int CProcessWrapperCRT::ReadError(int timeoutMs) { return TimedRead(stdoutReadFd, timeoutMs, kCrtReadCap); }

int CProcessWrapperCRT::Read(void* buf, int size) {
    if (stdoutReadFd < 0) return 0;
    if (!buf || size <= 0) return -1;
    const size_t old = TakeBacklog(stdoutReadFd, static_cast<char*>(buf), static_cast<size_t>(size));
    if (old > 0) return static_cast<int>(old);
    ssize_t n = platform::ReadRetry(stdoutReadFd, buf, static_cast<size_t>(size));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && errno == EBADF) return 0;
    return -1;
}

int CProcessWrapperCRT::ReadFull(void* buf, int size) {
    if (size == 0) return 0;
    if (!buf || size < 0 || stdoutReadFd < 0) return size < 0 || !buf ? -1 : 0;
    char* p = static_cast<char*>(buf);
    int total = 0;
    while (total < size) {
        const size_t old = TakeBacklog(stdoutReadFd, p + total, static_cast<size_t>(size - total));
        if (old > 0) {
            total += static_cast<int>(old);
            continue;
        }
        ssize_t n = platform::ReadRetry(stdoutReadFd, p + total, static_cast<size_t>(size - total));
        if (n == 0) return total > 0 ? total : -1;
        if (n < 0) return total;
        total += static_cast<int>(n);
    }
    return total;
}

int CProcessWrapperCRT::Write(const void* bytes, int length) {
    if (length < 1 || !bytes) return -1;
    int n = WriteAll(stdinWriteFd, static_cast<const char*>(bytes), static_cast<size_t>(length));
    return n == length ? n : -1;
}

void CProcessWrapperCRT::CloseStdout() {
    ForgetBacklog(stdoutReadFd);
    platform::CloseFd(stdoutReadFd);
}

void CProcessWrapperCRT::CloseStdin() { platform::CloseFd(stdinWriteFd); }

void CProcessWrapperCRT::CloseStderr() {
    ForgetBacklog(stderrReadFd);
    platform::CloseFd(stderrReadFd);
}

void CProcessWrapperCRT::ForgetStdin() {
    SetNonBlocking(stdinWriteFd, false);
    stdinWriteFd = -1;
}

// ---------------------------------------------------------------------------------------------
// Free functions

bool RunAndWait(const char* commandLine, const char* workDir, uint32_t flags, int* exitCode, uint32_t timeoutMs) {
    platform::SpawnRequest req;
    if (!PrepareSpawn(commandLine, workDir, req)) return false;
    req.stdinFd = platform::kStreamNull;
    if (flags & kProcNoStdHandles) {
        req.stdoutFd = req.stderrFd = platform::kStreamNull;
    } else {
        req.stdoutFd = ConsoleStream();
        req.stderrFd = ConsoleStream();
    }
    platform::ChildProcess child;
    const int started = child.Start(req);
    for (int fd : {req.stdoutFd, req.stderrFd}) CloseConsoleStream(fd);
    if (started != 0) return false;
    if (child.Wait(timeoutMs) != 1) {
        child.Release();  // past the limit: end it, reap it, report failure
        return false;
    }
    int code = 0;
    child.IsRunning(&code);
    if (exitCode) *exitCode = code;
    return true;
}

bool CreateCrtPipe(int* readFd, int* writeFd, unsigned size, bool inheritRead, bool inheritWrite, int /*mode*/) {
    if (!readFd || !writeFd) return false;
    int fds[2];
    const int hint = size > 0 && size <= (1u << 30) ? static_cast<int>(size) : 0;
    if (!platform::MakePipe(fds, hint)) return false;
    *readFd = fds[0];
    *writeFd = fds[1];
    auto remember = [](int fd) {
        struct stat st {};
        if (fstat(fd, &st) == 0) t_inheritable.push_back(InheritableEnd{fd, st.st_dev, st.st_ino});
    };
    if (inheritRead) remember(fds[0]);
    if (inheritWrite) remember(fds[1]);
    return true;
}

char** SplitCommandLine(char* text) {
    if (!text) return nullptr;
    // Room for one pointer more than the blank-separated words, as callers expect.
    size_t words = 0;
    for (const char* p = text; *p;) {
        while (*p == ' ') ++p;
        if (!*p) break;
        ++words;
        while (*p && *p != ' ') ++p;
    }
    char** argv = static_cast<char**>(std::calloc(words + 1, sizeof(char*)));
    if (!argv) return nullptr;
    size_t count = 0;
    char* p = text;
    while (*p && count < words) {
        while (*p == ' ') ++p;
        if (!*p) break;
        argv[count++] = p;
        if (*p == '"') {
            ++p;
            while (*p && *p != '"') ++p;  // an unclosed quote runs to the end of the text
            if (*p) ++p;
        }
        while (*p && *p != ' ') ++p;
        if (*p) *p++ = 0;
    }
    argv[count] = nullptr;
    return argv;
}

bool SetCurrentThreadPriority(int priority) {
    static const int kNice[] = {10, 5, 0, -5, -10};
    const int index = std::clamp(priority, -2, 2) + 2;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kNice[index]) == 0;
}
