// Sources that read RIFF/WAVE (or raw) files directly, without a child process: one file, with
// 8-bit, 32-bit integer and float samples delivered as 16-bit, or one mono 16-bit file per
// output channel interleaved into one stream.
#pragma once

#include <string>

#include "engine/sources/audio_source.h"
#include "engine/sources/riff_walk.h"

// Where the samples of an opened WAVE (or raw) file are and how they are stored.
struct WaveFileLayout {
    uint64_t dataOffset = 0;    // file offset of the first sample
    uint64_t dataSize = 0;      // bytes of samples in the file
    uint16_t blockAlign = 4;    // bytes of one frame in the file
    uint32_t byteRate = 176400; // file bytes per second
    uint16_t sampleBytes = 2;   // bytes of one sample in the file
    bool raw = false;           // no RIFF/WAVE header: 44100 Hz stereo 16-bit from byte 0
};

// Reads the head of an open file: the canonical header and the layout. A file that is not
// RIFF/WAVE is raw 44100 Hz stereo 16-bit PCM from its first byte. False for a RIFF/WAVE file
// whose samples cannot be read (a compressed format).
bool ReadWaveFileHead(int fd, WaveHeader* header, WaveFileLayout* layout);

class CWaveFileSource : public CAudioSource {
public:
    CWaveFileSource();
    ~CWaveFileSource() override;

    bool Open(AudioTask* task) override;
    void Close() override;
    int32_t Seek(int32_t ms) override;
    int Read(void* buffer, int size) override;
    bool Prepare(AudioTask* task) override;

    bool widen8 = false;     // 8-bit samples, delivered as 16-bit
    bool float32 = false;    // 32-bit float samples, delivered as 16-bit
    bool int32 = false;      // 32-bit integer samples, delivered as 16-bit
    uint32_t dataSize = 0xFFFFFFFFu;  // the file's data chunk size; all ones when none was found

protected:
    // Delivered bytes for file bytes, and back.
    uint64_t Delivered(uint64_t fileBytes) const;
    uint64_t FileBytes(uint64_t delivered) const;

    WaveFileLayout layout_;
    uint64_t seekOffset_ = 0;  // file bytes skipped by the last seek
};

class CMultiWaveFileSource : public CWaveFileSource {
public:
    static constexpr int kMaxChannels = 6;

    CMultiWaveFileSource();
    ~CMultiWaveFileSource() override;

    bool Open(AudioTask* task) override;
    void Close() override;
    int32_t Seek(int32_t ms) override;
    int Read(void* buffer, int size) override;
    bool Prepare(AudioTask* task) override;

    // The path of the file of output channel `channel` (1-based) for an input path.
    static std::string ChannelFilePath(const std::string& input, int channel);

    int fds[kMaxChannels] = {0, 0, 0, 0, 0, 0};
    WaveHeader channelHeaders[kMaxChannels] = {};
    uint32_t channelDataSize[kMaxChannels] = {};
    int channelCount = 0;
    int sampleBytes = 2;
    std::string message;  // why Open failed

private:
    WaveFileLayout layouts_[kMaxChannels];
    uint64_t remaining_[kMaxChannels] = {};  // sample bytes left in each channel file
};
