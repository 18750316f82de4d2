// Hands a file to another program and lets it run on its own: the desktop's opener ("xdg-open")
// or a named program. Arguments go through argv, never through a shell.
#pragma once

#include <string>

namespace platform {

// Starts program (empty: "xdg-open") with the single argument. The child runs in a session of its
// own and is reaped when it ends; nothing waits for it. False when it cannot be started.
bool ShellOpen(const std::string& program, const std::string& argument);

}  // namespace platform
