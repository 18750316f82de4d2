// The queue route's folder walk: a folder's media files become queue items.
#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "engine/prefs/prefstore.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "remote/handlers/control_handlers.h"

namespace {

constexpr int kMaxDepth = 32;

std::mutex g_walkMutex;  // one walk at a time

struct WalkRules {
    std::vector<std::string> extensions;  // accepted, compared without regard to case
    std::string wildcard;
};

bool Accepted(const WalkRules& rules, const std::string& name) {
    if (!platform::WildcardMatch(rules.wildcard.c_str(), name.c_str())) return false;
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    if (rules.extensions.empty()) return true;
    const char* ext = name.c_str() + dot + 1;
    return std::any_of(rules.extensions.begin(), rules.extensions.end(),
                       [&](const std::string& e) { return strcasecmp(e.c_str(), ext) == 0; });
}

int AddFolder(const WalkRules& rules, const std::string& folder, int depth) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
    std::sort(entries.begin(), entries.end());
    int added = 0;
    for (const fs::directory_entry& entry : entries) {
        const std::string name = entry.path().filename().string();
        const std::string path = folder + "/" + name;
        std::error_code e;
        // A folder reached through a link is not entered: a link to a parent would never end.
        if (entry.is_directory(e) && !entry.is_symlink(e)) {
            if (depth != 0) added += AddFolder(rules, path, depth - 1);
            continue;
        }
        if (!entry.is_regular_file(e) || !Accepted(rules, name)) continue;
        QueueItem* item = QueueNewItem(path.c_str());
        if (!item) continue;
        if (QueueAppend(item) < 0) QueueFreeItem(item);
        else ++added;
    }
    return added;
}

}  // namespace

int QueueAddPath(const char* folderText, bool recursive) {
    if (!folderText || !*folderText) return 0;
    std::string folder = folderText;
    const char sep = (folder.find("://") != std::string::npos || folder.find('\\') != std::string::npos) ? '\\' : '/';
    if (folder.size() > 1 && folder.back() == sep) folder.pop_back();

    WalkRules rules;
    PrefStore& prefs = GetPrefStore();
    const std::string types = prefs.GetString("overall.generic.fileTypes");
    for (size_t start = 0; start < types.size();) {
        size_t semi = types.find(';', start);
        std::string ext = types.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        if (!ext.empty()) rules.extensions.push_back(ext);
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    const char* wildcard = prefs.GetString("overall.generic.wildcard");
    rules.wildcard = std::string(*wildcard ? wildcard : "*");

    std::lock_guard lock(g_walkMutex);
    return AddFolder(rules, folder, recursive ? kMaxDepth : 0);
}
