#include "remote/serial/serial_port.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/pty_pair.h"
#include "support/tempdir.h"

namespace {

using sqtest::PtyPair;

TEST(SerialFifo, HoldsOneByteLessThanItsSizeAndKeepsOrderAcrossTheWrap) {
    ctb::Fifo fifo(256);
    for (int i = 0; i < 255; ++i) ASSERT_EQ(fifo.Put(static_cast<char>(i)), 1) << i;
    EXPECT_EQ(fifo.Put('x'), 0);
    EXPECT_EQ(fifo.Count(), 255u);
    char ch = 0;
    for (int i = 0; i < 200; ++i) ASSERT_EQ(fifo.Get(&ch), 1);
    EXPECT_EQ(fifo.Write("ABCDEFGHIJ", 10), 10);  // wraps past the end of the buffer
    std::vector<char> rest(300);
    int n = fifo.Read(rest.data(), 300);
    ASSERT_EQ(n, 65);
    EXPECT_EQ(static_cast<unsigned char>(rest[0]), 200);
    EXPECT_EQ(std::string(rest.data() + 55, 10), "ABCDEFGHIJ");
    EXPECT_EQ(fifo.Get(&ch), 0);
}

TEST(SerialPort, SettingsTextAndClassName) {
    struct Case {
        uint32_t parity;
        uint8_t wordlen, stopbits;
        uint32_t baud;
        const char* text;
    };
    const Case cases[] = {
        {0, 8, 1, 38400, "8N1 38400"},
        {ctb::kParityEven, 7, 2, 9600, "7E2 9600"},
        {ctb::kParityOdd, 8, 0, 115200, "8O1 115200"},
        {ctb::kParityMark, 5, 1, 4000000, "5M1 4000000"},
        {0x1234, 8, 1, 57600, "8N1 57600"},
    };
    for (const auto& c : cases) {
        ctb::SerialPort port;
        ctb::SerialPort_DCS s;
        s.parity = c.parity;
        s.wordlen = c.wordlen;
        s.stopbits = c.stopbits;
        s.baud = c.baud;
        EXPECT_EQ(port.Open("/nonexistent/tty", &s), -1);
        EXPECT_STREQ(port.SettingsText(), c.text);
    }
    CSerialConsole console;
    EXPECT_STREQ(console.ClassName(), "ctb::SerialPort");
}

TEST(SerialPort, OpenSetsTheLineAsAsked) {
    struct Case {
        ctb::SerialPort_DCS settings;
        speed_t speed;
        tcflag_t cflagSet, cflagClear;
        bool xon;
        uint32_t lineState;
    };
    ctb::SerialPort_DCS defaults;
    ctb::SerialPort_DCS twoStopsRtsCts = defaults;
    twoStopsRtsCts.stopbits = 2;
    twoStopsRtsCts.rtscts = 1;
    twoStopsRtsCts.baud = 115200;
    ctb::SerialPort_DCS xonxoff = defaults;
    xonxoff.xonxoff = 1;
    xonxoff.baud = 9600;
    const Case cases[] = {
        {defaults, B38400, CS8 | CREAD | CLOCAL, PARENB | CSTOPB | CRTSCTS, false, 6},
        {twoStopsRtsCts, B115200, CS8 | CSTOPB | CRTSCTS, PARENB, false, 2},
        {xonxoff, B9600, CS8, PARENB, true, 6},
    };
    for (const auto& c : cases) {
        PtyPair pty;
        ASSERT_TRUE(pty.ok());
        ctb::SerialPort port;
        ASSERT_EQ(port.Open(pty.slaveName().c_str(), &c.settings), 0) << port.SettingsText();
        EXPECT_TRUE(port.IsOpen());
        termios t = pty.slaveTermios();
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & CSIZE, c.cflagSet & CSIZE);
        EXPECT_EQ(t.c_cflag & (c.cflagSet & ~CSIZE), c.cflagSet & ~CSIZE);
        EXPECT_EQ(t.c_cflag & c.cflagClear, 0u);
        EXPECT_EQ((t.c_iflag & IXON) != 0, c.xon);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(port.LineState(), c.lineState);
        EXPECT_EQ(port.Close(), 0);
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST(SerialPort, RefusedSettingsAndMissingDevicesLeaveThePortClosed) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    sqtest::TempDir dir;
    const std::string plainFile = dir.write("not-a-tty", "x");
    struct Case {
        std::string device;
        uint32_t baud;
        uint8_t wordlen;
        uint32_t parity;
        int result;
    };
    const Case cases[] = {
        {"/nonexistent/ttyS9", 38400, 8, 0, -1},
        {plainFile, 38400, 8, 0, -1},
        {pty.slaveName(), 12345, 8, 0, -2},  // no such speed on this line
        {pty.slaveName(), 38400, 9, 0, -2},
        // A pseudo-terminal carries 8 data bits without parity only; 7E does not read back.
        {pty.slaveName(), 38400, 7, ctb::kParityEven, -2},
    };
    for (const auto& c : cases) {
        ctb::SerialPort port;
        ctb::SerialPort_DCS s;
        s.baud = c.baud;
        s.wordlen = c.wordlen;
        s.parity = c.parity;
        EXPECT_EQ(port.Open(c.device.c_str(), &s), c.result) << c.device << " " << c.baud;
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.Write("x", 1), -1);
    }
    // The status console counts every failed open as no console: nothing is written.
    EXPECT_EQ(OpenStatusConsole("/nonexistent/ttyS9", 38400), nullptr);
    EXPECT_EQ(OpenStatusConsole(pty.slaveName(), 12345), nullptr);
    EXPECT_EQ(pty.receive(4), std::vector<uint8_t>{});
}

TEST(SerialPort, ReadUntilFindsTheTerminatorOutsideQuotes) {
    struct Case {
        std::string input, terminator;
        int quote;
        int result;
        std::string text;
    };
    const Case cases[] = {
        {"ab\r\n", "\r\n", -1, 1, "ab"},
        {"\"x\r\n\"y\r\n", "\r\n", '"', 1, "\"x\r\n\"y"},
        {"xaaab", "aab", -1, 1, "xa"},  // the terminator overlaps a partial match
        {"a\rb\r\n", "\r\n", -1, 1, "a\rb"},
        {"no end", "\r\n", -1, 0, "no end"},
    };
    for (const auto& c : cases) {
        PtyPair pty;
        ASSERT_TRUE(pty.ok());
        ctb::SerialPort port;
        ASSERT_EQ(port.Open(pty.slaveName().c_str(), nullptr), 0);
        ASSERT_TRUE(pty.sendToPort(c.input));
        std::string text;
        EXPECT_EQ(port.ReadUntil(text, c.terminator, 200, c.quote), c.result) << c.input;
        EXPECT_EQ(text, c.text);
    }
}

TEST(SerialPort, ControlCountsWaitingBytesAndRejectsUnknownCodes) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ctb::SerialPort port;
    ASSERT_EQ(port.Open(pty.slaveName().c_str(), nullptr), 0);
    ASSERT_TRUE(pty.sendToPort("abc"));
    int waiting = -1;
    for (int i = 0; i < 100 && waiting != 3; ++i) {
        waiting = port.Control(261, nullptr);
        if (waiting != 3) usleep(10000);
    }
    EXPECT_EQ(waiting, 3);
    uint32_t data[4] = {};
    EXPECT_EQ(port.Control(999, data), -1);
    // A pseudo-terminal keeps no error counters and has no modem lines.
    EXPECT_EQ(port.Control(256, data), -1);
    EXPECT_EQ(port.GetLines(), -1);
    char buf[8];
    EXPECT_EQ(port.Read(buf, sizeof buf), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(port.Read(buf, sizeof buf), 0);  // nothing waiting: returns at once
}

TEST(SerialStatus, RecordsReachTheOtherEndByteForByte) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    auto console = OpenStatusConsole(pty.slaveName(), 57600);
    ASSERT_NE(console, nullptr);
    EXPECT_STREQ(console->SettingsText(), "8N1 57600");
    termios t = pty.slaveTermios();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(pty.receive(4), (std::vector<uint8_t>{0x00, 0x10, 0x01, 0x00}));

    SerialStatusFigures f;
    f.progressPercent = 37.9;
    f.speed1 = 12.34;
    f.speed2 = 0.5;
    f.itemCounter1 = 3;
    f.itemCounter2 = 70000;  // low 16 bits: 0x1170
    f.itemBitrate = 320;
    f.itemFigure = 12345;
    f.remainingSeconds = -1;
    f.batchElapsedSeconds = 90;
    f.cpuTotal = 55;
    f.cpuClockMHz = 100;  // not above 100: not sent
    SendStatusRecords(*console, f);
    const std::vector<uint8_t> expected = {
        0x01, 0x10, 0x25, 0x00,  // progress 37
        0x02, 0x10, 0x7B, 0x00,  // speed 123
        0x03, 0x10, 0x05, 0x00,  // speed 5
        0x07, 0x10, 0x03, 0x00,  // first counter
        0x08, 0x10, 0x70, 0x11,  // second counter, low 16 bits
        0x05, 0x10, 0x40, 0x01,  // bitrate 320
        0x04, 0x10, 0xD2, 0x04,  // figure / 10 = 1234
        0x10, 0x00, 0xFF, 0xFF,  // remaining -1
        0x09, 0x10, 0x5A, 0x00,  // elapsed 90 s
        0x00, 0x11, 0x37, 0x00,  // total load 55; the zero loads and the clock are left out
    };
    EXPECT_EQ(pty.receive(expected.size()), expected);

    CloseStatusConsole(console, true);
    EXPECT_EQ(console, nullptr);
    EXPECT_EQ(pty.receive(4), (std::vector<uint8_t>{0x00, 0x10, 0x02, 0x00}));
}

}  // namespace
