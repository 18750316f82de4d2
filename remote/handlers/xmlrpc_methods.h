// The control server's XML-RPC route: a posted call is parsed, handed to the registered method
// and answered with the XML-RPC response (xmlrpc-epi does the parsing, dispatch and output).
//
// Methods under "qx." work on the engine: queue, preferences, progress, player options. Methods
// under "ui." act on the user interface; the program supplies what they do (RpcUiHooks) once its
// main window exists, and until then a call of one answers the library's "unknown method" fault.
// Every method is registered again on each start of the control server, so a restart keeps them.
#pragma once

#include <cstdint>
#include <functional>

struct UrlRequest;
struct UrlRoute;
struct WebServer;

// The route handler "xmlrpc".
uint32_t HandleXmlRpc(UrlRequest* request);
// The route's init function: 0 creates the method server and registers the methods, 1 destroys it.
int RegisterRpcMethods(int action, UrlRoute* route, WebServer* server);

// What the "ui." methods do in the program. Every member may be left empty: the method then does
// nothing and answers as it would on success. All are called on the control server's thread.
struct RpcUiHooks {
    // Whether the main window exists.
    std::function<bool()> mainWindowExists;
    // A text command for the main window, carried out before the call returns; 0 = done.
    std::function<int(const char* command)> sendCommand;
    // Restores and raises the main window (true) or minimises it (false).
    std::function<void(bool show)> showMain;
    // Raises the settings-changed level so the option pages reload from the preferences.
    std::function<void(int level)> settingsChanged;
    // The first selected row of the file list, or -1; the UI keeps it as its remembered selection.
    std::function<int()> selectedRow;
    // Rebuilds the file list's rows from the queue.
    std::function<void()> refreshList;
    // The user interface's own revert step.
    std::function<void()> revertPrefs;
    // The file list's focused row, or -1.
    std::function<int()> focusedRow;
    // The preview player: play an item (0 = playing), stop, toggle pause, seek (0 = done).
    std::function<int(int index)> playItem;
    std::function<void()> playerStop;
    std::function<void()> playerPause;
    std::function<int(double position)> playerSeek;
};

// Installs the hooks: from then on the 18 "ui." methods answer. Called once by the user interface
// after its main window exists; calling it again replaces the hooks. Safe from any thread.
void RegisterUiMethods(const RpcUiHooks& hooks);
// Forgets the hooks: the "ui." methods answer the unknown-method fault again (the user interface
// is going away). A call already running keeps the hooks it took until it returns.
void UnregisterUiMethods();
