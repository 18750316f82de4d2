#include "engine/sources/audio_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/devices/cd_source.h"
#include "support/pref_builder.h"
#include "support/tempdir.h"

namespace {

class AudioSources : public ::testing::Test {
protected:
    void SetUp() override {
        sqtest::PrefBuilder b(GetPrefStore());
        b.Add("overall.decoding.aid", kPrefInt, "0");
        b.Add("overall.audio.decAffinity", kPrefInt, "0");
    }
    void TearDown() override {
        QueueClear();
        GetPrefStore().Clear();
    }
    sqtest::TempDir dir_;
};

TEST_F(AudioSources, FactoryMakesEveryClassByItsId) {
    const char* const names[] = {"Default Audio Source", "MPlayer", "MEncoder", "FFmpeg", "Winamp Input Plugins", "AVISynth",
                                 "Audio Capture", "LAME Decoder", "FLAC Decoder", "WavPack Decoder", "APE Decoder",
                                 "Waveform File", "Waveform Channel Composer", "CD Audio"};
    for (int id = 0; id < 14; ++id) {
        auto s = CreateAudioSource(id);
        ASSERT_NE(s, nullptr) << id;
        EXPECT_STREQ(s->GetName(), names[id]);
        EXPECT_EQ(s->header.sampleRate, 44100u);
        EXPECT_EQ(s->header.channels, 2);
        EXPECT_EQ(s->byteLimit, kNoByteLimit);
    }
    EXPECT_EQ(CreateAudioSource(14), nullptr);
    EXPECT_EQ(CreateAudioSource(-1), nullptr);
    // Transports of later steps refuse to open.
    AudioTask task;
    for (int id : {4, 5, 6, 13}) EXPECT_FALSE(CreateAudioSource(id)->Open(&task)) << id;
}

TEST_F(AudioSources, BaseReadIsClippedToTheLimit) {
    std::string path = dir_.write("pcm", std::string(1000, 'x'));
    CAudioSource s;
    char buf[4096];
    EXPECT_EQ(s.Read(buf, sizeof buf), -1);  // no descriptor: never standard input
    s.fd = open(path.c_str(), O_RDONLY);
    AudioTask task;
    task.byteRate = 1000;
    task.duration = 109;  // 109 bytes, rounded down to 104
    ASSERT_TRUE(s.Prepare(&task));
    EXPECT_EQ(s.byteLimit, 104u);
    EXPECT_EQ(s.Read(buf, 50), 50);
    EXPECT_EQ(s.Read(buf, 4096), 52);  // 54 left, rounded down to 4
    EXPECT_EQ(s.Read(buf, 4096), -1);  // 2 left round to 0: the end
    task.duration = 0;
    ASSERT_TRUE(s.Prepare(&task));
    EXPECT_EQ(s.byteLimit, kNoByteLimit);
    close(s.fd);
    s.fd = 0;
}

TEST_F(AudioSources, InputPathsAndJoinedGroups) {
    QueueItem* items[4];
    for (int i = 0; i < 4; ++i) {
        items[i] = QueueNewItem(("/m/" + std::string(1, static_cast<char>('a' + i)) + ".wav").c_str());
        items[i]->group = i < 3 ? 7 : 0;
        QueueAppend(items[i]);
    }
    SetStringField(&items[1]->file, "/m/q\"b.wav");
    EXPECT_EQ(JoinGroupPaths(items[0], " "), "/m/a.wav\" \"/m/q\\\"b.wav\" \"/m/c.wav");
    EXPECT_EQ(JoinGroupPaths(items[3], nullptr), "/m/d.wav");

    QueueItem* item = items[3];
    item->audio = new AudioStreamInfo;
    item->audio->next = new AudioStreamInfo;
    item->audio->next->file = DupString("/m/second.ac3");
    SetStringField(&item->audioFile, "/m/audio.mka");
    CAudioSource s;
    EXPECT_EQ(s.GetInputPath(item, 1), "/m/second.ac3");
    EXPECT_EQ(s.GetInputPath(item, 0), "/m/d.wav");
    item->flags |= kItemFlagSeparateAudio;
    EXPECT_EQ(s.GetInputPath(item, 0), "/m/audio.mka");
    EXPECT_EQ(AudioStreamOfTrack(item, 1), item->audio->next);
    EXPECT_EQ(AudioStreamOfTrack(item, 5), item->audio);
}

TEST(DecoderCount, CountsTheMaskWithinTheProcessors) {
    EXPECT_EQ(CountDecoderProcessors(0b1010, 2), 1);
    EXPECT_EQ(CountDecoderProcessors(0, 6), 6);
    EXPECT_EQ(CountDecoderProcessors(0xFFFFFFFFu, 64), 32);
    EXPECT_EQ(CountDecoderProcessors(0b1, 0), 0);
}

TEST(CdAudio, TrackOfPath) {
    EXPECT_EQ(CCDAudioSource::TrackOfPath("D:\\Track05.cda"), 5);
    EXPECT_EQ(CCDAudioSource::TrackOfPath("D:\\Track12.CDA"), 12);
    EXPECT_EQ(CCDAudioSource::TrackOfPath("D:\\Track05.wav"), 0);
    EXPECT_EQ(CCDAudioSource::TrackOfPath("D:\\Track00.cda"), 0);
}

}  // namespace
