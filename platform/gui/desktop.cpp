// Geometry in screen and client coordinates, the screen and the cursor, layered windows and the
// drawing records.
#include <algorithm>

#include "platform/gui/internal.h"

namespace gui {
namespace detail {

namespace {

// The client area's top-left corner on the screen.
bool ClientOrigin(HWND hwnd, POINT& out) {
    RECT w, c;
    if (!GetWindowRect(hwnd, &w) || !GetClientRect(hwnd, &c)) return false;
    // Frames are even on the left, right and bottom; the caption and menu bar sit on top.
    const int border = std::max(0, static_cast<int>((w.right - w.left) - c.right) / 2);
    out = POINT{w.left + border, w.bottom - border - c.bottom};
    return true;
}

HGDIOBJ AddRecord(GdiRecord r) {
    const uintptr_t h = TakeHandleValue();
    S().gdi[h] = std::move(r);
    return reinterpret_cast<HGDIOBJ>(h);
}

HGDIOBJ Stock(int key, GdiRecord r) {
    auto& stock = S().stockObjects;
    auto it = stock.find(key);
    if (it != stock.end()) return reinterpret_cast<HGDIOBJ>(it->second);
    r.stock = true;
    HGDIOBJ h = AddRecord(std::move(r));
    stock[key] = reinterpret_cast<uintptr_t>(h);
    return h;
}

int ResourceIdOf(LPCSTR name) { return name && IS_INTRESOURCE(name) ? static_cast<int>(reinterpret_cast<uintptr_t>(name)) : 0; }

}  // namespace

}  // namespace detail

using namespace detail;

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
    if (!OnUi()) return Marshal<BOOL>([&] { return SetWindowPos(hwnd, insertAfter, x, y, width, height, flags); });
    Window* w = Raw(hwnd);
    if (!w) return FALSE;
    if (!(flags & SWP_NOZORDER)) {
        if (insertAfter == HWND_TOPMOST) w->exStyle |= WS_EX_TOPMOST;
        else if (insertAfter == HWND_NOTOPMOST) w->exStyle &= ~WS_EX_TOPMOST;
    }
    if ((flags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE)) {
        const RECT r = w->rect;
        if (flags & SWP_NOMOVE) x = r.left, y = r.top;
        if (flags & SWP_NOSIZE) width = r.right - r.left, height = r.bottom - r.top;
        MoveWindow(hwnd, x, y, width, height, TRUE);
    }
    if ((flags & SWP_SHOWWINDOW) && IsWindow(hwnd)) ShowWindow(hwnd, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
    if ((flags & SWP_HIDEWINDOW) && IsWindow(hwnd)) ShowWindow(hwnd, SW_HIDE);
    return IsWindow(hwnd);
}

BOOL AdjustWindowRect(RECT* rect, DWORD style, BOOL menu) {
    if (!rect) return FALSE;
    const Frame f = FrameFor(style, 0, false, menu != FALSE);
    rect->left -= f.border;
    rect->right += f.border;
    rect->top -= f.border + f.caption;
    rect->bottom += f.border;
    return TRUE;
}

int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count) {
    if (!OnUi()) return Marshal<int>([&] { return MapWindowPoints(from, to, points, count); });
    POINT a{}, b{};
    if ((from && !ClientOrigin(from, a)) || (to && !ClientOrigin(to, b))) return 0;
    const int dx = a.x - b.x, dy = a.y - b.y;
    for (UINT i = 0; points && i < count; ++i) {
        points[i].x += dx;
        points[i].y += dy;
    }
    return static_cast<int>(static_cast<uint16_t>(dx) | (static_cast<uint32_t>(static_cast<uint16_t>(dy)) << 16));
}

BOOL ScreenToClient(HWND hwnd, POINT* point) { return IsWindow(hwnd) && point && (MapWindowPoints(nullptr, hwnd, point, 1), TRUE); }
BOOL ClientToScreen(HWND hwnd, POINT* point) { return IsWindow(hwnd) && point && (MapWindowPoints(hwnd, nullptr, point, 1), TRUE); }

BOOL SystemParametersInfoA(UINT action, UINT, void* out, UINT) {
    if (action != SPI_GETWORKAREA || !out || !Running()) return FALSE;
    return RunOnUiThread([&] { *static_cast<RECT*>(out) = S().options.workArea; }) ? TRUE : FALSE;
}

int GetSystemMetrics(int index) {
    if (!OnUi()) return Marshal<int>([&] { return GetSystemMetrics(index); });
    const RECT& screen = S().options.screen;
    if (index == SM_CXSCREEN) return screen.right - screen.left;
    if (index == SM_CYSCREEN) return screen.bottom - screen.top;
    return 0;
}

BOOL GetCursorPos(POINT* point) {
    if (!OnUi()) return Marshal<BOOL>([&] { return GetCursorPos(point); });
    if (!point) return FALSE;
    *point = S().cursorPos;
    return TRUE;
}

BOOL SetLayeredWindowAttributes(HWND hwnd, COLORREF, BYTE alpha, DWORD flags) {
    if (!OnUi()) return Marshal<BOOL>([&] { return SetLayeredWindowAttributes(hwnd, 0, alpha, flags); });
    Window* w = Raw(hwnd);
    if (!w || !(w->exStyle & WS_EX_LAYERED)) return FALSE;
    if (flags & LWA_ALPHA) w->alpha = alpha;
    return TRUE;
}

uintptr_t SetClassLongPtrA(HWND hwnd, int index, uintptr_t value) {
    if (!OnUi()) return Marshal<uintptr_t>([&] { return SetClassLongPtrA(hwnd, index, value); });
    Window* w = Raw(hwnd);
    if (!w || index != GCLP_HICON) return 0;
    const auto old = reinterpret_cast<uintptr_t>(w->icon ? w->icon : w->cls->icon);
    w->icon = reinterpret_cast<HICON>(value);
    return old;
}

uintptr_t GetClassLongPtrA(HWND hwnd, int index) {
    if (!OnUi()) return Marshal<uintptr_t>([&] { return GetClassLongPtrA(hwnd, index); });
    Window* w = Raw(hwnd);
    if (!w || index != GCLP_HICON) return 0;
    return reinterpret_cast<uintptr_t>(w->icon ? w->icon : w->cls->icon);
}

HBRUSH CreateSolidBrush(COLORREF color) {
    if (!OnUi()) return Marshal<HBRUSH>([&] { return CreateSolidBrush(color); });
    GdiRecord r;
    r.kind = GdiRecord::Brush;
    r.color = color;
    return static_cast<HBRUSH>(AddRecord(r));
}

HGDIOBJ GetStockObject(int index) {
    if (!OnUi()) return Marshal<HGDIOBJ>([&] { return GetStockObject(index); });
    GdiRecord r;
    switch (index) {
    case WHITE_BRUSH: r.kind = GdiRecord::Brush, r.color = RGB(255, 255, 255); break;
    case BLACK_BRUSH: r.kind = GdiRecord::Brush, r.color = RGB(0, 0, 0); break;
    case NULL_BRUSH: r.kind = GdiRecord::Brush, r.color = 0xFFFFFFFFu; break;
    case DEFAULT_GUI_FONT: r.kind = GdiRecord::Font, r.face = "Sans", r.height = 12, r.weight = FW_NORMAL; break;
    default: return nullptr;
    }
    return Stock(index, r);
}

HBRUSH GetSysColorBrush(int index) {
    if (!OnUi()) return Marshal<HBRUSH>([&] { return GetSysColorBrush(index); });
    GdiRecord r;
    r.kind = GdiRecord::Brush;
    if (index == COLOR_WINDOW) r.color = RGB(255, 255, 255);
    else if (index == COLOR_BTNFACE) r.color = RGB(240, 240, 240);
    else return nullptr;
    return static_cast<HBRUSH>(Stock(1000 + index, r));
}

HFONT CreateFontA(int height, int, int, int, int weight, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                  LPCSTR face) {
    if (!OnUi()) return Marshal<HFONT>([&] { return CreateFontA(height, 0, 0, 0, weight, 0, 0, 0, 0, 0, 0, 0, 0, face); });
    GdiRecord r;
    r.kind = GdiRecord::Font;
    r.height = height < 0 ? -height : height;
    r.weight = weight ? weight : FW_NORMAL;
    r.face = face ? face : "";
    return static_cast<HFONT>(AddRecord(r));
}

BOOL DeleteObject(HGDIOBJ object) {
    if (!OnUi()) return Marshal<BOOL>([&] { return DeleteObject(object); });
    auto& gdi = S().gdi;
    auto it = gdi.find(reinterpret_cast<uintptr_t>(object));
    if (it == gdi.end()) return FALSE;
    if (!it->second.stock) gdi.erase(it);
    return TRUE;
}

COLORREF SetBkColor(HDC, COLORREF color) { return color; }  // no device contexts: nothing is drawn here

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
    if (!OnUi()) return Marshal<HICON>([&] { return LoadIconA(instance, name); });
    const int id = ResourceIdOf(name);
    if (!id) return nullptr;
    GdiRecord r;
    r.kind = GdiRecord::Icon;
    r.resourceId = id;
    return static_cast<HICON>(Stock(0x10000 + id, r));  // the same icon each time, never freed
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
    if (!OnUi()) return Marshal<HCURSOR>([&] { return LoadCursorA(instance, name); });
    const int id = ResourceIdOf(name);
    if (!id) return nullptr;
    GdiRecord r;
    r.kind = GdiRecord::Cursor;
    r.resourceId = id;
    return static_cast<HCURSOR>(Stock(0x20000 + id, r));
}

HCURSOR SetCursor(HCURSOR cursor) {
    if (!OnUi()) return Marshal<HCURSOR>([&] { return SetCursor(cursor); });
    return std::exchange(S().cursor, cursor);
}

HBITMAP LoadBitmapA(HINSTANCE instance, LPCSTR name) {
    if (!OnUi()) return Marshal<HBITMAP>([&] { return LoadBitmapA(instance, name); });
    const int id = ResourceIdOf(name);
    if (!id) return nullptr;
    GdiRecord r;
    r.kind = GdiRecord::Bitmap;
    r.resourceId = id;
    return static_cast<HBITMAP>(AddRecord(r));
}

GdiRecord DescribeGdiObject(HGDIOBJ object) {
    if (!OnUi()) {
        GdiRecord out;
        RunOnUiThread([&] { out = DescribeGdiObject(object); });
        return out;
    }
    auto it = S().gdi.find(reinterpret_cast<uintptr_t>(object));
    return it == S().gdi.end() ? GdiRecord{} : it->second;
}

}  // namespace gui
