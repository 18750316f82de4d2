// The windows as a user sees them on a real display (GTK on a private 1024x768 X server): in every
// dialog template and in the main window with each option tab and encoder page, no two controls
// shown side by side overlap (group boxes frame others, tab controls hold their pages), each
// control lies inside its parent and is no larger than its place, each caption fits its control
// in the dialog font, and a combo box is one line high. The main window with its options fits the
// screen and can be made smaller and larger, a larger window giving the list and the log more room.
//
// A batch runs too: the main window with its queue and the statistics window are checked while
// the first item converts.
//
// With SQ_SCREENSHOTS set to a folder, every window checked is also saved there as a PNG (see
// scripts/screenshots).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/context.h"
#include "engine/encoders/encoder.h"
#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "platform/gui/gtk/gtk_backend.h"
#include "platform/gui/gui.h"
#include "platform/gui/resources.h"
#include "support/tempdir.h"
#include "support/wav_bytes.h"
#include "support/watchdog.h"
#include "support/x11_display.h"
#include "ui/dialogs/stats.h"
#include "ui/filelist/file_list.h"
#include "ui/framework/dialog.h"
#include "ui/main/batch.h"
#include "ui/main/main_window.h"
#include "ui/main/window_services.h"
#include "ui/main/shell.h"
#include "ui/options/options_pane.h"

namespace {

using namespace std::chrono_literals;
using gui::HWND;

constexpr int kScreenWidth = 1024, kScreenHeight = 768;

sqtest::XvfbDisplay& Display() {
    static sqtest::XvfbDisplay display("1024x768x24");
    return display;
}

// Runs the display and the program's queue until done() holds, at most limit; whether it held.
bool SettleUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        gui::gtk::Settle();
        gui::MSG msg;
        while (gui::PeekMessageA(&msg, nullptr, 0, 0, gui::PM_REMOVE)) {
            gui::TranslateMessage(&msg);
            gui::DispatchMessageA(&msg);
        }
        gui::gtk::Settle();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(10ms);
    }
}
void Settle() { SettleUntil([] { return true; }); }

std::string ClassOf(HWND h) {
    char name[64] = {};
    gui::GetClassNameA(h, name, sizeof name);
    return name;
}

GtkAllocation AllocationOf(HWND h) {
    GtkAllocation a{};
    if (GtkWidget* w = gui::gtk::WidgetOf(h)) gtk_widget_get_allocation(w, &a);
    return a;
}

std::string Describe(HWND h) {
    char text[80] = {};
    gui::GetWindowTextA(h, text, sizeof text);
    return ClassOf(h) + " " + std::to_string(gui::GetDlgCtrlID(h)) + " \"" + text + "\"";
}

bool Shown(HWND h) {
    GtkWidget* w = gui::gtk::WidgetOf(h);
    return gui::IsWindowVisible(h) && w && gtk_widget_get_mapped(w);
}

bool IsGroupBox(HWND h) {
    return ClassOf(h) == "Button" && (gui::GetWindowLongPtrA(h, gui::GWL_STYLE) & 0xF) == gui::BS_GROUPBOX;
}

bool Overlap(const GtkAllocation& a, const GtkAllocation& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

bool Inside(const GtkAllocation& inner, const GtkAllocation& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

// Siblings that may share room: a group box frames others, and a tab control holds what lies
// wholly on it (its pages, a nested row of tabs).
bool MayOverlap(HWND a, HWND b) {
    if (IsGroupBox(a) || IsGroupBox(b)) return true;
    if (ClassOf(a) == "SysTabControl32" && Inside(AllocationOf(b), AllocationOf(a))) return true;
    return ClassOf(b) == "SysTabControl32" && Inside(AllocationOf(a), AllocationOf(b));
}

// The height of one line of the dialog font.
int LineHeight() {
    GtkWidget* label = gtk_label_new(nullptr);
    g_object_ref_sink(label);
    PangoLayout* layout = gtk_widget_create_pango_layout(label, "Ag");
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    g_object_unref(label);
    return height;
}

// The width a combo box takes beside its text: frame, padding and arrow.
int ComboChrome() {
    GtkWidget* combo = gtk_combo_box_text_new();
    g_object_ref_sink(combo);
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), "");
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), 0);
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_width(combo, &minimum, &natural);
    g_object_unref(combo);
    return natural;
}

// Whether the control's text (and for a combo box its longest entry) fits the place it has.
std::string CaptionProblem(HWND h, const GtkAllocation& a) {
    const std::string cls = ClassOf(h);
    GtkWidget* w = gui::gtk::WidgetOf(h);
    if (cls == "Static" && gui::GetWindowTextLengthA(h) > 0 && GTK_IS_LABEL(gui::gtk::ControlOf(h))) {
        // A label may wrap: its text must fit its height at its width.
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_height_for_width(w, a.width, &minimum, &natural);
        if (natural > a.height) return "its text needs " + std::to_string(natural) + " pixels of height, it has " + std::to_string(a.height);
        return "";
    }
    if (cls == "ComboBox") {
        // The text it shows, beside its arrow.
        gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(w));
        const std::string shown = text ? text : "";
        g_free(text);
        if (shown.empty()) return "";
        PangoLayout* layout = gtk_widget_create_pango_layout(w, shown.c_str());
        int width = 0, height = 0;
        pango_layout_get_pixel_size(layout, &width, &height);
        g_object_unref(layout);
        if (width + ComboChrome() > a.width)
            return "\"" + shown + "\" needs " + std::to_string(width + ComboChrome()) + " pixels, it has " + std::to_string(a.width);
        return "";
    }
    if (cls != "Button" || IsGroupBox(h) || gui::GetWindowTextLengthA(h) == 0) return "";
    GtkRequisition minimum{}, natural{};
    gtk_widget_get_preferred_size(w, &minimum, &natural);
    if (natural.width > a.width || natural.height > a.height)
        return "its text needs " + std::to_string(natural.width) + "x" + std::to_string(natural.height) + ", it has " +
               std::to_string(a.width) + "x" + std::to_string(a.height);
    return "";
}

// Whether GTK has placed every shown control inside window (a new one waits for the next frame).
bool Allocated(HWND window) {
    bool all = true;
    gui::EnumChildWindows(
        window,
        [](HWND child, gui::LPARAM data) -> gui::BOOL {
            if (!Shown(child)) return 1;
            gui::RECT r{};
            gui::GetWindowRect(child, &r);
            gui::POINT at{r.left, r.top};
            gui::ScreenToClient(gui::GetParent(child), &at);
            const GtkAllocation a = AllocationOf(child);
            if (a.x != at.x || a.y != at.y) *reinterpret_cast<bool*>(data) = false;
            return 1;
        },
        reinterpret_cast<gui::LPARAM>(&all));
    return all;
}

// Lets the display draw window as it now is.
void SettleLayout(HWND window) { EXPECT_TRUE(SettleUntil([&] { return Allocated(window); })); }

// Every problem of the shown controls inside window, and inside the windows among them.
void CheckLayout(HWND window, const std::string& where, std::vector<std::string>& problems) {
    GtkWidget* container = gui::gtk::ContainerOf(window);
    if (!container) return;
    GtkAllocation area{};
    gtk_widget_get_allocation(container, &area);
    std::vector<HWND> shown;
    gui::EnumChildWindows(
        window,
        [](HWND child, gui::LPARAM data) -> gui::BOOL {
            auto* list = reinterpret_cast<std::vector<HWND>*>(data);
            list->push_back(child);
            return 1;
        },
        reinterpret_cast<gui::LPARAM>(&shown));
    std::erase_if(shown, [&](HWND c) { return gui::GetParent(c) != window || !Shown(c); });
    const int line = LineHeight();
    for (size_t i = 0; i < shown.size(); ++i) {
        HWND c = shown[i];
        const GtkAllocation a = AllocationOf(c);
        const std::string name = where + ": " + Describe(c);
        if (a.x < 0 || a.y < 0 || a.x + a.width > area.width || a.y + a.height > area.height)
            problems.push_back(name + " lies outside its parent (" + std::to_string(a.x) + "," + std::to_string(a.y) + " " +
                               std::to_string(a.width) + "x" + std::to_string(a.height) + " in " + std::to_string(area.width) +
                               "x" + std::to_string(area.height) + ")");
        gui::RECT r{};
        gui::GetWindowRect(c, &r);
        if (a.width > r.right - r.left || a.height > r.bottom - r.top)
            problems.push_back(name + " is drawn " + std::to_string(a.width) + "x" + std::to_string(a.height) +
                               ", larger than its place " + std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
        if (ClassOf(c) == "ComboBox" && a.height > line * 2)
            problems.push_back(name + " is " + std::to_string(a.height) + " pixels high, more than one line");
        if (std::string p = CaptionProblem(c, a); !p.empty()) problems.push_back(name + ": " + p);
        for (size_t j = i + 1; j < shown.size(); ++j) {
            if (MayOverlap(c, shown[j])) continue;
            if (Overlap(a, AllocationOf(shown[j]))) problems.push_back(name + " overlaps " + Describe(shown[j]));
        }
        CheckLayout(c, where + " > " + std::to_string(gui::GetDlgCtrlID(c)), problems);
    }
}

std::string FileNamePart(std::string text) {
    for (char& c : text)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return text;
}

// Saves what the screen shows of a top-level window, raised above the others, when screenshots
// are asked for.
void Screenshot(HWND top, const std::string& name) {
    const char* folder = std::getenv("SQ_SCREENSHOTS");
    GtkWidget* w = gui::gtk::WidgetOf(top);
    if (!folder || !*folder || !w || !gtk_widget_get_window(w)) return;
    GdkWindow* window = gtk_widget_get_window(w);
    gdk_window_raise(window);
    SettleLayout(top);
    gdk_display_sync(gdk_window_get_display(window));
    Settle();
    int x = 0, y = 0;
    gdk_window_get_origin(window, &x, &y);
    GdkPixbuf* shot = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), x, y, gdk_window_get_width(window),
                                                 gdk_window_get_height(window));
    if (!shot) return;
    std::filesystem::create_directories(folder);
    gdk_pixbuf_save(shot, (std::string(folder) + "/" + name + ".png").c_str(), "png", nullptr, nullptr);
    g_object_unref(shot);
}

// The program started on the display, as a user starts it, with a fresh data folder.
class ProgramOnDisplay {
public:
    explicit ProgramOnDisplay(const std::string& commandLine) {
        setenv("DISPLAY", Display().name().c_str(), 1);
        setenv("APPDATA", appData_.path().c_str(), 1);
        appData_.write("Sonquill/prefs.xml",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs>"
                       "<node key=\"overall.httpd.port\">0</node></QuorvexPrefs>\n");
        platform::SetAppFolderOverride(SQ_OUT_DIR);
        ui::ResetShellState();
        started_ = gui::Init() && gui::gtk::Active();
        if (!started_) return;
        auto resources = std::make_shared<gui::XmlResourceFolder>();
        std::string error;
        EXPECT_TRUE(resources->Load(std::string(SQ_OUT_DIR) + "/ui", error)) << error;
        resources_ = resources;
        gui::SetResourceProvider(resources);
        started_ = ui::StartProgram(commandLine.c_str()) == 0;
        if (started_) SettleUntil([] { return Shown(ui::Shell().mainHwnd.load()); });
    }
    ~ProgramOnDisplay() {
        if (started_) {
            ui::CloseMainWindow();
            Settle();
            ui::FinishProgram(0);
        }
        if (gui::IsRunning()) gui::Shutdown();
        ui::ResetShellState();
        platform::SetAppFolderOverride("");
    }
    bool started() const { return started_; }
    HWND main() const { return ui::Shell().mainHwnd.load(); }
    const gui::XmlResourceFolder& resources() const { return *resources_; }

private:
    sqtest::TempDir appData_;
    bool started_ = false;
    std::shared_ptr<gui::XmlResourceFolder> resources_;
};

// A template shown on its own, its captions translated as the program does.
class TemplateProbe : public ui::CDialogWindow {
public:
    bool OnInitDialog() override {
        TranslateControls(nullptr);
        return true;
    }
};

class WindowLayout : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Display().ok()) GTEST_SKIP() << "no X server (Xvfb) to show windows on";
    }
};

TEST_F(WindowLayout, EveryTemplateShowsItsControlsSideBySideAndWhole) {
    sqtest::Watchdog watchdog{100};
    ProgramOnDisplay program("");
    ASSERT_TRUE(program.started());
    std::vector<std::string> problems;
    for (int id : program.resources().DialogIds()) {
        if (id == ui::dlg::main::id) continue;  // the main window has a test of its own
        auto t = program.resources().FindDialog(nullptr, id);
        ASSERT_TRUE(t);
        const bool child = (t->style & gui::WS_CHILD) != 0;
        // A page is shown in a plain window of its own size.
        ui::CWindow host;
        if (child) {
            ASSERT_TRUE(host.Create(gui::WS_POPUP | gui::WS_CAPTION, 0, static_cast<HWND>(nullptr)));
        }
        TemplateProbe probe;
        ASSERT_TRUE(probe.CreateModeless(ui::MainInstance(), id, child ? host.Handle() : static_cast<HWND>(nullptr))) << id;
        HWND top = child ? host.Handle() : probe.Handle();
        if (child) {
            gui::RECT r{};
            gui::GetWindowRect(probe.Handle(), &r);
            gui::MoveWindow(host.Handle(), 0, 0, r.right - r.left + 8, r.bottom - r.top + 31, 1);
            gui::ShowWindow(probe.Handle(), gui::SW_SHOW);
        }
        gui::ShowWindow(top, gui::SW_SHOW);
        SettleUntil([&] { return Shown(probe.Handle()); });
        SettleLayout(top);
        const std::string where = std::to_string(id) + "-" + t->name;
        CheckLayout(top, where, problems);
        Screenshot(top, "dialog-" + where);
        probe.Close();
        if (child) host.Close();
        Settle();
    }
    for (const auto& p : problems) ADD_FAILURE() << p;
}

TEST_F(WindowLayout, MainWindowWithEveryOptionTabFitsTheScreenAndGrowsItsListAndLog) {
    sqtest::Watchdog watchdog{100};
    ProgramOnDisplay program("");
    ASSERT_TRUE(program.started());
    HWND main = program.main();
    GtkWidget* top = gui::gtk::WidgetOf(main);
    ASSERT_TRUE(top);
    ui::COptionsPane* pane = ui::OptionsPane();
    ASSERT_TRUE(pane && gui::IsWindowVisible(pane->Handle()));

    GtkAllocation whole{};
    gtk_widget_get_allocation(top, &whole);
    gui::RECT outer{};
    gui::GetWindowRect(main, &outer);
    EXPECT_LE(whole.width, kScreenWidth);
    EXPECT_LE(whole.height, kScreenHeight);
    EXPECT_LE(outer.right - outer.left, kScreenWidth);
    EXPECT_LE(outer.bottom - outer.top, kScreenHeight);

    std::vector<std::string> problems;
    SettleLayout(main);
    // The window's client area is what the display gives its controls (below any menu bar).
    const auto clientMatches = [&] {
        gui::RECT client{};
        gui::GetClientRect(main, &client);
        GtkAllocation area{};
        gtk_widget_get_allocation(gui::gtk::ContainerOf(main), &area);
        return area.width == client.right && area.height == client.bottom;
    };
    EXPECT_TRUE(SettleUntil(clientMatches));
    CheckLayout(main, "main", problems);
    Screenshot(main, "main");
    // Each option tab, and each page of the tabs' nested rows.
    for (int tab = 0; tab < 6; ++tab) {
        pane->ShowOptionTab(tab);
        SettleLayout(main);
        const std::string title = pane->Tab() ? pane->Tab()->GetTitle() : "";
        CheckLayout(main, "tab " + title, problems);
        Screenshot(main, "tab-" + std::to_string(tab) + "-" + FileNamePart(title));
        HWND row = gui::GetDlgItem(pane->Handle(), ui::dlg::options::encoder_tabs);
        if (!pane->SubPage() || !gui::IsWindowVisible(row)) continue;
        const int pages = static_cast<int>(gui::SendMessageA(row, gui::TCM_GETITEMCOUNT, 0, 0));
        for (int page = 0; page < pages; ++page) {
            gui::SendMessageA(row, gui::TCM_SETCURSEL, static_cast<gui::WPARAM>(page), 0);
            pane->ShowSubPage(page);
            SettleLayout(main);
            const std::string name = pane->SubPage() ? pane->SubPage()->GetTitle() : "";
            CheckLayout(main, "tab " + title + " > " + name, problems);
            Screenshot(main, "tab-" + std::to_string(tab) + "-page-" + std::to_string(page) + "-" + FileNamePart(name));
        }
    }
    pane->ShowOptionTab(0);
    Settle();

    // Smaller, as the user drags the corner: the window follows and its controls still fit.
    gtk_window_resize(GTK_WINDOW(top), 800, 560);
    EXPECT_TRUE(SettleUntil([&] {
        int width = 0, height = 0;
        gtk_window_get_size(GTK_WINDOW(top), &width, &height);
        return width == 800 && height == 560 && clientMatches();
    })) << "the window cannot be made smaller";
    SettleLayout(main);
    CheckLayout(main, "smaller main", problems);
    Screenshot(main, "main-smaller");

    // Larger: the list and the log get the room.
    const gui::RECT list0 = [] { gui::RECT r{}; gui::GetWindowRect(ui::FileList().Handle(), &r); return r; }();
    const GtkAllocation log0 = AllocationOf(gui::GetDlgItem(main, ui::dlg::main::log));
    gtk_window_resize(GTK_WINDOW(top), kScreenWidth, kScreenHeight);
    EXPECT_TRUE(SettleUntil([&] { return AllocationOf(gui::GetDlgItem(main, ui::dlg::main::log)).height > log0.height; }));
    gui::RECT list1{};
    gui::GetWindowRect(ui::FileList().Handle(), &list1);
    const GtkAllocation log1 = AllocationOf(gui::GetDlgItem(main, ui::dlg::main::log));
    EXPECT_GT(list1.bottom - list1.top, list0.bottom - list0.top);
    EXPECT_GT(list1.right - list1.left, list0.right - list0.left);
    EXPECT_GT(log1.height, log0.height);
    EXPECT_GT(log1.width, log0.width);
    SettleLayout(main);
    EXPECT_TRUE(SettleUntil(clientMatches));
    CheckLayout(main, "enlarged main", problems);
    Screenshot(main, "main-enlarged");
    for (const auto& p : problems) ADD_FAILURE() << p;
}

// Answers the notices a batch shows when it ends (the prompt dialog), as a user would.
gboolean CloseNotices(gpointer) {
    HWND top = gui::GetForegroundWindow();
    if (top && ClassOf(top) == "#32770" && gui::GetDlgItem(top, 1244) && gui::IsWindowVisible(top))
        gui::PostMessageA(top, gui::WM_COMMAND, gui::IDOK, 0);
    return G_SOURCE_CONTINUE;
}

TEST_F(WindowLayout, MainAndStatisticsWindowsDuringABatch) {
    sqtest::Watchdog watchdog{100};
    sqtest::TempDir files;
    // Three minutes of stereo audio, then two short files: the batch is still on its first item
    // when the windows are checked.
    sqtest::WavSpec spec;
    spec.data = sqtest::Pcm16Ramp(44100 * 2 * 180);
    std::string commandLine = "\"" + files.write("concert.wav", sqtest::BuildWav(spec)) + "\"";
    spec.data = sqtest::Pcm16Ramp(44100 * 2 * 5);
    for (const char* name : {"interlude.wav", "encore.wav"}) commandLine += " \"" + files.write(name, sqtest::BuildWav(spec)) + "\"";
    ProgramOnDisplay program(commandLine);
    ASSERT_TRUE(program.started());
    HWND main = program.main();
    ASSERT_EQ(QueueCount(), 3);
    const std::string outDir = files.path().string() + "/out/";
    std::filesystem::create_directories(outDir);
    SetPrefInt("overall.audio.encoder", kEncLame);
    SetPrefInt("audioenc.lame.preset", 4);  // the slowest: the first item outlasts the checks
    SetPrefString("overall.task.destdir", outDir.c_str());
    SetPrefInt("overall.task.parallelize", 1);
    const guint closer = g_timeout_add(100, CloseNotices, nullptr);

    ASSERT_EQ(ui::StartTranscoding(), 0);
    QueueItem* first = QueueGetItem(0);
    ASSERT_TRUE(first);
    EXPECT_TRUE(SettleUntil([&] { return first->run.progress.load() > 2; }, 30000ms)) << "the first item never got going";
    ui::ShowStats(main);
    HWND stats = ui::StatsWindow().Handle();
    ASSERT_TRUE(stats);
    SettleUntil([] { return false; }, 1500ms);  // the figures of a few refreshes
    std::vector<std::string> problems;
    SettleLayout(main);
    CheckLayout(main, "main during a batch", problems);
    SettleLayout(stats);
    CheckLayout(stats, "statistics", problems);
    Screenshot(main, "main-batch");
    // Docked at the main window's right edge it lies partly beyond a 1024-pixel screen: dragged
    // into view as a user would, for its picture.
    gui::RECT r{};
    gui::GetWindowRect(stats, &r);
    if (r.right > kScreenWidth) gui::MoveWindow(stats, kScreenWidth - (r.right - r.left), r.top, r.right - r.left, r.bottom - r.top, 1);
    Screenshot(stats, "statistics");

    gui::SendMessageA(main, gui::WM_COMMAND, ui::cmd::stop, 0);  // Stop, as from the menu
    EXPECT_TRUE(SettleUntil([] { return GetEngineContext()->runningWorkers.load() == 0; }, 30000ms));
    ui::WaitWorkerThreads(20000);
    g_source_remove(closer);
    for (const auto& p : problems) ADD_FAILURE() << p;
}

}  // namespace
