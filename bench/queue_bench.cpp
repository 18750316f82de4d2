// Saving and loading a queue of 10,000 items with typical fields (paths, alias, tags, one audio
// stream, a target) through queue.xml.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/queue/queuefile.h"

namespace {

constexpr int kItems = 10000;

void FillQueue() {
    QueueClear();
    for (int i = 0; i < kItems; ++i) {
        std::string name = "Artist & Band - Track " + std::to_string(i) + " (été)";
        QueueItem* item = QueueNewItem(("/home/user/Music/Album <" + std::to_string(i / 12) + ">/" + name + ".flac").c_str());
        SetStringField(&item->alias, name.c_str());
        SetStringField(&item->destFile, ("/home/user/Out/" + name + ".mp3").c_str());
        SetStringField(&item->containerFormat, "FLAC");
        SetStringField(&item->tagTitle, name.c_str());
        SetStringField(&item->tagArtist, "Artist & Band");
        SetStringField(&item->tagAlbum, "Album");
        item->flags |= kItemFlagHasTags | kItemFlagHasStreams | kItemFlagUserDest;
        item->duration = 180000 + i;
        item->size = 30000;
        item->track = static_cast<uint16_t>(i % 12 + 1);
        item->audio = new AudioStreamInfo;
        item->audio->id = 1;
        item->audio->codec = DupString("FLAC");
        item->audio->samplerate = 44100;
        item->audio->channels = 2;
        item->audio->samplebits = 16;
        item->audio->bitrate = 900000;
        item->targetSize = 4000;
        QueueAppend(item);
    }
}

// A folder of its own for the file, removed at exit (benchmarks run more than once).
struct BenchDir {
    BenchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "queue_bench.XXXXXX").string();
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~BenchDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

std::string TempQueuePath() {
    static BenchDir dir;
    return dir.path + "/queue.xml";
}

void BM_SaveQueue(benchmark::State& state) {
    FillQueue();
    const std::string path = TempQueuePath();
    for (auto _ : state) {
        int saved = SaveQueueFile(path.c_str());
        if (saved != kItems) {
            state.SkipWithError("save failed");
            break;
        }
        benchmark::DoNotOptimize(saved);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
    QueueClear();
}
BENCHMARK(BM_SaveQueue)->Unit(benchmark::kMillisecond);

void BM_LoadQueue(benchmark::State& state) {
    FillQueue();
    const std::string path = TempQueuePath();
    if (SaveQueueFile(path.c_str()) != kItems) state.SkipWithError("save failed");
    for (auto _ : state) {
        state.PauseTiming();
        QueueClear();
        state.ResumeTiming();
        int loaded = LoadQueueFile(path.c_str());
        if (loaded != kItems) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(loaded);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
    QueueClear();
}
BENCHMARK(BM_LoadQueue)->Unit(benchmark::kMillisecond);

}  // namespace
