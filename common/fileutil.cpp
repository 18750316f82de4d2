#include "common/fileutil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/fs.h"
#include "platform/registry.h"

namespace {

// Copies text and its NUL into a caller's buffer; false (buffer emptied) when it does not fit.
bool CopyOut(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0) return false;
    if (text.size() + 1 > static_cast<size_t>(size)) {
        buffer[0] = 0;
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

bool StartsWithAny(const char* path, std::initializer_list<const char*> prefixes) {
    if (!path) return false;
    for (const char* p : prefixes)
        if (StartsWith(path, p)) return true;
    return false;
}

std::mutex g_browseMutex;
BrowseForPathHook g_browseHook;

}  // namespace

extern "C" {

int FileExist(const char* path) { return platform::FindFirstMatch(path, nullptr, nullptr) ? 1 : 0; }

int IsDirectory(const char* path) {
    bool isDir = false;
    return platform::FindFirstMatch(path, nullptr, &isDir) && isDir ? 16 : 0;
}

int GetFileBytes(const char* path) {
    platform::PathInfo info;
    if (!platform::StatPath(path, &info)) return -1;
    // A size that a 32-bit result cannot hold is reported as a failure, never as a wrapped number.
    if (info.size < 0 || info.size > INT_MAX) return -1;
    return static_cast<int>(info.size);
}

int64_t GetFileKB(const char* path) {
    platform::PathInfo info;
    if (!platform::StatPath(path, &info)) return -1;
    if (info.size <= 0) return 0;
    if (info.size < 1024) return 1;
    return info.size / 1024;
}

int RemoveFile(const char* path, int waitMs) {
    if (!path || !*path) return -1;
    if (platform::RemoveFileEntry(path)) return 0;
    platform::SleepMs(waitMs);
    return platform::RemoveFileEntry(path) ? 0 : -1;
}

int MakeDir(const char* path) {
    if (!path || !*path) return -1;
    // '/' is the only separator here: a backslash is an ordinary name character.
    std::string work(path);
    for (size_t i = 1; i < work.size(); ++i) {
        if (work[i] != '/' || work[i - 1] == '/') continue;
        const std::string prefix = work.substr(0, i);
        platform::PathInfo info;
        if (platform::StatPath(prefix.c_str(), &info)) {
            if (!info.isDir) return -1;
        } else if (!platform::CreateOneDir(prefix.c_str())) {
            return -1;
        }
    }
    return platform::CreateOneDir(work.c_str()) ? 0 : -1;
}

char* GetAppPath(char* buffer, int size) {
    const std::string folder = platform::AppFolder();
    if (folder.empty() || !CopyOut(folder, buffer, size)) return nullptr;
    return std::strrchr(buffer, '/');
}

int GetDesktopPath(char* buffer, int size) {
    const std::string folder = platform::DesktopFolder();
    if (folder.empty() || !CopyOut(folder, buffer, size)) return 0;
    return '/';
}

char* GetUserDir(void) { return nullptr; }

int IsDriveValid(int letter) {
    const bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    return isLetter ? 0 : 1;
}

int IsNetworkPath(const char* path) {
    return StartsWithAny(path, {"http://", "https://", "ftp://", "rtsp://", "mms://"}) ? 1 : 0;
}

int IsCapDevicePath(const char* path) {
    return StartsWithAny(path, {"dshow://", "dvb-t://", "dvb-s://", "dvb-c://", "mms://"}) ? 1 : 0;
}

int BrowseForPath(char* path, int pathSize, const char* title, void* owner) {
    if (!path) return 0;
    if (pathSize <= 0) pathSize = QX_BROWSE_PATH_DEFAULT_SIZE;
    BrowseForPathHook hook;
    {
        std::lock_guard lk(g_browseMutex);
        hook = g_browseHook;
    }
    if (!hook) return 0;
    const std::string start(path, strnlen(path, static_cast<size_t>(pathSize)));
    std::string chosen;
    if (!hook(start, title ? title : "", owner, chosen) || chosen.empty()) return 0;
    if (chosen.back() != '/') chosen += '/';
    if (chosen.size() + 1 > static_cast<size_t>(pathSize)) return 0;
    std::memcpy(path, chosen.c_str(), chosen.size() + 1);
    return static_cast<int>(chosen.size()) + 1;
}

int LoadTextFile(const char* path, char** buffer, int size) {
    if (!buffer) return -1;
    if (!path) {
        std::free(*buffer);
        *buffer = nullptr;
        return 0;
    }
    // Non-blocking open: a named pipe without a writer would otherwise wait forever. Only regular
    // files are read; their reads never block.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size >= INT_MAX) {
        close(fd);
        return -1;
    }
    const int needed = static_cast<int>(st.st_size) + 1;
    if (!*buffer || size < needed) {
        char* fresh = static_cast<char*>(std::malloc(static_cast<size_t>(needed)));
        if (!fresh) {
            close(fd);
            return -1;
        }
        std::free(*buffer);
        *buffer = fresh;
        size = needed;
    }
    // Never more than the buffer holds, even when the file grew since it was measured.
    int got = 0;
    while (got < size - 1) {
        ssize_t n = read(fd, *buffer + got, static_cast<size_t>(size - 1 - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<int>(n);
    }
    close(fd);
    (*buffer)[got] = 0;
    return got;
}

int SaveTextFile(const char* path, const char* text) {
    if (!path || !*path || !text) return -1;
    FILE* f = std::fopen(path, "wb");
    if (!f) return -1;
    bool ok = true;
    for (const char* p = text; *p && ok;) {
        const char* nl = std::strchr(p, '\n');
        const size_t n = nl ? static_cast<size_t>(nl - p) : std::strlen(p);
        if (n && std::fwrite(p, 1, n, f) != n) ok = false;
        if (nl && ok && std::fwrite("\r\n", 1, 2, f) != 2) ok = false;
        p += n + (nl ? 1 : 0);
    }
    if (std::fclose(f) != 0) ok = false;
    return ok ? 0 : -1;
}

int SetHandleInheritance(int* fd, int inherit) {
    if (!fd) return -1;
    return platform::SetInheritable(*fd, inherit != 0) ? 0 : -1;
}

int ReadRegKey(int root, const char* subKey, int index, void* data, int dataSize) {
    if (root < QX_HKEY_CLASSES_ROOT || root > QX_HKEY_USERS || !subKey || !data || dataSize <= 0) return -1;
    const std::string file = platform::RegistryFile();
    std::string value;
    if (file.empty() ||
        !platform::RegistryReadValue(file, static_cast<platform::RegRoot>(root), subKey, index, nullptr, &value))
        return -1;
    if (value.size() + 1 > static_cast<size_t>(dataSize)) return -1;
    std::memcpy(data, value.c_str(), value.size() + 1);
    return 0;
}

}  // extern "C"

void SetBrowseForPathHook(BrowseForPathHook hook) {
    std::lock_guard lk(g_browseMutex);
    g_browseHook = std::move(hook);
}
