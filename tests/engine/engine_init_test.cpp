#include "engine/engine_init.h"
#include "engine/eventlog.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/inputtype.h"
#include "engine/queue/queue.h"
#include "remote/handlers/servers.h"
#include "remote/httpd/web_server.h"
#include "support/event_recorder.h"
#include "support/program_folder.h"
#include "ui/main/composition.h"

namespace {

// The threads of this process the kernel still lists. A joined thread may stay listed for a moment
// after the join returns (the join wakes before the kernel has reaped the thread).
int ThreadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

// The address the control server listens on (network order).
uint32_t ControlServerAddress() {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    EXPECT_EQ(getsockname(g_controlServer.listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    return addr.sin_addr.s_addr;
}

// Strips the "[MM-DD hh:mm:ss] " stamp.
std::vector<std::string> Unstamped(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (auto& l : lines) out.push_back(l.size() > 17 ? l.substr(17) : l);
    return out;
}

// The engine as the program composes it: with the control server of the layer above.
class EngineStartup : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ConnectEngine();
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
    QueueHeadRelease();  // as a previous shut-down leaves it
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    EXPECT_GE(recorder.context().cpuCount, 1);
    ASSERT_NE(GetQueueHead().cell.audio, nullptr) << "the head cell's default formats";
    EXPECT_EQ(GetQueueHead().cell.audio->samplerate, 44100u);
    // The defaults that depend on the engine are set by its start-up.
    EXPECT_EQ(GetPrefStore().GetString("overall.generic.fileTypes"), BuildFileTypesDefault());
    EXPECT_TRUE(GetPrefStore().IsDefault(GetPrefStore().FindNode("overall.generic.fileTypes")));
    LoadValues();
    const std::string logFile = folder.dir().file("engine.log");
    GetPrefStore().SetBool("overall.generic.logging", true);
    GetPrefStore().SetString("overall.generic.logfile", logFile.c_str());
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

    // The log file, opened by the start stage, holds the lines from then on.
    const std::string inited = "] " + expected[3] + "\r\n";
    LogSource src = MakeLogSource("");
    LogMessage(&src, "after start", 0);
    EngineShutdown(&recorder.context());
    const std::string logText = folder.read("engine.log");
    EXPECT_NE(logText.find(inited), std::string::npos) << logText;
    EXPECT_NE(logText.find("] after start\r\n"), std::string::npos) << logText;
    LogMessage(&src, "after shutdown", 0);
    EXPECT_EQ(folder.read("engine.log"), logText) << "the file is closed at shut-down";

    EXPECT_FALSE(g_controlServer.running.load());
    // Bounded: a thread left running keeps the count up and fails here.
    for (int i = 0; i < 200 && ThreadCount() != threadsBefore; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ThreadCount(), threadsBefore);
    EXPECT_EQ(GetPrefStore().GetInt("overall.task.parallelize"), 0);  // tree freed
    EXPECT_EQ(GetQueueHead().cell.audio, nullptr);                    // default formats freed
    EngineShutdown(&recorder.context());                                // twice is harmless
}

TEST_F(EngineStartup, ControlServerBindsByTheRemoteSettingOnTheUsersOrTheContextsPort) {
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    LoadValues();
    GetPrefStore().SetInt("overall.httpd.remote", 0);
    ASSERT_EQ(EngineInitLate(&recorder.context()), 0);
    EXPECT_EQ(ControlServerAddress(), htonl(INADDR_LOOPBACK));
    const int firstPort = recorder.context().httpPort;
    EngineShutdown(&recorder.context());

    // The user's port (set after the definitions) is the one bound.
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    LoadValues();
    GetPrefStore().SetInt("overall.httpd.port", firstPort);
    recorder.context().httpPort = 0;
    ASSERT_EQ(EngineInitLate(&recorder.context()), 0);
    EXPECT_EQ(recorder.context().httpPort.load(), firstPort);
    EngineShutdown(&recorder.context());

    // A port preset in the context wins over the setting (0 here: any free port), and with
    // remote access on the server listens on every address.
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    LoadValues();
    GetPrefStore().SetBool("overall.httpd.remote", true);
    recorder.context().httpPort = firstPort;
    ASSERT_EQ(EngineInitLate(&recorder.context()), 0);
    EXPECT_EQ(recorder.context().httpPort.load(), firstPort);
    EXPECT_EQ(ControlServerAddress(), htonl(INADDR_ANY));
}

TEST_F(EngineStartup, StreamingServerKeepsItsRoutesWhileRunning) {
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    LoadValues();
    GetPrefStore().SetInt("overall.streaming.bindIP", 1);
    const int port = StartStreamingServer(0, nullptr);
    ASSERT_GT(port, 0);
    const UrlRoute* routes = g_streamingServer.routes;

    // A second start while it runs: refused, the running table stays, the new one is freed.
    auto* fresh = static_cast<UrlRoute*>(calloc(1, sizeof(UrlRoute)));
    EXPECT_EQ(StartStreamingServer(0, fresh), 0);
    EXPECT_EQ(g_streamingServer.routes, routes);
    EXPECT_TRUE(g_streamingServer.running.load());
    StopStreamingServer();
    EXPECT_FALSE(g_streamingServer.running.load());
}

TEST_F(EngineStartup, StartWithoutContextTakesOnlyTheTaskMode) {
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    LoadValues();
    GetPrefStore().SetInt("overall.task.mode", 2);
    GetPrefStore().SetBool("overall.generic.logging", true);
    GetPrefStore().SetString("overall.generic.logfile", folder.dir().file("engine.log").c_str());
    recorder.clear();
    EXPECT_EQ(EngineStart(nullptr), 0);
    EXPECT_EQ(recorder.context().taskMode.load(), 2);
    EXPECT_TRUE(recorder.texts(kEventLogLine).empty()) << "no plug-in scan, no \"inited\"";
    EXPECT_FALSE(std::filesystem::exists(folder.dir().file("engine.log")));
}

TEST_F(EngineStartup, ShutdownWithAWorkerStillRunningKeepsTheSharedState) {
    ASSERT_EQ(EngineInit(&recorder.context()), 0);
    LoadValues();
    ASSERT_EQ(EngineInitLate(&recorder.context()), 0);
    recorder.context().runningWorkers = 1;  // a worker that outlived its grace period
    EngineShutdown(&recorder.context());
    EXPECT_FALSE(g_controlServer.running.load());
    EXPECT_NE(recorder.context().engineMutex, nullptr);
    EXPECT_EQ(GetPrefStore().GetInt("overall.task.loops"), 1) << "the tree stays readable";
    EXPECT_STRNE(EngineText("inited"), "inited") << "the string table stays";
    EXPECT_NE(GetQueueHead().cell.audio, nullptr) << "the default formats stay";

    recorder.context().runningWorkers = 0;  // the worker ended: the next shut-down frees it all
    EngineShutdown(&recorder.context());
    EXPECT_EQ(recorder.context().engineMutex, nullptr);
    EXPECT_EQ(GetPrefStore().GetInt("overall.task.loops"), 0);
    EXPECT_STREQ(EngineText("inited"), "inited");
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

// The engine reaches the control server only through the calls start-up hands it: started once the
// user's settings are read, stopped at shut-down; a start that fails is reported and leaves the
// extensions unscanned; without the calls no server is started and the extensions are scanned.
int g_starts = 0;
int g_stops = 0;
int g_startAnswer = 0;

TEST(EngineControlServerCalls, StartedByTheLateStageStoppedAtShutdown) {
    struct Case {
        const char* name;
        bool handed;
        int startAnswer;
        int starts;
        bool notice;
        bool scanned;
    } cases[] = {
        {"no calls handed over", false, 0, 0, false, true},
        {"the server starts", true, 0, 1, false, true},
        {"the server cannot start", true, -1, 1, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sqtest::ProgramFolder folder;
        folder.dir().write("extensions/clock.xml", "<extension><name>Clock</name></extension>");
        sqtest::EventRecorder recorder;
        g_starts = g_stops = 0;
        g_startAnswer = c.startAnswer;
        ControlServerCalls calls;
        if (c.handed) {
            calls.start = [] { return ++g_starts, g_startAnswer; };
            calls.stop = [] { ++g_stops; };
        }
        SetControlServerCalls(calls);
        ASSERT_EQ(EngineInit(&recorder.context()), 0);
        EXPECT_EQ(g_starts, 0) << "not before the user's settings are read";
        EXPECT_EQ(EngineInitLate(&recorder.context()), 0);
        EXPECT_EQ(g_starts, c.starts);
        EXPECT_EQ(recorder.texts(kEventNotice).size(), c.notice ? 1u : 0u);
        EXPECT_EQ(recorder.context().extensionList != nullptr, c.scanned);
        EngineShutdown(&recorder.context());
        EXPECT_EQ(g_stops, c.handed ? 1 : 0);
    }
    SetControlServerCalls({});
}

TEST(EngineStartupNoLanguages, MissingLanguageListIsNotAnError) {
    ui::ConnectEngine();
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
