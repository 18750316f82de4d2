#include "engine/context.h"

#include <cstdio>

#include "common/stringtable.h"
#include "engine/queue/taskvars.h"

namespace {

std::atomic<EngineContext*> g_context{nullptr};

int RaiseTaskVarEvent(int code, intptr_t data, int64_t arg) { return RaiseEvent(code, data, arg); }

int ContextDoneCount() {
    EngineContext* ctx = GetEngineContext();
    return ctx ? ctx->processedFiles.load() : 0;
}

int ContextTaskMode() {
    EngineContext* ctx = GetEngineContext();
    return ctx ? ctx->taskMode.load() : 0;
}

// Task variables read the run's counter and mode and ask for user input through the context.
const TaskVarHost kTaskVarHost{RaiseTaskVarEvent, ContextDoneCount, ContextTaskMode};

static_assert(kTaskVarUserInputEvent == kEventUiCommand);

}  // namespace

EngineContext* GetEngineContext() { return g_context.load(std::memory_order_acquire); }

void SetEngineContext(EngineContext* context) {
    g_context.store(context, std::memory_order_release);
    SetTaskVarHost(context ? &kTaskVarHost : nullptr);
}

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
