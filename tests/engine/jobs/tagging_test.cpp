// Job helpers: the tag tool command lines (split back into arguments as the runner splits them),
// when tagging runs at all, the encoder for a format, the priority mappings and the small text
// and file helpers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/encoders/encoder_test_support.h"
#include "engine/jobs/tagging.h"
#include "engine/queue/queue.h"
#include "platform/cmdline.h"
#include "platform/fs.h"
#include "support/event_recorder.h"

namespace {

using Args = std::vector<std::string>;

struct TaggedItem : QueueItem {
    TaggedItem() {
        flags = kItemFlagInUse | kItemFlagHasTags;
        state = kItemEncoding;
        tagTitle = strdup("He said \"hi\" \\ back\\");
        tagArtist = strdup("-rf --evil");
        tagAlbum = strdup("Ålbum $(Title) & co");
        tagGenre = strdup("Rock");
        tagComment = strdup("a\\\"b");
        tagTrack = 3;
        tagYear = 0;
    }
    ~TaggedItem() { ClearItemTags(this); }
};

TEST(TagCommandLine, EveryValueComesBackAsOneArgument) {
    TaggedItem item;
    const std::string title = item.tagTitle, comment = item.tagComment;
    struct Case {
        const char* path;
        Args argv;
    } cases[] = {
        {"/o ut/\"x\".mp3",
         {"Tag", "--title", title, "--artist", "-rf --evil", "--album", "Ålbum $(Title) & co", "--track", "3", "--genre",
          "Rock", "--comment", comment, "/o ut/\"x\".mp3"}},
        {"/out/a.opus",
         {"Tag", "--title", title, "--artist", "-rf --evil", "--album", "Ålbum $(Title) & co", "--track", "3", "--genre",
          "Rock", "--comment", comment, "/out/a.opus"}},
        {"/out/a b.m4a",
         {"neroAacTag", "/out/a b.m4a", "-meta:title=" + title, "-meta:artist=-rf --evil",
          "-meta:album=Ålbum $(Title) & co", "-meta:track=3", "-meta:genre=Rock", "-meta:comment=" + comment}},
        {"/out/a.mp4",
         {"neroAacTag", "/out/a.mp4", "-meta:title=" + title, "-meta:artist=-rf --evil",
          "-meta:album=Ålbum $(Title) & co", "-meta:track=3", "-meta:genre=Rock", "-meta:comment=" + comment}},
        {"/out/a.mkv", {}},  // neither tool takes it
    };
    for (const Case& c : cases) {
        const std::string line = BuildTagCommandLine(c.path, &item);
        EXPECT_EQ(line.empty() ? Args{} : platform::SplitArgs(line), c.argv) << line;
    }
    // Missing values and zero numbers are left out; the year comes after the track.
    ClearItemTags(&item);
    item.flags |= kItemFlagHasTags;
    item.tagTitle = strdup("T");
    item.tagYear = 1999;
    item.tagTrack = 0;
    EXPECT_EQ(platform::SplitArgs(BuildTagCommandLine("/o/a.flac", &item)), (Args{"Tag", "--title", "T", "--year", "1999", "/o/a.flac"}));
    EXPECT_EQ(platform::SplitArgs(BuildTagCommandLine("/o/a.m4a", &item)),
              (Args{"neroAacTag", "/o/a.m4a", "-meta:title=T", "-meta:year=1999"}));
}

TEST(TagOutput, RunsOnlyForTaggedItemsAndExistingFiles) {
    ASSERT_TRUE(enctest::LoadShippedSettings());
    sqtest::TempDir dir;
    sqtest::EventRecorder events;
    TaggedItem item;

    item.flags &= ~kItemFlagHasTags;  // no tags: nothing runs, whatever the file
    EXPECT_EQ(TagOutputFile(dir.file("missing.mp3").c_str(), &item), 0);
    EXPECT_EQ(TagOutputFile(nullptr, &item), 0);
    EXPECT_TRUE(events.texts(kEventCommandLine).empty());
    EXPECT_EQ(item.errorCode, 0);

    item.flags |= kItemFlagHasTags;
    const std::string video = dir.write("clip.mkv", "x");
    EXPECT_EQ(TagOutputFile(video.c_str(), &item), 0);  // no tool for it: nothing to do
    EXPECT_TRUE(events.texts(kEventCommandLine).empty());

    // No output file (standard output, or a pass that wrote nothing): no tool runs.
    EXPECT_EQ(TagOutputFile(dir.file("missing.mp3").c_str(), &item), 0);
    EXPECT_EQ(TagOutputFile("-", &item), 0);
    EXPECT_TRUE(events.texts(kEventCommandLine).empty());
    EXPECT_EQ(item.errorCode, 0);

    // A file the tool cannot tag is an error; a stopping item keeps its state, others end in error.
    platform::SetAppFolderOverride(SQ_OUT_DIR);
    const std::string junk = dir.write("junk.mp3", "not audio");
    for (const uint32_t state : {kItemEncoding, kItemStopping}) {
        item.errorCode = 0;
        item.state = state;
        EXPECT_EQ(TagOutputFile(junk.c_str(), &item), -1);
        EXPECT_EQ(item.errorCode, 18);
        EXPECT_EQ(item.state, state == kItemStopping ? kItemStopping : kItemError);
    }
    platform::SetAppFolderOverride("");
    ASSERT_EQ(events.texts(kEventCommandLine).size(), 2u);
    EXPECT_EQ(events.texts(kEventCommandLine)[0].rfind("Tag --title ", 0), 0u);
    bool logged = false;
    for (const std::string& line : events.texts(kEventLogLine)) logged |= line.find("not an MPEG audio file") != std::string::npos;
    EXPECT_TRUE(logged);  // the tool's own message reaches the log
}

TEST(EncoderForFormat, NamesMapToTheirEncoders) {
    const std::pair<const char*, int> table[] = {
        {"MP3", 0},       {"Vorbis", 1},    {"LC-AAC", 2}, {"HE-AAC", 2}, {"HE-AAC V2", 2}, {"WMA 9", 8},
        {"MusePack", 11}, {"Speex", 12},    {"AMR", 13},   {"WavPack", 16}, {"FLAC", 17},    {"APE", 18},
        {"PCM", 22},      {"Opus", 7},      {"AC-3", 14},  {"mp3", 14},     {"", 14},        {nullptr, 14},
    };
    for (const auto& [name, id] : table) EXPECT_EQ(EncoderIdForFormat(name), id) << (name ? name : "(null)");
}

TEST(Priorities, PreferenceMapsToProcessAndThreadPriorities) {
    ASSERT_TRUE(enctest::LoadShippedSettings());
    PrefStore& prefs = GetPrefStore();
    const char* old = std::getenv("NUMBER_OF_PROCESSORS");
    const std::string saved = old ? old : "";
    struct Case {
        int pref;
        const char* processors;
        uint32_t processClass;
        bool setsThread;
        int thread;
    } cases[] = {
        {0, "2", kPriorityClassBelowNormal, false, 0}, {0, "8", kPriorityClassNormal, false, 0},
        {1, "8", kPriorityClassIdle, true, -2},        {2, "8", kPriorityClassBelowNormal, true, -1},
        {3, "8", kPriorityClassBelowNormal, true, 0},  {4, "8", kPriorityClassNormal, true, 1},
        {5, "8", kPriorityClassAboveNormal, true, -1},
    };
    for (const Case& c : cases) {
        setenv("NUMBER_OF_PROCESSORS", c.processors, 1);
        prefs.SetInt("overall.generic.priority", c.pref);
        ASSERT_EQ(prefs.GetInt("overall.generic.priority"), c.pref);
        EXPECT_EQ(PriorityClassFromPrefs(), c.processClass) << c.pref << " on " << c.processors;
        int thread = 99;
        EXPECT_EQ(ThreadPriorityValueFromPrefs(&thread), c.setsThread) << c.pref;
        if (c.setsThread) {
            EXPECT_EQ(thread, c.thread) << c.pref;
        }
    }
    if (old) setenv("NUMBER_OF_PROCESSORS", saved.c_str(), 1);
    else unsetenv("NUMBER_OF_PROCESSORS");
}

TEST(ItemHelpers, ClearTagsCopyUntilAndReadSpeed) {
    TaggedItem item;
    item.tagYear = 2001;
    ClearItemTags(&item);
    EXPECT_EQ(item.tagTitle, nullptr);
    EXPECT_EQ(item.tagComment, nullptr);
    EXPECT_EQ(item.tagYear, 0u);
    EXPECT_FALSE(item.flags & kItemFlagHasTags);
    EXPECT_TRUE(item.flags & kItemFlagInUse);

    struct Case {
        const char* text;
        char ch;
        const char* expect;
    } cases[] = {{"key=value", '=', "key"}, {"no sep", '=', "no sep"}, {"=lead", '=', ""}, {"", ':', ""}};
    for (const Case& c : cases) {
        char* copy = CopyUntilChar(c.text, c.ch);
        EXPECT_STREQ(copy, c.expect);
        std::free(copy);
    }
    EXPECT_EQ(CopyUntilChar(nullptr, 'x'), nullptr);

    sqtest::TempDir dir;
    const std::string file = dir.write("data.bin", std::string(3 << 20, 'x'));
    EXPECT_GT(MeasureReadSpeed(file.c_str(), 1024), 0.0);
    EXPECT_GT(MeasureReadSpeed(file.c_str(), 1 << 20), 0.0);  // stops at the end of the file
    EXPECT_EQ(MeasureReadSpeed(dir.file("none").c_str(), 1024), 0.0);
}

}  // namespace
