#include "ui/framework/window.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/gui/desktop.h"
#include "platform/numtext.h"

namespace ui {

using namespace gui;

// --- the window map ---

size_t CWindowMatchTable::LowerBound(HWND hwnd) const {
    auto key = reinterpret_cast<uintptr_t>(hwnd);
    return static_cast<size_t>(std::lower_bound(entries_.begin(), entries_.end(), key,
                                                [](const WindowMatchEntry& e, uintptr_t k) {
                                                    return reinterpret_cast<uintptr_t>(e.hwnd) < k;
                                                }) -
                               entries_.begin());
}

WindowMatchEntry* CWindowMatchTable::Add(HWND hwnd, CWindow* window) {
    std::lock_guard<platform::RecursiveMutex> hold(lock_);
    size_t at = LowerBound(hwnd);
    if (at < entries_.size() && entries_[at].hwnd == hwnd) return &entries_[at];
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), WindowMatchEntry{hwnd, window});
    lastFound_ = at;
    return &entries_[at];
}

bool CWindowMatchTable::Remove(HWND hwnd) {
    std::lock_guard<platform::RecursiveMutex> hold(lock_);
    size_t at = LowerBound(hwnd);
    if (at >= entries_.size() || entries_[at].hwnd != hwnd) return false;
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
    if (lastFound_ >= entries_.size()) lastFound_ = entries_.empty() ? 0 : entries_.size() - 1;
    return true;
}

CWindow* CWindowMatchTable::Find(HWND hwnd) {
    std::lock_guard<platform::RecursiveMutex> hold(lock_);
    if (entries_.empty() || !hwnd) return nullptr;
    if (lastFound_ < entries_.size() && entries_[lastFound_].hwnd == hwnd) return entries_[lastFound_].window;
    size_t at = LowerBound(hwnd);
    if (at >= entries_.size() || entries_[at].hwnd != hwnd) return nullptr;
    lastFound_ = at;
    return entries_[at].window;
}

int CWindowMatchTable::Count() {
    std::lock_guard<platform::RecursiveMutex> hold(lock_);
    return static_cast<int>(entries_.size());
}

std::vector<WindowMatchEntry> CWindowMatchTable::Entries() {
    std::lock_guard<platform::RecursiveMutex> hold(lock_);
    return entries_;
}

CWindowMatchTable& WindowMap() {
    static CWindowMatchTable table;
    return table;
}

CStringTable& UiStrings() {
    static CStringTable table;
    return table;
}

CStringTable& PluginStrings() {
    static CStringTable table;
    return table;
}

// --- life ---

namespace {

constexpr const char* kWindowClassName = "CWindowClass";

INT_PTR ClosedDialogProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

void ShowInvalidHandle(bool dialog) {
    if (dialog)
        MessageBoxA(nullptr, "Invalid window handle.", "", MB_OK | MB_ICONINFORMATION);
    else
        MessageBoxA(nullptr, "Invalid window handle", nullptr, MB_OK);
}

}  // namespace

CWindow::CWindow() : taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")) {}

CWindow::~CWindow() {
    if (hwnd_ && IsRunning() && IsWindow(hwnd_)) Close();
    if (hwnd_) WindowMap().Remove(hwnd_);
}

void CWindow::Detach() {
    if (!hwnd_) return;
    WindowMap().Remove(hwnd_);
    hwnd_ = nullptr;
    cachedId_ = 0;
    cachedItem_ = nullptr;
}

void CWindow::Close() {
    if (!hwnd_) return;
    HWND h = hwnd_;
    WindowMap().Remove(h);
    hwnd_ = nullptr;
    cachedId_ = 0;
    cachedItem_ = nullptr;
    if (IsDialog()) {
        SetWindowLongPtrA(h, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(&ClosedDialogProc));
        EndDialog(h, 0);
    } else {
        SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
        DestroyWindow(h);
    }
}

void CWindow::Hide() { ShowWindow(hwnd_, SW_HIDE); }
void CWindow::Show() { ShowWindow(hwnd_, SW_SHOW); }
void CWindow::SetForeground() { SetForegroundWindow(hwnd_); }
void CWindow::Minimize() { ShowWindow(hwnd_, SW_MINIMIZE); }
void CWindow::Maximize() { ShowWindow(hwnd_, SW_MAXIMIZE); }
void CWindow::SetText(const char* text) { SendMessageA(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); }

bool CWindow::RegisterWindowClass(HINSTANCE instance) {
    if (GetClassInfoA(instance, kWindowClassName, nullptr)) return true;
    WNDCLASSA wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = &CWindow::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_WINDOW + 1));
    wc.lpszClassName = kWindowClassName;
    return RegisterClassA(&wc) != 0;
}

HWND CWindow::Create(DWORD style, DWORD exStyle, CWindow* parent) {
    parent_ = parent;
    return Create(style, exStyle, parent ? parent->hwnd_ : nullptr);
}

HWND CWindow::Create(DWORD style, DWORD exStyle, HWND parent) {
    if (hwnd_) return hwnd_;
    if (!RegisterWindowClass(instance_)) return nullptr;
    parentHwnd_ = parent;
    flags_ &= ~kDialogFlag;
    return CreateWindowExA(exStyle, kWindowClassName, "", style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, parent, nullptr, instance_, this);
}

HWND CWindow::CreateWithClass(DWORD style, DWORD exStyle, const WNDCLASSA* wc, CWindow* parent) {
    parent_ = parent;
    return CreateWithClass(style, exStyle, parent ? parent->hwnd_ : nullptr, wc);
}

HWND CWindow::CreateWithClass(DWORD style, DWORD exStyle, HWND parent, const WNDCLASSA* wc) {
    if (hwnd_) return hwnd_;
    if (!GetClassInfoA(instance_, wc->lpszClassName, nullptr)) {
        WNDCLASSA own = *wc;
        own.lpfnWndProc = &CWindow::WindowProc;
        own.hInstance = instance_;
        if (!RegisterClassA(&own)) return nullptr;
    }
    parentHwnd_ = parent;
    flags_ &= ~kDialogFlag;
    return CreateWindowExA(exStyle, wc->lpszClassName, "", style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, parent, nullptr, instance_, this);
}

HWND CWindow::CreateModeless(HINSTANCE instance, int templateId, CWindow* parent) {
    parent_ = parent;
    return CreateModeless(instance, templateId, parent ? parent->hwnd_ : nullptr);
}

HWND CWindow::CreateModeless(HINSTANCE instance, int templateId, HWND parent) {
    if (hwnd_) return hwnd_;
    if (instance) instance_ = instance;
    parentHwnd_ = parent;
    flags_ |= kDialogFlag;
    modal_ = false;
    return CreateDialogParamA(instance_, MAKEINTRESOURCEA(templateId), parent, &CWindow::DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

int CWindow::DoModal(HINSTANCE instance, int templateId, HWND parent) {
    if (hwnd_) return -1;
    if (instance) instance_ = instance;
    parentHwnd_ = parent;
    flags_ |= kDialogFlag;
    modal_ = true;
    return static_cast<int>(DialogBoxParamA(instance_, MAKEINTRESOURCEA(templateId), parent, &CWindow::DialogProc,
                                            reinterpret_cast<LPARAM>(this)));
}

// --- the procedures ---

LRESULT CWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (CWindow* w = WindowMap().Find(hwnd)) {
        if (msg == WM_NCDESTROY) {
            // Destroyed with its parent, without WM_CLOSE: forget it all the same.
            w->Detach();
            return DefWindowProcA(hwnd, msg, wParam, lParam);
        }
        bool handled = Dispatch(w, msg, wParam, lParam);
        if (msg == WM_CLOSE) {
            if (!handled) return 0;
            if (w->parent_) w->parent_->OnChildClosed();
            // Forgotten before the destruction so that WM_NCDESTROY finds no entry.
            bool known = WindowMap().Remove(hwnd);
            w->hwnd_ = nullptr;
            DestroyWindow(hwnd);
            if (!known) ShowInvalidHandle(false);
            return 0;
        }
        return handled ? w->result_ : DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    if (msg != WM_CREATE) return -1;
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* w = cs ? static_cast<CWindow*>(cs->lpCreateParams) : nullptr;
    if (!w || !WindowMap().Add(hwnd, w)) return -1;
    w->hwnd_ = hwnd;
    if (w->OnInit()) return 0;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

INT_PTR CWindow::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (CWindow* w = WindowMap().Find(hwnd)) {
        if (msg == WM_NCDESTROY) {
            w->Detach();
            return 0;
        }
        bool handled = Dispatch(w, msg, wParam, lParam);
        if (msg == WM_CLOSE) {
            if (!handled) return 0;
            if (w->parent_) w->parent_->OnChildClosed();
            bool known = WindowMap().Remove(hwnd);
            w->hwnd_ = nullptr;
            EndDialog(hwnd, lParam);
            if (!known) ShowInvalidHandle(true);
            return 1;
        }
        if (!handled) return 0;
        if (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) return w->result_;
        if (w->result_) SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, w->result_);
        return 1;
    }
    if (msg != WM_INITDIALOG) return 0;
    auto* w = reinterpret_cast<CWindow*>(lParam);
    if (!w || !WindowMap().Add(hwnd, w)) return 0;
    w->hwnd_ = hwnd;
    return w->OnInit() ? 1 : 0;
}

bool CWindow::Dispatch(CWindow* w, UINT msg, WPARAM wParam, LPARAM lParam) {
    w->result_ = 0;
    auto id = static_cast<int>(LOWORD(wParam));
    auto code = static_cast<int>(HIWORD(wParam));
    auto ctl = reinterpret_cast<HWND>(lParam);
    switch (msg) {
    case WM_MOVE: return w->OnMove();
    case WM_SIZE: return w->OnSize(LOWORD(static_cast<uintptr_t>(lParam)), HIWORD(static_cast<uintptr_t>(lParam)));
    case WM_SETFOCUS: return w->OnSetFocus();
    case WM_PAINT: return w->OnPaint();
    case WM_CLOSE: return w->OnClose();
    case WM_ERASEBKGND: return w->OnEraseBackground(reinterpret_cast<HDC>(wParam));
    case WM_SHOWWINDOW: return w->OnShowWindow(wParam != 0);
    case WM_WINDOWPOSCHANGED: return w->OnWindowPosChanged();
    case WM_NOTIFY: return w->OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_KEYUP: return w->OnKeyUp(static_cast<int>(wParam));
    case WM_COMMAND:
        if (code == 0) return w->OnCommand(id, 0, ctl) || w->OnMenuCommand(id);
        if (code == 1) return w->OnSelChange(id, 1, ctl);
        if (code == 6 || code == 0x300) return w->OnEditChange(id, code, ctl);
        return w->OnCommandNotify(id, code, ctl);
    case WM_TIMER: return w->OnTimer(wParam);
    case WM_HSCROLL:
    case WM_VSCROLL: return w->OnScroll(ctl ? GetDlgCtrlID(ctl) : 0, id);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        HBRUSH brush = w->OnControlColor(reinterpret_cast<HDC>(wParam), static_cast<int>(msg - WM_CTLCOLORMSGBOX), ctl);
        w->result_ = reinterpret_cast<LRESULT>(brush);
        return brush != nullptr;
    }
    // Coordinates are signed: a drag left of or above the window gives negative ones.
    case WM_MOUSEMOVE: return w->OnMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), wParam);
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: return w->OnButtonDown(wParam, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    case WM_LBUTTONUP:
    case WM_RBUTTONUP: return w->OnButtonUp(wParam, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    case WM_PARENTNOTIFY: return w->OnParentNotify(id, lParam);
    case WM_ENTERMENULOOP: return w->OnEnterMenuLoop();
    case WM_EXITMENULOOP: return w->OnExitMenuLoop();
    case WM_MOUSELEAVE: return w->OnMouseLeave();
    case WM_USER: return w->OnUser(wParam, lParam);
    case kTrayMessage: return w->OnTrayNotify(wParam, lParam);
    case WM_APP: return w->OnAppCommand(wParam, lParam);
    default:
        if (w->taskbarCreated_ && msg == w->taskbarCreated_) return w->OnTaskbarCreated(msg, wParam, lParam);
        return false;
    }
}

// --- control helpers ---

HWND CWindow::GetItem(int id) {
    if (id != 0) {
        cachedId_ = id;
        cachedItem_ = GetDlgItem(hwnd_, id);
    }
    return cachedItem_;
}

LRESULT CWindow::SendItemMessage(int id, UINT msg, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(GetItem(id), msg, wParam, lParam);
}

bool CWindow::IsChecked(int id) { return SendItemMessage(id, BM_GETCHECK, 0, 0) == static_cast<LRESULT>(BST_CHECKED); }
void CWindow::SetCheck(int id, bool on) { SendItemMessage(id, BM_SETCHECK, on ? 1 : 0, 0); }
int CWindow::GetComboSel(int id) { return static_cast<int>(SendItemMessage(id, CB_GETCURSEL, 0, 0)); }
void CWindow::SetComboSel(int id, int index) { SendItemMessage(id, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }

std::string CWindow::GetItemText(int id) {
    auto len = SendItemMessage(id, WM_GETTEXTLENGTH, 0, 0);
    if (len <= 0) return {};
    std::string text(static_cast<size_t>(len) + 1, '\0');
    auto got = SendItemMessage(0, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

void CWindow::SetItemText(int id, const char* text) {
    SendItemMessage(id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : ""));
}

void CWindow::SetItemInt(int id, int value) { SetItemText(id, std::to_string(value).c_str()); }

void CWindow::SetItemFloat(int id, double value, int decimals) {
    // Always with '.', whatever numeric locale a toolkit has set.
    SetItemText(id, platform::FormatFixed(value, decimals > 0 ? std::min(decimals, 20) : 6).c_str());
}

int CWindow::SelectComboString(int id, const char* text) {
    HWND combo = GetItem(id);
    auto count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    std::string wanted = text ? text : "";
    for (int i = 0; i < count; ++i) {
        if (GetComboText(0, i) == wanted) {
            SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
            return i;
        }
    }
    return -1;
}

std::string CWindow::GetComboText(int id, int index) {
    HWND combo = GetItem(id);
    if (index < 0) index = static_cast<int>(SendMessageA(combo, CB_GETCURSEL, 0, 0));
    if (index < 0) return {};
    auto len = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (len < 0) return {};
    std::string text(static_cast<size_t>(len) + 1, '\0');
    auto got = SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::string CWindow::GetListText(int listId, int index) {
    HWND list = GetItem(listId);
    if (index < 0) index = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
    if (index < 0) return {};
    auto len = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (len < 0) return {};
    std::string text(static_cast<size_t>(len) + 1, '\0');
    auto got = SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

void CWindow::DeleteListSelection(int listId) {
    HWND list = GetItem(listId);
    auto sel = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (sel >= 0) SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(sel), 0);
}

// --- window helpers ---

void CWindow::MoveTo(int x, int y, int width, int height) {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    if (HWND parent = GetParent(hwnd_)) {
        POINT p{r.left, r.top};
        ScreenToClient(parent, &p);
        r.right += p.x - r.left;
        r.bottom += p.y - r.top;
        r.left = p.x;
        r.top = p.y;
    }
    if (x == CW_USEDEFAULT) x = r.left;
    if (y == CW_USEDEFAULT) y = r.top;
    if (width < 0) width = r.right - r.left;
    if (height < 0) height = r.bottom - r.top;
    MoveWindow(hwnd_, x, y, width, height, TRUE);
}

void CWindow::CenterOnWorkArea(int width, int height) {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    if (width == 0) width = r.right - r.left;
    if (height == 0) height = r.bottom - r.top;
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    // Offsets from the work area's own origin, so a panel at the top or left is not covered.
    int left = std::max(0, (work.right - work.left - width) / 2);
    int top = std::max(0, (work.bottom - work.top - height) / 2);
    MoveWindow(hwnd_, work.left + left, work.top + top, width, height, TRUE);
}

void CWindow::CenterOnScreen() {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    MoveWindow(hwnd_, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, TRUE);
}

void CWindow::CenterOkButton() {
    HWND ok = GetItem(1);
    if (!ok) return;
    RECT client{}, r{};
    GetClientRect(hwnd_, &client);
    GetWindowRect(ok, &r);
    POINT p{r.left, r.top};
    ScreenToClient(hwnd_, &p);
    int w = r.right - r.left;
    MoveWindow(ok, (client.right - w) / 2, p.y, w, r.bottom - r.top, TRUE);
}

int CWindow::GetShowState() {
    WINDOWPLACEMENT wp;
    if (!GetWindowPlacement(hwnd_, &wp)) return 0;
    return static_cast<int>(wp.showCmd);
}

HMENU CWindow::FindSubMenu(HMENU menu, const char* name) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[128] = "";
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        if (std::strcmp(text, name) == 0) return GetSubMenu(menu, i);
    }
    return nullptr;
}

// --- translation ---

namespace {

std::string Lookup(const std::string& key) {
    const char* text = UiStrings().GetString(key.c_str(), 0, "");
    return text ? text : "";
}

BOOL TranslateChild(HWND child, LPARAM) {
    TranslateWindowText(child);
    return TRUE;
}

}  // namespace

void TranslateWindowText(HWND hwnd) {
    int len = GetWindowTextLengthA(hwnd);
    if (len < 2) return;
    std::string text(static_cast<size_t>(len) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(hwnd, text.data(), len + 1)));
    if (text.empty() || text[0] != '_') return;
    std::string found = Lookup(text.substr(1));
    if (!found.empty()) SetWindowTextA(hwnd, found.c_str());
}

void TranslateMenu(HMENU menu) {
    bool used[26] = {};
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        int len = GetMenuStringA(menu, static_cast<UINT>(i), nullptr, 0, MF_BYPOSITION);
        std::string text(static_cast<size_t>(std::max(len, 0)) + 1, '\0');
        text.resize(static_cast<size_t>(std::max(0, GetMenuStringA(menu, static_cast<UINT>(i), text.data(),
                                                                    static_cast<int>(text.size()), MF_BYPOSITION))));
        size_t tab = text.find('\t');
        std::string key = text.substr(0, tab);
        std::string accel = tab == std::string::npos ? "" : text.substr(tab);
        std::string found = key.empty() ? "" : Lookup(key);
        if (!found.empty()) {
            if (found.find('&') == std::string::npos) {
                for (size_t k = 0; k < found.size(); ++k) {
                    unsigned char c = static_cast<unsigned char>(found[k]);
                    if (c >= 0x80 || !std::isalpha(c)) continue;
                    int slot = std::tolower(c) - 'a';
                    if (used[slot]) continue;
                    used[slot] = true;
                    found.insert(k, 1, '&');
                    break;
                }
            }
            found += accel;
            MENUITEMINFOA info;
            info.fMask = MIIM_STRING;
            info.dwTypeData = found.data();
            SetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info);
        }
        if (HMENU sub = GetSubMenu(menu, i)) TranslateMenu(sub);
    }
}

// Declared for CDialogWindow (binding.cpp): captions of the window and its children, then its menu.
void TranslateControlsOf(HWND hwnd) {
    TranslateWindowText(hwnd);
    EnumChildWindows(hwnd, &TranslateChild, 0);
    if (HMENU menu = GetMenu(hwnd)) TranslateMenu(menu);
}

}  // namespace ui

namespace ui {

using namespace gui;

void CWindow::TrackPopup(HMENU menu, int x, int y) {
    if (x == -1 && y == -1) {
        POINT p{};
        GetCursorPos(&p);
        x = p.x;
        y = p.y;
    }
    TrackPopupMenu(GetSubMenu(menu, 0), TPM_RIGHTBUTTON, x, y, 0, hwnd_, nullptr);
}

int CWindow::HitTest(int x, int y, const int* ids) {
    auto style = static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_STYLE));
    const bool menu = GetMenu(hwnd_) != nullptr;
    for (int i = 0; ids && ids[i]; ++i) {
        HWND item = GetDlgItem(hwnd_, ids[i]);
        if (!item) continue;
        RECT r{};
        GetWindowRect(item, &r);
        // The control's rectangle relative to the window's client origin, grown by the frame
        // like the window, so it compares with a point relative to the window's corner.
        RECT frame{0, 0, 0, 0};
        AdjustWindowRect(&frame, style, menu);
        POINT p{r.left, r.top};
        ScreenToClient(hwnd_, &p);
        RECT rel{p.x - frame.left, p.y - frame.top, p.x - frame.left + (r.right - r.left),
                 p.y - frame.top + (r.bottom - r.top)};
        if (x >= rel.left && x < rel.right && y >= rel.top && y < rel.bottom) return i;
    }
    return -1;
}

namespace {

void CopyText(char* out, size_t room, const char* text) {
    if (!text) text = "";
    // Cut at a character boundary: a UTF-8 sequence is never split.
    size_t n = std::strlen(text);
    if (n >= room) {
        n = room - 1;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(out, text, n);
    out[n] = '\0';
}

}  // namespace

bool CWindow::SetTrayIcon(DWORD message, const char* tip, const char* balloonText, const char* balloonTitle) {
    NOTIFYICONDATAA nid;
    nid.hWnd = hwnd_;
    nid.uID = 1;
    nid.uCallbackMessage = kTrayMessage;
    nid.hIcon = LoadIconA(instance_, MAKEINTRESOURCEA(kAppIcon));
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    if (tip) {
        CopyText(nid.szTip, 33, tip);
    } else {
        char own[129] = "";
        GetWindowTextA(hwnd_, own, sizeof own);
        CopyText(nid.szTip, sizeof nid.szTip, own);
    }
    if (balloonText) {
        nid.uFlags |= NIF_INFO;
        CopyText(nid.szInfo, 65, balloonText);
        CopyText(nid.szInfoTitle, 17, balloonTitle);
        nid.dwInfoFlags = NIIF_NOSOUND;
        nid.uTimeout = 3000;
    }
    return Shell_NotifyIconA(message, &nid) != 0;
}

namespace {

HWND MakeTipWindow(HWND owner, HINSTANCE instance) {
    HWND tip = CreateWindowExA(WS_EX_TOPMOST, kTooltipsClass, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, instance,
                               nullptr);
    if (tip) {
        SendMessageA(tip, TTM_SETDELAYTIME, TTDT_INITIAL, 100);
        SendMessageA(tip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    }
    return tip;
}

}  // namespace

void CWindow::AddToolTip(int id, const char* text) {
    HWND item = GetItem(id);
    HWND tip = MakeTipWindow(hwnd_, instance_);
    if (!tip || !item) return;
    std::string copy = text ? text : "";
    TOOLINFOA ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(item);
    ti.lpszText = copy.data();
    SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
}

void CWindow::AddToolTipRect(UINT_PTR toolId, const char* text, const RECT& rect) {
    HWND tip = MakeTipWindow(hwnd_, instance_);
    if (!tip) return;
    std::string copy = text ? text : "";
    TOOLINFOA ti;
    ti.uFlags = TTF_SUBCLASS;
    ti.hwnd = hwnd_;
    ti.uId = toolId;
    ti.rect = rect;
    ti.lpszText = copy.data();
    SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    SetWindowPos(tip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void CWindow::MoveItemWithTip(int id, int x, int y, const char* text, UINT_PTR toolId) {
    HWND item = GetItem(id);
    if (!item) return;
    RECT r{};
    GetWindowRect(item, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    MoveWindow(item, x, y, w, h, TRUE);
    ShowWindow(item, SW_SHOW);
    if (text) AddToolTipRect(toolId, text, RECT{x, y, x + w, y + h});
}

namespace {

// A child owner (a button, a list) lets its top-level window receive the command.
void ShowMenuAt(int menuId, HWND owner, POINT at, uint32_t checkedMask, uint32_t disabledMask) {
    HMENU menu = LoadMenuA(nullptr, MAKEINTRESOURCEA(menuId));
    if (!menu) return;
    if (HMENU sub = GetSubMenu(menu, 0)) {
        TranslateMenu(sub);
        for (UINT i = 0; i < 32; ++i) {
            if (checkedMask & (1u << i)) CheckMenuItem(sub, i, MF_CHECKED | MF_BYPOSITION);
            if (disabledMask & (1u << i)) EnableMenuItem(sub, i, MF_GRAYED | MF_DISABLED | MF_BYPOSITION);
        }
        while (HWND up = GetParent(owner)) owner = up;
        TrackPopupMenu(sub, TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr);
    }
    DestroyMenu(menu);
}

}  // namespace

void ShowMenu(int menuId, HWND anchor, uint32_t checkedMask, uint32_t disabledMask) {
    RECT r{};
    if (!GetWindowRect(anchor, &r)) return;
    ShowMenuAt(menuId, anchor, POINT{r.left, r.bottom - 1}, checkedMask, disabledMask);
}

void ShowMenuAtCursor(int menuId, HWND owner, uint32_t checkedMask, uint32_t disabledMask) {
    POINT at{};
    GetCursorPos(&at);
    ShowMenuAt(menuId, owner, at, checkedMask, disabledMask);
}

std::string FileDialogFilter(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string text;
    for (const auto& [name, pattern] : entries) {
        text += name;
        text += '\0';
        text += pattern;
        text += '\0';
    }
    return text + '\0';
}

}  // namespace ui
