// The RIFF chunk walk fed with arbitrary bytes, read in pieces of every size the first byte
// chooses; the header it accepts must describe PCM that the readers can step through.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/sources/riff_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = data[0] % 64 + 1;
    const uint8_t* bytes = data + 1;
    const size_t length = size - 1;
    size_t at = 0;
    RiffReadFn read = [&](void* buf, size_t n) {
        size_t total = 0;
        while (total < n && at < length) {
            size_t step = n - total < piece ? n - total : piece;
            if (step > length - at) step = length - at;
            memcpy(static_cast<uint8_t*>(buf) + total, bytes + at, step);
            at += step;
            total += step;
        }
        return total;
    };
    RiffWaveInfo info;
    if (WalkRiffWave(read, &info) == RiffStatus::kOk) {
        const WaveHeader& h = info.header;
        if (h.channels == 0 || h.sampleRate == 0 || h.blockAlign == 0 || h.fmtSize != 16) abort();
        if (h.formatTag != 1 && h.formatTag != 3) abort();
        if (info.dataOffset != at || info.dataOffset > kRiffMaxHeaderBytes + 8) abort();
    }
    return 0;
}
