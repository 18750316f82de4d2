// Window objects: every window and dialog of the interface is an object derived from CWindow. A
// process-wide map ties window handles to objects; the window and dialog procedures turn each
// message into a call of a virtual operation of the object. CDialogWindow adds the binding of
// dialog controls to preference keys (binding.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/stringtable.h"
#include "platform/gui/gui.h"
#include "platform/gui/menus.h"
#include "platform/sync.h"

namespace ui {

using gui::HWND;
using gui::LPARAM;
using gui::UINT;
using gui::WPARAM;

class CWindow;

struct WindowMatchEntry {
    HWND hwnd = nullptr;
    CWindow* window = nullptr;
};

// Handle -> object, sorted by handle value. Every operation holds the lock, and removal names the
// handle, so a lookup on one thread never disturbs a removal on another.
class CWindowMatchTable {
public:
    // The entry for the handle (an existing one unchanged, else a new one with a null object).
    WindowMatchEntry* Add(HWND hwnd, CWindow* window);
    // Removes the handle's entry; false when there is none.
    bool Remove(HWND hwnd);
    // The object of the handle, or null.
    CWindow* Find(HWND hwnd);
    int Count();
    std::vector<WindowMatchEntry> Entries();

private:
    size_t LowerBound(HWND hwnd) const;
    platform::RecursiveMutex lock_;
    std::vector<WindowMatchEntry> entries_;
    size_t lastFound_ = 0;  // lookups start here: consecutive messages mostly go to one window
};

CWindowMatchTable& WindowMap();
// The user-interface texts that captions and menu items beginning with '_' are looked up in.
CStringTable& UiStrings();
// The texts of plug-in panels.
CStringTable& PluginStrings();

// The tray callback message.
inline constexpr UINT kTrayMessage = gui::WM_USER + 100;
// The program's icon in the resource library (the windows' and the tray's).
inline constexpr int kAppIcon = 106;

class CWindow {
public:
    CWindow();
    virtual ~CWindow();
    CWindow(const CWindow&) = delete;
    CWindow& operator=(const CWindow&) = delete;

    virtual void Hide();
    virtual void Show();
    virtual void SetForeground();
    virtual void Minimize();
    virtual void Maximize();
    virtual void SetText(const char* text);
    virtual bool OnShowWindow(bool) { return false; }
    virtual bool OnInit() { return false; }
    virtual bool OnSize(int, int) { return false; }
    virtual bool OnMove() { return false; }
    virtual bool OnWindowPosChanged() { return false; }
    virtual bool OnScroll(int, int) { return false; }
    virtual bool OnCommandNotify(int, int, HWND) { return false; }
    virtual bool OnCommand(int, int, HWND) { return false; }
    virtual bool OnKeyUp(int) { return false; }
    virtual bool OnSelChange(int, int, HWND) { return false; }
    virtual bool OnNotify(gui::NMHDR*) { return false; }
    virtual bool OnPaint() { return false; }
    virtual bool OnEraseBackground(gui::HDC) { return false; }
    virtual bool OnEditChange(int, int, HWND) { return false; }
    virtual gui::HBRUSH OnControlColor(gui::HDC, int, HWND) { return nullptr; }
    virtual bool OnClose() { return true; }
    virtual bool OnMouseMove(int, int, WPARAM) { return false; }
    virtual bool OnMouseLeave() { return false; }
    virtual bool OnButtonUp(WPARAM, int, int) { return false; }
    virtual bool OnButtonDown(WPARAM, int, int) { return false; }
    virtual bool OnTimer(gui::UINT_PTR) { return false; }
    virtual bool OnParentNotify(int, LPARAM) { return false; }
    virtual bool OnSetFocus() { return false; }
    virtual bool OnChildClosed() { return false; }
    virtual bool OnMenuCommand(int) { return false; }
    virtual bool OnEnterMenuLoop() { return false; }
    virtual bool OnExitMenuLoop() { return false; }
    virtual bool OnUser(WPARAM, LPARAM) { return false; }
    virtual bool OnAppCommand(WPARAM, LPARAM) { return false; }
    virtual bool OnTrayNotify(WPARAM, LPARAM) { return false; }
    virtual bool OnTaskbarCreated(UINT, WPARAM, LPARAM) { return false; }
    virtual HWND Create(gui::DWORD style, gui::DWORD exStyle, CWindow* parent);
    virtual HWND Create(gui::DWORD style, gui::DWORD exStyle, HWND parent);
    virtual HWND CreateWithClass(gui::DWORD style, gui::DWORD exStyle, const gui::WNDCLASSA* wc, CWindow* parent);
    virtual HWND CreateWithClass(gui::DWORD style, gui::DWORD exStyle, HWND parent, const gui::WNDCLASSA* wc);
    virtual HWND CreateModeless(gui::HINSTANCE instance, int templateId, CWindow* parent);
    virtual HWND CreateModeless(gui::HINSTANCE instance, int templateId, HWND parent);
    virtual int DoModal(gui::HINSTANCE instance, int templateId, HWND parent);

    static gui::LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static gui::INT_PTR DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static bool Dispatch(CWindow* window, UINT msg, WPARAM wParam, LPARAM lParam);
    static bool RegisterWindowClass(gui::HINSTANCE instance);

    // Removes the window from the map and destroys it.
    void Close();

    // Control helpers: id 0 addresses the control the last helper resolved.
    gui::LRESULT SendItemMessage(int id, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND GetItem(int id);
    bool IsChecked(int id);
    void SetCheck(int id, bool on);
    int GetComboSel(int id);
    void SetComboSel(int id, int index);
    std::string GetItemText(int id);
    void SetItemText(int id, const char* text);
    void SetItemInt(int id, int value);
    void SetItemFloat(int id, double value, int decimals);
    int SelectComboString(int id, const char* text);
    std::string GetComboText(int id, int index);
    std::string GetListText(int listId, int index);
    void DeleteListSelection(int listId);

    // Window helpers.
    void MoveTo(int x, int y, int width, int height);
    void CenterOnWorkArea(int width, int height);
    void CenterOnScreen();
    void CenterOkButton();
    int GetShowState();
    gui::HMENU FindSubMenu(gui::HMENU menu, const char* name);
    // Sub-menu 0 of the menu at (x, y), or at the cursor when both are -1.
    void TrackPopup(gui::HMENU menu, int x, int y);
    // The index in a 0-terminated id list of the first control whose rectangle holds (x, y),
    // taken relative to the window's top-left corner; -1 when none.
    int HitTest(int x, int y, const int* ids);

    // Tray icon 1 of this window: add, modify or delete by message, with an optional balloon.
    bool SetTrayIcon(gui::DWORD message, const char* tip, const char* balloonText, const char* balloonTitle);
    void AddToolTip(int id, const char* text);
    void AddToolTipRect(gui::UINT_PTR toolId, const char* text, const gui::RECT& rect);
    void MoveItemWithTip(int id, int x, int y, const char* text, gui::UINT_PTR toolId);

    HWND Handle() const { return hwnd_; }
    CWindow* Parent() const { return parent_; }
    bool IsDialog() const { return (flags_ & kDialogFlag) != 0; }
    gui::LRESULT& Result() { return result_; }

protected:
    static constexpr uint32_t kDialogFlag = 1;

    HWND hwnd_ = nullptr;
    CWindow* parent_ = nullptr;
    HWND parentHwnd_ = nullptr;
    gui::HINSTANCE instance_ = nullptr;
    uint32_t flags_ = 0;
    int cachedId_ = 0;
    HWND cachedItem_ = nullptr;
    gui::LRESULT result_ = 0;
    UINT taskbarCreated_ = 0;
    bool modal_ = false;

private:
    // Forgets the window after it was destroyed by any road.
    void Detach();
    friend struct WindowClosing;
};

// Translates a caption beginning with '_' through the user-interface texts, and the items of a
// menu and its submenus, giving each translated item a mnemonic not yet used at its level.
void TranslateMenu(gui::HMENU menu);
void TranslateWindowText(HWND hwnd);
// Loads a menu, translates sub-menu 0, checks and greys its items by bit masks, shows it at the
// anchor's bottom-left corner, then destroys it. The anchor's top-level window gets the command.
void ShowMenu(int menuId, HWND anchor, uint32_t checkedMask, uint32_t disabledMask);
// The same at the mouse cursor; the owner's top-level window gets the command.
void ShowMenuAtCursor(int menuId, HWND owner, uint32_t checkedMask, uint32_t disabledMask);
// The filter buffer of a file dialog: "description\0pattern\0...\0" from (description, pattern) pairs.
std::string FileDialogFilter(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace ui
