// The handle map read on one thread while others add and remove: every lookup answers the
// object of the handle or nothing, and no thread's removal takes another thread's entry.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ui/framework/window.h"

namespace {

TEST(WindowMapThreads, LookupsBesideChangesNeverSeeAWrongObject) {
    ui::CWindowMatchTable map;
    constexpr int kThreads = 4, kRounds = 2000;
    // Each thread owns a band of handles; a stable handle stays in the map throughout.
    auto handle = [](int t, int i) { return reinterpret_cast<gui::HWND>(static_cast<uintptr_t>(0x10000 + (t * kRounds + i) * 4)); };
    auto object = [](gui::HWND h) { return reinterpret_cast<ui::CWindow*>(reinterpret_cast<uintptr_t>(h) * 2); };
    gui::HWND stable = reinterpret_cast<gui::HWND>(static_cast<uintptr_t>(0x8));
    map.Add(stable, object(stable));
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::thread reader([&] {
        while (!stop) {
            if (map.Find(stable) != object(stable)) ++wrong;
            for (int t = 0; t < kThreads; ++t) {
                gui::HWND h = handle(t, 7);
                ui::CWindow* w = map.Find(h);
                if (w && w != object(h)) ++wrong;
            }
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                gui::HWND h = handle(t, i % 50);
                map.Add(h, object(h));
                if (!map.Remove(h)) ++wrong;
            }
        });
    for (auto& w : writers) w.join();
    stop = true;
    reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(map.Count(), 1);
}

}  // namespace
