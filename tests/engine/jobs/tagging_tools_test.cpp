// The tag tools on real files of every output kind: TagOutputFile writes non-ASCII text, quotes,
// backslashes, a leading '-', a track and a year, and ffprobe reads exactly those back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "engine/encoders/encoder_test_support.h"
#include "engine/jobs/tagging.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "support/event_recorder.h"

namespace {

struct FormatCase {
    const char* ext;
    const char* make;  // ffmpeg output options, or a shell line ($OUT) for tools ffmpeg lacks
    bool shell = false;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.ext; }

class TagToolsTest : public ::testing::TestWithParam<FormatCase> {};

// ffprobe's tag lines with lower-case keys, from the container and the audio stream.
std::string LowerKeys(const std::string& info) {
    std::string out;
    size_t start = 0;
    while (start < info.size()) {
        size_t end = info.find('\n', start);
        if (end == std::string::npos) end = info.size();
        std::string line = info.substr(start, end - start);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) {
            std::transform(line.begin(), line.begin() + static_cast<long>(eq), line.begin(),
                           [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        }
        out += line + "\n";
        start = end + 1;
    }
    return out;
}

std::string AnyField(const std::string& info, std::initializer_list<const char*> names) {
    for (const char* n : names) {
        const std::string v = enctest::Field(info, std::string("tag:") + n);
        if (!v.empty()) return v;
    }
    return {};
}

TEST_P(TagToolsTest, TagsComeBackExactly) {
    const FormatCase& c = GetParam();
    ASSERT_TRUE(enctest::OnPath("ffmpeg"));
    sqtest::TempDir dir;
    const std::string out = dir.file(std::string("öut \"1\".") + c.ext);
    int code = -1;
    const std::string make =
        c.shell ? "sh -c " + platform::QuoteArg(std::string("OUT=\"$0\"; ") + c.make) + " " + platform::QuoteArg(out)
                : std::string("ffmpeg -v error -nostdin -y -f lavfi -i sine=d=1 ") + c.make + " " + platform::QuoteArg(out);
    ASSERT_TRUE(RunAndWait(make.c_str(), nullptr, kProcNoStdHandles, &code, 60000));
    ASSERT_EQ(code, 0) << make;

    QueueItem item;
    item.flags = kItemFlagInUse | kItemFlagHasTags;
    item.tagTitle = strdup("Tïtle \"quoted\" \\ 'x'");
    item.tagArtist = strdup("-Bänd --title");
    item.tagAlbum = strdup("Ålbum & co");
    item.tagGenre = strdup("Jäzz");
    item.tagComment = strdup("c\"o\\m");
    item.tagTrack = 7;
    item.tagYear = 1999;
    sqtest::EventRecorder events;
    platform::SetAppFolderOverride(SQ_OUT_DIR);  // where tools/ holds the tag tools
    const int result = TagOutputFile(out.c_str(), &item);
    platform::SetAppFolderOverride("");
    ASSERT_EQ(result, 0) << events.texts(kEventLogLine).back();
    EXPECT_EQ(item.errorCode, 0);

    const std::string info = LowerKeys(enctest::Probe(out, "format_tags:stream_tags"));
    EXPECT_EQ(AnyField(info, {"title"}), item.tagTitle) << info;
    EXPECT_EQ(AnyField(info, {"artist"}), item.tagArtist) << info;
    EXPECT_EQ(AnyField(info, {"album"}), item.tagAlbum) << info;
    EXPECT_EQ(AnyField(info, {"genre"}), item.tagGenre) << info;
    EXPECT_EQ(AnyField(info, {"comment"}), item.tagComment) << info;
    EXPECT_EQ(AnyField(info, {"track"}), "7") << info;
    EXPECT_EQ(AnyField(info, {"date", "year", "wm/year"}), "1999") << info;
    ClearItemTags(&item);
}

INSTANTIATE_TEST_SUITE_P(
    OutputKinds, TagToolsTest,
    ::testing::Values(FormatCase{"mp3", "-c:a libmp3lame"}, FormatCase{"ogg", "-c:a libvorbis"},
                      FormatCase{"opus", "-c:a libopus"}, FormatCase{"flac", "-c:a flac"},
                      FormatCase{"spx", "-ar 16000 -c:a libspeex"}, FormatCase{"m4a", "-c:a aac"},
                      FormatCase{"mp4", "-c:a aac"}, FormatCase{"wv", "-c:a wavpack"},
                      FormatCase{"wma", "-c:a wmav2"},
                      FormatCase{"mpc", "ffmpeg -v error -nostdin -f lavfi -i sine=d=1 -ac 2 -f wav - | "
                                        "mpcenc --silent --overwrite - \"$OUT\"", true}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.ext); });

}  // namespace
