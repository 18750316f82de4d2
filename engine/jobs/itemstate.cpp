#include "engine/jobs/itemstate.h"

#include <atomic>

#include "engine/context.h"
#include "engine/jobs/tagging.h"
#include "engine/queue/queue.h"

namespace {
std::atomic<int32_t> lastError{0};
}

int32_t GetLastItemError() { return lastError.load(); }
void SetLastItemError(int32_t code) { lastError.store(code); }

void SetItemError(int32_t code, QueueItem* item) {
    lastError.store(code);
    if (!item) return;
    if (code == 0) {
        item->errorCode = 0;
        return;
    }
    const bool wasError = item->state.load() == kItemError;
    MarkItemError(item, code);
    if (!wasError && item->state.load() == kItemError) RaiseEvent(kEventItemState, static_cast<intptr_t>(kItemError));
}

bool ChangeItemState(QueueItem* item, uint32_t from, uint32_t to) {
    if (!item) return false;
    uint32_t expected = from;
    if (!item->state.compare_exchange(expected, to)) return false;
    RaiseEvent(kEventItemState, static_cast<intptr_t>(to));
    return true;
}

bool SetItemStateUnlessStopping(QueueItem* item, uint32_t to) {
    if (!item) return false;
    uint32_t state = item->state.load();
    while (state < kItemStopping) {
        if (item->state.compare_exchange(state, to)) {
            RaiseEvent(kEventItemState, static_cast<intptr_t>(to));
            return true;
        }
    }
    return false;
}
