// PCM throughput of the WAV file source: a 600 s stereo 16-bit 44.1 kHz WAV read to its end
// through Read in the decode thread's 32 KiB blocks, beside "cat" of the same file into
// /dev/null. The file is in the page cache for both. "ratio" is source throughput / cat's.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/encoders/wave_header.h"
#include "engine/jobs/audiotask.h"
#include "engine/queue/queue.h"
#include "engine/sources/wave_sources.h"

namespace {

constexpr uint32_t kSeconds = 600;
constexpr uint64_t kDataBytes = uint64_t{kSeconds} * 44100 * 4;

const std::string& WavPath() {
    static const std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / ("sq_wavsource_bench_" + std::to_string(getpid()) + ".wav")).string();
        std::ofstream out(p, std::ios::binary);
        WaveHeader h;
        InitWaveHeader(&h, 44100, 2, 16, static_cast<int64_t>(kDataBytes));
        out.write(reinterpret_cast<const char*>(&h), sizeof h);
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
        for (uint64_t done = 0; done < kDataBytes; done += block.size())
            out.write(block.data(), static_cast<std::streamsize>(std::min<uint64_t>(block.size(), kDataBytes - done)));
        std::atexit([] { std::filesystem::remove(WavPath()); });
        return p;
    }();
    return path;
}

uint64_t SourceOnce() {
    QueueItem* item = QueueNewItem(WavPath().c_str());
    AudioTask task;
    task.item = item;
    CWaveFileSource src;
    uint64_t total = 0;
    if (src.Open(&task) && src.ReadHeader() && src.Prepare(&task)) {
        std::vector<char> buf(32768);
        for (int n; (n = src.Read(buf.data(), static_cast<int>(buf.size()))) >= 0;) total += static_cast<uint64_t>(n);
    }
    src.Close();
    QueueFreeItem(item);
    return total;
}

bool CatOnce() { return system(("cat '" + WavPath() + "' >/dev/null").c_str()) == 0; }

void BM_WaveFileSource(benchmark::State& state) {
    for (auto _ : state) {
        if (SourceOnce() != kDataBytes) state.SkipWithError("short read");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataBytes));
}
BENCHMARK(BM_WaveFileSource)->Unit(benchmark::kMillisecond);

void BM_Cat(benchmark::State& state) {
    for (auto _ : state) {
        if (!CatOnce()) state.SkipWithError("cat failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataBytes));
}
BENCHMARK(BM_Cat)->Unit(benchmark::kMillisecond);

// Both in each iteration, alternated.
void BM_SourceToCatRatio(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    double sourceSec = 0, catSec = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (SourceOnce() != kDataBytes) state.SkipWithError("short read");
        auto t1 = Clock::now();
        if (!CatOnce()) state.SkipWithError("cat failed");
        auto t2 = Clock::now();
        sourceSec += std::chrono::duration<double>(t1 - t0).count();
        catSec += std::chrono::duration<double>(t2 - t1).count();
    }
    const double mib = static_cast<double>(state.iterations()) * static_cast<double>(kDataBytes) / (1 << 20);
    state.counters["source_MiBps"] = mib / sourceSec;
    state.counters["cat_MiBps"] = mib / catSec;
    state.counters["ratio"] = catSec / sourceSec;
}
BENCHMARK(BM_SourceToCatRatio)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
