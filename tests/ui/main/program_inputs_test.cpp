// The sonquill executable run headless as a user runs it, with the real tools, on inputs as users
// give them: a folder of an album, names holding quotes, "$( )", a leading '-', non-ASCII letters
// and blanks (on the command line and through a playlist), a cut-short FLAC; and what the run
// says at its end. One row per fault once found on this road.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/headless_program.h"
#include "support/shell_command.h"

namespace {

namespace fs = std::filesystem;
using sqtest::MakeTone;
using sqtest::ProbeSeconds;
using sqtest::HeadlessProgram;
using sqtest::ProgramResult;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The run's log lines: on standard error, or in the log file of the data folder when the program
// keeps them there.
std::string LogOf(const HeadlessProgram& p, const ProgramResult& r) {
    return r.err + sqtest::ReadFile(p.dataFolder() + "sonquill.log");
}

// The names a user's files may carry: every character here is one a Linux file system allows.
const std::vector<std::string> kOddNames = {
    "q'uo\"te",  "Blue Monday (12\" Mix)", "cost $(echo x) and `y`", "-leading dash",
    "Ünïcødé 日本語", "  two  blanks  ", "back\\slash\\",
};

struct Row {
    const char* fault;
    // Makes the inputs in the work folder and gives the arguments after "-start -exit".
    std::function<std::vector<std::string>(const HeadlessProgram&)> prepare;
    int code;
    std::function<void(const HeadlessProgram&, const ProgramResult&)> check;
};

// The MP3 beside each source lasts as long as the source (1 s tones).
void ExpectMp3s(const fs::path& folder, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const fs::path mp3 = folder / (name + ".mp3");
        ASSERT_TRUE(fs::exists(mp3)) << mp3;
        EXPECT_NEAR(ProbeSeconds(mp3.string()), 1.0, 0.15) << mp3;
    }
}

std::vector<std::string> OddWavs(const fs::path& folder) {
    fs::create_directories(folder);
    std::vector<std::string> paths;
    for (const std::string& name : kOddNames) {
        const std::string path = (folder / (name + ".wav")).string();
        EXPECT_TRUE(MakeTone(path, 1.0)) << path;
        paths.push_back(path);
    }
    return paths;
}

TEST(ProgramInputs, EachRowConvertsOrFailsAsItSays) {
    const Row rows[] = {
        {"a folder converts the audio in it, not its cover and notes, and no sooner than it is scanned",
         [](const HeadlessProgram& p) {
             const fs::path album = p.work().path() / "ALBUM";
             fs::create_directories(album);
             for (const char* name : {"01 intro", "02 song", "03 outro"})
                 EXPECT_TRUE(MakeTone((album / (std::string(name) + ".wav")).string(), 1.0));
             EXPECT_TRUE(sqtest::Shell("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=red:s=64x64 -frames:v 1 '" +
                                       (album / "cover.jpg").string() + "'"));
             std::ofstream(album / "notes.txt") << "ripped with care\n";
             return std::vector<std::string>{"ALBUM/"};
         },
         0,
         [](const HeadlessProgram& p, const ProgramResult& r) {
             EXPECT_FALSE(Has(r.err, "There is no file in the list")) << r.err;
             ExpectMp3s(p.work().path() / "ALBUM", {"01 intro", "02 song", "03 outro"});
             EXPECT_FALSE(fs::exists(p.work().path() / "ALBUM" / "cover.mp3"));
             EXPECT_FALSE(fs::exists(p.work().path() / "ALBUM" / "notes.mp3"));
         }},
        {"names on the command line stay whole, each one argument of every tool",
         [](const HeadlessProgram& p) { return OddWavs(p.work().path() / "args"); }, 0,
         [](const HeadlessProgram& p, const ProgramResult& r) {
             ExpectMp3s(p.work().path() / "args", kOddNames);
             // Nothing else was written: no output under a piece of a name.
             size_t files = 0;
             for (const fs::directory_entry& e : fs::directory_iterator(p.work().path() / "args")) files += e.is_regular_file();
             EXPECT_EQ(files, 2 * kOddNames.size()) << r.err;
         }},
        {"the same names through a playlist",
         [](const HeadlessProgram& p) {
             const std::vector<std::string> paths = OddWavs(p.work().path() / "listed");
             std::ofstream list(p.work().path() / "odd names.m3u");
             list << "#EXTM3U\n";
             for (const std::string& path : paths) list << "#EXTINF:1,x\n" << path << "\n";
             return std::vector<std::string>{"odd names.m3u"};
         },
         0, [](const HeadlessProgram& p, const ProgramResult&) { ExpectMp3s(p.work().path() / "listed", kOddNames); }},
        {"a FLAC cut short fails and says why",
         [](const HeadlessProgram& p) {
             const std::string whole = p.work().file("whole.flac");
             EXPECT_TRUE(MakeTone(whole, 10.0));
             const auto size = fs::file_size(whole);
             fs::copy_file(whole, p.work().file("cut.flac"));
             fs::resize_file(p.work().file("cut.flac"), size / 2);
             fs::remove(whole);
             return std::vector<std::string>{"cut.flac"};
         },
         1,
         [](const HeadlessProgram& p, const ProgramResult& r) {
             EXPECT_TRUE(Has(LogOf(p, r), "cut.flac\" failed")) << LogOf(p, r);
         }},
        {"an MP3 cut short fails by its length alone",
         [](const HeadlessProgram& p) {
             const std::string whole = p.work().file("whole.mp3");
             EXPECT_TRUE(MakeTone(whole, 10.0));
             const auto size = fs::file_size(whole);
             fs::copy_file(whole, p.work().file("cut.mp3"));
             fs::resize_file(p.work().file("cut.mp3"), size / 2);
             fs::remove(whole);
             return std::vector<std::string>{"cut.mp3"};
         },
         1,
         [](const HeadlessProgram& p, const ProgramResult& r) {
             EXPECT_TRUE(Has(LogOf(p, r), "the input is cut short")) << LogOf(p, r);
         }},
        {"no after-batch action chosen: the run does not announce one",
         [](const HeadlessProgram& p) {
             EXPECT_TRUE(MakeTone(p.work().file("plain.wav"), 1.0));
             return std::vector<std::string>{"plain.wav"};
         },
         0,
         [](const HeadlessProgram& p, const ProgramResult& r) {
             EXPECT_TRUE(fs::exists(p.work().file("plain.mp3")));
             EXPECT_FALSE(Has(r.err, "The computer will carry out the chosen action now.")) << r.err;
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        HeadlessProgram program;
        std::vector<std::string> args{"-start", "-exit"};
        for (const std::string& a : row.prepare(program)) args.push_back(a);
        const ProgramResult r = program.Run(args);
        EXPECT_EQ(r.code, row.code) << r.err;
        EXPECT_FALSE(Has(r.err, "Sanitizer")) << r.err;
        row.check(program, r);
    }
}

// A program folder of the build's output folder's files but one left out: the program itself
// hard-linked (copied where that fails), so that it takes this folder for its own, the rest linked.
void MakeProgramFolderWithout(const fs::path& folder, const std::string& leftOut) {
    for (const fs::directory_entry& e : fs::directory_iterator(SQ_OUT_DIR)) {
        const std::string name = e.path().filename().string();
        if (name == leftOut) continue;
        if (name != "sonquill") {
            fs::create_symlink(e.path(), folder / name);
            continue;
        }
        std::error_code ec;
        fs::create_hard_link(e.path(), folder / name, ec);
        if (ec) fs::copy_file(e.path(), folder / name);
    }
}

// Audio read through the script layer (the "AVISynth" decoder): the program opens the layer's module
// on the first script it reads; without the module the item fails and says why, and the program ends.
TEST(ProgramInputs, AudioThroughTheScriptLayerOpensItsModule) {
    const struct {
        const char* what;
        bool withModule;
        int code;
        std::vector<std::string> says;
    } cases[] = {
        {"the module beside the program", true, 0, {"Found Audio Stream", "1 done"}},
        {"no module", false, 1,
         {"cannot load the script module", "AVIFileOpen failed, unable to open script environment",
          "the source could not be opened or read"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HeadlessProgram program({{"overall.audio.autoSource", "false"}, {"overall.audio.source", "AVISynth"}});
        ASSERT_TRUE(MakeTone(program.work().file("tone.wav"), 1.0));
        sqtest::TempDir folder;
        if (!c.withModule) MakeProgramFolderWithout(folder.path(), "libsqavs.so");
        const ProgramResult r = program.Run({"-verbose", "-start", "-exit", "tone.wav"}, 120, {},
                                            c.withModule ? std::string(SQ_OUT_DIR) : folder.path().string());
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_FALSE(Has(r.err, "Sanitizer")) << r.err;
        for (const std::string& line : c.says) EXPECT_TRUE(Has(LogOf(program, r), line)) << line << "\n" << r.err;
        if (c.withModule) ExpectMp3s(program.work().path(), {"tone"});
        else EXPECT_FALSE(fs::exists(program.work().file("tone.mp3")));
    }
}

}  // namespace
