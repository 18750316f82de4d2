// Opens an address or a file with the desktop's default program (xdg-open, started through argv,
// never a shell). Only http and https addresses and existing files are opened.
#pragma once

#include <functional>
#include <string>

namespace platform {

// True when the opener was started.
bool ShellOpen(const std::string& target);

// Replaces the opener (tests); null restores xdg-open.
void SetShellOpenHandler(std::function<bool(const std::string& target)> handler);

}  // namespace platform
