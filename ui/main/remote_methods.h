// The user interface's part of remote control: what the "ui." XML-RPC methods do in the program.
#pragma once

namespace ui {

// Gives the control server the user interface's methods (main window up).
void InstallUiMethods();
// Takes them away again (the main window is going).
void RemoveUiMethods();

}  // namespace ui
