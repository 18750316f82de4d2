#include "remote/handlers/routes.h"

#include <cstdlib>
#include <cstring>

#include "engine/extensions.h"
#include "remote/httpd/web_server.h"

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
    if (char* rtsp = strstr(path, "rtsp://")) {
        if (char* slash = strchr(rtsp + 7, '/')) path = slash + 1;
    } else {
        while (*path == '/') ++path;
    }
    for (UrlRoute* r = server->routes; r && r->prefix; ++r) {
        size_t n = strlen(r->prefix);
        if (!r->handler || strncmp(path, r->prefix, n) != 0) continue;
        UrlRequest req;
        req.server = server;
        req.connection = c;
        req.path = path + n;
        req.request = c->requestBuffer;
        req.reply = c->replyBuffer;
        req.reply[0] = 0;
        req.payload = c->payload;
        req.length = c->bufferSize;
        req.context = r->context;
        c->route = r;
        if (!(c->state & kReplyPost)) WebParseVars(&req);  // a form body is parsed by its handler
        const uint32_t result = r->handler(&req);
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
        }
        WebFreeVars(&req);
        if (result) return result;
    }
    return 0;
}

void RegisterControlRoutes(WebServer* server) {
    SetWebDispatchFunction(WebDispatchRoute);
    if (!server || server->running.load()) return;
    WebServerAddRoute(server, "extensions", BuildExtensionsXml, nullptr);
}
