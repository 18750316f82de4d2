#include "engine/jobs/audiopass.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/fileutil.h"
#include "engine/context.h"
#include "engine/encoders/encoder.h"
#include "engine/eventlog.h"
#include "engine/jobs/audiothreads.h"
#include "engine/jobs/fileops.h"
#include "engine/jobs/itemstate.h"
#include "platform/fs.h"
#include "engine/jobs/tagging.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/queue/taskvars.h"
#include "engine/sources/audio_source.h"
#include "engine/tools/process.h"
#include "platform/sync.h"
#include "platform/sysinfo.h"

namespace {

// The length of what a job converts: a joined group's first item stands for all of its items.
int32_t JoinedDuration(QueueItem* item) {
    int64_t total = std::max(item->duration, 0);
    if (item->group != 0) {
        QueueLockGuard lock;
        for (QueueItem* next = QueueNext(item); next && next->group == item->group; next = QueueNext(next))
            total += std::max(next->duration, 0);
    }
    return static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX));
}

// A tool that reads the input file itself takes no PCM, so the pass's threads end at once: the
// pass then follows the tool's progress from what it prints ("42.5%") until it ends, the item is
// stopped, or it shows no sign of work (no progress, no output growth) for 30 s.
void FollowSelfReadingTool(AudioTask* task, CAudioEncoder* enc) {
    constexpr uint64_t kQuietLimitMs = 30000;
    QueueItem* item = task->item;
    EncoderProgress progress;
    progress.total = item->run.totalLength.load();
    uint64_t lastSign = platform::TickCount();
    int64_t lastSize = -1;
    while (item->state.load() < kItemStopping && enc->process && enc->process->IsRunning()) {
        const uint64_t before = progress.position;
        enc->WaitProgress(&progress);
        if (progress.position != before) item->run.position = static_cast<uint32_t>(std::min(progress.position, progress.total));
        const int64_t size = GetFileKB(task->writtenPaths[0].c_str());
        const uint64_t now = platform::TickCount();
        if (progress.position != before || size != lastSize || item->state.load() == kItemPaused) lastSign = now;
        lastSize = size;
        if (now - lastSign > kQuietLimitMs) {
            LogMessage(&task->log, "The encoder shows no sign of work.", 0);
            break;
        }
    }
}

// A decoded input shorter than 90 % of its length, and by at least this much, was cut short.
constexpr int64_t kShortInputMs = 1000;

// The engine's source classes as the pass sees them.
class SourceAdapter : public PassSource {
public:
    explicit SourceAdapter(std::unique_ptr<CAudioSource> source) : source_(std::move(source)) {}
    int32_t Read(uint8_t* buffer, int32_t size) override { return source_->Read(buffer, size); }
    // A class without a stop of its own still has its decoder ended, so a blocked Read returns.
    void Stop() override {
        if (source_->Stop() < 0 && source_->process) source_->process->Terminate();
    }
    const char* Name() override { return source_->GetName(); }
    void SetFeedFromStdin(bool feed) override { source_->feedInput = feed; }
    bool Configure(AudioTask* task) override { return source_->Configure(task); }
    bool Open(AudioTask* task) override { return source_->Open(task); }
    void SetDecodePriority() override { source_->SetDecodePriority(); }
    bool ReadHeader(AudioTask*) override { return source_->ReadHeader(); }
    bool Start() override { return source_->Start(); }
    bool Prepare(AudioTask* task) override { return source_->Prepare(task); }
    const WaveHeader& Header() override { return source_->header; }
    void Close() override { source_->Close(); }
    double GetCpuUsage() override { return source_->GetCpuUsage(); }
    std::string InputFailure(int64_t expectedMs) override {
        std::string why = source_->DecodeFailure();
        if (!why.empty() || source_->inputEnd != CAudioSource::InputEnd::kEnded) return why;
        // The data ended by itself: far less than the input's length means it was cut short.
        const uint32_t byteRate = source_->header.byteRate;
        if (expectedMs <= 0 || byteRate == 0) return why;
        const int64_t gotMs = static_cast<int64_t>(source_->position * 1000 / byteRate);
        if (gotMs * 10 >= expectedMs * 9 || expectedMs - gotMs < kShortInputMs) return why;
        return std::string(source_->GetName()) + ": " + std::to_string(gotMs) + " ms decoded of " +
               std::to_string(expectedMs) + " ms, the input is cut short";
    }

private:
    std::unique_ptr<CAudioSource> source_;
};

std::unique_ptr<PassSource> EngineSource(uint32_t id) {
    std::unique_ptr<CAudioSource> source = CreateAudioSource(static_cast<int>(id));
    if (!source) return nullptr;
    return std::make_unique<SourceAdapter>(std::move(source));
}
PassSourceMaker sourceMaker = EngineSource;

PrefStore& Prefs() { return GetPrefStore(); }

int CountStreams(const QueueItem* item) {
    int n = 0;
    for (const AudioStreamInfo* s = item ? item->audio : nullptr; s; s = s->next) ++n;
    return n;
}

// The tool encoder as the encode thread's writer. Finish reaches the tool once, however often the
// thread and the pass call it; Cancel ends a tool that no longer reads.
class EncoderWriter : public PcmWriter {
public:
    // A tool that reads the input file itself (task given) gets nothing on its standard input,
    // not even the header, since bytes it never reads would count as audio it did not encode; it
    // is followed to its end before its input is closed.
    EncoderWriter(CAudioEncoder* encoder, AudioTask* selfReadingTask) : encoder_(encoder), selfReadingTask_(selfReadingTask) {}
    bool WriteHeader(const WaveHeader& header) override {
        return selfReadingTask_ || encoder_->WriteHeader(&header);
    }
    int32_t Write(const uint8_t* bytes, int32_t length) override { return encoder_->Write(bytes, length); }
    bool IsReady() override { return encoder_->IsReady(); }
    void Finish() override {
        if (finished_.exchange(true)) return;
        encoder_->SetRunning(true);  // a tool held by a pause could not see the end of its input
        encoder_->Finish();
    }
    void BeforeFinish() override {
        if (selfReadingTask_ && !finished_.load()) FollowSelfReadingTool(selfReadingTask_, encoder_);
    }
    void Cancel() override {
        encoder_->SetRunning(true);
        if (encoder_->process) encoder_->process->Terminate();
    }
    bool finished() const { return finished_.load(); }

private:
    CAudioEncoder* encoder_;
    AudioTask* selfReadingTask_;
    std::atomic<bool> finished_{false};
};

// The output name the user sees, whether or not the pass writes under a partial name.
std::string FinalOutputName(AudioTask* task, QueueItem* item) {
    const bool partial = task->writePartial.exchange(false);
    std::string name = GetTaskVariable(item, task, "DestFileAudio");
    task->writePartial = partial;
    return name;
}

void FailPass(AudioTask* task, int32_t code, const char* key, const char* name) {
    if (key) LogMessageKeyFormat(&task->log, key, name ? name : "", 0);
    SetItemError(code, task->item);
}

// A pass that ran to the end of its input fails when a source says its input was not decoded
// whole: the decoder's error exit, output that broke off, or far less than the input's length.
// One log line says why. A stopped or already failed item is left as it is.
bool CheckDecodedInput(AudioTask* task, std::unique_ptr<PassSource>* sources, int count) {
    QueueItem* item = task->item;
    const uint32_t state = item->state.load();
    if (task->toolReadsInput || (state != kItemEncoding && state != kItemPaused && state != kItemFinishing)) return true;
    const int64_t expectedMs =
        task->duration > 0 ? task->duration : std::max<int64_t>(int64_t{JoinedDuration(item)} - std::max(task->start, 0), 0);
    for (int t = 0; t < count; ++t) {
        const std::string why = sources[t] ? sources[t]->InputFailure(expectedMs) : std::string();
        if (why.empty()) continue;
        LogMessageFormat(&task->log, "Decoding \"%s\" failed: %s", item->file ? item->file : "", why.c_str());
        SetItemError(kItemErrorSourceFail, item);
        return false;
    }
    return true;
}

// Channels 1..8, 8 to 32 whole-byte bits and a rate: anything else would divide by zero later.
bool UsableFormat(const WaveHeader& h) {
    return h.channels >= 1 && h.channels <= 8 && h.sampleRate > 0 &&
           (h.bitsPerSample == 8 || h.bitsPerSample == 16 || h.bitsPerSample == 24 || h.bitsPerSample == 32);
}

// What an output track's encoder is started with: the output's final name, the name written
// (a partial one while the job runs) and the expanded command line.
struct EncoderStart {
    std::string finalName, written, cmd;
    bool operator==(const EncoderStart&) const = default;
};

EncoderStart PlanEncoderStart(AudioTask* task, QueueItem* item, CAudioEncoder* enc, int t) {
    task->currentTrack = t;
    EncoderStart plan;
    plan.finalName = FinalOutputName(task, item);
    // "DestFile" in the command line names the same file as the destination given here.
    plan.written = GetTaskVariable(item, task, "DestFileAudio");
    if (!enc->commandLine.empty()) plan.cmd = ExpandCommandLineVariables(task, enc->commandLine.c_str(), item);
    return plan;
}

// Starts output track t's encoder as planned; false (the pass failed) when it did not start.
bool StartEncoder(AudioTask* task, QueueItem* item, CAudioEncoder* enc, int t, const EncoderStart& plan) {
    LogMessageKeyFormat(&task->log, "LOAD_ENCODER", enc->GetName(), 0);
    task->trackOutputPaths[t] = plan.finalName;
    task->writtenPaths[t] = plan.written;
    // A partial name is the program's own: a file left under it is never written through, since
    // it may still be a link of a finished output.
    if (task->writePartial.load() && plan.written != plan.finalName) platform::RemoveFileEntry(plan.written.c_str());
    if (!enc->Open(plan.written.c_str(), item, plan.cmd.empty() ? nullptr : plan.cmd.c_str())) {
        FailPass(task, kItemErrorEncoderFail, "ERROR_LOADING", enc->GetName());
        return false;
    }
    if (!task->analysisPass) {
        // The task's output is now the file its first encoder writes (readers take it under the
        // task's lock).
        {
            std::lock_guard<std::mutex> lock(task->mutex);
            if (t == 0) task->outputPath = plan.finalName;
            task->outputCreated = true;
        }
        enc->SetPriority(0);
    }
    return true;
}

// The encoder's start when nothing in it depends on the decoder's header: its names and command
// line come out the same for two different formats. Such an encoder is started beside its decoder
// instead of after the header arrives, as the same tools started side by side would be.
bool PlanWithoutHeader(AudioTask* task, QueueItem* item, CAudioEncoder* enc, int t, EncoderStart* plan) {
    if (task->analysisPass || task->toolReadsInput || !enc->Configure(task) || enc->commandLine.empty()) return false;
    // A line or name that asks the user is expanded once, when the header is there.
    const char* pattern = Prefs().GetString("overall.automation.fileNameFormat");
    if (enc->commandLine.find("UserInput") != std::string::npos || (pattern && std::strstr(pattern, "UserInput")))
        return false;
    const WaveHeader header = task->header;
    const uint16_t formatTag = task->formatTag, channels = task->channels, bits = task->bitsPerSample;
    const uint16_t blockAlign = task->blockAlign;
    const uint32_t sampleRate = task->sampleRate, byteRate = task->byteRate;
    WaveHeader one{}, other{};
    one.channels = 1, one.sampleRate = 8000, one.bitsPerSample = 8;
    other.channels = 2, other.sampleRate = 44100, other.bitsPerSample = 16;
    SetTaskFormat(task, one);
    const EncoderStart first = PlanEncoderStart(task, item, enc, t);
    SetTaskFormat(task, other);
    const EncoderStart second = PlanEncoderStart(task, item, enc, t);
    task->header = header;
    task->formatTag = formatTag, task->channels = channels, task->bitsPerSample = bits;
    task->blockAlign = blockAlign, task->sampleRate = sampleRate, task->byteRate = byteRate;
    if (!(first == second)) return false;
    *plan = first;
    return true;
}

// The tools of one pass: a source per input track, an encoder (and its writer) per output track.
struct PassTools {
    std::unique_ptr<PassSource> sources[2];
    std::unique_ptr<CAudioEncoder> encoders[2];
    std::unique_ptr<EncoderWriter> writers[2];
    int outputs = 0;
    int openedSources = 0;
    EncoderStart early[2];       // the start of an encoder started before the header
    bool started[2] = {false, false};

    // The task's view of the tools, for the threads and for the readers of its state.
    void Publish(AudioTask* task) {
        std::lock_guard<std::mutex> lock(task->mutex);
        for (int t = 0; t < 2; ++t) {
            task->encoders[t] = encoders[t].get();
            task->readers[t] = sources[t].get();
            task->writers[t] = writers[t].get();
        }
    }
};

// The pass's own encoders, one per output track, in place of the one the setup made.
bool MakePassEncoders(AudioTask* task, PassTools& tools) {
    {
        std::lock_guard<std::mutex> lock(task->mutex);
        if (task->encoders[0] == task->setupEncoder) task->encoders[0] = nullptr;
        delete task->setupEncoder;
        task->setupEncoder = nullptr;
    }
    tools.outputs = std::min(task->outputTracks, 2);
    for (int t = 0; t < tools.outputs; ++t) {
        tools.encoders[t] = CreateAudioEncoder(task->analysisPass ? kEncNull : task->encoderId);
        if (!tools.encoders[t]) {
            SetItemError(kItemErrorFormat, task->item);
            return false;
        }
        tools.encoders[t]->Configure(nullptr);
    }
    return true;
}

// The output's name for the readers of the task, the status text, the item's counters from 0.
void AnnouncePass(AudioTask* task) {
    QueueItem* item = task->item;
    task->state = 3;
    {
        const std::string output = FinalOutputName(task, item);
        std::lock_guard<std::mutex> lock(task->mutex);
        task->outputPath = output;
    }
    task->state = 2;
    const EngineContext* ctx = GetEngineContext();
    const int mode = ctx ? ctx->taskMode.load() : 0;
    const bool testPhase = item->flags.load() & kItemFlagTestPhase;
    if (!testPhase || mode == 2 || mode == 6) {
        const char* key = mode == 2 ? "benchmarking" : mode == 6 ? "streaming" : task->analysisPass ? "preprocessing" : "transcoding_audio";
        RaiseEvent(kEventStatusText, EngineText(key));
    }
    item->run.position = 0;
    item->run.bytes = 0;
    item->run.frames = 0;
}

// Sources, one per input track that has a stream; each starts its decoder.
bool OpenPassSources(AudioTask* task, PassTools& tools) {
    const bool feed = Prefs().GetBool("overall.decoding.feed");
    AudioStreamInfo* stream = task->item->audio;
    for (int t = 0; t < std::min(task->inputTracks, 2) && (stream || t == 0); ++t, stream = stream ? stream->next : nullptr) {
        task->currentTrack = t;
        uint32_t id = task->sourceId;
        if (task->analysisPass && id == 0) id = 1;
        std::unique_ptr<PassSource>& source = tools.sources[t];
        source = sourceMaker(id);
        if (!source) {
            FailPass(task, kItemErrorSourceFail, "SOURCE_FAIL", "");
            return false;
        }
        source->SetFeedFromStdin(feed);
        source->Configure(task);
        if (!source->Open(task)) {
            FailPass(task, kItemErrorSourceFail, "SOURCE_FAIL", source->Name());
            return false;
        }
        source->SetDecodePriority();
        ++tools.openedSources;
    }
    return true;
}

// Starts each encoder whose start needs nothing of the header; false when one failed to start.
bool StartEncodersEarly(AudioTask* task, PassTools& tools) {
    for (int t = 0; t < tools.outputs; ++t) {
        CAudioEncoder* enc = tools.encoders[t].get();
        if (!PlanWithoutHeader(task, task->item, enc, t, &tools.early[t])) continue;
        tools.started[t] = StartEncoder(task, task->item, enc, t, tools.early[t]);
        if (!tools.started[t]) return false;
    }
    return true;
}

// The decoders' headers, the format checked against every encoder, then the encoders not started
// yet started (and one started early whose line came out otherwise started again), with writers.
bool ReadHeadersAndStartEncoders(AudioTask* task, PassTools& tools) {
    QueueItem* item = task->item;
    for (int t = 0; t < tools.openedSources; ++t) {
        PassSource* source = tools.sources[t].get();
        if (!source->ReadHeader(task) || !source->Start() || !source->Prepare(task)) {
            FailPass(task, kItemErrorSourceFail, "SOURCE_FAIL", source->Name());
            return false;
        }
    }
    if (!UsableFormat(tools.sources[0]->Header())) {
        FailPass(task, kItemErrorSourceFail, "SOURCE_FAIL", tools.sources[0]->Name());
        return false;
    }
    SetTaskFormat(task, tools.sources[0]->Header());
    for (int t = 0; t < tools.outputs; ++t) {
        CAudioEncoder* enc = tools.encoders[t].get();
        if (!enc->CheckFormat(&task->header) || !enc->CheckSampleRate(static_cast<int>(task->sampleRate))) {
            FailPass(task, kItemErrorFormat, "INVALID_SAMPLE_RATE", enc->GetName());
            return false;
        }
        if (!enc->Configure(task)) {
            FailPass(task, kItemErrorFormat, "INCORRECT_SETTINGS", enc->GetName());
            return false;
        }
    }
    for (int t = 0; t < tools.outputs; ++t) {
        CAudioEncoder* enc = tools.encoders[t].get();
        const EncoderStart plan = PlanEncoderStart(task, item, enc, t);
        if (tools.started[t] && !(plan == tools.early[t])) {
            // The line came out otherwise after all (a counter or the clock in it): the early
            // tool goes and the encoder starts again with the line of now.
            LogMessage(&task->log, "The encoder is started again with the command line of now", 0);
            enc->Close();
            tools.started[t] = false;
        }
        if (!tools.started[t] && !StartEncoder(task, item, enc, t, plan)) return false;
        tools.writers[t] = std::make_unique<EncoderWriter>(enc, task->toolReadsInput ? task : nullptr);
    }
    return true;
}

// The audio threads, run with the engine mutex given up; false when the input was not decoded whole.
bool RunPassThreads(AudioTask* task, PassTools& tools) {
    task->currentTrack = 0;
    const EngineContext* ctx = GetEngineContext();
    platform::RecursiveMutex* engineMutex = ctx ? ctx->engineMutex : nullptr;
    if (engineMutex) engineMutex->unlock();
    RunAudioThreads(task, ReadAudioThreadSettings());
    if (engineMutex && !engineMutex->lockFor(5000)) LogMessage(&task->log, "Paralell tasks collision", 0);
    return CheckDecodedInput(task, tools.sources, tools.openedSources);
}

// The end of the pass, however it went: a pause lifted, each encoder finished (a tool that did not
// end cleanly fails the item) and its output tagged, the temporary file removed, every source
// closed and the task's view of the tools cleared.
void FinishPassTools(AudioTask* task, PassTools& tools, bool opened) {
    PrefStore& p = Prefs();
    QueueItem* item = task->item;
    {
        std::lock_guard<std::mutex> lock(task->mutex);
        task->state = 5;
        if (item->state.load() == kItemPaused)
            for (auto& enc : tools.encoders)
                if (enc) enc->SetRunning(true);
    }
    ChangeItemState(item, kItemPaused, kItemEncoding);
    for (int t = 0; t < tools.outputs; ++t) {
        CAudioEncoder* enc = tools.encoders[t].get();
        if (!enc) continue;
        if (tools.writers[t]) tools.writers[t]->Finish();
        // A tool that failed or had to be ended did not write a whole output.
        if (opened && !enc->FinishedCleanly() && item->state.load() < kItemStopping)
            FailPass(task, kItemErrorEncoderFail, nullptr, nullptr);
        enc->Close();
        LogMessageKeyFormat(&task->log, "UNLOADED", enc->GetName(), 0);
        const uint32_t state = item->state.load();
        if (opened && !task->analysisPass && !(enc->flags & kEncoderTagsOutput) && p.GetBool("overall.output.tag") &&
            (state == kItemEncoding || state == kItemFinishing))
            TagOutputFile(task->writtenPaths[t].c_str(), item);
    }
    if (!p.GetBool("overall.task.keepTemp")) {
        const std::string temp = GetTaskVariable(item, task, "TempFile") + ".wav";
        if (FileExist(temp.c_str())) RemoveOutputFile(temp.c_str(), 500);
    }
    for (auto& s : tools.sources)
        if (s) s->Close();
    std::lock_guard<std::mutex> lock(task->mutex);
    for (int t = 0; t < 2; ++t) {
        task->encoders[t] = nullptr;
        task->readers[t] = nullptr;
        task->writers[t] = nullptr;
    }
}

}  // namespace

void SetPassSourceMaker(PassSourceMaker maker) { sourceMaker = maker ? maker : EngineSource; }

bool TaskCreatedOutput(const AudioTask* task) { return task && task->outputCreated.load(); }

void InitAudioTask(AudioTask* task, int index) {
    task->index = index;
    task->pass = 1;
    task->passCount = 1;
    task->formatTag = 1;
    task->log = MakeLogSource("Audio");
    // At least one track: a count of 0 would leave the pass without source or encoder.
    int tracks = std::clamp(Prefs().GetInt("overall.audio.inputTracks"), 1, 2);
    const int codePage = platform::SystemAnsiCodePage();
    if (codePage == 936 || codePage <= 0) tracks = 1;
    task->inputTracks = task->outputTracks = tracks;
    task->applicator = Prefs().GetInt("audiofilter.generic.applicator");
}

void ReadAudioSettings(AudioTask* task, QueueItem* item) {
    PrefStore& p = Prefs();
    task->item = item;
    const char* format = p.GetEnumText("overall.audio.format", p.GetInt("overall.audio.format"));
    task->formatName = format ? format : "";
    task->sourceId = static_cast<uint32_t>(p.GetInt("overall.audio.source"));
    task->encoderId = -1;
    task->audioEnabled = p.GetBool("overall.audio.enabled") &&
                         (!item || item->audio || (item->flags.load() & kItemFlagSeparateAudio));
    task->copyAudio = p.GetBool("overall.audio.copy");
    if (p.GetBool("overall.audio.autoEncoder")) {
        const EngineContext* ctx = GetEngineContext();
        task->encoderId = ctx && ctx->taskMode.load() == 6 ? kEncFFmpeg : EncoderIdForFormat(task->formatName.c_str());
    } else {
        task->encoderId = p.GetInt("overall.audio.encoder");
    }
}

void SetupAudioTask(AudioTask* task, QueueItem* item) {
    PrefStore& p = Prefs();
    ReadAudioSettings(task, item);
    const int streams = CountStreams(item);
    int met = 0;
    for (AudioStreamInfo* s = item ? item->audio : nullptr; s && met < task->inputTracks; s = s->next, ++met)
        s->gain[0] = s->gain[1] = 0.0f;
    if (met > 0) task->inputTracks = met;

    task->start = item && item->begin ? static_cast<int32_t>(item->begin) : p.GetInt("overall.decoding.startTime");
    if (item && (item->flags.load() & kItemFlagTestPhase)) {
        task->start += p.GetInt("overall.task.testPhasePos");
        task->duration = p.GetInt("overall.task.testPhaseDuration");
    } else {
        task->duration = 0;
        if (item && item->end > item->begin) {
            task->duration = static_cast<int32_t>(item->end - item->begin);
        } else if (item && item->begin) {
            task->duration = item->duration > static_cast<int32_t>(item->begin)
                                 ? item->duration - static_cast<int32_t>(item->begin)
                                 : item->duration;
        }
        const int limit = p.GetInt("overall.decoding.duration");
        if (limit != 0 && (task->duration == 0 || limit < task->duration)) task->duration = limit;
    }

    if (task->audioEnabled) {
        if (streams == 1) task->inputTracks = 1;
        if (streams == 0 && !(item && (item->flags.load() & kItemFlagSeparateAudio))) task->outputTracks = 0;
    } else {
        task->outputTracks = 0;
    }
    if (!p.GetBool("overall.audio.trackConversion"))
        task->inputTracks = task->outputTracks = std::min(task->inputTracks, task->outputTracks);

    if (task->audioEnabled) {
        std::unique_ptr<CAudioEncoder> encoder = CreateAudioEncoder(task->encoderId);
        if (encoder) {
            encoder->Configure(task);
            task->encoderFlags = encoder->flags;
            const int ratio = p.GetInt("overall.audio.bitrateRatio");
            if (ratio > 0 && item && item->audio && item->audio->bitrate)
                task->bitrate = static_cast<int32_t>(int64_t{item->audio->bitrate} / 1000 * ratio / 100);
            else
                task->bitrate = encoder->EstimateBitrate(item, ratio);
            const uint32_t range = encoder->GetBitrateRange();
            const int32_t lower = static_cast<int32_t>(range & 0xFFFF), upper = static_cast<int32_t>(range >> 16);
            if (lower && task->bitrate < lower) task->bitrate = lower;
            if (upper && task->bitrate > upper) task->bitrate = upper;
            std::lock_guard<std::mutex> lock(task->mutex);
            delete task->setupEncoder;
            task->setupEncoder = encoder.release();
            // Until the pass makes its own, output names take the extension from this encoder.
            task->encoders[0] = task->setupEncoder;
        }
    }
    task->sourceId = static_cast<uint32_t>(ChooseSourceId(task, task->copyAudio));
}

void SetTaskFormat(AudioTask* task, const WaveHeader& h) {
    task->header = h;
    task->formatTag = 1;
    task->channels = h.channels;
    task->bitsPerSample = h.bitsPerSample;
    task->sampleRate = h.sampleRate;
    task->blockAlign = static_cast<uint16_t>(h.channels * h.bitsPerSample / 8);
    task->byteRate = task->blockAlign * h.sampleRate;
}

void FreeAudioTask(AudioTask* task) {
    if (!task) return;
    std::lock_guard<std::mutex> lock(task->mutex);
    if (task->encoders[0] == task->setupEncoder) task->encoders[0] = nullptr;
    delete task->setupEncoder;
    task->setupEncoder = nullptr;
}

bool RunAudioPass(AudioTask* task, bool analysisPass) {
    QueueItem* item = task->item;
    task->analysisPass = analysisPass;
    task->toolReadsInput = task->sourceId == kSourceDefault && !analysisPass;
    task->gainAnalysis = analysisPass || Prefs().GetBool("overall.audio.replayGain");

    if (!item || (!item->audio && !(item->flags.load() & kItemFlagSeparateAudio)) || task->inputTracks < 1 ||
        task->outputTracks < 1) {
        // The item's failure line gives only the code's meaning: this one says why.
        const bool noStream = !item || (!item->audio && !(item->flags.load() & kItemFlagSeparateAudio));
        LogMessageFormat(&task->log, "No audio to convert in %s (error %d: %s)", item && item->file ? item->file : "",
                         kItemErrorFormat, noStream ? "no audio stream found" : "no audio track to read or write");
        SetItemError(kItemErrorFormat, item);
        return false;
    }
    PassTools tools;
    if (!MakePassEncoders(task, tools)) return false;
    AnnouncePass(task);
    bool ok = OpenPassSources(task, tools);
    tools.Publish(task);
    // Encoders whose start needs nothing from the header start now, beside their decoders.
    if (ok) ok = StartEncodersEarly(task, tools);
    tools.Publish(task);
    bool opened = false;
    if (ok) {
        task->inputTracks = tools.openedSources;
        item->run.totalLength = static_cast<uint32_t>(task->duration ? task->duration : JoinedDuration(item));
        SetItemStateUnlessStopping(item, kItemEncoding);
        ok = ReadHeadersAndStartEncoders(task, tools);
        tools.Publish(task);
        if (ok) {
            opened = true;
            ok = RunPassThreads(task, tools);
        }
    }
    item->run.elapsed = static_cast<uint32_t>(platform::TickCount() - item->run.startTime.load());
    FinishPassTools(task, tools, opened);
    return ok;
}
