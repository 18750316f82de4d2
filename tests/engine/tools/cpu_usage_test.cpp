#include "engine/tools/cpu_usage.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <memory>
#include <thread>
#include <vector>

#include "support/proc_group.h"

extern char** environ;

namespace {

// A shell child leading its own process group, killed with its group at the end.
class Child {
public:
    explicit Child(const char* script) {
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        const char* argv[] = {"/bin/sh", "-c", script, nullptr};
        if (posix_spawn(&pid_, "/bin/sh", nullptr, &attr, const_cast<char**>(argv), environ) != 0) pid_ = 0;
        posix_spawnattr_destroy(&attr);
    }
    ~Child() {
        if (pid_ <= 0) return;
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    uint32_t pid() const { return static_cast<uint32_t>(pid_); }

private:
    pid_t pid_ = 0;
};

// A busy loop that ends by itself once this test program has gone: a test that dies before its
// Child ends leaves no spinner behind to load the machine.
std::string Spin() { return "while kill -0 " + std::to_string(getpid()) + " 2>/dev/null; do :; done"; }

// Time on a processor in ns of every member of a process group, from the scheduler's own
// account (a second source beside the ticks the meter reads).
double GroupOnCpuNs(uint32_t group) {
    double total = 0;
    for (const auto& member : sqtest::ProcessGroupMembers(group)) {
        std::ifstream sched("/proc/" + std::to_string(member.pid) + "/schedstat");
        double ns = 0;
        if (sched >> ns) total += ns;
    }
    return total;
}

struct Reading {
    float usage;
    float scheduler;  // the same figure from the scheduler's account of the group
};

Reading ProcessUsageOver(uint32_t pid, std::chrono::milliseconds span) {
    CCpuUsage meter;
    EXPECT_EQ(meter.GetProcessUsage(pid), 0.0f);  // the first reading sets the reference
    const auto start = std::chrono::steady_clock::now();
    const double startNs = GroupOnCpuNs(pid);
    std::this_thread::sleep_for(span);
    const float usage = meter.GetProcessUsage(pid);
    const double wallNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    return {usage, static_cast<float>((GroupOnCpuNs(pid) - startNs) * 100.0 / wallNs)};
}

// A spinning child reads about 100 % of one processor on an idle machine; on a shared one it gets
// less, so the figure is held against the scheduler's account of the same group.
TEST(CpuUsage, ProcessLoadOfBusyIdleAndGroupedChildren) {
    const std::string helper = "sh -c '" + Spin() + "' & ";
    const struct {
        const char* name;
        std::string script;
        bool busy;
    } cases[] = {
        {"busy", Spin(), true},
        {"idle", "sleep 30", false},
        // The leader only waits; its busy helpers in the same group count as its load.
        {"busy helper", helper + "wait", true},
        {"two busy helpers", helper + helper + "wait", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Child child(c.script.c_str());
        ASSERT_NE(child.pid(), 0u);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the helpers start
        // Ticks against nanoseconds: within the tick's grain over one second and what a helper's
        // own start or end costs. A machine crowded by other work skews one second's ticks now
        // and then (they are sampled, the nanoseconds are not), so up to three seconds are read
        // and one must agree; a meter that miscounts the group disagrees every time.
        auto plausible = [&](const Reading& r) {
            const bool load = c.busy ? r.usage > 3.0f   // a spinner gets some time even on a crowded machine
                                     : r.usage <= 5.0f;
            return load && std::abs(r.usage - r.scheduler) <= 12.0f;
        };
        Reading r{};
        for (int attempt = 0; attempt < 3; ++attempt)
            if (plausible(r = ProcessUsageOver(child.pid(), std::chrono::milliseconds(1000)))) break;
        EXPECT_TRUE(plausible(r)) << "usage " << r.usage << " against the scheduler's " << r.scheduler;
    }
}

TEST(CpuUsage, ProcessWithoutFigures) {
    CCpuUsage meter;
    EXPECT_EQ(meter.GetProcessUsage(0), -1.0f);
    pid_t gone = 0;
    {
        Child child("exit 0");
        gone = static_cast<pid_t>(child.pid());
    }
    EXPECT_EQ(meter.GetProcessUsage(static_cast<uint32_t>(gone)), -1.0f);
    // Two readings with no time between them give 0, never a division by zero.
    const uint32_t self = static_cast<uint32_t>(getpid());
    EXPECT_EQ(meter.GetProcessUsage(self), 0.0f);
    const float again = meter.GetProcessUsage(self);
    EXPECT_GE(again, 0.0f);
    EXPECT_LT(again, 1e6f);
}

// The system figure counts every processor of the machine, while this process may be held to a few
// of them (an affinity mask, a container's share): so the reading is held against what the
// spinners themselves were seen to use, never against a fixed share of the machine.
TEST(CpuUsage, SystemLoadCountsWhatTheSpinnersUse) {
    CCpuUsage meter;
    EXPECT_EQ(meter.GetUsage(), 0.0f);
    // Back-to-back readings within one tick report 0, not NaN.
    const float quick = meter.GetUsage();
    EXPECT_GE(quick, 0.0f);
    EXPECT_LE(quick, 100.0f);

    cpu_set_t mask;
    CPU_ZERO(&mask);
    const int usable = sched_getaffinity(0, sizeof mask, &mask) == 0 ? CPU_COUNT(&mask) : 1;
    const long machine = sysconf(_SC_NPROCESSORS_ONLN);  // the processors /proc/stat adds up
    ASSERT_GT(machine, 0);
    // One group of spinners, one for each processor this process may use.
    std::string script;
    for (int i = 0; i < usable; ++i) script += "sh -c '" + Spin() + "' & ";
    script += "wait";
    Child spinners(script.c_str());
    ASSERT_NE(spinners.pid(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the helpers start
    meter.GetUsage();
    const auto start = std::chrono::steady_clock::now();
    const double startNs = GroupOnCpuNs(spinners.pid());
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const float loaded = meter.GetUsage();
    const double wallNs = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    const double spinnerCpus = (GroupOnCpuNs(spinners.pid()) - startNs) / wallNs;
    ASSERT_GT(loaded, 0.0f);
    EXPECT_LE(loaded, 100.0f);
    // In processors: the whole system was at least as busy as the spinners alone (within the
    // ticks' grain and the few milliseconds between the two accounts).
    const double systemCpus = double(loaded) / 100.0 * double(machine);
    EXPECT_GE(systemCpus, spinnerCpus * 0.85 - 0.1) << "spinners " << spinnerCpus << " of " << machine;
}

TEST(CpuUsage, ClockIsPlausible) {
#if defined(__x86_64__) || defined(__i386__)
    // The process's first reading without a restart only takes the reference: no figure, no wait.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(CpuClockMHz(false), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(100));
    const uint32_t first = CpuClockMHz(true);
    EXPECT_GT(first, 100u);
    EXPECT_LT(first, 20000u);
    const uint32_t second = CpuClockMHz(false);
    EXPECT_NEAR(double(second), double(first), first * 0.2);
#else
    EXPECT_EQ(CpuClockMHz(true), 0u);
#endif
}

}  // namespace

namespace {

TEST(CpuInfo, RecordFromTheMachine) {
    ASSERT_EQ(LoadSysInfo(), 0);
    ProcessorRecord record;
    std::memset(static_cast<void*>(&record), 0x55, sizeof record);  // every field is written, not left over
    ASSERT_EQ(GetCpuInfo(&record), 0);
    EXPECT_GE(record.fields[14], 1);
    EXPECT_GE(record.fields[15], 0);
    EXPECT_EQ(record.fields[16], 0);
    EXPECT_EQ(record.vendor[sizeof record.vendor - 1], '\0');
    const std::string name = record.name;
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name.find("  "), std::string::npos);  // runs of blanks collapsed
}

}  // namespace
