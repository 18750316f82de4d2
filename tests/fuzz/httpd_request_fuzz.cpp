// Request parsing, variables, authentication, path mapping, substitution and the upload parser
// fed with arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
    State() {
        auth[0].prefix = "admin";
        auth[0].user = "user";
        auth[0].password = "secret";
        server.authTable = auth;
        server.variableCallback = Substitute;
        server.postCallback = Post;
        server.clientLimit = 16;
        server.perPeerLimit = 8;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static State* st = new State();
    WebServer* s = &st->server;
    WebConnection* c = &st->connection;
    if (size >= static_cast<size_t>(kWebRequestBufferSize)) return 0;

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
