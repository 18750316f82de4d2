#include "support/pty_pair.h"

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>

namespace sqtest {

PtyPair::PtyPair() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) slaveName_ = name;
}

PtyPair::~PtyPair() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
}

bool PtyPair::sendToPort(const std::string& bytes) const {
    return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

std::vector<uint8_t> PtyPair::receive(size_t count) const {
    std::vector<uint8_t> out;
    while (out.size() < count) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) break;
        uint8_t buf[256];
        ssize_t n = read(master_, buf, std::min(sizeof buf, count - out.size()));
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

termios PtyPair::slaveTermios() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
}

}  // namespace sqtest
