#include "engine/tools/player_options.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "support/pref_builder.h"

namespace {

class PlayerOptions : public ::testing::Test {
protected:
    void SetUp() override {
        sqtest::PrefBuilder b(GetPrefStore());
        for (const char* k : {"audiofilter.resample.samplerate", "audiofilter.resample.precious", "audiofilter.resample.method",
                              "audiofilter.channels.output", "audiofilter.channels.routes", "audiofilter.channels.channel1",
                              "audiofilter.channels.channel2", "audiofilter.volume.normalization", "audiofilter.volume.clipping",
                              "overall.audio.channels", "overall.audio.bitDepth", "overall.decoding.sampleRate",
                              "overall.decoding.channels", "overall.decoding.startTime", "overall.subtitle.mode",
                              "overall.subtitle.scale", "overall.preview.cache", "overall.decoding.width", "overall.decoding.height"})
            b.Add(k, kPrefInt, "0");
        for (const char* k : {"audiofilter.resample.downSamplingOnly", "audiofilter.resample.lavcResampler",
                              "audiofilter.channels.enabled", "audiofilter.volume.balancing", "audiofilter.compressor.enabled",
                              "overall.ui.quiet", "videosrc.mencoder.hrSeek", "audiofilter.equalizer.enabled"})
            b.Add(k, kPrefBool, "0");
        for (const char* k : {"audiofilter.volume.gain", "audiofilter.surround.delay", "audiofilter.equalizer.band0"})
            b.Add(k, kPrefFloat, "0");
        for (const char* k : {"audiofilter.extra.options", "videosrc.mplayer.options", "videosrc.mplayer.edl",
                              "overall.decoding.alang", "overall.subtitle.file", "overall.subtitle.codepage", "overall.decoding.color"})
            b.Add(k, kPrefString, "");
        b.Add("overall.subtitle.encoding", kPrefEnum, "0", {"none", "noutf8", "utf8", "unicode"});
        item_ = QueueNewItem("/in/movie.mkv");
        stream_.id = 2;
        stream_.samplerate = 48000;
        stream_.channels = 6;
        stream_.samplebits = 24;
        item_->audio = new AudioStreamInfo(stream_);
    }
    void TearDown() override {
        item_->audioTask = nullptr;
        QueueFreeItem(item_);
        GetPrefStore().Clear();
    }
    PrefStore& prefs() { return GetPrefStore(); }
    // A fresh item and preference tree for the next case of a table.
    void Reset() {
        TearDown();
        SetUp();
    }

    QueueItem* item_ = nullptr;
    AudioStreamInfo stream_;
    AudioTask task_;
};

TEST_F(PlayerOptions, AudioFilterChain) {
    const struct {
        const char* name;
        void (*set)(PrefStore&, AudioStreamInfo&, AudioTask&);
        bool withTask;
        const char* expect;
    } cases[] = {
        {"only the sample format", [](PrefStore& p, AudioStreamInfo&, AudioTask&) { p.SetInt("overall.audio.bitDepth", 1); },
         false, " -af format=s16le"},
        {"bits of the first stream", [](PrefStore&, AudioStreamInfo&, AudioTask&) {}, false, " -af format=s24le"},
        {"gain 60 written", [](PrefStore& p, AudioStreamInfo&, AudioTask&) { p.SetFloat("audiofilter.volume.gain", 60.0f); },
         false, " -af volume=60:0,format=s24le"},
        {"gain 60.5 dropped", [](PrefStore& p, AudioStreamInfo&, AudioTask&) { p.SetFloat("audiofilter.volume.gain", 60.5f); },
         false, " -af format=s24le"},
        {"gain cancelled by the analysed gain",
         [](PrefStore& p, AudioStreamInfo& s, AudioTask&) {
             p.SetFloat("audiofilter.volume.gain", 2.0f);
             p.SetInt("audiofilter.volume.normalization", 1);
             s.gain[0] = -2.0f;
         },
         false, " -af format=s24le"},
        {"analysis that found too few samples adds nothing",
         [](PrefStore& p, AudioStreamInfo& s, AudioTask&) {
             p.SetFloat("audiofilter.volume.gain", 1.5f);
             p.SetInt("audiofilter.volume.normalization", 1);
             s.gain[0] = -24601.0f;
         },
         false, " -af volume=1.5:0,format=s24le"},
        {"no volume during the analysis pass",
         [](PrefStore& p, AudioStreamInfo&, AudioTask& t) {
             p.SetFloat("audiofilter.volume.gain", 3.0f);
             t.encoderId = kAnalysisPassEncoderId;
         },
         true, " -af format=s24le"},
        {"balancing without comma filters",
         [](PrefStore& p, AudioStreamInfo& s, AudioTask&) {
             p.SetInt("audiofilter.volume.normalization", 1);
             p.SetBool("audiofilter.volume.balancing", true);
             p.SetInt("audiofilter.volume.clipping", 1);
             s.gain[0] = 1.5f;
             s.gain[1] = -3.0f;
         },
         true, " -af-add volume=1.5:1:1 -af-add volume=-3:1:2,format=s24le"},
        {"resampling down only",
         [](PrefStore& p, AudioStreamInfo&, AudioTask&) {
             p.SetInt("audiofilter.resample.samplerate", 44100);
             p.SetBool("audiofilter.resample.downSamplingOnly", true);
             p.SetInt("audiofilter.resample.method", 2);
         },
         false, " -af resample=44100:1:2,format=s24le"},
        {"no upsampling with down only",
         [](PrefStore& p, AudioStreamInfo&, AudioTask&) {
             p.SetInt("audiofilter.resample.samplerate", 96000);
             p.SetBool("audiofilter.resample.downSamplingOnly", true);
         },
         false, " -af format=s24le"},
        {"routes to defined channels only",
         [](PrefStore& p, AudioStreamInfo&, AudioTask&) {
             p.SetBool("audiofilter.channels.enabled", true);
             p.SetInt("audiofilter.channels.output", 2);
             p.SetInt("audiofilter.channels.routes", 3);
             p.SetInt("audiofilter.channels.channel1", 2);
             p.SetInt("audiofilter.channels.channel2", 1);
         },
         false, " -af channels=2:3:1:0:0:1:0:2,format=s24le"},
        {"mono down-mix, compressor and user filters",
         [](PrefStore& p, AudioStreamInfo&, AudioTask&) {
             p.SetInt("overall.audio.channels", 1);
             p.SetBool("audiofilter.compressor.enabled", true);
             p.SetString("audiofilter.extra.options", "hrtf");
             p.SetInt("overall.audio.bitDepth", 3);
         },
         false, " -af pan=1:0.5:0.5,comp,hrtf,format=s32le"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        AudioStreamInfo stream = stream_;
        task_.encoderId = -1;
        task_.inputTracks = 1;
        c.set(prefs(), stream, task_);
        item_->audioTask = c.withTask ? &task_ : nullptr;
        EXPECT_EQ(BuildPlayerAudioFilters(item_, &stream), c.expect);
    }
    EXPECT_EQ(BuildPlayerAudioFilters(item_, nullptr), "");
}

TEST_F(PlayerOptions, DecodeOptions) {
    const struct {
        const char* name;
        void (*set)(PrefStore&, QueueItem*);
        bool subtitles, forEncoder;
        const char* expect;
    } cases[] = {
        {"stream channels and id", [](PrefStore&, QueueItem*) {}, false, false, " -channels 6 -aid 2"},
        {"start 1500 ms and the item's stream",
         [](PrefStore&, QueueItem* i) {
             i->begin = 1500;
             i->aid = 7;
         },
         false, false, " -channels 6 -ss 1.5 -aid 7"},
        {"raw audio without a rate",
         [](PrefStore& p, QueueItem* i) {
             static const InputTypeRow raw = {"pcm", 46, "", "", 1};
             i->inputType = &raw;
             p.SetInt("overall.decoding.channels", 2);
             p.SetInt("overall.audio.channels", 6);
         },
         false, false, " -channels 6 -demuxer rawaudio -rawaudio samplesize=2:channels=2 -aid 2"},
        {"precise seek only for the encoder",
         [](PrefStore& p, QueueItem*) { p.SetBool("videosrc.mencoder.hrSeek", true); }, false, false, " -channels 6 -aid 2"},
        {"precise seek for the encoder", [](PrefStore& p, QueueItem*) { p.SetBool("videosrc.mencoder.hrSeek", true); }, false,
         true, " -channels 6 -hr-edl-seek -aid 2"},
        {"no subtitles", [](PrefStore&, QueueItem*) {}, true, false, " -channels 6 -noautosub -nosub -aid 2"},
        {"vobsub with a dot in a folder",
         [](PrefStore& p, QueueItem* i) {
             p.SetInt("overall.subtitle.mode", 3);
             p.SetInt("overall.subtitle.encoding", 2);
             SetStringField(&i->subtitle, "/subs.d/movie");
         },
         true, false, " -channels 6 -utf8 -subfont-text-scale 0 -vobsub \"/subs.d/movie\" -aid 2"},
        {"two subtitle files",
         [](PrefStore& p, QueueItem* i) {
             p.SetInt("overall.subtitle.mode", 2);
             p.SetInt("overall.subtitle.encoding", 3);
             p.SetInt("overall.subtitle.scale", 35);
             p.SetString("overall.subtitle.file", "/a.srt");
             SetStringField(&i->subtitle, "/b \"x\".ass");
         },
         true, false,
         " -channels 6 -unicode -subfont-text-scale 3.5 -ass -sub \"/a.srt\",\"/b \\\"x\\\".ass\" -aid 2"},
        {"dvd device quoted",
         [](PrefStore& p, QueueItem* i) {
             SetStringField(&i->file, "dvd://2");
             SetStringField(&i->discRoot, "/media/a\"b");
             i->chapter = 4;
             p.SetString("videosrc.mplayer.options", "-nocache");
         },
         false, false, "  -nocache -channels 6 -dvd-device \"/media/a\\\"b\" -chapter 4-4 -aid 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        c.set(prefs(), item_);
        EXPECT_EQ(BuildPlayerDecodeOptions(item_, c.subtitles, &stream_, false, c.forEncoder), c.expect);
    }
}

TEST_F(PlayerOptions, TwoInputTracksTakeTheStreamsId) {
    task_.inputTracks = 2;
    task_.start = 250;
    item_->aid = 7;
    item_->audioTask = &task_;
    EXPECT_EQ(BuildPlayerDecodeOptions(item_, false, &stream_, true), " -channels 6 -ss 0.25 -aid 2");
}

TEST_F(PlayerOptions, FloatsAreLocaleFree) {
    EXPECT_EQ(FormatPlayerFloat(1.5), "1.5");
    EXPECT_EQ(FormatPlayerFloat(29.970), "29.97");
    EXPECT_EQ(FormatPlayerFloat(-3.0), "-3");
    EXPECT_EQ(FormatPlayerFloat(1234567.0), "1.23457e+06");
}

}  // namespace
