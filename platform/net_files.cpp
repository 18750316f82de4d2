#include "platform/net_files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

NetPathKind NetStatPath(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0) return NetPathKind::Missing;
    if (S_ISREG(st.st_mode)) return NetPathKind::File;
    if (S_ISDIR(st.st_mode)) return NetPathKind::Folder;
    return NetPathKind::Other;
}

int NetOpenRegularFile(const char* path, bool noFollow, int64_t* size, int64_t* mtime) {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it is refused just below.
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0);
    int fd;
    do {
        fd = open(path, flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (size) *size = static_cast<int64_t>(st.st_size);
    if (mtime) *mtime = static_cast<int64_t>(st.st_mtime);
    return fd;
}

int NetOpenFolder(const char* path) {
    int fd;
    do {
        fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool NetFolderIs(int fd, const char* path) {
    struct stat a {}, b {};
    return fstat(fd, &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int NetOpenBeneath(int folderFd, const char* relative, NetPathKind* kind, int64_t* size, int64_t* mtime) {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; reads of a regular file do not
    // heed it, so it stays set (no fcntl round trip).
    open_how how {};
    how.flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
        fd = syscall(SYS_openat2, folderFd, relative, &how, sizeof how);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        switch (errno) {
            case ENOENT:
            case ENOTDIR:
            case EACCES:
            case ENAMETOOLONG:
                *kind = NetPathKind::Missing;
                return -1;
            default:
                // EXDEV (a link leading elsewhere), ELOOP, ENOSYS, EPERM, EINVAL, ...
                return kNetBeneathUndecided;
        }
    }
    struct stat st {};
    if (fstat(static_cast<int>(fd), &st) != 0 || !S_ISREG(st.st_mode)) {
        *kind = S_ISDIR(st.st_mode) ? NetPathKind::Folder : NetPathKind::Other;
        close(static_cast<int>(fd));
        return -1;
    }
    *kind = NetPathKind::File;
    if (size) *size = static_cast<int64_t>(st.st_size);
    if (mtime) *mtime = static_cast<int64_t>(st.st_mtime);
    return static_cast<int>(fd);
}

bool NetFileInfo(int fd, int64_t* size, int64_t* mtime) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    if (size) *size = static_cast<int64_t>(st.st_size);
    if (mtime) *mtime = static_cast<int64_t>(st.st_mtime);
    return true;
}

long NetReadFile(int fd, void* buffer, long size) {
    for (;;) {
        ssize_t n = read(fd, buffer, static_cast<size_t>(size));
        if (n >= 0) return static_cast<long>(n);
        if (errno != EINTR) return -1;
    }
}

bool NetSeekFile(int fd, int64_t offset) { return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }

bool NetSeekFileBy(int fd, int64_t delta) { return lseek(fd, static_cast<off_t>(delta), SEEK_CUR) >= 0; }

void NetCloseFile(int fd) {
    if (fd >= 0) close(fd);
}

std::string NetRealPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return {};
    std::string out(resolved);
    free(resolved);
    return out;
}

bool NetPathInside(const std::string& root, const std::string& path) {
    std::string r = NetRealPath(root), p = NetRealPath(path);
    if (r.empty() || p.empty()) return false;
    if (p == r) return true;
    if (r.back() != '/') r += '/';
    return p.compare(0, r.size(), r) == 0;
}

bool NetListFolder(const std::string& folder, std::vector<NetDirEntry>* entries) {
    entries->clear();
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return false;
    std::string base = folder.empty() ? std::string("./") : folder;
    if (base.back() != '/') base += '/';
    while (dirent* de = readdir(dir)) {
        std::string name = de->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (stat((base + name).c_str(), &st) != 0) continue;
        NetDirEntry e;
        e.name = name;
        e.isFolder = S_ISDIR(st.st_mode);
        e.size = static_cast<int64_t>(st.st_size);
        e.mtime = static_cast<int64_t>(st.st_mtime);
        entries->push_back(std::move(e));
    }
    closedir(dir);
    std::sort(entries->begin(), entries->end(),
              [](const NetDirEntry& a, const NetDirEntry& b) { return a.name < b.name; });
    return true;
}

}  // namespace platform
