#include "remote/httpd/web_server.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/net.h"
#include "platform/net_files.h"
#include "remote/httpd/httpd_log.h"
#include "remote/httpd/web_internal.h"

WebServer g_controlServer;
WebServer g_streamingServer;

namespace {

std::atomic<WebDispatchFunction> g_dispatch{nullptr};

constexpr int kMaxClients = 1024;  // each slot holds a 512 KB buffer once used

void CloseSlot(WebServer* server, WebConnection* c) {
    c->state |= kReplyClose;
    WebEndRequest(server, c);
}

int SlotsHeldBy(WebServer* server, uint32_t peer) {
    int n = 0;
    for (int i = 0; i < server->clientLimit; ++i)
        if (server->slots[i].socket >= 0 && server->slots[i].peerAddress == peer) ++n;
    return n;
}

// One step of a ready slot: send the next piece or read request bytes. A step that does not answer
// 0 ends the connection; one that does renews its expiry.
void StepSlot(WebServer* server, WebConnection* c, short ready, int64_t now) {
    int r;
    if ((ready & platform::kNetFailed) == 0 && (ready & platform::kNetWritable) && (c->state & kReplySending)) {
        if (c->state & (kReplyBuffer | kReplyStreamed))
            r = WebSendBufferData(server, c);
        else if (c->state & kReplyFile)
            r = WebSendFileData(server, c);
        else
            r = -1;
    } else if ((ready & platform::kNetFailed) == 0 && (ready & platform::kNetReadable) && (c->state & kReplyReading)) {
        r = WebReadRequest(server, c);
    } else {
        r = -1;
    }
    if (r == 0) {
        if (c->socket >= 0) c->expiry = now + server->idleTimeout;
    } else {
        CloseSlot(server, c);
    }
}

// Before a client is refused for want of a slot: connections that have received nothing yet get a
// read step, so one its client has already closed (a probe, an abandoned attempt) is ended instead
// of being counted. peer 0 looks at every address.
void SweepIdleSlots(WebServer* server, uint32_t peer, bool anyPeer, int64_t now) {
    for (int i = 0; i < server->clientLimit; ++i) {
        WebConnection* c = &server->slots[i];
        if (c->socket < 0 || (!anyPeer && c->peerAddress != peer)) continue;
        if (c->state != kReplyReading || c->pending != 0 || c->uploadStream) continue;
        StepSlot(server, c, platform::kNetReadable, now);
    }
}

WebConnection* FindFreeSlot(WebServer* server) {
    for (int i = 0; i < server->clientLimit; ++i)
        if (server->slots[i].socket < 0) return &server->slots[i];
    return nullptr;
}

void AcceptClients(WebServer* server, int64_t now) {
    // Take every waiting connection, bounded so one pass cannot starve the others.
    bool swept = false;
    for (int round = 0; round < server->clientLimit + 8; ++round) {
        uint32_t peer = 0;
        int fd = platform::NetAccept(server->listener, &peer);
        if (fd < 0) return;
        WebConnection* freeSlot = FindFreeSlot(server);
        auto overShare = [&] { return server->perPeerLimit > 0 && SlotsHeldBy(server, peer) >= server->perPeerLimit; };
        if ((!freeSlot || overShare()) && !swept) {
            swept = true;
            SweepIdleSlots(server, peer, !freeSlot, now);
            freeSlot = FindFreeSlot(server);
        }
        // All slots busy, or this address already holds its share: the 403 page, then close.
        if (!freeSlot || overShare()) {
            WebSend403(fd);
            platform::NetCloseGracefully(fd);
            continue;
        }
        if (server->receiveBuffer > 0) platform::NetSetReceiveBuffer(fd, server->receiveBuffer * 1024);
        WebConnection* c = freeSlot;
        c->socket = fd;
        c->peerAddress = peer;
        uint16_t count = static_cast<uint16_t>(server->clients.fetch_add(1) + 1);
        if (count > server->peakClients.load()) server->peakClients.store(count);
        WebResetConnection(c);
        c->payload = nullptr;
        c->startTime = now;
        c->expiry = now + server->idleTimeout;
        c->requestCount = 0;
        // A client usually sends its request right after connecting: read it now rather than a
        // pass later (nothing there yet costs one empty receive).
        StepSlot(server, c, platform::kNetReadable, now);
    }
}

}  // namespace

int64_t WebNowSeconds() { return static_cast<int64_t>(platform::TickCount() / 1000); }

uint32_t WebBindLoopback() { return platform::NetLoopbackAddress(); }

WebDispatchFunction WebCurrentDispatch() { return g_dispatch.load(); }

int WebServerRemoveRoute(WebServer* server, const char* prefix) {
    if (!server || !server->routes || !prefix) return -1;
    for (UrlRoute* r = server->routes; r->prefix; ++r) {
        if (strcmp(r->prefix, prefix) != 0) continue;
        do {
            r[0] = r[1];
            ++r;
        } while (r[-1].prefix);
        return 0;
    }
    return -1;
}

void SetWebDispatchFunction(WebDispatchFunction fn) { g_dispatch.store(fn); }

WebServer::WebServer() {
    routes = static_cast<UrlRoute*>(calloc(1, sizeof(UrlRoute)));
    bindAddress = platform::NetLoopbackAddress();
}

WebServer::~WebServer() {
    if (running.load()) WebServerStop(this);
    if (thread.joinable()) thread.join();
    free(routes);
    routes = nullptr;
    platform::NetCloseFile(folderFd);
    delete waker;
}

int WebServerStart(WebServer* server, int port, int clientLimit, const char* webRoot, uint32_t bindAddress) {
    if (server->running.load()) return 0;
    if (server->thread.joinable()) server->thread.join();
    server->clientLimit = clientLimit <= 0 ? 16 : std::min(clientLimit, kMaxClients);
    server->perPeerLimit = server->clientLimit / 2;
    server->webRoot = webRoot ? webRoot : "webroot";
    server->bindAddress = bindAddress;
    for (int attempt = 0; attempt < 10; ++attempt) {
        int tryPort = port == 0 ? 0 : port + attempt;
        if (tryPort > 65535) break;
        server->port = tryPort;
        if (WebServerListen(server) == 0) {
            server->finished.Reset();
            server->thread = std::thread(WebServerThread, server);
            HttpdLog("listening on port %d", server->port);
            return server->port;
        }
        HttpdLog("cannot listen on port %d", tryPort);
        if (attempt < 9) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }
    return 0;
}

int WebServerListen(WebServer* server) {
    if (server->running.load() || server->clientLimit <= 0) return -1;
    // The listener opens first, so a busy port leaves nothing allocated and no route initialised.
    int fd = WebOpenListener(server);
    if (fd < 0) return -1;
    server->listener = fd;
    if (!server->waker) server->waker = new platform::NetWaker();
    if (!server->waker->valid()) {
        platform::NetClose(fd);
        server->listener = -1;
        return -1;
    }
    server->waker->Drain();
    server->slots = new WebConnection[server->clientLimit];
    if (server->routes)
        for (UrlRoute* r = server->routes; r->prefix; ++r)
            if (r->init && r->init(0, r, server) != 0) r->handler = nullptr;
    server->startTime = static_cast<int64_t>(time(nullptr));
    server->stop.store(0);
    server->running.store(1);
    if (server->idleTimeout == 0) server->idleTimeout = 120;
    return 0;
}

int WebOpenListener(WebServer* server) {
    int bound = 0;
    int fd = platform::NetListen(server->bindAddress, server->port, server->clientLimit - 1, &bound);
    if (fd < 0) return -1;
    server->port = bound;
    return fd;
}

int WebServerShutdown(WebServer* server) {
    if (server->stop.load() || !server->running.load()) return -1;
    // Only the server thread closes its sockets: ask it to end and wake its poll.
    server->stop.store(1);
    if (server->waker) server->waker->Wake();
    // Up to 3 s for the thread to end; it says so at once (no polling step added to every exit).
    server->finished.Wait(3000);
    return 0;
}

void WebServerStop(WebServer* server) {
    if (!server->running.load()) return;
    WebServerShutdown(server);
    WebServerRemoveRoute(server, "~stats");
    if (server->finished.Wait(3000)) {
        if (server->thread.joinable()) server->thread.join();
    } else {
        HttpdLog("server thread did not end in time");
        if (server->thread.joinable()) server->thread.detach();
    }
}

void WebResetConnection(WebConnection* c) {
    c->status = 200;
    c->replyHeaderLength = 0;
    c->sent = 0;
    c->contentLength = 0;
    c->fileSize = 0;
    c->contentType = 0;
    if (!c->requestBuffer) {
        // A few spare bytes past the end keep the reply pointer inside the allocation even for a
        // header block that fills the buffer. Nothing writes them, so they stay zero and end any
        // text read from the buffer (a redirect location a handler did not terminate).
        c->requestBuffer = static_cast<char*>(malloc(kWebRequestBufferSize + 8));
        memset(c->requestBuffer + kWebRequestBufferSize, 0, 8);
    }
    c->requestBuffer[0] = 0;  // never let a scan see the previous client's bytes
    c->replyBuffer = c->requestBuffer;
    c->bufferSize = kWebRequestBufferSize;
    c->pending = 0;
    c->path = nullptr;
    c->pathFromHandler = false;
    c->referer.clear();
    c->host.clear();
    c->transport.clear();
    c->authorization.clear();
    c->hasAuthorization = false;
    c->headerLength = 0;
    c->rangeStart = 0;
    c->rangeGiven = false;
    c->requestLength = 0;
    c->minorVersion = 0;
    c->cseq = 0;
    c->file = -1;
    c->route = nullptr;
    c->bufferToFree = nullptr;
    c->multipart = nullptr;
    c->mimeText = nullptr;
    c->handlerState = nullptr;
    c->sendAfter = 0;
    c->out.clear();
    c->outSent = 0;
    c->tail.clear();
    c->tailSent = 0;
    c->finalQueued = false;
    c->headerInBuffer = 0;
    c->fileDataSent = 0;
    c->fileEnd = -1;
    c->uploadStream = false;
    c->inputConsumed = false;
    c->state = kReplyReading;
}

void WebServerThread(WebServer* server) {
    std::vector<platform::NetPollItem> items;
    std::vector<int> slotOf;
    while (!server->stop.load()) {
        items.clear();
        slotOf.clear();
        items.push_back({server->waker->fd(), platform::kNetReadable, 0});
        items.push_back({server->listener, platform::kNetReadable, 0});
        int64_t now = WebNowSeconds();
        uint64_t tick = platform::TickCount();
        uint64_t wakeAt = tick + 1000;  // a slot that sends later shortens the wait
        for (int i = 0; i < server->clientLimit; ++i) {
            WebConnection* c = &server->slots[i];
            if (c->socket < 0) continue;
            // Idle time-out, and a fixed deadline from accept for the header block that partial
            // reads do not renew: a slow client cannot hold slots for long.
            bool headerLate = server->headerTimeout > 0 && c->headerLength == 0 && (c->state & kReplyReading) &&
                              now >= c->startTime + server->headerTimeout;
            if (now > c->expiry || headerLate) {
                server->expired.fetch_add(1);
                CloseSlot(server, c);
                continue;
            }
            if (c->sendAfter) {
                if (c->sendAfter > tick) {
                    wakeAt = std::min(wakeAt, c->sendAfter);
                    continue;
                }
                c->sendAfter = 0;
            }
            short want = 0;
            if (c->state & kReplyReading) want |= platform::kNetReadable;
            if (c->state & kReplySending) want |= platform::kNetWritable;
            if (!want) continue;
            items.push_back({c->socket, want, 0});
            slotOf.push_back(i);
        }
        int n = platform::NetPoll(items.data(), items.size(), static_cast<int>(wakeAt - tick));
        if (n < 0) {
            if (server->stop.load()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            continue;
        }
        if (n == 0) {
            if (server->idleCallback) server->idleCallback(server);
            continue;
        }
        if (items[0].ready) server->waker->Drain();
        if (server->stop.load()) break;
        now = WebNowSeconds();
        for (size_t k = 2; k < items.size(); ++k) {
            short ready = items[k].ready;
            if (!ready) continue;
            WebConnection* c = &server->slots[slotOf[k - 2]];
            if (c->socket < 0) continue;
            StepSlot(server, c, ready, now);
        }
        if (items[1].ready & platform::kNetReadable) AcceptClients(server, now);
    }
    platform::NetClose(server->listener);
    server->listener = -1;
    platform::NetCloseFile(server->folderFd);
    server->folderFd = -1;
    server->folderFdPath.clear();
    for (int i = 0; i < server->clientLimit; ++i) {
        WebConnection* c = &server->slots[i];
        if (c->socket >= 0) CloseSlot(server, c);
        free(c->requestBuffer);
        c->requestBuffer = nullptr;
    }
    if (server->routes)
        for (UrlRoute* r = server->routes; r->prefix; ++r)
            if (r->handler && r->init) r->init(1, r, server);
    delete[] server->slots;
    server->slots = nullptr;
    HttpdLog("server on port %d stopped", server->port);
    server->stop.store(0);
    server->running.store(0);
    server->finished.Set();
}
