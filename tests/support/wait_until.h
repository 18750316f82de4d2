// Waits for a condition with a deadline, so a test says "once it has happened" instead of sleeping
// for a guess of how long it takes, and a condition that never comes fails instead of hanging.
#pragma once

#include <chrono>
#include <thread>

namespace sqtest {

// True as soon as the condition holds; false when the limit passed first.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace sqtest
