#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

bool StatPath(const char* path, PathInfo* info) {
    if (!path || !*path) return false;
    struct stat st;
    if (stat(path, &st) != 0) return false;
    if (info) {
        info->isDir = S_ISDIR(st.st_mode);
        info->size = static_cast<int64_t>(st.st_size);
    }
    return true;
}

bool PathExists(const char* path) {
    if (!path || !*path) return false;
    struct stat st;
    return lstat(path, &st) == 0;
}

bool WildcardMatch(const char* p, const char* n) {
    // Iterative matcher with one backtrack point per '*': linear in practice, never recursive.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*n) {
        if (*p == '?' || (*p && *p != '*' && *p == *n)) {
            ++p;
            ++n;
        } else if (*p == '*') {
            star = p++;
            resume = n;
        } else if (star) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == 0;
}

namespace {

bool HasWildcard(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (s[i] == '*' || s[i] == '?') return true;
    return false;
}

bool NameMatches(const std::string& pattern, const char* name) {
    if (WildcardMatch(pattern.c_str(), name)) return true;
    // "name.*" also finds "name", as "*.*" finds names without a dot.
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 && !std::strchr(name, '.'))
        return WildcardMatch(pattern.substr(0, pattern.size() - 2).c_str(), name);
    return false;
}

}  // namespace

bool FindFirstMatch(const char* pattern, std::string* match, bool* matchIsDir) {
    if (!pattern || !*pattern) return false;
    const char* slash = std::strrchr(pattern, '/');
    const size_t dirLen = slash ? static_cast<size_t>(slash - pattern) : 0;
    const char* last = slash ? slash + 1 : pattern;
    if (HasWildcard(pattern, dirLen)) return false;

    if (!HasWildcard(last, std::strlen(last))) {
        if (!PathExists(pattern)) return false;
        PathInfo info;
        if (match) *match = pattern;
        if (matchIsDir) *matchIsDir = StatPath(pattern, &info) && info.isDir;
        return true;
    }

    std::string dir = slash ? std::string(pattern, dirLen) : std::string(".");
    if (dir.empty()) dir = "/";
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    const std::string pat(last);
    std::string best;
    bool found = false;
    while (struct dirent* e = readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        if (!NameMatches(pat, e->d_name)) continue;
        if (!found || best > e->d_name) best = e->d_name;
        found = true;
    }
    closedir(d);
    if (!found) return false;
    std::string full = slash ? std::string(pattern, dirLen + 1) + best : best;
    PathInfo info;
    if (matchIsDir) *matchIsDir = StatPath(full.c_str(), &info) && info.isDir;
    if (match) *match = std::move(full);
    return true;
}

bool CreateOneDir(const char* path) {
    if (!path || !*path) return false;
    if (mkdir(path, 0777) == 0) return true;
    PathInfo info;
    return errno == EEXIST && StatPath(path, &info) && info.isDir;
}

bool RemoveFileEntry(const char* path) {
    if (!path || !*path) return false;
    unlink(path);
    return !PathExists(path);
}

void SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string ExecutablePath() {
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

namespace {
std::mutex g_appMutex;
std::string g_appOverride;
}  // namespace

std::string AppFolder() {
    {
        std::lock_guard lk(g_appMutex);
        if (!g_appOverride.empty()) return g_appOverride;
    }
    std::string exe = ExecutablePath();
    size_t cut = exe.rfind('/');
    if (cut == std::string::npos) return {};
    return exe.substr(0, cut + 1);
}

void SetAppFolderOverride(const std::string& folder) {
    std::lock_guard lk(g_appMutex);
    g_appOverride = folder;
    if (!g_appOverride.empty() && g_appOverride.back() != '/') g_appOverride += '/';
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    struct passwd pw;
    struct passwd* result = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir)
        return result->pw_dir;
    return {};
}

std::string DataFolder() {
    std::string base;
    if (const char* v = std::getenv("APPDATA"); v && *v) {
        base = v;
    } else if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) {
        base = x;
    } else {
        std::string home = HomeFolder();
        if (home.empty()) return {};
        base = home + "/.local/share";
    }
    if (base.back() != '/') base += '/';
    return base + "Sonquill";
}

std::string DesktopFolder() {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    if (home.back() == '/') home.pop_back();
    return home + "/Desktop/";
}

namespace {

// Opens and locks "<path>.tmp". A save that held the lock before may have renamed the file away
// meanwhile: the lock is then on the target itself, so the name is opened again. The name is only
// ever a plain file of ours: a link found there (another name for some other file) is removed
// rather than written through.
int OpenLockedTemp(const std::string& tmp) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno != ELOOP || unlink(tmp.c_str()) != 0) return -1;
            continue;
        }
        int rc;
        do {
            rc = flock(fd, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        struct stat held {}, named {};
        const bool same = rc == 0 && fstat(fd, &held) == 0 && lstat(tmp.c_str(), &named) == 0 &&
                          held.st_dev == named.st_dev && held.st_ino == named.st_ino;
        if (same && S_ISREG(held.st_mode) && held.st_nlink == 1) return fd;
        if (same) unlink(tmp.c_str());
        close(fd);
        if (rc != 0) return -1;
    }
    return -1;
}

}  // namespace

bool SyncParentFolder(const std::string& path) {
    const size_t cut = path.rfind('/');
    const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    // Some file systems cannot flush a folder; their renames are as durable as they get.
    const bool ok = fsync(fd) == 0 || errno == EINVAL;
    close(fd);
    return ok;
}

bool ReplaceFileDurably(const std::string& path, const std::function<bool(int fd)>& write) {
    if (path.empty() || !write) return false;
    const std::string tmp = path + ".tmp";
    const int fd = OpenLockedTemp(tmp);
    if (fd < 0) return false;
    struct stat old {};
    const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = ftruncate(fd, 0) == 0 && fchmod(fd, mode) == 0 && write(fd) && fsync(fd) == 0 &&
              std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(tmp.c_str());
    close(fd);  // ends the lock: the next save finds the name free or its own new file
    return ok && SyncParentFolder(path);
}

bool SetInheritable(int fd, bool inherit) {
    int flags = fcntl(fd, F_GETFD);
    if (flags < 0) return false;
    flags = inherit ? (flags & ~FD_CLOEXEC) : (flags | FD_CLOEXEC);
    return fcntl(fd, F_SETFD, flags) == 0;
}

}  // namespace platform
