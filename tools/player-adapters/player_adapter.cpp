// Stands in for "mplayer" or "mencoder" in the program's tools folder, which the process runner
// searches before the system's folders. The engine's command lines hand PCM over a pipe with
// "-ao pcm:...:pipe=0x<handle>" and "-pcmopts pipe=0x<handle>", options the system's player
// lacks; this program rewrites them into the player's "file=/dev/fd/<n>" form and executes the
// player in its own place, so the child the engine started is the player itself.
//
// As "mencoder" it decodes the audio with the player: the encoder's output options (-oac, -ovc,
// -of, -o, -pcmopts) are dropped and the PCM goes to the named pipe in the same WAVE form.
// SQ_REAL_MPLAYER names the player to run (default /usr/bin/mplayer).
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

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

bool Is(const char* a, const char* b) { return strcmp(a, b) == 0; }

}  // namespace

int main(int argc, char** argv) {
    const char* name = strrchr(argv[0], '/');
    name = name ? name + 1 : argv[0];
    const bool encoder = strstr(name, "mencoder") != nullptr;
    const char* real = getenv("SQ_REAL_MPLAYER");
    if (!real || !*real) real = "/usr/bin/mplayer";

    std::vector<std::string> args;
    args.emplace_back("mplayer");
    std::string pcmPipe;  // mencoder: the descriptor of -pcmopts pipe=
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (Is(a, "-parse-only")) {
            // Reads the stream headers only.
            args.emplace_back("-frames");
            args.emplace_back("0");
        } else if (Is(a, "-rate") && hasValue) {
            ++i;  // the system's player has no such option; its rate comes from the stream
        } else if (Is(a, "-hr-edl-seek")) {
            // an encoder option: the player seeks precisely in any case
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

    std::vector<char*> argvOut;
    for (auto& s : args) argvOut.push_back(s.data());
    argvOut.push_back(nullptr);
    execv(real, argvOut.data());
    fprintf(stderr, "%s: cannot run %s: %s\n", name, real, strerror(errno));
    return 127;
}
