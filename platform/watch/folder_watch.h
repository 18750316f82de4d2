// Change notifications of folders (inotify): names created, moved in or out, deleted, and files
// closed after writing, in the folder itself (not its subfolders); and the folder going away
// (removed, moved or unmounted), after which its watch has ended. One waiter serves several
// folders, and another thread can wake its wait.
#pragma once

#include <string>
#include <vector>

namespace platform {

class FolderWatch {
public:
    FolderWatch();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // False when the system gave no notification or wake-up descriptor.
    bool Ok() const;
    // Starts watching a folder; its id (>= 0), or -1 when it is missing, no folder or not
    // readable. A folder watched already gives the same id.
    int Add(const std::string& folder);
    // Ends a folder's watch.
    void Remove(int id);
    // Makes a Wait on another thread return at once (with woken set).
    void Wake();

    struct Changes {
        bool woken = false;
        std::vector<int> changed;  // folders whose names changed, each once
        std::vector<int> gone;     // folders that went away; their watch has ended
    };
    // Waits up to timeoutMs (negative: without limit) for changes or a wake.
    Changes Wait(int timeoutMs);

private:
    int inotify_ = -1;
    int wake_ = -1;  // eventfd
};

struct FolderEntry {
    std::string name;
    bool isDir = false;  // following links
};
// The entries of a folder without "." and "..", sorted by name; empty when it cannot be listed.
std::vector<FolderEntry> ListFolder(const std::string& folder);

// True when a process this one can see holds the file open (the way an exclusive open would
// fail). Processes of other users are seen only with the rights to.
bool FileInUse(const std::string& path);

}  // namespace platform
