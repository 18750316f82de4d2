// The preview player with the real player (through the program's "mplayer" adapter) on generated
// files: play, pause, seek, stop; and the video drawn into a window of a private X server.
#include "engine/tools/preview.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/prefs/prefstore.h"
#include "support/pref_builder.h"
#include "support/tempdir.h"
#include "support/x11_display.h"

namespace {

using Clock = std::chrono::steady_clock;

class RealPreview : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Key frames every 5 frames, so a seek lands where it is asked to.
        dir_ = new sqtest::TempDir;
        video_ = new std::string(dir_->file("clip.avi"));
        ASSERT_EQ(std::system(("ffmpeg -v quiet -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
                               "sine=f=440:r=44100 -t 5 -c:v mpeg4 -g 5 -c:a pcm_s16le -shortest '" + *video_ + "'")
                                  .c_str()),
                  0);
    }
    static void TearDownTestSuite() {
        delete video_;
        delete dir_;
    }

    void SetUp() override {
        sqtest::PrefBuilder b(GetPrefStore());
        b.Add("overall.preview.vo", kPrefEnum, "0", {"Auto", "a", "b", "c", "d", "e", "f"});
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        // The program's tools folder comes first, as at start-up: the adapter stands for the player.
        setenv("PATH", (std::string(SQ_OUT_DIR) + "/tools:" + oldPath_).c_str(), 1);
    }
    void TearDown() override {
        PlayerStop();
        setenv("PATH", oldPath_.c_str(), 1);
        GetPrefStore().Clear();
    }

    // Waits (bounded) until the poll thread has read a position of at least ms.
    static bool PositionReaches(int ms) {
        const auto start = Clock::now();
        while (GetPlayerInfo(0) < ms) {
            if (Clock::now() - start > std::chrono::seconds(5)) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }
    static int AskedPosition() {
        std::string reply;
        if (PlayerCommand("get_time_pos", &reply) != 0) return -1;
        return static_cast<int>(std::atof(reply.c_str()) * 1000);
    }

    static inline sqtest::TempDir* dir_ = nullptr;
    static inline std::string* video_ = nullptr;
    std::string oldPath_;
};

// The same session with the option sets a user can choose: a player cache (the player drops
// commands while it fills) and quiet output (which would silence the player's answers).
TEST_F(RealPreview, PlayPauseSeekStop) {
    const struct {
        const char* what;
        const char* options;
    } cases[] = {
        {"defaults", " -vo null -ao null"},
        {"a 64 KB cache", " -cache 64 -vo null -ao null"},
        {"quiet output", " -really-quiet -vo null -ao null"},
        {"both", " -really-quiet -cache 64 -vo null -ao null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(LaunchPreviewPlayer(video_->c_str(), c.options, 0, 0));
        EXPECT_NEAR(GetPlayerInfo(3), 5000, 200);
        EXPECT_EQ(GetPlayerInfo(1), kPlayerPlaying);
        EXPECT_EQ(GetPlayerInfo(4), 1);
        EXPECT_EQ(GetPlayerInfo(5), 1);
        ASSERT_TRUE(PositionReaches(300));

        EXPECT_EQ(PlayerPause(), kPlayerPaused);
        ASSERT_EQ(PlayerSeek(2.0f, 2), 0);
        EXPECT_NEAR(GetPlayerInfo(0), 2000, 150);  // the position the player reports
        // Still paused: asking twice, apart, gives the same place.
        const int first = AskedPosition();
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        EXPECT_EQ(AskedPosition(), first);
        EXPECT_NEAR(first, 2000, 150);

        EXPECT_EQ(PlayerPause(), kPlayerPlaying);
        ASSERT_TRUE(PositionReaches(2500));

        const pid_t pid = static_cast<pid_t>(GetPreviewPlayer().process.processId);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(PlayerStop(), 0);
        EXPECT_EQ(GetPlayerInfo(1), kPlayerStopped);
        EXPECT_EQ(GetPlayerInfo(0), -1);
        // The adapter and the player it started (its process group) are gone; the player, no longer
        // the adapter's child, is reaped by the system a moment later.
        const auto start = Clock::now();
        while (kill(-pid, 0) == 0 && Clock::now() - start < std::chrono::seconds(3))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(kill(-pid, 0), -1);
        EXPECT_EQ(errno, ESRCH);
    }
}

TEST_F(RealPreview, PlaysToTheEndAndStops) {
    const std::string shortClip = dir_->file("short.wav");
    ASSERT_EQ(std::system(("ffmpeg -v quiet -y -f lavfi -i sine=d=0.6 '" + shortClip + "'").c_str()), 0);
    ASSERT_TRUE(LaunchPreviewPlayer(shortClip.c_str(), " -vo null -ao null", 0, 0));
    EXPECT_EQ(GetPlayerInfo(5), 0);  // "Video: no video"
    const auto start = Clock::now();
    while (GetPlayerInfo(1) != kPlayerStopped && Clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(GetPlayerInfo(1), kPlayerStopped);
}

// The video lands in the window whose id the player is given: its picture is no longer black.
TEST_F(RealPreview, VideoLandsInTheWindow) {
    sqtest::XvfbDisplay display;
    if (!display.ok()) GTEST_SKIP() << "Xvfb did not start";
    sqtest::X11Window window(display.name(), 160, 120);
    ASSERT_TRUE(window.ok());
    EXPECT_EQ(window.LitPixels(), 0);
    const char* oldDisplay = std::getenv("DISPLAY");
    const std::string keep = oldDisplay ? oldDisplay : "";
    setenv("DISPLAY", display.name().c_str(), 1);
    const std::string options = " -wid " + std::to_string(window.id()) + " -vo x11 -ao null";
    const bool started = LaunchPreviewPlayer(video_->c_str(), options.c_str(), 0, 0);
    if (oldDisplay) setenv("DISPLAY", keep.c_str(), 1); else unsetenv("DISPLAY");
    ASSERT_TRUE(started);
    ASSERT_TRUE(PositionReaches(1000));
    EXPECT_GT(window.LitPixels(), 160 * 120 / 2);
    EXPECT_EQ(PlayerStop(), 0);
}

}  // namespace
