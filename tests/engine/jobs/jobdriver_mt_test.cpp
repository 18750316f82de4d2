// Two batch workers while a third thread pauses, resumes, re-prioritises and stops items and reads
// their progress: no item runs twice, the stop holds, and the batch ends.
#include "engine/jobs/jobdriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/encoders/encoder.h"
#include "engine/jobs/audio_fakes.h"
#include "engine/jobs/audiopass.h"
#include "engine/jobs/job_fixture.h"
#include "engine/jobs/jobstats.h"

namespace {

class WorkersUnderControl : public sqtest::JobFixture {};

TEST_F(WorkersUnderControl, PausePriorityAndStopFromAnotherThread) {
    // Each item reads for about a second, so the controller, however slowly it is scheduled,
    // finds the item it stops still running.
    SetPassSourceMaker([](uint32_t) -> std::unique_ptr<PassSource> { return std::make_unique<sqtest::RampSource>(20 * 176400, 2); });
    GetPrefStore().SetInt("overall.audio.encoder", kEncPcm);
    // The fixture's one-second wait for the other audio thread is for tests of that wait; on a
    // loaded machine a decode thread can be held off the processor that long here.
    GetPrefStore().SetInt("overall.audio.timeout", 30000);
    std::vector<QueueItem*> items;
    for (int i = 0; i < 6; ++i) {
        QueueItem* item = Add(in.write("in" + std::to_string(i) + ".wav", "x"));
        Describe(item, 44100, 2, 20000);
        items.push_back(item);
    }
    QueueItem* stopped = items[3];
    std::atomic<bool> running{true};
    std::thread controller([&] {
        bool stopSent = false;
        while (running) {
            for (QueueItem* item : items) {
                // A toggle is ignored while an item is not running (not started, finishing), so
                // the second one resumes only what the first one paused.
                TogglePauseItem(item);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (item->state.load() == kItemPaused) TogglePauseItem(item);
                SetItemPriority(item, 0);
                UpdateItemStats(item, true);
                GetQueueProgress(nullptr);
                for (int kind : {0, 1, 2, 4}) GetCpuLoad(kind);
            }
            if (!stopSent && stopped->audioTask.load()) {
                StopItem(stopped);
                stopSent = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    RunBatch(2, 200);
    running = false;
    controller.join();
    SetPassSourceMaker(nullptr);

    for (QueueItem* item : items) {
        EXPECT_LE(LogLinesWith(std::string("Start transcoding ") + item->file), 1) << "run twice";
        const uint32_t state = item->state.load();
        EXPECT_NE(state, kItemEncoding) << "left running";
        EXPECT_NE(state, kItemPaused) << "left paused";
    }
    EXPECT_NE(stopped->state.load(), kItemDone) << "the stop was overwritten";
    EXPECT_EQ(items[0]->state.load(), kItemDone);
}

// The status panel's load figures read from another thread while real encoders run: the
// encoders' load is measured while a pass runs, a source without a process has none, and once the
// batch has ended nothing runs.
TEST_F(WorkersUnderControl, LoadFiguresFollowTheRunningTools) {
    SetPassSourceMaker([](uint32_t) -> std::unique_ptr<PassSource> { return std::make_unique<sqtest::RampSource>(40 * 176400); });
    GetPrefStore().SetInt("overall.audio.encoder", kEncLame);
    for (int i = 0; i < 2; ++i) Describe(Add(in.write("load" + std::to_string(i) + ".wav", "x")), 44100, 2, 40000);
    std::atomic<bool> running{true};
    std::atomic<int> encoderReadings{0}, sourceReadings{0}, memory{-1};
    std::thread reader([&] {
        while (running) {
            encoderReadings += GetCpuLoad(2) >= 0;
            sourceReadings += GetCpuLoad(1) >= 0;
            memory = GetCpuLoad(4);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    });
    RunBatch(2, 200);
    running = false;
    reader.join();
    SetPassSourceMaker(nullptr);
    EXPECT_GT(encoderReadings.load(), 0) << "the encoders' load was never measured";
    EXPECT_EQ(sourceReadings.load(), 0) << "an in-process source has no decoder to measure";
    EXPECT_GT(memory.load(), 0);
    EXPECT_EQ(GetCpuLoad(2), -1) << "nothing runs after the batch";
    EXPECT_EQ(GetCpuLoad(1), -1);
    EXPECT_GT(GetCpuLoad(5), 0);
    const int own = GetCpuLoad(0);
    EXPECT_GE(own, 0);
    EXPECT_LE(own, 100);
}

}  // namespace
