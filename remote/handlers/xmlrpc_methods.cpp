#include "remote/handlers/xmlrpc_methods.h"

#include <xmlrpc-epi/xmlrpc.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "common/fileutil.h"
#include "common/xml.h"
#include "engine/context.h"
#include "engine/engine_api.h"
#include "engine/eventlog.h"
#include "engine/jobs/jobdriver.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/tools/player_options.h"
#include "remote/handlers/control_handlers.h"
#include "remote/httpd/web_server.h"

namespace {

// The method server: made and destroyed by the route's init function, which runs before the
// server thread starts and after it ends, and used only on that thread in between.
XMLRPC_SERVER g_rpcServer = nullptr;

// The user interface's hooks; a method takes its own reference, so replacing them never pulls
// them from under a call that is waiting for the user interface.
std::mutex g_hooksMutex;
std::shared_ptr<const RpcUiHooks> g_hooks;

// Deeper calls are answered with a fault without being parsed: the library converts values
// recursively and a very deep one would exhaust the thread's stack.
constexpr int kMaxNesting = 256;

LogSource& RpcSource() {
    static LogSource source = MakeLogSource("XML-RPC");
    return source;
}

std::shared_ptr<const RpcUiHooks> Hooks() {
    std::lock_guard lock(g_hooksMutex);
    return g_hooks;
}

// The call's parameters, read in order; a missing one reads as null, 0, false or 0.0.
class Params {
public:
    explicit Params(XMLRPC_REQUEST request) : data_(XMLRPC_RequestGetData(request)) {}
    XMLRPC_VALUE Next() {
        if (!data_) return nullptr;
        XMLRPC_VALUE v = first_ ? XMLRPC_VectorRewind(data_) : XMLRPC_VectorNext(data_);
        first_ = false;
        return v;
    }
    const char* String() {
        XMLRPC_VALUE v = Next();
        return v ? XMLRPC_GetValueString(v) : nullptr;
    }
    int Int(int missing) {
        XMLRPC_VALUE v = Next();
        return v ? XMLRPC_GetValueInt(v) : missing;
    }

private:
    XMLRPC_VALUE data_;
    bool first_ = true;
};

XMLRPC_VALUE Bool(bool value) { return XMLRPC_CreateValueBoolean(nullptr, value ? 1 : 0); }

// A string value; characters XML cannot hold are dropped, so the response always parses.
XMLRPC_VALUE Text(const char* id, const char* text) {
    const std::string clean = XmlStripInvalid(text ? text : "");
    return XMLRPC_CreateValueString(id, clean.c_str(), static_cast<int>(clean.size()));
}

XMLRPC_VALUE UnknownMethod() {
    return XMLRPC_UtilityCreateFault(xmlrpc_error_unknown_method, "server error. requested method not found");
}

void PrefsChanged() { RaiseEvent(kEventSettingsChanged, 2, 0); }

// --- "qx." methods ---

XMLRPC_VALUE QueueAdd(XMLRPC_SERVER, XMLRPC_REQUEST request, void*) {
    Params params(request);
    const char* path = params.String();
    const int index = params.Int(0);
    if (!path || !*path) return nullptr;
    if (index == -2) QueueClear();
    QueueItem* item = QueueNewItem(path);
    if (!item) return Bool(false);
    // The item counts as enqueued only once it is linked; a refused one is freed again.
    if ((index < 0 ? QueueAppend(item) : QueueInsertAt(item, index)) < 0) {
        QueueFreeItem(item);
        return Bool(false);
    }
    LogMessageFormat(&RpcSource(), "%s enqueued", path);
    return Bool(true);
}

XMLRPC_VALUE QueueGet(XMLRPC_SERVER, XMLRPC_REQUEST request, void*) {
    Params params(request);
    QueueLockGuard lock;
    QueueItem* item = QueueGetItem(params.Int(-1));
    if (!item) return nullptr;
    LogMessageFormat(&RpcSource(), "%s queried", item->file ? item->file : "");
    XMLRPC_VALUE s = XMLRPC_CreateVector(nullptr, xmlrpc_vector_struct);
    XMLRPC_AddValueToVector(s, Text("filename", item->file));
    XMLRPC_VectorAppendInt(s, "filesize", static_cast<int>(item->size));
    XMLRPC_VectorAppendInt(s, "duration", item->duration);
    XMLRPC_VectorAppendInt(s, "begin", static_cast<int>(item->begin));
    XMLRPC_VectorAppendInt(s, "end", static_cast<int>(item->end));
    return s;
}

// The output of the item's running job: the final file name, answered once the job's encoder has
// opened it (the bytes may still go to a temporary name until the job ends).
XMLRPC_VALUE QueueOutput(XMLRPC_SERVER, XMLRPC_REQUEST request, void*) {
    Params params(request);
    std::string name;
    // Standard output and network targets are not files.
    if (!GetRunningOutput(params.Int(-1), &name) || name == "-" || name.find("://") != std::string::npos) return nullptr;
    return Text(nullptr, name.c_str());
}

XMLRPC_VALUE PlayerOpts(XMLRPC_SERVER, XMLRPC_REQUEST request, void*) {
    Params params(request);
    QueueLockGuard lock;
    QueueItem* item = QueueGetItem(params.Int(0));
    if (!item) return nullptr;
    LogMessageFormat(&RpcSource(), "MPlayer command line queried");
    const std::string options =
        BuildPlayerDecodeOptions(item, true, item->audio, false) + BuildPlayerAudioFilters(item, item->audio);
    XMLRPC_VALUE s = XMLRPC_CreateVector(nullptr, xmlrpc_vector_struct);
    XMLRPC_AddValueToVector(s, Text("path", "mplayer"));
    XMLRPC_AddValueToVector(s, Text("options", options.c_str()));
    return s;
}

XMLRPC_VALUE PrefsGet(XMLRPC_SERVER, XMLRPC_REQUEST request, void*) {
    Params params(request);
    const char* key = params.String();
    PrefStore& prefs = GetPrefStore();
    PrefNode* node = key ? prefs.FindNode(key) : nullptr;
    if (!node) return nullptr;
    LogMessageFormat(&RpcSource(), "%s queried", key);
    switch (node->type) {
    case kPrefInt: return XMLRPC_CreateValueInt(nullptr, prefs.GetInt(key));
    case kPrefEnum: return Text(nullptr, prefs.GetEnumText(key, -1));
    case kPrefBool: return Bool(prefs.GetInt(key) != 0);
    case kPrefFloat: return XMLRPC_CreateValueDouble(nullptr, prefs.GetFloat(key));
    case kPrefString:
    case kPrefFile:
    case kPrefDir: return Text(nullptr, prefs.GetString(key));
    default: return nullptr;
    }
}

// A number as text in the form the preference parser reads, whatever the locale.
std::string NumberText(double value) {
    char text[64];
    snprintf(text, sizeof text, "%.17g", value);
    for (char* p = text; *p; ++p)
        if (*p == ',') *p = '.';
    return text;
}

XMLRPC_VALUE PrefsSet(XMLRPC_SERVER, XMLRPC_REQUEST request, void*) {
    Params params(request);
    const char* key = params.String();
    if (!key) return nullptr;
    XMLRPC_VALUE value = params.Next();
    LogMessageFormat(&RpcSource(), "%s set", key);
    PrefStore& prefs = GetPrefStore();
    PrefNode* node = prefs.FindNode(key);
    // Only keys of the tree, and only with a value of a kind the key can take: a typed setter
    // given the wrong kind would stop on a message box on this thread.
    if (!node || !node->IsValue() || !value) return Bool(false);
    bool done = true;
    switch (XMLRPC_GetValueType(value)) {
    case xmlrpc_boolean: {
        const bool on = XMLRPC_GetValueBoolean(value) == 1;
        if (node->type == kPrefBool) prefs.SetBool(key, on);
        else done = prefs.SetFromText(key, on ? "1" : "0");
        break;
    }
    case xmlrpc_double: {
        const double v = XMLRPC_GetValueDouble(value);
        if (node->type == kPrefFloat) prefs.SetFloat(key, static_cast<float>(v));
        else done = prefs.SetFromText(key, NumberText(v).c_str());
        break;
    }
    case xmlrpc_int: {
        const int v = XMLRPC_GetValueInt(value);
        if (node->type == kPrefInt || node->type == kPrefEnum || node->type == kPrefBool) prefs.SetInt(key, v);
        else done = prefs.SetFromText(key, std::to_string(v).c_str());
        break;
    }
    case xmlrpc_string: {
        const char* text = XMLRPC_GetValueString(value);
        done = prefs.SetFromText(key, text ? text : "");
        break;
    }
    default: return Bool(false);
    }
    if (!done) return Bool(false);
    PrefsChanged();
    return Bool(true);
}

XMLRPC_VALUE PrefsRevert(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    RevertPrefs();
    PrefsChanged();
    return Bool(true);
}

XMLRPC_VALUE StatsProgress(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    const int progress = RunningProgress();
    return XMLRPC_CreateValueInt("progress", progress < 0 ? 0 : progress);
}

// --- "ui." methods: each answers the unknown-method fault until the program installs its hooks ---

#define UI_HOOKS()                                          \
    std::shared_ptr<const RpcUiHooks> hooks = Hooks();      \
    if (!hooks) return UnknownMethod()

int SendCommand(const RpcUiHooks& h, const char* command) { return h.sendCommand ? h.sendCommand(command) : 0; }
bool WindowExists(const RpcUiHooks& h) { return h.mainWindowExists && h.mainWindowExists(); }
void SettingsChanged(const RpcUiHooks& h) {
    if (h.settingsChanged) h.settingsChanged(2);
}

XMLRPC_VALUE JobsStart(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    UI_HOOKS();
    if (GetItemState(nullptr) != 0 || !WindowExists(*hooks)) return Bool(false);
    SendCommand(*hooks, "start");
    return Bool(true);
}

XMLRPC_VALUE JobsStop(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    UI_HOOKS();
    if (GetItemState(nullptr) == 0) return Bool(false);
    if (WindowExists(*hooks)) SendCommand(*hooks, "stop");
    return Bool(true);
}

template <const char* Command>
XMLRPC_VALUE SendFixed(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    UI_HOOKS();
    SendCommand(*hooks, Command);
    return Bool(true);
}
constexpr char kShowTime[] = "show time";
constexpr char kShowClipper[] = "show clipper";
constexpr char kShowCropper[] = "show cropper";

XMLRPC_VALUE ShowMain(XMLRPC_SERVER, XMLRPC_REQUEST request, void*) {
    UI_HOOKS();
    Params params(request);
    XMLRPC_VALUE v = params.Next();
    if (hooks->showMain) hooks->showMain(v && XMLRPC_GetValueBoolean(v) != 0);
    return Bool(true);
}

XMLRPC_VALUE OpenUrl(XMLRPC_SERVER, XMLRPC_REQUEST request, void*) {
    UI_HOOKS();
    Params params(request);
    const char* url = params.String();
    if (!url || !*url) return nullptr;
    return Bool(OpenWebAddress(url));
}

XMLRPC_VALUE DialogsRefresh(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    UI_HOOKS();
    SettingsChanged(*hooks);
    return Bool(true);
}

XMLRPC_VALUE ListSelectIndex(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    UI_HOOKS();
    return XMLRPC_CreateValueInt(nullptr, hooks->selectedRow ? hooks->selectedRow() : -1);
}

XMLRPC_VALUE ListRefresh(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    UI_HOOKS();
    if (hooks->refreshList) hooks->refreshList();
    return Bool(true);
}

template <const char* Word>
XMLRPC_VALUE RaiseAdd(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    UI_HOOKS();
    RaiseEvent(kEventUiCommand, Word, 0);
    return Bool(true);
}
constexpr char kAddFile[] = "add_file";
constexpr char kAddDir[] = "add_dir";
constexpr char kAddTrack[] = "add_track";

XMLRPC_VALUE UiPrefsRevert(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    UI_HOOKS();
    if (hooks->revertPrefs) hooks->revertPrefs();
    SettingsChanged(*hooks);
    return Bool(true);
}

XMLRPC_VALUE PlayerPlay(XMLRPC_SERVER, XMLRPC_REQUEST request, void*) {
    UI_HOOKS();
    Params params(request);
    int index = params.Int(-1);
    if (index < 0 && hooks->focusedRow) index = hooks->focusedRow();
    if (index < 0) index = 0;
    return Bool(hooks->playItem && hooks->playItem(index) == 0);
}

XMLRPC_VALUE PlayerStop(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    UI_HOOKS();
    if (hooks->playerStop) hooks->playerStop();
    return Bool(true);
}

XMLRPC_VALUE PlayerPause(XMLRPC_SERVER, XMLRPC_REQUEST, void*) {
    UI_HOOKS();
    if (hooks->playerPause) hooks->playerPause();
    return Bool(true);
}

XMLRPC_VALUE PlayerSeek(XMLRPC_SERVER, XMLRPC_REQUEST request, void*) {
    UI_HOOKS();
    Params params(request);
    XMLRPC_VALUE v = params.Next();
    if (!v) return Bool(false);
    return Bool(hooks->playerSeek && hooks->playerSeek(XMLRPC_GetValueDouble(v)) == 0);
}

struct MethodEntry {
    const char* name;
    XMLRPC_Callback function;
};

const MethodEntry kMethods[] = {
    {"qx.mplayer.opts", PlayerOpts},
    {"qx.queue.add", QueueAdd},
    {"qx.queue.get", QueueGet},
    {"qx.queue.output", QueueOutput},
    {"qx.prefs.get", PrefsGet},
    {"qx.prefs.set", PrefsSet},
    {"qx.prefs.revert", PrefsRevert},
    {"qx.stats.progress", StatsProgress},
    {"ui.jobs.start", JobsStart},
    {"ui.jobs.stop", JobsStop},
    {"ui.dialogs.showTime", SendFixed<kShowTime>},
    {"ui.dialogs.showClipper", SendFixed<kShowClipper>},
    {"ui.dialogs.showCropper", SendFixed<kShowCropper>},
    {"ui.dialogs.showMain", ShowMain},
    {"ui.dialogs.openURL", OpenUrl},
    {"ui.dialogs.refresh", DialogsRefresh},
    {"ui.list.getSelectIndex", ListSelectIndex},
    {"ui.list.refresh", ListRefresh},
    {"ui.list.addFile", RaiseAdd<kAddFile>},
    {"ui.list.addDir", RaiseAdd<kAddDir>},
    {"ui.list.addTrack", RaiseAdd<kAddTrack>},
    {"ui.prefs.revert", UiPrefsRevert},
    {"ui.player.play", PlayerPlay},
    {"ui.player.stop", PlayerStop},
    {"ui.player.pause", PlayerPause},
    {"ui.player.seek", PlayerSeek},
};

// The deepest element nesting of the text (tags counted, comments and declarations skipped).
int NestingDepth(const char* text) {
    int depth = 0, deepest = 0;
    for (const char* p = strchr(text, '<'); p; p = strchr(p + 1, '<')) {
        if (p[1] == '/') {
            --depth;
        } else if (p[1] != '?' && p[1] != '!') {
            const char* end = strchr(p, '>');
            if (!end) break;
            if (end[-1] != '/') deepest = std::max(deepest, ++depth);
        }
    }
    return deepest;
}

// The response text of a call (a heap copy for the reply), with markup in values escaped.
char* Respond(XMLRPC_VALUE result, int* length) {
    XMLRPC_REQUEST response = XMLRPC_RequestNew();
    XMLRPC_RequestSetRequestType(response, xmlrpc_request_response);
    STRUCT_XMLRPC_REQUEST_OUTPUT_OPTIONS output{};
    output.xml_elem_opts.verbosity = xml_elem_pretty;
    output.xml_elem_opts.escaping = xml_elem_markup_escaping;
    output.xml_elem_opts.encoding = "utf-8";
    output.version = xmlrpc_version_1_0;
    XMLRPC_RequestSetOutputOptions(response, &output);
    if (result) XMLRPC_RequestSetData(response, result);
    int len = 0;
    char* text = XMLRPC_REQUEST_ToXML(response, &len);
    char* copy = nullptr;
    if (text) {
        copy = static_cast<char*>(malloc(static_cast<size_t>(len) + 1));
        if (copy) {
            memcpy(copy, text, static_cast<size_t>(len));
            copy[len] = 0;
        }
        XMLRPC_Free(text);
    }
    XMLRPC_RequestFree(response, 1);
    *length = copy ? len : 0;
    return copy;
}

}  // namespace

uint32_t HandleXmlRpc(UrlRequest* r) {
    char* text = r->payload;
    if (!text || !g_rpcServer) return 0;
    if (*text != '<') {
        char* p = strstr(text, "payload=");
        if (!p) return 0;
        text = p + 8;
        UrlDecode(text);
        char* end = strstr(text, "</methodCall>");
        if (!end) return 0;
        end[13] = 0;
    }
    XMLRPC_VALUE result;
    XMLRPC_REQUEST call = nullptr;
    // The library is handed only well-formed calls of a bounded depth: its own parser leaks and
    // writes to the console on malformed text, and recurses once per level.
    if (!IsWellFormedXml(text)) {
        result = XMLRPC_UtilityCreateFault(xmlrpc_error_parse_xml_syntax, "parse error. not well formed");
    } else if (NestingDepth(text) > kMaxNesting) {
        result = XMLRPC_UtilityCreateFault(xmlrpc_error_invalid_xmlrpc, "server error. nesting too deep");
    } else {
        STRUCT_XMLRPC_REQUEST_INPUT_OPTIONS input{};
        input.xml_elem_opts.encoding = "utf-8";
        call = XMLRPC_REQUEST_FromXML(text, 0, &input);
        result = XMLRPC_ServerCallMethod(g_rpcServer, call, nullptr);
    }
    int length = 0;
    char* reply = Respond(result, &length);
    if (call) XMLRPC_RequestFree(call, 1);
    if (!reply) return 0;
    r->reply = reply;
    r->length = length;
    r->contentType = 2;
    return kReplyBuffer | kReplyFreeBuffer;
}

int RegisterRpcMethods(int action, UrlRoute*, WebServer*) {
    if (action == 0) {
        if (g_rpcServer) XMLRPC_ServerDestroy(g_rpcServer);
        g_rpcServer = XMLRPC_ServerCreate();
        for (const MethodEntry& m : kMethods) XMLRPC_ServerRegisterMethod(g_rpcServer, m.name, m.function);
    } else if (action == 1 && g_rpcServer) {
        XMLRPC_ServerDestroy(g_rpcServer);
        g_rpcServer = nullptr;
    }
    return 0;
}

void RegisterUiMethods(const RpcUiHooks& hooks) {
    auto copy = std::make_shared<const RpcUiHooks>(hooks);
    std::lock_guard lock(g_hooksMutex);
    g_hooks = std::move(copy);
}

void UnregisterUiMethods() {
    std::lock_guard lock(g_hooksMutex);
    g_hooks.reset();
}
