#include "engine/tools/media_info.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/queue/queue.h"
#include "support/tempdir.h"

namespace {

struct ItemPtr {
    QueueItem* item;
    explicit ItemPtr(const char* path) : item(QueueNewItem(path)) {}
    ~ItemPtr() { QueueFreeItem(item); }
    QueueItem* operator->() const { return item; }
};

std::string Canned(const char* name) { return sqtest::ReadFile(std::string(SQ_TEST_DATA_DIR) + "/mediainfo/" + name); }

std::string Text(const char* s) { return s ? s : "(null)"; }

void Make(const std::string& cmd) { ASSERT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd; }

TEST(MediaInfoText, DurationAndBitrateTexts) {
    struct Case {
        const char* text;
        uint32_t duration;
        uint32_t bitrate;
    };
    const Case cases[] = {
        {"1h 2mn 3s 500ms", 3723500, 1},
        {"1 536 Kbps", 0, 1000},  // a grouped number is read by its leading part only
        {"13.8 Mbps", 0, 13800000},
        {"44.1 KHz", 0, 44100},
        {"8000 Hz", 0, 8000},
        {"2 min 5 s", 125000, 2},  // "min" counts as minutes
        {"", 0, 0},
        {"abc", 0, 0},
        {"-5 Kbps", 0, 0},
        {"99999999999999999999h 9999999999999999s", 0xFFFFFFFFu, 0xFFFFFFFFu},  // held, not wrapped
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseMediaInfoDuration(c.text), c.duration) << c.text;
        EXPECT_EQ(ParseMediaInfoBitrate(c.text), c.bitrate) << c.text;
    }
    EXPECT_EQ(ParseMediaInfoDuration(nullptr), 0u);
    EXPECT_EQ(ParseMediaInfoBitrate(nullptr), 0u);
}

// The older key names, an interlaced bottom-first video, a text track and an image.
TEST(MediaInfoXml, CannedOutputFillsTheRecords) {
    const std::string xml = Canned("interlaced_old.xml");
    ASSERT_FALSE(xml.empty());
    ItemPtr item("/tmp/rec.ts");
    ASSERT_TRUE(ReadMediaInfoXml(xml.data(), xml.size(), item.item));
    EXPECT_EQ(item->duration, 3723500);
    EXPECT_EQ(item->containerBitrate, 13800000u);
    EXPECT_EQ(Text(item->containerFormat), "MPEG-TS");
    EXPECT_EQ(Text(item->tagTitle), "Late news");
    EXPECT_EQ(Text(item->tagComment), "recorded off air");
    EXPECT_EQ(item->tagYear, 2011u);
    EXPECT_TRUE(item->flags.load() & kItemFlagHasTags);
    EXPECT_TRUE(item->flags.load() & kItemFlagTextTrack);

    const VideoStreamInfo* v = item->video;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(Text(v->codec), "AVC");
    EXPECT_EQ(Text(v->codecId), "27");
    EXPECT_EQ(Text(v->profile), "High@L4");
    EXPECT_EQ(v->bitrate, 12500000u);
    EXPECT_EQ(v->width, 1920u);
    EXPECT_EQ(v->height, 1088u);
    ASSERT_NE(v->fpsDen, 0u);
    EXPECT_NEAR(static_cast<double>(v->fpsNum) / v->fpsDen, 29.97, 1e-9);
    EXPECT_EQ(v->flags, 3u);
    EXPECT_EQ(v->scanMode, uint32_t{'b'});
    EXPECT_EQ(v->darNum * 9, v->darDen * 16);
    EXPECT_EQ(v->pixelAspect, 1.0);
    const VideoStreamInfo* image = v->next;
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->scanMode, uint32_t{'M'});
    EXPECT_EQ(image->width, 300u);
    EXPECT_EQ(image->next, nullptr);

    const AudioStreamInfo* a = item->audio;
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Text(a->codec), "AC-3");
    EXPECT_EQ(a->channels, 6u);
    EXPECT_EQ(a->samplerate, 48000u);
    EXPECT_EQ(a->bitrate, 448000u);
    EXPECT_EQ(a->bitrateMode, 1u);
    EXPECT_EQ(a->delay, 1200u);
    EXPECT_EQ(a->next, nullptr);
}

TEST(MediaInfoXml, OutputWithoutTracksIsRefused) {
    const char* const texts[] = {"", "not xml at all", "<MediaInfo><media/></MediaInfo>", "<a>track</a>"};
    for (const char* t : texts) {
        ItemPtr item("/tmp/x.wav");
        EXPECT_FALSE(ReadMediaInfoXml(t, std::strlen(t), item.item)) << t;
        EXPECT_EQ(item->audio, nullptr);
    }
}

// The real tool on files made here: tags with non-ASCII text, several audio streams beside a video.
TEST(MediaInfoTool, TaggedAudioFile) {
    sqtest::TempDir dir;
    const std::string path = dir.file("tagged ä.flac");
    Make("ffmpeg -v quiet -y -f lavfi -i sine=f=440:r=48000:d=2 -ac 2 -sample_fmt s16 -c:a flac"
         " -metadata title='Übung ß' -metadata artist='Ünïcode Ørkester' -metadata album='Ålbum'"
         " -metadata genre=Jazz -metadata date=2019 -metadata track=3 '" + path + "'");
    ItemPtr item(path.c_str());
    CMediaInfo info;
    ASSERT_TRUE(info.Analyze(1, item.item));
    EXPECT_NEAR(item->duration, 2000, 50);
    EXPECT_EQ(Text(item->containerFormat), "FLAC");
    EXPECT_EQ(Text(item->tagTitle), "Übung ß");
    EXPECT_EQ(Text(item->tagArtist), "Ünïcode Ørkester");
    EXPECT_EQ(Text(item->tagAlbum), "Ålbum");
    EXPECT_EQ(Text(item->tagGenre), "Jazz");
    EXPECT_EQ(item->tagYear, 2019u);
    EXPECT_EQ(item->tagTrack, 3u);
    EXPECT_TRUE(item->flags.load() & kItemFlagHasTags);
    ASSERT_NE(item->audio, nullptr);
    EXPECT_EQ(item->audio->channels, 2u);
    EXPECT_EQ(item->audio->samplerate, 48000u);
    EXPECT_EQ(item->audio->samplebits, 16u);
    EXPECT_EQ(item->audio->bitrateMode, 2u);
    EXPECT_EQ(item->video, nullptr);

    // The plain-text form for the user shows the same file.
    CMediaInfo text;
    ASSERT_TRUE(text.Analyze(0, item.item));
    EXPECT_NE(text.output.find("Übung ß"), std::string::npos);
}

TEST(MediaInfoTool, VideoWithTwoAudioStreams) {
    sqtest::TempDir dir;
    const std::string path = dir.file("clip.mkv");
    Make("ffmpeg -v quiet -y -f lavfi -i testsrc=size=320x240:rate=25:d=1 -f lavfi -i sine=f=440:r=44100:d=1"
         " -f lavfi -i sine=f=880:r=22050:d=1 -map 0 -map 1 -map 2 -c:v mpeg4 -c:a:0 mp2 -ac:a:0 2"
         " -c:a:1 pcm_s16le -ac:a:1 1 " + path);
    ItemPtr item(path.c_str());
    ASSERT_EQ(ReadMediaInformation(item.item), 0);
    EXPECT_EQ(Text(item->containerFormat), "Matroska");
    ASSERT_NE(item->video, nullptr);
    EXPECT_EQ(item->video->width, 320u);
    EXPECT_EQ(item->video->height, 240u);
    EXPECT_EQ(item->video->fpsNum, 25u);
    EXPECT_EQ(item->video->fpsDen, 1u);
    EXPECT_EQ(item->video->darNum * 3, item->video->darDen * 4);
    EXPECT_EQ(item->video->scanMode, uint32_t{'p'});
    // Two audio records in document order.
    ASSERT_NE(item->audio, nullptr);
    ASSERT_NE(item->audio->next, nullptr);
    EXPECT_EQ(item->audio->samplerate, 44100u);
    EXPECT_EQ(item->audio->channels, 2u);
    EXPECT_EQ(item->audio->next->samplerate, 22050u);
    EXPECT_EQ(item->audio->next->channels, 1u);
    EXPECT_LT(item->audio->id, item->audio->next->id);
    EXPECT_EQ(item->audio->next->next, nullptr);
}

// A DVD title whose disc root has no VTS_01_1.VOB is read through VTS_01_0.VOB.
TEST(MediaInfoTool, DiscTitleFallsBackToTheFirstVob) {
    sqtest::TempDir dir;
    Make("ffmpeg -v quiet -y -f lavfi -i sine=f=440:r=48000:d=1 -c:a mp2 -f vob " + dir.file("VTS_01_0.VOB"));
    ItemPtr item("dvd://1");
    item->discRoot = DupString(dir.path().c_str());
    CMediaInfo tool;
    ASSERT_TRUE(ParseMediaInfoXml(&tool, item.item));
    ASSERT_NE(item->audio, nullptr);
    EXPECT_EQ(item->audio->samplerate, 48000u);
}

// The reading in the program gives the tool's own text, byte for byte, on every kind of file the
// probe meets; what it leaves to the tool (a pipe, a name outside ASCII, a missing file) it refuses.
TEST(MediaInfoTool, ReadingInTheProgramIsTheToolsText) {
    sqtest::TempDir dir;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"s16.wav", "-c:a pcm_s16le"},
        {"tagged.flac", "-metadata title=Tone -metadata artist=Band"},
        {"lame.mp3", "-c:a libmp3lame"},
        {"vorbis.ogg", "-c:a libvorbis"},
        {"aac.m4a", "-c:a aac"},
        {"two.mkv", "-f lavfi -i sine=f=880:r=22050:d=1 -map 0 -map 1 -c:a flac"},
        {"video.avi", "-f lavfi -i testsrc=size=160x120:rate=25:d=1 -map 1:v -map 0:a -c:v mpeg4 -c:a mp2 -shortest"},
    };
    for (const auto& [name, options] : files) {
        const std::string path = dir.file(name);
        Make("ffmpeg -v quiet -y -f lavfi -i sine=f=440:r=44100:d=1 -ac 2 " + options + " '" + path + "'");
        std::string text;
        ASSERT_TRUE(ReadMediaInfoInProcess(path.c_str(), &text)) << name;
        const std::string tool = dir.file(name + ".xml");
        const std::string run = "mediainfo --output=XML --language=raw -f '" + path + "' > '" + tool + "'";
        ASSERT_EQ(std::system(run.c_str()), 0) << run;
        EXPECT_EQ(text, sqtest::ReadFile(tool)) << name;
    }
    const std::string fifo = dir.file("pipe.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string accented = dir.file("é.wav");
    Make("ffmpeg -v quiet -y -f lavfi -i sine=d=1 '" + accented + "'");
    for (const std::string& path : {fifo, accented, dir.file("none.wav")}) {
        std::string text;
        EXPECT_FALSE(ReadMediaInfoInProcess(path.c_str(), &text)) << path;
    }
}

TEST(MediaInfoTool, NetworkPathsAndMissingFiles) {
    ItemPtr stream("http://example.invalid/a.mp3");
    CMediaInfo info;
    EXPECT_TRUE(info.Analyze(1, stream.item));  // nothing is run for a stream
    EXPECT_EQ(stream->audio, nullptr);
    EXPECT_FALSE(info.Analyze(1, nullptr));
    EXPECT_FALSE(CShibatch().Analyze(1, stream.item));

    sqtest::TempDir dir;
    ItemPtr missing(dir.file("none.wav").c_str());
    EXPECT_EQ(ReadMediaInformation(missing.item), -1);
    EXPECT_EQ(missing->audio, nullptr);
}

}  // namespace
