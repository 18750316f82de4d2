// Output pre-checks: what happens to an existing output under each policy and answer, the output
// folder and probe write, the temporary folder's fall-backs and room, and joined inputs.
#include "engine/jobs/outputchecks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "engine/context.h"
#include "engine/jobs/itemstate.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "support/event_recorder.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;

class OutputChecks : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadPrefDefinitions(false, sqtest::DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
        prefs().SetString("overall.task.renPostfix", "_old");
        ClearKeptOverwriteAnswer();
        item.state = kItemEncoding;
    }
    void TearDown() override {
        SetFreeSpaceQuery(nullptr);
        platform::SetAppFolderOverride("");
    }
    static PrefStore& prefs() { return GetPrefStore(); }

    sqtest::TempDir dir;
    sqtest::EventRecorder events;
    QueueItem item;
};

TEST_F(OutputChecks, NullOutputsPassUntouched) {
    for (const char* path : {"NUL", "/dev/null"}) {
        EXPECT_EQ(PrepareOutputPath(&item, path, false), 0) << path;
    }
    struct stat st {};
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_FALSE(fs::exists("NUL"));
}

TEST_F(OutputChecks, ExistingOutputByPolicyAndAnswer) {
    struct Case {
        const char* name;
        int policy;
        bool autoTask;
        int reply;          // answer to the yes/no/cancel question
        const char* file;   // existing output
        const char* blocker;  // a file already holding the first moved-aside name
        int expectAnswer;
        const char* movedTo;
        bool asked;
    } const cases[] = {
        {"overwrite", 1, false, 0, "a.mp3", nullptr, kOverwrite, nullptr, false},
        {"skip keeps the file", 3, false, 0, "a.mp3", nullptr, kSkipOutput, nullptr, false},
        {"rename", 2, false, 0, "a.mp3", nullptr, kMovedAside, "a_old.mp3", false},
        {"rename without extension", 2, false, 0, "noext", nullptr, kMovedAside, "noext_old", false},
        {"rename in a dotted folder", 2, false, 0, "my.music/song", nullptr, kMovedAside, "my.music/song_old", false},
        {"rename never replaces a kept copy", 2, false, 0, "a.mp3", "a_old.mp3", kMovedAside, "a_old2.mp3", false},
        {"ask: yes overwrites", 0, false, kAnswerYes, "a.mp3", nullptr, kOverwrite, nullptr, true},
        {"ask: no renames", 0, false, kAnswerNo, "a.mp3", nullptr, kMovedAside, "a_old.mp3", true},
        {"ask: cancel skips", 0, false, 2, "a.mp3", nullptr, kSkipOutput, nullptr, true},
        {"unattended replaces the question", 0, true, 0, "a.mp3", nullptr, kOverwrite, nullptr, false},
        {"unattended keeps an explicit skip", 3, true, 0, "a.mp3", nullptr, kSkipOutput, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sqtest::TempDir d;
        fs::create_directories(fs::path(d.file(c.file)).parent_path());
        const std::string path = d.write(c.file, "old output");
        if (c.blocker) d.write(c.blocker, "kept earlier");
        prefs().SetInt("overall.task.overwrite", c.policy);
        prefs().SetBool("overall.automation.autoTask", c.autoTask);
        events.clear();
        sqtest::EventRecorder local;
        local.answer(kEventAskYesNoCancel, c.reply);
        ClearKeptOverwriteAnswer();
        EXPECT_EQ(ApplyOverwritePolicy(path.c_str(), true), c.expectAnswer);
        EXPECT_EQ(local.texts(kEventAskYesNoCancel).size(), c.asked ? 1u : 0u);
        EXPECT_EQ(fs::exists(path), c.expectAnswer == kSkipOutput);
        if (c.expectAnswer == kSkipOutput) {
            EXPECT_EQ(sqtest::ReadFile(path), "old output");
        }
        if (c.movedTo) {
            EXPECT_EQ(sqtest::ReadFile(d.file(c.movedTo)), "old output");
        }
        if (c.blocker) {
            EXPECT_EQ(sqtest::ReadFile(d.file(c.blocker)), "kept earlier");
        }
    }
    prefs().SetBool("overall.automation.autoTask", false);
}

TEST_F(OutputChecks, KeptAnswerAsksOnce) {
    prefs().SetInt("overall.task.overwrite", 0);
    events.answer(kEventAskYesNoCancel, kAnswerYes);
    events.answer(kEventAskCountdown, 1);
    for (const char* name : {"a.mp3", "b.mp3"}) {
        const std::string path = dir.write(name, "x");
        EXPECT_EQ(ApplyOverwritePolicy(path.c_str(), false), kOverwrite);
    }
    EXPECT_EQ(events.texts(kEventAskYesNoCancel).size(), 1u);
}

TEST_F(OutputChecks, PrepareOutputPathStates) {
    // Skip policy: state 7, the file untouched.
    prefs().SetInt("overall.task.overwrite", 3);
    const std::string existing = dir.write("a.mp3", "keep");
    EXPECT_EQ(PrepareOutputPath(&item, existing.c_str(), false), -1);
    EXPECT_EQ(item.state.load(), kItemSkipping);
    EXPECT_EQ(sqtest::ReadFile(existing), "keep");

    // A missing folder is made only when asked; otherwise the probe write fails.
    const std::string nested = dir.file("new/sub/out.mp3");
    item.state = kItemEncoding;
    prefs().SetBool("overall.automation.autoCreateDir", false);
    EXPECT_EQ(PrepareOutputPath(&item, nested.c_str(), false), -1);
    EXPECT_EQ(item.state.load(), kItemError);
    item.state = kItemEncoding;
    prefs().SetBool("overall.automation.autoCreateDir", true);
    EXPECT_EQ(PrepareOutputPath(&item, nested.c_str(), false), 0);
    EXPECT_TRUE(fs::is_directory(dir.file("new/sub")));
    EXPECT_FALSE(fs::exists(nested)) << "the probe file is removed";

    // A stop is never overwritten by the skip.
    item.state = kItemStopping;
    EXPECT_EQ(PrepareOutputPath(&item, existing.c_str(), false), -1);
    EXPECT_EQ(item.state.load(), kItemStopping);
}

uint64_t fakeFree = 0;
bool FakeFreeSpace(const std::string&, uint64_t* bytes) {
    *bytes = fakeFree;
    return true;
}

TEST_F(OutputChecks, TempDirFallsBackAndNeedsRoom) {
    // Not usable: falls back to the program folder, written back into the preference.
    sqtest::TempDir program;
    platform::SetAppFolderOverride(program.path().string());
    prefs().SetString("overall.task.tempdir", dir.file("missing").c_str());
    EXPECT_TRUE(CheckTempDir(&item));
    EXPECT_EQ(fs::path(prefs().GetString("overall.task.tempdir")), fs::path(program.path().string() + "/"));
    EXPECT_FALSE(fs::exists(program.file("qxstream.tmp")));

    // Neither usable: the last resort is the system's temporary folder.
    platform::SetAppFolderOverride(dir.file("no-program-here"));
    prefs().SetString("overall.task.tempdir", dir.file("missing").c_str());
    EXPECT_TRUE(CheckTempDir(&item));
    EXPECT_STREQ(prefs().GetString("overall.task.tempdir"), "/tmp/");

    // Room for the converted part only, in 64 bits: 100000 KiB, 0..30000 of 60000 ms.
    prefs().SetString("overall.task.tempdir", dir.path().string().c_str());
    item.size = 100000;
    item.begin = 0;
    item.end = 30000;
    item.duration = 60000;
    SetFreeSpaceQuery(FakeFreeSpace);
    fakeFree = 50000ull * 1024;
    EXPECT_TRUE(CheckTempDir(&item));
    fakeFree = 49999ull * 1024;
    EXPECT_FALSE(CheckTempDir(&item));
    EXPECT_EQ(item.errorCode.load(), kItemErrorTempDir);
    EXPECT_EQ(item.state.load(), kItemError);
    EXPECT_EQ(events.texts(kEventNotice).back(), "INVALID_TEMP_SPACE");
}

TEST_F(OutputChecks, JoinedInputsMustShareTheRate) {
    QueueItem second, third;
    AudioStreamInfo a, b, c;
    a.samplerate = 44100;
    b.samplerate = 44100;
    c.samplerate = 48000;
    for (auto [it, s] : {std::pair{&item, &a}, {&second, &b}, {&third, &c}}) {
        it->audio = s;
        it->group = 3;
        it->flags = kItemFlagInUse | kItemFlagHasStreams;
    }
    item.next = &second;
    EXPECT_TRUE(CheckJoinSettings(&item, true));
    second.next = &third;
    prefs().SetBool("overall.audio.enabled", true);
    EXPECT_FALSE(CheckJoinSettings(&item, true));
    EXPECT_EQ(events.texts(kEventNotice).back(), "JOIN_TIP2");
    EXPECT_TRUE(CheckJoinSettings(&item, false));
    third.group = 4;  // another group is not compared
    EXPECT_TRUE(CheckJoinSettings(&item, true));
    for (QueueItem* it : {&item, &second, &third}) it->audio = nullptr, it->next = nullptr;
}

TEST(OutputNames, Postfix) {
    EXPECT_EQ(PostfixedName("/m/a.mp3", "_old"), "/m/a_old.mp3");
    EXPECT_EQ(PostfixedName("/m.x/a", "_old"), "/m.x/a_old");
    EXPECT_EQ(PostfixedName("/m/.hidden", "_old"), "/m/.hidden_old");
}

}  // namespace
