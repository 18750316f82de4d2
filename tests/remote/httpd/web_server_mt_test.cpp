// The server on its own thread, driven by real clients over 127.0.0.1: curl, wrk and raw sockets.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "httpd_fixture.h"
#include "platform/net.h"
#include "remote/handlers/routes.h"
#include "remote/httpd/web_server.h"
#include "support/tempdir.h"
#include "support/wait_until.h"

namespace {

using namespace httpdtest;

std::atomic<int> g_releases{0};

// Echo: payload length, peer address and variables, as text.
uint32_t EchoHandler(UrlRequest* r) {
    uint32_t peer = r->connection->peerAddress;
    int n = snprintf(r->reply, static_cast<size_t>(r->length), "len=%d;peer=%u.%u.%u.%u;",
                     r->payload ? static_cast<int>(strlen(r->payload)) : -1, peer >> 24, (peer >> 16) & 255,
                     (peer >> 8) & 255, peer & 255);
    if (r->variableCount < 0) WebParseVars(r);
    for (UrlVariable* v = r->variables; v && v->name; ++v)
        n += snprintf(r->reply + n, static_cast<size_t>(r->length - n), "%s=%s;", v->name, v->value);
    r->length = n;
    r->contentType = 3;
    return kReplyBuffer;
}

uint32_t ChunkedHandler(UrlRequest* r) {
    r->length = snprintf(r->reply, static_cast<size_t>(r->length), "hello chunked world");
    r->contentType = 3;
    return kReplyBuffer | kReplyChunked;
}

// Three pieces, then the end; the call with length -1 releases the connection's state.
uint32_t StreamHandler(UrlRequest* r) {
    static std::map<WebConnection*, int> calls;  // server thread only
    if (r->length < 0) {
        calls.erase(r->connection);
        g_releases.fetch_add(1);
        return 0;
    }
    int k = calls[r->connection]++;
    if (k >= 3) return 0;
    r->length = snprintf(r->reply, static_cast<size_t>(r->length), "piece%d;", k);
    return kReplyStreamed | kReplyChunked;
}

uint32_t RedirectHandler(UrlRequest* r) {
    snprintf(r->reply, static_cast<size_t>(r->length), "/a\r\nSet-Cookie: x=1");
    return kReplyRedirect;
}

// Asks for a file by a path of its own making.
uint32_t AliasFileHandler(UrlRequest* r) {
    snprintf(r->reply, static_cast<size_t>(r->length), "small.txt");
    return kReplyFile;
}

// Holds the server thread for a moment, so that what clients do meanwhile is seen in one pass.
std::atomic<bool> g_holding{false};
uint32_t HoldHandler(UrlRequest* r) {
    g_holding.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_holding.store(false);
    r->length = snprintf(r->reply, static_cast<size_t>(r->length), "held");
    return kReplyBuffer;
}

UrlRoute g_routes[] = {
    {"echo", EchoHandler, nullptr, nullptr},     {"chunked", ChunkedHandler, nullptr, nullptr},
    {"stream", StreamHandler, nullptr, nullptr}, {"redirect", RedirectHandler, nullptr, nullptr},
    {"named", AliasFileHandler, nullptr, nullptr}, {"hold", HoldHandler, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

std::mutex g_uploadMutex;
std::string g_uploaded;
int g_uploadEnds = 0;
std::string g_uploadFields;
std::string g_uploadStates;  // part state of each data call
std::string g_uploadName;

int CollectUpload(WebServer*, WebConnection*, WebMultipart* mp, const char* data, int64_t length) {
    std::lock_guard<std::mutex> lock(g_uploadMutex);
    if (data) {
        g_uploaded.append(data, static_cast<size_t>(length));
        g_uploadStates += static_cast<char>('0' + mp->partState);
        g_uploadName = mp->fileName;
    } else {
        ++g_uploadEnds;
        for (int i = 0; i < mp->fieldCount; ++i)
            g_uploadFields += std::string(mp->fields[i].name) + "=" + mp->fields[i].value + ";";
    }
    return 0;
}

class WebServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetWebDispatchFunction(WebDispatchRoute);
        root_ = tmp_.file("root");
        std::filesystem::create_directories(root_ + "/docs");
        tmp_.write("root/index.html", "<html>home</html>");
        tmp_.write("root/song.MP3", "ID3");
        tmp_.write("root/a.mpeg", "mpeg");
        tmp_.write("root/a.jpeg", "jpeg");
        tmp_.write("root/small.txt", "small file\n");
        tmp_.write("root/docs/<b>x'.txt", "x");
        tmp_.write("secret.txt", "TOP-SECRET");
        std::string k;
        for (int i = 0; i < 1000; ++i) k += static_cast<char>(i % 256);
        tmp_.write("root/k.bin", k);
        kilo_ = k;
        std::filesystem::create_symlink(tmp_.file("secret.txt"), root_ + "/link.txt");
        mkfifo((root_ + "/fifo").c_str(), 0600);
    }
    void TearDown() override {
        if (server_) WebServerStop(server_.get());
        server_.reset();
        SetWebDispatchFunction(nullptr);
    }

    // Settings the server thread reads are made before it starts.
    int Start(int clientLimit = 16, uint32_t flags = 0, void (*configure)(WebServer*) = nullptr) {
        server_ = std::make_unique<WebServer>();
        if (configure) configure(server_.get());
        free(server_->routes);
        server_->routes = static_cast<UrlRoute*>(malloc(sizeof g_routes));
        memcpy(server_->routes, g_routes, sizeof g_routes);
        server_->flags = flags;
        port_ = WebServerStart(server_.get(), 0, clientLimit, root_.c_str(), WebBindLoopback());
        return port_;
    }

    std::string Url(const std::string& path) const { return "'http://127.0.0.1:" + std::to_string(port_) + path + "'"; }

    sqtest::TempDir tmp_;
    std::string root_;
    std::string kilo_;
    std::unique_ptr<WebServer> server_;
    int port_ = 0;
};

TEST_F(WebServerTest, ListensOnLoopbackAndReadsBackTheChosenPort) {
    ASSERT_GT(Start(), 0);
    uint32_t address = 0;
    int port = 0;
    ASSERT_TRUE(platform::NetLocalAddress(server_->listener, &address, &port));
    EXPECT_EQ(address, 0x7F000001u);
    EXPECT_EQ(port, port_);
}

TEST_F(WebServerTest, CurlFilesAndHeaders) {
    ASSERT_GT(Start(), 0);
    auto r = Shell("curl -sS -D - " + Url("/"));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << r.output;
    EXPECT_EQ(HeaderValue(r.output, "Server"), "Ostrel");
    EXPECT_EQ(HeaderValue(r.output, "Cache-control"), "no-cache");
    EXPECT_EQ(HeaderValue(r.output, "Pragma"), "no-cache");
    EXPECT_EQ(HeaderValue(r.output, "Connection"), "close");
    EXPECT_EQ(HeaderValue(r.output, "Content-Type"), "text/html");
    EXPECT_EQ(HeaderValue(r.output, "Content-Length"), "17");
    EXPECT_EQ(Body(r.output), "<html>home</html>");
    // The date parses as an HTTP date.
    std::string lm = HeaderValue(r.output, "Last-Modified");
    auto py = Shell("python3 -c \"import email.utils,sys; print(email.utils.parsedate_to_datetime(sys.argv[1]).year)\" '" +
                  lm + "'");
    EXPECT_EQ(py.exitCode, 0) << lm;

    struct Case {
        const char* path;
        const char* type;
    } cases[] = {{"/song.MP3", "audio/mpeg"}, {"/a.mpeg", "video/mpeg"}, {"/a.jpeg", "application/octet-stream"}};
    for (const auto& k : cases) {
        auto t = Shell("curl -sS -o /dev/null -w '%{content_type} %{http_code}' " + Url(k.path));
        EXPECT_EQ(t.output, std::string(k.type) + " 200") << k.path;
    }
    auto missing = Shell("curl -sS -D - " + Url("/missing.html"));
    EXPECT_EQ(missing.output.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u);
    EXPECT_EQ(HeaderValue(missing.output, "Content-length"), "125");
    EXPECT_EQ(Body(missing.output).size(), 125u);
}

TEST_F(WebServerTest, CurlRanges) {
    ASSERT_GT(Start(), 0);
    auto r = Shell("curl -sS -D - -r 100-199 " + Url("/k.bin"));
    EXPECT_EQ(r.output.rfind("HTTP/1.1 206 Partial Content\r\n", 0), 0u) << r.output;
    EXPECT_EQ(HeaderValue(r.output, "Content-Length"), "900");
    EXPECT_EQ(HeaderValue(r.output, "Content-Range"), "bytes 100-999/1000");
    EXPECT_EQ(Body(r.output), kilo_.substr(100));

    auto whole = Shell("curl -sS -o /dev/null -w '%{http_code} %{size_download}' -r 1000- " + Url("/k.bin"));
    EXPECT_EQ(whole.output, "200 1000");
    auto beyond = Shell("curl -sS -D - -r 5000- " + Url("/k.bin"));
    EXPECT_EQ(beyond.output.rfind("HTTP/1.1 416 ", 0), 0u) << beyond.output;
    EXPECT_EQ(HeaderValue(beyond.output, "Content-Range"), "bytes */1000");
    EXPECT_EQ(Body(beyond.output), "");
}

TEST_F(WebServerTest, SparseFileOverFourGigabytesOfOffsets) {
    ASSERT_GT(Start(), 0);
    {
        std::ofstream(root_ + "/big.bin").close();
    }
    std::filesystem::resize_file(root_ + "/big.bin", 3221225472ULL);  // 3 GiB, sparse
    auto r = Shell("curl -sS -o /dev/null -D - -w '%{http_code} %{size_download}' -r 3000000000- " + Url("/big.bin"), 120);
    EXPECT_EQ(HeaderValue(r.output, "Content-Length"), "221225472");
    EXPECT_EQ(HeaderValue(r.output, "Content-Range"), "bytes 3000000000-3221225471/3221225472");
    EXPECT_NE(r.output.find("206 221225472"), std::string::npos) << r.output;
}

TEST_F(WebServerTest, TraversalNeverLeavesTheRoot) {
    ASSERT_GT(Start(), 0);
    tmp_.write("root/x", "inside-x");
    const char* attempts[] = {"/../secret.txt", "/%2e%2e/secret.txt", "/..%2fsecret.txt", "/%2e%2e%2fsecret.txt",
                              "/docs/../../secret.txt", "/~/etc/passwd", "/~secret.txt", "//etc/passwd",
                              "/a%00.html", "/..%5csecret.txt", "/link.txt", "/fifo", "/C:/secret.txt"};
    for (const char* path : attempts) {
        auto r = Shell("curl -sS --path-as-is -o - -w ' %{http_code}' " + Url(path));
        EXPECT_NE(r.output.find(" 404"), std::string::npos) << path << ": " << r.output;
        EXPECT_EQ(r.output.find("TOP-SECRET"), std::string::npos) << path;
        EXPECT_EQ(r.output.find("root:"), std::string::npos) << path;
    }
    // Dot segments are dropped, never resolved: /../x is x under the root.
    for (const char* path : {"/../x", "/%2e%2e/x", "/docs/../x"}) {
        auto dots = Shell("curl -sS --path-as-is -o /dev/null -w '%{http_code}' " + Url(path));
        EXPECT_EQ(dots.output, path == std::string("/docs/../x") ? "404" : "200") << path;  // docs/x is missing
    }
    EXPECT_EQ(Shell("curl -sS --path-as-is " + Url("/../x")).output, "inside-x");
    auto plain = Shell("curl -sS " + Url("/x"));
    EXPECT_EQ(plain.output, "inside-x");
}

TEST_F(WebServerTest, SymbolicLinksAreFollowedOnlyInsideTheRoot) {
    ASSERT_GT(Start(), 0);
    std::filesystem::create_directories(root_ + "/sub");
    tmp_.write("root/sub/page.txt", "sub page");
    struct Case {
        const char* link;
        std::string target;
        const char* request;
        const char* body;  // nullptr: 404
    } cases[] = {
        {"rel.txt", "small.txt", "/rel.txt", "small file\n"},
        {"abs.txt", root_ + "/small.txt", "/abs.txt", "small file\n"},
        {"sub/up.txt", "../small.txt", "/sub/up.txt", "small file\n"},
        {"subdir", "sub", "/subdir/page.txt", "sub page"},
        {"out.txt", "../secret.txt", "/out.txt", nullptr},
        {"outdir", "..", "/outdir/secret.txt", nullptr},
        {"sub/far.txt", "../../secret.txt", "/sub/far.txt", nullptr},
    };
    for (const auto& k : cases) std::filesystem::create_symlink(k.target, root_ + "/" + k.link);
    for (const auto& k : cases) {
        auto r = Shell("curl -sS -o - -w ' %{http_code}' " + Url(k.request));
        if (k.body)
            EXPECT_EQ(r.output, std::string(k.body) + " 200") << k.request;
        else
            EXPECT_TRUE(r.output.ends_with(" 404")) << k.request << ": " << r.output;
        EXPECT_EQ(r.output.find("TOP-SECRET"), std::string::npos) << k.request;
    }
}

// The web root is held open between requests; a folder put in its place is served from then on.
TEST_F(WebServerTest, ReplacedRootFolderIsServed) {
    ASSERT_GT(Start(), 0);
    EXPECT_EQ(Shell("curl -sS " + Url("/small.txt")).output, "small file\n");
    std::filesystem::rename(root_, tmp_.file("old-root"));
    std::filesystem::create_directories(root_);
    tmp_.write("root/small.txt", "new small file\n");
    tmp_.write("root/only-new.txt", "only new\n");
    EXPECT_EQ(Shell("curl -sS " + Url("/only-new.txt")).output, "only new\n");  // a miss looks again at once
    std::string body;
    sqtest::WaitUntil([&] { return (body = Shell("curl -sS " + Url("/small.txt")).output) == "new small file\n"; });
    EXPECT_EQ(body, "new small file\n");
    std::filesystem::remove_all(root_);
    EXPECT_EQ(Shell("curl -sS -o /dev/null -w '%{http_code}' " + Url("/small.txt")).output, "404");
    std::filesystem::create_directories(root_);
    tmp_.write("root/small.txt", "third\n");
    EXPECT_EQ(Shell("curl -sS " + Url("/small.txt")).output, "third\n");
}

TEST_F(WebServerTest, CurlPostRoutesAndChunking) {
    ASSERT_GT(Start(), 0);
    auto post = Shell("curl -sS -d 'a=1&b=x%20y' " + Url("/echo"));
    EXPECT_EQ(post.output, "len=11;peer=127.0.0.1;a=1;b=x y;");
    auto get = Shell("curl -sS " + Url("/echo?q=%41+b"));
    EXPECT_EQ(get.output, "len=-1;peer=127.0.0.1;q=A b;");

    // A body over the cap: the handler sees 262144 bytes and the client still gets the reply.
    tmp_.write("body.txt", std::string(500000, 'z'));
    auto big = Shell("curl -sS --data-binary @" + tmp_.file("body.txt") + " " + Url("/echo"));
    EXPECT_EQ(big.exitCode, 0) << big.output;
    EXPECT_EQ(big.output.rfind("len=262144;", 0), 0u) << big.output.substr(0, 200);

    auto chunked = Shell("curl -sS -D - " + Url("/chunked"));
    EXPECT_EQ(HeaderValue(chunked.output, "Transfer-Encoding"), "chunked");
    EXPECT_EQ(Body(chunked.output), "hello chunked world") << chunked.output;  // curl checks the framing
    EXPECT_EQ(chunked.exitCode, 0);
    auto old = Shell("curl -sS --http1.0 -D - " + Url("/chunked"));
    EXPECT_EQ(HeaderValue(old.output, "Transfer-Encoding"), "");
    EXPECT_EQ(HeaderValue(old.output, "Content-Length"), "19");
    EXPECT_EQ(Body(old.output), "hello chunked world");

    int before = g_releases.load();
    auto stream = Shell("curl -sS " + Url("/stream"));
    EXPECT_EQ(stream.exitCode, 0) << stream.output;
    EXPECT_EQ(stream.output, "piece0;piece1;piece2;");
    auto stream10 = Shell("curl -sS --http1.0 " + Url("/stream"));
    EXPECT_EQ(stream10.output, "piece0;piece1;piece2;");
    sqtest::WaitUntil([&] { return g_releases.load() >= before + 2; });
    EXPECT_EQ(g_releases.load(), before + 2);

    auto named = Shell("curl -sS " + Url("/named"));
    EXPECT_EQ(named.output, "small file\n");
}

TEST_F(WebServerTest, RedirectsCarryNoInjectedHeaders) {
    ASSERT_GT(Start(), 0);
    auto r = Shell("curl -sS -D - -o /dev/null " + Url("/redirect"));
    EXPECT_EQ(r.output.rfind("HTTP/1.1 301 Moved Permanently\r\n", 0), 0u) << r.output;
    EXPECT_EQ(HeaderValue(r.output, "Set-Cookie"), "");
    EXPECT_EQ(HeaderValue(r.output, "Location"), "/a%0D%0ASet-Cookie:%20x=1");
}

TEST_F(WebServerTest, FolderListingAndRedirect) {
    ASSERT_GT(Start(16, kWebListingAllowed), 0);
    auto redirect = Shell("curl -sS -D - -o /dev/null " + Url("/docs"));
    EXPECT_EQ(redirect.output.rfind("HTTP/1.1 301 ", 0), 0u) << redirect.output;
    EXPECT_EQ(HeaderValue(redirect.output, "Location"), "docs/");
    auto listing = Shell("curl -sS " + Url("/docs/"));
    EXPECT_NE(listing.output.find("Directory of /docs/"), std::string::npos) << listing.output;
    EXPECT_NE(listing.output.find("<a href='%3Cb%3Ex%27.txt'>&lt;b&gt;x&#39;.txt</a>"), std::string::npos) << listing.output;
    EXPECT_NE(listing.output.find("Directory content generated by Ostrel"), std::string::npos);
    EXPECT_EQ(listing.output.find("<b>x'"), std::string::npos);
    WebServerStop(server_.get());
    ASSERT_GT(Start(16, 0), 0);
    auto off = Shell("curl -sS -o /dev/null -w '%{http_code}' " + Url("/docs/"));
    EXPECT_EQ(off.output, "404");
}

TEST_F(WebServerTest, MalformedRequestsCloseWithoutReply) {
    ASSERT_GT(Start(), 0);
    struct Case {
        std::string request;
        std::string replyStart;  // "" = closed without a reply
    } cases[] = {
        {"PUT / HTTP/1.1\r\n\r\n", ""},
        {"DELETE / HTTP/1.1\r\n\r\n", ""},
        {"GET / HTTP/2.0\r\n\r\n", ""},
        {"POST /echo HTTP/1.1\r\nContent-Length: -1\r\n\r\n", ""},
        {"POST /echo HTTP/1.1\r\nContent-Length: abc\r\n\r\n", ""},
        {"POST /echo HTTP/1.1\r\nContent-Length: " + std::string(300, '9') + "\r\n\r\n", ""},
        {"POST /echo HTTP/1.1\r\nContent-Type: text/plain; filename=a\r\nContent-Length: 1\r\n\r\nx", ""},
        {"POST /echo HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=B\r\nContent-Length: 10\r\n\r\n--B--\r\n", ""},
        {"GET /" + std::string(512, 'a') + " HTTP/1.1\r\n\r\n", ""},
        {"GET /" + std::string(511, 'a') + " HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found\r\n"},
        {"GET /echo HTTP/1.1\r\nX: " + std::string(600000, 'h'), ""},
        {"GET /echo HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", "HTTP/1.1 200 OK\r\n"},
    };
    for (const auto& k : cases) {
        std::string reply = Exchange(port_, k.request);
        if (k.replyStart.empty())
            EXPECT_EQ(reply, "") << k.request.substr(0, 80);
        else
            EXPECT_EQ(reply.rfind(k.replyStart, 0), 0u) << k.request.substr(0, 80) << " -> " << reply.substr(0, 80);
    }
    // Sent one byte at a time, a request is still answered once.
    int fd = Connect(port_);
    ASSERT_GE(fd, 0);
    std::string req = "GET /echo?z=1 HTTP/1.1\r\nHost: h\r\n\r\n";
    for (char ch : req) {
        ASSERT_TRUE(SendAll(fd, std::string(1, ch)));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::string reply = ReadToEnd(fd);
    close(fd);
    EXPECT_EQ(Body(reply), "len=-1;peer=127.0.0.1;z=1;");
    // curl agrees on the methods it cannot use.
    auto put = Shell("curl -sS -X PUT " + Url("/"));
    EXPECT_EQ(put.exitCode, 52) << put.output;
    auto upload = Shell("curl -sS -F f=@" + tmp_.file("secret.txt") + " " + Url("/echo"));
    EXPECT_EQ(upload.exitCode, 52) << upload.output;
    // The server is still there.
    EXPECT_EQ(Shell("curl -sS " + Url("/small.txt")).output, "small file\n");
}

TEST_F(WebServerTest, UploadsReachThePostCallback) {
    ASSERT_GT(Start(16, 0, [](WebServer* s) { s->postCallback = CollectUpload; }), 0);
    tmp_.write("up.bin", "line1\r\n--not-a-boundary\r\nline3");
    auto r = Shell("curl -sS -F note=hello -F f=@" + tmp_.file("up.bin") + " " + Url("/echo"));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.rfind("len=-1;", 0), 0u) << r.output;
    std::lock_guard<std::mutex> lock(g_uploadMutex);
    EXPECT_EQ(g_uploaded, "line1\r\n--not-a-boundary\r\nline3");
    EXPECT_EQ(g_uploadEnds, 1);
    EXPECT_EQ(g_uploadFields, "note=hello;f=up.bin;");
}

TEST_F(WebServerTest, UploadsLargerThanTheBuffer) {
    ASSERT_GT(Start(16, 0, [](WebServer* s) { s->postCallback = CollectUpload; }), 0);
    std::string data;
    for (int i = 0; i < 1500000; ++i) data += static_cast<char>((i * 7 + i / 1000) % 256);
    tmp_.write("big.bin", data);
    auto reset = [] {
        std::lock_guard<std::mutex> lock(g_uploadMutex);
        g_uploaded.clear();
        g_uploadStates.clear();
        g_uploadName.clear();
    };
    // A multipart file of about three buffers arrives whole and in order.
    reset();
    auto r = Shell("curl -sS -F f=@" + tmp_.file("big.bin") + " " + Url("/echo"));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    {
        std::lock_guard<std::mutex> lock(g_uploadMutex);
        EXPECT_EQ(g_uploaded.size(), data.size());
        EXPECT_TRUE(g_uploaded == data);
        EXPECT_EQ(g_uploadStates.back(), '2');
    }
    // Without a boundary the body streams to the callback until the client closes; no reply.
    reset();
    int fd = Connect(port_);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, "POST /echo HTTP/1.1\r\nContent-Type: application/octet-stream; filename=raw.bin\r\n\r\n" + data));
    shutdown(fd, SHUT_WR);
    EXPECT_EQ(ReadToEnd(fd), "");
    close(fd);
    std::lock_guard<std::mutex> lock(g_uploadMutex);
    EXPECT_TRUE(g_uploaded == data) << g_uploaded.size();
    EXPECT_EQ(g_uploadStates.front(), '1');
    EXPECT_EQ(g_uploadStates.back(), '2');
    EXPECT_EQ(g_uploadName, "raw.bin");
}

// "$$who$$" becomes "me"; other names stay as they are.
int WhoVariable(WebServer*, const char* name, char* at, int capacity) {
    if (strcmp(name, "who") != 0) return -1;
    int n = std::min(capacity, 2);
    memcpy(at, "me", static_cast<size_t>(n));
    return n;
}

TEST_F(WebServerTest, SubstitutionInServedPages) {
    ASSERT_GT(Start(16, 0, [](WebServer* s) { s->variableCallback = WhoVariable; }), 0);
    // Over one piece, so references also straddle the pieces' edges.
    std::string page, expected;
    for (int i = 0; i < 30000; ++i) {
        page += "<p>$$who$$ and $$nobody$$</p>";
        expected += "<p>me and $$nobody$$</p>";
    }
    tmp_.write("root/v.html", page);
    tmp_.write("root/plain.txt", "$$who$$");
    auto chunked = Shell("curl -sS -D - " + Url("/v.html"));
    EXPECT_EQ(chunked.exitCode, 0) << chunked.output.substr(0, 300);
    EXPECT_EQ(HeaderValue(chunked.output, "Transfer-Encoding"), "chunked");
    EXPECT_EQ(HeaderValue(chunked.output, "Content-Length"), "");
    EXPECT_TRUE(Body(chunked.output) == expected) << Body(chunked.output).size();
    auto old = Shell("curl -sS --http1.0 -D - " + Url("/v.html"));
    EXPECT_EQ(HeaderValue(old.output, "Transfer-Encoding"), "");
    EXPECT_TRUE(Body(old.output) == expected) << Body(old.output).size();
    EXPECT_EQ(Shell("curl -sS " + Url("/plain.txt")).output, "$$who$$");  // only HTML and scripts
}

// A raw NUL in the request line is refused like a decoded "%00", never cut short and served.
TEST_F(WebServerTest, NulInTheRequestLineIsRefused) {
    ASSERT_GT(Start(), 0);
    auto raw = [](const auto& text) { return std::string(text, sizeof text - 1); };
    const std::string requests[] = {
        raw("GET /small.txt\0.html HTTP/1.1\r\n\r\n"),
        raw("GET /echo\0/x?a=1 HTTP/1.1\r\n\r\n"),
        raw("GET /small.txt HTTP/1.1\0\r\n\r\n"),
    };
    for (const auto& request : requests) {
        std::string reply = Exchange(port_, request);
        EXPECT_EQ(reply.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << reply;
        EXPECT_EQ(reply.find("small file"), std::string::npos) << reply;
        EXPECT_EQ(reply.find("len="), std::string::npos) << reply;
    }
    EXPECT_EQ(Body(Exchange(port_, "GET /small.txt HTTP/1.1\r\n\r\n")), "small file\n");
}

TEST_F(WebServerTest, XForwardedForFromLoopback) {
    ASSERT_GT(Start(), 0);
    auto r = Shell("curl -sS -H 'X-Forwarded-For: 10.1.2.3' " + Url("/echo"));
    EXPECT_EQ(r.output, "len=-1;peer=10.1.2.3;");
}

TEST_F(WebServerTest, SlotAndPerPeerLimits) {
    ASSERT_GT(Start(4), 0);  // per-peer limit 2
    const std::string page403 =
        "HTTP/1.1 403 Forbidden\r\nServer: Ostrel\r\nContent-length: 85\r\nContent-Type: text/html\r\n\r\n"
        "<html><head><title>403 Forbidden</title></head><body><h1>Forbidden</h1></body></html>";
    auto clientsReach = [this](unsigned n) { return sqtest::WaitUntil([&] { return server_->clients.load() == n; }); };
    int a = Connect(port_), b = Connect(port_);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_TRUE(clientsReach(2));  // both accepted
    EXPECT_EQ(Exchange(port_, "GET /small.txt HTTP/1.1\r\n\r\n"), page403);  // third from the same address
    // Other loopback addresses fill the remaining slots; one more finds them all busy.
    int c = Connect(port_, "127.0.0.2"), d = Connect(port_, "127.0.0.3");
    ASSERT_GE(c, 0);
    ASSERT_GE(d, 0);
    ASSERT_TRUE(clientsReach(4));
    EXPECT_EQ(Exchange(port_, "GET /small.txt HTTP/1.1\r\n\r\n", "127.0.0.4"), page403);
    close(a);
    ASSERT_TRUE(clientsReach(3));  // the server saw a leave
    EXPECT_EQ(Body(Exchange(port_, "GET /small.txt HTTP/1.1\r\n\r\n", "127.0.0.4")), "small file\n");
    close(b);
    close(c);
    close(d);
}

// A reply ends in the step that sends its last byte: a client that reconnects at once is not
// counted twice against its allowance.
TEST_F(WebServerTest, FinishedReplyFreesItsSlotBeforeTheNextAccept) {
    ASSERT_GT(Start(3), 0);  // per-peer limit 1
    const char* targets[] = {"/small.txt", "/echo?a=1", "/chunked", "/missing.txt"};
    for (const char* target : targets) {
        SCOPED_TRACE(target);
        ASSERT_TRUE(sqtest::WaitUntil([&] { return server_->clients.load() == 0; }));  // the last round's have left
        int a = Connect(port_);
        ASSERT_GE(a, 0);
        // Accepted, waiting for its request.
        ASSERT_TRUE(sqtest::WaitUntil([&] { return server_->clients.load() == 1; }));
        // Another address keeps the server thread busy while a's request and b's connection arrive,
        // so the next pass answers a and accepts b.
        int holder = Connect(port_, "127.0.0.2");
        ASSERT_GE(holder, 0);
        SendAll(holder, "GET /hold HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(sqtest::WaitUntil([] { return g_holding.load(); }));
        SendAll(a, std::string("GET ") + target + " HTTP/1.1\r\nConnection: close\r\n\r\n");
        int b = Connect(port_);
        ASSERT_GE(b, 0);
        SendAll(b, "GET /small.txt HTTP/1.1\r\nConnection: close\r\n\r\n");
        std::string first = ReadToEnd(a), second = ReadToEnd(b);
        EXPECT_EQ(first.find("403 Forbidden"), std::string::npos) << first;
        EXPECT_EQ(Body(second), "small file\n") << second;
        EXPECT_EQ(Body(ReadToEnd(holder)), "held");
        close(a);
        close(b);
        close(holder);
    }
}

// A connection its client closed before sending anything (wrk's first probe of the address) is
// not counted against the client's allowance.
TEST_F(WebServerTest, ConnectionClosedBeforeItsRequestIsNotCounted) {
    ASSERT_GT(Start(3), 0);  // per-peer limit 1
    int holder = Connect(port_, "127.0.0.2");
    ASSERT_GE(holder, 0);
    SendAll(holder, "GET /hold HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(sqtest::WaitUntil([] { return g_holding.load(); }));
    int probe = Connect(port_);
    ASSERT_GE(probe, 0);
    close(probe);
    int b = Connect(port_);
    ASSERT_GE(b, 0);
    SendAll(b, "GET /small.txt HTTP/1.1\r\n\r\n");
    std::string reply = ReadToEnd(b);
    EXPECT_EQ(Body(reply), "small file\n") << reply;
    EXPECT_EQ(Body(ReadToEnd(holder)), "held");
    close(b);
    close(holder);
}

TEST_F(WebServerTest, SlowHeadersCannotHoldTheSlots) {
    ASSERT_GT(Start(4, 0, [](WebServer* s) { s->headerTimeout = 1; }), 0);
    std::vector<int> idle;
    const char* sources[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
    for (const char* s : sources) {
        int fd = Connect(port_, s);
        ASSERT_GE(fd, 0);
        SendAll(fd, "GET / HTTP/1.1\r\n");  // never finished
        idle.push_back(fd);
    }
    // Within a few passes the unfinished requests are dropped and a new client is served.
    std::string body;
    for (int i = 0; i < 40 && body != "small file\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        body = Body(Exchange(port_, "GET /small.txt HTTP/1.1\r\n\r\n", "127.0.0.9"));
    }
    EXPECT_EQ(body, "small file\n");
    EXPECT_GE(server_->expired.load(), 4u);
    for (int fd : idle) close(fd);
}

TEST_F(WebServerTest, ClientLeavingMidReplyDoesNotHurtTheServer) {
    ASSERT_GT(Start(), 0);
    tmp_.write("root/five.bin", std::string(5 << 20, 'f'));
    for (int round = 0; round < 3; ++round) {
        int fd = Connect(port_);
        ASSERT_GE(fd, 0);
        SendAll(fd, "GET /five.bin HTTP/1.1\r\n\r\n");
        char buf[1000];
        ASSERT_GT(recv(fd, buf, sizeof buf, 0), 0);
        linger lg{1, 0};  // reset instead of a clean close
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        close(fd);
    }
    EXPECT_EQ(Shell("curl -sS " + Url("/small.txt")).output, "small file\n");
}

TEST_F(WebServerTest, StopEndsTheThreadWithClientsConnected) {
    ASSERT_GT(Start(), 0);
    int fd = Connect(port_);
    ASSERT_GE(fd, 0);
    SendAll(fd, "GET / HTTP/1.1\r\n");  // mid-request
    ASSERT_TRUE(sqtest::WaitUntil([&] { return server_->clients.load() == 1; }));
    WebServerStop(server_.get());
    EXPECT_EQ(server_->running.load(), 0);
    EXPECT_TRUE(server_->finished.IsSet());
    EXPECT_EQ(ReadToEnd(fd, 2000), "");  // closed by the server thread
    close(fd);
    EXPECT_LT(Connect(port_), 0);
    // The same port can be taken again at once.
    int again = WebServerStart(server_.get(), port_, 16, root_.c_str(), WebBindLoopback());
    EXPECT_EQ(again, port_);
}

TEST_F(WebServerTest, BusyPortMovesToTheNextOne) {
    int bound = 0;
    int holder = platform::NetListen(platform::NetLoopbackAddress(), 0, 4, &bound);
    ASSERT_GE(holder, 0);
    server_ = std::make_unique<WebServer>();
    int port = WebServerStart(server_.get(), bound, 16, root_.c_str(), WebBindLoopback());
    EXPECT_GT(port, bound);
    EXPECT_LE(port, bound + 9);
    platform::NetClose(holder);
}

TEST_F(WebServerTest, WrkLoadWithoutErrors) {
    ASSERT_GT(Start(), 0);  // per-peer limit 8: wrk's connections use the whole allowance
    auto r = Shell("wrk -t2 -c8 -d2s -H 'Connection: close' " + Url("/small.txt"), 60);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find("Socket errors"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Non-2xx"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Requests/sec"), std::string::npos) << r.output;
    EXPECT_EQ(Shell("curl -sS " + Url("/small.txt")).output, "small file\n");
}

}  // namespace
