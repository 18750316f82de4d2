#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace platform {

uint32_t NetLoopbackAddress() { return htonl(INADDR_LOOPBACK); }

bool NetIsLoopback(uint32_t hostOrderAddress) { return (hostOrderAddress >> 24) == 127; }

void NetIgnoreSigpipe() {
    static const bool done = [] {
        signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

int NetListen(uint32_t address, int port, int backlog, int* boundPort) {
    NetIgnoreSigpipe();
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, backlog < 1 ? 1 : backlog) != 0) {
        close(fd);
        return -1;
    }
    uint32_t local = 0;
    if (!NetLocalAddress(fd, &local, boundPort)) {
        close(fd);
        return -1;
    }
    return fd;
}

int NetAccept(int listener, uint32_t* peer) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int fd;
    do {
        fd = accept4(listener, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    if (peer) *peer = sa.sin_family == AF_INET ? ntohl(sa.sin_addr.s_addr) : 0;
    return fd;
}

bool NetLocalAddress(int fd, uint32_t* address, int* port) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0 || sa.sin_family != AF_INET) return false;
    if (address) *address = ntohl(sa.sin_addr.s_addr);
    if (port) *port = ntohs(sa.sin_port);
    return true;
}

void NetSetReceiveBuffer(int fd, int bytes) { setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes); }

bool NetCanQuery(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0;
}

long NetSend(int fd, const void* data, size_t size) {
    for (;;) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

bool NetSendAll(int fd, const void* data, size_t size, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        long n = NetSend(fd, p, size);
        if (n < 0) return false;
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd pfd{fd, POLLOUT, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    }
    return true;
}

long NetRecv(int fd, void* data, size_t size) {
    for (;;) {
        ssize_t n = recv(fd, data, size, 0);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return -2;
        return -1;
    }
}

void NetCloseGracefully(int fd) {
    if (fd < 0) return;
    shutdown(fd, SHUT_WR);
    char sink[16384];
    size_t drained = 0;
    while (drained < (1u << 20)) {
        ssize_t n = recv(fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n <= 0) break;
        drained += static_cast<size_t>(n);
    }
    close(fd);
}

void NetClose(int fd) {
    if (fd >= 0) close(fd);
}

int NetPoll(NetPollItem* items, size_t count, int timeoutMs) {
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; ++i) {
        fds[i].fd = items[i].fd;
        fds[i].events = static_cast<short>(((items[i].want & kNetReadable) ? POLLIN : 0) |
                                           ((items[i].want & kNetWritable) ? POLLOUT : 0));
        fds[i].revents = 0;
    }
    int n = poll(fds.data(), fds.size(), timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : -1;
    for (size_t i = 0; i < count; ++i) {
        short r = 0;
        if (fds[i].revents & (POLLIN | POLLHUP)) r |= kNetReadable;
        if (fds[i].revents & POLLOUT) r |= kNetWritable;
        if (fds[i].revents & (POLLERR | POLLNVAL)) r |= kNetFailed;
        items[i].ready = r;
    }
    return n;
}

NetWaker::NetWaker() { fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

NetWaker::~NetWaker() {
    if (fd_ >= 0) close(fd_);
}

void NetWaker::Wake() {
    uint64_t one = 1;
    ssize_t n = write(fd_, &one, sizeof one);
    (void)n;
}

void NetWaker::Drain() {
    uint64_t value;
    ssize_t n = read(fd_, &value, sizeof value);
    (void)n;
}

}  // namespace platform
