// A batch harness over the shipped preferences and codecs description: generated inputs in a
// queue, workers started 100 ms apart the way the batch starter does, bounded in time.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "engine/context.h"
#include "engine/jobs/job_harness.h"
#include "engine/encoders/codecs.h"
#include "engine/jobs/jobdriver.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "support/event_recorder.h"
#include "support/shell_command.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"

namespace sqtest {

class JobFixture : public ::testing::Test {
protected:
    void SetUp() override {
        PrefStore& p = GetPrefStore();
        oldPath_ = getenv("PATH") ? getenv("PATH") : "";
        ASSERT_TRUE(LoadShippedEngineData());
        p.SetString("overall.task.destdir", (out.path().string() + "/").c_str());
        p.SetString("overall.task.tempdir", (temp.path().string() + "/").c_str());
        p.SetInt("overall.task.overwrite", 1);
        p.SetInt("overall.audio.timeout", 1000);
        p.SetBool("overall.audio.autoEncoder", false);
        QueueClear();
    }
    void TearDown() override {
        QueueClear();
        platform::SetAppFolderOverride("");
        setenv("PATH", oldPath_.c_str(), 1);
    }

    QueueItem* Add(const std::string& path) {
        QueueItem* item = QueueNewItem(path.c_str());
        EXPECT_EQ(QueueAppend(item), 0);
        return item;
    }

    static void Describe(QueueItem* item, uint32_t rate, uint32_t channels, int32_t durationMs,
                         const char* artist = nullptr, const char* title = nullptr) {
        DescribeItem(item, rate, channels, durationMs, artist, title);
    }

    // Runs a batch on `workers` threads started 100 ms apart; fails instead of hanging.
    void RunBatch(int workers, int limitSeconds = 120) {
        auto batch = std::async(std::launch::async, [this, workers] { RunWorkers(events.context(), workers); });
        ASSERT_EQ(batch.wait_for(std::chrono::seconds(limitSeconds)), std::future_status::ready) << "batch hung";
    }

    // Lines of the event log (event 10) that contain the text.
    int LogLinesWith(const std::string& text) const {
        int n = 0;
        for (const std::string& line : events.texts(kEventLogLine)) n += line.find(text) != std::string::npos;
        return n;
    }

    TempDir in, out, temp;
    EventRecorder events;
    std::string oldPath_;
};

}  // namespace sqtest
