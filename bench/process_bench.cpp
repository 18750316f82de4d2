// PCM throughput into a tool through the runner, beside the same bytes through a plain shell
// pipe. The child discards what it reads ("cat" with its output on /dev/null), so the figures
// are the cost of the pipe path itself. The ratio benchmark reports runner / shell.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/encoders/wave_header.h"
#include "engine/tools/process.h"

namespace {

constexpr size_t kTotal = 64u << 20;   // bytes per run
constexpr size_t kBlock = 64u << 10;   // bytes per write, as the encode thread sends them

const std::vector<char>& Pcm() {
    static const std::vector<char> pcm = [] {
        std::vector<char> v(kBlock);
        for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<char>(i * 31);
        return v;
    }();
    return pcm;
}

// One run through the runner: argv ["cat"], standard input a pipe, output on /dev/null.
bool RunnerOnce() {
    CProcessWrapper p(kProcStdin);
    if (!p.Start("cat")) return false;
    WaveHeader h;
    InitWaveHeader(&h, 44100, 2, 16, -1);
    if (p.Write(&h, sizeof h) != sizeof h) return false;
    const auto& pcm = Pcm();
    for (size_t done = 0; done < kTotal; done += kBlock) {
        if (p.Write(pcm.data(), static_cast<int>(kBlock)) != static_cast<int>(kBlock)) return false;
    }
    p.CloseStdin();
    return p.Wait(60000) == 1;
}

// The same bytes through popen and a shell.
bool ShellOnce() {
    FILE* f = popen("cat >/dev/null", "w");
    if (!f) return false;
    WaveHeader h;
    InitWaveHeader(&h, 44100, 2, 16, -1);
    bool ok = fwrite(&h, sizeof h, 1, f) == 1;
    const auto& pcm = Pcm();
    for (size_t done = 0; ok && done < kTotal; done += kBlock) ok = fwrite(pcm.data(), 1, kBlock, f) == kBlock;
    return pclose(f) == 0 && ok;
}

void BM_RunnerPipe(benchmark::State& state) {
    for (auto _ : state) {
        if (!RunnerOnce()) state.SkipWithError("runner failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}
BENCHMARK(BM_RunnerPipe)->Unit(benchmark::kMillisecond);

void BM_ShellPipe(benchmark::State& state) {
    for (auto _ : state) {
        if (!ShellOnce()) state.SkipWithError("popen failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}
BENCHMARK(BM_ShellPipe)->Unit(benchmark::kMillisecond);

// Both paths in each iteration, alternated; "ratio" is runner throughput / shell throughput.
void BM_RunnerToShellRatio(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    double runnerSec = 0, shellSec = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (!RunnerOnce()) state.SkipWithError("runner failed");
        auto t1 = Clock::now();
        if (!ShellOnce()) state.SkipWithError("popen failed");
        auto t2 = Clock::now();
        runnerSec += std::chrono::duration<double>(t1 - t0).count();
        shellSec += std::chrono::duration<double>(t2 - t1).count();
    }
    const double mib = static_cast<double>(state.iterations()) * kTotal / (1 << 20);
    state.counters["runner_MiBps"] = mib / runnerSec;
    state.counters["shell_MiBps"] = mib / shellSec;
    state.counters["ratio"] = shellSec / runnerSec;
}
BENCHMARK(BM_RunnerToShellRatio)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
