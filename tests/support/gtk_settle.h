// For tests on the GTK back-end: runs the display and the program's own message queue (as its loop
// serves them; keys pass through it) until a condition holds, bounded.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "platform/gui/gtk/gtk_backend.h"
#include "platform/gui/gui.h"

namespace sqtest {

// Whether done() came to hold within the limit.
inline bool SettleUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        gui::gtk::Settle();
        gui::MSG msg;
        while (gui::PeekMessageA(&msg, nullptr, 0, 0, gui::PM_REMOVE)) {
            gui::TranslateMessage(&msg);
            gui::DispatchMessageA(&msg);
        }
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace sqtest
