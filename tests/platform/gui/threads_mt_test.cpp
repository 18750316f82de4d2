// Other threads and the UI thread: sends and marshalled calls, the UI mutex whose waits pump and
// which the UI thread may borrow from a thread it is serving, and shutdown with senders waiting.
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "support/wait_until.h"
#include "gui_fixture.h"
#include "platform/sync.h"

namespace {

using namespace gui;
using sqtest::Ctl;
using sqtest::Dlg;

class Threads : public sqtest::GuiTest {
protected:
    // A worker holds a platform mutex while it sends, then sends again and signals. The UI thread takes
    // the mutex and waits for the signal with lock(timeout) and wait(timeout) functions, and must serve
    // both sends meanwhile. Returns how many sends the window served.
    int HolderSendsWhileTheUiThreadWaits(const std::function<bool(platform::RecursiveMutex&, uint32_t)>& lock,
                                         const std::function<bool(platform::Event&, uint32_t)>& wait) {
        HWND w = MakeWindow();
        int served = 0;
        log.handler = [&](HWND, UINT msg, WPARAM, LPARAM, bool&) -> INT_PTR {
            if (msg == WM_USER) ++served;
            return 0;
        };
        platform::RecursiveMutex plain;
        platform::Event holding(true), done(true);
        sqtest::Worker worker([&] {
            plain.lock();
            holding.Set();
            SendMessageA(w, WM_USER, 0, 0);
            plain.unlock();
            SendMessageA(w, WM_USER, 0, 0);
            done.Set();
        });
        EXPECT_TRUE(holding.Wait(10000));
        const bool took = lock(plain, 2000);
        EXPECT_TRUE(took) << "a lock on the UI thread must serve the holder's send";
        if (took) plain.unlock();
        EXPECT_TRUE(wait(done, 2000));
        JoinServing(worker);
        log.handler = nullptr;
        DestroyWindow(w);
        return served;
    }
};

TEST_F(Threads, ManyThreadsSendAndPost) {
    HWND w = MakeWindow();
    int sends = 0, posts = 0;  // touched by the UI thread only
    const auto ui = std::this_thread::get_id();
    bool offThread = false;
    log.handler = [&](HWND, UINT msg, WPARAM wp, LPARAM, bool& handled) -> INT_PTR {
        if (msg == WM_USER) {
            ++sends;
            offThread = offThread || std::this_thread::get_id() != ui;
            handled = true;
            return static_cast<INT_PTR>(wp * 2);
        }
        if (msg == WM_USER + 1) ++posts;
        return 0;
    };
    constexpr int kThreads = 8, kSends = 500;
    std::atomic<int> wrong{0};
    std::vector<std::unique_ptr<sqtest::Worker>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::make_unique<sqtest::Worker>([&, t] {
            for (int i = 0; i < kSends; ++i) {
                WPARAM v = static_cast<WPARAM>(t * 10000 + i);
                if (SendMessageA(w, WM_USER, v, 0) != static_cast<LRESULT>(v * 2)) ++wrong;
                if (i % 10 == 0) PostMessageA(w, WM_USER + 1, 0, 0);
            }
        }));
    }
    EXPECT_TRUE(drv.PumpUntil([&] { return sends == kThreads * kSends && posts == kThreads * kSends / 10; }, 60000));
    for (auto& worker : workers) JoinServing(*worker);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_FALSE(offThread) << "every procedure runs on the UI thread";
    log.all.clear();
    DestroyWindow(w);
}

TEST_F(Threads, CallsFromOtherThreadsRunOnTheUiThread) {
    HWND w = MakeWindow();
    std::thread::id procThread;
    log.handler = [&](HWND, UINT msg, WPARAM, LPARAM, bool&) -> INT_PTR {
        if (msg == WM_SETTEXT) procThread = std::this_thread::get_id();
        return 0;
    };
    SetFocus(w);
    HWND focusSeenByWorker = w, created = nullptr;
    int fetch = 0;
    sqtest::Worker worker([&] {
        SetWindowTextA(w, "from a worker");
        created = CreateWindowExA(0, kEditClass, "", WS_CHILD, 0, 0, 5, 5, w, nullptr, nullptr, nullptr);
        focusSeenByWorker = GetFocus();
        MSG m;
        fetch = GetMessageA(&m, nullptr, 0, 0);
    });
    JoinServing(worker);
    EXPECT_EQ(procThread, std::this_thread::get_id());
    EXPECT_EQ(drv.Text(w), "from a worker");
    EXPECT_EQ(GetParent(created), w);
    EXPECT_EQ(focusSeenByWorker, nullptr) << "the focus belongs to the UI thread";
    EXPECT_EQ(fetch, -1) << "only the UI thread has a queue";
    DestroyWindow(w);
}

// A worker holding the UI mutex sends to the UI thread while the UI thread waits for the mutex.
TEST_F(Threads, UiThreadWaitingForTheMutexServesTheHoldersSends) {
    UiMutex mutex;
    HWND w = MakeWindow();
    int served = 0;
    log.handler = [&](HWND, UINT msg, WPARAM, LPARAM, bool&) -> INT_PTR {
        if (msg == WM_USER) ++served;
        return 0;
    };
    platform::Event holding(true);
    sqtest::Worker worker([&] {
        std::lock_guard lk(mutex);
        holding.Set();
        for (int i = 0; i < 20; ++i) SendMessageA(w, WM_USER, 0, 0);
    });
    ASSERT_TRUE(holding.Wait(10000));
    const bool took = mutex.lockFor(2000);
    EXPECT_TRUE(took) << "the UI thread's wait must serve the worker's sends";
    EXPECT_EQ(served, 20);
    if (took) mutex.unlock();
    JoinServing(worker);
    DestroyWindow(w);
}

// The file list's shape: a worker holds a lock while it writes rows into a list view; the UI
// thread, wanting the same lock (its timer's row refresh), must serve those writes meanwhile.
TEST_F(Threads, UiThreadWaitingForALockServesAWorkersListViewUpdates) {
    HWND main = MakeWindow();
    HWND list = CreateWindowExA(0, kListViewClass, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 200, 200, main,
                                reinterpret_cast<HMENU>(3), nullptr, nullptr);
    constexpr int kRows = 200;
    platform::RecursiveMutex fileList;
    platform::Event holding(true);
    sqtest::Worker worker([&] {
        std::lock_guard lk(fileList);
        holding.Set();
        for (int i = 0; i < kRows; ++i) {
            std::string text = "file " + std::to_string(i);
            LVITEMA item;
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = text.data();
            SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            item.iSubItem = 1;
            item.pszText = const_cast<char*>("queued");
            SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
            item.state = item.stateMask = LVIS_SELECTED;
            SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        }
    });
    ASSERT_TRUE(holding.Wait(10000));
    const auto start = std::chrono::steady_clock::now();
    const bool took = fileList.lockFor(2000);
    EXPECT_TRUE(took) << "the UI thread's wait must serve the list-view updates";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    if (took) fileList.unlock();
    JoinServing(worker);
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), kRows);
    EXPECT_EQ(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0), kRows);
    EXPECT_EQ(drv.Rows(list).back().cells, (std::vector<std::string>{"file 199", "queued"}));
    DestroyWindow(main);
}

TEST_F(Threads, PumpingWaitsForPlatformPrimitives) {
    EXPECT_EQ(HolderSendsWhileTheUiThreadWaits(
                  [](platform::RecursiveMutex& m, uint32_t ms) { return LockPumping(m, ms); },
                  [](platform::Event& e, uint32_t ms) { return WaitPumping(e, ms); }),
              2);
    EXPECT_FALSE(WaitPumping(20, [] { return false; })) << "a time-out keeps its meaning";
}

// The same waits written as plain platform calls: on the UI thread they pump through the layer's
// wait hook, so code outside the layer cannot deadlock against a sending worker either.
TEST_F(Threads, PlainPlatformWaitsOnTheUiThreadServeSends) {
    EXPECT_EQ(HolderSendsWhileTheUiThreadWaits(
                  [](platform::RecursiveMutex& m, uint32_t ms) { return m.lockFor(ms); },
                  [](platform::Event& e, uint32_t ms) { return e.Wait(ms); }),
              2);
}

TEST_F(Threads, TheUiThreadBorrowsTheMutexOnlyFromAThreadItServes) {
    UiMutex mutex;
    HWND w = MakeWindow();
    bool tookInside = false, heldInside = false;
    log.handler = [&](HWND, UINT msg, WPARAM, LPARAM, bool&) -> INT_PTR {
        if (msg == WM_USER) {
            tookInside = mutex.lockFor(0);
            heldInside = mutex.ownedByCaller();
            if (tookInside) mutex.unlock();
        }
        return 0;
    };
    platform::Event holding(true), release(true);
    sqtest::Worker worker([&] {
        mutex.lock();
        holding.Set();
        SendMessageA(w, WM_USER, 0, 0);
        release.Wait(10000);
        mutex.unlock();
    });
    ASSERT_TRUE(holding.Wait(10000));
    ASSERT_TRUE(drv.PumpUntil([&] { return tookInside; }, 10000));
    EXPECT_TRUE(heldInside);
    EXPECT_FALSE(mutex.ownedByCaller()) << "the loan ends with the call";
    EXPECT_FALSE(mutex.lockFor(50)) << "outside a served call the holder keeps it";
    release.Set();
    EXPECT_TRUE(mutex.lockFor(10000));
    mutex.unlock();
    JoinServing(worker);
    DestroyWindow(w);
}

// A worker holding the UI mutex shows a modal prompt; a click handler inside it takes the mutex.
TEST_F(Threads, PromptFromAWorkerHoldingTheMutex) {
    UiMutex mutex;
    resources->Add(Dlg(293, WS_POPUP | WS_CAPTION, {Ctl(IDOK, kButtonClass, BS_DEFPUSHBUTTON | WS_TABSTOP)}));
    log.handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM, bool& handled) -> INT_PTR {
        if (msg == WM_COMMAND && LOWORD(wp) == IDOK) {
            std::lock_guard lk(mutex);
            EndDialog(h, 3);
            handled = true;
            return TRUE;
        }
        return 0;
    };
    drv.OnModal(293, [](gui::testing::Driver& d, HWND h) { d.Click(d.Find(h, IDOK)); });
    std::atomic<INT_PTR> answer{-9};
    sqtest::Worker worker([&] {
        std::lock_guard lk(mutex);
        answer = DialogBoxParamA(nullptr, MAKEINTRESOURCEA(293), nullptr, sqtest::RecordingDlgProc, 0);
    });
    JoinServing(worker);
    EXPECT_EQ(answer.load(), 3);
    EXPECT_TRUE(drv.TopLevels().empty());
}

// While a worker holding the UI mutex shows a prompt, only the prompt's own windows may borrow
// the mutex: a click on the main window or the main window's timer runs inside the prompt's loop
// too, but it is not part of the worker's call.
TEST_F(Threads, OnlyThePromptsWindowsBorrowTheMutex) {
    UiMutex mutex;
    HWND main = MakeWindow();
    HWND mainButton = CreateWindowExA(0, kButtonClass, "go", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, main,
                                      reinterpret_cast<HMENU>(50), nullptr, nullptr);
    SetTimer(main, 1, 250, nullptr);
    resources->Add(Dlg(293, WS_POPUP | WS_CAPTION, {Ctl(IDOK, kButtonClass, BS_DEFPUSHBUTTON | WS_TABSTOP)}));
    struct Try {
        const char* where;
        bool took;
    };
    std::vector<Try> tries;
    auto attempt = [&](const char* where) {
        const bool took = mutex.lockFor(0);
        if (took) mutex.unlock();
        tries.push_back({where, took});
    };
    log.handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM, bool& handled) -> INT_PTR {
        if (h == main && msg == WM_COMMAND && LOWORD(wp) == 50) attempt("main window click");
        if (h == main && msg == WM_TIMER) attempt("main window timer");
        if (h != main && msg == WM_COMMAND && LOWORD(wp) == IDOK) {
            attempt("prompt click");
            EndDialog(h, 3);
            handled = true;
            return TRUE;
        }
        return 0;
    };
    drv.OnModal(293, [&](gui::testing::Driver& d, HWND h) {
        d.Click(mainButton);
        d.Advance(250);
        d.Click(d.Find(h, IDOK));
    });
    sqtest::Worker worker([&] {
        std::lock_guard lk(mutex);
        DialogBoxParamA(nullptr, MAKEINTRESOURCEA(293), nullptr, sqtest::RecordingDlgProc, 0);
    });
    JoinServing(worker);
    ASSERT_EQ(tries.size(), 3u);
    EXPECT_STREQ(tries[0].where, "main window click");
    EXPECT_FALSE(tries[0].took);
    EXPECT_STREQ(tries[1].where, "main window timer");
    EXPECT_FALSE(tries[1].took);
    EXPECT_STREQ(tries[2].where, "prompt click");
    EXPECT_TRUE(tries[2].took);
    DestroyWindow(main);
}

// Plug-in panels arrive as XML text on any thread; a registered class is known there too.
TEST_F(Threads, TemplatesWithARegisteredClassParseOnAWorker) {
    WNDCLASSA wc;
    wc.lpfnWndProc = sqtest::RecordingWndProc;
    wc.lpszClassName = "PanelArea";
    ASSERT_NE(RegisterClassA(&wc), 0);
    const std::string xml = R"(<dialog id="9" w="10" h="10"><control id="1" class="PanelArea" w="5" h="5"/></dialog>)";
    std::string uiError, workerError;
    DialogTemplate t;
    EXPECT_TRUE(ParseDialogXml(xml, t, uiError)) << uiError;
    bool onWorker = false;
    sqtest::Worker worker([&] {
        DialogTemplate w;
        onWorker = ParseDialogXml(xml, w, workerError);
    });
    JoinServing(worker);
    EXPECT_TRUE(onWorker) << workerError;
}

TEST_F(Threads, ShutdownAnswersWaitingSenders) {
    HWND w = MakeWindow();
    std::atomic<bool> sending{false};
    LRESULT got = -1;
    std::thread worker([&] {
        sending = true;
        got = SendMessageA(w, WM_GETTEXTLENGTH, 0, 0);  // never served: the UI thread does not pump
    });
    while (!sending) std::this_thread::yield();
    gui::Shutdown();
    worker.join();
    EXPECT_EQ(got, 0);
    EXPECT_EQ(SendMessageA(w, WM_GETTEXTLENGTH, 0, 0), 0) << "calls after shutdown answer 0";
    EXPECT_FALSE(PostMessageA(w, WM_USER, 0, 0));
}

}  // namespace

namespace {

using namespace gui;

// With a wait that does not pump, the holder's send is stuck; the watchdog says where the UI is.
class Watchdog : public sqtest::GuiTest {};

TEST_F(Watchdog, ReportsASendStuckBehindAWaitThatDoesNotPump) {
    collectFailures = true;
    std::atomic<bool> reported{false};
    SetSendWatchdog(100, [this, &reported](const std::string& what) {
        drv.Fail(what);
        reported = true;
    });
    HWND w = MakeWindow();
    sqtest::Worker worker([&] { SendMessageA(w, WM_USER, 0, 0); });
    // Code that blocks without a platform wait (here a sleeping loop) does not serve sends.
    EXPECT_TRUE(sqtest::WaitUntil([&] { return reported.load(); }));
    JoinServing(worker);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("the UI thread is running code that does not serve sends"), std::string::npos)
        << failures[0];
    DestroyWindow(w);
}

}  // namespace

namespace {

using namespace gui;

class Lifetimes : public sqtest::GuiTest {};

// Other threads look windows up while the UI thread destroys them: a handle is either live or
// dead to them, never half-destroyed, and posts to dead windows are refused or dropped.
TEST_F(Lifetimes, OtherThreadsSeeWindowsDieCleanly) {
    std::atomic<HWND> current{nullptr};
    std::atomic<bool> stop{false};
    std::atomic<int> looked{0};
    std::thread worker([&] {
        while (!stop) {
            HWND h = current.load();
            if (IsWindow(h)) PostMessageA(h, WM_USER + 7, 0, 0);
            ++looked;
        }
    });
    for (int i = 0; i < 300; ++i) {
        HWND w = MakeWindow();
        current = w;
        const int seen = looked.load();
        while (looked.load() < seen + 2) std::this_thread::yield();
        DestroyWindow(w);
    }
    stop = true;
    worker.join();
    log.Clear();
    drv.Pump();
    EXPECT_TRUE(log.all.empty()) << "posts to dead windows are dropped";
}

}  // namespace
