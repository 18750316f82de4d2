// The folder watcher: up to four folders, each with one or more file patterns, watched by one
// thread. A file that appears later in a watched folder and matches one of its patterns is
// reported to OnNewFile until that accepts it; files present when the watch began are not.
//
// OnNewFile runs on the watcher's thread without the watcher's lock held. It must not wait for
// the UI thread (StopWatching, called there, waits for the watcher's thread to end); the file
// list hands rows to the UI thread by posting. A class that overrides OnNewFile calls
// StopWatching in its own destructor, so the thread never calls into a half-destroyed object.
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/watch/folder_watch.h"

class QueueAdder;

class CFolderWatcher {
public:
    static constexpr int kMaxFolders = 4;
    // While a file that is still being written waits, the folder is looked at again this often
    // even without a change.
    static constexpr int kRetryMs = 1000;

    CFolderWatcher();
    virtual ~CFolderWatcher();
    CFolderWatcher(const CFolderWatcher&) = delete;
    CFolderWatcher& operator=(const CFolderWatcher&) = delete;

    // Watches the folder for the pattern ('*' and '?', without regard to case; "*.*" takes every
    // name). A folder watched already gets the pattern added. The slot index, or -1 when all
    // slots are in use or the folder cannot be watched.
    int AddWatch(const std::string& folder, const std::string& pattern);
    // Ends every watch and the thread; files seen are forgotten.
    void StopWatching();
    // Stops and watches the entries of a ';'-separated list of "folder/pattern" entries (Windows
    // '\' separators too); an entry that is a folder, or has no pattern, takes every name.
    void RestartWatch(const std::string& setting);

    int FolderCount() const;
    std::string SlotFolder(int slot) const;
    // The slot's patterns joined by '|'.
    std::string SlotPatterns(int slot) const;

protected:
    // A new file of a watched folder: true when it is handled and is not reported again, false
    // to have it reported at the folder's next change.
    virtual bool OnNewFile(const std::string& folder, const std::string& name) = 0;

private:
    struct Slot {
        std::string folder;
        std::vector<std::string> patterns;
        std::set<std::string> known;    // names seen and handled, or there before
        std::set<std::string> waiting;  // names OnNewFile refused so far
        int watchId = -1;
    };
    void WatchThread();
    // The names of the folder that match the slot's patterns and are new; forgets known names
    // that are gone, so a file made again under an old name counts as new.
    std::vector<std::string> NewNames(Slot& slot);

    mutable std::mutex mutex_;  // slots_
    std::vector<Slot> slots_;
    platform::FolderWatch watch_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
};

// What the file list does with a new file of a watched folder: a file the queue holds already is
// handled; a file some program still holds open is refused (it is tried again later); any other
// is added. True when handled.
bool AddWatchedFile(QueueAdder& adder, const std::string& folder, const std::string& name);

// A watcher that adds its new files through an adder (until the file list takes its place).
class QueueFolderWatcher : public CFolderWatcher {
public:
    explicit QueueFolderWatcher(QueueAdder& adder) : adder_(adder) {}
    ~QueueFolderWatcher() override { StopWatching(); }

protected:
    bool OnNewFile(const std::string& folder, const std::string& name) override {
        return AddWatchedFile(adder_, folder, name);
    }

private:
    QueueAdder& adder_;
};
