// The window framework on the headless layer: the handle map, dispatch, the life of windows and
// dialogs (modal, nested, modeless, closed from their own handlers), timers and translation.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/gui/driver.h"
#include "platform/gui/menus.h"
#include "platform/gui/resources.h"
#include "support/locale_guard.h"
#include "support/shipped_data.h"
#include "ui/framework/dialog.h"

using namespace gui;
using ui::CDialogWindow;
using ui::CWindow;
using ui::WindowMap;

namespace {

HWND FakeHandle(uintptr_t v) { return reinterpret_cast<HWND>(v); }

TEST(WindowMap, StaysSortedAndFindsEveryHandleThroughRandomChanges) {
    ui::CWindowMatchTable map;
    std::mt19937 rng(7);
    std::vector<uintptr_t> handles;
    for (uintptr_t i = 0; i < 50; ++i) handles.push_back(0x10000 + i * 4);
    std::shuffle(handles.begin(), handles.end(), rng);
    std::vector<CWindow*> objects(50);
    for (size_t i = 0; i < handles.size(); ++i) {
        objects[i] = reinterpret_cast<CWindow*>(0x1000 + i * 16);
        ASSERT_NE(map.Add(FakeHandle(handles[i]), objects[i]), nullptr);
    }
    // Adding a handle again returns its entry unchanged.
    EXPECT_EQ(map.Add(FakeHandle(handles[0]), nullptr)->window, objects[0]);
    std::vector<size_t> order(handles.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (size_t n = 0; n < order.size(); ++n) {
        ASSERT_TRUE(map.Remove(FakeHandle(handles[order[n]])));
        EXPECT_FALSE(map.Remove(FakeHandle(handles[order[n]])));
        auto entries = map.Entries();
        ASSERT_TRUE(std::is_sorted(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return reinterpret_cast<uintptr_t>(a.hwnd) < reinterpret_cast<uintptr_t>(b.hwnd);
        }));
        for (size_t k = 0; k < order.size(); ++k) {
            CWindow* want = k > n ? objects[order[k]] : nullptr;
            ASSERT_EQ(map.Find(FakeHandle(handles[order[k]])), want);
        }
    }
    EXPECT_EQ(map.Count(), 0);
    EXPECT_EQ(map.Find(FakeHandle(handles[0])), nullptr);
}

// Records which operation each message reached.
class Recorder : public CDialogWindow {
public:
    std::vector<std::string> calls;
    bool answer = true;
    bool Note(const std::string& what) {
        calls.push_back(what);
        return answer;
    }
    bool OnMove() override { return Note("OnMove"); }
    bool OnSize(int w, int h) override { return Note("OnSize " + std::to_string(w) + "x" + std::to_string(h)); }
    bool OnCommand(int id, int code, HWND) override { return Note("OnCommand " + std::to_string(id) + "/" + std::to_string(code)); }
    bool OnMenuCommand(int id) override { return Note("OnMenuCommand " + std::to_string(id)); }
    bool OnSelChange(int id, int code, HWND) override { return Note("OnSelChange " + std::to_string(id) + "/" + std::to_string(code)); }
    bool OnEditChange(int id, int code, HWND) override { return Note("OnEditChange " + std::to_string(id) + "/" + std::to_string(code)); }
    bool OnCommandNotify(int id, int code, HWND) override { return Note("OnCommandNotify " + std::to_string(id) + "/" + std::to_string(code)); }
    bool OnScroll(int id, int code) override { return Note("OnScroll " + std::to_string(id) + "/" + std::to_string(code)); }
    HBRUSH OnControlColor(HDC, int kind, HWND) override {
        Note("OnControlColor " + std::to_string(kind));
        return answer ? reinterpret_cast<HBRUSH>(0x77) : nullptr;
    }
    bool OnMouseMove(int x, int y, WPARAM) override { return Note("OnMouseMove " + std::to_string(x) + "," + std::to_string(y)); }
    bool OnButtonDown(WPARAM, int x, int y) override { return Note("OnButtonDown " + std::to_string(x) + "," + std::to_string(y)); }
    bool OnTrayNotify(WPARAM, LPARAM) override { return Note("OnTrayNotify"); }
    bool OnAppCommand(WPARAM, LPARAM) override { return Note("OnAppCommand"); }
    bool OnUser(WPARAM, LPARAM) override { return Note("OnUser"); }
    bool OnTaskbarCreated(UINT, WPARAM, LPARAM) override { return Note("OnTaskbarCreated"); }
    bool OnTimer(UINT_PTR id) override { return Note("OnTimer " + std::to_string(id)); }
};

TEST(WindowDispatch, EachMessageReachesItsOperation) {
    const UINT taskbar = RegisterWindowMessageA("TaskbarCreated");
    struct Case {
        UINT msg;
        WPARAM wp;
        LPARAM lp;
        bool answer;  // what the operations return
        std::vector<std::string> calls;
        bool handled;
    };
    const std::vector<Case> cases = {
        {WM_MOVE, 0, 0, true, {"OnMove"}, true},
        {WM_SIZE, 0, MAKELPARAM(640, 480), true, {"OnSize 640x480"}, true},
        {WM_COMMAND, MAKEWPARAM(40001, 0), 0, true, {"OnCommand 40001/0"}, true},
        // A command nobody takes as a control command is offered as a menu command.
        {WM_COMMAND, MAKEWPARAM(40001, 0), 0, false, {"OnCommand 40001/0", "OnMenuCommand 40001"}, false},
        {WM_COMMAND, MAKEWPARAM(40082, 1), 0, true, {"OnSelChange 40082/1"}, true},
        {WM_COMMAND, MAKEWPARAM(1007, 6), 0, true, {"OnEditChange 1007/6"}, true},
        {WM_COMMAND, MAKEWPARAM(1001, 0x300), 0, true, {"OnEditChange 1001/768"}, true},
        {WM_COMMAND, MAKEWPARAM(1001, 5), 0, true, {"OnCommandNotify 1001/5"}, true},
        {WM_HSCROLL, MAKEWPARAM(8, 0), 0, true, {"OnScroll 0/8"}, true},
        {WM_CTLCOLOREDIT, 0, 0, true, {"OnControlColor 1"}, true},
        {WM_CTLCOLORSTATIC, 0, 0, true, {"OnControlColor 6"}, true},
        {WM_CTLCOLORSTATIC, 0, 0, false, {"OnControlColor 6"}, false},
        {WM_CTLCOLORMSGBOX, 0, 0, true, {}, false},
        // Coordinates left of and above the window stay negative.
        {WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<unsigned>(-5), 7), true, {"OnMouseMove -5,7"}, true},
        {WM_RBUTTONDOWN, 0, MAKELPARAM(3, static_cast<unsigned>(-2)), true, {"OnButtonDown 3,-2"}, true},
        {WM_TIMER, 9, 0, true, {"OnTimer 9"}, true},
        {WM_USER, 0, 0, true, {"OnUser"}, true},
        {ui::kTrayMessage, 1, WM_LBUTTONUP, true, {"OnTrayNotify"}, true},
        {WM_APP, 0, 0, true, {"OnAppCommand"}, true},
        {taskbar, 0, 0, true, {"OnTaskbarCreated"}, true},
        {WM_KEYDOWN, 0, 0, true, {}, false},
    };
    for (const auto& c : cases) {
        Recorder r;
        r.answer = c.answer;
        bool handled = CWindow::Dispatch(&r, c.msg, c.wp, c.lp);
        EXPECT_EQ(r.calls, c.calls) << "message 0x" << std::hex << c.msg;
        EXPECT_EQ(handled, c.handled) << "message 0x" << std::hex << c.msg;
    }
}

constexpr int kOuter = 5001, kInner = 5002, kModeless = 5003;
constexpr int kOpenInner = 1001;

class FrameworkTest : public ::testing::Test {
protected:
    std::shared_ptr<LiteralResources> resources = std::make_shared<LiteralResources>();
    gui::testing::Driver drv{[](const std::string& what) { ADD_FAILURE() << what; }, Options()};

    gui::testing::Driver::Options Options() {
        DialogTemplate outer = Template(kOuter, "_menu_settings");
        outer.controls.push_back(Button(kOpenInner, "_nokey"));
        resources->Add(outer);
        resources->Add(Template(kInner, "inner"));
        DialogTemplate modeless = Template(kModeless, "modeless");
        modeless.style |= WS_VISIBLE;
        resources->Add(modeless);
        gui::testing::Driver::Options o;
        o.resources = resources;
        return o;
    }
    static ControlTemplate Button(int id, const char* caption) {
        ControlTemplate c;
        c.id = id;
        c.className = kButtonClass;
        c.caption = caption;
        c.style = WS_TABSTOP;
        c.w = 50;
        c.h = 14;
        return c;
    }
    static DialogTemplate Template(int id, const char* caption) {
        DialogTemplate t;
        t.id = id;
        t.caption = caption;
        t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
        t.w = 200;
        t.h = 100;
        t.controls.push_back(Button(1, "OK"));
        return t;
    }
};

// A dialog that ends with 5 on OK, opens an inner modal dialog from button 1001, and counts the
// children that closed.
class NestingDialog : public CDialogWindow {
public:
    int innerResult = -100;
    int childClosed = 0;
    bool allowClose = true;
    bool closeSelfOnOk = false;
    bool endAfterInner = false;
    std::unique_ptr<NestingDialog> inner;
    bool OnControlCommand(int id) override {
        if (id == kOpenInner) {
            inner = std::make_unique<NestingDialog>();
            innerResult = inner->DoModal(nullptr, kInner, hwnd_);
            if (endAfterInner) EndDialog(hwnd_, 5);
            return true;
        }
        if (id == 1 && closeSelfOnOk) {
            Close();
            return true;
        }
        if (id == 1) return EndDialog(hwnd_, 5) != 0;
        return false;
    }
    bool OnClose() override { return allowClose; }
    bool OnChildClosed() override { return ++childClosed, true; }
};

TEST_F(FrameworkTest, ModalInsideModalEndsInnerFirstAndLeavesNothingBehind) {
    const size_t before = drv.LiveWindows();
    NestingDialog outer;
    outer.endAfterInner = true;
    HWND outerSeen = nullptr, innerSeen = nullptr;
    drv.OnModal(kOuter, [&](gui::testing::Driver& d, HWND h) {
        outerSeen = h;
        d.Click(d.Find(h, kOpenInner));
    });
    drv.OnModal(kInner, [&](gui::testing::Driver& d, HWND h) {
        innerSeen = h;
        EXPECT_FALSE(d.Enabled(outerSeen));  // the outer dialog waits under the inner one
        d.Close(h);
    });
    const int result = outer.DoModal(nullptr, kOuter, nullptr);
    ASSERT_NE(innerSeen, nullptr);
    EXPECT_EQ(outer.innerResult, 0);  // closed with its X: WM_CLOSE's lParam
    EXPECT_EQ(result, 5);
    EXPECT_EQ(outer.Handle(), nullptr);
    EXPECT_EQ(outer.inner->Handle(), nullptr);
    EXPECT_EQ(WindowMap().Count(), 0);
    drv.Pump();
    EXPECT_EQ(drv.LiveWindows(), before);
}

TEST_F(FrameworkTest, DoModalOnAnObjectThatHasAWindowAnswersMinusOne) {
    NestingDialog d;
    ASSERT_NE(d.CreateModeless(nullptr, kModeless, static_cast<HWND>(nullptr)), nullptr);
    EXPECT_EQ(d.DoModal(nullptr, kInner, nullptr), -1);
    d.Close();
    drv.Pump();
}

TEST_F(FrameworkTest, ModelessDialogClosesThroughEachRoad) {
    struct Road {
        const char* name;
        std::function<void(gui::testing::Driver&, NestingDialog&)> close;
        bool allowClose;
        bool staysOpen;
    };
    const std::vector<Road> roads = {
        {"X, OnClose true", [](gui::testing::Driver& d, NestingDialog& w) { d.Close(w.Handle()); }, true, false},
        {"X, OnClose false", [](gui::testing::Driver& d, NestingDialog& w) { d.Close(w.Handle()); }, false, true},
        {"Close from its own OK handler",
         [](gui::testing::Driver& d, NestingDialog& w) {
             w.closeSelfOnOk = true;
             d.Click(d.Find(w.Handle(), 1));
         },
         true, false},
        {"Close from outside", [](gui::testing::Driver&, NestingDialog& w) { w.Close(); }, true, false},
    };
    for (const auto& road : roads) {
        SCOPED_TRACE(road.name);
        const size_t before = drv.LiveWindows();
        NestingDialog parent;
        ASSERT_NE(parent.Create(WS_OVERLAPPEDWINDOW, 0, static_cast<HWND>(nullptr)), nullptr);
        auto page = std::make_unique<NestingDialog>();
        page->allowClose = road.allowClose;
        HWND h = page->CreateModeless(nullptr, kModeless, &parent);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(WindowMap().Find(h), page.get());
        road.close(drv, *page);
        drv.Pump();
        EXPECT_EQ(IsWindow(h) != 0, road.staysOpen);
        EXPECT_EQ(page->Handle() != nullptr, road.staysOpen);
        EXPECT_EQ(WindowMap().Find(h) != nullptr, road.staysOpen);
        const bool viaX = std::string(road.name).rfind("X", 0) == 0;
        EXPECT_EQ(parent.childClosed, viaX && !road.staysOpen ? 1 : 0);
        page.reset();  // a live window is closed by its object's destructor
        parent.Close();
        drv.Pump();
        EXPECT_EQ(drv.LiveWindows(), before);
        EXPECT_EQ(WindowMap().Count(), 0);
    }
}

TEST_F(FrameworkTest, ChildrenDestroyedWithTheirParentLeaveTheMap) {
    NestingDialog host;
    ASSERT_NE(host.Create(WS_OVERLAPPEDWINDOW, 0, static_cast<HWND>(nullptr)), nullptr);
    NestingDialog page;
    ASSERT_NE(page.CreateModeless(nullptr, kModeless, &host), nullptr);
    DestroyWindow(host.Handle());
    drv.Pump();
    EXPECT_EQ(host.Handle(), nullptr);
    EXPECT_EQ(page.Handle(), nullptr);
    EXPECT_EQ(WindowMap().Count(), 0);
}

class TickingWindow : public CWindow {
public:
    int ticks = 0;
    bool OnInit() override {
        SetTimer(hwnd_, 3, 100, nullptr);
        return true;
    }
    bool OnTimer(UINT_PTR id) override {
        ++ticks;
        KillTimer(hwnd_, id);
        return true;
    }
};

TEST_F(FrameworkTest, TimerKilledInItsHandlerFiresOnce) {
    TickingWindow w;
    ASSERT_NE(w.Create(WS_OVERLAPPEDWINDOW, 0, static_cast<HWND>(nullptr)), nullptr);
    EXPECT_EQ(WindowMap().Find(w.Handle()), &w);
    drv.Advance(1000);
    EXPECT_EQ(w.ticks, 1);
    w.Close();
    EXPECT_EQ(WindowMap().Count(), 0);
}

TEST_F(FrameworkTest, CaptionsAndMenusAreTranslatedWithDistinctMnemonics) {
    // The language list names its string files relative to the program folder.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(sqtest::DataFile("lang.xml")).parent_path());
    const int loaded = ui::UiStrings().Load("lang.xml", "qxgui", 0, nullptr, 0);
    std::filesystem::current_path(cwd);
    ASSERT_EQ(loaded, 0);
    NestingDialog d;
    HWND h = d.CreateModeless(nullptr, kOuter, static_cast<HWND>(nullptr));
    d.TranslateControls(nullptr);
    EXPECT_EQ(drv.Text(h), "Settings");
    EXPECT_EQ(drv.Text(drv.Find(h, kOpenInner)), "_nokey");  // no text for the key: left as it is

    HMENU menu = CreatePopupMenu();
    const char* items[] = {"menu_start", "menu_settings", "menu_exit", "menu_stop\tCtrl+S", "&Keep"};
    for (UINT i = 0; i < 5; ++i) AppendMenuA(menu, MF_STRING, 100 + i, items[i]);
    ui::TranslateMenu(menu);
    const char* expected[] = {"&Start", "S&ettings", "E&xit", "S&top\tCtrl+S", "&Keep"};
    for (UINT i = 0; i < 5; ++i) {
        char text[64] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        EXPECT_EQ(std::string(text), expected[i]);
    }
    DestroyMenu(menu);
    d.Close();
    drv.Pump();
    ui::UiStrings().Destroy();
}

TEST_F(FrameworkTest, ControlHelpersReadAndWriteTheirControls) {
    NestingDialog d;
    HWND h = d.CreateModeless(nullptr, kOuter, static_cast<HWND>(nullptr));
    d.SetItemFloat(1, 1.5, 2);
    EXPECT_EQ(drv.Text(d.GetItem(1)), "1.50");
    d.SetItemFloat(0, 1.5, 0);  // id 0: the control addressed last
    EXPECT_EQ(drv.Text(d.GetItem(1)), "1.500000");
    {
        sqtest::CommaLocale comma;  // as a desktop toolkit sets it
        d.SetItemFloat(1, 2.5, 2);
        EXPECT_EQ(drv.Text(d.GetItem(1)), "2.50");
    }
    d.SetItemInt(kOpenInner, -42);
    EXPECT_EQ(d.GetItemText(kOpenInner), "-42");
    EXPECT_EQ(d.GetItemText(4242), "");
    d.Close();
    drv.Pump();
    (void)h;
}

}  // namespace

namespace {

TEST_F(FrameworkTest, TrayIconCutsItsTextsAtCharacterBoundaries) {
    TickingWindow w;
    ASSERT_NE(w.Create(WS_OVERLAPPEDWINDOW, 0, static_cast<HWND>(nullptr)), nullptr);
    const std::string tip = std::string(31, 't') + "é";  // the 32-character limit falls inside "é"
    ASSERT_TRUE(w.SetTrayIcon(NIM_ADD, tip.c_str(), "Batch finished", "Sonquill title over 16"));
    auto tray = drv.Tray();
    ASSERT_EQ(tray.size(), 1u);
    EXPECT_EQ(tray[0].id, 1u);
    EXPECT_EQ(tray[0].callback, ui::kTrayMessage);
    EXPECT_EQ(tray[0].tip, std::string(31, 't'));
    ASSERT_EQ(tray[0].balloons.size(), 1u);
    EXPECT_EQ(tray[0].balloons[0].first, "Sonquill title o");
    EXPECT_EQ(tray[0].balloons[0].second, "Batch finished");
    EXPECT_TRUE(w.SetTrayIcon(NIM_DELETE, nullptr, nullptr, nullptr));
    EXPECT_TRUE(drv.Tray().empty());
    w.Close();
}

TEST_F(FrameworkTest, ShowMenuTranslatesChecksAndGreysByMask) {
    MenuTemplate m;
    m.id = 7001;
    MenuItemTemplate popup;
    popup.popup = true;
    popup.text = "p";
    for (int i = 0; i < 3; ++i) {
        MenuItemTemplate item;
        item.id = 40100 + i;
        item.text = i == 0 ? "menu_start" : "plain";
        popup.items.push_back(item);
    }
    m.items.push_back(popup);
    resources->Add(m);
    TickingWindow w;
    ASSERT_NE(w.Create(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, static_cast<HWND>(nullptr)), nullptr);
    std::string dump;
    drv.OnPopupMenu([&](const std::string& d, POINT) {
        dump = d;
        return 0u;
    });
    ui::ShowMenu(7001, w.Handle(), 0b001, 0b100);
    EXPECT_NE(dump.find("checked"), std::string::npos) << dump;
    EXPECT_NE(dump.find("grayed"), std::string::npos) << dump;
    const auto checkedLine = dump.substr(0, dump.find('\n'));
    EXPECT_NE(checkedLine.find("checked"), std::string::npos) << dump;
    w.Close();
}

}  // namespace

namespace {

TEST(WindowPlacement, CenteringKeepsClearOfAPanelAtTheWorkAreasOrigin) {
    gui::testing::Driver::Options o;
    o.workArea = RECT{100, 40, 1100, 840};  // a panel on the left and one at the top
    gui::testing::Driver drv([](const std::string& what) { ADD_FAILURE() << what; }, o);
    TickingWindow w;
    ASSERT_NE(w.Create(WS_OVERLAPPEDWINDOW, 0, static_cast<HWND>(nullptr)), nullptr);
    w.CenterOnWorkArea(400, 300);
    RECT r = drv.Rect(w.Handle());
    EXPECT_EQ(r.left, 400);
    EXPECT_EQ(r.top, 290);
    w.CenterOnWorkArea(2000, 300);  // wider than the work area: pinned to its left edge
    EXPECT_EQ(drv.Rect(w.Handle()).left, 100);
    w.MoveTo(CW_USEDEFAULT, 7, -1, 50);  // keeps x and the width
    r = drv.Rect(w.Handle());
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 7);
    EXPECT_EQ(r.right - r.left, 2000);
    EXPECT_EQ(r.bottom - r.top, 50);
    w.Close();
}

}  // namespace
