#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "engine/tools/cpu_usage.h"

namespace {

// Three readers share one meter (as the statistics and the status pages do) while each also
// keeps its own process meter and measures the clock.
TEST(CpuUsageThreads, ThreeReaders) {
    CCpuUsage shared;
    std::vector<std::thread> readers;
    std::vector<int> bad(3, 0);
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&, t] {
            CCpuUsage own;
            for (int i = 0; i < 40; ++i) {
                const float system = shared.GetUsage();
                const float process = own.GetProcessUsage(static_cast<uint32_t>(getpid()));
                if (!(system >= -1.0f && system <= 100.0f) || !(process >= 0.0f && process < 1e6f)) ++bad[t];
                if (i % 20 == 0) CpuClockMHz(false);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    for (auto& r : readers) r.join();
    EXPECT_EQ(bad, std::vector<int>(3, 0));
}

}  // namespace
