#include "ui/news/update_notice.h"

#include "engine/engine_api.h"
#include "ui/framework/window.h"
#include "ui/news/newsfeed.h"

namespace ui {

bool AskAboutUpdate(gui::HWND owner, int httpPort) {
    if (!IsUpdatePending()) return false;
    // Notices silenced up to this build stay silent: the page is not opened behind the user's
    // back either; the menu's update entry still opens it.
    if (GetPrefInt("overall.ui.noWelcome") >= AnnouncedBuild()) return false;
    const int answer = gui::MessageBoxA(owner, UiStrings().GetString("update_prompt", 0, "update_prompt"), "Confirm",
                                        gui::MB_YESNO | gui::MB_ICONQUESTION);
    return answer == gui::IDYES && OpenUpdatePage(httpPort);
}

}  // namespace ui
