// The sonquill executable as a failing machine treats it: killed (SIGKILL) at random moments of a
// 16-item batch on 4 workers, closed by SIGTERM, started with files beside a saved queue, and with
// a data folder that is full. Nothing under a final output name is ever short, a plain restart
// finishes the batch, and what could not be saved is said.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/program_background.h"
#include "support/shell_command.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;
using sqtest::ProgramInBackground;
using sqtest::ReadFile;
using sqtest::RunProgram;
using sqtest::TempDir;

constexpr int kItems = 16;
constexpr char kPartialMark[] = ".sqpart-";

int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class CrashRecovery : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(data.path() / "Sonquill");
        data.write("Sonquill/prefs.xml",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QuorvexPrefs>"
                   "<node key=\"overall.httpd.port\">0</node><node key=\"overall.task.saveQueue\">1</node>"
                   "<node key=\"overall.task.parallelize\">4</node>"
                   "<node key=\"overall.task.destdir\">" + out.path().string() + "/</node></QuorvexPrefs>\n");
        // Equal inputs give equal outputs: one size tells a whole output from a short one.
        ASSERT_TRUE(sqtest::Shell("sox -n -r 44100 -c 2 -b 16 '" + work.file("tone.wav") + "' synth 2 sine 440"));
        for (int i = 0; i < kItems; ++i) fs::copy_file(work.file("tone.wav"), Input(i));
    }

    std::string Input(int i) const { return work.file("in" + std::to_string(100 + i).substr(1) + ".wav"); }
    std::string QueueFile() const { return data.file("Sonquill/queue.xml"); }

    // A saved queue of the 16 inputs, none done, with their streams known (as a saved queue holds
    // them once the items were probed).
    void SaveQueue() const {
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<queue>";
        for (int i = 0; i < kItems; ++i)
            xml += "<item><file>" + Input(i) +
                   "</file><flags>2</flags><duration>2000</duration><audio><id>0</id><codec>pcm_s16le</codec>"
                   "<channels>2</channels><samplerate>44100</samplerate><samplebits>16</samplebits></audio></item>";
        data.write("Sonquill/queue.xml", xml + "</queue>\n");
    }

    int Run(const std::vector<std::string>& args) {
        return RunProgram(data.path().string(), work.path().string(), args, work.file("run.err"));
    }

    // Final-named outputs with their sizes, and the count of partial files.
    std::map<std::string, uintmax_t> Finals(int* partials = nullptr) const {
        std::map<std::string, uintmax_t> finals;
        if (partials) *partials = 0;
        for (const auto& e : fs::directory_iterator(out.path())) {
            const std::string name = e.path().filename().string();
            if (name.rfind(kPartialMark, 0) == 0) {
                if (partials) ++*partials;
            } else {
                finals[name] = fs::file_size(e.path());
            }
        }
        return finals;
    }

    // One whole batch: its length in ms and the size of a whole output.
    void Calibrate() {
        SaveQueue();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(Run({"-start", "-exit"}), 0) << ReadFile(work.file("run.err"));
        batchMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
        const auto finals = Finals();
        ASSERT_EQ(finals.size(), static_cast<size_t>(kItems));
        wholeSize = finals.begin()->second;
        for (const auto& [name, size] : finals) ASSERT_EQ(size, wholeSize) << name;
        ClearOutputs();
    }

    void ClearOutputs() const {
        for (const auto& e : fs::directory_iterator(out.path())) fs::remove(e.path());
    }

    void ExpectNoShortFinal(const std::string& when) const {
        for (const auto& [name, size] : Finals()) EXPECT_EQ(size, wholeSize) << name << " " << when;
    }

    bool AllDone() const { return CountOf(ReadFile(QueueFile()), "<state>1</state>") == kItems; }

    // A plain restart converts what is not done (a queue whose items are all done has nothing
    // left to run: its outputs are checked as they are).
    void ExpectBatchFinishes(const std::string& when) {
        if (!AllDone()) {
            EXPECT_EQ(Run({"-start", "-exit"}), 0) << when << "\n" << ReadFile(work.file("run.err"));
        }
        int partials = 0;
        const auto finals = Finals(&partials);
        EXPECT_EQ(finals.size(), static_cast<size_t>(kItems)) << when;
        EXPECT_EQ(partials, 0) << when;
        ExpectNoShortFinal(when);
    }

    TempDir work, data, out;
    int batchMs = 0;
    uintmax_t wholeSize = 0;
};

TEST_F(CrashRecovery, KilledAtRandomMomentsLeavesNoShortOutputAndARestartFinishes) {
    Calibrate();
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    // Up to 60% of a whole batch: each restart redoes what is left, so most kills land mid-batch.
    std::uniform_int_distribution<int> moment(0, batchMs * 6 / 10);
    constexpr int kRounds = 10, kKillsPerRound = 3;
    std::cout << "batch " << batchMs << " ms, seed " << seed << "\n";
    for (int round = 0; round < kRounds; ++round) {
        ClearOutputs();
        SaveQueue();
        for (int kill = 0; kill < kKillsPerRound; ++kill) {
            const int at = moment(random);
            const std::string when = "seed " + std::to_string(seed) + ", round " + std::to_string(round) + ", kill " +
                                     std::to_string(kill) + " at " + std::to_string(at) + " ms";
            ProgramInBackground program(data.path().string(), work.path().string(), {"-start", "-exit"}, work.file("kill.err"));
            std::this_thread::sleep_for(std::chrono::milliseconds(at));  // the random moment of the kill
            program.Signal(SIGKILL);
            ASSERT_GE(program.Wait(30000), 0) << when;
            ExpectNoShortFinal(when);
            EXPECT_GE(CountOf(ReadFile(QueueFile()), "<item>"), kItems) << when;
        }
        ExpectBatchFinishes("round " + std::to_string(round) + " (seed " + std::to_string(seed) + ")");
    }
}

TEST_F(CrashRecovery, SigtermDuringABatchSavesSettingsAndQueueAndLeavesNoPartialOutput) {
    Calibrate();
    SaveQueue();
    fs::remove(data.file("Sonquill/prefs.xml.saved"));
    const std::string prefsBefore = ReadFile(data.file("Sonquill/prefs.xml"));
    ProgramInBackground program(data.path().string(), work.path().string(), {"-start", "-exit"}, work.file("term.err"));
    // The batch is under way once a tool writes a partial file.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int partials = 0;
    while (partials == 0 && std::chrono::steady_clock::now() < deadline) {
        Finals(&partials);
        if (partials == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_GT(partials, 0) << "no tool started";
    program.Signal(SIGTERM);
    const int code = program.Wait(60000);
    const std::string err = ReadFile(work.file("term.err"));
    EXPECT_EQ(code, 128 + SIGTERM) << err;
    // Settings were saved: the window's placement is written on the way out.
    EXPECT_NE(ReadFile(data.file("Sonquill/prefs.xml")).find("overall.ui.param"), std::string::npos);
    EXPECT_EQ(CountOf(ReadFile(QueueFile()), "<item>"), kItems);
    Finals(&partials);
    EXPECT_EQ(partials, 0);
    ExpectNoShortFinal("after SIGTERM");
    ExpectBatchFinishes("after SIGTERM");
}

TEST_F(CrashRecovery, FilesOnTheCommandLineLeaveTheSavedQueueAsItIs) {
    const std::string one = work.file("one.wav");
    fs::copy_file(work.file("tone.wav"), one);
    struct Case {
        const char* what;
        bool saved;      // a saved queue of 16 items before the start
        int itemsAfter;  // items in queue.xml afterwards
    } const cases[] = {
        {"a saved queue is kept", true, kItems},
        {"without one, the command line's queue is saved", false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(QueueFile());
        ClearOutputs();
        if (c.saved) SaveQueue();
        EXPECT_EQ(Run({"-start", "-exit", "one.wav"}), 0) << ReadFile(work.file("run.err"));
        EXPECT_TRUE(fs::exists(out.file("one.mp3")));
        const std::string queue = ReadFile(QueueFile());
        EXPECT_EQ(CountOf(queue, "<item>"), c.itemsAfter) << queue;
        EXPECT_EQ(queue.find("one.wav") != std::string::npos, !c.saved) << queue;
    }
    // The kept queue is the one a start without files loads, converts and saves.
    SaveQueue();
    EXPECT_EQ(Run({"-start", "-exit"}), 0) << ReadFile(work.file("run.err"));
    EXPECT_EQ(Finals().size(), static_cast<size_t>(kItems + 1));
    EXPECT_EQ(CountOf(ReadFile(QueueFile()), "<state>1</state>"), kItems);
}

TEST_F(CrashRecovery, AFullDataFolderGivesItsExitCodeAndLastLine) {
    // A small file system of its own over the data folder, filled up (a user and mount namespace).
    if (!sqtest::Shell("unshare -rm true")) GTEST_SKIP() << "no user namespaces here";
    const std::string folder = data.file("Sonquill");
    const std::string prefs = ReadFile(data.file("Sonquill/prefs.xml"));
    const std::string prefsCopy = work.write("prefs.copy", prefs);
    fs::copy_file(work.file("tone.wav"), work.file("one.wav"));
    const std::string script = work.write(
        "full.sh", "mount -t tmpfs -o size=256k none '" + folder + "' || exit 99\ncp '" + prefsCopy + "' '" + folder +
                       "/prefs.xml'\ndd if=/dev/zero of='" + folder + "/fill' bs=4k 2>/dev/null\ncd '" +
                       work.path().string() + "'\nAPPDATA='" + data.path().string() +
                       "' SONQUILL_GUI=headless timeout 120 '" SQ_OUT_DIR "/sonquill' -start -exit one.wav 2>'" +
                       work.file("full.err") + "'\ncode=$?\ncat '" + folder + "/prefs.xml' > '" +
                       work.file("prefs.after") + "'\nexit $code\n");
    const int status = std::system(("env -u DISPLAY -u WAYLAND_DISPLAY unshare -rm sh '" + script + "'").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    const std::string err = ReadFile(work.file("full.err"));
    ASSERT_NE(WEXITSTATUS(status), 99) << "tmpfs could not be mounted";
    EXPECT_EQ(WEXITSTATUS(status), 254) << err;
    std::string last = err;
    while (!last.empty() && last.back() == '\n') last.pop_back();
    last = last.substr(last.find_last_of('\n') + 1);
    EXPECT_EQ(last, "Not saved: " + folder + "/prefs.xml " + folder + "/queue.xml") << err;
    // The old settings file is whole.
    EXPECT_EQ(ReadFile(work.file("prefs.after")), prefs);
    EXPECT_TRUE(fs::exists(out.file("one.mp3")));
}

}  // namespace
