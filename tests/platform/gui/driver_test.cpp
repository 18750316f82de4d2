// The test driver's own guarantees: a clock that never runs backwards, left-alone dialogs that
// only wait for their own timers, and Pump telling a runaway from a long but finite queue.
#include "gui_fixture.h"

namespace {

using namespace gui;
using sqtest::Dlg;

class DriverClock : public sqtest::GuiTest {
protected:
    INT_PTR RunModal(DialogTemplate t, HWND owner) {
        int id = t.id;
        resources->Add(std::move(t));
        return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(id), owner, sqtest::RecordingDlgProc, 0);
    }
};

// A main-window timer opens a left-alone count-down inside Advance; the count-down moves the
// clock past Advance's target, and Advance must not set it back.
TEST_F(DriverClock, AdvanceNeverMovesTheClockBackwards) {
    HWND main = MakeWindow();
    SetTimer(main, 1, 100, nullptr);
    bool opened = false;
    log.handler = [&](HWND h, UINT msg, WPARAM, LPARAM, bool& handled) -> INT_PTR {
        if (h == main && msg == WM_TIMER && !opened) {
            opened = true;
            KillTimer(main, 1);
            RunModal(Dlg(260, WS_POPUP, {}), main);
            handled = true;
        }
        if (h != main && msg == WM_INITDIALOG) SetTimer(h, 7, 5000, nullptr);
        if (h != main && msg == WM_TIMER) {
            EndDialog(h, 1);
            handled = true;
            return TRUE;
        }
        return 0;
    };
    drv.LeaveAlone(260);
    const uint64_t start = drv.Now();
    drv.Advance(200);
    EXPECT_TRUE(opened);
    EXPECT_EQ(drv.Now(), start + 100 + 5000) << "the count-down's time stays spent";
    const uint64_t before = GetTickCount();
    drv.Advance(10);
    EXPECT_GE(static_cast<uint64_t>(GetTickCount()), before);
    DestroyWindow(main);
}

// A left-alone dialog that has no timer of its own would wait for ever; another window's periodic
// timer must not spin the clock forward on its behalf.
TEST_F(DriverClock, LeftAloneDialogWithoutATimerIsReported) {
    collectFailures = true;
    HWND main = MakeWindow();
    SetTimer(main, 1, 250, nullptr);
    drv.LeaveAlone(261);
    const uint64_t start = drv.Now();
    EXPECT_EQ(RunModal(Dlg(261, WS_POPUP | WS_CAPTION, {}), main), 0);
    EXPECT_LT(drv.Now() - start, 1000u) << "no virtual days spent";
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("left-alone dialog 261 has no timer"), std::string::npos) << failures[0];
    EXPECT_EQ(drv.TopLevels(), std::vector<HWND>{main});
    DestroyWindow(main);
}

// While a left-alone count-down waits for its own 1 s timer, the owner's 250 ms timer and a 600 ms
// one-shot of another window fire at their own times, in deadline order across all windows.
TEST_F(DriverClock, OtherWindowsTimersFireOnTimeDuringACountDown) {
    HWND main = MakeWindow();
    HWND other = MakeWindow();
    std::vector<std::pair<std::string, uint64_t>> fired;  // who, at which tick from the start
    uint64_t start = 0;
    HWND dialog = nullptr;
    log.handler = [&](HWND h, UINT msg, WPARAM, LPARAM, bool& handled) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            dialog = h;
            SetTimer(h, 1, 1000, nullptr);
        }
        if (msg != WM_TIMER) return 0;
        handled = true;
        fired.emplace_back(h == main ? "main" : h == other ? "other" : "dialog", drv.Now() - start);
        if (h == other) KillTimer(other, 2);
        if (h == dialog && fired.back().second >= 2000) EndDialog(h, 1);
        return TRUE;
    };
    drv.LeaveAlone(262);
    start = drv.Now();
    SetTimer(main, 1, 250, nullptr);
    SetTimer(other, 2, 600, nullptr);
    EXPECT_EQ(RunModal(Dlg(262, WS_POPUP, {}), main), 1);
    const std::vector<std::pair<std::string, uint64_t>> want = {
        {"main", 250},  {"main", 500},    {"other", 600},   {"main", 750},  {"main", 1000}, {"dialog", 1000},
        {"main", 1250}, {"main", 1500},   {"main", 1750},   {"main", 2000}, {"dialog", 2000}};
    EXPECT_EQ(fired, want);
    DestroyWindow(other);
    DestroyWindow(main);
}

class DriverPump : public sqtest::GuiTest {};

TEST_F(DriverPump, ALongQueueIsNotARunaway) {
    HWND w = MakeWindow();
    int seen = 0;
    log.handler = [&](HWND, UINT msg, WPARAM, LPARAM, bool& handled) -> INT_PTR {
        handled = msg == WM_USER;
        seen += handled;
        return 0;
    };
    constexpr int kPosts = 150000;
    for (int i = 0; i < kPosts; ++i) PostMessageA(w, WM_USER, 0, 0);
    drv.Pump();
    EXPECT_EQ(seen, kPosts);
    EXPECT_TRUE(failures.empty());
    log.handler = nullptr;
    log.Clear();
    DestroyWindow(w);
}

TEST_F(DriverPump, AWindowThatKeepsPostingIsReported) {
    collectFailures = true;
    struct Case {
        const char* name;
        int postsPerMessage;  // 1: the queue stays level; 2: it grows
    } cases[] = {{"level", 1}, {"growing", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        failures.clear();
        HWND w = MakeWindow();
        log.handler = [&](HWND h, UINT msg, WPARAM, LPARAM, bool& handled) -> INT_PTR {
            if (msg == WM_USER)
                for (int i = 0; i < c.postsPerMessage; ++i) PostMessageA(h, WM_USER, 0, 0);
            handled = msg == WM_USER;
            return 0;
        };
        PostMessageA(w, WM_USER, 0, 0);
        drv.Pump();
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_NE(failures[0].find("messages keep coming"), std::string::npos);
        log.handler = nullptr;
        DestroyWindow(w);
        drv.Pump();  // the posts left behind are for a dead window: dropped
        log.Clear();
    }
}

}  // namespace
