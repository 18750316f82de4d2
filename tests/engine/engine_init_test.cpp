#include "engine/engine_init.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "remote/httpd/web_server.h"
#include "support/event_recorder.h"
#include "support/program_folder.h"

namespace {

int ThreadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

// Strips the "[MM-DD hh:mm:ss] " stamp.
std::vector<std::string> Unstamped(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (auto& l : lines) out.push_back(l.size() > 17 ? l.substr(17) : l);
    return out;
}

class EngineStartup : public ::testing::Test {
protected:
    void SetUp() override {
        definitions_ = folder.read("qxcore.xml");
        ASSERT_FALSE(definitions_.empty()) << "shipped qxcore.xml missing from the build output";
        recorder.context().definitionsText = definitions_.c_str();
        recorder.context().definitionsLength = static_cast<uint32_t>(definitions_.size());
    }
    void TearDown() override { EngineShutdown(&recorder.context()); }

    // What the shell does between the stages: the values files, then the user's choices.
    void LoadValues() {
        for (const char* f : {"qxcore64.xml", "defaults.xml", "sonquill.xml"})
            EXPECT_EQ(LoadPreset((folder.path() + f).c_str(), nullptr, false), 0) << f;
        GetPrefStore().SetInt("overall.httpd.port", 0);  // any free port
    }

    sqtest::ProgramFolder folder;
    sqtest::EventRecorder recorder;
    std::string definitions_;
};

TEST_F(EngineStartup, StagesRaiseTheirLogLinesInOrderAndShutdownEndsEveryThread) {
    const int threadsBefore = ThreadCount();
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    EXPECT_GE(recorder.context().cpuCount, 1);
    LoadValues();
    ASSERT_EQ(EngineInitLate(&recorder.context()), 0);
    const int port = recorder.context().httpPort;
    ASSERT_GT(port, 0);
    ASSERT_EQ(EngineStart(&recorder.context()), 0);

    const std::string p = std::to_string(port);
    const auto lines = Unstamped(recorder.texts(kEventLogLine));
    const std::vector<std::string> expected = {
        std::string(EngineText("httpd_starting")).replace(std::string(EngineText("httpd_starting")).find("%d"), 2, "0") + " [HTTPd]",
        std::string(EngineText("httpd_started")).replace(std::string(EngineText("httpd_started")).find("%d"), 2, p) + " [HTTPd]",
        std::string(EngineText("SCAN_PLUGINS")) + " [HTTPd]",
        std::string(EngineText("inited")) + " [HTTPd]",
    };
    std::vector<std::string> engineLines;
    for (auto& l : lines)
        if (l.size() > 8 && l.compare(l.size() - 8, 8, " [HTTPd]") == 0) engineLines.push_back(l);
    EXPECT_EQ(engineLines, expected);
    EXPECT_TRUE(recorder.texts(kEventNotice).empty());
    EXPECT_STRNE(EngineText("inited"), "inited") << "the engine's string table was not loaded";
    EXPECT_FALSE(std::string(GetPrefStore().GetString("overall.presets.languages")).empty());

    EngineShutdown(&recorder.context());
    EXPECT_FALSE(g_controlServer.running.load());
    EXPECT_EQ(ThreadCount(), threadsBefore);
    EXPECT_EQ(GetPrefStore().GetInt("overall.task.parallelize"), 0);  // tree freed
    EngineShutdown(&recorder.context());                                // twice is harmless
}

TEST_F(EngineStartup, ControlServerListensOnLoopbackOnTheUsersOrTheContextsPort) {
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    LoadValues();
    GetPrefStore().SetInt("overall.httpd.remote", 0);
    ASSERT_EQ(EngineInitLate(&recorder.context()), 0);
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ASSERT_EQ(getsockname(g_controlServer.listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    EXPECT_EQ(addr.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    const int firstPort = recorder.context().httpPort;
    EngineShutdown(&recorder.context());

    // The user's port (set after the definitions) is the one bound, and a port preset in the
    // context wins over it.
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    LoadValues();
    GetPrefStore().SetInt("overall.httpd.port", firstPort);
    recorder.context().httpPort = 0;
    ASSERT_EQ(EngineInitLate(&recorder.context()), 0);
    EXPECT_EQ(recorder.context().httpPort.load(), firstPort);
}

TEST_F(EngineStartup, FailuresGiveTheirResultCodes) {
    // Definitions that yield no element: 3.
    recorder.context().definitionsText = "not xml";
    recorder.context().definitionsLength = 7;
    EXPECT_EQ(EngineInit(&recorder.context()), 3);

    // A language list whose file has no "qxcore" table: 4, and the fatal message is reported.
    recorder.context().definitionsText = nullptr;
    folder.dir().write("lang.xml",
                       "<languages><language id=\"English\" codepage=\"1252\" file=\"lang/none.xml\"/></languages>");
    folder.dir().write("lang/none.xml", "<StringTables><StringTable module=\"other\"/></StringTables>");
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    EXPECT_EQ(EngineInitLate(&recorder.context()), 4);
    recorder.clear();
    ReportFatalError();
    EXPECT_EQ(recorder.texts(kEventNotice), std::vector<std::string>{"Language data cannot be loaded."});
}

TEST(EngineStartupNoLanguages, MissingLanguageListIsNotAnError) {
    sqtest::ProgramFolder folder(false);
    sqtest::EventRecorder recorder;
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    GetPrefStore().SetInt("overall.httpd.port", 0);
    EXPECT_EQ(EngineInitLate(&recorder.context()), 0);
    EXPECT_STREQ(EngineText("inited"), "inited");
    EngineShutdown(&recorder.context());
}

TEST(EngineEvents, DefaultCallbackAnswersAndPrints) {
    SetEngineContext(nullptr);
    struct Case { int code; int answer; const char* printed; } cases[] = {
        {kEventNotice, 0, "[alert] hello\n"}, {kEventFinalReport, 0, "[popup] hello\n"},
        {kEventAskYesNoCancel, kAnswerYes, ""}, {kEventAskCountdown, 1, ""}, {7, 1, ""}, {8, 1, ""},
        {kEventCommandLine, 0, ""}, {99, 0, ""},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(RaiseEvent(c.code, "hello"), c.answer) << c.code;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.code;
    }
}

TEST(EngineEvents, FinalReportAndFirstLine) {
    sqtest::EventRecorder recorder;
    ShowFinalReport("job_done", nullptr);
    auto events = recorder.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, kEventFinalReport);
    EXPECT_EQ(events[0].arg, 0);

    struct Case { const char* in; const char* out; } cases[] = {
        {"a\rb", "a"}, {"a\nb", "a"}, {"abc", "abc"}, {"", ""}, {"\nx", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(FirstLine(c.in), c.out);
    EXPECT_EQ(FirstLine(nullptr), "");
}

}  // namespace
