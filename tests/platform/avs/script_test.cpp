// Scripts of the media back-end read through the avs_ calls: what each statement does to frames
// and samples, and the statements it refuses.
#include "platform/avs/avs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/tempdir.h"

namespace {

class AvsScript : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new sqtest::TempDir;
        media_ = new std::string(dir_->file("a\"b.mkv"));
        const std::string cmd = "ffmpeg -v quiet -y -f lavfi -i testsrc=size=64x48:rate=25:d=2 -f lavfi -i "
                                "sine=f=440:r=44100:d=2 -ac 2 -c:v ffv1 -c:a pcm_s16le '" + *media_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    static void TearDownTestSuite() {
        delete media_;
        delete dir_;
    }
    void SetUp() override {
        unsetenv("SQ_AVS_BACKEND");
        env_ = avs_create_script_environment(2);
        ASSERT_NE(env_, nullptr);
    }
    void TearDown() override {
        for (AVS_Clip* c : clips_) avs_release_clip(c);
        avs_delete_script_environment(env_);
    }
    // Opens a script of the given text; null with *error set when it is refused.
    AVS_Clip* Open(const std::string& text, std::string* error = nullptr) {
        AVS_Value v = avs_invoke(env_, "Import", avs_new_value_string(dir_->write("s.avs", text)));
        if (avs_is_error(v)) {
            if (error) *error = avs_as_error(v);
            return nullptr;
        }
        AVS_Clip* c = avs_take_clip(v, env_);
        if (c) clips_.push_back(c);
        return c;
    }
    std::vector<uint8_t> Frame(AVS_Clip* c, int n) {
        AVS_VideoFrame* f = avs_get_frame(c, n);
        if (!f) return {};
        std::vector<uint8_t> bytes = f->data;
        avs_release_video_frame(f);
        return bytes;
    }
    std::vector<int16_t> Samples(AVS_Clip* c, int64_t start, int64_t count) {
        std::vector<int16_t> out(static_cast<size_t>(count) * 2);
        if (avs_get_audio(c, out.data(), start, count) != 0) out.clear();
        return out;
    }
    // The source statement in the form for a path holding a quote.
    static std::string Source() { return "FFmpegSource2(\"\"\"" + *media_ + "\"\"\")\n"; }

    static inline sqtest::TempDir* dir_ = nullptr;
    static inline std::string* media_ = nullptr;
    AVS_ScriptEnvironment* env_ = nullptr;
    std::vector<AVS_Clip*> clips_;
};

TEST_F(AvsScript, TrimCutsFramesAndTheirAudio) {
    AVS_Clip* whole = Open(Source());
    AVS_Clip* cut = Open(Source() + "Trim(10,19)\n");
    ASSERT_TRUE(whole && cut);
    const AVS_VideoInfo* vi = avs_get_video_info(cut);
    EXPECT_EQ(vi->num_frames, 10);
    EXPECT_EQ(vi->num_audio_samples, 10 * 1764);
    EXPECT_EQ(Frame(cut, 0), Frame(whole, 10));
    EXPECT_EQ(Frame(cut, 9), Frame(whole, 19));
    EXPECT_EQ(Samples(cut, 0, 1000), Samples(whole, 17640, 1000));
    // Past the cut's end there is silence, not the rest of the source.
    EXPECT_EQ(Samples(cut, 17640, 10), std::vector<int16_t>(20, 0));
    // An end of 0 runs to the last frame.
    AVS_Clip* rest = Open(Source() + "Trim(40,0)\n");
    ASSERT_TRUE(rest);
    EXPECT_EQ(avs_get_video_info(rest)->num_frames, 10);
}

TEST_F(AvsScript, SubtitlesLeaveTheAudioButNoFrames) {
    AVS_Clip* c = Open(Source() + "LoadPlugin(\"VSFilter.dll\")\nTextSub(\"/x/s.srt\")\nConvertAudioTo16bit()\n");
    ASSERT_TRUE(c);
    EXPECT_EQ(avs_get_frame(c, 0), nullptr);
    EXPECT_EQ(Samples(c, 100, 10).size(), 20u);
}

TEST_F(AvsScript, RefusedScripts) {
    const struct {
        const char* name;
        std::string text;
        const char* error;
    } cases[] = {
        {"unknown function", Source() + "Blur(1.0)\n", "line 2"},
        {"no source", "LoadPlugin(\"x.dll\")\nConvertAudioTo16bit()\n", "no clip to work on"},
        {"dub without audio", Source() + "AudioDub()\n", "AudioDub"},
        {"unknown name", Source() + "AudioDub(music)\n", "\"music\" is not known"},
        {"trim of one number", Source() + "Trim(5)\n", "Trim"},
        {"text after the call", Source() + "Trim(1,2) x\n", "unexpected text"},
        {"unclosed text", "FFmpegSource2(\"/x/y.mkv\n", "argument"},
        {"missing file", "DirectShowSource(\"/no/such.mkv\")\n", "/no/such.mkv"},
        {"resample to nothing", Source() + "ResampleAudio(0)\n", "out of range"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_EQ(Open(c.text, &error), nullptr);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

}  // namespace
