// Playlist text of any bytes: every entry comes from one line of the input, and its fields stay
// in the ranges the queue item can hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/queue/queue.h"
#include "ui/filelist/playlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const PlaylistEntry& entry : ParsePlaylist(text)) {
        if (entry.path.empty() || entry.path.size() > size) abort();
        if (entry.path.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) abort();
        const PlaylistFields& f = entry.fields;
        if (f.duration && *f.duration < 0) abort();
        if (f.flags & ~PlaylistFlagMask()) abort();
        QueueItem* item = QueueNewItem(entry.path.c_str());
        ApplyPlaylistFields(item, f);
        QueueFreeItem(item);
    }
    return 0;
}
