// Answering a parsed request: reply headers, buffer and streamed replies, files with ranges,
// chunked framing, folder listings, redirects, fixed pages and the end of a request.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/net.h"
#include "platform/net_files.h"
#include "platform/sync.h"
#include "remote/httpd/web_internal.h"
#include "remote/httpd/web_server.h"

namespace {

const char kServerName[] = "Ostrel";

struct ContentTypeEntry {
    const char* type;
    const char* extensions[3];
};

const ContentTypeEntry kContentTypes[] = {
    {"application/octet-stream", {}},
    {"text/html", {"htm", "html"}},
    {"text/xml", {"xml", "xsl"}},
    {"text/plain", {"txt"}},
    {"application/vnd.mozilla.xul+xml", {"xul"}},
    {"text/css", {"css"}},
    {"application/x-javascript", {"js"}},
    {"image/png", {"png"}},
    {"image/jpeg", {"jpg"}},
    {"image/gif", {"gif"}},
    {"application/x-shockwave-flash", {"swf"}},
    {"audio/mpeg", {"mp3"}},
    {"video/mpeg", {"mpg", "mpeg"}},
    {"video/avi", {"avi"}},
    {"video/mp4", {"mp4"}},
    {"video/quicktime", {"mov"}},
    {"video/x-mpeg-avc", {"264"}},
    {"video/flv", {"flv"}},
    {"video/MP2T", {"ts"}},
    {"video/3gpp", {"3gp"}},
    {"video/x-ms-asf", {"asf"}},
    {"application/octet-stream", {}},
    {"application/x-datastream", {}},
    {"application/x-mpegURL", {"m3u8"}},
    {"application/sdp", {"sdp"}},
    {"application/binhex", {}},
};
constexpr int kContentTypeCount = sizeof kContentTypes / sizeof kContentTypes[0];
constexpr int kUnknownType = 21;

const char* const kDefaultPages[] = {"index.htm", "index.html", "default.htm", "main.xul"};

const char k404Header[] = "HTTP/1.1 404 Not Found\r\nServer: %s\r\nContent-length: %d\r\nContent-Type: text/html\r\n\r\n";
const char k404Page[] =
    "<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1><p>The requested URL has no "
    "content.</p></body></html>";
const char k403Header[] = "HTTP/1.1 403 Forbidden\r\nServer: %s\r\nContent-length: %d\r\nContent-Type: text/html\r\n\r\n";
const char k403Page[] = "<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1></body></html>";

constexpr int kFixedSendMs = 1000;  // a fixed page goes to a fresh socket; its buffer takes it at once

std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (char ch : text) {
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '\'': out += "&#39;"; break;
            case '"': out += "&quot;"; break;
            default: out += ch;
        }
    }
    return out;
}

std::string UrlEscape(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : text) {
        if (isalnum(ch) || ch == '-' || ch == '.' || ch == '_' || ch == '~') {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += hex[ch >> 4];
            out += hex[ch & 15];
        }
    }
    return out;
}

// A Location value never carries CR, LF or other control bytes: they are percent-encoded.
std::string SafeLocation(const char* location) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(location ? location : ""); *p; ++p) {
        if (*p <= 0x20 || *p >= 0x7F) {
            out += '%';
            out += hex[*p >> 4];
            out += hex[*p & 15];
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out;
}

// A header value supplied by a handler is cut at its first control byte.
std::string SafeHeaderValue(const char* text) {
    std::string out;
    for (const char* p = text; *p && static_cast<unsigned char>(*p) >= 0x20; ++p) out += *p;
    return out;
}

std::string ExtensionOf(const std::string& name) {
    size_t slash = name.find_last_of('/');
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return name.substr(dot + 1);
}

bool IsDriveLetter(const std::string& segment) {
    return segment.size() >= 2 && isalpha(static_cast<unsigned char>(segment[0])) && segment[1] == ':';
}

// The server's folder held open. It is opened again when another folder is asked for, and when the
// folder's name has come to name another folder (checked at most once a second, and on a miss).
int FolderDescriptor(WebServer* server, const std::string& folder, bool renew) {
    const char* name = folder.empty() ? "." : folder.c_str();
    int64_t now = WebNowSeconds();
    if (server->folderFd >= 0 && server->folderFdPath == folder && !renew &&
        (now == server->folderCheckedAt || platform::NetFolderIs(server->folderFd, name))) {
        server->folderCheckedAt = now;
        return server->folderFd;
    }
    if (server->folderFd >= 0) platform::NetCloseFile(server->folderFd);
    server->folderFd = platform::NetOpenFolder(name);
    server->folderFdPath = folder;
    server->folderCheckedAt = now;
    return server->folderFd;
}

// Opens the regular file that mapped (a path WebMapPath built under folder) names. When contained,
// it must lie inside folder: the kernel checks that in the same lookup that opens it, and where it
// cannot tell (a symbolic link on the way), both paths are resolved and compared. Answers the
// descriptor, or -1 with *kind telling what the path names instead.
int OpenServed(WebServer* server, const std::string& folder, const std::string& mapped, bool contained,
               platform::NetPathKind* kind, int64_t* size, int64_t* mtime) {
    size_t prefix = folder.size() + (folder.empty() || folder.back() != '/' ? 1 : 0);
    if (contained && mapped.size() >= prefix) {
        const std::string relative = mapped.size() > prefix ? mapped.substr(prefix) : std::string(".");
        for (int attempt = 0; attempt < 2; ++attempt) {
            int dir = FolderDescriptor(server, folder, attempt > 0);
            if (dir < 0) break;
            int fd = platform::NetOpenBeneath(dir, relative.c_str(), kind, size, mtime);
            if (fd == platform::kNetBeneathUndecided) break;
            // A miss may mean that the folder was replaced since it was opened: look once more.
            if (fd >= 0 || *kind != platform::NetPathKind::Missing || attempt > 0 ||
                platform::NetFolderIs(dir, folder.empty() ? "." : folder.c_str()))
                return fd;
        }
    }
    *kind = platform::NetStatPath(mapped.c_str());
    if (*kind != platform::NetPathKind::File) return -1;
    // Only regular files inside the folder: no device, FIFO or link out of it.
    int fd = platform::NetOpenRegularFile(mapped.c_str(), false, size, mtime);
    if (fd >= 0 && contained && !platform::NetPathInside(folder, mapped)) {
        platform::NetCloseFile(fd);
        fd = -1;
    }
    if (fd < 0) *kind = platform::NetPathKind::Missing;
    return fd;
}

void CloseFile(WebConnection* c) {
    if (c->file >= 0) platform::NetCloseFile(c->file);
    c->file = -1;
}

}  // namespace

int WebContentType(const char* extension) {
    if (!extension) return kUnknownType;
    size_t len = strlen(extension);
    if (len >= 5) {
        if (extension[4] != '?') return kUnknownType;
        len = 4;
    }
    if (len < 2) return kUnknownType;
    for (int i = 0; i < kContentTypeCount; ++i)
        for (const char* ext : kContentTypes[i].extensions)
            if (ext && strlen(ext) == len && strncasecmp(ext, extension, len) == 0) return i;
    return kUnknownType;
}

const char* WebContentTypeText(int index) {
    if (index < 0 || index >= kContentTypeCount) index = 0;
    return kContentTypes[index].type;
}

const char* WebReasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 201: return "Created";
        case 202: return "Accepted";
        case 203: return "Non-Authoritative Information";
        case 204: return "No Content";
        case 205: return "Reset Content";
        case 206: return "Partial Content";
        case 300: return "Multiple Choices";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 304: return "Not Modified";
        case 305: return "Use Proxy";
        case 307: return "Temporary Redirect";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 406: return "Not Acceptable";
        case 407: return "Proxy Authentication Required";
        case 408: return "Request Timeout";
        case 409: return "Conflict";
        case 410: return "Gone";
        case 411: return "Length Required";
        case 412: return "Precondition Failed";
        case 413: return "Request Entity Too Large";
        case 414: return "Request-URI Too Long";
        case 416: return "Requested Range Not Satisfiable";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        default: return "";
    }
}

void HttpDateString(int64_t time, char* buffer, int size) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t t = static_cast<time_t>(time);
    struct tm tm {};
    gmtime_r(&t, &tm);
    snprintf(buffer, static_cast<size_t>(size), "%s, %02d %s %d %02d:%02d:%02d GMT", days[tm.tm_wday % 7], tm.tm_mday,
             months[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

void WebQueuePiece(WebConnection* c, char* data, int32_t length, bool chunked, bool upperHex) {
    c->replyBuffer = data;
    c->pending = length;
    if (chunked && length > 0) {
        char head[24];
        snprintf(head, sizeof head, upperHex ? "%X\r\n" : "%x\r\n", static_cast<unsigned>(length));
        c->out += head;
        c->tail += "\r\n";
    }
}

void WebQueueFinal(WebConnection* c) {
    if (c->state & kReplyChunked) c->tail += "0\r\n\r\n";
    c->finalQueued = true;
}

namespace {

// Sends text[*done...] to the end: 1 when all is out, 0 when the socket is full, -1 on failure.
int SendText(WebConnection* c, std::string* text, size_t* done) {
    while (*done < text->size()) {
        long n = platform::NetSend(c->socket, text->data() + *done, text->size() - *done);
        if (n < 0) return -1;
        if (n == 0) return 0;
        *done += static_cast<size_t>(n);
    }
    text->clear();
    *done = 0;
    return 1;
}

}  // namespace

int WebFlush(WebServer* server, WebConnection* c) {
    int r = SendText(c, &c->out, &c->outSent);
    if (r <= 0) return r;
    while (c->pending > 0) {
        long n = platform::NetSend(c->socket, c->replyBuffer, static_cast<size_t>(c->pending));
        if (n < 0) return -1;
        if (n == 0) return 0;
        c->replyBuffer += n;
        c->pending -= static_cast<int32_t>(n);
        c->sent += n;
        c->state |= kReplyDataSent;
        server->bytesSent.fetch_add(static_cast<uint64_t>(n));
    }
    return SendText(c, &c->tail, &c->tailSent);
}

int WebFormatHeader(WebServer* server, WebConnection* c, int64_t modified, char* buffer) {
    std::string h;
    char line[160];
    // Every connection carries one request, so the reply says so.
    const char* word = "close";
    if (!(c->state & kReplyClose)) word = "keep-alive";
    snprintf(line, sizeof line, "%s %d %s\r\nServer: %s\r\nCache-control: no-cache\r\nPragma: no-cache\r\nConnection: %s\r\n",
             "HTTP/1.1", c->status, WebReasonPhrase(c->status), kServerName, word);
    h += line;
    if (!(server->flags & kWebRangesRefused)) h += "Accept-Ranges: bytes\r\n";
    if (modified) {
        char date[64];
        HttpDateString(modified, date, sizeof date);
        h += "Last-Modified: ";
        h += date;
        h += "\r\n";
    }
    if (c->cseq) {
        snprintf(line, sizeof line, "CSeq: %d\r\n", c->cseq);
        h += line;
    }
    h += "Content-Type: ";
    h += c->mimeText ? SafeHeaderValue(c->mimeText) : std::string(WebContentTypeText(c->contentType));
    h += "\r\n";
    if (c->status == 206) {
        snprintf(line, sizeof line, "Content-Range: bytes %lld-%lld/%lld\r\n", static_cast<long long>(c->rangeStart),
                 static_cast<long long>(c->fileSize - 1), static_cast<long long>(c->fileSize));
        h += line;
    } else if (c->status == 416) {
        snprintf(line, sizeof line, "Content-Range: bytes */%lld\r\nContent-Length: 0\r\n",
                 static_cast<long long>(c->fileSize));
        h += line;
    }
    if (c->state & kReplyChunked) {
        h += "Transfer-Encoding: chunked\r\n";
    } else if (c->contentLength != 0) {
        snprintf(line, sizeof line, "Content-Length: %lld\r\n", static_cast<long long>(c->contentLength));
        h += line;
    }
    if (c->status == 301 || c->status == 307) {
        h += "Location: ";
        h += SafeLocation(c->replyBuffer);
        h += "\r\n";
    }
    h += "\r\n";
    // A header that does not fit is refused rather than cut (a cut one would lose its blank line).
    if (h.size() > 512) return -1;
    memcpy(buffer, h.data(), h.size());
    return static_cast<int>(h.size());
}

int WebSendHeader(WebServer* server, WebConnection* c) {
    if (!(c->state & kReplyHeaderSent)) {
        char header[512];
        int n = WebFormatHeader(server, c, static_cast<int64_t>(time(nullptr)), header);
        if (n < 0) return -1;
        c->out.append(header, static_cast<size_t>(n));
        c->replyHeaderLength = n;
    }
    // The handler's first piece is already pending: frame it when chunked.
    if ((c->state & kReplyChunked) && c->pending > 0) {
        char head[24];
        snprintf(head, sizeof head, "%x\r\n", static_cast<unsigned>(c->pending));
        c->out += head;
        c->tail += "\r\n";
    }
    return 0;
}

int WebSendBufferData(WebServer* server, WebConnection* c) {
    int r = WebFlush(server, c);
    if (r <= 0) return r;
    if (c->finalQueued) return 1;
    if (c->state & kReplyStreamed) {
        uint32_t more = 0;
        if (c->route && c->route->handler) {
            UrlRequest req;
            req.server = server;
            req.connection = c;
            req.path = c->path;
            req.reply = c->requestBuffer;
            req.reply[0] = 0;
            req.payload = c->payload;
            req.length = kWebRequestBufferSize;
            req.context = c->route->context;
            more = c->route->handler(&req);
            if (more) {
                int len = std::clamp(req.length, 0, kWebRequestBufferSize);
                WebQueuePiece(c, req.reply, len, (c->state & kReplyChunked) != 0, false);
                if (len == 0) return 0;
                return WebFlush(server, c) < 0 ? -1 : 0;
            }
        }
        c->state |= kReplyClose;
    }
    // Everything is out: the last chunk goes in this same call, so it cannot be lost.
    WebQueueFinal(c);
    r = WebFlush(server, c);
    return r < 0 ? -1 : r;
}

bool WebMapPath(const std::string& folder, const char* path, bool fromHandler, std::string* mapped,
                bool* trailingSlash) {
    auto hex = [](char ch) -> int {
        if (ch >= '0' && ch <= '9') return ch - '0';
        if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
        if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
        return -1;
    };
    // Decode the whole path first, then split it: an encoded "..", '/' or NUL cannot slip past the
    // checks below.
    std::string decoded;
    for (const char* p = path ? path : ""; *p && *p != '?'; ++p) {
        if (*p == '%') {
            if (!p[1] || !p[2]) break;  // an escape cut short by the end ends the path
            if (hex(p[1]) >= 0 && hex(p[2]) >= 0) {
                decoded += static_cast<char>(hex(p[1]) * 16 + hex(p[2]));
                p += 2;
                continue;
            }
        }
        decoded += *p == '+' ? ' ' : *p;
    }
    if (decoded.find('\0') != std::string::npos || decoded.find('\\') != std::string::npos) return false;
    // '~' (the working folder) is a handler's privilege; in a client's path it is an ordinary name.
    bool home = fromHandler && !decoded.empty() && decoded[0] == '~';
    if (home) decoded.erase(0, 1);
    *trailingSlash = decoded.empty() || decoded.back() == '/';

    std::vector<std::string> segments;
    size_t pos = 0;
    while (pos <= decoded.size()) {
        size_t next = decoded.find('/', pos);
        if (next == std::string::npos) next = decoded.size();
        std::string seg = decoded.substr(pos, next - pos);
        pos = next + 1;
        // Empty, "." and ".." segments (any run of dots) are dropped, never resolved: nothing climbs
        // above the folder.
        if (seg.find_first_not_of('.') == std::string::npos) continue;
        if (segments.empty() && IsDriveLetter(seg)) return false;
        // A run of '.' becomes one (the extension starts after it).
        std::string collapsed;
        for (char ch : seg)
            if (!(ch == '.' && !collapsed.empty() && collapsed.back() == '.')) collapsed += ch;
        segments.push_back(collapsed);
    }
    std::string out;
    if (!home) {
        out = folder;
        if (out.empty() || out.back() != '/') out += '/';
    }
    for (size_t i = 0; i < segments.size(); ++i) {
        if (i) out += '/';
        out += segments[i];
    }
    if (home && out.empty()) out.push_back('.');
    if (out.size() > 4095) return false;
    *mapped = out;
    return true;
}

void WebListDirectory(WebConnection* c, const std::string& folder) {
    std::string requestPath = HtmlEscape(c->path ? c->path : "");
    std::string page = "<html><head><title>/" + requestPath +
                       "</title></head><body><table border=0 cellpadding=0 cellspacing=0 width=100%><h2>Directory of /" +
                       requestPath + "</h2><hr>";
    std::vector<platform::NetDirEntry> entries;
    platform::NetListFolder(folder, &entries);
    platform::NetDirEntry parent;
    parent.name = "..";
    parent.isFolder = true;
    if (platform::NetStatPath((folder + "/..").c_str()) == platform::NetPathKind::Folder) entries.insert(entries.begin(), parent);
    char date[64];
    char line[64];
    for (const auto& e : entries) {
        std::string href = UrlEscape(e.name), name = HtmlEscape(e.name);
        if (e.isFolder) {
            page += "<tr><td width=35%><a href='" + href + "/'>" + name +
                    "</a></td><td width=15%>&lt;dir&gt;</td><td width=15%>";
        } else {
            snprintf(line, sizeof line, "%lld KB", static_cast<long long>(e.size / 1024));
            page += "<tr><td width=35%><a href='" + href + "'>" + name + "</a></td><td width=15%>" + line +
                    "</td><td width=15%>";
            std::string ext = ExtensionOf(e.name);
            if (!ext.empty()) {
                int type = WebContentType(ext.c_str());
                page += type == kUnknownType ? HtmlEscape(ext) + " file" : std::string(WebContentTypeText(type));
            }
        }
        HttpDateString(e.mtime, date, sizeof date);
        page += "</td><td>";
        page += date;
        page += "</td></tr>";
    }
    page += "</table><hr><i>Directory content generated by ";
    page += kServerName;
    page += "</i></body></html>";
    char* buffer = static_cast<char*>(malloc(page.size() + 1));
    memcpy(buffer, page.c_str(), page.size() + 1);
    if (c->state & kReplyFreeBuffer) free(c->bufferToFree);
    c->bufferToFree = buffer;
    c->replyBuffer = buffer;
    c->pending = static_cast<int32_t>(page.size());
    c->contentLength = static_cast<int64_t>(page.size());
    c->contentType = 1;
    c->state |= kReplyBuffer | kReplyFreeBuffer;
}

int WebSubstituteVars(WebServer* server, char* text, int length, int* consumed) {
    // One pass that compacts in place: r reads, w writes (w never passes r, since a value is held to
    // its reference's length), so a piece full of references costs no more than a plain one.
    int r = 0, w = 0;
    while (r < length) {
        if (r + 1 >= length || text[r] != '$' || text[r + 1] != '$') {
            text[w++] = text[r++];
            continue;
        }
        const char* close = static_cast<const char*>(memmem(text + r + 2, static_cast<size_t>(length - r - 2), "$$", 2));
        if (!close) {
            // Unclosed in this piece: the rest is read again with the next one.
            *consumed = r;
            return w;
        }
        int end = static_cast<int>(close - text);
        int refLen = end + 2 - r;
        std::string name(text + r + 2, static_cast<size_t>(end - r - 2));
        // The callback writes at the reference's place in the output; what lies between w and the
        // end of the reference has been read already.
        int n = server->variableCallback ? server->variableCallback(server, name.c_str(), text + w, refLen) : -1;
        if (n < 0) {
            text[w] = text[w + 1] = '$';
            memcpy(text + w + 2, name.data(), name.size());
            text[w + refLen - 2] = text[w + refLen - 1] = '$';
            n = refLen;
        }
        w += std::min(n, refLen);
        r = end + 2;
    }
    *consumed = length;
    return w;
}

int WebServeFile(WebServer* server, WebConnection* c) {
    const char* path = c->path ? c->path : "";
    int r = -1;
    if (server->aliasTable && !(c->state & kReplyOwnFile)) {
        for (WebAlias* a = server->aliasTable; a->prefix; ++a) {
            size_t n = strlen(a->prefix);
            if (strncmp(path, a->prefix, n) == 0) {
                r = WebSendFile(server, c, a->folder, path + n);
                break;
            }
        }
    }
    if (r < 0) r = WebSendFile(server, c, server->webRoot, path);
    if (r == 0) return 0;
    if (r > 0) return 1;
    WebSendFixedPage(c->socket, k404Header, k404Page);
    c->state |= kReplyClose;
    return 1;
}

int WebSendFile(WebServer* server, WebConnection* c, const std::string& folder, const char* path) {
    int64_t size = 0, mtime = 0;
    std::string typeName;
    if (c->state & kReplyOwnFile) {
        if (c->file < 0 || !platform::NetFileInfo(c->file, &size, &mtime)) return -1;
        typeName = path ? path : "";
    } else {
        std::string mapped;
        bool trailing = false;
        if (!WebMapPath(folder, path, c->pathFromHandler, &mapped, &trailing)) return -1;
        const bool contained = !(c->pathFromHandler && path && path[0] == '~');
        platform::NetPathKind kind = platform::NetPathKind::Missing;
        int fd = OpenServed(server, folder, mapped, contained, &kind, &size, &mtime);
        if (fd >= 0) {
            typeName = mapped;
        } else if (kind == platform::NetPathKind::Folder) {
            std::string base = mapped;
            if (base.back() != '/') base += '/';
            for (const char* page : kDefaultPages) {
                platform::NetPathKind pageKind;
                fd = OpenServed(server, folder, base + page, contained, &pageKind, &size, &mtime);
                if (fd >= 0) {
                    typeName = page;
                    break;
                }
            }
            if (fd < 0) {
                if (!(server->flags & kWebListingAllowed)) return -1;
                if (contained && !platform::NetPathInside(folder, mapped)) return -1;
                if (trailing) {
                    WebListDirectory(c, mapped);
                    return WebSendHeader(server, c) < 0 ? 1 : 0;
                }
                std::string raw = path;
                size_t q = raw.find('?');
                if (q != std::string::npos) raw.erase(q);
                size_t slash = raw.find_last_of('/');
                std::string location = (slash == std::string::npos ? raw : raw.substr(slash + 1)) + "/";
                WebSendRedirect(c, location.c_str());
                return 1;
            }
        } else {
            return -1;
        }
        c->file = fd;
    }

    c->fileSize = size;
    if (c->contentType == 0) {
        std::string ext = ExtensionOf(typeName);
        c->contentType = WebContentType(ext.c_str());
    }
    bool substitute = server->variableCallback && (c->contentType == 1 || c->contentType == 6);
    int64_t start = 0;
    if (c->rangeGiven && c->rangeStart != 0 && !substitute) {
        if (c->rangeStart > size) {
            c->status = 416;
        } else if (c->rangeStart < size) {
            start = c->rangeStart;
            if (!platform::NetSeekFile(c->file, start)) return -1;
            c->status = 206;
        }
    }
    if (c->status == 416) {
        c->contentLength = 0;
        c->fileEnd = 0;
    } else if (substitute) {
        // Substitution changes the length: no length is announced, chunks (or the close) end it.
        c->state |= kReplySubstitute;
        if (c->minorVersion > 0) c->state |= kReplyChunked;
        c->contentLength = 0;
        c->fileEnd = -1;
    } else {
        c->contentLength = size - start;
        c->fileEnd = c->contentLength;
    }
    char header[512];
    int n = WebFormatHeader(server, c, mtime, header);
    if (n < 0) return -1;
    if (c->state & kReplyChunked) {
        c->out.append(header, static_cast<size_t>(n));  // the data after it is framed, the header is not
    } else {
        // The header waits at the start of the buffer and leaves in one send with the first piece.
        memcpy(c->requestBuffer, header, static_cast<size_t>(n));
        c->headerInBuffer = n;
    }
    c->replyHeaderLength = n;
    c->sent = 0;
    c->fileDataSent = 0;
    server->filesServed.fetch_add(1);
    return 0;
}

int WebSendFileData(WebServer* server, WebConnection* c) {
    if (server->rateLimit > 0) {
        int64_t elapsed = ((WebNowSeconds() - c->startTime) * 1024) | 1;
        int64_t rate = c->sent / elapsed;
        if (rate > 0 && rate > server->rateLimit) {
            c->sendAfter = platform::TickCount() + 1000;
            return 0;
        }
    }
    const bool chunked = (c->state & kReplyChunked) != 0;
    // One piece per step, so the other slots take turns; the step that sends the last byte also
    // ends the reply, so a finished slot never waits for another pass (and never counts against its
    // client's allowance when it reconnects at once).
    bool nearEnd = false;
    for (int round = 0; round < 4; ++round) {
        int r = WebFlush(server, c);
        if (r < 0) {
            CloseFile(c);
            c->state |= kReplyClose;
            return -1;
        }
        if (r == 0) return 0;
        if (c->finalQueued) {
            CloseFile(c);
            return 1;
        }
        const int32_t head = c->headerInBuffer;
        if (head == 0 && c->fileEnd >= 0 && c->fileDataSent >= c->fileEnd) {
            WebQueueFinal(c);
            continue;
        }
        if (round > 0 && !nearEnd) return 0;
        char* data = c->requestBuffer + head;
        int64_t want = kWebRequestBufferSize - head;
        if (c->fileEnd >= 0) want = std::min(want, c->fileEnd - c->fileDataSent);
        long n = 0;
        bool padding = false;
        if (want > 0) {
            n = c->file >= 0 ? platform::NetReadFile(c->file, data, static_cast<long>(want)) : 0;
            if (n < 0) {
                CloseFile(c);
                return -1;
            }
            if (n == 0 && c->fileEnd >= 0) {
                // The file shrank after the header went out: zeros up to the announced length.
                n = static_cast<long>(want);
                memset(data, 0, static_cast<size_t>(n));
                padding = true;
            }
        }
        nearEnd = n < want;  // a short read: the end of the file is reached or close
        int length = static_cast<int>(n);
        if ((c->state & kReplySubstitute) && !padding && length > 0) {
            int consumed = length;
            int out = WebSubstituteVars(server, data, length, &consumed);
            if (consumed > 0) {
                if (consumed < length) platform::NetSeekFileBy(c->file, consumed - static_cast<int64_t>(length));
                length = out;
            }
            c->fileDataSent += consumed > 0 ? consumed : length;
        } else {
            c->fileDataSent += length;
        }
        c->headerInBuffer = 0;
        if (n == 0) {
            // The end of a file whose length was not announced (or a reply with no data).
            WebQueuePiece(c, c->requestBuffer, head, false, false);
            WebQueueFinal(c);
            continue;
        }
        if (head > 0)
            WebQueuePiece(c, c->requestBuffer, head + length, false, false);
        else
            WebQueuePiece(c, data, length, chunked, true);
    }
    int r = WebFlush(server, c);
    if (r < 0) {
        CloseFile(c);
        return -1;
    }
    if (r == 1 && c->finalQueued) {
        CloseFile(c);
        return 1;
    }
    return 0;
}

int WebStartReply(WebServer* server, WebConnection* c) {
    uint32_t result = 0;
    if (WebDispatchFunction dispatch = WebCurrentDispatch(); dispatch && server->routes) result = dispatch(server, c);
    if (!result) c->state |= kReplyFile;
    if (c->state & kReplyOwnFile) c->state |= kReplyFile;
    // One request per connection: the reply announces the close it will end with.
    c->state = (c->state & ~(kReplyReading | kReplySending)) | kReplySending | kReplyClose;
    if (c->minorVersion == 0) c->state &= ~kReplyChunked;
    if (c->state & (kReplyBuffer | kReplyStreamed)) {
        if (WebSendHeader(server, c) < 0) return -1;
        return WebSendBufferData(server, c) == 0 ? 0 : 1;
    }
    if (c->state & kReplyFile) {
        if (WebServeFile(server, c) != 0) return 1;
        int r = (c->state & kReplyBuffer) ? WebSendBufferData(server, c) : WebSendFileData(server, c);
        return r == 0 ? 0 : 1;
    }
    if (c->state & kReplyRedirect) {
        WebSendRedirect(c, c->replyBuffer);
        return 1;
    }
    return -1;
}

void WebSendRedirect(WebConnection* c, const char* location) {
    // Formatted apart from the reply buffer, which may hold the location itself.
    std::string reply = std::string("HTTP/1.1 301 Moved Permanently\r\nServer: ") + kServerName +
                        "\r\nLocation: " + SafeLocation(location) + "\r\n\r\n";
    if (c->socket >= 0) platform::NetSendAll(c->socket, reply.data(), reply.size(), kFixedSendMs);
    c->state |= kReplyClose;
}

void WebSendAuthRequest(WebServer*, WebConnection* c, int code) {
    const char* message = code > 1 ? "Authentication required" : "Authentication failed";
    char header[256];
    snprintf(header, sizeof header,
             "HTTP/1.1 401 Authorization Required\r\nWWW-Authenticate: Basic realm=\"%s\"\r\nContent-Length: %d\r\n"
             "Content-Type: text/html\r\n\r\n",
             "Login", static_cast<int>(strlen(message)));
    std::string reply = std::string(header) + message;
    if (c->socket >= 0) platform::NetSendAll(c->socket, reply.data(), reply.size(), kFixedSendMs);
    c->state |= kReplyClose;
}

void WebSendFixedPage(int socket, const char* headerFormat, const char* page) {
    if (socket < 0) return;
    char header[256];
    snprintf(header, sizeof header, headerFormat, kServerName, static_cast<int>(strlen(page)));
    std::string reply = std::string(header) + page;
    platform::NetSendAll(socket, reply.data(), reply.size(), kFixedSendMs);
}

void WebSend403(int socket) { WebSendFixedPage(socket, k403Header, k403Page); }

void WebSend404(int socket) { WebSendFixedPage(socket, k404Header, k404Page); }

void WebEndRequest(WebServer* server, WebConnection* c) {
    CloseFile(c);
    if (WebMultipart* mp = c->multipart) {
        if (server->postCallback) server->postCallback(server, c, mp, nullptr, 0);
        for (int i = 0; i < mp->fieldCount; ++i) {
            free(mp->fields[i].name);
            free(mp->fields[i].value);
        }
        free(mp);
        c->multipart = nullptr;
    }
    free(c->payload);
    c->payload = nullptr;
    if (c->route && c->route->handler &&
        ((c->state & kReplyStreamed) || ((c->state & kReplyCallAtClose) && (c->state & kReplyClose)))) {
        // The handler's last call: it releases what it holds for this connection.
        UrlRequest req;
        req.server = server;
        req.connection = c;
        req.path = c->path;
        req.reply = nullptr;
        req.length = -1;
        req.context = c->route->context;
        c->route->handler(&req);
    }
    c->route = nullptr;
    if ((c->state & kReplyFreeBuffer) && c->bufferToFree) free(c->bufferToFree);
    c->bufferToFree = nullptr;
    free(c->path);
    c->path = nullptr;
    if (c->socket >= 0) {
        // Unread request bytes would turn the close into a reset that can cost the client its reply.
        if (c->inputConsumed)
            platform::NetClose(c->socket);
        else
            platform::NetCloseGracefully(c->socket);
        c->socket = -1;
        server->clients.fetch_sub(1);
    }
    c->requestCount = 0;
}
