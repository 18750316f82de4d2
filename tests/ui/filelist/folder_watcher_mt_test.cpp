// The folder watcher on real folders with its own thread: which entries of the setting are
// watched, which files count as new and when a file being written is queued, and folders that
// go away or a stop while the watcher reports.
#include "ui/filelist/folder_watcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "engine/queue/queue.h"
#include "support/tempdir.h"
#include "support/wait_until.h"
#include "ui/filelist/queue_adder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using sqtest::WaitUntil;

// A moment in which a folder nobody watches any more would have shown a change.
void Settle() { std::this_thread::sleep_for(300ms); }

std::vector<std::string> QueuedFiles() {
    std::vector<std::string> out;
    for (int i = 0; i < QueueCount(); ++i) out.push_back(QueueGetItem(i)->file);
    return out;
}

class Watching : public ::testing::Test {
protected:
    void SetUp() override {
        QueueClear();
        fs::create_directories(dir.file("in"));
    }
    void TearDown() override {
        watcher.StopWatching();
        QueueClear();
    }
    std::string In(const std::string& name = "") const { return dir.file("in") + (name.empty() ? "" : "/" + name); }

    // Returns once the watcher has handled every change made before the call: the watcher reports
    // a folder's changes in order, so a new file written now and queued means the earlier ones
    // were seen. The marker leaves the queue again.
    void SeenAllChanges() {
        const std::string marker = In("marker-" + std::to_string(++markers) + ".wav");
        std::ofstream(marker) << "x";
        ASSERT_TRUE(WaitUntil([&] { return QueueFindByFile(marker.c_str()) != nullptr; }));
        QueueFreeItem(QueueFindByFile(marker.c_str()));
        fs::remove(marker);
    }
    int markers = 0;

    sqtest::TempDir dir;
    QueueAdder adder;
    QueueFolderWatcher watcher{adder};
};

TEST_F(Watching, SettingEntriesBecomeSlots) {
    for (const char* sub : {"b", "c", "d", "e"}) fs::create_directories(dir.file(sub));
    fs::create_directories(In("album.wav"));  // a folder the pattern matches: the entry is still a pattern
    const std::string in = In();
    const struct {
        const char* name;
        std::string setting;
        std::vector<std::pair<std::string, std::string>> slots;  // folder, patterns
    } cases[] = {
        {"two patterns of one folder", in + "/*.wav;" + in + "/*.mp3", {{in, "*.wav|*.mp3"}}},
        {"a pattern is compared whole", in + "/*.mp3;" + in + "/*.mp;" + in + "/*.mp3", {{in, "*.mp3|*.mp"}}},
        {"folder with a trailing separator", in + "/", {{in, "*.*"}}},
        {"a folder without pattern", in, {{in, "*.*"}}},
        {"Windows separators", in + "\\*.WAV", {{in, "*.WAV"}}},
        {"a folder that cannot be watched is skipped", "/no/such/folder/*.wav;;" + in + "/*.flac", {{in, "*.flac"}}},
        {"a fifth folder is ignored",
         in + "/*;" + dir.file("b") + "/*;" + dir.file("c") + "/*;" + dir.file("d") + "/*;" + dir.file("e") + "/*",
         {{in, "*"}, {dir.file("b"), "*"}, {dir.file("c"), "*"}, {dir.file("d"), "*"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        watcher.RestartWatch(c.setting);
        std::vector<std::pair<std::string, std::string>> slots;
        for (int i = 0; i < watcher.FolderCount(); ++i) slots.emplace_back(watcher.SlotFolder(i), watcher.SlotPatterns(i));
        EXPECT_EQ(slots, c.slots);
    }
}

TEST_F(Watching, OnlyNewMatchingFilesAreQueuedOnce) {
    std::ofstream(In("old.wav")) << "x";
    std::ofstream(In("old.mp3")) << "x";
    watcher.RestartWatch(In("*.wav") + ";" + In("*.MP3"));
    ASSERT_EQ(watcher.FolderCount(), 1);

    std::ofstream(In("new.WAV")) << "x";
    std::ofstream(In("notes.txt")) << "x";
    fs::create_directories(In("sub.wav"));
    std::ofstream(dir.file("moved.mp3")) << "x";
    fs::rename(dir.file("moved.mp3"), In("moved.mp3"));
    ASSERT_TRUE(WaitUntil([] { return QueueCount() >= 2; }));
    SeenAllChanges();
    // Files there before the watch (for either pattern), other names and folders are not queued.
    auto queued = QueuedFiles();
    std::sort(queued.begin(), queued.end());
    EXPECT_EQ(queued, (std::vector<std::string>{In("moved.mp3"), In("new.WAV")}));

    // A later change does not queue a queued file again; a file of a reused name whose item left
    // the queue is new again.
    std::ofstream(In("another.wav")) << "x";
    ASSERT_TRUE(WaitUntil([] { return QueueCount() == 3; }));
    QueueFreeItem(QueueFindByFile(In("new.WAV").c_str()));
    fs::remove(In("new.WAV"));
    SeenAllChanges();
    std::ofstream(In("new.WAV")) << "y";
    ASSERT_TRUE(WaitUntil([] { return QueueCount() == 3; }));
    SeenAllChanges();
    EXPECT_EQ(QueueCount(), 3);
    EXPECT_NE(QueueFindByFile(In("new.WAV").c_str()), nullptr);
}

TEST_F(Watching, AFileBeingWrittenIsQueuedAfterItsLastWrite) {
    watcher.RestartWatch(In("*.wav"));
    {
        std::ofstream file(In("copy.wav"), std::ios::binary);
        for (int chunk = 0; chunk < 3; ++chunk) {
            file << std::string(64 * 1024, static_cast<char>('a' + chunk)) << std::flush;
            SeenAllChanges();
            EXPECT_EQ(QueueCount(), 0) << "queued while still being written (chunk " << chunk << ")";
        }
    }
    ASSERT_TRUE(WaitUntil([] { return QueueCount() == 1; }));
    SeenAllChanges();
    EXPECT_EQ(QueuedFiles(), std::vector<std::string>{In("copy.wav")});
}

TEST_F(Watching, AFolderMovedAwayOrRemovedEndsItsWatch) {
    fs::create_directories(dir.file("gone"));
    watcher.RestartWatch(In() + ";" + dir.file("gone"));
    ASSERT_EQ(watcher.FolderCount(), 2);
    fs::rename(In(), dir.file("elsewhere"));
    fs::remove_all(dir.file("gone"));
    ASSERT_TRUE(WaitUntil([&] { return watcher.FolderCount() == 0; }));
    std::ofstream(dir.file("elsewhere/late.wav")) << "x";
    Settle();
    EXPECT_EQ(QueueCount(), 0) << "a folder moved away is no longer watched";

    // Its slot is free for a folder watched again.
    fs::create_directories(In());
    watcher.AddWatch(In(), "*.wav");
    std::ofstream(In("again.wav")) << "x";
    ASSERT_TRUE(WaitUntil([] { return QueueCount() == 1; }));
}

// A watcher whose handler takes its time: a stop while it reports still ends promptly.
class SlowWatcher : public CFolderWatcher {
public:
    ~SlowWatcher() override { StopWatching(); }
    std::atomic<int> calls{0};

protected:
    bool OnNewFile(const std::string&, const std::string&) override {
        ++calls;
        std::this_thread::sleep_for(200ms);
        return true;
    }
};

TEST_F(Watching, StopWhileReportingEnds) {
    SlowWatcher slow;
    ASSERT_EQ(slow.AddWatch(In(), "*"), 0);
    for (int i = 0; i < 20; ++i) std::ofstream(In("f" + std::to_string(i))) << "x";
    ASSERT_TRUE(WaitUntil([&] { return slow.calls > 0; }));
    auto stopped = std::async(std::launch::async, [&] { slow.StopWatching(); });
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_LT(slow.calls, 20) << "the stop did not wait for every pending name";
    EXPECT_EQ(slow.FolderCount(), 0);
}

}  // namespace
