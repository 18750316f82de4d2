// Menus on real GTK windows on a private X server, acted on through the X server as a user does:
// the main window's template gets its menu bar (the menu is given after the window is made), F10
// and Alt with a letter open it, the marks the window sets as a menu opens show in the open menu,
// a chosen entry reaches the window as its command; a right click on a list row leaves the cursor
// where a row menu then opens. The same template's progress bars are drawn as bars.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/gui/gtk/gtk_backend.h"
#include "platform/gui/resources.h"
#include "support/shipped_data.h"
#include "support/gtk_settle.h"
#include "support/x11_display.h"
#include "ui/framework/dialog.h"

// After the layer's names: X11 defines some of them as macros.
#include <gdk/gdkx.h>

namespace {

using namespace std::chrono_literals;

sqtest::XvfbDisplay& Display() {
    static sqtest::XvfbDisplay display("1280x1024x24");
    return display;
}

using sqtest::SettleUntil;

// The menu shown in a popup window now (a drop-down of the bar or a popup menu), or null.
GtkMenuShell* OpenMenu() {
    GtkMenuShell* open = nullptr;
    GList* tops = gtk_window_list_toplevels();
    for (GList* l = tops; l; l = l->next) {
        GtkWidget* top = GTK_WIDGET(l->data);
        if (!GTK_IS_WINDOW(top) || gtk_window_get_window_type(GTK_WINDOW(top)) != GTK_WINDOW_POPUP) continue;
        GtkWidget* child = gtk_bin_get_child(GTK_BIN(top));
        if (child && GTK_IS_MENU(child) && gtk_widget_get_mapped(child)) open = GTK_MENU_SHELL(child);
    }
    g_list_free(tops);
    return open;
}

// An entry's label as written (with its mnemonic mark); an entry with a shortcut holds its label
// in a box beside the shortcut's.
std::string LabelOf(GtkWidget* item) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(item));
    if (child && GTK_IS_BOX(child)) {
        GList* parts = gtk_container_get_children(GTK_CONTAINER(child));
        child = parts ? GTK_WIDGET(parts->data) : nullptr;
        g_list_free(parts);
    }
    return child && GTK_IS_LABEL(child) ? gtk_label_get_label(GTK_LABEL(child)) : "";
}

// The entry of a shown menu whose label (mnemonic mark removed) begins with the text.
GtkWidget* EntryOf(GtkMenuShell* menu, const std::string& text) {
    GtkWidget* found = nullptr;
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* l = items; l && !found; l = l->next) {
        if (!GTK_IS_MENU_ITEM(l->data) || GTK_IS_SEPARATOR_MENU_ITEM(l->data)) continue;
        std::string label = LabelOf(GTK_WIDGET(l->data));
        std::erase(label, '_');
        if (label.rfind(text, 0) == 0) found = GTK_WIDGET(l->data);
    }
    g_list_free(items);
    return found;
}

// The main window's template with its menu, translated as the program does, recording what the
// menus tell it.
class MenuWindow : public ui::CDialogWindow {
public:
    bool OnEnterMenuLoop() override {
        ++entered;
        // As the main window does: marks set while the menu opens.
        gui::CheckMenuItem(gui::GetMenu(hwnd_), 40012, gui::MF_BYCOMMAND | gui::MF_CHECKED);
        return true;
    }
    bool OnExitMenuLoop() override {
        ++exited;
        return true;
    }
    bool OnMenuCommand(int id) override {
        commands.push_back(id);
        return true;
    }
    int entered = 0, exited = 0;
    std::vector<int> commands;
};

class MenusOnDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Display().ok()) GTEST_SKIP() << "Xvfb is not available";
        setenv("DISPLAY", Display().name().c_str(), 1);
        ASSERT_TRUE(gui::Init() && gui::gtk::Active());
        auto folder = std::make_shared<gui::XmlResourceFolder>();
        std::string error;
        ASSERT_TRUE(folder->Load(sqtest::DataFile("ui"), error)) << error;
        gui::SetResourceProvider(folder);
        const auto cwd = std::filesystem::current_path();
        std::filesystem::current_path(std::filesystem::path(sqtest::DataFile("lang.xml")).parent_path());
        const int loaded = ui::UiStrings().Load("lang.xml", "qxgui", 1, nullptr, 0);
        std::filesystem::current_path(cwd);
        ASSERT_EQ(loaded, 0);
    }
    void TearDown() override {
        ui::UiStrings().Destroy();
        if (gui::IsRunning()) gui::Shutdown();
    }

    static uint64_t Xid(gui::HWND hwnd) {
        GtkWidget* widget = gui::gtk::WidgetOf(hwnd);
        GdkWindow* window = widget ? gtk_widget_get_window(widget) : nullptr;
        return window ? GDK_WINDOW_XID(window) : 0;
    }
    // The bar of a window's GTK window (its box holds the bar and the client area).
    static GtkMenuShell* BarOf(gui::HWND hwnd) {
        GtkMenuShell* bar = nullptr;
        GtkWidget* box = gtk_bin_get_child(GTK_BIN(gui::gtk::WidgetOf(hwnd)));
        GList* children = gtk_container_get_children(GTK_CONTAINER(box));
        for (GList* l = children; l; l = l->next)
            if (GTK_IS_MENU_BAR(l->data)) bar = GTK_MENU_SHELL(l->data);
        g_list_free(children);
        return bar;
    }
};

TEST_F(MenusOnDisplay, TheMainMenuBarOpensWithF10AndAltLetterAndSendsTheChosenCommand) {
    MenuWindow window;
    const gui::HWND hwnd = window.CreateModeless(nullptr, 101, static_cast<gui::HWND>(nullptr));
    ASSERT_NE(hwnd, nullptr) << gui::LastTemplateError();
    window.Show();
    gtk_window_present(GTK_WINDOW(gui::gtk::WidgetOf(hwnd)));
    ASSERT_TRUE(SettleUntil([&] { return Xid(hwnd) != 0 && gtk_widget_get_mapped(gui::gtk::WidgetOf(hwnd)); }));

    // The bar shows the translated titles, each with its mnemonic.
    GtkMenuShell* bar = BarOf(hwnd);
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(bar)));
    std::vector<std::string> titles;
    GList* tops = gtk_container_get_children(GTK_CONTAINER(bar));
    for (GList* l = tops; l; l = l->next) titles.push_back(LabelOf(GTK_WIDGET(l->data)));
    g_list_free(tops);
    EXPECT_EQ(titles, (std::vector<std::string>{"_File", "_Item", "_Job", "_Options", "_Support"}));
    // The client area lies below the bar, with the size the window was made with.
    gui::RECT client{};
    gui::GetClientRect(hwnd, &client);
    EXPECT_TRUE(SettleUntil([&] {
        return gtk_widget_get_allocated_height(gui::gtk::ContainerOf(hwnd)) == client.bottom &&
               gtk_widget_get_allocated_width(gui::gtk::ContainerOf(hwnd)) == client.right;
    })) << gtk_widget_get_allocated_height(gui::gtk::ContainerOf(hwnd)) << " for " << client.bottom;

    struct Case {
        const char* key;
        const char* modifier;
        const char* opens;
    } cases[] = {{"F10", "", "_File"}, {"j", "Alt_L", "_Job"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.modifier) + " " + c.key);
        const int enteredBefore = window.entered;
        ASSERT_TRUE(sqtest::PressKey(Display().name(), Xid(hwnd), c.key, c.modifier));
        ASSERT_TRUE(SettleUntil([] { return OpenMenu() != nullptr; })) << "no menu opened";
        GtkMenuShell* menu = OpenMenu();
        EXPECT_EQ(LabelOf(gtk_menu_get_attach_widget(GTK_MENU(menu))), c.opens);
        EXPECT_EQ(window.entered, enteredBefore + 1);
        ASSERT_TRUE(sqtest::PressKey(Display().name(), Xid(hwnd), "Escape"));
        ASSERT_TRUE(SettleUntil([] { return OpenMenu() == nullptr; })) << "Escape left the menu open";
        EXPECT_EQ(window.exited, window.entered);
    }

    // The File menu again: the mark set as it opened shows; choosing an entry sends its command.
    ASSERT_TRUE(sqtest::PressKey(Display().name(), Xid(hwnd), "F10"));
    ASSERT_TRUE(SettleUntil([] { return OpenMenu() != nullptr; }));
    GtkMenuShell* file = OpenMenu();
    GtkWidget* addFolder = EntryOf(file, "Add folder");
    ASSERT_NE(addFolder, nullptr);
    ASSERT_TRUE(GTK_IS_CHECK_MENU_ITEM(addFolder));
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(addFolder)));
    GtkWidget* exit = EntryOf(file, "Exit");
    ASSERT_NE(exit, nullptr);
    EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(exit)));
    gtk_menu_shell_select_item(file, exit);
    ASSERT_TRUE(sqtest::PressKey(Display().name(), Xid(hwnd), "Return"));
    ASSERT_TRUE(SettleUntil([&] { return !window.commands.empty(); })) << "no command arrived";
    EXPECT_EQ(window.commands, std::vector<int>{40005});
    EXPECT_EQ(OpenMenu(), nullptr);

    // A menu changed while the window shows is shown changed.
    gui::HMENU menu = gui::GetMenu(hwnd);
    gui::HMENU options = gui::GetSubMenu(menu, 3);
    ASSERT_NE(options, nullptr);
    gui::AppendMenuA(options, gui::MF_STRING, 40599, "Added later");
    ASSERT_TRUE(sqtest::PressKey(Display().name(), Xid(hwnd), "o", "Alt_L"));
    ASSERT_TRUE(SettleUntil([] { return OpenMenu() != nullptr; }));
    EXPECT_NE(EntryOf(OpenMenu(), "Added later"), nullptr);
    ASSERT_TRUE(sqtest::PressKey(Display().name(), Xid(hwnd), "Escape"));
    ASSERT_TRUE(SettleUntil([] { return OpenMenu() == nullptr; }));
    window.Close();
    SettleUntil([] { return false; }, 100ms);
}

TEST_F(MenusOnDisplay, ARightClickOnARowLeavesTheCursorWhereTheRowMenuOpens) {
    // A list view with three rows in a plain window; its owner opens the row menu at the cursor.
    static gui::POINT cursorAtClick{-1, -1};
    cursorAtClick = {-1, -1};
    gui::WNDCLASSA wc{};
    wc.lpszClassName = "RowMenuOwner";
    wc.lpfnWndProc = [](gui::HWND h, gui::UINT msg, gui::WPARAM wp, gui::LPARAM lp) -> gui::LRESULT {
        if (msg == gui::WM_NOTIFY && reinterpret_cast<gui::NMHDR*>(lp)->code == static_cast<gui::UINT>(gui::NM_RCLICK)) {
            gui::GetCursorPos(&cursorAtClick);
            return 0;
        }
        return gui::DefWindowProcA(h, msg, wp, lp);
    };
    gui::RegisterClassA(&wc);
    gui::HWND top = gui::CreateWindowExA(0, "RowMenuOwner", "rows", gui::WS_OVERLAPPEDWINDOW | gui::WS_VISIBLE, 40, 40,
                                         400, 300, nullptr, nullptr, nullptr, nullptr);
    gui::HWND list = gui::CreateWindowExA(0, gui::kListViewClass, "", gui::WS_CHILD | gui::WS_VISIBLE | gui::LVS_REPORT,
                                          0, 0, 380, 260, top, reinterpret_cast<gui::HMENU>(7), nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    gui::LVCOLUMNA column{};
    column.mask = gui::LVCF_TEXT | gui::LVCF_WIDTH;
    column.cx = 300;
    column.pszText = const_cast<char*>("File");
    gui::SendMessageA(list, gui::LVM_INSERTCOLUMNA, 0, reinterpret_cast<gui::LPARAM>(&column));
    for (int i = 0; i < 3; ++i) {
        gui::LVITEMA row{};
        row.mask = gui::LVIF_TEXT;
        row.iItem = i;
        std::string text = "row " + std::to_string(i);
        row.pszText = text.data();
        gui::SendMessageA(list, gui::LVM_INSERTITEMA, 0, reinterpret_cast<gui::LPARAM>(&row));
    }
    ASSERT_TRUE(SettleUntil([&] { return Xid(top) != 0 && gtk_widget_get_mapped(gui::gtk::ControlOf(list)); }));
    // The middle of row 1 on the screen.
    GtkTreeView* view = GTK_TREE_VIEW(gui::gtk::ControlOf(list));
    GtkTreePath* path = gtk_tree_path_new_from_indices(1, -1);
    GdkRectangle cell{};
    gtk_tree_view_get_cell_area(view, path, nullptr, &cell);
    gtk_tree_path_free(path);
    int bx = 0, by = 0;
    gtk_tree_view_convert_bin_window_to_widget_coords(view, cell.x, cell.y, &bx, &by);
    int ox = 0, oy = 0;
    gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(view)), &ox, &oy);
    GtkAllocation a{};
    gtk_widget_get_allocation(GTK_WIDGET(view), &a);
    if (!gtk_widget_get_has_window(GTK_WIDGET(view))) {
        ox += a.x;
        oy += a.y;
    }
    const int x = ox + bx + 40, y = oy + by + cell.height / 2;
    ASSERT_TRUE(sqtest::ClickAt(Display().name(), x, y, 3));
    ASSERT_TRUE(SettleUntil([] { return cursorAtClick.x != -1; })) << "no right click reached the owner";
    EXPECT_EQ(cursorAtClick.x, x);
    EXPECT_EQ(cursorAtClick.y, y);
    EXPECT_EQ(gui::SendMessageA(list, gui::LVM_GETNEXTITEM, static_cast<gui::WPARAM>(-1), gui::LVNI_SELECTED), 1);
    gui::DestroyWindow(top);
    SettleUntil([] { return false; }, 100ms);
}

// The main window's two progress bars are bars, not thin lines: half filled, the filled part
// covers (nearly) the whole height of the bar's rectangle on the screen.
TEST_F(MenusOnDisplay, ProgressBarsFillTheHeightTheyAreGiven) {
    MenuWindow window;
    const gui::HWND hwnd = window.CreateModeless(nullptr, 101, static_cast<gui::HWND>(nullptr));
    ASSERT_NE(hwnd, nullptr) << gui::LastTemplateError();
    window.Show();
    for (int id : {1015, 1025}) gui::SendDlgItemMessageA(hwnd, id, gui::PBM_SETPOS, 50, 0);
    GtkWidget* summary = gui::gtk::ControlOf(gui::GetDlgItem(hwnd, 1025));
    ASSERT_TRUE(SettleUntil([&] { return Xid(hwnd) != 0 && gtk_widget_get_mapped(summary); }));
    SettleUntil([] { return false; }, 300ms);  // drawn
    GdkWindow* root = gdk_get_default_root_window();
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
    ASSERT_NE(shot, nullptr);
    const int n = gdk_pixbuf_get_n_channels(shot), stride = gdk_pixbuf_get_rowstride(shot);
    const guchar* px = gdk_pixbuf_get_pixels(shot);
    auto colour = [&](int x, int y) {
        const guchar* p = px + y * stride + x * n;
        return static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
    };
    for (int id : {1015, 1025}) {
        SCOPED_TRACE(id);
        GtkWidget* bar = gui::gtk::ControlOf(gui::GetDlgItem(hwnd, id));
        int x = 0, y = 0;
        gdk_window_get_origin(gtk_widget_get_window(bar), &x, &y);
        GtkAllocation a{};
        gtk_widget_get_allocation(bar, &a);
        x += a.x;
        y += a.y;
        // A quarter of the way along: in the filled half. Rows there unlike the window's background
        // beside the bar belong to the bar.
        const uint32_t background = colour(x - 3, y + a.height / 2);
        int rows = 0;
        for (int r = 0; r < a.height; ++r) rows += colour(x + a.width / 4, y + r) != background;
        EXPECT_GE(rows, a.height - 6) << "a bar " << a.height << " pixels high draws " << rows << " rows";
        EXPECT_GE(a.height, 12);
    }
    g_object_unref(shot);
    window.Close();
    SettleUntil([] { return false; }, 100ms);
}

}  // namespace
