// The option tabs of the main window's settings area and the pages of their nested rows.
#pragma once

#include "ui/options/option_tab.h"

namespace ui {

// Template ids of the tabs, their nested pages and the compact audio tab.
inline constexpr int kAudioTabTemplate = 109;
inline constexpr int kSoundTabTemplate = 310;
inline constexpr int kAudioCfgTemplate = 306;
inline constexpr int kOutputTabTemplate = 242;
inline constexpr int kAutomationTabTemplate = 322;
inline constexpr int kTaggingTabTemplate = 214;
inline constexpr int kTimeTabTemplate = 228;
inline constexpr int kPluginsTabTemplate = 305;
inline constexpr int kSummaryTemplate = 208;

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
