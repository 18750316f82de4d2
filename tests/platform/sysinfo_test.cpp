#include "platform/sysinfo.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include "../common/env_scope.h"

namespace {

TEST(ProcessorCount, EnvironmentFirstThenTheSystemNeverZero) {
    const int system = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
    ASSERT_GT(system, 0);
    struct Case {
        const char* value;  // null: unset
        int expected;
    } cases[] = {
        {"6", 6}, {"1", 1}, {" 12", 12}, {nullptr, system}, {"", system},
        {"0", system}, {"-3", system}, {"abc", system},
    };
    for (const auto& c : cases) {
        sqtest::EnvScope env;
        if (c.value)
            env.Set("NUMBER_OF_PROCESSORS", c.value);
        else
            env.Unset("NUMBER_OF_PROCESSORS");
        EXPECT_EQ(platform::ProcessorCount(), c.expected) << (c.value ? c.value : "(unset)");
    }
}

}  // namespace
