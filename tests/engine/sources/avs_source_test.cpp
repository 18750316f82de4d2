#include "engine/sources/avs_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/context.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/inputtype.h"
#include "engine/queue/queue.h"
#include "support/event_recorder.h"
#include "support/pref_builder.h"
#include "support/tempdir.h"

namespace {

void Make(const std::string& cmd) { ASSERT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd; }

// ffmpeg's own decode as 16-bit PCM; args name the input and may add filters.
std::string FfmpegDecode(const std::string& args) {
    std::string out;
    FILE* p = popen(("ffmpeg -v quiet " + args + " -vn -f s16le -c:a pcm_s16le -").c_str(), "r");
    if (!p) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

// ffmpeg's decode of a file as 16-bit stereo PCM.
std::string FfmpegPcm(const std::string& path) { return FfmpegDecode("-i '" + path + "' -ac 2"); }

std::string ReadAll(CAudioSource& s) {
    std::string out;
    std::vector<char> buf(10000);  // not a multiple of the frame size
    for (int guard = 0; guard < 100000; ++guard) {
        int n = s.Read(buf.data(), static_cast<int>(buf.size()));
        if (n < 0) break;
        out.append(buf.data(), static_cast<size_t>(n));
    }
    return out;
}

class AvsSource : public ::testing::Test {
protected:
    void SetUp() override {
        sqtest::PrefBuilder b(GetPrefStore());
        b.Add("videosrc.avisynth.path", kPrefDir);
        b.Add("videosrc.avisynth.keepScript", kPrefBool, "0");
        b.Add("videosrc.avisynth.template", kPrefFile);
        b.Add("videosrc.avisynth.source", kPrefEnum, "2");
        b.Add("videosrc.avisynth.fourcc", kPrefString);
        b.Add("overall.subtitle.mode", kPrefEnum, "0");
        b.Add("overall.subtitle.file", kPrefFile);
        b.Add("overall.audio.delay", kPrefInt, "0");
        b.Add("audiofilter.resample.samplerate", kPrefInt, "0");
        b.Add("audiofilter.resample.downSamplingOnly", kPrefBool, "0");
        b.Add("audiofilter.resample.precious", kPrefBool, "0");
        b.Add("audiofilter.volume.gain", kPrefFloat, "0");
        b.Add("audiofilter.volume.normalization", kPrefBool, "0");
        b.Add("overall.task.tempdir", kPrefDir, dir_.path().c_str());
        task_.item = nullptr;
    }
    void TearDown() override {
        if (item_) QueueFreeItem(item_);
        GetPrefStore().Clear();
    }
    // An item for the path; fps 0 leaves it without a video stream.
    QueueItem* Item(const std::string& path, uint32_t fps = 0, bool audio = true) {
        item_ = QueueNewItem(path.c_str());
        if (fps) {
            item_->video = new VideoStreamInfo;
            item_->video->fpsNum = fps;
            item_->video->fpsDen = 1;
        }
        if (audio) {
            item_->audio = new AudioStreamInfo;
            item_->audio->samplerate = 44100;
        }
        task_.item = item_;
        return item_;
    }
    std::vector<std::string> ScriptsLeft() const {
        std::vector<std::string> out;
        for (auto& e : std::filesystem::directory_iterator(dir_.path()))
            if (e.path().extension() == ".avs") out.push_back(e.path().string());
        return out;
    }

    sqtest::TempDir dir_;
    QueueItem* item_ = nullptr;
    AudioTask task_;
};

TEST_F(AvsSource, ScriptText) {
    PrefStore& p = GetPrefStore();
    struct Case {
        const char* name;
        const char* path;
        uint32_t fps;
        int start, duration;
        void (*prefs)(PrefStore&);
        const char* expect;
    };
    auto none = [](PrefStore&) {};
    const Case cases[] = {
        {"audio-only ac3", "/m/a.ac3", 0, 0, 0,
         [](PrefStore& s) {
             s.SetInt("audiofilter.resample.samplerate", 48000);
             s.SetBool("audiofilter.resample.precious", true);
             s.SetFloat("audiofilter.volume.gain", 3.5f);
         },
         "LoadPlugin(\"NicAudio.dll\")\nNicAC3Source(\"/m/a.ac3\")\nConvertAudioTo16bit()\nSSRC(48000)\n"
         "ConvertAudioTo16bit\nAmplifydB(3.5)\n"},
        {"video with a cut", "/m/v.mkv", 25, 2000, 1000, none,
         "DirectShowSource(\"/m/v.mkv\")\nTrim(50,75)\nConvertAudioTo16bit()\n"},
        {"start alone, fractional frame", "/m/v.mkv", 25, 2500, 0, none,
         "DirectShowSource(\"/m/v.mkv\")\nTrim(63,0)\nConvertAudioTo16bit()\n"},
        {"quote in the path, fourcc, half-second delay", "/m/a\"b.avi", 0, 0, 0,
         [](PrefStore& s) {
             s.SetInt("videosrc.avisynth.source", 0);
             s.SetString("videosrc.avisynth.fourcc", "XVID");
             s.SetInt("overall.audio.delay", 500);
         },
         "AviSource(\"\"\"/m/a\"b.avi\"\"\", fourcc=\"XVID\")\nDelayAudio(0.5)\nConvertAudioTo16bit()\n"},
        {"gain above 60 dropped, down-sampling only", "/m/v.mkv", 0, 0, 0,
         [](PrefStore& s) {
             s.SetFloat("audiofilter.volume.gain", 61.0f);
             s.SetInt("audiofilter.resample.samplerate", 48000);
             s.SetBool("audiofilter.resample.downSamplingOnly", true);
         },
         "DirectShowSource(\"/m/v.mkv\")\nConvertAudioTo16bit()\n"},
        {"gain of 60 kept, resample", "/m/v.mkv", 0, 0, 0,
         [](PrefStore& s) {
             s.SetFloat("audiofilter.volume.gain", 60.0f);
             s.SetInt("audiofilter.resample.samplerate", 22050);
             s.SetInt("videosrc.avisynth.source", 3);
         },
         "OpenDMLSource(\"/m/v.mkv\")\nResampleAudio(22050)\nAmplifydB(60)\nConvertAudioTo16bit()\n"},
        {"subtitles by extension", "/m/v.mkv", 0, 0, 0,
         [](PrefStore& s) {
             s.SetInt("overall.subtitle.mode", 1);
             s.SetString("overall.subtitle.file", "/m/s.SUB");
         },
         "DirectShowSource(\"/m/v.mkv\")\nLoadPlugin(\"VSFilter.dll\")\nVobSub(\"/m/s.SUB\")\n"
         "TextSub(\"/m/own.srt\")\nConvertAudioTo16bit()\n"},
        {"subtitles mode 3, no extension", "/m/v.mkv", 0, 0, 0,
         [](PrefStore& s) {
             s.SetInt("overall.subtitle.mode", 3);
             s.SetString("overall.subtitle.file", "/m/noext");
         },
         "DirectShowSource(\"/m/v.mkv\")\nLoadPlugin(\"VSFilter.dll\")\nVobSub(\"/m/noext\")\n"
         "VobSub(\"/m/own.srt\")\nConvertAudioTo16bit()\n"},
    };
    for (const Case& c : cases) {
        TearDown();
        item_ = nullptr;
        SetUp();
        c.prefs(p);
        QueueItem* item = Item(c.path, c.fps);
        SetStringField(&item->subtitle, "/m/own.srt");
        task_.start = c.start;
        task_.duration = c.duration;
        EXPECT_EQ(BuildAvsScript(item, &task_, true), c.expect) << c.name;
    }
}

TEST_F(AvsSource, TemplateWithASourceIsUsedEvenForAudioOnly) {
    std::string templ = dir_.write("t.avs", "DirectShowSource($(SourceFile))\n");
    GetPrefStore().SetString("videosrc.avisynth.template", templ.c_str());
    QueueItem* item = Item("/m/a.ac3");
    EXPECT_EQ(BuildAvsScript(item, &task_, true), "DirectShowSource(\"/m/a.ac3\")\n");
    EXPECT_EQ(BuildAvsScript(item, &task_, false).rfind("LoadPlugin(", 0), 0u);
}

// The engine's own script for a real file gives the PCM ffmpeg decodes from it; the header's data
// size is in bytes; the script is announced and removed at Close.
TEST_F(AvsSource, ReadsTheEnginesScriptForARealFile) {
    const std::string media = dir_.file("clip one.mkv");
    Make("ffmpeg -v quiet -y -f lavfi -i testsrc=size=64x48:rate=25:d=2 -f lavfi -i sine=f=440:r=44100:d=2"
         " -ac 2 -c:v ffv1 -c:a flac -sample_fmt s16 '" + media + "'");
    Item(media, 25);
    sqtest::EventRecorder events;
    CAvsAudioSource s;
    ASSERT_TRUE(s.Open(&task_));
    EXPECT_EQ(events.texts(kEventConsoleText),
              std::vector<std::string>{"DirectShowSource(\"" + media + "\")\nConvertAudioTo16bit()\n"});
    ASSERT_EQ(ScriptsLeft().size(), 1u);
    ASSERT_TRUE(s.Prepare(&task_));
    const std::string expect = FfmpegPcm(media);
    ASSERT_GT(expect.size(), 44100u * 4);
    EXPECT_EQ(s.header.sampleRate, 44100u);
    EXPECT_EQ(s.header.channels, 2u);
    EXPECT_EQ(s.header.bitsPerSample, 16u);
    EXPECT_EQ(s.header.dataSize, expect.size());
    EXPECT_TRUE(ReadAll(s) == expect);
    s.Close();
    EXPECT_TRUE(ScriptsLeft().empty());
}

// A user's script is opened as it stands, never deleted, and the task's start and duration cut it.
TEST_F(AvsSource, UserScriptIsKeptAndCutByTheTask) {
    const std::string media = dir_.file("tone.flac");
    Make("ffmpeg -v quiet -y -f lavfi -i sine=f=440:r=44100:d=2 -ac 2 -sample_fmt s16 '" + media + "'");
    const std::string script = dir_.write("mine.avs", "FFmpegSource2(\"" + media + "\")\n");
    Item(script);
    task_.start = 500;
    task_.duration = 1000;
    CAvsAudioSource s;
    ASSERT_TRUE(s.Open(&task_));
    ASSERT_TRUE(s.Prepare(&task_));
    const std::string full = FfmpegPcm(media);
    ASSERT_GE(full.size(), 44100u * 4 * 2 - 4096);
    EXPECT_TRUE(ReadAll(s) == full.substr(22050 * 4, 44100 * 4));
    s.Close();
    EXPECT_TRUE(std::filesystem::exists(script));
}

// 16-bit samples of two PCM texts differ by at most tolerance, and the texts are equally long.
::testing::AssertionResult SamePcm(const std::string& got, const std::string& want, int tolerance) {
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " bytes read, ffmpeg gives " << want.size();
    for (size_t i = 0; i + 1 < got.size(); i += 2) {
        int16_t a, b;
        std::memcpy(&a, got.data() + i, 2);
        std::memcpy(&b, want.data() + i, 2);
        if (std::abs(a - b) > tolerance)
            return ::testing::AssertionFailure() << "sample " << i / 2 << ": " << a << " against ffmpeg's " << b;
    }
    return ::testing::AssertionSuccess();
}

// Every statement the engine writes is read by the back-end: the audio equals what ffmpeg's own
// filters make of the same file.
TEST_F(AvsSource, EveryScriptFormReadsLikeFfmpegsFilters) {
    const std::string video = dir_.file("v.mkv");
    Make("ffmpeg -v quiet -y -f lavfi -i testsrc=size=64x48:rate=25:d=4 -f lavfi -i sine=f=440:r=44100:d=4"
         " -ac 2 -c:v ffv1 -c:a flac -sample_fmt s16 '" + video + "'");
    const std::string other = dir_.file("other.flac");
    Make("ffmpeg -v quiet -y -f lavfi -i sine=f=1000:r=44100:d=3 -ac 2 -sample_fmt s16 '" + other + "'");
    const std::string ac3 = dir_.file("a.ac3");
    Make("ffmpeg -v quiet -y -f lavfi -i sine=f=300:r=48000:d=2 -ac 2 -b:a 192k '" + ac3 + "'");
    const std::string mp3 = dir_.file("a.mp3");
    Make("ffmpeg -v quiet -y -f lavfi -i sine=f=300:r=44100:d=2 -ac 2 '" + mp3 + "'");
    static const InputTypeRow kAc3 = {"ac3", 7, "", "", kInputKindAudio};
    static const InputTypeRow kMp3 = {"mp3", 11, "", "", kInputKindAudio};
    static const InputTypeRow kVideo = {"mkv", 1, "", "", kInputKindAudio | kInputKindVideo};

    const struct {
        const char* name;
        std::string input;
        const InputTypeRow* type;
        int start, duration;
        void (*prefs)(PrefStore&, QueueItem*, const std::string&);
        std::string ffmpeg;  // the input and filters of ffmpeg's reference decode
        int tolerance;
    } cases[] = {
        {"Trim(50,75)", video, &kVideo, 2000, 1000, nullptr,
         "-i '" + video + "' -af atrim=start_sample=88200:end_sample=134064", 0},
        {"DelayAudio(0.5)", video, &kVideo, 0, 0,
         [](PrefStore& p, QueueItem*, const std::string&) { p.SetInt("overall.audio.delay", 500); },
         "-i '" + video + "' -af adelay=500:all=1", 0},
        {"DelayAudio(-0.25)", video, &kVideo, 0, 0,
         [](PrefStore& p, QueueItem*, const std::string&) { p.SetInt("overall.audio.delay", -250); },
         "-i '" + video + "' -af atrim=start_sample=11025", 0},
        {"ResampleAudio(22050)", video, &kVideo, 0, 0,
         [](PrefStore& p, QueueItem*, const std::string&) { p.SetInt("audiofilter.resample.samplerate", 22050); },
         "-i '" + video + "' -af aresample=22050", 1},
        {"AmplifydB(-6.5)", video, &kVideo, 0, 0,
         [](PrefStore& p, QueueItem*, const std::string&) { p.SetFloat("audiofilter.volume.gain", -6.5f); },
         "-i '" + video + "' -af volume=-6.5dB:precision=double", 1},
        {"separate audio file", video, &kVideo, 0, 0,
         [](PrefStore&, QueueItem* i, const std::string& f) {
             SetStringField(&i->audioFile, f.c_str());
             i->flags = i->flags | kItemFlagSeparateAudio;
         },
         "-i '" + other + "'", 0},
        {"subtitles leave the audio alone", video, &kVideo, 0, 0,
         [](PrefStore& p, QueueItem*, const std::string&) {
             p.SetInt("overall.subtitle.mode", 1);
             p.SetString("overall.subtitle.file", "/m/s.srt");
         },
         "-i '" + video + "'", 0},
        {"NicAC3Source, SSRC(44100), gain", ac3, &kAc3, 0, 0,
         [](PrefStore& p, QueueItem*, const std::string&) {
             p.SetInt("audiofilter.resample.samplerate", 44100);
             p.SetBool("audiofilter.resample.precious", true);
             p.SetFloat("audiofilter.volume.gain", 3.0f);
         },
         "-i '" + ac3 + "' -af aresample=44100,volume=3dB:precision=double", 2},
        {"NicMPG123Source", mp3, &kMp3, 0, 0, nullptr, "-i '" + mp3 + "'", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        item_ = nullptr;
        SetUp();
        QueueItem* item = Item(c.input, c.type == &kVideo ? 25 : 0);
        item->inputType = c.type;
        if (c.prefs) c.prefs(GetPrefStore(), item, other);
        task_.start = c.start;
        task_.duration = c.duration;
        CAvsAudioSource s;
        ASSERT_TRUE(s.Open(&task_)) << BuildAvsScript(item, &task_, true);
        ASSERT_TRUE(s.Prepare(&task_));
        const std::string want = FfmpegDecode(c.ffmpeg);
        ASSERT_GT(want.size(), 20000u);
        const std::string got = ReadAll(s);
        EXPECT_TRUE(SamePcm(got, want, c.tolerance)) << BuildAvsScript(item, &task_, true);
        EXPECT_EQ(s.header.dataSize, got.size());
    }
}

// Two workers converting the same source at once each write and remove a script of their own.
TEST_F(AvsSource, TwoJobsOfOneSourceKeepTheirOwnScripts) {
    const std::string media = dir_.file("v.mkv");
    Make("ffmpeg -v quiet -y -f lavfi -i testsrc=size=64x48:rate=25:d=1 -f lavfi -i sine=f=440:r=44100:d=1"
         " -ac 2 -c:v ffv1 -c:a flac -sample_fmt s16 '" + media + "'");
    Item(media, 25);
    CAvsAudioSource first, second;
    ASSERT_TRUE(first.Open(&task_));
    ASSERT_TRUE(second.Open(&task_));
    EXPECT_NE(first.scriptPath, second.scriptPath);
    EXPECT_EQ(ScriptsLeft().size(), 2u);
    first.Close();
    ASSERT_TRUE(second.Prepare(&task_));
    EXPECT_EQ(ReadAll(second).size(), 44100u * 4);
    second.Close();
    EXPECT_TRUE(ScriptsLeft().empty());
}

// Failures answer false and leave no generated script behind.
TEST_F(AvsSource, FailuresRemoveTheGeneratedScript) {
    const std::string silent = dir_.file("silent.mkv");
    Make("ffmpeg -v quiet -y -f lavfi -i testsrc=size=64x48:rate=25:d=1 -c:v ffv1 '" + silent + "'");
    const std::string floaty = dir_.file("float.wav");
    Make("ffmpeg -v quiet -y -f lavfi -i sine=d=1 -c:a pcm_f32le '" + floaty + "'");
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        {"no audio stream", silent},
        {"missing file", dir_.file("gone.mkv")},
    };
    for (const auto& c : cases) {
        Item(c.path, 25);
        CAvsAudioSource s;
        EXPECT_FALSE(s.Open(&task_)) << c.name;
        EXPECT_TRUE(ScriptsLeft().empty()) << c.name;
        QueueFreeItem(item_);
        item_ = nullptr;
    }
    // A script ending in float samples is refused rather than labelled integer PCM.
    const std::string script = dir_.write("float.avs", "FFmpegSource2(\"" + floaty + "\")\n");
    Item(script);
    CAvsAudioSource s;
    EXPECT_FALSE(s.Open(&task_));
    EXPECT_TRUE(std::filesystem::exists(script));
}

}  // namespace
