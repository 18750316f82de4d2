// Files, folders and the program's own places on this system: matching a name with '*' and '?',
// 64-bit file status, one-level folder creation, the program, data and desktop folders, and the
// inheritance flag of a file descriptor.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

struct PathInfo {
    bool isDir = false;
    int64_t size = 0;  // bytes, 64-bit
};

// Status of a path, following symbolic links; false when it cannot be read.
bool StatPath(const char* path, PathInfo* info);

// True when an entry of that name exists (a dangling symbolic link counts as existing).
bool PathExists(const char* path);

// The first match of a path whose last component may hold '*' (any run of characters) and '?'
// (one character). "." and ".." never match a wildcard. Of several matches the lowest name is
// "first", so the answer does not depend on the directory's order. A pattern ending in ".*" also
// matches names without an extension ("*.*" matches every name). Wildcards in a folder component
// match nothing. *matchIsDir tells whether the match is a folder (following links).
bool FindFirstMatch(const char* pattern, std::string* match, bool* matchIsDir);

// '*' and '?' matching of one name, case-sensitive.
bool WildcardMatch(const char* pattern, const char* name);

// Creates one folder (mode 0777 less the umask); true when it was created or already is a folder.
bool CreateOneDir(const char* path);

// Removes a file (not a folder); true when the name no longer exists afterwards.
bool RemoveFileEntry(const char* path);

void SleepMs(int ms);

// Full path of the running executable (/proc/self/exe); empty when it cannot be read.
std::string ExecutablePath();

// The program's folder with a trailing '/': the override when one is set, else the executable's
// folder. Tests point it at a fixture folder.
std::string AppFolder();
// Sets the program folder override (a trailing '/' is added when missing); empty removes it.
void SetAppFolderOverride(const std::string& folder);

// The user's home folder: $HOME, else the password database; empty when neither gives one.
std::string HomeFolder();

// The per-user data folder, without a trailing '/': "Sonquill" under $APPDATA when set, else
// under $XDG_DATA_HOME, else under ~/.local/share. Empty when no base folder can be found.
std::string DataFolder();

// The desktop folder with a trailing '/': the home folder followed by "/Desktop/"; empty when
// there is no home folder.
std::string DesktopFolder();

// Replaces the file at path with what `write` puts into the descriptor it is given, so that a
// crash or power loss at any moment leaves the old file or the new one, whole:
// - the content goes to "<path>.tmp" first, one fixed name per target, so a save cut short leaves
//   at most that one file and the next save takes it over;
// - that file is flushed to disk, renamed over path, and the folder is flushed after the rename;
// - saves of one target by several threads or programs take turns (a lock on the temporary file);
// - the new file keeps the old one's permission bits (0644 for a new file).
// False when `write` or any step fails; path is then untouched and the temporary file removed.
bool ReplaceFileDurably(const std::string& path, const std::function<bool(int fd)>& write);

// Flushes the folder holding path (the entries made or renamed in it) to disk.
bool SyncParentFolder(const std::string& path);

// Makes a descriptor inherited by child programs (close-on-exec cleared) or not (set).
// False when the descriptor is not open.
bool SetInheritable(int fd, bool inherit);

}  // namespace platform
