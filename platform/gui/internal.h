// The model behind the handles: window records, classes, the UI thread's queue and timers. Only the
// UI thread changes window records; the handle table and the queues are also read and filled by
// other threads under the layer lock (a leaf lock, never held while a window procedure runs).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/gui/gui.h"
#include "platform/gui/resources.h"
#include "platform/gui/webview.h"

namespace gui::detail {

// What a control keeps besides the common window fields.
struct ControlModel {
    virtual ~ControlModel() = default;
};

// What a display back-end keeps for one window (its widgets).
struct Peer {
    virtual ~Peer() = default;
};

struct Window;

// A back-end that shows the model on a display; the headless layer has none. Called on the UI
// thread only, except Wake.
class Backend {
public:
    virtual ~Backend() = default;
    // A window record was made (before WM_CREATE) or is going away (children first).
    virtual void Created(Window& w) = 0;
    virtual void Destroying(Window& w) = 0;
    // Brings the widgets of the windows whose model changed up to date.
    virtual void Flush() = 0;
    // Idles until woken, a display event came, or ms passed. No layer lock is held.
    virtual void Wait(uint32_t ms) = 0;
    virtual void Wake() = 0;  // any thread
    // Delivers what a key message stood for to the display once the program let it through.
    virtual void KeyDispatched(const MSG& msg) = 0;
    virtual uint64_t NativeId(Window& w) = 0;
    // Tray icons: false from TrayAdd when the desktop shows none.
    virtual bool TrayAdd(const struct TrayIcon& icon) = 0;
    virtual void TrayChanged(const struct TrayIcon& icon, bool newBalloon) = 0;
    virtual void TrayRemoved(const struct TrayIcon& icon) = 0;
    // A window registered for drops (or revoked): its widget takes file lists and text.
    virtual void DropTarget(HWND hwnd, bool on) = 0;
    // A web view in the window's client area; null when this display has none.
    virtual std::unique_ptr<WebView> CreateWebView(Window&, WebViewOptions) { return nullptr; }
    virtual bool HasWebView() const { return false; }
};

enum class ControlKind {
    None, Dialog, Button, Static, Edit, ComboBox, ListBox, Trackbar, Progress,
    ListView, TreeView, Tab, StatusBar, Tooltips
};

// Frame sizes around a top-level's client area: border on each side, caption (and menu bar) on top.
struct Frame {
    int border = 0;
    int caption = 0;
};
Frame FrameFor(DWORD style, DWORD exStyle, bool dialog, bool menuBar);

struct WindowClass {
    std::string name;
    HINSTANCE instance = nullptr;
    WNDPROC proc = nullptr;
    UINT style = 0;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    bool system = false;
    ControlKind kind = ControlKind::None;
    ATOM atom = 0;
};

struct Window {
    HWND handle = nullptr;
    std::shared_ptr<const WindowClass> cls;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    intptr_t ctrlId = 0;
    HMENU menu = nullptr;
    HINSTANCE instance = nullptr;
    Window* parent = nullptr;  // children: the parent; top-levels: null
    Window* owner = nullptr;   // top-levels: the owner, if any
    std::vector<Window*> children;  // z-order = creation order
    std::string text;
    RECT rect;        // children: in the parent's client coordinates; top-levels: on the screen
    RECT normalRect;  // the rectangle to restore to
    int showState = SW_SHOWNORMAL;  // SW_SHOWNORMAL, SW_SHOWMINIMIZED or SW_SHOWMAXIMIZED
    LONG_PTR userData = 0;
    HFONT font = nullptr;
    HICON icon = nullptr;
    BYTE alpha = 255;  // layered windows
    std::unique_ptr<ControlModel> model;
    std::unique_ptr<Peer> peer;  // the display back-end's widgets

    // Dialogs.
    bool isDialog = false;
    DLGPROC dlgProc = nullptr;
    LONG_PTR msgResult = 0;
    LONG_PTR dlgUser = 0;
    int templateId = 0;
    bool modal = false;
    bool ended = false;
    INT_PTR result = 0;
    HWND lastFocus = nullptr;
    bool pendingDestroy = false;

    bool alive = true;
    bool destroying = false;
    int callDepth = 0;  // procedure calls on the stack
};

using WindowPtr = std::shared_ptr<Window>;

// A message sent, or a call marshalled, from another thread to the UI thread.
struct SentRecord {
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::function<LRESULT()> call;
    std::thread::id sender;
    LRESULT result = 0;
    bool done = false;
};

// A call from another thread that the UI thread is serving, and what belongs to it: the code that
// runs for it directly, its target window's top-level, and the windows made while it runs (handles
// are handed out in rising order, so those are the ones from firstHandle on).
struct ServedCall {
    std::thread::id sender;
    size_t frameDepth = 0;
    uintptr_t targetRoot = 0;
    uintptr_t firstHandle = 0;
};

struct MenuItem {
    UINT id = 0;
    std::string text;
    bool separator = false;
    bool checked = false;
    bool grayed = false;
    bool disabled = false;
    HMENU submenu = nullptr;  // owned: destroyed with the menu
    uintptr_t data = 0;
};

struct Menu {
    HMENU handle = nullptr;
    bool popup = false;
    std::vector<MenuItem> items;
};

struct Balloon {
    std::string title;
    std::string text;
    DWORD flags = 0;
    UINT timeout = 0;
};

struct TrayIcon {
    HWND hwnd = nullptr;
    UINT id = 0;
    UINT callback = 0;
    HICON icon = nullptr;
    std::string tip;
    std::vector<Balloon> balloons;
};

struct Timer {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    uint32_t period = 0;
    uint64_t deadline = 0;
    uint64_t seq = 0;  // creation order breaks ties
    TIMERPROC proc = nullptr;
};

struct State {
    std::mutex lock;  // handle table, queues and sent records
    std::condition_variable uiWake;    // the UI thread's waker
    std::condition_variable replyWake;  // senders waiting for their answers

    std::unordered_map<uintptr_t, WindowPtr> windows;
    std::deque<std::shared_ptr<SentRecord>> sent;
    std::deque<MSG> posted;
    std::deque<MSG> input;
    bool quitPending = false;
    int quitCode = 0;

    // UI thread only.
    std::vector<Window*> topLevels;
    std::set<uintptr_t> paint;
    std::set<UINT> keysDown;  // modifier keys held, from the key messages fetched
    std::unordered_map<uintptr_t, std::unique_ptr<Menu>> menus;
    std::unordered_map<uintptr_t, std::vector<ACCEL>> accelerators;
    std::function<UINT(HMENU, POINT)> popupResponder;  // the user's pick in a popup menu (0: none)
    FileDialogResponder fileResponder;
    FolderDialogResponder folderResponder;
    bool trayAvailable = true;
    std::unordered_map<uintptr_t, GdiRecord> gdi;  // drawing records (stock ones included)
    std::map<int, uintptr_t> stockObjects;         // GetStockObject / GetSysColorBrush index -> handle
    HCURSOR cursor = nullptr;
    POINT cursorPos;
    std::vector<TrayIcon> tray;
    std::map<uintptr_t, IDropTarget*> dropTargets;  // registered, with a reference each
    std::map<std::pair<uintptr_t, UINT_PTR>, Timer> timers;
    uint64_t timerSeq = 0;
    UINT_PTR nextThreadTimerId = 0x7F00;
    std::vector<ServedCall> serving;  // calls from other threads being served, innermost last
    std::vector<uintptr_t> frames;    // root handle of each procedure call on the stack (0: no window)
    std::vector<HWND> modalStack;
    std::vector<HWND> pendingDestroy;  // modeless dialogs ended with EndDialog
    HWND focus = nullptr;
    HWND active = nullptr;
    // Changed on the UI thread, read from any thread (templates are parsed where they arrive).
    std::mutex classLock;
    std::map<std::string, std::shared_ptr<const WindowClass>> classes;  // key: instance + lower-case name
    std::shared_ptr<ResourceProvider> resources;
    MessageBoxResponder boxResponder;
    std::function<bool()> idleHook;  // called when a loop would wait; true: it did something
    uint64_t fetched = 0;             // messages handed out, so an idle watcher sees progress
    std::string lastTemplateError;
    InitOptions options;
    // The height of a closed drop-down combo box in pixels, as the display draws one (0: the
    // dialog font's line height + 8). A combo's own height is always this: the height a template
    // or a move gives it is that of its drop-down list.
    int comboHeight = 0;
    std::unique_ptr<Backend> backend;  // null: headless
    std::set<uintptr_t> changed;       // windows whose widgets are behind their model
};

State& S();

bool OnUi();
// The value the next handle will get; a new handle value (for menus, tables, icons).
uintptr_t NextHandleValue();
uintptr_t TakeHandleValue();
// Menus: destroys a menu and its submenus; a text dump (indented submenus, "[id]", checked,
// grayed); a user's choice from a menu bar or popup (false when the item cannot be chosen).
void DestroyMenuTree(HMENU h);
std::string MenuDump(HMENU h, int depth = 0);
bool ChooseMenuItem(HWND hwnd, HMENU menu, UINT id, bool popup);
// A drop on hwnd as a user makes it: files (UTF-8 names) or text. The effect the target took.
DWORD UserDrop(HWND hwnd, const std::vector<std::string>& files, const std::string* text, DWORD keys, POINT pt);
// Drops the registrations of a window that is going away.
void ForgetDropTarget(HWND hwnd);
// Whether the code running now on the UI thread belongs to the innermost served call of sender.
bool RunsForServedCall(std::thread::id sender);
bool Running();
uint64_t Now();

WindowPtr Lookup(HWND h);
inline Window* Raw(HWND h) {
    auto p = Lookup(h);
    return p.get();
}
// Runs fn on the UI thread (directly there) and answers what it returned; 0 when the layer is
// not running.
LRESULT CallOnUi(const std::function<LRESULT()>& fn);
template <class T, class F>
T Marshal(F&& fn) {
    LRESULT r = CallOnUi([&]() -> LRESULT { return (LRESULT)(fn()); });
    if constexpr (std::is_pointer_v<T>) return reinterpret_cast<T>(r);
    else return static_cast<T>(r);
}

// Calls the window's procedure (the record stays alive during the call).
LRESULT CallProc(const WindowPtr& w, UINT msg, WPARAM wParam, LPARAM lParam);
// Sends WM_COMMAND(id, code) from a control to its parent.
void NotifyParent(Window& control, UINT code);

bool CanTakeInput(const Window& w);  // alive, visible and enabled up to the top
Window* RootOf(Window* w);
Window* DialogRootOf(Window* w);      // the outermost dialog holding w (itself included)
ControlKind KindOf(const Window& w);

// Creates a window; for dialogs the creation messages are left to the dialog code.
HWND CreateWindowInternal(DWORD exStyle, const std::shared_ptr<const WindowClass>& cls, LPCSTR windowName,
                          DWORD style, int x, int y, int width, int height, HWND parent, HMENU menu,
                          HINSTANCE instance, void* param, bool sendCreate);
std::shared_ptr<const WindowClass> FindClass(HINSTANCE instance, const std::string& name);
void RegisterSystemClasses();
void DestroyPendingDialogs();
// Creates a dialog from a template (UI thread); null with LastTemplateError set on a problem.
HWND CreateDialogFromTemplate(HINSTANCE instance, const std::shared_ptr<const DialogTemplate>& t, HWND parent,
                              DLGPROC proc, LPARAM param, bool modal);
void SetTemplateError(const std::string& text);
void Activate(Window* top);
void WakeUi();
// Notes that a window's model changed, so a display back-end re-syncs its widgets.
void MarkChanged(const Window& w);
// What also wakes the UI thread when it idles in a display back-end (any thread calls it).
void SetDisplayWake(void (*wake)());
// Starts the GTK back-end on the calling thread (null when no display can be opened).
std::unique_ptr<Backend> StartGtkBackend();
// The same, through the display module when the back-end is not linked into the program: GTK and
// the web view are loaded only here, when a display is used. Null when neither starts.
std::unique_ptr<Backend> StartDisplayBackend();

// Serves every sent record waiting for the UI thread.
void ServeSent();
// The UI thread's fetch. stop: checked while waiting; -2 when it became true.
int FetchMessage(MSG* msg, bool remove, bool wait, const std::function<bool()>& stop);
bool RunModalLoop(const std::function<bool()>& ended);
// The earliest timer deadline, or 0 when there is no timer.
uint64_t NextTimerDeadline();
// The earliest deadline of the timers of root and its descendants, or 0 when they have none.
uint64_t NextTimerDeadlineWithin(const Window* root);
// Messages waiting for the UI thread: sent, posted, input and paint.
size_t Backlog();

// The dialog class procedure and the built-in control procedures.
LRESULT DialogClassProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT EditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ComboBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ListBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT TrackbarProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ProgressProc(HWND, UINT, WPARAM, LPARAM);
std::unique_ptr<ControlModel> MakeModel(ControlKind kind, const Window& w);

std::unique_ptr<ControlModel> MakeViewModel(ControlKind kind);
LRESULT ListViewProc(HWND, UINT, WPARAM, LPARAM);
LRESULT TreeViewProc(HWND, UINT, WPARAM, LPARAM);
LRESULT TabProc(HWND, UINT, WPARAM, LPARAM);
LRESULT StatusBarProc(HWND, UINT, WPARAM, LPARAM);
LRESULT TooltipsProc(HWND, UINT, WPARAM, LPARAM);

template <class M>
M* ModelOf(Window* w) {
    return w ? dynamic_cast<M*>(w->model.get()) : nullptr;
}
// The window when it takes input (alive, visible and enabled up to the top), else null.
Window* InputTarget(HWND h);
// A user action focuses its control first. The old focus hears WM_KILLFOCUS and its handler may
// destroy, hide or disable the target, so the target is looked up again: null when the action
// no longer applies.
Window* FocusForInput(HWND h);
// Sends WM_NOTIFY with a record that starts with an NMHDR filled here; the parent's answer.
LRESULT NotifyParentNm(Window& control, UINT code, NMHDR* record);
// Whether a key is down, as the input fetched so far left it (Ctrl, Shift, Alt).
bool KeyDown(UINT vk);

// Copies text into a caller's buffer of size bytes: at most size-1 bytes, cut back to a UTF-8
// character boundary, always terminated. Bytes copied.
int CopyText(const std::string& text, char* buffer, size_t size);
std::string Lower(std::string s);

// User actions on controls (the driver's and the real back-end's way in). False when the target
// takes no input (dead, hidden or disabled) or the action does not apply to it.
enum Mods : unsigned { kNoMods = 0, kCtrl = 1, kShift = 2, kAlt = 4 };
bool UserClick(HWND h);
bool UserReplaceText(HWND h, const std::string& text);
bool UserTypeText(HWND h, const std::string& text);
bool UserPickCombo(HWND h, int index);
bool UserPickList(HWND h, int index, unsigned mods);
bool UserDragTrack(HWND h, const std::vector<int>& positions);
bool UserKeyTrack(HWND h, UINT vk);
bool UserClickRow(HWND h, int row, bool right, unsigned mods);
bool UserDoubleClickRow(HWND h, int row);
bool UserToggleRowCheck(HWND h, int row);
// A click on a column header of a report view (none with LVS_NOSORTHEADER).
bool UserClickColumn(HWND h, int column);
bool UserSelectTreeItem(HWND h, HTREEITEM item, bool byMouse);
// The tip the parent gives for a node ("" when it gives none or the view has no TVS_INFOTIP).
std::string UserHoverTreeItem(HWND h, HTREEITEM item);
bool UserPickTab(HWND h, int index);
// Control model reads for the driver.
std::vector<std::string> ItemsOf(HWND h);
std::vector<int> SelectionOf(HWND h);
// Tabs: texts and the current index; list views: first cells and the selected rows.
std::vector<std::string> ViewItemsOf(Window* w);
std::vector<int> ViewSelectionOf(Window* w);
int PositionOf(HWND h);
// The default button of a dialog, or null.
Window* DefaultButtonOf(Window* dialog);

}  // namespace gui::detail
