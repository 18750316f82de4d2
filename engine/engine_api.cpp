#include "engine/engine_api.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <sys/stat.h>
#include <netinet/in.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "common/fileutil.h"
#include "engine/context.h"
#include "engine/devices/cd_source.h"
#include "engine/encoders/encoder.h"
#include "engine/encoders/encoder_choice.h"
#include "engine/engine_init.h"
#include "engine/tools/media_probe.h"
#include "engine/tools/probe_ahead.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/taskvars.h"
#include "engine/sources/winamp_host.h"
#include "engine/tools/media_info.h"
#include "platform/numtext.h"

namespace {

// Serialises the probes that share a device or a library: disc tracks (waited for at most 10 s, a
// drive busy that long is reported as unreadable), network streams and the APE reader. Local files
// are otherwise probed in parallel: each probe runs tools of its own, bounded in time, and fills
// only its own item. Built on a condition variable: the thread checker does not see
// std::timed_mutex's timed waits and reports their unlocks as faults.
class ProbeLock {
public:
    void lock() {
        std::unique_lock l(m_);
        cv_.wait(l, [&] { return !held_; });
        held_ = true;
    }
    bool try_lock() {
        std::lock_guard l(m_);
        if (held_) return false;
        held_ = true;
        return true;
    }
    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& wait) {
        std::unique_lock l(m_);
        if (!cv_.wait_for(l, wait, [&] { return !held_; })) return false;
        held_ = true;
        return true;
    }
    void unlock() {
        {
            std::lock_guard l(m_);
            held_ = false;
        }
        cv_.notify_one();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool held_ = false;
};
ProbeLock g_probeMutex;

// The items being probed now: a second probe of the same item waits for the first.
class ItemProbeClaims {
public:
    void lock(const QueueItem* item) {
        std::unique_lock l(m_);
        cv_.wait(l, [&] { return !busy_.contains(item); });
        busy_.insert(item);
    }
    void unlock(const QueueItem* item) {
        {
            std::lock_guard l(m_);
            busy_.erase(item);
        }
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::set<const QueueItem*> busy_;
};
ItemProbeClaims g_itemProbes;

class ItemProbeGuard {
public:
    explicit ItemProbeGuard(const QueueItem* item) : item_(item) { g_itemProbes.lock(item_); }
    ~ItemProbeGuard() { g_itemProbes.unlock(item_); }
    ItemProbeGuard(const ItemProbeGuard&) = delete;
    ItemProbeGuard& operator=(const ItemProbeGuard&) = delete;

private:
    const QueueItem* item_;
};
constexpr auto kCdProbeWait = std::chrono::milliseconds(10000);
std::atomic<WaitCursorHook> g_waitCursor{nullptr};

void WaitCursor(bool busy) {
    if (WaitCursorHook hook = g_waitCursor.load()) hook(busy);
}

// Branch names of the encoder ids, in the encoder factory's order.
const char* const kEncoderBranches[] = {
    "lame", "vorbis", "nero", "qaac", "faac", "aacplus", "aac3gpp", "opus", "wma", "helixmp3", "fraunhofer",
    "musepack", "speex", "amr", "ffmpeg", "mencoder", "wavpack", "flac", "ape", "mp3hd", "als", "tta", "pcm", "ofr",
};
constexpr int kEncoderBranchCount = sizeof kEncoderBranches / sizeof kEncoderBranches[0];

// The IPv4 addresses of this machine's interfaces joined by '|'.
std::string InterfaceAddresses() {
    std::string out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return out;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN];
        auto* in = reinterpret_cast<sockaddr_in*>(a->ifa_addr);
        if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
        if (!out.empty()) out += '|';
        out += text;
    }
    freeifaddrs(list);
    return out;
}

}  // namespace

// --- preferences ---

const void* GetPrefValuePtr(const char* key) { return GetPrefStore().GetValuePtr(key); }
const char* GetPrefEnumText(const char* key, int index) { return GetPrefStore().GetEnumText(key, index); }
float GetPrefFloat(const char* key) { return GetPrefStore().GetFloat(key); }
int GetPrefInt(const char* key) { return GetPrefStore().GetInt(key); }
const char* GetPrefString(const char* key) { return GetPrefStore().GetString(key); }
bool SetPrefFromText(const char* key, const char* text) { return GetPrefStore().SetFromText(key, text); }
void SetPrefFloat(const char* key, float value) { GetPrefStore().SetFloat(key, value); }
void SetPrefInt(const char* key, int value) { GetPrefStore().SetInt(key, value); }
void SetPrefString(const char* key, const char* text) { GetPrefStore().SetString(key, text); }

int GetPrefInfo(const char* key, int selector, PrefInfo* out) {
    PrefStore& store = GetPrefStore();
    // Labels and descriptions are fixed once the definitions are loaded.
    const PrefNode* node = store.FindNode(key);
    if (!node || node->type == 0 || !out) return -1;
    switch (selector) {
    case 0: out->text = node->key.c_str(); return 0;
    case 1: out->type = node->type; return 0;
    case 3:
        if (node->type == kPrefEnum) {
            out->range[0] = 0;
            out->range[1] = node->OptionCount() - 1;  // the options before the first empty one
        } else {
            out->range[0] = node->min;
            out->range[1] = static_cast<int32_t>(node->max);
        }
        return 0;
    case 4: out->text = node->label.c_str(); return 0;
    case 5: out->text = node->description.c_str(); return 0;
    default: return -1;
    }
}

// --- item states ---

int SetItemState(QueueItem* item, uint32_t state) {
    if (item) {
        item->state = state;
    } else {
        QueueLockGuard lock;
        for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it))
            if (it->audioTask.load()) it->state = state;
    }
    return RaiseEvent(kEventItemState, static_cast<intptr_t>(state));
}

uint32_t GetItemState(const QueueItem* item) {
    if (item) return item->state;
    QueueLockGuard lock;
    for (QueueItem* it = QueueNext(nullptr); it; it = QueueNext(it))
        if (it->audioTask.load()) return it->state;
    return kItemReady;
}

// --- encoder queries ---

int GetEstimatedBitrate(int kind) {
    if (kind != 0) return -1;
    std::unique_ptr<CAudioEncoder> encoder = CreateAudioEncoder(GetPrefInt("overall.audio.encoder"));
    if (!encoder) return -1;
    // The queue's head cell stands for an input of the default format.
    return encoder->EstimateBitrate(&GetQueueHead().cell, GetPrefInt("overall.audio.bitrateRatio"));
}

const char* GetOutputInfoText(int kind, QueueItem* item) {
    thread_local std::string text;
    text.clear();
    // Kinds 0 (encoder descriptions) and 7 (the script text) come with their owners.
    if (kind == 10) {
        if (!item) item = &GetQueueHead().cell;
        text = ExpandTaskVariables(nullptr, GetPrefString("overall.automation.customPreset"), item);
    }
    return text.c_str();
}

const char* GetEncoderName(int kind, int selector, int encoderId, QueueItem* item, int* chosenId) {
    thread_local std::string text;
    text.clear();
    if (kind != 0) return text.c_str();
    if (encoderId < 0) {
        const bool video = GetPrefInt("overall.video.enabled") != 0 && item && item->video;
        encoderId = ChooseEncoderForItem(item, video);
        if (encoderId < 0) encoderId = GetPrefInt("overall.audio.encoder");
    }
    if (chosenId) *chosenId = encoderId;
    if (selector == 1) return text.c_str();
    text = GetPrefStore().GetEnumText("overall.audio.encoder", encoderId);
    return text.c_str();
}

const char* GetEncoderVersion(int, int) {
    thread_local std::string text;
    text.clear();
    return text.c_str();
}

// --- the local web interface ---

const char* EncoderBranchName(int encoderId) {
    return encoderId >= 0 && encoderId < kEncoderBranchCount ? kEncoderBranches[encoderId] : nullptr;
}

int BuildWebUiUrl(int kind, const char* argument, char* buffer, int size) {
    EngineContext* ctx = GetEngineContext();
    const int port = ctx ? ctx->httpPort.load() : 0;
    std::string url = "http://localhost:" + std::to_string(port) + "/";
    const bool hasArg = argument && *argument;
    switch (kind) {
    case 0:
        url += "prefs/";
        if (hasArg) url += std::string("?path=") + argument;
        break;
    case 1:
        url += "prefs/";
        switch (GetPrefInt("overall.audio.source")) {
        case 1: url += "?path=audiosrc.mplayer"; break;
        case 7: url += "?path=audiosrc.lame"; break;
        case 11: url += "?path=audiosrc.wave"; break;
        case 4: url += "plugin.htm?type=input"; break;
        default: break;
        }
        break;
    case 2: {
        int id = -1;
        GetEncoderName(0, 1, -1, nullptr, &id);
        const bool video = GetPrefInt("overall.video.enabled") != 0;
        if (id == 8 && video) url += "prefs/?path=videoenc.wm";
        else if (const char* branch = EncoderBranchName(id)) url += std::string("prefs/?path=audioenc.") + branch;
        break;
    }
    case 3: url += "prefs/plugin.htm?type=dsp"; break;
    case 4: {
        url += "prefs/";
        static const char* const kMuxers[] = {"mp4box", "matroska", "tsmuxer", "ffmpeg", nullptr, "pmp", "mp4creator"};
        const int n = hasArg ? platform::ParseInt(argument) : -1;
        if (n >= 0 && n < 7 && kMuxers[n]) url += std::string("?path=muxer.") + kMuxers[n];
        break;
    }
    case 5:
        if (hasArg) url += argument;
        break;
    case 6: url.pop_back(); break;
    case 7:
        url += hasArg ? std::string("extensions/_include/loader.html?id=") + argument
                      : std::string("extensions/extensions.xml?xsl=_include/launcher.xsl");
        break;
    case 8: url = InterfaceAddresses(); break;
    default: break;
    }
    if (!buffer || size <= 0) return 0;
    const int n = std::min<int>(static_cast<int>(url.size()), size - 1);
    std::memcpy(buffer, url.data(), static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}

// --- probing ---

namespace {

// The tools' reading of a local file: the media-information reader, then, unless that told
// enough, the player's identify run. A read-ahead (a copy of the item, its own thread) runs the
// same tools quietly and leaves the Monkey's Audio library to the job.
void ReadStreamsWithTools(QueueItem* item, const InputTypeRow* row, int force) {
    const bool ahead = ReadingProbeAhead();
    bool enough = false;
    if (row->typeId != 39) {
        const bool read = ReadMediaInformation(item) == 0;
        const bool noStreams = !item->audio && !item->video;
        if (read) {
            enough = (item->video && item->video->codec && std::strcmp(item->video->codec, "DFSC") == 0) ||
                     ((row->typeId == 16 || row->typeId == 29) && !force) || (noStreams && force);
        }
        if (noStreams && row->typeId == 20) {
            if (ahead) return;
            std::lock_guard ape(g_probeMutex);
            if (ProbeApeFile(item)) enough = true;
        }
    }
    if (!enough) {
        if (!ahead) RaiseEvent(kEventStatusText, EngineText("scan_stream"));
        AnalyzeStream(item);
    }
}

}  // namespace

void ProbeItemAhead(QueueItem* copy) {
    if (!copy || !copy->file || (copy->flags.load() & kItemFlagHasStreams)) return;
    const InputTypeRow* row = copy->inputType ? copy->inputType : UnknownInputRow();
    if (row->typeId == 42 || row->typeId == 39 || row->kind == kInputKindText || row->kind == kInputKindPlaylist ||
        row->kind == 128 || IsNetworkPath(copy->file))
        return;
    // Only a regular file: a pipe or a device read ahead would be read twice.
    struct stat st {};
    if (stat(copy->file, &st) != 0 || !S_ISREG(st.st_mode)) return;
    // Read ahead at the program's start already (or being read): its job takes those outputs.
    if (ProbeOutputsKeptOrComing(copy->file)) return;
    copy->mediaKind = row->kind;
    WaitForJobProbes();
    ProbeReadAheadScope scope(copy->file);
    ReadStreamsWithTools(copy, row, 0);
}

int ProbeItem(QueueItem* item, int force) {
    if (!item || !item->file) return -1;
    if (item->flags.load() & kItemFlagHasStreams) return 0;
    const InputTypeRow* row = item->inputType ? item->inputType : UnknownInputRow();
    item->mediaKind = row->kind;

    if (row->typeId == 42) {  // audio CD track
        std::unique_lock lock(g_probeMutex, kCdProbeWait);
        if (!lock.owns_lock() || ProbeCdaTrack(item) != 0) return -1;
        item->flags |= kItemFlagHasStreams;
        return 0;
    }
    if (row->kind == kInputKindText || row->kind == kInputKindPlaylist || row->kind == 128) {
        item->flags |= kItemFlagHasStreams;
        return 0;
    }

    WaitCursor(true);
    const bool network = IsNetworkPath(item->file) != 0;
    if (item->size == 0 && (network || FileExist(item->file))) {
        const int kb = network ? -1 : GetFileKB(item->file);  // 64-bit size, in KB
        if (kb > 0) item->size = static_cast<uint32_t>(kb);
        if (item->targetSize == 0) item->targetSize = item->size / 2;
    }

    if (network) {
        std::lock_guard lock(g_probeMutex);
        RaiseEvent(kEventStatusText, EngineText("scan_stream"));
        // Nothing is read from a network stream ahead of its job: the item counts as probed, with
        // no streams recorded.
        item->flags |= kItemFlagHasStreams;
        RaiseEvent(kEventStatusText, intptr_t{0});
    } else {
        if (!FileExist(item->file)) {
            WaitCursor(false);
            return -1;
        }
        RaiseEvent(kEventStatusText, EngineText("analyze_stream"));
        // One probe per item at a time: a second thread asking for the same item waits for the
        // first and then finds it done.
        std::optional<ItemProbeGuard> probing(std::in_place, item);
        if (!(item->flags.load() & kItemFlagHasStreams)) {
            JobProbeScope jobProbe;
            ReadStreamsWithTools(item, row, force);
            // A format only an input plug-in knows (no audio, no video the tools could describe):
            // the plug-in describes it, unless it is busy with another job; then the item is
            // probed again later.
            const bool later = !item->audio && DescribeWithInputPlugin(item) < 0;
            if (!later) item->flags |= kItemFlagHasStreams;
        }
        probing.reset();

        if (item->duration > 0) {
            if (item->containerBitrate == 0) {
                // Sizes and durations come from files and tools: a rate past 32 bits is held at the top.
                const double rate = static_cast<double>(item->size) * 8.0 / item->duration * 1.024e6;
                item->containerBitrate = static_cast<uint32_t>(std::min(rate, static_cast<double>(UINT32_MAX)));
            }
            if (item->containerBitrate > 0) {
                double streams = 0;
                for (AudioStreamInfo* a = item->audio; a; a = a->next) streams += a->bitrate;
                for (VideoStreamInfo* v = item->video; v; v = v->next) streams += v->bitrate;
                double overhead = (item->containerBitrate - streams) * 10000.0 / item->containerBitrate;
                item->containerOverhead = static_cast<uint16_t>(std::clamp(overhead, 0.0, 10000.0));
            }
        }
        RaiseEvent(kEventStatusText, intptr_t{0});
    }

    if (item->audio) item->mediaKind += 1;
    if (item->video) {
        item->mediaKind += 2;
        if (item->targetWidth == 0) item->targetWidth = item->video->width;
        if (item->targetHeight == 0) item->targetHeight = item->video->height;
    }
    WaitCursor(false);
    return (item->audio || item->video) ? 0 : -1;
}

const char* RunMediaTool(int kind, int, QueueItem* item) {
    std::unique_ptr<CMediaTool> tool;
    if (kind == 0) {
        tool = std::make_unique<CMediaInfo>();
    } else if (kind == 2) {
        tool = std::make_unique<CShibatch>();
    } else {
        return nullptr;
    }
    // The text stays valid until the calling thread runs a tool again.
    thread_local std::string text;
    tool->Prepare();
    if (!tool->Analyze(0, item)) return nullptr;
    text = tool->output;
    return text.c_str();
}

void DetectAviSynth() {
    const std::string folder = EngineAppPath() + "codecs/";
    if (FileExist((folder + "avisynth.dll").c_str()))
        GetPrefStore().SetDefault("videosrc.avisynth.path", folder.c_str(), true);
}

// --- text helpers ---

void StripDrivePrefix(std::string& text) {
    if (text.size() >= 3 && text[1] == ':' && text[2] == '\\') text.erase(0, 3);
}

std::string SubString(const char* text, int offset, int count) {
    if (!text || offset < 0 || count <= 0) return {};
    const size_t len = std::strlen(text);
    if (static_cast<size_t>(offset) >= len) return {};
    return std::string(text + offset, std::min(len - offset, static_cast<size_t>(count)));
}

int ResolveVideoPageUrl(char*, int, char*, int) {
    // No resolver service is configured: no address is ever rewritten.
    return 0;
}

void SetWaitCursorHook(WaitCursorHook hook) { g_waitCursor.store(hook); }
