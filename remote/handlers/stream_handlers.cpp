#include "remote/handlers/stream_handlers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "engine/context.h"
#include "engine/jobs/audiopass.h"
#include "engine/jobs/audiotask.h"
#include "engine/prefs/prefstore.h"
#include "engine/queue/inputtype.h"
#include "engine/queue/cpath.h"
#include "engine/queue/queue.h"
#include "engine/queue/taskvars.h"
#include "remote/handlers/control_handlers.h"
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
    const std::string base = "http://" + prefs.GetValueText("overall.streaming.ip") + ":" +
                             std::to_string(prefs.GetInt("overall.streaming.port")) + "/MediaServer/";
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
        if (firstDot && std::strchr(firstDot + 1, '.')) prefs.SetFromText(v.name, v.value ? v.value : "");
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

UrlRoute* MakeStreamingRoutes() {
    // The transcoding proxy ("proxy") is not offered: the job driver converts audio only.
    const UrlRoute routes[] = {
        {"playlist.m3u", HandlePlaylistM3u, nullptr, nullptr},
        {"MediaServer/AudioItems/", HandleMediaServerItem, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr},
    };
    auto* table = static_cast<UrlRoute*>(std::malloc(sizeof routes));
    if (table) std::memcpy(table, routes, sizeof routes);
    return table;
}
