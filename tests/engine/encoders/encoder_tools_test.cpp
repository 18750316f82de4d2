// Every encoder that a Debian tool serves, made by id from the shipped settings and driven as a
// conversion drives it: Configure with the task, Open on a temporary output, the WAV header and
// three seconds of PCM, Finish. ffprobe must find the codec, rate, channels and duration, and a
// low and a high setting of the same encoder must give clearly different bitrates. A tool missing
// on the machine is skipped.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/encoders/encoder.h"
#include "engine/encoders/encoder_test_support.h"
#include "engine/encoders/wave_header.h"
#include "engine/jobs/audiotask.h"
#include "engine/queue/queue.h"
#include "engine/queue/taskvars.h"
#include "support/event_recorder.h"

namespace {

namespace fs = std::filesystem;
using Settings = std::vector<std::pair<const char*, const char*>>;

struct EncoderCase {
    const char* what;
    int id;
    const char* program;      // the tool that must be on the machine (null: none)
    Settings common;          // applied to both runs
    Settings low, high;       // empty high: one run, no bitrate comparison
    const char* codec;        // as ffprobe names it
    uint32_t rate = 44100;
    uint32_t channels = 2;
    uint32_t expectRate = 0;  // 0: the input rate
};

void PrintTo(const EncoderCase& c, std::ostream* os) { *os << c.what; }

const std::vector<EncoderCase>& Cases() {
    static const std::vector<EncoderCase> cases = {
        {"LAME", 0, "lame", {{"audioenc.lame.mode", "CBR"}}, {{"audioenc.lame.bitrate", "112"}},
         {{"audioenc.lame.bitrate", "320"}}, "mp3"},
        {"Vorbis", 1, "oggenc", {{"audioenc.vorbis.mode", "Quality"}}, {{"audioenc.vorbis.quality", "0"}},
         {{"audioenc.vorbis.quality", "90"}}, "vorbis"},
        {"Opus", 7, "opusenc", {{"audioenc.opus.ratemode", "Hard CBR"}}, {{"audioenc.opus.bitrate", "24"}},
         {{"audioenc.opus.bitrate", "192"}}, "opus", 48000},
        {"FLAC", 17, "flac", {}, {{"audioenc.flac.level", "0"}}, {}, "flac"},
        {"WavPack hybrid", 16, "wavpack", {{"audioenc.wavpack.hybrid", "true"}}, {{"audioenc.wavpack.bitrate", "128"}},
         {{"audioenc.wavpack.bitrate", "512"}}, "wavpack"},
        {"Speex", 12, "speexenc", {{"audioenc.speex.mode", "Quality"}}, {{"audioenc.speex.quality", "1"}},
         {{"audioenc.speex.quality", "10"}}, "speex", 32000, 1},
        {"MusePack", 11, "mpcenc", {}, {{"audioenc.musepack.profile", "Telephone"}},
         {{"audioenc.musepack.profile", "Braindead"}}, "musepack8"},
        {"FFmpeg MP3", 14, "ffmpeg", {{"overall.audio.format", "MP3"}}, {{"audioenc.ffmpeg.bitrate", "64"}},
         {{"audioenc.ffmpeg.bitrate", "256"}}, "mp3"},
        {"FFmpeg Vorbis", 14, "ffmpeg", {{"overall.audio.format", "Vorbis"}}, {{"audioenc.ffmpeg.bitrate", "64"}},
         {{"audioenc.ffmpeg.bitrate", "256"}}, "vorbis"},
        {"FFmpeg LC-AAC", 14, "ffmpeg", {{"overall.audio.format", "LC-AAC"}}, {{"audioenc.ffmpeg.bitrate", "48"}},
         {{"audioenc.ffmpeg.bitrate", "256"}}, "aac"},
        {"FFmpeg Opus", 14, "ffmpeg", {{"overall.audio.format", "Opus"}}, {{"audioenc.ffmpeg.bitrate", "32"}},
         {{"audioenc.ffmpeg.bitrate", "256"}}, "opus", 48000},
        {"FFmpeg WMA", 14, "ffmpeg", {{"overall.audio.format", "WMA 9"}}, {{"audioenc.ffmpeg.bitrate", "64"}},
         {{"audioenc.ffmpeg.bitrate", "192"}}, "wmav2"},
        {"FFmpeg AC-3", 14, "ffmpeg", {{"overall.audio.format", "AC-3"}}, {{"audioenc.ffmpeg.bitrate", "96"}},
         {{"audioenc.ffmpeg.bitrate", "448"}}, "ac3", 48000},
        {"FFmpeg MP2", 14, "ffmpeg", {{"overall.audio.format", "MP2"}}, {{"audioenc.ffmpeg.bitrate", "64"}},
         {{"audioenc.ffmpeg.bitrate", "320"}}, "mp2"},
        {"FFmpeg ALAC", 14, "ffmpeg", {{"overall.audio.format", "ALAC"}}, {}, {}, "alac"},
        {"FFmpeg PCM", 14, "ffmpeg", {{"overall.audio.format", "PCM"}}, {}, {}, "pcm_s16le"},
        {"FFmpeg ADPCM", 14, "ffmpeg", {{"overall.audio.format", "ADPCM"}}, {}, {}, "adpcm_ms"},
        {"FFmpeg WavPack", 14, "ffmpeg", {{"overall.audio.format", "WavPack"}}, {}, {}, "wavpack"},
        {"FFmpeg FLAC", 14, "ffmpeg", {{"overall.audio.format", "FLAC"}}, {}, {}, "flac"},
        {"FFmpeg TTA", 14, "ffmpeg", {{"overall.audio.format", "TTA"}}, {}, {}, "tta"},
        {"PCM", 22, nullptr, {{"audioenc.pcm.format", "Waveform file"}}, {}, {}, "pcm_s16le"},
        {"CLI", 24, "lame", {{"audioenc.cli.fileext", "mp3"}},
         {{"audioenc.cli.command", "lame --silent -b 112 --ignorelength - \"$(DestFile)\""}},
         {{"audioenc.cli.command", "lame --silent -b 320 --ignorelength - \"$(DestFile)\""}}, "mp3"},
    };
    return cases;
}

class EncoderToolsTest : public ::testing::TestWithParam<EncoderCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(enctest::LoadShippedSettings());
        ASSERT_TRUE(enctest::OnPath("ffprobe"));
    }

    // Encodes three seconds with the settings; the output's path, empty on a failure.
    std::string Encode(const EncoderCase& c, const Settings& settings, const std::string& folder) {
        PrefStore& prefs = GetPrefStore();
        for (const Settings* s : {&c.common, &settings}) {
            for (const auto& [key, value] : *s) EXPECT_TRUE(prefs.SetFromText(key, value)) << key;
        }
        fs::create_directories(folder);
        prefs.SetString("overall.task.destdir", folder.c_str());

        QueueItem item;
        item.file = strdup((folder + "/sïne \"in\".wav").c_str());
        item.flags = kItemFlagInUse;
        AudioTask task;
        task.item = &item;
        task.sourceId = 1;  // PCM on the tool's standard input
        task.channels = static_cast<uint16_t>(c.channels);
        task.sampleRate = c.rate;
        task.bitsPerSample = 16;
        task.blockAlign = static_cast<uint16_t>(c.channels * 2);
        task.byteRate = c.rate * task.blockAlign;
        item.audioTask = &task;
        item.state = kItemEncoding;

        std::string dest;
        auto enc = CreateAudioEncoder(c.id);
        EXPECT_TRUE(enc);
        task.encoders[0] = enc.get();
        if (enc && enc->Configure(&task)) {
            dest = GetTaskVariable(&item, &task, "DestFileAudio");
            const std::string line = ExpandCommandLineVariables(&task, enc->commandLine.c_str(), &item);
            SCOPED_TRACE(line);
            WaveHeader h;
            InitWaveHeader(&h, c.rate, c.channels, 16, -1);
            const std::string pcm = enctest::SinePcm(c.rate, c.channels, 3.0);
            bool ok = enc->Open(dest.c_str(), &item, line.c_str()) && enc->WriteHeader(&h);
            for (size_t at = 0; ok && at < pcm.size(); at += 32768) {
                const int n = static_cast<int>(std::min<size_t>(32768, pcm.size() - at));
                ok = enc->Write(pcm.data() + at, n) == n;
            }
            if (ok) enc->Finish();
            EXPECT_TRUE(ok);
            EXPECT_TRUE(enc->FinishedCleanly());
            enc->Close();
            if (!ok || !enc->FinishedCleanly()) dest.clear();
        } else {
            ADD_FAILURE() << "Configure failed";
        }
        item.audioTask = nullptr;
        std::free(item.file);
        return dest;
    }
};

TEST_P(EncoderToolsTest, EncodesThreeSecondsAndFollowsItsBitrateSetting) {
    const EncoderCase& c = GetParam();
    if (c.program && !enctest::OnPath(c.program)) GTEST_SKIP() << c.program << " is not installed";
    sqtest::TempDir tmp;
    sqtest::EventRecorder events;

    const std::string low = Encode(c, c.low, tmp.file("low ü"));
    ASSERT_FALSE(low.empty());
    const uint32_t rate = c.expectRate ? c.expectRate : c.rate;
    const std::string info = enctest::Probe(low, "stream=codec_name,sample_rate,channels");
    EXPECT_EQ(enctest::Field(info, "codec_name"), c.codec) << info;
    EXPECT_EQ(enctest::Field(info, "sample_rate"), std::to_string(rate)) << info;
    EXPECT_EQ(enctest::Field(info, "channels"), std::to_string(c.channels)) << info;
    // The duration as decoded: some containers' own figure is an estimate.
    const std::string raw = tmp.file("decoded.raw");
    int code = -1;
    ASSERT_TRUE(RunAndWait(("ffmpeg -v error -nostdin -y -i " + platform::QuoteArg(low) + " -f s16le -ac 1 " +
                            platform::QuoteArg(raw)).c_str(), nullptr, kProcNoStdHandles, &code, 60000));
    ASSERT_EQ(code, 0);
    EXPECT_NEAR(static_cast<double>(fs::file_size(raw)) / 2 / rate, 3.0, 0.15);
    if (c.high.empty()) return;

    const std::string high = Encode(c, c.high, tmp.file("high"));
    ASSERT_FALSE(high.empty());
    const auto lowBytes = fs::file_size(low), highBytes = fs::file_size(high);
    EXPECT_GT(static_cast<double>(highBytes), 1.5 * static_cast<double>(lowBytes)) << lowBytes << " / " << highBytes;
}

INSTANTIATE_TEST_SUITE_P(DebianTools, EncoderToolsTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<EncoderCase>& info) {
                             std::string name;
                             for (const char* p = info.param.what; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST(EncoderToolsNull, AnalysisEncoderTakesThePcmAndWritesNothing) {
    ASSERT_TRUE(enctest::LoadShippedSettings());
    sqtest::TempDir tmp;
    auto enc = CreateAudioEncoder(25);
    ASSERT_TRUE(enc->Configure(nullptr));
    ASSERT_TRUE(enc->Open(tmp.file("out.wav").c_str(), nullptr, nullptr));
    WaveHeader h;
    InitWaveHeader(&h, 44100, 2, 16, -1);
    EXPECT_TRUE(enc->WriteHeader(&h));
    const std::string pcm = enctest::SinePcm(44100, 2, 3.0);
    EXPECT_EQ(enc->Write(pcm.data(), static_cast<int>(pcm.size())), static_cast<int>(pcm.size()));
    enc->Finish();
    enc->Close();
    EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST(EncoderToolsVersion, ShippedEncodersReportTheirToolsVersion) {
    ASSERT_TRUE(enctest::LoadShippedSettings());
    struct Case {
        int id;
        const char* program;
        const char* contains;
    } cases[] = {{0, "lame", "LAME"}, {17, "flac", "flac "}, {14, "ffmpeg", "ffmpeg version"}, {7, "opusenc", "opusenc"}};
    for (const Case& c : cases) {
        if (!enctest::OnPath(c.program)) continue;
        const std::string version = CreateAudioEncoder(c.id)->GetVersion();
        EXPECT_NE(version.find(c.contains), std::string::npos) << c.program << ": " << version;
        EXPECT_EQ(version.find('\n'), std::string::npos) << version;  // one line
    }
}

}  // namespace
