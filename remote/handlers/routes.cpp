#include "remote/handlers/routes.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "remote/handlers/control_handlers.h"
#include "remote/handlers/extension_handler.h"
#include "remote/handlers/report_handlers.h"
#include "remote/handlers/stream_handlers.h"
#include "remote/handlers/xmlrpc_methods.h"
#include "remote/httpd/httpd_log.h"
#include "remote/httpd/web_server.h"

namespace {

struct RouteEntry {
    const char* prefix;
    UrlHandler handler;  // null: the route's handler is not part of this build; the entry keeps its place
    UrlInit init;
    bool changesState;   // refused when a request comes from another site
};

// The control server's routes, in the order they are tried.
const RouteEntry kControlRoutes[] = {
    {"xmlrpc", HandleXmlRpc, RegisterRpcMethods, true},
    {"qx/stats", HandleStatsXml, nullptr, false},
    {"qx/put", HandleQxPut, nullptr, true},
    {"qx/get", HandleQxGet, nullptr, false},
    {"qx/itemstats_", HandleItemStats, nullptr, false},
    {"prefs/get", HandlePrefsGet, nullptr, false},
    {"prefs/set", HandlePrefsSet, nullptr, true},
    {"prefs/revert", HandlePrefsRevert, nullptr, true},
    {"prefs/prefs.xml", HandlePrefsXml, nullptr, false},
    {"prefs/plugin.xml", HandlePluginXml, nullptr, true},
    {"prefs/import", HandlePrefsImport, nullptr, true},
    {"openurl", HandleOpenUrl, nullptr, true},
    {"extensions", HandleExtensions, nullptr, false},
    {"queue", HandleQueue, nullptr, true},
    {"ui", HandleUiCommand, nullptr, true},
    {"qx/queue.m3u", HandleQueueM3u, nullptr, false},
    {"qx/queue", HandleQueue, nullptr, true},
    {"qx/task", HandleQxTask, nullptr, true},
    {"qx/action", HandleUiCommand, nullptr, true},
    {"qx/sysinfo.xml", HandleSysInfoXml, nullptr, false},
    {"qx/sys.xml", HandleSysXml, nullptr, false},
    {"qx/appinfo.xml", HandleAppInfoXml, nullptr, false},
    {"qx/wmcodecs.xml", HandleWmCodecsXml, nullptr, false},
    {"qx/report.xml", HandleReportXml, nullptr, false},
    {"qx/report.js", HandleReportJs, nullptr, false},
    {"qx/mediainfo.xml", HandleMediaInfoXml, nullptr, false},
    {"qx/benchmark/fileread", HandleFileRead, nullptr, true},
    {"sensors/", HandleSensors, nullptr, false},
    {"start", HandleStart, nullptr, false},
};

bool ChangesState(const UrlRoute* route) {
    for (const RouteEntry& e : kControlRoutes)
        if (strcmp(e.prefix, route->prefix) == 0) return e.changesState;
    return false;
}

// The value of a header in the NUL-terminated header block, cut at its line end; false when absent.
bool RawHeader(const char* block, const char* name, std::string* value) {
    const size_t n = strlen(name);
    for (const char* line = block ? strstr(block, "\r\n") : nullptr; line; line = strstr(line, "\r\n")) {
        line += 2;
        if (strncasecmp(line, name, n) != 0 || line[n] != ':') continue;
        const char* v = line + n + 1;
        while (*v == ' ' || *v == '\t') ++v;
        const char* end = strstr(v, "\r\n");
        value->assign(v, end ? static_cast<size_t>(end - v) : strlen(v));
        return true;
    }
    return false;
}

std::string Lower(std::string text) {
    for (char& ch : text) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    return text;
}

// Four decimal octets without leading zeros, the first 127: an address of 127.0.0.0/8 written
// the one way a browser writes it.
bool IsLoopbackIPv4(const std::string& host) {
    int octets = 0;
    size_t at = 0;
    while (at <= host.size()) {
        size_t end = host.find('.', at);
        if (end == std::string::npos) end = host.size();
        const std::string part = host.substr(at, end - at);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            (part.size() > 1 && part[0] == '0') || std::stoi(part) > 255)
            return false;
        if (octets == 0 && part != "127") return false;
        ++octets;
        at = end + 1;
    }
    return octets == 4;
}

// Whether a Host value ("host" or "host:port") names this machine: "localhost", an address of
// 127.0.0.0/8 or "[::1]", each as the whole host, with a port of digits or none. Names that only
// begin like one ("127.evil.example", "localhost.evil.example") are other machines.
bool IsLoopbackHostPort(const std::string& hostPort) {
    const std::string hp = Lower(hostPort);
    std::string host = hp, port;
    if (!hp.empty() && hp[0] == '[') {
        const size_t close = hp.find(']');
        if (close == std::string::npos) return false;
        host = hp.substr(0, close + 1);
        if (close + 1 < hp.size()) {
            if (hp[close + 1] != ':') return false;
            port = hp.substr(close + 2);
            if (port.empty()) return false;
        }
    } else if (const size_t colon = hp.find(':'); colon != std::string::npos) {
        host = hp.substr(0, colon);
        port = hp.substr(colon + 1);
        if (port.empty()) return false;
    }
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    return host == "localhost" || host == "[::1]" || IsLoopbackIPv4(host);
}

// The "host[:port]" of an absolute http(s) address; empty for anything else ("null", a bare path).
std::string OriginHostPort(const std::string& url) {
    size_t start;
    if (strncasecmp(url.c_str(), "http://", 7) == 0) start = 7;
    else if (strncasecmp(url.c_str(), "https://", 8) == 0) start = 8;
    else return "";
    size_t end = url.find_first_of("/?#", start);
    return Lower(url.substr(start, end == std::string::npos ? std::string::npos : end - start));
}

// The Host header of the request, cut at its line end and without trailing blanks.
std::string RequestHost(const WebConnection* c) {
    std::string host = c->host;
    if (size_t cut = host.find_first_of("\r\n"); cut != std::string::npos) host.resize(cut);
    while (!host.empty() && (host.back() == ' ' || host.back() == '\t')) host.pop_back();
    return host;
}

// A loopback-only control server answers only requests whose Host names this machine: a page
// whose own name was made to point at 127.0.0.1 (DNS rebinding) sends its own name.
bool HostAllowed(const WebServer* server, const WebConnection* c) {
    if (server != &g_controlServer || server->bindAddress != WebBindLoopback()) return true;
    const std::string host = RequestHost(c);
    return host.empty() || IsLoopbackHostPort(host);
}

// Whether a request may reach a route that changes state: refused when the browser says it comes
// from a page of another origin. Sec-Fetch-Site names where the request comes from even when the
// page sends no Referer ("same-site" is another port of the same host: another origin); Origin and
// Referer, when sent, must name this server. A request with none of them (a script, curl) passes.
bool ChangeAllowed(const WebConnection* c) {
    std::string value;
    if (RawHeader(c->requestBuffer, "Sec-Fetch-Site", &value)) {
        value = Lower(value);
        if (value != "same-origin" && value != "none") return false;
    }
    const std::string host = Lower(RequestHost(c));
    for (const char* name : {"Origin", "Referer"}) {
        if (!RawHeader(c->requestBuffer, name, &value)) continue;
        const std::string from = OriginHostPort(value);
        if (from.empty()) return false;
        if (host.empty() ? !IsLoopbackHostPort(from) : from != host) return false;
    }
    return true;
}

uint32_t Refuse(WebConnection* c) {
    static const char kText[] = "Forbidden";
    c->status = 403;
    snprintf(c->replyBuffer, static_cast<size_t>(c->bufferSize), "%s", kText);
    c->pending = static_cast<int32_t>(strlen(c->replyBuffer));
    c->contentLength = c->pending;
    c->contentType = 3;
    c->state |= kReplyBuffer | kReplyClose;
    return kReplyBuffer | kReplyClose;
}

}  // namespace

int WebServerAddRoute(WebServer* server, const char* prefix, uint32_t (*handler)(UrlRequest*),
                      int (*init)(int, UrlRoute*, WebServer*)) {
    if (!server || !server->routes) return 0;
    int count = 0;
    for (UrlRoute* r = server->routes; r->prefix; ++r, ++count)
        if (prefix && strcmp(r->prefix, prefix) == 0) return 0;
    if (!prefix) return count;
    auto* grown = static_cast<UrlRoute*>(realloc(server->routes, sizeof(UrlRoute) * (count + 2)));
    if (!grown) return 0;
    grown[count] = UrlRoute{prefix, handler, init, nullptr};
    grown[count + 1] = UrlRoute{nullptr, nullptr, nullptr, nullptr};
    server->routes = grown;
    return count;
}

uint32_t WebDispatchRoute(WebServer* server, WebConnection* c) {
    char* path = c->path;
    if (!path) return 0;
    if (char* rtsp = strstr(path, "rtsp://")) {
        if (char* slash = strchr(rtsp + 7, '/')) path = slash + 1;
    } else {
        while (*path == '/') ++path;
    }
    // The query is parsed once, when the first route matches, and handed to every route tried.
    UrlRequest parsed;
    bool varsParsed = false;
    uint32_t result = 0;
    // A foreign Host reaches neither a route nor a file of the web root.
    if (!HostAllowed(server, c)) {
        HttpdLog("Request for '%.200s' with Host '%.100s' refused", path, RequestHost(c).c_str());
        return Refuse(c);
    }
    for (UrlRoute* r = server->routes; r && r->prefix; ++r) {
        size_t n = strlen(r->prefix);
        if (!r->handler || strncmp(path, r->prefix, n) != 0) continue;
        if (server == &g_controlServer && ChangesState(r) && !ChangeAllowed(c)) {
            HttpdLog("Request for '%.200s' from another site refused", path);
            result = Refuse(c);
            break;
        }
        if (!varsParsed && !(c->state & kReplyPost)) {  // a form body is parsed by its handler
            parsed.connection = c;
            parsed.path = path;
            WebParseVars(&parsed);
        }
        varsParsed = true;
        UrlRequest req;
        req.server = server;
        req.connection = c;
        req.path = path + n;
        req.variables = parsed.variables;
        req.variableCount = parsed.variableCount;
        req.request = c->requestBuffer;
        req.reply = c->replyBuffer;
        req.reply[0] = 0;
        req.payload = c->payload;
        req.length = c->bufferSize;
        req.context = r->context;
        c->route = r;
        result = r->handler(&req);
        // A handler that parsed a form body itself hands the array over to be freed here.
        if (req.variables != parsed.variables) {
            WebFreeVars(&parsed);
            parsed.variables = req.variables;
            parsed.variableCount = req.variableCount;
        }
        if (result) {
            if (result & (kReplyBuffer | kReplyStreamed | kReplyRedirect)) {
                c->replyBuffer = req.reply;
                c->pending = (result & kReplyRedirect) ? 0 : req.length;
                if (result & kReplyBuffer) c->contentLength = req.dataLength > 0 ? req.dataLength : req.length;
                if (result & kReplyFreeBuffer) c->bufferToFree = req.reply;
            }
            if ((result & kReplyFile) && !(result & kReplyOwnFile) && req.reply[0]) {
                free(c->path);
                c->path = strdup(req.reply);
                c->pathFromHandler = true;
            }
            c->state |= result;
            c->contentType = req.contentType;
            server->routeReplies.fetch_add(1);
            break;
        }
    }
    WebFreeVars(&parsed);
    return result;
}

void RegisterControlRoutes(WebServer* server) {
    SetWebDispatchFunction(WebDispatchRoute);
    if (!server || server->running.load()) return;
    for (const RouteEntry& e : kControlRoutes) WebServerAddRoute(server, e.prefix, e.handler, e.init);
}
