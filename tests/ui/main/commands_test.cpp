// The main window's commands: menu entries chosen as a user chooses them, keys of the accelerator
// table, and text commands as the engine and remote control send them, each with its effect on
// the queue, the preferences or the windows.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "engine/tools/preview.h"
#include "support/program_window_fixture.h"
#include "support/shell_run.h"
#include "ui/dialogs/fileinfo.h"
#include "ui/dialogs/folderwatch.h"
#include "ui/dialogs/prompt.h"
#include "ui/dialogs/stats.h"
#include "ui/dialogs/trackpicker.h"
#include "ui/dialogs/urldialog.h"
#include "ui/dialogs/userinput.h"
#include "ui/filelist/file_list.h"
#include "ui/main/main_window.h"
#include "ui/main/shell.h"
#include "ui/options/option_tabs.h"

namespace {

using gui::UINT;
using gui::testing::BoxRecord;
using gui::testing::Driver;

class Commands : public sqtest::ProgramWindowTest {
protected:
    void SetUp() override {
        ProgramWindowTest::SetUp();
        if (HasFatalFailure()) return;
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) ui::FileList().AddFile(run.files().write(name, "x"));
        driver().Pump();
    }

    void Send(const char* command) { gui::SendMessageA(main, gui::WM_APP, 0, reinterpret_cast<gui::LPARAM>(command)); }
    // The next prompt's text, answered with OK.
    void ExpectPrompt(std::string* text) {
        driver().OnModal(ui::dlg::prompt::id, [text](Driver& d, gui::HWND dlg) {
            *text = d.Text(d.Find(dlg, 1244));
            d.Click(d.Find(dlg, gui::IDOK));
        });
    }
    std::string Status() {
        auto texts = driver().StatusTexts(driver().Find(main, ui::dlg::main::status_bar));
        return texts.empty() ? "" : texts[0];
    }

};

TEST_F(Commands, MenuEntriesSetPreferencesAndFlags) {
    struct Case {
        UINT id;
        const char* key;
        int value;
    } cases[] = {
        {40262, "videofilter.crop.mode", 0}, {40263, "videofilter.crop.mode", 1}, {40264, "videofilter.crop.mode", 2},
        {40265, "videofilter.crop.mode", 3}, {40176, "overall.ui.mode", 1},       {40177, "overall.ui.mode", 2},
        {40203, "overall.ui.mode", 0},
    };
    for (const Case& c : cases) {
        Choose(c.id);
        EXPECT_EQ(GetPrefInt(c.key), c.value) << c.id;
    }
    // Toggles flip each time.
    for (const auto& [id, key] : {std::pair<UINT, const char*>{40392, "overall.preview.extPlayer"},
                                  std::pair<UINT, const char*>{40085, "overall.ui.console"}}) {
        const int before = GetPrefInt(key);
        Choose(id);
        EXPECT_EQ(GetPrefInt(key), before ? 0 : 1) << id;
        Choose(id);
        EXPECT_EQ(GetPrefInt(key), before) << id;
    }
    // After-batch actions: power off, reboot and log off end the program after the batch.
    struct After {
        UINT id;
        int action;
        bool exits;
    } after[] = {{40283, 1, true}, {40279, 2, false}, {40280, 3, false}, {40281, 4, true}, {40282, 5, true}, {40284, 0, false}};
    for (const After& c : after) {
        Choose(c.id);
        EXPECT_EQ(ui::Shell().afterBatchAction.load(), c.action) << c.id;
        EXPECT_EQ(ui::Shell().exitFlag.load(), c.exits) << c.id;
    }
}

TEST_F(Commands, MenuEntriesActOnTheRows) {
    struct Case {
        UINT id;
        std::function<void()> before;
        std::function<void()> check;
    };
    auto names = [&] { return run.column(ui::kColName); };
    auto selected = [&] {
        std::vector<int> rows;
        const auto all = run.rows();
        for (size_t i = 0; i < all.size(); ++i)
            if (all[i].selected) rows.push_back(static_cast<int>(i));
        return rows;
    };
    const Case cases[] = {
        {40319, nullptr, [&] { EXPECT_EQ(selected(), (std::vector<int>{0, 1, 2})); }},
        {40301, [&] { driver().ClickRow(run.listView(), 1); },
         [&] { EXPECT_EQ(selected(), (std::vector<int>{0, 2})); }},
        {40157, [&] { QueueGetItem(2)->state = kItemError; },
         [&] { EXPECT_EQ(run.column(ui::kColState), (std::vector<std::string>{"Ready", "Ready", "Ready"})); }},
        {40327, [&] { QueueGetItem(0)->state = kItemError; },
         [&] { EXPECT_EQ(names(), (std::vector<std::string>{"b.mp3", "c.mp3"})); }},
        {40376, [&] { QueueGetItem(1)->state = kItemSkipped; },
         [&] { EXPECT_EQ(names(), (std::vector<std::string>{"b.mp3"})); }},
        {40112, nullptr, [&] {
             EXPECT_TRUE(names().empty());
             EXPECT_EQ(QueueCount(), 0);
             EXPECT_EQ(Status(), "0 queued");
         }},
    };
    for (const Case& c : cases) {
        if (c.before) c.before();
        driver().Pump();
        Choose(c.id);
        c.check();
    }
}

TEST_F(Commands, MenuEntriesOpenWindowsAndDialogs) {
    // The statistics window opens and closes again.
    Choose(40089);
    EXPECT_NE(ui::StatsWindow().Handle(), nullptr);
    Choose(40089);
    EXPECT_EQ(ui::StatsWindow().Handle(), nullptr);

    // The track picker opens once (the add entry goes through engine event 21).
    Choose(40071);
    ASSERT_NE(ui::AddTrackDialog().Handle(), nullptr);
    EXPECT_EQ(driver().TemplateOf(ui::AddTrackDialog().Handle()), ui::dlg::addtrack::id);
    ui::AddTrackDialog().CloseWindow();
    driver().Pump();

    // About and the encoder version are message boxes.
    driver().ExpectBox([](const BoxRecord& b) { return !b.text.empty(); }, gui::IDOK);
    Choose(40009);
    driver().ExpectBox([](const BoxRecord& b) { return b.caption == "Audio encoder version" && !b.text.empty(); }, gui::IDOK);
    Choose(40134);
    EXPECT_EQ(driver().Boxes().size(), 2u);

    // The destination folder from the folder dialog; a cancel keeps it.
    const std::string out = run.files().file("out");
    driver().OnFolderDialog([out](const gui::FileDialogRequest&) { return out; });
    Choose(40010);
    EXPECT_EQ(std::string(GetPrefString("overall.task.destdir")), out);
    driver().OnFolderDialog([](const gui::FileDialogRequest&) { return std::nullopt; });
    Choose(40010);
    EXPECT_EQ(std::string(GetPrefString("overall.task.destdir")), out);
    // The window's own button for it.
    const std::string other = run.files().file("other");
    driver().OnFolderDialog([other](const gui::FileDialogRequest&) { return other; });
    ASSERT_TRUE(driver().Click(driver().Find(main, ui::dlg::main::set_output)));
    driver().Pump();
    EXPECT_EQ(std::string(GetPrefString("overall.task.destdir")), other);
    EXPECT_EQ(driver().Text(driver().Find(main, ui::dlg::main::dest_dir)), other);

    // The source details button shows the current item's file information.
    ASSERT_TRUE(driver().ClickRow(run.listView(), 0));
    ASSERT_TRUE(driver().Click(driver().Find(main, ui::dlg::main::source_details)));
    driver().Pump();
    gui::HWND info = nullptr;
    for (gui::HWND top : driver().TopLevels())
        if (driver().TemplateOf(top) == ui::dlg::fileinfo::id) info = top;
    ASSERT_NE(info, nullptr) << "no file information for the source";
    driver().Close(info);
    driver().Pump();

    // The language submenu: automatic choice, then the program's languages, the current marked; a
    // change asks for a restart.
    const std::string before = driver().MenuDump(gui::GetMenu(main));
    EXPECT_NE(before.find("Automatic [40500] checked"), std::string::npos) << before;
    EXPECT_NE(before.find("English [40501]"), std::string::npos) << before;
    std::string prompt;
    ExpectPrompt(&prompt);
    Choose(40501);
    EXPECT_EQ(GetPrefInt("overall.ui.language"), 1);
    EXPECT_FALSE(prompt.empty());
    const std::string after = driver().MenuDump(gui::GetMenu(main));
    EXPECT_NE(after.find("English [40501] checked"), std::string::npos) << after;
    EXPECT_EQ(after.find("Automatic [40500] checked"), std::string::npos) << after;

    // Loading a remote extension asks for its address (and loads nothing).
    std::string title;
    driver().OnModal(ui::dlg::url::id, [&title](Driver& d, gui::HWND dlg) {
        title = d.Text(dlg);
        d.Click(d.Find(dlg, gui::IDCANCEL));
    });
    gui::SendMessageA(main, gui::WM_COMMAND, 40328, 0);
    driver().Pump();
    EXPECT_EQ(title, "Load Remote Extension");
}

// With the encoder chosen by the output format, the window names the encoder the batch will use,
// not the one picked by hand.
TEST_F(Commands, TheAutomaticEncoderIsTheOneNamed) {
    int flac = -1;
    for (int i = 0; i < 64 && flac < 0; ++i) {
        const char* option = GetPrefEnumText("overall.audio.format", i);
        if (!option || !*option) break;
        if (std::string(option) == "FLAC") flac = i;
    }
    ASSERT_GE(flac, 0);
    SetPrefInt("overall.audio.format", flac);
    SetPrefInt("overall.audio.encoder", 0);  // LAME picked by hand
    const std::string manual = GetPrefEnumText("overall.audio.encoder", 0);
    const std::string chosen = GetPrefEnumText("overall.audio.encoder", 17);
    ASSERT_NE(manual, chosen);
    auto summary = [&] {
        ui::SettingsChangedLevel = 1;
        ui::ApplyCountdown = 0;
        driver().Advance(250);
        auto texts = driver().StatusTexts(driver().Find(main, ui::dlg::main::status_bar));
        return texts.size() > 2 ? texts[2] : std::string();
    };
    struct Case {
        int automatic;
        const std::string& named;
    } cases[] = {{1, chosen}, {0, manual}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.automatic);
        SetPrefInt("overall.audio.autoEncoder", c.automatic);
        int id = -1;
        EXPECT_EQ(std::string(GetEncoderName(0, 0, -1, QueueGetItem(0), &id)), c.named);
        EXPECT_EQ(id, c.automatic ? 17 : 0);
        EXPECT_NE(summary().find(c.named), std::string::npos) << summary();
    }
}

TEST_F(Commands, UserInputAndFolderWatcherDialogs) {
    // The engine asks for an item's input with the item in place of the asking window; an item the
    // queue does not hold opens nothing. (The dialog itself, which plays the item, is driven in the
    // small dialogs' tests.)
    bool opened = false;
    driver().OnModal(ui::dlg::userinput::id, [&opened](Driver& d, gui::HWND dlg) {
        opened = true;
        d.Click(d.Find(dlg, gui::IDOK));
    });
    QueueItem* stranger = QueueNewItem(run.files().write("d.mp3", "x").c_str());
    gui::SendMessageA(main, gui::WM_APP, reinterpret_cast<gui::WPARAM>(stranger), reinterpret_cast<gui::LPARAM>("user_input"));
    EXPECT_FALSE(opened);
    QueueFreeItem(stranger);

    // The watch-folder entry opens the editor; what it saves is watched.
    const std::string folder = run.files().file("watched");
    driver().OnModal(ui::dlg::folderwatch::id, [folder](Driver& d, gui::HWND dlg) {
        d.SetTextAsUser(d.Find(dlg, 1090), folder);
        d.Click(d.Find(dlg, 1065));
        d.Click(d.Find(dlg, gui::IDCANCEL));
    });
    Choose(40377);
    EXPECT_NE(std::string(GetPrefString("overall.automation.watchFolders")).find(folder), std::string::npos);
}

// "play" on a file the real player cannot open, looped (by the player's own configuration), so
// the player never answers: the command returns while the player starts; "play" again stops it;
// left alone, the start limit ends it. The player's process group is gone each time.
TEST_F(Commands, PlayCommandsNeverWaitForThePlayer) {
    run.files().write("mplayer/config", "ao=null\nvo=null\nloop=0\n");
    setenv("MPLAYER_HOME", run.files().file("mplayer").c_str(), 1);
    std::string noise(20000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919u) >> 3);
    QueueItem* item = QueueGetItem(0);
    ASSERT_NE(item, nullptr);
    run.files().write("a.mp3", noise);
    item->flags |= kItemFlagHasStreams;  // nothing to probe
    CPreviewPlayer& player = GetPreviewPlayer();
    player.startLimitMs = 3000;
    auto groupEnds = [](pid_t pid) {
        const auto start = std::chrono::steady_clock::now();
        while (kill(-pid, 0) == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return kill(-pid, 0) == -1 && errno == ESRCH;
    };

    for (bool stopByUser : {true, false}) {
        SCOPED_TRACE(stopByUser ? "stopped by play" : "ended by the start limit");
        Send("play");
        EXPECT_NE(player.file.find("a.mp3"), std::string::npos);
        EXPECT_TRUE(player.Starting());
        EXPECT_EQ(GetPlayerInfo(1), kPlayerPlaying);
        const pid_t pid = static_cast<pid_t>(player.process.processId);
        ASSERT_GT(pid, 0);
        if (stopByUser) {
            Send("play");
            EXPECT_EQ(GetPlayerInfo(1), kPlayerStopped);
        } else {
            EXPECT_TRUE(driver().PumpUntil([] { return GetPlayerInfo(1) == kPlayerStopped; }, 15000));
        }
        EXPECT_TRUE(groupEnds(pid));
    }
    player.startLimitMs = kPlayerStartLimitMs;
    unsetenv("MPLAYER_HOME");
}

TEST_F(Commands, PresetsAndQueuesGoToFilesAndComeBack) {
    const std::string preset = run.files().file("mine");
    SetPrefInt("videofilter.crop.mode", 2);
    driver().OnFileDialog([&](const gui::FileDialogRequest& r) -> std::optional<std::vector<std::string>> {
        return std::vector<std::string>{r.save ? preset : preset + ".xml"};
    });
    Choose(40075);  // save preset: ".xml" added
    ASSERT_FALSE(sqtest::ReadFile(preset + ".xml").empty());
    SetPrefInt("videofilter.crop.mode", 3);
    Choose(40074);  // load preset
    EXPECT_EQ(GetPrefInt("videofilter.crop.mode"), 2);

    // A preset that cannot be read brings the user's own settings back, not the defaults.
    const std::string broken = run.files().write("broken.xml", "<not a preset");
    SetPrefInt("videofilter.crop.mode", 3);
    Choose(40107);  // save settings as the user's
    driver().OnFileDialog([&](const gui::FileDialogRequest&) { return std::vector<std::string>{broken}; });
    Choose(40074);
    EXPECT_EQ(GetPrefInt("videofilter.crop.mode"), 3);

    const std::string queue = run.files().file("q.xml");
    driver().OnFileDialog([&](const gui::FileDialogRequest&) { return std::vector<std::string>{queue}; });
    Choose(40095);
    Choose(40112);
    ASSERT_EQ(QueueCount(), 0);
    Choose(40094);
    EXPECT_EQ(run.column(ui::kColName), (std::vector<std::string>{"a.mp3", "b.mp3", "c.mp3"}));
    EXPECT_EQ(Status(), "Queue loaded");
}

TEST_F(Commands, AcceleratorsReachTheirCommands) {
    struct Case {
        UINT vk;
        unsigned mods;
        std::vector<std::string> names;
    } cases[] = {
        {'A', gui::testing::kCtrl, {"a.mp3", "b.mp3", "c.mp3"}},              // select all
        {'G', gui::testing::kCtrl, {"a.mp3", "b.mp3", "c.mp3"}},              // group
        {gui::VK_DELETE, gui::testing::kCtrl, {}},                              // remove all
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(driver().Key(c.vk, c.mods));
        driver().Pump([](gui::MSG& m) {
            return gui::TranslateAcceleratorA(ui::Shell().mainHwnd.load(), ui::Shell().accelerators, &m) != 0;
        });
        EXPECT_EQ(run.column(ui::kColName), c.names) << c.vk;
    }
}

TEST_F(Commands, TextCommandsByWord) {
    Send("karaoke true");
    EXPECT_EQ(GetPrefInt("overall.audio.karaoke"), 1);
    Send("karaoke TRUE");
    EXPECT_EQ(GetPrefInt("overall.audio.karaoke"), 0);

    // Words that change nothing here raise no prompt (an unscripted one fails the test).
    for (const char* quiet : {"stop_transcode now", "stop", "load_ui /no/such/preset.xml",
                              "refresh_rss 2", "close_web", "seek", "stop_play"})
        Send(quiet);

    // "set_time" and "show time" open the time tab in the popup over the main window.
    for (const char* word : {"set_time", "show time"}) {
        Send(word);
        ASSERT_NE(ui::PopupTab(), nullptr) << word;
        EXPECT_EQ(ui::PopupTab()->TemplateId(), ui::dlg::opt_time::id) << word;
        EXPECT_FALSE(driver().Enabled(ui::Shell().mainHwnd.load())) << word;
        ui::ClosePopup();
        EXPECT_TRUE(driver().Enabled(ui::Shell().mainHwnd.load())) << word;
    }

    // Words are compared exactly: "Stop" is no command.
    std::string prompt;
    ExpectPrompt(&prompt);
    Send("Stop");
    EXPECT_FALSE(prompt.empty());

    // "load_ui" loads a preset over the defaults.
    SetPrefInt("videofilter.crop.mode", 1);
    const std::string preset = run.files().write(
        "p.xml", "<?xml version=\"1.0\"?><QuorvexPrefs><node key=\"videofilter.crop.mode\">3</node></QuorvexPrefs>");
    Send(("load_ui " + preset).c_str());
    EXPECT_EQ(GetPrefInt("videofilter.crop.mode"), 3);

    // "add_dirs" asks for a folder and adds its files with their subfolders.
    SetPrefString("overall.generic.fileTypes", "flac");
    run.files().write("tree/x.flac", "x");
    run.files().write("tree/deep/y.flac", "x");
    const std::string tree = run.files().file("tree");
    driver().OnFolderDialog([tree](const gui::FileDialogRequest&) { return tree; });
    Send("add_dirs");
    ui::FileList().WaitFolderAdd();
    EXPECT_EQ(QueueCount(), 5);
}

TEST(SeekArgument, SignsAndBlanksChooseTheMode) {
    struct Case {
        const char* arg;
        bool ok;
        float value;
        int mode;
    } cases[] = {
        {"+10", true, 10, 0}, {" 10", true, 10, 0}, {"-10", true, -10, 0}, {"10", true, 10, 2},
        {"2.5", true, 2.5f, 2}, {"", false, 0, 0},  {"abc", false, 0, 0},  {"+", false, 0, 0},
        {"nan", false, 0, 0},
    };
    for (const Case& c : cases) {
        float value = 0;
        int mode = -1;
        EXPECT_EQ(ui::ParseSeekArgument(c.arg, &value, &mode), c.ok) << c.arg;
        if (!c.ok) continue;
        EXPECT_EQ(value, c.value) << c.arg;
        EXPECT_EQ(mode, c.mode) << c.arg;
    }
}

}  // namespace
