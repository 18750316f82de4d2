// The runner every outside tool (encoders, decoders, the player, information and tagging tools)
// is started through. CProcessWrapper starts a command line with the standard streams its flags
// ask for, reads the child's output with time limits into a buffer it owns, writes to the child's
// input, waits for the child, ends it and changes its priority, processors and run state.
// CProcessWrapperCRT does the same through plain descriptors and also finds a tool in the
// "codecs64/", "codecs/" and "tools/" folders.
//
// The command line is one text, split into arguments by the quoting rules in platform/cmdline.h
// and started without a shell. "No descriptor" is -1 in every descriptor field.
//
// A child can never hang its parent: output pipes are drained while the parent waits for the
// child or for room in its input pipe, a write that makes no progress for kWriteStallLimitMs
// (not counting time the child is suspended) ends the child, and RunAndWait has a limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/process.h"

// Flags given at construction.
inline constexpr uint32_t kProcGrowingBuffer = 0x1;     // timed reads grow the buffer (4096 first)
inline constexpr uint32_t kProcShown = 0x2;             // no redirection at all
inline constexpr uint32_t kProcStdin = 0x1000;          // a pipe to the child's standard input
inline constexpr uint32_t kProcStdout = 0x2000;         // a pipe from its standard output
inline constexpr uint32_t kProcStderr = 0x4000;         // a pipe from its standard error
inline constexpr uint32_t kProcStderrToStdout = 0x8000; // with kProcStdout: stderr into that pipe
inline constexpr uint32_t kProcNoStdHandles = 0x10000;  // all three streams on /dev/null

// Priority classes as the engine names them; SetPriority maps them to nice values.
inline constexpr uint32_t kPriorityClassIdle = 0x40;
inline constexpr uint32_t kPriorityClassBelowNormal = 0x4000;
inline constexpr uint32_t kPriorityClassNormal = 0x20;
inline constexpr uint32_t kPriorityClassAboveNormal = 0x8000;
inline constexpr uint32_t kPriorityClassHigh = 0x80;
inline constexpr uint32_t kPriorityClassRealtime = 0x100;

inline constexpr uint32_t kProcWaitInfinite = 0xFFFFFFFFu;
// A write into a child that accepts nothing for this long ends the child and fails. This is the
// engine's longest wait on a tool (a progress read); a suspended child's time is not counted.
inline constexpr uint32_t kWriteStallLimitMs = 10000;
// RunAndWait's default limit; a run still going then is ended and reported as failed.
inline constexpr uint32_t kRunAndWaitLimitMs = 10 * 60 * 1000;

// Memory figures of the child, in bytes (cb is set by GetMemoryUsage to the structure's size).
struct ProcessMemoryCounters {
    uint32_t cb = 0;
    uint64_t PeakWorkingSetSize = 0;
    uint64_t WorkingSetSize = 0;
};

// The child: its process (waited on, signalled, reaped by the platform layer) and its id.
struct ProcessInformation {
    platform::ChildProcess handle;
    uint32_t processId = 0;
};

class CProcessWrapper {
public:
    explicit CProcessWrapper(uint32_t flags = 0);
    virtual ~CProcessWrapper();
    CProcessWrapper(const CProcessWrapper&) = delete;
    CProcessWrapper& operator=(const CProcessWrapper&) = delete;

    // Closes what was open, then starts the command line in the working folder (null: the current
    // one). The handle variant ignores the environment. False when the program cannot be started;
    // the wrapper is then closed.
    virtual bool Start(const char* commandLine, const char* workDir = nullptr, const char* const* env = nullptr);
    // Timed reads of the child's standard output / error into `buffer` (see ReadPipe).
    virtual int ReadOutput(int timeoutMs);
    virtual int ReadError(int timeoutMs);
    // One read from standard output: the bytes read, -1 at the end of the data or on failure.
    virtual int Read(void* buf, int size);
    // Reads until size bytes have come: that total; on failure the total so far, -1 when none.
    virtual int ReadFull(void* buf, int size);
    // Writes all bytes to the child's standard input. Length 0 writes the zero-terminated text.
    // The bytes written, or -1 without an input pipe, on failure, or when the child stalls.
    virtual int Write(const void* bytes, int length);
    virtual void CloseStdout();
    virtual void CloseStdin();
    virtual void CloseStderr();
    virtual void ForgetStdin();
    // Reads what the descriptor gives within timeoutMs into `buffer`, after the text already
    // drained from it. Ends at the limit, the end of the data, or a full buffer (a growing buffer
    // doubles first, up to 16 MiB). Returns the bytes read this call; `buffer` is zero-terminated.
    // -1 at once without a buffer unless the buffer grows.
    virtual int ReadPipe(int fd, int timeoutMs);

    // Closes the streams, kills the child's process group (a child that still runs, and whatever an
    // ended one left behind in it), reaps the child and frees the buffer.
    void Close();
    // 1 when the child has ended, 0 at the time limit, -1 without a child. Captured output is
    // drained meanwhile, so a child that fills its pipes still reaches its end.
    int Wait(uint32_t timeoutMs);
    // Kills the child (and its process group). False without a running child.
    bool Terminate();
    // True while the child runs; otherwise its exit code into *exitCode (0 when we ended it,
    // 128 + the signal when something else did, 0 without a child).
    bool IsRunning(int* exitCode = nullptr);
    // The child's resident memory in bytes, 0 when it cannot be read.
    uint64_t GetMemoryUsage(ProcessMemoryCounters* counters = nullptr);
    // Suspends (resume false) or resumes (true) the child; nested suspensions need as many resumes.
    bool Suspend(bool resume);
    bool SetPriority(uint32_t priorityClass);
    // Processor mask (bit n: processor n); false for 0.
    bool SetAffinity(uint32_t mask);
    // Frees the buffer and allocates one of this size (for reads without the growing flag).
    void SetBufferSize(int size);
    // The process id of a child, or 0xFFFFFFFF when there is none.
    static uint32_t GetProcessIdOfHandle(const platform::ChildProcess& handle);

    uint32_t flags;
    char* buffer = nullptr;  // owned; zero-terminated after a timed read
    int bufferSize = 0;
    int stdinWrite = -1;
    int stdoutRead = -1;
    int stderrRead = -1;
    ProcessInformation process;
    void* childWindow = nullptr;  // always null here: shown children are not looked up

protected:
    // Output drained from a pipe while the parent waited, handed out by the next reads.
    struct Backlog {
        int fd = -1;
        std::string bytes;
        bool isData = true;  // data is kept whole (up to a bound); diagnostics keep the newest part
        bool ended = false;  // the pipe has reached its end; only the bytes kept are left
        size_t head = 0;     // bytes before this offset were handed out already
        size_t Pending() const { return bytes.size() - head; }
    };
    void WatchOutput(int outFd, int errFd);
    void ForgetBacklog(int fd);
    Backlog* BacklogFor(int fd);
    // Moves up to len bytes of fd's backlog to dst; returns the count.
    size_t TakeBacklog(int fd, char* dst, size_t len);
    // Polls the watched pipes (and writeFd for room, when >= 0) up to timeoutMs and drains what
    // they hold. Returns true when writeFd has room or an error to report.
    bool DrainWatched(int timeoutMs, int writeFd);
    // The shared write loop (blocking semantics over a non-blocking descriptor).
    int WriteAll(int fd, const char* bytes, size_t length);
    // How long to leave a full input pipe alone before writing again (see WriteAll); 0: wait for
    // room. AfterPacedWait corrects the pace when the pipe ran nearly dry meanwhile.
    int FullPipeWaitMs(int fd);
    void AfterPacedWait(int fd);
    // The shared timed read; maxSize caps a growing buffer.
    int TimedRead(int fd, int timeoutMs, int maxSize);
    // Starts the request (the program and argv set by the caller) with the given child streams;
    // closes the child ends in any case. 0 or an errno.
    int Spawn(platform::SpawnRequest& req);

    Backlog backlog_[2];

    // How fast the child reads its input, measured over spans while its pipe is kept full.
    struct InputPace {
        int64_t markUs = 0;             // when the current span began, the pipe full
        int64_t queuedAtMark = 0;       // the bytes it held then
        int64_t writtenSinceMark = 0;
        double bytesPerUs = 0;          // 0 until measured
    };
    InputPace pace_;
};

class CProcessWrapperCRT : public CProcessWrapper {
public:
    explicit CProcessWrapperCRT(uint32_t flags = 0);
    ~CProcessWrapperCRT() override;

    // Streams without a pipe flag stay this program's own (standard input is /dev/null). The
    // program is tried as named in the working folder (the current one when none is given), then
    // under its "codecs64/", "codecs/" and "tools/", and a name without '/' last on PATH; the
    // first that starts wins. Descriptors made inheritable by CreateCrtPipe on this thread are
    // handed to the child under their numbers.
    bool Start(const char* commandLine, const char* workDir = nullptr, const char* const* env = nullptr) override;
    // Both read standard output, with a time limit; a growing buffer stops at 1 MiB.
    int ReadOutput(int timeoutMs) override;
    int ReadError(int timeoutMs) override;
    // >0: the count; 0 with no descriptor; -1 at the end of the data or on failure.
    int Read(void* buf, int size) override;
    // At the end of the data: the total, or -1 when nothing came; on error the total so far.
    int ReadFull(void* buf, int size) override;
    // Writes exactly length bytes; -1 when fewer than 1 could be written.
    int Write(const void* bytes, int length) override;
    void CloseStdout() override;
    void CloseStdin() override;
    void CloseStderr() override;
    // Forgets the input descriptor without closing it (the caller now owns it, in blocking mode).
    void ForgetStdin() override;

    int stdinWriteFd = -1;
    int stdoutReadFd = -1;
    int stderrReadFd = -1;
};

// The file CProcessWrapperCRT would start first for the program name (no working folder given):
// the name in the current folder, then under its "codecs64/", "codecs/" and "tools/". Empty when
// none of them holds it (a bare name is then looked for on PATH).
std::string FirstToolPlace(const std::string& name);

// Runs the command line to its end without redirection (kProcNoStdHandles: all streams on
// /dev/null; standard input is /dev/null in any case). True when it ran; its exit code into
// *exitCode. A run past timeoutMs is ended and gives false.
bool RunAndWait(const char* commandLine, const char* workDir, uint32_t flags, int* exitCode,
                uint32_t timeoutMs = kRunAndWaitLimitMs);

// Makes a pipe for handing a child a descriptor by number. Both ends are close-on-exec in this
// program; an end asked to be inheritable is handed to the next child that this thread starts
// with CProcessWrapperCRT, and to no other. size > 0 asks for that pipe capacity; mode is accepted
// for compatibility and has no meaning here.
bool CreateCrtPipe(int* readFd, int* writeFd, unsigned size, bool inheritRead, bool inheritWrite, int mode = -1);

// Splits text in place at runs of blanks: a word that begins with a quote runs to the closing
// quote and on to the next blank, quotes kept; separating blanks become 0. Returns a
// null-terminated array (free with free()), or null for null text. Unlike platform::SplitArgs it
// removes no quotes and reads no backslashes.
char** SplitCommandLine(char* text);

// Where the output of children that is not read through a pipe goes (the console a child
// inherits): a descriptor of this program (kept as a copy; the caller may close its own), or -1
// for this program's own standard output and error.
void SetToolConsole(int fd);

// Sets the calling thread's priority: -2 (lowest) .. 2 (highest), 0 normal, as nice values.
// Raising it may be refused by the system; false then.
bool SetCurrentThreadPriority(int priority);
