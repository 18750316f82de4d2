#include "ui/main/remote_methods.h"

#include "engine/queue/queue.h"
#include "engine/tools/preview.h"
#include "remote/handlers/xmlrpc_methods.h"
#include "ui/filelist/file_list.h"
#include "ui/main/batch.h"
#include "ui/main/main_window.h"
#include "ui/main/shell.h"
#include "ui/main/window_services.h"

namespace ui {

namespace {

// Runs fn on the UI thread with the file list (the methods run on the control server's thread).
template <typename Fn>
int OnListThread(Fn fn) {
    int answer = -1;
    WithMainWindow([&](CDlgMain&) { answer = fn(FileList()); });
    return answer;
}

RpcUiHooks MakeHooks() {
    RpcUiHooks hooks;
    hooks.mainWindowExists = [] { return Shell().mainHwnd.load() != nullptr; };
    hooks.sendCommand = [](const char* command) {
        gui::HWND main = Shell().mainHwnd.load();
        if (!main) return -1;
        gui::SendMessageA(main, gui::WM_APP, 0, reinterpret_cast<gui::LPARAM>(command));
        return 0;
    };
    hooks.showMain = [](bool show) {
        WithMainWindow([show](CDlgMain& w) {
            if (!show) {
                w.Minimize();
                return;
            }
            gui::ShowWindow(w.Handle(), gui::SW_RESTORE);
            w.Show();
            PluginHostShow();
            w.SetForeground();
        });
    };
    hooks.settingsChanged = [](int level) {
        SettingsChangedLevel = level;
        ApplyCountdown = 0;
    };
    hooks.selectedRow = [] { return OnListThread([](CFileList& list) { return list.FirstSelected(); }); };
    hooks.refreshList = [] { FileList().RefreshRows(); };
    hooks.revertPrefs = [] { AutoRevertPrefs(); };
    hooks.focusedRow = [] { return OnListThread([](CFileList& list) { return list.GetFocusedItem(); }); };
    hooks.playItem = [](int index) {
        QueueItem* item = QueueGetItem(index);
        if (!item) return -1;
        return PlayItem(item, nullptr, 0, "", nullptr);
    };
    hooks.playerStop = [] { PlayerStop(); };
    hooks.playerPause = [] { PlayerPause(); };
    hooks.playerSeek = [](double position) { return PlayerSeek(static_cast<float>(position), 0); };
    return hooks;
}

}  // namespace

void InstallUiMethods() { ::RegisterUiMethods(MakeHooks()); }

void RemoveUiMethods() { ::UnregisterUiMethods(); }

}  // namespace ui
