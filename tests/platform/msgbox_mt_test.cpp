#include "platform/msgbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(MessageBox, HookRunsOnlyOnTheUiThread) {
    std::atomic<int> calls{0};
    platform::SetUiThread();
    platform::SetMessageBoxHook([&](void*, const char*, const char*, unsigned) {
        ++calls;
        return platform::kIdNo;
    });
    EXPECT_EQ(platform::ShowMessageBox(nullptr, "q", "c", platform::kMbYesNo), platform::kIdNo);

    int workerAnswer = 0;
    std::thread worker([&] { workerAnswer = platform::ShowMessageBox(nullptr, "q", "c", platform::kMbYesNo); });
    worker.join();
    EXPECT_EQ(workerAnswer, platform::kIdYes);  // default answer, hook not called
    EXPECT_EQ(calls, 1);

    platform::SetMessageBoxHook(nullptr);
    EXPECT_EQ(platform::ShowMessageBox(nullptr, "t", "c", platform::kMbOk), platform::kIdOk);
}

}  // namespace
