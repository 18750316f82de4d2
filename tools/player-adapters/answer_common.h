// What the adapter's own answers share, with no library beyond the C++ one: the request's words,
// the player's WAVE header, the facts of a plain WAVE file and writing to a descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr int kAskThePlayer = -1;

bool Is(const char* a, const char* b);

// The words of a request the adapter may answer; unknown is set by any other option.
struct Request {
    bool identify = false, unknown = false, framesGiven = false, stdinInput = false;
    bool reallyQuiet = false;  // only the "ID_" lines are printed
    std::string vo, ao, af, input;
    int channels = 0;  // -channels, 0 when absent
    int aid = -1;      // -aid, -1 when absent
    bool timed = false;  // -endpos given
};
Request ParseRequest(int argc, char** argv);

// The size of a plain local file (not an address, a pipe or a device); -1 otherwise. Only such
// files are answered here, so that nothing waits on a pipe or a device (those go to the player
// and the engine's time limits).
int64_t PlainFileSize(const std::string& path);

// A plain PCM WAVE file as the player's audio reader takes it: tag 1, 16, 24 or 32 bits, 1 or 2
// channels. The data's offset and length come from the file's own chunks.
struct WaveFacts {
    int64_t dataOffset = 0, dataLength = 0;
    uint32_t avgBytes = 0, sampleRate = 0;
    int channels = 0, bits = 0;
};
bool ReadWaveFacts(const std::string& path, int64_t fileSize, WaveFacts* facts);

std::string Fixed2(double v);

// Appends the player's identify lines for a plain PCM WAVE file as its audio reader reports them;
// a really quiet request gets the "ID_" lines only.
void AppendWaveIdentify(std::string* out, const WaveFacts& facts, const std::string& input, const std::string& channels,
                        const std::string& rate, bool reallyQuiet);

// The output the request names: "pcm" with "waveheader" or "nowaveheader", "fast", and "file=" or
// "pipe=" (a descriptor, in hex after "0x" or decimal). False for anything else.
// The descriptor the decoded audio goes to: the requested file made anew (owned: the caller closes
// it), else the descriptor given. -1, after the player's message, when the file cannot be made.
int OpenAudioOut(const std::string& file, int fd, bool* owned);

bool ParseAudioOut(const std::string& ao, bool* header, std::string* file, int* fd);
// The sample depth a decode request's only filter asks for ("format=s16le" ...); 0 for any other.
int RequestedBits(const Request& r);

bool WriteAll(int fd, const void* data, size_t n);

// The player's header: a PCM format record and, while the length is unknown, the sizes it writes
// for a stream (0x7ffff000 bytes of data).
void WaveHeader(unsigned char* h, int channels, int rate, int bits, uint32_t dataBytes);

// The two requests the adapter may answer itself, by their words alone (the file decides the rest):
// the probe's identify run ("-identify ... -vo null -ao null ... -frames N") and a plain decode
// ("-vo null -ao pcm:..." with one "format=" filter and nothing timed).
bool IsIdentifyRequest(const Request& r);
bool IsDecodeRequest(const Request& r);
