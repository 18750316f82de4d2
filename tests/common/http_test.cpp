// The HTTP client against a scripted server on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "common/http.h"
#include "common/xml.h"
#include "env_scope.h"
#include "support/http_test_server.h"

namespace {

using sqtest::HttpTestServer;
using sqtest::ScriptedReply;

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Short time-outs so that a silent or trickling server fails the request within seconds.
        httpSetTimeouts({2000, 1, 3000});
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            env_.Unset(name);
        env_.Set("no_proxy", "");
        httpInitReq(&req_, nullptr);
    }
    void TearDown() override {
        httpClean(&req_);
        httpSetTimeouts({});
    }

    int fetch(const std::string& path) { return httpRequest(&req_, server_.url(path).c_str()); }
    std::string body() const { return req_.body ? std::string(req_.body, static_cast<size_t>(req_.bodyLength)) : ""; }

    sqtest::EnvScope env_;
    HttpTestServer server_;
    HttpRequest req_;
};

TEST_F(HttpClientTest, RepliesAndTheirFields) {
    const std::string big(16384, 'k');
    server_.set("/plain", {HttpTestServer::Reply(200, "hello",
                                                 "Content-Type: text/plain\r\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\r\n")});
    server_.set("/chunked", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                             "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"});
    server_.set("/moved", {"HTTP/1.1 302 Found\r\nLocation: /plain\r\nContent-Length: 0\r\n\r\n"});
    server_.set("/loop", {"HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n"});
    server_.set("/tofile", {"HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n"});
    server_.set("/missing", {HttpTestServer::Reply(404, "<html>gone</html>")});
    server_.set("/broken", {HttpTestServer::Reply(500, "<html>oops</html>")});
    server_.set("/empty", {HttpTestServer::Reply(200, "")});
    server_.set("/unsized", {"HTTP/1.0 200 OK\r\n\r\n" + big});
    server_.set("/longtype", {HttpTestServer::Reply(200, "x", "Content-Type: " + std::string(200, 't') + "\r\n")});
    server_.set("/hugelength", {"HTTP/1.1 200 OK\r\nContent-Length: 4000000000\r\nConnection: close\r\n\r\nshort"});

    struct Case {
        const char* path;
        int result;
        int status;
        std::string body;
    };
    const Case cases[] = {
        {"/plain", 0, 200, "hello"},
        {"/chunked", 0, 200, "hello world"},
        {"/moved", 0, 200, "hello"},                 // the redirect is followed
        {"/loop", -1, 302, ""},                      // a redirect loop ends
        {"/tofile", -1, 302, ""},                    // never to a local file
        {"/missing", -1, 404, "<html>gone</html>"},  // 404 fails even with a body
        {"/broken", 0, 500, "<html>oops</html>"},    // other statuses: the caller checks
        {"/empty", -1, 200, ""},
        {"/unsized", 0, 200, big},                   // grows past 16384 without a length
        {"/hugelength", -1, 200, "short"},           // broken off: no answer, no giant buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        httpInitReq(&req_, nullptr);
        EXPECT_EQ(fetch(c.path), c.result);
        EXPECT_EQ(req_.status, c.status);
        EXPECT_EQ(body(), c.body);
        if (req_.body) {
            EXPECT_EQ(req_.body[req_.bodyLength], '\0');
        }
        EXPECT_LE(req_.capacity, 0x100000);
        httpClean(&req_);
        EXPECT_EQ(req_.body, nullptr);
        EXPECT_EQ(req_.capacity, 0);
    }

    httpInitReq(&req_, nullptr);
    ASSERT_EQ(fetch("/plain"), 0);
    EXPECT_STREQ(req_.contentType, "text/plain");
    EXPECT_STREQ(req_.lastModified, "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(req_.contentLength, 5);
    httpClean(&req_);
    httpInitReq(&req_, nullptr);
    ASSERT_EQ(fetch("/unsized"), 0);
    EXPECT_EQ(req_.capacity, 32768);
    EXPECT_EQ(req_.contentLength, 0);
    EXPECT_EQ(req_.contentType, nullptr);
    httpClean(&req_);
    httpInitReq(&req_, nullptr);
    ASSERT_EQ(fetch("/longtype"), 0);
    EXPECT_EQ(std::strlen(req_.contentType), static_cast<size_t>(kHttpHeaderValueMax));
}

TEST_F(HttpClientTest, LargeRepliesAreCutAtTheLimit) {
    std::string tenMB(10 << 20, '\0');
    for (size_t i = 0; i < tenMB.size(); ++i) tenMB[i] = static_cast<char>('a' + i % 26);
    server_.set("/big", {HttpTestServer::Reply(200, tenMB)});
    server_.set("/bigunsized", {"HTTP/1.0 200 OK\r\n\r\n" + tenMB});

    for (const char* path : {"/big", "/bigunsized"}) {
        SCOPED_TRACE(path);
        httpInitReq(&req_, nullptr);
        EXPECT_EQ(fetch(path), 0);
        EXPECT_GT(req_.bodyLength, 0);
        EXPECT_LE(req_.bodyLength, kHttpBodyLimit + 16384);  // at the first piece past the limit
        EXPECT_LT(req_.bodyLength, req_.capacity);
        EXPECT_EQ(body(), tenMB.substr(0, static_cast<size_t>(req_.bodyLength)));
        EXPECT_EQ(req_.body[req_.bodyLength], '\0');
        httpClean(&req_);
    }

    // A caller's buffer is filled up to its last byte but one, never past it, and never freed.
    for (const int capacity : {10, 1 << 20}) {
        SCOPED_TRACE(capacity);
        std::string buffer(static_cast<size_t>(capacity) + 16, '#');  // guard bytes after the capacity
        httpInitReq(&req_, nullptr);
        req_.body = buffer.data();
        req_.capacity = capacity;
        EXPECT_EQ(fetch("/big"), 0);
        EXPECT_EQ(req_.bodyLength, capacity - 1);
        EXPECT_EQ(buffer.substr(0, static_cast<size_t>(capacity - 1)), tenMB.substr(0, static_cast<size_t>(capacity - 1)));
        EXPECT_EQ(buffer[static_cast<size_t>(capacity - 1)], '\0');
        EXPECT_EQ(buffer.substr(static_cast<size_t>(capacity)), std::string(16, '#'));
        httpClean(&req_);
        EXPECT_EQ(req_.body, buffer.data());  // still the caller's
    }
}

TEST_F(HttpClientTest, SilentAndTricklingServersTimeOut) {
    ScriptedReply silent;
    silent.silent = true;
    server_.set("/silent", silent);
    // Headers, then one byte every 1.5 s: never stalls for long, never ends in time.
    server_.set("/trickle", {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(100, 'x'), 1, 1500});
    for (const char* path : {"/silent", "/trickle"}) {
        SCOPED_TRACE(path);
        httpInitReq(&req_, nullptr);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(fetch(path), -1);
        // Well before the default time-outs: the configured ones applied.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        httpClean(&req_);
    }
}

TEST_F(HttpClientTest, RequestHeadersAndEnvironmentProxy) {
    server_.set("/plain", {HttpTestServer::Reply(200, "ok")});
    req_.options = kHttpReload;
    ASSERT_EQ(fetch("/plain"), 0);
    httpClean(&req_);
    ASSERT_EQ(server_.requests().size(), 1u);
    const std::string head = server_.requests()[0];
    EXPECT_NE(head.find("User-Agent: Mozilla\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("Cache-Control: no-cache"), std::string::npos) << head;

    // The proxy named by the environment receives the request for the outside address.
    server_.set("http://feeds.example.invalid/news.xml", {HttpTestServer::Reply(200, "via proxy")});
    sqtest::EnvScope proxy("http_proxy", server_.url(""));
    httpInitReq(&req_, nullptr);
    ASSERT_EQ(httpRequest(&req_, "http://feeds.example.invalid/news.xml"), 0);
    EXPECT_EQ(body(), "via proxy");
}

TEST_F(HttpClientTest, XmlDocumentFromAnAddress) {
    server_.set("/feed.xml", {HttpTestServer::Reply(200, "<feed><item>1</item></feed>", "Content-Type: text/xml\r\n")});
    server_.set("/error.xml", {HttpTestServer::Reply(500, "<feed><item>1</item></feed>")});
    struct Case {
        const char* path;
        int result;
    };
    for (const Case c : {Case{"/feed.xml", 0}, Case{"/error.xml", -1}, Case{"/nothing.xml", -1}}) {
        SCOPED_TRACE(c.path);
        CXML xml;
        EXPECT_EQ(xml.Open(server_.url(c.path).c_str()), c.result);
        if (c.result == 0) {
            EXPECT_STREQ(xml.getNodeName(), "feed");
            xml.goChild();
            EXPECT_STREQ(xml.getNodeValue(), "1");
        }
    }
}

}  // namespace
