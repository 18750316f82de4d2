// The main window (template 101): status bar, progress bars, log, title, tray icon, the 250 ms
// timer that applies changed settings and shows the running job, and the commands that start,
// pause and stop the batch.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ui/framework/dialog.h"
#include "ui/ids.h"

struct QueueItem;

namespace ui {

class CNewsView;

// UI modes ("overall.ui.mode").
inline constexpr int kUiSimple = 0;
inline constexpr int kUiNormal = 1;
inline constexpr int kUiExpert = 2;
inline constexpr int kUiDropBox = 3;
// The mode marks of the menu, for modes 0 to 2.
inline constexpr int kUiModeCommands[3] = {cmd::ui_simple, cmd::ui_normal, cmd::ui_expert};
// "overall.ui.mode", with a value outside 0 to 3 read as the normal mode.
int CurrentUiMode();

// After-batch actions 0 to 5 (none, power off, hibernate, standby, reboot, log off).
inline constexpr int kAfterBatchCommands[6] = {cmd::after_batch_nothing, cmd::power_off, cmd::hibernate,
                                               cmd::standby,             cmd::reboot,    cmd::log_off};

// The argument of the "seek" command: "+N" or " N" forward and "-N" back (mode 0, relative), "N"
// to that second (mode 2, absolute). False when it holds no number.
bool ParseSeekArgument(const std::string& arg, float* value, int* mode);

class CDlgMain : public CDialogWindow {
public:
    CDlgMain();
    ~CDlgMain() override;

    // Creates the modeless window for the current UI mode: template 101, or the drop-box window
    // in mode 3; null on failure.
    HWND CreateMainWindow();

    bool OnInitDialog() override;
    ControlBinding* GetBindings() override;
    bool OnTimer(gui::UINT_PTR id) override;
    bool OnClose() override;
    bool OnWindowPosChanged() override;
    bool OnMenuCommand(int id) override;
    bool OnControlCommand(int id) override;
    bool OnControlSelChange(int id) override;
    bool OnSelChange(int id, int code, HWND control) override;
    bool OnEnterMenuLoop() override;
    bool OnAppCommand(WPARAM wParam, LPARAM lParam) override;
    bool OnTrayNotify(WPARAM wParam, LPARAM lParam) override;
    bool OnTaskbarCreated(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool OnNotify(gui::NMHDR* header) override;
    bool OnSize(int width, int height) override;

    // "%s - %s" (caption, text), or the caption alone for null.
    void SetTitleText(const char* text);
    void SetStatusText(int part, const char* text);
    // Part 0 shows the item state's name (states without a name change nothing).
    void ShowItemState(uint32_t state);
    void ShowProgress(QueueItem* item);
    void SetLogText(const std::string& text);
    void SetExpertText(const char* text);
    void ApplySettings(int code);
    // The batch started (item null) or a job started; the batch ended.
    void ShowJobStarted(QueueItem* item);
    void ShowBatchEnded();
    void ShowBalloon(const char* text, const char* title);
    void RestorePlacement();
    void SavePlacementAndQuit();
    // The news pane: one tab per channel of the feed and per extra link (index -1 keeps the
    // selected tab), and the items of the shown tab in the tree.
    void FillNewsTabs(int index);
    void ShowNewsTab(int index);
    // Applies "overall.ui.mode": modes 0 to 2 in place (marks, panes, layout); a change into or out
    // of the drop-box mode sets the shell's rebuild flag and closes the window, and the shell
    // builds the window for the new mode.
    void ApplyUiMode();
    bool IsDropBox() const { return dropBox_; }

    bool Minimised() const { return minimised_; }
    int TrayConfig() const { return traySetting_; }
    int Ticks() const { return ticks_; }

private:
    // The numeric commands (menus, keys, buttons, tray) as a table of named steps (commands.cpp).
    struct Commands;

    void RunAppCommand(const std::string& word, const std::string& arg, WPARAM wParam);
    void StopAll();
    void SaveQueueAs(const std::string& path, bool report);
    // Plays the file list's current item (a player that plays is stopped instead).
    void PlayFocused(const std::string& arg, uint32_t flags);
    bool LoadPresetKeepingPrefs(const std::string& path);
    // Marks, panes and layout of mode 0, 1 or 2.
    void LayOutMode(int mode);
    // Places the controls in a client area of that size (see main_window.cpp).
    void LayOut(int width, int height);
    // The drop-box description from a file or an address; then the drop-box mode.
    void LoadDropBox(bool fromUrl);
    void ShowQueueWindow();
    // The language submenu: automatic choice, then one entry per language of the program (ids
    // cmd::language_auto + n), the current one marked.
    void FillLanguageMenu();
    void MarkLanguage();

    bool minimised_ = false;
    int traySetting_ = 0;
    gui::UINT_PTR timerId_ = 0;
    int ticks_ = 0;
    int autoStartTicks_ = 0;
    int opacity_ = -1;  // the saved opacity, -1 when none was saved
    bool applying_ = false;
    bool splashDone_ = false;  // the splash was closed once this window showed
    QueueItem* lastServed_ = nullptr;
    std::unique_ptr<CNewsView> news_;
    bool dropBox_ = false;        // this is the drop-box window
    bool optionsShown_ = false;   // the options pane shows (the window is its height taller)
    // Places in the template (client pixels) that the layout starts from, taken at creation.
    struct TemplatePlaces {
        bool taken = false;
        gui::RECT list{}, itemLabel{}, itemBar{}, overallLabel{}, overallBar{}, log{}, newsTabs{}, newsTree{}, modeLabel{},
            modeCombo{}, destDir{};
        int paneWidth = 0;
    } places_;
    int uiMode_ = 1;  // the mode laid out
};

}  // namespace ui
