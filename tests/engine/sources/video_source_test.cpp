// The video source: frames of a video made here, read from the player through its frame pipe, and
// the frame stream's header and frame reads over a pipe the test writes.
#include "engine/sources/video_source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "support/tempdir.h"

namespace {

bool Shell(const std::string& cmd) { return system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

void Put32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}

// A frame stream: the length word, then the header words (first, width, height, unused, rate).
std::string Stream(uint32_t length, uint32_t width, uint32_t height, uint32_t fpsNum, uint32_t fpsDen) {
    std::string s;
    Put32(s, length);
    for (uint32_t w : {7u, width, height, 0u, fpsNum, fpsDen, 0u, 0u, 0u}) Put32(s, w);
    s.resize(4 + std::min<uint32_t>(length, kStreamHeaderSize));
    return s;
}

class VideoSource : public ::testing::Test {
protected:
    void SetUp() override {
        oldPath_ = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", (std::string(SQ_OUT_DIR) + "/tools:" + oldPath_).c_str(), 1);
        platform::SetAppFolderOverride(SQ_OUT_DIR);
        item_ = QueueNewItem(nullptr);
        item_->audio = new AudioStreamInfo;
        task_.item = item_;
    }
    void TearDown() override {
        platform::SetAppFolderOverride("");
        setenv("PATH", oldPath_.c_str(), 1);
        QueueFreeItem(item_);
        GetPrefStore().Clear();
    }
    // Hands the bytes to the source as its frame pipe, ended after them.
    void Feed(CVideoSource& s, const std::string& bytes) {
        int p[2];
        ASSERT_EQ(pipe(p), 0);
        ASSERT_EQ(write(p[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(p[1]);
        s.videoFd = p[0];
    }

    sqtest::TempDir dir_;
    std::string oldPath_;
    QueueItem* item_ = nullptr;
    AudioTask task_;
};

TEST_F(VideoSource, ReadsEveryFrameOfAGeneratedVideoFromThePlayer) {
    const struct {
        int width, height, fps;
        bool withAudio;
    } cases[] = {{64, 48, 25, true}, {96, 64, 10, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const std::string path = dir_.file("v" + std::to_string(c.width) + ".avi");
        ASSERT_TRUE(Shell("ffmpeg -y -f lavfi -i testsrc=size=" + std::to_string(c.width) + "x" + std::to_string(c.height) +
                          ":rate=" + std::to_string(c.fps) + ":duration=2 -f lavfi -i sine=duration=2 -c:v mpeg4 -q:v 2 "
                          "-c:a pcm_s16le -shortest " + path));
        SetStringField(&item_->file, path.c_str());
        item_->duration = 2000;
        CMPlayerVideoSource s;
        s.withAudio = c.withAudio;
        ASSERT_TRUE(s.OpenVideo(item_, &task_)) << s.commandLine;
        ASSERT_TRUE(s.ReadHeader());
        EXPECT_EQ(s.Width(), static_cast<uint32_t>(c.width));
        EXPECT_EQ(s.Height(), static_cast<uint32_t>(c.height));
        EXPECT_EQ(s.totalFrames, 2 * c.fps);
        EXPECT_EQ(s.frameSize, static_cast<uint32_t>(c.width * c.height * 3 / 2));
        // The player writes both pipes in turn: the audio is drained beside the frames.
        size_t audioBytes = 0;
        std::thread audio([&] {
            std::vector<char> pcm(65536);
            for (int n; (n = s.Read(pcm.data(), static_cast<int>(pcm.size()))) > 0;) audioBytes += static_cast<size_t>(n);
        });
        std::vector<uint8_t> frame(s.frameSize);
        int frames = 0;
        while (frames < 1000 && s.ReadFrame(frame.data()) > 0) ++frames;
        audio.join();
        EXPECT_EQ(frames, 2 * c.fps);
        if (c.withAudio) {
            EXPECT_EQ(s.header.sampleRate, 44100u);
            const double second = 44100.0 * s.header.blockAlign;
            EXPECT_NEAR(static_cast<double>(audioBytes), 2 * second, 0.05 * second);
        }
        s.Close();
    }
}

TEST_F(VideoSource, StreamHeaderIsCheckedAndAnImplausibleRateReplaced) {
    VideoStreamInfo record;
    record.fpsNum = 30000;
    record.fpsDen = 1001;
    item_->video = &record;
    task_.duration = 10000;
    const struct {
        const char* what;
        std::string bytes;
        bool ok;
        int totalFrames;
    } cases[] = {
        {"length 36", Stream(36, 64, 48, 25, 1), true, 250},
        {"length 40", Stream(40, 64, 48, 25, 1), false, 0},
        {"240 fps from the item", Stream(36, 64, 48, 240, 1), true, 299},
        {"no rate from the item", Stream(36, 64, 48, 0, 0), true, 299},
        {"length 41", Stream(41, 64, 48, 25, 1), false, 0},
        {"negative length", Stream(0xFFFFFFF0u, 64, 48, 25, 1), false, 0},
        {"length 0", Stream(0, 64, 48, 25, 1), false, 0},
        {"short header", Stream(36, 64, 48, 25, 1).substr(0, 20), false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CMPlayerVideoSource s;
        s.CVideoSource::OpenVideo(item_, &task_);  // no player: the test's pipe stands in
        Feed(s, c.bytes);
        ASSERT_EQ(s.ReadHeader(), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(s.totalFrames, c.totalFrames);
        EXPECT_EQ(s.Word(0), 0u);
        EXPECT_EQ(s.Width(), 64u);
    }
    item_->video = nullptr;
}

// A source that reads a 4x2 stream from a test pipe; frames are numbered by their bytes.
class FrameReads : public VideoSource {
protected:
    void Open(CMPlayerVideoSource& s, int frames, int32_t durationMs) {
        task_.duration = durationMs;
        s.CVideoSource::OpenVideo(item_, &task_);
        std::string bytes = Stream(36, 4, 2, 1, 1);
        for (int f = 0; f < frames; ++f) bytes += std::string(12, static_cast<char>('a' + f));
        Feed(s, bytes);
        ASSERT_TRUE(s.ReadHeader());
    }
};

TEST_F(FrameReads, UnknownFrameCountReadsToTheEndAndAKnownOneStopsThere) {
    for (int32_t duration : {0, 2000}) {
        CMPlayerVideoSource s;
        Open(s, 3, duration);
        std::vector<uint8_t> frame(s.frameSize);
        int frames = 0;
        while (frames < 10 && s.ReadFrame(frame.data()) == 12) ++frames;
        EXPECT_EQ(frames, duration ? 2 : 3) << duration;
    }
}

TEST_F(FrameReads, FrameIntoPicturePlacesPlanesAndRefusesWhatDoesNotFit) {
    CMPlayerVideoSource s;
    Open(s, 3, 0);
    // An 8x4 4:2:0 picture: the frame at (2, 2).
    std::vector<uint8_t> picture(8 * 4 * 3 / 2, '.');
    const PictureLayout planar{0, 8, 4};
    ASSERT_EQ(s.ReadFrameInto(picture.data(), planar, 2, 2), 12);
    EXPECT_EQ(std::string(picture.begin(), picture.end()),
              std::string("........") + "........" + "..aaaa.." + "..aaaa.." + "...." + ".aa." + "...." + ".aa.");
    EXPECT_EQ(s.frameIndex, 1);
    // Out of the picture: nothing read or written.
    const std::vector<uint8_t> before = picture;
    for (auto [x, y] : {std::pair{5, 0}, std::pair{0, 3}, std::pair{-1, 0}})
        EXPECT_EQ(s.ReadFrameInto(picture.data(), planar, x, y), -1) << x << "," << y;
    EXPECT_EQ(picture, before);
    // Packed 24-bit: the next frame's 12 bytes are 2 rows of 3 x 2 pixels.
    s.SetWord(1, 2);
    std::vector<uint8_t> packed(3 * 4 * 3, '.');
    ASSERT_EQ(s.ReadFrameInto(packed.data(), PictureLayout{5, 4, 3}, 1, 1), 12);
    EXPECT_EQ(std::string(packed.begin(), packed.end()),
              std::string("............") + "...bbbbbb..." + "...bbbbbb...");
}

}  // namespace
