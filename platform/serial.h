// Serial lines over termios: open a device for exclusive use, set its speed and framing, and move
// bytes without waiting (reads return what has arrived). Modem lines, breaks and error counters go
// through the line's ioctls; pseudo-terminals have no modem lines or counters, so those calls fail
// there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

enum class SerialParity { None, Odd, Even, Mark, Space };

struct SerialLineSettings {
    uint32_t baudRate = 38400;
    SerialParity parity = SerialParity::None;
    int dataBits = 8;           // 5..8
    bool twoStopBits = false;
    bool hardwareFlow = false;  // RTS/CTS
    bool softwareFlow = false;  // XON/XOFF with 17 and 19
};

// Modem line bits as the callers count them.
inline constexpr int kSerialDtr = 2;
inline constexpr int kSerialRts = 4;
inline constexpr int kSerialCts = 0x20;
inline constexpr int kSerialDcd = 0x40;
inline constexpr int kSerialRing = 0x80;
inline constexpr int kSerialDsr = 0x100;

struct SerialErrorCounts {
    uint32_t breaks = 0;
    uint32_t framing = 0;
    uint32_t overruns = 0;
    uint32_t parity = 0;
};

// Opens the device read-write for this process alone, without making it the controlling terminal.
// Returns the descriptor or -1.
int SerialOpen(const char* device);
void SerialClose(int fd);

// Applies the settings: raw bytes, the receiver on, modem control lines ignored for reads and
// writes, reads that return at once. False when the line refuses them (a speed termios has no
// constant for, a data width out of range, or a setting that does not read back as written).
bool SerialConfigure(int fd, const SerialLineSettings& settings);
bool SerialSetBaudRate(int fd, uint32_t baudRate);
// Sets mark (true) or space (false) parity on the line.
bool SerialSetStickParity(int fd, bool mark);

// Bytes read (0 when nothing has arrived) or -1.
long SerialRead(int fd, void* buffer, size_t size);
// Bytes written or -1. Waits while the line's output queue is full.
long SerialWrite(int fd, const void* buffer, size_t size);
// Waits until everything written has been sent.
bool SerialDrain(int fd);

bool SerialSetLines(int fd, int mask, bool on);  // mask: kSerialDtr | kSerialRts
int SerialGetLines(int fd);                      // kSerialCts | ... or -1
bool SerialSetBreak(int fd, bool on);
// Totals since the line was opened; false where the line keeps none.
bool SerialGetErrorCounts(int fd, SerialErrorCounts& counts);
// Bytes waiting to be read, or -1.
int SerialBytesWaiting(int fd);

}  // namespace platform
