// The AAC+ plug-in and APE library encoders, against stand-in libraries the test builds from
// standins/ (no such library exists on this system): the calls and values handed to them, the
// output they produce, and the failure paths when a library or an entry point is missing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "engine/encoders/encoder_test_support.h"
#include "engine/encoders/library_encoders.h"
#include "engine/encoders/wave_header.h"
#include "engine/jobs/audiotask.h"
#include "engine/queue/queue.h"
#include "support/event_recorder.h"
#include "support/program_folder.h"

namespace {

namespace fs = std::filesystem;

// Builds a stand-in library into the folder; false when the compiler fails.
bool BuildStandIn(const std::string& source, const std::string& output, const std::string& extra = "") {
    const std::string src = std::string(SQ_SOURCE_DIR) + "/tests/engine/encoders/standins/" + source;
    const std::string line = "c++ -std=c++20 -shared -fPIC -O0 " + extra + " -I" + platform::QuoteArg(SQ_SOURCE_DIR) +
                             " " + platform::QuoteArg(src) + " -o " + platform::QuoteArg(output);
    int code = -1;
    return RunAndWait(line.c_str(), nullptr, kProcNoStdHandles, &code, 120000) && code == 0;
}

class LibraryEncoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        built_ = new sqtest::TempDir;
        ok_ = BuildStandIn("aacplus_standin.cpp", built_->file("enc_aacplus.so")) &&
              BuildStandIn("ape_standin.cpp", built_->file("MACDll.so")) &&
              BuildStandIn("ape_standin.cpp", built_->file("MACDll_partial.so"), "-DSTANDIN_NO_FINISH");
    }
    static void TearDownTestSuite() { delete built_; }

    void SetUp() override {
        ASSERT_TRUE(ok_) << "the stand-in libraries could not be built";
        ASSERT_TRUE(enctest::LoadShippedSettings());
        setenv("SQ_STANDIN_LOG", logPath.c_str(), 1);
        unsetenv("SQ_STANDIN_REFUSE");
        item.state = kItemEncoding;
        task.item = &item;
        task.channels = 2;
        task.sampleRate = 44100;
        task.bitsPerSample = 16;
        item.audioTask = &task;
    }
    void TearDown() override {
        item.audioTask = nullptr;
        unsetenv("SQ_STANDIN_LOG");
    }
    // Puts a built library into the program folder under its real name.
    void Install(const std::string& built, const std::string& name) {
        fs::copy_file(built_->file(built), folder.dir().file(name), fs::copy_options::overwrite_existing);
    }
    std::string Calls() const { return sqtest::ReadFile(logPath); }
    bool Logged(const std::string& text) const {
        for (const std::string& line : events.texts(kEventLogLine)) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }

    static sqtest::TempDir* built_;
    static bool ok_;
    sqtest::ProgramFolder folder;
    sqtest::TempDir work;
    sqtest::EventRecorder events;
    std::string logPath = work.file("calls.log");
    QueueItem item;
    AudioTask task;
    PrefStore& prefs = GetPrefStore();
};

sqtest::TempDir* LibraryEncoderTest::built_ = nullptr;
bool LibraryEncoderTest::ok_ = false;

TEST(AacPlusRanges, BitrateTableByProfileAndChannels) {
    struct Case {
        int type, channels, min, max;
    } cases[] = {{0, 1, 8000, 65536}, {0, 2, 16000, 131072}, {0, 6, 96000, 213335}, {1, 1, 8000, 163840},
                 {1, 2, 16000, 327680}, {1, 3, 160000, 327680}, {2, 1, 8000, 163840}, {2, 2, 96000, 262144},
                 {2, 5, 8000, 262144}};
    for (const Case& c : cases) {
        EXPECT_EQ(CAACPlus::BitrateRange(c.type, c.channels), std::make_pair(c.min, c.max)) << c.type << "/" << c.channels;
    }
}

TEST_F(LibraryEncoderTest, AacPlusChecksItsSettingsBeforeLoading) {
    Install("enc_aacplus.so", "enc_aacplus.so");
    prefs.SetFromText("audioenc.aacplus.type", "HE-AAC");
    prefs.SetFromText("audioenc.aacplus.mode", "Stereo");
    struct Case {
        int kbps;
        const char* mode;
        const char* logKey;  // null: accepted
    } cases[] = {{128, "Stereo", nullptr}, {129, "Stereo", "INVALID_BITRATE"}, {15, "Stereo", "INVALID_BITRATE"},
                 {64, "Parametric stereo", "ERROR_PS"}, {48, "Parametric stereo", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kbps);
        events.clear();
        item.errorCode = 0;
        item.state = kItemEncoding;
        prefs.SetInt("audioenc.aacplus.bitrate", c.kbps);
        prefs.SetFromText("audioenc.aacplus.mode", c.mode);
        CAACPlus enc;
        const bool opened = enc.Open(work.file("out.aac").c_str(), &item, nullptr);
        EXPECT_EQ(opened, c.logKey == nullptr);
        if (c.logKey) {
            EXPECT_TRUE(Logged(EngineText(c.logKey)));
            EXPECT_EQ(item.errorCode, 8);
            EXPECT_EQ(item.state, kItemError);
        }
        enc.Close();
    }
}

TEST_F(LibraryEncoderTest, AacPlusHandsItsSettingsToThePluginAndWritesAllItsOutput) {
    Install("enc_aacplus.so", "enc_aacplus.so");
    prefs.SetInt("audioenc.aacplus.bitrate", 128);
    prefs.SetFromText("audioenc.aacplus.type", "HE-AAC high bitrate");
    prefs.SetFromText("audioenc.aacplus.mode", "Stereo");
    prefs.SetBool("audioenc.aacplus.v1", true);
    prefs.SetFromText("audioenc.aacplus.version", "MPEG-4 AAC");
    prefs.SetString("overall.task.tempdir", work.path().c_str());
    const std::string out = work.file("out.aac");
    CAACPlus enc;
    ASSERT_TRUE(enc.Open(out.c_str(), &item, nullptr));
    const std::string ini = work.file("qx.ini");
    EXPECT_FALSE(fs::exists(ini));  // removed once the plug-in has read it
    EXPECT_EQ(Calls(), "create 2 44100 16 PCM  AACH " + ini + "\n"
                       "[audio_aacplushigh]\nsamplerate=44100\nchannelmode=2\nbitrate=131072\nv2enable=1\n"
                       "bitstream=5\nsignallingmode=0\n\n");

    WaveHeader h;
    InitWaveHeader(&h, 22050, 2, 16, -1);
    EXPECT_FALSE(enc.WriteHeader(&h));  // below 32000 Hz the plug-in cannot encode
    InitWaveHeader(&h, 44100, 2, 16, -1);
    EXPECT_TRUE(enc.WriteHeader(&h));
    const std::string pcm = enctest::SinePcm(44100, 2, 0.5);
    EXPECT_EQ(enc.Write(pcm.data(), static_cast<int>(pcm.size())), static_cast<int>(pcm.size()));
    enc.Finish();
    enc.Close();
    EXPECT_EQ(sqtest::ReadFile(out), pcm);  // the held-back tail came out at the end
    const std::string calls = Calls();
    EXPECT_NE(calls.find("prepare\nfinish " + out + "\ndestroyed\n"), std::string::npos) << calls;
    EXPECT_TRUE(Logged(EngineText("UNLOADING_DLL")));
}

TEST_F(LibraryEncoderTest, AacPlusWithoutAUsableLibraryFailsAndSaysWhy) {
    prefs.SetInt("audioenc.aacplus.bitrate", 64);
    prefs.SetFromText("audioenc.aacplus.mode", "Stereo");
    prefs.SetFromText("audioenc.aacplus.type", "HE-AAC");
    {
        CAACPlus enc;  // no library anywhere
        EXPECT_FALSE(enc.Open(work.file("a.aac").c_str(), &item, nullptr));
        EXPECT_TRUE(Logged("enc_aacplus.so was not found"));
        EXPECT_EQ(events.texts(kEventNotice), std::vector<std::string>{EngineText("CT_INFO")});
        EXPECT_FALSE(fs::exists(folder.dir().file("qx.ini")));
    }
    Install("MACDll.so", "enc_aacplus.so");  // a library without CreateAudio3
    {
        CAACPlus enc;
        EXPECT_FALSE(enc.Open(work.file("b.aac").c_str(), &item, nullptr));
        EXPECT_TRUE(Logged(EngineText("INCORRECT_VERSION")));
    }
    Install("enc_aacplus.so", "enc_aacplus.so");
    setenv("SQ_STANDIN_REFUSE", "1", 1);  // the plug-in makes no coder
    {
        CAACPlus enc;
        EXPECT_FALSE(enc.Open(work.file("c.aac").c_str(), &item, nullptr));
        EXPECT_TRUE(Logged("Error starting encoder"));
    }
}

TEST_F(LibraryEncoderTest, ApeStartsTheLibraryWithTheTaskFormatAndLevel) {
    Install("MACDll.so", "MACDll.so");
    const std::string out = work.file("out.ape");
    struct Case {
        const char* setting;
        int level;
    } cases[] = {{"0", 1000}, {"2", 3000}, {"4", 5000}};
    for (const Case& c : cases) {
        std::filesystem::remove(logPath);
        prefs.SetFromText("audioenc.ape.level", c.setting);
        CApe enc;
        ASSERT_TRUE(enc.Open(out.c_str(), &item, nullptr));
        EXPECT_EQ(Calls(), "create\nstart " + out + " 1 2 44100 176400 4 16 -1 " + std::to_string(c.level) + " none -1\n");
        enc.Close();
    }
    EXPECT_EQ(CApe::CompressionLevel(9), 5000);  // past the last level: the last

    CApe enc;
    ASSERT_TRUE(enc.Open(out.c_str(), &item, nullptr));
    EXPECT_EQ(enc.Write("PCM bytes", 9), 9);
    EXPECT_EQ(enc.Write("X refused", 9), -1);
    enc.Close();
    EXPECT_EQ(sqtest::ReadFile(out), "PCM bytes");
    EXPECT_NE(Calls().find("finish\ndestroy\n"), std::string::npos);
}

TEST_F(LibraryEncoderTest, ApeWithoutItsLibraryOrAnEntryPointFails) {
    CApe none;
    EXPECT_FALSE(none.Open(work.file("a.ape").c_str(), &item, nullptr));
    EXPECT_TRUE(Logged("MACDll.so was not found"));
    Install("MACDll_partial.so", "MACDll.so");
    CApe partial;
    EXPECT_FALSE(partial.Open(work.file("b.ape").c_str(), &item, nullptr));
    EXPECT_EQ(Calls(), "");  // nothing was called
    EXPECT_EQ(partial.Write("x", 1), -1);
}

}  // namespace
