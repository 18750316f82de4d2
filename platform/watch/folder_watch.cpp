#include "platform/watch/folder_watch.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr uint32_t kNameEvents = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CLOSE_WRITE;
constexpr uint32_t kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF;

void AddOnce(std::vector<int>& ids, int id) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
}

}  // namespace

FolderWatch::FolderWatch()
    : inotify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

FolderWatch::~FolderWatch() {
    if (inotify_ >= 0) close(inotify_);
    if (wake_ >= 0) close(wake_);
}

bool FolderWatch::Ok() const { return inotify_ >= 0 && wake_ >= 0; }

int FolderWatch::Add(const std::string& folder) {
    if (!Ok() || folder.empty()) return -1;
    return inotify_add_watch(inotify_, folder.c_str(), kNameEvents | kSelfEvents | IN_ONLYDIR | IN_EXCL_UNLINK);
}

void FolderWatch::Remove(int id) {
    if (Ok() && id >= 0) inotify_rm_watch(inotify_, id);
}

void FolderWatch::Wake() {
    const uint64_t one = 1;
    if (wake_ >= 0) (void)!write(wake_, &one, sizeof one);
}

FolderWatch::Changes FolderWatch::Wait(int timeoutMs) {
    Changes out;
    if (!Ok()) return out;
    pollfd fds[2] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
    int ready;
    do {
        ready = poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return out;
    if (fds[1].revents & POLLIN) {
        uint64_t count = 0;
        (void)!read(wake_, &count, sizeof count);
        out.woken = true;
    }
    if (!(fds[0].revents & POLLIN)) return out;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = read(inotify_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: every folder is looked at again (-1 stands for all).
                AddOnce(out.changed, -1);
            } else if (event->mask & (kSelfEvents | IN_IGNORED | IN_UNMOUNT)) {
                // A folder moved away keeps its watch in the kernel: end it here.
                if (event->mask & IN_MOVE_SELF) inotify_rm_watch(inotify_, event->wd);
                AddOnce(out.gone, event->wd);
            } else if (event->mask & kNameEvents) {
                AddOnce(out.changed, event->wd);
            }
        }
    }
    std::erase_if(out.changed, [&](int id) { return std::find(out.gone.begin(), out.gone.end(), id) != out.gone.end(); });
    return out;
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
    std::vector<FolderEntry> out;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return out;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st{};
            isDir = stat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        out.push_back({name, isDir});
    }
    closedir(dir);
    std::sort(out.begin(), out.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return out;
}

bool FileInUse(const std::string& path) {
    struct stat target{};
    if (stat(path.c_str(), &target) != 0) return false;
    DIR* processes = opendir("/proc");
    if (!processes) return false;
    bool inUse = false;
    while (!inUse) {
        const dirent* process = readdir(processes);
        if (!process) break;
        if (process->d_name[0] < '0' || process->d_name[0] > '9') continue;
        const std::string fdFolder = std::string("/proc/") + process->d_name + "/fd";
        DIR* fds = opendir(fdFolder.c_str());
        if (!fds) continue;
        while (const dirent* fd = readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            struct stat open{};
            if (stat((fdFolder + "/" + fd->d_name).c_str(), &open) == 0 && open.st_dev == target.st_dev &&
                open.st_ino == target.st_ino) {
                inUse = true;
                break;
            }
        }
        closedir(fds);
    }
    closedir(processes);
    return inUse;
}

}  // namespace platform
