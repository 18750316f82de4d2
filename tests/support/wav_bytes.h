// Byte-exact RIFF/WAVE images for tests: a format chunk (plain or EXTENSIBLE), any extra chunks
// in front of the data, and the sample bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sqtest {

struct WavChunk {
    std::string id;     // four characters
    std::string body;
    uint32_t sizeField = 0xFFFFFFFEu;  // the size written; this value: body.size()
};

struct WavSpec {
    uint16_t tag = 1;            // 1 PCM, 3 float; written as a sub-format with extensible
    uint16_t channels = 2;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    bool extensible = false;
    std::vector<WavChunk> before;  // chunks between the format and the data chunk
    std::string data;
    uint32_t dataSizeField = 0xFFFFFFFEu;  // this value: data.size()
};

// The little-endian bytes of a value.
std::string Le(uint64_t value, int bytes);
std::string BuildWav(const WavSpec& spec);
// Interleaved 16-bit samples, sample i of the stream having the value f(i).
std::string Pcm16Ramp(size_t samples, int start = 0);

}  // namespace sqtest
