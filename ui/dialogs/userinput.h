// The video window the preview player draws into (dragged about while floating), and the
// playback-and-input dialog: a queue item plays looped in an embedded video window while the user
// types the text the item's command line asks for.
#pragma once

#include <string>

#include "ui/framework/dialog.h"
#include "ui/ids.h"

struct QueueItem;

namespace ui {

inline constexpr const char* kVideoWindowClass = "MPlayerVideoWindow";

class CVideoWindow : public CWindow {
public:
    // A child window of parent (visible), or a visible top-level window without one; topmost.
    HWND Create(HWND parent);
    bool OnMouseMove(int x, int y, WPARAM keys) override;
    bool OnClose() override;

    bool floating = false;  // the window may be dragged

private:
    HWND parent_ = nullptr;
    gui::POINT dragOrigin_{0, 0};  // screen point of the last drag step; 0,0: no drag under way
};

class CDlgUserInput : public CDialogWindow {
public:
    explicit CDlgUserInput(QueueItem* item) : item_(item) {}
    bool OnInitDialog() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnClose() override;

    CVideoWindow& Video() { return video_; }
    std::string text;  // what the user entered, read after the dialog ended

private:
    QueueItem* item_;
    CVideoWindow video_;
};

// Plays the item in the dialog over parent and stores the entered text as the item's user input
// (none when empty). The text entered.
std::string AskUserInput(HWND parent, QueueItem* item);

}  // namespace ui
