// The road by which paths from the user interface reach the task queue: playlists and cue sheets
// expand into their items, any other path becomes one item. The folder watcher and dropped files
// add through it; the file list derives from it, writes its rows in the hooks and adds folders
// and subtitle pairs in its own media step.
//
// Adds may come from the UI thread and the folder watcher's thread at once: the queue has its own
// lock, and the hooks are called on the thread that adds.
#pragma once

#include <string>
#include <vector>

struct QueueItem;

class QueueAdder {
public:
    virtual ~QueueAdder() = default;

    // Adds a file: a playlist ("m3u", "m3u8", "lst") or a cue sheet is read and its entries
    // added; a folder adds nothing here; anything else becomes one item. The last item added
    // (for a playlist: its first), or null when nothing was added.
    QueueItem* AddFile(const std::string& path, const char* alias = nullptr, int track = 0, int chapter = 0);
    // Reads a playlist and appends one item per listed path; relative entries lie beside the
    // playlist. The first item added, or null. Hooks: OnRowsChanged once at the end when the file
    // was read.
    QueueItem* LoadM3U(const std::string& path);
    // Reads a cue sheet and appends one item per track, each limited to its time range and named
    // from the sheet. The last item added, or null (also for an unreadable sheet).
    QueueItem* AddCueSheet(const std::string& path, const char* alias = nullptr, int chapter = 0);

protected:
    // One media file or address as a new item appended at the end; null when the queue refuses it.
    virtual QueueItem* AddMedia(const std::string& path, const char* alias, int track, int chapter);
    // An item of a cue sheet or a single file was appended (the file list writes its row).
    virtual void OnItemAppended(QueueItem* item) { (void)item; }
    // A playlist was read: its items are in the queue (the file list rebuilds its rows).
    virtual void OnRowsChanged() {}
    // Describes a cue sheet's media file: duration and size (0, or -1 when it cannot).
    virtual int Probe(QueueItem* item);

private:
    // The lists being read, outermost first: a list that names itself or one of its readers is
    // not read again.
    using Chain = std::vector<std::string>;
    QueueItem* AddIn(const std::string& path, const char* alias, int track, int chapter, Chain& chain);
    QueueItem* LoadM3UIn(const std::string& path, Chain& chain);
    QueueItem* AddCueSheetIn(const std::string& path, const char* alias, int chapter, Chain& chain);
};

// Lists nest at most this deep (a playlist naming a playlist naming ...).
inline constexpr int kListNestingLimit = 8;
