// Stands in for "mplayer" or "mencoder" in the program's tools folder, which the process runner
// searches before the system's folders. The engine's command lines hand PCM over a pipe with
// "-ao pcm:...:pipe=0x<handle>" and "-pcmopts pipe=0x<handle>", options the system's player
// lacks; this program rewrites them into the player's "file=/dev/fd/<n>" form and executes the
// player in its own place, so the child the engine started is the player itself.
//
// As "mencoder" it decodes the audio with the player: the encoder's output options (-oac, -ovc,
// -of, -o, -pcmopts) are dropped and the PCM goes to the named pipe in the same WAVE form.
// "-vo yuvpipe:fd=N" (raw frames behind a stream header) is another option the player lacks: the
// adapter then runs the player with its YUV4MPEG output into a pipe of its own and converts that
// stream into descriptor N itself: a length word (36) and the 36-byte header (the format code 0 for
// 4:2:0 planar, width, height, a word kept 0, the rate as numerator and denominator, 12 bytes of 0)
// followed by the frames as they are, without the YUV4MPEG frame lines. "-vc coreavc" names a
// decoder that does not exist here and is dropped.
// The preview's line ends with the input followed by "-nomsgcolor -quiet" (no other line ends so):
// the adapter then adds "-slave", so that the player takes commands on its input and answers the
// length and position questions, and passes that input on line by line. A question ("get_...") is
// passed as "pausing_keep_force get_..." so that asking never ends a pause, as it otherwise would.
// "-gui" (a build of the player with its own interface) is dropped.
// As "mplayer" it answers two requests itself: the probe's identify run and a plain decode of a
// lossless file to WAVE PCM; for WAVE and FLAC files without any library but libFLAC
// (light_answers.h), for the others through the FFmpeg libraries in a module loaded only then
// (native_answers.h).
// SQ_REAL_MPLAYER names the player to run (default /usr/bin/mplayer).
#include <dlfcn.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "answer_common.h"
#include "identify_answers.h"
#include "light_answers.h"
#include "native_answers.h"

namespace {

// Kept in the file (nothing reads it here): the program looks for it before it answers for this adapter.
[[gnu::used]] const char* const kMark = kPlayerAdapterMark;

// The descriptor named by "0x<hex>" or "<decimal>"; -1 when the text is neither.
long PipeNumber(const std::string& text) {
    const char* s = text.c_str();
    char* end = nullptr;
    long v = (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) ? strtol(s + 2, &end, 16) : strtol(s, &end, 10);
    if (end == s || (end && *end) || v < 0 || v > 65535) return -1;
    return v;
}

// "pcm:waveheader:fast:pipe=0x..." -> "pcm:waveheader:fast:file=/dev/fd/N".
std::string RewriteAudioOut(const std::string& ao) {
    std::string out;
    size_t start = 0;
    while (start <= ao.size()) {
        size_t colon = ao.find(':', start);
        std::string part = ao.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (part.rfind("pipe=", 0) == 0) {
            long fd = PipeNumber(part.substr(5));
            if (fd >= 0) part = "file=/dev/fd/" + std::to_string(fd);
        }
        if (!out.empty()) out += ':';
        out += part;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return out;
}

// Buffered reads from the player's YUV4MPEG pipe.
class PipeReader {
public:
    explicit PipeReader(int fd) : fd_(fd) {}
    // A line without its newline; false at the end or past maxLength bytes.
    bool Line(std::string* line, size_t maxLength = 4096) {
        line->clear();
        for (char c; Byte(&c);) {
            if (c == '\n') return true;
            if (line->size() >= maxLength) return false;
            *line += c;
        }
        return false;
    }
    // Exactly n bytes into out; false when the stream ends before.
    bool Exactly(char* out, size_t n) {
        while (n > 0) {
            if (head_ == tail_ && !Fill()) return false;
            size_t take = std::min(n, tail_ - head_);
            memcpy(out, buf_ + head_, take);
            head_ += take, out += take, n -= take;
        }
        return true;
    }

private:
    bool Byte(char* c) { return Exactly(c, 1); }
    bool Fill() {
        for (;;) {
            ssize_t got = read(fd_, buf_, sizeof buf_);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            head_ = 0, tail_ = static_cast<size_t>(got);
            return true;
        }
    }
    int fd_;
    char buf_[65536];
    size_t head_ = 0, tail_ = 0;
};

bool WriteAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t put = write(fd, data, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put, n -= static_cast<size_t>(put);
    }
    return true;
}

void Put32(char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Converts the player's YUV4MPEG stream from in into the frame stream on out. False when the
// stream is not 4:2:0 or is malformed.
bool ConvertY4m(int in, int out) {
    PipeReader reader(in);
    std::string line;
    if (!reader.Line(&line) || line.rfind("YUV4MPEG2", 0) != 0) return false;
    unsigned long width = 0, height = 0, fpsNum = 0, fpsDen = 0;
    size_t at = 0;
    while (at < line.size()) {
        size_t end = line.find(' ', at);
        if (end == std::string::npos) end = line.size();
        const std::string tag = line.substr(at, end - at);
        if (!tag.empty() && tag[0] == 'W') width = strtoul(tag.c_str() + 1, nullptr, 10);
        if (!tag.empty() && tag[0] == 'H') height = strtoul(tag.c_str() + 1, nullptr, 10);
        if (!tag.empty() && tag[0] == 'F') sscanf(tag.c_str() + 1, "%lu:%lu", &fpsNum, &fpsDen);
        if (!tag.empty() && tag[0] == 'C' && tag.rfind("C420", 0) != 0) return false;
        at = end + 1;
    }
    if (width == 0 || height == 0 || width > 16384 || height > 16384) return false;
    char header[40] = {};
    Put32(header, 36);  // the header length, not counting this word
    Put32(header + 8, static_cast<uint32_t>(width));
    Put32(header + 12, static_cast<uint32_t>(height));
    Put32(header + 20, static_cast<uint32_t>(fpsNum));
    Put32(header + 24, static_cast<uint32_t>(fpsDen));
    if (!WriteAll(out, header, sizeof header)) return false;
    const size_t chroma = ((width + 1) / 2) * ((height + 1) / 2);
    std::vector<char> frame(width * height + 2 * chroma);
    while (reader.Line(&line)) {
        if (line.rfind("FRAME", 0) != 0) return false;
        if (!reader.Exactly(frame.data(), frame.size())) return false;
        if (!WriteAll(out, frame.data(), frame.size())) return false;
    }
    return true;
}

// The answers through the FFmpeg libraries: the module beside this program is loaded only for a
// request of a kind it answers. kAskThePlayer when it does not answer (or cannot be loaded).
int AnswerThroughLibraries(int argc, char** argv) {
    const Request r = ParseRequest(argc, argv);
    const bool identify = IsIdentifyRequest(r);
    if (!identify && !IsDecodeRequest(r)) return kAskThePlayer;
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return kAskThePlayer;
    std::string path(self, static_cast<size_t>(n));
    path = path.substr(0, path.find_last_of('/') + 1) + kAnswerModule;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) return kAskThePlayer;
    using Answer = int (*)(int, char**);
    auto answer = reinterpret_cast<Answer>(dlsym(module, identify ? "AnswerIdentify" : "AnswerDecode"));
    return answer ? answer(argc, argv) : kAskThePlayer;
}

// Runs the player with a pipe as its input and passes this program's input into it line by line,
// questions marked to keep a pause. Ends with the player.
int RelaySlave(const char* real, std::vector<char*>& argvOut) {
    int in[2];
    if (pipe(in) != 0) return 1;
    signal(SIGPIPE, SIG_IGN);
    pid_t player = fork();
    if (player < 0) return 1;
    if (player == 0) {
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
        execv(real, argvOut.data());
        fprintf(stderr, "mplayer: cannot run %s: %s\n", real, strerror(errno));
        _exit(127);
    }
    close(in[0]);
    std::string pending;
    int status = 0;
    bool inputOpen = true;
    for (;;) {
        pid_t done = waitpid(player, &status, inputOpen ? WNOHANG : 0);
        if (done == player) break;
        if (done < 0 && errno != EINTR) return 1;
        if (!inputOpen) continue;
        pollfd p{0, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        ssize_t got = read(0, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            close(in[1]);  // the player sees the end of its input
            inputOpen = false;
            continue;
        }
        pending.append(buf, static_cast<size_t>(got));
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, nl + 1);
            pending.erase(0, nl + 1);
            if (line.rfind("get_", 0) == 0) line = "pausing_keep_force " + line;
            WriteAll(in[1], line.data(), line.size());
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* name = strrchr(argv[0], '/');
    name = name ? name + 1 : argv[0];
    const bool encoder = strstr(name, "mencoder") != nullptr;
    const char* real = getenv("SQ_REAL_MPLAYER");
    if (!real || !*real) real = "/usr/bin/mplayer";

    if (!encoder) {
        // The probe's identify run and a plain lossless decode are answered here, without the player.
        if (const int rc = AnswerWaveIdentify(argc, argv); rc != kAskThePlayer) return rc;
        if (const int rc = AnswerFlacIdentify(argc, argv); rc != kAskThePlayer) return rc;
        if (const int rc = AnswerFlacDecode(argc, argv); rc != kAskThePlayer) return rc;
        if (const int rc = AnswerThroughLibraries(argc, argv); rc != kAskThePlayer) return rc;
    }

    std::vector<std::string> args;
    args.emplace_back("mplayer");
    std::string pcmPipe;  // mencoder: the descriptor of -pcmopts pipe=
    long framePipe = -1;  // the descriptor of -vo yuvpipe:fd=
    int y4m[2] = {-1, -1};
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (Is(a, "-parse-only")) {
            // Reads the stream headers only.
            args.emplace_back("-frames");
            args.emplace_back("0");
        } else if (Is(a, "-rate") && hasValue) {
            ++i;  // the system's player has no such option; its rate comes from the stream
        } else if (Is(a, "-gui")) {
            // a build with its own interface: the system's player has none
        } else if (Is(a, "-hr-edl-seek")) {
            // an encoder option: the player seeks precisely in any case
        } else if (Is(a, "-vo") && hasValue && strncmp(argv[i + 1], "yuvpipe:fd=", 11) == 0) {
            framePipe = PipeNumber(argv[++i] + 11);
            if (framePipe < 0 || pipe(y4m) != 0) {
                fprintf(stderr, "%s: cannot set up the frame pipe\n", name);
                return 1;
            }
            args.emplace_back("-vo");
            args.emplace_back("yuv4mpeg:file=/dev/fd/" + std::to_string(y4m[1]));
        } else if (Is(a, "-vc") && hasValue && Is(argv[i + 1], "coreavc")) {
            ++i;
        } else if (Is(a, "-ao") && hasValue) {
            args.emplace_back(a);
            args.emplace_back(RewriteAudioOut(argv[++i]));
        } else if (encoder && Is(a, "-pcmopts") && hasValue) {
            std::string opts = argv[++i];
            size_t at = opts.find("pipe=");
            if (at != std::string::npos) {
                std::string value = opts.substr(at + 5);
                value = value.substr(0, value.find(':'));
                if (long fd = PipeNumber(value); fd >= 0) pcmPipe = "/dev/fd/" + std::to_string(fd);
            }
        } else if (encoder && (Is(a, "-oac") || Is(a, "-ovc") || Is(a, "-of") || Is(a, "-o")) && hasValue) {
            ++i;  // the encoder's output choices: the player writes only the PCM
        } else {
            args.emplace_back(a);
        }
    }
    if (encoder) {
        // Options go before the input: the input is the last word, or "-".
        std::vector<std::string> head = {"-vo", "null", "-benchmark", "-ao",
                                         "pcm:waveheader:fast:file=" + (pcmPipe.empty() ? std::string("/dev/null") : pcmPipe)};
        args.insert(args.end() - (args.size() > 1 ? 1 : 0), head.begin(), head.end());
    }

    const bool preview = !encoder && argc >= 3 && Is(argv[argc - 2], "-nomsgcolor") && Is(argv[argc - 1], "-quiet");
    if (preview) args.emplace_back("-slave");

    std::vector<char*> argvOut;
    for (auto& s : args) argvOut.push_back(s.data());
    argvOut.push_back(nullptr);
    if (preview) return RelaySlave(real, argvOut);
    if (framePipe >= 0) {
        pid_t player = fork();
        if (player < 0) return 1;
        if (player == 0) {
            close(y4m[0]);
            close(static_cast<int>(framePipe));
            execv(real, argvOut.data());
            fprintf(stderr, "%s: cannot run %s: %s\n", name, real, strerror(errno));
            _exit(127);
        }
        close(y4m[1]);
        const bool converted = ConvertY4m(y4m[0], static_cast<int>(framePipe));
        close(static_cast<int>(framePipe));  // the reader sees the end of the frames now
        close(y4m[0]);                       // a player still writing ends on the broken pipe
        int status = 0;
        while (waitpid(player, &status, 0) < 0 && errno == EINTR) {
        }
        if (!converted) return 1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    execv(real, argvOut.data());
    fprintf(stderr, "%s: cannot run %s: %s\n", name, real, strerror(errno));
    return 127;
}
