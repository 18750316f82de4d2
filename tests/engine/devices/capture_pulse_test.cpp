// Capture from a sound server: a PulseAudio server of the test's own with a null sink playing a
// generated tone; its monitor captured for 2 s through the batch gives the tone's level and pitch.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "engine/devices/capture.h"
#include "engine/encoders/encoder.h"
#include "engine/jobs/job_fixture.h"

extern char** environ;

namespace {

using sqtest::Capture;
using sqtest::Shell;

pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

void End(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 50 && waitpid(pid, nullptr, WNOHANG) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// A figure of sox's statistics over the left channel.
double StatValue(const std::string& file, const char* field) {
    const std::string s = Capture("sox '" + file + "' -n remix 1 stat 2>&1 | sed -n 's/^" + std::string(field) + ": *//p'");
    return s.empty() ? -1 : std::atof(s.c_str());
}

class PulseCapture : public sqtest::JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        socket_ = server.file("native");
        for (const char* name : {"HOME", "XDG_RUNTIME_DIR"})
            if (getenv(name)) saved_.emplace_back(name, getenv(name));
        setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
        setenv("HOME", server.path().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", server.path().c_str(), 1);
        server_ = Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes", "--log-target=stderr",
                         "--log-level=0", "--load=module-null-sink sink_name=sqtone sink_properties=device.description=SqTone",
                         "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket_});
        for (int i = 0; i < 100 && !ready_; ++i) {
            ready_ = server_ > 0 && Shell("pactl info");
            if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    void TearDown() override {
        End(player_);
        End(server_);
        unsetenv("PULSE_SERVER");
        unsetenv("XDG_RUNTIME_DIR");
        for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
        JobFixture::TearDown();
    }
    sqtest::TempDir server;
    std::string socket_;
    pid_t server_ = -1, player_ = -1;
    bool ready_ = false;
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(PulseCapture, MonitorOfAPlayingSinkThroughTheBatch) {
    if (!ready_) GTEST_SKIP() << "no PulseAudio server could start here";
    const std::string tone = in.file("tone.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 '" + tone + "' synth 30 sine 1000 vol 0.5"));
    player_ = Spawn({"paplay", "-d", "sqtone", tone});
    ASSERT_GT(player_, 0);
    std::vector<std::string> names;
    for (int i = 0; i < 50; ++i) {
        FindCaptureDevice(nullptr, &names, true);
        if (std::find(names.begin(), names.end(), "Monitor of SqTone") != names.end()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(std::find(names.begin(), names.end(), "Monitor of SqTone"), names.end());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the tone reaches the sink

    PrefStore& p = GetPrefStore();
    p.SetInt("overall.audio.encoder", kEncFlac);
    p.SetInt("overall.audio.autoSource", 1);  // a capture input picks the capture source
    QueueItem* item = Add("dshow://,,,,Monitor of SqTone");
    Describe(item, 44100, 2, 0);
    item->end = 2000;
    RunBatch(1, 60);
    ASSERT_EQ(item->state.load(), kItemDone) << "error " << item->errorCode.load();
    ASSERT_TRUE(item->destFile);
    EXPECT_NEAR(StatValue(item->destFile, "Length (seconds)"), 2.0, 0.05);
    EXPECT_NEAR(StatValue(item->destFile, "Rough   frequency"), 1000, 20);
    EXPECT_NEAR(StatValue(item->destFile, "RMS     amplitude"), 0.5 / std::sqrt(2.0), 0.03);
}

}  // namespace
