// The event handler's table: each event code, the answer given, and what the window shows.
#include "ui/main/engine_events.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "support/program_window_fixture.h"
#include "support/shell_run.h"
#include "support/tempdir.h"
#include "ui/framework/dialog.h"
#include "ui/dialogs/prompt.h"
#include "ui/main/main_window.h"
#include "ui/main/window_services.h"
#include "ui/main/shell.h"

namespace {

using gui::testing::BoxRecord;
using gui::testing::Driver;
using ui::EngineEventCallback;

intptr_t Data(const char* text) { return reinterpret_cast<intptr_t>(text); }

class EngineEvents : public sqtest::ProgramWindowTest {
protected:
    std::string Status(int part) {
        auto texts = driver().StatusTexts(driver().Find(main, ui::dlg::main::status_bar));
        return part < static_cast<int>(texts.size()) ? texts[part] : "";
    }

};

TEST_F(EngineEvents, CodesWithoutMeaningAnswerOneAndShowNothing) {
    for (int code : {0, 28, -1, 11, 22, 23, 99}) EXPECT_EQ(EngineEventCallback(code, 0, 0), 1) << code;
    EXPECT_TRUE(driver().Boxes().empty());
}

TEST_F(EngineEvents, AssumeOptionAnswersWithoutAsking) {
    struct Case {
        int code;
        const char* assume;
        int answer;
    } cases[] = {{5, "yes", 6}, {5, "NO", 7}, {5, "cancel", 2}, {6, "yes", 1}, {6, "no", 0},
                 {8, "yes", 1}, {8, "no", 0}, {8, "cancel", 0}};
    for (const Case& c : cases) {
        ui::Shell().options.assume = 0;
        ui::ParseCommandLine((std::string("-assume ") + c.assume).c_str(), 0);
        EXPECT_EQ(EngineEventCallback(c.code, Data("Go on?"), 0), c.answer) << c.code << " " << c.assume;
    }
    // Unscripted boxes or prompts would have failed the test through the driver.
    EXPECT_TRUE(driver().Boxes().empty());
}

TEST_F(EngineEvents, QuestionsAreAskedThroughBoxAndPrompt) {
    driver().ExpectBox([](const BoxRecord& b) { return b.text == "Overwrite?" && b.caption == "Confirm"; }, gui::IDYES);
    EXPECT_EQ(EngineEventCallback(5, Data("Overwrite?"), 0), gui::IDYES);

    // A question with the check box: ticked and answered yes gives 1 + 16.
    driver().OnModal(ui::dlg::prompt::id, [](Driver& d, gui::HWND dlg) {
        EXPECT_TRUE(d.Visible(d.Find(dlg, 1243)));
        d.Click(d.Find(dlg, 1243));
        d.Click(d.Find(dlg, gui::IDOK));
    });
    EXPECT_EQ(EngineEventCallback(7, Data("Revert?"), 0), 17);

    // A confirmation answered with Cancel.
    driver().OnModal(ui::dlg::prompt::id, [](Driver& d, gui::HWND dlg) {
        EXPECT_EQ(d.Text(d.Find(dlg, gui::IDCANCEL)), "Cancel");
        d.Click(d.Find(dlg, gui::IDCANCEL));
    });
    EXPECT_EQ(EngineEventCallback(8, Data("Continue?"), 0), 0);
}

TEST_F(EngineEvents, QuestionLeftAloneAnswersNoWhenItsCountDownRunsOut) {
    driver().LeaveAlone(ui::dlg::prompt::id);
    const uint64_t before = driver().Now();
    EXPECT_EQ(EngineEventCallback(6, Data("Replace?"), 0), 0);
    EXPECT_GE(driver().Now() - before, 30000u) << "the 30 s count-down of the shipped settings";
}

TEST_F(EngineEvents, WindowShowsTitleStatusLogAndExpertText) {
    const std::string caption = ui::Shell().caption;
    EXPECT_EQ(caption, "Sonquill x64 1.0.0.1000");
    EXPECT_EQ(EngineEventCallback(12, Data("Preprocessing"), 0), 0);
    EXPECT_EQ(driver().Text(main), caption + " - Preprocessing");
    EngineEventCallback(12, 0, 0);
    EXPECT_EQ(driver().Text(main), caption);

    EngineEventCallback(13, 0, reinterpret_cast<int64_t>("3 queued"));
    EXPECT_EQ(Status(0), "3 queued");
    EngineEventCallback(13, kItemPaused, 0);
    EXPECT_EQ(Status(0), "Paused");

    EngineEventCallback(10, Data("first line"), 0);
    EngineEventCallback(10, Data("second line"), 0);
    EXPECT_NE(driver().Text(driver().Find(main, ui::dlg::main::log)).find("first line\r\nsecond line"), std::string::npos);

    EngineEventCallback(14, 2, 5);
    EXPECT_EQ(ui::SettingsChangedLevel.load(), 2);
    EXPECT_EQ(ui::ApplyCountdown.load(), 5);

    SetPrefInt("overall.ui.expertView", 4);
    EngineEventCallback(16, Data("-af volume"), 0);
    EXPECT_EQ(driver().Text(driver().Find(main, ui::dlg::main::expert_pane)), "-af volume");
}

TEST_F(EngineEvents, LogIsTrimmedAtTheFirstLineBreakPastTheCut) {
    std::string log(17000, 'x');
    log[300] = '\r';
    ui::AppendLogLine(log, "new");
    EXPECT_EQ(log.size(), 17000u - 300 + 2 + 3);
    EXPECT_EQ(log.substr(log.size() - 5), "\r\nnew");

    std::string noBreak(17000, 'x');
    noBreak[100] = '\r';  // before the cut: not used
    ui::AppendLogLine(noBreak, "new");
    EXPECT_EQ(noBreak, "new");
}

TEST_F(EngineEvents, JobsEndingInOneSecondShowOneBalloon) {
    ASSERT_EQ(ui::Shell().mainWindow->TrayConfig(), 1);
    QueueItem* a = QueueNewItem("/music/a.flac");
    QueueItem* b = QueueNewItem("/music/b.flac");
    ASSERT_EQ(QueueAppend(a), 0);
    ASSERT_EQ(QueueAppend(b), 0);
    a->state = kItemDone;
    b->state = kItemDone;
    EngineEventCallback(19, 0, 0);
    EngineEventCallback(18, reinterpret_cast<intptr_t>(a), 0);
    EngineEventCallback(18, reinterpret_cast<intptr_t>(b), 1);
    auto tray = driver().Tray();
    ASSERT_EQ(tray.size(), 1u);
    ASSERT_EQ(tray[0].balloons.size(), 1u);
    EXPECT_EQ(tray[0].balloons[0].first, "Job done #0");
    EXPECT_EQ(tray[0].balloons[0].second, "/music/a.flac");
    driver().Advance(1000);
    EngineEventCallback(18, reinterpret_cast<intptr_t>(b), 1);
    ASSERT_EQ(driver().Tray()[0].balloons.size(), 2u);
    EXPECT_EQ(driver().Tray()[0].balloons[1].first, "Job done #2");
    EXPECT_EQ(ui::GetBatchCounters().jobsDone, 3);
}

TEST_F(EngineEvents, JobWithAMissingPresetReportsItAndKeepsTheUserSettings) {
    SetPrefInt("overall.httpd.port", 1234);  // prefs.xml holds 0
    QueueItem* item = QueueNewItem("/music/a.flac");
    ASSERT_EQ(QueueAppend(item), 0);
    const std::string preset = run.files().file("gone.xml");
    item->preset = strdup(preset.c_str());
    driver().OnModal(ui::dlg::prompt::id, [&](Driver& d, gui::HWND dlg) {
        EXPECT_EQ(d.Text(d.Find(dlg, 1244)), "Unable to load " + preset);
        d.Click(d.Find(dlg, gui::IDOK));
    });
    EXPECT_EQ(EngineEventCallback(17, reinterpret_cast<intptr_t>(item), 0), 0);
    EXPECT_EQ(Status(2), "/music/a.flac");
    EXPECT_EQ(ui::CurrentListItem(), item);
    EXPECT_FALSE(ui::GetBatchCounters().presetLoaded);
    EXPECT_EQ(GetPrefInt("overall.httpd.port"), 0) << "the user's settings are loaded again";
    EXPECT_EQ(ui::SettingsChangedLevel.load(), 3);
}

// A job's start and its end are in the queue file when their events return: a restart after a
// crash learns from it what was under way, and what ended (an ended job's final output must not
// look like one cut off).
TEST_F(EngineEvents, JobStartAndEndAreSavedBeforeTheirEventsReturn) {
    SetPrefInt("overall.task.saveQueue", 1);
    QueueItem* item = QueueNewItem("/music/a.flac");
    ASSERT_EQ(QueueAppend(item), 0);
    const std::string file = ui::GetDataPath("queue.xml");
    auto savedState = [&] {
        const std::string text = sqtest::ReadFile(file);
        const size_t at = text.find("<state>");
        return at == std::string::npos ? std::string() : text.substr(at + 7, text.find('<', at + 7) - at - 7);
    };
    item->state = kItemEncoding;
    EXPECT_EQ(EngineEventCallback(17, reinterpret_cast<intptr_t>(item), 0), 0);
    EXPECT_EQ(savedState(), std::to_string(kItemEncoding));
    item->state = kItemDone;
    EXPECT_EQ(EngineEventCallback(18, reinterpret_cast<intptr_t>(item), 0), 0);
    EXPECT_EQ(savedState(), std::to_string(kItemDone));
}

}  // namespace
