// Menus, menu bars, popups and accelerator tables. Menus and tables belong to the UI thread;
// calls from other threads run there.
#include <algorithm>
#include <functional>

#include "platform/gui/internal.h"

namespace gui {
namespace detail {

namespace {

Menu* MenuOf(HMENU h) {
    if (!h) return nullptr;
    auto& menus = S().menus;
    auto it = menus.find(reinterpret_cast<uintptr_t>(h));
    return it == menus.end() ? nullptr : it->second.get();
}

HMENU NewMenu(bool popup) {
    auto m = std::make_unique<Menu>();
    m->popup = popup;
    m->handle = reinterpret_cast<HMENU>(TakeHandleValue());
    HMENU h = m->handle;
    S().menus[reinterpret_cast<uintptr_t>(h)] = std::move(m);
    return h;
}

// The item an address names: by position in this menu, or by command anywhere below it.
struct Found {
    Menu* menu = nullptr;
    size_t index = 0;
};

Found Locate(HMENU h, UINT item, UINT flags) {
    Menu* m = MenuOf(h);
    if (!m) return {};
    if (flags & MF_BYPOSITION) return item < m->items.size() ? Found{m, item} : Found{};
    for (size_t i = 0; i < m->items.size(); ++i) {
        const MenuItem& it = m->items[i];
        if (!it.submenu && !it.separator && it.id == item) return {m, i};
    }
    for (const MenuItem& it : m->items) {
        if (!it.submenu) continue;
        if (Found f = Locate(it.submenu, item, flags); f.menu) return f;
    }
    return {};
}

UINT StateFlags(const MenuItem& it) {
    return (it.checked ? MF_CHECKED : 0u) | (it.grayed ? MF_GRAYED : 0u) | (it.disabled ? MF_DISABLED : 0u) |
           (it.separator ? MF_SEPARATOR : 0u) | (it.submenu ? MF_POPUP : 0u);
}

bool MakeItem(UINT flags, UINT_PTR idOrSubmenu, LPCSTR text, MenuItem& out) {
    out = MenuItem{};
    out.separator = (flags & MF_SEPARATOR) != 0;
    out.checked = (flags & MF_CHECKED) != 0;
    out.grayed = (flags & MF_GRAYED) != 0;
    out.disabled = (flags & MF_DISABLED) != 0;
    if (flags & MF_POPUP) {
        HMENU sub = reinterpret_cast<HMENU>(idOrSubmenu);
        if (!MenuOf(sub)) return false;
        out.submenu = sub;
    } else {
        out.id = static_cast<UINT>(idOrSubmenu);
    }
    if (!out.separator && text) out.text = text;
    return true;
}

HMENU BuildMenu(const std::vector<MenuItemTemplate>& items, bool popup) {
    HMENU h = NewMenu(popup);
    for (const auto& t : items) {
        MenuItem it;
        it.id = static_cast<UINT>(t.id);
        it.text = t.text;
        it.separator = t.separator;
        it.checked = t.checked;
        it.grayed = t.grayed;
        if (t.popup) it.submenu = BuildMenu(t.items, true);
        MenuOf(h)->items.push_back(std::move(it));
    }
    return h;
}

bool ItemEnabled(const MenuItem& it) { return !it.separator && !it.grayed && !it.disabled; }

bool Holds(HMENU root, HMENU menu) {
    if (root == menu) return true;
    Menu* m = MenuOf(root);
    if (!m) return false;
    for (const MenuItem& it : m->items)
        if (it.submenu && Holds(it.submenu, menu)) return true;
    return false;
}

// A window whose menu bar holds a changed menu shows the change.
void MenuChanged(HMENU menu) {
    for (auto& [key, w] : S().windows)
        if (!w->parent && w->menu && Holds(w->menu, menu)) MarkChanged(*w);
}

}  // namespace

void DestroyMenuTree(HMENU h) {
    auto& menus = S().menus;
    auto it = menus.find(reinterpret_cast<uintptr_t>(h));
    if (it == menus.end()) return;
    std::unique_ptr<Menu> m = std::move(it->second);
    menus.erase(it);
    for (const MenuItem& item : m->items)
        if (item.submenu) DestroyMenuTree(item.submenu);
}

std::string MenuDump(HMENU h, int depth) {
    Menu* m = MenuOf(h);
    if (!m) return {};
    std::string out;
    for (const MenuItem& it : m->items) {
        out += std::string(static_cast<size_t>(depth) * 2, ' ');
        if (it.separator) {
            out += "-\n";
            continue;
        }
        out += it.text;
        if (!it.submenu) out += " [" + std::to_string(it.id) + "]";
        if (it.checked) out += " checked";
        if (it.grayed || it.disabled) out += " grayed";
        out += "\n";
        if (it.submenu) out += MenuDump(it.submenu, depth + 1);
    }
    return out;
}

bool ChooseMenuItem(HWND hwnd, HMENU menu, UINT id, bool popup) {
    Found f = Locate(menu, id, MF_BYCOMMAND);
    if (!f.menu || !ItemEnabled(f.menu->items[f.index])) return false;
    SendMessageA(hwnd, WM_ENTERMENULOOP, popup ? TRUE : FALSE, 0);
    SendMessageA(hwnd, WM_EXITMENULOOP, popup ? TRUE : FALSE, 0);
    return PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, 0), 0) != FALSE;
}

}  // namespace detail

using namespace detail;

HMENU CreateMenu() {
    if (!OnUi()) return Marshal<HMENU>([] { return CreateMenu(); });
    return NewMenu(false);
}

HMENU CreatePopupMenu() {
    if (!OnUi()) return Marshal<HMENU>([] { return CreatePopupMenu(); });
    return NewMenu(true);
}

HMENU LoadMenuA(HINSTANCE instance, LPCSTR name) {
    if (!OnUi()) return Marshal<HMENU>([&] { return LoadMenuA(instance, name); });
    if (!name || !IS_INTRESOURCE(name)) return nullptr;
    auto provider = GetResourceProvider();
    auto t = provider ? provider->FindMenu(instance, static_cast<int>(reinterpret_cast<uintptr_t>(name))) : nullptr;
    return t ? BuildMenu(t->items, false) : nullptr;
}

BOOL DestroyMenu(HMENU menu) {
    if (!OnUi()) return Marshal<BOOL>([&] { return DestroyMenu(menu); });
    if (!MenuOf(menu)) return FALSE;
    for (auto& [key, w] : S().windows)  // a window keeps no stale menu bar
        if (!w->parent && w->menu == menu) w->menu = nullptr;
    DestroyMenuTree(menu);
    return TRUE;
}

BOOL IsMenu(HMENU menu) {
    if (!OnUi()) return Marshal<BOOL>([&] { return IsMenu(menu); });
    return MenuOf(menu) ? TRUE : FALSE;
}

HMENU GetMenu(HWND hwnd) {
    if (!OnUi()) return Marshal<HMENU>([&] { return GetMenu(hwnd); });
    Window* w = Raw(hwnd);
    return w && !w->parent && MenuOf(w->menu) ? w->menu : nullptr;
}

BOOL SetMenu(HWND hwnd, HMENU menu) {
    if (!OnUi()) return Marshal<BOOL>([&] { return SetMenu(hwnd, menu); });
    Window* w = Raw(hwnd);
    if (!w || w->parent || (menu && !MenuOf(menu))) return FALSE;
    w->menu = menu;  // the old bar stays the caller's
    MarkChanged(*w);
    return TRUE;
}

BOOL DrawMenuBar(HWND hwnd) {
    if (!OnUi()) return Marshal<BOOL>([&] { return DrawMenuBar(hwnd); });
    Window* w = Raw(hwnd);
    if (!w) return FALSE;
    MarkChanged(*w);
    return TRUE;
}

HMENU GetSubMenu(HMENU menu, int position) {
    if (!OnUi()) return Marshal<HMENU>([&] { return GetSubMenu(menu, position); });
    Menu* m = MenuOf(menu);
    if (!m || position < 0 || position >= static_cast<int>(m->items.size())) return nullptr;
    return m->items[static_cast<size_t>(position)].submenu;
}

int GetMenuItemCount(HMENU menu) {
    if (!OnUi()) return Marshal<int>([&] { return GetMenuItemCount(menu); });
    Menu* m = MenuOf(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
    if (!OnUi()) return Marshal<UINT>([&] { return GetMenuItemID(menu, position); });
    Menu* m = MenuOf(menu);
    if (!m || position < 0 || position >= static_cast<int>(m->items.size())) return static_cast<UINT>(-1);
    const MenuItem& it = m->items[static_cast<size_t>(position)];
    return it.submenu ? static_cast<UINT>(-1) : it.id;
}

int GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int size, UINT flags) {
    if (!OnUi()) return Marshal<int>([&] { return GetMenuStringA(menu, item, buffer, size, flags); });
    Found f = Locate(menu, item, flags);
    if (!f.menu) return 0;
    const std::string& text = f.menu->items[f.index].text;
    if (!buffer || size <= 0) return static_cast<int>(text.size());
    return CopyText(text, buffer, static_cast<size_t>(size));
}

BOOL GetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFOA* info) {
    if (!OnUi()) return Marshal<BOOL>([&] { return GetMenuItemInfoA(menu, item, byPosition, info); });
    Found f = Locate(menu, item, byPosition ? MF_BYPOSITION : MF_BYCOMMAND);
    if (!f.menu || !info) return FALSE;
    const MenuItem& it = f.menu->items[f.index];
    if (info->fMask & (MIIM_FTYPE | MIIM_TYPE)) info->fType = it.separator ? MFT_SEPARATOR : MFT_STRING;
    if (info->fMask & MIIM_STATE)
        info->fState = (it.checked ? MFS_CHECKED : 0u) | ((it.grayed || it.disabled) ? MFS_GRAYED : 0u);
    if (info->fMask & MIIM_ID) info->wID = it.id;
    if (info->fMask & MIIM_SUBMENU) info->hSubMenu = it.submenu;
    if (info->fMask & MIIM_DATA) info->dwItemData = it.data;
    if (info->fMask & (MIIM_STRING | MIIM_TYPE)) {
        if (info->dwTypeData && info->cch > 0) CopyText(it.text, info->dwTypeData, info->cch);
        info->cch = static_cast<UINT>(it.text.size());
    }
    return TRUE;
}

BOOL SetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOA* info) {
    if (!OnUi()) return Marshal<BOOL>([&] { return SetMenuItemInfoA(menu, item, byPosition, info); });
    Found f = Locate(menu, item, byPosition ? MF_BYPOSITION : MF_BYCOMMAND);
    if (!f.menu || !info) return FALSE;
    MenuItem& it = f.menu->items[f.index];
    if (info->fMask & MIIM_SUBMENU) {
        if (info->hSubMenu && !MenuOf(info->hSubMenu)) return FALSE;
        it.submenu = info->hSubMenu;
    }
    if (info->fMask & (MIIM_FTYPE | MIIM_TYPE)) it.separator = (info->fType & MFT_SEPARATOR) != 0;
    if (info->fMask & MIIM_STATE) {
        it.checked = (info->fState & MFS_CHECKED) != 0;
        it.grayed = it.disabled = (info->fState & MFS_GRAYED) != 0;
    }
    if (info->fMask & MIIM_ID) it.id = info->wID;
    if (info->fMask & MIIM_DATA) it.data = info->dwItemData;
    if (info->fMask & (MIIM_STRING | MIIM_TYPE)) it.text = info->dwTypeData ? info->dwTypeData : "";
    MenuChanged(menu);
    return TRUE;
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, LPCSTR text) {
    return InsertMenuA(menu, static_cast<UINT>(-1), flags | MF_BYPOSITION, idOrSubmenu, text);
}

BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubmenu, LPCSTR text) {
    if (!OnUi()) return Marshal<BOOL>([&] { return InsertMenuA(menu, position, flags, idOrSubmenu, text); });
    Menu* m = MenuOf(menu);
    MenuItem it;
    if (!m || !MakeItem(flags, idOrSubmenu, text, it)) return FALSE;
    size_t at = m->items.size();
    if (flags & MF_BYPOSITION) {
        at = std::min<size_t>(position, m->items.size());  // -1 and positions off the end append
    } else if (Found f = Locate(menu, position, MF_BYCOMMAND); f.menu) {
        f.menu->items.insert(f.menu->items.begin() + static_cast<long>(f.index), std::move(it));
        MenuChanged(menu);
        return TRUE;
    }
    m->items.insert(m->items.begin() + static_cast<long>(at), std::move(it));
    MenuChanged(menu);
    return TRUE;
}

static BOOL RemoveItem(HMENU menu, UINT item, UINT flags, bool destroySubmenu) {
    Found f = Locate(menu, item, flags);
    if (!f.menu) return FALSE;
    HMENU sub = f.menu->items[f.index].submenu;
    f.menu->items.erase(f.menu->items.begin() + static_cast<long>(f.index));
    if (sub && destroySubmenu) DestroyMenuTree(sub);
    MenuChanged(menu);
    return TRUE;
}

BOOL DeleteMenu(HMENU menu, UINT item, UINT flags) {
    if (!OnUi()) return Marshal<BOOL>([&] { return DeleteMenu(menu, item, flags); });
    return RemoveItem(menu, item, flags, true);
}

BOOL RemoveMenu(HMENU menu, UINT item, UINT flags) {
    if (!OnUi()) return Marshal<BOOL>([&] { return RemoveMenu(menu, item, flags); });
    return RemoveItem(menu, item, flags, false);
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
    if (!OnUi()) return Marshal<DWORD>([&] { return CheckMenuItem(menu, item, flags); });
    Found f = Locate(menu, item, flags);
    if (!f.menu) return static_cast<DWORD>(-1);
    MenuItem& it = f.menu->items[f.index];
    const DWORD old = it.checked ? MF_CHECKED : MF_UNCHECKED;
    it.checked = (flags & MF_CHECKED) != 0;
    MenuChanged(menu);
    return old;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags) {
    if (!OnUi()) return Marshal<BOOL>([&] { return EnableMenuItem(menu, item, flags); });
    Found f = Locate(menu, item, flags);
    if (!f.menu) return -1;
    MenuItem& it = f.menu->items[f.index];
    const BOOL old = static_cast<BOOL>((it.grayed ? MF_GRAYED : 0u) | (it.disabled ? MF_DISABLED : 0u));
    it.grayed = (flags & MF_GRAYED) != 0;
    it.disabled = (flags & MF_DISABLED) != 0;
    MenuChanged(menu);
    return old;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
    if (!OnUi()) return Marshal<UINT>([&] { return GetMenuState(menu, item, flags); });
    Found f = Locate(menu, item, flags);
    if (!f.menu) return static_cast<UINT>(-1);
    const MenuItem& it = f.menu->items[f.index];
    UINT state = StateFlags(it);
    if (Menu* sub = MenuOf(it.submenu)) state |= static_cast<UINT>(sub->items.size()) << 8;  // popups: count
    return state;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND hwnd, const RECT*) {
    if (!OnUi()) return Marshal<BOOL>([&] { return TrackPopupMenu(menu, flags, x, y, 0, hwnd, nullptr); });
    if (!MenuOf(menu) || !IsWindow(hwnd)) return FALSE;
    State& s = S();
    SendMessageA(hwnd, WM_ENTERMENULOOP, TRUE, 0);
    // The user's pick: the test driver's script, or nothing when no one can see the menu.
    UINT id = s.popupResponder ? s.popupResponder(menu, POINT{x, y}) : 0;
    if (id) {
        Found f = Locate(menu, id, MF_BYCOMMAND);
        if (!f.menu || !ItemEnabled(f.menu->items[f.index])) id = 0;  // not a pick a user could make
    }
    if (IsWindow(hwnd)) SendMessageA(hwnd, WM_EXITMENULOOP, TRUE, 0);
    if (flags & TPM_RETURNCMD) return static_cast<BOOL>(id);
    if (id && !(flags & TPM_NONOTIFY)) PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return id ? TRUE : FALSE;
}

HACCEL CreateAcceleratorTableA(const ACCEL* entries, int count) {
    if (!OnUi()) return Marshal<HACCEL>([&] { return CreateAcceleratorTableA(entries, count); });
    if (!entries || count <= 0) return nullptr;
    auto h = reinterpret_cast<HACCEL>(TakeHandleValue());
    S().accelerators[reinterpret_cast<uintptr_t>(h)].assign(entries, entries + count);
    return h;
}

HACCEL LoadAcceleratorsA(HINSTANCE instance, LPCSTR name) {
    if (!OnUi()) return Marshal<HACCEL>([&] { return LoadAcceleratorsA(instance, name); });
    if (!name || !IS_INTRESOURCE(name)) return nullptr;
    auto provider = GetResourceProvider();
    auto t = provider ? provider->FindAccelerators(instance, static_cast<int>(reinterpret_cast<uintptr_t>(name))) : nullptr;
    return t ? CreateAcceleratorTableA(t->entries.data(), static_cast<int>(t->entries.size())) : nullptr;
}

BOOL DestroyAcceleratorTable(HACCEL table) {
    if (!OnUi()) return Marshal<BOOL>([&] { return DestroyAcceleratorTable(table); });
    return S().accelerators.erase(reinterpret_cast<uintptr_t>(table)) ? TRUE : FALSE;
}

int TranslateAcceleratorA(HWND hwnd, HACCEL table, const MSG* msg) {
    if (!OnUi() || !msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return 0;
    auto it = S().accelerators.find(reinterpret_cast<uintptr_t>(table));
    if (it == S().accelerators.end() || !IsWindow(hwnd)) return 0;
    BYTE held = (KeyDown(VK_CONTROL) ? FCONTROL : 0) | (KeyDown(VK_SHIFT) ? FSHIFT : 0) | (KeyDown(VK_MENU) ? FALT : 0);
    for (const ACCEL& a : it->second) {
        if (!(a.fVirt & FVIRTKEY) || a.key != msg->wParam) continue;
        if ((a.fVirt & (FCONTROL | FSHIFT | FALT)) != held) continue;  // exactly the entry's modifiers
        Found f = Locate(GetMenu(hwnd), a.cmd, MF_BYCOMMAND);
        if (f.menu && !ItemEnabled(f.menu->items[f.index])) return 1;
        SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(a.cmd, 1), 0);
        return 1;
    }
    return 0;
}

int16_t GetKeyState(int vk) {
    if (!OnUi()) return 0;
    return KeyDown(static_cast<UINT>(vk)) ? static_cast<int16_t>(0x8000) : 0;
}

}  // namespace gui
