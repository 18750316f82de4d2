// Gain analysis throughput against what a pass must do anyway: read the same samples once (a sum
// over them, kept so the loop is not dropped). "ratio" is analysis samples/s over reading samples/s.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "engine/tools/gain_analysis.h"

namespace {

using namespace gain;

constexpr int kRate = 44100;
constexpr size_t kSamples = kRate * 10;  // 10 s per channel
constexpr size_t kPiece = 4096;          // what a decode pass hands over at a time

struct Signal {
    std::vector<double> left, right;
    Signal() : left(kSamples), right(kSamples) {
        for (size_t i = 0; i < kSamples; ++i) {
            left[i] = 20000.0 * std::sin(2 * std::numbers::pi * 440.0 * i / kRate);
            right[i] = 12000.0 * std::sin(2 * std::numbers::pi * 1330.0 * i / kRate);
        }
    }
};

const Signal& TestSignal() {
    static const Signal signal;
    return signal;
}

double Analyse(GainAnalysis* g) {
    const Signal& s = TestSignal();
    GainSetSampleRate(g, kRate);
    for (size_t pos = 0; pos < kSamples; pos += kPiece) {
        const size_t n = std::min(kPiece, kSamples - pos);
        GainAnalyzeSamples(g, s.left.data() + pos, s.right.data() + pos, static_cast<int64_t>(n), 2);
    }
    return GainGetTitleGain(g);
}

double Read() {
    const Signal& s = TestSignal();
    double sum = 0;
    for (size_t i = 0; i < kSamples; ++i) sum += s.left[i] + s.right[i];
    return sum;
}

void BM_GainToReadRatio(benchmark::State& state) {
    auto g = std::make_unique<GainAnalysis>();
    GainInit(g.get(), kRate);
    double analyseSec = 0, readSec = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(Analyse(g.get()));
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(Read());
        const auto t2 = std::chrono::steady_clock::now();
        analyseSec += std::chrono::duration<double>(t1 - t0).count();
        readSec += std::chrono::duration<double>(t2 - t1).count();
    }
    const double samples = static_cast<double>(state.iterations()) * kSamples * 2;
    state.counters["gain_samples_per_s"] = samples / analyseSec;
    state.counters["read_samples_per_s"] = samples / readSec;
    state.counters["ratio"] = readSec / analyseSec;
}
BENCHMARK(BM_GainToReadRatio)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
