#include "platform/procstat.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace {

// A shell whose child (this process's grandchild) holds 96 MiB of touched memory.
pid_t StartMemoryHolder() {
    const char* argv[] = {"sh", "-c", "python3 -c 'import time; b = bytearray(96 << 20); time.sleep(30)' & wait", nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);  // its own group, ended as one
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "sh", nullptr, &attr, const_cast<char**>(argv), environ);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

TEST(ProcessMemory, ToolsBelowTheProgramCount) {
    const uint64_t before = platform::ReadProcessTreeResidentBytes(getpid());
    ASSERT_GT(before, 0u);
    const pid_t holder = StartMemoryHolder();
    ASSERT_GT(holder, 0);
    uint64_t held = 0;
    for (int i = 0; i < 200 && held < (80u << 20); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        held = platform::ReadProcessTreeResidentBytes(holder);
    }
    EXPECT_GE(held, 80u << 20) << "the shell's child counts with the shell";
    EXPECT_GE(platform::ReadProcessTreeResidentBytes(getpid()), before + (80u << 20))
        << "a grandchild's memory counts with the program";
    kill(-holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(platform::ReadProcessTreeResidentBytes(holder), 0u) << "a process that is gone has none";
    EXPECT_EQ(platform::ReadProcessTreeResidentBytes(0), 0u);
}

TEST(ProcessMemory, AvailableMemoryIsBelowTheTotal) {
    const uint64_t available = platform::ReadAvailableMemoryBytes();
    const uint64_t total = static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    EXPECT_GT(available, 0u);
    EXPECT_LE(available, total);
}

}  // namespace
