#include "engine/tools/media_info.h"

#include <libxml/tree.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/fileutil.h"
#include "common/textutil.h"
#include "common/xml.h"
#include "engine/queue/queue.h"
#include "engine/tools/player_cmd.h"
#include "engine/tools/probe_ahead.h"
#include "engine/tools/process.h"
#include "platform/dynlib/dynlib.h"
#include "platform/numtext.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A value the tool printed, held to what 32 bits can store (negative and not-a-number: 0).
uint32_t ClampU32(double v) {
    if (!(v > 0.0)) return 0;
    return v >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

// The leading whole number, where the tool may group thousands with a blank ("1 920 pixels").
uint32_t GroupedCount(const char* text) {
    const char* p = text;
    while (*p == ' ') ++p;
    uint64_t v = 0;
    bool any = false;
    while (IsDigit(*p)) {
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > 0xFFFFFFFFu) return 0xFFFFFFFFu;
        any = true;
        ++p;
        if (p[0] == ' ' && IsDigit(p[1]) && IsDigit(p[2]) && IsDigit(p[3]) && !IsDigit(p[4])) ++p;
    }
    return any ? static_cast<uint32_t>(v) : 0;
}

uint32_t PositiveInt(const char* text) {
    const int v = platform::ParseInt(text);
    return v > 0 ? static_cast<uint32_t>(v) : 0;
}

// "25.000 FPS", "1.778" or "16:9" as a reduced fraction.
void ReadFraction(const char* text, uint32_t* num, uint32_t* den) {
    double value = platform::ParseDouble(text);
    if (const char* colon = std::strchr(text, ':')) {
        const double below = platform::ParseDouble(colon + 1);
        value = below > 0.0 ? value / below : 0.0;
    }
    int n = 0;
    int d = 1;
    if (value > 0.0 && std::isfinite(value)) GetFraction(value, &n, &d);
    *num = n > 0 ? static_cast<uint32_t>(n) : 0;
    *den = d > 0 ? static_cast<uint32_t>(d) : 1;
}

void SetText(char** field, const char* text) {
    std::free(*field);
    *field = DupString(text);
}

bool NameIs(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && node->name && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

// The first "track" element in document order. Names are compared without their namespace:
// the tool's newer schema puts every element in a default namespace.
const xmlNode* FirstTrack(const xmlNode* node) {
    for (; node; node = node->next) {
        if (NameIs(node, "track")) return node;
        if (node->type != XML_ELEMENT_NODE) continue;
        if (const xmlNode* found = FirstTrack(node->children)) return found;
    }
    return nullptr;
}

// An element's text (the tool's texts are UTF-8, the engine's own encoding); "" when it has none.
std::string NodeText(const xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

template <typename Record>
Record* AppendRecord(Record** head) {
    uint32_t id = 0;
    Record** link = head;
    for (; *link; link = &(*link)->next) ++id;
    *link = new Record;
    (*link)->id = id;
    return *link;
}

void ReadGeneral(const xmlNode* track, QueueItem* item) {
    for (const xmlNode* n = track->children; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        const std::string value = NodeText(n);
        const char* v = value.c_str();
        if (NameIs(n, "Duration_String1")) {
            if (item->duration == 0) item->duration = static_cast<int32_t>(std::min<uint32_t>(ParseMediaInfoDuration(v), INT32_MAX));
        } else if (NameIs(n, "OverallBitRate_String")) {
            item->containerBitrate = ParseMediaInfoBitrate(v);
        } else if (NameIs(n, "Format")) {
            SetText(&item->containerFormat, v);
        } else if (NameIs(n, "Album")) {
            SetText(&item->tagAlbum, v);
        } else if (NameIs(n, "Performer")) {
            SetText(&item->tagArtist, v);
        } else if (NameIs(n, "Track")) {
            SetText(&item->tagTitle, v);
            item->flags |= kItemFlagHasTags;
        } else if (NameIs(n, "Comment")) {
            SetText(&item->tagComment, v);
        } else if (NameIs(n, "Genre")) {
            SetText(&item->tagGenre, v);
        } else if (NameIs(n, "Recorded_Date")) {
            item->tagYear = PositiveInt(v);
        } else if (NameIs(n, "Track_Position")) {
            item->tagTrack = PositiveInt(v);
        }
    }
}

void ReadVideo(const xmlNode* track, QueueItem* item) {
    VideoStreamInfo* rec = AppendRecord(&item->video);
    rec->scanMode = 'p';
    rec->pixelAspect = 1.0;
    for (const xmlNode* n = track->children; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        const std::string value = NodeText(n);
        const char* v = value.c_str();
        if (NameIs(n, "Duration_String1")) {
            rec->duration = ParseMediaInfoDuration(v);
        } else if (NameIs(n, "Format")) {
            SetText(&rec->codec, v);
        } else if (NameIs(n, "CodecID")) {
            SetText(&rec->codecId, v);
        } else if (NameIs(n, "Format_Profile")) {
            SetText(&rec->profile, v);
        } else if (NameIs(n, "BitRate_String")) {
            rec->bitrate = ParseMediaInfoBitrate(v);
        } else if (NameIs(n, "Width_String") || NameIs(n, "Width_Original_String")) {
            rec->width = GroupedCount(v);
        } else if (NameIs(n, "Height_String") || NameIs(n, "Height_Original_String")) {
            rec->height = GroupedCount(v);
        } else if (NameIs(n, "FrameRate_String") || NameIs(n, "FrameRate_Original")) {
            ReadFraction(v, &rec->fpsNum, &rec->fpsDen);
        } else if (NameIs(n, "ScanType_String")) {
            // Picture-adaptive field coding is marked interlaced like a plain interlaced scan.
            if (value == "Interlaced" || value == "PAFF") rec->scanMode = 't';
            else if (value == "MBAFF") rec->scanMode = 'M';
            else rec->scanMode = 'p';
        } else if (NameIs(n, "FrameRate_Mode_String")) {
            if (value == "Variable" || value == "VFR") rec->flags |= 1;
        } else if (NameIs(n, "Format_Settings_FrameMode")) {
            if (value == "Frame doubling") rec->flags |= 2;
        } else if (NameIs(n, "ScanOrder_String")) {
            rec->scanMode = value == "BFF" ? 'b' : 't';
        } else if (NameIs(n, "DisplayAspectRatio_String")) {
            ReadFraction(v, &rec->darNum, &rec->darDen);
        }
    }
}

void ReadAudio(const xmlNode* track, QueueItem* item) {
    AudioStreamInfo* rec = AppendRecord(&item->audio);
    for (const xmlNode* n = track->children; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        const std::string value = NodeText(n);
        const char* v = value.c_str();
        if (NameIs(n, "Duration_String1")) {
            rec->duration = ParseMediaInfoDuration(v);
        } else if (NameIs(n, "Format")) {
            SetText(&rec->codec, v);
        } else if (NameIs(n, "BitRate_String")) {
            rec->bitrate = ParseMediaInfoBitrate(v);
        } else if (NameIs(n, "Channel_s__String") || NameIs(n, "Channels_String")) {
            rec->channels = GroupedCount(v);
        } else if (NameIs(n, "SamplingRate_String")) {
            rec->samplerate = ParseMediaInfoBitrate(v);  // "44.1 KHz", "8000 Hz"
        } else if (NameIs(n, "BitDepth_String")) {
            rec->samplebits = GroupedCount(v);
        } else if (NameIs(n, "Video_Delay_String")) {
            rec->delay = ParseMediaInfoDuration(v);
        } else if (NameIs(n, "BitRate_Mode_String")) {
            rec->bitrateMode = value == "Variable" || value == "VBR" ? 2 : 1;
        }
    }
}

}  // namespace

bool CMediaTool::Accepts(int, QueueItem*) { return true; }
void CMediaTool::Prepare() {}

bool CMediaInfo::Analyze(int kind, QueueItem* item) {
    if (!item || !Accepts(kind, item)) return false;
    if (IsNetworkPath(item->file)) return true;
    if (kind != 0) return ParseMediaInfoXml(this, item);
    return RunMediaInfoText(this, item->file);
}

bool CShibatch::Analyze(int, QueueItem*) { return false; }

bool RunMediaInfoText(CMediaTool* tool, const char* path) {
    tool->output.clear();
    if (!path) return false;
    CProcessWrapperCRT runner(kProcGrowingBuffer | kProcStdout);
    const std::string line = "mediainfo " + QuotedPath(path);
    if (!runner.Start(line.c_str())) return false;
    if (runner.ReadOutput(kMediaInfoReadMs) <= 0 || !runner.buffer) return false;
    tool->output = runner.buffer;
    return !tool->output.empty();
}

namespace {

// The media-information library the tool itself is made of (its C entry points with UTF-8 texts),
// loaded at the first reading and kept for the program's life.
class MediaInfoLibrary {
public:
    static MediaInfoLibrary& Get() {
        static MediaInfoLibrary library;
        return library;
    }
    bool Usable() const { return create_ && option_ && open_ && inform_ && destroy_; }
    // The text the tool prints for "--output=XML --language=raw -f" on the path; false when the
    // library cannot open the file.
    bool ReadXml(const char* path, std::string* text) const {
        void* handle = create_();
        if (!handle) return false;
        option_(handle, "CharSet", "UTF-8");
        option_(handle, "Complete", "1");
        option_(handle, "Language", "raw");
        option_(handle, "Output", "XML");
        const bool opened = open_(handle, path) != 0;
        const char* inform = opened ? inform_(handle, 0) : nullptr;
        const bool read = inform && *inform;
        // The tool ends what the library gives with a line break.
        if (read) *text = std::string(inform) + "\n";
        destroy_(handle);
        return read;
    }

private:
    MediaInfoLibrary() {
        platform::DynLib library;
        if (!library.OpenFromLibraryPath("libmediainfo.so.0")) return;
        create_ = library.Function<void* (*)()>("MediaInfoA_New");
        option_ = library.Function<const char* (*)(void*, const char*, const char*)>("MediaInfoA_Option");
        open_ = library.Function<size_t (*)(void*, const char*)>("MediaInfoA_Open");
        inform_ = library.Function<const char* (*)(void*, size_t)>("MediaInfoA_Inform");
        destroy_ = library.Function<void (*)(void*)>("MediaInfoA_Delete");
        // Mapped for the process's life: a reading may still run on another thread at the end.
        library.Release();
    }
    void* (*create_)() = nullptr;
    const char* (*option_)(void*, const char*, const char*) = nullptr;
    size_t (*open_)(void*, const char*) = nullptr;
    const char* (*inform_)(void*, size_t) = nullptr;
    void (*destroy_)(void*) = nullptr;
};

// Only a regular file with a plain (ASCII) path is read in the program: the library has no time
// limit, and it spells other names through the locale; anything else goes to the tool, whose run
// is bounded.
bool ReadableInProcess(const std::string& path) {
    for (unsigned char c : path)
        if (c < 0x20 || c >= 0x7F) return false;
    struct stat st {};
    return !path.empty() && !IsNetworkPath(path.c_str()) && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

void PreloadMediaInfoLibrary() {
    static std::once_flag started;
    // Detached: a program that ends meanwhile waits for the load in its own unloading.
    std::call_once(started, [] { std::thread([] { MediaInfoLibrary::Get(); }).detach(); });
}

namespace {

std::string MediaInfoXmlLine(const std::string& file) {
    return "mediainfo --output=XML --language=raw -f " + QuotedPath(file.c_str());
}

// The threads reading ahead at the program's start (joined by FinishMediaInfoReadAhead).
std::mutex readAheadMutex;
std::vector<std::thread> readAheadThreads;

// At most this many threads read at once: the library serializes much of a reading, so more
// threads gain little.
constexpr size_t kReadAheadThreads = 2;

}  // namespace

void StartMediaInfoReadAhead(const std::vector<std::string>& files) {
    const size_t limit = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16);
    struct Work {
        std::vector<std::string> files;
        std::atomic<size_t> next{0};
    };
    auto work = std::make_shared<Work>();
    for (const std::string& file : files) {
        if (work->files.size() >= limit) break;
        if (ReadableInProcess(file)) work->files.push_back(file);
    }
    if (work->files.empty()) {
        PreloadMediaInfoLibrary();
        return;
    }
    for (const std::string& file : work->files) MarkReadingAhead(file);
    // Loaded here, before the readers start: a load on another thread holds the dynamic loader's
    // lock for its whole length (its 38 libraries), and every thread this program starts meanwhile
    // waits for it, which stalled the start-up by as long.
    MediaInfoLibrary::Get();
    std::lock_guard<std::mutex> lock(readAheadMutex);
    const size_t threads = std::min(kReadAheadThreads, work->files.size());
    for (size_t t = 0; t < threads; ++t)
        readAheadThreads.emplace_back([work] {
            // Stands for the jobs' own probes: the batch's read-ahead of later items waits for it.
            JobProbeScope forJobs;
            for (size_t i; (i = work->next++) < work->files.size();) {
                const std::string& file = work->files[i];
                ProbeReadAheadScope scope(file.c_str(), ProbeReadAheadScope::Marked{});
                std::string text;
                if (ReadMediaInfoInProcess(file.c_str(), &text)) KeepProbeOutput(MediaInfoXmlLine(file), file.c_str(), text);
            }
        });
}

void FinishMediaInfoReadAhead() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(readAheadMutex);
        threads.swap(readAheadThreads);
    }
    for (std::thread& t : threads) t.join();
}

bool ReadMediaInfoInProcess(const char* path, std::string* text) {
    if (!path || !text || !ReadableInProcess(path)) return false;
    const MediaInfoLibrary& library = MediaInfoLibrary::Get();
    return library.Usable() && library.ReadXml(path, text);
}

namespace {

// The XML reading of the file: the library in the program where it serves, else the tool.
bool RunMediaInfoXml(const std::string& line, const std::string& file, std::string* text) {
    if (ReadMediaInfoInProcess(file.c_str(), text)) return true;
    CProcessWrapperCRT runner(kProcGrowingBuffer | kProcStdout);
    if (!runner.Start(line.c_str())) return false;
    const int got = runner.ReadOutput(kMediaInfoReadMs);
    if (got <= 0 || !runner.buffer) return false;
    *text = runner.buffer;
    return true;
}

}  // namespace

bool ParseMediaInfoXml(CMediaTool* tool, QueueItem* item) {
    if (!item || !item->file) return false;
    std::string file = item->file;
    if (std::strncmp(item->file, "dvd://", 6) == 0) {
        const std::string root = item->discRoot ? item->discRoot : "";
        file = root + "/VTS_01_1.VOB";
        if (!FileExist(file.c_str())) file = root + "/VTS_01_0.VOB";
    }
    const std::string line = MediaInfoXmlLine(file);
    // What a read-ahead of this batch kept for the same line and file stands for the run.
    if (!TakeProbeOutput(line, file.c_str(), &tool->output)) {
        if (!RunMediaInfoXml(line, file, &tool->output)) return false;
        KeepProbeOutput(line, file.c_str(), tool->output);
    }
    return ReadMediaInfoXml(tool->output.data(), tool->output.size(), item);
}

bool ReadMediaInfoXml(const char* xml, size_t length, QueueItem* item) {
    if (!xml || length == 0 || length > INT32_MAX) return false;
    CXML doc;
    if (doc.Read(xml, static_cast<int>(length)) != 0 || !doc.doc) return false;
    const xmlNode* track = FirstTrack(xmlDocGetRootElement(doc.doc));
    if (!track) return false;
    for (; track; track = track->next) {
        if (!NameIs(track, "track")) continue;
        xmlChar* type = xmlGetProp(track, reinterpret_cast<const xmlChar*>("type"));
        const std::string kind = type ? reinterpret_cast<const char*>(type) : "";
        xmlFree(type);
        if (kind == "General") ReadGeneral(track, item);
        else if (kind == "Video" || kind == "Image") ReadVideo(track, item);
        else if (kind == "Audio") ReadAudio(track, item);
        else if (kind == "Text") item->flags |= kItemFlagTextTrack;
    }
    return true;
}

uint32_t ParseMediaInfoBitrate(const char* text) {
    if (!text) return 0;
    double value = platform::ParseDouble(text);
    if (std::strchr(text, 'K')) value *= 1000.0;
    else if (std::strchr(text, 'M')) value *= 1000000.0;
    return ClampU32(value);
}

uint32_t ParseMediaInfoDuration(const char* text) {
    if (!text) return 0;
    uint64_t total = 0;
    const char* p = text;
    for (;;) {
        while (*p && !IsDigit(*p)) ++p;
        if (!*p) break;
        uint64_t number = 0;
        for (; IsDigit(*p); ++p) number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(*p - '0'), 0xFFFFFFFFu);
        while (*p == ' ') ++p;
        uint64_t unit = 0;
        if (p[0] == 'h') unit = 3600000;
        else if (p[0] == 'm' && p[1] == 's') unit = 1;
        else if (p[0] == 'm') unit = 60000;
        else if (p[0] == 's') unit = 1000;
        total = std::min<uint64_t>(total + number * unit, 0xFFFFFFFFu);
    }
    return static_cast<uint32_t>(total);
}

int ReadMediaInformation(QueueItem* item) {
    CMediaInfo info;
    return info.Analyze(1, item) ? 0 : -1;
}
