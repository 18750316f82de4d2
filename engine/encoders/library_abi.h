// The C entry points and objects the engine expects of the two encoder libraries it loads
// ("enc_aacplus.so", "MACDll.so"). A library built for this interface provides exactly these.
#pragma once

#include <cstdint>

// The coder object an AAC+ plug-in returns from CreateAudio3.
class AudioCoder {
public:
    virtual ~AudioCoder() = default;
    // Encodes from `in` (inAvail bytes; *inUsed gets what was taken) into `out`; the bytes of
    // output, negative on failure. With inAvail 0 after PrepareToFinish it gives what is left.
    virtual int Encode(int framePos, void* in, int inAvail, int* inUsed, void* out, int outAvail) = 0;
};

extern "C" {
using CreateAudio3Fn = AudioCoder* (*)(int channels, int rate, int bits, uint32_t sourceType, uint32_t* outputType,
                                       const char* configFile);
using GetAudioTypes3Fn = int (*)(int index, char* description);
using FinishAudio3Fn = void (*)(const char* fileName, AudioCoder* coder);
using PrepareToFinishFn = void (*)(const char* fileName, AudioCoder* coder);
}

#pragma pack(push, 1)
// The wave format record the compression library takes.
struct ApeWaveFormat {
    uint16_t formatTag;
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t avgBytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    uint16_t extraSize;
};
#pragma pack(pop)

extern "C" {
using ApeCompressHandle = void*;
using ApeCreateFn = ApeCompressHandle (*)(int* error);
using ApeDestroyFn = void (*)(ApeCompressHandle handle);
using ApeStartFn = int (*)(ApeCompressHandle handle, const char* outputFile, const ApeWaveFormat* format,
                           int maxAudioBytes, int compressionLevel, const void* headerData, int headerBytes);
using ApeAddDataFn = int (*)(ApeCompressHandle handle, unsigned char* data, int bytes);
using ApeFinishFn = int (*)(ApeCompressHandle handle, unsigned char* terminatingData, int terminatingBytes,
                            int wavTerminatingBytes);
}

// The four-character codes as little-endian numbers ('A' in the lowest byte).
constexpr uint32_t FourCC(const char (&code)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) | static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(code[3])) << 24;
}
