// Request parsing, variables, path mapping, content types and reply headers, without sockets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "remote/httpd/web_server.h"

namespace {

// A connection holding one request as if it had been received.
struct ParsedRequest {
    WebServer server;
    WebConnection c;
    int result = 0;

    explicit ParsedRequest(const std::string& text, uint32_t peer = 0x7F000001) {
        WebResetConnection(&c);
        c.peerAddress = peer;
        memcpy(c.requestBuffer, text.data(), text.size());
        c.requestBuffer[text.size()] = 0;
        c.pending = static_cast<int32_t>(text.size());
        result = WebParseRequestHead(&server, &c);
    }
    ~ParsedRequest() {
        WebEndRequest(&server, &c);
        free(c.requestBuffer);
    }
};

TEST(WebRequestHead, RequestLineAndHeaders) {
    struct Case {
        const char* request;
        int result;
        const char* path;
        int minor;
    } cases[] = {
        {"GET /a%20b?x=1 HTTP/1.1\r\nHost: h\r\n\r\n", 0, "a%20b?x=1", 1},
        {"GET / HTTP/1.0\r\n\r\n", 0, "", 0},
        {"POST /xmlrpc HTTP/1.1\r\n\r\n", 0, "xmlrpc", 1},
        {"GET rtsp://h/stream RTSP/1.0\r\nCSeq: 3\r\n\r\n", 0, "rtsp://h/stream", 0},
        {"GET http://h/x HTTP/1.1\r\n\r\n", 0, "http://h/x", 1},  // absolute form kept whole
        // A version-like text in the target decides nothing.
        {"GET /HTTP/1.1/x HTTP/1.0\r\n\r\n", 0, "HTTP/1.1/x", 0},
        {"GETX / HTTP/1.1\r\n\r\n", -1, nullptr, 0},
        {"PUT / HTTP/1.1\r\n\r\n", -1, nullptr, 0},
        {"OPTIONS * HTTP/1.1\r\n\r\n", -1, nullptr, 0},
        {"GET / HTTP/2.0\r\n\r\n", -1, nullptr, 0},
        // The version must stand in the request line, not in a header.
        {"GET /x\r\nReferer: HTTP/1.1\r\n\r\n", -1, nullptr, 0},
        {"GET /x HTTP/1.x\r\n\r\n", -1, nullptr, 0},
        {"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", -1, nullptr, 0},
        {"GET / HTTP/1.1\r\nContent-Length: abc\r\n\r\n", -1, nullptr, 0},
        {"GET / HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n", -1, nullptr, 0},
        {"GET / HTTP/1.1\r\nContent-Length: 12x\r\n\r\n", -1, nullptr, 0},
        {"POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=\r\n\r\n", -1, nullptr, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.request);
        ParsedRequest r(k.request);
        EXPECT_EQ(r.result, k.result);
        if (k.result == 0) {
            ASSERT_NE(r.c.path, nullptr);
            EXPECT_STREQ(r.c.path, k.path);
            EXPECT_EQ(r.c.minorVersion, k.minor);
        }
    }
    ParsedRequest huge("GET / HTTP/1.1\r\nContent-Length: " + std::string(300, '9') + "\r\n\r\n");
    EXPECT_EQ(huge.result, -1);
}

TEST(WebRequestHead, TargetLengthLimit) {
    ParsedRequest ok("GET /" + std::string(511, 'a') + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(ok.result, 0);
    EXPECT_EQ(strlen(ok.c.path), 511u);
    ParsedRequest tooLong("GET /" + std::string(512, 'a') + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(tooLong.result, -1);
}

TEST(WebRequestHead, HeaderFieldsAreCutAtTheirLine) {
    ParsedRequest r(
        "GET /x HTTP/1.1\r\nhost: example\r\nREFERER: http://r/\r\nRange: bytes=3000000000-3000000099\r\n"
        "CSeq: 7\r\nConnection: close\r\nAuthorization: Basic abc\r\n\r\n");
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.c.host, "example");
    EXPECT_EQ(r.c.referer, "http://r/");
    EXPECT_EQ(r.c.authorization, "Basic abc");
    EXPECT_TRUE(r.c.rangeGiven);
    EXPECT_EQ(r.c.rangeStart, 3000000000LL);
    EXPECT_EQ(r.c.cseq, 7);
    EXPECT_TRUE(r.c.state & kReplyClose);

    ParsedRequest suffix("GET /x HTTP/1.1\r\nRange: bytes=-500\r\n\r\n");
    EXPECT_FALSE(suffix.c.rangeGiven);  // no first number: ignored
}

TEST(WebRequestHead, ForwardedForOnlyFromALoopbackPeer) {
    const char* request = "GET / HTTP/1.1\r\nX-Forwarded-For: 10.1.2.3\r\n\r\n";
    ParsedRequest local(request, 0x7F000001);
    EXPECT_EQ(local.c.peerAddress, 0x0A010203u);
    ParsedRequest remote(request, 0xC0A80005);  // 192.168.0.5
    EXPECT_EQ(remote.c.peerAddress, 0xC0A80005u);
    ParsedRequest bad("GET / HTTP/1.1\r\nX-Forwarded-For: 10.1.2.300\r\n\r\n", 0x7F000001);
    EXPECT_EQ(bad.c.peerAddress, 0x7F000001u);
}

TEST(WebRequestHead, UploadKinds) {
    ParsedRequest mp("POST /up HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n\r\n");
    ASSERT_EQ(mp.result, 0);
    ASSERT_NE(mp.c.multipart, nullptr);
    EXPECT_STREQ(mp.c.multipart->boundary, "--XyZ");
    EXPECT_TRUE(mp.c.state & kReplyMultipart);

    ParsedRequest raw("POST /up HTTP/1.1\r\nContent-Type: text/plain; FileName=a.txt\r\n\r\n");
    ASSERT_EQ(raw.result, 0);
    ASSERT_NE(raw.c.multipart, nullptr);
    EXPECT_STREQ(raw.c.multipart->boundary, "");
    EXPECT_STREQ(raw.c.multipart->fileName, "a.txt");
}

TEST(WebMapPath, StaysInsideTheRoot) {
    struct Case {
        const char* path;
        bool fromHandler;
        const char* mapped;  // nullptr: refused
    } cases[] = {
        {"index.html", false, "/r/index.html"},
        {"a//b/./c.txt", false, "/r/a/b/c.txt"},
        {"/etc/passwd", false, "/r/etc/passwd"},
        {"a%20b+c.txt", false, "/r/a b c.txt"},
        {"x.txt?y=../..", false, "/r/x.txt"},
        {"a.....mp3", false, "/r/a.mp3"},
        {"~/etc/passwd", false, "/r/~/etc/passwd"},  // '~' is a plain name for a client
        {"~secret", false, "/r/~secret"},
        {"~extensions/x.xml", true, "extensions/x.xml"},
        {"~", true, "."},
        {"", false, "/r/"},
        {"%4", false, "/r/"},  // an escape cut short ends the path
        // Dot segments, plain or encoded, are dropped: nothing climbs out of the folder.
        {"../x", false, "/r/x"},
        {"a/../../x", false, "/r/a/x"},
        {"%2e%2e/x", false, "/r/x"},
        {"..%2fx", false, "/r/x"},
        {"%2E%2E%2Fsecret", false, "/r/secret"},
        {"...", false, "/r/"},
        {"~/../x", true, "x"},
        {"a%00.html", false, nullptr},
        {"..\\x", false, nullptr},
        {"a%5cb", false, nullptr},
        {"C:/Windows/win.ini", false, nullptr},
        {"c%3a/x", false, nullptr},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.path);
        std::string mapped;
        bool trailing = false;
        bool ok = WebMapPath("/r", k.path, k.fromHandler, &mapped, &trailing);
        EXPECT_EQ(ok, k.mapped != nullptr);
        if (ok && k.mapped) {
            EXPECT_EQ(mapped, k.mapped);
        }
    }
    std::string mapped;
    bool trailing = false;
    ASSERT_TRUE(WebMapPath("/r/", "docs/", false, &mapped, &trailing));
    EXPECT_EQ(mapped, "/r/docs");
    EXPECT_TRUE(trailing);
    ASSERT_TRUE(WebMapPath("/r/", "docs", false, &mapped, &trailing));
    EXPECT_FALSE(trailing);
    // Too long is refused, never cut to a different name.
    EXPECT_FALSE(WebMapPath("/r", std::string(5000, 'a').c_str(), false, &mapped, &trailing));
}

TEST(WebContentType, ByExtension) {
    struct Case {
        const char* ext;
        int type;
    } cases[] = {{"mp3", 11}, {"MP3", 11}, {"mpeg", 12}, {"mpg", 12}, {"jpeg", 21}, {"jpg", 8},
                 {"h", 21},   {"abcde", 21}, {"m3u8?y", 23}, {"m3u8", 23}, {"htm?x", 21}, {"", 21},
                 {"HTML", 1}, {"ts", 18},  {"xsl", 2}};
    for (const auto& k : cases) EXPECT_EQ(WebContentType(k.ext), k.type) << k.ext;
    EXPECT_STREQ(WebContentTypeText(23), "application/x-mpegURL");
    EXPECT_STREQ(WebContentTypeText(99), "application/octet-stream");
}

TEST(WebVariables, QueryAndFormBody) {
    char path[] = "q?a=%41+b&c&d=%&e=x%4&&f=1=2";
    UrlRequest r;
    r.path = path;
    ASSERT_EQ(WebParseVars(&r), 5);
    EXPECT_STREQ(path, "q");
    EXPECT_STREQ(WebGetVar(r.variables, "a", nullptr), "A b");
    EXPECT_STREQ(WebGetVar(r.variables, "c", nullptr), "");
    EXPECT_STREQ(WebGetVar(r.variables, "d", nullptr), "%");
    EXPECT_STREQ(WebGetVar(r.variables, "e", nullptr), "x%4");
    EXPECT_STREQ(WebGetVar(r.variables, "f", nullptr), "1=2");
    EXPECT_STREQ(WebGetVar(r.variables, "A", "none"), "none");  // names are case-sensitive
    WebFreeVars(&r);

    char nonAscii[] = "q?k=\x80";
    r.path = nonAscii;
    EXPECT_EQ(WebParseVars(&r), 0);
    EXPECT_EQ(r.variables, nullptr);

    WebConnection c;
    c.state = kReplyPost;
    char body[] = "n=42&s=a%2Bb";
    char plain[] = "form";
    r.path = plain;
    r.connection = &c;
    r.payload = body;
    ASSERT_EQ(WebParseVars(&r), 2);
    EXPECT_EQ(WebGetVarInt(r.variables, "n", -1), 42);
    EXPECT_EQ(WebGetVarInt(r.variables, "missing", -1), -1);
    EXPECT_STREQ(WebGetVar(r.variables, "s", nullptr), "a+b");
    WebFreeVars(&r);

    char xml[] = "<methodCall/>";
    r.payload = xml;
    EXPECT_EQ(WebParseVars(&r), 0);  // XML bodies are left to the handler
}

TEST(WebReplyHeader, DatesRangesLengthsAndLocation) {
    char date[64];
    HttpDateString(1796809265, date, sizeof date);
    EXPECT_STREQ(date, "Wed, 09 Dec 2026 09:41:05 GMT");

    WebServer server;
    WebConnection c;
    char buf[512];
    c.state = kReplyClose;
    c.status = 206;
    c.rangeStart = 3000000000LL;
    c.fileSize = 3221225472LL;
    c.contentLength = c.fileSize - c.rangeStart;
    c.contentType = 11;
    int n = WebFormatHeader(&server, &c, 1796809265, buf);
    ASSERT_GT(n, 0);
    std::string h(buf, static_cast<size_t>(n));
    EXPECT_EQ(h.rfind("HTTP/1.1 206 Partial Content\r\nServer: Ostrel\r\nCache-control: no-cache\r\n"
                      "Pragma: no-cache\r\nConnection: close\r\nAccept-Ranges: bytes\r\n",
                      0),
              0u)
        << h;
    EXPECT_NE(h.find("Last-Modified: Wed, 09 Dec 2026 09:41:05 GMT\r\n"), std::string::npos);
    EXPECT_NE(h.find("Content-Type: audio/mpeg\r\n"), std::string::npos);
    EXPECT_NE(h.find("Content-Range: bytes 3000000000-3221225471/3221225472\r\n"), std::string::npos);
    EXPECT_NE(h.find("Content-Length: 221225472\r\n"), std::string::npos);
    EXPECT_EQ(h.substr(h.size() - 4), "\r\n\r\n");

    char location[] = "/a\r\nSet-Cookie: x=1";
    c.status = 301;
    c.replyBuffer = location;
    c.contentLength = 0;
    n = WebFormatHeader(&server, &c, 0, buf);
    ASSERT_GT(n, 0);
    h.assign(buf, static_cast<size_t>(n));
    EXPECT_EQ(h.find("\r\nSet-Cookie"), std::string::npos) << h;
    EXPECT_NE(h.find("Location: /a%0D%0ASet-Cookie:%20x=1\r\n"), std::string::npos) << h;

    std::string longType(600, 't');
    c.status = 200;
    c.mimeText = longType.c_str();
    EXPECT_EQ(WebFormatHeader(&server, &c, 0, buf), -1);  // refused, not cut
}

int SubstituteName(WebServer*, const char* name, char* at, int capacity) {
    if (strcmp(name, "v") != 0) return -1;
    const char value[] = "VALUE-TOO-LONG";
    int n = std::min<int>(capacity, static_cast<int>(strlen(value)));
    memcpy(at, value, static_cast<size_t>(n));
    return n;
}

TEST(WebSubstituteVars, ReplacesKnownNamesAndStopsAtAnOpenReference) {
    WebServer server;
    server.variableCallback = SubstituteName;
    std::string text = "a $$v$$ b $$unknown$$ c $$open";
    std::string buf = text;
    int consumed = 0;
    int n = WebSubstituteVars(&server, buf.data(), static_cast<int>(buf.size()), &consumed);
    // The value is held to the reference's own length (the callback's capacity).
    EXPECT_EQ(buf.substr(0, static_cast<size_t>(n)), "a VALUE b $$unknown$$ c ");
    EXPECT_EQ(consumed, static_cast<int>(text.find("$$open")));
}

TEST(WebCheckAuth, ProtectsTheNormalisedPath) {
    WebServer server;
    WebAuthEntry table[3] = {};
    table[0].prefix = "/admin";
    table[0].user = "u";
    table[0].password = "p";
    table[0].group = "group=ops";
    table[1].prefix = "open";
    table[1].user = "";
    table[1].password = "x";
    server.authTable = table;
    struct Case {
        const char* request;
        int result;
    } cases[] = {
        {"GET /admin/x HTTP/1.1\r\n\r\n", 2},
        {"GET /%61dmin/x HTTP/1.1\r\n\r\n", 2},
        {"GET //admin HTTP/1.1\r\n\r\n", 2},
        {"GET /admin HTTP/1.1\r\nAuthorization: Basic dTpx\r\n\r\n", -1},
        {"GET /admin HTTP/1.1\r\nAuthorization: Basic dTpw\r\n\r\n", 1},
        {"GET /admin HTTP/1.1\r\nAuthorization: basic dTpw\r\n\r\n", 1},
        {"GET /admin HTTP/1.1\r\nAuthorization: Basic dTpwx\r\n\r\n", -1},
        {"GET /open/x HTTP/1.1\r\n\r\n", 0},
        {"GET /public HTTP/1.1\r\n\r\n", 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.request);
        ParsedRequest r(k.request);
        ASSERT_EQ(r.result, 0);
        EXPECT_EQ(WebCheckAuth(&server, &r.c), k.result);
        if (k.result == 1) {
            EXPECT_EQ(r.c.authorization, "group=ops");
        }
    }
    EXPECT_STREQ(table[0].credential, "Basic dTpw\r\n");
}

}  // namespace
