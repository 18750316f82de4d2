#include "ui/filelist/folder_watcher.h"

#include <algorithm>
#include <cctype>

#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "ui/filelist/queue_adder.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A name matches a pattern without regard to case; a pattern ending in ".*" also takes names
// without an extension, so "*.*" takes every name.
bool Matches(const std::string& pattern, const std::string& name) {
    const std::string p = Lower(pattern), n = Lower(name);
    if (platform::WildcardMatch(p.c_str(), n.c_str())) return true;
    return p.size() >= 2 && p.compare(p.size() - 2, 2, ".*") == 0 &&
           platform::WildcardMatch(p.substr(0, p.size() - 2).c_str(), n.c_str());
}

std::string WithoutTrailingSlash(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace

CFolderWatcher::CFolderWatcher() = default;

CFolderWatcher::~CFolderWatcher() { StopWatching(); }

int CFolderWatcher::AddWatch(const std::string& folderIn, const std::string& pattern) {
    const std::string folder = WithoutTrailingSlash(folderIn);
    if (folder.empty() || pattern.empty()) return -1;
    std::unique_lock lock(mutex_);
    for (size_t i = 0; i < slots_.size(); ++i) {
        Slot& slot = slots_[i];
        if (slot.folder != folder) continue;
        if (std::find(slot.patterns.begin(), slot.patterns.end(), pattern) == slot.patterns.end()) {
            // Files there now that the added pattern takes are no newer than those of the others.
            for (const auto& entry : platform::ListFolder(folder))
                if (Matches(pattern, entry.name)) slot.known.insert(entry.name);
            slot.patterns.push_back(pattern);
        }
        return static_cast<int>(i);
    }
    if (static_cast<int>(slots_.size()) >= kMaxFolders) return -1;
    const int id = watch_.Add(folder);
    if (id < 0) return -1;
    Slot slot;
    slot.folder = folder;
    slot.patterns.push_back(pattern);
    slot.watchId = id;
    for (const auto& entry : platform::ListFolder(folder))
        if (Matches(pattern, entry.name)) slot.known.insert(entry.name);
    slots_.push_back(std::move(slot));
    if (!thread_.joinable()) {
        stopping_ = false;
        thread_ = std::thread([this] { WatchThread(); });
    }
    return static_cast<int>(slots_.size()) - 1;
}

void CFolderWatcher::StopWatching() {
    stopping_ = true;
    watch_.Wake();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    for (const Slot& slot : slots_) watch_.Remove(slot.watchId);
    slots_.clear();
}

void CFolderWatcher::RestartWatch(const std::string& setting) {
    StopWatching();
    size_t at = 0;
    while (at <= setting.size()) {
        size_t end = setting.find(';', at);
        if (end == std::string::npos) end = setting.size();
        const std::string entry = setting.substr(at, end - at);
        at = end + 1;
        if (entry.empty()) continue;
        const size_t sep = entry.find_last_of("/\\");
        platform::PathInfo info;
        const bool folder = platform::StatPath(entry.c_str(), &info) && info.isDir;
        if (folder || sep == std::string::npos) {
            AddWatch(entry, "*.*");
        } else if (sep + 1 == entry.size()) {
            AddWatch(entry.substr(0, sep), "*.*");
        } else {
            AddWatch(sep == 0 ? "/" : entry.substr(0, sep), entry.substr(sep + 1));
        }
    }
}

int CFolderWatcher::FolderCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(slots_.size());
}

std::string CFolderWatcher::SlotFolder(int slot) const {
    std::lock_guard lock(mutex_);
    return slot >= 0 && static_cast<size_t>(slot) < slots_.size() ? slots_[slot].folder : std::string{};
}

std::string CFolderWatcher::SlotPatterns(int slot) const {
    std::lock_guard lock(mutex_);
    if (slot < 0 || static_cast<size_t>(slot) >= slots_.size()) return {};
    std::string out;
    for (const std::string& p : slots_[slot].patterns) out += (out.empty() ? "" : "|") + p;
    return out;
}

std::vector<std::string> CFolderWatcher::NewNames(Slot& slot) {
    std::vector<std::string> out;
    std::set<std::string> present;
    for (const auto& entry : platform::ListFolder(slot.folder)) {
        bool wanted = false;
        for (const std::string& p : slot.patterns) wanted = wanted || Matches(p, entry.name);
        if (!wanted) continue;
        present.insert(entry.name);
        if (slot.known.count(entry.name)) continue;
        if (entry.isDir) {
            slot.known.insert(entry.name);  // a folder is no file to add
            continue;
        }
        out.push_back(entry.name);
    }
    std::erase_if(slot.known, [&](const std::string& name) { return !present.count(name); });
    std::erase_if(slot.waiting, [&](const std::string& name) { return !present.count(name); });
    return out;
}

void CFolderWatcher::WatchThread() {
    for (;;) {
        bool anyWaiting = false;
        {
            std::lock_guard lock(mutex_);
            for (const Slot& slot : slots_) anyWaiting = anyWaiting || !slot.waiting.empty();
        }
        const auto changes = watch_.Wait(anyWaiting ? kRetryMs : -1);
        if (stopping_) return;

        struct Found {
            std::string folder;
            std::vector<std::string> names;
        };
        std::vector<Found> found;
        {
            std::lock_guard lock(mutex_);
            // A folder removed or moved away ends its watch; its slot is free again.
            std::erase_if(slots_, [&](const Slot& slot) {
                return std::find(changes.gone.begin(), changes.gone.end(), slot.watchId) != changes.gone.end();
            });
            const bool all = std::find(changes.changed.begin(), changes.changed.end(), -1) != changes.changed.end();
            const bool retry = !changes.woken && changes.changed.empty() && changes.gone.empty();
            for (Slot& slot : slots_) {
                const bool changed = all || std::find(changes.changed.begin(), changes.changed.end(), slot.watchId) !=
                                                changes.changed.end();
                if (changed || (retry && !slot.waiting.empty())) found.push_back({slot.folder, NewNames(slot)});
            }
        }
        for (const Found& f : found) {
            for (const std::string& name : f.names) {
                if (stopping_) return;
                const bool handled = OnNewFile(f.folder, name);
                std::lock_guard lock(mutex_);
                for (Slot& slot : slots_) {
                    if (slot.folder != f.folder) continue;
                    if (handled) {
                        slot.known.insert(name);
                        slot.waiting.erase(name);
                    } else {
                        slot.waiting.insert(name);
                    }
                }
            }
        }
    }
}

bool AddWatchedFile(QueueAdder& adder, const std::string& folder, const std::string& name) {
    const std::string path = folder == "/" ? "/" + name : folder + "/" + name;
    if (QueueFindByFile(path.c_str())) return true;
    if (platform::FileInUse(path)) return false;
    adder.AddFile(path);
    platform::SleepMs(10);
    return true;
}
