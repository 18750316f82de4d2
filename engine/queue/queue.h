// The task queue: the list of inputs to convert. Items are made on the heap as needed (there is
// no slot limit), linked into one singly linked list behind a head cell, and freed when done
// with. One re-entrant mutex guards link changes, walks and the count of items in use; flag and
// state words are atomics, and a worker claims an item with a compare-and-set of its claim bit.
//
// A walk over several calls (QueueNext in a loop, or reading an item another thread may free)
// holds the queue lock for its whole length: QueueLockGuard.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/queue/inputtype.h"
#include "platform/sync.h"

struct AudioTask;  // the running conversion of an item (job driver)

// An atomic value that can still be copied (the copy reads the value once), so that records
// holding it can be copied as a whole before their owned pointers are duplicated.
template <typename T>
class SharedField {
public:
    SharedField(T value = T{}) : value_(value) {}
    SharedField(const SharedField& other) : value_(other.load()) {}
    SharedField& operator=(const SharedField& other) {
        store(other.load());
        return *this;
    }
    SharedField& operator=(T value) {
        store(value);
        return *this;
    }
    operator T() const { return load(); }
    T load() const { return value_.load(); }
    void store(T value) { value_.store(value); }
    T exchange(T value) { return value_.exchange(value); }
    bool compare_exchange(T& expected, T desired) { return value_.compare_exchange_strong(expected, desired); }
    T fetch_or(T bits) { return value_.fetch_or(bits); }
    T fetch_and(T bits) { return value_.fetch_and(bits); }
    T fetch_add(T n) { return value_.fetch_add(n); }
    SharedField& operator|=(T bits) {
        value_.fetch_or(bits);
        return *this;
    }
    SharedField& operator&=(T bits) {
        value_.fetch_and(bits);
        return *this;
    }

private:
    std::atomic<T> value_;
};

enum ItemState : uint32_t {
    kItemReady = 0,      // idle, waiting
    kItemDone = 1,
    kItemSkipped = 2,
    kItemEncoding = 3,   // being transcoded
    kItemPaused = 4,
    kItemSplitting = 5,
    kItemStopping = 6,
    kItemSkipping = 7,   // being skipped; ends as skipped
    kItemFinishing = 8,  // ending well; ends as done
    kItemError = 9,
};

// The display text of a state ("Ready" ... "Error"); "" for a value outside the list.
const char* ItemStateText(uint32_t state);

// Item flags.
inline constexpr uint32_t kItemFlagClaimed = 0x1;           // claimed by a worker in this batch
inline constexpr uint32_t kItemFlagHasStreams = 0x2;        // stream information present
inline constexpr uint32_t kItemFlagHasTags = 0x4;           // tags present
inline constexpr uint32_t kItemFlagSeparateAudio = 0x8;     // the audio comes from the audio file
inline constexpr uint32_t kItemFlagTextTrack = 0x80;        // the input holds a text track
inline constexpr uint32_t kItemFlagStarted = 0x200;         // the job started
inline constexpr uint32_t kItemFlagMadeByNew = 0x400;       // made by QueueNewItem
inline constexpr uint32_t kItemFlagAidSet = 0x800;          // audio stream id chosen
inline constexpr uint32_t kItemFlagSkip = 0x1000;           // marked to be skipped
inline constexpr uint32_t kItemFlagTestPhase = 0x10000;     // a job's test phase runs
inline constexpr uint32_t kItemFlagUserDest = 0x800000;     // destination given by the user
inline constexpr uint32_t kItemFlagInUse = 0x80000000u;     // the item is live
// Flags that belong to one run of a job: never copied to a clone, never kept across save and load.
inline constexpr uint32_t kItemTransientFlags = kItemFlagClaimed | kItemFlagStarted | kItemFlagTestPhase;

// Non-audio items the queue holds at most; the next one is refused.
inline constexpr int kQueueNonAudioLimit = 70;

struct AudioStreamInfo {
    uint32_t id = 0;
    char* codec = nullptr;
    uint32_t bitrate = 0;       // bit/s
    uint32_t bitrateMode = 0;   // 1 constant, 2 variable
    uint32_t samplerate = 0;
    uint32_t channels = 0;
    uint32_t samplebits = 0;
    uint32_t delay = 0;         // ms
    char* file = nullptr;       // a file of the stream's own (freed with the record)
    AudioStreamInfo* next = nullptr;
    // Read by other parts of the engine, not kept in queue.xml.
    uint32_t format = 0;        // format tag
    uint32_t duration = 0;      // ms
    float gain[2] = {0.0f, 0.0f};  // analysed gains in dB (second: the second channel when balancing)
};

struct VideoStreamInfo {
    uint32_t id = 0;
    uint32_t bitrate = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t fpsNum = 0;
    uint32_t fpsDen = 0;
    uint32_t darNum = 0;
    uint32_t darDen = 0;
    char* format = nullptr;
    char* codec = nullptr;
    char* codecId = nullptr;    // the second codec text
    uint32_t scanMode = 0;      // a character: 'p', 't', 'b', 'M'
    char* profile = nullptr;
    uint32_t flags = 0;         // bit 0 variable frame rate, bit 1 frame doubling
    VideoStreamInfo* next = nullptr;
    // Read by other parts of the engine, not kept in queue.xml.
    double pixelAspect = 0.0;
    uint32_t duration = 0;      // ms
    char* file = nullptr;       // a file of the stream's own
};

struct QueueSegment {
    char* text = nullptr;
    QueueSegment* next = nullptr;
};

// One second of a job's statistics.
struct ItemStatSample {
    uint32_t videoBytes = 0;
    uint32_t audioBytes = 0;
    uint32_t timeMs = 0;
    uint8_t load[4] = {0, 0, 0, 0};  // video encoder processes (2), audio encoder processes (2), percent
    uint32_t extra = 0;
};

// Figures of the running job, written by the worker threads and read by the user interface and
// the control server while they change.
struct ItemRunStats {
    SharedField<uint64_t> startTime;    // tick count
    SharedField<uint64_t> endTime;
    SharedField<uint32_t> elapsed;      // ms
    SharedField<uint32_t> position;     // ms
    SharedField<uint32_t> totalLength;  // ms
    SharedField<uint64_t> bytes;
    SharedField<uint32_t> frames;
    SharedField<uint32_t> samples;
    SharedField<float> progress;        // percent; negative when unknown
    SharedField<int32_t> pass;
    SharedField<int32_t> passCount;
    SharedField<float> speed;
};

// Texts are heap strings owned by the item (DupString), null when absent.
struct QueueItem {
    QueueItem* next = nullptr;
    SharedField<uint32_t> state = kItemReady;
    char* file = nullptr;         // the input
    char* subtitle = nullptr;
    char* audioFile = nullptr;    // separate audio input
    char* destFile = nullptr;     // output path; given by the user with kItemFlagUserDest
    char* alias = nullptr;        // display name
    char* preset = nullptr;       // preset file applied for this item
    SharedField<uint32_t> flags = 0;
    int32_t group = 0;
    const InputTypeRow* inputType = nullptr;
    uint32_t cdTrackProbed = 0;   // set to 1 by the CD track probe
    uint32_t mediaKind = 0;       // input kind, +1 audio streams known, +2 video streams known
    int32_t duration = 0;         // ms
    uint32_t size = 0;            // KB
    uint32_t containerBitrate = 0;
    char* containerFormat = nullptr;
    char* discRoot = nullptr;
    uint32_t begin = 0;           // ms
    uint32_t end = 0;             // ms
    uint16_t containerOverhead = 0;
    uint16_t track = 0;
    uint16_t chapter = 0;
    uint16_t vid = 0;
    uint16_t aid = 0;
    uint16_t sid = 0;             // subtitle id
    char* tagArtist = nullptr;
    char* tagTitle = nullptr;
    char* tagAlbum = nullptr;
    char* tagGenre = nullptr;
    uint32_t tagYear = 0;
    uint32_t tagTrack = 0;
    char* tagComment = nullptr;
    AudioStreamInfo* audio = nullptr;
    VideoStreamInfo* video = nullptr;
    QueueSegment* segments = nullptr;
    uint32_t targetSize = 0;
    float targetRatio = 1.0f;
    uint32_t targetSplit = 0;
    uint32_t cropLeft = 0;
    uint32_t cropTop = 0;
    uint32_t cropWidth = 0;
    uint32_t cropHeight = 0;
    uint32_t targetWidth = 0;
    uint32_t targetHeight = 0;
    uint32_t targetFpsNum = 0;
    uint32_t targetFpsDen = 0;
    void* workBlock = nullptr;    // heap block (malloc) of the job driver, freed with the item
    SharedField<int32_t> errorCode = 0;  // ItemError
    SharedField<uint64_t> pausedTime = 0;  // ms spent paused
    SharedField<AudioTask*> audioTask = nullptr;  // non-null while a job runs
    // Read by other parts of the engine, not kept in queue.xml.
    char* userInput = nullptr;    // text the user typed for this item
    int32_t audioOffset = 0;      // ms
    ItemRunStats run;
    ItemStatSample* statSamples = nullptr;  // heap array (malloc) of the job, freed with the item
    uint32_t statSampleCount = 0;
    // Kept by the queue: linked into the list, and counted against the non-audio limit.
    bool linked = false;
    bool countedNonAudio = false;
};

// The queue's head: the head cell (never a job: its next is the first item, its input type the
// unknown row, its stream lists the default formats), the tail, the counts and the queue mutex.
// The engine's core state holds a pointer to the one head (GetQueueHead).
struct QueueHead {
    QueueHead();
    ~QueueHead();
    QueueHead(const QueueHead&) = delete;
    QueueHead& operator=(const QueueHead&) = delete;

    QueueItem cell;
    QueueItem* tail = nullptr;     // last linked item; null when empty
    int count = 0;                 // linked items
    int nonAudio = 0;              // linked items counted against the non-audio limit
    platform::RecursiveMutex mutex;
};

QueueHead& GetQueueHead();
// Gives the head cell its default formats again when they were released (engine start-up):
// audio 44100 Hz, 2 channels, 16 bits, empty codec text; video all zero with empty texts.
void QueueHeadInit();
// Frees the head cell's default formats (engine shut-down).
void QueueHeadRelease();

void QueueLock();
void QueueUnlock();

class QueueLockGuard {
public:
    QueueLockGuard() { QueueLock(); }
    ~QueueLockGuard() { QueueUnlock(); }
    QueueLockGuard(const QueueLockGuard&) = delete;
    QueueLockGuard& operator=(const QueueLockGuard&) = delete;
};

// A heap copy (malloc) of the text; null for null.
char* DupString(const char* text);
// Frees the old text and stores a copy of the new one (or null). The text may be the old one.
void SetStringField(char** field, const char* text);

// A new item for the path (may be null): flags kItemFlagInUse | kItemFlagMadeByNew, the path
// classified, target ratio 1.0, counted as in use. Not linked yet. Null only when memory runs out.
QueueItem* QueueNewItem(const char* path);
// Links the item at the end. -1 for null, for an item that is already linked (or the head cell),
// and for a non-audio item when the queue already holds kQueueNonAudioLimit of them.
int QueueAppend(QueueItem* item);
// Links the item so that it gets that index (0 = first, the item count = at the end). -1 past
// the end and as QueueAppend refuses.
int QueueInsertAt(QueueItem* item, int index);
// Unlinks the item (does not free it). Its former index, or -1 when it is not in the queue.
int QueueRemove(QueueItem* item);
// The item at the index (0 = first), or null.
QueueItem* QueueGetItem(int index);
// The first item whose source equals the path exactly; items without a source are passed over.
QueueItem* QueueFindByFile(const char* path);
// The item's index, or -1.
int QueueIndexOf(const QueueItem* item);
// The item after this one; null gives the first item.
QueueItem* QueueNext(QueueItem* item);
// Number of linked items.
int QueueCount();
// Number of items made and not yet freed (linked or not).
int QueueItemsInUse();

// A new item holding a deep copy of every field (texts, stream and segment lists); the new path
// replaces the source when given. The copy is unlinked and owns no job data: no work block, no
// audio task, no run statistics, transient flags clear. Null for null. Copies under the queue lock.
QueueItem* QueueCloneItem(const QueueItem* item, const char* newPath);
// Releases the item's job data (the release hook), frees every text, list and the work block and
// the item itself, and uncounts it. A linked item is unlinked first. Refused (-1) for an item
// whose audio task still runs and for the head cell; 0 when freed (also for null).
int QueueFreeItem(QueueItem* item);
// Frees every item and empties the list. Items whose audio task still runs stay linked (freeing
// them would pull the item from under the running job); their number is returned.
int QueueClear();

// Claims an item for a worker by a compare-and-set of kItemFlagClaimed: true for the one caller
// that set the bit.
bool QueueClaimItem(QueueItem* item);

// The job driver's release of an item's job data, called by QueueFreeItem before the item's
// fields are freed. Null: none.
using QueueJobDataRelease = void (*)(QueueItem* item);
void SetQueueJobDataRelease(QueueJobDataRelease release);
