#include "engine/context.h"

#include <cstdio>

#include "common/stringtable.h"

namespace {

std::atomic<EngineContext*> g_context{nullptr};

}  // namespace

EngineContext* GetEngineContext() { return g_context.load(std::memory_order_acquire); }

void SetEngineContext(EngineContext* context) { g_context.store(context, std::memory_order_release); }

int DefaultEventCallback(int code, intptr_t data, int64_t) {
    const char* text = reinterpret_cast<const char*>(data);
    switch (code) {
    case kEventNotice:
        std::printf("[alert] %s\n", text ? text : "");
        std::fflush(stdout);
        return 0;
    case kEventFinalReport:
        std::printf("[popup] %s\n", text ? text : "");
        std::fflush(stdout);
        return 0;
    case kEventAskYesNoCancel:
        return kAnswerYes;
    case 6:
    case 7:
    case 8:
        return 1;
    default:
        return 0;
    }
}

int RaiseEvent(int code, intptr_t data, int64_t arg) {
    EngineContext* ctx = GetEngineContext();
    if (ctx && ctx->eventCallback) return ctx->eventCallback(code, data, arg);
    return DefaultEventCallback(code, data, arg);
}

CStringTable& GetEngineStrings() {
    static CStringTable table;
    return table;
}

const char* EngineText(const char* key) {
    if (!key) return "";
    return GetEngineStrings().GetString(key, 0, key);
}

std::string FirstLine(const char* text) {
    if (!text) return {};
    const char* end = text;
    while (*end && *end != '\r' && *end != '\n') ++end;
    return std::string(text, end);
}
