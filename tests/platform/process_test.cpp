#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "support/tempdir.h"

namespace {

using platform::ChildProcess;
using platform::SpawnRequest;

SpawnRequest Shell(const std::string& script) {
    SpawnRequest r;
    r.argv = {"sh", "-c", script};
    return r;
}

// Exit code of a finished child, within a bound.
int Finish(ChildProcess& c) {
    EXPECT_EQ(c.Wait(10000), 1);
    int code = -1;
    EXPECT_FALSE(c.IsRunning(&code));
    return code;
}

TEST(ChildProcess, ReportsExitCodesAndFailedStarts) {
    ChildProcess c;
    ASSERT_EQ(c.Start(Shell("exit 3")), 0);
    EXPECT_EQ(Finish(c), 3);

    SpawnRequest missing;
    missing.argv = {"sq-no-such-program-here"};
    EXPECT_EQ(c.Start(missing), ENOENT);
    EXPECT_FALSE(c.Started());
    EXPECT_EQ(c.Wait(0), -1);

    missing.argv = {"/nonexistent/dir/tool"};
    EXPECT_EQ(c.Start(missing), ENOENT);
}

TEST(ChildProcess, KillReportsZeroAndAnOutsideSignalItsNumber) {
    ChildProcess c;
    SpawnRequest r;
    r.argv = {"sleep", "30"};
    ASSERT_EQ(c.Start(r), 0);
    EXPECT_EQ(c.Wait(0), 0);
    EXPECT_TRUE(c.Kill());
    EXPECT_EQ(Finish(c), 0);
    EXPECT_FALSE(c.Kill());  // reaped: its pid may belong to someone else now

    ASSERT_EQ(c.Start(r), 0);
    kill(c.Pid(), SIGTERM);
    EXPECT_EQ(Finish(c), 128 + SIGTERM);
}

TEST(ChildProcess, ChildGetsOnlyItsStandardStreamsAndWhatItIsHanded) {
    // A descriptor this process opened without close-on-exec must still not reach the child.
    const int leaky = open("/dev/null", O_RDONLY);
    int p[2];
    ASSERT_TRUE(platform::MakePipe(p));
    ASSERT_GE(leaky, 0);
    const std::string probe = "[ -e /proc/$$/fd/" + std::to_string(leaky) + " ] && exit 1; " +
                              "[ -e /proc/$$/fd/" + std::to_string(p[1]) + " ] || exit 2; " +
                              "[ -e /proc/$$/fd/" + std::to_string(p[0]) + " ] && exit 3; exit 0";
    SpawnRequest r = Shell(probe);
    r.passFds = {p[1]};
    ChildProcess c;
    ASSERT_EQ(c.Start(r), 0);
    EXPECT_EQ(Finish(c), 0);
    // The parent's copy keeps close-on-exec.
    EXPECT_TRUE(fcntl(p[1], F_GETFD) & FD_CLOEXEC);
    close(leaky);
    close(p[0]);
    close(p[1]);
}

TEST(ChildProcess, ChildStartsWithDefaultSignalsInItsOwnGroupAndFolder) {
    platform::InitProcessLayer();  // ignores SIGPIPE here; the child must not inherit that
    int out[2];
    ASSERT_TRUE(platform::MakePipe(out));
    SpawnRequest r = Shell("grep -E '^SigIgn' /proc/$$/status; ps -o pgid= -p $$ 2>/dev/null || "
                           "cut -d' ' -f5 /proc/$$/stat; pwd");
    r.stdoutFd = out[1];
    r.workDir = "/tmp";
    ChildProcess c;
    ASSERT_EQ(c.Start(r), 0);
    close(out[1]);
    std::string text;
    char buf[512];
    for (;;) {  // to the end of data, each wait bounded
        pollfd pfd{out[0], POLLIN, 0};
        ASSERT_EQ(poll(&pfd, 1, 10000), 1) << "no end of data; so far: " << text;
        const ssize_t n = platform::ReadRetry(out[0], buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    EXPECT_EQ(Finish(c), 0);
    const size_t at = text.find("SigIgn:\t");
    ASSERT_NE(at, std::string::npos) << text;
    const unsigned long long ignored = std::stoull(text.substr(at + 8, 16), nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << text;
    EXPECT_NE(text.find(std::to_string(c.Pid())), std::string::npos) << text;  // leads its group
    EXPECT_NE(text.find("/tmp\n"), std::string::npos) << text;
}

// Running or a zombie not yet collected by its new parent.
bool Alive(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t close = stat.rfind(") ");
    return close != std::string::npos && stat[close + 2] != 'Z' && stat[close + 2] != 'X';
}

// A tool that ends but leaves a background child in its group: releasing it ends that child too,
// whether the ending was noticed by Wait, by IsRunning or not at all.
TEST(ChildProcess, ReleaseEndsWhatAnEndedLeaderLeftInItsGroup) {
    for (int noticeBy = 0; noticeBy < 3; ++noticeBy) {
        SCOPED_TRACE(noticeBy);
        sqtest::TempDir dir;
        const std::string pidFile = dir.file("bg.pid");
        ChildProcess c;
        ASSERT_EQ(c.Start(Shell("sleep 60 & echo $! > '" + pidFile + "'")), 0);
        if (noticeBy == 0) {
            ASSERT_EQ(c.Wait(10000), 1);
        } else {
            for (int i = 0; i < 1000 && (noticeBy == 1 ? c.IsRunning() : Alive(c.Pid())); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (noticeBy == 1) {
                ASSERT_FALSE(c.IsRunning());
            }
        }
        const pid_t background = static_cast<pid_t>(std::atoi(sqtest::ReadFile(pidFile).c_str()));
        ASSERT_GT(background, 0);
        ASSERT_TRUE(Alive(background));
        c.Release();
        for (int i = 0; i < 500 && Alive(background); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(Alive(background));
        kill(background, SIGKILL);  // never leave it behind, even when the test fails
    }
}

}  // namespace
