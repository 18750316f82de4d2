// The media probe's parser fed with arbitrary player output: every line form, any title number.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/queue/queue.h"
#include "engine/tools/media_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int title = data[0] % 4;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    QueueItem* item = QueueNewItem(title ? "dvd://2" : "/tmp/in.mkv");
    if (!item) return 0;
    ParseProbeOutput(text.c_str(), item, title);
    FinishProbe(item);
    QueueFreeItem(item);
    return 0;
}
