// The preview player driven from the UI thread with the real player (the program's "mplayer"
// adapter first on PATH): a start never holds the UI thread, whatever the player does, and the
// player's answers still reach the UI.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/engine_api.h"
#include "engine/prefs/preffiles.h"
#include "engine/queue/queue.h"
#include "engine/tools/preview.h"
#include "platform/gui/gui_fixture.h"
#include "support/program_ui.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"
#include "ui/dialogs/userinput.h"
#include "ui/main/composition.h"

namespace {

using Clock = std::chrono::steady_clock;
using gui::HWND;

std::atomic<int> g_ticks{0};
void CountTick(HWND, gui::UINT, gui::UINT_PTR, gui::DWORD) { ++g_ticks; }

// Whether the child's process group (the adapter and the player it runs) is gone within a bound.
bool ProcessGroupEnds(pid_t pid) {
    const auto start = Clock::now();
    while (kill(-pid, 0) == 0 && Clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return kill(-pid, 0) == -1 && errno == ESRCH;
}

class UiPlayer : public sqtest::GuiTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(sqtest::UseProgramDefinitionsAndUi());
        ui::ConnectEngine();
        // The real player, playing into no sound device.
        dir_.write("mplayer/config", "ao=null\n");
        setenv("MPLAYER_HOME", dir_.file("mplayer").c_str(), 1);
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (std::string(SQ_OUT_DIR) + "/tools:" + oldPath_).c_str(), 1);
        GetPreviewPlayer().startLimitMs = 3000;
    }
    void TearDown() override {
        PlayerStop();
        GetPreviewPlayer().startLimitMs = kPlayerStartLimitMs;
        setenv("PATH", oldPath_.c_str(), 1);
        unsetenv("MPLAYER_HOME");
        drv.Pump();
        gui::SetResourceProvider(nullptr);
    }

    sqtest::TempDir dir_;
    std::string oldPath_;
};

// The user-input dialog plays its item looped. A broken file makes the player try again and again
// without ever answering: the dialog is there and its timer runs while the player is being
// started; the start limit then ends the player, and the dialog still takes the text.
TEST_F(UiPlayer, BrokenLoopedFileNeverHoldsTheUiThread) {
    std::string noise(20000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919u) >> 3);
    QueueItem* item = QueueNewItem(dir_.write("broken.avi", noise).c_str());
    item->flags |= kItemFlagHasStreams;  // nothing to probe
    g_ticks = 0;
    int ticksWhileStarting = 0;
    bool stopped = false;
    pid_t pid = 0;
    drv.OnModal(ui::dlg::userinput::id, [&](gui::testing::Driver& d, HWND h) {
        CPreviewPlayer& player = GetPreviewPlayer();
        EXPECT_NE(player.file.find("broken.avi"), std::string::npos);
        pid = static_cast<pid_t>(player.process.processId);
        ASSERT_NE(gui::SetTimer(h, 77, 100, CountTick), 0u);
        const auto start = Clock::now();
        while (GetPlayerInfo(1) != kPlayerStopped && Clock::now() - start < std::chrono::seconds(20)) {
            const bool starting = player.Starting();
            d.Advance(100);
            if (starting && player.Starting()) ticksWhileStarting = g_ticks;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stopped = GetPlayerInfo(1) == kPlayerStopped;
        gui::KillTimer(h, 77);
        d.SetTextAsUser(d.Find(h, 1090), "5");
        d.Click(d.Find(h, gui::IDOK));
    });
    EXPECT_EQ(ui::AskUserInput(nullptr, item), "5");
    EXPECT_GT(ticksWhileStarting, 0);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(GetPlayerInfo(0), -1);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(ProcessGroupEnds(pid));
    QueueFreeItem(item);
}

// Started from the UI thread, the player answers its length later; pause, a seek to 2 s (the
// position the player reports) and stop then work as they do anywhere.
TEST_F(UiPlayer, PlayPauseSeekStop) {
    // Key frames every 5 frames, so a seek lands where it is asked to.
    const std::string clip = dir_.file("clip.avi");
    ASSERT_EQ(std::system(("timeout 60 ffmpeg -nostdin -v quiet -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
                           "sine=f=440:r=44100 -t 5 -c:v mpeg4 -g 5 -c:a pcm_s16le -shortest '" + clip + "'")
                              .c_str()),
              0);
    ASSERT_TRUE(LaunchPreviewPlayer(clip.c_str(), " -vo null -ao null", 0, 0));
    EXPECT_EQ(GetPlayerInfo(1), kPlayerPlaying);
    ASSERT_TRUE(drv.PumpUntil([] { return !GetPreviewPlayer().Starting(); }, 10000));
    EXPECT_NEAR(GetPlayerInfo(3), 5000, 100);
    EXPECT_EQ(GetPlayerInfo(1), kPlayerPlaying);

    EXPECT_EQ(PlayerPause(), kPlayerPaused);
    ASSERT_EQ(PlayerSeek(2.0f, 2), 0);
    EXPECT_NEAR(GetPlayerInfo(0), 2000, 150);
    EXPECT_EQ(GetPlayerInfo(1), kPlayerPaused);

    const pid_t pid = static_cast<pid_t>(GetPreviewPlayer().process.processId);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(PlayerStop(), 0);
    EXPECT_EQ(GetPlayerInfo(1), kPlayerStopped);
    EXPECT_EQ(GetPlayerInfo(0), -1);
    EXPECT_TRUE(ProcessGroupEnds(pid));
}

}  // namespace
