// The ring of PCM blocks between the decode and the encode thread of an audio pass: 128 blocks
// of 32768 bytes per input track, one fill count per block and two auto-reset events.
//
// A block belongs to the decode thread while its count is 0 and to the encode thread while it is
// not; each side changes a count only while it owns the block. Counts are stored with release and
// read with acquire, so the block's bytes are visible before its count.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/sync.h"

struct QueueItem;
struct AudioTask;

// Gives the blocks' memory back to a small pool when a buffer goes, for the next item's buffer: a
// fresh allocation of this size is faulted in page by page by the first round of reads, once per
// item otherwise.
struct BlockStorageRelease {
    size_t bytes = 0;
    void operator()(uint8_t* storage) const;
};

inline constexpr int kAudioBlockCount = 128;
inline constexpr int kAudioBlockBytes = 32768;
inline constexpr int kAudioBlockEnd = -1;  // count of the block that marks the end of the data

struct AudioBlockBuffer {
    QueueItem* item = nullptr;
    std::atomic<uint32_t> abort{0};  // not 0: both threads leave at once
    std::atomic<uint32_t> ready{0};  // 1 when the buffer may be used
    int tracks = 0;                  // rows allocated (input tracks)
    uint8_t* blocks[2][kAudioBlockCount] = {};
    std::atomic<int32_t> counts[2][kAudioBlockCount] = {};  // 0 empty, > 0 filled, -1 end
    platform::Event dataReady{false, false};   // auto reset: a round was filled, or the end
    platform::Event spaceFreed{false, false};  // auto reset: a round was emptied
    uint32_t readIndex = 0;   // where the encode thread stopped
    uint32_t writeIndex = 0;  // where the decode thread stopped
    std::atomic<bool> ended{false};       // the decode thread reached the end of data, or failed
    std::atomic<bool> encodeDone{false};  // the encode thread has finished
    std::unique_ptr<uint8_t[], BlockStorageRelease> storage;  // every block of every row, allocated once
};

// A buffer with every block of `tracks` rows (1 or 2) allocated and every count 0; null when the
// memory cannot be had.
std::unique_ptr<AudioBlockBuffer> MakeBlockBuffer(int tracks, QueueItem* item);
// Prepares the buffer for a pass: ready 1, abort 0, every count 0, both indices and flags cleared,
// both events reset.
void ResetBlockBuffer(AudioBlockBuffer& buffer);

// Gives the task its buffer (one row per input track); nothing is allocated while audio is
// disabled. False when the allocation failed (the task is left without buffer).
bool AllocBlockBuffer(AudioTask* task);
void FreeBlockBuffer(AudioTask* task);
