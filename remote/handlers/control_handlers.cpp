#include "remote/handlers/control_handlers.h"

#include <libxml/parser.h>
#include <strings.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/xml.h"
#include "engine/context.h"
#include "engine/engine_api.h"
#include "engine/eventlog.h"
#include "engine/jobs/jobdriver.h"
#include "engine/jobs/jobstats.h"
#include "engine/jobs/tagging.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/sources/winamp_host.h"
#include "engine/tools/cpu_usage.h"
#include "platform/shell_open.h"
#include "remote/httpd/web_server.h"

namespace {

LogSource& HttpdSource() {
    static LogSource source = MakeLogSource("httpd");
    return source;
}

constexpr int kTextPlain = 3;
constexpr int kTextXml = 2;

// Formats the reply text into the request's buffer (cut to its size) as plain text.
uint32_t Reply(UrlRequest* r, const char* format, ...) __attribute__((format(printf, 2, 3)));
uint32_t Reply(UrlRequest* r, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(r->reply, static_cast<size_t>(r->length), format, args);
    va_end(args);
    r->length = n < 0 ? 0 : std::min(n, r->length - 1);
    r->contentType = kTextPlain;
    return kReplyBuffer;
}

// Variables of the query, or of a form body when the request is a POST.
bool HaveVariables(UrlRequest* r) {
    if (r->variableCount < 0 && r->payload) WebParseVars(r);
    return r->variableCount > 0;
}

const char* Var(UrlRequest* r, const char* name) { return WebGetVar(r->variables, name, nullptr); }

void RaiseSettingsChanged(int delay) { RaiseEvent(kEventSettingsChanged, 2, delay); }

// The body's XML: raw when it starts with '<'; else the URL-decoded value of a "payload=" form
// field (up to the next field), else the whole body decoded. Null when the body was cut at the
// server's size cap: a truncated document must not be taken for a whole one.
char* BodyXml(UrlRequest* r) {
    char* text = r->payload;
    if (!text || (r->connection && r->connection->requestLength > kWebPostCap)) return nullptr;
    if (*text == '<') return text;
    if (char* p = strstr(text, "payload=")) {
        text = p + 8;
        if (char* amp = strchr(text, '&')) *amp = 0;
    }
    UrlDecode(text);
    return text;
}

void FormatAddress(uint32_t address, char* out, size_t size) {
    snprintf(out, size, "%u.%u.%u.%u", address >> 24, (address >> 16) & 255, (address >> 8) & 255, address & 255);
}

// Links a new item for the path at the end of the queue; the item, or null (nothing left behind).
QueueItem* AppendNewItem(const char* path) {
    QueueItem* item = QueueNewItem(path);
    if (!item) return nullptr;
    if (QueueAppend(item) < 0) {
        QueueFreeItem(item);
        return nullptr;
    }
    return item;
}

// Unlinks and frees an item that no job is using; true when it went.
bool RemoveIdleItem(QueueItem* item) {
    QueueLockGuard lock;
    if (!item || item->audioTask.load()) return false;
    if (QueueRemove(item) < 0) return false;
    QueueFreeItem(item);
    return true;
}

// Commands a page may give the main window. Others (a record pointer as argument, a preset file,
// any player command) stay with the program itself.
bool RemoteCommandAllowed(const char* word) {
    static const char* const kAllowed[] = {
        "transcode", "start", "stop_transcode", "stop", "set_time", "seek", "play", "stop_play", "karaoke",
        "refresh_rss", "add_file", "add_dir", "add_dirs", "add_track", "add_url", "add_rss", "show_ui", "show",
        "close_web", "qxid",
    };
    for (const char* w : kAllowed)
        if (strcmp(w, word) == 0) return true;
    return false;
}

// Event 21 with the command text "word" or "word argument"; the window's answer.
int SendUiCommand(const char* word, const char* argument) {
    std::string text = word;
    if (argument && *argument) text.append(" ").append(argument);
    return RaiseEvent(kEventUiCommand, text.c_str(), 0);
}

}  // namespace

const char* SafeHref(const char* href) {
    if (!href || !*href) return nullptr;
    for (const char* p = href; *p; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || strchr("\"'<>?&", *p)) return nullptr;
    return href;
}

bool IsWellFormedXml(const char* text) {
    if (!text) return false;
    const size_t len = strlen(text);
    if (len == 0 || len > 0x7FFFFFFF) return false;
    xmlDocPtr doc = xmlReadMemory(text, static_cast<int>(len), "body.xml", nullptr,
                                  XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET);
    if (!doc) return false;
    xmlFreeDoc(doc);
    return true;
}

QueueItem* RunningItem() {
    QueueLockGuard lock;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it))
        if (it->audioTask.load()) return it;
    return nullptr;
}

int RunningProgress() {
    QueueLockGuard lock;
    QueueItem* item = RunningItem();
    if (!item || item->state.load() != kItemEncoding) return -1;
    return UpdateItemStats(item, false);
}

bool OpenWebAddress(const char* url) {
    if (!url || (strncasecmp(url, "http://", 7) != 0 && strncasecmp(url, "https://", 8) != 0)) return false;
    return platform::ShellOpen(url);
}

uint32_t ReplyHeap(UrlRequest* r, char* text, int length, int contentType) {
    r->reply = text;
    r->length = length;
    r->contentType = contentType;
    return kReplyBuffer | kReplyFreeBuffer;
}

uint32_t HandleQxGet(UrlRequest* r) {
    if (!HaveVariables(r)) return 0;
    const char* query = Var(r, "query");
    if (query && strcmp(query, "progress") == 0) return Reply(r, "%d", RunningProgress());
    return Reply(r, "null");
}

uint32_t HandleUiCommand(UrlRequest* r) {
    if (!HaveVariables(r)) return 0;
    const char* cmd = Var(r, "cmd");
    if (!cmd) return 0;
    const char* arg = Var(r, "arg");
    if (strcmp(cmd, "sethost") == 0) {
        char address[16];
        FormatAddress(r->connection->peerAddress, address, sizeof address);
        const std::string dest = std::string("http://") + address + ":" + (arg ? arg : "");
        GetPrefStore().SetString("overall.task.destdir", dest.c_str());
        return Reply(r, "OK");
    }
    if (!RemoteCommandAllowed(cmd)) {
        LogMessageFormat(&HttpdSource(), "Command '%.64s' refused", cmd);
        return Reply(r, "Error");
    }
    return Reply(r, SendUiCommand(cmd, arg) != 0 ? "Error" : "OK");
}

uint32_t HandleQxTask(UrlRequest* r) {
    char* text = BodyXml(r);
    if (!text || !IsWellFormedXml(text)) return 0;
    CXML xml;
    if (xml.Read(text) != 0) return 0;
    for (XmlNode el = xml.goChild(); el; el = xml.goNext()) {
        const char* name = xml.getNodeName();
        if (strcasecmp(name, "add") == 0) {
            if (xml.goChild()) {
                do {
                    if (strcasecmp(xml.getNodeName(), "path") != 0) continue;
                    if (const char* path = xml.getNodeValue()) AppendNewItem(path);
                    break;
                } while (xml.goNext());
            }
        } else if (strcasecmp(name, "remove") == 0) {
            if (!xml.goChild()) {
                QueueClear();
            } else {
                do {
                    const char* child = xml.getNodeName();
                    const char* value = xml.getNodeValue();
                    if (!value) continue;
                    QueueLockGuard lock;
                    if (strcasecmp(child, "index") == 0) RemoveIdleItem(QueueGetItem(atoi(value)));
                    else if (strcasecmp(child, "path") == 0) RemoveIdleItem(QueueFindByFile(value));
                } while (xml.goNext());
            }
        }
        xml.SetCurrentNode(el);
    }
    RaiseSettingsChanged(2);
    RaiseEvent(kEventQueueChanged);
    return Reply(r, "OK");
}

uint32_t HandlePrefsGet(UrlRequest* r) {
    if (!HaveVariables(r)) return Reply(r, "Invalid request");
    const char* path = Var(r, "path");
    if (!path) return Reply(r, " ");
    PrefStore& prefs = GetPrefStore();
    if (Var(r, "desc")) {
        PrefNode* node = prefs.FindNode(path);
        if (!node || !node->IsValue()) return Reply(r, " ");
        const std::string& text = node->description.empty() ? node->label : node->description;
        return Reply(r, "%s", text.c_str());
    }
    r->length = prefs.FormatValue(path, r->reply, r->length);
    r->contentType = kTextPlain;
    return kReplyBuffer;
}

namespace {

// The plain "name=value" run of a posted body: each value ends at the first CR after it, else the
// first LF, else the first ';', else the end of the body. The number of keys set.
int SetPairs(char* text) {
    int count = 0;
    char* p = text;
    while (p && *p) {
        while (*p == '\r' || *p == '\n' || *p == ';') ++p;
        char* eq = strchr(p, '=');
        if (!eq) break;
        *eq = 0;
        char* value = eq + 1;
        char* end = strchr(value, '\r');
        if (!end) end = strchr(value, '\n');
        if (!end) end = strchr(value, ';');
        char* next = nullptr;
        if (end) {
            *end = 0;
            next = end + 1;
        }
        LogMessageFormat(&HttpdSource(), "Set '%.128s' to '%.128s'", p, value);
        if (GetPrefStore().SetFromText(p, value)) ++count;
        p = next;
    }
    return count;
}

}  // namespace

uint32_t HandlePrefsSet(UrlRequest* r) {
    char* body = r->payload;
    // A form-encoded body ("a=1&b=2", no line or ';' terminators) is read as variables instead.
    const bool formBody = body && *body != '<' && !strpbrk(body, "\r\n;");
    if (body && !formBody) {
        int count = SetPairs(body);
        LogMessageFormat(&HttpdSource(), "%d preferences set", count);
        RaiseSettingsChanged(4);
        return Reply(r, "%d", count);
    }
    if (!HaveVariables(r)) return Reply(r, "Invalid request");
    int count = 0;
    const char* redirect = nullptr;
    for (UrlVariable* v = r->variables; v && v->name; ++v) {
        if (!redirect && strcmp(v->name, "redirect") == 0) {
            redirect = v->value;
            continue;
        }
        if (GetPrefStore().SetFromText(v->name, v->value)) {
            LogMessageFormat(&HttpdSource(), "'%.128s' set to '%.128s'", v->name, v->value);
            ++count;
        } else {
            LogMessageFormat(&HttpdSource(), "'%.128s' can't be set to '%.128s'", v->name, v->value);
        }
    }
    RaiseSettingsChanged(4);
    if (redirect && *redirect) {
        // The location ends at the first control character: it never adds a header line.
        size_t n = 0;
        while (redirect[n] && static_cast<unsigned char>(redirect[n]) >= 0x20) ++n;
        snprintf(r->reply, static_cast<size_t>(r->length), "%.*s", static_cast<int>(n), redirect);
        r->length = static_cast<int32_t>(strlen(r->reply));
        return kReplyRedirect;
    }
    return Reply(r, "%d", count);
}

uint32_t HandlePrefsRevert(UrlRequest* r) {
    if (!HaveVariables(r)) return Reply(r, "Invalid request");
    const char* path = Var(r, "path");
    PrefStore& prefs = GetPrefStore();
    PrefNode* node = path ? prefs.FindNode(path) : nullptr;
    if (!node || !node->IsValue()) return Reply(r, "Invalid path - %.200s", path ? path : "(none)");
    prefs.ResetToDefault(path);
    RaiseSettingsChanged(2);
    LogMessageFormat(&HttpdSource(), "'%.200s' reverted to default", path);
    int n = prefs.FormatValue(path, r->reply, r->length);
    if (n <= 0) return Reply(r, " ");
    r->length = n;
    r->contentType = kTextPlain;
    return kReplyBuffer;
}

uint32_t HandlePrefsXml(UrlRequest* r) {
    HaveVariables(r);
    int mask = Var(r, "modified") ? 0 : 1;
    if (Var(r, "type")) mask |= 2;
    if (Var(r, "text")) mask |= 4;
    if (Var(r, "enum")) mask |= 8;
    if (Var(r, "value")) mask |= 16;
    if (Var(r, "desc")) mask |= 32;
    if (Var(r, "range")) mask |= 64;
    const char* path = Var(r, "path");
    if (path && !*path) path = nullptr;
    int level = 0;
    if (const char* l = Var(r, "level")) level = atoi(l);
    if (level > 0 && path)
        for (const char* p = path; *p; ++p)
            if (*p == '.') ++level;
    char* text = nullptr;
    int len = GetPrefStore().ExportXml(&text, path, Var(r, "brief") != nullptr, SafeHref(Var(r, "xslt")), mask,
                                       level > 0 ? level - 1 : -1);
    if (len <= 0 || !text) {
        free(text);
        r->length = snprintf(r->reply, static_cast<size_t>(r->length), "<?xml version=\"1.0\"?>");
        r->contentType = kTextXml;
        return kReplyBuffer;
    }
    return ReplyHeap(r, text, len, kTextXml);
}

uint32_t HandlePluginXml(UrlRequest* r) {
    HaveVariables(r);
    CXML xml;
    xml.New("1.0", "QuorvexPlugins");
    const char* type = Var(r, "type");
    const int list = !type ? -1 : strcmp(type, "input") == 0 ? 1 : strcmp(type, "dsp") == 0 ? 0 : -1;
    if (list >= 0) {
        std::vector<std::string> names;
        if (list == 1)
            for (const InputPluginEntry& e : InputPlugins()) names.push_back(e.fileName);
        else
            for (const DspPluginEntry& e : DspPlugins()) names.push_back(e.name);
        // The plug-in named by "id" is switched on or off, or shows its settings, before the list is
        // written, so that the list shows the change.
        const char* id = Var(r, "id");
        const char* enabled = Var(r, "enabled");
        for (size_t i = 0; id && i < names.size(); ++i) {
            if (names[i] != id) continue;
            const int index = static_cast<int>(i);
            if (enabled) {
                const bool on = strcmp(enabled, "1") == 0 || strcasecmp(enabled, "true") == 0;
                WinampPluginControl(list, 2, index, on ? reinterpret_cast<void*>(1) : nullptr, 0);
                LogMessageFormat(&HttpdSource(), "Plug-in '%.200s' %s", id, on ? "enabled" : "disabled");
            }
            if (Var(r, "config")) WinampPluginControl(list, 3, index, nullptr, 0);
            break;
        }
        xml.addChild(list == 1 ? "input" : "dsp");
        for (size_t i = 0; i < names.size(); ++i) {
            char desc[512] = {};
            const int index = static_cast<int>(i);
            WinampPluginControl(list, 0, index, desc, sizeof desc);
            xml.addChild("plugin");
            xml.setAttribute("id", names[i].c_str());
            xml.setAttribute("desc", desc);
            xml.setAttribute("enabled", WinampPluginControl(list, 1, index, nullptr, 0) ? "1" : "0");
            xml.goParent();
        }
    }
    char* dumped = nullptr;
    int len = xml.Dump(&dumped, "UTF-8");
    if (!dumped || len <= 0) return Reply(r, " ");
    char* copy = static_cast<char*>(malloc(static_cast<size_t>(len) + 1));
    if (!copy) return Reply(r, " ");
    memcpy(copy, dumped, static_cast<size_t>(len));
    copy[len] = 0;
    return ReplyHeap(r, copy, len, kTextXml);
}

uint32_t HandlePrefsImport(UrlRequest* r) {
    if (GetItemState(nullptr) != 0) {
        RaiseEvent(kEventNotice, EngineText("settings_not_applied"));
        return Reply(r, "error");
    }
    char* text = BodyXml(r);
    // The document is checked whole before anything is applied: a damaged one changes nothing.
    if (!text || !IsWellFormedXml(text) ||
        GetPrefStore().LoadValuesBuffer(text, static_cast<int>(strlen(text)), nullptr, nullptr) != 0)
        return Reply(r, "error");
    LogMessage(&HttpdSource(), "Preference XML posted", 0);
    RaiseSettingsChanged(2);
    return Reply(r, "OK");
}

uint32_t HandleOpenUrl(UrlRequest* r) {
    HaveVariables(r);
    const char* url = Var(r, "url");
    if (!url || !OpenWebAddress(url)) {
        if (url) LogMessageFormat(&HttpdSource(), "Address '%.200s' not opened", url);
        return Reply(r, "%s", "");
    }
    return Reply(r, "%s", url);
}

uint32_t HandleQueue(UrlRequest* r) {
    HaveVariables(r);
    const char* action = Var(r, "action");
    const char* file = Var(r, "file");
    if (action && file && strcmp(action, "addfile") == 0 && strlen(file) < 256) {
        std::string path = file;
        char address[16];
        FormatAddress(r->connection->peerAddress, address, sizeof address);
        for (size_t at = path.find("$(RemoteIP)"); at != std::string::npos; at = path.find("$(RemoteIP)", at)) {
            path.replace(at, 11, address);
            at += strlen(address);
        }
        fprintf(stderr, "File %s added to queue\n", path.c_str());
        if (QueueItem* item = AppendNewItem(path.c_str())) ProbeItem(item, 0);
    } else if (action && file && strcmp(action, "addfolder") == 0) {
        fprintf(stderr, "Folder %s added to queue\n", file);
        QueueAddPath(file, false);
    } else if (action && file && strcmp(action, "addfolders") == 0) {
        QueueAddPath(file, true);
    } else if (action && file && strcmp(action, "remove") == 0) {
        QueueLockGuard lock;
        if (RemoveIdleItem(QueueFindByFile(file))) fprintf(stderr, "File %s removed from queue\n", file);
    } else if (action && strcmp(action, "clear") == 0) {
        QueueClear();
        fprintf(stderr, "Queue cleared\n");
    }
    char* pos = r->reply;
    int room = r->length;
    WriteXmlHeader(&pos, &room, 10, "utf-8", SafeHref(Var(r, "xsl")));
    WriteXmlString(&pos, &room, 0, "<response>");
    WriteXmlString(&pos, &room, 1, action ? "<state>OK</state>" : "<state>Error</state>");
    WriteXmlString(&pos, &room, 0, "</response>");
    r->length = static_cast<int32_t>(pos - r->reply);
    r->contentType = kTextXml;
    RaiseEvent(kEventQueueChanged);
    return kReplyBuffer;
}

uint32_t HandleFileRead(UrlRequest* r) {
    HaveVariables(r);
    const char* file = Var(r, "file");
    if (!file) return Reply(r, "No file specified");
    // Regular files only (a device or a pipe would hold the server), and at most 256 MB of one.
    std::error_code ec;
    double kibPerMs = 0.0;
    if (std::filesystem::is_regular_file(file, ec)) kibPerMs = MeasureReadSpeed(file, 256 * 1024);
    return Reply(r, "Speed: %f MB/s", kibPerMs * 1000.0 / 1024.0);
}

uint32_t HandleSensors(UrlRequest* r) {
    if (!r->path || !*r->path) return 0;
    static CCpuUsage own;
    static CCpuUsage system;
    std::string out;
    std::string ids = r->path;
    size_t start = 0;
    while (start <= ids.size()) {
        size_t comma = ids.find(',', start);
        std::string id = ids.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        unsigned long value = strtoul(id.c_str(), nullptr, 16);
        float reading = 0.0f;
        switch (value) {
        case 0x143:
        case 0x1100: reading = own.GetProcessUsage(static_cast<uint32_t>(getpid())); break;
        case 0x1101: reading = static_cast<float>(GetCpuLoad(1)); break;  // the decoders' load
        case 0x1102: reading = static_cast<float>(GetCpuLoad(2)); break;  // the encoders' load
        case 0x1103: reading = system.GetUsage(); break;
        default: break;
        }
        char piece[48];
        snprintf(piece, sizeof piece, "%lX=%.2f ", value, reading < 0 ? 0.0 : static_cast<double>(reading));
        out += piece;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return Reply(r, "%s", out.c_str());
}

uint32_t HandleStart(UrlRequest* r) {
    snprintf(r->reply, static_cast<size_t>(r->length), "start.7z%s", r->path ? r->path : "");
    return kReplyFile;
}

uint32_t HandleQxPut(UrlRequest* r) {
    if (!HaveVariables(r)) return 0;
    PrefStore& prefs = GetPrefStore();
    if (const char* build = Var(r, "ackbuild")) {
        prefs.SetInt("overall.generic.ignoredBuild", atoi(build));
        snprintf(r->reply, static_cast<size_t>(r->length), "%s", "/update-acknowledged.htm");
        return kReplyRedirect;
    }
    if (Var(r, "launch")) {
        if (Var(r, "noshow")) {
            EngineContext* context = GetEngineContext();
            prefs.SetInt("overall.ui.noWelcome", context ? context->buildNumber : 0);
        }
        const char* blank = Var(r, "blank");
        if (blank && strncmp(blank, "http", 4) == 0) OpenWebAddress(blank);
        SendUiCommand("show_ui", nullptr);
        if (const char* url = Var(r, "url")) {
            size_t n = 0;
            while (url[n] && static_cast<unsigned char>(url[n]) >= 0x20) ++n;
            snprintf(r->reply, static_cast<size_t>(r->length), "%.*s", static_cast<int>(n), url);
            return kReplyRedirect;
        }
        return Reply(r, " ");
    }
    if (const char* close = Var(r, "close")) {
        SendUiCommand("close_web", close);
        return Reply(r, " ");
    }
    if (const char* id = Var(r, "qxid")) {
        SendUiCommand("qxid", id);
        return Reply(r, "%s", id);
    }
    return Reply(r, " ");
}
