// Serial port classes and the status records an external display reads while a batch runs.
// Only the user-interface thread uses a port; nothing here is shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ctb {

// Ring buffer of bytes put back by a reader. Holds at most size - 1 bytes.
class Fifo {
public:
    explicit Fifo(size_t size = 256);
    virtual ~Fifo() = default;

    virtual void Clear();
    virtual int Get(char* ch);      // 1 with a byte, 0 when empty
    virtual int Put(char ch);       // 1 when stored, 0 when full
    virtual int Read(char* data, int n);
    virtual int Write(const char* data, int n);

    size_t Count() const;

private:
    size_t Next(size_t pos) const { return pos + 1 == buffer_.size() ? 0 : pos + 1; }

    std::vector<char> buffer_;
    size_t read_ = 0;
    size_t write_ = 0;
};

class IOBase {
public:
    IOBase() : fifo_(256) {}
    virtual ~IOBase() = default;
    IOBase(const IOBase&) = delete;
    IOBase& operator=(const IOBase&) = delete;

    virtual const char* ClassName() { return "ctb::IOBase"; }
    virtual int Close() = 0;
    // settings: the class's own settings record, or null to keep the current ones.
    virtual int Open(const char* deviceName, const void* settings) = 0;
    virtual int Control(int /*code*/, uint32_t* /*data*/) { return -1; }
    virtual bool IsOpen() = 0;
    virtual int Read(char* buffer, size_t n) = 0;
    // Reads until the terminator has arrived (1), timeoutMs passed (0) or a read failed (-1). text
    // receives what came before the terminator. Inside quote characters the terminator is not
    // matched; quote < 0 turns quoting off.
    virtual int ReadUntil(std::string& text, const std::string& terminator, uint32_t timeoutMs,
                          int quote);
    virtual int Write(const char* buffer, size_t n) = 0;

protected:
    Fifo fifo_;
};

// Parity words of the settings record.
inline constexpr uint32_t kParityOdd = 0x200;
inline constexpr uint32_t kParityEven = 0x400;
inline constexpr uint32_t kParityMark = 0x800;
inline constexpr uint32_t kParitySpace = 0x1000;

struct SerialPort_DCS {
    uint32_t baud = 38400;
    uint32_t parity = 0;  // one of the parity words; anything else is none
    uint8_t wordlen = 8;
    uint8_t stopbits = 1;  // 2 = two, else one
    uint8_t rtscts = 0;
    uint8_t xonxoff = 0;
    char text[16] = {};  // SettingsText's buffer
};

class SerialPort_x : public IOBase {
public:
    virtual int ToggleLines(int mask) = 0;
    virtual int ClearLines(int mask) = 0;
    virtual int GetLines() = 0;
    virtual const char* SettingsText() = 0;
    virtual int SendBreak(int duration) = 0;
    virtual int SetBaudRate(uint32_t rate) = 0;
    virtual int SetLines(int mask) = 0;
    virtual int SetParityBit(bool bit) = 0;
};

class SerialPort : public SerialPort_x {
public:
    SerialPort() = default;
    ~SerialPort() override;

    const char* ClassName() override { return "ctb::SerialPort"; }
    int Close() override;
    // 0 when open; -1 when the device cannot be opened, -2 when the line refuses the settings
    // (the device is closed again).
    int Open(const char* deviceName, const void* settings) override;
    int Control(int code, uint32_t* data) override;
    bool IsOpen() override { return fd_ >= 0; }
    int Read(char* buffer, size_t n) override;
    int Write(const char* buffer, size_t n) override;

    int ToggleLines(int mask) override;
    int ClearLines(int mask) override;
    int GetLines() override;
    const char* SettingsText() override;
    int SendBreak(int duration) override;
    int SetBaudRate(uint32_t rate) override;
    int SetLines(int mask) override;
    int SetParityBit(bool bit) override;

    const SerialPort_DCS& Settings() const { return settings_; }
    const char* DeviceName() const { return deviceName_; }
    uint32_t LineState() const { return lineState_; }

private:
    // Adds the error counts since the last call to the totals; fills delta with this call's.
    bool CollectErrors(uint32_t delta[4]);

    SerialPort_DCS settings_;
    char deviceName_[32] = {};
    int fd_ = -1;
    uint32_t errorTotals_[4] = {};  // breaks, framing, overruns, parity
    uint32_t errorBase_[4] = {};    // the line's own counters at the last collection
    uint32_t lineState_ = 0;
};

}  // namespace ctb

// The port the statistics window writes its status records to.
class CSerialConsole : public ctb::SerialPort {};

// One status record: code and the low 16 bits of the value, little-endian.
enum SerialStatusCode : uint16_t {
    kSerialPortState = 0x1000,
    kSerialProgress = 0x1001,
    kSerialSpeed1 = 0x1002,
    kSerialSpeed2 = 0x1003,
    kSerialItemFigure = 0x1004,
    kSerialItemBitrate = 0x1005,
    kSerialItemCounter1 = 0x1007,
    kSerialItemCounter2 = 0x1008,
    kSerialBatchElapsed = 0x1009,
    kSerialRemaining = 0x0010,
    kSerialCpuTotal = 0x1100,
    kSerialCpuPart1 = 0x1101,
    kSerialCpuPart2 = 0x1102,
    kSerialCpuClock = 0x1103,
};

void SendStatusRecord(ctb::IOBase& port, uint16_t code, int64_t value);

// The figures of one refresh of the statistics window.
struct SerialStatusFigures {
    double progressPercent = 0;
    double speed1 = 0;
    double speed2 = 0;
    int64_t itemCounter1 = 0;
    int64_t itemCounter2 = 0;
    int64_t itemBitrate = 0;
    uint64_t itemFigure = 0;
    int64_t remainingSeconds = 0;
    int64_t batchElapsedSeconds = 0;
    int cpuTotal = 0;
    int cpuPart1 = 0;
    int cpuPart2 = 0;
    int cpuClockMHz = 0;
};

// Writes one refresh's records in the order the display expects.
void SendStatusRecords(ctb::IOBase& port, const SerialStatusFigures& figures);

// Opens the status console on the port at the given speed (8 data bits, no parity, one stop bit,
// no flow control) and announces it with the "opened" record. Null when the port cannot be opened
// or set up.
std::unique_ptr<CSerialConsole> OpenStatusConsole(const std::string& port, uint32_t baudRate);
// Sends the closing record (2 when the running item is being stopped, else 0) and closes the port.
void CloseStatusConsole(std::unique_ptr<CSerialConsole>& console, bool stopping);
