// File and path helpers exported by qxcommon. Paths are '/'-separated texts; there are no drive
// letters on this system. Results: 0 on success and -1 on failure unless a function says otherwise.
#pragma once

#include <stdint.h>

#include "common/helpers_export.h"

// Buffer size a folder browser result is bounded by when the caller gives none (the classic
// 260-byte path buffer).
#define QX_BROWSE_PATH_DEFAULT_SIZE 260

#ifdef __cplusplus
extern "C" {
#endif

// 1 when the path (its last component may hold '*' and '?') names something, else 0.
QXHELPER_API int FileExist(const char* path);
// 16 when the first match of the path is a folder, else 0 (also when nothing matches).
QXHELPER_API int IsDirectory(const char* path);
// The size in bytes; -1 when the file cannot be read or its size does not fit in 31 bits.
QXHELPER_API int GetFileBytes(const char* path);
// The size in KiB: 0 for an empty file, 1 for 1 to 1023 bytes, else bytes / 1024; -1 on failure.
QXHELPER_API int64_t GetFileKB(const char* path);
// Deletes the file; when it still exists, waits waitMs and deletes again. 0 when it is gone.
QXHELPER_API int RemoveFile(const char* path, int waitMs);
// Creates every missing level of the folder path. 0 when the folder exists afterwards.
QXHELPER_API int MakeDir(const char* path);
// Writes the program's folder with a trailing '/' into the buffer and returns a pointer to that
// '/'; null (and an empty buffer when size > 0) when it cannot be found or does not fit.
QXHELPER_API char* GetAppPath(char* buffer, int size);
// Writes the desktop folder ("$HOME/Desktop/") into the buffer; returns '/' (the separator's
// code) on success, 0 when there is no home folder or the buffer is too small.
QXHELPER_API int GetDesktopPath(char* buffer, int size);
// No user folder is determined: always null.
QXHELPER_API char* GetUserDir(void);
// For a letter 'A'-'Z' or 'a'-'z': 1 when that drive exists, which it never does here, so 0.
// Any other character: 1.
QXHELPER_API int IsDriveValid(int letter);
// 1 when the path begins with "http://", "https://", "ftp://", "rtsp://" or "mms://"
// (case-sensitive); 0 otherwise and for null.
QXHELPER_API int IsNetworkPath(const char* path);
// 1 when the path begins with "dshow://", "dvb-t://", "dvb-s://", "dvb-c://" or "mms://"; else 0.
QXHELPER_API int IsCapDevicePath(const char* path);
// Asks the user for a folder, starting at the text in `path`. On success writes the folder with a
// trailing '/' into `path` and returns its length + 1; 0 when cancelled, when no folder browser
// is installed, or when the result does not fit. `pathSize` bounds the buffer; 0 or less means
// QX_BROWSE_PATH_DEFAULT_SIZE.
QXHELPER_API int BrowseForPath(char* path, int pathSize, const char* title, void* owner);
// Reads the whole file into *buffer and NUL-terminates it. When `size` is below the file size + 1,
// the buffer is freed and replaced by a malloc'd one of file size + 1 bytes. Returns the bytes
// read, -1 when the file cannot be opened or is not a regular file. With a null path: frees *buffer, sets it to null and
// returns 0. *buffer must be null or a malloc'd block.
QXHELPER_API int LoadTextFile(const char* path, char** buffer, int size);
// Writes the text to the file, replacing it, each line feed written as carriage return and line
// feed. -1 when the file cannot be created or written.
QXHELPER_API int SaveTextFile(const char* path, const char* text);
// Sets whether the descriptor *fd is inherited by child programs (close-on-exec cleared or set).
// The descriptor keeps its number. 0, or -1 when it is not open.
QXHELPER_API int SetHandleInheritance(int* fd, int inherit);

// Registry roots for ReadRegKey.
#define QX_HKEY_CLASSES_ROOT 0
#define QX_HKEY_CURRENT_USER 1
#define QX_HKEY_LOCAL_MACHINE 2
#define QX_HKEY_USERS 3
// Copies the data of the value at `index` of the key into `data` with a terminating NUL (the
// value's name is not returned). -1 when the key or value does not exist or the data and its NUL
// do not fit in dataSize bytes.
QXHELPER_API int ReadRegKey(int root, const char* subKey, int index, void* data, int dataSize);

#ifdef __cplusplus
}  // extern "C"

#include <functional>
#include <string>

// The folder browser of the user interface: given the start folder, title and owner window, puts
// the chosen folder in `chosen` and returns true, or returns false when the user cancels.
using BrowseForPathHook =
    std::function<bool(const std::string& start, const char* title, void* owner, std::string& chosen)>;
// Installs the folder browser (an empty hook removes it: BrowseForPath then answers "cancelled").
QXHELPER_API void SetBrowseForPathHook(BrowseForPathHook hook);
#endif
