#include "engine/jobs/blockbuffer.h"

#include <new>

#include "engine/jobs/audiotask.h"

std::unique_ptr<AudioBlockBuffer> MakeBlockBuffer(int tracks, QueueItem* item) {
    if (tracks < 1) tracks = 1;
    if (tracks > 2) tracks = 2;
    auto buffer = std::make_unique<AudioBlockBuffer>();
    buffer->item = item;
    buffer->tracks = tracks;
    const size_t bytes = static_cast<size_t>(tracks) * kAudioBlockCount * kAudioBlockBytes;
    buffer->storage.reset(new (std::nothrow) uint8_t[bytes]);
    if (!buffer->storage) return nullptr;
    for (int t = 0; t < tracks; ++t)
        for (int i = 0; i < kAudioBlockCount; ++i)
            buffer->blocks[t][i] = buffer->storage.get() + (static_cast<size_t>(t) * kAudioBlockCount + i) * kAudioBlockBytes;
    return buffer;
}

void ResetBlockBuffer(AudioBlockBuffer& buffer) {
    for (auto& row : buffer.counts)
        for (auto& count : row) count.store(0, std::memory_order_relaxed);
    buffer.readIndex = 0;
    buffer.writeIndex = 0;
    buffer.ended.store(false);
    buffer.encodeDone.store(false);
    buffer.dataReady.Reset();
    buffer.spaceFreed.Reset();
    buffer.abort.store(0);
    buffer.ready.store(1, std::memory_order_release);
}

bool AllocBlockBuffer(AudioTask* task) {
    if (!task) return false;
    if (!task->audioEnabled) return true;
    task->buffer = MakeBlockBuffer(task->inputTracks, task->item);
    return task->buffer != nullptr;
}

void FreeBlockBuffer(AudioTask* task) {
    if (task) task->buffer.reset();
}
