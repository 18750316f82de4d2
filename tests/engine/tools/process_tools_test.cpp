// The runner driving real encoders: a generated WAV stream goes through a pipe into the tool, and
// the tool's output decodes back to the same audio.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/encoders/wave_header.h"
#include "engine/tools/process.h"
#include "platform/cmdline.h"
#include "support/tempdir.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kChannels = 2;

// One second of a 440 Hz sine on the left and 660 Hz on the right, 16-bit little-endian.
std::string SinePcm() {
    std::string pcm(kRate * kChannels * 2, '\0');
    auto* s = reinterpret_cast<int16_t*>(pcm.data());
    for (uint32_t i = 0; i < kRate; ++i) {
        s[2 * i] = static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * 440 * i / kRate)));
        s[2 * i + 1] = static_cast<int16_t>(std::lround(9000 * std::sin(2 * M_PI * 660 * i / kRate)));
    }
    return pcm;
}

// Starts the encoder, sends header and PCM in blocks as the encode thread does, waits for its end.
void Encode(CProcessWrapper& enc, const std::string& line, int64_t headerSize, const std::string& pcm) {
    ASSERT_TRUE(enc.Start(line.c_str())) << line;
    WaveHeader h;
    InitWaveHeader(&h, kRate, kChannels, 16, headerSize);
    ASSERT_EQ(enc.Write(&h, sizeof h), static_cast<int>(sizeof h));
    for (size_t at = 0; at < pcm.size(); at += 16384) {
        const int n = static_cast<int>(std::min<size_t>(16384, pcm.size() - at));
        ASSERT_EQ(enc.Write(pcm.data() + at, n), n);
    }
    enc.CloseStdin();
    ASSERT_EQ(enc.Wait(60000), 1);
    int code = -1;
    enc.IsRunning(&code);
    const std::string said = enc.ReadError(0) > 0 ? enc.buffer : "";
    ASSERT_EQ(code, 0) << said;
}

TEST(ProcessTools, FlacThroughAPipeIsLossless) {
    sqtest::TempDir dir;
    const std::string pcm = SinePcm();
    // Known length, and the unknown-length value that a source without a length sends.
    for (int64_t size : {static_cast<int64_t>(pcm.size()), int64_t{-1}}) {
        SCOPED_TRACE(size);
        const std::string flac = dir.file("sine ü out.flac");
        const std::string raw = dir.file("decoded.raw");
        CProcessWrapper enc(0x5001);
        Encode(enc, "flac --silent --ignore-chunk-sizes -f -o " + platform::QuoteArg(flac) + " -", size, pcm);

        int code = -1;
        const std::string dec = "flac -d --silent -f --force-raw-format --endian=little --sign=signed -o " +
                                platform::QuoteArg(raw) + " " + platform::QuoteArg(flac);
        ASSERT_TRUE(RunAndWait(dec.c_str(), nullptr, 0, &code));
        ASSERT_EQ(code, 0);
        const std::string back = sqtest::ReadFile(raw);
        ASSERT_EQ(back.size(), pcm.size());
        EXPECT_TRUE(back == pcm) << "decoded samples differ";
    }
}

TEST(ProcessTools, LameThroughAPipeKeepsRateChannelsAndDuration) {
    sqtest::TempDir dir;
    const std::string pcm = SinePcm();
    const std::string mp3 = dir.file("sine out.mp3");
    CProcessWrapperCRT enc(0x1000);
    Encode(enc, "lame --silent -b 192 - " + platform::QuoteArg(mp3), -1, pcm);

    CProcessWrapper probe(0x2001);
    const std::string line =
        "ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels:format=duration "
        "-of default=noprint_wrappers=1 " + platform::QuoteArg(mp3);
    ASSERT_TRUE(probe.Start(line.c_str()));
    ASSERT_EQ(probe.Wait(30000), 1);
    ASSERT_GT(probe.ReadOutput(1000), 0);
    const std::string info = probe.buffer;
    EXPECT_NE(info.find("sample_rate=44100"), std::string::npos) << info;
    EXPECT_NE(info.find("channels=2"), std::string::npos) << info;
    const size_t at = info.find("duration=");
    ASSERT_NE(at, std::string::npos) << info;
    EXPECT_NEAR(std::stod(info.substr(at + 9)), 1.0, 0.06) << info;

    // Decoded by another tool, the sample count matches within one frame of encoder padding.
    const std::string raw = dir.file("mp3.raw");
    int code = -1;
    ASSERT_TRUE(RunAndWait(("ffmpeg -v error -y -i " + platform::QuoteArg(mp3) + " -f s16le -ac 2 " +
                            platform::QuoteArg(raw)).c_str(), nullptr, kProcNoStdHandles, &code));
    ASSERT_EQ(code, 0);
    const double frames = static_cast<double>(sqtest::ReadFile(raw).size()) / 4;
    EXPECT_NEAR(frames, kRate, 1152);
}

}  // namespace
