#include "answer_common.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool ParseNumber(const char* text, long lo, long hi, long* out) {
    char* end = nullptr;
    errno = 0;
    const long v = strtol(text, &end, 10);
    if (errno || end == text || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

}  // namespace

bool Is(const char* a, const char* b) { return strcmp(a, b) == 0; }

Request ParseRequest(int argc, char** argv) {
    Request r;
    static const char* const kQuiet[] = {"-benchmark", "-nomsgcolor", "-quiet", "-noautosub", "-nosub"};
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool plain = false;
        for (const char* q : kQuiet) plain |= Is(a, q);
        long n = 0;
        if (plain) continue;
        if (Is(a, "-really-quiet")) {
            r.reallyQuiet = true;
        } else if (Is(a, "-identify")) {
            r.identify = true;
        } else if (Is(a, "-vo") && value) {
            r.vo = argv[++i];
        } else if (Is(a, "-ao") && value) {
            r.ao = argv[++i];
        } else if (Is(a, "-af") && value && r.af.empty()) {
            r.af = argv[++i];
        } else if (Is(a, "-channels") && value && ParseNumber(value, 1, 8, &n)) {
            r.channels = static_cast<int>(n);
            ++i;
        } else if (Is(a, "-aid") && value && ParseNumber(value, 0, 8191, &n)) {
            r.aid = static_cast<int>(n);
            ++i;
        } else if (Is(a, "-frames") && value && ParseNumber(value, 0, 1 << 30, &n)) {
            r.framesGiven = true;
            ++i;
        } else if (Is(a, "-endpos") && value) {
            r.timed = true;
            ++i;
        } else if (Is(a, "-")) {
            r.stdinInput = true;
        } else if (a[0] != '-' && r.input.empty()) {
            r.input = a;
        } else {
            r.unknown = true;
        }
    }
    return r;
}

int64_t PlainFileSize(const std::string& path) {
    struct stat st {};
    if (path.empty() || path.find("://") != std::string::npos || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return st.st_size;
}

bool ReadWaveFacts(const std::string& path, int64_t fileSize, WaveFacts* facts) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char head[12];
    bool ok = fread(head, 1, 12, f) == 12 && !memcmp(head, "RIFF", 4) && !memcmp(head + 8, "WAVE", 4);
    bool haveFormat = false;
    int64_t at = 12;
    while (ok) {
        unsigned char chunk[8];
        if (fseek(f, at, SEEK_SET) != 0 || fread(chunk, 1, 8, f) != 8) {
            ok = false;
            break;
        }
        const uint32_t length = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | static_cast<uint32_t>(chunk[7]) << 24;
        if (!memcmp(chunk, "fmt ", 4)) {
            unsigned char fmt[16];
            if (length < 16 || fread(fmt, 1, 16, f) != 16) {
                ok = false;
                break;
            }
            const unsigned tag = fmt[0] | fmt[1] << 8, channels = fmt[2] | fmt[3] << 8, bits = fmt[14] | fmt[15] << 8;
            facts->avgBytes = fmt[8] | fmt[9] << 8 | fmt[10] << 16 | static_cast<uint32_t>(fmt[11]) << 24;
            facts->sampleRate = fmt[4] | fmt[5] << 8 | fmt[6] << 16 | static_cast<uint32_t>(fmt[7]) << 24;
            facts->channels = static_cast<int>(channels);
            facts->bits = static_cast<int>(bits);
            ok = tag == 1 && (channels == 1 || channels == 2) && (bits == 16 || bits == 24 || bits == 32) &&
                 facts->avgBytes > 0;
            haveFormat = true;
        } else if (!memcmp(chunk, "data", 4)) {
            facts->dataOffset = at + 8;
            facts->dataLength = std::min<int64_t>(length, fileSize - facts->dataOffset);
            break;
        }
        at += 8 + length + (length & 1);
    }
    fclose(f);
    return ok && haveFormat && facts->dataOffset > 0;
}

std::string Fixed2(double v) {
    char text[64];
    snprintf(text, sizeof text, "%.2f", v);
    return text;
}

void AppendWaveIdentify(std::string* out, const WaveFacts& facts, const std::string& input, const std::string& channels,
                        const std::string& rate, bool reallyQuiet) {
    auto line = [&](const std::string& text) {
        if (!reallyQuiet) *out += text + "\n";
    };
    auto id = [&](const char* key, const std::string& value) { *out += std::string("ID_") + key + "=" + value + "\n"; };
    const std::string bitrate = std::to_string(static_cast<uint64_t>(facts.avgBytes) * 8);
    id("AUDIO_ID", "0");
    line("Audio only file format detected.");
    id("FILENAME", input);
    id("DEMUXER", "audio");
    id("AUDIO_FORMAT", "1");
    id("AUDIO_BITRATE", bitrate);
    id("AUDIO_RATE", "0");
    id("AUDIO_NCH", channels);
    id("START_TIME", "0.00");
    id("LENGTH", Fixed2(static_cast<double>(facts.dataLength) / facts.avgBytes));
    id("SEEKABLE", "1");
    id("CHAPTERS", "0");
    id("AUDIO_BITRATE", bitrate);
    id("AUDIO_RATE", rate);
    id("AUDIO_NCH", channels);
    id("AUDIO_CODEC", "pcm");
}

int OpenAudioOut(const std::string& file, int fd, bool* owned) {
    *owned = false;
    if (file.empty()) return fd;
    fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fprintf(stderr, "Can't open output file '%s'\n", file.c_str());
        return -1;
    }
    *owned = true;
    return fd;
}

bool ParseAudioOut(const std::string& ao, bool* header, std::string* file, int* fd) {
    if (ao.rfind("pcm", 0) != 0 || (ao.size() > 3 && ao[3] != ':')) return false;
    *header = true;
    size_t start = 4;
    while (start < ao.size()) {
        size_t colon = ao.find(':', start);
        const std::string part = ao.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (part == "waveheader") *header = true;
        else if (part == "nowaveheader") *header = false;
        else if (part == "fast") {
        } else if (part.rfind("file=", 0) == 0) {
            // "file=" runs to the end: a path may hold colons.
            *file = ao.substr(start + 5);
            break;
        } else if (part.rfind("pipe=", 0) == 0) {
            const std::string v = part.substr(5);
            char* end = nullptr;
            const long n = v.rfind("0x", 0) == 0 ? strtol(v.c_str() + 2, &end, 16) : strtol(v.c_str(), &end, 10);
            if (!end || *end || n < 0 || n > 65535) return false;
            *fd = static_cast<int>(n);
        } else {
            return false;
        }
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    if (file->rfind("/dev/fd/", 0) == 0) {
        char* end = nullptr;
        const long n = strtol(file->c_str() + 8, &end, 10);
        if (end && !*end && n >= 0 && n <= 65535) {
            *fd = static_cast<int>(n);
            file->clear();
        }
    }
    return !file->empty() || *fd >= 0;
}

bool WriteAll(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t put = write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put, n -= static_cast<size_t>(put);
    }
    return true;
}

namespace {

void Put16(unsigned char* at, uint32_t v) { at[0] = v & 0xFF, at[1] = (v >> 8) & 0xFF; }
void Put32(unsigned char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

void WaveHeader(unsigned char* h, int channels, int rate, int bits, uint32_t dataBytes) {
    const uint32_t align = static_cast<uint32_t>(channels * bits / 8);
    memcpy(h, "RIFF", 4);
    Put32(h + 4, dataBytes + 36);
    memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);
    Put16(h + 22, static_cast<uint32_t>(channels));
    Put32(h + 24, static_cast<uint32_t>(rate));
    Put32(h + 28, static_cast<uint32_t>(rate) * align);
    Put16(h + 32, align);
    Put16(h + 34, static_cast<uint32_t>(bits));
    memcpy(h + 36, "data", 4);
    Put32(h + 40, dataBytes);
}

int RequestedBits(const Request& r) {
    if (r.af == "format=s16le") return 16;
    if (r.af == "format=s24le") return 24;
    if (r.af == "format=s32le") return 32;
    return 0;
}

bool IsIdentifyRequest(const Request& r) {
    return r.identify && !r.unknown && !r.stdinInput && r.framesGiven && r.vo == "null" && r.ao == "null" && r.af.empty();
}

bool IsDecodeRequest(const Request& r) {
    bool header = true;
    std::string file;
    int fd = -1;
    return !r.identify && !r.unknown && !r.stdinInput && !r.framesGiven && !r.timed && r.vo == "null" &&
           RequestedBits(r) != 0 && ParseAudioOut(r.ao, &header, &file, &fd);
}
