#include "engine/jobs/itemstate.h"

#include <atomic>
#include <cstdio>

#include "engine/context.h"
#include "engine/jobs/tagging.h"
#include "engine/queue/queue.h"

namespace {
std::atomic<int32_t> lastError{0};
}

int32_t GetLastItemError() { return lastError.load(); }

std::string ItemErrorMeaning(int32_t code) {
    char key[32];
    std::snprintf(key, sizeof key, "ITEM_ERROR_%d", code);
    std::string text = EngineText(key);
    if (text == key) text = EngineText("ITEM_ERROR");
    return text;
}

std::string ItemFailureText(const QueueItem* item) {
    if (!item) return {};
    const int32_t code = item->errorCode.load();
    // The parts are joined here, not through a translated format: a path may hold any character.
    std::string format = EngineText("ITEM_FAILED");
    std::string text;
    const std::string path = item->file ? item->file : "";
    const std::string number = std::to_string(code);
    const std::string meaning = ItemErrorMeaning(code);
    // "%1" the path, "%2" the code, "%3" the meaning; other characters are copied.
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '3') {
            text += format[i + 1] == '1' ? path : format[i + 1] == '2' ? number : meaning;
            ++i;
        } else {
            text += format[i];
        }
    }
    return text;
}
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
