// The sonquill executable run as a user runs it, without a display: a FLAC file made here becomes
// an MP3 file that ffprobe reads; the exit code tells whether every item was done; start-up
// failures give their message and exit code.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <filesystem>
#include <string>

#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;
using sqtest::ReadFile;
using sqtest::TempDir;

struct Result {
    int code = -1;
    std::string err;
};

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        data.write("Sonquill/prefs.xml",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs><node key=\"overall.httpd.port\">0</node>"
                   "<node key=\"overall.task.saveQueue\">1</node></QuorvexPrefs>\n");
    }

    // Runs the program from `folder` (the build's output folder by default) in the work folder,
    // headless, bounded in time.
    Result Run(const std::string& args, const std::string& folder = SQ_OUT_DIR, const std::string& tag = "run") {
        const std::string err = work.file(tag + ".err");
        const std::string cmd = "cd '" + work.path().string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY APPDATA='" +
                                data.path().string() + "' timeout 120 '" + folder + "/sonquill' " + args +
                                " >/dev/null 2>'" + err + "'";
        const int status = std::system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(err)};
    }

    std::string MakeFlac(const std::string& name) {
        const std::string cmd = "cd '" + work.path().string() +
                                "' && ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:duration=1 -ac 2 " + name;
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return work.file(name);
    }

    // A program folder of its own: the program, its resource library and the shipped files.
    std::string CopyProgram(const TempDir& dir) {
        const fs::path out = SQ_OUT_DIR;
        for (const char* name : {"sonquill", "libqxres.so", "qxcore.xml", "qxcore64.xml", "defaults.xml",
                                 "sonquill.xml", "qxcodecs.xml", "lang.xml"})
            fs::copy_file(out / name, dir.path() / name);
        fs::copy(out / "lang", dir.path() / "lang", fs::copy_options::recursive);
        fs::copy(out / "ui", dir.path() / "ui", fs::copy_options::recursive);
        return dir.path().string();
    }

    TempDir work, data;
};

TEST_F(Program, ConvertsAFlacFileToMp3AndSavesItsFilesOnTheWayOut) {
    MakeFlac("song.flac");
    const Result r = Run("-verbose -start -exit song.flac");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string probe = "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + work.file("song.mp3") +
                              "' > '" + work.file("probe.txt") + "'";
    ASSERT_EQ(std::system(probe.c_str()), 0);
    EXPECT_EQ(ReadFile(work.file("probe.txt")).substr(0, 3), "mp3");
    // With -verbose the window's status and the log went to standard error; shut-down ran in its order.
    EXPECT_NE(r.err.find("status: Transcoding"), std::string::npos) << r.err;
    const size_t stop = r.err.find("Stopping jobs"), prefs = r.err.find("Saving preferences"),
                 queue = r.err.find("Saving the queue"), engine = r.err.find("Shutting down the engine");
    ASSERT_NE(engine, std::string::npos) << r.err;
    EXPECT_TRUE(stop < prefs && prefs < queue && queue < engine) << r.err;
    EXPECT_NE(ReadFile(data.file("Sonquill/queue.xml")).find("song.flac"), std::string::npos);
    EXPECT_NE(ReadFile(data.file("Sonquill/prefs.xml")).find("overall.ui.param"), std::string::npos);
}

TEST_F(Program, ExitCodeCountsTheItemsNotDone) {
    MakeFlac("a.flac");
    EXPECT_EQ(Run("-start -exit a.flac missing.flac").code, 1);
    // Without files the saved queue is loaded: a.flac is done and missing.flac failed; both are
    // offered again and the same one fails.
    const Result again = Run("-start -exit -assume yes");
    EXPECT_EQ(again.code, 1) << again.err;
}

TEST_F(Program, StartUpFailuresGiveTheirMessageAndExitCode) {
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> breakIt;
        const char* message;
    } cases[] = {
        {"no core definition file", [](const fs::path& p) { fs::remove(p / "qxcore.xml"); },
         "[] Error loading program initialization data."},
        {"a broken codecs description", [](const fs::path& p) { std::ofstream(p / "qxcodecs.xml") << "<codecs><"; },
         "[] Error loading codecs definition file."},
        {"no resource library", [](const fs::path& p) { fs::remove(p / "libqxres.so"); },
         "[2] Error loading resource DLL"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string folder = CopyProgram(dir);
        c.breakIt(folder);
        const Result r = Run("-start -exit", folder, "fail");
        EXPECT_EQ(r.code, 255) << c.what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << "\n" << r.err;
        EXPECT_EQ(r.err.find("AddressSanitizer"), std::string::npos) << r.err;
    }
}

TEST_F(Program, TwoInstancesAtOnceBothFinishAndLeaveWholeFiles) {
    MakeFlac("one.flac");
    MakeFlac("two.flac");
    const std::string base = "cd '" + work.path().string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY APPDATA='" +
                             data.path().string() + "' timeout 120 '" SQ_OUT_DIR "/sonquill' -start -exit ";
    const std::string cmd = "(" + base + "one.flac >/dev/null 2>&1 & " + base + "two.flac >/dev/null 2>&1; b=$?; wait $!; a=$?;" +
                            " exit $((a + b)))";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_TRUE(fs::exists(work.file("one.mp3")));
    EXPECT_TRUE(fs::exists(work.file("two.mp3")));
    const std::string prefs = ReadFile(data.file("Sonquill/prefs.xml"));
    EXPECT_NE(prefs.find("</QuorvexPrefs>"), std::string::npos) << prefs;
}

}  // namespace
