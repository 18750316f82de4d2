// Saving a document over a file the user keeps: a save cut short (the program killed half way)
// leaves the old file or the new one whole and at most one temporary file beside it, and a
// finished save reaches the disk (file and folder flushed) before it reports success.
#include "common/xml.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/syscall_trace.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;

// A document of a few MB, so that a save takes long enough to be killed in the middle.
void FillLarge(CXML& xml, int items) {
    xml.New("1.0", "queue");
    for (int i = 0; i < items; ++i) {
        xml.addTextChild("item", ("/music/some folder/track number " + std::to_string(i) + ".flac").c_str());
    }
}

std::vector<std::string> NamesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    return names;
}

TEST(XmlSafeSave, SavesKilledHalfWayLeaveOneLeftoverAtMost) {
    sqtest::TempDir dir;
    const std::string target = dir.file("queue.xml");
    CXML xml;
    FillLarge(xml, 60000);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_GT(SaveXmlFileSafely(xml, target.c_str()), 0);
    const auto oneSave = std::chrono::steady_clock::now() - start;

    // Each child saves in a loop and is killed at another point of a save.
    for (int round = 0; round < 6; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            if (write(ready[1], "x", 1) != 1) _exit(1);
            for (;;) SaveXmlFileSafely(xml, target.c_str());
        }
        close(ready[1]);
        char byte;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        std::this_thread::sleep_for(oneSave * (3 + 2 * round) / 10);
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
    }
    const auto names = NamesIn(dir.path());
    EXPECT_LE(names.size(), 2u) << names.size() << " files after the kills";
    CXML back;
    ASSERT_EQ(back.Open(target.c_str()), 0);  // the target is always whole
    EXPECT_NE(back.goToKey("/queue/item", 59999), nullptr);

    // The next save takes the leftover's place and leaves only the target.
    ASSERT_GT(SaveXmlFileSafely(xml, target.c_str()), 0);
    EXPECT_EQ(NamesIn(dir.path()), std::vector<std::string>{"queue.xml"});
}

TEST(XmlSafeSave, KeepsTheModeAndFailsWithoutTouchingTheOldFile) {
    sqtest::TempDir dir;
    const std::string target = dir.write("prefs.xml", "<old/>");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    CXML xml;
    xml.New("1.0", "prefs");
    ASSERT_GT(SaveXmlFileSafely(xml, target.c_str()), 0);
    EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_NE(sqtest::ReadFile(target).find("<prefs/>"), std::string::npos);

    // A folder where the file should be: the save fails and the folder holds nothing new.
    fs::create_directory(dir.file("taken.xml"));
    fs::create_directory(dir.file("taken.xml/sub"));
    EXPECT_EQ(SaveXmlFileSafely(xml, dir.file("taken.xml").c_str()), -1);
    EXPECT_EQ(NamesIn(dir.path()).size(), 2u);
    EXPECT_EQ(SaveXmlFileSafely(xml, dir.file("missing/x.xml").c_str()), -1);
}

// Run in a child by the next test.
TEST(XmlSafeSave, DISABLED_SaveForTrace) {
    const char* folder = std::getenv(sqtest::kTraceDirVariable);
    ASSERT_NE(folder, nullptr);
    CXML xml;
    xml.New("1.0", "prefs");
    ASSERT_GT(SaveXmlFileSafely(xml, (std::string(folder) + "/prefs.xml").c_str()), 0);
}

TEST(XmlSafeSave, FileAndFolderReachTheDiskAroundTheRename) {
    if (!sqtest::CanTraceSystemCalls()) GTEST_SKIP() << "strace cannot run here";
    sqtest::TempDir dir;
    const std::string folder = dir.path().string();
    const std::string target = folder + "/prefs.xml";
    const auto calls = sqtest::TraceFileCalls("XmlSafeSave.DISABLED_SaveForTrace", folder);
    ASSERT_FALSE(calls.empty());
    ASSERT_TRUE(fs::exists(target));
    std::string tmp;
    for (const auto& c : calls) {
        if (c.rfind("rename ", 0) == 0 && c.size() > target.size() && c.compare(c.size() - target.size(), target.size(), target) == 0)
            tmp = c.substr(7, c.size() - 8 - target.size());
    }
    ASSERT_FALSE(tmp.empty()) << testing::PrintToString(calls);
    EXPECT_TRUE(sqtest::CallsInOrder(calls, {"fsync " + tmp, "rename " + tmp + " " + target, "fsync " + folder}))
        << testing::PrintToString(calls);
}

}  // namespace
