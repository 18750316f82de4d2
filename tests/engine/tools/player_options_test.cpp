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
        for (const char* k : {"audiofilter.volume.gain", "audiofilter.surround.delay", "audiofilter.extraStereo.coeff",
                              "overall.subtitle.delay", "overall.subtitle.blur", "overall.subtitle.outline"})
            b.Add(k, kPrefFloat, "0");
        for (int i = 0; i < 10; ++i) b.Add(("audiofilter.equalizer.band" + std::to_string(i)).c_str(), kPrefFloat, "0");
        for (int i = 1; i <= 6; ++i) b.Add(("audiofilter.delay.channel" + std::to_string(i)).c_str(), kPrefFloat, "0");
        for (const char* k : {"audiofilter.delay.enabled", "audiofilter.extraStereo.enabled", "overall.subtitle.subcc",
                              "overall.demux.enabled"})
            b.Add(k, kPrefBool, "0");
        for (const char* k : {"overall.subtitle.fuzziness", "overall.subtitle.sid", "overall.subtitle.pos",
                              "overall.subtitle.alpha", "overall.subtitle.color", "overall.subtitle.autoScale",
                              "overall.subtitle.width"})
            b.Add(k, kPrefInt, "0");
        for (const char* k : {"overall.subtitle.slang", "overall.subtitle.font"}) b.Add(k, kPrefString, "");
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
        {"every filter in its place",
         [](PrefStore& p, AudioStreamInfo&, AudioTask&) {
             p.SetInt("audiofilter.resample.samplerate", 32000);
             p.SetBool("audiofilter.resample.lavcResampler", true);
             p.SetBool("audiofilter.equalizer.enabled", true);
             p.SetFloat("audiofilter.equalizer.band0", 1.5f);
             p.SetFloat("audiofilter.equalizer.band9", -12.0f);
             p.SetInt("overall.audio.channels", 5);
             p.SetFloat("audiofilter.surround.delay", 15.0f);
             p.SetBool("audiofilter.delay.enabled", true);
             p.SetFloat("audiofilter.delay.channel2", 2.25f);
             p.SetBool("audiofilter.extraStereo.enabled", true);
             p.SetFloat("audiofilter.extraStereo.coeff", 2.5f);
             p.SetFloat("audiofilter.volume.gain", -3.5f);
             p.SetInt("audiofilter.volume.clipping", 1);
             p.SetInt("overall.audio.bitDepth", 2);
         },
         false,
         " -af lavcresample=32000,equalizer=1.5:0:0:0:0:0:0:0:0:-12:,channels=4,surround=15,delay=0:2.25:0:0:0:0:,"
         "extrastereo=2.5,volume=-3.5:1,format=s24le"},
        {"channel presets 2, 3, 4, 6, 7 and an unknown one",
         [](PrefStore& p, AudioStreamInfo&, AudioTask&) { p.SetInt("overall.audio.channels", 2); }, false,
         " -af channels=1:1:0:0,format=s24le"},
        {"preset 3", [](PrefStore& p, AudioStreamInfo&, AudioTask&) { p.SetInt("overall.audio.channels", 3); }, false,
         " -af channels=1:1:1:0,format=s24le"},
        {"preset 4", [](PrefStore& p, AudioStreamInfo&, AudioTask&) { p.SetInt("overall.audio.channels", 4); }, false,
         " -af channels=2,format=s24le"},
        {"preset 6", [](PrefStore& p, AudioStreamInfo&, AudioTask&) { p.SetInt("overall.audio.channels", 6); }, false,
         " -af channels=6,format=s24le"},
        {"preset 7", [](PrefStore& p, AudioStreamInfo&, AudioTask&) { p.SetInt("overall.audio.channels", 7); }, false,
         " -af channels=8,format=s24le"},
        {"preset 8 is none", [](PrefStore& p, AudioStreamInfo&, AudioTask&) { p.SetInt("overall.audio.channels", 8); },
         false, " -af format=s24le"},
        {"unknown bits of the stream and an unknown depth give 16",
         [](PrefStore& p, AudioStreamInfo&, AudioTask&) { p.SetInt("overall.audio.bitDepth", 9); }, false,
         " -af format=s16le"},
        {"balancing after comma filters",
         [](PrefStore& p, AudioStreamInfo& s, AudioTask&) {
             p.SetInt("audiofilter.volume.normalization", 1);
             p.SetBool("audiofilter.volume.balancing", true);
             p.SetBool("audiofilter.compressor.enabled", true);
             p.SetFloat("audiofilter.volume.gain", 1.0f);
             s.gain[0] = -1.0f;
             s.gain[1] = 70.0f;
         },
         true, " -af comp,format=s24le"},
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
        {"edit list, user options, rate, general and language tables",
         [](PrefStore& p, QueueItem* i) {
             p.SetString("videosrc.mplayer.edl", "/e.edl");
             p.SetString("videosrc.mplayer.options", "-vf scale");
             p.SetInt("overall.decoding.sampleRate", 22050);
             p.SetInt("overall.decoding.channels", 1);
             p.SetInt("overall.audio.channels", 5);
             p.SetBool("overall.ui.quiet", true);
             p.SetInt("overall.preview.cache", 512);
             p.SetString("overall.decoding.alang", "de");
             i->sid = 3;
         },
         false, false,
         " -edl /e.edl  -vf scale -channels 4 -rate 22050 -channels 1 -sid 3 -really-quiet -cache 512 -alang de -aid 2"},
        {"raw video with a colour format, blu-ray device",
         [](PrefStore& p, QueueItem* i) {
             static const InputTypeRow raw = {"yuv", 49, "", "", 2};
             i->inputType = &raw;
             p.SetInt("overall.decoding.width", 320);
             p.SetInt("overall.decoding.height", 240);
             p.SetString("overall.decoding.color", "i420");
             SetStringField(&i->file, "br://1");
             SetStringField(&i->discRoot, "/media/bd");
         },
         false, false, " -channels 6 -demuxer rawvideo -rawvideo w=320:h=240:format=i420 -bluray-device \"/media/bd\" -aid 2"},
        {"raw video without a colour format, CD device",
         [](PrefStore& p, QueueItem* i) {
             static const InputTypeRow raw = {"yuv", 49, "", "", 2};
             i->inputType = &raw;
             p.SetInt("overall.decoding.width", 8);
             p.SetInt("overall.decoding.height", 6);
             SetStringField(&i->file, "cdda://cd://2");
             SetStringField(&i->discRoot, "/dev/sr0");
         },
         false, false, " -channels 6 -demuxer rawvideo -rawvideo w=8:h=6 -cdrom-device \"/dev/sr0\" -aid 2"},
        {"the subtitle table and a code page",
         [](PrefStore& p, QueueItem*) {
             p.SetInt("overall.subtitle.mode", 1);
             p.SetString("overall.subtitle.codepage", "cp1250");
             p.SetInt("overall.subtitle.fuzziness", 1);
             p.SetString("overall.subtitle.slang", "en");
             p.SetInt("overall.subtitle.sid", 2);
             p.SetBool("overall.subtitle.subcc", true);
             p.SetInt("overall.subtitle.pos", 90);
             p.SetFloat("overall.subtitle.delay", -1.5f);
             p.SetInt("overall.subtitle.alpha", 128);
             p.SetInt("overall.subtitle.color", 255);
             p.SetInt("overall.subtitle.autoScale", 3);
             p.SetFloat("overall.subtitle.blur", 2.0f);
             p.SetFloat("overall.subtitle.outline", 1.25f);
             p.SetInt("overall.subtitle.width", 80);
             p.SetString("overall.subtitle.font", "DejaVu Sans");
             p.SetInt("overall.subtitle.encoding", 1);
             p.SetInt("overall.subtitle.scale", 50);
             p.SetString("overall.subtitle.file", "/s/a.srt");
         },
         true, false,
         " -channels 6 -subcp cp1250 -sub-fuzziness 1 -slang en -sid 2 -subcc -subpos 90 -subdelay -1.5 -sub-bg-alpha 128"
         " -sub-bg-color 255 -subfont-autoscale 3 -subfont-blur 2 -subfont-outline 1.25 -subwidth 80"
         " -subfont \"DejaVu Sans\" -noutf8 -subfont-text-scale 5 -sub \"/s/a.srt\" -aid 2"},
        {"a script input takes no subtitles",
         [](PrefStore& p, QueueItem* i) {
             static const InputTypeRow avs = {"avs", 39, "", "", 3};
             i->inputType = &avs;
             p.SetInt("overall.subtitle.mode", 1);
         },
         true, false, " -channels 6 -noautosub -nosub -aid 2"},
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

TEST_F(PlayerOptions, VideoHints) {
    const struct {
        const char* name;
        const char* codec;
        const char* format;
        uint32_t flags;
        bool demux;
        const char* expect;
    } cases[] = {
        {"xvid in any case", "xViD", "MPEG-4 Visual", 0, false, " -vfm xvid"},
        {"a Real stream of known rate", "RV40", "RealVideo 4", 1, false, " -fps 30000/1001"},
        {"a Real stream of unknown rate", "RV40", "REAL", 0, false, ""},
        {"other video", "avc1", "AVC", 1, false, ""},
        {"the demuxer takes over", "XVID", "REAL", 1, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        prefs().SetBool("overall.demux.enabled", c.demux);
        item_->video = new VideoStreamInfo;
        SetStringField(&item_->video->codec, c.codec);
        SetStringField(&item_->video->format, c.format);
        item_->video->flags = c.flags;
        item_->video->fpsNum = 30000;
        item_->video->fpsDen = 1001;
        std::string text = "x";
        BuildPlayerVideoHints(item_, text);
        EXPECT_EQ(text, std::string("x") + c.expect);
    }
    std::string text;
    BuildPlayerVideoHints(nullptr, text);
    EXPECT_EQ(text, "");
}

TEST_F(PlayerOptions, FloatsAreLocaleFree) {
    EXPECT_EQ(FormatPlayerFloat(1.5), "1.5");
    EXPECT_EQ(FormatPlayerFloat(29.970), "29.97");
    EXPECT_EQ(FormatPlayerFloat(-3.0), "-3");
    EXPECT_EQ(FormatPlayerFloat(1234567.0), "1.23457e+06");
}

}  // namespace
