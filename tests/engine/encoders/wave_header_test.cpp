#include "engine/encoders/wave_header.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The header of an empty 44100 Hz stereo 16-bit file, byte for byte.
const unsigned char kGolden[44] = {
    'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
    0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0,
};

TEST(WaveHeader, InitWritesTheCanonicalByteImage) {
    WaveHeader h;
    std::memset(&h, 0xEE, sizeof h);
    InitWaveHeader(&h, 44100, 2, 16, 0);
    EXPECT_EQ(std::memcmp(&h, kGolden, 44), 0);
}

TEST(WaveHeader, InitFields) {
    struct Case {
        uint32_t rate, channels, bits;
        int64_t dataSize;
        uint16_t blockAlign;
        uint32_t byteRate, storedData, riff;
    } cases[] = {
        {44100, 2, 16, 0, 4, 176400, 0, 36},
        {48000, 2, 24, 1000, 6, 288000, 1000, 1036},
        {8000, 1, 8, 8000, 1, 8000, 8000, 8036},
        {96000, 6, 32, 0x7FFFFFFF, 24, 2304000, 0x7FFFFFFF, 0x80000023},
        // unknown length
        {44100, 2, 16, -1, 4, 176400, kWaveUnknownDataSize, 2147479588u},
        // sizes that do not fit a signed 32-bit value are unknown too, never wrapped
        {44100, 2, 16, 0x80000000LL, 4, 176400, kWaveUnknownDataSize, 2147479588u},
        {44100, 2, 16, 5LL << 30, 4, 176400, kWaveUnknownDataSize, 2147479588u},          // 5 GiB
        {44100, 2, 16, (4LL << 30) + 8, 4, 176400, kWaveUnknownDataSize, 2147479588u},    // would wrap to 8
        // values from a damaged source header: no signed overflow, block align kept to 16 bits
        {8000, 65535, 65535, 0, 0xC000, 0xC000u * 8000, 0, 36},
    };
    for (const auto& c : cases) {
        WaveHeader h;
        InitWaveHeader(&h, c.rate, c.channels, c.bits, c.dataSize);
        SCOPED_TRACE(c.dataSize);
        EXPECT_EQ(h.blockAlign, c.blockAlign);
        EXPECT_EQ(h.byteRate, c.byteRate);
        EXPECT_EQ(h.dataSize, c.storedData);
        EXPECT_EQ(h.riffSize, c.riff);
        EXPECT_EQ(h.formatTag, 1);
        EXPECT_EQ(h.fmtSize, 16u);
    }
}

TEST(WaveHeader, FinalizeTakesTheFormatWithDefaults) {
    WaveHeader h;
    InitWaveHeader(&h, 22050, 1, 8, 100);
    const WaveStreamFormat zeros{};
    FinalizeWaveHeader(&h, &zeros);
    EXPECT_EQ(h.sampleRate, 44100u);
    EXPECT_EQ(h.channels, 2);
    EXPECT_EQ(h.bitsPerSample, 16);
    EXPECT_EQ(h.blockAlign, 4);
    EXPECT_EQ(h.byteRate, 176400u);
    EXPECT_EQ(h.dataSize, 100u);
    EXPECT_EQ(h.riffSize, 136u);

    const WaveStreamFormat f{48000, 6, 24};
    FinalizeWaveHeader(&h, &f);
    EXPECT_EQ(h.blockAlign, 18);
    EXPECT_EQ(h.byteRate, 864000u);
}

TEST(WaveHeader, FinalizeWithoutFormatKeepsFieldsAndRecomputesSizes) {
    WaveHeader h;
    InitWaveHeader(&h, 32000, 1, 16, 0);
    h.dataSize = 64000;  // as a writer counts the bytes it wrote
    h.byteRate = 0;
    FinalizeWaveHeader(&h);
    EXPECT_EQ(h.sampleRate, 32000u);
    EXPECT_EQ(h.channels, 1);
    EXPECT_EQ(h.byteRate, 64000u);
    EXPECT_EQ(h.riffSize, 64036u);

    // Near 4 GiB the RIFF size stops at its maximum instead of wrapping to a few bytes.
    h.dataSize = 0xFFFFFFF0u;
    FinalizeWaveHeader(&h);
    EXPECT_EQ(h.riffSize, 0xFFFFFFFFu);
    EXPECT_EQ(h.dataSize, 0xFFFFFFF0u);
}

TEST(WaveHeader, ParseAcceptsWhatInitWritesAndRejectsOthers) {
    WaveHeader h;
    InitWaveHeader(&h, 48000, 2, 24, -1);
    WaveHeader back{};
    ASSERT_TRUE(ParseWaveHeader(&h, sizeof h, &back));
    EXPECT_EQ(std::memcmp(&h, &back, sizeof h), 0);
    EXPECT_FALSE(ParseWaveHeader(&h, 43, &back));

    struct Mutation {
        size_t offset;
        unsigned char value;
    } bad[] = {
        {0, 'X'}, {8, 'X'}, {12, 'X'}, {36, 'X'},  // chunk ids
        {16, 18},                                    // format chunk size
        {20, 3},                                     // float, not integer PCM
        {22, 0}, {24, 0},                            // no channels (low byte of 2) / rate low byte
        {32, 5},                                     // block align
        {34, 0},                                     // no bits
    };
    for (const auto& m : bad) {
        WaveHeader x;
        InitWaveHeader(&x, 48000, 2, 24, 0);
        if (m.offset == 24) x.sampleRate = 0;
        else reinterpret_cast<unsigned char*>(&x)[m.offset] = m.value;
        EXPECT_FALSE(ParseWaveHeader(&x, sizeof x, nullptr)) << "offset " << m.offset;
    }
}

}  // namespace
