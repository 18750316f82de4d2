#include "ui/main/shell.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "common/fileutil.h"
#include "common/stringtable.h"
#include "common/sysutil.h"
#include "engine/encoders/codecs.h"
#include "engine/engine_api.h"
#include "engine/engine_init.h"
#include "engine/eventlog.h"
#include "engine/jobs/jobdriver.h"
#include "engine/prefs/preffiles.h"
#include "engine/queue/queuefile.h"
#include "engine/tools/media_info.h"
#include "platform/cpuinfo.h"
#include "platform/fs.h"
#include "platform/gui/resources.h"
#include "remote/handlers/servers.h"
#include "res/resdata.h"
#include "ui/framework/dialog.h"
#include "ui/main/batch.h"
#include "ui/main/composition.h"
#include "ui/main/console_report.h"
#include "ui/main/engine_events.h"
#include "ui/main/main_window.h"
#include "ui/filelist/drop_target.h"
#include "ui/filelist/file_list.h"
#include "ui/main/remote_methods.h"
#include "ui/main/window_services.h"
#include "ui/news/newsfeed.h"
#include "ui/news/update_notice.h"
#include "ui/plugins/device_host.h"

namespace ui {

namespace {

std::mutex g_dataPathLock;
std::string g_dataFolder;
bool g_dataFolderKnown = false;

LogSource g_shellLog = MakeLogSource("Shell");

const char kTranscodeCommand[] = "transcode";

void Box(const char* text, const char* caption = nullptr) { gui::MessageBoxA(nullptr, text, caption, gui::MB_OK); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A relative name on the command line means one in the folder the program was started in, not in
// the program folder start-up moves to.
std::string FromStartFolder(const std::string& name) {
    if (name.empty() || name[0] == '/' || IsNetworkPath(name.c_str()) || name.find("://") != std::string::npos)
        return name;
    return Shell().startFolder + name;
}

void ApplyOption(const std::string& name, const std::string& arg, int pass) {
    CommandLineOptions& o = Shell().options;
    if (name == "preset") {
        if (pass == 1) {
            RevertPrefs();
            LoadPreset(FromStartFolder(arg).c_str(), nullptr, true);
        }
    } else if (name == "assume") {
        static const char* const kWords[] = {"yes", "no", "cancel", "default"};
        for (int i = 0; i < 4; ++i)
            if (strcasecmp(arg.c_str(), kWords[i]) == 0) o.assume = i + 1;
    } else if (name == "ext") {
        if (!o.extSet) o.ext = arg, o.extSet = true;
    } else if (name == "plugin") {
        if (!o.pluginSet) o.plugin = arg, o.pluginSet = true;
    } else if (name == "prefs") {
        o.coreFile = arg;
    } else if (name == "defaults") {
        std::snprintf(o.defaultsFile, sizeof o.defaultsFile, "%s", arg.c_str());
    } else if (name == "dropbox") {
        o.dropbox = arg;
    }
}

// The code page the locale's character set stands for: 936 for the Chinese ones, else UTF-8's.
int LocaleCodePage() {
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = std::getenv(var);
        if (!v || !*v) continue;
        const std::string value(v);
        return (value.find("GB") != std::string::npos || value.find("gb") != std::string::npos) ? 936 : 65001;
    }
    return 65001;
}

void StartupThread() {
    ShellState& s = Shell();
    while (!s.mainHwnd.load()) {
        if (s.startupStop.Wait(100)) {
            s.startupDone = true;
            return;
        }
    }
    EngineStart(&s.context);
    std::string hardware;
    platform::CpuIdentity cpu;
    if (platform::ReadCpuIdentity(&cpu)) hardware = cpu.name.substr(0, cpu.name.find('@'));
    if (s.context.openClPresent) hardware += " / OpenCL";
    auto showHardware = [&] {
        if (gui::HWND h = s.mainHwnd.load())
            gui::SendDlgItemMessageA(h, dlg::main::status_bar, gui::SB_SETTEXTA, 1,
                                     reinterpret_cast<gui::LPARAM>(hardware.c_str()));
    };
    showHardware();
    // The feed is fetched again once an hour: its stamp is the day of the year and the hour of
    // its last fetch. A fetched feed shows itself through "refresh_rss".
    if (NewsStamp() != CurrentNewsStamp()) RefreshNewsFeed(kNewsFetchFeed);
    bool shown = false;
    for (;;) {
        gui::HWND h = s.mainHwnd.load();
        gui::WINDOWPLACEMENT wp;
        if (!h) break;
        if (gui::GetWindowPlacement(h, &wp) && wp.showCmd == gui::SW_SHOWNORMAL) {
            shown = true;
            break;
        }
        if (s.startupStop.Wait(1000)) break;
    }
    showHardware();
    // An announced update is only ever offered: the page opens when the user says yes.
    gui::HWND owner = s.mainHwnd.load();
    if (shown && owner && !s.startupStop.IsSet()) AskAboutUpdate(owner, s.context.httpPort.load());
    s.startupDone = true;
}

void StopStartupThread() {
    ShellState& s = Shell();
    if (!s.startupThread.joinable()) return;
    s.startupStop.Set();
    // It may be sending to this thread: serve its sends while waiting.
    if (gui::IsUiThread()) gui::WaitPumping(platform::kInfinite, [&] { return s.startupDone.load(); });
    s.startupThread.join();
}

void ReleaseResourceLibrary() {
    ShellState& s = Shell();
    if (!s.resourceLibrary) return;
    gui::RegisterResourceModule(static_cast<gui::HINSTANCE>(s.resourceLibrary), nullptr);
    dlclose(s.resourceLibrary);
    s.resourceLibrary = nullptr;
}

bool LoadResourceLibrary() {
    ShellState& s = Shell();
    const std::string path = platform::AppFolder() + "libqxres.so";
    struct stat st {};
    int error = stat(path.c_str(), &st) == 0 ? 0 : errno;
    void* lib = error == 0 ? dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL) : nullptr;
    auto get = lib ? reinterpret_cast<GetResourceDataFn>(dlsym(lib, "GetResourceData")) : nullptr;
    if (!get) {
        if (lib) dlclose(lib);
        char number[16];
        std::snprintf(number, sizeof number, "%d", error ? error : ENOEXEC);
        Box("Error loading resource DLL", number);
        return false;
    }
    s.resourceLibrary = lib;
    gui::RegisterResourceModule(static_cast<gui::HINSTANCE>(lib), [get](int id) -> std::optional<std::string> {
        const char* type = nullptr;
        const unsigned char* bytes = nullptr;
        size_t size = 0;
        if (get(id, &type, &bytes, &size) != 1) return std::nullopt;
        return std::string(reinterpret_cast<const char*>(bytes), size);
    });
    return true;
}

// What the shut-down could not save, told as the last line on standard error ("" when all was).
std::string g_notSaved;

// The shut-down after the window cycle, in its fixed order.
int ShutDown(int exitCode) {
    ShellState& s = Shell();
    LogMessage(&g_shellLog, "Stopping jobs", 0);
    StopItem(nullptr);
    WaitWorkerThreads(3000);
    ShutdownPluginHost();
    LogMessage(&g_shellLog, "Saving preferences", 0);
    std::vector<std::string> notSaved;
    if (SavePrefs(GetDataPath("prefs.xml").c_str(), nullptr) != 0) {
        LogMessage(&g_shellLog, "Preferences not saved", 0);
        notSaved.push_back(GetDataPath("prefs.xml"));
    }
    if (GetPrefInt("overall.task.saveQueue") != 0) {
        LogMessage(&g_shellLog, "Saving the queue", 0);
        if (SaveQueueFile(GetDataPath("queue.xml").c_str()) < 0) {
            LogMessage(&g_shellLog, "Queue not saved", 0);
            notSaved.push_back(GetDataPath("queue.xml"));
        }
    }
    KeepQueueFile(nullptr);
    g_notSaved.clear();
    if (!notSaved.empty()) {
        g_notSaved = "Not saved:";
        for (const std::string& path : notSaved) g_notSaved += " " + path;
        exitCode = kExitNotSaved;
    }
    if (NewsChanged()) NewsSave(GetDataPath("rss.xml").c_str());
    StopStartupThread();
    if (s.accelerators) gui::DestroyAcceleratorTable(s.accelerators);
    s.accelerators = nullptr;
    BrowserHostDestroy();
    ReleaseResourceLibrary();
    StopStreamingServer();
    LogMessage(&g_shellLog, "Shutting down the engine", 0);
    QueueClear();
    EngineShutdown(&s.context);
    StopConsoleReport();
    delete s.uiMutex;
    s.uiMutex = nullptr;
    UiStrings().Destroy();
    PluginStrings().Destroy();
    s.initData.clear();
    return exitCode;
}

}  // namespace

ShellState& Shell() {
    static ShellState state;
    return state;
}

void ResetShellState() {
    ShellState& s = Shell();
    s.options = CommandLineOptions{};
    s.caption.clear();
    s.rebuild = false;
    s.newsStarted = false;
    s.autoStartDelay = 0;
    s.afterBatchAction = 0;
    s.exitFlag = false;
    s.mainWindow = nullptr;
    s.mainHwnd = nullptr;
    s.dropBoxDescription.clear();
    s.context.runningWorkers = 0;
    s.context.startedWorkers = 0;
    s.context.taskMode = 0;
    ResetDataPath();
    ResetEventState();
}

void WithMainWindow(const std::function<void(CDlgMain&)>& fn) {
    gui::RunOnUiThread([&] {
        CDlgMain* w = Shell().mainWindow;
        if (w && w->Handle()) fn(*w);
    });
}

std::string TitleText(const char* text) {
    std::string title = Shell().caption;
    if (text) title += std::string(" - ") + text;
    if (title.size() > 127) title.resize(127);
    return title;
}

unsigned ParseCommandLine(const char* text, int pass, std::vector<std::string>* files) {
    if (!text || !*text) return 0;
    const std::string line(text);
    unsigned count = 0;
    std::string pending;
    bool hasPending = false;
    size_t i = 0;
    for (;;) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i >= line.size()) break;
        std::string word;
        bool option = false;
        if (line[i] == '"') {
            // A quoted word runs to the next lone double quote; "" inside it is one double quote,
            // so a name holding quotes stays one word.
            size_t j = i + 1;
            for (; j < line.size(); ++j) {
                if (line[j] != '"') {
                    word += line[j];
                } else if (j + 1 < line.size() && line[j + 1] == '"') {
                    word += '"';
                    ++j;
                } else {
                    break;
                }
            }
            i = j < line.size() ? j + 1 : line.size();
        } else {
            size_t end = i;
            while (end < line.size() && !IsBlank(line[end])) ++end;
            option = line[i] == '-';
            word = line.substr(i, end - i);
            i = end < line.size() ? end + 1 : end;
        }
        if (option) {
            const std::string name = word.substr(1);
            hasPending = false;
            if (name == "start") Shell().options.start = true;
            else if (name == "exit") Shell().options.exit = true;
            else if (name == "verbose") Shell().options.verbose = true;
            else pending = name, hasPending = true;
            continue;
        }
        if (hasPending) {
            ApplyOption(pending, word, pass);
            hasPending = false;
            continue;
        }
        if (pass == 0 && files) files->push_back(FromStartFolder(word));
        if (pass == 1 && FileListAdd(FromStartFolder(word).c_str())) ++count;
    }
    return count;
}

std::string GetDataPath(const char* name) {
    std::lock_guard lk(g_dataPathLock);
    if (g_dataFolderKnown) return g_dataFolder + name;
    const std::string value = GetPrefString("overall.ui.dataDir");
    if (value == ".") return name;
    std::string folder;
    if (!value.empty()) {
        const char* env = (value[0] != '/' && !(value.size() > 1 && value[1] == ':')) ? std::getenv(value.c_str()) : nullptr;
        folder = env ? env : value;
    } else {
        folder = platform::DataFolder();
        if (folder.empty() || MakeDir(folder.c_str()) != 0) return name;
    }
    if (folder.empty() || folder.back() != '/') folder += '/';
    g_dataFolder = folder;
    g_dataFolderKnown = true;
    return g_dataFolder + name;
}

void ResetDataPath() {
    std::lock_guard lk(g_dataPathLock);
    g_dataFolder.clear();
    g_dataFolderKnown = false;
}

bool LoadInitData() {
    char* buffer = nullptr;
    const int n = LoadTextFile(Shell().options.coreFile.c_str(), &buffer, 0);
    if (n < 0) {
        std::free(buffer);
        return false;
    }
    Shell().initData.assign(buffer, static_cast<size_t>(n));
    std::free(buffer);
    return true;
}

int InitProgram() {
    ShellState& s = Shell();
    const std::string app = platform::AppFolder();
    std::error_code ec;
    std::filesystem::current_path(app, ec);
    const char* oldPath = std::getenv("PATH");
    const std::string path = app + "codecs64:" + app + "codecs:" + app + "tools:" + (oldPath ? oldPath : "");
    setenv("PATH", path.c_str(), 1);

    s.context.eventCallback = EngineEventCallback;
    if (!s.uiMutex) s.uiMutex = new gui::UiMutex;
    s.context.buildNumber = kBuildNumber;
    s.context.editionText.clear();

    if (!LoadInitData()) {
        Box("Error loading program initialization data.");
        return -1;
    }
    s.context.definitionsText = s.initData.c_str();
    s.context.definitionsLength = static_cast<uint32_t>(s.initData.size());
    ConnectEngine();
    if (EngineInit(&s.context) != 0) {
        ReportFatalError();
        Box("Error initializing the core engine.");
        return -1;
    }
    std::vector<std::string> shipped = {"qxcore64.xml", s.options.defaultsFile};
    if (IsUnderWine()) shipped.push_back("wine.xml");
    shipped.push_back("sonquill.xml");
    LoadStartupPrefs(shipped, GetDataPath("prefs.xml").c_str());
    s.context.editionText = "audio";
    if (EngineInitLate(&s.context) != 0) {
        ReportFatalError();
        Box("Error initializing the core engine.");
        return -1;
    }

    s.startupStop.Reset();
    s.startupDone = false;
    s.startupThread = std::thread(StartupThread);

    if (LoadCodecsDefinition(false, "qxcodecs.xml", 0) != 0) {
        Box("Error loading codecs definition file.");
        return -1;
    }
    s.httpRunning = s.context.httpPort.load() != 0;

    const int language = GetPrefInt("overall.ui.language");
    s.webLanguage = (language == 2 || (language == 0 && s.codePage == 936)) ? "/zh" : "";
    char list[512] = {};
    UiStrings().Destroy();
    PluginStrings().Destroy();
    UiStrings().Load("lang.xml", "qxgui", language, list, sizeof list);
    PluginStrings().Load("lang.xml", "plugins", language, nullptr, 0);

    if (!LoadResourceLibrary()) return -1;

    const std::string caption = GetPrefString("overall.ui.caption");
    if (!caption.empty() && caption[0] == '.') s.caption = caption.substr(1);
    else if (caption.find("Quorvex") == std::string::npos) s.caption = "Sonquill x64 1.0.0.1000";
    else s.caption = caption;
    s.aboutText = s.caption;

    if (GetPrefInt("overall.task.mode") == 6 && GetPrefInt("overall.streaming.enabled")) {
        std::string cache = GetPrefString("overall.streaming.cacheDir");
        if (cache.empty()) cache = GetDataPath("streaming");
        MakeDir(cache.c_str());
        StartStreamingServer(GetPrefInt("overall.streaming.port"), nullptr, cache.c_str());
    }
    s.autoStartDelay = GetPrefInt("overall.automation.autoTask") ? GetPrefInt("overall.automation.autoStartDelay") : 0;
    return 0;
}

namespace {

bool g_ownLayer = false;
std::string g_commandLine;

int LeaveProgram(int code) {
    FinishMediaInfoReadAhead();
    SetBrowseForPathHook(nullptr);
    ShellState& s = Shell();
    if (s.accelerators) gui::DestroyAcceleratorTable(s.accelerators);
    s.accelerators = nullptr;
    if (g_ownLayer) gui::Shutdown();
    g_ownLayer = false;
    return code;
}

}  // namespace

bool OpenMainWindow(bool firstCycle) {
    ShellState& s = Shell();
    auto* main = new CDlgMain;
    s.mainWindow = main;
    if (!main->CreateMainWindow()) {
        Box("Error creating the main window");
        s.mainWindow = nullptr;
        delete main;
        return false;
    }
    s.mainHwnd = main->Handle();
    // Files and text dropped on the window enter the queue through the file list.
    CDropTarget& drop = CDropTarget::Instance();
    drop.SetWindow(main->Handle());
    drop.SetCallbacks([](const char* text) { if (text && *text) FileList().AddFile(text); },
                      [](gui::HDROP files) {
                          for (const std::string& file : DroppedFiles(files)) FileList().AddFile(file);
                          // Files dropped on the drop box are converted at once when the user agrees.
                          gui::HWND main = Shell().mainHwnd.load();
                          if (CurrentUiMode() == kUiDropBox && main &&
                              gui::MessageBoxA(main, UiStrings().GetString("start_transcoding"), "Confirm",
                                               gui::MB_YESNO | gui::MB_ICONQUESTION) == gui::IDYES)
                              gui::PostMessageA(main, gui::WM_APP, 0, reinterpret_cast<gui::LPARAM>(kTranscodeCommand));
                          SettingsChangedLevel = 1;
                          ApplyCountdown = 0;
                      });
    gui::RegisterDragDrop(main->Handle(), &drop);
    LoadUiPlugin(main->Handle());
    if (firstCycle) {
        // Files of the command line make a queue of their own: the saved one is loaded only
        // without them, and is never replaced by a queue that did not come from it.
        const std::string queueFile = GetDataPath("queue.xml");
        if (ParseCommandLine(g_commandLine.c_str(), 1) == 0) LoadQueueFile(queueFile.c_str());
        else if (platform::PathExists(queueFile.c_str())) KeepQueueFile(queueFile.c_str());
    }
    FileListRefreshRows();
    SelectFirstListRow();
    s.rebuild = false;
    main->ApplySettings(3);
    main->Show();
    PluginHostShow();
    if (s.options.start)
        gui::PostMessageA(main->Handle(), gui::WM_APP, 0, reinterpret_cast<gui::LPARAM>(kTranscodeCommand));
    InstallUiMethods();
    return true;
}

void CloseMainWindow() {
    ShellState& s = Shell();
    CDlgMain* main = s.mainWindow;
    if (!main) return;
    RemoveUiMethods();
    UnloadUiPlugin();  // before its window goes with the main window
    if (main->Handle()) {
        gui::RevokeDragDrop(main->Handle());
        main->OnClose();
    }
    CDropTarget::Instance().SetCallbacks(nullptr, nullptr);
    CDropTarget::Instance().SetWindow(nullptr);
    SplashClose();
    s.mainHwnd = nullptr;
    s.mainWindow = nullptr;
    delete main;
}

int StartProgram(const char* commandLine) {
    ShellState& s = Shell();
    g_commandLine = commandLine ? commandLine : "";
    s.codePage = LocaleCodePage();
    std::error_code ec;
    s.startFolder = std::filesystem::current_path(ec).string();
    if (s.startFolder.empty() || s.startFolder.back() != '/') s.startFolder += '/';
    std::vector<std::string> files;
    ParseCommandLine(g_commandLine.c_str(), 0, &files);
    s.exitFlag = s.options.exit;
    // A batch starts as soon as the program is up: the media information of its first files is
    // read meanwhile.
    if (s.options.start) StartMediaInfoReadAhead(files);
    g_ownLayer = !gui::IsRunning();
    if (g_ownLayer && !gui::Init()) {
        g_ownLayer = false;
        return LeaveProgram(-1);
    }
    if (!gui::GetResourceProvider()) {
        auto folder = std::make_shared<gui::XmlResourceFolder>();
        std::string error;
        if (!folder->Load(platform::AppFolder() + "ui", error)) std::fprintf(stderr, "resources: %s\n", error.c_str());
        gui::SetResourceProvider(folder);
    }
    s.accelerators = gui::LoadAcceleratorsA(MainInstance(), gui::MAKEINTRESOURCEA(accel::main));
    // Folder choices of the engine and the batch starter go to the layer's folder dialog.
    SetBrowseForPathHook([](const std::string& start, const char* title, void* owner, std::string& chosen) {
        auto folder = gui::BrowseForFolder(static_cast<gui::HWND>(owner), title ? title : "", start);
        if (!folder) return false;
        chosen = *folder;
        return true;
    });
    if (s.echoToStderr.load()) StartConsoleReport(s.options.verbose);
    SplashStart();

    if (InitProgram() != 0) {
        StopStartupThread();
        ReleaseResourceLibrary();
        EngineShutdown(&s.context);
        delete s.uiMutex;
        s.uiMutex = nullptr;
        StopConsoleReport();
        return LeaveProgram(-1);
    }
    // Without a display, standard error says what happened to each item; the details go to the
    // log file: the one the settings name, else "sonquill.log" in the data folder.
    if (s.echoToStderr.load()) {
        const bool logging = GetPrefInt("overall.generic.logging") != 0;
        std::string logFile = logging ? GetPrefString("overall.generic.logfile") : std::string();
        if (logFile.empty()) logFile = GetDataPath("sonquill.log");
        else if (logFile[0] != '/') logFile = platform::AppFolder() + logFile;
        SetConsoleLogFile(logFile, !logging);
    }
    // The news settings (edition, language) are in place before the start page is asked for.
    NewsLoadFeed(GetDataPath("rss.xml").c_str());
    s.newsStarted = NewsRefresh(1);
    s.uiModeAtStart = GetPrefInt("overall.ui.mode");
    UiModeAtStart = s.uiModeAtStart.load();
    BrowserHostCreate();
    return OpenMainWindow(true) ? 0 : 1;
}

namespace {

// The close signals (SIGTERM, SIGINT, SIGHUP): the handler writes the signal's number into a pipe,
// a watcher thread hands it to the UI thread's message loop, which closes as the main window
// does. A second signal while the first is handled ends the process the default way.
int g_signalPipe[2] = {-1, -1};
std::atomic<int> g_signalsSeen{0};  // lock-free: safe in a signal handler
std::atomic<int> g_closeSignal{0};
std::thread g_signalWatcher;
constexpr int kCloseSignals[] = {SIGTERM, SIGINT, SIGHUP};
// Long enough for the tools to see the end of their input; bounded, so a stuck one cannot hold
// the close up (the shut-down stops what is left).
constexpr unsigned kSignalStopWaitMs = 20000;

void OnCloseSignal(int sig) {
    if (g_signalsSeen.fetch_add(1) > 0) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

void WatchCloseSignals() {
    unsigned char byte = 0;
    for (;;) {
        const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1 || byte == 0) return;
        // The flag first, then the window: a loop that starts after this sees the flag, one that
        // runs already is woken by the message.
        g_closeSignal = byte;
        if (gui::HWND main = Shell().mainHwnd.load()) gui::PostMessageA(main, gui::WM_NULL, 0, 0);
    }
}

// The close asked for by a signal: the workers stop (their unfinished outputs go), then the loop
// ends as after the main window's close, and the shut-down saves settings and queue.
int CloseOnSignal(int sig) {
    LogMessageFormat(&g_shellLog, "Closing on signal %d", sig);
    // Stopped again each round: a batch that was just starting takes the stop too.
    constexpr unsigned kRoundMs = 250;
    for (unsigned waited = 0; waited < kSignalStopWaitMs; waited += kRoundMs) {
        StopItem(nullptr);
        if (WaitWorkerThreads(kRoundMs) != 0) break;
    }
    Shell().rebuild = false;
    return 128 + sig;
}

}  // namespace

CloseSignalWatch::CloseSignalWatch() {
    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0) return;
    g_signalWatcher = std::thread(WatchCloseSignals);
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kCloseSignals) ::sigaction(sig, &action, nullptr);
}

CloseSignalWatch::~CloseSignalWatch() {
    if (g_signalPipe[1] < 0) return;
    for (int sig : kCloseSignals) std::signal(sig, SIG_DFL);
    const unsigned char stop = 0;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &stop, 1);
    if (g_signalWatcher.joinable()) g_signalWatcher.join();
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

int RunMessageLoop() {
    ShellState& s = Shell();
    gui::MSG msg{};
    for (;;) {
        if (const int sig = g_closeSignal.exchange(0)) return CloseOnSignal(sig);
        if (gui::GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
        if (!gui::TranslateAcceleratorA(s.mainHwnd.load(), s.accelerators, &msg)) {
            gui::TranslateMessage(&msg);
            gui::DispatchMessageA(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

bool NextWindowCycle() {
    CloseMainWindow();
    return Shell().rebuild.load() && OpenMainWindow(false);
}

int FinishProgram(int exitCode) {
    const int code = LeaveProgram(ShutDown(exitCode));
    if (!g_notSaved.empty()) std::fprintf(stderr, "%s\n", g_notSaved.c_str());
    return code;
}

int WinMain(const char* commandLine) {
    const int started = StartProgram(commandLine);
    if (started < 0) return -1;
    if (started > 0) return FinishProgram(0);
    int exitCode = 0;
    for (;;) {
        exitCode = RunMessageLoop();
        if (!NextWindowCycle()) break;
    }
    return FinishProgram(exitCode);
}

}  // namespace ui
