// Ends the whole test program when a run takes longer than a bound: a GTK call that blocks would
// otherwise stall it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace sqtest {

class Watchdog {
public:
    explicit Watchdog(int seconds) : thread_([this, seconds] {
        std::unique_lock lk(m_);
        if (!cv_.wait_for(lk, std::chrono::seconds(seconds), [this] { return done_; })) {
            std::fprintf(stderr, "test: still running after %d s, giving up\n", seconds);
            std::_Exit(3);
        }
    }) {}
    ~Watchdog() {
        {
            std::lock_guard lk(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace sqtest
