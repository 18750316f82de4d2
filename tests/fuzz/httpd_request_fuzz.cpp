// Request parsing, variables, authentication, path mapping, substitution and the upload parser
// fed with arbitrary bytes; then the same bytes as a client's whole request over a socket pair,
// read, answered and ended as the server thread does it.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "remote/httpd/web_server.h"

namespace {

int Substitute(WebServer*, const char* name, char* at, int capacity) {
    if (name[0] == 'x') return -1;
    int n = static_cast<int>(strlen(name)) + 3;
    if (n > capacity) n = capacity;
    memset(at, 'v', static_cast<size_t>(n));
    return n;
}

int Post(WebServer*, WebConnection*, WebMultipart*, const char*, int64_t) { return 0; }

struct State {
    WebServer server;
    WebConnection connection;
    WebAuthEntry auth[2] = {};
    std::string root;
    State() {
        auth[0].prefix = "admin";
        auth[0].user = "user";
        auth[0].password = "secret";
        server.authTable = auth;
        server.variableCallback = Substitute;
        server.postCallback = Post;
        server.clientLimit = 16;
        server.perPeerLimit = 8;
        server.idleTimeout = 120;
        server.flags = kWebListingAllowed;
        // A small web root: a page with references, a binary file for ranges, a folder to list.
        char dir[] = "/tmp/httpd-fuzz-XXXXXX";
        if (mkdtemp(dir)) root = dir;
        std::filesystem::create_directories(root + "/docs");
        std::ofstream(root + "/index.html") << "<p>$$name$$ and $$x$$ $$open";
        std::ofstream(root + "/k.bin") << std::string(1000, 'k');
        std::ofstream(root + "/docs/a b.txt") << "a";
        // Links that stay inside the root and links that lead out of it.
        std::error_code ec;
        std::filesystem::create_symlink("k.bin", root + "/in.bin", ec);
        std::filesystem::create_symlink(root + "/docs", root + "/abs", ec);
        std::filesystem::create_symlink("..", root + "/out", ec);
        server.webRoot = root;
    }
    ~State() {
        std::error_code ec;
        if (!root.empty()) std::filesystem::remove_all(root, ec);
    }
};

// The bytes as one client's request: read until the reply starts, send it to the end, close.
void Exchange(State* st, const uint8_t* data, size_t size) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) return;
    if (size > 0 && send(sv[1], data, size, MSG_NOSIGNAL) < 0) {
        close(sv[0]);
        close(sv[1]);
        return;
    }
    shutdown(sv[1], SHUT_WR);
    WebServer* s = &st->server;
    WebConnection* c = &st->connection;
    WebResetConnection(c);
    c->socket = sv[0];
    c->peerAddress = 0x7F000001;
    char sink[65536];
    for (int step = 0; step < 64 && c->socket >= 0; ++step) {
        int r;
        if (c->state & kReplyReading)
            r = WebReadRequest(s, c);
        else if ((c->state & kReplySending) && (c->state & (kReplyBuffer | kReplyStreamed)))
            r = WebSendBufferData(s, c);
        else if ((c->state & kReplySending) && (c->state & kReplyFile))
            r = WebSendFileData(s, c);
        else
            r = -1;
        while (recv(sv[1], sink, sizeof sink, 0) > 0) {
        }
        if (r != 0) break;
    }
    c->state |= kReplyClose;
    WebEndRequest(s, c);
    close(sv[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static State state;  // destroyed at exit, which removes its web root
    State* st = &state;
    WebServer* s = &st->server;
    WebConnection* c = &st->connection;
    if (size >= static_cast<size_t>(kWebRequestBufferSize)) return 0;
    if (size <= 65536) Exchange(st, data, size);

    // The request head, then what is built from its path.
    WebResetConnection(c);
    c->peerAddress = 0x7F000001;
    memcpy(c->requestBuffer, data, size);
    c->requestBuffer[size] = 0;
    c->pending = static_cast<int32_t>(size);
    if (WebParseRequestHead(s, c) == 0) {
        WebCheckAuth(s, c);
        std::string mapped;
        bool trailing = false;
        WebMapPath("/srv/root", c->path, false, &mapped, &trailing);
        WebMapPath("/srv/root", c->path, true, &mapped, &trailing);
        const char* dot = strrchr(c->path, '.');
        WebContentType(dot ? dot + 1 : "");
        std::string copy = c->path;
        UrlRequest r;
        r.connection = c;
        r.path = copy.data();
        WebParseVars(&r);
        for (UrlVariable* v = r.variables; v && v->name; ++v) WebGetVar(r.variables, v->name, nullptr);
        WebFreeVars(&r);
        char header[512];
        c->replyBuffer = c->path;
        c->status = (size & 1) ? 301 : 206;
        WebFormatHeader(s, c, 1, header);
    }
    WebEndRequest(s, c);

    // The same bytes as a form body, as text to substitute, and as upload data.
    std::string body(reinterpret_cast<const char*>(data), size);
    UrlRequest form;
    WebConnection post;
    post.state = kReplyPost;
    char plain[] = "p";
    form.path = plain;
    form.connection = &post;
    form.payload = body.data();
    WebParseVars(&form);
    WebFreeVars(&form);

    std::string text(reinterpret_cast<const char*>(data), size);
    int consumed = 0;
    WebSubstituteVars(s, text.data(), static_cast<int>(text.size()), &consumed);

    WebResetConnection(c);
    c->multipart = static_cast<WebMultipart*>(calloc(1, sizeof(WebMultipart)));
    c->multipart->server = s;
    c->multipart->partState = 2;
    strcpy(c->multipart->boundary, "--B");
    c->path = strdup("up");
    c->multipart->path = c->path;
    c->headerLength = 1;
    memcpy(c->requestBuffer, data, size);
    c->multipart->buffered = static_cast<int64_t>(size);
    WebParseMultipart(s, c, true);
    WebEndRequest(s, c);
    return 0;
}
