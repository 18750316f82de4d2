#include "remote/handlers/stream_handlers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/context.h"
#include "engine/engine_api.h"
#include "engine/jobs/itemstate.h"
#include "engine/jobs/jobdriver.h"
#include "engine/jobs/audiopass.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/inputtype.h"
#include "engine/queue/cpath.h"
#include "engine/queue/queue.h"
#include "engine/queue/taskvars.h"
#include "remote/handlers/control_handlers.h"
#include "platform/sync.h"
#include "remote/httpd/web_server.h"

namespace {

constexpr int kTextPlain = 3;
constexpr int kUnknownContent = 21;

std::string FileNameOf(const char* path) { return CPath(path).GetFileName(); }

// "#EXTINF:<seconds>,[artist - ]title" (the source's name without extension when there is no title).
std::string ExtInf(const QueueItem* item) {
    std::string line = "#EXTINF:" + std::to_string(item->duration / 1000) + ",";
    if (item->tagArtist && *item->tagArtist) line += std::string(item->tagArtist) + " - ";
    if (item->tagTitle && *item->tagTitle) {
        line += item->tagTitle;
    } else {
        CPath name(FileNameOf(item->file));
        name.StripExt();
        line += name.str();
    }
    // A line end inside a tag would start a line of its own in the playlist.
    for (char& ch : line) {
        if (ch == '\r' || ch == '\n') ch = ' ';
    }
    return line + "\n";
}

// The name the item's output gets, as the batch would name it.
std::string OutputNameOf(QueueItem* item) {
    AudioTask task{};
    InitAudioTask(&task, 0);
    ReadAudioSettings(&task, item);
    std::string path = GetTaskVariable(item, &task, "DestFile");
    FreeAudioTask(&task);
    return FileNameOf(path.c_str());
}

// Keys a player on the network may set for the items it fetches: the audio and video filters and
// the streaming encoder's own settings. Never a tool, a file or a folder: those would let any
// client run programs or write where it likes.
bool StreamingKeyAllowed(const char* key) {
    static const char* const kPrefixes[] = {"videofilter.", "audiofilter.", "audioenc.ffmpeg."};
    bool allowed = std::strcmp(key, "overall.video.bitrate") == 0;
    for (const char* prefix : kPrefixes)
        if (std::strncmp(key, prefix, std::strlen(prefix)) == 0) allowed = true;
    if (!allowed) return false;
    const PrefNode* node = GetPrefStore().FindNode(key);
    return node && node->type != kPrefFile && node->type != kPrefDir && node->type != kPrefString;
}

uint32_t ReplyText(UrlRequest* r, const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy) return 0;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return ReplyHeap(r, copy, static_cast<int>(text.size()), kTextPlain);
}

}  // namespace

void SanitizeFileName(std::string& text, size_t start) {
    for (size_t i = start; i < text.size(); ++i) {
        if (std::strchr("&*,/:;?|", text[i]) && text[i] != '\0') text[i] = '_';
    }
}

std::string BuildQueueM3u() {
    std::string text = "#EXTM3U\n";
    QueueLockGuard lock;
    for (QueueItem* item = QueueNext(nullptr); item; item = QueueNext(item)) {
        if (item->duration > 0) text += ExtInf(item);
        text += std::string(item->file ? item->file : "") + "\n";
    }
    return text;
}

std::string BuildStreamPlaylist() {
    PrefStore& prefs = GetPrefStore();
    const bool transcoding = prefs.GetInt("overall.streaming.transcoding") != 0;
    // The addresses name the streaming server itself: its own port, not the control server's.
    const int port = g_streamingServer.running.load() && g_streamingServer.port > 0
                         ? g_streamingServer.port
                         : prefs.GetInt("overall.streaming.port");
    const std::string base = "http://" + prefs.GetValueText("overall.streaming.ip") + ":" + std::to_string(port) +
                             "/MediaServer/";
    std::string text = "#EXTM3U\n";
    QueueLockGuard lock;
    int position = 1;
    for (QueueItem* item = QueueNext(nullptr); item; item = QueueNext(item), ++position) {
        text += ExtInf(item);
        const bool video = item->video != nullptr;
        const char* kind = !transcoding && video ? "VideoItems" : "AudioItems";
        const std::string name = transcoding ? OutputNameOf(item) : FileNameOf(item->file);
        text += base + kind + "/" + std::to_string(position) + "/" + name + "\n";
    }
    return text;
}

uint32_t HandleQueueM3u(UrlRequest* request) { return ReplyText(request, BuildQueueM3u()); }

uint32_t HandlePlaylistM3u(UrlRequest* request) { return ReplyText(request, BuildStreamPlaylist()); }

uint32_t HandleMediaServerItem(UrlRequest* request) {
    EngineContext* ctx = GetEngineContext();
    if (!ctx || ctx->taskMode.load() != 6 || !request->reply || !request->connection) return 0;
    PrefStore& prefs = GetPrefStore();
    if (request->variableCount < 0) WebParseVars(request);
    for (int i = 0; i < request->variableCount; ++i) {
        const UrlVariable& v = request->variables[i];
        const char* firstDot = v.name ? std::strchr(v.name, '.') : nullptr;
        if (firstDot && std::strchr(firstDot + 1, '.') && StreamingKeyAllowed(v.name))
            prefs.SetFromText(v.name, v.value ? v.value : "");
    }
    const char* path = request->path ? request->path : "";
    char* end = nullptr;
    const long position = std::strtol(path, &end, 10);
    if (end == path || position < 1) return 0;
    if (prefs.GetInt("overall.streaming.transcoding") != 0) return 0;

    std::string file;
    const char* mime = nullptr;
    {
        QueueLockGuard lock;
        QueueItem* item = QueueGetItem(static_cast<int>(position - 1));
        if (!item || !item->file || std::strstr(item->file, "://")) return 0;
        file = item->file;
        mime = item->inputType ? item->inputType->mime : nullptr;
    }
    // Only queue items are served: the position picks the file, the rest of the path is a name
    // for the player's display.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return 0;
    }
    WebConnection* c = request->connection;
    c->file = fd;
    c->fileSize = st.st_size;
    c->mimeText = mime;
    request->contentType = kUnknownContent;
    return kReplyOwnFile | kReplyChunked;
}

// --- the transcoding proxy ---
//
// Lock order: g_proxyMutex, then the queue lock.

namespace {

constexpr int kProxyPiece = 4096;
constexpr uint64_t kProxyRetryMs = 50;
std::atomic<uint64_t> g_proxyStallMs{30000};
std::atomic<uint32_t> g_partialCounter{0};

// One client's proxy stream: the output it reads and, when it started one, the job that writes it.
struct ProxyStream {
    int fd = -1;
    uint64_t bytesRead = 0;
    uint64_t lastReadTick = 0;
    QueueItem* item = nullptr;
    std::thread thread;
    std::atomic<bool> finished{false};
    // Set before `finished`: the job wrote its whole output. A client that leaves as the job ends
    // stops an item that is already done; the output is whole all the same and is kept.
    std::atomic<bool> succeeded{false};
    std::string partialPath;  // where the job writes
    std::string finalPath;    // the name a finished output gets in the cache folder
};

// Streams whose client has gone while their job still runs; joined once the job has ended.
std::mutex g_proxyMutex;
std::list<std::unique_ptr<ProxyStream>> g_endingStreams;

void StreamTranscodeJob(ProxyStream* stream) {
    const int result = StreamTranscodeThread(stream->item);
    stream->succeeded.store(result == kItemEncoding || result == kItemFinishing);
    stream->finished.store(true);
}

// After the job's thread ended: a job that finished well gives the output its final name (later
// requests serve it without a job); anything else is removed. The item leaves the queue.
void EndStream(ProxyStream* s) {
    if (s->thread.joinable()) s->thread.join();
    if (s->fd >= 0) ::close(s->fd);
    s->fd = -1;
    if (s->item) {
        const bool done = s->succeeded.load();
        if (!s->partialPath.empty()) {
            if (done) ::rename(s->partialPath.c_str(), s->finalPath.c_str());
            else ::unlink(s->partialPath.c_str());
        }
        {
            QueueLockGuard lock;
            QueueRemove(s->item);
        }
        QueueFreeItem(s->item);
        s->item = nullptr;
        RaiseEvent(kEventQueueChanged);
    }
}

// Joins and releases the ending streams whose job has ended (all of them, waiting, with `all`).
void ReapEndingStreams(bool all) {
    std::list<std::unique_ptr<ProxyStream>> done;
    {
        std::lock_guard lock(g_proxyMutex);
        for (auto it = g_endingStreams.begin(); it != g_endingStreams.end();) {
            if (all || (*it)->finished.load()) {
                done.push_back(std::move(*it));
                it = g_endingStreams.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& s : done) EndStream(s.get());
}

// Ends a stream without blocking the server thread: a running job is told to stop and the stream
// is released once its thread has ended.
void ReleaseStream(ProxyStream* s) {
    if (s->item && !s->finished.load()) {
        StopItem(s->item);
        std::lock_guard lock(g_proxyMutex);
        g_endingStreams.emplace_back(s);
        return;
    }
    EndStream(s);
    delete s;
}

// Reads what the output holds beyond what was sent, up to one piece; the bytes read.
int ReadMore(ProxyStream* s, char* buffer, int room) {
    struct stat st{};
    if (fstat(s->fd, &st) != 0 || static_cast<uint64_t>(st.st_size) <= s->bytesRead) return 0;
    const uint64_t available = static_cast<uint64_t>(st.st_size) - s->bytesRead;
    const int want = static_cast<int>(std::min<uint64_t>({available, static_cast<uint64_t>(kProxyPiece),
                                                         static_cast<uint64_t>(room)}));
    const ssize_t n = ::pread(s->fd, buffer, static_cast<size_t>(want), static_cast<off_t>(s->bytesRead));
    if (n <= 0) return 0;
    s->bytesRead += static_cast<uint64_t>(n);
    s->lastReadTick = platform::TickCount();
    return static_cast<int>(n);
}

// Width or height from a request: a multiple of 8, the fallback below 16, at most 4096.
int ScaleDimension(int value, int fallback) {
    value -= value % 8;
    if (value < 16) value = fallback;
    return std::min(value, 4096);
}

// The cache file name for a requested source: one path segment that cannot lead out of the cache
// folder, whatever separators or dots the request holds.
std::string CacheName(const std::string& decoded) {
    CPath stripped(decoded);
    stripped.StripExt();
    std::string name = stripped.str();
    SanitizeFileName(name, 2);
    for (char& ch : name)
        if (ch == '/' || ch == '\\' || ch == ':' || static_cast<unsigned char>(ch) < 0x20) ch = '_';
    if (name.empty() || name[0] == '.') name.insert(name.begin(), '_');
    if (name.size() > 200) name.resize(200);
    return name;
}

uint32_t StartProxyStream(UrlRequest* r) {
    WebConnection* c = r->connection;
    std::string path = r->path ? r->path : "";
    const size_t cut = path.find("/stream.");
    if (cut == std::string::npos) return 0;
    std::string ext = path.substr(cut + 8);
    if (ext.empty()) ext = "flv";
    path.resize(cut);
    std::vector<char> decodedBuf(path.begin(), path.end());
    decodedBuf.push_back(0);
    UrlDecode(decodedBuf.data());
    std::string decoded = decodedBuf.data();
    if (!decoded.empty() && decoded[0] == '/') decoded.erase(0, 1);

    int container = 10, contentType = 17;
    if (strcasecmp(ext.c_str(), "mov") == 0) container = 15, contentType = 15;
    else if (strcasecmp(ext.c_str(), "3gp") == 0) container = 13, contentType = 19;
    else if (strcasecmp(ext.c_str(), "ts") == 0) container = 8, contentType = 18;

    PrefStore& prefs = GetPrefStore();
    if (r->variableCount > 0) {
        prefs.SetInt("videofilter.scale.width", ScaleDimension(WebGetVarInt(r->variables, "width", 320), 320));
        prefs.SetInt("videofilter.scale.height", ScaleDimension(WebGetVarInt(r->variables, "height", 240), 240));
        prefs.SetInt("videofilter.frame.fps", WebGetVarInt(r->variables, "fps", 15));
        prefs.SetInt("videofilter.frame.fpsScale", 1);
        const int vbitrate = WebGetVarInt(r->variables, "vbitrate", 256);
        if (vbitrate > 32) prefs.SetInt("overall.video.bitrate", vbitrate);
        const int abitrate = WebGetVarInt(r->variables, "abitrate", 64);
        if (abitrate >= 8) prefs.SetInt("audioenc.ffmpeg.bitrate", abitrate);
        prefs.SetInt("audiofilter.resample.samplerate", WebGetVarInt(r->variables, "srate", 22050));
    }
    prefs.SetInt("overall.container.format", container);

    if (decoded.empty()) return 0;
    std::string source = decoded;
    if (!(source.size() > 1 && source[1] == ':') && source[0] != '/' && source.find("://") == std::string::npos)
        source = "http://" + source;

    const std::string folder = r->server ? r->server->webRoot : std::string(".");
    const std::string base = folder + "/" + CacheName(decoded);
    auto stream = std::make_unique<ProxyStream>();
    stream->finalPath = base + "." + ext;
    r->contentType = contentType;

    // A finished output of an earlier request is served as it is.
    stream->fd = ::open(stream->finalPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (stream->fd >= 0) {
        const int n = ReadMore(stream.get(), r->reply, r->length);
        if (n <= 0) {
            ::close(stream->fd);
            stream->fd = -1;
        } else {
            r->length = n;
            c->handlerState = stream.release();
            return kReplyStreamed;
        }
    }

    // A new job writes under a name of its own, renamed when it ends well: a second client never
    // takes a partial output for a whole one.
    stream->partialPath = base + "." + std::to_string(getpid()) + "-" + std::to_string(g_partialCounter.fetch_add(1)) +
                          ".part." + ext;
    const int writeFd = ::open(stream->partialPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (writeFd < 0) return 0;
    ::close(writeFd);
    stream->fd = ::open(stream->partialPath.c_str(), O_RDONLY | O_CLOEXEC);
    QueueItem* item = stream->fd >= 0 ? QueueNewItem(source.c_str()) : nullptr;
    if (!item || ProbeItem(item, 0) != 0) {
        if (item) QueueFreeItem(item);
        if (stream->fd >= 0) ::close(stream->fd);
        ::unlink(stream->partialPath.c_str());
        return 0;
    }
    SetStringField(&item->destFile, stream->partialPath.c_str());
    // Claimed from the start: a batch running meanwhile leaves this item to its own thread.
    item->flags |= kItemFlagUserDest | kItemFlagClaimed;
    if (QueueAppend(item) != 0) {
        QueueFreeItem(item);
        ::close(stream->fd);
        ::unlink(stream->partialPath.c_str());
        return 0;
    }
    RaiseEvent(kEventSettingsChanged, 2, 2);
    RaiseEvent(kEventQueueChanged);
    stream->item = item;
    stream->lastReadTick = platform::TickCount();
    ProxyStream* raw = stream.get();
    stream->thread = std::thread(StreamTranscodeJob, raw);
    r->length = 0;
    c->handlerState = stream.release();
    c->sendAfter = platform::TickCount() + kProxyRetryMs;
    return kReplyStreamed;
}

}  // namespace

int StreamTranscodeThread(QueueItem* item) {
    if (!item) return kItemError;
    SetItemState(item, kItemEncoding);
    const int result = RunItem(item);
    const bool success = result == kItemEncoding || result == kItemFinishing;
    if (success) item->state = kItemDone;
    else if (item->state.load() != kItemError) item->state = item->errorCode.load() ? kItemError : kItemReady;
    return result;
}

// While the server is idle, the jobs of streams whose client went away are collected.
static void ReapWhenIdle(WebServer*) { ReapEndingStreams(false); }

int ProxyRouteInit(int action, UrlRoute*, WebServer* server) {
    if (action == 0 && server && !server->idleCallback) server->idleCallback = ReapWhenIdle;
    if (action == 1) StopProxyStreams();
    return 0;
}

void SetProxyStallLimit(uint64_t ms) { g_proxyStallMs.store(ms); }

void StopProxyStreams() { ReapEndingStreams(true); }

uint32_t HandleProxy(UrlRequest* r) {
    WebConnection* c = r->connection;
    if (!c) return 0;
    auto* s = static_cast<ProxyStream*>(c->handlerState);
    // The server's last call for the connection: release what the stream holds.
    if (!r->reply || r->length < 0) {
        if (s) {
            c->handlerState = nullptr;
            ReleaseStream(s);
        }
        return 0;
    }
    ReapEndingStreams(false);
    if (!s) return StartProxyStream(r);

    int n = ReadMore(s, r->reply, r->length);
    if (n == 0) {
        const bool jobEnded = !s->item || s->finished.load();
        // The job may have written its last bytes after the size was looked at: look once more.
        if (jobEnded) n = ReadMore(s, r->reply, r->length);
        const bool stalled = platform::TickCount() - s->lastReadTick >= g_proxyStallMs.load();
        if (n == 0 && (jobEnded || stalled)) {
            c->handlerState = nullptr;
            ReleaseStream(s);
            return 0;
        }
    }
    // Nothing new yet: the server asks again a little later instead of spinning.
    if (n == 0) c->sendAfter = platform::TickCount() + kProxyRetryMs;
    r->length = n;
    return kReplyStreamed;
}

UrlRoute* MakeStreamingRoutes() {
    const UrlRoute routes[] = {
        {"proxy", HandleProxy, ProxyRouteInit, nullptr},
        {"playlist.m3u", HandlePlaylistM3u, nullptr, nullptr},
        {"MediaServer/AudioItems/", HandleMediaServerItem, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr},
    };
    auto* table = static_cast<UrlRoute*>(std::malloc(sizeof routes));
    if (table) std::memcpy(table, routes, sizeof routes);
    return table;
}
