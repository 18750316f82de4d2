// Child processes on POSIX: spawning with redirected standard streams, timed waits, signals to
// the child's process group, priority, affinity and memory figures; pipes as descriptors.
//
// Rules this layer keeps for the whole program:
// - SIGPIPE is ignored process-wide (a dead tool must give EPIPE, not kill the program), and
//   descriptors 0, 1 and 2 are open (on /dev/null when they were closed) before the first spawn.
// - Every descriptor made here is close-on-exec. A child receives its 0/1/2 and the descriptors
//   it is explicitly handed, nothing else.
// - A child is started directly by exec, never through a shell, and leads its own process group.
// - Every child is reaped by Release or the destructor, which kill its whole process group first:
//   the child when it still runs, and anything it left behind in the group when it has ended.
//   Wait and IsRunning note the end but leave the ended child unreaped until then, so that its
//   group id cannot be taken by another process while the group may still be signalled.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// Ignores SIGPIPE and makes sure 0/1/2 are open. Idempotent; the functions below call it.
void InitProcessLayer();

// A pipe with both ends close-on-exec; sizeHint > 0 asks the kernel for that capacity.
// Returns false (errno set) on failure.
bool MakePipe(int fds[2], int sizeHint = 0);
// Closes a descriptor when it is >= 0 and sets it to -1.
void CloseFd(int& fd);
// read/write that retry on EINTR. WriteFull writes everything on a blocking descriptor and returns
// the bytes written (less on error).
ssize_t ReadRetry(int fd, void* buf, size_t len);
size_t WriteFull(int fd, const void* buf, size_t len);
// Bytes written into a pipe that its reader has not taken yet (either end of the pipe may be
// asked); -1 when the descriptor is not a pipe or cannot be asked.
int PipeBytesPending(int fd);

// Where a child's standard stream comes from.
inline constexpr int kStreamNull = -1;     // /dev/null
inline constexpr int kStreamInherit = -2;  // this program's own descriptor of the same number

struct SpawnRequest {
    std::vector<std::string> argv;          // the child's arguments, argv[0] included
    std::string program;                    // the file to run; empty: argv[0]
    bool searchPath = true;                 // a program name without '/' is looked up on PATH
    std::string workDir;                    // empty: the current folder; a relative program path
                                            // is taken from this folder
    const char* const* envp = nullptr;      // null: this program's environment
    int stdinFd = kStreamNull;              // a descriptor, kStreamNull or kStreamInherit
    int stdoutFd = kStreamInherit;
    int stderrFd = kStreamInherit;
    std::vector<int> passFds;               // descriptors the child keeps under their own numbers
};

// Memory figures of a process, in bytes.
struct MemoryInfo {
    uint64_t residentBytes = 0;
    uint64_t peakResidentBytes = 0;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the child (Release first when one is held). Returns 0 or the errno of the failure,
    // including a failed exec (no such program, not executable).
    int Start(const SpawnRequest& request);

    bool Started() const;
    pid_t Pid() const;

    // Waits up to timeoutMs (kWaitForever: no limit). 1: the child has ended;
    // 0: still running at the limit; -1: no child.
    static constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
    int Wait(uint32_t timeoutMs);
    // True while the child runs. Otherwise false and *exitCode (when given) is its exit status;
    // 0 when this object killed it; 128 + the signal when something else did; 0 without a child.
    bool IsRunning(int* exitCode = nullptr);
    // SIGKILL to the child's process group, while the child runs. True when sent.
    bool Kill();
    // Stops (resume false) or continues (resume true) the child's process group. Suspensions
    // nest: the group is stopped on the first and continued when every one has been resumed.
    bool Suspend(bool resume);
    bool IsSuspended() const;
    // Nice value for every thread of the child; false when any could not be set.
    bool SetNice(int nice);
    // Processor mask for every thread of the child; false for mask 0 or on failure.
    bool SetAffinity(uint64_t mask);
    // Resident memory of the child; false when it cannot be read.
    bool GetMemory(MemoryInfo* info) const;
    // Kills the child's process group (the child when it still runs, what it left behind when it
    // has ended), reaps the child and forgets it.
    void Release();

private:
    bool NoteEndLocked();  // true when the child has ended (now or before)
    template <typename Fn> bool ForEachThread(Fn fn) const;

    mutable std::mutex m_;
    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool ended_ = false;      // the child has ended; status_ holds how
    bool collected_ = false;  // the ended child is reaped: its pid may belong to another process
    bool killedByUs_ = false;
    int status_ = 0;
    int suspendCount_ = 0;
};

}  // namespace platform
