#include "engine/jobs/tagging.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "common/fileutil.h"
#include "engine/context.h"
#include "engine/eventlog.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/inputtype.h"
#include "engine/queue/queue.h"
#include "engine/tools/process.h"
#include "platform/cmdline.h"
#include "platform/fs.h"
#include "platform/sysinfo.h"

namespace {

constexpr int32_t kItemErrorTagging = 18;
// A tag tool edits one file in place: far below the runner's general limit.
constexpr uint32_t kTagToolLimitMs = 60 * 1000;

// A text value as one quoted argument: quotes and backslashes come back unchanged, and a leading
// '-' stays part of the value.
std::string Quoted(const char* text) {
    std::string out(1, '"');
    out += platform::EscapeInQuotes(text, true);
    out += '"';
    return out;
}

bool Present(const char* text) { return text && *text; }

// Audio files the tag tool takes whose extension the input table does not list.
bool IsExtraAudioExtension(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* dot = std::strrchr(slash ? slash : path, '.');
    return dot && strcasecmp(dot, ".opus") == 0;
}

}  // namespace

void MarkItemError(QueueItem* item, int32_t code) {
    if (!item) return;
    item->errorCode = code;
    uint32_t state = item->state.load();
    while (state != kItemStopping && !item->state.compare_exchange(state, kItemError)) {
    }
}

std::string BuildTagCommandLine(const char* outputPath, QueueItem* item) {
    if (!outputPath || !item || !(item->flags.load() & kItemFlagHasTags)) return {};
    const InputTypeRow* row = ClassifyInput(outputPath);
    std::string cmd;
    if (row && (row->typeId == 12 || row->typeId == 6)) {
        cmd = "neroAacTag " + Quoted(outputPath);
        auto text = [&](const char* option, const char* value) {
            if (Present(value)) cmd += std::string(" ") + option + Quoted(value);
        };
        auto number = [&](const char* option, uint32_t value) {
            if (value) cmd += std::string(" ") + option + std::to_string(value);
        };
        text("-meta:title=", item->tagTitle);
        text("-meta:artist=", item->tagArtist);
        text("-meta:album=", item->tagAlbum);
        number("-meta:track=", item->tagTrack);
        number("-meta:year=", item->tagYear);
        text("-meta:genre=", item->tagGenre);
        text("-meta:comment=", item->tagComment);
    } else if ((row && row->kind == kInputKindAudio) || IsExtraAudioExtension(outputPath)) {
        cmd = "Tag";
        auto text = [&](const char* option, const char* value) {
            if (Present(value)) cmd += std::string(" ") + option + " " + Quoted(value);
        };
        auto number = [&](const char* option, uint32_t value) {
            if (value) cmd += std::string(" ") + option + " " + std::to_string(value);
        };
        text("--title", item->tagTitle);
        text("--artist", item->tagArtist);
        text("--album", item->tagAlbum);
        number("--track", item->tagTrack);
        number("--year", item->tagYear);
        text("--genre", item->tagGenre);
        text("--comment", item->tagComment);
        cmd += ' ';
        cmd += Quoted(outputPath);
    }
    return cmd;
}

int TagOutputFile(const char* outputPath, QueueItem* item) {
    if (!outputPath || !item || !(item->flags.load() & kItemFlagHasTags)) return 0;
    // The tools run in the program folder (where "tools/" holds them): the path must not depend
    // on the working folder.
    // Output to standard output, or none at all (the analysis pass writes nothing): nothing to tag.
    if (std::strcmp(outputPath, "-") == 0) return 0;
    std::error_code ec;
    const std::string path = std::filesystem::absolute(outputPath, ec).string();
    if (ec || !platform::PathExists(path.c_str())) return 0;
    const std::string cmd = BuildTagCommandLine(path.c_str(), item);
    if (cmd.empty()) return 0;  // neither tool takes this kind of file: nothing to tag
    RaiseEvent(kEventCommandLine, cmd.c_str());

    char appPath[4096];
    const char* workDir = GetAppPath(appPath, sizeof appPath) ? appPath : nullptr;
    CProcessWrapperCRT tool(kProcGrowingBuffer | kProcStdout | kProcStderrToStdout);
    bool ok = tool.Start(cmd.c_str(), workDir);
    if (ok && tool.Wait(kTagToolLimitMs) != 1) {
        tool.Terminate();
        ok = false;
    }
    int code = 0;
    if (ok) {
        tool.IsRunning(&code);
        ok = code == 0;
    }
    if (!ok) {
        std::string message = "Tagging failed: " + cmd;
        if (tool.ReadOutput(0) > 0 && tool.buffer) message += std::string("\n") + tool.buffer;
        LogSource source = MakeLogSource("Tag");
        LogWriteString(&source, message, 0);
        MarkItemError(item, kItemErrorTagging);
        return -1;
    }
    return 0;
}

int EncoderIdForFormat(const char* formatName) {
    static const struct {
        const char* name;
        int id;
    } kTable[] = {
        {"MP3", 0},      {"Vorbis", 1},   {"LC-AAC", 2}, {"HE-AAC", 2},  {"HE-AAC V2", 2},
        {"WMA 9", 8},    {"MusePack", 11}, {"Speex", 12}, {"AMR", 13},   {"WavPack", 16},
        {"FLAC", 17},    {"APE", 18},     {"PCM", 22},   {"Opus", 7},
    };
    if (formatName) {
        for (const auto& row : kTable) {
            if (std::strcmp(row.name, formatName) == 0) return row.id;
        }
    }
    return 14;
}

uint32_t PriorityClassFromPrefs() {
    switch (GetPrefStore().GetInt("overall.generic.priority")) {
        case 1: return kPriorityClassIdle;
        case 2:
        case 3: return kPriorityClassBelowNormal;
        case 4: return kPriorityClassNormal;
        case 5: return kPriorityClassAboveNormal;
        default: return platform::ProcessorCount() < 3 ? kPriorityClassBelowNormal : kPriorityClassNormal;
    }
}

bool ThreadPriorityValueFromPrefs(int* priority) {
    const int pref = GetPrefStore().GetInt("overall.generic.priority");
    if (pref <= 0) return false;  // 0 leaves the thread alone (negative values as well)
    static const int kByPref[] = {-2, -1, 0, 1};
    *priority = pref <= 4 ? kByPref[pref - 1] : -1;
    return true;
}

void ThreadPriorityFromPrefs() {
    int priority = 0;
    if (ThreadPriorityValueFromPrefs(&priority)) SetCurrentThreadPriority(priority);
}

void ClearItemTags(QueueItem* item) {
    if (!item) return;
    for (char** text : {&item->tagTitle, &item->tagArtist, &item->tagAlbum, &item->tagComment, &item->tagGenre}) {
        std::free(*text);
        *text = nullptr;
    }
    item->tagYear = 0;
    item->flags &= ~kItemFlagHasTags;
}

double MeasureReadSpeed(const char* path, uint32_t sizeKiB) {
    if (!path) return 0.0;
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0.0;
    const uint64_t limit = static_cast<uint64_t>(sizeKiB) * 1024;
    std::vector<char> chunk(1 << 20);
    uint64_t total = 0;
    const auto start = std::chrono::steady_clock::now();
    while (total < limit && in) {
        const uint64_t want = std::min<uint64_t>(chunk.size(), limit - total);
        in.read(chunk.data(), static_cast<std::streamsize>(want));
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        total += static_cast<uint64_t>(got);
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // A read faster than the clock can tell counts as one millisecond.
    return (static_cast<double>(total) / 1024.0) / std::max(ms, 1.0);
}

char* CopyUntilChar(const char* text, char ch) {
    if (!text) return nullptr;
    const char* end = std::strchr(text, ch);
    const size_t len = end ? static_cast<size_t>(end - text) : std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(len + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text, len);
    copy[len] = 0;
    return copy;
}
