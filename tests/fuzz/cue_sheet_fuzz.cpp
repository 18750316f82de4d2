// Cue sheet text of any bytes: the track count stays within the CUE limit, and every track fills
// an item whose range never runs backwards.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/queue/queue.h"
#include "ui/filelist/cue_sheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CueSheet sheet;
    sheet.path = "/m/album.cue";
    sheet.text.assign(reinterpret_cast<const char*>(data), size);
    const int n = CueSheetParse(sheet);
    if (n < 0 || n > kCueMaxTrack || sheet.tracks.size() != static_cast<size_t>(n) + 1) abort();
    for (int i = 0; i <= n + 1; ++i) {
        QueueItem* item = QueueNewItem(nullptr);
        item->duration = 3600000;
        const int result = CueSheetGetTrack(sheet, i, item);
        if ((result == 0) != (i <= n)) abort();
        if (result == 0 && i > 0) {
            if (item->end != 0 && item->end <= item->begin) abort();
            if (item->duration < 0) abort();
            if (!item->file) abort();
        }
        QueueFreeItem(item);
    }
    CueSheetFree(sheet);
    return 0;
}
