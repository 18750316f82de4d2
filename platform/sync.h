// Synchronisation primitives with the semantics the engine was designed around:
// a re-entrant mutex whose unlock by a non-owner is ignored, and manual/auto-reset events
// with timed waits.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

// Milliseconds on a monotonic clock (the tick count the engine measures intervals with).
uint64_t TickCount();

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// The windowing layer's pumping wait. Installed for the UI thread, it replaces every blocking wait
// of that thread on a RecursiveMutex or an Event: it waits until ready() answers true or timeoutMs
// (kInfinite: no limit) passes, serving calls sent to the UI thread meanwhile, and answers ready().
// Without it, a worker that holds a lock and sends to the UI thread would deadlock against a UI
// thread waiting for that lock.
using WaitHook = bool (*)(uint32_t timeoutMs, const std::function<bool()>& ready);
// Installs the hook for the calling thread (null removes it).
void SetUiWaitHook(WaitHook hook);

// Re-entrant mutex. The owning thread may lock it again; it is released when unlocked as often
// as it was locked. An unlock from a thread that does not own it is ignored.
class RecursiveMutex {
public:
    RecursiveMutex() = default;
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;

    void lock();
    // Waits at most timeoutMs (kInfinite: no limit); true when the mutex was taken.
    bool lockFor(uint32_t timeoutMs);
    bool try_lock() { return lockFor(0); }
    void unlock();
    bool ownedByCaller() const;

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::thread::id owner_{};
    unsigned depth_ = 0;
};

// Event object: manual reset stays signalled until Reset; auto reset releases one waiter and
// resets itself.
class Event {
public:
    explicit Event(bool manualReset = false, bool initialState = false)
        : manual_(manualReset), signalled_(initialState) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Waits at most timeoutMs (kInfinite: no limit); true when the event was signalled.
    bool Wait(uint32_t timeoutMs = kInfinite);
    bool IsSet() const;

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    const bool manual_;
    bool signalled_;
};

}  // namespace platform
