// The device plug-in host on the headless windowing layer with a plug-in of the tests' own: what
// it refuses to load, what the XML description sets (name, flags, menus, preset catalogs), how
// saved choices come back, and what the plug-in is told and may refuse.
#include "ui/plugins/device_host.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "engine/encoders/encoder.h"
#include "engine/jobs/job_harness.h"
#include "engine/queue/queue.h"
#include "engine/tools/preview.h"
#include "platform/fs.h"
#include "platform/gui/driver.h"
#include "platform/gui/plugin.h"
#include "platform/gui/resources.h"
#include "support/event_recorder.h"
#include "support/plugin_folder.h"
#include "support/program_ui.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"
#include "support/wav_bytes.h"
#include "ui/main/composition.h"
#include "ui/main/window_services.h"
#include "platform/shell_open.h"

namespace {

namespace fs = std::filesystem;
using namespace gui;
using ui::CDeviceDialog;
using ui::DeviceHost;

constexpr int kRateCombo = 1182;

const char kDescription[] = R"(<?xml version="1.0"?>
<QuorvexPlugin>
 <properties>
  <name value="Pocket player"/>
  <link value="http://example.invalid/pocket"/>
  <flag summary="1" dialog="yes" confirm="0x"/>
  <summary width="200" height="90"/>
 </properties>
 <menus>
  <menu text="video_settings" key="videoenc.x264"/>
  <menu text="no_key"/>
 </menus>
 <presets>
  <common><node key="overall"><node key="decoding"><node key="speed">3</node></node></node></common>
  <catalog text="Empty"/>
  <catalog text="_ratio">
   <preset text="Low"><node key="overall"><node key="audio"><node key="bitrateRatio">10</node></node></node></preset>
   <preset text="Mid" sel="1"><node key="overall"><node key="audio"><node key="bitrateRatio">20</node></node></node></preset>
   <preset text="High"><node key="overall"><node key="audio"><node key="bitrateRatio">30</node></node></node></preset>
  </catalog>
  <catalog text="C3"><preset text="a"/><preset text="b" sel="1"/></catalog>
  <catalog text="C4"><preset text="a"/></catalog>
  <catalog text="C5"><preset text="a"/></catalog>
  <catalog text="C6"><preset text="a"/></catalog>
  <catalog text="C7"><preset text="a"/></catalog>
 </presets>
</QuorvexPlugin>)";

class DeviceHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sqtest::LoadShippedEngineData());
        ui::ConnectEngine();
        fs::create_directory(program.path() / "plugins");
        platform::SetAppFolderOverride(program.path().string());
        drv.OnMessageBox([](const gui::testing::BoxRecord&) { return IDOK; });
        GetPrefStore().SetString("overall.ui.pluginParams", "");
    }
    void TearDown() override {
        ui::ShutdownPluginHost();
        for (const char* v : {"DEVICE_REFUSE_LOAD", "DEVICE_REFUSE_UNLOAD", "DEVICE_REFUSE_PLAY", "DEVICE_REFUSE_STOP",
                              "DEVICE_NO_PANEL", "DEVICE_NULL_HEADER"})
            unsetenv(v);
        platform::SetAppFolderOverride("");
    }
    // Copies a built test plug-in into the program's plug-in folder, with a description when given.
    std::string Plant(const std::string& built, const std::string& as, const char* description = nullptr) {
        const fs::path dir = program.path() / "plugins";
        fs::copy_file(std::string(SQ_TEST_PLUGIN_DIR) + "/" + built + ".so", dir / as, fs::copy_options::overwrite_existing);
        if (description) std::ofstream(ui::DescriptionPath((dir / as).string())) << description;
        return (dir / as).string();
    }
    int Selection(int combo) { return static_cast<int>(SendMessageA(drv.Find(DeviceHost().Handle(), combo), CB_GETCURSEL, 0, 0)); }

    sqtest::TempDir program;
    sqtest::EventRecorder recorder;
    gui::testing::Driver drv{[](const std::string& what) { ADD_FAILURE() << what; }, sqtest::ProgramUiOptions()};
};

TEST_F(DeviceHostTest, RefusedNamesAndLibrariesLoadNothing) {
    Plant("device", "device.so");
    Plant("in_tiny", "noexport.so");
    struct Case {
        const char* name;
        const char* env;  // refusal the plug-in is told to make
        bool box;         // "Error loading DLL" shown
        const char* log;  // the reason logged under the plug-in's name
    } const cases[] = {
        {"../device.so", nullptr, true, "not a library name"},
        {"sub/device.so", nullptr, true, "not a library name"},
        {".device.so", nullptr, true, "not a library name"},
        {"device.dll", nullptr, true, "not a library name"},
        {"missing.so", nullptr, true, "No such file"},
        {"noexport.so", nullptr, false, "no GetPluginHeader"},
        {"device.so", "DEVICE_NULL_HEADER", false, "no header"},
        {"device.so", "DEVICE_NO_PANEL", false, "no panel window"},
        {"device.so", "DEVICE_REFUSE_LOAD", false, "the plug-in refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + std::string(" ") + (c.env ? c.env : ""));
        if (c.env) setenv(c.env, "1", 1);
        const size_t boxes = drv.Boxes().size();
        EXPECT_EQ(DeviceHost().LoadPlugin(c.name, nullptr), 0);
        EXPECT_EQ(DeviceHost().Handle(), nullptr) << "the host window is closed";
        EXPECT_EQ(DeviceHost().Header(), nullptr);
        ASSERT_EQ(drv.Boxes().size(), boxes + (c.box ? 1 : 0));
        if (c.box) {
            EXPECT_EQ(drv.Boxes().back().caption, "Error loading DLL");
        }
        const std::vector<std::string> lines = recorder.texts(kEventLogLine);
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find("Plug-in not loaded: "), std::string::npos) << lines.back();
        EXPECT_NE(lines.back().find(c.log), std::string::npos) << lines.back();
        EXPECT_NE(lines.back().find("[" + std::string(c.name) + "]"), std::string::npos) << lines.back();
        if (c.env) unsetenv(c.env);
    }
    EXPECT_EQ(sqtest::DevicePluginEventCodes(program.file("plugins/device.so")), (std::vector<int>{0})) << "told of the load it refused";
}

TEST_F(DeviceHostTest, DescriptionSetsNameFlagsMenusAndCatalogs) {
    const std::string path = Plant("device", "pocket.so", kDescription);
    GetPrefStore().SetInt("overall.task.parallelize", 1);
    ASSERT_EQ(DeviceHost().LoadPlugin("pocket.so", nullptr), 1);
    CDeviceDialog& host = DeviceHost();
    HWND window = host.Handle();
    ASSERT_NE(window, nullptr);
    EXPECT_STREQ(host.Header()->name, "Pocket player");
    EXPECT_EQ(drv.Text(window), "Pocket player");
    EXPECT_EQ(host.Link(), "http://example.invalid/pocket");
    // The header's dock bit is cleared by a "flag" property without it; "0x" counts as off.
    EXPECT_EQ(host.HostFlags(), static_cast<uint32_t>(kPluginSummary | kPluginDialog));
    EXPECT_EQ(host.SummaryWidth(), 200);
    EXPECT_TRUE(drv.Visible(static_cast<HWND>(host.Header()->pluginWindow)));
    EXPECT_EQ(GetParent(static_cast<HWND>(host.Header()->pluginWindow)), window);
    EXPECT_NE(qxgui_GetDlgItem(host.Header()->pluginWindow, 11), nullptr);

    // The empty catalog gets no combo; of the other six, five are shown.
    ASSERT_EQ(host.CatalogCount(), 5);
    EXPECT_EQ(drv.Items(drv.Find(window, kRateCombo)), (std::vector<std::string>{"Low", "Mid", "High"}));
    EXPECT_EQ(drv.Text(drv.Find(window, 1183)), "ratio");
    EXPECT_EQ(Selection(kRateCombo), 1);
    EXPECT_EQ(Selection(1110), 1);
    // The presets came from the catalog behind each combo, after the common part.
    EXPECT_EQ(GetPrefStore().GetInt("overall.audio.bitrateRatio"), 20);
    EXPECT_EQ(GetPrefStore().GetInt("overall.decoding.speed"), 3);
    EXPECT_EQ(sqtest::DevicePluginEventCodes(path), (std::vector<int>{0, 2}));

    // A pick applies the presets and tells the plug-in which combo and entry.
    ASSERT_TRUE(drv.PickCombo(drv.Find(window, kRateCombo), 2));
    EXPECT_EQ(GetPrefStore().GetInt("overall.audio.bitrateRatio"), 30);
    EXPECT_EQ(sqtest::DevicePluginEventCodes(path).back(), kPluginEventPreset);
    EXPECT_EQ(ui::SettingsChangedLevel.load(), 2);

    // Menus: the description's entries from 60011, the fixed encoders elsewhere.
    const std::string menu = drv.MenuDump(host.PopupMenu());
    EXPECT_NE(menu.find("video_settings [60011]"), std::string::npos) << menu;
    EXPECT_NE(menu.find("no_key [60012]"), std::string::npos) << menu;
    SendMessageA(window, WM_COMMAND, ui::device_cmd::first_plugin_menu, 0);
    EXPECT_NE(host.SettingsUrl().find("?path=videoenc.x264"), std::string::npos) << host.SettingsUrl();
    SendMessageA(window, WM_COMMAND, ui::device_cmd::first_plugin_menu + 1, 0);
    EXPECT_NE(host.SettingsUrl().find("?path=videoenc.x264"), std::string::npos) << "an entry without a key opens nothing";
    SendMessageA(window, WM_COMMAND, ui::device_cmd::parallel, 0);
    EXPECT_EQ(GetPrefStore().GetInt("overall.task.parallelize"), 2);
    SendMessageA(window, WM_COMMAND, ui::device_cmd::display_frames, 0);
    EXPECT_EQ(GetPrefStore().GetInt("overall.preview.mode"), 2) << "no sizing window";

    ui::ShutdownPluginHost();
    EXPECT_EQ(sqtest::DevicePluginEventCodes(path).back(), kPluginEventUnload);
    EXPECT_STREQ(GetPrefStore().GetString("overall.ui.pluginParams"), "pocket.so,2,1,-1,-1,-1");
}

TEST_F(DeviceHostTest, SavedChoicesComeBackOnlyForTheirOwnPlugin) {
    Plant("device", "pocket.so", kDescription);
    const struct {
        const char* saved;
        int rate, second;  // selections of the first two combos after the load
    } cases[] = {
        {"other.so,2,0", 1, 1},
        {"pocket.sox,2,0", 1, 1},     // a longer name is another plug-in
        {"pocket.so,2,0", 2, 0},
        {"pocket.so,-1,0", 1, 1},     // an empty combo stops the restoring there
        {"pocket.so,0,-1,0", 0, 1},
        {"pocket.so,9,0", 1, 0},      // past the combo's entries: the default, and on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.saved);
        GetPrefStore().SetString("overall.ui.pluginParams", c.saved);
        ASSERT_EQ(DeviceHost().LoadPlugin("pocket.so", nullptr), 1);
        EXPECT_EQ(Selection(kRateCombo), c.rate);
        EXPECT_EQ(Selection(1110), c.second);
        ui::ShutdownPluginHost();
    }
}

TEST_F(DeviceHostTest, CallbacksStayWithinTheCatalogsShown) {
    Plant("device", "pocket.so", kDescription);
    ASSERT_EQ(DeviceHost().LoadPlugin("pocket.so", nullptr), 1);
    PluginHostCallbacks* cb = DeviceHost().Header()->callbacks;
    for (auto [catalog, index] : {std::pair{7, 0}, {-1, 0}, {5, 0}, {0, 3}, {0, -1}}) cb->selectPreset(catalog, index);
    EXPECT_EQ(Selection(kRateCombo), 1);
    cb->selectPreset(0, 0);
    EXPECT_EQ(Selection(kRateCombo), 0);
    EXPECT_EQ(GetPrefStore().GetInt("overall.audio.bitrateRatio"), 10);

    EXPECT_TRUE(cb->setPrefFromText("overall.audio.bitrateRatio", "55"));
    ASSERT_NE(cb->getPref("overall.audio.bitrateRatio"), nullptr);
    EXPECT_EQ(GetPrefStore().GetInt("overall.audio.bitrateRatio"), 55);
    EXPECT_EQ(cb->getPref("no.such.key"), nullptr);
    EXPECT_STREQ(cb->getString("no_such_text"), "");
    cb->openSettings("audioenc.lame");
    EXPECT_NE(DeviceHost().SettingsUrl().find("?path=audioenc.lame"), std::string::npos);
    cb->refreshSummary(3);
    EXPECT_EQ(ui::SettingsChangedLevel.load(), 3);
    EXPECT_FALSE(drv.TreeViewDump(drv.Find(DeviceHost().Handle(), 1085)).empty()) << "the summary flag is set";
}

TEST_F(DeviceHostTest, SummaryShowsTheTargetSettings) {
    Plant("device", "pocket.so", kDescription);  // the description sets the summary flag
    ASSERT_EQ(DeviceHost().LoadPlugin("pocket.so", nullptr), 1);
    PrefStore& p = GetPrefStore();
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, int>> settings;
        std::vector<std::string> lines;  // lines the summary holds
    } const cases[] = {
        {"video by quantizer, scaled, at a frame rate",
         {{"overall.video.enabled", 1}, {"overall.video.mode", 3}, {"overall.video.quant", 20},
          {"videofilter.scale.enabled", 1}, {"videofilter.scale.width", 640}, {"videofilter.scale.height", 360},
          {"videofilter.frame.enabled", 1}, {"videofilter.frame.fps", 30000}, {"videofilter.frame.fpsScale", 1001}},
         {"video_quant: 20", "resolution: 640x360", "framerate: 29.97 fps"}},
        {"video by bit rate", {{"overall.video.enabled", 1}, {"overall.video.mode", 0}, {"overall.video.bitrate", 900}},
         {"bitrate: 900 Kbps"}},
        {"MP3 by quality", {{"overall.audio.enabled", 1}, {"overall.audio.encoder", kEncLame}, {"audioenc.lame.mode", 0},
                            {"audioenc.lame.quality", 2}},
         {"quality: 2"}},
        {"MP3 by bit rate, resampled, split by time",
         {{"overall.audio.enabled", 1}, {"overall.audio.encoder", kEncLame}, {"audioenc.lame.mode", 1},
          {"audioenc.lame.bitrate", 192}, {"audiofilter.resample.samplerate", 48000}, {"overall.task.mode", 4},
          {"overall.task.splitMode", 0}, {"overall.task.splitParam", 30}},
         {"bitrate: 192 Kbps", "samplerate: 48000 Hz", "split_into 30 secs"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* key : {"overall.video.enabled", "overall.audio.enabled", "videofilter.scale.enabled",
                                "videofilter.frame.enabled", "audiofilter.resample.samplerate", "overall.task.mode"})
            p.SetInt(key, 0);
        for (const auto& [key, value] : c.settings) p.SetInt(key, value);
        DeviceHost().RefreshSummary();
        const std::string dump = drv.TreeViewDump(drv.Find(DeviceHost().Handle(), 1085));
        for (const std::string& line : c.lines) EXPECT_NE(dump.find(line), std::string::npos) << line << " in\n" << dump;
    }
    p.SetInt("overall.task.mode", 0);
}

TEST_F(DeviceHostTest, ARefusedUnloadKeepsTheHostWindowAndThePlugin) {
    const std::string path = Plant("device", "pocket.so", kDescription);
    Plant("device", "second.so");
    ASSERT_EQ(DeviceHost().LoadPlugin("pocket.so", nullptr), 1);
    setenv("DEVICE_REFUSE_UNLOAD", "1", 1);
    HWND window = DeviceHost().Handle();
    drv.Close(window);
    EXPECT_EQ(DeviceHost().Handle(), window);
    EXPECT_TRUE(drv.Visible(static_cast<HWND>(DeviceHost().Header()->pluginWindow)));
    EXPECT_EQ(DeviceHost().LoadPlugin("second.so", nullptr), 0) << "the first one stays";
    EXPECT_EQ(DeviceHost().PluginName(), "pocket.so");
    unsetenv("DEVICE_REFUSE_UNLOAD");
    EXPECT_EQ(DeviceHost().LoadPlugin("second.so", nullptr), 1);
    EXPECT_EQ(DeviceHost().Handle(), window) << "one host window for the next plug-in";
    EXPECT_STREQ(DeviceHost().Header()->name, "Test device");
}

TEST_F(DeviceHostTest, DescriptionFromTheLibraryOrAReportedBreak) {
    Plant("device_res", "res.so");
    ASSERT_EQ(DeviceHost().LoadPlugin("res.so", nullptr), 1);
    EXPECT_STREQ(DeviceHost().Header()->name, "From resource") << "read by its size, not to a terminator";
    ui::ShutdownPluginHost();

    Plant("device", "broken.so", "<OtherRoot><properties>");
    ASSERT_EQ(DeviceHost().LoadPlugin("broken.so", nullptr), 1) << "the panel still shows";
    EXPECT_EQ(DeviceHost().CatalogCount(), 0);
    EXPECT_STREQ(DeviceHost().Header()->name, "Test device");
    bool reported = false;
    for (const std::string& t : recorder.texts(kEventNotice)) reported |= t == "PLUGIN_XML_ERROR";
    EXPECT_TRUE(reported) << ::testing::PrintToString(recorder.texts(kEventNotice));
}

TEST_F(DeviceHostTest, ASizingWindowGivesTheVideoAreaAndTheFirstPreviewMode) {
    Plant("device_sizing", "sizing.so");
    GetPrefStore().SetInt("overall.preview.mode", 0);
    ASSERT_EQ(DeviceHost().LoadPlugin("sizing.so", nullptr), 1);
    PluginHeader* header = DeviceHost().Header();
    RECT rc{};
    ASSERT_TRUE(GetClientRect(static_cast<HWND>(header->sizingWindow), &rc));
    EXPECT_GT(rc.right, 0);
    EXPECT_EQ(header->videoWidth, rc.right - rc.left);
    EXPECT_EQ(header->videoHeight, rc.bottom - rc.top);
    SendMessageA(DeviceHost().Handle(), WM_COMMAND, ui::device_cmd::display_frames, 0);
    EXPECT_EQ(GetPrefStore().GetInt("overall.preview.mode"), 1);
}

class DevicePanel : public DeviceHostTest {
protected:
    void SetUp() override {
        DeviceHostTest::SetUp();
        // The real player, playing into no sound device.
        program.write("mplayer/config", "ao=null\n");
        setenv("MPLAYER_HOME", program.file("mplayer").c_str(), 1);
        // Nine seconds: the player is still playing when the test looks.
        sqtest::WavSpec wav;
        wav.data = std::string(9 * 176400, '\0');
        const std::string input = program.write("song.wav", sqtest::BuildWav(wav));
        item = QueueNewItem(input.c_str());
        item->flags |= kItemFlagHasStreams;  // nothing to probe
        item->duration = 9000;
        SetStringField(&item->destFile, input.c_str());
        ASSERT_EQ(QueueAppend(item), 0);
        ui::SetCurrentListItem(item);
    }
    void TearDown() override {
        PlayerStop();
        unsetenv("MPLAYER_HOME");
        ui::SetCurrentListItem(nullptr);
        DeviceHostTest::TearDown();
        QueueClear();
    }
    // The player's last command line.
    std::string PlayerLine() {
        const auto lines = recorder.texts(kEventCommandLine);
        return lines.empty() ? "" : lines.back();
    }
    HWND Item(int id) { return drv.Find(DeviceHost().Handle(), id); }

    QueueItem* item = nullptr;
};

TEST_F(DevicePanel, PlaysTheCurrentItemInTheSizingWindowOrLeavesItToTheMainWindow) {
    Plant("device_sizing", "sizing.so");
    Plant("device", "plain.so");
    const struct Case {
        const char* what;
        const char* plugin;
        int command;
        bool panelPlayback;       // "overall.ui.pluginWindowPlayback"
        const char* refusal;      // what the plug-in is told to refuse
        int state;                // the panel's playback state after the command
        bool plays;               // the player runs
    } cases[] = {
        {"play in the panel", "sizing.so", 3, true, nullptr, 1, true},
        {"play from the menu", "sizing.so", ui::device_cmd::play, true, nullptr, 1, true},
        {"the device preview", "sizing.so", ui::device_cmd::device_preview, true, nullptr, 2, true},
        {"panel playback turned off", "sizing.so", 3, false, nullptr, 0, true},
        {"no sizing window", "plain.so", 3, true, nullptr, 0, true},
        {"no sizing window, no preview", "plain.so", ui::device_cmd::device_preview, true, nullptr, 0, false},
        {"the plug-in refuses to play", "sizing.so", 3, true, "DEVICE_REFUSE_PLAY", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GetPrefStore().SetInt("overall.ui.pluginWindowPlayback", c.panelPlayback ? 1 : 0);
        if (c.refusal) setenv(c.refusal, "1", 1);
        recorder.clear();
        ASSERT_EQ(DeviceHost().LoadPlugin(c.plugin, nullptr), 1);
        const size_t notices = recorder.texts(kEventNotice).size();
        SendMessageA(DeviceHost().Handle(), WM_COMMAND, static_cast<WPARAM>(c.command), 0);
        EXPECT_EQ(DeviceHost().PlaybackState(), c.state) << PlayerLine() << "\n" << GetPreviewPlayer().LastReply();
        EXPECT_EQ(GetPreviewPlayer().state.load() == kPlayerPlaying, c.plays);
        if (c.plays) {
            EXPECT_NE(PlayerLine().find("song.wav"), std::string::npos) << PlayerLine();
        }
        if (c.refusal) {
            ASSERT_EQ(recorder.texts(kEventNotice).size(), notices + 1);
            EXPECT_EQ(recorder.texts(kEventNotice).back(), "NO_FILE");
        }
        if (c.state != 0) {
            // A video window at the header's place in the sizing window; the slider in place of
            // the progress bar, over the item's seconds.
            PluginHeader* h = DeviceHost().Header();
            HWND video = DeviceHost().VideoWindow();
            ASSERT_NE(video, nullptr);
            EXPECT_EQ(GetParent(video), static_cast<HWND>(h->sizingWindow));
            RECT rc{};
            GetClientRect(video, &rc);
            EXPECT_EQ(rc.right - rc.left, h->videoWidth);
            EXPECT_TRUE(drv.Visible(Item(1282)));
            EXPECT_FALSE(drv.Visible(Item(1015)));
            EXPECT_EQ(SendMessageA(Item(1282), TBM_GETRANGEMAX, 0, 0), 9);
            // Dragged and let go: the player seeks there, and the slider follows the player.
            ASSERT_TRUE(drv.DragTrack(Item(1282), {3, 5}));
            EXPECT_GE(GetPlayerInfo(0), 4000);
            drv.Advance(1000);
            EXPECT_GE(SendMessageA(Item(1282), TBM_GETPOS, 0, 0), 4);
            // Pressing play again stops, unless the plug-in objects.
            setenv("DEVICE_REFUSE_STOP", "1", 1);
            SendMessageA(DeviceHost().Handle(), WM_COMMAND, 3, 0);
            EXPECT_EQ(DeviceHost().PlaybackState(), c.state);
            unsetenv("DEVICE_REFUSE_STOP");
            SendMessageA(DeviceHost().Handle(), WM_COMMAND, 3, 0);
            EXPECT_EQ(DeviceHost().PlaybackState(), 0);
            EXPECT_EQ(DeviceHost().VideoWindow(), nullptr);
            EXPECT_FALSE(IsWindow(video));
            EXPECT_EQ(GetPreviewPlayer().state.load(), kPlayerStopped);
            EXPECT_TRUE(drv.Visible(Item(1015)));
            EXPECT_FALSE(drv.Enabled(Item(1282)));
        }
        PlayerStop();
        if (c.refusal) unsetenv(c.refusal);
        ui::ShutdownPluginHost();
    }
}

TEST_F(DevicePanel, LinkPictureAndTabsOpenFromTheirButtons) {
    std::vector<std::string> opened;
    platform::SetShellOpenHook([&](const std::string& target) {
        opened.push_back(target);
        return true;
    });
    std::vector<int> tabs;
    DeviceHost().SetTabOpener([&](int command, HWND owner) {
        tabs.push_back(command);
        EXPECT_EQ(owner, DeviceHost().Handle());
    });
    auto picture = [&] {
        const auto image = reinterpret_cast<HGDIOBJ>(SendMessageA(Item(1180), BM_GETIMAGE, IMAGE_BITMAP, 0));
        return DescribeGdiObject(image).resourceId;
    };

    Plant("device", "pocket.so", kDescription);
    ASSERT_EQ(DeviceHost().LoadPlugin("pocket.so", nullptr), 1);
    EXPECT_EQ(picture(), 240) << "the host's own picture";
    SendMessageA(DeviceHost().Handle(), WM_COMMAND, 1180, 0);
    EXPECT_EQ(opened, (std::vector<std::string>{"http://example.invalid/pocket"}));
    for (int command : {1123, static_cast<int>(ui::device_cmd::automation)}) SendMessageA(DeviceHost().Handle(), WM_COMMAND, static_cast<WPARAM>(command), 0);
    EXPECT_EQ(tabs, (std::vector<int>{1123, ui::device_cmd::automation}));
    ui::ShutdownPluginHost();

    // The library's own picture; without a link the button opens nothing.
    Plant("device_res", "res.so");
    ASSERT_EQ(DeviceHost().LoadPlugin("res.so", nullptr), 1);
    EXPECT_EQ(picture(), 9);
    SendMessageA(DeviceHost().Handle(), WM_COMMAND, 1180, 0);
    EXPECT_EQ(opened.size(), 1u);
    ui::ShutdownPluginHost();
    platform::SetShellOpenHook(nullptr);
    DeviceHost().SetTabOpener(nullptr);
}

TEST_F(DeviceHostTest, ADockingHostSitsLeftOfTheMainWindowWhileBothFit) {
    Plant("device", "dock.so");  // the header asks to dock, and no description says otherwise
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const struct Case {
        const char* what;
        int mainX, mainWidth;
        bool docked;
        bool mainMoves;
    } cases[] = {
        {"room on the left", work.right / 2, 300, true, false},
        {"no room on the left", work.left, 300, true, true},
        {"no room for both", work.left, work.right - work.left - 10, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWND main = CreateWindowExA(0, kStaticClass, "main", WS_POPUP | WS_VISIBLE, c.mainX, 100, c.mainWidth, 300, nullptr,
                                    nullptr, nullptr, nullptr);
        ASSERT_NE(main, nullptr);
        DeviceHost().SetEmbedded(false);
        ASSERT_EQ(DeviceHost().LoadPlugin("dock.so", main), 1);
        RECT host{}, moved{};
        GetWindowRect(DeviceHost().Handle(), &host);
        GetWindowRect(main, &moved);
        EXPECT_EQ((DeviceHost().HostFlags() & kPluginDock) != 0, c.docked);
        EXPECT_EQ(moved.left != c.mainX, c.mainMoves);
        if (c.docked) {
            EXPECT_EQ(host.right, moved.left);
            EXPECT_EQ(host.top, moved.top);
            EXPECT_GE(host.left, work.left);
        }
        ui::ShutdownPluginHost();
        DestroyWindow(main);
    }
}

TEST(DeviceHostNames, DescriptionPathReplacesOnlyTheFileExtension) {
    EXPECT_EQ(ui::DescriptionPath("/p/plugins/dev.so"), "/p/plugins/dev.xml");
    EXPECT_EQ(ui::DescriptionPath("/p/my.plugins/dev"), "/p/my.plugins/dev.xml");
    EXPECT_TRUE(ui::IsPluginFileName("dev.so"));
    for (const char* bad : {"", ".so", "../dev.so", "a/dev.so", "a\\dev.so", ".dev.so", "dev.dll", "dev..so"})
        EXPECT_FALSE(ui::IsPluginFileName(bad)) << bad;
}

}  // namespace
