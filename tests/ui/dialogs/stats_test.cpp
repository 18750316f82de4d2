#include "ui/dialogs/stats.h"

#include <gtest/gtest.h>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/context.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/gui/gui_fixture.h"
#include "support/pty_pair.h"
#include "support/program_ui.h"
#include "support/shipped_data.h"

namespace {

using gui::HWND;

TEST(StatsTexts, RemainingTimeAndThroughput) {
    const std::pair<int, const char*> remaining[] = {{125, "2 mins"}, {61, "1 mins"}, {60, "60 secs"},
                                                     {45, "45 secs"}, {2, "2 secs"}, {1, ""}, {-5, ""}};
    for (const auto& [seconds, text] : remaining) {
        EXPECT_EQ(ui::RemainingTimeText(seconds, "mins", "secs"), text) << seconds;
    }
    const std::pair<int, const char*> throughput[] = {{512, "512MB/s"}, {10239, "10239MB/s"}, {10240, "10GB/s"},
                                                      {20480, "20GB/s"}};
    for (const auto& [value, text] : throughput) EXPECT_EQ(ui::ThroughputText(value), text) << value;
}

class StatsWindowTest : public sqtest::GuiTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(sqtest::UseProgramDefinitionsAndUi());
        const auto cwd = std::filesystem::current_path();
        std::filesystem::current_path(std::filesystem::path(sqtest::DataFile("lang.xml")).parent_path());
        ASSERT_EQ(ui::UiStrings().Load("lang.xml", "qxgui", 0, nullptr, 0), 0);
        std::filesystem::current_path(cwd);
        ASSERT_TRUE(display.ok());
        PrefStore& prefs = GetPrefStore();
        prefs.SetInt("overall.task.parallelize", 2);
        prefs.SetInt("overall.ui.serialDataMode", 1);
        prefs.SetString("overall.ui.serialPort", display.slaveName().c_str());
        prefs.SetInt("overall.ui.serialBaudRate", 38400);
        SetEngineContext(&ctx);
        main = MakeWindow();
        gui::MoveWindow(main, 100, 100, 400, 300, gui::TRUE);
    }
    void TearDown() override {
        for (QueueItem* item : items) {
            QueueRemove(item);
            QueueFreeItem(item);
        }
        if (ui::StatsWindow().Handle()) ui::StatsWindow().Close();
        gui::DestroyWindow(main);
        drv.Pump();
        SetEngineContext(nullptr);
        ui::UiStrings().Destroy();
        gui::SetResourceProvider(nullptr);
    }
    QueueItem* AddRunning(const char* path, float speed) {
        QueueItem* item = QueueNewItem(path);
        item->state = kItemEncoding;
        item->run.speed = speed;
        QueueAppend(item);
        items.push_back(item);
        return item;
    }
    HWND Item(int id) { return drv.Find(ui::StatsWindow().Handle(), id); }

    EngineContext ctx;
    HWND main = nullptr;
    sqtest::PtyPair display;  // the external display's end of the serial line
    std::vector<QueueItem*> items;
};

TEST_F(StatsWindowTest, FollowsTheBatchOnScreenAndOnTheDisplay) {
    ui::ShowStats(main);
    HWND h = ui::StatsWindow().Handle();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(drv.TemplateOf(h), ui::dlg::stats::id);
    EXPECT_EQ(drv.Rect(h).left, drv.Rect(main).right);  // docked at the main window's right edge
    EXPECT_TRUE(drv.Visible(Item(1066)));                // two parallel jobs: the sum is offered
    EXPECT_EQ(drv.Check(Item(1066)), 1);
    EXPECT_EQ(display.receive(4), (std::vector<uint8_t>{0x00, 0x10, 0x01, 0x00}));

    // Every job start opens the window again; the display keeps its one port.
    ui::ShowStats(main);
    ui::ShowStats(main);
    EXPECT_TRUE(ui::StatsWindow().SerialOpen());

    QueueItem* shown = AddRunning("/music/one.flac", 1.5f);
    AddRunning("/music/two.flac", 2.25f);
    shown->run.progress = 37.9f;
    shown->size = 5 * 1024;
    ctx.totalElapsedMs = 90000;
    ctx.remainingSeconds = 125;
    ctx.processedFiles = 3;
    ctx.runningWorkers = 2;
    ui::StatsWindow().SetFigureSource([](int kind) { return kind == 3 ? 2400 : kind == 4 ? 512 : 40; });
    ui::UpdateStatsPanel(shown);
    ui::UpdateBatchCounters();

    EXPECT_EQ(drv.Text(Item(1034)), "2 mins");
    EXPECT_EQ(drv.Text(Item(1048)), "3.75X");  // the sum over both running items
    EXPECT_EQ(drv.Text(Item(1045)), "5MB");
    EXPECT_EQ(drv.Text(Item(1037)), "01:30");
    EXPECT_EQ(drv.Text(Item(1052)), "2.40 Ghz");
    EXPECT_EQ(drv.Text(Item(1053)), "512 MB");
    EXPECT_EQ(drv.Text(Item(1047)), "40.0%");
    EXPECT_EQ(drv.Text(Item(1294)), "one.flac");
    EXPECT_EQ(drv.Text(Item(1040)), "3");
    const std::vector<uint8_t> records = display.receive(4 * 13);
    ASSERT_GE(records.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(records.begin(), records.begin() + 4), (std::vector<uint8_t>{0x01, 0x10, 0x25, 0x00}));

    // Closed while the item is being stopped: the display hears so and the port is let go.
    shown->state = kItemStopping;
    drv.Close(h);
    drv.Pump();
    EXPECT_FALSE(ui::StatsWindow().SerialOpen());
    EXPECT_EQ(display.receive(4), (std::vector<uint8_t>{0x00, 0x10, 0x02, 0x00}));
}

TEST_F(StatsWindowTest, WithoutAPortTheWindowStillWorks) {
    GetPrefStore().SetString("overall.ui.serialPort", "/nonexistent/ttyS7");
    GetPrefStore().SetInt("overall.task.parallelize", 1);
    ui::ShowStats(main);
    ASSERT_NE(ui::StatsWindow().Handle(), nullptr);
    EXPECT_FALSE(ui::StatsWindow().SerialOpen());
    EXPECT_FALSE(drv.Visible(Item(1066)));
    QueueItem* shown = AddRunning("/music/one.flac", 1.25f);
    shown->run.progress = 50;
    ctx.totalElapsedMs = 5000;
    ctx.remainingSeconds = 45;
    ui::UpdateStatsPanel(shown);
    EXPECT_EQ(drv.Text(Item(1034)), "45 secs");
    EXPECT_EQ(drv.Text(Item(1048)), "1.25X");
}

}  // namespace
