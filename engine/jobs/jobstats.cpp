#include "engine/jobs/jobstats.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>

#include "engine/context.h"
#include "engine/jobs/audiotask.h"
#include "engine/queue/queue.h"
#include "platform/sync.h"

namespace {

struct ProgressCache {
    uint64_t at = 0;
    int value = 0;
};
std::mutex cacheMutex;
std::unordered_map<const QueueItem*, ProgressCache> progressCache;

}  // namespace

void SampleItemStats(QueueItem* item) {
    if (!item || !item->statSamples) return;
    const uint32_t second = item->run.position.load() / 1000;
    if (second >= item->statSampleCount || second % 3 != 0) return;
    ItemStatSample& sample = item->statSamples[second];
    if (sample.timeMs) return;
    sample.audioBytes = static_cast<uint32_t>(item->run.bytes.load() / 1024);
    sample.timeMs = std::max<uint32_t>(item->run.position.load(), 1);
}

int GetItemProgress(QueueItem* item, bool fresh) {
    if (!item || !item->audioTask.load()) return -1;
    const uint64_t now = platform::TickCount();
    std::lock_guard<std::mutex> lock(cacheMutex);
    ProgressCache& cache = progressCache[item];
    if (cache.at && now - cache.at < 100) return cache.value;
    const uint32_t state = item->state.load();
    int value = 0;
    if ((state == kItemEncoding || state == kItemPaused) && fresh) {
        const uint64_t total = item->run.totalLength.load();
        value = total ? static_cast<int>(std::min<uint64_t>(uint64_t{item->run.position.load()} * 100 / total, 100)) : 0;
    }
    cache.at = now;
    cache.value = value;
    return value;
}

int UpdateItemStats(QueueItem* item, bool detailed) {
    EngineContext* ctx = GetEngineContext();
    if (!item) return 0;
    const uint64_t start = item->run.startTime.load();
    const uint64_t elapsed = start ? platform::TickCount() - start : 0;
    if (ctx) ctx->itemElapsedMs = static_cast<int32_t>(elapsed);
    AudioTask* task = item->audioTask.load();
    if (elapsed < 1000 || !task) return 0;
    item->run.pass = task->pass;
    item->run.passCount = task->passCount;
    const int progress = GetItemProgress(item, true);
    if (progress > 0) item->run.progress = static_cast<float>(progress);
    const uint32_t position = item->run.position.load();
    if (detailed && task->readers[0] && progress < 100 && position > 0 && ctx) {
        ctx->throughput = static_cast<int32_t>(item->run.bytes.load() / 1024 * 1000 / elapsed);
        if (progress > 0)
            ctx->remainingSeconds = static_cast<int32_t>(elapsed * (100 - progress) / progress / 1000);
        item->run.speed = static_cast<float>(position) / static_cast<float>(elapsed);
    }
    return progress;
}

void ForgetItemProgress(const QueueItem* item) {
    std::lock_guard<std::mutex> lock(cacheMutex);
    progressCache.erase(item);
}
