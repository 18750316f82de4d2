// The PCM writer: one WAV or raw file, one file per channel, and the "-" stream.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/encoders/encoder_test_support.h"
#include "engine/encoders/pcm_encoder.h"
#include "engine/queue/queue.h"

namespace {

namespace fs = std::filesystem;

class PcmEncoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(enctest::LoadShippedSettings());
        item.audio = &stream;
        stream.channels = 2;
    }
    void TearDown() override { item.audio = nullptr; }
    // Opens, writes the header (channels of the PCM) and the PCM in uneven blocks, finishes.
    void Run(CPcm& enc, const std::string& dest, uint32_t channels, const std::string& pcm) {
        ASSERT_TRUE(enc.Open(dest.c_str(), &item, nullptr));
        WaveHeader h;
        InitWaveHeader(&h, 44100, channels, 16, -1);
        ASSERT_TRUE(enc.WriteHeader(&h));
        const size_t block = 4000 * channels;  // whole frames
        for (size_t at = 0; at < pcm.size(); at += block) {
            const int n = static_cast<int>(std::min(block, pcm.size() - at));
            ASSERT_EQ(enc.Write(pcm.data() + at, n), n);
        }
        enc.Finish();
        enc.Close();
        EXPECT_TRUE(enc.FinishedCleanly());
    }
    // The header of a WAV file and its PCM.
    static std::pair<WaveHeader, std::string> ReadWav(const std::string& path) {
        const std::string bytes = sqtest::ReadFile(path);
        WaveHeader h{};
        EXPECT_TRUE(ParseWaveHeader(bytes.data(), bytes.size(), &h)) << path;
        return {h, bytes.size() >= 44 ? bytes.substr(44) : std::string()};
    }
    // Channel c of interleaved 16-bit PCM.
    static std::string Lane(const std::string& pcm, uint32_t channels, uint32_t c) {
        std::string out;
        for (size_t at = c * 2; at + 1 < pcm.size(); at += channels * 2) out.append(pcm, at, 2);
        return out;
    }
    sqtest::TempDir dir;
    QueueItem item;
    AudioStreamInfo stream;
    PrefStore& prefs = GetPrefStore();
};

TEST_F(PcmEncoderTest, OneWavFileGetsItsSizesOnFinish) {
    const std::string pcm = enctest::SinePcm(44100, 2, 1.0);
    CPcm enc;
    EXPECT_STREQ(enc.GetFileExt(nullptr), "wav");
    Run(enc, dir.file("out.wav"), 2, pcm);
    const auto [h, data] = ReadWav(dir.file("out.wav"));
    EXPECT_EQ(h.dataSize, pcm.size());
    EXPECT_EQ(h.riffSize, pcm.size() + 36);
    EXPECT_EQ(h.channels, 2);
    EXPECT_EQ(data, pcm);
    const std::string info = enctest::Probe(dir.file("out.wav"), "stream=codec_name,channels:format=duration");
    EXPECT_EQ(enctest::Field(info, "codec_name"), "pcm_s16le");
    EXPECT_EQ(enctest::Field(info, "duration"), "1.000000");
}

TEST_F(PcmEncoderTest, RawPcmHasNoHeader) {
    prefs.SetFromText("audioenc.pcm.format", "Raw PCM");
    const std::string pcm = enctest::SinePcm(44100, 2, 0.3);
    CPcm enc;
    Run(enc, dir.file("out.pcm"), 2, pcm);
    EXPECT_STREQ(enc.GetFileExt(nullptr), "pcm");
    EXPECT_EQ(sqtest::ReadFile(dir.file("out.pcm")), pcm);
}

TEST_F(PcmEncoderTest, SeparateFilesTakeOneChannelEach) {
    prefs.SetBool("audioenc.pcm.separate", true);
    struct Case {
        uint32_t streamChannels, pcmChannels;
        std::vector<std::string> files;
    } cases[] = {
        {2, 2, {"out.wav", "out_ch2.wav"}},
        {6, 2, {"out.wav", "out_ch2.wav"}},  // downmixed PCM: the PCM's channels decide
        {8, 8, {"out.wav", "out_ch2.wav", "out_ch3.wav", "out_ch4.wav", "out_ch5.wav", "out_ch6.wav"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.streamChannels);
        sqtest::TempDir out;
        stream.channels = c.streamChannels;
        std::string pcm = enctest::SinePcm(22050, c.pcmChannels, 0.5);
        auto* s = reinterpret_cast<int16_t*>(pcm.data());
        for (size_t i = 0; i < pcm.size() / 2; ++i) s[i] = static_cast<int16_t>(s[i] + (i % c.pcmChannels) * 100);
        CPcm enc;
        Run(enc, out.file("out.wav"), c.pcmChannels, pcm);
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(out.path())) found.push_back(e.path().filename().string());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, c.files);
        for (size_t k = 0; k < c.files.size(); ++k) {
            const auto [h, data] = ReadWav(out.file(c.files[k]));
            EXPECT_EQ(h.channels, 1);
            EXPECT_EQ(h.dataSize, data.size());
            EXPECT_EQ(data, Lane(pcm, c.pcmChannels, static_cast<uint32_t>(k))) << c.files[k];
        }
    }
}

TEST(PcmChannelPath, NamesGoBeforeTheFilesExtension) {
    struct Case {
        const char* dest;
        int channel;
        const char* expect;
    } cases[] = {{"/t/out.wav", 1, "/t/out.wav"},  {"/t/out.wav", 2, "/t/out_ch2.wav"},
                 {"/t/a.b/out", 3, "/t/a.b/out_ch3"}, {"x.y.wav", 6, "x.y_ch6.wav"}, {"out", 2, "out_ch2"}};
    for (const Case& c : cases) EXPECT_EQ(CPcm::ChannelPath(c.dest, c.channel), c.expect) << c.dest;
}

TEST_F(PcmEncoderTest, StreamToStandardOutputEndsWhenFinished) {
    CPcm enc;
    ASSERT_TRUE(enc.Open("-", &item, nullptr));
    char buf[65536];
    EXPECT_EQ(enc.ReadOutput(buf, sizeof buf), -1);  // nothing written yet: gives up after a second
    WaveHeader h;
    InitWaveHeader(&h, 44100, 2, 16, -1);
    ASSERT_TRUE(enc.WriteHeader(&h));
    const std::string pcm = enctest::SinePcm(44100, 2, 0.1);
    ASSERT_EQ(enc.Write(pcm.data(), static_cast<int>(pcm.size())), static_cast<int>(pcm.size()));
    enc.Finish();
    std::string got;
    for (int n; (n = enc.ReadOutput(buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    ASSERT_EQ(got.size(), 44 + pcm.size());  // all of it, then the end
    WaveHeader read{};
    ASSERT_TRUE(ParseWaveHeader(got.data(), got.size(), &read));
    EXPECT_EQ(read.dataSize, kWaveUnknownDataSize);  // a stream cannot be rewritten
    EXPECT_EQ(got.substr(44), pcm);
    enc.Close();
}

TEST_F(PcmEncoderTest, OutputThatCannotBeCreatedFailsTheOpen) {
    CPcm enc;
    EXPECT_FALSE(enc.Open(dir.file("missing/out.wav").c_str(), &item, nullptr));
    EXPECT_EQ(enc.Write("ab", 2), -1);
}

}  // namespace
