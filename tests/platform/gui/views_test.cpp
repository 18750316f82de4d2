// The view controls: list-view states (row -1, state images, LVM_GETNEXTITEM, scrolling), and the
// notifications of list view, tree view and tab (user actions notify once, code stays silent);
// status bar docking and tool tips.
#include <cstring>

#include "gui_fixture.h"

namespace {

using namespace gui;
using sqtest::Ctl;
using sqtest::Dlg;
using Notes = std::vector<std::pair<int, int>>;

int N(UINT code) { return static_cast<int>(code); }

class Views : public sqtest::GuiTest {
protected:
    // A dialog with a report list view (5 rows of "rN", check boxes) 120 x 100 pixels: a header
    // of 20 and 4 rows of 17 are visible.
    HWND Open(DWORD listStyle = LVS_REPORT) {
        auto list = Ctl(7, kListViewClass, listStyle | WS_TABSTOP);
        list.w = 80;    // 120 pixels
        list.h = 62;    // 100 pixels
        d_ = OpenDialog(Dlg(500, WS_POPUP | WS_VISIBLE,
                            {list, Ctl(8, kTabClass), Ctl(9, kTreeViewClass, TVS_INFOTIP), Ctl(IDOK, kButtonClass, BS_DEFPUSHBUTTON)}));
        list_ = GetDlgItem(d_, 7);
        LVCOLUMNA col;
        col.mask = LVCF_TEXT | LVCF_WIDTH;
        col.pszText = const_cast<char*>("Name");
        col.cx = 100;
        SendMessageA(list_, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&col));
        SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                     LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
        for (int i = 0; i < 5; ++i) {
            std::string text = "r" + std::to_string(i);
            LVITEMA item;
            item.mask = LVIF_TEXT | LVIF_PARAM;
            item.iItem = i;
            item.pszText = text.data();
            item.lParam = 100 + i;
            SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        }
        log.Clear();
        return d_;
    }
    void SetState(int row, UINT state, UINT mask) {
        LVITEMA item;
        item.state = state;
        item.stateMask = mask;
        SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }
    std::vector<int> Selected() { return drv.Selection(list_); }
    int Focused() {
        auto rows = drv.Rows(list_);
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].focused) return static_cast<int>(i);
        return -1;
    }
    int Next(int start, UINT flags) {
        return static_cast<int>(SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(start), static_cast<LPARAM>(flags)));
    }
    HWND d_ = nullptr;
    HWND list_ = nullptr;
};

TEST_F(Views, ListViewStatesAndRowMinusOne) {
    Open();
    for (const auto& r : drv.Rows(list_)) EXPECT_FALSE(r.checked) << "new rows show state image 1";
    EXPECT_EQ(SendMessageA(list_, LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK), LPARAM{INDEXTOSTATEIMAGEMASK(1)});

    SetState(-1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(Selected(), (std::vector<int>{0, 1, 2, 3, 4})) << "row -1 is every row";
    SetState(-1, 0, LVIS_SELECTED);
    EXPECT_TRUE(Selected().empty());
    SetState(3, INDEXTOSTATEIMAGEMASK(2), LVIS_STATEIMAGEMASK);
    SetState(2, LVIS_FOCUSED, LVIS_FOCUSED);
    SetState(4, LVIS_FOCUSED, LVIS_FOCUSED);
    EXPECT_EQ(Focused(), 4) << "one focused row at most";
    EXPECT_TRUE(drv.Rows(list_)[3].checked);
    EXPECT_EQ(SendMessageA(list_, LVM_GETITEMSTATE, 3, LVIS_STATEIMAGEMASK | LVIS_SELECTED),
              LPARAM{INDEXTOSTATEIMAGEMASK(2)});

    // Cell texts: sub-items, and reads cut to the caller's buffer.
    LVITEMA item;
    item.iSubItem = 1;
    item.pszText = const_cast<char*>("4.2 MB");
    SendMessageA(list_, LVM_SETITEMTEXTA, 1, reinterpret_cast<LPARAM>(&item));
    char buf[3];
    item.iSubItem = 1;
    item.pszText = buf;
    item.cchTextMax = sizeof buf;
    EXPECT_EQ(SendMessageA(list_, LVM_GETITEMTEXTA, 1, reinterpret_cast<LPARAM>(&item)), 2);
    EXPECT_STREQ(buf, "4.");
    EXPECT_EQ(drv.Rows(list_)[1].cells, (std::vector<std::string>{"r1", "4.2 MB"}));

    // Images and parameters of a row, through the whole-item messages.
    LVITEMA set;
    set.mask = LVIF_IMAGE;
    set.iItem = 2;
    set.iImage = 3;
    ASSERT_TRUE(SendMessageA(list_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&set)));
    LVITEMA get;
    get.mask = LVIF_IMAGE | LVIF_PARAM | LVIF_STATE;
    get.iItem = 2;
    get.stateMask = LVIS_STATEIMAGEMASK;
    ASSERT_TRUE(SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&get)));
    EXPECT_EQ(get.iImage, 3);
    EXPECT_EQ(get.lParam, 102);
    EXPECT_EQ(get.state, INDEXTOSTATEIMAGEMASK(1));
    get.iItem = 5;
    EXPECT_FALSE(SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&get))) << "no row 5";

    // A deleted row takes its state along.
    SendMessageA(list_, LVM_DELETEITEM, 3, 0);
    EXPECT_EQ(drv.Items(list_), (std::vector<std::string>{"r0", "r1", "r2", "r4"}));
    EXPECT_EQ(Focused(), 3);
    EXPECT_TRUE(log.Notifies().empty()) << "changes made by code are silent";
    DestroyWindow(d_);
}

TEST_F(Views, GetNextItemFlags) {
    Open();
    SetState(1, LVIS_SELECTED, LVIS_SELECTED);
    SetState(3, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    struct Case {
        int start;
        UINT flags;
        int expected;
    } cases[] = {
        {-1, LVNI_ALL, 0},           {2, LVNI_ALL, 3},
        {4, LVNI_ALL, -1},           {-1, LVNI_SELECTED, 1},
        {1, LVNI_SELECTED, 3},       {3, LVNI_SELECTED, -1},
        {-1, LVNI_FOCUSED, 3},       {-1, LVNI_SELECTED | LVNI_FOCUSED, 3},
        {4, LVNI_SELECTED | LVNI_ABOVE, 3}, {3, LVNI_SELECTED | LVNI_ABOVE, 1},
        {1, LVNI_ABOVE, 0},          {0, LVNI_ABOVE, -1},
        {0, LVNI_BELOW | LVNI_SELECTED, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(Next(c.start, c.flags), c.expected) << c.start << " " << c.flags;
    // The loop the file list writes: every selected row, once.
    std::vector<int> seen;
    for (int i = Next(-1, LVNI_SELECTED); i >= 0; i = Next(i, LVNI_SELECTED)) seen.push_back(i);
    EXPECT_EQ(seen, (std::vector<int>{1, 3}));
    DestroyWindow(d_);
}

TEST_F(Views, ScrollingClampsToTheRows) {
    Open();
    // 5 rows of 17 = 85 pixels in a view of 100 - 20 = 80: at most 5 pixels to scroll.
    struct Case {
        int dy;
        int expected;
    } cases[] = {{3, 3}, {100, 5}, {-2, 3}, {-50, 0}};
    for (const auto& c : cases) {
        SendMessageA(list_, LVM_SCROLL, 0, c.dy);
        EXPECT_EQ(drv.ScrollY(list_), c.expected) << c.dy;
    }
    EXPECT_EQ(SendMessageA(list_, LVM_GETCOUNTPERPAGE, 0, 0), 4);
    SendMessageA(list_, LVM_ENSUREVISIBLE, 4, FALSE);
    EXPECT_EQ(drv.ScrollY(list_), 5);
    SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
    EXPECT_EQ(drv.ScrollY(list_), 0);
    DestroyWindow(d_);
}

TEST_F(Views, ListViewUserActions) {
    struct Case {
        const char* name;
        std::function<void()> act;
        std::vector<int> selected;
        Notes notes;
    };
    auto click = [this](int row, UINT button = WM_LBUTTONDOWN, unsigned mods = 0) {
        return [=, this] { EXPECT_TRUE(drv.ClickRow(list_, row, button, mods)); };
    };
    const int id = 7;
    const Case cases[] = {
        {"plain click", click(2), {2}, {{id, N(NM_CLICK)}}},
        {"ctrl click adds", [&] { drv.ClickRow(list_, 1); drv.ClickRow(list_, 3, WM_LBUTTONDOWN, gui::testing::kCtrl); },
         {1, 3}, {{id, N(NM_CLICK)}, {id, N(NM_CLICK)}}},
        {"shift click extends", [&] { drv.ClickRow(list_, 1); drv.ClickRow(list_, 3, WM_LBUTTONDOWN, gui::testing::kShift); },
         {1, 2, 3}, {{id, N(NM_CLICK)}, {id, N(NM_CLICK)}}},
        {"click off the rows clears", [&] { drv.ClickRow(list_, 1); drv.ClickRow(list_, -1); },
         {}, {{id, N(NM_CLICK)}, {id, N(NM_CLICK)}}},
        {"right click on a selected row keeps the selection",
         [&] { drv.ClickRow(list_, 1); drv.ClickRow(list_, 2, WM_LBUTTONDOWN, gui::testing::kCtrl); drv.ClickRow(list_, 1, WM_RBUTTONDOWN); },
         {1, 2}, {{id, N(NM_CLICK)}, {id, N(NM_CLICK)}, {id, N(NM_RCLICK)}}},
        {"right click elsewhere selects that row", [&] { drv.ClickRow(list_, 1); drv.ClickRow(list_, 4, WM_RBUTTONDOWN); },
         {4}, {{id, N(NM_CLICK)}, {id, N(NM_RCLICK)}}},
        {"double click activates once", [&] { drv.DoubleClickRow(list_, 2); },
         {2}, {{id, N(NM_CLICK)}, {id, N(NM_DBLCLK)}, {id, N(LVN_ITEMACTIVATE)}}},
        {"check box is silent", [&] { EXPECT_TRUE(drv.ToggleRowCheck(list_, 0)); }, {}, {}},
        {"enter activates the focused row", [&] { drv.ClickRow(list_, 3); drv.Key(VK_RETURN); drv.Pump(); },
         {3}, {{id, N(NM_CLICK)}, {id, N(LVN_KEYDOWN)}, {id, N(LVN_ITEMACTIVATE)}}},
        {"arrow keys move the selection, telling only the key",
         [&] { drv.ClickRow(list_, 3); drv.Key(VK_DOWN); drv.Key(VK_UP, gui::testing::kShift); drv.Pump(); },
         {3, 4}, {{id, N(NM_CLICK)}, {id, N(LVN_KEYDOWN)}, {id, N(LVN_KEYDOWN)}, {id, N(LVN_KEYDOWN)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Open();
        c.act();
        EXPECT_EQ(Selected(), c.selected);
        EXPECT_EQ(log.Notifies(), c.notes);
        DestroyWindow(d_);
    }
    // The row of each record, and the check box's effect.
    Open();
    drv.DoubleClickRow(list_, 2);
    for (const auto& r : log.all) {
        if (r.msg == WM_NOTIFY) {
            EXPECT_EQ(r.item, 2);
        }
    }
    drv.ToggleRowCheck(list_, 0);
    EXPECT_TRUE(drv.Rows(list_)[0].checked);
    drv.ToggleRowCheck(list_, 0);
    EXPECT_FALSE(drv.Rows(list_)[0].checked);
    EnableWindow(list_, FALSE);
    EXPECT_FALSE(drv.ClickRow(list_, 1)) << "a disabled view takes no clicks";
    DestroyWindow(d_);
}

TEST_F(Views, HeaderClicksNameTheirColumnAndLeaveTheRows) {
    struct Case {
        const char* name;
        DWORD style;
        int column;
        bool taken;
    };
    const Case cases[] = {
        {"first column", LVS_REPORT, 0, true},
        {"last column", LVS_REPORT, 2, true},
        {"past the columns", LVS_REPORT, 3, false},
        {"no column", LVS_REPORT, -1, false},
        {"headers that do not sort", LVS_REPORT | LVS_NOSORTHEADER, 1, false},
        {"no headers", LVS_REPORT | LVS_NOCOLUMNHEADER, 1, false},
        {"not a report view", LVS_LIST, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Open(c.style);
        for (const char* title : {"Size", "Type"}) {
            LVCOLUMNA col;
            col.mask = LVCF_TEXT;
            col.pszText = const_cast<char*>(title);
            SendMessageA(list_, LVM_INSERTCOLUMNA, 9, reinterpret_cast<LPARAM>(&col));
        }
        drv.ClickRow(list_, 1);
        log.Clear();
        EXPECT_EQ(drv.ClickColumn(list_, c.column), c.taken);
        const Notes expected = c.taken ? Notes{{7, N(LVN_COLUMNCLICK)}} : Notes{};
        EXPECT_EQ(log.Notifies(), expected);
        for (const auto& r : log.all) {
            if (r.msg == WM_NOTIFY) {
                EXPECT_EQ(r.item, c.column);
            }
        }
        EXPECT_EQ(Selected(), std::vector<int>{1}) << "a header click selects nothing";
        DestroyWindow(d_);
    }
    Open();
    EnableWindow(list_, FALSE);
    EXPECT_FALSE(drv.ClickColumn(list_, 0)) << "a disabled view takes no clicks";
    DestroyWindow(d_);
}

TEST_F(Views, TabPicksCanBeVetoed) {
    HWND d = Open();
    HWND tab = GetDlgItem(d, 8);
    for (const char* text : {"General", "Output", "Tags"}) {
        TCITEMA item;
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(text);
        SendMessageA(tab, TCM_INSERTITEMA, 99, reinterpret_cast<LPARAM>(&item));
    }
    EXPECT_EQ(drv.Items(tab), (std::vector<std::string>{"General", "Output", "Tags"}));
    EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), 0);
    SendMessageA(tab, TCM_SETCURSEL, 2, 0);
    EXPECT_TRUE(log.Notifies().empty()) << "TCM_SETCURSEL is silent";

    bool veto = true;
    log.handler = [&](HWND h, UINT msg, WPARAM, LPARAM lp, bool& handled) -> INT_PTR {
        if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lp)->code == TCN_SELCHANGING && veto) {
            SetWindowLongPtrA(h, DWLP_MSGRESULT, TRUE);
            handled = true;
            return TRUE;
        }
        return 0;
    };
    EXPECT_TRUE(drv.PickTab(tab, 1));
    EXPECT_EQ(drv.Selection(tab), std::vector<int>{2}) << "vetoed";
    veto = false;
    EXPECT_TRUE(drv.PickTab(tab, 1));
    EXPECT_EQ(drv.Selection(tab), std::vector<int>{1});
    EXPECT_EQ(log.Notifies(), (Notes{{8, N(TCN_SELCHANGING)}, {8, N(TCN_SELCHANGING)}, {8, N(TCN_SELCHANGE)}}));

    RECT r{0, 0, 200, 100};
    SendMessageA(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
    EXPECT_LT(r.right - r.left, 200);
    SendMessageA(tab, TCM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&r));
    EXPECT_EQ(r.right, 200);
    EXPECT_EQ(r.bottom, 100);
    DestroyWindow(d);
}

TEST_F(Views, TreeViewSelectionTipsAndSilentDeletion) {
    HWND d = Open();
    HWND tree = GetDlgItem(d, 9);
    auto insert = [&](HTREEITEM parent, const char* text, LPARAM param) {
        TVINSERTSTRUCTA ins;
        ins.hParent = parent;
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM;
        ins.item.pszText = const_cast<char*>(text);
        ins.item.lParam = param;
        return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
    };
    HTREEITEM audio = insert(TVI_ROOT, "Audio", 1);
    HTREEITEM mp3 = insert(audio, "MP3", 2);
    HTREEITEM video = insert(TVI_ROOT, "Video", 3);
    EXPECT_EQ(reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(audio))), mp3);
    EXPECT_EQ(reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(audio))), video);

    HTREEITEM changedTo = nullptr;
    UINT action = 99;
    log.handler = [&](HWND, UINT msg, WPARAM, LPARAM lp, bool& handled) -> INT_PTR {
        if (msg != WM_NOTIFY) return 0;
        auto* hdr = reinterpret_cast<NMHDR*>(lp);
        if (hdr->code == TVN_SELCHANGEDA) {
            auto* nm = reinterpret_cast<NMTREEVIEWA*>(lp);
            changedTo = nm->itemNew.hItem;
            action = nm->action;
        }
        if (hdr->code == TVN_GETINFOTIPA) {
            auto* tip = reinterpret_cast<NMTVGETINFOTIPA*>(lp);
            std::snprintf(tip->pszText, static_cast<size_t>(tip->cchTextMax), "tip %ld", static_cast<long>(tip->lParam));
            handled = true;
        }
        return 0;
    };
    EXPECT_TRUE(drv.SelectTreeItem(tree, mp3, false));
    EXPECT_EQ(changedTo, mp3);
    EXPECT_EQ(action, TVC_BYKEYBOARD);
    EXPECT_EQ(drv.TreeViewDump(tree), "Audio +\n  MP3 *\nVideo\n") << "a selection is shown";
    EXPECT_EQ(drv.HoverTreeItem(tree, video), "tip 3");
    log.Clear();
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(audio));
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(video));
    EXPECT_TRUE(log.Notifies().empty()) << "deletion and TVM_SELECTITEM are silent";
    EXPECT_EQ(SendMessageA(tree, TVM_GETCOUNT, 0, 0), 1);
    HTREEITEM again = insert(TVI_ROOT, "Audio", 1);
    EXPECT_NE(again, audio) << "node handles are never reused";
    EXPECT_NE(again, mp3);
    DestroyWindow(d);
}

TEST_F(Views, StatusBarDocksAndToolTipsReplace) {
    HWND main = MakeWindow();
    HWND bar = CreateWindowExA(0, kStatusBarClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, main,
                               reinterpret_cast<HMENU>(5), nullptr, nullptr);
    RECT client, r;
    GetClientRect(main, &client);
    auto barRect = [&] {
        GetWindowRect(bar, &r);
        RECT m;
        GetWindowRect(main, &m);
        return RECT{r.left - m.left - 4, r.top - m.top - 4 - 23, r.right - m.left - 4, r.bottom - m.top - 4 - 23};
    };
    RECT b = barRect();
    EXPECT_EQ(b.bottom, client.bottom);
    EXPECT_EQ(b.right, client.right);
    MoveWindow(main, 0, 0, 500, 400, TRUE);
    SendMessageA(bar, WM_SIZE, 0, 0);  // the owner forwards its WM_SIZE
    GetClientRect(main, &client);
    b = barRect();
    EXPECT_EQ(b.bottom, client.bottom);
    EXPECT_EQ(b.top, client.bottom - kStatusBarHeight);
    int edges[] = {100, 200, -1};
    SendMessageA(bar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
    SendMessageA(bar, SB_SETTEXTA, 2, reinterpret_cast<LPARAM>("3 files"));
    EXPECT_FALSE(SendMessageA(bar, SB_SETTEXTA, 3, reinterpret_cast<LPARAM>("none")));
    EXPECT_EQ(drv.StatusTexts(bar), (std::vector<std::string>{"", "", "3 files"}));

    HWND tips = CreateWindowExA(0, kTooltipsClass, "", WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, main, nullptr, nullptr, nullptr);
    TOOLINFOA ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = main;
    ti.uId = reinterpret_cast<UINT_PTR>(bar);
    ti.lpszText = const_cast<char*>("first");
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    ti.lpszText = const_cast<char*>("second");
    SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    ASSERT_EQ(drv.Tools(tips).size(), 1u) << "the same (window, id) replaces";
    EXPECT_EQ(drv.Tools(tips)[0].text, "second");
    SendMessageA(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    EXPECT_EQ(SendMessageA(tips, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0), 30000);
    DestroyWindow(main);
}

}  // namespace
