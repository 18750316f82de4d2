// The GTK back-end's start-up and its join with the layer's loop: a GLib source that is ready when
// the UI thread's queue has work, keys queued for the program's accelerators before GTK sees them,
// and message boxes, file and folder choosers and popup menus run in the layer's own modal loop.
#include "platform/gui/gtk/gtk_backend.h"

#include <gdk/gdkx.h>

#include <clocale>
#include <cstdio>
#include <deque>
#include <fnmatch.h>

#include "platform/gui/gtk/gtk_peer.h"
#include "platform/gui/gtk/gtk_webview.h"

namespace gui::gtk {

using namespace gui::detail;
using namespace gui::gtk::detail;

namespace {

bool g_active = false;
bool g_passingKey = false;  // a key the program let through is being handed to GTK

// The UI thread's queue as a GLib source: ready while the queue holds work, so a loop idling in
// GLib returns for it; its poll time is the next timer's.
struct QueueSource {
    GSource base;
    uint32_t waitMs;
};

gboolean QueuePrepare(GSource* source, gint* timeout) {
    *timeout = static_cast<gint>(reinterpret_cast<QueueSource*>(source)->waitMs);
    return Backlog() > 0;
}
gboolean QueueCheck(GSource*) { return Backlog() > 0; }
gboolean QueueDispatch(GSource*, GSourceFunc, gpointer) { return G_SOURCE_CONTINUE; }
GSourceFuncs g_queueFuncs = {QueuePrepare, QueueCheck, QueueDispatch, nullptr, nullptr, nullptr};

void WakeDisplay() { g_main_context_wakeup(nullptr); }

// A key event kept until the program has seen its message.
struct HeldKey {
    DWORD seq;
    GdkEvent* event;
};

class GtkBackend final : public Backend {
public:
    GtkBackend() {
        source_ = reinterpret_cast<QueueSource*>(g_source_new(&g_queueFuncs, sizeof(QueueSource)));
        source_->waitMs = 50;
        g_source_attach(&source_->base, nullptr);
    }
    ~GtkBackend() override;

    void Created(Window& w) override;
    void Destroying(Window&) override {}

    void Flush() override {
        State& s = S();
        while (!s.changed.empty()) {
            std::set<uintptr_t> batch;
            batch.swap(s.changed);
            for (uintptr_t h : batch)
                if (Window* w = Raw(reinterpret_cast<HWND>(h))) SyncWidgets(*w);
        }
    }

    void Wait(uint32_t ms) override {
        source_->waitMs = ms;
        g_main_context_iteration(nullptr, TRUE);
    }

    void Wake() override { WakeDisplay(); }

    void KeyDispatched(const MSG& msg) override {
        for (auto it = held_.begin(); it != held_.end(); ++it) {
            if (it->seq != msg.time) continue;
            GdkEvent* e = it->event;
            held_.erase(it);
            // List views move their selection in the model; the widget follows it.
            if (Window* w = Raw(msg.hwnd); w && KindOf(*w) == ControlKind::ListView) {
                gdk_event_free(e);
                return;
            }
            g_passingKey = true;
            gtk_main_do_event(e);
            g_passingKey = false;
            gdk_event_free(e);
            return;
        }
    }

    bool TrayAdd(const TrayIcon& icon) override { return AddTrayIcon(icon); }
    void TrayChanged(const TrayIcon& icon, bool newBalloon) override { UpdateTrayIcon(icon, newBalloon); }
    void TrayRemoved(const TrayIcon& icon) override { RemoveTrayIcon(icon); }
    void DropTarget(HWND hwnd, bool on) override { SetDropTarget(hwnd, on); }
    std::unique_ptr<WebView> CreateWebView(Window& w, WebViewOptions options) override {
        Flush();
        return MakeWebView(w.handle, std::move(options));
    }
    bool HasWebView() const override { return true; }

    uint64_t NativeId(Window& w) override {
        GtkPeer* p = PeerOf(&w);
        GtkWidget* widget = p ? (p->container ? p->container : p->outer) : nullptr;
        if (!widget) return 0;
        Flush();
        if (!gtk_widget_get_realized(widget)) return 0;
        GdkWindow* gw = gtk_widget_get_window(widget);
        if (!gw || !gdk_window_ensure_native(gw)) return 0;
        // Another process draws into it next: the server must know the window first.
        gdk_display_sync(gdk_window_get_display(gw));
        return GDK_WINDOW_XID(gw);
    }

    // Queues a key for the program (accelerators first); the event goes to GTK when dispatched.
    bool HoldKey(HWND top, GdkEventKey* e, bool down) {
        const UINT vk = VirtualKeyOf(e->keyval);
        if (!vk) return false;
        // The control that has GTK's keyboard focus, else the model's focus, else the window.
        HWND target = nullptr;
        if (GtkPeer* p = PeerOf(top); p && p->top) target = HandleOfWidget(gtk_window_get_focus(GTK_WINDOW(p->outer)));
        if (!target) target = GetFocus();
        if (!target) target = top;
        if (!target) return false;
        const bool alt = (e->state & GDK_MOD1_MASK) != 0 || vk == VK_MENU;
        State& s = S();
        std::lock_guard lk(s.lock);
        // The modifiers the event carries reach the queue first, so accelerators see them even
        // when their own key events went elsewhere (a press before the window had the focus).
        if (vk != VK_CONTROL && vk != VK_SHIFT && vk != VK_MENU) {
            const std::pair<UINT, guint> mods[] = {{VK_CONTROL, GDK_CONTROL_MASK}, {VK_SHIFT, GDK_SHIFT_MASK}, {VK_MENU, GDK_MOD1_MASK}};
            for (auto [mod, mask] : mods) {
                const bool held = (e->state & mask) != 0;
                if (held == (queuedMods_.count(mod) != 0)) continue;
                MSG k{};
                k.hwnd = target;
                k.message = held ? WM_KEYDOWN : WM_KEYUP;
                k.wParam = mod;
                s.input.push_back(k);
                if (held) queuedMods_.insert(mod);
                else queuedMods_.erase(mod);
            }
        } else if (down) {
            queuedMods_.insert(vk);
        } else {
            queuedMods_.erase(vk);
        }
        MSG m{};
        m.hwnd = target;
        m.message = down ? (alt ? WM_SYSKEYDOWN : WM_KEYDOWN) : (alt ? WM_SYSKEYUP : WM_KEYUP);
        m.wParam = vk;
        m.lParam = down ? 1 : static_cast<LPARAM>(0xC0000001u);
        m.time = ++keySeq_;
        if (held_.size() >= 64) {  // keys an accelerator took are never dispatched
            gdk_event_free(held_.front().event);
            held_.pop_front();
        }
        held_.push_back(HeldKey{m.time, gdk_event_copy(reinterpret_cast<GdkEvent*>(e))});
        s.input.push_back(m);
        return true;
    }

private:
    QueueSource* source_ = nullptr;
    std::deque<HeldKey> held_;
    DWORD keySeq_ = 0;
    std::set<UINT> queuedMods_;  // modifier keys down, as the queued messages leave them
};

GtkBackend* g_backend = nullptr;

gboolean OnKeyEvent(GtkWidget* widget, GdkEventKey* e, gpointer);

void GtkBackend::Created(Window& w) {
    CreateWidgets(w);
    GtkPeer* p = PeerOf(&w);
    if (p && p->top) {
        g_signal_connect(p->outer, "key-press-event", G_CALLBACK(OnKeyEvent), nullptr);
        g_signal_connect(p->outer, "key-release-event", G_CALLBACK(OnKeyEvent), nullptr);
    }
}

GtkBackend::~GtkBackend() {
    SetDisplayWake(nullptr);
    S().boxResponder = nullptr;
    S().fileResponder = nullptr;
    S().folderResponder = nullptr;
    S().popupResponder = nullptr;
    ClearTrayIcons();
    g_backend = nullptr;
    g_active = false;
    for (auto& k : held_) gdk_event_free(k.event);
    g_source_destroy(&source_->base);
    g_source_unref(&source_->base);
    for (int i = 0; i < 500 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
}

// Key presses reach the program's queue before any widget: accelerators apply first.
gboolean OnKeyEvent(GtkWidget* widget, GdkEventKey* e, gpointer) {
    if (g_passingKey || !g_backend) return FALSE;
    HWND top = HandleOfWidget(widget);
    Window* w = Raw(top);
    if (!w || !CanTakeInput(*w)) return FALSE;
    return g_backend->HoldKey(top, e, e->type == GDK_KEY_PRESS) ? TRUE : FALSE;
}

// The dialog font and compact controls (GTK 3's default theme gives a button 34 pixels of height).
constexpr const char* kDialogCss =
    "* { font: 9pt Sans; }\n"
    "button { min-height: 0; min-width: 0; padding: 1px 4px; }\n"
    "entry { min-height: 0; padding: 0 3px; }\n"
    "combobox button { min-height: 0; padding: 0 4px; }\n"
    "checkbutton, radiobutton { min-height: 0; padding: 0; }\n"
    "notebook > header > tabs > tab { min-height: 0; min-width: 0; padding: 1px 6px; }\n"
    "scale { padding: 4px 6px; }\n"
    "progressbar.horizontal > trough { min-width: 1px; }\n";

// Dialog units from the font the widgets show: the average width of the letters and the line
// height (a unit is a quarter of the first and an eighth of the second), and the height of a
// closed combo box in that font.
void MeasureDialogFont(State& s) {
    InitOptions& options = s.options;
    GtkWidget* label = gtk_label_new(nullptr);
    g_object_ref_sink(label);
    PangoLayout* layout = gtk_widget_create_pango_layout(label, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    if (width > 0 && height > 0) {
        options.baseUnitX = (width / 26 + 1) / 2;
        options.baseUnitY = height;
    }
    g_object_unref(layout);
    g_object_unref(label);
    GtkWidget* combo = gtk_combo_box_text_new();
    g_object_ref_sink(combo);
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), "Ag");
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), 0);
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height(combo, &minimum, &natural);
    if (natural > 0) s.comboHeight = natural;
    g_object_unref(combo);
}

// Runs the layer's modal loop until done holds (or a quit ends it).
void RunUntil(const bool& done) { RunModalLoop([&] { return done; }); }

GtkWindow* WindowOf(HWND owner) {
    Window* w = owner ? RootOf(Raw(owner)) : nullptr;
    GtkPeer* p = PeerOf(w);
    return p && p->top ? GTK_WINDOW(p->outer) : nullptr;
}

struct DialogRun {
    int response = GTK_RESPONSE_NONE;
    bool done = false;
};

void OnResponse(GtkDialog*, gint response, gpointer data) {
    auto* run = static_cast<DialogRun*>(data);
    run->response = response;
    run->done = true;
}

int RunDialog(GtkWidget* dialog) {
    DialogRun run;
    g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), &run);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_widget_show_all(dialog);
    RunUntil(run.done);
    g_signal_handlers_disconnect_by_data(dialog, &run);
    return run.done ? run.response : GTK_RESPONSE_DELETE_EVENT;
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
    const UINT icon = type & 0xF0;
    const GtkMessageType kind = icon == MB_ICONQUESTION      ? GTK_MESSAGE_QUESTION
                                : icon == MB_ICONWARNING     ? GTK_MESSAGE_WARNING
                                : icon == MB_ICONERROR       ? GTK_MESSAGE_ERROR
                                                             : GTK_MESSAGE_INFO;
    GtkWidget* box = gtk_message_dialog_new(WindowOf(owner), GTK_DIALOG_DESTROY_WITH_PARENT, kind, GTK_BUTTONS_NONE, "%s",
                                            text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
    if (type & MB_SYSTEMMODAL) gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    struct Choice {
        const char* label;
        int id;
    };
    std::vector<Choice> choices;
    switch (type & MB_TYPEMASK) {
    case MB_YESNO: choices = {{"_Yes", IDYES}, {"_No", IDNO}}; break;
    case MB_YESNOCANCEL: choices = {{"_Yes", IDYES}, {"_No", IDNO}, {"_Cancel", IDCANCEL}}; break;
    case MB_OKCANCEL: choices = {{"_OK", IDOK}, {"_Cancel", IDCANCEL}}; break;
    default: choices = {{"_OK", IDOK}}; break;
    }
    for (const auto& c : choices) gtk_dialog_add_button(GTK_DIALOG(box), c.label, c.id);
    gtk_dialog_set_default_response(GTK_DIALOG(box), choices.front().id);
    const bool reenable = owner && IsWindowEnabled(owner);
    if (reenable) EnableWindow(owner, FALSE);
    const int r = RunDialog(box);
    gtk_widget_destroy(box);
    if (reenable && IsWindow(owner)) EnableWindow(owner, TRUE);
    return r > 0 ? r : SafeMessageBoxAnswer(type);  // closing the box is the safe answer
}

// "*.*" means every file; patterns match without case.
gboolean PatternFilter(const GtkFileFilterInfo* info, gpointer data) {
    const std::string& patterns = *static_cast<std::string*>(data);
    const char* name = info->display_name;
    if (!name) return FALSE;
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t end = patterns.find(';', start);
        if (end == std::string::npos) end = patterns.size();
        std::string p = patterns.substr(start, end - start);
        while (!p.empty() && p.front() == ' ') p.erase(p.begin());
        if (p == "*.*") p = "*";
        if (!p.empty() && fnmatch(p.c_str(), name, FNM_CASEFOLD) == 0) return TRUE;
        start = end + 1;
    }
    return FALSE;
}

std::optional<std::vector<std::string>> ChooseFiles(const FileDialogRequest& r, GtkFileChooserAction action) {
    const bool save = action == GTK_FILE_CHOOSER_ACTION_SAVE;
    GtkWidget* dlg = gtk_file_chooser_dialog_new(r.title.c_str(), WindowOf(r.owner), action, "_Cancel",
                                                 GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT,
                                                 nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dlg);
    gtk_file_chooser_set_select_multiple(chooser, r.multiple);
    if (save) gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    if (!r.initialDir.empty()) gtk_file_chooser_set_current_folder(chooser, r.initialDir.c_str());
    if (save && !r.initialName.empty()) gtk_file_chooser_set_current_name(chooser, r.initialName.c_str());
    std::vector<std::unique_ptr<std::string>> patterns;
    for (size_t i = 0; i < r.filters.size(); ++i) {
        GtkFileFilter* f = gtk_file_filter_new();
        gtk_file_filter_set_name(f, r.filters[i].first.c_str());
        patterns.push_back(std::make_unique<std::string>(r.filters[i].second));
        gtk_file_filter_add_custom(f, GTK_FILE_FILTER_DISPLAY_NAME, PatternFilter, patterns.back().get(), nullptr);
        gtk_file_chooser_add_filter(chooser, f);
        if (static_cast<int>(i) == r.filterIndex) gtk_file_chooser_set_filter(chooser, f);
    }
    const int response = RunDialog(dlg);
    std::optional<std::vector<std::string>> chosen;
    if (response == GTK_RESPONSE_ACCEPT) {
        chosen.emplace();
        GSList* names = gtk_file_chooser_get_filenames(chooser);
        for (GSList* l = names; l; l = l->next) chosen->push_back(static_cast<char*>(l->data));
        g_slist_free_full(names, g_free);
    }
    gtk_widget_destroy(dlg);
    return chosen;
}

struct PopupRun {
    UINT chosen = 0;
    bool done = false;
};

void OnPopupDone(GtkMenuShell*, gpointer data) { static_cast<PopupRun*>(data)->done = true; }

UINT ShowPopup(HMENU menu, POINT at) {
    PopupRun run;
    GtkWidget* m = gtk_menu_new();
    g_object_ref_sink(m);
    FillMenu(GTK_MENU_SHELL(m), menu, &run.chosen, nullptr);
    gtk_widget_show_all(m);
    g_signal_connect(m, "deactivate", G_CALLBACK(OnPopupDone), &run);
    // Anchored to the window under the point, or the active window's.
    GtkPeer* p = PeerOf(Raw(GetForegroundWindow()));
    GdkWindow* anchor = p && p->top ? gtk_widget_get_window(p->outer) : nullptr;
    if (anchor) {
        int ox = 0, oy = 0;
        gdk_window_get_origin(anchor, &ox, &oy);
        GdkRectangle rect{at.x - ox, at.y - oy, 1, 1};
        gtk_menu_popup_at_rect(GTK_MENU(m), anchor, &rect, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST, nullptr);
    } else {
        gtk_menu_popup_at_pointer(GTK_MENU(m), nullptr);
    }
    if (gtk_widget_get_visible(m)) RunUntil(run.done);
    g_signal_handlers_disconnect_by_data(m, &run);
    gtk_widget_destroy(m);
    g_object_unref(m);
    return run.chosen;
}

struct MenuChoice {
    UINT id;
    UINT* chosen;
    HWND owner;
    HMENU bar;
};

bool g_refreshingMenu = false;  // check marks set from the model are no user's choice

void OnMenuActivate(GtkMenuItem*, gpointer data) {
    if (g_refreshingMenu) return;
    auto* c = static_cast<MenuChoice*>(data);
    if (c->chosen) *c->chosen = c->id;
    else if (IsWindow(c->owner)) ChooseMenuItem(c->owner, c->bar, c->id, false);
}

}  // namespace

namespace detail {

void FillMenu(GtkMenuShell* shell, HMENU menu, UINT* chosen, HWND owner) {
    State& s = S();
    auto it = s.menus.find(reinterpret_cast<uintptr_t>(menu));
    if (it == s.menus.end()) return;
    // Every command item can show a check mark (the program sets marks while a menu opens); the
    // theme draws a box for an unchecked one, which is hidden.
    static const bool styled = [] {
        GtkCssProvider* css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css,
                                        "menuitem check:not(:checked) { -gtk-icon-source: none; background: none;"
                                        " border-color: transparent; box-shadow: none; }",
                                        -1, nullptr);
        gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        g_object_unref(css);
        return true;
    }();
    (void)styled;
    for (const MenuItem& item : it->second->items) {
        GtkWidget* widget;
        if (item.separator) {
            widget = gtk_separator_menu_item_new();
        } else {
            const std::string text = item.text.substr(0, item.text.find('\t'));
            if (item.submenu) {
                widget = gtk_menu_item_new_with_mnemonic(MnemonicText(text).c_str());
            } else {
                widget = gtk_check_menu_item_new_with_mnemonic(MnemonicText(text).c_str());
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item.checked);
            }
            if (const size_t tab = item.text.find('\t'); tab != std::string::npos) {
                GtkWidget* label = gtk_bin_get_child(GTK_BIN(widget));
                GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
                g_object_ref(label);
                gtk_container_remove(GTK_CONTAINER(widget), label);
                gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
                g_object_unref(label);
                GtkWidget* keys = gtk_label_new(item.text.substr(tab + 1).c_str());
                gtk_label_set_xalign(GTK_LABEL(keys), 1.0f);
                gtk_box_pack_end(GTK_BOX(box), keys, FALSE, FALSE, 0);
                gtk_container_add(GTK_CONTAINER(widget), box);
            }
            gtk_widget_set_sensitive(widget, !item.grayed && !item.disabled);
            if (item.submenu) {
                GtkWidget* sub = gtk_menu_new();
                FillMenu(GTK_MENU_SHELL(sub), item.submenu, chosen, owner);
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), sub);
            } else {
                auto* choice = new MenuChoice{item.id, chosen, owner, menu};
                g_signal_connect_data(widget, "activate", G_CALLBACK(OnMenuActivate), choice,
                                      [](gpointer d, GClosure*) { delete static_cast<MenuChoice*>(d); }, GConnectFlags{});
            }
        }
        gtk_menu_shell_append(shell, widget);
    }
}

void RefreshMenu(GtkMenuShell* shell, HMENU menu) {
    auto it = S().menus.find(reinterpret_cast<uintptr_t>(menu));
    if (it == S().menus.end()) return;
    const std::vector<MenuItem>& items = it->second->items;
    GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
    size_t i = 0;
    for (GList* l = children; l && i < items.size(); l = l->next, ++i) {
        GtkWidget* widget = GTK_WIDGET(l->data);
        const MenuItem& item = items[i];
        if (item.separator) continue;
        gtk_widget_set_sensitive(widget, !item.grayed && !item.disabled);
        if (GTK_IS_CHECK_MENU_ITEM(widget)) {
            // Setting the state activates the item: that is no choice of the user's.
            g_refreshingMenu = true;
            gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(widget), item.checked);
            g_refreshingMenu = false;
        }
        if (GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget)); sub && item.submenu)
            RefreshMenu(GTK_MENU_SHELL(sub), item.submenu);
    }
    g_list_free(children);
}

UINT VirtualKeyOf(guint keyval) {
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) return 'A' + (keyval - GDK_KEY_a);
    if (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) return 'A' + (keyval - GDK_KEY_A);
    if (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9) return '0' + (keyval - GDK_KEY_0);
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12) return VK_F1 + (keyval - GDK_KEY_F1);
    switch (keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter: return VK_RETURN;
    case GDK_KEY_Escape: return VK_ESCAPE;
    case GDK_KEY_Insert: return VK_INSERT;
    case GDK_KEY_Delete: return VK_DELETE;
    case GDK_KEY_BackSpace: return VK_BACK;
    case GDK_KEY_Tab: return VK_TAB;
    case GDK_KEY_space: return VK_SPACE;
    case GDK_KEY_Page_Up: return VK_PRIOR;
    case GDK_KEY_Page_Down: return VK_NEXT;
    case GDK_KEY_Home: return VK_HOME;
    case GDK_KEY_End: return VK_END;
    case GDK_KEY_Left: return VK_LEFT;
    case GDK_KEY_Right: return VK_RIGHT;
    case GDK_KEY_Up: return VK_UP;
    case GDK_KEY_Down: return VK_DOWN;
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R: return VK_SHIFT;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R: return VK_CONTROL;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Alt_R: return VK_MENU;
    default: return 0;
    }
}

}  // namespace detail

GtkWidget* WidgetOf(HWND hwnd) {
    GtkPeer* p = PeerOf(hwnd);
    return p ? p->outer : nullptr;
}

GtkWidget* ControlOf(HWND hwnd) {
    GtkPeer* p = PeerOf(hwnd);
    return p ? (p->control ? p->control : p->outer) : nullptr;
}

GtkWidget* ContainerOf(HWND hwnd) {
    GtkPeer* p = PeerOf(hwnd);
    return p ? p->container : nullptr;
}

bool Active() { return g_active; }

void Settle() {
    if (!g_backend || !OnUi()) return;
    for (int round = 0; round < 4; ++round) {
        g_backend->Flush();
        // Bounded: the queue's source stays ready while the layer's own queue holds messages.
        for (int i = 0; i < 500 && g_main_context_iteration(nullptr, FALSE); ++i) {
        }
        gdk_display_sync(gdk_display_get_default());
    }
}

}  // namespace gui::gtk

namespace gui::detail {

std::unique_ptr<Backend> StartGtkBackend() {
    using namespace gui::gtk;
    // Video windows (-wid) and the tray need X11 windows.
    static bool initialized = false;  // GTK is set up once per process; the layer may start again
    if (!initialized) gdk_set_allowed_backends("x11");
    // Numbers the program writes and reads keep '.', whatever the user's numeric locale.
    if (!initialized) gtk_disable_setlocale();
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    if (!gtk_init_check(nullptr, nullptr)) return nullptr;
    initialized = true;
    // The dialog font, and controls as compact as those templates are drawn for: the theme's
    // padding and minimum sizes would make a control larger than the rectangle it is given.
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, kDialogCss, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
    State& s = S();
    MeasureDialogFont(s);
    GdkRectangle area{};
    if (GdkMonitor* mon = gdk_display_get_primary_monitor(gdk_display_get_default())) {
        gdk_monitor_get_workarea(mon, &area);
        s.options.workArea = RECT{area.x, area.y, area.x + area.width, area.y + area.height};
        gdk_monitor_get_geometry(mon, &area);
        s.options.screen = RECT{area.x, area.y, area.x + area.width, area.y + area.height};
    }
    auto backend = std::make_unique<gtk::GtkBackend>();
    gtk::g_backend = backend.get();
    gtk::g_active = true;
    SetDisplayWake(gtk::WakeDisplay);
    s.boxResponder = gtk::ShowMessageBox;
    s.fileResponder = [](const FileDialogRequest& r) {
        return gtk::ChooseFiles(r, r.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN);
    };
    s.folderResponder = [](const FileDialogRequest& r) -> std::optional<std::string> {
        auto chosen = gtk::ChooseFiles(r, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
        if (!chosen || chosen->empty()) return std::nullopt;
        return chosen->front();
    };
    s.popupResponder = gtk::ShowPopup;
    return backend;
}

}  // namespace gui::detail

// The module's entry, looked up by name when the program opens this back-end.
extern "C" gui::detail::Backend* sqgui_StartGtkBackend() { return gui::detail::StartGtkBackend().release(); }
