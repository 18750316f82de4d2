#include "platform/gui/driver.h"

#include <algorithm>
#include <sstream>

#include "platform/gui/internal.h"
#include "platform/gui/views_model.h"

namespace gui::testing {

using namespace gui::detail;

Driver::Driver(FailureFn onFailure) : Driver(std::move(onFailure), Options{}) {}

Driver::Driver(FailureFn onFailure, Options options)
    : onFailure_(std::move(onFailure)),
      options_(std::move(options)),
      clock_(std::make_shared<std::atomic<uint64_t>>(options_.startMs)),
      now_(*clock_) {
    InitOptions init;
    auto clock = clock_;
    init.backend = gui::InitOptions::Backend::Headless;
    init.clock = [clock] { return clock->load(); };
    init.baseUnitX = options_.baseUnitX;
    init.baseUnitY = options_.baseUnitY;
    init.workArea = options_.workArea;
    if (!gui::Init(init)) {
        Fail("the windowing layer is already running");
        return;
    }
    started_ = true;
    if (options_.resources) SetResourceProvider(options_.resources);
    SetMessageBoxResponder([this](HWND owner, const std::string& text, const std::string& caption, UINT type) {
        return AnswerBox(owner, text, caption, type);
    });
    S().idleHook = [this] { return Idle(); };
    OnFileDialog(nullptr);
    OnFolderDialog(nullptr);
    S().popupResponder = [this](HMENU menu, POINT pt) -> UINT {
        if (!popupFn_) {
            Fail("unscripted popup menu:\n" + detail::MenuDump(menu));
            return 0;
        }
        return popupFn_(detail::MenuDump(menu), pt);
    };
    if (options_.sendWatchdogMs) SetSendWatchdog(options_.sendWatchdogMs, [this](const std::string& what) { Fail(what); });
}

Driver::~Driver() {
    if (!started_) return;
    for (const auto& e : expected_) {
        (void)e;
        Fail("an expected message box was never shown");
    }
    if (size_t n = LiveWindows()) Fail(std::to_string(n) + " window(s) left at the end:\n" + TreeDump());
    if (size_t n = S().menus.size()) Fail(std::to_string(n) + " menu(s) left at the end");
    if (size_t n = S().accelerators.size()) Fail(std::to_string(n) + " accelerator table(s) left at the end");
    S().idleHook = nullptr;
    SetSendWatchdog(0, nullptr);
    gui::Shutdown();
}

void Driver::Fail(const std::string& what) const {
    std::lock_guard lk(failLock_);
    if (onFailure_) onFailure_(what);
}

// ---------------------------------------------------------------------------------------------

HWND Driver::Find(HWND parent, int id) const { return GetDlgItem(parent, id); }

std::vector<HWND> Driver::TopLevels() const {
    std::vector<HWND> out;
    for (Window* w : S().topLevels) out.push_back(w->handle);
    return out;
}

int Driver::TemplateOf(HWND h) const {
    Window* w = Raw(h);
    return w ? w->templateId : 0;
}

std::string Driver::Text(HWND h) const {
    int n = GetWindowTextLengthA(h);
    std::string s(static_cast<size_t>(n) + 1, '\0');
    int got = GetWindowTextA(h, s.data(), n + 1);
    s.resize(static_cast<size_t>(got));
    return s;
}

int Driver::Check(HWND h) const { return Raw(h) ? static_cast<int>(SendMessageA(h, BM_GETCHECK, 0, 0)) : -1; }
bool Driver::Pushed(HWND h) const { return (SendMessageA(h, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0; }

bool Driver::Enabled(HWND h) const {
    for (Window* w = Raw(h); w; w = w->parent)
        if (w->style & WS_DISABLED) return false;
    return Raw(h) != nullptr;
}

bool Driver::Visible(HWND h) const { return IsWindowVisible(h) != FALSE; }
HWND Driver::Focus() const { return GetFocus(); }

RECT Driver::Rect(HWND h) const {
    RECT r;
    GetWindowRect(h, &r);
    return r;
}

std::vector<std::string> Driver::Items(HWND h) const { return ItemsOf(h); }
std::vector<int> Driver::Selection(HWND h) const { return SelectionOf(h); }
int Driver::Position(HWND h) const { return PositionOf(h); }

std::string Driver::TreeDump(HWND root) const {
    std::ostringstream out;
    std::function<void(Window*, int)> dump = [&](Window* w, int depth) {
        out << std::string(static_cast<size_t>(depth) * 2, ' ') << w->cls->name;
        if (w->parent) out << " id=" << w->ctrlId;
        if (w->templateId) out << " template=" << w->templateId;
        out << " \"" << w->text << "\"";
        if (!(w->style & WS_VISIBLE)) out << " hidden";
        if (w->style & WS_DISABLED) out << " disabled";
        if (S().focus == w->handle) out << " focus";
        out << "\n";
        for (Window* c : w->children) dump(c, depth + 1);
    };
    if (root) {
        if (Window* w = Raw(root)) dump(w, 0);
    } else {
        for (Window* w : S().topLevels) dump(w, 0);
    }
    return out.str();
}

std::vector<RowRecord> Driver::Rows(HWND h) const {
    std::vector<RowRecord> out;
    if (auto* m = ModelOf<ListViewModel>(Raw(h)))
        for (const auto& r : m->rows) out.push_back({r.cells, r.selected, r.focused, r.stateImage == 2, r.param});
    return out;
}

std::vector<std::string> Driver::Columns(HWND h) const {
    std::vector<std::string> out;
    if (auto* m = ModelOf<ListViewModel>(Raw(h)))
        for (const auto& c : m->columns) out.push_back(c.text);
    return out;
}

int Driver::ScrollY(HWND h) const {
    auto* m = ModelOf<ListViewModel>(Raw(h));
    return m ? m->scrollY : 0;
}

std::string Driver::TreeViewDump(HWND h) const {
    auto* m = ModelOf<TreeViewModel>(Raw(h));
    if (!m) return {};
    std::ostringstream out;
    std::function<void(const TreeNode&, int)> dump = [&](const TreeNode& n, int depth) {
        out << std::string(static_cast<size_t>(depth) * 2, ' ') << n.text;
        if (n.expanded) out << " +";
        if (m->selected == n.handle) out << " *";
        out << "\n";
        for (const auto& c : n.children) dump(*c, depth + 1);
    };
    for (const auto& c : m->root.children) dump(*c, 0);
    return out.str();
}

std::vector<std::string> Driver::StatusTexts(HWND h) const {
    auto* m = ModelOf<StatusBarModel>(Raw(h));
    return m ? m->texts : std::vector<std::string>{};
}

std::vector<ToolRecord> Driver::Tools(HWND h) const {
    std::vector<ToolRecord> out;
    if (auto* m = ModelOf<TooltipsModel>(Raw(h)))
        for (const auto& t : m->tools) out.push_back({t.hwnd, t.id, t.rect, t.text});
    return out;
}

size_t Driver::LiveWindows() const {
    std::lock_guard lk(S().lock);
    return S().windows.size();
}

// ---------------------------------------------------------------------------------------------

bool Driver::Click(HWND h) { return UserClick(h); }
bool Driver::SetTextAsUser(HWND h, const std::string& text) { return UserReplaceText(h, text); }
bool Driver::TypeKeys(HWND h, const std::string& text) { return UserTypeText(h, text); }
bool Driver::PickCombo(HWND h, int index) { return UserPickCombo(h, index); }
bool Driver::TypeCombo(HWND h, const std::string& text) { return UserTypeText(h, text); }
bool Driver::PickList(HWND h, int index, unsigned mods) { return UserPickList(h, index, mods); }
bool Driver::DragTrack(HWND h, const std::vector<int>& positions) { return UserDragTrack(h, positions); }
bool Driver::KeyTrack(HWND h, UINT vk) { return UserKeyTrack(h, vk); }

bool Driver::Key(UINT vk, unsigned mods) {
    HWND target = GetFocus();
    if (!target) target = GetForegroundWindow();
    Window* w = Raw(target);
    if (!w || !CanTakeInput(*w)) return false;
    // With Alt held, keys are system keys (Alt itself included).
    const bool sys = (mods & kAlt) != 0;
    auto key = [&](UINT code, bool press) {
        MSG m;
        m.hwnd = target;
        m.message = press ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
        m.wParam = code;
        m.lParam = press ? 1 : static_cast<LPARAM>(0xC0000001u);
        return m;
    };
    std::vector<UINT> held;
    if (mods & kCtrl) held.push_back(VK_CONTROL);
    if (mods & kShift) held.push_back(VK_SHIFT);
    if (mods & kAlt) held.push_back(VK_MENU);
    std::lock_guard lk(S().lock);
    for (UINT m : held) S().input.push_back(key(m, true));
    S().input.push_back(key(vk, true));
    S().input.push_back(key(vk, false));
    for (auto it = held.rbegin(); it != held.rend(); ++it) S().input.push_back(key(*it, false));
    return true;
}

bool Driver::ClickRow(HWND h, int row, UINT button, unsigned mods) {
    return UserClickRow(h, row, button == WM_RBUTTONDOWN || button == WM_RBUTTONUP, mods);
}
bool Driver::DoubleClickRow(HWND h, int row) { return UserDoubleClickRow(h, row); }
bool Driver::ToggleRowCheck(HWND h, int row) { return UserToggleRowCheck(h, row); }
bool Driver::ClickColumn(HWND h, int column) { return UserClickColumn(h, column); }
bool Driver::SelectTreeItem(HWND h, HTREEITEM item, bool byMouse) { return UserSelectTreeItem(h, item, byMouse); }
std::string Driver::HoverTreeItem(HWND h, HTREEITEM item) { return UserHoverTreeItem(h, item); }
bool Driver::PickTab(HWND h, int index) { return UserPickTab(h, index); }

bool Driver::Close(HWND h) {
    Window* w = Raw(h);
    if (!w || !CanTakeInput(*w)) return false;
    SendMessageA(h, WM_CLOSE, 0, 0);
    return true;
}

bool Driver::Minimize(HWND h) {
    Window* w = Raw(h);
    if (!w || !CanTakeInput(*w)) return false;
    ShowWindow(h, SW_MINIMIZE);
    return true;
}

bool Driver::Restore(HWND h) {
    Window* w = Raw(h);
    if (!w || (w->style & WS_DISABLED)) return false;
    ShowWindow(h, SW_RESTORE);
    return true;
}

bool Driver::Activate(HWND h) {
    Window* w = Raw(h);
    if (!w || !CanTakeInput(*w)) return false;
    return SetForegroundWindow(h) != FALSE;
}

bool Driver::Mouse(HWND h, UINT msg, int x, int y, WPARAM keys) {
    Window* w = Raw(h);
    if (!w || !CanTakeInput(*w)) return false;
    POINT screen{x, y};
    ClientToScreen(h, &screen);
    S().cursorPos = screen;  // where the pointer is, for GetCursorPos
    SendMessageA(h, msg, keys, MAKELPARAM(static_cast<unsigned>(x), static_cast<unsigned>(y)));
    return true;
}

// ---------------------------------------------------------------------------------------------

void Driver::Pump(const std::function<bool(MSG&)>& pretranslate) {
    // Works in rounds of what was waiting at the start of each round. A queue that never gets
    // shorter than it was in the round before, round after round, or that keeps growing, is fed
    // by what its own messages do: a runaway. A long queue that drains is not.
    constexpr int kLevelRounds = 1000, kGrowingRounds = 16;
    size_t previous = Backlog();
    int level = 0, growing = 0;
    MSG m;
    for (;;) {
        const size_t round = std::max<size_t>(previous, 1);
        for (size_t i = 0; i < round; ++i) {
            int r = FetchMessage(&m, true, false, nullptr);
            if (r < 0) return;
            if (r == 0) {
                quitSeen_ = true;
                quitCode_ = static_cast<int>(m.wParam);
                continue;
            }
            if (pretranslate && pretranslate(m)) continue;
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        const size_t now = Backlog();
        level = now > 0 && now >= previous ? level + 1 : 0;
        growing = now > previous ? growing + 1 : 0;
        previous = now;
        if (level >= kLevelRounds || growing >= kGrowingRounds) break;
    }
    Fail("Pump: messages keep coming (a window posts to itself without end?)");
}

bool Driver::PumpUntil(const std::function<bool()>& done, uint32_t realMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
    for (;;) {
        Pump();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::unique_lock lk(S().lock);
        if (S().sent.empty() && S().posted.empty()) S().uiWake.wait_for(lk, std::chrono::milliseconds(2));
    }
}

void Driver::Advance(uint32_t ms) {
    const uint64_t target = now_.load() + ms;
    Pump();
    for (int guard = 0; guard < 1000000; ++guard) {
        uint64_t next = NextTimerDeadline();
        if (!next || next > target) break;
        if (next > now_.load()) now_.store(next);
        Pump();
    }
    // A left-alone dialog run on the way may have moved the clock past the target: time spent
    // stays spent.
    if (now_.load() < target) now_.store(target);
    Pump();
}

void Driver::Jump(uint32_t ms) { now_.fetch_add(ms); }

bool Driver::QuitSeen(int* code) const {
    if (code) *code = quitCode_;
    return quitSeen_;
}

// ---------------------------------------------------------------------------------------------

void Driver::OnMessageBox(BoxFn fn) { boxFn_ = std::move(fn); }
void Driver::OnPopupMenu(std::function<UINT(const std::string&, POINT)> fn) { popupFn_ = std::move(fn); }

std::string Driver::MenuDump(HMENU menu) const { return detail::MenuDump(menu); }

void Driver::OnFileDialog(FileDialogResponder fn) {
    SetFileDialogResponder([this, fn = std::move(fn)](const FileDialogRequest& r) -> std::optional<std::vector<std::string>> {
        if (fn) return fn(r);
        Fail("unscripted file dialog \"" + r.title + "\"");
        return std::nullopt;
    });
}

void Driver::OnFolderDialog(FolderDialogResponder fn) {
    SetFolderDialogResponder([this, fn = std::move(fn)](const FileDialogRequest& r) -> std::optional<std::string> {
        if (fn) return fn(r);
        Fail("unscripted folder dialog \"" + r.title + "\"");
        return std::nullopt;
    });
}

int Driver::Alpha(HWND h) const {
    Window* w = Raw(h);
    return w ? w->alpha : -1;
}

std::vector<TrayRecord> Driver::Tray() const {
    std::vector<TrayRecord> out;
    for (const auto& t : S().tray) {
        TrayRecord r{t.hwnd, t.id, t.callback, t.icon, t.tip, {}};
        for (const auto& b : t.balloons) r.balloons.emplace_back(b.title, b.text);
        out.push_back(std::move(r));
    }
    return out;
}

bool Driver::ClickTray(HWND h, UINT id, UINT button) {
    for (const auto& t : S().tray)
        if (t.hwnd == h && t.id == id) return t.callback && PostMessageA(h, t.callback, id, static_cast<LPARAM>(button));
    return false;
}

void Driver::SetTrayAvailable(bool available) { S().trayAvailable = available; }

void Driver::RaiseTaskbarCreated() {
    const UINT msg = RegisterWindowMessageA("TaskbarCreated");
    for (HWND h : TopLevels()) SendMessageA(h, msg, 0, 0);
}

DWORD Driver::Drop(HWND h, const std::vector<std::string>& files, DWORD keys, POINT pt) {
    return UserDrop(h, files, nullptr, keys, pt);
}

DWORD Driver::DropText(HWND h, const std::string& text, DWORD keys, POINT pt) {
    return UserDrop(h, {}, &text, keys, pt);
}

bool Driver::ChooseMenu(HWND h, UINT id) {
    Window* w = Raw(h);
    if (!w || !CanTakeInput(*w)) return false;
    return ChooseMenuItem(h, GetMenu(h), id, false);
}

void Driver::ExpectBox(std::function<bool(const BoxRecord&)> matcher, int answer) {
    expected_.emplace_back(std::move(matcher), answer);
}

void Driver::OnModal(int templateId, std::function<void(Driver&, HWND)> fn) { modal_[templateId] = std::move(fn); }
void Driver::LeaveAlone(int templateId) { leaveAlone_.insert(templateId); }

int Driver::AnswerBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
    BoxRecord rec{owner, text, caption, type, 0};
    if (!expected_.empty()) {
        auto [matcher, answer] = expected_.front();
        expected_.pop_front();
        if (matcher(rec)) {
            rec.answer = answer;
        } else {
            Fail("message box \"" + text + "\" does not match the expected one");
            rec.answer = SafeMessageBoxAnswer(type);
        }
    } else if (boxFn_) {
        rec.answer = boxFn_(rec);
    } else {
        Fail("unscripted message box \"" + text + "\" (" + caption + ")");
        rec.answer = SafeMessageBoxAnswer(type);
    }
    boxes_.push_back(rec);
    return rec.answer;
}

bool Driver::Idle() {
    State& s = S();
    if (s.fetched != idleFetched_) {
        idleFetched_ = s.fetched;
        idleSince_ = std::chrono::steady_clock::now();
    }
    if (!s.modalStack.empty()) {
        HWND top = s.modalStack.back();
        WindowPtr w = Lookup(top);
        if (!w || w->ended) return false;
        const int id = w->templateId;
        auto it = modal_.find(id);
        if (it != modal_.end() && !responded_.count(top)) {
            responded_.insert(top);
            it->second(*this, top);
            return true;
        }
        if (leaveAlone_.count(id)) {
            // Only the dialog's own timers end a count-down (other windows' timers alone would
            // spin the clock on without end), but the clock stops at every earlier deadline on
            // the way, so all windows' timers fire on time and in deadline order.
            if (NextTimerDeadlineWithin(w.get())) {
                const uint64_t next = NextTimerDeadline();
                if (next > now_.load()) now_.store(next);
                return true;
            }
            Fail("left-alone dialog " + std::to_string(id) + " has no timer of its own and would wait for ever:\n" +
                 TreeDump(top));
        } else {
            Fail("unscripted modal dialog " + std::to_string(id) + " idles:\n" + TreeDump(top));
        }
        SendMessageA(top, WM_CLOSE, 0, 0);
        if (w->alive && !w->ended) EndDialog(top, 0);
        return true;
    }
    if (std::chrono::steady_clock::now() - idleSince_ > std::chrono::milliseconds(options_.idleLimitMs)) {
        Fail("a message loop waited " + std::to_string(options_.idleLimitMs) + " ms with nothing to do; quitting it");
        idleSince_ = std::chrono::steady_clock::now();
        PostQuitMessage(0);
        return true;
    }
    return false;
}

}  // namespace gui::testing
