#include "remote/handlers/servers.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <string>

#include "engine/context.h"
#include "engine/engine_init.h"
#include "engine/eventlog.h"
#include "engine/prefs/prefstore.h"
#include "remote/handlers/routes.h"
#include "remote/handlers/stream_handlers.h"
#include "remote/httpd/web_server.h"

namespace {

std::string g_webRoot;
LogSource g_serverLog = MakeLogSource("HTTPd");

}  // namespace

int StartHttpServer() {
    EngineContext* context = GetEngineContext();
    PrefStore& prefs = GetPrefStore();
    g_webRoot = EngineAppPath() + "htdocs";
    int port = context ? context->httpPort.load() : 0;
    if (port == 0) port = prefs.GetInt("overall.httpd.port");
    LogMessageKeyFormat(&g_serverLog, "httpd_starting", static_cast<long long>(port), 0);
    const bool remote = prefs.GetInt("overall.httpd.remote") != 0;
    if (remote) LogMessage(&g_serverLog, "The control server accepts connections from other hosts.", 0);
    const uint32_t bind = remote ? kWebBindAny : WebBindLoopback();
    RegisterControlRoutes(&g_controlServer);
    const int bound = WebServerStart(&g_controlServer, port, 0, g_webRoot.c_str(), bind);
    if (context) context->httpPort = bound;
    if (bound == 0) return -1;
    LogMessageKeyFormat(&g_serverLog, "httpd_started", static_cast<long long>(bound), 0);
    return 0;
}

void StopHttpServer() { WebServerShutdown(&g_controlServer); }

int StartStreamingServer(int port, UrlRoute* routes, const char* cacheDir) {
    PrefStore& prefs = GetPrefStore();
    uint32_t bind = WebBindLoopback();
    const int choice = prefs.GetInt("overall.streaming.bindIP");
    if (choice == 0) {
        bind = kWebBindAny;
    } else if (choice != 1) {
        // A specific address: the option's text. An address that does not parse falls back to the
        // loopback address instead of a bind that can never succeed.
        in_addr addr{};
        const std::string text = prefs.GetValueText("overall.streaming.ip");
        if (inet_pton(AF_INET, text.c_str(), &addr) == 1) bind = addr.s_addr;
        else LogMessage(&g_serverLog, "Invalid streaming address; using 127.0.0.1.", 0);
    }
    if (g_streamingServer.running.load()) {
        // Still running (or not yet stopped): its thread reads the current table, so it stays,
        // and the table handed over is freed as its new owner would.
        free(routes);
        return 0;
    }
    if (!routes && (!g_streamingServer.routes || !g_streamingServer.routes[0].prefix)) routes = MakeStreamingRoutes();
    if (routes) {  // the server owns its malloc'd route table and frees it at exit
        free(g_streamingServer.routes);
        g_streamingServer.routes = routes;
    }
    SetWebDispatchFunction(WebDispatchRoute);
    return WebServerStart(&g_streamingServer, port, prefs.GetInt("overall.streaming.maxClients"), cacheDir, bind);
}

void StopStreamingServer() { WebServerShutdown(&g_streamingServer); }
