#include "platform/msgbox.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {
namespace {

std::mutex g_hookMutex;
std::shared_ptr<const MessageBoxHook> g_hook;
std::atomic<std::thread::id> g_uiThread{};

}  // namespace

int DefaultMessageBoxAnswer(unsigned style) {
    switch (style & 0xF) {
    case kMbYesNo: return kIdYes;
    case kMbYesNoCancel: return kIdCancel;
    case kMbOkCancel: return kIdOk;
    default: return kIdOk;
    }
}

int ShowMessageBox(void* owner, const char* text, const char* caption, unsigned style) {
    std::shared_ptr<const MessageBoxHook> hook;
    {
        std::lock_guard lk(g_hookMutex);
        hook = g_hook;
    }
    if (hook && *hook && IsUiThread()) return (*hook)(owner, text ? text : "", caption ? caption : "", style);
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
    return DefaultMessageBoxAnswer(style);
}

void SetMessageBoxHook(MessageBoxHook hook) {
    auto next = hook ? std::make_shared<const MessageBoxHook>(std::move(hook)) : nullptr;
    std::lock_guard lk(g_hookMutex);
    g_hook = std::move(next);
}

void SetUiThread() { g_uiThread.store(std::this_thread::get_id()); }

bool IsUiThread() { return g_uiThread.load() == std::this_thread::get_id(); }

}  // namespace platform
