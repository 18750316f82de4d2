#include "engine/eventlog.h"

#include <gtest/gtest.h>

#include <string>

#include "support/event_recorder.h"
#include "support/tempdir.h"

namespace {

std::tm FixedTime() {
    std::tm tm{};
    tm.tm_mon = 2;  // March
    tm.tm_mday = 5;
    tm.tm_hour = 14;
    tm.tm_min = 7;
    tm.tm_sec = 9;
    return tm;
}

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override { SetLogClock(FixedTime); }
    void TearDown() override {
        SetLogClock(nullptr);
        CloseLogFile();
    }
    sqtest::EventRecorder recorder;
};

TEST_F(EventLogTest, LineFormatWithAndWithoutSource) {
    LogSource httpd = MakeLogSource("HTTPd");
    LogSource anonymous = MakeLogSource("");
    LogMessage(&httpd, "inited", 0);
    LogMessage(&anonymous, "plain", 0);
    LogMessage(nullptr, "no source", 0);
    EXPECT_EQ(recorder.texts(kEventLogLine),
              (std::vector<std::string>{"[03-05 14:07:09] inited [HTTPd]", "[03-05 14:07:09] plain",
                                        "[03-05 14:07:09] no source"}));
}

TEST_F(EventLogTest, PopupLimitCountsPerSource) {
    for (int limit : {0, 1, 2}) {
        recorder.clear();
        LogSource src = MakeLogSource("prefs");
        for (int i = 0; i < 3; ++i) LogMessage(&src, "msg", limit);
        EXPECT_EQ(recorder.texts(kEventNotice).size(), static_cast<size_t>(limit)) << "limit " << limit;
        EXPECT_EQ(recorder.texts(kEventLogLine).size(), 3u);
    }
    recorder.clear();
    LogSource src = MakeLogSource("x");
    LogMessage(&src, "alone", 1);
    EXPECT_EQ(recorder.texts(kEventNotice), std::vector<std::string>{"alone"});  // text only, no stamp
}

TEST_F(EventLogTest, LongTextsAreCutOrKeptWhole) {
    LogSource src = MakeLogSource("a-source-name-longer-than-thirty-one-characters");
    EXPECT_EQ(std::string(src.name).size(), 31u);

    std::string big(10000, 'x');
    LogMessageFormat(&src, "%s", big.c_str());
    auto lines = recorder.texts(kEventLogLine);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(std::string(kLogFormatMax, 'x')), std::string::npos);
    EXPECT_EQ(lines[0].find(std::string(kLogFormatMax + 1, 'x')), std::string::npos);

    recorder.clear();
    LogMessage(&src, big.c_str(), 0);  // unformatted: kept whole
    EXPECT_NE(recorder.texts(kEventLogLine).at(0).find(big), std::string::npos);
}

TEST_F(EventLogTest, KeyFormatNeverTrustsTheTextAsAFormat) {
    // Without a loaded string table the key is its own text: it stands for a user-edited one.
    struct Case { const char* key; const char* arg; const char* expected; } cases[] = {
        {"started on port %s", "8080", "started on port 8080"},
        {"two %s and %s", "a", "two %s and %s"},
        {"writes %n", "a", "writes %n"},
        {"number %d", "a", "number %d"},
        {"no conversion", "a", "no conversion"},
        {"padded %999999999s", "a", "padded %999999999s"},
        {"precise %.99999999s", "a", "precise %.99999999s"},
        {"narrow %-20s|", "a", "narrow a                   |"},
    };
    for (const auto& c : cases) {
        recorder.clear();
        LogSource src = MakeLogSource("");
        LogMessageKeyFormat(&src, c.key, c.arg, 0);
        EXPECT_EQ(recorder.texts(kEventLogLine).at(0), std::string("[03-05 14:07:09] ") + c.expected) << c.key;
    }
    recorder.clear();
    LogSource src = MakeLogSource("");
    LogMessageKeyFormat(&src, "port %d", 8080LL, 0);
    LogMessageKeyFormat(&src, "size %lld", 5000000000LL, 0);
    LogMessageKeyFormat(&src, "bad %s", 1LL, 0);
    EXPECT_EQ(recorder.texts(kEventLogLine),
              (std::vector<std::string>{"[03-05 14:07:09] port 8080", "[03-05 14:07:09] size 5000000000",
                                        "[03-05 14:07:09] bad %s"}));
}

TEST_F(EventLogTest, FileGetsCrLfLinesAndReopenClosesTheOld) {
    sqtest::TempDir dir;
    LogSource src = MakeLogSource("eng");
    ASSERT_TRUE(OpenLogFile(dir.file("a.log").c_str()));
    LogMessage(&src, "one", 0);
    ASSERT_TRUE(OpenLogFile(dir.file("b.log").c_str()));
    LogMessage(&src, "two", 0);
    CloseLogFile();
    LogMessage(&src, "three", 0);  // only to the user interface
    EXPECT_EQ(sqtest::ReadFile(dir.file("a.log")), "[03-05 14:07:09] one [eng]\r\n");
    EXPECT_EQ(sqtest::ReadFile(dir.file("b.log")), "[03-05 14:07:09] two [eng]\r\n");
    EXPECT_FALSE(OpenLogFile(dir.file("missing/dir/c.log").c_str()));
    LogMessage(&src, "four", 0);  // no file: no crash
    EXPECT_EQ(recorder.texts(kEventLogLine).size(), 4u);
}


// A log cut off mid-line (the program was killed while writing) gets its next line on a line of
// its own; a log that ends cleanly, or is empty, gets no blank line.
TEST_F(EventLogTest, NextStartBeginsOnAFreshLine) {
    struct Case {
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"", "[03-05 14:07:09] next\r\n"},
        {"[03-05 14:07:08] whole\r\n", "[03-05 14:07:08] whole\r\n[03-05 14:07:09] next\r\n"},
        {"[03-05 14:07:08] whole\n", "[03-05 14:07:08] whole\n[03-05 14:07:09] next\r\n"},
        {"[03-05 14:07:08] tor", "[03-05 14:07:08] tor\r\n[03-05 14:07:09] next\r\n"},
        {"[03-05 14:07:08] torn\r", "[03-05 14:07:08] torn\r\n[03-05 14:07:09] next\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        sqtest::TempDir dir;
        const std::string path = dir.write("q.log", c.before);
        ASSERT_TRUE(OpenLogFile(path.c_str()));
        LogMessage(nullptr, "next", 0);
        CloseLogFile();
        EXPECT_EQ(sqtest::ReadFile(path), c.after);
    }
}

}  // namespace
