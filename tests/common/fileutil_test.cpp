#include "common/fileutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>

#include "env_scope.h"
#include "platform/fs.h"
#include "support/tempdir.h"

namespace fs = std::filesystem;

namespace {

// A fixture folder with a few files and folders to match names against.
class FileTree : public ::testing::Test {
protected:
    void SetUp() override {
        tmp_.write("a.txt", "x");
        tmp_.write("b.wav", "x");
        tmp_.write("noext", "x");
        tmp_.write("[x].txt", "x");
        fs::create_directory(tmp_.path() / "sub");
        fs::create_directory(tmp_.path() / "empty");
        fs::create_symlink(tmp_.file("gone"), tmp_.path() / "dangling");
    }
    std::string P(const std::string& rel) const { return tmp_.file(rel); }
    sqtest::TempDir tmp_;
};

TEST_F(FileTree, FileExistAndIsDirectoryFollowTheFirstMatch) {
    struct Case {
        std::string rel;
        int exists;
        int dir;
    } cases[] = {
        {"a.txt", 1, 0},     {"*.txt", 1, 0},  {"?.wav", 1, 0},   {"*.*", 1, 0},
        {"noext.*", 1, 0},   {"*.mp3", 0, 0},  {"sub", 1, 16},    {"s*", 1, 16},
        {"su?", 1, 16},      {"[x].txt", 1, 0}, {"x.txt", 0, 0},  {"*/a.txt", 0, 0},
        {"empty/*", 0, 0},   {"missing", 0, 0}, {"dangling", 1, 0}, {"", 1, 16},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileExist(P(c.rel).c_str()), c.exists) << c.rel;
        EXPECT_EQ(IsDirectory(P(c.rel).c_str()), c.dir) << c.rel;
    }
    EXPECT_EQ(FileExist(""), 0);
    EXPECT_EQ(FileExist(nullptr), 0);
    EXPECT_EQ(IsDirectory(nullptr), 0);
}

TEST(FileSize, BytesAndKilobytesAtTheBoundaries) {
    sqtest::TempDir tmp;
    struct Case {
        size_t bytes;
        int64_t kb;
    } cases[] = {{0, 0}, {1, 1}, {1023, 1}, {1024, 1}, {1500, 1}, {2047, 1}, {2048, 2}, {10240, 10}};
    for (const auto& c : cases) {
        const std::string path = tmp.write("f" + std::to_string(c.bytes), std::string(c.bytes, 'z'));
        EXPECT_EQ(GetFileBytes(path.c_str()), static_cast<int>(c.bytes)) << c.bytes;
        EXPECT_EQ(GetFileKB(path.c_str()), c.kb) << c.bytes;
    }
    EXPECT_EQ(GetFileBytes(tmp.file("missing").c_str()), -1);
    EXPECT_EQ(GetFileKB(tmp.file("missing").c_str()), -1);
    EXPECT_EQ(GetFileBytes(nullptr), -1);
    EXPECT_EQ(GetFileKB(nullptr), -1);
}

// Sparse files: the sizes are real, the disk space is not used.
TEST(FileSize, LargeFilesNeverWrapTheByteCount) {
    sqtest::TempDir tmp;
    struct Case {
        int64_t bytes;
        int expectBytes;
        int64_t expectKb;
    } cases[] = {
        {INT_MAX, INT_MAX, INT_MAX / 1024},
        {int64_t{1} << 31, -1, int64_t{1} << 21},
        {int64_t{5} << 30, -1, 5242880},
        {(int64_t{4} << 30) + 100, -1, int64_t{4} << 20},
    };
    for (const auto& c : cases) {
        const std::string path = tmp.file("sparse" + std::to_string(c.bytes));
        const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, c.bytes), 0);
        close(fd);
        EXPECT_EQ(GetFileBytes(path.c_str()), c.expectBytes) << c.bytes;
        EXPECT_EQ(GetFileKB(path.c_str()), c.expectKb) << c.bytes;
    }
}

TEST(RemoveFileTest, GoneIsSuccessAndAFolderIsNot) {
    sqtest::TempDir tmp;
    const std::string file = tmp.write("f.txt", "data");
    EXPECT_EQ(RemoveFile(file.c_str(), 0), 0);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(RemoveFile(file.c_str(), 0), 0) << "a missing file is gone";
    fs::create_directory(tmp.path() / "dir");
    EXPECT_EQ(RemoveFile(tmp.file("dir").c_str(), 10), -1);
    EXPECT_TRUE(fs::is_directory(tmp.path() / "dir"));
    EXPECT_EQ(RemoveFile(nullptr, 0), -1);
}

TEST(MakeDirTest, CreatesEveryLevelAndRefusesFiles) {
    sqtest::TempDir tmp;
    tmp.write("file", "x");
    fs::create_directory(tmp.path() / "exists");
    struct Case {
        std::string rel;
        int result;
        std::string mustBeDir;  // checked when the result is 0
    } cases[] = {
        {"a/b/c", 0, "a/b/c"},
        {"exists", 0, "exists"},
        {"t/u/", 0, "t/u"},
        {"d//e", 0, "d/e"},
        {"file/sub", -1, ""},
        {"file", -1, ""},
        {"back\\slash", 0, "back\\slash"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MakeDir(tmp.file(c.rel).c_str()), c.result) << c.rel;
        if (c.result == 0) {
            EXPECT_TRUE(fs::is_directory(tmp.path() / c.mustBeDir)) << c.rel;
        }
    }
    // A backslash is a name character here, not a separator.
    EXPECT_FALSE(fs::exists(tmp.path() / "back"));
    EXPECT_EQ(MakeDir(""), -1);
    EXPECT_EQ(MakeDir(nullptr), -1);
}

TEST(AppPath, ExecutableFolderOrOverrideWithTrailingSlash) {
    const std::string exe = platform::ExecutablePath();
    ASSERT_FALSE(exe.empty());
    const std::string folder = exe.substr(0, exe.rfind('/') + 1);

    char buf[4096];
    char* slash = GetAppPath(buf, sizeof buf);
    ASSERT_NE(slash, nullptr);
    EXPECT_EQ(std::string(buf), folder);
    EXPECT_EQ(slash, buf + folder.size() - 1);
    EXPECT_EQ(*slash, '/');

    // A buffer one byte short gets nothing, not a cut path.
    std::string small(folder.size(), '#');
    EXPECT_EQ(GetAppPath(small.data(), static_cast<int>(folder.size())), nullptr);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(GetAppPath(buf, 0), nullptr);

    platform::SetAppFolderOverride("/opt/fixture");
    EXPECT_NE(GetAppPath(buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "/opt/fixture/");
    platform::SetAppFolderOverride("");
    GetAppPath(buf, sizeof buf);
    EXPECT_EQ(std::string(buf), folder);
}

TEST(DesktopPath, HomeDesktopBounded) {
    sqtest::EnvScope env;
    env.Set("HOME", "/home/tester");
    char buf[64];
    EXPECT_EQ(GetDesktopPath(buf, sizeof buf), '/');
    EXPECT_STREQ(buf, "/home/tester/Desktop/");
    char exact[22];  // the text and its NUL exactly
    EXPECT_EQ(GetDesktopPath(exact, sizeof exact), '/');
    char small[21];
    EXPECT_EQ(GetDesktopPath(small, sizeof small), 0);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(GetUserDir(), nullptr);
}

TEST(PathKinds, DrivesNetworkAndCaptureTables) {
    for (int c : {'A', 'C', 'Z', 'a', 'z'}) EXPECT_EQ(IsDriveValid(c), 0) << static_cast<char>(c);
    for (int c : {int{'?'}, int{'/'}, int{'1'}, int{':'}, 0}) EXPECT_EQ(IsDriveValid(c), 1) << c;

    struct Case {
        const char* path;
        int network;
        int capture;
    } cases[] = {
        {"http://host/a.mp3", 1, 0}, {"https://host/a.mp3", 1, 0}, {"ftp://h/x", 1, 0},
        {"rtsp://h/x", 1, 0},        {"mms://h/x", 1, 1},          {"HTTP://host/", 0, 0},
        {"dshow://video=cam", 0, 1}, {"dvb-t://1", 0, 1},          {"dvb-s://1", 0, 1},
        {"dvb-c://1", 0, 1},         {"/music/http://x", 0, 0},    {"http:/x", 0, 0},
        {"", 0, 0},                  {nullptr, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsNetworkPath(c.path), c.network) << (c.path ? c.path : "(null)");
        EXPECT_EQ(IsCapDevicePath(c.path), c.capture) << (c.path ? c.path : "(null)");
    }
}

class Browse : public ::testing::Test {
protected:
    void TearDown() override { SetBrowseForPathHook(nullptr); }
};

TEST_F(Browse, WithoutAHookItIsCancelled) {
    char buf[QX_BROWSE_PATH_DEFAULT_SIZE] = "/start";
    EXPECT_EQ(BrowseForPath(buf, 0, "Pick", nullptr), 0);
    EXPECT_STREQ(buf, "/start");
}

TEST_F(Browse, HookResultIsWrittenWithSlashAndBounded) {
    std::string seenStart, seenTitle;
    void* seenOwner = nullptr;
    std::string answer;
    bool accept = true;
    SetBrowseForPathHook([&](const std::string& start, const char* title, void* owner, std::string& chosen) {
        seenStart = start;
        seenTitle = title;
        seenOwner = owner;
        chosen = answer;
        return accept;
    });
    int owner = 0;
    char buf[QX_BROWSE_PATH_DEFAULT_SIZE] = "/music";
    answer = "/out/dir";
    EXPECT_EQ(BrowseForPath(buf, 0, "Destination", &owner), 10);
    EXPECT_STREQ(buf, "/out/dir/");
    EXPECT_EQ(seenStart, "/music");
    EXPECT_EQ(seenTitle, "Destination");
    EXPECT_EQ(seenOwner, &owner);

    answer = "/already/";
    EXPECT_EQ(BrowseForPath(buf, 0, nullptr, nullptr), 10);
    EXPECT_STREQ(buf, "/already/");

    accept = false;
    EXPECT_EQ(BrowseForPath(buf, 0, "t", nullptr), 0);
    accept = true;
    answer = "";
    EXPECT_EQ(BrowseForPath(buf, 0, "t", nullptr), 0);
    EXPECT_STREQ(buf, "/already/");

    // The answer and its slash and NUL must fit: the default bound, then a given size.
    answer = "/" + std::string(QX_BROWSE_PATH_DEFAULT_SIZE - 3, 'd');
    EXPECT_EQ(BrowseForPath(buf, 0, "t", nullptr), QX_BROWSE_PATH_DEFAULT_SIZE);
    answer += "d";
    EXPECT_EQ(BrowseForPath(buf, 0, "t", nullptr), 0);
    char big[600];
    std::strcpy(big, "/");
    EXPECT_EQ(BrowseForPath(big, sizeof big, "t", nullptr), QX_BROWSE_PATH_DEFAULT_SIZE + 1);
    char tiny[8] = "/a";
    answer = "/abcdef";
    EXPECT_EQ(BrowseForPath(tiny, sizeof tiny, "t", nullptr), 0);
    EXPECT_STREQ(tiny, "/a");
}

TEST(LoadText, BufferRulesAndTermination) {
    sqtest::TempDir tmp;
    const std::string path = tmp.write("t.txt", "hello\r\nworld");  // 12 bytes
    const int len = 12;

    // No buffer: a new one of file size + 1.
    char* buf = nullptr;
    EXPECT_EQ(LoadTextFile(path.c_str(), &buf, 0), len);
    ASSERT_NE(buf, nullptr);
    EXPECT_STREQ(buf, "hello\r\nworld");

    // A buffer exactly the file size has no room for the NUL: it is replaced.
    char* exact = static_cast<char*>(std::malloc(len));
    EXPECT_EQ(LoadTextFile(path.c_str(), &exact, len), len);
    EXPECT_STREQ(exact, "hello\r\nworld");

    // A large enough buffer is used as it is.
    char* roomy = static_cast<char*>(std::malloc(64));
    char* before = roomy;
    EXPECT_EQ(LoadTextFile(path.c_str(), &roomy, 64), len);
    EXPECT_EQ(roomy, before);
    EXPECT_STREQ(roomy, "hello\r\nworld");

    // An empty file gives an empty, terminated text.
    const std::string empty = tmp.write("e.txt", "");
    EXPECT_EQ(LoadTextFile(empty.c_str(), &roomy, 64), 0);
    EXPECT_STREQ(roomy, "");

    // Failures leave the buffer alone.
    EXPECT_EQ(LoadTextFile(tmp.file("missing").c_str(), &roomy, 64), -1);
    EXPECT_EQ(roomy, before);
    EXPECT_EQ(LoadTextFile(tmp.path().c_str(), &roomy, 64), -1);
    // A named pipe with no writer is refused at once instead of blocking the caller. Run aside
    // with a bound; should it block, a writer is attached so the thread can finish.
    const std::string fifo = tmp.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto pending = std::async(std::launch::async, [&] {
        char* b = nullptr;
        const int r = LoadTextFile(fifo.c_str(), &b, 0);
        std::free(b);
        return r;
    });
    if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        const int w = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (w >= 0) close(w);
        ADD_FAILURE() << "LoadTextFile blocked on a named pipe";
    }
    EXPECT_EQ(pending.get(), -1);

    // A null path frees.
    for (char** p : {&buf, &exact, &roomy}) {
        EXPECT_EQ(LoadTextFile(nullptr, p, 0), 0);
        EXPECT_EQ(*p, nullptr);
    }
    EXPECT_EQ(LoadTextFile(nullptr, &buf, 0), 0) << "freeing nothing is harmless";
}

TEST(SaveText, LineFeedsBecomeCrLfAndFailuresAreReported) {
    sqtest::TempDir tmp;
    const std::string path = tmp.write("out.txt", "an older and much longer content\n");
    EXPECT_EQ(SaveTextFile(path.c_str(), "a\nb\n\nc"), 0);
    EXPECT_EQ(sqtest::ReadFile(path), "a\r\nb\r\n\r\nc");
    EXPECT_EQ(SaveTextFile(path.c_str(), ""), 0);
    EXPECT_EQ(sqtest::ReadFile(path), "");

    EXPECT_EQ(SaveTextFile(tmp.file("no/such/dir.txt").c_str(), "x"), -1);
    EXPECT_EQ(SaveTextFile("/dev/full", "data that cannot be stored\n"), -1);
    EXPECT_EQ(SaveTextFile(path.c_str(), nullptr), -1);
}

TEST(HandleInheritance, TogglesCloseOnExecInPlace) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    int fd = fds[0];
    EXPECT_EQ(SetHandleInheritance(&fd, 1), 0);
    EXPECT_EQ(fd, fds[0]);
    EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(SetHandleInheritance(&fd, 0), 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(SetHandleInheritance(&fd, 1), -1) << "closed descriptor";
    int bad = -1;
    EXPECT_EQ(SetHandleInheritance(&bad, 1), -1);
    EXPECT_EQ(SetHandleInheritance(nullptr, 1), -1);
}

TEST(Registry, ReadsValuesOfTheDataFolderFile) {
    sqtest::TempDir tmp;
    sqtest::EnvScope env;
    env.Set("APPDATA", tmp.path().string());
    tmp.write("Sonquill/registry",
              "[HKEY_LOCAL_MACHINE\\Software\\Codec]\n"
              "Path=/usr/lib/codec\n"
              "Version=2\n"
              "[HKEY_CURRENT_USER\\Software\\Codec]\n"
              "Path=/home/user/codec\n");
    char data[32];
    EXPECT_EQ(ReadRegKey(QX_HKEY_LOCAL_MACHINE, "Software\\Codec", 0, data, sizeof data), 0);
    EXPECT_STREQ(data, "/usr/lib/codec");
    EXPECT_EQ(ReadRegKey(QX_HKEY_LOCAL_MACHINE, "software/codec", 1, data, sizeof data), 0);
    EXPECT_STREQ(data, "2");
    EXPECT_EQ(ReadRegKey(QX_HKEY_CURRENT_USER, "Software\\Codec", 0, data, sizeof data), 0);
    EXPECT_STREQ(data, "/home/user/codec");

    EXPECT_EQ(ReadRegKey(QX_HKEY_LOCAL_MACHINE, "Software\\Codec", 2, data, sizeof data), -1);
    EXPECT_EQ(ReadRegKey(QX_HKEY_USERS, "Software\\Codec", 0, data, sizeof data), -1);
    EXPECT_EQ(ReadRegKey(QX_HKEY_LOCAL_MACHINE, "Software\\Other", 0, data, sizeof data), -1);
    // "/usr/lib/codec" and its NUL need 15 bytes.
    char small[15];
    EXPECT_EQ(ReadRegKey(QX_HKEY_LOCAL_MACHINE, "Software\\Codec", 0, small, sizeof small), 0);
    EXPECT_EQ(ReadRegKey(QX_HKEY_LOCAL_MACHINE, "Software\\Codec", 0, small, 14), -1);
    EXPECT_EQ(ReadRegKey(7, "Software\\Codec", 0, data, sizeof data), -1);
    EXPECT_EQ(ReadRegKey(QX_HKEY_LOCAL_MACHINE, nullptr, 0, data, sizeof data), -1);

    env.Set("APPDATA", tmp.file("elsewhere"));
    EXPECT_EQ(ReadRegKey(QX_HKEY_LOCAL_MACHINE, "Software\\Codec", 0, data, sizeof data), -1);
}

}  // namespace
