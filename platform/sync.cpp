#include "platform/sync.h"

namespace platform {
namespace {

std::atomic<WaitHook> g_waitHook{nullptr};
std::atomic<std::thread::id> g_waitHookThread{};

// The hook when the calling thread is the one it was installed for; blocking waits go through it.
WaitHook HookForThisThread() {
    WaitHook hook = g_waitHook.load(std::memory_order_acquire);
    return hook && g_waitHookThread.load(std::memory_order_acquire) == std::this_thread::get_id() ? hook : nullptr;
}

}  // namespace

void SetUiWaitHook(WaitHook hook) {
    g_waitHookThread.store(hook ? std::this_thread::get_id() : std::thread::id{}, std::memory_order_release);
    g_waitHook.store(hook, std::memory_order_release);
}

uint64_t TickCount() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void RecursiveMutex::lock() { lockFor(kInfinite); }

bool RecursiveMutex::lockFor(uint32_t timeoutMs) {
    if (timeoutMs != 0) {
        if (WaitHook hook = HookForThisThread()) return hook(timeoutMs, [this] { return lockFor(0); });
    }
    const auto self = std::this_thread::get_id();
    std::unique_lock lk(m_);
    if (owner_ == self) {
        ++depth_;
        return true;
    }
    auto free = [this] { return depth_ == 0; };
    if (timeoutMs == kInfinite) {
        cv_.wait(lk, free);
    } else if (!cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), free)) {
        return false;
    }
    owner_ = self;
    depth_ = 1;
    return true;
}

void RecursiveMutex::unlock() {
    std::unique_lock lk(m_);
    if (owner_ != std::this_thread::get_id() || depth_ == 0) return;  // not ours: ignored
    if (--depth_ == 0) {
        owner_ = std::thread::id{};
        lk.unlock();
        cv_.notify_one();
    }
}

bool RecursiveMutex::ownedByCaller() const {
    std::lock_guard lk(m_);
    return depth_ > 0 && owner_ == std::this_thread::get_id();
}

void Event::Set() {
    {
        std::lock_guard lk(m_);
        signalled_ = true;
    }
    if (manual_) cv_.notify_all(); else cv_.notify_one();
}

void Event::Reset() {
    std::lock_guard lk(m_);
    signalled_ = false;
}

bool Event::Wait(uint32_t timeoutMs) {
    if (timeoutMs != 0) {
        if (WaitHook hook = HookForThisThread()) return hook(timeoutMs, [this] { return Wait(0); });
    }
    std::unique_lock lk(m_);
    auto ready = [this] { return signalled_; };
    if (timeoutMs == kInfinite) {
        cv_.wait(lk, ready);
    } else if (!cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), ready)) {
        return false;
    }
    if (!manual_) signalled_ = false;
    return true;
}

bool Event::IsSet() const {
    std::lock_guard lk(m_);
    return signalled_;
}

}  // namespace platform
