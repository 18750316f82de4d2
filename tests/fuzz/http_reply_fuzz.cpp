// A server's reply of any bytes (status line, headers, body) on a loopback socket: the HTTP
// client keeps its header values bounded and its body within its length; the XML fetch, the
// document fetch and a linked news feed read whatever body it accepts.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "common/http.h"
#include "common/xml.h"
#include "common/xml_fetch.h"
#include "ui/news/newsfeed.h"

namespace {

// Serves the current reply to every connection, after reading the request's head.
class ReplyServer {
public:
    ReplyServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            abort();
        port_ = ntohs(addr.sin_port);
        std::thread([this] { Serve(); }).detach();  // lives as long as the fuzzing process
    }
    void SetReply(std::string reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        reply_ = std::move(reply);
    }
    std::string Url(const char* path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    void Serve() {
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::string head;
            char buf[1024];
            while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                head.append(buf, static_cast<size_t>(n));
            }
            std::string reply;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                reply = reply_;
            }
            for (size_t sent = 0; sent < reply.size();) {
                const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::string reply_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ReplyServer* server = [] {
        CXML::Init();
        HttpTimeouts timeouts;
        timeouts.connectMs = 2000;
        timeouts.stallSeconds = 2;
        timeouts.totalMs = 4000;
        httpSetTimeouts(timeouts);
        return new ReplyServer;
    }();
    server->SetReply(std::string(reinterpret_cast<const char*>(data), size));

    HttpRequest request;
    httpInitReq(&request, nullptr);
    if (httpRequest(&request, server->Url("/file").c_str()) == 0) {
        if (!request.body || request.bodyLength < 0 || static_cast<size_t>(request.bodyLength) > size) abort();
    }
    for (const char* value : {request.contentType, request.lastModified})
        if (value && std::strlen(value) > static_cast<size_t>(kHttpHeaderValueMax)) abort();
    httpClean(&request);

    std::string body;
    if (XmlFetch(server->Url("/fetch.xml").c_str(), &body) && body.size() > size) abort();
    CXML document;
    document.Open(server->Url("/doc.xml").c_str());
    ReadLinkedFeed(server->Url("/feed.rss"));
    return 0;
}
