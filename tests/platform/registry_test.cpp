#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../common/env_scope.h"
#include "support/syscall_trace.h"
#include "support/tempdir.h"

namespace {

using platform::RegRoot;

TEST(RegistryFile, WriteThenReadKeepsOrderAndEscapes) {
    sqtest::TempDir tmp;
    const std::string file = tmp.file("data/deeper/registry");  // folders created on the first write
    ASSERT_TRUE(platform::RegistryWriteValue(file, RegRoot::CurrentUser, "Software\\App", "Path", "/opt/app"));
    ASSERT_TRUE(platform::RegistryWriteValue(file, RegRoot::CurrentUser, "Software\\App", "Odd=Name", "a\\b\nc=d\r"));
    ASSERT_TRUE(platform::RegistryWriteValue(file, RegRoot::LocalMachine, "Software\\App", "Path", "/usr/app"));
    // Same name again, other case: replaced in place, order kept.
    ASSERT_TRUE(platform::RegistryWriteValue(file, RegRoot::CurrentUser, "software/app", "PATH", "/new"));

    struct Case {
        RegRoot root;
        const char* key;
        int index;
        bool found;
        const char* name;
        const char* data;
    } cases[] = {
        {RegRoot::CurrentUser, "Software\\App", 0, true, "PATH", "/new"},
        {RegRoot::CurrentUser, "SOFTWARE\\APP\\", 1, true, "Odd=Name", "a\\b\nc=d\r"},
        {RegRoot::CurrentUser, "Software\\App", 2, false, "", ""},
        {RegRoot::LocalMachine, "Software/App", 0, true, "Path", "/usr/app"},
        {RegRoot::Users, "Software\\App", 0, false, "", ""},
        {RegRoot::CurrentUser, "Software", 0, false, "", ""},
        {RegRoot::CurrentUser, "Software\\App", -1, false, "", ""},
    };
    for (const auto& c : cases) {
        std::string name = "untouched", data = "untouched";
        EXPECT_EQ(platform::RegistryReadValue(file, c.root, c.key, c.index, &name, &data), c.found)
            << c.key << " #" << c.index;
        if (c.found) {
            EXPECT_EQ(name, c.name);
            EXPECT_EQ(data, c.data);
        }
    }
    EXPECT_FALSE(platform::RegistryReadValue(tmp.file("missing"), RegRoot::CurrentUser, "Software\\App", 0, nullptr,
                                             nullptr));
}

TEST(RegistryFile, HandWrittenFileWithCommentsAndCrLf) {
    sqtest::TempDir tmp;
    const std::string file = tmp.write("registry", "# settings\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n"
                                                   "; a comment\r\nnot a value\r\nA=1\r\n\r\nB=\r\n");
    std::string name, data;
    ASSERT_TRUE(platform::RegistryReadValue(file, RegRoot::LocalMachine, "Software\\X", 0, &name, &data));
    EXPECT_EQ(name, "A");
    EXPECT_EQ(data, "1");
    ASSERT_TRUE(platform::RegistryReadValue(file, RegRoot::LocalMachine, "Software\\X", 1, &name, &data));
    EXPECT_EQ(name, "B");
    EXPECT_EQ(data, "");
    // Writing keeps the other lines.
    ASSERT_TRUE(platform::RegistryWriteValue(file, RegRoot::LocalMachine, "Software\\X", "C", "3"));
    ASSERT_TRUE(platform::RegistryReadValue(file, RegRoot::LocalMachine, "Software\\X", 2, &name, &data));
    EXPECT_EQ(name, "C");
    EXPECT_NE(sqtest::ReadFile(file).find("# settings"), std::string::npos);
}

TEST(RegistryFile, NamesThatLookLikeHeadersOrCommentsReadBack) {
    sqtest::TempDir tmp;
    const std::string file = tmp.file("registry");
    const char* names[] = {"[x]", "#hash", ";semi", "[", "a[b]"};
    for (const char* n : names)
        ASSERT_TRUE(platform::RegistryWriteValue(file, RegRoot::CurrentUser, "Software\\App", n, "v]"));
    ASSERT_TRUE(platform::RegistryWriteValue(file, RegRoot::CurrentUser, "Software\\App", "after", "1"));
    int index = 0;
    for (const char* n : names) {
        std::string name, data;
        ASSERT_TRUE(platform::RegistryReadValue(file, RegRoot::CurrentUser, "Software\\App", index++, &name, &data))
            << n;
        EXPECT_EQ(name, n);
        EXPECT_EQ(data, "v]");
    }
    // "[x]" did not open another key: the value after it still belongs to Software\App.
    std::string name;
    ASSERT_TRUE(platform::RegistryReadValue(file, RegRoot::CurrentUser, "Software\\App", index, &name, nullptr));
    EXPECT_EQ(name, "after");

    // A key path with a line break would split its header: refused, the file unchanged.
    const std::string before = sqtest::ReadFile(file);
    EXPECT_FALSE(platform::RegistryWriteValue(file, RegRoot::CurrentUser, "Soft\nware]\n[X", "n", "d"));
    EXPECT_EQ(sqtest::ReadFile(file), before);
}

TEST(RegistryFile, LivesInTheDataFolder) {
    sqtest::EnvScope env;
    env.Set("APPDATA", "/roam");
    EXPECT_EQ(platform::RegistryFile(), "/roam/Sonquill/registry");
}

// Run in a child by the next test.
TEST(RegistryFile, DISABLED_WriteForTrace) {
    const char* folder = std::getenv(sqtest::kTraceDirVariable);
    ASSERT_NE(folder, nullptr);
    ASSERT_TRUE(platform::RegistryWriteValue(std::string(folder) + "/registry", RegRoot::CurrentUser, "Software\\App",
                                             "Path", "/opt/app"));
}

// A power loss right after a write brings back the old file or the new one, never an empty one.
TEST(RegistryFile, FileAndFolderReachTheDiskAroundTheRename) {
    if (!sqtest::CanTraceSystemCalls()) GTEST_SKIP() << "strace cannot run here";
    sqtest::TempDir tmp;
    const std::string folder = tmp.path().string();
    const std::string file = folder + "/registry";
    const auto calls = sqtest::TraceFileCalls("RegistryFile.DISABLED_WriteForTrace", folder);
    EXPECT_TRUE(sqtest::CallsInOrder(calls, {"fsync " + file + ".tmp", "rename " + file + ".tmp " + file, "fsync " + folder}))
        << testing::PrintToString(calls);
    std::string data;
    EXPECT_TRUE(platform::RegistryReadValue(file, RegRoot::CurrentUser, "Software\\App", 0, nullptr, &data));
    EXPECT_EQ(data, "/opt/app");
}

}  // namespace
