// The program's "mplayer" adapter answers the probe's identify run and plain decodes itself: its
// answers must be the system player's, line for line and byte for byte, on every kind of input
// the engine meets. Both are run on the same files, made here with ffmpeg.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/tools/adapter_answers.h"
#include "support/shell_command.h"
#include "support/tempdir.h"

namespace {

const std::string kAdapter = std::string(SQ_OUT_DIR) + "/tools/mplayer";
const std::string kPlayer = "/usr/bin/mplayer";

struct Sample {
    const char* name;
    const char* make;          // ffmpeg arguments after the tone input (stereo 44.1 kHz, 3 s)
    const char* then = nullptr;  // a shell command run in the folder afterwards
};

// The table of inputs: every container and codec the probe meets, mono and 24-bit variants, tags,
// two audio streams, and a video (which the adapter leaves to the player).
const Sample kSamples[] = {
    {"s16.wav", "-c:a pcm_s16le"},
    // PCM whose bytes hold a DTS sync word across two samples (read as PCM), and DTS frames
    // carried as 16-bit PCM (read as DTS).
    {"oddsync.wav", "-c:a pcm_s16le", "printf '\\376\\177\\001\\200' | dd of=oddsync.wav bs=1 seek=1045 conv=notrunc status=none"},
    {"dtspcm.wav", "-c:a pcm_s16le",
     "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 -ac 2 -c:a dca -strict -2 "
     "-f dts - | ffmpeg -loglevel error -y -f s16le -ar 44100 -ac 2 -i - -c:a pcm_s16le dtspcm.wav"},
    {"s24.wav", "-c:a pcm_s24le"},
    {"mono22.wav", "-ac 1 -ar 22050 -c:a pcm_s16le"},
    {"plain.flac", ""},
    {"tagged.flac", "-metadata title=Tone -metadata artist=Sonquill"},
    // Comments the reader renames, one of them onto a key that is there already.
    {"renamed.flac", "-metadata ALBUMARTIST=Band -metadata TRACKNUMBER=3 -metadata comment=one -metadata DESCRIPTION=two"},
    {"hi.flac", "-sample_fmt s32 -ar 48000"},
    {"mono.flac", "-ac 1"},
    {"lame.mp3", "-c:a libmp3lame"},
    {"vorbis.ogg", "-c:a libvorbis -metadata title=Tone"},
    {"opus.opus", "-c:a libopus"},
    {"aac.m4a", "-c:a aac"},
    {"pack.wv", "-c:a wavpack"},
    {"two.mkv", "-f lavfi -i sine=frequency=880:sample_rate=48000:duration=3 -map 0 -map 1 -c:a flac"},
    {"video.avi",
     "-f lavfi -i testsrc=size=160x120:rate=25:duration=3 -map 1:v -map 0:a -c:v mpeg4 -c:a libmp3lame -shortest"},
};

class AdapterAnswers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new sqtest::TempDir;
        for (const Sample& s : kSamples) {
            const std::string cmd = "timeout 60 ffmpeg -loglevel error -y -f lavfi -i "
                                    "'sine=frequency=440:sample_rate=44100:duration=3' -ac 2 " +
                                    std::string(s.make) + " '" + dir_->file(s.name) + "'";
            ASSERT_TRUE(sqtest::Shell(cmd)) << cmd;
            if (s.then) {
                const std::string then = "cd '" + dir_->path().string() + "' && timeout 60 sh -c \"" + s.then + "\"";
                ASSERT_TRUE(sqtest::Shell(then)) << then;
            }
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // The "ID_" lines and the container line a run prints, in order.
    static std::string IdLines(const std::string& program, const std::string& options, const std::string& file) {
        std::istringstream out(sqtest::Capture("cd '" + dir_->path().string() + "' && timeout 60 " + program + " " +
                                               file + " " + options + " 2>/dev/null"));
        std::string lines;
        for (std::string line; std::getline(out, line);)
            if (line.rfind("ID_", 0) == 0 || line.find(" file format detected.") != std::string::npos) lines += line + "\n";
        return lines;
    }

    static sqtest::TempDir* dir_;
};
sqtest::TempDir* AdapterAnswers::dir_ = nullptr;

TEST_F(AdapterAnswers, IdentifyPrintsThePlayersLines) {
    // The probe's lines: the identify run (quiet and really quiet) and the per-stream run, whose
    // "-parse-only" the adapter hands to the player as "-frames 0".
    const std::vector<std::pair<std::string, std::string>> requests = {
        {"-identify -benchmark -nomsgcolor -vo null -ao null -channels 6 -quiet -endpos 1 -frames 30", ""},
        {"-identify -benchmark -nomsgcolor -vo null -ao null -channels 6 -really-quiet -endpos 1 -frames 30", ""},
        {"-identify -nomsgcolor -vo null -ao null -channels 6 -quiet -aid 1 -parse-only",
         "-identify -nomsgcolor -vo null -ao null -channels 6 -quiet -aid 1 -frames 0"},
    };
    for (const Sample& s : kSamples) {
        for (const auto& [request, playerRequest] : requests) {
            const std::string expected = IdLines(kPlayer, playerRequest.empty() ? request : playerRequest, s.name);
            ASSERT_NE(expected.find("ID_EXIT="), std::string::npos) << s.name << ": the player printed nothing";
            EXPECT_EQ(IdLines(kAdapter, request, s.name), expected) << s.name << " with " << request;
        }
    }
}

// The program gives the adapter's identify text itself when the player its probe would start is
// the adapter: the same text, whole, for every file the adapter answers from its headers alone; no
// answer for the rest, nor when the player found first is some other program.
TEST_F(AdapterAnswers, TheProgramGivesTheAdaptersIdentifyTextItself) {
    namespace fs = std::filesystem;
    sqtest::TempDir folder;  // a program folder: its "tools/mplayer" is the adapter
    fs::create_directories(folder.path() / "tools");
    fs::copy_file(kAdapter, folder.path() / "tools" / "mplayer");
    // The probe looks for the player below the current folder: the test's own, given back at its end
    // however it ends.
    struct InFolder {
        fs::path before = fs::current_path();
        explicit InFolder(const fs::path& to) { fs::current_path(to); }
        ~InFolder() { fs::current_path(before); }
    } inFolder(folder.path());
    const std::string request = "-identify -benchmark -nomsgcolor -vo null -ao null -channels 6 -quiet -endpos 1 -frames 30";
    std::vector<std::string> answered;
    for (const Sample& s : kSamples) {
        const std::string line = "mplayer \"" + dir_->file(s.name) + "\" " + request;
        std::string text;
        if (!AnswerIdentifyInProgram(line, &text)) continue;
        answered.push_back(s.name);
        EXPECT_EQ(text, sqtest::Capture("timeout 60 " + kAdapter + " '" + dir_->file(s.name) + "' " + request +
                                        " 2>/dev/null") + "\n")
            << s.name;
    }
    // The plain WAVE and native FLAC files, and only those (the others need the FFmpeg libraries,
    // a compressed stream in PCM or a layout the light readers leave to the player).
    const std::vector<std::string> light = {"s16.wav", "oddsync.wav", "mono22.wav", "plain.flac",
                                            "tagged.flac", "renamed.flac", "hi.flac", "mono.flac"};
    EXPECT_EQ(answered, light);
    // Another player found first (a folder searched before "tools/"), or a "tools/mplayer" that
    // is not the adapter: the run is started as it stands.
    const std::string line = "mplayer \"" + dir_->file("s16.wav") + "\" " + request;
    std::string text;
    fs::create_directories("codecs");
    fs::copy_file(kPlayer, "codecs/mplayer");
    EXPECT_FALSE(AnswerIdentifyInProgram(line, &text));
    fs::remove_all("codecs");
    EXPECT_TRUE(AnswerIdentifyInProgram(line, &text));
    fs::remove("tools/mplayer");
    fs::copy_file(kPlayer, "tools/mplayer");
    EXPECT_FALSE(AnswerIdentifyInProgram(line, &text));
}

TEST_F(AdapterAnswers, DecodeWritesThePlayersBytes) {
    struct Case {
        const char* options;
        bool toFile;  // a file gets its sizes written at the end; a pipe keeps the stream sizes
    };
    const Case cases[] = {
        {"-af format=s16le", false},
        {"-af format=s24le", false},
        {"-af format=s16le", true},
        {"-aid 1 -af format=s16le", false},
        {"-af volume=3:0,format=s16le", false},  // a filter the adapter leaves to the player
    };
    for (const Sample& s : kSamples) {
        const std::string channels =
            sqtest::Capture("timeout 30 ffprobe -v error -select_streams a:0 -show_entries stream=channels -of csv=p=0 '" +
                            dir_->file(s.name) + "'");
        for (const Case& c : cases) {
            if (std::string(c.options).find("-aid 1") != std::string::npos && std::string(s.name) != "two.mkv") continue;
            std::string outputs[2];
            for (int i = 0; i < 2; ++i) {
                const std::string program = i == 0 ? kPlayer : kAdapter;
                const std::string file = dir_->file(std::string("out") + std::to_string(i) + ".wav");
                const std::string ao = c.toFile ? "pcm:waveheader:fast:file=" + file : "pcm:waveheader:fast:file=/dev/fd/3";
                const std::string line = "timeout 60 " + program + " -quiet -nomsgcolor -benchmark -noautosub -nosub -channels " +
                                         channels + " " + c.options + " -vo null -ao " + ao + " '" + dir_->file(s.name) + "'";
                if (c.toFile) {
                    sqtest::Shell(line);
                    outputs[i] = sqtest::ReadFile(file);
                } else {
                    // Only the PCM reaches the pipe: the player's messages go elsewhere.
                    outputs[i] = sqtest::Capture(line + " 3>&1 >/dev/null 2>&1 | od -An -tx1 -v | md5sum");
                }
            }
            EXPECT_GT(outputs[0].size(), 32u) << s.name << " " << c.options << ": the player wrote nothing";
            EXPECT_TRUE(outputs[0] == outputs[1]) << s.name << " with " << c.options << (c.toFile ? " into a file" : "");
        }
    }
}

}  // namespace
