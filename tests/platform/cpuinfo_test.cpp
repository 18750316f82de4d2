#include "platform/cpuinfo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

TEST(CpuClock, NominalClockFromTheFirstSourceThatTellsIt) {
    const struct {
        const char* driverKHz;
        const char* brand;
        const char* cpuinfoMHz;
        int expected;
    } cases[] = {
        {"3400000", "Intel(R) Core(TM) i5 CPU @ 2.40GHz", "800.000", 3400},  // the driver first
        {"", "Intel(R) Core(TM) i5-2500 CPU @ 3.30GHz", "1600.000", 3300},  // then the brand text
        {"", "Pentium(R) 4 @ 733MHz", "", 733},
        {"", "AMD EPYC", "2096.034", 2096},  // then the current figure
        {"", "Brand @ a lot", "", 0},
        {"12", "", "", 0},  // too small to be kHz of a processor: not taken
        {"", "", "", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::NominalClockMHz(c.driverKHz, c.brand, c.cpuinfoMHz), c.expected)
            << c.driverKHz << " | " << c.brand << " | " << c.cpuinfoMHz;
    }
}

TEST(CpuClock, FeatureWordsMatchWhole) {
    const std::string flags = "fpu mmx sse sse2 pni sse4_1 mmxext";
    const struct {
        const char* word;
        bool present;
    } cases[] = {{"mmx", true}, {"sse", true}, {"sse4_1", true}, {"fpu", true}, {"mmxext", true},
                 {"sse4", false}, {"ss", false}, {"sse4_2", false}, {"3dnow", false}};
    for (const auto& c : cases) EXPECT_EQ(platform::HasCpuFlag(flags, c.word), c.present) << c.word;
}

TEST(CpuClock, MachineClockMatchesProcCpuinfo) {
    platform::CpuIdentity cpu;
    ASSERT_TRUE(platform::ReadCpuIdentity(&cpu));
    std::ifstream in("/proc/cpuinfo");
    bool listed = false;
    for (std::string line; std::getline(in, line);) listed = listed || line.rfind("cpu MHz", 0) == 0;
    if (listed) {
        EXPECT_GT(cpu.clockMHz, 0);
    }
#if defined(__x86_64__)
    EXPECT_TRUE(platform::HasCpuFlag(cpu.flags, "sse2")) << "every x86-64 processor has it";
    EXPECT_GT(cpu.family, 0);
#endif
}

}  // namespace
