// The application shell: the command line, start-up, the window cycle with its message loop, and
// shut-down in a fixed order. Process-wide state that the main window, the event handler and the
// batch starter share lives here.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <thread>

#include "engine/context.h"
#include "platform/gui/gui.h"
#include "platform/sync.h"
#include "ui/ids.h"

namespace ui {

class CDlgMain;

inline constexpr int kBuildNumber = 1000;

struct CommandLineOptions {
    bool start = false;
    bool exit = false;
    bool verbose = false;  // without a display: the log and the tools' output on standard error too
    int assume = 0;  // 1 yes, 2 no, 3 cancel, 4 default
    std::string ext, plugin;
    bool extSet = false, pluginSet = false;
    std::string coreFile = "qxcore.xml";
    char defaultsFile[128] = "defaults.xml";
    std::string dropbox;
};

struct ShellState {
    CommandLineOptions options;
    EngineContext context{};
    std::string caption;
    std::string aboutText;
    std::string webLanguage;  // "" or "/zh"
    std::string editionText;
    int codePage = 65001;
    CDlgMain* mainWindow = nullptr;
    std::atomic<gui::HWND> mainHwnd{nullptr};
    gui::UiMutex* uiMutex = nullptr;
    std::atomic<bool> rebuild{false};
    std::atomic<bool> newsStarted{false};
    std::atomic<bool> httpRunning{false};
    std::atomic<int> autoStartDelay{0};
    std::atomic<int> afterBatchAction{0};  // 0 none, 1 power off, 2 hibernate, 3 standby, 4 reboot, 5 log off
    std::atomic<bool> exitFlag{false};
    std::atomic<int> uiModeAtStart{0};
    // The drop-box description: a file or an address chosen from the drop-box menu (UI thread).
    std::string dropBoxDescription;
    // Without a display: log lines and the status text also go to standard error.
    std::atomic<bool> echoToStderr{false};
    gui::HACCEL accelerators = nullptr;
    void* resourceLibrary = nullptr;
    std::string initData;  // the core definition file, whole
    std::string startFolder;  // the working folder the program was started in, with '/'
    std::thread startupThread;
    platform::Event startupStop{true, false};
    std::atomic<bool> startupDone{false};
};

ShellState& Shell();

// The exit code of a run whose settings or queue could not be saved.
inline constexpr int kExitNotSaved = 254;

// While it lives, SIGTERM, SIGINT and SIGHUP close the program as its main window's close does:
// the workers stop, settings and queue are saved, the exit code is 128 + the signal's number.
class CloseSignalWatch {
public:
    CloseSignalWatch();
    ~CloseSignalWatch();
    CloseSignalWatch(const CloseSignalWatch&) = delete;
    CloseSignalWatch& operator=(const CloseSignalWatch&) = delete;
};
// Back to the state before a start (options, flags, data folder, log and counters).
void ResetShellState();

// Reads the command line in two passes: pass 0 applies options only (and lists the files named,
// as full paths, into *files when given); pass 1 also loads presets and adds files. The number of
// files added (pass 1).
unsigned ParseCommandLine(const char* text, int pass, std::vector<std::string>* files = nullptr);

// The full path of a per-user file in the data folder.
std::string GetDataPath(const char* name);
// Forgets the data folder worked out before (a new start).
void ResetDataPath();

// Reads the core definition file whole; false when it cannot be opened.
bool LoadInitData();
// Engine, preference files, codecs description, string tables, resource library, caption.
// 0, or -1 after a message box.
int InitProgram();
// The whole program's life: start-up, window cycle, shut-down. The process exit code.
int WinMain(const char* commandLine);
// Its stages: start-up up to the shown main window (0; -1 when start-up failed, 1 when the main
// window could not be made), one window's message loop (the exit code it ended with), a window
// cycle's end and start, and the shut-down (the exit code to return).
int StartProgram(const char* commandLine);
int RunMessageLoop();
void CloseMainWindow();
bool OpenMainWindow(bool firstCycle);
// The end of one pass of the window cycle: the main window is closed and, when a rebuild was
// asked for (a new UI mode), the window of the mode is made. True when a new window is up.
bool NextWindowCycle();
int FinishProgram(int exitCode);

// Runs fn with the main window on the UI thread, where the window is made and destroyed, so a
// worker never reaches a window being torn down; nothing when there is none. Waits for it.
void WithMainWindow(const std::function<void(CDlgMain&)>& fn);

// The window caption with " - " and text, or the caption alone for null.
std::string TitleText(const char* text);

}  // namespace ui
