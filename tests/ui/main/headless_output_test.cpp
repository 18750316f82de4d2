// The program run without a display, as a user runs it from a terminal: standard error holds one
// line per item and a summary, the log file holds the details and the tools' own output, and
// every failed item says why (path, error code and meaning) there and in the log.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/headless_program.h"
#include "support/shell_command.h"
#include "support/tempdir.h"

namespace {

using sqtest::HeadlessProgram;
using sqtest::ProgramResult;
using sqtest::ReadFile;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(HeadlessOutput, OneLinePerItemAndASummaryWithoutTheToolsOrTheLog) {
    HeadlessProgram program;
    const std::string good = program.MakeTone("good.flac");
    ASSERT_FALSE(good.empty());
    const std::string bad = program.work().write("bad.mp3", "this is text, not sound\n");
    const ProgramResult r = program.Run({"-start", "-exit", "good.flac", "bad.mp3"});
    EXPECT_EQ(r.code, 1) << r.err;

    const std::vector<std::string> lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 3u) << r.err;
    EXPECT_EQ(lines[0], "done " + good + " -> " + program.work().file("good.mp3"));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("failed " + bad + ": error [0-9]+, .+"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex("2 items: 1 done, 1 failed, [0-9]+\\.[0-9] s \\(log: .*\\)")))
        << lines[2];
    EXPECT_TRUE(Contains(lines[2], program.logFile())) << lines[2];
    EXPECT_EQ(r.out, "") << "standard output is the tools' no more than standard error";

    // The details went to the log file: the engine's lines and the tools' command lines.
    const std::string log = ReadFile(program.logFile());
    EXPECT_TRUE(Contains(log, "Control HTTP server started")) << "a line from before the log file was known\n" << log;
    EXPECT_TRUE(Contains(log, "Start transcoding " + good)) << log;
    EXPECT_TRUE(Contains(log, "\n# ")) << "a tool's command line\n" << log;
    EXPECT_TRUE(Contains(log, "Failed " + bad + ": error ")) << log;
}

TEST(HeadlessOutput, TheVerboseOptionAlsoShowsTheLogAndTheTools) {
    HeadlessProgram program;
    ASSERT_FALSE(program.MakeTone("good.flac").empty());
    const ProgramResult r = program.Run({"-verbose", "-start", "-exit", "good.flac"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "Start transcoding ")) << r.err;
    EXPECT_TRUE(Contains(r.err, "\n# ")) << r.err;
    EXPECT_TRUE(Contains(r.err, "1 item: 1 done, 0 failed, ")) << r.err;
}

TEST(HeadlessOutput, AProgressLineOnlyWhenStandardErrorIsATerminal) {
    HeadlessProgram program;
    ASSERT_FALSE(program.MakeTone("long.flac", 120).empty());
    const ProgramResult r = program.RunOnTerminal({"-start", "-exit", "long.flac"});
    EXPECT_EQ(r.code, 0) << r.out;
    // The progress line is rewritten in place and cleared before the item's line.
    EXPECT_TRUE(std::regex_search(r.out, std::regex("\r\x1b\\[K\\[1/1\\] +[0-9]+% long\\.flac"))) << r.out;
    EXPECT_TRUE(Contains(r.out, "\r\x1b[Kdone " + program.work().file("long.flac"))) << r.out;
}

// Each way an item fails: the program exits non-zero, and standard error and the log name the
// path, the error code and its meaning.
TEST(HeadlessOutput, EveryFailedItemSaysWhy) {
    struct Case {
        const char* what;
        const char* input;     // the name given on the command line
        const char* failed;    // the item that fails (a playlist's entry, the file itself)
        int code;
        const char* meaning;
        bool fullDisk = false;
    } cases[] = {
        {"zero-byte file", "empty.flac", "empty.flac", 17, "no audio or video stream found in the source"},
        {"text named .mp3", "text.mp3", "text.mp3", 17, "no audio or video stream found in the source"},
        {"missing file", "missing.flac", "missing.flac", 6, "the source file does not exist"},
        // A .pls playlist is no list the program reads: it is an input file without streams.
        {".pls playlist naming a missing file", "list.pls", "list.pls", 17, "no audio or video stream found in the source"},
        {"full destination disk", "long.flac", "long.flac", 13,
         "the output could not be written (disk full, no permission or a write error)", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A small file system of its own for the output, mounted in a user and mount namespace of
        // the run (no privileges needed where the system allows such namespaces).
        std::vector<std::string> prefix;
        sqtest::UserPrefs destPrefs;
        if (c.fullDisk) {
            if (!sqtest::Shell("unshare -rm true")) {
                ADD_FAILURE() << "unshare -rm is not allowed here: the full-disk row cannot run";
                continue;
            }
        }
        sqtest::TempDir mount;
        if (c.fullDisk) {
            destPrefs = {{"overall.task.destdir", mount.path().string()}};
            prefix = {"unshare", "-rm", "sh", "-c",
                      "mount -t tmpfs -o size=32k none \"" + mount.path().string() + "\" && exec \"$0\" \"$@\""};
        }
        HeadlessProgram program(destPrefs);
        program.work().write("empty.flac", "");
        program.work().write("text.mp3", "Dear user, this is a letter.\n");
        program.work().write("list.pls", "[playlist]\nFile1=gone.flac\nNumberOfEntries=1\nVersion=2\n");
        ASSERT_FALSE(program.MakeTone("long.flac", 20).empty());
        const std::string failed = program.work().file(c.failed);

        const ProgramResult r = program.Run({"-start", "-exit", c.input}, 120, prefix);
        EXPECT_NE(r.code, 0) << r.err;
        const std::string reason = "error " + std::to_string(c.code) + ", " + c.meaning;
        EXPECT_TRUE(Contains(r.err, "failed " + failed + ": " + reason + "\n")) << r.err;
        const std::string log = ReadFile(program.logFile());
        EXPECT_TRUE(Contains(log, "Failed " + failed + ": " + reason + " [Job]\r\n")) << log;
    }
}

}  // namespace
