#include "engine/tools/media_probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/textutil.h"
#include "engine/context.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "support/event_recorder.h"
#include "support/tempdir.h"

namespace {

std::string Canned(const char* name) { return sqtest::ReadFile(std::string(SQ_TEST_DATA_DIR) + "/probe/" + name); }

struct ItemPtr {
    QueueItem* item;
    explicit ItemPtr(const char* path) : item(QueueNewItem(path)) {}
    ~ItemPtr() { QueueFreeItem(item); }
    QueueItem* operator->() const { return item; }
};

std::vector<uint32_t> AudioIds(const QueueItem* item) {
    std::vector<uint32_t> ids;
    for (const AudioStreamInfo* a = item->audio; a; a = a->next) ids.push_back(a->id);
    return ids;
}

std::string Text(const char* s) { return s ? s : "(null)"; }

TEST(MediaProbe, AudioOnlyFileFromThePlayersOwnOutput) {
    ItemPtr item("a.mp3");
    ParseProbeOutput(Canned("mp3_audio_only.txt").c_str(), item.item, 0);
    FinishProbe(item.item);
    ASSERT_EQ(AudioIds(item.item), std::vector<uint32_t>{0});
    const AudioStreamInfo* a = item->audio;
    EXPECT_EQ(a->format, 85u);       // printed in decimal
    EXPECT_EQ(a->bitrate, 129504u);  // the first non-zero bitrate stays
    EXPECT_EQ(a->samplerate, 48000u);
    EXPECT_EQ(a->channels, 2u);      // the 0 of the demuxer's line is passed over
    EXPECT_EQ(Text(a->codec), "mpg123");
    EXPECT_EQ(item->duration, 2000);
    EXPECT_EQ(Text(item->containerFormat), "Audio");
    EXPECT_EQ(item->video, nullptr);
}

TEST(MediaProbe, DvdTitleKeepsItsOwnLength) {
    ItemPtr item("dvd://3");
    ParseProbeOutput(Canned("dvd_title3.txt").c_str(), item.item, ProbeTitleNumber(item->file));
    FinishProbe(item.item);
    EXPECT_EQ(item->duration, 1320480);  // title 3, not title 1's nor the later length line
    ASSERT_EQ(AudioIds(item.item), (std::vector<uint32_t>{128, 129}));
    const AudioStreamInfo* ac3 = item->audio;
    EXPECT_EQ(ac3->samplerate, 48000u);
    EXPECT_EQ(ac3->channels, 6u);
    EXPECT_EQ(ac3->bitrate, 448000u);
    EXPECT_EQ(Text(ac3->codec), "ac3");
    EXPECT_EQ(ac3->next->samplerate, 0u);
    ASSERT_NE(item->video, nullptr);
    const VideoStreamInfo* v = item->video;
    EXPECT_EQ(Text(v->codec), "mpeg2");  // the numeric format tag names nothing
    EXPECT_EQ(v->width, 720u);
    EXPECT_EQ(v->height, 480u);
    EXPECT_EQ(v->scanMode, static_cast<uint32_t>('t'));
    int num = 0, den = 0;
    GetFraction(29.970, &num, &den);
    EXPECT_EQ(v->fpsNum, static_cast<uint32_t>(num));
    EXPECT_EQ(v->fpsDen, static_cast<uint32_t>(den));
    GetFraction(1.7778, &num, &den);  // the 0.0000 aspect line sets nothing
    EXPECT_EQ(v->darNum, static_cast<uint32_t>(num));
    EXPECT_EQ(v->darDen, static_cast<uint32_t>(den));
    EXPECT_NEAR(v->pixelAspect, 480.0 * num / (720.0 * den), 1e-9);
    EXPECT_EQ(Text(item->containerFormat), "MPEG-PS");
    // No size given: video plus first audio bitrate over the title's length.
    EXPECT_EQ(item->size, 1651889u);
}

TEST(MediaProbe, CrlfOutputWithSeveralAudioStreamsAndTags) {
    ItemPtr item("concert.mkv");
    ParseProbeOutput(Canned("mkv_two_audio_crlf.txt").c_str(), item.item, 0);
    ParseProbeOutput(Canned("mkv_stream1_crlf.txt").c_str(), item.item, 0, 1);
    ASSERT_EQ(AudioIds(item.item), (std::vector<uint32_t>{0, 1}));
    const AudioStreamInfo* first = item->audio;
    EXPECT_EQ(first->samplerate, 48000u);
    EXPECT_EQ(first->channels, 6u);
    EXPECT_EQ(Text(first->codec), "DTS");
    const AudioStreamInfo* second = first->next;
    EXPECT_EQ(second->samplerate, 44100u);
    EXPECT_EQ(second->channels, 2u);
    EXPECT_EQ(second->bitrate, 192000u);
    EXPECT_EQ(second->format, 0x706Du);
    EXPECT_EQ(Text(second->codec), "aac");
    EXPECT_EQ(item->containerFormat, nullptr);  // "libavformat" names no container
    EXPECT_EQ(Text(item->tagTitle), "Live at the Hall");
    EXPECT_EQ(Text(item->tagArtist), "The Quartet");
    EXPECT_EQ(item->tagYear, 2019u);
    EXPECT_TRUE(item->flags & kItemFlagHasTags);
    ASSERT_NE(item->video, nullptr);
    EXPECT_EQ(Text(item->video->codec), "H264");  // no carriage return kept
    EXPECT_EQ(item->video->scanMode, static_cast<uint32_t>('t'));
    EXPECT_EQ(item->duration, 3725040);
}

TEST(MediaProbe, LineRules) {
    const struct {
        const char* name;
        const char* text;
        int title;
        int32_t duration;
        uint32_t scan;  // of the last video record; 0 for none
        bool tagged;
    } cases[] = {
        {"second of two video streams is not telecine",
         "ID_VIDEO_ID=0\nID_VIDEO_FPS=25.000\nID_VIDEO_ID=1\nID_VIDEO_FPS=29.970\n", 0, 0, 'p', false},
        {"23 family is telecine", "ID_VIDEO_ID=0\nID_VIDEO_FPS=23.5\n", 0, 0, 't', false},
        {"fps above 120 leaves the rate unset", "ID_VIDEO_ID=0\nID_VIDEO_FPS=150\nID_VIDEO_FPS=29.97\n", 0, 0, 't', false},
        {"first length stands", "ID_LENGTH=1.5\nID_LENGTH=9\n", 0, 1500, 0, false},
        {"title lengths stand in without a title", "ID_DVD_TITLE_2_LENGTH=4.000\nID_LENGTH=9\n", 0, 4000, 0, false},
        {"other titles are no stand-in for a named one", "ID_DVD_TITLE_1_LENGTH=4.000\nID_LENGTH=9\n", 2, 9000, 0, false},
        {"lengths no int holds are no lengths", "ID_LENGTH=3.8e+34\nID_LENGTH=-2\nID_LENGTH=2\n", 0, 2000, 0, false},
        {"blu-ray title", "ID_BLURAY_TITLE_2_LENGTH=7.25\n", 2, 7250, 0, false},
        {"empty title sets no tag flag", "ID_CLIP_INFO_NAME0=Title\nID_CLIP_INFO_VALUE0=\n", 0, 0, 0, false},
        {"value of another index is ignored", "ID_CLIP_INFO_NAME0=Title\nID_CLIP_INFO_VALUE1=x\n", 0, 0, 0, false},
        {"title tag", "ID_CLIP_INFO_NAME3=NAME\nID_CLIP_INFO_VALUE3=Song\n", 0, 0, 0, true},
        {"audio lines before any id", "ID_AUDIO_RATE=44100\nID_VIDEO_WIDTH=3\n", 0, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ItemPtr item("x");
        ParseProbeOutput(c.text, item.item, c.title);
        EXPECT_EQ(item->duration, c.duration);
        const VideoStreamInfo* last = item->video;
        while (last && last->next) last = last->next;
        EXPECT_EQ(last ? last->scanMode : 0u, c.scan);
        EXPECT_EQ((item->flags & kItemFlagHasTags) != 0, c.tagged);
        EXPECT_EQ(item->audio, nullptr);
    }
}

TEST(MediaProbe, CodecDisplayNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"ffmp3", "MP3"}, {"FAAD", "AAC/AAC+"}, {"a52", "AC-3"}, {"ffdts", "DTS"}, {"AVC", "AVC"}, {"mpg123", "mpg123"}, {"ff", ""}};
    for (const auto& [in, out] : cases) EXPECT_EQ(CodecDisplayName(in), out) << in;
}

TEST(MediaProbe, CommandLinesQuoteThePathWhole) {
    ItemPtr item("/music/a \"b\" -dumpfile x.mkv");
    item->chapter = 2;
    SetStringField(&item->discRoot, "/media/disc");
    const std::string base = "mplayer \"/music/a \\\"b\\\" -dumpfile x.mkv\"";
    EXPECT_EQ(BuildProbeLine(item.item),
              base + " -identify -benchmark -nomsgcolor -vo null -ao null -channels 6 -quiet -cdrom-device \"/media/disc\""
                     " -chapter 2-2 -endpos 1 -frames 30");
    EXPECT_EQ(BuildStreamProbeLine(item.item, 3),
              base + " -identify -nomsgcolor -vo null -ao null -channels 6 -quiet -aid 3 -cdrom-device \"/media/disc\""
                     " -chapter 2-2 -parse-only");
}

// The player of the system, reached through our adapter for the per-stream runs.
class MediaProbeReal : public ::testing::Test {
protected:
    void SetUp() override {
        oldPath_ = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", (std::string(SQ_OUT_DIR) + "/tools:" + oldPath_).c_str(), 1);
    }
    void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }
    sqtest::TempDir dir_;
    std::string oldPath_;
};

TEST_F(MediaProbeReal, ProbesRealFiles) {
    const struct {
        const char* name;
        const char* make;
        uint32_t rate, channels;
        int32_t duration;
    } cases[] = {
        {"tone.wav", "sox -n -r 44100 -c 2 -b 16 %s synth 2 sine 440", 44100, 2, 2000},
        {"tone.mp3", "sox -n -r 48000 -c 2 -b 16 %s.wav synth 3 sine 440 && lame --quiet %s.wav %s", 48000, 2, 3000},
        {"tone.flac", "sox -n -r 96000 -c 6 -b 24 %s synth 2 sine 440", 96000, 6, 2000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir_.file(c.name);
        std::string cmd = c.make;
        for (size_t at; (at = cmd.find("%s")) != std::string::npos;) cmd.replace(at, 2, path);
        ASSERT_EQ(system((cmd + " 2>/dev/null").c_str()), 0);
        ItemPtr item(path.c_str());
        ASSERT_TRUE(AnalyzeStream(item.item));
        ASSERT_NE(item->audio, nullptr);
        EXPECT_EQ(item->audio->samplerate, c.rate);
        EXPECT_EQ(item->audio->channels, c.channels);
        EXPECT_NEAR(item->duration, c.duration, 60);
    }
}

// Each stream record holds its own stream's values, whichever stream the player's first run chose.
TEST_F(MediaProbeReal, EachAudioStreamGetsARunOfItsOwn) {
    struct Stream {
        uint32_t rate, channels, bitrate;
        const char* codec;
    };
    const struct {
        const char* name;
        const char* make;
        Stream first, second;
    } cases[] = {
        {"two.mka",
         "-f lavfi -i sine=f=440:r=44100:d=2 -f lavfi -i sine=f=660:r=22050:d=2 -map 0 -map 1 -ac:a:1 2 -c:a flac",
         {44100, 1, 0, "flac"}, {22050, 2, 0, "flac"}},
        {"film.mkv",
         "-f lavfi -i sine=f=440:r=48000:d=2 -f lavfi -i sine=f=660:r=44100:d=2 -map 0 -map 1 -ac:a:0 6 -ac:a:1 2 "
         "-c:a:0 ac3 -b:a:0 448k -c:a:1 libmp3lame -b:a:1 128k",
         {48000, 6, 448000, "ac3"}, {44100, 2, 128000, "mpg123"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir_.file(c.name);
        ASSERT_EQ(system(("ffmpeg -v quiet -y " + std::string(c.make) + " " + path).c_str()), 0);
        ItemPtr item(path.c_str());
        sqtest::EventRecorder events;
        EXPECT_TRUE(AnalyzeStream(item.item));
        ASSERT_EQ(AudioIds(item.item), (std::vector<uint32_t>{0, 1}));
        const AudioStreamInfo* records[] = {item->audio, item->audio->next};
        const Stream* wants[] = {&c.first, &c.second};
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(records[i]->samplerate, wants[i]->rate);
            EXPECT_EQ(records[i]->channels, wants[i]->channels);
            if (wants[i]->bitrate) {
                EXPECT_EQ(records[i]->bitrate, wants[i]->bitrate);
            }
            EXPECT_STRCASEEQ(Text(records[i]->codec).c_str(), wants[i]->codec);
        }
        int notices = 0;  // each stream's output handed to the user interface
        for (const auto& e : events.events()) notices += e.code == kEventProbeNotice;
        EXPECT_EQ(notices, 2);
    }
}

TEST_F(MediaProbeReal, ApeFilesThroughTheDecoderLibrary) {
    // The library reads whatever libavformat reads; a FLAC file stands in for an APE file.
    std::string path = dir_.file("tone.flac");
    ASSERT_EQ(system(("sox -n -r 48000 -c 2 -b 24 " + path + " synth 2.5 sine 440 2>/dev/null").c_str()), 0);
    platform::SetAppFolderOverride(SQ_OUT_DIR);
    ItemPtr item(path.c_str());
    EXPECT_TRUE(ProbeApeFile(item.item));
    ItemPtr missing(dir_.file("none.ape").c_str());
    EXPECT_FALSE(ProbeApeFile(missing.item));
    platform::SetAppFolderOverride("");
    ASSERT_NE(item->audio, nullptr);
    EXPECT_EQ(item->audio->samplerate, 48000u);
    EXPECT_EQ(item->audio->channels, 2u);
    EXPECT_EQ(item->audio->samplebits, 24u);
    EXPECT_EQ(Text(item->audio->codec), "Monkey's Audio");
    EXPECT_EQ(Text(item->containerFormat), "APE");
    EXPECT_EQ(item->duration, 2500);
}

TEST_F(MediaProbeReal, MissingInputGivesNoRecord) {
    ItemPtr item(dir_.file("none.wav").c_str());
    AnalyzeStream(item.item);
    EXPECT_EQ(item->audio, nullptr);
}

}  // namespace
