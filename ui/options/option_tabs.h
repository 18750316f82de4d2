// The option tabs of the main window's settings area and the pages of their nested rows.
#pragma once

#include "ui/ids.h"
#include "ui/options/option_tab.h"

namespace ui {

// The summary of the current item and of the target settings (a tree).
COptionPage* CreateSummaryPage();
// The compact audio tab (audio track, gain, normalisation) that a plug-in panel may open.
COptionTab* CreateAudioCfgTab();

// Shows a tab in the floating popup (owned by owner, which is disabled while it shows); the tab
// it showed before is closed and deleted. The popup owns the tab.
void ShowTabInPopup(COptionTab* tab, HWND owner);
// The tab the popup shows, or null.
COptionTab* PopupTab();
void ClosePopup();

}  // namespace ui
