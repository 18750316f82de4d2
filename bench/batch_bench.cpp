// A batch of FLAC files to MP3 (lame -V 2) through the engine, beside the bare shell road a user
// would build: `decoder | lame -V2 - out.mp3` run by `xargs -P N`, with the same decoder and
// encoder. Both are run in each iteration, alternated, at 1 and at 8 workers; "ratio" is
// engine time / bare time. The corpus is 16 stereo 44.1 kHz tracks of 30 s; SQ_BENCH_LONG=1
// makes it 64 tracks of 3 min. Each run is made once with the decoder the engine chooses for FLAC
// and once with the "FLAC Decoder" source (SQ_BENCH_SOURCE=flac).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/jobs/job_harness.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/sources/audio_source.h"

namespace {

namespace fs = std::filesystem;

struct Corpus {
    fs::path dir;
    std::vector<std::string> files;
    int seconds = 30;
};

const Corpus& GetCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        const bool longRun = getenv("SQ_BENCH_LONG") && std::string(getenv("SQ_BENCH_LONG")) == "1";
        const int count = longRun ? 64 : 16;
        c.seconds = longRun ? 180 : 30;
        c.dir = fs::temp_directory_path() / (longRun ? "sq-batch-corpus-long" : "sq-batch-corpus");
        fs::create_directories(c.dir / "in");
        for (int i = 0; i < count; ++i) {
            const fs::path f = c.dir / "in" / ("t" + std::to_string(i) + ".flac");
            if (!fs::exists(f)) {
                const std::string cmd = "sox -n -r 44100 -c 2 -b 16 '" + f.string() + "' synth " +
                                        std::to_string(c.seconds) + " pinknoise vol 0.3 >/dev/null 2>&1";
                if (std::system(cmd.c_str()) != 0) return Corpus{};
            }
            c.files.push_back(f.string());
        }
        return c;
    }();
    return corpus;
}

bool UseFlacDecoder() { return getenv("SQ_BENCH_SOURCE") && std::string(getenv("SQ_BENCH_SOURCE")) == "flac"; }

void FreshDir(const fs::path& p) {
    fs::remove_all(p);
    fs::create_directories(p);
}

bool EngineBatch(int workers) {
    const Corpus& c = GetCorpus();
    static EngineContext ctx{};
    static bool loaded = false;
    if (!loaded) {
        if (!sqtest::LoadShippedEngineData()) return false;
        ctx.eventCallback = [](int, intptr_t, int64_t) { return 1; };
        SetEngineContext(&ctx);
        loaded = true;
    }
    PrefStore& p = GetPrefStore();
    const fs::path out = c.dir / "engine";
    FreshDir(out);
    p.SetString("overall.task.destdir", (out.string() + "/").c_str());
    p.SetString("overall.task.tempdir", (c.dir.string() + "/").c_str());
    p.SetInt("overall.task.overwrite", 1);
    p.SetBool("overall.audio.autoEncoder", false);
    p.SetInt("overall.audio.encoder", 0);
    p.SetInt("audioenc.lame.quality", 2);
    p.SetBool("overall.output.tag", false);
    p.SetBool("overall.audio.autoSource", !UseFlacDecoder());
    if (UseFlacDecoder()) p.SetInt("overall.audio.source", kSourceFlac);
    QueueClear();
    for (const std::string& f : c.files) {
        QueueItem* item = QueueNewItem(f.c_str());
        QueueAppend(item);
        sqtest::DescribeItem(item, 44100, 2, c.seconds * 1000);
    }
    sqtest::RunWorkers(ctx, workers);
    bool ok = true;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it)) ok = ok && it->state.load() == kItemDone;
    return ok;
}

// The decoder the engine ran for FLAC, as a shell command writing WAV to standard output.
std::string BareDecoder() {
    if (UseFlacDecoder()) return "flac -d -c -s \"$0\"";
    return "mplayer -really-quiet -noconsolecontrols -vo null -vc null -ao pcm:waveheader:fast:file=/dev/stdout "
           "\"$0\" 2>/dev/null";
}

bool BareBatch(int workers) {
    const Corpus& c = GetCorpus();
    const fs::path out = c.dir / "bare";
    FreshDir(out);
    const std::string cmd = "ls '" + (c.dir / "in").string() + "'/*.flac | xargs -P " + std::to_string(workers) +
                            " -I{} sh -c '" + BareDecoder() + " | lame --silent -V2 - \"" + out.string() +
                            "/$(basename \"$0\" .flac).mp3\"' {} >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

void BM_EngineToBareRatio(benchmark::State& state) {
    const int workers = static_cast<int>(state.range(0));
    if (GetCorpus().files.empty()) {
        state.SkipWithError("corpus could not be made");
        return;
    }
    using Clock = std::chrono::steady_clock;
    double engineSec = 0, bareSec = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        if (!EngineBatch(workers)) state.SkipWithError("engine batch failed");
        auto t1 = Clock::now();
        if (!BareBatch(workers)) state.SkipWithError("bare batch failed");
        auto t2 = Clock::now();
        engineSec += std::chrono::duration<double>(t1 - t0).count();
        bareSec += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["engine_s"] = engineSec / static_cast<double>(state.iterations());
    state.counters["bare_s"] = bareSec / static_cast<double>(state.iterations());
    state.counters["ratio"] = engineSec / bareSec;
    state.SetLabel(UseFlacDecoder() ? "FLAC Decoder" : "default source");
}
BENCHMARK(BM_EngineToBareRatio)->Arg(1)->Arg(8)->Unit(benchmark::kSecond)->Iterations(2);

}  // namespace
