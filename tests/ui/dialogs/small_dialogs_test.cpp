#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/fileutil.h"
#include "engine/engine_api.h"
#include "engine/prefs/preffiles.h"
#include "engine/queue/queue.h"
#include "platform/gui/gui_fixture.h"
#include "support/program_ui.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"
#include "support/wav_bytes.h"
#include "ui/dialogs/fileinfo.h"
#include "ui/dialogs/folderwatch.h"
#include "ui/dialogs/userinput.h"
#include "ui/dialogs/urldialog.h"

namespace {

using gui::HWND;

class SmallDialogs : public sqtest::GuiTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(sqtest::UseProgramDefinitionsAndUi());
    }
    void TearDown() override {
        drv.Pump();
        gui::SetResourceProvider(nullptr);
    }
};

TEST_F(SmallDialogs, TextEntryAnswersWhatWasTypedOrNothing) {
    struct Case {
        std::string typed;
        int button;
        std::optional<std::string> answer;
    };
    const std::string longText(600, 'x');
    const Case cases[] = {
        {"http://example.org/stream", 1, "http://example.org/stream"},
        {"typed then cancelled", 2, std::nullopt},
        {"", 1, std::nullopt},
        {longText, 1, std::string(511, 'x')},
    };
    for (const auto& c : cases) {
        std::string title, prompt;
        drv.OnModal(ui::dlg::url::id, [&](gui::testing::Driver& d, HWND h) {
            title = d.Text(h);
            prompt = d.Text(d.Find(h, 1271));
            d.SetTextAsUser(d.Find(h, 1090), c.typed);
            d.Click(d.Find(h, c.button));
        });
        EXPECT_EQ(ui::ShowUrlDialog(nullptr, "Add stream", "Address:"), c.answer) << c.typed.substr(0, 30);
        EXPECT_EQ(title, "Add stream");
        EXPECT_EQ(prompt, "Address:");
    }
}

TEST_F(SmallDialogs, MediaInformationShowsTheItemAndTheToolsText) {
    sqtest::TempDir dir;
    sqtest::WavSpec spec;
    spec.data = sqtest::Pcm16Ramp(44100 * 2);
    const std::string path = dir.write("tone.wav", sqtest::BuildWav(spec));
    QueueItem* item = QueueNewItem(path.c_str());
    SetStringField(&item->tagArtist, "Artist <&>");
    item->tagTrack = 4;
    item->begin = 250;
    item->end = 1250;
    HWND main = MakeWindow();

    ui::ShowFileInfo(nullptr, main);  // nothing to show: no window
    EXPECT_EQ(ui::FileInfoWindow().Handle(), nullptr);
    ui::ShowFileInfo(item, main);
    HWND h = ui::FileInfoWindow().Handle();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(drv.Text(drv.Find(h, 1090)), path);
    EXPECT_EQ(drv.Text(drv.Find(h, 1091)), "Artist <&>");
    EXPECT_EQ(drv.Text(drv.Find(h, 1094)), "4");
    EXPECT_EQ(drv.Text(drv.Find(h, 1099)), "250 ms");
    EXPECT_EQ(drv.Text(drv.Find(h, 1100)), "1000 ms");
    // The real media-information tool describes the file.
    EXPECT_NE(drv.Text(drv.Find(h, 1070)).find("Wave"), std::string::npos) << drv.Text(drv.Find(h, 1070));

    drv.Click(drv.Find(h, 2));
    drv.Pump();
    EXPECT_EQ(ui::FileInfoWindow().Handle(), nullptr);
    QueueFreeItem(item);
    gui::DestroyWindow(main);
}

// The watch-folder editor, driven step by step; after each step the setting holds the list.
TEST_F(SmallDialogs, WatchFolderEditorKeepsTheSettingInStep) {
    SetBrowseForPathHook([](const std::string& start, const char* title, void* owner, std::string& chosen) {
        auto folder = gui::BrowseForFolder(static_cast<HWND>(owner), title ? title : "", start);
        if (folder) chosen = *folder;
        return folder.has_value();
    });
    drv.OnFolderDialog([](const gui::FileDialogRequest&) { return std::optional<std::string>("/music/drop"); });
    const std::string longFolder = "/" + std::string(245, 'a');
    SetPrefString(ui::kWatchFoldersKey, "/in/*.mp3");

    enum Act { kType, kPattern, kPick, kBrowse, kAdd, kSelect, kRemove, kClear };
    struct Step {
        Act act;
        std::string arg;
        std::string setting;  // after the step
    };
    const Step steps[] = {
        {kType, "/music/in", "/in/*.mp3"},
        {kPick, "*.wav (", "/in/*.mp3"},
        {kAdd, "", "/in/*.mp3;/music/in/*.wav"},
        {kAdd, "", "/in/*.mp3;/music/in/*.wav"},  // never twice
        {kPattern, "", "/in/*.mp3;/music/in/*.wav"},
        {kAdd, "", "/in/*.mp3;/music/in/*.wav;/music/in/*.*"},
        {kBrowse, "", "/in/*.mp3;/music/in/*.wav;/music/in/*.*"},
        {kPattern, "*.flac", ""},
        {kAdd, "", "/in/*.mp3;/music/in/*.wav;/music/in/*.*;/music/drop/*.flac"},
        {kSelect, "0", ""},
        {kRemove, "", "/music/in/*.wav;/music/in/*.*;/music/drop/*.flac"},
        {kClear, "", ""},
        {kType, longFolder, ""},
        {kAdd, "", longFolder + "/*.flac"},
        {kType, longFolder + "b", ""},
        {kAdd, "", longFolder + "/*.flac;" + longFolder + "b/*.flac"},
        // A third entry does not fit the setting whole: it is left out, never cut short.
        {kType, "/short", ""},
        {kAdd, "", longFolder + "/*.flac;" + longFolder + "b/*.flac"},
    };
    std::vector<std::string> listed;
    drv.OnModal(ui::dlg::folderwatch::id, [&](gui::testing::Driver& d, HWND h) {
        HWND combo = d.Find(h, 1072);
        const auto patterns = d.Items(combo);
        ASSERT_FALSE(patterns.empty());
        EXPECT_EQ(patterns[0], "*.*");
        EXPECT_EQ(d.Items(d.Find(h, 1001)), std::vector<std::string>{"/in/*.mp3"});
        for (const auto& step : steps) {
            switch (step.act) {
            case kType: d.SetTextAsUser(d.Find(h, 1090), step.arg); break;
            case kPattern: d.SetTextAsUser(combo, step.arg); break;
            case kPick:
                for (size_t i = 0; i < patterns.size(); ++i) {
                    if (patterns[i].rfind(step.arg, 0) == 0) d.PickCombo(combo, static_cast<int>(i));
                }
                break;
            case kBrowse:
                d.Click(d.Find(h, 1078));
                EXPECT_EQ(d.Text(d.Find(h, 1090)).rfind("/music/drop", 0), 0u);
                break;
            case kAdd: d.Click(d.Find(h, 1065)); break;
            case kSelect: d.PickList(d.Find(h, 1001), std::stoi(step.arg)); break;
            case kRemove: d.Click(d.Find(h, 1024)); break;
            case kClear: d.Click(d.Find(h, 1028)); break;
            }
            if (step.act == kAdd || step.act == kRemove || step.act == kClear) {
                EXPECT_EQ(std::string(GetPrefString(ui::kWatchFoldersKey)), step.setting) << "step " << (&step - steps);
            }
        }
        listed = d.Items(d.Find(h, 1001));
        d.Click(d.Find(h, 2));
    });
    ui::ShowFolderWatcherDialog(nullptr);
    EXPECT_EQ(listed.size(), 3u);  // the list shows what the user added
    SetBrowseForPathHook(nullptr);
}

TEST_F(SmallDialogs, UserInputDialogPlaysTheItemAndTakesTheText) {
    sqtest::TempDir dir;
    sqtest::WavSpec spec;
    spec.data = sqtest::Pcm16Ramp(44100 / 2);
    const std::string path = dir.write("clip.wav", sqtest::BuildWav(spec));
    struct Case {
        bool withItem;  // the real player is asked to play the item's clip
        std::vector<int> buttons;
        std::string typed;
        std::string answer;
        int otherStateAfter;
    };
    const Case cases[] = {
        {true, {1105, 5, 1}, "7", "7", kItemEncoding},  // pause, restart, OK
        {false, {1}, "42", "42", kItemEncoding},
        {false, {2, 1}, "42", "0", kItemEncoding},      // cancel enters "0"; OK takes it
        {false, {1106}, "9", "9", kItemStopping},       // stops every running item, then as OK
        {false, {1}, "", "", kItemEncoding},
    };
    for (const auto& c : cases) {
        QueueItem* item = c.withItem ? QueueNewItem(path.c_str()) : nullptr;
        QueueItem* running = QueueNewItem(path.c_str());
        running->state = kItemEncoding;
        QueueAppend(running);
        gui::RECT videoRect{};
        drv.OnModal(ui::dlg::userinput::id, [&](gui::testing::Driver& d, HWND h) {
            HWND video = nullptr;
            gui::EnumChildWindows(
                h,
                [](HWND child, gui::LPARAM found) -> gui::BOOL {
                    char cls[64] = "";
                    gui::GetClassNameA(child, cls, sizeof cls);
                    if (std::string(cls) == ui::kVideoWindowClass) *reinterpret_cast<HWND*>(found) = child;
                    return 1;
                },
                reinterpret_cast<gui::LPARAM>(&video));
            ASSERT_NE(video, nullptr);
            gui::GetWindowRect(video, &videoRect);
            gui::ScreenToClient(h, reinterpret_cast<gui::POINT*>(&videoRect.left));
            EXPECT_EQ(gui::GetFocus(), d.Find(h, 1090));
            d.SetTextAsUser(d.Find(h, 1090), c.typed);
            for (int id : c.buttons) {
                d.Click(d.Find(h, id));
                if (gui::IsWindow(h)) {
                    EXPECT_EQ(gui::GetFocus(), d.Find(h, 1090));
                }
            }
        });
        EXPECT_EQ(ui::AskUserInput(nullptr, item), c.answer);
        if (item) {
            EXPECT_EQ(item->userInput ? std::string(item->userInput) : std::string(), c.answer);
        }
        EXPECT_EQ(videoRect.left, 0);
        EXPECT_EQ(videoRect.top, 30);
        EXPECT_EQ(running->state.load(), static_cast<uint32_t>(c.otherStateAfter));
        QueueRemove(running);
        QueueFreeItem(running);
        if (item) QueueFreeItem(item);
    }
}

TEST_F(SmallDialogs, VideoWindowIsDraggedOnlyWhileFloating) {
    HWND main = MakeWindow();
    struct Case {
        bool floating;
        gui::WPARAM keys;
        int dx, dy;  // the window's move
    };
    for (const Case c : {Case{true, gui::MK_LBUTTON, 30, -20}, Case{true, 0, 0, 0}, Case{false, gui::MK_LBUTTON, 0, 0}}) {
        ui::CVideoWindow video;
        video.floating = c.floating;
        ASSERT_NE(video.Create(main), nullptr);
        gui::MoveWindow(video.Handle(), 50, 60, 160, 120, 1);
        gui::RECT before{}, after{};
        gui::GetWindowRect(video.Handle(), &before);
        drv.Mouse(video.Handle(), gui::WM_MOUSEMOVE, 10, 10, c.keys);
        drv.Mouse(video.Handle(), gui::WM_MOUSEMOVE, 40, -10, c.keys);
        gui::GetWindowRect(video.Handle(), &after);
        EXPECT_EQ(after.left - before.left, c.dx) << c.floating << " " << c.keys;
        EXPECT_EQ(after.top - before.top, c.dy);
        EXPECT_EQ(after.right - after.left, 160);
        video.Close();
    }
    gui::DestroyWindow(main);
}

}  // namespace
