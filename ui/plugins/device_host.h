// The host of device and user-interface plug-ins: one process-wide dialog that loads a plug-in
// library from the program's "plugins" folder, embeds the plug-in's panel beside preset combos
// read from the plug-in's XML description, gives the plug-in a table of host callbacks and
// forwards the batch's life cycle to it as events.
//
// The program calls, once its main window exists: LoadUiPlugin (the plug-in of
// "overall.ui.lastLoadedPlugin", when it is set); from its engine-event handler, on the thread that
// reports the event: the batch's life cycle; before the main window goes: UnloadUiPlugin; at
// shut-down: ShutdownPluginHost.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/xml.h"
#include "platform/dynlib/dynlib.h"
#include "platform/sync.h"
#include "ui/framework/dialog.h"
#include "ui/ids.h"
#include "ui/plugins/plugin_abi.h"

struct QueueItem;

namespace ui {

inline constexpr int kPresetCatalogs = 5;

class CDeviceDialog : public CDialogWindow {
public:
    CDeviceDialog();
    ~CDeviceDialog() override;

    // Loads name (a bare library file name in "<program folder>/plugins/") with the host as a
    // child of parent. 1 loaded, 0 failed.
    int LoadPlugin(const char* name, HWND parent);
    // Tells the plug-in it is being unloaded and saves the combos' choices; false when it refuses
    // (force: the refusal is not heeded).
    bool Unload(bool force = false);
    // Sends an event to the loaded plug-in; its answer, or 0 without one. Any thread; an unload
    // waits for a running event.
    int SendEvent(int code, intptr_t data);

    // Applies the description's common preset and each combo's chosen preset to the preferences.
    void ApplyPresets();
    // Selects an entry of a catalog's combo (catalog from 0) and applies the presets; nothing
    // outside the catalogs shown or the catalog's entries.
    void SelectPreset(int catalog, int index);
    // Lets the plug-in refresh the summary (event 12), else refills the summary tree.
    void RefreshSummary();
    // Opens the settings page of a key prefix ("" the whole settings).
    void OpenSettings(const char* keyPrefix);
    // Destroys the host window (the plug-in's panel goes with it), stopping what plays in it.
    void DestroyHost();
    // Deletes the host's own picture (at exit).
    void ReleasePictures();

    // The host dialog is made as a child of the main window (template 311) instead of a window of
    // its own (233). The main window chooses before the first load.
    void SetEmbedded(bool embedded) { embedded_ = embedded; }
    // Where the settings pages open (the program's browser window); the address built for the key
    // prefix is passed. Without one, nothing opens.
    void SetSettingsOpener(std::function<void(const std::string& url)> opener) { openSettings_ = std::move(opener); }
    // Where the time and audio tabs (the time_tab and audio_tab buttons) and the automation tab (the
    // menu's command) open: the option tabs show the one asked for in their pop-up, owned by the host
    // window. Without one, nothing opens.
    void SetTabOpener(std::function<void(int command, HWND owner)> opener) { openTab_ = std::move(opener); }

    // Plays the current item: in the plug-in's sizing window when it has one and
    // "overall.ui.pluginWindowPlayback" is set, else as the main window plays it. While it plays,
    // stops it.
    void PlayOrStop();
    // Shows the device's own picture (no file) in the sizing window.
    void DevicePreview();
    // Starts the batch when no job is converting, else (unless the plug-in objects) stops the
    // running job.
    void StartOrStop();
    // 0 idle, 1 playing, 2 device preview.
    int PlaybackState() const { return playState_; }
    bool Transcoding() const { return transcoding_; }
    HWND VideoWindow() const { return videoWindow_; }

    const std::string& PluginName() const { return name_; }
    PluginHeader* Header() const { return header_; }
    uint32_t HostFlags() const { return hostFlags_; }
    const std::string& Link() const { return link_; }
    const std::string& Url() const { return url_; }
    int CatalogCount() const { return catalogCount_; }
    int SummaryWidth() const { return summaryWidth_; }
    int SummaryHeight() const { return summaryHeight_; }
    gui::HMENU PopupMenu() const { return menu_; }
    // The address the last settings request asked for.
    const std::string& SettingsUrl() const { return settingsUrl_; }
    static int CatalogCombo(int catalog);

    bool OnControlCommand(int id) override;
    bool OnControlSelChange(int id) override;
    bool OnClose() override;
    bool OnTimer(gui::UINT_PTR id) override;
    bool OnControlScroll(int id, int code) override;

private:
    void ReadDescription(const std::string& libraryPath, const platform::DynLib& library, const PluginHeader& header);
    void ReadProperties();
    void BuildMenu();
    void FillCatalogs();
    void Layout();
    void ToggleMenuCheck(int id);
    void FillSummary();
    void ForgetPlugin();
    // The header's picture from the library's "BITMAP" resource of the header's id, or none.
    void LoadPicture(const platform::DynLib& library, PluginHeader& header);
    void Dock();
    // Starts the player into a new video window of the sizing window; false when it did not start.
    bool PlayInPanel(QueueItem* item, uint32_t flags, const std::string& options, int state);
    void StopPlayback(bool askPlugin);

    std::string name_;
    PluginHeader* header_ = nullptr;
    std::string displayName_;  // the description's "name", owned here while the plug-in is loaded
    const char* pluginName_ = nullptr;  // the header's own name, given back at unload
    uint32_t hostFlags_ = 0;
    std::unique_ptr<CXML> doc_;
    std::string xmlText_;      // the description file's text, or a copy of the library's resource
    std::string link_, url_;
    int summaryWidth_ = 0, summaryHeight_ = 0;
    int catalogCount_ = 0;
    int catalogNode_[kPresetCatalogs] = {};  // the description's catalog number behind each combo
    gui::HMENU menu_ = nullptr;
    std::vector<std::string> menuKeys_;      // the "key" of each plug-in menu entry
    bool embedded_ = false;
    std::function<void(const std::string&)> openSettings_;
    std::string settingsUrl_;
    std::function<void(int, HWND)> openTab_;
    HWND parent_ = nullptr;
    HWND videoWindow_ = nullptr;
    gui::HBITMAP defaultBitmap_ = nullptr;
    int playState_ = 0;
    bool transcoding_ = false;
    bool seekDrag_ = false;
    // Held while an event runs and while the plug-in is unloaded: events 3, 5, 6 and 7 come from
    // engine threads. A UI thread waiting here still serves calls sent to it.
    platform::RecursiveMutex eventLock_;
};

// The process's host.
CDeviceDialog& DeviceHost();
// The main window's start of the user-interface plug-in: the name of "overall.ui.lastLoadedPlugin"
// (read once per program run) is loaded, in a window of its own when "overall.ui.pluginWindow" is
// set, else inside the main window. A plug-in that does not load is reported in a message box and
// its name forgotten for the run. 1 loaded, 0 not.
int LoadUiPlugin(HWND mainWindow);
// Shows the host window when a plug-in is loaded.
void ShowPluginHost();
// Unloads the plug-in (even when it refuses: its window is about to go) and closes the host window.
void UnloadUiPlugin();
// UnloadUiPlugin, and the name is read again at the next start.
void ShutdownPluginHost();
// Passes the batch's life cycle on to the plug-in: batch starting (3), job started (5) and ended
// (6) with the event's data, batch ended (7). Other engine events are not the plug-in's.
void ForwardEngineEventToPlugin(int engineCode, intptr_t data);

// True for a name the host loads: a bare file name with the library extension, no folder part.
bool IsPluginFileName(const std::string& name);
// The description file of a library path: the file-name part's extension replaced by "xml" (or
// ".xml" added when it has none).
std::string DescriptionPath(const std::string& libraryPath);

}  // namespace ui
