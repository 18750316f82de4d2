// The message loop: timers on the virtual clock, posts, WM_QUIT through nested modal loops, modal
// and modeless dialogs ending, scripted and unscripted message boxes and dialogs.
#include <thread>
#include <utility>

#include "gui_fixture.h"
#include "platform/gui/internal.h"
#include "platform/msgbox.h"
#include "platform/sync.h"

namespace {

using namespace gui;
using sqtest::Ctl;
using sqtest::Dlg;

class Loop : public sqtest::GuiTest {
protected:
    std::vector<UINT_PTR> TimerIds(HWND h) const {
        std::vector<UINT_PTR> ids;
        for (const auto& r : log.all)
            if (r.hwnd == h && r.msg == WM_TIMER) ids.push_back(r.wParam);
        return ids;
    }
    INT_PTR RunModal(DialogTemplate t, HWND owner) {
        int id = t.id;
        resources->Add(std::move(t));
        return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(id), owner, sqtest::RecordingDlgProc, 0);
    }
};

TEST_F(Loop, TimersFireByDeadlineWithTiesInCreationOrder) {
    HWND w = MakeWindow();
    SetTimer(w, 2, 100, nullptr);
    SetTimer(w, 1, 50, nullptr);
    drv.Advance(100);  // 1 at 50; at 100 both are due and 2 was made first
    EXPECT_EQ(TimerIds(w), (std::vector<UINT_PTR>{1, 2, 1}));
    DestroyWindow(w);
}

TEST_F(Loop, TimersDoNotCatchUpAndResetReplacesThePeriod) {
    HWND w = MakeWindow();
    SetTimer(w, 1, 100, nullptr);
    drv.Jump(1000);  // the loop was busy for ten periods
    drv.Pump();
    EXPECT_EQ(TimerIds(w).size(), 1u);
    drv.Advance(99);
    EXPECT_EQ(TimerIds(w).size(), 1u) << "the next deadline counts from the fetch";
    drv.Advance(1);
    EXPECT_EQ(TimerIds(w).size(), 2u);

    drv.Advance(50);
    SetTimer(w, 1, 300, nullptr);  // re-set: new period, counted from now
    drv.Advance(299);
    EXPECT_EQ(TimerIds(w).size(), 2u);
    drv.Advance(1);
    EXPECT_EQ(TimerIds(w).size(), 3u);
    DestroyWindow(w);
    drv.Advance(1000);  // a destroyed window's timers are gone
    EXPECT_EQ(TimerIds(w).size(), 3u);
}

TEST_F(Loop, KillingTimersInsideTheHandler) {
    HWND w = MakeWindow();
    SetTimer(w, 1, 100, nullptr);
    SetTimer(w, 2, 100, nullptr);
    log.handler = [&](HWND h, UINT msg, WPARAM, LPARAM, bool& handled) -> INT_PTR {
        if (msg == WM_TIMER) {
            EXPECT_TRUE(KillTimer(h, 1));
            EXPECT_TRUE(KillTimer(h, 2));  // also due now: never delivered
            handled = true;
        }
        return 0;
    };
    drv.Advance(500);
    EXPECT_EQ(TimerIds(w), (std::vector<UINT_PTR>{1}));
    EXPECT_FALSE(KillTimer(w, 1));
    DestroyWindow(w);
}

std::vector<UINT_PTR> g_procTicks;
void TickProc(HWND, UINT, UINT_PTR id, DWORD) { g_procTicks.push_back(id); }

TEST_F(Loop, ThreadTimersAndTimerZero) {
    g_procTicks.clear();
    UINT_PTR a = SetTimer(nullptr, 0, 100, TickProc);
    UINT_PTR b = SetTimer(nullptr, 0, 100, TickProc);
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b) << "each thread timer gets a fresh id";
    drv.Advance(100);
    EXPECT_EQ(g_procTicks, (std::vector<UINT_PTR>{a, b}));
    KillTimer(nullptr, a);
    KillTimer(nullptr, b);

    HWND w = MakeWindow();
    EXPECT_EQ(SetTimer(w, 0, 100, nullptr), 1u);
    drv.Advance(100);
    EXPECT_EQ(TimerIds(w), (std::vector<UINT_PTR>{0}));
    DestroyWindow(w);
}

TEST_F(Loop, FetchOrderAndDeadWindows) {
    HWND w = MakeWindow(), gone = MakeWindow();
    SetTimer(w, 9, 10, nullptr);
    drv.Jump(10);
    PostMessageA(gone, WM_USER + 1, 0, 0);
    PostMessageA(w, WM_USER + 2, 0, 0);
    DestroyWindow(gone);
    log.Clear();
    drv.Pump();
    EXPECT_EQ(log.Messages(w), (std::vector<UINT>{WM_USER + 2, WM_TIMER})) << "posts come before timers";
    EXPECT_TRUE(log.Messages(gone).empty()) << "posts to a dead window are dropped";

    PostMessageA(w, WM_QUIT, 0, 0);  // a quit posted to a window still ends the loop
    MSG m;
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), 0);
    DestroyWindow(w);
}

TEST_F(Loop, QuitEndsNestedModalLoopsAndReachesTheMainLoop) {
    HWND owner = MakeWindow();
    INT_PTR inner = -5;
    drv.OnModal(201, [&](gui::testing::Driver&, HWND outer) {
        inner = RunModal(Dlg(202, WS_POPUP | WS_CAPTION, {}), outer);
    });
    drv.OnModal(202, [&](gui::testing::Driver&, HWND) { PostQuitMessage(7); });
    INT_PTR outer = RunModal(Dlg(201, WS_POPUP | WS_CAPTION, {}), owner);
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(outer, 0);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(drv.TopLevels(), std::vector<HWND>{owner});
    MSG m;
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), 0);
    EXPECT_EQ(m.wParam, 7u);
    DestroyWindow(owner);
}

TEST_F(Loop, ModalDialogEndsWithItsResultAndGivesTheOwnerBack) {
    HWND owner = MakeWindow();
    log.handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM, bool& handled) -> INT_PTR {
        if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
            EndDialog(h, LOWORD(wp) == IDOK ? 42 : 99);
            handled = true;
            return TRUE;
        }
        return 0;
    };
    auto tmpl = [](int id) {
        return Dlg(id, WS_POPUP | WS_CAPTION,
                   {Ctl(5, kEditClass, WS_TABSTOP), Ctl(IDOK, kButtonClass, BS_DEFPUSHBUTTON | WS_TABSTOP),
                    Ctl(IDCANCEL, kButtonClass, WS_TABSTOP)});
    };
    bool ownerDisabled = false;
    HWND focused = nullptr;
    drv.OnModal(210, [&](gui::testing::Driver& d, HWND h) {
        ownerDisabled = !IsWindowEnabled(owner);
        focused = d.Focus();
        EXPECT_EQ(focused, d.Find(h, 5)) << "the first tab stop takes the focus";
        d.Key(VK_RETURN);
    });
    drv.OnModal(211, [&](gui::testing::Driver& d, HWND) { d.Key(VK_ESCAPE); });
    EXPECT_EQ(RunModal(tmpl(210), owner), 42);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(RunModal(tmpl(211), owner), 99);
    EXPECT_EQ(drv.TopLevels(), std::vector<HWND>{owner});
    DestroyWindow(owner);
}

TEST_F(Loop, ModelessEndDialogHidesNowAndDestroysInTheLoop) {
    bool aliveAfterEnd = false, visibleAfterEnd = true;
    log.handler = [&](HWND h, UINT msg, WPARAM, LPARAM, bool& handled) -> INT_PTR {
        if (msg == WM_CLOSE) {
            EndDialog(h, 0);
            aliveAfterEnd = IsWindow(h);  // the procedure finishes on a live handle
            visibleAfterEnd = IsWindowVisible(h);
            handled = true;
            return TRUE;
        }
        return 0;
    };
    HWND d = OpenDialog(Dlg(220, WS_POPUP | WS_VISIBLE, {Ctl(3, kEditClass)}));
    HWND edit = drv.Find(d, 3);
    ASSERT_TRUE(drv.Close(d));
    EXPECT_TRUE(aliveAfterEnd);
    EXPECT_FALSE(visibleAfterEnd);
    EXPECT_TRUE(IsWindow(d));
    drv.Pump();
    EXPECT_FALSE(IsWindow(d));
    EXPECT_FALSE(IsWindow(edit));
    auto received = log.Messages(d);
    EXPECT_EQ(received.back(), static_cast<UINT>(WM_NCDESTROY));
}

TEST_F(Loop, UnscriptedModalDialogFailsInsteadOfHanging) {
    collectFailures = true;
    INT_PTR r = RunModal(Dlg(230, WS_POPUP | WS_CAPTION, {Ctl(IDOK, kButtonClass)}), nullptr);
    EXPECT_EQ(r, 0);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("unscripted modal dialog 230"), std::string::npos);
    EXPECT_TRUE(drv.TopLevels().empty());
}

TEST_F(Loop, LeftAloneCountDownRunsOut) {
    int ticks = 0;
    log.handler = [&](HWND h, UINT msg, WPARAM, LPARAM, bool& handled) -> INT_PTR {
        if (msg == WM_INITDIALOG) SetTimer(h, 1, 1000, nullptr);
        if (msg == WM_TIMER && ++ticks == 5) EndDialog(h, 5);
        handled = msg == WM_TIMER;
        return handled;
    };
    drv.LeaveAlone(240);
    const uint64_t start = drv.Now();
    EXPECT_EQ(RunModal(Dlg(240, WS_POPUP, {}), nullptr), 5);
    EXPECT_EQ(drv.Now() - start, 5000u);
}

// Without a display nobody answers a modal dialog: one without a timer of its own is closed, even
// while another window's periodic timer runs.
TEST_F(Loop, WithoutADriverAnIdleModalDialogIsClosed) {
    HWND main = MakeWindow();
    SetTimer(main, 1, 250, nullptr);
    auto hook = std::exchange(gui::detail::S().idleHook, nullptr);
    platform::Event finished(true);
    std::thread guard([&] {  // a fault ends the loop after 5 s instead of hanging the test
        if (!finished.Wait(5000)) PostMessageA(main, WM_QUIT, 0, 0);
    });
    const INT_PTR r = RunModal(Dlg(250, WS_POPUP | WS_CAPTION, {}), main);
    finished.Set();
    guard.join();
    gui::detail::S().idleHook = hook;
    EXPECT_EQ(r, 0);
    int closes = 0;
    for (const auto& m : log.all) closes += m.hwnd != main && m.msg == WM_CLOSE;
    EXPECT_EQ(closes, 1) << "the dialog was closed by the loop";
    EXPECT_EQ(drv.TopLevels(), std::vector<HWND>{main});
    DestroyWindow(main);
}

TEST_F(Loop, MessageBoxesAreAnsweredByScript) {
    collectFailures = true;
    HWND owner = MakeWindow();
    drv.ExpectBox([](const gui::testing::BoxRecord& b) { return b.text == "Save?"; }, IDYES);
    EXPECT_EQ(MessageBoxA(owner, "Save?", "Confirm", MB_YESNO | MB_ICONQUESTION), IDYES);
    // The platform's message box reaches the same responder on the UI thread.
    drv.ExpectBox([](const gui::testing::BoxRecord& b) { return b.caption == "Engine"; }, IDOK);
    EXPECT_EQ(platform::ShowMessageBox(nullptr, "started", "Engine", platform::kMbOk), IDOK);
    ASSERT_EQ(drv.Boxes().size(), 2u);
    EXPECT_EQ(drv.Boxes()[0].owner, owner);
    EXPECT_EQ(drv.Boxes()[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_TRUE(failures.empty());

    // Unscripted boxes fail the test and take the safe answer.
    struct Case {
        UINT type;
        int answer;
    } cases[] = {{MB_OK, IDOK}, {MB_YESNO, IDNO}, {MB_YESNOCANCEL, IDCANCEL}, {MB_OKCANCEL, IDCANCEL}};
    for (const auto& c : cases) EXPECT_EQ(MessageBoxA(nullptr, "x", nullptr, c.type), c.answer) << c.type;
    EXPECT_EQ(failures.size(), 4u);
    DestroyWindow(owner);
}

}  // namespace
