#include "platform/fs.h"

#include <gtest/gtest.h>

#include <string>

#include "../common/env_scope.h"

namespace {

TEST(Wildcard, MatchTable) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*", "anything", true},      {"*", "", true},           {"?", "a", true},
        {"?", "", false},             {"?", "ab", false},        {"*.txt", "a.txt", true},
        {"*.txt", "a.txt.bak", false}, {"a*b*c", "aXXbYYc", true}, {"a*b*c", "aXXbYY", false},
        {"*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {"[ab]", "a", false},         {"[ab]", "[ab]", true},    {"A*", "abc", false},
        {"**?", "x", true},           {"", "", true},            {"", "x", false},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
}

TEST(Folders, DataFolderFollowsTheEnvironment) {
    struct Case {
        const char* appdata;
        const char* xdg;
        const char* home;
        const char* expected;
    } cases[] = {
        {"/roam", "/xdg", "/home/u", "/roam/Sonquill"},
        {"/roam/", nullptr, "/home/u", "/roam/Sonquill"},
        {nullptr, "/xdg", "/home/u", "/xdg/Sonquill"},
        {nullptr, nullptr, "/home/u", "/home/u/.local/share/Sonquill"},
        {"", "", "/home/u", "/home/u/.local/share/Sonquill"},
    };
    for (const auto& c : cases) {
        sqtest::EnvScope env;
        for (auto [name, value] :
             {std::pair{"APPDATA", c.appdata}, std::pair{"XDG_DATA_HOME", c.xdg}, std::pair{"HOME", c.home}}) {
            if (value)
                env.Set(name, value);
            else
                env.Unset(name);
        }
        EXPECT_EQ(platform::DataFolder(), c.expected) << c.expected;
        EXPECT_EQ(platform::DesktopFolder(), std::string(c.home) + "/Desktop/");
    }
    sqtest::EnvScope env;
    env.Unset("HOME");
    EXPECT_FALSE(platform::HomeFolder().empty()) << "the password database still knows the home folder";
}

TEST(Folders, AppFolderOverride) {
    const std::string exe = platform::ExecutablePath();
    EXPECT_NE(exe.find("fs_test"), std::string::npos) << exe;
    platform::SetAppFolderOverride("/fixture/app");
    EXPECT_EQ(platform::AppFolder(), "/fixture/app/");
    platform::SetAppFolderOverride("/fixture/app2/");
    EXPECT_EQ(platform::AppFolder(), "/fixture/app2/");
    platform::SetAppFolderOverride("");
    EXPECT_EQ(platform::AppFolder(), exe.substr(0, exe.rfind('/') + 1));
}

}  // namespace
