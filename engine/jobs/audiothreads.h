// The two threads of an audio pass. The decode thread reads blocks from each input track's reader,
// drops a negative start delay, feeds the gain analysis, cuts the range at the task's duration and
// fills the block buffer; the encode thread takes each filled block, mixes two tracks into one or
// swaps channels, slows down by the decoding speed, writes to the writers and keeps the item's
// position. Each leaves when the other has ended, when the buffer's abort flag is set or when the
// item is stopping, so neither can outlive its partner by more than one wait slice.
#pragma once

#include <cstdint>
#include <functional>

struct AudioTask;

struct AudioThreadSettings {
    int32_t timeoutMs = 20000;       // "overall.audio.timeout": a wait this long asks the user
    bool balancing = false;          // "audiofilter.volume.balancing"
    int32_t delayMs = 0;             // "overall.audio.delay", added to each stream's delay
    bool reverseChannels = false;    // "overall.audio.reverseChannels"
    bool reverseTracks = false;      // "overall.audio.reverseTracks"
    int32_t downmixMode = 0;         // "overall.audio.trackDownmixMode"
    int32_t speed = 1;               // "overall.decoding.speed"
    float encodingSpeed = 0;         // "overall.generic.encodingSpeed"
    int32_t firstDataTimeoutMs = 60000;
};

AudioThreadSettings ReadAudioThreadSettings();

// Thread bodies; 0 when the thread ran to its end, -1 when it left early.
int AudioDecodeThread(AudioTask* task, const AudioThreadSettings& settings);
int AudioEncodeThread(AudioTask* task, const AudioThreadSettings& settings);

// Starts the encode and then the decode thread on the task's buffer (reset first), watches them
// and joins both. Called with the task's readers, writers, format and header in place. `poll`
// runs on the calling thread about every 500 ms while the threads run.
//
// A stop or the end of the encode thread sets the buffer's abort flag. A pass whose encode thread
// makes no round for twice the buffer time-out while the item is encoding is stalled: the item
// gets error 12 when the ring is full (the encoder stopped reading) or 11 when it is empty (the
// decoder stalled). After an abort, readers are stopped and writers cancelled when the threads do
// not leave by themselves, so the joins are bounded.
void RunAudioThreads(AudioTask* task, const AudioThreadSettings& settings, const std::function<void()>& poll = {});

// Bytes passed to the encoder for a block of `count` bytes at a speed: whole frames, at least one
// frame and at most the block.
int32_t SpeedReducedCount(int32_t count, int32_t speed, int32_t blockAlign);
// Bytes of a delay or a range length in ms: whole seconds of byte rate plus the rest, cut down to a
// multiple of the block align; 64-bit.
int64_t BytesForMs(int64_t ms, uint32_t byteRate, uint32_t blockAlign);
// Mixes the 16-bit stereo frames of two tracks into `out` (which may be track 1's block) by mix
// mode (1 mono per track, 2 L0/R1, 3 R0/R1, 4 and above track 1 unchanged).
void MixTracks(const int16_t* track0, const int16_t* track1, int16_t* out, int64_t frames, int mode, bool reverse);
