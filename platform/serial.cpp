#include "platform/serial.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

struct SpeedEntry {
    uint32_t rate;
    speed_t constant;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},
    {150, B150},       {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedConstant(uint32_t rate, speed_t& out) {
    for (const auto& entry : kSpeeds) {
        if (entry.rate == rate) {
            out = entry.constant;
            return true;
        }
    }
    return false;
}

// tcsetattr succeeds when any one setting took; reading back tells whether all of them did.
bool ApplyAndCheck(int fd, const termios& wanted) {
    if (tcsetattr(fd, TCSANOW, &wanted) != 0) return false;
    termios got{};
    if (tcgetattr(fd, &got) != 0) return false;
    const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    return (got.c_cflag & mask) == (wanted.c_cflag & mask) &&
           (got.c_iflag & (IXON | IXOFF)) == (wanted.c_iflag & (IXON | IXOFF)) &&
           cfgetospeed(&got) == cfgetospeed(&wanted);
}

}  // namespace

int SerialOpen(const char* device) {
    if (!device || !*device) return -1;
    // Non-blocking so that a line without carrier does not hold the open; cleared afterwards.
    int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (!isatty(fd) || ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return -1;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SerialClose(int fd) {
    if (fd >= 0) ::close(fd);
}

bool SerialConfigure(int fd, const SerialLineSettings& settings) {
    speed_t speed;
    if (!SpeedConstant(settings.baudRate, speed)) return false;
    tcflag_t size;
    switch (settings.dataBits) {
        case 5: size = CS5; break;
        case 6: size = CS6; break;
        case 7: size = CS7; break;
        case 8: size = CS8; break;
        default: return false;
    }
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= size | CLOCAL | CREAD;
    switch (settings.parity) {
        case SerialParity::None: break;
        case SerialParity::Odd: t.c_cflag |= PARENB | PARODD; break;
        case SerialParity::Even: t.c_cflag |= PARENB; break;
        case SerialParity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case SerialParity::Space: t.c_cflag |= PARENB | CMSPAR; break;
    }
    if (settings.twoStopBits) t.c_cflag |= CSTOPB;
    if (settings.hardwareFlow) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (settings.softwareFlow) {
        t.c_iflag |= IXON | IXOFF;
        t.c_cc[VSTART] = 17;
        t.c_cc[VSTOP] = 19;
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return ApplyAndCheck(fd, t);
}

bool SerialSetBaudRate(int fd, uint32_t baudRate) {
    speed_t speed;
    termios t{};
    if (!SpeedConstant(baudRate, speed) || tcgetattr(fd, &t) != 0) return false;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return ApplyAndCheck(fd, t);
}

bool SerialSetStickParity(int fd, bool mark) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    t.c_cflag |= PARENB | CMSPAR;
    if (mark) {
        t.c_cflag |= PARODD;
    } else {
        t.c_cflag &= ~PARODD;
    }
    return ApplyAndCheck(fd, t);
}

long SerialRead(int fd, void* buffer, size_t size) {
    for (;;) {
        ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        return -1;
    }
}

long SerialWrite(int fd, const void* buffer, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0) break;  // a line that takes nothing for a second is stuck
        } else {
            return done ? static_cast<long>(done) : -1;
        }
    }
    return static_cast<long>(done);
}

bool SerialDrain(int fd) {
    return tcdrain(fd) == 0;
}

bool SerialSetLines(int fd, int mask, bool on) {
    int bits = 0;
    if (mask & kSerialDtr) bits |= TIOCM_DTR;
    if (mask & kSerialRts) bits |= TIOCM_RTS;
    if (!bits) return true;
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

int SerialGetLines(int fd) {
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) return -1;
    int lines = 0;
    if (bits & TIOCM_CTS) lines |= kSerialCts;
    if (bits & TIOCM_DSR) lines |= kSerialDsr;
    if (bits & TIOCM_RI) lines |= kSerialRing;
    if (bits & TIOCM_CD) lines |= kSerialDcd;
    return lines;
}

bool SerialSetBreak(int fd, bool on) {
    return ioctl(fd, on ? TIOCSBRK : TIOCCBRK) == 0;
}

bool SerialGetErrorCounts(int fd, SerialErrorCounts& counts) {
    serial_icounter_struct icount{};
    if (ioctl(fd, TIOCGICOUNT, &icount) != 0) return false;
    counts.breaks = static_cast<uint32_t>(icount.brk);
    counts.framing = static_cast<uint32_t>(icount.frame);
    counts.overruns = static_cast<uint32_t>(icount.overrun + icount.buf_overrun);
    counts.parity = static_cast<uint32_t>(icount.parity);
    return true;
}

int SerialBytesWaiting(int fd) {
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0) return -1;
    return n;
}

}  // namespace platform
