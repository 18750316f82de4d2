// Reading and parsing requests: the header block, bodies, uploads, authentication and variables.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/net.h"
#include "platform/numtext.h"
#include "remote/httpd/web_internal.h"
#include "remote/httpd/web_server.h"

namespace {

const char* FindBytes(const char* hay, size_t hayLen, const char* needle, size_t needleLen) {
    if (needleLen == 0 || hayLen < needleLen) return nullptr;
    return static_cast<const char*>(memmem(hay, hayLen, needle, needleLen));
}

bool StartsNoCase(const char* text, size_t length, const char* prefix) {
    size_t n = strlen(prefix);
    return length >= n && strncasecmp(text, prefix, n) == 0;
}

const char* FindNoCase(const char* text, size_t length, const char* needle) {
    size_t n = strlen(needle);
    for (size_t i = 0; i + n <= length; ++i)
        if (strncasecmp(text + i, needle, n) == 0) return text + i;
    return nullptr;
}

// Strict decimal: digits only (blanks around allowed), no sign, no overflow.
bool ParseLength(const char* text, size_t length, int64_t* value) {
    while (length && (*text == ' ' || *text == '\t')) ++text, --length;
    while (length && (text[length - 1] == ' ' || text[length - 1] == '\t')) --length;
    if (length == 0) return false;
    int64_t v = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        int d = text[i] - '0';
        if (v > (INT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    *value = v;
    return true;
}

// "a.b.c.d" with four numbers of 0..255, ended by the text's end, a blank or a comma.
bool ParseIPv4(const char* text, size_t length, uint32_t* address) {
    uint32_t result = 0;
    size_t i = 0;
    while (i < length && text[i] == ' ') ++i;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= length || text[i] != '.') return false;
            ++i;
        }
        int value = 0, digits = 0;
        while (i < length && text[i] >= '0' && text[i] <= '9' && digits < 4) value = value * 10 + (text[i++] - '0'), ++digits;
        if (digits == 0 || value > 255) return false;
        result = (result << 8) | static_cast<uint32_t>(value);
    }
    if (i < length && text[i] != ' ' && text[i] != ',') return false;
    *address = result;
    return true;
}

int SlotsHeldBy(WebServer* server, uint32_t peer) {
    int n = 0;
    if (!server->slots) return 0;
    for (int i = 0; i < server->clientLimit; ++i)
        if (server->slots[i].socket >= 0 && server->slots[i].peerAddress == peer) ++n;
    return n;
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64Encode(const std::string& in) {
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (i + 1 == in.size()) {
        uint32_t v = uint8_t(in[i]) << 16;
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8);
        out += kBase64[v >> 18];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

bool WebMakeCredential(WebAuthEntry* entry) {
    std::string text = "Basic " + Base64Encode(std::string(entry->user) + ":" + entry->password) + "\r\n";
    if (text.size() + 1 > sizeof entry->credential) return false;
    memcpy(entry->credential, text.c_str(), text.size() + 1);
    return true;
}

// Compares without an early exit, so the time taken does not tell how much matched.
bool SameSecret(const std::string& a, const std::string& b) {
    unsigned diff = a.size() != b.size();
    for (size_t i = 0; i < a.size(); ++i) diff |= uint8_t(a[i]) ^ uint8_t(i < b.size() ? b[i] : 0);
    return diff == 0;
}

char* CopyText(const char* text, size_t length) {
    char* out = static_cast<char*>(malloc(length + 1));
    memcpy(out, text, length);
    out[length] = 0;
    return out;
}

void AddField(WebMultipart* mp, const char* name, size_t nameLen, const char* value, size_t valueLen) {
    if (mp->fieldCount >= kWebMaxFormFields) return;  // further fields are ignored
    mp->fields[mp->fieldCount].name = CopyText(name, nameLen);
    mp->fields[mp->fieldCount].value = CopyText(value, valueLen);
    ++mp->fieldCount;
}

// Steps 9 to 11: the request is complete.
int FinishRequest(WebServer* server, WebConnection* c) {
    if (c->headerLength > 0 && c->headerLength < kWebRequestBufferSize) c->requestBuffer[c->headerLength] = 0;
    int offset = c->headerLength > 0 ? c->headerLength + 4 : 0;
    c->replyBuffer = c->requestBuffer + std::min(offset, kWebRequestBufferSize);
    c->bufferSize = c->headerLength > 0 ? std::max(0, 0x7FFFC - c->headerLength) : kWebRequestBufferSize;
    c->pending = 0;
    server->requests.fetch_add(1);
    if (server->authTable) {
        int r = WebCheckAuth(server, c);
        if (r > 1 || r == -1) {
            WebSendAuthRequest(server, c, r);
            return 1;
        }
    }
    ++c->requestCount;
    return WebStartReply(server, c);
}

// An upload without a boundary: every byte goes to the post callback until the client closes.
int ReadUploadStream(WebServer* server, WebConnection* c) {
    WebMultipart* mp = c->multipart;
    long n = platform::NetRecv(c->socket, c->requestBuffer + mp->buffered, kWebRequestBufferSize - mp->buffered);
    if (n == -2) return 0;
    if (n <= 0) {
        mp->partState = 2;
        if (server->postCallback) server->postCallback(server, c, mp, c->requestBuffer, mp->buffered);
        mp->buffered = 0;
        c->state |= kReplyClose;
        WebEndRequest(server, c);
        return -1;
    }
    mp->buffered += n;
    if (mp->buffered == kWebRequestBufferSize) {
        mp->partState = 0;
        if (server->postCallback) server->postCallback(server, c, mp, c->requestBuffer, mp->buffered);
        mp->buffered = 0;
    }
    return 0;
}

// Step 8: the body, once the header block is complete.
int ReadBody(WebServer* server, WebConnection* c) {
    if (c->state & kReplyGet) {
        if (c->requestLength > 0) {
            if (c->requestLength > kWebRequestBufferSize - 1 - c->headerLength) return -1;  // cannot fit
            if (c->pending < c->headerLength + c->requestLength) return 0;
        }
        // Nothing beyond the request arrived: the connection can close without draining it first.
        c->inputConsumed = c->pending == c->headerLength + c->requestLength;
        return FinishRequest(server, c);
    }
    WebMultipart* mp = c->multipart;
    if (mp) {
        // Every kind of upload needs somebody to hand the data to.
        if (!server->postCallback) return -1;
        int64_t have = c->pending - c->headerLength;
        if (!mp->boundary[0]) {
            mp->partState = 1;
            server->postCallback(server, c, mp, c->requestBuffer + c->headerLength, have);
            mp->partState = 0;
            mp->buffered = 0;
            c->uploadStream = true;
            return 0;
        }
        memmove(c->requestBuffer, c->requestBuffer + c->headerLength, static_cast<size_t>(have));
        mp->buffered = have;
        int r = WebParseMultipart(server, c, true);
        if (r < 0) return -1;
        if (r == 0) return 0;
        return FinishRequest(server, c);
    }
    if (!c->payload) {
        int64_t cap = std::min<int64_t>(c->requestLength, kWebPostCap);
        int64_t have = std::min<int64_t>(c->pending - c->headerLength, cap);
        c->payload = static_cast<char*>(malloc(static_cast<size_t>(cap) + 1));
        memcpy(c->payload, c->requestBuffer + c->headerLength, static_cast<size_t>(have));
        c->payload[have] = 0;
        c->replyBuffer = c->payload;
        c->bufferSize = static_cast<int32_t>(cap) + 1;
        c->pending = static_cast<int32_t>(have);
    }
    if (c->pending < c->bufferSize - 1) return 0;
    c->payload[c->pending] = 0;
    return FinishRequest(server, c);
}

}  // namespace

int WebReadRequest(WebServer* server, WebConnection* c) {
    WebMultipart* mp = c->multipart;
    if (c->headerLength && (c->state & kReplyPost) && mp && mp->boundary[0] && server->postCallback) {
        int r = WebParseMultipart(server, c, false);
        if (r < 0) return -1;
        if (r == 0) return 0;
        return FinishRequest(server, c);
    }
    if (c->uploadStream) return ReadUploadStream(server, c);

    int room = c->bufferSize - c->pending - 1;
    if (room <= 0) return -1;  // a header block that does not fit the buffer
    long n = platform::NetRecv(c->socket, c->replyBuffer + c->pending, static_cast<size_t>(room));
    if (n == -2) return 0;
    if (n <= 0) {
        c->state |= kReplyClose;
        WebEndRequest(server, c);
        return -1;
    }
    c->pending += static_cast<int32_t>(n);
    c->replyBuffer[c->pending] = 0;
    if (!c->headerLength) {
        if (!FindBytes(c->requestBuffer, static_cast<size_t>(c->pending), "\r\n\r\n", 4)) return 0;
        if (WebParseRequestHead(server, c) < 0) {
            c->state |= kReplyClose;
            return -1;
        }
    }
    return ReadBody(server, c);
}

int WebParseRequestHead(WebServer* server, WebConnection* c) {
    char* buf = c->requestBuffer;
    size_t len = static_cast<size_t>(c->pending);
    const char* blank = FindBytes(buf, len, "\r\n\r\n", 4);
    if (!blank) return -1;
    c->headerLength = static_cast<int32_t>(blank - buf) + 4;
    size_t start;
    if (len >= 4 && memcmp(buf, "GET ", 4) == 0) {
        c->state |= kReplyGet;
        start = 4;
    } else if (len >= 5 && memcmp(buf, "POST ", 5) == 0) {
        c->state |= kReplyPost;
        start = 5;
    } else {
        return -1;  // other methods are closed without a reply
    }
    // A NUL would cut the target short and serve what stands before it: refused as a decoded "%00" is.
    const char* lineEnd = FindBytes(buf, static_cast<size_t>(c->headerLength), "\r\n", 2);
    if (memchr(buf, 0, static_cast<size_t>(lineEnd - buf))) {
        if (c->socket >= 0) WebSend404(c->socket);
        return -1;
    }
    if (WebParseHeaders(server, c) < 0) return -1;
    if ((server->flags & kWebRangesRefused) && c->rangeGiven) {
        if (c->socket >= 0) WebSend403(c->socket);
        return -1;
    }
    if (server->perPeerLimit > 0 && SlotsHeldBy(server, c->peerAddress) > server->perPeerLimit) {
        if (c->socket >= 0) WebSend403(c->socket);
        return -1;
    }
    const char* p = buf + start;
    if (p < lineEnd && *p == '/') ++p;  // the target's leading '/'
    const char* end = lineEnd;
    for (const char* q = p; q + 6 <= lineEnd; ++q) {
        if (*q == ' ' && (memcmp(q + 1, "HTTP/", 5) == 0 || memcmp(q + 1, "RTSP/", 5) == 0)) {
            end = q;
            break;
        }
    }
    if (end < p || end - p >= kWebMaxPathLength) return -1;
    c->path = CopyText(p, static_cast<size_t>(end - p));
    if (c->multipart) c->multipart->path = c->path;
    return 0;
}

int WebParseHeaders(WebServer* server, WebConnection* c) {
    const char* buf = c->requestBuffer;
    const char* blockEnd = buf + c->headerLength - 2;  // the blank line's CR LF
    const char* lineEnd = FindBytes(buf, static_cast<size_t>(c->headerLength), "\r\n", 2);
    // The version is read from the request line only, after a blank: a target such as
    // "/HTTP/1.1/x" must not decide the version (and with it the chunking) of an HTTP/1.0 client.
    size_t lineLen = static_cast<size_t>(lineEnd - buf);
    const char* version = FindBytes(buf, lineLen, " HTTP/1.", 8);
    if (!version) version = FindBytes(buf, lineLen, " RTSP/1.", 8);
    if (!version || version + 8 >= lineEnd || version[8] < '0' || version[8] > '9') return -1;
    c->minorVersion = version[8] - '0';

    const uint32_t realPeer = c->peerAddress;
    for (const char* p = lineEnd + 2; p < blockEnd;) {
        const char* e = FindBytes(p, static_cast<size_t>(blockEnd + 2 - p), "\r\n", 2);
        if (!e || e == p) break;
        size_t n = static_cast<size_t>(e - p);
        auto value = [&](const char* name) { return std::string_view(p + strlen(name), n - strlen(name)); };
        if (StartsNoCase(p, n, "Connection: ")) {
            auto v = value("Connection: ");
            if (StartsNoCase(v.data(), v.size(), "close"))
                c->state |= kReplyClose;
            else if (StartsNoCase(v.data(), v.size(), "Keep-Alive"))
                c->state &= ~kReplyClose;
        } else if (StartsNoCase(p, n, "Content-Length: ")) {
            auto v = value("Content-Length: ");
            if (!ParseLength(v.data(), v.size(), &c->requestLength)) return -1;
        } else if (StartsNoCase(p, n, "Content-Type: ")) {
            auto v = value("Content-Type: ");
            static const char kMultipart[] = "multipart/form-data; boundary=";
            const char* fileName = FindNoCase(v.data(), v.size(), "; filename=");
            if (StartsNoCase(v.data(), v.size(), kMultipart)) {
                size_t blen = std::min<size_t>(v.size() - strlen(kMultipart), 253);
                if (blen == 0) return -1;
                if (!c->multipart) {
                    c->multipart = static_cast<WebMultipart*>(calloc(1, sizeof(WebMultipart)));
                    c->multipart->server = server;
                    c->multipart->partState = 2;
                    std::string b = "--" + std::string(v.data() + strlen(kMultipart), std::min<size_t>(blen, 77));
                    memcpy(c->multipart->boundary, b.c_str(), b.size() + 1);
                }
                c->state |= kReplyMultipart;
            } else if (fileName && !c->multipart) {
                c->multipart = static_cast<WebMultipart*>(calloc(1, sizeof(WebMultipart)));
                c->multipart->server = server;
                const char* f = fileName + strlen("; filename=");
                size_t flen = std::min<size_t>(static_cast<size_t>(v.data() + v.size() - f), 255);
                memcpy(c->multipart->fileName, f, flen);
                c->multipart->fileName[flen] = 0;
            }
        } else if (StartsNoCase(p, n, "CSeq: ")) {
            c->cseq = platform::ParseInt(std::string(value("CSeq: ")).c_str());
        } else if (StartsNoCase(p, n, "Referer: ")) {
            c->referer = std::string(value("Referer: "));
        } else if (StartsNoCase(p, n, "Range: bytes=")) {
            auto v = value("Range: bytes=");
            size_t dash = v.find('-');
            int64_t startAt = 0;
            if (dash != std::string_view::npos && dash > 0 && ParseLength(v.data(), dash, &startAt)) {
                c->rangeStart = startAt;
                c->rangeGiven = true;
            }
        } else if (StartsNoCase(p, n, "Host: ")) {
            c->host = std::string(value("Host: "));
        } else if (StartsNoCase(p, n, "Transport: ")) {
            c->transport = std::string(value("Transport: "));
        } else if (StartsNoCase(p, n, "Authorization: ")) {
            c->authorization = std::string(value("Authorization: "));
            c->hasAuthorization = true;
        } else if (StartsNoCase(p, n, "X-Forwarded-For: ")) {
            // Believed only from a proxy on this machine; anyone else could pick any address.
            auto v = value("X-Forwarded-For: ");
            uint32_t address = 0;
            if (platform::NetIsLoopback(realPeer) && ParseIPv4(v.data(), v.size(), &address)) c->peerAddress = address;
        }
        p = e + 2;
    }
    return 0;
}

int WebCheckAuth(WebServer* server, WebConnection* c) {
    // Protection applies to the path as it will be served: decoded and normalised.
    std::string normal;
    bool trailing = false;
    if (!WebMapPath("", c->path ? c->path : "", false, &normal, &trailing)) return -1;
    while (!normal.empty() && normal[0] == '/') normal.erase(0, 1);
    int result = 0;
    for (WebAuthEntry* e = server->authTable; e && e->prefix; ++e) {
        const char* prefix = e->prefix;
        while (*prefix == '/') ++prefix;
        if (normal.compare(0, strlen(prefix), prefix) != 0) continue;
        if (!e->user || !*e->user || !e->password || !*e->password) continue;
        if (!e->credential[0] && !WebMakeCredential(e)) continue;
        if (!c->hasAuthorization) return 2;
        std::string expected(e->credential + 6, strlen(e->credential) - 8);  // Base64 part, without CR LF
        const std::string& given = c->authorization;
        bool ok = given.size() > 6 && strncasecmp(given.c_str(), "Basic ", 6) == 0 &&
                  SameSecret(given.substr(6), expected);
        if (ok) {
            c->authorization = e->group ? e->group : "group=admin";
            return 1;
        }
        result = -1;
    }
    return result;
}

bool WebUploadAllowed(WebServer* server, WebConnection* c) {
    if (!(c->state & kReplyNeedGrant)) return true;
    int64_t now = WebNowSeconds();
    if (c->peerAddress == server->grantedAddress && now < server->grantExpiry) {
        server->grantExpiry = now + 300;
        return true;
    }
    server->refusedUploads.fetch_add(1);
    return false;
}

int WebMultipartDone(WebServer* server, WebConnection* c) {
    WebMultipart* mp = c->multipart;
    if (mp->fieldCount > 0 && server->uploadPermissionCallback) {
        switch (server->uploadPermissionCallback(server, c, mp)) {
            case 1:
                server->grantedAddress = c->peerAddress;
                server->grantExpiry = WebNowSeconds() + 300;
                break;
            case 2:
                server->grantedAddress = 0;
                server->grantExpiry = 0;
                break;
            case 3: c->state |= kReplyNeedGrant; break;
            case 4: c->state &= ~kReplyNeedGrant; break;
            default: break;
        }
    }
    if (!c->path || !c->path[0]) {
        WebSendRedirect(c, "/");
        return -1;
    }
    return 1;
}

int WebParseMultipart(WebServer* server, WebConnection* c, bool skipReceive) {
    WebMultipart* mp = c->multipart;
    char* buf = c->requestBuffer;
    const int64_t cap = kWebRequestBufferSize;
    if (!skipReceive) {
        if (mp->buffered < cap) {
            long n = platform::NetRecv(c->socket, buf + mp->buffered, static_cast<size_t>(cap - mp->buffered));
            if (n == -2) return 0;
            if (n == 0) return 1;
            if (n < 0) return -1;
            mp->buffered += n;
            c->expiry = WebNowSeconds() + server->idleTimeout;
        }
    }
    const std::string marker = std::string("\r\n") + mp->boundary;
    const size_t blen = strlen(mp->boundary);
    auto consume = [&](int64_t n) {
        memmove(buf, buf + n, static_cast<size_t>(mp->buffered - n));
        mp->buffered -= n;
    };
    for (;;) {
        bool atPartStart = !mp->fileName[0] || mp->partState == 2;
        if (atPartStart) {
            if (mp->buffered >= static_cast<int64_t>(blen + 2) && memcmp(buf, mp->boundary, blen) == 0 &&
                memcmp(buf + blen, "--", 2) == 0)
                return WebMultipartDone(server, c);
            const char* hdrEnd = FindBytes(buf, static_cast<size_t>(mp->buffered), "\r\n\r\n", 4);
            if (!hdrEnd) return mp->buffered >= cap ? -1 : 0;
            if (mp->buffered < static_cast<int64_t>(blen) || memcmp(buf, mp->boundary, blen) != 0) return -1;
            size_t hlen = static_cast<size_t>(hdrEnd - buf);
            std::string name;
            if (const char* d = FindNoCase(buf, hlen, "Content-Disposition: form-data; name=")) {
                const char* s = d + strlen("Content-Disposition: form-data; name=");
                if (s < buf + hlen && *s == '"') ++s;
                const char* q = s;
                while (q < buf + hlen && *q != '"' && *q != '\r') ++q;
                name.assign(s, static_cast<size_t>(q - s));
            }
            const char* fn = FindNoCase(buf, hlen, "filename=");
            int64_t dataStart = static_cast<int64_t>(hlen) + 4;
            if (fn) {
                const char* s = fn + strlen("filename=");
                if (s < buf + hlen && *s == '"') ++s;
                const char* q = s;
                while (q < buf + hlen && *q != '"' && *q != '\r') ++q;
                std::string file(s, static_cast<size_t>(std::min<ptrdiff_t>(q - s, 259)));
                mp->skipPart = !WebUploadAllowed(server, c);
                if (!mp->skipPart) AddField(mp, name.data(), name.size(), file.data(), file.size());
                memcpy(mp->fileName, file.c_str(), file.size() + 1);
                if (!mp->fileName[0]) memcpy(mp->fileName, "-", 2);
                mp->partState = 1;
                consume(dataStart);
                continue;
            }
            const char* end = FindBytes(buf + dataStart, static_cast<size_t>(mp->buffered - dataStart), marker.data(), marker.size());
            if (!end) return mp->buffered >= cap ? -1 : 0;
            AddField(mp, name.data(), name.size(), buf + dataStart, static_cast<size_t>(end - (buf + dataStart)));
            consume(end - buf + 2);
            continue;
        }
        // Inside a file part: everything before the next boundary is file data.
        const char* end = FindBytes(buf, static_cast<size_t>(mp->buffered), marker.data(), marker.size());
        if (end) {
            mp->partState = 2;
            if (!mp->skipPart && server->postCallback) server->postCallback(server, c, mp, buf, end - buf);
            consume(end - buf + 2);
            continue;
        }
        if (mp->buffered < cap) return 0;
        int64_t piece = cap / 2;
        int stop = 0;
        if (!mp->skipPart && server->postCallback) stop = server->postCallback(server, c, mp, buf, piece);
        mp->partState = 0;
        consume(piece);
        if (stop) return 1;
    }
}

int UrlDecode(char* text) {
    auto hex = [](char ch) -> int {
        if (ch >= '0' && ch <= '9') return ch - '0';
        if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
        if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
        return -1;
    };
    char* out = text;
    for (const char* p = text; *p; ++p) {
        if (*p == '%' && p[1] && p[2] && hex(p[1]) >= 0 && hex(p[2]) >= 0) {
            *out++ = static_cast<char>(hex(p[1]) * 16 + hex(p[2]));
            p += 2;
        } else if (*p == '+') {
            *out++ = ' ';
        } else {
            *out++ = *p;
        }
    }
    *out = 0;
    return static_cast<int>(out - text);
}

int WebParseVars(UrlRequest* r) {
    r->variables = nullptr;
    r->variableCount = 0;
    char* text = nullptr;
    char* q = r->path ? strchr(r->path, '?') : nullptr;
    if (q) {
        *q = 0;
        text = q + 1;
    } else if (r->connection && (r->connection->state & kReplyPost) && r->payload && r->payload[0] != '<') {
        text = r->payload;
    }
    if (!text) return 0;
    int pairs = 1;
    for (const char* p = text; *p; ++p) {
        unsigned char ch = static_cast<unsigned char>(*p);
        if (ch < 0x20 || ch > 0x7F) return 0;
        if (ch == '&') ++pairs;
    }
    auto* vars = static_cast<UrlVariable*>(malloc(sizeof(UrlVariable) * static_cast<size_t>(pairs + 1)));
    int count = 0;
    char* p = text;
    while (p) {
        char* amp = strchr(p, '&');
        if (amp) *amp = 0;
        if (*p) {
            char* eq = strchr(p, '=');
            char* value = p + strlen(p);
            if (eq) {
                *eq = 0;
                value = eq + 1;
                UrlDecode(value);
            }
            vars[count].name = p;
            vars[count].value = value;
            ++count;
        }
        p = amp ? amp + 1 : nullptr;
    }
    vars[count].name = nullptr;
    vars[count].value = nullptr;
    r->variables = vars;
    r->variableCount = count;
    return count;
}

void WebFreeVars(UrlRequest* r) {
    free(r->variables);
    r->variables = nullptr;
    r->variableCount = -1;
}

const char* WebGetVar(const UrlVariable* variables, const char* name, const char* defaultValue) {
    for (const UrlVariable* v = variables; v && v->name; ++v)
        if (strcmp(v->name, name) == 0) return v->value;
    return defaultValue;
}

int WebGetVarInt(const UrlVariable* variables, const char* name, int defaultValue) {
    const char* v = WebGetVar(variables, name, nullptr);
    return v ? platform::ParseInt(v) : defaultValue;
}
