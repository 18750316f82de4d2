#include "engine/queue/taskvars.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/fileutil.h"
#include "common/md5.h"
#include "engine/encoders/encoder_info.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/preffiles.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/cpath.h"
#include "engine/queue/partialname.h"
#include "engine/queue/queue.h"
#include "platform/cmdline.h"
#include "platform/numtext.h"

namespace {

std::atomic<int> g_prefixLength{0};

// Depth of output-path evaluations on this thread: a name pattern that uses DestFile must not
// recurse into itself.
thread_local int t_destFileDepth = 0;

// How the values of an expansion are written.
enum class ValueMode {
    kPlain,        // as they are
    kFileName,     // '/' in a value becomes '_', so a tag cannot make folders
    kCommandLine,  // quoted for the command-line splitter
};

std::string Num(long long v) { return std::to_string(v); }

std::atomic<const TaskVarHost*> g_host{nullptr};

int DoneCount() {
    const TaskVarHost* host = g_host.load(std::memory_order_acquire);
    return host && host->doneCount ? host->doneCount() : 0;
}

int TaskMode() {
    const TaskVarHost* host = g_host.load(std::memory_order_acquire);
    return host && host->taskMode ? host->taskMode() : GetPrefStore().GetInt("overall.task.mode");
}

void AskUserInput(QueueItem* item) {
    const TaskVarHost* host = g_host.load(std::memory_order_acquire);
    if (host && host->raiseEvent)
        host->raiseEvent(kTaskVarUserInputEvent, reinterpret_cast<intptr_t>(kTaskVarUserInputCommand),
                         static_cast<int64_t>(reinterpret_cast<intptr_t>(item)));
}

std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

bool Empty(const char* s) { return !s || !*s; }

// A tag text with every double quote made a single quote (it is often put between quotes).
std::string TagText(const char* s) {
    std::string t = Str(s);
    for (char& c : t) {
        if (c == '"') c = '\'';
    }
    return t;
}

const AudioStreamInfo* FirstAudio(const QueueItem* item) { return item ? item->audio : nullptr; }

std::string Two(int v) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}

std::string StampOf(time_t t) {
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return std::string();
    char b[32];
    std::snprintf(b, sizeof b, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                  tm.tm_min, tm.tm_sec);
    return b;
}

// The last-write time of the file, when it can be opened for reading. A named pipe or device
// must not block the caller until a writer appears.
bool FileWriteTime(const char* path, time_t* out) {
    if (Empty(path)) return false;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0;
    close(fd);
    if (ok) *out = st.st_mtime;
    return ok;
}

// Formats one number with a user's pattern. Accepted: literal text, "%%", and at most one
// conversion %[flags][width][.precision] with d, i, u, x, X or o (width and precision at most
// three digits). Anything else is refused. The result is cut to maxLen characters.
bool FormatNumberPattern(const std::string& pattern, long long value, size_t maxLen, std::string* out) {
    std::string r;
    bool converted = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c != '%') {
            r += c;
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            r += '%';
            ++i;
            continue;
        }
        if (converted) return false;
        std::string spec = "%";
        size_t j = i + 1;
        while (j < pattern.size() && std::strchr("-+ #0", pattern[j])) spec += pattern[j++];
        size_t digits = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') {
            spec += pattern[j++];
            if (++digits > 3) return false;
        }
        if (j < pattern.size() && pattern[j] == '.') {
            spec += pattern[j++];
            digits = 0;
            while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') {
                spec += pattern[j++];
                if (++digits > 3) return false;
            }
        }
        if (j >= pattern.size() || !std::strchr("diuxXo", pattern[j])) return false;
        const char conv = pattern[j];
        spec += "ll";
        spec += conv;
        char buf[2200];
        int n = (conv == 'd' || conv == 'i')
                    ? std::snprintf(buf, sizeof buf, spec.c_str(), value)
                    : std::snprintf(buf, sizeof buf, spec.c_str(), static_cast<unsigned long long>(value));
        if (n < 0) return false;
        r += buf;
        converted = true;
        i = j;
    }
    if (r.size() > maxLen) r.resize(maxLen);
    *out = r;
    return true;
}

// "SourceFileName": a file's name without folder and extension; for an address, the whole text
// with blanks and '/' made single '_' and '*', ':' and '?' dropped.
std::string SourceFileNameOf(const char* src) {
    std::string s = Str(src);
    if (s.find("://") == std::string::npos) {
        CPath p(s);
        p.StripDir();
        p.StripExt();
        return p.text;
    }
    std::string r;
    for (char c : s) {
        if (c == ' ' || c == '/') {
            if (r.empty() || r.back() != '_') r += '_';
        } else if (c != '*' && c != ':' && c != '?') {
            r += c;
        }
    }
    return r;
}

// The value written so that the command-line splitter gives it back unchanged at the end of
// `before`, with `next` following it in the line.
std::string QuoteValue(const std::string& v, const std::string& before, char next, bool forceQuotes) {
    const platform::SplitEnd st = platform::SplitArgsEnd(before);
    if (st.inProgram) {
        // In the program word quotes only group and backslashes are plain: a quote cannot be kept.
        std::string plain;
        for (char c : v) {
            if (c != '"') plain += c;
        }
        const bool needQuotes = !st.inQuotes && (forceQuotes || plain.find_first_of(" \t") != std::string::npos);
        return needQuotes ? "\"" + plain + "\"" : plain;
    }
    if (st.inQuotes) return platform::EscapeInQuotes(v, next == '"');
    const bool endsInSlash = !v.empty() && v.back() == '\\';
    if (forceQuotes || v.find_first_of(" \t\"") != std::string::npos || (next == '"' && endsInSlash))
        return "\"" + platform::EscapeInQuotes(v, true) + "\"";
    return v;
}

std::string GuardDollars(const std::string& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        out += v[i];
        if (v[i] == '$' && i + 1 < v.size() && v[i + 1] == '(') out += kTaskVarGuard;
    }
    return out;
}

std::string OutputPathOf(QueueItem* item, AudioTask* task);

// What a variable's value is made from.
struct VarScope {
    QueueItem* item;
    AudioTask* task;
    const AudioStreamInfo* stream;  // the item's first audio stream, or null
};

// The audio the job writes: the task's figures when it has them, else the source stream's.
std::string ResolveAudioFigure(const VarScope& v, const std::string& name, bool* known) {
    QueueItem* item = v.item;
    AudioTask* task = v.task;
    const AudioStreamInfo* stream = v.stream;
    *known = true;
    if (name == "AudioBitrate" || name == "AudioBitrate*1K") {
        long long kbps = task && task->bitrate > 0 ? task->bitrate : 128;
        return Num(name == "AudioBitrate" ? kbps : kbps * 1000);
    }
    if (name == "AudioBytes") {
        uint64_t byteRate = 0;
        if (task && task->byteRate) {
            byteRate = task->byteRate;
        } else if (stream) {
            byteRate = uint64_t{stream->samplebits} * stream->channels * stream->samplerate / 8;
        } else {
            return "0";
        }
        const uint64_t ms = item->duration > 0 ? static_cast<uint64_t>(item->duration) : 0;
        return Num(static_cast<long long>((ms * byteRate / 1000) & ~uint64_t{7}));
    }
    if (name == "Channels") {
        if (task && task->channels) return Num(task->channels);
        return stream ? Num(stream->channels) : std::string();
    }
    if (name == "SampleBits") return task ? Num(task->bitsPerSample) : std::string();
    if (name == "SampleRate") {
        if (task && task->sampleRate) return Num(task->sampleRate);
        return stream ? Num(stream->samplerate) : std::string();
    }
    if (name == "SampleRateKhz") return task ? Num(task->sampleRate / 1000) : std::string();
    *known = false;
    return std::string();
}

// The source file and the files beside it.
std::string ResolveSource(const VarScope& v, const std::string& name, bool* known) {
    QueueItem* item = v.item;
    *known = true;
    if (name == "AudioFile") {
        if (!(item->flags & kItemFlagSeparateAudio)) return std::string();
        return Empty(item->audioFile) ? Str(item->file) + ".wav" : Str(item->audioFile);
    }
    if (name == "FileTimeCreation" || name == "FileTimeModified") {
        time_t t = 0;
        if (!FileWriteTime(item->file, &t)) return std::string();
        if (name == "FileTimeCreation") t -= (item->duration > 0 ? item->duration : 0) / 1000;
        return StampOf(t);
    }
    if (name == "SourceFile") return "\"" + Str(item->file) + "\"";
    if (name == "SourceFileName") return SourceFileNameOf(item->file);
    if (name == "SourceFileExt") return CPath(item->file).GetExt();
    if (name == "SourceFileSize") return Num(item->size);
    if (name == "SourceFileDuration") return Num(item->duration);
    if (name == "SourceFileBitrate") {
        // An unknown duration gives 0, not a division by zero.
        if (item->duration <= 0) return "0";
        return Num(static_cast<long long>(uint64_t{item->size} * 1000 / static_cast<uint64_t>(item->duration)));
    }
    if (name == "SubtitleFile") return Str(item->subtitle);
    *known = false;
    return std::string();
}

// The item's tags, with the words shown for a missing artist or title.
std::string ResolveTag(const VarScope& v, const std::string& name, bool* known) {
    QueueItem* item = v.item;
    *known = true;
    if (name == "Album") return TagText(item->tagAlbum);
    if (name == "Artist") return Empty(item->tagArtist) ? "Unknown artist" : TagText(item->tagArtist);
    if (name == "Comment") return TagText(item->tagComment);
    if (name == "Genre") return TagText(item->tagGenre);
    if (name == "Title") return Empty(item->tagTitle) ? "Untitled" : TagText(item->tagTitle);
    if (name == "Year") return item->tagYear ? Num(item->tagYear) : std::string();
    if (name.compare(0, 5, "Track") == 0) {
        // The tag's track number, else the disc track.
        const uint32_t track = item->tagTrack ? item->tagTrack : item->track;
        if (!track) return std::string();
        if (name.size() > 5 && name[5] == ',') {
            std::string out;
            return FormatNumberPattern(name.substr(6), track, 63, &out) ? out : std::string();
        }
        return Num(track);
    }
    *known = false;
    return std::string();
}

// Places on disk: the program, the output, the temporary files, the preset.
std::string ResolvePlace(const VarScope& v, const std::string& name, bool* known) {
    QueueItem* item = v.item;
    PrefStore& prefs = GetPrefStore();
    *known = true;
    if (name == "AppPath") {
        char buf[4096];
        return GetAppPath(buf, sizeof buf) ? std::string(buf) : std::string();
    }
    if (name == "DestDir") {
        const char* d = prefs.GetString("overall.task.destdir");
        return *d ? std::string(d) : CPath(item->file).GetDir();
    }
    if (name == "DestFile" || name == "DestFileAudio") {
        std::string path = OutputPathOf(item, v.task);
        if (v.task && v.task->writePartial.load() && !path.empty()) {
            std::string partial = PartialOutputName(path);
            if (!partial.empty()) path = std::move(partial);
        }
        return path;
    }
    if (name == "PassLogFile") return MakeTempFileName(item) + ".log";
    if (name == "PresetFile") return GetCurrentPresetPath();
    if (name == "PresetFileName") {
        CPath p(GetCurrentPresetPath());
        p.StripDir();
        p.StripExt();
        return p.text;
    }
    if (name == "TempDir") return prefs.GetString("overall.task.tempdir");
    if (name.compare(0, 8, "TempFile") == 0) return MakeTempFileName(item);
    *known = false;
    return std::string();
}

// The run itself: the count of done items, the clock, the process, the user's answer.
std::string ResolveRun(const VarScope& v, const std::string& name, bool* known) {
    QueueItem* item = v.item;
    *known = true;
    if (name[0] == '%') {
        std::string out;
        return FormatNumberPattern(name, DoneCount(), 31, &out) ? out : std::string();
    }
    if (name.compare(0, 7, "Counter") == 0) {
        if (name.size() == 7) return Num(DoneCount());
        const std::string rest = name.substr(7);
        if (rest.find_first_not_of("0123456789") != std::string::npos || rest.size() > 9) return std::string();
        return Num(static_cast<long long>(DoneCount()) - 1 + std::atoll(rest.c_str()));
    }
    if (name.compare(0, 3, "Now") == 0) {
        time_t now = time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        const std::string w = name.substr(3);
        if (w == "Year") return Num(tm.tm_year + 1900);
        if (w == "Month") return Two(tm.tm_mon + 1);
        if (w == "Day") return Two(tm.tm_mday);
        if (w == "WeekDay") return Two(tm.tm_wday);
        if (w == "Hour") return Two(tm.tm_hour);
        if (w == "Min") return Two(tm.tm_min);
        if (w == "Sec") return Two(tm.tm_sec);
        return std::string();
    }
    if (name == "ProcessID") return Num(getpid());
    if (name == "UserInput") {
        std::free(item->userInput);
        item->userInput = nullptr;
        AskUserInput(item);
        std::string answer = Str(item->userInput);
        std::free(item->userInput);
        item->userInput = nullptr;
        return answer;
    }
    *known = false;
    return std::string();
}

// A variable's value: each group answers the names it knows; an unknown name is empty.
std::string Resolve(QueueItem* item, AudioTask* task, const std::string& name) {
    if (!item && task) item = task->item;
    if (!item || name.empty()) return std::string();
    if (name[0] < '%' || name[0] > 'Y') return std::string();
    const VarScope scope{item, task, FirstAudio(item)};
    using Group = std::string (*)(const VarScope&, const std::string&, bool*);
    for (Group group : {ResolveAudioFigure, ResolveSource, ResolveTag, ResolvePlace, ResolveRun}) {
        bool known = false;
        std::string value = group(scope, name, &known);
        if (known) return value;
    }
    return std::string();
}

std::string Expand(AudioTask* task, const char* templ, QueueItem* item, ValueMode mode) {
    if (task) item = task->item;
    if (!item || !templ) return std::string();
    std::string out;
    const size_t n = std::strlen(templ);
    size_t i = 0;
    while (i < n) {
        const char c = templ[i];
        if (c == '$' && i + 2 < n && templ[i + 1] == kTaskVarGuard && templ[i + 2] == '(') {
            out += "$(";  // a value inserted before: copied, not expanded
            i += 3;
            continue;
        }
        if (c != '$' || i + 1 >= n || templ[i + 1] != '(') {
            out += c;
            ++i;
            continue;
        }
        const char* close = std::strchr(templ + i + 2, ')');
        if (!close) {
            out.append(templ + i);
            break;
        }
        const std::string name(templ + i + 2, close);
        const char next = close[1];
        if (mode == ValueMode::kCommandLine) {
            if (name == "SourceFile") {
                out += QuoteValue(Str(item->file), out, next, true);
            } else {
                out += QuoteValue(Resolve(item, task, name), out, next, false);
            }
        } else {
            std::string v = Resolve(item, task, name);
            if (mode == ValueMode::kFileName) {
                for (char& ch : v) {
                    if (ch == '/') ch = '_';
                }
                // A tag of "." or ".." would make a folder step of the name.
                if (v == "." || v == "..") v.assign(v.size(), '_');
            }
            out += v;
        }
        i = static_cast<size_t>(close - templ) + 1;
    }
    return out;
}

// Counts UTF-8 characters up to `limit` and returns the byte length of that many.
size_t Utf8Prefix(const std::string& s, size_t limitChars) {
    size_t chars = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (chars == limitChars) return i;
        ++chars;
    }
    return s.size();
}

// The longest prefix of at most maxBytes bytes that ends on a character boundary.
size_t Utf8BytePrefix(const std::string& s, size_t maxBytes) {
    if (s.size() <= maxBytes) return s.size();
    size_t i = maxBytes;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
    return i;
}

// An output path taken apart so that suffixes can be added and the name cut to fit around them.
struct OutputName {
    std::string dir;   // up to and including the last '/'
    std::string stem;  // the file name without extension
    std::string ext;   // without its '.'; may be empty

    explicit OutputName(const std::string& path) {
        CPath p(path);
        dir = p.GetDir();
        ext = p.GetExt();
        CPath base(p.GetFileName());
        base.StripExt();
        stem = base.text;
    }

    // dir + stem + suffix + "." + ext, with the stem cut to maxChars characters (0: no limit) and,
    // when cut is set, to what the file system holds: 255 bytes for the file name with the suffix
    // and `reserve` more bytes that will follow the extension. The suffix is never cut.
    std::string Build(const std::string& suffix, size_t reserve, size_t maxChars, bool cut) const {
        std::string name = stem;
        if (cut) {
            if (maxChars) name.resize(Utf8Prefix(name, maxChars));
            const size_t rest = suffix.size() + (ext.empty() ? 0 : ext.size() + 1) + reserve;
            if (name.size() + rest > 255 && rest < 255) name.resize(Utf8BytePrefix(name, 255 - rest));
        }
        name += suffix;
        return ext.empty() ? dir + name : dir + name + "." + ext;
    }
};

// True when the output path names the source: the same text (case-insensitive, as a file system
// that ignores case would see it), or the same existing file reached by another path.
bool IsSourceFile(const std::string& out, const std::string& src) {
    if (strcasecmp(out.c_str(), src.c_str()) == 0) return true;
    struct stat a {}, b {};
    return !src.empty() && stat(out.c_str(), &a) == 0 && stat(src.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

struct DepthGuard {
    DepthGuard() { ++t_destFileDepth; }
    ~DepthGuard() { --t_destFileDepth; }
};

std::string OutputPathOf(QueueItem* item, AudioTask* task) {
    if (!task || !item) return std::string();
    if (task->toStdout) return "-";
    // A name pattern that refers to the output path itself ends here.
    if (t_destFileDepth > 0) return std::string();
    DepthGuard guard;

    PrefStore& prefs = GetPrefStore();
    const int mode = TaskMode();
    if (mode == 6) {
        const int protocol = prefs.GetInt("overall.streaming.protocol");
        const std::string dest = prefs.GetString("overall.streaming.dest");
        if (protocol == 1) return "rtmp://" + dest;
        if (protocol == 0) return "rtp://" + dest + ":" + Num(prefs.GetInt("overall.streaming.audioPort"));
    }
    const std::string src = Str(item->file);
    const bool userPath = (item->flags & kItemFlagUserDest) && !Empty(item->destFile);

    std::string folder;
    std::string name;
    bool sanitize = true;  // the name is ours: characters that trouble other systems are replaced
    bool urlFolder = false;
    if (userPath) {
        if (mode != 4) return item->destFile;
        CPath user(item->destFile);
        user.StripExt();
        folder = user.GetDir();
        name = user.GetFileName();
        sanitize = false;
    } else {
        if (mode == 2) return "/dev/null";
        folder = prefs.GetString("overall.task.destdir");
        if (folder.empty()) {
            folder = IsNetworkPath(src.c_str()) ? std::string(prefs.GetString("overall.task.tempdir"))
                                                : CPath(src).GetDir();
        }
        urlFolder = folder.find("://") != std::string::npos;
        if (!urlFolder && !folder.empty() && folder.back() != '/') folder += '/';

        bool suffixes = true;
        const std::string pattern = prefs.GetString("overall.automation.fileNameFormat");
        const bool usable = prefs.GetBool("overall.automation.formatting") && !pattern.empty() &&
                            !(Empty(item->tagTitle) && pattern.find("$(Title)") != std::string::npos) &&
                            !(Empty(item->tagArtist) && pattern.find("$(Artist)") != std::string::npos);
        if (usable) name = Expand(task, pattern.c_str(), item, ValueMode::kFileName);
        if (!name.empty()) {
            suffixes = false;
        } else if (!Empty(item->alias)) {
            name = item->alias;
            for (char& ch : name) {
                if (ch == '/') ch = '_';
            }
            suffixes = false;
        } else {
            const size_t prefix = static_cast<size_t>(g_prefixLength.load());
            if (prefix > 0 && src.size() > prefix && src.find("://") == std::string::npos) {
                CPath rel(src.substr(prefix));
                if (prefs.GetBool("overall.automation.dupDir")) {
                    while (!rel.text.empty() && rel.text[0] == '/') rel.text.erase(0, 1);
                } else {
                    rel.StripDir();
                }
                rel.StripExt();
                name = rel.text;
            } else {
                name = SourceFileNameOf(src.c_str());
            }
        }
        if (suffixes) {
            if (item->track) name += ".track" + Num(item->track);
            if (item->chapter) name += ".chapter" + Num(item->chapter);
        }
    }

    std::string ext = prefs.GetString("overall.output.forceFileExt");
    if (ext.empty()) {
        if (task->outputTracks > 1 && task->currentTrack > 0) ext = Num(task->currentTrack) + ".";
        const int t = task->currentTrack >= 0 && task->currentTrack < 2 ? task->currentTrack : 0;
        CAudioEncoder* enc = task->encoders[t] ? task->encoders[t] : task->encoders[0];
        ext += enc ? enc->GetFileExt(item) : "out";
    }
    if (sanitize && !urlFolder) {
        for (char& ch : name) {
            if (std::strchr("*:;?|", ch)) ch = '_';
        }
    }
    if (!urlFolder) {
        for (char& ch : ext) {
            if (std::strchr("*:;?|/", ch)) ch = '_';
        }
    }
    const OutputName parts(folder + name + "." + ext);
    const int maxLen = prefs.GetInt("overall.output.maxFileNameLen");
    const size_t maxChars = maxLen > 0 ? static_cast<size_t>(maxLen) : 0;
    const std::string tail = (item->flags & kItemFlagTestPhase) ? "_sample" : "";
    const auto build = [&](const std::string& suffix) { return parts.Build(suffix, tail.size(), maxChars, !urlFolder); };
    std::string result = build("");

    // Never the source itself: "_1" before the extension, then the first of _2 ... that is free.
    if (IsSourceFile(result, src)) {
        result = build("_1");
        for (int n = 2; n <= 99999 && FileExist(result.c_str()); ++n) result = build("_" + std::to_string(n));
    }
    result += tail;
    return result;
}

}  // namespace

void SetTaskVarHost(const TaskVarHost* host) { g_host.store(host, std::memory_order_release); }

std::string ExpandTaskVariables(AudioTask* task, const char* templ, QueueItem* item) {
    return Expand(task, templ, item, ValueMode::kPlain);
}

std::string ExpandCommandLineVariables(AudioTask* task, const char* line, QueueItem* item) {
    return Expand(task, line, item, ValueMode::kCommandLine);
}

std::string GetTaskVariable(QueueItem* item, AudioTask* task, const char* name) {
    return name ? Resolve(item, task, name) : std::string();
}

std::string QuoteForCommandLine(const std::string& value, const std::string& lineBefore, char next,
                                bool forceQuotes) {
    return GuardDollars(QuoteValue(value, lineBefore, next, forceQuotes));
}

std::string MakeTempFileName(QueueItem* item) {
    std::string dir = GetPrefStore().GetString("overall.task.tempdir");
    if (!dir.empty() && dir.back() != '/') dir += '/';
    const char* src = item && item->file ? item->file : "";
    char md5[33];
    GetMD5String(md5, src, std::strlen(src));
    char pid[16];
    std::snprintf(pid, sizeof pid, "%x", static_cast<unsigned>(getpid()));
    std::string name = dir + "qxtemp" + pid + (md5 + 20);
    if (name.size() > 259) name.resize(259);
    return name;
}

std::string GetOutputPath(QueueItem* item, bool fresh) {
    if (!item) return std::string();
    AudioTask* task = item->audioTask.load();
    const uint32_t state = item->state.load();
    if (!fresh && (state == kItemEncoding || state == kItemPaused) && task) return task->outputPath;
    if ((item->flags & kItemFlagUserDest) && !Empty(item->destFile)) return item->destFile;
    // The name does not depend on the task's state, so the running task is not touched.
    if (task) return OutputPathOf(item, task);
    return std::string();
}

void SetCommonSourcePrefixLength(int length) { g_prefixLength.store(length > 0 ? length : 0); }

int GetCommonSourcePrefixLength() { return g_prefixLength.load(); }
