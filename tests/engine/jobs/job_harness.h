// What a batch needs around it, shared by the job tests and the batch benchmark: the shipped
// preferences, codecs description and strings, the stream records the probe fills, and workers
// started 100 ms apart the way the batch starter starts them.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
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
#include "support/shipped_data.h"

namespace sqtest {

// Loads the shipped preferences, codecs description and engine strings, and puts the program's
// own tools first on the path. False when a file cannot be loaded.
inline bool LoadShippedEngineData() {
    if (LoadPrefDefinitions(false, DataFile("qxcore.xml").c_str(), 0, "QuorvexPrefs") != 0) return false;
    for (const char* file : {"qxcore64.xml", "defaults.xml", "sonquill.xml"})
        if (LoadPrefsFile(DataFile(file).c_str(), 0, nullptr) != 0) return false;
    if (LoadCodecsDefinition(false, DataFile("qxcodecs.xml").c_str(), 0) != 0) return false;
    const std::string path = getenv("PATH") ? getenv("PATH") : "";
    if (path.find(std::string(SQ_OUT_DIR) + "/tools:") != 0) setenv("PATH", (std::string(SQ_OUT_DIR) + "/tools:" + path).c_str(), 1);
    platform::SetAppFolderOverride(SQ_OUT_DIR);
    // The language files name their tables relative to the program folder.
    char list[512] = {};
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(DataFile("lang.xml")).parent_path());
    const int loaded = GetEngineStrings().Load("lang.xml", "qxcore", 0, list, sizeof list);
    std::filesystem::current_path(cwd);
    return loaded == 0;
}

// The stream and tag records the media probe fills (the probe's tools are not wired into the
// engine yet, so each input is described as the probe would).
inline void DescribeItem(QueueItem* item, uint32_t rate, uint32_t channels, int32_t durationMs,
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

// Runs a batch on `workers` threads started 100 ms apart and waits for all of them.
inline void RunWorkers(EngineContext& context, int workers) {
    context.runningWorkers = workers;
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) {
        threads.emplace_back([i] { RunQueue(i); });
        if (i + 1 < workers) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (auto& t : threads) t.join();
}

}  // namespace sqtest
