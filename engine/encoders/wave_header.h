// The canonical 44-byte RIFF/WAVE header: how every source describes its PCM, what a tool encoder
// receives first on its standard input, and the head of every WAV file the engine writes. The
// structure is the exact little-endian byte image; PCM always begins at byte 44.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "the header is stored as its byte image");

#pragma pack(push, 1)
struct WaveHeader {
    char riffId[4];          // "RIFF"
    uint32_t riffSize;       // dataSize + 36
    char waveId[4];          // "WAVE"
    char fmtId[4];           // "fmt "
    uint32_t fmtSize;        // 16
    uint16_t formatTag;      // 1: integer PCM
    uint16_t channels;
    uint32_t sampleRate;
    uint32_t byteRate;       // blockAlign x sampleRate
    uint16_t blockAlign;     // channels x bitsPerSample / 8
    uint16_t bitsPerSample;
    char dataId[4];          // "data"
    uint32_t dataSize;       // bytes of PCM; kWaveUnknownDataSize when the length is not known
};
#pragma pack(pop)
static_assert(sizeof(WaveHeader) == 44);

// The data size written when the length is not known (tools read such a stream to its end).
inline constexpr uint32_t kWaveUnknownDataSize = 2147479552u;

// The three format fields of a stream description that FinalizeWaveHeader reads.
struct WaveStreamFormat {
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint32_t bitsPerSample = 0;
};

// Writes all 44 bytes. A data size that is negative, or too large for a signed 32-bit value (so
// also any size of 4 GiB or more), is stored as kWaveUnknownDataSize rather than cut to a small
// wrong number; RIFF size = stored data size + 36.
void InitWaveHeader(WaveHeader* header, uint32_t sampleRate, uint32_t channels, uint32_t bitsPerSample,
                    int64_t dataSize);

// With a format: takes its bits (0 gives 16), rate (0 gives 44100) and channels (0 gives 2);
// without one keeps the header's. Then recomputes block align, byte rate and RIFF size from the
// header's data size. A data size past 0xFFFFFFFF - 36 gives RIFF size 0xFFFFFFFF instead of
// wrapping. No other field changes.
void FinalizeWaveHeader(WaveHeader* header, const WaveStreamFormat* format = nullptr);

// Reads a canonical header from the first 44 bytes. False when they are not one: wrong chunk
// ids, a format chunk that is not 16 bytes, a format other than integer PCM, no channels, no
// rate, bits outside 1..64, or a block align that disagrees with them (the byte rate is not
// checked: readers go by block align and rate).
bool ParseWaveHeader(const void* bytes, size_t length, WaveHeader* header);
