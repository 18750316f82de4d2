// Saving and loading a queue of 10,000 items with typical fields (paths, alias, tags, one audio
// stream, a target) through queue.xml, against the target of 0.10 s for a save and a load
// together, and against what libxml2 alone takes to read and write the same file (the peer).
// "x_target" is the time of a save and a load / 0.10 s; "x_libxml2" that time / the peer's.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/queue/queuefile.h"

namespace {

constexpr int kItems = 10000;
constexpr double kTargetSeconds = 0.10;

void FillQueue(int count = kItems) {
    QueueClear();
    for (int i = 0; i < count; ++i) {
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

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The peer: libxml2 parses the file into a tree and writes it back, best of five.
double PeerSeconds(const std::string& path) {
    const std::string copy = path + ".peer";
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        xmlDocPtr doc = xmlReadFile(path.c_str(), nullptr, 0);
        if (!doc) return 0;
        xmlSaveFormatFileEnc(copy.c_str(), doc, "UTF-8", 0);
        xmlFreeDoc(doc);
        best = std::min(best, Seconds(start));
    }
    std::filesystem::remove(copy);
    return best;
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
    size_t bytesPerItem = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QueueClear();
        const size_t before = mallinfo2().uordblks;
        state.ResumeTiming();
        int loaded = LoadQueueFile(path.c_str());
        if (loaded != kItems) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(loaded);
        state.PauseTiming();
        bytesPerItem = (mallinfo2().uordblks - before) / kItems;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kItems);
    // Memory the loaded queue holds, per item (the file's document is freed by then).
    state.counters["heap_bytes/item"] = static_cast<double>(bytesPerItem);
    QueueClear();
}
BENCHMARK(BM_LoadQueue)->Unit(benchmark::kMillisecond);

// One save and one load, as a user's session ends and the next begins.
void BM_SaveAndLoadQueue(benchmark::State& state) {
    FillQueue();
    const std::string path = TempQueuePath();
    double total = 0;
    double saving = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (SaveQueueFile(path.c_str()) != kItems) {
            state.SkipWithError("save failed");
            break;
        }
        saving += Seconds(start);
        total += Seconds(start);
        QueueClear();
        start = std::chrono::steady_clock::now();
        if (LoadQueueFile(path.c_str()) != kItems) {
            state.SkipWithError("load failed");
            break;
        }
        total += Seconds(start);
    }
    const double ours = state.iterations() ? total / static_cast<double>(state.iterations()) : 0;
    const double peer = PeerSeconds(path);
    const double runs = state.iterations() ? static_cast<double>(state.iterations()) : 1;
    state.counters["save_ms"] = saving / runs * 1e3;
    state.counters["load_ms"] = (total - saving) / runs * 1e3;
    state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
    state.counters["x_target"] = ours / kTargetSeconds;
    state.counters["peer_ms"] = peer * 1e3;
    state.counters["x_libxml2"] = peer > 0 ? ours / peer : 0;
    QueueClear();
}
BENCHMARK(BM_SaveAndLoadQueue)->Unit(benchmark::kMillisecond);

// A value in kB from /proc/self/status ("VmRSS", "VmHWM"); -1 when missing.
long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

// How far memory rises while a queue file of 100,000 items loads, per item: a child process
// loads it and reports the rise of its resident set's high-water mark (reset just before).
// What the loaded queue keeps is counted too; the rest is what the load needs on the way.
void BM_LoadPeakMemory(benchmark::State& state) {
    constexpr int kMany = 100000;
    FillQueue(kMany);
    const std::string path = TempQueuePath() + ".big";
    if (SaveQueueFile(path.c_str()) != kMany) state.SkipWithError("save failed");
    QueueClear();
    long risePerItem = -1;
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) break;
        const pid_t child = fork();
        if (child == 0) {
            malloc_trim(0);
            std::ofstream("/proc/self/clear_refs") << "5";  // resets the high-water mark
            const long before = StatusKb("VmRSS");
            const int loaded = LoadQueueFile(path.c_str());
            long rise = loaded == kMany ? (StatusKb("VmHWM") - before) * 1024 / kMany : -1;
            if (write(fds[1], &rise, sizeof rise) != sizeof rise) _exit(1);
            _exit(0);
        }
        close(fds[1]);
        if (read(fds[0], &risePerItem, sizeof risePerItem) != sizeof risePerItem) risePerItem = -1;
        close(fds[0]);
        waitpid(child, nullptr, 0);
    }
    if (risePerItem < 0) state.SkipWithError("child load failed");
    state.counters["file_bytes/item"] = static_cast<double>(std::filesystem::file_size(path)) / kMany;
    state.counters["peak_bytes/item"] = static_cast<double>(risePerItem);
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
