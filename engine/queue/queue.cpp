#include "engine/queue/queue.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::atomic<int> g_itemsInUse{0};
std::atomic<QueueJobDataRelease> g_jobDataRelease{nullptr};

const char* const kStateTexts[] = {"Ready",    "Done",     "Skipped",  "Encoding",  "Paused",
                                   "Splitting", "Stopping", "Skipping", "Finishing", "Error"};

bool IsAudio(const QueueItem* item) { return item->inputType && item->inputType->kind == kInputKindAudio; }

void FreeAudioStreams(AudioStreamInfo* stream) {
    while (stream) {
        AudioStreamInfo* next = stream->next;
        std::free(stream->codec);
        std::free(stream->file);
        delete stream;
        stream = next;
    }
}

void FreeVideoStreams(VideoStreamInfo* stream) {
    while (stream) {
        VideoStreamInfo* next = stream->next;
        std::free(stream->format);
        std::free(stream->codec);
        std::free(stream->codecId);
        std::free(stream->profile);
        std::free(stream->file);
        delete stream;
        stream = next;
    }
}

void FreeSegments(QueueSegment* segment) {
    while (segment) {
        QueueSegment* next = segment->next;
        std::free(segment->text);
        delete segment;
        segment = next;
    }
}

AudioStreamInfo* CopyAudioStreams(const AudioStreamInfo* from) {
    AudioStreamInfo* first = nullptr;
    AudioStreamInfo** link = &first;
    for (; from; from = from->next) {
        auto* copy = new AudioStreamInfo(*from);
        copy->codec = DupString(from->codec);
        copy->file = DupString(from->file);
        copy->next = nullptr;
        *link = copy;
        link = &copy->next;
    }
    return first;
}

VideoStreamInfo* CopyVideoStreams(const VideoStreamInfo* from) {
    VideoStreamInfo* first = nullptr;
    VideoStreamInfo** link = &first;
    for (; from; from = from->next) {
        auto* copy = new VideoStreamInfo(*from);
        copy->format = DupString(from->format);
        copy->codec = DupString(from->codec);
        copy->codecId = DupString(from->codecId);
        copy->profile = DupString(from->profile);
        copy->file = DupString(from->file);
        copy->next = nullptr;
        *link = copy;
        link = &copy->next;
    }
    return first;
}

QueueSegment* CopySegments(const QueueSegment* from) {
    QueueSegment* first = nullptr;
    QueueSegment** link = &first;
    for (; from; from = from->next) {
        auto* copy = new QueueSegment{DupString(from->text), nullptr};
        *link = copy;
        link = &copy->next;
    }
    return first;
}

// Every owned text of an item, for copying and freeing.
template <typename Item, typename Fn>
void ForEachText(Item* item, Fn fn) {
    fn(item->file);
    fn(item->subtitle);
    fn(item->audioFile);
    fn(item->destFile);
    fn(item->alias);
    fn(item->preset);
    fn(item->containerFormat);
    fn(item->discRoot);
    fn(item->tagArtist);
    fn(item->tagTitle);
    fn(item->tagAlbum);
    fn(item->tagGenre);
    fn(item->tagComment);
    fn(item->userInput);
}

void FreeItemData(QueueItem* item) {
    ForEachText(item, [](char*& text) {
        std::free(text);
        text = nullptr;
    });
    FreeAudioStreams(item->audio);
    FreeVideoStreams(item->video);
    FreeSegments(item->segments);
    item->audio = nullptr;
    item->video = nullptr;
    item->segments = nullptr;
    std::free(item->workBlock);
    item->workBlock = nullptr;
    std::free(item->statSamples);
    item->statSamples = nullptr;
    item->statSampleCount = 0;
}

void FillDefaultFormats(QueueItem& cell) {
    if (!cell.audio) {
        cell.audio = new AudioStreamInfo;
        cell.audio->samplerate = 44100;
        cell.audio->channels = 2;
        cell.audio->samplebits = 16;
        cell.audio->codec = DupString("");
    }
    if (!cell.video) {
        cell.video = new VideoStreamInfo;
        cell.video->format = DupString("");
        cell.video->codec = DupString("");
    }
}

// Links the item after `prev` (the head cell for the first place). Under the lock.
void LinkAfter(QueueHead& head, QueueItem* prev, QueueItem* item) {
    item->next = prev->next;
    prev->next = item;
    if (!item->next) head.tail = item;
    item->linked = true;
    item->countedNonAudio = !IsAudio(item);
    if (item->countedNonAudio) ++head.nonAudio;
    ++head.count;
}

// Unlinks the item that follows `prev`. Under the lock.
void UnlinkAfter(QueueHead& head, QueueItem* prev) {
    QueueItem* item = prev->next;
    prev->next = item->next;
    if (head.tail == item) head.tail = prev == &head.cell ? nullptr : prev;
    item->next = nullptr;
    item->linked = false;
    if (item->countedNonAudio) --head.nonAudio;
    item->countedNonAudio = false;
    --head.count;
}

// Whether the queue takes this item in. Under the lock.
bool MayLink(QueueHead& head, const QueueItem* item) {
    if (!item || item == &head.cell || item->linked) return false;
    if (!IsAudio(item) && head.nonAudio >= kQueueNonAudioLimit) return false;
    return true;
}

// The item before `item` (the head cell for the first), or null when it is not linked.
QueueItem* FindPrevious(QueueHead& head, const QueueItem* item, int* index) {
    int i = 0;
    for (QueueItem* prev = &head.cell; prev->next; prev = prev->next, ++i) {
        if (prev->next == item) {
            if (index) *index = i;
            return prev;
        }
    }
    return nullptr;
}

}  // namespace

const char* ItemStateText(uint32_t state) {
    return state < sizeof kStateTexts / sizeof kStateTexts[0] ? kStateTexts[state] : "";
}

QueueHead::QueueHead() {
    cell.inputType = UnknownInputRow();
    FillDefaultFormats(cell);
}

// Items still linked at exit go with the head.
QueueHead::~QueueHead() {
    while (QueueItem* item = cell.next) {
        cell.next = item->next;
        FreeItemData(item);
        delete item;
    }
    FreeItemData(&cell);
}

QueueHead& GetQueueHead() {
    static QueueHead head;
    return head;
}

void QueueHeadInit() {
    QueueHead& head = GetQueueHead();
    std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
    head.cell.inputType = UnknownInputRow();
    FillDefaultFormats(head.cell);
}

void QueueHeadRelease() {
    QueueHead& head = GetQueueHead();
    std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
    FreeAudioStreams(head.cell.audio);
    FreeVideoStreams(head.cell.video);
    head.cell.audio = nullptr;
    head.cell.video = nullptr;
}

void QueueLock() { GetQueueHead().mutex.lock(); }
void QueueUnlock() { GetQueueHead().mutex.unlock(); }

char* DupString(const char* text) {
    if (!text) return nullptr;
    std::size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy) std::memcpy(copy, text, size);
    return copy;
}

void SetStringField(char** field, const char* text) {
    if (!field) return;
    char* copy = DupString(text);
    std::free(*field);
    *field = copy;
}

QueueItem* QueueNewItem(const char* path) {
    auto* item = new (std::nothrow) QueueItem;
    if (!item) return nullptr;
    item->flags = kItemFlagInUse | kItemFlagMadeByNew;
    item->file = DupString(path);
    item->inputType = ClassifyInput(path);
    item->targetRatio = 1.0f;
    g_itemsInUse.fetch_add(1);
    return item;
}

int QueueAppend(QueueItem* item) {
    QueueHead& head = GetQueueHead();
    std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
    if (!MayLink(head, item)) return -1;
    LinkAfter(head, head.tail ? head.tail : &head.cell, item);
    return 0;
}

int QueueInsertAt(QueueItem* item, int index) {
    QueueHead& head = GetQueueHead();
    std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
    if (index < 0 || index > head.count || !MayLink(head, item)) return -1;
    QueueItem* prev = &head.cell;
    for (int i = 0; i < index; ++i) prev = prev->next;
    LinkAfter(head, prev, item);
    return 0;
}

int QueueRemove(QueueItem* item) {
    QueueHead& head = GetQueueHead();
    std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
    if (!item || !item->linked) return -1;
    int index = -1;
    QueueItem* prev = FindPrevious(head, item, &index);
    if (!prev) return -1;
    UnlinkAfter(head, prev);
    return index;
}

QueueItem* QueueGetItem(int index) {
    QueueHead& head = GetQueueHead();
    std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
    if (index < 0) return nullptr;
    QueueItem* item = head.cell.next;
    for (; item && index > 0; --index) item = item->next;
    return item;
}

QueueItem* QueueFindByFile(const char* path) {
    if (!path) return nullptr;
    QueueHead& head = GetQueueHead();
    std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
    for (QueueItem* item = head.cell.next; item; item = item->next) {
        if (item->file && std::strcmp(item->file, path) == 0) return item;
    }
    return nullptr;
}

int QueueIndexOf(const QueueItem* item) {
    QueueHead& head = GetQueueHead();
    std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
    if (!item || !item->linked) return -1;
    int index = -1;
    return FindPrevious(head, item, &index) ? index : -1;
}

QueueItem* QueueNext(QueueItem* item) {
    QueueHead& head = GetQueueHead();
    std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
    return item ? item->next : head.cell.next;
}

int QueueCount() {
    QueueHead& head = GetQueueHead();
    std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
    return head.count;
}

int QueueItemsInUse() { return g_itemsInUse.load(); }

QueueItem* QueueCloneItem(const QueueItem* item, const char* newPath) {
    if (!item) return nullptr;
    // The copy reads the item's link words, which other threads change under the queue lock.
    std::lock_guard<platform::RecursiveMutex> lock(GetQueueHead().mutex);
    auto* clone = new (std::nothrow) QueueItem(*item);
    if (!clone) return nullptr;
    // The copy took the original's pointers; give it copies of its own and drop the job's data.
    ForEachText(clone, [](char*& text) { text = DupString(text); });
    if (newPath) SetStringField(&clone->file, newPath);
    clone->audio = CopyAudioStreams(item->audio);
    clone->video = CopyVideoStreams(item->video);
    clone->segments = CopySegments(item->segments);
    clone->next = nullptr;
    clone->linked = false;
    clone->countedNonAudio = false;
    clone->workBlock = nullptr;
    clone->audioTask = nullptr;
    clone->statSamples = nullptr;
    clone->statSampleCount = 0;
    clone->run = ItemRunStats{};
    clone->flags &= ~kItemTransientFlags;
    clone->flags |= kItemFlagInUse;
    g_itemsInUse.fetch_add(1);
    return clone;
}

int QueueFreeItem(QueueItem* item) {
    if (!item) return 0;
    QueueHead& head = GetQueueHead();
    {
        std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
        if (item == &head.cell || item->audioTask.load()) return -1;
        if (item->linked) {
            if (QueueItem* prev = FindPrevious(head, item, nullptr)) UnlinkAfter(head, prev);
        }
    }
    if (QueueJobDataRelease release = g_jobDataRelease.load()) release(item);
    FreeItemData(item);
    item->flags = 0;
    delete item;
    g_itemsInUse.fetch_sub(1);
    return 0;
}

int QueueClear() {
    QueueHead& head = GetQueueHead();
    int kept = 0;
    QueueItem* unlinked = nullptr;  // chained through next in queue order, freed outside the lock
    QueueItem** unlinkedEnd = &unlinked;
    {
        std::lock_guard<platform::RecursiveMutex> lock(head.mutex);
        QueueItem* prev = &head.cell;
        while (QueueItem* item = prev->next) {
            if (item->audioTask.load()) {
                prev = item;
                ++kept;
                continue;
            }
            UnlinkAfter(head, prev);
            *unlinkedEnd = item;
            unlinkedEnd = &item->next;
        }
    }
    while (QueueItem* item = unlinked) {
        unlinked = item->next;
        item->next = nullptr;
        QueueFreeItem(item);
    }
    return kept;
}

bool QueueClaimItem(QueueItem* item) {
    if (!item) return false;
    uint32_t flags = item->flags.load();
    do {
        if (flags & kItemFlagClaimed) return false;
    } while (!item->flags.compare_exchange(flags, flags | kItemFlagClaimed));
    return true;
}

void SetQueueJobDataRelease(QueueJobDataRelease release) { g_jobDataRelease.store(release); }
