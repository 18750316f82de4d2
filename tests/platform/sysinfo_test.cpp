#include "platform/sysinfo.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <utility>

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

TEST(AnsiCodePage, FromTheLocaleOrTheOverride) {
    struct Case {
        const char* lcAll;
        const char* lcCtype;
        const char* lang;
        const char* forced;
        int expected;
    } cases[] = {
        {nullptr, nullptr, "zh_CN.UTF-8", nullptr, 936},
        {nullptr, nullptr, "zh_TW.UTF-8", nullptr, 950},
        {nullptr, nullptr, "en_US.GB18030", nullptr, 936},  // the codeset decides before the language
        {nullptr, nullptr, "ja_JP.eucJP", nullptr, 932},
        {nullptr, nullptr, "ru_RU.UTF-8", nullptr, 1251},
        {nullptr, nullptr, "pl_PL", nullptr, 1250},
        {nullptr, nullptr, "de_DE.UTF-8@euro", nullptr, 1252},
        {nullptr, nullptr, "C.UTF-8", nullptr, 1252},
        {nullptr, nullptr, nullptr, nullptr, 1252},
        {"ko_KR.UTF-8", "ru_RU.UTF-8", "zh_CN.UTF-8", nullptr, 949},  // LC_ALL first
        {"", "ru_RU.UTF-8", "zh_CN.UTF-8", nullptr, 1251},            // then LC_CTYPE
        {nullptr, nullptr, "zh_CN.UTF-8", "1253", 1253},
        {nullptr, nullptr, "zh_CN.UTF-8", "none", 936},  // not a number: the locale answers
    };
    for (const auto& c : cases) {
        sqtest::EnvScope env;
        for (auto [name, value] : {std::pair{"LC_ALL", c.lcAll}, std::pair{"LC_CTYPE", c.lcCtype},
                                   std::pair{"LANG", c.lang}, std::pair{"SQ_ANSI_CODEPAGE", c.forced}}) {
            if (value)
                env.Set(name, value);
            else
                env.Unset(name);
        }
        EXPECT_EQ(platform::SystemAnsiCodePage(), c.expected)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcCtype ? c.lcCtype : "-") << " " << (c.lang ? c.lang : "-");
    }
}

}  // namespace
