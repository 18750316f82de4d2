// The preview player against small scripted players: the answers it reads back, the commands it
// sends, and players that die, hang, flood their output or never answer.
#include "engine/tools/preview.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "support/event_recorder.h"
#include "support/pref_builder.h"
#include "support/tempdir.h"

namespace {

using Clock = std::chrono::steady_clock;

// A slave-mode player in a few lines of shell: it logs its arguments and every command line, and
// answers the length (in two writes) and the position (one second more per question).
const char* const kAnsweringPlayer = R"sh(
printf '%s\n' "$@" > "$LOG.args"
echo "Playing $F."
printf 'ANS_LEN'; sleep 0.05; printf 'GTH=%s\n' "$LENGTH"
pos=0
while IFS= read -r line; do
  echo "$line" >> "$LOG.commands"
  case "$line" in
    get_time_pos) echo "ANS_TIME_POSITION=$pos.0"; pos=$((pos + 1)); AFTER_POS ;;
    quit) echo "Exiting... (Quit)"; exit 0 ;;
  esac
done
)sh";

class Preview : public ::testing::Test {
protected:
    void SetUp() override {
        sqtest::PrefBuilder b(GetPrefStore());
        b.Add("overall.preview.vo", kPrefEnum, "0", {"Auto", "a", "b", "c", "d", "e", "f"});
        b.Add("overall.preview.extPlayer", kPrefBool, "0");
        b.Add("overall.preview.extPlayerPath", kPrefFile);
        b.Add("overall.decoding.aid", kPrefInt, "0");
        b.Add("overall.ui.quiet", kPrefBool, "0");
        b.Add("overall.preview.cache", kPrefInt, "0");
        // Scripted players answer at once, but a loaded machine may take seconds to start a shell.
        player_.startLimitMs = 10000;
        player_.stateCallback = [this](int kind, intptr_t value) {
            if (kind == 1) {
                std::lock_guard<std::mutex> lock(m_);
                states_.push_back(static_cast<int>(value));
            }
            return 0;
        };
    }
    void TearDown() override {
        player_.Stop();
        GetPrefStore().Clear();
    }

    // Writes an executable player script; the body's AFTER_POS runs after each position answer.
    std::string Player(const std::string& name, const std::string& body, const std::string& length = "3.50",
                       const std::string& afterPos = ":") {
        std::string text = "#!/bin/bash\nLOG='" + dir_.file(name) + "'\nLENGTH='" + length + "'\n" + body;
        for (size_t at; (at = text.find("AFTER_POS")) != std::string::npos;) text.replace(at, 9, afterPos);
        std::string path = dir_.write(name, text);
        chmod(path.c_str(), 0755);
        return path;
    }
    std::vector<int> States() {
        std::lock_guard<std::mutex> lock(m_);
        return states_;
    }
    // Waits (bounded) until the player is stopped.
    bool EndsWithin(int ms) {
        const auto start = Clock::now();
        while (player_.state != kPlayerStopped) {
            if (Clock::now() - start > std::chrono::milliseconds(ms)) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    sqtest::TempDir dir_;
    CPreviewPlayer player_;
    std::mutex m_;
    std::vector<int> states_;
};

// The length answer comes in two pieces; positions are read back while playing; a position past
// the length is not taken; the file with quotes stays one argument.
TEST_F(Preview, PlaysAndReadsTheAnswersBack) {
    sqtest::EventRecorder events;
    player_.program = Player("p", kAnsweringPlayer);
    const std::string file = dir_.write("a\" -vo \"b.avi", "x");
    ASSERT_TRUE(player_.Play(file.c_str(), 9000));
    EXPECT_EQ(player_.length, 3500);
    EXPECT_EQ(player_.state, kPlayerPlaying);
    ASSERT_EQ(events.texts(kEventCommandLine).size(), 1u);
    EXPECT_EQ(sqtest::ReadFile(dir_.file("p.args")), file + "\n-nomsgcolor\n-quiet\n");
    // Answers 0, 1, 2, 3 s are taken; 4 s lies past the length and leaves the position alone.
    const auto start = Clock::now();
    while (sqtest::ReadFile(dir_.file("p.commands")).find("get_time_pos\nget_time_pos\nget_time_pos\nget_time_pos\nget_time_pos\n") ==
               std::string::npos &&
           Clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(player_.GetPosition(), 3000);
    EXPECT_EQ(player_.Stop(), 0);
    EXPECT_EQ(player_.state, kPlayerStopped);
    EXPECT_EQ(player_.GetPosition(), -1);
    EXPECT_EQ(States(), (std::vector<int>{kPlayerStopping, kPlayerStopped}));
    EXPECT_EQ(player_.Stop(), -1);
}

TEST_F(Preview, LengthOfZeroTakesTheDefault) {
    player_.program = Player("p", kAnsweringPlayer, "0.00");
    ASSERT_TRUE(player_.Play(dir_.write("a.wav", "x").c_str(), 4321));
    EXPECT_EQ(player_.length, 4321);
}

// A seek while paused keeps the player paused; the position comes back from the player.
TEST_F(Preview, SeekWhilePausedStaysPaused) {
    player_.program = Player("p", kAnsweringPlayer, "9.00");
    ASSERT_TRUE(player_.Play(dir_.write("a.wav", "x").c_str(), 0));
    EXPECT_EQ(player_.TogglePause(), kPlayerPaused);
    ASSERT_TRUE(player_.Seek(2.0f, 2));
    EXPECT_EQ(player_.state, kPlayerPaused);
    // The player logs a line before it answers it; the seek's position question was answered.
    const std::string sent = sqtest::ReadFile(dir_.file("p.commands"));
    const std::string expect = "pause\npausing_keep seek 2.000000 2\nget_time_pos\n";
    EXPECT_TRUE(sent.size() >= expect.size() && sent.compare(sent.size() - expect.size(), expect.size(), expect) == 0)
        << sent;
    EXPECT_GE(player_.GetPosition(), 0);
    EXPECT_EQ(player_.TogglePause(), kPlayerPlaying);
}

// Players that fail to start, or stop working while playing, never hold the caller beyond the
// bounds; the player process is ended in every case.
TEST_F(Preview, BrokenPlayersNeverHoldTheCaller) {
    const struct {
        const char* name;
        const char* body;
    } starts[] = {
        {"silent", "exec sleep 30\n"},
        {"exits early", "echo 'Exiting... (End of file)'\nexit 1\n"},
        {"floods without answering", "exec yes 'line line line line line line line line'\n"},
        {"answer never completes", "printf 'ANS_LENGTH=3'\nexec sleep 30\n"},
    };
    player_.startLimitMs = 1500;  // each of these waits out the whole bound
    for (const auto& c : starts) {
        SCOPED_TRACE(c.name);
        player_.program = Player("bad", c.body);
        const auto start = Clock::now();
        EXPECT_FALSE(player_.Play(dir_.write("a.wav", "x").c_str(), 0));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
        EXPECT_FALSE(player_.process.handle.Started());
        EXPECT_EQ(player_.state, kPlayerStopped);
    }

    // While playing: the player dies, or stops answering (its silence bound is shortened here).
    player_.silenceLimitMs = 1000;
    const struct {
        const char* name;
        const char* afterPos;
    } plays[] = {
        {"dies", "exit 3"},
        {"hangs", "exec sleep 30"},
        {"floods", "exec yes 'noise noise noise noise noise'"},
    };
    for (const auto& c : plays) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> lock(m_);
            states_.clear();
        }
        player_.program = Player("p", kAnsweringPlayer, "60.00", c.afterPos);
        ASSERT_TRUE(player_.Play(dir_.write("a.wav", "x").c_str(), 0));
        EXPECT_TRUE(EndsWithin(5000));
        EXPECT_EQ(States(), (std::vector<int>{kPlayerStopping, kPlayerStopped}));
        EXPECT_EQ(player_.GetPosition(), -1);
        // Stop on an ended player answers at once.
        const auto start = Clock::now();
        EXPECT_EQ(player_.Stop(), -1);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    }
}

// Launch leaves the wait for the length answer to the poll thread: it returns while the player is
// still starting, and a player that never answers, floods its output or ends is closed by the poll
// thread, which reports stopping and stopped. What is kept of a flood stays small.
TEST_F(Preview, LaunchLeavesTheStartToThePollThread) {
    player_.startLimitMs = 1500;  // the failing starts wait out the whole bound
    const struct {
        const char* name;
        const char* body;
        bool stillStarting;  // surely not decided when Launch returns
    } starts[] = {
        {"silent", "exec sleep 30\n", true},
        {"floods without answering", "exec yes 'line line line line line line line line'\n", true},
        {"answer never completes", "printf 'ANS_LENGTH=3'\nexec sleep 30\n", true},
        {"exits early", "echo 'Exiting... (End of file)'\nexit 1\n", false},
    };
    for (const auto& c : starts) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard<std::mutex> lock(m_);
            states_.clear();
        }
        player_.program = Player("bad", c.body);
        ASSERT_TRUE(player_.Launch(dir_.write("a.wav", "x").c_str(), 0));
        if (c.stillStarting) {
            EXPECT_TRUE(player_.Starting());
            EXPECT_EQ(player_.state, kPlayerPlaying);
        }
        EXPECT_TRUE(EndsWithin(5000));
        EXPECT_FALSE(player_.Starting());
        EXPECT_EQ(States(), (std::vector<int>{kPlayerStopping, kPlayerStopped}));
        EXPECT_EQ(player_.GetPosition(), -1);
        EXPECT_LE(player_.LastReply().size(), 2047u);
        player_.Halt();
        EXPECT_FALSE(player_.process.handle.Started());
    }
}

// A command while the player starts: its exchange takes the length answer on the way (which ends
// the start) and waits for the answer to its own question.
TEST_F(Preview, CommandsWhileStarting) {
    // The player answers nothing before it has read three lines: the length question, the seek and
    // the position question. Then the length, and a moment later the position.
    player_.program = Player("p", R"sh(
read -r a; read -r b; read -r c
printf '%s\n' "$a" "$b" "$c" > "$LOG.commands"
printf 'ANS_LENGTH=%s\n' "$LENGTH"; sleep 0.2; printf 'ANS_TIME_POSITION=1.5\n'
while IFS= read -r line; do
  case "$line" in
    get_time_pos) echo "ANS_TIME_POSITION=1.5" ;;
    quit) exit 0 ;;
  esac
done
)sh");
    ASSERT_TRUE(player_.Launch(dir_.write("a.wav", "x").c_str(), 0));
    ASSERT_TRUE(player_.Starting());
    ASSERT_TRUE(player_.Seek(1.5f, 2));
    EXPECT_FALSE(player_.Starting());
    EXPECT_EQ(player_.length, 3500);
    EXPECT_EQ(player_.GetPosition(), 1500);
    EXPECT_EQ(sqtest::ReadFile(dir_.file("p.commands")), "get_time_length\nseek 1.500000 2\nget_time_pos\n");
    EXPECT_EQ(player_.state, kPlayerPlaying);
    EXPECT_EQ(player_.Stop(), 0);
}

// Stop while the poll thread is in the middle of an exchange with a slow player.
TEST_F(Preview, StopDuringAnExchange) {
    player_.program = Player("p", kAnsweringPlayer, "60.00", "sleep 0.4");
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(player_.Play(dir_.write("a.wav", "x").c_str(), 0));
        std::this_thread::sleep_for(std::chrono::milliseconds(150 * round));
        const auto start = Clock::now();
        EXPECT_EQ(player_.Stop(), 0);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
        EXPECT_FALSE(player_.process.handle.Started());
    }
}

// The flat functions over the one player, with a scripted "mplayer" first on PATH.
class PreviewFlat : public Preview {
protected:
    void SetUp() override {
        Preview::SetUp();
        oldPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        Player("mplayer", kAnsweringPlayer);
        setenv("PATH", (dir_.path().string() + ":" + oldPath_).c_str(), 1);
    }
    void TearDown() override {
        PlayerStop();
        setenv("PATH", oldPath_.c_str(), 1);
        if (item_) QueueFreeItem(item_);
        Preview::TearDown();
    }
    std::string Args() { return sqtest::ReadFile(dir_.file("mplayer.args")); }

    std::string oldPath_;
    QueueItem* item_ = nullptr;
};

TEST_F(PreviewFlat, CommandsThatCouldRunProgramsAreRefused) {
    ASSERT_EQ(PlayFile(dir_.write("a.wav", "x").c_str(), nullptr), 0);
    for (const char* bad : {"run rm -rf ~", "RUN x", "pausing_keep run x", "get_time_pos\nrun x", "x\r"})
        EXPECT_EQ(PlayerCommand(bad, nullptr), -1) << bad;
    std::string reply;
    EXPECT_EQ(PlayerCommand("get_time_pos", &reply), 0);
    EXPECT_FALSE(reply.empty());
    EXPECT_EQ(sqtest::ReadFile(dir_.file("mplayer.commands")).find("run"), std::string::npos);
}

TEST_F(PreviewFlat, PlayFileAndPlayItemOptions) {
    const std::string file = dir_.write("b c.wav", "x");
    ASSERT_EQ(PlayFile(file.c_str(), nullptr), 0);
    EXPECT_EQ(Args(), "-gui\n-vo\ngl,x11\n-colorkey\n0\n" + file + "\n-nomsgcolor\n-quiet\n");
    EXPECT_EQ(GetPlayerInfo(3), 3500);
    // Something plays: PlayItem starts nothing; PlayFile stops it and starts again.
    item_ = QueueNewItem(file.c_str());
    item_->flags = item_->flags | 0x2;  // probed already
    item_->duration = 7000;
    EXPECT_EQ(PlayItem(item_, nullptr, 0, nullptr, nullptr), -1);
    ASSERT_EQ(PlayFile(file.c_str(), nullptr), 0);
    EXPECT_EQ(PlayerStop(), 0);
    EXPECT_EQ(PlayerStop(), -1);

    // Extra options with their own video output suppress the automatic one; the colour key comes
    // from the flags' low bits.
    static PlayerCallback hook = [](int kind, intptr_t value) { return kind == 1 && value == kPlayerPlaying ? 1 : 0; };
    EXPECT_EQ(PlayItem(item_, nullptr, 0x123, "-vo null -ao null", hook), 1);
    EXPECT_EQ(Args(), "-gui\n-vo\nnull\n-ao\nnull\n-colorkey\n291\n" + file + "\n-nomsgcolor\n-quiet\n");
}

// The whole command line the player is started with (as the engine reports it) for the option
// sets of PlayFile and PlayItem.
TEST_F(PreviewFlat, CommandLines) {
    sqtest::EventRecorder events;
    const std::string file = dir_.write("in \"1\" -vo x.wav", "x");
    const std::string quoted = "\"" + dir_.file("in \\\"1\\\" -vo x.wav") + "\"";
    const std::string output = dir_.write("out.mp3", "x");
    item_ = QueueNewItem(file.c_str());
    item_->flags = item_->flags | 0x2;  // probed already
    SetStringField(&item_->destFile, output.c_str());
    item_->audio = new AudioStreamInfo{};
    item_->audio->id = 1;
    item_->audio->channels = 2;
    item_->audio->next = new AudioStreamInfo{};
    item_->audio->next->id = 7;
    item_->audio->next->channels = 6;
    const std::string tail = " -nomsgcolor -quiet";

    const struct {
        const char* what;
        std::function<int()> play;
        std::string line;
    } cases[] = {
        {"a file, the automatic video output", [&] { return PlayFile(file.c_str(), nullptr); },
         "\"mplayer\"  -gui -vo gl,x11 -colorkey 0 " + quoted + tail},
        {"a file, video output 5",
         [&] {
             GetPrefStore().SetInt("overall.preview.vo", 5);
             return PlayFile(file.c_str(), nullptr);
         },
         "\"mplayer\"  -gui -vo sdl -colorkey 0 " + quoted + tail},
        {"an item: the first stream's channels and id", [&] { return PlayItem(item_, nullptr, 0, nullptr, nullptr); },
         "\"mplayer\"  -gui -channels 2 -aid 1 -vo gl,x11 -colorkey 0 " + quoted + tail},
        {"an item: the stream the setting picks, extra options with their own output, a colour key",
         [&] {
             GetPrefStore().SetInt("overall.decoding.aid", 1);
             return PlayItem(item_, nullptr, 0xABCDEF, "-vo null -loop 0", nullptr);
         },
         "\"mplayer\"  -gui -channels 6 -aid 7 -vo null -loop 0 -colorkey 11259375 " + quoted + tail},
        {"a stream index past the last takes none",
         [&] {
             GetPrefStore().SetInt("overall.decoding.aid", 2);
             return PlayItem(item_, nullptr, 0, "-loop 0", nullptr);
         },
         "\"mplayer\"  -gui -loop 0 -vo gl,x11 -colorkey 0 " + quoted + tail},
        {"the item's output: no decode options", [&] { return PlayItem(item_, nullptr, kPlayOutput, nullptr, nullptr); },
         "\"mplayer\"  -gui -vo gl,x11 -colorkey 0 \"" + output + "\"" + tail},
        {"a player cache", 
         [&] {
             GetPrefStore().SetInt("overall.preview.cache", 64);
             return PlayItem(item_, nullptr, 0, nullptr, nullptr);
         },
         "\"mplayer\"  -gui -channels 2 -cache 64 -aid 1 -vo gl,x11 -colorkey 0 " + quoted + tail},
        // Quiet output would silence the answers the preview waits for: it is left out here only.
        {"quiet output and a cache",
         [&] {
             GetPrefStore().SetBool("overall.ui.quiet", true);
             GetPrefStore().SetInt("overall.preview.cache", 64);
             return PlayItem(item_, nullptr, 0, "-sub \"a -really-quiet b\"", nullptr);
         },
         "\"mplayer\"  -gui -channels 2  -cache 64 -aid 1 -sub \"a -really-quiet b\" -vo gl,x11 -colorkey 0 " + quoted + tail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        GetPrefStore().SetInt("overall.preview.vo", 0);
        GetPrefStore().SetInt("overall.decoding.aid", 0);
        GetPrefStore().SetBool("overall.ui.quiet", false);
        GetPrefStore().SetInt("overall.preview.cache", 0);
        events.clear();
        EXPECT_EQ(c.play(), 0);
        const auto lines = events.texts(kEventCommandLine);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], c.line);
        EXPECT_EQ(PlayerStop(), 0);
    }
}

TEST_F(PreviewFlat, PlayingTheOutput) {
    sqtest::EventRecorder events;
    item_ = QueueNewItem(dir_.write("in.wav", "x").c_str());
    item_->flags = item_->flags | 0x2;
    SetStringField(&item_->destFile, dir_.file("out.mp3").c_str());
    EXPECT_EQ(PlayItem(item_, nullptr, kPlayOutput, nullptr, nullptr), -1);
    EXPECT_EQ(events.texts(kEventFinalReport).size(), 1u);

    // With the external player the output goes to it as one argument, whatever it holds.
    const std::string out = dir_.write("out \"1\".mp3", "x");
    SetStringField(&item_->destFile, out.c_str());
    const std::string ext = Player("ext", "printf '%s\\n' \"$@\" > \"$LOG.args\"\n");
    GetPrefStore().SetBool("overall.preview.extPlayer", true);
    GetPrefStore().SetString("overall.preview.extPlayerPath", ext.c_str());
    EXPECT_EQ(PlayItem(item_, nullptr, kPlayOutput, nullptr, nullptr), 0);
    const auto start = Clock::now();
    while (sqtest::ReadFile(dir_.file("ext.args")).empty() && Clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(sqtest::ReadFile(dir_.file("ext.args")), out + "\n");
}

TEST_F(PreviewFlat, InfoSelectors) {
    CPreviewPlayer& p = GetPreviewPlayer();
    p.length = 30'000'000;  // over eight hours: the percentage must not overflow
    p.position = 20'000'000;
    p.hasAudio = true;
    p.hasVideo = false;
    EXPECT_EQ(GetPlayerInfo(0), 20'000'000);
    EXPECT_EQ(GetPlayerInfo(2), 66);
    EXPECT_EQ(GetPlayerInfo(3), 30'000'000);
    EXPECT_EQ(GetPlayerInfo(4), 1);
    EXPECT_EQ(GetPlayerInfo(5), 0);
    EXPECT_EQ(GetPlayerInfo(6), -1);
    p.length = 0;
    EXPECT_EQ(GetPlayerInfo(2), 0);
    p.position = -1;
}

}  // namespace
