// The shared codecs description under several threads: workers building command lines while the
// description is loaded again see either the old or the new one, never a half-made tree.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine/encoders/codecs.h"
#include "engine/encoders/encoder_info.h"
#include "support/pref_builder.h"

namespace {

TEST(CodecsThreads, BuildWhileReloading) {
    sqtest::PrefBuilder b(GetPrefStore());
    b.Add("t.q", kPrefInt, "3");
    const std::string one = "<codecs><audio><encoder name='E'><path>one</path><arg key='t.q'>-q</arg></encoder></audio></codecs>";
    const std::string two = "<codecs><audio><encoder name='E'><path>two</path><extname>x</extname><arg>-y</arg></encoder></audio></codecs>";
    ASSERT_EQ(LoadCodecsDefinition(true, one.c_str(), 0), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 300 && !stop; ++i) {
                CAudioEncoder enc;
                enc.name = "E";
                std::string line;
                if (!BuildEncoderCommandLine(&enc, nullptr, &line) || (line != "one -q3" && line != "two -y")) ++bad;
            }
        });
    }
    int loadFailures = 0;
    for (int i = 0; i < 200; ++i) loadFailures += LoadCodecsDefinition(true, (i % 2 ? one : two).c_str(), 0) != 0;
    stop = true;
    for (std::thread& w : workers) w.join();
    EXPECT_EQ(loadFailures, 0);
    EXPECT_EQ(bad.load(), 0);
}

}  // namespace
