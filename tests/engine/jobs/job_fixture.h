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

#include "common/stringtable.h"
#include "engine/context.h"
#include "engine/encoders/codecs.h"
#include "engine/jobs/jobdriver.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "support/event_recorder.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"

namespace sqtest {

inline bool Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// The text a command prints, trimmed.
inline std::string Capture(const std::string& cmd) {
    std::string out;
    if (FILE* f = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
        pclose(f);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

class JobFixture : public ::testing::Test {
protected:
    void SetUp() override {
        PrefStore& p = GetPrefStore();
        ASSERT_EQ(LoadPrefDefinitions(false, DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs"), 0);
        for (const char* file : {"qxcore64.xml", "defaults.xml", "sonquill.xml"})
            ASSERT_EQ(LoadPrefsFile(DataFile(file).c_str(), 0, nullptr), 0) << file;
        ASSERT_EQ(LoadCodecsDefinition(false, DataFile("qxcodecs.xml").c_str(), 0), 0);
        oldPath_ = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", (std::string(SQ_OUT_DIR) + "/tools:" + oldPath_).c_str(), 1);
        platform::SetAppFolderOverride(SQ_OUT_DIR);
        p.SetString("overall.task.destdir", (out.path().string() + "/").c_str());
        p.SetString("overall.task.tempdir", (temp.path().string() + "/").c_str());
        p.SetInt("overall.task.overwrite", 1);
        p.SetInt("overall.audio.timeout", 1000);
        p.SetBool("overall.audio.autoEncoder", false);
        QueueClear();
        // The language files name their tables relative to the program folder.
        char list[512] = {};
        const auto cwd = std::filesystem::current_path();
        std::filesystem::current_path(std::filesystem::path(DataFile("lang.xml")).parent_path());
        const int loaded = GetEngineStrings().Load("lang.xml", "qxcore", 0, list, sizeof list);
        std::filesystem::current_path(cwd);
        ASSERT_EQ(loaded, 0);
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

    // The stream and tag records the media probe fills (the probe's tools are not wired into the
    // engine yet, so the fixture describes each input as the probe would).
    static void Describe(QueueItem* item, uint32_t rate, uint32_t channels, int32_t durationMs,
                         const char* artist = nullptr, const char* title = nullptr) {
        auto* s = new AudioStreamInfo;
        s->samplerate = rate;
        s->channels = channels;
        s->samplebits = 16;
        s->duration = static_cast<uint32_t>(durationMs);
        item->audio = s;
        item->duration = durationMs;
        item->mediaKind |= 1;
        item->flags |= kItemFlagHasStreams;
        if (artist) {
            SetStringField(&item->tagArtist, artist);
            SetStringField(&item->tagTitle, title);
            item->flags |= kItemFlagHasTags;
        }
    }

    // Runs a batch on `workers` threads started 100 ms apart; fails instead of hanging.
    void RunBatch(int workers, int limitSeconds = 120) {
        events.context().runningWorkers = workers;
        auto batch = std::async(std::launch::async, [workers] {
            std::vector<std::thread> threads;
            for (int i = 0; i < workers; ++i) {
                threads.emplace_back([i] { RunQueue(i); });
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            for (auto& t : threads) t.join();
        });
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
