// The WAV / raw PCM writer: one file, one file per channel (up to six), or a pipe whose other end
// ReadOutput reads ("-").
#pragma once

#include <array>
#include <memory>

#include "engine/encoders/encoder.h"
#include "engine/encoders/wave_header.h"

class CPcm : public CAudioEncoder {
public:
    static constexpr int kMaxChannelFiles = 6;

    CPcm();
    ~CPcm() override;

    bool Configure(AudioTask*) override { return true; }
    bool Open(const char* destination, QueueItem* item, const char* commandLine) override;
    bool WriteHeader(const WaveHeader* header) override;
    int Write(const void* bytes, int length) override;
    // Sets the final sizes in the headers; for "-" ends the stream (the reader sees its end).
    void Finish() override;
    // Up to size bytes of the "-" stream; waits up to a second for some. -1 when none came.
    int ReadOutput(char* buffer, int size) override;
    void Close() override;

    // The path of channel k's file (k from 1): the destination itself for 1, else "_ch<k>" put
    // before the extension of the file name.
    static std::string ChannelPath(const std::string& destination, int channel);

private:
    void CloseFiles();

    std::array<int, kMaxChannelFiles> files_;
    std::array<std::string, kMaxChannelFiles> paths_;
    std::unique_ptr<WaveHeader> header_;
    int pipeRead_ = -1;
    bool toPipe_ = false;
    bool separate_ = false;
    bool raw_ = false;
    int channels_ = 0;         // channels dealt to files (from the PCM's header)
    int bytesPerSample_ = 0;
    uint64_t dataSize_ = 0;    // PCM bytes per file
    bool writeFailed_ = false;
};
