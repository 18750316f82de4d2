// The control server with its routes on an ephemeral loopback port, for tests that drive it with
// real clients: a small preference tree (the "t." keys and the keys the routes name), an empty
// queue, an event recorder and a recorder of the addresses the program would open.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "support/event_recorder.h"

namespace sqtest {

class ControlServer {
public:
    // webRoot: the folder files are served from. With ownPrefs false the preference tree is left
    // as the test loaded it (the shipped definitions for a real batch, say).
    explicit ControlServer(const std::string& webRoot, bool ownPrefs = true);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" + path.
    std::string url(const std::string& path) const;
    EventRecorder& events() { return events_; }
    // Addresses handed to the desktop's opener, in order.
    std::vector<std::string> opened() const;

private:
    static void AddTestPrefs();
    EventRecorder events_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> opened_;
};

struct HttpReply {
    int status = 0;  // 0: no reply
    std::string body;
    std::string location;
};

// Runs curl (bounded in time) with the given arguments and one URL; the reply it got.
HttpReply Curl(const std::string& arguments);

// The file of the queue's items in order, joined by '|'.
std::string QueueFiles();

}  // namespace sqtest
