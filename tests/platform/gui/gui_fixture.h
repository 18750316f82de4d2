// A headless layer per test: the driver on the test thread, templates given in code, and window
// procedures that record what they receive.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/gui/driver.h"
#include "platform/gui/gui.h"
#include "platform/gui/resources.h"

namespace sqtest {

struct Received {
    gui::HWND hwnd;
    gui::UINT msg;
    gui::WPARAM wParam;
    gui::LPARAM lParam;
    gui::UINT code = 0;  // WM_NOTIFY: the record's code, copied while it was live
    int item = 0;        // WM_NOTIFY from a list view: the row (NMITEMACTIVATE::iItem), or the column of a header click
};

inline Received Record(gui::HWND h, gui::UINT msg, gui::WPARAM wp, gui::LPARAM lp) {
    Received r{h, msg, wp, lp};
    if (msg == gui::WM_NOTIFY && lp) {
        auto* hdr = reinterpret_cast<const gui::NMHDR*>(lp);
        r.code = hdr->code;
        char cls[32] = "";
        gui::GetClassNameA(hdr->hwndFrom, cls, sizeof cls);
        const bool rowRecord = std::string(cls) == gui::kListViewClass && hdr->code != gui::LVN_KEYDOWN;
        if (rowRecord) r.item = reinterpret_cast<const gui::NMITEMACTIVATE*>(lp)->iItem;
        if (rowRecord && hdr->code == gui::LVN_COLUMNCLICK) r.item = reinterpret_cast<const gui::NMLISTVIEW*>(lp)->iSubItem;
    }
    return r;
}

// What the recording procedures saw, and an optional handler that answers instead of the default.
struct MessageLog {
    std::vector<Received> all;
    std::function<gui::INT_PTR(gui::HWND, gui::UINT, gui::WPARAM, gui::LPARAM, bool& handled)> handler;

    // (control id, notification code) of every WM_COMMAND, in order.
    std::vector<std::pair<int, int>> Commands() const {
        std::vector<std::pair<int, int>> out;
        for (const auto& r : all)
            if (r.msg == gui::WM_COMMAND) out.emplace_back(gui::LOWORD(r.wParam), gui::HIWORD(r.wParam));
        return out;
    }
    // (control id, code) of every WM_NOTIFY, in order. The record is read while it is live, so
    // procedures copy what they need; here only its header is kept.
    std::vector<std::pair<int, int>> Notifies() const {
        std::vector<std::pair<int, int>> out;
        for (const auto& r : all)
            if (r.msg == gui::WM_NOTIFY) out.emplace_back(static_cast<int>(r.wParam), static_cast<int>(r.code));
        return out;
    }
    // (message, low word of wParam) of every scroll message.
    std::vector<std::pair<gui::UINT, int>> Scrolls() const {
        std::vector<std::pair<gui::UINT, int>> out;
        for (const auto& r : all)
            if (r.msg == gui::WM_HSCROLL || r.msg == gui::WM_VSCROLL) out.emplace_back(r.msg, gui::LOWORD(r.wParam));
        return out;
    }
    std::vector<gui::UINT> Messages(gui::HWND h) const {
        std::vector<gui::UINT> out;
        for (const auto& r : all)
            if (r.hwnd == h) out.push_back(r.msg);
        return out;
    }
    void Clear() { all.clear(); }
};

inline MessageLog* g_log = nullptr;

inline gui::INT_PTR RecordingDlgProc(gui::HWND h, gui::UINT msg, gui::WPARAM wp, gui::LPARAM lp) {
    if (!g_log) return 0;
    g_log->all.push_back(Record(h, msg, wp, lp));
    if (g_log->handler) {
        bool handled = false;
        gui::INT_PTR r = g_log->handler(h, msg, wp, lp, handled);
        if (handled) return r;
    }
    return msg == gui::WM_INITDIALOG ? 1 : 0;
}

inline gui::LRESULT RecordingWndProc(gui::HWND h, gui::UINT msg, gui::WPARAM wp, gui::LPARAM lp) {
    if (g_log) {
        g_log->all.push_back(Record(h, msg, wp, lp));
        if (g_log->handler) {
            bool handled = false;
            gui::INT_PTR r = g_log->handler(h, msg, wp, lp, handled);
            if (handled) return r;
        }
    }
    return gui::DefWindowProcA(h, msg, wp, lp);
}

inline gui::ControlTemplate Ctl(int id, const char* cls, gui::DWORD style = 0, const char* caption = "") {
    gui::ControlTemplate c;
    c.id = id;
    c.className = cls;
    c.style = style;
    c.caption = caption;
    c.w = 50;
    c.h = 14;
    return c;
}

inline gui::DialogTemplate Dlg(int id, gui::DWORD style, std::vector<gui::ControlTemplate> controls) {
    gui::DialogTemplate t;
    t.id = id;
    t.style = style;
    t.w = 200;
    t.h = 100;
    t.controls = std::move(controls);
    return t;
}

// A thread of the test that calls into the layer; it knows when its work is done.
class Worker {
public:
    explicit Worker(std::function<void()> fn) : thread_([this, fn = std::move(fn)] {
        fn();
        done_ = true;
    }) {}
    ~Worker() {
        if (thread_.joinable()) thread_.join();
    }
    bool Done() const { return done_.load(); }
    void Join() { thread_.join(); }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class GuiTest : public ::testing::Test {
protected:
    GuiTest() { g_log = &log; }
    ~GuiTest() override { g_log = nullptr; }

    // Failures the driver reports are test failures, unless a test collects them to inspect.
    bool collectFailures = false;
    std::vector<std::string> failures;
    MessageLog log;
    std::shared_ptr<gui::LiteralResources> resources = std::make_shared<gui::LiteralResources>();
    gui::testing::Driver drv{[this](const std::string& what) {
                                 failures.push_back(what);
                                 if (!collectFailures) ADD_FAILURE() << what;
                             },
                             Options()};

    gui::testing::Driver::Options Options() {
        gui::testing::Driver::Options o;
        o.resources = resources;
        return o;
    }

    // A plain top-level window with the recording procedure.
    gui::HWND MakeWindow(gui::DWORD style = gui::WS_OVERLAPPEDWINDOW | gui::WS_VISIBLE, gui::HWND parent = nullptr,
                         int id = 0) {
        static bool registered = false;
        gui::WNDCLASSA wc;
        wc.lpfnWndProc = RecordingWndProc;
        wc.lpszClassName = "RecordingWindow";
        if (!registered || !gui::GetClassInfoA(nullptr, "RecordingWindow", nullptr)) registered = gui::RegisterClassA(&wc) != 0;
        return gui::CreateWindowExA(0, "RecordingWindow", "w", style, 10, 10, 300, 200, parent,
                                    reinterpret_cast<gui::HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
    }

    // Serves the worker's calls until it is done. One still running after ms of real time fails
    // the test, and the layer is shut down, which answers every call it waits for: a fault ends the
    // test instead of hanging it.
    void JoinServing(Worker& worker, uint32_t ms = 10000) {
        if (!drv.PumpUntil([&] { return worker.Done(); }, ms)) {
            ADD_FAILURE() << "a worker thread did not finish";
            gui::Shutdown();
        }
        worker.Join();
    }

    gui::HWND OpenDialog(gui::DialogTemplate t, gui::HWND parent = nullptr) {
        int id = t.id;
        resources->Add(std::move(t));
        return gui::CreateDialogParamA(nullptr, gui::MAKEINTRESOURCEA(id), parent, RecordingDlgProc, 0);
    }
};

}  // namespace sqtest
