// A queue file of any bytes: loaded, saved and loaded again. Whatever the first load made must
// survive the round trip item for item.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/queue/queue.h"
#include "engine/queue/queuefile.h"

namespace {

std::string TempName(const char* what) {
    return "/tmp/sq-queue-fuzz-" + std::to_string(getpid()) + "-" + what + ".xml";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string input = TempName("in"), saved = TempName("saved");
    if (FILE* f = std::fopen(input.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    QueueClear();
    LoadQueueFile(input.c_str());
    const int count = QueueCount();
    if (SaveQueueFile(saved.c_str()) != count) abort();
    QueueClear();
    const int reloaded = LoadQueueFile(saved.c_str());
    if (count > 0 && reloaded != count) abort();
    QueueClear();
    std::remove(saved.c_str());
    return 0;
}
