#include "remote/serial/serial_port.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/serial.h"
#include "platform/sync.h"

namespace ctb {

Fifo::Fifo(size_t size) : buffer_(std::max<size_t>(size, 2)) {}

void Fifo::Clear() { read_ = write_ = 0; }

int Fifo::Get(char* ch) {
    if (read_ == write_) return 0;
    *ch = buffer_[read_];
    read_ = Next(read_);
    return 1;
}

int Fifo::Put(char ch) {
    size_t next = Next(write_);
    if (next == read_) return 0;
    buffer_[write_] = ch;
    write_ = next;
    return 1;
}

int Fifo::Read(char* data, int n) {
    int count = 0;
    while (count < n && Get(data + count)) ++count;
    return count;
}

int Fifo::Write(const char* data, int n) {
    int count = 0;
    while (count < n && Put(data[count])) ++count;
    return count;
}

size_t Fifo::Count() const {
    return write_ >= read_ ? write_ - read_ : buffer_.size() - read_ + write_;
}

int IOBase::ReadUntil(std::string& text, const std::string& terminator, uint32_t timeoutMs,
                      int quote) {
    text.clear();
    const uint64_t start = platform::TickCount();
    bool quoted = false;
    for (;;) {
        char ch;
        int got = Read(&ch, 1);
        if (got < 0) return -1;
        if (got == 0) {
            if (platform::TickCount() - start >= timeoutMs) return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        text.push_back(ch);
        if (quote >= 0 && static_cast<unsigned char>(ch) == static_cast<unsigned>(quote)) {
            quoted = !quoted;
            continue;
        }
        // Every byte stays in the text until the whole terminator has arrived, so a partial match
        // loses nothing and overlapping terminators ("aab" in "aaab") are still found.
        if (!quoted && !terminator.empty() && text.size() >= terminator.size() &&
            text.compare(text.size() - terminator.size(), terminator.size(), terminator) == 0) {
            text.resize(text.size() - terminator.size());
            return 1;
        }
    }
}

SerialPort::~SerialPort() { Close(); }

int SerialPort::Close() {
    if (fd_ >= 0) platform::SerialClose(fd_);
    fd_ = -1;
    return 0;
}

namespace {

platform::SerialParity ParityOf(uint32_t word) {
    switch (word) {
        case kParityOdd: return platform::SerialParity::Odd;
        case kParityEven: return platform::SerialParity::Even;
        case kParityMark: return platform::SerialParity::Mark;
        case kParitySpace: return platform::SerialParity::Space;
        default: return platform::SerialParity::None;
    }
}

}  // namespace

int SerialPort::Open(const char* deviceName, const void* settings) {
    if (settings) std::memcpy(&settings_, settings, sizeof settings_);
    Close();
    int fd = platform::SerialOpen(deviceName);
    if (fd < 0) return -1;
    std::snprintf(deviceName_, sizeof deviceName_, "%s", deviceName);

    platform::SerialLineSettings line;
    line.baudRate = settings_.baud;
    line.parity = ParityOf(settings_.parity);
    line.dataBits = settings_.wordlen;
    line.twoStopBits = settings_.stopbits == 2;
    line.hardwareFlow = settings_.rtscts != 0;
    line.softwareFlow = settings_.xonxoff != 0;
    // A line that cannot take the settings is closed again rather than written to misconfigured.
    if (!platform::SerialConfigure(fd, line)) {
        platform::SerialClose(fd);
        return -2;
    }
    fd_ = fd;
    // Without hardware flow control DTR and RTS are raised; with it RTS follows the handshake.
    // Lines without modem control (pseudo-terminals) ignore this.
    if (line.hardwareFlow) {
        platform::SerialSetLines(fd_, platform::kSerialDtr, true);
        lineState_ = 2;
    } else {
        platform::SerialSetLines(fd_, platform::kSerialDtr | platform::kSerialRts, true);
        lineState_ = 6;
    }
    std::fill(std::begin(errorTotals_), std::end(errorTotals_), 0u);
    platform::SerialErrorCounts counts;
    if (platform::SerialGetErrorCounts(fd_, counts)) {
        errorBase_[0] = counts.breaks;
        errorBase_[1] = counts.framing;
        errorBase_[2] = counts.overruns;
        errorBase_[3] = counts.parity;
    }
    return 0;
}

bool SerialPort::CollectErrors(uint32_t delta[4]) {
    platform::SerialErrorCounts counts;
    if (!IsOpen() || !platform::SerialGetErrorCounts(fd_, counts)) return false;
    const uint32_t now[4] = {counts.breaks, counts.framing, counts.overruns, counts.parity};
    for (int i = 0; i < 4; ++i) {
        delta[i] = now[i] - errorBase_[i];
        errorBase_[i] = now[i];
        errorTotals_[i] += delta[i];
    }
    return true;
}

int SerialPort::Control(int code, uint32_t* data) {
    switch (code) {
        case 0:
            return SendBreak(0);
        case 256: {
            uint32_t delta[4];
            if (!data || !CollectErrors(delta)) return -1;
            std::copy(std::begin(errorTotals_), std::end(errorTotals_), data);
            return 0;
        }
        case 257:
        case 258:
        case 259:
        case 260: {
            uint32_t delta[4];
            if (!data || !CollectErrors(delta)) return -1;
            data[0] = delta[code - 257] ? 1 : 0;
            return 0;
        }
        case 261:
            return IsOpen() ? platform::SerialBytesWaiting(fd_) : -1;
        case 262:
            return SetParityBit(data && data[0] == 1);
        default:
            return -1;
    }
}

int SerialPort::Read(char* buffer, size_t n) {
    size_t taken = 0;
    char ch;
    while (taken < n && fifo_.Get(&ch)) buffer[taken++] = ch;
    if (taken == n) return static_cast<int>(taken);
    if (!IsOpen()) return taken ? static_cast<int>(taken) : -1;
    long got = platform::SerialRead(fd_, buffer + taken, n - taken);
    // Bytes already taken from the put-back buffer are returned even when the line fails.
    if (got < 0) return taken ? static_cast<int>(taken) : -1;
    return static_cast<int>(taken + static_cast<size_t>(got));
}

int SerialPort::Write(const char* buffer, size_t n) {
    if (!IsOpen()) return -1;
    long written = platform::SerialWrite(fd_, buffer, n);
    return written < 0 ? -1 : static_cast<int>(written);
}

int SerialPort::ToggleLines(int mask) {
    if (!IsOpen()) return -1;
    for (int bit : {platform::kSerialDtr, platform::kSerialRts}) {
        if (!(mask & bit)) continue;
        bool on = !(lineState_ & static_cast<uint32_t>(bit));
        if (!platform::SerialSetLines(fd_, bit, on)) return -1;
        lineState_ ^= static_cast<uint32_t>(bit);
    }
    return 0;
}

int SerialPort::ClearLines(int mask) {
    if (!IsOpen() || !platform::SerialSetLines(fd_, mask, false)) return -1;
    lineState_ &= ~static_cast<uint32_t>(mask & 6);
    return 0;
}

int SerialPort::SetLines(int mask) {
    if (!IsOpen() || !platform::SerialSetLines(fd_, mask, true)) return -1;
    lineState_ |= static_cast<uint32_t>(mask & 6);
    return 0;
}

int SerialPort::GetLines() { return IsOpen() ? platform::SerialGetLines(fd_) : -1; }

const char* SerialPort::SettingsText() {
    char letter = 'N';
    switch (settings_.parity) {
        case kParityOdd: letter = 'O'; break;
        case kParityEven: letter = 'E'; break;
        case kParityMark: letter = 'M'; break;
        case kParitySpace: letter = 'S'; break;
        default: break;
    }
    std::snprintf(settings_.text, sizeof settings_.text, "%i%c%i %i",
                  static_cast<int>(settings_.wordlen), letter, settings_.stopbits == 2 ? 2 : 1,
                  static_cast<int>(settings_.baud));
    return settings_.text;
}

int SerialPort::SendBreak(int duration) {
    if (!IsOpen() || !platform::SerialSetBreak(fd_, true)) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(250 * std::max(duration, 1)));
    return platform::SerialSetBreak(fd_, false) ? 0 : -1;
}

int SerialPort::SetBaudRate(uint32_t rate) {
    if (!IsOpen() || !platform::SerialSetBaudRate(fd_, rate)) return -1;
    settings_.baud = rate;
    return 0;
}

int SerialPort::SetParityBit(bool bit) {
    if (!IsOpen() || !platform::SerialSetStickParity(fd_, bit)) return -2;
    return 0;
}

}  // namespace ctb

void SendStatusRecord(ctb::IOBase& port, uint16_t code, int64_t value) {
    const auto low = static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFF);
    const char record[4] = {static_cast<char>(code & 0xFF), static_cast<char>(code >> 8),
                            static_cast<char>(low & 0xFF), static_cast<char>(low >> 8)};
    port.Write(record, sizeof record);  // the display acknowledges nothing; failures are ignored
}

namespace {

int64_t Truncated(double value) {
    if (!std::isfinite(value)) return 0;
    return static_cast<int64_t>(std::trunc(std::clamp(value, -9.0e18, 9.0e18)));
}

}  // namespace

void SendStatusRecords(ctb::IOBase& port, const SerialStatusFigures& f) {
    SendStatusRecord(port, kSerialProgress, Truncated(f.progressPercent));
    SendStatusRecord(port, kSerialSpeed1, Truncated(f.speed1 * 10));
    SendStatusRecord(port, kSerialSpeed2, Truncated(f.speed2 * 10));
    SendStatusRecord(port, kSerialItemCounter1, f.itemCounter1);
    SendStatusRecord(port, kSerialItemCounter2, f.itemCounter2);
    SendStatusRecord(port, kSerialItemBitrate, f.itemBitrate);
    SendStatusRecord(port, kSerialItemFigure, static_cast<int64_t>(f.itemFigure / 10));
    SendStatusRecord(port, kSerialRemaining, f.remainingSeconds);
    SendStatusRecord(port, kSerialBatchElapsed, f.batchElapsedSeconds);
    if (f.cpuTotal > 0) SendStatusRecord(port, kSerialCpuTotal, f.cpuTotal);
    if (f.cpuPart1 > 0) SendStatusRecord(port, kSerialCpuPart1, f.cpuPart1);
    if (f.cpuPart2 > 0) SendStatusRecord(port, kSerialCpuPart2, f.cpuPart2);
    if (f.cpuClockMHz > 100) SendStatusRecord(port, kSerialCpuClock, f.cpuClockMHz);
}

std::unique_ptr<CSerialConsole> OpenStatusConsole(const std::string& port, uint32_t baudRate) {
    auto console = std::make_unique<CSerialConsole>();
    ctb::SerialPort_DCS settings;
    settings.baud = baudRate;
    // Every failed open drops the console: a port that could not be set up is never written to.
    if (console->Open(port.c_str(), &settings) != 0) return nullptr;
    SendStatusRecord(*console, kSerialPortState, 1);
    return console;
}

void CloseStatusConsole(std::unique_ptr<CSerialConsole>& console, bool stopping) {
    if (!console) return;
    SendStatusRecord(*console, kSerialPortState, stopping ? 2 : 0);
    console.reset();
}
