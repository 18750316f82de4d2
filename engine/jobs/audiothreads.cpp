#include "engine/jobs/audiothreads.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
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

namespace {

// One decode thread's pass over the block buffer: it reads the sources into the blocks, analyses
// the gain on the way and marks the end. Its steps, in order: drop a negative start delay, then
// fill one round of blocks (one per track) after the other until the sources end, the range is
// complete or the pass is left.
class DecodeRun {
public:
    DecodeRun(AudioTask* task, const AudioThreadSettings& s)
        : task_(task),
          s_(s),
          buf_(*task->buffer),
          item_(task->item),
          tracks_(std::clamp(std::min(task->inputTracks, buf_.tracks), 1, 2)),
          index_(buf_.writeIndex),
          byteRate_(task->byteRate),
          blockAlign_(task->blockAlign ? task->blockAlign : task->channels * task->bitsPerSample / 8),
          balancing_(s.balancing && tracks_ == 1) {}

    int Run() {
        if (buf_.abort.load()) return -1;
        MakeAnalyses();
        if (!byteRate_ || !blockAlign_) {
            Finish(true);
            return -1;
        }
        DropNegativeDelay();
        // DSP plug-ins get a second of silence first; with any running, blocks are read half full
        // so that a plug-in may double the frames it is given.
        dsp_.emplace(task_->bitsPerSample, task_->channels, task_->sampleRate, static_cast<uint16_t>(blockAlign_));
        dsp_->WarmUp(byteRate_);
        readSize_ = dsp_->Active() ? dsp_->MaxInput() : kAudioBlockBytes;
        limit_ = task_->duration > 0 ? BytesForMs(task_->duration, byteRate_, blockAlign_) : 0;
        while (!Stopping(item_) && !buf_.abort.load()) {
            const Round round = FillRound();
            if (round == Round::kOverflow) return Overflow();
            if (round == Round::kLeave) {
                Finish(false);
                return -1;
            }
            if (round == Round::kEnd) {
                Finish(false);
                return 0;
            }
            buf_.dataReady.Set();
            index_ = (index_ + 1) % kAudioBlockCount;
            if (round == Round::kRangeComplete) {
                // The end marker follows in the next block once it is free.
                const WaitResult w = WaitBlockEmpty(task_, s_, 0, buf_.counts[0][index_]);
                if (w == WaitResult::kGiveUp) return Overflow();
                Finish(w == WaitResult::kReady);
                return 0;
            }
        }
        Finish(true);
        return 0;
    }

private:
    enum class Round { kFilled, kRangeComplete, kEnd, kLeave, kOverflow };

    // One analysis per track; a second for the right channel with balancing. No analysis exists
    // for a rate the analyser does not know: the gain then stays 0 dB.
    void MakeAnalyses() {
        if (!task_->gainAnalysis) return;
        for (int t = 0; t < tracks_; ++t)
            if (StreamOfTrack(item_, t)) analyses_[t].reset(MakeGainAnalysis(task_->sampleRate));
        if (balancing_) {
            rightAnalysis_.reset(MakeGainAnalysis(task_->sampleRate));
            left_.resize(kAudioBlockBytes / 4);
            right_.resize(kAudioBlockBytes / 4);
        }
        if (!analyses_[0]) LogMessageFormat(&task_->log, "No gain analysis at %u Hz", task_->sampleRate);
    }

    // A negative start delay is dropped from the track's source, a block at a time.
    void DropNegativeDelay() {
        for (int t = 0; t < tracks_; ++t) {
            const AudioStreamInfo* st = StreamOfTrack(item_, t);
            const int64_t d = static_cast<int64_t>(st ? static_cast<int32_t>(st->delay) : 0) + s_.delayMs;
            if (d >= 0 || !task_->readers[t]) continue;
            int64_t remaining = BytesForMs(-d, byteRate_, blockAlign_);
            uint8_t* scratch = buf_.blocks[t][index_];  // owned: every count is 0 before the first round
            while (remaining > 0) {
                const int32_t want = static_cast<int32_t>(std::min<int64_t>(remaining, kAudioBlockBytes));
                const int32_t got = task_->readers[t]->Read(scratch, want);
                if (got < 0) break;
                remaining -= got;
                if (got == 0 && buf_.abort.load()) break;
            }
        }
    }

    // While the item is paused the thread waits, and the item's clock with it.
    void WaitWhilePaused() {
        while (item_ && item_->state.load() == kItemPaused && !buf_.abort.load() && !buf_.encodeDone.load()) {
            platform::SleepMs(kPauseStepMs);
            item_->run.startTime = item_->run.startTime.load() + kPauseStepMs;
        }
    }

    // Fills the current block of every track.
    Round FillRound() {
        bool rangeComplete = false;
        for (int t = 0; t < tracks_; ++t) {
            WaitWhilePaused();
            std::atomic<int32_t>& count = buf_.counts[t][index_];
            const WaitResult w = WaitBlockEmpty(task_, s_, t, count);
            if (w == WaitResult::kGiveUp) return Round::kOverflow;
            if (w == WaitResult::kLeave) return Round::kLeave;
            uint8_t* block = buf_.blocks[t][index_];
            int32_t bytes = ReadBlock(task_->readers[t], block);
            if (limit_ > 0 && bytes > 0 && delivered_[t] + bytes >= limit_) {
                bytes = static_cast<int32_t>(limit_ - delivered_[t]);
                rangeComplete = true;
            }
            if (bytes < 1) {
                count.store(kAudioBlockEnd, std::memory_order_release);
                return Round::kEnd;
            }
            delivered_[t] += bytes;
            Analyse(t, block, bytes);
            count.store(bytes, std::memory_order_release);
        }
        return rangeComplete ? Round::kRangeComplete : Round::kFilled;
    }

    // Reads one block from the track's source through the DSP plug-ins; the bytes, < 1 at the end.
    int32_t ReadBlock(PcmReader* reader, uint8_t* block) {
        int32_t bytes = -1;
        bool emptiedByDsp = false;
        do {
            if (!reader) break;
            if (tracks_ == 1) {
                bytes = reader->Read(block, readSize_);
            } else {
                bytes = 0;
                while (bytes < readSize_) {
                    const int32_t got = reader->Read(block + bytes, readSize_ - bytes);
                    if (got < 1) break;
                    bytes += got;
                }
            }
            // A DSP plug-in that keeps nothing of a block leaves it empty: the next read refills it.
            emptiedByDsp = false;
            if (bytes > 0 && dsp_->Active()) {
                bytes = dsp_->Process(block, bytes, kAudioBlockBytes);
                emptiedByDsp = bytes < 1;
            }
        } while (emptiedByDsp && !buf_.abort.load() && !Stopping(item_));
        return bytes;
    }

    // Feeds a 16-bit block to the track's gain analysis (left and right apart with balancing).
    void Analyse(int t, const uint8_t* block, int32_t bytes) {
        if (task_->bitsPerSample != 16 || !(analyses_[t] || (t == 0 && rightAnalysis_))) return;
        const auto* samples = reinterpret_cast<const int16_t*>(block);
        const int64_t frames = bytes / blockAlign_;
        if (task_->channels == 1) {
            if (analyses_[t]) analyses_[t]->Analyze(samples, frames, 1);
        } else if (task_->channels == 2) {
            if (balancing_) {
                for (int64_t f = 0; f < frames; ++f) {
                    left_[f] = samples[2 * f];
                    right_[f] = samples[2 * f + 1];
                }
                if (analyses_[0]) analyses_[0]->Analyze(left_.data(), frames, 1);
                if (rightAnalysis_) rightAnalysis_->Analyze(right_.data(), frames, 1);
            } else if (analyses_[t]) {
                analyses_[t]->Analyze(samples, frames, 2);
            }
        }
    }

    // Ends the pass: the end marker (only into a block this thread owns; otherwise `ended` alone
    // tells), the gains (stored on every analysing pass, 0 dB for a track without analysis).
    void Finish(bool placeMarker) {
        if (placeMarker && buf_.counts[0][index_].load(std::memory_order_acquire) == 0)
            buf_.counts[0][index_].store(kAudioBlockEnd, std::memory_order_release);
        if (task_->gainAnalysis && balancing_) {
            if (AudioStreamInfo* st = StreamOfTrack(item_, 0)) {
                st->gain[0] = StoredGain(analyses_[0].get());
                st->gain[1] = StoredGain(rightAnalysis_.get());
            }
        } else if (task_->gainAnalysis) {
            for (int t = 0; t < tracks_; ++t)
                if (AudioStreamInfo* st = StreamOfTrack(item_, t)) st->gain[0] = StoredGain(analyses_[t].get());
        }
        buf_.writeIndex = index_;
        buf_.ended.store(true);
        buf_.dataReady.Set();
    }

    int Overflow() {
        LogMessage(&task_->log, "Audio buffer overflow, encoding thread blocked. decoding thread to exit.", 0);
        if (item_ && item_->state.load() == kItemEncoding) SetItemError(kItemErrorEncoderFail, item_);
        buf_.abort.store(1);
        Finish(false);
        return -1;
    }

    AudioTask* task_;
    const AudioThreadSettings& s_;
    AudioBlockBuffer& buf_;
    QueueItem* item_;
    const int tracks_;
    uint32_t index_;
    const uint32_t byteRate_;
    const uint32_t blockAlign_;
    const bool balancing_;
    std::optional<DspChain> dsp_;
    int32_t readSize_ = kAudioBlockBytes;
    int64_t limit_ = 0;
    int64_t delivered_[2] = {0, 0};
    std::unique_ptr<GainAnalysis> analyses_[2];
    std::unique_ptr<GainAnalysis> rightAnalysis_;
    std::vector<int16_t> left_, right_;
};

}  // namespace

int AudioDecodeThread(AudioTask* task, const AudioThreadSettings& s) { return DecodeRun(task, s).Run(); }

namespace {

// One encode thread's pass over the block buffer: it waits for the first data, gives the writers
// the header, then writes one round of blocks (one per track, mixed or swapped as set) after the
// other until the end marker, an error or the pass is left.
class EncodeRun {
public:
    EncodeRun(AudioTask* task, const AudioThreadSettings& s)
        : task_(task),
          s_(s),
          buf_(*task->buffer),
          item_(task->item),
          tracks_(std::clamp(std::min(task->inputTracks, buf_.tracks), 1, 2)),
          speed_(std::max(s.speed, 1)),
          index_(buf_.readIndex),
          mix_(tracks_ == 2 && task->outputTracks == 1 ? s.downmixMode + 1 : 0),
          stereo16_(task->channels == 2 && task->bitsPerSample == 16),
          blockAlign_(task->blockAlign ? task->blockAlign : 1) {}

    int Run() {
        if (EngineContext* ctx = GetEngineContext()) ctx->encodingSpeed = s_.encodingSpeed;
        if (!WaitFirstData() || !StartWriters()) return Finish(-1);
        if (item_) item_->run.startTime = platform::TickCount();
        while (!Stopping(item_) && !buf_.abort.load()) {
            const int rc = WriteRound();
            if (rc != kRoundWritten) return Finish(rc);
        }
        return Finish(0);
    }

private:
    static constexpr int kRoundWritten = 1;

    // The first data (or the end) must come within the first-data time-out.
    bool WaitFirstData() {
        const uint64_t threadStart = platform::TickCount();
        while (buf_.counts[0][index_].load(std::memory_order_acquire) == 0 && !buf_.ended.load()) {
            if (buf_.abort.load() || Stopping(item_)) return false;
            if (platform::TickCount() - threadStart >= static_cast<uint64_t>(s_.firstDataTimeoutMs)) return false;
            buf_.dataReady.Wait(kWaitSliceMs);
        }
        return !buf_.abort.load() && task_->readers[0] && buf_.ready.load(std::memory_order_acquire) == 1;
    }

    // Every writer takes the header and is ready for data.
    bool StartWriters() {
        for (PcmWriter* w : task_->writers)
            if (w && !w->WriteHeader(task_->header)) return false;
        for (PcmWriter* w : task_->writers)
            if (w && !w->IsReady()) return false;
        return true;
    }

    // Writes the current block of every track; kRoundWritten, or the pass's result when it ends.
    int WriteRound() {
        int32_t count0 = 0;
        for (int t = 0; t < tracks_; ++t) {
            std::atomic<int32_t>& count = buf_.counts[t][index_];
            const WaitResult w = WaitBlockFilled(task_, s_, t, count);
            if (w == WaitResult::kGiveUp) return Underflow();
            if (w == WaitResult::kLeave) return -1;
            const int32_t c = count.load(std::memory_order_acquire);
            if (c == kAudioBlockEnd) {
                for (int u = 0; u <= t; ++u) buf_.counts[u][index_].store(0, std::memory_order_release);
                buf_.spaceFreed.Set();
                return 0;
            }
            if (t == 0) {
                count0 = c;
            } else if (c != count0) {
                LogMessage(&task_->log, "Audio decoders not relevant.", 0);
                return -1;
            }
            if (!WriteBlock(t, c)) return -1;
        }
        // A round's blocks are released together, after every track of it was written.
        for (int t = 0; t < tracks_; ++t) buf_.counts[t][index_].store(0, std::memory_order_release);
        index_ = (index_ + 1) % kAudioBlockCount;
        buf_.spaceFreed.Set();
        NoteProgress(count0);
        task_->rounds.fetch_add(1);
        return kRoundWritten;
    }

    // Gives one track's block (c bytes) to its writer: mixed into the second track's block when
    // two tracks become one, channels swapped when asked. False when the writer failed.
    bool WriteBlock(int t, int32_t c) {
        const int32_t n = SpeedReducedCount(c, speed_, static_cast<int32_t>(blockAlign_));
        uint8_t* block = buf_.blocks[t][index_];
        PcmWriter* writer = nullptr;
        if (mix_) {
            if (t == 0) return true;
            if (stereo16_)
                MixTracks(reinterpret_cast<const int16_t*>(buf_.blocks[0][index_]), reinterpret_cast<int16_t*>(block),
                          reinterpret_cast<int16_t*>(block), c / 4, mix_, s_.reverseTracks);
            writer = task_->writers[0];
        } else {
            if (s_.reverseChannels && stereo16_) SwapChannels16(block, c);
            writer = task_->writers[t];
        }
        if (!writer) return true;
        if (writer->Write(block, n) != n) {
            LogMessage(&task_->log, "Audio encoder terminated", 0);
            if (item_ && item_->state.load() < kItemStopping) SetItemError(kItemErrorEncoderFail, item_);
            return false;
        }
        task_->outputBytes.fetch_add(n);
        return true;
    }

    void NoteProgress(int32_t roundBytes) {
        totalBytes_ += static_cast<uint64_t>(roundBytes);
        if (!item_) return;
        item_->run.bytes = totalBytes_;
        if (task_->byteRate) item_->run.position = static_cast<uint32_t>(totalBytes_ * 1000 / task_->byteRate);
        item_->run.frames = static_cast<uint32_t>(totalBytes_ / blockAlign_);
        SampleItemStats(item_);
    }

    int Underflow() {
        LogMessage(&task_->log, "Audio buffer underflow, decoding thread blocked, encoding thread to exit.", 0);
        if (item_ && item_->state.load() == kItemEncoding) SetItemError(kItemErrorSourceFail, item_);
        buf_.abort.store(1);
        for (PcmReader* r : task_->readers)
            if (r) r->Stop();
        return -1;
    }

    // Ends the pass: the writers finish their tools (a pause no longer reaches them).
    int Finish(int rc) {
        if (item_) item_->run.elapsed = static_cast<uint32_t>(platform::TickCount() - item_->run.startTime.load());
        buf_.readIndex = index_;
        buf_.encodeDone.store(true);
        for (PcmWriter* w : task_->writers)
            if (w) w->BeforeFinish();
        std::lock_guard<std::mutex> lock(task_->mutex);
        task_->state = 5;
        for (PcmWriter* w : task_->writers)
            if (w) w->Finish();
        return rc;
    }

    AudioTask* task_;
    const AudioThreadSettings& s_;
    AudioBlockBuffer& buf_;
    QueueItem* item_;
    const int tracks_;
    const int32_t speed_;
    uint32_t index_;
    const int mix_;
    const bool stereo16_;
    const uint32_t blockAlign_;
    uint64_t totalBytes_ = 0;
};

}  // namespace

int AudioEncodeThread(AudioTask* task, const AudioThreadSettings& s) { return EncodeRun(task, s).Run(); }

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
