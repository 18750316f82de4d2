// Window records: start and stop of the layer, classes, creation and destruction, the tree, window data,
// text, visibility, activation, focus and the enabled state.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/gui/internal.h"
#include "platform/msgbox.h"
#include "platform/sync.h"

namespace gui {
namespace detail {

namespace {

std::atomic<uint64_t> g_nextHandle{0x10010};  // one counter for every kind of handle, never reused
std::atomic<std::thread::id> g_uiThread{};
std::atomic<bool> g_running{false};

HWND NewHandle() { return reinterpret_cast<HWND>(static_cast<uintptr_t>(g_nextHandle.fetch_add(4))); }
bool HasMenuBar(const Window& w) { return !w.parent && w.menu && S().menus.count(reinterpret_cast<uintptr_t>(w.menu)); }

std::string ClassKey(HINSTANCE instance, const std::string& name) {
    return std::to_string(reinterpret_cast<uintptr_t>(instance)) + ":" + Lower(name);
}

void AddSystemClass(const char* name, WNDPROC proc, ControlKind kind) {
    auto c = std::make_shared<WindowClass>();
    c->name = name;
    c->proc = proc;
    c->system = true;
    c->kind = kind;
    std::lock_guard lk(S().classLock);
    S().classes[ClassKey(nullptr, name)] = c;
}

Frame FrameOf(const Window& w) { return FrameFor(w.style, w.exStyle, w.isDialog, HasMenuBar(w)); }

// WM_SIZE carries the client size, WM_MOVE the client area's origin (on the screen for
// top-levels, in the parent's client area for children).
void SendSize(const WindowPtr& w, WPARAM kind) {
    Frame f = FrameOf(*w);
    int width = std::max(0, static_cast<int>(w->rect.right - w->rect.left) - 2 * f.border);
    int height = std::max(0, static_cast<int>(w->rect.bottom - w->rect.top) - 2 * f.border - f.caption);
    CallProc(w, WM_SIZE, kind, MAKELPARAM(static_cast<unsigned>(width), static_cast<unsigned>(height)));
}

void SendMove(const WindowPtr& w) {
    Frame f = FrameOf(*w);
    CallProc(w, WM_MOVE, 0,
             MAKELPARAM(static_cast<unsigned>(w->rect.left + f.border),
                        static_cast<unsigned>(w->rect.top + f.border + f.caption)));
}

bool Within(const Window* w, const Window* ancestor) {
    for (; w; w = w->parent)
        if (w == ancestor) return true;
    return false;
}

bool FocusWithin(const Window* w) {
    Window* f = Raw(S().focus);
    return f && Within(f, w);
}

// Moves the focus; the old focus hears WM_KILLFOCUS, the new one WM_SETFOCUS.
void ChangeFocus(HWND h) {
    State& s = S();
    HWND old = s.focus;
    if (old == h) return;
    s.focus = h;
    if (old) SendMessageA(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(h), 0);
    if (h && s.focus == h) {
        if (Window* w = Raw(h)) {
            if (Window* d = DialogRootOf(w)) d->lastFocus = h;
        }
        SendMessageA(h, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    }
}

Window* FirstTabStop(Window* w) {
    for (Window* c : w->children) {
        if ((c->style & WS_TABSTOP) && CanTakeInput(*c)) return c;
        if (Window* d = FirstTabStop(c)) return d;
    }
    return nullptr;
}

void CollectSubtree(Window* w, std::vector<WindowPtr>& out) {
    if (!w || w->destroying) return;
    WindowPtr p = Lookup(w->handle);
    if (!p) return;
    p->destroying = true;
    out.push_back(p);
    for (Window* c : std::vector<Window*>(w->children)) CollectSubtree(c, out);
    for (Window* t : std::vector<Window*>(S().topLevels))
        if (t->owner == w) CollectSubtree(t, out);
}

void Detach(Window* w) {
    State& s = S();
    auto& list = w->parent ? w->parent->children : s.topLevels;
    list.erase(std::remove(list.begin(), list.end(), w), list.end());
}

void SendCtlColor(Window& w) {
    UINT msg = 0;
    switch (w.cls->kind) {
    case ControlKind::Static:
    case ControlKind::Trackbar: msg = WM_CTLCOLORSTATIC; break;
    case ControlKind::Edit: msg = (w.style & ES_READONLY) ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT; break;
    case ControlKind::ListBox: msg = WM_CTLCOLORLISTBOX; break;
    case ControlKind::ComboBox: msg = ((w.style & 3) == CBS_DROPDOWNLIST) ? WM_CTLCOLORLISTBOX : WM_CTLCOLOREDIT; break;
    case ControlKind::Button: {
        DWORD t = w.style & BS_TYPEMASK;
        msg = (t == BS_PUSHBUTTON || t == BS_DEFPUSHBUTTON) ? WM_CTLCOLORBTN : WM_CTLCOLORSTATIC;
        break;
    }
    default: return;
    }
    if (w.parent) SendMessageA(w.parent->handle, msg, 0, reinterpret_cast<LPARAM>(w.handle));
}

}  // namespace

Frame FrameFor(DWORD style, DWORD exStyle, bool dialog, bool menuBar) {
    Frame f;
    if (style & WS_CHILD) return f;
    if (style & WS_THICKFRAME) f.border = 4;
    else if ((style & (WS_DLGFRAME | WS_BORDER)) || (exStyle & WS_EX_DLGMODALFRAME) || (dialog && (style & DS_MODALFRAME)))
        f.border = 3;
    if ((style & WS_CAPTION) == WS_CAPTION) f.caption = 23;
    if (menuBar) f.caption += 20;  // the menu bar sits between caption and client area
    return f;
}

State& S() {
    static State* s = new State();  // never destroyed: worker threads may still look at it at exit
    return *s;
}

uintptr_t NextHandleValue() { return static_cast<uintptr_t>(g_nextHandle.load()); }
uintptr_t TakeHandleValue() { return static_cast<uintptr_t>(g_nextHandle.fetch_add(4)); }

bool OnUi() { return g_running.load() && g_uiThread.load() == std::this_thread::get_id(); }
bool Running() { return g_running.load(); }

namespace {
// The clock is read from any thread (GetTickCount) and replaced only by Init and Shutdown.
std::mutex g_clockLock;
std::shared_ptr<const std::function<uint64_t()>> g_clock;

void SetClock(std::function<uint64_t()> clock) {
    auto next = clock ? std::make_shared<const std::function<uint64_t()>>(std::move(clock)) : nullptr;
    std::lock_guard lk(g_clockLock);
    g_clock = std::move(next);
}
}  // namespace

uint64_t Now() {
    std::shared_ptr<const std::function<uint64_t()>> clock;
    {
        std::lock_guard lk(g_clockLock);
        clock = g_clock;
    }
    return clock ? (*clock)() : platform::TickCount();
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int CopyText(const std::string& text, char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    size_t n = std::min(text.size(), size - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

WindowPtr Lookup(HWND h) {
    if (!h) return nullptr;
    State& s = S();
    std::lock_guard lk(s.lock);
    auto it = s.windows.find(reinterpret_cast<uintptr_t>(h));
    if (it == s.windows.end() || !it->second->alive) return nullptr;
    return it->second;
}

LRESULT CallProc(const WindowPtr& w, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!w || !w->alive || !w->proc) return 0;
    WNDPROC proc = w->proc;
    auto& frames = S().frames;
    frames.push_back(reinterpret_cast<uintptr_t>(RootOf(w.get())->handle));
    ++w->callDepth;
    LRESULT r = proc(w->handle, msg, wParam, lParam);
    --w->callDepth;
    frames.pop_back();
    if (w->alive) MarkChanged(*w);
    return r;
}

LRESULT NotifyParentNm(Window& control, UINT code, NMHDR* record) {
    if (!control.parent) return 0;
    record->hwndFrom = control.handle;
    record->idFrom = static_cast<UINT_PTR>(control.ctrlId);
    record->code = code;
    return SendMessageA(control.parent->handle, WM_NOTIFY, static_cast<WPARAM>(control.ctrlId),
                        reinterpret_cast<LPARAM>(record));
}

bool KeyDown(UINT vk) { return S().keysDown.count(vk) != 0; }

void NotifyParent(Window& control, UINT code) {
    if (!control.parent) return;
    SendMessageA(control.parent->handle, WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(control.ctrlId), code),
                 reinterpret_cast<LPARAM>(control.handle));
}

bool CanTakeInput(const Window& w) {
    for (const Window* p = &w; p; p = p->parent) {
        if (!p->alive || !(p->style & WS_VISIBLE) || (p->style & WS_DISABLED)) return false;
    }
    return true;
}

Window* RootOf(Window* w) {
    while (w && w->parent) w = w->parent;
    return w;
}

Window* DialogRootOf(Window* w) {
    Window* found = nullptr;
    for (; w; w = w->parent)
        if (w->isDialog) found = w;
    return found;
}

ControlKind KindOf(const Window& w) { return w.cls ? w.cls->kind : ControlKind::None; }

std::shared_ptr<const WindowClass> FindClass(HINSTANCE instance, const std::string& name) {
    State& s = S();
    std::lock_guard lk(s.classLock);
    auto it = s.classes.find(ClassKey(instance, name));
    if (it != s.classes.end()) return it->second;
    it = s.classes.find(ClassKey(nullptr, name));
    if (it != s.classes.end()) return it->second;
    return nullptr;
}

void RegisterSystemClasses() {
    AddSystemClass(kDialogClass, DialogClassProc, ControlKind::Dialog);
    AddSystemClass(kButtonClass, ButtonProc, ControlKind::Button);
    AddSystemClass(kStaticClass, StaticProc, ControlKind::Static);
    AddSystemClass(kEditClass, EditProc, ControlKind::Edit);
    AddSystemClass(kComboBoxClass, ComboBoxProc, ControlKind::ComboBox);
    AddSystemClass(kListBoxClass, ListBoxProc, ControlKind::ListBox);
    AddSystemClass(kTrackbarClass, TrackbarProc, ControlKind::Trackbar);
    AddSystemClass(kProgressClass, ProgressProc, ControlKind::Progress);
    AddSystemClass(kListViewClass, ListViewProc, ControlKind::ListView);
    AddSystemClass(kTreeViewClass, TreeViewProc, ControlKind::TreeView);
    AddSystemClass(kTabClass, TabProc, ControlKind::Tab);
    AddSystemClass(kStatusBarClass, StatusBarProc, ControlKind::StatusBar);
    AddSystemClass(kTooltipsClass, TooltipsProc, ControlKind::Tooltips);
}

std::atomic<void (*)()> g_displayWake{nullptr};

void WakeUi() {
    S().uiWake.notify_all();
    if (auto wake = g_displayWake.load()) wake();
}

void SetDisplayWake(void (*wake)()) { g_displayWake.store(wake); }

void MarkChanged(const Window& w) {
    State& s = S();
    if (s.backend) s.changed.insert(reinterpret_cast<uintptr_t>(w.handle));
}

static int ClosedComboHeight() {
    const State& s = S();
    return s.comboHeight > 0 ? s.comboHeight : s.options.baseUnitY + 8;
}

// A drop-down combo box is one line high; the height asked for is its list's.
static int ShownHeight(const Window& w, int height) {
    if (KindOf(w) != ControlKind::ComboBox || (w.style & 3) == CBS_SIMPLE || height <= 0) return height;
    return ClosedComboHeight();
}

HWND CreateWindowInternal(DWORD exStyle, const std::shared_ptr<const WindowClass>& cls, LPCSTR windowName,
                          DWORD style, int x, int y, int width, int height, HWND parent, HMENU menu,
                          HINSTANCE instance, void* param, bool sendCreate) {
    State& s = S();
    auto w = std::make_shared<Window>();
    w->cls = cls;
    w->proc = cls->proc;
    w->style = style & ~WS_VISIBLE;
    w->exStyle = exStyle;
    w->instance = instance;
    w->text = windowName ? windowName : "";
    // A window being destroyed takes no new children or owned windows: they would outlive it.
    if (style & WS_CHILD) {
        w->parent = Raw(parent);
        if (!w->parent || w->parent->destroying) return nullptr;
        w->ctrlId = static_cast<intptr_t>(reinterpret_cast<uintptr_t>(menu));
    } else {
        if (parent) {
            Window* o = Raw(parent);
            if (!o || RootOf(o)->destroying) return nullptr;
            w->owner = RootOf(o);
        }
        w->menu = menu;
    }
    const bool top = !w->parent;
    if (x == CW_USEDEFAULT) x = y = top ? 40 : 0;
    if (width == CW_USEDEFAULT) {
        width = top ? 640 : 0;
        height = top ? 480 : 0;
    }
    w->rect = RECT{x, y, x + width, y + ShownHeight(*w, height)};
    w->normalRect = w->rect;
    w->model = MakeModel(cls->kind, *w);
    w->handle = NewHandle();
    HWND h = w->handle;
    {
        std::lock_guard lk(s.lock);
        s.windows[reinterpret_cast<uintptr_t>(h)] = w;
    }
    (top ? s.topLevels : w->parent->children).push_back(w.get());
    if (s.backend) s.backend->Created(*w);
    if (!sendCreate) return h;

    CREATESTRUCTA cs;
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.x = x;
    cs.y = y;
    cs.cx = width;
    cs.cy = height;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = windowName;
    cs.lpszClass = cls->name.c_str();
    cs.dwExStyle = exStyle;
    if (top) {
        MINMAXINFO mmi;
        mmi.ptMaxSize = POINT{s.options.workArea.right - s.options.workArea.left,
                              s.options.workArea.bottom - s.options.workArea.top};
        mmi.ptMaxTrackSize = mmi.ptMaxSize;
        CallProc(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
    }
    if (w->alive && CallProc(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(h);
        return nullptr;
    }
    if (!w->alive) return nullptr;
    SendSize(w, SIZE_RESTORED);
    if (w->alive) SendMove(w);
    if (!w->alive) return nullptr;
    if (style & WS_VISIBLE) {
        if (top) ShowWindow(h, SW_SHOW);
        else w->style |= WS_VISIBLE;
    }
    if (!top) SendCtlColor(*w);
    return w->alive ? h : nullptr;
}

void Activate(Window* top) {
    State& s = S();
    if (!top || !top->alive) return;
    top = RootOf(top);
    if (s.active == top->handle && FocusWithin(top)) return;
    if (Window* old = Raw(s.active)) {
        if (old != top && old->isDialog && FocusWithin(old)) old->lastFocus = s.focus;
    }
    s.active = top->handle;
    Window* target = top;
    if (top->isDialog) {
        Window* last = Raw(top->lastFocus);
        if (last && Within(last, top) && CanTakeInput(*last)) target = last;
        else if (Window* first = FirstTabStop(top)) target = first;
    }
    if (CanTakeInput(*target)) ChangeFocus(target->handle);
}

void DestroyPendingDialogs() {
    State& s = S();
    if (s.pendingDestroy.empty()) return;
    std::vector<HWND> keep;
    for (HWND h : std::vector<HWND>(s.pendingDestroy)) {
        Window* w = Raw(h);
        if (!w) continue;
        bool busy = false;
        for (Window* p = w; p; p = p->parent) busy = busy || p->callDepth > 0;
        if (busy) keep.push_back(h);
        else DestroyWindow(h);
    }
    s.pendingDestroy = std::move(keep);
}

}  // namespace detail

using namespace detail;

// ---------------------------------------------------------------------------------------------

// The state only the UI thread touches: windows in creation, timers, paint, modal loops, focus and
// the test hooks. Emptied when the layer starts and when it shuts down.
static void ClearUiThreadState(State& s) {
    s.topLevels.clear();
    s.timers.clear();
    s.paint.clear();
    s.keysDown.clear();
    s.menus.clear();
    s.accelerators.clear();
    s.popupResponder = nullptr;
    s.fileResponder = nullptr;
    s.folderResponder = nullptr;
    s.trayAvailable = true;
    s.gdi.clear();
    s.stockObjects.clear();
    s.cursor = nullptr;
    s.cursorPos = POINT{};
    s.tray.clear();
    for (auto& [key, target] : s.dropTargets) target->Release();
    s.dropTargets.clear();
    s.modalStack.clear();
    s.pendingDestroy.clear();
    s.focus = s.active = nullptr;
    s.boxResponder = nullptr;
    s.idleHook = nullptr;
}

bool Init(const InitOptions& options) {
    State& s = S();
    if (g_running.load()) return false;
    {
        std::lock_guard lk(s.lock);
        s.windows.clear();
        s.sent.clear();
        s.posted.clear();
        s.input.clear();
        s.quitPending = false;
        s.quitCode = 0;
    }
    ClearUiThreadState(s);
    s.serving.clear();
    s.frames.clear();
    {
        std::lock_guard lk(s.classLock);
        s.classes.clear();
    }
    s.lastTemplateError.clear();
    s.options = options;
    s.comboHeight = 0;
    SetClock(options.clock);
    RegisterSystemClasses();
    g_uiThread.store(std::this_thread::get_id());
    g_running.store(true);
    platform::SetUiThread();
    // Every wait of the UI thread on a platform lock or event serves sends while it waits.
    platform::SetUiWaitHook([](uint32_t timeoutMs, const std::function<bool()>& ready) {
        return WaitPumping(timeoutMs, ready);
    });
    platform::SetMessageBoxHook([](void* owner, const char* text, const char* caption, unsigned style) {
        return MessageBoxA(static_cast<HWND>(owner), text, caption, style);
    });
    if (options.backend == InitOptions::Backend::Auto) {
        const char* forced = std::getenv("SONQUILL_GUI");
        if (!forced || std::string(forced) != "headless") {
            s.backend = StartDisplayBackend();
            if (!s.backend) std::fprintf(stderr, "gui: no display could be opened; running without windows\n");
        }
    }
    return true;
}

void Shutdown() {
    if (!OnUi()) return;
    State& s = S();
    // By handle: destroying one top-level takes the windows it owns along, so a pointer taken
    // before may already be gone.
    for (int round = 0; round < 8 && !s.topLevels.empty(); ++round) {
        std::vector<HWND> handles;
        for (Window* w : s.topLevels) handles.push_back(w->handle);
        for (HWND h : handles)
            if (IsWindow(h)) DestroyWindow(h);
    }
    s.changed.clear();
    s.backend.reset();
    platform::SetMessageBoxHook(nullptr);
    platform::SetUiWaitHook(nullptr);
    {
        std::lock_guard lk(s.lock);
        g_running.store(false);
        for (auto& rec : s.sent) {
            rec->result = 0;
            rec->done = true;
        }
        s.sent.clear();
        s.posted.clear();
        s.input.clear();
        s.windows.clear();
    }
    s.replyWake.notify_all();
    g_uiThread.store(std::thread::id{});
    ClearUiThreadState(s);
    SetResourceProvider(nullptr);  // under the provider lock: other threads may read it
    s.options = InitOptions{};
    SetClock(nullptr);
}

bool IsUiThread() { return OnUi(); }
bool IsRunning() { return Running(); }

DWORD GetTickCount() { return static_cast<DWORD>(Now()); }
uint64_t TickCount64() { return Now(); }

std::string LastTemplateError() {
    if (!OnUi()) return {};
    return S().lastTemplateError;
}

ATOM RegisterClassA(const WNDCLASSA* wc) {
    if (!OnUi()) return Marshal<ATOM>([&] { return RegisterClassA(wc); });
    if (!wc || !wc->lpszClassName || !*wc->lpszClassName || !wc->lpfnWndProc) return 0;
    State& s = S();
    std::string key = ClassKey(wc->hInstance, wc->lpszClassName);
    std::lock_guard lk(s.classLock);
    if (s.classes.count(key)) return 0;
    auto c = std::make_shared<WindowClass>();
    c->name = wc->lpszClassName;
    c->instance = wc->hInstance;
    c->proc = wc->lpfnWndProc;
    c->style = wc->style;
    c->icon = wc->hIcon;
    c->cursor = wc->hCursor;
    c->background = wc->hbrBackground;
    static std::atomic<ATOM> nextAtom{0xC000};
    c->atom = nextAtom.fetch_add(1);
    s.classes[key] = c;
    return c->atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance) {
    if (!OnUi()) return Marshal<BOOL>([&] { return UnregisterClassA(className, instance); });
    if (!className) return FALSE;
    State& s = S();
    std::lock_guard lk(s.classLock);
    auto it = s.classes.find(ClassKey(instance, className));
    if (it == s.classes.end() || it->second->system) return FALSE;
    s.classes.erase(it);
    return TRUE;
}

BOOL GetClassInfoA(HINSTANCE instance, LPCSTR className, WNDCLASSA* out) {
    if (!OnUi()) return Marshal<BOOL>([&] { return GetClassInfoA(instance, className, out); });
    if (!className) return FALSE;
    auto c = FindClass(instance, className);
    if (!c) return FALSE;
    if (out) {
        *out = WNDCLASSA{};
        out->style = c->style;
        out->lpfnWndProc = c->proc;
        out->hInstance = c->instance;
        out->hIcon = c->icon;
        out->hCursor = c->cursor;
        out->hbrBackground = c->background;
        out->lpszClassName = c->name.c_str();
    }
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, void* param) {
    if (!OnUi())
        return Marshal<HWND>([&] {
            return CreateWindowExA(exStyle, className, windowName, style, x, y, width, height, parent, menu,
                                   instance, param);
        });
    if (!className) return nullptr;
    auto cls = FindClass(instance, className);
    if (!cls) return nullptr;
    return CreateWindowInternal(exStyle, cls, windowName, style, x, y, width, height, parent, menu, instance, param,
                                true);
}

BOOL DestroyWindow(HWND hwnd) {
    if (!OnUi()) return Marshal<BOOL>([&] { return DestroyWindow(hwnd); });
    State& s = S();
    WindowPtr w = Lookup(hwnd);
    if (!w) return FALSE;
    if (w->destroying) return TRUE;
    Window* owner = w->parent ? nullptr : w->owner;
    std::vector<WindowPtr> order;
    CollectSubtree(w.get(), order);
    bool wasActive = false;
    for (auto& p : order) {
        if (s.focus == p->handle) s.focus = nullptr;
        if (s.active == p->handle) {
            s.active = nullptr;
            wasActive = true;
        }
    }
    for (auto& p : order) CallProc(p, WM_DESTROY, 0, 0);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        WindowPtr& p = *it;
        CallProc(p, WM_NCDESTROY, 0, 0);
        if (s.backend) s.backend->Destroying(*p);
        p->peer.reset();
        s.changed.erase(reinterpret_cast<uintptr_t>(p->handle));
        Detach(p.get());
        {
            // Other threads read alive under the lock (IsWindow, PostMessageA).
            std::lock_guard lk(s.lock);
            p->alive = false;
            s.windows.erase(reinterpret_cast<uintptr_t>(p->handle));
        }
        p->ended = true;
        if (!p->parent && p->menu) DestroyMenuTree(p->menu);  // a window's menu bar goes with it
        ForgetDropTarget(p->handle);
        for (auto t = s.timers.begin(); t != s.timers.end();) {
            if (t->first.first == reinterpret_cast<uintptr_t>(p->handle)) t = s.timers.erase(t);
            else ++t;
        }
        s.paint.erase(reinterpret_cast<uintptr_t>(p->handle));
    }
    for (auto& p : order) {
        p->children.clear();
        p->parent = nullptr;
        p->owner = nullptr;
        if (s.focus == p->handle) s.focus = nullptr;
    }
    WakeUi();
    if (wasActive && owner && owner->alive) Activate(owner);
    return TRUE;
}

LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!OnUi()) return Marshal<LRESULT>([&] { return DefWindowProcA(hwnd, msg, wParam, lParam); });
    Window* w = Raw(hwnd);
    if (!w) return 0;
    switch (msg) {
    case WM_SETTEXT:
        w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
        return TRUE;
    case WM_GETTEXT: return CopyText(w->text, reinterpret_cast<char*>(lParam), wParam);
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(w->text.size());
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_SETFONT: w->font = reinterpret_cast<HFONT>(wParam); return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(w->font);
    case WM_ERASEBKGND: return 1;
    default: return 0;
    }
}

UINT RegisterWindowMessageA(LPCSTR name) {
    static std::mutex m;
    static std::map<std::string, UINT> ids;
    if (!name || !*name) return 0;
    std::lock_guard lk(m);
    auto [it, added] = ids.emplace(Lower(name), 0);
    if (added) it->second = 0xC000 + static_cast<UINT>(ids.size()) - 1;
    return it->second;
}

BOOL IsWindow(HWND hwnd) { return Lookup(hwnd) != nullptr; }

HWND GetParent(HWND hwnd) {
    if (!OnUi()) return Marshal<HWND>([&] { return GetParent(hwnd); });
    Window* w = Raw(hwnd);
    if (!w) return nullptr;
    if (w->parent) return w->parent->handle;
    return w->owner ? w->owner->handle : nullptr;
}

uint64_t GetNativeWindowId(HWND hwnd) {
    if (!OnUi()) return Marshal<uint64_t>([&] { return GetNativeWindowId(hwnd); });
    Window* w = Raw(hwnd);
    State& s = S();
    return w && s.backend ? s.backend->NativeId(*w) : 0;  // headless: no display windows
}

HWND SetParent(HWND child, HWND newParent) {
    if (!OnUi()) return Marshal<HWND>([&] { return SetParent(child, newParent); });
    Window* w = Raw(child);
    Window* p = newParent ? Raw(newParent) : nullptr;
    if (!w || (newParent && !p) || (p && Within(p, w))) return nullptr;
    HWND old = w->parent ? w->parent->handle : nullptr;
    Detach(w);
    w->parent = p;
    (p ? p->children : S().topLevels).push_back(w);
    if (p) w->owner = nullptr;
    MarkChanged(*w);
    return old;
}

HWND GetDlgItem(HWND dialog, int id) {
    if (!OnUi()) return Marshal<HWND>([&] { return GetDlgItem(dialog, id); });
    Window* w = Raw(dialog);
    if (!w) return nullptr;
    for (Window* c : w->children)
        if (static_cast<int>(c->ctrlId) == id) return c->handle;
    return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
    if (!OnUi()) return Marshal<int>([&] { return GetDlgCtrlID(hwnd); });
    Window* w = Raw(hwnd);
    return w && w->parent ? static_cast<int>(w->ctrlId) : 0;
}

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam) {
    if (!OnUi()) return Marshal<BOOL>([&] { return EnumChildWindows(parent, proc, lParam); });
    if (!proc) return FALSE;
    std::vector<HWND> all;
    std::function<void(const std::vector<Window*>&)> walk = [&](const std::vector<Window*>& list) {
        for (Window* c : list) {
            all.push_back(c->handle);
            walk(c->children);
        }
    };
    if (parent) {
        Window* w = Raw(parent);
        if (!w) return FALSE;
        walk(w->children);
    } else {
        for (Window* t : S().topLevels) all.push_back(t->handle);
    }
    for (HWND h : all) {
        if (!IsWindow(h)) continue;
        if (!proc(h, lParam)) break;
    }
    return TRUE;
}

int GetClassNameA(HWND hwnd, LPSTR buffer, int size) {
    if (!OnUi()) return Marshal<int>([&] { return GetClassNameA(hwnd, buffer, size); });
    Window* w = Raw(hwnd);
    if (!w || size <= 0) return 0;
    return CopyText(w->cls->name, buffer, static_cast<size_t>(size));
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
    if (!OnUi()) return Marshal<LONG_PTR>([&] { return GetWindowLongPtrA(hwnd, index); });
    Window* w = Raw(hwnd);
    if (!w) return 0;
    switch (index) {
    case GWL_STYLE: return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(w->exStyle);
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_USERDATA: return w->userData;
    case GWLP_ID: return w->ctrlId;
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT: {
        Window* p = w->parent ? w->parent : w->owner;
        return p ? reinterpret_cast<LONG_PTR>(p->handle) : 0;
    }
    default: break;
    }
    if (!w->isDialog) return 0;
    switch (index) {
    case DWLP_MSGRESULT: return w->msgResult;
    case DWLP_DLGPROC: return reinterpret_cast<LONG_PTR>(w->dlgProc);
    case DWLP_USER: return w->dlgUser;
    default: return 0;
    }
}

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    if (!OnUi()) return Marshal<LONG_PTR>([&] { return SetWindowLongPtrA(hwnd, index, value); });
    Window* w = Raw(hwnd);
    if (!w) return 0;
    LONG_PTR old = GetWindowLongPtrA(hwnd, index);
    switch (index) {
    case GWL_STYLE:
        w->style = static_cast<DWORD>(value);
        MarkChanged(*w);
        return old;
    case GWL_EXSTYLE:
        w->exStyle = static_cast<DWORD>(value);
        MarkChanged(*w);
        return old;
    case GWLP_WNDPROC:
        if (value) w->proc = reinterpret_cast<WNDPROC>(value);
        return old;
    case GWLP_USERDATA: w->userData = value; return old;
    case GWLP_ID: w->ctrlId = value; return old;
    default: break;
    }
    if (!w->isDialog) return 0;
    switch (index) {
    case DWLP_MSGRESULT: w->msgResult = value; return old;
    case DWLP_DLGPROC: w->dlgProc = reinterpret_cast<DLGPROC>(value); return old;
    case DWLP_USER: w->dlgUser = value; return old;
    default: return 0;
    }
}

BOOL SetWindowTextA(HWND hwnd, LPCSTR text) {
    if (!IsWindow(hwnd)) return FALSE;
    return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) ? TRUE : FALSE;
}

int GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    return static_cast<int>(SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND hwnd) { return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0)); }

BOOL ShowWindow(HWND hwnd, int cmd) {
    if (!OnUi()) return Marshal<BOOL>([&] { return ShowWindow(hwnd, cmd); });
    State& s = S();
    WindowPtr w = Lookup(hwnd);
    if (!w) return FALSE;
    const bool wasVisible = (w->style & WS_VISIBLE) != 0;
    const bool show = cmd != SW_HIDE;
    int state = w->showState;
    if (!w->parent) {
        switch (cmd) {
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE: state = SW_SHOWMINIMIZED; break;
        case SW_SHOWMAXIMIZED: state = SW_SHOWMAXIMIZED; break;
        case SW_SHOWNORMAL:
        case SW_RESTORE: state = SW_SHOWNORMAL; break;
        default: break;
        }
    }
    const bool visChange = wasVisible != show;
    const bool stateChange = state != w->showState;
    if (visChange) {
        if (show) w->style |= WS_VISIBLE;
        else w->style &= ~WS_VISIBLE;
        CallProc(w, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
        if (show && w->alive && w->parent) SendCtlColor(*w);  // the parent may colour what it shows
    }
    if (stateChange && w->alive) {
        if (w->showState == SW_SHOWNORMAL) w->normalRect = w->rect;
        w->showState = state;
        w->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
        WPARAM kind = SIZE_RESTORED;
        if (state == SW_SHOWMINIMIZED) {
            w->style |= WS_MINIMIZE;
            kind = SIZE_MINIMIZED;
        } else if (state == SW_SHOWMAXIMIZED) {
            w->style |= WS_MAXIMIZE;
            w->rect = s.options.workArea;
            kind = SIZE_MAXIMIZED;
        } else {
            w->rect = w->normalRect;
        }
        SendSize(w, kind);
    }
    if ((visChange || stateChange) && w->alive) CallProc(w, WM_WINDOWPOSCHANGED, 0, 0);
    if (!w->alive) return wasVisible;
    if (!show || state == SW_SHOWMINIMIZED) {
        if (FocusWithin(w.get())) ChangeFocus(nullptr);
        if (s.active == hwnd) s.active = nullptr;
    } else if (!w->parent && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE) {
        Activate(w.get());
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
    if (!OnUi()) return Marshal<BOOL>([&] { return IsWindowVisible(hwnd); });
    for (Window* w = Raw(hwnd); w; w = w->parent)
        if (!(w->style & WS_VISIBLE)) return FALSE;
    return Raw(hwnd) ? TRUE : FALSE;
}

BOOL IsIconic(HWND hwnd) {
    if (!OnUi()) return Marshal<BOOL>([&] { return IsIconic(hwnd); });
    Window* w = Raw(hwnd);
    return w && w->showState == SW_SHOWMINIMIZED;
}

BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* out) {
    if (!OnUi()) return Marshal<BOOL>([&] { return GetWindowPlacement(hwnd, out); });
    Window* w = Raw(hwnd);
    if (!w || !out) return FALSE;
    out->length = sizeof(WINDOWPLACEMENT);
    out->flags = 0;
    out->showCmd = static_cast<UINT>(w->showState);
    out->rcNormalPosition = w->showState == SW_SHOWNORMAL ? w->rect : w->normalRect;
    return TRUE;
}

BOOL SetForegroundWindow(HWND hwnd) {
    if (!OnUi()) return Marshal<BOOL>([&] { return SetForegroundWindow(hwnd); });
    Window* w = Raw(hwnd);
    if (!w) return FALSE;
    Activate(RootOf(w));
    return TRUE;
}

HWND GetForegroundWindow() {
    if (!OnUi()) return Marshal<HWND>([&] { return GetForegroundWindow(); });
    return IsWindow(S().active) ? S().active : nullptr;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    if (!OnUi()) return Marshal<BOOL>([&] { return EnableWindow(hwnd, enable); });
    WindowPtr w = Lookup(hwnd);
    if (!w) return FALSE;
    const bool wasDisabled = (w->style & WS_DISABLED) != 0;
    if (wasDisabled == !enable) return wasDisabled;
    if (enable) w->style &= ~WS_DISABLED;
    else w->style |= WS_DISABLED;
    if (!enable && FocusWithin(w.get())) ChangeFocus(nullptr);
    CallProc(w, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND hwnd) {
    if (!OnUi()) return Marshal<BOOL>([&] { return IsWindowEnabled(hwnd); });
    Window* w = Raw(hwnd);
    return w && !(w->style & WS_DISABLED);
}

HWND SetFocus(HWND hwnd) {
    if (!OnUi()) return Marshal<HWND>([&] { return SetFocus(hwnd); });
    State& s = S();
    HWND old = IsWindow(s.focus) ? s.focus : nullptr;
    if (!hwnd) {
        ChangeFocus(nullptr);
        return old;
    }
    Window* w = Raw(hwnd);
    if (!w || !CanTakeInput(*w)) return nullptr;
    if (old == hwnd) return old;
    Window* root = RootOf(w);
    if (s.active != root->handle) s.active = root->handle;
    ChangeFocus(hwnd);
    return old;
}

HWND GetFocus() {
    if (!OnUi()) return nullptr;  // the focus belongs to the UI thread
    return IsWindow(S().focus) ? S().focus : nullptr;
}

BOOL UpdateWindow(HWND hwnd) {
    if (!OnUi()) return Marshal<BOOL>([&] { return UpdateWindow(hwnd); });
    WindowPtr w = Lookup(hwnd);
    if (!w) return FALSE;
    if (S().paint.erase(reinterpret_cast<uintptr_t>(hwnd))) CallProc(w, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL) {
    if (!OnUi()) return Marshal<BOOL>([&] { return InvalidateRect(hwnd, nullptr, FALSE); });
    if (!IsWindow(hwnd)) return FALSE;
    S().paint.insert(reinterpret_cast<uintptr_t>(hwnd));
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
    if (!OnUi()) return Marshal<BOOL>([&] { return MoveWindow(hwnd, x, y, width, height, TRUE); });
    WindowPtr w = Lookup(hwnd);
    if (!w) return FALSE;
    RECT old = w->rect;
    height = ShownHeight(*w, height);
    w->rect = RECT{x, y, x + width, y + height};
    if (w->showState == SW_SHOWNORMAL) w->normalRect = w->rect;
    CallProc(w, WM_WINDOWPOSCHANGED, 0, 0);
    if (w->alive && (old.left != x || old.top != y)) SendMove(w);
    if (w->alive && (old.right - old.left != width || old.bottom - old.top != height)) SendSize(w, SIZE_RESTORED);
    return TRUE;
}

BOOL GetWindowRect(HWND hwnd, RECT* out) {
    if (!OnUi()) return Marshal<BOOL>([&] { return GetWindowRect(hwnd, out); });
    Window* w = Raw(hwnd);
    if (!w || !out) return FALSE;
    RECT r = w->rect;
    for (Window* p = w->parent; p; p = p->parent) {
        Frame f = FrameOf(*p);
        int dx = p->rect.left + f.border, dy = p->rect.top + f.border + f.caption;
        r.left += dx;
        r.right += dx;
        r.top += dy;
        r.bottom += dy;
    }
    *out = r;
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* out) {
    if (!OnUi()) return Marshal<BOOL>([&] { return GetClientRect(hwnd, out); });
    Window* w = Raw(hwnd);
    if (!w || !out) return FALSE;
    Frame f = FrameOf(*w);
    int width = w->rect.right - w->rect.left - 2 * f.border;
    int height = w->rect.bottom - w->rect.top - 2 * f.border - f.caption;
    *out = RECT{0, 0, std::max(0, width), std::max(0, height)};
    return TRUE;
}

}  // namespace gui
