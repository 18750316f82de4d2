// Test helpers for the web server: a raw-socket client and a runner for command-line clients
// (curl, wrk), all bounded in time.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "remote/httpd/web_server.h"

namespace httpdtest {

// Connects to 127.0.0.1:port, optionally from a given local loopback address. -1 on failure.
inline int Connect(int port, const char* localAddress = nullptr) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    timeval tv{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (localAddress) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, localAddress, &local.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(fd);
            return -1;
        }
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool SendAll(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

// Reads until the peer closes or timeoutMs passes.
inline std::string ReadToEnd(int fd, int timeoutMs = 10000) {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[65536];
    for (;;) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) break;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

// Sends a request and returns everything the server answered before closing.
inline std::string Exchange(int port, const std::string& request, const char* localAddress = nullptr) {
    int fd = Connect(port, localAddress);
    if (fd < 0) return "<connect failed>";
    SendAll(fd, request);
    std::string reply = ReadToEnd(fd);
    close(fd);
    return reply;
}

struct CommandResult {
    int exitCode = -1;
    std::string output;
};

// Runs a shell command line (our own fixed text) under a time limit; stdout and stderr together.
inline CommandResult Shell(const std::string& command, int seconds = 30) {
    CommandResult r;
    std::string line = "timeout " + std::to_string(seconds) + " " + command + " 2>&1";
    FILE* p = popen(line.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// The value of a header in a raw reply ("" when absent); the name is matched case-insensitively.
inline std::string HeaderValue(const std::string& reply, const std::string& name) {
    size_t end = reply.find("\r\n\r\n");
    std::string head = reply.substr(0, end);
    size_t pos = 0;
    while ((pos = head.find("\r\n", pos)) != std::string::npos) {
        pos += 2;
        if (strncasecmp(head.c_str() + pos, (name + ": ").c_str(), name.size() + 2) == 0) {
            size_t e = head.find("\r\n", pos);
            return head.substr(pos + name.size() + 2, e == std::string::npos ? std::string::npos : e - pos - name.size() - 2);
        }
    }
    return "";
}

inline std::string Body(const std::string& reply) {
    size_t end = reply.find("\r\n\r\n");
    return end == std::string::npos ? "" : reply.substr(end + 4);
}

}  // namespace httpdtest
