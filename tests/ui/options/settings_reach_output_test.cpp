// Settings chosen on the option tabs and encoder pages of the running program reach the files a
// batch writes: for each encoder Debian's tools serve, a mode and a value set on its page show in
// what ffprobe reads from the output; the output folder, the naming pattern, the overwrite choice
// and the relocation of inputs show in the files the batch leaves.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "engine/engine_api.h"
#include "support/options_pane_fixture.h"
#include "support/shell_command.h"
#include "support/tempdir.h"
#include "ui/dialogs/prompt.h"
#include "ui/main/batch.h"
#include "ui/main/main_window.h"
#include "ui/main/shell.h"
#include "ui/main/window_services.h"
#include "ui/options/options_pane.h"

namespace {

namespace fs = std::filesystem;
using gui::HWND;
using gui::testing::Driver;

using sqtest::ProbeValues;

long Number(const std::map<std::string, std::string>& values, const std::string& key) {
    auto it = values.find(key);
    return it == values.end() ? -1 : std::strtol(it->second.c_str(), nullptr, 10);
}

class SettingsReachOutput : public sqtest::OptionsPaneFixture {
public:  // the cases act through the fixture
    void SetUp() override {
        ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i anoisesrc=d=3:c=pink:a=0.3 -ac 2 -ar 44100 '" +
                               input + "'").c_str()),
                  0);
        StartWithPane();
        SetPrefString("overall.task.destdir", (out.path().string() + "/").c_str());
        SetPrefInt("overall.task.overwrite", 1);
        SetPrefInt("overall.audio.autoEncoder", 0);
        SetPrefInt("overall.output.tag", 0);
        // The notice at the batch's end takes its default answer.
        ui::CDlgPrompt::SetAnswerAtOnce(true);
    }
    void TearDown() override { ui::CDlgPrompt::SetAnswerAtOnce(false); }

    HWND MainItem(int id) { return d().Find(ui::Shell().mainHwnd.load(), id); }
    int FormatIndex(const char* name) {
        for (int i = 0; i < 64; ++i) {
            const char* text = GetPrefEnumText("overall.audio.format", i);
            if (!text || !*text) break;
            if (std::string(text) == name) return i;
        }
        return -1;
    }

    // Applies the settings, queues the input once and runs the batch to its end; the item's state.
    uint32_t RunOnce() {
        d().Advance(300);
        QueueClear();
        EXPECT_TRUE(ui::FileListAdd(input.c_str()));
        QueueItem* item = QueueGetItem(0);
        EXPECT_NE(item, nullptr);
        if (!item) return kItemError;
        EXPECT_EQ(ui::StartTranscoding(), 0);
        EXPECT_EQ(ui::WaitWorkerThreads(120000), 1);
        d().Pump();
        return item->state.load();
    }

    sqtest::TempDir out;
    std::string input = run.files().path().string() + "/song.wav";
};

TEST_F(SettingsReachOutput, EncoderPagesSettingsShowInTheOutput) {
    using Values = std::map<std::string, std::string>;
    struct Case {
        const char* what;
        int encoder;
        std::function<void(SettingsReachOutput&)> set;  // on the page, as a user
        const char* extension;
        const char* codec;
        std::string entries;  // what ffprobe reads
        std::string extra;
        std::function<bool(const Values&)> shows;
    };
    auto near = [](long value, long want, double tolerance) {
        return value > 0 && value >= want * (1 - tolerance) && value <= want * (1 + tolerance);
    };
    const Case cases[] = {
        {"LAME CBR 96", 0,
         [](SettingsReachOutput& t) {
             t.d().PickCombo(t.PageItem(1109), 0);
             t.d().PickCombo(t.PageItem(1046), 1);
             t.d().SetTextAsUser(t.PageItem(1007), "96");
         },
         "mp3", "mp3", "stream=codec_name,bit_rate", "",
         [](const Values& v) { return Number(v, "bit_rate") == 96000; }},
        {"Vorbis ABR 96", 1,
         [](SettingsReachOutput& t) {
             t.d().Click(t.PageItem(1049));
             t.d().SetTextAsUser(t.PageItem(1051), "96");
         },
         "ogg", "vorbis", "stream=codec_name,bit_rate", "",
         [](const Values& v) { return Number(v, "bit_rate") == 96000; }},
        {"Opus hard CBR 48", 7,
         [](SettingsReachOutput& t) {
             t.d().PickCombo(t.PageItem(1046), 2);
             t.d().SetTextAsUser(t.PageItem(1007), "48");
         },
         "opus", "opus", "stream=codec_name:format=bit_rate", "",
         [&](const Values& v) { return near(Number(v, "bit_rate"), 48000, 0.15); }},
        {"FLAC level 0", 17, [](SettingsReachOutput& t) { t.d().SetTextAsUser(t.PageItem(1101), "0"); }, "flac", "flac",
         "stream=codec_name:packet=duration", "-read_intervals %+#1",
         // The fastest level codes blocks of 1152 samples; the others 4096.
         [](const Values& v) { return Number(v, "duration") == 1152; }},
        {"WavPack hybrid 256", 16,
         [](SettingsReachOutput& t) {
             if (!t.d().Check(t.PageItem(1066))) t.d().Click(t.PageItem(1066));
             t.d().SetTextAsUser(t.PageItem(1051), "256");
         },
         "wv", "wavpack", "stream=codec_name:format=bit_rate", "",
         // Lossless, the noise takes about 520 Kbps.
         [](const Values& v) { return Number(v, "bit_rate") > 0 && Number(v, "bit_rate") <= 300000; }},
        {"Speex bit rate 8", 12,
         [](SettingsReachOutput& t) {
             t.d().PickCombo(t.PageItem(1072), 1);
             t.d().SetTextAsUser(t.PageItem(1051), "8");
         },
         "spx", "speex", "stream=codec_name:format=bit_rate", "",
         [](const Values& v) { return Number(v, "bit_rate") > 0 && Number(v, "bit_rate") < 16000; }},
        {"MusePack telephone", 11, [](SettingsReachOutput& t) { t.d().PickCombo(t.PageItem(1072), 0); }, "mpc", "musepack8",
         "stream=codec_name:format=bit_rate", "",
         [](const Values& v) { return Number(v, "bit_rate") > 0 && Number(v, "bit_rate") < 110000; }},
        {"FFmpeg AC-3 192", 14,
         [](SettingsReachOutput& t) {
             t.d().SetTextAsUser(t.PageItem(1051), "192");
             t.ChooseTab(0);
             t.d().PickCombo(t.TabItem(1062), t.FormatIndex("AC-3"));
         },
         "ac3", "ac3", "stream=codec_name,bit_rate", "",
         [](const Values& v) { return Number(v, "bit_rate") == 192000; }},
        {"FFmpeg MP2 160", 14,
         [](SettingsReachOutput& t) {
             t.d().SetTextAsUser(t.PageItem(1051), "160");
             t.ChooseTab(0);
             t.d().PickCombo(t.TabItem(1062), t.FormatIndex("MP2"));
         },
         "mp2", "mp2", "stream=codec_name,bit_rate", "",
         [](const Values& v) { return Number(v, "bit_rate") == 160000; }},
        {"FFmpeg LC-AAC 96", 14,
         [](SettingsReachOutput& t) {
             t.d().SetTextAsUser(t.PageItem(1051), "96");
             t.ChooseTab(0);
             t.d().PickCombo(t.TabItem(1062), t.FormatIndex("LC-AAC"));
         },
         "m4a", "aac", "stream=codec_name,bit_rate", "",
         [&](const Values& v) { return near(Number(v, "bit_rate"), 96000, 0.15); }},
        {"FFmpeg ALAC", 14,
         [](SettingsReachOutput& t) {
             t.ChooseTab(0);
             t.d().PickCombo(t.TabItem(1062), t.FormatIndex("ALAC"));
         },
         "m4a", "alac", "stream=codec_name,sample_rate,channels", "",
         [](const Values& v) { return Number(v, "sample_rate") == 44100 && Number(v, "channels") == 2; }},
        // The WMA and TTA encoders run FFmpeg too; their pages have no settings of their own.
        {"WMA", 8, [](SettingsReachOutput&) {}, "wma", "wmav2", "stream=codec_name,bit_rate", "",
         [&](const Values& v) { return near(Number(v, "bit_rate"), 128000, 0.15); }},
        {"TTA", 21, [](SettingsReachOutput&) {}, "tta", "tta", "stream=codec_name,sample_rate", "",
         [](const Values& v) { return Number(v, "sample_rate") == 44100; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(out.path());
        fs::create_directories(out.path());
        ChooseEncoderPage(c.encoder);
        c.set(*this);
        ASSERT_EQ(RunOnce(), kItemDone) << "error " << QueueGetItem(0)->errorCode.load();
        const std::string file = out.file(std::string("song.") + c.extension);
        ASSERT_TRUE(fs::exists(file)) << file;
        const Values v = ProbeValues(file, c.entries, c.extra);
        EXPECT_EQ(v.count("codec_name") ? v.at("codec_name") : "", c.codec);
        std::string seen;
        for (const auto& [k, value] : v) seen += k + "=" + value + " ";
        EXPECT_TRUE(c.shows(v)) << seen;
    }
}

TEST_F(SettingsReachOutput, OutputTabsShapeWhereAndUnderWhichNameFilesGo) {
    sqtest::TempDir elsewhere, done;
    ChooseEncoderPage(0);
    d().PickCombo(PageItem(1109), 0);
    struct Case {
        const char* what;
        std::function<void(SettingsReachOutput&)> set;
        std::function<void(SettingsReachOutput&)> check;
    };
    const std::string elsewherePath = elsewhere.path().string() + "/";
    const std::string donePath = done.path().string() + "/";
    const Case cases[] = {
        {"output folder typed in the main window",
         [&](SettingsReachOutput& t) { t.d().SetTextAsUser(t.MainItem(ui::dlg::main::dest_dir), elsewherePath); },
         [&](SettingsReachOutput&) { EXPECT_TRUE(fs::exists(elsewhere.file("song.mp3"))); }},
        {"naming pattern",
         [](SettingsReachOutput& t) {
             t.ChooseTab(3);
             if (!t.d().Check(t.TabItem(1067))) t.d().Click(t.TabItem(1067));
             t.d().SetTextAsUser(t.TabItem(1062), "$(SourceFileName)-named");
         },
         [](SettingsReachOutput& t) { EXPECT_TRUE(fs::exists(t.out.file("song-named.mp3"))); }},
        {"existing output renamed",
         [](SettingsReachOutput& t) {
             t.ChooseTab(3);
             if (t.d().Check(t.TabItem(1067))) t.d().Click(t.TabItem(1067));
             t.ChooseTab(2);
             t.d().PickCombo(t.TabItem(1252), 2);
             std::ofstream(t.out.file("song.mp3")) << "older";
         },
         [](SettingsReachOutput& t) {
             EXPECT_EQ(sqtest::ReadFile(t.out.file("song_old.mp3")), "older");
             EXPECT_GT(fs::file_size(t.out.file("song.mp3")), 1000u);
         }},
        {"existing output skipped",
         [](SettingsReachOutput& t) {
             t.ChooseTab(2);
             t.d().PickCombo(t.TabItem(1252), 3);
             std::ofstream(t.out.file("song.mp3")) << "older";
         },
         [](SettingsReachOutput& t) { EXPECT_EQ(sqtest::ReadFile(t.out.file("song.mp3")), "older"); }},
        {"inputs done copied",
         [&](SettingsReachOutput& t) {
             t.ChooseTab(2);
             t.d().PickCombo(t.TabItem(1252), 1);
             t.ChooseTab(3);
             t.d().PickCombo(t.TabItem(1308), 0);
             t.d().PickCombo(t.TabItem(1300), 2);
             t.d().SetTextAsUser(t.TabItem(1309), donePath);
         },
         [&](SettingsReachOutput& t) {
             for (int i = 0; i < 200 && !fs::exists(done.file("song.wav")); ++i)
                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
             EXPECT_TRUE(fs::exists(done.file("song.wav")));
             EXPECT_TRUE(fs::exists(t.input));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(out.path());
        fs::create_directories(out.path());
        c.set(*this);
        const uint32_t state = RunOnce();
        EXPECT_TRUE(state == kItemDone || state == kItemSkipped) << state;
        c.check(*this);
        SetPrefString("overall.task.destdir", (out.path().string() + "/").c_str());
    }
}

}  // namespace
