#include "platform/fs.h"

#include <gtest/gtest.h>
#include <errno.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "../common/env_scope.h"
#include "support/tempdir.h"

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
    // The test program's own file, however it was started.
    const std::string exe = platform::ExecutablePath();
    EXPECT_EQ(exe, std::filesystem::canonical(program_invocation_name).string());
    platform::SetAppFolderOverride("/fixture/app");
    EXPECT_EQ(platform::AppFolder(), "/fixture/app/");
    platform::SetAppFolderOverride("/fixture/app2/");
    EXPECT_EQ(platform::AppFolder(), "/fixture/app2/");
    platform::SetAppFolderOverride("");
    EXPECT_EQ(platform::AppFolder(), exe.substr(0, exe.rfind('/') + 1));
}

// What stands at the temporary name is never written through: a link there to some other file,
// left by anyone, is replaced. A failed write leaves the target as it was and no temporary file.
TEST(ReplaceFile, NeverWritesThroughALinkAndFailsCleanly) {
    namespace fs = std::filesystem;
    const auto writeNew = [](int fd) { return write(fd, "new", 3) == 3; };
    struct Case {
        const char* what;
        void (*plant)(const std::string& tmp, const std::string& other);
        bool writeOk;
    } cases[] = {
        {"symbolic link", [](const std::string& tmp, const std::string& other) { fs::create_symlink(other, tmp); }, true},
        {"hard link", [](const std::string& tmp, const std::string& other) { fs::create_hard_link(other, tmp); }, true},
        {"dangling link", [](const std::string& tmp, const std::string& other) { fs::create_symlink(other + ".no", tmp); },
         true},
        {"leftover of a killed save", [](const std::string& tmp, const std::string&) { std::ofstream(tmp) << "half"; },
         true},
        {"failed write", [](const std::string&, const std::string&) {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sqtest::TempDir dir;
        const std::string target = dir.write("prefs.xml", "old");
        const std::string other = dir.write("other", "keep");
        c.plant(target + ".tmp", other);
        const bool ok = c.writeOk ? platform::ReplaceFileDurably(target, writeNew)
                                  : platform::ReplaceFileDurably(target, [](int) { return false; });
        EXPECT_EQ(ok, c.writeOk);
        EXPECT_EQ(sqtest::ReadFile(target), c.writeOk ? "new" : "old");
        EXPECT_EQ(sqtest::ReadFile(other), "keep");
        EXPECT_FALSE(fs::exists(fs::symlink_status(target + ".tmp")));
    }
}

}  // namespace
