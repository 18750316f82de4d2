// Menus and accelerator tables. Included by gui.h.
//
// A menu is a list of items {id, text (a tab separates the shortcut part), separator, checked,
// grayed, submenu}. Items are addressed by command id (MF_BYCOMMAND, searching submenus too) or by
// position (MF_BYPOSITION). A window's menu bar is destroyed with the window; other menus live
// until DestroyMenu, which takes their submenus along.
//
// Choosing an item from the menu bar or a popup sends WM_ENTERMENULOOP, then WM_EXITMENULOOP,
// then posts WM_COMMAND(id, 0, 0) to the window. An accelerator sends WM_COMMAND(cmd, 1, 0).
#pragma once

namespace gui {

struct HACCEL__;
using HACCEL = HACCEL__*;

inline constexpr UINT MF_STRING = 0x0;
inline constexpr UINT MF_ENABLED = 0x0;
inline constexpr UINT MF_UNCHECKED = 0x0;
inline constexpr UINT MF_BYCOMMAND = 0x0;
inline constexpr UINT MF_GRAYED = 0x1;
inline constexpr UINT MF_DISABLED = 0x2;
inline constexpr UINT MF_CHECKED = 0x8;
inline constexpr UINT MF_POPUP = 0x10;
inline constexpr UINT MF_BYPOSITION = 0x400;
inline constexpr UINT MF_SEPARATOR = 0x800;

inline constexpr UINT MFT_STRING = 0x0;
inline constexpr UINT MFT_SEPARATOR = 0x800;
inline constexpr UINT MFS_ENABLED = 0x0;
inline constexpr UINT MFS_GRAYED = 0x3;
inline constexpr UINT MFS_DISABLED = 0x3;
inline constexpr UINT MFS_CHECKED = 0x8;

inline constexpr UINT MIIM_STATE = 0x1;
inline constexpr UINT MIIM_ID = 0x2;
inline constexpr UINT MIIM_SUBMENU = 0x4;
inline constexpr UINT MIIM_TYPE = 0x10;
inline constexpr UINT MIIM_DATA = 0x20;
inline constexpr UINT MIIM_STRING = 0x40;
inline constexpr UINT MIIM_FTYPE = 0x100;

inline constexpr UINT TPM_LEFTALIGN = 0x0;
inline constexpr UINT TPM_RIGHTBUTTON = 0x2;
inline constexpr UINT TPM_NONOTIFY = 0x80;
inline constexpr UINT TPM_RETURNCMD = 0x100;

// MIIM_STRING / MIIM_TYPE text: on reads dwTypeData is the caller's buffer of cch bytes and cch
// comes back as the text's length.
struct MENUITEMINFOA {
    UINT cbSize = sizeof(MENUITEMINFOA);
    UINT fMask = 0;
    UINT fType = 0;
    UINT fState = 0;
    UINT wID = 0;
    HMENU hSubMenu = nullptr;
    HBITMAP hbmpChecked = nullptr;
    HBITMAP hbmpUnchecked = nullptr;
    uintptr_t dwItemData = 0;
    LPSTR dwTypeData = nullptr;
    UINT cch = 0;
    HBITMAP hbmpItem = nullptr;
};

// fVirt: FVIRTKEY with any of FSHIFT, FCONTROL, FALT; an entry matches only with exactly its
// modifiers held.
inline constexpr BYTE FVIRTKEY = 0x1;
inline constexpr BYTE FSHIFT = 0x4;
inline constexpr BYTE FCONTROL = 0x8;
inline constexpr BYTE FALT = 0x10;

struct ACCEL {
    BYTE fVirt = FVIRTKEY;
    WORD key = 0;
    WORD cmd = 0;
};

HMENU CreateMenu();
HMENU CreatePopupMenu();
// A copy of the menu resource id of the instance (null: none).
HMENU LoadMenuA(HINSTANCE instance, LPCSTR name);
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);
HMENU GetMenu(HWND hwnd);
BOOL SetMenu(HWND hwnd, HMENU menu);
BOOL DrawMenuBar(HWND hwnd);
HMENU GetSubMenu(HMENU menu, int position);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);  // -1 for submenus and positions off the end
int GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int size, UINT flags);
BOOL GetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFOA* info);
BOOL SetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOA* info);
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, LPCSTR text);
BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubmenu, LPCSTR text);
BOOL DeleteMenu(HMENU menu, UINT item, UINT flags);  // destroys a submenu it removes
BOOL RemoveMenu(HMENU menu, UINT item, UINT flags);  // keeps it
// The previous check or enabled state (MF_CHECKED, MF_GRAYED | MF_DISABLED), or -1 when no such item.
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);
BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
// Shows the popup and waits for a choice. With TPM_RETURNCMD it answers the chosen id (0: none)
// and posts nothing; else TRUE when an item was chosen, and WM_COMMAND is posted to hwnd.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND hwnd, const RECT* rect);

HACCEL LoadAcceleratorsA(HINSTANCE instance, LPCSTR name);
HACCEL CreateAcceleratorTableA(const ACCEL* entries, int count);
BOOL DestroyAcceleratorTable(HACCEL table);
// For a key-down message whose key and held modifiers match an entry exactly, sends
// WM_COMMAND(cmd, 1, 0) to hwnd and answers 1 (also when the command's menu item is grayed, which
// swallows the key without a command); else 0.
int TranslateAcceleratorA(HWND hwnd, HACCEL table, const MSG* msg);

// Whether Ctrl, Shift or Alt is down (high bit set), as the key messages fetched so far left it.
int16_t GetKeyState(int vk);

}  // namespace gui
