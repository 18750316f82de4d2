#include "ui/filelist/queue_adder.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <cstring>
#include <map>
#include <system_error>

#include "common/fileutil.h"
#include "engine/engine_api.h"
#include "engine/queue/queue.h"
#include "platform/fs.h"
#include "ui/filelist/cue_sheet.h"
#include "ui/filelist/list_text.h"
#include "ui/filelist/playlist.h"

namespace {

enum class ListKind { kNone, kPlaylist, kCueSheet };

std::string LowerExtension(const std::string& path) {
    const size_t name = path.find_last_of('/') + 1;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < name) return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

ListKind KindOf(const std::string& path) {
    if (path.find("://") != std::string::npos) return ListKind::kNone;
    const uint32_t type = ClassifyInput(path.c_str())->typeId;
    if (type == 34 || type == 35 || LowerExtension(path) == "m3u8") return ListKind::kPlaylist;
    if (type == 33) return ListKind::kCueSheet;
    return ListKind::kNone;
}

// The list's identity for the nesting guard: its canonical path when it exists.
std::string Identity(const std::string& path) {
    std::error_code error;
    const auto canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path : canonical.string();
}

// Enters a list into the chain; false when it is being read already or the chain is full.
bool Enter(std::vector<std::string>& chain, const std::string& path) {
    const std::string id = Identity(path);
    if (static_cast<int>(chain.size()) >= kListNestingLimit) return false;
    if (std::find(chain.begin(), chain.end(), id) != chain.end()) return false;
    chain.push_back(id);
    return true;
}

// A size in KB that the item can hold: unknown (0) for missing files and addresses.
uint32_t KnownKB(const char* path) {
    if (!path || IsNetworkPath(path) || std::strstr(path, "://")) return 0;
    const int64_t kb = GetFileKB(path);
    return kb > 0 && kb <= UINT32_MAX ? static_cast<uint32_t>(kb) : 0;
}

}  // namespace

int QueueAdder::Probe(QueueItem* item) { return ProbeItem(item, 0); }

QueueItem* QueueAdder::AddFile(const std::string& path, const char* alias, int track, int chapter) {
    Chain chain;
    return AddIn(path, alias, track, chapter, chain);
}

QueueItem* QueueAdder::LoadM3U(const std::string& path) {
    Chain chain;
    return LoadM3UIn(path, chain);
}

QueueItem* QueueAdder::AddCueSheet(const std::string& path, const char* alias, int chapter) {
    Chain chain;
    return AddCueSheetIn(path, alias, chapter, chain);
}

QueueItem* QueueAdder::AddIn(const std::string& path, const char* alias, int track, int chapter, Chain& chain) {
    if (path.empty()) return nullptr;
    platform::PathInfo info;
    if (platform::StatPath(path.c_str(), &info) && info.isDir) return nullptr;
    switch (KindOf(path)) {
    case ListKind::kPlaylist: return LoadM3UIn(path, chain);
    case ListKind::kCueSheet: return AddCueSheetIn(path, alias, chapter, chain);
    case ListKind::kNone: break;
    }
    return AddMedia(path, alias, track, chapter);
}

QueueItem* QueueAdder::AddMedia(const std::string& path, const char* alias, int track, int chapter) {
    QueueItem* item = QueueNewItem(path.c_str());
    if (!item) return nullptr;
    SetStringField(&item->alias, alias);
    item->track = static_cast<uint16_t>(std::clamp(track, 0, 65535));
    item->chapter = static_cast<uint16_t>(std::clamp(chapter, 0, 65535));
    if (QueueAppend(item) != 0) {
        QueueFreeItem(item);
        return nullptr;
    }
    OnItemAppended(item);
    return item;
}

QueueItem* QueueAdder::LoadM3UIn(const std::string& path, Chain& chain) {
    std::string text;
    if (!filelist::ReadTextHead(path, kPlaylistMaxBytes, &text) || text.empty()) return nullptr;
    if (!Enter(chain, path)) return nullptr;
    QueueItem* first = nullptr;
    for (const PlaylistEntry& entry : ParsePlaylist(text)) {
        if (entry.path.size() > kPlaylistMaxPath) continue;
        const std::string target = filelist::ResolveListEntry(path, entry.path);
        // A list inside the list is read in its place; the list itself and those reading it are not.
        if (KindOf(target) != ListKind::kNone) {
            QueueItem* added = AddIn(target, nullptr, 0, 0, chain);
            if (!first) first = added;
            continue;
        }
        QueueItem* item = QueueNewItem(target.c_str());
        if (!item) break;
        ApplyPlaylistFields(item, entry.fields);
        if (item->size < 1) item->size = KnownKB(item->file);
        if (QueueAppend(item) != 0) {
            QueueFreeItem(item);
            continue;
        }
        if (!first) first = item;
    }
    chain.pop_back();
    OnRowsChanged();
    return first;
}

QueueItem* QueueAdder::AddCueSheetIn(const std::string& path, const char* alias, int chapter, Chain& chain) {
    CueSheet sheet;
    if (CueSheetLoad(sheet, path.c_str()) <= 0) return nullptr;
    if (!Enter(chain, path)) return nullptr;

    // One described template per media file; a file that is not there is looked for under the
    // sheet's own name with the FILE entry's extension.
    std::map<std::string, QueueItem*> templates;
    auto templateFor = [&](const std::string& named) -> QueueItem* {
        auto found = templates.find(named);
        if (found != templates.end()) return found->second;
        std::string media = named;
        if (!platform::PathExists(media.c_str())) {
            const size_t nameAt = path.find_last_of('/') + 1;
            const size_t dot = path.rfind('.');
            const std::string base = dot != std::string::npos && dot >= nameAt ? path.substr(0, dot) : path;
            const std::string ext = LowerExtension(named).empty() ? "" : named.substr(named.rfind('.'));
            media = base + ext;
        }
        QueueItem* item = QueueNewItem(media.c_str());
        if (item) Probe(item);
        templates[named] = item;
        return item;
    };

    std::string firstFile;
    for (const CueTrack& track : sheet.tracks)
        if (!track.file.empty()) {
            firstFile = track.file;
            break;
        }
    if (firstFile.empty()) firstFile = sheet.path;

    QueueItem* last = nullptr;
    const int n = sheet.status;
    for (int i = 1; i <= n; ++i) {
        const CueTrack& track = sheet.tracks[i];
        QueueItem* model = templateFor(track.file.empty() ? firstFile : track.file);
        QueueItem* item = model ? QueueCloneItem(model, nullptr) : nullptr;
        if (!item) break;
        const int32_t mediaMs = model->duration;
        CueSheetGetTrack(sheet, i, item);
        if (mediaMs > 0) {
            const int64_t end = item->end < 1 ? mediaMs : item->end;
            const int64_t span = std::max<int64_t>(end - static_cast<int64_t>(item->begin), 0);
            item->size = static_cast<uint32_t>(span * model->size / mediaMs);
        }
        SetStringField(&item->discRoot, path.c_str());
        SetStringField(&item->alias, alias);
        item->chapter = static_cast<uint16_t>(std::clamp(chapter, 0, 65535));
        if (QueueAppend(item) != 0) {
            QueueFreeItem(item);
            continue;
        }
        OnItemAppended(item);
        last = item;
    }
    for (auto& [name, item] : templates) QueueFreeItem(item);
    chain.pop_back();
    return last;
}
