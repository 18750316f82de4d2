// The same PCM encoded by lame through a tool encoder (CAudioEncoder: WAV header, then PCM into
// the tool's standard input) and through a plain shell pipe into the same lame command; "ratio" is
// encoder time / pipe time. Also the time from Open to the first bytes the tool accepts, with the
// start check watching the process against the old fixed 250-ms wait after the start.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/context.h"
#include "engine/encoders/encoder.h"
#include "engine/encoders/wave_header.h"
#include "engine/tools/process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kRate = 44100;
constexpr size_t kSeconds = 30;
constexpr size_t kBlock = 64u << 10;  // bytes per write, as the encode thread sends them

const std::string& Pcm() {
    static const std::string pcm = [] {
        std::string v(kRate * kSeconds * 4, '\0');
        auto* s = reinterpret_cast<int16_t*>(v.data());
        uint32_t noise = 1;
        for (size_t i = 0; i < kRate * kSeconds; ++i) {
            noise = noise * 1664525u + 1013904223u;
            const auto x = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 440 * static_cast<double>(i) / kRate) +
                                                static_cast<int>(noise >> 21) - 1024);
            s[2 * i] = s[2 * i + 1] = x;
        }
        return v;
    }();
    return pcm;
}

const std::string& OutDir() {
    static const std::string dir = [] {
        auto d = std::filesystem::temp_directory_path() / "sq-encoder-bench";
        std::filesystem::create_directories(d);
        return d.string();
    }();
    return dir;
}

// Events are dropped, so the command-line notices do not reach the console.
struct QuietEngine {
    QuietEngine() {
        context.eventCallback = [](int, intptr_t, int64_t) { return 0; };
        SetEngineContext(&context);
    }
    EngineContext context{};
};

WaveHeader Header() {
    WaveHeader h;
    InitWaveHeader(&h, kRate, 2, 16, -1);
    return h;
}

bool EncoderOnce() {
    static QuietEngine quiet;
    CAudioEncoder enc;
    enc.SetName("lame");
    const std::string line = "lame --silent - \"" + OutDir() + "/encoder.mp3\"";
    if (!enc.Open((OutDir() + "/encoder.mp3").c_str(), nullptr, line.c_str())) return false;
    const WaveHeader h = Header();
    bool ok = enc.WriteHeader(&h);
    const std::string& pcm = Pcm();
    for (size_t at = 0; ok && at < pcm.size(); at += kBlock) {
        const int n = static_cast<int>(std::min(kBlock, pcm.size() - at));
        ok = enc.Write(pcm.data() + at, n) == n;
    }
    enc.Finish();
    ok = ok && enc.FinishedCleanly();
    enc.Close();
    return ok;
}

bool PipeOnce() {
    FILE* f = popen(("lame --silent - \"" + OutDir() + "/pipe.mp3\"").c_str(), "w");
    if (!f) return false;
    const WaveHeader h = Header();
    bool ok = fwrite(&h, sizeof h, 1, f) == 1;
    const std::string& pcm = Pcm();
    for (size_t at = 0; ok && at < pcm.size(); at += kBlock) {
        const size_t n = std::min(kBlock, pcm.size() - at);
        ok = fwrite(pcm.data() + at, 1, n, f) == n;
    }
    return pclose(f) == 0 && ok;
}

void BM_EncoderToPipeRatio(benchmark::State& state) {
    double encoderSec = 0, pipeSec = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (!EncoderOnce()) state.SkipWithError("encoder failed");
        auto t1 = Clock::now();
        if (!PipeOnce()) state.SkipWithError("pipe failed");
        auto t2 = Clock::now();
        encoderSec += std::chrono::duration<double>(t1 - t0).count();
        pipeSec += std::chrono::duration<double>(t2 - t1).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["encoder_ms"] = encoderSec / n * 1000;
    state.counters["pipe_ms"] = pipeSec / n * 1000;
    state.counters["ratio"] = encoderSec / pipeSec;
}
BENCHMARK(BM_EncoderToPipeRatio)->Unit(benchmark::kMillisecond)->Iterations(5);

// From Open to the header accepted by the tool. oldStartWait adds the fixed wait the start check
// used to cost (a 250-ms wait on the process right after the start).
void StartToFirstByte(benchmark::State& state, bool oldStartWait) {
    static QuietEngine quiet;
    double total = 0;
    for (auto _ : state) {
        CAudioEncoder enc;
        enc.SetName("lame");
        const std::string line = "lame --silent - \"" + OutDir() + "/start.mp3\"";
        const auto t0 = Clock::now();
        bool ok = enc.Open((OutDir() + "/start.mp3").c_str(), nullptr, line.c_str());
        if (ok && oldStartWait) ok = enc.process->Wait(250) == 0;
        const WaveHeader h = Header();
        ok = ok && enc.WriteHeader(&h);
        total += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        if (!ok) state.SkipWithError("start failed");
        enc.Finish();
        enc.Close();
    }
    state.counters["open_to_first_byte_ms"] = total / static_cast<double>(state.iterations());
}

void BM_OpenToFirstByte_WatchingTheProcess(benchmark::State& state) { StartToFirstByte(state, false); }
BENCHMARK(BM_OpenToFirstByte_WatchingTheProcess)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_OpenToFirstByte_Fixed250msWait(benchmark::State& state) { StartToFirstByte(state, true); }
BENCHMARK(BM_OpenToFirstByte_Fixed250msWait)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
