// The engine's plug-in host with plug-ins of the tests' own: the input list's order, rewrites and
// disabling; picking a plug-in for a file; and whole jobs through the batch that decode with an
// input plug-in and pass through DSP plug-ins, also when the plug-ins misbehave.
#include "engine/sources/winamp_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

#include "engine/engine_api.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/itemstate.h"
#include "engine/jobs/job_fixture.h"
#include "engine/sources/plugin_jobs.h"
#include "support/event_recorder.h"
#include "support/plugin_folder.h"
#include "support/wav_bytes.h"

namespace {

using sqtest::Pcm16Ramp;
using sqtest::PluginFolder;
using sqtest::Inverted;
using sqtest::PluginJobs;
using sqtest::WriteTinyFile;

// The log lines that name the plug-in file and hold the text.
int LogLines(const sqtest::EventRecorder& events, const std::string& file, const std::string& text) {
    int n = 0;
    for (const std::string& line : events.texts(kEventLogLine))
        n += line.find(text) != std::string::npos && line.find("[" + file + "]") != std::string::npos;
    return n;
}

std::vector<std::string> Names(const InputPluginList& list) {
    std::vector<std::string> names;
    for (const InputPluginEntry& e : list) names.push_back(e.fileName);
    return names;
}

TEST(InputPluginList, OrderExtensionRewritesAndDisabledTokens) {
    sqtest::EventRecorder events;
    PluginFolder folder;
    folder.plant("in_tiny", "in_a.so");
    folder.plant("in_probe", "in_b.so");      // empty extension list: last
    folder.plant("in_mp4", "in_c.so");        // "mp4" becomes "MP4;M4A"
    folder.plant("in_ape", "in_d.so");        // "APE" becomes "APE;APL"
    folder.plant("in_mp3", "in_mp3.so");      // after every plug-in with extensions
    folder.plant("in_noentry", "in_e.so");    // no entry point: skipped
    folder.plant("in_nooutput", "in_f.so");   // does not use the output module: skipped
    folder.plant("dsp_invert", "dsp_x.so");   // not an input plug-in
    std::filesystem::path text = folder.file("in_text.so");
    std::ofstream(text) << "not a library";

    InputPluginList list;
    ASSERT_EQ(EnumInputPlugins(folder.path(), list, "in_c.so;in_mp3.so;in_d"), 5);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"in_a.so", "in_c.so", "in_d.so", "in_mp3.so", "in_b.so"}));
    const struct {
        const char* extensions;
        uint32_t flags;
        const char* description;
    } expected[] = {{"TNY", 0, "Tiny decoder"},
                    {"MP4;M4A", kPluginDisabled, "MP4 decoder"},
                    {"APE;APL", 0, "APE decoder"},  // "in_d" is only the start of the name
                    {"MP3;MP2", kPluginDisabled, "MPEG decoder"},
                    {"", 0, "Probing decoder"}};
    for (size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(list[i].fileName);
        EXPECT_EQ(list[i].extensions, expected[i].extensions);
        EXPECT_EQ(list[i].flags, expected[i].flags);
        EXPECT_EQ(list[i].description, expected[i].description);
    }
    // The libraries left out are named in the log with the reason.
    EXPECT_EQ(LogLines(events, "in_e.so", "Plug-in left out: no input module"), 1);
    EXPECT_EQ(LogLines(events, "in_text.so", "Plug-in left out: "), 1);
    EXPECT_EQ(EnumInputPlugins(folder.file("missing"), list, ""), 0);
    EXPECT_TRUE(list.empty());
}

TEST(DspPluginTable, RefusingModulesAreDroppedAndOnlyNamedOnesEnabled) {
    sqtest::EventRecorder events;
    PluginFolder folder;
    folder.plant("dsp_invert", "dsp_a.so");
    folder.plant("dsp_refuses", "dsp_b.so");
    folder.plant("dsp_double", "dsp_c.so");
    DspPluginTable table;
    ASSERT_EQ(EnumDspPlugins(folder.path(), table, "dsp_c.so;dsp_a", nullptr), 2);
    EXPECT_EQ(table[0].name, "dsp_a.so");
    EXPECT_EQ(table[0].flags, kPluginDisabled) << "a token that is only the start of the name";
    EXPECT_EQ(table[1].name, "dsp_c.so");
    EXPECT_EQ(table[1].flags, 0u);
    EXPECT_EQ(table[1].description, "Doubler");
    EXPECT_EQ(LogLines(events, "dsp_b.so", "Plug-in left out: its module did not start"), 1);

    // A stopped plug-in's library is gone; starting it again loads it anew.
    StopDspPlugin(table[1]);
    EXPECT_EQ(table[1].modifySamples, nullptr);
    EXPECT_EQ(StartDspPlugin(table[1], nullptr), 0);
    ASSERT_NE(table[1].modifySamples, nullptr);
    int16_t frame[4] = {5, -7, 0, 0};
    EXPECT_EQ(table[1].modifySamples(table[1].module, frame, 1, 16, 2, 44100), 2);
    EXPECT_EQ(frame[2], 5);
    FreeDspPlugins(table);
    EXPECT_TRUE(table.empty());
}

// Picking a plug-in for a file, with the engine's list.
class PickPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sqtest::LoadShippedEngineData());
        folder.plant("in_tiny", "in_a.so");
        folder.plant("in_mp4", "in_c.so");
        folder.plant("in_probe", "in_z.so");
        EnumeratePlugins(folder.path().c_str(), "", "", 0);
    }
    void TearDown() override { FreePluginLists(); }
    PluginFolder folder;
    sqtest::TempDir files;
};

TEST_F(PickPlugin, ByExtensionWithoutCaseThenByProbing) {
    sqtest::EventRecorder events;
    CWinampInput source;
    const std::string tiny = files.file("song.xyz");
    WriteTinyFile(tiny, 8000, 1, 16, Pcm16Ramp(8));
    const std::string plain = files.file("notes.xyz");
    std::ofstream(plain) << "plain text";
    struct Case {
        std::string path;
        const char* description;  // null: no plug-in
    } const cases[] = {
        {files.file("a.M4A"), "MP4 decoder"},
        {files.file("b.tny"), "Tiny decoder"},
        {tiny, "Probing decoder"},  // no extension fits; the prober plays it
        {plain, nullptr},
        {files.file("folder.m4a/noext"), nullptr},  // the dot of a folder is no extension
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        WinampInModule* module = PickInputPlugin(&source, c.path);
        if (!c.description) {
            EXPECT_EQ(module, nullptr);
            continue;
        }
        ASSERT_NE(module, nullptr);
        EXPECT_STREQ(module->description, c.description);
        if (module->Quit) module->Quit();
        UnloadInputPlugin(module);
    }
    EXPECT_EQ(WinampPluginControl(1, 1, 1, nullptr, 0), 1);
    WinampPluginControl(1, 2, 1, nullptr, 0);  // disables in_c.so
    EXPECT_STREQ(GetPrefStore().GetString("audiosrc.winamp.disabledInPlugins"), "in_c.so");
    EXPECT_EQ(PickInputPlugin(&source, files.file("a.m4a")), nullptr);
    char description[8];
    WinampPluginControl(1, 0, 0, description, sizeof description);
    EXPECT_STREQ(description, "Tiny de") << "cut to the buffer";
}

// Files the media tools cannot read are described by the input plug-in that names their
// extension; a plug-in that only probes by playing describes nothing. A video stream the player
// only named (its guess for any data it cannot read) does not keep the plug-in out.
TEST_F(PickPlugin, AFormatOnlyAPluginKnowsIsDescribedByIt) {
    WriteTinyFile(files.file("song.tny"), 22050, 1, 16, Pcm16Ramp(11025));  // half a second
    WriteTinyFile(files.file("song.xyz"), 22050, 1, 16, Pcm16Ramp(11025));
    enum Found { kNothing, kAudio, kNamedVideo, kDescribedVideo };
    struct Case {
        const char* file;
        Found found;  // what the tools left in the item
        int described;
    } const cases[] = {
        {"song.tny", kNothing, 1},
        {"song.xyz", kNothing, 0},  // only the probing plug-in would take it
        {"missing.tny", kNothing, 0},
        {"song.tny", kAudio, 0},
        {"song.tny", kNamedVideo, 1},
        {"song.tny", kDescribedVideo, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " found " + std::to_string(c.found));
        QueueItem* item = QueueNewItem(files.file(c.file).c_str());
        if (c.found == kAudio) item->audio = new AudioStreamInfo;
        if (c.found == kNamedVideo || c.found == kDescribedVideo) item->video = new VideoStreamInfo;
        if (c.found == kDescribedVideo) item->video->width = 320;
        EXPECT_EQ(DescribeWithInputPlugin(item), c.described);
        if (c.described) {
            ASSERT_NE(item->audio, nullptr);
            EXPECT_EQ(item->audio->samplerate, 22050u);
            EXPECT_EQ(item->audio->channels, 1u);
            EXPECT_EQ(item->audio->samplebits, 16u);
            EXPECT_EQ(item->duration, 500);
        }
        QueueFreeItem(item);
    }
    // The host is free again afterwards.
    CWinampInput source;
    AudioTask task;
    QueueItem* item = QueueNewItem(files.file("song.tny").c_str());
    task.item = item;
    EXPECT_TRUE(source.Open(&task));
    source.Close();
    QueueFreeItem(item);
}

std::string Doubled(const std::string& pcm) {
    std::string out;
    for (size_t f = 0; f + 3 < pcm.size(); f += 4) out += pcm.substr(f, 4) + pcm.substr(f, 4);
    return out;
}

TEST_F(PluginJobs, OutputShowsTheDspPluginsExactly) {
    const std::string pcm = Pcm16Ramp(2 * 44100, -30000);  // one second, several blocks
    const struct {
        const char* enabled;
        std::string expected;
    } cases[] = {
        {"", pcm},
        {"dsp_invert.so", Inverted(pcm)},
        {"dsp_double.so", Doubled(pcm)},
        {"dsp_invert.so;dsp_double.so", Doubled(Inverted(pcm))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.enabled);
        QueueClear();
        events.clear();
        Scan(c.enabled);
        QueueItem* item = AddTiny("tone.tny", pcm);
        RunBatch(1, 60);
        EXPECT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
        const std::string out = OutputPcm(item);
        EXPECT_EQ(out.size(), c.expected.size());
        EXPECT_TRUE(out == c.expected) << "the output differs from what the plug-ins make";
        EXPECT_EQ(LogLinesWith("Found an input plug-in for extension tny"), 1);
    }
}

TEST_F(PluginJobs, ADspPluginAnsweringNonsenseIsBoundedAndNamedInTheLog) {
    Scan("dsp_nonsense.so");
    const std::string pcm = Pcm16Ramp(2 * 20000);
    QueueItem* item = AddTiny("tone.tny", pcm);
    RunBatch(1, 60);
    EXPECT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
    // Each block is cut to twice what the plug-in was given, never more than the block holds.
    EXPECT_LE(OutputPcm(item).size(), 2 * pcm.size());
    EXPECT_GE(LogLinesWith("[dsp_nonsense.so]"), 1);
}

TEST_F(PluginJobs, MisbehavingInputPluginsEndTheirItemsAndAreNamed) {
    const std::string pcm = Pcm16Ramp(2 * 44100);
    struct Case {
        uint32_t mode;
        uint32_t state;
        int32_t error;
        const char* log;  // a line naming the plug-in, or null
    } const cases[] = {
        {2, kItemError, kItemErrorSourceFail, "The plug-in announced no audio format [in_tiny.so]"},
        {3, kItemError, kItemErrorSourceFail, "The plug-in announced an audio format the engine cannot carry [in_tiny.so]"},
        {4, kItemDone, 0, nullptr},     // a negative length ends the stream: the first half stands
        {1, kItemError, kItemErrorSourceFail, nullptr},  // its thread ends without a word: the pass stalls
    };
    Scan("");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        QueueClear();
        events.clear();
        QueueItem* item = AddTiny("bad.tny", pcm, c.mode);
        RunBatch(1, 60);
        EXPECT_EQ(item->state.load(), c.state);
        if (c.error) {
            EXPECT_EQ(item->errorCode.load(), c.error);
        }
        if (c.log) {
            EXPECT_EQ(LogLinesWith(c.log), 1);
        }
        if (c.mode == 4) {
            EXPECT_TRUE(OutputPcm(item) == pcm.substr(0, pcm.size() / 2 / 4096 * 4096 + 4096));
        }
    }
    // The host is free again: a good file converts after the bad ones.
    QueueClear();
    QueueItem* item = AddTiny("good.tny", pcm);
    RunBatch(1, 60);
    EXPECT_EQ(item->state.load(), kItemDone);
    EXPECT_TRUE(OutputPcm(item) == pcm);
}

}  // namespace
