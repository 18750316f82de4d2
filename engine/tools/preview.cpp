#include "engine/tools/preview.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <string_view>
#include <strings.h>

#include "engine/context.h"
#include "engine/engine_api.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "engine/sources/avs_source.h"
#include "engine/tools/player_cmd.h"
#include "engine/tools/player_options.h"
#include "platform/fs.h"
#include "platform/net.h"
#include "platform/shell_open.h"

namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_windowCallsLock;
PreviewWindowCalls g_windowCalls;

PreviewWindowCalls WindowCalls() {
    std::lock_guard<std::mutex> lock(g_windowCallsLock);
    return g_windowCalls;
}

bool OnUiThread() {
    const PreviewWindowCalls calls = WindowCalls();
    return calls.isUiThread && calls.isUiThread();
}

void WaitServingUi(uint32_t ms, const std::function<bool()>& ready) {
    if (const PreviewWindowCalls calls = WindowCalls(); calls.waitServing) calls.waitServing(ms, ready);
}

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// The newest part of the player's output that is kept (a player that floods its output is read
// on, but only this much of it is looked at).
constexpr size_t kKeptOutput = 2047;

// The value (after the last '=') of the last complete "NAME=value" line of text, when there is one.
// The length answer ("...LENGTH=") counts only when lengthToo: it may come in while the player
// starts, in the middle of the answer to another question.
bool LastAnswer(const std::string& text, std::string* value, bool lengthToo = true) {
    size_t end = text.rfind('\n');
    while (end != std::string::npos) {
        size_t begin = end == 0 ? std::string::npos : text.rfind('\n', end - 1);
        std::string line = text.substr(begin == std::string::npos ? 0 : begin + 1,
                                       end - (begin == std::string::npos ? 0 : begin + 1));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // An answer is a line "NAME=value": a name without blanks before its first '='.
        size_t first = line.find('=');
        size_t eq = line.rfind('=');
        const bool isLength = first != std::string::npos && first >= 6 && line.compare(first - 6, 6, "LENGTH") == 0;
        if (first != std::string::npos && first > 0 && line.find_first_of(" \t") > first && (lengthToo || !isLength)) {
            if (value) *value = line.substr(eq + 1);
            return true;
        }
        if (begin == std::string::npos) break;
        end = begin;
    }
    return false;
}

// Whether the answer to this question may be the length answer.
bool AsksLength(const char* question) { return question && std::strstr(question, "get_time_length"); }

// A number of seconds as milliseconds; false when the text is no number.
bool SecondsToMs(const std::string& text, double* ms) {
    const char* b = text.c_str();
    while (*b == ' ') ++b;
    double v = 0;
    auto r = std::from_chars(b, b + std::strlen(b), v);
    if (r.ec != std::errc()) return false;
    *ms = v * 1000.0;
    return true;
}

std::string FixedText(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    return std::string(buf, r.ptr);
}

// How long the poll thread reads at a time while the player starts; other callers wait at most
// this long for the player.
constexpr int kStartSliceMs = 50;

// How often the length is asked again while the player starts: a player filling its cache drops
// the commands that arrive meanwhile, so one question may never be answered.
constexpr int kLengthAskEveryMs = 250;

// The options without the player's "-really-quiet", which silences the answers the preview reads.
// Only a whole word outside quotes counts: a quoted path that holds the same letters stays.
std::string WithoutAnswerSilencing(const std::string& options) {
    static constexpr std::string_view kSilencing = "-really-quiet";
    std::string out;
    size_t at = 0;
    while (at < options.size()) {
        if (options[at] == ' ') {
            out += options[at++];
            continue;
        }
        size_t end = at;
        for (bool quoted = false; end < options.size() && (quoted || options[end] != ' '); ++end) {
            if (options[end] == '\\' && end + 1 < options.size() && (options[end + 1] == '"' || options[end + 1] == '\\'))
                ++end;  // an escaped quote or backslash
            else if (options[end] == '"') quoted = !quoted;
        }
        if (std::string_view(options).substr(at, end - at) != kSilencing) out.append(options, at, end - at);
        at = end;
    }
    return out;
}

}  // namespace

CPreviewPlayer::CPreviewPlayer() : CProcessWrapper(kProcStdin | kProcStdout | kProcStderrToStdout) {}

CPreviewPlayer::~CPreviewPlayer() {
    Stop();
    Shutdown();
}

std::string CPreviewPlayer::LastReply() const {
    std::lock_guard<std::recursive_mutex> lock(exchange_);
    return reply_;
}

void CPreviewPlayer::ChangeState(int newState) {
    state = newState;
    if (stateCallback) stateCallback(1, newState);
}

bool CPreviewPlayer::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    return Write(text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size());
}

int CPreviewPlayer::Collect(int waitMs, const char* question, std::string& text) {
    const auto start = Clock::now();
    const bool lengthToo = AsksLength(question);
    int total = 0;
    char chunk[4096];
    for (;;) {
        // Output drained while a write waited for room comes first.
        size_t n = TakeBacklog(stdoutRead, chunk, sizeof chunk);
        if (n == 0) {
            const int64_t left = waitMs - MsSince(start);
            if (left <= 0 || stdoutRead < 0) break;
            platform::NetPollItem item{stdoutRead, platform::kNetReadable, 0};
            if (platform::NetPoll(&item, 1, static_cast<int>(left)) <= 0) break;
            const int got = Read(chunk, sizeof chunk);
            if (got <= 0) return total > 0 ? total : -1;
            n = static_cast<size_t>(got);
        }
        total += static_cast<int>(n);
        ObserveStart(chunk, n);
        text.append(chunk, n);
        if (text.size() > 4 * kKeptOutput) text.erase(0, text.size() - kKeptOutput);
        if (question && LastAnswer(text, nullptr, lengthToo)) break;
    }
    if (text.size() > kKeptOutput) text.erase(0, text.size() - kKeptOutput);
    return total;
}

void CPreviewPlayer::ObserveStart(const char* data, size_t size) {
    if (!starting_) return;
    startSeen_.append(data, size);
    if (startSeen_.find("Video: no video") != std::string::npos) hasVideo = false;
    if (startSeen_.find("Audio: no sound") != std::string::npos) hasAudio = false;
    // Only complete lines count: an answer cut in two by the pipe is read whole. A short file may
    // end right after its length answer: the poll thread then sees the end.
    const size_t at = startSeen_.find("LENGTH=");
    if (at != std::string::npos && startSeen_.find('\n', at) != std::string::npos) {
        double ms = 0;
        if (!SecondsToMs(startSeen_.substr(at + 7, startSeen_.find('\n', at) - at - 7), &ms)) ms = 0;
        length = ms >= 1 && ms < 2147483647.0 ? static_cast<int>(ms) : defaultLength_;
        FinishStart(true);
        return;
    }
    if (startSeen_.find("\nExiting...") != std::string::npos || startSeen_.rfind("Exiting...", 0) == 0)
        startExited_ = true;
    // Keep the tail only: the markers are short, the output may be long.
    if (startSeen_.size() > 4 * kKeptOutput) startSeen_.erase(0, startSeen_.size() - 2 * kKeptOutput);
}

void CPreviewPlayer::FinishStart(bool started) {
    {
        std::lock_guard<std::mutex> lock(startMutex_);
        if (startOutcome_ != 0) return;
        starting_ = false;
        startOutcome_ = started ? 1 : -1;
    }
    startDone_.notify_all();
}

bool CPreviewPlayer::Launch(const char* path, int defaultLength) {
    if (!path) return false;
    Halt();
    position = 0;
    file = path;

    std::string line = QuotedPath(program.c_str()) + " ";
    if (!options.empty()) line += options;
    line += " " + QuotedPath(path) + " -nomsgcolor -quiet";
    RaiseEvent(kEventCommandLine, line.c_str());

    std::lock_guard<std::recursive_mutex> lock(exchange_);
    if (!Start(line.c_str())) return false;
    SetPriority(kPriorityClassHigh);  // refused without privileges: then it plays at normal priority
    // A player that has already ended cannot take the question: the poll thread then reads its
    // end and reports it like any failed start.
    WriteLine("get_time_length");
    lengthAskedAt_ = Clock::now();
    hasVideo = true;
    hasAudio = true;
    length = 0;
    defaultLength_ = defaultLength;
    startSeen_.clear();
    startExited_ = false;
    launchedAt_ = Clock::now();
    {
        std::lock_guard<std::mutex> startLock(startMutex_);
        startOutcome_ = 0;
        starting_ = true;
    }
    {
        std::lock_guard<std::mutex> wakeLock(wakeMutex_);
        wakeUp_ = false;
    }
    state = kPlayerPlaying;
    pollEnded_ = false;
    poll_ = std::thread(&CPreviewPlayer::PollThread, this);
    return true;
}

bool CPreviewPlayer::Play(const char* path, int defaultLength) {
    if (!Launch(path, defaultLength)) return false;
    if (OnUiThread()) return true;  // the outcome reaches the UI as state changes
    bool started;
    {
        std::unique_lock<std::mutex> lock(startMutex_);
        // The poll thread decides within the start limit; the extra second is only a safety bound.
        startDone_.wait_for(lock, std::chrono::milliseconds(startLimitMs + kPlayerAnswerLimitMs),
                            [this] { return startOutcome_ != 0; });
        started = startOutcome_ == 1;
    }
    if (!started) Halt();  // the poll thread has ended the player (or does now); it is joined here
    return started;
}

bool CPreviewPlayer::SendCommand(const char* text, std::string* answer) {
    if (!text) return false;
    std::string got;
    {
        std::lock_guard<std::recursive_mutex> lock(exchange_);
        if (!WriteLine(text)) return false;
        if (!answer) return true;
        // A short wait for what the player says; a question ("get_...") waits on for its whole
        // "name=value" answer.
        Collect(100, text, got);
        if (!LastAnswer(got, nullptr, AsksLength(text)) && std::strstr(text, "get_"))
            Collect(kPlayerAnswerLimitMs - 100, text, got);
        reply_ = got;
    }
    if (!got.empty() && stateCallback) stateCallback(0, reinterpret_cast<intptr_t>(got.c_str()));
    std::string value;
    *answer = LastAnswer(got, &value, AsksLength(text)) ? value : got;
    return true;
}

int CPreviewPlayer::TogglePause() {
    int newState;
    {
        std::lock_guard<std::recursive_mutex> lock(exchange_);
        if (!WriteLine("pause")) return -1;
        // Only playing and paused toggle: a player being stopped stays so.
        int s = state.load();
        do {
            if (s != kPlayerPlaying && s != kPlayerPaused) return -1;
            newState = s == kPlayerPaused ? kPlayerPlaying : kPlayerPaused;
        } while (!state.compare_exchange_weak(s, newState));
    }
    if (stateCallback) stateCallback(1, newState);
    return newState;
}

bool CPreviewPlayer::Seek(float value, int mode) {
    // A paused player is told to keep its pause with the seek itself: a "pause" sent after the
    // seek is lost while a player with a cache refills it, and the player would play on.
    std::string command = "seek " + FixedText(value) + " " + std::to_string(mode);
    if (state == kPlayerPaused) command = "pausing_keep " + command;
    std::lock_guard<std::recursive_mutex> lock(exchange_);
    if (!WriteLine(command)) return false;
    // The question right after a seek can be lost the same way: it is asked once more.
    std::string answer;
    double ms;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!SendCommand("get_time_pos", &answer)) break;
        if (SecondsToMs(answer, &ms)) {
            if (ms >= 0 && ms <= length) position = static_cast<int>(ms);
            break;
        }
    }
    return true;
}

int CPreviewPlayer::Stop() {
    int s = state.load();
    do {
        if (s != kPlayerPlaying && s != kPlayerPaused) return -1;
    } while (!state.compare_exchange_weak(s, kPlayerStopping));
    if (stateCallback) stateCallback(1, kPlayerStopping);
    {
        std::lock_guard<std::recursive_mutex> lock(exchange_);
        WriteLine("quit");
    }
    Shutdown();
    return 0;
}

void CPreviewPlayer::Halt() {
    Stop();
    Shutdown();
}

void CPreviewPlayer::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        wakeUp_ = true;
    }
    wake_.notify_all();
    if (poll_.joinable() && poll_.get_id() != std::this_thread::get_id()) {
        // The poll thread's callbacks may wait for the UI thread (a window hidden, a console line):
        // on the UI thread its calls are served until it has ended. Its end is bounded (one
        // exchange and the player's end after "quit"); the limit here is a safety bound only.
        if (OnUiThread()) WaitServingUi(static_cast<uint32_t>(startLimitMs + 5000), [this] { return pollEnded_.load(); });
        poll_.join();
    }
    std::lock_guard<std::recursive_mutex> lock(exchange_);
    Close();
}

bool CPreviewPlayer::AwaitStart() {
    while (state != kPlayerStopping) {
        std::string text;
        bool ended;
        {
            std::lock_guard<std::recursive_mutex> lock(exchange_);
            ended = Collect(kStartSliceMs, nullptr, text) < 0 || startExited_;
            if (!text.empty()) reply_ = text;
            if (!ended && starting_ && MsSince(lengthAskedAt_) >= kLengthAskEveryMs) {
                WriteLine("get_time_length");  // a dropped question is asked again
                lengthAskedAt_ = Clock::now();
            }
        }
        if (!text.empty() && stateCallback) stateCallback(0, reinterpret_cast<intptr_t>(text.c_str()));
        if (!starting_) return true;
        if (ended || MsSince(launchedAt_) >= startLimitMs) break;
        // A moment without the lock, so that commands of other threads get their turn.
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(5), [this] { return wakeUp_; });
        wakeUp_ = false;
    }
    FinishStart(false);
    std::lock_guard<std::mutex> lock(startMutex_);
    return startOutcome_ == 1 && state != kPlayerStopping;  // the answer came in the last moment
}

void CPreviewPlayer::PollThread() {
    if (!AwaitStart()) {
        EndPolling();
        return;
    }
    int64_t silentMs = 0;
    while (state != kPlayerStopping) {
        const auto passStart = Clock::now();
        std::string text;
        bool ended = false;
        {
            std::lock_guard<std::recursive_mutex> lock(exchange_);
            if (Wait(0) == 1) {
                ended = true;
            } else if (state == kPlayerPlaying) {
                if (!WriteLine("get_time_pos")) {
                    ended = true;
                } else if (Collect(kPlayerAnswerLimitMs, "get_time_pos", text) < 0) {
                    ended = true;
                }
                if (!text.empty()) reply_ = text;
            }
        }
        if (ended) break;
        if (state == kPlayerPlaying) {
            if (!text.empty() && stateCallback) stateCallback(0, reinterpret_cast<intptr_t>(text.c_str()));
            std::string value;
            double ms;
            if (LastAnswer(text, &value, false) && SecondsToMs(value, &ms)) {
                silentMs = 0;
                if (ms < 0) break;
                if (ms <= length) position = static_cast<int>(ms);
            } else if ((silentMs += MsSince(passStart)) >= silenceLimitMs) {
                break;  // the player has stopped answering
            }
        }
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return wakeUp_; });
        wakeUp_ = false;
    }
    EndPolling();
}

void CPreviewPlayer::EndPolling() {
    // Stopping was asked for (Stop has reported it), or the player ended, failed to start or
    // stopped answering: then this thread reports it, and a Stop meanwhile finds nothing to stop.
    int s = state.load();
    bool asked = s == kPlayerStopping;
    while (!asked && !state.compare_exchange_weak(s, kPlayerStopping)) asked = s == kPlayerStopping;
    if (!asked && stateCallback) stateCallback(1, kPlayerStopping);
    {
        std::lock_guard<std::recursive_mutex> lock(exchange_);
        if (asked) Wait(300);  // the player's own end after "quit"; Close ends it otherwise
        Close();
    }
    position = -1;
    ChangeState(kPlayerStopped);
    pollEnded_ = true;
}

// ---------------------------------------------------------------------------------------------
// The flat functions and the one player
// ---------------------------------------------------------------------------------------------

namespace {

std::mutex g_globals;                // the window, the hook and the script below
void* g_previewWindow = nullptr;
PlayerCallback g_hook = nullptr;
CAvsHelper g_script;

int PlayerStateCallback(int kind, intptr_t value) {
    PlayerCallback hook;
    {
        std::lock_guard<std::mutex> lock(g_globals);
        hook = g_hook;
    }
    if (hook && hook(kind, value)) return 0;
    if (kind == 0) {
        RaiseEvent(kEventConsoleText, reinterpret_cast<const char*>(value));
    } else if (value == kPlayerStopped) {
        void* window;
        {
            std::lock_guard<std::mutex> lock(g_globals);
            window = g_previewWindow;
            g_previewWindow = nullptr;
            g_hook = nullptr;
            DeleteAvsScript(&g_script);
        }
        if (const PreviewWindowCalls calls = WindowCalls(); window && calls.close) calls.close(window);
    } else if (value == kPlayerStopping) {
        void* window;
        {
            std::lock_guard<std::mutex> lock(g_globals);
            window = g_previewWindow;
        }
        if (const PreviewWindowCalls calls = WindowCalls(); window && calls.hide) calls.hide(window);
    }
    return 0;
}

// Opens the file in the user's own player ("overall.preview.extPlayerPath") or the desktop's.
void OpenInExternalPlayer(const std::string& path) {
    const char* program = GetPrefStore().GetString("overall.preview.extPlayerPath");
    platform::ShellOpenWith(program ? program : "", path);
}

// " -wid <id>" for a window that has an id of the display, " -gui" without a window; a window
// without such an id (no display) gets no video.
std::string WindowOptions(void* window, bool* noVideo) {
    *noVideo = false;
    if (!window) return " -gui";
    const PreviewWindowCalls calls = WindowCalls();
    const uint64_t id = calls.nativeId ? calls.nativeId(window) : 0;
    if (id == 0) {
        *noVideo = true;
        return "";
    }
    return " -wid " + std::to_string(id);
}

}  // namespace

void SetPreviewWindowCalls(const PreviewWindowCalls& calls) {
    std::lock_guard<std::mutex> lock(g_windowCallsLock);
    g_windowCalls = calls;
}

CPreviewPlayer& GetPreviewPlayer() {
    static CPreviewPlayer player;
    return player;
}

std::string GetPreviewVideoOutput() {
    // The Windows outputs have no counterpart here: the overlay one becomes X Video, the plain one
    // X11, the 3D one OpenGL; the default tries OpenGL and falls back to X11.
    switch (GetPrefStore().GetInt("overall.preview.vo")) {
        case 1: return "xv";
        case 2: return "x11";
        case 3:
        case 4: return "gl";
        case 5: return "sdl";
        case 6: return "null";
        default: return "gl,x11";
    }
}

bool LaunchPreviewPlayer(const char* file, const char* options, int colorKey, int defaultLength) {
    CPreviewPlayer& p = GetPreviewPlayer();
    p.Halt();  // nothing of the last play runs while its settings change
    p.program = "mplayer";
    p.options = WithoutAnswerSilencing(options ? options : "") + " -colorkey " + std::to_string(colorKey);
    p.stateCallback = PlayerStateCallback;
    return p.Play(file, defaultLength);
}

int PlayerCommand(const char* text, std::string* reply) {
    if (!text || std::strpbrk(text, "\r\n")) return -1;
    // The player's "run" command starts a shell command: never passed on.
    std::string word;
    for (const char* p = text;;) {
        while (*p == ' ' || *p == '\t') ++p;
        const char* e = p;
        while (*e && *e != ' ' && *e != '\t') ++e;
        word.assign(p, e);
        if (strncasecmp(word.c_str(), "pausing", 7) != 0) break;  // pausing prefixes come first
        p = e;
    }
    if (strcasecmp(word.c_str(), "run") == 0) return -1;
    std::string answer;
    if (!GetPreviewPlayer().SendCommand(text, reply ? &answer : nullptr)) return -1;
    if (reply) *reply = answer;
    return 0;
}

int GetPlayerInfo(int selector) {
    CPreviewPlayer& p = GetPreviewPlayer();
    switch (selector) {
        case 0: return p.position;
        case 1: return p.state;
        case 2: {
            int64_t len = p.length;
            return len < 1 ? 0 : static_cast<int>(static_cast<int64_t>(p.position) * 100 / len);
        }
        case 3: return p.length;
        case 4: return p.hasAudio ? 1 : 0;
        case 5: return p.hasVideo ? 1 : 0;
        default: return -1;
    }
}

int PlayerPause() { return GetPreviewPlayer().TogglePause(); }

int PlayerSeek(float value, int mode) {
    if (!GetPreviewPlayer().Seek(value, mode)) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return 0;
}

int PlayerStop() {
    int s = GetPreviewPlayer().state;
    if (s != kPlayerPlaying && s != kPlayerPaused) return -1;
    return GetPreviewPlayer().Stop() == 0 ? 0 : -1;
}

void StopPreviewPlayer() { GetPreviewPlayer().Stop(); }

int PlayItem(QueueItem* item, void* window, uint32_t flags, const char* extraOptions, PlayerCallback hook) {
    if (!item || GetPreviewPlayer().state != kPlayerStopped) return -1;
    PrefStore& prefs = GetPrefStore();
    std::string path = item->file ? item->file : "";
    bool noVideo = false;
    const std::string windowOption = WindowOptions(window, &noVideo);
    std::string options = window ? "" : windowOption;  // a window's id follows the extra options
    ProbeItem(item, 0);

    if (flags & kPlayOutput) {
        const AudioTask* task = item->audioTask.load();
        path = task && !task->outputPath.empty() ? task->outputPath : (item->destFile ? item->destFile : "");
        if (path.empty() || !platform::PathExists(path.c_str())) {
            RaiseEvent(kEventFinalReport, EngineText("PREVIEW_TIP2"));
            return -1;
        }
        if (prefs.GetBool("overall.preview.extPlayer")) {
            OpenInExternalPlayer(path);
            return 0;
        }
    } else {
        // A script for the AviSynth video source ("overall.video.source" 1) is not made: the player
        // here cannot read scripts, so the input itself is played.
        const AudioStreamInfo* stream = item->audio;
        for (int i = prefs.GetInt("overall.decoding.aid"); stream && i > 0; --i) stream = stream->next;
        options += BuildPlayerDecodeOptions(item, item->video != nullptr, stream, false);
    }

    const std::string extra = extraOptions ? extraOptions : "";
    if (!extra.empty()) options += " " + extra;
    if (window) options += windowOption;
    if (extra.find("-vo ") == std::string::npos)
        options += " -vo " + (noVideo ? std::string("null") : GetPreviewVideoOutput());
    {
        std::lock_guard<std::mutex> lock(g_globals);
        if (!(flags & kPlayKeepWindow)) g_previewWindow = window;
        g_hook = hook;
    }
    if (!LaunchPreviewPlayer(path.c_str(), options.c_str(), static_cast<int>(flags & kPlayColorKeyMask),
                             item->duration))
        return -1;
    return hook && hook(1, kPlayerPlaying) ? 1 : 0;
}

int PlayFile(const char* path, void* window) {
    if (!path || !platform::PathExists(path)) return -1;
    if (GetPrefStore().GetBool("overall.preview.extPlayer")) {
        OpenInExternalPlayer(path);
        return 0;
    }
    bool noVideo = false;
    std::string options = WindowOptions(window, &noVideo);
    options += " -vo " + (noVideo ? std::string("null") : GetPreviewVideoOutput());
    return LaunchPreviewPlayer(path, options.c_str(), 0, 0) ? 0 : -1;
}
