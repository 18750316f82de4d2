// The preview player: the outside media player run in slave mode with its standard input and output
// connected. Commands go in as text lines, answers ("ANS_name=value") come back on its output, and a
// poll thread follows the playing position. The flat functions below are what the user interface
// and the control server call; the user's own player can be opened through the desktop instead.
//
// No call waits on the player without a bound: starting gives up after kPlayerStartLimitMs, an
// answer is waited for at most kPlayerAnswerLimitMs, and a player that stops answering for
// kPlayerSilenceLimitMs while playing is ended by the poll thread. The UI thread never waits for a
// start: there the player is launched and its length answer is awaited by the poll thread, whose
// outcome reaches the UI as state changes (a failed start goes through stopping to stopped).
//
// Lock order: exchange_, then startMutex_ or wakeMutex_ (never both). Callbacks run without
// exchange_ on the poll thread, so a callback that waits for the UI thread never holds it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/tools/process.h"

struct QueueItem;

// The window a preview plays in is the user interface's: here it is an opaque handle, and the
// player reaches it only through these calls, which start-up hands over (SetPreviewWindowCalls).
// Without them no thread counts as the UI thread and windows are neither closed, hidden nor drawn
// into.
struct PreviewWindowCalls {
    bool (*isUiThread)() = nullptr;
    // Waits (bounded by ms) until ready answers true while the UI thread keeps serving its calls.
    bool (*waitServing)(uint32_t ms, const std::function<bool()>& ready) = nullptr;
    void (*close)(void* window) = nullptr;  // posted: the window closes on the UI thread
    void (*hide)(void* window) = nullptr;
    // The display system's id of the window that video is drawn into; 0 when it has none.
    uint64_t (*nativeId)(void* window) = nullptr;
};
void SetPreviewWindowCalls(const PreviewWindowCalls& calls);

inline constexpr int kPlayerStartLimitMs = 10000;
inline constexpr int kPlayerAnswerLimitMs = 1000;
inline constexpr int kPlayerSilenceLimitMs = 10000;

// Player states.
enum PlayerState : int { kPlayerStopped = 0, kPlayerPlaying = 1, kPlayerPaused = 2, kPlayerStopping = 3 };

// kind 0: a text read from the player (value: const char*); kind 1: a new state (value: the state).
using PlayerCallback = int (*)(int kind, intptr_t value);

// PlayItem flags.
inline constexpr uint32_t kPlayOutput = 0x2000000;       // play the item's output, not its input
inline constexpr uint32_t kPlayKeepWindow = 0x8000000;   // keep the preview window of the last play
inline constexpr uint32_t kPlayColorKeyMask = 0xFFFFFF;  // the colour key in the low bits

class CPreviewPlayer : public CProcessWrapper {
public:
    CPreviewPlayer();
    ~CPreviewPlayer() override;

    // Starts the player on the file; defaultLength (ms) stands when the player reports none. True
    // once the player has answered its length; false when it did not start, ended first or let the
    // start limit pass (it is ended then). On the UI thread this is Launch.
    bool Play(const char* file, int defaultLength);
    // Starts the player and returns once it runs and was asked its length (state playing, length 0);
    // the poll thread then waits for the answer, sets the length, and ends a player that fails to
    // answer within startLimitMs. False when the player cannot be started.
    bool Launch(const char* file, int defaultLength);
    // True from Launch until the length answer came or the start failed.
    bool Starting() const { return starting_.load(); }
    // Writes the command line; with answer, waits (bounded) for the player's answer: the text after
    // its last '=', or the whole text read when it holds none (empty when nothing came).
    bool SendCommand(const char* text, std::string* answer);
    // The new state (playing or paused), or -1.
    int TogglePause();
    // Seeks (mode as the player takes it: 0 relative, 1 percent, 2 absolute seconds) and reads the
    // position back. A paused player stays paused.
    bool Seek(float value, int mode);
    // 0, or -1 when nothing plays. Returns when the player has ended.
    int Stop();
    int GetPosition() const { return position.load(); }
    // Stops what plays and waits for the poll thread to end; the fields may be changed after it.
    void Halt();

    std::atomic<int> state{kPlayerStopped};
    std::string options;  // extra command-line options for the next start
    std::string program = "mplayer";
    std::string file;
    std::function<int(int, intptr_t)> stateCallback;
    std::atomic<int> position{-1};  // ms; -1 when not playing
    std::atomic<int> length{0};     // ms
    std::atomic<bool> hasVideo{false};
    std::atomic<bool> hasAudio{false};
    // The bounds (ms) of the start and of the player's silence while playing; tests shorten them.
    int startLimitMs = kPlayerStartLimitMs;
    int silenceLimitMs = kPlayerSilenceLimitMs;

    // The last text read from the player.
    std::string LastReply() const;

private:
    void PollThread();
    // The poll thread's start: waits (bounded) for the length answer. False when the player
    // ended, stayed silent past the limit or was stopped meanwhile.
    bool AwaitStart();
    // The poll thread's end: closes the player and reports stopping and stopped.
    void EndPolling();
    void FinishStart(bool started);
    void ChangeState(int newState);
    // Reads what the player prints within waitMs (returning as soon as a whole "name=value" line
    // answers the question, when one is given); the newest text is kept. Under exchange_. -1 at
    // the end of the output, else the bytes read.
    int Collect(int waitMs, const char* question, std::string& text);
    // Under exchange_: what the player printed while it starts (the length answer, its end, the
    // streams it lacks).
    void ObserveStart(const char* data, size_t size);
    bool WriteLine(const std::string& line);  // under exchange_
    // Ends the poll thread (when another thread asks) and closes the player; safe to repeat.
    void Shutdown();

    // One command and its answer at a time; held again by a callback that sends a command.
    mutable std::recursive_mutex exchange_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    bool wakeUp_ = false;
    std::thread poll_;
    std::atomic<bool> pollEnded_{true};
    std::string reply_;  // under exchange_

    // The start under way.
    std::atomic<bool> starting_{false};
    int defaultLength_ = 0;                    // set before the poll thread starts
    std::chrono::steady_clock::time_point launchedAt_;
    std::chrono::steady_clock::time_point lengthAskedAt_;  // under exchange_
    std::string startSeen_;                    // under exchange_: the tail of the start-up output
    bool startExited_ = false;                 // under exchange_: the player said it ends
    std::mutex startMutex_;
    std::condition_variable startDone_;
    int startOutcome_ = 0;  // under startMutex_: 0 pending, 1 started, -1 failed
};

// The player's video output named by "overall.preview.vo".
std::string GetPreviewVideoOutput();
// Starts the global player on the file with the options and the colour key (CPreviewPlayer::Play:
// on the UI thread true once the player runs, its start then awaited by the poll thread).
bool LaunchPreviewPlayer(const char* file, const char* options, int colorKey, int defaultLength);
// Sends one command line to the player; the answer into *reply when given. 0, or -1 (also for a
// text of several lines and for the player's command that runs programs).
int PlayerCommand(const char* text, std::string* reply);
// 0 position ms, 1 state, 2 position in percent of the length, 3 length ms, 4 has audio, 5 has
// video; -1 for other selectors.
int GetPlayerInfo(int selector);
int PlayerPause();
int PlayerSeek(float value, int mode);
int PlayerStop();
// Plays an item's input (or, with kPlayOutput, its output) in the window; hook is asked first about
// every callback of the player. 1 or 0 started (the hook's answer), -1 failed. On the UI thread
// "started" means the player runs: a start that fails later ends in the stopped state, reported to
// the hook and the preview window like any end.
int PlayItem(QueueItem* item, void* window, uint32_t flags, const char* extraOptions, PlayerCallback hook);
// Plays a file in the window. 0, or -1.
int PlayFile(const char* path, void* window);
// Ends whatever the player plays (engine shut-down).
void StopPreviewPlayer();
// The one player (tests look at it).
CPreviewPlayer& GetPreviewPlayer();
