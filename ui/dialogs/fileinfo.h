// The media information window: the item's source, tags, times and the media-information tool's
// full text. One modeless window for the process.
#pragma once

#include "ui/framework/dialog.h"
#include "ui/ids.h"

struct QueueItem;

namespace ui {

class CDlgFileInfo : public CDialogWindow {
public:
    ~CDlgFileInfo() override;
    bool OnInitDialog() override;
    bool OnControlCommand(int id) override;
    void Fill(QueueItem* item);

private:
    gui::HFONT font_ = nullptr;
};

CDlgFileInfo& FileInfoWindow();

// Shows and fills the window for the item (null does nothing); mainWindow is its parent when the
// window is made.
void ShowFileInfo(QueueItem* item, HWND mainWindow);

}  // namespace ui
