#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace platform {

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Closes fds in the child's file actions: everything from 3 up except the ones handed over.
void AddCloseActions(posix_spawn_file_actions_t* fa, std::vector<int> keep) {
    std::sort(keep.begin(), keep.end());
    int next = 3;
    for (int fd : keep) {
        if (fd < next) continue;
        for (int c = next; c < fd; ++c) posix_spawn_file_actions_addclose(fa, c);
        next = fd + 1;
    }
    posix_spawn_file_actions_addclosefrom_np(fa, next);
}

}  // namespace

void InitProcessLayer() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = SIG_IGN;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGPIPE, &sa, nullptr);
        // A closed 0/1/2 would let the next open() land there and become a child's stdio.
        for (int fd = 0; fd <= 2; ++fd) {
            if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
                int n = open("/dev/null", O_RDWR);
                if (n >= 0 && n != fd) {
                    dup2(n, fd);
                    if (n > 2) close(n);
                }
            }
        }
    });
}

bool MakePipe(int fds[2], int sizeHint) {
    InitProcessLayer();
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    if (sizeHint > 0) fcntl(fds[1], F_SETPIPE_SZ, sizeHint);  // a hint; the default is fine too
    return true;
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

ssize_t ReadRetry(int fd, void* buf, size_t len) {
    for (;;) {
        ssize_t n = read(fd, buf, len);
        if (n >= 0 || errno != EINTR) return n;
    }
}

size_t WriteFull(int fd, const void* buf, size_t len) {
    const char* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(fd, p + done, len - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

ChildProcess::~ChildProcess() { Release(); }

int PipeBytesPending(int fd) {
    int pending = 0;
    if (fd < 0 || ioctl(fd, FIONREAD, &pending) != 0) return -1;
    return pending;
}

int ChildProcess::Start(const SpawnRequest& req) {
    InitProcessLayer();
    Release();
    if (req.argv.empty()) return EINVAL;
    const std::string& program = req.program.empty() ? req.argv[0] : req.program;
    if (program.empty()) return ENOENT;

    int devnull = -1;
    auto needNull = [&] {
        if (devnull < 0) devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
        return devnull;
    };

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const int sources[3] = {req.stdinFd, req.stdoutFd, req.stderrFd};
    int err = 0;
    for (int target = 0; target < 3 && err == 0; ++target) {
        int src = sources[target];
        if (src == kStreamInherit) continue;
        if (src == kStreamNull) src = needNull();
        if (src < 0) {
            err = errno ? errno : EBADF;
            break;
        }
        err = posix_spawn_file_actions_adddup2(&fa, src, target);
    }
    // dup2 onto itself clears close-on-exec in the child only.
    for (int fd : req.passFds) {
        if (err == 0 && fd > 2) err = posix_spawn_file_actions_adddup2(&fa, fd, fd);
    }
    if (err == 0) AddCloseActions(&fa, req.passFds);
    if (err == 0 && !req.workDir.empty()) err = posix_spawn_file_actions_addchdir_np(&fa, req.workDir.c_str());

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);  // SIGPIPE ignored here must not stay ignored there
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.reserve(req.argv.size() + 1);
    for (const auto& a : req.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    char* const* envp = req.envp ? const_cast<char* const*>(req.envp) : environ;

    pid_t pid = -1;
    if (err == 0) {
        const bool usePath = req.searchPath && program.find('/') == std::string::npos;
        err = usePath ? posix_spawnp(&pid, program.c_str(), &fa, &attr, argv.data(), envp)
                      : posix_spawn(&pid, program.c_str(), &fa, &attr, argv.data(), envp);
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    if (devnull >= 0) close(devnull);
    if (err != 0) return err;

    std::lock_guard<std::mutex> lock(m_);
    pid_ = pid;
    // A descriptor that becomes readable when the child ends (close-on-exec by default); -1 on
    // kernels without it, where Wait polls waitpid instead.
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    ended_ = false;
    collected_ = false;
    killedByUs_ = false;
    status_ = 0;
    suspendCount_ = 0;
    return 0;
}

bool ChildProcess::Started() const {
    std::lock_guard<std::mutex> lock(m_);
    return pid_ > 0;
}

pid_t ChildProcess::Pid() const {
    std::lock_guard<std::mutex> lock(m_);
    return pid_;
}

bool ChildProcess::NoteEndLocked() {
    if (pid_ <= 0) return false;
    if (ended_) return true;
    for (;;) {
        // WNOWAIT leaves the ended child a zombie: its pid, and so its process group id, stays ours
        // until Release has signalled the group and collects it.
        siginfo_t info{};
        const int r = waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT | WNOHANG);
        if (r == 0 && info.si_pid == pid_) {
            status_ = info.si_code == CLD_EXITED ? W_EXITCODE(info.si_status, 0) : W_EXITCODE(0, info.si_status);
            ended_ = true;
            return true;
        }
        if (r == 0) return false;  // still running
        if (errno == EINTR) continue;
        // ECHILD: collected elsewhere (SIGCHLD ignored by someone); its pid may be reused already.
        ended_ = true;
        collected_ = true;
        status_ = 0;
        return true;
    }
}

int ChildProcess::Wait(uint32_t timeoutMs) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_);
        if (pid_ <= 0) return -1;
        if (NoteEndLocked()) return 1;
        fd = pidfd_;
    }
    const bool forever = timeoutMs == kWaitForever;
    const int64_t deadline = NowMs() + (forever ? 0 : timeoutMs);
    for (;;) {
        int64_t left = forever ? -1 : std::max<int64_t>(0, deadline - NowMs());
        if (fd >= 0) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, static_cast<int>(forever ? -1 : std::min<int64_t>(left, 1 << 30)));
        } else if (left != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(forever ? 5 : std::min<int64_t>(left, 5)));
        }
        {
            std::lock_guard<std::mutex> lock(m_);
            if (pid_ <= 0) return -1;  // released meanwhile: its pidfd is closed, nothing to wait for
            if (NoteEndLocked()) return 1;
        }
        if (!forever && NowMs() >= deadline) return 0;
    }
}

bool ChildProcess::IsRunning(int* exitCode) {
    std::lock_guard<std::mutex> lock(m_);
    int code = 0;
    bool running = false;
    if (pid_ > 0) {
        if (!NoteEndLocked()) {
            running = true;
        } else if (WIFEXITED(status_)) {
            code = WEXITSTATUS(status_);
        } else if (WIFSIGNALED(status_)) {
            code = (killedByUs_ && WTERMSIG(status_) == SIGKILL) ? 0 : 128 + WTERMSIG(status_);
        }
    }
    if (!running && exitCode) *exitCode = code;
    return running;
}

bool ChildProcess::Kill() {
    std::lock_guard<std::mutex> lock(m_);
    if (pid_ <= 0 || NoteEndLocked()) return false;  // ended: Release ends what it left behind
    const bool group = kill(-pid_, SIGKILL) == 0;
    const bool self = kill(pid_, SIGKILL) == 0;
    if (group || self) killedByUs_ = true;
    return group || self;
}

bool ChildProcess::Suspend(bool resume) {
    std::lock_guard<std::mutex> lock(m_);
    if (pid_ <= 0 || ended_) return false;
    if (!resume) {
        if (suspendCount_ == 0 && kill(-pid_, SIGSTOP) != 0 && kill(pid_, SIGSTOP) != 0) return false;
        ++suspendCount_;
        return true;
    }
    if (suspendCount_ == 0) return true;
    if (--suspendCount_ == 0 && kill(-pid_, SIGCONT) != 0 && kill(pid_, SIGCONT) != 0) return false;
    return true;
}

bool ChildProcess::IsSuspended() const {
    std::lock_guard<std::mutex> lock(m_);
    return suspendCount_ > 0;
}

template <typename Fn>
bool ChildProcess::ForEachThread(Fn fn) const {
    if (pid_ <= 0 || ended_) return false;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/task", static_cast<int>(pid_));
    DIR* dir = opendir(path);
    if (!dir) return fn(pid_);
    bool ok = true, any = false;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        any = true;
        if (!fn(static_cast<pid_t>(std::atoi(e->d_name)))) ok = false;
    }
    closedir(dir);
    return ok && any;
}

bool ChildProcess::SetNice(int nice) {
    std::lock_guard<std::mutex> lock(m_);
    // On Linux the nice value belongs to each thread, so every thread of the child gets it.
    return ForEachThread([&](pid_t tid) { return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0; });
}

bool ChildProcess::SetAffinity(uint64_t mask) {
    if (mask == 0) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0; cpu < 64; ++cpu) {
        if (mask & (uint64_t{1} << cpu)) CPU_SET(cpu, &set);
    }
    std::lock_guard<std::mutex> lock(m_);
    return ForEachThread([&](pid_t tid) { return sched_setaffinity(tid, sizeof set, &set) == 0; });
}

bool ChildProcess::GetMemory(MemoryInfo* info) const {
    std::lock_guard<std::mutex> lock(m_);
    if (pid_ <= 0 || ended_ || !info) return false;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid_));
    FILE* f = std::fopen(path, "re");
    if (!f) return false;
    char line[256];
    bool found = false;
    *info = MemoryInfo{};
    while (std::fgets(line, sizeof line, f)) {
        unsigned long long kb = 0;
        if (std::sscanf(line, "VmRSS: %llu kB", &kb) == 1) {
            info->residentBytes = kb * 1024;
            found = true;
        } else if (std::sscanf(line, "VmHWM: %llu kB", &kb) == 1) {
            info->peakResidentBytes = kb * 1024;
        }
    }
    std::fclose(f);
    return found;
}

void ChildProcess::Release() {
    std::lock_guard<std::mutex> lock(m_);
    if (pid_ > 0 && !collected_) {
        // Whatever the child left in its group goes with it, also when the child itself has
        // ended: its uncollected pid keeps the group id from naming anyone else's group.
        kill(-pid_, SIGKILL);
        if (!NoteEndLocked()) kill(pid_, SIGKILL);
        int st = 0;
        while (waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
        }  // SIGKILL cannot be caught: this returns promptly
    }
    if (pidfd_ >= 0) close(pidfd_);
    pidfd_ = -1;
    pid_ = -1;
    ended_ = false;
    collected_ = false;
    killedByUs_ = false;
    status_ = 0;
    suspendCount_ = 0;
}

}  // namespace platform
