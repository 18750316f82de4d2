#include "engine/sources/wave_sources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "support/pref_builder.h"
#include "support/tempdir.h"
#include "support/wav_bytes.h"

namespace {

using sqtest::BuildWav;
using sqtest::Le;
using sqtest::WavSpec;

// Reads a source to its end in blocks of `block` bytes.
std::string ReadAll(CAudioSource& s, int block = 4096) {
    std::string out;
    std::vector<char> buf(static_cast<size_t>(block));
    for (int guard = 0; guard < 100000; ++guard) {
        int n = s.Read(buf.data(), block);
        if (n < 0) break;
        out.append(buf.data(), static_cast<size_t>(n));
    }
    return out;
}

std::string Samples16(std::initializer_list<int> v) {
    std::string s;
    for (int x : v) s += Le(static_cast<uint16_t>(x), 2);
    return s;
}

class WaveSources : public ::testing::Test {
protected:
    void SetUp() override {
        sqtest::PrefBuilder b(GetPrefStore());
        b.Add("overall.audio.channels", kPrefInt, "0");
        b.Add("overall.decoding.aid", kPrefInt, "0");
        for (int i = 1; i <= 6; ++i) b.Add(("audiofilter.channels.channel" + std::to_string(i)).c_str(), kPrefInt, std::to_string(i).c_str());
        item_ = QueueNewItem(nullptr);
        task_.item = item_;
    }
    void TearDown() override {
        QueueFreeItem(item_);
        GetPrefStore().Clear();
    }
    void Input(const std::string& path) { SetStringField(&item_->file, path.c_str()); }

    sqtest::TempDir dir_;
    QueueItem* item_ = nullptr;
    AudioTask task_;
};

TEST_F(WaveSources, DeliversTheDataChunkAs16BitOrAsStored) {
    const std::string trailer = "id3 " + Le(4, 4) + "TAGS";
    auto withTrailer = [&](WavSpec w) { return BuildWav(w) + trailer; };
    auto f32 = [](std::initializer_list<float> v) {
        std::string s;
        for (float f : v) {
            uint32_t u;
            memcpy(&u, &f, 4);
            s += Le(u, 4);
        }
        return s;
    };
    const std::string bytes24 = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c";
    const struct {
        const char* name;
        std::string file;
        uint16_t channels, bits;
        uint32_t rate;
        std::string expect;
    } cases[] = {
        {"16-bit with a LIST that mentions data",
         withTrailer({1, 2, 44100, 16, false, {{"LIST", "INFOICMT\x09\0\0\0metadata\0"}}, sqtest::Pcm16Ramp(8)}), 2, 16, 44100,
         sqtest::Pcm16Ramp(8)},
        {"8-bit widened, whole data", withTrailer({1, 1, 8000, 8, false, {}, std::string("\x80\xFF\x00\x01", 4)}), 1, 16, 8000,
         Samples16({0, 32512, -32768, -32512})},
        {"float scaled and clipped", withTrailer({3, 1, 48000, 32, false, {}, f32({1.0f, -1.0f, 0.5f, 2.0f, -0.25f, 0.0f})}), 1, 16,
         48000, Samples16({32767, -32768, 16384, 32767, -8192, 0})},
        {"extensible float", withTrailer({3, 2, 48000, 32, true, {}, f32({0.5f, -0.5f})}), 2, 16, 48000, Samples16({16384, -16384})},
        {"32-bit integer keeps its high half", withTrailer({1, 2, 44100, 32, false, {}, Le(0x12345678, 4) + Le(0xFFFF0000u, 4)}), 2,
         16, 44100, Samples16({0x1234, -1})},
        {"24-bit six channels as stored", withTrailer({1, 6, 96000, 24, true, {}, bytes24 + bytes24 + bytes24}), 6, 24, 96000,
         bytes24 + bytes24 + bytes24},
        {"unknown data size reads to the end", BuildWav({1, 2, 44100, 16, false, {}, sqtest::Pcm16Ramp(6), 0}), 2, 16, 44100,
         sqtest::Pcm16Ramp(6)},
        {"a chunk size past the file: data found byte by byte",
         BuildWav({1, 2, 44100, 16, false, {{"LIST", "abcd", 0x7FFFFFF0u}}, sqtest::Pcm16Ramp(6)}), 2, 16, 44100, sqtest::Pcm16Ramp(6)},
        {"no RIFF: raw stereo 16-bit from byte 0", std::string("rawpcm!!"), 2, 16, 44100, std::string("rawpcm!!")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Input(dir_.write("in.wav", c.file));
        CWaveFileSource src;
        ASSERT_TRUE(src.Open(&task_));
        ASSERT_TRUE(src.ReadHeader());
        ASSERT_TRUE(src.Prepare(&task_));
        EXPECT_EQ(src.header.channels, c.channels);
        EXPECT_EQ(src.header.bitsPerSample, c.bits);
        EXPECT_EQ(src.header.sampleRate, c.rate);
        EXPECT_EQ(src.header.formatTag, 1);
        EXPECT_EQ(src.header.blockAlign, c.channels * c.bits / 8);
        EXPECT_EQ(src.header.byteRate, c.rate * src.header.blockAlign);
        // Odd block sizes split samples: the result is the same stream.
        EXPECT_EQ(ReadAll(src, 8), c.expect);
        src.Close();
    }
}

TEST_F(WaveSources, StartAndDurationCountFromTheDataChunk) {
    // 8000 Hz mono ramp, 1 s, behind a LIST chunk, with a chunk after the data.
    WavSpec w{1, 1, 8000, 16, false, {{"LIST", std::string(37, 'x')}}, sqtest::Pcm16Ramp(8000)};
    Input(dir_.write("ramp.wav", BuildWav(w) + "id3 " + Le(4, 4) + "TAGS"));
    const struct {
        int32_t start, duration;
        int firstSample;
        size_t samples;
    } cases[] = {{0, 0, 0, 8000}, {500, 0, 4000, 4000}, {250, 500, 2000, 4000}, {0, 100, 0, 800}, {2000, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        task_.start = c.start;
        task_.duration = c.duration;
        CWaveFileSource src;
        ASSERT_TRUE(src.Open(&task_));
        ASSERT_TRUE(src.Prepare(&task_));
        std::string got = ReadAll(src);
        ASSERT_EQ(got.size(), c.samples * 2);
        if (c.samples) {
            EXPECT_EQ(got.substr(0, 2), Le(static_cast<uint16_t>(c.firstSample), 2));
        }
    }
}

TEST_F(WaveSources, OpenFailures) {
    WavSpec adpcm;
    adpcm.tag = 2;
    adpcm.data = "abcd";
    const struct {
        const char* name;
        const char* file;
        std::string bytes;
    } cases[] = {{"missing file", "none.wav", ""}, {"compressed samples", "adpcm.wav", BuildWav(adpcm)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Input(c.bytes.empty() ? dir_.file(c.file) : dir_.write(c.file, c.bytes));
        CWaveFileSource src;
        EXPECT_FALSE(src.Open(&task_));
        EXPECT_EQ(src.fd, 0);
    }
}

TEST_F(WaveSources, ComposerInterleavesOneMonoFilePerChannel) {
    GetPrefStore().SetInt("overall.audio.channels", 4);  // two channels
    GetPrefStore().SetInt("audiofilter.channels.channel2", 3);
    auto mono = [](int start, size_t n) { return BuildWav({1, 1, 22050, 16, false, {}, sqtest::Pcm16Ramp(n, start)}); };
    dir_.write("take1.wav", mono(100, 5));
    dir_.write("take3.wav", mono(900, 4) + "LIST" + Le(4, 4) + "abcd");
    Input(dir_.file("take.mp3"));  // becomes take1.wav
    CMultiWaveFileSource src;
    ASSERT_TRUE(src.Open(&task_)) << src.message;
    ASSERT_TRUE(src.Prepare(&task_));
    EXPECT_EQ(src.header.channels, 2);
    EXPECT_EQ(src.header.sampleRate, 22050u);
    char two[2];
    EXPECT_EQ(src.Read(two, 2), 0);
    // The shorter file ends the stream; its trailing chunk is no sample.
    EXPECT_EQ(ReadAll(src, 12), Samples16({100, 900, 101, 901, 102, 902, 103, 903}));
}

TEST_F(WaveSources, ComposerEndsAtALimitThatSplitsAFrame) {
    GetPrefStore().SetInt("overall.audio.channels", 6);
    for (int i = 1; i <= 6; ++i) dir_.write("ch" + std::to_string(i) + ".wav", BuildWav({1, 1, 11025, 16, false, {}, sqtest::Pcm16Ramp(50)}));
    Input(dir_.file("ch1.wav"));
    task_.duration = 1;  // 132 bytes, rounded down to 128: ten frames of 12 and 8 bytes over
    CMultiWaveFileSource src;
    ASSERT_TRUE(src.Open(&task_)) << src.message;
    ASSERT_TRUE(src.Prepare(&task_));
    char buf[4096];
    EXPECT_EQ(src.Read(buf, sizeof buf), 120);
    EXPECT_EQ(src.Read(buf, sizeof buf), -1);
}

TEST_F(WaveSources, ComposerRefusals) {
    dir_.write("take1.wav", BuildWav({1, 2, 44100, 16, false, {}, "abcd"}));
    const struct {
        int channels;
        const char* input;
        const char* message;
    } cases[] = {
        {0, "take1.wav", "is not a mono waveform file"},
        {4, "other1.wav", "does not exist which is referenced as waveform file for channel 1"},
        {7, "take1.wav", "at most 6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        GetPrefStore().SetInt("overall.audio.channels", c.channels);
        Input(dir_.file(c.input));
        CMultiWaveFileSource src;
        EXPECT_FALSE(src.Open(&task_));
        EXPECT_NE(src.message.find(c.message), std::string::npos) << src.message;
    }
}

}  // namespace
