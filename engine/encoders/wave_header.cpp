#include "engine/encoders/wave_header.h"

#include <cstring>
#include <limits>

namespace {

void ComputeRates(WaveHeader* h) {
    // 64-bit: two 16-bit fields from a damaged header would overflow a 32-bit product.
    const int64_t align = (int64_t{h->channels} * int64_t{h->bitsPerSample}) / 8;
    h->blockAlign = static_cast<uint16_t>(align);
    h->byteRate = static_cast<uint32_t>(h->blockAlign) * h->sampleRate;
}

uint32_t RiffSizeFor(uint32_t dataSize) {
    const uint64_t riff = uint64_t{dataSize} + 36;
    return riff > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(riff);
}

}  // namespace

void InitWaveHeader(WaveHeader* h, uint32_t sampleRate, uint32_t channels, uint32_t bitsPerSample, int64_t dataSize) {
    if (!h) return;
    std::memcpy(h->riffId, "RIFF", 4);
    std::memcpy(h->waveId, "WAVE", 4);
    std::memcpy(h->fmtId, "fmt ", 4);
    std::memcpy(h->dataId, "data", 4);
    h->fmtSize = 16;
    h->formatTag = 1;
    h->channels = static_cast<uint16_t>(channels);
    h->sampleRate = sampleRate;
    h->bitsPerSample = static_cast<uint16_t>(bitsPerSample);
    ComputeRates(h);
    const bool known = dataSize >= 0 && dataSize <= std::numeric_limits<int32_t>::max();
    h->dataSize = known ? static_cast<uint32_t>(dataSize) : kWaveUnknownDataSize;
    h->riffSize = RiffSizeFor(h->dataSize);
}

void FinalizeWaveHeader(WaveHeader* h, const WaveStreamFormat* format) {
    if (!h) return;
    if (format) {
        h->bitsPerSample = static_cast<uint16_t>(format->bitsPerSample ? format->bitsPerSample : 16);
        h->sampleRate = format->sampleRate ? format->sampleRate : 44100;
        h->channels = static_cast<uint16_t>(format->channels ? format->channels : 2);
    }
    ComputeRates(h);
    h->riffSize = RiffSizeFor(h->dataSize);
}

bool ParseWaveHeader(const void* bytes, size_t length, WaveHeader* out) {
    if (!bytes || length < sizeof(WaveHeader)) return false;
    WaveHeader h;
    std::memcpy(&h, bytes, sizeof h);
    if (std::memcmp(h.riffId, "RIFF", 4) != 0 || std::memcmp(h.waveId, "WAVE", 4) != 0 ||
        std::memcmp(h.fmtId, "fmt ", 4) != 0 || std::memcmp(h.dataId, "data", 4) != 0) {
        return false;
    }
    if (h.fmtSize != 16 || h.formatTag != 1 || h.channels == 0 || h.sampleRate == 0) return false;
    if (h.bitsPerSample == 0 || h.bitsPerSample > 64) return false;
    // Block align as written here (truncated) or as whole bytes per sample frame (rounded up).
    const uint32_t bits = uint32_t{h.channels} * h.bitsPerSample;
    if (h.blockAlign == 0 || (h.blockAlign != bits / 8 && h.blockAlign != (bits + 7) / 8)) return false;
    if (out) *out = h;
    return true;
}
