// Menus and accelerators: addressing by command and by position, check and grey states, menu
// bars and popups chosen as a user would, accelerators that match only their exact modifiers,
// and the XML forms of both.
#include "gui_fixture.h"

namespace {

using namespace gui;
using sqtest::Dlg;

MenuItemTemplate Item(int id, const char* text, bool checked = false, bool grayed = false) {
    MenuItemTemplate t;
    t.id = id;
    t.text = text;
    t.checked = checked;
    t.grayed = grayed;
    return t;
}

MenuItemTemplate Popup(const char* text, std::vector<MenuItemTemplate> items) {
    MenuItemTemplate t;
    t.popup = true;
    t.text = text;
    t.items = std::move(items);
    return t;
}

MenuItemTemplate Separator() {
    MenuItemTemplate t;
    t.separator = true;
    return t;
}

class Menus : public sqtest::GuiTest {
protected:
    Menus() {
        MenuTemplate bar;
        bar.id = 110;
        bar.items = {Popup("&File", {Item(40001, "&Open\tCtrl+O"), Separator(), Item(40005, "E&xit")}),
                     Popup("&View", {Item(40010, "Status bar", true), Item(40011, "Log", false, true),
                                     Popup("Sort", {Item(40020, "By name")})})};
        resources->Add(bar);
    }
    std::vector<std::pair<int, int>> Commands() const { return log.Commands(); }
};

TEST_F(Menus, AddressingByCommandAndByPosition) {
    HMENU bar = LoadMenuA(nullptr, MAKEINTRESOURCEA(110));
    ASSERT_NE(bar, nullptr);
    HMENU file = GetSubMenu(bar, 0), view = GetSubMenu(bar, 1);
    EXPECT_EQ(GetMenuItemCount(bar), 2);
    EXPECT_EQ(GetMenuItemCount(file), 3);
    EXPECT_EQ(GetMenuItemID(file, 2), 40005u);
    EXPECT_EQ(GetMenuItemID(view, 2), static_cast<UINT>(-1)) << "a submenu has no id";

    char text[64];
    EXPECT_EQ(GetMenuStringA(bar, 40001, text, sizeof text, MF_BYCOMMAND), 12) << "found in a submenu";
    EXPECT_STREQ(text, "&Open\tCtrl+O");
    GetMenuStringA(bar, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&View");
    EXPECT_EQ(GetMenuStringA(bar, 40020, text, sizeof text, MF_BYCOMMAND), 7) << "two levels down";

    struct Case {
        const char* name;
        UINT item;
        UINT flags;
        UINT expected;
    } states[] = {
        {"checked, by command", 40010, MF_BYCOMMAND, MF_CHECKED},
        {"grayed, by command", 40011, MF_BYCOMMAND, MF_GRAYED},
        {"separator, by position", 1, MF_BYPOSITION, MF_SEPARATOR},
        {"popup: its item count", 2, MF_BYPOSITION, MF_POPUP | (1u << 8)},
        {"missing command", 49999, MF_BYCOMMAND, static_cast<UINT>(-1)},
        {"position off the end", 9, MF_BYPOSITION, static_cast<UINT>(-1)},
    };
    HMENU menus[] = {bar, bar, file, view, bar, view};
    for (size_t i = 0; i < std::size(states); ++i)
        EXPECT_EQ(GetMenuState(menus[i], states[i].item, states[i].flags), states[i].expected) << states[i].name;

    EXPECT_EQ(CheckMenuItem(bar, 40010, MF_BYCOMMAND | MF_UNCHECKED), static_cast<DWORD>(MF_CHECKED));
    EXPECT_EQ(CheckMenuItem(view, 0, MF_BYPOSITION | MF_CHECKED), static_cast<DWORD>(MF_UNCHECKED));
    EXPECT_EQ(GetMenuState(bar, 40010, MF_BYCOMMAND), MF_CHECKED);
    EXPECT_EQ(EnableMenuItem(bar, 40011, MF_BYCOMMAND | MF_ENABLED), static_cast<BOOL>(MF_GRAYED));
    EXPECT_EQ(EnableMenuItem(file, 0, MF_BYPOSITION | MF_GRAYED), 0);
    EXPECT_EQ(CheckMenuItem(bar, 49999, MF_CHECKED), static_cast<DWORD>(-1));

    // Text by position (the translation of captions does this), then the whole tree.
    MENUITEMINFOA info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<char*>("&Datei");
    ASSERT_TRUE(SetMenuItemInfoA(bar, 0, TRUE, &info));
    EXPECT_EQ(drv.MenuDump(bar),
              "&Datei\n  &Open\tCtrl+O [40001] grayed\n  -\n  E&xit [40005]\n"
              "&View\n  Status bar [40010] checked\n  Log [40011]\n  Sort\n    By name [40020]\n");

    // Deleting a popup item destroys the submenu; removing keeps it.
    HMENU sort = GetSubMenu(view, 2);
    ASSERT_TRUE(RemoveMenu(view, 2, MF_BYPOSITION));
    EXPECT_TRUE(IsMenu(sort));
    ASSERT_TRUE(AppendMenuA(view, MF_POPUP, reinterpret_cast<UINT_PTR>(sort), "Sort"));
    ASSERT_TRUE(DeleteMenu(view, 2, MF_BYPOSITION));
    EXPECT_FALSE(IsMenu(sort));
    ASSERT_TRUE(DestroyMenu(bar));
    EXPECT_FALSE(IsMenu(file)) << "destroying a menu takes its submenus";
}

TEST_F(Menus, MenuBarChoicesAndPopups) {
    HWND main = MakeWindow();
    RECT before;
    GetClientRect(main, &before);
    ASSERT_TRUE(SetMenu(main, LoadMenuA(nullptr, MAKEINTRESOURCEA(110))));
    RECT after;
    GetClientRect(main, &after);
    EXPECT_EQ(before.bottom - after.bottom, 20) << "the bar takes 20 pixels of the client area";

    log.Clear();
    EXPECT_TRUE(drv.ChooseMenu(main, 40005));
    EXPECT_FALSE(drv.ChooseMenu(main, 40011)) << "a grayed item cannot be chosen";
    EXPECT_EQ(log.Messages(main), (std::vector<UINT>{WM_ENTERMENULOOP, WM_EXITMENULOOP}));
    drv.Pump();
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{40005, 0}})) << "posted after the loop ends";

    HMENU popup = CreatePopupMenu();
    AppendMenuA(popup, MF_STRING, 40308, "menu_show_ui");
    AppendMenuA(popup, MF_STRING | MF_GRAYED, 40006, "menu_start\tF5");
    POINT seenAt;
    std::string seenDump;
    UINT pick = 40308;
    drv.OnPopupMenu([&](const std::string& dump, POINT pt) {
        seenDump = dump;
        seenAt = pt;
        return pick;
    });
    log.Clear();
    EXPECT_TRUE(TrackPopupMenu(popup, TPM_RIGHTBUTTON, 30, 40, 0, main, nullptr));
    EXPECT_EQ(seenDump, "menu_show_ui [40308]\nmenu_start\tF5 [40006] grayed\n");
    EXPECT_EQ(seenAt.x, 30);
    EXPECT_EQ(seenAt.y, 40);
    EXPECT_TRUE(Commands().empty()) << "not before the loop";
    drv.Pump();
    EXPECT_EQ(Commands(), (std::vector<std::pair<int, int>>{{40308, 0}}));

    EXPECT_EQ(TrackPopupMenu(popup, TPM_RETURNCMD, 0, 0, 0, main, nullptr), 40308);
    pick = 40006;
    EXPECT_EQ(TrackPopupMenu(popup, TPM_RETURNCMD, 0, 0, 0, main, nullptr), 0) << "grayed: no pick";
    log.Clear();
    drv.Pump();
    EXPECT_TRUE(Commands().empty()) << "TPM_RETURNCMD posts nothing";
    DestroyMenu(popup);
    DestroyWindow(main);  // takes its menu bar along (the driver checks that no menu is left)
}

TEST_F(Menus, UnscriptedPopupFailsAndPicksNothing) {
    collectFailures = true;
    HWND main = MakeWindow();
    HMENU popup = CreatePopupMenu();
    AppendMenuA(popup, MF_STRING, 1, "one");
    EXPECT_FALSE(TrackPopupMenu(popup, 0, 0, 0, 0, main, nullptr));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("unscripted popup menu"), std::string::npos);
    DestroyMenu(popup);
    DestroyWindow(main);
}

TEST_F(Menus, AcceleratorsMatchExactlyTheirModifiers) {
    AcceleratorTable table;
    table.id = 112;
    table.entries = {{FVIRTKEY, VK_INSERT, 40030},
                     {FVIRTKEY | FCONTROL, 'R', 40050},
                     {FVIRTKEY | FCONTROL | FALT, 'R', 40082},
                     {FVIRTKEY, VK_F1 + 4, 40006}};
    resources->Add(table);
    HWND main = MakeWindow();
    SetMenu(main, LoadMenuA(nullptr, MAKEINTRESOURCEA(110)));
    HACCEL accel = LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(112));
    ASSERT_NE(accel, nullptr);
    auto translate = [&](MSG& m) { return TranslateAcceleratorA(main, accel, &m) != 0; };
    using gui::testing::kAlt;
    using gui::testing::kCtrl;
    using gui::testing::kShift;
    struct Case {
        const char* name;
        UINT vk;
        unsigned mods;
        std::vector<std::pair<int, int>> commands;
    } cases[] = {
        {"Ctrl+R", 'R', kCtrl, {{40050, 1}}},
        {"Ctrl+Alt+R is not Ctrl+R", 'R', kCtrl | kAlt, {{40082, 1}}},
        {"R alone", 'R', 0, {}},
        {"Ctrl+Shift+R", 'R', kCtrl | kShift, {}},
        {"Insert", VK_INSERT, 0, {{40030, 1}}},
        {"Shift+Insert", VK_INSERT, kShift, {}},
        {"F5 on a grayed item is swallowed", VK_F1 + 4, 0, {}},
    };
    AppendMenuA(GetSubMenu(GetMenu(main), 0), MF_STRING | MF_GRAYED, 40006, "Start");
    SetFocus(main);
    for (const auto& c : cases) {
        log.Clear();
        drv.Key(c.vk, c.mods);
        drv.Pump(translate);
        EXPECT_EQ(Commands(), c.commands) << c.name;
        EXPECT_EQ(GetKeyState(VK_CONTROL), 0) << c.name << ": the modifiers are released again";
    }
    DestroyAcceleratorTable(accel);
    DestroyWindow(main);
}

TEST_F(Menus, XmlForms) {
    MenuTemplate menu;
    std::string error;
    ASSERT_TRUE(ParseMenuXml(R"(<menu id="295"><popup text="tray"><item id="40308" text="menu_show_ui" checked="1"/>
        <item id="40006" text="menu_start" shortcut="F5" grayed="1"/><separator/><item id="40005" text="menu_exit"/>
        </popup></menu>)",
                             menu, error))
        << error;
    ASSERT_EQ(menu.items.size(), 1u);
    const auto& tray = menu.items[0];
    ASSERT_EQ(tray.items.size(), 4u);
    EXPECT_EQ(tray.items[1].text, "menu_start\tF5");
    EXPECT_TRUE(tray.items[0].checked);
    EXPECT_TRUE(tray.items[1].grayed);
    EXPECT_TRUE(tray.items[2].separator);

    AcceleratorTable accel;
    ASSERT_TRUE(ParseAcceleratorsXml(R"(<accelerators id="112"><accel key="VK_INSERT" cmd="40011"/>
        <accel key="r" mods="ctrl alt" cmd="40082"/><accel key="VK_F5" cmd="40006"/></accelerators>)",
                                     accel, error))
        << error;
    ASSERT_EQ(accel.entries.size(), 3u);
    EXPECT_EQ(accel.entries[1].key, 'R');
    EXPECT_EQ(accel.entries[1].fVirt, FVIRTKEY | FCONTROL | FALT);
    EXPECT_EQ(accel.entries[2].key, VK_F1 + 4);

    struct Case {
        const char* name;
        bool menu;
        const char* xml;
        const char* error;
    } bad[] = {
        {"item without id", true, R"(<menu id="1"><item text="x"/></menu>)", "\"id\" is missing"},
        {"unknown element", true, R"(<menu id="1"><button id="2"/></menu>)", "unknown element <button>"},
        {"cut menu", true, R"(<menu id="1"><item id="2" text="x"/>)", "not well-formed XML"},
        {"unknown key", false, R"(<accelerators id="1"><accel key="VK_WHATEVER" cmd="3"/></accelerators>)", "unknown key"},
        {"unknown modifier", false, R"(<accelerators id="1"><accel key="A" mods="hyper" cmd="3"/></accelerators>)",
         "unknown modifier"},
        {"command out of range", false, R"(<accelerators id="1"><accel key="A" cmd="70000"/></accelerators>)",
         "out of range"},
    };
    for (const auto& c : bad) {
        std::string e;
        MenuTemplate m;
        AcceleratorTable a;
        EXPECT_FALSE(c.menu ? ParseMenuXml(c.xml, m, e) : ParseAcceleratorsXml(c.xml, a, e)) << c.name;
        EXPECT_NE(e.find(c.error), std::string::npos) << c.name << ": " << e;
    }
}

TEST_F(Menus, DialogTemplateAttachesItsMenuBar) {
    auto t = Dlg(101, WS_POPUP | WS_CAPTION, {});
    t.menuId = 110;
    HWND d = OpenDialog(t);
    ASSERT_NE(d, nullptr) << LastTemplateError();
    ASSERT_NE(GetMenu(d), nullptr);
    RECT client;
    GetClientRect(d, &client);
    EXPECT_EQ(client.bottom, 100 * 13 / 8) << "the client area keeps the template's size";
    auto missing = Dlg(102, WS_POPUP | WS_CAPTION, {});
    missing.menuId = 999;
    EXPECT_EQ(OpenDialog(missing), nullptr);
    EXPECT_EQ(LastTemplateError(), "dialog 102: no menu 999");
    DestroyWindow(d);
}

}  // namespace
