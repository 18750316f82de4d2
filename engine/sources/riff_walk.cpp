#include "engine/sources/riff_walk.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// Reads exactly n bytes; false on a short read.
bool ReadExact(const RiffReadFn& read, void* buf, size_t n, uint64_t* total) {
    size_t got = read(buf, n);
    *total += got;
    return got == n;
}

bool Skip(const RiffReadFn& read, uint64_t n, uint64_t* total) {
    uint8_t scratch[4096];
    while (n > 0) {
        size_t step = static_cast<size_t>(std::min<uint64_t>(n, sizeof scratch));
        if (!ReadExact(read, scratch, step, total)) return false;
        n -= step;
    }
    return true;
}

}  // namespace

bool ParseRiffFormat(const uint8_t* body, size_t length, RiffWaveInfo* info) {
    if (length < 16) return false;
    uint16_t tag = Le16(body);
    uint16_t channels = Le16(body + 2);
    uint32_t rate = Le32(body + 4);
    uint16_t bits = Le16(body + 14);
    info->fileFormatTag = tag;
    if (tag == kTagExtensible) {
        // The sub-format GUID begins with the plain tag it stands for.
        if (length < 40) return false;
        tag = Le16(body + 24);
    }
    if (tag != kTagPcm && tag != kTagFloat) return false;
    if (channels == 0 || rate == 0 || bits == 0 || bits > 64) return false;
    if (tag == kTagFloat && bits != 32 && bits != 64) return false;
    WaveHeader& h = info->header;
    InitWaveHeader(&h, rate, channels, bits, 0);
    h.formatTag = tag;
    uint32_t blockAlign = static_cast<uint32_t>(channels) * ((bits + 7u) / 8u);
    if (blockAlign > 0xFFFF) return false;
    h.blockAlign = static_cast<uint16_t>(blockAlign);
    h.byteRate = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{blockAlign} * rate, 0xFFFFFFFFu));
    return true;
}

RiffStatus WalkRiffWave(const RiffReadFn& read, RiffWaveInfo* info) {
    *info = RiffWaveInfo{};
    uint64_t total = 0;
    uint8_t head[12];
    if (!ReadExact(read, head, sizeof head, &total)) return total == 0 ? RiffStatus::kNotRiff : RiffStatus::kTruncated;
    if (memcmp(head, "RIFF", 4) != 0 || memcmp(head + 8, "WAVE", 4) != 0) return RiffStatus::kNotRiff;
    bool haveFormat = false;
    for (;;) {
        uint8_t chunk[8];
        if (!ReadExact(read, chunk, sizeof chunk, &total)) return RiffStatus::kTruncated;
        uint32_t size = Le32(chunk + 4);
        if (memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return RiffStatus::kBadFormat;
            info->dataOffset = total;
            info->dataSize = size;
            info->dataSizeKnown = size != 0 && size != 0xFFFFFFFFu;
            WaveHeader& h = info->header;
            h.dataSize = info->dataSizeKnown ? size : kWaveUnknownDataSize;
            h.riffSize = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{h.dataSize} + 36, 0xFFFFFFFFu));
            return RiffStatus::kOk;
        }
        uint64_t padded = uint64_t{size} + (size & 1u);
        if (total + padded > kRiffMaxHeaderBytes) return RiffStatus::kTooLong;
        if (memcmp(chunk, "fmt ", 4) == 0 && !haveFormat) {
            if (size < 16) return RiffStatus::kBadFormat;
            uint8_t body[64] = {};
            size_t keep = std::min<size_t>(size, sizeof body);
            if (!ReadExact(read, body, keep, &total)) return RiffStatus::kTruncated;
            if (!Skip(read, padded - keep, &total)) return RiffStatus::kTruncated;
            if (!ParseRiffFormat(body, keep, info)) return RiffStatus::kBadFormat;
            haveFormat = true;
            continue;
        }
        if (!Skip(read, padded, &total)) return RiffStatus::kTruncated;
    }
}
