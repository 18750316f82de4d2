// The desktop side of the GTK back-end: tray icons (shown only when a tray embeds them), their
// balloons through the desktop's notification library when it is installed, and drops of file
// lists and text onto windows that registered a drop target.
#include <dlfcn.h>

#include <chrono>
#include <map>
#include <thread>

#include "platform/gui/gtk/gtk_peer.h"

namespace gui::gtk::detail {

using namespace gui::detail;

namespace {

// GtkStatusIcon is the X11 tray protocol's widget; GTK marks it old, and it is what X11 has.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

struct TrayEntry {
    GtkStatusIcon* icon = nullptr;
    HWND hwnd = nullptr;
    UINT id = 0;
    UINT callback = 0;
};

std::map<std::pair<HWND, UINT>, TrayEntry*> g_tray;

void PostTray(const TrayEntry& e, UINT mouse) {
    if (e.callback && IsWindow(e.hwnd)) PostMessageA(e.hwnd, e.callback, e.id, mouse);
}

void OnTrayActivate(GtkStatusIcon*, gpointer data) { PostTray(*static_cast<TrayEntry*>(data), WM_LBUTTONUP); }
void OnTrayPopup(GtkStatusIcon*, guint, guint, gpointer data) { PostTray(*static_cast<TrayEntry*>(data), WM_RBUTTONUP); }

// A tray that appears later (the panel restarted): windows re-add their icons.
void OnTrayEmbedded(GObject* icon, GParamSpec*, gpointer) {
    if (!gtk_status_icon_is_embedded(GTK_STATUS_ICON(icon))) return;
    const UINT msg = RegisterWindowMessageA("TaskbarCreated");
    std::vector<HWND> tops;
    for (Window* w : S().topLevels) tops.push_back(w->handle);
    for (HWND h : tops) PostMessageA(h, msg, 0, 0);
}

// The notification library, loaded when present; balloons are dropped without it.
struct Notify {
    using InitFn = gboolean (*)(const char*);
    using NewFn = void* (*)(const char*, const char*, const char*);
    using ShowFn = gboolean (*)(void*, GError**);
    InitFn init = nullptr;
    NewFn create = nullptr;
    ShowFn show = nullptr;
    bool ready = false;
};

Notify& Notifier() {
    static Notify n = [] {
        Notify x;
        void* lib = dlopen("libnotify.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!lib) return x;
        x.init = reinterpret_cast<Notify::InitFn>(dlsym(lib, "notify_init"));
        x.create = reinterpret_cast<Notify::NewFn>(dlsym(lib, "notify_notification_new"));
        x.show = reinterpret_cast<Notify::ShowFn>(dlsym(lib, "notify_notification_show"));
        x.ready = x.init && x.create && x.show && x.init("sonquill");
        return x;
    }();
    return n;
}

void ShowBalloon(const Balloon& b) {
    Notify& n = Notifier();
    if (!n.ready) return;
    void* note = n.create(b.title.c_str(), b.text.c_str(), "dialog-information");
    if (!note) return;
    n.show(note, nullptr);
    g_object_unref(note);
}

// --- drops ---------------------------------------------------------------------------------------

enum DropKind : guint { kUriList = 1, kText = 2 };

void OnDragReceived(GtkWidget* widget, GdkDragContext* context, gint x, gint y, GtkSelectionData* data, guint kind,
                    guint time, gpointer user) {
    HWND h = static_cast<HWND>(user);
    DWORD effect = DROPEFFECT_NONE;
    GdkModifierType mods{};
    if (GdkWindow* win = gtk_widget_get_window(widget))
        gdk_window_get_device_position(win, gdk_drag_context_get_device(context), nullptr, nullptr, &mods);
    DWORD keys = MK_LBUTTON;
    if (mods & GDK_CONTROL_MASK) keys |= MK_CONTROL;
    if (mods & GDK_SHIFT_MASK) keys |= MK_SHIFT;
    POINT pt{x, y};
    ClientToScreen(h, &pt);
    if (kind == kUriList) {
        gchar** uris = gtk_selection_data_get_uris(data);
        const std::vector<std::string> files = FilesOfUris(uris);
        g_strfreev(uris);
        if (!files.empty()) effect = UserDrop(h, files, nullptr, keys, pt);
    } else if (guchar* text = gtk_selection_data_get_text(data)) {
        const std::string t(reinterpret_cast<char*>(text));
        g_free(text);
        effect = UserDrop(h, {}, &t, keys, pt);
    }
    gtk_drag_finish(context, effect != DROPEFFECT_NONE, FALSE, time);
}

G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace

std::vector<std::string> FilesOfUris(const gchar* const* uris) {
    std::vector<std::string> files;
    for (const gchar* const* u = uris; u && *u; ++u) {
        if (gchar* path = g_filename_from_uri(*u, nullptr, nullptr)) {  // local files only
            files.emplace_back(path);
            g_free(path);
        }
    }
    return files;
}

G_GNUC_BEGIN_IGNORE_DEPRECATIONS

bool AddTrayIcon(const TrayIcon& t) {
    auto* e = new TrayEntry{gtk_status_icon_new_from_icon_name("audio-x-generic"), t.hwnd, t.id, t.callback};
    gtk_status_icon_set_tooltip_text(e->icon, t.tip.c_str());
    // A tray takes the icon within moments; without one (a bare X server) there is no tray.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (!gtk_status_icon_is_embedded(e->icon) && std::chrono::steady_clock::now() < until) {
        ServeSent();
        if (!g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!gtk_status_icon_is_embedded(e->icon)) {
        g_object_unref(e->icon);
        delete e;
        return false;
    }
    g_signal_connect(e->icon, "activate", G_CALLBACK(OnTrayActivate), e);
    g_signal_connect(e->icon, "popup-menu", G_CALLBACK(OnTrayPopup), e);
    g_signal_connect(e->icon, "notify::embedded", G_CALLBACK(OnTrayEmbedded), nullptr);
    g_tray[{t.hwnd, t.id}] = e;
    return true;
}

void UpdateTrayIcon(const TrayIcon& t, bool newBalloon) {
    auto it = g_tray.find({t.hwnd, t.id});
    if (it == g_tray.end()) return;
    it->second->callback = t.callback;
    gtk_status_icon_set_tooltip_text(it->second->icon, t.tip.c_str());
    if (newBalloon && !t.balloons.empty()) ShowBalloon(t.balloons.back());
}

void RemoveTrayIcon(const TrayIcon& t) {
    auto it = g_tray.find({t.hwnd, t.id});
    if (it == g_tray.end()) return;
    g_object_unref(it->second->icon);
    delete it->second;
    g_tray.erase(it);
}

void ClearTrayIcons() {
    for (auto& [key, e] : g_tray) {
        g_object_unref(e->icon);
        delete e;
    }
    g_tray.clear();
}

G_GNUC_END_IGNORE_DEPRECATIONS

void SetDropTarget(HWND hwnd, bool on) {
    GtkPeer* p = PeerOf(hwnd);
    GtkWidget* widget = p ? (p->container ? p->container : p->control ? p->control : p->outer) : nullptr;
    if (!widget) return;
    if (!on) {
        gtk_drag_dest_unset(widget);
        g_signal_handlers_disconnect_by_func(widget, reinterpret_cast<gpointer>(OnDragReceived), hwnd);
        return;
    }
    static const GtkTargetEntry targets[] = {
        {const_cast<gchar*>("text/uri-list"), 0, kUriList},
        {const_cast<gchar*>("UTF8_STRING"), 0, kText},
        {const_cast<gchar*>("text/plain"), 0, kText},
    };
    gtk_drag_dest_set(widget, GTK_DEST_DEFAULT_ALL, targets, G_N_ELEMENTS(targets),
                      static_cast<GdkDragAction>(GDK_ACTION_COPY | GDK_ACTION_MOVE | GDK_ACTION_LINK));
    g_signal_connect(widget, "drag-data-received", G_CALLBACK(OnDragReceived), hwnd);
}

}  // namespace gui::gtk::detail
