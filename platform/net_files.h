// File access as the embedded web servers need it: regular files only (a FIFO or device never
// holds the server), 64-bit sizes and times, containment checks against a root folder and a
// sorted folder listing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class NetPathKind { Missing, File, Folder, Other };

// What a path names, following symbolic links.
NetPathKind NetStatPath(const char* path);

// Opens a regular file read-only (close-on-exec). With noFollow a symbolic link as the last
// component is refused. Returns the descriptor, or -1 when the path is missing, unreadable or not
// a regular file. size and mtime (seconds since 1970) are optional.
int NetOpenRegularFile(const char* path, bool noFollow, int64_t* size, int64_t* mtime);

// Opens a folder so that paths beneath it can be opened relative to it: the descriptor, or -1.
int NetOpenFolder(const char* path);
// True when the folder open as fd is still the one that path names.
bool NetFolderIs(int fd, const char* path);

// What NetOpenBeneath answers when the kernel cannot decide: it lacks the confined lookup, or the
// path passes through a symbolic link that it would not follow. The caller checks another way.
inline constexpr int kNetBeneathUndecided = -2;

// Opens a relative path beneath the folder open as folderFd in one lookup in which the kernel
// refuses every step out of that folder (".." or a symbolic link leading outside). A regular file
// gives its descriptor (read-only, close-on-exec) with size and mtime (optional); anything else
// gives -1 and *kind says what the path names (Missing, Folder or Other), or kNetBeneathUndecided.
int NetOpenBeneath(int folderFd, const char* relative, NetPathKind* kind, int64_t* size, int64_t* mtime);

// Size and modification time of an open descriptor; false when fstat fails.
bool NetFileInfo(int fd, int64_t* size, int64_t* mtime);

// read(2) that retries on EINTR: bytes read, 0 at the end, -1 on failure.
long NetReadFile(int fd, void* buffer, long size);
// Moves the file position; false on failure.
bool NetSeekFile(int fd, int64_t offset);
// Moves the file position relative to the current one; false on failure.
bool NetSeekFileBy(int fd, int64_t delta);
void NetCloseFile(int fd);

// The canonical form of an existing path (symbolic links resolved); empty when it cannot be found.
std::string NetRealPath(const std::string& path);

// True when the existing path lies inside the existing folder root once both are resolved.
bool NetPathInside(const std::string& root, const std::string& path);

struct NetDirEntry {
    std::string name;
    bool isFolder = false;
    int64_t size = 0;
    int64_t mtime = 0;
};
// The entries of a folder that can be read, "." and ".." left out, sorted by name. False when the
// folder cannot be opened.
bool NetListFolder(const std::string& folder, std::vector<NetDirEntry>* entries);

}  // namespace platform
