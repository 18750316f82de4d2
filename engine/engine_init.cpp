#include "engine/engine_init.h"

#include <mutex>

#include "common/fileutil.h"
#include "common/stringtable.h"
#include "engine/devices/cdrom.h"
#include "engine/engine_api.h"
#include "engine/eventlog.h"
#include "engine/extensions.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/inputtype.h"
#include "engine/queue/queue.h"
#include "engine/sources/winamp_host.h"
#include "engine/tools/cpu_usage.h"
#include "engine/tools/preview.h"
#include "platform/dynlib/dynlib.h"
#include "platform/fs.h"
#include "platform/sync.h"
#include "platform/sysinfo.h"

namespace {

std::string g_appPath;
platform::RecursiveMutex* g_engineMutex = nullptr;
LogSource g_coreLog = MakeLogSource("HTTPd");

std::mutex g_serverCallsLock;
ControlServerCalls g_serverCalls;

ControlServerCalls ServerCalls() {
    std::lock_guard lk(g_serverCallsLock);
    return g_serverCalls;
}

}  // namespace

CoreState& GetCoreState() {
    static CoreState state;
    return state;
}

void CoreStateInit() {
    CoreState& cs = GetCoreState();
    cs.reserved[0] = cs.reserved[1] = 0;
    // No consumer reads the display size; without a display connection it stays 0.
    cs.displayWidth = cs.displayHeight = 0;
    cs.overwriteAnswer = 0;
    cs.audioThreads = 0;
    SetFatalMessage("");
    // The queue's head cell (kept by the queue) gets its default audio and video formats back.
    QueueHeadInit();
}

void SetFatalMessage(const std::string& text) {
    CoreState& cs = GetCoreState();
    std::lock_guard lk(cs.mutex);
    cs.lastFatalMessage = text;
}

void ReportFatalError() {
    std::string text;
    {
        CoreState& cs = GetCoreState();
        std::lock_guard lk(cs.mutex);
        text = cs.lastFatalMessage;
    }
    RaiseEvent(kEventNotice, text.empty() ? "Fatal error" : text.c_str());
}

const std::string& EngineAppPath() { return g_appPath; }

void SetControlServerCalls(ControlServerCalls calls) {
    std::lock_guard lk(g_serverCallsLock);
    g_serverCalls = calls;
}

void SetEngineDefaults() {
    DetectAviSynth();
    GetPrefStore().SetDefault("overall.generic.fileTypes", BuildFileTypesDefault().c_str(), true);
}

int EngineInit(EngineContext* context) {
    SetEngineContext(context);
    g_appPath = platform::AppFolder();
    if (context) context->cpuCount = platform::ProcessorCount();
    CoreStateInit();

    if (context && context->definitionsText) {
        if (LoadPrefDefinitions(true, context->definitionsText, static_cast<int>(context->definitionsLength),
                                "QuorvexPrefs") != 0)
            return 3;
        SetEngineDefaults();
    }
    if (context && !context->eventCallback) context->eventCallback = DefaultEventCallback;
    SetPrefLogHook([](const char* source, const char* text) {
        LogSource src = MakeLogSource(source);
        LogMessage(&src, text, 0);
    });

    delete g_engineMutex;
    g_engineMutex = new platform::RecursiveMutex;
    if (context) context->engineMutex = g_engineMutex;
    return 0;
}

int EngineInitLate(EngineContext* context) {
    // The engine's string table, in the language of "overall.ui.language".
    if (FileExist("lang.xml")) {
        char list[512] = {};
        CStringTable& table = GetEngineStrings();
        table.Destroy();
        if (table.Load("lang.xml", "qxcore", GetPrefStore().GetInt("overall.ui.language"), list, sizeof list) != 0) {
            SetFatalMessage("Language data cannot be loaded.");
            return 4;
        }
        GetPrefStore().SetDefault("overall.presets.languages", list, true);
    }

    if (const ControlServerCalls server = ServerCalls(); server.start && server.start() != 0) {
        RaiseEvent(kEventNotice, EngineText("httpd_error"));
    } else if (context) {
        LoadExtensionRegistry(context, g_appPath + "extensions");
    }
    return 0;
}

int EngineStart(EngineContext* context) {
    PrefStore& prefs = GetPrefStore();
    // Without a context only the task mode is taken, into the context kept by EngineInit.
    EngineContext* target = context ? context : GetEngineContext();
    if (target) target->taskMode = prefs.GetInt("overall.task.mode");
    if (!context) return 0;

    if (prefs.GetInt("overall.generic.logging")) OpenLogFile(prefs.GetString("overall.generic.logfile"));
    else CloseLogFile();

    context->openClPresent = platform::DynLib().OpenFromLibraryPath("libOpenCL.so.1") ? 1 : 0;

    CdInit(kCdBackendIoctl);

    LogMessageKey(&g_coreLog, "SCAN_PLUGINS", 0);
    EnumeratePlugins(prefs.GetString("audiosrc.winamp.dir"), prefs.GetString("audiosrc.winamp.disabledInPlugins"),
                     prefs.GetString("audiosrc.winamp.enabledDspPlugins"), context->dspArgument);

    context->processorUsage = LoadSysInfo();  // 0 once the processor's identity is read, else -1
    LogMessageKey(&g_coreLog, "inited", 0);
    return 0;
}

void EngineShutdown(EngineContext* context) {
    if (!context) return;
    StopPreviewPlayer();
    if (const ControlServerCalls server = ServerCalls(); server.stop) server.stop();
    FreeExtensionRegistry(context);
    FreePluginLists();
    CdShutdown();

    // A worker that outlived its grace period may still read the shared state: leave the tree, the
    // mutex, the string table and the default formats to process exit rather than pull them from
    // under it.
    const bool workersAlive = context->runningWorkers.load() > 0;
    if (!workersAlive) {
        context->engineMutex = nullptr;
        delete g_engineMutex;
        g_engineMutex = nullptr;
        GetPrefStore().Clear();
    }
    CloseLogFile();
    if (!workersAlive) {
        GetEngineStrings().Destroy();
        QueueHeadRelease();
    }
}

int ShowFinalReport(const char* messageKey, const char* captionKey) {
    const char* caption = captionKey ? EngineText(captionKey) : nullptr;
    return RaiseEvent(kEventFinalReport, EngineText(messageKey), reinterpret_cast<int64_t>(caption));
}
