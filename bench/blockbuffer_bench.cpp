// PCM through the block buffer alone: a decode thread copies blocks in from memory, an encode
// thread takes them and discards them. Beside it, the same bytes through `dd bs=32k | dd`, the
// pipe a user would build by hand. The ratio benchmark reports buffer GB/s / pipe GB/s.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/jobs/audiotask.h"
#include "engine/jobs/audiothreads.h"
#include "engine/queue/queue.h"

namespace {

constexpr int64_t kTotal = int64_t{2} << 30;  // bytes per run

class MemoryReader : public PcmReader {
public:
    int32_t Read(uint8_t* buffer, int32_t size) override {
        if (left_ <= 0) return -1;
        const int32_t n = static_cast<int32_t>(std::min<int64_t>({size, left_, static_cast<int64_t>(pcm_.size())}));
        std::memcpy(buffer, pcm_.data(), static_cast<size_t>(n));
        left_ -= n;
        return n;
    }

private:
    std::vector<uint8_t> pcm_ = std::vector<uint8_t>(kAudioBlockBytes, 0x5a);
    int64_t left_ = kTotal;
};

class DiscardWriter : public PcmWriter {
public:
    bool WriteHeader(const WaveHeader&) override { return true; }
    int32_t Write(const uint8_t* bytes, int32_t length) override {
        benchmark::DoNotOptimize(bytes[length - 1]);
        return length;
    }
};

bool BufferOnce() {
    QueueItem item;
    item.state = kItemEncoding;
    AudioTask task;
    task.item = &item;
    task.audioEnabled = true;
    task.channels = 2;
    task.bitsPerSample = 16;
    task.sampleRate = 44100;
    task.blockAlign = 4;
    task.byteRate = 176400;
    if (!AllocBlockBuffer(&task)) return false;
    MemoryReader reader;
    DiscardWriter writer;
    task.readers[0] = &reader;
    task.writers[0] = &writer;
    RunAudioThreads(&task, AudioThreadSettings{});
    return item.run.bytes.load() == static_cast<uint64_t>(kTotal);
}

bool PipeOnce() {
    const std::string cmd = "dd if=/dev/zero bs=32k count=" + std::to_string(kTotal / 32768) +
                            " status=none | dd bs=32k of=/dev/null status=none";
    return std::system(cmd.c_str()) == 0;
}

void BM_BlockBuffer(benchmark::State& state) {
    for (auto _ : state)
        if (!BufferOnce()) state.SkipWithError("buffer run failed");
    state.SetBytesProcessed(state.iterations() * kTotal);
}
BENCHMARK(BM_BlockBuffer)->Unit(benchmark::kMillisecond)->Iterations(3);

// Both paths in each iteration, alternated.
void BM_BlockBufferToPipeRatio(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    double bufferSec = 0, pipeSec = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (!BufferOnce()) state.SkipWithError("buffer run failed");
        auto t1 = Clock::now();
        if (!PipeOnce()) state.SkipWithError("dd pipe failed");
        auto t2 = Clock::now();
        bufferSec += std::chrono::duration<double>(t1 - t0).count();
        pipeSec += std::chrono::duration<double>(t2 - t1).count();
    }
    const double gb = static_cast<double>(state.iterations()) * kTotal / 1e9;
    state.counters["buffer_GBps"] = gb / bufferSec;
    state.counters["dd_pipe_GBps"] = gb / pipeSec;
    state.counters["ratio"] = pipeSec / bufferSec;
}
BENCHMARK(BM_BlockBufferToPipeRatio)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
