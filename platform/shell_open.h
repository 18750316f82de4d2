// Opening an address or a document with the desktop's own handler (the user's browser for a web
// address), the way a user double-clicks it: xdg-open is started directly with the target as its
// one argument, never through a shell, and the call does not wait for it.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Starts the handler for the target: an "http://" or "https://" address, or an existing file that
// is not executable. Anything else is refused (false), as is a failed start.
bool ShellOpen(const std::string& target);

// Starts program (empty: "xdg-open") with the single argument, unchecked: for files the user chose.
// The child runs in a session of its own and is reaped when it ends. False when it cannot start.
bool ShellOpenWith(const std::string& program, const std::string& argument);

// Replaces what ShellOpen starts (tests record the targets); an empty function restores xdg-open.
// The hook sees only targets that passed the checks above.
void SetShellOpenHook(std::function<bool(const std::string& target)> hook);

}  // namespace platform
