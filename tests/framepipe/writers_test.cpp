// The frame pipe's counts, headers and frame layout, on clips of the avs_ layer's test back-end.
#include "framepipe/writers.h"
#include "platform/avs/test_source.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

using framepipe::FrameCount;
using framepipe::SampleCount;

AVS_VideoInfo Video(unsigned num, unsigned den, int frames) {
    AVS_VideoInfo vi;
    vi.width = 64;
    vi.height = 48;
    vi.pixel_type = AVS_CS_YV12;
    vi.fps_numerator = num;
    vi.fps_denominator = den;
    vi.num_frames = frames;
    return vi;
}

AVS_VideoInfo Audio(int rate, int64_t samples, int type = AVS_SAMPLE_INT16, int channels = 2) {
    AVS_VideoInfo vi;
    vi.audio_samples_per_second = rate;
    vi.num_audio_samples = samples;
    vi.sample_type = type;
    vi.nchannels = channels;
    return vi;
}

uint32_t Word(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t Half(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

TEST(FramePipeFrameCount, DurationTimesRateTruncatedAtLeastOneAndCapped) {
    struct Case {
        unsigned num, den;
        int clipFrames, duration, expected;
    } cases[] = {
        {25, 1, 100, 1000, 25}, {25, 1, 100, 10, 1},       {25, 1, 100, 0, 0},
        {25, 1, 100, -1, 100},  {30000, 1001, 100, 2000, 59},  // fractional rates are not rounded away
        {25, 1, 30, 10000, 30},                                // never past the clip's end
        {30000, 1001, 300000, 2000000000, 300000},             // no overflow on long durations
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FrameCount(Video(c.num, c.den, c.clipFrames), c.duration), c.expected)
            << c.num << "/" << c.den << " for " << c.duration << " ms";
    }
}

TEST(FramePipeSampleCount, RoundedToTheMillisecondAndCapped) {
    struct Case {
        int rate;
        int64_t clipSamples;
        int duration;
        int64_t expected;
    } cases[] = {
        {44100, 1000000, 1000, 44100}, {44100, 1000000, 1, 44},     {44100, 1000000, -1, 1000000},
        {44100, 1000000, 0, 0},        {48000, 100, 1000, 100},
        {192000, int64_t(1) << 40, 2000000000, int64_t(192000) * 2000000},  // 64-bit arithmetic
    };
    for (const Case& c : cases)
        EXPECT_EQ(SampleCount(Audio(c.rate, c.clipSamples), c.duration), c.expected) << c.duration;
}

TEST(FramePipeSampleCount, AudioDueAfterEachFrameFollowsTheFrameRate) {
    AVS_VideoInfo vi = Video(30000, 1001, 1000);
    vi.audio_samples_per_second = 48000;
    EXPECT_EQ(framepipe::SamplesDueAfter(vi, 1), 1601);  // 1601.6
    EXPECT_EQ(framepipe::SamplesDueAfter(vi, 30000), 48048000);
    vi.fps_numerator = 4294967295u;  // products beyond 64 bits stay exact
    vi.fps_denominator = 4294967295u;
    EXPECT_EQ(framepipe::SamplesDueAfter(vi, 2000000000), int64_t(2000000000) * 48000);
}

TEST(FramePipeHeader, VideoHeaderWords) {
    AVS_VideoInfo vi = Video(30000, 1001, 1234);
    auto h = framepipe::VideoHeader(1, vi);
    const uint32_t expected[10] = {40, 1, 64, 48, 0, 30000, 1001, 0, 0, 1234};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Word(&h[4 * i]), expected[i]) << "word " << i;
}

TEST(FramePipeHeader, WavHeaderPerSampleType) {
    struct Case {
        int type, channels;
        uint16_t tag, bits;
    } cases[] = {
        {AVS_SAMPLE_INT8, 1, 1, 8},   {AVS_SAMPLE_INT16, 2, 1, 16},  {AVS_SAMPLE_INT24, 6, 1, 24},
        {AVS_SAMPLE_INT32, 2, 1, 32}, {AVS_SAMPLE_FLOAT, 2, 3, 32},
    };
    for (const Case& c : cases) {
        auto h = framepipe::WavHeader(Audio(48000, 10, c.type, c.channels));
        ASSERT_EQ(h.size(), 44u);
        EXPECT_EQ(std::string(h.begin(), h.begin() + 16), "RIFF\x24\xF0\xFF\x7FWAVEfmt ");
        EXPECT_EQ(Word(&h[16]), 16u);
        EXPECT_EQ(Half(&h[20]), c.tag);
        EXPECT_EQ(Half(&h[22]), c.channels);
        EXPECT_EQ(Word(&h[24]), 48000u);
        EXPECT_EQ(Word(&h[28]), 48000u * c.channels * c.bits / 8);
        EXPECT_EQ(Half(&h[32]), c.channels * c.bits / 8);
        EXPECT_EQ(Half(&h[34]), c.bits);
        EXPECT_EQ(std::string(h.begin() + 36, h.end()), std::string("data\x00\xF0\xFF\x7F", 8));
    }
    EXPECT_TRUE(framepipe::WavHeader(Audio(48000, 10, 0x100)).empty());
}

// Clips of the test back-end, read through the avs_ calls the program makes.
class FramePipeTestClip : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SQ_AVS_BACKEND", "test", 1);
        env_ = avs_create_script_environment(2);
        ASSERT_NE(env_, nullptr);
    }
    void TearDown() override { avs_delete_script_environment(env_); }

    AVS_Value Import(const std::string& script) {
        return avs_invoke(env_, "Import", avs_new_value_string(dir_.write("clip.txt", script)));
    }

    // The picture bytes the program writes for frame n of a clip.
    std::vector<uint8_t> Packed(const AVS_Value& v, int n, int* type = nullptr) {
        AVS_Clip* clip = avs_take_clip(v, env_);
        EXPECT_NE(clip, nullptr);
        if (!clip) return {};
        const AVS_VideoInfo* vi = avs_get_video_info(clip);
        AVS_VideoFrame* f = avs_get_frame(clip, n);
        std::vector<uint8_t> out;
        if (f) framepipe::PackFrame(*f, vi->pixel_type, out);
        if (type) *type = vi->pixel_type;
        avs_release_video_frame(f);
        avs_release_clip(clip);
        return out;
    }

    sqtest::TempDir dir_;
    AVS_ScriptEnvironment* env_ = nullptr;
};

// The image planes top-down, as the test clip draws them.
std::vector<uint8_t> Expected(int n, int rowBytes, int rows, int chromaBytes = 0, int chromaRows = 0,
                              bool swapUV = false) {
    std::vector<uint8_t> out;
    auto plane = [&](int p, int w, int h) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) out.push_back(avs::TestPixel(p, x, y, n));
    };
    plane(0, rowBytes, rows);
    plane(swapUV ? 2 : 1, chromaBytes, chromaRows);
    plane(swapUV ? 1 : 2, chromaBytes, chromaRows);
    return out;
}

TEST_F(FramePipeTestClip, FramesAreWrittenPlaneByPlaneWithoutPitchPadding) {
    struct Case {
        const char* video;
        std::vector<uint8_t> expected;
    } cases[] = {
        {"yv12 64x48 fps 25/1 frames 5 pitch 80", Expected(3, 64, 48, 32, 24)},
        {"i420 64x48 fps 25/1 frames 5 pitch 80", Expected(3, 64, 48, 32, 24)},
        {"yv16 64x48 fps 25/1 frames 5 pitch 96", Expected(3, 64, 48, 32, 48)},
        {"yv24 64x48 fps 25/1 frames 5 pitch 96", Expected(3, 64, 48, 64, 48)},
        {"yuy2 64x48 fps 25/1 frames 5 pitch 160", Expected(3, 128, 48)},  // top-down
        // RGB rows lie bottom-up in memory and go out top-down, 300 bytes each, not the pitch.
        {"rgb24 100x10 fps 25/1 frames 5 pitch 304", Expected(3, 300, 10)},
        {"rgb32 20x10 fps 25/1 frames 5", Expected(3, 80, 10)},
    };
    for (const Case& c : cases) {
        AVS_Value v = Import(std::string("video ") + c.video + "\n");
        ASSERT_TRUE(avs_is_clip(v)) << avs_as_error(v);
        EXPECT_EQ(Packed(v, 3), c.expected) << c.video;
    }
}

TEST_F(FramePipeTestClip, SwapUVAndConversions) {
    AVS_Value yv12 = Import("video yv12 64x48 fps 25/1 frames 5 pitch 80\n");
    AVS_Value swapped = avs_invoke(env_, "SwapUV", yv12);
    EXPECT_EQ(Packed(swapped, 2), Expected(2, 64, 48, 32, 24, true));
    EXPECT_EQ(Packed(avs_invoke(env_, "swapuv", swapped), 2), Expected(2, 64, 48, 32, 24));

    struct Case {
        const char* function;
        int type;
        size_t frameBytes;
    } cases[] = {
        {"ConvertToYV12", AVS_CS_YV12, 64 * 48 * 3 / 2}, {"ConvertToYV16", AVS_CS_YV16, 64 * 48 * 2},
        {"ConvertToYV24", AVS_CS_YV24, 64 * 48 * 3},     {"ConvertToYUY2", AVS_CS_YUY2, 64 * 48 * 2},
        {"ConvertToRGB24", AVS_CS_RGB24, 64 * 48 * 3},   {"ConvertToRGB32", AVS_CS_RGB32, 64 * 48 * 4},
    };
    for (const Case& c : cases) {
        AVS_Value v = avs_invoke(env_, c.function, yv12);
        ASSERT_TRUE(avs_is_clip(v)) << c.function << ": " << avs_as_error(v);
        int type = 0;
        EXPECT_EQ(Packed(v, 0, &type).size(), c.frameBytes) << c.function;
        EXPECT_EQ(type, c.type) << c.function;
    }
    // A round trip through 4:4:4 keeps the luma of a 4:2:0 picture.
    AVS_Value back = avs_invoke(env_, "ConvertToYV12", avs_invoke(env_, "ConvertToYV24", yv12));
    auto luma = Packed(back, 1);
    luma.resize(64 * 48);
    auto want = Expected(1, 64, 48);
    EXPECT_EQ(luma, want);

    AVS_Value i420 = Import("video i420 64x48 fps 25/1 frames 5\n");
    int type = 0;
    EXPECT_EQ(Packed(avs_invoke(env_, "ConvertToYV12", i420), 0, &type), Expected(0, 64, 48, 32, 24));
    EXPECT_EQ(type, AVS_CS_YV12);

    AVS_Value rgb = Import("video rgb32 8x8 fps 25/1 frames 5\n");
    EXPECT_TRUE(avs_is_error(avs_invoke(env_, "SwapUV", rgb)));
    EXPECT_TRUE(avs_is_error(avs_invoke(env_, "ConvertToNothing", yv12)));
}

TEST_F(FramePipeTestClip, AudioSamplesAndSilencePastTheEnd) {
    AVS_Value v = Import("audio s16 8000 2 samples 10\n");
    AVS_Clip* clip = avs_take_clip(v, env_);
    ASSERT_NE(clip, nullptr);
    int16_t buf[2 * 4];
    ASSERT_EQ(avs_get_audio(clip, buf, 8, 4), 0);
    EXPECT_EQ(buf[0], 8 * 31);
    EXPECT_EQ(buf[3], 9 * 31 + 1);
    EXPECT_EQ(buf[4], 0);
    EXPECT_EQ(buf[7], 0);
    avs_release_clip(clip);
}

}  // namespace
