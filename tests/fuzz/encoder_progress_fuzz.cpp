// A tool's progress text of any bytes: the position it gives stays within the total, whatever
// the total, and a text of no percentage leaves the position as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/encoders/encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    // The first byte picks a total: none, small, and the largest there can be.
    const uint64_t totals[] = {0, 1, 3000, UINT64_MAX};
    EncoderProgress progress;
    progress.total = totals[data[0] % 4];
    progress.position = 7 <= progress.total ? 7 : 0;
    const uint64_t before = progress.position;
    ParseProgressText(text.c_str(), &progress);
    if (progress.position > progress.total && progress.position != before) abort();
    if (!std::strchr(text.c_str(), '%') && progress.position != before) abort();
    return 0;
}
