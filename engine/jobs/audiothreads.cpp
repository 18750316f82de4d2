#include "engine/jobs/audiothreads.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/context.h"
#include "engine/eventlog.h"
#include "engine/jobs/audiotask.h"
#include "engine/jobs/itemstate.h"
#include "engine/jobs/jobstats.h"
#include "engine/jobs/track_gain.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/sources/audio_source.h"
#include "engine/sources/winamp_host.h"
#include "platform/fs.h"
#include "platform/sync.h"

namespace {

// Waits are cut into slices so that an abort, a stop or the other side's end is seen at once.
constexpr uint32_t kWaitSliceMs = 50;
constexpr uint32_t kPauseStepMs = 100;

GainAnalysisFactory gainFactory = MakeTrackGainAnalysis;

bool Stopping(const QueueItem* item) { return item && item->state.load() >= kItemStopping; }

AudioStreamInfo* StreamOfTrack(QueueItem* item, int track) {
    return const_cast<AudioStreamInfo*>(AudioStreamOfTrack(item, track));
}

// Asks whether to go on waiting for the other thread, with the item shown as paused meanwhile.
// False: give up. A Stop pressed during the question is kept.
bool AskKeepWaiting(QueueItem* item, const char* key) {
    uint32_t before = item ? item->state.load() : kItemEncoding;
    if (before >= kItemStopping) return false;
    const bool held = ChangeItemState(item, before, kItemPaused);
    const char* caption = EngineText("audio_transcoding");
    const int answer = RaiseEvent(kEventAskCountdown, EngineText(key), reinterpret_cast<intptr_t>(caption));
    if (held) ChangeItemState(item, kItemPaused, before);
    return answer != 0 && !Stopping(item);
}

enum class WaitResult { kReady, kGiveUp, kLeave };

// One slice of a wait on the other thread: false once the time-out ran out and the user (or a
// stop or the test phase) does not want to sit it out; true to look again.
bool WaitSlice(AudioTask* task, const AudioThreadSettings& s, int track, platform::Event& event, uint32_t& waited,
               const char* promptKey) {
    QueueItem* item = task->item;
    if (track > 0) {
        platform::SleepMs(10);
        return true;
    }
    if (event.Wait(kWaitSliceMs)) {
        waited = 0;
        return true;
    }
    waited += kWaitSliceMs;
    if (waited < static_cast<uint32_t>(s.timeoutMs)) return true;
    waited = 0;
    const uint32_t state = item ? item->state.load() : kItemEncoding;
    if (state == kItemPaused || task->toStdout) return true;
    if (state >= kItemStopping || (item && (item->flags.load() & kItemFlagTestPhase))) return false;
    return AskKeepWaiting(item, promptKey);
}

// Decode side: waits until the block is empty. kGiveUp after a time-out nobody wanted to sit out;
// kLeave when the other side or the engine ends the pass.
WaitResult WaitBlockEmpty(AudioTask* task, const AudioThreadSettings& s, int track, std::atomic<int32_t>& count) {
    AudioBlockBuffer& buf = *task->buffer;
    uint32_t waited = 0;
    while (count.load(std::memory_order_acquire) != 0) {
        if (buf.abort.load() || buf.encodeDone.load() || Stopping(task->item)) return WaitResult::kLeave;
        if (!WaitSlice(task, s, track, buf.spaceFreed, waited, "encode_thread_block")) return WaitResult::kGiveUp;
    }
    return WaitResult::kReady;
}

// Encode side: waits until the block is filled (or holds the end marker).
WaitResult WaitBlockFilled(AudioTask* task, const AudioThreadSettings& s, int track, std::atomic<int32_t>& count) {
    AudioBlockBuffer& buf = *task->buffer;
    uint32_t waited = 0;
    while (count.load(std::memory_order_acquire) == 0) {
        if (buf.abort.load() || Stopping(task->item)) return WaitResult::kLeave;
        // The decode thread stores its last count before it sets `ended`: look once more.
        if (buf.ended.load()) return count.load(std::memory_order_acquire) ? WaitResult::kReady : WaitResult::kLeave;
        if (!WaitSlice(task, s, track, buf.dataReady, waited, "decode_thread_block")) return WaitResult::kGiveUp;
    }
    return WaitResult::kReady;
}

void SwapChannels16(uint8_t* block, int32_t bytes) {
    auto* s = reinterpret_cast<int16_t*>(block);
    for (int32_t i = 0; i + 1 < bytes / 2; i += 2) std::swap(s[i], s[i + 1]);
}

float StoredGain(GainAnalysis* analysis) {
    if (!analysis) return 0.0f;
    const float g = analysis->Result();
    return g == kGainNotEnoughSamples ? 0.0f : g;
}

}  // namespace

void SetGainAnalysisFactory(GainAnalysisFactory factory) { gainFactory = factory; }
GainAnalysis* MakeGainAnalysis(uint32_t sampleRate) { return gainFactory ? gainFactory(sampleRate) : nullptr; }

AudioThreadSettings ReadAudioThreadSettings() {
    PrefStore& p = GetPrefStore();
    AudioThreadSettings s;
    s.timeoutMs = std::max(p.GetInt("overall.audio.timeout"), 100);
    s.balancing = p.GetBool("audiofilter.volume.balancing");
    s.delayMs = p.GetInt("overall.audio.delay");
    s.reverseChannels = p.GetBool("overall.audio.reverseChannels");
    s.reverseTracks = p.GetBool("overall.audio.reverseTracks");
    s.downmixMode = p.GetInt("overall.audio.trackDownmixMode");
    s.speed = std::max(p.GetInt("overall.decoding.speed"), 1);
    s.encodingSpeed = p.GetFloat("overall.generic.encodingSpeed");
    return s;
}

int32_t SpeedReducedCount(int32_t count, int32_t speed, int32_t blockAlign) {
    if (count <= 0) return 0;
    if (speed <= 1) return count;
    if (blockAlign < 1) blockAlign = 1;
    int32_t n = count / speed / blockAlign * blockAlign;
    if (n < blockAlign) n = blockAlign;
    return std::min(n, count);
}

int64_t BytesForMs(int64_t ms, uint32_t byteRate, uint32_t blockAlign) {
    if (ms <= 0 || byteRate == 0) return 0;
    int64_t bytes = ms / 1000 * byteRate + (ms % 1000) * byteRate / 1000;
    if (blockAlign > 1) bytes -= bytes % blockAlign;
    return bytes;
}

void MixTracks(const int16_t* t0, const int16_t* t1, int16_t* out, int64_t frames, int mode, bool reverse) {
    if (mode >= 4 || mode < 1) {
        if (out != t1) std::memmove(out, t1, static_cast<size_t>(frames) * 4);
        return;
    }
    for (int64_t f = 0; f < frames; ++f) {
        const int16_t l0 = t0[2 * f], r0 = t0[2 * f + 1], l1 = t1[2 * f], r1 = t1[2 * f + 1];
        int16_t left, right;
        if (mode == 1) {
            const int16_t m0 = static_cast<int16_t>((l0 >> 1) + (r0 >> 1));
            const int16_t m1 = static_cast<int16_t>((l1 >> 1) + (r1 >> 1));
            left = reverse ? m1 : m0;
            right = reverse ? m0 : m1;
        } else if (mode == 2) {
            left = reverse ? l1 : l0;
            right = reverse ? l0 : r1;
        } else {
            left = reverse ? l1 : r0;
            right = reverse ? r0 : r1;
        }
        out[2 * f] = left;
        out[2 * f + 1] = right;
    }
}

int AudioDecodeThread(AudioTask* task, const AudioThreadSettings& s) {
    AudioBlockBuffer& buf = *task->buffer;
    QueueItem* item = task->item;
    const int tracks = std::clamp(std::min(task->inputTracks, buf.tracks), 1, 2);
    uint32_t index = buf.writeIndex;
    if (buf.abort.load()) return -1;

    const uint32_t byteRate = task->byteRate;
    const uint32_t blockAlign = task->blockAlign ? task->blockAlign : task->channels * task->bitsPerSample / 8;
    const bool balancing = s.balancing && tracks == 1;

    // One analysis per track; a second for the right channel with balancing. No analysis exists
    // for a rate the analyser does not know: the gain then stays 0 dB.
    std::unique_ptr<GainAnalysis> analyses[2];
    std::unique_ptr<GainAnalysis> rightAnalysis;
    if (task->gainAnalysis) {
        for (int t = 0; t < tracks; ++t)
            if (StreamOfTrack(item, t)) analyses[t].reset(MakeGainAnalysis(task->sampleRate));
        if (balancing) rightAnalysis.reset(MakeGainAnalysis(task->sampleRate));
        if (!analyses[0]) LogMessageFormat(&task->log, "No gain analysis at %u Hz", task->sampleRate);
    }
    std::vector<int16_t> left, right;
    if (balancing) {
        left.resize(kAudioBlockBytes / 4);
        right.resize(kAudioBlockBytes / 4);
    }

    auto finish = [&](bool placeMarker) {
        // The end marker goes only into a block this thread owns; otherwise `ended` alone tells.
        if (placeMarker && buf.counts[0][index].load(std::memory_order_acquire) == 0)
            buf.counts[0][index].store(kAudioBlockEnd, std::memory_order_release);
        // Gains are stored on every analysing pass; a track without analysis gets 0 dB.
        if (task->gainAnalysis && balancing) {
            if (AudioStreamInfo* st = StreamOfTrack(item, 0)) {
                st->gain[0] = StoredGain(analyses[0].get());
                st->gain[1] = StoredGain(rightAnalysis.get());
            }
        } else if (task->gainAnalysis) {
            for (int t = 0; t < tracks; ++t)
                if (AudioStreamInfo* st = StreamOfTrack(item, t)) st->gain[0] = StoredGain(analyses[t].get());
        }
        buf.writeIndex = index;
        buf.ended.store(true);
        buf.dataReady.Set();
    };
    auto overflow = [&]() {
        LogMessage(&task->log, "Audio buffer overflow, encoding thread blocked. decoding thread to exit.", 0);
        if (item && item->state.load() == kItemEncoding) SetItemError(kItemErrorEncoderFail, item);
        buf.abort.store(1);
        finish(false);
        return -1;
    };

    if (!byteRate || !blockAlign) {
        finish(true);
        return -1;
    }

    // A negative start delay is dropped from the track's source, a block at a time.
    for (int t = 0; t < tracks; ++t) {
        const AudioStreamInfo* st = StreamOfTrack(item, t);
        const int64_t d = static_cast<int64_t>(st ? static_cast<int32_t>(st->delay) : 0) + s.delayMs;
        if (d >= 0 || !task->readers[t]) continue;
        int64_t remaining = BytesForMs(-d, byteRate, blockAlign);
        uint8_t* scratch = buf.blocks[t][index];  // owned: every count is 0 before the first round
        while (remaining > 0) {
            const int32_t want = static_cast<int32_t>(std::min<int64_t>(remaining, kAudioBlockBytes));
            const int32_t got = task->readers[t]->Read(scratch, want);
            if (got < 0) break;
            remaining -= got;
            if (got == 0 && buf.abort.load()) break;
        }
    }

    // DSP plug-ins get a second of silence first; with any running, blocks are read half full so
    // that a plug-in may double the frames it is given.
    DspChain dsp(task->bitsPerSample, task->channels, task->sampleRate, static_cast<uint16_t>(blockAlign));
    dsp.WarmUp(byteRate);
    const int32_t readSize = dsp.Active() ? dsp.MaxInput() : kAudioBlockBytes;

    const int64_t limit = task->duration > 0 ? BytesForMs(task->duration, byteRate, blockAlign) : 0;
    int64_t delivered[2] = {0, 0};

    while (!Stopping(item) && !buf.abort.load()) {
        bool endOfData = false;
        bool reachedLimit = false;
        for (int t = 0; t < tracks; ++t) {
            while (item && item->state.load() == kItemPaused && !buf.abort.load() && !buf.encodeDone.load()) {
                platform::SleepMs(kPauseStepMs);
                item->run.startTime = item->run.startTime.load() + kPauseStepMs;
            }
            std::atomic<int32_t>& count = buf.counts[t][index];
            const WaitResult w = WaitBlockEmpty(task, s, t, count);
            if (w == WaitResult::kGiveUp) return overflow();
            if (w == WaitResult::kLeave) {
                finish(false);
                return -1;
            }
            uint8_t* block = buf.blocks[t][index];
            PcmReader* reader = task->readers[t];
            int32_t bytes = -1;
            bool emptiedByDsp = false;
            do {
                if (!reader) break;
                if (tracks == 1) {
                    bytes = reader->Read(block, readSize);
                } else {
                    bytes = 0;
                    while (bytes < readSize) {
                        const int32_t got = reader->Read(block + bytes, readSize - bytes);
                        if (got < 1) break;
                        bytes += got;
                    }
                }
                // A DSP plug-in that keeps nothing of a block leaves it empty: the next read refills it.
                emptiedByDsp = false;
                if (bytes > 0 && dsp.Active()) {
                    bytes = dsp.Process(block, bytes, kAudioBlockBytes);
                    emptiedByDsp = bytes < 1;
                }
            } while (emptiedByDsp && !buf.abort.load() && !Stopping(item));
            if (limit > 0 && bytes > 0 && delivered[t] + bytes >= limit) {
                bytes = static_cast<int32_t>(limit - delivered[t]);
                reachedLimit = true;
            }
            if (bytes < 1) {
                count.store(kAudioBlockEnd, std::memory_order_release);
                endOfData = true;
                break;
            }
            delivered[t] += bytes;
            if (task->bitsPerSample == 16 && (analyses[t] || (t == 0 && rightAnalysis))) {
                const auto* samples = reinterpret_cast<const int16_t*>(block);
                const int64_t frames = bytes / blockAlign;
                if (task->channels == 1) {
                    if (analyses[t]) analyses[t]->Analyze(samples, frames, 1);
                } else if (task->channels == 2) {
                    if (balancing) {
                        for (int64_t f = 0; f < frames; ++f) {
                            left[f] = samples[2 * f];
                            right[f] = samples[2 * f + 1];
                        }
                        if (analyses[0]) analyses[0]->Analyze(left.data(), frames, 1);
                        if (rightAnalysis) rightAnalysis->Analyze(right.data(), frames, 1);
                    } else if (analyses[t]) {
                        analyses[t]->Analyze(samples, frames, 2);
                    }
                }
            }
            count.store(bytes, std::memory_order_release);
        }
        if (endOfData) {
            finish(false);
            return 0;
        }
        buf.dataReady.Set();
        index = (index + 1) % kAudioBlockCount;
        if (reachedLimit) {
            // The range is complete: the end marker follows in the next block once it is free.
            const WaitResult w = WaitBlockEmpty(task, s, 0, buf.counts[0][index]);
            if (w == WaitResult::kGiveUp) return overflow();
            finish(w == WaitResult::kReady);
            return 0;
        }
    }
    finish(true);
    return 0;
}

int AudioEncodeThread(AudioTask* task, const AudioThreadSettings& s) {
    AudioBlockBuffer& buf = *task->buffer;
    QueueItem* item = task->item;
    const int tracks = std::clamp(std::min(task->inputTracks, buf.tracks), 1, 2);
    const int32_t speed = std::max(s.speed, 1);
    if (EngineContext* ctx = GetEngineContext()) ctx->encodingSpeed = s.encodingSpeed;
    uint32_t index = buf.readIndex;
    const uint64_t threadStart = platform::TickCount();

    auto finish = [&](int rc) {
        if (item) item->run.elapsed = static_cast<uint32_t>(platform::TickCount() - item->run.startTime.load());
        buf.readIndex = index;
        buf.encodeDone.store(true);
        for (PcmWriter* w : task->writers)
            if (w) w->BeforeFinish();
        std::lock_guard<std::mutex> lock(task->mutex);
        task->state = 5;  // finishing: a pause no longer reaches the tools
        for (PcmWriter* w : task->writers)
            if (w) w->Finish();
        return rc;
    };

    // The first data (or the end) must come within the first-data time-out.
    while (buf.counts[0][index].load(std::memory_order_acquire) == 0 && !buf.ended.load()) {
        if (buf.abort.load() || Stopping(item)) return finish(-1);
        if (platform::TickCount() - threadStart >= static_cast<uint64_t>(s.firstDataTimeoutMs)) return finish(-1);
        buf.dataReady.Wait(kWaitSliceMs);
    }
    if (buf.abort.load() || !task->readers[0] || buf.ready.load(std::memory_order_acquire) != 1) return finish(-1);
    for (PcmWriter* w : task->writers)
        if (w && !w->WriteHeader(task->header)) return finish(-1);
    for (PcmWriter* w : task->writers)
        if (w && !w->IsReady()) return finish(-1);

    if (item) item->run.startTime = platform::TickCount();
    const int mix = tracks == 2 && task->outputTracks == 1 ? s.downmixMode + 1 : 0;
    const bool stereo16 = task->channels == 2 && task->bitsPerSample == 16;
    const uint32_t blockAlign = task->blockAlign ? task->blockAlign : 1;
    uint64_t totalBytes = 0;

    while (!Stopping(item) && !buf.abort.load()) {
        int32_t count0 = 0;
        for (int t = 0; t < tracks; ++t) {
            std::atomic<int32_t>& count = buf.counts[t][index];
            const WaitResult w = WaitBlockFilled(task, s, t, count);
            if (w == WaitResult::kGiveUp) {
                LogMessage(&task->log, "Audio buffer underflow, decoding thread blocked, encoding thread to exit.", 0);
                if (item && item->state.load() == kItemEncoding) SetItemError(kItemErrorSourceFail, item);
                buf.abort.store(1);
                for (PcmReader* r : task->readers)
                    if (r) r->Stop();
                return finish(-1);
            }
            if (w == WaitResult::kLeave) return finish(-1);
            const int32_t c = count.load(std::memory_order_acquire);
            if (c == kAudioBlockEnd) {
                for (int u = 0; u <= t; ++u) buf.counts[u][index].store(0, std::memory_order_release);
                buf.spaceFreed.Set();
                return finish(0);
            }
            if (t == 0) {
                count0 = c;
            } else if (c != count0) {
                LogMessage(&task->log, "Audio decoders not relevant.", 0);
                return finish(-1);
            }
            const int32_t n = SpeedReducedCount(c, speed, static_cast<int32_t>(blockAlign));
            uint8_t* block = buf.blocks[t][index];
            PcmWriter* writer = nullptr;
            if (mix) {
                if (t == 0) continue;
                if (stereo16)
                    MixTracks(reinterpret_cast<const int16_t*>(buf.blocks[0][index]), reinterpret_cast<int16_t*>(block),
                              reinterpret_cast<int16_t*>(block), c / 4, mix, s.reverseTracks);
                writer = task->writers[0];
            } else {
                if (s.reverseChannels && stereo16) SwapChannels16(block, c);
                writer = task->writers[t];
            }
            if (!writer) continue;
            if (writer->Write(block, n) != n) {
                std::fputs("Audio encoder terminated\n", stderr);
                if (item && item->state.load() < kItemStopping) SetItemError(kItemErrorEncoderFail, item);
                return finish(-1);
            }
            task->outputBytes.fetch_add(n);
        }
        // A round's blocks are released together, after every track of it was written.
        for (int t = 0; t < tracks; ++t) buf.counts[t][index].store(0, std::memory_order_release);
        index = (index + 1) % kAudioBlockCount;
        buf.spaceFreed.Set();
        totalBytes += static_cast<uint64_t>(count0);
        if (item) {
            item->run.bytes = totalBytes;
            if (task->byteRate) item->run.position = static_cast<uint32_t>(totalBytes * 1000 / task->byteRate);
            item->run.frames = static_cast<uint32_t>(totalBytes / blockAlign);
            SampleItemStats(item);
        }
        task->rounds.fetch_add(1);
    }
    return finish(0);
}

void RunAudioThreads(AudioTask* task, const AudioThreadSettings& s, const std::function<void()>& poll) {
    AudioBlockBuffer& buf = *task->buffer;
    QueueItem* item = task->item;
    ResetBlockBuffer(buf);
    std::atomic<bool> encodeEnded{false}, decodeEnded{false};
    platform::Event threadEnded(true, false);
    std::thread encoder([&] {
        AudioEncodeThread(task, s);
        encodeEnded.store(true);
        threadEnded.Set();
    });
    std::thread decoder([&] {
        AudioDecodeThread(task, s);
        decodeEnded.store(true);
        threadEnded.Set();
    });

    // Watch: a stop, the end of either thread, or a pass that no longer moves.
    int64_t lastRounds = -1;
    uint64_t lastMove = platform::TickCount();
    const uint64_t stallMs = 2ull * static_cast<uint64_t>(s.timeoutMs);
    auto stalled = [&] {
        const int64_t rounds = task->rounds.load();
        const uint64_t now = platform::TickCount();
        const uint32_t state = item ? item->state.load() : kItemEncoding;
        // A tool that reads its input itself moves no blocks; the pass watches it on its own.
        if (rounds != lastRounds || state != kItemEncoding || task->toStdout || task->toolReadsInput) {
            lastRounds = rounds;
            lastMove = now;
            return false;
        }
        if (now - lastMove < stallMs) return false;
        bool full = false;
        for (const auto& c : buf.counts[0]) full = full || c.load(std::memory_order_acquire) > 0;
        LogMessage(&task->log, full ? "The encoder stopped taking audio." : "The decoder stopped delivering audio.", 0);
        SetItemError(full ? kItemErrorEncoderFail : kItemErrorSourceFail, item);
        return true;
    };
    for (;;) {
        if (Stopping(item) || encodeEnded.load()) break;
        if (decodeEnded.load()) {
            if (!buf.ended.load() && item && item->state.load() == kItemEncoding) SetItemError(kItemErrorSourceFail, item);
            break;
        }
        threadEnded.Wait(500);
        if (poll) poll();
        if (stalled()) break;
    }

    // Unless the decoder finished and the encoder drains what is left, both threads leave now.
    auto abortAll = [&] {
        buf.abort.store(1);
        buf.dataReady.Set();
        buf.spaceFreed.Set();
    };
    const bool draining = decodeEnded.load() && buf.ended.load() && !Stopping(item) && !encodeEnded.load();
    if (!draining) abortAll();
    // Bounded ends: a thread still blocked in a tool's pipe after a grace time gets its tool ended.
    constexpr uint64_t kGraceMs = 2000;
    uint64_t since = platform::TickCount();
    int64_t roundsSeen = task->rounds.load();
    bool readersStopped = false, writersCancelled = false;
    while (!(encodeEnded.load() && decodeEnded.load())) {
        threadEnded.Reset();
        if (encodeEnded.load() && decodeEnded.load()) break;
        threadEnded.Wait(100);
        if (poll) poll();
        const uint64_t now = platform::TickCount();
        const int64_t rounds = task->rounds.load();
        if (rounds != roundsSeen) {
            roundsSeen = rounds;
            since = now;
        }
        if (!buf.abort.load()) {
            // Draining: only a drain that no longer moves is cut short.
            if (Stopping(item) || stalled()) abortAll(), since = now;
            continue;
        }
        if (now - since < kGraceMs) continue;
        if (!decodeEnded.load() && !readersStopped) {
            for (PcmReader* r : task->readers)
                if (r) r->Stop();
            readersStopped = true;
        }
        if (!encodeEnded.load() && !writersCancelled) {
            for (PcmWriter* w : task->writers)
                if (w) w->Cancel();
            writersCancelled = true;
        }
    }
    decoder.join();
    encoder.join();
}
