// The program binary, headless, as a user runs it: settings in the user's preference file, an
// input made by a real tool, `-start -exit`, and the output read back by ffprobe. One row per
// behaviour: the WAV reader applies "Output channels" and "Bit depth", and encoders that tag
// their output write every tag the source has and no option for the tags it lacks.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/headless_program.h"
#include "support/shell_command.h"
#include "support/tempdir.h"

namespace {

using sqtest::Capture;
using sqtest::Shell;

using sqtest::ProbeValues;

const char kTaggedFlac[] =
    "ffmpeg -v error -y -f lavfi -i sine=d=2 -ac 2 -metadata title=\"Tïtle O'Neil\" -metadata artist=Arty "
    "-metadata album=Alby -metadata track=7 -metadata date=1999 -metadata genre=\"Quill Wave\" in.flac";
const char kTitleOnlyFlac[] = "ffmpeg -v error -y -f lavfi -i sine=d=2 -ac 2 -metadata title=Lone in.flac";

TEST(HeadlessRoad, SettingsAndTagsReachTheOutput) {
    using Values = std::map<std::string, std::string>;
    struct Row {
        const char* what;
        const char* make;  // a shell line in the work folder that makes the input
        const char* input;
        sqtest::UserPrefs prefs;
        const char* output;
        std::string entries;  // what ffprobe reads
        Values want;          // each must be read as given ("" = must be absent)
    };
    const sqtest::UserPrefs flacMono24 = {
        {"overall.audio.autoEncoder", "false"}, {"overall.audio.encoder", "FLAC"},
        {"overall.audio.channels", "Mono"},     {"overall.audio.bitDepth", "24-bit"}};
    auto tagged = [](const char* encoder) {
        return sqtest::UserPrefs{
            {"overall.audio.autoEncoder", "false"}, {"overall.audio.encoder", encoder}, {"overall.output.tag", "true"}};
    };
    const Values allTags = {{"TAG:title", "Tïtle O'Neil"}, {"TAG:artist", "Arty"}, {"TAG:album", "Alby"},
                            {"TAG:track", "7"},             {"TAG:date", "1999"},  {"TAG:genre", "Quill Wave"}};
    const Values titleOnly = {{"TAG:title", "Lone"}, {"TAG:track", ""}, {"TAG:date", ""}, {"TAG:genre", ""}};
    const Row rows[] = {
        {"WAV to FLAC, mono and 24-bit asked", "sox -n -r 44100 -c 2 -b 16 in.wav synth 2 sine 440 vol 0.5", "in.wav",
         flacMono24, "in.flac", "stream=channels,bits_per_raw_sample", {{"channels", "1"}, {"bits_per_raw_sample", "24"}}},
        {"WAV to MP3, mono asked", "sox -n -r 44100 -c 2 -b 16 in.wav synth 2 sine 440 vol 0.5", "in.wav",
         {{"overall.audio.autoEncoder", "false"}, {"overall.audio.encoder", "LAME MP3"}, {"overall.audio.channels", "Mono"}},
         "in.mp3", "stream=channels", {{"channels", "1"}}},
        {"tags through lame", kTaggedFlac, "in.flac", tagged("LAME MP3"), "in.mp3", "format_tags", allTags},
        {"tags through oggenc", kTaggedFlac, "in.flac", tagged("Vorbis"), "in.ogg", "stream_tags", allTags},
        {"tags through opusenc", kTaggedFlac, "in.flac", tagged("Opus"), "in.opus", "stream_tags", allTags},
        {"title only through lame", kTitleOnlyFlac, "in.flac", tagged("LAME MP3"), "in.mp3", "format_tags", titleOnly},
        {"title only through oggenc", kTitleOnlyFlac, "in.flac", tagged("Vorbis"), "in.ogg", "stream_tags", titleOnly},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const sqtest::HeadlessProgram program(row.prefs);
        const sqtest::TempDir& work = program.work();
        ASSERT_TRUE(Shell("cd '" + work.path().string() + "' && " + row.make));
        const sqtest::ProgramResult run = program.Run({"-verbose", "-start", "-exit", row.input});
        ASSERT_EQ(run.code, 0) << run.err;
        const Values got = ProbeValues(work.file(row.output), row.entries);
        for (const auto& [key, value] : row.want) {
            auto it = got.find(key);
            EXPECT_EQ(it == got.end() ? std::string() : it->second, value) << key;
        }
        // No tool is given an option with an empty value.
        EXPECT_EQ(run.err.find(" \"\""), std::string::npos) << run.err;
    }
}

}  // namespace
