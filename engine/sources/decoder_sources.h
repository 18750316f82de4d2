// Sources that decode through something outside the engine: the player and its encoder, ffmpeg,
// the MP3, FLAC and WavPack tools, and the APE decoder library. Each builds its command line (or
// loads the library) in Open and delivers PCM under the base clipping rules.
#pragma once

#include <cstdint>
#include <string>

#include "engine/sources/audio_source.h"
#include "platform/dynlib/dynlib.h"

// A header read from a decoder that gives nothing for this long fails, so a stalled tool ends
// in the item's error instead of holding the worker.
inline constexpr int kDecoderHeaderWaitMs = 10000;
// A read that gets no byte for this long ends the stream.
inline constexpr int kDecoderStallMs = 60000;

// Reads from a pipe until n bytes came, the writer closed it, or nothing came for timeoutMs.
// The bytes read; -1 when a read failed before any came. *ended (when given) tells whether the
// writer closed the pipe.
int ReadPipeTimed(int fd, void* buf, int n, int timeoutMs, bool* ended = nullptr);

// The player ("mplayer") and its encoder ("mencoder"), writing a WAVE stream into a pipe.
class CMplayerSource : public CAudioSource {
public:
    CMplayerSource();
    ~CMplayerSource() override;
    bool Open(AudioTask* task) override;
    void Close() override;
    int Read(void* buffer, int size) override;
    int Stop() override;
    bool ReadHeader() override;
    int WriteInput(const void* bytes, int length) override;

    int pipe = 0;  // the read end; 0 when closed

protected:
    virtual std::string BuildLine(AudioTask* task, const std::string& handle);
    virtual unsigned PipeSize() const { return 131072; }
};

class CMEncoderAudioSource : public CMplayerSource {
public:
    CMEncoderAudioSource();

protected:
    std::string BuildLine(AudioTask* task, const std::string& handle) override;
    unsigned PipeSize() const override { return 524288; }
};

class CFFmpegAudioSource : public CAudioSource {
public:
    CFFmpegAudioSource();
    ~CFFmpegAudioSource() override;
    bool Open(AudioTask* task) override;
    void Close() override;
    bool ReadHeader() override;
    int Read(void* buffer, int size) override;

    // The ffmpeg line for a task whose PCM goes to descriptor pipeFd.
    std::string BuildLine(AudioTask* task, int pipeFd);

    int targetRate = 0;
};

// The MP3, FLAC and WavPack tools, decoding to their standard output.
class CToolDecoder : public CAudioSource {
public:
    bool Open(AudioTask* task) override;
    void Close() override;
    int32_t Seek(int32_t ms) override { return ms; }
    int Read(void* buffer, int size) override;

    // The tool's line for a task.
    virtual std::string BuildLine(AudioTask* task) = 0;

protected:
    // " --skip=<samples>" for the task's start, "" without one.
    static std::string SkipOption(const AudioTask* task);
    // The header of a tool that writes raw samples, from the stream's record.
    void HeaderFromStream(const AudioTask* task, uint32_t bits);
};

class CLameDecoder : public CToolDecoder {
public:
    CLameDecoder();
    bool Open(AudioTask* task) override;
    int32_t Seek(int32_t ms) override;
    std::string BuildLine(AudioTask* task) override;
};

class CFLACDecoder : public CToolDecoder {
public:
    CFLACDecoder();
    bool ReadHeader() override;
    std::string BuildLine(AudioTask* task) override;
};

class CWavPackDecoder : public CToolDecoder {
public:
    CWavPackDecoder();
    bool Open(AudioTask* task) override;
    std::string BuildLine(AudioTask* task) override;
};

// The APE decoder library, loaded from the program's folder.
class CAPEDecoder : public CAudioSource {
public:
    CAPEDecoder();
    ~CAPEDecoder() override;
    bool Open(AudioTask* task) override;
    void Close() override;
    int32_t Seek(int32_t ms) override;
    int Read(void* buffer, int size) override;

    // Loads the library and opens the file; false (with the message) when either fails.
    bool Load(const std::string& path);
    // A field of the open file (GetInfo).
    intptr_t Info(int field);

    std::string message = "APE Decoder";
    platform::DynLib library;
    void* decompressor = nullptr;
    int blockAlign = 0;
    int64_t totalBlocks = 0;
    int64_t lengthMs = 0;

    using CreateFn = void* (*)(const char*, int*);
    using DestroyFn = void (*)(void*);
    using GetDataFn = int (*)(void*, char*, intptr_t, intptr_t*);
    using SeekFn = int (*)(void*, intptr_t);
    using GetInfoFn = intptr_t (*)(void*, int, intptr_t, intptr_t);
    CreateFn create = nullptr;
    DestroyFn destroy = nullptr;
    GetDataFn getData = nullptr;
    SeekFn seek = nullptr;
    GetInfoFn getInfo = nullptr;
    void* getId3Tag = nullptr;  // may be missing
};

// The file name of the APE decoder library in the program's folder.
inline constexpr const char* kApeLibraryName = "libMACDll.so";
