#include "engine/tools/process.h"

#include <poll.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <fstream>
#include <string>
#include <vector>

#include "platform/cmdline.h"
#include "support/tempdir.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// "sh -c '<script>'" as one command line.
std::string Sh(const std::string& script) { return "sh -c " + platform::QuoteArg(script); }

// Field of /proc/<pid>/stat counted from 1 (3: state, 19: nice); empty when gone.
std::string StatField(uint32_t pid, int field) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t close = all.rfind(')');
    if (close == std::string::npos) return {};
    std::vector<std::string> parts;
    size_t at = close + 2;
    while (at < all.size()) {
        size_t sp = all.find(' ', at);
        parts.push_back(all.substr(at, sp - at));
        if (sp == std::string::npos) break;
        at = sp + 1;
    }
    return field - 3 < static_cast<int>(parts.size()) ? parts[field - 3] : std::string();
}

// Everything a descriptor gives until its end of data, waiting at most limitMs in all.
std::string ReadFdToEnd(int fd, int limitMs = 10000) {
    std::string got;
    const auto t = Clock::now();
    char buf[4096];
    for (;;) {
        const int64_t left = limitMs - MsSince(t);
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
            ADD_FAILURE() << "no end of data within " << limitMs << " ms";
            return got;
        }
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return got;
        got.append(buf, static_cast<size_t>(n));
    }
}

// Everything the child prints on standard output until it ends (at most about 30 s).
std::string ReadAll(CProcessWrapper& p) {
    std::string text;
    for (int round = 0; round < 150; ++round) {
        const int n = p.ReadOutput(200);
        if (n > 0) text += p.buffer;
        if (n <= 0 && !p.IsRunning()) break;
    }
    if (p.ReadOutput(0) > 0) text += p.buffer;
    return text;
}

// ----------------------------------------------------------------------------------------------
// Which streams each flag combination redirects

struct StreamCase {
    const char* name;
    uint32_t flags;
    const char* script;
    const char* input;  // written, then standard input closed
    const char* out;    // expected from ReadOutput
    const char* err;    // expected from ReadError
};

const StreamCase kStreamCases[] = {
    {"stdin and stdout", 0x3001, "tr a-z A-Z", "hello", "HELLO", ""},
    {"stdout and stderr apart", 0x6001, "echo out; echo err >&2", nullptr, "out\n", "err\n"},
    {"stderr into stdout", 0xA001, "echo out; sleep 0.1; echo err >&2", nullptr, "out\nerr\n", ""},
    {"0x8000 without stdout changes nothing", 0xC001, "echo out; echo err >&2", nullptr, "", "err\n"},
    {"no standard handles", 0x17001, "cat; echo gone >&2", "lost", "", ""},
    {"shown: no redirection", 0x3003, "cat", "lost", "", ""},
};

TEST(ProcessWrapper, FlagsChooseTheRedirectedStreams) {
    for (const auto& c : kStreamCases) {
        SCOPED_TRACE(c.name);
        CProcessWrapper p(c.flags);
        ASSERT_TRUE(p.Start(Sh(c.script).c_str()));
        const bool hasIn = (c.flags & 0x1000) && !(c.flags & 0x10002);
        if (c.input) {
            EXPECT_EQ(p.Write(c.input, static_cast<int>(std::strlen(c.input))), hasIn ? 5 : -1);
        }
        p.CloseStdin();
        ASSERT_EQ(p.Wait(10000), 1);
        EXPECT_GE(p.ReadOutput(1000), 0);
        EXPECT_STREQ(p.buffer, c.out);
        EXPECT_GE(p.ReadError(1000), 0);
        EXPECT_STREQ(p.buffer, c.err);
    }
}

TEST(ProcessWrapper, WriteWithLengthZeroSendsTheText) {
    CProcessWrapper p(0x3001);
    ASSERT_TRUE(p.Start("cat"));
    EXPECT_EQ(p.Write("get_time_pos\n", 0), 13);
    p.CloseStdin();
    EXPECT_EQ(ReadAll(p), "get_time_pos\n");
}

// Nothing reaches a shell: ";", "$", backticks and $() arrive as text.
TEST(ProcessWrapper, ShellCharactersStayText) {
    sqtest::TempDir dir;
    const std::string marker = dir.file("touched");
    for (bool crt : {false, true}) {
        std::unique_ptr<CProcessWrapper> p(crt ? new CProcessWrapperCRT(0x2001) : new CProcessWrapper(0x2001));
        const std::string line = "printf [%s] a;b $HOME `id` \"$(touch " + marker + ")\" '|' \"x > y\"";
        ASSERT_TRUE(p->Start(line.c_str()));
        EXPECT_EQ(ReadAll(*p), "[a;b][$HOME][`id`][$(touch " + marker + ")]['|'][x > y]");
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
}

// ----------------------------------------------------------------------------------------------
// Timed reads

TEST(ProcessWrapper, TimedReadOnAQuietPipeReturnsEmptyAtTheLimit) {
    CProcessWrapper p(0x2001);
    ASSERT_TRUE(p.Start("sleep 30"));
    const auto t = Clock::now();
    EXPECT_EQ(p.ReadOutput(300), 0);
    EXPECT_GE(MsSince(t), 250);
    EXPECT_LT(MsSince(t), 5000);
    ASSERT_NE(p.buffer, nullptr);
    EXPECT_STREQ(p.buffer, "");

    CProcessWrapper noBuffer(0x2000);
    ASSERT_TRUE(noBuffer.Start("sleep 30"));
    EXPECT_EQ(noBuffer.ReadOutput(5000), -1);  // at once: no buffer and no growing flag
    noBuffer.SetBufferSize(64);
    EXPECT_EQ(noBuffer.ReadOutput(0), 0);
}

TEST(ProcessWrapper, TimedReadEndsWhenTheChildEnds) {
    CProcessWrapper p(0x2001);
    ASSERT_TRUE(p.Start("printf 0123456789"));
    const auto t = Clock::now();
    EXPECT_EQ(p.ReadOutput(20000), 10);
    EXPECT_LT(MsSince(t), 10000);
    EXPECT_STREQ(p.buffer, "0123456789");
}

TEST(ProcessWrapper, GrowingBufferDoublesAndIsBounded) {
    CProcessWrapper grow(0x2001);
    ASSERT_TRUE(grow.Start("head -c 4095 /dev/zero"));
    EXPECT_EQ(grow.ReadOutput(10000), 4095);
    EXPECT_EQ(grow.bufferSize, 8192);

    // A fixed buffer stops when full; the rest stays for the next read.
    CProcessWrapper fixed(0x2000);
    ASSERT_TRUE(fixed.Start("printf %5000s x"));
    fixed.SetBufferSize(4096);  // after Start: starting closes, and closing frees the buffer
    EXPECT_EQ(fixed.ReadOutput(10000), 4095);
    EXPECT_EQ(fixed.ReadOutput(10000), 905);

    // The descriptor variant's buffer stops at 1 MiB.
    CProcessWrapperCRT crt(0x2001);
    ASSERT_TRUE(crt.Start("head -c 3145728 /dev/zero"));
    EXPECT_EQ(crt.ReadOutput(20000), 1024 * 1024 - 1);
    EXPECT_EQ(crt.bufferSize, 1024 * 1024);
}

TEST(ProcessWrapper, ReadAndReadFullAtTheEndOfTheData) {
    CProcessWrapper h(0x2000);
    ASSERT_TRUE(h.Start("printf abcde"));
    char buf[16];
    EXPECT_EQ(h.ReadFull(buf, 10), 5);
    EXPECT_EQ(h.Read(buf, 10), -1);
    EXPECT_EQ(h.ReadFull(buf, 10), -1);
    EXPECT_EQ(h.ReadFull(buf, 0), 0);

    CProcessWrapperCRT c(0x2000);
    ASSERT_TRUE(c.Start("printf abcde"));
    EXPECT_EQ(c.ReadFull(buf, 10), 5);
    EXPECT_EQ(std::string(buf, 5), "abcde");
    EXPECT_EQ(c.Read(buf, 10), -1);
    EXPECT_EQ(c.ReadFull(buf, 10), -1);
    c.CloseStdout();
    EXPECT_EQ(c.Read(buf, 10), 0);  // no descriptor
}

// ----------------------------------------------------------------------------------------------
// Lifecycle

TEST(ProcessWrapper, WaitIsRunningCloseAndRestart) {
    CProcessWrapper p(0);
    EXPECT_EQ(p.Wait(0), -1);
    ASSERT_TRUE(p.Start("sh -c \"exit 3\""));
    EXPECT_EQ(p.Wait(10000), 1);
    int code = -1;
    EXPECT_FALSE(p.IsRunning(&code));
    EXPECT_EQ(code, 3);

    ASSERT_TRUE(p.Start("sleep 30"));
    const uint32_t first = p.process.processId;
    EXPECT_EQ(p.Wait(0), 0);
    EXPECT_TRUE(p.IsRunning(&code));
    ASSERT_TRUE(p.Start("sleep 30"));  // Start closes first: the first child is killed and reaped
    EXPECT_EQ(StatField(first, 3), "");
    const uint32_t second = p.process.processId;
    p.Close();
    EXPECT_EQ(StatField(second, 3), "");
    EXPECT_EQ(p.process.processId, 0u);
    p.Close();  // twice is harmless

    ASSERT_TRUE(p.Start("sleep 30"));
    EXPECT_TRUE(p.Terminate());
    EXPECT_EQ(p.Wait(10000), 1);
    EXPECT_FALSE(p.IsRunning(&code));
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(p.Terminate());
}

TEST(ProcessWrapper, AFailedStartLeavesTheWrapperClosed) {
    for (bool crt : {false, true}) {
        std::unique_ptr<CProcessWrapper> p(crt ? new CProcessWrapperCRT(0x7001) : new CProcessWrapper(0x7001));
        EXPECT_FALSE(p->Start("sq-no-such-tool --x"));
        EXPECT_FALSE(p->Start(""));
        EXPECT_EQ(p->Write("x", 1), -1);
        EXPECT_EQ(p->Wait(0), -1);
        EXPECT_EQ(p->process.processId, 0u);
        EXPECT_EQ(p->stdinWrite, -1);
        EXPECT_EQ(p->stdoutRead, -1);
    }
}

TEST(ProcessWrapper, SuspendNestsAndPriorityAndAffinityReachEveryThread) {
    CProcessWrapper p(0);
    EXPECT_FALSE(p.Suspend(false));  // no child
    ASSERT_TRUE(p.Start("sleep 30"));
    const uint32_t pid = p.process.processId;
    ASSERT_TRUE(p.Suspend(false));
    ASSERT_TRUE(p.Suspend(false));
    auto stateSoon = [&](const std::string& want) {
        for (int i = 0; i < 200 && StatField(pid, 3) != want; ++i) usleep(10000);
        return StatField(pid, 3);
    };
    EXPECT_EQ(stateSoon("T"), "T");
    ASSERT_TRUE(p.Suspend(true));
    usleep(50000);
    EXPECT_EQ(StatField(pid, 3), "T");  // one resume for two suspensions: still stopped
    ASSERT_TRUE(p.Suspend(true));
    EXPECT_EQ(stateSoon("S"), "S");

    EXPECT_TRUE(p.SetPriority(kPriorityClassBelowNormal));
    EXPECT_EQ(StatField(pid, 19), "10");
    EXPECT_FALSE(p.SetPriority(12345));
    EXPECT_FALSE(p.SetAffinity(0));
    EXPECT_TRUE(p.SetAffinity(1));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line, cpus;
    while (std::getline(status, line)) {
        if (line.rfind("Cpus_allowed_list:", 0) == 0) cpus = line;
    }
    EXPECT_EQ(cpus, "Cpus_allowed_list:\t0");
    ProcessMemoryCounters counters;
    EXPECT_GT(p.GetMemoryUsage(&counters), 0u);
    EXPECT_EQ(counters.WorkingSetSize, p.GetMemoryUsage());
}

// ----------------------------------------------------------------------------------------------
// A child cannot hang its parent

TEST(ProcessWrapper, WritingToAnEndedChildFailsWithoutKillingUs) {
    CProcessWrapper p(0x1000);
    ASSERT_TRUE(p.Start("true"));
    ASSERT_EQ(p.Wait(10000), 1);
    std::vector<char> block(1 << 20, 'x');
    EXPECT_EQ(p.Write(block.data(), static_cast<int>(block.size())), -1);
}

TEST(ProcessWrapper, AChildThatIgnoresItsInputIsEndedAfterTheStallLimit) {
    for (bool crt : {false, true}) {
        std::unique_ptr<CProcessWrapper> p(crt ? new CProcessWrapperCRT(0x1000) : new CProcessWrapper(0x1000));
        ASSERT_TRUE(p->Start("sleep 120"));
        std::vector<char> block(4 << 20, 'x');
        const auto t = Clock::now();
        EXPECT_EQ(p->Write(block.data(), static_cast<int>(block.size())), -1);
        EXPECT_GE(MsSince(t), kWriteStallLimitMs - 500);
        EXPECT_LT(MsSince(t), kWriteStallLimitMs + 10000);
        EXPECT_EQ(p->Wait(5000), 1);  // it was ended, not left running
    }
}

TEST(ProcessWrapper, AChildFloodingStandardErrorStillCompletes) {
    // It writes 10 MB of diagnostics before reading its input: the write drains them meanwhile.
    CProcessWrapper p(0x5001);
    ASSERT_TRUE(p.Start(Sh("head -c 10485760 /dev/zero | tr '\\0' e >&2; wc -c; echo done >&2").c_str()));
    std::vector<char> block(1 << 20, 'x');
    EXPECT_EQ(p.Write(block.data(), static_cast<int>(block.size())), 1 << 20);
    p.CloseStdin();
    EXPECT_EQ(p.Wait(60000), 1);
    int code = -1;
    EXPECT_FALSE(p.IsRunning(&code));
    EXPECT_EQ(code, 0);
    // The newest diagnostics are kept for the next read.
    EXPECT_GT(p.ReadError(1000), 0);
    EXPECT_TRUE(std::string(p.buffer).ends_with("eedone\n"));

    // A child that fills its output pipe before it ends reaches its end while we wait.
    CProcessWrapper q(0xA001);
    ASSERT_TRUE(q.Start(Sh("head -c 10485760 /dev/zero | tr '\\0' e >&2; echo last").c_str()));
    EXPECT_EQ(q.Wait(60000), 1);
    EXPECT_EQ(q.ReadOutput(5000), 10485760 + 5);
    EXPECT_TRUE(std::string(q.buffer).ends_with("eelast\n"));
}

TEST(ProcessWrapper, OutputDrainedDuringAWriteComesBackWholeAndInOrder) {
    // The child prints about 2 MB before it reads its input, so the write must drain that output
    // meanwhile; small reads afterwards give every byte in order.
    std::string expected;
    for (int i = 1; i <= 300000; ++i) expected += std::to_string(i) + "\n";
    for (bool crt : {false, true}) {
        SCOPED_TRACE(crt ? "descriptor variant" : "handle variant");
        std::unique_ptr<CProcessWrapper> p(crt ? new CProcessWrapperCRT(0x3000) : new CProcessWrapper(0x3000));
        ASSERT_TRUE(p->Start(Sh("seq 1 300000; cat > /dev/null").c_str()));
        std::vector<char> block(1 << 20, 'x');
        ASSERT_EQ(p->Write(block.data(), static_cast<int>(block.size())), 1 << 20);
        p->CloseStdin();
        ASSERT_EQ(p->Wait(30000), 1);  // every writer has ended: the reads below cannot block
        std::string got;
        char piece[500];
        for (int n; (n = p->Read(piece, sizeof piece)) > 0;) got.append(piece, static_cast<size_t>(n));
        EXPECT_EQ(got.size(), expected.size());
        EXPECT_TRUE(got == expected) << "output lost or reordered";
    }
}

TEST(ProcessWrapper, AChildReadingAtAChangingPaceGetsEveryByteInOrder) {
    // The writer leaves a full input pipe alone for a while, by the pace the child has read at:
    // a child that reads a page at a time, slowly, then pauses, then races, still gets every byte
    // in order, and its pause (shorter than the stall limit) does not end it.
    const char* reader =
        "import os, zlib\n"
        "a, n, pause = 1, 0, True\n"
        "while True:\n"
        "    b = os.read(0, 4096)\n"
        "    if not b: break\n"
        "    a = zlib.adler32(b, a); n += len(b)\n"
        "    if n < (1 << 20) and n % 65536 == 0: os.system('sleep 0.01')\n"
        "    if n >= (2 << 20) and pause: pause = False; os.system('sleep 1')\n"
        "print(n, a)\n";
    std::vector<char> data(6 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7 + i / 4093) % 251);
    uint32_t s1 = 1, s2 = 0;  // Adler-32 of the data, as the child computes it
    for (char c : data) {
        s1 = (s1 + static_cast<unsigned char>(c)) % 65521;
        s2 = (s2 + s1) % 65521;
    }
    const std::string expected = std::to_string(data.size()) + " " + std::to_string((s2 << 16) | s1) + "\n";
    for (bool crt : {false, true}) {
        SCOPED_TRACE(crt ? "descriptor variant" : "handle variant");
        std::unique_ptr<CProcessWrapper> p(crt ? new CProcessWrapperCRT(0x3001) : new CProcessWrapper(0x3001));
        ASSERT_TRUE(p->Start(("python3 -c " + platform::QuoteArg(reader)).c_str()));
        for (size_t at = 0; at < data.size(); at += 32768)
            ASSERT_EQ(p->Write(data.data() + at, 32768), 32768) << "at " << at;
        p->CloseStdin();
        ASSERT_EQ(p->Wait(60000), 1);
        ASSERT_GT(p->ReadOutput(5000), 0);
        EXPECT_EQ(std::string(p->buffer), expected);
    }
}

// ----------------------------------------------------------------------------------------------
// The descriptor variant

TEST(ProcessWrapperCRT, FindsTheToolInTheFirstFolderThatHasIt) {
    sqtest::TempDir dir;
    auto tool = [&](const std::string& folder, const std::string& says) {
        std::filesystem::create_directories(dir.path() / folder);
        const std::string path = dir.write(folder + "/sq-crt-tool", "#!/bin/sh\necho " + says + "\n");
        chmod(path.c_str(), 0755);
    };
    tool("tools", "tools");
    tool("codecs64", "codecs64");
    tool(".", "here");
    CProcessWrapperCRT p(0x2001);
    ASSERT_TRUE(p.Start("sq-crt-tool", dir.path().c_str()));
    EXPECT_EQ(ReadAll(p), "here\n");  // the plain name in the working folder comes first
    std::filesystem::remove(dir.path() / "sq-crt-tool");
    ASSERT_TRUE(p.Start("sq-crt-tool", dir.path().c_str()));
    EXPECT_EQ(ReadAll(p), "codecs64\n");
    std::filesystem::remove(dir.path() / "codecs64" / "sq-crt-tool");
    ASSERT_TRUE(p.Start("sq-crt-tool", dir.path().c_str()));
    EXPECT_EQ(ReadAll(p), "tools\n");
    // A bundled copy is taken before the system's tool of the same name on PATH.
    tool("codecs", "bundled");
    std::filesystem::rename(dir.path() / "codecs" / "sq-crt-tool", dir.path() / "codecs" / "echo");
    ASSERT_TRUE(p.Start("echo system", dir.path().c_str()));
    EXPECT_EQ(ReadAll(p), "bundled\n");
    ASSERT_TRUE(p.Start("echo system"));  // elsewhere the system's
    EXPECT_EQ(ReadAll(p), "system\n");
    // ReadError reads standard output too.
    ASSERT_TRUE(p.Start("echo via-stdout"));
    ASSERT_EQ(p.Wait(10000), 1);
    EXPECT_GT(p.ReadError(1000), 0);
    EXPECT_STREQ(p.buffer, "via-stdout\n");
    EXPECT_FALSE(p.Start("sq-crt-missing", dir.path().c_str()));

    // A given environment is the child's whole environment.
    const char* const env[] = {"SQ_PROBE=from-env", "PATH=/usr/bin:/bin", nullptr};
    ASSERT_TRUE(p.Start(Sh("echo $SQ_PROBE ${HOME:-nohome}").c_str(), nullptr, env));
    EXPECT_EQ(ReadAll(p), "from-env nohome\n");
}

TEST(ProcessWrapperCRT, HandsTheInheritableEndToItsChildByNumber) {
    int r = -1, w = -1;
    ASSERT_TRUE(CreateCrtPipe(&r, &w, 32768, false, true));
    CProcessWrapperCRT p(0);
    const std::string line = Sh("echo through-fd >&" + std::to_string(w));
    ASSERT_TRUE(p.Start(line.c_str()));
    close(w);  // the child has its own copy now; the end of data comes when it exits
    EXPECT_EQ(ReadFdToEnd(r), "through-fd\n");
    close(r);
    EXPECT_EQ(p.Wait(10000), 1);

    // An end closed before any start is forgotten, even when its number is reused meanwhile: a
    // child handed that descriptor would hold another pipe open and its reader would never end.
    ASSERT_TRUE(CreateCrtPipe(&r, &w, 0, false, true));
    const int stale = w;
    close(w);
    close(r);
    const int reuse = open("/dev/null", O_RDONLY | O_CLOEXEC);  // the number now names another file
    ASSERT_GE(reuse, 0);
    if (reuse != stale) {
        ASSERT_EQ(dup3(reuse, stale, O_CLOEXEC), stale);
        close(reuse);
    }
    ASSERT_TRUE(p.Start(Sh("[ -e /proc/$$/fd/" + std::to_string(stale) + " ] && exit 1; exit 0").c_str()));
    EXPECT_EQ(p.Wait(10000), 1);
    int code = -1;
    EXPECT_FALSE(p.IsRunning(&code));
    EXPECT_EQ(code, 0) << "a reused descriptor number reached the child";
    close(stale);
}

// ----------------------------------------------------------------------------------------------
// RunAndWait and SplitCommandLine

TEST(RunAndWait, ExitCodeFolderFailureAndLimit) {
    int code = -1;
    EXPECT_TRUE(RunAndWait("sh -c \"exit 7\"", nullptr, 0, &code));
    EXPECT_EQ(code, 7);
    EXPECT_FALSE(RunAndWait("sq-no-such-tool", nullptr, 0, &code));

    sqtest::TempDir dir;
    const auto before = std::filesystem::current_path();
    EXPECT_TRUE(RunAndWait(Sh("pwd > here.txt").c_str(), dir.path().c_str(), kProcNoStdHandles, &code));
    EXPECT_EQ(sqtest::ReadFile(dir.file("here.txt")), std::filesystem::canonical(dir.path()).string() + "\n");
    EXPECT_EQ(std::filesystem::current_path(), before);

    const auto t = Clock::now();
    EXPECT_FALSE(RunAndWait("sleep 60", nullptr, 0, &code, 300));
    EXPECT_LT(MsSince(t), 10000);
}

TEST(SplitCommandLine, SplitsInPlaceKeepingQuotes) {
    struct Case {
        const char* text;
        std::vector<std::string> words;
    } cases[] = {
        {"a  b", {"a", "b"}},
        {"\"x y\" z", {"\"x y\"", "z"}},
        {"\"x y\"z w", {"\"x y\"z", "w"}},
        {"\"abc", {"\"abc"}},
        {"  lead trail  ", {"lead", "trail"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        char** argv = SplitCommandLine(text.data());
        ASSERT_NE(argv, nullptr);
        std::vector<std::string> got;
        for (char** a = argv; *a; ++a) got.emplace_back(*a);
        std::free(argv);
        EXPECT_EQ(got, c.words) << c.text;
    }
    EXPECT_EQ(SplitCommandLine(nullptr), nullptr);
}

}  // namespace
