#include "support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace sqtest {

HttpTestServer::HttpTestServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && listen(listener_, 16) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
        port_ = ntohs(sa.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
    stop_ = true;
    acceptor_.join();
    for (std::thread& t : workers_) t.join();
    if (listener_ >= 0) close(listener_);
}

void HttpTestServer::set(const std::string& path, ScriptedReply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[path] = std::move(reply);
}

std::string HttpTestServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> HttpTestServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::string HttpTestServer::Reply(int status, const std::string& body, const std::string& extraHeaders) {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + extraHeaders + "\r\n" + body;
}

bool HttpTestServer::pause(int ms) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (stop_) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !stop_;
}

void HttpTestServer::acceptLoop() {
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        timeval tv{5, 0};  // a client that neither reads nor closes cannot hold a worker
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back([this, fd] {
            serve(fd);
            close(fd);
        });
    }
}

void HttpTestServer::serve(int fd) {
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (stop_) return;
        if (poll(&p, 1, 50) <= 0) continue;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        head.append(buf, static_cast<size_t>(n));
    }
    const size_t start = head.find(' ') + 1;
    const std::string target = head.substr(start, head.find(' ', start) - start);
    ScriptedReply reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(head.substr(0, head.find("\r\n\r\n")));
        auto it = replies_.find(target);
        reply = it != replies_.end() ? it->second : ScriptedReply{Reply(404, "not here")};
    }
    if (reply.silent) {
        pause(60000);
        return;
    }
    const size_t piece = reply.pieceSize ? reply.pieceSize : reply.raw.size();
    for (size_t off = 0; off < reply.raw.size(); off += piece) {
        if (off && !pause(reply.pauseMs)) return;
        size_t n = std::min(piece, reply.raw.size() - off);
        size_t sent = 0;
        while (sent < n) {
            ssize_t w = send(fd, reply.raw.data() + off + sent, n - sent, MSG_NOSIGNAL);
            if (w <= 0) return;  // the client went away
            sent += static_cast<size_t>(w);
        }
    }
}

}  // namespace sqtest
