// Sources: the objects that turn an input (a file, a disc track, a device, an outside decoder's
// output) into PCM with a WAVE header in front of it. The audio pass makes one per input track
// with CreateAudioSource and calls, in this order: Configure, Open, SetDecodePriority,
// ReadHeader, Start, Prepare; the decode thread then calls Read until it answers -1; at the end
// Close. Read is clipped to the byte limit that Prepare sets from the task's duration.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/encoders/encoder.h"
#include "engine/encoders/wave_header.h"

struct AudioStreamInfo;

// The source classes, by the option index of "overall.audio.source".
enum SourceId : int {
    kSourceDefault = 0,
    kSourceMplayer = 1,
    kSourceMencoder = 2,
    kSourceFFmpeg = 3,
    kSourceWinamp = 4,
    kSourceAvs = 5,
    kSourceCapture = 6,
    kSourceLame = 7,
    kSourceFlac = 8,
    kSourceWavPack = 9,
    kSourceApe = 10,
    kSourceWaveFile = 11,
    kSourceMultiWave = 12,
    kSourceCdAudio = 13,
};

inline constexpr uint64_t kNoByteLimit = ~uint64_t{0};
// A decoder whose output has ended is given this long to end before its exit code is read.
inline constexpr uint32_t kDecoderExitWaitMs = 5000;

// The second root of the source tree; its one query is a constant.
class CSource {
public:
    virtual ~CSource() = default;
    virtual bool IsSourceExtension() { return false; }
};

class CAudioSource : public CEncoder, public CSource {
public:
    CAudioSource();
    ~CAudioSource() override;

    const char* GetName() override { return name.c_str(); }

    // Opens the input of the task's item. Base: true.
    virtual bool Open(AudioTask* task);
    // Releases what Open took. Base: nothing.
    virtual void Close();
    // Moves to a time; the time reached (or a class-specific value). Base: -1.
    virtual int32_t Seek(int32_t ms);
    // At most size PCM bytes: the count (0 is legal), -1 at the end or on failure.
    virtual int Read(void* buffer, int size);
    virtual bool Start() { return true; }
    // Stops a live source or its child. Base: -1.
    virtual int Stop() { return -1; }
    // Sets position and the byte limit for the task and seeks to its start.
    virtual bool Prepare(AudioTask* task);
    // The path (or quoted path list) of input track `track` (< 0: "overall.decoding.aid").
    virtual std::string GetInputPath(const QueueItem* item, int track);
    // Reads the WAVE header the input carries. Base: true (the constructed header stands).
    virtual bool ReadHeader() { return true; }
    // Feeds bytes to the child's standard input. Base: answers length.
    virtual int WriteInput(const void* bytes, int length);
    // True while the child process runs.
    virtual bool IsAlive();
    virtual bool IsVideoSource() { return false; }
    // Priority class and processors of the decoder's child process.
    virtual void SetDecodePriority();
    // Processors the decoder may use.
    virtual int GetDecoderCount();
    // Once Read has answered -1: why the decoded input is not to be trusted, "" when nothing
    // speaks against it. Base: a decoder whose output broke off (nothing for the stall limit, or
    // a read error), or whose child ended with an error code once its output had ended.
    virtual std::string DecodeFailure();

    uint64_t position = 0;           // bytes delivered (header not counted)
    uint64_t byteLimit = kNoByteLimit;
    WaveHeader header{};
    int fd = 0;                      // descriptor the base Read reads; 0: none
    bool feedInput = false;          // the input comes on the child's standard input
    uint32_t lengthMs = 0;

    // How the input ended, as Read saw it: still open (or cut at the byte limit), at the end of
    // the data, or broken off.
    enum class InputEnd : uint8_t { kOpen, kEnded, kBroken };
    InputEnd inputEnd = InputEnd::kOpen;

protected:
    // The count a read of size bytes may deliver at this position: size, or the rest up to the
    // limit rounded down to a multiple of 4; -1 at the limit.
    int ClippedCount(int size) const;
    // Raises the command-line event and starts the child; false (after Close) when it cannot start.
    bool StartChild(const std::string& line, bool announce = true);
    // The input path of track -1 between quote characters.
    std::string QuotedInput(const AudioTask* task);
};

// Makes the source of an id; null for an id outside the table.
std::unique_ptr<CAudioSource> CreateAudioSource(int id);

// The source for a task: "overall.audio.source", or with "overall.audio.autoSource" the one that
// suits the item (copyAudio: the tool reads the input itself).
int ChooseSourceId(const AudioTask* task, bool copyAudio);

// The audio stream record that input track `track` of the item uses.
const AudioStreamInfo* AudioStreamOfTrack(const QueueItem* item, int track);

// The item's source path, followed by those of the items of its join group that come right after
// it, as "a" sep "b" with the outer quotes left to the caller.
std::string JoinGroupPaths(const QueueItem* item, const char* separator);

// Processors counted among the low n bits of mask (mask 0: all n).
int CountDecoderProcessors(uint32_t mask, int processors);
