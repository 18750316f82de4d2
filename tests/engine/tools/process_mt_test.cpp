// The runner used from several worker threads at once, as the engine's jobs do.
#include "engine/tools/process.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/tempdir.h"

namespace {

// Processes whose parent is this test: running children and unreaped zombies alike.
std::vector<std::string> OurChildren() {
    std::vector<std::string> found;
    const std::string self = std::to_string(getpid());
    DIR* d = opendir("/proc");
    while (dirent* e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::ifstream f(std::string("/proc/") + e->d_name + "/stat");
        std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        // After ") ": state, then ppid.
        const std::string rest = stat.substr(close + 2);
        const std::string state = rest.substr(0, 1);
        const std::string ppid = rest.substr(2, rest.find(' ', 2) - 2);
        if (ppid == self) found.push_back(std::string(e->d_name) + " " + state);
    }
    if (d) closedir(d);
    return found;
}

ino_t InodeOf(int fd) {
    struct stat st {};
    fstat(fd, &st);
    return st.st_ino;
}

TEST(ProcessWrapperThreads, ThousandSpawnsFromEightThreadsKeepStreamsApartAndLeaveNoZombie) {
    const ino_t before[3] = {InodeOf(0), InodeOf(1), InodeOf(2)};
    const auto cwd = std::filesystem::current_path();
    sqtest::TempDir dir;
    constexpr int kThreads = 8, kEach = 125;
    std::atomic<int> good{0};
    std::vector<std::string> failures[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string token = "token-" + std::to_string(t) + "-" + std::to_string(i);
                std::unique_ptr<CProcessWrapper> p;
                if ((t + i) % 2) p = std::make_unique<CProcessWrapperCRT>(0x2001);
                else p = std::make_unique<CProcessWrapper>(0x2001);
                // Some runs in another folder: that must not move anyone else's current folder.
                const char* work = i % 5 == 0 ? dir.path().c_str() : nullptr;
                if (!p->Start(("printf " + token).c_str(), work)) {
                    failures[t].push_back(token + ": no start");
                    continue;
                }
                std::string text;
                for (int round = 0; round < 100; ++round) {
                    const int n = p->ReadOutput(100);
                    if (n > 0) text += p->buffer;
                    if (n <= 0 && p->Wait(0) == 1) {
                        if (p->ReadOutput(0) > 0) text += p->buffer;
                        break;
                    }
                }
                if (p->Wait(10000) != 1 || text != token) failures[t].push_back(token + ": got " + text);
                else ++good;
                // every second wrapper is left to its destructor
                if (i % 2) p->Close();
            }
        });
    }
    for (auto& th : threads) th.join();
    for (const auto& f : failures) EXPECT_TRUE(f.empty()) << f.front();
    EXPECT_EQ(good.load(), kThreads * kEach);
    EXPECT_EQ(OurChildren(), std::vector<std::string>{});
    EXPECT_EQ(std::filesystem::current_path(), cwd);
    for (int fd = 0; fd < 3; ++fd) EXPECT_EQ(InodeOf(fd), before[fd]) << "fd " << fd;
}

// The interface thread pauses a tool while the encode thread is blocked writing to it: the write
// waits out the pause, however long, instead of counting it as a stall.
TEST(ProcessWrapperThreads, APausedChildIsNotEndedAsStalled) {
    CProcessWrapper p(0x1000);
    ASSERT_TRUE(p.Start("sh -c \"cat > /dev/null\""));
    ASSERT_TRUE(p.Suspend(false));
    std::atomic<int> written{0};
    std::thread writer([&] {
        std::vector<char> block(4 << 20, 'p');
        written = p.Write(block.data(), static_cast<int>(block.size()));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(kWriteStallLimitMs + 1500));
    EXPECT_EQ(written.load(), 0);  // still blocked, child alive
    EXPECT_TRUE(p.IsRunning());
    EXPECT_TRUE(p.SetPriority(kPriorityClassIdle));  // from this thread while the writer waits
    ASSERT_TRUE(p.Suspend(true));
    writer.join();
    EXPECT_EQ(written.load(), 4 << 20);
    p.CloseStdin();
    EXPECT_EQ(p.Wait(10000), 1);
}

}  // namespace
