// The windowing layer: window handles, classes, messages, dialogs and the standard controls, in the
// shape the user interface is written against. One UI thread (the caller of Init) owns every
// window and timer; any other thread may call in, and calls that touch window state run on the UI
// thread while the caller waits (as a sent message does). Handles are never reused.
//
// All names and numbers here are this layer's own declarations. Message and style numbers keep
// the values that stored ids and plug-ins depend on.
//
// This header holds the types, windows, the message loop, dialogs, the basic controls and message
// boxes, and includes the rest: desktop.h (geometry, screen, cursor, drawing records), menus.h
// (menus, accelerators), shell.h (file and folder dialogs, tray, drops) and views.h (list view,
// tree view, tab, status bar, tool tips). resources.h describes templates and where they come
// from; plugin.h the C calls for plug-ins; driver.h the test driver. LEFT_OUT.md lists what the
// layer does not provide.
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
using BYTE = uint8_t;
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

// Class styles: kept, without effect (windows are redrawn whole and double clicks always arrive).
inline constexpr UINT CS_VREDRAW = 0x1;
inline constexpr UINT CS_HREDRAW = 0x2;
inline constexpr UINT CS_DBLCLKS = 0x8;

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

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_MOVE = 0x0003;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_ACTIVATE = 0x0006;
inline constexpr UINT WM_SETFOCUS = 0x0007;
inline constexpr UINT WM_KILLFOCUS = 0x0008;
inline constexpr UINT WM_ENABLE = 0x000A;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_GETMINMAXINFO = 0x0024;
inline constexpr UINT WM_SETFONT = 0x0030;
inline constexpr UINT WM_GETFONT = 0x0031;
inline constexpr UINT WM_WINDOWPOSCHANGED = 0x0047;
inline constexpr UINT WM_NOTIFY = 0x004E;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_SYSKEYUP = 0x0105;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_HSCROLL = 0x0114;
inline constexpr UINT WM_VSCROLL = 0x0115;
inline constexpr UINT WM_CTLCOLORMSGBOX = 0x0132;
inline constexpr UINT WM_CTLCOLOREDIT = 0x0133;
inline constexpr UINT WM_CTLCOLORLISTBOX = 0x0134;
inline constexpr UINT WM_CTLCOLORBTN = 0x0135;
inline constexpr UINT WM_CTLCOLORDLG = 0x0136;
inline constexpr UINT WM_CTLCOLORSCROLLBAR = 0x0137;
inline constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;
inline constexpr UINT WM_RBUTTONUP = 0x0205;
inline constexpr UINT WM_PARENTNOTIFY = 0x0210;
inline constexpr UINT WM_ENTERMENULOOP = 0x0211;
inline constexpr UINT WM_EXITMENULOOP = 0x0212;
inline constexpr UINT WM_MOUSELEAVE = 0x02A3;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

// WM_SIZE kinds.
inline constexpr WPARAM SIZE_RESTORED = 0;
inline constexpr WPARAM SIZE_MINIMIZED = 1;
inline constexpr WPARAM SIZE_MAXIMIZED = 2;

// Virtual keys used by the layer and the driver.
inline constexpr UINT VK_BACK = 0x08;
inline constexpr UINT VK_TAB = 0x09;
inline constexpr UINT VK_RETURN = 0x0D;
inline constexpr UINT VK_SHIFT = 0x10;
inline constexpr UINT VK_CONTROL = 0x11;
inline constexpr UINT VK_MENU = 0x12;
inline constexpr UINT VK_ESCAPE = 0x1B;
inline constexpr UINT VK_SPACE = 0x20;
inline constexpr UINT VK_PRIOR = 0x21;
inline constexpr UINT VK_NEXT = 0x22;
inline constexpr UINT VK_END = 0x23;
inline constexpr UINT VK_HOME = 0x24;
inline constexpr UINT VK_LEFT = 0x25;
inline constexpr UINT VK_UP = 0x26;
inline constexpr UINT VK_RIGHT = 0x27;
inline constexpr UINT VK_DOWN = 0x28;
inline constexpr UINT VK_INSERT = 0x2D;
inline constexpr UINT VK_DELETE = 0x2E;
inline constexpr UINT VK_F1 = 0x70;

// ---------------------------------------------------------------------------------------------
// Styles
// ---------------------------------------------------------------------------------------------

inline constexpr DWORD WS_OVERLAPPED = 0x00000000;
inline constexpr DWORD WS_POPUP = 0x80000000;
inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_MINIMIZE = 0x20000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;
inline constexpr DWORD WS_DISABLED = 0x08000000;
inline constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
inline constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
inline constexpr DWORD WS_MAXIMIZE = 0x01000000;
inline constexpr DWORD WS_CAPTION = 0x00C00000;
inline constexpr DWORD WS_BORDER = 0x00800000;
inline constexpr DWORD WS_DLGFRAME = 0x00400000;
inline constexpr DWORD WS_VSCROLL = 0x00200000;
inline constexpr DWORD WS_HSCROLL = 0x00100000;
inline constexpr DWORD WS_SYSMENU = 0x00080000;
inline constexpr DWORD WS_THICKFRAME = 0x00040000;
inline constexpr DWORD WS_GROUP = 0x00020000;
inline constexpr DWORD WS_TABSTOP = 0x00010000;
inline constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
inline constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
inline constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000;

inline constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;
inline constexpr DWORD WS_EX_NOPARENTNOTIFY = 0x00000004;
inline constexpr DWORD WS_EX_TOPMOST = 0x00000008;
inline constexpr DWORD WS_EX_TRANSPARENT = 0x00000020;
inline constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
inline constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
inline constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;
inline constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
inline constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000;
inline constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
inline constexpr DWORD WS_EX_LAYERED = 0x00080000;

inline constexpr DWORD DS_3DLOOK = 0x0004;
inline constexpr DWORD DS_FIXEDSYS = 0x0008;
inline constexpr DWORD DS_SETFONT = 0x0040;
inline constexpr DWORD DS_MODALFRAME = 0x0080;
inline constexpr DWORD DS_SETFOREGROUND = 0x0200;
inline constexpr DWORD DS_CONTROL = 0x0400;
inline constexpr DWORD DS_CENTER = 0x0800;
inline constexpr DWORD DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS;

// Buttons.
inline constexpr DWORD BS_PUSHBUTTON = 0x0;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
inline constexpr DWORD BS_CHECKBOX = 0x2;
inline constexpr DWORD BS_AUTOCHECKBOX = 0x3;
inline constexpr DWORD BS_RADIOBUTTON = 0x4;
inline constexpr DWORD BS_3STATE = 0x5;
inline constexpr DWORD BS_AUTO3STATE = 0x6;
inline constexpr DWORD BS_GROUPBOX = 0x7;
inline constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
inline constexpr DWORD BS_OWNERDRAW = 0xB;  // accepted, drawn as a push button
inline constexpr DWORD BS_TYPEMASK = 0xF;
inline constexpr DWORD BS_LEFTTEXT = 0x20;
inline constexpr DWORD BS_BITMAP = 0x80;
inline constexpr DWORD BS_MULTILINE = 0x2000;
inline constexpr DWORD BS_NOTIFY = 0x4000;
inline constexpr UINT BM_GETCHECK = 0x00F0;
inline constexpr UINT BM_SETCHECK = 0x00F1;
inline constexpr UINT BM_GETSTATE = 0x00F2;
inline constexpr UINT BM_SETSTATE = 0x00F3;
inline constexpr UINT BM_SETSTYLE = 0x00F4;
inline constexpr UINT BM_GETIMAGE = 0x00F6;
inline constexpr UINT BM_SETIMAGE = 0x00F7;
inline constexpr WPARAM BST_UNCHECKED = 0;
inline constexpr WPARAM BST_CHECKED = 1;
inline constexpr WPARAM BST_INDETERMINATE = 2;
inline constexpr WPARAM BST_PUSHED = 4;
inline constexpr WPARAM BST_FOCUS = 8;
inline constexpr UINT BN_CLICKED = 0;
inline constexpr WPARAM IMAGE_BITMAP = 0;
inline constexpr WPARAM IMAGE_ICON = 1;

// Statics.
inline constexpr DWORD SS_LEFT = 0x0;
inline constexpr DWORD SS_CENTER = 0x1;
inline constexpr DWORD SS_RIGHT = 0x2;
inline constexpr DWORD SS_ICON = 0x3;
inline constexpr DWORD SS_ETCHEDHORZ = 0x10;
inline constexpr DWORD SS_ETCHEDVERT = 0x11;
inline constexpr DWORD SS_NOPREFIX = 0x80;
inline constexpr DWORD SS_NOTIFY = 0x100;
inline constexpr DWORD SS_CENTERIMAGE = 0x200;
inline constexpr DWORD SS_SUNKEN = 0x1000;
inline constexpr UINT STN_CLICKED = 0;

// Edits.
inline constexpr DWORD ES_LEFT = 0x0;
inline constexpr DWORD ES_CENTER = 0x1;
inline constexpr DWORD ES_RIGHT = 0x2;
inline constexpr DWORD ES_MULTILINE = 0x4;
inline constexpr DWORD ES_PASSWORD = 0x20;
inline constexpr DWORD ES_AUTOVSCROLL = 0x40;
inline constexpr DWORD ES_AUTOHSCROLL = 0x80;
inline constexpr DWORD ES_READONLY = 0x800;
inline constexpr DWORD ES_WANTRETURN = 0x1000;
inline constexpr DWORD ES_NUMBER = 0x2000;
inline constexpr UINT EM_GETSEL = 0x00B0;
inline constexpr UINT EM_SETSEL = 0x00B1;
inline constexpr UINT EM_SCROLLCARET = 0x00B7;
inline constexpr UINT EM_SETREADONLY = 0x00CF;
inline constexpr UINT EM_CHARFROMPOS = 0x00D7;  // no text metrics here: answers the end of the text
inline constexpr UINT EN_CHANGE = 0x0300;

// Combo boxes.
inline constexpr DWORD CBS_SIMPLE = 0x1;
inline constexpr DWORD CBS_DROPDOWN = 0x2;
inline constexpr DWORD CBS_DROPDOWNLIST = 0x3;
inline constexpr DWORD CBS_AUTOHSCROLL = 0x40;
inline constexpr DWORD CBS_SORT = 0x100;
inline constexpr DWORD CBS_HASSTRINGS = 0x200;
inline constexpr DWORD CBS_NOINTEGRALHEIGHT = 0x400;
inline constexpr UINT CB_ADDSTRING = 0x0143;
inline constexpr UINT CB_DELETESTRING = 0x0144;
inline constexpr UINT CB_GETCOUNT = 0x0146;
inline constexpr UINT CB_GETCURSEL = 0x0147;
inline constexpr UINT CB_GETLBTEXT = 0x0148;
inline constexpr UINT CB_GETLBTEXTLEN = 0x0149;
inline constexpr UINT CB_INSERTSTRING = 0x014A;
inline constexpr UINT CB_RESETCONTENT = 0x014B;
inline constexpr UINT CB_SETCURSEL = 0x014E;
inline constexpr UINT CB_FINDSTRINGEXACT = 0x0158;
inline constexpr int CB_ERR = -1;
inline constexpr UINT CBN_SELCHANGE = 1;
inline constexpr UINT CBN_EDITCHANGE = 5;
inline constexpr UINT CBN_EDITUPDATE = 6;

// List boxes.
inline constexpr DWORD LBS_NOTIFY = 0x1;
inline constexpr DWORD LBS_SORT = 0x2;
inline constexpr DWORD LBS_MULTIPLESEL = 0x8;
inline constexpr DWORD LBS_HASSTRINGS = 0x40;
inline constexpr DWORD LBS_NOINTEGRALHEIGHT = 0x100;
inline constexpr DWORD LBS_EXTENDEDSEL = 0x800;
inline constexpr UINT LB_ADDSTRING = 0x0180;
inline constexpr UINT LB_INSERTSTRING = 0x0181;
inline constexpr UINT LB_DELETESTRING = 0x0182;
inline constexpr UINT LB_RESETCONTENT = 0x0184;
inline constexpr UINT LB_SETSEL = 0x0185;
inline constexpr UINT LB_SETCURSEL = 0x0186;
inline constexpr UINT LB_GETSEL = 0x0187;
inline constexpr UINT LB_GETCURSEL = 0x0188;
inline constexpr UINT LB_GETTEXT = 0x0189;
inline constexpr UINT LB_GETTEXTLEN = 0x018A;
inline constexpr UINT LB_GETCOUNT = 0x018B;
inline constexpr UINT LB_GETSELCOUNT = 0x0190;
inline constexpr UINT LB_GETSELITEMS = 0x0191;
inline constexpr UINT LB_GETCARETINDEX = 0x019F;
inline constexpr int LB_ERR = -1;
inline constexpr UINT LBN_SELCHANGE = 1;

// Trackbars.
inline constexpr DWORD TBS_AUTOTICKS = 0x1;
inline constexpr DWORD TBS_VERT = 0x2;
inline constexpr DWORD TBS_BOTH = 0x8;
inline constexpr DWORD TBS_NOTICKS = 0x10;
inline constexpr UINT TBM_GETPOS = WM_USER;
inline constexpr UINT TBM_GETRANGEMIN = WM_USER + 1;
inline constexpr UINT TBM_GETRANGEMAX = WM_USER + 2;
inline constexpr UINT TBM_SETPOS = WM_USER + 5;
inline constexpr UINT TBM_SETRANGE = WM_USER + 6;
inline constexpr UINT TBM_SETRANGEMIN = WM_USER + 7;
inline constexpr UINT TBM_SETRANGEMAX = WM_USER + 8;
inline constexpr UINT TBM_SETPAGESIZE = WM_USER + 21;
inline constexpr UINT TBM_GETPAGESIZE = WM_USER + 22;
inline constexpr UINT TBM_SETLINESIZE = WM_USER + 23;
inline constexpr UINT TBM_GETLINESIZE = WM_USER + 24;
inline constexpr UINT TB_LINEUP = 0;
inline constexpr UINT TB_LINEDOWN = 1;
inline constexpr UINT TB_PAGEUP = 2;
inline constexpr UINT TB_PAGEDOWN = 3;
inline constexpr UINT TB_THUMBPOSITION = 4;
inline constexpr UINT TB_THUMBTRACK = 5;
inline constexpr UINT TB_TOP = 6;
inline constexpr UINT TB_BOTTOM = 7;
inline constexpr UINT TB_ENDTRACK = 8;

// Progress bars.
inline constexpr DWORD PBS_SMOOTH = 0x1;
inline constexpr DWORD PBS_VERTICAL = 0x4;
inline constexpr UINT PBM_SETRANGE = WM_USER + 1;
inline constexpr UINT PBM_SETPOS = WM_USER + 2;
inline constexpr UINT PBM_DELTAPOS = WM_USER + 3;
inline constexpr UINT PBM_SETRANGE32 = WM_USER + 6;
inline constexpr UINT PBM_GETPOS = WM_USER + 8;

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

inline constexpr int GWLP_WNDPROC = -4;
inline constexpr int GWLP_HINSTANCE = -6;
inline constexpr int GWLP_HWNDPARENT = -8;
inline constexpr int GWLP_ID = -12;
inline constexpr int GWL_STYLE = -16;
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr int GWLP_USERDATA = -21;
inline constexpr int DWLP_MSGRESULT = 0;
inline constexpr int DWLP_DLGPROC = 8;
inline constexpr int DWLP_USER = 16;

inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_MAXIMIZE = 3;
inline constexpr int SW_SHOWMAXIMIZED = 3;
inline constexpr int SW_SHOWNOACTIVATE = 4;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_SHOWMINNOACTIVE = 7;
inline constexpr int SW_SHOWNA = 8;
inline constexpr int SW_RESTORE = 9;

inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_TYPEMASK = 0xF;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr UINT MB_SYSTEMMODAL = 0x1000;

inline constexpr UINT PM_NOREMOVE = 0;
inline constexpr UINT PM_REMOVE = 1;

// ---------------------------------------------------------------------------------------------
// The layer's own calls
// ---------------------------------------------------------------------------------------------

struct InitOptions {
    // Where windows go: a display when one can be opened (else headless, with a line on standard
    // error; SONQUILL_GUI=headless forces headless), or always headless (tests, scripted runs).
    enum class Backend { Auto, Headless };
    Backend backend = Backend::Auto;
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

// Reports a send (or marshalled call) from another thread that has waited longer than ms for the
// UI thread, naming what the UI thread was doing: the sign of a wait that does not pump. Once per
// send; ms 0 turns it off. The driver installs it in tests.
void SetSendWatchdog(uint32_t ms, std::function<void(const std::string&)> report);

// The text of the last failure to create a dialog from a template ("" when none).
std::string LastTemplateError();

// ---------------------------------------------------------------------------------------------
// Window calls
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
// The display system's id of a window (an X11 window id with real windows), 0 when it has none
// (the headless back-end, or a window not shown yet). Players draw video into it.
uint64_t GetNativeWindowId(HWND hwnd);
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

#include "platform/gui/desktop.h"
#include "platform/gui/menus.h"
#include "platform/gui/shell.h"
#include "platform/gui/views.h"
