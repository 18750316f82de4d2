// The media information reader fed with arbitrary tool output: any XML shape, any key texts,
// and the duration and bit-rate texts on their own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/queue/queue.h"
#include "engine/tools/media_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ParseMediaInfoDuration(text.c_str());
    ParseMediaInfoBitrate(text.c_str());
    QueueItem* item = QueueNewItem("/tmp/in.mkv");
    if (!item) return 0;
    ReadMediaInfoXml(text.data(), text.size(), item);
    QueueFreeItem(item);
    return 0;
}
