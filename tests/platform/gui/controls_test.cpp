// The controls' notifications: a user action tells the parent, a change made by code does not
// (the one exception: WM_SETTEXT on a single-line edit whose text changes).
#include "gui_fixture.h"

namespace {

using namespace gui;
using sqtest::Ctl;
using sqtest::Dlg;
using Commands = std::vector<std::pair<int, int>>;

DialogTemplate Panel() {
    return Dlg(100, WS_POPUP | WS_VISIBLE,
               {Ctl(10, kButtonClass, BS_PUSHBUTTON | WS_TABSTOP), Ctl(11, kButtonClass, BS_CHECKBOX),
                Ctl(12, kButtonClass, BS_AUTOCHECKBOX), Ctl(13, kButtonClass, BS_AUTORADIOBUTTON | WS_GROUP),
                Ctl(14, kButtonClass, BS_AUTORADIOBUTTON), Ctl(15, kButtonClass, BS_AUTORADIOBUTTON),
                Ctl(16, kStaticClass, SS_NOTIFY | WS_GROUP), Ctl(17, kStaticClass),
                Ctl(20, kEditClass, ES_AUTOHSCROLL), Ctl(21, kEditClass, ES_MULTILINE),
                Ctl(30, kComboBoxClass, CBS_DROPDOWNLIST), Ctl(31, kComboBoxClass, CBS_DROPDOWN),
                Ctl(40, kListBoxClass, LBS_NOTIFY), Ctl(41, kListBoxClass), Ctl(42, kListBoxClass, LBS_NOTIFY | LBS_EXTENDEDSEL),
                Ctl(50, kTrackbarClass), Ctl(51, kTrackbarClass, TBS_VERT), Ctl(60, kProgressClass)});
}

class Controls : public sqtest::GuiTest {
protected:
    HWND Open() {
        HWND d = OpenDialog(Panel());
        for (int id : {30, 31, 40, 41, 42})
            for (const char* s : {"a", "b", "c"})
                SendDlgItemMessageA(d, id, id < 40 ? CB_ADDSTRING : LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        log.Clear();
        return d;
    }
    HWND Item(HWND d, int id) { return GetDlgItem(d, id); }
};

TEST_F(Controls, UserActionsNotifyTheParentOnce) {
    struct Case {
        const char* name;
        std::function<bool(gui::testing::Driver&, HWND)> act;
        Commands expected;
    };
    auto item = [](HWND d, int id) { return GetDlgItem(d, id); };
    const Case cases[] = {
        {"push button", [&](auto& t, HWND d) { return t.Click(item(d, 10)); }, {{10, BN_CLICKED}}},
        {"plain check box", [&](auto& t, HWND d) { return t.Click(item(d, 11)); }, {{11, BN_CLICKED}}},
        {"auto check box", [&](auto& t, HWND d) { return t.Click(item(d, 12)); }, {{12, BN_CLICKED}}},
        {"auto radio", [&](auto& t, HWND d) { return t.Click(item(d, 14)); }, {{14, BN_CLICKED}}},
        {"notifying static", [&](auto& t, HWND d) { return t.Click(item(d, 16)); }, {{16, STN_CLICKED}}},
        {"plain static", [&](auto& t, HWND d) { return t.Click(item(d, 17)); }, {}},
        {"typing in an edit", [&](auto& t, HWND d) { return t.TypeKeys(item(d, 20), "ab"); },
         {{20, EN_CHANGE}, {20, EN_CHANGE}}},
        {"pasting into a multi-line edit", [&](auto& t, HWND d) { return t.SetTextAsUser(item(d, 21), "x\r\ny"); },
         {{21, EN_CHANGE}}},
        {"picking from a list combo", [&](auto& t, HWND d) { return t.PickCombo(item(d, 30), 1); }, {{30, CBN_SELCHANGE}}},
        {"typing in an editable combo", [&](auto& t, HWND d) { return t.TypeCombo(item(d, 31), "z"); },
         {{31, CBN_EDITUPDATE}, {31, CBN_EDITCHANGE}}},
        {"picking in a notifying list", [&](auto& t, HWND d) { return t.PickList(item(d, 40), 2); }, {{40, LBN_SELCHANGE}}},
        {"picking in a quiet list", [&](auto& t, HWND d) { return t.PickList(item(d, 41), 2); }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND d = Open();
        EXPECT_TRUE(c.act(drv, d));
        EXPECT_EQ(log.Commands(), c.expected);
        DestroyWindow(d);
    }
}

TEST_F(Controls, ChangesMadeByCodeAreSilent) {
    struct Case {
        const char* name;
        int id;
        UINT msg;
        WPARAM wp;
        LPARAM lp;
    };
    const Case cases[] = {
        {"check a box", 12, BM_SETCHECK, BST_CHECKED, 0},
        {"press a button", 10, BM_SETSTATE, 1, 0},
        {"select in a list combo", 30, CB_SETCURSEL, 2, 0},
        {"select in an editable combo", 31, CB_SETCURSEL, 1, 0},
        {"set a combo's text", 31, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("typed")},
        {"empty a combo", 31, CB_RESETCONTENT, 0, 0},
        {"select in a list", 40, LB_SETCURSEL, 1, 0},
        {"set a trackbar position", 50, TBM_SETPOS, TRUE, 40},
        {"set a trackbar range", 50, TBM_SETRANGE, TRUE, MAKELPARAM(0, 10)},
        {"set a progress position", 60, PBM_SETPOS, 30, 0},
        {"set a multi-line edit's text", 21, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("new")},
        {"set an edit's text to what it shows", 20, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND d = Open();
        SendDlgItemMessageA(d, c.id, c.msg, c.wp, c.lp);
        EXPECT_EQ(log.Commands(), Commands{});
        DestroyWindow(d);
    }
}

TEST_F(Controls, SingleLineEditReportsOnlyARealTextChange) {
    HWND d = Open();
    HWND e = Item(d, 20);
    SetWindowTextA(e, "250");
    SetWindowTextA(e, "250");
    SetWindowTextA(e, "25");
    EXPECT_EQ(log.Commands(), (Commands{{20, EN_CHANGE}, {20, EN_CHANGE}}));
    EXPECT_EQ(drv.Text(e), "25");
    DestroyWindow(d);
}

TEST_F(Controls, InputIsRefusedByDisabledOrHiddenControls) {
    HWND d = Open();
    EnableWindow(Item(d, 10), FALSE);
    ShowWindow(Item(d, 20), SW_HIDE);
    EXPECT_FALSE(drv.Click(Item(d, 10)));
    EXPECT_FALSE(drv.TypeKeys(Item(d, 20), "x"));
    EnableWindow(d, FALSE);  // a disabled dialog disables everything in it
    EXPECT_FALSE(drv.PickCombo(Item(d, 30), 0));
    EXPECT_FALSE(drv.Click(Item(d, 12)));
    EXPECT_EQ(log.Commands(), Commands{});
    EXPECT_EQ(drv.Check(Item(d, 12)), BST_UNCHECKED);
    DestroyWindow(d);
}

TEST_F(Controls, ButtonStates) {
    HWND d = Open();
    drv.Click(Item(d, 11));
    EXPECT_EQ(drv.Check(Item(d, 11)), BST_UNCHECKED) << "a plain check box leaves the state to its owner";
    drv.Click(Item(d, 12));
    EXPECT_EQ(drv.Check(Item(d, 12)), BST_CHECKED);
    drv.Click(Item(d, 12));
    EXPECT_EQ(drv.Check(Item(d, 12)), BST_UNCHECKED);

    // Radios 13-15 form one group (16 starts the next); a click checks one and clears the rest.
    SendDlgItemMessageA(d, 13, BM_SETCHECK, BST_CHECKED, 0);
    SendDlgItemMessageA(d, 15, BM_SETCHECK, BST_CHECKED, 0);  // code may check two; a click repairs it
    drv.Click(Item(d, 14));
    drv.Click(Item(d, 14));
    EXPECT_EQ(drv.Check(Item(d, 13)), BST_UNCHECKED);
    EXPECT_EQ(drv.Check(Item(d, 14)), BST_CHECKED);
    EXPECT_EQ(drv.Check(Item(d, 15)), BST_UNCHECKED);
    EXPECT_EQ(log.Commands(), (Commands{{11, 0}, {12, 0}, {12, 0}, {14, 0}, {14, 0}}));

    SendDlgItemMessageA(d, 10, BM_SETSTATE, TRUE, 0);
    EXPECT_TRUE(drv.Pushed(Item(d, 10)));
    SendDlgItemMessageA(d, 10, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(drv.Check(Item(d, 10)), BST_UNCHECKED) << "push buttons have no check state";
    DestroyWindow(d);
}

TEST_F(Controls, ComboTextIsSetBeforeTheParentHearsOfThePick) {
    HWND d = Open();
    HWND combo = Item(d, 31);
    SetWindowTextA(combo, "typed");
    std::string seen;
    log.handler = [&](HWND, UINT msg, WPARAM wp, LPARAM, bool&) -> INT_PTR {
        if (msg == WM_COMMAND && HIWORD(wp) == CBN_SELCHANGE) seen = drv.Text(combo);
        return 0;
    };
    drv.PickCombo(combo, 2);
    EXPECT_EQ(seen, "c");
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 2);

    drv.TypeCombo(combo, "x");
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), -1) << "typing leaves no entry selected";
    EXPECT_EQ(drv.Text(combo), "cx");

    // A list-only combo shows its entry; its text cannot be set to anything else.
    HWND list = Item(d, 30);
    SendMessageA(list, CB_SETCURSEL, 1, 0);
    EXPECT_EQ(drv.Text(list), "b");
    EXPECT_EQ(SendMessageA(list, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("zz")), CB_ERR);
    EXPECT_EQ(drv.Text(list), "b");
    EXPECT_EQ(SendMessageA(list, CB_SETCURSEL, 7, 0), CB_ERR);
    EXPECT_EQ(drv.Text(list), "");
    DestroyWindow(d);
}

TEST_F(Controls, ComboAndListItems) {
    HWND d = Open();
    HWND combo = Item(d, 30), list = Item(d, 40);
    SendMessageA(combo, CB_SETCURSEL, 2, 0);
    SendMessageA(combo, CB_DELETESTRING, 0, 0);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 1) << "the selection follows its entry";
    SendMessageA(combo, CB_DELETESTRING, 1, 0);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), -1);
    EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXTLEN, 5, 0), CB_ERR);
    char buf[8];
    EXPECT_EQ(SendMessageA(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(buf)), 1);
    EXPECT_STREQ(buf, "b");
    EXPECT_EQ(SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("B")), 0);

    EXPECT_EQ(SendMessageA(list, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>("first")), 0);
    EXPECT_EQ(drv.Items(list), (std::vector<std::string>{"first", "a", "b", "c"}));
    SendMessageA(list, LB_SETCURSEL, 3, 0);
    EXPECT_EQ(SendMessageA(list, LB_GETSEL, 3, 0), 1);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 0);
    DestroyWindow(d);
}

TEST_F(Controls, ExtendedListSelection) {
    HWND d = Open();
    HWND list = Item(d, 42);
    using gui::testing::kCtrl;
    using gui::testing::kShift;
    drv.PickList(list, 0);
    drv.PickList(list, 2, kShift);
    EXPECT_EQ(drv.Selection(list), (std::vector<int>{0, 1, 2}));
    drv.PickList(list, 1, kCtrl);
    EXPECT_EQ(drv.Selection(list), (std::vector<int>{0, 2}));
    drv.PickList(list, 1);
    EXPECT_EQ(drv.Selection(list), (std::vector<int>{1}));
    EXPECT_EQ(SendMessageA(list, LB_GETSELCOUNT, 0, 0), 1);
    int items[4] = {-1, -1, -1, -1};
    SendMessageA(list, LB_SETSEL, TRUE, -1);
    EXPECT_EQ(SendMessageA(list, LB_GETSELITEMS, 2, reinterpret_cast<LPARAM>(items)), 2) << "bounded by the caller's room";
    EXPECT_EQ(items[2], -1);
    EXPECT_EQ(SendMessageA(list, LB_GETCARETINDEX, 0, 0), 1);
    EXPECT_EQ(log.Commands().size(), 4u);
    DestroyWindow(d);
}

TEST_F(Controls, TrackbarReportsTheDragAndItsEnd) {
    HWND d = Open();
    HWND h = Item(d, 50), v = Item(d, 51);
    SendMessageA(h, TBM_SETRANGE, TRUE, MAKELPARAM(8, 192));
    EXPECT_EQ(drv.Position(h), 8) << "a new range re-clamps the position";
    ASSERT_TRUE(drv.DragTrack(h, {20, 500}));
    EXPECT_EQ(drv.Position(h), 192);
    using S = std::vector<std::pair<UINT, int>>;
    EXPECT_EQ(log.Scrolls(), (S{{WM_HSCROLL, TB_THUMBTRACK}, {WM_HSCROLL, TB_THUMBTRACK},
                                {WM_HSCROLL, TB_THUMBPOSITION}, {WM_HSCROLL, TB_ENDTRACK}}));
    EXPECT_EQ(HIWORD(log.all[1].wParam), 192u) << "the thumb position travels in the high word";
    log.Clear();

    SendMessageA(v, TBM_SETPAGESIZE, 0, 5);
    drv.KeyTrack(v, VK_NEXT);
    drv.KeyTrack(v, VK_HOME);
    EXPECT_EQ(log.Scrolls(), (S{{WM_VSCROLL, TB_PAGEDOWN}, {WM_VSCROLL, TB_ENDTRACK},
                                {WM_VSCROLL, TB_TOP}, {WM_VSCROLL, TB_ENDTRACK}}));
    EXPECT_EQ(drv.Position(v), 0);

    // Signed 16-bit range halves.
    SendMessageA(h, TBM_SETRANGE, TRUE, MAKELPARAM(static_cast<unsigned>(-10), 10));
    EXPECT_EQ(SendMessageA(h, TBM_GETRANGEMIN, 0, 0), -10);
    DestroyWindow(d);
}

TEST_F(Controls, ProgressClampsToItsRange) {
    HWND d = Open();
    HWND p = Item(d, 60);
    SendMessageA(p, PBM_SETRANGE, 0, MAKELPARAM(0, 50));
    EXPECT_EQ(SendMessageA(p, PBM_SETPOS, 80, 0), 0);
    EXPECT_EQ(drv.Position(p), 50);
    DestroyWindow(d);
}

}  // namespace

namespace {

using namespace gui;
using sqtest::Ctl;
using sqtest::Dlg;

class FocusLoss : public sqtest::GuiTest {};

// A user action focuses its control first; when the old focus's WM_KILLFOCUS handler closes the
// dialog, the action no longer applies: nothing changes, nobody is told, nothing is touched.
TEST_F(FocusLoss, ActionOnAControlClosedByTheOldFocusDoesNothing) {
    struct Case {
        const char* name;
        int id;
        std::function<bool(gui::testing::Driver&, HWND)> act;
    };
    const Case cases[] = {
        {"click", 1, [](auto& t, HWND c) { return t.Click(c); }},
        {"paste", 2, [](auto& t, HWND c) { return t.SetTextAsUser(c, "x"); }},
        {"type", 2, [](auto& t, HWND c) { return t.TypeKeys(c, "x"); }},
        {"pick a combo entry", 3, [](auto& t, HWND c) { return t.PickCombo(c, 0); }},
        {"type into a combo", 4, [](auto& t, HWND c) { return t.TypeCombo(c, "x"); }},
        {"pick a list entry", 5, [](auto& t, HWND c) { return t.PickList(c, 0); }},
        {"drag a trackbar", 6, [](auto& t, HWND c) { return t.DragTrack(c, {5}); }},
        {"key on a trackbar", 6, [](auto& t, HWND c) { return t.KeyTrack(c, VK_END); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND d = OpenDialog(Dlg(120, WS_POPUP | WS_VISIBLE,
                                {Ctl(1, kButtonClass, BS_AUTOCHECKBOX), Ctl(2, kEditClass), Ctl(3, kComboBoxClass, CBS_DROPDOWNLIST),
                                 Ctl(4, kComboBoxClass, CBS_DROPDOWN), Ctl(5, kListBoxClass, LBS_NOTIFY), Ctl(6, kTrackbarClass)}));
        SendDlgItemMessageA(d, 3, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("a"));
        SendDlgItemMessageA(d, 5, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("a"));
        HWND other = MakeWindow();
        SetFocus(other);
        log.handler = [&](HWND h, UINT msg, WPARAM, LPARAM, bool&) -> INT_PTR {
            if (h == other && msg == WM_KILLFOCUS) DestroyWindow(d);
            return 0;
        };
        log.Clear();
        EXPECT_FALSE(c.act(drv, GetDlgItem(d, c.id)));
        EXPECT_FALSE(IsWindow(d));
        EXPECT_EQ(log.Commands(), Commands{});
        EXPECT_TRUE(log.Scrolls().empty());
        log.handler = nullptr;
        DestroyWindow(other);
    }
}

}  // namespace

namespace {

using namespace gui;

class ControlColours : public sqtest::GuiTest {};

// A parent hears WM_CTLCOLOR* with the control's kind when a control is created visible and each
// time one is shown, so it can colour it.
TEST_F(ControlColours, KindPerClassOnCreateAndShow) {
    HWND main = MakeWindow();
    struct Case {
        const char* cls;
        DWORD style;
        UINT msg;
    } cases[] = {
        {kStaticClass, 0, WM_CTLCOLORSTATIC},
        {kEditClass, 0, WM_CTLCOLOREDIT},
        {kEditClass, ES_READONLY, WM_CTLCOLORSTATIC},
        {kListBoxClass, 0, WM_CTLCOLORLISTBOX},
        {kComboBoxClass, CBS_DROPDOWNLIST, WM_CTLCOLORLISTBOX},
        {kComboBoxClass, CBS_DROPDOWN, WM_CTLCOLOREDIT},
        {kButtonClass, BS_PUSHBUTTON, WM_CTLCOLORBTN},
        {kButtonClass, BS_AUTOCHECKBOX, WM_CTLCOLORSTATIC},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cls) + " " + std::to_string(c.style));
        log.Clear();
        HWND h = CreateWindowExA(0, c.cls, "", WS_CHILD | WS_VISIBLE | c.style, 0, 0, 10, 10, main, nullptr, nullptr, nullptr);
        ShowWindow(h, SW_HIDE);
        ShowWindow(h, SW_SHOW);
        std::vector<UINT> colours;
        for (const auto& r : log.all)
            if (r.hwnd == main && r.msg >= WM_CTLCOLORMSGBOX && r.msg <= WM_CTLCOLORSTATIC && r.lParam == reinterpret_cast<LPARAM>(h))
                colours.push_back(r.msg);
        EXPECT_EQ(colours, (std::vector<UINT>{c.msg, c.msg}));
        DestroyWindow(h);
    }
    DestroyWindow(main);
}

}  // namespace
