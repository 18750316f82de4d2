// The windowing layer: window handles, classes, messages, dialogs and the standard controls, in the
// shape the user interface is written against. One UI thread (the caller of Init) owns every
// window and timer; any other thread may call in, and calls that touch window state run on the UI
// thread while the caller waits (as a sent message does). Handles are never reused.
//
// All names and numbers here are this layer's own declarations. Message and style numbers keep
// the values that stored ids and plug-ins depend on.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {
class Event;
class RecursiveMutex;
}  // namespace platform

namespace gui {

// ---------------------------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------------------------

struct HWND__;
struct HMENU__;
struct HINSTANCE__;
struct HBRUSH__;
struct HFONT__;
struct HICON__;
struct HCURSOR__;
struct HBITMAP__;
using HWND = HWND__*;
using HMENU = HMENU__*;
using HINSTANCE = HINSTANCE__*;
using HBRUSH = HBRUSH__*;
using HFONT = HFONT__*;
using HICON = HICON__*;
using HCURSOR = HCURSOR__*;
using HBITMAP = HBITMAP__*;

using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using UINT = unsigned int;
using BOOL = int;
using DWORD = uint32_t;
using WORD = uint16_t;
using ATOM = uint16_t;
using LONG = int32_t;
using LPCSTR = const char*;
using LPSTR = char*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);
using WNDENUMPROC = BOOL (*)(HWND, LPARAM);

struct POINT {
    LONG x = 0;
    LONG y = 0;
};

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
};

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0;
    POINT pt;
};

struct CREATESTRUCTA {
    void* lpCreateParams = nullptr;
    HINSTANCE hInstance = nullptr;
    HMENU hMenu = nullptr;
    HWND hwndParent = nullptr;
    int cy = 0;
    int cx = 0;
    int y = 0;
    int x = 0;
    LONG style = 0;
    LPCSTR lpszName = nullptr;
    LPCSTR lpszClass = nullptr;
    DWORD dwExStyle = 0;
};

struct WNDCLASSA {
    UINT style = 0;
    WNDPROC lpfnWndProc = nullptr;
    int cbClsExtra = 0;
    int cbWndExtra = 0;
    HINSTANCE hInstance = nullptr;
    HICON hIcon = nullptr;
    HCURSOR hCursor = nullptr;
    HBRUSH hbrBackground = nullptr;
    LPCSTR lpszMenuName = nullptr;
    LPCSTR lpszClassName = nullptr;
};

struct MINMAXINFO {
    POINT ptReserved;
    POINT ptMaxSize;
    POINT ptMaxPosition;
    POINT ptMinTrackSize;
    POINT ptMaxTrackSize;
};

struct WINDOWPLACEMENT {
    UINT length = sizeof(WINDOWPLACEMENT);
    UINT flags = 0;
    UINT showCmd = 0;
    POINT ptMinPosition;
    POINT ptMaxPosition;
    RECT rcNormalPosition;
};

struct NMHDR {
    HWND hwndFrom = nullptr;
    UINT_PTR idFrom = 0;
    UINT code = 0;
};

// ---------------------------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------------------------

constexpr WORD LOWORD(uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(unsigned lo, unsigned hi) {
    return static_cast<WPARAM>((lo & 0xFFFFu) | ((hi & 0xFFFFu) << 16));
}
constexpr LPARAM MAKELPARAM(unsigned lo, unsigned hi) {
    return static_cast<LPARAM>(static_cast<uint32_t>((lo & 0xFFFFu) | ((hi & 0xFFFFu) << 16)));
}
constexpr int GET_X_LPARAM(LPARAM lp) { return static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(lp))); }
constexpr int GET_Y_LPARAM(LPARAM lp) { return static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(lp))); }
inline LPCSTR MAKEINTRESOURCEA(int id) { return reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(static_cast<WORD>(id))); }
inline bool IS_INTRESOURCE(LPCSTR p) { return (reinterpret_cast<uintptr_t>(p) >> 16) == 0; }

// ---------------------------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------------------------

enum : UINT {
    WM_NULL = 0x0000,
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_MOVE = 0x0003,
    WM_SIZE = 0x0005,
    WM_ACTIVATE = 0x0006,
    WM_SETFOCUS = 0x0007,
    WM_KILLFOCUS = 0x0008,
    WM_ENABLE = 0x000A,
    WM_SETTEXT = 0x000C,
    WM_GETTEXT = 0x000D,
    WM_GETTEXTLENGTH = 0x000E,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_ERASEBKGND = 0x0014,
    WM_SHOWWINDOW = 0x0018,
    WM_GETMINMAXINFO = 0x0024,
    WM_SETFONT = 0x0030,
    WM_GETFONT = 0x0031,
    WM_WINDOWPOSCHANGED = 0x0047,
    WM_NOTIFY = 0x004E,
    WM_NCDESTROY = 0x0082,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102,
    WM_SYSKEYDOWN = 0x0104,
    WM_SYSKEYUP = 0x0105,
    WM_INITDIALOG = 0x0110,
    WM_COMMAND = 0x0111,
    WM_TIMER = 0x0113,
    WM_HSCROLL = 0x0114,
    WM_VSCROLL = 0x0115,
    WM_CTLCOLORMSGBOX = 0x0132,
    WM_CTLCOLOREDIT = 0x0133,
    WM_CTLCOLORLISTBOX = 0x0134,
    WM_CTLCOLORBTN = 0x0135,
    WM_CTLCOLORDLG = 0x0136,
    WM_CTLCOLORSCROLLBAR = 0x0137,
    WM_CTLCOLORSTATIC = 0x0138,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_PARENTNOTIFY = 0x0210,
    WM_ENTERMENULOOP = 0x0211,
    WM_EXITMENULOOP = 0x0212,
    WM_MOUSELEAVE = 0x02A3,
    WM_USER = 0x0400,
    WM_APP = 0x8000,
};

// WM_SIZE kinds.
enum : WPARAM { SIZE_RESTORED = 0, SIZE_MINIMIZED = 1, SIZE_MAXIMIZED = 2 };

// Virtual keys used by the layer and the driver.
enum : UINT {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_F1 = 0x70,
};

// ---------------------------------------------------------------------------------------------
// Styles
// ---------------------------------------------------------------------------------------------

enum : DWORD {
    WS_OVERLAPPED = 0x00000000,
    WS_POPUP = 0x80000000,
    WS_CHILD = 0x40000000,
    WS_MINIMIZE = 0x20000000,
    WS_VISIBLE = 0x10000000,
    WS_DISABLED = 0x08000000,
    WS_CLIPSIBLINGS = 0x04000000,
    WS_CLIPCHILDREN = 0x02000000,
    WS_MAXIMIZE = 0x01000000,
    WS_CAPTION = 0x00C00000,
    WS_BORDER = 0x00800000,
    WS_DLGFRAME = 0x00400000,
    WS_VSCROLL = 0x00200000,
    WS_HSCROLL = 0x00100000,
    WS_SYSMENU = 0x00080000,
    WS_THICKFRAME = 0x00040000,
    WS_GROUP = 0x00020000,
    WS_TABSTOP = 0x00010000,
    WS_MINIMIZEBOX = 0x00020000,
    WS_MAXIMIZEBOX = 0x00010000,
    WS_OVERLAPPEDWINDOW = 0x00CF0000,
};

enum : DWORD {
    WS_EX_DLGMODALFRAME = 0x00000001,
    WS_EX_NOPARENTNOTIFY = 0x00000004,
    WS_EX_TOPMOST = 0x00000008,
    WS_EX_TRANSPARENT = 0x00000020,
    WS_EX_TOOLWINDOW = 0x00000080,
    WS_EX_WINDOWEDGE = 0x00000100,
    WS_EX_CLIENTEDGE = 0x00000200,
    WS_EX_STATICEDGE = 0x00020000,
    WS_EX_CONTROLPARENT = 0x00010000,
    WS_EX_APPWINDOW = 0x00040000,
    WS_EX_LAYERED = 0x00080000,
};

enum : DWORD {
    DS_3DLOOK = 0x0004,
    DS_FIXEDSYS = 0x0008,
    DS_SETFONT = 0x0040,
    DS_MODALFRAME = 0x0080,
    DS_SETFOREGROUND = 0x0200,
    DS_CONTROL = 0x0400,
    DS_CENTER = 0x0800,
    DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS,
};

// Buttons.
enum : DWORD {
    BS_PUSHBUTTON = 0x0,
    BS_DEFPUSHBUTTON = 0x1,
    BS_CHECKBOX = 0x2,
    BS_AUTOCHECKBOX = 0x3,
    BS_RADIOBUTTON = 0x4,
    BS_3STATE = 0x5,
    BS_AUTO3STATE = 0x6,
    BS_GROUPBOX = 0x7,
    BS_AUTORADIOBUTTON = 0x9,
    BS_TYPEMASK = 0xF,
    BS_LEFTTEXT = 0x20,
    BS_BITMAP = 0x80,
    BS_MULTILINE = 0x2000,
    BS_NOTIFY = 0x4000,
};
enum : UINT { BM_GETCHECK = 0x00F0, BM_SETCHECK = 0x00F1, BM_GETSTATE = 0x00F2, BM_SETSTATE = 0x00F3,
              BM_SETSTYLE = 0x00F4, BM_GETIMAGE = 0x00F6, BM_SETIMAGE = 0x00F7 };
enum : WPARAM { BST_UNCHECKED = 0, BST_CHECKED = 1, BST_INDETERMINATE = 2, BST_PUSHED = 4, BST_FOCUS = 8 };
enum : UINT { BN_CLICKED = 0 };
enum : WPARAM { IMAGE_BITMAP = 0, IMAGE_ICON = 1 };

// Statics.
enum : DWORD {
    SS_LEFT = 0x0,
    SS_CENTER = 0x1,
    SS_RIGHT = 0x2,
    SS_ICON = 0x3,
    SS_ETCHEDHORZ = 0x10,
    SS_ETCHEDVERT = 0x11,
    SS_NOPREFIX = 0x80,
    SS_NOTIFY = 0x100,
    SS_CENTERIMAGE = 0x200,
    SS_SUNKEN = 0x1000,
};
enum : UINT { STN_CLICKED = 0 };

// Edits.
enum : DWORD {
    ES_LEFT = 0x0,
    ES_CENTER = 0x1,
    ES_RIGHT = 0x2,
    ES_MULTILINE = 0x4,
    ES_PASSWORD = 0x20,
    ES_AUTOVSCROLL = 0x40,
    ES_AUTOHSCROLL = 0x80,
    ES_READONLY = 0x800,
    ES_WANTRETURN = 0x1000,
    ES_NUMBER = 0x2000,
};
enum : UINT { EM_GETSEL = 0x00B0, EM_SETSEL = 0x00B1, EM_SCROLLCARET = 0x00B7, EM_SETREADONLY = 0x00CF };
enum : UINT { EN_CHANGE = 0x0300 };

// Combo boxes.
enum : DWORD {
    CBS_SIMPLE = 0x1,
    CBS_DROPDOWN = 0x2,
    CBS_DROPDOWNLIST = 0x3,
    CBS_AUTOHSCROLL = 0x40,
    CBS_SORT = 0x100,
    CBS_HASSTRINGS = 0x200,
    CBS_NOINTEGRALHEIGHT = 0x400,
};
enum : UINT {
    CB_ADDSTRING = 0x0143,
    CB_DELETESTRING = 0x0144,
    CB_GETCOUNT = 0x0146,
    CB_GETCURSEL = 0x0147,
    CB_GETLBTEXT = 0x0148,
    CB_GETLBTEXTLEN = 0x0149,
    CB_INSERTSTRING = 0x014A,
    CB_RESETCONTENT = 0x014B,
    CB_SETCURSEL = 0x014E,
    CB_FINDSTRINGEXACT = 0x0158,
};
enum : int { CB_ERR = -1 };
enum : UINT { CBN_SELCHANGE = 1, CBN_EDITCHANGE = 5, CBN_EDITUPDATE = 6 };

// List boxes.
enum : DWORD {
    LBS_NOTIFY = 0x1,
    LBS_SORT = 0x2,
    LBS_MULTIPLESEL = 0x8,
    LBS_HASSTRINGS = 0x40,
    LBS_NOINTEGRALHEIGHT = 0x100,
    LBS_EXTENDEDSEL = 0x800,
};
enum : UINT {
    LB_ADDSTRING = 0x0180,
    LB_INSERTSTRING = 0x0181,
    LB_DELETESTRING = 0x0182,
    LB_RESETCONTENT = 0x0184,
    LB_SETSEL = 0x0185,
    LB_SETCURSEL = 0x0186,
    LB_GETSEL = 0x0187,
    LB_GETCURSEL = 0x0188,
    LB_GETTEXT = 0x0189,
    LB_GETTEXTLEN = 0x018A,
    LB_GETCOUNT = 0x018B,
    LB_GETSELCOUNT = 0x0190,
    LB_GETSELITEMS = 0x0191,
    LB_GETCARETINDEX = 0x019F,
};
enum : int { LB_ERR = -1 };
enum : UINT { LBN_SELCHANGE = 1 };

// Trackbars.
enum : DWORD { TBS_AUTOTICKS = 0x1, TBS_VERT = 0x2, TBS_BOTH = 0x8, TBS_NOTICKS = 0x10 };
enum : UINT {
    TBM_GETPOS = WM_USER,
    TBM_GETRANGEMIN = WM_USER + 1,
    TBM_GETRANGEMAX = WM_USER + 2,
    TBM_SETPOS = WM_USER + 5,
    TBM_SETRANGE = WM_USER + 6,
    TBM_SETRANGEMIN = WM_USER + 7,
    TBM_SETRANGEMAX = WM_USER + 8,
    TBM_SETPAGESIZE = WM_USER + 21,
    TBM_GETPAGESIZE = WM_USER + 22,
    TBM_SETLINESIZE = WM_USER + 23,
    TBM_GETLINESIZE = WM_USER + 24,
};
enum : UINT {
    TB_LINEUP = 0,
    TB_LINEDOWN = 1,
    TB_PAGEUP = 2,
    TB_PAGEDOWN = 3,
    TB_THUMBPOSITION = 4,
    TB_THUMBTRACK = 5,
    TB_TOP = 6,
    TB_BOTTOM = 7,
    TB_ENDTRACK = 8,
};

// Progress bars.
enum : DWORD { PBS_SMOOTH = 0x1, PBS_VERTICAL = 0x4 };
enum : UINT {
    PBM_SETRANGE = WM_USER + 1,
    PBM_SETPOS = WM_USER + 2,
    PBM_DELTAPOS = WM_USER + 3,
    PBM_SETRANGE32 = WM_USER + 6,
    PBM_GETPOS = WM_USER + 8,
};

// Class names of the built-in classes.
inline constexpr const char* kDialogClass = "#32770";
inline constexpr const char* kButtonClass = "Button";
inline constexpr const char* kStaticClass = "Static";
inline constexpr const char* kEditClass = "Edit";
inline constexpr const char* kComboBoxClass = "ComboBox";
inline constexpr const char* kListBoxClass = "ListBox";
inline constexpr const char* kTrackbarClass = "msctls_trackbar32";
inline constexpr const char* kProgressClass = "msctls_progress32";

// ---------------------------------------------------------------------------------------------
// Window data, show commands, dialog results, message boxes
// ---------------------------------------------------------------------------------------------

enum : int {
    GWLP_WNDPROC = -4,
    GWLP_HINSTANCE = -6,
    GWLP_HWNDPARENT = -8,
    GWLP_ID = -12,
    GWL_STYLE = -16,
    GWL_EXSTYLE = -20,
    GWLP_USERDATA = -21,
    DWLP_MSGRESULT = 0,
    DWLP_DLGPROC = 8,
    DWLP_USER = 16,
};

enum : int {
    SW_HIDE = 0,
    SW_SHOWNORMAL = 1,
    SW_SHOWMINIMIZED = 2,
    SW_MAXIMIZE = 3,
    SW_SHOWMAXIMIZED = 3,
    SW_SHOWNOACTIVATE = 4,
    SW_SHOW = 5,
    SW_MINIMIZE = 6,
    SW_SHOWMINNOACTIVE = 7,
    SW_SHOWNA = 8,
    SW_RESTORE = 9,
};

inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

enum : UINT {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_TYPEMASK = 0xF,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_SYSTEMMODAL = 0x1000,
};

enum : UINT { PM_NOREMOVE = 0, PM_REMOVE = 1 };

// ---------------------------------------------------------------------------------------------
// The layer's own calls
// ---------------------------------------------------------------------------------------------

struct InitOptions {
    // The clock timers run on, in milliseconds (null: the platform's monotonic clock).
    std::function<uint64_t()> clock;
    // Dialog base units: a dialog unit is baseUnitX/4 by baseUnitY/8 pixels.
    int baseUnitX = 6;
    int baseUnitY = 13;
    RECT workArea{0, 0, 1920, 1040};
    RECT screen{0, 0, 1920, 1080};
};

// Makes the calling thread the UI thread. False when the layer is already running.
bool Init(const InitOptions& options = {});
// Destroys the windows left, answers every waiting cross-thread call with 0 and releases the UI
// thread. Calls after this answer 0.
void Shutdown();
bool IsUiThread();
bool IsRunning();

// Milliseconds of the layer's clock (the one timers use).
DWORD GetTickCount();
uint64_t TickCount64();

// Runs fn on the UI thread and waits for it (directly when called there). False when the layer
// is not running.
bool RunOnUiThread(const std::function<void()>& fn);

// Waits until ready() holds or timeoutMs (platform's infinite: no limit) passed. On the UI thread
// it serves sent messages and marshalled calls meanwhile (no posts, input, timers or paint), so a
// worker that holds what the UI thread waits for can finish its sends.
bool WaitPumping(uint32_t timeoutMs, const std::function<bool()>& ready);
bool WaitPumping(platform::Event& event, uint32_t timeoutMs);
bool LockPumping(platform::RecursiveMutex& mutex, uint32_t timeoutMs);

// The UI mutex. Re-entrant; on the UI thread its waits pump (see WaitPumping). While the UI thread
// serves a call from a thread that holds it, the UI thread may take it too: the holder is blocked
// for the whole call, so this nested acquisition is safe, and it is released within the call.
class UiMutex {
public:
    UiMutex();
    ~UiMutex();
    UiMutex(const UiMutex&) = delete;
    UiMutex& operator=(const UiMutex&) = delete;

    void lock() { lockFor(0xFFFFFFFFu); }
    bool lockFor(uint32_t timeoutMs);
    bool try_lock() { return lockFor(0); }
    void unlock();
    bool ownedByCaller() const;

private:
    bool tryTake();

    struct State;
    std::unique_ptr<State> state_;
};

// The text of the last failure to create a dialog from a template ("" when none).
std::string LastTemplateError();

// ---------------------------------------------------------------------------------------------
// Windows
// ---------------------------------------------------------------------------------------------

ATOM RegisterClassA(const WNDCLASSA* wc);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);
BOOL GetClassInfoA(HINSTANCE instance, LPCSTR className, WNDCLASSA* out);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
BOOL DestroyWindow(HWND hwnd);
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
UINT RegisterWindowMessageA(LPCSTR name);

BOOL IsWindow(HWND hwnd);
HWND GetParent(HWND hwnd);
HWND SetParent(HWND child, HWND newParent);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND hwnd);
BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam);
int GetClassNameA(HWND hwnd, LPSTR buffer, int size);
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);

BOOL SetWindowTextA(HWND hwnd, LPCSTR text);
int GetWindowTextA(HWND hwnd, LPSTR buffer, int size);
int GetWindowTextLengthA(HWND hwnd);

BOOL ShowWindow(HWND hwnd, int cmd);
BOOL IsWindowVisible(HWND hwnd);
BOOL IsIconic(HWND hwnd);
BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* out);
BOOL SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);
HWND SetFocus(HWND hwnd);
HWND GetFocus();
BOOL UpdateWindow(HWND hwnd);
BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase);
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
BOOL GetWindowRect(HWND hwnd, RECT* out);
BOOL GetClientRect(HWND hwnd, RECT* out);

// ---------------------------------------------------------------------------------------------
// Messages, loop, timers
// ---------------------------------------------------------------------------------------------

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// 1 for a message, 0 for WM_QUIT, -1 off the UI thread. Filters are not supported (pass 0).
BOOL GetMessageA(MSG* msg, HWND filter, UINT filterMin, UINT filterMax);
BOOL PeekMessageA(MSG* msg, HWND filter, UINT filterMin, UINT filterMax, UINT removeFlag);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// ---------------------------------------------------------------------------------------------
// Dialogs and message boxes
// ---------------------------------------------------------------------------------------------

HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc, LPARAM param);
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM param);
BOOL EndDialog(HWND dialog, INT_PTR result);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// How message boxes are answered: the driver's responder in tests, a real dialog with a display.
// Without one, the box is written to standard error and answered with its safe default.
using MessageBoxResponder = std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT type)>;
void SetMessageBoxResponder(MessageBoxResponder responder);
// OK for OK boxes, No for Yes/No, Cancel for the rest.
int SafeMessageBoxAnswer(UINT type);

}  // namespace gui
