// The decoder chosen for a WAV file applies "Output channels" and "Bit depth": a batch from real
// WAV files into FLAC (which keeps what it is given) writes the channel count and sample width
// asked for, as sox reads them; with settings the file already meets, the WAV reader stays.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "engine/encoders/encoder.h"
#include "engine/jobs/job_fixture.h"

namespace {

using sqtest::Capture;
using sqtest::Shell;

class WavSourceSettings : public sqtest::JobFixture {};

TEST_F(WavSourceSettings, ChannelsAndBitDepthReachTheOutput) {
    enum { kOriginal = 0, kMono = 1, kStereo = 4 };       // "Output channels"
    enum { kAsSource = 0, k16 = 1, k24 = 2 };            // "Bit depth"
    const struct {
        const char* what;
        int channels, bits;        // the WAV file
        int channelSetting, bitsSetting;
        int wantChannels, wantBits;
        bool player;               // the converting decoder is chosen
    } cases[] = {
        {"mono asked from stereo", 2, 16, kMono, k16, 1, 16, true},
        {"24-bit asked from 16-bit", 2, 16, kOriginal, k24, 2, 24, true},
        {"stereo 24-bit asked from mono 16-bit", 1, 16, kStereo, k24, 2, 24, true},
        {"16-bit asked from 24-bit", 2, 24, kOriginal, k16, 2, 16, true},
        {"the file's own format", 2, 16, kOriginal, k16, 2, 16, false},
        {"original bit depth of a 24-bit file", 1, 24, kOriginal, kAsSource, 1, 24, false},
    };
    GetPrefStore().SetInt("overall.audio.encoder", kEncFlac);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string input = in.file(std::to_string(c.channels) + "ch" + std::to_string(c.bits) + ".wav");
        ASSERT_TRUE(Shell("sox -n -r 44100 -c " + std::to_string(c.channels) + " -b " + std::to_string(c.bits) + " '" +
                          input + "' synth 2 sine 440 vol 0.5"));
        GetPrefStore().SetInt("overall.audio.channels", c.channelSetting);
        GetPrefStore().SetInt("overall.audio.bitDepth", c.bitsSetting);
        QueueClear();
        events.clear();
        QueueItem* item = Add(input);
        Describe(item, 44100, static_cast<uint32_t>(c.channels), 2000);
        item->audio->samplebits = static_cast<uint32_t>(c.bits);
        RunBatch(1);
        ASSERT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
        const std::string output = item->destFile;
        EXPECT_EQ(Capture("sox --i -c '" + output + "'"), std::to_string(c.wantChannels));
        EXPECT_EQ(Capture("sox --i -b '" + output + "'"), std::to_string(c.wantBits));
        EXPECT_NEAR(std::atof(Capture("sox --i -D '" + output + "'").c_str()), 2.0, 0.01);
        bool playerRan = false;
        for (const std::string& line : events.texts(kEventCommandLine)) playerRan |= line.rfind("mplayer", 0) == 0;
        EXPECT_EQ(playerRan, c.player);
    }
}

}  // namespace
