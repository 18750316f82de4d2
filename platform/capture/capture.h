// Sound capture endpoints of this machine: ALSA capture devices (each card's capture devices and
// the PCMs defined in the ALSA configuration) and, when a PulseAudio server answers, its sources.
// A stream delivers interleaved PCM a period at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform::capture {

struct Endpoint {
    std::string description;  // what the user sees
    std::string id;           // "alsa:<pcm name>" or "pulse:<source name>"
};

struct Format {
    uint32_t channels = 2;
    uint32_t rate = 44100;
    uint32_t bits = 16;
    bool isFloat = false;  // 32-bit float samples
};

enum class ReadResult { kData, kTimeout, kFailed };

class Stream {
public:
    virtual ~Stream() = default;
    // Fills exactly `bytes` bytes, waiting at most timeoutMs for the first of them; kFailed when
    // the device went away or broke.
    virtual ReadResult Read(void* buffer, size_t bytes, int timeoutMs) = 0;
    // The format the device delivers (the one asked for where the device converts).
    virtual Format GetFormat() const = 0;
};

// The endpoints of the machine, in the order found.
std::vector<Endpoint> ListEndpoints();
// Opens an endpoint for capture; null (with the reason in *error when given) when it cannot.
std::unique_ptr<Stream> OpenStream(const std::string& id, const Format& wanted, std::string* error);

}  // namespace platform::capture
