#include "platform/procstat.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Reads a small /proc file whole; empty when it cannot be read. Plain reads: the statistics read
// one such file per process several times a second.
std::string ReadProcFile(const char* path) {
    std::string text;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

struct ProcStat {
    int ppid = 0;
    int pgrp = 0;
    uint64_t ticks = 0;
    uint64_t residentPages = 0;
};

// The fields of /proc/<pid>/stat after the command name, which may itself hold blanks and
// parentheses: state ppid pgrp ... utime (14th field) stime (15th).
bool ReadProcStat(int pid, ProcStat* out) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    const std::string text = ReadProcFile(path);
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return false;
    char state = 0;
    unsigned long long utime = 0, stime = 0, rss = 0;
    // ... utime stime cutime cstime priority nice threads itrealvalue starttime vsize rss (24th).
    const int n = std::sscanf(text.c_str() + close + 1,
                              " %c %d %d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu %*d %*d %*d %*d %*d %*d %*s %*s %llu",
                              &state, &out->ppid, &out->pgrp, &utime, &stime, &rss);
    if (n < 5) return false;
    out->ticks = utime + stime;
    out->residentPages = n == 6 ? rss : 0;
    return true;
}

}  // namespace

bool ReadSystemCpuTicks(uint64_t* idle, uint64_t* total) {
    const std::string text = ReadProcFile("/proc/stat");
    if (text.compare(0, 4, "cpu ") != 0) return false;
    unsigned long long v[10] = {};
    const int n = std::sscanf(text.c_str() + 4, "%llu %llu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1],
                              &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9]);
    if (n < 4) return false;
    // user nice system idle iowait irq softirq steal (guest times are already in user and nice).
    uint64_t sum = 0;
    for (int i = 0; i < n && i < 8; ++i) sum += v[i];
    *idle = v[3] + (n > 4 ? v[4] : 0);
    *total = sum;
    return true;
}

namespace {

// Every process's group and processor time, from one pass over /proc. The pass reads a file per
// process on the system, and a statistics update asks for every running tool's group at once: the
// callers of one moment (kGroupPassShareMs) share a pass.
constexpr int64_t kGroupPassShareMs = 50;

struct GroupMember {
    int pid = 0;
    int pgrp = 0;
    uint64_t ticks = 0;
};

std::mutex g_groupPassLock;
std::vector<GroupMember> g_groupPass;
bool g_groupPassMade = false;
int64_t g_groupPassMs = 0;

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The members of the group led by pid, the leader left out: processor ticks summed.
uint64_t GroupMembersTicks(int pid) {
    std::lock_guard lock(g_groupPassLock);
    const int64_t now = SteadyMs();
    if (!g_groupPassMade || now - g_groupPassMs > kGroupPassShareMs) {
        g_groupPass.clear();
        if (DIR* dir = opendir("/proc")) {
            while (dirent* entry = readdir(dir)) {
                char* end = nullptr;
                const long other = std::strtol(entry->d_name, &end, 10);
                if (*end != '\0' || other <= 0) continue;
                ProcStat member;
                if (ReadProcStat(static_cast<int>(other), &member) && member.pgrp != static_cast<int>(other))
                    g_groupPass.push_back({static_cast<int>(other), member.pgrp, member.ticks});
            }
            closedir(dir);
        }
        g_groupPassMs = now;
        g_groupPassMade = true;
    }
    uint64_t sum = 0;
    for (const GroupMember& m : g_groupPass)
        if (m.pgrp == pid && m.pid != pid) sum += m.ticks;
    return sum;
}

}  // namespace

bool ReadProcessGroupCpuTicks(int pid, uint64_t* ticks) {
    if (pid <= 0) return false;
    ProcStat leader;
    if (!ReadProcStat(pid, &leader)) return false;
    *ticks = leader.ticks + (leader.pgrp == pid ? GroupMembersTicks(pid) : 0);
    return true;
}

uint64_t ReadProcessTreeResidentBytes(int pid) {
    ProcStat root;
    if (pid <= 0 || !ReadProcStat(pid, &root)) return 0;
    // One pass over /proc for every process's parent, then the tree below pid.
    std::vector<std::pair<int, ProcStat>> all;
    if (DIR* dir = opendir("/proc")) {
        while (dirent* entry = readdir(dir)) {
            char* end = nullptr;
            const long other = std::strtol(entry->d_name, &end, 10);
            if (*end != '\0' || other <= 0 || other == pid) continue;
            ProcStat st;
            if (ReadProcStat(static_cast<int>(other), &st)) all.emplace_back(static_cast<int>(other), st);
        }
        closedir(dir);
    }
    uint64_t pages = root.residentPages;
    std::vector<int> parents{pid};
    while (!parents.empty()) {
        const int parent = parents.back();
        parents.pop_back();
        for (auto& [id, st] : all) {
            if (st.ppid != parent || id == 0) continue;
            pages += st.residentPages;
            parents.push_back(id);
            id = 0;  // counted once
        }
    }
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pages * static_cast<uint64_t>(pageSize > 0 ? pageSize : 4096);
}

uint64_t ReadAvailableMemoryBytes() {
    const std::string text = ReadProcFile("/proc/meminfo");
    const size_t at = text.find("MemAvailable:");
    if (at == std::string::npos) return 0;
    return std::strtoull(text.c_str() + at + 13, nullptr, 10) * 1024;
}

long CpuTicksPerSecond() {
    const long hz = sysconf(_SC_CLK_TCK);
    return hz > 0 ? hz : 100;
}

int64_t MonotonicTime100ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100;
}

}  // namespace platform
