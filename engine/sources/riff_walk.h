// Reading the head of a RIFF/WAVE stream chunk by chunk up to its "data" chunk, from a file or
// from a decoder's pipe. The format chunk may be the plain 16-byte one, a longer one, or the
// 40-byte WAVE_FORMAT_EXTENSIBLE form; the result is always the canonical 44-byte header with a
// 16-byte format chunk whose tag is 1 (integer PCM) or 3 (IEEE float), so that every reader of
// the header (encoders, the PCM writer) sees a plain description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "engine/encoders/wave_header.h"

// Reads up to n bytes into buf; returns the bytes read (fewer only at the end of the data or on
// failure).
using RiffReadFn = std::function<size_t(void* buf, size_t n)>;

// Chunks in front of "data" that are read over are bounded, so that a stream of garbage cannot
// keep the reader skipping forever.
inline constexpr uint64_t kRiffMaxHeaderBytes = 1u << 20;

struct RiffWaveInfo {
    WaveHeader header{};       // canonical: fmtSize 16, tag 1 or 3, data id and size
    uint16_t fileFormatTag = 0;  // the tag as the file holds it (0xFFFE for EXTENSIBLE)
    uint64_t dataOffset = 0;   // bytes read before the first sample (the data chunk's body)
    uint32_t dataSize = 0;     // the data chunk's size field as stored
    bool dataSizeKnown = false;  // false for the "unknown" sizes 0 and 0xFFFFFFFF
};

enum class RiffStatus {
    kOk,
    kNotRiff,     // the first 12 bytes are not "RIFF" ... "WAVE"
    kTruncated,   // the data ended inside the header chunks
    kBadFormat,   // no usable format chunk before "data" (missing, too short, or zero fields)
    kTooLong,     // the chunks in front of "data" exceed kRiffMaxHeaderBytes
};

// Reads from the start of a RIFF/WAVE stream up to the first byte of its samples. On kOk the next
// byte the reader gives is the first sample byte. Odd chunk sizes are padded to even as RIFF
// requires. In the canonical header a missing or unknown data size becomes
// kWaveUnknownDataSize, and block align and byte rate are recomputed from the format.
RiffStatus WalkRiffWave(const RiffReadFn& read, RiffWaveInfo* info);

// Builds the canonical header from a format chunk body (at least 16 bytes). False when the
// body is too short or describes no usable PCM (no channels, no rate, bits outside 1..64).
bool ParseRiffFormat(const uint8_t* body, size_t length, RiffWaveInfo* info);
