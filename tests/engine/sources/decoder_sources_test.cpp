// Every outside decoder on real files made here with the system's encoders: the PCM read through
// the source against the file's own samples (lossless) or the right format and length (MP3).
#include "engine/sources/decoder_sources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/sources/wave_sources.h"
#include "platform/fs.h"
#include "support/event_recorder.h"
#include "support/pref_builder.h"
#include "support/tempdir.h"

namespace {

std::string ReadAll(CAudioSource& s) {
    std::string out;
    std::vector<char> buf(32768);
    for (int guard = 0; guard < 100000; ++guard) {
        int n = s.Read(buf.data(), static_cast<int>(buf.size()));
        if (n < 0) break;
        out.append(buf.data(), static_cast<size_t>(n));
    }
    return out;
}

bool Shell(const std::string& cmd) { return system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

struct Format {
    uint32_t rate, channels, bits;
    std::string Name() const { return std::to_string(rate) + "-" + std::to_string(channels) + "-" + std::to_string(bits); }
};

class DecoderSources : public ::testing::Test {
protected:
    void SetUp() override {
        sqtest::PrefBuilder b(GetPrefStore());
        for (const char* k : {"overall.decoding.aid", "overall.audio.bitDepth", "overall.audio.channels", "overall.audio.decAffinity"})
            b.Add(k, kPrefInt, "0");
        b.Add("audiofilter.volume.gain", kPrefFloat, "0");
        b.Add("audioenc.flac.path", kPrefFile, "flac");
        b.Add("audioenc.lame.path", kPrefFile, "lame");
        b.Add("audioenc.wavpack.decoderPath", kPrefFile, "wvunpack");
        b.Add("audiosrc.lame.options", kPrefString, "");
        oldPath_ = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", (std::string(SQ_OUT_DIR) + "/tools:" + oldPath_).c_str(), 1);
        platform::SetAppFolderOverride(SQ_OUT_DIR);
        item_ = QueueNewItem(nullptr);
        item_->audio = new AudioStreamInfo;
        task_.item = item_;
        item_->audioTask = &task_;  // the running task: the player's start comes from it
    }
    void TearDown() override {
        platform::SetAppFolderOverride("");
        setenv("PATH", oldPath_.c_str(), 1);
        item_->audioTask = nullptr;
        QueueFreeItem(item_);
        GetPrefStore().Clear();
    }
    // A 2 s noise WAV in the format, and its samples as stored.
    std::string MakeWav(const Format& f, std::string* samples) {
        std::string wav = dir_.file(f.Name() + ".wav"), raw = dir_.file(f.Name() + ".raw");
        EXPECT_TRUE(Shell("sox -n -r " + std::to_string(f.rate) + " -c " + std::to_string(f.channels) + " -b " +
                        std::to_string(f.bits) + " " + wav + " synth 2 whitenoise vol 0.5"));
        EXPECT_TRUE(Shell("sox " + wav + " -t raw " + raw));
        *samples = sqtest::ReadFile(raw);
        return wav;
    }
    void Describe(const std::string& path, const Format& f) {
        SetStringField(&item_->file, path.c_str());
        item_->audio->samplerate = f.rate;
        item_->audio->channels = f.channels;
        item_->audio->samplebits = f.bits;
    }
    // Open, header, prepare and read to the end, as the audio pass does.
    std::string Decode(CAudioSource& s, WaveHeader* header) {
        if (!s.Open(&task_)) return "(open failed)";
        s.SetDecodePriority();
        if (!s.ReadHeader()) return "(no header)";
        if (!s.Prepare(&task_)) return "(prepare failed)";
        *header = s.header;
        std::string pcm = ReadAll(s);
        s.Close();
        return pcm;
    }

    sqtest::TempDir dir_;
    std::string oldPath_;
    QueueItem* item_ = nullptr;
    AudioTask task_;
};

TEST_F(DecoderSources, LosslessDecodersGiveTheSamplesSampleForSample) {
    const Format formats[] = {{44100, 2, 16}, {48000, 1, 16}, {96000, 6, 24}};
    for (const Format& f : formats) {
        std::string samples;
        const std::string wav = MakeWav(f, &samples);
        const std::string flac = dir_.file(f.Name() + ".flac"), wv = dir_.file(f.Name() + ".wv");
        ASSERT_TRUE(Shell("flac -s -f " + wav + " -o " + flac));
        ASSERT_TRUE(Shell("wavpack -q -y " + wav + " -o " + wv));
        const struct {
            int id;
            std::string input;
            bool player;  // the player orders 6 channels its own way: stereo and mono only
        } runs[] = {{kSourceWaveFile, wav, false}, {kSourceFFmpeg, flac, false}, {kSourceFlac, flac, false},
                    {kSourceWavPack, wv, false},   {kSourceApe, flac, false},    {kSourceMplayer, wav, true},
                    {kSourceMencoder, wav, true}};
        for (const auto& r : runs) {
            if (r.player && f.channels > 2) continue;
            for (int32_t start : {0, 1500}) {
                SCOPED_TRACE(f.Name() + " source " + std::to_string(r.id) + " start " + std::to_string(start));
                Describe(r.input, f);
                task_.start = start;
                auto src = CreateAudioSource(r.id);
                WaveHeader h{};
                std::string pcm = Decode(*src, &h);
                EXPECT_EQ(h.sampleRate, f.rate);
                EXPECT_EQ(h.channels, f.channels);
                EXPECT_EQ(h.bitsPerSample, f.bits);
                EXPECT_EQ(h.formatTag, 1);
                const size_t skip = static_cast<size_t>(f.rate) * 3 / 2 * f.channels * f.bits / 8;
                const std::string want = start ? samples.substr(skip) : samples;
                if (r.player && start) {
                    // The player seeks to a nearby frame: the length is what it must get right.
                    EXPECT_NEAR(static_cast<double>(pcm.size()), static_cast<double>(want.size()), f.rate * f.channels * 2 * 0.05);
                    continue;
                }
                ASSERT_EQ(pcm.size(), want.size());
                EXPECT_TRUE(pcm == want);
            }
        }
    }
}

TEST_F(DecoderSources, Mp3HasItsOwnFormatAndHonoursTheStart) {
    const Format f{48000, 1, 16};
    std::string samples;
    const std::string wav = MakeWav(f, &samples), mp3 = dir_.file("in.mp3");
    ASSERT_TRUE(Shell("lame --quiet " + wav + " " + mp3));
    for (int id : {kSourceLame, kSourceFFmpeg}) {
        for (int32_t start : {0, 1500}) {
            SCOPED_TRACE("source " + std::to_string(id) + " start " + std::to_string(start));
            Describe(mp3, f);
            task_.start = start;
            auto src = CreateAudioSource(id);
            WaveHeader h{};
            std::string pcm = Decode(*src, &h);
            EXPECT_EQ(h.sampleRate, 48000u);
            EXPECT_EQ(h.channels, 1);
            EXPECT_EQ(h.bitsPerSample, 16);
            const double want = (2000.0 - start) * 48 * 2;  // bytes
            EXPECT_NEAR(static_cast<double>(pcm.size()), want, 1152 * 2 * 2);
        }
    }
}

TEST_F(DecoderSources, PipeSourcesStopAtTheDurationLimit) {
    std::string samples;
    const Format f{44100, 2, 16};
    const std::string wav = MakeWav(f, &samples);
    for (int id : {kSourceFFmpeg, kSourceFlac, kSourceMplayer}) {
        SCOPED_TRACE(id);
        std::string input = wav;
        if (id == kSourceFlac) {
            input = dir_.file("limit.flac");
            ASSERT_TRUE(Shell("flac -s -f " + wav + " -o " + input));
        }
        Describe(input, f);
        task_.duration = 1001;  // 176576.4 bytes, rounded down to 176576
        task_.byteRate = 0;
        auto src = CreateAudioSource(id);
        ASSERT_TRUE(src->Open(&task_));
        ASSERT_TRUE(src->ReadHeader());
        ASSERT_TRUE(src->Prepare(&task_));
        ASSERT_EQ(src->byteLimit, 176576u);
        std::vector<char> buf(65540);
        uint64_t total = 0;
        int n = 0;
        for (int i = 0; i < 10 && (n = src->Read(buf.data(), 65538)) > 0; ++i) total += static_cast<uint64_t>(n);
        EXPECT_EQ(total, 176576u);
        EXPECT_EQ(n, -1);
        src->Close();
    }
}

TEST_F(DecoderSources, CommandLines) {
    SetStringField(&item_->file, "/in/a \"b\".flac");
    item_->audio->samplerate = 44100;
    item_->audio->samplebits = 8;
    task_.start = 1500;
    CFLACDecoder flac;
    EXPECT_EQ(flac.BuildLine(&task_), "\"flac\" -d -c --skip=66150 \"/in/a \\\"b\\\".flac\"");
    CFFmpegAudioSource ff;
    GetPrefStore().SetInt("overall.audio.bitDepth", 0);  // 8-bit streams are decoded as 16-bit
    GetPrefStore().SetFloat("audiofilter.volume.gain", -3.5f);
    EXPECT_EQ(ff.BuildLine(&task_, 9),
              "ffmpeg -xerror -i \"/in/a \\\"b\\\".flac\" -vn -loglevel quiet -ss 1.5 -af volume=-3.5dB -c:a pcm_s16le -f wav pipe:9");
    GetPrefStore().SetInt("overall.audio.bitDepth", 3);
    GetPrefStore().SetFloat("audiofilter.volume.gain", 0.0f);
    SetStringField(&item_->file, "dshow://a,b,c,d,Line In");
    task_.start = 0;
    EXPECT_EQ(ff.BuildLine(&task_, 9), "ffmpeg -xerror -f dshow -i audio=\"Line In\" -loglevel quiet -c:a pcm_s32le -f wav pipe:9");
}

TEST_F(DecoderSources, BrokenDecodersEndInAnErrorNotAHang) {
    std::string bogus = dir_.write("bogus.flac", std::string(4000, 'z'));
    // A decoder that starts and then writes nothing: its header wait ends.
    std::string stall = dir_.write("stall.sh", "#!/bin/sh\nexec sleep 120\n");
    std::filesystem::permissions(stall, std::filesystem::perms::owner_all);
    const struct {
        int id;
        std::string tool;
    } cases[] = {{kSourceFFmpeg, ""}, {kSourceFlac, ""}, {kSourceMplayer, ""}, {kSourceFlac, "/bin/false"},
                 {kSourceFlac, stall}, {kSourceApe, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        if (!c.tool.empty()) GetPrefStore().SetString("audioenc.flac.path", c.tool.c_str());
        Describe(bogus, {44100, 2, 16});
        auto src = CreateAudioSource(c.id);
        WaveHeader h{};
        std::string r = Decode(*src, &h);
        EXPECT_TRUE(r == "(open failed)" || r == "(no header)" || r.empty()) << r.size();
    }
}

}  // namespace

namespace {

TEST_F(DecoderSources, ADecoderThatFailsOnACutFileSaysSoAtTheEnd) {
    std::string samples;
    const Format f{44100, 2, 16};
    const std::string wav = MakeWav(f, &samples);
    const std::string flac = dir_.file("whole.flac"), wv = dir_.file("whole.wv");
    ASSERT_TRUE(Shell("flac -s -f " + wav + " -o " + flac));
    ASSERT_TRUE(Shell("wavpack -q -y " + wav + " -o " + wv));
    for (const std::string& whole : {flac, wv}) {
        const std::string cut = whole + ".cut" + whole.substr(whole.rfind('.'));
        std::filesystem::copy_file(whole, cut);
        std::filesystem::resize_file(cut, std::filesystem::file_size(whole) / 2);
    }
    const struct {
        int id;
        std::string input;
        bool fails;
    } cases[] = {{kSourceFlac, flac, false},        {kSourceFlac, flac + ".cut.flac", true},
                 {kSourceWavPack, wv, false},       {kSourceWavPack, wv + ".cut.wv", true},
                 {kSourceFFmpeg, flac, false},      {kSourceFFmpeg, flac + ".cut.flac", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " source " + std::to_string(c.id));
        Describe(c.input, f);
        task_.start = 0;
        auto src = CreateAudioSource(c.id);
        ASSERT_TRUE(src->Open(&task_));
        ASSERT_TRUE(src->ReadHeader());
        ASSERT_TRUE(src->Prepare(&task_));
        ReadAll(*src);
        EXPECT_EQ(src->inputEnd, CAudioSource::InputEnd::kEnded);
        const std::string why = src->DecodeFailure();
        if (c.fails) EXPECT_NE(why.find("ended with error code"), std::string::npos) << why;
        else EXPECT_EQ(why, "");
        src->Close();
    }
}

}  // namespace
