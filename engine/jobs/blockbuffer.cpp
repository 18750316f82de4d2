#include "engine/jobs/blockbuffer.h"

#include <mutex>
#include <new>
#include <vector>

#include "engine/jobs/audiotask.h"

namespace {

// Storage of ended buffers, by size, waiting for the next buffer of that size. At most
// kPoolKeepBytes are kept: as much as a batch of eight one-track items holds at once.
constexpr size_t kPoolKeepBytes = size_t{8} * kAudioBlockCount * kAudioBlockBytes;

struct StoragePool {
    std::mutex lock;
    std::vector<std::pair<size_t, uint8_t*>> kept;
    size_t keptBytes = 0;
};

StoragePool& Pool() {
    static StoragePool* pool = new StoragePool;  // never destroyed: buffers may end during exit
    return *pool;
}

uint8_t* TakeStorage(size_t bytes) {
    StoragePool& pool = Pool();
    {
        std::lock_guard lk(pool.lock);
        for (auto it = pool.kept.begin(); it != pool.kept.end(); ++it) {
            if (it->first != bytes) continue;
            uint8_t* storage = it->second;
            pool.keptBytes -= bytes;
            pool.kept.erase(it);
            return storage;
        }
    }
    return new (std::nothrow) uint8_t[bytes];
}

}  // namespace

void BlockStorageRelease::operator()(uint8_t* storage) const {
    if (!storage) return;
    StoragePool& pool = Pool();
    {
        std::lock_guard lk(pool.lock);
        if (pool.keptBytes + bytes <= kPoolKeepBytes) {
            pool.kept.emplace_back(bytes, storage);
            pool.keptBytes += bytes;
            return;
        }
    }
    delete[] storage;
}

std::unique_ptr<AudioBlockBuffer> MakeBlockBuffer(int tracks, QueueItem* item) {
    if (tracks < 1) tracks = 1;
    if (tracks > 2) tracks = 2;
    auto buffer = std::make_unique<AudioBlockBuffer>();
    buffer->item = item;
    buffer->tracks = tracks;
    const size_t bytes = static_cast<size_t>(tracks) * kAudioBlockCount * kAudioBlockBytes;
    buffer->storage = std::unique_ptr<uint8_t[], BlockStorageRelease>(TakeStorage(bytes), BlockStorageRelease{bytes});
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
