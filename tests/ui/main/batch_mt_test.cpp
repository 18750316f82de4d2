// The batch starter and the end of a batch: how many workers start, that the last one ends the
// batch exactly once, and the shutdown notice with the after-batch action.
#include "ui/main/batch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_api.h"
#include "engine/jobs/audiotask.h"
#include "engine/queue/queue.h"
#include "platform/power/power.h"
#include "support/shell_run.h"
#include "ui/dialogs/prompt.h"
#include "ui/dialogs/stats.h"
#include "ui/main/main_window.h"
#include "ui/main/shell.h"

namespace {

using gui::testing::Driver;

class RecordingPower : public platform::PowerControl {
public:
    bool Request(platform::PowerAction action, std::string*) override {
        std::lock_guard lk(lock);
        actions.push_back(action);
        return true;
    }
    std::vector<platform::PowerAction> Actions() {
        std::lock_guard lk(lock);
        return actions;
    }
    std::mutex lock;
    std::vector<platform::PowerAction> actions;
};

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(run.Start(""), 0);
        platform::SetPowerControl(&power);
        SetPrefString("overall.task.destdir", "");
        ui::SetBatchRunner([this](int slot) {
            slots.fetch_add(1);
            maxSlot.store(std::max(maxSlot.load(), slot));
            return result.load();
        });
    }
    void TearDown() override {
        EXPECT_NE(ui::WaitWorkerThreads(10000), 0);
        ui::SetBatchRunner(nullptr);
        platform::SetPowerControl(nullptr);
        ui::CDlgPrompt::SetAnswerAtOnce(false);
    }

    void Fill(int items, uint32_t state = kItemReady) {
        QueueClear();
        for (int i = 0; i < items; ++i) {
            QueueItem* item = QueueNewItem(("/in/" + std::to_string(i) + ".flac").c_str());
            item->state = state;
            ASSERT_EQ(QueueAppend(item), 0);
        }
    }
    // Starts a batch and waits (serving the workers' calls) until every worker has ended.
    int StartAndWait() {
        slots = 0;
        const int started = ui::StartTranscoding();
        if (started == 0) {
            EXPECT_EQ(ui::WaitWorkerThreads(20000), 1);
        }
        return started;
    }

    sqtest::ShellRun run;
    RecordingPower power;
    std::atomic<int> slots{0}, maxSlot{-1}, result{kItemDone};
};

TEST_F(Batch, WorkerCountFollowsParallelJobsAndReadyItems) {
    struct Case {
        int parallelize, ready, workers;
    } cases[] = {{4, 2, 2}, {12, 20, 8}, {0, 3, 1}, {-3, 3, 1}, {3, 3, 3}};
    for (const Case& c : cases) {
        Fill(c.ready);
        SetPrefInt("overall.task.parallelize", c.parallelize);
        ASSERT_EQ(StartAndWait(), 0);
        EXPECT_EQ(slots.load(), c.workers) << c.parallelize << " with " << c.ready;
    }
}

// A batch whose workers have all ended is idle at once, though their threads wait to be joined.
TEST_F(Batch, WorkersThatEndedAreNotCountedBeforeTheyAreJoined) {
    Fill(3);
    SetPrefInt("overall.task.parallelize", 3);
    ASSERT_EQ(ui::StartTranscoding(), 0);
    EXPECT_TRUE(run.driver().PumpUntil([] { return ui::WorkerCount() == 0; }, 20000));
    EXPECT_EQ(slots.load(), 3);
    EXPECT_EQ(ui::WaitWorkerThreads(20000), 1);  // they were still in the table
    EXPECT_EQ(ui::WaitWorkerThreads(0), -1);
}

TEST_F(Batch, TheLastWorkerEndsEachBatchOnce) {
    // Workers that return at once: the notice is answered by its default (1) and the action asked.
    ui::CDlgPrompt::SetAnswerAtOnce(true);
    ui::Shell().afterBatchAction = 1;
    SetPrefInt("overall.task.parallelize", 3);
    for (int round = 0; round < 40; ++round) {
        Fill(3);
        ASSERT_EQ(StartAndWait(), 0);
    }
    const auto actions = power.Actions();
    EXPECT_EQ(actions.size(), 40u);
    for (auto a : actions) EXPECT_EQ(a, platform::PowerAction::PowerOff);
}

TEST_F(Batch, AStoppedBatchRunsNoAfterBatchAction) {
    ui::Shell().afterBatchAction = 4;
    result = kItemStopping;
    Fill(2);
    ASSERT_EQ(StartAndWait(), 0);
    EXPECT_TRUE(power.Actions().empty());
    EXPECT_FALSE(run.driver().QuitSeen());
}

TEST_F(Batch, NoticeLeftAloneRunsTheActionAndQuitsWithTheUnfinishedCount) {
    ui::Shell().afterBatchAction = 4;
    run.driver().LeaveAlone(ui::dlg::prompt::id);
    Fill(2);
    QueueGetItem(0)->state = kItemDone;  // the fake worker leaves the other one unfinished
    ASSERT_EQ(StartAndWait(), 0);
    ASSERT_EQ(power.Actions().size(), 1u);
    EXPECT_EQ(power.Actions()[0], platform::PowerAction::Reboot);
    run.driver().Pump();
    int code = -1;
    EXPECT_TRUE(run.driver().QuitSeen(&code));
    EXPECT_EQ(code, 1);
}

TEST_F(Batch, ExitOptionQuitsAndOnlyAChosenActionIsAnnounced) {
    // "exit" alone: nothing will be carried out, so no notice says so; with an action the notice
    // shows and cancelling it still closes the program without the action.
    struct Case {
        int action;
        int notices;
    } cases[] = {{4, 1}, {0, 0}};
    int notices = 0;
    for (const Case& c : cases) {
        ui::Shell().exitFlag = true;
        ui::Shell().afterBatchAction = c.action;
        notices = 0;
        run.driver().OnModal(ui::dlg::prompt::id, [&notices](Driver& d, gui::HWND dlg) {
            ++notices;
            d.Click(d.Find(dlg, gui::IDCANCEL));
        });
        Fill(1);
        QueueGetItem(0)->state = kItemReady;
        ASSERT_EQ(StartAndWait(), 0);
        EXPECT_EQ(notices, c.notices) << c.action;
        EXPECT_TRUE(power.Actions().empty()) << c.action;
        run.driver().Pump();
        EXPECT_TRUE(run.driver().QuitSeen()) << c.action;
    }
}

TEST_F(Batch, WithNothingReadyTheUserDecidesWhetherToRunAgain) {
    Fill(2, kItemDone);
    // Declined: the queue stays as it is and nothing starts.
    ui::Shell().options.assume = 2;
    run.driver().OnModal(ui::dlg::prompt::id, [](Driver& d, gui::HWND dlg) {
        EXPECT_EQ(d.Text(d.Find(dlg, 1244)), "There is nothing to transcode.");
        d.Click(d.Find(dlg, gui::IDOK));
    });
    EXPECT_EQ(StartAndWait(), -1);
    EXPECT_EQ(slots.load(), 0);
    EXPECT_EQ(QueueGetItem(0)->state.load(), kItemDone);
    // Accepted: every item is ready again and one worker runs.
    ui::Shell().options.assume = 1;
    SetPrefInt("overall.task.parallelize", 4);
    EXPECT_EQ(StartAndWait(), 0);
    EXPECT_EQ(slots.load(), 1);
    EXPECT_EQ(QueueGetItem(1)->state.load(), kItemReady);
}

// While the second of three items is half done (the first done, the third waiting), the main
// window's bars show the item's 50 % and the queue's (100 + 50 + 0) / 3 = 50 %; the statistics
// window follows the batch (opened at its start, closed at its end) unless it is hidden.
TEST_F(Batch, BarsAndStatisticsWindowFollowTheRunningBatch) {
    const gui::HWND main = ui::Shell().mainHwnd.load();
    auto bar = [&](int id) {
        return static_cast<int>(gui::SendMessageA(gui::GetDlgItem(main, id), gui::PBM_GETPOS, 0, 0));
    };
    struct Case {
        int hidden;           // "overall.ui.stats"
        bool statsWhileRunning;
    } cases[] = {{0, true}, {1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hidden);
        SetPrefInt("overall.ui.stats", c.hidden);
        SetPrefInt("overall.task.parallelize", 1);
        Fill(3);
        std::atomic<bool> halfway{false}, seen{false};
        AudioTask task;
        // The worker: the first item done, the second half way and held there until the window
        // has been looked at, then the rest done.
        ui::SetBatchRunner([&](int) {
            QueueGetItem(0)->state = kItemDone;
            QueueItem* second = QueueGetItem(1);
            second->run.totalLength = 1000;
            second->run.position = 500;
            second->run.progress = 50.0f;
            second->run.pass = 1;
            second->run.passCount = 1;
            second->state = kItemEncoding;
            second->audioTask = &task;
            halfway = true;
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!seen.load() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            second->audioTask = nullptr;
            second->state = kItemDone;
            QueueGetItem(2)->state = kItemDone;
            return static_cast<int>(kItemDone);
        });
        ASSERT_EQ(ui::StartTranscoding(), 0);
        bool statsSeen = false;
        int item = -1, summary = -1;
        // The main window's 250 ms timer shows the running job.
        for (int step = 0; step < 400 && !(halfway && item == 50 && summary == 50); ++step) {
            run.driver().Advance(250);
            run.driver().PumpUntil([] { return false; }, 10);
            item = bar(ui::dlg::main::item_progress);
            summary = bar(ui::dlg::main::overall_progress);
            statsSeen |= ui::StatsWindow().Handle() != nullptr && gui::IsWindowVisible(ui::StatsWindow().Handle());
        }
        seen = true;
        EXPECT_EQ(item, 50);
        EXPECT_EQ(summary, 50) << "the summary bar must be the queue's progress";
        EXPECT_EQ(statsSeen, c.statsWhileRunning);
        ASSERT_EQ(ui::WaitWorkerThreads(20000), 1);
        run.driver().Pump();
        EXPECT_EQ(ui::StatsWindow().Handle(), nullptr) << "the statistics window stays after the batch";
    }
}

TEST_F(Batch, EmptyQueueAndMissingDestinationRefuseTheBatch) {
    QueueClear();
    run.driver().OnModal(ui::dlg::prompt::id, [](Driver& d, gui::HWND dlg) {
        EXPECT_EQ(d.Text(d.Find(dlg, 1244)), "There is no file in the list. Please add files first.");
        d.Click(d.Find(dlg, gui::IDOK));
    });
    EXPECT_EQ(StartAndWait(), -1);

    Fill(1);
    SetPrefString("overall.task.destdir", run.files().file("missing/").c_str());
    SetPrefInt("overall.automation.autoCreateDir", 0);
    run.driver().OnModal(ui::dlg::prompt::id, [](Driver& d, gui::HWND dlg) { d.Click(d.Find(dlg, gui::IDOK)); });
    run.driver().OnFolderDialog([](const gui::FileDialogRequest&) -> std::optional<std::string> { return std::nullopt; });
    EXPECT_EQ(StartAndWait(), -1);
    EXPECT_EQ(slots.load(), 0);
}

}  // namespace
