// Windows: the tree and its destruction, stale handles, visibility and placement, focus and the
// enabled state, text and classes.
#include "gui_fixture.h"

namespace {

using namespace gui;
using sqtest::Ctl;
using sqtest::Dlg;

class Windows : public sqtest::GuiTest {
protected:
    std::vector<HWND> Receivers(UINT msg) const {
        std::vector<HWND> out;
        for (const auto& r : log.all)
            if (r.msg == msg) out.push_back(r.hwnd);
        return out;
    }
};

TEST_F(Windows, DestructionTakesChildrenAndOwnedWindowsAlong) {
    HWND a = MakeWindow();
    HWND b = MakeWindow(WS_CHILD | WS_VISIBLE, a, 1);
    HWND c = MakeWindow(WS_CHILD | WS_VISIBLE, b, 2);
    HWND p = MakeWindow(WS_POPUP | WS_VISIBLE, a);  // owned by a
    HWND other = MakeWindow();
    log.Clear();
    ASSERT_TRUE(DestroyWindow(a));
    EXPECT_EQ(Receivers(WM_DESTROY), (std::vector<HWND>{a, b, c, p})) << "top-down";
    EXPECT_EQ(Receivers(WM_NCDESTROY), (std::vector<HWND>{p, c, b, a})) << "bottom-up";
    for (HWND h : {a, b, c, p}) EXPECT_FALSE(IsWindow(h));
    EXPECT_TRUE(IsWindow(other));
    DestroyWindow(other);
}

// A window being destroyed takes no new children or owned windows (they would outlive it).
TEST_F(Windows, NoNewWindowsUnderAWindowBeingDestroyed) {
    HWND child = reinterpret_cast<HWND>(1), owned = reinterpret_cast<HWND>(1);
    HWND a = MakeWindow();
    log.handler = [&](HWND h, UINT msg, WPARAM, LPARAM, bool&) -> INT_PTR {
        if (h == a && msg == WM_DESTROY) {
            child = MakeWindow(WS_CHILD | WS_VISIBLE, a, 9);
            owned = MakeWindow(WS_POPUP, a);
        }
        return 0;
    };
    DestroyWindow(a);
    EXPECT_EQ(child, nullptr);
    EXPECT_EQ(owned, nullptr);
    EXPECT_EQ(drv.LiveWindows(), 0u);
}

TEST_F(Windows, StaleHandlesAnswerZero) {
    HWND w = MakeWindow();
    HWND child = MakeWindow(WS_CHILD, w, 4);
    DestroyWindow(w);
    char buf[8] = "x";
    EXPECT_EQ(SendMessageA(w, WM_USER, 1, 2), 0);
    EXPECT_FALSE(PostMessageA(w, WM_USER, 0, 0));
    EXPECT_FALSE(SetWindowTextA(w, "t"));
    EXPECT_EQ(GetWindowTextA(w, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(ShowWindow(w, SW_SHOW));
    EXPECT_FALSE(EnableWindow(w, FALSE));
    EXPECT_EQ(GetDlgItem(w, 4), nullptr);
    EXPECT_EQ(GetParent(child), nullptr);
    EXPECT_EQ(SetTimer(w, 1, 100, nullptr), 0u);
    EXPECT_EQ(SetFocus(child), nullptr);
    EXPECT_FALSE(DestroyWindow(w));
    HWND next = MakeWindow();
    EXPECT_NE(next, w);
    EXPECT_NE(next, child) << "handles are never reused";
    DestroyWindow(next);
}

TEST_F(Windows, CreateAnsweringMinusOneAborts) {
    log.handler = [](HWND, UINT msg, WPARAM, LPARAM, bool& handled) -> INT_PTR {
        handled = msg == WM_CREATE;
        return -1;
    };
    EXPECT_EQ(MakeWindow(), nullptr);
    EXPECT_EQ(drv.LiveWindows(), 0u);
}

// A new window hears its size and position right after WM_CREATE, so code that lays out
// children in WM_SIZE runs once before the window is first shown.
TEST_F(Windows, CreationSendsSizeAndMoveAfterCreate) {
    struct Case {
        const char* name;
        DWORD style;
        bool child;
        LPARAM size;  // client width and height
        LPARAM move;  // client origin: on the screen, or in the parent's client area
    } cases[] = {
        {"framed top-level", WS_OVERLAPPEDWINDOW, false, MAKELPARAM(300 - 8, 200 - 8 - 23), MAKELPARAM(10 + 4, 10 + 4 + 23)},
        {"popup", WS_POPUP, false, MAKELPARAM(300, 200), MAKELPARAM(10, 10)},
        {"child", WS_CHILD | WS_VISIBLE, true, MAKELPARAM(300, 200), MAKELPARAM(10, 10)},
    };
    HWND parent = MakeWindow();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        HWND w = MakeWindow(c.style, c.child ? parent : nullptr, 3);
        std::vector<UINT> life;
        for (const auto& r : log.all) {
            if (r.hwnd != w) continue;
            if (r.msg == WM_CREATE || r.msg == WM_SIZE || r.msg == WM_MOVE) life.push_back(r.msg);
            if (r.msg == WM_SIZE) {
                EXPECT_EQ(r.wParam, SIZE_RESTORED);
                EXPECT_EQ(r.lParam, c.size);
            }
            if (r.msg == WM_MOVE) {
                EXPECT_EQ(r.lParam, c.move);
            }
        }
        EXPECT_EQ(life, (std::vector<UINT>{WM_CREATE, WM_SIZE, WM_MOVE}));
        DestroyWindow(w);
    }
    DestroyWindow(parent);
}

TEST_F(Windows, ShowStateAndPlacement) {
    HWND w = MakeWindow(WS_OVERLAPPEDWINDOW);
    HWND child = MakeWindow(WS_CHILD | WS_VISIBLE, w, 1);
    EXPECT_FALSE(IsWindowVisible(child)) << "a hidden parent hides its children";
    log.Clear();
    EXPECT_FALSE(ShowWindow(w, SW_SHOW));
    EXPECT_TRUE(ShowWindow(w, SW_SHOW));
    EXPECT_EQ(log.Messages(w), (std::vector<UINT>{WM_SHOWWINDOW, WM_WINDOWPOSCHANGED, WM_SETFOCUS}))
        << "only the first one changes anything; showing activates";
    EXPECT_TRUE(IsWindowVisible(child));

    struct Case {
        int cmd;
        UINT showCmd;
        WPARAM sizeKind;
    } cases[] = {{SW_MINIMIZE, SW_SHOWMINIMIZED, SIZE_MINIMIZED},
                 {SW_MAXIMIZE, SW_SHOWMAXIMIZED, SIZE_MAXIMIZED},
                 {SW_RESTORE, SW_SHOWNORMAL, SIZE_RESTORED}};
    for (const auto& c : cases) {
        log.Clear();
        ShowWindow(w, c.cmd);
        WINDOWPLACEMENT wp;
        ASSERT_TRUE(GetWindowPlacement(w, &wp));
        EXPECT_EQ(wp.showCmd, c.showCmd) << c.cmd;
        EXPECT_EQ(IsIconic(w) != FALSE, c.cmd == SW_MINIMIZE);
        ASSERT_FALSE(log.all.empty());
        EXPECT_EQ(log.all[0].msg, static_cast<UINT>(WM_SIZE));
        EXPECT_EQ(log.all[0].wParam, c.sizeKind);
    }
    ShowWindow(w, SW_MINIMIZE);
    ShowWindow(w, SW_HIDE);
    WINDOWPLACEMENT wp;
    GetWindowPlacement(w, &wp);
    EXPECT_EQ(wp.showCmd, static_cast<UINT>(SW_SHOWMINIMIZED)) << "whatever the visibility";
    DestroyWindow(w);
}

TEST_F(Windows, FocusMovesOnlyToWindowsThatTakeInput) {
    HWND w = MakeWindow();
    HWND a = MakeWindow(WS_CHILD | WS_VISIBLE, w, 1);
    HWND b = MakeWindow(WS_CHILD | WS_VISIBLE, w, 2);
    HWND hidden = MakeWindow(WS_CHILD, w, 3);
    HWND disabled = MakeWindow(WS_CHILD | WS_VISIBLE | WS_DISABLED, w, 4);
    SetFocus(a);
    log.Clear();
    EXPECT_EQ(SetFocus(b), a);
    ASSERT_EQ(log.all.size(), 2u);
    EXPECT_EQ(log.all[0].hwnd, a);
    EXPECT_EQ(log.all[0].msg, static_cast<UINT>(WM_KILLFOCUS));
    EXPECT_EQ(log.all[1].hwnd, b);
    EXPECT_EQ(log.all[1].msg, static_cast<UINT>(WM_SETFOCUS));
    EXPECT_EQ(SetFocus(hidden), nullptr);
    EXPECT_EQ(SetFocus(disabled), nullptr);
    EXPECT_EQ(GetFocus(), b);
    EnableWindow(w, FALSE);  // disabling an ancestor takes the focus away
    EXPECT_EQ(GetFocus(), nullptr);
    DestroyWindow(w);
}

TEST_F(Windows, ActivationReturnsToADialogsLastFocus) {
    HWND d1 = OpenDialog(Dlg(301, WS_POPUP | WS_VISIBLE, {Ctl(1, kEditClass, WS_TABSTOP), Ctl(2, kEditClass, WS_TABSTOP)}));
    HWND d2 = OpenDialog(Dlg(302, WS_POPUP | WS_VISIBLE, {Ctl(1, kEditClass, WS_TABSTOP)}));
    EXPECT_EQ(drv.Focus(), drv.Find(d2, 1));
    SetFocus(drv.Find(d1, 2));
    drv.Activate(d2);
    EXPECT_EQ(drv.Focus(), drv.Find(d2, 1));
    drv.Activate(d1);
    EXPECT_EQ(drv.Focus(), drv.Find(d1, 2));
    DestroyWindow(d1);
    DestroyWindow(d2);
}

TEST_F(Windows, TextIsCutAtCharacterBoundaries) {
    HWND w = MakeWindow();
    SetWindowTextA(w, "a\xC3\xA9z");  // a, e-acute (two bytes), z
    struct Case {
        int size;
        const char* expected;
    } cases[] = {{1, ""}, {2, "a"}, {3, "a"}, {4, "a\xC3\xA9"}, {5, "a\xC3\xA9z"}, {64, "a\xC3\xA9z"}};
    for (const auto& c : cases) {
        char buf[64];
        int n = GetWindowTextA(w, buf, c.size);
        EXPECT_STREQ(buf, c.expected) << c.size;
        EXPECT_EQ(n, static_cast<int>(std::string(c.expected).size()));
    }
    EXPECT_EQ(GetWindowTextLengthA(w), 4);
    DestroyWindow(w);
}

TEST_F(Windows, ClassesAndWindowData) {
    HWND w = MakeWindow();
    WNDCLASSA wc;
    wc.lpfnWndProc = sqtest::RecordingWndProc;
    wc.lpszClassName = "recordingWINDOW";
    EXPECT_EQ(RegisterClassA(&wc), 0) << "names are compared without case";
    EXPECT_TRUE(GetClassInfoA(nullptr, "Button", nullptr));
    EXPECT_FALSE(GetClassInfoA(nullptr, "NoSuchClass", nullptr));
    HWND e = CreateWindowExA(0, "edit", "", WS_CHILD, 0, 0, 10, 10, w, reinterpret_cast<HMENU>(7), nullptr, nullptr);
    char name[32];
    GetClassNameA(e, name, sizeof name);
    EXPECT_STREQ(name, "Edit");
    EXPECT_EQ(GetDlgCtrlID(e), 7);
    EXPECT_EQ(GetParent(e), w);
    SetWindowLongPtrA(w, GWLP_USERDATA, 1234);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), 1234);
    EXPECT_EQ(GetWindowLongPtrA(w, DWLP_MSGRESULT), 0) << "dialog fields belong to dialogs";
    EXPECT_EQ(RegisterWindowMessageA("TaskbarCreated"), RegisterWindowMessageA("taskbarcreated"));
    EXPECT_GE(RegisterWindowMessageA("TaskbarCreated"), 0xC000u);
    DestroyWindow(w);
}

}  // namespace

namespace {

using namespace gui;
using sqtest::Ctl;
using sqtest::Dlg;

class DialogResults : public sqtest::GuiTest {};

// A dialog procedure answers a handled message through DWLP_MSGRESULT; a value stored for one
// message (a veto, say) must not become the answer of the next one.
TEST_F(DialogResults, HandledMessagesAnswerOnlyTheirOwnResult) {
    log.handler = [](HWND h, UINT msg, WPARAM wp, LPARAM, bool& handled) -> INT_PTR {
        if (msg != WM_USER) return 0;
        if (wp) SetWindowLongPtrA(h, DWLP_MSGRESULT, static_cast<LONG_PTR>(wp));
        handled = true;
        return TRUE;
    };
    HWND d = OpenDialog(Dlg(310, WS_POPUP, {Ctl(1, kEditClass)}));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(SendMessageA(d, WM_USER, 5, 0), 5);
    EXPECT_EQ(SendMessageA(d, WM_USER, 0, 0), 0) << "the earlier result is not answered again";
    DestroyWindow(d);
}

}  // namespace
