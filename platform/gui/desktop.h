// Window geometry beyond moving and sizing, the screen, the cursor, and the small set of drawing
// records the user interface uses (brushes, fonts, icons, cursors, bitmaps). Included by gui.h.
//
// Drawing records are kept, not drawn: a back-end reads them to colour and style its widgets.
#pragma once

namespace gui {

struct HDC__;
using HDC = HDC__*;
using HGDIOBJ = void*;
using COLORREF = DWORD;

constexpr COLORREF RGB(unsigned r, unsigned g, unsigned b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// SetWindowPos.
inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_BOTTOM = reinterpret_cast<HWND>(1);
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(-1);
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(-2);
inline constexpr UINT SWP_NOSIZE = 0x1;
inline constexpr UINT SWP_NOMOVE = 0x2;
inline constexpr UINT SWP_NOZORDER = 0x4;
inline constexpr UINT SWP_NOACTIVATE = 0x10;
inline constexpr UINT SWP_SHOWWINDOW = 0x40;
inline constexpr UINT SWP_HIDEWINDOW = 0x80;

inline constexpr UINT SPI_GETWORKAREA = 0x30;
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
inline constexpr DWORD LWA_COLORKEY = 0x1;
inline constexpr DWORD LWA_ALPHA = 0x2;
inline constexpr int GCLP_HICON = -14;

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int width, int height, UINT flags);
// Grows a client rectangle to the window rectangle a window of that style would need.
BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu);
BOOL ScreenToClient(HWND hwnd, POINT* point);
BOOL ClientToScreen(HWND hwnd, POINT* point);
// Maps points from one window's client area to another's (null: the screen).
int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count);
BOOL SystemParametersInfoA(UINT action, UINT param, void* out, UINT winIni);
int GetSystemMetrics(int index);
BOOL GetCursorPos(POINT* point);
// Opacity of a WS_EX_LAYERED top-level (alpha 0-255 with LWA_ALPHA).
BOOL SetLayeredWindowAttributes(HWND hwnd, COLORREF key, BYTE alpha, DWORD flags);
// GCLP_HICON: the window's icon (its caption and task switcher).
uintptr_t SetClassLongPtrA(HWND hwnd, int index, uintptr_t value);
uintptr_t GetClassLongPtrA(HWND hwnd, int index);

// Drawing records.
inline constexpr int WHITE_BRUSH = 0;
inline constexpr int BLACK_BRUSH = 4;
inline constexpr int NULL_BRUSH = 5;
inline constexpr int DEFAULT_GUI_FONT = 17;
inline constexpr int COLOR_WINDOW = 5;
inline constexpr int COLOR_BTNFACE = 15;
inline constexpr int FW_NORMAL = 400;
inline constexpr int FW_BOLD = 700;
inline LPCSTR IDC_ARROW = MAKEINTRESOURCEA(32512);
inline LPCSTR IDC_WAIT = MAKEINTRESOURCEA(32514);
inline LPCSTR IDC_SIZEALL = MAKEINTRESOURCEA(32646);
inline LPCSTR IDC_HAND = MAKEINTRESOURCEA(32649);
inline LPCSTR IDI_APPLICATION = MAKEINTRESOURCEA(32512);

HBRUSH CreateSolidBrush(COLORREF color);
HGDIOBJ GetStockObject(int index);
HBRUSH GetSysColorBrush(int index);
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strikeOut, DWORD charset, DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                  DWORD pitchAndFamily, LPCSTR face);
// Stock objects are never deleted; deleting a deleted or unknown object answers FALSE.
BOOL DeleteObject(HGDIOBJ object);
COLORREF SetBkColor(HDC dc, COLORREF color);
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HCURSOR SetCursor(HCURSOR cursor);  // the previous cursor
HBITMAP LoadBitmapA(HINSTANCE instance, LPCSTR name);

// What a drawing record holds, for back-ends and tests.
struct GdiRecord {
    enum Kind { None, Brush, Font, Icon, Cursor, Bitmap } kind = None;
    COLORREF color = 0;     // brushes
    std::string face;       // fonts
    int height = 0;
    int weight = 0;
    int resourceId = 0;     // icons, cursors, bitmaps
    bool stock = false;
};
GdiRecord DescribeGdiObject(HGDIOBJ object);

}  // namespace gui
