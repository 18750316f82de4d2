// The watch-folder editor: a list of "folder/pattern" entries kept in
// "overall.automation.watchFolders" (the list the folder watcher reads), with a folder field, a
// browse button and a pattern picker offering every audio and video extension the program knows.
#pragma once

#include <string>

#include "ui/framework/dialog.h"
#include "ui/ids.h"

namespace ui {

inline constexpr const char* kWatchFoldersKey = "overall.automation.watchFolders";

class CDlgFolderWatcher : public CDialogWindow {
public:
    bool OnInitDialog() override;
    void RefreshStates() override;
    bool OnControlCommand(int id) override;

private:
    void AddEntry();
    void Save();
};

// Shows the editor modally over parent. The caller restarts the folder watcher afterwards.
void ShowFolderWatcherDialog(HWND parent);

}  // namespace ui
