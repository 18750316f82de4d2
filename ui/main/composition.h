// The program's composition: the engine lies below the servers and the windows, so start-up hands
// it what those layers provide instead of the engine reaching up for it.
#pragma once

namespace ui {

// Gives the engine the control server's start and stop (remote/) and the preview player's calls
// on its window (the windowing layer). Start-up calls it before EngineInit; calling it again
// changes nothing.
void ConnectEngine();

}  // namespace ui
