#include "engine/jobs/itemstate.h"

#include <algorithm>
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

namespace {

// True when a format's conversions are exactly a string, an integer and a string ("%s %d %s"),
// with no flags or widths: only then is a translated text used as the format.
bool IsPathCodeMeaningFormat(const std::string& format) {
    std::string kinds;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (i + 1 >= format.size()) return false;
        const char c = format[++i];
        if (c == '%') continue;
        if (c != 's' && c != 'd') return false;
        kinds += c;
    }
    return kinds == "sds";
}

}  // namespace

std::string ItemFailureText(const QueueItem* item) {
    if (!item) return {};
    const int32_t code = item->errorCode.load();
    const std::string path = item->file ? item->file : "";
    const std::string meaning = ItemErrorMeaning(code);
    std::string format = EngineText("ITEM_FAILED");
    if (!IsPathCodeMeaningFormat(format)) format = "Failed %s: error %d, %s";
    // Sized to the whole text: a long path is never cut.
    std::string text(format.size() + path.size() + meaning.size() + 16, '\0');
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int n = std::snprintf(text.data(), text.size(), format.c_str(), path.c_str(), static_cast<int>(code), meaning.c_str());
#pragma GCC diagnostic pop
    text.resize(n > 0 ? std::min<size_t>(static_cast<size_t>(n), text.size() - 1) : 0);
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
