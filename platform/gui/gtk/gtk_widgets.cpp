// Each window of the model as GTK widgets. Widgets are made when the window is, set from the model
// whenever it changed (with the peer's suppress counter raised, so the signals that setting raises
// are not taken for the user's), and their user signals become the layer's user actions, which
// change the model and notify the parent once.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gui/controls_model.h"
#include "platform/gui/gtk/gtk_peer.h"
#include "platform/gui/views_model.h"

// Where a window's children go: a GtkFixed that asks for no room of its own and has a display
// window of its own, so a window can be made smaller than what it holds and what lies outside a
// child dialog is cut off instead of drawn over its neighbours. The layer places every child.
struct SqFixed {
    GtkFixed parent;
};
struct SqFixedClass {
    GtkFixedClass parent_class;
};
G_DEFINE_TYPE(SqFixed, sq_fixed, GTK_TYPE_FIXED)

static void sq_fixed_preferred(GtkWidget*, gint* minimum, gint* natural) { *minimum = *natural = 1; }
static void sq_fixed_class_init(SqFixedClass* k) {
    GTK_WIDGET_CLASS(k)->get_preferred_width = sq_fixed_preferred;
    GTK_WIDGET_CLASS(k)->get_preferred_height = sq_fixed_preferred;
}
static void sq_fixed_init(SqFixed* self) { gtk_widget_set_has_window(GTK_WIDGET(self), TRUE); }

namespace gui::gtk::detail {

using namespace gui::detail;

namespace {

GtkWidget* NewContainer() { return GTK_WIDGET(g_object_new(sq_fixed_get_type(), nullptr)); }

constexpr const char* kHandleKey = "sq-hwnd";
constexpr DWORD kStaticTypeMask = 0x1F;

HWND HandleData(gpointer data) { return static_cast<HWND>(data); }

// The peer of the window a signal is for, when the signal is the user's.
GtkPeer* UserPeer(gpointer data) {
    GtkPeer* p = PeerOf(HandleData(data));
    return p && p->suppress == 0 ? p : nullptr;
}

void Tag(GtkWidget* widget, HWND h) { g_object_set_data(G_OBJECT(widget), kHandleKey, h); }

unsigned ModsOf(guint state) {
    unsigned mods = kNoMods;
    if (state & GDK_CONTROL_MASK) mods |= kCtrl;
    if (state & GDK_SHIFT_MASK) mods |= kShift;
    if (state & GDK_MOD1_MASK) mods |= kAlt;
    return mods;
}

std::string ToWidgetText(const std::string& text) {  // CR LF -> LF
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

std::string FromWidgetText(const std::string& text) {  // LF -> CR LF
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

std::string EditText(GtkPeer& p) {
    if (GTK_IS_ENTRY(p.control)) return gtk_entry_get_text(GTK_ENTRY(p.control));
    GtkTextBuffer* b = gtk_text_view_get_buffer(GTK_TEXT_VIEW(p.control));
    GtkTextIter a, z;
    gtk_text_buffer_get_bounds(b, &a, &z);
    gchar* t = gtk_text_buffer_get_text(b, &a, &z, TRUE);
    std::string s = FromWidgetText(t);
    g_free(t);
    return s;
}

// --- user signals ------------------------------------------------------------------------------

void OnClicked(GtkButton*, gpointer data) {
    if (UserPeer(data)) UserClick(HandleData(data));
    if (Window* w = Raw(HandleData(data))) MarkChanged(*w);
}

gboolean OnStaticRelease(GtkWidget*, GdkEventButton* e, gpointer data) {
    if (e->button == 1 && UserPeer(data)) UserClick(HandleData(data));
    return FALSE;
}

void OnEditChanged(gpointer data) {
    GtkPeer* p = UserPeer(data);
    Window* w = Raw(HandleData(data));
    if (!p || !w) return;
    const std::string text = EditText(*p);
    if (text != w->text) UserReplaceText(w->handle, text);
    if ((w = Raw(HandleData(data)))) MarkChanged(*w);
}

void OnEntryChanged(GtkEditable*, gpointer data) { OnEditChanged(data); }
void OnBufferChanged(GtkTextBuffer*, gpointer data) { OnEditChanged(data); }

void OnComboChanged(GtkComboBox* box, gpointer data) {
    GtkPeer* p = UserPeer(data);
    Window* w = Raw(HandleData(data));
    auto* m = ModelOf<ComboModel>(w);
    if (!p || !m) return;
    const int active = gtk_combo_box_get_active(box);
    if (active >= 0 && active != m->index) {
        UserPickCombo(w->handle, active);
    } else if (active < 0 && gtk_combo_box_get_has_entry(box)) {
        const std::string text = gtk_entry_get_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(box))));
        if (text != m->edit) UserReplaceText(w->handle, text);
    }
    if ((w = Raw(HandleData(data)))) MarkChanged(*w);
}

std::vector<int> SelectedRows(GtkTreeView* view) {
    std::vector<int> rows;
    GList* paths = gtk_tree_selection_get_selected_rows(gtk_tree_view_get_selection(view), nullptr);
    for (GList* l = paths; l; l = l->next) rows.push_back(gtk_tree_path_get_indices(static_cast<GtkTreePath*>(l->data))[0]);
    g_list_free_full(paths, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
    return rows;
}

void OnListSelection(GtkTreeSelection* sel, gpointer data) {
    GtkPeer* p = UserPeer(data);
    Window* w = Raw(HandleData(data));
    auto* m = ModelOf<ListModel>(w);
    if (!p || !m) return;
    std::vector<int> rows = SelectedRows(gtk_tree_selection_get_tree_view(sel));
    std::vector<int> model;
    if (w->style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) {
        for (size_t i = 0; i < m->selected.size(); ++i)
            if (m->selected[i]) model.push_back(static_cast<int>(i));
    } else if (m->index >= 0) {
        model.push_back(m->index);
    }
    if (rows != model) {
        // A new single row is a plain pick; a row added to or taken from the set is a Ctrl pick.
        std::vector<int> diff;
        std::set_symmetric_difference(rows.begin(), rows.end(), model.begin(), model.end(), std::back_inserter(diff));
        if (rows.size() == 1) UserPickList(w->handle, rows[0], kNoMods);
        else if (!diff.empty()) UserPickList(w->handle, diff[0], kCtrl);
    }
    if ((w = Raw(HandleData(data)))) MarkChanged(*w);
}

void OnScaleValue(GtkRange* range, gpointer data) {
    GtkPeer* p = UserPeer(data);
    auto* m = ModelOf<TrackModel>(Raw(HandleData(data)));
    if (!p || !m) return;
    const int v = static_cast<int>(std::lround(gtk_range_get_value(range)));
    if (v != m->pos || !p->dragged.empty()) p->dragged.push_back(v);
}

gboolean OnScaleRelease(GtkWidget*, GdkEventButton*, gpointer data) {
    GtkPeer* p = UserPeer(data);
    if (!p || p->dragged.empty()) return FALSE;
    std::vector<int> positions;
    positions.swap(p->dragged);
    UserDragTrack(HandleData(data), positions);
    if (Window* w = Raw(HandleData(data))) MarkChanged(*w);
    return FALSE;
}

void OnSwitchPage(GtkNotebook*, GtkWidget*, guint page, gpointer data) {
    if (!UserPeer(data)) return;
    UserPickTab(HandleData(data), static_cast<int>(page));
    if (Window* w = Raw(HandleData(data))) MarkChanged(*w);  // a veto switches back
}

gboolean OnListViewPress(GtkWidget* widget, GdkEventButton* e, gpointer data) {
    if (!UserPeer(data)) return TRUE;
    GtkTreePath* path = nullptr;
    int row = -1;
    if (gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(widget), static_cast<gint>(e->x), static_cast<gint>(e->y), &path,
                                      nullptr, nullptr, nullptr)) {
        row = gtk_tree_path_get_indices(path)[0];
        gtk_tree_path_free(path);
    }
    HWND h = HandleData(data);
    S().cursorPos = POINT{static_cast<LONG>(e->x_root), static_cast<LONG>(e->y_root)};  // a row menu opens here
    if (e->type == GDK_2BUTTON_PRESS && e->button == 1) UserDoubleClickRow(h, row);
    else if (e->type == GDK_BUTTON_PRESS && (e->button == 1 || e->button == 3))
        UserClickRow(h, row, e->button == 3, ModsOf(e->state));
    if (Window* w = Raw(h)) MarkChanged(*w);
    gtk_widget_grab_focus(widget);
    return TRUE;  // the model owns the selection
}

void OnRowToggled(GtkCellRendererToggle*, gchar* path, gpointer data) {
    if (!UserPeer(data)) return;
    UserToggleRowCheck(HandleData(data), std::atoi(path));
    if (Window* w = Raw(HandleData(data))) MarkChanged(*w);
}

// A header click; the column's index is kept on the column.
void OnColumnClicked(GtkTreeViewColumn* column, gpointer data) {
    if (!UserPeer(data)) return;
    UserClickColumn(HandleData(data), GPOINTER_TO_INT(g_object_get_data(G_OBJECT(column), "sq-column")));
    if (Window* w = Raw(HandleData(data))) MarkChanged(*w);
}

HTREEITEM ItemAt(GtkTreeModel* model, GtkTreeIter* it) {
    gpointer item = nullptr;
    gtk_tree_model_get(model, it, 1, &item, -1);
    return static_cast<HTREEITEM>(item);
}

void OnTreeSelection(GtkTreeSelection* sel, gpointer data) {
    if (!UserPeer(data)) return;
    GtkTreeModel* model = nullptr;
    GtkTreeIter it;
    auto* m = ModelOf<TreeViewModel>(Raw(HandleData(data)));
    if (!m || !gtk_tree_selection_get_selected(sel, &model, &it)) return;
    HTREEITEM item = ItemAt(model, &it);
    if (item != m->selected) UserSelectTreeItem(HandleData(data), item, true);
    if (Window* w = Raw(HandleData(data))) MarkChanged(*w);
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    Window* w = Raw(HandleData(data));
    if (w && CanTakeInput(*w)) SendMessageA(w->handle, WM_CLOSE, 0, 0);
    return TRUE;  // the window procedure decides whether it goes
}

// The keyboard moved a trackbar: the layer's key action instead of GTK's own move.
void OnMoveSlider(GtkRange* range, GtkScrollType scroll, gpointer data) {
    g_signal_stop_emission_by_name(range, "move-slider");
    if (!UserPeer(data)) return;
    const bool vertical = gtk_orientable_get_orientation(GTK_ORIENTABLE(range)) == GTK_ORIENTATION_VERTICAL;
    UINT vk = 0;
    switch (scroll) {
    case GTK_SCROLL_STEP_BACKWARD:
    case GTK_SCROLL_STEP_LEFT:
    case GTK_SCROLL_STEP_UP: vk = vertical ? VK_UP : VK_LEFT; break;
    case GTK_SCROLL_STEP_FORWARD:
    case GTK_SCROLL_STEP_RIGHT:
    case GTK_SCROLL_STEP_DOWN: vk = vertical ? VK_DOWN : VK_RIGHT; break;
    case GTK_SCROLL_PAGE_BACKWARD:
    case GTK_SCROLL_PAGE_UP:
    case GTK_SCROLL_PAGE_LEFT: vk = VK_PRIOR; break;
    case GTK_SCROLL_PAGE_FORWARD:
    case GTK_SCROLL_PAGE_DOWN:
    case GTK_SCROLL_PAGE_RIGHT: vk = VK_NEXT; break;
    case GTK_SCROLL_START: vk = VK_HOME; break;
    case GTK_SCROLL_END: vk = VK_END; break;
    default: return;
    }
    UserKeyTrack(HandleData(data), vk);
    if (Window* w = Raw(HandleData(data))) MarkChanged(*w);
}

// GTK moved the keyboard focus (a click, Tab): the model's focus follows.
gboolean OnFocusIn(GtkWidget*, GdkEvent*, gpointer data) {
    HWND h = HandleData(data);
    if (Raw(h) && GetFocus() != h) SetFocus(h);
    return FALSE;
}

// The height the menu bar takes above a top-level's client area (none without a shown bar).
int MenuBarHeight(const GtkPeer& p) {
    if (!p.menuBar || !gtk_widget_get_visible(p.menuBar)) return 0;
    int minimum = 0, natural = 0;
    gtk_widget_get_preferred_height(p.menuBar, &minimum, &natural);
    return natural;
}

gboolean OnConfigure(GtkWidget*, GdkEventConfigure* e, gpointer data) {
    GtkPeer* p = UserPeer(data);
    Window* w = Raw(HandleData(data));
    if (!p || !w || w->showState != SW_SHOWNORMAL) return FALSE;
    RECT client;
    GetClientRect(w->handle, &client);
    const int height = e->height - MenuBarHeight(*p);
    if (e->width != client.right || height != client.bottom) {
        const int dw = e->width - client.right, dh = height - client.bottom;
        MoveWindow(w->handle, w->rect.left, w->rect.top, w->rect.right - w->rect.left + dw,
                   w->rect.bottom - w->rect.top + dh, TRUE);
        // The display already has this size: nothing to give back to it.
        if ((w = Raw(HandleData(data))) && (p = PeerOf(w))) p->placedRect = w->rect;
    }
    return FALSE;
}

gboolean OnMouse(GtkWidget* widget, GdkEventButton* e, gpointer data) {
    HWND h = HandleData(data);
    Window* w = Raw(h);
    if (!w || !CanTakeInput(*w) || e->button > 3 || e->type == GDK_2BUTTON_PRESS || e->type == GDK_3BUTTON_PRESS) return FALSE;
    (void)widget;
    S().cursorPos = POINT{static_cast<LONG>(e->x_root), static_cast<LONG>(e->y_root)};
    const bool down = e->type == GDK_BUTTON_PRESS;
    UINT msg = e->button == 3 ? (down ? WM_RBUTTONDOWN : WM_RBUTTONUP) : (down ? WM_LBUTTONDOWN : WM_LBUTTONUP);
    if (e->button == 2) return FALSE;
    SendMessageA(h, msg, 0, MAKELPARAM(static_cast<int>(e->x), static_cast<int>(e->y)));
    return FALSE;
}

gboolean OnMotion(GtkWidget*, GdkEventMotion* e, gpointer data) {
    HWND h = HandleData(data);
    Window* w = Raw(h);
    if (w && CanTakeInput(*w)) SendMessageA(h, WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<int>(e->x), static_cast<int>(e->y)));
    return FALSE;
}

// A menu of the bar opens (a click, F10, Alt and a letter): the window learns it first, once per
// opening, and the marks it sets show in the open menu.
void OnMenuBarItemSelected(GtkMenuItem*, gpointer data) {
    HWND h = HandleData(data);
    GtkPeer* p = PeerOf(h);
    Window* w = Raw(h);
    if (!p || !w || p->menuOpen) return;
    p->menuOpen = true;
    SendMessageA(h, WM_ENTERMENULOOP, FALSE, 0);
    if ((p = PeerOf(h)) && (w = Raw(h)) && w->menu && p->shownMenu == w->menu)
        RefreshMenu(GTK_MENU_SHELL(p->menuBar), w->menu);
}

void OnMenuBarClosed(GtkMenuShell*, gpointer data) {
    HWND h = HandleData(data);
    GtkPeer* p = PeerOf(h);
    if (!p || !p->menuOpen) return;
    p->menuOpen = false;
    SendMessageA(h, WM_EXITMENULOOP, FALSE, 0);
    if (Window* w = Raw(h)) MarkChanged(*w);  // changes made while it was open
}

gboolean OnDraw(GtkWidget*, cairo_t*, gpointer data) {
    HWND h = HandleData(data);
    if (!Raw(h)) return FALSE;
    SendMessageA(h, WM_ERASEBKGND, 0, 0);
    SendMessageA(h, WM_PAINT, 0, 0);
    return FALSE;
}

// --- making widgets ----------------------------------------------------------------------------

GtkWidget* Scrolled(GtkWidget* inner) {
    GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(sw), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(sw), inner);
    return sw;
}

void MakeTopLevel(Window& w, GtkPeer& p) {
    p.top = true;
    GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    p.outer = win;
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    p.container = NewContainer();
    gtk_box_pack_end(GTK_BOX(box), p.container, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(win), box);
    gtk_widget_show_all(box);
    gtk_widget_add_events(p.container, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
    const gpointer h = w.handle;
    g_signal_connect(win, "delete-event", G_CALLBACK(OnDelete), h);
    g_signal_connect(win, "configure-event", G_CALLBACK(OnConfigure), h);
    g_signal_connect(p.container, "button-press-event", G_CALLBACK(OnMouse), h);
    g_signal_connect(p.container, "button-release-event", G_CALLBACK(OnMouse), h);
    g_signal_connect(p.container, "motion-notify-event", G_CALLBACK(OnMotion), h);
    if (!w.isDialog) g_signal_connect(p.container, "draw", G_CALLBACK(OnDraw), h);
    if (!(w.style & WS_CAPTION) && (w.style & WS_POPUP)) gtk_window_set_decorated(GTK_WINDOW(win), FALSE);
    if (w.exStyle & WS_EX_TOOLWINDOW) gtk_window_set_type_hint(GTK_WINDOW(win), GDK_WINDOW_TYPE_HINT_UTILITY);
    if (!(w.style & WS_SYSMENU)) gtk_window_set_deletable(GTK_WINDOW(win), FALSE);
    if (w.exStyle & WS_EX_TOPMOST) gtk_window_set_keep_above(GTK_WINDOW(win), TRUE);
    if (GtkPeer* owner = PeerOf(w.owner)) gtk_window_set_transient_for(GTK_WINDOW(win), GTK_WINDOW(owner->outer));
    // Every top-level window has a menu bar, shown while the window has a menu: the menu may be
    // given after the window was made (a dialog's template menu, SetMenu).
    p.menuBar = gtk_menu_bar_new();
    gtk_widget_set_no_show_all(p.menuBar, TRUE);
    gtk_box_pack_start(GTK_BOX(box), p.menuBar, FALSE, FALSE, 0);
    g_signal_connect(p.menuBar, "deactivate", G_CALLBACK(OnMenuBarClosed), h);
    Tag(win, w.handle);
}

void MakeButton(Window& w, GtkPeer& p) {
    const DWORD type = w.style & BS_TYPEMASK;
    const gpointer h = w.handle;
    const std::string text = MnemonicText(w.text);
    switch (type) {
    case BS_GROUPBOX: p.outer = p.control = gtk_frame_new(w.text.c_str()); return;
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE: p.control = gtk_check_button_new_with_mnemonic(text.c_str()); break;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        // Each radio is its own GTK group with a hidden member, so the model alone decides which
        // of a run is checked, and a radio can show unchecked.
        p.noneRadio = gtk_radio_button_new(nullptr);
        g_object_ref_sink(p.noneRadio);
        p.control = gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(p.noneRadio), text.c_str());
        break;
    default: p.control = gtk_button_new_with_mnemonic(text.c_str()); break;
    }
    p.outer = p.control;
    g_signal_connect(p.control, "clicked", G_CALLBACK(OnClicked), h);
}

void MakeStatic(Window& w, GtkPeer& p) {
    if ((w.style & kStaticTypeMask) == SS_ETCHEDHORZ) {
        p.outer = p.control = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
        return;
    }
    p.control = gtk_label_new(nullptr);
    gtk_label_set_line_wrap(GTK_LABEL(p.control), TRUE);
    const DWORD align = w.style & kStaticTypeMask;
    gtk_label_set_xalign(GTK_LABEL(p.control), align == SS_CENTER ? 0.5f : align == SS_RIGHT ? 1.0f : 0.0f);
    gtk_label_set_yalign(GTK_LABEL(p.control), 0.0f);
    if (w.style & SS_NOTIFY) {
        p.outer = gtk_event_box_new();
        gtk_container_add(GTK_CONTAINER(p.outer), p.control);
        gtk_widget_show(p.control);
        g_signal_connect(p.outer, "button-release-event", G_CALLBACK(OnStaticRelease), w.handle);
    } else {
        p.outer = p.control;
    }
}

void MakeEdit(Window& w, GtkPeer& p) {
    if (w.style & ES_MULTILINE) {
        p.control = gtk_text_view_new();
        gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(p.control), GTK_WRAP_WORD_CHAR);
        gtk_text_view_set_editable(GTK_TEXT_VIEW(p.control), !(w.style & ES_READONLY));
        p.outer = Scrolled(p.control);
        gtk_widget_show(p.control);
        g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(p.control)), "changed", G_CALLBACK(OnBufferChanged), w.handle);
    } else {
        p.outer = p.control = gtk_entry_new();
        gtk_entry_set_width_chars(GTK_ENTRY(p.control), 1);
        gtk_editable_set_editable(GTK_EDITABLE(p.control), !(w.style & ES_READONLY));
        if (w.style & ES_PASSWORD) gtk_entry_set_visibility(GTK_ENTRY(p.control), FALSE);
        g_signal_connect(p.control, "changed", G_CALLBACK(OnEntryChanged), w.handle);
    }
}

GtkWidget* MakeRowView(GtkPeer& p, int columns, bool headers, bool check) {
    std::vector<GType> types(static_cast<size_t>(columns), G_TYPE_STRING);
    if (check) types.push_back(G_TYPE_BOOLEAN);
    p.list = gtk_list_store_newv(static_cast<gint>(types.size()), types.data());
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(p.list));
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(view), headers);
    return view;
}

void MakeListBox(Window& w, GtkPeer& p) {
    p.control = MakeRowView(p, 1, false, false);
    gtk_tree_view_append_column(GTK_TREE_VIEW(p.control),
                                gtk_tree_view_column_new_with_attributes("", gtk_cell_renderer_text_new(), "text", 0, nullptr));
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(p.control));
    gtk_tree_selection_set_mode(sel, (w.style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) ? GTK_SELECTION_MULTIPLE : GTK_SELECTION_SINGLE);
    g_signal_connect(sel, "changed", G_CALLBACK(OnListSelection), w.handle);
    p.outer = Scrolled(p.control);
    gtk_widget_show(p.control);
}

void MakeListView(Window& w, GtkPeer& p) {
    // Columns come later (LVM_INSERTCOLUMN): the view is rebuilt when their number changes.
    p.control = gtk_tree_view_new();
    gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(p.control)), GTK_SELECTION_MULTIPLE);
    g_signal_connect(p.control, "button-press-event", G_CALLBACK(OnListViewPress), w.handle);
    p.outer = Scrolled(p.control);
    gtk_widget_show(p.control);
}

void MakeTreeView(Window& w, GtkPeer& p) {
    p.tree = gtk_tree_store_new(2, G_TYPE_STRING, G_TYPE_POINTER);
    p.control = gtk_tree_view_new_with_model(GTK_TREE_MODEL(p.tree));
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(p.control), FALSE);
    gtk_tree_view_append_column(GTK_TREE_VIEW(p.control),
                                gtk_tree_view_column_new_with_attributes("", gtk_cell_renderer_text_new(), "text", 0, nullptr));
    g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(p.control)), "changed", G_CALLBACK(OnTreeSelection), w.handle);
    p.outer = Scrolled(p.control);
    gtk_widget_show(p.control);
}

void MakeChildWidgets(Window& w, GtkPeer& p) {
    const gpointer h = w.handle;
    switch (KindOf(w)) {
    case ControlKind::Button: MakeButton(w, p); break;
    case ControlKind::Static: MakeStatic(w, p); break;
    case ControlKind::Edit: MakeEdit(w, p); break;
    case ControlKind::ComboBox:
        p.outer = p.control = (w.style & 3) == CBS_DROPDOWNLIST ? gtk_combo_box_text_new() : gtk_combo_box_text_new_with_entry();
        // The control's rectangle decides its width, not its longest entry or a default number of
        // characters: a text too long for it ends in an ellipsis.
        if (gtk_combo_box_get_has_entry(GTK_COMBO_BOX(p.control))) {
            gtk_entry_set_width_chars(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(p.control))), 1);
        } else if (GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(p.control))) {
            for (GList* l = cells; l; l = l->next)
                if (GTK_IS_CELL_RENDERER_TEXT(l->data)) g_object_set(l->data, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
            g_list_free(cells);
        }
        g_signal_connect(p.control, "changed", G_CALLBACK(OnComboChanged), h);
        break;
    case ControlKind::ListBox: MakeListBox(w, p); break;
    case ControlKind::Trackbar:
        p.outer = p.control = gtk_scale_new_with_range(
            (w.style & TBS_VERT) ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, 0, 100, 1);
        gtk_scale_set_draw_value(GTK_SCALE(p.control), FALSE);
        g_signal_connect(p.control, "value-changed", G_CALLBACK(OnScaleValue), h);
        g_signal_connect(p.control, "button-release-event", G_CALLBACK(OnScaleRelease), h);
        g_signal_connect(p.control, "move-slider", G_CALLBACK(OnMoveSlider), h);
        break;
    case ControlKind::Progress: p.outer = p.control = gtk_progress_bar_new(); break;  // see SizeProgressBar
    case ControlKind::StatusBar:
        p.outer = p.control = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
        break;
    case ControlKind::Tab:
        p.outer = p.control = gtk_notebook_new();
        gtk_notebook_set_scrollable(GTK_NOTEBOOK(p.control), TRUE);
        g_signal_connect(p.control, "switch-page", G_CALLBACK(OnSwitchPage), h);
        break;
    case ControlKind::ListView: MakeListView(w, p); break;
    case ControlKind::TreeView: MakeTreeView(w, p); break;
    case ControlKind::Tooltips: return;  // tips go on the tools' widgets
    default:
        // Child dialogs (pages) and the program's own classes: a container of their own. The
        // program's classes get a display window, so they can be painted and drawn into (video).
        p.outer = p.container = NewContainer();
        if (!w.isDialog) {
            gtk_widget_add_events(p.container, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
            g_signal_connect(p.container, "button-press-event", G_CALLBACK(OnMouse), h);
            g_signal_connect(p.container, "button-release-event", G_CALLBACK(OnMouse), h);
            g_signal_connect(p.container, "motion-notify-event", G_CALLBACK(OnMotion), h);
            g_signal_connect(p.container, "draw", G_CALLBACK(OnDraw), h);
        }
        break;
    }
    if (p.outer) {
        Tag(p.outer, w.handle);
        if (p.control) {
            Tag(p.control, w.handle);
            g_signal_connect(p.control, "focus-in-event", G_CALLBACK(OnFocusIn), h);
        }
        if (GtkPeer* parent = PeerOf(w.parent); parent && parent->container)
            gtk_fixed_put(GTK_FIXED(parent->container), p.outer, w.rect.left, w.rect.top);
    }
}

// --- setting widgets from the model ------------------------------------------------------------

void SetRows(GtkListStore* store, const std::vector<std::vector<std::string>>& rows, int checkColumn,
             const std::vector<bool>& checks) {
    GtkTreeModel* model = GTK_TREE_MODEL(store);
    const int count = gtk_tree_model_iter_n_children(model, nullptr);
    if (count > static_cast<int>(rows.size())) {
        gtk_list_store_clear(store);
    }
    GtkTreeIter it;
    bool have = gtk_tree_model_get_iter_first(model, &it);
    for (size_t r = 0; r < rows.size(); ++r) {
        if (!have) gtk_list_store_append(store, &it);
        for (size_t c = 0; c < rows[r].size(); ++c) {
            gchar* old = nullptr;
            gtk_tree_model_get(model, &it, static_cast<gint>(c), &old, -1);
            if (!old || rows[r][c] != old) gtk_list_store_set(store, &it, static_cast<gint>(c), rows[r][c].c_str(), -1);
            g_free(old);
        }
        if (checkColumn >= 0) gtk_list_store_set(store, &it, checkColumn, checks[r] ? TRUE : FALSE, -1);
        have = have && gtk_tree_model_iter_next(model, &it);
    }
}

void SelectRows(GtkTreeView* view, const std::vector<int>& rows) {
    GtkTreeSelection* sel = gtk_tree_view_get_selection(view);
    if (SelectedRows(view) == rows) return;
    gtk_tree_selection_unselect_all(sel);
    for (int r : rows) {
        GtkTreePath* path = gtk_tree_path_new_from_indices(r, -1);
        gtk_tree_selection_select_path(sel, path);
        gtk_tree_path_free(path);
    }
}

void SyncButton(Window& w, GtkPeer& p) {
    auto* m = ModelOf<ButtonModel>(&w);
    if (GTK_IS_FRAME(p.control)) {
        gtk_frame_set_label(GTK_FRAME(p.control), w.text.c_str());
        return;
    }
    const std::string text = MnemonicText(w.text);
    if (text != (gtk_button_get_label(GTK_BUTTON(p.control)) ? gtk_button_get_label(GTK_BUTTON(p.control)) : ""))
        gtk_button_set_label(GTK_BUTTON(p.control), text.c_str());
    if (!m) return;
    if (p.noneRadio) {
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(m->check ? p.control : p.noneRadio), TRUE);
    } else if (GTK_IS_CHECK_BUTTON(p.control)) {
        gtk_toggle_button_set_inconsistent(GTK_TOGGLE_BUTTON(p.control), m->check == BST_INDETERMINATE);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(p.control), m->check == BST_CHECKED);
    } else if (m->pushed) {
        gtk_widget_set_state_flags(p.control, GTK_STATE_FLAG_ACTIVE, FALSE);
    } else {
        gtk_widget_unset_state_flags(p.control, GTK_STATE_FLAG_ACTIVE);
    }
}

void SyncCombo(Window& w, GtkPeer& p) {
    auto* m = ModelOf<ComboModel>(&w);
    GtkComboBox* box = GTK_COMBO_BOX(p.control);
    GtkTreeModel* model = gtk_combo_box_get_model(box);
    bool same = gtk_tree_model_iter_n_children(model, nullptr) == static_cast<int>(m->items.size());
    GtkTreeIter it;
    bool have = gtk_tree_model_get_iter_first(model, &it);
    for (size_t i = 0; same && i < m->items.size() && have; ++i, have = gtk_tree_model_iter_next(model, &it)) {
        gchar* t = nullptr;
        gtk_tree_model_get(model, &it, 0, &t, -1);
        same = t && m->items[i] == t;
        g_free(t);
    }
    if (!same) {
        gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(box));
        for (const auto& item : m->items) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(box), item.c_str());
    }
    if (gtk_combo_box_get_active(box) != m->index) gtk_combo_box_set_active(box, m->index);
    if (gtk_combo_box_get_has_entry(box)) {
        GtkEntry* entry = GTK_ENTRY(gtk_bin_get_child(GTK_BIN(box)));
        if (m->edit != gtk_entry_get_text(entry)) gtk_entry_set_text(entry, m->edit.c_str());
    }
}

void SyncListBox(Window& w, GtkPeer& p) {
    auto* m = ModelOf<ListModel>(&w);
    std::vector<std::vector<std::string>> rows;
    for (const auto& item : m->items) rows.push_back({item});
    SetRows(p.list, rows, -1, {});
    std::vector<int> sel;
    if (w.style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) {
        for (size_t i = 0; i < m->selected.size(); ++i)
            if (m->selected[i]) sel.push_back(static_cast<int>(i));
    } else if (m->index >= 0) {
        sel.push_back(m->index);
    }
    SelectRows(GTK_TREE_VIEW(p.control), sel);
}

void SyncListView(Window& w, GtkPeer& p) {
    auto* m = ModelOf<ListViewModel>(&w);
    GtkTreeView* view = GTK_TREE_VIEW(p.control);
    const bool check = (m->exStyle & LVS_EX_CHECKBOXES) != 0;
    const int columns = std::max<int>(1, static_cast<int>(m->columns.size()));
    const int want = columns + (check ? 1 : 0);
    if (!p.list || gtk_tree_model_get_n_columns(GTK_TREE_MODEL(p.list)) != want) {
        while (GtkTreeViewColumn* c = gtk_tree_view_get_column(view, 0)) gtk_tree_view_remove_column(view, c);
        if (p.list) g_object_unref(p.list);
        std::vector<GType> types(static_cast<size_t>(columns), G_TYPE_STRING);
        if (check) types.push_back(G_TYPE_BOOLEAN);
        p.list = gtk_list_store_newv(static_cast<gint>(types.size()), types.data());
        gtk_tree_view_set_model(view, GTK_TREE_MODEL(p.list));
        if (check) {
            GtkCellRenderer* toggle = gtk_cell_renderer_toggle_new();
            g_signal_connect(toggle, "toggled", G_CALLBACK(OnRowToggled), w.handle);
            gtk_tree_view_append_column(view, gtk_tree_view_column_new_with_attributes("", toggle, "active", columns, nullptr));
        }
        for (int c = 0; c < columns; ++c) {
            const char* title = c < static_cast<int>(m->columns.size()) ? m->columns[static_cast<size_t>(c)].text.c_str() : "";
            GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(title, gtk_cell_renderer_text_new(), "text", c, nullptr);
            gtk_tree_view_column_set_resizable(col, TRUE);
            if (!(w.style & LVS_NOSORTHEADER)) {
                gtk_tree_view_column_set_clickable(col, TRUE);
                g_object_set_data(G_OBJECT(col), "sq-column", GINT_TO_POINTER(c));
                g_signal_connect(col, "clicked", G_CALLBACK(OnColumnClicked), w.handle);
            }
            if (c < static_cast<int>(m->columns.size()) && m->columns[static_cast<size_t>(c)].width > 0) {
                gtk_tree_view_column_set_sizing(col, GTK_TREE_VIEW_COLUMN_FIXED);
                gtk_tree_view_column_set_fixed_width(col, m->columns[static_cast<size_t>(c)].width);
            }
            gtk_tree_view_append_column(view, col);
        }
    }
    gtk_tree_view_set_headers_visible(view, (w.style & 3) == LVS_REPORT);
    std::vector<std::vector<std::string>> rows;
    std::vector<bool> checks;
    std::vector<int> sel;
    for (size_t r = 0; r < m->rows.size(); ++r) {
        std::vector<std::string> cells(static_cast<size_t>(columns));
        for (size_t c = 0; c < cells.size() && c < m->rows[r].cells.size(); ++c) cells[c] = m->rows[r].cells[c];
        rows.push_back(std::move(cells));
        checks.push_back(m->rows[r].stateImage == 2);
        if (m->rows[r].selected) sel.push_back(static_cast<int>(r));
    }
    SetRows(p.list, rows, check ? columns : -1, checks);
    SelectRows(view, sel);
}

void AddTreeNodes(GtkTreeStore* store, GtkTreeIter* parent, const TreeNode& node, GtkTreeView* view, HTREEITEM selected) {
    for (const auto& child : node.children) {
        GtkTreeIter it;
        gtk_tree_store_append(store, &it, parent);
        gtk_tree_store_set(store, &it, 0, child->text.c_str(), 1, child->handle, -1);
        AddTreeNodes(store, &it, *child, view, selected);
        GtkTreePath* path = gtk_tree_model_get_path(GTK_TREE_MODEL(store), &it);
        if (child->expanded) gtk_tree_view_expand_row(view, path, FALSE);
        if (child->handle == selected) gtk_tree_selection_select_path(gtk_tree_view_get_selection(view), path);
        gtk_tree_path_free(path);
    }
}

void SyncTreeView(Window& w, GtkPeer& p) {
    auto* m = ModelOf<TreeViewModel>(&w);
    gtk_tree_store_clear(p.tree);
    AddTreeNodes(p.tree, nullptr, m->root, GTK_TREE_VIEW(p.control), m->selected);
}

void SyncTab(Window& w, GtkPeer& p) {
    auto* m = ModelOf<TabModel>(&w);
    GtkNotebook* nb = GTK_NOTEBOOK(p.control);
    while (gtk_notebook_get_n_pages(nb) > static_cast<int>(m->items.size())) gtk_notebook_remove_page(nb, -1);
    while (gtk_notebook_get_n_pages(nb) < static_cast<int>(m->items.size())) {
        GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_widget_show(page);
        gtk_notebook_append_page(nb, page, nullptr);
    }
    for (size_t i = 0; i < m->items.size(); ++i)
        gtk_notebook_set_tab_label_text(nb, gtk_notebook_get_nth_page(nb, static_cast<int>(i)), m->items[i].text.c_str());
    if (m->index >= 0 && gtk_notebook_get_current_page(nb) != m->index) gtk_notebook_set_current_page(nb, m->index);
}

void SyncStatusBar(Window& w, GtkPeer& p) {
    auto* m = ModelOf<StatusBarModel>(&w);
    while (p.parts.size() < m->texts.size()) {
        // Each part is a sunken frame around its text.
        GtkWidget* frame = gtk_frame_new(nullptr);
        gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
        GtkWidget* label = gtk_label_new("");
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
        gtk_container_add(GTK_CONTAINER(frame), label);
        gtk_box_pack_start(GTK_BOX(p.control), frame, FALSE, FALSE, 0);
        gtk_widget_show_all(frame);
        p.parts.push_back(frame);
    }
    while (p.parts.size() > m->texts.size()) {
        gtk_widget_destroy(p.parts.back());
        p.parts.pop_back();
    }
    int left = 0;
    for (size_t i = 0; i < p.parts.size(); ++i) {
        const int edge = i < m->edges.size() ? m->edges[i] : -1;
        const int width = edge < 0 ? w.rect.right - w.rect.left - left : std::max(1, edge - left);
        gtk_widget_set_size_request(p.parts[i], std::max(1, width - 4), -1);
        gtk_label_set_text(GTK_LABEL(gtk_bin_get_child(GTK_BIN(p.parts[i]))), m->texts[i].c_str());
        left = edge < 0 ? left : edge;
    }
}

// The bar is rebuilt when the window's menu or anything in it changed, but never under an open
// menu: that waits until the menu closes.
void SyncMenuBar(Window& w, GtkPeer& p) {
    if (!p.menuBar || p.menuOpen) return;
    const bool has = w.menu && S().menus.count(reinterpret_cast<uintptr_t>(w.menu));
    const std::string dump = has ? MenuDump(w.menu) : std::string();
    if (p.shownMenu != (has ? w.menu : nullptr) || dump != p.shownMenuDump) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(p.menuBar));
        for (GList* l = children; l; l = l->next) gtk_widget_destroy(GTK_WIDGET(l->data));
        g_list_free(children);
        if (has) {
            FillMenu(GTK_MENU_SHELL(p.menuBar), w.menu, nullptr, w.handle);
            GList* tops = gtk_container_get_children(GTK_CONTAINER(p.menuBar));
            for (GList* l = tops; l; l = l->next) {
                g_signal_connect(l->data, "select", G_CALLBACK(OnMenuBarItemSelected), w.handle);
                gtk_widget_show_all(GTK_WIDGET(l->data));
            }
            g_list_free(tops);
        }
        p.shownMenu = has ? w.menu : nullptr;
        p.shownMenuDump = dump;
    }
    if (has && !gtk_widget_get_visible(p.menuBar)) {
        gtk_widget_show(p.menuBar);
    } else if (!has && gtk_widget_get_visible(p.menuBar)) {
        gtk_widget_hide(p.menuBar);
    }
}

void SyncTopLevel(Window& w, GtkPeer& p) {
    GtkWindow* win = GTK_WINDOW(p.outer);
    if (w.text != (gtk_window_get_title(win) ? gtk_window_get_title(win) : "")) gtk_window_set_title(win, w.text.c_str());
    // Placed only when the program moved or sized it: where the user put it stays.
    const bool barShown = p.menuBar && gtk_widget_get_visible(p.menuBar);
    SyncMenuBar(w, p);
    const bool barChanged = barShown != (p.menuBar && gtk_widget_get_visible(p.menuBar));
    if (!p.placed || barChanged || p.placedRect.left != w.rect.left || p.placedRect.top != w.rect.top ||
        p.placedRect.right != w.rect.right || p.placedRect.bottom != w.rect.bottom) {
        RECT client;
        GetClientRect(w.handle, &client);
        gtk_window_move(win, w.rect.left, w.rect.top);
        // The client area lies below the menu bar.
        gtk_window_resize(win, std::max(1, static_cast<int>(client.right)),
                          std::max(1, static_cast<int>(client.bottom) + MenuBarHeight(p)));
        gtk_widget_set_size_request(p.container, 1, 1);
        p.placed = true;
        p.placedRect = w.rect;
    }
    gtk_widget_set_opacity(p.outer, (w.exStyle & WS_EX_LAYERED) ? w.alpha / 255.0 : 1.0);
    const bool visible = (w.style & WS_VISIBLE) != 0;
    if (visible && !gtk_widget_get_visible(p.outer)) gtk_widget_show(p.outer);
    if (!visible && gtk_widget_get_visible(p.outer)) gtk_widget_hide(p.outer);
    if (visible) {
        if (w.showState == SW_SHOWMINIMIZED) gtk_window_iconify(win);
        else if (w.showState == SW_SHOWMAXIMIZED) gtk_window_maximize(win);
    }
}

}  // namespace

GtkPeer::~GtkPeer() {
    if (outer) gtk_widget_destroy(outer);
    if (noneRadio) g_object_unref(noneRadio);
    if (list) g_object_unref(list);
    if (tree) g_object_unref(tree);
}

GtkPeer* PeerOf(Window* w) { return w ? dynamic_cast<GtkPeer*>(w->peer.get()) : nullptr; }
GtkPeer* PeerOf(HWND h) { return PeerOf(Raw(h)); }

HWND HandleOfWidget(GtkWidget* widget) {
    for (GtkWidget* at = widget; at; at = gtk_widget_get_parent(at))
        if (auto h = static_cast<HWND>(g_object_get_data(G_OBJECT(at), kHandleKey))) return h;
    return nullptr;
}

void CreateWidgets(Window& w) {
    auto peer = std::make_unique<GtkPeer>();
    peer->handle = w.handle;
    GtkPeer& p = *peer;
    w.peer = std::move(peer);
    Suppress quiet(p);
    if (!w.parent) MakeTopLevel(w, p);
    else MakeChildWidgets(w, p);
    MarkChanged(w);
}

// A progress bar fills the height of its rectangle: the theme alone draws a thin line across its
// middle.
void SizeProgressBar(GtkWidget* bar, int height) {
    constexpr const char* kCssKey = "sq-bar-css";
    constexpr const char* kHeightKey = "sq-bar-height";
    auto* css = static_cast<GtkCssProvider*>(g_object_get_data(G_OBJECT(bar), kCssKey));
    if (!css) {
        css = gtk_css_provider_new();
        gtk_style_context_add_provider(gtk_widget_get_style_context(bar), GTK_STYLE_PROVIDER(css),
                                       GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
        g_object_set_data_full(G_OBJECT(bar), kCssKey, css, g_object_unref);
    }
    const int fill = std::max(2, height - 4);
    if (GPOINTER_TO_INT(g_object_get_data(G_OBJECT(bar), kHeightKey)) == fill) return;
    g_object_set_data(G_OBJECT(bar), kHeightKey, GINT_TO_POINTER(fill));
    const std::string rule = "progressbar trough, progressbar progress { min-height: " + std::to_string(fill) + "px; }";
    gtk_css_provider_load_from_data(css, rule.c_str(), -1, nullptr);
}

void SyncWidgets(Window& w) {
    GtkPeer* pp = PeerOf(&w);
    if (!pp || !pp->outer) return;
    GtkPeer& p = *pp;
    Suppress quiet(p);
    if (p.top) {
        SyncTopLevel(w, p);
        return;
    }
    // Children: place, size, visibility and state.
    GtkPeer* parent = PeerOf(w.parent);
    if (parent && parent->container && gtk_widget_get_parent(p.outer) != parent->container) {
        g_object_ref(p.outer);
        if (GtkWidget* old = gtk_widget_get_parent(p.outer)) gtk_container_remove(GTK_CONTAINER(old), p.outer);
        gtk_fixed_put(GTK_FIXED(parent->container), p.outer, w.rect.left, w.rect.top);
        g_object_unref(p.outer);
    } else if (parent && parent->container) {
        gtk_fixed_move(GTK_FIXED(parent->container), p.outer, w.rect.left, w.rect.top);
    }
    gtk_widget_set_size_request(p.outer, std::max(1, static_cast<int>(w.rect.right - w.rect.left)),
                                std::max(1, static_cast<int>(w.rect.bottom - w.rect.top)));
    gtk_widget_set_sensitive(p.outer, !(w.style & WS_DISABLED));
    switch (KindOf(w)) {
    case ControlKind::Button: SyncButton(w, p); break;
    case ControlKind::Static:
        if (GTK_IS_LABEL(p.control) && w.text != gtk_label_get_text(GTK_LABEL(p.control)))
            gtk_label_set_text(GTK_LABEL(p.control), w.text.c_str());
        break;
    case ControlKind::Edit:
        if (EditText(p) != w.text) {
            if (GTK_IS_ENTRY(p.control)) gtk_entry_set_text(GTK_ENTRY(p.control), w.text.c_str());
            else gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(p.control)), ToWidgetText(w.text).c_str(), -1);
        }
        break;
    case ControlKind::ComboBox: SyncCombo(w, p); break;
    case ControlKind::ListBox: SyncListBox(w, p); break;
    case ControlKind::Trackbar: {
        auto* m = ModelOf<TrackModel>(&w);
        gtk_range_set_range(GTK_RANGE(p.control), m->min, std::max(m->max, m->min + 1));
        gtk_range_set_increments(GTK_RANGE(p.control), m->line, m->page);
        if (p.dragged.empty()) gtk_range_set_value(GTK_RANGE(p.control), m->pos);
        break;
    }
    case ControlKind::Progress: {
        SizeProgressBar(p.control, static_cast<int>(w.rect.bottom - w.rect.top));
        auto* m = ModelOf<ProgressModel>(&w);
        const double span = m->max > m->min ? m->max - m->min : 1;
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(p.control), std::clamp((m->pos - m->min) / span, 0.0, 1.0));
        break;
    }
    case ControlKind::StatusBar: SyncStatusBar(w, p); break;
    case ControlKind::Tab: SyncTab(w, p); break;
    case ControlKind::ListView: SyncListView(w, p); break;
    case ControlKind::TreeView: SyncTreeView(w, p); break;
    default: break;
    }
    const bool visible = (w.style & WS_VISIBLE) != 0;
    if (visible != static_cast<bool>(gtk_widget_get_visible(p.outer))) gtk_widget_set_visible(p.outer, visible);
}

std::string MnemonicText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') out += "__";
        else if (text[i] == '&' && i + 1 < text.size() && text[i + 1] == '&') out += text[++i];
        else if (text[i] == '&' && i + 1 < text.size()) out += '_';
        else out += text[i];
    }
    return out;
}

}  // namespace gui::gtk::detail
