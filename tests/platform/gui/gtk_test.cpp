// The layer on both back-ends: the same user actions and model changes give the same notifications
// headless and with real GTK widgets on a private X server; windows drawn there are not blank; the
// numeric locale stays "C" after start-up.
#include "gui_fixture.h"

#include <clocale>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/prefs/prefstore.h"
#include "engine/tools/preview.h"
#include "platform/gui/gtk/gtk_backend.h"
#include "support/locale_guard.h"
#include "support/pref_builder.h"
#include "support/shipped_data.h"
#include "support/tempdir.h"
#include "support/watchdog.h"
#include "support/x11_display.h"
#include "ui/framework/window.h"
#include "ui/main/composition.h"

namespace {

using namespace gui;
using sqtest::Ctl;
using sqtest::Dlg;
using Commands = std::vector<std::pair<int, int>>;

using sqtest::Watchdog;

// One private X server for the whole file; DISPLAY points at it.
sqtest::XvfbDisplay& Display() {
    static sqtest::XvfbDisplay display("1280x1024x24");
    static bool set = [] {
        if (display.ok()) setenv("DISPLAY", display.name().c_str(), 1);
        return true;
    }();
    (void)set;
    return display;
}

// Where a back-end's user actions come from: the headless driver's calls, or signals on the real
// widgets as GTK raises them when a user acts.
class HeadlessSide {
public:
    explicit HeadlessSide(std::shared_ptr<LiteralResources> resources) {
        gui::testing::Driver::Options o;
        o.resources = std::move(resources);
        driver_.emplace([](const std::string& what) { ADD_FAILURE() << what; }, o);
    }
    static bool Available() { return true; }
    void Settle() { driver_->Pump(); }
    bool Click(HWND h) { return driver_->Click(h); }
    bool SetText(HWND h, const std::string& t) { return driver_->SetTextAsUser(h, t); }
    bool PickCombo(HWND h, int i) { return driver_->PickCombo(h, i); }
    bool PickList(HWND h, int i) { return driver_->PickList(h, i, 0); }
    bool DragTrack(HWND h, int v) { return driver_->DragTrack(h, {v}); }
    bool PickTab(HWND h, int i) { return driver_->PickTab(h, i); }
    bool ClickColumn(HWND h, int i) { return driver_->ClickColumn(h, i); }

private:
    std::optional<gui::testing::Driver> driver_;
};

class GtkSide {
public:
    explicit GtkSide(std::shared_ptr<LiteralResources> resources) {
        InitOptions o;
        ok_ = Init(o) && gtk::Active();
        SetResourceProvider(std::move(resources));
    }
    ~GtkSide() {
        if (IsRunning()) Shutdown();
    }
    static bool Available() { return Display().ok(); }
    bool ok() const { return ok_; }
    void Settle() { gtk::Settle(); }
    bool Click(HWND h) {
        Settle();
        GtkWidget* w = gtk::ControlOf(h);
        if (!w) return false;
        if (GTK_IS_BUTTON(w)) gtk_button_clicked(GTK_BUTTON(w));
        else if (GTK_IS_EVENT_BOX(gtk::WidgetOf(h))) Release(gtk::WidgetOf(h));
        Settle();
        return true;
    }
    bool SetText(HWND h, const std::string& t) {
        Settle();
        GtkWidget* w = gtk::ControlOf(h);
        if (GTK_IS_ENTRY(w)) gtk_entry_set_text(GTK_ENTRY(w), t.c_str());
        else if (GTK_IS_TEXT_VIEW(w)) gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(w)), t.c_str(), -1);
        else return false;
        Settle();
        return true;
    }
    bool PickCombo(HWND h, int i) {
        Settle();
        gtk_combo_box_set_active(GTK_COMBO_BOX(gtk::ControlOf(h)), i);
        Settle();
        return true;
    }
    bool PickList(HWND h, int i) {
        Settle();
        GtkTreePath* path = gtk_tree_path_new_from_indices(i, -1);
        GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(gtk::ControlOf(h)));
        gtk_tree_selection_unselect_all(sel);
        gtk_tree_selection_select_path(sel, path);
        gtk_tree_path_free(path);
        Settle();
        return true;
    }
    bool DragTrack(HWND h, int v) {
        Settle();
        GtkWidget* w = gtk::ControlOf(h);
        gtk_range_set_value(GTK_RANGE(w), v);
        Release(w);
        Settle();
        return true;
    }
    bool PickTab(HWND h, int i) {
        Settle();
        gtk_notebook_set_current_page(GTK_NOTEBOOK(gtk::ControlOf(h)), i);
        Settle();
        return true;
    }
    bool ClickColumn(HWND h, int i) {
        Settle();
        GtkWidget* w = gtk::ControlOf(h);
        GtkTreeViewColumn* column = GTK_IS_TREE_VIEW(w) ? gtk_tree_view_get_column(GTK_TREE_VIEW(w), i) : nullptr;
        if (!column) return false;
        gtk_tree_view_column_clicked(column);
        Settle();
        return true;
    }

private:
    static void Release(GtkWidget* w) {
        GdkEvent* e = gdk_event_new(GDK_BUTTON_RELEASE);
        e->button.button = 1;
        e->button.window = gtk_widget_get_window(w) ? GDK_WINDOW(g_object_ref(gtk_widget_get_window(w))) : nullptr;
        gboolean handled = FALSE;
        g_signal_emit_by_name(w, "button-release-event", e, &handled);
        gdk_event_free(e);
    }
    bool ok_ = false;
};

DialogTemplate Panel() {
    return Dlg(100, WS_POPUP | WS_CAPTION | WS_VISIBLE,
               {Ctl(10, kButtonClass, BS_PUSHBUTTON | WS_TABSTOP, "Push"), Ctl(11, kButtonClass, BS_CHECKBOX, "Plain"),
                Ctl(12, kButtonClass, BS_AUTOCHECKBOX, "Auto"), Ctl(13, kButtonClass, BS_AUTORADIOBUTTON | WS_GROUP, "R1"),
                Ctl(14, kButtonClass, BS_AUTORADIOBUTTON, "R2"), Ctl(16, kStaticClass, SS_NOTIFY | WS_GROUP, "link"),
                Ctl(20, kEditClass, ES_AUTOHSCROLL), Ctl(21, kEditClass, ES_MULTILINE),
                Ctl(30, kComboBoxClass, CBS_DROPDOWNLIST), Ctl(31, kComboBoxClass, CBS_DROPDOWN),
                Ctl(40, kListBoxClass, LBS_NOTIFY), Ctl(50, kTrackbarClass), Ctl(60, kProgressClass),
                Ctl(70, kTabClass), Ctl(80, kListViewClass, LVS_REPORT)});
}

template <class Side>
class Conformance : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Side::Available()) GTEST_SKIP() << "no X server for real windows";
        sqtest::g_log = &log;
        side.emplace(resources);
        if constexpr (std::is_same_v<Side, GtkSide>) {
            if (!side->ok()) GTEST_SKIP() << "GTK could not open the display";
        }
    }
    void TearDown() override {
        side.reset();
        sqtest::g_log = nullptr;
    }
    HWND Open() {
        resources->Add(Panel());
        HWND d = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(100), nullptr, sqtest::RecordingDlgProc, 0);
        for (int id : {30, 31, 40})
            for (const char* s : {"a", "b", "c"})
                SendDlgItemMessageA(d, id, id < 40 ? CB_ADDSTRING : LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
        for (const char* s : {"one", "two"}) {
            TCITEMA item{};
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<char*>(s);
            SendDlgItemMessageA(d, 70, TCM_INSERTITEMA, 9, reinterpret_cast<LPARAM>(&item));
        }
        for (const char* s : {"Name", "Size"}) {
            LVCOLUMNA column;
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.cx = 40;
            column.pszText = const_cast<char*>(s);
            SendDlgItemMessageA(d, 80, LVM_INSERTCOLUMNA, 9, reinterpret_cast<LPARAM>(&column));
        }
        side->Settle();
        log.Clear();
        return d;
    }

    Watchdog watchdog{120};
    sqtest::MessageLog log;
    std::shared_ptr<LiteralResources> resources = std::make_shared<LiteralResources>();
    std::optional<Side> side;
};

using Sides = ::testing::Types<HeadlessSide, GtkSide>;
class SideNames {
public:
    template <class T>
    static std::string GetName(int) {
        return std::is_same_v<T, GtkSide> ? "Gtk" : "Headless";
    }
};
TYPED_TEST_SUITE(Conformance, Sides, SideNames);

TYPED_TEST(Conformance, AUserActionNotifiesTheParentExactlyOnce) {
    struct Case {
        const char* name;
        std::function<bool(TypeParam&, HWND)> act;
        Commands expected;
        std::vector<std::pair<int, int>> notifies;
    };
    auto item = [](HWND d, int id) { return GetDlgItem(d, id); };
    const Case cases[] = {
        {"push button", [&](auto& s, HWND d) { return s.Click(item(d, 10)); }, {{10, BN_CLICKED}}, {}},
        {"plain check box", [&](auto& s, HWND d) { return s.Click(item(d, 11)); }, {{11, BN_CLICKED}}, {}},
        {"auto check box", [&](auto& s, HWND d) { return s.Click(item(d, 12)); }, {{12, BN_CLICKED}}, {}},
        {"auto radio", [&](auto& s, HWND d) { return s.Click(item(d, 14)); }, {{14, BN_CLICKED}}, {}},
        {"notifying static", [&](auto& s, HWND d) { return s.Click(item(d, 16)); }, {{16, STN_CLICKED}}, {}},
        {"pasting into an edit", [&](auto& s, HWND d) { return s.SetText(item(d, 20), "250"); }, {{20, EN_CHANGE}}, {}},
        {"pasting into a multi-line edit", [&](auto& s, HWND d) { return s.SetText(item(d, 21), "x"); }, {{21, EN_CHANGE}}, {}},
        {"picking from a list combo", [&](auto& s, HWND d) { return s.PickCombo(item(d, 30), 1); }, {{30, CBN_SELCHANGE}}, {}},
        {"picking from an editable combo", [&](auto& s, HWND d) { return s.PickCombo(item(d, 31), 2); }, {{31, CBN_SELCHANGE}}, {}},
        {"picking in a list", [&](auto& s, HWND d) { return s.PickList(item(d, 40), 2); }, {{40, LBN_SELCHANGE}}, {}},
        {"picking a tab", [&](auto& s, HWND d) { return s.PickTab(item(d, 70), 1); }, {},
         {{70, TCN_SELCHANGING}, {70, TCN_SELCHANGE}}},
        {"clicking a column header", [&](auto& s, HWND d) { return s.ClickColumn(item(d, 80), 1); }, {},
         {{80, static_cast<int>(LVN_COLUMNCLICK)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND d = this->Open();
        EXPECT_TRUE(c.act(*this->side, d));
        EXPECT_EQ(this->log.Commands(), c.expected);
        EXPECT_EQ(this->log.Notifies(), c.notifies);
        DestroyWindow(d);
    }
}

TYPED_TEST(Conformance, AModelChangeNotifiesNothing) {
    struct Case {
        const char* name;
        int id;
        UINT msg;
        WPARAM wp;
        LPARAM lp;
    };
    const Case cases[] = {
        {"check a box", 12, BM_SETCHECK, BST_CHECKED, 0},
        {"check a radio", 14, BM_SETCHECK, BST_CHECKED, 0},
        {"select in a list combo", 30, CB_SETCURSEL, 2, 0},
        {"select in an editable combo", 31, CB_SETCURSEL, 1, 0},
        {"set a combo's text", 31, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("typed")},
        {"empty a combo", 31, CB_RESETCONTENT, 0, 0},
        {"select in a list", 40, LB_SETCURSEL, 1, 0},
        {"set a trackbar position", 50, TBM_SETPOS, TRUE, 40},
        {"set a progress position", 60, PBM_SETPOS, 30, 0},
        {"set a multi-line edit's text", 21, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("new\r\ntext")},
        {"select a tab", 70, TCM_SETCURSEL, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND d = this->Open();
        SendDlgItemMessageA(d, c.id, c.msg, c.wp, c.lp);
        this->side->Settle();
        EXPECT_EQ(this->log.Commands(), Commands{});
        EXPECT_EQ(this->log.Notifies(), Commands{});
        DestroyWindow(d);
    }
}

TYPED_TEST(Conformance, ADragEndsWithThePositionAndTheEnd) {
    HWND d = this->Open();
    EXPECT_TRUE(this->side->DragTrack(GetDlgItem(d, 50), 30));
    std::vector<std::pair<UINT, int>> scrolls = this->log.Scrolls();
    ASSERT_FALSE(scrolls.empty());
    EXPECT_EQ(scrolls.back(), (std::pair<UINT, int>{WM_HSCROLL, TB_ENDTRACK}));
    EXPECT_EQ(SendDlgItemMessageA(d, 50, TBM_GETPOS, 0, 0), 30);
    DestroyWindow(d);
}

// --- pictures ----------------------------------------------------------------------------------

class GtkPicture : public ::testing::Test {
protected:
    void SetUp() override {
        if (!GtkSide::Available()) GTEST_SKIP() << "no X server for real windows";
        side.emplace(nullptr);
        if (!side->ok()) GTEST_SKIP() << "GTK could not open the display";
        auto folder = std::make_shared<XmlResourceFolder>();
        std::string error;
        folder->Load(std::filesystem::path(sqtest::DataFile("ui")).string(), error);
        SetResourceProvider(folder);
    }
    void TearDown() override { side.reset(); }

public:
    // The screen as a picture; kept as name.png in the build folder.
    GdkPixbuf* Capture(const std::string& name) {
        for (int i = 0; i < 10; ++i) {
            side->Settle();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        GdkWindow* root = gdk_get_default_root_window();
        GdkPixbuf* shot = gdk_pixbuf_get_from_window(root, 0, 0, gdk_window_get_width(root), gdk_window_get_height(root));
        if (shot) gdk_pixbuf_save(shot, (std::string(SQ_OUT_DIR) + "/../" + name + ".png").c_str(), "png", nullptr, nullptr);
        return shot;
    }

protected:
    // Distinct colours in a screen rectangle (1: one flat colour).
    static size_t Colours(GdkPixbuf* shot, RECT r) {
        std::set<uint32_t> seen;
        const int n = gdk_pixbuf_get_n_channels(shot), stride = gdk_pixbuf_get_rowstride(shot);
        const guchar* px = gdk_pixbuf_get_pixels(shot);
        for (int y = std::max(0, static_cast<int>(r.top)); y < std::min<int>(r.bottom, gdk_pixbuf_get_height(shot)); ++y)
            for (int x = std::max(0, static_cast<int>(r.left)); x < std::min<int>(r.right, gdk_pixbuf_get_width(shot)); ++x) {
                const guchar* p = px + y * stride + x * n;
                seen.insert(static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]));
            }
        return seen.size();
    }

    // Where a window's client area is on the screen, as the display placed it.
    static RECT ClientOnScreen(HWND hwnd) {
        GtkWidget* fixed = gtk::ContainerOf(hwnd);
        int x = 0, y = 0;
        if (fixed && gtk_widget_get_window(fixed)) gdk_window_get_origin(gtk_widget_get_window(fixed), &x, &y);
        RECT client;
        GetClientRect(hwnd, &client);
        return RECT{x, y, x + client.right, y + client.bottom};
    }

    // Each shown control with text or a frame of its own draws something over the background.
    void ExpectDrawn(GdkPixbuf* shot, HWND dialog) {
        static RECT origin;
        static HWND g_dialog;
        origin = ClientOnScreen(dialog);
        g_dialog = dialog;
        EXPECT_GT(Colours(shot, origin), 2u) << "the window is blank";
        EnumChildWindows(
            dialog,
            [](HWND child, LPARAM lp) -> BOOL {
                if (!IsWindowVisible(child)) return TRUE;
                char text[64] = "";
                GetWindowTextA(child, text, sizeof text);
                char cls[64] = "";
                GetClassNameA(child, cls, sizeof cls);
                if (!*text && std::string(cls) == kStaticClass) return TRUE;  // an empty label draws nothing
                RECT r;
                GetWindowRect(child, &r);
                MapWindowPoints(nullptr, g_dialog, reinterpret_cast<POINT*>(&r), 2);
                r = RECT{r.left + origin.left, r.top + origin.top, r.right + origin.left, r.bottom + origin.top};
                EXPECT_GT(Colours(reinterpret_cast<GdkPixbuf*>(lp), r), 1u)
                    << "control " << GetDlgCtrlID(child) << " (" << cls << ") looks like the background";
                return TRUE;
            },
            reinterpret_cast<LPARAM>(shot));
    }

    Watchdog watchdog{120};
    std::optional<GtkSide> side;
};

TEST_F(GtkPicture, DialogsAreDrawnWithEachControlVisible) {
    for (int id : {293, 101}) {
        SCOPED_TRACE(id);
        HWND d = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(id), nullptr, sqtest::RecordingDlgProc, 0);
        ASSERT_NE(d, nullptr) << LastTemplateError();
        SetWindowTextA(GetDlgItem(d, 1244), "Overwrite the file?");
        ShowWindow(d, SW_SHOW);
        GdkPixbuf* shot = Capture("screenshot-" + std::to_string(id));
        ASSERT_NE(shot, nullptr);
        ExpectDrawn(shot, d);
        g_object_unref(shot);
        DestroyWindow(d);
    }
}

TEST_F(GtkPicture, APopupMenuIsDrawnWhileItIsOpen) {
    HWND d = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(293), nullptr, sqtest::RecordingDlgProc, 0);
    ASSERT_NE(d, nullptr);
    ShowWindow(d, SW_SHOW);
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 501, "First item");
    AppendMenuA(menu, MF_STRING, 502, "Second item");
    static GdkPixbuf* shot = nullptr;
    static size_t before = 0;
    shot = nullptr;
    {
        GdkPixbuf* plain = Capture("screenshot-popup-before");
        before = Colours(plain, RECT{300, 300, 500, 400});
        g_object_unref(plain);
    }
    // The timer fires inside the menu's loop: it takes the picture and closes the menu.
    static GtkPicture* self = nullptr;
    self = this;
    SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        shot = self->Capture("screenshot-popup");
        for (GList* l = gtk_window_list_toplevels(), *f = l; l || f; l = l ? l->next : nullptr) {
            if (!l) {
                g_list_free(f);
                break;
            }
            GtkWidget* top = GTK_WIDGET(l->data);
            if (GTK_IS_WINDOW(top) && gtk_window_get_window_type(GTK_WINDOW(top)) == GTK_WINDOW_POPUP)
                if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(top)); child && GTK_IS_MENU(child))
                    gtk_menu_shell_deactivate(GTK_MENU_SHELL(child));
        }
    });
    const BOOL picked = TrackPopupMenu(menu, TPM_RETURNCMD, 300, 300, 0, d, nullptr);
    EXPECT_EQ(picked, 0);
    ASSERT_NE(shot, nullptr) << "the menu's loop never ran the timer";
    EXPECT_GT(Colours(shot, RECT{300, 300, 500, 340}), before) << "no menu drawn at the point";
    g_object_unref(shot);
    DestroyMenu(menu);
    DestroyWindow(d);
}

TEST_F(GtkPicture, AProgramWindowHasANativeWindowOnceShown) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "VideoHost";
    RegisterClassA(&wc);
    HWND top = CreateWindowExA(0, "VideoHost", "video", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50, 320, 240, nullptr,
                               nullptr, nullptr, nullptr);
    HWND video = CreateWindowExA(0, "VideoHost", "", WS_CHILD | WS_VISIBLE, 10, 10, 200, 150, top, nullptr, nullptr, nullptr);
    side->Settle();
    const uint64_t id = GetNativeWindowId(video);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetNativeWindowId(top));
    DestroyWindow(top);
}

TEST_F(GtkPicture, PreviewVideoIsDrawnInTheProgramsWindow) {
    if (std::system("command -v mplayer >/dev/null 2>&1 && command -v ffmpeg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mplayer or ffmpeg is missing";
    ui::ConnectEngine();  // the player reaches its window through the program's composition
    sqtest::TempDir dir;
    const std::string video = dir.file("bars.avi");
    const std::string make = "timeout 60 ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=160x120:rate=10 -t 20 "
                             "-c:v mpeg4 '" + video + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    sqtest::PrefBuilder prefs(GetPrefStore());
    prefs.Add("overall.preview.vo", kPrefEnum, "2", {"Auto", "xv", "x11", "gl", "gl2", "sdl", "null"});
    prefs.Add("overall.preview.extPlayer", kPrefBool, "0");
    prefs.Add("overall.preview.extPlayerPath", kPrefFile);
    prefs.Add("overall.decoding.aid", kPrefInt, "0");

    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "PreviewHost";
    RegisterClassA(&wc);
    HWND top = CreateWindowExA(0, "PreviewHost", "preview", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 400, 320, nullptr,
                               nullptr, nullptr, nullptr);
    HWND pane = CreateWindowExA(0, "PreviewHost", "", WS_CHILD | WS_VISIBLE, 20, 20, 320, 240, top, nullptr, nullptr, nullptr);
    GdkPixbuf* before = Capture("screenshot-video-before");
    const RECT inside = [&] {
        RECT r = ClientOnScreen(top);
        return RECT{r.left + 40, r.top + 40, r.left + 320, r.top + 240};
    }();
    const size_t empty = Colours(before, inside);
    g_object_unref(before);
    EXPECT_LE(empty, 2u) << "the window shows something before the player starts";

    // The program's own player adapter (beside the program) runs the real player in slave mode.
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (std::string(SQ_OUT_DIR) + "/tools:" + oldPath).c_str(), 1);
    const int played = PlayFile(video.c_str(), pane);
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_EQ(played, 0);
    size_t seen = 0;
    for (int attempt = 0; attempt < 50 && seen <= 8; ++attempt) {  // the player's first frame, within 10 s
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        GdkPixbuf* shot = Capture("screenshot-video");
        seen = Colours(shot, inside);
        g_object_unref(shot);
    }
    StopPreviewPlayer();
    EXPECT_GT(seen, 8u) << "no video inside the window";
    DestroyWindow(top);
    GetPrefStore().Clear();
}

// --- start-up ----------------------------------------------------------------------------------

TEST(GtkStartUp, NumbersKeepTheirPointInACommaLocale) {
    Watchdog watchdog{60};
    if (!GtkSide::Available()) GTEST_SKIP() << "no X server for real windows";
    sqtest::CommaLocale comma;
    if (!comma.available()) GTEST_SKIP() << "no comma-decimal locale is installed";
    setenv("LC_ALL", std::setlocale(LC_ALL, nullptr), 1);
    {
        auto resources = std::make_shared<LiteralResources>();
        resources->Add(Dlg(100, WS_POPUP | WS_VISIBLE, {Ctl(20, kEditClass)}));
        GtkSide side(resources);
        unsetenv("LC_ALL");
        ASSERT_TRUE(side.ok());
        EXPECT_STREQ(std::localeconv()->decimal_point, ".");
        ui::CWindow window;
        HWND d = window.CreateModeless(nullptr, 100, static_cast<HWND>(nullptr));
        ASSERT_NE(d, nullptr);
        window.SetItemFloat(20, 1.5, 2);
        side.Settle();
        EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(gtk::ControlOf(GetDlgItem(d, 20)))), "1.50");
        DestroyWindow(d);
    }
}

TEST(GtkStartUp, HeadlessIsForcedByTheEnvironment) {
    Watchdog watchdog{60};
    if (!GtkSide::Available()) GTEST_SKIP() << "no X server for real windows";
    setenv("SONQUILL_GUI", "headless", 1);
    ASSERT_TRUE(Init());
    EXPECT_FALSE(gtk::Active());
    Shutdown();
    unsetenv("SONQUILL_GUI");
}

// A key as the display reports it: focus on the window, then press and release through GDK's queue.
void PutKey(GtkWidget* widget, guint keyval, guint state) {
    GdkWindow* win = gtk_widget_get_window(gtk_widget_get_toplevel(widget));
    GdkDisplay* display = gdk_window_get_display(win);
    GdkDevice* keyboard = gdk_seat_get_keyboard(gdk_display_get_default_seat(display));
    GdkEvent* focus = gdk_event_new(GDK_FOCUS_CHANGE);
    focus->focus_change.window = GDK_WINDOW(g_object_ref(win));
    focus->focus_change.in = TRUE;
    gdk_event_set_device(focus, keyboard);
    gdk_event_put(focus);
    gdk_event_free(focus);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* e = gdk_event_new(type);
        e->key.window = GDK_WINDOW(g_object_ref(win));
        e->key.keyval = keyval;
        e->key.state = state;
        e->key.time = GDK_CURRENT_TIME;
        GdkKeymapKey* keys = nullptr;
        gint count = 0;
        if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count) && count > 0)
            e->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
        g_free(keys);
        gdk_event_set_device(e, keyboard);
        gdk_event_put(e);
        gdk_event_free(e);
    }
}

TEST_F(GtkPicture, KeysReachAcceleratorsFirstAndTheFocusedControlOtherwise) {
    sqtest::MessageLog log;
    sqtest::g_log = &log;
    WNDCLASSA wc{};
    wc.lpfnWndProc = sqtest::RecordingWndProc;
    wc.lpszClassName = "KeyHost";
    RegisterClassA(&wc);
    HWND top = CreateWindowExA(0, "KeyHost", "keys", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 30, 30, 300, 120, nullptr, nullptr,
                               nullptr, nullptr);
    HWND edit = CreateWindowExA(0, kEditClass, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, 200, 24, top,
                                reinterpret_cast<HMENU>(5), nullptr, nullptr);
    ACCEL entry{static_cast<BYTE>(FVIRTKEY | FCONTROL), 'R', 40082};
    HACCEL table = CreateAcceleratorTableA(&entry, 1);
    side->Settle();
    GtkWidget* entryWidget = gtk::ControlOf(edit);
    gtk_window_present(GTK_WINDOW(gtk::WidgetOf(top)));
    gtk_widget_grab_focus(entryWidget);
    side->Settle();
    log.Clear();
    PutKey(entryWidget, GDK_KEY_r, GDK_CONTROL_MASK);
    PutKey(entryWidget, GDK_KEY_x, 0);
    // The program's loop: accelerators first, then the key goes on to the control.
    for (int round = 0; round < 250 && GetWindowTextLengthA(edit) == 0; ++round) {
        side->Settle();
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
            if (!TranslateAcceleratorA(top, table, &m)) DispatchMessageA(&m);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<std::pair<int, int>> commands = log.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), std::pair<int, int>{40082, 1}), 1);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), std::pair<int, int>{5, EN_CHANGE}), 1);
    char text[16] = "";
    GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ(text, "x") << "Ctrl+R went on to the edit, or x never arrived";
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entryWidget)), "x");
    DestroyAcceleratorTable(table);
    DestroyWindow(top);
    sqtest::g_log = nullptr;
}

TEST_F(GtkPicture, WithoutATrayAddingAnIconFails) {
    HWND top = CreateWindowExA(0, kStaticClass, "tray owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                               nullptr, nullptr);
    NOTIFYICONDATAA data{};
    data.hWnd = top;
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_TIP;
    data.uCallbackMessage = 1124;
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &data));  // a bare X server has no tray
    EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &data));
    DestroyWindow(top);
}

TEST(GtkStartUp, DroppedUriListsBecomeLocalFileNames) {
    struct Case {
        std::vector<const gchar*> uris;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {{"file:///music/a.wav", "file:///music/b%20c.flac"}, {"/music/a.wav", "/music/b c.flac"}},
        {{"file:///m/%C3%A9t%C3%A9.mp3"}, {"/m/\xC3\xA9t\xC3\xA9.mp3"}},
        {{"http://example.invalid/x.mp3", "file:///ok.ogg"}, {"/ok.ogg"}},
        {{"not a uri"}, {}},
    };
    for (const auto& c : cases) {
        std::vector<const gchar*> list = c.uris;
        list.push_back(nullptr);
        EXPECT_EQ(gtk::detail::FilesOfUris(list.data()), c.files) << c.uris.front();
    }
}

TEST(GtkStartUp, KeysMapToVirtualKeys) {
    const std::pair<guint, UINT> cases[] = {
        {GDK_KEY_a, 'A'}, {GDK_KEY_R, 'R'}, {GDK_KEY_5, '5'}, {GDK_KEY_F5, VK_F1 + 4}, {GDK_KEY_Insert, VK_INSERT},
        {GDK_KEY_Return, VK_RETURN}, {GDK_KEY_Control_R, VK_CONTROL}, {GDK_KEY_eacute, 0},
    };
    for (auto [keyval, vk] : cases) EXPECT_EQ(gtk::detail::VirtualKeyOf(keyval), vk) << keyval;
    EXPECT_EQ(gtk::detail::MnemonicText("&Open my_file && more"), "_Open my__file & more");
}

}  // namespace
