// The update notice: once the news feed has announced a newer build, the user is asked whether to
// open the update page. Nothing is opened or started without that yes.
#pragma once

#include "platform/gui/gui.h"

namespace ui {

// Asks "update_prompt" in a yes/no box owned by owner when an update is pending and the user has
// not silenced notices up to that build ("overall.ui.noWelcome"); opens the update page (with the
// control server's port) only on yes. True when the page was opened.
bool AskAboutUpdate(gui::HWND owner, int httpPort);

}  // namespace ui
