// TCP sockets for the embedded servers: IPv4 listeners and accepted connections, all non-blocking
// and close-on-exec, sends that never raise SIGPIPE, a poll wrapper and a waker descriptor that
// another thread uses to interrupt a poll.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// 127.0.0.1 in network byte order.
uint32_t NetLoopbackAddress();
// True when a host-order IPv4 address lies in 127.0.0.0/8.
bool NetIsLoopback(uint32_t hostOrderAddress);

// Ignores SIGPIPE for the whole process (sends use MSG_NOSIGNAL as well). Safe to call often.
void NetIgnoreSigpipe();

// Opens a listening TCP socket on an IPv4 address (network order, 0 = every address) and a port
// (0 = one the system picks) with SO_REUSEADDR. Returns the descriptor or -1; *boundPort receives
// the port actually bound.
int NetListen(uint32_t address, int port, int backlog, int* boundPort);

// Accepts one connection from a listener: the new descriptor (non-blocking, close-on-exec) or -1
// when none is waiting or the accept failed. *peer receives the peer's IPv4 address in host order.
int NetAccept(int listener, uint32_t* peer);

// The local address (host order) and port a socket is bound to; false when it cannot be read.
bool NetLocalAddress(int fd, uint32_t* address, int* port);

// Sets SO_RCVBUF in bytes.
void NetSetReceiveBuffer(int fd, int bytes);

// True when the socket's SO_ERROR can be read (the value itself is ignored).
bool NetCanQuery(int fd);

// Sends without blocking: bytes sent (> 0), 0 when the socket cannot take data now, -1 on failure
// (the peer went away). Never raises SIGPIPE.
long NetSend(int fd, const void* data, size_t size);

// Sends everything, waiting for the socket to become writable at most timeoutMs in total.
// False when the data could not all be sent.
bool NetSendAll(int fd, const void* data, size_t size, int timeoutMs);

// Receives without blocking: bytes read (> 0), 0 when the peer closed, -1 on failure, -2 when no
// data is there yet.
long NetRecv(int fd, void* data, size_t size);

// Ends a connection: stops sending, discards a bounded amount of request bytes still queued (so
// the peer gets the reply instead of a reset) and closes the descriptor.
void NetCloseGracefully(int fd);
// Closes a descriptor (listener or connection) at once.
void NetClose(int fd);

// One entry of a poll set.
enum : short { kNetReadable = 1, kNetWritable = 2, kNetFailed = 4 };
struct NetPollItem {
    int fd = -1;
    short want = 0;   // kNetReadable | kNetWritable
    short ready = 0;  // filled by NetPoll: kNetReadable, kNetWritable, kNetFailed
};
// Waits until an entry is ready or timeoutMs passes: number of ready entries, 0 on time-out,
// -1 on failure. An interrupted wait counts as a time-out.
int NetPoll(NetPollItem* items, size_t count, int timeoutMs);

// A descriptor that becomes readable when Wake is called from any thread.
class NetWaker {
public:
    NetWaker();
    ~NetWaker();
    NetWaker(const NetWaker&) = delete;
    NetWaker& operator=(const NetWaker&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void Wake();
    // Clears the wake-up so the next poll waits again.
    void Drain();

private:
    int fd_ = -1;
};

}  // namespace platform
