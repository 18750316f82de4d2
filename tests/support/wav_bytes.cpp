#include "support/wav_bytes.h"

namespace sqtest {

std::string Le(uint64_t value, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((value >> (8 * i)) & 0xFF);
    return s;
}

namespace {
std::string Chunk(const std::string& id, const std::string& body, uint32_t sizeField) {
    uint32_t size = sizeField == 0xFFFFFFFEu ? static_cast<uint32_t>(body.size()) : sizeField;
    std::string s = id + Le(size, 4) + body;
    if (body.size() & 1) s += '\0';
    return s;
}
}  // namespace

std::string BuildWav(const WavSpec& w) {
    uint16_t align = static_cast<uint16_t>(w.channels * ((w.bits + 7) / 8));
    std::string fmt = Le(w.extensible ? 0xFFFE : w.tag, 2) + Le(w.channels, 2) + Le(w.rate, 4) +
                      Le(uint64_t{align} * w.rate, 4) + Le(align, 2) + Le(w.bits, 2);
    if (w.extensible) {
        fmt += Le(22, 2) + Le(w.bits, 2) + Le(0, 4) + Le(w.tag, 2) +
               std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    std::string body = "WAVE" + Chunk("fmt ", fmt, 0xFFFFFFFEu);
    for (const auto& c : w.before) body += Chunk(c.id, c.body, c.sizeField);
    body += Chunk("data", w.data, w.dataSizeField);
    return "RIFF" + Le(body.size(), 4) + body;
}

std::string Pcm16Ramp(size_t samples, int start) {
    std::string s;
    s.reserve(samples * 2);
    for (size_t i = 0; i < samples; ++i) s += Le(static_cast<uint16_t>(start + static_cast<int>(i)), 2);
    return s;
}

}  // namespace sqtest
