// A pseudo-terminal pair standing in for a serial line: the code under test opens the slave by
// name, the test plays the device at the other end on the master side.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

namespace sqtest {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return !slaveName_.empty(); }
    const std::string& slaveName() const { return slaveName_; }
    // Writes the bytes to the slave's reader; false when they could not all be written.
    bool sendToPort(const std::string& bytes) const;
    // Up to count bytes the slave's writer sent, waiting at most a second for each piece.
    std::vector<uint8_t> receive(size_t count) const;
    // The slave's current terminal settings.
    termios slaveTermios() const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
};

}  // namespace sqtest
