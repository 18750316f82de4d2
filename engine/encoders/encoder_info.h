// The encoder record as the command-line builder and the task variables see it: the name under
// which the codecs description lists the tool, the flag bits the description sets, the output
// file extension and the built command line. The encoder classes derive from these.
#pragma once

#include <cstdint>
#include <string>

struct QueueItem;

// CEncoder::flags bits.
inline constexpr uint32_t kEncoderRawPcm = 0x1;         // the tool takes raw PCM: no WAV header is sent
inline constexpr uint32_t kEncoderCaptureOutput = 0x8;  // the tool's console output is captured
inline constexpr uint32_t kEncoderTagsOutput = 0x20;    // the tool tags its output; the engine does not

class CEncoder {
public:
    CEncoder() = default;
    virtual ~CEncoder() = default;
    CEncoder(const CEncoder&) = delete;
    CEncoder& operator=(const CEncoder&) = delete;

    virtual const char* GetName() { return name.c_str(); }
    // The output file extension for the item.
    virtual const char* GetFileExt(QueueItem* item) {
        (void)item;
        return fileExt.c_str();
    }

    uint32_t flags = 0;
    std::string name;            // option text of "overall.audio.encoder"; the tool's @name
    std::string fileExt = "out";
    std::string commandLine;     // built by Configure
};

// The encoder that runs an outside tool described in the codecs description.
class CAudioEncoder : public CEncoder {};
