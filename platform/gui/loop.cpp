// Messages between threads and the UI thread's loop: sends (direct on the UI thread, queued and
// waited for from others), posts, the fetch order of GetMessage, timers on the layer's clock,
// marshalled calls, pumping waits and the lendable UI mutex.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

#include "platform/gui/internal.h"
#include "platform/sync.h"

namespace gui {
namespace detail {

namespace {

using Clock = std::chrono::steady_clock;

// What the UI thread is doing, for the send watchdog.
constexpr const char* kSiteBusy = "running code that does not serve sends";
constexpr const char* kSiteLoop = "waiting in a message loop";
constexpr const char* kSitePumping = "in a pumping wait";
std::atomic<const char*> g_uiSite{kSiteBusy};

struct SiteScope {
    explicit SiteScope(const char* site) : old(g_uiSite.exchange(site)) {}
    ~SiteScope() { g_uiSite.store(old); }
    const char* old;
};

std::mutex g_watchdogLock;
uint32_t g_watchdogMs = 0;
std::shared_ptr<const std::function<void(const std::string&)>> g_watchdogReport;

// Waits on behalf of a thread that is not the UI thread: its answer comes from the UI thread.
LRESULT WaitForAnswer(const std::shared_ptr<SentRecord>& rec) {
    uint32_t limit;
    std::shared_ptr<const std::function<void(const std::string&)>> report;
    {
        std::lock_guard lk(g_watchdogLock);
        limit = g_watchdogMs;
        report = g_watchdogReport;
    }
    State& s = S();
    std::unique_lock lk(s.lock);
    if (!Running()) return 0;
    s.sent.push_back(rec);
    WakeUi();
    if (limit && report) {
        if (!s.replyWake.wait_for(lk, std::chrono::milliseconds(limit), [&] { return rec->done; })) {
            const std::string what = "a call to the UI thread has waited " + std::to_string(limit) +
                                     " ms; the UI thread is " + g_uiSite.load();
            lk.unlock();
            (*report)(what);
            lk.lock();
        }
    }
    s.replyWake.wait(lk, [&] { return rec->done; });
    return rec->result;
}

bool AliveLocked(HWND h) {
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(h));
    return it != S().windows.end() && it->second->alive;
}

// Takes the next ready message in fetch order: posted, quit, input, paint, due timer.
bool TakeReady(MSG* msg, bool remove) {
    State& s = S();
    {
        std::lock_guard lk(s.lock);
        for (std::deque<MSG>* q : {&s.posted}) {
            while (!q->empty() && q->front().hwnd && !AliveLocked(q->front().hwnd)) q->pop_front();  // dead windows
            if (!q->empty()) {
                *msg = q->front();
                if (remove) q->pop_front();
                return true;
            }
        }
        if (s.quitPending) {
            *msg = MSG{};
            msg->message = WM_QUIT;
            msg->wParam = static_cast<WPARAM>(s.quitCode);
            if (remove) s.quitPending = false;
            return true;
        }
        while (!s.input.empty() && s.input.front().hwnd && !AliveLocked(s.input.front().hwnd)) s.input.pop_front();
        if (!s.input.empty()) {
            *msg = s.input.front();
            if (remove) {
                s.input.pop_front();
                // The modifier state moves with the key messages fetched, as a keyboard's would.
                const bool down = msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN;
                const bool up = msg->message == WM_KEYUP || msg->message == WM_SYSKEYUP;
                const UINT vk = static_cast<UINT>(msg->wParam);
                if (vk == VK_CONTROL || vk == VK_SHIFT || vk == VK_MENU) {
                    if (down) s.keysDown.insert(vk);
                    if (up) s.keysDown.erase(vk);
                }
            }
            return true;
        }
    }
    while (!s.paint.empty()) {
        HWND h = reinterpret_cast<HWND>(*s.paint.begin());
        if (!IsWindow(h)) {
            s.paint.erase(s.paint.begin());
            continue;
        }
        *msg = MSG{};
        msg->hwnd = h;
        msg->message = WM_PAINT;
        if (remove) s.paint.erase(s.paint.begin());
        return true;
    }
    const uint64_t now = Now();
    Timer* best = nullptr;
    for (auto& [key, t] : s.timers) {
        if (t.deadline > now) continue;
        if (!best || t.deadline < best->deadline || (t.deadline == best->deadline && t.seq < best->seq)) best = &t;
    }
    if (best) {
        *msg = MSG{};
        msg->hwnd = best->hwnd;
        msg->message = WM_TIMER;
        msg->wParam = best->id;
        msg->lParam = reinterpret_cast<LPARAM>(best->proc);
        msg->time = static_cast<DWORD>(now);
        if (remove) best->deadline = now + best->period;  // one message per timer, no catch-up
        return true;
    }
    return false;
}

// What an idle modal loop does without a driver (no display): a dialog with a timer of its own
// is left to count down; one without is closed (other windows' timers, such as a main window's
// periodic one, do not keep it open), and ended if closing does not end it.
bool DefaultIdle() {
    State& s = S();
    if (s.modalStack.empty()) return false;
    HWND top = s.modalStack.back();
    WindowPtr w = Lookup(top);
    if (!w || w->ended || NextTimerDeadlineWithin(w.get())) return false;
    std::fprintf(stderr, "no display: closing dialog %d\n", w->templateId);
    SendMessageA(top, WM_CLOSE, 0, 0);
    if (w->alive && !w->ended) EndDialog(top, 0);
    return true;
}

bool HandleDialogKey(const MSG* msg) {
    if (msg->wParam != VK_RETURN && msg->wParam != VK_ESCAPE) return false;
    Window* w = Raw(msg->hwnd);
    if (!w) return false;
    Window* dlg = DialogRootOf(w);
    if (!dlg) return false;
    if (msg->wParam == VK_RETURN && KindOf(*w) == ControlKind::Edit && (w->style & ES_MULTILINE) &&
        (w->style & ES_WANTRETURN))
        return false;
    if (msg->wParam == VK_RETURN && KindOf(*w) == ControlKind::ListView) return false;  // activates its row
    int id = IDCANCEL;
    Window* button = nullptr;
    if (msg->wParam == VK_RETURN) {
        button = DefaultButtonOf(dlg);
        id = button ? static_cast<int>(button->ctrlId) : IDOK;
    }
    if (!button) button = Raw(GetDlgItem(dlg->handle, id));
    if (button && !CanTakeInput(*button)) return true;  // a disabled OK or Cancel swallows the key
    SendMessageA(dlg->handle, WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button ? button->handle : nullptr));
    return true;
}

}  // namespace

uint64_t NextTimerDeadline() {
    uint64_t next = 0;
    for (auto& [key, t] : S().timers)
        if (next == 0 || t.deadline < next) next = t.deadline;
    return next;
}

size_t Backlog() {
    State& s = S();
    std::lock_guard lk(s.lock);
    return s.sent.size() + s.posted.size() + s.input.size() + s.paint.size();
}

uint64_t NextTimerDeadlineWithin(const Window* root) {
    uint64_t next = 0;
    for (const auto& [key, t] : S().timers) {
        bool own = false;
        for (const Window* p = Raw(t.hwnd); p && !own; p = p->parent) own = p == root;
        if (own && (next == 0 || t.deadline < next)) next = t.deadline;
    }
    return next;
}

bool RunsForServedCall(std::thread::id sender) {
    const State& s = S();
    auto it = std::find_if(s.serving.rbegin(), s.serving.rend(), [&](const ServedCall& c) { return c.sender == sender; });
    if (it == s.serving.rend()) return false;
    // The call's own code, before any procedure runs inside it.
    if (s.frames.size() <= it->frameDepth) return true;
    // A procedure of the call's target window, or of a window made during the call (its prompt);
    // never another window whose message a loop inside the call happened to dispatch.
    const uintptr_t running = s.frames.back();
    return running != 0 && (running == it->targetRoot || running >= it->firstHandle);
}

LRESULT CallOnUi(const std::function<LRESULT()>& fn) {
    if (OnUi()) return fn();
    auto rec = std::make_shared<SentRecord>();
    rec->call = fn;
    rec->sender = std::this_thread::get_id();
    return WaitForAnswer(rec);
}

void ServeSent() {
    State& s = S();
    for (;;) {
        std::shared_ptr<SentRecord> rec;
        {
            std::lock_guard lk(s.lock);
            if (s.sent.empty()) return;
            rec = s.sent.front();
            s.sent.pop_front();
        }
        Window* target = rec->call ? nullptr : RootOf(Raw(rec->hwnd));
        s.serving.push_back(ServedCall{rec->sender, s.frames.size(),
                                       target ? reinterpret_cast<uintptr_t>(target->handle) : 0, NextHandleValue()});
        SiteScope site(kSiteBusy);
        LRESULT r = rec->call ? rec->call() : SendMessageA(rec->hwnd, rec->msg, rec->wParam, rec->lParam);
        s.serving.pop_back();
        {
            std::lock_guard lk(s.lock);
            rec->result = r;
            rec->done = true;
        }
        s.replyWake.notify_all();
    }
}

int FetchMessage(MSG* msg, bool remove, bool wait, const std::function<bool()>& stop) {
    State& s = S();
    for (;;) {
        DestroyPendingDialogs();
        ServeSent();
        if (stop && stop()) return -2;
        if (TakeReady(msg, remove)) {
            ++s.fetched;
            return msg->message == WM_QUIT ? 0 : 1;
        }
        if (!wait) return -3;
        if (s.idleHook ? s.idleHook() : (!s.backend && DefaultIdle())) continue;
        SiteScope site(kSiteLoop);
        if (s.backend) {
            // The display's events arrive while the loop idles; the widgets catch up first.
            s.backend->Flush();
            uint64_t next = NextTimerDeadline(), now = Now();
            uint32_t ms = 50;
            if (next) ms = static_cast<uint32_t>(std::min<uint64_t>(ms, next > now ? next - now : 0));
            bool idle;
            {
                std::lock_guard lk(s.lock);
                idle = s.sent.empty() && s.posted.empty() && s.input.empty() && !s.quitPending;
            }
            if (idle) s.backend->Wait(ms);
            continue;
        }
        auto slice = std::chrono::milliseconds(s.options.clock ? 5 : 50);
        if (!s.options.clock) {
            uint64_t next = NextTimerDeadline(), now = Now();
            if (next) slice = std::min<std::chrono::milliseconds>(slice, std::chrono::milliseconds(next > now ? next - now : 0));
        }
        std::unique_lock lk(s.lock);
        if (s.sent.empty() && s.posted.empty() && s.input.empty() && !s.quitPending) s.uiWake.wait_for(lk, slice);
    }
}

bool RunModalLoop(const std::function<bool()>& ended) {
    MSG m;
    for (;;) {
        if (ended()) return true;
        int r = FetchMessage(&m, true, true, ended);
        if (r == -2) return true;
        if (r == 0) {
            PostQuitMessage(static_cast<int>(m.wParam));  // the outer loops end too
            return false;
        }
        if (r < 0) return false;
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}

}  // namespace detail

using namespace detail;

LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (OnUi()) {
        WindowPtr w = Lookup(hwnd);
        return w ? CallProc(w, msg, wParam, lParam) : 0;
    }
    if (!Running() || !IsWindow(hwnd)) return 0;
    auto rec = std::make_shared<SentRecord>();
    rec->hwnd = hwnd;
    rec->msg = msg;
    rec->wParam = wParam;
    rec->lParam = lParam;
    rec->sender = std::this_thread::get_id();
    return WaitForAnswer(rec);
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(GetDlgItem(dialog, id), msg, wParam, lParam);
}

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    State& s = S();
    std::lock_guard lk(s.lock);
    if (!Running()) return FALSE;
    if (hwnd ? !AliveLocked(hwnd) : !OnUi()) return FALSE;
    MSG m;
    m.hwnd = hwnd;
    m.message = msg;
    m.wParam = wParam;
    m.lParam = lParam;
    s.posted.push_back(m);
    WakeUi();
    return TRUE;
}

void PostQuitMessage(int exitCode) {
    if (!OnUi()) return;
    State& s = S();
    std::lock_guard lk(s.lock);
    s.quitPending = true;
    s.quitCode = exitCode;
}

BOOL GetMessageA(MSG* msg, HWND, UINT, UINT) {
    if (!OnUi() || !msg) return -1;
    return FetchMessage(msg, true, true, nullptr);
}

BOOL PeekMessageA(MSG* msg, HWND, UINT, UINT, UINT removeFlag) {
    if (!OnUi() || !msg) return FALSE;
    return FetchMessage(msg, (removeFlag & PM_REMOVE) != 0, false, nullptr) >= 0 ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !OnUi()) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        Window* w = RootOf(Raw(msg->hwnd));
        auto& frames = S().frames;
        frames.push_back(w ? reinterpret_cast<uintptr_t>(w->handle) : 0);
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        frames.pop_back();
        return 0;
    }
    if (!msg->hwnd) return 0;
    if ((msg->message == WM_KEYDOWN) && HandleDialogKey(msg)) return 0;
    LRESULT r = SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    State& s = S();
    if (s.backend && msg->message >= WM_KEYDOWN && msg->message <= WM_SYSKEYUP) s.backend->KeyDispatched(*msg);
    return r;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
    if (!OnUi()) return Marshal<UINT_PTR>([&] { return SetTimer(hwnd, id, elapseMs, proc); });
    State& s = S();
    if (hwnd && !IsWindow(hwnd)) return 0;
    if (!hwnd && !s.timers.count({0, id})) id = s.nextThreadTimerId++;  // thread timers get a fresh id
    const uint32_t period = std::max<uint32_t>(elapseMs, 10);
    auto [it, added] = s.timers.try_emplace({reinterpret_cast<uintptr_t>(hwnd), id});
    Timer& t = it->second;
    if (added) {
        t.hwnd = hwnd;
        t.id = id;
        t.seq = s.timerSeq++;
    }
    t.period = period;
    t.proc = proc;
    t.deadline = Now() + period;
    WakeUi();
    return hwnd && id == 0 ? 1 : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    if (!OnUi()) return Marshal<BOOL>([&] { return KillTimer(hwnd, id); });
    return S().timers.erase({reinterpret_cast<uintptr_t>(hwnd), id}) ? TRUE : FALSE;
}

void SetSendWatchdog(uint32_t ms, std::function<void(const std::string&)> report) {
    auto next = report ? std::make_shared<const std::function<void(const std::string&)>>(std::move(report)) : nullptr;
    std::lock_guard lk(g_watchdogLock);
    g_watchdogMs = ms;
    g_watchdogReport = std::move(next);
}

bool RunOnUiThread(const std::function<void()>& fn) {
    if (!fn) return false;
    if (OnUi()) {
        fn();
        return true;
    }
    return CallOnUi([&]() -> LRESULT {
               fn();
               return 1;
           }) != 0;
}

bool WaitPumping(uint32_t timeoutMs, const std::function<bool()>& ready) {
    const bool infinite = timeoutMs == platform::kInfinite;
    const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
    auto remaining = [&] {
        return infinite ? std::chrono::milliseconds(2)
                        : std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
                                     std::chrono::milliseconds(0), std::chrono::milliseconds(2));
    };
    if (!OnUi()) {
        for (;;) {
            if (ready()) return true;
            if (!infinite && Clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    State& s = S();
    SiteScope site(kSitePumping);
    for (;;) {
        ServeSent();
        if (ready()) return true;
        if (!infinite && Clock::now() >= deadline) return false;
        std::unique_lock lk(s.lock);
        if (!s.sent.empty()) continue;
        s.uiWake.wait_for(lk, remaining());
    }
}

bool WaitPumping(platform::Event& event, uint32_t timeoutMs) {
    if (!OnUi()) return event.Wait(timeoutMs);
    return WaitPumping(timeoutMs, [&] { return event.Wait(0); });
}

bool LockPumping(platform::RecursiveMutex& mutex, uint32_t timeoutMs) {
    if (!OnUi()) return mutex.lockFor(timeoutMs);
    return WaitPumping(timeoutMs, [&] { return mutex.lockFor(0); });
}

// ---------------------------------------------------------------------------------------------

struct UiMutex::State {
    std::mutex m;
    std::condition_variable cv;
    std::thread::id owner{};
    unsigned depth = 0;
    unsigned lent = 0;  // acquisitions by the UI thread while serving the holder
};

UiMutex::UiMutex() : state_(std::make_unique<State>()) {}
UiMutex::~UiMutex() = default;

bool UiMutex::tryTake() {
    const auto self = std::this_thread::get_id();
    std::lock_guard lk(state_->m);
    if (state_->depth == 0) {
        state_->owner = self;
        state_->depth = 1;
        return true;
    }
    if (state_->owner == self) {
        ++state_->depth;
        return true;
    }
    if (OnUi() && RunsForServedCall(state_->owner)) {
        ++state_->lent;
        return true;
    }
    return false;
}

bool UiMutex::lockFor(uint32_t timeoutMs) {
    if (tryTake()) return true;
    if (timeoutMs == 0) return false;
    if (OnUi()) return WaitPumping(timeoutMs, [this] { return tryTake(); });
    const auto self = std::this_thread::get_id();
    std::unique_lock lk(state_->m);
    auto free = [&] { return state_->depth == 0; };
    if (timeoutMs == platform::kInfinite) state_->cv.wait(lk, free);
    else if (!state_->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), free)) return false;
    state_->owner = self;
    state_->depth = 1;
    return true;
}

void UiMutex::unlock() {
    const auto self = std::this_thread::get_id();
    std::unique_lock lk(state_->m);
    if (state_->depth > 0 && state_->owner == self) {
        if (--state_->depth == 0) {
            state_->owner = std::thread::id{};
            lk.unlock();
            state_->cv.notify_all();
            WakeUi();
        }
        return;
    }
    if (state_->lent > 0 && OnUi()) --state_->lent;  // anything else is not ours: ignored
}

bool UiMutex::ownedByCaller() const {
    std::lock_guard lk(state_->m);
    if (state_->depth > 0 && state_->owner == std::this_thread::get_id()) return true;
    return state_->lent > 0 && OnUi();
}

}  // namespace gui
