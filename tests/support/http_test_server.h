// A scripted HTTP server on 127.0.0.1 for client tests: each request path maps to raw reply bytes
// (status line, headers and body exactly as given), optionally sent in pieces with pauses, or to
// silence. Every connection is served on its own thread; all end with the object.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sqtest {

struct ScriptedReply {
    std::string raw;          // sent as is
    size_t pieceSize = 0;     // 0: all at once; else pieces of this size with pauseMs between
    int pauseMs = 0;
    bool silent = false;      // accept the request and send nothing until the server ends
};

class HttpTestServer {
public:
    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Sets the reply for a path (the request target, query included). Unknown paths get a 404.
    void set(const std::string& path, ScriptedReply reply);
    // "http://127.0.0.1:<port>" + path.
    std::string url(const std::string& path) const;
    int port() const { return port_; }
    // The raw request heads received so far.
    std::vector<std::string> requests() const;

    // A complete reply with a Content-Length header.
    static std::string Reply(int status, const std::string& body, const std::string& extraHeaders = "");

private:
    void acceptLoop();
    void serve(int fd);
    // Sleeps in small steps; false once the server is ending.
    bool pause(int ms) const;

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<std::string, ScriptedReply> replies_;
    std::vector<std::string> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace sqtest
