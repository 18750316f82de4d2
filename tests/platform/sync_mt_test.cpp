#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using platform::Event;
using platform::RecursiveMutex;

TEST(RecursiveMutex, ReentrantAndNonOwnerUnlockIgnored) {
    RecursiveMutex m;
    m.lock();
    m.lock();
    EXPECT_TRUE(m.ownedByCaller());

    std::atomic<bool> gotIt{false};
    std::thread other([&] {
        m.unlock();                       // not the owner: ignored
        gotIt = m.lockFor(50);            // still held by the main thread
    });
    other.join();
    EXPECT_FALSE(gotIt);

    m.unlock();
    EXPECT_TRUE(m.ownedByCaller());       // one level left
    m.unlock();
    EXPECT_FALSE(m.ownedByCaller());

    std::thread again([&] {
        gotIt = m.lockFor(1000);
        if (gotIt) m.unlock();
    });
    again.join();
    EXPECT_TRUE(gotIt);
}

TEST(RecursiveMutex, ExcludesAcrossThreads) {
    RecursiveMutex m;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                std::lock_guard outer(m);
                std::lock_guard inner(m);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 16000);
}

TEST(Event, AutoResetReleasesOneWaiterManualResetStays) {
    Event autoEv(false, false);
    EXPECT_FALSE(autoEv.Wait(10));
    autoEv.Set();
    EXPECT_TRUE(autoEv.Wait(0));
    EXPECT_FALSE(autoEv.Wait(0));

    Event manual(true, false);
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { if (manual.Wait(5000)) ++woke; });
    manual.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woke, 4);
    EXPECT_TRUE(manual.IsSet());
    manual.Reset();
    EXPECT_FALSE(manual.Wait(0));
}

}  // namespace
