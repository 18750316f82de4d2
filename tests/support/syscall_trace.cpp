#include "support/syscall_trace.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "support/tempdir.h"

namespace sqtest {

namespace {

// The quoted arguments of one strace line ("..." with strace's backslash escapes undone).
std::vector<std::string> QuotedArgs(const std::string& line) {
    std::vector<std::string> out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '"') continue;
        std::string s;
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            s += line[i];
        }
        out.push_back(s);
    }
    return out;
}

// The number after the last " = " of a finished call; -1 for an error or none.
int Result(const std::string& line) {
    const size_t at = line.rfind(" = ");
    if (at == std::string::npos) return -1;
    return std::atoi(line.c_str() + at + 3);
}

// The first argument of a call taking a descriptor: "fsync(5) = 0" gives 5.
int FirstFd(const std::string& line) {
    const size_t open = line.find('(');
    return open == std::string::npos ? -1 : std::atoi(line.c_str() + open + 1);
}

bool Starts(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

int Run(const std::vector<std::string>& args, const std::string& traceDir) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (!traceDir.empty()) setenv(kTraceDirVariable, traceDir.c_str(), 1);
        // LeakSanitizer cannot run under a tracer.
        std::string asan = "detect_leaks=0";
        if (const char* old = std::getenv("ASAN_OPTIONS")) asan = std::string(old) + ":" + asan;
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool CanTraceSystemCalls() { return Run({"strace", "-qq", "-o", "/dev/null", "true"}, "") == 0; }

std::vector<std::string> TraceFileCalls(const std::string& testName, const std::string& folder) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    self[n] = 0;
    TempDir logDir;
    const std::string log = logDir.file("trace.log");
    const int rc = Run({"strace", "-qq", "-s", "4096", "-e", "trace=openat,open,close,fsync,fdatasync,rename,renameat,renameat2",
                        "-o", log, self, "--gtest_filter=" + testName, "--gtest_also_run_disabled_tests"},
                       folder);
    if (rc != 0) return {};
    std::vector<std::string> calls;
    std::map<int, std::string> open;  // descriptor -> path
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (Starts(line, "openat(") || Starts(line, "open(")) {
            const auto args = QuotedArgs(line);
            const int fd = Result(line);
            if (fd >= 0 && !args.empty()) open[fd] = args[0];
        } else if (Starts(line, "close(")) {
            open.erase(FirstFd(line));
        } else if (Starts(line, "fsync(") || Starts(line, "fdatasync(")) {
            const auto it = open.find(FirstFd(line));
            if (it != open.end() && Result(line) == 0) calls.push_back("fsync " + it->second);
        } else if (Starts(line, "rename")) {
            const auto args = QuotedArgs(line);
            if (args.size() >= 2 && Result(line) == 0) calls.push_back("rename " + args[0] + " " + args[1]);
        }
    }
    return calls;
}

bool CallsInOrder(const std::vector<std::string>& calls, const std::vector<std::string>& expected) {
    size_t next = 0;
    for (const auto& c : calls) {
        if (next < expected.size() && c == expected[next]) ++next;
    }
    return next == expected.size();
}

}  // namespace sqtest
