#include "ui/dialogs/userinput.h"

#include <chrono>
#include <thread>

#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "engine/tools/preview.h"
#include "platform/gui/desktop.h"
#include "ui/ids.h"
#include "ui/main/window_services.h"

namespace ui {

namespace {

constexpr int kSeekAbsolute = 2;

}  // namespace

HWND CVideoWindow::Create(HWND parent) {
    gui::WNDCLASSA wc{};
    wc.style = gui::CS_HREDRAW | gui::CS_VREDRAW | gui::CS_DBLCLKS;
    // The class keeps its brush for the rest of the run: made once, with the first registration.
    if (!gui::GetClassInfoA(nullptr, kVideoWindowClass, nullptr)) wc.hbrBackground = gui::CreateSolidBrush(16);
    wc.lpszClassName = kVideoWindowClass;
    dragOrigin_ = {0, 0};
    parent_ = parent;
    const gui::DWORD style = parent ? (gui::WS_CHILD | gui::WS_VISIBLE) : (gui::WS_OVERLAPPEDWINDOW | gui::WS_VISIBLE);
    return CreateWithClass(style, gui::WS_EX_TOPMOST, parent, &wc);
}

bool CVideoWindow::OnMouseMove(int x, int y, WPARAM keys) {
    if (!floating) {
        gui::SetCursor(gui::LoadCursorA(nullptr, gui::IDC_ARROW));
        return false;
    }
    if (keys != gui::MK_LBUTTON) {
        gui::SetCursor(gui::LoadCursorA(nullptr, gui::IDC_HAND));
        dragOrigin_ = {0, 0};
        return false;
    }
    gui::POINT at{x, y};
    gui::ClientToScreen(hwnd_, &at);
    if (dragOrigin_.x == 0 && dragOrigin_.y == 0) {
        dragOrigin_ = at;
        gui::SetCursor(gui::LoadCursorA(nullptr, gui::IDC_SIZEALL));
        return false;
    }
    gui::RECT r{};
    gui::GetWindowRect(hwnd_, &r);
    gui::POINT topLeft{r.left + at.x - dragOrigin_.x, r.top + at.y - dragOrigin_.y};
    if (parent_) gui::ScreenToClient(parent_, &topLeft);
    gui::MoveWindow(hwnd_, topLeft.x, topLeft.y, r.right - r.left, r.bottom - r.top, 1);
    dragOrigin_ = at;
    return false;
}

bool CVideoWindow::OnClose() {
    if (parent_) gui::UpdateWindow(parent_);
    return true;
}

bool CDlgUserInput::OnInitDialog() {
    video_.Create(hwnd_);
    if (item_) PlayItem(item_, video_.Handle(), 0, "-loop 0", nullptr);
    gui::MoveWindow(hwnd_, 0, 0, 648, 532, 1);
    gui::MoveWindow(video_.Handle(), 0, 30, 640, 480, 1);
    gui::SetFocus(GetItem(dlg::userinput::text));
    return true;
}

bool CDlgUserInput::OnCommand(int id, int, HWND) {
    switch (id) {
    case gui::IDCANCEL: SetItemText(dlg::userinput::text, "0"); break;
    case dlg::userinput::restart:
        PlayerCommand("play", nullptr);
        PlayerSeek(0, kSeekAbsolute);
        break;
    case dlg::userinput::pause: PlayerPause(); break;
    case dlg::userinput::stop_all:
    case gui::IDOK:
        if (id == dlg::userinput::stop_all) {
            for (int i = 0; QueueItem* item = QueueGetItem(i); ++i) {
                if (item->state.load() == kItemEncoding) SetItemState(item, kItemStopping);
            }
        }
        text = GetItemText(dlg::userinput::text);
        PlayerStop();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        gui::PostMessageA(hwnd_, gui::WM_CLOSE, 0, 0);
        break;
    default: return false;
    }
    gui::SetFocus(GetItem(dlg::userinput::text));
    return true;
}

bool CDlgUserInput::OnClose() {
    PlayerStop();
    return true;
}

std::string AskUserInput(HWND parent, QueueItem* item) {
    CDlgUserInput dialog(item);
    dialog.DoModal(MainInstance(), dlg::userinput::id, parent);
    if (item) SetStringField(&item->userInput, dialog.text.empty() ? nullptr : dialog.text.c_str());
    return dialog.text;
}

}  // namespace ui
