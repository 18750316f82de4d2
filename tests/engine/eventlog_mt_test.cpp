#include "engine/eventlog.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "support/event_recorder.h"
#include "support/tempdir.h"

namespace {

TEST(EventLogThreads, ManyWritersAndAReopenKeepEveryLineWhole) {
    sqtest::EventRecorder recorder;
    sqtest::TempDir dir;
    const std::string path = dir.file("engine.log");
    ASSERT_TRUE(OpenLogFile(path.c_str()));

    constexpr int kThreads = 8, kLines = 1000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            LogSource src = MakeLogSource(("worker" + std::to_string(t)).c_str());
            for (int i = 0; i < kLines; ++i) LogMessageFormat(&src, "line %d of %d", i, t);
        });
    }
    std::thread reopener([&] {
        for (int i = 0; i < 20; ++i) OpenLogFile(path.c_str());
    });
    for (auto& t : threads) t.join();
    reopener.join();
    CloseLogFile();

    std::istringstream in(sqtest::ReadFile(path));
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\r');
        EXPECT_NE(line.find("] line "), std::string::npos) << line;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
    EXPECT_EQ(recorder.texts(kEventLogLine).size(), static_cast<size_t>(kThreads * kLines));
}

}  // namespace
