#include "common/xml.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Threads that all start with their first Lock must still exclude each other, and the lock is
// re-entrant for its owner.
TEST(XmlLock, FirstLocksExcludeEachOther) {
    CXML xml;
    xml.New("1.0", "r");
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < 200; ++i) {
                xml.Lock();
                xml.Lock();  // re-entrant
                if (inside.fetch_add(1) != 0) overlap = true;
                xml.goRoot();
                xml.addChild("n", t * 1000 + i);
                inside.fetch_sub(1);
                xml.Unlock();
                xml.Unlock();
            }
        });
    }
    go = true;
    for (auto& th : threads) th.join();
    EXPECT_FALSE(overlap.load());
    xml.goRoot();
    EXPECT_EQ(xml.getChildCount(), 800);
}

}  // namespace
