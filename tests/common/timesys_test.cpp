#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>

#include "common/sysutil.h"
#include "common/timeutil.h"
#include "env_scope.h"
#include "platform/mixer.h"

namespace {

TEST(TimeText, ReadsMinutesSecondsAndHours) {
    struct Case {
        const char* text;
        int seconds;
    } cases[] = {
        {"2:30", 150}, {"90", 90},   {"1:02:05", 3725}, {"0:05", 5}, {"1:", 60},
        {"", 0},       {"abc", 0},   {"10:xx", 600},    {" 3:07", 187},
    };
    for (const auto& c : cases) EXPECT_EQ(TimeStr2Int(c.text), c.seconds) << c.text;
    EXPECT_EQ(TimeStr2Int(nullptr), 0);
}

TEST(TimeText, WritesWithinItsBoundAndReadsBack) {
    struct Case {
        int seconds;
        const char* text;
    } cases[] = {
        {3725, "1:02:05"}, {65, "01:05"},      {0, "00:00"},     {59, "00:59"},
        {3600, "1:00:00"}, {3599, "59:59"},    {-5, "00:00"},    {INT_MAX, "596523:14:07"},
    };
    for (const auto& c : cases) {
        // Exactly the documented size on the heap: any write beyond it is caught.
        char* buf = static_cast<char*>(std::malloc(QX_TIMESTR_SIZE));
        EXPECT_EQ(Int2TimeStr(c.seconds, buf), 5) << c.seconds;
        EXPECT_STREQ(buf, c.text) << c.seconds;
        if (c.seconds >= 0) {
            EXPECT_EQ(TimeStr2Int(buf), c.seconds) << buf;
        }
        std::free(buf);
    }
}

TEST(Time, MillisecondsSinceTheFileTimeEpoch) {
    using namespace std::chrono;
    const int64_t unixMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const int64_t t = static_cast<int64_t>(GetTime());
    // 11644473600 s lie between 1601-01-01 and 1970-01-01.
    EXPECT_NEAR(static_cast<double>(t - unixMs), 11644473600000.0, 60000.0);
}

// A native build is never under Wine: the desktop's environment must not switch the program to
// its Wine-only settings.
TEST(Wine, NativeBuildIgnoresTheEnvironment) {
    struct Case {
        const char* wineprefix;
        const char* xdg;
        const char* os;
    } cases[] = {
        {nullptr, nullptr, nullptr},
        {"/home/u/.prefix", nullptr, nullptr},
        {nullptr, "/usr/share", nullptr},
        {nullptr, nullptr, "ReactOS"},
    };
    for (const auto& c : cases) {
        sqtest::EnvScope env;
        for (auto [name, value] : {std::pair{"WINEPREFIX", c.wineprefix}, std::pair{"XDG_DATA_DIRS", c.xdg},
                                   std::pair{"OS", c.os}}) {
            if (value)
                env.Set(name, value);
            else
                env.Unset(name);
        }
        EXPECT_EQ(IsUnderWine(), 0) << (c.wineprefix ? c.wineprefix : "-") << " " << (c.xdg ? c.xdg : "-") << " "
                                    << (c.os ? c.os : "-");
    }
}

TEST(Volume, NoMixerGivesMinusOne) {
    EXPECT_EQ(platform::GetMasterVolume("hw:sonquill-no-such-card"), -1);
    EXPECT_FALSE(platform::SetMasterVolume(1000, "hw:sonquill-no-such-card"));
    EXPECT_EQ(platform::GetMasterVolume(""), -1);
    EXPECT_EQ(platform::GetMasterVolume(nullptr), -1);

    const int v = GetVolume();
    EXPECT_TRUE(v == -1 || (v >= 0 && v <= platform::kVolumeMax)) << v;
    struct stat st;
    if (stat("/dev/snd", &st) != 0) {
        // No sound devices on this machine: both directions report the missing mixer.
        EXPECT_EQ(v, -1);
        EXPECT_EQ(SetVolume(1000), -1);
    }
}

}  // namespace
