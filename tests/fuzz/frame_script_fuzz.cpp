// A frame-pipe script of any bytes, read by the script reader statement by statement: the source
// functions get a short WAV file made here (the seeds name it), the filters its clip; every
// failure is an error value, never a crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/avs/clip.h"

namespace {

constexpr char kWavPath[] = "/tmp/sq-script-fuzz.wav";

// 0.1 s of 16-bit stereo silence at 8 kHz.
void WriteWav() {
    const uint32_t rate = 8000, bytes = rate / 10 * 4;
    std::vector<uint8_t> wav(44 + bytes, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&wav[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&wav[at], &v, 2); };
    std::memcpy(&wav[0], "RIFF", 4);
    put32(4, 36 + bytes);
    std::memcpy(&wav[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, rate);
    put32(28, rate * 4);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(&wav[36], "data", 4);
    put32(40, bytes);
    if (FILE* f = std::fopen(kWavPath, "wb")) {
        std::fwrite(wav.data(), 1, wav.size(), f);
        std::fclose(f);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string script = [] {
        WriteWav();
        return "/tmp/sq-script-fuzz-" + std::to_string(getpid()) + ".avs";
    }();
    if (FILE* f = std::fopen(script.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    avs::RunScript(script);
    return 0;
}
