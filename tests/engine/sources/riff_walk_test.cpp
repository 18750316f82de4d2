#include "engine/sources/riff_walk.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/wav_bytes.h"

namespace {

using sqtest::BuildWav;
using sqtest::Le;
using sqtest::WavSpec;

// Reads from a byte string the way a pipe gives it: in pieces, never past the end.
struct StringReader {
    std::string bytes;
    size_t at = 0;
    size_t piece = 5;
    size_t operator()(void* buf, size_t n) {
        size_t total = 0;
        while (total < n && at < bytes.size()) {
            size_t step = std::min({n - total, piece, bytes.size() - at});
            memcpy(static_cast<char*>(buf) + total, bytes.data() + at, step);
            at += step;
            total += step;
        }
        return total;
    }
};

struct Case {
    const char* name;
    WavSpec spec;
    uint16_t tag, channels, bits, blockAlign;
    uint32_t rate;
    bool sizeKnown;
};

TEST(RiffWalk, ReadsUpToTheFirstSampleWithACanonicalHeader) {
    const std::string samples = "\x01\x02\x03\x04\x05\x06";
    const Case cases[] = {
        {"plain 16-bit", {1, 2, 44100, 16, false, {}, samples}, 1, 2, 16, 4, 44100, true},
        {"extensible 24-bit six channels", {1, 6, 96000, 24, true, {}, samples}, 1, 6, 24, 18, 96000, true},
        {"extensible float", {3, 2, 48000, 32, true, {}, samples}, 3, 2, 32, 8, 48000, true},
        {"8-bit mono", {1, 1, 8000, 8, false, {}, samples}, 1, 1, 8, 1, 8000, true},
        {"32-bit integer", {1, 2, 44100, 32, false, {}, samples}, 1, 2, 32, 8, 44100, true},
        {"LIST with an odd size and a 'data' text in front",
         {1, 2, 44100, 16, false, {{"LIST", "INFOICMT\x05\x00\x00\x00metadata"}, {"junk", "abc"}}, samples},
         1, 2, 16, 4, 44100, true},
        {"unknown size 0xFFFFFFFF", {1, 2, 44100, 16, false, {}, samples, 0xFFFFFFFFu}, 1, 2, 16, 4, 44100, false},
        {"unknown size 0", {1, 2, 44100, 16, false, {}, samples, 0}, 1, 2, 16, 4, 44100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StringReader reader{BuildWav(c.spec)};
        RiffWaveInfo info;
        ASSERT_EQ(WalkRiffWave(std::ref(reader), &info), RiffStatus::kOk);
        const WaveHeader& h = info.header;
        EXPECT_EQ(memcmp(h.riffId, "RIFF", 4), 0);
        EXPECT_EQ(h.fmtSize, 16u);
        EXPECT_EQ(h.formatTag, c.tag);
        EXPECT_EQ(h.channels, c.channels);
        EXPECT_EQ(h.bitsPerSample, c.bits);
        EXPECT_EQ(h.blockAlign, c.blockAlign);
        EXPECT_EQ(h.sampleRate, c.rate);
        EXPECT_EQ(h.byteRate, c.rate * c.blockAlign);
        EXPECT_EQ(info.dataSizeKnown, c.sizeKnown);
        EXPECT_EQ(h.dataSize, c.sizeKnown ? samples.size() : kWaveUnknownDataSize);
        EXPECT_EQ(info.dataOffset, reader.at);
        // The next bytes are the samples.
        char next[6];
        ASSERT_EQ(reader(next, 6), 6u);
        EXPECT_EQ(std::string(next, 6), samples);
    }
}

TEST(RiffWalk, RefusesWhatIsNoUsableWave) {
    WavSpec plain;
    plain.data = "abcd";
    std::string good = BuildWav(plain);
    std::string noFormat = "RIFF" + Le(12, 4) + "WAVEdata" + Le(4, 4) + "abcd";
    std::string shortFormat = "RIFF" + Le(30, 4) + "WAVEfmt " + Le(8, 4) + std::string(8, '\1') + "data" + Le(0, 4);
    WavSpec adpcm = plain;
    adpcm.tag = 2;
    WavSpec zeroChannels = plain;
    zeroChannels.channels = 0;
    WavSpec hugeList = plain;
    hugeList.before = {{"LIST", "x", 0x7FFFFFF0u}};
    const struct {
        const char* name;
        std::string bytes;
        RiffStatus expect;
    } cases[] = {
        {"empty", "", RiffStatus::kNotRiff},
        {"raw PCM", std::string(64, '\x10'), RiffStatus::kNotRiff},
        {"cut inside the format chunk", good.substr(0, 30), RiffStatus::kTruncated},
        {"cut before the data chunk", good.substr(0, 36), RiffStatus::kTruncated},
        {"data before format", noFormat, RiffStatus::kBadFormat},
        {"format chunk of 8 bytes", shortFormat, RiffStatus::kBadFormat},
        {"compressed format", BuildWav(adpcm), RiffStatus::kBadFormat},
        {"no channels", BuildWav(zeroChannels), RiffStatus::kBadFormat},
        {"chunk size past the header bound", BuildWav(hugeList), RiffStatus::kTooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StringReader reader{c.bytes};
        RiffWaveInfo info;
        EXPECT_EQ(WalkRiffWave(std::ref(reader), &info), c.expect);
    }
}

}  // namespace
