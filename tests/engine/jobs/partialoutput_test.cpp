// Outputs under partial names: the names, the three file steps (commit, release, discard) and the
// job that writes only partial files until it is done, and that clears what a killed run left
// without taking it for the user's file.
#include "engine/jobs/partialoutput.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "engine/encoders/encoder_info.h"
#include "engine/jobs/itemstate.h"
#include "engine/jobs/job_fixture.h"
#include "engine/queue/partialname.h"

namespace {

namespace fs = std::filesystem;
using sqtest::Shell;

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

TEST(PartialName, HiddenBesideTheFinalNameWithItsEnd) {
    const std::string a = PartialOutputName("out/song.mp3");
    ASSERT_EQ(a.size(), std::string("out/.sqpart-0123456789abcdef-song.mp3").size()) << a;
    EXPECT_EQ(a.rfind("out/.sqpart-", 0), 0u) << a;
    EXPECT_EQ(a.substr(a.size() - 9), "-song.mp3");
    EXPECT_EQ(PartialOutputName("out/song.mp3"), a);  // the next run finds the same name
    EXPECT_NE(PartialOutputPrefix("out/song.mp3"), PartialOutputPrefix("out/song.mp3.ogg"));
    EXPECT_EQ(PartialOutputName("song.mp3").rfind(".sqpart-", 0), 0u);
    EXPECT_EQ(PartialOutputName("out/"), "");
    EXPECT_EQ(PartialOutputName("out/" + std::string(240, 'n') + ".mp3"), "");  // longer than a name may be
}

TEST(PartialOutput, CommitReleaseAndDiscardTouchOnlyTheirOwnFiles) {
    sqtest::TempDir dir;
    const std::string final = dir.file("a.wav");
    const std::string partial = PartialOutputName(final);
    const std::string prefix = PartialOutputPrefix(final);
    struct Case {
        const char* what;
        bool commit, release, discard;
        std::set<std::string> left;  // the folder's names afterwards, besides "user.wav"
    } const cases[] = {
        {"committed and released: only the final files", true, true, false, {"a.wav", "a_ch2.wav", "a.wv"}},
        {"discarded before commit: nothing", false, false, true, {}},
        {"committed, then the run died and the item is redone: nothing", true, false, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& e : fs::directory_iterator(dir.path())) fs::remove(e.path());
        dir.write("user.wav", "the user's own");
        // The tool's file, a channel file it derived, and one under an extension of its choosing.
        dir.write(fs::path(partial).filename().string(), "whole output");
        dir.write(fs::path(prefix + "a_ch2.wav").filename().string(), "channel 2");
        dir.write(fs::path(prefix + "a.wv").filename().string(), "own extension");
        if (c.commit) {
            EXPECT_TRUE(CommitPartialOutput(final));
            EXPECT_EQ(sqtest::ReadFile(final), "whole output");
        }
        if (c.release) ReleasePartialOutput(final);
        if (c.discard) DiscardPartialOutput(final);
        std::set<std::string> want = c.left;
        want.insert("user.wav");
        EXPECT_EQ(Names(dir.path()), want);
        EXPECT_EQ(sqtest::ReadFile(dir.file("user.wav")), "the user's own");
    }
    // A user's file under the final name is no link of the partial file: a discard leaves it.
    dir.write(fs::path(partial).filename().string(), "partial");
    DiscardPartialOutput(dir.file("user.wav"));
    dir.write("a.wav", "the user's a.wav");
    DiscardPartialOutput(final);
    EXPECT_EQ(sqtest::ReadFile(final), "the user's a.wav");
    EXPECT_FALSE(fs::exists(partial));
}

class PartialJob : public sqtest::JobFixture {
protected:
    // A generic tool that copies its input to $(DestFile) and notes which names its folder held
    // while it ran.
    void UseListingTool() {
        PrefStore& p = GetPrefStore();
        const std::string script = in.write("tool.sh", "cat > \"$1\"; ls -a \"$(dirname \"$1\")\" > \"$2\"\n");
        p.SetInt("overall.audio.encoder", kEncGeneric);
        p.SetString("audioenc.cli.command", ("sh " + script + " $(DestFile) " + in.file("seen.txt")).c_str());
        p.SetString("audioenc.cli.fileext", "out");
        p.SetInt("overall.task.overwrite", 0);  // ask: an unexpected question skips the item
    }
};

TEST_F(PartialJob, OutputHasItsFinalNameOnlyWhenDone) {
    UseListingTool();
    const std::string source = in.file("tone.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + source + "' synth 0.5 sine 440"));
    QueueItem* item = Add(source);
    Describe(item, 44100, 2, 500);
    RunBatch(1);
    ASSERT_EQ(item->state.load(), kItemDone);
    const std::string seen = sqtest::ReadFile(in.file("seen.txt"));
    EXPECT_NE(seen.find(fs::path(PartialOutputName(out.file("tone.out"))).filename().string()), std::string::npos) << seen;
    EXPECT_EQ(seen.find("\ntone.out\n"), std::string::npos) << seen;
    EXPECT_EQ(Names(out.path()), std::set<std::string>{"tone.out"});
    EXPECT_EQ(fs::file_size(out.file("tone.out")), fs::file_size(source));
}

TEST_F(PartialJob, WhatAKilledRunLeftIsRedoneWithoutAQuestion) {
    UseListingTool();
    struct Case {
        const char* what;
        bool finalLinked;  // the run died after the final name was given, before the end was recorded
    } const cases[] = {{"killed while writing", false}, {"killed before its end was recorded", true}};
    const std::string source = in.file("tone.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + source + "' synth 0.5 sine 440"));
    const std::string final = out.file("tone.out");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QueueClear();
        events.clear();
        for (const auto& e : fs::directory_iterator(out.path())) fs::remove(e.path());
        out.write(fs::path(PartialOutputName(final)).filename().string(), "short");
        if (c.finalLinked) {
            ASSERT_EQ(::link(PartialOutputName(final).c_str(), final.c_str()), 0);
        }
        QueueItem* item = Add(source);
        Describe(item, 44100, 2, 500);
        RunBatch(1);
        EXPECT_EQ(item->state.load(), kItemDone);
        EXPECT_TRUE(events.texts(kEventAskYesNoCancel).empty());
        EXPECT_EQ(Names(out.path()), std::set<std::string>{"tone.out"});
        EXPECT_EQ(fs::file_size(final), fs::file_size(source));
    }
}

TEST_F(PartialJob, AFailedToolLeavesNoFileAndAnEarlierOutputWhole) {
    PrefStore& p = GetPrefStore();
    const std::string script = in.write("tool.sh", "head -c 1000 > \"$1\"; exit 3\n");
    p.SetInt("overall.audio.encoder", kEncGeneric);
    p.SetString("audioenc.cli.command", ("sh " + script + " $(DestFile)").c_str());
    p.SetString("audioenc.cli.fileext", "out");
    p.SetInt("overall.task.overwrite", 2);
    p.SetString("overall.task.renPostfix", "_old");
    const std::string source = in.file("tone.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + source + "' synth 0.5 sine 440"));
    out.write("tone.out", "earlier");
    QueueItem* item = Add(source);
    Describe(item, 44100, 2, 500);
    RunBatch(1);
    EXPECT_EQ(item->state.load(), kItemError);
    EXPECT_EQ(Names(out.path()), std::set<std::string>{"tone_old.out"});
    EXPECT_EQ(sqtest::ReadFile(out.file("tone_old.out")), "earlier");
}

}  // namespace
