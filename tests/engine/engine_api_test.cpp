#include "engine/engine_api.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/prefs/prefstore.h"
#include "support/event_recorder.h"
#include "support/tempdir.h"

namespace {

constexpr const char* kDefinitions = R"(<QuorvexPrefs>
 <node type="node" key="overall">
  <node type="node" key="audio">
   <node type="enum" key="encoder" text="Encoder"><enum>LAME MP3|Vorbis|Nero|QAAC|FAAC|CT AAC+|3GPP AAC+|Opus|WMA</enum><value>LAME MP3</value></node>
   <node type="enum" key="source" text="Source"><enum>Auto|MPlayer|b|c|Plug-in|e|f|LAME|h|i|j|Wave</enum><value>Auto</value></node>
   <node type="enum" key="mode" text="Mode"><enum>CBR|VBR||hidden|also hidden</enum><value>VBR</value></node>
  </node>
  <node type="node" key="video"><node type="bool" key="enabled"><value>false</value></node></node>
  <node type="node" key="automation"><node type="string" key="customPreset"/></node>
  <node type="node" key="httpd"><node type="int" key="port" text="Port" min="0" max="65535"><desc>Control port</desc><value>8080</value></node></node>
 </node>
</QuorvexPrefs>)";

class EngineApi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(LoadPrefDefinitions(true, kDefinitions, 0, "QuorvexPrefs"), 0);
        recorder.context().httpPort = 8080;
    }
    void TearDown() override {
        QueueClear();
        GetPrefStore().Clear();
    }
    std::string Url(int kind, const char* arg = nullptr) {
        char buf[512];
        int n = BuildWebUiUrl(kind, arg, buf, sizeof buf);
        EXPECT_EQ(n, static_cast<int>(std::string(buf).size()));
        return buf;
    }
    sqtest::EventRecorder recorder;
};

TEST_F(EngineApi, WebUiAddresses) {
    const std::string base = "http://localhost:8080/";
    struct Case { int kind; const char* arg; std::string expected; } cases[] = {
        {0, nullptr, base + "prefs/"},
        {0, "overall.task", base + "prefs/?path=overall.task"},
        {1, nullptr, base + "prefs/"},
        {2, nullptr, base + "prefs/?path=audioenc.lame"},
        {3, nullptr, base + "prefs/plugin.htm?type=dsp"},
        {4, "1", base + "prefs/?path=muxer.matroska"},
        {4, "4", base + "prefs/"},
        {4, "9", base + "prefs/"},
        {5, "stats.htm", base + "stats.htm"},
        {6, nullptr, "http://localhost:8080"},
        {7, "x1", base + "extensions/_include/loader.html?id=x1"},
        {7, nullptr, base + "extensions/extensions.xml?xsl=_include/launcher.xsl"},
        {42, nullptr, base},
    };
    for (const auto& c : cases) EXPECT_EQ(Url(c.kind, c.arg), c.expected) << c.kind;

    struct SourceCase { int source; const char* page; } sources[] = {
        {1, "prefs/?path=audiosrc.mplayer"}, {7, "prefs/?path=audiosrc.lame"}, {11, "prefs/?path=audiosrc.wave"},
        {4, "prefs/plugin.htm?type=input"}, {3, "prefs/"},
    };
    for (const auto& s : sources) {
        SetPrefInt("overall.audio.source", s.source);
        EXPECT_EQ(Url(1), base + s.page) << s.source;
    }

    SetPrefInt("overall.audio.encoder", 8);
    EXPECT_EQ(Url(2), base + "prefs/?path=audioenc.wma");
    SetPrefInt("overall.video.enabled", 1);
    EXPECT_EQ(Url(2), base + "prefs/?path=videoenc.wm");
    SetPrefInt("overall.audio.encoder", 24);
    EXPECT_EQ(Url(2), base);

    char small[10];
    EXPECT_EQ(BuildWebUiUrl(0, nullptr, small, sizeof small), 9);
    EXPECT_STREQ(small, "http://lo");
}

TEST_F(EngineApi, PrefInfoBySelector) {
    PrefInfo info;
    EXPECT_EQ(GetPrefInfo("overall.missing", 1, &info), -1);
    EXPECT_EQ(GetPrefInfo("overall.httpd.port", 2, &info), -1);
    ASSERT_EQ(GetPrefInfo("overall.httpd.port", 0, &info), 0);
    EXPECT_STREQ(info.text, "port");
    ASSERT_EQ(GetPrefInfo("overall.httpd.port", 1, &info), 0);
    EXPECT_EQ(info.type, 1u);
    ASSERT_EQ(GetPrefInfo("overall.httpd.port", 3, &info), 0);
    EXPECT_EQ(info.range[0], 0);
    EXPECT_EQ(info.range[1], 65535);
    ASSERT_EQ(GetPrefInfo("overall.audio.encoder", 3, &info), 0);
    EXPECT_EQ(info.range[0], 0);
    EXPECT_EQ(info.range[1], 8);
    // An empty option ends the list: the options after it are not choices.
    ASSERT_EQ(GetPrefInfo("overall.audio.mode", 3, &info), 0);
    EXPECT_EQ(info.range[0], 0);
    EXPECT_EQ(info.range[1], 1);
    ASSERT_EQ(GetPrefInfo("overall.httpd.port", 4, &info), 0);
    EXPECT_STREQ(info.text, "Port");
    ASSERT_EQ(GetPrefInfo("overall.httpd.port", 5, &info), 0);
    EXPECT_STREQ(info.text, "Control port");
}

TEST_F(EngineApi, ItemStatesOfOneOrOfEveryRunningItem) {
    QueueItem* idle = QueueNewItem("/m/a.wav");
    QueueItem* running = QueueNewItem("/m/b.wav");
    ASSERT_EQ(QueueAppend(idle), 0);
    ASSERT_EQ(QueueAppend(running), 0);
    EXPECT_EQ(GetItemState(nullptr), kItemReady);

    auto* task = reinterpret_cast<AudioTask*>(0x1);  // marks the item as running; never read
    running->audioTask = task;
    running->state = kItemEncoding;
    EXPECT_EQ(GetItemState(nullptr), kItemEncoding);

    SetItemState(nullptr, kItemPaused);
    EXPECT_EQ(running->state.load(), kItemPaused);
    EXPECT_EQ(idle->state.load(), kItemReady);
    SetItemState(idle, kItemDone);
    EXPECT_EQ(idle->state.load(), kItemDone);

    auto events = recorder.events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].code, kEventItemState);
    EXPECT_EQ(events[0].data, kItemPaused);
    running->audioTask = nullptr;
}

TEST_F(EngineApi, ProbeShortCutsAndMissingFiles) {
    sqtest::TempDir dir;
    QueueItem* done = QueueNewItem(dir.write("a.wav", "RIFF").c_str());
    done->flags |= kItemFlagHasStreams;
    EXPECT_EQ(ProbeItem(done, 0), 0);
    EXPECT_TRUE(recorder.events().empty()) << "nothing runs for a probed item";

    QueueItem* playlist = QueueNewItem(dir.write("list.m3u", "#EXTM3U\n").c_str());
    EXPECT_EQ(ProbeItem(playlist, 0), 0);
    EXPECT_TRUE(playlist->flags.load() & kItemFlagHasStreams);

    QueueItem* missing = QueueNewItem((dir.file("gone.wav")).c_str());
    EXPECT_EQ(ProbeItem(missing, 0), -1);
    EXPECT_EQ(ProbeItem(nullptr, 0), -1);

    // A file the readers cannot describe: size taken, target size half of it, no streams.
    QueueItem* blank = QueueNewItem(dir.write("b.wav", std::string(4096, '\0')).c_str());
    EXPECT_EQ(ProbeItem(blank, 0), -1);
    EXPECT_EQ(blank->size, 4u);
    EXPECT_EQ(blank->targetSize, 2u);

    // A size and a duration from a damaged file that give a rate past 32 bits: held at the top.
    QueueItem* odd = QueueNewItem(dir.write("c.wav", "RIFF").c_str());
    odd->size = 4000000;  // KB
    odd->duration = 1;    // ms
    EXPECT_EQ(ProbeItem(odd, 0), -1);
    EXPECT_EQ(odd->containerBitrate, UINT32_MAX);
    EXPECT_EQ(odd->containerOverhead, 10000);
    for (QueueItem* it : {done, playlist, missing, blank, odd}) QueueFreeItem(it);
}

// A real file is described by the information tool and the player, as a run needs it.
TEST_F(EngineApi, ProbeDescribesARealFile) {
    sqtest::TempDir dir;
    const std::string path = dir.file("tone.wav");
    ASSERT_EQ(system(("sox -n -r 48000 -c 1 -b 16 " + path + " synth 2 sine 440 2>/dev/null").c_str()), 0);
    const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (std::string(SQ_OUT_DIR) + "/tools:" + oldPath).c_str(), 1);
    QueueItem* item = QueueNewItem(path.c_str());
    EXPECT_EQ(ProbeItem(item, 0), 0);
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_NE(item->audio, nullptr);
    EXPECT_EQ(item->audio->samplerate, 48000u);
    EXPECT_EQ(item->audio->channels, 1u);
    EXPECT_NEAR(item->duration, 2000, 60);
    EXPECT_TRUE(item->flags.load() & kItemFlagHasStreams);
    QueueFreeItem(item);
}

TEST_F(EngineApi, OutputInfoTextExpandsTheItemPreset) {
    SetPrefString("overall.automation.customPreset", "presets/$(SourceFileName).xml");
    QueueItem* item = QueueNewItem("/music/song.flac");
    EXPECT_STREQ(GetOutputInfoText(10, item), "presets/song.xml");
    EXPECT_STREQ(GetOutputInfoText(10, nullptr), "presets/.xml");  // the head cell has no source
    EXPECT_STREQ(GetOutputInfoText(3, item), "");
    QueueFreeItem(item);
}

TEST(EngineText, SubStringAndDrivePrefix) {
    struct Case { const char* text; int offset; int count; const char* expected; } cases[] = {
        {"abcdef", 1, 3, "bcd"}, {"abcdef", 4, 99, "ef"}, {"abc", 3, 1, ""}, {"abc", 99, 1, ""},
        {"abc", -1, 2, ""}, {"abc", 0, 0, ""}, {nullptr, 0, 1, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(SubString(c.text, c.offset, c.count), c.expected);

    struct Strip { const char* in; const char* out; } strips[] = {
        {"C:\\music\\a.mp3", "music\\a.mp3"}, {"/music/a.mp3", "/music/a.mp3"}, {"C:", "C:"}, {"C:/x", "C:/x"},
    };
    for (const auto& s : strips) {
        std::string t = s.in;
        StripDrivePrefix(t);
        EXPECT_EQ(t, s.out);
    }
}

}  // namespace
