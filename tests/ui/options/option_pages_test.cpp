// The option tabs and encoder pages in the running program's main window, driven as a user drives
// them: the pages the shipped templates build, the keys their controls are bound to, the rate-mode
// pages moving between quality and bit rate, what a tab does while a job runs or the format
// chooses the encoder, values typed out of range, and a preset loaded while a page is open.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>
#include <memory>
#include <string>

#include "engine/engine_api.h"
#include "platform/gui/resources.h"
#include "support/options_pane_fixture.h"
#include "ui/filelist/file_list.h"
#include "ui/main/shell.h"
#include "ui/main/window_services.h"
#include "ui/options/encoder_pages.h"
#include "ui/options/option_tabs.h"
#include "ui/options/options_pane.h"

namespace {

using gui::HWND;
using gui::testing::Driver;

class OptionPages : public sqtest::OptionsPaneFixture {
protected:
    void SetUp() override {
        StartWithPane();
        SetPrefInt("overall.audio.autoEncoder", 0);
    }

    // The main window's timer applies what the pages announced.
    void Apply() { d().Advance(300); }
    int Range(HWND slider, bool max) {
        return static_cast<int>(gui::SendMessageA(slider, max ? gui::TBM_GETRANGEMAX : gui::TBM_GETRANGEMIN, 0, 0));
    }

};

// Every page the tabs can show: built from its shipped template, every bound control present in
// it and bound to a key the shipped definitions hold (rate-mode pages in each of their modes), and
// every caption that names a text found in the string table.
TEST_F(OptionPages, EveryPageBuildsFromItsTemplateWithKnownKeysAndTexts) {
    std::vector<std::pair<std::string, std::unique_ptr<ui::COptionPage>>> pages;
    for (int i = 0; i < 6; ++i) pages.emplace_back("tab " + std::to_string(i), ui::CreateOptionTab(i));
    for (int n = 1; n <= 3; ++n) pages.emplace_back("output sub-tab " + std::to_string(n), ui::CreateOutputSubTab(n));
    pages.emplace_back("compact audio tab", ui::CreateAudioCfgTab());
    for (int i = 0; i <= 27; ++i) pages.emplace_back("encoder page " + std::to_string(i), ui::CreateEncoderPage(i));
    EXPECT_EQ(ui::CreateOptionTab(6), nullptr);

    auto provider = gui::GetResourceProvider();
    ASSERT_NE(provider, nullptr);
    for (auto& [what, page] : pages) {
        ASSERT_NE(page, nullptr) << what;
        ASSERT_NE(page->CreatePage(pane->Handle()), nullptr) << what << " (template " << page->TemplateId() << ")";
        auto tmpl = provider->FindDialog(nullptr, page->TemplateId());
        ASSERT_NE(tmpl, nullptr) << what;
        for (const auto& c : tmpl->controls) {
            if (c.id == gui::kAnonymousControlId || c.caption.size() < 2 || c.caption[0] != '_') continue;
            EXPECT_NE(d().Text(d().Find(page->Handle(), c.id)).substr(0, 1), "_")
                << what << ": control " << c.id << " has no text for " << c.caption;
        }
        // Each value of the page's rate-mode key, so both keys of the moving rows are walked.
        std::string modeKey;
        if (const ui::ControlBinding* first = page->GetBindings(); first->key) {
            const std::string key = first->key;
            if (key.rfind("audioenc.", 0) == 0) modeKey = key.substr(0, key.rfind('.')) + ".mode";
        }
        PrefInfo range;
        const bool hasMode = !modeKey.empty() && GetPrefInfo(modeKey.c_str(), 3, &range) == 0;
        const int modes = hasMode ? range.range[1] + 1 : 1;
        const int saved = hasMode ? GetPrefInt(modeKey.c_str()) : 0;
        for (int mode = 0; mode < modes; ++mode) {
            if (hasMode) SetPrefInt(modeKey.c_str(), mode);
            for (const ui::ControlBinding* row = page->GetBindings(); row->id; ++row) {
                if (!row->key) continue;
                // The compact audio tab shares the sound tab's rows but holds only two of them.
                if (page->TemplateId() == ui::dlg::opt_audiocfg::id && row->id != 1131 && row->id != 1068) continue;
                PrefInfo info;
                EXPECT_EQ(GetPrefInfo(row->key, 1, &info), 0) << what << ": " << row->key << " is not defined";
                EXPECT_NE(d().Find(page->Handle(), static_cast<int>(row->id)), nullptr)
                    << what << ": control " << row->id << " (" << row->key << ") is not in the template";
            }
        }
        if (hasMode) SetPrefInt(modeKey.c_str(), saved);
        page->Close();
    }
}

TEST_F(OptionPages, LameRateModeMovesTheSliderAndPresetGreysTheRest) {
    ChooseEncoderPage(0);
    ASSERT_EQ(pane->SubPage()->TemplateId(), 102);
    SetPrefInt("audioenc.lame.preset", 0);
    ASSERT_TRUE(d().PickCombo(PageItem(1046), 0));  // VBR: the quality key
    EXPECT_EQ(Range(PageItem(1004), false), 0);
    EXPECT_EQ(Range(PageItem(1004), true), 9);
    EXPECT_TRUE(d().Visible(PageItem(1009)));
    EXPECT_FALSE(d().Visible(PageItem(1014)));

    ASSERT_TRUE(d().PickCombo(PageItem(1046), 1));  // CBR: the bit-rate key
    EXPECT_EQ(GetPrefInt("audioenc.lame.mode"), 1);
    EXPECT_EQ(Range(PageItem(1004), false), 8);
    EXPECT_EQ(Range(PageItem(1004), true), 320);
    EXPECT_EQ(gui::SendMessageA(PageItem(1004), gui::TBM_GETPAGESIZE, 0, 0), 16);
    EXPECT_FALSE(d().Visible(PageItem(1009)));
    EXPECT_FALSE(d().Visible(PageItem(1010)));
    EXPECT_TRUE(d().Visible(PageItem(1014)));
    ASSERT_TRUE(d().DragTrack(PageItem(1004), {200}));
    EXPECT_EQ(GetPrefInt("audioenc.lame.bitrate"), 200);
    EXPECT_EQ(d().Text(PageItem(1007)), "200");

    ASSERT_TRUE(d().PickCombo(PageItem(1109), 2));  // a preset decides the rest
    for (int id : {1004, 1007, 1046, 1048, 1066}) EXPECT_FALSE(d().Enabled(PageItem(id))) << id;
    EXPECT_TRUE(d().Enabled(PageItem(1109)));
    ASSERT_TRUE(d().PickCombo(PageItem(1109), 0));
    EXPECT_TRUE(d().Enabled(PageItem(1004)));
}

// A number typed into a page, or picked from an editable list, reaches the preference tree only
// when the key's range holds it; the field keeps the text and the key its value.
TEST_F(OptionPages, TypedValuesNeverLeaveTheKeysRange) {
    SetPrefInt("audioenc.lame.preset", 0);
    SetPrefInt("audioenc.lame.mode", 1);
    SetPrefInt("audioenc.lame.bitrate", 128);
    ChooseEncoderPage(0);
    struct Case {
        std::string text;
        int stored;
    } bitrates[] = {{"400", 128}, {"-5", 128}, {"2", 128}, {"99999999999", 128}, {"abc", 128}, {"192", 192}, {"320", 320}};
    for (const Case& c : bitrates) {
        ASSERT_TRUE(d().SetTextAsUser(PageItem(1007), c.text));
        EXPECT_EQ(GetPrefInt("audioenc.lame.bitrate"), c.stored) << c.text;
    }

    // The sample rate the audio tab offers and takes typed.
    ChooseTab(0);
    SetPrefInt("audiofilter.resample.samplerate", 22050);
    struct RateCase {
        std::string text;
        int stored;
    } rates[] = {{"-1", 22050}, {"0x", 22050}, {"999999", 22050}, {"Hz", 22050}, {"44100", 44100}, {"8000 Hz", 8000}};
    for (const RateCase& c : rates) {
        ASSERT_TRUE(d().SetTextAsUser(TabItem(1067), c.text));
        EXPECT_EQ(GetPrefInt("audiofilter.resample.samplerate"), c.stored) << c.text;
    }
    ASSERT_TRUE(d().PickCombo(TabItem(1067), 0));  // "original"
    EXPECT_EQ(GetPrefInt("audiofilter.resample.samplerate"), 0);
    EXPECT_EQ(d().Selection(TabItem(1067)), std::vector<int>{0});

    // The gain of the sound tab (-60 .. 60 dB).
    ChooseTab(1);
    SetPrefFloat("audiofilter.volume.gain", 1.5f);
    for (const char* text : {"75", "-61", "nan"}) {
        ASSERT_TRUE(d().SetTextAsUser(TabItem(1068), text));
        EXPECT_FLOAT_EQ(GetPrefFloat("audiofilter.volume.gain"), 1.5f) << text;
    }
    ASSERT_TRUE(d().SetTextAsUser(TabItem(1068), "-3.5"));
    EXPECT_FLOAT_EQ(GetPrefFloat("audiofilter.volume.gain"), -3.5f);
}

// A preset loaded while an encoder page is open (a preset per item at a job's start, a dropped
// preset file) shows its values once the main window applies it.
TEST_F(OptionPages, PresetLoadedWhilePageIsOpenIsShown) {
    SetPrefInt("audioenc.lame.preset", 0);
    SetPrefInt("audioenc.lame.mode", 0);
    SetPrefInt("audioenc.lame.quality", 4);
    ChooseEncoderPage(0);
    ASSERT_EQ(d().Text(PageItem(1007)), "4");
    const std::string preset = run.files().path().string() + "/cbr256.xml";
    std::ofstream(preset) << "<?xml version=\"1.0\"?><QuorvexPrefs><node key=\"audioenc.lame.mode\">CBR</node>"
                             "<node key=\"audioenc.lame.bitrate\">256</node></QuorvexPrefs>";
    ASSERT_EQ(LoadPreset(preset.c_str(), nullptr, false), 0);
    ui::SettingsChangedLevel = 2;
    ui::ApplyCountdown = 0;
    Apply();
    EXPECT_EQ(d().Text(PageItem(1007)), "256");
    EXPECT_EQ(d().Selection(PageItem(1046)), std::vector<int>{1});
    EXPECT_TRUE(d().Visible(PageItem(1014)));

    // A revert shows the defaults the same way.
    RevertPrefs();
    ui::SettingsChangedLevel = 1;
    Apply();
    EXPECT_EQ(d().Selection(PageItem(1046)), std::vector<int>{0});
}

// Choosing an encoder's tab sets the encoder, unless the format chooses it or a job runs; a format
// the new encoder cannot write gives way to the first one it can.
TEST_F(OptionPages, EncoderTabsChooseTheEncoderAndItsFormat) {
    struct Case {
        bool autoEncoder;
        const char* before;  // the format chosen before
        int tab;             // encoder id + 1
        int encoder;         // "overall.audio.encoder" afterwards
        const char* format;  // and the format
        int pageTemplate;
        const char* title;
    } cases[] = {
        {false, "MP3", 2, 1, "Vorbis", 105, "Vorbis"},   // MP3 is not Vorbis's: the format follows
        {false, "MP3", 18, 17, "FLAC", 151, "FLAC"},
        {false, "MP3", 23, 22, "PCM", 230, "PCM"},       // "PCM", not "ADPCM"
        {false, "MP3", 9, 8, "WMA 9", 239, "WMA"},       // no page of its own: named after the encoder
        {false, "AC-3", 15, 14, "AC-3", 204, "FFMPEG"},  // a format it writes stays
        {false, "ADPCM", 23, 22, "PCM", 230, "PCM"},
        {true, "MP3", 13, 0, "MP3", 300, "Speex"},       // the format chooses: the page only shows
    };
    auto formatIndex = [](const char* name) {
        for (int i = 0; i < 64; ++i) {
            const char* text = GetPrefEnumText("overall.audio.format", i);
            if (!text || !*text) break;
            if (std::string(text) == name) return i;
        }
        return -1;
    };
    for (const Case& c : cases) {
        SetPrefInt("overall.audio.encoder", 0);
        SetPrefInt("overall.audio.format", formatIndex(c.before));
        SetPrefInt("overall.audio.autoEncoder", c.autoEncoder ? 1 : 0);
        ChooseTab(0);
        ASSERT_TRUE(d().PickTab(PaneItem(ui::dlg::options::encoder_tabs), c.tab)) << c.tab;
        EXPECT_EQ(GetPrefInt("overall.audio.encoder"), c.encoder) << c.tab;
        EXPECT_STREQ(GetPrefEnumText("overall.audio.format", GetPrefInt("overall.audio.format")), c.format) << c.tab;
        ASSERT_NE(pane->SubPage(), nullptr);
        EXPECT_EQ(pane->SubPage()->TemplateId(), c.pageTemplate) << c.tab;
        EXPECT_STREQ(pane->SubPage()->GetTitle(), c.title) << c.tab;
        Apply();
    }
    // Tab 0 is the summary of the target settings.
    SetPrefInt("overall.audio.autoEncoder", 0);
    ChooseTab(0);
    ASSERT_TRUE(d().PickTab(PaneItem(ui::dlg::options::encoder_tabs), 0));
    EXPECT_EQ(pane->SubPage()->TemplateId(), ui::dlg::opt_summary::id);
    EXPECT_NE(d().TreeViewDump(PageItem(1087)).find("LAME MP3"), std::string::npos) << d().TreeViewDump(PageItem(1087));
}

// The summary page of a real file probed by the engine: each field of the source and of the
// target settings shows with its value.
TEST_F(OptionPages, SummaryShowsTheProbedSourceAndTheTargetSettings) {
    // H.264 at 16:9 on 320x240 pixels, and 16-bit PCM at 48 kHz starting 200 ms late.
    const std::string input = run.files().path().string() + "/clip.mkv";
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=25 -itsoffset 0.2 -f lavfi "
                           "-i sine=frequency=440:sample_rate=48000 -t 2 -c:v libx264 -profile:v high -pix_fmt yuv420p "
                           "-aspect 16:9 -c:a pcm_s16le -ac 2 '" + input + "'").c_str()),
              0);
    ASSERT_TRUE(ui::FileListAdd(input.c_str()));
    QueueItem* item = QueueGetItem(0);
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(ProbeItem(item, 0), 0);
    ASSERT_GT(item->duration, 0);

    // The tree as (depth, text) lines.
    auto lines = [&] {
        ChooseTab(0);
        EXPECT_TRUE(d().PickTab(PaneItem(ui::dlg::options::encoder_tabs), 0));
        std::vector<std::pair<int, std::string>> out;
        std::istringstream dump(d().TreeViewDump(PageItem(1087)));
        for (std::string line; std::getline(dump, line);) {
            const size_t text = line.find_first_not_of(' ');
            if (line.size() >= 2 && line.compare(line.size() - 2, 2, " +") == 0) line.resize(line.size() - 2);
            out.emplace_back(static_cast<int>(text / 2), line.substr(text));
        }
        return out;
    };
    auto has = [](const std::vector<std::pair<int, std::string>>& tree, int depth, const std::string& text) {
        return std::find(tree.begin(), tree.end(), std::make_pair(depth, text)) != tree.end();
    };
    auto show = [](const std::vector<std::pair<int, std::string>>& tree) {
        std::string text;
        for (const auto& [depth, line] : tree) text += std::string(static_cast<size_t>(depth) * 2, ' ') + line + "\n";
        return text;
    };

    SetPrefInt("overall.video.enabled", 0);
    SetPrefInt("overall.audio.enabled", 1);
    SetPrefInt("overall.audio.copy", 0);
    SetPrefInt("overall.audio.encoder", 0);
    SetPrefInt("audioenc.lame.mode", 1);
    SetPrefInt("audioenc.lame.bitrate", 192);
    SetPrefInt("overall.audio.bitrateRatio", 0);
    SetPrefInt("audiofilter.resample.samplerate", 44100);
    SetPrefInt("overall.decoding.startTime", 0);
    SetPrefInt("overall.decoding.duration", 0);
    auto tree = lines();

    // The source, against what the file is.
    const double seconds = item->duration / 1000.0;
    const auto bytes = std::filesystem::file_size(input);
    const struct {
        int depth;
        std::string text;
    } source[] = {
        {0, "Source"},
        {1, "Container: Matroska"},
        {1, "Duration: " + std::to_string(item->duration / 1000) + "." + std::to_string(item->duration % 1000 / 100) + " secs"},
        {1, "Size: " + std::to_string(bytes / 1024) + " KB"},
        {1, "Overhead: 0.0%"},  // the PCM alone takes more than the whole file's rate
        {1, "Video (0): AVC"},
        {2, "Codec: V_MPEG4/ISO/AVC"},
        {2, "Profile: High"},
        {2, "Resolution: 320x240"},
        {2, "Aspect ratio: 16:9 (1.78:1)"},
        {2, "PAR: 1.33"},
        {2, "Frame rate: 25.00 fps"},
        {2, "Scan: Progressive"},
        {1, "Audio (0): PCM"},
        {2, "Bitrate: 1536.0 Kbps (CBR)"},
        {2, "Sample rate: 48000 Hz"},
        {2, "Bit depth: 16 Bits"},
        {2, "Channel: 2 (Stereo)"},
        {2, "Delay: 200 ms"},
    };
    for (const auto& line : source) EXPECT_TRUE(has(tree, line.depth, line.text)) << line.text << "\n" << show(tree);
    // The overall rate is the file's bits over its length (as the tool rounds it: within 2 %).
    const auto overall = std::find_if(tree.begin(), tree.end(), [](const auto& l) {
        return l.first == 1 && l.second.rfind("Bitrate: ", 0) == 0 && l.second.find(" Kbps") != std::string::npos;
    });
    ASSERT_NE(overall, tree.end()) << show(tree);
    const double kbps = std::strtod(overall->second.c_str() + 9, nullptr);
    EXPECT_NEAR(kbps, bytes * 8 / seconds / 1000, bytes * 8 / seconds / 1000 * 0.02) << overall->second;

    // Figures of other magnitudes and kinds, set on the probed item: the line each one shows, or
    // no line at all for a ratio without a denominator.
    struct SourceCase {
        std::function<void(QueueItem*)> set;
        int depth;
        std::string text;
        bool shown;
    };
    const SourceCase figures[] = {
        {[](QueueItem* i) { i->containerBitrate = 25000000; }, 1, "Bitrate: 25 Mbps", true},
        {[](QueueItem* i) { i->containerBitrate = 10000; }, 1, "Bitrate: 10 Kbps", true},
        {[](QueueItem* i) { i->containerBitrate = 9999; }, 1, "Bitrate: 9999 bps", true},
        {[](QueueItem* i) { i->containerOverhead = 1234; }, 1, "Overhead: 12.3%", true},
        {[](QueueItem* i) { i->size = 20 * 1024; }, 1, "Size: 20 MB", true},
        {[](QueueItem* i) { i->size = 20 * 1024 * 1024; }, 1, "Size: 20 GB", true},
        {[](QueueItem* i) { i->video->darDen = 0; }, 2, "Aspect ratio: 16:0 (inf:1)", false},
        {[](QueueItem* i) { i->video->fpsDen = 0; }, 2, "Frame rate: inf fps", false},
        {[](QueueItem* i) { i->video->fpsDen = 1; i->video->flags = 1; }, 2, "Frame rate: 25.00 fps (Variable)", true},
        {[](QueueItem* i) { i->video->flags = 2; }, 2, "Frame rate: 25.00 fps (Doubling)", true},
        {[](QueueItem* i) { i->video->scanMode = 'b'; }, 2, "Scan: Interlaced BFF", true},
        {[](QueueItem* i) { i->video->scanMode = 'M'; }, 2, "Scan: MBAFF", true},
        {[](QueueItem* i) { i->audio->channels = 6; }, 2, "Channel: 6 (5.1)", true},
        {[](QueueItem* i) { i->audio->channels = 1; }, 2, "Channel: 1 (Mono)", true},
        {[](QueueItem* i) { i->audio->bitrateMode = 2; }, 2, "Bitrate: 1536.0 Kbps (VBR)", true},
        {[](QueueItem* i) { i->audio->gain[0] = -3.5f; }, 2, "Volume: -3.50 dB", true},
        {[](QueueItem* i) { i->audio->gain[1] = -2.25f; }, 2, "Volume: -3.50 dB/-2.25 dB", true},
        {[](QueueItem* i) { SetStringField(&i->audio->file, "/music/dub.wav"); }, 2, "(/music/dub.wav)", true},
    };
    for (const SourceCase& c : figures) {
        c.set(item);
        tree = lines();
        EXPECT_EQ(has(tree, c.depth, c.text), c.shown) << c.text << "\n" << show(tree);
    }
    // Without a denominator neither ratio shows at all.
    item->video->fpsDen = 0;
    tree = lines();
    for (const char* label : {"Aspect ratio", "Frame rate"})
        EXPECT_EQ(std::count_if(tree.begin(), tree.end(), [&](const auto& l) { return l.second.rfind(label, 0) == 0 && l.first == 2; }), 0)
            << label << "\n" << show(tree);
    item->video->fpsDen = 1;

    // The target settings: each case's lines under "Target format".
    struct TargetCase {
        const char* what;
        std::function<void()> set;
        std::vector<std::pair<int, std::string>> shown;
    };
    const std::string est = "Estimated size: ";
    const long long ms = item->duration;
    const TargetCase targets[] = {
        {"LAME at 192 Kbps", [] {},
         {{0, "Target format"}, {1, "Container: Default"}, {1, "Muxer: FFmpeg"}, {1, "Audio"}, {2, "MP3"},
          {2, "Encoder: LAME MP3"}, {2, "Bitrate: 192 Kbps"}, {2, "Sample rate: 44100 Hz"},
          {1, est + std::to_string(192 * ms / 8 / 1024) + " KB"}, {1, "Positioning"}, {2, "Start: 0 secs"},
          {2, "Length: 0 secs"}}},
        {"audio copied at the source's rate, from 1.5 s on",
         [] {
             SetPrefInt("overall.audio.copy", 1);
             SetPrefInt("overall.decoding.startTime", 1500);
         },
         {{2, "Stream copy"}, {1, est + std::to_string(1536 * (ms - 1500) / 8 / 1024) + " KB"}, {2, "Start: 1 secs"}}},
        {"video at a constant 1000 Kbps, scaled, at 29.97 fps, for 1 s",
         [] {
             SetPrefInt("overall.audio.copy", 0);
             SetPrefInt("overall.decoding.startTime", 0);
             SetPrefInt("overall.decoding.duration", 1000);
             SetPrefInt("overall.video.enabled", 1);
             SetPrefInt("overall.video.copy", 0);
             SetPrefInt("overall.video.format", 1);
             SetPrefInt("overall.video.encoder", 0);
             SetPrefInt("overall.video.mode", 2);
             SetPrefInt("overall.video.bitrate", 1000);
             SetPrefInt("videofilter.scale.enabled", 1);
             SetPrefInt("videofilter.scale.width", 640);
             SetPrefInt("videofilter.scale.height", 360);
             SetPrefInt("videofilter.frame.enabled", 1);
             SetPrefInt("videofilter.frame.fps", 30000);
             SetPrefInt("videofilter.frame.fpsScale", 1001);
             SetPrefInt("videofilter.deint.mode", 2);
         },
         {{1, "Video"}, {2, "H.264"}, {2, "Encoder: x264"}, {2, "Mode: CBR"}, {2, "Bitrate: 1000 Kbps"},
          {2, "Resolution: 640x360"}, {2, "Frame rate: 29.97 fps"}, {2, "Deinterlace: Yadif"},
          {1, est + std::to_string((1000 + 192) * 1000 / 8 / 1024) + " KB"}, {2, "Length: 1 secs"}}},
        {"video at a quality: no size to tell",
         [] {
             SetPrefInt("overall.video.mode", 1);
             SetPrefInt("videofilter.frame.enabled", 0);
         },
         {{2, "Mode: VBR"}, {2, "Quality: " + std::to_string(GetPrefInt("overall.video.quality"))},
          {2, "Frame rate: Original"}, {1, "Estimated size: N/A"}}},
        {"video by quantizer",
         [] { SetPrefInt("overall.video.mode", 3); },
         {{2, "Mode: CQP"}, {2, "Quantizer: " + std::to_string(GetPrefInt("overall.video.quant"))}}},
        {"video copied, with no rate known for it",
         [] { SetPrefInt("overall.video.copy", 1); },
         {{2, "Stream copy"}, {1, "Estimated size: N/A"}}},
        {"a video rate that takes megabytes", [] {
             SetPrefInt("overall.video.copy", 0);
             SetPrefInt("overall.video.mode", 4);
             SetPrefInt("overall.video.bitrate", 100000);
         },
         {{2, "Mode: Two-pass"}, {1, est + std::to_string((100000 + 192) * 1000 / 8 / 1024 / 1024) + " MB"}}},
    };
    for (const TargetCase& c : targets) {
        c.set();
        tree = lines();
        const auto at = std::find(tree.begin(), tree.end(), std::make_pair(0, std::string("Target format")));
        ASSERT_NE(at, tree.end()) << c.what;
        const std::vector<std::pair<int, std::string>> target(at, tree.end());
        for (const auto& [depth, text] : c.shown) EXPECT_TRUE(has(target, depth, text)) << c.what << ": " << text << "\n" << show(target);
    }
    SetPrefInt("overall.video.enabled", 0);
}

TEST_F(OptionPages, DependentControlsFollowTheirKeys) {
    struct Case {
        int encoderId;
        const char* key;
        int value;
        int control;
        bool enabled;
    } cases[] = {
        {16, "audioenc.wavpack.hybrid", 0, 1084, false}, {16, "audioenc.wavpack.hybrid", 1, 1084, true},
        {13, "audioenc.amr.codec", 0, 1052, false},      {13, "audioenc.amr.codec", 1, 1052, true},
        {10, "audioenc.fraunhofer.mode", 2, 1051, false}, {10, "audioenc.fraunhofer.mode", 0, 1051, true},
    };
    for (const Case& c : cases) {
        SetPrefInt(c.key, c.value);
        ChooseEncoderPage(c.encoderId);
        EXPECT_EQ(d().Enabled(PageItem(c.control)), c.enabled) << c.key << " " << c.value;
    }
    // The AMR codec buttons set the rate and channels the codec takes.
    ChooseEncoderPage(13);
    ASSERT_TRUE(d().Click(PageItem(1113)));
    EXPECT_EQ(GetPrefInt("audiofilter.resample.samplerate"), 16000);
    ASSERT_TRUE(d().Click(PageItem(1112)));
    EXPECT_EQ(GetPrefInt("audiofilter.resample.samplerate"), 8000);
    EXPECT_EQ(GetPrefInt("overall.audio.channels"), 1);

    // Audio off greys the audio tab but its own box.
    ChooseTab(0);
    ASSERT_TRUE(d().Click(TabItem(1164)));
    EXPECT_EQ(GetPrefInt("overall.audio.enabled"), 0);
    for (int id : {1074, 1072, 1062, 1067}) EXPECT_FALSE(d().Enabled(TabItem(id))) << id;
    EXPECT_TRUE(d().Enabled(TabItem(1164)));
}

TEST_F(OptionPages, TaskingTabCoresSpeedAndLists) {
    ui::Shell().context.cpuCount = 4;
    ChooseTab(2);
    EXPECT_EQ(d().Items(TabItem(1252)).size(), 4u);  // the page's own texts, no numbers before them
    EXPECT_EQ(d().Items(TabItem(1250)).size(), 4u);
    EXPECT_EQ(d().Selection(TabItem(1250)), std::vector<int>{0});
    EXPECT_TRUE(d().Enabled(TabItem(2003)));
    EXPECT_FALSE(d().Enabled(TabItem(2004)));
    SetPrefInt("overall.audio.encAffinity", 0);
    ASSERT_TRUE(d().Click(TabItem(2001)));  // one box off: cores 0, 2, 3
    EXPECT_EQ(GetPrefInt("overall.audio.encAffinity"), 0b1101);
    EXPECT_FALSE(d().Check(TabItem(1093)));
    ASSERT_TRUE(d().Click(TabItem(2001)));  // every shown core again: no restriction
    EXPECT_EQ(GetPrefInt("overall.audio.encAffinity"), 0);
    EXPECT_TRUE(d().Check(TabItem(1093)));

    ASSERT_TRUE(d().Click(TabItem(1066)));
    EXPECT_FLOAT_EQ(GetPrefFloat("overall.generic.encodingSpeed"), 1.0f);
    ASSERT_TRUE(d().DragTrack(TabItem(1084), {0}));
    EXPECT_FLOAT_EQ(GetPrefFloat("overall.generic.encodingSpeed"), 0.05f);

    ASSERT_TRUE(d().PickCombo(TabItem(1252), 3));
    EXPECT_EQ(GetPrefInt("overall.task.overwrite"), 3);
    ASSERT_TRUE(d().PickCombo(TabItem(1251), 2));
    EXPECT_EQ(GetPrefInt("overall.task.parallelize"), 3);
}

// Whatever tab came before, a tab shows its own nested row or none: the row holds the tab's own
// pages, the tab's page ends above it and the nested page lies within it.
TEST_F(OptionPages, EachTabShowsOnlyItsOwnNestedRow) {
    const int encoders = [] {
        int n = 0;
        while (GetPrefEnumText("overall.audio.encoder", n) && *GetPrefEnumText("overall.audio.encoder", n)) ++n;
        return n;
    }();
    const struct {
        int tab;
        int rowItems;  // 0: no nested row
    } steps[] = {{0, encoders + 1}, {2, 3}, {1, 0}, {2, 3}, {0, encoders + 1}, {5, 0}, {2, 3}, {3, 0}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.tab);
        ChooseTab(step.tab);
        const gui::HWND row = PaneItem(ui::dlg::options::encoder_tabs);
        EXPECT_EQ(d().Visible(row), step.rowItems > 0);
        EXPECT_EQ(pane->SubPage() != nullptr, step.rowItems > 0);
        // The tab's controls lie on its page, never past it (over the nested row).
        const gui::RECT page = d().Rect(pane->Tab()->Handle());
        std::vector<gui::HWND> controls;
        gui::EnumChildWindows(
            pane->Tab()->Handle(),
            [](gui::HWND c, gui::LPARAM list) -> gui::BOOL {
                reinterpret_cast<std::vector<gui::HWND>*>(list)->push_back(c);
                return 1;
            },
            reinterpret_cast<gui::LPARAM>(&controls));
        for (gui::HWND c : controls) {
            if (!d().Visible(c)) continue;
            const gui::RECT r = d().Rect(c);
            EXPECT_TRUE(r.left >= page.left && r.top >= page.top && r.right <= page.right && r.bottom <= page.bottom)
                << gui::GetDlgCtrlID(c) << " lies past its page";
        }
        if (step.rowItems == 0) continue;
        EXPECT_EQ(gui::SendMessageA(row, gui::TCM_GETITEMCOUNT, 0, 0), step.rowItems);
        const gui::RECT rowRect = d().Rect(row), nested = d().Rect(pane->SubPage()->Handle());
        EXPECT_LE(page.bottom, rowRect.top);
        EXPECT_GE(nested.top, rowRect.top);
        EXPECT_LE(nested.bottom, rowRect.bottom);
        EXPECT_GE(nested.left, rowRect.left);
        EXPECT_LE(nested.right, rowRect.right);
    }
}

// The summary's tree fills its page; the plug-in page's tree leaves a column at the right edge,
// where its buttons stack from the bottom up.
TEST_F(OptionPages, NestedPagesLayTheirControlsOverTheirArea) {
    ChooseTab(0);
    ASSERT_TRUE(d().PickTab(PaneItem(ui::dlg::options::encoder_tabs), 0));
    const gui::RECT summary = d().Rect(pane->SubPage()->Handle());
    const gui::RECT tree = d().Rect(PageItem(1087));
    EXPECT_EQ(tree.left, summary.left);
    EXPECT_EQ(tree.top, summary.top);
    EXPECT_EQ(tree.right, summary.right);
    EXPECT_EQ(tree.bottom, summary.bottom);

    ChooseTab(2);
    ASSERT_TRUE(d().PickTab(PaneItem(ui::dlg::options::encoder_tabs), 2));
    ASSERT_EQ(pane->SubPage()->TemplateId(), ui::dlg::opt_plugins::id);
    const gui::RECT page = d().Rect(pane->SubPage()->Handle());
    const gui::RECT button = d().Rect(PageItem(1264));
    const int bw = button.right - button.left, bh = button.bottom - button.top;
    ASSERT_GT(bw, 0);
    ASSERT_GT(bh, 0);
    const struct {
        int id;
        int right;   // from the page's right edge
        int bottom;  // from the page's bottom edge
    } placed[] = {{1087, bw + 3, 0}, {1264, 0, 0}, {4, 0, bh}, {1065, 0, 2 * bh}, {1265, 0, 3 * bh + 8}};
    for (const auto& c : placed) {
        const gui::RECT r = d().Rect(PageItem(c.id));
        EXPECT_EQ(page.right - r.right, c.right) << c.id;
        EXPECT_EQ(page.bottom - r.bottom, c.bottom) << c.id;
        if (c.id != 1087) {
            EXPECT_EQ(r.right - r.left, bw) << c.id;
        }
    }
    EXPECT_EQ(d().Rect(PageItem(1087)).left, page.left);
}

TEST_F(OptionPages, TimeFieldsSetTheItemsTimes) {
    const std::string input = run.files().path().string() + "/a.wav";
    std::ofstream(input) << "RIFF";
    ASSERT_TRUE(ui::FileListAdd(input.c_str()));
    ChooseTab(5);
    QueueItem* item = QueueGetItem(0);
    ASSERT_NE(item, nullptr);
    struct Case {
        const char* h;
        const char* m;
        const char* s;
        const char* ms;
        uint32_t begin;
    } cases[] = {{"1", "", "", "", 3600000u}, {"0", "1", "30", "5", 90005u}, {"", "-3", "2", "", 2000u},
                 {"99999999999", "", "", "", 0xFFFFFFFFu}};
    for (const Case& c : cases) {
        d().SetTextAsUser(TabItem(1090), c.h);
        d().SetTextAsUser(TabItem(1070), c.m);
        d().SetTextAsUser(TabItem(1091), c.s);
        d().SetTextAsUser(TabItem(1092), c.ms);
        EXPECT_EQ(item->begin, c.begin) << c.h << ":" << c.m << ":" << c.s << "." << c.ms;
    }
    // A running item's times are not edited under its worker.
    item->state = kItemEncoding;
    ChooseTab(5);
    EXPECT_FALSE(d().Enabled(TabItem(1090)));
    item->state = kItemReady;

    // With rows selected, the times and the offset go to each selected row's item, and only there.
    for (const char* name : {"/b.wav", "/c.wav"}) {
        const std::string more = run.files().path().string() + name;
        std::ofstream(more) << "RIFF";
        ASSERT_TRUE(ui::FileListAdd(more.c_str()));
    }
    ui::CFileList& list = ui::FileList();
    for (int row = 0; row < 3; ++row) {
        QueueGetItem(row)->begin = QueueGetItem(row)->end = 0;
        QueueGetItem(row)->audioOffset = 0;
        list.SelectRow(row, row != 1);
    }
    ChooseTab(5);
    for (int row = 0; row < 3; ++row) list.SelectRow(row, row != 1);
    d().SetTextAsUser(TabItem(1094), "2");  // end: 2 minutes
    d().SetTextAsUser(TabItem(1097), "250");
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(QueueGetItem(row)->end, row != 1 ? 120000u : 0u) << row;
        EXPECT_EQ(QueueGetItem(row)->audioOffset, row != 1 ? 250 : 0) << row;
    }
    EXPECT_EQ(gui::SendMessageA(TabItem(1084), gui::TBM_GETPOS, 0, 0), 3025);
    // With none selected, the times go to the current item; the offset to no item.
    for (int row = 0; row < 3; ++row) list.SelectRow(row, false);
    ui::SetCurrentListItem(QueueGetItem(1));
    d().SetTextAsUser(TabItem(1070), "1");
    d().SetTextAsUser(TabItem(1097), "-40");
    EXPECT_EQ(QueueGetItem(1)->begin, 60000u);  // the fields showed 0:00:00.000
    for (int row = 0; row < 3; ++row) EXPECT_EQ(QueueGetItem(row)->audioOffset, row != 1 ? 250 : 0) << row;
}

}  // namespace

namespace {

// The compact audio tab shares the sound tab's rows, where its gain box is an editable list: the
// popup showing it leaves the sound tab's gain with its one decimal, and the owner usable again.
TEST_F(OptionPages, CompactAudioTabInPopupLeavesTheSoundTabAlone) {
    SetPrefFloat("audiofilter.volume.gain", 1.5f);
    const HWND main = ui::Shell().mainHwnd.load();
    ui::ShowTabInPopup(ui::CreateAudioCfgTab(), main);
    ASSERT_NE(ui::PopupTab(), nullptr);
    EXPECT_FALSE(d().Enabled(main));
    EXPECT_EQ(d().Text(d().Find(ui::PopupTab()->Handle(), 1068)), "1.5");
    ui::ClosePopup();
    EXPECT_EQ(ui::PopupTab(), nullptr);
    EXPECT_TRUE(d().Enabled(main));

    ChooseTab(1);
    EXPECT_EQ(d().Text(TabItem(1068)), "1.5");
    ASSERT_TRUE(d().SetTextAsUser(TabItem(1068), "-2.34"));
    ui::SettingsChangedLevel = 1;
    Apply();
    EXPECT_EQ(d().Text(TabItem(1068)), "-2.3");
}

}  // namespace
