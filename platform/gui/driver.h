// The headless test driver. It starts the layer on the calling thread (which becomes the UI
// thread) with a virtual clock, acts as a user would, reads every model field, answers message
// boxes and modal dialogs from scripts, and reports through onFailure anything a test did not
// expect: an unscripted box or dialog (then ended safely instead of hanging), a loop idle for too
// long, or windows left at the end.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/gui/gui.h"
#include "platform/gui/resources.h"

namespace gui::testing {

enum Mods : unsigned { kNoMods = 0, kCtrl = 1, kShift = 2, kAlt = 4 };

struct BoxRecord {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT type = 0;
    int answer = 0;
};

// A list-view row as the user sees it.
struct RowRecord {
    std::vector<std::string> cells;
    bool selected = false;
    bool focused = false;
    bool checked = false;  // state image 2
    LPARAM param = 0;
};

// A tool tip: the tool's window and id, its rectangle and text.
struct ToolRecord {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    RECT rect;
    std::string text;
};

// A tray icon as the desktop shows it, with every balloon it raised.
struct TrayRecord {
    HWND hwnd = nullptr;
    UINT id = 0;
    UINT callback = 0;
    HICON icon = nullptr;
    std::string tip;
    std::vector<std::pair<std::string, std::string>> balloons;  // {title, text}
};

class Driver {
public:
    using FailureFn = std::function<void(const std::string&)>;
    struct Options {
        uint64_t startMs = 1000000;
        int baseUnitX = 6;
        int baseUnitY = 13;
        RECT workArea{0, 0, 1920, 1040};
        std::shared_ptr<ResourceProvider> resources;
        uint32_t idleLimitMs = 5000;     // real time a loop may wait with nothing to do
        uint32_t sendWatchdogMs = 10000;  // a cross-thread call waiting longer fails the test
    };

    explicit Driver(FailureFn onFailure);
    Driver(FailureFn onFailure, Options options);
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    bool Started() const { return started_; }
    void Fail(const std::string& what) const;

    // --- reading ---
    HWND Find(HWND parent, int id) const;
    std::vector<HWND> TopLevels() const;
    int TemplateOf(HWND h) const;
    std::string Text(HWND h) const;
    int Check(HWND h) const;
    bool Pushed(HWND h) const;
    bool Enabled(HWND h) const;  // the window and every ancestor
    bool Visible(HWND h) const;
    HWND Focus() const;
    RECT Rect(HWND h) const;
    std::vector<std::string> Items(HWND h) const;
    std::vector<int> Selection(HWND h) const;  // the selected index, or every selected one
    int Position(HWND h) const;                // trackbar or progress position
    std::string TreeDump(HWND root = nullptr) const;
    // List views: rows, column titles, the scroll position in pixels.
    std::vector<RowRecord> Rows(HWND h) const;
    std::vector<std::string> Columns(HWND h) const;
    int ScrollY(HWND h) const;
    // A tree view's nodes, one a line, indented by depth: "+" expanded, "*" selected.
    std::string TreeViewDump(HWND h) const;
    // A status bar's part texts; a tool-tip control's tools.
    std::vector<std::string> StatusTexts(HWND h) const;
    std::vector<ToolRecord> Tools(HWND h) const;
    size_t LiveWindows() const;
    // A menu as text: one item a line, submenus indented, "[id]", "checked", "grayed", "-" for
    // separators.
    std::string MenuDump(HMENU menu) const;
    std::vector<TrayRecord> Tray() const;
    int Alpha(HWND h) const;  // a layered window's opacity, 0-255

    // --- acting as a user (false when the target is gone, hidden or disabled) ---
    bool Click(HWND h);
    bool SetTextAsUser(HWND h, const std::string& text);  // one change, as a paste
    bool TypeKeys(HWND h, const std::string& text);       // one change per character, appended
    bool PickCombo(HWND h, int index);
    bool TypeCombo(HWND h, const std::string& text);
    bool PickList(HWND h, int index, unsigned mods = kNoMods);
    bool DragTrack(HWND h, const std::vector<int>& positions);
    bool KeyTrack(HWND h, UINT vk);
    // Views: row -1 clicks off the rows; a double click clicks first.
    bool ClickRow(HWND h, int row, UINT button = WM_LBUTTONDOWN, unsigned mods = kNoMods);
    bool DoubleClickRow(HWND h, int row);
    bool ToggleRowCheck(HWND h, int row);
    // A click on a report view's column header (false without headers that sort, or no column).
    bool ClickColumn(HWND h, int column);
    bool SelectTreeItem(HWND h, HTREEITEM item, bool byMouse = true);
    std::string HoverTreeItem(HWND h, HTREEITEM item);  // the tip the parent gave
    bool PickTab(HWND h, int index);
    // Menus: a choice from the window's menu bar (false when the item is missing or grayed);
    // Pump delivers the WM_COMMAND it posts.
    bool ChooseMenu(HWND h, UINT id);
    // Desktop: a button released on a tray icon (WM_LBUTTONUP or WM_RBUTTONUP; Pump delivers the
    // posted callback); the tray going away or coming back ("TaskbarCreated" to every top-level).
    bool ClickTray(HWND h, UINT id, UINT button = WM_LBUTTONUP);
    void SetTrayAvailable(bool available);
    void RaiseTaskbarCreated();
    // Files or text dropped at a point of h's client area, with MK_ keys held; the effect taken.
    DWORD Drop(HWND h, const std::vector<std::string>& files, DWORD keys = MK_LBUTTON, POINT pt = {});
    DWORD DropText(HWND h, const std::string& text, DWORD keys = MK_LBUTTON, POINT pt = {});
    // Queued for the focus with its modifiers pressed around it; Pump delivers it.
    bool Key(UINT vk, unsigned mods = kNoMods);
    bool Close(HWND h);
    bool Minimize(HWND h);
    bool Restore(HWND h);
    bool Activate(HWND h);
    bool Mouse(HWND h, UINT msg, int x, int y, WPARAM keys = 0);

    // --- time ---
    // Dispatches everything ready now; pretranslate may take a message (true) before dispatch.
    void Pump(const std::function<bool(MSG&)>& pretranslate = {});
    // Pumps, serving other threads' sends, until done() holds or realMs of real time passed.
    bool PumpUntil(const std::function<bool()>& done, uint32_t realMs);
    // Moves the clock by ms, stopping at each timer deadline on the way and pumping there.
    void Advance(uint32_t ms);
    // Moves the clock at once, as a loop that was busy for ms would see it.
    void Jump(uint32_t ms);
    uint64_t Now() const { return now_.load(); }
    // Whether a WM_QUIT reached Pump, and its code.
    bool QuitSeen(int* code = nullptr) const;

    // --- responders ---
    using BoxFn = std::function<int(const BoxRecord&)>;
    void OnMessageBox(BoxFn fn);
    // The next box must match; it is answered with answer.
    void ExpectBox(std::function<bool(const BoxRecord&)> matcher, int answer);
    const std::vector<BoxRecord>& Boxes() const { return boxes_; }
    // Runs fn once when a modal dialog from this template idles.
    void OnModal(int templateId, std::function<void(Driver&, HWND)> fn);
    // An idle modal dialog from this template lets the clock jump to the next timer deadline.
    void LeaveAlone(int templateId);
    // Picks from popup menus: fn gets the menu's dump and the point, and answers an id (0: none).
    // A popup without a responder fails the test and picks nothing.
    void OnPopupMenu(std::function<UINT(const std::string&, POINT)> fn);
    // Answer file and folder dialogs (none: cancel). An unscripted one fails the test and cancels.
    void OnFileDialog(FileDialogResponder fn);
    void OnFolderDialog(FolderDialogResponder fn);

private:
    int AnswerBox(HWND owner, const std::string& text, const std::string& caption, UINT type);
    bool Idle();

    FailureFn onFailure_;
    mutable std::mutex failLock_;  // the send watchdog reports from other threads
    Options options_;
    bool started_ = false;
    std::shared_ptr<std::atomic<uint64_t>> clock_;
    std::atomic<uint64_t>& now_;
    bool quitSeen_ = false;
    int quitCode_ = 0;
    BoxFn boxFn_;
    std::deque<std::pair<std::function<bool(const BoxRecord&)>, int>> expected_;
    std::vector<BoxRecord> boxes_;
    std::map<int, std::function<void(Driver&, HWND)>> modal_;
    std::set<HWND> responded_;
    std::set<int> leaveAlone_;
    std::function<UINT(const std::string&, POINT)> popupFn_;
    uint64_t idleFetched_ = ~0ull;
    std::chrono::steady_clock::time_point idleSince_;
};

}  // namespace gui::testing
