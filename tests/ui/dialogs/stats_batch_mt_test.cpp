// The statistics window following a real batch: the program on the headless driver converts a WAV
// file with the real lame while the main window's 250 ms timer refreshes the window; what the
// window shows during and after the batch must match the job and its output file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/context.h"
#include "engine/encoders/encoder.h"
#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "support/shell_run.h"
#include "support/wav_bytes.h"
#include "ui/dialogs/stats.h"
#include "ui/main/batch.h"
#include "ui/main/shell.h"

namespace {

double Number(const std::string& text) { return text.empty() ? -1 : std::atof(text.c_str()); }

TEST(StatsAfterBatch, FiguresFollowARealLameJob) {
    sqtest::ShellRun run;
    // Three minutes of stereo audio: long enough for the timer to see the job running. Made before
    // the program starts: this thread is its UI thread afterwards, and must keep serving it.
    sqtest::WavSpec spec;
    spec.data = sqtest::Pcm16Ramp(44100 * 2 * 180);
    const std::string source = run.files().write("long.wav", sqtest::BuildWav(spec));
    ASSERT_EQ(run.Start(""), 0);
    auto& drv = run.driver();
    const std::string outDir = run.files().path().string() + "/out";
    std::filesystem::create_directories(outDir);
    SetPrefInt("overall.audio.encoder", kEncLame);
    // The slowest preset: the job outlasts the first second, after which its speed is worked out.
    SetPrefInt("audioenc.lame.preset", 4);
    SetPrefString("overall.task.destdir", (outDir + "/").c_str());
    SetPrefInt("overall.task.parallelize", 1);
    // The window is the user's, opened below: the batch neither opens nor closes it.
    SetPrefInt("overall.ui.stats", 1);

    QueueClear();
    QueueItem* item = QueueNewItem(source.c_str());
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(QueueAppend(item), 0);

    gui::HWND main = ui::Shell().mainHwnd.load();
    ASSERT_NE(main, nullptr);
    ui::ShowStats(main);
    gui::HWND stats = ui::StatsWindow().Handle();
    ASSERT_NE(stats, nullptr);
    auto text = [&](int id) { return drv.Text(drv.Find(stats, id)); };

    // The notice at the batch's end is read and closed.
    drv.OnModal(293, [](gui::testing::Driver& d, gui::HWND h) { d.Click(d.Find(h, gui::IDOK)); });
    ASSERT_EQ(ui::StartTranscoding(), 0);
    EngineContext* ctx = GetEngineContext();
    ASSERT_NE(ctx, nullptr);
    // Serve the workers and step the clock so the main window's timer refreshes the window, until
    // the batch ends (bounded: a hang fails the wait below).
    double bestBitrate = -1, bestOutputMB = -1;  // largest figures seen
    std::string elapsedSeen, speedSeen;
    for (int step = 0; step < 2400; ++step) {
        drv.Advance(250);
        drv.PumpUntil([] { return false; }, 25);
        bestBitrate = std::max(bestBitrate, Number(text(1033)));
        bestOutputMB = std::max(bestOutputMB, Number(text(1035)));
        if (text(1039) != "00:00") elapsedSeen = text(1039);
        if (!text(1048).empty()) speedSeen = text(1048);
        if (ctx->runningWorkers.load() == 0 && step > 4) break;
    }
    ASSERT_EQ(ui::WaitWorkerThreads(20000), 1) << "the batch did not end";
    EXPECT_EQ(item->state.load(), static_cast<uint32_t>(kItemDone)) << item->errorCode.load();

    // The output file the job made, and the counters the progress refresh shows after the batch.
    std::uintmax_t outputBytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(outDir)) {
        if (entry.path().extension() == ".mp3") outputBytes = entry.file_size();
    }
    ASSERT_GT(outputBytes, 0u);
    ui::UpdateBatchCounters();
    EXPECT_EQ(text(1040), "1");  // processed
    EXPECT_EQ(text(1041), "1");  // outputs
    EXPECT_EQ(text(1042), "0");  // errors
    EXPECT_EQ(text(1043), "0");  // skipped
    EXPECT_EQ(text(1044), "1");

    // While it ran the item's figures were shown (from the first job on, not only once a job had
    // ended) with the time since the batch started.
    EXPECT_GT(bestBitrate, 0) << "bit rate never shown";
    EXPECT_GT(bestOutputMB, 0) << "size never shown";
    EXPECT_FALSE(elapsedSeen.empty());
    EXPECT_NE(speedSeen.find('X'), std::string::npos) << "the encoding speed was never worked out";
    // The machine's own figures: a clock and the program's memory.
    EXPECT_NE(text(1053).find(" MB"), std::string::npos) << text(1053);

    ui::StatsWindow().Close();
    EXPECT_EQ(run.Finish(), 0);
}

}  // namespace
