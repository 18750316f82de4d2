// The UI modes chosen from the menus as a user chooses them: simple, normal and expert change the
// main window in place (its panes and the menu's marks); the drop-box mode ends the window and the
// window cycle builds the drop box, whose menu leads back. Files dropped on the drop box are
// converted when the user agrees.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_api.h"
#include "engine/jobs/jobdriver.h"
#include "engine/queue/queue.h"
#include "support/program_window_fixture.h"
#include "support/shell_run.h"
#include "ui/dialogs/prompt.h"
#include "ui/dialogs/urldialog.h"
#include "ui/filelist/file_list.h"
#include "ui/main/batch.h"
#include "ui/main/main_window.h"
#include "ui/main/shell.h"
#include "ui/options/options_pane.h"

namespace {

using gui::UINT;
using gui::testing::BoxRecord;
using gui::testing::Driver;

class UiModes : public sqtest::ProgramWindowTest {
protected:
    bool Visible(gui::HWND h) { return h && driver().Visible(h); }
    bool Marked(UINT id) { return gui::GetMenuState(gui::GetMenu(main), id, gui::MF_BYCOMMAND) & gui::MF_CHECKED; }
    int Height() {
        const gui::RECT r = driver().Rect(main);
        return r.bottom - r.top;
    }
    // The window cycle's next pass, as the shell runs it after the message loop ended.
    bool NextCycle() {
        const bool quit = driver().QuitSeen();
        const bool rebuilt = ui::NextWindowCycle();
        main = ui::Shell().mainHwnd.load();
        driver().Pump();
        EXPECT_TRUE(quit);
        EXPECT_TRUE(rebuilt);
        return quit && rebuilt && main;
    }
    void ToDropBox() {
        Choose(40232);
        ASSERT_TRUE(NextCycle());
        ASSERT_EQ(driver().TemplateOf(main), ui::dlg::dropbox::id);
    }
    std::string Tone(const std::string& name, int seconds) {
        const std::string path = run.files().file(name);
        const std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=" +
                                std::to_string(seconds) + " -ac 2 '" + path + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return path;
    }
    void OutputFolder() {
        SetPrefString("overall.task.destdir", run.files().file("out").c_str());
        std::filesystem::create_directories(run.files().file("out"));
    }

};

TEST_F(UiModes, SimpleNormalAndExpertChangeTheWindowInPlace) {
    struct Case {
        UINT id;
        int mode;
        bool options;  // the options pane
        bool expert;   // the expert pane
    };
    const Case cases[] = {
        {40203, 0, false, false}, {40177, 2, true, true}, {40176, 1, true, false},
        {40203, 0, false, false}, {40176, 1, true, false},
    };
    const int height = Height();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        Choose(c.id);
        EXPECT_EQ(GetPrefInt("overall.ui.mode"), c.mode);
        EXPECT_EQ(ui::Shell().mainHwnd.load(), main) << "the same window";
        EXPECT_FALSE(driver().QuitSeen());
        EXPECT_EQ(Visible(ui::OptionsPane()->Handle()), c.options);
        EXPECT_EQ(Visible(driver().Find(main, ui::dlg::main::expert_pane)), c.expert);
        EXPECT_EQ(Visible(driver().Find(main, ui::dlg::main::task_mode)), c.mode != 0);
        EXPECT_TRUE(Visible(driver().Find(main, ui::dlg::main::log)));
        for (int m = 0; m < 3; ++m) EXPECT_EQ(Marked(ui::kUiModeCommands[m]), m == c.mode) << m;
        // The window keeps its size; without the options pane the log takes the whole width.
        EXPECT_EQ(Height(), height);
        const gui::RECT log = driver().Rect(driver().Find(main, ui::dlg::main::log));
        gui::RECT client{};
        gui::GetClientRect(main, &client);
        if (c.options) EXPECT_LE(log.right, driver().Rect(ui::OptionsPane()->Handle()).left);
        else EXPECT_GT(log.right - log.left, client.right * 3 / 4);
    }
    // Expert: the log and the expert view share the log's place without overlapping.
    Choose(40177);
    const gui::RECT log = driver().Rect(driver().Find(main, ui::dlg::main::log));
    const gui::RECT expert = driver().Rect(driver().Find(main, ui::dlg::main::expert_pane));
    EXPECT_LE(log.bottom, expert.top);
}

// The saved size comes back, cut to the work area (1920 x 1040 here) when it was saved on a
// larger screen; a size too small to use, or none, is the template's.
TEST(MainWindowPlacement, TheSavedSizeComesBackWithinTheWorkArea) {
    const struct {
        const char* saved;  // "" for none
        int width, height;  // 0: the template's
    } cases[] = {
        {"900,700,40,30", 900, 700},
        {"700,1343,40,30", 700, 1040},
        {"2600,1200,0,0", 1920, 1040},
        {"100,80,40,30", 0, 0},
        {"", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.saved);
        sqtest::ShellRun run(*c.saved ? std::string("<node key=\"overall.ui.param\">") + c.saved + "</node>" : "");
        ASSERT_EQ(run.Start(""), 0);
        const gui::RECT r = run.driver().Rect(ui::Shell().mainHwnd.load());
        if (c.width > 0) {
            EXPECT_EQ(r.right - r.left, c.width);
            EXPECT_EQ(r.bottom - r.top, c.height);
        } else {
            // The template's size, which holds the options at any common screen size.
            EXPECT_LE(r.right - r.left, 1024);
            EXPECT_LE(r.bottom - r.top, 768);
            EXPECT_GE(r.right - r.left, 200);
        }
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= 1920 && r.bottom <= 1040) << r.left << "," << r.top;
    }
}

TEST_F(UiModes, TheDropBoxIsBuiltByTheWindowCycleAndItsMenuLeadsBack) {
    for (const char* name : {"a.mp3", "b.mp3"}) ui::FileList().AddFile(run.files().write(name, "x"));
    ToDropBox();
    EXPECT_EQ(GetPrefInt("overall.ui.mode"), 3);
    EXPECT_EQ(QueueCount(), 2) << "the queue outlives the window";
    EXPECT_EQ(ui::FileList().Handle(), nullptr) << "the queue window waits for its menu entry";

    // The queue window shows the queue's rows.
    Choose(40379);
    ASSERT_NE(ui::FileList().Handle(), nullptr);
    EXPECT_EQ(driver().TemplateOf(ui::FileList().Handle()), ui::dlg::queue::id);
    EXPECT_TRUE(Visible(ui::FileList().Handle()));
    EXPECT_EQ(run.column(ui::kColName), (std::vector<std::string>{"a.mp3", "b.mp3"}));

    // The drop-box button's popup holds the way back.
    driver().OnPopupMenu([](const std::string& dump, gui::POINT) -> UINT {
        EXPECT_NE(dump.find("[40390]"), std::string::npos) << dump;
        return 40390;
    });
    ASSERT_TRUE(driver().Click(driver().Find(main, ui::dlg::dropbox::load_button)));
    driver().Pump();
    ASSERT_TRUE(NextCycle());
    EXPECT_EQ(driver().TemplateOf(main), ui::dlg::main::id);
    EXPECT_EQ(GetPrefInt("overall.ui.mode"), 1);
    EXPECT_TRUE(Marked(40176));
    EXPECT_EQ(run.column(ui::kColName), (std::vector<std::string>{"a.mp3", "b.mp3"}));

    // And the drop box's own menu entry switches as well, both ways.
    Choose(40390);
    ASSERT_TRUE(NextCycle());
    EXPECT_EQ(driver().TemplateOf(main), ui::dlg::dropbox::id);
    Choose(40390);
    ASSERT_TRUE(NextCycle());
    EXPECT_EQ(driver().TemplateOf(main), ui::dlg::main::id);
}

// The drop box has no file-list window until it is asked for; watched folders still add.
TEST_F(UiModes, TheDropBoxWatchesTheWatchedFolders) {
    const std::string in = run.files().file("in");
    std::filesystem::create_directories(in);
    SetPrefString("overall.automation.watchFolders", (in + "/*.wav").c_str());
    ToDropBox();
    ASSERT_EQ(ui::FileList().Handle(), nullptr);
    run.files().write("in/new.wav", "x");
    EXPECT_TRUE(driver().PumpUntil([] { return QueueCount() == 1; }, 10000));
}

TEST_F(UiModes, ADropBoxDescriptionIsKeptAndOpensTheDropBox) {
    struct Case {
        UINT id;
        std::optional<std::string> answer;  // none: cancelled
        bool fromUrl;
    };
    const std::string file = run.files().write("box.xml", "<dropbox/>");
    const Case cases[] = {
        {40388, std::nullopt, false},
        {40386, std::nullopt, true},
        {40388, file, false},
        {40386, std::string("http://example.invalid/box.xml"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const std::string before = ui::Shell().dropBoxDescription;
        if (c.fromUrl) {
            driver().OnModal(ui::dlg::url::id, [&c](Driver& d, gui::HWND dlg) {
                EXPECT_EQ(d.Text(d.Find(dlg, 1271)), "Dropbox URL");
                if (c.answer) d.SetTextAsUser(d.Find(dlg, 1090), *c.answer);
                d.Click(d.Find(dlg, c.answer ? gui::IDOK : gui::IDCANCEL));
            });
        } else {
            driver().OnFileDialog([&c](const gui::FileDialogRequest& r) -> std::optional<std::vector<std::string>> {
                EXPECT_EQ(r.filters.front().first, "DropBox XML File");
                if (!c.answer) return std::nullopt;
                return std::vector<std::string>{*c.answer};
            });
        }
        Choose(c.id);
        if (!c.answer) {
            EXPECT_EQ(ui::Shell().dropBoxDescription, before);
            EXPECT_NE(GetPrefInt("overall.ui.mode"), 3);
            EXPECT_FALSE(driver().QuitSeen());
            continue;
        }
        EXPECT_EQ(ui::Shell().dropBoxDescription, *c.answer);
        EXPECT_EQ(GetPrefInt("overall.ui.mode"), 3);
        ASSERT_TRUE(NextCycle());
        EXPECT_EQ(driver().TemplateOf(main), ui::dlg::dropbox::id);
        Choose(40390);
        ASSERT_TRUE(NextCycle());
    }
}

TEST_F(UiModes, FilesDroppedOnTheDropBoxStartWhenTheUserAgrees) {
    OutputFolder();
    const std::string tone = Tone("tone.flac", 1);
    // The notice at the batch's end is answered.
    driver().OnModal(ui::dlg::prompt::id, [](Driver& d, gui::HWND dlg) { d.Click(d.Find(dlg, gui::IDOK)); });

    // In the normal mode a drop only adds (an unexpected question would fail the test).
    driver().Drop(main, {tone});
    driver().Pump();
    EXPECT_EQ(QueueCount(), 1);
    EXPECT_EQ(ui::WorkerCount(), 0);
    EXPECT_EQ(QueueGetItem(0)->state.load(), kItemReady);
    ui::FileList().RemoveAll();

    ToDropBox();
    struct Case {
        int answer;
        bool started;
    };
    for (const Case c : {Case{gui::IDNO, false}, Case{gui::IDYES, true}}) {
        SCOPED_TRACE(c.answer);
        driver().ExpectBox([](const BoxRecord& b) { return b.text == "Start transcoding now?" && b.caption == "Confirm"; },
                           c.answer);
        driver().Drop(main, {tone});
        driver().Pump();
        ASSERT_EQ(QueueCount(), 1);
        QueueItem* item = QueueGetItem(0);
        if (!c.started) {
            EXPECT_EQ(ui::WorkerCount(), 0);
            EXPECT_EQ(item->state.load(), kItemReady);
            ui::FileList().RemoveAll();
            continue;
        }
        ASSERT_TRUE(driver().PumpUntil([&] { return item->state.load() == kItemDone && GetItemState(nullptr) == 0; }, 120000))
            << item->state.load();
        EXPECT_TRUE(std::filesystem::exists(run.files().file("out/tone.mp3")));
    }
    EXPECT_TRUE(driver().Boxes().size() >= 2);
    EXPECT_NE(ui::WaitWorkerThreads(10000), 0);
}

// A mode change while a job runs builds the new window without asking to exit and without
// stopping the job.
TEST_F(UiModes, AModeChangeDuringABatchKeepsTheJobRunning) {
    OutputFolder();
    ui::FileList().AddFile(Tone("long.flac", 300));
    QueueItem* item = QueueGetItem(0);
    ASSERT_NE(item, nullptr);
    std::vector<std::string> prompts;
    driver().OnModal(ui::dlg::prompt::id, [&prompts](Driver& d, gui::HWND dlg) {
        prompts.push_back(d.Text(d.Find(dlg, 1244)));
        d.Click(d.Find(dlg, gui::IDOK));
    });
    Choose(40006);
    ASSERT_TRUE(driver().PumpUntil([&] { return item->state.load() == kItemEncoding; }, 60000));

    ToDropBox();
    EXPECT_EQ(item->state.load(), kItemEncoding) << "the job was not stopped";
    EXPECT_TRUE(prompts.empty()) << prompts.front();
    EXPECT_TRUE(driver().Boxes().empty());

    StopItem(nullptr);
    ASSERT_TRUE(driver().PumpUntil([&] { return GetItemState(nullptr) == 0; }, 60000));
    EXPECT_NE(ui::WaitWorkerThreads(10000), 0);
}

}  // namespace
